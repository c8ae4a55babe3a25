// Skinned menus: the popup menu component that shows itself through a skinned menu window, the
// menu window (a borderless stay-on-top window laying out one skin object per menu item, with a
// 20 ms timer for hover and submenus), the menu item object that adds check, radio and submenu
// glyphs to a skin object, and the zero-size control that turns Alt+letter into the engine's
// menu accelerator message.
//
// Menu windows form a chain along the submenu path: each has at most one SubWindow. A window frees
// itself when it is closed (its window is destroyed); freeing one frees its SubWindow first and
// clears its ParentWindow's reference to it.
// User-interface thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "skin/skin_objects.h"
#include "ui/control.h"
#include "ui/menu.h"

namespace quillon::skin {

class TscSkinEngine;
class TscSkinSource;
class TscMenuWnd;

// Glyphs drawn where a pixel's red channel is 0.
const TOmbraBmp& CheckGlyph();    // 7 x 7
const TOmbraBmp& RadioGlyph();    // 6 x 6
const TOmbraBmp& SubmenuGlyph();  // 4 x 7
// The system menu's pictures by Tag 0..5 (restore, move, size, minimize, maximize, close): black
// on magenta, which menus draw as transparent.
TOmbraBmpRef SystemMenuPicture(int tag);
// The tag of a system menu row without a picture (its separators).
inline constexpr int kNoSystemPicture = -1;
inline constexpr TSkinColor kMenuPictureKey = SkinRgb(255, 0, 255);

class TscMenuItemObject : public TscSkinObject {
 public:
  std::unique_ptr<TscSkinObject> CreateNew() const override { return std::make_unique<TscMenuItemObject>(); }
  void Assign(const TscSkinObject& other) override;
  void Paint(TOmbraBmp& canvas) override;

  bool CheckMark = false;
  bool RadioMark = false;
  bool HasSubmenu = false;
  TOmbraBmpRef Bitmap;
};

class TscPopupMenu : public ui::TOwnedObject {
 public:
  TscPopupMenu(std::string name, TscSkinEngine* engine, ui::TMenuEntry* items)
      : ui::TOwnedObject(std::move(name)), SkinEngine(engine), Items(items) {}
  ~TscPopupMenu() override;

  // Shows the items through a menu window at (x, y) (screen); nothing when the skin has no
  // popupmenu object with a popupmenuitem inside.
  void Popup(int x, int y);
  // Closes the open menu window (and its chain).
  void CloseWindow();

  TscSkinEngine* SkinEngine;
  ui::TMenuEntry* Items;  // the item whose sub-items are shown (borrowed)
  std::function<void(TscPopupMenu&)> OnPopup;
  // The picture of an item, when it has one.
  std::function<TOmbraBmpRef(const ui::TMenuEntry&)> ItemPicture;
  TscMenuWnd* Window = nullptr;
  TSkinRect ExclusionRect;
};

// True when the skin can draw menus: a popupmenu object with a popupmenuitem inside.
bool SkinHasMenus(const TscSkinSource* source);

class TscMenuWnd {
 public:
  TscMenuWnd(HWND owner, TscPopupMenu* menu, ui::TMenuEntry* items, TscMenuWnd* parentWindow);
  ~TscMenuWnd();
  TscMenuWnd(const TscMenuWnd&) = delete;
  TscMenuWnd& operator=(const TscMenuWnd&) = delete;

  // Lays the items out and shows the window at (x, y) (screen), or beside ExclusionRect.
  void BuildAndShow(int x, int y);
  // Destroys the window, which frees this object.
  void Close();
  void TimerStep();
  void LeftButtonUp(int x, int y);
  void KeyPress(WPARAM key);

  HWND Handle() const { return handle_; }
  ui::TMenuEntry* Items;
  TscPopupMenu* Menu;
  TscSkinEngine* Engine;
  TscSkinSource* Source;
  std::unique_ptr<TscSkinObject> Root;
  TscMenuWnd* ParentWindow;
  TscMenuWnd* SubWindow = nullptr;
  TscSkinObject* Hovered = nullptr;
  TSkinRect ExclusionRect;
  bool TimerRunning() const { return timerOn_; }
  // The item object showing a menu item, or nullptr.
  TscMenuItemObject* ObjectOf(const ui::TMenuEntry* item) const;
  ui::TMenuEntry* ItemOf(const TscSkinObject* object) const;

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  void StopTimer();
  void Activation(WPARAM wp, LPARAM lp);
  void Paint();
  TscSkinObject* UsableHit(int x, int y);
  void CloseSubWindow();
  HWND owner_;
  HWND handle_ = nullptr;
  bool timerOn_ = false;
  bool inTimer_ = false;
  bool reactivating_ = false;
  bool destroying_ = false;
  bool closing_ = false;
};

// The zero-size child of a skinned form that offers Alt+letter to the engine's menu bar.
class TAccelWnd : public ui::TWindowControl {
 public:
  TAccelWnd(ui::TWindowControl* form, TscSkinEngine* engine);

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  TscSkinEngine* engine_;
};

}  // namespace quillon::skin
