// Sessions and databases of the component layer.
//
// Every table and query component belongs to a session (TQuarrySession) and reaches its table
// files through a database (TQuarryDatabase), which turns a DatabaseName into a directory. The
// application never places either: its datasets use the default session "Default" and name a
// directory as DatabaseName, for which the session makes a temporary database.
//
// Responsibilities and invariants:
//  1. TQuarrySessionList is process-wide; it is created with the default session the first time
//     it is asked for and holds every session, every database component and every dataset link.
//     Its list, the auto-session numbers and session activation run under one recursive mutex.
//  2. Session names are unique without regard to case; "" names the default session.
//  3. A temporary database belongs to its session and exists while datasets use it (or, with
//     KeepConnection, until the session deactivates); a database component belongs to whoever
//     created it and is only disconnected by the session.
//  4. A connected database is in exactly one session; disconnecting it closes its datasets, last
//     first, and leaves its dataset list empty.
//  5. The default session uses the engine's own session; every other session gets one of its
//     own while active. Engine calls for a session run inside a TEngineScope.
//
// Nothing here includes windows headers: the password dialog is reached through TPasswordPrompt,
// which the windows build installs.
//
// Thread rules: components are used from the main thread; only the list and activation are
// guarded, as the program drives everything from one thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/file_session.h"

namespace quillon::dataset {

inline constexpr char kEngineVersion[] = "1.16";
inline constexpr char kDefaultSessionName[] = "Default";

class TQuarrySession;
class TQuarryDatabase;

// What a dataset shows to sessions and databases.
class TQuarryDatasetLink {
 public:
  virtual ~TQuarryDatasetLink() = default;
  // The component that owns the dataset (a form), or null.
  virtual const void* Owner() const = 0;
  // An auto-session pushes its generated name into the datasets of its owner.
  virtual void SetSessionName(const std::string& name) = 0;
  // The dataset's database disconnects: the dataset closes (and gives its database back).
  virtual void CloseForDatabase() = 0;
};

// The prompt a session shows when a table needs a password and no OnPassword handler is set.
// Answers true when the user closed it with OK (passwords may have been added to the session).
class TPasswordPrompt {
 public:
  virtual ~TPasswordPrompt() = default;
  virtual bool Ask(TQuarrySession& session) = 0;
};
// The windows build installs its dialog; without a prompt the answer is false.
void SetPasswordPrompt(TPasswordPrompt* prompt);
TPasswordPrompt* PasswordPrompt();

class TQuarrySessionList {
 public:
  static TQuarrySessionList& Instance();

  std::recursive_mutex& Lock() { return lock_; }
  TQuarrySession& DefaultSession() { return *default_; }
  // Case ignored; an empty name is the default session; null when there is none.
  TQuarrySession* FindSession(const std::string& name);
  // "Session name %s is not valid." when there is none.
  TQuarrySession& GetSession(const std::string& name);
  int SessionCount();
  TQuarrySession& Sessions(int index);

  // The lowest auto-session number not in use (from 1), now marked used.
  int TakeAutoNumber();
  void ReleaseAutoNumber(int number);
  bool AutoNumberUsed(int number);

  // Datasets register for their lifetime, so auto-sessions and databases can reach them.
  void RegisterDataset(TQuarryDatasetLink* dataset);
  void UnregisterDataset(TQuarryDatasetLink* dataset);

 private:
  friend class TQuarrySession;
  friend class TQuarryDatabase;
  TQuarrySessionList();
  ~TQuarrySessionList();

  std::recursive_mutex lock_;
  std::vector<TQuarrySession*> sessions_;
  std::vector<TQuarryDatabase*> databases_;  // database components
  std::vector<TQuarryDatasetLink*> datasets_;
  std::vector<bool> autoNumbers_;  // [n] = number n in use
  std::unique_ptr<TQuarrySession> default_;
};

class TQuarrySession {
 public:
  using TPasswordEvent = std::function<void(TQuarrySession& sender, bool& continueAsking)>;
  using TStartupEvent = std::function<void(TQuarrySession& sender)>;

  // componentName: the component's own name (the base of an auto-session name); owner: the
  // component that owns it, or null.
  explicit TQuarrySession(std::string componentName = {}, const void* owner = nullptr);
  ~TQuarrySession();
  TQuarrySession(const TQuarrySession&) = delete;
  TQuarrySession& operator=(const TQuarrySession&) = delete;

  const std::string& ComponentName() const { return componentName_; }
  const void* Owner() const { return owner_; }
  bool IsDefault() const;

  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(const std::string&) {}

  bool Active() const { return active_; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  // While loading, SetActive only records the wish; EndLoading carries it out.
  void BeginLoading() { loading_ = true; }
  void EndLoading();

  bool AutoSessionName() const { return autoSessionName_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections() const { return keepConnections_; }
  void SetKeepConnections(bool value) { keepConnections_ = value; }
  // Read back upper-cased.
  std::string PrivateDir() const;
  void SetPrivateDir(const std::string& dir);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& name);

  TPasswordEvent OnPassword;
  TStartupEvent OnStartup;

  // ---- Databases ----
  // The database of a dataset's DatabaseName: a database component of this session with that
  // name (case ignored; one owned by the dataset's owner preferred), else a temporary one. It is
  // connected, its use count increased and the dataset registered in it.
  TQuarryDatabase& OpenDatabase(const std::string& databaseName, TQuarryDatasetLink* dataset);
  // The dataset gives its database back: at a use count of 0, unless KeepConnection, a temporary
  // database is freed and a component disconnected.
  void CloseDatabase(TQuarryDatabase& database, TQuarryDatasetLink* dataset);
  // Connected database components of this session and its temporary databases.
  int DatabaseCount();
  TQuarryDatabase& Databases(int index);
  TQuarryDatabase* FindDatabase(const std::string& databaseName);

  // ---- Passwords (the engine session's list) ----
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  bool HasPassword(const std::string& password);
  // A table needs a password: OnPassword (called with false) when assigned, else the prompt.
  bool AskPassword();
  // The callback the data files and statements of this session get.
  engine::TDataFile::TPasswordCallback PasswordCallback();

  // The engine session of this session (activating it).
  engine::TFileSession& EngineSession();
  // Brackets engine calls made for this session: the list's lock on the first level, and this
  // session's engine session current throughout.
  class TEngineScope {
   public:
    explicit TEngineScope(TQuarrySession& session);
    ~TEngineScope();
    TEngineScope(const TEngineScope&) = delete;
    TEngineScope& operator=(const TEngineScope&) = delete;

   private:
    TQuarrySession& session_;
    engine::TFileSession* previous_;
  };

 private:
  friend class TQuarryDatabase;
  friend class TQuarrySessionList;
  struct TDefaultTag {};
  TQuarrySession(TDefaultTag);
  void Activate();
  void Deactivate();
  void FreeAutoNumber();
  void PushAutoName();
  void FreeTemporary(TQuarryDatabase& database);

  std::string componentName_;
  const void* owner_ = nullptr;
  bool default_ = false;
  bool active_ = false;
  bool loading_ = false;
  bool activeWish_ = false;
  bool autoSessionName_ = false;
  int autoNumber_ = 0;
  bool keepConnections_ = true;
  std::string privateDir_;
  std::string sessionName_;
  std::unique_ptr<engine::TFileSession> ownEngine_;
  std::vector<std::unique_ptr<TQuarryDatabase>> temporaries_;
  int engineDepth_ = 0;
};

class TQuarryDatabase {
 public:
  // A database component (persistent): componentName and owner as for sessions.
  explicit TQuarryDatabase(std::string componentName = {}, const void* owner = nullptr);
  ~TQuarryDatabase();
  TQuarryDatabase(const TQuarryDatabase&) = delete;
  TQuarryDatabase& operator=(const TQuarryDatabase&) = delete;

  const std::string& ComponentName() const { return componentName_; }
  const void* Owner() const { return owner_; }
  std::string EngineVersion() const { return kEngineVersion; }
  void SetEngineVersion(const std::string&) {}

  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(const std::string& directory);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& name);
  bool HandleShared = false;
  bool KeepConnection = true;

  bool Temporary() const { return temporary_; }
  int UseCount() const { return useCount_; }
  // The directory its tables live in: a temporary database named with a path uses the name,
  // every other one its Directory.
  std::string TableDirectory() const;
  // The session it is connected in (null while disconnected).
  TQuarrySession* Session() const { return session_; }
  int DatasetCount() const { return static_cast<int>(datasets_.size()); }
  TQuarryDatasetLink* Datasets(int index) const { return datasets_.at(static_cast<std::size_t>(index)); }

 private:
  friend class TQuarrySession;
  struct TTemporaryTag {};
  TQuarryDatabase(TTemporaryTag, TQuarrySession& session, const std::string& name);
  void Connect();
  void Disconnect();

  std::string componentName_;
  const void* owner_ = nullptr;
  bool temporary_ = false;
  bool connected_ = false;
  bool disconnecting_ = false;
  std::string databaseName_;
  std::string directory_;
  std::string sessionName_;
  int useCount_ = 0;
  TQuarrySession* session_ = nullptr;
  std::vector<TQuarryDatasetLink*> datasets_;
};

// Whether a database name names a directory: it holds a ":" or a "\" (or this platform's folder
// separator), scanned character by character with double-byte characters skipped whole.
bool NameIsPath(const std::string& name);

}  // namespace quillon::dataset
