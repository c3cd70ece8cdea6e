/* Accounts and security identifiers: user and computer names, SIDs built from
 * the system's users and groups, and name <-> SID lookups.
 *
 * SIDs of this machine's accounts: S-1-22-1-<uid> for a user, S-1-22-2-<gid>
 * for a group (the "Unix User" and "Unix Group" authorities). Well-known SIDs
 * such as S-1-1-0 (Everyone) and S-1-5-32-544 (Administrators) are known by
 * name too. */
#ifndef QX_WIN_SECURITY_H
#define QX_WIN_SECURITY_H

#include "base.h"

#ifndef ERROR_BUFFER_OVERFLOW
#define ERROR_BUFFER_OVERFLOW 111L
#endif

#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define SECURITY_MAX_SID_SIZE (8 + SID_MAX_SUB_AUTHORITIES * 4)
#define MAX_COMPUTERNAME_LENGTH 15
#define UNLEN 256

typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

/* The binary layout of a SID: revision, count, 48-bit big-endian authority,
 * then count 32-bit sub-authorities. */
typedef struct _SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
} SID, *PISID;
typedef void *PSID;

typedef enum _SID_NAME_USE {
  SidTypeUser = 1,
  SidTypeGroup,
  SidTypeDomain,
  SidTypeAlias,
  SidTypeWellKnownGroup,
  SidTypeDeletedAccount,
  SidTypeInvalid,
  SidTypeUnknown,
  SidTypeComputer,
  SidTypeLabel
} SID_NAME_USE,
    *PSID_NAME_USE;

#define SECURITY_NULL_SID_AUTHORITY \
  {                                 \
    { 0, 0, 0, 0, 0, 0 }            \
  }
#define SECURITY_WORLD_SID_AUTHORITY \
  {                                  \
    { 0, 0, 0, 0, 0, 1 }             \
  }
#define SECURITY_LOCAL_SID_AUTHORITY \
  {                                  \
    { 0, 0, 0, 0, 0, 2 }             \
  }
#define SECURITY_CREATOR_SID_AUTHORITY \
  {                                    \
    { 0, 0, 0, 0, 0, 3 }               \
  }
#define SECURITY_NT_AUTHORITY \
  {                           \
    { 0, 0, 0, 0, 0, 5 }      \
  }
#define SECURITY_UNIX_AUTHORITY \
  {                             \
    { 0, 0, 0, 0, 0, 22 }       \
  }

#define SECURITY_NULL_RID 0x00000000u
#define SECURITY_WORLD_RID 0x00000000u
#define SECURITY_LOCAL_RID 0x00000000u
#define SECURITY_CREATOR_OWNER_RID 0x00000000u
#define SECURITY_DIALUP_RID 0x00000001u
#define SECURITY_NETWORK_RID 0x00000002u
#define SECURITY_BATCH_RID 0x00000003u
#define SECURITY_INTERACTIVE_RID 0x00000004u
#define SECURITY_SERVICE_RID 0x00000006u
#define SECURITY_ANONYMOUS_LOGON_RID 0x00000007u
#define SECURITY_AUTHENTICATED_USER_RID 0x0000000Bu
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012u
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020u
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220u
#define DOMAIN_ALIAS_RID_USERS 0x00000221u
#define DOMAIN_ALIAS_RID_GUESTS 0x00000222u
#define SECURITY_UNIX_USER_RID 1u
#define SECURITY_UNIX_GROUP_RID 2u

QX_EXTERN_C_BEGIN

WINBASEAPI BOOL WINAPI GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer);
WINBASEAPI BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
#define GetUserName GetUserNameA
#define GetComputerName GetComputerNameA

WINBASEAPI BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                                                DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                                                DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                                                DWORD nSubAuthority6, DWORD nSubAuthority7, PSID *pSid);
WINBASEAPI PVOID WINAPI FreeSid(PSID pSid);
WINBASEAPI BOOL WINAPI InitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount);
WINBASEAPI BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2);
WINBASEAPI DWORD WINAPI GetLengthSid(PSID pSid);
WINBASEAPI BOOL WINAPI IsValidSid(PSID pSid);
WINBASEAPI BOOL WINAPI CopySid(DWORD nDestinationSidLength, PSID pDestinationSid, PSID pSourceSid);
WINBASEAPI DWORD WINAPI GetSidLengthRequired(UCHAR nSubAuthorityCount);
WINBASEAPI PSID_IDENTIFIER_AUTHORITY WINAPI GetSidIdentifierAuthority(PSID pSid);
WINBASEAPI UCHAR *WINAPI GetSidSubAuthorityCount(PSID pSid);
WINBASEAPI PDWORD WINAPI GetSidSubAuthority(PSID pSid, DWORD nSubAuthority);
/* The string and the SID made here are freed with LocalFree. */
WINBASEAPI BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR *StringSid);
WINBASEAPI BOOL WINAPI ConvertStringSidToSidA(LPCSTR StringSid, PSID *Sid);
#define ConvertSidToStringSid ConvertSidToStringSidA
#define ConvertStringSidToSid ConvertStringSidToSidA

WINBASEAPI BOOL WINAPI LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                                          LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                                          PSID_NAME_USE peUse);
WINBASEAPI BOOL WINAPI LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                                         LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                                         PSID_NAME_USE peUse);
#define LookupAccountName LookupAccountNameA
#define LookupAccountSid LookupAccountSidA

QX_EXTERN_C_END

#endif
