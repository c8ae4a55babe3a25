// The main window's page host `web`: a page host (web/page_host.h) in a small control of the
// window. The control shows the loaded page's text, so that whoever keeps it in front (Ctrl held
// when the window is first shown) can watch the pages as they load; the window normally keeps it
// behind its client panel.
//
// The host's notifications arrive as the control's events, on the user-interface thread.
#pragma once

#include <functional>
#include <string>

#include "ui/control.h"
#include "web/page_host.h"

namespace quillon::app {

class TPageHostView : public ui::TWindowControl {
 public:
  TPageHostView(ui::TWindowControl* parent, std::string name, int left, int top, int width, int height);

  // Loads an address; one that is blank after trimming does nothing. Tag (the page purpose) is
  // the caller's to set before.
  void Navigate(const std::string& address) { host_.Navigate(address); }
  std::string DocumentBodyText() const { return host_.DocumentBodyText(); }

  std::function<void(ui::TOwnedObject& sender, int progress, int progressMax)> OnProgressChange;
  std::function<void(ui::TOwnedObject& sender, bool& cancel)> OnNewWindow2;
  std::function<void(ui::TOwnedObject& sender, const std::string& address)> OnDocumentComplete;

 private:
  web::TPageHost host_;
};

}  // namespace quillon::app
