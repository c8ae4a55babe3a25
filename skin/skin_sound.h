// Named sounds of a skin: the complete bytes of one wave file each, played from memory.
// Shared between a source and its copies through std::shared_ptr (the use count is the reference
// count). Destroying the sound that is playing stops it first, so the player never reads freed
// memory.
#pragma once

#include <memory>
#include <string>

namespace quillon::skin {

class TscSound {
 public:
  virtual ~TscSound() = default;
  std::string Name;
  virtual void Play() = 0;
};

class TscWave : public TscSound {
 public:
  TscWave() = default;
  ~TscWave() override;
  TscWave(const TscWave&) = delete;
  TscWave& operator=(const TscWave&) = delete;

  void LoadFromFile(const std::string& path);  // throws ESkinError
  // One record at pos: length N, then N bytes (pos moves past it); throws ESkinError.
  void ReadRecord(const std::string& data, std::size_t& pos);
  void SaveToFile(const std::string& path) const;  // throws ESkinError
  void WriteRecord(std::string& out) const;
  void Play() override;

  std::string Data;  // the whole wave file
};
using TscWaveRef = std::shared_ptr<TscWave>;

// The sound entry playing now, or nullptr.
const TscWave* PlayingWave();

}  // namespace quillon::skin
