// Test support: bitmaps, BMP files and packages built in memory, and backends that record what the
// skin objects ask of the platform.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "skin/ombra_bmp.h"
#include "skin/skin_bytes.h"
#include "skin/skin_services.h"
#include "skin/skin_source.h"

namespace quillon::skin::testing {

// A bitmap filled with one colour.
inline TOmbraBmpRef SolidBmp(int w, int h, TSkinColor c, const std::string& name = {}) {
  auto b = TOmbraBmp::Create(w, h);
  b->Fill(c);
  b->Name = name;
  return b;
}

// Each pixel gets its own colour (x, y, 7), so copies and scalings can be traced.
inline TOmbraBmpRef GradientBmp(int w, int h, const std::string& name = {}) {
  auto b = TOmbraBmp::Create(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->SetPixel(x, y, SkinRgb(x, y, 7));
  b->Name = name;
  return b;
}

inline std::string BmpBytes(const TOmbraBmp& b) {
  std::string out;
  b.WriteBmp(out);
  return out;
}

// A package: magic, descriptor, then the given sound and image records as they are.
inline std::string Package(const std::string& descriptor, const std::vector<std::string>& sounds,
                           const std::vector<std::string>& bmpFiles, const std::string& magic = kSkinPackageMagic) {
  std::string out;
  PutRecord(out, magic);
  PutRecord(out, descriptor);
  for (const auto& s : sounds) PutRecord(out, s);
  for (const auto& b : bmpFiles) out += b;
  return out;
}

// A minimal RIFF wave file of n silent 8-bit samples.
inline std::string SilentWave(int n) {
  std::string out = "RIFF";
  PutU32(out, static_cast<std::uint32_t>(36 + n));
  out += "WAVEfmt ";
  PutU32(out, 16);
  PutU16(out, 1);
  PutU16(out, 1);
  PutU32(out, 8000);
  PutU32(out, 8000);
  PutU16(out, 1);
  PutU16(out, 8);
  out += "data";
  PutU32(out, static_cast<std::uint32_t>(n));
  out.append(static_cast<std::size_t>(n), static_cast<char>(0x80));
  return out;
}

struct PostedMessage {
  TSkinWindow window;
  unsigned message;
  std::uintptr_t wParam;
  bool operator==(const PostedMessage&) const = default;
};

// Records messages, error boxes, frames and sleeps; installs itself for its lifetime.
class RecordingWindowServices : public TSkinWindowServices {
 public:
  RecordingWindowServices() { previous_ = SetSkinWindowServices(this); }
  ~RecordingWindowServices() override { SetSkinWindowServices(previous_); }
  void PostWindowMessage(TSkinWindow w, unsigned m, std::uintptr_t wp, std::intptr_t) override {
    posted.push_back({w, m, wp});
  }
  bool IsMaximized(TSkinWindow) override { return maximized; }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  bool DrawFrame(TSkinWindow, const TOmbraBmp& frame, int x, int y, bool transparent, TSkinColor key) override {
    frames.push_back({x, y, frame.Pixel(0, 0), transparent, key, frame.Width(), frame.Height()});
    return hasSurface;
  }
  void SleepMs(unsigned ms) override { sleptMs += ms; }

  struct Frame {
    int x, y;
    TSkinColor firstPixel;
    bool transparent;
    TSkinColor key;
    int w, h;
  };
  std::vector<PostedMessage> posted;
  std::vector<std::string> errors;
  std::vector<Frame> frames;
  unsigned sleptMs = 0;
  bool maximized = false;
  bool hasSurface = true;

 private:
  TSkinWindowServices* previous_ = nullptr;
};

class RecordingSoundPlayer : public TSkinSoundPlayer {
 public:
  RecordingSoundPlayer() { previous_ = SetSkinSoundPlayer(this); }
  ~RecordingSoundPlayer() override { SetSkinSoundPlayer(previous_); }
  void Play(const std::string& bytes) override { played.push_back(bytes); }
  void Stop() override { ++stops; }
  std::vector<std::string> played;
  int stops = 0;

 private:
  TSkinSoundPlayer* previous_ = nullptr;
};

// The block text stand-in, whatever the platform, so widths are known: 6 pixels per character at
// the default 8 points.
class BlockTextScope {
 public:
  BlockTextScope() { previous_ = SetSkinTextRenderer(&renderer_); }
  ~BlockTextScope() { SetSkinTextRenderer(previous_); }

 private:
  TBlockTextRenderer renderer_;
  TSkinTextRenderer* previous_ = nullptr;
};

}  // namespace quillon::skin::testing
