#include "skin/skin_objects.h"

#include <algorithm>
#include <list>

namespace quillon::skin {

namespace {
// A list with each object holding its own position, so that freeing a tree of thousands of
// objects costs one unlink each.
std::list<TscSkinObject*>& LiveList() {
  static std::list<TscSkinObject*> list;
  return list;
}
}  // namespace

const std::list<TscSkinObject*>& LiveSkinObjects() {
  return LiveList();
}

void AdvanceSkinAnimations(const std::function<bool(const TscSkinObject&)>& which) {
  const std::vector<TscSkinObject*> snapshot(LiveList().begin(), LiveList().end());
  for (TscSkinObject* o : snapshot) {
    const auto& live = LiveList();
    if (std::find(live.begin(), live.end(), o) == live.end()) continue;
    if (which(*o)) o->AnimationStep();
  }
}

bool IsBorderKind(TSkinKind k) {
  return k >= TSkinKind::Top && k <= TSkinKind::BottomRight;
}

TscSkinObject::TscSkinObject() {
  livePosition_ = LiveList().insert(LiveList().end(), this);
}

TscSkinObject::~TscSkinObject() {
  Destroying = true;
  LiveList().erase(livePosition_);
  children_.clear();
  Image.reset();
  MaskImage.reset();
  TargetImage.reset();
}

void TscSkinObject::Assign(const TscSkinObject& other) {
  if (&other == this) return;
  Parent = other.Parent;
  Source = other.Source;
  Name = other.Name;
  Align = other.Align;
  Conditions = other.Conditions;
  Enabled = other.Enabled;
  Visible = other.Visible;
  Transparency = other.Transparency;
  Kind = other.Kind;
  TileStyle = other.TileStyle;
  if (other.Image) Image = other.Image;
  Color = other.Color;
  Text = other.Text;
  TextAlign = other.TextAlign;
  TextColor = other.TextColor;
  DisabledTextColor = other.DisabledTextColor;
  Font = other.Font;
  if (other.MaskImage) MaskImage = other.MaskImage;
  MaskColor = other.MaskColor;
  MaskKind = other.MaskKind;
  ConfiguredLeft = other.ConfiguredLeft;
  ConfiguredTop = other.ConfiguredTop;
  SetBounds(other.GetBounds());
  for (int i = 0; i < kSkinEventCount; ++i) Events[i] = other.Events[i];
  children_.clear();
  for (const auto& child : other.children_) {
    auto copy = child->CreateNew();
    copy->Assign(*child);
    AddChild(std::move(copy));
  }
}

void TscSkinObject::AddChild(std::unique_ptr<TscSkinObject> child) {
  child->Parent = this;
  children_.push_back(std::move(child));
}

std::unique_ptr<TscSkinObject> TscSkinObject::RemoveChild(TscSkinObject* child) {
  for (auto it = children_.begin(); it != children_.end(); ++it)
    if (it->get() == child) {
      auto owned = std::move(*it);
      children_.erase(it);
      return owned;
    }
  return nullptr;
}

void TscSkinObject::SetBounds(const TSkinRect& r) {
  Left = r.left;
  Top = r.top;
  Width = std::max(0, r.right - r.left);
  Height = std::max(0, r.bottom - r.top);
  Realign();
}

void TscSkinObject::SetWidth(int w) {
  Width = w;
  Realign();
}

void TscSkinObject::SetHeight(int h) {
  Height = h;
  Realign();
}

void TscSkinObject::SetText(const std::string& s) {
  Text = s;
  if (Align == TSkinAlign::Text && Parent) {
    Width = SkinTextRenderer().TextWidth(Font, s);
    Parent->Realign();
  }
}

void TscSkinObject::SetVisible(bool v) {
  ForEach([v](TscSkinObject& o) { o.Visible = v; });
}
void TscSkinObject::SetSource(TscSkinSource* s) {
  ForEach([s](TscSkinObject& o) { o.Source = s; });
}
void TscSkinObject::SetEngine(TSkinEngineLink* e) {
  ForEach([e](TscSkinObject& o) { o.Engine = e; });
}
void TscSkinObject::SetWindowHandle(TSkinWindow w) {
  ForEach([w](TscSkinObject& o) { o.WindowHandle = w; });
}

TscSkinObject* TscSkinObject::FindKind(TSkinKind k) {
  if (Kind == k) return this;
  for (const auto& c : children_)
    if (auto* hit = c->FindKind(k)) return hit;
  return nullptr;
}

void TscSkinObject::ForEach(const std::function<void(TscSkinObject&)>& f) {
  f(*this);
  for (const auto& c : children_) c->ForEach(f);
}

void TscSkinObject::Realign() {
  TSkinRect r = GetBounds();
  auto visible = [this](auto&& body, TSkinAlign a, bool reverse) {
    // The list may not change during a pass, but a child's SetBounds may realign this object
    // again ("text" children); index access keeps that safe.
    const int n = static_cast<int>(children_.size());
    for (int k = 0; k < n; ++k) {
      TscSkinObject* c = children_[static_cast<std::size_t>(reverse ? n - 1 - k : k)].get();
      if (c->Visible && c->Align == a) body(*c);
    }
  };
  auto stack = [&](TSkinAlign topA, TSkinAlign bottomA, TSkinAlign leftA, TSkinAlign rightA) {
    visible(
        [&](TscSkinObject& c) {
          const int h = c.Height;
          c.SetBounds({r.left, r.top, r.right, r.top + h});
          r.top += h;
        },
        topA, false);
    visible(
        [&](TscSkinObject& c) {
          const int h = c.Height;
          c.SetBounds({r.left, r.bottom - h, r.right, r.bottom});
          r.bottom -= h;
        },
        bottomA, true);
    visible(
        [&](TscSkinObject& c) {
          const int w = c.Width;
          c.SetBounds({r.left, r.top, r.left + w, r.bottom});
          r.left += w;
        },
        leftA, false);
    visible(
        [&](TscSkinObject& c) {
          const int w = c.Width;
          c.SetBounds({r.right - w, r.top, r.right, r.bottom});
          r.right -= w;
        },
        rightA, true);
  };
  stack(TSkinAlign::MostTop, TSkinAlign::MostBottom, TSkinAlign::MostLeft, TSkinAlign::MostRight);
  stack(TSkinAlign::Top, TSkinAlign::Bottom, TSkinAlign::Left, TSkinAlign::Right);
  visible(
      [&](TscSkinObject& c) {
        if (c.placing_) {
          c.SetBounds(r);
        } else {
          // Widen this object so the text fits; the nested pass places the child at its own R.
          c.placing_ = true;
          SetWidth(Width + c.Width - (r.right - r.left));
          c.placing_ = false;
        }
      },
      TSkinAlign::Text, true);
  visible(
      [&](TscSkinObject& c) {
        const int x = r.left + (r.right - r.left - c.Width) / 2;
        c.SetBounds({x, Top, x + c.Width, Top + Height});
      },
      TSkinAlign::Center, true);
  visible([&](TscSkinObject& c) { c.SetBounds(r); }, TSkinAlign::Client, false);
  for (const auto& c : children_) {
    if (!c->Visible) continue;
    if (c->Align == TSkinAlign::TopRight || c->Align == TSkinAlign::BottomRight) c->Left = Width - c->ConfiguredLeft;
    if (c->Align == TSkinAlign::BottomLeft || c->Align == TSkinAlign::BottomRight) c->Top = Height - c->ConfiguredTop;
  }
}

std::string TscSkinObject::ShortenText(const std::string& text, const TSkinFontSpec& font, int limit) {
  auto& tr = SkinTextRenderer();
  if (tr.TextWidth(font, text) <= limit) return text;
  std::string result;
  for (char c : text) {
    if (tr.TextWidth(font, result + c + "...") > limit) break;
    result += c;
  }
  return result + "...";
}

void TscSkinObject::Paint(TOmbraBmp& canvas) {
  if (!Visible) return;
  if (Image && Image->Width() > 0) {
    const int cx = Left + (Width - Image->Width()) / 2, cy = Top + (Height - Image->Height()) / 2;
    if (MaskColor != kSkinBlack && !IsBorderKind(Kind)) {
      switch (TileStyle) {
        case TSkinTileStyle::Tile:
          Image->TileDrawTransparent(canvas, Left, Top, Width, Height, MaskColor);
          break;
        case TSkinTileStyle::Stretch:
          Image->StretchDrawTransparent(canvas, Left, Top, Width, Height, MaskColor);
          break;
        case TSkinTileStyle::Center:
          Image->DrawTransparent(canvas, cx, cy, MaskColor);
          break;
        case TSkinTileStyle::StretchLinear:
          break;
      }
    } else {
      switch (TileStyle) {
        case TSkinTileStyle::Tile:
          Image->TileDraw(canvas, Left, Top, Width, Height);
          break;
        case TSkinTileStyle::Stretch:
          Image->StretchDraw(canvas, Left, Top, Width, Height);
          break;
        case TSkinTileStyle::Center:
          Image->Draw(canvas, cx, cy);
          break;
        case TSkinTileStyle::StretchLinear:
          break;
      }
    }
  } else if (Transparency == 100) {
    canvas.FillRect(GetBounds(), Color);
  }
  for (const auto& c : children_) c->Paint(canvas);
  if (Text.empty()) return;
  const TSkinRect tr{Left + TextMargins[0], Top + TextMargins[1], Left + Width - TextMargins[2],
                     Top + Height - TextMargins[3]};
  if (Text == "-") {
    const int y = Top + Height / 2 - 1;
    canvas.FillRect({4, y, Width - 5, y + 1}, TextColor);
    return;
  }
  const TSkinColor color = Enabled ? TextColor : DisabledTextColor;
  std::string shown = Text;
  if (Kind == TSkinKind::Title) shown = ShortenText(Text, Font, tr.Width() - TextMargins[0] - TextMargins[2]);
  auto& renderer = SkinTextRenderer();
  renderer.PaintText(canvas, tr, shown, Font, color, TextAlign);
  if (!SecondText.empty()) {
    static constexpr int kSwapped[9] = {2, 1, 0, 5, 4, 3, 8, 7, 6};
    const int align = TextAlign >= 0 && TextAlign <= 8 ? kSwapped[TextAlign] : TextAlign;
    renderer.PaintText(canvas, tr, SecondText, Font, color, align);
  }
}

TscSkinObject* TscSkinObject::ObjectAt(int x, int y) {
  if (!Visible || !GetBounds().Contains(x, y)) return nullptr;
  if (children_.empty()) return this;
  TscSkinObject* hit = nullptr;
  for (const auto& c : children_)
    if (auto* h = c->ObjectAt(x, y)) hit = h;
  return hit ? hit : this;
}

TSkinRegion TscSkinObject::CreateRegion() const {
  const TSkinRect bounds = GetBounds();
  if (!children_.empty()) {
    TSkinRegion united;
    for (const auto& c : children_)
      if (c->Visible) united.Union(c->CreateRegion());
    united.IntersectWith(bounds);
    return united;
  }
  const TOmbraBmp* source = nullptr;
  TSkinColor key = kSkinWhite;
  if (MaskKind == TSkinMaskKind::ColorKey) {
    source = Image.get();
    key = MaskColor;
  } else if (MaskKind == TSkinMaskKind::MaskImage) {
    source = MaskImage.get();
  }
  if (!source || source->Width() == 0 || source->Height() == 0) return TSkinRegion(bounds);
  if (Width > kMaxBitmapSide || Height > kMaxBitmapSide || static_cast<std::int64_t>(Width) * Height > kMaxBitmapPixels)
    return TSkinRegion(bounds);
  TOmbraBmp shape(Width, Height);
  if (TileStyle == TSkinTileStyle::Tile)
    source->TileDraw(shape, 0, 0, Width, Height);
  else if (TileStyle == TSkinTileStyle::Stretch)
    source->StretchDraw(shape, 0, 0, Width, Height);
  TSkinRegion region(shape.KeyRuns(key));
  region.Offset(Left, Top);
  return region;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += "\r\n";
    out += lines[i];
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

}  // namespace quillon::skin
