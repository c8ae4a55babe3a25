// The site keys: fragments of the host names of the lyrics web sites our downloadable bases come
// from. A base built from a site is installed in a folder named after it, so the key found in the
// open base's folder path chooses how a lyrics page of that base is cut (key 1 also serves the
// base "default", whose songs link to the maker's own site).
#pragma once

#include <array>
#include <string_view>

namespace quillon::web {

inline constexpr std::array<std::string_view, 6> kSiteKeys = {
    "pelmoralyrics", "lyricvault", "hymnhall", "tunetexts", "versebank", "songscroll",
};

// The extraction rule of a base folder: 1..6 for the first site key it contains (tested in key
// order, case-insensitively; "default" counts as key 1), 0 for the general rule.
int SiteRuleOf(std::string_view baseDir);

}  // namespace quillon::web
