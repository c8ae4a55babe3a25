// The portable build's backends: no windows, no sound; text through the block stand-in.
#include <thread>

#include "skin/skin_services.h"

namespace quillon::skin {

namespace {
class QuietWindowServices : public TSkinWindowServices {
 public:
  void PostWindowMessage(TSkinWindow, unsigned, std::uintptr_t, std::intptr_t) override {}
  bool IsMaximized(TSkinWindow) override { return false; }
  void ShowError(const std::string&) override {}
  bool DrawFrame(TSkinWindow, const TOmbraBmp&, int, int, bool, TSkinColor) override { return false; }
  void SleepMs(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
class QuietSoundPlayer : public TSkinSoundPlayer {
 public:
  void Play(const std::string&) override {}
  void Stop() override {}
};
}  // namespace

TSkinTextRenderer& DefaultSkinTextRenderer() {
  static TBlockTextRenderer r;
  return r;
}
TSkinWindowServices& DefaultSkinWindowServices() {
  static QuietWindowServices s;
  return s;
}
TSkinSoundPlayer& DefaultSkinSoundPlayer() {
  static QuietSoundPlayer p;
  return p;
}

}  // namespace quillon::skin
