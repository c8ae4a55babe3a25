// skinpack: builds a skin package ("skin.dat") from a skin source folder and dumps a package back
// into a folder.
//
//   skinpack pack <folder> <package>     folder with one *.osk descriptor, BMP and wave files
//   skinpack unpack <package> <folder>   writes config.osk, <image>.bmp and <sound>.wav
//   skinpack check <package>             loads the package and lists what it holds
//   skinpack render <package> <out.bmp> [width height]
//                                        paints the Form object laid out at that size (640 x 480),
//                                        with a popup menu of three items and two page-control tabs
//                                        beside it, for looking at a skin without the program
//
// A package is written by the same code that reads it, so "pack" then "check" proves the result
// loads; any load error is reported with its reason and exit code 1.
#include <cstdio>
#include <string>

#include "skin/skin_source.h"
#include "util/platform.h"

using namespace quillon::skin;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: skinpack pack <folder> <package>\n"
               "       skinpack unpack <package> <folder>\n"
               "       skinpack check <package>\n"
               "       skinpack render <package> <out.bmp> [width height]\n");
  return 2;
}

void CountObjects(const TscSkinObject& o, int& n) {
  ++n;
  for (int i = 0; i < o.ChildCount(); ++i) CountObjects(*o.Child(i), n);
}

// Conditions as a plain active window with every caption button would show them.
bool ShownInPreview(const TscSkinObject& o) {
  const TSkinConditions& c = o.Conditions;
  if (c.test(scNever) || c.test(scInactive) || c.test(scMaximized) || c.test(scTabNoActive)) return false;
  return true;
}

void ApplyPreviewVisibility(TscSkinObject& root) {
  root.ForEach([](TscSkinObject& o) { o.Visible = ShownInPreview(o); });
}

int Render(const TscSkinSource& source, const std::string& out, int width, int height) {
  TscSkinObject* form = source.FindObject(TSkinKind::Form);
  if (!form) {
    std::fprintf(stderr, "skinpack: the package has no Form object\n");
    return 1;
  }
  const int margin = 16, side = 220;
  TOmbraBmp canvas(width + side + 2 * margin, height + 2 * margin);
  canvas.Fill(SkinRgb(128, 128, 128));
  ApplyPreviewVisibility(*form);
  if (TscSkinObject* title = form->FindKind(TSkinKind::Title)) title->Text = "Pelmora Lyrics Base - Quillon";
  if (TscSkinObject* item = form->FindKind(TSkinKind::MenuBarItem)) {
    item->Text = "&Options";
    item->SetWidth(SkinTextRenderer().TextWidth(item->Font, item->Text) + 8);
  }
  // Each tree paints on its own surface from (0, 0), as a window does: corner alignments and
  // separators are placed in the surface's coordinates.
  form->SetBounds({0, 0, width, height});
  TOmbraBmp window(width, height);
  form->Paint(window);
  window.Draw(canvas, margin, margin);

  int y = margin;
  if (TscSkinObject* popup = source.FindObject(TSkinKind::PopupMenu)) {
    TscSkinObject menu;
    menu.Assign(*popup);
    ApplyPreviewVisibility(menu);
    if (TscSkinObject* templ = menu.FindKind(TSkinKind::PopupMenuItem)) {
      templ->Visible = false;
      const char* captions[] = {"&Save lyrics", "-", "E&xit"};
      for (const char* caption : captions) {
        auto item = templ->CreateNew();
        item->Assign(*templ);
        item->Visible = true;
        item->Text = caption;
        item->TextMargins[0] = 22;
        item->TextMargins[2] = 16;
        templ->Parent->AddChild(std::move(item));
      }
      const int menuHeight = 3 * templ->Height + 8;
      menu.SetBounds({0, 0, 160, menuHeight});
      TOmbraBmp menuWindow(160, menuHeight);
      menu.Paint(menuWindow);
      menuWindow.Draw(canvas, width + 2 * margin, y);
      y += menuHeight + margin;
    }
  }
  if (TscSkinObject* pages = source.FindObject(TSkinKind::PageControl)) {
    for (int active = 1; active >= 0; --active) {
      TscSkinObject copy;
      copy.Assign(*pages);
      copy.ForEach([active](TscSkinObject& o) {
        const auto& c = o.Conditions;
        o.Visible = c.test(scAlways) || (active && c.test(scTabActive)) || (!active && c.test(scTabNoActive));
      });
      if (TscSkinObject* tab = copy.FindKind(TSkinKind::PageControlTab)) {
        tab->Text = active ? "Artists" : "Search";
        const int x = width + 2 * margin + (active ? 0 : 80);
        tab->SetBounds({x, y, x + 76, y + 22});
        tab->Paint(canvas);
      }
    }
  }
  if (!canvas.SaveToFile(out)) {
    std::fprintf(stderr, "skinpack: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  try {
    if (command == "pack" && argc == 4) {
      TscSkinSource source;
      source.LoadFromFolder(argv[2]);
      if (!source.Loaded) {
        std::fprintf(stderr, "skinpack: no *.osk descriptor in %s\n", argv[2]);
        return 1;
      }
      std::string bytes;
      source.SaveToStream(bytes);
      TscSkinSource check;
      check.LoadFromStream(bytes);
      if (!quillon::platform::WriteWholeFile(argv[3], bytes)) {
        std::fprintf(stderr, "skinpack: cannot write %s\n", argv[3]);
        return 1;
      }
      return 0;
    }
    if (command == "unpack" && argc == 4) {
      TscSkinSource source;
      source.LoadFromFile(argv[2]);
      if (!quillon::platform::IsExistingFolder(argv[3])) {
        std::fprintf(stderr, "skinpack: no folder %s\n", argv[3]);
        return 1;
      }
      source.SaveToFolder(argv[3]);
      return 0;
    }
    if (command == "check" && argc == 3) {
      TscSkinSource source;
      source.LoadFromFile(argv[2]);
      int objects = 0;
      for (const auto& o : source.Objects) CountObjects(*o, objects);
      std::printf("%s %s: %zu top-level objects, %d objects, %zu images, %zu sounds\n", source.SkinName.c_str(),
                  source.SkinVersion.c_str(), source.Objects.size(), objects, source.Images.size(),
                  source.Sounds.size());
      return 0;
    }
    if (command == "render" && (argc == 4 || argc == 6)) {
      TscSkinSource source;
      source.LoadFromFile(argv[2]);
      int width = 640, height = 480;
      if (argc == 6 && (!ParseSkinInt(argv[4], width) || !ParseSkinInt(argv[5], height) || width < 64 || height < 64 ||
                        width > 4000 || height > 4000)) {
        std::fprintf(stderr, "skinpack: width and height from 64 to 4000\n");
        return 2;
      }
      return Render(source, argv[3], width, height);
    }
  } catch (const ESkinError& e) {
    std::fprintf(stderr, "skinpack: %s\n", e.what());
    return 1;
  }
  return Usage();
}
