// The talk control messages and the invitation list, without sockets or
// windows: layouts, byte order, the answers to each request type, and the
// bounds on what a remote caller can make the daemon hold or show.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "talkproto.h"

namespace {

// A sockaddr as the client writes it: family in network order (00 02), port, address.
std::string Sockaddr(unsigned char a, unsigned char b, unsigned char c, unsigned char d, unsigned port,
                     bool familyNetworkOrder = true) {
  std::string s(16, '\0');
  s[0] = familyNetworkOrder ? 0 : 2;
  s[1] = familyNetworkOrder ? 2 : 0;
  s[2] = (char)(port >> 8);
  s[3] = (char)port;
  s[4] = (char)a, s[5] = (char)b, s[6] = (char)c, s[7] = (char)d;
  return s;
}

struct Fields {
  int type = ANNOUNCE;
  uint32_t id = 0;  // in network order on the wire when the family is
  uint32_t pid = 4242;
  std::string lName = "root", rName = "daemon";
  unsigned char ip[4] = {127, 0, 0, 1};
  bool networkOrder = true;
};

void PutField(std::string *raw, int at, int size, const std::string &value) {
  memcpy(raw->data() + at, value.data(), std::min<size_t>((size_t)size, value.size()));
}

void PutBe32(std::string *raw, int at, uint32_t v, bool networkOrder) {
  if (networkOrder) v = __builtin_bswap32(v);
  memcpy(raw->data() + at, &v, 4);
}

std::string Build(const TALK_LAYOUT &layout, const Fields &f) {
  std::string raw((size_t)layout.requestSize, '\0');
  if (layout.versionAt >= 0) raw[(size_t)layout.versionAt] = 1;
  raw[(size_t)layout.typeAt] = (char)f.type;
  PutBe32(&raw, layout.idAt, f.id, f.networkOrder);
  PutBe32(&raw, layout.pidAt, f.pid, f.networkOrder);
  PutField(&raw, layout.addrAt, 16, Sockaddr(f.ip[0], f.ip[1], f.ip[2], f.ip[3], 4000, f.networkOrder));
  PutField(&raw, layout.ctlAddrAt, 16, Sockaddr(f.ip[0], f.ip[1], f.ip[2], f.ip[3], 5000, f.networkOrder));
  PutField(&raw, layout.lNameAt, layout.lNameSize, f.lName);
  PutField(&raw, layout.rNameAt, layout.rNameSize, f.rName);
  return raw;
}

TalkRequest Decode(const TALK_LAYOUT &layout, const Fields &f) {
  TalkRequest r;
  std::string raw = Build(layout, f);
  EXPECT_TRUE(TalkDecodeRequest(layout, raw.data(), (int)raw.size(), &r));
  return r;
}

class Daemon {
 public:
  explicit Daemon(const std::string &console = "daemon") {
    list.consoleAccount = [console](std::string *name) {
      *name = console;
      return !console.empty();
    };
    list.onDrop = [this](TalkInvitation &) { drops++; };
  }
  TalkResponse Send(const Fields &f, uint64_t now = 1000, const TALK_LAYOUT &layout = kNewTalkLayout) {
    TalkResponse r = list.DispatchRequest(Decode(layout, f), now, &actions);
    if (actions.showDialogFor) {  // as the daemon does: a dialog for it
      list.FindBySerial(actions.showDialogFor)->dialog = (HWND)(uintptr_t)(++dialogs);
    }
    return r;
  }
  InvitationList list;
  TalkActions actions;
  int dialogs = 0;
  int drops = 0;
};

TEST(TalkMessages, FieldOffsetsOnTheWire) {
  // Written out by hand: the tests below build requests from the layouts.
  const TALK_LAYOUT &n = kNewTalkLayout, &o = kOldTalkLayout;
  const int got[] = {n.requestSize, n.typeAt,     n.idAt,         n.addrAt,      n.ctlAddrAt, n.pidAt,
                     n.lNameAt,     n.rNameAt,    n.rTtyAt,       o.requestSize, o.typeAt,    o.lNameAt,
                     o.rNameAt,     o.idAt,       o.pidAt,        o.rTtyAt,      o.addrAt,    o.ctlAddrAt,
                     n.respIdAt,    n.respAddrAt, o.respAnswerAt, o.respIdAt,    o.respAddrAt};
  const int want[] = {84, 1, 4, 8, 24, 40, 44, 56, 68, 76, 0, 1, 10, 20, 24, 28, 44, 60, 4, 8, 1, 2, 8};
  for (size_t i = 0; i < sizeof want / sizeof want[0]; i++) EXPECT_EQ(got[i], want[i]) << "field " << i;
}

TEST(TalkMessages, OnlyExactLengthsAreTaken) {
  const struct {
    const TALK_LAYOUT *layout;
    int length;
    bool taken;
  } cases[] = {{&kNewTalkLayout, 83, false}, {&kNewTalkLayout, 84, true}, {&kNewTalkLayout, 85, false},
               {&kNewTalkLayout, 76, false}, {&kOldTalkLayout, 76, true}, {&kOldTalkLayout, 75, false},
               {&kOldTalkLayout, 77, false}, {&kOldTalkLayout, 84, false}};
  for (const auto &c : cases) {
    std::string raw((size_t)c.length, '\0');
    TalkRequest r;
    EXPECT_EQ(TalkDecodeRequest(*c.layout, raw.data(), c.length, &r), c.taken) << c.length;
  }
}

TEST(TalkMessages, ByteOrderFixOnlyForFamilyInNetworkOrder) {
  Fields f;
  f.id = 7, f.pid = 0x01020304;
  TalkRequest fixed = Decode(kNewTalkLayout, f);
  EXPECT_EQ(fixed.id, 7u);
  EXPECT_EQ(fixed.pid, 0x01020304u);
  EXPECT_EQ(fixed.ctlAddr[0], 2);  // family now in host order
  EXPECT_EQ(fixed.addr[0], 2);
  f.networkOrder = false;  // 02 00: used as it came, little-endian
  TalkRequest asCame = Decode(kNewTalkLayout, f);
  EXPECT_EQ(asCame.id, 7u);
  EXPECT_EQ(asCame.pid, 0x01020304u);
  // The same bytes as the fixed one, but family 02 00 with id in network order, is left alone.
  std::string raw = Build(kNewTalkLayout, Fields());
  PutBe32(&raw, 4, 7, true);
  raw[24] = 2, raw[25] = 0;
  TalkRequest r;
  ASSERT_TRUE(TalkDecodeRequest(kNewTalkLayout, raw.data(), 84, &r));
  EXPECT_EQ(r.id, __builtin_bswap32(7u));
}

TEST(TalkMessages, NamesWithoutNulStopAtTheirField) {
  Fields f;
  f.lName = "abcdefghijkl";  // 12 bytes, no NUL
  f.rName = "mnopqrstuvwx";
  TalkRequest r = Decode(kNewTalkLayout, f);
  EXPECT_EQ(r.lName, "abcdefghijkl");
  EXPECT_EQ(r.rName, "mnopqrstuvwx");
  f.lName = "abcdefghi", f.rName = "jklmnopqr";  // 9 bytes each in the old layout
  r = Decode(kOldTalkLayout, f);
  EXPECT_EQ(r.lName, "abcdefghi");
  EXPECT_EQ(r.rName, "jklmnopqr");
}

TEST(TalkMessages, ResponseLayouts) {
  TalkResponse resp;
  resp.type = LOOK_UP, resp.answer = SUCCESS, resp.id = 0x0A0B0C0D;
  memcpy(resp.addr, Sockaddr(10, 0, 0, 1, 4000).data(), 16);
  const std::string fresh = TalkEncodeResponse(kNewTalkLayout, resp);
  EXPECT_EQ(fresh.substr(0, 8), std::string("\x01\x01\x00\x00\x0d\x0c\x0b\x0a", 8));
  EXPECT_EQ(fresh.substr(8), Sockaddr(10, 0, 0, 1, 4000));
  const std::string old = TalkEncodeResponse(kOldTalkLayout, resp);
  EXPECT_EQ(old.substr(0, 8), std::string("\x01\x00\x0d\x0c\x0b\x0a\x00\x00", 8));
  EXPECT_EQ(old.substr(8), Sockaddr(10, 0, 0, 1, 4000));
}

TEST(TalkList, IdsStartAtOneAndWrapAfter15999) {
  Daemon d;
  Fields f;
  f.type = LEAVE_INVITE;
  EXPECT_EQ(d.Send(f).id, 1u);
  d.list.SetLastId(15998);
  f.pid = 2;
  EXPECT_EQ(d.Send(f).id, 15999u);
  f.pid = 3;
  EXPECT_EQ(d.Send(f).id, 1u);
  f.pid = 3;  // the same invitation again: its stored id
  EXPECT_EQ(d.Send(f).id, 1u);
}

TEST(TalkList, LookUpFindsOnlyACrossedLeaveInvite) {
  Daemon d;
  Fields announce;  // root calls daemon
  EXPECT_EQ(d.Send(announce).answer, SUCCESS);
  Fields look;
  look.type = LOOK_UP, look.lName = "daemon", look.rName = "root", look.pid = 9;
  EXPECT_EQ(d.Send(look).answer, NOT_HERE);  // an ANNOUNCE is not found by LOOK_UP
  Fields leave;
  leave.type = LEAVE_INVITE;
  TalkResponse left = d.Send(leave);
  TalkResponse found = d.Send(look);
  EXPECT_EQ(found.answer, SUCCESS);
  EXPECT_EQ(found.id, left.id);
  EXPECT_EQ(std::string((char *)found.addr, 16), Sockaddr(127, 0, 0, 1, 4000));  // family back in network order
  look.lName = "root", look.rName = "daemon";                                    // not crossed
  EXPECT_EQ(d.Send(look).answer, NOT_HERE);
}

TEST(TalkList, UnsetResponseFieldsAreZero) {
  Daemon d;
  Fields leave;
  leave.type = LEAVE_INVITE;
  d.Send(leave);
  Fields look;
  look.type = LOOK_UP, look.lName = "daemon", look.rName = "root";
  ASSERT_EQ(d.Send(look).answer, SUCCESS);
  look.lName = "nobody";
  TalkResponse miss = d.Send(look);
  EXPECT_EQ(miss.answer, NOT_HERE);
  EXPECT_EQ(miss.id, 0u);
  EXPECT_EQ(std::string((char *)miss.addr, 16), std::string(16, '\0'));
  Fields odd;
  odd.type = 9;
  TalkResponse unknown = d.Send(odd);
  EXPECT_EQ(unknown.answer, UNKNOWN_REQUEST);
  EXPECT_EQ(unknown.type, 9);
  EXPECT_EQ(unknown.id, 0u);
}

TEST(TalkList, AnnounceRingsOncePerCaller) {
  Daemon d;
  Fields f;
  EXPECT_EQ(d.Send(f).answer, SUCCESS);
  EXPECT_TRUE(d.actions.showDialogFor);
  EXPECT_EQ(d.Send(f).answer, SUCCESS);  // repeated: same names, type and pid
  EXPECT_FALSE(d.actions.showDialogFor);
  f.pid = 99;  // the same caller's next process
  EXPECT_EQ(d.Send(f).answer, SUCCESS);
  EXPECT_FALSE(d.actions.showDialogFor);
  f.ip[3] = 2, f.pid = 100;  // another machine with the same user name: another call
  EXPECT_EQ(d.Send(f).answer, SUCCESS);
  EXPECT_TRUE(d.actions.showDialogFor);
  EXPECT_EQ(d.dialogs, 2);
  EXPECT_EQ(d.list.Size(), 2u);
}

TEST(TalkList, ConsoleUserDecidesNotHere) {
  const struct {
    const char *console;
    const char *rName;
    int answer;
  } cases[] = {{"daemon", "daemon", SUCCESS},   {"DAEMON", "daemon", SUCCESS},
               {"", "daemon", NOT_HERE},        {"daemon", "alice", NOT_HERE},
               {"daemon", "daemonx", NOT_HERE}, {"alexandra1", "alexandr", SUCCESS}};  // the first 8 characters
  for (const auto &c : cases) {
    Daemon d(c.console);
    Fields f;
    f.rName = c.rName;
    EXPECT_EQ(d.Send(f).answer, c.answer) << c.console << " " << c.rName;
  }
}

TEST(TalkList, RefusedCallAnswersLaterAnnouncementsDenied) {
  Daemon d;
  Fields f;
  d.Send(f);
  TalkInvitation *inv = d.list.FindBySerial(d.actions.showDialogFor);
  ASSERT_TRUE(inv);
  inv->dialog = nullptr;
  inv->refused = true;  // Cancel
  EXPECT_EQ(d.Send(f).answer, PERMISSION_DENIED);
  f.pid = 77;  // a new process of the same caller too
  EXPECT_EQ(d.Send(f).answer, PERMISSION_DENIED);
}

TEST(TalkList, DeleteComparesInNetworkOrderAndEndsWithTheLast) {
  Daemon d;
  Fields leave;
  leave.type = LEAVE_INVITE;
  const uint32_t id = d.Send(leave).id;
  Fields del;
  del.type = DELETE;
  del.id = id + 1;
  EXPECT_EQ(d.Send(del).answer, NOT_HERE);
  // A client in network order sends back the id it read with ntohl.
  del.id = __builtin_bswap32(id);
  EXPECT_EQ(d.Send(del).answer, SUCCESS);
  EXPECT_TRUE(d.actions.listEmptiedByDelete);
  EXPECT_EQ(d.list.Size(), 0u);
  EXPECT_EQ(d.drops, 1);
}

TEST(TalkList, InvitationsExpireAfterSixtySeconds) {
  Daemon d;
  Fields leave;
  leave.type = LEAVE_INVITE;
  d.Send(leave, 1000);
  Fields announce;
  announce.pid = 5;
  d.Send(announce, 1000);
  Fields look;
  look.type = LOOK_UP, look.lName = "daemon", look.rName = "root";
  EXPECT_EQ(d.Send(look, 61000).answer, SUCCESS);  // 60 s: still there
  d.Send(announce, 61000);                         // refreshed by its caller
  EXPECT_EQ(d.Send(look, 61001 + 60000).answer, NOT_HERE);
  EXPECT_EQ(d.drops, 2);  // each dropped one taken with its dialog
  EXPECT_EQ(d.list.Size(), 0u);
}

TEST(TalkList, HostileFloodsAreBounded) {
  Daemon d;
  // 500 distinct announcements: other names, other machines, other pids.
  for (int i = 0; i < 500; i++) {
    Fields f;
    f.lName = "u" + std::to_string(i);
    f.pid = (uint32_t)i;
    f.ip[2] = (unsigned char)(i / 256), f.ip[3] = (unsigned char)i;
    d.Send(f);
  }
  EXPECT_EQ(d.dialogs, TALK_MAX_DIALOGS);
  EXPECT_EQ(d.list.OpenDialogs(), TALK_MAX_DIALOGS);
  for (int i = 0; i < 500; i++) {
    Fields f;
    f.type = LEAVE_INVITE;
    f.pid = (uint32_t)i;
    d.Send(f);
  }
  EXPECT_EQ(d.list.Size(), (size_t)TALK_MAX_INVITATIONS);
}

TEST(TalkList, UnsafeNamesNeverReachTheClient) {
  const struct {
    std::string lName;
    int answer;
  } cases[] = {{"root", SUCCESS},
               {"ro ot", PERMISSION_DENIED},
               {std::string("ro\x01t"), PERMISSION_DENIED},
               {"ro\"t", PERMISSION_DENIED},
               {"-debug", PERMISSION_DENIED},
               {"/debug", PERMISSION_DENIED},
               {"r\xe9t", PERMISSION_DENIED}};
  for (const auto &c : cases) {
    Daemon d;
    Fields f;
    f.lName = c.lName;
    EXPECT_EQ(d.Send(f).answer, c.answer) << c.lName;
    EXPECT_EQ(d.dialogs, c.answer == SUCCESS ? 1 : 0);
  }
  TalkRequest r = Decode(kNewTalkLayout, Fields());
  r.rName = "daemon tty1";
  std::string commandLine;
  ASSERT_TRUE(TalkInviteCommandLine(kNewTalkLayout, r, &commandLine));
  EXPECT_EQ(commandLine, "parley root@127.0.0.1 daemon");  // the called user cut at its first blank
  ASSERT_TRUE(TalkInviteCommandLine(kOldTalkLayout, r, &commandLine));
  EXPECT_EQ(commandLine, "oldparley root@127.0.0.1 daemon");
}

TEST(TalkList, CallerText) {
  const unsigned char ip[4] = {10, 1, 2, 3};
  EXPECT_EQ(TalkCallerText("root", "pc1.example.com", ip), "root@pc1.example.com");
  EXPECT_EQ(TalkCallerText("root", nullptr, ip), "root@010.001.002.003");
  EXPECT_EQ(TalkCallerText(std::string("r\x07t"), nullptr, ip), "r?t@010.001.002.003");
  // The host's name comes from the caller's reverse lookup: shown on one line, no control character.
  EXPECT_EQ(TalkCallerText("root", "pc1.example.com\r\nroot@trusted\x1b[2J", ip),
            "root@pc1.example.com??root@trusted?[2J");
}

}  // namespace
