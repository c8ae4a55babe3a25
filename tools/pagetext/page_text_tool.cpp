#include "tools/pagetext/page_text_tool.h"

#include "util/platform.h"
#include "web/html_document.h"
#include "web/lyrics_extraction.h"

#ifdef _WIN32
#include <windows.h>

#include "web/page_host.h"
#endif

namespace quillon::pagetext {

const char kUsage[] =
    "usage: pagetext FILE-OR-ADDRESS [--base FOLDER --title TITLE]\n"
    "Prints the page's body text as the program's page host computes it (charset from the\n"
    "header or <meta>, converted to the program's code page, lines ended by CR LF). With --base\n"
    "and --title it prints the lyric text the extraction rule chosen by the folder path cuts out\n"
    "of it (TITLE is the selected song and the song label), or nothing when the rule yields\n"
    "nothing. Addresses (http://, https://) are loaded by the page host of the Windows build.\n";

namespace {

bool IsAddress(const std::string& source) {
  return source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0;
}

#ifdef _WIN32
// Runs a message loop until the page host reports the top document complete.
bool LoadAddress(const std::string& address, std::string& text, std::string& error) {
  web::TPageHost host;
  bool done = false;
  host.OnDocumentComplete = [&](const std::string&, bool top) {
    if (top) done = true;
  };
  host.Navigate(address);
  MSG msg;
  while (!done && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (!done) {
    error = "the page host stopped before the page was loaded: " + address;
    return false;
  }
  text = host.DocumentBodyText();
  return true;
}
#else
bool LoadAddress(const std::string& address, std::string&, std::string& error) {
  error = "this build has no page host to load " + address + " (save the page and give the file)";
  return false;
}
#endif

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, TPageTextRequest& request, bool& help, std::string& error) {
  help = false;
  bool haveBase = false, haveTitle = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      help = true;
      return true;
    } else if (a == "--base" && i + 1 < args.size() && !haveBase) {
      request.baseDir = args[++i];
      haveBase = true;
    } else if (a == "--title" && i + 1 < args.size() && !haveTitle) {
      request.title = args[++i];
      haveTitle = true;
    } else if (!a.empty() && a[0] != '-' && request.source.empty()) {
      request.source = a;
    } else {
      error = "unexpected argument: " + a;
      return false;
    }
  }
  if (request.source.empty()) {
    error = "no page given";
    return false;
  }
  if (haveBase != haveTitle) {
    error = "--base and --title go together";
    return false;
  }
  request.lyrics = haveBase;
  return true;
}

bool LoadBodyText(const std::string& source, std::string& text, std::string& error) {
  if (IsAddress(source)) return LoadAddress(source, text, error);
  std::string bytes;
  if (!platform::ReadWholeFile(source, bytes)) {
    error = "cannot read " + source;
    return false;
  }
  // A saved page has no header: the charset comes from a byte-order mark or <meta>.
  text = web::PageBodyText(bytes, "");
  return true;
}

std::string ToolOutput(const TPageTextRequest& request, const std::string& bodyText) {
  if (!request.lyrics) return bodyText.empty() ? bodyText : bodyText + "\r\n";
  web::TLyricsPage page{bodyText, request.baseDir, request.title, request.title};
  return web::ExtractLyrics(page);
}

int RunPageText(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  TPageTextRequest request;
  bool help = false;
  std::string error;
  if (!ParseArguments(args, request, help, error)) {
    std::fprintf(err, "Error: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (help) {
    std::fputs(kUsage, out);
    return 0;
  }
  std::string text;
  if (!LoadBodyText(request.source, text, error)) {
    std::fprintf(err, "Error: %s\n", error.c_str());
    return 1;
  }
  std::string output = ToolOutput(request, text);
  std::fwrite(output.data(), 1, output.size(), out);
  std::fflush(out);
  return 0;
}

}  // namespace quillon::pagetext
