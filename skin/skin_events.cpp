// Event lists and animations of skin objects.
//
// An event list is a chain of action lines. RunActionLine starts one line and marks the object
// Animating; AnimationStep (the engine's 10 ms timer, a menu window's 20 ms timer, or
// FinishAnimation) advances it, applies its final value when it is complete and starts the next
// line. A line without a visual effect therefore completes on the first step after it ran, a
// change on the step that draws it, and a fade or slide of ms milliseconds after about ms / 20
// steps, because each step advances by its own drawing time plus 20 ms.
#include <cmath>

#include "skin/ombra_counter.h"
#include "skin/skin_objects.h"
#include "skin/skin_source.h"

namespace quillon::skin {

namespace {

constexpr unsigned kSysCommand = 0x0112;  // WM_SYSCOMMAND
constexpr unsigned kScClose = 0xF060, kScMinimize = 0xF020, kScMaximize = 0xF030, kScRestore = 0xF120,
                   kScContextHelp = 0xF180, kScMove = 0xF010, kScSize = 0xF000;
// The engine's private messages: roll-up toggle, stay-on-top toggle, system menu.
constexpr unsigned kRollupMessage = 1129, kStayOnTopMessage = 1130, kSysMenuMessage = 1132;

enum TAnimationKind {
  kAnimationNone,
  kAnimationChangeImage,
  kAnimationChangeColor,
  kAnimationChangeTextColor,
  kAnimationSlideImage,
  kAnimationSlideColor,
  kAnimationSlideTextColor,
  kAnimationFadeImage,
  kAnimationFadeColor,
  kAnimationFadeTextColor
};

bool IsImageKind(int k) {
  return k == kAnimationChangeImage || k == kAnimationSlideImage || k == kAnimationFadeImage;
}
bool IsColorKind(int k) {
  return k == kAnimationChangeColor || k == kAnimationSlideColor || k == kAnimationFadeColor;
}
bool IsTextColorKind(int k) {
  return k == kAnimationChangeTextColor || k == kAnimationSlideTextColor || k == kAnimationFadeTextColor;
}

int RequiredInt(const std::vector<std::string>& tokens, std::size_t at) {
  int v = 0;
  if (at >= tokens.size() || !ParseSkinInt(tokens[at], v)) throw ESkinError("number expected");
  return v;
}

int DirectionWord(const std::vector<std::string>& tokens, std::size_t at) {
  if (at >= tokens.size()) return 0;
  const std::string w = LowerAscii(tokens[at]);
  if (w == "righttoleft") return 1;
  if (w == "toptobottom") return 2;
  if (w == "bottomtotop") return 3;
  return 0;  // "leftotright" and any other word
}

// System colours (high byte set) become their plain RGB value; skin colours are plain already.
TSkinColor PlainRgb(TSkinColor c) {
  return c & 0xFFFFFF;
}

}  // namespace

void TscSkinObject::RaiseEvent(TSkinEvent e) {
  RunEvent(JoinLines(EventList(e)));
}

void TscSkinObject::RunEvent(const std::string& listText) {
  if (!Visible || listText.empty() || Destroying) return;
  if (Animating) {
    ChainRunning = true;
    Animating = false;
    AnimationStep();
  }
  if (ChainRunning) {
    Animating = false;
    AnimationStep();
  }
  if (Destroying) return;
  ChainLines = SplitLines(listText);
  AnimationKind = kAnimationNone;
  ChainRunning = true;
  if (ChainLines.empty()) ChainLines.push_back({});
  RunActionLine(ChainLines.front());
}

void TscSkinObject::StartTransition(int kind, int ms) {
  if (!Visible) return;
  // The line that starts the transition completes here first, so the rest of its chain runs
  // before the transition is set up.
  const TOmbraBmpRef image = TargetImage;
  const TSkinColor color = TargetColor;
  const int direction = Direction;
  FinishAnimation();
  Duration = ms;
  Elapsed = 0;
  LastElapsed = 0;
  Animating = true;
  AnimationKind = kind;
  TargetImage = image;
  TargetColor = color;
  Direction = direction;
}

void TscSkinObject::RunActionLine(const std::string& line) {
  TargetImage.reset();
  TargetColor = 0;
  Direction = 0;
  AnimationKind = kAnimationNone;
  Animating = true;
  Duration = 0;
  Elapsed = 0;
  try {
    const std::vector<std::string> tokens = SkinTokens(line);
    if (tokens.empty()) return;
    const std::string verb = LowerAscii(tokens[0]);
    auto& window = SkinWindowServices();
    auto post = [&](unsigned message, std::uintptr_t wParam) {
      window.PostWindowMessage(WindowHandle, message, wParam, 0);
    };
    // An image verb with an unknown image, and any verb needing Source on an object without one,
    // leaves the object as it is.
    auto partOf = [&](std::size_t first) -> TOmbraBmpRef {
      for (std::size_t i = first + 1; i <= first + 4; ++i) RequiredInt(tokens, i);
      return Source ? Source->ImageReference(tokens, first) : nullptr;
    };
    if (verb == "changeimage") {
      if (!Source) return;
      Duration = 1;
      TargetImage = Source->ImageReference(tokens, 1);
      if (TargetImage) AnimationKind = kAnimationChangeImage;
    } else if (verb == "changecolor" || verb == "changetextcolor") {
      const TSkinColor c = PlainRgb(ParseSkinColor(tokens, 1));
      if (!Source) return;
      Duration = 1;
      TargetColor = c;
      AnimationKind = verb == "changecolor" ? kAnimationChangeColor : kAnimationChangeTextColor;
    } else if (verb == "fadeimage" || verb == "slideimage") {
      const TOmbraBmpRef part = partOf(1);
      const int ms = RequiredInt(tokens, 6);
      if (!part) return;
      TargetImage = part;
      if (verb == "slideimage") Direction = DirectionWord(tokens, 7);
      StartTransition(verb == "fadeimage" ? kAnimationFadeImage : kAnimationSlideImage, ms);
    } else if (verb == "fadecolor" || verb == "fadetextcolor" || verb == "slidecolor" || verb == "slidetextcolor") {
      TargetColor = PlainRgb(ParseSkinColor(tokens, 1));
      const int ms = RequiredInt(tokens, 4);
      int kind = kAnimationFadeColor;
      if (verb == "fadetextcolor") kind = kAnimationFadeTextColor;
      if (verb == "slidecolor") kind = kAnimationSlideColor;
      if (verb == "slidetextcolor") kind = kAnimationSlideTextColor;
      if (kind == kAnimationSlideColor || kind == kAnimationSlideTextColor) Direction = DirectionWord(tokens, 5);
      StartTransition(kind, ms);
    } else if (verb == "play") {
      if (Source && tokens.size() > 1)
        if (auto sound = Source->FindSound(tokens[1])) sound->Play();
    } else if (verb == "close") {
      post(kSysCommand, kScClose);
    } else if (verb == "min") {
      if (Engine && Engine->CanMinimize()) post(kSysCommand, kScMinimize);
    } else if (verb == "max") {
      if (Engine && !Engine->RolledUp() && Engine->CanMaximize())
        post(kSysCommand, window.IsMaximized(WindowHandle) ? kScRestore : kScMaximize);
    } else if (verb == "help") {
      post(kSysCommand, kScContextHelp);
    } else if (verb == "rollup") {
      post(kRollupMessage, 0);
    } else if (verb == "stayontop") {
      post(kStayOnTopMessage, 0);
    } else if (verb == "sysmenu") {
      post(kSysMenuMessage, 0);
    } else if (verb == "move") {
      post(kSysCommand, kScMove);
    } else if (verb == "size") {
      post(kSysCommand, kScSize);
    } else if (verb == "action") {
      const int n = RequiredInt(tokens, 1);
      if (Engine) Engine->CustomAction(n);
    }
  } catch (const std::exception&) {
    SkinWindowServices().ShowError("Object " + Name + ": error in line \"" + line + "\"");
  }
}

void TscSkinObject::AnimationStep() {
  if (!ChainRunning && !Animating) return;
  if (Animating) {
    const TOmbraCounter counter;
    DrawAnimationFrame();
    LastElapsed = Elapsed;
    const long long next = static_cast<long long>(Elapsed) + std::lround(counter.Seconds() * 1000.0f) + 20;
    Elapsed = static_cast<int>(next < Duration ? next : Duration);
    if (Elapsed >= Duration) Animating = false;
  }
  if (Animating) return;
  if (IsColorKind(AnimationKind)) Color = TargetColor;
  if (IsTextColorKind(AnimationKind)) TextColor = TargetColor;
  if (IsImageKind(AnimationKind)) Image = TargetImage;
  DrawAnimationFrame();
  AnimationKind = kAnimationNone;
  if (ChainLines.size() < 2) {
    ChainRunning = false;
  } else {
    ChainLines.erase(ChainLines.begin());
    RunActionLine(ChainLines.front());
  }
}

void TscSkinObject::FinishAnimation() {
  while (Animating) {
    AnimationStep();
    SkinWindowServices().SleepMs(10);
  }
}

void TscSkinObject::DrawAnimationFrame() {
  if (!WindowHandle || Duration == LastElapsed || Width <= 0 || Height <= 0) return;
  if (Width > kMaxBitmapSide || Height > kMaxBitmapSide || static_cast<std::int64_t>(Width) * Height > kMaxBitmapPixels)
    return;
  TOmbraBmp canvas(Width, Height);
  if (MaskColor != kSkinBlack) canvas.Fill(MaskColor);
  const TOmbraBmpRef savedImage = Image;
  const TSkinColor savedColor = Color, savedTextColor = TextColor;
  const int savedLeft = Left, savedTop = Top;
  Left = Top = 0;
  Paint(canvas);
  TOmbraBmp from(canvas);
  if (IsImageKind(AnimationKind)) Image = TargetImage;
  if (IsColorKind(AnimationKind)) Color = TargetColor;
  if (IsTextColorKind(AnimationKind)) TextColor = TargetColor;
  Paint(canvas);
  const TOmbraBmp to(canvas);
  Left = savedLeft;
  Top = savedTop;
  Image = savedImage;
  Color = savedColor;
  TextColor = savedTextColor;
  TOmbraBmp frame(to);
  const double t = Duration > 0 ? static_cast<double>(Elapsed) / Duration : 1.0;
  if (AnimationKind >= kAnimationSlideImage && AnimationKind <= kAnimationSlideTextColor)
    Slide(from, to, Direction, t, frame);
  if (AnimationKind >= kAnimationFadeImage && AnimationKind <= kAnimationFadeTextColor) Blend(from, to, t, frame);
  if (!SkinWindowServices().DrawFrame(WindowHandle, frame, Left, Top, MaskColor != kSkinBlack, MaskColor))
    Animating = false;
}

}  // namespace quillon::skin
