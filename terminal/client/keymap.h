// Key maps: what each of 100 keys sends in each modifier variant, read from a
// key-map file (.KEY) or taken from the built-in VT220 map of the same format.
// The map declares the user-defined keys (filled by the host's DECUDK), the
// hot keys of the session loop and patch lists that swap key strings when the
// host changes cursor-key, keypad or VT52 modes. Typed characters pass the
// compose filter (dead keys, the compose key) and the national filter.
//
// Image layout (little-endian): "02" magic; 15 hot-key pairs {variant, key
// number + 1} at 3; keyboard language at 36; patch lists A..D at 41..47;
// 100 five-byte key entries at 49; strings, variant triples and patch lists
// behind them, reached by offsets. docs/terminal-keys.md gives the built-in map.
#ifndef QX_TERMINAL_CLIENT_KEYMAP_H
#define QX_TERMINAL_CLIENT_KEYMAP_H

#include <cstdint>
#include <string>

#include "term_state.h"

constexpr size_t KEYMAP_MAX_SIZE = 4145;
constexpr int KEYMAP_KEYS = 100;
constexpr int KEYMAP_HOT_KEYS = 15;
constexpr int UDK_MAX = 25;

// Hot keys by number (pair k of the header is hot key k + 1).
enum : int {
  HOTKEY_EXIT = 1,
  HOTKEY_FREEZE = 2,
  HOTKEY_SETUP = 3,
  HOTKEY_LOGGING = 4,
  HOTKEY_PRINT = 5,
  HOTKEY_DOS = 6,
  HOTKEY_SWITCH = 7,
  HOTKEY_NEW_SESSION = 8,
  HOTKEY_COMPOSE = 9,
};

// Patch lists: A cursor keys, B keypad, C VT220/VT52 keys, D keyboard mode.
enum : int { PATCH_A = 0, PATCH_B = 1, PATCH_C = 2, PATCH_D = 3 };

struct TERM_UDK {
  uint16_t key = 0;      // the DEC key number, as in the host's DECUDK
  bool defined = false;  // a string was loaded
  std::string text;
};

struct TERM_KEYMAP {
  BYTE image[KEYMAP_MAX_SIZE] = {};
  size_t size = 0;
  uint16_t lists[4] = {};  // patch-list offsets, 0 for none
  TERM_UDK udk[UDK_MAX];
  int udkCount = 0;
  BYTE composeState = 0;  // 0 idle, 255 compose key pressed, else the first character
  unsigned loads = 0;     // counts loads, so Set-Up can tell that a map was chosen
};

// Where a key's bytes go. Characters have passed compose and the national
// filter and are typed (queued, echoed); strings go out as the emulator's
// SendString sends them (7- or 8-bit controls).
class KeyMapOutput {
 public:
  virtual ~KeyMapOutput() = default;
  virtual void Char(BYTE ch) = 0;
  virtual void String(const BYTE *text, size_t length) = 0;
  virtual void Bell() {}
  // The compose indicator "C" on the status line is shown or taken away.
  virtual void ComposeIndicator(bool shown) {}
};

// The built-in map.
const BYTE *BuiltInKeyMapImage(size_t *size);
// The 3270 map shipped as "IBM.KEY" beside the program.
const BYTE *Ibm3270KeyMapImage(size_t *size);
void KeyMapBuiltIn(TERM_KEYMAP &km);

// Loads a map by name through the program's file search (files may be null).
// Returns true when what was asked for is in force: the file, or the built-in
// map for an empty name or the default "VT220AT.KEY" when no such file exists.
// Otherwise the built-in map is in force and error says why, in words.
bool KeyMapLoad(TERM_KEYMAP &km, const char *name, TermFiles *files, bool backspaceSendsDel, std::string *error);
// Loads an image held in memory (a file's bytes); false with error when it is
// not a sound key map (then the built-in map is in force).
bool KeyMapLoadImage(TERM_KEYMAP &km, const BYTE *data, size_t size, bool backspaceSendsDel, std::string *error);

// Backspace (key 13) sends DEL or BS, when it is a simple key sending either.
void FixBackspace(TERM_KEYMAP &km, bool sendsDel);
// Writes value 1..3 of a patch list into the image.
void ApplyPatchList(TERM_KEYMAP &km, int list, int value);
void KeyMapApplyCursorKeys(TERM_KEYMAP &km, int mode);  // 1 normal, 2 VT52, 3 application
void KeyMapApplyKeypad(TERM_KEYMAP &km, int mode);      // 1 VT220 application, 2 VT52 application
void KeyMapApplyKeypadNumeric(TERM_KEYMAP &km);
void KeyMapApplySetupKeys(TERM_KEYMAP &km, int value);  // 1 or 2
// Puts the map into the modes of a record: ANSI or VT52, cursor keys, keypad,
// keyboard mode and Backspace.
void KeyMapApplyModes(TERM_KEYMAP &km, const TERM_SETUP &s);

// What key index 0..99 sends in a variant (0 plain, 1 Ctrl, 2 Alt, 4 Shift, 7 code).
void KeyMapSendKey(TERM_KEYMAP &km, int key, int variant, const TERM_SETUP &s, KeyMapOutput &out);
// A typed character through compose and the national filter.
void KeyMapChar(TERM_KEYMAP &km, BYTE ch, const TERM_SETUP &s, KeyMapOutput &out);
// The compose key: the next two characters are composed.
void KeyMapComposeKey(TERM_KEYMAP &km, KeyMapOutput &out);
// The composed character of a pair, or 0 when no table has it.
BYTE ComposePair(BYTE first, BYTE second);

// The hot key (1..15) that a key code and variant are, or 0.
int KeyMapHotKey(const TERM_KEYMAP &km, BYTE keyCode, BYTE variant);
// A hot key's name for people ("F5", "Alt+X"), empty when it has none.
std::string KeyMapHotKeyName(const TERM_KEYMAP &km, int hotKey);
int KeyMapLanguage(const TERM_KEYMAP &km);

// User-defined keys (DECUDK).
void KeyMapClearUserKeys(TERM_KEYMAP &km);
// false when the map declares no such key.
bool KeyMapDefineUserKey(TERM_KEYMAP &km, int keyNumber, const BYTE *data, size_t length);

#endif
