// Cutting lyric text into the words a reader would search for, and folding each word to the one
// form the index keeps.
//
// The text is Windows-1252. A word is a run of letters (A-Z, a-z, the accented letters of the
// code page, ß, æ, œ, þ, ð, š, ž, ƒ) and digits; an apostrophe (' or the typographic ’ and ‘)
// stays in a word only between two word characters ("don't", "rock'n'roll"), so quotes and
// dropped letters ("'cause", "singin'") leave the bare word. Everything else separates words.
//
// Folding: lower case, accents dropped (é -> e), ligatures and ß spelt out (æ -> ae, œ -> oe,
// ß -> ss, þ -> th), every apostrophe written as '. A folded word longer than kMaxWordLength
// bytes is cut to that length, for indexing and searching alike, so such words still match.
//
// Pure functions; no state, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::lyricsearch {

inline constexpr std::size_t kMaxWordLength = 32;

// One word of a text: its folded form and where it stands in the text (bytes).
struct TWordSpan {
  std::string Word;
  std::size_t Offset = 0;
  std::size_t Length = 0;
};

// Whether byte c of a Windows-1252 text is a letter or a digit.
bool IsWordChar(unsigned char c);
// The folded form of one word character (one to two bytes).
std::string_view FoldChar(unsigned char c);
// The folded form of a run of characters, cut to kMaxWordLength.
std::string FoldWord(std::string_view word);
// Every word of text, in order.
std::vector<TWordSpan> CutWords(std::string_view text);
// The folded words alone.
std::vector<std::string> CutWordTexts(std::string_view text);

}  // namespace quillon::lyricsearch
