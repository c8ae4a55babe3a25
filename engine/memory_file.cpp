// In-memory files and their directory; see memory_file.h for the invariants.
#include "engine/memory_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/errors.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

constexpr std::uint32_t kMaxMemoryFileSize = 0x7FFFFFFF;

// Names compare without case after trimming blanks.
bool SameName(const std::string& a, const std::string& b) {
  return EqualIgnoringCase(Trim(a), Trim(b));
}

// The name without folder and extension, trimmed: empty means no usable name.
std::string BareName(const std::string& name) {
  std::size_t slash = name.find_last_of("\\/");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  std::size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.erase(dot);
  return Trim(base);
}

}  // namespace

std::recursive_mutex& InMemoryLock() {
  static std::recursive_mutex lock;
  return lock;
}

// ---- TMemoryFile -----------------------------------------------------------------------------

TMemoryFile::THandleEntry* TMemoryFile::Find(int handle) {
  for (auto& h : handles_)
    if (h.Handle == handle) return &h;
  return nullptr;
}

int TMemoryFile::AddHandle(bool exclusive) {
  int number = 1;
  while (Find(number)) ++number;
  handles_.push_back({number, 0});
  if (handles_.size() == 1) exclusiveOpen_ = exclusive;
  return number;
}

bool TMemoryFile::Resize(std::uint32_t size) {
  std::uint64_t capacity = (std::uint64_t{size} + kMemoryFileGranule - 1) / kMemoryFileGranule * kMemoryFileGranule;
  try {
    if (capacity == 0) {
      std::vector<std::uint8_t>().swap(data_);
    } else if (capacity != data_.size()) {
      data_.resize(static_cast<std::size_t>(capacity));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Bytes beyond Size are kept zero, so a later growth exposes zeros, never stale data.
  if (size < size_) std::fill(data_.begin() + size, data_.begin() + std::min<std::size_t>(size_, data_.size()), 0);
  size_ = size;
  return true;
}

std::uint32_t TMemoryFile::Read(int handle, void* buffer, std::uint32_t count) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  THandleEntry* h = Find(handle);
  if (!h || h->Position < 0 || h->Position >= size_) return 0;
  std::uint32_t n = std::min<std::uint32_t>(count, size_ - static_cast<std::uint32_t>(h->Position));
  std::memcpy(buffer, data_.data() + h->Position, n);
  h->Position += n;
  return n;
}

std::uint32_t TMemoryFile::Write(int handle, const void* buffer, std::uint32_t count) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  THandleEntry* h = Find(handle);
  if (!h || h->Position < 0 || h->Position > kMaxMemoryFileSize) return 0;
  auto position = static_cast<std::uint32_t>(h->Position);
  if (count == 0) {
    Resize(position);
    return 0;
  }
  if (std::uint64_t{position} + count > kMaxMemoryFileSize) return 0;
  if (position + count > size_ && !Resize(position + count)) return 0;
  std::memcpy(data_.data() + position, buffer, count);
  h->Position += count;
  return count;
}

std::int64_t TMemoryFile::Seek(int handle, std::int64_t offset, int origin) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  THandleEntry* h = Find(handle);
  if (!h) return -1;
  switch (origin) {
    case 0:
      h->Position = offset;
      break;
    case 1:
      h->Position += offset;
      break;
    default:
      h->Position = size_;
      break;
  }
  return h->Position;
}

bool TMemoryFile::Lock(std::uint32_t first, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  if (length == 0) return false;
  std::uint32_t last = first + (length - 1);
  for (const auto& l : locks_) {
    bool overlap = (first >= l.First && first <= l.Last) || (l.First >= first && l.First <= last);
    if (overlap) return false;
  }
  locks_.push_back({first, last, length});
  return true;
}

bool TMemoryFile::Unlock(std::uint32_t first, std::uint32_t length) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  for (auto it = locks_.begin(); it != locks_.end(); ++it) {
    if (it->First == first && it->Length == length) {
      locks_.erase(it);
      return true;
    }
  }
  return false;
}

void TMemoryFile::CloseHandle(int handle) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  auto it = std::find_if(handles_.begin(), handles_.end(), [&](const THandleEntry& h) { return h.Handle == handle; });
  if (it != handles_.end()) handles_.erase(it);
  if (handles_.empty()) exclusiveOpen_ = false;
}

// ---- TMemoryFileList -------------------------------------------------------------------------

TMemoryFile* TMemoryFileList::Find(const std::string& name) {
  for (auto& f : files_)
    if (SameName(f->Name, name)) return f.get();
  return nullptr;
}

int TMemoryFileList::CreateMemoryFile(const std::string& name, TMemoryFile*& file) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  if (BareName(name).empty()) return -err::kInvalidPath;
  file = Find(name);
  if (file) {
    if (file->OpenCount() > 0) return -err::kAccessDenied;
    file->Resize(0);
    file->locks_.clear();
  } else {
    files_.push_back(std::make_unique<TMemoryFile>(name));
    file = files_.back().get();
  }
  return file->AddHandle(true);
}

int TMemoryFileList::OpenMemoryFile(const std::string& name, bool exclusive, TMemoryFile*& file) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  file = Trim(name).empty() ? nullptr : Find(name);
  if (!file) return -err::kInvalidPath;
  if (file->OpenCount() > 0 && (file->ExclusiveOpen() || exclusive)) return -err::kAccessDenied;
  return file->AddHandle(exclusive);
}

bool TMemoryFileList::DeleteMemoryFile(const std::string& name) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  for (auto it = files_.begin(); it != files_.end(); ++it) {
    if (SameName((*it)->Name, name)) {
      if ((*it)->OpenCount() > 0) return false;
      files_.erase(it);
      return true;
    }
  }
  return false;
}

bool TMemoryFileList::RenameMemoryFile(const std::string& name, const std::string& newName) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  TMemoryFile* file = Find(name);
  if (!file || file->OpenCount() > 0 || BareName(newName).empty()) return false;
  TMemoryFile* other = Find(newName);
  if (other && other != file) return false;
  file->Name = newName;
  return true;
}

bool TMemoryFileList::MemoryFileExists(const std::string& name) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  return !Trim(name).empty() && Find(name) != nullptr;
}

int TMemoryFileList::CopyMemoryFile(TMemoryFile& file, int, const std::string& destinationName) {
  std::lock_guard<std::recursive_mutex> guard(InMemoryLock());
  if (&file == Find(destinationName)) return -err::kAccessDenied;
  TMemoryFile* target = nullptr;
  int handle = CreateMemoryFile(destinationName, target);
  if (handle < 0) return handle;
  bool ok = target->Resize(file.size_);
  if (ok && file.size_ > 0) std::memcpy(target->data_.data(), file.data_.data(), file.size_);
  target->CloseHandle(handle);
  return ok ? 0 : -err::kOutOfMemory;
}

}  // namespace quillon::engine
