#include "core/AtomText.h"

#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

// Under AddressSanitizer every node is a heap block of its own, so that a
// text used after its atom let go of it is reported.
#if defined(__SANITIZE_ADDRESS__)
#define ZAVTA_TEXT_HEAP_NODES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAVTA_TEXT_HEAP_NODES 1
#endif
#endif

namespace {

struct TSharedNode {
  std::u16string Text;  // first: the node's address is its text's
  uint32_t Holders;     // atoms (and scanner caches) holding it; fewer than 2^32 atoms exist
};
static_assert(std::is_standard_layout_v<TSharedNode>, "a shared node converts to its text");

// Hands out fixed-size slots from large chunks and takes them back onto a
// free list. A malloc block of 32 bytes costs 48; a slot costs 32. Chunks
// are kept for the life of the process and reused.
template <size_t kSlotBytes>
class TSlotAllocator {
public:
  void* Take() {
#if defined(ZAVTA_TEXT_HEAP_NODES)
    return ::operator new(kSlotBytes);
#else
    if (free_ == nullptr) return TakeFresh();
    Slot* slot = free_;
    free_ = slot->Next;
    return slot;
#endif
  }
  void Give(void* address) {
#if defined(ZAVTA_TEXT_HEAP_NODES)
    ::operator delete(address);
#else
    Slot* slot = static_cast<Slot*>(address);
    slot->Next = free_;
    free_ = slot;
#endif
  }

private:
  union Slot {
    Slot* Next;
    alignas(8) unsigned char Bytes[kSlotBytes];
  };
  static constexpr size_t kChunkSlots = 65536 / sizeof(Slot);
  void* TakeFresh() {
    if (fresh_ == freshEnd_) {
      fresh_ = static_cast<Slot*>(::operator new(kChunkSlots * sizeof(Slot)));
      freshEnd_ = fresh_ + kChunkSlots;
    }
    return fresh_++;
  }

  Slot* free_ = nullptr;      // slots given back
  Slot* fresh_ = nullptr;     // the next never-used slot of the newest chunk
  Slot* freshEnd_ = nullptr;  // the end of that chunk
};

// Trivially constructed and destroyed: atoms destroyed late (a static
// interpreter state) still find them.
TSlotAllocator<sizeof(std::u16string)> ownedSlots;
TSlotAllocator<sizeof(TSharedNode)> sharedSlots;
static_assert(sizeof(std::u16string) == 32, "an owned node is the string alone");

// Owned nodes let go of, with their strings, for the next texts made. A
// collection frees the texts of many atoms at once: giving all their blocks
// back then costs the allocator several times what giving each back costs
// when a new text takes its node (as a string inside an atom once kept its
// block until the atom's next text). A kept string keeps its characters:
// every taker assigns the whole string, and the sweep letting go of it need
// not read or write the node or its block at all.
class TNodeStash {
public:
  bool Keep(std::u16string& node) {
#if defined(ZAVTA_TEXT_HEAP_NODES)
    static_cast<void>(node);
    return false;
#else
    if (count_ == kNodes) return false;
    nodes_[count_++] = &node;
    return true;
#endif
  }
  std::u16string* Take() { return count_ != 0 ? nodes_[--count_] : nullptr; }

private:
  static constexpr size_t kNodes = 4096;
  std::u16string* nodes_[kNodes];
  size_t count_ = 0;
};
TNodeStash stash;

uintptr_t NewOwnedNode(std::u16string&& text) {
  std::u16string* node = stash.Take();
  if (node != nullptr)
    *node = std::move(text);
  else
    node = new (ownedSlots.Take()) std::u16string(std::move(text));
  return reinterpret_cast<uintptr_t>(node);
}

uintptr_t NewOwnedNode(std::u16string_view text) {
  std::u16string* node = stash.Take();
  if (node != nullptr)
    node->assign(text.data(), text.size());
  else
    node = new (ownedSlots.Take()) std::u16string(text);
  return reinterpret_cast<uintptr_t>(node);
}

}  // namespace

// Four units a step: a lane of (unit & 0xF800) ^ 0xD800 is zero just for a
// surrogate, and the borrow test finds a zero lane exactly (it may misplace
// one, never invent one).
bool HoldsSurrogate(std::u16string_view text) {
  constexpr uint64_t kTopBits = 0xF800F800F800F800ULL;
  constexpr uint64_t kSurrogate = 0xD800D800D800D800ULL;
  constexpr uint64_t kLaneOnes = 0x0001000100010001ULL;
  constexpr uint64_t kLaneHighs = 0x8000800080008000ULL;
  const auto holdsOne = [&](const char16_t* four) {
    uint64_t units = 0;
    std::memcpy(&units, four, sizeof units);
    const uint64_t lanes = (units & kTopBits) ^ kSurrogate;
    return ((lanes - kLaneOnes) & ~lanes & kLaneHighs) != 0;
  };
  const char16_t* const units = text.data();
  const size_t size = text.size();
  if (size < 4) {
    for (size_t i = 0; i < size; ++i)
      if ((units[i] & 0xF800) == 0xD800) return true;
    return false;
  }
  // The last four units, read once more where they overlap the steps.
  for (size_t i = 0; i + 4 < size; i += 4)
    if (holdsOne(units + i)) return true;
  return holdsOne(units + size - 4);
}

TAtomText& TAtomText::AssignToNewNode(std::u16string&& text) {
  clear();
  if (!text.empty()) bits_ = NewOwnedNode(std::move(text));
  return *this;
}

TAtomText& TAtomText::operator=(std::u16string_view text) {
  if (HasOwnedNode()) {
    OwnedString()->assign(text.data(), text.size());  // safe when the view shows these characters
    bits_ &= ~kNoSurrogateTag;
    return *this;
  }
  // The view may show this shared text's characters: the new node first.
  const uintptr_t made = text.empty() ? 0 : NewOwnedNode(text);
  clear();
  bits_ = made;
  return *this;
}

void TAtomText::AssignUnits(const char16_t* units, size_t size, bool noSurrogate) {
  if (size == 0) {
    clear();
    return;
  }
  if (!HasOwnedNode()) {
    std::u16string* node = stash.Take();
    if (node == nullptr) node = new (ownedSlots.Take()) std::u16string();
    clear();
    bits_ = reinterpret_cast<uintptr_t>(node);
  }
  // Appended to the emptied string: one copy, and no fill before it.
  std::u16string& text = *OwnedString();
  text.clear();
  text.append(units, size);
  bits_ = (bits_ & ~kNoSurrogateTag) | (noSurrogate ? kNoSurrogateTag : 0);
}

void TAtomText::AssignShared(std::u16string_view text) {
  uintptr_t made = 0;
  if (!text.empty()) {
    TSharedNode* node = new (sharedSlots.Take()) TSharedNode{std::u16string(text), 1};
    // Never changed in place: what it holds is looked at once, for all holders.
    made = reinterpret_cast<uintptr_t>(node) | kSharedTag | (HoldsSurrogate(text) ? 0 : kNoSurrogateTag);
  }
  clear();
  bits_ = made;
}

void TAtomText::ShareFrom(const TAtomText& other) {
  if (&other == this) return;
  if (!other.IsShared()) {
    *this = other.view();
    return;
  }
  ++reinterpret_cast<TSharedNode*>(other.bits_ & ~kTags)->Holders;
  clear();
  bits_ = other.bits_;
}

void TAtomText::Release() {
  if ((bits_ & kSharedTag) != 0) {
    TSharedNode* node = reinterpret_cast<TSharedNode*>(bits_ & ~kTags);
    if (--node->Holders == 0) {
      node->~TSharedNode();
      sharedSlots.Give(node);
    }
  } else {
    std::u16string* text = OwnedString();
    if (!stash.Keep(*text)) {
      text->~basic_string();
      ownedSlots.Give(text);
    }
  }
  bits_ = 0;
}
