/* The talk daemons: each control datagram gets one response; an ANNOUNCE for
 * the console user rings with the modeless "REQUEST" dialog, and Talk starts
 * the local talk client with the caller's name and address. The daemon ends
 * after 65,535 ms without a datagram, or when a DELETE empties its list.
 * Run without a display (as a service), it rings on the desktop of the user
 * at the console (consolering.h). */
#include "talkdaemon.h"

#include "consolering.h"
#include "requestdialog.h"

#include <qxcommon.h>
#include <qxdaemon.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

constexpr UINT kIdleMs = 65535;
constexpr UINT kIdleTimer = 1;
constexpr int kCmdClose = 1;
/* Posted by a REQUEST dialog to the daemon's window: wParam the invitation's
 * serial, lParam 1 for Talk, 0 for Cancel. */
constexpr UINT WM_INVITE_ANSWERED = WM_USER + 1;

const TALK_FLAVOUR *g_Flavour = nullptr;
InvitationList g_Invitations;

uint64_t NowMs() {
  return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool ConsoleAccount(std::string *name) {
  char account[128] = "";
  if (!FindLoggedOnAccount(account, sizeof account)) return false;
  *name = account;
  return true;
}

/* ---- The REQUEST dialog ---- */

void DialogAnswered(HWND, unsigned serial, bool talk) {
  PostMessageA(g_DaemonWindow, WM_INVITE_ANSWERED, serial, talk ? 1 : 0);
}

void DialogGone(HWND dialog, unsigned serial) {
  TalkInvitation *inv = g_Invitations.FindBySerial(serial);
  if (inv && inv->dialog == dialog) inv->dialog = nullptr;
}

const REQUEST_HOOKS kDaemonHooks = {DialogAnswered, DialogGone};

/* A daemon with a display of its own shows the dialog itself; one without
 * (a service) shows it on the desktop of the user at the console, or, when
 * there is none, itself after all. */
REQUEST_CALLER CallerOf(const TalkInvitation &inv) {
  REQUEST_CALLER caller;
  caller.serial = inv.serial;
  caller.lName = inv.request.lName;
  caller.rName = inv.request.rName.substr(0, inv.request.rName.find(' '));
  TalkSockaddrIp(inv.request.ctlAddr, caller.ip);
  return caller;
}

void ShowRequestDialog(unsigned serial) {
  TalkInvitation *inv = g_Invitations.FindBySerial(serial);
  if (!inv) return;
  inv->refused = false;
  if (!DaemonHasOwnDisplay() && StartConsoleRing(g_Flavour, CallerOf(*inv))) {
    inv->ringing = true;
    return;
  }
  inv->dialog = CreateRequestDialog(g_DaemonInstance, g_DaemonWindow, CallerOf(*inv), &kDaemonHooks);
}

/* Offers a message of the loop to the open REQUEST dialogs. */
BOOL InviteDialogMessage(MSG *message) {
  for (HWND dialog : g_Invitations.Dialogs())
    if (IsDialogMessageA(dialog, message)) return TRUE;
  return FALSE;
}

void OnInviteAnswered(unsigned serial, bool talk) {
  TalkInvitation *inv = g_Invitations.FindBySerial(serial);
  if (!inv) return; /* deleted or expired meanwhile */
  inv->refused = false;
  if (talk)
    inv->refused = !StartTalkClient(g_Flavour, inv->request, g_DaemonWindow);
  else
    inv->refused = true;
  /* An accepted call leaves nothing behind; a refused one stays and answers
   * the caller's later announcements with PERMISSION_DENIED. */
  if (!inv->refused) g_Invitations.Remove(serial);
}

/* The helper on the console user's desktop has answered. Talk: the client
 * runs there. A display it could not open: the daemon shows the dialog. */
void OnRingAnswered(unsigned serial, RING_ANSWER answer) {
  TalkInvitation *inv = g_Invitations.FindBySerial(serial);
  if (!inv) return;
  inv->ringing = false;
  if (answer == RING_NO_SCREEN) {
    TellDialogsHereOnce(g_Flavour, "the console user's display cannot be opened as that user");
    inv->dialog = CreateRequestDialog(g_DaemonInstance, g_DaemonWindow, CallerOf(*inv), &kDaemonHooks);
    return;
  }
  inv->refused = answer != RING_TALK;
  if (answer == RING_TALK) g_Invitations.Remove(serial);
}

/* ---- Control messages ---- */

void SendResponse(const TalkRequest &request, const TalkResponse &response) {
  /* The response goes to the request's control address; a family other
   * than the Internet's gives no address to answer to. */
  if (request.ctlAddr[0] != 2 || request.ctlAddr[1] != 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  memcpy(&to.sin_port, request.ctlAddr + 2, 2);
  memcpy(&to.sin_addr, request.ctlAddr + 4, 4);
  const std::string bytes = TalkEncodeResponse(*g_Flavour->layout, response);
  WsSendTo(g_DaemonSocket, bytes.data(), (int)bytes.size(), 0, (const sockaddr *)&to, sizeof to);
}

void HandleControlMessage(HWND window) {
  char buffer[TALK_REQUEST_SIZE + 1]; /* one byte more: a longer datagram is seen as such */
  sockaddr_in from{};
  const int got = DatagramReceive(window, buffer, g_Flavour->layout->requestSize + 1, &from);
  TalkRequest request;
  if (!TalkDecodeRequest(*g_Flavour->layout, buffer, got, &request)) return; /* dropped, no answer */
  TalkActions actions;
  const TalkResponse response = g_Invitations.DispatchRequest(request, NowMs(), &actions);
  SendResponse(request, response);
  if (actions.showDialogFor) ShowRequestDialog(actions.showDialogFor);
  if (actions.listEmptiedByDelete) PostMessageA(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK ParleyWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DAEMON_READ:
      HandleControlMessage(window);
      KillTimer(window, kIdleTimer);
      SetTimer(window, kIdleTimer, kIdleMs, nullptr);
      return 0;
    case WM_INVITE_ANSWERED: OnInviteAnswered((unsigned)wParam, lParam != 0); return 0;
    case WM_RING_EVENT: ConsoleRingEvent((SOCKET)wParam, OnRingAnswered); return 0;
    case WM_TIMER: PostMessageA(window, WM_CLOSE, 0, 0); return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCmdClose) PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kIdleTimer);
      StopAllConsoleRings();
      Ctl3dUnload(g_DaemonInstance);
      PostQuitMessage(0);
      return 0;
    case WM_DAEMON_START: return 0;
    case WM_SYSCOLORCHANGE:
      if (g_Ctl3dActive && Ctl3dColorChange) Ctl3dColorChange();
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int ParleyWinMain(const TALK_FLAVOUR *flavour, HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  g_Flavour = flavour;
  if (IsRingCommandLine(commandLine)) return RingWinMain(flavour, instance, commandLine);
  g_Invitations.consoleAccount = ConsoleAccount;
  /* A dropped invitation (deleted, expired) takes its dialog with it. */
  g_Invitations.onDrop = [](TalkInvitation &inv) {
    HWND dialog = inv.dialog;
    inv.dialog = nullptr;
    if (dialog) DestroyWindow(dialog);
    if (inv.ringing) StopConsoleRing(inv.serial);
    inv.ringing = false;
  };
  RegisterRequestDialog(flavour);
  Ctl3dLoad(instance);
  static DAEMON_INFO info;
  info = {flavour->className, ParleyWndProc, TRUE, FALSE, InviteDialogMessage};
  return DaemonWinMain(&info, instance, previous, commandLine, show);
}
