#include "tools/pagetext/page_text_tool.h"

#include "util/platform.h"
#include "web/html_document.h"
#include "web/lyrics_extraction.h"
#include "web/page_links.h"

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
    "nothing. Addresses (http://, https://) are loaded by the page host of the Windows build;\n"
    "the style sheets a saved page links to are read from beside it.\n";

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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The file a relative sheet address names beside the page, or empty for an address that is not a
// relative path (another scheme, a host, a path from the root).
std::string LocalSheetPath(const std::string& page, std::string_view href) {
  std::string_view h = href.substr(0, href.find_first_of("?#"));
  while (!h.empty() && (h.front() == ' ' || h.front() == '\t' || h.front() == '\n')) h.remove_prefix(1);
  while (!h.empty() && (h.back() == ' ' || h.back() == '\t' || h.back() == '\n')) h.remove_suffix(1);
  if (h.empty() || h.front() == '/' || h.front() == '\\') return {};
  std::size_t colon = h.find(':');
  if (colon != std::string_view::npos && colon < h.find('/')) return {};
  std::string decoded;
  for (std::size_t i = 0; i < h.size(); ++i) {
    if (h[i] == '%' && i + 2 < h.size() && HexValue(h[i + 1]) >= 0 && HexValue(h[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(h[i + 1]) * 16 + HexValue(h[i + 2]));
      i += 2;
    } else {
      decoded += h[i];
    }
  }
  std::size_t slash = page.find_last_of("/\\");
  return (slash == std::string::npos ? std::string() : page.substr(0, slash + 1)) + decoded;
}

// A saved page's linked sheets are read from beside it (as many and as large as the page host
// fetches); a sheet that is missing is left out, as a browser leaves it out.
void ReadLocalStyleSheets(web::THtmlDocument& doc, const std::string& page) {
  std::size_t count = 0;
  for (const web::THtmlNode* link : doc.StyleSheetLinks()) {
    if (count == web::kMaxLinkedSheets) break;
    std::string path = LocalSheetPath(page, *link->Attribute("href"));
    if (path.empty()) continue;
    ++count;
    std::string css;
    if (!platform::ReadWholeFile(path, css)) continue;
    if (css.size() > web::kMaxLinkedSheetBytes) css.resize(web::kMaxLinkedSheetBytes);
    doc.SetLinkedStyleSheet(link, std::move(css));
  }
}

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
  std::int64_t size = platform::GetFileStamp(source).size;
  if (size > kMaxPageFileBytes) {
    error = source + " is " + std::to_string(size) + " bytes; pages over " + std::to_string(kMaxPageFileBytes >> 20) +
            " MB are not read";
    return false;
  }
  std::string bytes;
  if (!platform::ReadWholeFile(source, bytes)) {
    error = "cannot read " + source;
    return false;
  }
  // A saved page has no header: the charset comes from a byte-order mark or <meta>.
  text.clear();
  if (!web::IsHtmlResponse("", bytes)) return true;
  auto doc = web::THtmlDocument::Parse(bytes, "");
  bytes.clear();
  ReadLocalStyleSheets(*doc, source);
  text = doc->BodyText();
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
