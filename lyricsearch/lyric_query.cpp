#include "lyricsearch/lyric_query.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "lyricsearch/word_cutter.h"

namespace quillon::lyricsearch {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

TQueryTerm TermOf(std::vector<std::string> words, bool exclude, bool prefix) {
  TQueryTerm term;
  term.Exclude = exclude;
  if (words.size() == 1)
    term.Kind = prefix ? TTermKind::Prefix : TTermKind::Word;
  else
    term.Kind = TTermKind::Phrase;
  term.Words = std::move(words);
  return term;
}

// One term's occurrences: per lyric (ascending keys) its frequency and the positions it covers.
struct TTermHit {
  std::int32_t Key;
  std::uint32_t Frequency;
  std::vector<std::uint32_t> Positions;
};

std::vector<TTermHit> HitsOfPostings(const TPostingList& list) {
  std::vector<TTermHit> hits;
  hits.reserve(list.size());
  for (const auto& p : list) hits.push_back({p.Key, static_cast<std::uint32_t>(p.Positions.size()), p.Positions});
  return hits;
}

std::vector<TTermHit> PrefixHits(const std::string& prefix, TPostingSource& source) {
  std::map<std::int32_t, TTermHit> merged;
  for (const auto& word : source.WordsWithPrefix(prefix, kMaxPrefixWords)) {
    for (auto& p : source.Postings(word)) {
      auto [it, added] = merged.try_emplace(p.Key, TTermHit{p.Key, 0, {}});
      it->second.Frequency += static_cast<std::uint32_t>(p.Positions.size());
      it->second.Positions.insert(it->second.Positions.end(), p.Positions.begin(), p.Positions.end());
    }
  }
  std::vector<TTermHit> hits;
  hits.reserve(merged.size());
  for (auto& [key, hit] : merged) {
    std::sort(hit.Positions.begin(), hit.Positions.end());
    hits.push_back(std::move(hit));
  }
  return hits;
}

std::vector<TTermHit> PhraseHits(const std::vector<std::string>& words, TPostingSource& source) {
  std::vector<TPostingList> lists;
  for (const auto& w : words) {
    lists.push_back(source.Postings(w));
    if (lists.back().empty()) return {};
  }
  std::vector<TTermHit> hits;
  std::vector<std::size_t> at(lists.size(), 0);
  for (const auto& first : lists[0]) {
    // Every other word's posting of this lyric, if it has one.
    std::vector<const TPosting*> others;
    for (std::size_t i = 1; i < lists.size(); ++i) {
      auto& list = lists[i];
      while (at[i] < list.size() && list[at[i]].Key < first.Key) ++at[i];
      if (at[i] == list.size()) return hits;
      if (list[at[i]].Key != first.Key) break;
      others.push_back(&list[at[i]]);
    }
    if (others.size() != lists.size() - 1) continue;
    TTermHit hit{first.Key, 0, {}};
    for (auto start : first.Positions) {
      bool whole = true;
      for (std::size_t i = 0; i < others.size() && whole; ++i)
        whole = std::binary_search(others[i]->Positions.begin(), others[i]->Positions.end(),
                                   start + static_cast<std::uint32_t>(i + 1));
      if (!whole) continue;
      ++hit.Frequency;
      for (std::uint32_t i = 0; i < words.size(); ++i) hit.Positions.push_back(start + i);
    }
    if (hit.Frequency > 0) {
      std::sort(hit.Positions.begin(), hit.Positions.end());
      hit.Positions.erase(std::unique(hit.Positions.begin(), hit.Positions.end()), hit.Positions.end());
      hits.push_back(std::move(hit));
    }
  }
  return hits;
}

std::vector<TTermHit> HitsOf(const TQueryTerm& term, TPostingSource& source) {
  switch (term.Kind) {
    case TTermKind::Word:
      return HitsOfPostings(source.Postings(term.Words[0]));
    case TTermKind::Prefix:
      return PrefixHits(term.Words[0], source);
    case TTermKind::Phrase:
      return PhraseHits(term.Words, source);
  }
  return {};
}

const TTermHit* FindHit(const std::vector<TTermHit>& hits, std::int32_t key) {
  auto it =
      std::lower_bound(hits.begin(), hits.end(), key, [](const TTermHit& h, std::int32_t k) { return h.Key < k; });
  return it != hits.end() && it->Key == key ? &*it : nullptr;
}

// Titles compared as a reader would: case and accents ignored, the rest as it stands.
std::string TitleOrder(const std::string& title) {
  std::string out;
  for (unsigned char c : title) {
    if (IsWordChar(c))
      out += FoldChar(c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

TLyricQuery ParseLyricQuery(std::string_view text) {
  TLyricQuery query;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsBlank(text[i])) {
      ++i;
      continue;
    }
    bool exclude = false;
    if (text[i] == '-' && i + 1 < text.size() && !IsBlank(text[i + 1])) {
      exclude = true;
      ++i;
    }
    std::vector<std::string> words;
    bool prefix = false;
    if (text[i] == '"') {
      auto end = text.find('"', i + 1);
      if (end == std::string_view::npos) end = text.size();
      words = CutWordTexts(text.substr(i + 1, end - i - 1));
      i = std::min(end + 1, text.size());
    } else {
      auto start = i;
      while (i < text.size() && !IsBlank(text[i])) ++i;
      auto token = text.substr(start, i - start);
      while (!token.empty() && token.back() == '*') {
        prefix = true;
        token.remove_suffix(1);
      }
      words = CutWordTexts(token);
    }
    if (!words.empty()) query.Terms.push_back(TermOf(std::move(words), exclude, prefix));
  }
  bool anyWanted = std::any_of(query.Terms.begin(), query.Terms.end(), [](const TQueryTerm& t) { return !t.Exclude; });
  if (!anyWanted) throw ELyricQueryError("Please input words to search for.");
  return query;
}

std::vector<TRankedLyric> RankLyrics(const TLyricQuery& query, TPostingSource& source, std::size_t limit,
                                     const std::function<std::string(std::int32_t)>& titleOf) {
  std::vector<std::vector<TTermHit>> wanted, excluded;
  for (const auto& term : query.Terms) {
    auto hits = HitsOf(term, source);
    if (!term.Exclude && hits.empty()) return {};
    (term.Exclude ? excluded : wanted).push_back(std::move(hits));
  }
  if (wanted.empty()) return {};
  // Walk the rarest term's lyrics, keeping those every other term has and no excluded one.
  std::sort(wanted.begin(), wanted.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
  const double lyricCount = source.LyricCount();
  const double average = std::max(source.AverageLength(), 1.0);
  std::vector<double> idf;
  for (const auto& hits : wanted) {
    double df = static_cast<double>(hits.size());
    idf.push_back(std::log((lyricCount - df + 0.5) / (df + 0.5) + 1.0));
  }
  std::vector<TRankedLyric> ranked;
  for (const auto& candidate : wanted[0]) {
    std::vector<const TTermHit*> found{&candidate};
    for (std::size_t t = 1; t < wanted.size() && found.size() == t; ++t)
      if (auto hit = FindHit(wanted[t], candidate.Key)) found.push_back(hit);
    if (found.size() != wanted.size()) continue;
    bool out = std::any_of(excluded.begin(), excluded.end(),
                           [&](const auto& hits) { return FindHit(hits, candidate.Key) != nullptr; });
    if (out) continue;
    TRankedLyric lyric;
    lyric.Key = candidate.Key;
    double lengthNorm = 1.0 - kBm25B + kBm25B * source.LyricLength(candidate.Key) / average;
    for (std::size_t t = 0; t < found.size(); ++t) {
      double tf = found[t]->Frequency;
      lyric.Score += idf[t] * tf * (kBm25K1 + 1.0) / (tf + kBm25K1 * lengthNorm);
      lyric.Matches.insert(lyric.Matches.end(), found[t]->Positions.begin(), found[t]->Positions.end());
    }
    std::sort(lyric.Matches.begin(), lyric.Matches.end());
    lyric.Matches.erase(std::unique(lyric.Matches.begin(), lyric.Matches.end()), lyric.Matches.end());
    ranked.push_back(std::move(lyric));
  }
  std::sort(ranked.begin(), ranked.end(), [](const TRankedLyric& a, const TRankedLyric& b) {
    return a.Score != b.Score ? a.Score > b.Score : a.Key < b.Key;
  });
  // Order each group of equal scores that reaches into the first `limit` by title.
  for (std::size_t start = 0; start < ranked.size() && start < limit;) {
    std::size_t end = start + 1;
    while (end < ranked.size() && ranked[end].Score == ranked[start].Score) ++end;
    if (end - start > 1) {
      std::map<std::int32_t, std::string> titles;
      for (std::size_t i = start; i < end; ++i) titles[ranked[i].Key] = TitleOrder(titleOf(ranked[i].Key));
      std::stable_sort(ranked.begin() + static_cast<std::ptrdiff_t>(start),
                       ranked.begin() + static_cast<std::ptrdiff_t>(end),
                       [&](const TRankedLyric& a, const TRankedLyric& b) { return titles[a.Key] < titles[b.Key]; });
    }
    start = end;
  }
  if (ranked.size() > limit) ranked.resize(limit);
  return ranked;
}

TSnippet MakeSnippet(std::string_view lyric, const std::vector<std::uint32_t>& matches) {
  TSnippet snippet;
  auto words = CutWords(lyric);
  std::vector<const TWordSpan*> marked;
  for (auto m : matches)
    if (m < words.size()) marked.push_back(&words[m]);
  if (marked.empty()) return snippet;
  snippet.FirstMatchOffset = marked[0]->Offset;
  snippet.FirstMatchLength = marked[0]->Length;
  auto lineStart = [&](std::size_t at) {
    auto p = lyric.find_last_of("\r\n", at);
    return p == std::string_view::npos ? 0 : p + 1;
  };
  auto lineEnd = [&](std::size_t at) {
    auto p = lyric.find_first_of("\r\n", at);
    return p == std::string_view::npos ? lyric.size() : p;
  };
  std::size_t lines = 0;
  for (std::size_t i = 0; i < marked.size() && lines < kSnippetLines;) {
    std::size_t begin = lineStart(marked[i]->Offset), end = lineEnd(marked[i]->Offset);
    // A long line is shown from a little before its first match.
    bool cutStart = false, cutEnd = false;
    if (end - begin > kSnippetLineLength) {
      std::size_t from = marked[i]->Offset > begin + 20 ? marked[i]->Offset - 20 : begin;
      cutStart = from > begin;
      begin = from;
      if (end - begin > kSnippetLineLength) end = begin + kSnippetLineLength, cutEnd = true;
    }
    while (begin < end && (lyric[begin] == ' ' || lyric[begin] == '\t')) ++begin;
    while (end > begin && (lyric[end - 1] == ' ' || lyric[end - 1] == '\t')) --end;
    if (lines > 0) snippet.Text += " / ";
    if (cutStart) snippet.Text += "...";
    std::size_t base = snippet.Text.size();
    snippet.Text.append(lyric.substr(begin, end - begin));
    if (cutEnd) snippet.Text += "...";
    ++lines;
    std::size_t lineEndAt = lineEnd(marked[i]->Offset);
    for (; i < marked.size() && marked[i]->Offset < lineEndAt; ++i) {
      if (marked[i]->Offset >= begin && marked[i]->Offset + marked[i]->Length <= end)
        snippet.Marks.emplace_back(base + marked[i]->Offset - begin, marked[i]->Length);
    }
  }
  return snippet;
}

std::string MarkedText(const TSnippet& snippet) {
  std::string out;
  std::size_t at = 0;
  for (auto [offset, length] : snippet.Marks) {
    out.append(snippet.Text, at, offset - at);
    out += '[';
    out.append(snippet.Text, offset, length);
    out += ']';
    at = offset + length;
  }
  out.append(snippet.Text, at, std::string::npos);
  return out;
}

}  // namespace quillon::lyricsearch
