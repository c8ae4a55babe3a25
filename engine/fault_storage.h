// TFaultStorage: a storage for tests that wraps another one and, following a TFaultPlan, makes
// one operation go wrong the way a disk, a lock peer or a killed process would. All storages of
// one table share a plan, so "the n-th write" counts the writes of the data, index and BLOB
// files together, in the order the engine issues them.
//
// Kinds of fault (n = TFaultPlan::Nth, counted from 1):
//  - FailWrite: the n-th write (or truncation) changes nothing and reports err::kWriteError.
//  - ShortWrite: the n-th write puts only the first half of its bytes (at least one byte fewer
//    than asked) and reports the shorter count; a truncation then changes nothing and fails.
//  - FailFlush: the n-th flush reports err::kWriteError (the bytes already written stay written).
//  - RefuseLock: the n-th lock request and every later one is refused, so the protocol's retries
//    run out; unlocks still work.
//  - StopAfterWrite: the n-th write is carried out, then every later write and truncation is
//    dropped while reporting success, as after a kill -9 between two writes. Reads still see
//    the storage, so a stopped process sees the bytes it had written before the stop.
// Met says whether the fault was reached; a plan whose Nth lies beyond every operation of a run
// leaves the run untouched. Clear() stops injecting (and forgets the counts) without replacing
// the storages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage.h"

namespace quillon::engine {

enum class TFaultKind { None, FailWrite, ShortWrite, FailFlush, RefuseLock, StopAfterWrite };

struct TFaultPlan {
  TFaultKind Kind = TFaultKind::None;
  int Nth = 0;
  // Counts of this run, across every storage of the plan.
  int Writes = 0;
  int Flushes = 0;
  int Locks = 0;
  bool Met = false;
  bool Stopped = false;  // StopAfterWrite has happened: writes are dropped from now on

  void Arm(TFaultKind kind, int nth) {
    *this = TFaultPlan{};
    Kind = kind;
    Nth = nth;
  }
  void Clear() { *this = TFaultPlan{}; }
};

class TFaultStorage : public TStorage {
 public:
  TFaultStorage(std::unique_ptr<TStorage> inner, std::shared_ptr<TFaultPlan> plan)
      : inner_(std::move(inner)), plan_(std::move(plan)) {}
  ~TFaultStorage() override;

  int ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) override;
  int WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten) override;
  int Size(std::int64_t& size) override;
  int Truncate(std::uint64_t size) override;
  int Flush() override;
  bool Lock(std::uint32_t offset, std::uint32_t length) override;
  bool Unlock(std::uint32_t offset, std::uint32_t length) override;
  void Close() override;

 private:
  enum class TWriteFate { Pass, Fail, Cut, Drop };
  // Counts one write or truncation and says what becomes of it.
  TWriteFate NextWrite();

  std::unique_ptr<TStorage> inner_;
  std::shared_ptr<TFaultPlan> plan_;
};

}  // namespace quillon::engine
