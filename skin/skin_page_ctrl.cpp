// Skinned page control painting (see skin_page_ctrl.h).
#include "skin/skin_page_ctrl.h"

#include <commctrl.h>

#include "skin/skin_engine.h"

namespace quillon::skin {

namespace {

// Horizontal padding of a tab on each side of its caption (the platform's default is 6), and the
// vertical padding, which stays the platform's.
constexpr int kPlainTabPadding = 6;
constexpr int kSkinnedTabPadding = 12;
constexpr int kTabVerticalPadding = 3;

TscSkinObject* SkinPageTree(const TscSkinEngine* engine) {
  if (!engine || !engine->Source()) return nullptr;
  TscSkinObject* tree = engine->Source()->FindObject(TSkinKind::PageControl);
  return tree && tree->ChildCount() > 0 ? tree : nullptr;
}

}  // namespace

void TscPageControl::SetSkinEngine(TscSkinEngine* engine) {
  engine_ = engine;
  if (engine_) SendMessageA(Handle(), kSkinChangedMessage, 0, 0);
}

bool TscPageControl::Skinned() const {
  return SkinPageTree(engine_) != nullptr;
}

void TscPageControl::SkinChanged() {
  if (TscSkinObject* tree = SkinPageTree(engine_)) {
    auto copy = tree->CreateNew();
    copy->Assign(*tree);
    if (TscSkinObject* client = copy->FindKind(TSkinKind::PageControlClient))
      SetColor(static_cast<ui::TColorRef>(client->Color & 0xFFFFFF));
    tree_ = std::move(copy);
  } else {
    tree_ = std::make_unique<TscSkinObject>();
  }
  // The skin draws the captions with its own text renderer, a few pixels wider than the control
  // measures them: a caption without blanks around it ("Select Artist") would lose its ends. The
  // tabs get more room on each side while skinned; setting the font again lays them out anew.
  const int padding = Skinned() ? kSkinnedTabPadding : kPlainTabPadding;
  SendMessageA(Handle(), TCM_SETPADDING, 0, MAKELPARAM(padding, kTabVerticalPadding));
  SendMessageA(Handle(), WM_SETFONT, SendMessageA(Handle(), WM_GETFONT, 0, 0), FALSE);
  Invalidate();
}

void TscPageControl::PaintTab(TOmbraBmp& canvas, int index, bool active, const TSkinRect& rect) {
  const bool enabled = Enabled();
  bool first = true;
  tree_->ForEach([&](TscSkinObject& o) {
    o.Enabled = enabled;
    if (first) {  // the tree's top object is the page control itself
      first = false;
      o.Visible = true;
      return;
    }
    const bool visible = o.Conditions.test(scAlways) || (active && o.Conditions.test(scTabActive)) ||
                         (!active && o.Conditions.test(scTabNoActive));
    o.SetVisible(visible);
  });
  TscSkinObject* tab = tree_->FindKind(TSkinKind::PageControlTab);
  if (!tab) return;
  const ui::TTextFont& font = Font();
  tab->Font.name = font.name;
  tab->Font.size = font.size;
  tab->Font.bold = font.bold;
  tab->SetText(TabCaption(index));
  tab->SetBounds(rect);
  tab->Paint(canvas);
}

void TscPageControl::PaintSkinned(TOmbraBmp& canvas) {
  RECT display;
  GetClientRect(Handle(), &display);
  SendMessageA(Handle(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  if (TscSkinObject* client = tree_->FindKind(TSkinKind::PageControlClient)) {
    client->SetBounds({display.left - 4, display.top - 5, display.right + 4, display.bottom + 4});
    client->Paint(canvas);
  }
  const int current = ActivePageIndex();
  const int count = static_cast<int>(SendMessageA(Handle(), TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    RECT r;
    if (!SendMessageA(Handle(), TCM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r))) continue;
    PaintTab(canvas, i, i == current, {r.left, r.top, r.right, r.bottom + 1});
  }
}

void TscPageControl::EraseWithParent(HDC dc) {
  ui::TWindowControl* parent = Parent();
  if (!parent) return;
  RECT pr;
  GetClientRect(parent->Handle(), &pr);
  if (pr.right <= 0 || pr.bottom <= 0) return;
  TOmbraBmp back(pr.right, pr.bottom);
  HDC backDc = static_cast<HDC>(MemoryDc(back));
  if (!backDc) return;
  SendMessageA(parent->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(backDc), 0);
  BitBlt(dc, -Left(), -Top(), pr.right, pr.bottom, backDc, 0, 0, SRCCOPY);
}

LRESULT TscPageControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kSkinChangedMessage) {
    SkinChanged();
    return 0;
  }
  if (Skinned()) {
    if (msg == WM_ERASEBKGND) {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const bool own = dc == nullptr;
      if (own) dc = GetDC(Handle());
      EraseWithParent(dc);
      if (own) ReleaseDC(Handle(), dc);
      return 0;
    }
    if (msg == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      const int saved = SaveDC(dc);
      RECT cr;
      GetClientRect(Handle(), &cr);
      if (cr.right > 0 && cr.bottom > 0) {
        TOmbraBmp canvas(cr.right, cr.bottom);
        if (HDC canvasDc = static_cast<HDC>(MemoryDc(canvas))) {
          EraseWithParent(canvasDc);
          GdiFlush();
          PaintSkinned(canvas);
          BitBlt(dc, 0, 0, cr.right, cr.bottom, canvasDc, 0, 0, SRCCOPY);
        }
      }
      RestoreDC(dc, saved);
      EndPaint(Handle(), &ps);
      return 0;
    }
  }
  return ui::TTabbedPages::WndProc(msg, wParam, lParam);
}

}  // namespace quillon::skin
