// Save, Edit and Print of the lyrics shown, with the real window: the lyrics document written byte
// for byte, the file name rule of Save, Edit's temporary file handed to the shell, and the report
// Print fills.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/testing/recording_dialogs.h"

#include <string>
#include <vector>

#include "app/quillon_form.h"
#include "app/tests/base_tables.h"
#include "app/tests/form_test.h"
#include "ui/application.h"
#include "util/files.h"
#include "util/testing/temp_dir.h"
#include "web/tests/recording_browser.h"

namespace quillon::app {
namespace {

class SaveEditTest : public testing::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    dir.MakeDir("shelf");
    dir.Write("shelf\\shelf.ini", "[db]\r\nartistfile=artist.ini\r\n");
    dir.Write("shelf\\artist.ini", "[S]\r\nSomeone=\r\n");
    std::string folder = dir.File("shelf\\");
    testing::CreateTable(dir, folder, testing::kAlbumsSchema, "AlbumList.dat", "");
    testing::CreateTable(dir, folder, testing::kSongsSchema, "songlist.dat", "");
    dir.Write("lyrics.ini", "[set]\r\nbase=shelf\r\n");
    StartShown();
  }
  // What the window shows after a song: its title beside the tool bar, its lyrics in the memo.
  void Shown(const std::string& title, const std::string& lyrics) {
    form->songLabel->SetCaption(title);
    form->LyricMemo->SetText(lyrics);
  }
};

TEST_F(SaveEditTest, SaveWritesTheDocumentAndAddsTxtOnlyToNamesWithoutADot) {
  Shown("Auld Lang Syne", "Should auld acquaintance\nbe forgot,\r\n\r\nand never brought to mind?");
  const std::string document =
      "Auld Lang Syne\r\n\r\nShould auld acquaintance\r\nbe forgot,\r\n\r\n"
      "and never brought to mind?\r\n";
  dir.MakeDir("My.Docs");
  dir.MakeDir("Plain");
  struct TCase {
    const char *chosen, *written;
  } cases[] = {
      {"My.Docs\\Song", "My.Docs\\Song"},  // a dot in the folder counts
      {"Plain\\Song", "Plain\\Song.txt"},
      {"Plain\\Lyrics.text", "Plain\\Lyrics.text"},
  };
  for (const TCase& c : cases) {
    dialogs.chosenFile = dir.File(c.chosen);
    form->ToolButton1->Click();
    EXPECT_EQ(dir.Read(c.written), document) << c.chosen;
  }
  EXPECT_EQ(dialogs.proposedFiles, std::vector<std::string>(3, "Auld Lang Syne.txt"));
  EXPECT_EQ(dialogs.fileDialogs, std::vector<std::string>(3, "*.txt|*.txt"));
  EXPECT_FALSE(IsExistingFile(dir.File("Plain\\Song")));

  // Cancelled: nothing is written.
  dialogs.chosenFile.clear();
  Shown("Other", "other text");
  form->ToolButton1->Click();
  EXPECT_EQ(dir.Read("Plain\\Song.txt"), document);
}

TEST_F(SaveEditTest, EditOverwritesTheTemporaryFileAndOpensItEachTime) {
  Shown("First", "one\r\ntwo");
  form->ToolButton2->Click();
  EXPECT_EQ(dir.Read("temp.txt"), "First\r\n\r\none\r\ntwo\r\n");
  Shown("Second", "");
  form->ToolButton2->Click();
  EXPECT_EQ(dir.Read("temp.txt"), "Second\r\n\r\n");
  EXPECT_EQ(browser.opened, std::vector<std::string>(2, dir.File("temp.txt")));
}

// Print takes the same title and lines into the report the preview shows.
TEST_F(SaveEditTest, PrintTakesTheTitleAndTheMemosLines) {
  Shown("Loch Lomond", "By yon bonnie banks\r\nand by yon bonnie braes");
  form->FillPrintReport();
  EXPECT_EQ(form->q.Title, "Loch Lomond");
  EXPECT_EQ(form->q.Lines, (std::vector<std::string>{"By yon bonnie banks", "and by yon bonnie braes"}));
}

// Ctrl and a letter posted to the focused control, as the keyboard delivers it.
void CtrlKeys(HWND focus, std::initializer_list<WPARAM> keys) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  state[VK_CONTROL] = 0x80;
  SetKeyboardState(state);
  for (WPARAM key : keys) PostMessageA(focus, WM_KEYDOWN, key, 1);
  ui::Application().DispatchPendingMessages();
  state[VK_CONTROL] = 0;
  SetKeyboardState(state);
}

TEST_F(SaveEditTest, CtrlSSavesAndCtrlPPrintsOnTheLyricsPageOnceASongIsShown) {
  dialogs.chosenFile = dir.File("keyed.txt");
  form->LyricMemo->SetText("By yon bonnie banks");
  // No song shown yet: the keys do nothing.
  form->pages->SetActivePageIndex(1);
  CtrlKeys(form->LyricMemo->Handle(), {'S'});
  EXPECT_TRUE(dialogs.proposedFiles.empty());
  form->ShowSongTitle("Loch Lomond");
  CtrlKeys(form->LyricMemo->Handle(), {'S'});
  EXPECT_EQ(dialogs.proposedFiles, std::vector<std::string>{"Loch Lomond.txt"});
  EXPECT_EQ(dir.Read("keyed.txt"), "Loch Lomond\r\n\r\nBy yon bonnie banks\r\n");
  // Ctrl+P opens the preview of the report (Escape closes it again).
  CtrlKeys(form->LyricMemo->Handle(), {'P', VK_ESCAPE});
  EXPECT_EQ(form->q.Title, "Loch Lomond");
  // On another page they do nothing.
  form->pages->SetActivePageIndex(2);
  CtrlKeys(form->songEdit->Handle(), {'S'});
  EXPECT_EQ(dialogs.proposedFiles.size(), 1u);
}

}  // namespace
}  // namespace quillon::app
