// The other-header-fields dialog and its "AddHeader" dialog. The fields are
// edited in the dialog and written back to the send header only on OK.
#include "otherheaders.h"

#include <cctype>
#include <cstring>

#include "retrieve.h"
#include "settings.h"
#include "smtp.h"

#include <qxcommon.h>

std::optional<std::string> (*g_PickBccAlias)(HWND owner) = nullptr;

namespace {

enum {
  IDS_NO_HEADER_SELECTED = 88,
  IDS_DELETE_HEADER = 89,
  IDS_INVALID_HEADER = 90,
  IDS_ADD_HEADER = 91,
  IDS_HEADER_NOT_ALLOWED = 92,
  IDS_ALIAS_MANAGEMENT = 93,
  IDS_NO_ALIAS_LIBRARY = 95,
};

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kEdit = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;

const QX_DIALOG_ITEM kOtherItems[] = {
    QX_GROUPBOX("Other Header Fields", -1, 4, 4, 252, 156),
    QX_PUSHBUTTON("&Bcc:", IDC_OTHER_BCC_BUTTON, 10, 16, 50, 14),
    QX_CONTROL("", IDC_OTHER_BCC, "Edit", kEdit, 64, 17, 186, 12),
    QX_LTEXT("In Reply &To:", -1, 10, 36, 52, 8),
    QX_CONTROL("", IDC_OTHER_INREPLYTO, "Edit", kEdit, 64, 34, 186, 12),
    QX_LTEXT("&Reply To:", -1, 10, 52, 52, 8),
    QX_CONTROL("", IDC_OTHER_REPLYTO, "Edit", kEdit, 64, 50, 186, 12),
    QX_LTEXT("User Entered Headers:", -1, 10, 68, 120, 8),
    QX_CONTROL(
        "", IDC_OTHER_LIST, "ListBox",
        LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
        10, 78, 186, 76),
    QX_PUSHBUTTON("&Add...", IDC_OTHER_ADD, 202, 78, 48, 14),
    QX_PUSHBUTTON("Re&move", IDC_OTHER_REMOVE, 202, 96, 48, 14),
    QX_DEFPUSHBUTTON("&OK", IDOK, 262, 8, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 262, 26, 44, 14),
};
const QX_DIALOG kOther =
    QX_DIALOG_TEMPLATE(20, 20, 312, 164, kDialogStyle, "Send Mail", "MS Sans Serif", 8, kOtherItems);

const QX_DIALOG_ITEM kAddItems[] = {
    QX_LTEXT("&New User Header:", -1, 6, 8, 70, 8),
    QX_CONTROL("", IDC_ADDHEADER_TEXT, "Edit", kEdit, 6, 18, 200, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 212, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 212, 24, 44, 14),
};
const QX_DIALOG kAdd =
    QX_DIALOG_TEMPLATE(40, 40, 262, 44, kDialogStyle, "User Entered Headers", "MS Sans Serif", 8, kAddItems);

const QX_RESOURCE kOtherResources[] = {
    QX_RES_DIALOG("OtherHeaders", kOther),
    QX_RES_DIALOG("AddHeader", kAdd),
    QX_STRING(IDS_NO_HEADER_SELECTED, "No Header Selected to Delete"),
    QX_STRING(IDS_DELETE_HEADER, "Delete Header Entry"),
    QX_STRING(IDS_INVALID_HEADER, "Invalid Header format"),
    QX_STRING(IDS_ADD_HEADER, "Add Header Entry"),
    QX_STRING(IDS_HEADER_NOT_ALLOWED, "This Header not allowed"),
    QX_STRING(IDS_ALIAS_MANAGEMENT, "Alias Management"),
    QX_STRING(IDS_NO_ALIAS_LIBRARY,
              "The Alias Management Library nicknames.DLL was not found; Alias Management disabled."),
};

// Fields the program writes itself: a user line may not name them.
constexpr const char *kReservedFields[] = {"From",     "Subject",    "To",   "Cc",           "Bcc",    "In-Reply-To",
                                           "Reply-To", "Message-ID", "Date", "Organization", "Sender", "Resent-Sender"};

std::string Text(UINT id) {
  char buffer[160] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return buffer;
}

void Box(HWND owner, UINT text, UINT caption) {
  g_MailMessageBox(owner, Text(text).c_str(), Text(caption).c_str(), MB_ICONEXCLAMATION);
}

std::string FieldText(HWND dialog, int id) {
  const int length = GetWindowTextLengthA(GetDlgItem(dialog, id));
  std::string text(static_cast<size_t>(length) + 1, '\0');
  GetDlgItemTextA(dialog, id, text.data(), length + 1);
  text.resize(std::strlen(text.c_str()));
  return text;
}

void SetField(HWND dialog, int id, const std::optional<std::string> &value) {
  SetDlgItemTextA(dialog, id, value.value_or("").c_str());
}

INT_PTR CALLBACK AddHeaderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
      SendDlgItemMessageA(dialog, IDC_ADDHEADER_TEXT, EM_LIMITTEXT, kUserHeaderLimit, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto *out = reinterpret_cast<std::string *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        *out = FieldText(dialog, IDC_ADDHEADER_TEXT);
        EndDialog(dialog, out->empty() ? 0 : 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

void OnAdd(HWND dialog) {
  std::string line;
  if (DialogBoxParamA(GetModuleHandleA(nullptr), "AddHeader", dialog, AddHeaderProc, reinterpret_cast<LPARAM>(&line)) !=
      1)
    return;
  if (const int refusal = CheckUserHeader(line)) {
    Box(dialog, static_cast<UINT>(refusal), IDS_ADD_HEADER);
    return;
  }
  if (SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_GETCOUNT, 0, 0) >= static_cast<LRESULT>(kMaxUserHeaders)) {
    g_MailMessageBox(dialog, "A message holds at most 255 user entered header lines; remove one to add another.",
                     Text(IDS_ADD_HEADER).c_str(), MB_ICONEXCLAMATION);
    return;
  }
  SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void OnRemove(HWND dialog) {
  const LRESULT row = SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_GETCURSEL, 0, 0);
  if (row < 0) {
    Box(dialog, IDS_NO_HEADER_SELECTED, IDS_DELETE_HEADER);
    return;
  }
  SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
}

void OnBcc(HWND dialog) {
  if (!g_PickBccAlias) {
    Box(dialog, IDS_NO_ALIAS_LIBRARY, IDS_ALIAS_MANAGEMENT);
    return;
  }
  const std::optional<std::string> alias = g_PickBccAlias(dialog);
  if (!alias) return;
  std::string bcc = FieldText(dialog, IDC_OTHER_BCC);
  bcc += (bcc.empty() ? "" : ", ") + *alias;
  SetDlgItemTextA(dialog, IDC_OTHER_BCC, bcc.c_str());
}

void OnOk(HWND dialog) {
  SEND_HEADER &h = CurrentSendHeader();
  h.bcc = FieldText(dialog, IDC_OTHER_BCC);
  h.inReplyTo = FieldText(dialog, IDC_OTHER_INREPLYTO);
  h.replyTo = FieldText(dialog, IDC_OTHER_REPLYTO);
  h.extraLines.clear();
  const LRESULT count = SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    std::string line(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_GETTEXT, static_cast<WPARAM>(i),
                        reinterpret_cast<LPARAM>(line.data()));
    line.resize(std::strlen(line.c_str()));
    h.extraLines.push_back(line);
  }
  EndDialog(dialog, 1);
}

INT_PTR CALLBACK OtherHeadersProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      SEND_HEADER &h = CurrentSendHeader();
      if (!h.replyTo && !Settings().replyTo.empty()) h.replyTo = Settings().replyTo;
      SetField(dialog, IDC_OTHER_BCC, h.bcc);
      SetField(dialog, IDC_OTHER_INREPLYTO, h.inReplyTo);
      SetField(dialog, IDC_OTHER_REPLYTO, h.replyTo);
      for (const std::string &line : h.extraLines)
        SendDlgItemMessageA(dialog, IDC_OTHER_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OTHER_BCC_BUTTON: OnBcc(dialog); return TRUE;
        case IDC_OTHER_ADD: OnAdd(dialog); return TRUE;
        case IDC_OTHER_REMOVE: OnRemove(dialog); return TRUE;
        case IDOK: OnOk(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
      }
    default: return FALSE;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kOtherResources)

int CheckUserHeader(const std::string &line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return IDS_INVALID_HEADER;
  for (size_t i = 0; i < colon; ++i)
    if (std::isspace(static_cast<unsigned char>(line[i])) || std::iscntrl(static_cast<unsigned char>(line[i])))
      return IDS_INVALID_HEADER;
  for (char c : line)
    if (c == '\r' || c == '\n' || c == '\0') return IDS_INVALID_HEADER;
  const std::string name = line.substr(0, colon);
  for (const char *reserved : kReservedFields)
    if (lstrcmpiA(name.c_str(), reserved) == 0) return IDS_HEADER_NOT_ALLOWED;
  return 0;
}

INT_PTR OtherHeadersDialog(HWND owner) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), "OtherHeaders", owner, OtherHeadersProc, 0);
}
