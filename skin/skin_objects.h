// TscSkinObject: one node of a skin's object tree: a rectangle with an optional image, fill
// colour and text, a kind (its role in the frame), an alignment inside its parent, visibility
// conditions and the action lists run on mouse events (skin_events.cpp).
//
// Ownership: an object owns its children; images are shared with the skin source through
// TOmbraBmpRef. Source and Engine are borrowed. Every live object is in one process-wide list
// (LiveSkinObjects) from construction to destruction, which the engine's timer and the menu
// windows walk to advance animations. User-interface thread only.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "skin/ombra_bmp.h"
#include "skin/skin_region.h"
#include "skin/skin_services.h"

namespace quillon::skin {

class TscSkinSource;

// What the objects need of the engine that wears the skin; the engine implements it.
class TSkinEngineLink {
 public:
  virtual ~TSkinEngineLink() = default;
  virtual bool CanMinimize() = 0;  // BorderIcons holds sbMinimize
  virtual bool CanMaximize() = 0;  // BorderIcons holds sbMaximize
  virtual bool RolledUp() = 0;
  // OnCustomAction, when assigned: true when it was called.
  virtual bool CustomAction(int action) = 0;
};

enum class TSkinKind : std::uint8_t {
  None,
  Form,
  Caption,
  Title,
  Top,
  Left,
  Right,
  Bottom,
  TopLeft,
  TopRight,
  BottomLeft,
  BottomRight,
  MenuBar,
  MenuBarItem,
  PopupMenu,
  PopupMenuItem,
  PopupMenuClient,
  SysButton,
  Client,
  Button,
  ButtonGlyph,
  ButtonText,
  ProgressBar,
  ProgressBarBack,
  ProgressBarFore,
  Panel,
  PanelText,
  CheckBox,
  CheckBoxGlyph,
  CheckBoxText,
  RadioButton,
  RadioButtonGlyph,
  RadioButtonText,
  PageControl,
  PageControlTab,
  PageControlClient
};
inline constexpr int kSkinKindCount = 36;

enum class TSkinAlign : std::uint8_t {
  None,
  Left,
  MostLeft,
  Top,
  MostTop,
  Right,
  MostRight,
  Bottom,
  MostBottom,
  Client,
  TopLeft,
  TopRight,
  BottomLeft,
  BottomRight,
  Center,
  Text
};

enum class TSkinTileStyle : std::uint8_t { Tile, Stretch, StretchLinear, Center };
enum class TSkinMaskKind : std::uint8_t { None, ColorKey, MaskImage };

// Members of the visibility-condition set (their numbers are the skin file's order).
enum TSkinCondition : int {
  scAlways,
  scActive,
  scInactive,
  scMaximized,
  scNoMaximized,
  scRollup,
  scNoRollup,
  scStayOnTop,
  scNoStayOnTop,
  scMenuBar,
  scNoMenuBar,
  scHelp,
  scNoHelp,
  scMax,
  scNoMax,
  scMin,
  scNoMin,
  scMinMax,
  scNoMinMax,
  scSizeable,
  scNoSizeable,
  scSysMenu,
  scNoSysMenu,
  scClose,
  scNoClose,
  scFocused,
  scNoFocused,
  scDefault,
  scDisabled,
  scClicked,
  scChecked,
  scNoChecked,
  scGrayed,
  scNever,
  scTabActive,
  scTabNoActive
};
using TSkinConditions = std::bitset<36>;

enum class TSkinEvent { Hover, Leave, Click, RightClick, DoubleClick, UnClick, SetFocus, KillFocus };
inline constexpr int kSkinEventCount = 8;

// True for the eight window-border kinds (never drawn with a key colour).
bool IsBorderKind(TSkinKind k);

class TscSkinObject {
 public:
  TscSkinObject();
  virtual ~TscSkinObject();
  TscSkinObject(const TscSkinObject&) = delete;
  TscSkinObject& operator=(const TscSkinObject&) = delete;

  // A new object of the same class (the deep copy of Assign uses it for the children).
  virtual std::unique_ptr<TscSkinObject> CreateNew() const { return std::make_unique<TscSkinObject>(); }
  virtual void Assign(const TscSkinObject& other);
  virtual void Realign();
  virtual void Paint(TOmbraBmp& canvas);

  TscSkinObject* Parent = nullptr;
  TscSkinSource* Source = nullptr;
  TSkinEngineLink* Engine = nullptr;
  TSkinWindow WindowHandle = 0;
  std::string Name;
  TSkinKind Kind = TSkinKind::None;
  TSkinAlign Align = TSkinAlign::None;
  TSkinConditions Conditions{1};  // {always}
  bool Visible = true;
  bool Enabled = true;
  int Transparency = 100;
  TSkinTileStyle TileStyle = TSkinTileStyle::Tile;
  TOmbraBmpRef Image;
  TSkinColor Color = kSkinBlack;
  std::string Text;
  std::string SecondText;
  int TextAlign = 4;
  TSkinColor TextColor = kSkinBlack;
  TSkinColor DisabledTextColor = kSkinBlack;
  TSkinFontSpec Font;  // FontName, FontSize, FontStyle
  int TextMargins[4] = {0, 0, 0, 0};
  TSkinColor MaskColor = kSkinBlack;
  TSkinMaskKind MaskKind = TSkinMaskKind::None;
  TOmbraBmpRef MaskImage;
  int Index = 0;
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int ConfiguredLeft = 0, ConfiguredTop = 0;
  std::vector<std::string> Events[kSkinEventCount];

  std::vector<std::string>& EventList(TSkinEvent e) { return Events[static_cast<int>(e)]; }
  const std::vector<std::string>& EventList(TSkinEvent e) const { return Events[static_cast<int>(e)]; }

  // Tree.
  void AddChild(std::unique_ptr<TscSkinObject> child);
  std::unique_ptr<TscSkinObject> RemoveChild(TscSkinObject* child);  // handed back, not freed
  int ChildCount() const { return static_cast<int>(children_.size()); }
  TscSkinObject* Child(int i) const { return children_[static_cast<std::size_t>(i)].get(); }

  TSkinRect GetBounds() const { return {Left, Top, Left + Width, Top + Height}; }
  void SetBounds(const TSkinRect& r);
  void SetWidth(int w);
  void SetHeight(int h);
  void SetText(const std::string& s);
  void SetVisible(bool v);
  void SetSource(TscSkinSource* s);
  void SetEngine(TSkinEngineLink* e);
  void SetWindowHandle(TSkinWindow w);

  TscSkinObject* FindKind(TSkinKind k);
  void ForEach(const std::function<void(TscSkinObject&)>& f);
  TscSkinObject* ObjectAt(int x, int y);
  TSkinRegion CreateRegion() const;

  // Text shortened to limit pixels with a final "..." (unchanged when it fits).
  static std::string ShortenText(const std::string& text, const TSkinFontSpec& font, int limit);

  // ---- events and animations (skin_events.cpp) ----
  // Runs the object's own list for this event.
  void RaiseEvent(TSkinEvent e);
  void RunEvent(const std::string& listText);
  void RunActionLine(const std::string& line);
  void AnimationStep();
  void FinishAnimation();

  std::vector<std::string> ChainLines;
  bool ChainRunning = false;
  bool Animating = false;
  int AnimationKind = 0;
  TOmbraBmpRef TargetImage;    // kinds 1, 4, 7
  TSkinColor TargetColor = 0;  // the other kinds
  int Direction = 0;
  int Elapsed = 0, LastElapsed = 0, Duration = 0;
  bool Destroying = false;

 private:
  void DrawAnimationFrame();
  void StartTransition(int kind, int ms);
  std::vector<std::unique_ptr<TscSkinObject>> children_;
  bool placing_ = false;  // a "text" child while its parent widens to fit it
  std::list<TscSkinObject*>::iterator livePosition_;
};

// Every live skin object, in creation order.
const std::list<TscSkinObject*>& LiveSkinObjects();
// One AnimationStep for every live object that which accepts (the engine's timer: all but popup
// menu items; a menu window's timer: the objects on its window). An action run by a step may free
// objects (a custom action can unload the skin): freed objects are skipped, never stepped.
void AdvanceSkinAnimations(const std::function<bool(const TscSkinObject&)>& which);

// The lines of an event list as one text and back (CR LF between lines).
std::string JoinLines(const std::vector<std::string>& lines);
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace quillon::skin
