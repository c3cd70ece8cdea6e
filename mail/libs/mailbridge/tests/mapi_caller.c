/* A mail-enabled program as such programs are written, in C: it loads the
 * Simple MAPI library by name, logs on and sends one message with a To and a
 * Cc recipient and one attachment, and ends with the library's result.
 *   mapi_caller SUBJECT TO CC ATTACHMENT */
#include <stdio.h>
#include <string.h>

#include "qxmapi.h"

int main(int argc, char **argv) {
  HMODULE mapi;
  LPMAPILOGON logon;
  LPMAPISENDMAIL send;
  LPMAPILOGOFF logoff;
  LHANDLE session = 0;
  MapiRecipDesc recips[2];
  MapiFileDesc file;
  MapiMessage message;
  MAPI_ULONG result;
  if (argc != 5) {
    fprintf(stderr, "usage: mapi_caller SUBJECT TO CC ATTACHMENT\n");
    return 100;
  }
  mapi = LoadLibraryA("MAPI.DLL");
  if (!mapi) {
    fprintf(stderr, "mapi_caller: MAPI.DLL could not be loaded\n");
    return 101;
  }
  logon = (LPMAPILOGON)(void (*)(void))GetProcAddress(mapi, "MAPILogon");
  send = (LPMAPISENDMAIL)(void (*)(void))GetProcAddress(mapi, "MAPISendMail");
  logoff = (LPMAPILOGOFF)(void (*)(void))GetProcAddress(mapi, "MAPILogoff");
  if (!logon || !send || !logoff) {
    fprintf(stderr, "mapi_caller: MAPI.DLL lacks a Simple MAPI function\n");
    return 102;
  }
  result = logon(0, "pat", "pw", 0, 0, &session);
  if (result != SUCCESS_SUCCESS) {
    printf("logon %u\n", (unsigned)result);
    return (int)result;
  }
  memset(recips, 0, sizeof recips);
  recips[0].ulRecipClass = MAPI_TO;
  recips[0].lpszAddress = argv[2];
  recips[1].ulRecipClass = MAPI_CC;
  recips[1].lpszName = argv[3];
  memset(&file, 0, sizeof file);
  file.nPosition = 0xFFFFFFFFu;
  file.lpszPathName = argv[4];
  file.lpszFileName = "Attachment";
  memset(&message, 0, sizeof message);
  message.lpszSubject = argv[1];
  message.lpszNoteText = "Sent by a C program.";
  message.nRecipCount = 2;
  message.lpRecips = recips;
  message.nFileCount = 1;
  message.lpFiles = &file;
  result = send(session, 0, &message, MAPI_DIALOG, 0);
  logoff(session, 0, 0, 0);
  printf("send %u\n", (unsigned)result);
  FreeLibrary(mapi);
  return (int)result;
}
