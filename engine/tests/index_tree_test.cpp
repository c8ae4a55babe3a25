// The index B+-trees: long random sequences of inserts and deletes against an ordered model,
// with the verifier after every step and a reopen from disk; the page capacities and the shape
// of the first split; duplicate and missing keys; and damaged index files.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/index_file.h"
#include "engine/index_key.h"
#include "engine/tests/test_tables.h"
#include "util/testing/temp_dir.h"

namespace quillon::engine {
namespace {

using testing::ErrorCode;
using testing::Field;
using testing::PrimaryOn;

TIndexDescriptor Secondary(const std::string& name, std::initializer_list<int> fields, bool unique = false,
                           std::uint8_t compression = 0, bool descending = false) {
  TIndexDescriptor d = PrimaryOn(fields);
  d.IndexName = name;
  d.Unique = unique;
  d.Compression = compression;
  d.Descending = descending;
  return d;
}

// One tree shape for the model test: the table, the index under test and how keys look.
struct TTreeCase {
  const char* Name;
  std::vector<TFieldDescriptor> Fields;
  TIndexDescriptor Index;  // a secondary index (slot 1); the primary is on field 1
  int Operations;          // inserts of the growing phase
  int TextBytes;           // leading key bytes that carry random text, at most
  unsigned Seed = 1234;
};

TTableDefinition TableFor(const TTreeCase& c) {
  TTableDefinition t;
  t.Fields = c.Fields;
  t.Indexes = {PrimaryOn({1}), c.Index};
  return t;
}

// An ordered model of the index: byte order, reversed for a descending index.
struct TModelLess {
  bool Descending = false;
  bool operator()(const TKey& a, const TKey& b) const {
    int r = std::memcmp(a.data(), b.data(), a.size());
    return Descending ? r > 0 : r < 0;
  }
};
using TModel = std::map<TKey, std::uint32_t, TModelLess>;

class IndexTree : public testing::EngineTest {
 protected:
  quillon::testing::TempDir dir;
  std::unique_ptr<TDataFile> table;

  void Open(const std::string& name) {
    table = std::make_unique<TDataFile>();
    table->SetFileName(dir.File(name));
    table->SetExclusive(true);
    table->Open();
  }
  void Create(const std::string& name, const TTableDefinition& t) {
    testing::CreateTable(dir.File(name), t);
    Open(name);
  }
  TIndexFile& Index() { return table->IndexFile(); }

  // Every entry in index order, read along the leaf level.
  std::vector<std::pair<TKey, std::uint32_t>> Scan() {
    std::vector<std::pair<TKey, std::uint32_t>> out;
    TKeyPosition p = Index().FirstPosition();
    TKey key;
    std::uint32_t record = 0;
    std::uint32_t ordinal = 1;
    while (Index().ReadPosition(p, &key, &record)) {
      EXPECT_EQ(p.Ordinal, ordinal++);
      out.emplace_back(key, record);
      if (!Index().NextPosition(p)) break;
    }
    return out;
  }

  void ExpectMatches(const TModel& model) {
    std::vector<std::pair<TKey, std::uint32_t>> want(model.begin(), model.end());
    ASSERT_EQ(Scan(), want);
    // And backwards from the last key.
    TKeyPosition p = Index().LastPosition();
    std::size_t i = want.size();
    TKey key;
    while (Index().ReadPosition(p, &key, nullptr)) {
      ASSERT_GT(i, 0u);
      ASSERT_EQ(key, want[--i].first);
      if (!Index().PriorPosition(p)) break;
    }
    EXPECT_EQ(i, 0u);
  }

  void ExpectSound(const char* when) {
    std::vector<std::string> problems = Index().VerifyIndex(Index().CurrentIndex());
    ASSERT_TRUE(problems.empty()) << when << ": " << problems.front();
  }
};

class IndexTreeModel : public IndexTree, public ::testing::WithParamInterface<TTreeCase> {};

TKey RandomKey(std::mt19937& random, int keyLength, int textBytes, bool rowIdSuffix, std::int32_t rowId) {
  TKey key(static_cast<std::size_t>(keyLength), 0);
  int room = rowIdSuffix ? keyLength - 4 : keyLength;
  int used = 1 + static_cast<int>(random() % static_cast<unsigned>(std::min(room, textBytes)));
  key[0] = 1;
  // A small alphabet gives long shared prefixes; the zero tail gives trailing zeros to drop.
  for (int i = 1; i < used; ++i) key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>('A' + random() % 3);
  if (rowIdSuffix) PutIntegerKey(key.data() + keyLength - 4, rowId);
  return key;
}

TKey IntKey(std::int32_t v) {
  TKey key(5);
  key[0] = 1;
  PutIntegerKey(key.data() + 1, v);
  return key;
}

TEST_P(IndexTreeModel, MatchesAnOrderedModelThroughInsertsAndDeletes) {
  const TTreeCase& c = GetParam();
  Create("model", TableFor(c));
  Index().SelectIndex(1);
  const TIndexDescriptor d = Index().CurrentDescriptor();
  const bool suffix = Index().IsNonUniqueSecondary(1);
  TModel model(TModelLess{d.Descending});
  std::mt19937 random(c.Seed);
  std::int32_t rowId = 0;
  std::uint32_t record = 0;
  const int kl = d.KeyLength;

  auto insertOne = [&] {
    TKey key = RandomKey(random, kl, c.TextBytes, suffix, ++rowId);
    if (model.count(key) != 0) {
      EXPECT_EQ(ErrorCode([&] { Index().CheckDuplicate(key.data()); }), suffix ? 0 : err::kDuplicateKey);
      return;
    }
    Index().CheckDuplicate(key.data());
    Index().InsertKey(key, ++record);
    model.emplace(key, record);
  };
  auto deleteOne = [&] {
    if (model.empty()) return;
    auto it = model.begin();
    std::advance(it, static_cast<long>(random() % model.size()));
    Index().DeleteKey(it->first, it->second);
    model.erase(it);
  };
  auto checkStep = [&](int step) {
    ExpectSound(("step " + std::to_string(step)).c_str());
    ASSERT_EQ(Index().KeyCount(), model.size());
    if (model.empty() || step % 7 != 0) return;
    // Ordinals from the subtree counts agree with the model's ranks.
    auto it = model.begin();
    std::uint32_t rank = static_cast<std::uint32_t>(random() % model.size());
    std::advance(it, static_cast<long>(rank));
    EXPECT_EQ(Index().LowerBound(it->first.data(), kl).Ordinal, rank + 1);
    EXPECT_EQ(Index().UpperBound(it->first.data(), kl).Ordinal, rank + 2);
    TKey key;
    ASSERT_TRUE(Index().ReadPosition(Index().PositionAtOrdinal(rank + 1), &key, nullptr));
    EXPECT_EQ(key, it->first);
    EXPECT_TRUE(Index().ContainsKey(it->first));
  };

  int step = 0;
  for (int i = 0; i < c.Operations; ++i, ++step) {
    if (random() % 10 < 7) {
      insertOne();
    } else {
      deleteOne();
    }
    checkStep(step);
    if (HasFatalFailure()) return;
  }
  ExpectMatches(model);
  const std::uint32_t pagesBefore = Index().NextPageOffset();
  table->Close();
  Open("model");
  Index().SelectIndex(1);
  ExpectSound("after reopening");
  ExpectMatches(model);
  // Freed pages are reused before the file grows.
  for (int i = 0; i < c.Operations / 4; ++i) deleteOne();
  if (d.Compression == 0) {  // compressed leaves are freed only when empty
    EXPECT_NE(Index().CurrentFreePageHead(), 0u);
  }
  EXPECT_EQ(Index().NextPageOffset(), pagesBefore);
  for (int i = 0; i < c.Operations / 4; ++i) {
    std::uint32_t end = Index().NextPageOffset();
    insertOne();
    if (Index().NextPageOffset() != end) {
      ASSERT_EQ(Index().CurrentFreePageHead(), 0u) << "grew with free pages left";
    }
  }
  ExpectSound("after refilling");
  // Shrink to nothing: merges, redistributions and root collapses down to an empty index.
  while (!model.empty()) {
    if (random() % 10 < 8) {
      deleteOne();
    } else {
      insertOne();
    }
    checkStep(++step);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(Index().CurrentRootPage(), 0u);
  table->Close();
  Open("model");
  Index().SelectIndex(1);
  EXPECT_EQ(Index().KeyCount(), 0u);
  ExpectSound("empty after reopening");
}

std::vector<TFieldDescriptor> LongKeyFields() {
  return {Field("Id", TFieldType::Integer),    Field("A", TFieldType::String, 250), Field("B", TFieldType::String, 250),
          Field("C", TFieldType::String, 250), Field("D", TFieldType::String, 250), Field("E", TFieldType::Bytes, 17)};
}

std::vector<TFieldDescriptor> NameFields(int size) {
  return {Field("Id", TFieldType::Integer), Field("Name", TFieldType::String, size)};
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, IndexTreeModel,
    ::testing::Values(
        // KeyLength 5: an int-sized key, many entries per page.
        TTreeCase{"Int",
                  {Field("Id", TFieldType::Integer), Field("N", TFieldType::Integer)},
                  Secondary("ByN", {2}, true),
                  2500,
                  5},
        TTreeCase{"NonUnique0", NameFields(40), Secondary("ByName", {2}, false, 0), 1500, 12},
        TTreeCase{"NonUnique1", NameFields(40), Secondary("ByName", {2}, false, 1), 3000, 12},
        TTreeCase{"NonUnique2", NameFields(40), Secondary("ByName", {2}, false, 2), 3000, 12},
        TTreeCase{"NonUnique3", NameFields(40), Secondary("ByName", {2}, false, 3), 4000, 12},
        TTreeCase{"Descending3", NameFields(20), Secondary("Down", {2}, true, 3, true), 2500, 10},
        TTreeCase{"DescendingPlain", NameFields(20), Secondary("Down", {2}, true, 0, true), 1500, 10},
        // Mid-size keys, one of them long enough that mode 3 caps p and t at 255.
        TTreeCase{"Mid1", NameFields(250), Secondary("Wide", {2}, true, 1), 700, 200},
        TTreeCase{"Mid3", NameFields(250), Secondary("Wide", {2}, false, 3), 1200, 250},
        // KeyLength 1,035: three entries a page, deep trees whose neighbours hang under other
        // parents.
        TTreeCase{"Long0", LongKeyFields(), Secondary("Long", {2, 3, 4, 5, 1, 6}, false, 0), 350, 8},
        // These sequences move entries between neighbours under different parents: to the right
        // of a left neighbour (seed 2) and, for a leftmost page, from a right neighbour (seed 6).
        TTreeCase{"Long0Seed2", LongKeyFields(), Secondary("Long", {2, 3, 4, 5, 1, 6}, false, 0), 350, 8, 2},
        TTreeCase{"Long0Seed6", LongKeyFields(), Secondary("Long", {2, 3, 4, 5, 1, 6}, false, 0), 350, 8, 6},
        TTreeCase{"Long3", LongKeyFields(), Secondary("Long", {2, 3, 4, 5, 1, 6}, false, 3), 600, 8},
        TTreeCase{"LongUnique1", LongKeyFields(), Secondary("Long", {2, 3, 4, 5, 1, 6}, true, 1), 350, 900}),
    [](const ::testing::TestParamInfo<TTreeCase>& info) { return std::string(info.param.Name); });

TEST_F(IndexTree, LongKeyCaseHasTheLengthItIsMeantToHave) {
  TTableDefinition t;
  t.Fields = LongKeyFields();
  t.Indexes = {PrimaryOn({1}), Secondary("Long", {2, 3, 4, 5, 1, 6})};
  Create("long", t);
  EXPECT_EQ(Index().GetIndexDescriptor(1).KeyLength, 4 * 252 + 5 + 18 + 4);
}

// ---- Index descriptors at table creation ------------------------------------------------------

TEST_F(IndexTree, IndexDescriptorsAreCheckedWithTheirCodes) {
  auto with = [](std::vector<TIndexDescriptor> secondaries) {
    TTableDefinition t;
    t.Fields = NameFields(20);
    t.Fields.push_back(Field("Memo", TFieldType::Blob));
    for (int i = 0; i < 5; ++i) t.Fields.push_back(Field("Wide" + std::to_string(i), TFieldType::String, 250));
    t.Indexes = {PrimaryOn({1})};
    for (auto& d : secondaries) t.Indexes.push_back(d);
    return t;
  };
  std::vector<TIndexDescriptor> thirtyOne;
  for (int i = 0; i < 31; ++i) thirtyOne.push_back(Secondary("I" + std::to_string(i), {2}));
  TIndexDescriptor seventeen = Secondary("Many", {});
  for (int i = 0; i < 17; ++i) seventeen.KeyFields[seventeen.KeyFieldCount++] = 2;
  struct Case {
    const char* What;
    std::vector<TIndexDescriptor> Secondaries;
    int Code;
  } cases[] = {
      {"30 secondaries", std::vector<TIndexDescriptor>(thirtyOne.begin(), thirtyOne.begin() + 30), 0},
      {"31 secondaries", thirtyOne, err::kIndexLimits},
      {"17 key fields", {seventeen}, err::kIndexLimits},
      {"empty name", {Secondary("", {2})}, err::kIndexNameMissing},
      {"leading blank", {Secondary(" Name", {2})}, err::kInvalidIndexName},
      {"leading digit", {Secondary("2nd", {2})}, err::kInvalidIndexName},
      {"same name", {Secondary("ByName", {2}), Secondary("byname  ", {1})}, err::kIndexExists},
      {"BLOB key", {Secondary("Blob", {3})}, err::kInvalidIndexFieldType},
      {"unknown field", {Secondary("Nowhere", {99})}, err::kInvalidIndexField},
      {"key above 1,036 bytes", {Secondary("Wide", {4, 5, 6, 7, 8})}, err::kInvalidKeySize},
      {"key of 1,036 bytes", {Secondary("Wide", {4, 5, 6, 7, 1, 1}, true)}, 0},
  };
  for (auto& c : cases) {
    TDataFile t;
    t.SetFileName(dir.File("desc"));
    t.SetExclusive(true);
    EXPECT_EQ(ErrorCode([&] { t.CreateTable(with(c.Secondaries)); }), c.Code) << c.What;
    if (c.Code == 0) t.DeleteTable();
  }
  // The unknown field and the index are named.
  TDataFile t;
  t.SetFileName(dir.File("desc"));
  t.SetExclusive(true);
  ErrorCode([&] { t.CreateTable(with({Secondary("Nowhere", {99})})); });
  EXPECT_EQ(CurrentErrorContext().ErrorFieldName, "99");
  EXPECT_EQ(CurrentErrorContext().ErrorIndexName, "Nowhere");

  Create("desc", with({Secondary("ByName", {2})}));
  EXPECT_EQ(ErrorCode([&] { Index().AddPrimaryIndex(PrimaryOn({1}), false); }), err::kPrimaryExists);
  table->Close();
  table->SetExclusive(false);
  table->Open();
  EXPECT_EQ(ErrorCode([&] { Index().AddSecondaryIndex(Secondary("More", {2})); }), err::kMustBeExclusive);
}

TEST_F(IndexTree, ATableWithoutPrimaryFieldsHasNoPrimaryIndex) {
  TTableDefinition t = testing::SmallTable();
  t.Indexes = {PrimaryOn({})};
  t.AllowEmptyPrimary = true;
  Create("none", t);
  EXPECT_TRUE(Index().NoPrimaryIndex());
  EXPECT_FALSE(Index().HasCurrentTree());
  EXPECT_EQ(ErrorCode([&] { Index().InsertKey(IntKey(1), 1); }), err::kInvalidIndexName);
  EXPECT_TRUE(Index().Verify().empty());
}

// ---- Capacities and the first split -----------------------------------------------------------

TEST_F(IndexTree, KeyLengthFiveHolds371LeafEntriesAnd272WithChildren) {
  Create("cap", testing::SmallTable());
  ASSERT_EQ(Index().KeyLength(), 5);
  int maxRootLeaf = 0, maxRootInner = 0;
  bool sawFirstSplit = false;
  for (std::int32_t v = 1; v <= 60000; ++v) {
    Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
    auto root = Index().InspectPage(Index().CurrentRootPage());
    if (root.PageType == kRootLeaf) maxRootLeaf = std::max(maxRootLeaf, root.EntryCount);
    if (root.PageType == kRootWithChildren && !sawFirstSplit) {
      sawFirstSplit = true;
      // The first split: a type-0 root over two type-2 leaves of 186 entries each.
      EXPECT_EQ(v, 372);
      EXPECT_EQ(root.EntryCount, 2);
      TKeyPosition first = Index().FirstPosition();
      auto left = Index().InspectPage(first.Page);
      EXPECT_EQ(left.PageType, kLeafPage);
      EXPECT_EQ(left.EntryCount, 186);
      EXPECT_EQ(left.PrevPage, 0u);
      auto right = Index().InspectPage(left.NextPage);
      EXPECT_EQ(right.PageType, kLeafPage);
      EXPECT_EQ(right.EntryCount, 186);
      EXPECT_EQ(right.PrevPage, Index().LowerBound(IntKey(1).data(), 5).Page);
    }
    if (root.PageType == kRootWithChildren) {
      // Below the root: leaves (two levels) or pages with children (three levels).
      auto child = Index().InspectPage(Index().FirstPosition().Page);
      if (child.PageType == kLeafPage && Index().KeyCount() < 60000)
        maxRootInner = std::max(maxRootInner, root.EntryCount);
    }
  }
  EXPECT_EQ(maxRootLeaf, 371);
  EXPECT_GE(maxRootInner, 200);
  ExpectSound("60,000 keys");
  // The root over pages with children appears once the root overflows 272 entries.
  auto root = Index().InspectPage(Index().CurrentRootPage());
  EXPECT_EQ(root.PageType, kRootWithChildren);
  EXPECT_EQ(Index().PositionAtOrdinal(54321).Ordinal, 54321u);
}

TEST_F(IndexTree, AnInnerPageSplitsWhenItsEntriesExceed272) {
  Create("inner", testing::SmallTable());
  // Ascending inserts leave full leaves of 186 entries behind; the root splits at 273 entries.
  std::int32_t v = 0;
  std::uint32_t rootBefore = 0;
  int entriesBefore = 0;
  for (;;) {
    ++v;
    Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
    auto root = Index().InspectPage(Index().CurrentRootPage());
    if (root.PageType == kRootWithChildren && Index().CurrentRootPage() != rootBefore && rootBefore != 0 &&
        entriesBefore > 2) {
      break;
    }
    if (root.PageType == kRootWithChildren) {
      rootBefore = Index().CurrentRootPage();
      entriesBefore = root.EntryCount;
    }
    ASSERT_LT(v, 100000);
  }
  EXPECT_EQ(entriesBefore, 272);
  auto root = Index().InspectPage(Index().CurrentRootPage());
  EXPECT_EQ(root.EntryCount, 2);
  auto oldRoot = Index().InspectPage(rootBefore);
  EXPECT_EQ(oldRoot.PageType, kInnerPage);
  EXPECT_EQ(oldRoot.EntryCount, 137);
  EXPECT_EQ(Index().InspectPage(oldRoot.NextPage).EntryCount, 136);
  ExpectSound("three levels");
}

TEST_F(IndexTree, DeletingTheLastKeyFreesTheRoot) {
  Create("last", testing::SmallTable());
  Index().InsertKey(IntKey(7), 1);
  std::uint32_t root = Index().CurrentRootPage();
  EXPECT_EQ(Index().InspectPage(root).PageType, kRootLeaf);
  Index().DeleteKey(IntKey(7));
  EXPECT_EQ(Index().CurrentRootPage(), 0u);
  EXPECT_EQ(Index().CurrentFreePageHead(), root);
  EXPECT_TRUE(Index().InspectPage(root).Free);
  // The freed page is the next one handed out.
  Index().InsertKey(IntKey(8), 2);
  EXPECT_EQ(Index().CurrentRootPage(), root);
  EXPECT_EQ(Index().CurrentFreePageHead(), 0u);
}

TEST_F(IndexTree, MissingAndDuplicateKeysNameTheIndex) {
  TTableDefinition t = testing::SmallTable();
  t.Indexes.push_back(Secondary("ByName", {2}, true));
  Create("dup", t);
  Index().InsertKey(IntKey(1), 1);
  try {
    Index().CheckDuplicate(IntKey(1).data());
    FAIL();
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.Code(), err::kDuplicateKey);
    EXPECT_EQ(CurrentErrorContext().ErrorIndexName, "Primary");
  }
  EXPECT_EQ(ErrorCode([&] { Index().DeleteKey(IntKey(2)); }), err::kKeyNotFound);
  EXPECT_EQ(ErrorCode([&] { Index().ReplaceKey(IntKey(2).data(), IntKey(3).data(), 1); }), err::kKeyNotFound);
  // Among equal keys the record number picks the entry; a wrong one is not found.
  EXPECT_EQ(ErrorCode([&] { Index().DeleteKey(IntKey(1), 9); }), err::kKeyNotFound);
  Index().ReplaceKey(IntKey(1).data(), IntKey(5).data(), 1);
  EXPECT_FALSE(Index().ContainsKey(IntKey(1)));
  EXPECT_TRUE(Index().ContainsKey(IntKey(5)));

  Index().SelectIndex("byname");
  TKey name(22, 0);
  name[0] = 1;
  name[1] = 'X';
  Index().InsertKey(name, 1);
  try {
    Index().CheckDuplicate(name.data());
    FAIL();
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.Code(), err::kDuplicateKey);
    EXPECT_EQ(CurrentErrorContext().ErrorIndexName, "ByName");
  }
  EXPECT_EQ(ErrorCode([&] { Index().SelectIndex("nothing"); }), err::kInvalidIndexName);
  EXPECT_EQ(ErrorCode([&] { Index().SelectIndex(2); }), err::kInvalidIndexName);
}

TEST_F(IndexTree, RangeCountsComeFromTheTree) {
  Create("range", testing::SmallTable());
  for (std::int32_t v = 1; v <= 3000; ++v) Index().InsertKey(IntKey(v * 2), static_cast<std::uint32_t>(v));
  EXPECT_EQ(Index().CountKeysInRange(IntKey(10).data(), IntKey(20).data()), 6u);
  EXPECT_EQ(Index().CountKeysInRange(IntKey(11).data(), IntKey(19).data()), 4u);
  EXPECT_EQ(Index().CountKeysInRange(IntKey(-5).data(), IntKey(100000).data()), 3000u);
  EXPECT_EQ(Index().CountKeysInRange(IntKey(20).data(), IntKey(10).data()), 0u);
  std::vector<std::uint8_t> bits(3000 / 8 + 1, 0xFF);
  Index().MarkRecordsInRange(IntKey(3).data(), IntKey(9).data(), bits);
  EXPECT_EQ(bits[0], 0x0E);  // records 2, 3 and 4 (keys 4, 6, 8)
  for (std::size_t i = 1; i < bits.size(); ++i) EXPECT_EQ(bits[i], 0) << i;
  // A partial comparison length: every key whose first byte is the null byte 1.
  TKey prefix(5, 0);
  prefix[0] = 1;
  EXPECT_EQ(Index().LowerBound(prefix.data(), 1).Ordinal, 1u);
  EXPECT_EQ(Index().UpperBound(prefix.data(), 1).Ordinal, 3001u);
  EXPECT_EQ(Index().UpperBound(prefix.data(), 1).Page, 0u);
}

TEST_F(IndexTree, DirtyPagesAreWrittenInRunsAndTheHeaderAfterThem) {
  Create("runs", testing::SmallTable());
  for (std::int32_t v = 1; v <= 5000; ++v) Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
  Index().WriteBack(false);
  EXPECT_GT(Index().LastWriteBackPages, 1);
  EXPECT_LT(Index().LastWriteBackWrites, Index().LastWriteBackPages);
  table->Close();
  Open("runs");
  EXPECT_EQ(Index().KeyCount(), 5000u);
  ExpectSound("written in runs");
}

TEST_F(IndexTree, EncryptedIndexPagesReadBack) {
  TTableDefinition t = testing::SmallTable();
  t.Encrypted = true;
  t.Password = "secret";
  Session().AddPassword("secret");
  Create("crypt", t);
  for (std::int32_t v = 1; v <= 1000; ++v) Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
  table->Close();
  std::string bytes = dir.Read("crypt.IDX");
  ASSERT_GE(bytes.size(), 2u * kIndexPageSize);
  Open("crypt");
  EXPECT_EQ(Index().KeyCount(), 1000u);
  ExpectSound("encrypted");
}

TEST_F(IndexTree, EmptyIndexFileForgetsEveryTree) {
  Create("empty", testing::SmallTable());
  for (std::int32_t v = 1; v <= 2000; ++v) Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
  Index().EmptyIndexFile();
  EXPECT_EQ(Index().KeyCount(), 0u);
  EXPECT_EQ(Index().NextPageOffset(), static_cast<std::uint32_t>(kIndexPageSize));
  Index().InsertKey(IntKey(1), 1);
  ExpectSound("after emptying");
}

// ---- Keys built from records -----------------------------------------------------------------

class RecordKeys : public IndexTree {
 protected:
  std::vector<std::uint8_t> Record(std::int32_t rowId, const std::string& name) {
    std::vector<std::uint8_t> r(table->RecordBufferSize(), 0);
    PutI32(r.data() + kRowIdOffset, rowId);
    const TFieldDescriptor& f = table->PhysicalFields()[1];
    r[f.Offset] = name.empty() ? 0 : 1;
    std::memcpy(r.data() + f.Offset + 1, name.data(), name.size());
    return r;
  }
  void Add(int index, const std::vector<std::uint8_t>& record, std::uint32_t number) {
    Index().SelectIndex(index);
    TKey key = Index().BuildKey(index, record.data());
    Index().CheckDuplicate(key.data());
    Index().InsertKey(key, number);
  }
  std::vector<std::uint32_t> RecordsInOrder(int index) {
    Index().SelectIndex(index);
    std::vector<std::uint32_t> out;
    for (auto& [key, record] : Scan()) out.push_back(record);
    return out;
  }
};

TEST_F(RecordKeys, NonUniqueIndexesOrderEqualValuesByRowIdentifier) {
  TTableDefinition t;
  t.Fields = NameFields(20);
  t.Indexes = {PrimaryOn({1}), Secondary("ByName", {2}), Secondary("Down", {2}, true, 0, true),
               Secondary("NoCase", {2}, true, 3)};
  t.Indexes[3].CaseInsensitive = true;
  Create("records", t);
  Add(1, Record(7, "Same"), 1);
  Add(1, Record(3, "Same"), 2);
  Add(1, Record(5, "Other"), 3);
  EXPECT_EQ(RecordsInOrder(1), (std::vector<std::uint32_t>{3, 2, 1}));
  // Descending: the larger key first.
  Add(2, Record(1, "Apple"), 1);
  Add(2, Record(2, "Pear"), 2);
  Add(2, Record(3, "Fig"), 3);
  EXPECT_EQ(RecordsInOrder(2), (std::vector<std::uint32_t>{2, 3, 1}));
  EXPECT_EQ(ErrorCode([&] { Add(2, Record(4, "Fig"), 4); }), err::kDuplicateKey);
  // Case-insensitive and unique: "fig" is "FIG".
  Add(3, Record(1, "Fig"), 1);
  EXPECT_EQ(ErrorCode([&] { Add(3, Record(2, "fIG"), 2); }), err::kDuplicateKey);
  EXPECT_EQ(CurrentErrorContext().ErrorIndexName, "NoCase");
  EXPECT_TRUE(Index().Verify().empty());
}

TEST_F(IndexTree, SelectIndexForFieldTakesTheFirstFittingIndex) {
  TTableDefinition t;
  t.Fields = NameFields(20);
  t.Indexes = {PrimaryOn({1}), Secondary("Exact", {2}), Secondary("NoCase", {2}), Secondary("Pair", {1, 2})};
  t.Indexes[2].CaseInsensitive = true;
  Create("pick", t);
  EXPECT_TRUE(Index().SelectIndexForField(2, true, false));
  EXPECT_EQ(Index().CurrentIndexName(), "NoCase");
  EXPECT_TRUE(Index().SelectIndexForField(2, true, true));
  EXPECT_EQ(Index().CurrentIndexName(), "Exact");
  EXPECT_TRUE(Index().SelectIndexForField(1, true, false));  // not a string: case does not matter
  EXPECT_EQ(Index().CurrentIndex(), 0);
  EXPECT_FALSE(Index().SelectIndexForField(3, false, true));
  EXPECT_EQ(Index().CurrentIndex(), 0);

  // A table without a primary index is read in physical order only: even a secondary index
  // that starts with the field is not chosen.
  TTableDefinition bare;
  bare.Fields = NameFields(20);
  bare.Indexes = {PrimaryOn({}), Secondary("Exact", {2})};
  bare.AllowEmptyPrimary = true;
  Create("bare", bare);
  ASSERT_TRUE(Index().NoPrimaryIndex());
  const int before = Index().CurrentIndex();
  EXPECT_FALSE(Index().SelectIndexForField(2, false, true));
  EXPECT_EQ(Index().CurrentIndex(), before);
}

TEST_F(RecordKeys, TheCursorBuildsKeysOfItsCurrentIndex) {
  TTableDefinition t;
  t.Fields = NameFields(20);
  t.Indexes = {PrimaryOn({1}), Secondary("ByName", {2})};
  Create("cursor", t);
  std::vector<std::uint8_t> r = Record(4, "Zed");
  PutI32(r.data() + table->PhysicalFields()[0].Offset + 1, 12);
  r[table->PhysicalFields()[0].Offset] = 1;
  EXPECT_EQ(table->BuildKey(r.data()), IntKey(12));
  Index().SelectIndex(1);
  EXPECT_EQ(table->BuildKey(r.data()).size(), 26u);  // 22 name bytes and the row identifier
  Index().SelectIndex(TIndexFile::kPhysicalOrder);
  EXPECT_TRUE(table->BuildKey(r.data()).empty());
}

#ifdef _WIN32
// Only Windows has the locales; elsewhere a table with one cannot be opened (15878).
TEST_F(RecordKeys, ALocaleOrdersStringKeysByItsCollation) {
  TTableDefinition t;
  t.Fields = NameFields(20);
  t.LanguageId = 0x0409;
  t.Indexes = {PrimaryOn({1}), Secondary("ByName", {2}, true, 3)};
  Create("locale", t);
  const char* names[] = {"c", "B", "a", "b", "A"};
  for (std::uint32_t i = 0; i < 5; ++i) Add(1, Record(static_cast<std::int32_t>(i + 1), names[i]), i + 1);
  std::vector<std::uint32_t> order = RecordsInOrder(1);
  ASSERT_EQ(order.size(), 5u);
  auto rank = [&](std::uint32_t record) { return std::find(order.begin(), order.end(), record) - order.begin(); };
  EXPECT_LT(rank(3), rank(2));  // "a" before "B", unlike byte order
  EXPECT_LT(rank(5), rank(4));  // "A" before "b"
  EXPECT_EQ(rank(1), 4);        // "c" last
  EXPECT_TRUE(Index().Verify().empty());
}
#endif

TEST_F(RecordKeys, DeletedRecordsIndexHoldsLiveAndDeletedKeysApart) {
  Create("deleted", testing::SmallTable());
  Index().SelectIndex(kDeletedIndexSlot);
  EXPECT_EQ(Index().KeyLength(), 5);
  std::vector<std::uint8_t> r = Record(9, "x");
  Index().InsertKey(Index().BuildKey(kDeletedIndexSlot, r.data()), 1);
  r[0] = 1;  // deleted
  TKey deleted = Index().BuildKey(kDeletedIndexSlot, r.data());
  r[0] = 0;
  Index().ReplaceKey(Index().BuildKey(kDeletedIndexSlot, r.data()).data(), deleted.data(), 1);
  EXPECT_EQ(
      Index().CountKeysInRange(DeletedRecordKey(true, INT32_MIN).data(), DeletedRecordKey(true, INT32_MAX).data()), 1u);
  EXPECT_TRUE(Index().Verify().empty());
}

// ---- The page cache ---------------------------------------------------------------------------

TEST_F(IndexTree, CacheStaysAt31PagesAndWritesDirtyPagesWhenItNeedsRoom) {
  Create("cache", testing::SmallTable());
  for (std::int32_t v = 1; v <= 20000; ++v) Index().InsertKey(IntKey(v * 7919 % 20011), static_cast<std::uint32_t>(v));
  EXPECT_EQ(Index().PageCacheCapacity(0), TIndexFile::kPageCacheSize);
  EXPECT_GT(std::filesystem::file_size(dir.File("cache.IDX")), 40u * kIndexPageSize);
  ExpectSound("through a small cache");
}

TEST_F(IndexTree, UnderTheTransactionLockTheCacheGrowsAndNothingIsWritten) {
  testing::CreateTable(dir.File("txn"), testing::SmallTable());
  table = std::make_unique<TDataFile>();
  table->SetFileName(dir.File("txn"));
  table->Open();  // shared
  table->AcquireTransactionLock();
  const auto sizeBefore = std::filesystem::file_size(dir.File("txn.IDX"));
  for (std::int32_t v = 1; v <= 20000; ++v) Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
  EXPECT_GT(Index().PageCacheCapacity(0), TIndexFile::kPageCacheSize);
  EXPECT_EQ(std::filesystem::file_size(dir.File("txn.IDX")), sizeBefore);
  ExpectSound("in memory");
  table->Close();  // deferred changes are discarded
  Open("txn");
  EXPECT_EQ(Index().KeyCount(), 0u);
}

// ---- Damaged files ----------------------------------------------------------------------------

class DamagedIndex : public IndexTree {
 protected:
  // A two-level primary index of 2,000 keys, written out and closed.
  void Build() {
    Create("bad", testing::SmallTable());
    for (std::int32_t v = 1; v <= 2000; ++v) Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
    for (std::int32_t v = 1; v <= 1200; ++v) Index().DeleteKey(IntKey(v));  // some free pages
    root = Index().CurrentRootPage();
    leaf = Index().FirstPosition().Page;
    freeHead = Index().CurrentFreePageHead();
    table->Close();
    bytes = dir.Read("bad.IDX");
  }
  void Patch(std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  }
  void Reopen() {
    dir.Write("bad.IDX", bytes);
    Open("bad");
  }
  // Every operation answers with an engine error, the verifier reports, nothing hangs.
  void ExpectDamageReported() {
    EXPECT_FALSE(Index().Verify().empty());
    int code = ErrorCode([&] {
      for (std::int32_t v = 1; v <= 3000; ++v) Index().InsertKey(IntKey(v + 5000), static_cast<std::uint32_t>(v));
      for (std::int32_t v = 1300; v <= 2000; ++v) Index().DeleteKey(IntKey(v));
    });
    EXPECT_NE(code, 0);
  }
  std::string bytes;
  std::uint32_t root = 0, leaf = 0, freeHead = 0;
};

TEST_F(DamagedIndex, UnknownPageType) {
  Build();
  bytes[root] = 9;
  Reopen();
  EXPECT_EQ(ErrorCode([&] { Index().ContainsKey(IntKey(1500)); }), err::kIndexPagesCorrupt);
  ExpectDamageReported();
}

TEST_F(DamagedIndex, EntryCountBeyondCapacity) {
  Build();
  Patch(leaf + 1, 500, 2);
  Reopen();
  EXPECT_EQ(ErrorCode([&] { Index().FirstPosition(); }), err::kIndexPagesCorrupt);
  ExpectDamageReported();
}

TEST_F(DamagedIndex, ChildOffsetPastTheEnd) {
  Build();
  Patch(root + kPageHeaderSize + 5, 0x7FFFF000, 4);  // the first entry's child
  Reopen();
  EXPECT_EQ(ErrorCode([&] { Index().ContainsKey(IntKey(1201)); }), err::kIndexPagesCorrupt);
  ExpectDamageReported();
}

TEST_F(DamagedIndex, ChildPointingBackAtTheRoot) {
  Build();
  Patch(root + kPageHeaderSize + 5, root, 4);
  Reopen();
  EXPECT_EQ(ErrorCode([&] { Index().ContainsKey(IntKey(1201)); }), err::kIndexPagesCorrupt);
  ExpectDamageReported();
}

TEST_F(DamagedIndex, CyclicFreeList) {
  Build();
  ASSERT_NE(freeHead, 0u);
  Patch(freeHead + 7, freeHead, 4);  // the free page links to itself
  Reopen();
  std::vector<std::string> problems = Index().Verify();
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems.front().find("cycle"), std::string::npos) << problems.front();
  ExpectDamageReported();
}

TEST_F(DamagedIndex, FreeListIntoAPageInUse) {
  Build();
  Patch(14 + 90, leaf, 4);  // the primary's FreePageHead names a leaf of the tree
  Reopen();
  EXPECT_FALSE(Index().Verify().empty());
  ExpectDamageReported();
}

TEST_F(DamagedIndex, PageClaimedByTwoIndexes) {
  TTableDefinition t = testing::SmallTable();
  t.Indexes.push_back(Secondary("Again", {1}, true));
  Create("bad", t);
  for (int index : {0, 1}) {
    Index().SelectIndex(index);
    for (std::int32_t v = 1; v <= 10; ++v) Index().InsertKey(IntKey(v), static_cast<std::uint32_t>(v));
  }
  Index().SelectIndex(0);
  root = Index().CurrentRootPage();
  table->Close();
  bytes = dir.Read("bad.IDX");
  Patch(14 + 120 + 86, root, 4);  // the secondary's root is the primary's
  Reopen();
  EXPECT_TRUE(Index().VerifyIndex(1).empty());  // each tree alone is sound
  std::vector<std::string> problems = Index().Verify();
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems.front().find("reached twice"), std::string::npos) << problems.front();
}

// Random bytes anywhere in the file: every answer is a result or an engine error.
TEST_F(DamagedIndex, RandomDamageGivesEngineErrorsOnly) {
  TTableDefinition t;
  t.Fields = NameFields(30);
  t.Indexes = {PrimaryOn({1}), Secondary("ByName", {2}, false, 3), Secondary("Plain", {2}, false, 1)};
  Create("bad", t);
  std::mt19937 random(99);
  for (int index : {0, 1, 2}) {
    Index().SelectIndex(index);
    for (std::int32_t v = 1; v <= 600; ++v) {
      Index().InsertKey(RandomKey(random, Index().KeyLength(), 12, index != 0, v), static_cast<std::uint32_t>(v));
    }
  }
  table->Close();
  const std::string good = dir.Read("bad.IDX");
  for (int round = 0; round < 300; ++round) {
    bytes = good;
    for (int k = 0; k < 1 + round % 8; ++k) {
      bytes[random() % bytes.size()] = static_cast<char>(random());
    }
    dir.Write("bad.IDX", bytes);
    try {
      Open("bad");
      for (int index : {0, 1, 2}) {
        Index().Verify();
        Index().SelectIndex(index);
        TKey key = RandomKey(random, Index().KeyLength(), 12, index != 0, 5);
        Index().ContainsKey(key);
        for (std::int32_t v = 1; v <= 50; ++v)
          Index().InsertKey(RandomKey(random, Index().KeyLength(), 12, index != 0, 1000 + v), 1);
        TKeyPosition p = Index().FirstPosition();
        for (int steps = 0; steps < 2000 && Index().NextPosition(p); ++steps) {
        }
      }
    } catch (const EEngineError&) {  // the damage was noticed
    }
    table.reset();
  }
}

TEST_F(DamagedIndex, CompressedBytesBeyondThePage) {
  TTableDefinition t;
  t.Fields = NameFields(40);
  t.Indexes = {PrimaryOn({1}), Secondary("ByName", {2}, false, 3)};
  Create("bad", t);
  Index().SelectIndex(1);
  TKey key(46, 0);
  key[0] = 1;
  key[1] = 'Q';
  Index().InsertKey(key, 1);
  std::uint32_t page = Index().CurrentRootPage();
  table->Close();
  bytes = dir.Read("bad.IDX");
  Patch(page + 11, 4000, 2);  // UsedBytes claims more than the entries hold
  Reopen();
  Index().SelectIndex(1);
  EXPECT_EQ(ErrorCode([&] { Index().ContainsKey(key); }), err::kIndexPagesCorrupt);
  EXPECT_FALSE(Index().Verify().empty());
}

TEST_F(IndexTree, FileFullWhenTheNextPageWouldPassTwoGigabytes) {
  Create("full", testing::SmallTable());
  table->Close();
  std::string bytes = dir.Read("full.IDX");
  std::uint32_t nearEnd = 2000000000u - 2000000000u % kIndexPageSize;
  for (int i = 0; i < 4; ++i) bytes[9 + static_cast<std::size_t>(i)] = static_cast<char>(nearEnd >> (8 * i));
  dir.Write("full.IDX", bytes);
  Open("full");
  EXPECT_EQ(ErrorCode([&] { Index().InsertKey(IntKey(1), 1); }), err::kFileFull);
  EXPECT_EQ(Index().CurrentRootPage(), 0u);
}

}  // namespace
}  // namespace quillon::engine
