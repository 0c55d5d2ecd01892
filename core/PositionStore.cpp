// Shared parts of source positions, counted by the records that use them.
#include "core/PositionStore.h"

#include <functional>

namespace {
size_t Mix(size_t seed, size_t value) { return seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2)); }
}  // namespace

size_t TPositionStore::KeyHash::operator()(const Key& key) const {
  size_t h = std::hash<const void*>{}(key.Text);
  h = Mix(h, std::hash<const void*>{}(key.Name));
  h = Mix(h, std::hash<const void*>{}(key.Procedure));
  h = Mix(h, std::hash<const void*>{}(key.Statement));
  h = Mix(h, std::hash<const void*>{}(key.FrameOwner));
  h = Mix(h, std::hash<int32_t>{}(key.Depth));
  return key.Topic.empty() ? h : Mix(h, std::hash<std::u16string>{}(key.Topic));
}

// The texts are told apart by their shared representation: a source holds a
// reference to it, so its address is not reused while the key exists.
TPositionStore::Key TPositionStore::KeyOf(const TPosition& position) {
  return Key{&position.SourceName.str(), &position.SourceText.str(), position.Procedure, position.Statement,
             position.FrameOwner,        position.Depth,              position.Topic};
}

uint32_t TPositionStore::Acquire(const TPosition& position) {
  if (last_ != kNoSource) {
    const TPosition& shared = sources_[last_].Shared;
    if (shared.SourceText.SameObject(position.SourceText) && shared.SourceName.SameObject(position.SourceName) &&
        shared.Procedure == position.Procedure && shared.Statement == position.Statement &&
        shared.FrameOwner == position.FrameOwner && shared.Depth == position.Depth && shared.Topic == position.Topic) {
      ++sources_[last_].Users;
      return last_;
    }
  }
  Key key = KeyOf(position);
  if (const auto found = index_.find(key); found != index_.end()) {
    last_ = found->second;
    ++sources_[last_].Users;
    return last_;
  }
  uint32_t source;
  if (!freeSources_.empty()) {
    source = freeSources_.back();
    freeSources_.pop_back();
  } else {
    if (sources_.size() >= kMaxPackedSources) return kNoSource;
    source = static_cast<uint32_t>(sources_.size());
    sources_.emplace_back();
  }
  TPosition& shared = sources_[source].Shared;
  shared.AssignFrom(position);
  shared.StartPos = shared.EndPos = shared.Line = -1;
  sources_[source].Users = 1;
  index_.emplace(std::move(key), source);
  last_ = source;
  return source;
}

void TPositionStore::Release(uint32_t source) {
  Source& entry = sources_[source];
  if (--entry.Users != 0) return;
  index_.erase(KeyOf(entry.Shared));
  entry.Shared = TPosition{};  // lets go of the texts
  freeSources_.push_back(source);
  if (last_ == source) last_ = kNoSource;
}

void TPositionStore::Unpack(const TPackedPosition& record, TPosition& out) const {
  out.AssignFrom(sources_[record.SourceAndLength >> kPackedLengthBits].Shared);
  out.StartPos = record.StartPos;
  out.EndPos = record.StartPos + static_cast<int32_t>(record.SourceAndLength & kMaxPackedLength);
  out.Line = record.Line;
}
