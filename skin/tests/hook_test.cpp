// Window message hooks on real windows under Wine.
#include <gtest/gtest.h>

#include <stdexcept>

#include "skin/ombra_hook.h"
#include "skin/tests/test_window.h"
#include "ui/application.h"
#include "ui/form.h"
#include "ui/testing/recording_dialogs.h"

namespace quillon::skin {
namespace {

using testing::PumpMessages;
using testing::TestWindow;

class HookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::Application().Initialize();
    ui::SetUserDialogs(&dialogs);
  }
  void TearDown() override {
    PumpMessages();
    ui::SetUserDialogs(nullptr);
  }
  ui::testing::RecordingDialogs dialogs;
};

constexpr UINT kProbe = WM_APP + 17;

TEST_F(HookTest, LastAddedReceiverSeesMessagesFirstAndCanStopThem) {
  TestWindow window;
  std::vector<std::string> seen;
  TscHook first, second;
  first.BeforeMessage = [&](TscHook&, THookMessage& m, bool&) {
    if (m.Msg == kProbe) seen.push_back("first");
  };
  second.BeforeMessage = [&](TscHook&, THookMessage& m, bool& handled) {
    if (m.Msg != kProbe) return;
    seen.push_back("second");
    if (m.WParam == 1) {
      handled = true;
      m.Result = 99;
    }
  };
  first.AfterMessage = [&](TscHook&, THookMessage& m, bool&) {
    if (m.Msg == kProbe) seen.push_back("first after");
  };
  first.SetWinControl(&window);
  second.SetWinControl(&window);
  EXPECT_EQ(THookList::Instance().Find(&window)->Receivers.size(), 2u);

  EXPECT_EQ(SendMessageA(window.Handle(), kProbe, 0, 0), 0);
  EXPECT_EQ(seen, (std::vector<std::string>{"second", "first", "first after"}));
  EXPECT_EQ(std::count(window.received.begin(), window.received.end(), kProbe), 1);

  seen.clear();
  EXPECT_EQ(SendMessageA(window.Handle(), kProbe, 1, 0), 99) << "the receiver's result";
  EXPECT_EQ(seen, (std::vector<std::string>{"second"})) << "handled: no one else, no after-notification";
  EXPECT_EQ(std::count(window.received.begin(), window.received.end(), kProbe), 1) << "nor the window";
}

TEST_F(HookTest, LeavingRestoresTheWindowProcedureAndFreesTheHookLater) {
  TestWindow window;
  const LONG_PTR original = GetWindowLongPtrA(window.Handle(), GWLP_WNDPROC);
  const std::size_t before = THookList::Instance().Count();
  {
    TscHook hook;
    hook.SetWinControl(&window);
    EXPECT_NE(GetWindowLongPtrA(window.Handle(), GWLP_WNDPROC), original);
    EXPECT_EQ(hook.WinControl(), &window);
    hook.SetActive(false);
    EXPECT_EQ(GetWindowLongPtrA(window.Handle(), GWLP_WNDPROC), original);
    hook.SetActive(true);
    EXPECT_NE(GetWindowLongPtrA(window.Handle(), GWLP_WNDPROC), original);
  }
  EXPECT_EQ(GetWindowLongPtrA(window.Handle(), GWLP_WNDPROC), original);
  EXPECT_EQ(THookList::Instance().Count(), before + 1) << "freed through a posted message";
  PumpMessages();
  EXPECT_EQ(THookList::Instance().Count(), before);
}

TEST_F(HookTest, RecreatedWindowIsHookedAgainAfterTheNextLoopTurn) {
  TestWindow window;
  int probes = 0;
  TscHook hook;
  hook.BeforeMessage = [&](TscHook&, THookMessage& m, bool&) {
    if (m.Msg == kProbe) ++probes;
  };
  hook.SetWinControl(&window);
  SendMessageA(window.Handle(), kProbe, 0, 0);
  EXPECT_EQ(probes, 1);

  window.DestroyOnly();
  window.Create();  // the control makes its window anew
  SendMessageA(window.Handle(), kProbe, 0, 0);
  EXPECT_EQ(probes, 1) << "not yet: the reinstall waits for the message loop";
  PumpMessages();
  SendMessageA(window.Handle(), kProbe, 0, 0);
  EXPECT_EQ(probes, 2);
}

TEST_F(HookTest, ReceiverRaisingOnPaintIsReportedAndThePaintStillRuns) {
  TestWindow window;
  int laterReceiverCalls = 0;
  TscHook quiet, raising;
  quiet.BeforeMessage = [&](TscHook&, THookMessage& m, bool&) {
    if (m.Msg == WM_PAINT) ++laterReceiverCalls;
  };
  raising.BeforeMessage = [&](TscHook&, THookMessage& m, bool&) {
    if (m.Msg == WM_PAINT) throw std::runtime_error("frame paint failed");
  };
  quiet.SetWinControl(&window);
  raising.SetWinControl(&window);
  const int paintsBefore = window.paints;
  InvalidateRect(window.Handle(), nullptr, TRUE);
  UpdateWindow(window.Handle());
  EXPECT_EQ(window.paints, paintsBefore + 1) << "the window's own procedure painted";
  EXPECT_EQ(laterReceiverCalls, 1) << "the next receiver was still called";
  ASSERT_FALSE(dialogs.messages.empty());
  EXPECT_EQ(dialogs.messages.back(), "frame paint failed");
}

TEST_F(HookTest, DestroyMessageAlwaysReachesTheWindow) {
  TestWindow window;
  TscHook greedy;
  bool afterDestroy = false;
  // Marks the destroy message handled (every other message goes on, or the window would never
  // paint and the queue would never empty).
  greedy.BeforeMessage = [&](TscHook&, THookMessage& m, bool& handled) { handled = m.Msg == WM_DESTROY; };
  greedy.AfterMessage = [&](TscHook&, THookMessage& m, bool&) {
    if (m.Msg == WM_DESTROY) afterDestroy = true;
  };
  greedy.SetWinControl(&window);
  window.DestroyOnly();
  EXPECT_TRUE(afterDestroy);
  EXPECT_NE(std::find(window.received.begin(), window.received.end(), static_cast<UINT>(WM_DESTROY)),
            window.received.end());
  greedy.SetWinControl(nullptr);
}

TEST_F(HookTest, WatchesAClassLibraryForm) {
  ui::TFormWindow form("HookForm", "Hooked", 300, 200, ui::TFormFrame::Sizeable);
  TControlTarget target(form);
  std::vector<UINT> seen;
  TscHook hook;
  hook.AfterMessage = [&](TscHook&, THookMessage& m, bool&) { seen.push_back(m.Msg); };
  hook.SetWinControl(&target);
  form.SetCaption("Renamed");
  EXPECT_NE(std::find(seen.begin(), seen.end(), static_cast<UINT>(WM_SETTEXT)), seen.end());
  EXPECT_EQ(form.Caption(), "Renamed");
  target.SetDestroying();
  hook.SetWinControl(nullptr);
}

}  // namespace
}  // namespace quillon::skin
