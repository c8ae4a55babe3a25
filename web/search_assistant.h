// The internet search assistant: search addresses built from the templates of "search.ini" and
// opened in the external browser.
//
// The song and artist texts go into the address exactly as given (no trimming, no address
// encoding), first "[song]" and then "[artist]" in the result of that, each only at its first
// occurrence.
#pragma once

#include <string>

#include "web/external_browser.h"

namespace quillon::web {

enum class TSearchKind { Lyrics, Mp3 };

// The host used by the built-in templates.
inline constexpr char kSearchEngine[] = "https://www.google.com";

// The built-in template of a kind: the search engine's address followed by
// /search?q="[song]" "[artist]" "lyrics" (or "mp3").
std::string DefaultSearchTemplate(TSearchKind kind);

// The template from appDir + "search.ini", section "Lyrics" or "Mp3", key "url"; the built-in one
// when the file or the key is missing. Read afresh at every call.
std::string SearchTemplate(const std::string& appDir, TSearchKind kind);

// Replaces the first "[song]" with song, then the first "[artist]" of the result with artist.
std::string BuildSearchAddress(const std::string& tmpl, const std::string& song, const std::string& artist);

// Builds the address from the current template and opens it in the browser without post data.
void SearchOnWeb(const std::string& appDir, TSearchKind kind, const std::string& song, const std::string& artist,
                 TExternalBrowser& browser);

}  // namespace quillon::web
