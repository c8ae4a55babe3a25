// TscSkinEngine: the component that dresses a form in a skin. It takes over the window frame
// (the non-client size, painting, the window's shape, hit tests, activation), runs the skin
// objects' mouse events, draws the menu bar and opens skinned menus (skin_menus.h), and offers
// roll-up, stay-on-top and a skinned system menu.
//
// States: skinned (a source attached: hook active, 10 ms timer running, no standard menu bar) and
// standard (no source: the form's own frame with the mapped border icons and its menu bar).
// Construction leaves a transitional state; Loaded() ends it in one of the two. A skin that is
// missing or fails to load leaves the standard frame and reports nothing.
//
// Ownership: the engine owns its hook, the source, the frame bitmap, the menu-bar popups, the
// system menu and the accelerator control; the form and the main menu are borrowed and outlive
// the engine (the form destroys its components before its window).
// User-interface thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "skin/ombra_bmp.h"
#include "skin/ombra_hook.h"
#include "skin/skin_frame.h"
#include "skin/skin_source.h"
#include "ui/form.h"
#include "ui/menu.h"

namespace quillon::skin {

class TscPopupMenu;
class TAccelWnd;

// The engine's private window messages.
inline constexpr UINT kRollUpToggleMessage = WM_USER + 105;     // 1129
inline constexpr UINT kStayOnTopToggleMessage = WM_USER + 106;  // 1130
inline constexpr UINT kSystemMenuMessage = WM_USER + 108;       // 1132
inline constexpr UINT kSkinChangedMessage = WM_USER + 109;      // 1133
inline constexpr UINT kMenuAcceleratorMessage = WM_USER + 111;  // 1135
inline constexpr UINT kRemoveMenuBarMessage = WM_USER + 112;    // 1136
inline constexpr WPARAM kMenuAcceleratorCode = 0xF100;

using TOnCustomAction = std::function<void(ui::TOwnedObject& sender, int action)>;

class TscSkinEngine : public ui::TOwnedObject, public TSkinEngineLink {
 public:
  TscSkinEngine(ui::TFormWindow* form, std::string name);
  ~TscSkinEngine() override;

  // Stored properties, applied in this order by the form; SetSkinFile loads at once.
  void SetMainMenu(ui::TMenuBar* menu);
  void SetMainMenuShow(bool show) { mainMenuShow_ = show; }
  void SetBorderIcons(TscBorderIcons icons);
  void SetSkinFile(const std::string& file);
  void SetSkinFolder(const std::string& folder);
  void SetSizeable(bool sizeable) { sizeable_ = sizeable; }
  // The form has finished creating its components: attach the source (or the standard frame).
  void Loaded();

  ui::TMenuBar* MainMenu() const { return mainMenu_; }
  bool MainMenuShow() const { return mainMenuShow_; }
  TscBorderIcons BorderIcons() const { return borderIcons_; }
  const std::string& SkinFile() const { return skinFile_; }
  bool Sizeable() const { return sizeable_; }
  TOnCustomAction OnCustomAction;

  // Run-time state.
  ui::TFormWindow* Form() const { return form_; }
  TscSkinSource* Source() const { return source_.get(); }
  bool Active() const { return active_; }
  unsigned StateFlags() const { return flags_; }
  int WindowWidth() const { return windowWidth_; }
  int WindowHeight() const { return windowHeight_; }
  TscSkinObject* Hovered() const { return hovered_; }
  bool MenuOpen() const { return menuOpen_; }
  TscPopupMenu* OpenPopup() const { return openPopup_; }
  TscPopupMenu* SystemMenu() const { return systemMenu_.get(); }
  const std::vector<TscSkinObject*>& MenuBarItems() const { return menuBarItems_; }
  const std::vector<std::unique_ptr<TscPopupMenu>>& MenuBarPopups() const { return menuBarPopups_; }
  TAccelWnd* AccelControl() const { return accel_.get(); }
  bool MenuBarPaintable = true;

  // The skin objects the frame is built from (nullptr when missing).
  TscSkinObject* FormObject() const;
  TscSkinObject* ClientObject() const;
  TscSkinObject* MenuBarObject() const;

  // Frame work.
  void RepaintFrame();
  void Refresh();
  void UpdateRegion();
  int RolledUpHeight();
  void ToggleRollUp();
  void ToggleStayOnTop();
  // Menus (skin_menus.cpp).
  void RebuildMenuBar();
  void ShowMenuBarPopup(int x, int y, int index);
  void OpenMenuBarItem(TscSkinObject* item);
  void ShowSystemMenu();
  void MenuBarItemClick(TscSkinObject& item);
  // Message 1135: the first top-level item with ch as its accelerator opens; false when none.
  bool MenuAccelerator(char ch);
  // The keyboard's way into the menus (the system command SC_KEYMENU): key 0 (F10, Alt alone)
  // opens the first menu-bar popup, a space the system menu. False for any other key.
  bool KeyMenu(char key);
  // A double click on a caption without an action of its own: maximise or restore.
  void CaptionDoubleClick();
  void ExitMenuLoop();
  // One 10 ms step: animations and hover.
  void TimerTick();

  // TSkinEngineLink
  bool CanMinimize() override { return (borderIcons_ & sbMinimize) != 0; }
  bool CanMaximize() override { return (borderIcons_ & sbMaximize) != 0; }
  bool RolledUp() override { return (flags_ & kFrameRolledUp) != 0; }
  bool CustomAction(int action) override;

 private:
  HWND Handle() const { return form_->Handle(); }
  void Load(const std::function<void(TscSkinSource&)>& load);
  void Attach(std::unique_ptr<TscSkinSource> source);
  void AttachStandard();
  void SetStandardBorderIcons(bool fromProperty);
  void StartTimer(bool on);
  TFrameState FrameState() const;
  void VisibilityPass();
  void Before(THookMessage& m, bool& handled);
  void EraseBackground(HDC dc);
  void FrameButtonDown(THookMessage& m);
  void OwnMessage(THookMessage& m);
  void After(THookMessage& m, bool& handled);
  void CalcSize(THookMessage& m);
  LRESULT HitTest(LPARAM point);
  void EraseClient(HDC dc);
  void Click(int x, int y);
  void MinMaxInfo(MINMAXINFO* info);
  void ResizeHeight(int height);
  void BuildSystemMenu();
  std::unique_ptr<TscPopupMenu> BuildPopup(ui::TMenuEntry& item);
  void RemoveStandardMenuBar();
  void RestoreStandardMenuBar();

  ui::TFormWindow* form_;
  TControlTarget target_;
  TscHook hook_;
  std::unique_ptr<TscSkinSource> source_;
  ui::TMenuBar* mainMenu_ = nullptr;
  bool mainMenuShow_ = true;
  TscBorderIcons borderIcons_ = kAllBorderIcons;
  std::string skinFile_, skinFolder_;
  bool sizeable_ = true;
  bool active_ = false;
  int windowWidth_ = 0, windowHeight_ = 0;
  LONG savedStyle_ = 0;
  LONG textStyle_ = 0;
  unsigned flags_ = kFrameSizing;
  int heightBeforeRollUp_ = 0;
  LRESULT lastTextLength_ = 0;
  TOmbraBmp frameBitmap_;
  TscSkinObject* hovered_ = nullptr;
  bool timerOn_ = false;
  bool menuOpen_ = false;
  std::vector<TscSkinObject*> menuBarItems_;
  std::vector<std::unique_ptr<TscPopupMenu>> menuBarPopups_;
  TscPopupMenu* openPopup_ = nullptr;
  std::unique_ptr<ui::TMenuEntry> systemItems_;
  std::unique_ptr<TscPopupMenu> systemMenu_;
  std::unique_ptr<TAccelWnd> accel_;
  HMENU standardMenuBar_ = nullptr;
  bool acceleratorTaken_ = false;
};

// The skin-changed notice (message 1133) to every control of a form, children included.
void SendSkinChanged(ui::TWindowControl& root);

}  // namespace quillon::skin
