// Fuzz target of what clients send the daemons, through the daemons' own
// request readers: LPD command lines and counted files, TFTP requests, gopher
// selectors, talk control datagrams into the invitation list, and gatekeeper's
// rule file with requests decided against it. Besides crashes it checks the
// promises the daemons rely on: a path taken from a request stays beneath its
// root, a reply quotes no control character, a command line holds no blank or
// quote inside a name.
//
// Input: byte 0 picks the daemon and the piece size; the rest is the request.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "lpdrules.h"
#include "rules.h"
#include "selector.h"
#include "talkproto.h"
#include "tftp.h"

namespace {

// A relative path of plain components: not absolute, no "." or "..", no
// empty component, no drive or device colon.
void CheckBeneath(const std::string &path) {
  if (path.empty() || path[0] == '/' || path.find(':') != std::string::npos) abort();
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(at, end - at);
    if (part.empty() || part == "." || part == "..") abort();
    at = end + 1;
  }
}

void FuzzLpd(std::string_view bytes, size_t piece) {
  size_t at = 0;
  LpdReader reader([&](char *buffer, int size) {
    const size_t n = std::min({bytes.size() - at, static_cast<size_t>(size), piece});
    if (n) memcpy(buffer, bytes.data() + at, n);
    at += n;
    return static_cast<int>(n);
  });
  std::string line;
  for (int lines = 0; lines < 1000; ++lines) {
    const LpdReader::LineResult result = reader.ReadLine(&line);
    if (line.size() > LPD_LINE_MAX) abort();
    if (result != LpdReader::LINE_OK) break;
    if (line.empty()) continue;
    LpdParseQueue(line.substr(1));
    uint64_t count = 0;
    std::string name;
    if ((line[0] == '\2' || line[0] == '\3') && LpdParseFileLine(line.substr(1), &count, &name)) {
      if (count > LPD_MAX_FILE_BYTES || name.empty()) abort();
      char data[LPD_RECEIVE_BUFFER];
      for (uint64_t left = count; left > 0;) {
        const int got = reader.ReadData(data, left > 1460 ? 1460 : static_cast<int>(left));
        if (got < 1) return;
        left -= static_cast<uint64_t>(got);
        LpdConvertLf(data, static_cast<size_t>(got));
      }
    }
  }
}

void FuzzTftp(std::string_view bytes) {
  const auto *packet = reinterpret_cast<const unsigned char *>(bytes.data());
  const int length = static_cast<int>(std::min<size_t>(bytes.size(), kTftpDatagram));
  TftpOpcodeOf(packet, length);
  TftpBlockOf(packet, length);
  std::string name, mode, relative;
  if (TftpRequestName(packet, length, &name, &mode) && TftpRelativePath(name, &relative)) CheckBeneath(relative);
}

void FuzzGopher(std::string_view bytes) {
  const std::string selector = GopherSelector(std::string(bytes.substr(0, 1460)));
  if (selector.find_first_of("\t\r\n") != std::string::npos) abort();
  GopherClass(selector);
  std::string relative;
  if (GopherRelativePath(selector, &relative)) CheckBeneath(relative);
  const std::string reply = GopherBadKeyReply(selector);
  const std::string_view tail = "\"\t\t\t\t\r\n.\r\n";
  if (reply.size() < tail.size() || reply.compare(reply.size() - tail.size(), tail.size(), tail) != 0) abort();
  for (unsigned char c : reply.substr(0, reply.size() - tail.size()))
    if (c < 0x20 || c == 0x7F) abort();
}

void FuzzTalk(std::string_view bytes, bool oldProtocol) {
  const TALK_LAYOUT &layout = oldProtocol ? kOldTalkLayout : kNewTalkLayout;
  const size_t size = static_cast<size_t>(layout.requestSize);
  InvitationList list;
  list.consoleAccount = [](std::string *account) {
    *account = "operator";
    return true;
  };
  uint64_t now = 1000;
  for (size_t at = 0; at + size <= bytes.size(); at += size) {
    TalkRequest request;
    if (!TalkDecodeRequest(layout, bytes.data() + at, static_cast<int>(size), &request)) abort();
    std::string commandLine;
    if (TalkInviteCommandLine(layout, request, &commandLine))
      for (unsigned char c : commandLine)
        if (c < 0x20 || c == '"' || c >= 0x7F) abort();
    unsigned char ip[4];
    TalkSockaddrIp(request.ctlAddr, ip);
    for (const char *host : {static_cast<const char *>(nullptr), request.rName.c_str()})
      for (unsigned char c : TalkCallerText(request.lName, host, ip))
        if (c < 0x20 || c == 0x7F) abort();
    TalkActions actions;
    const TalkResponse response = list.DispatchRequest(request, now, &actions);
    if (TalkEncodeResponse(layout, response).size() != TALK_RESPONSE_SIZE) abort();
    if (list.Size() > TALK_MAX_INVITATIONS) abort();
    now += (request.pid & 0xFFFF);  // the clock moves by the input's choice
  }
}

void FuzzGatekeeper(std::string_view bytes) {
  const size_t split = bytes.find('\0');
  const std::string text(bytes.substr(0, split));
  const std::string request(split == std::string_view::npos ? std::string_view() : bytes.substr(split + 1));
  std::vector<gatekeeper::LineError> errors;
  const gatekeeper::RuleSet rules = gatekeeper::ParseRules(text, &errors);
  for (const gatekeeper::LineError &e : errors) gatekeeper::MessageText(e.message, e.detail);
  for (const uint32_t address : {0x7f000001u, 0x0a000001u, 0xc0a80101u, 0u})
    gatekeeper::Decide(rules, address, request, [](uint32_t) { return std::string("host.example.org."); });
  for (unsigned char c : gatekeeper::EscapeForLog(request))
    if (c < 0x20 || c == 0x7F) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  const size_t piece = (control >> 3) == 31 ? 2048 : 1u + (control >> 3) * 11;
  switch (control % 6) {
    case 0: FuzzLpd(rest, piece); break;
    case 1: FuzzTftp(rest); break;
    case 2: FuzzGopher(rest); break;
    case 3: FuzzTalk(rest, false); break;
    case 4: FuzzTalk(rest, true); break;
    default: FuzzGatekeeper(rest); break;
  }
  return 0;
}
