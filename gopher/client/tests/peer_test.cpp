// The gopher client against Debian's gophernicus, started per connection by
// socat on 127.0.0.1:70 of the test's own network namespace, serving a tree
// the test prepares: menus, a text, a binary, a search, information lines and
// a menu of 20,000 items.
#include "gophercore.h"

#include <gtest/gtest.h>

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

using GophernicusTest = gophertest::GophernicusHomeTest;

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
  EXPECT_EQ(ReadTemp("UseFile"), qxtest::ReadFile(Tree() + "/docs/manual.txt"));
  EXPECT_EQ(ui.rows.size(), 200u);

  GopherItem *data = Child(docs, "Some data");
  ASSERT_TRUE(data);
  ui.savePath = "Z:" + scratch.path() + "/data.bin";
  ActivateItem(data, nullptr);
  EXPECT_EQ(ui.saveProposed, "data.bin");
  EXPECT_EQ(qxtest::ReadFile(scratch.path() + "/data.bin"), qxtest::ReadFile(Tree() + "/docs/data.bin"));
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
  EXPECT_EQ(CountChildren(big), gophertest::kBigMenu) << ui.BoxTexts();
  GopherItem *last = big->firstChild;
  while (last && last->next) last = last->next;
  ASSERT_TRUE(last);
  EXPECT_EQ(last->display, "Item " + std::to_string(gophertest::kBigMenu - 1));
  EXPECT_EQ(last->depth, 3);
}

}  // namespace
