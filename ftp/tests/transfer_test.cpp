// Copies against Debian's FTP servers, each on a loopback address of its own
// inside the test's network namespace: vsftpd (writable, converting TYPE A
// uploads) on 127.0.0.2 and pure-ftpd on 127.0.0.3. Every file goes local to
// vsftpd, vsftpd to pure-ftpd (host to host through the client) and
// pure-ftpd back to local, and must arrive byte for byte. Failures (a
// refused STOR, a server that dies in mid-file, a cancel) leave no partial
// file, and names from a hostile listing never write outside the local
// directory nor smuggle a command to the server.
#include "ftpcore.h"
#include "qxtest/netns.h"
#include "peer_server.h"
#include "profiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

using namespace ftptest;
using qxtest::WriteFile;
namespace fs = std::filesystem;

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

constexpr const char *kVsftpd = "127.0.0.2";
constexpr const char *kPureFtpd = "127.0.0.3";

// Answers every question as the test says and records what was shown.
struct ScriptedUi : FtpUi {
  std::vector<std::string> warnings;  // boxes, with their captions first
  std::vector<int> deleteAnswers;     // answers to "Delete", in turn (then 1)
  std::string typedName;              // for "Rename File" and "Make Directory"
  int textMode = 0;
  int overwrite = 1;
  std::function<bool(const char *, const char *, std::string *)> newName;
  bool continueAfterError = true;
  int blocks = 0;
  std::function<bool(int)> cancelAtBlock;  // called after each block
  void ShowError(const char *text, const char *caption) override {
    warnings.push_back(std::string(caption) + ": " + text);
  }
  void ShowWarning(const char *text, const char *caption) override { ShowError(text, caption); }
  bool AskContinue(const char *text, const char *caption) override {
    ShowError(text, caption);
    return continueAfterError;
  }
  int AskTransferMode(const char *, int *) override { return textMode; }
  int overwriteAsked = 0;
  int AskOverwrite(const char *) override {
    ++overwriteAsked;
    return overwrite;
  }
  bool AskNewName(const char *dialog, const char *name, std::string *result) override {
    warnings.push_back(std::string(dialog) + ": " + name);
    return newName && newName(dialog, name, result);
  }
  bool TransferCancelled() override { return cancelAtBlock && cancelAtBlock(++blocks); }
  int AskDelete(const char *) override {
    if (deleteAnswers.empty()) return 1;
    const int answer = deleteAnswers.front();
    deleteAnswers.erase(deleteAnswers.begin());
    return answer;
  }
  bool AskRename(const char *, std::string *name) override {
    *name = typedName;
    return !typedName.empty();
  }
  bool AskMakeDirectory(std::string *name) override {
    *name = typedName;
    return !typedName.empty();
  }
};

std::string Sha256(const std::string &path) {
  const std::string command = "sha256sum '" + path + "' 2>/dev/null";
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return "popen failed";
  char digest[65] = {};
  const size_t got = fread(digest, 1, 64, pipe);
  pclose(pipe);
  return got == 64 ? std::string(digest) : "no such file: " + path;
}

// A directory the servers' account owns, so its sessions may write there.
void GiveToFtpUser(const std::string &path) {
  const passwd *user = getpwnam(kLocalUser);
  if (user) chown(path.c_str(), user->pw_uid, user->pw_gid);
}

std::vector<std::string> NamesIn(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Transfers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_work = new ServerDir;
    s_files = new ServerDir;
    GiveToFtpUser(s_files->path());
    for (const char *dir : {"local", "vs", "pure", "vs-work", "pure-work", "vs/readonly"}) {
      fs::create_directories(s_files->path() + "/" + dir);
      if (strcmp(dir, "vs/readonly") != 0) GiveToFtpUser(s_files->path() + "/" + dir);
    }
    s_vsftpd = new PeerServer(PeerKind::kVsftpd, s_files->path(), s_files->path() + "/vs-work", false, kVsftpd, true);
    s_pure =
        new PeerServer(PeerKind::kPureFtpd, s_files->path(), s_files->path() + "/pure-work", false, kPureFtpd, true);
  }
  static void TearDownTestSuite() {
    delete s_vsftpd;
    delete s_pure;
    delete s_files;
    delete s_work;
  }
  void SetUp() override {
    ASSERT_TRUE(s_vsftpd->Error().empty()) << s_vsftpd->Error();
    ASSERT_TRUE(s_pure->Error().empty()) << s_pure->Error();
    SetFtpUi(&ui);
    // A directory no test removes (sha256sum needs a current directory).
    SetCurrentDirectoryA(s_files->path().c_str());
    g_Options = FTP_OPTIONS();
    g_Options.overwritePrompt = 0;
    g_SelectionTotal = 0;
  }
  void TearDown() override {
    Reset(0);
    Reset(1);
    SetFtpUi(nullptr);
  }
  static std::string Dir(const char *name) { return s_files->path() + "/" + name; }

  static void Reset(int pane) {
    if (g_Panes[pane].control != INVALID_SOCKET) closesocket(g_Panes[pane].control);
    g_Panes[pane] = FTP_PANE();
  }
  void OpenLocal(int pane, const std::string &dir) {
    Reset(pane);
    g_Panes[pane].kind = kPaneLocal;
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str())) << dir;
    QueryDirectory(pane);
    RefreshPane(pane);
  }
  void OpenRemote(int pane, const char *address, const std::string &dir) {
    Reset(pane);
    strcpy(g_Panes[pane].host, address);
    ASSERT_NE(FtpConnect(pane), INVALID_SOCKET) << address;
    LOGIN_FIELDS fields;
    fields.user = kLocalUser;
    fields.password = LocalPassword();
    ASSERT_EQ(FtpLogin(pane, fields), 1) << LastReplyLine();
    ASSERT_EQ(ChangeDirectory(pane, dir, 1), 1) << LastReplyLine();
    RefreshPane(pane);
  }
  void Select(int pane, const std::vector<std::string> &names) {
    for (const std::string &name : names) {
      ENTRY_NODE *e = FindEntry(pane, name);
      ASSERT_NE(e, nullptr) << name << " is not listed in pane " << pane;
      e->flags |= kEntrySelected;
      g_SelectionTotal += e->size;
    }
  }
  int Copy(int from, const std::vector<std::string> &names) {
    Select(from, names);
    return CopySelection(1);
  }

  ScriptedUi ui;
  static ServerDir *s_work, *s_files;
  static PeerServer *s_vsftpd, *s_pure;
};
ServerDir *Transfers::s_work, *Transfers::s_files;
PeerServer *Transfers::s_vsftpd, *Transfers::s_pure;

struct FileCase {
  const char *name;
  int textMode;
  std::function<bool(const std::string &)> make;
};

bool MakeBinary(const std::string &path) {
  std::string bytes;
  for (unsigned i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 7919u) % 256);
  bytes[0] = 0;
  bytes += std::string(100, '\0') + "\r\n\n\r" + '\x1a';
  return WriteFile(path, bytes);
}

bool MakeText(const std::string &path) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + " of a text file\n";
  return WriteFile(path, text + "last line without a line feed");
}

// 8,192 bytes of text lines whose last byte is Ctrl-Z: a full block keeps it.
bool MakeCtrlZ(const std::string &path) {
  std::string text;
  while (text.size() < 8191) text += text.size() % 64 == 63 ? '\n' : 'a' + static_cast<char>(text.size() % 26);
  text.resize(8191);
  return WriteFile(path, text + '\x1a');
}

// A little over 2 GB, all hole: sizes past 31 bits must survive.
bool MakeSparse(const std::string &path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = ftruncate(fd, (2LL << 30) + 5) == 0;
  close(fd);
  return ok;
}

class CopyEveryWay : public Transfers, public ::testing::WithParamInterface<FileCase> {};

TEST_P(CopyEveryWay, LocalToVsftpdToPureFtpdToLocal) {
  const FileCase &c = GetParam();
  const std::string name = c.name;
  const std::string original = Dir("local") + "/" + name;
  ASSERT_TRUE(c.make(original));
  const std::string want = Sha256(original);
  ui.textMode = c.textMode;

  // Local to vsftpd (which turns TYPE A's CR LF back into LF).
  OpenLocal(0, Dir("local"));
  OpenRemote(1, kVsftpd, Dir("vs"));
  ASSERT_EQ(Copy(0, {name}), 1) << (ui.warnings.empty() ? "" : ui.warnings.back());
  EXPECT_EQ(Sha256(Dir("vs") + "/" + name), want) << "local to vsftpd";
  ASSERT_NE(FindEntry(1, name), nullptr);  // entered into the target's list
  EXPECT_EQ(FindEntry(1, name)->size, fs::file_size(original));

  // vsftpd to pure-ftpd through the client: the bytes pass unchanged.
  OpenRemote(0, kVsftpd, Dir("vs"));
  OpenRemote(1, kPureFtpd, Dir("pure"));
  ASSERT_EQ(Copy(0, {name}), 1) << (ui.warnings.empty() ? "" : ui.warnings.back());
  // (pure-ftpd, too, turns TYPE A's CR LF into LF.)
  EXPECT_EQ(Sha256(Dir("pure") + "/" + name), want) << "vsftpd to pure-ftpd";

  // pure-ftpd back to a local directory.
  const std::string back = Dir("local") + "/back";
  fs::create_directory(back);
  OpenRemote(0, kPureFtpd, Dir("pure"));
  OpenLocal(1, back);
  ASSERT_EQ(Copy(0, {name}), 1) << (ui.warnings.empty() ? "" : ui.warnings.back());
  EXPECT_EQ(Sha256(back + "/" + name), want) << "pure-ftpd to local";
  EXPECT_EQ(NamesIn(back), std::vector<std::string>{name});  // no ".part" left
  EXPECT_TRUE(ui.warnings.empty()) << ui.warnings.front();
  for (const std::string &path : {original, back + "/" + name, Dir("vs") + "/" + name, Dir("pure") + "/" + name})
    unlink(path.c_str());
  SetCurrentDirectoryA(s_files->path().c_str());
  fs::remove(back);
}

INSTANTIATE_TEST_SUITE_P(Files, CopyEveryWay,
                         ::testing::Values(FileCase{"nuls.bin", 0, MakeBinary}, FileCase{"lines.txt", 1, MakeText},
                                           FileCase{"ctrlz.txt", 1, MakeCtrlZ}, FileCase{"sparse.img", 0, MakeSparse}),
                         [](const ::testing::TestParamInfo<FileCase> &param) {
                           std::string n = param.param.name;
                           return n.substr(0, n.find('.'));
                         });

TEST_F(Transfers, TextModeConvertsLineEndsAndDropsAShortBlocksCtrlZ) {
  // Local text with a final Ctrl-Z in a short block: sent without it (as
  // CR LF lines, which pure-ftpd stores with LF again).
  ASSERT_TRUE(WriteFile(Dir("local") + "/short.txt", std::string("one\ntwo\n") + '\x1a'));
  ui.textMode = 1;
  OpenLocal(0, Dir("local"));
  OpenRemote(1, kPureFtpd, Dir("pure"));
  ASSERT_EQ(Copy(0, {"short.txt"}), 1);
  std::ifstream in(Dir("pure") + "/short.txt", std::ios::binary);
  const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(stored, "one\ntwo\n");
  unlink((Dir("local") + "/short.txt").c_str());
  unlink((Dir("pure") + "/short.txt").c_str());
}

TEST_F(Transfers, RefusedStoreAndMissingSourceAreReportedAndLeaveNothing) {
  ASSERT_TRUE(WriteFile(Dir("local") + "/refused.bin", "data"));
  OpenLocal(0, Dir("local"));
  OpenRemote(1, kVsftpd, Dir("vs/readonly"));  // owned by root: STOR is refused
  EXPECT_EQ(Copy(0, {"refused.bin"}), 0);
  ASSERT_EQ(ui.warnings.size(), 1u);
  EXPECT_EQ(ui.warnings[0].rfind("Copy: Error creating file refused.bin in directory " + Dir("vs/readonly"), 0), 0u)
      << ui.warnings[0];
  EXPECT_TRUE(NamesIn(Dir("vs/readonly")).empty());

  // A remote file that vanished after the listing.
  ui.warnings.clear();
  ASSERT_TRUE(WriteFile(Dir("vs") + "/gone.bin", "soon gone"));
  OpenRemote(0, kVsftpd, Dir("vs"));
  OpenLocal(1, Dir("local"));
  unlink((Dir("vs") + "/gone.bin").c_str());
  EXPECT_EQ(Copy(0, {"gone.bin"}), 0);
  ASSERT_EQ(ui.warnings.size(), 1u);
  EXPECT_EQ(ui.warnings[0].rfind("Copy: Error opening file gone.bin in directory " + Dir("vs") + ".", 0), 0u)
      << ui.warnings[0];
  EXPECT_FALSE(fs::exists(Dir("local") + "/gone.bin"));
  unlink((Dir("local") + "/refused.bin").c_str());
}

// A local directory on a file system too small for the file (a tmpfs of
// this test's own mount namespace): the short write is a failed copy with
// its "Write Error" box, and nothing of the file stays there.
TEST_F(Transfers, AFullLocalDiskFailsTheCopyAndLeavesNothing) {
  const std::string small = Dir("local") + "/small";
  fs::create_directory(small);
  ASSERT_EQ(mount("qxftp-small", small.c_str(), "tmpfs", 0, "size=128k"), 0) << strerror(errno);
  ASSERT_TRUE(MakeBinary(Dir("vs") + "/toobig.bin"));  // about 300 KB
  OpenRemote(0, kVsftpd, Dir("vs"));
  OpenLocal(1, small);
  EXPECT_EQ(Copy(0, {"toobig.bin"}), 0);
  ASSERT_EQ(ui.warnings.size(), 2u);
  EXPECT_EQ(ui.warnings[0].rfind("Write Error: Only ", 0), 0u) << ui.warnings[0];
  EXPECT_NE(ui.warnings[0].find("Disk full?"), std::string::npos) << ui.warnings[0];
  EXPECT_EQ(ui.warnings[1].rfind("Copy: Transfer failed", 0), 0u) << ui.warnings[1];
  EXPECT_TRUE(NamesIn(small).empty());
  EXPECT_EQ(FindEntry(1, "toobig.bin"), nullptr);  // not listed as copied
  SetCurrentDirectoryA(s_files->path().c_str());
  umount2(small.c_str(), MNT_DETACH);
  fs::remove(small);
  unlink((Dir("vs") + "/toobig.bin").c_str());
}

TEST_F(Transfers, AServerDyingInMidFileLeavesNoPartialFile) {
  // A server of this test's own on 127.0.0.4, stopped during the copy.
  ServerDir work;
  auto server = std::make_unique<PeerServer>(PeerKind::kVsftpd, s_files->path(), work.path(), false, "127.0.0.4", true);
  ASSERT_TRUE(server->Error().empty()) << server->Error();
  ASSERT_TRUE(MakeSparse(Dir("vs") + "/dies.img"));
  ui.cancelAtBlock = [&](int block) {
    if (block == 200) server->Stop();
    return false;
  };

  // To a local directory: the local part is deleted.
  OpenRemote(0, "127.0.0.4", Dir("vs"));
  OpenLocal(1, Dir("local"));
  EXPECT_EQ(Copy(0, {"dies.img"}), 0);
  ASSERT_FALSE(ui.warnings.empty());
  EXPECT_EQ(ui.warnings.back().rfind("Copy: Transfer failed", 0), 0u) << ui.warnings.back();
  EXPECT_FALSE(fs::exists(Dir("local") + "/dies.img"));
  EXPECT_FALSE(fs::exists(Dir("local") + "/dies.img.part"));

  // Host to host: the target server's partial file is deleted.
  server = std::make_unique<PeerServer>(PeerKind::kVsftpd, s_files->path(), work.path(), false, "127.0.0.4", true);
  ASSERT_TRUE(server->Error().empty()) << server->Error();
  ui.warnings.clear();
  ui.blocks = 0;
  OpenRemote(0, "127.0.0.4", Dir("vs"));
  OpenRemote(1, kPureFtpd, Dir("pure"));
  EXPECT_EQ(Copy(0, {"dies.img"}), 0);
  ASSERT_FALSE(ui.warnings.empty());
  EXPECT_EQ(ui.warnings.back().rfind("Copy: Transfer failed", 0), 0u) << ui.warnings.back();
  EXPECT_FALSE(fs::exists(Dir("pure") + "/dies.img"));
  unlink((Dir("vs") + "/dies.img").c_str());
}

TEST_F(Transfers, CancelDeletesThePartialCopyAndKeepsTheOlderFile) {
  ASSERT_TRUE(MakeSparse(Dir("vs") + "/big.img"));
  ASSERT_TRUE(WriteFile(Dir("local") + "/big.img", "the older file"));
  g_Options.overwritePrompt = 1;
  ui.overwrite = 1;
  ui.cancelAtBlock = [](int block) { return block == 50; };
  OpenRemote(0, kVsftpd, Dir("vs"));
  OpenLocal(1, Dir("local"));
  EXPECT_EQ(Copy(0, {"big.img"}), 0);
  std::ifstream in(Dir("local") + "/big.img");
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "the older file");
  EXPECT_FALSE(fs::exists(Dir("local") + "/big.img.part"));
  ASSERT_FALSE(ui.warnings.empty());
  EXPECT_NE(ui.warnings.back().find("cancelled"), std::string::npos) << ui.warnings.back();
  unlink((Dir("vs") + "/big.img").c_str());
  unlink((Dir("local") + "/big.img").c_str());
}

TEST_F(Transfers, HostileNamesWriteNothingOutsideTheLocalDirectory) {
  // The server's directory holds "y" (which an injected DELE would remove);
  // its parent holds "x", which "../x" reaches on the server's side.
  ASSERT_TRUE(WriteFile(Dir("vs") + "/y", "must survive"));
  ASSERT_TRUE(WriteFile(s_files->path() + "/x", "outside"));
  const std::string local = Dir("local") + "/inner";
  fs::create_directory(local);
  const std::string lead = "-rw-r--r--    1 1000     1000            5 Jan 01 12:00 ";
  struct Line {
    std::string text;
    bool entry;
  } lines[] = {
      {lead + "x\rDELE y", true},             // a CR inside the name
      {lead + "../x", true},                  // up and out
      {lead + "/etc/x", true},                // absolute
      {lead + std::string(2000, 'n'), true},  // a name no command line holds
      {"-rw-r--r--    1 1000", false},        // fields missing
      {"-rw-r--r--", false},
  };
  OpenRemote(0, kVsftpd, Dir("vs"));
  OpenLocal(1, local);
  g_Panes[0].entries.clear();
  for (const Line &l : lines) {
    ENTRY_NODE e;
    ASSERT_EQ(ParseUnixLine(l.text, 1, &e), l.entry) << l.text.substr(0, 60);
    if (l.entry) g_Panes[0].entries.push_back(e);
  }
  g_Panes[0].entries.push_back({0, 0, std::string("x\r\nDELE y")});
  for (ENTRY_NODE &e : g_Panes[0].entries) e.flags |= kEntrySelected;
  ui.newName = [](const char *, const char *, std::string *) { return false; };
  EXPECT_EQ(CopySelection(1), 0);
  EXPECT_TRUE(NamesIn(local).empty());
  EXPECT_EQ(NamesIn(Dir("local")), std::vector<std::string>{"inner"});
  EXPECT_FALSE(fs::exists("/etc/x"));
  EXPECT_TRUE(fs::exists(Dir("vs") + "/y"));
  std::string shown;
  for (const std::string &w : ui.warnings) shown += w.substr(0, 80) + "\n";
  // "../x" reaches the server (its own business) but no local name takes it.
  EXPECT_NE(shown.find("Invalid: ../x"), std::string::npos) << shown;
  // Answering the question with a plain name writes it there, and only there.
  ui.newName = [](const char *, const char *, std::string *name) {
    *name = "renamed-x";
    return true;
  };
  g_Panes[0].entries = {{kEntrySelected, 0, "../x"}};
  EXPECT_EQ(CopySelection(1), 1);
  EXPECT_EQ(NamesIn(local), std::vector<std::string>{"renamed-x"});
  fs::remove_all(local);
  unlink((Dir("vs") + "/y").c_str());
  unlink((s_files->path() + "/x").c_str());
}

TEST_F(Transfers, LocalNamesAndOverwriteAll) {
  const std::string from = Dir("vs") + "/names", to = Dir("local") + "/names";
  fs::create_directories(from);
  fs::create_directories(to);
  GiveToFtpUser(from);
  for (const char *name : {"README.TXT;2", "a=b", "one", "two"}) ASSERT_TRUE(WriteFile(from + "/" + name, name));
  ASSERT_TRUE(WriteFile(to + "/one", "old"));
  ASSERT_TRUE(WriteFile(to + "/two", "old"));
  OpenRemote(0, kVsftpd, from);
  OpenLocal(1, to);
  // A VMS version is dropped; '=' asks for a new name.
  ui.newName = [](const char *dialog, const char *, std::string *name) {
    *name = "a-b";
    return strcmp(dialog, "Invalid") == 0;
  };
  EXPECT_EQ(Copy(0, {"README.TXT;2", "a=b"}), 2);
  EXPECT_EQ(NamesIn(to), (std::vector<std::string>{"README.TXT", "a-b", "one", "two"}));
  EXPECT_EQ(ui.warnings, std::vector<std::string>{"Invalid: a=b"});
  // "Overwrite All" answers for the rest of this copy only.
  g_Options.overwritePrompt = 1;
  ui.overwrite = 3;
  EXPECT_EQ(Copy(0, {"one", "two"}), 2);
  EXPECT_EQ(ui.overwriteAsked, 1);
  EXPECT_EQ(Copy(0, {"one"}), 1);
  EXPECT_EQ(ui.overwriteAsked, 2);
  ui.overwrite = 0;  // Cancel: the file is skipped quietly and kept
  ASSERT_TRUE(WriteFile(to + "/two", "mine"));
  EXPECT_EQ(Copy(0, {"two"}), 0);
  std::ifstream in(to + "/two");
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "mine");
  SetCurrentDirectoryA(s_files->path().c_str());
  fs::remove_all(from);
  fs::remove_all(to);
}

std::vector<std::string> Listed(int pane) {
  std::vector<std::string> names;
  for (const ENTRY_NODE &e : g_Panes[pane].entries)
    if (e.name != "." && e.name != "..") names.push_back(e.name + ((e.flags & kEntryDirectory) ? "/" : ""));
  return names;
}

TEST_F(Transfers, DeleteRenameAndMakeDirectoryLocallyAndRemotely) {
  for (int remote = 0; remote < 2; ++remote) {
    SCOPED_TRACE(remote ? "remote (pure-ftpd)" : "local");
    const std::string dir = Dir(remote ? "pure" : "local") + "/commands";
    fs::create_directory(dir);
    GiveToFtpUser(dir);
    for (const char *name : {"a", "b", "c"}) ASSERT_TRUE(WriteFile(dir + "/" + name, name));
    fs::create_directory(dir + "/empty");
    GiveToFtpUser(dir + "/empty");
    if (remote)
      OpenRemote(0, kPureFtpd, dir);
    else
      OpenLocal(0, dir);
    ui.warnings.clear();

    // Mkdir in the active pane, then re-listed.
    g_ActivePane = 0;
    ui.typedName = "made";
    EXPECT_TRUE(MakeDirCommand());
    EXPECT_TRUE(fs::is_directory(dir + "/made"));
    EXPECT_EQ(Listed(0), (std::vector<std::string>{"empty/", "made/", "a", "b", "c"}));
    ui.typedName = "made";  // exists already
    EXPECT_FALSE(MakeDirCommand());
    ASSERT_FALSE(ui.warnings.empty());
    EXPECT_EQ(ui.warnings.back().rfind("Mkdir: Error creating directory made.", 0), 0u) << ui.warnings.back();

    // Rename: the entry keeps its place and loses its mark; a name with a
    // path in it is refused locally.
    Select(0, {"a"});
    ui.typedName = "a2";
    EXPECT_EQ(RenameSelection(), 1);
    EXPECT_TRUE(fs::exists(dir + "/a2"));
    EXPECT_EQ(Listed(0), (std::vector<std::string>{"empty/", "made/", "a2", "b", "c"}));
    EXPECT_FALSE(PaneHasSelection(0));
    if (!remote) {
      Select(0, {"b"});
      ui.typedName = "../b";
      EXPECT_EQ(RenameSelection(), 0);
      EXPECT_EQ(ui.warnings.back().rfind("Rename: Error renaming file b to ../b in directory", 0), 0u);
      EXPECT_FALSE(fs::exists(Dir("local") + "/b"));
      ClearSelection(0);
    }

    // Delete with the prompt, in list order: the empty directory, then
    // skip "a2", then "All" for "b" and "c".
    g_Options.deletePrompt = 1;
    Select(0, {"a2", "b", "c", "empty"});
    ui.deleteAnswers = {1, 0, 2};
    EXPECT_EQ(DeleteSelection(), 3);
    EXPECT_EQ(NamesIn(dir), (std::vector<std::string>{"a2", "made"}));
    EXPECT_EQ(Listed(0), (std::vector<std::string>{"made/", "a2"}));
    EXPECT_EQ(g_SelectionTotal, 0u);
    fs::remove_all(dir);
  }
}

TEST_F(Transfers, RawCommands) {
  std::string reply;
  OpenLocal(0, Dir("local"));
  OpenLocal(1, Dir("local"));
  EXPECT_EQ(SendRawCommand("NOOP", &reply), -1);
  EXPECT_EQ(ui.warnings.back(), "Ftp: There is no remote system to which to send an FTP command");

  fs::create_directory(Dir("vs") + "/pub");
  ASSERT_TRUE(WriteFile(Dir("vs") + "/pub/inside", "x"));
  OpenRemote(1, kVsftpd, Dir("vs"));
  g_ActivePane = 0;  // local: the command goes to the other pane
  EXPECT_EQ(SendRawCommand("  quit", &reply), -1);
  EXPECT_EQ(ui.warnings.back(), "Ftp: Please use the Close menu item to end a session");
  EXPECT_EQ(SendRawCommand("cwd pub", &reply), 2);  // sent as "CWD pub", then re-listed
  EXPECT_EQ(std::string(g_Panes[1].path), std::string(kVsftpd) + ":" + Dir("vs") + "/pub");
  EXPECT_EQ(Listed(1), std::vector<std::string>{"inside"});
  EXPECT_EQ(SendRawCommand("   ", &reply), 0);  // nothing to send
  // A transfer command without a data port: the preliminary and the final
  // reply are both read, so the next command's reply is its own.
  SendRawCommand("list", &reply);
  EXPECT_EQ(SendRawCommand("pwd", &reply), 2);
  EXPECT_NE(reply.find("/pub"), std::string::npos) << reply;
  fs::remove_all(Dir("vs") + "/pub");
}

}  // namespace
