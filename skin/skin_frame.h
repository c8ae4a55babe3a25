// The rules of a skinned window frame that need no window: which skin objects show in which window
// state, what the frame answers to a hit test, how tall a rolled-up window is, where a menu window
// goes on the screen, and which key opens which menu item. The engine (skin_engine.h) applies them
// to real windows; keeping them here lets them be checked without a display.
#pragma once

#include <string>

#include "skin/skin_objects.h"

namespace quillon::skin {

// The window commands a skin may offer (TscSkinEngine::BorderIcons).
enum TscBorderIcon : unsigned {
  sbSystemMenu = 1,
  sbMinimize = 2,
  sbMaximize = 4,
  sbHelp = 8,
  sbRollup = 16,
  sbClose = 32,
};
using TscBorderIcons = unsigned;
inline constexpr TscBorderIcons kAllBorderIcons = sbSystemMenu | sbMinimize | sbMaximize | sbHelp | sbRollup | sbClose;

// Window state bits of the engine.
enum TFrameStateBit : unsigned {
  kFrameMinimized = 1,  // set on the minimize command, never cleared
  kFrameMaximized = 2,
  kFrameRolledUp = 4,
  kFrameStayOnTop = 8,
  kFrameSizing = 32,  // set at creation, never cleared
};

struct TFrameState {
  unsigned Flags = kFrameSizing;
  bool Active = false;
  TscBorderIcons Icons = kAllBorderIcons;
  bool MainMenuShow = true;
  bool HasMainMenu = false;
};

// Every condition present contributes one truth value; the object shows when all are true.
bool EvaluateConditions(const TSkinConditions& conditions, const TFrameState& state);

// Standard hit-test codes.
inline constexpr int kHitClient = 1, kHitCaption = 2, kHitMinButton = 8;

// The code of the last visible object containing (x, y) in a depth-first walk of form (window
// coordinates); border codes (10..17) become 8 when the window is rolled up or not sizeable.
int FrameHitTest(TscSkinObject& form, int x, int y, bool rolledUpOrFixed);

// The tallest height from 100 down at which client gets no height when form is laid out at width
// (0 when none); form's rectangle is set back afterwards. Minus the menu bar's height when
// subtractMenuBar and there is a menu bar.
int RolledUpHeight(TscSkinObject* form, TscSkinObject* client, TscSkinObject* menuBar, int width, bool subtractMenuBar);

// Where a menu window of size w x h opens. With an empty exclusion (left == right) at (x, y),
// moved back inside the screen's right and bottom edges; a submenu beside its item; a menu-bar
// popup below its item, or above it when it would pass the screen's bottom.
TSkinRect PlaceMenuWindow(int x, int y, int w, int h, const TSkinRect& exclusion, bool submenu,
                          const TSkinRect& screen);

// The character after the last single "&" of a caption ("&&" does not count), upper-cased; 0 when
// none. A lead byte of a double-byte character skips its trail byte (isLeadByte decides).
char MenuAccelerator(const std::string& caption, bool (*isLeadByte)(char) = nullptr);

}  // namespace quillon::skin
