// The RPC device's request parsing and reply decoding, hostile inputs as tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rpc_device.h"

namespace {

void PutLittle(std::vector<std::uint8_t> &b, size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutBig(std::vector<std::uint8_t> &b, size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A request as the listers build it, with the given pieces: the fixed part,
// the piece table and its end mark, the name "QXNFS", then the pieces.
std::vector<std::uint8_t> Request(const std::vector<std::string> &pieces) {
  const size_t n = pieces.size();
  std::vector<std::uint8_t> b(116 + 8 * n, 0);
  PutLittle(b, 0, 0xFFE17B80);
  PutLittle(b, 4, 0xFFFFFFFF);
  b[8] = 127, b[11] = 1;
  PutLittle(b, 12, static_cast<std::uint32_t>(116 + 8 * n));
  PutLittle(b, 16, 5);
  PutBig(b, 96, 100005);
  PutBig(b, 100, 1);
  PutBig(b, 104, 5);
  size_t at = 121 + 8 * n;
  for (size_t i = 0; i < n; ++i) {
    PutLittle(b, 108 + 8 * i, static_cast<std::uint32_t>(pieces[i].size()));
    PutLittle(b, 112 + 8 * i, static_cast<std::uint32_t>(at));
    at += pieces[i].size();
  }
  PutLittle(b, 108 + 8 * n, 0xFFFFFFFF);
  for (char c : std::string("QXNFS")) b.push_back(static_cast<std::uint8_t>(c));
  for (const std::string &p : pieces) b.insert(b.end(), p.begin(), p.end());
  return b;
}

TEST(RpcDeviceRequest, ReadsTheListersCallsAndPadsPieces) {
  qxnfs::RpcCall call;
  std::string why;
  ASSERT_TRUE(qxnfs::ParseRequest(Request({}), call, why)) << why;
  EXPECT_EQ(Request({}).size(), 121u);
  EXPECT_EQ(call.program, 100005u);
  EXPECT_EQ(call.version, 1u);
  EXPECT_EQ(call.procedure, 5u);
  EXPECT_EQ(call.server, 0x0100007Fu);
  EXPECT_EQ(call.arguments, "");
  // The NIS lookup's pieces: length words and unpadded strings become XDR.
  ASSERT_TRUE(
      qxnfs::ParseRequest(Request({std::string("\0\0\0\3", 4), "dom", std::string("\0\0\0\1", 4), "k"}), call, why))
      << why;
  EXPECT_EQ(call.arguments, std::string("\0\0\0\3dom\0\0\0\0\1k\0\0\0", 16));
}

TEST(RpcDeviceRequest, RefusesRequestsThatDoNotHoldTogether) {
  struct Case {
    const char *name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  auto good = Request({"abcd"});
  cases.push_back({"empty", {}});
  cases.push_back({"short of the fixed part", std::vector<std::uint8_t>(good.begin(), good.begin() + 100)});
  auto magic = good;
  magic[0] ^= 1;
  cases.push_back({"wrong mark", magic});
  auto name = good;
  PutLittle(name, 12, 0xFFFFFFF0);
  cases.push_back({"name past the end", name});
  auto piece = good;
  PutLittle(piece, 108, 0x7FFFFFFF);
  cases.push_back({"piece length past the end", piece});
  auto offset = good;
  PutLittle(offset, 112, static_cast<std::uint32_t>(good.size()));
  cases.push_back({"piece starting at the end", offset});
  auto endless = good;
  PutLittle(endless, 116, 1);  // the end mark overwritten: pieces run on
  cases.push_back({"no end mark", endless});
  std::vector<std::uint8_t> many(96, 0);
  PutLittle(many, 0, 0xFFE17B80);
  for (int i = 0; i < 100; ++i) PutLittle(many, 108 + 8 * i, 0), PutLittle(many, 112 + 8 * i, 0);
  PutLittle(many, 108 + 800, 0xFFFFFFFF);
  cases.push_back({"too many pieces", many});
  for (const Case &c : cases) {
    qxnfs::RpcCall call;
    std::string why;
    EXPECT_FALSE(qxnfs::ParseRequest(c.bytes, call, why)) << c.name;
    EXPECT_FALSE(why.empty()) << c.name;
  }
}

std::string Words(std::initializer_list<std::uint32_t> words, const std::string &tail = "") {
  std::string out;
  for (std::uint32_t w : words)
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<char>((w >> s) & 0xFF));
  return out + tail;
}

TEST(RpcDeviceReply, ClassifiesReplies) {
  struct Case {
    const char *name;
    std::string datagram;
    qxnfs::ReplyKind kind;
    DWORD error;
  };
  const std::vector<Case> cases = {
      {"success", Words({7, 1, 0, 0, 0, 0}, "body"), qxnfs::ReplyKind::kSuccess, 0},
      {"verifier with bytes", Words({7, 1, 0, 1, 8, 0, 0, 0}, "xy"), qxnfs::ReplyKind::kSuccess, 0},
      {"another xid", Words({8, 1, 0, 0, 0, 0}), qxnfs::ReplyKind::kNotOurs, ERROR_GEN_FAILURE},
      {"a call, not a reply", Words({7, 0, 0, 0, 0, 0}), qxnfs::ReplyKind::kNotOurs, ERROR_GEN_FAILURE},
      {"denied", Words({7, 1, 1, 1}), qxnfs::ReplyKind::kDenied, ERROR_ACCESS_DENIED},
      {"program unavailable", Words({7, 1, 0, 0, 0, 1}), qxnfs::ReplyKind::kUnavailable, ERROR_NOT_SUPPORTED},
      {"version mismatch", Words({7, 1, 0, 0, 0, 2, 2, 2}), qxnfs::ReplyKind::kUnavailable, ERROR_NOT_SUPPORTED},
      {"garbage arguments", Words({7, 1, 0, 0, 0, 4}), qxnfs::ReplyKind::kFailed, ERROR_GEN_FAILURE},
      {"verifier past the end", Words({7, 1, 0, 1, 400}), qxnfs::ReplyKind::kNotOurs, ERROR_GEN_FAILURE},
      {"verifier too long", Words({7, 1, 0, 1, 0x7FFFFFFF}), qxnfs::ReplyKind::kNotOurs, ERROR_GEN_FAILURE},
      {"cut short", Words({7, 1}), qxnfs::ReplyKind::kNotOurs, ERROR_GEN_FAILURE},
  };
  for (const Case &c : cases) {
    std::string body;
    const qxnfs::ReplyKind kind = qxnfs::DecodeReply(c.datagram, 7, body);
    EXPECT_EQ(kind, c.kind) << c.name;
    EXPECT_EQ(qxnfs::ErrorOfReply(kind), c.error) << c.name;
  }
  std::string body;
  qxnfs::DecodeReply(Words({7, 1, 0, 1, 2, 0, 0}, "rest"), 7, body);
  EXPECT_EQ(body, "rest");
}

}  // namespace
