// The gopher client against Debian's gophernicus, started per connection by
// socat on 127.0.0.1:70 of the test's own network namespace, serving a tree
// the test prepares: menus, a text, a binary, a search, information lines and
// a menu of 20,000 items.
#include "gophercore.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "qxtest/loopback.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"
#include "recorder.h"

namespace {

using gophertest::RecorderUi;

const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

constexpr u_short kPort = 70;
constexpr int kBigMenu = 20000;

std::string Line(char type, const std::string &display, const std::string &selector) {
  return std::string(1, type) + display + "\t" + selector + "\t127.0.0.1\t70\r\n";
}

// The tree gophernicus serves; readable by the account it runs as.
void MakeTree(const std::string &root) {
  ASSERT_EQ(mkdir((root + "/docs").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root + "/big").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root + "/cgi-bin").c_str(), 0755), 0);
  std::string text;
  for (int i = 0; i < 200; ++i) text += "Line " + std::to_string(i) + " of the manual\twith a tab\r\n";
  ASSERT_TRUE(qxtest::WriteFile(root + "/docs/manual.txt", text));
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 7) ^ (i >> 8)));
  binary += "\r\n.\r\n";  // a binary keeps even a final end line
  ASSERT_TRUE(qxtest::WriteFile(root + "/docs/data.bin", binary));
  ASSERT_TRUE(qxtest::WriteFile(root + "/gophermap", "Welcome to the test tree\r\n" + Line('1', "Documents", "/docs") +
                                                        Line('7', "Search the tree", "/cgi-bin/search") +
                                                        Line('1', "A big menu", "/big")));
  ASSERT_TRUE(qxtest::WriteFile(root + "/docs/gophermap", Line('0', "The manual", "/docs/manual.txt") +
                                                              Line('9', "Some data", "/docs/data.bin")));
  std::string big;
  for (int i = 0; i < kBigMenu; ++i) big += Line('0', "Item " + std::to_string(i), "/docs/manual.txt");
  ASSERT_TRUE(qxtest::WriteFile(root + "/big/gophermap", big));
  ASSERT_TRUE(qxtest::WriteFile(root + "/cgi-bin/search",
                                "#!/bin/sh\nprintf '0Found %s\\t/docs/manual.txt\\t127.0.0.1\\t70\\r\\n' "
                                "\"$QUERY_STRING\"\n"));
  ASSERT_EQ(chmod((root + "/cgi-bin/search").c_str(), 0755), 0);
}

class GophernicusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree = new qxtest::TempDir("qx-gopher-tree", 0755);
    MakeTree(tree->path());
    server = new qxtest::Child({"/usr/bin/socat", "TCP-LISTEN:70,bind=127.0.0.1,reuseaddr,fork",
                                "EXEC:gophernicus -h 127.0.0.1 -p 70 -nf -nv -r " + tree->path() + ",su=nobody"});
    const bool up = qxtest::WaitUntil(
        [] {
          SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
          sockaddr_in to = qxtest::Loopback(kPort);
          const bool ok = connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
          closesocket(s);
          return ok;
        },
        10000);
    if (!up) failure = "socat with gophernicus did not listen on 127.0.0.1:70 (install socat and gophernicus)";
  }
  static void TearDownTestSuite() {
    delete server;
    delete tree;
  }
  void SetUp() override {
    ASSERT_TRUE(failure.empty()) << failure;
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
    ADD_FAILURE() << "no item " << display;
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

  static qxtest::TempDir *tree;
  static qxtest::Child *server;
  static std::string failure;
  qxtest::TempDir scratch{"qx-gopher"};
  RecorderUi ui;
  GopherItem *root = nullptr;
};

qxtest::TempDir *GophernicusTest::tree = nullptr;
qxtest::Child *GophernicusTest::server = nullptr;
std::string GophernicusTest::failure;

TEST_F(GophernicusTest, TreeTextAndBinaryByteForByte) {
  // The root menu: an information line (not selectable), a menu, a search, a menu.
  ASSERT_NE(root->firstChild, nullptr);
  EXPECT_EQ(root->firstChild->typeIndex, kTypeInfo);
  EXPECT_EQ(root->firstChild->display, "Welcome to the test tree");
  EXPECT_FALSE(root->firstChild->flags & kItemSelectable);

  GopherItem *docs = Child(root, "Documents");
  ASSERT_TRUE(docs);
  ActivateItem(docs, nullptr);
  ASSERT_TRUE(docs->flags & kItemExpanded) << ui.BoxTexts();

  GopherItem *manual = Child(docs, "The manual");
  ASSERT_TRUE(manual);
  ActivateItem(manual, nullptr);
  EXPECT_EQ(ReadTemp("UseFile"), qxtest::ReadFile(tree->path() + "/docs/manual.txt"));
  EXPECT_EQ(ui.rows.size(), 200u);

  GopherItem *data = Child(docs, "Some data");
  ASSERT_TRUE(data);
  ui.savePath = "Z:" + scratch.path() + "/data.bin";
  ActivateItem(data, nullptr);
  EXPECT_EQ(ui.saveProposed, "data.bin");
  EXPECT_EQ(qxtest::ReadFile(scratch.path() + "/data.bin"), qxtest::ReadFile(tree->path() + "/docs/data.bin"));
  EXPECT_TRUE(ui.opened.empty());
  for (const auto &b : ui.boxes) EXPECT_EQ(b.caption, "burrowview") << b.text;  // only the offer to open
}

TEST_F(GophernicusTest, SearchSendsTheWords) {
  GopherItem *search = Child(root, "Search the tree");
  ASSERT_TRUE(search);
  ui.searchWords = "gopher holes";
  ActivateItem(search, nullptr);
  ASSERT_NE(search->firstChild, nullptr) << ui.BoxTexts();
  EXPECT_EQ(search->firstChild->display, "Found gopher holes");
}

TEST_F(GophernicusTest, MenuOfTwentyThousandItems) {
  GopherItem *big = Child(root, "A big menu");
  ASSERT_TRUE(big);
  ActivateItem(big, nullptr);
  EXPECT_EQ(CountChildren(big), kBigMenu) << ui.BoxTexts();
  GopherItem *last = big->firstChild;
  while (last && last->next) last = last->next;
  ASSERT_TRUE(last);
  EXPECT_EQ(last->display, "Item " + std::to_string(kBigMenu - 1));
  EXPECT_EQ(last->depth, 3);
}

}  // namespace
