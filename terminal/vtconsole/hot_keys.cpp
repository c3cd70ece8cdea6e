// Keys from the ring to the host: the hot keys of the key map (Set-Up, exit,
// compose, freeze, logging, print screen, a shell, other sessions), Set-Up
// while it is shown, and everything else through the
// key map, whose characters are typed and whose strings go out as the
// emulator sends strings.
#include <cstring>
#include <string>

#include "setup_screens.h"
#include "vtconsole.h"

TERM_KEYMAP g_KeyMap;

namespace {

class SessionKeyOutput : public KeyMapOutput {
 public:
  void Char(BYTE ch) override { SessionSendByte(ch); }
  void String(const BYTE *text, size_t length) override {
    if (g_Session.tn.mode & MODE_3270) {
      // The 3270 keyboard reads the key's string up to a NUL.
      Tn3270SendKeys(std::string((const char *)text, length).c_str());
      return;
    }
    SendString(*g_Term, text, length);
  }
  void Bell() override { ::Bell(); }
  void ComposeIndicator(bool shown) override {
    WriteText(*g_Term, g_Term->st.screenRows, 38, shown ? "C" : " ", ATTR_REVERSE);
  }
};

class WindowSetupHost : public SetupHost {
 public:
  void Disconnect() override { SessionDisconnect(); }
  void ClearComm() override {
    g_Session.recvCount = 0;
    g_Session.recvIndex = 0;
  }
  void Bell() override { ::Bell(); }
  void CursorChanged() override {
    if (TermDisplay *d = g_Term->display) d->ShowCursor(!g_Term->st.s.cursorHidden, g_Term->st.s.cursorStyle);
  }
  void RepaintAll() override { InvalidateRect(g_MainWindow, nullptr, TRUE); }
  void MenusEnabled(bool enabled) override {
    HMENU menu = GetMenu(g_MainWindow);
    for (UINT id = IDM_SETUP_DIRECTORY; id <= IDM_SETUP_DIRECTORY + 5; ++id)
      EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(g_MainWindow);
  }
  void ClosePrinter() override {
    if (g_Term->printer) g_Term->printer->Close();
  }
};

SessionKeyOutput g_KeyOutput;
WindowSetupHost g_SetupHost;

TermSetup &Setup() {
  static TermSetup setup(*g_Term, g_KeyMap, g_SetupHost);
  return setup;
}

void LeaveSetup() {
  Setup().Leave();
  TermLayout();  // the columns may have changed
  InvalidateRect(g_MainWindow, nullptr, TRUE);
}

}  // namespace

bool TermSetupActive() { return g_Term && Setup().Active(); }

void TermSetupMessage(const char *text) { Setup().Message(text); }

void TermReloadKeyMap(const char *name) {
  std::string error;
  if (!KeyMapLoad(g_KeyMap, name, g_Term->files, g_Term->st.s.backspaceSendsDel != 0, &error))
    SessionHostInterface()->ShowMessage(error.c_str());
  KeyMapApplyModes(g_KeyMap, g_Term->st.s);
}

namespace {

// Toggle Logging: auto print on (one warning beep) or off (two, and the log
// is closed so what it holds is complete). The beeps sound only with the
// warning bell on, as the emulator's bell does.
void ToggleLogging() {
  BYTE &mode = g_Term->st.s.printMode;
  if (mode == 0) {
    mode = 1;
    ::Bell();
  } else if (mode == 1) {
    mode = 0;
    if (g_Term->printer) g_Term->printer->Close();
    ::Bell();
    ::Bell();
  }
}

// Push to DOS: whatever "DOSPRMPT.PIF" names beside the program or on the
// path (a shell window, say) is started; the print file is closed first.
void PushToDos() {
  if (g_Term->printer) g_Term->printer->Close();
  if (WinExec("DOSPRMPT.PIF", SW_SHOW) < 32)
    MessageBoxA(g_MainWindow,
                "Push to DOS could not start DOSPRMPT.PIF. Put a program of that name (a script that opens a "
                "shell window, for example) beside vtconsole or on the PATH.",
                "QX220", MB_OK | MB_ICONEXCLAMATION);
  InvalidateRect(g_MainWindow, nullptr, FALSE);
}

// Switch Session: the focus goes to the last terminal window (VT220, 3270 or
// rlogin) behind this one in Z order.
void SwitchSession() {
  HWND target = nullptr;
  for (HWND w = GetWindow(g_MainWindow, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT)) {
    char name[16] = "";
    GetClassNameA(w, name, sizeof name);
    if (std::strncmp(name, "QX3270", 7) == 0 || std::strncmp(name, "QX220", 7) == 0 ||
        std::strncmp(name, "QXRLOGIN", 9) == 0)
      target = w;
  }
  if (target) SetForegroundWindow(target);
}

}  // namespace

void TermDrainKeysOffline() {
  BYTE code, modifier;
  while (TermKeyRingGet(code, modifier))
    if (Setup().Active() || KeyMapHotKey(g_KeyMap, code, modifier) != 0) TermKeyDispatch(code, modifier);
  TermRefresh();
}

int TermKeyDispatch(BYTE code, BYTE modifier) {
  const int hotKey = KeyMapHotKey(g_KeyMap, code, modifier);
  if (Setup().Active()) {
    if (hotKey == HOTKEY_SETUP || hotKey == HOTKEY_EXIT) LeaveSetup();
    if (hotKey == HOTKEY_EXIT) PostMessageA(g_MainWindow, WM_CLOSE, 0, 0);
    if (hotKey == HOTKEY_SETUP || hotKey == HOTKEY_EXIT) return 0;
    Setup().Key(code, modifier);
    if (!Setup().Active()) LeaveSetup();  // its Exit item
    return 0;
  }
  switch (hotKey) {
    case HOTKEY_SETUP: Setup().Enter(); return 0;
    case HOTKEY_EXIT: PostMessageA(g_MainWindow, WM_CLOSE, 0, 0); return 0;
    case HOTKEY_COMPOSE: KeyMapComposeKey(g_KeyMap, g_KeyOutput); return 0;
    case HOTKEY_FREEZE: g_Term->st.s.receiveOn = !g_Term->st.s.receiveOn; return 0;
    case HOTKEY_LOGGING: ToggleLogging(); return 0;
    case HOTKEY_PRINT: TermPrintScreen(*g_Term); return 0;
    case HOTKEY_DOS: PushToDos(); return 0;
    case HOTKEY_SWITCH: SwitchSession(); return 0;
    case HOTKEY_NEW_SESSION: PostMessageA(g_MainWindow, WM_COMMAND, IDM_NEWWINDOW, 0); return 0;
    case 0: break;
    default: return 0;  // pairs of the header no hot key is defined for
  }
  KeyMapSendKey(g_KeyMap, code - 1, modifier, g_Term->st.s, g_KeyOutput);
  SessionFlush();
  return 0;
}
