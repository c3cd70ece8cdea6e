// Print progress routines (see printing.h).
#include "printing.h"

#include <cstdio>

namespace {

struct PrintState {
  PRINTDLGA settings{};
  bool haveSettings = false;
  bool cancelled = false;
  HWND progress = nullptr;
};

PrintState &State() {
  static PrintState state;
  return state;
}

}  // namespace

PRINTDLGA &PrintSettings() { return State().settings; }

void PrintTakeDefaults(HWND owner) {
  PrintState &s = State();
  if (s.haveSettings) return;
  PRINTDLGA pd{};
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = owner;
  pd.Flags = PD_RETURNDEFAULT;
  pd.nCopies = 1;
  if (PrintDlgA(&pd)) {
    s.settings = pd;
    s.haveSettings = true;
  }
}

HDC PrintGetDC() {
  PrintState &s = State();
  if (!s.haveSettings || !s.settings.hDevNames) return nullptr;
  const auto *names = static_cast<const DEVNAMES *>(GlobalLock(s.settings.hDevNames));
  if (!names) return nullptr;
  const char *base = reinterpret_cast<const char *>(names);
  const DEVMODEA *mode = s.settings.hDevMode ? static_cast<const DEVMODEA *>(GlobalLock(s.settings.hDevMode)) : nullptr;
  HDC dc = CreateDCA(base + names->wDriverOffset, base + names->wDeviceOffset, base + names->wOutputOffset, mode);
  if (mode) GlobalUnlock(s.settings.hDevMode);
  GlobalUnlock(s.settings.hDevNames);
  return dc;
}

void PrintSetProgressDialog(HWND dialog) { State().progress = dialog; }
bool PrintCancelled() { return State().cancelled; }
void PrintClearCancel() { State().cancelled = false; }

void PrintPump() {
  PrintState &s = State();
  MSG msg;
  while (!s.cancelled && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (s.progress && IsDialogMessageA(s.progress, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

BOOL CALLBACK PrintAbortProc(HDC, int) {
  if (!State().progress) return TRUE;
  PrintPump();
  return !State().cancelled;
}

INT_PTR CALLBACK PrintAbortDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: SetFocus(GetDlgItem(dialog, IDCANCEL)); return TRUE;
    case WM_COMMAND: State().cancelled = true; return TRUE;
    case kPrintProgress: {
      char text[16];
      std::snprintf(text, sizeof text, "(%u%%)", static_cast<unsigned>(wParam));
      SetDlgItemTextA(dialog, kPrintPercentControl, text);
      return FALSE;
    }
  }
  return FALSE;
}
