// The About dialog: program name, version, the maker and the maker's web site.
#pragma once

#include "skin/skin_engine.h"
#include "ui/form.h"
#include "ui/std_controls.h"
#include "web/external_browser.h"

namespace quillon::app {

class TAboutForm : public ui::TFormWindow {
 public:
  explicit TAboutForm(web::TExternalBrowser& browser);

  void _TextWebsiteClick(ui::TOwnedObject& sender);
  void _BtnOKClick(ui::TOwnedObject& sender);

  ui::TFrameBox* GroupBox1;
  ui::TWindowControl* Image1;
  ui::TTextLabel* _TextTitle;
  ui::TTextLabel* Label1;
  ui::TTextLabel* MakerLabel;
  ui::TTextLabel* _TextWebsite;
  ui::TPushButton* _BtnOK;
  skin::TscSkinEngine* scSkinEngine1;

 private:
  web::TExternalBrowser& browser_;
};

}  // namespace quillon::app
