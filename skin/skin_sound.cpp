#include "skin/skin_sound.h"

#include "skin/skin_bytes.h"
#include "skin/skin_services.h"
#include "util/platform.h"

namespace quillon::skin {

namespace {
const TscWave* playing = nullptr;
}

const TscWave* PlayingWave() {
  return playing;
}

TscWave::~TscWave() {
  if (playing == this) {
    SkinSoundPlayer().Stop();
    playing = nullptr;
  }
}

void TscWave::LoadFromFile(const std::string& path) {
  std::string data;
  if (!platform::ReadWholeFile(path, data)) throw ESkinError("cannot read " + path);
  Data = std::move(data);
}

void TscWave::ReadRecord(const std::string& data, std::size_t& pos) {
  TByteReader in(data, pos);
  Data = in.Record();
  pos = in.Position();
}

void TscWave::SaveToFile(const std::string& path) const {
  if (!platform::WriteWholeFile(path, Data)) throw ESkinError("cannot write " + path);
}

void TscWave::WriteRecord(std::string& out) const {
  PutRecord(out, Data);
}

void TscWave::Play() {
  playing = this;
  SkinSoundPlayer().Play(Data);
}

}  // namespace quillon::skin
