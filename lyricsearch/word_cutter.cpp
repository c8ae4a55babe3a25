#include "lyricsearch/word_cutter.h"

#include <array>

namespace quillon::lyricsearch {
namespace {

bool IsApostrophe(unsigned char c) {
  return c == '\'' || c == 0x91 || c == 0x92;
}

// The folded form of each byte; empty for a byte that is no word character. Built once from the
// code page's letters so that IsWordChar and FoldChar can never disagree.
struct TFoldTable {
  std::array<std::string, 256> Fold;
  TFoldTable() {
    for (int c = '0'; c <= '9'; ++c) Fold[c] = std::string(1, static_cast<char>(c));
    for (int c = 'a'; c <= 'z'; ++c) {
      Fold[c] = std::string(1, static_cast<char>(c));
      Fold[c - 'a' + 'A'] = Fold[c];
    }
    auto set = [this](unsigned char c, const char* folded) { Fold[c] = folded; };
    set(0x83, "f");                    // ƒ
    set(0x8A, "s"), set(0x9A, "s");    // Š š
    set(0x8C, "oe"), set(0x9C, "oe");  // Œ œ
    set(0x8E, "z"), set(0x9E, "z");    // Ž ž
    set(0x9F, "y");                    // Ÿ
    set(0xAA, "a"), set(0xBA, "o");    // ª º
    for (int c = 0xC0; c <= 0xC5; ++c)
      set(static_cast<unsigned char>(c), "a"), set(static_cast<unsigned char>(c + 0x20), "a");
    set(0xC6, "ae"), set(0xE6, "ae");
    set(0xC7, "c"), set(0xE7, "c");
    for (int c = 0xC8; c <= 0xCB; ++c)
      set(static_cast<unsigned char>(c), "e"), set(static_cast<unsigned char>(c + 0x20), "e");
    for (int c = 0xCC; c <= 0xCF; ++c)
      set(static_cast<unsigned char>(c), "i"), set(static_cast<unsigned char>(c + 0x20), "i");
    set(0xD0, "d"), set(0xF0, "d");
    set(0xD1, "n"), set(0xF1, "n");
    for (int c = 0xD2; c <= 0xD6; ++c)
      set(static_cast<unsigned char>(c), "o"), set(static_cast<unsigned char>(c + 0x20), "o");
    set(0xD8, "o"), set(0xF8, "o");
    for (int c = 0xD9; c <= 0xDC; ++c)
      set(static_cast<unsigned char>(c), "u"), set(static_cast<unsigned char>(c + 0x20), "u");
    set(0xDD, "y"), set(0xFD, "y"), set(0xFF, "y");
    set(0xDE, "th"), set(0xFE, "th");
    set(0xDF, "ss");
  }
};

const TFoldTable& Table() {
  static const TFoldTable table;
  return table;
}

void Cut(std::string& word) {
  if (word.size() > kMaxWordLength) word.resize(kMaxWordLength);
}

}  // namespace

bool IsWordChar(unsigned char c) {
  return !Table().Fold[c].empty();
}

std::string_view FoldChar(unsigned char c) {
  return Table().Fold[c];
}

std::string FoldWord(std::string_view word) {
  std::string folded;
  for (unsigned char c : word) {
    if (IsApostrophe(c))
      folded += '\'';
    else
      folded += FoldChar(c);
  }
  Cut(folded);
  return folded;
}

std::vector<TWordSpan> CutWords(std::string_view text) {
  std::vector<TWordSpan> words;
  const auto& fold = Table().Fold;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    if (fold[static_cast<unsigned char>(text[i])].empty()) {
      ++i;
      continue;
    }
    TWordSpan span;
    span.Offset = i;
    while (i < n) {
      auto c = static_cast<unsigned char>(text[i]);
      if (!fold[c].empty()) {
        span.Word += fold[c];
        ++i;
      } else if (IsApostrophe(c) && i + 1 < n && !fold[static_cast<unsigned char>(text[i + 1])].empty()) {
        span.Word += '\'';
        ++i;
      } else {
        break;
      }
    }
    span.Length = i - span.Offset;
    Cut(span.Word);
    words.push_back(std::move(span));
  }
  return words;
}

std::vector<std::string> CutWordTexts(std::string_view text) {
  std::vector<std::string> words;
  for (auto& span : CutWords(text)) words.push_back(std::move(span.Word));
  return words;
}

}  // namespace quillon::lyricsearch
