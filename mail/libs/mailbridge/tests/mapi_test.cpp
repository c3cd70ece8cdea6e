// The Simple MAPI library loaded by name and called as a mail-enabled program
// calls it. Sending starts the recording stand-in "postbox" beside this test,
// which reads the hand-off block across processes, writes down what it found
// and answers; logons, saved messages and result buffers are checked here.
#include <windows.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "person.h"
#include "qx/window.h"
#include "qxmapi.h"

namespace {

namespace fs = std::filesystem;

struct Machine {
  Machine() {
    std::string base = (fs::temp_directory_path() / "qxmapi-XXXXXX").string();
    root = mkdtemp(base.data());
    fs::create_directories(root + "/home/drive_c/WINDOWS");
    fs::create_directories(root + "/runtime");
    fs::create_directories(root + "/mail");
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    unsetenv("DISPLAY");
    setenv("QX_DISPLAY", "headless", 1);
    setenv("QX_AUTOMATION", "0", 1);
    setenv("QX_STANDIN_RECORD", (root + "/record.txt").c_str(), 1);
    std::ofstream ini(root + "/home/drive_c/WINDOWS/QXMAIL.INI");
    ini << "[pat]\nMailDir=" << root << "/mail\n[nodir]\nHost=x\n";
  }
  ~Machine() { fs::remove_all(root); }
  std::string root;
};

Machine &TheMachine() {
  static Machine machine;
  return machine;
}

struct Mapi {
  HMODULE module = nullptr;
  LPMAPILOGON logon;
  LPMAPILOGOFF logoff;
  LPMAPISENDMAIL sendMail;
  LPMAPISENDDOCUMENTS sendDocuments;
  LPMAPISAVEMAIL saveMail;
  LPMAPIREADMAIL readMail;
  LPMAPIDELETEMAIL deleteMail;
  LPMAPIFREEBUFFER freeBuffer;
  LPMAPIRESOLVENAME resolveName;
  LPMAPIADDRESS address;
};

int g_boxes = 0;
int CountBox(HWND, LPCSTR, LPCSTR, UINT) {
  ++g_boxes;
  return IDCANCEL;
}

Mapi &Library() {
  static Mapi m = [] {
    TheMachine();
    qx::SetMessageBoxAnswerHook(CountBox);
    Mapi l{};
    l.module = LoadLibraryA("mailbridge");
    if (!l.module) return l;
    auto proc = [&](const char *name) { return reinterpret_cast<void (*)(void)>(GetProcAddress(l.module, name)); };
    l.logon = reinterpret_cast<LPMAPILOGON>(proc("MAPILogon"));
    l.logoff = reinterpret_cast<LPMAPILOGOFF>(proc("MAPILogoff"));
    l.sendMail = reinterpret_cast<LPMAPISENDMAIL>(proc("MAPISendMail"));
    l.sendDocuments = reinterpret_cast<LPMAPISENDDOCUMENTS>(proc("MAPISendDocuments"));
    l.saveMail = reinterpret_cast<LPMAPISAVEMAIL>(proc("MAPISaveMail"));
    l.readMail = reinterpret_cast<LPMAPIREADMAIL>(proc("MAPIReadMail"));
    l.deleteMail = reinterpret_cast<LPMAPIDELETEMAIL>(proc("MAPIDeleteMail"));
    l.freeBuffer = reinterpret_cast<LPMAPIFREEBUFFER>(proc("MAPIFreeBuffer"));
    l.resolveName = reinterpret_cast<LPMAPIRESOLVENAME>(proc("MAPIResolveName"));
    l.address = reinterpret_cast<LPMAPIADDRESS>(proc("MAPIAddress"));
    return l;
  }();
  return m;
}

std::vector<std::string> Record() {
  std::ifstream in(TheMachine().root + "/record.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("mapping=", 0) != 0) lines.push_back(line);
  return lines;
}

class Mapi32 : public ::testing::Test {
 protected:
  void SetUp() override {
    m_ = Library();
    ASSERT_NE(m_.module, nullptr) << "mailbridge must load by name";
    ASSERT_TRUE(m_.logon && m_.sendMail && m_.sendDocuments && m_.saveMail && m_.readMail && m_.freeBuffer);
    fs::remove(TheMachine().root + "/record.txt");
    unsetenv("QX_STANDIN_RESULT");
    unsetenv("QX_STANDIN_MODE");
    g_boxes = 0;
  }
  LHANDLE Logon() {
    LHANDLE session = 0;
    EXPECT_EQ(m_.logon(0, const_cast<LPSTR>("pat"), const_cast<LPSTR>("pw"), 0, 0, &session), 0u);
    return session;
  }
  Mapi m_;
};

TEST_F(Mapi32, LogonTable) {
  const struct {
    const char *name, *user, *password;
    MAPI_FLAGS flags;
    MAPI_ULONG result;
    bool defaultSession;
  } cases[] = {
      {"a valid user", "pat", "pw", 0, 0, false},
      {"an unknown user, no dialog allowed", "nobody", "pw", 0, MAPI_E_LOGIN_FAILURE, false},
      {"a user without a mail directory", "nodir", "pw", 0, MAPI_E_LOGIN_FAILURE, false},
      {"no password", "pat", "", 0, MAPI_E_LOGIN_FAILURE, false},
      {"no name and no shared default yet", nullptr, nullptr, 0, MAPI_E_LOGIN_FAILURE, false},
      {"made the shared default", "pat", "pw", MAPI_SHARED_DEFAULT, 0, true},
      {"no name takes the shared default", nullptr, nullptr, 0, 0, true},
      {"a new session does not", nullptr, nullptr, MAPI_NEW_SESSION, MAPI_E_LOGIN_FAILURE, false},
  };
  for (const auto &c : cases) {
    LHANDLE session = 12345;
    EXPECT_EQ(m_.logon(0, const_cast<LPSTR>(c.user), const_cast<LPSTR>(c.password), c.flags, 0, &session), c.result)
        << c.name;
    if (c.result == 0) {
      EXPECT_EQ(session == MAPI_DEFAULT_SESSION, c.defaultSession) << c.name;
      EXPECT_NE(session, 0u) << c.name;
    }
    m_.logoff(session, 0, 0, 0);
  }
  EXPECT_EQ(g_boxes, 0) << "no dialog or box without MAPI_LOGON_UI";
  // A session that was never given out is refused, not dereferenced.
  MapiMessage message{};
  EXPECT_EQ(m_.sendMail(987654, 0, &message, 0, 0), MAPI_E_LOGIN_FAILURE);
  LHANDLE session = Logon();
  m_.logoff(session, 0, 0, 0);
  EXPECT_EQ(m_.sendMail(session, 0, &message, 0, 0), MAPI_E_LOGIN_FAILURE) << "a session logged off";
}

TEST_F(Mapi32, SendMailReachesTheMailClientIntact) {
  const LHANDLE session = Logon();
  MapiRecipDesc recips[] = {
      {0, MAPI_TO, const_cast<LPSTR>("Ann"), const_cast<LPSTR>("ann@example.org"), 0, nullptr},
      {0, MAPI_CC, const_cast<LPSTR>("bob@example.org"), nullptr, 0, nullptr},
      {0, MAPI_BCC, nullptr, nullptr, 9, const_cast<char *>("carl@x.y")},
  };
  MapiFileDesc files[] = {
      {0, 0, 0xFFFFFFFFu, const_cast<LPSTR>("C:\\x\\report.doc"), const_cast<LPSTR>("Report"), nullptr},
      {0, 0, 0xFFFFFFFFu, const_cast<LPSTR>("C:\\y.txt"), nullptr, nullptr},
  };
  MapiMessage message{};
  message.lpszSubject = const_cast<LPSTR>("Quarterly figures");
  message.lpszNoteText = const_cast<LPSTR>("See the attachments.\r\nPat");
  message.flFlags = MAPI_RECEIPT_REQUESTED;
  message.nRecipCount = 3;
  message.lpRecips = recips;
  message.nFileCount = 2;
  message.lpFiles = files;
  EXPECT_EQ(m_.sendMail(session, 0, &message, MAPI_DIALOG, 0), 0u);
  EXPECT_EQ(Record(),
            (std::vector<std::string>{"layout=mail", "flags=3", "user=pat", "password=pw", "subject=Quarterly figures",
                                      "note=See the attachments.\\r\\nPat", "recipient=Tann@example.org",
                                      "recipient=Cbob@example.org", "recipient=Bcarl@x.y",
                                      "file=C:\\x\\report.doc=\\Report", "file=C:\\y.txt"}));
  // A message without subject or text goes without them.
  MapiMessage bare{};
  bare.nRecipCount = 1;
  bare.lpRecips = recips;
  EXPECT_EQ(m_.sendMail(session, 0, &bare, 0, 0), 0u);
  EXPECT_EQ(Record(), (std::vector<std::string>{"layout=mail", "flags=0", "user=pat", "password=pw", "subject=(none)",
                                                "note=(none)", "recipient=Tann@example.org"}));
  m_.logoff(session, 0, 0, 0);
}

TEST_F(Mapi32, TheMailClientsAnswerComesBack) {
  const LHANDLE session = Logon();
  MapiMessage message{};
  message.lpszSubject = const_cast<LPSTR>("x");
  const struct {
    const char *name, *result, *mode;
    MAPI_ULONG expected;
  } cases[] = {
      {"sent", "0", nullptr, SUCCESS_SUCCESS},
      {"the person cancelled", "1", nullptr, MAPI_USER_ABORT},
      {"sending failed", "2", nullptr, MAPI_E_FAILURE},
      {"the mail client ended without answering", "0", "vanish", MAPI_E_FAILURE},
  };
  for (const auto &c : cases) {
    setenv("QX_STANDIN_RESULT", c.result, 1);
    if (c.mode) setenv("QX_STANDIN_MODE", c.mode, 1);
    EXPECT_EQ(m_.sendMail(session, 0, &message, 0, 0), c.expected) << c.name;
    EXPECT_EQ(Record().at(4), "subject=x") << c.name << ": the block reached the mail client";
    unsetenv("QX_STANDIN_MODE");
  }
  // No mapping is left behind once the hand-offs are over.
  size_t left = 0;
  if (fs::exists(TheMachine().root + "/runtime/mappings"))
    for (const auto &e : fs::directory_iterator(TheMachine().root + "/runtime/mappings"))
      if (e.path().filename().string()[0] != '.') ++left;
  EXPECT_EQ(left, 0u);
  m_.logoff(session, 0, 0, 0);
}

// A program written in C loads "MAPI.DLL" and sends; the mail client's
// stand-in gets the message in its own process, and its refusal comes back.
TEST_F(Mapi32, AProgramInCSendsThroughTheLibrary) {
  const std::string caller = (fs::path(QX_TEST_DIR) / "mapi_caller").string();
  const struct {
    const char *answer;
    int exitCode;
  } cases[] = {{"0", 0}, {"1", MAPI_USER_ABORT}};
  for (const auto &c : cases) {
    setenv("QX_STANDIN_RESULT", c.answer, 1);
    const std::string command = "timeout 60 '" + caller + "' 'Hello from C' ann@example.org 'Bob <bob@example.org>' " +
                                "'C:\\docs\\plan.txt' > /dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << command;
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << "answer " << c.answer;
    EXPECT_EQ(Record(),
              (std::vector<std::string>{"layout=mail", "flags=1", "user=pat", "password=pw", "subject=Hello from C",
                                        "note=Sent by a C program.", "recipient=Tann@example.org",
                                        "recipient=CBob <bob@example.org>", "file=C:\\docs\\plan.txt=\\Attachment"}));
  }
}

TEST_F(Mapi32, SendDocumentsSplitsItsListsWithoutTouchingThem) {
  LHANDLE session = 0;
  ASSERT_EQ(m_.logon(0, const_cast<LPSTR>("pat"), const_cast<LPSTR>("pw"), MAPI_SHARED_DEFAULT, 0, &session), 0u);
  // String literals: the library must not cut them in place.
  const char *paths = "C:\\a.txt;C:\\b.txt";
  const char *names = "A;B";
  EXPECT_EQ(m_.sendDocuments(0, nullptr, const_cast<LPSTR>(paths), const_cast<LPSTR>(names), 0), 0u);
  EXPECT_EQ(Record(),
            (std::vector<std::string>{"layout=documents", "flags=1", "user=pat", "password=pw", "subject=(none)",
                                      "note=(none)", "file=C:\\a.txt=\\A", "file=C:\\b.txt=\\B"}));
  EXPECT_STREQ(paths, "C:\\a.txt;C:\\b.txt");
  EXPECT_EQ(m_.sendDocuments(0, const_cast<LPSTR>(","), const_cast<LPSTR>("C:\\one,C:\\two,C:\\three"),
                             const_cast<LPSTR>("One"), 0),
            0u);
  EXPECT_EQ(Record(),
            (std::vector<std::string>{"layout=documents", "flags=1", "user=pat", "password=pw", "subject=(none)",
                                      "note=(none)", "file=C:\\one=\\One", "file=C:\\two", "file=C:\\three"}));
}

TEST_F(Mapi32, SavedMessagesReadBackAndDelete) {
  const LHANDLE session = Logon();
  MapiRecipDesc recips[] = {
      {0, MAPI_TO, nullptr, const_cast<LPSTR>("ann@example.org"), 0, nullptr},
      {0, MAPI_BCC, nullptr, const_cast<LPSTR>("carl@example.org"), 0, nullptr},
  };
  MapiRecipDesc from{0, MAPI_ORIG, nullptr, const_cast<LPSTR>("pat@example.org"), 0, nullptr};
  MapiFileDesc files[] = {{0, 0, 0, const_cast<LPSTR>("C:\\r.doc"), const_cast<LPSTR>("Report"), nullptr}};
  MapiMessage message{};
  message.lpszSubject = const_cast<LPSTR>("Saved");
  message.lpszNoteText = const_cast<LPSTR>("Body");
  message.lpOriginator = &from;
  message.nRecipCount = 2;
  message.lpRecips = recips;
  message.nFileCount = 1;
  message.lpFiles = files;
  char id[MAPI_MESSAGE_ID_SIZE] = "";
  EXPECT_EQ(m_.saveMail(0, 0, &message, 0, 0, id), MAPI_E_INVALID_SESSION) << "a new file needs a session";
  ASSERT_EQ(m_.saveMail(session, 0, &message, 0, 0, id), 0u);
  ASSERT_NE(id[0], '\0');

  lpMapiMessage read = nullptr;
  ASSERT_EQ(m_.readMail(session, 0, id, 0, 0, &read), 0u);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->ulReserved & 0xFFFF, 1u);
  EXPECT_STREQ(read->lpszSubject, "Saved");
  EXPECT_STREQ(read->lpszNoteText, "Body");
  EXPECT_STREQ(read->lpOriginator->lpszAddress, "pat@example.org");
  ASSERT_EQ(read->nRecipCount, 3u);
  EXPECT_EQ(read->lpRecips[0].ulRecipClass, MAPI_TO);
  EXPECT_STREQ(read->lpRecips[0].lpszAddress, "ann@example.org");
  EXPECT_EQ(read->lpRecips[1].ulRecipClass, MAPI_BCC);
  EXPECT_EQ(read->lpRecips[2].ulRecipClass, MAPI_ORIG);
  ASSERT_EQ(read->nFileCount, 1u);
  EXPECT_STREQ(read->lpFiles[0].lpszPathName, "C:\\r.doc");
  EXPECT_STREQ(read->lpFiles[0].lpszFileName, "Report");
  EXPECT_EQ(read->lpFiles[0].nPosition, 0xFFFFFFFFu);
  ASSERT_NE(read->lpszDateReceived, nullptr);
  EXPECT_EQ(std::string(read->lpszDateReceived).size(), 16u);
  EXPECT_EQ(m_.freeBuffer(read), 0u);
  EXPECT_EQ(m_.freeBuffer(read), MAPI_E_FAILURE) << "a buffer is freed once";

  // Saving again under the same identifier replaces the message.
  message.lpszSubject = const_cast<LPSTR>("Saved again");
  message.nFileCount = 0;
  ASSERT_EQ(m_.saveMail(session, 0, &message, 0, 0, id), 0u);
  ASSERT_EQ(m_.readMail(session, 0, id, 0, 0, &read), 0u);
  EXPECT_STREQ(read->lpszSubject, "Saved again");
  EXPECT_EQ(read->nFileCount, 0u);
  m_.freeBuffer(read);

  EXPECT_EQ(m_.deleteMail(session, 0, id, 0, 0), 0u);
  EXPECT_EQ(m_.readMail(session, 0, id, 0, 0, &read), MAPI_E_FAILURE);
  EXPECT_EQ(m_.deleteMail(session, 0, id, 0, 0), 0u) << "a missing file";
  m_.logoff(session, 0, 0, 0);
}

TEST_F(Mapi32, DamagedSavedMessagesAreRefused) {
  const std::string path = TheMachine().root + "/mail/damaged";
  const struct {
    const char *name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"words only", std::string(44, '\0')},
      {"pointers outside", std::string(12, '\0') + std::string("\xFF\xFF\xFF\x7F", 4) + std::string(200, 'x')},
      {"text", "This is not a saved message at all, but it is long enough to hold the words." + std::string(150, ' ')},
  };
  for (const auto &c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    lpMapiMessage read = reinterpret_cast<lpMapiMessage>(1);
    EXPECT_EQ(m_.readMail(0, 0, const_cast<LPSTR>(path.c_str()), 0, 0, &read), MAPI_E_FAILURE) << c.name;
    EXPECT_EQ(read, nullptr) << c.name;
  }
  int local = 0;
  EXPECT_EQ(m_.freeBuffer(&local), MAPI_E_FAILURE) << "memory the library never gave out";
}

std::string TextOf(HWND d, int id) {
  char text[256] = {};
  GetDlgItemTextA(d, id, text, sizeof text);
  return text;
}

TEST_F(Mapi32, TheAddressBookGivesRecipientsByClass) {
  std::ofstream(TheMachine().root + "/mail/qxalias.ini") << "[QX-Aliases]\nteam=\n[team]\nann@x.org=\nbob@x.org=\n";
  const LHANDLE session = Logon();
  MAPI_ULONG count = 0;
  lpMapiRecipDesc recips = nullptr;
  person::Person typed;
  typed.Then("Pick recipients", [](HWND d) {
    SetDlgItemTextA(d, 100, "a, b");
    SetDlgItemTextA(d, 101, "c");
    person::Click(IDOK)(d);
  });
  MAPI_ULONG result = 99;
  person::WithPerson(typed, [&] {
    result =
        m_.address(session, 0, const_cast<LPSTR>("Pick recipients"), 2, nullptr, 0, nullptr, 0, 0, &count, &recips);
  });
  EXPECT_EQ(result, 0u);
  ASSERT_EQ(count, 3u);
  ASSERT_NE(recips, nullptr);
  EXPECT_EQ(recips[0].ulReserved, 0x00030002u);
  const MAPI_ULONG classes[] = {MAPI_TO, MAPI_TO, MAPI_CC};
  const char *names[] = {"a", "b", "c"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(recips[i].ulRecipClass, classes[i]) << i;
    EXPECT_STREQ(recips[i].lpszAddress, names[i]) << i;
  }
  EXPECT_EQ(m_.freeBuffer(recips), 0u);

  // Given recipients fill the edits by class; the To button adds the members
  // of the alias picked in the alias library's dialog.
  MapiRecipDesc given[] = {{0, MAPI_CC, nullptr, const_cast<LPSTR>("x@y.org"), 0, nullptr}};
  std::string to, cc;
  person::Person picking;
  picking.Then("Address Book", person::Click(200))
      .Then("Select <To:> Alias", person::Then(person::Choose(100, "team"), person::Click(IDOK)))
      .Then("Address Book", [&](HWND d) {
        to = TextOf(d, 100);
        cc = TextOf(d, 101);
        person::Click(IDOK)(d);
      });
  person::WithPerson(picking,
                     [&] { result = m_.address(session, 0, nullptr, 3, nullptr, 1, given, 0, 0, &count, &recips); });
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(to, "ann@x.org, bob@x.org");
  EXPECT_EQ(cc, "x@y.org");
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(recips[2].ulRecipClass, MAPI_CC);
  m_.freeBuffer(recips);
  m_.logoff(session, 0, 0, 0);
}

TEST_F(Mapi32, TheLogonDialogAsksAgainForAnUnknownUser) {
  auto logonAs = [](const char *user) {
    return [user](HWND d) {
      SetDlgItemTextA(d, 100, user);
      SetDlgItemTextA(d, 101, "pw");
      person::Click(IDOK)(d);
    };
  };
  person::Person person;
  person.Then("MAPI Logon", logonAs("nobody")).Then("MAPI Logon", logonAs("pat"));
  LHANDLE session = 0;
  MAPI_ULONG result = 99;
  person::WithPerson(person,
                     [&] { result = m_.logon(0, nullptr, nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, 0, &session); });
  EXPECT_EQ(result, 0u);
  EXPECT_NE(session, 0u);
  EXPECT_NE(session, MAPI_DEFAULT_SESSION);
  EXPECT_EQ(g_boxes, 1) << "\"Invalid Username\" once";
  m_.logoff(session, 0, 0, 0);

  person::Person cancel;
  cancel.Then("MAPI Logon", person::Click(IDCANCEL));
  person::WithPerson(cancel,
                     [&] { result = m_.logon(0, nullptr, nullptr, MAPI_LOGON_UI | MAPI_NEW_SESSION, 0, &session); });
  EXPECT_EQ(result, static_cast<MAPI_ULONG>(MAPI_USER_ABORT));
}

TEST_F(Mapi32, ResolveNameEchoesTheName) {
  lpMapiRecipDesc recip = nullptr;
  ASSERT_EQ(m_.resolveName(0, 0, const_cast<LPSTR>("ann@example.org"), 0, 0, &recip), 0u);
  ASSERT_NE(recip, nullptr);
  EXPECT_EQ(recip->ulReserved, 0x00010002u);
  EXPECT_EQ(recip->ulRecipClass, MAPI_ORIG);
  EXPECT_STREQ(recip->lpszName, "ann@example.org");
  EXPECT_STREQ(recip->lpszAddress, "ann@example.org");
  EXPECT_EQ(recip->ulEIDSize, 16u);
  EXPECT_EQ(m_.freeBuffer(recip), 0u);
}

}  // namespace
