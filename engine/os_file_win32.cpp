// Win32 backend of os_file.h: CreateFileA with share modes, ReadFile and WriteFile at explicit
// offsets, SetEndOfFile, FlushFileBuffers and LockFile/UnlockFile, whose semantics are the
// contract of os_file.h as they stand.
#include <windows.h>

#include "engine/errors.h"
#include "engine/os_file.h"

namespace quillon::engine::os {

namespace {

int MapError(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return err::kInvalidPath;
    case ERROR_TOO_MANY_OPEN_FILES:
      return err::kTooManyFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED:
      return err::kAccessDenied;
    case ERROR_INVALID_HANDLE:
      return err::kInvalidFileHandle;
    case ERROR_NOT_ENOUGH_MEMORY:
      return err::kOutOfMemory;
    case ERROR_INVALID_DRIVE:
      return err::kDeviceAccessDenied;
    case ERROR_NOT_SAME_DEVICE:
      return err::kFileMoved;
    default:
      return err::kUnknownOsError;
  }
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

}  // namespace

struct TOsFile::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TOsFile::TOsFile() : impl_(std::make_unique<Impl>()) {}
TOsFile::~TOsFile() {
  Close();
}

int TOsFile::Open(const std::string& path, bool readOnly, bool exclusive, bool writeThrough) {
  Close();
  DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD share = exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
  impl_->handle = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
  return impl_->handle == INVALID_HANDLE_VALUE ? MapError(GetLastError()) : 0;
}

int TOsFile::Create(const std::string& path, bool writeThrough) {
  Close();
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
  impl_->handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
  return impl_->handle == INVALID_HANDLE_VALUE ? MapError(GetLastError()) : 0;
}

void TOsFile::Close() {
  if (impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
  impl_->handle = INVALID_HANDLE_VALUE;
}

bool TOsFile::IsOpen() const {
  return impl_->handle != INVALID_HANDLE_VALUE;
}

std::int64_t TOsFile::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count) {
  OVERLAPPED o = At(offset);
  DWORD done = 0;
  if (!ReadFile(impl_->handle, buffer, count, &done, &o)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return done;
}

std::int64_t TOsFile::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count) {
  OVERLAPPED o = At(offset);
  DWORD done = 0;
  if (!WriteFile(impl_->handle, buffer, count, &done, &o)) return -1;
  return done;
}

bool TOsFile::Truncate(std::uint64_t size) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(impl_->handle, to, nullptr, FILE_BEGIN) && SetEndOfFile(impl_->handle);
}

std::int64_t TOsFile::Size() {
  LARGE_INTEGER size;
  return GetFileSizeEx(impl_->handle, &size) ? size.QuadPart : -1;
}

bool TOsFile::Flush() {
  return FlushFileBuffers(impl_->handle) != 0;
}

bool TOsFile::Lock(std::uint32_t offset, std::uint32_t length) {
  return LockFile(impl_->handle, offset, 0, length, 0) != 0;
}

bool TOsFile::Unlock(std::uint32_t offset, std::uint32_t length) {
  return UnlockFile(impl_->handle, offset, 0, length, 0) != 0;
}

std::string ResolveName(const std::string& path) {
  return path;
}

bool IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int ReadOnlyAttribute(const std::string& path, bool& readOnly) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return MapError(GetLastError());
  readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  return 0;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileA(from.c_str(), to.c_str()) != 0;
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string(".");
}

}  // namespace quillon::engine::os
