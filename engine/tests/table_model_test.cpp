// Randomised model test of the table cursor and the record operations. A fixed list of seeds
// drives inserts, updates (key fields included) and deletes, each done under a randomly chosen
// cursor setup (an index order, physical order, a range, a callback filter), on tables with and
// without a primary index, shared and Exclusive. An in-memory model of the rows predicts every
// answer: the order of each index both ways, RecNo positions, record counts under ranges and
// filters, bookmarks, key searches, duplicate-key refusals, memo values, which slot a new record
// takes and its row identifier. At the end the index trees and the BLOB file must verify clean.
//
// Orders the model holds the table to:
//   primary       Id ascending (tables without primary index: physical order in index 0)
//   "ByName"      unique, case-insensitive: Name upper-cased (names are ASCII), byte order
//   "ByGroup"     non-unique, Descending over the whole key: (Grp, Score, row id) with a
//                 missing Score below every value, all reversed, so equal values run newest first
//   255           physical order: record number ascending, live records only
// A mismatch throws TMismatch with the seed, the step and what differed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "engine/blob_verifier.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/record_filter.h"
#include "engine/table_verify.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::Field;

constexpr int kId = 1, kName = 2, kGrp = 3, kScore = 4, kMemo = 5;
constexpr int kPrimary = 0, kByName = 1, kByGroup = 2, kPhysical = TIndexFile::kPhysicalOrder;
constexpr int kNameSize = 250;  // long keys make deep trees out of a few hundred records
constexpr int kGroups = 8;      // Grp runs 0..7

using TBuffer = std::vector<std::uint8_t>;

class TMismatch : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TConfig {
  unsigned Seed;
  bool Primary;
  bool Exclusive;
  std::uint8_t NameCompression;
  int Steps;
  bool Encrypted = false;
  std::uint32_t BlobBlockSize = kDefaultBlobBlockSize;
  bool Large = false;  // grows to about a thousand records: several leaves in every index
};

std::ostream& operator<<(std::ostream& out, const TConfig& c) {
  return out << "seed " << c.Seed << (c.Primary ? ", primary" : ", no primary")
             << (c.Exclusive ? ", exclusive" : ", shared") << ", compression " << int{c.NameCompression}
             << (c.Encrypted ? ", encrypted" : "") << ", BLOB blocks of " << c.BlobBlockSize
             << (c.Large ? ", large" : "");
}

struct TRow {
  std::int32_t Id = 0;
  std::string Name;
  std::int16_t Grp = 0;
  bool HasScore = false;
  std::int32_t Score = 0;
  std::string Memo;
  std::int32_t RowId = 0;
  std::uint32_t RecNo = 0;
};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string FlipCase(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return s;
}

std::string Describe(const TRow& r) {
  std::ostringstream s;
  s << "#" << r.RecNo << " (row " << r.RowId << ", id " << r.Id << ", '" << r.Name << "', grp " << r.Grp << ", score "
    << (r.HasScore ? std::to_string(r.Score) : "none") << ", memo " << r.Memo.size() << " bytes)";
  return s.str();
}

// A callback filter of the model: the predicate over a row and its number for messages.
enum TFilterKind { kScoreThirds = 0, kOddGroups = 1 };

bool FilterPasses(TFilterKind kind, bool hasScore, std::int32_t score, std::int16_t grp) {
  return kind == kScoreThirds ? hasScore && score % 3 == 0 : grp % 2 == 1;
}

// What the cursor is set to while a change is made, and what it shows.
struct TSetup {
  int Index = kPrimary;
  bool Range = false;  // on ByGroup: Grp from Low to High
  std::int16_t Low = 0, High = 0;
  bool Filter = false;
  TFilterKind Kind = kScoreThirds;
  bool Both = false;       // the other kind is active too (added after the first)
  bool Evaluator = false;  // the filters are evaluators instead of callbacks
  std::vector<std::uint32_t> Handles;
};

std::string Describe(const TSetup& s) {
  std::ostringstream out;
  out << "index " << s.Index;
  if (s.Range) out << ", range grp " << s.Low << ".." << s.High;
  if (s.Filter) out << ", filter " << (s.Kind == kScoreThirds ? "score%3" : "odd grp");
  if (s.Both) out << " and the other one";
  if (s.Evaluator) out << " (evaluators)";
  return out.str();
}

// Deterministic memo bytes of a length, so that a value mixed up with another one shows.
std::string MemoText(std::size_t length, std::uint32_t salt) {
  std::string s(length, '\0');
  std::uint32_t x = salt * 2654435761u + 7u;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// The filter seam of expressions, answering from the records as an expression that cannot use
// an index does.
class KindEvaluator : public TFilterEvaluator {
 public:
  explicit KindEvaluator(TFilterKind kind) : kind_(kind) {}
  void MarkPassing(TDataFile& table, std::vector<std::uint8_t>& candidates) override {
    std::uint32_t last =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(candidates.size() * 8), table.Header().NextRecordNumber - 1);
    for (std::uint32_t r = 1; r <= last; ++r) {
      std::uint8_t bit = static_cast<std::uint8_t>(1u << ((r - 1) % 8));
      if ((candidates[(r - 1) / 8] & bit) == 0) continue;
      TRecord* record = table.FetchRecord(r);
      bool pass = Passes(table, record->Data.data(), r);
      table.UnpinRecord(record);
      if (!pass) candidates[(r - 1) / 8] &= static_cast<std::uint8_t>(~bit);
    }
  }
  bool Passes(TDataFile& table, const std::uint8_t* record, std::uint32_t) override {
    std::int32_t score = 0;
    std::int16_t grp = 0;
    bool hasScore = table.GetField(false, 4, record, &score);
    table.GetField(false, 3, record, &grp);
    return FilterPasses(kind_, hasScore, score, grp);
  }

 private:
  TFilterKind kind_;
};

class TableModel {
 public:
  explicit TableModel(const TConfig& config) : config_(config), random_(config.Seed) {}

  void Run() {
    Create();
    Open();
    OpenObserver();
    const int steps = config_.Steps;
    for (step_ = 1; step_ <= steps; ++step_) {
      int phase = step_ * 3 / steps;  // grow, shrink, then balanced
      int insertWeight = phase == 0 ? (config_.Large ? 88 : 60) : phase == 1 ? 15 : 35;
      int deleteWeight = phase == 0 ? (config_.Large ? 4 : 15) : phase == 1 ? 60 : 35;
      int dice = Pick(0, 99);
      TSetup setup = RandomSetup();
      changed_ = 0;
      if (dice < insertWeight || rows_.empty()) {
        Insert(setup);
      } else if (dice < 100 - deleteWeight) {
        Update(setup);
      } else {
        Delete(setup);
      }
      CheckObserver();
      if (step_ % 100 == 0) FullCheck();
      if (step_ % 300 == 0) CheckFiles(!config_.Exclusive);  // see VerifyTableSeesCachedRecords
      if (step_ % 400 == 0) Reopen();
    }
    step_ = steps + 1;
    FullCheck();
    Reopen();
    FullCheck();
    CheckFiles(true);  // after the reopen nothing is cached unwritten
    if (observer_.Opened()) observer_.Close();
    table_.Close();
  }

  std::string Where() const {
    std::ostringstream s;
    s << config_ << ", step " << step_ << ": ";
    return s.str();
  }

 private:
  // ---- Table and buffers -------------------------------------------------------------------
  void Create() {
    TTableDefinition t;
    t.Fields = {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, kNameSize),
                Field("Grp", TFieldType::SmallInt), Field("Score", TFieldType::Integer),
                Field("Memo", TFieldType::Blob, 0, 0, kSubTypeMemo)};
    TIndexDescriptor primary;
    if (config_.Primary) primary = testing::PrimaryOn({kId});
    TIndexDescriptor byName;
    byName.IndexName = "ByName";
    byName.Unique = true;
    byName.CaseInsensitive = true;
    byName.Compression = config_.NameCompression;
    byName.KeyFieldCount = 1;
    byName.KeyFields[0] = kName;
    TIndexDescriptor byGroup;
    byGroup.IndexName = "ByGroup";
    byGroup.Descending = true;
    byGroup.KeyFieldCount = 2;
    byGroup.KeyFields[0] = kGrp;
    byGroup.KeyFields[1] = kScore;
    t.Indexes = {primary, byName, byGroup};
    t.AllowEmptyPrimary = !config_.Primary;
    t.BlobBlockSize = config_.BlobBlockSize;
    if (config_.Encrypted) {
      t.Encrypted = true;
      t.Password = "Lyrics";
      Session().AddPassword(t.Password);  // for every cursor this test opens
    }
    testing::CreateTable(name_, t);
  }

  void Open() {
    table_.SetFileName(name_);
    table_.SetExclusive(config_.Exclusive);
    table_.Open();
    buffer_.assign(table_.RecordBufferSize(), 0);
    Expect(table_.Header().Encrypted == config_.Encrypted, "the table's Encrypted flag differs");
  }

  void Reopen() {
    table_.Close();
    Open();
  }

  TBuffer NewBuffer() { return TBuffer(table_.RecordBufferSize(), 0); }

  // Sets the row's fields in a buffer; `init` starts from InitRecord, else the rest (the memo
  // slot, the record header) stays as it is.
  void Fill(const TRow& row, TBuffer& b, bool init = true) {
    if (init) table_.InitRecord(b.data());
    table_.SetField(false, kId, &row.Id, b.data());
    std::vector<char> name(kNameSize + 1, '\0');
    std::memcpy(name.data(), row.Name.data(), row.Name.size());
    table_.SetField(false, kName, name.data(), b.data());
    table_.SetField(false, kGrp, &row.Grp, b.data());
    table_.SetField(false, kScore, row.HasScore ? &row.Score : nullptr, b.data());
  }

  // The row a record buffer holds (the memo is not read here).
  TRow Read(const TBuffer& b) {
    TRow r;
    r.RecNo = GetU32(b.data() + 1);
    r.RowId = GetI32(b.data() + kRowIdOffset);
    table_.GetField(false, kId, b.data(), &r.Id);
    std::vector<char> name(kNameSize + 1, '\0');
    table_.GetField(false, kName, b.data(), name.data());
    r.Name = name.data();
    table_.GetField(false, kGrp, b.data(), &r.Grp);
    r.HasScore = table_.GetField(false, kScore, b.data(), &r.Score);
    if (!r.HasScore) r.Score = 0;
    return r;
  }

  std::string ReadMemo(TBuffer b) {
    Expect(table_.OpenBlob(false, kMemo, kBlobOpenRead, b.data()) == 0, "OpenBlob for reading failed");
    std::uint32_t length = 0;
    Expect(table_.GetBlobSize(false, kMemo, b.data(), length) == 0, "GetBlobSize failed");
    std::string value(length, '\0');
    std::uint32_t got = 0;
    int answer = table_.ReadBlob(false, kMemo, 0, length, value.data(), b.data(), got);
    Expect(answer == 0 && got == length, "ReadBlob gave " + std::to_string(answer));
    Expect(table_.CloseBlob(false, kMemo, b.data()) == 0, "CloseBlob failed");
    return value;
  }

  // ---- Model ---------------------------------------------------------------------------------
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  int IdSpan() const { return config_.Large ? 5000 : 500; }

  std::string RandomName() {
    static const char kLetters[] = "abcdeABCDE";
    int length = Pick(config_.Large ? 4 : 2, 7);
    std::string s;
    for (int i = 0; i < length; ++i) s += kLetters[Pick(0, 9)];
    return s;
  }

  TRow RandomRow() {
    TRow r;
    r.Id = Pick(-IdSpan(), IdSpan());
    if (!rows_.empty() && Pick(0, 19) == 0) r.Id = RandomLive().Id;  // a duplicate on purpose
    r.Name = RandomName();
    if (!rows_.empty() && Pick(0, 19) == 0) {  // the same name in another case
      r.Name = FlipCase(RandomLive().Name);
    }
    r.Grp = static_cast<std::int16_t>(Pick(0, kGroups - 1));
    r.HasScore = Pick(0, 5) != 0;
    r.Score = r.HasScore ? Pick(-20, 20) : 0;
    int size = Pick(0, 3);
    r.Memo = MemoText(size == 0 ? 0 : size == 1 ? Pick(1, 100) : Pick(100, 1600), random_());
    return r;
  }

  const TRow& RandomLive() {
    auto it = rows_.begin();
    std::advance(it, Pick(0, static_cast<int>(rows_.size()) - 1));
    return it->second;
  }

  bool PhysicalOrder(int index) const { return index == kPhysical || (index == kPrimary && !config_.Primary); }

  // Strict order of an index over two rows.
  bool Before(int index, const TRow& a, const TRow& b) const {
    if (PhysicalOrder(index)) return a.RecNo < b.RecNo;
    if (index == kPrimary) return a.Id < b.Id;
    if (index == kByName) return Upper(a.Name) < Upper(b.Name);
    auto key = [](const TRow& r) { return std::make_tuple(r.Grp, r.HasScore, r.Score, r.RowId); };
    return key(b) < key(a);
  }

  bool Visible(const TSetup& s, const TRow& r) const {
    if (s.Range && (r.Grp < s.Low || r.Grp > s.High)) return false;
    if (s.Filter && !FilterPasses(s.Kind, r.HasScore, r.Score, r.Grp)) return false;
    if (s.Both && !FilterPasses(s.Kind == kScoreThirds ? kOddGroups : kScoreThirds, r.HasScore, r.Score, r.Grp))
      return false;
    return true;
  }

  // Record numbers in an index's order, of the rows visible under a setup.
  std::vector<std::uint32_t> Order(const TSetup& s) const {
    std::vector<const TRow*> list;
    for (const auto& [number, row] : rows_)
      if (Visible(s, row)) list.push_back(&row);
    std::sort(list.begin(), list.end(), [&](const TRow* a, const TRow* b) { return Before(s.Index, *a, *b); });
    std::vector<std::uint32_t> numbers;
    for (const TRow* r : list) numbers.push_back(r->RecNo);
    return numbers;
  }

  // The duplicate a row would make in a unique index, apart from record `self`.
  bool Clashes(const TRow& row, std::uint32_t self) const {
    for (const auto& [number, other] : rows_) {
      if (number == self) continue;
      if (config_.Primary && other.Id == row.Id) return true;
      if (Upper(other.Name) == Upper(row.Name)) return true;
    }
    return false;
  }

  void Expect(bool condition, const std::string& what) {
    if (!condition) throw TMismatch(Where() + what);
  }

  void ExpectRow(const TBuffer& b, std::uint32_t recNo, const std::string& context) {
    TRow got = Read(b);
    auto it = rows_.find(recNo);
    Expect(it != rows_.end(), context + ": model has no record " + std::to_string(recNo));
    const TRow& want = it->second;
    Expect(got.RecNo == want.RecNo && got.RowId == want.RowId && got.Id == want.Id && got.Name == want.Name &&
               got.Grp == want.Grp && got.HasScore == want.HasScore && got.Score == want.Score,
           context + ": got " + Describe(got) + ", want " + Describe(want));
  }

  // ---- Cursor setups -------------------------------------------------------------------------
  TSetup RandomSetup() {
    TSetup s;
    int kind = Pick(0, 9);
    s.Index = kind < 6 ? Pick(0, 2) : kind < 7 ? kPhysical : kByGroup;
    if (kind >= 7) {
      s.Range = true;
      s.Low = static_cast<std::int16_t>(Pick(0, kGroups - 1));
      s.High = static_cast<std::int16_t>(Pick(s.Low, kGroups - 1));
    }
    if (kind == 5 || kind == 9 || (kind == 6 && Pick(0, 1) == 0)) {
      s.Filter = true;
      s.Kind = static_cast<TFilterKind>(Pick(0, 1));
      s.Both = Pick(0, 3) == 0;
      s.Evaluator = Pick(0, 2) == 0;
    }
    return s;
  }

  // A record buffer carrying only the group, as SetRange takes its bounds.
  TBuffer GroupBound(std::int16_t grp) {
    TBuffer b = NewBuffer();
    table_.InitRecord(b.data());
    table_.SetField(false, kGrp, &grp, b.data());
    return b;
  }

  std::uint32_t AddKindFilter(TDataFile& t, TFilterKind kind, bool evaluator, bool afterEarlier) {
    if (evaluator) return t.AddFilter(std::make_shared<KindEvaluator>(kind), nullptr, afterEarlier);
    return t.AddFilter(
        nullptr,
        [this, kind](const std::uint8_t* record, std::uint32_t) {
          std::int32_t score = 0;
          std::int16_t grp = 0;
          bool hasScore = table_.GetField(false, kScore, record, &score);
          table_.GetField(false, kGrp, record, &grp);
          return FilterPasses(kind, hasScore, score, grp);
        },
        afterEarlier);
  }

  void Apply(const TSetup& s) { Apply(table_, s, setupHandles_); }
  void TearDown(const TSetup& s) { TearDown(table_, s, setupHandles_); }

  void Apply(TDataFile& t, const TSetup& s, std::vector<std::uint32_t>& handles) {
    t.SelectIndex(s.Index);
    if (s.Range) {
      // ByGroup runs descending: the range starts at the higher group.
      TBuffer start = GroupBound(s.High), end = GroupBound(s.Low);
      t.SetRange(start.data(), false, 1, end.data(), false, 1);
    }
    handles.clear();
    if (s.Filter) handles.push_back(AddKindFilter(t, s.Kind, s.Evaluator, false));
    if (s.Both)
      handles.push_back(
          AddKindFilter(t, s.Kind == kScoreThirds ? kOddGroups : kScoreThirds, s.Evaluator, Pick(0, 1) == 0));
    for (std::uint32_t h : handles) {
      Expect(h != 0, "AddFilter answered handle 0");
      Expect(t.ActivateFilter(h) == 0, "ActivateFilter failed");
    }
    Expect(t.RecordCount() == Order(s).size(), "RecordCount under " + Describe(s) + " is " +
                                                   std::to_string(t.RecordCount()) + ", want " +
                                                   std::to_string(Order(s).size()));
  }

  void TearDown(TDataFile& t, const TSetup& s, std::vector<std::uint32_t>& handles) {
    for (std::uint32_t h : handles) Expect(t.RemoveFilter(h) == 0, "RemoveFilter failed");
    handles.clear();
    Expect(t.RemoveFilter(0) == 0, "RemoveFilter of every filter failed");
    if (s.Range) t.CancelRange();
  }

  // Puts the cursor on a visible row in one of the ways a caller would.
  void GoTo(const TSetup& s, const TRow& row) {
    bool plain = !s.Range && !s.Filter;
    if (PhysicalOrder(s.Index)) {
      table_.SetRecNo(row.RecNo);  // physical order: a record number
    } else if (plain && Pick(0, 2) == 0) {
      auto order = Order(s);
      auto at = std::find(order.begin(), order.end(), row.RecNo) - order.begin();
      table_.SetRecNo(at + 1);
    } else {
      TBuffer b = NewBuffer();
      Fill(row, b);
      PutI32(b.data() + kRowIdOffset, row.RowId);
      TKey key = table_.BuildKey(b.data());
      if (s.Index != kByGroup && Pick(0, 1) == 0) {
        TBuffer found = NewBuffer();
        Expect(table_.FindKey(key.data(), true, false, 0, -1, found.data()), "FindKey missed " + Describe(row));
      } else {
        table_.GotoBookmark(key.data());
      }
    }
    int answer = table_.GetCurrent(buffer_.data(), false);
    Expect(answer == 0, "GetCurrent after positioning on " + Describe(row) + " under " + Describe(s) + " answered " +
                            std::to_string(answer));
    ExpectRow(buffer_, row.RecNo, "positioned under " + Describe(s));
  }

  // After a change: the cursor stands on `recNo` (or, when that is gone or hidden, anywhere
  // visible), and Next / Prior from there agree with the model.
  void CheckNeighbours(const TSetup& s, std::uint32_t recNo, bool mustStand, const std::string& what) {
    auto order = Order(s);
    Expect(table_.RecordCount() == order.size(), what + ": RecordCount " + std::to_string(table_.RecordCount()) +
                                                     " under " + Describe(s) + ", want " +
                                                     std::to_string(order.size()));
    Expect(table_.PhysicalRecordCount() == nextRecNo_ - 1, what + ": PhysicalRecordCount " +
                                                               std::to_string(table_.PhysicalRecordCount()) +
                                                               ", want " + std::to_string(nextRecNo_ - 1));
    int answer = table_.GetCurrent(buffer_.data(), false);
    auto at = std::find(order.begin(), order.end(), recNo);
    if (mustStand) {
      Expect(answer == 0, what + ": GetCurrent answered " + std::to_string(answer) + " under " + Describe(s));
      ExpectRow(buffer_, recNo, what + ": current record under " + Describe(s));
    } else if (answer != 0) {
      return;  // at a crack: nothing more to compare
    } else {
      std::uint32_t current = GetU32(buffer_.data() + 1);
      at = std::find(order.begin(), order.end(), current);
      Expect(at != order.end(),
             what + ": the cursor stands on hidden record " + std::to_string(current) + " under " + Describe(s));
      ExpectRow(buffer_, current, what + ": current record");
    }
    std::uint32_t current = *at;
    answer = table_.Next(buffer_.data());
    if (at + 1 == order.end()) {
      Expect(answer == TDataFile::kAtEnd, what + ": Next after the last visible record answered " +
                                              std::to_string(answer) + " under " + Describe(s));
    } else {
      Expect(answer == 0, what + ": Next answered " + std::to_string(answer) + " under " + Describe(s));
      ExpectRow(buffer_, *(at + 1), what + ": Next under " + Describe(s));
    }
    answer = table_.Prior(buffer_.data());
    Expect(answer == 0, what + ": Prior back answered " + std::to_string(answer) + " under " + Describe(s));
    ExpectRow(buffer_, current, what + ": Prior back under " + Describe(s));
  }

  // ---- Operations ----------------------------------------------------------------------------
  void WriteMemo(TBuffer& b, const std::string& value, bool replace) {
    Expect(table_.OpenBlob(false, kMemo, kBlobOpenReadWrite, b.data()) == 0, "OpenBlob for writing failed");
    if (replace) Expect(table_.TruncateBlob(false, kMemo, 0, b.data()) == 0, "TruncateBlob failed");
    if (!value.empty())
      Expect(table_.WriteBlob(false, kMemo, 0, static_cast<std::uint32_t>(value.size()), value.data(), b.data()) == 0,
             "WriteBlob failed");
  }

  void Insert(const TSetup& s) {
    TRow row = RandomRow();
    bool clash = Clashes(row, 0);
    Apply(s);
    TBuffer b = NewBuffer();
    Fill(row, b);
    WriteMemo(b, row.Memo, false);
    int code = testing::ErrorCode([&] { table_.InsertRecord(b.data()); });
    Expect(table_.CloseBlob(false, kMemo, b.data()) == 0, "CloseBlob after InsertRecord failed");
    if (clash) {
      Expect(code == err::kDuplicateKey,
             "insert of " + Describe(row) + " answered " + std::to_string(code) + ", want a duplicate key");
      TearDown(s);
      return;
    }
    Expect(code == 0, "insert of " + Describe(row) + " raised " + std::to_string(code));
    row.RowId = ++lastRowId_;
    Expect(GetI32(b.data() + kRowIdOffset) == row.RowId, "the buffer did not get the new row identifier");
    // Deleted slots are reused, newest first, only where a primary index keeps them.
    if (config_.Primary && !freeRecords_.empty()) {
      row.RecNo = freeRecords_.back();
      freeRecords_.pop_back();
    } else {
      row.RecNo = nextRecNo_++;
    }
    rows_[row.RecNo] = row;
    changed_ = row.RecNo;
    CheckNeighbours(s, row.RecNo, Visible(s, row), "after inserting " + Describe(row));
    TearDown(s);
  }

  void Update(const TSetup& s) {
    auto visible = Order(s);
    if (visible.empty()) return Insert(s);
    const TRow old = rows_[visible[static_cast<std::size_t>(Pick(0, static_cast<int>(visible.size()) - 1))]];
    TRow row = old;
    TRow fresh = RandomRow();
    switch (Pick(0, 4)) {  // which fields change
      case 0:
        row.Id = fresh.Id;
        break;
      case 1:
        row.Name = fresh.Name;
        break;
      case 2:
        row.Grp = fresh.Grp, row.HasScore = fresh.HasScore, row.Score = fresh.Score;
        break;
      case 3:
        row.Memo = fresh.Memo;
        break;
      default:
        row = fresh, row.RowId = old.RowId, row.RecNo = old.RecNo;
        break;
    }
    bool clash = Clashes(row, row.RecNo);
    Apply(s);
    GoTo(s, old);
    // On a shared table the component locks the record when editing starts.
    bool lock = !config_.Exclusive && Pick(0, 1) == 0;
    if (lock) {
      Expect(table_.GetCurrent(buffer_.data(), true) == 0, "GetCurrent with lock failed");
      Expect(table_.LockedRecords().size() == 1, "GetCurrent with lock did not lock the record");
    }
    TBuffer b = buffer_;  // as the component edits: the current record's copy
    Fill(row, b, false);
    bool memoChanged = row.Memo != old.Memo;
    if (memoChanged) {
      // Sometimes shorten or lengthen in place instead of replacing.
      if (Pick(0, 2) == 0 && !old.Memo.empty()) {
        std::uint32_t keep = static_cast<std::uint32_t>(Pick(0, static_cast<int>(old.Memo.size())));
        Expect(table_.OpenBlob(false, kMemo, kBlobOpenReadWrite, b.data()) == 0, "OpenBlob for writing failed");
        Expect(table_.TruncateBlob(false, kMemo, keep, b.data()) == 0, "TruncateBlob failed");
        std::string tail = MemoText(static_cast<std::size_t>(Pick(0, 700)), random_());
        if (!tail.empty())
          Expect(
              table_.WriteBlob(false, kMemo, keep, static_cast<std::uint32_t>(tail.size()), tail.data(), b.data()) == 0,
              "WriteBlob failed");
        row.Memo = old.Memo.substr(0, keep) + tail;
      } else {
        WriteMemo(b, row.Memo, true);
      }
    }
    bool refresh = s.Range || s.Filter || PhysicalOrder(s.Index) || Pick(0, 3) != 0;
    int code = testing::ErrorCode([&] { table_.UpdateRecord(b.data(), lock, refresh); });
    if (lock && code != 0) table_.UnlockAllRecords();
    Expect(table_.LockedRecords().empty(), "the record stayed locked after the update");
    if (memoChanged) Expect(table_.CloseBlob(false, kMemo, b.data()) == 0, "CloseBlob after UpdateRecord failed");
    if (clash) {
      Expect(code == err::kDuplicateKey, "update of " + Describe(old) + " to " + Describe(row) + " answered " +
                                             std::to_string(code) + ", want a duplicate key");
      TearDown(s);
      return;
    }
    Expect(code == 0, "update of " + Describe(old) + " to " + Describe(row) + " raised " + std::to_string(code));
    rows_[row.RecNo] = row;
    changed_ = row.RecNo;
    CheckNeighbours(s, row.RecNo, Visible(s, row), "after updating " + Describe(old) + " to " + Describe(row));
    TearDown(s);
  }

  void Delete(const TSetup& s) {
    auto visible = Order(s);
    if (visible.empty()) return Insert(s);
    std::size_t at = static_cast<std::size_t>(Pick(0, static_cast<int>(visible.size()) - 1));
    const TRow old = rows_[visible[at]];
    Apply(s);
    GoTo(s, old);
    bool refresh = s.Range || s.Filter || PhysicalOrder(s.Index) || Pick(0, 3) != 0;
    int code = testing::ErrorCode([&] { table_.DeleteRecord(refresh); });
    Expect(code == 0, "delete of " + Describe(old) + " raised " + std::to_string(code));
    rows_.erase(old.RecNo);
    freeRecords_.push_back(old.RecNo);
    changed_ = old.RecNo;
    std::string what = "after deleting " + Describe(old) + " under " + Describe(s);
    if (at + 1 < visible.size()) {
      CheckNeighbours(s, visible[at + 1], true, what);  // the record that followed it
    } else {
      // It was the last one: after the end, or on the record now last.
      int answer = table_.GetCurrent(buffer_.data(), false);
      // (An empty view has the cursor before the first and after the last record at once.)
      bool empty = visible.size() == 1;
      Expect(answer == TDataFile::kAtEnd || answer == 0 || (empty && answer == TDataFile::kAtBeginning),
             what + ": GetCurrent answered " + std::to_string(answer) + " with " + std::to_string(visible.size() - 1) +
                 " records left in view");
      if (answer == 0) {
        Expect(at > 0, what + ": the cursor stands on a record of an empty view");
        ExpectRow(buffer_, visible[at - 1], what + ": current record");
      }
      CheckNeighbours(s, 0, false, what);
    }
    TearDown(s);
  }

  // ---- The second cursor -----------------------------------------------------------------
  void OpenObserver() {
    if (config_.Exclusive) return;
    observer_.SetFileName(name_);
    observer_.SetStrictChangeDetection(config_.Seed % 2 == 0);
    observer_.Open();
    observerSetup_ = RandomSetup();
    Apply(observer_, observerSetup_, observerHandles_);
  }

  // After a change through the first cursor: the second one counts the same, still stands on
  // its record unless that was the one changed, and steps to the model's neighbours.
  void CheckObserver() {
    if (!observer_.Opened()) return;
    if (!observer_.StrictChangeDetection()) observer_.Refresh();
    const TSetup& s = observerSetup_;
    std::string what = "second cursor under " + Describe(s);
    auto order = Order(s);
    Expect(observer_.RecordCount() == order.size(), what + ": RecordCount " + std::to_string(observer_.RecordCount()) +
                                                        ", want " + std::to_string(order.size()));
    TBuffer b = NewBuffer();
    int answer = observer_.GetCurrent(b.data(), false);
    std::uint32_t current = answer == 0 ? GetU32(b.data() + 1) : 0;
    auto kept = rows_.find(observerOn_);
    if (observerOn_ != 0 && observerOn_ != changed_ && kept != rows_.end() && Visible(s, kept->second))
      Expect(current == observerOn_, what + ": left record " + std::to_string(observerOn_) + " (GetCurrent answered " +
                                         std::to_string(answer) + " on " + std::to_string(current) + ")");
    auto at = std::find(order.begin(), order.end(), current);
    if (answer == 0) {
      Expect(at != order.end(), what + ": stands on hidden record " + std::to_string(current));
      ExpectRow(b, current, what);
    }
    bool forward = Pick(0, 1) == 0;
    std::uint32_t want = 0;
    if (answer == TDataFile::kAtBeginning) {
      want = forward && !order.empty() ? order.front() : 0;
    } else if (answer == TDataFile::kAtEnd) {
      want = !forward && !order.empty() ? order.back() : 0;
    } else if (forward) {
      want = at + 1 != order.end() ? *(at + 1) : 0;
    } else {
      want = at != order.begin() ? *(at - 1) : 0;
    }
    answer = forward ? observer_.Next(b.data()) : observer_.Prior(b.data());
    std::string step = what + (forward ? ": Next" : ": Prior") + " from " + std::to_string(current);
    if (want == 0) {
      Expect(answer == (forward ? TDataFile::kAtEnd : TDataFile::kAtBeginning),
             step + " answered " + std::to_string(answer) + ", want the end");
    } else {
      Expect(answer == 0, step + " answered " + std::to_string(answer));
      ExpectRow(b, want, step);
    }
    observerOn_ = answer == 0 ? GetU32(b.data() + 1) : 0;
    // To the first cursor's record.
    if (Pick(0, 4) == 0 && table_.GetCurrent(buffer_.data(), false) == 0) {
      auto other = rows_.find(GetU32(buffer_.data() + 1));
      if (other != rows_.end() && Visible(s, other->second)) {
        Expect(observer_.GotoCurrentOf(table_) == 0, what + ": GotoCurrentOf missed " + Describe(other->second));
        Expect(observer_.GetCurrent(b.data(), false) == 0, what + ": GetCurrent after GotoCurrentOf failed");
        ExpectRow(b, other->first, what + ": GotoCurrentOf");
        observerOn_ = other->first;
      }
    }
    if (step_ % 10 == 0) {
      CheckWalks(observer_, s, false);
      observerOn_ = 0;
    }
    if (step_ % 50 == 0) {
      TearDown(observer_, observerSetup_, observerHandles_);
      observerSetup_ = RandomSetup();
      Apply(observer_, observerSetup_, observerHandles_);
      observerOn_ = 0;
    }
  }

  // ---- Full check ----------------------------------------------------------------------------
  void CheckWalks(const TSetup& s, bool memos) { CheckWalks(table_, s, memos); }

  void CheckWalks(TDataFile& t, const TSetup& s, bool memos) {
    auto order = Order(s);
    std::string under = " under " + Describe(s);
    Expect(t.RecordCount() == order.size(),
           "RecordCount " + std::to_string(t.RecordCount()) + under + ", want " + std::to_string(order.size()));
    t.First();
    Expect(t.AtBOF(), "First did not leave the cursor before the first record" + under);
    for (std::size_t i = 0; i <= order.size(); ++i) {
      int answer = t.Next(buffer_.data());
      if (i == order.size()) {
        Expect(answer == TDataFile::kAtEnd, "Next past the last record answered " + std::to_string(answer) + under);
        break;
      }
      Expect(answer == 0, "Next #" + std::to_string(i + 1) + " answered " + std::to_string(answer) + under);
      ExpectRow(buffer_, order[i], "Next #" + std::to_string(i + 1) + under);
      if (memos) {
        const std::string& want = rows_[order[i]].Memo;
        Expect(ReadMemo(buffer_) == want, "memo of record " + std::to_string(order[i]) + " differs");
      }
    }
    t.Last();
    Expect(t.AtEOF(), "Last did not leave the cursor after the last record" + under);
    for (std::size_t i = order.size(); i-- > 0;) {
      int answer = t.Prior(buffer_.data());
      Expect(answer == 0, "Prior answered " + std::to_string(answer) + under);
      ExpectRow(buffer_, order[i], "Prior #" + std::to_string(order.size() - i) + under);
    }
    int answer = t.Prior(buffer_.data());
    Expect(answer == TDataFile::kAtBeginning,
           "Prior before the first record answered " + std::to_string(answer) + under);
  }

  // RecNo set and get; in index order with filters RecNo still counts every index entry.
  void CheckRecNo(const TSetup& s) {
    auto order = Order(s);
    std::string under = " under " + Describe(s);
    if (PhysicalOrder(s.Index)) {
      for (int i = 0; i < 4 && nextRecNo_ > 1; ++i) {
        std::uint32_t n = static_cast<std::uint32_t>(Pick(1, static_cast<int>(nextRecNo_ - 1)));
        table_.SetRecNo(n);
        auto at = std::lower_bound(order.begin(), order.end(), n);
        if (at == order.end() && !order.empty()) --at;
        int answer = table_.GetCurrent(buffer_.data(), false);
        if (order.empty()) {
          Expect(answer != 0, "SetRecNo on an empty table found a record");
          continue;
        }
        Expect(answer == 0,
               "GetCurrent after SetRecNo(" + std::to_string(n) + ") answered " + std::to_string(answer) + under);
        ExpectRow(buffer_, *at, "SetRecNo(" + std::to_string(n) + ")" + under);
        Expect(table_.RecNo() == static_cast<std::uint32_t>(at - order.begin() + 1),
               "RecNo after SetRecNo(" + std::to_string(n) + ") is " + std::to_string(table_.RecNo()) + under);
        if (s.Index != kPrimary) continue;
        // Index 0 of a table without primary index: the bookmark is the record number.
        std::vector<std::uint8_t> mark = table_.GetBookmark();
        Expect(mark.size() == 4 && table_.KeySize() == 4,
               "bookmark of record " + std::to_string(*at) + " is not 4 bytes" + under);
        table_.Last();
        table_.GotoBookmark(mark.data());
        Expect(table_.GetCurrent(buffer_.data(), false) == 0, "GetCurrent after GotoBookmark failed" + under);
        ExpectRow(buffer_, *at, "GotoBookmark" + under);
      }
      return;
    }
    // Ordinals counted over the unfiltered index (ranges still count from their first key).
    TSetup unfiltered = s;
    unfiltered.Filter = false;
    auto all = Order(unfiltered);
    for (int i = 0; i < 4 && !order.empty(); ++i) {
      std::size_t k = static_cast<std::size_t>(Pick(0, static_cast<int>(order.size()) - 1));
      std::uint32_t n = static_cast<std::uint32_t>(std::find(all.begin(), all.end(), order[k]) - all.begin() + 1);
      table_.SetRecNo(n);
      Expect(table_.RecNo() == n,
             "RecNo after SetRecNo(" + std::to_string(n) + ") is " + std::to_string(table_.RecNo()) + under);
      int answer = table_.GetCurrent(buffer_.data(), false);
      Expect(answer == 0, "GetCurrent after SetRecNo answered " + std::to_string(answer) + under);
      ExpectRow(buffer_, order[k], "SetRecNo(" + std::to_string(n) + ")" + under);
      // The bookmark brings the cursor back from elsewhere.
      std::vector<std::uint8_t> mark = table_.GetBookmark();
      Expect(static_cast<int>(mark.size()) == table_.KeySize(), "bookmark size differs from KeySize" + under);
      table_.Last();
      table_.GotoBookmark(mark.data());
      answer = table_.GetCurrent(buffer_.data(), false);
      Expect(answer == 0, "GetCurrent after GotoBookmark answered " + std::to_string(answer) + under);
      ExpectRow(buffer_, order[k], "GotoBookmark" + under);
      Expect(table_.CompareBookmarks(mark.data(), table_.GetBookmark().data()) == 0,
             "a bookmark differs from itself" + under);
    }
    if (!s.Filter) {
      table_.SetRecNo(0);
      int answer = table_.Next(buffer_.data());
      Expect(order.empty() ? answer == TDataFile::kAtEnd : answer == 0,
             "Next after SetRecNo(0) answered " + std::to_string(answer) + under);
      if (!order.empty()) ExpectRow(buffer_, order.front(), "Next after SetRecNo(0)" + under);
      table_.SetRecNo(static_cast<std::int64_t>(order.size()) + 1);
      Expect(table_.AtEOF(), "SetRecNo beyond RecordCount did not leave the cursor after the last record" + under);
      answer = table_.Prior(buffer_.data());
      Expect(order.empty() ? answer == TDataFile::kAtBeginning : answer == 0,
             "Prior after SetRecNo(count + 1) answered " + std::to_string(answer) + under);
      if (!order.empty()) ExpectRow(buffer_, order.back(), "Prior after SetRecNo(count + 1)" + under);
    }
  }

  void CheckFindKey() {
    table_.SelectIndex(kByGroup);
    auto order = Order(TSetup{kByGroup});
    for (int i = 0; i < 3; ++i) {
      // One field of the two-field index: the first record of that group in index order.
      std::int16_t grp = static_cast<std::int16_t>(Pick(0, kGroups));
      TBuffer key = GroupBound(grp);
      TBuffer result = NewBuffer();
      bool found = table_.FindKey(key.data(), false, Pick(0, 1) == 1, 1, -1, result.data());
      auto first = std::find_if(order.begin(), order.end(), [&](std::uint32_t r) { return rows_[r].Grp == grp; });
      Expect(found == (first != order.end()),
             "FindKey on group " + std::to_string(grp) + " answered " + std::to_string(found));
      if (found) ExpectRow(result, *first, "FindKey on group " + std::to_string(grp));
    }
    // The SQL executor's lookup: Grp and Score equal, whichever row identifier.
    if (rows_.empty()) return;
    {
      TRow probe = RandomLive();
      if (Pick(0, 3) == 0) probe.Grp = kGroups;  // no such group
      TBuffer key = NewBuffer(), result = NewBuffer();
      Fill(probe, key);
      bool present = std::any_of(rows_.begin(), rows_.end(), [&](const auto& e) {
        return e.second.Grp == probe.Grp && e.second.HasScore == probe.HasScore && e.second.Score == probe.Score;
      });
      bool found = table_.FindPrefix(key.data(), result.data());
      Expect(found == present,
             "FindPrefix on group " + std::to_string(probe.Grp) + " answered " + std::to_string(found));
      if (found) {
        TRow got = Read(result);
        Expect(got.Grp == probe.Grp && got.HasScore == probe.HasScore && got.Score == probe.Score,
               "FindPrefix gave " + Describe(got) + " for " + Describe(probe));
      }
    }
    // Whole keys of the unique indexes; the name in another case finds the same record.
    const TRow& row = RandomLive();
    table_.SelectIndex(kByName);
    TBuffer key = NewBuffer();
    TRow probe = row;
    probe.Name = Pick(0, 1) ? Upper(row.Name) : row.Name;
    for (char& c : probe.Name)
      if (c >= 'A' && c <= 'Z' && Pick(0, 1)) c = static_cast<char>(c + 32);
    Fill(probe, key);
    TBuffer result = NewBuffer();
    Expect(table_.FindKey(key.data(), false, false, 0, -1, result.data()), "FindKey missed name '" + probe.Name + "'");
    ExpectRow(result, row.RecNo, "FindKey on name '" + probe.Name + "'");
    if (!config_.Primary) return;
    table_.SelectIndex(kPrimary);
    auto ids = Order(TSetup{kPrimary});
    std::int32_t id = Pick(-IdSpan() - 10, IdSpan() + 10);
    auto at = std::find_if(ids.begin(), ids.end(), [&](std::uint32_t r) { return rows_[r].Id >= id; });
    bool present = at != ids.end() && rows_[*at].Id == id;
    // Without the nearest flag a miss leaves the cursor where it was.
    table_.SetRecNo(1);
    TRow search;
    search.Id = id;
    Fill(search, key);
    bool found = table_.FindKey(key.data(), false, false, 0, -1, result.data());
    Expect(found == present, "FindKey on id " + std::to_string(id) + " answered " + std::to_string(found));
    Expect(table_.GetCurrent(buffer_.data(), false) == 0, "GetCurrent after FindKey failed");
    ExpectRow(buffer_, present ? *at : ids.front(), "after FindKey on id " + std::to_string(id));
    // With it, a miss lands on the next greater key, or on the last one past the end.
    found = table_.FindKey(key.data(), false, true, 0, -1, result.data());
    Expect(found == present, "FindKey (nearest) on id " + std::to_string(id) + " answered " + std::to_string(found));
    ExpectRow(result, at != ids.end() ? *at : ids.back(), "FindKey (nearest) on id " + std::to_string(id));
  }

  void CheckRanges() {
    for (int i = 0; i < 2; ++i) {
      TSetup s;
      s.Index = kByGroup;
      s.Range = true;
      s.Low = static_cast<std::int16_t>(Pick(0, kGroups - 1));
      s.High = Pick(0, 2) == 0 ? s.Low : static_cast<std::int16_t>(Pick(s.Low, kGroups - 1));
      s.Filter = i == 1;
      s.Kind = static_cast<TFilterKind>(Pick(0, 1));
      Apply(s);
      CheckWalks(s, false);
      CheckRecNo(s);
      TearDown(s);
      Expect(table_.RecordCount() == rows_.size(),
             "RecordCount after CancelRange is " + std::to_string(table_.RecordCount()));
    }
    // A full-key range on the case-insensitive names.
    table_.SelectIndex(kByName);
    std::string low = RandomName().substr(0, 1), high = RandomName().substr(0, 2);
    if (Upper(high) < Upper(low)) std::swap(low, high);
    TRow a, b;
    a.Name = low, b.Name = high;
    TBuffer start = NewBuffer(), end = NewBuffer();
    Fill(a, start);
    Fill(b, end);
    table_.SetRange(start.data(), false, 1, end.data(), false, 1);
    std::vector<std::uint32_t> want;
    for (std::uint32_t r : Order(TSetup{kByName})) {
      std::string n = Upper(rows_[r].Name);
      if (n >= Upper(low) && n <= Upper(high)) want.push_back(r);
    }
    Expect(table_.RecordCount() == want.size(), "RecordCount of names '" + low + "'..'" + high + "' is " +
                                                    std::to_string(table_.RecordCount()) + ", want " +
                                                    std::to_string(want.size()));
    std::vector<std::uint32_t> got;
    table_.First();
    while (table_.Next(buffer_.data()) == 0 && got.size() <= want.size()) got.push_back(GetU32(buffer_.data() + 1));
    Expect(got == want, "walk over names '" + low + "'..'" + high + "' differs");
    table_.CancelRange();
  }

  void FullCheck() {
    std::vector<int> indexes = {kPrimary, kByName, kByGroup, kPhysical};
    std::shuffle(indexes.begin(), indexes.end(), random_);
    for (int index : indexes) {
      TSetup s;
      s.Index = index;
      table_.SelectIndex(index);
      CheckWalks(s, index == kPrimary);
      CheckRecNo(s);
      s.Filter = true;
      s.Kind = static_cast<TFilterKind>(Pick(0, 1));
      Apply(s);
      CheckWalks(s, false);
      CheckRecNo(s);
      TearDown(s);
    }
    CheckRanges();
    CheckFindKey();
    CheckFilterChanges();
  }

  // An evaluator filter given a new expression while active; deactivated; removed.
  void CheckFilterChanges() {
    TSetup s;
    s.Index = Pick(0, 3) == 0 ? kPhysical : Pick(0, 2);
    s.Filter = true;
    s.Kind = static_cast<TFilterKind>(Pick(0, 1));
    s.Evaluator = true;
    table_.SelectIndex(s.Index);
    std::uint32_t h = table_.AddFilter(std::make_shared<KindEvaluator>(s.Kind), nullptr, false);
    auto other = std::make_shared<KindEvaluator>(s.Kind == kScoreThirds ? kOddGroups : kScoreThirds);
    Expect(table_.ChangeFilterExpression(h, other) == err::kInvalidFilterHandle,
           "ChangeFilterExpression on an inactive filter did not answer 10050");
    Expect(table_.ActivateFilter(h) == 0, "ActivateFilter failed");
    Expect(table_.RecordCount() == Order(s).size(),
           "RecordCount under " + Describe(s) + " is " + std::to_string(table_.RecordCount()));
    Expect(table_.ChangeFilterExpression(h, nullptr) == err::kInvalidFilterExpression,
           "ChangeFilterExpression without an expression did not answer 10051");
    Expect(table_.ChangeFilterExpression(h, other) == 0, "ChangeFilterExpression failed");
    s.Kind = s.Kind == kScoreThirds ? kOddGroups : kScoreThirds;
    CheckWalks(s, false);
    Expect(table_.DeactivateFilter(h) == 0, "DeactivateFilter failed");
    Expect(table_.RecordCount() == rows_.size(),
           "RecordCount after DeactivateFilter is " + std::to_string(table_.RecordCount()));
    Expect(table_.BitmapMode() == PhysicalOrder(s.Index), "BitmapMode after the last filter went inactive");
    Expect(table_.RemoveFilter(h) == 0, "RemoveFilter failed");
    Expect(table_.RemoveFilter(h) == err::kInvalidFilterHandle,
           "RemoveFilter of a removed filter did not answer 10050");
  }

  void CheckFiles(bool wholeTable) {
    std::vector<std::string> problems = table_.IndexFile().Verify();
    std::string all;
    for (const auto& p : problems) all += "\n  " + p;
    Expect(problems.empty(), "index verification:" + all);
    TBlobFileReport report = VerifyBlobFile(table_);
    all.clear();
    for (const auto& p : report.Problems) all += "\n  " + p;
    Expect(report.Ok(), "BLOB verification:" + all);
    std::uint32_t memos = 0;
    for (const auto& [number, row] : rows_) memos += row.Memo.empty() ? 0 : 1;
    Expect(report.Values == memos,
           "BLOB file holds " + std::to_string(report.Values) + " values, want " + std::to_string(memos));
    Expect(report.LostBlocks == 0, "BLOB file lost blocks");
    if (!wholeTable) return;
    problems = VerifyTable(table_);
    all.clear();
    for (const auto& p : problems) all += "\n  " + p;
    Expect(problems.empty(), "table verification:" + all);
  }

  TConfig config_;
  std::mt19937 random_;
  int step_ = 0;
  quillon::testing::TempDir dir_;
  std::string name_ = dir_.File("model");
  TDataFile table_;
  TBuffer buffer_;
  std::map<std::uint32_t, TRow> rows_;  // by record number
  std::vector<std::uint32_t> freeRecords_;
  std::uint32_t nextRecNo_ = 1;
  std::int32_t lastRowId_ = 0;
  std::vector<std::uint32_t> setupHandles_;
  // A second cursor on a shared table, with its own setup, that must follow every change.
  TDataFile observer_;
  TSetup observerSetup_;
  std::vector<std::uint32_t> observerHandles_;
  std::uint32_t changed_ = 0;     // the record the last step changed, 0 for none
  std::uint32_t observerOn_ = 0;  // the record the second cursor stands on, 0 at a crack
};

class TableModelTest : public testing::EngineTest, public ::testing::WithParamInterface<TConfig> {};

// Two cursors of one process on a small shared table, for what the model leaves out.
class TableModelCursors : public testing::EngineTest {
 protected:
  quillon::testing::TempDir dir;
  std::string name = dir.File("pair");
};

// A cursor in physical order follows another one onto its record, as a clone must, also onto a
// record added after it built its bitmaps.
TEST_F(TableModelCursors, PhysicalOrderGotoCurrentOf) {
  for (bool primary : {true, false}) {
    SCOPED_TRACE(primary ? "primary index" : "no primary index");
    TTableDefinition t = testing::SmallTable();
    if (!primary) {
      t.Indexes = {TIndexDescriptor{}};
      t.AllowEmptyPrimary = true;
    }
    testing::CreateTable(name, t);
    TDataFile first, second;
    second.SetStrictChangeDetection(true);
    for (TDataFile* cursor : {&first, &second}) {
      cursor->SetFileName(name);
      cursor->Open();
    }
    TBuffer b(first.RecordBufferSize(), 0);
    auto insert = [&](std::int32_t id) {
      first.InitRecord(b.data());
      first.SetField(false, 1, &id, b.data());
      first.InsertRecord(b.data());  // the first cursor stands on the new record
    };
    insert(30);
    second.SelectIndex(kPhysical);
    second.First();
    for (std::int32_t id : {10, 20}) {
      insert(id);
      ASSERT_EQ(second.GotoCurrentOf(first), 0) << id;
      ASSERT_EQ(second.GetCurrent(b.data(), false), 0);
      std::int32_t got = 0;
      second.GetField(false, 1, b.data(), &got);
      EXPECT_EQ(got, id);
    }
    EXPECT_EQ(second.RecNo(), 3u);
    first.Close();
    second.Close();
    first.DeleteTable();
  }
}

// The whole-table check of an Exclusive cursor sees the records it has not written yet.
TEST_F(TableModelCursors, VerifyTableSeesCachedRecords) {
  testing::CreateTable(name, testing::SmallTable());
  TDataFile table;
  table.SetFileName(name);
  table.SetExclusive(true);
  table.Open();
  TBuffer b(table.RecordBufferSize(), 0);
  for (std::int32_t id : {3, 1, 2}) {
    table.InitRecord(b.data());
    table.SetField(false, 1, &id, b.data());
    table.InsertRecord(b.data());
  }
  std::vector<std::string> problems = VerifyTable(table);
  EXPECT_TRUE(problems.empty()) << problems.front();
  table.Close();
  table.Open();
  EXPECT_TRUE(VerifyTable(table).empty());
}

TEST_P(TableModelTest, AgreesWithTheModel) {
  TableModel model(GetParam());
  try {
    model.Run();
  } catch (const TMismatch& e) {
    FAIL() << e.what();
  } catch (const std::exception& e) {
    FAIL() << model.Where() << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TableModelTest,
                         ::testing::Values(TConfig{11, true, true, 0, 2000}, TConfig{12, true, false, 3, 2000},
                                           TConfig{13, false, true, 1, 2000}, TConfig{14, false, false, 2, 2000},
                                           TConfig{15, true, true, 2, 2000}, TConfig{16, false, true, 0, 2000},
                                           TConfig{17, true, false, 1, 1500, true, 64},
                                           TConfig{18, false, true, 3, 1500, true, 100},
                                           TConfig{19, true, true, 0, 2400, false, 512, true}));

}  // namespace
}  // namespace quillon::engine
