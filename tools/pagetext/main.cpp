// pagetext FILE-OR-ADDRESS [--base FOLDER --title TITLE] (see page_text_tool.h)
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pagetext/page_text_tool.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // The text carries its own CR LF line ends: no second CR from the text mode.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  return quillon::pagetext::RunPageText(args, stdout, stderr);
}
