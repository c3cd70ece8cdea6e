// The retrieval driver: guards against nesting, shows progress in the
// "retrieving" dialog (control 500), reports failures, and signals new mail
// on a minimised main window (title, icon flag, six flashes, a beep).
#include "retrieve.h"

#include "maildlg.h"
#include "pop.h"
#include "settings.h"

int g_MailBusy = 0;
int g_RetrievalRunning = 0;
int g_DeferredRetrievalDialog = 0;
int g_NewMailFlag = 0;
int g_FlashCount = 0;
std::string g_Password;
void (*g_OfferSendQueue)(HWND owner) = nullptr;
int(WINAPI *g_MailMessageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type) = MessageBoxA;

namespace {

void ShowRetrievalStatus(const char *text) {
  if (HWND dialog = ConversationWindow()) SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, text);
}

void OpenRetrievingDialog(HWND owner) {
  if (OpenProgressDialog(owner, "retrieving")) {
    SetConversationView(&ProgressConversation());
    ShowRetrievalStatus("Contacting POP Server");
  }
}

void SignalNewMail(HWND owner) {
  g_NewMailFlag = 1;
  SetWindowTextA(owner, (Settings().user + " (New Mail)").c_str());
  InvalidateRect(owner, nullptr, TRUE);
  g_FlashCount = 6;
  SetTimer(owner, kFlashTimer, kFlashTimerMs, nullptr);
  FlashWindow(owner, TRUE);
  MessageBeep(0);
}

}  // namespace

void OpenDeferredRetrievalDialog(HWND owner) {
  if (g_RetrievalRunning && g_DeferredRetrievalDialog && !ConversationWindow()) {
    OpenRetrievingDialog(owner);
    if (HWND dialog = ConversationWindow()) SetFocus(dialog);
  }
}

int RetrieveMail(HWND owner) {
  if (g_RetrievalRunning) return kRetrievalNested;
  g_RetrievalRunning = 1;
  const int wasBusy = g_MailBusy;
  g_MailBusy = 1;  // menu commands and the timer wait while mail comes in
  MailIo().cancel = 0;
  const bool iconic = IsIconic(owner) != FALSE;
  g_DeferredRetrievalDialog = iconic ? 1 : 0;
  if (!iconic) OpenRetrievingDialog(owner);
  g_PopStatusHook = ShowRetrievalStatus;
  const MAIL_SETTINGS &s = Settings();
  int result = POP_session(s.user.c_str(), g_Password.c_str(), s.deleteReadFromServer, s.mailHost.c_str(), s.mailDir);
  g_PopStatusHook = nullptr;
  const bool cancelled = MailIo().cancel != 0;
  if (ConversationWindow()) ProgressConversation().Close(false);
  SetConversationView(nullptr);
  g_DeferredRetrievalDialog = 0;
  g_RetrievalRunning = 0;
  g_MailBusy = wasBusy;
  if (result < 0 && !cancelled)
    g_MailMessageBox(owner, PopErrorText(result, s.mailHost).c_str(), "Pop Server Error", MB_ICONERROR | MB_OK);
  if (IsIconic(owner) && result > 0) SignalNewMail(owner);
  if (result >= 0 && g_OfferSendQueue) g_OfferSendQueue(owner);
  return result;
}
