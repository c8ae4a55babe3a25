#include "tools/basegen/synth.h"

#include <gtest/gtest.h>

#include <set>

namespace quillon::basegen {
namespace {

TEST(Synthesize, MakesTheAskedShapeWithConsecutiveAlbums) {
  SynthOptions o{20000, 1600, 400, 50, 7};
  BaseTables t = Synthesize(o);
  ASSERT_EQ(t.songs.size(), 20000u);
  ASSERT_EQ(t.albums.size(), 1600u);
  std::set<std::string> artists;
  for (const auto& a : t.albums) artists.insert(a.artist);
  EXPECT_EQ(artists.size(), 400u);
  EXPECT_EQ(t.lyrics.size(), 50u);
  // Walk the song table as the program does: from beginID forward while the album matches.
  std::vector<int> seen(t.albums.size() + 1, 0);
  for (size_t i = 0; i < t.songs.size(); ++i) {
    const SongRow& s = t.songs[i];
    ASSERT_GE(s.albumIndex, 1);
    const AlbumRow& album = t.albums[static_cast<size_t>(s.albumIndex - 1)];
    int recNo = static_cast<int>(i) + 1;
    ASSERT_GE(recNo, album.beginID);
    ASSERT_LT(recNo - album.beginID, static_cast<int>(t.songs.size()));
    if (recNo > album.beginID) {
      ASSERT_EQ(t.songs[i - 1].albumIndex, s.albumIndex) << "album not consecutive";
    }
    seen[static_cast<size_t>(s.albumIndex)]++;
    EXPECT_LE(s.song.size(), kSongWidth);
    EXPECT_FALSE(s.song.empty());
  }
  for (size_t a = 1; a < seen.size(); ++a) EXPECT_GE(seen[a], 1) << "album without songs";
  for (const auto& a : t.albums) {
    EXPECT_LE(a.album.size(), kAlbumWidth);
    EXPECT_LE(a.artist.size(), kArtistWidth);
  }
}

TEST(Synthesize, SpreadsArtistsOverManyInitialsIncludingHash) {
  BaseTables t = Synthesize({20000, 4000, 2000, 0, 3});
  EXPECT_TRUE(t.artistIndex.count("#"));
  EXPECT_GE(t.artistIndex.size(), 22u);
  size_t biggest = 0, total = 0;
  for (const auto& [section, names] : t.artistIndex) {
    biggest = std::max(biggest, names.size());
    total += names.size();
  }
  EXPECT_EQ(total, 2000u);
  EXPECT_LT(biggest, total / 5) << "no single letter dominates";
}

TEST(Synthesize, SameOptionsSameBaseAndBadOptionsRaise) {
  SynthOptions o{3000, 300, 100, 0, 11};
  BaseTables a = Synthesize(o);
  BaseTables b = Synthesize(o);
  ASSERT_EQ(a.songs.size(), b.songs.size());
  for (size_t i = 0; i < a.songs.size(); ++i) ASSERT_EQ(a.songs[i].song, b.songs[i].song);
  o.seed = 12;
  BaseTables c = Synthesize(o);
  size_t differ = 0;
  for (size_t i = 0; i < a.songs.size(); ++i) differ += a.songs[i].song != c.songs[i].song;
  EXPECT_GT(differ, a.songs.size() / 2);
  EXPECT_THROW(Synthesize({10, 20, 5, 0, 1}), EBaseError);
  EXPECT_THROW(Synthesize({10, 5, 6, 0, 1}), EBaseError);
  EXPECT_THROW(Synthesize({10, 5, 0, 0, 1}), EBaseError);
}

}  // namespace
}  // namespace quillon::basegen
