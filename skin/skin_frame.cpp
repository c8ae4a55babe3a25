// Frame rules without a window (see skin_frame.h).
#include "skin/skin_frame.h"

#include <cctype>

namespace quillon::skin {

bool EvaluateConditions(const TSkinConditions& c, const TFrameState& s) {
  const bool maximized = (s.Flags & kFrameMaximized) != 0, rolledUp = (s.Flags & kFrameRolledUp) != 0,
             onTop = (s.Flags & kFrameStayOnTop) != 0, sizing = (s.Flags & kFrameSizing) != 0;
  auto has = [&](TSkinCondition k) { return c.test(static_cast<std::size_t>(k)); };
  auto icon = [&](TscBorderIcon i) { return (s.Icons & i) != 0; };
  bool ok = true;
  auto need = [&](TSkinCondition k, bool value) {
    if (has(k) && !value) ok = false;
  };
  need(scNever, false);
  need(scActive, s.Active);
  need(scInactive, !s.Active);
  need(scMaximized, maximized);
  need(scNoMaximized, !maximized);
  need(scRollup, rolledUp);
  need(scNoRollup, !rolledUp);
  need(scStayOnTop, onTop);
  need(scNoStayOnTop, !onTop);
  need(scHelp, icon(sbHelp));
  need(scNoHelp, !icon(sbHelp));
  need(scMax, icon(sbMaximize));
  need(scNoMax, !icon(sbMaximize));
  need(scMin, icon(sbMinimize));
  need(scNoMin, !icon(sbMinimize));
  // "minmax" only ever says yes, "nominmax" only ever says no.
  const bool minOrMax = icon(sbMinimize) || icon(sbMaximize);
  if (has(scNoMinMax) && minOrMax) ok = false;
  need(scSizeable, sizing);
  need(scNoSizeable, !sizing);
  need(scSysMenu, icon(sbSystemMenu));
  need(scNoSysMenu, !icon(sbSystemMenu));
  need(scClose, icon(sbClose));
  need(scNoClose, !icon(sbClose));
  need(scMenuBar, s.MainMenuShow && s.HasMainMenu);
  need(scNoMenuBar, !s.MainMenuShow || !s.HasMainMenu);
  return ok;
}

namespace {

int KindCode(TSkinKind k) {
  switch (k) {
    case TSkinKind::Caption:
    case TSkinKind::Title:
      return kHitCaption;
    case TSkinKind::Top:
      return 12;
    case TSkinKind::Left:
      return 10;
    case TSkinKind::Right:
      return 11;
    case TSkinKind::Bottom:
      return 15;
    case TSkinKind::TopLeft:
      return 13;
    case TSkinKind::TopRight:
      return 14;
    case TSkinKind::BottomLeft:
      return 16;
    case TSkinKind::BottomRight:
      return 17;
    case TSkinKind::MenuBar:
    case TSkinKind::SysButton:
      return kHitMinButton;
    default:
      return 0;
  }
}

}  // namespace

int FrameHitTest(TscSkinObject& form, int x, int y, bool rolledUpOrFixed) {
  int result = kHitClient;
  form.ForEach([&](TscSkinObject& o) {
    if (!o.Visible || !o.GetBounds().Contains(x, y)) return;
    if (const int code = KindCode(o.Kind)) result = code;
  });
  if (rolledUpOrFixed && result >= 10 && result <= 17) result = kHitMinButton;
  return result;
}

int RolledUpHeight(TscSkinObject* form, TscSkinObject* client, TscSkinObject* menuBar, int width,
                   bool subtractMenuBar) {
  if (!form || !client) return 0;
  const TSkinRect saved = form->GetBounds();
  int height = 100;
  for (; height > 0; --height) {
    form->SetBounds({0, 0, width, height});
    if (client->Height <= 0) break;
  }
  form->SetBounds(saved);
  if (subtractMenuBar && menuBar) height -= menuBar->Height;
  return height;
}

TSkinRect PlaceMenuWindow(int x, int y, int w, int h, const TSkinRect& ex, bool submenu, const TSkinRect& screen) {
  int left = x, top = y;
  if (ex.left == ex.right) {
    if (x + w > screen.right) left = x - w;
    if (y + h > screen.bottom) top = y - h;
  } else if (submenu) {
    top = ex.top + h > screen.bottom ? ex.bottom - h : ex.top;
    left = ex.right + w > screen.right ? ex.left - w : ex.right;
  } else {
    top = ex.bottom + h > screen.bottom ? ex.top - h : ex.bottom;
    left = ex.left + w > screen.right ? ex.right - w : ex.left;
  }
  return {left, top, left + w, top + h};
}

char MenuAccelerator(const std::string& caption, bool (*isLeadByte)(char)) {
  char found = 0;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (isLeadByte && isLeadByte(caption[i])) {
      ++i;
      continue;
    }
    if (caption[i] != '&') continue;
    if (i + 1 >= caption.size()) break;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    if (isLeadByte && isLeadByte(caption[i + 1])) continue;  // no double-byte accelerators
    found = static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1])));
  }
  return found;
}

}  // namespace quillon::skin
