// ONC RPC version 2 over UDP for sharehost: the call header and its
// credentials, program dispatch, the reply header, the duplicate-request cache
// and the request counters. Everything runs on the server's one thread.
//
// The code here touches no socket: the program gives it a sender
// (SetRpcSender) and hands it each datagram, so tests and the fuzzer drive it
// directly. Every length in a call is checked against the datagram: a damaged
// header is dropped without a reply, damaged arguments of a known procedure
// are answered GARBAGE_ARGS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "xdr.h"

constexpr uint32_t kRpcCall = 0;
constexpr uint32_t kRpcReply = 1;

constexpr uint32_t kPortmapProgram = 100000;
constexpr uint32_t kNfsProgram = 100003;
constexpr uint32_t kMountProgram = 100005;
constexpr uint32_t kNlmProgram = 100021;
constexpr uint32_t kPcnfsdProgram = 150001;
constexpr uint16_t kNfsPort = 2049;
constexpr uint16_t kPortmapPort = 111;

enum AcceptStatus : uint32_t {
  RPC_SUCCESS = 0,
  RPC_PROG_UNAVAIL = 1,
  RPC_PROG_MISMATCH = 2,
  RPC_PROC_UNAVAIL = 3,
  RPC_GARBAGE_ARGS = 4,
};

constexpr uint32_t kAuthNull = 0;
constexpr uint32_t kAuthUnix = 1;
constexpr uint32_t kMaxAuthBody = 400;     // credential and verifier bodies
constexpr uint32_t kMaxMachineName = 255;  // AUTH_UNIX machine name
constexpr uint32_t kMaxAuthGroups = 16;    // AUTH_UNIX group list

constexpr size_t kReceiveBufferSize = 8595;
constexpr size_t kReplyHeaderSize = 24;
constexpr size_t kReplyBufferSize = 8340;
constexpr size_t kMaxReplyBody = kReplyBufferSize - kReplyHeaderSize;

// A client's address and port, both in network byte order.
struct RpcPeer {
  uint32_t address = 0;
  uint16_t port = 0;
};

struct RpcCall {
  uint32_t xid = 0;
  uint32_t message_type = 0;
  uint32_t rpc_version = 0;
  uint32_t program = 0;
  uint32_t version = 0;
  uint32_t procedure = 0;
  uint32_t cred_flavor = 0;
  bool has_machine = false;  // AUTH_UNIX credentials
  std::string machine;
  int32_t uid = -2;
  int32_t gid = -2;
  XdrReader args;  // the procedure's arguments, up to the end of the datagram
};

enum class CallParse { Ok, NotCall, Malformed };
// Reads the call header, credentials and verifier. NotCall: a reply or other
// message type; Malformed: a header or credential that runs past the
// datagram, or a credential or verifier body over 400 bytes.
CallParse ParseRpcCall(const uint8_t *datagram, size_t length, RpcCall &call);

// The identity of the NFS call being served (-2: nobody), and its machine
// name (empty without AUTH_UNIX credentials).
extern int32_t CallerUid;
extern int32_t CallerGid;
extern std::string CallerMachine;

// REQUEST_COUNTERS: index 0 NULL of every program, 1..17 the NFS procedures
// (7 counts writes past the end of a file), 18..22 MOUNT procedures 1..5, 23
// and 24 PCNFSD AUTH and PR_START, 25 cache hits, 26 and 27 the Refresh and
// Priority settings, 28..32 the lock manager.
constexpr int kRequestCounterCount = 33;
enum RequestCounter {
  kCountNull = 0,
  kCountMount = 18,
  kCountDump = 19,
  kCountUnmount = 20,
  kCountUnmountAll = 21,
  kCountExport = 22,
  kCountAuth = 23,
  kCountPrint = 24,
  kCountCacheHits = 25,
  kCountRefresh = 26,
  kCountPriority = 27,
  kCountShare = 28,
  kCountUnshare = 29,
  kCountLock = 30,
  kCountUnlock = 31,
  kCountUnshareAll = 32,
};
extern uint32_t REQUEST_COUNTERS[kRequestCounterCount];

enum RpcSocket { kNfsSocket = 0, kPortmapSocket = 1 };
using RpcSendFunction = void (*)(RpcSocket socket, const RpcPeer &to, const uint8_t *bytes, size_t length);
void SetRpcSender(RpcSendFunction send);

// Makes `call` the call the next replies answer (its xid, and its key in the
// duplicate-request cache).
void RpcBeginCall(const RpcCall &call, const RpcPeer &from);
// Handlers build the reply body here (at most kMaxReplyBody bytes) and name its length.
uint8_t *ReplyBody();
// Sends the reply header (the current call's xid) and `body_length` bytes of
// body. Replies on the NFS socket with a body of at most 104 bytes enter the
// duplicate-request cache under the current call, with their accept status.
void RpcSendReply(RpcSocket socket, const RpcPeer &to, size_t body_length, uint32_t accept = RPC_SUCCESS);
// PROG_MISMATCH with the versions served.
void RpcSendMismatch(RpcSocket socket, const RpcPeer &to, uint32_t low, uint32_t high);
// A retransmission of a call already answered (same xid, client address and
// port, program, version and procedure) gets the first reply again: true.
bool DupCacheLookup(const RpcCall &call, const RpcPeer &from);

// The handler of a program on the NFS socket. For NFS it is the version 2
// procedure dispatch (the version is checked before it). Until one is set,
// NFS answers NULL alone and the other programs PROG_UNAVAIL.
using ProgramHandler = void (*)(RpcCall &call, const RpcPeer &from);
void SetProgramHandler(uint32_t program, ProgramHandler handler);

// One datagram received on the NFS socket, and one on the portmapper socket.
void RpcDispatch(const uint8_t *datagram, size_t length, const RpcPeer &from);
void PortmapHandler(const uint8_t *datagram, size_t length, const RpcPeer &from);

// Back to the state at start: empty cache, counters zero, no handlers.
void ResetRpcState();
