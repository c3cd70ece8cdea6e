// Folders: names that would leave the mail directory are refused and make
// nothing; the tree rows with their numbering and lines; removal refused for
// subfolders, the current folder falls back to the inbox, and a removal
// killed part way leaves the folder whole or unlisted.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "folders.h"
#include "store_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

// Every path under root, relative, sorted.
std::vector<std::string> Tree(const std::string &root) {
  std::vector<std::string> all;
  for (const auto &e : fs::recursive_directory_iterator(root)) all.push_back(fs::relative(e.path(), root).string());
  std::sort(all.begin(), all.end());
  return all;
}

class FolderTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    fs::create_directories(dir / "mail");
    mailDir = dir / "mail";
    Settings().mailDir = mailDir;
    ASSERT_EQ(StoreCreateFolder(mailDir), 0);
  }
  std::string Make(const std::string &parent, const std::string &name) {
    std::string path;
    EXPECT_EQ(CreateFolderNamed(parent, name, path), 0) << name;
    return path;
  }
  std::string mailDir;
};

}  // namespace

TEST_F(FolderTest, NamesThatWouldLeaveTheMailDirectoryAreRefused) {
  const std::vector<std::string> before = Tree(dir.path());
  for (const std::string &name :
       std::vector<std::string>{"..", ".", "../../x", "a.b", "a\\b", "a/b", "/etc/passwd", "c:x", "CON", "con", "Nul",
                                "COM1", "lpt9", "", "a*", "q?", "tab\there", "trailing ", std::string(81, 'n')}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(FolderNameAllowed(name));
    std::string path;
    EXPECT_EQ(CreateFolderNamed(mailDir, name, path), kFolderBadName);
  }
  EXPECT_EQ(Tree(dir.path()), before);  // nothing made anywhere
  for (const std::string &name : std::vector<std::string>{"work", "COM10", "console", "x y", std::string(80, 'n')})
    EXPECT_TRUE(FolderNameAllowed(name)) << name;
  const std::string work = Make(mailDir, "Work");
  EXPECT_TRUE(fs::exists(Host(IndexPath(work))));
}

// Folders a (with b below it) and c: b's row carries its parent's line
// through the whole row, since a has the later sibling c.
TEST_F(FolderTest, TreeRowsNumberingAndLines) {
  const std::string a = Make(mailDir, "A");
  const std::string b = Make(a, "b");
  Make(mailDir, "c");
  fs::create_directories(Host(mailDir + "\\plain"));  // no index: not a folder
  fs::create_directories(Host(mailDir + "\\.hidden"));
  ASSERT_EQ(StoreCreateFolder(mailDir + "\\.hidden"), 0);
  const auto rows = FolderTreeRows(mailDir, 1, 1);  // after an inbox row; listing order is the directory's
  ASSERT_EQ(rows.size(), 3u);
  size_t ia = 0, ib = 0, ic = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].text == "a") ia = i;
    if (rows[i].text == "b") ib = i;
    if (rows[i].text == "c") ic = i;
  }
  EXPECT_EQ(ib, ia + 1);  // a subfolder follows its parent
  EXPECT_EQ(rows[ib].path, b);
  EXPECT_EQ(RowDepth(rows[ia].itemData), 1);
  EXPECT_EQ(RowDepth(rows[ib].itemData), 2);
  EXPECT_EQ((rows[ib].itemData >> 16) & 0xFF, ia + 2);  // parent row + 1, after the inbox row
  EXPECT_EQ((rows[ia].itemData >> 16) & 0xFF, 0u);
  EXPECT_FALSE(rows[ib].itemData & kRowLaterSibling);
  if (ia < ic) {
    EXPECT_TRUE(rows[ia].itemData & kRowLaterSibling);
    EXPECT_EQ(AncestorLines(rows, ib), (std::vector<bool>{false, true, false}));
  } else {
    EXPECT_TRUE(rows[ic].itemData & kRowLaterSibling);
    EXPECT_EQ(AncestorLines(rows, ib), (std::vector<bool>{false, false, false}));
  }
  // The removal dialog's tree has no inbox row: top level at depth 0.
  EXPECT_EQ(RowDepth(FolderTreeRows(mailDir, 0, 0)[ia].itemData), 0);
}

TEST_F(FolderTest, RemovalRulesAndTheCurrentFolder) {
  const std::string a = Make(mailDir, "a");
  const std::string b = Make(a, "b");
  ASSERT_EQ(AddMessage(b, Message("m1")), 0);
  EXPECT_EQ(RemoveFolder(a), kFolderHasSubfolders);
  EXPECT_TRUE(fs::exists(Host(MessagePath(b, 1))));  // nothing deleted
  Settings().currentFolder = b;
  EXPECT_EQ(RemoveFolder(b), 0);
  EXPECT_FALSE(fs::exists(Host(b)));
  EXPECT_EQ(Settings().currentFolder, mailDir);
  EXPECT_EQ(RemoveFolder(a), 0);
  EXPECT_EQ(RemoveFolder(a), kFolderNotFound);
  EXPECT_EQ(Tree(mailDir), (std::vector<std::string>{"index.idx"}));
}

// Killed after the folder was hidden: it is not listed, its messages are
// not half there, and the next removal clears what is left.
TEST_F(FolderTest, KilledRemovalLeavesTheFolderWholeOrUnlisted) {
  const std::string a = Make(mailDir, "a");
  for (const char *id : {"x1", "x2", "x3"}) ASSERT_EQ(AddMessage(a, Message(id)), 0);
  const std::string other = Make(mailDir, "other");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    g_StoreStepHook = [](const char *operation, int step) {
      if (std::string(operation) == "remove-folder" && step == 1) raise(SIGKILL);
    };
    RemoveFolder(a);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  const auto rows = FolderTreeRows(mailDir, 1, 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].text, "other");
  EXPECT_EQ(RemoveFolder(other), 0);
  EXPECT_EQ(Tree(mailDir), (std::vector<std::string>{"index.idx"}));  // the leftover went as well
}
