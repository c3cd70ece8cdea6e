// The About box: the "logo" bitmap stretched over control 1001, the version
// texts, and the description of the Winsock implementation.
#include "qxcommon.h"

namespace {

// One About box is open at a time (it is modal), so its objects live here.
HBRUSH g_aboutBrush = nullptr;
HDC g_logoDC = nullptr;
HBITMAP g_logoBitmap = nullptr;
HGDIOBJ g_logoOld = nullptr;

void MakeFaceBrush() {
  if (!g_Ctl3dActive && !g_aboutBrush) g_aboutBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
}

// Draws the logo once, stretched to the control's client size.
void PrepareLogo(HWND dialog) {
  RECT area{};
  GetClientRect(GetDlgItem(dialog, IDC_ABOUT_LOGO), &area);
  const int width = area.right - area.left, height = area.bottom - area.top;
  HDC screen = GetDC(dialog);
  g_logoDC = CreateCompatibleDC(screen);
  g_logoBitmap = CreateCompatibleBitmap(screen, width > 0 ? width : 1, height > 0 ? height : 1);
  g_logoOld = SelectObject(g_logoDC, g_logoBitmap);
  HBITMAP logo = LoadBitmapA(GetModuleHandleA(nullptr), "logo");
  if (logo) {
    BITMAP info{};
    GetObjectA(logo, sizeof info, &info);
    HDC source = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(source, logo);
    StretchBlt(g_logoDC, 0, 0, width, height, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    DeleteObject(logo);
  }
  ReleaseDC(dialog, screen);
}

void FillTexts(HWND dialog) {
  void *block = VerLoadInfo(GetModuleHandleA(nullptr));
  char version[300], compiled[64];
  AboutVersionTexts(block, version, sizeof version, compiled, sizeof compiled);
  VerFreeInfo(block);
  SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, version);
  SetDlgItemTextA(dialog, IDC_ABOUT_COMPILED, compiled);
  WSADATA data{};
  if (WSAStartup(MAKEWORD(1, 1), &data) == 0) {
    SetDlgItemTextA(dialog, IDC_ABOUT_NETWORK, data.szDescription);
    WSACleanup();
  }
}

INT_PTR OnCtlColor(UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_Ctl3dActive && Ctl3dCtlColorEx) return reinterpret_cast<INT_PTR>(Ctl3dCtlColorEx(message, wParam, lParam));
  MakeFaceBrush();
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<INT_PTR>(g_aboutBrush);
}

void OnDestroy() {
  if (g_aboutBrush) DeleteObject(g_aboutBrush);
  g_aboutBrush = nullptr;
  if (g_logoDC) {
    SelectObject(g_logoDC, g_logoOld);
    DeleteDC(g_logoDC);
  }
  if (g_logoBitmap) DeleteObject(g_logoBitmap);
  g_logoDC = nullptr;
  g_logoBitmap = nullptr;
}

}  // namespace

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      MakeFaceBrush();
      PrepareLogo(dialog);
      FillTexts(dialog);
      return TRUE;
    case WM_DRAWITEM: {
      const auto *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
      if (item && g_logoDC)
        BitBlt(item->hDC, 0, 0, item->rcItem.right - item->rcItem.left, item->rcItem.bottom - item->rcItem.top,
               g_logoDC, 0, 0, SRCCOPY);
      return TRUE;
    }
    case WM_MEASUREITEM:
      MakeFaceBrush();  // made once; the box deletes one brush at the end
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: return OnCtlColor(message, wParam, lParam);
    case WM_DESTROY: OnDestroy(); return FALSE;
    default: return FALSE;
  }
}
