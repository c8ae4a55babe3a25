// Shared helpers of the SQL tests: running a piece of SQL and catching its engine error, and a
// fake column resolver over a few tables described in the test.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dataset/sql/data_query.h"
#include "dataset/sql/type_checker.h"

namespace quillon::sql::testing {

// The engine error text a failing action raises ("SQL - " + message, cut to 127 characters), or
// "<no error>" when it succeeds; a non-SQL error code is reported in the text.
std::string ErrorOf(const std::function<void()>& action);
// What ErrorOf gives for a failure with this SQL message.
std::string Expected(const std::string& message);

struct TFakeField {
  std::string Name;
  int Type;
  int Size = 0;
  int SubType = 0;
  int Scale = 0;
};

// Resolves columns of sources by the file-name part of their table name (case ignored).
class TFakeResolver : public TColumnResolver {
 public:
  void AddTable(const std::string& table, std::vector<TFakeField> fields);
  bool FindField(const TSourceDataFile& source, const std::string& name, TResolvedField& field) const override;

 private:
  std::map<std::string, std::vector<TFakeField>> tables_;
};

// A resolver knowing the tables used throughout the tests:
//   songList:  song (string 40), index, albumindex (32-bit), flag (boolean), date (date)
//   AlbumList: album, artist (string 40), index (32-bit)
//   t:         s (string 10), n (32-bit), i16 (16-bit), w (unsigned 16-bit), f (float), m (float,
//              money), b (BCD 8.2), d (date), tm (time), ts (timestamp), flag (boolean), blob
//   u:         n (32-bit), s (string 20), k (32-bit)
const TFakeResolver& StandardResolver();

// A fixed environment: today is 15 March 2024, formats month/day/year.
class TFixedEnvironment : public TSqlEnvironment {
 public:
  TCivilDate Today() const override { return {2024, 3, 15}; }
};

}  // namespace quillon::sql::testing
