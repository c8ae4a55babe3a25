#include "tools/basegen/synth.h"

#include <array>
#include <set>
#include <string_view>

namespace quillon::basegen {

namespace {

// xorshift32: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }

 private:
  std::uint32_t state_;
};

// Initials of performer names, weighted roughly as in English names and band names.
constexpr std::string_view kInitials = "AABBBBBCCCCCDDDDEEFFFGGGHHHHIJJJKKLLLMMMMMNNOOPPPQRRRRSSSSSSSTTTTTTUVVWWWWXYYZ";

constexpr std::array<std::string_view, 26> kLeadWords = {
    "Amber Atlas Autumn Azure",     "Blue Brass Bright Broken",    "Cedar Cinder Copper Crystal",
    "Dawn Delta Desert Dusty",      "Echo Ember Emerald Evening",  "Falcon Fern Frost Fiddler",
    "Garnet Ghost Golden Granite",  "Harbour Hazel Hollow Honey",  "Indigo Iron Island Ivory",
    "Jade Jasper Jolly Juniper",    "Kestrel Kettle Kindred King", "Lantern Laurel Lemon Lunar",
    "Maple Marble Meadow Midnight", "Neon Night Noble Northern",   "Oak Ocean Olive Orchid",
    "Paper Pebble Pine Prairie",    "Quarry Quiet Quill Quince",   "Raven Red River Rusty",
    "Saffron Silver Stone Summer",  "Tin Thistle Thunder Timber",  "Umber Union Upland Urban",
    "Valley Velvet Violet Vinyl",   "Willow Winter Wild Wooden",   "Xeno Xylo Xanadu Xavier",
    "Yellow Yarrow Yonder Young",   "Zephyr Zinc Zodiac Zenith"};

constexpr std::string_view kSecondWords =
    "Avenue Band Bells Birds Boys Brothers Canyon Choir Circle Club Collective Company Crew Drifters "
    "Engine Ensemble Express Fields Foxes Garden Girls Hearts Hills Horns Jets Keys Kings Lights Lines "
    "Machine Mountain Orchestra Owls Project Quartet Rain Riders Road Rovers Saints Sisters Society "
    "Sound Sparrows Stars Strings Tide Trio Union Voices Wanderers Waves Wheels Wolves";

constexpr std::string_view kTitleWords =
    "all alone angel apple autumn baby back bell beyond black blue boat bridge broken burning call "
    "candle carry city cold come crazy dance dark dawn day dear deep desert down dream drive dust "
    "easy echo end every evening fall far fire first flower fly forever free friend garden ghost "
    "girl give gold gone good goodbye gray green grow hands heart heaven high highway hold home "
    "honey hope hour house hungry ice island kiss lady lake last late leave light line little lonely "
    "long lost love lucky midnight mind moon morning mountain my never new night nothing ocean old "
    "only open paper party rain ready red river road rock rose run sea shadow shine silver sky slow "
    "small smile snow song soul spring star stay stone storm street summer sun sweet take tears "
    "time tomorrow tonight train true walk wall water way wheel whisper wild wind window wine "
    "winter wish wonder world yesterday young";

std::vector<std::string_view> Words(std::string_view list) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(' ', start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) words.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

std::string Capitalised(std::string_view w) {
  std::string s(w);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string Title(Random& rnd, const std::vector<std::string_view>& words, size_t width) {
  int count = 1 + rnd.Below(3) + rnd.Below(3) + (rnd.Below(4) == 0 ? 1 : 0);  // 1..6, mostly 2-4
  std::string title;
  for (int i = 0; i < count; ++i) {
    std::string w = Capitalised(words[static_cast<size_t>(rnd.Below(static_cast<int>(words.size())))]);
    if (title.size() + 1 + w.size() > width) break;
    if (!title.empty()) title += ' ';
    title += w;
  }
  return title;
}

std::string ArtistName(Random& rnd, const std::vector<std::string_view>& seconds) {
  if (rnd.Below(50) == 0) {  // names under "#"
    static constexpr std::array<std::string_view, 6> kNumbers = {"10", "3", "99", "808", "4", "21"};
    return std::string(kNumbers[static_cast<size_t>(rnd.Below(6))]) + " " +
           std::string(seconds[static_cast<size_t>(rnd.Below(static_cast<int>(seconds.size())))]);
  }
  char initial = kInitials[static_cast<size_t>(rnd.Below(static_cast<int>(kInitials.size())))];
  std::vector<std::string_view> leads = Words(kLeadWords[static_cast<size_t>(initial - 'A')]);
  std::string name(leads[static_cast<size_t>(rnd.Below(static_cast<int>(leads.size())))]);
  name += ' ';
  name += seconds[static_cast<size_t>(rnd.Below(static_cast<int>(seconds.size())))];
  return name;
}

std::string LyricText(Random& rnd, const std::vector<std::string_view>& words) {
  int lines = 6 + rnd.Below(40);
  std::string text;
  for (int i = 0; i < lines; ++i) {
    if (i > 0 && i % 4 == 0) text += "\r\n";
    text += Title(rnd, words, 48) + "\r\n";
  }
  return text;
}

}  // namespace

BaseTables Synthesize(const SynthOptions& o) {
  if (o.artists < 1 || o.albums < o.artists || o.songs < o.albums || o.lyrics < 0) {
    throw EBaseError("synthetic base needs 1 <= artists <= albums <= songs");
  }
  Random rnd(o.seed);
  std::vector<std::string_view> seconds = Words(kSecondWords);
  std::vector<std::string_view> words = Words(kTitleWords);

  std::vector<std::string> artists;
  std::set<std::string> taken;
  while (static_cast<int>(artists.size()) < o.artists) {
    std::string name = ArtistName(rnd, seconds);
    for (int n = 2; taken.count(name); ++n) name = ArtistName(rnd, seconds) + " " + std::to_string(n);
    if (name.size() > kArtistWidth) continue;
    taken.insert(name);
    artists.push_back(std::move(name));
  }

  // Every artist one album, the rest to artists skewed towards the first ones (a few prolific
  // artists, many with one or two albums); albums stay grouped by artist.
  std::vector<int> albumsOf(static_cast<size_t>(o.artists), 1);
  for (int i = o.artists; i < o.albums; ++i) {
    double u = static_cast<double>(rnd.Next()) / 4294967296.0;
    albumsOf[static_cast<size_t>(static_cast<double>(o.artists) * u * u)]++;
  }
  std::vector<int> songsOf(static_cast<size_t>(o.albums), 1);
  for (int i = o.albums; i < o.songs; ++i) songsOf[static_cast<size_t>(rnd.Below(o.albums))]++;

  std::vector<CatalogueLine> lines;
  lines.reserve(static_cast<size_t>(o.songs));
  size_t album = 0;
  for (size_t a = 0; a < artists.size(); ++a) {
    for (int k = 0; k < albumsOf[a]; ++k, ++album) {
      // The album number keeps two albums of one artist apart even when their titles repeat.
      std::string title = Title(rnd, words, kAlbumWidth - 8) + " (" + std::to_string(k + 1) + ")";
      for (int s = 0; s < songsOf[album]; ++s) {
        CatalogueLine l{artists[a], title, Title(rnd, words, kSongWidth), "s" + std::to_string(lines.size() + 1), {}};
        if (static_cast<int>(lines.size()) < o.lyrics) l.lyrics = LyricText(rnd, words);
        lines.push_back(std::move(l));
      }
    }
  }
  return BuildBase(lines, false);
}

}  // namespace quillon::basegen
