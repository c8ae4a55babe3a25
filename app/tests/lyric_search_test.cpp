// Page 2's search by a line of the lyrics with real windows and real tables: a query typed into
// the "Lyrics:" edit and run with Enter, hits of every base with their snippets, a hit opened on
// page 1 with its first match selected, and the index kept by the window's own writes.
#include <windows.h>

#include <richedit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/quillon_form.h"
#include "app/tests/base_tables.h"
#include "app/tests/form_test.h"
#include "ui/application.h"

namespace quillon::app {
namespace {

const std::string kDayText =
    "Stored lyrics of a lovely day\r\nand the river runs blue\r\nunder a morning sky " + std::string(60, 'd') + "\r\n";
const std::string kWinterText =
    "Cold winter night, the snow comes down\r\nno river here at all, only ice " + std::string(60, 'w') + "\r\n";
const std::string kFarText = "Far away the river runs blue\r\nin another land " + std::string(80, 'f') + "\r\n";

class LyricSearchTest : public testing::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    for (const char* base : {"shelf", "other"}) {
      dir.MakeDir(base);
      dir.Write(std::string(base) + "\\" + base + ".ini", "[db]\r\nartistfile=artist.ini\r\n");
      std::string folder = dir.File(std::string(base) + "\\");
      testing::CreateTable(
          dir, folder, testing::kAlbumsSchema, "AlbumList.dat",
          std::string("album\tartist\tbeginID\n") +
              (base == std::string("shelf") ? "Blue Album\tZed Band\t1\n" : "Far Album\tYon Folk\t1\n"));
      testing::CreateTable(dir, folder, testing::kSongsSchema, "songlist.dat",
                           base == std::string("shelf") ? "albumIndex\tsong\turl1\n1\tLOVELY Day\tx1\n1\tWinter\tx2\n"
                                                        : "albumIndex\tsong\turl1\n1\tFar Song\ty1\n");
    }
    dir.Write("shelf\\artist.ini", "[Z]\r\nZed Band=1\r\n");
    dir.Write("other\\artist.ini", "[Y]\r\nYon Folk=1\r\n");
    auto tsvText = [](const std::string& text) {
      std::string out;
      for (char c : text) out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
      return out;
    };
    testing::CreateTable(dir, dir.Path(), testing::kLyricsSchema, "lyrics.dat",
                         "songname\tlyrics\tsongindex\tsongdb\n"
                         "LOVELY Day\t" +
                             tsvText(kDayText) +
                             "\t1\tshelf\n"
                             "Winter\t" +
                             tsvText(kWinterText) +
                             "\t2\tshelf\n"
                             "Far Song\t" +
                             tsvText(kFarText) + "\t1\tother\n");
    dir.Write("lyrics.ini", "[set]\r\nbase=shelf\r\nlastpageindex=2\r\nlastartist=Zed Band\r\n");
  }

  // Types text into the lyrics edit as the keyboard does, then presses Enter.
  void TypeAndRun(const std::string& text) {
    HWND edit = form->lyricEdit->Handle();
    SetFocus(edit);
    for (char c : text) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 1);
    SendMessageA(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
    ui::Application().DispatchPendingMessages();
  }

  void Press(flatctl::TFlatButton* button) {
    LPARAM middle = MAKELPARAM(button->Width() / 2, button->Height() / 2);
    SendMessageA(button->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageA(button->Handle(), WM_LBUTTONUP, 0, middle);
    ui::Application().DispatchPendingMessages();
  }

  std::string Selected() {
    CHARRANGE range{};
    SendMessageA(form->LyricMemo->Handle(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    std::string text(static_cast<std::size_t>(range.cpMax - range.cpMin) + 1, '\0');
    LRESULT n = SendMessageA(form->LyricMemo->Handle(), EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(n));
    return text;
  }
};

TEST_F(LyricSearchTest, ATypedPhraseFindsEveryBaseAndOpensWithTheMatchSelected) {
  StartShown();
  TypeAndRun("\"river runs\"");
  EXPECT_EQ(form->lyricEdit->Text(), "\"river runs\"");
  ASSERT_TRUE(form->lyricList->Visible());
  EXPECT_FALSE(form->DBGrid1->Visible());
  std::vector<std::string> items = form->lyricList->Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(form->infoLabel->Caption(), "Results: 2");
  std::sort(items.begin(), items.end());
  EXPECT_EQ(items[0], "Far Song - Yon Folk - Far Album [other]:  Far away the [river] [runs] blue");
  EXPECT_EQ(items[1], "LOVELY Day - Zed Band - Blue Album:  and the [river] [runs] blue");
  testing::SaveScreenshot(form->Handle(), "lyric_search_results.bmp");

  int day = form->lyricList->IndexOf(items[1]);
  ASSERT_GE(day, 0);
  form->lyricList->SetItemIndex(day);
  SendMessageA(form->lyricList->Handle(), WM_KEYDOWN, VK_RETURN, 1);
  ui::Application().DispatchPendingMessages();
  EXPECT_EQ(form->pages->ActivePageIndex(), 1);
  EXPECT_EQ(form->songLabel->Caption(), "LOVELY Day");
  EXPECT_EQ(form->Setting.base, "shelf");
  EXPECT_NE(form->LyricMemo->Text().find("and the river runs blue"), std::string::npos);
  EXPECT_EQ(Selected(), "river");
  testing::SaveScreenshot(form->Handle(), "lyric_search_opened.bmp");
}

TEST_F(LyricSearchTest, AResultOfAnotherBaseOpensThatBase) {
  StartShown();
  TypeAndRun("far river");
  ASSERT_EQ(form->lyricList->Count(), 1);
  form->lyricList->SetItemIndex(0);
  Press(form->viewLyricB);
  EXPECT_EQ(form->Setting.base, "other");
  EXPECT_EQ(form->songLabel->Caption(), "Far Song");
  EXPECT_EQ(Selected(), "Far");
}

TEST_F(LyricSearchTest, ExclusionPrefixAndNothingToLookFor) {
  StartShown();
  TypeAndRun("riv* -far");
  ASSERT_EQ(form->lyricList->Count(), 2);  // LOVELY Day and Winter
  form->lyricEdit->SetText("");
  TypeAndRun("-river");
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Please input words to search for."}));
  // The local search brings its grid back.
  form->songEdit->SetText("winter");
  Press(form->fullschB);
  EXPECT_TRUE(form->DBGrid1->Visible());
  EXPECT_FALSE(form->lyricList->Visible());
}

TEST_F(LyricSearchTest, AFetchedTextStoredByTheWindowIsFoundAtOnce) {
  StartShown();
  form->pages->SetActivePageIndex(1);
  form->SelectArtist("Zed Band", true);
  form->ShowSong("Winter", true);
  ASSERT_TRUE(form->t3.Active());
  form->StoreFetchedLyrics("Summer sunshine on the meadow now\r\n" + std::string(100, 's'));
  TypeAndRun("meadow");
  EXPECT_EQ(form->lyricList->Items(),
            (std::vector<std::string>{"Winter - Zed Band - Blue Album:  Summer sunshine on the [meadow] now"}));
  form->lyricEdit->SetText("");
  TypeAndRun("snow");
  EXPECT_EQ(form->lyricList->Count(), 0);
}

}  // namespace
}  // namespace quillon::app
