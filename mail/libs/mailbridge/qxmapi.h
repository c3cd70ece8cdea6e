/* Simple MAPI as mailbridge serves it, for programs that load the library by
 * name (LoadLibraryA("mailbridge") or "MAPI.DLL") and take its functions with
 * GetProcAddress. The records keep the standard's field order; ULONG and
 * FLAGS are 32 bits, as on 64-bit Windows. Usable from C and C++. */
#ifndef QX_MAPI_H
#define QX_MAPI_H

#include <windows.h>

#include <stdint.h>

QX_EXTERN_C_BEGIN

typedef uint32_t MAPI_ULONG;
typedef uint32_t MAPI_FLAGS;
typedef ULONG_PTR LHANDLE;

/* The shared default session. */
#define MAPI_DEFAULT_SESSION ((LHANDLE)0xFFFFFFFFu)

typedef struct {
  MAPI_ULONG ulReserved;
  MAPI_ULONG ulRecipClass; /* MAPI_ORIG, MAPI_TO, MAPI_CC, MAPI_BCC */
  LPSTR lpszName;
  LPSTR lpszAddress;
  MAPI_ULONG ulEIDSize;
  LPVOID lpEntryID;
} MapiRecipDesc, *lpMapiRecipDesc;

typedef struct {
  MAPI_ULONG ulReserved;
  MAPI_ULONG flFlags;
  MAPI_ULONG nPosition;
  LPSTR lpszPathName;
  LPSTR lpszFileName;
  LPVOID lpFileType;
} MapiFileDesc, *lpMapiFileDesc;

typedef struct {
  MAPI_ULONG ulReserved;
  LPSTR lpszSubject;
  LPSTR lpszNoteText;
  LPSTR lpszMessageType;
  LPSTR lpszDateReceived;
  LPSTR lpszConversationID;
  MAPI_FLAGS flFlags;
  lpMapiRecipDesc lpOriginator;
  MAPI_ULONG nRecipCount;
  lpMapiRecipDesc lpRecips;
  MAPI_ULONG nFileCount;
  lpMapiFileDesc lpFiles;
} MapiMessage, *lpMapiMessage;

#define MAPI_ORIG 0
#define MAPI_TO 1
#define MAPI_CC 2
#define MAPI_BCC 3

/* Flags */
#define MAPI_LOGON_UI 0x00000001
#define MAPI_NEW_SESSION 0x00000002
#define MAPI_DIALOG 0x00000008
#define MAPI_FORCE_DOWNLOAD 0x00001000
#define MAPI_RECEIPT_REQUESTED 0x00000002 /* in MapiMessage.flFlags */
/* MAPILogon: make the pair the shared default (8) or take its user (0x10). */
#define MAPI_SHARED_DEFAULT 0x00000008
#define MAPI_DEFAULT_USER 0x00000010

/* Results */
#define SUCCESS_SUCCESS 0
#define MAPI_USER_ABORT 1
#define MAPI_E_FAILURE 2
#define MAPI_E_LOGIN_FAILURE 3
#define MAPI_E_INSUFFICIENT_MEMORY 5
#define MAPI_E_NO_MESSAGES 16
#define MAPI_E_INVALID_SESSION 19
#define MAPI_E_NOT_SUPPORTED 26

typedef MAPI_ULONG(WINAPI *LPMAPILOGON)(ULONG_PTR uiParam, LPSTR profileName, LPSTR password, MAPI_FLAGS flags,
                                        MAPI_ULONG reserved, LHANDLE *session);
typedef MAPI_ULONG(WINAPI *LPMAPILOGOFF)(LHANDLE session, ULONG_PTR uiParam, MAPI_FLAGS flags, MAPI_ULONG reserved);
typedef MAPI_ULONG(WINAPI *LPMAPISENDMAIL)(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, MAPI_FLAGS flags,
                                           MAPI_ULONG reserved);
typedef MAPI_ULONG(WINAPI *LPMAPISENDDOCUMENTS)(ULONG_PTR uiParam, LPSTR delimiter, LPSTR filePaths, LPSTR fileNames,
                                                MAPI_ULONG reserved);
typedef MAPI_ULONG(WINAPI *LPMAPISAVEMAIL)(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, MAPI_FLAGS flags,
                                           MAPI_ULONG reserved, LPSTR messageId);
typedef MAPI_ULONG(WINAPI *LPMAPIREADMAIL)(LHANDLE session, ULONG_PTR uiParam, LPSTR messageId, MAPI_FLAGS flags,
                                           MAPI_ULONG reserved, lpMapiMessage *message);
typedef MAPI_ULONG(WINAPI *LPMAPIDELETEMAIL)(LHANDLE session, ULONG_PTR uiParam, LPSTR messageId, MAPI_FLAGS flags,
                                             MAPI_ULONG reserved);
typedef MAPI_ULONG(WINAPI *LPMAPIFREEBUFFER)(LPVOID buffer);
typedef MAPI_ULONG(WINAPI *LPMAPIRESOLVENAME)(LHANDLE session, ULONG_PTR uiParam, LPSTR name, MAPI_FLAGS flags,
                                              MAPI_ULONG reserved, lpMapiRecipDesc *recip);
typedef MAPI_ULONG(WINAPI *LPMAPIADDRESS)(LHANDLE session, ULONG_PTR uiParam, LPSTR caption, MAPI_ULONG editFields,
                                          LPSTR labels, MAPI_ULONG recipCount, lpMapiRecipDesc recips, MAPI_FLAGS flags,
                                          MAPI_ULONG reserved, MAPI_ULONG *newCount, lpMapiRecipDesc *newRecips);

/* A saved message's identifier is the path of its file; MAPISaveMail writes
 * at most this many characters (with the NUL) into the caller's buffer. */
#define MAPI_MESSAGE_ID_SIZE 512

QX_EXTERN_C_END

#endif
