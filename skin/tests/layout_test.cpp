// TscSkinObject: layout, painting, point lookup, regions and deep copies.
#include <gtest/gtest.h>

#include "skin/skin_objects.h"
#include "skin/tests/skin_fixtures.h"

namespace quillon::skin {
namespace {

using testing::BlockTextScope;
using testing::SolidBmp;

TscSkinObject* AddChild(TscSkinObject& parent, TSkinAlign align, int w, int h, const std::string& name = {}) {
  auto c = std::make_unique<TscSkinObject>();
  c->Align = align;
  c->Width = w;
  c->Height = h;
  c->Name = name;
  auto* raw = c.get();
  parent.AddChild(std::move(c));
  return raw;
}

TEST(SkinLayoutTest, LeftRightAndClientColumns) {
  TscSkinObject parent;
  auto* left = AddChild(parent, TSkinAlign::Left, 10, 0);
  auto* right = AddChild(parent, TSkinAlign::Right, 10, 0);
  auto* client = AddChild(parent, TSkinAlign::Client, 0, 0);
  parent.SetBounds({0, 0, 200, 50});
  EXPECT_EQ(left->GetBounds(), (TSkinRect{0, 0, 10, 50}));
  EXPECT_EQ(right->GetBounds(), (TSkinRect{190, 0, 200, 50}));
  EXPECT_EQ(client->GetBounds(), (TSkinRect{10, 0, 190, 50}));
}

TEST(SkinLayoutTest, MostTopAndMostBottomStacking) {
  TscSkinObject parent;
  auto* t1 = AddChild(parent, TSkinAlign::MostTop, 0, 20);
  auto* t2 = AddChild(parent, TSkinAlign::MostTop, 0, 5);
  auto* b1 = AddChild(parent, TSkinAlign::MostBottom, 0, 7);
  auto* b2 = AddChild(parent, TSkinAlign::MostBottom, 0, 3);
  auto* top = AddChild(parent, TSkinAlign::Top, 0, 4);  // placed after every "most" child
  auto* left = AddChild(parent, TSkinAlign::MostLeft, 8, 0);
  parent.SetBounds({0, 0, 100, 100});
  EXPECT_EQ(t1->GetBounds(), (TSkinRect{0, 0, 100, 20}));
  EXPECT_EQ(t2->GetBounds(), (TSkinRect{0, 20, 100, 25}));
  EXPECT_EQ(b2->GetBounds(), (TSkinRect{0, 97, 100, 100})) << "the last listed is lowest";
  EXPECT_EQ(b1->GetBounds(), (TSkinRect{0, 90, 100, 97}));
  EXPECT_EQ(left->GetBounds(), (TSkinRect{0, 25, 8, 90})) << "mostleft takes what mosttop/mostbottom left";
  EXPECT_EQ(top->GetBounds(), (TSkinRect{8, 25, 100, 29}));
}

TEST(SkinLayoutTest, InvisibleChildrenTakeNoPlace) {
  TscSkinObject parent;
  auto* hidden = AddChild(parent, TSkinAlign::Left, 30, 0);
  hidden->Visible = false;
  auto* client = AddChild(parent, TSkinAlign::Client, 0, 0);
  parent.SetBounds({5, 5, 105, 25});
  EXPECT_EQ(client->GetBounds(), (TSkinRect{5, 5, 105, 25}));
}

TEST(SkinLayoutTest, CornerChildrenFollowTheParentsSize) {
  TscSkinObject parent;
  auto* tr = AddChild(parent, TSkinAlign::TopRight, 16, 16);
  tr->Left = tr->ConfiguredLeft = 30;
  tr->Top = tr->ConfiguredTop = 4;
  auto* bl = AddChild(parent, TSkinAlign::BottomLeft, 8, 8);
  bl->Left = bl->ConfiguredLeft = 2;
  bl->ConfiguredTop = 10;
  auto* br = AddChild(parent, TSkinAlign::BottomRight, 8, 8);
  br->ConfiguredLeft = 9;
  br->ConfiguredTop = 9;
  parent.SetBounds({50, 40, 350, 240});
  EXPECT_EQ(tr->Left, 270) << "moves with the width, not with the parent's Left";
  EXPECT_EQ(tr->Top, 4);
  EXPECT_EQ(bl->Left, 2);
  EXPECT_EQ(bl->Top, 190);
  EXPECT_EQ(br->Left, 291);
  EXPECT_EQ(br->Top, 191);
  parent.SetWidth(400);
  EXPECT_EQ(tr->Left, 370);
}

TEST(SkinLayoutTest, CenterChildUsesRemainingWidthAndParentHeight) {
  TscSkinObject parent;
  AddChild(parent, TSkinAlign::Left, 30, 0);
  AddChild(parent, TSkinAlign::Right, 50, 0);
  auto* center = AddChild(parent, TSkinAlign::Center, 11, 3);
  parent.SetBounds({0, 10, 100, 40});
  EXPECT_EQ(center->GetBounds(), (TSkinRect{34, 10, 45, 40})) << "4 pixels from R.left in a remaining width of 20";
}

TEST(SkinLayoutTest, TextChildWidensItsParent) {
  BlockTextScope text;
  TscSkinObject caption;
  auto* left = AddChild(caption, TSkinAlign::Left, 5, 0);
  auto* title = AddChild(caption, TSkinAlign::Text, 0, 0);
  auto* right = AddChild(caption, TSkinAlign::Right, 7, 0);
  caption.SetBounds({0, 0, 20, 10});
  title->SetText("Quillon");  // 7 characters of 6 pixels
  EXPECT_EQ(title->Width, 42);
  EXPECT_EQ(caption.Width, 5 + 42 + 7) << "the parent takes the text's width";
  EXPECT_EQ(title->GetBounds(), (TSkinRect{5, 0, 47, 10}));
  EXPECT_EQ(left->Left, 0);
  EXPECT_EQ(right->Left, 47);
}

TEST(SkinLayoutTest, BoundsNeverNegative) {
  TscSkinObject o;
  o.SetBounds({10, 10, 5, 2});
  EXPECT_EQ(o.Width, 0);
  EXPECT_EQ(o.Height, 0);
}

TEST(SkinTextTest, TitleIsShortenedWithEllipsis) {
  BlockTextScope text;
  TSkinFontSpec font;  // 6 pixels per character
  struct Case {
    std::string text;
    int limit;
    std::string expected;
  } cases[] = {{"Quillon", 42, "Quillon"}, {"Quillon", 41, "Qui..."}, {"Quillon", 30, "Qu..."},
               {"Quillon", 29, "Q..."},    {"Quillon", 5, "..."},     {"", 0, ""},
               {"&Save all", 30, "&Sa..."}};
  for (const auto& c : cases)
    EXPECT_EQ(TscSkinObject::ShortenText(c.text, font, c.limit), c.expected) << c.text << " in " << c.limit;
}

TEST(SkinPaintTest, SeparatorRunsFromColumnFourToWidthMinusSix) {
  TscSkinObject o;
  o.Transparency = 0;
  o.Text = "-";
  o.TextColor = SkinRgb(200, 0, 0);
  o.SetBounds({20, 0, 120, 10});
  TOmbraBmp canvas(130, 10);
  o.Paint(canvas);
  EXPECT_EQ(canvas.Pixel(3, 4), kSkinBlack);
  EXPECT_EQ(canvas.Pixel(4, 4), SkinRgb(200, 0, 0)) << "not offset by Left";
  EXPECT_EQ(canvas.Pixel(94, 4), SkinRgb(200, 0, 0));
  EXPECT_EQ(canvas.Pixel(95, 4), kSkinBlack);
  EXPECT_EQ(canvas.Pixel(50, 5), kSkinBlack) << "one row: Top + Height div 2 - 1";
}

TEST(SkinPaintTest, BackgroundByTileStyleAndMask) {
  const TSkinColor magenta = SkinRgb(255, 0, 255), green = SkinRgb(0, 200, 0);
  auto img = SolidBmp(2, 2, magenta);
  img->SetPixel(0, 0, green);
  struct Case {
    const char* what;
    TSkinTileStyle style;
    TSkinColor mask;
    TSkinKind kind;
    int x, y;
    TSkinColor expected;
  } cases[] = {
      {"tile repeats", TSkinTileStyle::Tile, kSkinBlack, TSkinKind::None, 12, 2, green},
      {"tile keeps the key colour without a mask", TSkinTileStyle::Tile, kSkinBlack, TSkinKind::None, 11, 2, magenta},
      {"tile with mask leaves the background", TSkinTileStyle::Tile, magenta, TSkinKind::None, 11, 2, SkinRgb(1, 1, 1)},
      {"border kinds ignore the mask", TSkinTileStyle::Tile, magenta, TSkinKind::Left, 11, 2, magenta},
      {"stretch scales", TSkinTileStyle::Stretch, kSkinBlack, TSkinKind::None, 14, 4, green},
      {"center places in the middle", TSkinTileStyle::Center, kSkinBlack, TSkinKind::None, 14, 4, green},
      {"center leaves the rest", TSkinTileStyle::Center, kSkinBlack, TSkinKind::None, 10, 0, SkinRgb(1, 1, 1)},
      {"stretchlinear draws nothing", TSkinTileStyle::StretchLinear, kSkinBlack, TSkinKind::None, 10, 0,
       SkinRgb(1, 1, 1)},
  };
  for (const auto& c : cases) {
    TscSkinObject o;
    o.Image = img;
    o.TileStyle = c.style;
    o.MaskColor = c.mask;
    o.Kind = c.kind;
    o.SetBounds({10, 0, 20, 10});
    TOmbraBmp canvas(30, 10);
    canvas.Fill(SkinRgb(1, 1, 1));
    o.Paint(canvas);
    EXPECT_EQ(canvas.Pixel(c.x, c.y), c.expected) << c.what;
  }
}

TEST(SkinPaintTest, FillOnlyAtFullOpacityAndChildrenOnTop) {
  TscSkinObject o;
  o.Color = SkinRgb(0, 0, 90);
  auto* child = AddChild(o, TSkinAlign::Left, 3, 0);
  child->Color = SkinRgb(90, 0, 0);
  o.SetBounds({0, 0, 10, 4});
  TOmbraBmp canvas(10, 4);
  o.Paint(canvas);
  EXPECT_EQ(canvas.Pixel(1, 1), SkinRgb(90, 0, 0));
  EXPECT_EQ(canvas.Pixel(5, 1), SkinRgb(0, 0, 90));
  o.Transparency = 50;
  child->Visible = false;
  canvas.Fill(kSkinWhite);
  o.Paint(canvas);
  EXPECT_EQ(canvas.Pixel(1, 1), kSkinWhite);
  o.Visible = false;
  o.Transparency = 100;
  o.Paint(canvas);
  EXPECT_EQ(canvas.Pixel(5, 1), kSkinWhite) << "an invisible object paints nothing";
}

TEST(SkinPaintTest, DisabledTextUsesItsColour) {
  BlockTextScope text;
  TscSkinObject o;
  o.Transparency = 0;
  o.Text = "W";
  o.TextColor = SkinRgb(0, 100, 0);
  o.DisabledTextColor = SkinRgb(100, 100, 100);
  o.TextAlign = 0;
  o.SetBounds({0, 0, 20, 10});
  TOmbraBmp canvas(20, 10);
  o.Paint(canvas);
  EXPECT_EQ(canvas.Pixel(1, 2), SkinRgb(0, 100, 0));
  o.Enabled = false;
  o.Paint(canvas);
  EXPECT_EQ(canvas.Pixel(1, 2), SkinRgb(100, 100, 100));
}

TEST(SkinObjectTest, ObjectAtPrefersTheLastChildHit) {
  TscSkinObject root;
  auto* a = AddChild(root, TSkinAlign::Client, 0, 0, "a");
  auto* b = AddChild(root, TSkinAlign::Left, 10, 0, "b");
  root.SetBounds({0, 0, 50, 20});
  a->SetBounds({0, 0, 50, 20});  // overlapping on purpose
  EXPECT_EQ(root.ObjectAt(5, 5), b);
  EXPECT_EQ(root.ObjectAt(30, 5), a);
  EXPECT_EQ(root.ObjectAt(60, 5), nullptr);
  b->Visible = false;
  EXPECT_EQ(root.ObjectAt(5, 5), a);
  a->Visible = false;
  EXPECT_EQ(root.ObjectAt(5, 5), &root);
}

TEST(SkinObjectTest, RegionOfAColourKeyedLeafIsExact) {
  const TSkinColor magenta = SkinRgb(255, 0, 255);
  TscSkinObject o;
  o.Image = SolidBmp(8, 3, magenta);
  for (int x = 2; x < 5; ++x) o.Image->SetPixel(x, 1, kSkinWhite);
  o.MaskColor = magenta;
  o.MaskKind = TSkinMaskKind::ColorKey;
  o.SetBounds({100, 50, 108, 53});
  const auto rects = o.CreateRegion().Rects();
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0], (TSkinRect{102, 51, 105, 52})) << "exactly one 3 x 1 rectangle";
}

TEST(SkinObjectTest, RegionOfAParentIsTheUnionOfVisibleChildren) {
  TscSkinObject root;
  auto* top = AddChild(root, TSkinAlign::Top, 0, 5);
  AddChild(root, TSkinAlign::Left, 4, 0);
  auto* hidden = AddChild(root, TSkinAlign::Right, 4, 0);
  hidden->Visible = false;
  auto* mask = AddChild(root, TSkinAlign::Client, 0, 0);
  mask->MaskKind = TSkinMaskKind::MaskImage;
  mask->MaskImage = SolidBmp(1, 1, kSkinWhite);  // all white: keyed out completely
  root.SetBounds({0, 0, 20, 10});
  top->Width = 40;  // wider than the parent: cut to its rectangle
  top->Left = 0;
  const auto rects = root.CreateRegion().Rects();
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0], (TSkinRect{0, 0, 20, 5}));
  EXPECT_EQ(rects[1], (TSkinRect{0, 5, 4, 10}));
}

TEST(SkinObjectTest, AssignCopiesDeepAndSharesImages) {
  TscSkinObject original;
  original.Name = "caption";
  original.Kind = TSkinKind::Caption;
  original.Image = SolidBmp(2, 2, kSkinWhite);
  original.TextMargins[0] = 9;
  original.SecondText = "Ctrl+S";
  original.EventList(TSkinEvent::Click) = {"close"};
  AddChild(original, TSkinAlign::Left, 3, 0, "child");
  original.SetBounds({1, 2, 30, 40});
  {
    TscSkinObject copy;
    copy.Assign(original);
    EXPECT_EQ(copy.Name, "caption");
    EXPECT_EQ(copy.Kind, TSkinKind::Caption);
    EXPECT_EQ(copy.Image, original.Image);
    EXPECT_EQ(original.Image.use_count(), 2);
    EXPECT_EQ(copy.TextMargins[0], 0) << "text margins are not copied";
    EXPECT_TRUE(copy.SecondText.empty());
    EXPECT_EQ(copy.EventList(TSkinEvent::Click), std::vector<std::string>{"close"});
    ASSERT_EQ(copy.ChildCount(), 1);
    EXPECT_NE(copy.Child(0), original.Child(0));
    EXPECT_EQ(copy.Child(0)->Parent, &copy);
    EXPECT_EQ(copy.Child(0)->Name, "child");
    EXPECT_EQ(copy.GetBounds(), (TSkinRect{1, 2, 30, 40}));
  }
  EXPECT_EQ(original.Image.use_count(), 1) << "the copy released its reference";
}

TEST(SkinObjectTest, TreeOperationsAndLiveList) {
  const std::size_t before = LiveSkinObjects().size();
  {
    TscSkinObject root;
    auto* a = AddChild(root, TSkinAlign::None, 0, 0);
    auto* b = AddChild(*a, TSkinAlign::None, 0, 0);
    b->Kind = TSkinKind::SysButton;
    EXPECT_EQ(LiveSkinObjects().size(), before + 3);
    EXPECT_EQ(root.FindKind(TSkinKind::SysButton), b);
    EXPECT_EQ(root.FindKind(TSkinKind::Title), nullptr);
    root.SetVisible(false);
    EXPECT_FALSE(b->Visible);
    root.SetWindowHandle(77);
    EXPECT_EQ(b->WindowHandle, 77u);
    auto removed = root.RemoveChild(a);
    EXPECT_EQ(root.ChildCount(), 0);
    EXPECT_EQ(LiveSkinObjects().size(), before + 3) << "RemoveChild does not free";
  }
  EXPECT_EQ(LiveSkinObjects().size(), before);
}

TEST(SkinRegionTest, NormalizedFormMergesBands) {
  TSkinRegion r;
  r.Add({0, 0, 10, 1});
  r.Add({0, 1, 10, 2});
  r.Add({5, 0, 15, 2});
  r.Add({0, 5, 3, 6});
  const auto rects = r.Rects();
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0], (TSkinRect{0, 0, 15, 2}));
  EXPECT_EQ(rects[1], (TSkinRect{0, 5, 3, 6}));
  EXPECT_TRUE(r.Contains(14, 1));
  EXPECT_FALSE(r.Contains(14, 2));
}

}  // namespace
}  // namespace quillon::skin
