// Sessions and databases; see session.h.
#include "dataset/session.h"

#include <algorithm>

#include "dataset/engine_error.h"
#include "util/platform.h"
#include "util/text.h"

namespace quillon::dataset {

namespace {

TPasswordPrompt*& Prompt() {
  static TPasswordPrompt* prompt = nullptr;
  return prompt;
}

template <typename T>
void Erase(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

void SetPasswordPrompt(TPasswordPrompt* prompt) {
  Prompt() = prompt;
}

TPasswordPrompt* PasswordPrompt() {
  return Prompt();
}

bool NameIsPath(const std::string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (platform::IsLeadByte(c)) {
      ++i;  // the trail byte may be any byte, "\" included
      continue;
    }
    if (c == ':' || c == '\\' || c == static_cast<unsigned char>(platform::kPathDelim)) return true;
  }
  return false;
}

// ---- TQuarrySessionList --------------------------------------------------------------------

TQuarrySessionList& TQuarrySessionList::Instance() {
  static TQuarrySessionList list;
  return list;
}

TQuarrySessionList::TQuarrySessionList() : autoNumbers_(1, true) {
  default_.reset(new TQuarrySession(TQuarrySession::TDefaultTag{}));
  sessions_.push_back(default_.get());
}

TQuarrySessionList::~TQuarrySessionList() = default;

TQuarrySession* TQuarrySessionList::FindSession(const std::string& name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (name.empty()) return default_.get();
  for (TQuarrySession* s : sessions_)
    if (EqualIgnoringCase(s->SessionName(), name)) return s;
  return nullptr;
}

TQuarrySession& TQuarrySessionList::GetSession(const std::string& name) {
  TQuarrySession* s = FindSession(name);
  if (!s) RaiseDatabaseError(FormatMessage(kInvalidSessionName, name));
  return *s;
}

int TQuarrySessionList::SessionCount() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return static_cast<int>(sessions_.size());
}

TQuarrySession& TQuarrySessionList::Sessions(int index) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return *sessions_.at(static_cast<std::size_t>(index));
}

int TQuarrySessionList::TakeAutoNumber() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (std::size_t n = 1; n < autoNumbers_.size(); ++n) {
    if (!autoNumbers_[n]) {
      autoNumbers_[n] = true;
      return static_cast<int>(n);
    }
  }
  autoNumbers_.push_back(true);
  return static_cast<int>(autoNumbers_.size() - 1);
}

void TQuarrySessionList::ReleaseAutoNumber(int number) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (number > 0 && static_cast<std::size_t>(number) < autoNumbers_.size())
    autoNumbers_[static_cast<std::size_t>(number)] = false;
}

bool TQuarrySessionList::AutoNumberUsed(int number) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return number > 0 && static_cast<std::size_t>(number) < autoNumbers_.size() &&
         autoNumbers_[static_cast<std::size_t>(number)];
}

void TQuarrySessionList::RegisterDataset(TQuarryDatasetLink* dataset) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  datasets_.push_back(dataset);
}

void TQuarrySessionList::UnregisterDataset(TQuarryDatasetLink* dataset) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  Erase(datasets_, dataset);
}

// ---- TQuarrySession ------------------------------------------------------------------------

TQuarrySession::TQuarrySession(TDefaultTag)
    : componentName_(kDefaultSessionName), default_(true), sessionName_(kDefaultSessionName) {}

TQuarrySession::TQuarrySession(std::string componentName, const void* owner)
    : componentName_(std::move(componentName)), owner_(owner) {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  list.sessions_.push_back(this);
}

TQuarrySession::~TQuarrySession() {
  try {
    Deactivate();
  } catch (...) {
    // a destructor cannot report; the datasets' own closing failed and they stay as they are
  }
  if (default_) return;  // the list itself is going away
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  FreeAutoNumber();
  Erase(list.sessions_, this);
}

bool TQuarrySession::IsDefault() const {
  return default_;
}

void TQuarrySession::SetActive(bool value) {
  if (loading_) {
    activeWish_ = value;
    return;
  }
  if (value == active_) return;
  if (value) {
    Activate();
  } else {
    Deactivate();
  }
}

void TQuarrySession::EndLoading() {
  loading_ = false;
  if (activeWish_) SetActive(true);
}

void TQuarrySession::Activate() {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  if (active_) return;
  if (OnStartup) OnStartup(*this);
  if (sessionName_.empty()) RaiseDatabaseError(kSessionNameMissing);
  if (!default_) {
    if (owner_) {
      for (TQuarrySession* other : list.sessions_) {
        if (other == this || other->owner_ != owner_ || !other->active_) continue;
        if (other->autoSessionName_ || autoSessionName_) RaiseDatabaseError(kOnlyAutoSession);
      }
    }
    list.DefaultSession().SetActive(true);
    ownEngine_ = std::make_unique<engine::TFileSession>();
  } else {
    engine::InitializeEngine();
  }
  active_ = true;
  EngineSession().SetPrivateDir(privateDir_);
}

void TQuarrySession::Deactivate() {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  if (!active_) return;
  while (!temporaries_.empty()) {
    TQuarryDatabase& db = *temporaries_.back();
    db.Disconnect();
    // Disconnecting closed its datasets, which may already have freed it.
    if (!temporaries_.empty() && temporaries_.back().get() == &db) temporaries_.pop_back();
  }
  for (TQuarryDatabase* db : std::vector<TQuarryDatabase*>(list.databases_))
    if (db->session_ == this) db->Disconnect();
  active_ = false;
  ownEngine_.reset();
}

void TQuarrySession::SetAutoSessionName(bool value) {
  if (value == autoSessionName_) return;
  if (default_) return;  // the default session keeps its name
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  if (active_) RaiseDatabaseError(kActiveSession);
  if (value && owner_) {
    for (TQuarrySession* other : list.sessions_)
      if (other != this && other->owner_ == owner_ && other->autoSessionName_) RaiseDatabaseError(kAutoSessionExists);
  }
  autoSessionName_ = value;
  if (value) {
    autoNumber_ = list.TakeAutoNumber();
    sessionName_ = componentName_ + "_" + std::to_string(autoNumber_);
    PushAutoName();
  } else {
    FreeAutoNumber();
  }
}

void TQuarrySession::FreeAutoNumber() {
  if (autoNumber_ == 0) return;
  TQuarrySessionList::Instance().ReleaseAutoNumber(autoNumber_);
  autoNumber_ = 0;
}

void TQuarrySession::PushAutoName() {
  if (!owner_) return;
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  for (TQuarryDatasetLink* dataset : list.datasets_)
    if (dataset->Owner() == owner_) dataset->SetSessionName(sessionName_);
  for (TQuarryDatabase* db : list.databases_)
    if (db->owner_ == owner_ && !db->connected_) db->sessionName_ = sessionName_;
}

std::string TQuarrySession::PrivateDir() const {
  return UpperAsciiText(privateDir_);
}

void TQuarrySession::SetPrivateDir(const std::string& dir) {
  privateDir_ = dir;
  if (active_) EngineSession().SetPrivateDir(dir);
}

void TQuarrySession::SetSessionName(const std::string& name) {
  if (default_) return;  // "Default" is fixed
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  if (autoSessionName_) {
    if (active_) RaiseDatabaseError(kActiveAutoSession);
    return;  // the generated name stays
  }
  if (active_) RaiseDatabaseError(kActiveSession);
  if (!name.empty()) {
    for (TQuarrySession* other : list.sessions_)
      if (other != this && EqualIgnoringCase(other->sessionName_, name))
        RaiseDatabaseError(FormatMessage(kDuplicateSessionName, name));
  }
  sessionName_ = name;
}

TQuarryDatabase* TQuarrySession::FindDatabase(const std::string& databaseName) {
  for (int i = 0; i < DatabaseCount(); ++i)
    if (EqualIgnoringCase(Databases(i).DatabaseName(), databaseName)) return &Databases(i);
  return nullptr;
}

TQuarryDatabase& TQuarrySession::OpenDatabase(const std::string& databaseName, TQuarryDatasetLink* dataset) {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  SetActive(true);
  const void* owner = dataset ? dataset->Owner() : nullptr;
  TQuarryDatabase* found = nullptr;
  for (TQuarryDatabase* db : list.databases_) {
    if (!EqualIgnoringCase(db->databaseName_, databaseName)) continue;
    if (&list.GetSession(db->sessionName_) != this) continue;
    if (!found || (db->owner_ == owner && found->owner_ != owner)) found = db;
  }
  if (!found) {
    for (auto& db : temporaries_)
      if (EqualIgnoringCase(db->databaseName_, databaseName)) found = db.get();
  }
  if (!found) {
    temporaries_.push_back(
        std::unique_ptr<TQuarryDatabase>(new TQuarryDatabase(TQuarryDatabase::TTemporaryTag{}, *this, databaseName)));
    found = temporaries_.back().get();
    found->KeepConnection = keepConnections_;
  }
  found->SetConnected(true);
  ++found->useCount_;
  if (dataset) found->datasets_.push_back(dataset);
  return *found;
}

void TQuarrySession::CloseDatabase(TQuarryDatabase& database, TQuarryDatasetLink* dataset) {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  if (dataset) Erase(database.datasets_, dataset);
  if (database.useCount_ > 0) --database.useCount_;
  // While disconnecting, the database's own loop finishes the work.
  if (database.disconnecting_ || database.useCount_ > 0 || database.KeepConnection) return;
  if (database.temporary_) {
    FreeTemporary(database);
  } else {
    database.Disconnect();
  }
}

// Frees a temporary database after closing what still uses it.
void TQuarrySession::FreeTemporary(TQuarryDatabase& database) {
  auto it = std::find_if(temporaries_.begin(), temporaries_.end(), [&](auto& p) { return p.get() == &database; });
  if (it == temporaries_.end()) return;
  std::unique_ptr<TQuarryDatabase> owned = std::move(*it);
  temporaries_.erase(it);
  owned->Disconnect();
}

int TQuarrySession::DatabaseCount() {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  int n = static_cast<int>(temporaries_.size());
  for (TQuarryDatabase* db : list.databases_)
    if (db->session_ == this) ++n;
  return n;
}

TQuarryDatabase& TQuarrySession::Databases(int index) {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  for (TQuarryDatabase* db : list.databases_) {
    if (db->session_ != this) continue;
    if (index-- == 0) return *db;
  }
  return *temporaries_.at(static_cast<std::size_t>(index));
}

engine::TFileSession& TQuarrySession::EngineSession() {
  SetActive(true);
  if (ownEngine_) return *ownEngine_;
  engine::InitializeEngine();
  // The engine's own session: made current for a moment to reach it.
  engine::TFileSession* current = &engine::Session();
  engine::SetCurrentSession(nullptr);
  engine::TFileSession* own = &engine::Session();
  engine::SetCurrentSession(current);
  return *own;
}

void TQuarrySession::AddPassword(const std::string& password) {
  TEngineScope scope(*this);
  EngineSession().AddPassword(password);
}

void TQuarrySession::RemovePassword(const std::string& password) {
  TEngineScope scope(*this);
  EngineSession().RemovePassword(password);
}

void TQuarrySession::RemoveAllPasswords() {
  TEngineScope scope(*this);
  EngineSession().RemoveAllPasswords();
}

bool TQuarrySession::HasPassword(const std::string& password) {
  TEngineScope scope(*this);
  return EngineSession().HasPassword(password);
}

bool TQuarrySession::AskPassword() {
  if (OnPassword) {
    bool answer = false;
    OnPassword(*this, answer);
    return answer;
  }
  TPasswordPrompt* prompt = PasswordPrompt();
  return prompt ? prompt->Ask(*this) : false;
}

engine::TDataFile::TPasswordCallback TQuarrySession::PasswordCallback() {
  return [this](engine::TDataFile&) { return AskPassword(); };
}

TQuarrySession::TEngineScope::TEngineScope(TQuarrySession& session) : session_(session), previous_(nullptr) {
  // Activation may fail; it does so before the lock is taken, so nothing is left held.
  session_.SetActive(true);
  engine::InitializeEngine();
  TQuarrySessionList::Instance().Lock().lock();
  ++session_.engineDepth_;
  previous_ = &engine::Session();
  engine::SetCurrentSession(session_.ownEngine_.get());
}

TQuarrySession::TEngineScope::~TEngineScope() {
  engine::SetCurrentSession(previous_);
  --session_.engineDepth_;
  TQuarrySessionList::Instance().Lock().unlock();
}

// ---- TQuarryDatabase -----------------------------------------------------------------------

TQuarryDatabase::TQuarryDatabase(std::string componentName, const void* owner)
    : componentName_(std::move(componentName)), owner_(owner) {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  list.databases_.push_back(this);
  // An auto-session of the same owner names the database's session.
  for (TQuarrySession* s : list.sessions_)
    if (owner_ && s->owner_ == owner_ && s->autoSessionName_) sessionName_ = s->sessionName_;
}

TQuarryDatabase::TQuarryDatabase(TTemporaryTag, TQuarrySession& session, const std::string& name)
    : owner_(session.owner_),
      temporary_(true),
      databaseName_(name),
      sessionName_(session.sessionName_),
      session_(&session) {}

TQuarryDatabase::~TQuarryDatabase() {
  try {
    Disconnect();
  } catch (...) {
    // a destructor cannot report; see TQuarrySession's
  }
  if (temporary_) return;
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  Erase(list.databases_, this);
}

void TQuarryDatabase::SetConnected(bool value) {
  if (value == connected_) return;
  if (value) {
    Connect();
  } else {
    Disconnect();
  }
}

void TQuarryDatabase::Connect() {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  std::lock_guard<std::recursive_mutex> guard(list.Lock());
  if (!temporary_) {
    if (databaseName_.empty()) RaiseDatabaseError(kDatabaseNameMissing);
    TQuarrySession& session = list.GetSession(sessionName_);
    for (TQuarryDatabase* other : list.databases_) {
      if (other == this || !other->connected_ || other->session_ != &session) continue;
      if (EqualIgnoringCase(other->databaseName_, databaseName_) && !(HandleShared && other->HandleShared))
        RaiseDatabaseError(FormatMessage(kDuplicateDatabaseName, databaseName_));
    }
    session.SetActive(true);
    session_ = &session;
  }
  connected_ = true;
}

void TQuarryDatabase::Disconnect() {
  if (!connected_) return;
  // Closing a dataset gives the database back, which removes it from the list.
  disconnecting_ = true;
  try {
    while (!datasets_.empty()) {
      TQuarryDatasetLink* last = datasets_.back();
      last->CloseForDatabase();
      if (!datasets_.empty() && datasets_.back() == last) datasets_.pop_back();
    }
  } catch (...) {
    disconnecting_ = false;
    throw;
  }
  disconnecting_ = false;
  connected_ = false;
  useCount_ = 0;
  if (!temporary_) session_ = nullptr;
}

void TQuarryDatabase::SetDatabaseName(const std::string& name) {
  if (connected_) RaiseDatabaseError(kOpenDatabase);
  if (!temporary_ && NameIsPath(name)) RaiseDatabaseError(FormatMessage(kInvalidDatabaseName, name));
  databaseName_ = name;
}

void TQuarryDatabase::SetDirectory(const std::string& directory) {
  if (connected_) RaiseDatabaseError(kOpenDatabase);
  directory_ = directory;
}

void TQuarryDatabase::SetSessionName(const std::string& name) {
  if (connected_) RaiseDatabaseError(kOpenDatabase);
  sessionName_ = name;
}

std::string TQuarryDatabase::TableDirectory() const {
  if (temporary_ && NameIsPath(databaseName_)) return databaseName_;
  return directory_;
}

}  // namespace quillon::dataset
