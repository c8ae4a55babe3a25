// Helpers of the SQL tests (see sql_test_support.h).
#include "dataset/sql/tests/sql_test_support.h"

#include "engine/errors.h"
#include "util/text.h"

namespace quillon::sql::testing {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const engine::EEngineError& e) {
    if (e.Code() != engine::err::kSql) return "<engine error " + std::to_string(e.Code()) + "> " + e.what();
    return e.what();
  }
  return "<no error>";
}

std::string Expected(const std::string& message) {
  return ("SQL - " + message).substr(0, 127);
}

void TFakeResolver::AddTable(const std::string& table, std::vector<TFakeField> fields) {
  tables_[LowerAsciiText(table)] = std::move(fields);
}

bool TFakeResolver::FindField(const TSourceDataFile& source, const std::string& name, TResolvedField& field) const {
  auto it = tables_.find(LowerAsciiText(FileNamePart(source.Path)));
  if (it == tables_.end()) return false;
  for (std::size_t i = 0; i < it->second.size(); ++i) {
    const TFakeField& f = it->second[i];
    if (!EqualIgnoringCase(f.Name, name)) continue;
    field.FieldNumber = static_cast<int>(i) + 1;
    field.FieldName = f.Name;
    field.DataType = f.Type;
    field.SubType = f.SubType;
    field.Size = f.Size;
    field.Scale = f.Scale;
    return true;
  }
  return false;
}

const TFakeResolver& StandardResolver() {
  static const TFakeResolver resolver = [] {
    TFakeResolver r;
    r.AddTable("songList", {{"song", 1, 41}, {"index", 6, 4}, {"albumindex", 6, 4}, {"flag", 4, 2}, {"date", 2, 4}});
    r.AddTable("AlbumList", {{"album", 1, 41}, {"artist", 1, 41}, {"index", 6, 4}});
    r.AddTable("t", {{"s", 1, 11},
                     {"n", 6, 4},
                     {"i16", 5, 2},
                     {"w", 12, 2},
                     {"f", 7, 8},
                     {"m", 7, 8, 21},
                     {"b", 8, 8, 0, 2},
                     {"d", 2, 4},
                     {"tm", 10, 4},
                     {"ts", 11, 8},
                     {"flag", 4, 2},
                     {"blob", 3, 10}});
    r.AddTable("u", {{"n", 6, 4}, {"s", 1, 21}, {"k", 6, 4}});
    return r;
  }();
  return resolver;
}

}  // namespace quillon::sql::testing
