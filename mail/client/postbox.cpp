// postbox, the mail client: picks the user, opens the user's mailbox (or the
// login dialog when no password is known), retrieves at login when asked, and
// runs the main window until it closes.
#include <cstring>
#include <string>

#include "mainwnd.h"
#include "maildlg.h"
#include "otherheaders.h"
#include "recipients.h"
#include "sendqueue.h"
#include "startcompose.h"
#include "retrieve.h"
#include "settings.h"
#include "wintransport.h"

#include <qxcommon.h>

namespace {

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_CONTROL("", IDC_ABOUT_LOGO, "Button", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 8, 8, 48, 48),
    QX_LTEXT("QXMail for Windows", -1, 64, 8, 150, 8),
    QX_LTEXT("Extended Version Number", -1, 64, 20, 150, 8),
    QX_LTEXT("", IDC_ABOUT_VERSION, 64, 30, 150, 8),
    QX_LTEXT("Network Layer:", -1, 8, 64, 60, 8),
    QX_CONTROL("", IDC_ABOUT_NETWORK, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 62, 144,
               12),
    QX_LTEXT("Vrsn compiled:", -1, 8, 80, 60, 8),
    QX_CONTROL("", IDC_ABOUT_COMPILED, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 78, 144,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 98, 40, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 222, 118, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "About QXMail", "MS Sans Serif", 8, kAboutItems);
const QX_VERSION_STRING kStrings[] = {{"FileVersion", QX_VERSION_TEXT(3, 2, 0, 1)},
                                      {"ProductName", "QXMail for Windows"}};
const QX_VERSION kVersion = QX_PROGRAM_VERSION(3, 2, 0, 1, kStrings);
const QX_RESOURCE kPostboxResources[] = {QX_RES_DIALOG("About", kAbout), QX_RES_VERSION(kVersion)};

WinsockMailTransport g_transport;

}  // namespace

QX_REGISTER_RESOURCES(kPostboxResources)

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  DebugLogOpen(instance, commandLine);
  std::string user = commandLine ? std::string(commandLine).substr(0, 63) : std::string();
  while (!user.empty() && user.back() == ' ') user.pop_back();
  if (!previous && !RegisterMailClasses(instance)) return 0;
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) return 0;
  OFSTRUCT found{};
  Settings().iniFile = OpenFile("QXMAIL.INI", &found, OF_EXIST) != HFILE_ERROR ? found.szPathName : "QXMAIL.INI";
  CheckDaylightSaving();
  // "@low:high": another program's message handed over through Simple MAPI.
  std::string mapiPassword;
  const bool mapi = OpenHandoffBlock(user, user, mapiPassword);
  if (mapi && !g_Mapi->valid) {
    ReleaseHandoffBlock();
    WSACleanup();
    return 0;
  }
  SelectUser(user, g_Password);
  if (mapi) g_Password = mapiPassword;
  Settings().user = user;
  BindAliasLibrary();
  g_PickBccAlias = [](HWND owner) { return PickAlias(owner, ALIAS_MODE_BCC); };
  g_OfferSendQueue = [](HWND owner) { SendDeferred(0, owner); };
  g_ComposeFromQueue = ComposeFromQueue;
  g_transport.dialogFilter = ConversationDialogFilter;
  SetMailTransport(&g_transport);
  HWND window = CreateMailWindow(instance, show);
  if (!window) {
    WSACleanup();
    return 0;
  }
  if (g_Password.empty()) {
    PostMessageA(window, WM_COMMAND, IDM_NEWUSER, 0);
  } else if (OpenMailbox(window) == 0 && Settings().login) {
    // New mail at start-up opens the message list.
    if (RetrieveMail(window) > 0 && !IsIconic(window)) PostMessageA(window, WM_COMMAND, IDM_READ, 0);
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  SetMailTransport(nullptr);
  ReleaseHandoffBlock();
  UnbindAliasLibrary();
  WSACleanup();
  return static_cast<int>(message.wParam);
}
