// skinpack: builds a skin package ("skin.dat") from a skin source folder and dumps a package back
// into a folder.
//
//   skinpack pack <folder> <package>     folder with one *.osk descriptor, BMP and wave files
//   skinpack unpack <package> <folder>   writes config.osk, <image>.bmp and <sound>.wav
//   skinpack check <package>             loads the package and lists what it holds
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
               "       skinpack check <package>\n");
  return 2;
}

void CountObjects(const TscSkinObject& o, int& n) {
  ++n;
  for (int i = 0; i < o.ChildCount(); ++i) CountObjects(*o.Child(i), n);
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
      if (!quillon::platform::DirectoryExists(argv[3])) {
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
  } catch (const ESkinError& e) {
    std::fprintf(stderr, "skinpack: %s\n", e.what());
    return 1;
  }
  return Usage();
}
