/* The modeless "REQUEST" dialog of the talk daemons: the caller's name and
 * address (the host name once its lookup ends), Talk and Cancel. The daemon
 * shows it in its own process, or a ring helper shows it on the desktop of
 * the user at the console (consolering.cpp); each says through its hooks
 * what an answer and the dialog's end mean. */
#ifndef QX_SERVERS_REQUESTDIALOG_H
#define QX_SERVERS_REQUESTDIALOG_H

#include <windows.h>

#include <string>

#include "talkdaemon.h"

/* Who calls: what the dialog shows. */
struct REQUEST_CALLER {
  unsigned serial = 0; /* the invitation it answers (0 in a ring helper) */
  std::string lName;
  std::string rName; /* the called user, cut at its first blank */
  unsigned char ip[4] = {};
};

struct REQUEST_HOOKS {
  void (*answered)(HWND dialog, unsigned serial, bool talk); /* Talk, Cancel or closed */
  void (*gone)(HWND dialog, unsigned serial);                /* WM_DESTROY */
};

/* Registers the dialog resource with the flavour's caption (once a process). */
void RegisterRequestDialog(const TALK_FLAVOUR *flavour);

/* Creates the dialog, modeless, owned by owner (none in a ring helper). */
HWND CreateRequestDialog(HINSTANCE instance, HWND owner, const REQUEST_CALLER &caller, const REQUEST_HOOKS *hooks);

/* Talk was pressed: the local talk client, started with the caller's name
 * and address and the called user. A name that may not go on a command line
 * starts nothing; a client that cannot be started is said in a message box
 * owned by owner. True when the client runs. */
bool StartTalkClient(const TALK_FLAVOUR *flavour, const TalkRequest &request, HWND owner);

#endif
