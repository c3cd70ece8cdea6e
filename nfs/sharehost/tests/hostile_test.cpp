// Damaged and hostile calls to every procedure the server answers on its NFS
// socket (NFS version 2, MOUNT, the lock manager, PCNFSD), in this process over
// a real export tree: well-formed calls made from real handles, then the same
// calls with their arguments cut short, words set to edge values and bytes
// flipped, many thousands in a fixed pseudo-random order. The server code runs
// under AddressSanitizer here; the checks are what a client or the machine
// would suffer:
// - every call gets at most one reply, which lies within the reply buffer and
//   answers the call's xid;
// - nothing outside the read-write export changes: not the read-only export,
//   not the unexported directory beside them, not the configuration;
// - no reply carries the bytes of a file outside the exports;
// - a caller without rights (nobody) changes nothing at all;
// - the server still answers a plain call correctly afterwards.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "exports.h"
#include "handles.h"
#include "mount.h"
#include "nfs_test_env.h"
#include "nfsprocs.h"
#include "nlm.h"
#include "pcnfsd.h"
#include "rpc.h"
#include "rpc_call_builder.h"

using nfstest::Machine;
using rpctest::CallBuilder;
using rpctest::Word;

namespace {

const Machine &g_machine = nfstest::TheMachine();
std::vector<std::string> g_replies;
const std::string kSecret = "SECRET-BYTES-OUTSIDE-EVERY-EXPORT";

void Capture(RpcSocket, const RpcPeer &, const uint8_t *bytes, size_t length) {
  g_replies.emplace_back(reinterpret_cast<const char *>(bytes), length);
}

// Every file and directory below `root` with its size, mode bits, owner and
// change time (the state the hostile calls must leave alone).
std::map<std::string, std::string> Snapshot(const std::string &root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    struct stat st {};
    lstat(it->path().c_str(), &st);
    files[it->path().string()] = std::to_string(st.st_size) + " " + std::to_string(st.st_mode) + " " +
                                 std::to_string(st.st_uid) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                                 std::to_string(st.st_mtim.tv_nsec);
  }
  return files;
}

struct Seed {
  uint32_t program, version, procedure;
  std::string args;
};

std::string Damage(std::string args, std::mt19937 &random);

class Hostile : public ::testing::Test {
 protected:
  uint32_t xid_ = 1000;
  int32_t caller_ = 0;  // the AUTH_UNIX uid and gid of the calls
  std::string ex_ = g_machine.DriveD() + "/ex";

  void SetUp() override {
    nfstest::SetInstallationDirectory("D:\\qxnfs");
    std::filesystem::remove(g_machine.DriveD() + "/qxnfs/QXSTATE.SAV");
    ASSERT_EQ(LoadStateFile(), 1);
    std::filesystem::remove_all(ex_);
    for (const char *d : {"pub/dir", "ro", "other", "spool"}) std::filesystem::create_directories(ex_ + "/" + d);
    Machine::Write(ex_ + "/pub/file", "some text of the exported file\n");
    Machine::Write(ex_ + "/ro/keep", "kept as it is\n");
    Machine::Write(ex_ + "/other/secret", kSecret);
    Machine::Write(ex_ + "/spool/job", "a print job\n");
    std::filesystem::create_directories(g_machine.DriveD() + "/cfg");
    ASSERT_TRUE(SetCurrentDirectoryA("D:\\cfg"));
    // The caller stays root on the read-write export, so that damaged calls
    // reach as far into the procedures as a trusted host's can.
    Machine::Write(g_machine.DriveD() + "/cfg/exports",
                   "d:\\ex\\pub -root=127.0.0.1\n"
                   "/d/ex/ro -ro,root=127.0.0.1\n"
                   "lpt1:\n");
    ASSERT_EQ(ReadExportsFile(), 0);
    ResetRpcState();
    SetRpcSender(Capture);
    SetProgramHandler(kMountProgram, MountHandler);
    SetProgramHandler(kNfsProgram, NfsHandler);
    SetProgramHandler(kNlmProgram, NlmHandler);
    SetProgramHandler(kPcnfsdProgram, PcnfsdHandler);
    SetPcnfsdSpoolDirectory("D:\\ex\\spool");
    SetPcnfsdReporter([](const std::string &) {});
    SetMountLogFile("");
  }
  void TearDown() override { FreeAllLockNodes(); }

  std::string Datagram(const Seed &seed) {
    return CallBuilder::Call(++xid_, seed.program, seed.version, seed.procedure)
               .AuthUnix("pc1", caller_, caller_)
               .bytes +
           seed.args;
  }

  // One datagram; the replies it drew, each checked for its bounds and xid.
  std::vector<std::string> Send(const std::string &datagram) {
    g_replies.clear();
    RpcDispatch(reinterpret_cast<const uint8_t *>(datagram.data()), datagram.size(),
                RpcPeer{inet_addr("127.0.0.1"), htons(800)});
    EXPECT_LE(g_replies.size(), 1u);
    for (const std::string &reply : g_replies) {
      EXPECT_GE(reply.size(), kReplyHeaderSize);
      EXPECT_LE(reply.size(), kReplyBufferSize);
      EXPECT_EQ(Word(reply, 0), Word(datagram, 0));
      EXPECT_EQ(reply.find(kSecret), std::string::npos) << "a reply carried a file outside the exports";
    }
    return g_replies;
  }

  // A handle from a reply: MNT's, or LOOKUP's (status word first).
  std::string HandleOf(const std::string &reply) {
    EXPECT_GE(reply.size(), kReplyHeaderSize + 4 + kHandleSize);
    EXPECT_EQ(Word(reply, kReplyHeaderSize), 0u);
    return reply.substr(kReplyHeaderSize + 4, kHandleSize);
  }
  std::string Mount(const std::string &path) {
    const auto replies = Send(Datagram({kMountProgram, 1, 1, CallBuilder().Opaque(path).bytes}));
    return replies.empty() ? std::string(kHandleSize, '\0') : HandleOf(replies[0]);
  }
  std::string Lookup(const std::string &dir, const std::string &name) {
    const auto replies = Send(Datagram({kNfsProgram, 2, NFSPROC_LOOKUP, CallBuilder().Raw(dir).Opaque(name).bytes}));
    return replies.empty() ? std::string(kHandleSize, '\0') : HandleOf(replies[0]);
  }

  // The seeds as they are, then damaged copies of them, round after round.
  // QX_HOSTILE_ROUNDS and QX_HOSTILE_SEED in the environment make a longer hunt.
  void Barrage(const std::vector<Seed> &seeds) {
    const char *rounds_text = getenv("QX_HOSTILE_ROUNDS"), *seed_text = getenv("QX_HOSTILE_SEED");
    const int rounds = rounds_text ? atoi(rounds_text) : 200;
    std::mt19937 random(seed_text ? uint32_t(strtoul(seed_text, nullptr, 10)) : 20261211u);
    for (const Seed &seed : seeds) Send(Datagram(seed));
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
      for (const Seed &seed : seeds) {
        Seed damaged = seed;
        damaged.args = Damage(seed.args, random);
        Send(Datagram(damaged));
      }
    }
  }

  // Still serving: the export mounts and its root answers GETATTR.
  void ExpectServing() {
    const std::string pub = Mount("/d/ex/pub");
    const auto replies = Send(Datagram({kNfsProgram, 2, NFSPROC_GETATTR, CallBuilder().Raw(pub).bytes}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(Word(replies[0], kReplyHeaderSize), 0u);
  }

  // Well-formed calls of every procedure, on handles of both exports.
  std::vector<Seed> Seeds() {
    const std::string pub = Mount("/d/ex/pub"), ro = Mount("/d/ex/ro");
    const std::string file = Lookup(pub, "file"), dir = Lookup(pub, "dir"), keep = Lookup(ro, "keep");
    const auto sattr = [] { return CallBuilder().Long(0644).Long(0).Long(0).Long(5).Long(1).Long(2).Long(3).Long(4); };
    const auto lock = [](const std::string &fh) {
      return CallBuilder().Opaque("pc1").Opaque(fh).Opaque("owner").Long(7).Long(0).Long(10);
    };
    std::vector<Seed> seeds = {
        {kMountProgram, 1, 1, CallBuilder().Opaque("/d/ex/pub").bytes},
        {kMountProgram, 1, 2, ""},
        {kMountProgram, 1, 3, CallBuilder().Opaque("/d/ex/pub").bytes},
        {kMountProgram, 1, 4, ""},
        {kMountProgram, 1, 5, ""},
        {kPcnfsdProgram, 1, PCNFSD_PR_INIT, CallBuilder().Opaque("pc1").Opaque("lpt1:").bytes},
        {kPcnfsdProgram, 1, PCNFSD_PR_START,
         CallBuilder().Opaque("pc1").Opaque("lpt1:").Opaque("joe").Opaque("nosuchjob").Opaque("").bytes},
        {kNlmProgram, 3, NLM_TEST, CallBuilder().Opaque("c1").Long(1).Raw(lock(file).bytes).bytes},
        {kNlmProgram, 3, NLM_NM_LOCK,
         CallBuilder().Opaque("c2").Long(0).Long(1).Raw(lock(file).bytes).Long(0).Long(0).bytes},
        {kNlmProgram, 3, NLM_UNLOCK, CallBuilder().Opaque("c3").Raw(lock(file).bytes).bytes},
        {kNlmProgram, 3, NLM_SHARE,
         CallBuilder().Opaque("c4").Opaque("pc1").Opaque(file).Opaque("owner").Long(1).Long(3).Long(0).bytes},
        {kNlmProgram, 3, NLM_UNSHARE,
         CallBuilder().Opaque("c5").Opaque("pc1").Opaque(file).Opaque("owner").Long(1).Long(3).Long(0).bytes},
        {kNlmProgram, 3, NLM_FREE_ALL, CallBuilder().Opaque("pc1").Long(0).bytes},
    };
    // Links that lead out of the export: whatever is done through them must
    // stay inside it.
    const std::string host_other = ex_ + "/other";
    for (const auto &[name, target] : {std::pair{"updir", "../other"}, std::pair{"upfile", "../other/secret"},
                                       std::pair{"abs", host_other.c_str()}}) {
      Send(Datagram({kNfsProgram, 2, NFSPROC_SYMLINK,
                     CallBuilder().Raw(pub).Opaque(name).Opaque(target).Raw(sattr().bytes).bytes}));
    }
    const std::string updir = Lookup(pub, "updir"), upfile = Lookup(pub, "upfile"), abs = Lookup(pub, "abs");
    for (const std::string &fh : {file, dir, pub, keep, ro, updir, upfile, abs}) {
      const auto nfs = [&](uint32_t procedure, const CallBuilder &args) {
        seeds.push_back({kNfsProgram, 2, procedure, args.bytes});
      };
      nfs(NFSPROC_GETATTR, CallBuilder().Raw(fh));
      nfs(NFSPROC_SETATTR, CallBuilder().Raw(fh).Raw(sattr().bytes));
      nfs(NFSPROC_LOOKUP, CallBuilder().Raw(fh).Opaque("file"));
      nfs(NFSPROC_READLINK, CallBuilder().Raw(fh));
      nfs(NFSPROC_READ, CallBuilder().Raw(fh).Long(0).Long(8192).Long(0));
      nfs(NFSPROC_WRITE, CallBuilder().Raw(fh).Long(0).Long(3).Long(0).Opaque("written"));
      nfs(NFSPROC_CREATE, CallBuilder().Raw(fh).Opaque("made").Raw(sattr().bytes));
      nfs(NFSPROC_REMOVE, CallBuilder().Raw(fh).Opaque("made"));
      nfs(NFSPROC_RENAME, CallBuilder().Raw(fh).Opaque("file").Raw(dir).Opaque("moved"));
      nfs(NFSPROC_LINK, CallBuilder().Raw(fh).Raw(dir).Opaque("linked"));
      nfs(NFSPROC_SYMLINK, CallBuilder().Raw(fh).Opaque("up").Opaque("../../other/secret").Raw(sattr().bytes));
      nfs(NFSPROC_MKDIR, CallBuilder().Raw(fh).Opaque("sub").Raw(sattr().bytes));
      nfs(NFSPROC_RMDIR, CallBuilder().Raw(fh).Opaque("sub"));
      nfs(NFSPROC_READDIR, CallBuilder().Raw(fh).Long(0).Long(4096));
      nfs(NFSPROC_STATFS, CallBuilder().Raw(fh));
      nfs(NFSPROC_LOOKUP, CallBuilder().Raw(fh).Opaque("up"));
    }
    return seeds;
  }
};

// A damaged copy of a call's arguments: cut short, words set to edge values,
// bytes flipped, or several of these.
std::string Damage(std::string args, std::mt19937 &random) {
  static const uint32_t kEdges[] = {0,   1,    2,    3,          4,          31,         32,         33,        255,
                                    256, 8192, 8193, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFC, 0xFFFFFFFE, 0xFFFFFFFF};
  const int changes = 1 + int(random() % 3);
  for (int i = 0; i < changes && !args.empty(); ++i) {
    switch (random() % 4) {
      case 0: args.resize(random() % args.size()); break;
      case 1:
      case 2: {
        const size_t word = (random() % ((args.size() + 3) / 4)) * 4;
        const uint32_t v = kEdges[random() % std::size(kEdges)];
        for (int b = 0; b < 4 && word + b < args.size(); ++b) args[word + b] = char(v >> (24 - 8 * b));
        break;
      }
      default: args[random() % args.size()] ^= char(1 + random() % 255); break;
    }
  }
  return args;
}

TEST_F(Hostile, DamagedCallsOfEveryProcedureHarmNothingOutsideTheExport) {
  const std::vector<Seed> seeds = Seeds();
  ASSERT_GT(seeds.size(), 60u);
  const auto outside = [&] {
    auto files = Snapshot(ex_ + "/ro");
    files.merge(Snapshot(ex_ + "/other"));
    files.merge(Snapshot(g_machine.DriveD() + "/cfg"));
    return files;
  };
  const auto before = outside();
  Barrage(seeds);
  EXPECT_EQ(outside(), before);
  ExpectServing();
}

// A caller of no rights (nobody) on an export whose files are root's and
// open to reading only: the same calls, damaged the same ways, change nothing
// at all, inside the export or out.
TEST_F(Hostile, DamagedCallsOfACallerWithoutRightsChangeNothing) {
  // The machine's folder is made private; nobody must reach the export to be tried.
  std::filesystem::permissions(g_machine.root, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                   std::filesystem::perms::group_exec |
                                                   std::filesystem::perms::others_read |
                                                   std::filesystem::perms::others_exec);
  const std::vector<Seed> seeds = Seeds();
  const auto everything = [&] { return Snapshot(ex_); };
  const auto before = everything();
  caller_ = 65534;
  Barrage(seeds);
  caller_ = 0;
  EXPECT_EQ(everything(), before);
  ExpectServing();
}

}  // namespace
