// POSIX backend of os_file.h.
//
// Byte-range locks are open-file-description locks (F_OFD_SETLK): they belong to the open file,
// not to the process, so two handles of one process conflict exactly as two processes do, and
// closing one handle never drops another handle's locks. Windows refuses to relock a range a
// handle already holds and to unlock a range that was not locked with the same offset and
// length; POSIX locks merge and split silently, so each handle keeps the list of its ranges to
// give the same answers.
//
// Windows share modes are emulated with flock(): a shared open takes a shared lock on the whole
// file and an exclusive open or a create an exclusive one, both without waiting. flock() and
// fcntl() locks are independent on Linux, so the share lock never meets the range locks.
//
// The read-only attribute is a file with no write permission bit at all.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include "engine/errors.h"
#include "engine/os_file.h"
#include "util/text.h"

namespace quillon::engine::os {

namespace {

std::string NativePath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

int MapErrno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EISDIR:
      return err::kInvalidPath;
    case EMFILE:
    case ENFILE:
      return err::kTooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EWOULDBLOCK:
    case ETXTBSY:
      return err::kAccessDenied;
    case EBADF:
      return err::kInvalidFileHandle;
    case ENOMEM:
      return err::kOutOfMemory;
    case ENODEV:
    case ENXIO:
      return err::kDeviceAccessDenied;
    case EXDEV:
      return err::kFileMoved;
    default:
      return err::kUnknownOsError;
  }
}

}  // namespace

struct TOsFile::Impl {
  int fd = -1;
  bool writable = false;      // writes allowed through this handle
  bool lockWritable = false;  // opened for writing at the system level, so write locks work
  std::vector<std::pair<std::uint32_t, std::uint32_t>> locks;  // (offset, length) held by this handle

  int Finish(int code) {
    if (fd >= 0) ::close(fd);
    fd = -1;
    return code;
  }
};

TOsFile::TOsFile() : impl_(std::make_unique<Impl>()) {}
TOsFile::~TOsFile() {
  Close();
}

int TOsFile::Open(const std::string& path, bool readOnly, bool exclusive, bool writeThrough) {
  Close();
  // A read-only handle is still opened for writing where permissions allow, only so that it can
  // take write locks (POSIX ties the lock type to the open mode; Windows does not); writes
  // through it are refused here.
  std::string name = ResolveName(path);
  int flags = O_RDWR | O_CLOEXEC | (writeThrough ? O_DSYNC : 0);
  impl_->fd = ::open(name.c_str(), flags);
  impl_->lockWritable = impl_->fd >= 0;
  if (impl_->fd < 0 && readOnly && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    impl_->fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (impl_->fd < 0) return MapErrno(errno);
  struct stat st {};
  if (::fstat(impl_->fd, &st) != 0) return impl_->Finish(MapErrno(errno));
  if (S_ISDIR(st.st_mode)) return impl_->Finish(err::kInvalidPath);
  if (::flock(impl_->fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return impl_->Finish(MapErrno(errno));
  impl_->writable = !readOnly;
  return 0;
}

int TOsFile::Create(const std::string& path, bool writeThrough) {
  Close();
  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (writeThrough ? O_DSYNC : 0);
  impl_->fd = ::open(ResolveName(path).c_str(), flags, 0666);
  if (impl_->fd < 0) return MapErrno(errno);
  // Only after the share lock is ours may the old content go.
  if (::flock(impl_->fd, LOCK_EX | LOCK_NB) != 0) return impl_->Finish(MapErrno(errno));
  if (::ftruncate(impl_->fd, 0) != 0) return impl_->Finish(MapErrno(errno));
  impl_->writable = true;
  impl_->lockWritable = true;
  return 0;
}

void TOsFile::Close() {
  if (impl_->fd >= 0) ::close(impl_->fd);  // drops the share lock and every range lock
  impl_->fd = -1;
  impl_->locks.clear();
}

bool TOsFile::IsOpen() const {
  return impl_->fd >= 0;
}

std::int64_t TOsFile::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count) {
  auto* p = static_cast<char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(impl_->fd, p + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

std::int64_t TOsFile::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count) {
  if (!impl_->writable) return -1;
  const auto* p = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(impl_->fd, p + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done == 0 ? -1 : done;
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

bool TOsFile::Truncate(std::uint64_t size) {
  return impl_->writable && ::ftruncate(impl_->fd, static_cast<off_t>(size)) == 0;
}

std::int64_t TOsFile::Size() {
  struct stat st {};
  return ::fstat(impl_->fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool TOsFile::Flush() {
  return ::fdatasync(impl_->fd) == 0;
}

bool TOsFile::Lock(std::uint32_t offset, std::uint32_t length) {
  if (impl_->fd < 0 || length == 0) return false;
  std::uint64_t last = std::uint64_t{offset} + length - 1;
  for (auto [o, l] : impl_->locks) {
    std::uint64_t heldLast = std::uint64_t{o} + l - 1;
    if (offset <= heldLast && o <= last) return false;
  }
  struct flock fl {};
  // A write lock needs a handle open for writing; a read-only handle can only take read locks,
  // which still conflict with every write lock of the other handles.
  fl.l_type = impl_->lockWritable ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (::fcntl(impl_->fd, F_OFD_SETLK, &fl) != 0) return false;
  impl_->locks.emplace_back(offset, length);
  return true;
}

bool TOsFile::Unlock(std::uint32_t offset, std::uint32_t length) {
  for (auto it = impl_->locks.begin(); it != impl_->locks.end(); ++it) {
    if (it->first != offset || it->second != length) continue;
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    if (::fcntl(impl_->fd, F_OFD_SETLK, &fl) != 0) return false;
    impl_->locks.erase(it);
    return true;
  }
  return false;
}

std::string ResolveName(const std::string& path) {
  std::string native = NativePath(path);
  struct stat st {};
  if (native.empty() || ::lstat(native.c_str(), &st) == 0) return native;
  std::size_t slash = native.rfind('/');
  std::string dir = slash == std::string::npos ? "." : native.substr(0, slash == 0 ? 1 : slash);
  std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return native;
  std::string match;
  int matches = 0;
  while (dirent* e = ::readdir(d)) {
    if (EqualIgnoringCase(e->d_name, name)) {
      match = e->d_name;
      ++matches;
    }
  }
  ::closedir(d);
  if (matches != 1) return native;
  return slash == std::string::npos ? match : native.substr(0, slash + 1) + match;
}

bool IsExistingFile(const std::string& path) {
  struct stat st {};
  return ::stat(ResolveName(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int ReadOnlyAttribute(const std::string& path, bool& readOnly) {
  struct stat st {};
  if (::stat(ResolveName(path).c_str(), &st) != 0) return MapErrno(errno);
  readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return 0;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(ResolveName(path).c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  std::string target = ResolveName(to);
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) return false;  // never replace an existing file
  return ::rename(ResolveName(from).c_str(), target.c_str()) == 0;
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

}  // namespace quillon::engine::os
