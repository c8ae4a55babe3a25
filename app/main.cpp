// Program entry: the application object, the main window, then the About window, and the message
// loop until the main window closes.
#include <windows.h>

#include <exception>

#include "app/about_form.h"
#include "app/quillon_form.h"
#include "ui/application.h"
#include "ui/dialogs.h"
#include "util/files.h"
#include "web/external_browser.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace quillon;
  ui::TApplication& application = ui::Application();
  application.Initialize();
  application.Title = "Quillon";
  try {
    auto browser = web::MakeSystemBrowser();
    app::TQuillonForm quillonForm(AppPath(), *browser);
    app::TAboutForm aboutForm(*browser);
    quillonForm.SetAboutForm(&aboutForm);
    application.Run();
  } catch (const std::exception& e) {
    ui::ShowError(e.what());
    return 1;
  }
  return 0;
}
