/* The "REQUEST" dialog: one template and one dialog procedure for the daemon
 * and for the ring helper on the console user's desktop. */
#include "requestdialog.h"

#include <qxcommon.h>

#include <map>
#include <memory>

namespace {

/* To a REQUEST dialog: the caller's host name lookup has ended. */
constexpr UINT WM_CALLER_NAME = WM_USER + 2;

const char kActivateCaption[] = "Error activating Talk program";
const char kLoadError[] = "Windows error when loading Talk program";

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

/* What each open dialog needs: its caller, its hooks, and the caller's host
 * name lookup while it runs (the daemon goes on answering meanwhile); until
 * it comes, or when there is none, the field shows the address. */
struct RequestState {
  REQUEST_CALLER caller;
  const REQUEST_HOOKS *hooks = nullptr;
  HANDLE lookup = nullptr;
  alignas(hostent) char result[MAXGETHOSTSTRUCT]; /* the hostent is laid out at its start */
};
std::map<HWND, std::unique_ptr<RequestState>> g_Requests;
std::unique_ptr<RequestState> g_Creating; /* handed to WM_INITDIALOG */

RequestState *StateOf(HWND dialog) {
  auto it = g_Requests.find(dialog);
  return it == g_Requests.end() ? nullptr : it->second.get();
}

void StartCallerField(HWND dialog, RequestState &state) {
  SetDlgItemTextA(dialog, IDC_REQUEST_CALLER, TalkCallerText(state.caller.lName, nullptr, state.caller.ip).c_str());
  state.lookup = WSAAsyncGetHostByAddr(dialog, WM_CALLER_NAME, (const char *)state.caller.ip, 4, AF_INET, state.result,
                                       sizeof state.result);
}

void FinishCallerField(HWND dialog, LPARAM reply) {
  RequestState *state = StateOf(dialog);
  if (!state || !state->lookup) return;
  state->lookup = nullptr;
  const hostent *host = (const hostent *)state->result;
  if (WSAGETASYNCERROR(reply) == 0 && host->h_name)
    SetDlgItemTextA(dialog, IDC_REQUEST_CALLER,
                    TalkCallerText(state->caller.lName, host->h_name, state->caller.ip).c_str());
}

void Answer(HWND dialog, bool talk) {
  if (RequestState *state = StateOf(dialog)) state->hooks->answered(dialog, state->caller.serial, talk);
  DestroyWindow(dialog);
}

INT_PTR CALLBACK RequestDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      RequestState &state = *g_Creating;
      g_Requests[dialog] = std::move(g_Creating);
      StartCallerField(dialog, state);
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
      Answer(dialog, id == IDC_REQUEST_TALK);
      return TRUE;
    }
    case WM_CLOSE: Answer(dialog, false); return TRUE;
    case WM_DESTROY: {
      auto it = g_Requests.find(dialog);
      if (it == g_Requests.end()) return TRUE;
      std::unique_ptr<RequestState> state = std::move(it->second);
      g_Requests.erase(it);
      if (state->lookup) WSACancelAsyncRequest(state->lookup); /* it writes the buffer no more */
      state->hooks->gone(dialog, state->caller.serial);
      return TRUE;
    }
    default: return FALSE;
  }
}

}  // namespace

void RegisterRequestDialog(const TALK_FLAVOUR *flavour) {
  g_RequestDialog.caption = flavour->requestCaption;
  QxRegisterResources(&kResources, kResources, QX_COUNTOF(kResources));
}

HWND CreateRequestDialog(HINSTANCE instance, HWND owner, const REQUEST_CALLER &caller, const REQUEST_HOOKS *hooks) {
  g_Creating = std::make_unique<RequestState>();
  g_Creating->caller = caller;
  g_Creating->hooks = hooks;
  HWND dialog = CreateDialogParamA(instance, "REQUEST", owner, RequestDlgProc, 0);
  g_Creating.reset(); /* not taken when the dialog could not be made */
  return dialog;
}

bool StartTalkClient(const TALK_FLAVOUR *flavour, const TalkRequest &request, HWND owner) {
  std::string commandLine;
  if (!TalkInviteCommandLine(*flavour->layout, request, &commandLine)) return false;
  /* The names are single words without quotes: the command line splits into
   * exactly the client, the caller and the called user. */
  const UINT rc = WinExec(commandLine.c_str(), SW_SHOW);
  if (rc >= 32) return true;
  MessageBoxA(owner, rc == 2 || rc == 3 ? flavour->notFoundText : kLoadError, kActivateCaption, MB_ICONERROR);
  return false;
}
