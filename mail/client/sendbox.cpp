// The compose dialog "SendBox": address and subject fields, options, the body
// in the built-in editor (or the configured Editor), attachments, the other
// header fields, and Send.
#include "sendbox.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "editor.h"
#include "otherheaders.h"
#include "recipients.h"
#include "retrieve.h"
#include "settings.h"

#include <qxcommon.h>

namespace {

enum {
  IDS_NO_ATTACHMENT_SELECTED = 106,
  IDS_REMOVE = 107,
  IDS_ALIAS_MANAGEMENT = 93,
  IDS_ALIAS_FAILED = 94,
  IDS_NO_ALIAS_LIBRARY = 95,
};

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kEdit = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;

const QX_DIALOG_ITEM kSendItems[] = {
    QX_PUSHBUTTON("&To:", IDC_SEND_PICK_TO, 6, 6, 34, 14),
    QX_CONTROL("", IDC_SEND_TO, "Edit", kEdit, 44, 7, 220, 12),
    QX_PUSHBUTTON("&Cc:", IDC_SEND_PICK_CC, 6, 24, 34, 14),
    QX_CONTROL("", IDC_SEND_CC, "Edit", kEdit, 44, 25, 220, 12),
    QX_LTEXT("&Subject:", -1, 6, 44, 36, 8),
    QX_CONTROL("", IDC_SEND_SUBJECT, "Edit", kEdit, 44, 42, 220, 12),
    QX_PUSHBUTTON("Edit &Message", IDC_SEND_EDIT, 6, 62, 60, 14),
    QX_PUSHBUTTON("&Attachments", IDC_SEND_ATTACHMENTS, 70, 62, 60, 14),
    QX_PUSHBUTTON("&Other Headers", IDC_SEND_OTHER, 134, 62, 60, 14),
    QX_CHECKBOX("A&ppend Signature", IDC_SEND_SIGNATURE, 6, 84, 80, 10),
    QX_CHECKBOX("&Verbose", IDC_SEND_VERBOSE, 6, 96, 80, 10),
    QX_CHECKBOX("&Include Message", IDC_SEND_INCLUDE, 6, 108, 80, 10),
    QX_CHECKBOX("&Delivery-Receipt", IDC_SEND_DELIVERY, 96, 84, 80, 10),
    QX_CHECKBOX("&Read-Receipt", IDC_SEND_READ, 96, 96, 80, 10),
    QX_DEFPUSHBUTTON("S&end", IDC_SEND_SEND, 272, 6, 44, 14),
    QX_PUSHBUTTON("Cance&l", IDCANCEL, 272, 24, 44, 14),
};
const QX_DIALOG kSend = QX_DIALOG_TEMPLATE(10, 10, 322, 124, kDialogStyle, "Send Mail", "MS Sans Serif", 8, kSendItems);

const QX_DIALOG_ITEM kAttachItems[] = {
    QX_CONTROL("", IDC_ATTACH_LIST, "ListBox", LBS_NOTIFY | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP,
               6, 6, 150, 90),
    QX_GROUPBOX("&UUencoded", -1, 162, 2, 70, 28),
    QX_PUSHBUTTON("&File...", IDC_ATTACH_UUENCODED, 168, 12, 58, 14),
    QX_GROUPBOX("&MIME Attachment", -1, 162, 32, 70, 82),
    QX_PUSHBUTTON("F&ile...", IDC_ATTACH_MIME, 168, 42, 58, 14),
    QX_PUSHBUTTON("F&TP Ptr...", IDC_ATTACH_FTP, 168, 60, 58, 14),
    QX_PUSHBUTTON("&EMail Ptr...", IDC_ATTACH_EMAIL, 168, 78, 58, 14),
    QX_PUSHBUTTON("&Voice", IDC_ATTACH_VOICE, 168, 96, 58, 14),
    QX_PUSHBUTTON("&Remove", IDC_ATTACH_REMOVE, 6, 100, 50, 14),
    QX_DEFPUSHBUTTON("OK", IDOK, 238, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 238, 24, 44, 14),
};
const QX_DIALOG kAttach =
    QX_DIALOG_TEMPLATE(20, 20, 288, 120, kDialogStyle, "Attachments", "MS Sans Serif", 8, kAttachItems);

const QX_RESOURCE kSendResources[] = {
    QX_RES_DIALOG("SendBox", kSend),
    QX_RES_DIALOG("Attachments", kAttach),
    QX_STRING(IDS_NO_ATTACHMENT_SELECTED, "No Attachments selected to Remove"),
    QX_STRING(IDS_REMOVE, "Remove"),
    QX_STRING(IDS_ALIAS_MANAGEMENT, "Alias Management"),
    QX_STRING(IDS_ALIAS_FAILED, "The Alias Management routines failed to initialize correctly."),
    QX_STRING(IDS_NO_ALIAS_LIBRARY,
              "The Alias Management Library nicknames.DLL was not found; Alias Management disabled."),
};

struct SENDBOX_STATE {
  bool busy = false;
};
SENDBOX_STATE g_sendBox;

std::string Text(UINT id) {
  char buffer[160] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return buffer;
}

std::string FieldText(HWND dialog, int id) {
  const int length = GetWindowTextLengthA(GetDlgItem(dialog, id));
  std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
  GetDlgItemTextA(dialog, id, text.data(), length + 1);
  text.resize(std::strlen(text.c_str()));
  return text;
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
void Check(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }
bool Toggle(HWND dialog, int id) {
  Check(dialog, id, !Checked(dialog, id));
  return Checked(dialog, id);
}

const char *CaptionOf(int mode) {
  switch (mode) {
    case kComposeNew: return "Send";
    case kComposeReply: return "Reply";
    case kComposeReplyAll: return "Reply-All";
    case kComposeForward: return "Forward";
    default: return nullptr;  // the template's "Send Mail"
  }
}

// --- Attachments --------------------------------------------------------------

void FillAttachmentList(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_ATTACH_LIST);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (const ATTACHMENT &a : CurrentComposition().attachments)
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(AttachmentLabel(a).c_str()));
}

bool RoomForOne(HWND dialog) {
  if (CurrentComposition().attachments.size() < kMaxAttachments) return true;
  g_MailMessageBox(dialog, "A message holds at most 100 attachments; remove one to add another.", "Attachments",
                   MB_ICONEXCLAMATION);
  return false;
}

void AddFiles(HWND dialog, uint8_t type) {
  // The filter's last character separates its pieces; each becomes a NUL.
  std::string filter = type == 0 ? "All Files (*.*)|*.*|ZIP Files (*.ZIP)|*.ZIP|"
                                 : "Image Files (*.gif,*.bmp)|*.GIF;*.BMP|Audio Files (*.wav,*.au)|*.WAV;*.AU|"
                                   "Binary Files (*.exe,*.com)|*.EXE;*.COM|All Files (*.*)|*.*|";
  const char separator = filter.back();
  std::replace(filter.begin(), filter.end(), separator, '\0');
  char file[1280] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrTitle = type == 0 ? "Attach Binary File" : "Attach MIME File";
  ofn.Flags = OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameA(&ofn)) return;
  // The path keeps its case: file names here are case-sensitive.
  for (const std::string &path : ChosenFiles(ofn)) {
    if (!RoomForOne(dialog)) break;
    CurrentComposition().attachments.push_back(ATTACHMENT{type, path});
  }
  FillAttachmentList(dialog);
}

void AddSpecial(HWND dialog, uint8_t type) {
  if (!RoomForOne(dialog) || !LoadMimeLibrary(dialog)) return;
  HGLOBAL block = CallMimeGetSpecial(type, nullptr, dialog);
  if (!block) return;
  CurrentComposition().attachments.push_back(ATTACHMENT{type, SpecialEntry(type, block)});
  FillAttachmentList(dialog);
}

void RemoveAttachment(HWND dialog) {
  const LRESULT row = SendDlgItemMessageA(dialog, IDC_ATTACH_LIST, LB_GETCURSEL, 0, 0);
  std::vector<ATTACHMENT> &list = CurrentComposition().attachments;
  if (row < 0 || static_cast<size_t>(row) >= list.size()) {
    g_MailMessageBox(dialog, Text(IDS_NO_ATTACHMENT_SELECTED).c_str(), Text(IDS_REMOVE).c_str(), MB_ICONEXCLAMATION);
    return;
  }
  const ATTACHMENT &a = list[static_cast<size_t>(row)];
  if (a.type >= 2) {
    COMPOSITION one;
    one.attachments.push_back(a);
    CleanUpComposition(one);  // gives the block back
  }
  list.erase(list.begin() + row);
  FillAttachmentList(dialog);
}

INT_PTR CALLBACK AttachmentsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: FillAttachmentList(dialog); return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_ATTACH_UUENCODED: AddFiles(dialog, 0); return TRUE;
        case IDC_ATTACH_MIME: AddFiles(dialog, 1); return TRUE;
        case IDC_ATTACH_FTP: AddSpecial(dialog, 2); return TRUE;
        case IDC_ATTACH_EMAIL: AddSpecial(dialog, 3); return TRUE;
        case IDC_ATTACH_VOICE: AddSpecial(dialog, 4); return TRUE;
        case IDC_ATTACH_REMOVE: RemoveAttachment(dialog); return TRUE;
        case IDOK:
        case IDCANCEL: EndDialog(dialog, LOWORD(wParam)); return TRUE;
        default: return FALSE;
      }
    default: return FALSE;
  }
}

// --- SendBox ------------------------------------------------------------------

void MoveIntoField(HWND dialog, int id, std::optional<std::string> &value) {
  SetDlgItemTextA(dialog, id, value.value_or("").c_str());
  value.reset();
}

void InitSendBox(HWND dialog, int mode) {
  COMPOSITION &c = CurrentComposition();
  c.mode = mode;
  if (const char *caption = CaptionOf(mode)) SetWindowTextA(dialog, caption);
  SEND_HEADER &h = CurrentSendHeader();
  MoveIntoField(dialog, IDC_SEND_TO, h.to);
  MoveIntoField(dialog, IDC_SEND_SUBJECT, h.subject);
  MoveIntoField(dialog, IDC_SEND_CC, h.cc);
  const MAIL_SETTINGS &s = Settings();
  const bool fromQueue = !c.preparedPath.empty();
  const bool signature = GetFileAttributesA((s.mailDir + "\\qxmail.sig").c_str()) != INVALID_FILE_ATTRIBUTES;
  c.signature = signature && !fromQueue;
  Check(dialog, IDC_SEND_SIGNATURE, c.signature);
  EnableWindow(GetDlgItem(dialog, IDC_SEND_SIGNATURE), c.signature);
  c.verbose = s.verbose != 0;
  Check(dialog, IDC_SEND_VERBOSE, c.verbose);
  const bool reply = mode == kComposeReply || mode == kComposeReplyAll;
  c.include = (reply && s.includeReply) || mode == kComposeForward;
  Check(dialog, IDC_SEND_INCLUDE, c.include);
  EnableWindow(GetDlgItem(dialog, IDC_SEND_INCLUDE), reply);
  Check(dialog, IDC_SEND_DELIVERY, h.flags & kSendReturnReceipt);
  Check(dialog, IDC_SEND_READ, h.flags & kSendReadReceipt);
  // A queued message sent again is already prepared: its text, attachments
  // and signature are in its body.
  for (int id : {IDC_SEND_EDIT, IDC_SEND_ATTACHMENTS})
    if (fromQueue) EnableWindow(GetDlgItem(dialog, id), FALSE);
}

void PickAliasInto(HWND dialog, int field, int mode) {
  if (!g_AliasContext) {
    g_MailMessageBox(dialog, Text(AliasBinding().bound() ? IDS_ALIAS_FAILED : IDS_NO_ALIAS_LIBRARY).c_str(),
                     Text(IDS_ALIAS_MANAGEMENT).c_str(), MB_ICONERROR);
    return;
  }
  const std::optional<std::string> picked = PickAlias(dialog, mode);
  if (!picked) return;
  std::string text = FieldText(dialog, field);
  text += (text.empty() ? "" : ", ") + *picked;
  SetDlgItemTextA(dialog, field, text.c_str());
  if (field == IDC_SEND_TO) {
    const auto end = static_cast<LPARAM>(text.size());
    SendDlgItemMessageA(dialog, field, EM_SETSEL, static_cast<WPARAM>(end), end);
  }
}

void EditBody(HWND dialog) {
  COMPOSITION &c = CurrentComposition();
  if (!EnsureTextFile(c)) {
    g_MailMessageBox(dialog,
                     ("No file for the message text could be made in " + Settings().mailDir +
                      ". Check that the mail directory is writable and has room.")
                         .c_str(),
                     "Message", MB_ICONERROR);
    return;
  }
  IncludeQuotedMessages(c);
  g_sendBox.busy = true;
  const std::string &editor = Settings().editor;
  if (!editor.empty()) {
    const std::string command = editor + " " + c.textPath;
    if (WinExec(command.c_str(), SW_SHOW) < 32)
      g_MailMessageBox(dialog,
                       ("The editor \"" + editor + "\" could not be started; check the Editor setting.").c_str(),
                       "Message", MB_ICONERROR);
  } else {
    EditMessage(c.textPath, dialog);
    SetActiveWindow(dialog);
  }
  EnableWindow(GetDlgItem(dialog, IDC_SEND_INCLUDE), FALSE);
  g_sendBox.busy = false;
}

void Send(HWND dialog) {
  SEND_HEADER &h = CurrentSendHeader();
  h.to = FieldText(dialog, IDC_SEND_TO);
  h.cc = FieldText(dialog, IDC_SEND_CC);
  const std::string subject = FieldText(dialog, IDC_SEND_SUBJECT);
  if (!subject.empty()) h.subject = subject;
  COMPOSITION &c = CurrentComposition();
  c.include = Checked(dialog, IDC_SEND_INCLUDE);
  g_sendBox.busy = true;
  const SendOutcome outcome = SendComposition(dialog, c);
  g_sendBox.busy = false;
  if (outcome == kComposeStay) return;
  CleanUpComposition(c);
  EndDialog(dialog, outcome);
}

void OnSendBoxCommand(HWND dialog, int id) {
  COMPOSITION &c = CurrentComposition();
  SEND_HEADER &h = CurrentSendHeader();
  switch (id) {
    case IDC_SEND_SIGNATURE: c.signature = Toggle(dialog, id); break;
    case IDC_SEND_VERBOSE: c.verbose = Toggle(dialog, id); break;
    case IDC_SEND_INCLUDE: c.include = Toggle(dialog, id); break;
    case IDC_SEND_DELIVERY:
      h.flags = Toggle(dialog, id) ? h.flags | kSendReturnReceipt : h.flags & ~kSendReturnReceipt;
      break;
    case IDC_SEND_READ: h.flags = Toggle(dialog, id) ? h.flags | kSendReadReceipt : h.flags & ~kSendReadReceipt; break;
    case IDC_SEND_PICK_TO: PickAliasInto(dialog, IDC_SEND_TO, ALIAS_MODE_TO); break;
    case IDC_SEND_PICK_CC: PickAliasInto(dialog, IDC_SEND_CC, ALIAS_MODE_CC); break;
    case IDC_SEND_OTHER: OtherHeadersDialog(dialog); break;
    case IDC_SEND_ATTACHMENTS: AttachmentsDialog(dialog); break;
    case IDC_SEND_EDIT: EditBody(dialog); break;
    case IDC_SEND_SEND: Send(dialog); break;
    case IDCANCEL:
      CleanUpComposition(c);
      EndDialog(dialog, kComposeCancelled);
      break;
    default: break;
  }
}

INT_PTR CALLBACK SendBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: InitSendBox(dialog, static_cast<int>(lParam)); return TRUE;
    case WM_COMMAND:
      if (g_sendBox.busy) return TRUE;  // one command at a time
      OnSendBoxCommand(dialog, LOWORD(wParam));
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kSendResources)

INT_PTR ComposeDialog(HWND owner, int mode) {
  g_sendBox = SENDBOX_STATE{};
  return DialogBoxParamA(GetModuleHandleA(nullptr), "SendBox", owner, SendBoxProc, mode);
}

void AttachmentsDialog(HWND owner) {
  DialogBoxParamA(GetModuleHandleA(nullptr), "Attachments", owner, AttachmentsProc, 0);
}

// The files of a file dialog's answer. A single choice is the whole path
// (blanks included); the old-style multiple choice is the directory, then the
// names, separated by blanks (the name offset then points after a blank).
std::vector<std::string> ChosenFiles(const OPENFILENAMEA &ofn) {
  const std::string result = ofn.lpstrFile;
  const size_t offset = ofn.nFileOffset;
  if (offset == 0 || offset > result.size() || result[offset - 1] != ' ') return {result};
  std::string dir = result.substr(0, offset - 1);
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  std::vector<std::string> files;
  size_t at = offset;
  while (at < result.size()) {
    size_t blank = result.find(' ', at);
    if (blank == std::string::npos) blank = result.size();
    if (blank > at) files.push_back(dir + result.substr(at, blank - at));
    at = blank + 1;
  }
  return files;
}
