// Search address templates (see search_assistant.h).
#include "web/search_assistant.h"

#include "util/profile.h"

namespace quillon::web {

namespace {
void ReplaceFirst(std::string& text, const std::string& placeholder, const std::string& value) {
  size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), value);
}
}  // namespace

std::string DefaultSearchTemplate(TSearchKind kind) {
  return std::string(kSearchEngine) + "/search?q=\"[song]\" \"[artist]\" " +
         (kind == TSearchKind::Lyrics ? "\"lyrics\"" : "\"mp3\"");
}

std::string SearchTemplate(const std::string& appDir, TSearchKind kind) {
  return ReadIniString(appDir + "search.ini", kind == TSearchKind::Lyrics ? "Lyrics" : "Mp3", "url",
                       DefaultSearchTemplate(kind));
}

std::string BuildSearchAddress(const std::string& tmpl, const std::string& song, const std::string& artist) {
  std::string address = tmpl;
  ReplaceFirst(address, "[song]", song);
  ReplaceFirst(address, "[artist]", artist);
  return address;
}

void SearchOnWeb(const std::string& appDir, TSearchKind kind, const std::string& song, const std::string& artist,
                 TExternalBrowser& browser) {
  browser.OpenInBrowser(BuildSearchAddress(SearchTemplate(appDir, kind), song, artist), "");
}

}  // namespace quillon::web
