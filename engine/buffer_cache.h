// TBufferCache: the engine's one cache policy, used for record buffers (keyed by record number),
// index pages and BLOB blocks (keyed by file offset). Each owner keeps its own rules of when the
// cache may grow and when it writes back; the cache keeps the buffers, finds them, orders them by
// recency and hands out the buffer to reuse.
//
// A buffer type gives the cache:
//   bool Dirty; std::uint16_t PinCount; bool ReadAheadMark;   // what keeps a buffer from reuse
//   TBuffer* Newer; TBuffer* Older;                          // the recency links, the cache's own
// and its key as a std::uint32_t member named by the template's second argument (0 = empty).
//
// Invariants:
//  1. Buffers never move in memory once made: owners keep plain pointers to them (pins, the
//     cursor's current record) for as long as the cache holds them.
//  2. The recency order runs from Newest() to the oldest through the links; every buffer is in it.
//  3. The map holds exactly the buffers whose key is non-zero, and no key twice.
//  4. Reuse takes the least recently used buffer that is clean, unpinned and unmarked. A dirty or
//     pinned buffer passed over on the way moves to the newest end, so a cache full of changes
//     (a writer between checkpoints, deferred changes) is not walked again at every take; the
//     order among clean buffers, and so which one is reused, is untouched by that.
//  5. Capacity, growth and their errors are those of TSystemList.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/number_map.h"
#include "engine/system_list.h"

namespace quillon::engine {

template <class TBuffer, std::uint32_t TBuffer::*Key>
class TBufferCache {
 public:
  int Count() const { return buffers_.Count(); }
  int Capacity() const { return buffers_.Capacity(); }
  void SetCapacity(int capacity) { buffers_.SetCapacity(capacity); }
  bool Full() const { return Count() >= Capacity(); }

  // Drops every buffer; the capacity becomes 0 as a cleared list's does.
  void Clear() {
    buffers_.Clear();
    map_.Clear();
    newest_ = oldest_ = nullptr;
  }

  // In the order the buffers were made, not by recency.
  auto begin() { return buffers_.begin(); }
  auto end() { return buffers_.end(); }
  auto begin() const { return buffers_.begin(); }
  auto end() const { return buffers_.end(); }
  std::unique_ptr<TBuffer>& operator[](int index) { return buffers_[index]; }

  // The buffer holding `key`, made the most recently used; null when none does.
  TBuffer* Find(std::uint32_t key) {
    TBuffer* buffer = map_.Find(key);
    if (buffer) Touch(buffer);
    return buffer;
  }
  bool Holds(std::uint32_t key) const { return map_.Find(key) != nullptr; }

  void Touch(TBuffer* buffer) {
    if (newest_ == buffer) return;
    Unlink(buffer);
    buffer->Older = newest_;
    if (newest_) newest_->Newer = buffer;
    newest_ = buffer;
    if (!oldest_) oldest_ = buffer;
  }

  // Gives the buffer another key (0 empties it); a buffer that held `key` before loses it.
  void SetKey(TBuffer* buffer, std::uint32_t key) {
    const std::uint32_t old = buffer->*Key;
    if (old != 0 && map_.Find(old) == buffer) map_.Erase(old);
    buffer->*Key = key;
    if (key != 0) map_.Set(key, buffer);
  }

  // Every buffer empty (key 0); the owner resets its other fields.
  void ForgetKeys() {
    map_.Clear();
    for (auto& b : buffers_) b.get()->*Key = 0;
  }

  // Raises the capacity by `by`, up to the list's limit. A cache already at the limit cannot
  // grow: the list's capacity error, the cache unchanged (a caller that grows and then takes a
  // buffer must not go round again).
  void Grow(int by) {
    if (Capacity() >= kMaxListSize)
      throw EListError("List capacity out of bounds (" + std::to_string(Capacity() + 1) + ")");
    SetCapacity(std::min(Capacity() + by, kMaxListSize));
  }

  // Takes a new buffer in as the most recently used. The owner decides when its cache grows, so
  // a full cache is the owner's mistake: the list's capacity error, the cache unchanged.
  TBuffer* Add(std::unique_ptr<TBuffer> buffer) {
    if (Full()) throw EListError("List capacity out of bounds (" + std::to_string(Count() + 1) + ")");
    TBuffer* b = buffer.get();
    b->Newer = b->Older = nullptr;
    buffers_.Add(std::move(buffer));
    Touch(b);
    if (b->*Key != 0) map_.Set(b->*Key, b);
    return b;
  }

  // The least recently used clean, unpinned, unmarked buffer, emptied (key 0) and made the most
  // recently used; null when every buffer is held.
  TBuffer* ReuseOldest() {
    TBuffer* b = oldest_;
    for (int seen = 0, count = Count(); b && seen < count; ++seen) {
      TBuffer* newer = b->Newer;
      if (!b->Dirty && b->PinCount == 0 && !b->ReadAheadMark) {
        Touch(b);
        SetKey(b, 0);
        return b;
      }
      if (!b->ReadAheadMark) Touch(b);  // passed over: see invariant 4
      b = newer;
    }
    return nullptr;
  }

  // The dirty buffers that have a key (and, with onlyUnpinned, no pins), by key.
  std::vector<TBuffer*> DirtyByKey(bool onlyUnpinned) const {
    std::vector<TBuffer*> dirty;
    for (auto& b : buffers_) {
      if (b->Dirty && b.get()->*Key != 0 && (!onlyUnpinned || b->PinCount == 0)) dirty.push_back(b.get());
    }
    std::sort(dirty.begin(), dirty.end(), [](const TBuffer* a, const TBuffer* b) { return a->*Key < b->*Key; });
    return dirty;
  }

  // Hands the dirty buffers to `write` in runs of consecutive keys (`step` apart), one call per
  // run, lowest key first, and marks each run clean once `write` returns. Answers the number of
  // buffers written; `runs` gets the number of calls.
  template <class TWrite>
  std::size_t WriteDirtyRuns(std::uint32_t step, bool onlyUnpinned, TWrite&& write, int* runs = nullptr) {
    std::vector<TBuffer*> dirty = DirtyByKey(onlyUnpinned);
    const int calls = WriteRuns(dirty, step, write);
    if (runs) *runs = calls;
    return dirty.size();
  }

  // The run splitting of WriteDirtyRuns over buffers sorted by key (those of several caches that
  // share one file); answers the number of runs.
  template <class TWrite>
  static int WriteRuns(const std::vector<TBuffer*>& dirty, std::uint32_t step, TWrite&& write) {
    int calls = 0;
    for (std::size_t i = 0; i < dirty.size();) {
      std::size_t j = i + 1;
      while (j < dirty.size() && dirty[j]->*Key == dirty[j - 1]->*Key + step) ++j;
      write(dirty.data() + i, j - i);
      ++calls;
      for (std::size_t k = i; k < j; ++k) dirty[k]->Dirty = false;
      i = j;
    }
    return calls;
  }

 private:
  void Unlink(TBuffer* buffer) {
    if (!buffer->Newer && !buffer->Older && oldest_ != buffer) return;  // not linked
    (buffer->Newer ? buffer->Newer->Older : newest_) = buffer->Older;
    (buffer->Older ? buffer->Older->Newer : oldest_) = buffer->Newer;
    buffer->Newer = buffer->Older = nullptr;
  }

  TSystemList<std::unique_ptr<TBuffer>> buffers_;
  TNumberMap<TBuffer> map_;
  TBuffer* newest_ = nullptr;
  TBuffer* oldest_ = nullptr;
};

}  // namespace quillon::engine
