// pagetext: the body text of a saved page or a web address as the page host computes it, or the
// lyric text an extraction rule cuts out of it. It runs the program's own page-text and
// extraction code, so a base author sees exactly what the program would show.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillon::pagetext {

struct TPageTextRequest {
  std::string source;   // a file, or an http:// or https:// address
  std::string baseDir;  // with title: cut the lyrics under the rule this folder selects
  std::string title;
  bool lyrics = false;
};

// Reads the arguments (without the program name); false with a message in error when they are
// wrong. help is set for --help.
bool ParseArguments(const std::vector<std::string>& args, TPageTextRequest& request, bool& help, std::string& error);

// Saved pages larger than this are refused rather than read (the page host cuts what it fetches
// well below it).
constexpr std::int64_t kMaxPageFileBytes = std::int64_t(64) << 20;

// The body text of the page, lines ended by CR LF, in the program's code page; empty when the page
// is not HTML or has no body. False with a message in error when the page cannot be read.
bool LoadBodyText(const std::string& source, std::string& text, std::string& error);

// What the tool prints for a body text: the text itself, or the lyrics cut out of it (the title
// standing for both the selected song and the song label).
std::string ToolOutput(const TPageTextRequest& request, const std::string& bodyText);

// The whole tool; answers the exit status (0, 1 for a page that cannot be read, 2 for usage).
int RunPageText(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

extern const char kUsage[];

}  // namespace quillon::pagetext
