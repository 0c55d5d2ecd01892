#pragma once
// The atom: the one value type of the language and, at the same time, the
// node of the variable tree. Numbers, words, list cells, expression cells,
// wrapped GUI or library objects, variables and raw memory blocks are atoms.
//
// Atoms come from the pool held by the interpreter state (TStructure) and are
// never freed one by one: the collector returns unreachable atoms to the free
// chain, from which NewAtom reuses them. Every atom sits on exactly one of the
// three chains (live, free, kept) from its creation until the state is
// destroyed, and keeps the 32-bit identity it got at creation for good.
//
// Operations that may raise a language error, consult the keyword table or
// the case rule take the interpreter state as their first argument.

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/AtomText.h"

class TAtom;
class TStructure;
struct TPosition;
struct TFastCode;
struct TChildIndex;
class TPositionStore;

enum AtomKind : uint8_t {
  akNumber = 0,
  akWord = 1,
  akList = 2,         // Left: the element, Right: the next cell
  akExpression = 3,   // a parenthesised run, shaped like a list cell
  akWinObject = 4,    // Object: a WrappedObject, Finalizer: its finaliser
  akVariable = 5,     // Text: the name, Left: the value, with the tree links
  akMemoryBlock = 6,  // Object: the bytes, Number: their count, Finalizer
};

enum AtomFlags : uint32_t {
  afQuoted = 0x1,
  afPlanned = 0x2,
  afActive = 0x4,
  afFrame = 0x8,
  afSilent = 0x10,
  afMarked = 0x20,
  afSkip = 0x40,
  afExpanded = 0x100,
  afLocked = 0x1000,
  afDefinition = 0x2000,
  afHistory = 0x4000,
  afDependent = 0x8000,
  afDrawable = 0x10000,
  afNotDrawn = 0x20000,
  afNamespace = 0x40000,
  afPassResult = 0x80000,
};

// Marks the system keeps on an atom where the state they answer changes, so
// hot paths test a bit instead of searching (never set by programs).
enum AtomMarks : uint8_t {
  amDisplayList = 0x1,  // the atom owns a display list (kept by the graphics module)
  // A child named by the onbeforemake or onaftermake keyword was linked
  // under the atom since an assignment last found none there (set where
  // children are linked or renamed; cleared by that assignment).
  amMakeHandlerChild = 0x2,
  // The atom is its parent's cached onchange child (cleared when the parent
  // lets go of it; may outlast a replaced cache entry).
  amChangeHandler = 0x4,
  // The atom has a cached ondrawimage or onchange child (cleared when both
  // caches are empty again).
  amHandlerChildren = 0x8,
  // A word whose text reads as a number, which Number holds (a word's text
  // never changes, so it is parsed once; see ValueNumber in LogoLib.cpp).
  amNumberRead = 0x10,
  // The atom's position is packed beside it in its pool block (see
  // PositionStore.h); set and cleared only by SetPosition and Reset.
  amPackedPosition = 0x20,
  // A list cell of a spine that another list may borrow as its rest (see
  // ShareableRest): a list cell without members whose following cells are
  // list cells carrying this mark too, up to the empty list. Number holds
  // the length of the spine from the cell.
  amSharedSpine = 0x40,
  // The cell's Right is such a borrowed spine: the language gives this list
  // a copy of those cells, which it only reads until it takes one (OwnRest).
  amBorrowsRest = 0x80,
};

// Which pool chain holds an atom; an identity resolves only for Live and Kept.
enum class AtomChain : uint8_t { Live, Free, Kept };

// A long double in its ten significant bytes (the other six of the type are
// padding), so that an atom needs no 16-byte alignment. The x87 unit loads
// and stores the ten bytes at any address, as it did the aligned field.
class TPackedNumber {
public:
  operator long double() const {
    long double x;
    asm("fldt %1" : "=t"(x) : "m"(bytes_));
    return x;
  }
  TPackedNumber& operator=(long double x) {
    asm("fstpt %0" : "=m"(bytes_) : "t"(x) : "st");
    return *this;
  }
  // The ten bytes of a long double held in memory (an argument passed on
  // the stack), copied without a load into the x87 unit and its slow
  // ten-byte store.
  void CopyFrom(const long double& x) { std::memcpy(bytes_, &x, sizeof bytes_); }
  // Zero: all ten bytes clear, stored without the x87 unit (whose ten-byte
  // store is slow), for the sweep's clearing of freed atoms.
  void Clear() { std::memset(bytes_, 0, sizeof bytes_); }
  // A whole number, encoded without the x87 unit as its load of the integer
  // would: the significand shifted up to its explicit top bit, the
  // exponent biased by 16383.
  void SetWhole(uint64_t v) {
    if (v == 0) {
      Clear();
      return;
    }
    const int shift = std::countl_zero(v);
    const uint64_t significand = v << shift;
    const uint16_t exponent = static_cast<uint16_t>(kExponentBias + 63 - shift);
    std::memcpy(bytes_, &significand, sizeof significand);
    std::memcpy(bytes_ + 8, &exponent, sizeof exponent);
  }
  // The number as a whole one of magnitude below 2^63, read from its bytes
  // without the x87 unit; false for a fraction, a larger magnitude, an
  // infinity, NaN or an encoding the unit would not take as a number.
  // A negative zero reads as 0.
  bool ReadWhole(int64_t& whole) const {
    uint64_t significand = 0;
    uint16_t signAndExponent = 0;
    std::memcpy(&significand, bytes_, sizeof significand);
    std::memcpy(&signAndExponent, bytes_ + 8, sizeof signAndExponent);
    const int exponent = signAndExponent & 0x7FFF;
    if (exponent == 0) {
      whole = 0;
      return significand == 0;  // else a subnormal: a fraction
    }
    const int power = exponent - kExponentBias;
    if (power < 0 || power > 62 || (significand >> 63) == 0) return false;
    const int shift = 63 - power;
    if ((significand & ((uint64_t{1} << shift) - 1)) != 0) return false;
    const auto magnitude = static_cast<int64_t>(significand >> shift);
    whole = (signAndExponent & 0x8000) != 0 ? -magnitude : magnitude;
    return true;
  }

private:
  static constexpr int kExponentBias = 16383;
  unsigned char bytes_[10] = {};  // +0
};
static_assert(sizeof(long double) == 16 && std::numeric_limits<long double>::digits == 64,
              "numbers are x87 extended precision");

// Called with the atom when a GUI-object or memory-block atom is finalised.
using TFinalizer = void (*)(TStructure&, TAtom&);

// A GUI control or library object wrapped by an akWinObject atom. The control
// bridge implements it; the core only needs the class name for printing.
class WrappedObject {
public:
  virtual ~WrappedObject() = default;
  virtual std::u16string ClassName() const = 0;
};

// "No value / no result": a reserved non-null reference that is never an
// atom. It is never dereferenced, pinned or collected; its identity is 1.
extern TAtom* const SystemValue;

// True for a real atom (neither the empty list nor SystemValue).
inline bool IsAtom(const TAtom* a) { return a != nullptr && a != SystemValue; }

// Identities: 0 is the empty list, 1 SystemValue, atoms 2 and upwards (below
// 2^31; the range above belongs to font list bases).
constexpr uint32_t kNullIdentity = 0;
constexpr uint32_t kSystemValueIdentity = 1;
constexpr uint32_t kFirstAtomIdentity = 2;
uint32_t AtomId(const TAtom* a);

class TAtom {
public:
  TAtom() = default;
  TAtom(const TAtom&) = delete;
  TAtom& operator=(const TAtom&) = delete;
  ~TAtom();

  // The fields only some atoms use: statement cells and positioned tokens,
  // variables with handler children, GUI objects and memory blocks. They
  // live in an extension made on first use, so that the atoms programs make
  // by the million stay at 96 bytes.
  struct Extension {
    Extension();
    ~Extension();  // where TPosition is complete
    std::unique_ptr<TPosition> Position;         // whole source position (see SetPosition), or none
    std::unique_ptr<std::vector<int32_t>> Code;  // compiled words of the statement starting here
    uint32_t CodeGeneration = 0;                 // advances whenever Code changes (caches of it check)
    std::unique_ptr<TFastCode> Fast;             // Code as superinstructions (Expr.h), for one generation
    uint32_t FastAskedFor = 0;                   // CodeGeneration + 1 once they were asked for and not made
    // A name token's answer at the root when last looked up (see
    // TStructure::FindRootChild): valid while the root, its children (the
    // top-level epoch) and the letter-case rule are those it was found under.
    TAtom* RootChild = nullptr;
    const TAtom* RootOf = nullptr;
    uint64_t RootEpoch = UINT64_MAX;
    bool RootCaseSensitive = true;
    uint32_t Keywords = 0;  // the keyword generation (TStructure::KeywordGeneration) it was found under
    // Inside a procedure's frame, the procedure that was searched before the
    // root (its allocation stamp and named-children stamp then).
    bool FieldOfGlobal = false;  // the token names "global.field"; InnerScope is the global
    const TAtom* InnerScope = nullptr;
    uint64_t InnerScopeStamp = 0;
    uint64_t InnerScopeChildren = 0;
    // A one-component name's answer from beyond the frame owner's own
    // children (TStructure::FindNameOfToken): it stands while the name
    // generation is SiteGeneration and the frame owner is the root
    // (SiteScope the root) or a child of SiteScope (that atom life): the
    // generation covers the root, the letter-case rule and LOGOASK scopes
    // (TStructure::NameGeneration). SiteAnswer
    // null: the name was found among the owner's children, nothing is known
    // beyond them. Holds no pin.
    uint64_t SiteGeneration = UINT64_MAX;
    const TAtom* SiteScope = nullptr;
    uint64_t SiteScopeStamp = 0;
    const TAtom* SiteRoot = nullptr;
    TAtom* SiteAnswer = nullptr;
    bool SiteAtRoot = false;  // the frame owner was the root
    // NameBitOf the name; every bit where names ignore letter case.
    uint64_t SiteNameBit = ~uint64_t{0};
    // Advances whenever a child other than one named "[~]" is linked,
    // unlinked, moved or renamed under this atom, or its children are
    // cleared (name answers remembered for this scope check it).
    uint64_t NamedChildrenStamp = 0;
    // The name index of this atom's children when it has one (the root's,
    // owned by the interpreter state): the link operations keep it current.
    TChildIndex* ChildIndex = nullptr;
    // The index this atom made for itself once it had many children (a
    // recursing procedure holds one frame per running call): the look-ups
    // of its named children stay constant-time however deep the recursion.
    std::unique_ptr<TChildIndex> OwnIndex;
    TAtom* DrawImageChild = nullptr;             // cached child named by keyword 14
    TAtom* ChangeChild = nullptr;                // cached child named by keyword 15
    void* Object = nullptr;                      // WrappedObject* or memory-block bytes
    TFinalizer Finalizer = nullptr;              // finaliser of Object
    // The collector found the GUI object or memory block unreachable, ran its
    // finaliser and deleted its display list; freeing the atom later (when
    // the sweep reaches it) does neither again.
    bool FinalizedEarly = false;
  };

  // 96 bytes without padding. Atoms sit 32 bytes apart from a cache line
  // boundary, so bytes 32 to 63 of every atom share one line: there are the
  // fields a list walk and arithmetic read (Left, Right, Number, Kind, Marks,
  // Flags).
  TAtom* Chain = nullptr;           // next atom on the pool chain holding this one
  TAtom* Parent = nullptr;          // parent variable
  TAtom* FirstChild = nullptr;      // newest child variable
  TAtom* NextSibling = nullptr;     // next (older) sibling
  TAtom* Left = nullptr;            // list element / variable value
  TAtom* Right = nullptr;           // next list or expression cell
  TPackedNumber Number;             // number value / memory-block size / see amSharedSpine
  AtomKind Kind = akWord;
  uint8_t Marks = 0;                // AtomMarks
  uint32_t Flags = 0;               // AtomFlags
  TAtomText Text;                   // word text / variable name
  std::unique_ptr<Extension> Ext;   // see Extension; null while unused
  uint64_t Stamp = 0;               // serial given at allocation; plan stamp
  int32_t RefCount = 0;             // pin count, saturating
  AtomChain OnChain = AtomChain::Live;  // which chain Chain belongs to
  // Three bytes to spare.

  // Fixed at creation, never reused: the atom's place in the pool, read
  // from its address (see TPoolBlockHead), so it takes no field. Only for
  // pool atoms (AtomId answers for every reference).
  uint32_t Identity() const;

  // The extension's fields; null when the atom has none.
  // A packed position is unpacked into the extension the first time it is
  // asked for here, so that the record stays put while the atom keeps it.
  TPosition* Position() const {
    if (Ext && Ext->Position) return Ext->Position.get();
    return (Marks & amPackedPosition) != 0 ? UnpackedPosition() : nullptr;
  }
  bool HasPosition() const { return (Marks & amPackedPosition) != 0 || (Ext && Ext->Position); }
  std::vector<int32_t>* Code() const { return Ext ? Ext->Code.get() : nullptr; }
  TAtom* DrawImageChild() const { return Ext ? Ext->DrawImageChild : nullptr; }
  TAtom* ChangeChild() const { return Ext ? Ext->ChangeChild : nullptr; }
  void* Object() const { return Ext ? Ext->Object : nullptr; }
  TFinalizer Finalizer() const { return Ext ? Ext->Finalizer : nullptr; }
  // The extension, made when the atom has none yet.
  Extension& Extend();
  // The extension of a token (an atom with a source position), made when it
  // has none yet, so that its name look-ups can be remembered there; for
  // other atoms the extension they have, or null.
  Extension* TokenExtension() { return Ext || !HasPosition() ? Ext.get() : &Extend(); }

  // --- pool and lifetime --------------------------------------------------
  // Finalises a GUI object or memory block, then clears every field but
  // Chain, OnChain and Identity: the atom becomes an empty word.
  static void Reset(TStructure& s, TAtom& atom);
  // Runs the finaliser at most once per atom life: only while the atom still
  // holds its object or memory. A GUI object asks for a deferred message pump.
  static void Finalize(TStructure& s, TAtom& atom);
  // Moves the live-chain head to the free chain; any other atom: no change.
  static void Release(TStructure& s, TAtom* atom);
  // Moves the live-chain successor of atom to the free chain (the sweep).
  static void ReleaseNext(TStructure& s, TAtom& atom);
  // Frees an atom the collector has already taken off the live chain:
  // reset (finaliser once), then the head of the free chain.
  static void FreeUnlinked(TStructure& s, TAtom& atom);
  // The same for an atom without extension (no finaliser, object, code or
  // child index), inline for the sweep: defined in Vars.h.
  static void FreeUnextended(TStructure& s, TAtom& atom);
  // Clears every field but Chain, OnChain, Identity and Ext.
  static void ClearFields(TAtom& atom);
  // ClearFields but the pin count, for atoms known to hold no pin.
  static void ClearFieldsButPins(TAtom& atom);
  // Takes an atom off the live chain for good (SETBITALL).
  static void MoveToKept(TStructure& s, TAtom& atom);
  static void IncRef(TAtom* atom);
  static void DecRef(TAtom* atom);
  // Tells the collector that afMarked was set on the atom outside its run.
  static void NoteMarkSet(const TAtom& atom);
  // The usual finaliser of memory blocks.
  static void FreeMemoryBlock(TStructure& s, TAtom& atom);

  // --- flags ------------------------------------------------------------
  static bool HasFlag(const TAtom* atom, uint32_t bits);
  // Setting or clearing afNamespace here keeps the parent's list of
  // namespaces (TChildIndex::Namespaces) current.
  static void SetFlag(TAtom* atom, uint32_t bits, bool on);
  static void NamespaceFlagChanged(TAtom& atom);
  // The atom, its child variables, a variable's value and list or expression
  // cells with their elements, recursively.
  static void FlagTree(TStructure& s, TAtom* atom, uint32_t bits, bool on);

  // --- kinds ------------------------------------------------------------
  static bool IsWordOrNumber(const TAtom* a);
  static bool IsNumber(const TAtom* a);
  static bool IsWord(const TAtom* a);
  static bool IsVariable(const TAtom* a);
  static bool IsWinObject(const TAtom* a);
  static bool IsMemoryBlock(const TAtom* a);
  static bool IsList(const TAtom* a);  // null or akList
  static bool IsListOrExpression(const TAtom* a);
  static bool IsExpression(const TAtom* a);
  static bool IsComma(const TAtom* a);
  static bool IsPlainVariable(const TAtom* a);
  static int32_t Length(const TAtom* a);
  static TAtom* LastCell(TAtom* a);
  // Left of the atom; the empty list raises "first" and yields null.
  static TAtom* First(TStructure& s, TAtom* a);
  // Finalises the old value (at most once per life), stores the new one.
  static void SetValue(TStructure& s, TAtom& variable, TAtom* value);
  static std::u16string Name(TStructure& s, const TAtom* a);
  static void SetName(TAtom& a, std::u16string name);
  static WrappedObject* WinObject(const TAtom* a);

  // --- code lists -------------------------------------------------------
  static int32_t CodeCount(const TAtom& a);
  static void AddCode(TAtom& a, int32_t word);
  static void PatchLastCode(TAtom& a, int32_t word);
  static void ClearCode(TAtom& a);
  // AddCode of each word in turn.
  static void AppendCode(TAtom& a, const int32_t* words, size_t count);
  static void FreeCode(TAtom& a);
  static void DropCodeTree(TStructure& s, TAtom* a);
  // The generation of the atom's code: any change of it gives another one.
  static uint32_t CodeGeneration(const TAtom& a) { return a.Ext ? a.Ext->CodeGeneration : 0; }

  // --- tree links -------------------------------------------------------
  // A parent with a child index (TChildIndex, the root's) has it updated by
  // every operation below that links, unlinks, renames, moves or clears
  // its children, and by the reset of a linked child.
  // Unlinks the child from an old parent first, then links it in front.
  static void SetParent(TStructure& s, TAtom& child, TAtom* parent);
  static void Unlink(TAtom* child);
  // Moves a child to the end of its parent's child chain (the oldest place).
  static void MoveToLastChild(TAtom& child);
  static TAtom* FindChild(TAtom& parent, const TAtom* child, TAtom** predecessor = nullptr);
  // A parent whose chain was walked past this many children without finding
  // the name gets an index of its own (see Extension::OwnIndex).
  static constexpr size_t kIndexAfterChildren = 32;
  static TAtom* FindChildByName(const TStructure& s, const TAtom& parent, std::u16string_view name,
                                TAtom** predecessor = nullptr);
  static void IndexOwnChildren(const TStructure& s, TAtom& parent);
  static void ClearChildren(TAtom& a);
  static void ResetVariable(TStructure& s, TAtom& variable);
  static void CopyInto(TStructure& s, TAtom& source, TAtom& target);
  static std::u16string FullName(const TAtom* a);
  static bool NotifySuppressed(const TAtom* a);
  static bool IsLocked(const TAtom* a);

  // --- positions --------------------------------------------------------
  // Packs the position beside the atom when it fits a record, else keeps
  // the whole record in the extension.
  static void SetPosition(TAtom& a, const TPosition& position);
  static TPosition GetPosition(const TAtom* a);
  // The same record without a copy (the absent record when there is none).
  static const TPosition& PositionOf(const TAtom* a);
  // StartPos and EndPos of PositionOf(a), read without unpacking a packed
  // record; false when there is no position.
  static bool SpanOf(const TAtom* a, int32_t& startPos, int32_t& endPos);

  // Gives a scanned token's packed position back to the store.
  static void DropPackedPosition(TAtom& a);

private:
  TPosition* UnpackedPosition() const;

public:

  // --- conversion, comparison and printing (AtomValues.cpp) ---------------
  static bool TryNumber(const TAtom* a, long double& x);
  static long double AsNumber(TStructure& s, const TAtom* a);
  static int32_t AsInteger(TStructure& s, const TAtom* a);
  static std::u16string AsString(TStructure& s, const TAtom* a);
  static bool AsBoolean(TStructure& s, const TAtom* a);
  static bool IsTrue(const TStructure& s, const TAtom* a);
  static bool IsFalse(const TStructure& s, const TAtom* a);
  static std::u16string KindName(const TAtom* a, bool definite);
  static std::u16string ToText(TStructure& s, const TAtom* a);
  // The same printer, stopping once the text is past maxChars characters.
  static std::u16string ToText(TStructure& s, const TAtom* a, size_t maxChars);
  static std::u16string ToTextBare(TStructure& s, const TAtom* a);
  static std::u16string UsageText(TStructure& s, const TAtom* procedure);
  static void DumpTree(TStructure& s, const TAtom* a, std::u16string_view indent, std::u16string& out);
};

// --- where a pool atom lives -------------------------------------------------
// The pool (TStructure) keeps atoms in blocks of kPoolBlockAtoms at addresses
// aligned to kPoolBlockAlign. After each block comes its tail, which starts
// with this head (the rest: PositionStore.h), so that an atom finds its
// block's state from its own address.
constexpr uint32_t kPoolBlockAtoms = 32768;
constexpr size_t kPoolBlockAlign = size_t{8} << 20;
// What the collector is told between its runs, kept by the pool and reached
// from any of its atoms through their block's head.
struct TCollectorNotes {
  // The atoms with an extension the last pool-order sweep left marked: the
  // next collection clears their marks.
  std::vector<TAtom*> MarkedSurvivors;
  // Only the atoms in MarkedSurvivors and on the kept chain carry afMarked:
  // set by a pool-order sweep, cleared where anything else may set it.
  bool MarksClear = false;
};

struct TPoolBlockHead {
  TPositionStore* Store;     // the store of the positions packed in the tail
  TCollectorNotes* Notes;    // the pool's TStructure::CollectorNotes
  uint64_t* NameGeneration;  // the pool's TStructure::NameGeneration, advanced by the link operations
  uint64_t* ChildrenGeneration;  // the pool's TStructure::ChildrenGeneration, likewise
  uint32_t FirstIdentity;    // the identity of the block's first atom
};
inline uintptr_t PoolBlockBase(const TAtom& atom) {
  return reinterpret_cast<uintptr_t>(&atom) & ~(uintptr_t{kPoolBlockAlign} - 1);
}
inline size_t PoolSlotOf(const TAtom& atom) {
  return (reinterpret_cast<uintptr_t>(&atom) - PoolBlockBase(atom)) / sizeof(TAtom);
}
inline const TPoolBlockHead& PoolBlockHeadOf(const TAtom& atom) {
  return *reinterpret_cast<const TPoolBlockHead*>(PoolBlockBase(atom) + size_t{kPoolBlockAtoms} * sizeof(TAtom));
}
inline uint32_t TAtom::Identity() const {
  return PoolBlockHeadOf(*this).FirstIdentity + static_cast<uint32_t>(PoolSlotOf(*this));
}

// The kind and flag tests, pins and code counts run for nearly every
// opcode: inline.
inline bool TAtom::HasFlag(const TAtom* atom, uint32_t bits) { return IsAtom(atom) && (atom->Flags & bits) != 0; }
inline void TAtom::SetFlag(TAtom* atom, uint32_t bits, bool on) {
  if (!IsAtom(atom)) return;
  const uint32_t before = atom->Flags;
  if (on)
    atom->Flags |= bits;
  else
    atom->Flags &= ~bits;
  if (on && (bits & afMarked) != 0) NoteMarkSet(*atom);
  if (((before ^ atom->Flags) & afNamespace) != 0) NamespaceFlagChanged(*atom);
}
inline bool TAtom::IsWordOrNumber(const TAtom* a) { return IsAtom(a) && (a->Kind == akNumber || a->Kind == akWord); }
inline bool TAtom::IsNumber(const TAtom* a) { return IsAtom(a) && a->Kind == akNumber; }
inline bool TAtom::IsWord(const TAtom* a) { return IsAtom(a) && a->Kind == akWord; }
inline bool TAtom::IsVariable(const TAtom* a) { return IsAtom(a) && a->Kind == akVariable; }
inline bool TAtom::IsList(const TAtom* a) { return a == nullptr || (a != SystemValue && a->Kind == akList); }
inline int32_t TAtom::CodeCount(const TAtom& a) {
  const std::vector<int32_t>* code = a.Code();
  return code != nullptr ? static_cast<int32_t>(code->size()) : 0;
}

// The text goes first: the stores after it are to consecutive fields, and
// the compiler makes a few wide stores of them.
inline void TAtom::ClearFieldsButPins(TAtom& atom) {
  atom.Text.clear();
  atom.Parent = nullptr;
  atom.FirstChild = nullptr;
  atom.NextSibling = nullptr;
  atom.Left = nullptr;
  atom.Right = nullptr;
  atom.Number.Clear();
  atom.Kind = akWord;
  atom.Marks = 0;
  atom.Flags = 0;
  atom.Stamp = 0;
}
inline void TAtom::ClearFields(TAtom& atom) {
  ClearFieldsButPins(atom);
  atom.RefCount = 0;
}

inline void TAtom::IncRef(TAtom* atom) {
  if (IsAtom(atom) && atom->RefCount < INT32_MAX) ++atom->RefCount;
}

inline void TAtom::DecRef(TAtom* atom) {
  if (IsAtom(atom) && atom->RefCount > 0) --atom->RefCount;
}

// --- constructors: all draw from NewAtom ------------------------------------
TAtom& NewAtom(TStructure& s);
TAtom* NewNumber(TStructure& s, long double x);
// The same for a whole number (a count, a length): no x87 work.
TAtom* NewWholeNumber(TStructure& s, uint64_t v);
TAtom* NewWord(TStructure& s, std::u16string text);
// 8-bit text widened with the state's code page.
TAtom* NewWordFromBytes(TStructure& s, std::string_view bytes);
TAtom* NewBoolean(TStructure& s, bool b);
TAtom* NewListCell(TStructure& s, TAtom* element, TAtom* next);
TAtom* NewExpressionCell(TStructure& s, TAtom* element, TAtom* next);
TAtom* NewVariable(TStructure& s, std::u16string name, TAtom* value);
TAtom* NewWinObject(TStructure& s, WrappedObject* object, TFinalizer finalizer);
TAtom* NewMemoryBlock(TStructure& s, size_t size, TFinalizer finalizer);
// New list cells holding the elements of the first `count` cells of `list`
// (fewer when it is shorter), in order, the last linked to `next`; `next`
// itself when nothing is copied. Copies of expression cells are list cells.
TAtom* CopyListCells(TStructure& s, const TAtom* list, int32_t count, TAtom* next);
// The same, also giving the last cell copied (null when none was).
TAtom* CopyListCells(TStructure& s, const TAtom* list, int32_t count, TAtom* next, TAtom*& lastCopied);
// Lists that end in another list's cells (SE's last input, so FPUT too)
// borrow them instead of copying, where no program can tell the difference.
// A copy differs from the original only in being other cells, so the rule
// is: a borrowed cell is read through the borrowing list, never handed out
// through it, run through it or changed while a borrower reaches it.
// True when the list's cells may be borrowed as they are: list cells
// without members or source positions up to the empty list (a copy has
// neither, and is all list cells). Marks them amSharedSpine.
bool ShareableRest(TStructure& s, TAtom* list);
// The cell's Right, taken as the cell's own when it was borrowed: the first
// borrowed cell is copied in its place and the copy borrows the rest.
TAtom* OwnRest(TStructure& s, TAtom& cell);
// Every borrowed cell of the list taken as its own (before it runs: the
// runner hands out its cells and compiles code onto them).
void OwnSpine(TStructure& s, TAtom* list);
// Before a cell's Kind or Right changes: lists that borrow it get copies of
// their borrowed cells up to it, and cells that reach it are no longer
// offered for borrowing. Walks the whole pool; such changes are rare.
void UnshareBeforeChange(TStructure& s, TAtom& cell);
// Appends a new cell to a list under construction.
void AppendToList(TStructure& s, TAtom* element, TAtom*& head, TAtom*& tail);

// Fills a position for a scanned source; Procedure := null; EndPos, Topic and
// Statement are left as they were. Callers pass depth 2147483647 (any).
void MakeSourcePos(TPosition& position, std::u16string sourceName, std::u16string sourceText, int32_t startPos,
                   int32_t line, int32_t depth);

// Eight upper-case hexadecimal digits of a 32-bit value: an atom identity,
// or the low half of an object's or memory block's address.
std::u16string PointerToHex(uint32_t value);
uint32_t LowAddressBits(const void* p);
inline int32_t SevenBits(int32_t x) { return x & 0x7F; }

// -1, 0 or 1, or 2 when the values cannot be compared.
int CompareAtoms(TStructure& s, const TAtom* a, const TAtom* b);
// CompareAtoms' order of two numbers: equal within the structure's epsilon.
int CompareNumbers(const TStructure& s, long double x, long double y);
std::u16string FormatMissingArg(TStructure& s, std::u16string_view first, std::u16string_view second);
std::u16string FormatUserLock(TStructure& s, std::u16string_view name);
// The general number format: 18 significant digits, fixed notation from
// 0.0001 up to 1e18, otherwise mantissa "E" exponent; "INF", "-INF", "NAN".
std::u16string FormatNumber(long double x);
