// The frame rules without a window: visibility conditions, hit-test codes, the rolled-up height,
// menu window placement and menu accelerators.
#include <gtest/gtest.h>

#include "skin/skin_frame.h"

namespace quillon::skin {
namespace {

TSkinConditions Set(std::initializer_list<TSkinCondition> members) {
  TSkinConditions c;
  for (TSkinCondition m : members) c.set(static_cast<std::size_t>(m));
  return c;
}

TEST(FrameConditionsTest, EveryConditionAgainstTheWindowState) {
  TFrameState plain;  // inactive, not maximized, all icons, menu shown but no menu
  TFrameState busy;
  busy.Flags = kFrameSizing | kFrameMaximized | kFrameRolledUp | kFrameStayOnTop;
  busy.Active = true;
  busy.Icons = sbClose;
  busy.HasMainMenu = true;
  struct Case {
    TSkinConditions conditions;
    bool plainShows, busyShows;
  } cases[] = {
      {Set({}), true, true},
      {Set({scAlways}), true, true},
      {Set({scNever}), false, false},
      {Set({scAlways, scNever}), false, false},
      {Set({scActive}), false, true},
      {Set({scInactive}), true, false},
      {Set({scMaximized}), false, true},
      {Set({scNoMaximized}), true, false},
      {Set({scRollup}), false, true},
      {Set({scNoRollup}), true, false},
      {Set({scStayOnTop}), false, true},
      {Set({scNoStayOnTop}), true, false},
      {Set({scHelp}), true, false},
      {Set({scNoHelp}), false, true},
      {Set({scMax}), true, false},
      {Set({scNoMax}), false, true},
      {Set({scMin}), true, false},
      {Set({scNoMin}), false, true},
      {Set({scMinMax}), true, true},  // says yes or nothing
      {Set({scNoMinMax}), false, true},
      {Set({scSizeable}), true, true},
      {Set({scNoSizeable}), false, false},
      {Set({scSysMenu}), true, false},
      {Set({scNoSysMenu}), false, true},
      {Set({scClose}), true, true},
      {Set({scNoClose}), false, false},
      {Set({scMenuBar}), false, true},
      {Set({scNoMenuBar}), true, false},
      {Set({scMax, scNoMaximized}), true, false},
      {Set({scActive, scClose}), false, true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(EvaluateConditions(cases[i].conditions, plain), cases[i].plainShows) << "case " << i;
    EXPECT_EQ(EvaluateConditions(cases[i].conditions, busy), cases[i].busyShows) << "case " << i;
  }
  TFrameState hidden = busy;
  hidden.MainMenuShow = false;
  EXPECT_FALSE(EvaluateConditions(Set({scMenuBar}), hidden)) << "menubar: false while the menu is not shown";
  EXPECT_TRUE(EvaluateConditions(Set({scNoMenuBar}), hidden));
}

TscSkinObject* Add(TscSkinObject& parent, TSkinKind kind, TSkinAlign align, int w, int h) {
  auto c = std::make_unique<TscSkinObject>();
  c->Kind = kind;
  c->Align = align;
  c->Width = w;
  c->Height = h;
  auto* raw = c.get();
  parent.AddChild(std::move(c));
  return raw;
}

// A frame of 200 x 150: top edge 3, caption 20 with a button, menu bar 18, bottom edge 4, side
// edges 4, corner objects 8 x 8 over the edges, and the client in the middle.
struct Frame {
  Frame() {
    form.Kind = TSkinKind::Form;
    Add(form, TSkinKind::Top, TSkinAlign::MostTop, 0, 3);
    caption = Add(form, TSkinKind::Caption, TSkinAlign::MostTop, 0, 20);
    Add(*caption, TSkinKind::SysButton, TSkinAlign::Right, 16, 0);
    menuBar = Add(form, TSkinKind::MenuBar, TSkinAlign::MostTop, 0, 18);
    Add(form, TSkinKind::Bottom, TSkinAlign::MostBottom, 0, 4);
    Add(form, TSkinKind::Left, TSkinAlign::MostLeft, 4, 0);
    Add(form, TSkinKind::Right, TSkinAlign::MostRight, 4, 0);
    client = Add(form, TSkinKind::Client, TSkinAlign::Client, 0, 0);
    auto corner = [&](TSkinKind k, TSkinAlign a, int l, int t) {
      TscSkinObject* c = Add(form, k, a, 8, 8);
      c->Left = c->ConfiguredLeft = l;
      c->Top = c->ConfiguredTop = t;
    };
    corner(TSkinKind::TopLeft, TSkinAlign::TopLeft, 0, 0);
    corner(TSkinKind::BottomRight, TSkinAlign::BottomRight, 8, 8);
    form.SetBounds({0, 0, 200, 150});
  }
  TscSkinObject form;
  TscSkinObject *caption, *menuBar, *client;
};

TEST(FrameHitTestTest, CodesOfTheObjectUnderThePoint) {
  Frame f;
  struct Case {
    int x, y, code, fixedCode;
  } cases[] = {
      {100, 1, 12, 8},  {100, 10, 2, 2}, {190, 10, 8, 8},   {100, 30, 8, 8}, {100, 148, 15, 8}, {1, 80, 10, 8},
      {198, 80, 11, 8}, {2, 2, 13, 8},   {196, 146, 17, 8}, {100, 80, 1, 1}, {-1, 80, 1, 1},    {200, 80, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FrameHitTest(f.form, c.x, c.y, false), c.code) << c.x << "," << c.y;
    EXPECT_EQ(FrameHitTest(f.form, c.x, c.y, true), c.fixedCode) << c.x << "," << c.y << " fixed";
  }
  f.caption->SetVisible(false);
  EXPECT_EQ(FrameHitTest(f.form, 100, 10, false), 1) << "hidden objects do not answer";
}

TEST(FrameRolledUpHeightTest, TheTallestHeightWithoutClient) {
  Frame f;
  EXPECT_EQ(RolledUpHeight(&f.form, f.client, f.menuBar, 200, false), 3 + 20 + 18 + 4);
  EXPECT_EQ(RolledUpHeight(&f.form, f.client, f.menuBar, 200, true), 3 + 20 + 4);
  EXPECT_EQ(f.form.GetBounds(), (TSkinRect{0, 0, 200, 150})) << "the form's rectangle is set back";
  EXPECT_EQ(RolledUpHeight(&f.form, nullptr, f.menuBar, 200, false), 0);
  EXPECT_EQ(RolledUpHeight(nullptr, f.client, f.menuBar, 200, false), 0);
  TscSkinObject lone;
  auto* client = Add(lone, TSkinKind::Client, TSkinAlign::Client, 0, 0);
  EXPECT_EQ(RolledUpHeight(&lone, client, nullptr, 50, false), 0) << "a client at every height: down to 0";
}

TEST(MenuPlacementTest, BelowBesideOrFlipped) {
  const TSkinRect screen{0, 0, 1024, 768};
  // No exclusion: at the point, moved back by the size past the right or bottom edge.
  EXPECT_EQ(PlaceMenuWindow(100, 100, 150, 80, {}, false, screen), (TSkinRect{100, 100, 250, 180}));
  EXPECT_EQ(PlaceMenuWindow(1000, 700, 150, 80, {}, false, screen), (TSkinRect{850, 620, 1000, 700}));
  // Menu-bar popup: below the item, or above it near the bottom; right-aligned near the right edge.
  const TSkinRect item{300, 40, 350, 60};
  EXPECT_EQ(PlaceMenuWindow(0, 0, 150, 80, item, false, screen), (TSkinRect{300, 60, 450, 140}));
  const TSkinRect low{300, 700, 350, 720};
  EXPECT_EQ(PlaceMenuWindow(0, 0, 150, 80, low, false, screen), (TSkinRect{300, 620, 450, 700}));
  const TSkinRect right{950, 40, 1000, 60};
  EXPECT_EQ(PlaceMenuWindow(0, 0, 150, 80, right, false, screen), (TSkinRect{850, 60, 1000, 140}));
  // Submenu: right of the item, top-aligned; left of it and bottom-aligned at the edges.
  EXPECT_EQ(PlaceMenuWindow(0, 0, 150, 80, item, true, screen), (TSkinRect{350, 40, 500, 120}));
  const TSkinRect corner{900, 700, 1000, 720};
  EXPECT_EQ(PlaceMenuWindow(0, 0, 150, 80, corner, true, screen), (TSkinRect{750, 640, 900, 720}));
}

bool LeadByte(char c) {
  return static_cast<unsigned char>(c) >= 0x81 && static_cast<unsigned char>(c) <= 0x9F;
}

TEST(MenuAcceleratorTest, TheCharacterAfterTheLastSingleAmpersand) {
  struct Case {
    const char* caption;
    char key;
  } cases[] = {
      {"&Options", 'O'}, {"He&lp", 'L'},       {"Rollu&p", 'P'}, {"No key", 0}, {"Salt && pepper", 0},
      {"A&b&c", 'C'},    {"&&Not &this", 'T'}, {"Trailing&", 0}, {"&&&x", 'X'}, {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(MenuAccelerator(c.caption), c.key) << c.caption;
  // A double-byte character is skipped whole: its trail byte "&" starts nothing.
  const std::string dbcs = std::string("\x82&x") + "y";
  EXPECT_EQ(MenuAccelerator(dbcs, &LeadByte), 0);
  EXPECT_EQ(MenuAccelerator(dbcs), 'X') << "without the lead-byte rule the & counts";
}

}  // namespace
}  // namespace quillon::skin
