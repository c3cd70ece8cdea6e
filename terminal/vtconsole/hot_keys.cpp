// Keys from the ring to the host: the hot keys of the key map (Set-Up, exit,
// compose, freeze), Set-Up while it is shown, and everything else through the
// key map, whose characters are typed and whose strings go out as the
// emulator sends strings.
#include "setup_screens.h"
#include "vtconsole.h"

TERM_KEYMAP g_KeyMap;

namespace {

class SessionKeyOutput : public KeyMapOutput {
 public:
  void Char(BYTE ch) override { SessionSendByte(ch); }
  void String(const BYTE *text, size_t length) override { SendString(*g_Term, text, length); }
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
    case 0: break;
    default: return 0;  // hot keys of features this terminal does not have
  }
  KeyMapSendKey(g_KeyMap, code - 1, modifier, g_Term->st.s, g_KeyOutput);
  SessionFlush();
  return 0;
}
