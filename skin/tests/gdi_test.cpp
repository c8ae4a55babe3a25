// The Windows backends under Wine: pixel memory shared with GDI, text through GDI, and action
// lines and animations drawn straight onto a real window.
#include <gtest/gtest.h>

#include "skin/skin_source.h"
#include "skin/tests/skin_fixtures.h"
#include "skin/tests/test_window.h"
#include "ui/application.h"
#include "ui/testing/recording_dialogs.h"

namespace quillon::skin {
namespace {

using testing::PumpMessages;
using testing::SolidBmp;
using testing::TestWindow;

TSkinColor WindowPixel(HWND window, int x, int y) {
  HDC dc = GetWindowDC(window);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}

TEST(GdiSurfaceTest, TextIsDrawnIntoThePixelMemory) {
  TOmbraBmp canvas(80, 20);
  ASSERT_NE(MemoryDc(canvas), nullptr);
  canvas.Fill(kSkinWhite);
  TSkinFontSpec font;
  font.name = "MS Sans Serif";
  SkinTextRenderer().PaintText(canvas, {0, 0, 80, 20}, "Hello", font, SkinRgb(200, 0, 0), 3);
  int red = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 80; ++x)
      if (canvas.Pixel(x, y) != kSkinWhite) ++red;
  EXPECT_GT(red, 10) << "glyph pixels landed in the bitmap the pixel operations read";
  const int hello = SkinTextRenderer().TextWidth(font, "Hello");
  EXPECT_GT(hello, 10);
  EXPECT_GT(SkinTextRenderer().TextWidth(font, "Hello, world"), hello);
  EXPECT_EQ(SkinTextRenderer().TextWidth(font, "&Hello"), hello) << "the & prefix takes no room";
}

TEST(GdiSurfaceTest, AnyBitmapHandleBecomesTwentyFourBits) {
  // A 1-bit monochrome bitmap: the first row's first pixel set (white), the rest black.
  const WORD rows[2] = {0x0080, 0x0000};
  HBITMAP mono = CreateBitmap(3, 2, 1, 1, rows);
  auto bmp = TOmbraBmp::FromBitmapHandle(mono);
  DeleteObject(mono);
  ASSERT_EQ(bmp->Width(), 3);
  ASSERT_EQ(bmp->Height(), 2);
  EXPECT_EQ(bmp->Pixel(0, 0), kSkinWhite);
  EXPECT_EQ(bmp->Pixel(1, 0), kSkinBlack);
  EXPECT_EQ(bmp->Pixel(0, 1), kSkinBlack);
  EXPECT_EQ(TOmbraBmp::FromBitmapHandle(nullptr)->Width(), 0);
}

TEST(GdiSurfaceTest, ShortenedTitleFitsItsRectangle) {
  TSkinFontSpec font;
  font.name = "MS Sans Serif";
  const std::string title = "A rather long window caption that cannot fit";
  const std::string shown = TscSkinObject::ShortenText(title, font, 100);
  EXPECT_LE(SkinTextRenderer().TextWidth(font, shown), 100);
  ASSERT_GT(shown.size(), 3u);
  EXPECT_EQ(shown.substr(shown.size() - 3), "...");
  EXPECT_EQ(title.substr(0, shown.size() - 3), shown.substr(0, shown.size() - 3)) << "a prefix of the title";
}

class WindowEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
    source.Images.push_back(SolidBmp(20, 10, SkinRgb(0, 0, 200), "btn"));
    source.Images.push_back(SolidBmp(20, 10, SkinRgb(0, 200, 0), "btn_hot"));
    button = std::make_unique<TscSkinObject>();
    button->Name = "MaxButton";
    button->Image = source.Images[0];
    button->SetBounds({30, 20, 50, 30});
    button->SetSource(&source);
    button->SetWindowHandle(reinterpret_cast<TSkinWindow>(window.Handle()));
    UpdateWindow(window.Handle());
    PumpMessages();
  }
  void TearDown() override { ui::SetUserDialogs(nullptr); }
  void Run(TSkinEvent e, std::vector<std::string> lines) {
    button->EventList(e) = std::move(lines);
    button->RaiseEvent(e);
  }
  ui::testing::RecordingDialogs dialogs;
  TestWindow window;
  TscSkinSource source;
  std::unique_ptr<TscSkinObject> button;
};

TEST_F(WindowEventsTest, CloseReachesTheWindowAndTheNextLineFollowsOneStepLater) {
  Run(TSkinEvent::Click, {"close", "changeimage btn_hot"});
  PumpMessages();
  EXPECT_EQ(window.sysCommands, std::vector<WPARAM>{SC_CLOSE});
  EXPECT_EQ(button->AnimationKind, 0) << "the change has not run yet";
  button->AnimationStep();
  EXPECT_EQ(button->AnimationKind, 1) << "one step later the change line runs";
  EXPECT_EQ(button->Image, source.Images[0]);
  button->AnimationStep();
  EXPECT_EQ(button->Image, source.Images[1]) << "and draws its new look on the step after";
}

TEST_F(WindowEventsTest, ChangeImageDrawsOnTheWindowWithoutARepaint) {
  const int paints = window.paints;
  Run(TSkinEvent::Hover, {"changeimage btn_hot"});
  button->AnimationStep();
  EXPECT_EQ(WindowPixel(window.Handle(), 35, 25), SkinRgb(0, 200, 0)) << "the new look is on the window";
  EXPECT_EQ(WindowPixel(window.Handle(), 29, 25), SkinRgb(255, 255, 255)) << "only the object's rectangle";
  PumpMessages();
  EXPECT_EQ(window.paints, paints) << "the whole window is not repainted";
}

TEST_F(WindowEventsTest, FadeColorPassesThroughMixedColoursToRed) {
  button->Image.reset();
  button->Color = kSkinBlack;
  Run(TSkinEvent::Hover, {"fadecolor 255 0 0 200"});
  int steps = 0;
  bool sawMixed = false;
  while (button->Animating && steps < 100) {
    button->AnimationStep();
    ++steps;
    const int red = RedOf(WindowPixel(window.Handle(), 40, 25));
    if (red > 0 && red < 255) sawMixed = true;
  }
  EXPECT_LE(steps, 11);
  EXPECT_TRUE(sawMixed);
  EXPECT_EQ(button->Color, SkinRgb(255, 0, 0));
  EXPECT_EQ(WindowPixel(window.Handle(), 40, 25), SkinRgb(255, 0, 0));
}

TEST_F(WindowEventsTest, ErrorBoxNamesTheObjectAndTheLine) {
  Run(TSkinEvent::Click, {"fadeimage img 500"});
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], "Object MaxButton: error in line \"fadeimage img 500\"");
}

TEST_F(WindowEventsTest, MaxRestoresAMaximizedWindow) {
  struct Link : TSkinEngineLink {
    bool CanMinimize() override { return true; }
    bool CanMaximize() override { return true; }
    bool RolledUp() override { return false; }
    bool CustomAction(int) override { return false; }
  } link;
  button->SetEngine(&link);
  Run(TSkinEvent::Click, {"max"});
  ShowWindow(window.Handle(), SW_MAXIMIZE);
  Run(TSkinEvent::Click, {"max"});
  PumpMessages();
  EXPECT_EQ(window.sysCommands, (std::vector<WPARAM>{SC_MAXIMIZE, SC_RESTORE}));
}

TEST(SkinSoundWin32Test, PlayingFromMemoryAndDestroyingStops) {
  // Wine may have no sound device; playing must still neither crash nor leave a dangling sound.
  {
    TscWave wave;
    wave.Data = testing::SilentWave(2000);
    wave.Play();
    EXPECT_EQ(PlayingWave(), &wave);
  }
  EXPECT_EQ(PlayingWave(), nullptr);
}

}  // namespace
}  // namespace quillon::skin
