// The new-version check: the version page's body text names the current version after
// "lyrics=", ended by "#" within the next ten characters (for example "lyrics=1.8#").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::web {

// A decimal number with the given separator: optional blanks around it, an optional sign,
// digits with at most one separator, an optional exponent. False on anything else.
bool TryDecimal(std::string_view text, char decimalSeparator, double& value);

// The version the page offers, exactly as written there, when it is a number greater than
// ownVersion; nothing when the page names no version, an unreadable one, or one not newer.
std::optional<std::string> NewerVersionOnPage(std::string_view bodyText, std::string_view ownVersion,
                                              char decimalSeparator);

// The question that offers the update to the user.
std::string UpdateQuestion(const std::string& version);

}  // namespace quillon::web
