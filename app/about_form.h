// The About dialog: program name, version, the maker and the maker's web site.
#pragma once

#include "skin/skin_engine.h"
#include "ui/form.h"
#include "ui/std_controls.h"
#include "web/external_browser.h"

namespace quillon::app {

class TAboutForm : public ui::TForm {
 public:
  explicit TAboutForm(web::TExternalBrowser& browser);

  void _TextWebsiteClick(ui::TComponent& sender);
  void _BtnOKClick(ui::TComponent& sender);

  ui::TGroupBox* GroupBox1;
  ui::TControl* Image1;
  ui::TLabel* _TextTitle;
  ui::TLabel* Label1;
  ui::TLabel* MakerLabel;
  ui::TLabel* _TextWebsite;
  ui::TButton* _BtnOK;
  skin::TscSkinEngine* scSkinEngine1;

 private:
  web::TExternalBrowser& browser_;
};

}  // namespace quillon::app
