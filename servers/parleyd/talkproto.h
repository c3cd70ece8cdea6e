/* The talk control messages and the talk daemons' invitation list, shared by
 * parleyd (new protocol, UDP 518) and oldparleyd (old protocol, UDP 517).
 * Nothing here touches a socket or a window: a datagram goes in, a response
 * and what the daemon must do about dialogs come out. */
#ifndef QX_SERVERS_TALKPROTO_H
#define QX_SERVERS_TALKPROTO_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

/* Request types and answers. The access right of the same name means
 * nothing to the talk daemons: here DELETE is the request type. */
#undef DELETE
#define LEAVE_INVITE 0
#define LOOK_UP 1
#define DELETE 2
#define ANNOUNCE 3
#define SUCCESS 0
#define NOT_HERE 1
#define PERMISSION_DENIED 4
#define UNKNOWN_REQUEST 5

#define TALK_SOCKADDR_SIZE 16

/* The control messages as they travel (a sockaddr: family 2 bytes, port 2
 * bytes in network order, IPv4 address 4 bytes, 8 zero bytes). */
#pragma pack(push, 1)
typedef struct TALK_REQUEST { /* new protocol */
  uint8_t vers, type, answer, pad;
  uint32_t id;
  uint8_t addr[TALK_SOCKADDR_SIZE];     /* the caller's conversation address */
  uint8_t ctl_addr[TALK_SOCKADDR_SIZE]; /* where the response goes */
  uint32_t pid;
  char l_name[12], r_name[12], r_tty[16];
} TALK_REQUEST;
typedef struct OLD_TALK_REQUEST {
  uint8_t type;
  char l_name[9], r_name[9];
  uint8_t pad;
  uint32_t id, pid;
  char r_tty[16];
  uint8_t addr[TALK_SOCKADDR_SIZE], ctl_addr[TALK_SOCKADDR_SIZE];
} OLD_TALK_REQUEST;
typedef struct TALK_RESPONSE {
  uint8_t vers, type, answer, pad;
  uint32_t id; /* little-endian, as the daemon holds it */
  uint8_t addr[TALK_SOCKADDR_SIZE];
} TALK_RESPONSE;
typedef struct OLD_TALK_RESPONSE {
  uint8_t type, answer;
  uint32_t id; /* at offset 2, where the old client reads it */
  uint8_t zero[2];
  uint8_t addr[TALK_SOCKADDR_SIZE];
} OLD_TALK_RESPONSE;
#pragma pack(pop)
static_assert(sizeof(TALK_REQUEST) == 84 && sizeof(OLD_TALK_REQUEST) == 76, "talk request layouts");
static_assert(sizeof(TALK_RESPONSE) == 24 && sizeof(OLD_TALK_RESPONSE) == 24, "talk response layouts");
#define TALK_REQUEST_SIZE ((int)sizeof(TALK_REQUEST))
#define OLD_TALK_REQUEST_SIZE ((int)sizeof(OLD_TALK_REQUEST))
#define TALK_RESPONSE_SIZE 24

#define TALK_INVITE_LIFETIME_MS 60000 /* an invitation not refreshed for this long is dropped */
#define TALK_MAX_INVITATIONS 64       /* the list never holds more */
#define TALK_MAX_DIALOGS 8            /* REQUEST dialogs open at once */

/* Where the fields of one protocol's request and response lie. */
typedef struct TALK_LAYOUT {
  int requestSize;
  int versionAt; /* -1: no version byte */
  int typeAt;
  int idAt, pidAt;
  int addrAt, ctlAddrAt;
  int lNameAt, lNameSize;
  int rNameAt, rNameSize;
  int rTtyAt, rTtySize;
  /* response */
  int respVersionAt; /* -1: none */
  int respTypeAt, respAnswerAt, respIdAt, respAddrAt;
  const char *client; /* the talk client started on Talk */
} TALK_LAYOUT;

extern const TALK_LAYOUT kNewTalkLayout; /* TALK_REQUEST, TALK_RESPONSE */
extern const TALK_LAYOUT kOldTalkLayout; /* OLD_TALK_REQUEST, OLD_TALK_RESPONSE */

/* One request as received (after the byte-order fix), its names taken with
 * their field size so a name without NUL never reads into the next field. */
struct TalkRequest {
  std::string raw; /* exactly the layout's request size */
  int type = 0;
  uint32_t id = 0;
  uint32_t pid = 0;
  unsigned char addr[TALK_SOCKADDR_SIZE] = {};
  unsigned char ctlAddr[TALK_SOCKADDR_SIZE] = {};
  std::string lName, rName;
};

/* When ctl_addr's family is 2 sent in network order (a client that put the
 * whole request in network order), id, pid and both families are turned to
 * host order; otherwise the request stays exactly as received. */
void FixByteOrder(const TALK_LAYOUT &layout, std::string *raw);

/* Decodes a datagram: false (dropped, no answer) unless it has exactly the
 * layout's size. Applies FixByteOrder first. */
bool TalkDecodeRequest(const TALK_LAYOUT &layout, const char *data, int length, TalkRequest *request);

/* The response, 24 bytes, every field the answer does not set zero. */
struct TalkResponse {
  int type = 0;
  int answer = 0;
  uint32_t id = 0;
  unsigned char addr[TALK_SOCKADDR_SIZE] = {};
};
std::string TalkEncodeResponse(const TALK_LAYOUT &layout, const TalkResponse &response);

/* The IPv4 address of a sockaddr as the request carries it (bytes 4-7). */
void TalkSockaddrIp(const unsigned char *sockaddr, unsigned char ip[4]);

/* A name that may go on the talk client's command line: 1 or more printable
 * characters, no blank, no control character, no quote, not beginning with
 * '-' or '/' (which the client would take for a switch). */
bool TalkNameIsSafe(const std::string &name);

/* The talk client's command line: "parley USER@a.b.c.d CALLED" ("oldparley"
 * for the old protocol), the called user cut at its first blank; false when
 * a name is not safe (nothing may be started). */
bool TalkInviteCommandLine(const TALK_LAYOUT &layout, const TalkRequest &request, std::string *commandLine);

/* The text of the REQUEST dialog's caller field: "l_name@host" or
 * "l_name@aaa.bbb.ccc.ddd", control characters shown as '?'. */
std::string TalkCallerText(const std::string &lName, const char *host, const unsigned char ip[4]);

struct TalkInvitation {
  TalkRequest request;
  uint32_t id = 0;
  uint64_t stampMs = 0;
  HWND dialog = nullptr; /* its REQUEST dialog while open */
  bool ringing = false;  /* its REQUEST dialog is open on the console user's desktop */
  bool refused = false;
  unsigned serial = 0; /* names it to its dialog; never reused in a process */
};

/* What one request asks of the daemon beyond its response. */
struct TalkActions {
  unsigned showDialogFor = 0; /* serial of an invitation that needs a REQUEST dialog */
  bool listEmptiedByDelete = false;
};

class InvitationList {
 public:
  /* Called for every invitation dropped (deleted, expired), before it goes,
   * so its dialog can be closed. */
  std::function<void(TalkInvitation &)> onDrop;
  /* The console account (false: nobody logged on). */
  std::function<bool(std::string *)> consoleAccount;

  /* Answers one request; nowMs is a monotonic clock. */
  TalkResponse DispatchRequest(const TalkRequest &request, uint64_t nowMs, TalkActions *actions);

  TalkInvitation *FindBySerial(unsigned serial);
  /* Unlinks an invitation (accepted in its dialog); onDrop is not called. */
  void Remove(unsigned serial);
  size_t Size() const { return list_.size(); }
  int OpenDialogs() const;
  /* The open REQUEST dialogs, in list order. */
  std::vector<HWND> Dialogs() const;
  /* Sets the id counter (tests: the wrap after 15999). */
  void SetLastId(uint32_t id) { lastId_ = id; }

 private:
  uint32_t NextInvitationId();
  void DropExpired(uint64_t nowMs);
  TalkInvitation *FindInvitation(const TalkRequest &request, uint64_t nowMs);
  TalkInvitation *FindSameCaller(const TalkRequest &request, uint64_t nowMs);
  TalkInvitation *LookUpInvitation(const TalkRequest &request, uint64_t nowMs);
  TalkInvitation *StoreInvitation(const TalkRequest &request, uint64_t nowMs);
  void LeaveInvite(const TalkRequest &request, uint64_t nowMs, TalkResponse *response, TalkActions *actions);
  void LookUp(const TalkRequest &request, uint64_t nowMs, TalkResponse *response, TalkActions *actions);
  void DeleteInvitation(const TalkRequest &request, uint64_t nowMs, TalkResponse *response, TalkActions *actions);
  void AnnounceRequest(const TalkRequest &request, uint64_t nowMs, TalkResponse *response, TalkActions *actions);
  bool CheckCalledUser(const TalkRequest &request);

  std::list<TalkInvitation> list_; /* newest first */
  uint32_t lastId_ = 0;
  unsigned lastSerial_ = 0;

  typedef void (InvitationList::*Handler)(const TalkRequest &, uint64_t, TalkResponse *, TalkActions *);
  struct HandlerEntry {
    int type;
    Handler handler;
  };
  static const HandlerEntry kHandlers[];
};

#endif
