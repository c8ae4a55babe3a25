// BLOB values at lyrics sizes: 100,000 memos of 200 to 5,000 bytes are written, read back and
// rewritten with new lengths through the cursor's BLOB operations, on an Exclusive table on
// disk. Reports bytes per second of each phase and, for the rewrite, how many blocks came from
// the free list rather than from the end of the file.
//
// Records are posted straight through the record cache in the order the record operations use
// (owner, modified values, offsets into the stored record); there is no index to maintain, so
// the numbers are those of the BLOB layer and the record cache.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

constexpr int kMemo = 2;
constexpr std::uint32_t kMinLength = 200;
constexpr std::uint32_t kMaxLength = 5000;

std::vector<std::string> MakeMemos(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::uint32_t> length(kMinLength, kMaxLength);
  std::uniform_int_distribution<int> letter('a', 'z');
  std::vector<std::string> memos(count);
  for (auto& m : memos) {
    m.resize(length(random));
    for (auto& c : m) c = static_cast<char>(letter(random));
  }
  return memos;
}

class TMemoTable {
 public:
  explicit TMemoTable(const std::string& name) {
    InitializeEngine();
    TTableDefinition t;
    TFieldDescriptor id, memo;
    id.FieldName = "Id";
    id.FieldType = static_cast<std::uint8_t>(TFieldType::Integer);
    memo.FieldName = "Lyrics";
    memo.FieldType = static_cast<std::uint8_t>(TFieldType::Blob);
    t.Fields = {id, memo};
    t.Indexes.emplace_back();
    t.Indexes[0].KeyFields[t.Indexes[0].KeyFieldCount++] = 1;
    {
      TDataFile creator;
      creator.SetFileName(name);
      creator.SetExclusive(true);
      creator.CreateTable(t);
    }
    table.SetFileName(name);
    table.SetExclusive(true);
    table.Open();
  }

  std::uint32_t Append(const std::string& memo) {
    std::vector<std::uint8_t> buffer(table.RecordBufferSize(), 0);
    Write(buffer, memo);
    std::uint32_t number = table.Header().NextRecordNumber;
    Post(buffer, number);
    table.HeaderForUpdate().NextRecordNumber = number + 1;
    return number;
  }

  void Rewrite(std::uint32_t number, const std::string& memo) {
    std::vector<std::uint8_t> buffer = Stored(number);
    Write(buffer, memo);
    Post(buffer, number);
  }

  std::size_t Read(std::uint32_t number, std::string& out) {
    std::vector<std::uint8_t> buffer = Stored(number);
    table.OpenBlob(false, kMemo, kBlobOpenRead, buffer.data());
    std::uint32_t size = 0, got = 0;
    table.GetBlobSize(false, kMemo, buffer.data(), size);
    out.resize(size);
    table.ReadBlob(false, kMemo, 0, size, out.data(), buffer.data(), got);
    table.CloseBlob(false, kMemo, buffer.data());
    return got;
  }

  void Reopen() {
    table.Close();
    table.Open();
  }

  TDataFile table;

 private:
  std::vector<std::uint8_t> Stored(std::uint32_t number) {
    TRecord* r = table.FetchRecord(number);
    std::vector<std::uint8_t> copy = r->Data;
    table.UnpinRecord(r);
    return copy;
  }
  void Write(std::vector<std::uint8_t>& buffer, const std::string& memo) {
    table.OpenBlob(false, kMemo, kBlobOpenReadWrite, buffer.data());
    table.TruncateBlob(false, kMemo, 0, buffer.data());
    table.WriteBlob(false, kMemo, 0, static_cast<std::uint32_t>(memo.size()), memo.data(), buffer.data());
  }
  void Post(std::vector<std::uint8_t>& buffer, std::uint32_t number) {
    TBlobFile& blobs = *table.BlobFile();
    blobs.SetOwner(number, buffer.data());
    blobs.StoreModified(buffer.data());
    TRecord* r = table.FetchRecord(number);
    std::copy(buffer.begin() + kRecordHeaderSize, buffer.end(), r->Data.begin() + kRecordHeaderSize);
    r->Data[0] = 0;
    PutU32(r->Data.data() + 1, number);
    blobs.PutOffsetsIntoRecord(r->Data.data());
    table.MarkDirty(r);
    table.UnpinRecord(r);
    table.CloseAllBlobs();
  }
};

std::uint64_t TotalBytes(const std::vector<std::string>& memos) {
  std::uint64_t total = 0;
  for (const auto& m : memos) total += m.size();
  return total;
}

void BM_WriteMemos(benchmark::State& state) {
  const auto memos = MakeMemos(static_cast<std::size_t>(state.range(0)), 1);
  for (auto _ : state) {
    quillon::testing::TempDir dir;
    TMemoTable t(dir.File("lyrics"));
    for (const auto& m : memos) t.Append(m);
    t.table.Close();  // the write-back is part of writing
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(memos)));
}

void BM_ReadMemos(benchmark::State& state) {
  const auto memos = MakeMemos(static_cast<std::size_t>(state.range(0)), 1);
  quillon::testing::TempDir dir;
  TMemoTable t(dir.File("lyrics"));
  for (const auto& m : memos) t.Append(m);
  std::string out;
  std::uint64_t mismatches = 0;
  for (auto _ : state) {
    state.PauseTiming();
    t.Reopen();  // cold caches
    state.ResumeTiming();
    for (std::uint32_t r = 1; r <= memos.size(); ++r) {
      t.Read(r, out);
      if (out != memos[r - 1]) ++mismatches;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(memos)));
  state.counters["BlockReadCalls"] = static_cast<double>(t.table.BlobFile()->Statistics().BlockReads);
  state.counters["Mismatches"] = static_cast<double>(mismatches);
}

void BM_RewriteMemos(benchmark::State& state) {
  const auto memos = MakeMemos(static_cast<std::size_t>(state.range(0)), 1);
  const auto second = MakeMemos(memos.size(), 2);
  std::uint64_t reused = 0, appended = 0;
  for (auto _ : state) {
    state.PauseTiming();
    quillon::testing::TempDir dir;
    TMemoTable t(dir.File("lyrics"));
    for (const auto& m : memos) t.Append(m);
    t.Reopen();
    state.ResumeTiming();
    for (std::uint32_t r = 1; r <= second.size(); ++r) t.Rewrite(r, second[r - 1]);
    // Counted since the reopen, so only the rewrite's allocations; Close allocates nothing.
    reused += t.table.BlobFile()->Statistics().BlocksReused;
    appended += t.table.BlobFile()->Statistics().BlocksAppended;
    t.table.Close();
  }
  state.counters["BlocksReused"] = static_cast<double>(reused);
  state.counters["BlocksAppended"] = static_cast<double>(appended);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes(second)));
}

BENCHMARK(BM_WriteMemos)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReadMemos)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RewriteMemos)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quillon::engine

BENCHMARK_MAIN();
