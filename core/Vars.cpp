// The interpreter state: frames, operand stacks, name resolution, argument
// cells, the error trace and the core's side of the language texts.

#include "core/Vars.h"

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string_view>
#include <system_error>

#include "core/Host.h"
#include "core/PositionStore.h"
#include "core/Text.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZAVTA_POOL_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAVTA_POOL_LSAN 1
#endif
#endif
#if defined(ZAVTA_POOL_LSAN)
#include <sanitizer/lsan_interface.h>
#endif

// --- small types -------------------------------------------------------------------

const std::u16string& SharedText::Empty() {
  static const std::u16string empty;
  return empty;
}

LanguageError::LanguageError(std::u16string message) : message_(std::move(message)), utf8_(Utf16ToUtf8(message_)) {}

void TStack::UnpinAllItems() {
  for (const TStackEntry& e : Items) TAtom::DecRef(e.Value);
  Items.clear();
}

// --- language texts ------------------------------------------------------------------

const std::array<std::u16string_view, kKeywordCount> KeywordKeys = {
    u"to",
    u"ob",
    u"make",
    u"print",
    u"run",
    u"if",
    u"local",
    u"while",
    u"repeat",
    u"output",
    u"end",
    u"dll",
    u"true",
    u"false",
    u"ondrawimage",
    u"onchange",
    u"onlocalchange",
    u"onidentity",
    u"ondrag",
    u"oninteractive",
    u"oninteractiveplane",
    u"get_",
    u"put_",
    u"definition",
    u"history",
    u"onhistorycreate",
    u"onhistoryupdate",
    u"onpriority",
    u"onleftassociation",
    u"onbeforemake",
    u"onaftermake",
    u"onmousedown",
    u"onmousemove",
    u"onmouseup",
    u"onmouseclick",
    u"onplan",
    u"lambda",
    u"ondepend",
    u"onbeforedraw",
    u"onevent",
    u"onclick",
    u"ondoubleclick",
    u"onenter",
    u"onleave",
    u"onkeydown",
    u"onkeyup",
    u"onkeypress",
    u"onmodified",
    u"onnotify",
    u"onscroll",
    u"onmoved",
    u"onpopup",
    u"ontimer",
    u"onhide",
    u"onshow",
    u"onresize",
    u"onclose",
    u"onselectionchange",
    u"onplaychange",
    u"onabout",
    u"onerror",
    u"oninspector",
    u"oninspector.supported",
    u"oninspector.explain",
    u"oninspector.1",
    u"oninspector.2",
    u"onminleftinputs",
    u"onmaxleftinputs",
    u"onminrightinputs",
    u"onmaxrightinputs",
    u"x",
    u"y",
    u"z",
    u"#1",
    u"radius",
    u"radiusx",
    u"radiusy",
    u"radiusz",
    u"affine",
    u"affine.p",
    u"affine.x",
    u"affine.y",
    u"affine.z",
    u"center",
    u"focus",
    u"spin",
    u"color",
    u"width",
    u"antialias",
    u"smooth",
    u"stipple",
    u"pattern",
    u"texture",
    u"texture.scale",
    u"texture.scalex",
    u"texture.scaley",
    u"texture.spin",
    u"texture.smooth",
    u"precision",
    u"mode",
    u"range",
    u"range.fromangle",
    u"range.toangle",
    u"range.mode",
    u"normal",
    u"subnormal",
    u"light",
    u"light.bidirectional",
    u"shininess",
    u"material.specular.x",
    u"material.specular.y",
    u"material.specular.z",
    u"material.specular.#1",
    u"initial",
    u"final",
    u"hollow",
    u"ratio",
    u"ratiox",
    u"ratioy",
    u"points",
    u"bold",
    u"italic",
    u"rangev.fromangle",
    u"rangev.toangle",
    u"texturename",
    u"scale",
    u"P",
    u"Q",
    u"R",
    u"precisiony",
    u"index",
    u"A",
    u"B",
    u"C",
    u"D",
    u"enable",
    u"color.x",
    u"color.y",
    u"color.z",
    u"color.#1",
    u"height",
    u"fontname",
    u"deviation",
    u"depth",
    u"string",
    u"font",
    u"sharpness",
    u"eyedistance",
    u"eye",
    u"forehead",
};

void TLanguage::SetTexts(const std::vector<std::pair<std::u16string, std::u16string>>& pairs) {
  SetTexts(std::vector<std::pair<std::u16string, std::u16string>>(pairs));
}

void TLanguage::SetTexts(std::vector<std::pair<std::u16string, std::u16string>>&& pairs) {
  Texts.clear();
  Texts.reserve(pairs.size());
  for (auto& [name, value] : pairs) {
    for (char16_t& c : name) c = UpperChar(c);  // UpperCase in place
    Texts.emplace(std::move(name), std::move(value));  // first one wins
  }
}

std::u16string TLanguage::RawText(std::u16string_view key) const {
  if (Texts.empty()) return {};
  auto it = Texts.find(UpperCase(key));
  return it == Texts.end() ? std::u16string() : it->second;
}

const std::u16string* TLanguage::FindUpperKey(const std::u16string& upperKey) const {
  if (Texts.empty()) return nullptr;
  const auto it = Texts.find(upperKey);
  return it == Texts.end() || it->second.empty() ? nullptr : &it->second;
}

std::u16string TLanguage::Text(std::u16string_view key) const {
  std::u16string value = RawText(key);
  return value.empty() ? std::u16string(key) : value;
}

void TLanguage::RefreshFormats() {
  UnmatchedFormat = Text(u"UNMATCHED");
  UnknownVarFormat = Text(u"UNKNOWNVAR");
  UnknownFileFormat = Text(u"UNKNOWNFILE");
  InModuleFormat = Text(u"INMODULE");
  UserLockFormat = Text(u"USERLOCK");
  ArgCountFormat = Text(u"ARGCOUNT");
  BadArgFormat = Text(u"BADARG");
  BadCommandFormat = Text(u"BADCOMMAND");
  SystemErrorText = Text(u"SYSTEMERROR");
  BadNameFormat = Text(u"BADNAME");
}

void TStructure::LoadKeywords() {
  ++KeywordGeneration;  // the handler keywords decide how names walk
  ++NameGeneration;
  // Text(key), then NormalizeName and UpperCase, into the tables' own
  // storage: a table rebuilt keeps its strings.
  std::u16string key;
  for (size_t i = 0; i < kKeywordCount; ++i) {
    UpperCaseInto(key, KeywordKeys[i]);
    const std::u16string* text = Language.FindUpperKey(key);
    const std::u16string& word = text != nullptr ? *text : key;
    std::u16string& normal = Language.KeywordTable[i];
    if (CaseSensitive)
      normal.assign(word);
    else
      UpperCaseInto(normal, word);
    UpperCaseInto(Language.KeywordTableUpper[i], normal);
  }
  const std::array<int, 2> makeHandlers{kwOnbeforemake, kwOnaftermake};
  for (size_t i = 0; i < makeHandlers.size(); ++i) {
    const std::u16string& keyword = Keyword(makeHandlers[i]);
    Language.MakeHandlerHeads[i] = keyword.substr(0, keyword.find(u'.'));
  }
  Language.HandlerNameSizes = 0;
  const std::array<const std::u16string*, 4> handlerNames{&Keyword(kwOndrawimage), &Keyword(kwOnchange),
                                                         &Language.MakeHandlerHeads[0], &Language.MakeHandlerHeads[1]};
  for (const std::u16string* name : handlerNames)
    if (!name->empty()) Language.HandlerNameSizes |= uint64_t{1} << std::min<size_t>(name->size(), 63);
  TAtom::DecRef(Language.TrueAtom);
  TAtom::DecRef(Language.FalseAtom);
  Language.TrueAtom = NewWord(*this, Language.KeywordTableUpper[kwTrue]);
  Language.FalseAtom = NewWord(*this, Language.KeywordTableUpper[kwFalse]);
  TAtom::IncRef(Language.TrueAtom);
  TAtom::IncRef(Language.FalseAtom);
  TAtom::DecRef(Language.TrueWord);
  TAtom::DecRef(Language.FalseWord);
  Language.TrueWord = NewWord(*this, Keyword(kwTrue));
  Language.FalseWord = NewWord(*this, Keyword(kwFalse));
  TAtom::IncRef(Language.TrueWord);
  TAtom::IncRef(Language.FalseWord);
  Language.TrueWordIsTrue = false;
  Language.FalseWordIsFalse = false;
  // A false keyword spelt as a true word of either language is not false
  // in every setting.
  Language.TrueWordIsTrue = !Language.KeywordTableUpper[kwTrue].empty() && TAtom::IsTrue(*this, Language.TrueWord);
  Language.FalseWordIsFalse = Language.KeywordTableUpper[kwFalse] != u"TRUE" && TAtom::IsFalse(*this, Language.FalseWord);
}

// --- the state and its pool ------------------------------------------------------------

namespace {
// Programs make atoms by the million. A pool block's memory is faulted in
// when it is mapped, in one call rather than a fault per page. Huge pages
// are not asked for: where the system compacts memory to grant them, that
// costs several times more than the small pages.
constexpr size_t kBlockBytes = TStructure::kPoolBlockBytes;
constexpr uint32_t kBlockSize = TStructure::kPoolBlockAtoms;
// Identities stay below 2^31; the last block may hold fewer.
constexpr uint32_t kMaxAtoms = (0x7FFFFFFFu - kFirstAtomIdentity) / kBlockSize * kBlockSize;

// A block sits at an aligned address with its tail of packed positions
// after it (see PositionStore.h): the range is reserved with room to align
// and trimmed. Only the atoms are faulted in; the tail's pages are faulted
// in where positions are written.
TAtom* MapBlock(bool populate) {
  const size_t reserved = kPoolBlockAlign + kPoolBlockMapBytes;
  void* memory = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(memory);
  const uintptr_t aligned = (start + kPoolBlockAlign - 1) & ~(uintptr_t{kPoolBlockAlign} - 1);
  if (aligned > start) munmap(memory, aligned - start);
  const uintptr_t end = aligned + kPoolBlockMapBytes;
  if (start + reserved > end) munmap(reinterpret_cast<void*>(end), start + reserved - end);
  void* atoms = mmap(reinterpret_cast<void*>(aligned), kBlockBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | (populate ? MAP_POPULATE : 0), -1, 0);
  if (atoms == MAP_FAILED) {
    munmap(reinterpret_cast<void*>(aligned), kPoolBlockMapBytes);
    throw std::bad_alloc();
  }
#if defined(ZAVTA_POOL_LSAN)
  // The leak checker scans only the heap, stacks and globals: the texts,
  // extensions and code the atoms own are reachable through this block.
  __lsan_register_root_region(atoms, kBlockBytes);
#endif
  return static_cast<TAtom*>(atoms);
}

uintptr_t CurrentStackLimit() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* address = nullptr;
  size_t size = 0;
  const bool ok = pthread_attr_getstack(&attr, &address, &size) == 0;
  pthread_attr_destroy(&attr);
  return ok ? reinterpret_cast<uintptr_t>(address) : 0;
}
}  // namespace

TStructure::TStructure(Host& host) : host_(&host), stackLimit_(CurrentStackLimit()) {
  UpdateStackCheckFloor();
  UpdateNamesUnremembered();
  positions_ = std::make_unique<TPositionStore>();
  // Before any language file: every keyword is its upper-case key.
  LoadKeywords();
}

TStructure::~TStructure() {
  LeaveAllFrames();
  FreeSpareFrames();
  ClearErrorTrace();
  DestroyAtoms();
  if (nextBlock_.valid()) {
    try {
      BlockDeleter{}(nextBlock_.get());
    } catch (const std::bad_alloc&) {
      // the block was never mapped
    }
  }
}

void TStructure::DestroyAtoms() {
  // Memory blocks give their bytes back; GUI-object finalisers are not run
  // here, since the windows they would touch are being torn down already.
  for (uint32_t index = 0; index < createdCount_; ++index) {
    TAtom& a = blocks_[index / kBlockSize].get()[index % kBlockSize];
    if (a.Kind == akMemoryBlock && a.Object() != nullptr) std::free(a.Object());
    a.~TAtom();
  }
  createdCount_ = 0;
  blocks_.clear();
  blockStarts_.clear();
}

void TStructure::BlockDeleter::operator()(TAtom* atoms) const {
#if defined(ZAVTA_POOL_LSAN)
  __lsan_unregister_root_region(atoms, kBlockBytes);
#endif
  munmap(atoms, kPoolBlockMapBytes);
}

bool TStructure::IsPoolAtom(const TAtom* address) const {
  const auto at = reinterpret_cast<uintptr_t>(address);
  for (size_t block = 0; block < blockStarts_.size(); ++block) {
    const auto start = reinterpret_cast<uintptr_t>(blockStarts_[block]);
    if (at < start || at >= start + size_t{kPoolBlockAtoms} * sizeof(TAtom)) continue;
    if ((at - start) % sizeof(TAtom) != 0) return false;
    const size_t index = block * kPoolBlockAtoms + (at - start) / sizeof(TAtom);
    return index < createdCount_ && address->OnChain != AtomChain::Free;
  }
  return false;
}

void TStructure::AddPoolBlock() {
  if (createdCount_ >= kMaxAtoms) throw std::bad_alloc();
  // The first block is faulted in page by page as atoms are made: a short
  // run uses a small part of it, and populating all of it would be a large
  // part of the run's start-up.
  TAtom* block = nextBlock_.valid() ? nextBlock_.get() : MapBlock(!blocks_.empty());
  blocks_.emplace_back(block);
  blockStarts_.push_back(block);
  BlockTailOf(*block).Store = positions_.get();
  BlockTailOf(*block).Notes = &CollectorNotes;
  BlockTailOf(*block).NameGeneration = &NameGeneration;
  BlockTailOf(*block).ChildrenGeneration = &ChildrenGeneration;
  BlockTailOf(*block).FirstIdentity = createdCount_ + kFirstAtomIdentity;
}

void TStructure::PassPoolBlockMilestone() {
  if (createdCount_ % kBlockSize == 0)
    AddPoolBlock();
  else
    PrepareNextPoolBlock();
}

void TStructure::PrepareNextPoolBlock() {
  // Only where a block may follow the current one.
  const uint64_t nextStart = createdCount_ - createdCount_ % kBlockSize + kBlockSize;
  if (nextBlock_.valid() || nextStart + kBlockSize > kMaxAtoms) return;
  try {
    nextBlock_ = std::async(std::launch::async, MapBlock, true);
  } catch (const std::system_error&) {
    // No thread to spare: the next block is mapped when it is needed.
  }
}

bool TStructure::FastPathsRequested() {
  const char* off = std::getenv("ZAVTA_NO_FAST_PATHS");
  return off == nullptr || std::string_view(off) != "1";
}

DepthGuard::DepthGuard(TStructure& s) : s_(s) {
  ++s_.GuardDepth;
  tooDeep_ = s_.StackRemaining() < TStructure::kStackReserve;
}

// --- frames ------------------------------------------------------------------------------

void TStructure::EnterFrame(TAtom* atom) {
  if (atom == nullptr && frame_) atom = frame_->Owner;
  PushContext(atom);
  if (IsAtom(atom) && atom->Text.size() == 6 && atom->Text == u"[Root]" && Root != atom) {
    Root = atom;
    ++NameGeneration;
  }
}

TAtom* TStructure::LeaveFrame() {
  TContext* left = frame_;
  if (left == nullptr) return nullptr;
  frame_ = left->Parent;
  TAtom* owner = left->Owner;
  TAtom::DecRef(owner);
  left->Stack.UnpinAll();
  left->Owner = nullptr;
  if (spareCount_ < kMaxSpareFrames) [[likely]] {
    left->Parent = spareFrames_;
    spareFrames_ = left;
    ++spareCount_;
  } else {
    delete left;
  }
  return owner;
}

void TStructure::LeaveAllFrames() {
  // One at a time: destroying a deep chain of frames recursively could
  // overflow the stack.
  while (frame_ != nullptr) LeaveFrame();
}

void TStructure::FreeSpareFrames() {
  while (TContext* spare = spareFrames_) {
    spareFrames_ = spare->Parent;
    delete spare;
  }
  spareCount_ = 0;
}

void TStructure::PushModule(TAtom* atom) {
  ModuleList = NewListCell(*this, atom, ModuleList);
  TAtom::IncRef(ModuleList);
  UpdateNamesUnremembered();
}

void TStructure::PopModule() {
  if (ModuleList == nullptr) return;
  TAtom::DecRef(ModuleList);
  ModuleList = ModuleList->Right;
  UpdateNamesUnremembered();
}

void TStructure::ClearVisited() {
  if (!IsAtom(Root)) return;
  std::vector<TAtom*> pending{Root};
  while (!pending.empty()) {
    TAtom* v = pending.back();
    pending.pop_back();
    v->Flags &= ~static_cast<uint32_t>(afActive);
    for (TAtom* c = v->FirstChild; c != nullptr; c = c->NextSibling) pending.push_back(c);
  }
}

// --- argument cells ----------------------------------------------------------------------

TAtom* TStructure::Cell(int32_t n) const {
  if (!frame_ || !IsAtom(frame_->Owner) || n < 1) return nullptr;
  TAtom* c = frame_->Owner->FirstChild;
  for (; c != nullptr && n > 1; --n) c = c->NextSibling;
  return c;
}

TAtom* TStructure::CellValue(int32_t n) const {
  TAtom* c = Cell(n);
  return c ? c->Left : nullptr;
}

long double TStructure::Cell1Number() { return TAtom::AsNumber(*this, Cell1()); }
long double TStructure::Cell2Number() { return TAtom::AsNumber(*this, Cell2()); }
int32_t TStructure::Cell1Integer() { return TAtom::AsInteger(*this, Cell1()); }
int32_t TStructure::Cell2Integer() { return TAtom::AsInteger(*this, Cell2()); }
int32_t TStructure::Cell3Integer() { return TAtom::AsInteger(*this, CellValue(3)); }

TAtom* TStructure::InputMembers(int32_t n) const {
  if (OperandInputs != nullptr) return nullptr;
  const TAtom* cell = Cell(n);
  return cell != nullptr ? cell->FirstChild : nullptr;
}

int32_t TStructure::CellCount() const {
  if (!frame_ || !IsAtom(frame_->Owner)) return 0;
  int32_t n = 0;
  for (TAtom* c = frame_->Owner->FirstChild; c != nullptr; c = c->NextSibling) ++n;
  return n;
}

// --- names and paths -----------------------------------------------------------------------

std::u16string TStructure::NormalizeName(std::u16string_view name) const {
  return CaseSensitive ? std::u16string(name) : UpperCase(name);
}

bool TStructure::IsRootName(std::u16string_view normalisedName) const {
  return normalisedName == (CaseSensitive ? std::u16string_view(u"[Root]") : std::u16string_view(u"[ROOT]"));
}

void TStructure::SplitPath(std::u16string& path, std::u16string& component) const {
  const size_t dot = path.find(u'.');
  if (dot == std::u16string::npos) {
    component = NormalizeName(path);
    path.clear();
  } else if (path == u".") {
    component = u".";
    path.clear();
  } else {
    component = NormalizeName(std::u16string_view(path).substr(0, dot));
    path.erase(0, dot + 1);
  }
}

TAtom* TStructure::WalkPath(TAtom*& atom, std::u16string& path) {
  // Walks with an index into the path and a reused component buffer; the
  // path is rewritten only when the walk ends. Name lookups run on every
  // variable access, so this loop allocates nothing for short names.
  bool lastWasRoot = false;
  std::u16string component;
  const size_t length = path.size();
  size_t pos = 0;
  while (pos < length) {
    const size_t start = pos;
    const std::u16string_view rest = std::u16string_view(path).substr(pos);
    const size_t dot = rest.find(u'.');
    if (dot == std::u16string_view::npos) {
      component.assign(rest);
      pos = length;
    } else if (rest == u".") {
      component.assign(rest);
      pos = length;
    } else {
      component.assign(rest.substr(0, dot));
      pos += dot + 1;
    }
    if (!CaseSensitive && component != u".")
      for (char16_t& ch : component) ch = UpperChar(ch);
    lastWasRoot = false;
    if (component.empty()) {
      if (!IsAtom(atom) || atom->Parent == nullptr) {
        path.erase(0, pos);  // the path keeps what followed the empty component
        return nullptr;
      }
      atom = atom->Parent;
      continue;
    }
    if (IsRootName(component)) {
      atom = Root;
      lastWasRoot = true;
      continue;
    }
    TAtom* next = nullptr;
    if (IsAtom(atom)) {
      if (!Keyword(kwOndrawimage).empty() && component == Keyword(kwOndrawimage))
        next = atom->DrawImageChild();
      else if (!Keyword(kwOnchange).empty() && component == Keyword(kwOnchange))
        next = atom->ChangeChild();
      else
        next = TAtom::FindChildByName(*this, *atom, component);
    }
    if (next == nullptr) {
      // The unresolved rest: from the failing component on when more
      // followed it, else the failing component alone (normalised).
      if (pos < length)
        path.erase(0, start);
      else
        path = component;
      return nullptr;
    }
    atom = next;
  }
  path.clear();
  return lastWasRoot ? nullptr : atom;
}

TAtom* TStructure::FindPath(TAtom* atom, std::u16string_view path) {
  std::u16string rest(path);
  return WalkPath(atom, rest);
}

TAtom* TStructure::CreateVariable(TAtom* parent, std::u16string_view path, bool direct, TAtom* value) {
  if (!IsAtom(parent)) return NewVariable(*this, std::u16string(path), value);
  if (direct || path == u"[~]") {
    TAtom& v = NewAtom(*this);
    v.Kind = akVariable;
    v.Text.assign(path);
    v.Left = value;
    TAtom::SetParent(*this, v, parent);
    return &v;
  }
  TAtom* node = parent;
  std::u16string rest(path);
  if (TAtom* existing = WalkPath(node, rest)) return existing;
  if (rest.empty()) return node;  // the path ended at "[Root]"
  if (!IsAtom(node)) {
    node = parent;
    rest = path;
  }
  std::u16string component;
  while (!rest.empty()) {
    SplitPath(rest, component);
    TAtom* v = NewVariable(*this, component, value);
    TAtom::SetParent(*this, *v, node);
    node = v;
  }
  return node;
}

TAtom* TStructure::NewRootVariable(TAtom* value) { return CreateVariable(Root, u"[~]", true, value); }

TAtom* TStructure::FindLocal(std::u16string_view path) {
  if (!frame_) return nullptr;
  return FindPath(frame_->Owner, path);
}

TAtom* TStructure::LocalValue(std::u16string_view path) {
  TAtom* v = FindLocal(path);
  return v ? v->Left : nullptr;
}

TAtom* TStructure::FindVisible(std::u16string_view path) {
  if (!frame_) return nullptr;
  if (TAtom* v = FindPath(frame_->Owner, path)) return v;
  if (!frame_->Parent) return nullptr;
  for (TAtom* scope = frame_->Parent->Owner; IsAtom(scope); scope = scope->Parent) {
    if (TAtom* v = FindPath(scope, path)) return v;
    if (scope == Root) break;
  }
  return nullptr;
}

TAtom* TStructure::VisibleValue(std::u16string_view path) {
  TAtom* v = FindVisible(path);
  return v ? v->Left : nullptr;
}

namespace {
// How far one walk of a name from a scope got.
struct Probe {
  TAtom* Found = nullptr;  // fully resolved
  bool Partial = false;    // some components matched, not all
  TAtom* Reached = nullptr;
  std::u16string Rest;
};
}  // namespace

static Probe ProbeName(TStructure& s, TAtom* scope, const std::u16string& name) {
  Probe p;
  p.Reached = scope;
  p.Rest = name;
  p.Found = s.WalkPath(p.Reached, p.Rest);
  if (p.Found == nullptr && p.Rest.empty() && IsAtom(p.Reached)) p.Found = p.Reached;  // ended at "[Root]"
  p.Partial = p.Found == nullptr && p.Reached != scope;
  return p;
}

// The root's namespaces from its index; without the fast paths from its
// child chain, as the reference the index is checked against.
template <class Visit>
bool TStructure::ForEachNamespace(Visit visit) {
  if (!FastPaths) {
    for (TAtom* ns = Root->FirstChild; ns != nullptr; ns = ns->NextSibling)
      if ((ns->Flags & afNamespace) && visit(ns)) return true;
    return false;
  }
  if (rootIndex_.Owner != Root || rootIndex_.CaseSensitive != CaseSensitive) AttachRootIndex();
  // By position: a visit may look into a namespace but never relinks one.
  const std::vector<TAtom*>& namespaces = rootIndex_.Namespaces;
  for (size_t i = 0; i < namespaces.size(); ++i)
    if (visit(namespaces[i])) return true;
  return false;
}

// The scopes a one-component name is looked for in, in order: the frame
// owner and its ancestors below the root, the scopes pushed by LOGOASK, the
// root, the namespaces, the calling frames' owners. find(scope) yields the
// child found there or null; a single component either matches or not, so
// no partial match ends the search.
template <class FindChild>
TAtom* TStructure::SearchScopes(FindChild find) {
  if (frame_) {
    for (TAtom* node = frame_->Owner; IsAtom(node) && node != Root; node = node->Parent) {
      LastScope = node;
      if (TAtom* found = find(node)) return found;
    }
  }
  for (TAtom* cell = ModuleList; IsAtom(cell); cell = cell->Right) {
    LastScope = cell->Left;
    if (IsAtom(cell->Left))
      if (TAtom* found = find(cell->Left)) return found;
  }
  if (IsAtom(Root)) {
    if (TAtom* found = find(Root)) return found;
    TAtom* inNamespace = nullptr;
    if (ForEachNamespace([this, &find, &inNamespace](TAtom* ns) {
          LastScope = ns;
          inNamespace = find(ns);
          return inNamespace != nullptr;
        }))
      return inNamespace;
  }
  if (frame_) {
    for (TContext* f = frame_->Parent; f != nullptr; f = f->Parent) {
      LastScope = f->Owner;
      if (IsAtom(f->Owner))
        if (TAtom* found = find(f->Owner)) return found;
    }
  }
  LastScope = nullptr;
  return nullptr;
}

// Whether the root's remembered answer is the whole look-up's: at the top
// level the root is the first scope; in a procedure's frame the frame owner
// (its inputs and locals, a few) must lack the name and the procedure must
// have the named children it had when the answer was remembered.
bool TStructure::RootAnswerStands(const TAtom::Extension& memo, std::u16string_view name) const {
  const TAtom* owner = frame_->Owner;
  if (owner == Root) return true;
  if (!InnerScopeStands(memo)) return false;
  for (const TAtom* c = owner->FirstChild; c != nullptr; c = c->NextSibling)
    if (SameName(c->Text, name)) return false;
  return true;
}

// A name "global.field" found from the root at the top level: the field
// stands while the global has the named children it had then (the root's
// children are checked by the caller) and neither part is a handler keyword.
bool TStructure::FieldAnswerStands(const TAtom::Extension& memo) const {
  const TAtom* global = memo.InnerScope;
  return global != nullptr && global->Parent == Root && global->Stamp == memo.InnerScopeStamp && global->Ext &&
         global->Ext->NamedChildrenStamp == memo.InnerScopeChildren && memo.RootChild->Parent == global;
}

void TStructure::RememberFieldOfGlobal(TAtom& token, std::u16string_view name, TAtom* found) {
  TAtom::Extension* memo = token.TokenExtension();
  const size_t dot = name.find(u'.');
  if (memo == nullptr || !frame_ || frame_->Owner != Root || ModuleList != nullptr || dot == 0 ||
      dot == std::u16string_view::npos || name.find(u'.', dot + 1) != std::u16string_view::npos ||
      dot + 1 == name.size() || name.front() == u'[')
    return;
  TAtom* global = found->Parent;
  if (!IsAtom(global) || global->Parent != Root || SimpleKindOf(name.substr(0, dot)) != SimpleKind::Named ||
      SimpleKindOf(name.substr(dot + 1)) != SimpleKind::Named)
    return;
  memo->FieldOfGlobal = true;
  memo->RootChild = found;
  memo->RootOf = Root;
  memo->RootEpoch = TopLevelEpoch();
  memo->RootCaseSensitive = CaseSensitive;
  memo->Keywords = KeywordGeneration;
  memo->InnerScope = global;
  memo->InnerScopeStamp = global->Stamp;
  memo->InnerScopeChildren = global->Extend().NamedChildrenStamp;
}

// After a look-up through the frames found the name at the root: which
// procedure it passed on the way, for RootAnswerStands.
void TStructure::RememberInnerScope(TAtom& token, const TAtom* found) {
  TAtom::Extension* memo = token.Ext.get();
  if (memo == nullptr || found == nullptr || found->Parent != Root || memo->RootChild != found) return;
  TAtom* owner = frame_ ? frame_->Owner : nullptr;
  memo->InnerScope = nullptr;
  if (!IsAtom(owner) || owner == Root || !IsAtom(owner->Parent) || owner->Parent->Parent != Root) return;
  TAtom* scope = owner->Parent;
  memo->InnerScope = scope;
  memo->InnerScopeStamp = scope->Stamp;
  memo->InnerScopeChildren = scope->Extend().NamedChildrenStamp;
}

// FindName for a name without periods, compared as written (letter case
// ignored unless names are case-sensitive, as normalising would). The
// handler keywords walk to the cached children.
TAtom* TStructure::FindSimpleName(std::u16string_view name, TAtom* token) {
  switch (SimpleKindOf(name)) {
    case SimpleKind::DrawImage:
      return SearchScopes([](TAtom* scope) { return scope->DrawImageChild(); });
    case SimpleKind::Change:
      return SearchScopes([](TAtom* scope) { return scope->ChangeChild(); });
    case SimpleKind::Named:
      break;
  }
  TAtom* found = nullptr;
  if (CaseSensitive) {
    found = SearchScopes([this, name, token](TAtom* scope) -> TAtom* {
      if (scope == Root) return FindRootChild(name, token);
      for (TAtom* c = scope->FirstChild; c != nullptr; c = c->NextSibling)
        if (SameText(c->Text, name)) return c;
      return nullptr;
    });
  } else {
    found = SearchScopes([this, name, token](TAtom* scope) -> TAtom* {
      if (scope == Root) return FindRootChild(name, token);
      for (TAtom* c = scope->FirstChild; c != nullptr; c = c->NextSibling)
        if (SameTextIgnoringCase(c->Text, name)) return c;
      return nullptr;
    });
  }
  if (IsAtom(token) && FastPaths) RememberInnerScope(*token, found);
  return found;
}

size_t TNameHash::operator()(std::u16string_view name) const {
  uint64_t hash = 14695981039346656037ull;
  if (CaseSensitive) {
    for (const char16_t c : name) hash = (hash ^ c) * 1099511628211ull;
  } else {
    for (const char16_t c : name) hash = (hash ^ UpperChar(c)) * 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}

// Inline where the look-ups call it: most names asked for are answered
// from the recent set, and only a miss pays for the map.
[[gnu::always_inline]] inline TAtom* TChildIndex::FindByText(std::u16string_view name, uint64_t hash) {
  if (recent_.empty()) [[unlikely]]
    return FindAndRecall(name, hash);
  // The hash's low bits alone differ too little between names such as
  // "r12" and "r13": its halves are folded together. Two answers share a
  // set, so two names that meet there do not keep pushing each other out.
  const TRecentAnswer* set = &recent_[RecentSetOf(hash)];
  // Nothing named was linked, unlinked or renamed since (the epoch), so a
  // child is still the newest of its name when it carries the name.
  const bool packable = CaseSensitive && name.size() <= kPackedUnits;
  const uint64_t units = packable ? PackedUnits(name) : 0;
  const TNameEqual same{CaseSensitive};
  for (int way = 0; way < 2; ++way) {
    const TRecentAnswer& answer = set[way];
    if (answer.Epoch != Epoch) continue;
    // A packed answer's child carries the packed name.
    if (packable && answer.Size != kNotPacked) {
      if (answer.Size == name.size() && answer.Units == units && answer.Child->Parent == Owner) return answer.Child;
      continue;
    }
    if (answer.Child->Parent == Owner && same(answer.Child->Text, name)) return answer.Child;
  }
  return FindAndRecall(name, hash);
}

TAtom* TChildIndex::FindAndRecall(std::u16string_view name, uint64_t hash) {
  if (recent_.empty()) recent_.resize(kRecentAnswers);
  TAtom* found = Find(name);
  if (found != nullptr) {
    TRecentAnswer* set = &recent_[RecentSetOf(hash)];
    set[1] = set[0];
    set[0] = {Epoch, found};
    // Under this rule the child's text is the name itself.
    if (CaseSensitive && name.size() <= kPackedUnits) {
      set[0].Units = PackedUnits(name);
      set[0].Size = static_cast<uint32_t>(name.size());
    }
  }
  return found;
}

void TStructure::AttachRootIndex() { rootIndex_.Attach(Root, CaseSensitive); }

TAtom* TStructure::FindRootChild(std::u16string_view name, TAtom* token) {
  if (!FastPaths) {
    for (TAtom* c = Root->FirstChild; c != nullptr; c = c->NextSibling)
      if (SameName(c->Text, name)) return c;
    return nullptr;
  }
  if (rootIndex_.Owner != Root || rootIndex_.CaseSensitive != CaseSensitive) AttachRootIndex();
  const uint64_t epoch = rootIndex_.Epoch;
  // A name without a token memo (computed at run time) is found by its text.
  TAtom::Extension* memo = IsAtom(token) ? token->TokenExtension() : nullptr;
  if (memo == nullptr) return rootIndex_.FindByText(name);
  if (memo->RootEpoch == epoch && memo->RootOf == Root && memo->RootCaseSensitive == CaseSensitive)
    return memo->RootChild;
  // The newest globals (the program's own) are compared directly.
  constexpr int kDirectlyCompared = 4;
  TAtom* c = Root->FirstChild;
  TAtom* found = nullptr;
  for (int i = 0; i < kDirectlyCompared && c != nullptr && found == nullptr; ++i, c = c->NextSibling)
    if (SameName(c->Text, name)) found = c;
  if (found == nullptr && c != nullptr) found = rootIndex_.Find(name);
  memo->RootChild = found;
  memo->RootOf = Root;
  memo->RootEpoch = epoch;
  memo->RootCaseSensitive = CaseSensitive;
  memo->Keywords = KeywordGeneration;
  return found;
}

// Inside a procedure's frame its inputs and locals are the first scope
// searched: a one-component name found among them is the whole look-up's
// answer, however deep the call. Paths, names starting "[" and the handler
// keywords (which walk to cached children) go the full way.
TAtom* TStructure::FindOwnInputOrLocal(std::u16string_view name) {
  TAtom* owner = frame_->Owner;
  if (!IsAtom(owner) || owner == Root) return nullptr;
  for (TAtom* c = owner->FirstChild; c != nullptr; c = c->NextSibling) {
    if (c->Text.size() != name.size() || !SameName(c->Text, name)) continue;
    if (name.front() == u'[' || name.find(u'.') != std::u16string_view::npos ||
        SimpleKindOf(name) != SimpleKind::Named)
      return nullptr;
    LastScope = owner;
    return c;
  }
  return nullptr;
}

// The two answers most look-ups in a procedure's frame get, found with one
// walk over the frame owner's children: one of them (an input or local),
// or, when none has the name, the root's answer the token remembers.
// Everything else takes the whole search, which gives the same answers.
TAtom* TStructure::FindName(std::u16string_view rawName, TAtom* token) {
  if (!FastPaths || !frame_ || rawName.empty()) return SearchName(rawName, token);
  TAtom* owner = frame_->Owner;
  if (!IsAtom(owner)) return SearchName(rawName, token);
  if (owner == Root) {
    if (TAtom* global = FindComputedRootName(rawName, token)) return global;
    return SearchName(rawName, token);
  }
  for (TAtom* c = owner->FirstChild; c != nullptr; c = c->NextSibling) {
    if (!NamedAs(*c, rawName)) continue;
    if (rawName.front() == u'[' || rawName.find(u'.') != std::u16string_view::npos || !IsPlainSimpleName(rawName))
      return SearchName(rawName, token);
    LastScope = owner;
    return c;
  }
  const TAtom::Extension* memo = IsAtom(token) ? token->Ext.get() : nullptr;
  if (memo != nullptr && !memo->FieldOfGlobal && RootMemoCurrent(*memo) && InnerScopeStands(*memo))
    return memo->RootChild;
  // A procedure of the root lacks the name: the root is the next scope.
  if (owner->Parent == Root)
    if (TAtom* global = FindComputedRootName(rawName, token)) {
      LastScope = owner;  // where the search passed last, as SearchScopes leaves it
      return global;
    }
  return SearchName(rawName, token);
}

// A name built at run time (by WORD, say: a new word every time, with no
// memo and no position) is looked for by its text in the root's index,
// where the root is the next scope the search would ask: nothing pushed by
// LOGOASK, a one-component name that is no handler keyword. The search
// would find the same child there; on a miss (null) it goes on to the
// namespaces and calling frames.
TAtom* TStructure::FindComputedRootName(std::u16string_view name, const TAtom* token) {
  if (IsAtom(token) && (token->Ext || token->HasPosition())) return nullptr;
  if (ModuleList != nullptr || !IsAtom(Root) || name.front() == u'[' || !IsPlainSimpleName(name) ||
      name.find(u'.') != std::u16string_view::npos)
    return nullptr;
  if (rootIndex_.Owner != Root || rootIndex_.CaseSensitive != CaseSensitive) AttachRootIndex();
  return rootIndex_.FindByText(name);
}

namespace {

// TNameHash's hash of a case-sensitive name, and whether the name is one
// component (has no dot), in one pass over it.
bool HashOfOneComponent(std::u16string_view name, uint64_t& hash) {
  uint64_t h = 14695981039346656037ull;
  bool dotted = false;
  for (const char16_t c : name) {
    dotted |= c == u'.';
    h = (h ^ c) * 1099511628211ull;
  }
  hash = h;
  return !dotted;
}

}  // namespace

// FindName's way for a computed name (a token with neither memo nor
// position, as WORD makes) in a frame the root owns, where the root is the
// first scope: FindComputedRootName's checks and the index's hash in one
// pass over the name, and the whole search where they send it there.
TAtom* TStructure::FindComputedNameAtRoot(TAtom& token) {
  const std::u16string_view name = token.Text.str();
  if (name.empty() || !CaseSensitive || ModuleList != nullptr || !IsAtom(Root) || name.front() == u'[' ||
      !IsPlainSimpleName(name))
    return FindName(name, &token);
  uint64_t hash = 0;
  if (!HashOfOneComponent(name, hash)) return SearchName(name, &token);
  if (rootIndex_.Owner != Root || rootIndex_.CaseSensitive != CaseSensitive) AttachRootIndex();
  if (TAtom* global = rootIndex_.FindByText(name, hash)) return global;
  return SearchName(name, &token);
}

// Whether FindName, in a frame owned by owner, found found in a scope it
// searches before the calling frames (the owner, its ancestors below the
// root, the root, the root's namespaces): the scope holding it is one of
// them, so that search reached it first. Ancestors named "[~]" (whose
// children change without advancing the name generation) answer false.
bool TStructure::FoundBeforeCallingFrames(const TAtom& owner, const TAtom& found) const {
  const TAtom* holder = found.Parent;
  bool inChain = holder == &owner;
  for (const TAtom* node = owner.Parent; IsAtom(node) && node != Root; node = node->Parent) {
    if (node->Text.size() == 3 && node->Text == u"[~]") return false;
    inChain = inChain || node == holder;
  }
  if (inChain || holder == Root) return true;
  return IsAtom(holder) && holder->Parent == Root && (holder->Flags & afNamespace) != 0;
}

uint64_t TStructure::ReadOwnerNameBits(TContext& frame) {
  uint64_t bits = 0;
  uint64_t shared = 0;
  if (IsAtom(frame.Owner))
    for (const TAtom* c = frame.Owner->FirstChild; c != nullptr; c = c->NextSibling) {
      const uint64_t bit = NameBitOf(c->Text.str());
      shared |= bits & bit;
      bits |= bit;
    }
  frame.NamesOwner = frame.Owner;
  frame.NamesGeneration = ChildrenGeneration;
  frame.NameBits = bits;
  frame.SharedNameBits = shared;
  return bits;
}

// A computed name gets no memo: FindName's answer is the answer.
TAtom* TStructure::FindNameWithoutMemo(TAtom& token) {
  if ((token.Marks & amPackedPosition) == 0 && FastPaths && frame_ && frame_->Owner == Root)
    return FindComputedNameAtRoot(token);
  return FindAndRememberName(token);
}

TAtom* TStructure::FindOwnChildOrRemembered(TAtom& owner, TAtom& token, const TAtom::Extension& memo) {
  // Under the case-sensitive rule (the one the memo was made under, as the
  // name generation stands) a name whose bit no two children share is one
  // child's at most: the cell of the token's text node, when there is one,
  // is that child, found without comparing names.
  const TContext& frame = *frame_;
  if (CaseSensitive && frame.NamesOwner == &owner && frame.NamesGeneration == ChildrenGeneration &&
      (frame.SharedNameBits & memo.SiteNameBit) == 0) {
    const TAtomText& text = token.Text;
    for (TAtom* c = owner.FirstChild; c != nullptr; c = c->NextSibling)
      if (c->Text.SameNode(text)) return c;
  }
  return WalkOwnChildren(owner, token, memo);
}

TAtom* TStructure::WalkOwnChildren(TAtom& owner, TAtom& token, const TAtom::Extension& memo) {
  const std::u16string& name = token.Text.str();
  for (TAtom* c = owner.FirstChild; c != nullptr; c = c->NextSibling)
    if (c->Text.SameNode(token.Text) || NamedAs(*c, name)) return c;
  if (memo.SiteAnswer != nullptr) return memo.SiteAnswer;
  return FindAndRememberName(token);
}

TAtom* TStructure::FindAndRememberName(TAtom& token) {
  TAtom* found = FindName(token.Text, &token);
  // A name computed at run time has no position, so no memo; a field of a
  // global (FieldOfGlobal) has its own.
  const TAtom::Extension* ext = token.Ext.get();
  if (found == nullptr || (ext != nullptr && ext->FieldOfGlobal) || (ext == nullptr && !token.HasPosition()) ||
      !FastPaths || !frame_ || ModuleList != nullptr)
    return found;
  const std::u16string_view name = token.Text.str();
  if (name.empty() || name.front() == u'[' || name.find(u'.') != std::u16string_view::npos ||
      !IsPlainSimpleName(name))
    return found;
  TAtom* owner = frame_->Owner;
  if (!IsAtom(owner)) return found;
  const bool atRoot = owner == Root;
  TAtom* scope = atRoot ? Root : owner->Parent;
  if (!IsAtom(scope) || !FoundBeforeCallingFrames(*owner, *found)) return found;
  TAtom::Extension* memo = token.TokenExtension();
  if (memo == nullptr) return found;
  memo->SiteGeneration = NameGeneration;
  memo->SiteScope = scope;
  memo->SiteScopeStamp = scope->Stamp;
  memo->SiteAtRoot = atRoot;
  memo->SiteNameBit = CaseSensitive ? NameBitOf(name) : ~uint64_t{0};
  // Found among the owner's own children: the next look-up in a frame
  // like it finds it there again, and knows nothing beyond them.
  memo->SiteAnswer = !atRoot && found->Parent == owner ? nullptr : found;
  return found;
}

TAtom* TStructure::SearchName(std::u16string_view rawName, TAtom* token) {
  // At the top level, with no scope pushed by LOGOASK, the root is the first
  // scope searched: what it answered the token last time still holds while
  // the root's children are unchanged (no other field is touched on the way).
  if (TAtom::Extension* memo = IsAtom(token) ? token->Ext.get() : nullptr;
      memo != nullptr && memo->RootChild != nullptr && frame_ && ModuleList == nullptr && memo->RootOf == Root &&
      memo->RootEpoch == TopLevelEpoch() && memo->RootCaseSensitive == CaseSensitive &&
      memo->Keywords == KeywordGeneration && FastPaths) {
    if (memo->FieldOfGlobal ? frame_->Owner == Root && FieldAnswerStands(*memo)
                            : frame_->Owner == Root || RootAnswerStands(*memo, rawName))
      return memo->RootChild;
  }
  if (rawName.empty()) {
    LastName.clear();
    LastScope = nullptr;
    return nullptr;
  }
  if (FastPaths && frame_)
    if (TAtom* own = FindOwnInputOrLocal(rawName)) return own;
  // Most names are one component: they go the same way with direct child
  // look-ups, without walking paths or building the normalised name unless
  // the look-up fails.
  if (rawName.front() != u'[' && rawName.find(u'.') == std::u16string_view::npos) {
    TAtom* found = FindSimpleName(rawName, token);
    if (found == nullptr) LastName = NormalizeName(rawName);
    return found;
  }
  const std::u16string name = NormalizeName(rawName);
  LastName = name;
  if (IsRootName(name)) return Root;

  // A partial match in a scope that owns the name ends the search there.
  auto ending = [this](const Probe& p) {
    LastScope = p.Reached;
    LastName = p.Rest;
    return nullptr;
  };

  std::u16string fromRoot = name;
  const bool rootPrefixed = name.size() > 6 && IsRootName(std::u16string_view(name).substr(0, 6));
  if (rootPrefixed) {
    fromRoot = name.substr(7);
  } else {
    // Frames: the current owner and its ancestors below the root.
    if (frame_) {
      for (TAtom* node = frame_->Owner; IsAtom(node) && node != Root; node = node->Parent) {
        LastScope = node;
        Probe p = ProbeName(*this, node, name);
        if (p.Found) return p.Found;
        if (p.Partial) return ending(p);
      }
    }
    // Outer scopes pushed by LOGOASK, newest first.
    for (TAtom* cell = ModuleList; IsAtom(cell); cell = cell->Right) {
      LastScope = cell->Left;
      Probe p = ProbeName(*this, cell->Left, name);
      if (p.Found) return p.Found;
      if (p.Partial) return ending(p);
    }
    // The root; a partial match here does not end the search.
    if (IsAtom(Root)) {
      Probe p = ProbeName(*this, Root, name);
      if (p.Found) {
        if (IsAtom(token) && FastPaths) RememberFieldOfGlobal(*token, name, p.Found);
        return p.Found;
      }
      // Namespaces: root children flagged afNamespace, in child order.
      Probe q;
      if (ForEachNamespace([this, &name, &q](TAtom* ns) {
            LastScope = ns;
            q = ProbeName(*this, ns, name);
            return q.Found != nullptr || q.Partial;
          }))
        return q.Found != nullptr ? q.Found : ending(q);
    }
    // Calling frames: their owners only.
    if (frame_) {
      for (TContext* f = frame_->Parent; f != nullptr; f = f->Parent) {
        LastScope = f->Owner;
        Probe p = ProbeName(*this, f->Owner, name);
        if (p.Found) return p.Found;
        if (p.Partial) return ending(p);
      }
    }
  }
  // Last, from the root once more. A partial walk keeps how far it got, so
  // that a dotted name under a global reports (and assigns) below that global.
  Probe p = ProbeName(*this, Root, fromRoot);
  if (p.Found) return p.Found;
  if (p.Partial) return ending(p);
  LastScope = nullptr;
  LastName = fromRoot;
  return nullptr;
}

void TStructure::CollectValues(TAtom* first, std::u16string_view name, std::u16string& text, std::u16string_view path) {
  DepthGuard guard(*this);
  if (guard.TooDeep()) return;  // hover hints never raise
  for (TAtom* v = first; v != nullptr; v = v->NextSibling) {
    CollectValues(v->FirstChild, name, text, path);
    if ((v->Flags & afSkip) || NormalizeName(v->Text) != name) continue;
    TAtom* found = FindPath(v, path);
    if (found == nullptr) continue;
    const TAtom* value = found->Left;
    // Converted without raising: only words and numbers contribute.
    if (!TAtom::IsWordOrNumber(value)) continue;
    const std::u16string valueText = value->Kind == akNumber ? TAtom::ToText(*this, value) : value->Text;
    if (valueText.empty()) continue;
    text += valueText;
    text += u'\r';
  }
}

// --- errors ----------------------------------------------------------------------------

void TStructure::AddTrace(const TPosition& position) {
  if (!ErrorTrace.empty()) {
    const TPosition& last = ErrorTrace.back();
    if (last.SourceName.str() == position.SourceName.str() && last.StartPos == position.StartPos &&
        last.EndPos == position.EndPos && last.Topic == position.Topic)
      return;
  }
  ErrorTrace.push_back(position);
  // Held in the trace: the statement and the frame owner stay pinned.
  TAtom::IncRef(position.Statement);
  TAtom::IncRef(position.FrameOwner);
}

void TStructure::ClearErrorTrace() {
  for (const TPosition& p : ErrorTrace) {
    TAtom::DecRef(p.Statement);
    TAtom::DecRef(p.FrameOwner);
  }
  ErrorTrace.clear();
}

void TStructure::RaiseError(std::u16string message, std::u16string_view topic, int32_t line) {
  if (CurrentPosition.Line == -1) return;
  TPosition copy = CurrentPosition;
  if (!topic.empty()) copy.Topic = std::u16string(topic);
  if (line != 0) copy.Line = line;
  AddTrace(copy);
  LastError = message;
  throw LanguageError(std::move(message));
}

std::u16string TStructure::MessageText(std::u16string_view key, std::initializer_list<FormatArg> args) const {
  return FormatMessage(Language.Text(key), args);
}

void TStructure::RaiseTooDeep(std::u16string_view where) {
  RaiseError(MessageText(u"TOODEEP", {std::u16string(where)}), u"too-deep");
}
