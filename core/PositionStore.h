#pragma once
// Compact source positions. A scanned program gives every token a position,
// and most of a position is the same for all tokens of a text: its source
// name and text, procedure, depth, topic. The store keeps each such shared
// part once (a source, counted by its users); an atom's own part, its
// offsets and line, is a 12-byte record beside the atom in its pool block.
//
// A pool block is mapped at an address aligned to kPoolBlockAlign and is
// followed by its tail: its head (TPoolBlockHead: the store, the identity of
// the block's first atom) and one record per atom slot, so that an atom
// finds its record and its identity from its own address. The tail's pages
// are only faulted in where records are written.
//
// Positions that do not fit a record (spans longer than kMaxPackedLength,
// an end before the start) stay whole records in the atom's extension.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Vars.h"

// One atom's own part of its position.
struct TPackedPosition {
  int32_t StartPos;
  int32_t Line;
  uint32_t SourceAndLength;  // source index << kPackedLengthBits | EndPos - StartPos
};

constexpr uint32_t kPackedLengthBits = 12;
constexpr int32_t kMaxPackedLength = (1 << kPackedLengthBits) - 1;
constexpr uint32_t kMaxPackedSources = 1u << (32 - kPackedLengthBits);

class TPositionStore;

struct TPoolBlockTail : TPoolBlockHead {
  TPackedPosition Records[TStructure::kPoolBlockAtoms];
};

constexpr size_t kPageBytes = 4096;
constexpr size_t kPoolBlockTailBytes = (sizeof(TPoolBlockTail) + kPageBytes - 1) / kPageBytes * kPageBytes;
constexpr size_t kPoolBlockMapBytes = TStructure::kPoolBlockBytes + kPoolBlockTailBytes;
static_assert(kPoolBlockMapBytes <= kPoolBlockAlign, "a block and its tail fit one aligned range");
static_assert((kPoolBlockAlign & (kPoolBlockAlign - 1)) == 0, "the alignment is a power of two");

// The tail of the pool block holding an atom.
inline TPoolBlockTail& BlockTailOf(const TAtom& atom) {
  return *reinterpret_cast<TPoolBlockTail*>(PoolBlockBase(atom) + TStructure::kPoolBlockBytes);
}
inline TPackedPosition& PackedRecordOf(const TAtom& atom) { return BlockTailOf(atom).Records[PoolSlotOf(atom)]; }

class TPositionStore {
public:
  static constexpr uint32_t kNoSource = UINT32_MAX;
  // The source of a position's shared part, one more user counted; kNoSource
  // when no more sources can be told apart.
  uint32_t Acquire(const TPosition& position);
  void Release(uint32_t source);
  // The whole position of a record.
  void Unpack(const TPackedPosition& record, TPosition& out) const;
  // Sources in use (for tests).
  size_t SourceCount() const { return index_.size(); }

private:
  struct Key {
    const void* Name;
    const void* Text;
    const TAtom* Procedure;
    const TAtom* Statement;
    const TAtom* FrameOwner;
    int32_t Depth;
    std::u16string Topic;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const;
  };
  struct Source {
    TPosition Shared;  // offsets and line unset
    uint32_t Users = 0;
  };
  static Key KeyOf(const TPosition& position);

  std::vector<Source> sources_;
  std::vector<uint32_t> freeSources_;
  std::unordered_map<Key, uint32_t, KeyHash> index_;
  uint32_t last_ = kNoSource;  // consecutive tokens mostly share one source
};
