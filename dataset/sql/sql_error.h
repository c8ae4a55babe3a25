// Every parse and check failure of the SQL layer is the engine error err::kSql with a message of our
// own. Messages are built in full and cut to 255 characters here; the engine's error text then
// cuts "SQL - " + message to 127 characters.
#pragma once

#include <string>
#include <string_view>

namespace quillon::sql {

inline constexpr std::size_t kMaxSqlMessage = 255;
// Names, constants and token texts quoted in messages are cut to this length.
inline constexpr std::size_t kMaxTokenText = 255;

[[noreturn]] void RaiseSqlError(std::string_view message);

}  // namespace quillon::sql
