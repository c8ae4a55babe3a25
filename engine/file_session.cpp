// The engine session and the engine's initialisation; see file_session.h.
#include "engine/file_session.h"

#include <cstdlib>
#include <memory>

#include "engine/os_file.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::engine {

namespace {

constexpr std::size_t kMaxText = 255;

std::unique_ptr<TFileSession>& OwnSession() {
  static std::unique_ptr<TFileSession> session;
  return session;
}

TFileSession*& Current() {
  static TFileSession* current = nullptr;
  return current;
}

}  // namespace

void TPasswordList::Add(const std::string& password) {
  if (!password.empty()) items_.push_back(password.substr(0, kMaxText));
}

void TPasswordList::Remove(const std::string& password) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (*it == password) {
      items_.erase(it);
      return;
    }
  }
}

bool TPasswordList::Has(const std::string& password) const {
  for (const auto& p : items_)
    if (p == password) return true;
  return false;
}

void TFileSession::SetPrivateDir(const std::string& dir) {
  privateDir_ = dir.substr(0, kMaxText);
}

std::string TFileSession::MakeTempTableName(bool inMemory) {
  std::string dir = Trim(privateDir_.empty() ? os::CurrentDirectory() : privateDir_);
  if (dir.empty() || (dir.back() != '\\' && dir.back() != '/')) dir += platform::kPathDelim;
  std::string prefix = std::to_string(std::llabs(platform::CurrentThreadId())).substr(0, 5);
  std::unique_lock<std::recursive_mutex> guard(InMemoryLock(), std::defer_lock);
  if (inMemory) guard.lock();
  for (unsigned n = 0;; ++n) {
    std::string candidate = dir + prefix + std::to_string(n) + ".DAT";
    bool taken = inMemory ? MemoryFiles.MemoryFileExists(candidate) : os::IsExistingFile(candidate);
    if (!taken) return candidate;
  }
}

void TFileSession::SetErrorContext(int code, const std::string& fileName, const std::string& fieldName,
                                   const std::string& messageText, const std::string& indexName) {
  ErrorContext.ErrorCode = static_cast<std::uint16_t>(code);
  ErrorContext.ErrorFileName = fileName.substr(0, kMaxText);
  ErrorContext.ErrorFieldName = fieldName.substr(0, kMaxText);
  ErrorContext.ErrorMessageText = messageText.substr(0, kMaxText);
  ErrorContext.ErrorIndexName = indexName.substr(0, kMaxText);
}

void InitializeEngine() {
  if (OwnSession()) return;
  OwnSession() = std::make_unique<TFileSession>();
  Current() = OwnSession().get();
}

void ShutdownEngine() {
  Current() = nullptr;
  OwnSession().reset();
}

bool EngineInitialized() {
  return OwnSession() != nullptr;
}

TFileSession& Session() {
  if (!Current()) RaiseEngineError(err::kNotInitialized);
  return *Current();
}

void SetCurrentSession(TFileSession* session) {
  if (!EngineInitialized()) RaiseEngineError(err::kNotInitialized);
  Current() = session ? session : OwnSession().get();
}

namespace {
TStorageHook& StorageHook() {
  static TStorageHook hook;
  return hook;
}
}  // namespace

void SetStorageHook(TStorageHook hook) {
  StorageHook() = std::move(hook);
}

std::unique_ptr<TStorage> ApplyStorageHook(std::unique_ptr<TStorage> storage, const std::string& fileName) {
  const TStorageHook& hook = StorageHook();
  return hook ? hook(std::move(storage), fileName) : std::move(storage);
}

// The error context lives in the current session; before the engine starts (and after it
// stops) raises still need somewhere to put theirs.
TErrorContext& CurrentErrorContext() {
  static TErrorContext detached;
  return Current() ? Current()->ErrorContext : detached;
}

}  // namespace quillon::engine
