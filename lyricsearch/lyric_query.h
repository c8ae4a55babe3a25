// The lyric search's query language, its ranking and the snippets of its hits.
//
// A query is a list of terms separated by blanks; a lyric is a hit when it holds every term that
// is not excluded and none that is:
//   river          a word (cut and folded as the lyrics are: "Rivers" is not "river")
//   "river runs"   a phrase: its words one after the other
//   riv*           a prefix: any word beginning so (at most kMaxPrefixWords words are tried)
//   -night         exclusion, before any of the three forms
// A term that cuts into several words ("rock-n-roll") is a phrase. A query with nothing to look
// for (only exclusions, only punctuation) is refused with ELyricQueryError, never answered with
// every lyric.
//
// Ranking is Okapi BM25 (k1 = 1.2, b = 0.75) summed over the terms that are not excluded; a
// phrase counts as one term whose frequency is its number of occurrences and a prefix as one term
// whose frequency is the sum over its words. Equal scores are ordered by song title (byte order
// of the folded title), then by key.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "lyricsearch/postings.h"

namespace quillon::lyricsearch {

inline constexpr std::size_t kMaxPrefixWords = 500;
inline constexpr double kBm25K1 = 1.2;
inline constexpr double kBm25B = 0.75;

class ELyricQueryError : public std::runtime_error {
 public:
  explicit ELyricQueryError(const std::string& what) : std::runtime_error(what) {}
};

enum class TTermKind { Word, Phrase, Prefix };

struct TQueryTerm {
  TTermKind Kind = TTermKind::Word;
  std::vector<std::string> Words;  // folded; one for Word and Prefix
  bool Exclude = false;
  bool operator==(const TQueryTerm&) const = default;
};

struct TLyricQuery {
  std::vector<TQueryTerm> Terms;
};

TLyricQuery ParseLyricQuery(std::string_view text);

struct TRankedLyric {
  std::int32_t Key = 0;
  double Score = 0;
  std::vector<std::uint32_t> Matches;  // word positions of the terms found, ascending
};

// The hits of query in source, best first, at most limit. titleOf gives a lyric's song title for
// the tie-break; it is asked only for lyrics whose score ties another's at the cut.
std::vector<TRankedLyric> RankLyrics(const TLyricQuery& query, TPostingSource& source, std::size_t limit,
                                     const std::function<std::string(std::int32_t)>& titleOf);

// The lines of a lyric that hold its matches, with the matched words marked.
struct TSnippet {
  std::string Text;                                        // the lines, joined by " / "
  std::vector<std::pair<std::size_t, std::size_t>> Marks;  // offset and length in Text
  std::size_t FirstMatchOffset = 0, FirstMatchLength = 0;  // in the lyric text
};
inline constexpr std::size_t kSnippetLines = 2;
inline constexpr std::size_t kSnippetLineLength = 120;
TSnippet MakeSnippet(std::string_view lyric, const std::vector<std::uint32_t>& matches);
// Text with each mark put between "[" and "]".
std::string MarkedText(const TSnippet& snippet);

}  // namespace quillon::lyricsearch
