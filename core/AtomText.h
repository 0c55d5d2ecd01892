#pragma once
// The text of an atom (a word's characters, a variable's name) in one
// pointer, so that the atoms without text (list cells, numbers) do not carry
// a whole string, and the empty text costs nothing.
//
// A text is a std::u16string kept in a node of its own, in one of two forms:
// - owned: the node is the string alone, in a 32-byte slot (what the string
//   cost inside the atom before; a short text needs no other block);
// - shared: the node also counts its holders. The scanner gives repeated
//   source tokens one shared node (see TScanner), since a program names the
//   same few words over and over.
// A shared text never changes in place: assigning gives the holder an owned
// node, so a shared node needs no copy-on-write. The nodes come from free lists of
// fixed-size slots (AtomText.cpp); the interpreter runs on one thread.
//
// A text may also know that it holds no surrogate unit, so that counting its
// characters needs no scan: set where it is made from pieces known to hold
// none (a shared node is looked at once, when it is made), dropped by every
// change of an owned node.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TAtomText {
public:
  TAtomText() = default;
  TAtomText(const TAtomText&) = delete;
  TAtomText& operator=(const TAtomText&) = delete;
  ~TAtomText() { clear(); }

  // --- reading ------------------------------------------------------------
  const std::u16string& str() const { return bits_ != 0 ? *StringOf(bits_) : kEmpty; }
  operator const std::u16string&() const { return str(); }
  operator std::u16string_view() const { return str(); }
  std::u16string_view view() const { return str(); }
  size_t size() const { return bits_ != 0 ? StringOf(bits_)->size() : 0; }
  bool empty() const { return size() == 0; }
  // The string's own read operations that callers use on atom texts.
  const char16_t* data() const { return str().data(); }
  char16_t operator[](size_t i) const { return str()[i]; }
  char16_t front() const { return str().front(); }
  char16_t back() const { return str().back(); }
  auto begin() const { return str().begin(); }
  auto end() const { return str().end(); }
  std::u16string substr(size_t start, size_t count = std::u16string::npos) const { return str().substr(start, count); }
  size_t find(char16_t c, size_t start = 0) const { return str().find(c, start); }
  size_t find(std::u16string_view part, size_t start = 0) const { return view().find(part, start); }
  bool starts_with(std::u16string_view part) const { return view().starts_with(part); }
  bool ends_with(std::u16string_view part) const { return view().ends_with(part); }
  bool operator==(std::u16string_view other) const { return view() == other; }

  // --- writing ------------------------------------------------------------
  TAtomText& operator=(std::u16string&& text) {
    if (HasOwnedNode()) {
      *OwnedString() = std::move(text);
      bits_ &= ~kNoSurrogateTag;
      return *this;
    }
    return AssignToNewNode(std::move(text));
  }
  TAtomText& operator=(std::u16string_view text);
  // Makes the text the size units at units (not part of this text), in an
  // owned node: cheaper than an assignment, which must allow for the view
  // showing this text's own characters. noSurrogate: the caller knows the
  // units hold no surrogate.
  void AssignUnits(const char16_t* units, size_t size, bool noSurrogate = false);
  void assign(std::u16string_view text) { *this = text; }
  // Empty, without a node.
  void clear() {
    if (bits_ != 0) Release();
  }
  // A shared node holding the text, counted once for this holder.
  void AssignShared(std::u16string_view text);
  // The same characters as another text: its node when that is shared,
  // else a copy.
  void ShareFrom(const TAtomText& other);
  bool IsShared() const { return (bits_ & kSharedTag) != 0; }
  // The text is known to hold no surrogate unit (false tells nothing).
  bool KnownFreeOfSurrogates() const { return (bits_ & kNoSurrogateTag) != 0; }
  // Both texts are one node (or both empty), so the same characters; false
  // tells nothing.
  bool SameNode(const TAtomText& other) const { return bits_ == other.bits_; }

private:
  // Nodes are 8-byte aligned: the address's low bits carry the tags.
  static constexpr uintptr_t kSharedTag = 1;
  static constexpr uintptr_t kNoSurrogateTag = 2;
  static constexpr uintptr_t kTags = kSharedTag | kNoSurrogateTag;
  static const std::u16string* StringOf(uintptr_t bits) {
    return reinterpret_cast<const std::u16string*>(bits & ~kTags);
  }
  std::u16string* OwnedString() const { return reinterpret_cast<std::u16string*>(bits_ & ~kNoSurrogateTag); }
  bool HasOwnedNode() const { return bits_ != 0 && !IsShared(); }
  TAtomText& AssignToNewNode(std::u16string&& text);
  void Release();
  static inline const std::u16string kEmpty{};

  uintptr_t bits_ = 0;  // 0: empty; else the node's address with its tags
};
static_assert(sizeof(TAtomText) == sizeof(void*), "a text is one pointer");

// Whether any unit of the text is a surrogate (0xD800-0xDFFF).
bool HoldsSurrogate(std::u16string_view text);
