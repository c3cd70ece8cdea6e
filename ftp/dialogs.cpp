// The questions of copying and the file commands (transfer mode, overwrite,
// a new name, delete, rename, make directory, copy into a directory, a new
// path), the modeless "File Transfer" dialog with its two bars and the pie,
// and the "FTP Command" dialog for raw commands.
#include <windows.h>

#include <common/qxcommon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame.h"
#include "ftpcore.h"
#include "resources.h"

namespace {

// What one small dialog shows and what it gives back.
struct SmallDialog {
  const char *name = "";          // shown in 101 (or 102 when 101 is an edit)
  std::string *edited = nullptr;  // the edit 101's text on the way out
  int *allFiles = nullptr;        // the "All Files" check box
};

INT_PTR CALLBACK SmallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto *d = reinterpret_cast<SmallDialog *>(GetWindowLongPtrA(dialog, DWL_USER));
  switch (message) {
    case WM_INITDIALOG: {
      d = reinterpret_cast<SmallDialog *>(lParam);
      SetWindowLongPtrA(dialog, DWL_USER, lParam);
      if (d->edited) {
        SetDlgItemTextA(dialog, IDC_SMALL_OLD, d->name);
        SetDlgItemTextA(dialog, IDC_SMALL_NAME, d->edited->c_str());
        SendDlgItemMessageA(dialog, IDC_SMALL_NAME, EM_LIMITTEXT, 255, 0);
      } else {
        SetDlgItemTextA(dialog, IDC_SMALL_NAME, d->name);
      }
      if (d->allFiles) CheckDlgButton(dialog, IDC_SMALL_ALL_FILES, *d->allFiles ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      int result = -1;
      switch (id) {
        case IDOK: result = 1; break;
        case IDCANCEL: result = 0; break;
        case IDC_ASCII: result = 1; break;
        case IDC_BINARY: result = 0; break;
        case IDC_OVERWRITE: result = 1; break;
        case IDC_OVERWRITE_ALL: result = 3; break;
        case IDC_OVERWRITE_RENAME: result = 2; break;
        case IDC_DELETE_ALL: result = 2; break;
        default: return FALSE;
      }
      if (d && d->edited && id == IDOK) {
        char text[256] = {};
        GetDlgItemTextA(dialog, IDC_SMALL_NAME, text, sizeof text);
        *d->edited = text;
      }
      if (d && d->allFiles) *d->allFiles = IsDlgButtonChecked(dialog, IDC_SMALL_ALL_FILES) == BST_CHECKED;
      EndDialog(dialog, result);
      return TRUE;
    }
  }
  return FALSE;
}

int Ask(const char *templateName, SmallDialog &d) {
  const INT_PTR result = DialogBoxParamA(g_instance, templateName, g_frame, SmallDlgProc, reinterpret_cast<LPARAM>(&d));
  return result < 0 ? 0 : static_cast<int>(result);
}

// ---- File Transfer ----

HWND g_transfer;
bool g_transferCancelled = false;
int g_piePhase = 16000;

INT_PTR CALLBACK TransferDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(dialog);
        g_transfer = nullptr;
        g_transferCancelled = true;  // the copy stops after this block
      }
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      g_transfer = nullptr;
      g_transferCancelled = true;
      return TRUE;
  }
  return FALSE;
}

// A bar with "n %" centred: blue up to the share, white after it.
void DrawBar(HWND control, int percent) {
  RECT r;
  GetClientRect(control, &r);
  HDC dc = GetDC(control);
  const int split = static_cast<int>(r.right * std::clamp(percent, 0, 100) / 100);
  char text[16];
  snprintf(text, sizeof text, "%d %%", percent);
  SetBkMode(dc, OPAQUE);
  SelectObject(dc, g_font);
  SetTextAlign(dc, TA_CENTER);
  RECT left{0, 0, split, r.bottom}, right{split, 0, r.right, r.bottom};
  SetBkColor(dc, RGB(0, 0, 255));
  SetTextColor(dc, RGB(255, 255, 255));
  ExtTextOutA(dc, r.right / 2, 0, ETO_CLIPPED | ETO_OPAQUE, &left, text, static_cast<UINT>(strlen(text)), nullptr);
  SetBkColor(dc, RGB(255, 255, 255));
  SetTextColor(dc, RGB(0, 0, 255));
  ExtTextOutA(dc, r.right / 2, 0, ETO_CLIPPED | ETO_OPAQUE, &right, text, static_cast<UINT>(strlen(text)), nullptr);
  ReleaseDC(control, dc);
}

// The pie: one slice per 1/32 of the total, colours turning with the phase.
void DrawPie(HDC dc, int totalPercent) {
  static const POINT kPoints[33] = {
      {0, 18},  {1, 15},  {1, 12},  {3, 9},   {5, 7},   {7, 5},   {10, 3},  {13, 2},  {16, 2},  {19, 2},  {22, 3},
      {25, 5},  {28, 7},  {30, 9},  {31, 12}, {32, 15}, {32, 18}, {32, 21}, {31, 24}, {30, 27}, {28, 29}, {25, 31},
      {22, 33}, {19, 34}, {16, 34}, {13, 34}, {10, 33}, {7, 31},  {5, 29},  {3, 27},  {1, 24},  {1, 21},  {0, 18}};
  static const COLORREF kPalette[16] = {RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
                                        RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
                                        RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
                                        RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
  const int slices = std::clamp(totalPercent, 0, 100) * 32 / 100;
  for (int i = 0; i < slices; ++i) {
    const COLORREF colour = kPalette[(i + g_piePhase) % 16];
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ oldPen = SelectObject(dc, pen), oldBrush = SelectObject(dc, brush);
    Pie(dc, 2, 2, 33, 33, kPoints[i + 1].x, kPoints[i + 1].y, kPoints[i].x, kPoints[i].y);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  }
  if (--g_piePhase < 1) g_piePhase = 16000;
}

// ---- FTP Command ----

int g_commandWidest = 0;

void SendTypedCommand(HWND dialog) {
  std::vector<char> typed(2049);
  GetDlgItemTextA(dialog, IDC_COMMAND_EDIT, typed.data(), static_cast<int>(typed.size()));
  std::string reply;
  if (SendRawCommand(typed.data(), &reply) == 0 && reply.empty()) return;
  if (reply.empty()) return;
  HWND list = GetDlgItem(dialog, IDC_COMMAND_LIST);
  const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(reply.c_str()));
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  HDC dc = GetDC(list);
  SIZE size{};
  GetTextExtentPoint32A(dc, typed.data(), static_cast<int>(strlen(typed.data())), &size);
  ReleaseDC(list, dc);
  if (size.cx + 4 > g_commandWidest) {
    g_commandWidest = size.cx + 4;
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(g_commandWidest), 0);
  }
}

INT_PTR CALLBACK CommandDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      g_commandWidest = 0;
      SendDlgItemMessageA(dialog, IDC_COMMAND_EDIT, EM_LIMITTEXT, 2048, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_COMMAND_SEND: SendTypedCommand(dialog); return TRUE;
        case IDOK:
        case IDCANCEL: EndDialog(dialog, IDOK); return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

int AskTransferModeDialog(const char *name, int *allFiles) {
  SmallDialog d;
  d.name = name;
  d.allFiles = allFiles;
  return Ask("AscBin", d);
}

int AskOverwriteDialog(const char *name) {
  SmallDialog d;
  d.name = name;
  return Ask("Overwrite", d);
}

bool AskNewNameDialog(const char *dialog, const char *name, std::string *newName) {
  SmallDialog d;
  d.name = name;
  *newName = name;
  d.edited = newName;
  return Ask(dialog, d) == 1 && !newName->empty();
}

int AskDeleteDialog(const char *name) {
  SmallDialog d;
  d.name = name;
  return Ask("Delete", d);
}

bool AskRenameDialog(const char *name, std::string *newName) {
  SmallDialog d;
  d.name = name;
  *newName = name;
  d.edited = newName;
  return Ask("Rename", d) == 1;
}

bool AskMakeDirectoryDialog(std::string *name) {
  SmallDialog d;
  name->clear();
  d.edited = name;
  return Ask("Mkdir", d) == 1;
}

bool AskPutInDirDialog(const char *name) {
  SmallDialog d;
  d.name = name;
  return Ask("PutInDir", d) == 1;
}

bool AskNewPathDialog(std::string *path) {
  struct Holder {
    std::string *path;
  } holder{path};
  auto proc = [](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
    auto *h = reinterpret_cast<Holder *>(GetWindowLongPtrA(dialog, DWL_USER));
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(dialog, DWL_USER, lParam);
      h = reinterpret_cast<Holder *>(lParam);
      SetDlgItemTextA(dialog, IDC_PATH_EDIT, h->path->c_str());
      return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
      if (LOWORD(wParam) == IDOK) {
        char text[256] = {};
        GetDlgItemTextA(dialog, IDC_PATH_EDIT, text, sizeof text);
        *h->path = text;
      }
      EndDialog(dialog, LOWORD(wParam));
      return TRUE;
    }
    return FALSE;
  };
  return DialogBoxParamA(g_instance, "NewPath", g_frame, proc, reinterpret_cast<LPARAM>(&holder)) == IDOK;
}

void OpenTransferDialog() {
  g_transferCancelled = false;
  if (g_transfer) return;
  g_transfer = CreateDialogParamA(g_instance, "Transfer", g_frame, TransferDlgProc, 0);
  if (g_transfer && !g_iconic) ShowWindow(g_transfer, SW_SHOW);
}

void TransferDialogName(const char *name) {
  if (g_transfer) SetDlgItemTextA(g_transfer, IDC_TRANSFER_NAME, name);
}

void TransferDialogProgress(int filePercent, int totalPercent, unsigned long long fileBytes,
                            unsigned long long copyBytes) {
  if (g_iconic) {
    HDC dc = GetDC(g_frame);
    DrawPie(dc, totalPercent);
    ReleaseDC(g_frame, dc);
    return;
  }
  if (!g_transfer) return;
  char text[48];
  snprintf(text, sizeof text, "%llu bytes", fileBytes);
  SetDlgItemTextA(g_transfer, IDC_TRANSFER_FILE_BYTES, text);
  snprintf(text, sizeof text, "%llu bytes", copyBytes);
  SetDlgItemTextA(g_transfer, IDC_TRANSFER_TOTAL_BYTES, text);
  DrawBar(GetDlgItem(g_transfer, IDC_TRANSFER_FILE_BAR), filePercent);
  DrawBar(GetDlgItem(g_transfer, IDC_TRANSFER_TOTAL_BAR), totalPercent);
  HWND pie = GetDlgItem(g_transfer, IDC_TRANSFER_PIE);
  HDC dc = GetDC(pie);
  DrawPie(dc, totalPercent);
  ReleaseDC(pie, dc);
}

bool TransferDialogGone() { return g_transferCancelled; }

void CloseTransferDialog() {
  if (g_transfer) DestroyWindow(g_transfer);
  g_transfer = nullptr;
}

HWND TransferDialogWindow() { return g_transfer; }

void RunCommandDialog() { DialogBoxParamA(g_instance, "Command", g_frame, CommandDlgProc, 0); }
