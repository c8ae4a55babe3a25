// The word index of the lyric table: kept current by every write path (read back through
// searches and through a comparison with a fresh build), rebuilt when missing, stale or damaged,
// and right after two processes wrote lyrics at the same time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dataset/quarry_table.h"
#include "engine/file_session.h"
#include "engine/tests/peer_process.h"
#include "lyricsearch/lyric_index.h"
#include "lyricsearch/lyric_store.h"
#include "lyricsearch/tests/lyric_table_fixture.h"
#include "util/testing/temp_dir.h"

namespace quillon::lyricsearch {
namespace {

using dataset::TFieldValue;

class LyricIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::InitializeEngine();
    testing::CreateLyricTable(dir.Path());
    lyrics.SetDatabaseName(dir.Path());
    lyrics.SetTableName("lyrics.dat");
    lyrics.Open();
  }
  std::vector<std::string> Songs(TLyricIndex& index, const std::string& query) {
    std::vector<std::string> songs;
    for (const auto& hit : index.Search(query)) songs.push_back(hit.SongName);
    return songs;
  }
  // A row written past the index, as another program would.
  void AppendWithoutIndex(const std::string& song, const std::string& text) {
    lyrics.AppendRecord({TFieldValue{}, song, text, std::int64_t{1}, std::string("default")});
  }
  quillon::testing::TempDir dir;
  dataset::TQuarryTable lyrics;
};

TEST_F(LyricIndex, EveryWritePathKeepsTheIndexCurrent) {
  TLyricIndex index(dir.Path());
  EXPECT_EQ(index.Inspect(), TIndexState::Missing);
  index.MakeCurrent();
  const int builds = index.RebuildCount();

  // Fetched text stored, own lyrics added: appends.
  AppendLyric(index, lyrics, "Blue River", "And the river runs blue\r\nunder the moon", 7, "default");
  AppendLyric(index, lyrics, "Night Train", "The night train rolls\r\nthrough the town", 8, "MyLyrics");
  EXPECT_EQ(index.Inspect(), TIndexState::Current);
  EXPECT_EQ(Songs(index, "river"), std::vector<std::string>{"Blue River"});
  EXPECT_EQ(Songs(index, "\"night train\""), std::vector<std::string>{"Night Train"});

  // Overwrite: the old words go, the new ones come.
  ASSERT_TRUE(lyrics.Locate("songname", TFieldValue{std::string("Blue River")}));
  OverwriteLyric(index, lyrics, "Now the river runs green\r\nover stones");
  EXPECT_TRUE(Songs(index, "blue").empty());
  EXPECT_EQ(Songs(index, "green river"), std::vector<std::string>{"Blue River"});

  // Delete.
  ASSERT_TRUE(lyrics.Locate("songname", TFieldValue{std::string("Night Train")}));
  DeleteLyric(index, lyrics);
  EXPECT_TRUE(Songs(index, "train").empty());

  EXPECT_EQ(index.RebuildCount(), builds) << "a write path left the index stale";
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
  // A second program opening the index finds it current.
  TLyricIndex other(dir.Path());
  EXPECT_EQ(other.Inspect(), TIndexState::Current);
}

// The window's write never builds: a missing or stale index stays so, the row is written, and the
// next search builds the index with that row in it; a current index is kept current.
TEST_F(LyricIndex, AWriteThatMustNotWaitLeavesBuildingToTheNextSearch) {
  TLyricIndex index(dir.Path());
  const auto upkeep = TIndexUpkeep::OnlyIfCurrent;
  AppendLyric(index, lyrics, "Blue River", "And the river runs blue", 7, "default", upkeep);
  EXPECT_EQ(index.RebuildCount(), 0);
  EXPECT_EQ(index.Inspect(), TIndexState::Missing);
  EXPECT_EQ(Songs(index, "river"), std::vector<std::string>{"Blue River"});
  EXPECT_EQ(index.RebuildCount(), 1);

  AppendLyric(index, lyrics, "Night Train", "The night train rolls", 8, "default", upkeep);
  EXPECT_EQ(index.Inspect(), TIndexState::Current);
  EXPECT_EQ(Songs(index, "train"), std::vector<std::string>{"Night Train"});
  EXPECT_EQ(index.RebuildCount(), 1);
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, HitsCarryTheirRowAndASnippet) {
  TLyricIndex index(dir.Path());
  AppendLyric(index, lyrics, "Blue River", "first line\r\nAnd the river runs blue\r\nlast", 7, "default");
  auto hits = index.Search("\"river runs\"");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].SongIndex, 7);
  EXPECT_EQ(hits[0].SongDb, "default");
  EXPECT_EQ(MarkedText(hits[0].Snippet), "And the [river] [runs] blue");
  EXPECT_GT(hits[0].Score, 0.0);
}

TEST_F(LyricIndex, AMissingIndexIsBuiltFromTheTableWithProgress) {
  AppendWithoutIndex("One", "alpha beta");
  AppendWithoutIndex("Two", "beta gamma");
  TLyricIndex index(dir.Path());
  int progress = 0;
  index.OnProgress = [&](const char*, int done, int total) {
    ++progress;
    EXPECT_LE(done, total);
  };
  EXPECT_EQ(index.Inspect(), TIndexState::Missing);
  EXPECT_EQ(Songs(index, "gamma"), std::vector<std::string>{"Two"});
  EXPECT_GT(progress, 0);
  EXPECT_EQ(index.Inspect(), TIndexState::Current);
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, AnIndexOlderThanTheTableIsRebuiltNotTrusted) {
  TLyricIndex index(dir.Path());
  AppendLyric(index, lyrics, "One", "alpha beta", 1, "default");
  AppendWithoutIndex("Two", "beta gamma");
  ASSERT_TRUE(lyrics.Locate("songname", TFieldValue{std::string("One")}));
  lyrics.Edit();
  lyrics.FieldNamed("lyrics").SetAsString("delta only");
  lyrics.Post();
  EXPECT_EQ(index.Inspect(), TIndexState::Stale);
  EXPECT_FALSE(index.Check().empty());
  const int builds = index.RebuildCount();
  EXPECT_EQ(Songs(index, "gamma"), std::vector<std::string>{"Two"});
  EXPECT_TRUE(Songs(index, "alpha").empty());
  EXPECT_EQ(index.RebuildCount(), builds + 1);
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, DamagedPostingsAreFoundByTheCheckAndRebuilt) {
  TLyricIndex index(dir.Path());
  AppendLyric(index, lyrics, "One", "alpha beta", 1, "default");
  AppendLyric(index, lyrics, "Two", "beta gamma", 2, "default");
  {
    dataset::TQuarryTable words;
    words.SetDatabaseName(dir.Path());
    words.SetTableName(kWordTableName);
    words.Open();
    ASSERT_TRUE(words.Locate("word", TFieldValue{std::string("beta")}));
    words.Edit();
    words.FieldNamed("postings").SetAsString(std::string("\x01\x05\x80", 3));
    words.Post();
  }
  auto problems = index.Check();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("beta"), std::string::npos);
  const int builds = index.RebuildCount();
  EXPECT_EQ(Songs(index, "beta").size(), 2u);
  EXPECT_EQ(index.RebuildCount(), builds + 1);
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, IndexFilesThatAreNoTablesAreMadeAnew) {
  AppendWithoutIndex("One", "alpha beta");
  {
    TLyricIndex index(dir.Path());
    index.MakeCurrent();
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    if (entry.path().filename().string().rfind("lyricwords", 0) == 0)
      std::ofstream(entry.path(), std::ios::binary | std::ios::trunc) << "this is no table at all";
  }
  TLyricIndex index(dir.Path());
  EXPECT_EQ(Songs(index, "alpha"), std::vector<std::string>{"One"});
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, AStateRowNamingAnotherFormatOrCountIsNotTrusted) {
  TLyricIndex index(dir.Path());
  AppendLyric(index, lyrics, "One", "alpha beta", 1, "default");
  {
    // The index claims a lyric too many: its count disagrees with the table.
    dataset::TQuarryTable keys;
    keys.SetDatabaseName(dir.Path());
    keys.SetTableName(kLyricKeyTableName);
    keys.Open();
    keys.AppendRecord({std::int64_t{999}, std::int64_t{3}, std::int64_t{0}});
  }
  EXPECT_NE(index.Inspect(), TIndexState::Current);
  EXPECT_TRUE(index.MakeCurrent());
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, TwoProcessesWritingAtOnceLeaveAnIndexEqualToARebuild) {
  const int count = 40;
  {
    engine::testing::TPeerProcess a("lyric_writer_peer", {dir.Path(), "ann", std::to_string(count)});
    engine::testing::TPeerProcess b("lyric_writer_peer", {dir.Path(), "bob", std::to_string(count)});
    ASSERT_TRUE(a.Started()) << a.Path();
    ASSERT_TRUE(b.Started()) << b.Path();
    ASSERT_EQ(a.Wait(), 0);
    ASSERT_EQ(b.Wait(), 0);
  }
  TLyricIndex index(dir.Path());
  EXPECT_EQ(index.Inspect(), TIndexState::Current) << "a turn of one peer was lost to the other";
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
  EXPECT_EQ(index.Search("shared chorus", 1000).size(), static_cast<std::size_t>(2 * count));
  EXPECT_EQ(index.Search("annchanged", 1000).size(), static_cast<std::size_t>((count + 2) / 3));
  EXPECT_EQ(Songs(index, "bobw7"), std::vector<std::string>{"bob song 7"});
  EXPECT_EQ(index.RebuildCount(), 0);
}

TEST_F(LyricIndex, ManyWritesInOneProgramStayCurrent) {
  TLyricIndex index(dir.Path());
  for (int i = 0; i < 150; ++i)
    AppendLyric(index, lyrics, "song " + std::to_string(i), "common words here and w" + std::to_string(i), i,
                "default");
  for (int i = 0; i < 150; i += 2) {
    ASSERT_TRUE(lyrics.Locate("songname", TFieldValue{"song " + std::to_string(i)}));
    OverwriteLyric(index, lyrics, "other words now");
  }
  EXPECT_EQ(index.Search("common", 1000).size(), 75u);
  EXPECT_EQ(index.Search("other now", 1000).size(), 75u);
  EXPECT_EQ(index.RebuildCount(), 1);
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, AnIndexThatCannotBeMadeNeverCostsTheLyric) {
  TLyricIndex index(dir.Path());
  // A folder where the index's data file would be: the tables can be neither opened nor made.
  std::filesystem::create_directory(dir.File("lyricwords.DAT"));
  EXPECT_THROW(index.MakeCurrent(), std::exception);
  AppendLyric(index, lyrics, "Kept", "kept all the same", 1, "default");
  ASSERT_TRUE(lyrics.Locate("songname", TFieldValue{std::string("Kept")}));
  EXPECT_EQ(lyrics.FieldNamed("lyrics").AsString(), "kept all the same");
  // Once the obstacle is gone, the index catches up from the table.
  std::filesystem::remove(dir.File("lyricwords.DAT"));
  EXPECT_EQ(Songs(index, "kept"), std::vector<std::string>{"Kept"});
}

TEST_F(LyricIndex, AppendsThatOutgrowTheRecentPartMoveIntoTheOlderPart) {
  // Each lyric adds a posting of about 12 bytes for "la": the recent part passes its limit
  // (2,048 bytes) and moves into the older part at least once.
  TLyricIndex index(dir.Path());
  std::string chorus;
  for (int i = 0; i < 10; ++i) chorus += "la ";
  for (int i = 0; i < 220; ++i)
    AppendLyric(index, lyrics, "song " + std::to_string(i), chorus + "verse" + std::to_string(i), i, "default");
  {
    dataset::TQuarryTable words;
    words.SetDatabaseName(dir.Path());
    words.SetTableName(kWordTableName);
    words.Open();
    ASSERT_TRUE(words.Locate("word", TFieldValue{std::string("la")}));
    EXPECT_GT(words.FieldNamed("postings").AsString().size(), 2048u);
    EXPECT_LT(words.FieldNamed("recent").AsString().size(), 2048u);
  }
  EXPECT_EQ(index.Search("la", 1000).size(), 220u);
  EXPECT_EQ(Songs(index, "verse219"), std::vector<std::string>{"song 219"});
  EXPECT_EQ(index.RebuildCount(), 1);
  EXPECT_EQ(index.Check(), std::vector<std::string>{});
}

TEST_F(LyricIndex, QueriesWithNothingToFindAreRefused) {
  TLyricIndex index(dir.Path());
  EXPECT_THROW(index.Search("-alpha"), ELyricQueryError);
}

}  // namespace
}  // namespace quillon::lyricsearch
