/* The talk control messages and the invitation list of the talk daemons. */
#include "talkproto.h"

#include <strings.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#define AT(type, field) ((int)offsetof(type, field))
#define SIZE(type, field) ((int)sizeof(((type *)nullptr)->field))

/* Where each field lies, from the message structures themselves. */
const TALK_LAYOUT kNewTalkLayout = {
    TALK_REQUEST_SIZE,
    AT(TALK_REQUEST, vers),
    AT(TALK_REQUEST, type),
    AT(TALK_REQUEST, id),
    AT(TALK_REQUEST, pid),
    AT(TALK_REQUEST, addr),
    AT(TALK_REQUEST, ctl_addr),
    AT(TALK_REQUEST, l_name),
    SIZE(TALK_REQUEST, l_name),
    AT(TALK_REQUEST, r_name),
    SIZE(TALK_REQUEST, r_name),
    AT(TALK_REQUEST, r_tty),
    SIZE(TALK_REQUEST, r_tty),
    AT(TALK_RESPONSE, vers),
    AT(TALK_RESPONSE, type),
    AT(TALK_RESPONSE, answer),
    AT(TALK_RESPONSE, id),
    AT(TALK_RESPONSE, addr),
    "parley",
};
const TALK_LAYOUT kOldTalkLayout = {
    OLD_TALK_REQUEST_SIZE,
    -1, /* no version byte */
    AT(OLD_TALK_REQUEST, type),
    AT(OLD_TALK_REQUEST, id),
    AT(OLD_TALK_REQUEST, pid),
    AT(OLD_TALK_REQUEST, addr),
    AT(OLD_TALK_REQUEST, ctl_addr),
    AT(OLD_TALK_REQUEST, l_name),
    SIZE(OLD_TALK_REQUEST, l_name),
    AT(OLD_TALK_REQUEST, r_name),
    SIZE(OLD_TALK_REQUEST, r_name),
    AT(OLD_TALK_REQUEST, r_tty),
    SIZE(OLD_TALK_REQUEST, r_tty),
    -1,
    AT(OLD_TALK_RESPONSE, type),
    AT(OLD_TALK_RESPONSE, answer),
    AT(OLD_TALK_RESPONSE, id),
    AT(OLD_TALK_RESPONSE, addr),
    "oldparley",
};

namespace {

uint32_t Get32(const std::string &raw, int at) {
  uint32_t v = 0;
  memcpy(&v, raw.data() + at, 4); /* as held: little-endian */
  return v;
}
void Put32(std::string *raw, int at, uint32_t v) { memcpy(raw->data() + at, &v, 4); }

void Swap16At(std::string *raw, int at) { std::swap((*raw)[(size_t)at], (*raw)[(size_t)at + 1]); }

/* The name in a fixed field, up to its NUL or the field's end. */
std::string FieldName(const std::string &raw, int at, int size) {
  const char *field = raw.data() + at;
  return std::string(field, strnlen(field, (size_t)size));
}

}  // namespace

void FixByteOrder(const TALK_LAYOUT &layout, std::string *raw) {
  const unsigned char *family = (const unsigned char *)raw->data() + layout.ctlAddrAt;
  if (family[0] != 0x00 || family[1] != 0x02) return;
  Put32(raw, layout.idAt, __builtin_bswap32(Get32(*raw, layout.idAt)));
  Put32(raw, layout.pidAt, __builtin_bswap32(Get32(*raw, layout.pidAt)));
  Swap16At(raw, layout.addrAt);
  Swap16At(raw, layout.ctlAddrAt);
}

bool TalkDecodeRequest(const TALK_LAYOUT &layout, const char *data, int length, TalkRequest *request) {
  if (!data || length != layout.requestSize) return false;
  request->raw.assign(data, (size_t)length);
  std::string &raw = request->raw;
  FixByteOrder(layout, &raw);
  request->type = (unsigned char)raw[(size_t)layout.typeAt];
  request->id = Get32(raw, layout.idAt);
  request->pid = Get32(raw, layout.pidAt);
  memcpy(request->addr, raw.data() + layout.addrAt, TALK_SOCKADDR_SIZE);
  memcpy(request->ctlAddr, raw.data() + layout.ctlAddrAt, TALK_SOCKADDR_SIZE);
  request->lName = FieldName(raw, layout.lNameAt, layout.lNameSize);
  request->rName = FieldName(raw, layout.rNameAt, layout.rNameSize);
  return true;
}

std::string TalkEncodeResponse(const TALK_LAYOUT &layout, const TalkResponse &response) {
  std::string out(TALK_RESPONSE_SIZE, '\0');
  if (layout.respVersionAt >= 0) out[(size_t)layout.respVersionAt] = 1;
  out[(size_t)layout.respTypeAt] = (char)response.type;
  out[(size_t)layout.respAnswerAt] = (char)response.answer;
  Put32(&out, layout.respIdAt, response.id);
  memcpy(out.data() + layout.respAddrAt, response.addr, TALK_SOCKADDR_SIZE);
  return out;
}

void TalkSockaddrIp(const unsigned char *sockaddr, unsigned char ip[4]) { memcpy(ip, sockaddr + 4, 4); }

bool TalkNameIsSafe(const std::string &name) {
  if (name.empty() || name[0] == '-' || name[0] == '/') return false;
  for (unsigned char c : name)
    if (c <= ' ' || c >= 0x7F || c == '"') return false;
  return true;
}

bool TalkInviteCommandLine(const TALK_LAYOUT &layout, const TalkRequest &request, std::string *commandLine) {
  const std::string rName = request.rName.substr(0, request.rName.find(' '));
  if (!TalkNameIsSafe(request.lName) || !TalkNameIsSafe(rName)) return false;
  unsigned char ip[4];
  TalkSockaddrIp(request.ctlAddr, ip);
  char address[24];
  snprintf(address, sizeof address, "@%u.%u.%u.%u ", ip[0], ip[1], ip[2], ip[3]);
  *commandLine = std::string(layout.client) + " " + request.lName + address + rName;
  return true;
}

std::string TalkCallerText(const std::string &lName, const char *host, const unsigned char ip[4]) {
  char where[300];
  if (host && *host)
    snprintf(where, sizeof where, "@%.255s", host);
  else
    snprintf(where, sizeof where, "@%03u.%03u.%03u.%03u", ip[0], ip[1], ip[2], ip[3]);
  /* Both the caller's name and the name its address's reverse lookup gave
   * come from others: neither may break the field's line. */
  std::string text = lName + where;
  for (char &c : text)
    if ((unsigned char)c < ' ' || (unsigned char)c == 0x7F) c = '?';
  return text;
}

/* ---- The invitation list ---- */

const InvitationList::HandlerEntry InvitationList::kHandlers[] = {
    {LEAVE_INVITE, &InvitationList::LeaveInvite},
    {LOOK_UP, &InvitationList::LookUp},
    {DELETE, &InvitationList::DeleteInvitation},
    {ANNOUNCE, &InvitationList::AnnounceRequest},
};

TalkResponse InvitationList::DispatchRequest(const TalkRequest &request, uint64_t nowMs, TalkActions *actions) {
  TalkResponse response; /* every field an answer does not set stays zero */
  response.type = request.type;
  *actions = TalkActions();
  DropExpired(nowMs);
  for (const HandlerEntry &entry : kHandlers) {
    if (entry.type == request.type) {
      (this->*entry.handler)(request, nowMs, &response, actions);
      return response;
    }
  }
  response.answer = UNKNOWN_REQUEST;
  return response;
}

uint32_t InvitationList::NextInvitationId() {
  lastId_ = (lastId_ + 1) % 16000;
  if (lastId_ == 0) lastId_ = 1;
  return lastId_;
}

void InvitationList::DropExpired(uint64_t nowMs) {
  for (auto it = list_.begin(); it != list_.end();) {
    if (nowMs - it->stampMs > TALK_INVITE_LIFETIME_MS) {
      if (onDrop) onDrop(*it);
      it = list_.erase(it); /* the next one is taken from erase, never from the dropped entry */
    } else {
      ++it;
    }
  }
}

TalkInvitation *InvitationList::FindInvitation(const TalkRequest &request, uint64_t nowMs) {
  for (TalkInvitation &inv : list_) {
    const TalkRequest &stored = inv.request;
    if (stored.rName == request.rName && stored.lName == request.lName && stored.type == request.type &&
        stored.pid == request.pid) {
      inv.stampMs = nowMs;
      return &inv;
    }
  }
  return nullptr;
}

/* An announcement of the same caller (names and address) under another
 * process id: the same call, which gets no second dialog. */
TalkInvitation *InvitationList::FindSameCaller(const TalkRequest &request, uint64_t nowMs) {
  for (TalkInvitation &inv : list_) {
    const TalkRequest &stored = inv.request;
    if (stored.type == ANNOUNCE && stored.rName == request.rName && stored.lName == request.lName &&
        memcmp(stored.ctlAddr + 4, request.ctlAddr + 4, 4) == 0) {
      inv.stampMs = nowMs;
      return &inv;
    }
  }
  return nullptr;
}

TalkInvitation *InvitationList::LookUpInvitation(const TalkRequest &request, uint64_t nowMs) {
  for (TalkInvitation &inv : list_)
    if (inv.request.rName == request.lName && inv.request.lName == request.rName && inv.request.type == LEAVE_INVITE)
      return &inv;
  return nullptr;
}

TalkInvitation *InvitationList::StoreInvitation(const TalkRequest &request, uint64_t nowMs) {
  if (list_.size() >= TALK_MAX_INVITATIONS) return nullptr;
  TalkInvitation inv;
  inv.request = request;
  inv.id = NextInvitationId();
  inv.stampMs = nowMs;
  inv.serial = ++lastSerial_;
  list_.push_front(inv);
  return &list_.front();
}

TalkInvitation *InvitationList::FindBySerial(unsigned serial) {
  for (TalkInvitation &inv : list_)
    if (inv.serial == serial) return &inv;
  return nullptr;
}

void InvitationList::Remove(unsigned serial) {
  list_.remove_if([serial](const TalkInvitation &inv) { return inv.serial == serial; });
}

int InvitationList::OpenDialogs() const {
  int open = 0;
  for (const TalkInvitation &inv : list_) open += inv.dialog || inv.ringing ? 1 : 0;
  return open;
}

std::vector<HWND> InvitationList::Dialogs() const {
  std::vector<HWND> dialogs;
  for (const TalkInvitation &inv : list_)
    if (inv.dialog) dialogs.push_back(inv.dialog);
  return dialogs;
}

void InvitationList::LeaveInvite(const TalkRequest &request, uint64_t nowMs, TalkResponse *response, TalkActions *) {
  TalkInvitation *inv = FindInvitation(request, nowMs);
  if (!inv) inv = StoreInvitation(request, nowMs);
  if (!inv) {
    response->answer = NOT_HERE; /* the list is full */
    return;
  }
  response->id = inv->id;
  response->answer = SUCCESS;
}

void InvitationList::LookUp(const TalkRequest &request, uint64_t nowMs, TalkResponse *response, TalkActions *) {
  TalkInvitation *inv = LookUpInvitation(request, nowMs);
  if (!inv) {
    response->answer = NOT_HERE;
    return;
  }
  response->id = inv->id;
  memcpy(response->addr, inv->request.addr, TALK_SOCKADDR_SIZE);
  std::swap(response->addr[0], response->addr[1]); /* the family in network order */
  response->answer = SUCCESS;
}

void InvitationList::DeleteInvitation(const TalkRequest &request, uint64_t, TalkResponse *response,
                                      TalkActions *actions) {
  const uint32_t wanted = __builtin_bswap32(request.id); /* compared in network order */
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    if (it->id != wanted) continue;
    if (onDrop) onDrop(*it);
    list_.erase(it);
    response->answer = SUCCESS;
    actions->listEmptiedByDelete = list_.empty();
    return;
  }
  response->answer = NOT_HERE;
}

bool InvitationList::CheckCalledUser(const TalkRequest &request) {
  std::string account;
  if (!consoleAccount || !consoleAccount(&account)) return false;
  return strncasecmp(account.c_str(), request.rName.c_str(), 8) == 0;
}

void InvitationList::AnnounceRequest(const TalkRequest &request, uint64_t nowMs, TalkResponse *response,
                                     TalkActions *actions) {
  TalkRequest stored = request;
  std::string &raw = stored.raw;
  const TALK_LAYOUT &layout = raw.size() == TALK_REQUEST_SIZE ? kNewTalkLayout : kOldTalkLayout;
  memset(raw.data() + layout.rTtyAt, 0, (size_t)layout.rTtySize);
  memcpy(raw.data() + layout.rTtyAt, "CON:", 4);
  if (!CheckCalledUser(stored)) {
    response->answer = NOT_HERE;
    return;
  }
  std::string commandLine;
  if (!TalkInviteCommandLine(layout, stored, &commandLine)) {
    response->answer = PERMISSION_DENIED; /* a name the client could never be started with */
    return;
  }
  TalkInvitation *inv = FindInvitation(stored, nowMs);
  if (!inv && (inv = FindSameCaller(stored, nowMs)) != nullptr) {
    inv->request = stored; /* the caller's newer process: its addresses and pid */
    inv->id = NextInvitationId();
  }
  if (!inv) {
    if (OpenDialogs() >= TALK_MAX_DIALOGS || (inv = StoreInvitation(stored, nowMs)) == nullptr) {
      response->answer = NOT_HERE; /* the console has enough calls waiting */
      return;
    }
    actions->showDialogFor = inv->serial;
    response->id = inv->id;
    response->answer = SUCCESS;
    return;
  }
  if (inv->id < stored.id) inv->id = NextInvitationId();
  response->id = inv->id;
  response->answer = inv->refused ? PERMISSION_DENIED : SUCCESS;
}
