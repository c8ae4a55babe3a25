// Win32 backend of platform.h: the ANSI API throughout, since the program's text is in the
// system code page.
#include <windows.h>

#include <algorithm>
#include <memory>

#include "util/platform.h"

namespace quillon::platform {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

DWORD Attributes(const std::string& path) {
  return GetFileAttributesA(path.c_str());
}

}  // namespace

std::string ExecutablePath() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, n);
}

bool IsExistingFile(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsExistingFolder(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out) {
  out.clear();
  std::string pattern = dir;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    bool isDir =
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    out.push_back({std::move(name), isDir});
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  FileHandle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.get(), buffer, sizeof buffer, &n, nullptr)) return false;
    if (n == 0) return true;
    out.append(buffer, n);
  }
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  FileHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
  if (h.get() == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  while (done < data.size()) {
    DWORD n = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
    if (!WriteFile(h.get(), data.data() + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

FileStamp GetFileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return {};
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return {};
  auto size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  auto time =
      (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return {size, time};
}

bool IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

bool KeyDown(int virtualKey) {
  return (GetKeyState(virtualKey) & 0x8000) != 0;
}

bool WriteRegistryString(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                         const std::string& value) {
  HKEY base = root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  HKEY key = nullptr;
  if (RegCreateKeyExA(base, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::uint32_t TickCount() {
  return GetTickCount();
}

void SleepMs(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

LocalTime LocalNow() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::int64_t CurrentThreadId() {
  return static_cast<std::int64_t>(GetCurrentThreadId());
}

}  // namespace quillon::platform
