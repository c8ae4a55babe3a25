// The page host control (see page_host_view.h).
#include "app/page_host_view.h"

namespace quillon::app {

TPageHostView::TPageHostView(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height)
    : ui::TWindowControl(parent, std::move(name)) {
  CreateHandle("EDIT", WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, "", left,
               top, width, height);
  host_.OnProgressChange = [this](int progress, int progressMax) {
    if (OnProgressChange) OnProgressChange(*this, progress, progressMax);
  };
  host_.OnNewWindow2 = [this](bool& cancel) {
    if (OnNewWindow2) OnNewWindow2(*this, cancel);
  };
  host_.OnDocumentComplete = [this](const std::string& address, bool top) {
    if (top) SetCaption(host_.DocumentBodyText().substr(0, kShownTextLimit));
    if (OnDocumentComplete) OnDocumentComplete(*this, address);
  };
}

void TPageHostView::Navigate(const std::string& address) {
  web::TNavigation navigation;
  if (OnNavigating) OnNavigating(*this, navigation);
  host_.Navigate(address, std::move(navigation));
}

}  // namespace quillon::app
