// The attachkit module: its entry point and its resources (texts and the
// dialogs of the special attachments). The exports live with what they do:
// ProcessMime in receive.cpp, SendMime in send.cpp, MimeGetSpecial in
// special.cpp.
#include <windows.h>

#include "module.h"
#include "present.h"
#include "recorder.h"

namespace attachkit {
namespace {

HINSTANCE g_instance = nullptr;

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kEdit = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;

const QX_DIALOG_ITEM kFtpItems[] = {
    QX_LTEXT("&Hostname:", -1, 8, 10, 44, 8),
    QX_CONTROL("", IDC_FTP_HOST, "Edit", kEdit, 54, 8, 170, 12),
    QX_LTEXT("&Directory", -1, 8, 28, 44, 8),
    QX_CONTROL("", IDC_FTP_DIRECTORY, "Edit", kEdit, 54, 26, 170, 12),
    QX_LTEXT("&Filename:", -1, 8, 46, 44, 8),
    QX_CONTROL("", IDC_FTP_FILE, "Edit", kEdit, 54, 44, 170, 12),
    QX_GROUPBOX("&Transfer Mode", -1, 8, 62, 104, 40),
    QX_CONTROL("&Binary", IDC_FTP_BINARY, "Button", BS_RADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, 16,
               74, 80, 10),
    QX_RADIOBUTTON("&Ascii", IDC_FTP_ASCII, 16, 86, 80, 10),
    QX_GROUPBOX("&User Name", -1, 120, 62, 104, 40),
    QX_CONTROL("&Anonymous", IDC_FTP_ANONYMOUS, "Button",
               BS_RADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, 128, 74, 88, 10),
    QX_RADIOBUTTON("User &supplied", IDC_FTP_USER, 128, 86, 88, 10),
    QX_DEFPUSHBUTTON("OK", IDOK, 232, 8, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 232, 26, 44, 14),
};
const QX_DIALOG kFtp =
    QX_DIALOG_TEMPLATE(20, 20, 284, 110, kDialogStyle, "File Retrieval by FTP", "MS Sans Serif", 8, kFtpItems);

const QX_DIALOG_ITEM kMailItems[] = {
    QX_LTEXT("Mail &Server:", -1, 8, 10, 50, 8),
    QX_CONTROL("", IDC_MAIL_SERVER, "Edit", kEdit, 60, 8, 164, 12),
    QX_LTEXT("&Commands:", -1, 8, 26, 50, 8),
    QX_CONTROL("", IDC_MAIL_COMMANDS, "Edit",
               ES_LEFT | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL | WS_CHILD | WS_VISIBLE |
                   WS_BORDER | WS_TABSTOP,
               8, 36, 216, 72),
    QX_DEFPUSHBUTTON("OK", IDOK, 232, 8, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 232, 26, 44, 14),
};
const QX_DIALOG kMail =
    QX_DIALOG_TEMPLATE(20, 20, 284, 116, kDialogStyle, "Mail Server Pointer", "MS Sans Serif", 8, kMailItems);

const QX_DIALOG_ITEM kUserFtpItems[] = {
    QX_LTEXT("&Username:", -1, 8, 10, 44, 8),
    QX_CONTROL("", IDC_USERFTP_NAME, "Edit", kEdit, 54, 8, 120, 12),
    QX_LTEXT("&Password:", -1, 8, 28, 44, 8),
    QX_CONTROL("", IDC_USERFTP_PASSWORD, "Edit", kEdit | ES_PASSWORD, 54, 26, 120, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 182, 8, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 182, 26, 44, 14),
};
const QX_DIALOG kUserFtp =
    QX_DIALOG_TEMPLATE(20, 20, 234, 46, kDialogStyle, "Remote Ftp Access", "MS Sans Serif", 8, kUserFtpItems);

const QX_MENU_ITEM kGifFileItems[] = {
    QX_MENUITEM("&Save as Gif...", kMenuSaveGif),
    QX_MENUITEM("&Save as BMP...", kMenuSaveBmp),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("P&rinter Setup", kMenuPrinterSetup),
    QX_MENUITEM("&Print", kMenuPrint),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("&Exit", kMenuExit),
};
const QX_MENU_ITEM kGifMenuItems[] = {QX_POPUP("&File", kGifFileItems)};
const QX_MENU kGifMenu = QX_MENU_OF(kGifMenuItems);

const QX_DIALOG_ITEM kAbortItems[] = {
    QX_CTEXT("Sending", -1, 8, 8, 112, 8),
    QX_CTEXT("Image", -1, 8, 18, 112, 8),
    QX_CTEXT("(0%)", 100, 8, 28, 112, 8),
    QX_CTEXT("to print spooler.", -1, 8, 38, 112, 8),
    QX_DEFPUSHBUTTON("Cancel", IDCANCEL, 44, 52, 40, 14),
};
const QX_DIALOG kAbort = QX_DIALOG_TEMPLATE(40, 40, 128, 72, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "Gif Print", "MS Sans Serif", 8, kAbortItems);

constexpr DWORD kToolButton = BS_OWNERDRAW | WS_CHILD | WS_VISIBLE | WS_TABSTOP;
const QX_DIALOG_ITEM kRecordingItems[] = {
    QX_CONTROL("&Record", IDC_REC_RECORD, "Button", kToolButton, 8, 8, 24, 18),
    QX_CONTROL("&Stop", IDC_REC_STOP, "Button", kToolButton, 36, 8, 24, 18),
    QX_CONTROL("&Play", IDC_REC_PLAY, "Button", kToolButton, 64, 8, 24, 18),
    QX_CONTROL("C&lear", IDC_REC_CLEAR, "Button", kToolButton, 92, 8, 24, 18),
    QX_LTEXT("Message Size", -1, 8, 34, 50, 8),
    QX_LTEXT("0 Bytes", IDC_REC_SIZE, 60, 34, 60, 8),
    QX_DEFPUSHBUTTON("OK", IDOK, 128, 8, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 128, 26, 44, 14),
};
const QX_DIALOG kRecording =
    QX_DIALOG_TEMPLATE(20, 20, 180, 48, kDialogStyle, "Recorder", "MS Sans Serif", 8, kRecordingItems);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("Recording", kRecording),
    QX_RES_MENU("GifMenu", kGifMenu),
    QX_RES_DIALOG("AbortDlg", kAbort),
    QX_RES_DIALOG("ftp", kFtp),
    QX_RES_DIALOG("mail", kMail),
    QX_RES_DIALOG("Userftp", kUserFtp),
    QX_STRING(IDS_CAPTION, "QX-Mime"),
    QX_STRING(IDS_NO_VIEWER, "Unable to run viewer associated with %s files"),
    QX_STRING(IDS_FILTER_GIF, "Gif Images|*.GIF|"),
    QX_STRING(IDS_FILTER_BMP, "BMP Images|*.BMP|"),
    QX_STRING(IDS_TITLE_IMAGE, "Save Image"),
    QX_STRING(IDS_NO_RECORDER, "No Voice Recording Device Found"),
    QX_STRING(IDS_NO_PLAYER, "No Voice Output Device Found"),
    QX_STRING(IDS_TITLE_WAVE, "Save Wave File"),
    QX_STRING(IDS_TITLE_OTHER, "Save Mime Attachment"),
    QX_STRING(IDS_FILTER_WAVE, "WAV Files|*.WAV|"),
    QX_STRING(IDS_FILTER_OTHER, "ZIP Files|*.ZIP|All Files|*.*|"),
    QX_STRING(IDS_CANNOT_CREATE, "Unable to create output File"),
    QX_STRING(IDS_ALL_FIELDS, "All fields must be entered"),
    QX_STRING(IDS_CANNOT_WRITE, "Unable to write output File (the disk may be full):"),
    QX_STRING(IDS_CONFIRM_REQUEST, "This part asks to send a mail request in your name to %s. Send it now?"),
};

}  // namespace

HINSTANCE Instance() { return g_instance; }

}  // namespace attachkit

QX_REGISTER_RESOURCES(attachkit::kResources)

extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) attachkit::g_instance = instance;
  // Viewers' window procedure lives here: they close (deleting their
  // pictures' files) before the library goes.
  if (reason == DLL_PROCESS_DETACH) attachkit::CloseViewers();
  return TRUE;
}
