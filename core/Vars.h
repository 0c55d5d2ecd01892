#pragma once
// The interpreter state: position records, call frames with their operand
// stacks, the atom pool's chains, the variable tree rooted at "[Root]", name
// resolution, the argument cells through which primitives read their inputs,
// the language texts and keywords, and RaiseError, the one way a language
// error is raised. Each TStructure is self-contained: destroying it frees its
// pool, so every test builds a fresh one.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/Atoms.h"
#include "core/Text.h"

class Host;

// A text shared by every copy of a position: the scanned source is held once,
// never deep-copied per token or trace entry.
class SharedText {
public:
  SharedText() = default;
  SharedText(std::u16string text) : rep_(new Rep{1, std::move(text)}) {}
  SharedText(const SharedText& other) noexcept : rep_(other.rep_) {
    if (rep_ != nullptr) ++rep_->Refs;
  }
  SharedText(SharedText&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
  SharedText& operator=(const SharedText& other) noexcept {
    if (rep_ == other.rep_) return *this;  // the usual case: the same source
    Rep* const kept = other.rep_;
    if (kept != nullptr) ++kept->Refs;
    Release();
    rep_ = kept;
    return *this;
  }
  SharedText& operator=(SharedText&& other) noexcept {
    if (this != &other) {
      Release();
      rep_ = other.rep_;
      other.rep_ = nullptr;
    }
    return *this;
  }
  ~SharedText() { Release(); }

  const std::u16string& str() const { return rep_ != nullptr ? rep_->Text : Empty(); }
  operator const std::u16string&() const { return str(); }
  bool empty() const { return str().empty(); }
  bool SameObject(const SharedText& other) const { return rep_ == other.rep_; }

private:
  // Positions are copied for every statement and error-trace entry; the
  // interpreter runs on one thread, so the count needs no atomic operations.
  struct Rep {
    size_t Refs;
    std::u16string Text;
  };
  void Release() noexcept {
    if (rep_ != nullptr && --rep_->Refs == 0) delete rep_;
    rep_ = nullptr;
  }
  static const std::u16string& Empty();
  Rep* rep_ = nullptr;
};

class TPositionStore;

// Offsets are 1-based into the scanned (CR LF) text; -1 when absent.
constexpr int32_t kGeneratedPos = -7605;  // StartPos and EndPos of generated code
constexpr int32_t kAnyDepth = 2147483647;

struct TPosition {
  int32_t StartPos = -1;        // first character, 1-based
  int32_t EndPos = -1;          // just after the last character
  int32_t Line = -1;            // 1-based line
  std::u16string Topic;         // help topic key of an error
  TAtom* Procedure = nullptr;   // the procedure variable whose body runs
  SharedText SourceName;        // file name or window title
  SharedText SourceText;        // the whole scanned text
  int32_t Depth = -1;           // interpreter nesting depth; kAnyDepth = any
  TAtom* Statement = nullptr;   // statement cell (pinned while in the error trace)
  TAtom* FrameOwner = nullptr;  // owner of the frame an error passed (trace entries)

  // Copy assignment that skips the topic when both are empty: the
  // interpreter loads a statement's position for every statement run.
  void AssignFrom(const TPosition& other) {
    static_assert(sizeof(TPosition) == 96, "AssignFrom copies every field");
    StartPos = other.StartPos;
    EndPos = other.EndPos;
    Line = other.Line;
    if (!Topic.empty() || !other.Topic.empty()) Topic = other.Topic;
    Procedure = other.Procedure;
    SourceName = other.SourceName;
    SourceText = other.SourceText;
    Depth = other.Depth;
    Statement = other.Statement;
    FrameOwner = other.FrameOwner;
  }
};

// A language error: the exception carries its final message.
class LanguageError : public std::exception {
public:
  explicit LanguageError(std::u16string message);
  const std::u16string& Message() const { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

private:
  std::u16string message_;
  std::string utf8_;
};

// One operand-stack entry; Count() still reports three 32-bit words each.
struct TStackEntry {
  TAtom* Value;
  int32_t StartPos;
  int32_t EndPos;
};

// A frame's operand stack. Pushing pins the atom, popping unpins it.
class TStack {
public:
  void Push(TAtom* atom, int32_t startPos, int32_t endPos) {
    TAtom::IncRef(atom);
    Items.push_back({atom, startPos, endPos});
  }
  // Empty stack: atom := null, positions untouched.
  void Pop(TAtom*& atom, int32_t& startPos, int32_t& endPos) {
    if (Items.empty()) {
      atom = nullptr;
      return;
    }
    const TStackEntry top = Items.back();
    Items.pop_back();
    TAtom::DecRef(top.Value);
    atom = top.Value;
    startPos = top.StartPos;
    endPos = top.EndPos;
  }
  void Drop(int32_t n) {
    for (; n > 0 && !Items.empty(); --n) {
      TAtom::DecRef(Items.back().Value);
      Items.pop_back();
    }
  }
  int32_t Count() const { return static_cast<int32_t>(Items.size() * 3); }
  void Clear() { Items.clear(); }  // without unpinning
  // Unpins every atom and empties the stack (usually empty already).
  void UnpinAll() {
    if (!Items.empty()) UnpinAllItems();
  }

  std::vector<TStackEntry> Items;

private:
  void UnpinAllItems();
};

// One call frame. The owner's children are the frame's inputs and locals.
// TStructure owns every context, entered or spare (see its frame_).
struct TContext {
  TAtom* Owner = nullptr;      // pinned while the frame exists
  TContext* Parent = nullptr;  // the calling frame; the next spare one while spare
  TStack Stack;                // empty while spare, its storage kept
  // The names of NamesOwner's children, a bit each (NameBitOf), read while
  // the children generation was NamesGeneration: a name whose bit is clear
  // is none of them (TStructure::FindNameOfToken). Read on first use.
  const TAtom* NamesOwner = nullptr;
  uint64_t NamesGeneration = 0;
  uint64_t NameBits = 0;
  // The bits that two or more of those names have: a name whose bit is
  // clear here is carried by one child at most.
  uint64_t SharedNameBits = 0;
};

// A name's bit among 64 (its size and first character): equal names under
// the case-sensitive rule have equal bits.
inline uint64_t NameBitOf(std::u16string_view name) {
  if (name.empty()) return 1;
  return uint64_t{1} << ((name.size() * 7 + name.front()) & 63);
}

enum Keyword : int {
  kwTo = 0,
  kwOb = 1,
  kwMake = 2,
  kwPrint = 3,
  kwRun = 4,
  kwIf = 5,
  kwLocal = 6,
  kwWhile = 7,
  kwRepeat = 8,
  kwOutput = 9,
  kwEnd = 10,
  kwDll = 11,
  kwTrue = 12,
  kwFalse = 13,
  kwOndrawimage = 14,
  kwOnchange = 15,
  kwOnlocalchange = 16,
  kwOnidentity = 17,
  kwOndrag = 18,
  kwOninteractive = 19,
  kwOninteractiveplane = 20,
  kwGet = 21,
  kwPut = 22,
  kwDefinition = 23,
  kwHistory = 24,
  kwOnhistorycreate = 25,
  kwOnhistoryupdate = 26,
  kwOnpriority = 27,
  kwOnleftassociation = 28,
  kwOnbeforemake = 29,
  kwOnaftermake = 30,
  kwOnmousedown = 31,
  kwOnmousemove = 32,
  kwOnmouseup = 33,
  kwOnmouseclick = 34,
  kwOnplan = 35,
  kwLambda = 36,
  kwOndepend = 37,
  kwOnbeforedraw = 38,
  kwOnevent = 39,
  kwOnclick = 40,
  kwOndoubleclick = 41,
  kwOnenter = 42,
  kwOnleave = 43,
  kwOnkeydown = 44,
  kwOnkeyup = 45,
  kwOnkeypress = 46,
  kwOnmodified = 47,
  kwOnnotify = 48,
  kwOnscroll = 49,
  kwOnmoved = 50,
  kwOnpopup = 51,
  kwOntimer = 52,
  kwOnhide = 53,
  kwOnshow = 54,
  kwOnresize = 55,
  kwOnclose = 56,
  kwOnselectionchange = 57,
  kwOnplaychange = 58,
  kwOnabout = 59,
  kwOnerror = 60,
  kwOninspector = 61,
  kwOninspectorSupported = 62,
  kwOninspectorExplain = 63,
  kwOninspector1 = 64,
  kwOninspector2 = 65,
  kwOnminleftinputs = 66,
  kwOnmaxleftinputs = 67,
  kwOnminrightinputs = 68,
  kwOnmaxrightinputs = 69,
  kwX = 70,
  kwY = 71,
  kwZ = 72,
  kwHash1 = 73,
  kwRadius = 74,
  kwRadiusx = 75,
  kwRadiusy = 76,
  kwRadiusz = 77,
  kwAffine = 78,
  kwAffineP = 79,
  kwAffineX = 80,
  kwAffineY = 81,
  kwAffineZ = 82,
  kwCenter = 83,
  kwFocus = 84,
  kwSpin = 85,
  kwColor = 86,
  kwWidth = 87,
  kwAntialias = 88,
  kwSmooth = 89,
  kwStipple = 90,
  kwPattern = 91,
  kwTexture = 92,
  kwTextureScale = 93,
  kwTextureScalex = 94,
  kwTextureScaley = 95,
  kwTextureSpin = 96,
  kwTextureSmooth = 97,
  kwPrecision = 98,
  kwMode = 99,
  kwRange = 100,
  kwRangeFromangle = 101,
  kwRangeToangle = 102,
  kwRangeMode = 103,
  kwNormal = 104,
  kwSubnormal = 105,
  kwLight = 106,
  kwLightBidirectional = 107,
  kwShininess = 108,
  kwMaterialSpecularX = 109,
  kwMaterialSpecularY = 110,
  kwMaterialSpecularZ = 111,
  kwMaterialSpecularHash1 = 112,
  kwInitial = 113,
  kwFinal = 114,
  kwHollow = 115,
  kwRatio = 116,
  kwRatiox = 117,
  kwRatioy = 118,
  kwPoints = 119,
  kwBold = 120,
  kwItalic = 121,
  kwRangevFromangle = 122,
  kwRangevToangle = 123,
  kwTexturename = 124,
  kwScale = 125,
  kwP = 126,
  kwQ = 127,
  kwR = 128,
  kwPrecisiony = 129,
  kwIndex = 130,
  kwA = 131,
  kwB = 132,
  kwC = 133,
  kwD = 134,
  kwEnable = 135,
  kwColorX = 136,
  kwColorY = 137,
  kwColorZ = 138,
  kwColorHash1 = 139,
  kwHeight = 140,
  kwFontname = 141,
  kwDeviation = 142,
  kwDepth = 143,
  kwString = 144,
  kwFont = 145,
  kwSharpness = 146,
  kwEyedistance = 147,
  kwEye = 148,
  kwForehead = 149,
  kKeywordCount = 150,
};

// The fixed English keys of the keywords, in table order.
extern const std::array<std::u16string_view, kKeywordCount> KeywordKeys;

// The core's side of the language file: its texts, the keyword tables, the
// Boolean atoms and the code page of all 8-bit conversions.
struct TLanguage {
  std::array<std::u16string, kKeywordCount> KeywordTable;       // active keywords (normalised)
  std::array<std::u16string, kKeywordCount> KeywordTableUpper;  // their upper-case forms
  TAtom* TrueAtom = nullptr;                                    // word atom of KeywordTableUpper[12], pinned
  TAtom* FalseAtom = nullptr;                                   // word atom of KeywordTableUpper[13], pinned
  // The answers of NewBoolean (the keywords as written), pinned: a word is
  // never changed in place and no program can tell two equal words apart.
  TAtom* TrueWord = nullptr;
  TAtom* FalseWord = nullptr;
  // They read as true and false whatever else the truth test weighs (set
  // when they are made), so the test needs no text comparison for them.
  bool TrueWordIsTrue = false;
  bool FalseWordIsFalse = false;
  int CodePage = 1252;
  // The first path component of the onbeforemake and onaftermake keywords
  // (normally the whole keyword): linking a child of such a name marks its
  // parent (amMakeHandlerChild).
  std::array<std::u16string, 2> MakeHandlerHeads;
  // Bit n (at most 63) set when one of those heads, or the ondrawimage or
  // onchange keyword, has n characters: linking a child whose name has no
  // such size needs no comparison.
  uint64_t HandlerNameSizes = 0;
  bool DualLanguageSupport = false;  // English TRUE/FALSE and keywords accepted too

  // Replaces the texts by Name=Value pairs; names match without letter case,
  // the first of duplicate names wins.
  void SetTexts(const std::vector<std::pair<std::u16string, std::u16string>>& pairs);
  void SetTexts(std::vector<std::pair<std::u16string, std::u16string>>&& pairs);
  // The value under key; the key itself when it is missing or empty.
  std::u16string Text(std::u16string_view key) const;
  // The value under key, empty when missing.
  std::u16string RawText(std::u16string_view key) const;
  // The text under a key already upper-cased; null when missing or empty.
  const std::u16string* FindUpperKey(const std::u16string& upperKey) const;

  // Re-reads the ten message formats below from the texts (key when missing).
  void RefreshFormats();

  std::unordered_map<std::u16string, std::u16string> Texts;  // upper-cased name -> value

  // Message formats used when the core raises errors.
  std::u16string UnmatchedFormat = u"UNMATCHED";
  std::u16string UnknownVarFormat = u"UNKNOWNVAR";
  std::u16string UnknownFileFormat = u"UNKNOWNFILE";
  std::u16string InModuleFormat = u"INMODULE";
  std::u16string UserLockFormat = u"USERLOCK";
  std::u16string ArgCountFormat = u"ARGCOUNT";
  std::u16string BadArgFormat = u"BADARG";
  std::u16string BadCommandFormat = u"BADCOMMAND";
  std::u16string SystemErrorText = u"SYSTEMERROR";
  std::u16string BadNameFormat = u"BADNAME";
};

// The program log (LOGOOPENLOG and WriteLog): 8-bit code-page text, "\n"
// line ends. The clock is injectable so tests see fixed prefixes.
struct TLogTime {
  int Year, Month, Day, Hour, Minute, Second;
};

class TProgramLog {
public:
  TProgramLog();
  ~TProgramLog();
  TProgramLog(const TProgramLog&) = delete;
  TProgramLog& operator=(const TProgramLog&) = delete;

  // Opens (mask bit 0x04: appends to) the file; false when it cannot.
  [[nodiscard]] bool Open(const std::u16string& fileName, uint32_t mask);
  void Close();
  void Write(std::string_view bytes);  // raw bytes, flushed

  bool LogFileOpen = false;
  uint32_t LogMask = 0;
  std::u16string ShortDateFormat = u"yy.mm.dd ";  // the process's short date format
  std::u16string LongTimeFormat = u"hh:mm:ss ";   // the process's long time format
  std::function<TLogTime()> Clock;                // local time by default

private:
  std::FILE* file_ = nullptr;
};

// Hashing and comparing names under either letter-case rule, for indexes
// of variables by name (heterogeneous: text views find stored texts).
struct TNameHash {
  using is_transparent = void;
  bool CaseSensitive = true;
  size_t operator()(std::u16string_view name) const;
};
struct TNameEqual {
  using is_transparent = void;
  bool CaseSensitive = true;
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    return CaseSensitive ? SameText(a, b) : SameTextIgnoringCase(a, b);
  }
};

// The children of one variable (the root) by name: for every name the
// newest child of that name and how many children carry it. The link
// operations of Atoms.cpp keep it current through the owner's extension,
// and advance Epoch whenever a named child (any but "[~]") is linked,
// unlinked, moved or renamed, or the children are cleared; name answers
// remembered at the root hold for one epoch. Names starting with "[" are
// not indexed (a simple-name look-up never asks for them).
struct TChildIndex {
  struct TEntry {
    TAtom* Newest = nullptr;
    uint32_t Count = 0;
  };
  std::unordered_map<std::u16string, TEntry, TNameHash, TNameEqual> ByName;
  TAtom* Owner = nullptr;  // invariant: Owner->Ext->ChildIndex == this
  uint64_t Epoch = 1;      // only grows, across owners too
  bool CaseSensitive = true;

  // Indexes owner's children under the rule and becomes its index.
  void Attach(TAtom* owner, bool caseSensitive);
  // Lets go of the owner (it is being reset): nothing is indexed.
  void Detach();
  static bool Indexed(std::u16string_view name) { return !name.empty() && name.front() != u'['; }
  // The child was linked in front of the owner's children.
  void LinkedInFront(TAtom& child);
  // The child now carries its name somewhere in the chain (a rename).
  void Named(TAtom& child);
  // The child no longer counts under its name; it may still be in the
  // chain (a rename or a reset), where it is passed over.
  void Unnamed(const TAtom& child);
  // The child moved within the chain.
  void Moved(TAtom& child);
  // The child left the owner's chain (unlinked, or reset while linked).
  void Removed(const TAtom& child) {
    if (!Namespaces.empty()) ForgetNamespace(child);
  }
  // The child's afNamespace flag was set or cleared.
  void NamespaceFlagChanged(TAtom& child);
  void Cleared() {
    ByName.clear();
    Namespaces.clear();
  }
  TAtom* Find(std::u16string_view name) const {
    const auto found = ByName.find(name);
    return found != ByName.end() ? found->second.Newest : nullptr;
  }
  // Find for a name that comes without a token to remember the answer on
  // (one computed at run time, as by WORD, is a new word every time): the
  // answers found lately are kept by the name's hash, each for the epoch it
  // was found in, so a name asked for again skips the map.
  TAtom* FindByText(std::u16string_view name) { return FindByText(name, TNameHash{CaseSensitive}(name)); }
  // The same with the name's hash under the owner's rule already known
  // (inline in Vars.cpp, where all the look-ups that ask it are).
  TAtom* FindByText(std::u16string_view name, uint64_t hash);
  // The owner's children flagged afNamespace, in child order (newest
  // first): a name the owner lacks is looked for in each, so a miss costs
  // a walk of these rather than of every child.
  std::vector<TAtom*> Namespaces;

private:
  TAtom* NewestNamed(std::u16string_view name, const TAtom* except) const;
  // FindByText's miss: the map's answer, kept in the name's recent set.
  [[gnu::noinline]] TAtom* FindAndRecall(std::u16string_view name, uint64_t hash);
  void ForgetNamespace(const TAtom& child);

  // A short name asked for under the case-sensitive rule is kept beside
  // its answer (Units: its units packed, Size: their count), so that asking
  // again compares it there instead of waiting for the child's text: names
  // computed in a loop (r0 ... r999) are asked for seldom each, and the
  // child and its text are then out of the cache.
  struct TRecentAnswer {
    uint64_t Epoch = 0;  // the epoch it was found in (0: never, as epochs start at 1)
    TAtom* Child = nullptr;
    uint64_t Units = 0;
    uint32_t Size = kNotPacked;
  };
  static constexpr uint32_t kNotPacked = UINT32_MAX;
  static constexpr size_t kPackedUnits = sizeof(uint64_t) / sizeof(char16_t);
  static uint64_t PackedUnits(std::u16string_view name) {
    uint64_t units = 0;
    for (size_t i = 0; i < name.size(); ++i) units |= uint64_t{name[i]} << (16 * i);
    return units;
  }
  static constexpr size_t kRecentAnswers = 4096;  // in sets of two; a power of two
  std::vector<TRecentAnswer> recent_;             // made at the first FindByText
  static size_t RecentSetOf(uint64_t hash) { return ((hash ^ (hash >> 29)) & (kRecentAnswers / 2 - 1)) * 2; }
};

// A setting that what a name finds depends on (the letter-case rule, the
// short ways). It reads as its bool; every change advances the state's name
// generation (TStructure::NameSettingChanged), so that a remembered name
// answer, which holds for one generation, need not compare the setting too.
class TNameSetting {
public:
  TNameSetting(TStructure& s, bool value) : s_(s), value_(value) {}
  TNameSetting(const TNameSetting&) = delete;
  TNameSetting& operator=(const TNameSetting& other) { return *this = other.value_; }
  TNameSetting& operator=(bool value);
  operator bool() const { return value_; }

private:
  TStructure& s_;
  bool value_;
};

class TStructure {
public:
  explicit TStructure(Host& host);
  ~TStructure();
  TStructure(const TStructure&) = delete;
  TStructure& operator=(const TStructure&) = delete;

  // Every call into the host may change the floating-point modes (the
  // graphics library does), so it clears FloatingPointModesChecked.
  Host& host() const {
    FloatingPointModesChecked = false;
    return *host_;
  }
  // The floating-point modes were found the default ones and no code that
  // could change them (a routine, the host) has run since: the arithmetic
  // the interpreter does itself need not read the control words again.
  mutable bool FloatingPointModesChecked = false;

  // --- the atom pool --------------------------------------------------------
  // Invariant: every atom ever created is on exactly one chain; LiveCount +
  // FreeCount = atoms created (kept atoms count as live).
  TAtom* LiveAtoms = nullptr;  // head of the live chain
  TAtom* FreeAtoms = nullptr;  // head of the free chain
  TAtom* KeptAtoms = nullptr;  // head of the kept chain (never collected)
  int64_t LiveCount = 0;
  int64_t FreeCount = 0;
  uint64_t AllocationCount = 0;  // atoms handed out since the last collection
  uint64_t StampCounter = 0;     // last serial handed out
  bool PumpPending = false;      // a finaliser asked for a message pump
  // The collector's limits (tests lower them) and its working state.
  struct TCollectorLimits {
    uint64_t Threshold = 5000;      // allocations between two collections, at least
    uint64_t MarkBudget = 10240000; // live-chain steps of the marking pass
    uint64_t SweepBudget = 100000;  // live-chain steps of the sweep after the head
  };
  TCollectorLimits CollectorLimits;
  uint64_t Survivors = 0;          // atoms the last collection's marking reached
  // Allocations from one collection to the next: the threshold, or the
  // last live set when that is larger.
  uint64_t CollectionInterval() const { return std::max(CollectorLimits.Threshold, Survivors); }
  bool Collecting = false;         // a collection runs: a nested call returns at once
  TAtom* SweepResume = nullptr;    // where the last budget-bound sweep stopped
  TAtom* SweepBoundary = nullptr;  // the live chain's head when the last sweep ended
  std::vector<TAtom*> MarkStack;   // the marker's work list, kept for its capacity
  TCollectorNotes CollectorNotes;  // the marks a collection left, for the next one
  // The GUI objects and memory blocks made (NewWinObject, NewMemoryBlock):
  // each collection finalises those its marking did not reach, wherever they
  // sit on the live chain. Entries of atoms freed or reset since are dropped
  // by the collector.
  std::vector<TAtom*> FinalizableAtoms;
  int64_t CreatedCount() const { return static_cast<int64_t>(createdCount_); }
  // The atom of an identity while it is live or kept; else null (0 and
  // unknown numbers) or SystemValue (1).
  // Inline: every operand word of compiled code is an identity.
  [[gnu::always_inline]] TAtom* AtomById(uint32_t identity) const {
    if (identity == kSystemValueIdentity) return SystemValue;
    const uint32_t index = identity - kFirstAtomIdentity;  // 0 wraps past any count
    if (identity < kFirstAtomIdentity || index >= createdCount_) return nullptr;
    TAtom& atom = blockStarts_[index / kPoolBlockAtoms][index % kPoolBlockAtoms];
    return atom.OnChain == AtomChain::Free ? nullptr : &atom;
  }
  TAtom* UsedAtoms() const { return LiveAtoms; }
  // Visits every atom ever created (free ones too) in address order, block
  // by block: the collector's walks over all atoms run at memory speed this
  // way, where the chains' order is scattered across the pool.
  template <class Visit>
  void ForEachCreatedAtom(Visit visit) {
    uint32_t left = createdCount_;
    for (TAtom* block : blockStarts_) {
      const uint32_t count = std::min(left, kPoolBlockAtoms);
      for (TAtom *atom = block, *end = block + count; atom != end; ++atom) visit(*atom);
      left -= count;
      if (left == 0) return;
    }
  }
  // The shared parts of the positions packed beside this pool's atoms.
  TPositionStore& Positions() { return *positions_; }
  // Whether an untrusted address is an atom of this pool that is in use
  // (live or kept), judged from the address alone without reading it.
  bool IsPoolAtom(const TAtom* address) const;
  // A brand-new atom with the next identity, not chained.
  TAtom& CreateAtom() {
    // Once per half block: a new block at its start, the next one's
    // mapping at its middle.
    if (createdCount_ % (kPoolBlockAtoms / 2) == 0) PassPoolBlockMilestone();
    const uint32_t slot = createdCount_ % kPoolBlockAtoms;
    // Asks for the lines of an atom a few ahead to be owned before they are
    // written: fresh memory would otherwise stall each new atom.
    if (slot + kPrefetchAhead < kPoolBlockAtoms) {
      __builtin_prefetch(blockStarts_.back() + slot + kPrefetchAhead, 1, 3);
      __builtin_prefetch(reinterpret_cast<const char*>(blockStarts_.back() + slot + kPrefetchAhead) + 64, 1, 3);
    }
    TAtom* atom = new (blockStarts_.back() + slot) TAtom();
    ++createdCount_;
    return *atom;
  }
  // Pool blocks: a power of two of atoms each (identities split into block
  // and index by shifts); atoms never move.
  static constexpr uint32_t kPoolBlockAtoms = ::kPoolBlockAtoms;
  static constexpr uint32_t kPrefetchAhead = 8;
  static_assert(sizeof(TAtom) == 96, "an atom is one and a half cache lines");
  static constexpr size_t kPoolBlockBytes = kPoolBlockAtoms * sizeof(TAtom);

  // --- frames ---------------------------------------------------------------
  TContext* Frame() const { return frame_; }
  // null means the current frame's owner; an atom named exactly "[Root]"
  // also becomes the root.
  void EnterFrame(TAtom* atom);
  // EnterFrame for a call's frame variable, named "[~]": never a root.
  void EnterCallFrame(TAtom& frame) { PushContext(&frame); }
  // Without a frame: nothing, null.
  TAtom* LeaveFrame();
  void LeaveAllFrames();
  TAtom* Root = nullptr;
  void ClearRoot() {
    Root = nullptr;
    ++NameGeneration;
  }
  // Advances on every change that can alter what a one-component name
  // finds beyond a frame owner's own children: a named child linked,
  // unlinked, moved or renamed under any atom not named "[~]" or under a
  // namespace (the link operations reach it through the pool block, see
  // TPoolBlockHead), a namespace flag set or cleared, the keywords loaded,
  // another root taken. A call binding its inputs into its frame, or a
  // LOCAL there, leaves it alone: FindNameOfToken walks the frame owner's
  // own children every time. Also on every change of CaseSensitive or
  // FastPaths. Its top bit (kNamesUnremembered) is set while a LOGOASK
  // scope is pushed or the short ways are off: no name answer is remembered
  // then, so none matches a generation with that bit.
  uint64_t NameGeneration = 0;
  static constexpr uint64_t kNamesUnremembered = uint64_t{1} << 63;
  void NameSettingChanged() {
    ++NameGeneration;
    UpdateNamesUnremembered();
  }
  // Advances on every link, unlink or rename of a child not named "[~]",
  // and whenever an atom's children are cleared: whatever names an atom's
  // children carry stands while it does (a frame's own included, which the
  // name generation leaves alone).
  uint64_t ChildrenGeneration = 0;
  // Advances whenever a named child of the root is linked, unlinked, moved
  // or renamed, the root's children are cleared or another root is taken:
  // name answers remembered at the root hold for one value of it.
  uint64_t TopLevelEpoch() {
    if (rootIndex_.Owner != Root) AttachRootIndex();
    return rootIndex_.Epoch;
  }
  void PushModule(TAtom* atom);
  void PopModule();
  TAtom* ModuleList = nullptr;  // cells of outer scopes (LOGOASK), newest first
  void ClearVisited();

  // --- argument cells: cell 1 is the last input as written ----------------
  // A missing cell reads as the empty list.
  TAtom* Cell(int32_t n) const;  // the n-th child variable, 1-based
  TAtom* FirstCell() const { return Cell(1); }
  TAtom* CellValue(int32_t n) const;
  TAtom* Cell1() const { return CellValue(1); }
  TAtom* Cell2() const { return CellValue(2); }
  long double Cell1Number();
  long double Cell2Number();
  int32_t Cell1Integer();
  int32_t Cell2Integer();
  int32_t Cell3Integer();
  int32_t CellCount() const;

  // --- the argument view: a routine's inputs, from the argument cells of
  // the current frame, or from a call's operand values while a direct
  // wrapper's call runs the routine without a frame (OperandInputs set).
  // Input n counts as the cells do: 1 is the last input as written.
  const TStackEntry* OperandInputs = nullptr;  // input 1 first
  int32_t OperandCount = 0;
  int32_t InputCount() const { return OperandInputs != nullptr ? OperandCount : CellCount(); }
  bool HasInput(int32_t n) const {
    return OperandInputs != nullptr ? n >= 1 && n <= OperandCount : Cell(n) != nullptr;
  }
  // The value of input n; the empty list when it is missing.
  TAtom* InputValue(int32_t n) const {
    if (OperandInputs == nullptr) return CellValue(n);
    return n >= 1 && n <= OperandCount ? OperandInputs[n - 1].Value : nullptr;
  }
  // Input n is a plain value (TAtom::IsPlainVariable of its cell); operand
  // values are never objects with members, so any word, number, list or
  // expression is one (inline: list and word routines ask for every input).
  bool InputIsPlain(int32_t n) const {
    if (OperandInputs == nullptr) return TAtom::IsPlainVariable(Cell(n));
    if (n < 1 || n > OperandCount) return false;
    const TAtom* value = OperandInputs[n - 1].Value;
    return value == nullptr || (value != SystemValue && (value->Kind == akWord || value->Kind == akNumber ||
                                                         value->Kind == akList || value->Kind == akExpression));
  }
  // The first member of input n when it is an object; null for operands.
  TAtom* InputMembers(int32_t n) const;

  // --- names and paths ----------------------------------------------------
  std::u16string NormalizeName(std::u16string_view name) const;
  bool IsRootName(std::u16string_view normalisedName) const;
  void SplitPath(std::u16string& path, std::u16string& component) const;
  TAtom* WalkPath(TAtom*& atom, std::u16string& path);
  TAtom* FindPath(TAtom* atom, std::u16string_view path);
  TAtom* CreateVariable(TAtom* parent, std::u16string_view path, bool direct, TAtom* value);
  TAtom* NewRootVariable(TAtom* value);
  TAtom* FindLocal(std::u16string_view path);
  TAtom* LocalValue(std::u16string_view path);
  TAtom* FindVisible(std::u16string_view path);
  TAtom* VisibleValue(std::u16string_view path);
  // With the name's token (the atom whose text the name is, a word of
  // compiled code), the token remembers what the root answered for it.
  TAtom* FindName(std::u16string_view name, TAtom* token = nullptr);
  // FindName's answer for a word of compiled code. A one-component name
  // remembers where it was found (TAtom::Extension::SiteAnswer): while the
  // name generation stands, in the same frame owner or another child of
  // the same atom, the answer is the owner's child of that name, else the
  // remembered one.
  [[gnu::always_inline]] TAtom* FindNameOfToken(TAtom& token) {
    const TAtom::Extension* memo = token.Ext.get();
    if (memo == nullptr) return FindNameWithoutMemo(token);
    // The generation covers the letter-case rule, the short ways and
    // LOGOASK scopes too.
    if (memo->SiteGeneration == NameGeneration && frame_ != nullptr) [[likely]] {
      TAtom* owner = frame_->Owner;
      // Another root would have advanced the generation.
      if (owner == Root) {
        if (memo->SiteAtRoot) return memo->SiteAnswer;
      } else if (!memo->SiteAtRoot && IsAtom(owner) && owner->Parent == memo->SiteScope &&
                 memo->SiteScope->Stamp == memo->SiteScopeStamp) {
        // No child of the owner carries the name: the remembered answer.
        if (memo->SiteAnswer != nullptr && (OwnerNameBits(*frame_) & memo->SiteNameBit) == 0)
          return memo->SiteAnswer;
        // A call's input cell shares its text node with the parameter's
        // tokens: one compare tells the owner's first child (the last
        // input), which the walk would give first.
        TAtom* first = owner->FirstChild;
        if (first != nullptr && first->Text.SameNode(token.Text)) return first;
        return FindOwnChildOrRemembered(*owner, token, *memo);
      }
    }
    return FindAndRememberName(token);
  }
  void CollectValues(TAtom* first, std::u16string_view name, std::u16string& text, std::u16string_view path);
  // After a FindName that found nothing: the scope it reached and the
  // unresolved rest of the (normalised) name.
  TAtom* LastScope = nullptr;
  std::u16string LastName;

  // --- errors ---------------------------------------------------------------
  void AddTrace(const TPosition& position);
  // Returns at once while CurrentPosition.Line is -1; otherwise records the
  // trace entry and throws LanguageError. Never [[noreturn]].
  void RaiseError(std::u16string message, std::u16string_view topic = {}, int32_t line = 0);
  // The language format under key filled with the arguments.
  std::u16string MessageText(std::u16string_view key, std::initializer_list<FormatArg> args = {}) const;
  // TOODEEP under the key "too-deep": a structure or recursion too deep to follow.
  void RaiseTooDeep(std::u16string_view where = u"...");
  void ClearErrorTrace();             // unpins the trace's statements and frame owners
  std::vector<TPosition> ErrorTrace;  // owned copies, oldest first
  std::u16string LastError;           // text of the last raised error
  TPosition CurrentPosition;          // statement or error being processed
  TPosition ParsePosition;            // the scanner's token

  // --- language ---------------------------------------------------------
  TLanguage Language;
  // The keyword tables from the language texts (the upper-case key itself
  // when missing), normalised under the current case rule, and new Boolean
  // atoms.
  void LoadKeywords();
  uint32_t KeywordGeneration = 0;  // advances with every LoadKeywords (remembered name answers check it)
  const std::u16string& Keyword(int index) const { return Language.KeywordTable[static_cast<size_t>(index)]; }
  // Two names as written are the same name (letter case ignored unless
  // names are case-sensitive, as normalising both would).
  bool SameName(std::u16string_view a, std::u16string_view b) const {
    return CaseSensitive ? SameText(a, b) : SameTextIgnoringCase(a, b);
  }

  // --- settings read by the core --------------------------------------------
  // The short ways through calls, look-ups and stores; off when the
  // environment held ZAVTA_NO_FAST_PATHS=1 at construction (for tests that
  // compare both ways, and for users who suspect one of them).
  TNameSetting FastPaths{*this, FastPathsRequested()};
  static bool FastPathsRequested();
  // Some list has borrowed another's cells (amBorrowsRest): lists about to
  // run are checked for borrowed cells only once this is set.
  bool RestsBorrowed = false;
  long double Epsilon = 1e-10L;
  TNameSetting CaseSensitive{*this, true};
  int64_t WhileCounter = 0;
  int64_t RepeatCounter = 0;
  bool InWhile = false;
  bool HaltRequested = false;
  bool EventsSuspended = false;
  std::array<float, 16> ViewMatrix{};  // the scene's model-view matrix, read back by every redraw
  std::u16string KeyBuffer;  // characters typed in the output window and plane

  // Folders, each ending in "/".
  std::u16string SettingsFolder;    // folder of the settings file
  std::u16string UserFolder;        // per-user data folder
  std::u16string ProgramFolder;     // the executable's folder
  std::u16string RootFolder;        // parent of the executable's folder
  std::u16string CharactersFolder;  // "../Characters/" beside the executable's folder
  std::u16string HelpFolder;        // the user's help scratch folder

  TProgramLog Log;

  // --- recursion guard ------------------------------------------------------
  // Bytes of machine stack left below the current frame.
  // Inline: the interpreter asks on every statement and call.
  // Machine stack kept free for raising and unwinding a language error,
  // also in sanitizer builds whose frames are several times larger.
  static constexpr uintptr_t kStackReserve = 1024 * 1024;
  // The lowest frame address that still leaves the reserve (0: unknown).
  uintptr_t StackFloor() const { return stackLimit_ == 0 ? 0 : stackLimit_ + kStackReserve; }
  size_t StackRemaining() const {
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (stackLimit_ == 0 || here <= stackLimit_) return stackLimit_ == 0 ? SIZE_MAX : 0;
    return here - stackLimit_;
  }
  int32_t GuardDepth = 0;  // nesting of DepthGuard scopes
  // The lowest usable address of the stack the interpreter runs on: the
  // thread's, or the run stack's while a run is on it (core/RunStack.h).
  uintptr_t StackLimit() const { return stackLimit_; }
  void SetStackLimit(uintptr_t limit) {
    stackLimit_ = limit;
    UpdateStackCheckFloor();
  }
  // The lowest frame address the interpreter's stack check lets pass: the
  // higher of StackFloor and the running entry's budget floor (0 outside
  // runs). Both setters keep it, so the check, made several times a call,
  // is one compare.
  uintptr_t StackCheckFloor() const { return stackCheckFloor_; }
  void SetBudgetFloor(uintptr_t floor) {
    budgetFloor_ = floor;
    UpdateStackCheckFloor();
  }

private:
  // Which child a one-component name walks to: the cached handler children
  // for keywords 14 and 15, else the child of that name.
  enum class SimpleKind { Named, DrawImage, Change };
  SimpleKind SimpleKindOf(std::u16string_view name) const {
    // Sizes first: almost every name is neither keyword.
    if (((Language.HandlerNameSizes >> std::min<size_t>(name.size(), 63)) & 1) == 0) return SimpleKind::Named;
    const std::u16string& drawImage = Keyword(kwOndrawimage);
    if (name.size() == drawImage.size() && !drawImage.empty() && SameName(name, drawImage))
      return SimpleKind::DrawImage;
    const std::u16string& change = Keyword(kwOnchange);
    if (name.size() == change.size() && !change.empty() && SameName(name, change)) return SimpleKind::Change;
    return SimpleKind::Named;
  }
  // SimpleKindOf(name) == SimpleKind::Named, without the call for the
  // names whose size no handler keyword has.
  bool IsPlainSimpleName(std::u16string_view name) const {
    return ((Language.HandlerNameSizes >> std::min<size_t>(name.size(), 63)) & 1) == 0 ||
           SimpleKindOf(name) == SimpleKind::Named;
  }
  template <class FindChild>
  TAtom* SearchScopes(FindChild find);
  TAtom* FindRootChild(std::u16string_view name, TAtom* token);
  TAtom* FindComputedRootName(std::u16string_view name, const TAtom* token);
  TAtom* FindComputedNameAtRoot(TAtom& token);
  // Calls visit(namespace) for the root's children flagged afNamespace, in
  // child order, until it answers true; whether one did.
  template <class Visit>
  bool ForEachNamespace(Visit visit);
  // The root's children by name (a library defines its procedures there,
  // programs their globals, and both are looked up all the time), kept
  // current by the link operations; rebuilt only when the root or the
  // letter-case rule changes.
  TChildIndex rootIndex_;
  void AttachRootIndex();
  TAtom* FindSimpleName(std::u16string_view name, TAtom* token);
  TAtom* FindOwnInputOrLocal(std::u16string_view name);
  bool RootAnswerStands(const TAtom::Extension& memo, std::u16string_view name) const;
  // The procedure the remembered root answer passed on the way is the frame
  // owner's, with the named children it had then.
  bool InnerScopeStands(const TAtom::Extension& memo) const {
    const TAtom* owner = frame_->Owner;
    const TAtom* scope = memo.InnerScope;
    return IsAtom(owner) && scope != nullptr && owner->Parent == scope && scope->Parent == Root &&
           scope->Stamp == memo.InnerScopeStamp && scope->Ext &&
           scope->Ext->NamedChildrenStamp == memo.InnerScopeChildren;
  }
  // The token's remembered root answer, when it is still the root's (the
  // scopes before the root are checked by the caller).
  bool RootMemoCurrent(const TAtom::Extension& memo) {
    return memo.RootChild != nullptr && ModuleList == nullptr && memo.RootOf == Root &&
           memo.RootEpoch == TopLevelEpoch() && memo.RootCaseSensitive == CaseSensitive &&
           memo.Keywords == KeywordGeneration;
  }
  // The child carries the name (SameName), its size compared first and the
  // characters without a call while names are case-sensitive: a frame's few
  // inputs and locals are compared on most look-ups in a procedure.
  [[gnu::always_inline]] bool NamedAs(const TAtom& child, std::u16string_view name) const {
    const std::u16string& text = child.Text.str();
    if (text.size() != name.size()) return false;
    if (!CaseSensitive) return SameTextIgnoringCase(text, name);
    // Names are short: a loop beats a call of the library compare.
    const char16_t* chars = text.data();
    for (size_t i = 0; i < name.size(); ++i)
      if (chars[i] != name[i]) return false;
    return true;
  }
  // The frame's TContext::NameBits, read again where the owner or its
  // children changed since.
  [[gnu::always_inline]] uint64_t OwnerNameBits(TContext& frame) {
    if (frame.NamesOwner == frame.Owner && frame.NamesGeneration == ChildrenGeneration) [[likely]]
      return frame.NameBits;
    return ReadOwnerNameBits(frame);
  }
  [[gnu::noinline]] uint64_t ReadOwnerNameBits(TContext& frame);
  // FindNameOfToken's walk of the frame owner's children, where the first
  // is no cell of the token's text node: the child of the token's name,
  // else the remembered answer, else the whole look-up's.
  [[gnu::noinline]] TAtom* FindOwnChildOrRemembered(TAtom& owner, TAtom& token, const TAtom::Extension& memo);
  // The same by comparing every child's name.
  [[gnu::noinline]] TAtom* WalkOwnChildren(TAtom& owner, TAtom& token, const TAtom::Extension& memo);
  // FindName for a token, remembering its answer where a later look-up
  // can read it back (FindNameOfToken).
  [[gnu::noinline]] TAtom* FindAndRememberName(TAtom& token);
  // FindNameOfToken for a token without an extension: a computed name (no
  // position either) in a frame the root owns takes FindComputedNameAtRoot,
  // any other FindAndRememberName.
  [[gnu::noinline]] TAtom* FindNameWithoutMemo(TAtom& token);
  bool FoundBeforeCallingFrames(const TAtom& owner, const TAtom& found) const;
  // FindName's whole search, for the names its short answers do not cover.
  [[gnu::noinline]] TAtom* SearchName(std::u16string_view name, TAtom* token);
  void RememberInnerScope(TAtom& token, const TAtom* found);
  bool FieldAnswerStands(const TAtom::Extension& memo) const;
  void RememberFieldOfGlobal(TAtom& token, std::u16string_view name, TAtom* found);

  Host* host_;
  // Atoms live in fixed-size blocks of mapped memory, constructed one by one
  // as the pool grows, so their addresses never change.
  struct BlockDeleter {
    void operator()(TAtom* atoms) const;
  };
  void DestroyAtoms();
  void PassPoolBlockMilestone();
  // EnterFrame's frame, the owner pinned. Every procedure call enters a
  // frame: a left one is taken back (with its stack's storage) rather than
  // allocated.
  void PushContext(TAtom* owner) {
    TAtom::IncRef(owner);
    TContext* context = spareFrames_;
    if (context != nullptr) [[likely]] {
      spareFrames_ = context->Parent;
      --spareCount_;
    } else {
      context = new TContext;
    }
    context->Owner = owner;
    context->Parent = frame_;
    frame_ = context;
  }
  void AddPoolBlock();  // maps the next block; bad_alloc past the identity range
  // A program that has filled half a block probably needs the next: it is
  // mapped and faulted in on another thread meanwhile, so that neither the
  // program waits for it nor a block is mapped that it never reaches.
  void PrepareNextPoolBlock();
  std::future<TAtom*> nextBlock_;
  std::vector<std::unique_ptr<TAtom, BlockDeleter>> blocks_;
  std::vector<TAtom*> blockStarts_;  // blocks_' pointers, for the inline look-ups
  std::unique_ptr<TPositionStore> positions_;  // shared parts of the atoms' packed positions
  uint32_t createdCount_ = 0;
  // The entered frames, innermost first along Parent, and the left ones kept
  // for reuse, chained the same way. Both chains are owned here and freed
  // one context at a time (a deep recursion's chain is long): LeaveFrame,
  // LeaveAllFrames, the destructor.
  TContext* frame_ = nullptr;
  TContext* spareFrames_ = nullptr;
  size_t spareCount_ = 0;
  // Enough for the frames of a deep recursion to serve the next one.
  static constexpr size_t kMaxSpareFrames = 4096;
  void FreeSpareFrames();
  uintptr_t stackLimit_ = 0;  // lowest usable stack address of this thread
  uintptr_t budgetFloor_ = 0;
  uintptr_t stackCheckFloor_ = 0;
  void UpdateStackCheckFloor() { stackCheckFloor_ = std::max(StackFloor(), budgetFloor_); }
  void UpdateNamesUnremembered() {
    const bool unremembered = ModuleList != nullptr || !FastPaths;
    NameGeneration = (NameGeneration & ~kNamesUnremembered) | (unremembered ? kNamesUnremembered : 0);
  }
};

inline TNameSetting& TNameSetting::operator=(bool value) {
  if (value != value_) {
    value_ = value;
    s_.NameSettingChanged();
  }
  return *this;
}

// Guards one level of a recursive walk or call. TooDeep() turns true when the
// machine stack runs low; the caller then raises TOODEEP (RaiseTooDeep) and
// falls back when the raise is suppressed.
class DepthGuard {
public:
  explicit DepthGuard(TStructure& s);
  ~DepthGuard() { --s_.GuardDepth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  bool TooDeep() const { return tooDeep_; }

private:
  TStructure& s_;
  bool tooDeep_;
};

// Puts a value back when the scope ends, however it ends (counters, flags,
// positions and code pointers that a run or a compile changes for a while).
template <class T>
class RestoreOnExit {
public:
  explicit RestoreOnExit(T& place) : place_(place), saved_(place) {}
  RestoreOnExit(T& place, T value) : place_(place), saved_(place) { place_ = std::move(value); }
  ~RestoreOnExit() { place_ = std::move(saved_); }
  RestoreOnExit(const RestoreOnExit&) = delete;
  RestoreOnExit& operator=(const RestoreOnExit&) = delete;
  const T& Saved() const { return saved_; }

private:
  T& place_;
  T saved_;
};

// Positions are saved and put back around every list run: copied with
// AssignFrom, which skips the reference counts of an unchanged source and
// an empty topic.
template <>
class RestoreOnExit<TPosition> {
public:
  explicit RestoreOnExit(TPosition& place) : place_(place) { saved_.AssignFrom(place); }
  RestoreOnExit(TPosition& place, const TPosition& value) : place_(place) {
    saved_.AssignFrom(place);
    place_.AssignFrom(value);
  }
  ~RestoreOnExit() { place_.AssignFrom(saved_); }
  RestoreOnExit(const RestoreOnExit&) = delete;
  RestoreOnExit& operator=(const RestoreOnExit&) = delete;
  const TPosition& Saved() const { return saved_; }

private:
  TPosition& place_;
  TPosition saved_;
};

// Pins an atom for a scope (across message pumps and nested runs).
class PinnedAtom {
public:
  explicit PinnedAtom(TAtom* atom) : atom_(atom) { TAtom::IncRef(atom_); }
  ~PinnedAtom() { TAtom::DecRef(atom_); }
  PinnedAtom(const PinnedAtom&) = delete;
  PinnedAtom& operator=(const PinnedAtom&) = delete;
  TAtom* get() const { return atom_; }

private:
  TAtom* atom_;
};

inline void TAtom::FreeUnextended(TStructure& s, TAtom& atom) {
  if ((atom.Marks & amPackedPosition) != 0) DropPackedPosition(atom);
  ClearFields(atom);
  atom.Chain = s.FreeAtoms;
  atom.OnChain = AtomChain::Free;
  s.FreeAtoms = &atom;
  --s.LiveCount;
  ++s.FreeCount;
}

// CompareNumbers (Atoms.h): -1, 0 or 1, numbers closer than the tolerance
// equal. Inline for the interpreter's own comparisons, where the call would
// pass both numbers through memory.
inline int NumberOrder(const TStructure& s, long double x, long double y) {
  if (x == y) return 0;
  if (std::fabs(x - y) < s.Epsilon) return 0;
  return x < y ? -1 : 1;
}
