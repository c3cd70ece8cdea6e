// The RPC layer without sockets: hostile datagrams, the reply header, program
// and version dispatch, the duplicate-request cache and the portmapper.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rpc.h"
#include "rpc_call_builder.h"

using rpctest::CallBuilder;
using rpctest::Word;

namespace {

struct Sent {
  RpcSocket socket;
  uint32_t address;
  uint16_t port;
  std::string bytes;
};
std::vector<Sent> g_sent;

void Capture(RpcSocket socket, const RpcPeer &to, const uint8_t *bytes, size_t length) {
  g_sent.push_back({socket, to.address, to.port, std::string(reinterpret_cast<const char *>(bytes), length)});
}

// A MOUNT stand-in that counts its runs and answers a 36-byte body.
int g_mount_runs = 0;
void CountingMount(RpcCall &call, const RpcPeer &from) {
  ++g_mount_runs;
  uint8_t *body = ReplyBody();
  XdrPutLong(body, 0);
  for (int i = 0; i < 32; ++i) body[4 + i] = uint8_t(g_mount_runs + i);
  RpcSendReply(kNfsSocket, from, 36);
}

const RpcPeer kClient{0x0100007F, 0x3412};  // 127.0.0.1 port 0x1234

class Rpc : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRpcState();
    SetRpcSender(Capture);
    g_sent.clear();
    g_mount_runs = 0;
  }
  static void Nfs(const std::string &datagram, const RpcPeer &from = kClient) {
    RpcDispatch(reinterpret_cast<const uint8_t *>(datagram.data()), datagram.size(), from);
  }
  static void Portmap(const std::string &datagram, const RpcPeer &from = kClient) {
    PortmapHandler(reinterpret_cast<const uint8_t *>(datagram.data()), datagram.size(), from);
  }
  static std::string NfsNull(uint32_t xid) { return CallBuilder::Call(xid, kNfsProgram, 2, 0).AuthNull().bytes; }
  // The reply header: xid, REPLY, MSG_ACCEPTED, AUTH_NULL verifier, accept status.
  static void ExpectHeader(const std::string &reply, uint32_t xid, uint32_t accept) {
    ASSERT_GE(reply.size(), 24u);
    EXPECT_EQ(Word(reply, 0), xid);
    EXPECT_EQ(Word(reply, 4), 1u);
    EXPECT_EQ(Word(reply, 8), 0u);
    EXPECT_EQ(Word(reply, 12), 0u);
    EXPECT_EQ(Word(reply, 16), 0u);
    EXPECT_EQ(Word(reply, 20), accept);
  }
};

TEST_F(Rpc, NullReplyIsTheBareHeader) {
  Nfs(NfsNull(0xA1B2C3D4));
  ASSERT_EQ(g_sent.size(), 1u);
  const std::string golden("\xA1\xB2\xC3\xD4\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24);
  EXPECT_EQ(g_sent[0].bytes, golden);
  EXPECT_EQ(g_sent[0].socket, kNfsSocket);
  EXPECT_EQ(g_sent[0].address, kClient.address);
  EXPECT_EQ(g_sent[0].port, kClient.port);
  EXPECT_EQ(REQUEST_COUNTERS[kCountNull], 1u);
}

// Datagrams whose header or credentials are damaged get no reply, read
// nothing past their end, and leave the server answering the next call.
TEST_F(Rpc, HostileDatagramsAreDroppedAndServingGoesOn) {
  std::string null_call = NfsNull(7);
  auto unix_cred = [](const std::string &body) {
    return CallBuilder::Call(9, kNfsProgram, 2, 0).Long(1).Opaque(body).Long(0).Long(0).bytes;
  };
  std::string huge_group_list = CallBuilder().Long(0).Opaque("pc1").Long(0).Long(0).Long(17).bytes;
  for (int i = 0; i < 17; ++i) huge_group_list += std::string(4, '\0');
  struct Case {
    const char *what;
    std::string datagram;
  } cases[] = {
      {"empty", ""},
      {"three bytes", null_call.substr(0, 3)},
      {"xid alone", null_call.substr(0, 4)},
      {"cut in the credential word", null_call.substr(0, 27)},
      {"cut before the verifier length", null_call.substr(0, 35)},
      {"cut in the verifier length", null_call.substr(0, 39)},
      {"message type REPLY", CallBuilder().Long(5).Long(1).Raw(null_call.substr(8)).bytes},
      {"message type 7", CallBuilder().Long(5).Long(7).Raw(null_call.substr(8)).bytes},
      {"credential length near 2^31", CallBuilder::Call(9, kNfsProgram, 2, 0).Long(0).Long(0x7FFFFFFC).bytes},
      {"credential length 2^32-1", CallBuilder::Call(9, kNfsProgram, 2, 0).Long(0).Long(0xFFFFFFFF).bytes},
      {"credential over 400 bytes",
       CallBuilder::Call(9, kNfsProgram, 2, 0).Long(0).Opaque(std::string(404, 'x')).Long(0).Long(0).bytes},
      {"credential past the end", CallBuilder::Call(9, kNfsProgram, 2, 0).Long(0).Long(64).Raw("abcd").bytes},
      {"verifier past the end", CallBuilder::Call(9, kNfsProgram, 2, 0).Long(0).Long(0).Long(0).Long(200).bytes},
      {"verifier over 400 bytes",
       CallBuilder::Call(9, kNfsProgram, 2, 0).Long(0).Long(0).Long(0).Opaque(std::string(408, 'v')).bytes},
      {"machine name of 300 bytes",
       unix_cred(CallBuilder().Long(0).Opaque(std::string(300, 'm')).Long(0).Long(0).Long(0).bytes)},
      {"machine name past its credential", unix_cred(CallBuilder().Long(0).Long(40).Raw("pc01").bytes)},
      {"machine name with a zero byte",
       unix_cred(CallBuilder().Long(0).Opaque(std::string("pc\0x", 4)).Long(0).Long(0).Long(0).bytes)},
      {"17 groups", unix_cred(huge_group_list)},
      {"groups past the credential", unix_cred(CallBuilder().Long(0).Opaque("pc1").Long(0).Long(0).Long(3).bytes)},
      {"uid missing", unix_cred(CallBuilder().Long(0).Opaque("pc1").bytes)},
  };
  for (const Case &c : cases) {
    g_sent.clear();
    Nfs(c.datagram);
    Portmap(c.datagram);
    EXPECT_TRUE(g_sent.empty()) << c.what;
    Nfs(NfsNull(0x55));
    ASSERT_EQ(g_sent.size(), 1u) << "after " << c.what;
    ExpectHeader(g_sent[0].bytes, 0x55, RPC_SUCCESS);
  }
}

// A short datagram after a served call never answers with the earlier call.
TEST_F(Rpc, ShortDatagramAfterACallGetsNoReply) {
  SetProgramHandler(kMountProgram, CountingMount);
  Nfs(CallBuilder::Call(1, kMountProgram, 1, 1).AuthUnix("pc1", 0, 0).Opaque("/c/x").bytes);
  ASSERT_EQ(g_sent.size(), 1u);
  Nfs(std::string("\0\0\0\2", 4));
  EXPECT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_mount_runs, 1);
}

TEST_F(Rpc, ProgramsAndVersions) {
  struct Case {
    const char *what;
    std::string datagram;
    bool replied;
    uint32_t accept;
    std::string body;
  } cases[] = {
      {"RPC version 3 is served as 2",
       CallBuilder().Long(3).Long(0).Long(3).Long(kNfsProgram).Long(2).Long(0).AuthNull().bytes, true, RPC_SUCCESS, ""},
      {"NFS version 3", CallBuilder::Call(4, kNfsProgram, 3, 0).AuthNull().bytes, true, RPC_PROG_MISMATCH,
       std::string("\0\0\0\2\0\0\0\2", 8)},
      {"program 100004", CallBuilder::Call(5, 100004, 1, 0).AuthNull().bytes, true, RPC_PROG_UNAVAIL, ""},
      {"lock manager before it is served", CallBuilder::Call(6, kNlmProgram, 3, 0).AuthNull().bytes, true,
       RPC_PROG_UNAVAIL, ""},
      {"PCNFSD before it is served", CallBuilder::Call(7, kPcnfsdProgram, 1, 0).AuthNull().bytes, true,
       RPC_PROG_UNAVAIL, ""},
      {"NFS procedure not served yet",
       CallBuilder::Call(8, kNfsProgram, 2, 1).AuthNull().Raw(std::string(32, 'h')).bytes, true, RPC_PROC_UNAVAIL, ""},
      {"NFS procedure past the protocol", CallBuilder::Call(9, kNfsProgram, 2, 18).AuthNull().bytes, false, 0, ""},
  };
  for (const Case &c : cases) {
    g_sent.clear();
    Nfs(c.datagram);
    if (!c.replied) {
      EXPECT_TRUE(g_sent.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(g_sent.size(), 1u) << c.what;
    ExpectHeader(g_sent[0].bytes, Word(c.datagram, 0), c.accept);
    EXPECT_EQ(g_sent[0].bytes.substr(24), c.body) << c.what;
  }
  // The accept status of an error reply is not left behind for the next one.
  g_sent.clear();
  Nfs(NfsNull(10));
  ExpectHeader(g_sent.at(0).bytes, 10, RPC_SUCCESS);
}

TEST_F(Rpc, AuthUnixGivesTheCallersIdentity) {
  Nfs(CallBuilder::Call(1, kNfsProgram, 2, 0).AuthUnix("pc01", 1001, 100, {4, 24}).bytes);
  EXPECT_EQ(CallerUid, 1001);
  EXPECT_EQ(CallerGid, 100);
  EXPECT_EQ(CallerMachine, "pc01");
  Nfs(NfsNull(2));
  EXPECT_EQ(CallerUid, -2);
  EXPECT_EQ(CallerGid, -2);
  EXPECT_EQ(CallerMachine, "");
}

TEST_F(Rpc, RetransmissionIsAnsweredFromTheCacheByteForByte) {
  SetProgramHandler(kMountProgram, CountingMount);
  std::string mnt = CallBuilder::Call(77, kMountProgram, 1, 1).AuthUnix("pc1", 0, 0).Opaque("/c/x").bytes;
  Nfs(mnt);
  Nfs(mnt);
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[1].bytes, g_sent[0].bytes);
  EXPECT_EQ(g_mount_runs, 1);
  EXPECT_EQ(REQUEST_COUNTERS[kCountCacheHits], 1u);

  // Another client port, another address, another procedure: each is a new call.
  RpcPeer other_port = kClient;
  other_port.port = 0x3512;
  RpcPeer other_address = kClient;
  other_address.address = 0x0200007F;
  Nfs(mnt, other_port);
  Nfs(mnt, other_address);
  Nfs(CallBuilder::Call(77, kMountProgram, 1, 0).AuthNull().bytes);
  EXPECT_EQ(g_mount_runs, 4);
  EXPECT_EQ(REQUEST_COUNTERS[kCountCacheHits], 1u);
}

TEST_F(Rpc, CacheKeepsTwentyRepliesAndTheirAcceptStatus) {
  SetProgramHandler(kMountProgram, CountingMount);
  auto mnt = [](uint32_t xid) { return CallBuilder::Call(xid, kMountProgram, 1, 1).AuthNull().Opaque("/c").bytes; };
  for (uint32_t xid = 1; xid <= 21; ++xid) Nfs(mnt(xid));
  EXPECT_EQ(g_mount_runs, 21);
  Nfs(mnt(1));  // its slot went to the 21st reply
  EXPECT_EQ(g_mount_runs, 22);
  Nfs(mnt(21));
  EXPECT_EQ(g_mount_runs, 22);

  std::string v3 = CallBuilder::Call(500, kNfsProgram, 3, 0).AuthNull().bytes;
  Nfs(v3);
  Nfs(v3);
  ASSERT_GE(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[g_sent.size() - 1].bytes, g_sent[g_sent.size() - 2].bytes);
  ExpectHeader(g_sent.back().bytes, 500, RPC_PROG_MISMATCH);
}

TEST_F(Rpc, LongRepliesAreNotCached) {
  static int runs = 0;
  runs = 0;
  SetProgramHandler(kMountProgram, [](RpcCall &, const RpcPeer &from) {
    ++runs;
    memset(ReplyBody(), 0, 105);
    RpcSendReply(kNfsSocket, from, 105);
  });
  std::string call = CallBuilder::Call(3, kMountProgram, 1, 5).AuthNull().bytes;
  Nfs(call);
  Nfs(call);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(g_sent.at(1).bytes.size(), 24u + 105u);
}

// The portmapper on port 111.
class Portmapper : public Rpc {
 protected:
  static std::string Call(uint32_t xid, uint32_t procedure, std::vector<uint32_t> args = {}, uint32_t version = 2,
                          uint32_t program = kPortmapProgram) {
    CallBuilder b = CallBuilder::Call(xid, program, version, procedure).AuthUnix("pc1", 0, 0);
    for (uint32_t a : args) b.Long(a);
    return b.bytes;
  }
  // The body of the one reply to `datagram`, which must succeed.
  static std::string Body(const std::string &datagram) {
    g_sent.clear();
    Portmap(datagram);
    if (g_sent.size() != 1) return "no reply";
    EXPECT_EQ(g_sent[0].socket, kPortmapSocket);
    ExpectHeader(g_sent[0].bytes, Word(datagram, 0), RPC_SUCCESS);
    return g_sent[0].bytes.substr(24);
  }
  static std::string Words(std::vector<uint32_t> words) {
    CallBuilder b;
    for (uint32_t w : words) b.Long(w);
    return b.bytes;
  }
};

TEST_F(Portmapper, GetPort) {
  struct Case {
    uint32_t program, version, protocol, port;
  } cases[] = {
      {100003, 2, 17, 2049}, {100003, 3, 17, 2049}, {100005, 1, 17, 2049}, {100021, 3, 17, 2049},
      {150001, 1, 17, 2049}, {100003, 2, 6, 0},     {100024, 1, 17, 0},    {100000, 2, 17, 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Body(Call(1, 3, {c.program, c.version, c.protocol, 0})), Words({c.port}))
        << c.program << " v" << c.version << " proto " << c.protocol;
}

// Replies of Debian's rpcbind 1.2.6 to the same calls with AUTH_NULL,
// captured on loopback: the header layout and the answer for a program
// nobody registered must be the same bytes.
TEST_F(Portmapper, RepliesMatchRpcbindByteForByte) {
  auto hex = [](const std::string &bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
      snprintf(two, sizeof two, "%02x", c);
      out += two;
    }
    return out;
  };
  auto call = [](uint32_t xid, uint32_t procedure, std::vector<uint32_t> args) {
    CallBuilder b = CallBuilder::Call(xid, kPortmapProgram, 2, procedure).AuthNull();
    for (uint32_t a : args) b.Long(a);
    return b.bytes;
  };
  g_sent.clear();
  Portmap(call(1, 0, {}));
  Portmap(call(2, 3, {100099, 2, 17, 0}));
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(hex(g_sent[0].bytes), "000000010000000100000000000000000000000000000000");
  EXPECT_EQ(hex(g_sent[1].bytes), "00000002000000010000000000000000000000000000000000000000");
}

TEST_F(Portmapper, DumpListsTheFourServicesOnUdp2049) {
  std::string body = Body(Call(2, 4));
  EXPECT_EQ(body,
            Words({1, 100005, 1, 17, 2049, 1, 100003, 2, 17, 2049, 1, 100021, 3, 17, 2049, 1, 150001, 1, 17, 2049, 0}));
  EXPECT_EQ(body.size(), 84u);
}

TEST_F(Portmapper, SetIsRefusedAndChangesNothing) {
  EXPECT_EQ(Body(Call(3, 1, {100099, 1, 17, 4000})), Words({0}));
  EXPECT_EQ(Body(Call(4, 3, {100099, 1, 17, 0})), Words({0}));
  EXPECT_EQ(Body(Call(5, 2, {100003, 2, 17, 2049})), Words({0}));
  EXPECT_EQ(Body(Call(6, 3, {100003, 2, 17, 0})), Words({2049}));
}

TEST_F(Portmapper, NullCountsWithTheNfsNull) {
  EXPECT_EQ(Body(Call(7, 0)), "");
  Nfs(NfsNull(8));
  EXPECT_EQ(REQUEST_COUNTERS[kCountNull], 2u);
}

TEST_F(Portmapper, UnansweredAndRefusedCalls) {
  struct Case {
    const char *what;
    std::string datagram;
  } silent[] = {
      {"CALLIT", Call(1, 5, {100003, 2, 0, 0})},
      {"procedure 6", Call(2, 6)},
      {"program 100001 on port 111", Call(3, 0, {}, 2, 100001)},
      {"NFS on port 111", Call(4, 0, {}, 2, kNfsProgram)},
  };
  for (const Case &c : silent) {
    g_sent.clear();
    Portmap(c.datagram);
    EXPECT_TRUE(g_sent.empty()) << c.what;
  }
  g_sent.clear();
  Portmap(Call(9, 0, {}, 3));
  ASSERT_EQ(g_sent.size(), 1u);
  ExpectHeader(g_sent[0].bytes, 9, RPC_PROG_MISMATCH);
  EXPECT_EQ(g_sent[0].bytes.substr(24), Words({2, 2}));

  g_sent.clear();
  Portmap(Call(10, 3, {100003, 2}));  // GETPORT cut short
  ASSERT_EQ(g_sent.size(), 1u);
  ExpectHeader(g_sent[0].bytes, 10, RPC_GARBAGE_ARGS);
}

TEST_F(Portmapper, RepliesNeverEnterTheCache) {
  std::string getport = Call(11, 3, {100003, 2, 17, 0});
  Portmap(getport);
  g_sent.clear();
  // The same xid and client on the NFS socket is a new call, not the portmapper's reply.
  Nfs(CallBuilder::Call(11, kPortmapProgram, 2, 3).AuthUnix("pc1", 0, 0).Long(100003).Long(2).Long(17).Long(0).bytes);
  ASSERT_EQ(g_sent.size(), 1u);
  ExpectHeader(g_sent[0].bytes, 11, RPC_PROG_UNAVAIL);
  EXPECT_EQ(REQUEST_COUNTERS[kCountCacheHits], 0u);
}

TEST(Xdr, ReaderStopsAtItsBounds) {
  const uint8_t data[] = {0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0, 0, 0, 9};
  {
    XdrReader in(data, sizeof data);
    std::string s;
    EXPECT_TRUE(in.String(s, 5));
    EXPECT_EQ(s, "hello");
    EXPECT_EQ(in.position(), 12u);
    uint32_t w = 0;
    EXPECT_TRUE(in.Long(w));
    EXPECT_FALSE(in.Long(w));
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.remaining(), 0u);
  }
  {
    XdrReader in(data, sizeof data);
    std::string s;
    EXPECT_FALSE(in.String(s, 4));  // longer than the bound
    uint32_t w = 0;
    EXPECT_FALSE(in.Long(w));  // and the reader stays failed
  }
  {
    XdrReader in(data, 9);  // the padding is missing
    std::string_view v;
    EXPECT_FALSE(in.Opaque(v, 100));
  }
  {
    XdrReader in(data, sizeof data);
    EXPECT_FALSE(in.Skip(uint64_t(1) << 40));
    const uint8_t *p = nullptr;
    XdrReader again(data, sizeof data);
    EXPECT_TRUE(again.Fixed(p, 13));  // 13 bytes padded to 16
    EXPECT_EQ(again.remaining(), 0u);
  }
}

TEST(Xdr, WriterNeverPassesItsCapacity) {
  uint8_t buffer[12];
  XdrWriter out(buffer, sizeof buffer);
  EXPECT_TRUE(out.String("abcde"));  // 4 + 8
  EXPECT_EQ(out.length(), 12u);
  EXPECT_EQ(buffer[9], 0);  // padding zeroed
  EXPECT_FALSE(out.Long(1));
  EXPECT_EQ(out.length(), 12u);
  out.Truncate(4);
  EXPECT_TRUE(out.ok());
  EXPECT_TRUE(out.Long(7));
  EXPECT_EQ(out.length(), 8u);
}

// READ's data is filled in place: the length word is what was filled, and the
// padding after it is zeroed, never what an earlier reply left in the buffer.
TEST(Xdr, OpaqueFilledInPlace) {
  uint8_t buffer[20];
  memset(buffer, 0xAA, sizeof buffer);
  XdrWriter full(buffer, sizeof buffer);
  ASSERT_TRUE(full.Long(0));
  EXPECT_EQ(full.BeginOpaque(16), nullptr);  // 4 + 16 more do not fit in 20
  EXPECT_FALSE(full.ok());
  XdrWriter out(buffer, sizeof buffer);
  ASSERT_TRUE(out.Long(0));
  uint8_t *data = out.BeginOpaque(8);
  ASSERT_EQ(data, buffer + 8);
  memcpy(data, "hello", 5);  // a short read
  out.EndOpaque(5);
  EXPECT_EQ(out.length(), 16u);
  EXPECT_EQ(XdrGetLong(buffer + 4), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer + 8), 8), std::string("hello\0\0\0", 8));
  EXPECT_EQ(buffer[16], 0xAA);  // nothing written past the padded data
  out.BeginOpaque(0);
  out.EndOpaque(0);  // end of file: an empty opaque
  EXPECT_EQ(out.length(), 20u);
  EXPECT_EQ(XdrGetLong(buffer + 16), 0u);
}

}  // namespace
