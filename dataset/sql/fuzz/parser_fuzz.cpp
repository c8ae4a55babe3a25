// libFuzzer target for the SQL lexer, parser and type checker: any input must either prepare or
// fail with the engine's SQL error; anything else (a crash, a sanitizer report, another exception,
// a hang) is a fault. Columns resolve through a resolver that knows every name, its type chosen
// from the name, so that the checker's rules are reached too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dataset/sql/data_query.h"
#include "dataset/sql/type_checker.h"
#include "engine/errors.h"

namespace {

class AnyColumnResolver : public quillon::sql::TColumnResolver {
 public:
  bool FindField(const quillon::sql::TSourceDataFile&, const std::string& name,
                 quillon::sql::TResolvedField& field) const override {
    static const int kTypes[] = {1, 2, 4, 5, 6, 7, 8, 10, 11, 12};
    if (name.empty() || name[0] == 'x') return false;
    std::size_t h = 0;
    for (char c : name) h = h * 31 + static_cast<unsigned char>(c);
    field.FieldNumber = 1;
    field.FieldName = name;
    field.DataType = kTypes[h % 10];
    field.Size = field.DataType == 1 ? 41 : 8;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  quillon::sql::TDataQuery query;
  AnyColumnResolver resolver;
  try {
    query.Prepare(text, resolver);
  } catch (const quillon::engine::EEngineError& e) {
    if (e.Code() != quillon::engine::err::kSql) __builtin_trap();
  }
  return 0;
}
