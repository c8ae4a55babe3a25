// The skin engine's frame: loading and attaching, the hooked messages, painting, the window
// region, hit tests, roll-up and stay-on-top (see skin_engine.h). Menus are in skin_menus.cpp.
#include "skin/skin_engine.h"

#include <algorithm>

#include "skin/skin_menus.h"
#include "ui/application.h"
#include "util/files.h"

namespace quillon::skin {

namespace {

constexpr UINT_PTR kFrameTimerId = 0x5C1E;
constexpr LONG kStandardIconStyles = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

void DispatchPendingMessages() {
  ui::Application().DispatchPendingMessages();
}

bool ContainsMax(const std::vector<std::string>& lines) {
  for (const auto& line : lines) {
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find("max") != std::string::npos) return true;
  }
  return false;
}

HRGN RegionHandle(const TSkinRegion& region) {
  const std::vector<TSkinRect> rects = region.Rects();
  std::vector<char> data(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
  auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
  header->dwSize = sizeof(RGNDATAHEADER);
  header->iType = RDH_RECTANGLES;
  header->nCount = static_cast<DWORD>(rects.size());
  header->nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
  RECT bound{0, 0, 0, 0};
  auto* out = reinterpret_cast<RECT*>(data.data() + sizeof(RGNDATAHEADER));
  for (std::size_t i = 0; i < rects.size(); ++i) {
    out[i] = RECT{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom};
    if (i == 0) bound = out[i];
    bound.left = std::min(bound.left, out[i].left);
    bound.top = std::min(bound.top, out[i].top);
    bound.right = std::max(bound.right, out[i].right);
    bound.bottom = std::max(bound.bottom, out[i].bottom);
  }
  header->rcBound = bound;
  return ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data()));
}

}  // namespace

void SendSkinChanged(ui::TWindowControl& root) {
  for (ui::TWindowControl* child : root.Children()) {
    if (child->Handle()) SendMessageA(child->Handle(), kSkinChangedMessage, 0, 0);
    SendSkinChanged(*child);
  }
}

TscSkinEngine::TscSkinEngine(ui::TFormWindow* form, std::string name)
    : ui::TOwnedObject(std::move(name)), form_(form), target_(*form) {
  hook_.SetActive(false);
  hook_.BeforeMessage = [this](TscHook&, THookMessage& m, bool& handled) { Before(m, handled); };
  hook_.AfterMessage = [this](TscHook&, THookMessage& m, bool& handled) { After(m, handled); };
  hook_.SetWinControl(&target_);
  BuildSystemMenu();
  SetStandardBorderIcons(false);
  accel_ = std::make_unique<TAccelWnd>(form_, this);
  frameBitmap_.Resize(std::max(1, GetSystemMetrics(SM_CXSCREEN)), std::max(1, GetSystemMetrics(SM_CYSCREEN)));
}

TscSkinEngine::~TscSkinEngine() {
  StartTimer(false);
  hook_.SetActive(false);
  hook_.SetWinControl(nullptr);
  target_.SetDestroying();
  hovered_ = nullptr;
  openPopup_ = nullptr;
  menuBarPopups_.clear();
  systemMenu_.reset();
  source_.reset();
}

// ---- properties and loading ----

void TscSkinEngine::SetMainMenu(ui::TMenuBar* menu) {
  menuOpen_ = false;
  mainMenu_ = menu;
  RebuildMenuBar();
}

void TscSkinEngine::SetBorderIcons(TscBorderIcons icons) {
  borderIcons_ = icons;
  form_->Invalidate();
}

void TscSkinEngine::SetSkinFile(const std::string& file) {
  skinFile_ = file;
  const TSkinFileLocation where = FindSkinFile(file, AppPath());
  if (where.kind == TSkinFileLocation::Nothing) return;
  if (where.kind == TSkinFileLocation::Unload) {
    Load(nullptr);
    return;
  }
  Load([where](TscSkinSource& s) { LoadSkinLocation(where, s); });
}

void TscSkinEngine::SetSkinFolder(const std::string& folder) {
  skinFolder_ = folder;
  if (folder.empty()) {
    Load(nullptr);
    return;
  }
  if (!IsExistingFolder(folder)) return;
  Load([folder](TscSkinSource& s) { s.LoadFromFolder(folder); });
}

void TscSkinEngine::Load(const std::function<void(TscSkinSource&)>& load) {
  StartTimer(false);
  hook_.SetActive(false);
  hovered_ = nullptr;
  if (openPopup_) openPopup_->CloseWindow();
  openPopup_ = nullptr;
  DispatchPendingMessages();
  // The menu-bar objects belong to the old source's tree.
  menuBarItems_.clear();
  menuBarPopups_.clear();
  source_.reset();
  bool attached = false;
  if (load) {
    try {
      auto fresh = std::make_unique<TscSkinSource>();
      load(*fresh);
      if (fresh->Loaded || !fresh->Objects.empty()) {
        Attach(std::move(fresh));
        attached = true;
      }
    } catch (const std::exception&) {
      // A damaged skin leaves the window as it was: the standard frame.
    }
  }
  if (!attached) {
    AttachStandard();
    return;
  }
  RepaintFrame();
  Refresh();
  hook_.SetActive(true);
  StartTimer(true);
  DispatchPendingMessages();
  RepaintFrame();
}

void TscSkinEngine::Loaded() {
  if (source_) {
    auto held = std::move(source_);
    Attach(std::move(held));
  } else {
    AttachStandard();
  }
  RebuildMenuBar();
}

void TscSkinEngine::SetStandardBorderIcons(bool fromProperty) {
  LONG style = GetWindowLongA(Handle(), GWL_STYLE) & ~kStandardIconStyles;
  if (fromProperty) {
    if (borderIcons_ & sbSystemMenu) style |= WS_SYSMENU;
    if (borderIcons_ & sbMinimize) style |= WS_MINIMIZEBOX;
    if (borderIcons_ & sbMaximize) style |= WS_MAXIMIZEBOX;
  }
  SetWindowLongA(Handle(), GWL_STYLE, style);
  LONG ex = GetWindowLongA(Handle(), GWL_EXSTYLE) & ~WS_EX_CONTEXTHELP;
  if (fromProperty && (borderIcons_ & sbHelp)) ex |= WS_EX_CONTEXTHELP;
  SetWindowLongA(Handle(), GWL_EXSTYLE, ex);
}

void TscSkinEngine::Attach(std::unique_ptr<TscSkinSource> source) {
  source_ = std::move(source);
  SetStandardBorderIcons(false);
  source_->Attach(this);
  if (!source_->Sizeable) {
    sizeable_ = false;
    if (TscSkinObject* f = FormObject())
      SetWindowPos(Handle(), nullptr, 0, 0, f->Width, f->Height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RemoveStandardMenuBar();
  DispatchPendingMessages();
  hook_.SetActive(true);
  StartTimer(true);
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Refresh();
}

void TscSkinEngine::AttachStandard() {
  source_.reset();
  SetStandardBorderIcons(true);
  RestoreStandardMenuBar();
  hook_.SetActive(false);
  StartTimer(false);
  SetWindowRgn(Handle(), nullptr, TRUE);
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendSkinChanged(*form_);
  form_->Invalidate();
}

void TscSkinEngine::RemoveStandardMenuBar() {
  if (HMENU bar = GetMenu(Handle())) {
    standardMenuBar_ = bar;
    SetMenu(Handle(), nullptr);
  }
}

void TscSkinEngine::RestoreStandardMenuBar() {
  if (standardMenuBar_ && !GetMenu(Handle())) SetMenu(Handle(), standardMenuBar_);
}

void TscSkinEngine::StartTimer(bool on) {
  if (on == timerOn_) return;
  timerOn_ = on;
  if (on)
    SetTimer(Handle(), kFrameTimerId, 10, nullptr);
  else
    KillTimer(Handle(), kFrameTimerId);
}

bool TscSkinEngine::CustomAction(int action) {
  if (!OnCustomAction) return false;
  OnCustomAction(*this, action);
  return true;
}

// ---- objects and state ----

TscSkinObject* TscSkinEngine::FormObject() const {
  return source_ ? source_->FindObject(TSkinKind::Form) : nullptr;
}
TscSkinObject* TscSkinEngine::ClientObject() const {
  TscSkinObject* f = FormObject();
  return f ? f->FindKind(TSkinKind::Client) : nullptr;
}
TscSkinObject* TscSkinEngine::MenuBarObject() const {
  TscSkinObject* f = FormObject();
  return f ? f->FindKind(TSkinKind::MenuBar) : nullptr;
}

TFrameState TscSkinEngine::FrameState() const {
  TFrameState s;
  s.Flags = flags_;
  s.Active = active_;
  s.Icons = borderIcons_;
  s.MainMenuShow = mainMenuShow_;
  s.HasMainMenu = mainMenu_ != nullptr;
  return s;
}

void TscSkinEngine::VisibilityPass() {
  TscSkinObject* f = FormObject();
  if (!f) return;
  const TFrameState state = FrameState();
  const std::string caption = form_->Caption();
  TscSkinObject* menuBar = MenuBarObject();
  f->ForEach([&](TscSkinObject& o) {
    bool visible = !o.Conditions.test(scNever) && EvaluateConditions(o.Conditions, state);
    if (o.Kind == TSkinKind::MenuBarItem && mainMenu_ && o.Index >= 0 &&
        o.Index < static_cast<int>(mainMenu_->Items().size()) && !o.Conditions.test(scNever))
      visible = mainMenu_->Items()[static_cast<std::size_t>(o.Index)]->Visible;
    if (o.Kind == TSkinKind::Title) o.SetText(caption);
    if (&o == menuBar) visible = mainMenuShow_ && mainMenu_ && !RolledUp();
    o.SetVisible(visible);
  });
}

// ---- painting ----

void TscSkinEngine::RepaintFrame() {
  TscSkinObject* f = FormObject();
  if (!source_ || !f) return;
  RECT wr;
  GetWindowRect(Handle(), &wr);
  windowWidth_ = wr.right - wr.left;
  windowHeight_ = wr.bottom - wr.top;
  VisibilityPass();
  f->SetWindowHandle(reinterpret_cast<TSkinWindow>(Handle()));
  f->SetBounds({0, 0, windowWidth_, windowHeight_});
  HDC dc = GetWindowDC(Handle());
  if (!dc) return;
  if (TscSkinObject* client = ClientObject()) {
    const TSkinRect c = client->GetBounds();
    HRGN excluded = CreateRectRgn(c.left, c.top, c.right, c.bottom);
    TscSkinObject* menuBar = MenuBarObject();
    if (menuBar && !RolledUp() && mainMenuShow_) {
      const TSkinRect m = menuBar->GetBounds();
      HRGN bar = CreateRectRgn(m.left, m.top, m.right, m.bottom);
      CombineRgn(excluded, excluded, bar, RGN_DIFF);
      DeleteObject(bar);
    }
    ExtSelectClipRgn(dc, excluded, RGN_DIFF);
    DeleteObject(excluded);
  }
  if (!MenuBarPaintable)
    if (TscSkinObject* menuBar = MenuBarObject())
      ExcludeClipRect(dc, menuBar->Left, menuBar->Top, menuBar->Left + menuBar->Width, menuBar->Top + menuBar->Height);
  f->Paint(frameBitmap_);
  if (HDC source = static_cast<HDC>(MemoryDc(frameBitmap_)))
    BitBlt(dc, 0, 0, windowWidth_, windowHeight_, source, 0, 0, SRCCOPY);
  ReleaseDC(Handle(), dc);
}

void TscSkinEngine::UpdateRegion() {
  TscSkinObject* f = FormObject();
  if (!source_) {
    SetWindowRgn(Handle(), nullptr, TRUE);
    return;
  }
  if (!f) return;
  try {
    RECT wr;
    GetWindowRect(Handle(), &wr);
    windowWidth_ = wr.right - wr.left;
    windowHeight_ = wr.bottom - wr.top;
    f->SetBounds({0, 0, windowWidth_, windowHeight_});
    HRGN region = RegionHandle(f->CreateRegion());
    if (region && !SetWindowRgn(Handle(), region, TRUE)) DeleteObject(region);
  } catch (const std::exception&) {
    // The window keeps its previous shape.
  }
}

void TscSkinEngine::Refresh() {
  UpdateRegion();
  RebuildMenuBar();
  SendSkinChanged(*form_);
  form_->Invalidate();
}

void TscSkinEngine::EraseClient(HDC dc) {
  TscSkinObject* client = ClientObject();
  if (!client) return;
  RECT cr;
  GetClientRect(Handle(), &cr);
  const int w = std::max(1, static_cast<int>(cr.right)), h = std::max(1, static_cast<int>(cr.bottom));
  const TSkinRect saved = client->GetBounds();
  client->SetBounds({0, 0, std::max(windowWidth_, w), std::max(windowHeight_, h)});
  TOmbraBmp canvas(w, h);
  client->Paint(canvas);
  client->SetBounds(saved);
  if (HDC source = static_cast<HDC>(MemoryDc(canvas))) BitBlt(dc, 0, 0, w, h, source, 0, 0, SRCCOPY);
}

// ---- messages ----

void TscSkinEngine::CalcSize(THookMessage& m) {
  if (!m.WParam || !source_) return;
  auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(m.LParam);
  windowWidth_ = params->rgrc[1].right - params->rgrc[1].left;
  windowHeight_ = params->rgrc[1].bottom - params->rgrc[1].top;
  if (TscSkinObject* menuBar = MenuBarObject()) {
    // The same rule as the frame's visibility pass, so the client area matches what is painted.
    menuBar->SetVisible(mainMenuShow_ && mainMenu_ && !RolledUp());
  }
  int l = 0, t = 0, r = windowWidth_, b = windowHeight_;
  if (TscSkinObject* f = FormObject()) {
    f->SetBounds({0, 0, windowWidth_, windowHeight_});
    if (TscSkinObject* client = ClientObject()) {
      l = client->Left;
      t = client->Top;
      r = client->Left + client->Width;
      b = client->Top + client->Height;
    }
  }
  const WINDOWPOS* pos = params->lppos;
  RECT fresh = pos ? RECT{pos->x, pos->y, pos->x + pos->cx, pos->y + pos->cy} : params->rgrc[0];
  RECT client{fresh.left + l, fresh.top + t, fresh.right - (windowWidth_ - r), fresh.bottom - (windowHeight_ - b)};
  if (client.right < client.left) client.right = client.left;
  if (client.bottom < client.top) client.bottom = client.top;
  params->rgrc[0] = client;
  params->rgrc[1] = client;
  m.Result = WVR_VALIDRECTS;
}

LRESULT TscSkinEngine::HitTest(LPARAM point) {
  TscSkinObject* f = FormObject();
  if (!source_ || !f || IsIconic(Handle()) || IsZoomed(Handle())) return HTCLIENT;
  RECT wr;
  GetWindowRect(Handle(), &wr);
  const int x = static_cast<short>(LOWORD(point)) - wr.left, y = static_cast<short>(HIWORD(point)) - wr.top;
  return FrameHitTest(*f, x, y, RolledUp() || !sizeable_);
}

void TscSkinEngine::Click(int x, int y) {
  TscSkinObject* f = FormObject();
  if (!f) return;
  TscSkinObject* o = f->ObjectAt(x, y);
  if (!o) return;
  o->RaiseEvent(TSkinEvent::Click);
  o->FinishAnimation();
  o->RaiseEvent(ContainsMax(o->EventList(TSkinEvent::Click)) ? TSkinEvent::Leave : TSkinEvent::Hover);
  o->FinishAnimation();
  if (o->Kind == TSkinKind::MenuBarItem) MenuBarItemClick(*o);
}

void TscSkinEngine::MinMaxInfo(MINMAXINFO* info) {
  if (!source_ || !FormObject()) return;
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  info->ptMaxSize = {work.right - work.left, work.bottom - work.top};
  info->ptMaxTrackSize = info->ptMaxSize;
  info->ptMaxPosition = {work.left, work.top};
  info->ptMinTrackSize = {100, RolledUpHeight()};
}

int TscSkinEngine::RolledUpHeight() {
  return skin::RolledUpHeight(FormObject(), ClientObject(), MenuBarObject(), windowWidth_, RolledUp() && mainMenuShow_);
}

void TscSkinEngine::ResizeHeight(int height) {
  RECT wr;
  GetWindowRect(Handle(), &wr);
  SetWindowPos(Handle(), nullptr, 0, 0, wr.right - wr.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  PostMessageA(Handle(), kSkinChangedMessage, 0, 0);
}

void TscSkinEngine::ToggleRollUp() {
  if (!RolledUp()) {
    RECT wr;
    GetWindowRect(Handle(), &wr);
    heightBeforeRollUp_ = wr.bottom - wr.top;
    flags_ |= kFrameRolledUp;
    ResizeHeight(RolledUpHeight());
  } else {
    flags_ &= ~kFrameRolledUp;
    ResizeHeight(heightBeforeRollUp_);
  }
}

void TscSkinEngine::CaptionDoubleClick() {
  // As on a standard caption: maximise, or restore a maximised window. A rolled-up window keeps
  // its height until it is rolled down.
  if (!(borderIcons_ & sbMaximize) || !sizeable_ || RolledUp()) return;
  SendMessageA(Handle(), WM_SYSCOMMAND, IsZoomed(Handle()) ? SC_RESTORE : SC_MAXIMIZE, 0);
}

void TscSkinEngine::ToggleStayOnTop() {
  flags_ ^= kFrameStayOnTop;
  SetWindowPos(Handle(), (flags_ & kFrameStayOnTop) ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TscSkinEngine::TimerTick() {
  if (!source_ || (!active_ && !IsIconic(Handle()))) return;
  AdvanceSkinAnimations([](const TscSkinObject& o) { return o.Kind != TSkinKind::PopupMenuItem; });
  TscSkinObject* f = FormObject();
  if (!f) return;
  POINT p;
  GetCursorPos(&p);
  RECT wr;
  GetWindowRect(Handle(), &wr);
  TscSkinObject* o = f->ObjectAt(p.x - wr.left, p.y - wr.top);
  if (!o) {
    if (hovered_) hovered_->RaiseEvent(TSkinEvent::Leave);
    hovered_ = nullptr;
    return;
  }
  if (o == hovered_) return;
  if (hovered_) hovered_->RaiseEvent(TSkinEvent::Leave);
  hovered_ = o;
  o->RaiseEvent(TSkinEvent::Hover);
  if (o->Kind == TSkinKind::MenuBarItem && menuOpen_)
    ShowMenuBarPopup(wr.left + o->Left, wr.top + o->Top + o->Height, o->Index);
}

void TscSkinEngine::EraseBackground(HDC dc) {
  const bool own = dc == nullptr;
  if (own) dc = GetDC(Handle());
  EraseClient(dc);
  if (own) ReleaseDC(Handle(), dc);
}

// A mouse button on the frame: the left one clicks the object under it, the right one tells the
// object (a menu may follow).
void TscSkinEngine::FrameButtonDown(THookMessage& m) {
  RECT wr;
  GetWindowRect(Handle(), &wr);
  const int x = static_cast<short>(LOWORD(m.LParam)) - wr.left, y = static_cast<short>(HIWORD(m.LParam)) - wr.top;
  if (m.Msg == WM_NCLBUTTONDOWN) {
    if (source_) Click(x, y);
    return;
  }
  if (TscSkinObject* f = FormObject())
    if (TscSkinObject* o = f->ObjectAt(x, y)) o->RaiseEvent(TSkinEvent::RightClick);
  m.Result = 0;
}

// The messages the engine and its frame send the window.
void TscSkinEngine::OwnMessage(THookMessage& m) {
  switch (m.Msg) {
    case kRollUpToggleMessage:
      ToggleRollUp();
      RepaintFrame();
      break;
    case kStayOnTopToggleMessage:
      ToggleStayOnTop();
      RepaintFrame();
      break;
    case kSystemMenuMessage:
      if (borderIcons_ & sbSystemMenu) ShowSystemMenu();
      break;
    case kSkinChangedMessage:
      RepaintFrame();
      break;
    case kMenuAcceleratorMessage:
      acceleratorTaken_ = m.WParam == kMenuAcceleratorCode && MenuAccelerator(static_cast<char>(m.LParam));
      break;
    case kRemoveMenuBarMessage:
      RemoveStandardMenuBar();
      break;
  }
}

void TscSkinEngine::Before(THookMessage& m, bool& handled) {
  switch (m.Msg) {
    case WM_SIZE:
      UpdateRegion();
      break;
    case WM_ERASEBKGND:
      EraseBackground(reinterpret_cast<HDC>(m.WParam));
      handled = true;
      m.Result = 0;
      break;
    case WM_SETCURSOR:
      savedStyle_ = GetWindowLongA(Handle(), GWL_STYLE);
      SetWindowLongA(Handle(), GWL_STYLE, savedStyle_ & ~WS_VISIBLE);
      break;
    case WM_SETTEXT:
      // The platform paints its own caption straight away when it sets the text of a window with
      // a caption; the title object repaints the frame instead (After).
      textStyle_ = GetWindowLongA(Handle(), GWL_STYLE);
      if (source_ && (textStyle_ & WS_CAPTION) == WS_CAPTION)
        SetWindowLongA(Handle(), GWL_STYLE, textStyle_ & ~WS_DLGFRAME);
      break;
    case WM_NCCALCSIZE:
      CalcSize(m);
      handled = true;
      break;
    case WM_NCHITTEST:
      m.Result = HitTest(m.LParam);
      handled = m.Result != HTCLIENT;
      break;
    case WM_NCPAINT:
      RepaintFrame();
      m.Result = IsZoomed(Handle()) ? 0 : 1;
      handled = true;
      break;
    case WM_NCACTIVATE:
      m.Result = source_ ? 1 : 0;
      if (source_) {
        active_ = m.WParam != 0;
        if (m.LParam == 0) RepaintFrame();
      }
      handled = true;
      break;
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
      FrameButtonDown(m);
      break;
    case WM_SYSCOMMAND:
      // The platform would open its own menu bar or system menu, which the skinned frame does
      // not have: F10 and Alt alone, and Alt+Space, open the skinned ones instead.
      if ((m.WParam & 0xFFF0) == SC_KEYMENU && source_ && KeyMenu(static_cast<char>(m.LParam))) {
        m.Result = 0;
        handled = true;
      }
      break;
    case WM_EXITMENULOOP:
      if (menuOpen_) ExitMenuLoop();
      break;
    case WM_TIMER:
      if (m.WParam == kFrameTimerId) {
        TimerTick();
        handled = true;
      }
      break;
    default:
      OwnMessage(m);
      break;
  }
}

void TscSkinEngine::After(THookMessage& m, bool&) {
  switch (m.Msg) {
    case WM_SETCURSOR:
      SetWindowLongA(Handle(), GWL_STYLE, savedStyle_);
      break;
    case WM_NCLBUTTONDBLCLK:
      if (TscSkinObject* f = FormObject()) {
        RECT wr;
        GetWindowRect(Handle(), &wr);
        TscSkinObject* o =
            f->ObjectAt(static_cast<short>(LOWORD(m.LParam)) - wr.left, static_cast<short>(HIWORD(m.LParam)) - wr.top);
        if (o && !o->EventList(TSkinEvent::DoubleClick).empty())
          o->RaiseEvent(TSkinEvent::DoubleClick);
        else if (m.WParam == HTCAPTION)
          CaptionDoubleClick();
      }
      break;
    case WM_GETTEXT:
      if (m.Result != lastTextLength_) {
        PostMessageA(Handle(), kSkinChangedMessage, 0, 0);
        lastTextLength_ = m.Result;
        m.Result = 0;
      }
      break;
    case WM_SETTEXT:
      if (GetWindowLongA(Handle(), GWL_STYLE) != textStyle_) SetWindowLongA(Handle(), GWL_STYLE, textStyle_);
      // The title object shows the caption: a new caption needs a new frame.
      PostMessageA(Handle(), kSkinChangedMessage, 0, 0);
      break;
    case kMenuAcceleratorMessage:
      // The form's procedure also sees the message; the answer is whether a menu item took it.
      if (acceleratorTaken_) m.Result = 1;
      acceleratorTaken_ = false;
      break;
    case WM_GETMINMAXINFO:
      MinMaxInfo(reinterpret_cast<MINMAXINFO*>(m.LParam));
      break;
    case WM_SYSCOMMAND: {
      const WPARAM command = m.WParam & 0xFFF0;
      if (command == SC_MINIMIZE) flags_ |= kFrameMinimized;
      if (command == SC_MAXIMIZE) flags_ |= kFrameMaximized;
      if (command == SC_RESTORE) flags_ &= ~kFrameMaximized;
      PostMessageA(Handle(), kSkinChangedMessage, 0, 0);
      break;
    }
  }
}

}  // namespace quillon::skin
