// The keyboard inside the layer: physical keys (PC scan codes, set 1, with the
// extended flag) turned into key messages with Windows' lParam bits, the key
// state behind GetKeyState, and the characters TranslateMessage posts.
#pragma once

#include <windows.h>

#include <vector>

namespace qx::input {

struct KeyMessage {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

enum class Layout { US, USInternational };
// The layout comes from QX_KEYBOARD_LAYOUT ("us", "us-intl") at first use.
void SetLayout(Layout layout);
Layout CurrentLayout();

// A physical key went down (again, for auto-repeat) or up: updates the key
// state and gives the message for the focus window. Unknown keys give
// message 0.
KeyMessage PhysicalKey(BYTE scan, bool extended, bool down);
// The virtual key a physical key reports with the current Num Lock state; 0 when unknown.
UINT VirtualKeyOf(BYTE scan, bool extended);
// The physical key that types a character on the current layout
// (scan code, extended flag, shift/ctrl/alt in bits 1/2/4 as VkKeyScan), or false.
bool KeyForChar(unsigned char c, BYTE &scan, bool &extended, int &shift_state);
// The WM_CHAR / WM_SYSCHAR / WM_DEADCHAR / WM_SYSDEADCHAR messages for a key
// message (empty for key-up messages and keys without characters).
std::vector<KeyMessage> CharsFor(const MSG &key);
// Forgets key state (tests).
void ResetKeyboard();

}  // namespace qx::input
