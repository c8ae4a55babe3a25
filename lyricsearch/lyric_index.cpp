#include "lyricsearch/lyric_index.h"

#include <algorithm>
#include <map>
#include <set>

#include "engine/data_file.h"
#include "engine/field_types.h"
#include "lyricsearch/word_cutter.h"
#include "util/files.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::lyricsearch {

using dataset::TFieldValue;

namespace {

engine::TFieldDescriptor Field(const char* name, engine::TFieldType type, int size = 0) {
  engine::TFieldDescriptor f;
  f.FieldName = name;
  f.FieldType = static_cast<std::uint8_t>(type);
  f.DeclaredSize = static_cast<std::uint8_t>(size);
  return f;
}

engine::TTableDefinition Definition(bool words) {
  engine::TTableDefinition t;
  t.UserValue1 = kIndexFormat;
  if (words) {
    t.Fields = {Field("word", engine::TFieldType::String, static_cast<int>(kMaxWordLength)),
                Field("lyrics", engine::TFieldType::Integer), Field("postings", engine::TFieldType::Blob),
                Field("recent", engine::TFieldType::Blob), Field("lastkey", engine::TFieldType::Integer)};
    t.Description = "word index of the lyric table";
    // Most words are rare and their postings a few bytes: small blocks keep the file small.
    t.BlobBlockSize = 128;
  } else {
    t.Fields = {Field("lyrickey", engine::TFieldType::Integer), Field("wordcount", engine::TFieldType::Integer),
                Field("tablestamp", engine::TFieldType::Integer)};
    t.Description = "lyrics of the word index";
  }
  engine::TIndexDescriptor primary;
  primary.KeyFields[primary.KeyFieldCount++] = 1;
  t.Indexes = {primary};
  return t;
}

bool HasFields(dataset::TQuarryTable& table, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (!table.FindField(name)) return false;
  return table.Handle()->Header().UserValue1 == kIndexFormat;
}

}  // namespace

const char* IndexStateName(TIndexState state) {
  switch (state) {
    case TIndexState::Current:
      return "current";
    case TIndexState::Missing:
      return "missing";
    case TIndexState::Stale:
      return "older than the lyric table";
    case TIndexState::Damaged:
      return "damaged";
  }
  return "";
}

// The index's lock between processes (invariant 2); nested uses share the one lock. Taking it
// runs the change check of the index tables, so that nothing cached before another program's
// turn is read as if it were current.
class TTableLock {
 public:
  explicit TTableLock(TLyricIndex& index) : index_(index) {
    index_.OpenTables();
    if (index_.lockDepth_++ == 0) {
      try {
        index_.keys_.Handle()->LockTable();
        index_.words_.Handle()->Refresh();
      } catch (...) {
        --index_.lockDepth_;
        throw;
      }
    }
  }
  ~TTableLock() {
    if (--index_.lockDepth_ == 0 && index_.keys_.Active()) {
      try {
        index_.keys_.Handle()->UnlockTable();
      } catch (...) {  // the lock goes with the file handle when the table closes
      }
    }
  }

 private:
  TLyricIndex& index_;
};

// The stored index as a query reads it.
class TStoredPostings : public TPostingSource {
 public:
  explicit TStoredPostings(TLyricIndex& index, std::int64_t totalWords) : index_(index), totalWords_(totalWords) {}
  TPostingList Postings(const std::string& word) override { return index_.StoredPostings(word); }
  std::vector<std::string> WordsWithPrefix(const std::string& prefix, std::size_t limit) override {
    std::vector<std::string> found;
    auto& words = index_.words_;
    words.FindNearest({TFieldValue{prefix}});
    while (!words.Eof() && found.size() < limit) {
      std::string word = words.FieldNamed("word").AsString();
      if (word.compare(0, prefix.size(), prefix) != 0) break;
      found.push_back(std::move(word));
      words.Next();
    }
    return found;
  }
  std::int32_t LyricCount() override { return static_cast<std::int32_t>(index_.lengths_.size()); }
  double AverageLength() override {
    return index_.lengths_.empty() ? 0.0
                                   : static_cast<double>(totalWords_) / static_cast<double>(index_.lengths_.size());
  }
  std::uint32_t LyricLength(std::int32_t key) override {
    auto it = index_.lengths_.find(key);
    return it == index_.lengths_.end() ? 0 : it->second;
  }

 private:
  TLyricIndex& index_;
  std::int64_t totalWords_;
};

TLyricIndex::TLyricIndex(std::string folder, std::string lyricTable)
    : folder_(std::move(folder)), lyricTable_(std::move(lyricTable)) {}

TLyricIndex::~TLyricIndex() = default;

void TLyricIndex::OpenLyrics() {
  if (lyrics_.Active()) return;
  lyrics_.SetDatabaseName(folder_);
  lyrics_.SetTableName(lyricTable_);
  lyrics_.SetReadOnly(true);
  lyrics_.Open();
}

std::string TLyricIndex::LyricKeyField() const {
  return lyrics_.Fields().front()->FieldName();
}

// A stamp of the lyric table's three files as they are now: every change of a row changes at
// least one of their counters.
std::int32_t TLyricIndex::LyricCounter() {
  OpenLyrics();
  auto& file = *lyrics_.Handle();
  file.Refresh();
  std::uint32_t stamp = static_cast<std::uint32_t>(file.Header().ChangeCounter);
  stamp = stamp * 31u + static_cast<std::uint32_t>(file.IndexFile().ChangeCounter());
  if (auto* blobs = file.BlobFile()) stamp = stamp * 31u + static_cast<std::uint32_t>(blobs->ChangeCounter());
  return static_cast<std::int32_t>(stamp);
}

void TLyricIndex::CreateTables(bool replace) {
  for (auto* table : {&words_, &keys_}) {
    bool words = table == &words_;
    table->Close();
    table->SetDatabaseName(folder_);
    table->SetTableName(words ? kWordTableName : kLyricKeyTableName);
    engine::TDataFile file;
    file.SetFileName(table->TablePath());
    file.SetExclusive(true);
    if (IndexFileExists(*table)) {
      if (!replace) continue;
      file.DeleteTable();  // refused while another process has it open
    }
    file.CreateTable(Definition(words));
  }
  lengthsLoaded_ = false;
}

bool TLyricIndex::IndexFileExists(dataset::TQuarryTable& table) {
  engine::TDataFile file;
  return platform::IsExistingFile(file.NormalizeName(table.TablePath()));
}

void TLyricIndex::OpenTables() {
  if (words_.Active() && keys_.Active()) return;
  OpenLyrics();
  auto open = [this] {
    for (auto* table : {&words_, &keys_}) {
      if (table->Active()) continue;
      table->SetDatabaseName(folder_);
      table->SetTableName(table == &words_ ? kWordTableName : kLyricKeyTableName);
      table->Open();
    }
    return HasFields(words_, {"word", "lyrics", "postings", "recent", "lastkey"}) &&
           HasFields(keys_, {"lyrickey", "wordcount", "tablestamp"});
  };
  // Two programs may find the tables missing at once: one makes them, the other waits for them.
  // Tables that stay unreadable are damaged and made anew, empty, to be built from the lyrics.
  for (int attempt = 0;; ++attempt) {
    bool usable = false;
    try {
      usable = open();
    } catch (const std::exception&) {
      usable = false;
    }
    if (usable) return;
    CloseTables();
    bool exist = IndexFileExists(words_) && IndexFileExists(keys_);
    if (attempt >= kOpenAttempts) {
      CreateTables(true);
      if (!open()) throw EIndexDamaged("the index tables cannot be made");
      return;
    }
    if (!exist) {
      try {
        CreateTables(false);
        continue;
      } catch (const std::exception&) {  // another program is making them
      }
    }
    platform::SleepMs(kOpenWait);
  }
}

void TLyricIndex::CloseTables() {
  words_.Close();
  keys_.Close();
  lengthsLoaded_ = false;
}

bool TLyricIndex::ReadState(std::int64_t& totalWords, std::int32_t& stamp) {
  if (!keys_.Locate("lyrickey", TFieldValue{std::int64_t{0}})) return false;
  totalWords = keys_.FieldNamed("wordcount").AsInteger();
  stamp = static_cast<std::int32_t>(keys_.FieldNamed("tablestamp").AsInteger());
  return true;
}

void TLyricIndex::WriteState(std::int64_t totalWords, std::int32_t stamp) {
  if (keys_.Locate("lyrickey", TFieldValue{std::int64_t{0}})) {
    keys_.Edit();
  } else {
    keys_.Append();
    keys_.FieldNamed("lyrickey").SetAsInteger(0);
  }
  keys_.FieldNamed("wordcount").SetAsInteger(totalWords);
  keys_.FieldNamed("tablestamp").SetAsInteger(stamp);
  keys_.Post();
  if (lengthsLoaded_) lengthsStamp_ = stamp;
}

TIndexState TLyricIndex::InspectLocked() {
  std::int64_t total = 0;
  std::int32_t stamp = 0;
  if (!ReadState(total, stamp)) return TIndexState::Missing;
  if (stamp != LyricCounter()) return TIndexState::Stale;
  if (keys_.RecordCount() - 1 != lyrics_.RecordCount() || total < 0) return TIndexState::Damaged;
  return TIndexState::Current;
}

TIndexState TLyricIndex::Inspect() {
  TTableLock lock(*this);
  return InspectLocked();
}

bool TLyricIndex::IsCurrentWithoutBuilding() {
  const bool delimited = !folder_.empty() && (folder_.back() == '\\' || folder_.back() == '/');
  const std::string prefix = folder_.empty() || delimited ? folder_ : folder_ + platform::kPathDelim;
  // The table store writes the extension in capitals; a file system that minds case has it so.
  auto exists = [&](std::string name) {
    if (IsExistingFile(prefix + name)) return true;
    const std::size_t dot = name.rfind('.');
    return dot != std::string::npos && IsExistingFile(prefix + name.substr(0, dot) + UpperAsciiText(name.substr(dot)));
  };
  if (!exists(kWordTableName) || !exists(kLyricKeyTableName)) return false;
  try {
    return Inspect() == TIndexState::Current;
  } catch (const std::exception&) {
    return false;
  }
}

bool TLyricIndex::MakeCurrentLocked() {
  if (InspectLocked() == TIndexState::Current) return false;
  RebuildLocked();
  return true;
}

bool TLyricIndex::MakeCurrent() {
  TTableLock lock(*this);
  return MakeCurrentLocked();
}

void TLyricIndex::Rebuild() {
  TTableLock lock(*this);
  RebuildLocked();
}

TMemoryIndex TLyricIndex::BuildFromLyrics() {
  TMemoryIndex built;
  OpenLyrics();
  int total = lyrics_.RecordCount(), done = 0;
  auto& key = *lyrics_.Fields().front();
  auto& text = lyrics_.FieldNamed("lyrics");
  for (lyrics_.First(); !lyrics_.Eof(); lyrics_.Next()) {
    built.Put(static_cast<std::int32_t>(key.AsInteger()), text.AsString());
    if (OnProgress && (++done % 1000 == 0 || done == total)) OnProgress("Reading lyrics", done, total);
  }
  return built;
}

void TLyricIndex::RebuildLocked() {
  // The stamp is taken before the lyrics are read: a change made meanwhile by a writer that
  // does not take the index's lock leaves the index stale, never current without it.
  std::int32_t stamp = LyricCounter();
  TMemoryIndex built = BuildFromLyrics();
  try {
    WriteIndex(built);
  } catch (const std::exception&) {
    // Rows that cannot be read or changed: the tables are made anew (which needs them to
    // ourselves; otherwise the error goes up).
    --lockDepth_;
    CloseTables();
    CreateTables(true);
    OpenTables();
    keys_.Handle()->LockTable();
    ++lockDepth_;
    WriteIndex(built);
  }
  WriteState(static_cast<std::int64_t>(built.TotalLength()), stamp);
  lengths_.clear();
  for (auto [key, length] : built.Lengths()) lengths_[key] = length;
  lengthsLoaded_ = true;
  lengthsStamp_ = stamp;
  ++rebuilds_;
}

// While a rebuild writes the word table, the table is held Exclusive when no other program has
// it open: its rows are then written back once, at the end, instead of one by one. The index's
// lock lies on the other table and stays held; the stamp naming the rebuilt index is written
// only after the word table is closed and so written whole.
class TLyricIndex::TExclusiveWords {
 public:
  explicit TExclusiveWords(dataset::TQuarryTable& words) : words_(words) {
    words_.Close();
    words_.SetExclusive(true);
    try {
      words_.Open();
    } catch (const std::exception&) {  // open elsewhere: written shared, row by row
      words_.SetExclusive(false);
      words_.Open();
    }
  }
  ~TExclusiveWords() {
    if (!words_.Exclusive()) return;
    try {
      words_.Close();
      words_.SetExclusive(false);
      words_.Open();
    } catch (const std::exception&) {  // closed: the next use opens it again
      words_.SetExclusive(false);
    }
  }

 private:
  dataset::TQuarryTable& words_;
};

void TLyricIndex::WriteIndex(const TMemoryIndex& built) {
  TExclusiveWords exclusive(words_);
  const auto& words = built.Words();
  int total = static_cast<int>(words.size() + built.Lengths().size()), done = 0;
  auto tell = [&] {
    if (OnProgress && (++done % 1000 == 0 || done == total)) OnProgress("Writing the index", done, total);
  };
  // Rows already there are kept, changed or deleted; the missing ones appended after the walk.
  std::set<std::string> kept;
  auto& word = words_.FieldNamed("word");
  auto& postings = words_.FieldNamed("postings");
  for (words_.First(); !words_.Eof();) {
    std::string w = word.AsString();
    auto it = words.find(w);
    if (it == words.end()) {
      words_.Delete();
      continue;
    }
    const std::string& bytes = it->second.Bytes;
    if (postings.AsString() != bytes || !words_.FieldNamed("recent").AsString().empty() ||
        words_.FieldNamed("lyrics").AsInteger() != it->second.Lyrics ||
        words_.FieldNamed("lastkey").AsInteger() != it->second.LastKey) {
      words_.Edit();
      words_.FieldNamed("lyrics").SetAsInteger(it->second.Lyrics);
      words_.FieldNamed("lastkey").SetAsInteger(it->second.LastKey);
      words_.FieldNamed("recent").SetAsString({});
      postings.SetAsString(bytes);
      words_.Post();
    }
    kept.insert(w);
    tell();
    words_.Next();
  }
  for (const auto& [w, entry] : words) {
    if (kept.count(w)) continue;
    words_.Append();
    word.SetAsString(w);
    words_.FieldNamed("lyrics").SetAsInteger(entry.Lyrics);
    words_.FieldNamed("lastkey").SetAsInteger(entry.LastKey);
    postings.SetAsString(entry.Bytes);
    words_.Post();
    tell();
  }
  const auto& lengths = built.Lengths();
  std::set<std::int32_t> keptKeys;
  auto& key = keys_.FieldNamed("lyrickey");
  auto& count = keys_.FieldNamed("wordcount");
  for (keys_.First(); !keys_.Eof();) {
    auto k = static_cast<std::int32_t>(key.AsInteger());
    if (k == 0) {
      keys_.Next();
      continue;
    }
    auto it = lengths.find(k);
    if (it == lengths.end()) {
      keys_.Delete();
      continue;
    }
    if (count.AsInteger() != it->second) {
      keys_.Edit();
      count.SetAsInteger(it->second);
      keys_.Post();
    }
    keptKeys.insert(k);
    tell();
    keys_.Next();
  }
  for (auto [k, length] : lengths) {
    if (keptKeys.count(k)) continue;
    keys_.Append();
    key.SetAsInteger(k);
    count.SetAsInteger(length);
    keys_.Post();
    tell();
  }
}

TPostingList TLyricIndex::StoredPostings(const std::string& word) {
  if (!words_.Locate("word", TFieldValue{word})) return {};
  return DecodePostings(StoredBytes());
}

void TLyricIndex::PutPostings(const std::string& word, const TPostingList& postings) {
  bool found = words_.Locate("word", TFieldValue{word});
  if (postings.empty()) {
    if (found) words_.Delete();
    return;
  }
  if (found) {
    words_.Edit();
  } else {
    words_.Append();
    words_.FieldNamed("word").SetAsString(word);
  }
  words_.FieldNamed("lyrics").SetAsInteger(static_cast<std::int64_t>(postings.size()));
  words_.FieldNamed("lastkey").SetAsInteger(postings.back().Key);
  words_.FieldNamed("recent").SetAsString({});
  words_.FieldNamed("postings").SetAsString(EncodePostings(postings));
  words_.Post();
}

std::string TLyricIndex::StoredBytes() {
  // The recent part continues the byte form where the older part ends (its first key gap is
  // counted from the older part's last key), so the two read as one list.
  return words_.FieldNamed("postings").AsString() + words_.FieldNamed("recent").AsString();
}

bool TLyricIndex::AppendNewest(const std::string& word, const TPosting& posting) {
  if (!words_.Locate("word", TFieldValue{word})) {
    words_.Append();
    words_.FieldNamed("word").SetAsString(word);
    words_.FieldNamed("lyrics").SetAsInteger(1);
    words_.FieldNamed("lastkey").SetAsInteger(posting.Key);
    words_.FieldNamed("postings").SetAsString(EncodePostings({posting}));
    words_.Post();
    return true;
  }
  auto last = static_cast<std::int32_t>(words_.FieldNamed("lastkey").AsInteger());
  if (posting.Key <= last) return false;
  std::string recent = words_.FieldNamed("recent").AsString();
  AppendPosting(recent, last, posting);
  std::string older;
  if (recent.size() > kRecentBytes) older = words_.FieldNamed("postings").AsString() + recent;
  std::int64_t lyrics = words_.FieldNamed("lyrics").AsInteger();
  words_.Edit();
  words_.FieldNamed("lyrics").SetAsInteger(lyrics + 1);
  words_.FieldNamed("lastkey").SetAsInteger(posting.Key);
  if (older.empty()) {
    words_.FieldNamed("recent").SetAsString(recent);
  } else {
    words_.FieldNamed("postings").SetAsString(older);
    words_.FieldNamed("recent").SetAsString({});
  }
  words_.Post();
  return true;
}

void TLyricIndex::ChangeLyric(std::int32_t key, std::string_view oldText, std::string_view newText, bool removed) {
  std::uint32_t oldLength = 0, newLength = 0;
  auto before = WordPositions(oldText, &oldLength);
  auto after = WordPositions(removed ? std::string_view{} : newText, &newLength);
  std::set<std::string> touched;
  for (const auto& [w, p] : before) {
    auto it = after.find(w);
    if (it == after.end() || it->second != p) touched.insert(w);
  }
  for (const auto& [w, p] : after)
    if (!before.count(w)) touched.insert(w);
  for (const auto& w : touched) {
    // A lyric newer than every other of the word (an append) only adds to the recent part.
    auto it = after.find(w);
    if (it != after.end() && !before.count(w) && AppendNewest(w, TPosting{key, it->second})) continue;
    auto list = StoredPostings(w);
    std::erase_if(list, [key](const TPosting& p) { return p.Key == key; });
    if (it != after.end()) {
      auto at =
          std::lower_bound(list.begin(), list.end(), key, [](const TPosting& p, std::int32_t k) { return p.Key < k; });
      list.insert(at, TPosting{key, it->second});
    }
    PutPostings(w, list);
  }
  std::int64_t total = 0;
  std::int32_t stamp = 0;
  ReadState(total, stamp);
  std::int64_t storedLength = 0;
  bool known = keys_.Locate("lyrickey", TFieldValue{std::int64_t{key}});
  if (known) storedLength = keys_.FieldNamed("wordcount").AsInteger();
  if (removed) {
    if (known) keys_.Delete();
    lengths_.erase(key);
  } else {
    if (known) {
      keys_.Edit();
    } else {
      keys_.Append();
      keys_.FieldNamed("lyrickey").SetAsInteger(key);
    }
    keys_.FieldNamed("wordcount").SetAsInteger(newLength);
    keys_.Post();
    lengths_[key] = newLength;
  }
  total += (removed ? 0 : static_cast<std::int64_t>(newLength)) - storedLength;
  // The stamp stays as it was until Commit names the lyric table's new state.
  WriteState(total, stamp);
}

void TLyricIndex::LoadLengths() {
  std::int64_t total = 0;
  std::int32_t stamp = 0;
  ReadState(total, stamp);
  if (lengthsLoaded_ && lengthsStamp_ == stamp) return;
  lengths_.clear();
  auto& key = keys_.FieldNamed("lyrickey");
  auto& count = keys_.FieldNamed("wordcount");
  for (keys_.First(); !keys_.Eof(); keys_.Next()) {
    auto k = static_cast<std::int32_t>(key.AsInteger());
    if (k != 0) lengths_[k] = static_cast<std::uint32_t>(count.AsInteger());
  }
  lengthsLoaded_ = true;
  lengthsStamp_ = stamp;
}

std::vector<std::string> TLyricIndex::Check() {
  TTableLock lock(*this);
  std::vector<std::string> problems;
  TIndexState state = InspectLocked();
  if (state != TIndexState::Current) problems.push_back(std::string("The index is ") + IndexStateName(state) + ".");
  TMemoryIndex built = BuildFromLyrics();
  std::set<std::string> seen;
  auto& word = words_.FieldNamed("word");
  for (words_.First(); !words_.Eof(); words_.Next()) {
    std::string w = word.AsString();
    seen.insert(w);
    auto it = built.Words().find(w);
    if (it == built.Words().end()) {
      problems.push_back("Word \"" + w + "\" is in no lyric.");
      continue;
    }
    try {
      // The byte form is canonical: equal postings have equal bytes.
      std::string stored = StoredBytes();
      DecodePostings(stored);
      if (stored != it->second.Bytes || words_.FieldNamed("lyrics").AsInteger() != it->second.Lyrics ||
          words_.FieldNamed("lastkey").AsInteger() != it->second.LastKey)
        problems.push_back("Word \"" + w + "\" has wrong postings.");
    } catch (const EIndexDamaged& e) {
      problems.push_back("Word \"" + w + "\": " + e.what());
    }
  }
  for (const auto& [w, entry] : built.Words())
    if (!seen.count(w)) problems.push_back("Word \"" + w + "\" is missing.");
  std::set<std::int32_t> keys;
  auto& key = keys_.FieldNamed("lyrickey");
  for (keys_.First(); !keys_.Eof(); keys_.Next()) {
    auto k = static_cast<std::int32_t>(key.AsInteger());
    if (k == 0) continue;
    keys.insert(k);
    auto it = built.Lengths().find(k);
    if (it == built.Lengths().end())
      problems.push_back("Lyric " + std::to_string(k) + " is not in the lyric table.");
    else if (keys_.FieldNamed("wordcount").AsInteger() != it->second)
      problems.push_back("Lyric " + std::to_string(k) + " has a wrong word count.");
  }
  for (const auto& [k, length] : built.Lengths())
    if (!keys.count(k)) problems.push_back("Lyric " + std::to_string(k) + " is missing.");
  std::int64_t total = 0;
  std::int32_t stamp = 0;
  if (ReadState(total, stamp) && total != static_cast<std::int64_t>(built.TotalLength()))
    problems.push_back("The word total is wrong.");
  return problems;
}

std::vector<TLyricHit> TLyricIndex::Search(std::string_view text, std::size_t limit) {
  TLyricQuery query = ParseLyricQuery(text);
  TTableLock lock(*this);
  for (int attempt = 0;; ++attempt) {
    try {
      MakeCurrentLocked();
      LoadLengths();
      std::int64_t total = 0;
      std::int32_t stamp = 0;
      ReadState(total, stamp);
      TStoredPostings source(*this, total);
      const std::string keyField = LyricKeyField();
      auto titleOf = [&](std::int32_t key) {
        return lyrics_.Locate(keyField, TFieldValue{std::int64_t{key}}) ? lyrics_.FieldNamed("songname").AsString()
                                                                        : std::string();
      };
      std::vector<TLyricHit> hits;
      for (auto& ranked : RankLyrics(query, source, limit, titleOf)) {
        if (!lyrics_.Locate(keyField, TFieldValue{std::int64_t{ranked.Key}})) throw EIndexDamaged("a lyric is gone");
        TLyricHit hit;
        hit.Key = ranked.Key;
        hit.Score = ranked.Score;
        hit.SongName = lyrics_.FieldNamed("songname").AsString();
        hit.SongIndex = static_cast<std::int32_t>(lyrics_.FieldNamed("songindex").AsInteger());
        hit.SongDb = lyrics_.FieldNamed("songdb").AsString();
        hit.Snippet = MakeSnippet(lyrics_.FieldNamed("lyrics").AsString(), ranked.Matches);
        hit.FirstMatch = ranked.Matches.empty() ? 0 : ranked.Matches.front();
        hits.push_back(std::move(hit));
      }
      return hits;
    } catch (const EIndexDamaged&) {
      if (attempt > 0) throw;
      RebuildLocked();
    }
  }
}

TLyricIndex::TWriteTurn::TWriteTurn(TLyricIndex& index) : index_(index), lock_(std::make_unique<TTableLock>(index)) {
  index_.MakeCurrentLocked();
}

TLyricIndex::TWriteTurn::~TWriteTurn() = default;

void TLyricIndex::TWriteTurn::Replace(std::int32_t key, std::string_view oldText, std::string_view newText) {
  index_.ChangeLyric(key, oldText, newText, false);
}

void TLyricIndex::TWriteTurn::Remove(std::int32_t key, std::string_view oldText) {
  index_.ChangeLyric(key, oldText, {}, true);
}

void TLyricIndex::TWriteTurn::Commit() {
  std::int64_t total = 0;
  std::int32_t stamp = 0;
  index_.ReadState(total, stamp);
  index_.WriteState(total, index_.LyricCounter());
  committed_ = true;
}

}  // namespace quillon::lyricsearch
