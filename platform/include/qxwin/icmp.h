/* ICMP echo as ICMP.DLL offers it: structures, status codes and the entry
 * points of the module "ICMP.DLL" (icmp.so), which programs load by name:
 *   IcmpCreateFile, IcmpSendEcho, IcmpCloseHandle
 *   register_icmp, do_echo_req, do_echo_rep
 * Include <icmpapi.h> (or <ipexport.h> for the structures alone). */
#ifndef QX_WIN_ICMP_H
#define QX_WIN_ICMP_H

#include "base.h"

typedef ULONG IPAddr; /* IPv4 address in network byte order */

typedef struct ip_option_information {
  UCHAR Ttl;
  UCHAR Tos;
  UCHAR Flags; /* IP_FLAG_DF */
  UCHAR OptionsSize;
  UCHAR *OptionsData;
} IP_OPTION_INFORMATION, *PIP_OPTION_INFORMATION;

typedef struct icmp_echo_reply {
  IPAddr Address; /* who answered: the destination, or a router on the way */
  ULONG Status;   /* IP_SUCCESS or one of the IP_ codes below */
  ULONG RoundTripTime;
  USHORT DataSize; /* echoed bytes at Data */
  USHORT Reserved;
  void *Data;
  IP_OPTION_INFORMATION Options; /* of the reply: Ttl, Tos */
} ICMP_ECHO_REPLY, *PICMP_ECHO_REPLY;

#define IP_FLAG_DF 0x02

#define IP_STATUS_BASE 11000
#define IP_SUCCESS 0
#define IP_BUF_TOO_SMALL (IP_STATUS_BASE + 1)
#define IP_DEST_NET_UNREACHABLE (IP_STATUS_BASE + 2)
#define IP_DEST_HOST_UNREACHABLE (IP_STATUS_BASE + 3)
#define IP_DEST_PROT_UNREACHABLE (IP_STATUS_BASE + 4)
#define IP_DEST_PORT_UNREACHABLE (IP_STATUS_BASE + 5)
#define IP_NO_RESOURCES (IP_STATUS_BASE + 6)
#define IP_BAD_OPTION (IP_STATUS_BASE + 7)
#define IP_HW_ERROR (IP_STATUS_BASE + 8)
#define IP_PACKET_TOO_BIG (IP_STATUS_BASE + 9)
#define IP_REQ_TIMED_OUT (IP_STATUS_BASE + 10)
#define IP_BAD_REQ (IP_STATUS_BASE + 11)
#define IP_BAD_ROUTE (IP_STATUS_BASE + 12)
#define IP_TTL_EXPIRED_TRANSIT (IP_STATUS_BASE + 13)
#define IP_TTL_EXPIRED_REASSEM (IP_STATUS_BASE + 14)
#define IP_PARAM_PROBLEM (IP_STATUS_BASE + 15)
#define IP_SOURCE_QUENCH (IP_STATUS_BASE + 16)
#define IP_OPTION_TOO_BIG (IP_STATUS_BASE + 17)
#define IP_BAD_DESTINATION (IP_STATUS_BASE + 18)
#define IP_GENERAL_FAILURE (IP_STATUS_BASE + 50)

QX_EXTERN_C_BEGIN

/* A handle for echo requests, or INVALID_HANDLE_VALUE (last error set) when
 * neither an ICMP datagram socket nor a raw socket can be had. */
HANDLE WINAPI IcmpCreateFile(void);
BOOL WINAPI IcmpCloseHandle(HANDLE IcmpHandle);
/* Sends one echo request and waits up to Timeout ms. Returns the replies in
 * ReplyBuffer (1: an ICMP_ECHO_REPLY followed by the echoed data, Status
 * telling an echo reply from a router's error), or 0 with the last error an
 * IP_ status (IP_REQ_TIMED_OUT when nothing came). */
DWORD WINAPI IcmpSendEcho(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData, WORD RequestSize,
                          PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer, DWORD ReplySize, DWORD Timeout);

/* The second entry set: a handle closed with CloseHandle, a request sent,
 * then its reply awaited (up to 5 s, or until the handle is closed). */
HANDLE WINAPI register_icmp(void);
/* Sends an echo request; options_data/options_size are IP options, tos, ttl
 * and flags (IP_FLAG_DF) set the header. Returns 0 or an IP_ status. */
DWORD WINAPI do_echo_req(HANDLE handle, IPAddr destination, LPVOID data, UINT data_size, LPVOID options_data,
                         UINT options_size, UINT tos, UINT ttl, UINT flags, UINT reserved);
/* Waits for the reply to the last request: 0 when the echo reply came, else
 * its IP_ status. The echoed data goes to buffer; each output pointer may be
 * NULL: status, round trip in ms, the answering address, echoed bytes, and
 * the reply's TTL, TOS and flags. */
DWORD WINAPI do_echo_rep(HANDLE handle, LPVOID buffer, UINT size, ULONG *status, ULONG *round_trip, IPAddr *from,
                         UINT *data_size, UINT *ttl, UINT *tos, UINT *flags);

QX_EXTERN_C_END

#endif
