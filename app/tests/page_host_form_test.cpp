// The main window's page host with real windows, fed by a server inside the test on 127.0.0.1:
// progress on Gauge1, document complete per page purpose (1: lyrics cut out and shown, 2: the
// version check and its question), window requests refused.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include "ui/testing/recording_dialogs.h"

#include <string>

#include "app/maker.h"
#include "app/quillon_form.h"
#include "ui/application.h"
#include "util/files.h"
#include "util/platform.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"
#include "web/tests/test_http_server.h"
#include "web/version_check.h"

namespace quillon::app {
namespace {

using web::testing::Html;

class PageHostFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
    dir.MakeDir("MyLyrics");
    dir.Write("lyrics.ini", "[set]\r\nbase=MyLyrics\r\n");
    dir.Write("MyLyrics\\MyLyrics.ini", "[db]\r\nartistfile=artist.ini\r\n");
    form = std::make_unique<TQuillonForm>(dir.Path(), browser);
    form->Show();
    // Count completions, then let the form handle them.
    auto handler = form->web->OnDocumentComplete;
    form->web->OnDocumentComplete = [this, handler](ui::TOwnedObject& s, const std::string& a) {
      ++completes;
      handler(s, a);
    };
  }
  void TearDown() override {
    form.reset();
    ui::SetUserDialogs(nullptr);
    ui::Application().DispatchPendingMessages();
    ui::Application().ClearTerminated();
  }

  // Loads a page for a purpose and runs the message loop until its top document completes.
  void Load(int purpose, const std::string& path) {
    int before = completes;
    form->web->Tag = purpose;
    form->web->Navigate(server.Address(path));
    DWORD start = GetTickCount();
    while (completes == before && GetTickCount() - start < 15000) {
      ui::Application().DispatchPendingMessages();
      Sleep(10);
    }
    ASSERT_GT(completes, before) << path;
  }

  web::testing::TTestServer server;
  quillon::testing::TempDir dir;
  ui::testing::RecordingDialogs dialogs;
  web::testing::TRecordingBrowser browser;
  std::unique_ptr<TQuillonForm> form;
  int completes = 0;
};

TEST_F(PageHostFormTest, ALyricsPageIsCutShownAndTheGaugeHidden) {
  std::string page = "<h1>Songs</h1><h2>Rain</h2><p>la la<br>rain again</p>" + std::string(40000, ' ');
  server.Route("/rain.html", Html(page));
  form->songLabel->SetCaption("Rain");
  form->Gauge1->SetVisible(true);
  Load(1, "/rain.html");
  EXPECT_EQ(form->LyricMemo->Text(), "la la\r\nrain again\r\n");
  EXPECT_EQ(form->LyricMemo->Font().charset, DEFAULT_CHARSET);
  EXPECT_FALSE(form->Gauge1->Visible());
  EXPECT_EQ(form->Gauge1->Position(), static_cast<int>(page.size()));
  // The host area shows the page's text.
  EXPECT_EQ(form->web->Caption(), "Songs\r\nRain\r\n\r\nla la\r\nrain again");
}

TEST_F(PageHostFormTest, APageWithoutLyricsOrWithoutPurposeShowsNothing) {
  server.Route("/other.html", Html("<p>nothing for this song</p>"));
  server.Route("/rain.html", Html("<h2>Rain</h2><p>words</p>"));
  form->songLabel->SetCaption("Rain");
  form->LyricMemo->SetText("kept");
  Load(1, "/other.html");
  EXPECT_EQ(form->LyricMemo->Text(), "kept");
  form->web->Tag = 0;
  Load(0, "/rain.html");
  EXPECT_EQ(form->LyricMemo->Text(), "kept");
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(PageHostFormTest, VersionCheckAsksOnlyForANewerVersion) {
  struct TCase {
    const char* what;
    const char* body;
    bool answer;
    bool asked;
  } cases[] = {
      {"same version", "<p>Current: lyrics=1.6#</p>", true, false},
      // Blanks collapse in the rendered text, so the long window is made of digits.
      {"more than ten characters before #", "<p>lyrics=1.700000000000#</p>", true, false},
      {"newer version, No", "<p>lyrics=1.7#</p>", false, true},
      {"newer version, Yes", "<p>Current version: lyrics=1.7# (2007)</p>", true, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    dialogs.questions.clear();
    browser.opened.clear();
    ui::Application().ClearTerminated();
    dialogs.answer = c.answer;
    std::string path = "/version" + std::to_string(++n) + ".html";
    server.Route(path, Html(c.body));
    Load(2, path);
    if (!c.asked) {
      EXPECT_TRUE(dialogs.questions.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(dialogs.questions, std::vector<std::string>{web::UpdateQuestion("1.7")}) << c.what;
    EXPECT_EQ(browser.opened, c.answer ? std::vector<std::string>{kMakerSite} : std::vector<std::string>{}) << c.what;
    EXPECT_EQ(ui::Application().Terminated(), c.answer) << c.what;
  }
  // The program ended on Yes without its close handler: no "lyrics.ini" was written.
  std::string ini;
  ASSERT_TRUE(platform::ReadWholeFile(dir.Path() + "lyrics.ini", ini));
  EXPECT_EQ(ini, "[set]\r\nbase=MyLyrics\r\n");
}

TEST_F(PageHostFormTest, CheckVersionSetsThePurposeAndTheMenuItemStaysHidden) {
  EXPECT_EQ(form->web->Tag, 0);
  form->CheckVersion();
  EXPECT_EQ(form->web->Tag, 2);
  EXPECT_FALSE(form->VersionM->Visible);
}

// With Ctrl held at the first show the host stays in front of the left strip and shows the text
// of the pages it loads.
TEST_F(PageHostFormTest, WithCtrlAtFirstShowTheLoadedPagesCanBeWatched) {
  form.reset();
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  form = std::make_unique<TQuillonForm>(dir.Path(), browser);
  form->Show();
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  form->web->OnDocumentComplete = [this](ui::TOwnedObject&, const std::string&) { ++completes; };
  server.Route("/watch.html", Html("<h1>Watched</h1><p>page text</p>"));
  Load(0, "/watch.html");
  EXPECT_EQ(form->web->Caption(), "Watched\r\n\r\npage text");
  // The host is above the client panel among the window's children.
  HWND above = nullptr;
  for (HWND w = GetWindow(form->Handle(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
    if (w == form->web->Handle() || w == form->Panel1->Handle()) {
      above = w;
      break;
    }
  }
  EXPECT_EQ(above, form->web->Handle());
  EXPECT_TRUE(IsWindowVisible(form->web->Handle()));
}

TEST_F(PageHostFormTest, NewWindowsAreRefused) {
  bool cancel = false;
  form->webNewWindow2(*form->web, cancel);
  EXPECT_TRUE(cancel);
}

}  // namespace
}  // namespace quillon::app
