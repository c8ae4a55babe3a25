// Window message hooks: a component sees every message of a window before and after the window's
// own procedure, without the window's code knowing.
//
// One TControlHook subclasses one window and passes each message to its TscHook receivers, the
// last added first; a receiver that marks a message handled stops it (except WM_DESTROY, which
// always reaches the window). The process-wide THookList owns the control hooks and, through two
// private messages to its hidden utility window, installs a hook again after its window was
// destroyed and created anew, and frees hooks that lost their last receiver.
//
// Invariants:
//  1. A control hook is installed while it has receivers and its window exists; PreviousProc is
//     the procedure it replaced and is put back only while the window still runs NewProc.
//  2. An exception thrown by a receiver never crosses the window procedure: it goes to the
//     application's error display and the next receiver is called.
// User-interface thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

namespace quillon::ui {
class TWindowControl;
}

namespace quillon::skin {

// Hook list messages (WM_APP range is not used: these numbers are part of the skin engine's
// contract with other components).
inline constexpr UINT kHookReinstallMessage = 45138;  // lParam: a control hook to install again
inline constexpr UINT kHookReleaseMessage = 45139;    // lParam: a control hook to free when unused

// What a control hook needs of the windowed control it subclasses.
class THookTarget {
 public:
  virtual ~THookTarget() = default;
  // The control's window, created when it does not exist yet; nullptr when that is impossible.
  virtual HWND EnsureHandle() = 0;
  virtual HWND CurrentHandle() const = 0;  // nullptr while there is none
  virtual bool BeingDestroyed() const = 0;
  virtual bool BeingDesigned() const { return false; }
};

// A class-library control as a hook target (its window lives as long as the object).
class TControlTarget : public THookTarget {
 public:
  explicit TControlTarget(ui::TWindowControl& control) : control_(control) {}
  HWND EnsureHandle() override;
  HWND CurrentHandle() const override;
  bool BeingDestroyed() const override { return destroying_; }
  void SetDestroying() { destroying_ = true; }

 private:
  ui::TWindowControl& control_;
  bool destroying_ = false;
};

class TscHook;
class TControlHook;

// The message record of a hook event: the message and its result.
struct THookMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};
using THookMessageEvent = std::function<void(TscHook& sender, THookMessage& msg, bool& handled)>;

class TscHook {
 public:
  TscHook() = default;
  ~TscHook();
  TscHook(const TscHook&) = delete;
  TscHook& operator=(const TscHook&) = delete;

  bool Active() const { return active_; }
  void SetActive(bool active);
  THookTarget* WinControl() const;
  void SetWinControl(THookTarget* control);

  THookMessageEvent BeforeMessage;
  THookMessageEvent AfterMessage;

  void DispatchBefore(THookMessage& msg, bool& handled) {
    if (BeforeMessage) BeforeMessage(*this, msg, handled);
  }
  void DispatchAfter(THookMessage& msg, bool& handled) {
    if (AfterMessage) AfterMessage(*this, msg, handled);
  }

  THookTarget* Control = nullptr;
  TControlHook* ControlHook = nullptr;

 private:
  bool active_ = true;
  bool destroying_ = false;
};

class TControlHook {
 public:
  TControlHook();
  ~TControlHook();
  TControlHook(const TControlHook&) = delete;
  TControlHook& operator=(const TControlHook&) = delete;

  void AddReceiver(TscHook& h);
  void RemoveReceiver(TscHook& h);
  void SetControl(THookTarget* c);
  void Install();
  void Uninstall();
  bool Installed() const { return PreviousProc != nullptr; }

  THookTarget* Control = nullptr;
  std::vector<TscHook*> Receivers;
  WNDPROC PreviousProc = nullptr;
  WNDPROC NewProc = nullptr;
  bool Destroying = false;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT WindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  void Notify(bool before, THookMessage& msg, bool& handled);
  HWND installedOn_ = nullptr;
};

class THookList {
 public:
  // The process-wide list, created on first use.
  static THookList& Instance();
  static bool Exists();

  TControlHook* Find(THookTarget* control) const;
  TControlHook& GetOrCreate(THookTarget* control);
  bool Contains(const TControlHook* hook) const;
  void Remove(TControlHook* hook);  // leaves the list without freeing
  void Free(TControlHook* hook);
  HWND UtilityWindow() const { return utility_; }
  std::size_t Count() const { return hooks_.size(); }

  ~THookList();

 private:
  THookList();
  static LRESULT CALLBACK UtilityProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  std::vector<std::unique_ptr<TControlHook>> hooks_;
  HWND utility_ = nullptr;
};

}  // namespace quillon::skin
