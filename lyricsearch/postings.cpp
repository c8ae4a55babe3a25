#include "lyricsearch/postings.h"

#include <algorithm>

#include "lyricsearch/word_cutter.h"

namespace quillon::lyricsearch {
namespace {

void PutNumber(std::string& out, std::uint32_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

std::uint32_t GetNumber(std::string_view bytes, std::size_t& at) {
  std::uint64_t value = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (at >= bytes.size()) throw EIndexDamaged("a posting list ends inside a number");
    auto b = static_cast<unsigned char>(bytes[at++]);
    value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) {
      if (value > 0xFFFFFFFFu) break;
      return static_cast<std::uint32_t>(value);
    }
  }
  throw EIndexDamaged("a number of a posting list is too large");
}

}  // namespace

void AppendPosting(std::string& bytes, std::int32_t previousKey, const TPosting& p) {
  PutNumber(bytes, static_cast<std::uint32_t>(p.Key - previousKey));
  PutNumber(bytes, static_cast<std::uint32_t>(p.Positions.size()));
  std::uint32_t last = 0;
  for (auto pos : p.Positions) {
    PutNumber(bytes, pos - last);
    last = pos;
  }
}

std::string EncodePostings(const TPostingList& postings) {
  std::string out;
  std::int32_t previous = 0;
  for (const auto& p : postings) {
    AppendPosting(out, previous, p);
    previous = p.Key;
  }
  return out;
}

TPostingList DecodePostings(std::string_view bytes) {
  TPostingList list;
  std::size_t at = 0;
  std::int64_t key = 0;
  while (at < bytes.size()) {
    std::uint32_t gap = GetNumber(bytes, at);
    if (!list.empty() && gap == 0) throw EIndexDamaged("lyric keys of a posting list do not ascend");
    key += gap;
    if (key > 0x7FFFFFFF || key <= 0) throw EIndexDamaged("a lyric key out of range");
    TPosting p;
    p.Key = static_cast<std::int32_t>(key);
    std::uint32_t count = GetNumber(bytes, at);
    if (count == 0 || count > bytes.size() - at) throw EIndexDamaged("a wrong number of positions");
    std::uint64_t pos = 0;
    p.Positions.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t step = GetNumber(bytes, at);
      if (i > 0 && step == 0) throw EIndexDamaged("positions of a posting list do not ascend");
      pos += step;
      if (pos > 0xFFFFFFFFu) throw EIndexDamaged("a position out of range");
      p.Positions.push_back(static_cast<std::uint32_t>(pos));
    }
    list.push_back(std::move(p));
  }
  return list;
}

std::map<std::string, std::vector<std::uint32_t>> WordPositions(std::string_view text, std::uint32_t* length) {
  std::map<std::string, std::vector<std::uint32_t>> positions;
  auto words = CutWords(text);
  for (std::uint32_t i = 0; i < words.size(); ++i) positions[words[i].Word].push_back(i);
  if (length) *length = static_cast<std::uint32_t>(words.size());
  return positions;
}

void TMemoryIndex::Put(std::int32_t key, std::string_view text) {
  Remove(key);
  std::uint32_t length = 0;
  for (auto& [word, positions] : WordPositions(text, &length)) {
    auto& entry = words_[word];
    TPosting p{key, std::move(positions)};
    if (key > entry.LastKey) {
      AppendPosting(entry.Bytes, entry.LastKey, p);
      entry.LastKey = key;
    } else {
      TPostingList list = DecodePostings(entry.Bytes);
      auto at =
          std::lower_bound(list.begin(), list.end(), key, [](const TPosting& a, std::int32_t k) { return a.Key < k; });
      list.insert(at, std::move(p));
      entry.Bytes = EncodePostings(list);
    }
    ++entry.Lyrics;
  }
  lengths_[key] = length;
  totalLength_ += length;
}

void TMemoryIndex::Remove(std::int32_t key) {
  auto found = lengths_.find(key);
  if (found == lengths_.end()) return;
  totalLength_ -= found->second;
  lengths_.erase(found);
  for (auto it = words_.begin(); it != words_.end();) {
    TPostingList list = DecodePostings(it->second.Bytes);
    auto size = list.size();
    std::erase_if(list, [key](const TPosting& p) { return p.Key == key; });
    if (list.size() != size) {
      it->second.Bytes = EncodePostings(list);
      it->second.Lyrics = static_cast<std::uint32_t>(list.size());
      it->second.LastKey = list.empty() ? 0 : list.back().Key;
    }
    it = list.empty() ? words_.erase(it) : std::next(it);
  }
}

TPostingList TMemoryIndex::Postings(const std::string& word) {
  auto it = words_.find(word);
  return it == words_.end() ? TPostingList{} : DecodePostings(it->second.Bytes);
}

std::vector<std::string> TMemoryIndex::WordsWithPrefix(const std::string& prefix, std::size_t limit) {
  std::vector<std::string> found;
  for (auto it = words_.lower_bound(prefix); it != words_.end() && found.size() < limit; ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    found.push_back(it->first);
  }
  return found;
}

double TMemoryIndex::AverageLength() {
  return lengths_.empty() ? 0.0 : static_cast<double>(totalLength_) / static_cast<double>(lengths_.size());
}

std::uint32_t TMemoryIndex::LyricLength(std::int32_t key) {
  auto it = lengths_.find(key);
  return it == lengths_.end() ? 0 : it->second;
}

}  // namespace quillon::lyricsearch
