// TBlobFile: the table's BLOB file (<name>.BLB), owned by its TDataFile and present exactly when
// the table has BLOB fields. This file holds the header; block chains, the block cache and open
// BLOB values are added on top of it.
//
// Header (512 bytes, scrambled as a whole with the data seed when the table is encrypted):
//   0 i32 ChangeCounter   4 zero   8 u8 Version (3)   9 u32 FreeBlockHead   13 u32 NextBlockOffset
//   17 u8 HeaderDirty   18..511 zero
// Blocks of the table's BlockSize follow at 512 + k x BlockSize.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/file_handler.h"

namespace quillon::engine {

class TDataFile;

inline constexpr int kBlobHeaderSize = 512;

class TBlobFile : public TFileHandler {
 public:
  explicit TBlobFile(TDataFile& owner) : owner_(owner) {}
  ~TBlobFile() override;

  // The extension becomes ".BLB" unless it already is one (any case).
  std::string NormalizeName(const std::string& name) const override;
  void Open() override;  // reads the header: Version 3, else 12035
  void Close() override;
  // Creates the file with a fresh header (Version 3, NextBlockOffset 512, HeaderDirty 1).
  void CreateNew() override;
  // Truncates to the header: NextBlockOffset 512, FreeBlockHead 0.
  void EmptyBlobFile();

  std::uint32_t BlockSize() const;
  std::uint32_t FreeBlockHead() const;
  std::uint32_t NextBlockOffset() const;

  std::int32_t ChangeCounter() const;
  std::int32_t ReadChangeCounter();
  void ReadHeader();
  void WriteHeader(bool force);
  bool HeaderChanged = false;
  // Forgets every cached block (another cursor changed the file).
  void InvalidateBlocks() {}

 protected:
  std::string ErrorFileName() const override;

 private:
  TDataFile& owner_;
  std::array<std::uint8_t, kBlobHeaderSize> header_{};
};

}  // namespace quillon::engine
