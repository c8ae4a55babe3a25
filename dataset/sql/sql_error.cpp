// Raising SQL errors through the engine's one error path (see sql_error.h).
#include "dataset/sql/sql_error.h"

#include "engine/errors.h"

namespace quillon::sql {

void RaiseSqlError(std::string_view message) {
  std::string text(message.substr(0, kMaxSqlMessage));
  engine::RaiseEngineError(engine::err::kSql, "", "", text);
}

}  // namespace quillon::sql
