// The client against Debian's FTP servers on 127.0.0.1:21 of the test's own
// network namespace: anonymous and local-user logins, PWD and CWD (into a
// directory with a quote in its name), and LIST and NLST of a tree of
// awkward names, whose parsed entries must equal what lstat says.
#include "ftpcore.h"
#include "qxtest/netns.h"
#include "peer_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

using namespace ftptest;

namespace {

class NamespaceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string error = qxtest::EnterOwnNetworkNamespace();
    ASSERT_TRUE(error.empty()) << error;
    error = qxtest::EnterOwnMountNamespace();
    ASSERT_TRUE(error.empty()) << error;
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
  }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new NamespaceEnvironment);

struct RecordingUi : FtpUi {
  std::vector<std::string> errors;
  int asks = 0;
  void ShowError(const char *text, const char *caption) override { errors.push_back(text); }
  bool AskLogUnknownHost() override {
    ++asks;
    return false;
  }
};

std::string Describe(unsigned flags, uint64_t size) {
  const char *kind = flags == 0                                          ? "file"
                     : flags == kEntryDirectory                          ? "dir"
                     : flags == (kEntryDirectory | kEntryMaybeDirectory) ? "link-or-dir"
                                                                         : "?";
  return std::string(kind) + " " + std::to_string(size);
}

// name -> "kind size" of the tree, as the listing must show it.
std::map<std::string, std::string> Expected(const std::vector<TreeEntry> &tree) {
  std::map<std::string, std::string> out;
  for (const TreeEntry &e : tree) {
    const unsigned flags = e.kind == 0 ? 0 : e.kind == 1 ? kEntryDirectory : kEntryDirectory | kEntryMaybeDirectory;
    out[e.name] = Describe(flags, e.size);
  }
  return out;
}

std::map<std::string, std::string> Listed(const FTP_PANE &pane, bool sizes) {
  std::map<std::string, std::string> out;
  for (const ENTRY_NODE &e : pane.entries) {
    if (e.name == "." || e.name == "..") continue;
    out[e.name] = sizes ? Describe(e.flags, e.size) : Describe(e.flags, 0);
  }
  return out;
}

class PeerTest : public ::testing::TestWithParam<PeerKind> {
 protected:
  void SetUp() override {
    SetFtpUi(&ui);
    g_Panes[0] = FTP_PANE();
  }
  void TearDown() override {
    if (g_Panes[0].control != INVALID_SOCKET) closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
    SetFtpUi(nullptr);
  }
  RecordingUi ui;
};

TEST_P(PeerTest, LoginsDirectoriesAndListingsMatchTheTree) {
  ServerDir work, root;
  ASSERT_FALSE(work.path().empty() || root.path().empty());
  std::string error;
  const std::vector<TreeEntry> tree = MakeListingTree(root.path(), &error);
  ASSERT_TRUE(error.empty()) << error;
  PeerServer server(GetParam(), root.path(), work.path(), true);
  ASSERT_TRUE(server.Error().empty()) << server.Error();

  for (int anonymous = 0; anonymous < 2; ++anonymous) {
    ASSERT_TRUE(server.Anonymous()) << "the anonymous root could not be set up (pure-ftpd: the home of the account "
                                       "ftp must exist to be bound to the test tree)";
    SCOPED_TRACE(anonymous ? "anonymous" : "local user");
    ui.errors.clear();
    g_Panes[0] = FTP_PANE();
    strcpy(g_Panes[0].host, "127.0.0.1");
    ASSERT_NE(FtpConnect(0), INVALID_SOCKET);
    LOGIN_FIELDS fields;
    fields.anonymousName = "guest@";
    if (!anonymous) {
      fields.user = kLocalUser;
      fields.password = LocalPassword();
    }
    ASSERT_EQ(FtpLogin(0, fields), 1) << LastReplyLine();
    const std::string top = anonymous ? "/" : root.path();
    if (!anonymous) {
      ASSERT_EQ(ChangeDirectory(0, root.path(), 1), 1) << LastReplyLine();
    } else {
      ASSERT_EQ(QueryDirectory(0), 1);
    }
    EXPECT_EQ(std::string(g_Panes[0].path), "127.0.0.1:" + top);

    // LIST: the host type is found from the first line, every entry parsed.
    ASSERT_EQ(ParseRemoteListing(0), 1);
    EXPECT_EQ(g_Panes[0].kind, kHostUnix);
    EXPECT_EQ(ui.asks, 0);
    EXPECT_EQ(Listed(g_Panes[0], true), Expected(tree));

    // CWD into the directory with a quote in its name, and back.
    ASSERT_EQ(ChangeDirectory(0, "q\"dir", 1), 1) << LastReplyLine();
    EXPECT_EQ(std::string(g_Panes[0].path), "127.0.0.1:" + (anonymous ? std::string() : root.path()) + "/q\"dir");
    ASSERT_EQ(ParseRemoteListing(0), 1);
    EXPECT_EQ(Listed(g_Panes[0], false), (std::map<std::string, std::string>{{"inside", "file 0"}}));
    ASSERT_EQ(ChangeDirectory(0, "..", 1), 1);

    // NLST: names only, each may be a directory.
    g_Panes[0].kind = kHostNameList;
    ASSERT_EQ(ParseRemoteListing(0), 1);
    std::vector<std::string> names, wanted;
    for (const ENTRY_NODE &e : g_Panes[0].entries) names.push_back(e.name);
    for (const TreeEntry &e : tree) wanted.push_back(e.name);
    wanted.push_back(".");
    wanted.push_back("..");
    std::sort(names.begin(), names.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(names, wanted);

    EXPECT_EQ(FtpCommandReply(0, "QUIT", nullptr, 1), 2);
    closesocket(g_Panes[0].control);
    g_Panes[0].control = INVALID_SOCKET;
    EXPECT_TRUE(ui.errors.empty()) << ui.errors.front();
  }
}

INSTANTIATE_TEST_SUITE_P(DebianServers, PeerTest,
                         ::testing::Values(PeerKind::kVsftpd, PeerKind::kProftpd, PeerKind::kPureFtpd),
                         [](const ::testing::TestParamInfo<PeerKind> &param) {
                           std::string n = PeerName(param.param);
                           n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                           return n;
                         });

}  // namespace
