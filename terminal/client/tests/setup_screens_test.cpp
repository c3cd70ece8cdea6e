// Set-Up inside the terminal screen, driven by key codes alone: the layout of
// every screen in every language and row count against golden text screens,
// walking and changing items, the ruler, the colour chooser, set-up files
// saved and recalled through Set-Up, and the host's screen and keys coming
// back exactly when Set-Up is left.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "keymap.h"
#include "keys.h"
#include "setup_screens.h"
#include "vt_core.h"

namespace {

// Keys of the key path: cursor keys, Enter, Tab, and characters by scan code.
constexpr BYTE kUp = 95, kDown = 97, kLeft = 96, kRight = 98, kEnter = 28, kTab = 15;

class MemoryFiles : public TermFiles {
 public:
  std::map<std::string, std::string> files;
  std::string FindSetupFile(const char *name) override { return files.count(name) ? std::string(name) : ""; }
  long ReadSetupFile(const std::string &found, void *buffer, size_t size) override {
    const std::string &data = files.at(found);
    const size_t n = std::min(size, data.size());
    std::memcpy(buffer, data.data(), n);
    return static_cast<long>(n);
  }
  WriteResult WriteSetupFile(const char *name, const void *data, size_t size) override {
    files[name].assign(static_cast<const char *>(data), size);
    return WriteResult::kWritten;
  }
};

struct Rig;

// The emulator's host: messages go to Set-Up's row while it is shown; the
// key-map hooks and user keys reach the key map.
class RigHost : public TermHost {
 public:
  explicit RigHost(Rig &rig) : rig_(rig) {}
  void ShowMessage(const char *text) override;
  void ApplyKeypad(int mode) override;
  void ApplyKeypadNumeric() override;
  void ApplyCursorKeys(int mode) override;
  void ClearUserKeys() override;
  void DefineUserKey(int key, const unsigned char *data, size_t length) override;
  void SendBytes(const unsigned char *data, size_t length, bool) override {
    sent.append(reinterpret_cast<const char *>(data), length);
  }
  std::string sent, boxes;

 private:
  Rig &rig_;
};

class RigSetupHost : public SetupHost {
 public:
  int bells = 0, disconnects = 0, menusOff = 0;
  void Bell() override { ++bells; }
  void Disconnect() override { ++disconnects; }
  void MenusEnabled(bool enabled) override { menusOff += enabled ? -1 : 1; }
};

struct Rig {
  MemoryFiles files;
  TERM_KEYMAP km;
  RigHost host{*this};
  RigSetupHost setupHost;
  std::unique_ptr<VtTerminal> t = std::make_unique<VtTerminal>();
  TermSetup setup{*t, km, setupHost};
  explicit Rig(int rows = 24) {
    KeyMapBuiltIn(km);
    TermInit(*t, rows, nullptr, &host, nullptr, &files);
  }
  void Host(const std::string &bytes) { VtParseBytes(*t, reinterpret_cast<const BYTE *>(bytes.data()), bytes.size()); }
  void Keys(std::initializer_list<BYTE> codes) {
    for (BYTE c : codes) setup.Key(c, 0);
  }
  // Characters typed into a prompt, by the keys that make them.
  void Type(const std::string &text) {
    for (char ch : text) {
      bool found = false;
      for (BYTE code = 1; code < 60 && !found; ++code)
        for (int shifted = 0; shifted < 2 && !found; ++shifted)
          if (TermKeyChar(code, shifted) == static_cast<BYTE>(ch)) {
            setup.Key(code, shifted ? 4 : 0);
            found = true;
          }
      ASSERT_TRUE(found) << ch;
    }
  }
  // Walks right until the current item shows text (a Set-Up user would look).
  void GoTo(const std::string &label) {
    for (int i = 0; i < 20 && setup.CurrentLabel().rfind(label, 0) != 0; ++i) setup.Key(kRight, 0);
    ASSERT_EQ(setup.CurrentLabel().substr(0, label.size()), label);
  }
  void Home() {
    for (int i = 0; i < 20; ++i) setup.Key(kLeft, 0);
  }
  std::string Row(int row) const {
    std::string text;
    for (const TERM_CELL &cell : t->screen.cells[row]) text += static_cast<char>(cell.ch);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  // The screen as UTF-8 text; control symbols as '·'.
  std::string ScreenText() const {
    static const char *const kHigh[] = {"Ç", "ü", "é", "â", "ä", "à", "å", "ç", "ê", "ë", "è", "ï", "î", "ì",
                                        "Ä", "Å", "É", "æ", "Æ", "ô", "ö", "ò", "û", "ù", "ÿ", "Ö", "Ü"};
    std::string out;
    for (int r = 0; r < t->st.screenRows; ++r) {
      std::string line;
      for (int c = 0; c < 80; ++c) {
        const TERM_CELL &cell = t->screen.cells[r][c];
        if (cell.attr & ATTR_GLYPH)
          line += "·";
        else if (cell.ch >= 0x80 && cell.ch < 0x80 + static_cast<int>(std::size(kHigh)))
          line += kHigh[cell.ch - 0x80];
        else if (cell.ch == 0xE1)
          line += "ß";
        else
          line += static_cast<char>(cell.ch);
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + "\n";
    }
    return out;
  }
};

void RigHost::ShowMessage(const char *text) {
  if (rig_.setup.Active())
    rig_.setup.Message(text);
  else
    boxes += std::string(text) + "\n";
}
void RigHost::ApplyKeypad(int mode) { KeyMapApplyKeypad(rig_.km, mode); }
void RigHost::ApplyKeypadNumeric() { KeyMapApplyKeypadNumeric(rig_.km); }
void RigHost::ApplyCursorKeys(int mode) { KeyMapApplyCursorKeys(rig_.km, mode); }
void RigHost::ClearUserKeys() { KeyMapClearUserKeys(rig_.km); }
void RigHost::DefineUserKey(int key, const unsigned char *data, size_t length) {
  KeyMapDefineUserKey(rig_.km, key, data, length);
}

// Golden screens live beside this test; QX_UPDATE_GOLDEN=1 writes them anew.
void ExpectGolden(const std::string &name, const std::string &text) {
  const std::string path = std::string(QX_GOLDEN_DIR) + "/" + name + ".txt";
  if (std::getenv("QX_UPDATE_GOLDEN")) {
    std::ofstream(path, std::ios::binary) << text;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "no golden screen " << path << " (run with QX_UPDATE_GOLDEN=1 and look at it)";
  std::stringstream golden;
  golden << in.rdbuf();
  EXPECT_EQ(text, golden.str()) << name;
}

TEST(SetupScreens, EveryScreenInEveryLanguageReachedByKeys) {
  const char *const kLanguages[] = {"en", "fr", "de"};
  const char *const kScreens[] = {"directory", "display", "general", "printer", "keyboard", "tab"};
  for (int lang = 0; lang < 3; ++lang) {
    Rig rig;
    rig.setup.Enter();
    // Directory row 5, first item: the language; Enter until it is the one wanted.
    rig.Keys({kDown, kDown});
    for (int i = 0; i < lang; ++i) rig.Keys({kEnter});
    rig.Home();
    ExpectGolden(std::string("setup-") + kScreens[0] + "-" + kLanguages[lang], rig.ScreenText());
    rig.Keys({kEnter});  // Display
    for (int s = 1; s < 6; ++s) {
      EXPECT_EQ(rig.setup.Screen(), s);
      ExpectGolden(std::string("setup-") + kScreens[s] + "-" + kLanguages[lang], rig.ScreenText());
      rig.Keys({kEnter});  // To Next Set-Up
    }
    EXPECT_EQ(rig.setup.Screen(), 1) << "To Next Set-Up cycles back to Display";
  }
}

TEST(SetupScreens, LaidOutFromTheBottomOnEveryRowCount) {
  for (int rows : {20, 24, 25, 36, 45}) {
    Rig rig(rows);
    rig.setup.Enter();
    EXPECT_EQ(rig.setup.BaseRow(), rows - 9);
    EXPECT_EQ(rig.Row(rows - 9), "Set-Up Directory") << rows;
    EXPECT_EQ(rig.Row(rows - 3), std::string(80, '-')) << rows;
    rig.Keys({kDown, kDown, kRight, kEnter});  // Keyboard = : the prompt on the message row
    EXPECT_NE(rig.Row(rows - 2).find("Keyboard File=VT220AT.KEY"), std::string::npos) << rows;
    rig.Type("X");  // the first key replaces the name offered
    rig.setup.Key(kEnter, 0);
    EXPECT_NE(rig.Row(rows - 2).find("cannot be loaded"), std::string::npos) << rig.Row(rows - 2);
    if (rows != 24) {
      rig.setup.Leave();
      continue;
    }
    ExpectGolden("setup-directory-en-24-message", rig.ScreenText());
  }
  for (int rows : {20, 25, 36, 45}) {
    Rig rig(rows);
    rig.setup.Enter();
    rig.Keys({kEnter, kRight, kRight, kRight, kRight});
    ExpectGolden("setup-display-en-" + std::to_string(rows), rig.ScreenText());
  }
}

TEST(SetupScreens, WalkingAndChangingItems) {
  Rig rig;
  rig.setup.Enter();
  EXPECT_EQ(rig.setupHost.menusOff, 1) << "the settings dialogs are greyed while Set-Up is shown";
  rig.GoTo("Disconnect");
  rig.Keys({kRight});
  EXPECT_EQ(rig.setup.CurrentLabel(), "On Line") << "Right at the end of a row goes to the next row";
  rig.Keys({kUp});
  EXPECT_EQ(rig.setup.CurrentLabel(), "Display") << "Up goes to the nearest item of the row above";
  rig.Keys({kUp});
  EXPECT_EQ(rig.setup.CurrentLabel(), "Display") << "nothing above the first row";
  rig.Keys({65});  // F7 is no Set-Up key
  EXPECT_EQ(rig.Row(22).find("Press ENTER to change this field") != std::string::npos, true) << rig.Row(22);
  EXPECT_EQ(rig.setupHost.bells, 1);

  rig.Keys({kEnter});  // Display
  rig.GoTo("80 Columns");
  rig.Keys({kEnter});
  EXPECT_EQ(rig.t->st.s.columns, 132);
  EXPECT_EQ(rig.setup.CurrentLabel(), "132 Columns");
  rig.Keys({kEnter});
  EXPECT_EQ(rig.t->st.s.columns, 80);
  rig.GoTo("Block Cursor Style");
  rig.Keys({kEnter});
  EXPECT_EQ(rig.t->st.s.cursorStyle, 0);
  rig.t->st.s.cursorStyle = 7;  // a value outside the list shows as Unknown and becomes the first
  rig.Keys({kLeft, kRight});
  EXPECT_EQ(rig.setup.CurrentLabel(), "Unknown");
  rig.Keys({kEnter});
  EXPECT_EQ(rig.t->st.s.cursorStyle, 1);

  // The colour chooser: arrows step background and foreground, Enter stores.
  rig.GoTo("Normal");
  rig.Keys({kEnter, kUp, kUp, kLeft, kEnter});  // background 0 -> 2, foreground 7 -> 0
  EXPECT_EQ(rig.t->st.s.defaultColour, 0x20);
  EXPECT_EQ(rig.t->st.colourAttribute, 0x20) << "Normal is also the colour drawn with now";
  rig.GoTo("Blink Underline");
  rig.Keys({kEnter, kDown, kRight, kEnter});  // 0x02: background 0 -> 7, foreground 2 -> 1
  EXPECT_EQ(rig.t->st.s.blinkUnderlineColour, 0x71);

  // General: terminal mode cycles through its six values.
  rig.Home();
  rig.Keys({kEnter});
  EXPECT_EQ(rig.setup.Screen(), 2);
  rig.GoTo("VT200 Mode, 7 Bit Controls");
  rig.Keys({kEnter, kEnter, kEnter, kEnter});
  EXPECT_EQ(rig.t->st.s.terminalId, 0);
  EXPECT_EQ(rig.setup.CurrentLabel(), "VT52 Mode");
  rig.Keys({kEnter});
  EXPECT_EQ(rig.t->st.s.terminalId, 1);
}

TEST(SetupScreens, AnswerbackEntryAndConcealment) {
  Rig rig;
  rig.setup.Enter();
  rig.GoTo("Keyboard");
  rig.Keys({kEnter});
  rig.GoTo("Answerback= ");
  rig.Keys({kEnter});
  EXPECT_NE(rig.Row(23).find("Terminate with Ctrl-Enter"), std::string::npos);
  rig.Type("ok");
  rig.setup.Key(kEnter, 0);  // Enter is stored as CR
  rig.setup.Key(46, 1);      // Ctrl+C
  rig.setup.Key(kEnter, 1);  // Ctrl+Enter ends
  EXPECT_EQ(std::string(reinterpret_cast<char *>(rig.t->st.s.answerback)), "ok\r\x03");
  EXPECT_EQ(rig.setup.CurrentLabel(), "Answerback= ok\r\x03");
  rig.Keys({kRight, kEnter});  // Concealed
  EXPECT_EQ(rig.t->st.s.answerbackConcealed, 1);
  rig.Keys({kEnter});  // Not Concealed keeps a concealed answerback concealed
  EXPECT_EQ(rig.t->st.s.answerbackConcealed, 1);
  rig.Keys({kLeft});
  EXPECT_EQ(rig.setup.CurrentLabel(), "Answerback= <Concealed>");
  // A 60-character entry keeps 50 bytes and the terminating NUL.
  rig.Keys({kEnter});
  rig.Type(std::string(60, 'a'));
  rig.setup.Key(kEnter, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(rig.t->st.s.answerback)), std::string(50, 'a'));
  EXPECT_EQ(rig.t->st.s.answerbackConcealed, 0);
}

TEST(SetupScreens, TabRuler) {
  Rig rig;
  rig.setup.Enter();
  rig.GoTo("Tab");
  rig.Keys({kEnter, kDown});  // onto the ruler, column 0
  EXPECT_EQ(rig.Row(18).substr(0, 9), "        T") << "the stops of columns 0..79";
  EXPECT_EQ(rig.Row(19).substr(0, 12), "123456789012");
  rig.Keys({kTab});
  rig.Keys({kEnter});  // clears the stop at column 8
  EXPECT_EQ(rig.t->st.s.tabStops[8], 0);
  rig.Keys({kTab});
  EXPECT_EQ(rig.t->st.s.tabStops[16], 1);
  rig.Keys({kRight, kEnter});
  EXPECT_EQ(rig.t->st.s.tabStops[17], 1);
  for (int i = 0; i < 62; ++i) rig.Keys({kRight});  // column 79, then onto the second half
  rig.Keys({kRight, kEnter});
  EXPECT_EQ(rig.t->st.s.tabStops[80], 0) << "the stop at column 80 toggled off";
  for (int i = 0; i < 60; ++i) rig.Keys({kRight});  // stops at column 131
  rig.Keys({kEnter});
  EXPECT_EQ(rig.t->st.s.tabStops[131], 1);
  rig.Keys({kUp, kRight, kRight, kEnter});  // Clear All Tabs
  for (int c = 0; c < 132; ++c) ASSERT_EQ(rig.t->st.s.tabStops[c], 0) << c;
  rig.Keys({kRight, kEnter});  // Set 8 Column Tabs
  int stops = 0;
  for (int c = 0; c < 132; ++c) stops += rig.t->st.s.tabStops[c] ? c : 0;
  EXPECT_EQ(stops, 8 * (1 + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10 + 11 + 12 + 13 + 14 + 15 + 16));
}

TEST(SetupScreens, SaveAndRecallSetUpFiles) {
  Rig rig;
  rig.setup.Enter();
  rig.GoTo("Save");
  rig.Keys({kEnter});
  rig.Type("a.stu");
  rig.Keys({kEnter});
  ASSERT_EQ(rig.files.files.count("a.stu"), 1u);
  EXPECT_EQ(rig.files.files["a.stu"].size(), 361u);
  EXPECT_NE(rig.Row(22).find("Done"), std::string::npos) << rig.Row(22);
  rig.Home();
  rig.GoTo("Multi-National");
  rig.Keys({kEnter});
  EXPECT_EQ(rig.t->st.s.nationalMode, 1);
  rig.GoTo("Recall");
  rig.Keys({kEnter, kEnter});  // the name offered is the file saved
  EXPECT_EQ(rig.t->st.s.nationalMode, 0) << "the recalled file's value";
  EXPECT_NE(rig.Row(22).find("Done"), std::string::npos) << rig.Row(22);
  rig.Keys({kEnter});
  rig.Type("missing.stu");
  rig.Keys({kEnter});
  EXPECT_NE(rig.Row(22).find("Setup file missing.stu not found"), std::string::npos) << rig.Row(22);
  EXPECT_EQ(std::string(rig.t->st.setupFileName), "a.stu") << "the previous file is loaded again";
}

TEST(SetupScreens, LeavingPutsTheHostScreenAndKeysBack) {
  Rig rig;
  rig.Host("\x1B#6wide\r\n\x1B[7mreverse\x1B[0m\x1B[3;5H\x1B[1m");
  rig.Host("\x1BP1;1|17/414243\x1B\\");  // Shift+F6
  const TERM_SCREEN before = rig.t->screen;
  const BYTE row = rig.t->st.cursorRow, col = rig.t->st.cursorCol, attr = rig.t->st.s.attribute;
  BYTE lines[GRID_ROWS];
  std::memcpy(lines, rig.t->st.lineAttribute, sizeof lines);

  rig.setup.Enter();
  rig.GoTo("General");
  rig.Keys({kEnter});
  rig.GoTo("Numeric Cursor Keys");
  rig.Keys({kEnter});  // application cursor keys, patched into the map
  rig.setup.Leave();
  EXPECT_EQ(rig.setupHost.menusOff, 0);
  EXPECT_EQ(std::memcmp(&before, &rig.t->screen, sizeof(TERM_CELL) * GRID_COLUMNS * 24), 0);
  EXPECT_EQ(std::memcmp(lines, rig.t->st.lineAttribute, sizeof lines), 0);
  EXPECT_EQ(rig.t->st.cursorRow, row);
  EXPECT_EQ(rig.t->st.cursorCol, col);
  EXPECT_EQ(rig.t->st.s.attribute, attr);
  class Out : public KeyMapOutput {
   public:
    std::string bytes;
    void Char(BYTE c) override { bytes.push_back(static_cast<char>(c)); }
    void String(const BYTE *p, size_t n) override { bytes.append(reinterpret_cast<const char *>(p), n); }
  } out;
  KeyMapSendKey(rig.km, 63, 4, rig.t->st.s, out);
  EXPECT_EQ(out.bytes, "ABC") << "the host's user keys are back";
  EXPECT_EQ(rig.t->st.s.cursorKeysApp, 1) << "the setting made in Set-Up stays";
  out.bytes.clear();
  KeyMapSendKey(rig.km, 94, 0, rig.t->st.s, out);
  EXPECT_EQ(out.bytes, "\x1BOA") << "and the restored map is in that mode";

  // A key map chosen in Set-Up stays in force, without the old user keys.
  size_t size = 0;
  const BYTE *image = BuiltInKeyMapImage(&size);
  rig.files.files["OTHER.KEY"].assign(reinterpret_cast<const char *>(image), size);
  rig.setup.Enter();
  rig.GoTo("Keyboard = ");
  rig.Keys({kEnter});
  rig.Type("OTHER.KEY");
  rig.Keys({kEnter});
  EXPECT_EQ(std::string(rig.t->st.keyMapName), "OTHER.KEY");
  rig.setup.Leave();
  out.bytes.clear();
  KeyMapSendKey(rig.km, 63, 4, rig.t->st.s, out);
  EXPECT_EQ(out.bytes, "") << "user keys went with the old map";
}

}  // namespace
