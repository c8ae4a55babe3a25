// Text helpers shared by the program's layers. Text is 8-bit in the system code page; case rules
// here touch only the ASCII letters A-Z and a-z, so multi-byte characters pass through unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

inline constexpr char kCrLf[] = "\r\n";

char LowerAscii(char c);
char UpperAscii(char c);
std::string LowerAsciiText(std::string_view s);  // A-Z -> a-z only
std::string UpperAsciiText(std::string_view s);  // a-z -> A-Z only

// Equality and three-way order ignoring the case of A-Z (byte order otherwise).
bool EqualIgnoringCase(std::string_view a, std::string_view b);
int CompareIgnoringCase(std::string_view a, std::string_view b);

// 1-based position of part in text, both compared after LowerAsciiText; 0 when absent (also for an
// empty part).
int PosText(std::string_view part, std::string_view text);

// Removes characters up to and including blank (control characters and spaces) at both ends,
// at the start, or at the end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// A text as a list of lines: CR LF, LF and a lone CR each end a line; a final line end adds no
// empty line.
std::vector<std::string> SplitLines(std::string_view text);
// A list of lines as a text: every line followed by CR LF, the last one too.
std::string JoinLines(const std::vector<std::string>& lines);

// A decimal integer with optional blanks before it and an optional sign; false on anything else
// (hexadecimal prefixes, blanks after it, an empty text) and on numbers outside 32 bits. The
// numbers of our text files are decimal.
bool ParseDecimalInt(std::string_view s, int& value);
int DecimalIntOr(std::string_view s, int fallback);

}  // namespace quillon
