// Program entry: the application object, the main window, then the About window, and the message
// loop until the main window closes.
#include <windows.h>

#include <exception>
#include <sstream>
#include <string>

#include "app/about_form.h"
#include "app/quillon_form.h"
#include "ui/application.h"
#include "ui/dialogs.h"
#include "util/files.h"
#include "util/text.h"
#include "web/external_browser.h"

namespace {

// True when the command line holds the word (letter case ignored).
bool HasSwitch(const char* commandLine, const char* word) {
  std::istringstream words(commandLine ? commandLine : "");
  std::string w;
  while (words >> w)
    if (quillon::EqualIgnoringCase(w, word)) return true;
  return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  using namespace quillon;
  ui::TProgram& application = ui::Application();
  application.Initialize();
  application.Title = "Quillon";
  try {
    auto browser = web::MakeSystemBrowser();
    app::TQuillonForm quillonForm(AppPath(), *browser);
    app::TAboutForm aboutForm(*browser);
    quillonForm.SetAboutForm(&aboutForm);
    // The own-lyrics form is reached only this way: the window as designed has no control for it.
    if (HasSwitch(commandLine, "/ownlyrics")) quillonForm.ShowOwnLyricsPanel();
    application.Run();
  } catch (const std::exception& e) {
    ui::ShowError(e.what());
    return 1;
  }
  return 0;
}
