// A fixture for the gopher client's core against a real server on
// 127.0.0.1:70: a private temporary folder, the recording UI, and the home
// server as the one root item.
#ifndef QX_GOPHER_TESTS_HOME_SERVER_TEST_H
#define QX_GOPHER_TESTS_HOME_SERVER_TEST_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gophercore.h"
#include "gophernicus_peer.h"
#include "qxtest/support.h"
#include "recorder.h"

namespace gophertest {

class HomeServerTest : public ::testing::Test {
 protected:
  // Opens the home server's root item; called by SetUp once the server runs.
  void OpenHomeServer() {
    setenv("TEMP", ("Z:" + scratch.path()).c_str(), 1);
    ASSERT_TRUE(MakePrivateTempDir());
    SetGopherUi(&ui);
    root = ParseMenuLine("S127.0.0.1\t\t127.0.0.1\t70");
    ASSERT_EQ(AddRootItem(root, 1), 1) << ui.BoxTexts();
  }
  void TearDown() override {
    SetGopherUi(nullptr);
    FreeItemList(g_Roots);
    g_Roots = nullptr;
    RemovePrivateTempDir();
  }
  GopherItem *Child(GopherItem *parent, const std::string &display) {
    for (GopherItem *c = parent->firstChild; c; c = c->next)
      if (c->display == display) return c;
    ADD_FAILURE() << "no item " << display << "\n" << ui.BoxTexts();
    return nullptr;
  }
  static std::string ReadTemp(const char *name) {
    FileHandle f(CreateFileA(TempPath(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (f.ok() && ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
    return bytes;
  }

  qxtest::TempDir scratch{"qx-gopher"};
  RecorderUi ui;
  GopherItem *root = nullptr;
};

// The home server is Debian's gophernicus, one for the test suite (the
// suite's network namespace must hold 127.0.0.1:70 for it).
class GophernicusHomeTest : public HomeServerTest {
 protected:
  static void SetUpTestSuite() { peer = new GophernicusPeer; }
  static void TearDownTestSuite() {
    delete peer;
    peer = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(peer->Error().empty()) << peer->Error();
    OpenHomeServer();
  }
  static std::string Tree() { return peer->Root(); }
  // A file of the served tree as a root item of the given type.
  GopherItem *Served(char type, const std::string &name, const std::string &bytes) {
    EXPECT_TRUE(qxtest::WriteFile(Tree() + "/" + name, bytes));
    GopherItem *item = ParseMenuLine(std::string(1, type) + name + "\t/" + name + "\t127.0.0.1\t70");
    AppendRoot(item, 0);
    return item;
  }

  static inline GophernicusPeer *peer = nullptr;
};

}  // namespace gophertest

#endif
