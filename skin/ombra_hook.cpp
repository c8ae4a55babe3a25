#include "skin/ombra_hook.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "ui/application.h"
#include "ui/control.h"

namespace quillon::skin {

namespace {

constexpr char kHookProperty[] = "QuillonControlHook";
constexpr char kUtilityClass[] = "QuillonHookUtility";

std::unique_ptr<THookList>& ListHolder() {
  static std::unique_ptr<THookList> list;
  return list;
}

void Report(const std::exception& e) {
  ui::Application().ReportException(e);
}

}  // namespace

HWND TControlTarget::EnsureHandle() {
  return control_.Handle();
}
HWND TControlTarget::CurrentHandle() const {
  return control_.Handle();
}

// ---- TscHook ----

TscHook::~TscHook() {
  destroying_ = true;
  TControlHook* old = ControlHook;
  SetActive(false);
  SetWinControl(nullptr);
  if (old && THookList::Exists() && THookList::Instance().Contains(old) && old->Receivers.empty())
    PostMessageA(THookList::Instance().UtilityWindow(), kHookReleaseMessage, 0, reinterpret_cast<LPARAM>(old));
}

void TscHook::SetActive(bool active) {
  if (active) {
    if (Control && !destroying_) THookList::Instance().GetOrCreate(Control).AddReceiver(*this);
    active_ = true;
  } else {
    if (ControlHook) ControlHook->RemoveReceiver(*this);
    active_ = false;
  }
}

THookTarget* TscHook::WinControl() const {
  return ControlHook ? ControlHook->Control : Control;
}

void TscHook::SetWinControl(THookTarget* control) {
  if (control == Control) return;
  const bool wasActive = active_;
  TControlHook* old = ControlHook;
  if (ControlHook) ControlHook->RemoveReceiver(*this);
  Control = control;
  if (old && old->Receivers.empty() && THookList::Exists())
    PostMessageA(THookList::Instance().UtilityWindow(), kHookReleaseMessage, 0, reinterpret_cast<LPARAM>(old));
  if (wasActive) SetActive(true);
}

// ---- TControlHook ----

TControlHook::TControlHook() : NewProc(&TControlHook::Procedure) {}

TControlHook::~TControlHook() {
  Destroying = true;
  if (THookList::Exists()) THookList::Instance().Remove(this);
  while (!Receivers.empty()) RemoveReceiver(*Receivers.back());
  Uninstall();
  Control = nullptr;
  NewProc = nullptr;
}

void TControlHook::AddReceiver(TscHook& h) {
  if (std::find(Receivers.begin(), Receivers.end(), &h) == Receivers.end()) {
    Receivers.push_back(&h);
    h.ControlHook = this;
    if (h.Control != Control) {
      Uninstall();
      Control = h.Control;
    }
  }
  Install();
}

void TControlHook::RemoveReceiver(TscHook& h) {
  h.ControlHook = nullptr;
  Receivers.erase(std::remove(Receivers.begin(), Receivers.end(), &h), Receivers.end());
  if (Receivers.empty()) Uninstall();
}

void TControlHook::SetControl(THookTarget* c) {
  if (c == Control) return;
  Uninstall();
  Control = c;
  if (!Receivers.empty()) Install();
}

void TControlHook::Install() {
  // Without receivers there is nothing to install for; a reinstall posted before the last
  // receiver left must not touch a control that may be gone by then.
  if (Receivers.empty() || !Control || Control->BeingDesigned() || Control->BeingDestroyed() || Destroying) return;
  HWND window = Control->EnsureHandle();
  if (!window) return;
  const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  if (current == NewProc) return;
  PreviousProc = current;
  installedOn_ = window;
  SetPropA(window, kHookProperty, this);
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NewProc));
}

void TControlHook::Uninstall() {
  if (Control && PreviousProc && installedOn_ && IsWindow(installedOn_) &&
      reinterpret_cast<WNDPROC>(GetWindowLongPtrA(installedOn_, GWLP_WNDPROC)) == NewProc) {
    SetWindowLongPtrA(installedOn_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PreviousProc));
    RemovePropA(installedOn_, kHookProperty);
  }
  PreviousProc = nullptr;
  installedOn_ = nullptr;
}

LRESULT CALLBACK TControlHook::Procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* hook = static_cast<TControlHook*>(GetPropA(window, kHookProperty));
  if (!hook) return DefWindowProcA(window, msg, wParam, lParam);
  return hook->WindowProcedure(window, msg, wParam, lParam);
}

LRESULT TControlHook::WindowProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  const WNDPROC previous = PreviousProc;
  if (!Control)
    return previous ? CallWindowProcA(previous, window, msg, wParam, lParam)
                    : DefWindowProcA(window, msg, wParam, lParam);
  THookMessage m{msg, wParam, lParam, 0};
  bool handled = false;
  if (msg != WM_QUIT) Notify(true, m, handled);
  if (!handled || msg == WM_DESTROY) {
    m.Result =
        previous ? CallWindowProcA(previous, window, msg, wParam, lParam) : DefWindowProcA(window, msg, wParam, lParam);
    Notify(false, m, handled);
  }
  if (msg == WM_DESTROY) {
    Uninstall();
    // The window may be created again (the class library does that when some properties
    // change): the list installs the hook on the new window once the message loop turns.
    if (THookList::Exists() && !Destroying && Control && !Control->BeingDestroyed())
      PostMessageA(THookList::Instance().UtilityWindow(), kHookReinstallMessage, 0, reinterpret_cast<LPARAM>(this));
  }
  return m.Result;
}

void TControlHook::Notify(bool before, THookMessage& msg, bool& handled) {
  if (Receivers.empty() || !Control || Destroying || Control->BeingDestroyed()) return;
  for (std::size_t i = Receivers.size(); i-- > 0;) {
    if (i >= Receivers.size()) continue;  // a receiver left during the loop
    TscHook* receiver = Receivers[i];
    try {
      if (before)
        receiver->DispatchBefore(msg, handled);
      else
        receiver->DispatchAfter(msg, handled);
    } catch (const std::exception& e) {
      Report(e);
    } catch (...) {
      Report(std::runtime_error("unknown error in a window message hook"));
    }
    if (handled) break;
  }
}

// ---- THookList ----

THookList& THookList::Instance() {
  auto& holder = ListHolder();
  if (!holder) holder.reset(new THookList());
  return *holder;
}

bool THookList::Exists() {
  return ListHolder() != nullptr;
}

THookList::THookList() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &THookList::UtilityProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kUtilityClass;
  RegisterClassA(&wc);  // fails harmlessly when already registered
  utility_ = CreateWindowExA(0, kUtilityClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

THookList::~THookList() {
  while (!hooks_.empty()) {
    auto hook = std::move(hooks_.back());
    hooks_.pop_back();
  }
  if (utility_) DestroyWindow(utility_);
}

TControlHook* THookList::Find(THookTarget* control) const {
  for (const auto& h : hooks_)
    if (h->Control == control) return h.get();
  return nullptr;
}

TControlHook& THookList::GetOrCreate(THookTarget* control) {
  if (auto* found = Find(control)) return *found;
  hooks_.push_back(std::make_unique<TControlHook>());
  TControlHook* hook = hooks_.back().get();
  try {
    hook->SetControl(control);
  } catch (...) {
    Free(hook);
    throw;
  }
  return *hook;
}

bool THookList::Contains(const TControlHook* hook) const {
  return std::any_of(hooks_.begin(), hooks_.end(), [&](const auto& h) { return h.get() == hook; });
}

void THookList::Remove(TControlHook* hook) {
  for (auto it = hooks_.begin(); it != hooks_.end(); ++it)
    if (it->get() == hook) {
      (void)it->release();  // the caller is the hook's own destructor
      hooks_.erase(it);
      return;
    }
}

void THookList::Free(TControlHook* hook) {
  for (auto it = hooks_.begin(); it != hooks_.end(); ++it)
    if (it->get() == hook) {
      auto owned = std::move(*it);
      hooks_.erase(it);
      return;  // owned frees the hook, whose destructor finds itself gone from the list
    }
}

LRESULT CALLBACK THookList::UtilityProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != kHookReinstallMessage && msg != kHookReleaseMessage) return DefWindowProcA(window, msg, wParam, lParam);
  try {
    if (!Exists()) return 0;
    auto& list = Instance();
    auto* hook = reinterpret_cast<TControlHook*>(lParam);
    if (!list.Contains(hook)) return 0;
    if (msg == kHookReinstallMessage)
      hook->Install();
    else if (hook->Receivers.empty())
      list.Free(hook);
  } catch (const std::exception& e) {
    Report(e);
  }
  return 0;
}

}  // namespace quillon::skin
