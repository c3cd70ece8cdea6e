// The key map end to end: physical keys through the key codes and the map to
// bytes, modes switched by the host through the emulator, user-defined keys
// loaded by DECUDK, compose and national characters, and key-map files that
// are sound, damaged or missing.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "keymap.h"
#include "keys.h"
#include "vt_core.h"

namespace {

class Recorder : public KeyMapOutput {
 public:
  std::string bytes;
  int bells = 0;
  std::string indicator;  // "C+" shown, "C-" taken away, in order
  void Char(BYTE ch) override { bytes.push_back(static_cast<char>(ch)); }
  void String(const BYTE *text, size_t length) override { bytes.append(reinterpret_cast<const char *>(text), length); }
  void Bell() override { ++bells; }
  void ComposeIndicator(bool shown) override { indicator += shown ? "C+" : "C-"; }
};

// The emulator's key-map hooks reach the map, as in the program.
class MapHost : public TermHost {
 public:
  explicit MapHost(TERM_KEYMAP &km) : km_(km) {}
  void ApplyKeypad(int mode) override { KeyMapApplyKeypad(km_, mode); }
  void ApplyKeypadNumeric() override { KeyMapApplyKeypadNumeric(km_); }
  void ApplyCursorKeys(int mode) override { KeyMapApplyCursorKeys(km_, mode); }
  void ClearUserKeys() override { KeyMapClearUserKeys(km_); }
  void DefineUserKey(int key, const unsigned char *data, size_t length) override {
    KeyMapDefineUserKey(km_, key, data, length);
  }

 private:
  TERM_KEYMAP &km_;
};

// Files by name, as the program's search finds them.
class FakeFiles : public TermFiles {
 public:
  std::map<std::string, std::string> files;
  std::string FindSetupFile(const char *name) override { return files.count(name) ? std::string(name) : ""; }
  long ReadSetupFile(const std::string &found, void *buffer, size_t size) override {
    const std::string &data = files.at(found);
    const size_t n = std::min(size, data.size());
    std::memcpy(buffer, data.data(), n);
    return static_cast<long>(n);
  }
};

struct Fixture {
  TERM_KEYMAP km;
  MapHost host{km};
  VtTerminal t;
  Fixture() {
    KeyMapBuiltIn(km);
    TermInit(t, 24, nullptr, &host, nullptr);
  }
  void Host(const std::string &bytes) { VtParseBytes(t, reinterpret_cast<const BYTE *>(bytes.data()), bytes.size()); }
  // A physical key as the window reports it: scan code, extended flag, modifiers.
  std::string Press(BYTE scan, bool extended = false, BYTE state = 0, bool numLock = true) {
    const BYTE code = TermKeyCode(scan, extended, numLock);
    Recorder out;
    KeyMapSendKey(km, code - 1, TermModifierCode(state, code), t.st.s, out);
    return out.bytes;
  }
  std::string Type(const std::string &chars, Recorder &out) {
    for (char c : chars) KeyMapChar(km, static_cast<BYTE>(c), t.st.s, out);
    return out.bytes;
  }
};

struct Key {
  const char *what;
  BYTE scan;
  bool extended;
  BYTE state;  // SS_* bits
  bool numLock;
  std::string bytes;
};

TEST(KeyMap, BuiltInMapSendsTheVt220Keys) {
  Fixture f;
  const Key keys[] = {
      {"a", 30, false, 0, true, "a"},
      {"Shift+a", 30, false, SS_SHIFT, true, "A"},
      {"Caps Lock a", 30, false, SS_CAPS, true, "A"},
      {"Caps Lock Shift+a", 30, false, SS_CAPS | SS_SHIFT, true, "a"},
      {"Caps Lock 1 is no letter", 2, false, SS_CAPS, true, "1"},
      {"Shift+1", 2, false, SS_SHIFT, true, "!"},
      {"Ctrl+c", 46, false, SS_LCTRL, true, "\x03"},
      {"right Ctrl+[", 26, false, SS_RCTRL, true, "\x1B"},
      {"Ctrl+Space", 57, false, SS_LCTRL, true, std::string(1, '\0')},
      {"Ctrl+2", 3, false, SS_LCTRL, true, std::string(1, '\0')},
      {"Ctrl+; has no control character", 39, false, SS_LCTRL, true, ";"},
      {"Alt+x", 45, false, SS_LALT, true, "\x1Bx"},
      {"Esc", 1, false, 0, true, "\x1B"},
      {"Shift+Esc", 1, false, SS_SHIFT, true, "\x1B"},
      {"Enter", 28, false, 0, true, "\r"},
      {"keypad Enter", 28, true, 0, true, "\r"},
      {"Backspace sends DEL", 14, false, 0, true, "\x7F"},
      {"Shift+Backspace sends BS", 14, false, SS_SHIFT, true, "\b"},
      {"Tab", 15, false, 0, true, "\t"},
      {"Up", 72, true, 0, true, "\x1B[A"},
      {"Left", 75, true, 0, true, "\x1B[D"},
      {"Down", 80, true, 0, true, "\x1B[B"},
      {"Right", 77, true, 0, true, "\x1B[C"},
      {"keypad 8 with Num Lock off is Up", 72, false, 0, false, "\x1B[A"},
      {"keypad 8 with Num Lock off and Ctrl is Up", 72, false, SS_LCTRL, false, "\x1B[A"},
      {"keypad 8 with Num Lock on", 72, false, 0, true, "8"},
      {"keypad .", 83, false, 0, true, "."},
      {"keypad + is the DEC comma", 78, false, 0, true, ","},
      {"Insert is Find", 82, true, 0, true, "\x1B[1~"},
      {"Home is Insert Here", 71, true, 0, true, "\x1B[2~"},
      {"Page Up is Remove", 73, true, 0, true, "\x1B[3~"},
      {"Delete is Select", 83, true, 0, true, "\x1B[4~"},
      {"End is Prev Screen", 79, true, 0, true, "\x1B[5~"},
      {"Page Down is Next Screen", 81, true, 0, true, "\x1B[6~"},
      {"F1 is PF1", 59, false, 0, true, "\x1BOP"},
      {"F4 is PF4", 62, false, 0, true, "\x1BOS"},
      {"Ctrl+F1 is F11", 59, false, SS_LCTRL, true, "\x1B[23~"},
      {"Num Lock is PF1", 69, false, 0, true, "\x1BOP"},
      {"keypad / is PF2", 53, true, 0, true, "\x1BOQ"},
      {"keypad * is PF3", 55, false, 0, true, "\x1BOR"},
      {"keypad - is PF4", 74, false, 0, true, "\x1BOS"},
      {"F6", 64, false, 0, true, "\x1B[17~"},
      {"F10", 68, false, 0, true, "\x1B[21~"},
      {"F11", 87, false, 0, true, "\x1B[23~"},
      {"F12", 88, false, 0, true, "\x1B[24~"},
      {"Shift+F6 is a user key, empty until loaded", 64, false, SS_SHIFT, true, ""},
      {"Scroll Lock is no key of the map", 70, false, 0, true, ""},
  };
  for (const Key &k : keys) EXPECT_EQ(f.Press(k.scan, k.extended, k.state, k.numLock), k.bytes) << k.what;
}

TEST(KeyMap, HostModesPatchTheKeyStrings) {
  Fixture f;
  struct Step {
    const char *what;
    const char *host;  // what the host sends first
    BYTE scan;
    bool extended;
    std::string bytes;
  } steps[] = {
      {"application cursor keys (DECCKM)", "\x1B[?1h", 72, true, "\x1BOA"},
      {"application keypad (DECKPAM)", "\x1B=", 76, false, "\x1BOu"},
      {"application keypad Enter", "", 28, true, "\x1BOM"},
      {"numeric keypad again (DECKPNM)", "\x1B>", 76, false, "5"},
      {"normal cursor keys again", "\x1B[?1l", 72, true, "\x1B[A"},
      {"new-line mode Return (LNM)", "\x1B[20h", 28, false, "\r\n"},
      {"new-line mode keypad Enter", "", 28, true, "\r\n"},
      {"VT52 mode Up", "\x1B[20l\x1B[?2l", 72, true,
       "\x1B"
       "A"},
      {"VT52 PF1", "", 59, false, "\x1BP"},
      {"VT52 has no editing keys", "", 82, true, ""},
      {"VT52 has no F6", "", 64, false, ""},
      {"VT52 alternate keypad", "\x1B=", 82, false, "\x1B?p"},
      {"back to ANSI keeps the application keypad", "\x1B<", 82, false, "\x1BOp"},
      {"ANSI F6 again", "", 64, false, "\x1B[17~"},
      {"ANSI PF1 again", "", 59, false, "\x1BOP"},
  };
  for (const Step &s : steps) {
    f.Host(s.host);
    EXPECT_EQ(f.Press(s.scan, s.extended), s.bytes) << s.what;
  }
  FixBackspace(f.km, false);
  EXPECT_EQ(f.Press(14), "\b") << "Backspace set to BS";
}

TEST(KeyMap, UserDefinedKeysFromTheHostAndTheirLock) {
  Fixture f;
  // Pc=0 clears all keys, two keys defined, Pl=0 locks them at the end.
  f.Host("\x1BP0;0|17/414243;18/44;7F/5A\x1B\\");
  EXPECT_EQ(f.Press(64, false, SS_SHIFT), "ABC") << "Shift+F6 is user key 17";
  EXPECT_EQ(f.Press(65, false, SS_SHIFT), "D") << "Shift+F7 is user key 18";
  EXPECT_EQ(f.Press(64), "\x1B[17~") << "F6 itself is unchanged";
  EXPECT_EQ(f.t.st.s.udkLocked, 1);
  f.Host("\x1BP1;1|17/58\x1B\\");
  EXPECT_EQ(f.Press(64, false, SS_SHIFT), "ABC") << "locked keys refuse a new definition";
  f.t.st.s.udkLocked = 0;  // Set-Up unlocks them
  f.Host("\x1BP1;1|17/5859;29/6F6B\x1B\\");
  EXPECT_EQ(f.Press(64, false, SS_SHIFT), "XY");
  EXPECT_EQ(f.Press(65, false, SS_SHIFT), "D") << "Pc=1 keeps the other keys";
  EXPECT_EQ(f.Press(64, false, SS_LALT), "ok") << "Alt+F6 is Do (29)";
  // A string longer than the collection buffer is cut, never overruns.
  f.Host("\x1BP1;1|18/" + std::string(600, '4') + "\x1B\\");
  EXPECT_EQ(f.Press(65, false, SS_SHIFT), std::string(128, 'D'));
  KeyMapBuiltIn(f.km);
  EXPECT_EQ(f.Press(64, false, SS_SHIFT), "") << "a new map drops the strings";
}

TEST(KeyMap, ComposeAndNationalCharacters) {
  struct Case {
    const char *what;
    BYTE language;  // key map's keyboard language: 1 has no dead keys
    bool composeKey;
    std::string typed;
    std::string bytes;
    int bells;
  } cases[] = {
      {"no dead keys: apostrophe at once", 1, false, "'e", "'e", 0},
      {"dead acute then e", 2, false, "'e", "\xE9", 0},
      {"dead grave then A", 2, false, "`A", "\xC0", 0},
      {"dead circumflex then o", 2, false, "^o", "\xF4", 0},
      {"dead tilde then n", 2, false, "~n", "\xF1", 0},
      {"dead key, no pair: bell, nothing sent", 2, false, "'q", "", 1},
      {"compose e then ' (either order)", 1, true, "e'", "\xE9", 0},
      {"compose c then / (letters folded)", 1, true, "c/", "\xA2", 0},
      {"compose / then U (this order only)", 1, true, "/U", "\xB5", 0},
      {"compose a e", 1, true, "ae", "\xE6", 0},
      {"compose s s", 1, true, "ss", "\xDF", 0},
      {"compose + +", 1, true, "++", "#", 0},
      {"compose < <", 1, true, "<<", "\xAB", 0},
      {"compose o e", 1, true, "oe", "\xF7", 0},
      {"compose then an unknown pair", 1, true, "zq", "", 1},
  };
  for (const Case &c : cases) {
    Fixture f;
    f.km.image[36] = c.language;
    Recorder out;
    if (c.composeKey) KeyMapComposeKey(f.km, out);
    f.Type(c.typed, out);
    EXPECT_EQ(out.bytes, c.bytes) << c.what;
    EXPECT_EQ(out.bells, c.bells) << c.what;
    if (c.language != 1 || c.composeKey) {
      EXPECT_EQ(out.indicator, "C+C-") << c.what;
    }
    EXPECT_EQ(f.km.composeState, 0) << c.what;
  }
  // National mode sends the ASCII code that the language's set replaces.
  const struct {
    BYTE language;
    const char *typed;
    std::string bytes;
  } national[] = {
      {6, "\"a", "{"},    // German: a umlaut is "{"
      {6, "ss", "~"},     // German: sharp s is "~"
      {4, "'e", "{"},     // French: e acute is "{"
      {0, "'e", "\xE9"},  // North American has no national set for it
  };
  for (const auto &n : national) {
    Fixture f;
    f.t.st.s.nationalMode = 1;
    f.t.st.s.nationalLanguage = n.language;
    Recorder out;
    KeyMapComposeKey(f.km, out);
    f.Type(n.typed, out);
    EXPECT_EQ(out.bytes, n.bytes) << n.typed << " in language " << int(n.language);
  }
}

TEST(KeyMap, HotKeysAndTheirNames) {
  TERM_KEYMAP km;
  KeyMapBuiltIn(km);
  EXPECT_EQ(KeyMapHotKey(km, 63, 0), HOTKEY_SETUP);
  EXPECT_EQ(KeyMapHotKey(km, 45, 2), HOTKEY_EXIT);
  EXPECT_EQ(KeyMapHotKey(km, 46, 2), HOTKEY_COMPOSE);
  EXPECT_EQ(KeyMapHotKey(km, 45, 0), 0) << "x alone is typed";
  EXPECT_EQ(KeyMapHotKeyName(km, HOTKEY_SETUP), "F5");
  EXPECT_EQ(KeyMapHotKeyName(km, HOTKEY_FREEZE), "Ctrl+F5");
  EXPECT_EQ(KeyMapHotKeyName(km, HOTKEY_EXIT), "Alt+X");
  EXPECT_EQ(KeyMapHotKeyName(km, 12), "") << "hot key without a key";
  EXPECT_EQ(KeyMapLanguage(km), 1);
}

// A small map of our own: key 30 ('a') sends "hi" plain and "UDK17" shifted.
std::string SmallMap() {
  std::string m(555, '\0');
  m[0] = '0';
  m[1] = '2';
  m[36] = 2;
  auto word = [&](size_t at, int v) {
    m[at] = static_cast<char>(v & 0xFF);
    m[at + 1] = static_cast<char>(v >> 8);
  };
  const size_t e = 49 + 29 * 5;
  m[e] = static_cast<char>(254);
  word(e + 1, 549);  // triple
  word(e + 3, 555);  // plain string
  word(549, 558);    // Shift: "UDK17"
  word(551, 0);
  word(553, 0xFFFF);
  m += std::string("hi\0", 3) + std::string("UDK17\0", 6);
  return m;
}

TEST(KeyMap, FilesLoadedCheckedOrRefused) {
  FakeFiles files;
  files.files["SMALL.KEY"] = SmallMap();
  std::string bad = SmallMap();
  bad[49 + 29 * 5 + 3] = static_cast<char>(0xF0);  // the string offset points past the end
  files.files["BAD.KEY"] = bad;
  files.files["SHORT.KEY"] = "02";
  files.files["TEXT.KEY"] = "hello";
  std::string unended = SmallMap();
  unended.resize(unended.size() - 1);  // the last string runs off the end
  files.files["UNENDED.KEY"] = unended;
  std::string longer = SmallMap() + std::string(5000, 'x');
  files.files["LONG.KEY"] = longer;

  TERM_KEYMAP km;
  TERM_SETUP s = SetupFactoryRecord();
  std::string error;
  ASSERT_TRUE(KeyMapLoad(km, "SMALL.KEY", &files, true, &error)) << error;
  Recorder out;
  KeyMapSendKey(km, 29, 0, s, out);
  EXPECT_EQ(out.bytes, "hi");
  ASSERT_EQ(km.udkCount, 1);
  const BYTE udk[] = {'o', 'k'};
  EXPECT_TRUE(KeyMapDefineUserKey(km, 0x17, udk, 2));
  EXPECT_FALSE(KeyMapDefineUserKey(km, 0x18, udk, 2)) << "a key the map does not declare";
  KeyMapSendKey(km, 29, 4, s, out);
  EXPECT_EQ(out.bytes, "hiok");
  EXPECT_EQ(KeyMapLanguage(km), 2);
  ASSERT_TRUE(KeyMapLoad(km, "LONG.KEY", &files, true, &error)) << "cut at 4145 bytes";
  EXPECT_EQ(km.size, KEYMAP_MAX_SIZE);

  const struct {
    const char *name;
    const char *why;
  } refused[] = {
      {"BAD.KEY", "points outside the file"},     {"SHORT.KEY", "shorter than its 549-byte header"},
      {"TEXT.KEY", "does not begin with \"02\""}, {"UNENDED.KEY", "points outside the file"},
      {"NONE.KEY", "no such file was found"},
  };
  for (const auto &r : refused) {
    error.clear();
    EXPECT_FALSE(KeyMapLoad(km, r.name, &files, true, &error)) << r.name;
    EXPECT_NE(error.find("cannot be loaded"), std::string::npos) << error;
    EXPECT_NE(error.find(r.why), std::string::npos) << error;
    Recorder o;
    KeyMapSendKey(km, 63, 0, s, o);
    EXPECT_EQ(o.bytes, "\x1B[17~") << r.name << " leaves the built-in map in force";
  }
  error.clear();
  EXPECT_TRUE(KeyMapLoad(km, "VT220AT.KEY", &files, true, &error)) << "the built-in map by its name";
  EXPECT_TRUE(error.empty());
}

TEST(KeyMap, MoreThanTwentyFiveUserKeyNamesStayStrings) {
  std::string m = SmallMap();
  // 30 string keys (keys 60..89) whose plain string names UDK 1..30.
  for (int i = 0; i < 30; ++i) {
    const size_t e = 49 + static_cast<size_t>(60 + i) * 5;
    const size_t name = m.size();
    m += "UDK" + std::to_string(i + 1) + std::string(1, '\0');
    m[e] = static_cast<char>(255);
    m[e + 1] = static_cast<char>(549 & 0xFF);
    m[e + 2] = static_cast<char>(549 >> 8);
    m[e + 3] = static_cast<char>(name & 0xFF);
    m[e + 4] = static_cast<char>(name >> 8);
  }
  TERM_KEYMAP km;
  std::string error;
  ASSERT_TRUE(KeyMapLoadImage(km, reinterpret_cast<const BYTE *>(m.data()), m.size(), true, &error)) << error;
  EXPECT_EQ(km.udkCount, UDK_MAX);
  Recorder out;
  KeyMapSendKey(km, 89, 0, SetupFactoryRecord(), out);
  EXPECT_EQ(out.bytes, "UDK30") << "the name beyond the table is sent as text";
}

}  // namespace
