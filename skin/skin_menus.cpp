// The menu bar, menu-bar popups, the system menu and the skinned menu windows (see skin_menus.h
// and skin_engine.h).
#include "skin/skin_menus.h"

#include <algorithm>

#include "skin/skin_engine.h"
#include "skin/skin_source.h"
#include "ui/application.h"

namespace quillon::skin {

namespace {

constexpr UINT_PTR kMenuTimerId = 0x5C1F;
const char kMenuWindowClass[] = "QuillonSkinMenu";

void DispatchPendingMessages() {
  ui::Application().DispatchPendingMessages();
}

// A glyph from rows of "#" (drawn: red 0) and "." (skipped: white).
TOmbraBmpRef GlyphFromRows(std::initializer_list<const char*> rows) {
  const int h = static_cast<int>(rows.size());
  const int w = static_cast<int>(std::string(*rows.begin()).size());
  auto bmp = TOmbraBmp::Create(w, h);
  int y = 0;
  for (const char* row : rows) {
    for (int x = 0; x < w; ++x) bmp->SetPixel(x, y, row[x] == '#' ? kSkinBlack : kSkinWhite);
    ++y;
  }
  return bmp;
}

// Draws the pixels of glyph whose red channel is 0 in colour.
void DrawGlyph(const TOmbraBmp& glyph, TOmbraBmp& canvas, int left, int top, TSkinColor color) {
  for (int y = 0; y < glyph.Height(); ++y)
    for (int x = 0; x < glyph.Width(); ++x)
      if (RedOf(glyph.Pixel(x, y)) == 0) canvas.SetPixel(left + x, top + y, color);
}

std::string ShortCutText(const ui::TKeyShortcut& s) {
  if (!s.key) return {};
  return std::string(s.alt ? "Alt+" : "") + s.key;
}

bool HasItems(const ui::TMenuEntry* item) {
  return item && !item->Items().empty();
}

RECT ScreenRect() {
  return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace

const TOmbraBmp& CheckGlyph() {
  static const TOmbraBmpRef g =
      GlyphFromRows({"......#", ".....##", "#...###", "##.###.", "#####..", ".###...", "..#...."});
  return *g;
}
const TOmbraBmp& RadioGlyph() {
  static const TOmbraBmpRef g = GlyphFromRows({".####.", "######", "######", "######", "######", ".####."});
  return *g;
}
const TOmbraBmp& SubmenuGlyph() {
  static const TOmbraBmpRef g = GlyphFromRows({"#...", "##..", "###.", "####", "###.", "##..", "#..."});
  return *g;
}

TOmbraBmpRef SystemMenuPicture(int tag) {
  // Tag 0 is the restore picture: a separator, whose tag would otherwise be 0 too, asks with
  // kNoSystemPicture.
  if (tag < 0 || tag > 5) return nullptr;
  const int side = tag == 3 ? 17 : 16;
  auto bmp = TOmbraBmp::Create(side, side);
  bmp->Fill(kMenuPictureKey);
  auto line = [&](int l, int t, int r, int b) { bmp->FillRect({l, t, r, b}, kSkinBlack); };
  auto frame = [&](int l, int t, int r, int b, int top) {
    line(l, t, r, t + top);
    line(l, b - 1, r, b);
    line(l, t, l + 1, b);
    line(r - 1, t, r, b);
  };
  switch (tag) {
    case 0:  // restore: two overlapping windows
      frame(5, 2, 14, 9, 2);
      frame(2, 6, 11, 13, 2);
      break;
    case 1:  // move: four arrows from the centre
      line(7, 2, 9, 14);
      line(2, 7, 14, 9);
      line(6, 3, 10, 4);
      line(6, 12, 10, 13);
      line(3, 6, 4, 10);
      line(12, 6, 13, 10);
      break;
    case 2:  // size: a diagonal double arrow
      for (int i = 3; i < 13; ++i) line(i, 15 - i, i + 2, 16 - i);
      line(9, 3, 13, 4);
      line(12, 3, 13, 7);
      line(3, 9, 4, 13);
      line(3, 12, 7, 13);
      break;
    case 3:  // minimize: a short bar near the bottom
      line(4, 12, 12, 14);
      break;
    case 4:  // maximize: a window with a thick top
      frame(2, 2, 14, 13, 3);
      break;
    case 5:  // close: a diagonal cross
      for (int i = 3; i < 13; ++i) {
        line(i, i, i + 2, i + 1);
        line(15 - i - 1, i, 15 - i + 1, i + 1);
      }
      break;
  }
  return bmp;
}

bool SkinHasMenus(const TscSkinSource* source) {
  if (!source) return false;
  TscSkinObject* popup = source->FindObject(TSkinKind::PopupMenu);
  return popup && popup->FindKind(TSkinKind::PopupMenuItem);
}

// ---- TscMenuItemObject ----

void TscMenuItemObject::Assign(const TscSkinObject& other) {
  TscSkinObject::Assign(other);
  if (const auto* item = dynamic_cast<const TscMenuItemObject*>(&other)) {
    CheckMark = item->CheckMark;
    RadioMark = item->RadioMark;
    HasSubmenu = item->HasSubmenu;
    Bitmap = item->Bitmap;
  }
}

void TscMenuItemObject::Paint(TOmbraBmp& canvas) {
  TscSkinObject::Paint(canvas);
  if (!Visible) return;
  auto centred = [&](const TOmbraRGB& g) { return Top + (Height - g.Height()) / 2; };
  if (CheckMark) {
    DrawGlyph(CheckGlyph(), canvas, Left + 2, centred(CheckGlyph()), TextColor);
  } else if (RadioMark) {
    DrawGlyph(RadioGlyph(), canvas, Left + 2, centred(RadioGlyph()), TextColor);
  } else {
    if (HasSubmenu)
      DrawGlyph(SubmenuGlyph(), canvas, Left + Width - SubmenuGlyph().Width() - 2, centred(SubmenuGlyph()), TextColor);
    if (Bitmap && Bitmap->Width() > 0) Bitmap->DrawTransparent(canvas, Left + 1, centred(*Bitmap), kMenuPictureKey);
  }
}

// ---- TscPopupMenu ----

TscPopupMenu::~TscPopupMenu() {
  CloseWindow();
}

void TscPopupMenu::CloseWindow() {
  if (!Window) return;
  TscMenuWnd* top = Window;
  while (top->ParentWindow) top = top->ParentWindow;
  Window = nullptr;
  top->Close();
}

void TscPopupMenu::Popup(int x, int y) {
  if (!SkinEngine || !SkinHasMenus(SkinEngine->Source()) || !Items) return;
  if (OnPopup) OnPopup(*this);
  CloseWindow();
  auto* window = new TscMenuWnd(SkinEngine->Form()->Handle(), this, Items, nullptr);
  window->ExclusionRect = ExclusionRect;
  ExclusionRect = {};
  Window = window;
  window->BuildAndShow(x, y);
}

// ---- engine: menu bar and system menu ----

std::unique_ptr<TscPopupMenu> TscSkinEngine::BuildPopup(ui::TMenuEntry& item) {
  return std::make_unique<TscPopupMenu>("sm" + item.Name(), this, &item);
}

void TscSkinEngine::RebuildMenuBar() {
  if (!mainMenu_) return;
  TscSkinObject* f = FormObject();
  TscSkinObject* templ = f ? f->FindKind(TSkinKind::MenuBarItem) : nullptr;
  if (!templ || !templ->Parent) return;
  hovered_ = nullptr;
  if (openPopup_) openPopup_->CloseWindow();
  openPopup_ = nullptr;
  menuBarPopups_.clear();
  TSkinConditions never;
  never.set(scNever);
  templ->Conditions = never;
  TscSkinObject* parent = templ->Parent;
  for (TscSkinObject* old : menuBarItems_) parent->RemoveChild(old);
  menuBarItems_.clear();
  const auto& items = mainMenu_->Items();
  for (std::size_t i = 0; i < items.size(); ++i) {
    ui::TMenuEntry& item = *items[i];
    menuBarPopups_.push_back(HasItems(&item) ? BuildPopup(item) : nullptr);
    auto object = templ->CreateNew();
    object->Assign(*templ);
    object->SetText(item.Caption());
    object->Conditions = TSkinConditions{1};
    object->Index = static_cast<int>(i);
    object->SetWidth(SkinTextRenderer().TextWidth(object->Font, item.Caption()) + 8);
    object->SetSource(source_.get());
    object->SetEngine(this);
    object->SetVisible(item.Visible);
    menuBarItems_.push_back(object.get());
    parent->AddChild(std::move(object));
  }
  parent->Realign();
  menuOpen_ = false;
  PostMessageA(Handle(), kRemoveMenuBarMessage, 0, 0);
}

void TscSkinEngine::ShowMenuBarPopup(int x, int y, int index) {
  if (!mainMenuShow_ || RolledUp() || index < 0 || index >= static_cast<int>(menuBarPopups_.size())) return;
  TscPopupMenu* popup = menuBarPopups_[static_cast<std::size_t>(index)].get();
  if (popup && popup == openPopup_) return;
  if (!SkinHasMenus(source_.get())) return;
  menuOpen_ = false;
  if (openPopup_) {
    MenuBarPaintable = false;
    openPopup_->CloseWindow();
    MenuBarPaintable = true;
    DispatchPendingMessages();
  }
  menuOpen_ = true;
  openPopup_ = popup;
  if (!popup) return;
  TscSkinObject* item = menuBarItems_[static_cast<std::size_t>(index)];
  RECT wr;
  GetWindowRect(Handle(), &wr);
  popup->ExclusionRect = {wr.left + item->Left, wr.top + item->Top, wr.left + item->Left + item->Width,
                          wr.top + item->Top + item->Height};
  popup->Popup(x, y);
}

void TscSkinEngine::MenuBarItemClick(TscSkinObject& item) {
  menuOpen_ = true;
  const int index = item.Index;
  if (index >= 0 && index < static_cast<int>(menuBarPopups_.size()) &&
      menuBarPopups_[static_cast<std::size_t>(index)]) {
    RECT wr;
    GetWindowRect(Handle(), &wr);
    ShowMenuBarPopup(wr.left + item.Left, wr.top + item.Top + item.Height, index);
    return;
  }
  if (mainMenu_ && index >= 0 && index < static_cast<int>(mainMenu_->Items().size()))
    mainMenu_->Items()[static_cast<std::size_t>(index)]->Click();
  menuOpen_ = false;
  RebuildMenuBar();
}

// Opens a menu bar item's popup below it, the item drawn as hovered.
void TscSkinEngine::OpenMenuBarItem(TscSkinObject* item) {
  if (hovered_ && hovered_ != item) hovered_->RaiseEvent(TSkinEvent::Leave);
  hovered_ = item;
  item->RaiseEvent(TSkinEvent::Hover);
  RECT wr;
  GetWindowRect(Handle(), &wr);
  ShowMenuBarPopup(wr.left + item->Left, wr.top + item->Top + item->Height, item->Index);
}

bool TscSkinEngine::MenuAccelerator(char ch) {
  if (!mainMenu_) return false;
  const char key = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (TscSkinObject* item : menuBarItems_) {
    const auto index = static_cast<std::size_t>(item->Index);
    if (index >= mainMenu_->Items().size() || skin::MenuAccelerator(mainMenu_->Items()[index]->Caption()) != key)
      continue;
    OpenMenuBarItem(item);
    return true;
  }
  return false;
}

bool TscSkinEngine::KeyMenu(char key) {
  if (key == ' ') {
    if (borderIcons_ & sbSystemMenu) ShowSystemMenu();
    return true;
  }
  if (key != 0) return false;
  if (!mainMenu_ || !mainMenuShow_) return true;
  for (TscSkinObject* item : menuBarItems_) {
    const auto index = static_cast<std::size_t>(item->Index);
    if (index >= mainMenu_->Items().size() || !mainMenu_->Items()[index]->Visible || !menuBarPopups_[index]) continue;
    OpenMenuBarItem(item);
    break;
  }
  return true;
}

void TscSkinEngine::ExitMenuLoop() {
  menuOpen_ = false;
  openPopup_ = nullptr;
}

void TscSkinEngine::BuildSystemMenu() {
  systemItems_ = std::make_unique<ui::TMenuEntry>("SystemMenu", "");
  HMENU standard = GetSystemMenu(Handle(), FALSE);
  const int count = standard ? GetMenuItemCount(standard) : 0;
  int n = 0;
  for (int i = 0; i < count; ++i) {
    char text[100] = {};
    GetMenuStringA(standard, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
    std::string caption = text, shortcut;
    if (const auto tab = caption.find('\t'); tab != std::string::npos) {
      shortcut = caption.substr(tab + 1);
      caption.erase(tab);
    }
    if (caption.empty()) {
      systemItems_->Add("", "-")->Tag = kNoSystemPicture;
      continue;
    }
    ui::TMenuEntry* item = systemItems_->Add("miSys" + std::to_string(i), caption);
    item->Hint = shortcut;
    item->Tag = n++;
  }
  systemItems_->Add("", "-")->Tag = kNoSystemPicture;
  ui::TMenuEntry* roll = systemItems_->Add("miSysRoll", "Rollu&p");
  roll->Tag = 6;
  static const char* const kActions[] = {"max", "move", "size", "min", "max", "close", "rollup"};
  for (const auto& item : systemItems_->Items()) {
    if (item->Caption() == "-") continue;
    ui::TMenuEntry* raw = item.get();
    raw->OnClick = [this, raw](ui::TOwnedObject&) {
      if (raw->Tag < 0 || raw->Tag > 6) return;
      if (TscSkinObject* f = FormObject()) f->RunEvent(kActions[raw->Tag]);
      RepaintFrame();
    };
  }
  systemMenu_ = std::make_unique<TscPopupMenu>("SystemMenu", this, systemItems_.get());
  systemMenu_->ItemPicture = [](const ui::TMenuEntry& item) { return SystemMenuPicture(item.Tag); };
}

void TscSkinEngine::ShowSystemMenu() {
  const bool maximized = IsZoomed(Handle()) != FALSE;
  for (const auto& item : systemItems_->Items()) {
    if (item->Caption() == "-") continue;
    bool on = false;
    switch (item->Tag) {
      case 0:
        on = (borderIcons_ & sbMaximize) && maximized;
        break;
      case 1:
      case 5:
        on = true;
        break;
      case 2:
        on = (flags_ & kFrameSizing) != 0;
        break;
      case 3:
        on = (borderIcons_ & sbMinimize) != 0;
        break;
      case 4:
        on = (borderIcons_ & sbMaximize) && !maximized;
        break;
      case 6:
        on = (borderIcons_ & sbRollup) != 0;
        break;
    }
    item->Enabled = on;
  }
  POINT p{0, 0};
  TscSkinObject* menuBar = MenuBarObject();
  TscSkinObject* client = ClientObject();
  if (menuBar && client) p = {menuBar->Left - client->Left, menuBar->Top - client->Top};
  ClientToScreen(Handle(), &p);
  systemMenu_->Popup(p.x, p.y);
}

// ---- TscMenuWnd ----

TscMenuWnd::TscMenuWnd(HWND owner, TscPopupMenu* menu, ui::TMenuEntry* items, TscMenuWnd* parentWindow)
    : Items(items),
      Menu(menu),
      Engine(menu->SkinEngine),
      Source(menu->SkinEngine ? menu->SkinEngine->Source() : nullptr),
      ParentWindow(parentWindow),
      owner_(owner) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.style = CS_DROPSHADOW;
    wc.lpfnWndProc = &TscMenuWnd::Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kMenuWindowClass;
    RegisterClassA(&wc);
    registered = true;
  }
  handle_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kMenuWindowClass, "", WS_POPUP, 0, 0, 10, 10, owner,
                            nullptr, GetModuleHandleA(nullptr), this);
  SetTimer(handle_, kMenuTimerId, 20, nullptr);
  timerOn_ = true;
}

TscMenuWnd::~TscMenuWnd() {
  destroying_ = true;
  StopTimer();
  if (ParentWindow && ParentWindow->SubWindow == this) ParentWindow->SubWindow = nullptr;
  if (SubWindow) {
    SubWindow->ParentWindow = nullptr;
    SubWindow->Close();
  }
  if (Menu && Menu->Window == this) Menu->Window = nullptr;
  Root.reset();
}

void TscMenuWnd::StopTimer() {
  if (timerOn_ && handle_) KillTimer(handle_, kMenuTimerId);
  timerOn_ = false;
}

void TscMenuWnd::Close() {
  if (closing_) return;
  closing_ = true;
  Hovered = nullptr;
  StopTimer();
  if (handle_) DestroyWindow(handle_);  // WM_NCDESTROY frees the object
}

TscMenuItemObject* TscMenuWnd::ObjectOf(const ui::TMenuEntry* item) const {
  if (!Root || !Items) return nullptr;
  const auto& items = Items->Items();
  for (int i = 0; i < Root->ChildCount(); ++i)
    if (auto* o = dynamic_cast<TscMenuItemObject*>(Root->Child(i)))
      if (o->Index >= 0 && o->Index < static_cast<int>(items.size()) &&
          items[static_cast<std::size_t>(o->Index)].get() == item)
        return o;
  return nullptr;
}

ui::TMenuEntry* TscMenuWnd::ItemOf(const TscSkinObject* object) const {
  const auto* o = dynamic_cast<const TscMenuItemObject*>(object);
  if (!o || !Items || o->Index < 0 || o->Index >= static_cast<int>(Items->Items().size())) return nullptr;
  return Items->Items()[static_cast<std::size_t>(o->Index)].get();
}

void TscMenuWnd::BuildAndShow(int x, int y) {
  if (!Source || !Items) return;
  TscSkinObject* popup = Source->FindObject(TSkinKind::PopupMenu);
  if (!popup) return;
  if (Engine) Engine->MenuBarPaintable = false;
  Root = popup->CreateNew();
  Root->Assign(*popup);
  Root->SetSource(Source);
  Root->SetEngine(Engine);
  Root->Realign();
  TscSkinObject* templ = Root->FindKind(TSkinKind::PopupMenuItem);
  const auto& items = Items->Items();
  int widest = 0, visibleCount = 0;
  for (const auto& item : items) {
    widest = std::max(widest, SkinTextRenderer().TextWidth(templ->Font, item->Caption()));
    if (item->Visible) ++visibleCount;
  }
  int clientWidth = widest + 70, clientHeight = templ->Height * visibleCount;
  templ->SetVisible(false);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ui::TMenuEntry& item = *items[i];
    auto object = std::make_unique<TscMenuItemObject>();
    object->Assign(*templ);
    object->Text = item.Caption();
    object->SecondText = ShortCutText(item.ShortCut);
    if (object->SecondText.empty() && Menu->ItemPicture) object->SecondText = item.Hint;  // system menu keys
    object->SetVisible(item.Visible);
    object->Enabled = item.Enabled;
    object->RadioMark = item.Checked && item.RadioItem;
    object->CheckMark = item.Checked && !item.RadioItem;
    object->HasSubmenu = HasItems(&item);
    if (Menu->ItemPicture) object->Bitmap = Menu->ItemPicture(item);
    object->Index = static_cast<int>(i);
    object->TextMargins[0] = 22;
    object->TextMargins[1] = 0;
    object->TextMargins[2] = 16;
    object->TextMargins[3] = 0;
    Root->AddChild(std::move(object));
  }
  for (int i = 0; i < Root->ChildCount(); ++i) {
    const TscSkinObject* c = Root->Child(i);
    if (c->Kind == TSkinKind::PopupMenuItem) continue;
    switch (c->Align) {
      case TSkinAlign::Left:
      case TSkinAlign::MostLeft:
      case TSkinAlign::Right:
      case TSkinAlign::MostRight:
        clientWidth += c->Width;
        break;
      case TSkinAlign::Top:
      case TSkinAlign::MostTop:
      case TSkinAlign::Bottom:
      case TSkinAlign::MostBottom:
        clientHeight += c->Height;
        break;
      default:
        break;
    }
  }
  Root->SetBounds({0, 0, clientWidth, clientHeight});
  const RECT screen = ScreenRect();
  const TSkinRect place = PlaceMenuWindow(x, y, clientWidth, clientHeight, ExclusionRect, ParentWindow != nullptr,
                                          {screen.left, screen.top, screen.right, screen.bottom});
  SetWindowPos(handle_, HWND_TOPMOST, place.left, place.top, clientWidth, clientHeight, SWP_NOACTIVATE);
  ShowWindow(handle_, SW_SHOW);
  if (Engine) Engine->MenuBarPaintable = true;
}

TscSkinObject* TscMenuWnd::UsableHit(int x, int y) {
  if (!Root) return nullptr;
  TscSkinObject* hit = Root->ObjectAt(x, y);
  if (!hit || hit->Text.empty() || hit->Text == "-" || !hit->Enabled || !hit->Visible) return nullptr;
  return hit;
}

void TscMenuWnd::CloseSubWindow() {
  if (!SubWindow) return;
  TscMenuWnd* sub = SubWindow;
  sub->StopTimer();
  sub->Close();
  SubWindow = nullptr;
  DispatchPendingMessages();
}

void TscMenuWnd::TimerStep() {
  if (inTimer_ || destroying_) return;
  inTimer_ = true;
  const HWND self = handle_;
  AdvanceSkinAnimations(
      [self](const TscSkinObject& o) { return o.WindowHandle == reinterpret_cast<TSkinWindow>(self); });
  POINT p;
  GetCursorPos(&p);
  RECT wr;
  GetWindowRect(handle_, &wr);
  TscSkinObject* hit = UsableHit(p.x - wr.left, p.y - wr.top);
  if (hit && hit->Kind == TSkinKind::PopupMenuItem) {
    ui::TMenuEntry* item = ItemOf(hit);
    if (item && !(SubWindow && SubWindow->Items == item)) {
      if (!HasItems(item)) {
        if (SubWindow) CloseSubWindow();
      } else {
        CloseSubWindow();
        auto* sub = new TscMenuWnd(owner_, Menu, item, this);
        sub->ExclusionRect = {wr.left + hit->Left, wr.top + hit->Top, wr.left + hit->Left + hit->Width,
                              wr.top + hit->Top + hit->Height};
        SubWindow = sub;
        sub->BuildAndShow(p.x, p.y);
      }
    }
  }
  if (!IsWindow(self)) return;  // closed while messages ran
  if (hit != Hovered) {
    if (Hovered) Hovered->RaiseEvent(TSkinEvent::Leave);
    if (hit) hit->RaiseEvent(TSkinEvent::Hover);
    Hovered = hit;
  }
  inTimer_ = false;
}

void TscMenuWnd::LeftButtonUp(int x, int y) {
  TscSkinObject* hit = Root ? Root->ObjectAt(x, y) : nullptr;
  if (!hit || hit->Kind != TSkinKind::PopupMenuItem || hit->Text.empty() || hit->Text == "-" || !hit->Enabled) return;
  ui::TMenuEntry* item = ItemOf(hit);
  if (!item || HasItems(item)) return;
  TscSkinEngine* engine = Engine;
  PostMessageA(owner_, WM_EXITMENULOOP, 0, 0);
  TscMenuWnd* top = this;
  while (top->ParentWindow) top = top->ParentWindow;
  top->Close();  // frees the whole chain, this window included
  item->Click();
  if (engine) engine->RebuildMenuBar();
}

void TscMenuWnd::KeyPress(WPARAM key) {
  const HWND owner = owner_;
  if (key == VK_ESCAPE) {
    PostMessageA(owner, WM_EXITMENULOOP, 0, 0);
    if (ParentWindow) {
      TscMenuWnd* parent = ParentWindow;
      ParentWindow = nullptr;
      parent->SubWindow = nullptr;
      parent->Close();
    }
    Close();
    return;
  }
  if (!Items) return;
  std::vector<ui::TMenuEntry*> chosen;
  for (const auto& item : Items->Items())
    if (item->Enabled && item->Visible && item->Caption() != "-" && MenuAccelerator(item->Caption()) != 0 &&
        static_cast<WPARAM>(static_cast<unsigned char>(MenuAccelerator(item->Caption()))) == key)
      chosen.push_back(item.get());
  if (chosen.empty()) return;
  TscSkinEngine* engine = Engine;
  if (ParentWindow) {
    TscMenuWnd* parent = ParentWindow;
    ParentWindow = nullptr;
    parent->SubWindow = nullptr;
    parent->Close();
  }
  Close();
  for (ui::TMenuEntry* item : chosen) {
    PostMessageA(owner, WM_EXITMENULOOP, 0, 0);
    item->Click();
  }
  if (engine) engine->RebuildMenuBar();
}

void TscMenuWnd::Activation(WPARAM wp, LPARAM lp) {
  const HWND other = reinterpret_cast<HWND>(lp);
  if (LOWORD(wp) == WA_ACTIVE) {
    if (IsWindow(owner_) && IsWindowVisible(owner_)) SendMessageA(owner_, WM_NCACTIVATE, 1, 1);
    return;
  }
  if (LOWORD(wp) != WA_INACTIVE || destroying_ || closing_) return;
  if (!ParentWindow) {
    if (!(SubWindow && other == SubWindow->Handle())) SendMessageA(owner_, WM_EXITMENULOOP, 0, 0);
    if (!SubWindow) Close();
    return;
  }
  if (SubWindow && other == SubWindow->Handle()) return;
  if (timerOn_) {
    const HWND owner = owner_;
    TscMenuWnd* parent = ParentWindow;
    ParentWindow = nullptr;
    parent->SubWindow = nullptr;
    Close();
    if (other != parent->Handle()) parent->Close();
    SendMessageA(owner, WM_EXITMENULOOP, 0, 0);
    return;
  }
  if (reactivating_) return;
  reactivating_ = true;
  TscMenuWnd* parent = ParentWindow;
  Close();
  if (parent) SetForegroundWindow(parent->Handle());
}

void TscMenuWnd::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(handle_, &ps);
  RECT cr;
  GetClientRect(handle_, &cr);
  if (Root && cr.right > 0 && cr.bottom > 0) {
    Root->SetWindowHandle(reinterpret_cast<TSkinWindow>(handle_));
    TOmbraBmp canvas(cr.right, cr.bottom);
    Root->Paint(canvas);
    if (HDC source = static_cast<HDC>(MemoryDc(canvas))) BitBlt(dc, 0, 0, cr.right, cr.bottom, source, 0, 0, SRCCOPY);
  }
  EndPaint(handle_, &ps);
}

LRESULT CALLBACK TscMenuWnd::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    SetPropA(h, "QuillonMenuWnd", reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    static_cast<TscMenuWnd*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams)->handle_ = h;
  }
  auto* self = static_cast<TscMenuWnd*>(GetPropA(h, "QuillonMenuWnd"));
  if (!self) return DefWindowProcA(h, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    RemovePropA(h, "QuillonMenuWnd");
    self->handle_ = nullptr;
    delete self;
    return DefWindowProcA(h, msg, wp, lp);
  }
  try {
    return self->WndProc(msg, wp, lp);
  } catch (const std::exception& e) {
    ui::Application().ReportException(e);
    return 0;
  }
}

LRESULT TscMenuWnd::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  const HWND h = handle_;
  switch (msg) {
    case WM_TIMER:
      if (wp == kMenuTimerId) TimerStep();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_LBUTTONUP:
      LeftButtonUp(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      return 0;
    case WM_KEYDOWN:
      KeyPress(wp);
      return 0;
    case WM_ACTIVATE:
      Activation(wp, lp);
      // The platform's own handling gives the window the keyboard focus.
      if (IsWindow(h)) DefWindowProcA(h, msg, wp, lp);
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_ACTIVATE;
  }
  return DefWindowProcA(h, msg, wp, lp);
}

// ---- TAccelWnd ----

TAccelWnd::TAccelWnd(ui::TWindowControl* form, TscSkinEngine* engine)
    : ui::TWindowControl(form, "AccelWnd"), engine_(engine) {
  CreateHandle(nullptr, WS_CHILD | WS_VISIBLE, 0, "", 0, 0, 0, 0);
}

LRESULT TAccelWnd::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == ui::kDialogCharMessage) {
    if (!engine_ || !engine_->Source() || !Parent()) return 0;
    return SendMessageA(Parent()->Handle(), kMenuAcceleratorMessage, kMenuAcceleratorCode,
                        static_cast<LPARAM>(static_cast<unsigned char>(wParam)));
  }
  return ui::TWindowControl::WndProc(msg, wParam, lParam);
}

}  // namespace quillon::skin
