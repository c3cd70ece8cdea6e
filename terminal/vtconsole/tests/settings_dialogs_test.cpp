// The settings dialogs, headless, driven as a person would from a timer:
// buttons clicked, text typed, OK or Cancel; the record bytes each change
// sets are checked as a table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "settings_dialogs.h"

namespace {

class Headless {
 public:
  Headless() {
    unsetenv("DISPLAY");
    setenv("QX_DISPLAY", "headless", 1);
    setenv("QX_AUTOMATION", "0", 1);
    char dir[] = "/tmp/qxdialogs-XXXXXX";
    if (mkdtemp(dir)) {
      runtime_ = dir;
      setenv("QX_RUNTIME_DIR", dir, 1);
    }
  }
  ~Headless() {
    if (!runtime_.empty()) std::system(("rm -rf '" + runtime_ + "'").c_str());
  }

 private:
  std::string runtime_;
};
const Headless g_headless;

class RecordingHost : public SettingsHost {
 public:
  std::string said;
  int displayChanges = 0;
  void DisplayChanged() override { ++displayChanges; }
  void Tell(const char *text) override { said += text; }
};

struct Step {
  const char *caption;  // the dialog the step acts in
  std::function<void(HWND)> act;
};

std::vector<Step> *g_steps;
size_t g_next;
int g_idle;

void CALLBACK RunStep(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_steps) return;
  if (g_next < g_steps->size()) {
    const Step &s = (*g_steps)[g_next];
    if (HWND d = FindWindowA(nullptr, s.caption)) {
      ++g_next;
      s.act(d);
    }
  } else if (++g_idle == 100) {
    ADD_FAILURE() << "a dialog stayed open";
    for (const char *c : {"Colour", "Display Setup", "Setup Directory", "Connect to Host"})
      if (HWND d = FindWindowA(nullptr, c)) PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
  }
}

struct Fixture {
  std::unique_ptr<VtTerminal> t = std::make_unique<VtTerminal>();
  TERM_KEYMAP km;
  RecordingHost host;
  Fixture() {
    TermInit(*t, 24, nullptr, nullptr, nullptr);
    KeyMapBuiltIn(km);
  }
  INT_PTR Run(const char *dialog, std::vector<Step> steps) {
    g_steps = &steps;
    g_next = 0;
    g_idle = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, RunStep);
    const INT_PTR result = TermSettingsDialog(nullptr, dialog, *t, km, host);
    KillTimer(nullptr, timer);
    g_steps = nullptr;
    EXPECT_EQ(g_next, steps.size()) << dialog << ": steps left over";
    return result;
  }
  BYTE Byte(size_t offset) const { return reinterpret_cast<const BYTE *>(&t->st.s)[offset]; }
};

void Click(HWND d, int id) { SendDlgItemMessageA(d, id, BM_CLICK, 0, 0); }
void Ok(HWND d) { Click(d, IDOK); }
void Cancel(HWND d) { Click(d, IDCANCEL); }
std::string TextOf(HWND d, int id) {
  char buffer[256] = {};
  GetDlgItemTextA(d, id, buffer, sizeof buffer);
  return buffer;
}
bool Checked(HWND d, int id) { return IsDlgButtonChecked(d, id) == BST_CHECKED; }

TEST(SettingsDialogs, EveryRadioPairSetsItsByteOnOkAndNotOnCancel) {
  const struct {
    const char *dialog, *caption;
    int id0, id1;  // the buttons for the factory-opposite value and back
    size_t offset;
    BYTE value0, value1;
  } pairs[] = {
      {"DIRECTORY", "Setup Directory", 401, 402, 7, 0, 1}, {"DIRECTORY", "Setup Directory", 403, 404, 19, 0, 1},
      {"DISPLAY", "Display Setup", 501, 502, 21, 80, 132}, {"DISPLAY", "Display Setup", 503, 504, 18, 0, 1},
      {"DISPLAY", "Display Setup", 505, 506, 32, 0, 1},    {"DISPLAY", "Display Setup", 507, 508, 24, 0, 1},
      {"DISPLAY", "Display Setup", 509, 510, 17, 0, 1},    {"DISPLAY", "Display Setup", 511, 512, 27, 0, 1},
      {"DISPLAY", "Display Setup", 513, 514, 26, 0, 1},    {"GENERAL", "General Setup", 601, 602, 33, 0, 1},
      {"GENERAL", "General Setup", 604, 603, 15, 0, 1},    {"GENERAL", "General Setup", 605, 606, 225, 0, 1},
      {"GENERAL", "General Setup", 607, 608, 23, 0, 1},    {"GENERAL", "General Setup", 609, 610, 31, 0, 1},
      {"GENERAL", "General Setup", 611, 612, 22, 0, 1},    {"GENERAL", "General Setup", 613, 614, 16, 0, 1},
      {"PRINTER", "Printer Setup", 701, 702, 12, 0, 1},    {"PRINTER", "Printer Setup", 703, 704, 14, 0, 1},
      {"PRINTER", "Printer Setup", 705, 706, 13, 0, 1},    {"KEYBOARD", "Keyboard Setup", 901, 902, 10, 0, 1},
      {"KEYBOARD", "Keyboard Setup", 903, 904, 5, 0, 1},   {"KEYBOARD", "Keyboard Setup", 905, 906, 28, 0, 1},
      {"KEYBOARD", "Keyboard Setup", 907, 908, 9, 0, 1},   {"KEYBOARD", "Keyboard Setup", 909, 910, 232, 0, 1},
      {"KEYBOARD", "Keyboard Setup", 913, 914, 29, 0, 1},  {"KEYBOARD", "Keyboard Setup", 915, 916, 25, 0, 1},
  };
  for (const auto &p : pairs) {
    Fixture f;
    const BYTE factory = f.Byte(p.offset);
    const bool factorySecond = factory == p.value1;
    const int other = factorySecond ? p.id0 : p.id1, same = factorySecond ? p.id1 : p.id0;
    const BYTE changed = factorySecond ? p.value0 : p.value1;
    // Cancel drops the change.
    f.Run(p.dialog, {{p.caption, [&](HWND d) {
                        EXPECT_TRUE(Checked(d, same)) << p.dialog << " " << same << " shows the record";
                        Click(d, other);
                        EXPECT_TRUE(Checked(d, other));
                        EXPECT_FALSE(Checked(d, same));
                        Cancel(d);
                      }}});
    EXPECT_EQ(f.Byte(p.offset), factory) << p.dialog << " " << other << " cancelled";
    // OK applies it.
    EXPECT_EQ(f.Run(p.dialog, {{p.caption,
                                [&](HWND d) {
                                  Click(d, other);
                                  Ok(d);
                                }}}),
              IDOK);
    EXPECT_EQ(f.Byte(p.offset), changed) << p.dialog << " " << other;
  }
}

TEST(SettingsDialogs, ListsAndPrintFile) {
  Fixture f;
  f.Run("GENERAL", {{"General Setup", [](HWND d) {
                       EXPECT_EQ(SendDlgItemMessageA(d, IDC_GENERAL_MODE, CB_GETCURSEL, 0, 0), 2);
                       SendDlgItemMessageA(d, IDC_GENERAL_MODE, CB_SETCURSEL, 0, 0);  // VT52
                       Ok(d);
                     }}});
  EXPECT_EQ(f.t->st.s.terminalId, 0);
  EXPECT_EQ(f.t->st.s.ansiMode, 0) << "VT52 mode is put into effect";
  f.Run("PRINTER", {{"Printer Setup", [](HWND d) {
                       EXPECT_EQ(TextOf(d, IDC_PRINTER_FILE), "PRN:");
                       SetDlgItemTextA(d, IDC_PRINTER_FILE, "C:\\OUT\\PRINT.TXT");
                       SendDlgItemMessageA(d, IDC_PRINTER_MODE, CB_SETCURSEL, 2, 0);
                       Ok(d);
                     }}});
  EXPECT_STREQ(f.t->st.printName, "C:\\OUT\\PRINT.TXT");
  EXPECT_EQ(f.t->st.s.printMode, 2);
  f.Run("KEYBOARD", {{"Keyboard Setup", [](HWND d) {
                        SendDlgItemMessageA(d, IDC_KEYBOARD_LANGUAGE, CB_SETCURSEL, 6, 0);
                        Ok(d);
                      }}});
  EXPECT_EQ(f.t->st.s.nationalLanguage, 6);
}

TEST(SettingsDialogs, AnswerbackShownAndReadBack) {
  Fixture f;
  // Typed in caret notation: ^M is CR, ^^ a caret.
  f.Run("KEYBOARD", {{"Keyboard Setup", [](HWND d) {
                        EXPECT_EQ(TextOf(d, IDC_KEYBOARD_ANSWERBACK), "");
                        SetDlgItemTextA(d, IDC_KEYBOARD_ANSWERBACK, "hi^m^^x^");
                        Ok(d);
                      }}});
  EXPECT_STREQ(reinterpret_cast<char *>(f.t->st.s.answerback), "hi\r^x^");
  // Shown again in caret notation; OK untouched keeps every byte.
  f.Run("KEYBOARD", {{"Keyboard Setup", [](HWND d) {
                        EXPECT_EQ(TextOf(d, IDC_KEYBOARD_ANSWERBACK), "hi^M^^x^^");
                        Ok(d);
                      }}});
  EXPECT_STREQ(reinterpret_cast<char *>(f.t->st.s.answerback), "hi\r^x^");
  // Concealed: the placeholder shows, OK keeps the text and the concealment.
  f.t->st.s.answerbackConcealed = 1;
  f.Run("KEYBOARD", {{"Keyboard Setup", [](HWND d) {
                        EXPECT_EQ(TextOf(d, IDC_KEYBOARD_ANSWERBACK), "<Concealed>");
                        EXPECT_TRUE(Checked(d, 912));
                        Ok(d);
                      }}});
  EXPECT_EQ(f.t->st.s.answerbackConcealed, 1);
  EXPECT_STREQ(reinterpret_cast<char *>(f.t->st.s.answerback), "hi\r^x^");
  // A new text over a concealed answerback shows it again.
  f.Run("KEYBOARD", {{"Keyboard Setup", [](HWND d) {
                        SetDlgItemTextA(d, IDC_KEYBOARD_ANSWERBACK, "new");
                        Ok(d);
                      }}});
  EXPECT_EQ(f.t->st.s.answerbackConcealed, 0);
  EXPECT_STREQ(reinterpret_cast<char *>(f.t->st.s.answerback), "new");
}

TEST(SettingsDialogs, TabRuler) {
  Fixture f;
  f.Run("TAB", {{"Tab Setup", [](HWND d) {
                   EXPECT_EQ(TextOf(d, IDC_TAB_LABEL), "  1");
                   Click(d, IDC_TAB_CLEAR_ALL);
                   for (int i = 0; i < 3; ++i) SendMessageA(d, WM_HSCROLL, SB_LINERIGHT, 0);
                   Click(d, IDC_TAB_SET);
                   EXPECT_EQ(TextOf(d, IDC_TAB_LABEL), "  4 - Tab");
                   SendMessageA(d, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 200), 0);
                   EXPECT_EQ(TextOf(d, IDC_TAB_LABEL), " 80") << "at most the column count";
                   SendMessageA(d, WM_HSCROLL, SB_PAGELEFT, 0);
                   EXPECT_EQ(TextOf(d, IDC_TAB_LABEL), " 72");
                   Ok(d);
                 }}});
  int stops = 0;
  for (BYTE s : f.t->st.s.tabStops) stops += s;
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(f.t->st.s.tabStops[3], 1);
  f.Run("TAB", {{"Tab Setup", [](HWND d) {
                   Click(d, IDC_TAB_SET_8);
                   Ok(d);
                 }}});
  EXPECT_EQ(f.t->st.s.tabStops[3], 0);
  EXPECT_EQ(f.t->st.s.tabStops[128], 1) << "stops up to column 129 also in 80 columns";
}

TEST(SettingsDialogs, HubRelabelsCancelAndColoursReachTheRecord) {
  Fixture f;
  const LONG units = GetDialogBaseUnits();
  const int bw = LOWORD(units), bh = HIWORD(units);
  // A grid cell in dialog units, as client pixels: foreground 3, background 5.
  const LPARAM cell = MAKELPARAM((18 + 20 * 3 + 4) * bw / 8, (20 + 20 * 5 + 4) * bh / 16);
  f.Run("DIRECTORY", {
                         {"Setup Directory", [](HWND d) { Click(d, IDC_DIR_DISPLAY); }},
                         {"Display Setup", [](HWND d) { Click(d, IDC_DISPLAY_COLOURS); }},
                         {"Colour",
                          [&](HWND d) {
                            Click(d, IDC_COLOUR_BLINK);
                            SendMessageA(d, WM_LBUTTONDOWN, MK_LBUTTON, cell);
                            Ok(d);
                          }},
                         {"Display Setup",
                          [](HWND d) {
                            EXPECT_EQ(TextOf(d, IDCANCEL), "Close");
                            Click(d, 502);  // 132 columns
                            Ok(d);
                          }},
                         {"Setup Directory",
                          [](HWND d) {
                            EXPECT_EQ(TextOf(d, IDCANCEL), "Close");
                            Cancel(d);  // as Close: keeps what was applied
                          }},
                     });
  EXPECT_EQ(f.t->st.s.blinkColour, 3 + 16 * 5);
  EXPECT_EQ(f.t->st.s.columns, 132);
  EXPECT_GE(f.host.displayChanges, 1);
}

TEST(HostDialog, RecentHostsPortsAndRefusals) {
  char dir[] = "/tmp/qxhostdlg-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string ini = std::string(dir) + "/QXAPPS.INI";
  std::ofstream(ini) << "[QX220]\nFILE_0=sun (2323)\nFILE_1=moon\n";
  RecordingHost host;
  std::string name;
  unsigned port = 0;
  auto run = [&](bool rlogin, std::vector<Step> steps) {
    g_steps = &steps;
    g_next = 0;
    g_idle = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, RunStep);
    const INT_PTR result = TermHostDialog(nullptr, ini.c_str(), rlogin, host, name, port);
    KillTimer(nullptr, timer);
    g_steps = nullptr;
    EXPECT_EQ(g_next, steps.size()) << "steps left over";
    return result;
  };
  // The first recent host with its port; OK connects to it.
  EXPECT_EQ(run(false, {{"Connect to Host",
                         [](HWND d) {
                           EXPECT_EQ(SendDlgItemMessageA(d, IDC_HOST_NAME, CB_GETCOUNT, 0, 0), 2);
                           EXPECT_EQ(TextOf(d, IDC_HOST_PORT), "2323");
                           Ok(d);
                         }}}),
            IDOK);
  EXPECT_EQ(name, "sun");
  EXPECT_EQ(port, 2323u);
  // Another entry shows its port; the scroll bar steps it; a bad port is refused.
  run(false, {{"Connect to Host",
               [](HWND d) {
                 SendDlgItemMessageA(d, IDC_HOST_NAME, CB_SETCURSEL, 1, 0);
                 SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_HOST_NAME, CBN_SELCHANGE),
                              reinterpret_cast<LPARAM>(GetDlgItem(d, IDC_HOST_NAME)));
                 EXPECT_EQ(TextOf(d, IDC_HOST_PORT), "23");
                 SendMessageA(d, WM_VSCROLL, SB_PAGEUP, 0);
                 SendMessageA(d, WM_VSCROLL, SB_LINEDOWN, 0);
                 EXPECT_EQ(TextOf(d, IDC_HOST_PORT), "30");
                 SetDlgItemTextA(d, IDC_HOST_PORT, "99999");
                 Ok(d);  // refused: the dialog stays
               }},
              {"Connect to Host", [](HWND d) {
                 SetDlgItemTextA(d, IDC_HOST_PORT, "30");
                 Ok(d);
               }}});
  EXPECT_NE(host.said.find("from 1 to 65535"), std::string::npos) << host.said;
  EXPECT_EQ(name, "moon");
  EXPECT_EQ(port, 30u);
  // rlogin: the port is the rlogin port and cannot be changed; Cancel gives no host.
  EXPECT_EQ(run(true, {{"Connect to Host",
                        [](HWND d) {
                          EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDC_HOST_PORT)));
                          EXPECT_EQ(TextOf(d, IDC_HOST_PORT), "513");
                          Cancel(d);
                        }}}),
            IDCANCEL);
  EXPECT_EQ(name, "");
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

}  // namespace
