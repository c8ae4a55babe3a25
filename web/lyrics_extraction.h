// Cutting a song's lyric text out of the rendered body text of its lyrics page.
//
// The open base's folder path chooses the rule by the site key it contains (site_keys.h): six
// rules for the sites our bases come from and one general rule, all plain text surgery on marker
// strings and lines, then common clean-up steps. Positions in the rules are 1-based, as the marker
// offsets were measured that way. Any failure gives an empty result, never an error.
#pragma once

#include <optional>
#include <string>

namespace quillon::web {

struct TLyricsPage {
  std::string bodyText;  // the page's body text, lines separated by CR LF
  std::string baseDir;   // the open base's folder
  // The selected entry of the song list (the title rule 1 looks for); none when nothing is
  // selected, which makes rule 1 fail.
  std::optional<std::string> selectedSong;
  std::string songLabel;  // the shown song title: the title of every other step
};

// The lyric text, every line followed by CR LF; empty when nothing could be cut out.
std::string ExtractLyrics(const TLyricsPage& page);

}  // namespace quillon::web
