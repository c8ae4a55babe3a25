// Test support: a fresh folder under the system's temporary folder, removed with its content
// when the object goes out of scope.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "util/platform.h"

namespace quillon::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      std::ostringstream name;
      name << "quillon-" << platform::TickCount() << "-" << counter++;
      path_ = base / name.str();
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder with a trailing delimiter, ready for "dir + name".
  std::string Path() const { return path_.string() + platform::kPathDelim; }
  std::string File(const std::string& name) const { return Path() + name; }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void MakeDir(const std::string& name) const { std::filesystem::create_directories(path_ / name); }

 private:
  std::filesystem::path path_;
};

}  // namespace quillon::testing
