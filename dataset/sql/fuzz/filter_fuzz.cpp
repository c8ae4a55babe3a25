// libFuzzer target for filter texts: any input must either compile into a filter buffer or fail
// with the dataset's error; anything else (a crash, a sanitizer report, another exception, a
// hang) is a fault. The fields cover every kind a filter can compare.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dataset/engine_error.h"
#include "dataset/sql/filter_expr.h"

namespace {

std::vector<quillon::sql::TFilterField> Fields() {
  using K = quillon::sql::TFilterFieldKind;
  const std::pair<const char*, K> kinds[] = {
      {"Artist", K::String},  {"Small", K::Smallint}, {"Qty", K::Integer}, {"W", K::Word},   {"Active", K::Boolean},
      {"Price", K::Float},    {"Cost", K::Currency},  {"Amount", K::Bcd},  {"Day", K::Date}, {"At", K::Time},
      {"Stamp", K::DateTime}, {"Id", K::AutoInc},     {"Memo", K::Other}};
  std::vector<quillon::sql::TFilterField> fields;
  int number = 1;
  for (const auto& [name, kind] : kinds) {
    quillon::sql::TFilterField f;
    f.Name = name;
    f.FieldNumber = number++;
    f.Kind = kind;
    f.Scale = kind == K::Bcd ? 2 : 0;
    fields.push_back(f);
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  quillon::sql::TFilterSettings settings;
  settings.CaseInsensitive = (data[0] & 1) != 0;
  settings.NoPartialCompare = (data[0] & 2) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  static quillon::sql::TFilterExpr filter(Fields());
  try {
    filter.Compile(settings, text);
  } catch (const quillon::dataset::EDatabaseError&) {
  }
  return 0;
}
