// Sessions and databases: the default session, temporary databases per directory, database
// components, auto-session names, private directories and the password path.
#include <gtest/gtest.h>

#include <memory>

#include "dataset/engine_error.h"
#include "dataset/session.h"
#include "engine/data_file.h"
#include "engine/file_session.h"
#include "util/testing/temp_dir.h"

namespace quillon::dataset {
namespace {

// Runs f and answers the database error text it raised ("" when none).
template <class F>
std::string DatabaseError(F&& f) {
  try {
    f();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return "";
}

// A dataset as sessions and databases see it: it opens and closes through its session and
// writes down what happened to it.
class TFakeDataset : public TQuarryDatasetLink {
 public:
  TFakeDataset(const void* owner, std::vector<std::string>* journal = nullptr, std::string label = {})
      : owner_(owner), journal_(journal), label_(std::move(label)) {
    TQuarrySessionList::Instance().RegisterDataset(this);
  }
  ~TFakeDataset() override {
    Close();
    TQuarrySessionList::Instance().UnregisterDataset(this);
  }
  void Open(const std::string& databaseName) {
    session_ = &TQuarrySessionList::Instance().GetSession(SessionName);
    database_ = &session_->OpenDatabase(databaseName, this);
  }
  void Close() {
    if (!database_) return;
    TQuarryDatabase* db = database_;
    database_ = nullptr;
    session_->CloseDatabase(*db, this);
  }
  const void* Owner() const override { return owner_; }
  void SetSessionName(const std::string& name) override { SessionName = name; }
  void CloseForDatabase() override {
    if (journal_) journal_->push_back(label_);
    Close();
  }
  TQuarryDatabase* Database() const { return database_; }
  std::string SessionName;

 private:
  const void* owner_;
  std::vector<std::string>* journal_;
  std::string label_;
  TQuarrySession* session_ = nullptr;
  TQuarryDatabase* database_ = nullptr;
};

TQuarrySession& Default() {
  return TQuarrySessionList::Instance().DefaultSession();
}

TEST(Session, ThereIsAlwaysADefaultSessionFoundWithoutRegardToCase) {
  TQuarrySessionList& list = TQuarrySessionList::Instance();
  EXPECT_EQ(Default().SessionName(), "Default");
  EXPECT_TRUE(Default().IsDefault());
  EXPECT_EQ(list.FindSession("DEFAULT"), &Default());
  EXPECT_EQ(list.FindSession(""), &Default());
  EXPECT_EQ(list.FindSession("Other"), nullptr);
  EXPECT_EQ(DatabaseError([&] { list.GetSession("Other"); }), "Session name Other is not valid.");
  EXPECT_EQ(Default().EngineVersion(), "1.16");
  Default().SetEngineVersion("2.0");
  EXPECT_EQ(Default().EngineVersion(), "1.16");
  EXPECT_TRUE(Default().KeepConnections());
}

TEST(Session, TwoTablesOnOneDirectoryShareOneTemporaryDatabase) {
  for (bool keep : {true, false}) {
    SCOPED_TRACE(keep);
    int owner = 0;
    Default().SetKeepConnections(keep);
    int before = Default().DatabaseCount();
    {
      TFakeDataset a(&owner), b(&owner);
      a.Open("C:\\Bases\\default\\");
      b.Open("c:\\bases\\DEFAULT\\");  // the same name, case ignored
      ASSERT_EQ(a.Database(), b.Database());
      TQuarryDatabase& db = *a.Database();
      EXPECT_TRUE(db.Temporary());
      EXPECT_TRUE(db.Connected());
      EXPECT_EQ(db.UseCount(), 2);
      EXPECT_EQ(db.DatasetCount(), 2);
      EXPECT_EQ(db.KeepConnection, keep);  // copied from the session
      EXPECT_EQ(db.TableDirectory(), "C:\\Bases\\default\\");
      EXPECT_EQ(Default().DatabaseCount(), before + 1);
      a.Close();
      EXPECT_EQ(Default().DatabaseCount(), before + 1);
      EXPECT_EQ(db.UseCount(), 1);
      b.Close();
      if (keep) {
        ASSERT_EQ(Default().DatabaseCount(), before + 1);
        EXPECT_TRUE(Default().FindDatabase("C:\\Bases\\default\\")->Connected());
      } else {
        EXPECT_EQ(Default().DatabaseCount(), before);
        EXPECT_EQ(Default().FindDatabase("C:\\Bases\\default\\"), nullptr);
      }
    }
    // A kept database is freed with the session's deactivation.
    Default().SetKeepConnections(true);
    Default().Close();
    EXPECT_EQ(Default().DatabaseCount(), 0);
  }
}

TEST(Session, ADatabaseNameWithoutColonOrBackslashGivesAnEmptyDirectory) {
  TFakeDataset d(nullptr);
  d.Open("lyrics");
  EXPECT_TRUE(d.Database()->Temporary());
  EXPECT_EQ(d.Database()->TableDirectory(), "");
  d.Close();
  EXPECT_TRUE(NameIsPath("C:"));
  EXPECT_TRUE(NameIsPath("bases\\x"));
  EXPECT_FALSE(NameIsPath("bases"));
  EXPECT_FALSE(NameIsPath(""));
  Default().Close();
}

TEST(Session, PrivateDirReadsBackUpperCasedAndReachesTheEngineSession) {
  TQuarrySession s("Sess");
  s.SetSessionName("PrivateDirTest");
  s.SetPrivateDir("c:\\temp");
  EXPECT_EQ(s.PrivateDir(), "C:\\TEMP");
  s.Open();
  EXPECT_EQ(s.PrivateDir(), "C:\\TEMP");
  EXPECT_EQ(s.EngineSession().PrivateDir(), "c:\\temp");
  s.SetPrivateDir("d:\\work");
  EXPECT_EQ(s.EngineSession().PrivateDir(), "d:\\work");
  // Another session's engine state is its own.
  EXPECT_NE(&s.EngineSession(), &Default().EngineSession());
  EXPECT_TRUE(Default().Active());  // activated first
}

TEST(Session, ActivationRunsStartupAndNeedsAName) {
  TQuarrySession s("Nameless");
  int startups = 0;
  s.OnStartup = [&](TQuarrySession& sender) {
    EXPECT_EQ(&sender, &s);
    ++startups;
  };
  EXPECT_EQ(DatabaseError([&] { s.Open(); }), "Session name is missing.");
  EXPECT_FALSE(s.Active());
  s.SetSessionName("Named");
  s.Open();
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(startups, 2);
  EXPECT_EQ(DatabaseError([&] { s.SetSessionName("Other"); }), "Cannot perform this operation on an active session.");
  // While loading, Active only records the wish.
  TQuarrySession loaded("Loaded");
  loaded.SetSessionName("LoadedSession");
  loaded.BeginLoading();
  loaded.SetActive(true);
  EXPECT_FALSE(loaded.Active());
  loaded.EndLoading();
  EXPECT_TRUE(loaded.Active());
}

TEST(Session, SessionNamesAreUniqueWithoutRegardToCase) {
  TQuarrySession a("A"), b("B");
  a.SetSessionName("Shared");
  EXPECT_EQ(DatabaseError([&] { b.SetSessionName("SHARED"); }), "Session name SHARED already exists.");
  EXPECT_EQ(TQuarrySessionList::Instance().FindSession("shared"), &a);
}

TEST(Session, AutoSessionNamesTakeTheLowestFreeNumberAndReachTheOwnersComponents) {
  int form1 = 0, form2 = 0;
  TFakeDataset onForm1(&form1), onForm2(&form2);
  TQuarryDatabase dbOnForm1("db", &form1);
  auto s1 = std::make_unique<TQuarrySession>("Session", &form1);
  TQuarrySession s2("Session", &form2);
  s1->SetAutoSessionName(true);
  s2.SetAutoSessionName(true);
  EXPECT_EQ(s1->SessionName(), "Session_1");
  EXPECT_EQ(s2.SessionName(), "Session_2");
  EXPECT_EQ(onForm1.SessionName, "Session_1");
  EXPECT_EQ(onForm2.SessionName, "Session_2");
  EXPECT_EQ(dbOnForm1.SessionName(), "Session_1");
  // A second auto-session on one owner is refused.
  TQuarrySession third("Third", &form1);
  EXPECT_EQ(DatabaseError([&] { third.SetAutoSessionName(true); }), "This auto-session already exists.");
  // Names of active auto-sessions are fixed.
  s2.Open();
  EXPECT_EQ(DatabaseError([&] { s2.SetSessionName("x"); }),
            "Cannot perform this operation on the active auto-session.");
  // An active auto-session is the only active session of its owner.
  TQuarrySession other("Other", &form2);
  other.SetSessionName("OtherOnForm2");
  EXPECT_EQ(DatabaseError([&] { other.Open(); }), "The active auto-session can be the only active session.");
  // A freed number is taken again.
  s1.reset();
  EXPECT_FALSE(TQuarrySessionList::Instance().AutoNumberUsed(1));
  TQuarrySession s3("Again", &form1);
  s3.SetAutoSessionName(true);
  EXPECT_EQ(s3.SessionName(), "Again_1");
}

TEST(Session, DatabaseComponentsAreFoundByNameAndCheckTheirNames) {
  int form = 0, elsewhere = 0;
  TQuarryDatabase mine("mine", &form), theirs("theirs", &elsewhere), nameless("nameless", &form);
  EXPECT_EQ(DatabaseError([&] { nameless.Open(); }), "Database name is missing.");
  EXPECT_EQ(DatabaseError([&] { nameless.SetDatabaseName("C:\\bases"); }), "Database name C:\\bases is not valid.");
  theirs.SetDatabaseName("Lyrics");
  theirs.SetDirectory("C:\\elsewhere\\");
  mine.SetDatabaseName("LYRICS");
  mine.SetDirectory("C:\\mine\\");
  EXPECT_EQ(mine.TableDirectory(), "C:\\mine\\");  // a component uses its Directory
  {
    TFakeDataset d(&form);
    d.Open("lyrics");
    EXPECT_EQ(d.Database(), &mine);  // the one of the dataset's own owner
    EXPECT_TRUE(mine.Connected());
    EXPECT_EQ(DatabaseError([&] { mine.SetDirectory("x"); }), "Cannot perform this operation on an open database.");
    EXPECT_EQ(DatabaseError([&] { mine.SetDatabaseName("x"); }), "Cannot perform this operation on an open database.");
    // Two components of one name in one session: only with HandleShared on both.
    EXPECT_EQ(DatabaseError([&] { theirs.Open(); }), "Database name Lyrics already exists.");
    mine.HandleShared = theirs.HandleShared = true;
    theirs.Open();
    EXPECT_TRUE(theirs.Connected());
    theirs.Close();
  }
  // KeepConnection (the default) keeps a component connected after its last dataset.
  EXPECT_TRUE(mine.Connected());
  mine.KeepConnection = false;
  {
    TFakeDataset d(&form);
    d.Open("lyrics");
  }
  EXPECT_FALSE(mine.Connected());
}

TEST(Session, DisconnectingClosesTheDatasetsLastFirst) {
  std::vector<std::string> journal;
  TQuarryDatabase db("db");
  db.SetDatabaseName("Closing");
  TFakeDataset a(nullptr, &journal, "a"), b(nullptr, &journal, "b"), c(nullptr, &journal, "c");
  a.Open("Closing");
  b.Open("Closing");
  c.Open("Closing");
  EXPECT_EQ(db.UseCount(), 3);
  db.Close();
  EXPECT_EQ(journal, (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(db.DatasetCount(), 0);
  EXPECT_EQ(a.Database(), nullptr);
  EXPECT_FALSE(db.Connected());
}

TEST(Session, DeactivatingASessionFreesTemporariesAndClosesTheirDatasets) {
  std::vector<std::string> journal;
  TQuarrySession s("S");
  s.SetSessionName("Deactivating");
  TFakeDataset d(nullptr, &journal, "d");
  d.SessionName = "Deactivating";
  d.Open("C:\\data\\");
  EXPECT_EQ(s.DatabaseCount(), 1);
  s.Close();
  EXPECT_EQ(journal, (std::vector<std::string>{"d"}));
  EXPECT_EQ(s.DatabaseCount(), 0);
  EXPECT_EQ(d.Database(), nullptr);
}

// ---- Passwords ----

class TCountingPrompt : public TPasswordPrompt {
 public:
  bool Ask(TQuarrySession& session) override {
    ++Calls;
    if (!Password.empty()) session.AddPassword(Password);
    return !Password.empty();
  }
  int Calls = 0;
  std::string Password;
};

class SessionPassword : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::InitializeEngine();
    engine::TTableDefinition t;
    engine::TFieldDescriptor id;
    id.FieldName = "Id";
    id.FieldType = static_cast<std::uint8_t>(engine::TFieldType::Integer);
    t.Fields = {id};
    t.Indexes.resize(1);
    t.Indexes[0].KeyFields[0] = 1;
    t.Indexes[0].KeyFieldCount = 1;
    t.Encrypted = true;
    t.Password = "secret";
    engine::TDataFile table;
    table.SetFileName(dir.File("locked.dat"));
    table.SetExclusive(true);
    table.CreateTable(t);
    Default().RemoveAllPasswords();
  }
  void TearDown() override {
    SetPasswordPrompt(nullptr);
    Default().RemoveAllPasswords();
  }
  // Opens the table through the default session; the engine code of the failure, or 0.
  int OpenLocked() {
    engine::TDataFile table;
    table.SetFileName(dir.File("locked.dat"));
    table.SetPasswordCallback(Default().PasswordCallback());
    try {
      EngineCall([&] { table.Open(); });
    } catch (const EQuarryEngineError& e) {
      return e.ErrorCode();
    }
    return 0;
  }
  testing::TempDir dir;
};

TEST_F(SessionPassword, WithoutHandlerOrPromptTheTableStaysClosed) {
  EXPECT_EQ(OpenLocked(), 10498);
}

TEST_F(SessionPassword, TheHandlerIsAskedWithContinueFalseAndItsAnswerCounts) {
  TCountingPrompt prompt;
  SetPasswordPrompt(&prompt);
  std::vector<bool> asked;
  Default().OnPassword = [&](TQuarrySession& sender, bool& continueAsking) {
    asked.push_back(continueAsking);
    if (asked.size() == 1) {
      sender.AddPassword("wrong");
      continueAsking = true;  // the engine tries again
    } else if (asked.size() == 2) {
      sender.AddPassword("secret");
      continueAsking = true;
    }
  };
  EXPECT_EQ(OpenLocked(), 0);
  EXPECT_EQ(asked, (std::vector<bool>{false, false}));
  EXPECT_EQ(prompt.Calls, 0);  // the handler replaces the prompt
  EXPECT_TRUE(Default().HasPassword("secret"));
  // A handler that gives up leaves the table closed.
  Default().RemoveAllPasswords();
  Default().OnPassword = [](TQuarrySession&, bool&) {};
  EXPECT_EQ(OpenLocked(), 10498);
  Default().OnPassword = nullptr;
}

TEST_F(SessionPassword, WithoutHandlerThePromptAnswers) {
  TCountingPrompt prompt;
  SetPasswordPrompt(&prompt);
  EXPECT_EQ(OpenLocked(), 10498);  // cancelled
  EXPECT_EQ(prompt.Calls, 1);
  prompt.Password = "secret";
  EXPECT_EQ(OpenLocked(), 0);
  EXPECT_EQ(prompt.Calls, 2);
  Default().RemovePassword("secret");
  EXPECT_FALSE(Default().HasPassword("secret"));
}

TEST_F(SessionPassword, ASessionsPasswordsServeOnlyItsOwnEngineCalls) {
  TQuarrySession s("P");
  s.SetSessionName("PasswordSession");
  s.AddPassword("secret");
  EXPECT_TRUE(s.HasPassword("secret"));
  EXPECT_FALSE(Default().HasPassword("secret"));
  {
    TQuarrySession::TEngineScope scope(s);
    engine::TDataFile table;
    table.SetFileName(dir.File("locked.dat"));
    EXPECT_NO_THROW(table.Open());
  }
  EXPECT_EQ(OpenLocked(), 10498);  // back under the default session
}

}  // namespace
}  // namespace quillon::dataset
