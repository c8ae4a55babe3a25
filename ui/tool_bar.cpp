// Tool bar buttons and their image list (see tool_bar.h).
#include "ui/tool_bar.h"

#include <cstring>

namespace quillon::ui {

TImageStrip::TImageStrip(std::string name, int width, int height)
    : TOwnedObject(std::move(name)), handle_(ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 5, 5)) {}

TImageStrip::~TImageStrip() {
  ImageList_Destroy(handle_);
}

bool TImageStrip::AddResourceBitmap(const char* resourceName) {
  HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), resourceName, IMAGE_BITMAP, 0, 0, 0));
  if (!bitmap) return false;
  ImageList_AddMasked(handle_, bitmap, RGB(255, 0, 255));
  DeleteObject(bitmap);
  return true;
}

TButtonBar::TButtonBar(TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : TWindowControl(parent, std::move(name)) {
  CreateHandle(TOOLBARCLASSNAMEA,
               WS_VISIBLE | WS_TABSTOP | TBSTYLE_FLAT | TBSTYLE_TRANSPARENT | TBSTYLE_TOOLTIPS | CCS_NORESIZE |
                   CCS_NOPARENTALIGN | CCS_NODIVIDER,
               0, "", left, top, width, height);
  SendMessageA(Handle(), TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
}

void TButtonBar::SetImages(TImageStrip* images) {
  SendMessageA(Handle(), TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images->Handle()));
}

TBarButton* TButtonBar::AddButton(std::string name, int imageIndex, std::string hint) {
  buttons_.push_back(std::make_unique<TBarButton>(std::move(name), imageIndex, std::move(hint)));
  TBarButton* button = buttons_.back().get();
  button->Command = nextCommand_++;
  TBBUTTON b = {};
  b.iBitmap = imageIndex;
  b.idCommand = button->Command;
  b.fsState = TBSTATE_ENABLED;
  b.fsStyle = BTNS_BUTTON;
  SendMessageA(Handle(), TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&b));
  return button;
}

void TButtonBar::AddSeparator() {
  TBBUTTON b = {};
  b.iBitmap = 8;  // width of the gap
  b.fsStyle = BTNS_SEP;
  SendMessageA(Handle(), TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&b));
}

int TButtonBar::NextButtonIndex(int from, int step) const {
  const int count = static_cast<int>(SendMessageA(Handle(), TB_BUTTONCOUNT, 0, 0));
  for (int i = from + step; i >= 0 && i < count; i += step) {
    TBBUTTON b = {};
    if (SendMessageA(Handle(), TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&b)) &&
        !(b.fsStyle & BTNS_SEP) && (b.fsState & TBSTATE_ENABLED))
      return i;
  }
  return -1;
}

LRESULT TButtonBar::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // With the focus, the bar's buttons are chosen with the arrow keys (the chosen one shows as hot)
  // and pressed with Enter or Space.
  switch (msg) {
    case WM_GETDLGCODE: {
      LRESULT code = TWindowControl::WndProc(msg, wParam, lParam) | DLGC_WANTARROWS;
      auto* key = reinterpret_cast<const MSG*>(lParam);
      if (key && key->message == WM_KEYDOWN && (key->wParam == VK_RETURN || key->wParam == VK_SPACE))
        code |= DLGC_WANTMESSAGE;
      return code;
    }
    case WM_SETFOCUS:
      if (SendMessageA(Handle(), TB_GETHOTITEM, 0, 0) < 0)
        SendMessageA(Handle(), TB_SETHOTITEM, static_cast<WPARAM>(NextButtonIndex(-1, 1)), 0);
      break;
    case WM_KILLFOCUS:
      SendMessageA(Handle(), TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
      break;
    case WM_KEYDOWN: {
      const int hot = static_cast<int>(SendMessageA(Handle(), TB_GETHOTITEM, 0, 0));
      if (wParam == VK_LEFT || wParam == VK_RIGHT) {
        const int next = NextButtonIndex(hot, wParam == VK_LEFT ? -1 : 1);
        if (next >= 0) SendMessageA(Handle(), TB_SETHOTITEM, static_cast<WPARAM>(next), 0);
        return 0;
      }
      if ((wParam == VK_RETURN || wParam == VK_SPACE) && hot >= 0) {
        TBBUTTON b = {};
        if (SendMessageA(Handle(), TB_GETBUTTON, static_cast<WPARAM>(hot), reinterpret_cast<LPARAM>(&b)))
          if (TBarButton* button = Find(b.idCommand)) button->Click();
        return 0;
      }
      break;
    }
  }
  return TWindowControl::WndProc(msg, wParam, lParam);
}

TBarButton* TButtonBar::Find(int command) const {
  for (const auto& b : buttons_)
    if (b->Command == command) return b.get();
  return nullptr;
}

bool TButtonBar::Notified(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_COMMAND) {
    if (TBarButton* b = Find(LOWORD(wParam))) {
      b->Click();
      result = 0;
      return true;
    }
    return false;
  }
  if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(TBN_GETINFOTIPA)) {
    auto* tip = reinterpret_cast<NMTBGETINFOTIPA*>(lParam);
    if (TBarButton* b = Find(tip->iItem); b && tip->cchTextMax > 0) {
      size_t n = std::min(b->Hint.size(), static_cast<size_t>(tip->cchTextMax - 1));
      std::memcpy(tip->pszText, b->Hint.data(), n);
      tip->pszText[n] = '\0';
    }
    result = 0;
    return true;
  }
  return false;
}

}  // namespace quillon::ui
