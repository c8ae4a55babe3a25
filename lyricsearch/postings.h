// Postings: for one word, the lyrics it occurs in and where, and their byte form in the index.
//
// Byte form of a posting list (every number an unsigned LEB128 varint):
//   per lyric, in ascending key order:  key - previous key (the first against 0), the number of
//   occurrences n (>= 1), then n word positions, each as the gap to the previous one (the first
//   against 0; positions ascend strictly, so every gap after the first is >= 1).
// DecodePostings refuses (EIndexDamaged) any byte string that does not read back exactly this way:
// a cut-off number, a key or position that does not ascend, a count of zero, trailing bytes.
//
// TMemoryIndex holds a whole index in memory: the rebuild fills one from the lyric table before
// writing it, the check compares the stored index against one, and tests rank over one.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillon::lyricsearch {

// The index does not read back as it was written.
class EIndexDamaged : public std::runtime_error {
 public:
  explicit EIndexDamaged(const std::string& what) : std::runtime_error("Lyric index damaged: " + what) {}
};

struct TPosting {
  std::int32_t Key = 0;                  // the lyric row's key
  std::vector<std::uint32_t> Positions;  // word numbers in the lyric, ascending
  bool operator==(const TPosting&) const = default;
};
using TPostingList = std::vector<TPosting>;

std::string EncodePostings(const TPostingList& postings);
// Appends one posting to a byte form whose last key is previousKey (0 for none); p.Key must be
// greater.
void AppendPosting(std::string& bytes, std::int32_t previousKey, const TPosting& p);
TPostingList DecodePostings(std::string_view bytes);

// What a query reads of an index, in memory or stored.
class TPostingSource {
 public:
  virtual ~TPostingSource() = default;
  virtual TPostingList Postings(const std::string& word) = 0;
  // The indexed words beginning with prefix, in order, at most limit of them.
  virtual std::vector<std::string> WordsWithPrefix(const std::string& prefix, std::size_t limit) = 0;
  virtual std::int32_t LyricCount() = 0;
  virtual double AverageLength() = 0;
  virtual std::uint32_t LyricLength(std::int32_t key) = 0;
};

// Each word's postings are kept in their byte form, so that a whole lyric table's index fits in
// memory: lyrics put in ascending key order (a rebuild's scan) are appended; others are merged in.
class TMemoryIndex : public TPostingSource {
 public:
  struct TWordPostings {
    std::string Bytes;
    std::int32_t LastKey = 0;
    std::uint32_t Lyrics = 0;
  };
  // Adds a lyric (its key not yet in the index), or replaces the one with that key.
  void Put(std::int32_t key, std::string_view text);
  void Remove(std::int32_t key);

  TPostingList Postings(const std::string& word) override;
  std::vector<std::string> WordsWithPrefix(const std::string& prefix, std::size_t limit) override;
  std::int32_t LyricCount() override { return static_cast<std::int32_t>(lengths_.size()); }
  double AverageLength() override;
  std::uint32_t LyricLength(std::int32_t key) override;

  const std::map<std::string, TWordPostings>& Words() const { return words_; }
  const std::map<std::int32_t, std::uint32_t>& Lengths() const { return lengths_; }
  std::uint64_t TotalLength() const { return totalLength_; }

 private:
  std::map<std::string, TWordPostings> words_;
  std::map<std::int32_t, std::uint32_t> lengths_;
  std::uint64_t totalLength_ = 0;
};

// The positions of each distinct word of a text, in order of the words.
std::map<std::string, std::vector<std::uint32_t>> WordPositions(std::string_view text, std::uint32_t* length);

}  // namespace quillon::lyricsearch
