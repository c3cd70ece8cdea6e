// Helpers of the tests of controls and dialogs: a headless display in a private runtime
// directory, a parent window that records WM_COMMAND notifications, message
// pumping, and keys pressed as a person would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qx::test {

struct Notice {
  int id;
  int code;
};

// The notifications parent windows received, in order.
std::vector<Notice> &Notices();
// Codes received from one control id.
std::vector<int> CodesFrom(int id);

// A visible top-level window of the "QxTestParent" class (records WM_COMMAND).
HWND MakeParent(int w = 400, int h = 300);
HWND MakeChild(HWND parent, const char *cls, DWORD style, int id, int x = 10, int y = 10, int w = 200, int h = 100,
               const char *text = "");
void Pump();
// True once every key and click injected so far has been delivered and its
// messages taken from this thread's queue. A step driver on a timer runs its
// next step only then, so a step never acts on a dialog still reacting to
// the input of the one before, however slow the machine.
bool InputDrained();
void DestroyAll();

// Keys by PC scan code (set 1); ext for the extended keys (arrows, ...).
void Key(BYTE scan, bool ext = false);
void KeyWith(BYTE modifier_scan, BYTE scan, bool ext = false);
void Type(const std::string &text);

constexpr BYTE kTab = 0x0F, kEnter = 0x1C, kEsc = 0x01, kShift = 0x2A, kAlt = 0x38, kCtrl = 0x1D, kDown = 0x50,
               kUp = 0x48, kLeft = 0x4B, kRight = 0x4D, kHome = 0x47, kEnd = 0x4F, kSpace = 0x39, kF10 = 0x44;
BYTE ScanOf(char letter);

std::string TextOf(HWND h);

}  // namespace qx::test
