// POSIX backend of platform.h.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "util/platform.h"

namespace quillon::platform {

namespace {

std::string NativePath(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string ExecutablePath() {
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

bool IsExistingFile(const std::string& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsExistingFolder(const std::string& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out) {
  out.clear();
  std::string native = NativePath(dir);
  DIR* d = ::opendir(native.empty() ? "." : native.c_str());
  if (!d) return false;
  if (!native.empty() && native.back() != '/') native += '/';
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    bool isDir = ::lstat((native + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    out.push_back({std::move(name), isDir});
  }
  ::closedir(d);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(NativePath(path).c_str(), "rb"));
  if (!f) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) out.append(buffer, n);
  return !std::ferror(f.get());
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  std::FILE* f = std::fopen(NativePath(path).c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}

FileStamp GetFileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0) return {};
  return {static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

bool KeyDown(int) {
  return false;
}

bool IsLeadByte(unsigned char) {
  return false;
}

bool WriteRegistryString(RegistryRoot, const std::string&, const std::string&, const std::string&) {
  return false;
}

std::uint32_t TickCount() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void SleepMs(std::uint32_t milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

LocalTime LocalNow() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm parts{};
  ::localtime_r(&ts.tv_sec, &parts);
  return {parts.tm_year + 1900,
          parts.tm_mon + 1,
          parts.tm_mday,
          parts.tm_hour,
          parts.tm_min,
          parts.tm_sec,
          static_cast<int>(ts.tv_nsec / 1000000)};
}

std::int64_t CurrentThreadId() {
  return static_cast<std::int64_t>(::syscall(SYS_gettid));
}

}  // namespace quillon::platform
