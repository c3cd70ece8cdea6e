/* The talk daemons: each control datagram gets one response; an ANNOUNCE for
 * the console user rings with the modeless "REQUEST" dialog, and Talk starts
 * the local talk client with the caller's name and address. The daemon ends
 * after 65,535 ms without a datagram, or when a DELETE empties its list. */
#include "talkdaemon.h"

#include <qxcommon.h>
#include <qxdaemon.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr UINT kIdleMs = 65535;
constexpr UINT kIdleTimer = 1;
constexpr int kCmdClose = 1;
/* Posted by a REQUEST dialog to the daemon's window: wParam the invitation's
 * serial, lParam 1 for Talk, 0 for Cancel. */
constexpr UINT WM_INVITE_ANSWERED = WM_USER + 1;
/* To a REQUEST dialog: the caller's host name lookup has ended. */
constexpr UINT WM_CALLER_NAME = WM_USER + 2;

const char kActivateCaption[] = "Error activating Talk program";
const char kLoadError[] = "Windows error when loading Talk program";

const TALK_FLAVOUR *g_Flavour = nullptr;

/* The REQUEST dialog, the same in both daemons but for its caption. */
const QX_DIALOG_ITEM kRequestItems[] = {
    QX_LTEXT("Incoming Talk request from:", -1, 8, 8, 160, 8),
    QX_LTEXT("", IDC_REQUEST_CALLER, 8, 22, 160, 8),
    QX_DEFPUSHBUTTON("Talk", IDC_REQUEST_TALK, 30, 40, 50, 14),
    QX_PUSHBUTTON("Cancel", IDC_REQUEST_CANCEL, 96, 40, 50, 14),
};
QX_DIALOG g_RequestDialog =
    QX_DIALOG_TEMPLATE(40, 40, 176, 62, DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU, "",
                       "MS Sans Serif", 8, kRequestItems);
const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("REQUEST", g_RequestDialog),
};
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

unsigned DialogSerial(HWND dialog) { return (unsigned)GetWindowLongA(dialog, DWL_USER); }

/* The caller's host name is looked up while the dialog is shown (the
 * daemon goes on answering meanwhile); until it comes, or when there is
 * none, the field shows the address. */
struct CallerLookup {
  HANDLE task = nullptr;
  std::string lName;
  unsigned char ip[4] = {};
  alignas(hostent) char result[MAXGETHOSTSTRUCT]; /* the hostent is laid out at its start */
};
std::map<HWND, std::unique_ptr<CallerLookup>> g_CallerLookups;

void StartCallerField(HWND dialog, const TalkInvitation &inv) {
  auto lookup = std::make_unique<CallerLookup>();
  lookup->lName = inv.request.lName;
  TalkSockaddrIp(inv.request.ctlAddr, lookup->ip);
  SetDlgItemTextA(dialog, IDC_REQUEST_CALLER, TalkCallerText(lookup->lName, nullptr, lookup->ip).c_str());
  lookup->task = WSAAsyncGetHostByAddr(dialog, WM_CALLER_NAME, (const char *)lookup->ip, 4, AF_INET, lookup->result,
                                       sizeof lookup->result);
  if (lookup->task) g_CallerLookups[dialog] = std::move(lookup);
}

void FinishCallerField(HWND dialog, LPARAM reply) {
  auto it = g_CallerLookups.find(dialog);
  if (it == g_CallerLookups.end()) return;
  const CallerLookup &lookup = *it->second;
  const hostent *host = (const hostent *)lookup.result;
  if (WSAGETASYNCERROR(reply) == 0 && host->h_name)
    SetDlgItemTextA(dialog, IDC_REQUEST_CALLER, TalkCallerText(lookup.lName, host->h_name, lookup.ip).c_str());
  g_CallerLookups.erase(it);
}

void ForgetCallerField(HWND dialog) {
  auto it = g_CallerLookups.find(dialog);
  if (it == g_CallerLookups.end()) return;
  WSACancelAsyncRequest(it->second->task); /* it writes the buffer no more */
  g_CallerLookups.erase(it);
}

INT_PTR CALLBACK RequestDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongA(dialog, DWL_USER, (LONG)lParam);
      if (TalkInvitation *inv = g_Invitations.FindBySerial((unsigned)lParam)) StartCallerField(dialog, *inv);
      return TRUE;
    }
    case WM_CALLER_NAME: FinishCallerField(dialog, lParam); return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (g_Ctl3dActive && Ctl3dCtlColorEx) return (INT_PTR)Ctl3dCtlColorEx(message, wParam, lParam);
      SetBkColor((HDC)wParam, GetSysColor(COLOR_BTNFACE));
      return (INT_PTR)GetSysColorBrush(COLOR_BTNFACE);
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id != IDC_REQUEST_TALK && id != IDC_REQUEST_CANCEL && id != IDCANCEL) return FALSE;
      PostMessageA(g_DaemonWindow, WM_INVITE_ANSWERED, DialogSerial(dialog), id == IDC_REQUEST_TALK ? 1 : 0);
      DestroyWindow(dialog);
      return TRUE;
    }
    case WM_CLOSE:
      PostMessageA(g_DaemonWindow, WM_INVITE_ANSWERED, DialogSerial(dialog), 0);
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY: {
      ForgetCallerField(dialog);
      TalkInvitation *inv = g_Invitations.FindBySerial(DialogSerial(dialog));
      if (inv && inv->dialog == dialog) inv->dialog = nullptr;
      return TRUE;
    }
    default: return FALSE;
  }
}

void ShowRequestDialog(unsigned serial) {
  TalkInvitation *inv = g_Invitations.FindBySerial(serial);
  if (!inv) return;
  inv->refused = false;
  inv->dialog = CreateDialogParamA(g_DaemonInstance, "REQUEST", g_DaemonWindow, RequestDlgProc, (LPARAM)serial);
}

/* Offers a message of the loop to the open REQUEST dialogs. */
BOOL InviteDialogMessage(MSG *message) {
  for (HWND dialog : g_Invitations.Dialogs())
    if (IsDialogMessageA(dialog, message)) return TRUE;
  return FALSE;
}

/* Talk was pressed: the local client, started with an argument vector. */
void StartTalkClient(TalkInvitation *inv) {
  std::string commandLine;
  if (!TalkInviteCommandLine(*g_Flavour->layout, inv->request, &commandLine)) {
    inv->refused = true;
    return;
  }
  /* The names are single words without quotes: the command line splits into
   * exactly the client, the caller and the called user. */
  const UINT rc = WinExec(commandLine.c_str(), SW_SHOW);
  if (rc >= 32) return;
  inv->refused = true;
  MessageBoxA(g_DaemonWindow, rc == 2 || rc == 3 ? g_Flavour->notFoundText : kLoadError, kActivateCaption,
              MB_ICONERROR);
}

void OnInviteAnswered(unsigned serial, bool talk) {
  TalkInvitation *inv = g_Invitations.FindBySerial(serial);
  if (!inv) return; /* deleted or expired meanwhile */
  inv->refused = false;
  if (talk)
    StartTalkClient(inv);
  else
    inv->refused = true;
  /* An accepted call leaves nothing behind; a refused one stays and answers
   * the caller's later announcements with PERMISSION_DENIED. */
  if (!inv->refused) g_Invitations.Remove(serial);
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
    case WM_TIMER: PostMessageA(window, WM_CLOSE, 0, 0); return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCmdClose) PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kIdleTimer);
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
  g_Invitations.consoleAccount = ConsoleAccount;
  /* A dropped invitation (deleted, expired) takes its dialog with it. */
  g_Invitations.onDrop = [](TalkInvitation &inv) {
    HWND dialog = inv.dialog;
    inv.dialog = nullptr;
    if (dialog) DestroyWindow(dialog);
  };
  g_RequestDialog.caption = flavour->requestCaption;
  QxRegisterResources(&kResources, kResources, QX_COUNTOF(kResources));
  Ctl3dLoad(instance);
  static DAEMON_INFO info;
  info = {flavour->className, ParleyWndProc, TRUE, FALSE, InviteDialogMessage};
  return DaemonWinMain(&info, instance, previous, commandLine, show);
}
