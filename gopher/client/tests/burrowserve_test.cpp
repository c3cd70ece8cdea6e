// The gopher client against the suite's own gopher daemon: burrowserve
// started per connection by portwarden on 127.0.0.1:70 of the test's own
// network namespace, serving the tree the gophernicus tests use in its own
// menu-file form (whose selectors begin with the item's type character, as
// the daemon reads them): the same children, the same bytes. A menu made with
// the menu editor's rows is served and shows the items that were entered.
#include "gophercore.h"
#include "menufile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "qxtest/loopback.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"
#include "gophernicus_peer.h"
#include "home_server_test.h"
#include "recorder.h"

namespace {

using gophertest::RecorderUi;

const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

using gophertest::kBigMenu;

std::string Line(char type, const std::string &display, const std::string &selector) {
  return std::string(1, type) + display + "\t" + selector + "\t127.0.0.1\t70\r\n";
}

using qxtest::Shell;

class BurrowserveTest : public gophertest::HomeServerTest {
 protected:
  static void SetUpTestSuite() {
    work = new qxtest::TempDir("qx-gopher-bs", 0755);
    const std::string w = work->path();
    setenv("QX_HOME", (w + "/home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (w + "/machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (w + "/run").c_str(), 1);
    for (const char *dir : {"/home", "/home/drive_c", "/home/drive_c/WINDOWS", "/machine", "/run", "/srv", "/root",
                            "/root/docs", "/root/big", "/root/edited"})
      mkdir((w + dir).c_str(), 0700);
    std::string text;
    for (int i = 0; i < 200; ++i) text += "Line " + std::to_string(i) + " of the manual\twith a tab\r\n";
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 7) ^ (i >> 8)));
    binary += "\r\n.\r\n";
    std::string big;
    for (int i = 0; i < kBigMenu; ++i) big += Line('0', "Item " + std::to_string(i), "0docs/manual.txt");
    const bool written =
        qxtest::WriteFile(w + "/root/docs/manual.txt", text) && qxtest::WriteFile(w + "/root/docs/data.bin", binary) &&
        qxtest::WriteFile(w + "/root/DEFAULT.GMN",
                          Line('1', "Documents", "1docs/DOCS.GMN") + Line('1', "A big menu", "1big/BIG.GMN")) &&
        qxtest::WriteFile(w + "/root/docs/DOCS.GMN",
                          Line('0', "The manual", "0docs/manual.txt") + Line('9', "Some data", "9docs/data.bin")) &&
        qxtest::WriteFile(w + "/root/big/BIG.GMN", big) &&
        qxtest::WriteFile(w + "/srv/GATEKEEPER.DAT", "default 1\r\n");  // everyone may read everything
    if (!written) {
      failure = "cannot write the tree under " + w;
      return;
    }
    const std::string pwtable = "cd '" + w + "/srv' && '" + qxtest::BinDir() + "/pwtable' ";
    int status = 0;
    const std::string out = Shell(pwtable + "enable burrowserve 2>&1 && " + pwtable + "set \"$(" + pwtable +
                                      "list | awk '/burrowserve/ {print $1; exit}' | tr -d :)\" "
                                      "\"params=" +
                                      w + "/root\" 2>&1",
                                  &status);
    if (status != 0) {
      failure = "pwtable could not enable burrowserve: " + out;
      return;
    }
    // The service table lies in the working directory portwarden starts in.
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir((w + "/srv").c_str()) != 0) {
      failure = "cannot enter " + w + "/srv";
      return;
    }
    portwarden = new qxtest::Child({qxtest::BinDir() + "/portwarden"});
    if (chdir(previous) != 0) failure = "cannot return to " + std::string(previous);
    const bool up = qxtest::WaitUntil(
        [] {
          SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
          sockaddr_in to = qxtest::Loopback(70);
          const bool ok = connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
          closesocket(s);
          return ok;
        },
        10000);
    if (!up) failure = "portwarden did not listen on 127.0.0.1:70";
  }
  static void TearDownTestSuite() {
    delete portwarden;
    qxtest::KillProcessesOfRuntime(work->path() + "/run");
    delete work;
  }
  void SetUp() override {
    ASSERT_TRUE(failure.empty()) << failure;
    OpenHomeServer();
  }

  static qxtest::TempDir *work;
  static qxtest::Child *portwarden;
  static std::string failure;
};

qxtest::TempDir *BurrowserveTest::work = nullptr;
qxtest::Child *BurrowserveTest::portwarden = nullptr;
std::string BurrowserveTest::failure;

TEST_F(BurrowserveTest, SameTreeSameBytes) {
  EXPECT_EQ(CountChildren(root), 2);
  GopherItem *docs = Child(root, "Documents");
  ASSERT_TRUE(docs);
  ActivateItem(docs, nullptr);
  ASSERT_EQ(CountChildren(docs), 2) << ui.BoxTexts() << (docs->firstChild ? docs->firstChild->display : "");

  ActivateItem(Child(docs, "The manual"), nullptr);
  EXPECT_EQ(ReadTemp("UseFile"), qxtest::ReadFile(work->path() + "/root/docs/manual.txt"));
  EXPECT_EQ(ui.rows.size(), 200u);

  ui.savePath = "Z:" + scratch.path() + "/data.bin";
  ActivateItem(Child(docs, "Some data"), nullptr);
  EXPECT_EQ(qxtest::ReadFile(scratch.path() + "/data.bin"), qxtest::ReadFile(work->path() + "/root/docs/data.bin"));

  GopherItem *big = Child(root, "A big menu");
  ASSERT_TRUE(big);
  ActivateItem(big, nullptr);
  EXPECT_EQ(CountChildren(big), kBigMenu) << ui.BoxTexts();
}

// Items as the editor's dialog enters them: type description, display,
// resource name, host, port; saved with the editor's menu file and read by the
// client from the daemon.
TEST_F(BurrowserveTest, MenuWrittenByTheEditorShowsTheEnteredItems) {
  struct Entered {
    const char *type, *display, *resource, *host, *port;
    char typeChar;
  };
  const Entered items[] = {
      {"Text File[0]", "The manual", "docs/manual.txt", "127.0.0.1", "70", '0'},
      {"Directory[1]", "Documents", "docs/DOCS.GMN", "127.0.0.1", "70", '1'},
      {"Telnet Session[8]", "A login", "", "bbs.example", "23", '8'},
      {"Information line[i]", "Welcome to the menu", "x", "none", "0", 'i'},
      {"Event (not in 2.06)[e]", "An event", "ev", "127.0.0.1", "70", 'e'},
      {"HTML[h]", "Home page", "URL:http://example.org/", "127.0.0.1", "70", 'h'},
  };
  MenuRows menu;
  for (const Entered &e : items) {
    // The telnet item's resource name is empty in a login menu; the editor
    // asks for every field, so it carries a blank.
    const std::string resource = *e.resource ? e.resource : " ";
    menu.SetItem(menu.GetItemCount(), BuildRow({e.type, e.display, resource, e.host, e.port}));
  }
  ASSERT_TRUE(qxtest::WriteFile(work->path() + "/root/edited/EDITED.GMN", menu.Save()));

  GopherItem *edited = ParseMenuLine("1Edited\t1edited/EDITED.GMN\t127.0.0.1\t70");
  ASSERT_TRUE(edited);
  ASSERT_EQ(AddRootItem(edited, 1), 1) << ui.BoxTexts();
  root = edited;
  ASSERT_EQ(CountChildren(edited), 6) << ui.BoxTexts();
  const GopherItem *child = edited->firstChild;
  for (const Entered &e : items) {
    ASSERT_TRUE(child);
    EXPECT_EQ(child->typeChar, static_cast<uint8_t>(e.typeChar));
    EXPECT_EQ(child->display, e.display);
    EXPECT_EQ(child->selector, std::string(1, e.typeChar) + (*e.resource ? e.resource : " "));
    EXPECT_EQ(child->host, e.host);
    EXPECT_EQ(child->port, std::atoi(e.port));
    child = child->next;
  }
  // The manual item opens the file its resource names.
  GopherItem *manual = edited->firstChild;
  ActivateItem(manual, nullptr);
  EXPECT_EQ(ReadTemp("UseFile"), qxtest::ReadFile(work->path() + "/root/docs/manual.txt"));
}

}  // namespace
