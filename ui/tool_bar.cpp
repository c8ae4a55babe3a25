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
               WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TRANSPARENT | TBSTYLE_TOOLTIPS | CCS_NORESIZE | CCS_NOPARENTALIGN |
                   CCS_NODIVIDER,
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
