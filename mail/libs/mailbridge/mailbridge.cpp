// mailbridge: Simple MAPI for programs outside the suite. Sending goes to the
// mail client through the hand-off block; saved messages are blocks in files
// of the user's mail directory; the address book is the alias library's.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "block.h"
#include "handoff.h"
#include "nicknames.h"
#include "qxmapi.h"

namespace mailbridge {
namespace {

enum ControlId : int {
  IDC_USER = 100,
  IDC_PASSWORD = 101,
  IDC_LOGO = 115,
  IDC_TO = 100,
  IDC_CC = 101,
  IDC_BCC = 102,
  IDC_PICK_TO = 200,
  IDC_PICK_CC = 201,
  IDC_PICK_BCC = 202,
  IDC_BLOCK = 1000,
};

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kEdit = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;

const QX_DIALOG_ITEM kLogonItems[] = {
    QX_CONTROL("", IDC_LOGO, "Static", SS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 8, 8, 32, 32),
    QX_LTEXT("Enter a Username and Password", -1, 48, 8, 150, 8),
    QX_LTEXT("which will used for MAPI requests:", -1, 48, 18, 150, 8),
    QX_LTEXT("&Username:", -1, 8, 46, 44, 8),
    QX_CONTROL("", IDC_USER, "Edit", kEdit, 56, 44, 120, 12),
    QX_LTEXT("&Password:", -1, 8, 64, 44, 8),
    QX_CONTROL("", IDC_PASSWORD, "Edit", kEdit | ES_PASSWORD, 56, 62, 120, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 184, 44, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 184, 62, 44, 14),
};
const QX_DIALOG kLogon =
    QX_DIALOG_TEMPLATE(30, 30, 236, 84, kDialogStyle, "MAPI Logon", "MS Sans Serif", 8, kLogonItems);

#define ADDRESS_ROW(label, button, edit, y) \
  QX_PUSHBUTTON(label, button, 8, y, 36, 14), QX_CONTROL("", edit, "Edit", kEdit, 50, y + 1, 180, 12)
#define ADDRESS_TAIL                                                                                \
  QX_DEFPUSHBUTTON("OK", IDOK, 238, 8, 44, 14), QX_PUSHBUTTON("Cancel", IDCANCEL, 238, 26, 44, 14), \
      QX_LTEXT("", IDC_BLOCK, 0, 0, 0, 0), QX_LTEXT("Alias", 1001, 238, 46, 44, 8)
const QX_DIALOG_ITEM kAddress1Items[] = {ADDRESS_ROW("&To:", IDC_PICK_TO, IDC_TO, 8), ADDRESS_TAIL};
const QX_DIALOG_ITEM kAddress2Items[] = {ADDRESS_ROW("&To:", IDC_PICK_TO, IDC_TO, 8),
                                         ADDRESS_ROW("&Cc:", IDC_PICK_CC, IDC_CC, 26), ADDRESS_TAIL};
const QX_DIALOG_ITEM kAddress3Items[] = {ADDRESS_ROW("&To:", IDC_PICK_TO, IDC_TO, 8),
                                         ADDRESS_ROW("&Cc:", IDC_PICK_CC, IDC_CC, 26),
                                         ADDRESS_ROW("&Bcc:", IDC_PICK_BCC, IDC_BCC, 44), ADDRESS_TAIL};
const QX_DIALOG kAddress1 =
    QX_DIALOG_TEMPLATE(30, 30, 290, 64, kDialogStyle, "Address Book", "MS Sans Serif", 8, kAddress1Items);
const QX_DIALOG kAddress2 =
    QX_DIALOG_TEMPLATE(30, 30, 290, 64, kDialogStyle, "Address Book", "MS Sans Serif", 8, kAddress2Items);
const QX_DIALOG kAddress3 =
    QX_DIALOG_TEMPLATE(30, 30, 290, 66, kDialogStyle, "Address Book", "MS Sans Serif", 8, kAddress3Items);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("LOGON", kLogon),
    QX_RES_DIALOG("ADDRESS1", kAddress1),
    QX_RES_DIALOG("ADDRESS2", kAddress2),
    QX_RES_DIALOG("ADDRESS3", kAddress3),
};

constexpr size_t kNameLength = 64;

// What the library keeps per process.
struct State {
  std::mutex lock;
  HINSTANCE instance = nullptr;
  std::string iniFile = "QXMAIL.INI";
  std::string defaultUser, defaultPassword;  // the shared default session
  std::string user, password;                // the pair a request runs under
  // Sessions given out: small numbers, so a made-up handle is refused.
  std::map<LHANDLE, std::pair<std::string, std::string>> sessions;
  LHANDLE nextSession = 1;
  // The alias library's functions, all or none.
  HMODULE aliases = nullptr;
  INITIALIZEALIAS initializeAlias = nullptr;
  FREEUSERCONTEXT freeUserContext = nullptr;
  GETUSERALIASLIST getUserAliasList = nullptr;
  CHECKALIAS checkAlias = nullptr;
  GETNEXTALIASEXPANSION getNextAliasExpansion = nullptr;
  // Buffers handed to the caller, freed by MAPIFreeBuffer.
  std::map<void *, std::shared_ptr<void>> buffers;
};

State &S() {
  static State state;
  return state;
}

std::string Bounded(LPCSTR text, size_t max = kNameLength) {
  return text ? std::string(text, strnlen(text, max)) : std::string();
}

std::string MailDirOf(const std::string &user) {
  if (user.empty()) return {};
  char dir[128] = {};
  GetPrivateProfileStringA(user.c_str(), "MailDir", "", dir, sizeof dir, S().iniFile.c_str());
  return dir;
}

bool ValidUser(const std::string &user) { return !MailDirOf(user).empty(); }

void BindAliases(State &s) {
  HMODULE m = LoadLibraryA(NICKNAMES_MODULE);  // none without the library: no address book
  if (!m) return;
  auto proc = [m](const char *name) { return GetProcAddress(m, name); };
  auto init = reinterpret_cast<INITIALIZEALIAS>(proc("InitializeAlias"));
  auto free = reinterpret_cast<FREEUSERCONTEXT>(proc("FreeUserContext"));
  auto manage = proc("AliasManagement");
  auto list = reinterpret_cast<GETUSERALIASLIST>(proc("GetUserAliasList"));
  auto check = reinterpret_cast<CHECKALIAS>(proc("CheckAlias"));
  auto next = reinterpret_cast<GETNEXTALIASEXPANSION>(proc("GetNextAliasExpansion"));
  if (!init || !free || !manage || !list || !check || !next) {
    FreeLibrary(m);
    return;
  }
  s.aliases = m;
  s.initializeAlias = init;
  s.freeUserContext = free;
  s.getUserAliasList = list;
  s.checkAlias = check;
  s.getNextAliasExpansion = next;
}

// ---------------------------------------------------------------------------
// Logon
// ---------------------------------------------------------------------------

INT_PTR CALLBACK LogonProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IDC_USER, S().user.c_str());
      SendDlgItemMessageA(dialog, IDC_USER, EM_LIMITTEXT, kNameLength, 0);
      SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_LIMITTEXT, kNameLength, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        char user[kNameLength + 1] = {}, password[kNameLength + 1] = {};
        GetDlgItemTextA(dialog, IDC_USER, user, sizeof user);
        GetDlgItemTextA(dialog, IDC_PASSWORD, password, sizeof password);
        S().user = user;
        S().password = password;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

HWND Owner(ULONG_PTR uiParam) {
  HWND w = reinterpret_cast<HWND>(uiParam);
  return w && IsWindow(w) ? w : nullptr;
}

MAPI_ULONG Logon(ULONG_PTR uiParam, LPCSTR profile, LPCSTR password, MAPI_FLAGS flags, LHANDLE *session) {
  State &s = S();
  s.user.clear();
  s.password.clear();
  if (!(flags & MAPI_NEW_SESSION)) {
    s.user = Bounded(profile);
    s.password = Bounded(password);
  }
  if (!profile || !*profile) {
    if (!(flags & MAPI_NEW_SESSION) && !s.defaultUser.empty() && !s.defaultPassword.empty()) {
      s.user = s.defaultUser;
      s.password = s.defaultPassword;
      if (session) *session = MAPI_DEFAULT_SESSION;
      return SUCCESS_SUCCESS;
    }
    if (flags & MAPI_DEFAULT_USER) s.user = s.defaultUser;
  }
  while (s.user.empty() || s.password.empty() || !ValidUser(s.user)) {
    if (!(flags & MAPI_LOGON_UI)) return MAPI_E_LOGIN_FAILURE;
    if (DialogBoxParamA(s.instance, "LOGON", Owner(uiParam), LogonProc, 0) != IDOK) return MAPI_USER_ABORT;
    if (!s.user.empty() && !s.password.empty() && !ValidUser(s.user))
      MessageBoxA(Owner(uiParam), "Invalid Username", "MAPI Error", MB_OK | MB_ICONERROR);
  }
  if (flags & MAPI_SHARED_DEFAULT) {
    s.defaultUser = s.user;
    s.defaultPassword = s.password;
    if (session) *session = MAPI_DEFAULT_SESSION;
    return SUCCESS_SUCCESS;
  }
  std::lock_guard<std::mutex> guard(s.lock);
  const LHANDLE handle = s.nextSession++;
  if (s.nextSession == MAPI_DEFAULT_SESSION) s.nextSession = 1;
  s.sessions[handle] = {s.user, s.password};
  if (session) *session = handle;
  return SUCCESS_SUCCESS;
}

// Makes the session's pair current; logs on first for session 0.
MAPI_ULONG Resolve(LHANDLE session, ULONG_PTR uiParam, MAPI_FLAGS flags) {
  State &s = S();
  if (session == MAPI_DEFAULT_SESSION) {
    s.user = s.defaultUser;
    s.password = s.defaultPassword;
    return SUCCESS_SUCCESS;
  }
  if (session == 0) {
    LHANDLE made = 0;
    if (const MAPI_ULONG e = Logon(uiParam, nullptr, nullptr, flags, &made)) return e;
    session = made;
    if (session == MAPI_DEFAULT_SESSION) return SUCCESS_SUCCESS;
  }
  std::lock_guard<std::mutex> guard(s.lock);
  auto it = s.sessions.find(session);
  if (it == s.sessions.end()) return MAPI_E_LOGIN_FAILURE;
  s.user = it->second.first;
  s.password = it->second.second;
  return SUCCESS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Messages as blocks
// ---------------------------------------------------------------------------

// A recipient's text: its address, else its name, else its entry identifier.
std::string RecipientText(const MapiRecipDesc &r) {
  if (r.lpszAddress && *r.lpszAddress) return Bounded(r.lpszAddress, 1024);
  if (r.lpszName && *r.lpszName) return Bounded(r.lpszName, 1024);
  if (r.lpEntryID && r.ulEIDSize)
    return Bounded(static_cast<const char *>(r.lpEntryID), std::min<size_t>(r.ulEIDSize, 1024));
  return {};
}

Request FromMessage(const MapiMessage &m) {
  Request r;
  if (m.lpszSubject) r.subject = Bounded(m.lpszSubject, 1024);
  if (m.lpszNoteText) r.note = m.lpszNoteText;
  for (MAPI_ULONG i = 0; m.lpRecips && i < m.nRecipCount; ++i) {
    const MapiRecipDesc &rc = m.lpRecips[i];
    const char kind = rc.ulRecipClass == MAPI_CC ? 'C' : rc.ulRecipClass == MAPI_BCC ? 'B' : 'T';
    r.recipients.push_back({kind, RecipientText(rc)});
  }
  for (MAPI_ULONG i = 0; m.lpFiles && i < m.nFileCount; ++i) {
    const MapiFileDesc &f = m.lpFiles[i];
    std::string entry = Bounded(f.lpszPathName, MAX_PATH);
    if (f.lpszFileName && *f.lpszFileName) entry += "=\\" + Bounded(f.lpszFileName, MAX_PATH);
    r.files.push_back(entry);
  }
  return r;
}

struct RecipientsBuffer {
  std::vector<MapiRecipDesc> recips;
  std::vector<std::string> texts;  // each recipient's name, address and identifier
};

// An array of recipients, each text its own copy; tagged as the standard
// buffer form (2 in the low word, the count in the high one).
MapiRecipDesc *MakeRecipients(const std::vector<std::pair<MAPI_ULONG, std::string>> &list) {
  auto b = std::make_shared<RecipientsBuffer>();
  b->texts.reserve(list.size() * 3);
  for (const auto &[cls, text] : list) {
    MapiRecipDesc r{};
    r.ulRecipClass = cls;
    b->texts.push_back(text);
    r.lpszName = b->texts.back().data();
    b->texts.push_back(text);
    r.lpszAddress = b->texts.back().data();
    b->texts.push_back(text);
    r.lpEntryID = b->texts.back().data();
    r.ulEIDSize = static_cast<MAPI_ULONG>(text.size() + 1);
    b->recips.push_back(r);
  }
  if (b->recips.empty()) return nullptr;
  b->recips[0].ulReserved = 2 + (static_cast<MAPI_ULONG>(list.size()) << 16);
  MapiRecipDesc *first = b->recips.data();
  std::lock_guard<std::mutex> guard(S().lock);
  S().buffers[first] = std::shared_ptr<void>(b, first);
  return first;
}

struct MessageBuffer {
  MapiMessage message{};
  MapiRecipDesc originator{};
  std::vector<MapiRecipDesc> recips;
  std::vector<MapiFileDesc> files;
  std::vector<std::unique_ptr<std::string>> texts;
  char *Text(const std::string &t) {
    texts.push_back(std::make_unique<std::string>(t));
    return texts.back()->data();
  }
  MapiRecipDesc Recipient(MAPI_ULONG cls, const std::string &t) {
    MapiRecipDesc r{};
    r.ulRecipClass = cls;
    r.lpszName = Text(t);
    r.lpszAddress = Text(t);
    r.lpEntryID = Text(t);
    r.ulEIDSize = static_cast<MAPI_ULONG>(t.size() + 1);
    return r;
  }
};

}  // namespace
}  // namespace mailbridge

QX_REGISTER_RESOURCES(mailbridge::kResources)

using namespace mailbridge;

extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  State &s = S();
  if (s.instance) return TRUE;  // later attaches change nothing
  s.instance = instance;
  OFSTRUCT found{};
  if (OpenFile("QXMAIL.INI", &found, OF_EXIST) != HFILE_ERROR) s.iniFile = found.szPathName;
  BindAliases(s);
  return TRUE;
}

extern "C" QX_DLLEXPORT INT_PTR CALLBACK LogonDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return LogonProc(dialog, message, wParam, lParam);
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPILogon(ULONG_PTR uiParam, LPSTR profileName, LPSTR password,
                                                    MAPI_FLAGS flags, MAPI_ULONG, LHANDLE *session) {
  if (!session) return MAPI_E_FAILURE;
  *session = 0;
  return Logon(uiParam, profileName, password, flags, session);
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR, MAPI_FLAGS, MAPI_ULONG) {
  if (session != MAPI_DEFAULT_SESSION) {
    std::lock_guard<std::mutex> guard(S().lock);
    S().sessions.erase(session);
  }
  return SUCCESS_SUCCESS;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message,
                                                       MAPI_FLAGS flags, MAPI_ULONG) {
  if (!message) return MAPI_E_FAILURE;
  if (const MAPI_ULONG e = Resolve(session, uiParam, flags)) return e;
  Request r = FromMessage(*message);
  r.user = S().user;
  r.password = S().password;
  r.flags = ((message->flFlags & MAPI_RECEIPT_REQUESTED) ? uint32_t{kReceipt} : 0u) |
            ((flags & MAPI_DIALOG) ? uint32_t{kShowDialog} : 0u);
  return HandOff(std::move(r), true, Owner(uiParam), S().instance);
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPISendDocuments(ULONG_PTR uiParam, LPSTR delimiter, LPSTR filePaths,
                                                            LPSTR fileNames, MAPI_ULONG) {
  LHANDLE session = 0;
  if (const MAPI_ULONG e = Logon(uiParam, nullptr, nullptr, MAPI_LOGON_UI | MAPI_SHARED_DEFAULT, &session)) return e;
  if (session != MAPI_DEFAULT_SESSION) MAPILogoff(session, 0, 0, 0);
  // The caller's strings are split in a copy of our own, never in place.
  const char delim = delimiter && *delimiter ? *delimiter : ';';
  const std::string paths = filePaths ? filePaths : "", names = fileNames ? fileNames : "";
  auto split = [delim](const std::string &list) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = list.find(delim, from)) != std::string::npos; from = at + 1)
      parts.push_back(list.substr(from, at - from));
    parts.push_back(list.substr(from));
    return parts;
  };
  Request r;
  r.user = S().user;
  r.password = S().password;
  r.flags = kShowDialog;
  if (!paths.empty()) {
    const std::vector<std::string> p = split(paths);
    const std::vector<std::string> n = names.empty() ? std::vector<std::string>{} : split(names);
    for (size_t i = 0; i < p.size(); ++i) r.files.push_back(i < n.size() && !n[i].empty() ? p[i] + "=\\" + n[i] : p[i]);
  }
  const uint32_t result = HandOff(std::move(r), false, Owner(uiParam), S().instance);
  return result == MAPI_E_FAILURE || result == MAPI_E_INSUFFICIENT_MEMORY ? result : SUCCESS_SUCCESS;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPISaveMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message,
                                                       MAPI_FLAGS flags, MAPI_ULONG, LPSTR messageId) {
  if (!message || !messageId) return MAPI_E_FAILURE;
  const bool fresh = messageId[0] == '\0';
  if (fresh) {
    flags &= ~MAPI_LOGON_UI;
    if (session == 0) return MAPI_E_INVALID_SESSION;
  }
  if (const MAPI_ULONG e = Resolve(session, uiParam, flags)) return e;
  Request r = FromMessage(*message);
  if (const MapiRecipDesc *o = message->lpOriginator) r.user = RecipientText(*o);
  if (r.user.empty()) r.user = S().user;
  std::string path = Bounded(messageId, MAPI_MESSAGE_ID_SIZE - 1);
  if (fresh) {
    const std::string dir = MailDirOf(S().user);
    if (dir.empty()) return MAPI_E_FAILURE;  // no mail directory to keep it in
    char made[MAX_PATH] = {};
    if (!GetTempFileNameA(dir.c_str(), "qx", 0, made)) return MAPI_E_FAILURE;
    path = made;
    if (path.size() >= MAPI_MESSAGE_ID_SIZE) {
      DeleteFileA(made);
      return MAPI_E_FAILURE;
    }
  }
  const std::vector<uint8_t> block = BuildMailBlock(r, 0x10000);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return MAPI_E_FAILURE;
  DWORD written = 0;
  const bool ok = WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) &&
                  written == block.size() && SetEndOfFile(file);
  CloseHandle(file);
  if (!ok) return MAPI_E_FAILURE;
  if (fresh) std::memcpy(messageId, path.c_str(), path.size() + 1);
  return SUCCESS_SUCCESS;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPIReadMail(LHANDLE, ULONG_PTR, LPSTR messageId, MAPI_FLAGS, MAPI_ULONG,
                                                       lpMapiMessage *out) {
  if (!messageId || !out) return MAPI_E_FAILURE;
  *out = nullptr;
  std::vector<uint8_t> bytes;
  HANDLE file = CreateFileA(messageId, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return MAPI_E_FAILURE;
  FILETIME accessed{};
  GetFileTime(file, nullptr, &accessed, nullptr);
  const DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE || size > (64u << 20)) {
    CloseHandle(file);
    return MAPI_E_FAILURE;
  }
  bytes.resize(size);
  DWORD got = 0;
  const bool read = ReadFile(file, bytes.data(), size, &got, nullptr) && got == size;
  CloseHandle(file);
  if (!read) return MAPI_E_FAILURE;
  const std::optional<Request> r = ParseBlock(bytes.data(), bytes.size(), true);
  if (!r) return MAPI_E_FAILURE;

  auto b = std::make_shared<MessageBuffer>();
  MapiMessage &m = b->message;
  m.ulReserved = 1;
  if (r->subject) m.lpszSubject = b->Text(*r->subject);
  if (r->note) m.lpszNoteText = b->Text(*r->note);
  FILETIME local{};
  SYSTEMTIME t{};
  FileTimeToLocalFileTime(&accessed, &local);
  FileTimeToSystemTime(&local, &t);
  char date[32];
  std::snprintf(date, sizeof date, "%04d/%02d/%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
  m.lpszDateReceived = b->Text(date);
  b->originator = b->Recipient(MAPI_ORIG, r->user);
  m.lpOriginator = &b->originator;
  for (const Recipient &rc : r->recipients)
    b->recips.push_back(b->Recipient(rc.kind == 'B' ? MAPI_BCC : rc.kind == 'C' ? MAPI_CC : MAPI_TO, rc.text));
  b->recips.push_back(b->Recipient(MAPI_ORIG, r->user));
  m.nRecipCount = static_cast<MAPI_ULONG>(b->recips.size());
  m.lpRecips = b->recips.data();
  for (const std::string &entry : r->files) {
    MapiFileDesc f{};
    f.nPosition = 0xFFFFFFFFu;
    const size_t eq = entry.find('=');
    f.lpszPathName = b->Text(entry.substr(0, eq));
    if (eq != std::string::npos && entry.compare(eq, 2, "=\\") == 0) f.lpszFileName = b->Text(entry.substr(eq + 2));
    b->files.push_back(f);
  }
  m.nFileCount = static_cast<MAPI_ULONG>(b->files.size());
  m.lpFiles = b->files.empty() ? nullptr : b->files.data();
  *out = &b->message;
  std::lock_guard<std::mutex> guard(S().lock);
  S().buffers[&b->message] = std::shared_ptr<void>(b, &b->message);
  return SUCCESS_SUCCESS;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPIDeleteMail(LHANDLE, ULONG_PTR, LPSTR messageId, MAPI_FLAGS, MAPI_ULONG) {
  if (messageId) DeleteFileA(messageId);
  return SUCCESS_SUCCESS;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPIFindNext(LHANDLE, ULONG_PTR, LPSTR, LPSTR, MAPI_FLAGS, MAPI_ULONG,
                                                       LPSTR) {
  return MAPI_E_NO_MESSAGES;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPIFreeBuffer(LPVOID buffer) {
  if (!buffer) return SUCCESS_SUCCESS;
  std::shared_ptr<void> owner;
  {
    std::lock_guard<std::mutex> guard(S().lock);
    auto it = S().buffers.find(buffer);
    if (it == S().buffers.end()) return MAPI_E_FAILURE;  // not ours, or freed already
    owner = std::move(it->second);
    S().buffers.erase(it);
  }
  return SUCCESS_SUCCESS;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPIDetails(LHANDLE, ULONG_PTR, lpMapiRecipDesc, MAPI_FLAGS, MAPI_ULONG) {
  return MAPI_E_NOT_SUPPORTED;
}

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPIResolveName(LHANDLE, ULONG_PTR, LPSTR name, MAPI_FLAGS, MAPI_ULONG,
                                                          lpMapiRecipDesc *recip) {
  if (!recip) return MAPI_E_FAILURE;
  *recip = MakeRecipients({{MAPI_ORIG, Bounded(name, 1024)}});
  return *recip ? SUCCESS_SUCCESS : MAPI_E_INSUFFICIENT_MEMORY;
}

// ---------------------------------------------------------------------------
// The address book
// ---------------------------------------------------------------------------

namespace mailbridge {
namespace {

struct AddressRequest {
  const MapiRecipDesc *given = nullptr;
  MAPI_ULONG givenCount = 0;
  std::string caption;
  HGLOBAL aliasContext = nullptr;
  std::vector<std::pair<MAPI_ULONG, std::string>> chosen;
};

std::string EditText(HWND dialog, int id) {
  HWND edit = GetDlgItem(dialog, id);
  if (!edit) return {};
  std::string text(static_cast<size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
  GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
  text.resize(strnlen(text.c_str(), text.size()));
  return text;
}

void AppendTo(HWND dialog, int id, const std::string &text, const char *joiner) {
  std::string now = EditText(dialog, id);
  if (!now.empty()) now += joiner;
  now += text;
  SetDlgItemTextA(dialog, id, now.c_str());
  SendDlgItemMessageA(dialog, id, EM_SETSEL, now.size(), now.size());
}

// The comma-separated items of an edit, blanks around them dropped.
std::vector<std::string> Items(const std::string &text) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(',', from);
    std::string item = text.substr(from, at == std::string::npos ? std::string::npos : at - from);
    const size_t a = item.find_first_not_of(" \t"), z = item.find_last_not_of(" \t");
    items.push_back(a == std::string::npos ? "" : item.substr(a, z - a + 1));
    if (at == std::string::npos) break;
    from = at + 1;
  }
  return items;
}

void PickAlias(HWND dialog, AddressRequest &req, int button) {
  State &s = S();
  if (!req.aliasContext || !s.getUserAliasList) return;
  HGLOBAL picked = s.getUserAliasList(req.aliasContext, button - IDC_PICK_TO + 1, dialog);
  if (!picked) return;
  std::string alias;
  if (const char *p = static_cast<const char *>(GlobalLock(picked))) {
    alias = Bounded(p, 1024);
    GlobalUnlock(picked);
  }
  GlobalFree(picked);
  std::string text = alias;
  if (HGLOBAL expansion = s.checkAlias(req.aliasContext, alias.c_str())) {
    text.clear();
    while (HGLOBAL member = s.getNextAliasExpansion(req.aliasContext, expansion)) {
      if (const char *p = static_cast<const char *>(GlobalLock(member))) {
        text += (text.empty() ? "" : ", ") + Bounded(p, 1024);
        GlobalUnlock(member);
      }
      GlobalFree(member);
    }
  }
  AppendTo(dialog, button - 100, text, ", ");
}

INT_PTR CALLBACK AddressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto *req = reinterpret_cast<AddressRequest *>(lParam);
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
      if (!req->caption.empty()) SetWindowTextA(dialog, req->caption.c_str());
      for (MAPI_ULONG i = 0; req->given && i < req->givenCount; ++i) {
        const MapiRecipDesc &r = req->given[i];
        const int id = r.ulRecipClass == MAPI_CC ? IDC_CC : r.ulRecipClass == MAPI_BCC ? IDC_BCC : IDC_TO;
        AppendTo(dialog, id, RecipientText(r), ",");
      }
      return TRUE;
    }
    case WM_COMMAND: {
      auto *req = reinterpret_cast<AddressRequest *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
      if (!req) return FALSE;
      const int id = LOWORD(wParam);
      if (id >= IDC_PICK_TO && id <= IDC_PICK_BCC) {
        PickAlias(dialog, *req, id);
      } else if (id == IDOK) {
        const std::pair<int, MAPI_ULONG> edits[] = {{IDC_TO, MAPI_TO}, {IDC_CC, MAPI_CC}, {IDC_BCC, MAPI_BCC}};
        for (const auto &[edit, cls] : edits)
          for (const std::string &item : Items(EditText(dialog, edit))) req->chosen.emplace_back(cls, item);
        EndDialog(dialog, IDOK);
      } else if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      } else {
        return FALSE;
      }
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace
}  // namespace mailbridge

extern "C" QX_DLLEXPORT MAPI_ULONG WINAPI MAPIAddress(LHANDLE session, ULONG_PTR uiParam, LPSTR caption,
                                                      MAPI_ULONG editFields, LPSTR, MAPI_ULONG recipCount,
                                                      lpMapiRecipDesc recips, MAPI_FLAGS flags, MAPI_ULONG,
                                                      MAPI_ULONG *newCount, lpMapiRecipDesc *newRecips) {
  if (!newCount || !newRecips) return MAPI_E_FAILURE;
  *newCount = 0;
  *newRecips = nullptr;
  if (const MAPI_ULONG e = Resolve(session, uiParam, flags)) return e;
  State &s = S();
  AddressRequest req;
  req.given = recips;
  req.givenCount = recips ? recipCount : 0;
  req.caption = Bounded(caption, 256);
  const std::string dir = MailDirOf(s.user);
  if (!dir.empty() && s.initializeAlias) req.aliasContext = s.initializeAlias(dir.c_str(), s.user.c_str());
  const char *name = editFields == 1 ? "ADDRESS1" : editFields == 2 ? "ADDRESS2" : "ADDRESS3";
  const INT_PTR end = DialogBoxParamA(s.instance, name, Owner(uiParam), AddressProc, reinterpret_cast<LPARAM>(&req));
  if (req.aliasContext) s.freeUserContext(req.aliasContext);
  if (end != IDOK) return SUCCESS_SUCCESS;
  *newCount = static_cast<MAPI_ULONG>(req.chosen.size());
  if (!req.chosen.empty()) {
    *newRecips = MakeRecipients(req.chosen);
    if (!*newRecips) {
      *newCount = 0;
      return MAPI_E_INSUFFICIENT_MEMORY;
    }
  }
  return SUCCESS_SUCCESS;
}
