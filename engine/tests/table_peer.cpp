// A second process for the two-process table test: opens a table shared and changes it while the
// test process reads it.
//
//   table_peer <table> <strict 0|1> <inserts> <mixed> <churn> <seed> <ready file> <pause file>
//              <go file> <done file>
//
// It creates the ready file once the table is open, then appends <inserts> records with Id 1, 2,
// 3, ..., then makes <mixed> changes, a third of them further inserts and the rest updates of a
// random record. Until then no record is deleted and Ids are appended in order. It then creates
// the pause file, waits for the go file, and makes <churn> changes of which half delete a random
// record, the rest insert new Ids or update. Every record it writes keeps the invariants the reader checks:
//   A + B = kSum, Name = NameCopy = "n<Id>-<A>", Memo = PeerMemo(A), Filler = PeerFiller(A)
// so a reader that sees half of a change finds a broken invariant. Lock failures (10249 and the
// record and table lock codes) are retried. At the end it writes the number of records into the
// done file. Exit code 0 on success, 2 on bad arguments, 3 on any other error (message on stderr).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/file_session.h"
#include "engine/tests/table_peer.h"
#include "util/platform.h"

using namespace quillon;
using namespace quillon::engine;
using namespace quillon::engine::peer;

namespace {

class Writer {
 public:
  explicit Writer(TDataFile& table) : table_(table), buffer_(table.RecordBufferSize(), 0) {}

  void Insert(std::int32_t id, std::int32_t a) {
    Retry([&] {
      table_.InitRecord(buffer_.data());
      Fill(id, a);
      table_.InsertRecord(buffer_.data());
      table_.CloseBlob(false, kMemo, buffer_.data());
    });
  }

  void Update(std::int32_t id, std::int32_t a) {
    Retry([&] {
      Find(id);
      Fill(id, a);
      table_.UpdateRecord(buffer_.data(), false, true);
      table_.CloseBlob(false, kMemo, buffer_.data());
    });
  }

  void Delete(std::int32_t id) {
    Retry([&] {
      Find(id);
      table_.DeleteRecord(true);
    });
  }

 private:
  void Find(std::int32_t id) {
    table_.SelectIndex(0);
    std::vector<std::uint8_t> key(table_.RecordBufferSize(), 0);
    table_.InitRecord(key.data());
    table_.SetField(false, kId, &id, key.data());
    if (!table_.FindKey(key.data(), false, false, 0, -1, buffer_.data()))
      throw std::runtime_error("record " + std::to_string(id) + " lost");
  }

  void Fill(std::int32_t id, std::int32_t a) {
    std::int32_t b = kSum - a;
    table_.SetField(false, kId, &id, buffer_.data());
    table_.SetField(false, kA, &a, buffer_.data());
    table_.SetField(false, kB, &b, buffer_.data());
    std::string name = PeerName(id, a);
    std::vector<char> text(kNameSize + 1, '\0');
    std::memcpy(text.data(), name.data(), name.size());
    table_.SetField(false, kName, text.data(), buffer_.data());
    table_.SetField(false, kNameCopy, text.data(), buffer_.data());
    std::string filler = PeerFiller(a);
    std::vector<char> fillerText(kFillerSize + 1, '\0');
    std::memcpy(fillerText.data(), filler.data(), filler.size());
    table_.SetField(false, kFiller, fillerText.data(), buffer_.data());
    std::string memo = PeerMemo(a);
    if (table_.OpenBlob(false, kMemo, 2, buffer_.data()) != 0 ||
        table_.TruncateBlob(false, kMemo, 0, buffer_.data()) != 0 ||
        (!memo.empty() &&
         table_.WriteBlob(false, kMemo, 0, static_cast<std::uint32_t>(memo.size()), memo.data(), buffer_.data()) != 0))
      throw std::runtime_error("memo could not be written");
  }

  template <class F>
  void Retry(F&& f) {
    for (int attempt = 0;; ++attempt) {
      try {
        f();
        return;
      } catch (const EEngineError& e) {
        table_.CloseAllBlobs();
        if (!IsLockCode(e.Code()) || attempt > 200) throw;
        platform::SleepMs(5);
      }
    }
  }

  TDataFile& table_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 11) return 2;
  std::string file = argv[1];
  bool strict = std::atoi(argv[2]) != 0;
  int inserts = std::atoi(argv[3]), mixed = std::atoi(argv[4]), churn = std::atoi(argv[5]);
  std::mt19937 random(static_cast<unsigned>(std::atoi(argv[6])));
  std::string ready = argv[7], pause = argv[8], go = argv[9], done = argv[10];
  InitializeEngine();
  TDataFile table;
  try {
    table.SetFileName(file);
    table.SetStrictChangeDetection(strict);
    table.Open();
    platform::WriteWholeFile(ready, "ready");
    Writer writer(table);
    std::int32_t lastId = 0;
    std::vector<std::int32_t> live;
    auto value = [&] { return static_cast<std::int32_t>(random() % kSum); };
    auto insert = [&] {
      writer.Insert(++lastId, value());
      live.push_back(lastId);
    };
    auto anyLive = [&]() -> std::size_t { return random() % live.size(); };
    for (int i = 0; i < inserts; ++i) insert();
    for (int i = 0; i < mixed; ++i) {
      if (live.empty() || random() % 3 == 0) {
        insert();
      } else {
        writer.Update(live[anyLive()], value());
      }
    }
    platform::WriteWholeFile(pause, "paused");
    for (int waited = 0; waited < 60000 && !platform::IsExistingFile(go); waited += 5) platform::SleepMs(5);
    for (int i = 0; i < churn; ++i) {
      unsigned dice = random() % 4;
      if (live.empty() || dice == 0) {
        insert();
      } else if (dice == 1) {
        writer.Update(live[anyLive()], value());
      } else {
        std::size_t at = anyLive();
        writer.Delete(live[at]);
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    table.Close();
    platform::WriteWholeFile(done, std::to_string(live.size()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "table_peer: %s\n", e.what());
    return 3;
  }
  return 0;
}
