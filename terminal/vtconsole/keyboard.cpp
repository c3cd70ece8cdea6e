// The keyboard path: key messages become {key code, modifier} entries of a
// 32-slot ring that the session loop drains (hot_keys.cpp hands them to the
// key map); paste and copy through the clipboard.
#include <cstring>

#include "vtconsole.h"

BYTE g_ShiftState;
bool AltPassesToWindows(UINT id);

namespace {

TERM_KEY_RING g_Ring;
bool g_Pasting;

}  // namespace

int TermKeyRingPut(BYTE keyCode, BYTE shiftState, UINT virtualKey, BYTE scanCode) {
  g_Session.eventFlag = true;
  if (TermSelectionShown()) {
    TermSelectionClear();
    return 0;
  }
  return TermKeyRingStore(g_Ring, keyCode, TermModifierCode(shiftState, keyCode)) ? 1 : 0;
}

bool TermKeyRingGet(BYTE &keyCode, BYTE &modifier) { return TermKeyRingTake(g_Ring, keyCode, modifier); }

int TermKeyRingCount() { return g_Ring.count; }

void TermKeyStateFromKeyboard() {
  g_ShiftState = 0;
  if (GetKeyState(VK_CAPITAL) & 1) g_ShiftState |= SS_CAPS;
  if (GetKeyState(VK_MENU) & 0x8000) g_ShiftState |= SS_LALT;
  if (GetKeyState(VK_CONTROL) & 0x8000) g_ShiftState |= SS_LCTRL;
  if (GetKeyState(VK_SHIFT) & 0x8000) g_ShiftState |= SS_SHIFT;
}

namespace {

// The letter of an ALT menu flag (the last character of its item text).
bool AltCharPasses(WPARAM ch) {
  static const struct {
    UINT id;
    char letter;
  } kLetters[] = {{IDM_ALTF, 'f'}, {IDM_ALTE, 'e'}, {IDM_ALTT, 't'}, {IDM_ALTH, 'h'}};
  if (ch == ' ') return AltPassesToWindows(IDM_ALTSPACE);
  for (const auto &l : kLetters)
    if ((ch | 0x20) == (WPARAM)l.letter) return AltPassesToWindows(l.id);
  return false;
}

// A modifier key changes the state and is not queued; true when it was one.
bool ModifierKey(BYTE scan, bool extended, bool down, bool repeat) {
  BYTE bit = 0;
  switch (scan) {
    case 29: bit = extended ? SS_RCTRL : SS_LCTRL; break;
    case 42:
    case 54: bit = SS_SHIFT; break;
    case 56: bit = extended ? SS_RALT : SS_LALT; break;
    case 58:
      if (down && !repeat) g_ShiftState ^= SS_CAPS;
      return true;
    default: return false;
  }
  if (down)
    g_ShiftState |= bit;
  else
    g_ShiftState &= (BYTE)~bit;
  return true;
}

bool KeyDown(UINT message, WPARAM wParam, LPARAM lParam) {
  const BYTE scan = (BYTE)((lParam >> 16) & 0xFF);
  const bool extended = (lParam >> 24) & 1;
  const bool repeat = (lParam >> 30) & 1;
  if (ModifierKey(scan, extended, true, repeat)) return message == WM_KEYDOWN;
  if (message == WM_SYSKEYDOWN) {
    // Alt+Esc, Alt+F4 and Alt+Tab go to Windows while their flags are on.
    if ((wParam == VK_ESCAPE && AltPassesToWindows(IDM_ALTESC)) || (wParam == VK_F4 && AltPassesToWindows(IDM_ALTF4)) ||
        (wParam == VK_TAB && AltPassesToWindows(IDM_ALTTAB))) {
      g_ShiftState &= (BYTE) ~(SS_LALT | SS_RALT);
      return false;
    }
  }
  // Alt and a menu letter (or Space) opens the menu while its flag is on.
  if (message == WM_SYSKEYDOWN && !extended && AltCharPasses(TermKeyChar(scan, false))) return false;
  if (extended)
    g_ShiftState |= SS_EXTENDED;
  else
    g_ShiftState &= (BYTE)~SS_EXTENDED;
  const BYTE code = TermKeyCode(scan, extended, GetKeyState(VK_NUMLOCK) & 1);
  if (repeat && !g_Term->st.s.autoRepeat) return true;
  if (code == KEY_BREAK) {
    // Break goes out at once, once per press; it never waits in the ring.
    if (!repeat) SessionSendBreak();
    return true;
  }
  TermKeyRingPut(code, g_ShiftState, (UINT)wParam, scan);
  if (!SessionRunning()) TermDrainKeysOffline();  // no session loop drains the ring
  return true;
}

}  // namespace

bool TermKeyMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: return KeyDown(message, wParam, lParam);
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      const BYTE scan = (BYTE)((lParam >> 16) & 0xFF);
      // Releasing Alt goes on to the default handling, which opens the menu
      // bar only when Alt was the last key down.
      if (scan != 58) ModifierKey(scan, (lParam >> 24) & 1, false, false);
      return message == WM_KEYUP;
    }
    case WM_SYSCHAR:
      if (AltCharPasses(wParam)) {
        g_ShiftState &= (BYTE) ~(SS_LALT | SS_RALT);
        return false;
      }
      return true;  // the key already went to the ring
    case WM_CHAR:
    case WM_DEADCHAR:
    case WM_SYSDEADCHAR: return true;  // keys are taken from the key-down messages
    default: return false;
  }
}

void TermPasteClipboard() {
  if (g_Pasting) return;  // a paste is still being sent
  if (!OpenClipboard(g_MainWindow)) return;
  std::string text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    const SIZE_T size = GlobalSize(data);
    if (const char *p = (const char *)GlobalLock(data)) {
      text.assign(p, strnlen(p, size));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  if (text.empty()) return;
  // Pasted text is typed: a line end is one Return, IAC is doubled by the encoder.
  std::string typed;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    typed.push_back(text[i] == '\n' ? '\r' : text[i]);
  }
  g_Pasting = true;
  SessionSendText(typed.data(), typed.size());
  g_Pasting = false;
}

void TermCopySelection() {
  const std::string text = TermSelectionText();
  if (text.empty()) return;
  if (!OpenClipboard(g_MainWindow)) return;
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (block) {
    char *p = (char *)GlobalLock(block);
    std::memcpy(p, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
  }
  CloseClipboard();
}
