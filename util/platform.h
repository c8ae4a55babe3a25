// The operating-system services the portable helpers need, behind one small set of functions with
// two backends chosen at build time (platform_win32.cpp, platform_posix.cpp).
//
// Paths are 8-bit strings in the system code page. Both backends accept "\" and "/" as folder
// separators, so code written for the Windows program ("C:\dir\file") also runs in native tests.
// Nothing here throws; failures come back as false or empty results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::platform {

// The folder separator this platform writes.
#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

// Full path of the running executable.
std::string ExecutablePath();

bool IsExistingFile(const std::string& path);    // an existing file, not a folder
bool IsExistingFolder(const std::string& path);  // an existing folder

struct DirEntry {
  std::string name;
  bool directory = false;
};
// Every entry of a folder except "." and ".." (in the order the system gives them).
// Links to folders are reported as non-folders so that recursive scans cannot loop.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out);

bool ReadWholeFile(const std::string& path, std::string& out);
// Creates or overwrites; false when the file cannot be written completely.
bool WriteWholeFile(const std::string& path, const std::string& data);

// Size and modification time, for noticing that another program changed a file.
struct FileStamp {
  std::int64_t size = -1;
  std::int64_t modified = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp GetFileStamp(const std::string& path);  // size -1 when the file does not exist

// True while the key with this Windows virtual-key code is held down; always false where the
// platform has no such keyboard state.
bool KeyDown(int virtualKey);

enum class RegistryRoot { CurrentUser, LocalMachine };
// Creates the key when missing and writes a string value; false when that is not possible
// (always false where the platform has no registry).
bool WriteRegistryString(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                         const std::string& value);

// Whether a byte starts a double-byte character in the system code page (always false where the
// platform has no double-byte code pages).
bool IsLeadByte(unsigned char byte);

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows tick count.
std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);

// The local calendar date and wall-clock time.
struct LocalTime {
  int year = 0, month = 0, day = 0;  // month and day 1-based
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime LocalNow();

// A number naming the calling thread (the Windows thread identifier; the kernel's thread id on
// POSIX systems).
std::int64_t CurrentThreadId();

}  // namespace quillon::platform
