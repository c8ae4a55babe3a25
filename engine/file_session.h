// The engine session: the process-wide state every table operation runs against.
//
// InitializeEngine creates the default TFileSession; ShutdownEngine frees it. Until then, and
// after, Session() raises err::kNotInitialized "Quarry engine not initialized" without touching any error
// context. The component layer may create further sessions and make one current with
// SetCurrentSession; all file and error operations use the current session.
//
// Ownership and threads: the engine owns the default session; a session made current by the
// caller must outlive its use as current and every in-memory file handle opened under it. The
// in-memory directory is guarded by InMemoryLock(); everything else in a session belongs to the
// thread that drives the engine, as the program has only one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/memory_file.h"
#include "engine/storage.h"

namespace quillon::engine {

// Table passwords known to the session; each at most 255 characters, duplicates allowed.
class TPasswordList {
 public:
  void Add(const std::string& password);     // an empty password is ignored
  void Remove(const std::string& password);  // the first equal entry, if any
  void RemoveAll() { items_.clear(); }
  // Case-sensitive: passwords differing only in case are different passwords.
  bool Has(const std::string& password) const;
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  std::vector<std::string> items_;
};

class TFileSession {
 public:
  const std::string& PrivateDir() const { return privateDir_; }
  void SetPrivateDir(const std::string& dir);  // cut to 255 characters

  // A data file name that exists neither on disk nor (when inMemory) in the in-memory
  // directory: directory + the first five digits of the thread id + n + ".DAT".
  std::string MakeTempTableName(bool inMemory);

  void AddPassword(const std::string& password) { Passwords.Add(password); }
  void RemovePassword(const std::string& password) { Passwords.Remove(password); }
  void RemoveAllPasswords() { Passwords.RemoveAll(); }
  bool HasPassword(const std::string& password) const { return Passwords.Has(password); }

  void SetErrorContext(int code, const std::string& fileName, const std::string& fieldName,
                       const std::string& messageText, const std::string& indexName);
  void ClearErrorContext() { ErrorContext = TErrorContext{}; }

  TErrorContext ErrorContext;
  TMemoryFileList MemoryFiles;
  TPasswordList Passwords;

 private:
  std::string privateDir_;
};

void InitializeEngine();  // no-op when already initialised
void ShutdownEngine();
bool EngineInitialized();
// The current session; raises err::kNotInitialized when the engine is not initialised.
TFileSession& Session();
// Makes session current (nullptr: the engine's own session again).
void SetCurrentSession(TFileSession* session);

// Test seam, never set by the program: a process-wide function that is handed every table file's
// storage right after the file was opened or created, with the file's name, and answers the
// storage the file will use (the same one, or a wrapper around it such as a fault-injecting
// storage). An empty function, the default, leaves storages as they are.
using TStorageHook = std::function<std::unique_ptr<TStorage>(std::unique_ptr<TStorage>, const std::string& fileName)>;
void SetStorageHook(TStorageHook hook);
// The storage after the hook, if one is set.
std::unique_ptr<TStorage> ApplyStorageHook(std::unique_ptr<TStorage> storage, const std::string& fileName);

}  // namespace quillon::engine
