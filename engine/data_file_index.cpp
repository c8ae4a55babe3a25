// The cursor's key operations that sit on TDataFile and reach into its TIndexFile.
#include "engine/data_file.h"

namespace quillon::engine {

TKey TDataFile::BuildKey(const std::uint8_t* record) const {
  const TIndexFile& index = *indexFile_;
  if (!index.HasCurrentTree()) return {};
  return index.BuildKey(index.CurrentIndex(), record);
}

}  // namespace quillon::engine
