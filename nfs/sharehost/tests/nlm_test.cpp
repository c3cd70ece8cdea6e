// The lock manager of the running service, called over UDP from two client
// addresses (127.0.0.2 and 127.0.0.3) in the test's own network namespace:
// byte-range locks and shares refused between clients, seen by local
// programs' fcntl locks and honoured by NFS READ and WRITE; the monitored
// procedures answered denied; every reply dissected by tshark.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "nfs_client.h"
#include "qxtest/automation.h"
#include "rpc_call_builder.h"
#include "service_harness.h"

using nfstest::Handle;
using nfstest::NfsClient;
using rpctest::CallBuilder;
using rpctest::Word;

namespace {

constexpr uint32_t kUser = 65534, kGroup = 65534;
constexpr uint32_t kNlm = 100021;
constexpr uint32_t GRANTED = 0, DENIED = 1;
constexpr uint32_t NFS_OK = 0, ACCES = 13;

// What a reply says after its cookie, which must be the call's.
struct NlmReply {
  bool answered = false;
  std::string cookie;
  std::string rest;
  uint32_t Status() const { return Word(rest, 0); }
};

NlmReply Parse(const std::string &body) {
  NlmReply r;
  uint32_t length = Word(body, 0);
  if (body.size() < 4 || length > body.size() - 4) return r;
  r.answered = true;
  r.cookie = body.substr(4, length);
  r.rest = body.substr(4 + ((length + 3) & ~3u));
  return r;
}

// One lock-manager client: an address and an owner handle (a process of that client).
class NlmClient {
 public:
  NlmClient(const char *address, std::string owner) : rpc_(kUser, kGroup), owner_(std::move(owner)) {
    EXPECT_TRUE(rpc_.BindTo(address)) << address;
    rpc_.SetPatience(3, 1500);
  }
  NfsClient &nfs() { return rpc_; }

  std::string Lock(const Handle &h, uint32_t offset, uint32_t length) const {
    return CallBuilder().Opaque("pc1").Opaque(h).Opaque(owner_).Long(7).Long(offset).Long(length).bytes;
  }
  std::string Share(const Handle &h, uint32_t mode, uint32_t access) const {
    return CallBuilder().Opaque("pc1").Opaque(h).Opaque(owner_).Long(mode).Long(access).bytes;
  }

  NlmReply Call(uint32_t procedure, const std::string &args, uint32_t version = 3) {
    std::string cookie = "ck" + std::to_string(++calls_);
    NlmReply r = Parse(rpc_.Call(kNlm, version, procedure, CallBuilder().Opaque(cookie).bytes + args));
    EXPECT_TRUE(r.answered) << "no reply to procedure " << procedure;
    EXPECT_EQ(r.cookie, cookie) << "procedure " << procedure << " does not echo the cookie";
    return r;
  }
  uint32_t NmLock(const Handle &h, uint32_t offset, uint32_t length) {
    return Call(22, CallBuilder().Long(0).Long(1).bytes + Lock(h, offset, length) + CallBuilder().Long(0).Long(0).bytes)
        .Status();
  }
  uint32_t Unlock(const Handle &h, uint32_t offset, uint32_t length) {
    return Call(4, Lock(h, offset, length)).Status();
  }
  NlmReply Test(const Handle &h, uint32_t offset, uint32_t length) {
    return Call(1, CallBuilder().Long(1).bytes + Lock(h, offset, length));
  }
  uint32_t ShareCall(uint32_t procedure, const Handle &h, uint32_t mode, uint32_t access) {
    NlmReply r = Call(procedure, Share(h, mode, access) + CallBuilder().Long(0).bytes);
    EXPECT_EQ(r.rest.size(), 8u) << "a share reply is status and sequence";
    return r.Status();
  }
  void FreeAll() {
    uint32_t accept = 0xFFFF;
    EXPECT_EQ(rpc_.Call(kNlm, 3, 23, CallBuilder().Opaque("pc1").Long(0).bytes, &accept), "");
    EXPECT_EQ(accept, 0u) << "FREE_ALL not answered";
  }

 private:
  NfsClient rpc_;
  std::string owner_;
  int calls_ = 0;
};

// A local program's view: the lock F_GETLK reports over [start, start + length).
short LocalLockType(const std::string &path, off_t start, off_t length, off_t *held_start = nullptr) {
  int fd = open(path.c_str(), O_RDWR);
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = start;
  probe.l_len = length;
  int rc = fcntl(fd, F_GETLK, &probe);
  close(fd);
  if (held_start) *held_start = probe.l_start;
  return rc == 0 ? probe.l_type : short(-1);
}

class Nlm : public nfstest::ServiceTest {
 protected:
  Handle file_, dir_handle_;
  std::string path_;

  void SetUp() override {
    nfstest::ServiceTest::SetUp();
    // The information window, when a test asks for it, draws headless.
    setenv("QX_DISPLAY", "headless", 1);
    unsetenv("DISPLAY");
    unsetenv("QX_AUTOMATION");
    std::filesystem::create_directories(Host("d/ex"));
    chown(Host("d/ex").c_str(), kUser, kGroup);
    path_ = Host("d/ex/data.bin");
    qxtest::WriteFile(path_, std::string(4096, 'x'));
    chown(path_.c_str(), kUser, kGroup);
    WriteExports("d:\\ex\n");
    StartCapture();
    Start();
    NfsClient c(kUser, kGroup);
    dir_handle_ = c.Mount("/d/ex");
    ASSERT_EQ(dir_handle_.size(), 32u);
    ASSERT_EQ(c.Lookup(dir_handle_, "data.bin", &file_), NFS_OK);
  }
  void TearDown() override {
    // Every reply dissects cleanly as NLM.
    StopCapture();
    int status = 0;
    std::string out = nfstest::Shell(
        "tshark -n -r '" + dir_ + "/wire.pcapng' -Y 'nlm && rpc.msgtyp == 1 && _ws.malformed' 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "") << "tshark marks lock-manager replies as malformed";
    out = nfstest::Shell("tshark -n -r '" + dir_ + "/wire.pcapng' -Y 'nlm && rpc.msgtyp == 1' 2>/dev/null | wc -l");
    EXPECT_GT(atoi(out.c_str()), 0) << "tshark dissected no lock-manager replies";
    nfstest::ServiceTest::TearDown();
  }
};

TEST_F(Nlm, ByteRangeLocksConflictBetweenClientsAndReachLocalPrograms) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  NlmClient a("127.0.0.2", "proc-a"), b("127.0.0.3", "proc-b");
  ASSERT_EQ(a.NmLock(file_, 0, 100), GRANTED);
  EXPECT_EQ(b.NmLock(file_, 50, 10), DENIED);
  EXPECT_EQ(b.NmLock(file_, 100, 10), GRANTED) << "the ranges touch, they do not overlap";

  // TEST names the holder to the other client, and finds nothing in the way of the holder.
  NlmReply t = b.Test(file_, 10, 1);
  ASSERT_EQ(t.Status(), DENIED);
  ASSERT_GE(t.rest.size(), 32u);
  EXPECT_EQ(Word(t.rest, 4), 1u) << "exclusive";
  EXPECT_EQ(t.rest.substr(16, 6), "proc-a");
  EXPECT_EQ(Word(t.rest, 24), 0u);
  EXPECT_EQ(Word(t.rest, 28), 100u);
  EXPECT_EQ(a.Test(file_, 10, 1).Status(), GRANTED);

  // A local program sees the lock; a lock it holds refuses a client.
  off_t held = -1;
  EXPECT_EQ(LocalLockType(path_, 20, 1, &held), F_WRLCK);
  EXPECT_EQ(held, 0);
  int local = open(path_.c_str(), O_RDWR);
  struct flock mine {};
  mine.l_type = F_WRLCK;
  mine.l_whence = SEEK_SET;
  mine.l_start = 1000;
  mine.l_len = 10;
  ASSERT_EQ(fcntl(local, F_SETLK, &mine), 0);
  EXPECT_EQ(a.NmLock(file_, 1005, 1), DENIED);
  EXPECT_EQ(a.Test(file_, 1005, 1).Status(), DENIED);
  close(local);
  EXPECT_EQ(a.NmLock(file_, 1005, 1), GRANTED);

  // NFS READ and WRITE from the other client stop at the locked bytes.
  std::string data;
  EXPECT_EQ(b.nfs().Read(file_, 60, 10, &data), ACCES);
  EXPECT_EQ(b.nfs().Write(file_, 0, "y"), ACCES);
  EXPECT_EQ(b.nfs().Read(file_, 200, 10, &data), NFS_OK);
  EXPECT_EQ(a.nfs().Read(file_, 60, 10, &data), NFS_OK);
  EXPECT_EQ(a.nfs().Write(file_, 60, "zz"), NFS_OK);

  // UNLOCK releases exactly the range it names; one that does not exist is granted too.
  EXPECT_EQ(a.Unlock(file_, 0, 50), GRANTED);
  EXPECT_EQ(b.NmLock(file_, 50, 10), DENIED);
  EXPECT_EQ(a.Unlock(file_, 0, 100), GRANTED);
  EXPECT_EQ(b.NmLock(file_, 50, 10), GRANTED);
  EXPECT_EQ(LocalLockType(path_, 0, 50), F_UNLCK);

  // Length 0 reaches to the end of the file, and beyond.
  EXPECT_EQ(a.NmLock(file_, 5000, 0), GRANTED);
  EXPECT_EQ(b.NmLock(file_, 1u << 30, 1), DENIED);
  EXPECT_EQ(LocalLockType(path_, 1 << 20, 1), F_WRLCK);

  // FREE_ALL drops every lock of its sender, and only those.
  a.FreeAll();
  EXPECT_EQ(LocalLockType(path_, 5000, 1), F_UNLCK);
  EXPECT_EQ(LocalLockType(path_, 50, 1), F_WRLCK) << "b's lock stays";
  EXPECT_EQ(b.NmLock(file_, 1u << 30, 1), GRANTED);
}

TEST_F(Nlm, OneClientsTwoLocksShareOneNodeUntilTheLastUnlock) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  NlmClient a("127.0.0.2", "proc-a"), b("127.0.0.3", "proc-b");
  ASSERT_EQ(a.NmLock(file_, 0, 10), GRANTED);
  ASSERT_EQ(a.NmLock(file_, 20, 10), GRANTED);
  EXPECT_EQ(a.NmLock(file_, 5, 10), DENIED) << "a range overlapping one already held";
  EXPECT_EQ(a.Unlock(file_, 0, 10), GRANTED);
  EXPECT_EQ(b.NmLock(file_, 25, 1), DENIED);
  EXPECT_EQ(LocalLockType(path_, 20, 10), F_WRLCK);
  EXPECT_EQ(a.Unlock(file_, 20, 10), GRANTED);
  EXPECT_EQ(LocalLockType(path_, 0, 0), F_UNLCK) << "the node's file is closed with its last lock";
  EXPECT_EQ(b.NmLock(file_, 25, 1), GRANTED);
}

TEST_F(Nlm, SharesFollowTheDenyModes) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  NlmClient a("127.0.0.2", "proc-a"), b("127.0.0.3", "proc-b");
  // fsh_mode 2 denies others writing; fsh_access 3 opens for reading and writing.
  ASSERT_EQ(a.ShareCall(20, file_, 2, 3), GRANTED);
  EXPECT_EQ(b.ShareCall(20, file_, 2, 1), DENIED) << "b would deny a, which writes";
  EXPECT_EQ(b.ShareCall(20, file_, 0, 2), DENIED) << "b would write, which a denies";
  EXPECT_EQ(b.ShareCall(20, file_, 0, 1), GRANTED) << "reading while denying nothing fits beside a";
  EXPECT_EQ(LocalLockType(path_, 0, 0), F_RDLCK) << "a local writer sees the share";

  std::string data;
  EXPECT_EQ(b.nfs().Write(file_, 0, "y"), ACCES);
  EXPECT_EQ(b.nfs().Read(file_, 0, 10, &data), NFS_OK);
  EXPECT_EQ(a.nfs().Write(file_, 0, "y"), NFS_OK);

  // Values past the tables, and a directory, get their fixed answers.
  EXPECT_EQ(b.ShareCall(20, file_, 7, 1), DENIED);
  EXPECT_EQ(b.ShareCall(20, file_, 0, 4), DENIED);
  EXPECT_EQ(b.ShareCall(20, dir_handle_, 3, 3), GRANTED);

  EXPECT_EQ(a.ShareCall(21, file_, 2, 3), GRANTED);
  EXPECT_EQ(b.nfs().Write(file_, 0, "y"), NFS_OK);
  EXPECT_EQ(b.ShareCall(21, file_, 0, 1), GRANTED);
  EXPECT_EQ(b.ShareCall(21, file_, 0, 1), GRANTED) << "an UNSHARE of nothing";

  // Deny-all keeps local readers out too; FREE_ALL lifts it.
  ASSERT_EQ(b.ShareCall(20, file_, 3, 3), GRANTED);
  EXPECT_EQ(LocalLockType(path_, 0, 0), F_WRLCK);
  EXPECT_EQ(a.nfs().Read(file_, 0, 10, &data), ACCES);
  b.FreeAll();
  EXPECT_EQ(LocalLockType(path_, 0, 0), F_UNLCK);
  EXPECT_EQ(a.nfs().Read(file_, 0, 10, &data), NFS_OK);
}

TEST_F(Nlm, TheInformationWindowCountsAndListsTheNodes) {
  if (geteuid() != 0) GTEST_SKIP() << "the server acts as its clients' uids: run as root";
  NlmClient a("127.0.0.2", "proc-a"), b("127.0.0.3", "proc-b");
  ASSERT_EQ(a.NmLock(file_, 0, 10), GRANTED);
  ASSERT_EQ(b.ShareCall(20, file_, 0, 1), GRANTED);
  EXPECT_EQ(a.Unlock(file_, 50, 1), GRANTED);
  int status = -1;
  std::string out = Qxsc("control QXNFSServer 128", &status);
  ASSERT_EQ(status, 0) << out;
  int pid = -1;
  std::string info;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        for (const auto &e : std::filesystem::directory_iterator(Host("run")))
          if (std::string name = e.path().filename(); name.rfind("auto-", 0) == 0) pid = atoi(name.c_str() + 5);
        return pid > 0 &&
               !(info = qxtest::AutomationValue(qxtest::AutomationCommand(pid, "find #32770 Q&X NFS-Server"))).empty();
      },
      15000));
  auto item = [&](const std::string &dialog, int id) {
    return qxtest::AutomationValue(qxtest::AutomationCommand(pid, "item " + dialog + " " + std::to_string(id)));
  };
  auto text = [&](int id) { return qxtest::AutomationValue(qxtest::AutomationCommand(pid, "text " + item(info, id))); };
  EXPECT_EQ(text(128), "1") << "Share:";
  EXPECT_EQ(text(130), "1") << "Lock:";
  EXPECT_EQ(text(131), "1") << "Unlock:";
  ASSERT_EQ(qxtest::AutomationCommand(pid, "press " + item(info, 302)), "ok");
  std::string files;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        return !(files = qxtest::AutomationValue(qxtest::AutomationCommand(pid, "find #32770 Currently Open Files")))
                    .empty();
      },
      10000));
  std::vector<std::string> lines = qxtest::AutomationItems(pid, item(files, 101));
  ASSERT_EQ(lines.size(), 2u);
  std::sort(lines.begin(), lines.end(), [](const std::string &x, const std::string &y) { return x.back() < y.back(); });
  for (size_t i = 0; i < 2; ++i) {
    std::string lower = lines[i];
    for (char &c : lower) c = char(tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(lower.find("data.bin - 127.0.0."), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines[0].substr(lines[0].size() - 9), "127.0.0.2");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 9), "127.0.0.3");
}

TEST_F(Nlm, MonitoredProceduresAreDeniedAndOtherVersionsRefused) {
  NlmClient a("127.0.0.2", "proc-a");
  std::string lock_args =
      CallBuilder().Long(0).Long(1).bytes + a.Lock(file_, 0, 10) + CallBuilder().Long(0).Long(3).bytes;
  EXPECT_EQ(a.Call(2, lock_args).Status(), DENIED) << "LOCK";
  EXPECT_EQ(a.Call(3, CallBuilder().Long(0).Long(1).bytes + a.Lock(file_, 0, 10)).Status(), DENIED) << "CANCEL";
  EXPECT_EQ(a.Call(5, CallBuilder().Long(1).bytes + a.Lock(file_, 0, 10)).Status(), DENIED) << "GRANTED";
  EXPECT_EQ(LocalLockType(path_, 0, 0), F_UNLCK);

  uint32_t accept = 0;
  std::string body = a.nfs().Call(kNlm, 4, 0, "", &accept);
  EXPECT_EQ(accept, 2u) << "PROG_MISMATCH";
  // Garbage arguments of a known procedure.
  a.nfs().Call(kNlm, 3, 22, CallBuilder().Opaque("ck").Long(0).bytes, &accept);
  EXPECT_EQ(accept, 4u) << "GARBAGE_ARGS";
  EXPECT_EQ(a.nfs().Call(kNlm, 3, 0, "", &accept), "");
  EXPECT_EQ(accept, 0u);
}

}  // namespace
