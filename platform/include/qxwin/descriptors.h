/* Security descriptors and access-control lists of files, and the logon calls
 * of the Local Security Authority with the tokens they give.
 *
 * A file's descriptor is made from its owner, group and mode: owner SID
 * S-1-22-1-<uid>, group SID S-1-22-2-<gid>, and a DACL of access-allowed
 * entries for the owner (always, with WRITE_DAC), the group and Everyone
 * (S-1-1-0), each present when its class has a permission bit. Read is
 * FILE_GENERIC_READ (0x120089), write FILE_GENERIC_WRITE (0x120116 with
 * DELETE, 0x130116), execute FILE_GENERIC_EXECUTE (0x1200A0). Writing a
 * descriptor back changes the file's owner and group (fchownat) and mode
 * (fchmodat) the same way, so the kernel's rules decide who may do it.
 *
 * Logons go through PAM (service "qxlogon" unless QX_PAM_SERVICE names
 * another); a token is a handle that carries the account's uid, gid and
 * groups. Include this header beside <windows.h>. */
#ifndef QX_WIN_DESCRIPTORS_H
#define QX_WIN_DESCRIPTORS_H

#include "base.h"
#include "security.h"

typedef DWORD SECURITY_INFORMATION, *PSECURITY_INFORMATION;
#define OWNER_SECURITY_INFORMATION 0x00000001u
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u
#define SACL_SECURITY_INFORMATION 0x00000008u

#define SECURITY_DESCRIPTOR_REVISION 1
#define ACL_REVISION 2
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
#define OBJECT_INHERIT_ACE 0x1
#define CONTAINER_INHERIT_ACE 0x2
#define NO_PROPAGATE_INHERIT_ACE 0x4
#define INHERIT_ONLY_ACE 0x8
#define MAXDWORD 0xffffffffu

#ifndef FILE_READ_DATA
#define FILE_READ_DATA 0x0001u
#endif
#ifndef FILE_WRITE_DATA
#define FILE_WRITE_DATA 0x0002u
#endif
#ifndef FILE_APPEND_DATA
#define FILE_APPEND_DATA 0x0004u
#endif
#ifndef FILE_READ_EA
#define FILE_READ_EA 0x0008u
#endif
#ifndef FILE_WRITE_EA
#define FILE_WRITE_EA 0x0010u
#endif
#ifndef FILE_EXECUTE
#define FILE_EXECUTE 0x0020u
#endif
#ifndef FILE_READ_ATTRIBUTES
#define FILE_READ_ATTRIBUTES 0x0080u
#endif
#ifndef FILE_WRITE_ATTRIBUTES
#define FILE_WRITE_ATTRIBUTES 0x0100u
#endif
#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000u
#endif
#define FILE_GENERIC_READ_RIGHTS 0x00120089u
#define FILE_GENERIC_WRITE_RIGHTS 0x00130116u
#define FILE_GENERIC_EXECUTE_RIGHTS 0x001200A0u

typedef WORD SECURITY_DESCRIPTOR_CONTROL, *PSECURITY_DESCRIPTOR_CONTROL;
#define SE_OWNER_DEFAULTED 0x0001
#define SE_GROUP_DEFAULTED 0x0002
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define SE_SACL_PRESENT 0x0010
#define SE_SACL_DEFAULTED 0x0020
#define SE_SELF_RELATIVE 0x8000

typedef struct _ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
} ACL, *PACL;

typedef struct _ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
} ACE_HEADER, *PACE_HEADER;

typedef struct _ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  DWORD Mask;
  DWORD SidStart;
} ACCESS_ALLOWED_ACE, *PACCESS_ALLOWED_ACE;

/* The absolute form; the self-relative form keeps 32-bit offsets from the
 * descriptor's start in place of the four pointers (20 bytes in all). */
typedef struct _SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
} SECURITY_DESCRIPTOR, *PISECURITY_DESCRIPTOR;
typedef void *PSECURITY_DESCRIPTOR;
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))

typedef enum _ACL_INFORMATION_CLASS { AclRevisionInformation = 1, AclSizeInformation } ACL_INFORMATION_CLASS;
typedef struct _ACL_SIZE_INFORMATION {
  DWORD AceCount;
  DWORD AclBytesInUse;
  DWORD AclBytesFree;
} ACL_SIZE_INFORMATION;

#ifndef ERROR_INVALID_OWNER
#define ERROR_INVALID_OWNER 1307L
#define ERROR_INVALID_PRIMARY_GROUP 1308L
#define ERROR_NO_SUCH_USER 1317L
#define ERROR_LOGON_FAILURE 1326L
#define ERROR_ACCOUNT_RESTRICTION 1327L
#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_SECURITY_DESCR 1338L
#define ERROR_BAD_DESCRIPTOR_FORMAT 1361L
#endif
#ifndef ERROR_ALLOTTED_SPACE_EXCEEDED
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L
#endif

QX_EXTERN_C_BEGIN

WINBASEAPI BOOL WINAPI GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                                        PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                                        LPDWORD lpnLengthNeeded);
WINBASEAPI BOOL WINAPI SetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                                        PSECURITY_DESCRIPTOR pSecurityDescriptor);
#define GetFileSecurity GetFileSecurityA
#define SetFileSecurity SetFileSecurityA

WINBASEAPI BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
WINBASEAPI BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor);
WINBASEAPI DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor);
WINBASEAPI BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                                    PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision);
WINBASEAPI BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID *pOwner,
                                                  LPBOOL lpbOwnerDefaulted);
WINBASEAPI BOOL WINAPI GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID *pGroup,
                                                  LPBOOL lpbGroupDefaulted);
WINBASEAPI BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                                                 PACL *pDacl, LPBOOL lpbDaclDefaulted);
WINBASEAPI BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                                  BOOL bOwnerDefaulted);
WINBASEAPI BOOL WINAPI SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup,
                                                  BOOL bGroupDefaulted);
WINBASEAPI BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                                 PACL pDacl, BOOL bDaclDefaulted);
WINBASEAPI BOOL WINAPI MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                                      PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                                      LPDWORD lpdwAbsoluteSecurityDescriptorSize, PACL pDacl, LPDWORD lpdwDaclSize,
                                      PACL pSacl, LPDWORD lpdwSaclSize, PSID pOwner, LPDWORD lpdwOwnerSize,
                                      PSID pPrimaryGroup, LPDWORD lpdwPrimaryGroupSize);
WINBASEAPI BOOL WINAPI MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                                          PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                                          LPDWORD lpdwBufferLength);

WINBASEAPI BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision);
WINBASEAPI BOOL WINAPI IsValidAcl(PACL pAcl);
WINBASEAPI BOOL WINAPI GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                                         ACL_INFORMATION_CLASS dwAclInformationClass);
WINBASEAPI BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID *pAce);
WINBASEAPI BOOL WINAPI AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid);
WINBASEAPI BOOL WINAPI DeleteAce(PACL pAcl, DWORD dwAceIndex);

QX_EXTERN_C_END

#endif
