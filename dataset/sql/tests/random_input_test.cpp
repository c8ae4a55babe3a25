// Deterministic random inputs (mutations of real statements) through the parser and checker:
// every input must either prepare into a consistent statement or fail with the SQL error; a crash,
// a sanitizer report, a hang or any other exception fails the test. The libFuzzer target
// (dataset/sql/fuzz) explores further; this keeps the guard in the normal suite.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dataset/sql/data_query.h"
#include "dataset/sql/tests/sql_test_support.h"
#include "engine/errors.h"

namespace quillon::sql {
namespace {

const char* const kSeeds[] = {
    "Select a.song,b.artist,b.album,a.index from \"songList.dat\" a, \"AlbumList.dat\" b where (lower(a.song) like "
    "'%love%') and (a.albumindex=b.index) order by a.song",
    "select distinct s as \"Name\", count(*), sum(n) total into memory res from t x left outer join u on x.n = u.n "
    "where d between '1/2/2003' and date and not flag group by 1, s order by s desc, 2 asc nocase with locks",
    "/* c */ select substring(s from 2 for 5), trim(both 'x' from s), extract(year from ts), upper(s) || 'a''b' "
    "from [t] where n in (1, 2, 3) and s not like 'Ab%' and s is not null or n <> 10 - 4 - 3 * 2 / 1.5e3",
    "insert into memory \"t.dat\" (s, n, t.w) values (?, 'O''Brien', 7)",
    "update t x set n = n + 1, s = ? where x.tm >= '12:30' and x.ts < ?",
    "delete from memory t where s = '' or flag",
    "select * from t right join u on t.n = u.n inner join songList c on c.index = u.k, AlbumList",
};

const char* const kFragments[] = {
    " select ",  " from ", " where ", " and ",   " or ",    " not ",      " in (",       " between ", " like ",
    " is null ", " join ", " left ",  " right ", " on ",    " group by ", " order by ",  " into ",    " memory ",
    " values (", " set ",  "(",       ")",       ",",       ".",          "*",           "?",         "'",
    "\"",        "''",     "[",       "]",       "/*",      "*/",         "<",           ">",         "=",
    "|",         "-",      "+",       "/",       " count(", " sum(",      " substring(", " trim(",    " extract(",
    " lower(",   " date ", " now ",   " null ",  " true ",  "1",          "250",         "1.5e",      "\r\n",
    " ",         "\x81",   "\xff",    "s",       "t.",      "a.song",
};

std::string Mutate(std::string text, std::mt19937& rng) {
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % (n == 0 ? 1 : n)); };
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < steps; ++i) {
    switch (rng() % 6) {
      case 0:  // erase a run
        if (!text.empty()) {
          const std::size_t at = pick(text.size());
          text.erase(at, 1 + pick(8));
        }
        break;
      case 1:  // insert a fragment
        text.insert(pick(text.size() + 1), kFragments[pick(std::size(kFragments))]);
        break;
      case 2:  // replace a byte with any byte
        if (!text.empty()) text[pick(text.size())] = static_cast<char>(rng() & 0xFF);
        break;
      case 3:  // cut the end
        text.resize(pick(text.size() + 1));
        break;
      case 4: {  // duplicate a run
        if (text.empty()) break;
        const std::size_t at = pick(text.size());
        text.insert(at, text.substr(at, 1 + pick(20)));
        break;
      }
      default:  // swap two bytes
        if (text.size() > 1) std::swap(text[pick(text.size())], text[pick(text.size())]);
        break;
    }
  }
  return text;
}

// Invariants of a prepared statement: columns bound into the source list, conditions boolean.
void ExpectConsistent(const TQueryExprNode* node, std::size_t sources, const std::string& sql) {
  for (; node; node = node->Next.get()) {
    if (node->NodeClass == kNodeColumn && node->ColumnName != "*") {
      ASSERT_GE(node->SourceIndex, 0) << sql;
      ASSERT_LT(static_cast<std::size_t>(node->SourceIndex), sources) << sql;
      ASSERT_GT(node->FieldNumber, 0) << sql;
    }
    ExpectConsistent(node->First.get(), sources, sql);
  }
}

TEST(SqlRandomInput, MutatedStatementsPrepareOrFailCleanly) {
  std::mt19937 rng(20240315);
  int prepared = 0;
  int refused = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string sql = kSeeds[static_cast<std::size_t>(i) % std::size(kSeeds)];
    sql = Mutate(sql, rng);
    if (i % 5 == 0) sql = Mutate(sql, rng);
    TDataQuery query;
    try {
      query.Prepare(sql, testing::StandardResolver());
    } catch (const engine::EEngineError& e) {
      ASSERT_EQ(e.Code(), engine::err::kSql) << sql;
      ASSERT_EQ(std::string(e.what()).rfind("SQL - ", 0), 0u) << sql;
      ASSERT_LE(std::string(e.what()).size(), 127u) << sql;
      ++refused;
      continue;
    }
    ++prepared;
    for (const TResultDataField& f : query.ResultFields)
      ExpectConsistent(f.Expression.get(), query.Sources.size(), sql);
    ExpectConsistent(query.Condition.get(), query.Sources.size(), sql);
    for (const TQueryExprNode* part : query.ConditionParts()) {
      ASSERT_TRUE(part->DataType == 4 || part->IsParameter) << sql;
    }
  }
  // Both outcomes must occur, or the mutations are not reaching the parser's paths.
  EXPECT_GT(prepared, 100);
  EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace quillon::sql
