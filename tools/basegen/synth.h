// Large synthetic lyrics bases for benchmarks and load tests: artist names with a realistic spread
// of initials (a few under "#"), album and song titles of one to six words within the field
// widths, albums spread unevenly over artists and songs over albums, every album's songs
// consecutive. The same options always give the same base.
#pragma once

#include <cstdint>

#include "tools/basegen/base_builder.h"

namespace quillon::basegen {

struct SynthOptions {
  int songs = 1000000;
  int albums = 80000;
  int artists = 20000;
  int lyrics = 0;  // stored lyric texts for the first songs (about 200 to 2,000 characters each)
  std::uint32_t seed = 1;
};

// Raises EBaseError unless 1 <= artists <= albums <= songs.
BaseTables Synthesize(const SynthOptions& options);

}  // namespace quillon::basegen
