// The keys that move between controls, as a dialog box offers them, for every form of ours.
//
// The Tab order is the order in which controls were created, walked depth first (a panel's or
// group box's controls come where the panel was created). Windows' own dialog navigation walks the
// z-order instead, which our forms reverse on purpose (a later control covers an earlier one), so
// the walk is ours. A control is a stop when it is visible, enabled and has WS_TABSTOP.
#pragma once

#include <windows.h>

#include <vector>

#include "ui/control.h"

namespace quillon::ui {

// Every Tab stop under root, in Tab order.
std::vector<TWindowControl*> TabStops(const TWindowControl& root);

// The stop after (or before) from; the first (or last) one when from is not a stop. nullptr when
// root holds no stop.
TWindowControl* NextTabStop(const TWindowControl& root, HWND from, bool backward);

// Offers an Alt+character to the visible, enabled controls under root in Tab order
// (kDialogCharMessage); true when one of them took it.
bool OfferAccessKey(const TWindowControl& root, char ch);

// True when the window under the focus asks for this key itself (WM_GETDLGCODE), as edits do for
// arrows and multi-line edits for Enter.
bool WantsKey(HWND focus, const MSG& msg);

// True for push buttons, which Enter clicks when they have the focus.
bool IsPushButton(HWND window);

}  // namespace quillon::ui
