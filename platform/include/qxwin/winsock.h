/* Winsock 1.1 of the platform layer: sockets are descriptor numbers, the
 * structures have Winsock's layouts, errors are WSAE codes.
 *
 * Names that the C library also has (socket, send, select, gethostname, ...)
 * are declared so that the source reads the Winsock name while the call goes
 * to the layer's prefixed symbol ("qxws_send"): a program never lands in
 * libc by accident and the layer never interposes libc for other libraries.
 * A translation unit that includes this header must not also include the
 * BSD socket headers (<sys/socket.h>, <netinet/in.h>, <netdb.h>,
 * <arpa/inet.h>): their structures share names with Winsock's. */
#ifndef QX_WIN_WINSOCK_H
#define QX_WIN_WINSOCK_H

#include "base.h"

/* Bring in the C library's fd_set and timeval before renaming fd_set, so
 * that its headers, included once, keep their own type. */
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
/* u_long comes from the C library (unsigned long); 32-bit address and byte
 * order values use ULONG as Win32's unsigned long. */

/* A socket is the descriptor number in the process that owns it. */
typedef u_int SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0u))
#define SOCKET_ERROR (-1)

/* select() sets: a count and an array of sockets, as Winsock has them. */
#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ZERO
#undef FD_ISSET
#define FD_SETSIZE 64
typedef struct qx_fd_set {
  u_int fd_count;
  SOCKET fd_array[FD_SETSIZE];
} qx_fd_set;
#define fd_set qx_fd_set

/* The set operations are calls into the layer (bounded by FD_SETSIZE). */
QX_EXTERN_C_BEGIN
WINBASEAPI int PASCAL __WSAFDIsSet(SOCKET s, qx_fd_set *set);
WINBASEAPI void PASCAL qxws_fd_set_add(SOCKET s, qx_fd_set *set);
WINBASEAPI void PASCAL qxws_fd_set_remove(SOCKET s, qx_fd_set *set);
QX_EXTERN_C_END

#define FD_CLR(fd, set) qxws_fd_set_remove((SOCKET)(fd), (qx_fd_set *)(set))
#define FD_SET(fd, set) qxws_fd_set_add((SOCKET)(fd), (qx_fd_set *)(set))
#define FD_ZERO(set) (((qx_fd_set *)(set))->fd_count = 0)
#define FD_ISSET(fd, set) __WSAFDIsSet((SOCKET)(fd), (qx_fd_set *)(set))

/* timeval is the C library's; Winsock's has the same two fields. */
#ifndef timerisset
#define timerisset(tvp) ((tvp)->tv_sec || (tvp)->tv_usec)
#endif

/* ioctlsocket commands, with Winsock's values. */
#define IOCPARM_MASK 0x7f
#define IOC_VOID 0x20000000UL
#define IOC_OUT 0x40000000UL
#define IOC_IN 0x80000000UL
#define IOC_INOUT (IOC_IN | IOC_OUT)
#define FIONREAD ((long)0x4004667FL)
#define FIONBIO ((long)0x8004667EL)
#define FIOASYNC ((long)0x8004667DL)
#define SIOCATMARK ((long)0x40047307L)

/* Addresses */
struct in_addr {
  union {
    struct {
      u_char s_b1, s_b2, s_b3, s_b4;
    } S_un_b;
    struct {
      u_short s_w1, s_w2;
    } S_un_w;
    ULONG S_addr;
  } S_un;
};
#define s_addr S_un.S_addr
#define s_host S_un.S_un_b.s_b2
#define s_net S_un.S_un_b.s_b1
#define s_imp S_un.S_un_w.s_w2
#define s_impno S_un.S_un_b.s_b4
#define s_lh S_un.S_un_b.s_b3
typedef struct in_addr IN_ADDR, *PIN_ADDR, *LPIN_ADDR;

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  struct in_addr sin_addr;
  char sin_zero[8];
};
typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;

struct sockproto {
  u_short sp_family;
  u_short sp_protocol;
};

struct linger {
  u_short l_onoff;
  u_short l_linger;
};
typedef struct linger LINGER, *PLINGER, *LPLINGER;

/* Database entries; each call's result is per thread and valid until the
 * thread's next call of the same family. */
struct hostent {
  char *h_name;
  char **h_aliases;
  short h_addrtype;
  short h_length;
  char **h_addr_list;
};
#define h_addr h_addr_list[0]
typedef struct hostent HOSTENT, *PHOSTENT, *LPHOSTENT;

struct servent {
  char *s_name;
  char **s_aliases;
  short s_port;
  char *s_proto;
};
typedef struct servent SERVENT, *PSERVENT, *LPSERVENT;

struct protoent {
  char *p_name;
  char **p_aliases;
  short p_proto;
};
typedef struct protoent PROTOENT, *PPROTOENT, *LPPROTOENT;

#define IPPROTO_IP 0
#define IPPROTO_ICMP 1
#define IPPROTO_IGMP 2
#define IPPROTO_GGP 3
#define IPPROTO_TCP 6
#define IPPROTO_PUP 12
#define IPPROTO_UDP 17
#define IPPROTO_IDP 22
#define IPPROTO_ND 77
#define IPPROTO_RAW 255
#define IPPROTO_MAX 256

#define IPPORT_ECHO 7
#define IPPORT_DISCARD 9
#define IPPORT_SYSTAT 11
#define IPPORT_DAYTIME 13
#define IPPORT_NETSTAT 15
#define IPPORT_FTP 21
#define IPPORT_TELNET 23
#define IPPORT_SMTP 25
#define IPPORT_TIMESERVER 37
#define IPPORT_NAMESERVER 42
#define IPPORT_WHOIS 43
#define IPPORT_MTP 57
#define IPPORT_TFTP 69
#define IPPORT_RJE 77
#define IPPORT_FINGER 79
#define IPPORT_TTYLINK 87
#define IPPORT_SUPDUP 95
#define IPPORT_EXECSERVER 512
#define IPPORT_LOGINSERVER 513
#define IPPORT_CMDSERVER 514
#define IPPORT_EFSSERVER 520
#define IPPORT_BIFFUDP 512
#define IPPORT_WHOSERVER 513
#define IPPORT_ROUTESERVER 520
#define IPPORT_RESERVED 1024

#define INADDR_ANY ((ULONG)0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_BROADCAST ((ULONG)0xffffffff)
#define INADDR_NONE 0xffffffff

#define IN_CLASSA(i) (((LONG)(i)&0x80000000) == 0)
#define IN_CLASSB(i) (((LONG)(i)&0xc0000000) == 0x80000000)
#define IN_CLASSC(i) (((LONG)(i)&0xe0000000) == 0xc0000000)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char *lpVendorInfo;
} WSADATA, *LPWSADATA;

/* IP options (level IPPROTO_IP) */
#define IP_OPTIONS 1
#define IP_MULTICAST_IF 2
#define IP_MULTICAST_TTL 3
#define IP_MULTICAST_LOOP 4
#define IP_ADD_MEMBERSHIP 5
#define IP_DROP_MEMBERSHIP 6
#define IP_TTL 7
#define IP_TOS 8
#define IP_DONTFRAGMENT 9

/* Socket types */
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define SOCK_RDM 4
#define SOCK_SEQPACKET 5

/* Socket options (level SOL_SOCKET) */
#define SO_DEBUG 0x0001
#define SO_ACCEPTCONN 0x0002
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_DONTROUTE 0x0010
#define SO_BROADCAST 0x0020
#define SO_USELOOPBACK 0x0040
#define SO_LINGER 0x0080
#define SO_OOBINLINE 0x0100
#define SO_DONTLINGER ((u_int)(~SO_LINGER))
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDLOWAT 0x1003
#define SO_RCVLOWAT 0x1004
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define TCP_NODELAY 0x0001
#define SOL_SOCKET 0xffff

/* Address families */
#define AF_UNSPEC 0
#define AF_UNIX 1
#define AF_INET 2
#define AF_MAX 3
#define PF_UNSPEC AF_UNSPEC
#define PF_UNIX AF_UNIX
#define PF_INET AF_INET
#define SOMAXCONN 5

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define MSG_MAXIOVLEN 16
#define MSG_PARTIAL 0x8000
#define MAXGETHOSTSTRUCT 1024

/* WSAAsyncSelect events */
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20

/* Errors of WSAGetLastError */
#define WSABASEERR 10000
#define WSAEINTR (WSABASEERR + 4)
#define WSAEBADF (WSABASEERR + 9)
#define WSAEACCES (WSABASEERR + 13)
#define WSAEFAULT (WSABASEERR + 14)
#define WSAEINVAL (WSABASEERR + 22)
#define WSAEMFILE (WSABASEERR + 24)
#define WSAEWOULDBLOCK (WSABASEERR + 35)
#define WSAEINPROGRESS (WSABASEERR + 36)
#define WSAEALREADY (WSABASEERR + 37)
#define WSAENOTSOCK (WSABASEERR + 38)
#define WSAEDESTADDRREQ (WSABASEERR + 39)
#define WSAEMSGSIZE (WSABASEERR + 40)
#define WSAEPROTOTYPE (WSABASEERR + 41)
#define WSAENOPROTOOPT (WSABASEERR + 42)
#define WSAEPROTONOSUPPORT (WSABASEERR + 43)
#define WSAESOCKTNOSUPPORT (WSABASEERR + 44)
#define WSAEOPNOTSUPP (WSABASEERR + 45)
#define WSAEPFNOSUPPORT (WSABASEERR + 46)
#define WSAEAFNOSUPPORT (WSABASEERR + 47)
#define WSAEADDRINUSE (WSABASEERR + 48)
#define WSAEADDRNOTAVAIL (WSABASEERR + 49)
#define WSAENETDOWN (WSABASEERR + 50)
#define WSAENETUNREACH (WSABASEERR + 51)
#define WSAENETRESET (WSABASEERR + 52)
#define WSAECONNABORTED (WSABASEERR + 53)
#define WSAECONNRESET (WSABASEERR + 54)
#define WSAENOBUFS (WSABASEERR + 55)
#define WSAEISCONN (WSABASEERR + 56)
#define WSAENOTCONN (WSABASEERR + 57)
#define WSAESHUTDOWN (WSABASEERR + 58)
#define WSAETOOMANYREFS (WSABASEERR + 59)
#define WSAETIMEDOUT (WSABASEERR + 60)
#define WSAECONNREFUSED (WSABASEERR + 61)
#define WSAELOOP (WSABASEERR + 62)
#define WSAENAMETOOLONG (WSABASEERR + 63)
#define WSAEHOSTDOWN (WSABASEERR + 64)
#define WSAEHOSTUNREACH (WSABASEERR + 65)
#define WSAENOTEMPTY (WSABASEERR + 66)
#define WSAEPROCLIM (WSABASEERR + 67)
#define WSAEUSERS (WSABASEERR + 68)
#define WSAEDQUOT (WSABASEERR + 69)
#define WSAESTALE (WSABASEERR + 70)
#define WSAEREMOTE (WSABASEERR + 71)
#define WSAEDISCON (WSABASEERR + 101)
#define WSASYSNOTREADY (WSABASEERR + 91)
#define WSAVERNOTSUPPORTED (WSABASEERR + 92)
#define WSANOTINITIALISED (WSABASEERR + 93)
#define WSAHOST_NOT_FOUND (WSABASEERR + 1001)
#define WSATRY_AGAIN (WSABASEERR + 1002)
#define WSANO_RECOVERY (WSABASEERR + 1003)
#define WSANO_DATA (WSABASEERR + 1004)
#define WSANO_ADDRESS WSANO_DATA
#define HOST_NOT_FOUND WSAHOST_NOT_FOUND
#define TRY_AGAIN WSATRY_AGAIN
#define NO_RECOVERY WSANO_RECOVERY
#define NO_DATA WSANO_DATA
#define NO_ADDRESS WSANO_ADDRESS
#undef h_errno
#define h_errno WSAGetLastError()

/* Message parameters of WSAAsyncSelect and the WSAAsync database calls */
#define WSAMAKEASYNCREPLY(buflen, error) MAKELONG(buflen, error)
#define WSAMAKESELECTREPLY(event, error) MAKELONG(event, error)
#define WSAGETASYNCBUFLEN(lParam) LOWORD(lParam)
#define WSAGETASYNCERROR(lParam) HIWORD(lParam)
#define WSAGETSELECTEVENT(lParam) LOWORD(lParam)
#define WSAGETSELECTERROR(lParam) HIWORD(lParam)

QX_EXTERN_C_BEGIN

/* Calls whose names the C library also has: prefixed symbols. */
WINBASEAPI SOCKET PASCAL accept(SOCKET s, struct sockaddr *addr, int *addrlen) __asm__("qxws_accept");
WINBASEAPI int PASCAL bind(SOCKET s, const struct sockaddr *addr, int namelen) __asm__("qxws_bind");
WINBASEAPI int PASCAL connect(SOCKET s, const struct sockaddr *name, int namelen) __asm__("qxws_connect");
WINBASEAPI int PASCAL getpeername(SOCKET s, struct sockaddr *name, int *namelen) __asm__("qxws_getpeername");
WINBASEAPI int PASCAL getsockname(SOCKET s, struct sockaddr *name, int *namelen) __asm__("qxws_getsockname");
WINBASEAPI int PASCAL getsockopt(SOCKET s, int level, int optname, char *optval,
                                 int *optlen) __asm__("qxws_getsockopt");
WINBASEAPI ULONG PASCAL htonl(ULONG hostlong) __asm__("qxws_htonl");
WINBASEAPI u_short PASCAL htons(u_short hostshort) __asm__("qxws_htons");
WINBASEAPI ULONG PASCAL inet_addr(const char *cp) __asm__("qxws_inet_addr");
WINBASEAPI char *PASCAL inet_ntoa(struct in_addr in) __asm__("qxws_inet_ntoa");
WINBASEAPI int PASCAL listen(SOCKET s, int backlog) __asm__("qxws_listen");
WINBASEAPI ULONG PASCAL ntohl(ULONG netlong) __asm__("qxws_ntohl");
WINBASEAPI u_short PASCAL ntohs(u_short netshort) __asm__("qxws_ntohs");
WINBASEAPI int PASCAL recv(SOCKET s, char *buf, int len, int flags) __asm__("qxws_recv");
WINBASEAPI int PASCAL recvfrom(SOCKET s, char *buf, int len, int flags, struct sockaddr *from,
                               int *fromlen) __asm__("qxws_recvfrom");
WINBASEAPI int PASCAL send(SOCKET s, const char *buf, int len, int flags) __asm__("qxws_send");
WINBASEAPI int PASCAL sendto(SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to,
                             int tolen) __asm__("qxws_sendto");
WINBASEAPI int PASCAL setsockopt(SOCKET s, int level, int optname, const char *optval,
                                 int optlen) __asm__("qxws_setsockopt");
WINBASEAPI int PASCAL shutdown(SOCKET s, int how) __asm__("qxws_shutdown");
WINBASEAPI SOCKET PASCAL socket(int af, int type, int protocol) __asm__("qxws_socket");
WINBASEAPI struct hostent *PASCAL gethostbyaddr(const char *addr, int len, int type) __asm__("qxws_gethostbyaddr");
WINBASEAPI struct hostent *PASCAL gethostbyname(const char *name) __asm__("qxws_gethostbyname");
WINBASEAPI struct servent *PASCAL getservbyport(int port, const char *proto) __asm__("qxws_getservbyport");
WINBASEAPI struct servent *PASCAL getservbyname(const char *name, const char *proto) __asm__("qxws_getservbyname");
WINBASEAPI struct protoent *PASCAL getprotobynumber(int proto) __asm__("qxws_getprotobynumber");
WINBASEAPI struct protoent *PASCAL getprotobyname(const char *name) __asm__("qxws_getprotobyname");

/* select and gethostname are declared by the C library's own headers, which
 * are already in: function-like macros reach the layer instead. */
WINBASEAPI int PASCAL qxws_select(int nfds, qx_fd_set *readfds, qx_fd_set *writefds, qx_fd_set *exceptfds,
                                  const struct timeval *timeout);
WINBASEAPI int PASCAL qxws_gethostname(char *name, int namelen);
#define select(nfds, readfds, writefds, exceptfds, timeout) \
  qxws_select((nfds), (readfds), (writefds), (exceptfds), (timeout))
#define gethostname(name, namelen) qxws_gethostname((name), (namelen))

/* Winsock's own calls */
WINBASEAPI int PASCAL closesocket(SOCKET s);
WINBASEAPI int PASCAL ioctlsocket(SOCKET s, long cmd, u_long *argp);
WINBASEAPI int PASCAL WSAStartup(WORD wVersionRequired, LPWSADATA lpWSAData);
WINBASEAPI int PASCAL WSACleanup(void);
WINBASEAPI void PASCAL WSASetLastError(int iError);
WINBASEAPI int PASCAL WSAGetLastError(void);
WINBASEAPI BOOL PASCAL WSAIsBlocking(void);
WINBASEAPI int PASCAL WSAUnhookBlockingHook(void);
WINBASEAPI FARPROC PASCAL WSASetBlockingHook(FARPROC lpBlockFunc);
WINBASEAPI int PASCAL WSACancelBlockingCall(void);
WINBASEAPI int PASCAL WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent);

/* Asynchronous host lookups: the result is laid out in buf (MAXGETHOSTSTRUCT
 * bytes suffice) and wMsg is posted with wParam = the task handle and lParam =
 * WSAMAKEASYNCREPLY(length, error); WSAENOBUFS gives the length needed. */
WINBASEAPI HANDLE PASCAL WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char *name, char *buf, int buflen);
WINBASEAPI HANDLE PASCAL WSAAsyncGetHostByAddr(HWND hWnd, u_int wMsg, const char *addr, int len, int type, char *buf,
                                               int buflen);
WINBASEAPI int PASCAL WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);

QX_EXTERN_C_END

#endif
