// MOUNT over a real export table and directory tree: MNT, DUMP, UMNT, UMNTALL
// and EXPORT, with arguments encoded and replies decoded by libnfs's XDR codec
// (an implementation independent of ours), and the mount log.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <nfsc/libnfs-raw-mount.h>
#include <nfsc/libnfs-zdr.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "exports.h"
#include "handles.h"
#include "mount.h"
#include "nfs_test_env.h"
#include "rpc.h"
#include "rpc_call_builder.h"
#include "settings.h"

using nfstest::Machine;
using rpctest::CallBuilder;
using rpctest::Word;

namespace {

const Machine &g_machine = nfstest::TheMachine();
std::vector<std::string> g_replies;

void Capture(RpcSocket, const RpcPeer &, const uint8_t *bytes, size_t length) {
  g_replies.emplace_back(reinterpret_cast<const char *>(bytes), length);
}

RpcPeer From(const char *dotted) { return RpcPeer{inet_addr(dotted), htons(800)}; }

std::string EncodeDirPath(const std::string &path) {
  char buffer[2048];
  ZDR zdr;
  libnfs_zdrmem_create(&zdr, buffer, sizeof buffer, ZDR_ENCODE);
  char *p = const_cast<char *>(path.c_str());
  EXPECT_TRUE(zdr_dirpath(&zdr, &p));
  std::string bytes(buffer, zdr_getpos(&zdr));
  zdr_destroy(&zdr);
  return bytes;
}

// The decoded export list as "dir group group ...". libnfs's decoder places
// nodes at 4-byte boundaries only, so they are copied out before use.
std::vector<std::string> ExportLines(exports list) {
  std::vector<std::string> lines;
  for (exportnode *at = list; at;) {
    exportnode e;
    memcpy(&e, at, sizeof e);
    std::string line = e.ex_dir;
    for (groupnode *gat = e.ex_groups; gat;) {
      groupnode g;
      memcpy(&g, gat, sizeof g);
      line += std::string(" ") + g.gr_name;
      gat = g.gr_next;
    }
    lines.push_back(line);
    at = e.ex_next;
  }
  return lines;
}

// "Mar 14 09:05:00 1996": ctime's text without the weekday and the newline.
bool IsLogStamp(const std::string &s) {
  const char *shape = "Aaa _9 99:99:99 9999";
  if (s.size() != strlen(shape)) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i], want = shape[i];
    bool ok = want == 'A'   ? isupper(c)
              : want == 'a' ? islower(c)
              : want == '9' ? isdigit(c)
              : want == '_' ? (c == ' ' || isdigit(c))
                            : c == want;
    if (!ok) return false;
  }
  return true;
}

class Mount : public ::testing::Test {
 protected:
  uint32_t xid_ = 100;

  void SetUp() override {
    nfstest::SetInstallationDirectory("D:\\qxnfs");
    std::filesystem::remove(g_machine.DriveD() + "/qxnfs/QXSTATE.SAV");
    ASSERT_EQ(LoadStateFile(), 1);
    std::string ex = g_machine.DriveD() + "/ex";
    std::filesystem::remove_all(ex);
    for (const char *d : {"pub/sub", "ro", "only", "other"}) std::filesystem::create_directories(ex + "/" + d);
    std::filesystem::create_directories(g_machine.DriveD() + "/cfg");
    ASSERT_TRUE(SetCurrentDirectoryA("D:\\cfg"));
    Machine::Write(g_machine.DriveD() + "/cfg/exports",
                   "d:\\ex\\pub\n"
                   "/d/ex/ro -ro\n"
                   "D:\\ex\\only 127.0.0.9, 127.0.0.8\n"
                   "lpt1:\n"
                   "d:\\ex\\pub\\sub -access=[127.0.0.7]:beta[127.0.0.6]\n");
    ASSERT_EQ(ReadExportsFile(), 0);
    ResetRpcState();
    SetRpcSender(Capture);
    SetProgramHandler(kMountProgram, MountHandler);
    SetMountLogFile("");
    g_replies.clear();
  }

  // One MOUNT call from `from` with AUTH_UNIX credentials; the reply body, or
  // "none". The accept status must be `accept`.
  std::string Call(uint32_t procedure, const std::string &args = "", const char *from = "127.0.0.1",
                   const std::string &machine = "pc1", uint32_t version = 1, uint32_t accept = RPC_SUCCESS) {
    std::string datagram = CallBuilder::Call(++xid_, kMountProgram, version, procedure).AuthUnix(machine, 0, 0).bytes;
    datagram += args;
    g_replies.clear();
    RpcDispatch(reinterpret_cast<const uint8_t *>(datagram.data()), datagram.size(), From(from));
    if (g_replies.size() != 1) return "none";
    EXPECT_EQ(Word(g_replies[0], 0), xid_);
    EXPECT_EQ(Word(g_replies[0], 20), accept);
    return g_replies[0].substr(24);
  }

  // MNT through libnfs's codec: the status, and the handle when granted.
  int Mnt(const std::string &path, NFS_FHANDLE *handle = nullptr, const char *from = "127.0.0.1") {
    std::string body = Call(1, EncodeDirPath(path), from);
    ZDR zdr;
    libnfs_zdrmem_create(&zdr, body.data(), body.size(), ZDR_DECODE);
    mountres1 res{};
    bool decoded = zdr_mountres1(&zdr, &res);
    EXPECT_TRUE(decoded) << path;
    EXPECT_EQ(zdr_getpos(&zdr), body.size()) << path;  // nothing left over
    if (decoded && res.fhs_status == MNT1_OK && handle)
      memcpy(handle->data, res.mountres1_u.mountinfo.fhandle, kHandleSize);
    zdr_destroy(&zdr);
    return decoded ? int(res.fhs_status) : -1;
  }
};

TEST_F(Mount, MntGrantsRefusesAndReportsMissing) {
  struct Case {
    const char *path;
    const char *from;
    int status;
    bool read_only;
  } cases[] = {
      {"/d/ex/pub", "127.0.0.1", MNT1_OK, false},
      {"d:\\ex\\pub\\sub", "127.0.0.1", MNT1_OK, false},  // below an export
      {"/d/ex/ro", "127.0.0.1", MNT1_OK, true},
      {"/D/EX/RO", "127.0.0.1", MNT1_OK, true},
      {"/d/ex/only", "127.0.0.1", MNT1ERR_ACCES, false},
      {"/d/ex/only", "127.0.0.9", MNT1_OK, false},
      {"/d/ex/other", "127.0.0.1", MNT1ERR_NOENT, false},    // exists, not exported
      {"/d/ex/missing", "127.0.0.1", MNT1ERR_NOENT, false},  // does not exist
      {"/d/ex/pub/..", "127.0.0.1", MNT1ERR_NOENT, false},   // never the export's parent
      {"/d/ex/pub/../other", "127.0.0.1", MNT1ERR_NOENT, false},
      {"lpt1:", "127.0.0.1", MNT1ERR_NOENT, false},  // printers are for PCNFSD
      {"", "127.0.0.1", MNT1ERR_NOENT, false},
  };
  for (const Case &c : cases) {
    NFS_FHANDLE handle{};
    ASSERT_EQ(Mnt(c.path, &handle, c.from), c.status) << c.path << " from " << c.from;
    if (c.status != MNT1_OK) continue;
    NFS_FHANDLE expected{};
    ASSERT_EQ(PathToHandle(c.path, expected), NFS_OK) << c.path;
    SetHandleReadOnly(expected, c.read_only);
    EXPECT_EQ(memcmp(handle.data, expected.data, kHandleSize), 0) << c.path;
    EXPECT_STREQ(HandleToPath(handle), HandleToPath(expected));
  }
  EXPECT_EQ(REQUEST_COUNTERS[kCountMount], std::size(cases));
}

TEST_F(Mount, ExportListDecodes) {
  std::string body = Call(5);
  ZDR zdr;
  libnfs_zdrmem_create(&zdr, body.data(), body.size(), ZDR_DECODE);
  exports list = nullptr;
  ASSERT_TRUE(zdr_exports(&zdr, &list));
  EXPECT_EQ(zdr_getpos(&zdr), body.size());
  std::vector<std::string> seen = ExportLines(list);
  zdr_destroy(&zdr);
  // A host written as a bare address is listed by that address.
  std::vector<std::string> expected = {"/d/ex/pub", "/d/ex/ro", "/D/ex/only 127.0.0.8 127.0.0.9",
                                       "LPT1:", "/d/ex/pub/sub beta 127.0.0.7"};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(Call(6), body);  // EXPORTALL answers the same
  EXPECT_EQ(REQUEST_COUNTERS[kCountExport], 2u);
}

TEST_F(Mount, DumpUnmountAndTheRest) {
  std::string dump = Call(2);
  ZDR zdr;
  libnfs_zdrmem_create(&zdr, dump.data(), dump.size(), ZDR_DECODE);
  mountlist mounts = reinterpret_cast<mountlist>(1);
  ASSERT_TRUE(zdr_mountlist(&zdr, &mounts));
  EXPECT_EQ(mounts, nullptr);  // no mounts are recorded
  zdr_destroy(&zdr);

  EXPECT_EQ(Call(3, EncodeDirPath("/d/ex/pub")), "");
  EXPECT_EQ(Call(4), "");
  EXPECT_EQ(Call(0), "");
  EXPECT_EQ(REQUEST_COUNTERS[kCountDump], 1u);
  EXPECT_EQ(REQUEST_COUNTERS[kCountUnmount], 1u);
  EXPECT_EQ(REQUEST_COUNTERS[kCountUnmountAll], 1u);
  EXPECT_EQ(REQUEST_COUNTERS[kCountNull], 1u);

  EXPECT_EQ(Call(7), "none");  // past the protocol
  EXPECT_EQ(Call(0, "", "127.0.0.1", "pc1", 2, RPC_PROG_MISMATCH), std::string("\0\0\0\1\0\0\0\1", 8));
  // A path over 1024 bytes, or one cut short, is not a dirpath.
  EXPECT_EQ(Call(1, CallBuilder().Opaque(std::string(1025, 'a')).bytes, "127.0.0.1", "pc1", 1, RPC_GARBAGE_ARGS), "");
  EXPECT_EQ(Call(1, CallBuilder().Long(12).Raw("/d/e").bytes, "127.0.0.1", "pc1", 1, RPC_GARBAGE_ARGS), "");
  EXPECT_EQ(Call(3, "", "127.0.0.1", "pc1", 1, RPC_GARBAGE_ARGS), "");
  EXPECT_EQ(REQUEST_COUNTERS[kCountMount], 0u);
}

TEST_F(Mount, LogLines) {
  std::string log = g_machine.DriveD() + "/mount.log";
  std::filesystem::remove(log);
  SetMountLogFile("D:\\mount.log");
  Call(1, EncodeDirPath("/d/ex/pub"), "127.1.2.3", "pc1");
  Call(1, EncodeDirPath("/d/ex/only"), "10.200.0.255", "evil\nMar 1 00:00:00 2000 - Mount");
  Call(3, EncodeDirPath("/d/ex/pub"), "127.1.2.3", "pc1");
  Call(4);  // not logged
  std::string text = Machine::Read(log);
  const char *expected[] = {
      " - Mount \"/d/ex/pub\" from \"pc1\" (127.1.2.3) success.",
      " - Mount \"/d/ex/only\" from \"evil\\x0aMar 1 00:00:00 2000 - Mount\" (10.200.0.255) access denied.",
      " - Unmount \"/d/ex/pub\" from \"pc1\" (127.1.2.3)",
  };
  std::istringstream lines(text);
  std::string line;
  size_t n = 0;
  for (; std::getline(lines, line); ++n) {
    ASSERT_LT(n, std::size(expected)) << text;
    EXPECT_TRUE(IsLogStamp(line.substr(0, 20))) << line;
    EXPECT_EQ(line.substr(20), expected[n]);
  }
  EXPECT_EQ(n, std::size(expected)) << text;
  EXPECT_EQ(text.back(), '\n');
  SetMountLogFile("");
}

TEST(ExportList, NamesAsTheClientSeesThem) {
  struct Case {
    const char *path, *printer, *name;
  } cases[] = {
      {"C:\\users\\joe", "", "/C/users/joe"},
      {"/C/users/joe", "", "/C/users/joe"},
      {"C:\\", "", "/C"},
      {"c:/a//b/", "", "/c/a/b"},
      {"c:", "", "/c"},
      {"lpt1:", "LPT1:", "LPT1:"},
  };
  for (const Case &c : cases) EXPECT_EQ(ExportListName(c.path, c.printer), c.name) << c.path;
}

// A table whose list does not fit one reply ends after the last whole export.
TEST(ExportList, LongTableEndsWellFormed) {
  std::vector<EXPORT_ENTRY> saved = g_Exports;
  g_Exports.clear();
  for (int i = 0; i < 400; ++i) {
    EXPORT_ENTRY e;
    e.path = "c:\\" + std::string(40, char('a' + i % 26)) + std::to_string(i);
    e.flags = 0;
    EXPORT_HOST h;
    h.name = "host" + std::to_string(i);
    e.hosts.push_back(h);
    g_Exports.push_back(e);
  }
  std::vector<uint8_t> body(kMaxReplyBody + 64, 0xEE);
  size_t length = ExportListReply(body.data(), kMaxReplyBody);
  EXPECT_LE(length, kMaxReplyBody);
  EXPECT_EQ(body[kMaxReplyBody], 0xEE);
  ZDR zdr;
  libnfs_zdrmem_create(&zdr, reinterpret_cast<char *>(body.data()), uint32_t(length), ZDR_DECODE);
  exports list = nullptr;
  ASSERT_TRUE(zdr_exports(&zdr, &list));
  EXPECT_EQ(zdr_getpos(&zdr), length);
  size_t count = ExportLines(list).size();
  EXPECT_GT(count, 50u);
  EXPECT_LT(count, 400u);
  zdr_destroy(&zdr);
  g_Exports = saved;
}

}  // namespace

namespace {

TEST(Switches, CommandLineOfTheServer) {
  struct Case {
    const char *line;
    SwitchResult result;
    uint32_t transfer;
    int holes;
    const char *log;
  } cases[] = {
      {"", kSwitchesOk, 4096, 0, ""},
      {"  /t:512 ", kSwitchesOk, 512, 0, ""},
      {"/T:8196", kSwitchesOk, 8196, 0, ""},
      {"/t:511", kBadTransferSize, 4096, 0, ""},
      {"/t:8197", kBadTransferSize, 4096, 0, ""},
      {"/t:many", kBadTransferSize, 4096, 0, ""},
      {"/t:-1", kBadTransferSize, 4096, 0, ""},
      {"/h /H words are ignored", kSwitchesOk, 4096, 2, ""},
      {"/L:c:\\mount.log", kSwitchesOk, 4096, 0, "c:\\mount.log"},
      {"/x", kBadSwitch, 4096, 0, ""},
      {"/t", kBadSwitch, 4096, 0, ""},
      {"/l", kBadSwitch, 4096, 0, ""},
      {"/", kBadSwitch, 4096, 0, ""},
  };
  for (const Case &c : cases) {
    ServerSettings s;
    EXPECT_EQ(ParseServerSwitches(c.line, s), c.result) << c.line;
    EXPECT_EQ(s.transfer_size, c.transfer) << c.line;
    EXPECT_EQ(s.holes, c.holes) << c.line;
    EXPECT_EQ(s.log_file, c.log) << c.line;
    EXPECT_EQ(s.log, *c.log != '\0') << c.line;
  }
}

}  // namespace
