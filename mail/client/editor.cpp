// The message editor window.
#include "editor.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "mailstore.h"
#include "msglist.h"
#include "retrieve.h"
#include "sendbox.h"
#include "settings.h"

#include <qxcommon.h>

namespace {

enum {
  IDS_INCLUDE = 108,
  IDS_CANNOT_INCLUDE = 109,
  IDS_TOO_LARGE = 110,
  IDS_NO_MEMORY = 111,
  IDS_READ_ERROR = 112,
  IDS_TEXT_TOO_LARGE = 114,
  IDS_INCLUDE_TITLE = 115,
  IDS_DISCARD = 116,
  IDS_DISCARD_CAPTION = 117,
};

constexpr long kIncludeLimit = 64000;  // bytes a file may have to be included

const QX_MENU_ITEM kFileItems[] = {
    QX_MENUITEM("&Save and Exit", IDM_EDIT_SAVE),
    QX_MENUITEM("&Cancel", IDM_EDIT_CANCEL),
};
const QX_MENU_ITEM kEditItems[] = {
    QX_MENUITEM("&Undo\tCtrl+Z", IDM_EDIT_UNDO),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("Cu&t\tCtrl+X", IDM_EDIT_CUT),
    QX_MENUITEM("&Copy\tCtrl+C", IDM_EDIT_COPY),
    QX_MENUITEM("&Paste\tCtrl+V", IDM_EDIT_PASTE),
    QX_MENUITEM("&Delete\tDel", IDM_EDIT_DELETE),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("Select &All", IDM_EDIT_SELECTALL),
};
const QX_MENU_ITEM kIncludeItems[] = {
    QX_MENUITEM("&Text File...", IDM_EDIT_INCLUDE),
    QX_MENUITEM("&Attachments...", IDM_EDIT_ATTACH),
    QX_MENUITEM("Include &Mail message", IDM_EDIT_INCLUDEMSG),
};
const QX_MENU_ITEM kHelpItems[] = {
    QX_MENUITEM("&Index", 301), QX_MENUITEM("&Editor Help", 302),     QX_MENUITEM("&Using Help", 303),
    QX_MENUSEPARATOR(),         QX_MENUITEM("&About QXMail...", 300),
};
const QX_MENU_ITEM kEditorMenuItems[] = {
    QX_POPUP("&File", kFileItems),
    QX_POPUP("&Edit", kEditItems),
    QX_POPUP("&Include", kIncludeItems),
    QX_POPUP("&Help", kHelpItems),
};
const QX_MENU kEditorMenu = QX_MENU_OF(kEditorMenuItems);

const QX_ACCELERATOR kEditorAccelEntries[] = {
    {FVIRTKEY | FCONTROL, 'Z', IDM_EDIT_UNDO}, {FVIRTKEY | FCONTROL, 'X', IDM_EDIT_CUT},
    {FVIRTKEY | FCONTROL, 'C', IDM_EDIT_COPY}, {FVIRTKEY | FCONTROL, 'V', IDM_EDIT_PASTE},
    {FVIRTKEY, VK_DELETE, IDM_EDIT_DELETE},
};
const QX_ACCELERATORS kEditorAccel = QX_ACCELERATORS_OF(kEditorAccelEntries);

const QX_RESOURCE kEditorResources[] = {
    QX_RES_MENU("QXMailEditMenu", kEditorMenu),
    QX_RES_ACCELERATORS("EditAccel", kEditorAccel),
    QX_STRING(IDS_INCLUDE, "Include"),
    QX_STRING(IDS_CANNOT_INCLUDE, "Unable to include file"),
    QX_STRING(IDS_TOO_LARGE, "File too large to include"),
    QX_STRING(IDS_NO_MEMORY, "Unable to allocate Global Memory"),
    QX_STRING(IDS_READ_ERROR, "Error reading include file"),
    QX_STRING(IDS_TEXT_TOO_LARGE, "Unable to include text (likely too large)"),
    QX_STRING(IDS_INCLUDE_TITLE, "Include Text File"),
    QX_STRING(IDS_DISCARD, "This action will discard the current edit buffer.  Cancel anyway?"),
    QX_STRING(IDS_DISCARD_CAPTION, "Cancel current edit buffer"),
};

struct EDITOR_STATE {
  std::string bodyPath;
  HWND window = nullptr, edit = nullptr;
  HFONT font = nullptr;
  bool wrapping = false;  // while set, commands to the window are ignored
};
EDITOR_STATE g_editor;

std::string Text(UINT id) {
  char buffer[160] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return buffer;
}

void IncludeError(HWND edit, UINT id) {
  g_MailMessageBox(GetParent(edit), Text(id).c_str(), Text(IDS_INCLUDE).c_str(), MB_ICONERROR);
}

// --- Lines of the edit control ------------------------------------------------

int LineOfChar(HWND edit, LPARAM index) { return static_cast<int>(SendMessageA(edit, EM_LINEFROMCHAR, index, 0)); }
size_t LineStart(HWND edit, int line) { return static_cast<size_t>(SendMessageA(edit, EM_LINEINDEX, line, 0)); }
size_t LineLength(HWND edit, size_t start) { return static_cast<size_t>(SendMessageA(edit, EM_LINELENGTH, start, 0)); }

// A line's whole text, however long (the first WORD of the buffer gives its room).
std::string LineText(HWND edit, int line) {
  const size_t length = LineLength(edit, LineStart(edit, line));
  std::vector<char> buffer(std::max<size_t>(length + 1, sizeof(WORD) + 1), '\0');
  const WORD room = static_cast<WORD>(std::min<size_t>(length, 0xFFFF));
  std::memcpy(buffer.data(), &room, sizeof room);
  const LRESULT got = SendMessageA(edit, EM_GETLINE, line, reinterpret_cast<LPARAM>(buffer.data()));
  return std::string(buffer.data(), static_cast<size_t>(std::max<LRESULT>(got, 0)));
}

void Select(HWND edit, size_t from, size_t to) { SendMessageA(edit, EM_SETSEL, from, static_cast<LPARAM>(to)); }
void Replace(HWND edit, const std::string &text) {
  SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}
size_t Caret(HWND edit) {
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return end;
}

bool IsWhite(char c) { return c == ' ' || c == '\t'; }

// --- Saving -------------------------------------------------------------------

// Every line, whole, each ended by LF (CR LF on disk: text mode).
bool SaveBody(HWND edit, const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  bool ok = true;
  const int lines = static_cast<int>(SendMessageA(edit, EM_GETLINECOUNT, 0, 0));
  for (int i = 0; ok && i < lines; ++i) {
    const std::string line = LineText(edit, i);
    if (i + 1 == lines && line.empty()) break;  // no empty line after the last line end
    ok = std::fwrite(line.data(), 1, line.size(), f) == line.size() && std::fputc('\n', f) != EOF;
  }
  return std::fclose(f) == 0 && ok;
}

void SavePlacement(HWND window) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(window, &wp) || IsIconic(window)) return;
  const RECT &r = wp.rcNormalPosition;
  const int values[] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
  const char *keys[] = {"EditXl", "EditYt", "EditCx", "EditCy"};
  for (int i = 0; i < 4; ++i)
    WritePrivateProfileStringA("postbox", keys[i], std::to_string(values[i]).c_str(), g_PlacementIniFile);
}

// --- Commands -----------------------------------------------------------------

void OnSave(HWND window) {
  if (!SaveBody(g_editor.edit, g_editor.bodyPath)) {
    // The edit stays open with the text, so nothing typed is lost.
    g_MailMessageBox(window,
                     ("The message text could not be saved to " + g_editor.bodyPath +
                      ". Check that the mail directory is writable and has room, then choose Save and Exit again.")
                         .c_str(),
                     "Message", MB_ICONERROR);
    return;
  }
  PostMessageA(window, WM_CLOSE, 0, kEditorCloseNow);
}

void OnCancel(HWND window) {
  if (g_MailMessageBox(window, Text(IDS_DISCARD).c_str(), Text(IDS_DISCARD_CAPTION).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES)
    PostMessageA(window, WM_CLOSE, 0, kEditorCloseNow);
}

void OnDelete(HWND edit) {
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  if (start == end) {
    const int line = LineOfChar(edit, start);
    const size_t lineEnd = LineStart(edit, line) + LineLength(edit, LineStart(edit, line));
    Select(edit, start, start == lineEnd ? start + 2 : start + 1);  // at a line's end: its CR LF
  }
  SendMessageA(edit, WM_CLEAR, 0, 0);
}

void OnIncludeFiles(HWND window) {
  std::string filter = "Text Files (*.TXT)|*.TXT|All Files (*.*)|*.*|";
  const char separator = filter.back();
  std::replace(filter.begin(), filter.end(), separator, '\0');
  char file[1280] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = window;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  const std::string title = Text(IDS_INCLUDE_TITLE);
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameA(&ofn)) return;
  for (const std::string &path : ChosenFiles(ofn)) IncludeTextFile(g_editor.edit, path);
}

// Include Message: the messages picked in "FindMessage" go in at the caret,
// each as its stored file holds it, from the folder the picker ended in; the
// current folder is the one from before afterwards.
void OnIncludeMessages(HWND window) {
  const std::string folder = Settings().currentFolder;
  std::vector<int32_t> numbers;
  if (PickMessagesDialog(window, numbers) == kMessagesPicked) {
    const std::string picked = Settings().currentFolder.empty() ? Settings().mailDir : Settings().currentFolder;
    for (const int32_t number : numbers)
      IncludeTextFile(g_editor.edit, MessagePath(picked, static_cast<uint32_t>(number)));
  }
  Settings().currentFolder = folder;
  SetFocus(g_editor.edit);
}

void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  HWND edit = g_editor.edit;
  if (reinterpret_cast<HWND>(lParam) == edit && lParam != 0) {
    if (HIWORD(wParam) == EN_UPDATE && !g_editor.wrapping) WrapCaretLine(edit, Settings().wordWrap);
    return;
  }
  if (g_editor.wrapping) return;
  switch (LOWORD(wParam)) {
    case IDM_EDIT_SAVE: OnSave(window); break;
    case IDM_EDIT_CANCEL: OnCancel(window); break;
    case IDM_EDIT_UNDO: SendMessageA(edit, EM_UNDO, 0, 0); break;
    case IDM_EDIT_CUT: SendMessageA(edit, WM_CUT, 0, 0); break;
    case IDM_EDIT_COPY: SendMessageA(edit, WM_COPY, 0, 0); break;
    case IDM_EDIT_PASTE: SendMessageA(edit, WM_PASTE, 0, 0); break;
    case IDM_EDIT_DELETE: OnDelete(edit); break;
    case IDM_EDIT_SELECTALL:
      Select(edit, 0, static_cast<size_t>(-1));
      SetFocus(edit);
      break;
    case IDM_EDIT_INCLUDE: OnIncludeFiles(window); break;
    case IDM_EDIT_ATTACH: AttachmentsDialog(window); break;
    case IDM_EDIT_INCLUDEMSG: OnIncludeMessages(window); break;
    case 300: DialogBoxParamA(GetModuleHandleA(nullptr), "About", window, AboutDlgProc, 0); break;
    case 301: WinHelpA(window, "RAZUZUZ.HLP", HELP_INDEX, 0); break;
    case 302: WinHelpA(window, "RAZUZUZ.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("Editor Help")); break;
    case 303: WinHelpA(window, "WINHELP.HLP", HELP_INDEX, 0); break;
    default: break;
  }
}

LRESULT CALLBACK EditorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (g_editor.edit) {
        MoveWindow(g_editor.edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        SetFocus(g_editor.edit);
      }
      return 0;
    case WM_ACTIVATE:
      if (g_editor.edit && LOWORD(wParam) != WA_INACTIVE) SetFocus(g_editor.edit);
      return 0;
    case WM_SHOWWINDOW:
      if (g_editor.edit) ShowWindow(g_editor.edit, wParam ? SW_SHOW : SW_HIDE);
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_COMMAND: OnCommand(window, wParam, lParam); return 0;
    case WM_CLOSE:
      if (lParam == kEditorCloseNow) {
        SavePlacement(window);
        DestroyWindow(window);
      } else {
        PostMessageA(window, WM_COMMAND, IDM_EDIT_SAVE, 0);  // closing the window saves, as Save and Exit
      }
      return 0;
    case WM_DESTROY:
      g_editor.edit = nullptr;
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterEditorClass(HINSTANCE instance) {
  WNDCLASSA existing{};
  if (GetClassInfoA(instance, kEditorClass, &existing)) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = EditorWndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "AppIcon1");
  if (!wc.hIcon) wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kEditorClass;
  return RegisterClassA(&wc) != 0;
}

int PlacementValue(const char *key, int def) {
  return static_cast<int>(GetPrivateProfileIntA("postbox", key, def, g_PlacementIniFile));
}

}  // namespace

QX_REGISTER_RESOURCES(kEditorResources)

int IncludeTextFile(HWND edit, const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    IncludeError(edit, IDS_CANNOT_INCLUDE);
    return 0;
  }
  std::string raw;
  char block[8192];
  bool tooLarge = false;
  for (size_t got; !tooLarge && (got = std::fread(block, 1, sizeof block, f)) > 0;) {
    raw.append(block, got);
    tooLarge = raw.size() > static_cast<size_t>(kIncludeLimit);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (tooLarge) {
    IncludeError(edit, IDS_TOO_LARGE);
    return 0;
  }
  if (failed) {
    IncludeError(edit, IDS_READ_ERROR);
    return 0;
  }
  // Line ends as the edit keeps them: CR LF, whatever the file has (LF, CR LF or CR).
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r') {
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      text += "\r\n";
    } else if (raw[i] == '\n') {
      text += "\r\n";
    } else if (raw[i] != '\0') {
      text += raw[i];
    }
  }
  // The text replaces the selection: the edit grows by the text less what was selected.
  DWORD selStart = 0, selEnd = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
  const long expected = static_cast<long>(GetWindowTextLengthA(edit)) - static_cast<long>(selEnd - selStart) +
                        static_cast<long>(text.size());
  Replace(edit, text);
  if (GetWindowTextLengthA(edit) < expected) {
    IncludeError(edit, IDS_TEXT_TOO_LARGE);
    return 0;
  }
  return 1;
}

void WrapCaretLine(HWND edit, int wordWrap) {
  if (wordWrap <= 0) return;
  const size_t caret = Caret(edit);
  const int line = LineOfChar(edit, static_cast<LPARAM>(caret));
  const size_t start = LineStart(edit, line);
  const std::string text = LineText(edit, line);
  const size_t length = text.size();
  if (length <= static_cast<size_t>(wordWrap)) return;
  g_editor.wrapping = true;
  // A TAB advances to the next multiple of 8 columns: the limit in characters shrinks.
  size_t limit = static_cast<size_t>(wordWrap);
  for (size_t i = 0, k = 0; i < length && i < limit; ++i, ++k) {
    if (text[i] != '\t') continue;
    limit -= std::min(limit, 7 - (k % 8));
    k = static_cast<size_t>(-1);  // counting starts again after the TAB
  }
  size_t white = std::min(limit, length - 1);
  while (white > 0 && !IsWhite(text[white])) --white;
  size_t cut = white;  // P: after the last character before the white run
  while (cut > 0 && IsWhite(text[cut - 1])) --cut;
  size_t moveFrom = white + 1;                                                               // T
  if (!(white > 1 && IsWhite(text[white]))) moveFrom = cut = static_cast<size_t>(wordWrap);  // a hard break
  if (cut >= length) {
    g_editor.wrapping = false;
    return;
  }
  const std::string moved = moveFrom < length ? text.substr(moveFrom) : std::string();
  const bool atLineEnd = caret == start + length;
  Select(edit, start + cut, start + length);
  Replace(edit, "");
  const int lines = static_cast<int>(SendMessageA(edit, EM_GETLINECOUNT, 0, 0));
  if (line + 1 < lines) {  // the moved text joins the next line
    const size_t next = LineStart(edit, line + 1);
    Select(edit, next, next);
    Replace(edit, moved + (atLineEnd ? "\r\n" : " "));
  } else {  // the last line: the moved text starts a new one
    Select(edit, start + cut, start + cut);
    Replace(edit, "\r\n" + moved);
  }
  // The caret stays with the character it was at.
  size_t newCaret = caret;
  if (start + cut < caret) {
    newCaret = caret >= start + moveFrom ? caret + 2 - (moveFrom - cut) : start + cut + 2;
  }
  Select(edit, newCaret, newCaret);
  g_editor.wrapping = false;
}

void EditMessage(const std::string &bodyPath, HWND owner) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!RegisterEditorClass(instance)) return;
  g_editor = EDITOR_STATE{};
  g_editor.bodyPath = bodyPath;
  const int x = PlacementValue("EditXl", CW_USEDEFAULT), y = PlacementValue("EditYt", 3);
  const int cx = PlacementValue("EditCx", CW_USEDEFAULT), cy = PlacementValue("EditCy", 0);
  HMENU menu = LoadMenuA(instance, "QXMailEditMenu");
  HWND window = CreateWindowA(kEditorClass, "Message", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, cx, cy, owner, menu,
                              instance, nullptr);
  if (!window) return;
  g_editor.window = window;
  RECT client{};
  GetClientRect(window, &client);
  g_editor.edit = CreateWindowA(
      "Edit", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL, 0,
      0, client.right, client.bottom, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditorControl)), instance,
      nullptr);
  const MAIL_SETTINGS &s = Settings();
  g_editor.font = CreateFontA(-s.composeSize * 96 / 72, 0, 0, 0, s.composeWeight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN,
                              s.composeFont.c_str());
  if (g_editor.font) SendMessageA(g_editor.edit, WM_SETFONT, reinterpret_cast<WPARAM>(g_editor.font), FALSE);
  SendMessageA(g_editor.edit, EM_LIMITTEXT, 0, 0);
  ShowWindow(window, SW_SHOW);
  SetFocus(g_editor.edit);
  g_editor.wrapping = true;  // the file comes in as it is
  if (GetFileAttributesA(bodyPath.c_str()) != INVALID_FILE_ATTRIBUTES) IncludeTextFile(g_editor.edit, bodyPath);
  g_editor.wrapping = false;
  Select(g_editor.edit, 0, 0);
  HACCEL accel = LoadAcceleratorsA(instance, "EditAccel");
  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
    if (accel && TranslateAcceleratorA(window, accel, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (got == 0 && IsWindow(window)) {
    // The program is ending: the text is kept, then the quit goes on.
    if (g_editor.edit) SaveBody(g_editor.edit, bodyPath);
    DestroyWindow(window);
    MSG drop;
    PeekMessageA(&drop, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // the editor's own quit
    PostQuitMessage(static_cast<int>(message.wParam));
  }
  if (g_editor.font) DeleteObject(g_editor.font);
  g_editor = EDITOR_STATE{};
}
