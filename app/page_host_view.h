// The main window's page host `web`: a page host (web/page_host.h) in a small control of the
// window. The control shows the loaded page's text, so that whoever keeps it in front (Ctrl held
// when the window is first shown) can watch the pages as they load; the window normally keeps it
// behind its client panel.
//
// The host's notifications arrive as the control's events, on the user-interface thread. Before
// each navigation OnNavigating may bound the page and give the worker its text work (see
// web::TNavigation), decided from the purpose (Tag) set for that page.
#pragma once

#include <cstddef>
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
  void Navigate(const std::string& address);
  // The running navigation's notifications no longer arrive.
  void Stop() { host_.Stop(); }
  std::string DocumentBodyText() const { return host_.DocumentBodyText(); }
  // What the current navigation's text work made of the page (empty without one).
  std::string WorkedText() const { return host_.WorkedText(); }

  // The control shows at most this much of a page's text: a look at the page, not a copy of it.
  static constexpr std::size_t kShownTextLimit = 16 * 1024;

  std::function<void(ui::TOwnedObject& sender, int progress, int progressMax)> OnProgressChange;
  std::function<void(ui::TOwnedObject& sender, bool& cancel)> OnNewWindow2;
  std::function<void(ui::TOwnedObject& sender, const std::string& address)> OnDocumentComplete;
  std::function<void(ui::TOwnedObject& sender, web::TNavigation& navigation)> OnNavigating;

 private:
  web::TPageHost host_;
};

}  // namespace quillon::app
