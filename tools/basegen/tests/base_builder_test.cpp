#include "tools/basegen/base_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

#include "util/testing/temp_dir.h"

namespace quillon::basegen {
namespace {

using testing::TempDir;

CatalogueLine L(std::string artist, std::string album, std::string song, std::string lyrics = {}) {
  return {std::move(artist), std::move(album), std::move(song), "id", std::move(lyrics)};
}

TEST(BuildBase, NumbersAlbumsAndSongsAndPointsBeginIdAtTheFirstSong) {
  BaseTables t = BuildBase({L("Abba", "One", "a1"), L("Abba", "One", "a2"), L("Abba", "Two", "b1"),
                            L("10cc", "Ten", "c1", "text"), L("10cc", "Ten", "c2")},
                           false);
  ASSERT_EQ(t.albums.size(), 3u);
  EXPECT_EQ(t.albums[0].beginID, 1);
  EXPECT_EQ(t.albums[1].beginID, 3);
  EXPECT_EQ(t.albums[2].beginID, 4);
  EXPECT_EQ(t.albums[2].artist, "10cc");
  std::vector<int> albumOfSong;
  for (const auto& s : t.songs) albumOfSong.push_back(s.albumIndex);
  EXPECT_EQ(albumOfSong, (std::vector<int>{1, 1, 2, 3, 3}));
  ASSERT_EQ(t.lyrics.size(), 1u);
  EXPECT_EQ(t.lyrics[0].songindex, 4);
  EXPECT_EQ(t.lyrics[0].songname, "c1");
}

TEST(BuildBase, AlbumSongsMustBeConsecutiveExceptInTheOwnBase) {
  std::vector<CatalogueLine> spread = {L("K", "Mine", "s1"), L("K", "Other", "s2"), L("K", "Mine", "s3")};
  try {
    BuildBase(spread, false);
    FAIL() << "no error";
  } catch (const EBaseError& e) {
    EXPECT_NE(std::string(e.what()).find("line 4"), std::string::npos) << e.what();
  }
  BaseTables own = BuildBase(spread, true);
  ASSERT_EQ(own.albums.size(), 2u);
  EXPECT_EQ(own.albums[0].beginID, 1);
  EXPECT_EQ(own.albums[1].beginID, 1);
  EXPECT_EQ(own.songs[2].albumIndex, 1);
}

TEST(BuildBase, RejectsValuesTheTablesCannotHold) {
  struct Case {
    CatalogueLine line;
    const char* what;
  } cases[] = {
      {L(std::string(41, 'a'), "x", "y"), "artist"},
      {L("a", std::string(41, 'b'), "y"), "album"},
      {L("a", "b", std::string(51, 'c')), "song"},
      {{"a", "b", "c", std::string(151, 'u'), ""}, "url1"},
      {L("a=b", "x", "y"), "index key"},
      {L("[a", "x", "y"), "index key"},
      {L(" a", "x", "y"), "index key"},
      {L("a", "x", ""), "title missing"},
  };
  for (const auto& c : cases) {
    try {
      BuildBase({c.line}, false);
      ADD_FAILURE() << "accepted: " << c.what;
    } catch (const EBaseError& e) {
      EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << e.what();
    }
  }
  EXPECT_NO_THROW(BuildBase({L(std::string(40, 'a'), std::string(40, 'b'), std::string(50, 'c'))}, false));
}

TEST(BuildBase, ArtistIndexSectionsByInitialSortedWithoutCase) {
  BaseTables t = BuildBase({L("beta", "x", "1"), L("Alpha", "x", "2"), L("alpha two", "x", "3"), L("Zed", "x", "4"),
                            L("O'Neil", "x", "5"), L("10cc", "x", "6"), L("~Tilde", "x", "7")},
                           true);
  EXPECT_EQ(t.artistIndex["A"], (std::vector<std::string>{"Alpha", "alpha two"}));
  EXPECT_EQ(t.artistIndex["B"], (std::vector<std::string>{"beta"}));
  EXPECT_EQ(t.artistIndex["O"], (std::vector<std::string>{"O'Neil"}));
  EXPECT_EQ(t.artistIndex["#"], (std::vector<std::string>{"10cc", "~Tilde"}));
  EXPECT_EQ(t.artistIndex.size(), 5u);
}

TEST(WriteBase, WritesImportFilesAndArtistIndex) {
  TempDir dir;
  BaseTables t = BuildBase({L("O'Neil", "Hall", "Tab\there", "l1\r\nl2\r\n"), L("Abba", "Gold", "S")}, false);
  WriteBase(t, "default", dir.Path());
  EXPECT_EQ(dir.Read("albums.tsv"), "album\tartist\tbeginID\nHall\tO'Neil\t1\nGold\tAbba\t2\n");
  EXPECT_EQ(dir.Read("songs.tsv"), "albumIndex\tsong\turl1\n1\tTab\\there\tid\n2\tS\tid\n");
  EXPECT_EQ(dir.Read("lyrics.tsv"), "songname\tlyrics\tsongindex\tsongdb\nTab\\there\tl1\\r\\nl2\\r\\n\t1\tdefault\n");
  EXPECT_EQ(dir.Read("artist.ini"), "[A]\r\nAbba=\r\n\r\n[O]\r\nO'Neil=\r\n");
}

TEST(ReadCatalogue, ChecksHeaderAndFieldsAndLoadsLyricTexts) {
  TempDir dir;
  dir.Write("song.txt", "one\ntwo");
  dir.Write("ok.tsv", "artist\talbum\tsong\turl1\tlyrics\nA\tB\tC\tu\tsong\n\nA\tB\tD\t\t\n");
  auto lines = ReadCatalogue(dir.File("ok.tsv"), dir.Path());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].lyrics, "one\r\ntwo\r\n");
  EXPECT_EQ(lines[1].lyrics, "");
  EXPECT_EQ(lines[1].url1, "");

  dir.Write("header.tsv", "artist\talbum\tsong\n");
  EXPECT_THROW(ReadCatalogue(dir.File("header.tsv"), dir.Path()), EBaseError);
  dir.Write("fields.tsv", "artist\talbum\tsong\turl1\tlyrics\nA\tB\tC\n");
  EXPECT_THROW(ReadCatalogue(dir.File("fields.tsv"), dir.Path()), EBaseError);
  dir.Write("missing.tsv", "artist\talbum\tsong\turl1\tlyrics\nA\tB\tC\tu\tnone\n");
  EXPECT_THROW(ReadCatalogue(dir.File("missing.tsv"), dir.Path()), EBaseError);
  EXPECT_THROW(ReadCatalogue(dir.File("absent.tsv"), dir.Path()), EBaseError);
}

// The demo bases shipped with the program: they must build and show what the program's features
// need (letters including "#", a quote in a name, a long discography, a repeated title).
TEST(DemoCatalogues, BuildAndCoverTheProgramsCases) {
  const char* source = std::getenv("QUILLON_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::string data = std::string(source) + "/data/";
  BaseTables def = BuildBase(ReadCatalogue(data + "bases/default/catalogue.tsv", data + "lyrics"), false);
  EXPECT_GE(def.songs.size(), 40u);
  std::set<std::string> artists;
  std::map<std::string, int> albumsPerArtist;
  for (const auto& a : def.albums) {
    artists.insert(a.artist);
    albumsPerArtist[a.artist]++;
  }
  EXPECT_GE(artists.size(), 12u);
  EXPECT_GE(def.artistIndex.size(), 8u);
  EXPECT_TRUE(def.artistIndex.count("#"));
  bool quote = false;
  for (const auto& a : artists) quote = quote || a.find('\'') != std::string::npos;
  EXPECT_TRUE(quote);
  int most = 0;
  for (const auto& [artist, n] : albumsPerArtist) most = std::max(most, n);
  EXPECT_GT(most, 10);
  bool repeated = false;
  for (size_t i = 1; i < def.songs.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      repeated =
          repeated || (def.songs[i].albumIndex == def.songs[j].albumIndex && def.songs[i].song == def.songs[j].song);
    }
  }
  EXPECT_TRUE(repeated);
  EXPECT_GT(def.lyrics.size(), 10u);
  EXPECT_LT(def.lyrics.size(), def.songs.size()) << "some songs are left for the web";
  // A first start lists the artists of "A": several of them, and every common initial has some.
  EXPECT_GE(def.artistIndex["A"].size(), 4u);
  for (char c : std::string("ABCDEFGHIJKLMNOPRSTW")) {
    EXPECT_GE(def.artistIndex[std::string(1, c)].size(), 2u) << "artists under " << c;
  }
  // An album opened shows a list of songs, not one.
  std::map<int, int> songsPerAlbum;
  for (const auto& s : def.songs) songsPerAlbum[s.albumIndex]++;
  int several = 0;
  for (const auto& [album, n] : songsPerAlbum) several += n >= 3 ? 1 : 0;
  EXPECT_GE(several, 30) << "albums with three songs or more";

  BaseTables own = BuildBase(ReadCatalogue(data + "bases/MyLyrics/catalogue.tsv", data + "lyrics"), true);
  EXPECT_EQ(own.lyrics.size(), own.songs.size());
  BaseTables vault = BuildBase(ReadCatalogue(data + "bases/lyricvault/catalogue.tsv", data + "lyrics"), false);
  EXPECT_FALSE(vault.songs.empty());
}

}  // namespace
}  // namespace quillon::basegen
