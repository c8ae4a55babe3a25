// TIndexFile: the table's index file (<name>.IDX), owned by its TDataFile. This file holds the
// header page with the index descriptors; the B+-tree pages, the page caches, key building and
// the cursor state are added on top of it.
//
// Header page (4,096 bytes, scrambled as a whole with the data seed when the table is
// encrypted):
//   0 i32 ChangeCounter   4 zero   8 u8 Version (3)   9 u32 NextPageOffset (4,096 when new)
//   13 u8 SecondaryIndexCount (0..30)
//   14 33 x 120 descriptor slots: 0 primary, 1..30 secondaries in creation order,
//      31 the deleted-records index "Sys Deleted", 32 reserved (zero)
//   3974 u32 RecordCount   3978 u8 NoPrimaryIndex   3979 u8 HeaderDirty   3980..4095 zero
//
// Index descriptor (120 bytes):
//   0 len+30 IndexName   31 u16 KeyLength   33 u8 Descending   34 u8 CaseInsensitive
//   35 u8 Unique   36 u8 Compression   37 u8 KeyFieldCount   38 16 x u8 FieldDescending
//   54 16 x i16 KeyFields   86 u32 RootPage   90 u32 FreePageHead   94..119 zero
//
// Invariants: the cached header is the file's header as last read or as it will be written;
// HeaderChanged says it differs from the file. Every header write increments ChangeCounter.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/file_handler.h"
#include "engine/table_format.h"

namespace quillon::engine {

class TDataFile;

inline constexpr int kIndexPageSize = 4096;
inline constexpr int kIndexDescriptorSize = 120;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kDeletedIndexSlot = 31;
inline constexpr int kMaxKeyFields = 16;
inline constexpr int kMaxKeyLength = 1036;
inline constexpr char kDeletedIndexName[] = "Sys Deleted";

struct TIndexDescriptor {
  std::string IndexName;
  std::uint16_t KeyLength = 0;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool Unique = false;
  std::uint8_t Compression = 0;
  std::uint8_t KeyFieldCount = 0;
  std::array<std::uint8_t, kMaxKeyFields> FieldDescending{};
  std::array<std::int16_t, kMaxKeyFields> KeyFields{};
  std::uint32_t RootPage = 0;
  std::uint32_t FreePageHead = 0;

  static TIndexDescriptor Decode(const std::uint8_t* bytes);
  void Encode(std::uint8_t* bytes) const;
};

class TIndexFile : public TFileHandler {
 public:
  explicit TIndexFile(TDataFile& owner) : owner_(owner) {}
  ~TIndexFile() override;

  // The extension becomes ".IDX" unless it already is one (any case).
  std::string NormalizeName(const std::string& name) const override;
  // Reads the header (Version 3, else 12035).
  void Open() override;
  void Close() override;
  // Creates the file with a fresh header in memory (Version 3, NextPageOffset 4,096, slot 31
  // "Sys Deleted" with KeyLength 5, HeaderDirty 1); nothing is written until a write-back.
  void CreateNew() override;

  // Checks an index descriptor against the table's fields and the secondary names already
  // present, fills in KeyLength and KeyFieldCount, and raises the index errors (9487, 10010,
  // 10022, 10023, 10026, 10027, 12292) naming the table's data file.
  static TIndexDescriptor CheckDescriptor(const TIndexDescriptor& descriptor, bool primary, bool allowEmptyPrimary,
                                          const std::vector<TFieldDescriptor>& fields,
                                          const std::vector<std::string>& secondaryNames,
                                          const std::string& dataFileName);
  void AddPrimaryIndex(const TIndexDescriptor& descriptor, bool allowEmpty);  // exclusive only (10253)
  void AddSecondaryIndex(const TIndexDescriptor& descriptor);                 // exclusive only (10253)
  void EmptyIndexFile();

  int IndexCount() const { return header_[13]; }
  TIndexDescriptor GetIndexDescriptor(int number) const;  // 0..31
  bool NoPrimaryIndex() const { return header_[3978] == 1; }
  std::uint32_t RecordCount() const;
  void SetRecordCount(std::uint32_t count);
  std::uint32_t NextPageOffset() const;

  // Header I/O and change detection.
  std::int32_t ChangeCounter() const;
  std::int32_t ReadChangeCounter();  // the counter in the file now
  void ReadHeader();
  void WriteHeader(bool force);
  bool HeaderChanged = false;
  // Forgets every cached page (another cursor changed the file).
  void InvalidatePages() {}

 protected:
  std::string ErrorFileName() const override;

 private:
  void PutDescriptor(int slot, const TIndexDescriptor& descriptor);
  TDataFile& owner_;
  std::array<std::uint8_t, kIndexPageSize> header_{};
};

}  // namespace quillon::engine
