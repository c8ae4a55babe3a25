// basegen: writes the import files of a lyrics base (albums.tsv, songs.tsv, lyrics.tsv, artist.ini).
//   basegen catalogue CATALOGUE.tsv LYRICS_DIR BASE_NAME own|normal OUT_DIR
//   basegen synth [--songs N] [--albums N] [--artists N] [--lyrics N] [--seed N] BASE_NAME OUT_DIR
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/basegen/base_builder.h"
#include "tools/basegen/synth.h"
#include "util/text.h"

using namespace quillon;
using namespace quillon::basegen;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: basegen catalogue CATALOGUE.tsv LYRICS_DIR BASE_NAME own|normal OUT_DIR\n"
               "       basegen synth [--songs N] [--albums N] [--artists N] [--lyrics N] [--seed N] BASE_NAME "
               "OUT_DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc < 2) return Usage();
    std::string mode = argv[1];
    if (mode == "catalogue" && argc == 7) {
      std::string kind = argv[5];
      if (kind != "own" && kind != "normal") return Usage();
      BaseTables t = BuildBase(ReadCatalogue(argv[2], argv[3]), kind == "own");
      WriteBase(t, argv[4], argv[6]);
      std::printf("%s: %zu albums, %zu songs, %zu lyric texts\n", argv[4], t.albums.size(), t.songs.size(),
                  t.lyrics.size());
      return 0;
    }
    if (mode == "synth") {
      SynthOptions o;
      int i = 2;
      for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        int v;
        if (!ParseDecimalInt(argv[i + 1], v)) return Usage();
        std::string opt = argv[i];
        if (opt == "--songs")
          o.songs = v;
        else if (opt == "--albums")
          o.albums = v;
        else if (opt == "--artists")
          o.artists = v;
        else if (opt == "--lyrics")
          o.lyrics = v;
        else if (opt == "--seed")
          o.seed = static_cast<std::uint32_t>(v);
        else
          return Usage();
      }
      if (argc - i != 2) return Usage();
      BaseTables t = Synthesize(o);
      WriteBase(t, argv[i], argv[i + 1]);
      std::printf("%s: %zu albums, %zu songs, %zu artists\n", argv[i], t.albums.size(), t.songs.size(),
                  static_cast<size_t>(o.artists));
      return 0;
    }
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "basegen: %s\n", e.what());
    return 1;
  }
}
