// Test support: a plain top-level window of its own class that records the messages its own
// procedure receives, and can be destroyed and created again like a control whose window is
// recreated.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "skin/ombra_hook.h"

namespace quillon::skin::testing {

class TestWindow : public THookTarget {
 public:
  TestWindow() { Create(); }
  ~TestWindow() override {
    destroying_ = true;
    if (handle_) DestroyWindow(handle_);
  }
  HWND EnsureHandle() override {
    if (!handle_) Create();
    return handle_;
  }
  HWND CurrentHandle() const override { return handle_; }
  bool BeingDestroyed() const override { return destroying_; }
  HWND Handle() const { return handle_; }

  void Create() {
    static bool registered = false;
    if (!registered) {
      WNDCLASSA wc{};
      wc.lpfnWndProc = &TestWindow::Proc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "QuillonSkinTestWindow";
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
      RegisterClassA(&wc);
      registered = true;
    }
    handle_ = CreateWindowExA(0, "QuillonSkinTestWindow", "Skin test", WS_POPUP | WS_VISIBLE, 40, 40, 200, 120, nullptr,
                              nullptr, GetModuleHandleA(nullptr), this);
  }
  void DestroyOnly() {
    HWND h = handle_;
    handle_ = nullptr;
    DestroyWindow(h);
  }

  std::vector<UINT> received;  // every message the window's own procedure saw
  std::vector<WPARAM> sysCommands;
  int paints = 0;

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      SetPropA(h, "QuillonTestWindow", reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    }
    auto* self = static_cast<TestWindow*>(GetPropA(h, "QuillonTestWindow"));
    if (self) {
      self->received.push_back(msg);
      if (msg == WM_SYSCOMMAND) {
        self->sysCommands.push_back(wp & 0xFFF0);
        return 0;  // recorded, not acted on
      }
      if (msg == WM_PAINT) {
        ++self->paints;
      }
      if (msg == WM_NCDESTROY) RemovePropA(h, "QuillonTestWindow");
    }
    return DefWindowProcA(h, msg, wp, lp);
  }
  HWND handle_ = nullptr;
  bool destroying_ = false;
};

inline void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace quillon::skin::testing
