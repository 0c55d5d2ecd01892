// The atom pool, constructors, tree links and small structural operations.

#include "core/Atoms.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Expr.h"  // TFastCode, destroyed with the extension
#include "core/PositionStore.h"
#include "core/Vars.h"

namespace {
// Never an atom in use: only its address matters.
TAtom systemValueSentinel;

bool IsCellKind(const TAtom* a) { return IsAtom(a) && (a->Kind == akList || a->Kind == akExpression); }

void PushFront(TAtom*& head, TAtom& atom, AtomChain chain) {
  atom.Chain = head;
  atom.OnChain = chain;
  head = &atom;
}

// Case-insensitive name match against an already upper-cased name, without
// building a temporary string.
}  // namespace

TAtom* const SystemValue = &systemValueSentinel;

TAtom::~TAtom() = default;

namespace {
bool IsAnonymousName(const std::u16string& name) {
  return name.size() == 3 && name[0] == u'[' && name[1] == u'~' && name[2] == u']';
}

// The state's name generation (TStructure::NameGeneration) advances.
void AdvanceNameGeneration(const TAtom& atom) { ++*PoolBlockHeadOf(atom).NameGeneration; }

// Called before a child list or a child's name changes; child is the one
// linked, unlinked or renamed, null when the change is the whole list. A
// child named "[~]" (a call's frame, an anonymous copy) is never what a name
// look-up finds, so the parent's named-children stamp stays for it. Nor
// does the name generation advance for it, or for the children of such an
// atom (a call's inputs bound into its frame, its locals): remembered name
// answers walk the frame owner's children (or read the names a frame saw
// there, see TContext::NameBits, which the children generation guards) and
// are never taken through such an atom's children otherwise (unless it is
// a namespace).
void NoteChildrenChange(const TAtom* parent, const TAtom* child = nullptr) {
  if (parent == nullptr || (child != nullptr && IsAnonymousName(child->Text))) return;
  ++*PoolBlockHeadOf(*parent).ChildrenGeneration;
  if (!IsAnonymousName(parent->Text) || (parent->Flags & afNamespace) != 0) AdvanceNameGeneration(*parent);
  if (!parent->Ext) return;
  ++parent->Ext->NamedChildrenStamp;
  if (TChildIndex* index = parent->Ext->ChildIndex) ++index->Epoch;
}

TChildIndex* IndexOf(const TAtom* parent) { return parent != nullptr && parent->Ext ? parent->Ext->ChildIndex : nullptr; }
}  // namespace

// --- the child index -------------------------------------------------------------

void TChildIndex::Attach(TAtom* owner, bool caseSensitive) {
  if (Owner != nullptr && Owner != owner && Owner->Ext) Owner->Ext->ChildIndex = nullptr;
  ++Epoch;
  CaseSensitive = caseSensitive;
  ByName = decltype(ByName)(64, TNameHash{caseSensitive}, TNameEqual{caseSensitive});
  Namespaces.clear();
  Owner = IsAtom(owner) ? owner : nullptr;
  if (Owner == nullptr) return;
  Owner->Extend().ChildIndex = this;
  // Oldest first, so that each newer child of a name becomes its newest.
  std::vector<TAtom*> children;
  for (TAtom* c = Owner->FirstChild; c != nullptr; c = c->NextSibling) children.push_back(c);
  for (auto it = children.rbegin(); it != children.rend(); ++it) LinkedInFront(**it);
}

void TChildIndex::Detach() {
  if (Owner != nullptr && Owner->Ext) Owner->Ext->ChildIndex = nullptr;
  Owner = nullptr;
  Cleared();
  ++Epoch;
}

void TChildIndex::LinkedInFront(TAtom& child) {
  if (child.Flags & afNamespace) Namespaces.insert(Namespaces.begin(), &child);
  if (!Indexed(child.Text)) return;
  TEntry& entry = ByName[child.Text];
  entry.Newest = &child;
  ++entry.Count;
}

TAtom* TChildIndex::NewestNamed(std::u16string_view name, const TAtom* except) const {
  const TNameEqual same{CaseSensitive};
  for (TAtom* c = Owner->FirstChild; c != nullptr; c = c->NextSibling)
    if (c != except && same(c->Text, name)) return c;
  return nullptr;
}

void TChildIndex::Named(TAtom& child) {
  if (!Indexed(child.Text)) return;
  TEntry& entry = ByName[child.Text];
  // Another child of the name may be newer: the chain decides.
  entry.Newest = ++entry.Count == 1 ? &child : NewestNamed(child.Text, nullptr);
}

void TChildIndex::Unnamed(const TAtom& child) {
  if (!Indexed(child.Text)) return;
  const auto found = ByName.find(child.Text);
  if (found == ByName.end()) return;
  if (--found->second.Count == 0) {
    ByName.erase(found);
  } else if (found->second.Newest == &child) {
    found->second.Newest = NewestNamed(child.Text, &child);
  }
}

void TChildIndex::ForgetNamespace(const TAtom& child) {
  const auto found = std::find(Namespaces.begin(), Namespaces.end(), &child);
  if (found != Namespaces.end()) Namespaces.erase(found);
}

void TChildIndex::NamespaceFlagChanged(TAtom& child) {
  ForgetNamespace(child);
  if (!(child.Flags & afNamespace)) return;
  // Its place among the namespaces is before the next older flagged
  // sibling (the list holds exactly the flagged children, in chain order).
  auto place = Namespaces.end();
  for (const TAtom* c = child.NextSibling; c != nullptr; c = c->NextSibling) {
    if (!(c->Flags & afNamespace)) continue;
    place = std::find(Namespaces.begin(), Namespaces.end(), c);
    break;
  }
  Namespaces.insert(place, &child);
}

void TChildIndex::Moved(TAtom& child) {
  if (child.Flags & afNamespace) {
    ForgetNamespace(child);
    Namespaces.push_back(&child);  // moved to the oldest place
  }
  if (!Indexed(child.Text)) return;
  const auto found = ByName.find(child.Text);
  if (found != ByName.end() && found->second.Count > 1) found->second.Newest = NewestNamed(child.Text, nullptr);
}

TAtom::Extension::Extension() = default;
TAtom::Extension::~Extension() = default;

TAtom::Extension& TAtom::Extend() {
  if (!Ext) Ext = std::make_unique<Extension>();
  return *Ext;
}

uint32_t AtomId(const TAtom* a) {
  if (a == nullptr) return kNullIdentity;
  if (a == SystemValue) return kSystemValueIdentity;
  return a->Identity();
}

// --- pool and lifetime ---------------------------------------------------------

void TAtom::Finalize(TStructure& s, TAtom& atom) {
  if (atom.Kind != akWinObject && atom.Kind != akMemoryBlock) return;
  if (atom.Object() == nullptr) return;  // already finalised: at most once per life
  if (TFinalizer finalizer = atom.Finalizer()) finalizer(s, atom);
  if (atom.Kind == akMemoryBlock) {
    // The bytes always come from NewMemoryBlock; free them when the
    // finaliser left them, so no block outlives its atom.
    std::free(atom.Object());
  } else {
    // A GUI object's finaliser may have closed windows; the runner pumps
    // messages at its next safe point rather than in the middle of a release.
    s.PumpPending = true;
  }
  if (atom.Ext) {
    atom.Ext->Object = nullptr;
    atom.Ext->Finalizer = nullptr;
  }
}

void TAtom::Reset(TStructure& s, TAtom& atom) {
  // Most freed atoms are list cells and numbers: no extension (so no
  // finaliser, object, code or child index) and no parent whose child list
  // look-ups remember. They need only their fields cleared.
  // A scanned token's position lives outside its extension.
  if ((atom.Marks & amPackedPosition) != 0) DropPackedPosition(atom);
  if (!atom.Ext && atom.Parent == nullptr) {
    TAtom::ClearFields(atom);
    return;
  }
  Finalize(s, atom);
  // Only a linked child changes a child list that look-ups remember: the
  // atoms the collector frees by the million are not. (A root made again at
  // a freed root's place links its children anew, which is noted.)
  NoteChildrenChange(atom.Parent, &atom);
  if (TChildIndex* index = IndexOf(atom.Parent)) {
    index->Unnamed(atom);
    index->Removed(atom);
  }
  if (TChildIndex* own = IndexOf(&atom)) own->Detach();
  TAtom::ClearFields(atom);
  atom.Ext.reset();  // handler children, code, position, object
}

TAtom& NewAtom(TStructure& s) {
  ++s.AllocationCount;
  TAtom* atom;
  if (s.FreeAtoms != nullptr) {
    atom = s.FreeAtoms;
    s.FreeAtoms = atom->Chain;
    --s.FreeCount;
  } else {
    atom = &s.CreateAtom();
  }
  // No reset here: a new atom is built empty, and one from the free chain
  // was reset when it was released.
  PushFront(s.LiveAtoms, *atom, AtomChain::Live);
  ++s.LiveCount;
  atom->Stamp = ++s.StampCounter;
  return *atom;
}

void TAtom::Release(TStructure& s, TAtom* atom) {
  if (atom == nullptr || atom != s.LiveAtoms) return;
  s.LiveAtoms = atom->Chain;
  // Off every chain while its finaliser runs, so an allocation made there
  // cannot pick it up half-released.
  atom->Chain = nullptr;
  Reset(s, *atom);
  PushFront(s.FreeAtoms, *atom, AtomChain::Free);
  --s.LiveCount;
  ++s.FreeCount;
}

void TAtom::ReleaseNext(TStructure& s, TAtom& atom) {
  TAtom* next = atom.Chain;
  if (next == nullptr) return;
  atom.Chain = next->Chain;
  next->Chain = nullptr;
  Reset(s, *next);
  PushFront(s.FreeAtoms, *next, AtomChain::Free);
  --s.LiveCount;
  ++s.FreeCount;
}

void TAtom::FreeUnlinked(TStructure& s, TAtom& atom) {
  if (atom.Ext) {
    atom.Chain = nullptr;
    // Its parent is garbage as well (a live parent would have kept it), so
    // no child list that look-ups remember changes.
    atom.Parent = nullptr;
    Reset(s, atom);
  } else {
    FreeUnextended(s, atom);
    return;
  }
  PushFront(s.FreeAtoms, atom, AtomChain::Free);
  --s.LiveCount;
  ++s.FreeCount;
}

void TAtom::NoteMarkSet(const TAtom& atom) { PoolBlockHeadOf(atom).Notes->MarksClear = false; }

void TAtom::MoveToKept(TStructure& s, TAtom& atom) {
  if (atom.OnChain != AtomChain::Live) return;
  if (s.LiveAtoms == &atom) {
    s.LiveAtoms = atom.Chain;
  } else {
    TAtom* prev = s.LiveAtoms;
    while (prev != nullptr && prev->Chain != &atom) prev = prev->Chain;
    if (prev == nullptr) return;
    prev->Chain = atom.Chain;
  }
  PushFront(s.KeptAtoms, atom, AtomChain::Kept);
}

void TAtom::FreeMemoryBlock(TStructure&, TAtom& atom) {
  if (!atom.Ext) return;
  std::free(atom.Ext->Object);
  atom.Ext->Object = nullptr;
}

// --- constructors ----------------------------------------------------------------

TAtom* NewNumber(TStructure& s, long double x) {
  TAtom& a = NewAtom(s);
  a.Kind = akNumber;
  a.Number.CopyFrom(x);
  return &a;
}

TAtom* NewWholeNumber(TStructure& s, uint64_t v) {
  TAtom& a = NewAtom(s);
  a.Kind = akNumber;
  a.Number.SetWhole(v);
  return &a;
}

TAtom* NewWord(TStructure& s, std::u16string text) {
  TAtom& a = NewAtom(s);
  a.Text = std::move(text);
  return &a;
}

TAtom* NewWordFromBytes(TStructure& s, std::string_view bytes) {
  return NewWord(s, CodePageToUtf16(bytes, s.Language.CodePage));
}

TAtom* NewBoolean(TStructure& s, bool b) {
  TAtom* shared = b ? s.Language.TrueWord : s.Language.FalseWord;
  if (shared != nullptr && s.FastPaths) return shared;
  return NewWord(s, s.Keyword(b ? kwTrue : kwFalse));
}

TAtom* NewListCell(TStructure& s, TAtom* element, TAtom* next) {
  TAtom& a = NewAtom(s);
  a.Kind = akList;
  a.Left = element;
  a.Right = next;
  return &a;
}

TAtom* NewExpressionCell(TStructure& s, TAtom* element, TAtom* next) {
  TAtom& a = NewAtom(s);
  a.Kind = akExpression;
  a.Left = element;
  a.Right = next;
  return &a;
}

TAtom* NewVariable(TStructure& s, std::u16string name, TAtom* value) {
  TAtom& a = NewAtom(s);
  a.Kind = akVariable;
  a.Text = std::move(name);
  a.Left = value;
  return &a;
}

TAtom* NewWinObject(TStructure& s, WrappedObject* object, TFinalizer finalizer) {
  TAtom& a = NewAtom(s);
  a.Kind = akWinObject;
  a.Extend().Object = object;
  a.Ext->Finalizer = finalizer;
  s.FinalizableAtoms.push_back(&a);
  return &a;
}

TAtom* NewMemoryBlock(TStructure& s, size_t size, TFinalizer finalizer) {
  TAtom& a = NewAtom(s);
  a.Kind = akMemoryBlock;
  a.Extend().Object = std::calloc(size == 0 ? 1 : size, 1);
  a.Number = static_cast<long double>(size);
  a.Ext->Finalizer = finalizer;
  s.FinalizableAtoms.push_back(&a);
  return &a;
}

TAtom* CopyListCells(TStructure& s, const TAtom* list, int32_t count, TAtom* next, TAtom*& lastCopied) {
  TAtom* head = next;
  TAtom** link = &head;
  lastCopied = nullptr;
  for (const TAtom* cell = list; count > 0 && IsCellKind(cell); cell = cell->Right, --count) {
    TAtom& copy = NewAtom(s);
    copy.Kind = akList;
    copy.Left = cell->Left;
    *link = &copy;
    link = &copy.Right;
    lastCopied = &copy;
  }
  *link = next;
  return head;
}

TAtom* CopyListCells(TStructure& s, const TAtom* list, int32_t count, TAtom* next) {
  TAtom* lastCopied = nullptr;
  return CopyListCells(s, list, count, next, lastCopied);
}

void AppendToList(TStructure& s, TAtom* element, TAtom*& head, TAtom*& tail) {
  TAtom* cell = NewListCell(s, element, nullptr);
  if (head == nullptr) {
    head = cell;
  } else {
    tail->Right = cell;
  }
  tail = cell;
}

// --- borrowed rests ----------------------------------------------------------------

namespace {

// A cell a borrowed spine may hold: what a copy would read the same.
bool IsShareableCell(const TAtom* cell) {
  return IsAtom(cell) && cell->Kind == akList && cell->FirstChild == nullptr && !cell->HasPosition();
}

// A cell of a borrowed spine that a walk from a borrower may pass.
bool IsSharedCell(const TAtom* cell) { return IsAtom(cell) && (cell->Marks & amSharedSpine) != 0; }

// A new list cell standing for a borrowed one, offered for borrowing as
// that one is (the rest after it is), with the same spine length.
TAtom& CopyOfBorrowed(TStructure& s, const TAtom& borrowed, TAtom* rest) {
  TAtom* copy = NewListCell(s, borrowed.Left, rest);
  copy->Marks |= amSharedSpine;
  copy->Number = borrowed.Number;
  return *copy;
}

template <class Visit>
void ForEachPoolAtom(TStructure& s, Visit visit) {
  for (TAtom* atom = s.LiveAtoms; atom != nullptr; atom = atom->Chain) visit(*atom);
  for (TAtom* atom = s.KeptAtoms; atom != nullptr; atom = atom->Chain) visit(*atom);
}

// True when the borrowed spine from `from` reaches the target before any
// other borrower: a borrower met first is given its copy in its own turn,
// which cuts this path too.
bool ReachesBeforeOtherBorrowers(const TAtom* from, const TAtom& target) {
  for (const TAtom* cell = from; IsSharedCell(cell); cell = cell->Right) {
    if (cell == &target) return true;
    if ((cell->Marks & amBorrowsRest) != 0) return false;
  }
  return false;
}

// Gives the borrower copies of its borrowed cells up to the target; the
// copy of the target borrows what follows it.
void CopyBorrowedUpTo(TStructure& s, TAtom& borrower, const TAtom& target) {
  TAtom* head = nullptr;
  TAtom** link = &head;
  for (const TAtom* cell = borrower.Right;; cell = cell->Right) {
    TAtom& copy = CopyOfBorrowed(s, *cell, cell->Right);
    *link = &copy;
    link = &copy.Right;
    if (cell == &target) {
      if (copy.Right != nullptr) copy.Marks |= amBorrowsRest;
      break;
    }
  }
  borrower.Right = head;
  borrower.Marks &= static_cast<uint8_t>(~amBorrowsRest);
}

// Takes the spine mark from every cell whose spine reaches the target: a
// later borrower of such a cell would see the change, a copy would not.
void StopOfferingCellsReaching(TStructure& s, const TAtom& target) {
  std::unordered_map<const TAtom*, bool> reaches{{&target, true}};
  std::vector<TAtom*> path;
  ForEachPoolAtom(s, [&](TAtom& atom) {
    TAtom* cell = &atom;
    bool found = false;
    for (; IsSharedCell(cell); cell = cell->Right) {
      const auto known = reaches.find(cell);
      if (known != reaches.end()) {
        found = known->second;
        break;
      }
      path.push_back(cell);
    }
    for (TAtom* passed : path) reaches.emplace(passed, found);
    path.clear();
  });
  for (const auto& [cell, found] : reaches) {
    if (!found) continue;
    TAtom* offered = const_cast<TAtom*>(cell);
    offered->Marks &= static_cast<uint8_t>(~amSharedSpine);
    offered->Number = 0;
  }
}

}  // namespace

bool ShareableRest(TStructure&, TAtom* list) {
  TAtom* cell = list;
  long double unmarked = 0;
  for (; IsAtom(cell) && (cell->Marks & amSharedSpine) == 0; cell = cell->Right) {
    if (!IsShareableCell(cell)) return false;
    ++unmarked;
  }
  if (cell == SystemValue) return false;
  // Each marked cell keeps the length of the spine from it (see Length).
  long double length = unmarked + (IsAtom(cell) ? static_cast<long double>(cell->Number) : 0.0L);
  for (TAtom* marked = list; marked != cell; marked = marked->Right) {
    marked->Marks |= amSharedSpine;
    marked->Number = length--;
  }
  return IsAtom(list);
}

TAtom* OwnRest(TStructure& s, TAtom& cell) {
  if ((cell.Marks & amBorrowsRest) == 0 || !IsAtom(cell.Right)) return cell.Right;
  TAtom& copy = CopyOfBorrowed(s, *cell.Right, cell.Right->Right);
  if (copy.Right != nullptr) copy.Marks |= amBorrowsRest;
  cell.Right = &copy;
  cell.Marks &= static_cast<uint8_t>(~amBorrowsRest);
  return &copy;
}

void OwnSpine(TStructure& s, TAtom* list) {
  for (TAtom* cell = list; IsCellKind(cell); cell = cell->Right)
    if ((cell->Marks & amBorrowsRest) != 0) OwnRest(s, *cell);
}

void UnshareBeforeChange(TStructure& s, TAtom& cell) {
  if ((cell.Marks & amSharedSpine) == 0) return;
  std::vector<TAtom*> borrowers;
  ForEachPoolAtom(s, [&](TAtom& atom) {
    if ((atom.Marks & amBorrowsRest) != 0 && ReachesBeforeOtherBorrowers(atom.Right, cell)) borrowers.push_back(&atom);
  });
  for (TAtom* borrower : borrowers) CopyBorrowedUpTo(s, *borrower, cell);
  StopOfferingCellsReaching(s, cell);
}

// --- flags -------------------------------------------------------------------------

void TAtom::NamespaceFlagChanged(TAtom& atom) {
  AdvanceNameGeneration(atom);  // which scopes a name is looked for in
  if (TChildIndex* index = IndexOf(atom.Parent)) index->NamespaceFlagChanged(atom);
}


void TAtom::FlagTree(TStructure&, TAtom* atom, uint32_t bits, bool on) {
  // Explicit stack and a visited set: program-built structures may be deep
  // or share (even cycle through) atoms.
  std::vector<TAtom*> pending;
  std::unordered_set<TAtom*> visited;
  pending.push_back(atom);
  while (!pending.empty()) {
    TAtom* a = pending.back();
    pending.pop_back();
    if (!IsAtom(a) || !visited.insert(a).second) continue;
    SetFlag(a, bits, on);
    if (a->Kind == akVariable) {
      pending.push_back(a->Left);
      for (TAtom* c = a->FirstChild; c != nullptr; c = c->NextSibling) pending.push_back(c);
    } else if (a->Kind == akList || a->Kind == akExpression) {
      pending.push_back(a->Left);
      pending.push_back(a->Right);
    }
  }
}

// --- kinds -------------------------------------------------------------------------

bool TAtom::IsWinObject(const TAtom* a) { return IsAtom(a) && a->Kind == akWinObject; }
bool TAtom::IsMemoryBlock(const TAtom* a) { return IsAtom(a) && a->Kind == akMemoryBlock; }
bool TAtom::IsListOrExpression(const TAtom* a) { return a == nullptr || IsCellKind(a); }
bool TAtom::IsExpression(const TAtom* a) { return IsAtom(a) && a->Kind == akExpression; }
bool TAtom::IsComma(const TAtom* a) { return IsWord(a) && a->Text == u","; }

bool TAtom::IsPlainVariable(const TAtom* a) {
  if (!IsVariable(a)) return false;
  const TAtom* value = a->Left;
  if (IsWordOrNumber(value)) return true;
  return IsListOrExpression(value) && (a->FirstChild == nullptr || value != nullptr);
}

// A cell of a spine offered for borrowing keeps its length: such a spine
// never changes while it carries the mark.
int32_t TAtom::Length(const TAtom* a) {
  int32_t n = 0;
  for (; IsCellKind(a); a = a->Right) {
    if ((a->Marks & amSharedSpine) != 0) return n + static_cast<int32_t>(a->Number);
    ++n;
  }
  return n;
}

TAtom* TAtom::LastCell(TAtom* a) {
  if (!IsCellKind(a)) return nullptr;
  while (IsCellKind(a->Right)) a = a->Right;
  return a;
}

TAtom* TAtom::First(TStructure& s, TAtom* a) {
  if (!IsAtom(a)) {
    s.RaiseError(u"first");
    return nullptr;
  }
  return a->Left;
}

void TAtom::SetValue(TStructure& s, TAtom& variable, TAtom* value) {
  TAtom* old = variable.Left;
  // Storing the same object again must not finalise it under its holder.
  if (IsAtom(old) && old != value) Finalize(s, *old);
  variable.Left = value;
}

std::u16string TAtom::Name(TStructure& s, const TAtom* a) {
  if (!IsAtom(a)) {
    s.RaiseError(s.MessageText(u"BADNAME", {std::u16string(u"[]")}));
    return {};
  }
  return a->Text;
}

void TAtom::SetName(TAtom& a, std::u16string name) {
  NoteChildrenChange(a.Parent);  // whatever the old and the new name
  // The new name may be a handler keyword (compared without the state's
  // keywords here): the parent is marked, and the next assignment that
  // looks finds out.
  if (a.Parent != nullptr) a.Parent->Marks |= amMakeHandlerChild;
  TChildIndex* index = IndexOf(a.Parent);
  if (index != nullptr) index->Unnamed(a);
  a.Text = std::move(name);
  if (index != nullptr) index->Named(a);
}

WrappedObject* TAtom::WinObject(const TAtom* a) {
  return IsWinObject(a) ? static_cast<WrappedObject*>(a->Object()) : nullptr;
}

// --- code lists --------------------------------------------------------------------


void TAtom::AddCode(TAtom& a, int32_t word) {
  Extension& ext = a.Extend();
  if (!ext.Code) ext.Code = std::make_unique<std::vector<int32_t>>();
  ext.Code->push_back(word);
  ++ext.CodeGeneration;
}

void TAtom::AppendCode(TAtom& a, const int32_t* words, size_t count) {
  Extension& ext = a.Extend();
  if (!ext.Code) ext.Code = std::make_unique<std::vector<int32_t>>();
  ext.Code->insert(ext.Code->end(), words, words + count);
  ext.CodeGeneration += static_cast<uint32_t>(count);
}

void TAtom::PatchLastCode(TAtom& a, int32_t word) {
  std::vector<int32_t>* code = a.Code();
  if (code != nullptr && !code->empty()) {
    code->back() = word;
    ++a.Ext->CodeGeneration;
  }
}

void TAtom::ClearCode(TAtom& a) {
  Extension& ext = a.Extend();
  if (ext.Code) {
    ext.Code->clear();
  } else {
    // Room for a usual statement's code, which would otherwise grow in
    // several steps.
    constexpr size_t kUsualCodeWords = 40;
    ext.Code = std::make_unique<std::vector<int32_t>>();
    ext.Code->reserve(kUsualCodeWords);
  }
  ++ext.CodeGeneration;
}

void TAtom::FreeCode(TAtom& a) {
  if (!a.Ext) return;
  a.Ext->Code.reset();
  ++a.Ext->CodeGeneration;
}

void TAtom::DropCodeTree(TStructure&, TAtom* a) {
  std::vector<TAtom*> pending{a};
  std::unordered_set<TAtom*> visited;
  while (!pending.empty()) {
    TAtom* cell = pending.back();
    pending.pop_back();
    for (; IsCellKind(cell) && visited.insert(cell).second; cell = cell->Right) {
      if (cell->Code() != nullptr) ClearCode(*cell);
      if (IsCellKind(cell->Left)) pending.push_back(cell->Left);
    }
  }
}

// --- tree links ----------------------------------------------------------------------

void TAtom::SetParent(TStructure& s, TAtom& child, TAtom* parent) {
  if (child.Parent == parent) return;
  // A node may not become its own ancestor: that would make every upward
  // walk (full names, locks, silence) endless. Only a node with children can
  // be an ancestor of another, so fresh variables skip the walk.
  if (&child == parent) return;
  if (child.FirstChild != nullptr)
    for (const TAtom* p = parent; p != nullptr; p = p->Parent)
      if (p == &child) return;
  Unlink(&child);
  child.Parent = parent;
  if (parent == nullptr) return;
  NoteChildrenChange(parent, &child);
  child.NextSibling = parent->FirstChild;
  parent->FirstChild = &child;
  if (TChildIndex* index = IndexOf(parent)) index->LinkedInFront(child);
  // This runs for every variable made: most names have no handler's size.
  if (((s.Language.HandlerNameSizes >> std::min<size_t>(child.Text.size(), 63)) & 1) == 0) return;
  // The keywords are stored normalised; compare without building the
  // child's normalised name.
  auto isKeyword = [&s, &child](int index) {
    const std::u16string& keyword = s.Keyword(index);
    return !keyword.empty() && s.SameName(child.Text, keyword);
  };
  if (isKeyword(kwOndrawimage)) {
    parent->Extend().DrawImageChild = &child;
    parent->Marks |= amHandlerChildren;
  } else if (isKeyword(kwOnchange)) {
    parent->Extend().ChangeChild = &child;
    parent->Marks |= amHandlerChildren;
    child.Marks |= amChangeHandler;
  }
  // Assignments look for these handlers under the frame owner only when
  // the mark says one may be there.
  for (const std::u16string& head : s.Language.MakeHandlerHeads)
    if (!head.empty() && s.SameName(child.Text, head)) parent->Marks |= amMakeHandlerChild;
}

void TAtom::Unlink(TAtom* child) {
  if (!IsAtom(child) || child->Parent == nullptr) return;
  TAtom* parent = child->Parent;
  NoteChildrenChange(parent, child);
  if (Extension* ext = parent->Ext.get()) {
    if (ext->DrawImageChild == child) ext->DrawImageChild = nullptr;
    if (ext->ChangeChild == child) {
      ext->ChangeChild = nullptr;
      child->Marks &= static_cast<uint8_t>(~amChangeHandler);
    }
    if (ext->DrawImageChild == nullptr && ext->ChangeChild == nullptr)
      parent->Marks &= static_cast<uint8_t>(~amHandlerChildren);
  }
  if (parent->FirstChild == child) {
    parent->FirstChild = child->NextSibling;
  } else {
    for (TAtom* c = parent->FirstChild; c != nullptr; c = c->NextSibling) {
      if (c->NextSibling == child) {
        c->NextSibling = child->NextSibling;
        break;
      }
    }
  }
  child->Parent = nullptr;
  child->NextSibling = nullptr;
  if (TChildIndex* index = IndexOf(parent)) {
    index->Unnamed(*child);
    index->Removed(*child);
  }
}

void TAtom::MoveToLastChild(TAtom& child) {
  TAtom* parent = child.Parent;
  if (parent == nullptr || child.NextSibling == nullptr) return;
  NoteChildrenChange(parent, &child);
  TAtom* predecessor = nullptr;
  if (FindChild(*parent, &child, &predecessor) == nullptr) return;
  if (predecessor == nullptr)
    parent->FirstChild = child.NextSibling;
  else
    predecessor->NextSibling = child.NextSibling;
  TAtom* last = child.NextSibling;
  while (last->NextSibling != nullptr) last = last->NextSibling;
  last->NextSibling = &child;
  child.NextSibling = nullptr;
  if (TChildIndex* index = IndexOf(parent)) index->Moved(child);
}

TAtom* TAtom::FindChild(TAtom& parent, const TAtom* child, TAtom** predecessor) {
  TAtom* prev = nullptr;
  for (TAtom* c = parent.FirstChild; c != nullptr; prev = c, c = c->NextSibling) {
    if (c == child) {
      if (predecessor) *predecessor = prev;
      return c;
    }
  }
  if (predecessor) *predecessor = nullptr;
  return nullptr;
}

TAtom* TAtom::FindChildByName(const TStructure& s, const TAtom& parent, std::u16string_view name, TAtom** predecessor) {
  if (const TChildIndex* index = IndexOf(&parent);
      index != nullptr && predecessor == nullptr && index->CaseSensitive == s.CaseSensitive && TChildIndex::Indexed(name))
    return index->Find(name);
  TAtom* prev = nullptr;
  size_t walked = 0;
  for (TAtom* c = parent.FirstChild; c != nullptr; prev = c, c = c->NextSibling, ++walked) {
    if (s.SameName(c->Text, name)) {
      if (predecessor) *predecessor = prev;
      if (walked > kIndexAfterChildren && predecessor == nullptr && TChildIndex::Indexed(name))
        IndexOwnChildren(s, const_cast<TAtom&>(parent));
      return c;
    }
  }
  if (predecessor) *predecessor = nullptr;
  if (walked > kIndexAfterChildren && TChildIndex::Indexed(name)) IndexOwnChildren(s, const_cast<TAtom&>(parent));
  return nullptr;
}

void TAtom::IndexOwnChildren(const TStructure& s, TAtom& parent) {
  if (!IsAtom(&parent) || parent.Kind != akVariable) return;
  Extension& ext = parent.Extend();
  // The root's index belongs to the interpreter state; another index in
  // place is left alone.
  if (ext.ChildIndex != nullptr && ext.ChildIndex != ext.OwnIndex.get()) return;
  if (!ext.OwnIndex) ext.OwnIndex = std::make_unique<TChildIndex>();
  ext.OwnIndex->Attach(&parent, s.CaseSensitive);
}

void TAtom::ClearChildren(TAtom& a) {
  NoteChildrenChange(&a);
  if (TChildIndex* index = IndexOf(&a)) index->Cleared();
  a.FirstChild = nullptr;
  if (a.Ext) {
    a.Ext->DrawImageChild = nullptr;
    if (a.Ext->ChangeChild != nullptr) a.Ext->ChangeChild->Marks &= static_cast<uint8_t>(~amChangeHandler);
    a.Ext->ChangeChild = nullptr;
  }
  a.Marks &= static_cast<uint8_t>(~amHandlerChildren);
}

void TAtom::ResetVariable(TStructure& s, TAtom& variable) {
  SetValue(s, variable, nullptr);
  if (variable.FirstChild == nullptr) return;  // no members to drop (most stores)
  TAtom* change = variable.ChangeChild();
  TAtom* depend = FindChildByName(s, variable, s.Keyword(kwOndepend));
  // The dropped children no longer belong to the variable; clearing their
  // links keeps a later SetParent from taking them for linked children.
  NoteChildrenChange(&variable);
  for (TAtom* c = variable.FirstChild; c != nullptr;) {
    TAtom* next = c->NextSibling;
    c->Parent = nullptr;
    c->NextSibling = nullptr;
    c = next;
  }
  ClearChildren(variable);
  if (depend != nullptr) SetParent(s, *depend, &variable);
  if (change != nullptr && change != depend) SetParent(s, *change, &variable);
}

namespace {
bool IsAncestorOrSelf(const TAtom* node, const TAtom* of) {
  for (const TAtom* p = of; p != nullptr; p = p->Parent)
    if (p == node) return true;
  return false;
}

void CopyChildren(TStructure& s, TAtom& source, TAtom& target, const TAtom& outerTarget) {
  DepthGuard guard(s);
  if (guard.TooDeep()) {
    s.RaiseTooDeep();
    return;
  }
  // Oldest first, each linked in front: the copy keeps the source's order.
  std::vector<TAtom*> children;
  for (TAtom* c = source.FirstChild; c != nullptr; c = c->NextSibling) {
    // The copy never descends into its own target (copying a node into one
    // of its descendants would otherwise never end).
    if (c == source.ChangeChild() || IsAncestorOrSelf(c, &outerTarget)) continue;
    children.push_back(c);
  }
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    TAtom* copy = s.CreateVariable(&target, (*it)->Text, true, (*it)->Left);
    CopyChildren(s, **it, *copy, outerTarget);
  }
}
}  // namespace

void TAtom::CopyInto(TStructure& s, TAtom& source, TAtom& target) {
  target.Left = source.Left;
  CopyChildren(s, source, target, target);
}

std::u16string TAtom::FullName(const TAtom* a) {
  if (!IsAtom(a)) return {};
  if (a->Parent == nullptr) return a->Text;
  std::vector<const TAtom*> path;
  for (const TAtom* n = a; n->Parent != nullptr; n = n->Parent) path.push_back(n);
  std::u16string name;
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    if (!name.empty() || it != path.rbegin()) name += u'.';
    name += (*it)->Text;
  }
  return name;
}

bool TAtom::NotifySuppressed(const TAtom* a) {
  for (; IsAtom(a); a = a->Parent)
    if (a->Flags & afSilent) return true;
  return false;
}

bool TAtom::IsLocked(const TAtom* a) {
  for (; IsAtom(a); a = a->Parent) {
    if (a->Flags & afLocked) return true;
    if (a->Flags & afFrame) return false;
  }
  return false;
}

// --- positions -------------------------------------------------------------------------

namespace {
// The record of a position when it fits one; the source is acquired.
bool PackPosition(TPositionStore& store, const TPosition& position, TPackedPosition& record) {
  const int64_t length = int64_t{position.EndPos} - position.StartPos;
  if (length < 0 || length > kMaxPackedLength) return false;
  const uint32_t source = store.Acquire(position);
  if (source == TPositionStore::kNoSource) return false;
  record.StartPos = position.StartPos;
  record.Line = position.Line;
  record.SourceAndLength = source << kPackedLengthBits | static_cast<uint32_t>(length);
  return true;
}
}  // namespace

void TAtom::SetPosition(TAtom& a, const TPosition& position) {
  TPoolBlockTail& tail = BlockTailOf(a);
  TPackedPosition record;
  if (PackPosition(*tail.Store, position, record)) {
    DropPackedPosition(a);
    PackedRecordOf(a) = record;
    a.Marks |= amPackedPosition;
    // An unpacked copy handed out before stays valid and current.
    if (a.Ext && a.Ext->Position) *a.Ext->Position = position;
    return;
  }
  DropPackedPosition(a);
  Extension& ext = a.Extend();
  if (ext.Position)
    *ext.Position = position;
  else
    ext.Position = std::make_unique<TPosition>(position);
}

void TAtom::DropPackedPosition(TAtom& a) {
  if ((a.Marks & amPackedPosition) == 0) return;
  BlockTailOf(a).Store->Release(PackedRecordOf(a).SourceAndLength >> kPackedLengthBits);
  a.Marks &= static_cast<uint8_t>(~amPackedPosition);
}

TPosition* TAtom::UnpackedPosition() const {
  TAtom& self = const_cast<TAtom&>(*this);  // the unpacked copy is a cache of the record
  Extension& ext = self.Extend();
  if (!ext.Position) ext.Position = std::make_unique<TPosition>();
  BlockTailOf(*this).Store->Unpack(PackedRecordOf(*this), *ext.Position);
  return ext.Position.get();
}

namespace {
// The position of atoms without one (made at start-up: statements ask for
// positions far too often for a guarded local).
const TPosition kAbsentPosition;
}  // namespace

const TPosition& TAtom::PositionOf(const TAtom* a) {
  const TPosition& absent = kAbsentPosition;
  if (!IsAtom(a)) return absent;
  if (const TPosition* own = a->Position()) return *own;
  if (IsCellKind(a) && IsAtom(a->Left))
    if (const TPosition* element = a->Left->Position()) return *element;
  return absent;
}

namespace {
// The atom PositionOf takes the position from: a itself, else a cell's element.
const TAtom* PositionHolder(const TAtom* a) {
  if (!IsAtom(a)) return nullptr;
  if (a->HasPosition()) return a;
  if (IsCellKind(a) && IsAtom(a->Left) && a->Left->HasPosition()) return a->Left;
  return nullptr;
}
}  // namespace

bool TAtom::SpanOf(const TAtom* a, int32_t& startPos, int32_t& endPos) {
  const TAtom* holder = PositionHolder(a);
  if (holder == nullptr) return false;
  if (holder->Ext && holder->Ext->Position) {
    startPos = holder->Ext->Position->StartPos;
    endPos = holder->Ext->Position->EndPos;
  } else {
    const TPackedPosition& record = PackedRecordOf(*holder);
    startPos = record.StartPos;
    endPos = record.StartPos + static_cast<int32_t>(record.SourceAndLength & kMaxPackedLength);
  }
  return true;
}

TPosition TAtom::GetPosition(const TAtom* a) {
  // A copy needs no unpacked record kept on the atom.
  const TAtom* holder = PositionHolder(a);
  if (holder == nullptr) return kAbsentPosition;
  if (holder->Ext && holder->Ext->Position) return *holder->Ext->Position;
  TPosition position;
  BlockTailOf(*holder).Store->Unpack(PackedRecordOf(*holder), position);
  return position;
}

void MakeSourcePos(TPosition& position, std::u16string sourceName, std::u16string sourceText, int32_t startPos,
                   int32_t line, int32_t depth) {
  position.SourceName = SharedText(std::move(sourceName));
  position.SourceText = SharedText(std::move(sourceText));
  position.StartPos = startPos;
  position.Line = line;
  position.Depth = depth;
  position.Procedure = nullptr;
}

std::u16string PointerToHex(uint32_t value) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text(8, u'0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 0xF];
  return text;
}

uint32_t LowAddressBits(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
