// Event lists and animations, driven step by step with recording platform backends.
#include <gtest/gtest.h>

#include "skin/skin_source.h"
#include "skin/tests/skin_fixtures.h"

namespace quillon::skin {
namespace {

using testing::PostedMessage;
using testing::RecordingSoundPlayer;
using testing::RecordingWindowServices;
using testing::SilentWave;
using testing::SolidBmp;

constexpr unsigned kSysCommand = 0x0112;
constexpr TSkinWindow kWindow = 0x4242;

class FakeEngine : public TSkinEngineLink {
 public:
  bool CanMinimize() override { return minimize; }
  bool CanMaximize() override { return maximize; }
  bool RolledUp() override { return rolledUp; }
  bool CustomAction(int action) override {
    actions.push_back(action);
    return true;
  }
  bool minimize = true, maximize = true, rolledUp = false;
  std::vector<int> actions;
};

// A source with the images "btn" (blue) and "btn_hot" (green) and the sound "click", and one
// object on a window.
struct Scene {
  RecordingWindowServices window;
  RecordingSoundPlayer sound;
  FakeEngine engine;
  TscSkinSource source;
  std::unique_ptr<TscSkinObject> button = std::make_unique<TscSkinObject>();
  Scene() {
    source.Images.push_back(SolidBmp(4, 4, SkinRgb(0, 0, 200), "btn"));
    source.Images.push_back(SolidBmp(4, 4, SkinRgb(0, 200, 0), "btn_hot"));
    auto wave = std::make_shared<TscWave>();
    wave->Name = "click";
    wave->Data = SilentWave(4);
    source.Sounds.push_back(wave);
    button->Name = "closebtn";
    button->Image = source.Images[0];
    button->SetBounds({10, 5, 14, 9});
    button->SetSource(&source);
    button->SetEngine(&engine);
    button->SetWindowHandle(kWindow);
  }
  void Run(TSkinEvent e, std::vector<std::string> lines) {
    button->EventList(e) = std::move(lines);
    button->RaiseEvent(e);
  }
  // Steps until the chain is done; the number of steps taken.
  int StepToEnd(int limit = 1000) {
    int steps = 0;
    while ((button->Animating || button->ChainRunning) && steps < limit) {
      button->AnimationStep();
      ++steps;
    }
    return steps;
  }
};

TEST(SkinEventsTest, CloseIsPostedAtOnceAndTheNextLineOneStepLater) {
  Scene s;
  s.Run(TSkinEvent::Click, {"close", "play click"});
  EXPECT_EQ(s.window.posted, (std::vector<PostedMessage>{{kWindow, kSysCommand, 0xF060}}));
  EXPECT_TRUE(s.sound.played.empty());
  s.button->AnimationStep();
  EXPECT_EQ(s.sound.played.size(), 1u) << "the second line runs on the next step";
  s.button->AnimationStep();
  EXPECT_FALSE(s.button->ChainRunning);
  EXPECT_FALSE(s.button->Animating);
}

TEST(SkinEventsTest, ChangeImageAppliesAtTheNextStepWithOneFrame) {
  Scene s;
  s.Run(TSkinEvent::Hover, {"changeimage btn_hot"});
  EXPECT_EQ(s.button->Image, s.source.Images[0]) << "nothing changes before the timer ticks";
  EXPECT_TRUE(s.window.frames.empty());
  s.button->AnimationStep();
  EXPECT_EQ(s.button->Image, s.source.Images[1]);
  ASSERT_FALSE(s.window.frames.empty());
  EXPECT_EQ(s.window.frames[0].x, 10);
  EXPECT_EQ(s.window.frames[0].y, 5);
  EXPECT_EQ(s.window.frames[0].firstPixel, SkinRgb(0, 200, 0)) << "the frame shows the new look";
  EXPECT_FALSE(s.button->ChainRunning);
}

TEST(SkinEventsTest, ChangeImageWithAPartMakesAPrivateCopy) {
  Scene s;
  s.Run(TSkinEvent::Hover, {"changeimage btn_hot 0 0 1 1"});
  s.StepToEnd();
  ASSERT_TRUE(s.button->Image);
  EXPECT_EQ(s.button->Image->Width(), 2);
  EXPECT_NE(s.button->Image, s.source.Images[1]);
}

TEST(SkinEventsTest, FadeColorReachesRedInAboutTenSteps) {
  Scene s;
  s.button->Image.reset();
  s.button->Color = SkinRgb(0, 0, 0);
  s.Run(TSkinEvent::Hover, {"fadecolor 255 0 0 200"});
  EXPECT_TRUE(s.button->Animating);
  const int steps = s.StepToEnd();
  EXPECT_GE(steps, 2);
  EXPECT_LE(steps, 11);
  EXPECT_EQ(s.button->Color, SkinRgb(255, 0, 0));
  ASSERT_GE(s.window.frames.size(), 3u);
  // The frames pass from the old colour towards red.
  const int firstRed = RedOf(s.window.frames[1].firstPixel);
  const int lastRed = RedOf(s.window.frames.back().firstPixel);
  EXPECT_GT(firstRed, 0);
  EXPECT_LT(firstRed, 255);
  EXPECT_EQ(lastRed, 255);
}

TEST(SkinEventsTest, SlideImageEntersFromTheChosenSide) {
  Scene s;
  s.Run(TSkinEvent::Hover, {"slideimage btn_hot 0 0 3 3 100 righttoleft"});
  EXPECT_EQ(s.button->AnimationKind, 4);
  EXPECT_EQ(s.button->Direction, 1);
  s.StepToEnd();
  EXPECT_EQ(s.button->Image->Pixel(0, 0), SkinRgb(0, 200, 0));
}

TEST(SkinEventsTest, LinesAfterAFadeRunBeforeItStarts) {
  Scene s;
  s.button->Image.reset();
  s.Run(TSkinEvent::Click, {"fadecolor 255 0 0 100", "close"});
  EXPECT_EQ(s.window.posted.size(), 1u) << "the fade's line completes at once, so the chain goes on";
  EXPECT_TRUE(s.button->Animating);
  s.StepToEnd();
  EXPECT_EQ(s.button->Color, SkinRgb(255, 0, 0));
}

TEST(SkinEventsTest, BlankAfterSemicolonDoesNothing) {
  Scene s;
  s.Run(TSkinEvent::Click, {"play click", " close"});
  s.StepToEnd();
  EXPECT_EQ(s.sound.played.size(), 1u);
  EXPECT_TRUE(s.window.posted.empty()) << "the line ' close' has an empty verb";
  EXPECT_TRUE(s.window.errors.empty());
}

TEST(SkinEventsTest, ErrorsNameTheObjectAndTheLine) {
  struct Case {
    std::string line;
  } cases[] = {{"fadeimage img 500"},
               {"fadecolor 255 0 x 100"},
               {"changecolor 1 2"},
               {"action seven"},
               {"slideimage btn 0 0 3 3"}};
  for (const auto& c : cases) {
    Scene s;
    s.Run(TSkinEvent::Click, {c.line, "close"});
    ASSERT_EQ(s.window.errors.size(), 1u) << c.line;
    EXPECT_EQ(s.window.errors[0], "Object closebtn: error in line \"" + c.line + "\"");
    s.StepToEnd();
    EXPECT_EQ(s.window.posted.size(), 1u) << "the chain continues on the next step: " << c.line;
  }
}

TEST(SkinEventsTest, WindowCommandsFollowTheEngine) {
  struct Case {
    const char* what;
    std::string line;
    bool minimize, maximize, rolledUp, maximized;
    std::vector<PostedMessage> expected;
  } cases[] = {
      {"min allowed", "min", true, true, false, false, {{kWindow, kSysCommand, 0xF020}}},
      {"min not in BorderIcons", "min", false, true, false, false, {}},
      {"max of a normal window", "max", true, true, false, false, {{kWindow, kSysCommand, 0xF030}}},
      {"max of a maximized window restores", "MAX", true, true, false, true, {{kWindow, kSysCommand, 0xF120}}},
      {"max while rolled up", "max", true, true, true, false, {}},
      {"max not in BorderIcons", "max", true, false, false, false, {}},
      {"help", "help", true, true, false, false, {{kWindow, kSysCommand, 0xF180}}},
      {"rollup", "rollup", true, true, false, false, {{kWindow, 1129, 0}}},
      {"stayontop", "stayontop", true, true, false, false, {{kWindow, 1130, 0}}},
      {"sysmenu", "sysmenu", true, true, false, false, {{kWindow, 1132, 0}}},
      {"move", "move", true, true, false, false, {{kWindow, kSysCommand, 0xF010}}},
      {"size", "size", true, true, false, false, {{kWindow, kSysCommand, 0xF000}}},
      {"unknown verb", "dance", true, true, false, false, {}},
  };
  for (const auto& c : cases) {
    Scene s;
    s.engine.minimize = c.minimize;
    s.engine.maximize = c.maximize;
    s.engine.rolledUp = c.rolledUp;
    s.window.maximized = c.maximized;
    s.Run(TSkinEvent::Click, {c.line});
    EXPECT_EQ(s.window.posted, c.expected) << c.what;
  }
  Scene s;
  s.Run(TSkinEvent::RightClick, {"action 7"});
  EXPECT_EQ(s.engine.actions, std::vector<int>{7});
}

TEST(SkinEventsTest, NewEventCompletesTheRunningOne) {
  Scene s;
  s.button->Image.reset();
  s.Run(TSkinEvent::Hover, {"fadecolor 0 0 255 400"});
  s.button->AnimationStep();
  s.Run(TSkinEvent::Leave, {"changecolor 9 9 9"});
  EXPECT_EQ(s.button->Color, SkinRgb(0, 0, 255)) << "the fade jumped to its end";
  s.StepToEnd();
  EXPECT_EQ(s.button->Color, SkinRgb(9, 9, 9));
}

TEST(SkinEventsTest, InvisibleOrUnattachedObjectsAndMissingImages) {
  Scene s;
  s.button->Visible = false;
  s.Run(TSkinEvent::Click, {"close"});
  EXPECT_TRUE(s.window.posted.empty()) << "an invisible object runs no events";
  s.button->Visible = true;
  s.Run(TSkinEvent::Hover, {"changeimage nothing"});
  s.StepToEnd();
  EXPECT_EQ(s.button->Image, s.source.Images[0]) << "an unknown image changes nothing";
  s.button->SetSource(nullptr);
  s.Run(TSkinEvent::Hover, {"changecolor 1 1 1", "play click"});
  s.StepToEnd();
  EXPECT_EQ(s.button->Color, kSkinBlack);
  EXPECT_TRUE(s.sound.played.empty());
}

TEST(SkinEventsTest, FinishAnimationSleepsTenMillisecondsPerStep) {
  Scene s;
  s.button->Image.reset();
  s.Run(TSkinEvent::Hover, {"fadecolor 255 255 255 100"});
  s.button->FinishAnimation();
  EXPECT_FALSE(s.button->Animating);
  EXPECT_EQ(s.button->Color, kSkinWhite);
  EXPECT_GE(s.window.sleptMs, 10u);
  EXPECT_EQ(s.window.sleptMs % 10, 0u);
}

TEST(SkinEventsTest, WindowWithoutDrawingContextEndsTheAnimation) {
  Scene s;
  s.window.hasSurface = false;
  s.button->Image.reset();
  s.Run(TSkinEvent::Hover, {"fadecolor 255 0 0 1000"});
  s.button->AnimationStep();
  EXPECT_FALSE(s.button->Animating);
  EXPECT_EQ(s.button->Color, SkinRgb(255, 0, 0));
}

TEST(SkinSoundTest, DestroyingThePlayingSoundStopsIt) {
  RecordingSoundPlayer player;
  {
    TscWave wave;
    wave.Data = SilentWave(3);
    wave.Play();
    EXPECT_EQ(PlayingWave(), &wave);
    EXPECT_EQ(player.played.back(), SilentWave(3));
  }
  EXPECT_EQ(player.stops, 1);
  EXPECT_EQ(PlayingWave(), nullptr);
}

}  // namespace
}  // namespace quillon::skin

namespace quillon::skin {
namespace {

TEST(SkinAnimationWalkTest, StepsChosenLiveObjectsAndSkipsFreedOnes) {
  testing::RecordingWindowServices window;
  TscSkinObject item, other;
  item.Kind = TSkinKind::PopupMenuItem;
  auto doomed = std::make_unique<TscSkinObject>();
  for (TscSkinObject* o : {&item, &other, doomed.get()}) {
    o->Transparency = 0;
    o->EventList(TSkinEvent::Hover) = {"close", "help"};
    o->RaiseEvent(TSkinEvent::Hover);
  }
  // Deciding on "other" frees "doomed" before the walk reaches it, as a custom action might.
  window.posted.clear();
  TscSkinObject* doomedRaw = doomed.get();
  std::size_t stepped = 0;
  AdvanceSkinAnimations([&](const TscSkinObject& o) {
    if (&o == &other) doomed.reset();
    if (&o == doomedRaw) ADD_FAILURE() << "a freed object was offered";
    if (o.Kind == TSkinKind::PopupMenuItem) return false;
    ++stepped;
    return true;
  });
  EXPECT_EQ(stepped, 1u);
  EXPECT_EQ(window.posted.size(), 1u) << "only the stepped object went on to its next line (help)";
  EXPECT_EQ(window.posted[0].wParam, 0xF180u);
  EXPECT_TRUE(item.ChainRunning) << "left out by the filter";
}

}  // namespace
}  // namespace quillon::skin
