// The About dialog (see about_form.h).
#include "app/about_form.h"

#include "app/maker.h"
#include "app/version.h"

namespace quillon::app {

namespace {

// The program icon, as the system draws icons.
class TProgramIcon : public ui::TWindowControl {
 public:
  TProgramIcon(ui::TWindowControl* parent, int left, int top) : ui::TWindowControl(parent, "Image1") {
    CreateHandle("STATIC", WS_VISIBLE | SS_ICON, 0, "", left, top, 32, 32);
    SendMessageA(Handle(), STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(GetModuleHandleA(nullptr), "MAINICON")), 0);
  }
};

ui::TTextFont TitleFont() {
  ui::TTextFont font;
  font.size = 10;
  font.bold = true;
  return font;
}

}  // namespace

TAboutForm::TAboutForm(web::TExternalBrowser& browser)
    : ui::TFormWindow("AboutForm", "About", 342, 199, ui::TFormFrame::Dialog), browser_(browser) {
  SetFont(ui::TTextFont{});
  scSkinEngine1 = Add<skin::TscSkinEngine>(this, "scSkinEngine1");
  scSkinEngine1->SetMainMenuShow(false);
  scSkinEngine1->SetBorderIcons(skin::sbSystemMenu | skin::sbMinimize | skin::sbMaximize | skin::sbClose);
  scSkinEngine1->SetSkinFile("skin.dat");
  scSkinEngine1->SetSizeable(true);
  GroupBox1 = Add<ui::TFrameBox>(this, "GroupBox1", "", 0, 0, ClientWidth(), ClientHeight());
  Image1 = Add<TProgramIcon>(GroupBox1, 20, 24);
  _TextTitle = Add<ui::TTextLabel>(GroupBox1, "_TextTitle", "Pelmora Lyrics Base", 72, 20);
  _TextTitle->SetFont(TitleFont());
  Label1 = Add<ui::TTextLabel>(GroupBox1, "Label1", std::string("Version ") + kVersion, 72, 44);
  Label1->SetFont(TitleFont());
  MakerLabel = Add<ui::TTextLabel>(GroupBox1, "MakerLabel", kMakerLine, 72, 75);
  _TextWebsite = Add<ui::TTextLabel>(GroupBox1, "_TextWebsite", kMakerSite, 72, 91);
  ui::TTextFont link;
  link.color = ui::kColorBlue;
  link.underline = true;
  _TextWebsite->SetFont(link);
  _TextWebsite->SetCursor(ui::TCursorKind::Hand);
  _TextWebsite->OnClick = [this](ui::TOwnedObject& s) { _TextWebsiteClick(s); };
  _BtnOK = Add<ui::TPushButton>(GroupBox1, "_BtnOK", "&OK", 252, 160, 73, 25, true);
  _BtnOK->OnClick = [this](ui::TOwnedObject& s) { _BtnOKClick(s); };
  scSkinEngine1->Loaded();
}

void TAboutForm::_TextWebsiteClick(ui::TOwnedObject&) {
  browser_.ShellOpen(kMakerSite);
}

void TAboutForm::_BtnOKClick(ui::TOwnedObject&) {
  SetModalResult(ui::kDialogOk);
}

}  // namespace quillon::app
