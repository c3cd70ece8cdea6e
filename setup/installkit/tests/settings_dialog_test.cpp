// The NFS client settings dialog as an installation program opens it
// (configure_host calls the library's Configure), driven through the layer's
// automation on the headless display. The test program runs in a network
// namespace of its own, so names resolve from the hosts file alone and an
// unknown name fails at once. It serves the NFS client's device itself and
// keeps the settings block the dialog sends when OK is pressed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <windows.h>
#include <winsock.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver_settings.h"
#include "qx/devices.h"
#include "qxtest/automation.h"
#include "qxtest/drawing.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"

namespace {

using qxtest::AutomationAwaitOk;
using qxtest::AutomationCommand;
using qxtest::AutomationValue;

const char kCaption[] = "Corvane Software NFS Client Configuration";
const char kProductKey[] = "SOFTWARE\\Corvane\\NFSClient";
const char kSettingsKey[] = "SOFTWARE\\Corvane\\NFSClient\\CurrentVersion";

// A machine of the test program's own: home, registry and the layer's
// runtime objects under a fresh folder, windows on the headless display with
// the automation socket open. Set before the layer first looks.
struct Machine {
  qxtest::TempDir root{"qx-settings-dialog"};
  Machine() {
    for (const char *dir : {"home", "machine", "run"}) std::filesystem::create_directories(root / dir);
    chmod((root / "run").c_str(), 0700);
    setenv("QX_HOME", (root / "home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (root / "machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root / "run").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("QX_DISPLAY", "headless", 1);
    unsetenv("QX_AUTOMATION");
    unsetenv("QX_MSGBOX");
    unsetenv("QX_MSGBOX_ANSWER");
  }
};
Machine g_machine;
const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

// The NFS client driver's side: every settings block it is sent.
qxnfs::DriverSettings g_driver;
std::atomic<int> g_blocks{0};

class SettingsFile : public qx::DeviceFile {
 public:
  DWORD IoControl(DWORD code, const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) override {
    if (code != qxnfs::kSettingsRequest) return ERROR_INVALID_FUNCTION;
    const DWORD error = g_driver.Apply(in, out);
    if (!error) g_blocks++;
    return error;
  }
};

class SettingsDevice : public qx::DeviceProvider {
 public:
  DWORD Open(const std::string &, DWORD, std::shared_ptr<qx::DeviceFile> &file) override {
    file = std::make_shared<SettingsFile>();
    return 0;
  }
};

std::string WithoutOk(const std::string &answer) { return answer.rfind("ok", 0) == 0 ? answer.substr(3) : answer; }

// One run of the dialog in configure_host, ended by its OK or Cancel.
class Dialog {
 public:
  explicit Dialog(const std::string &arguments)
      : host_({"/bin/sh", "-c", "exec '" + qxtest::BinDir() + "/configure_host' " + arguments + " 2>&1"}) {
    window_ = AutomationValue(AutomationAwaitOk(host_.pid(), std::string("find #32770 ") + kCaption, 20000));
  }
  bool up() const { return !window_.empty(); }
  const std::string &window() const { return window_; }
  std::string Auto(const std::string &command) { return AutomationCommand(host_.pid(), command); }
  std::string Item(int id) { return AutomationValue(Auto("item " + window_ + " " + std::to_string(id))); }
  std::string Text(int id) { return WithoutOk(Auto("text " + Item(id))); }
  std::string State(int id) { return Auto("state " + Item(id)); }
  bool Checked(int id) { return State(id).find(" check=1") != std::string::npos; }
  bool Enabled(int id) { return State(id).find(" enabled=1") != std::string::npos; }
  // "pos=N range=LOW..HIGH" of a bar.
  std::string Bar(int id) {
    const std::string state = State(id);
    const size_t at = state.find("pos=");
    return at == std::string::npos ? state : state.substr(at);
  }
  std::string Press(int id) { return Auto("press " + Item(id)); }
  void Scroll(int bar, int code, int times = 1) {
    for (int i = 0; i < times; i++) ASSERT_EQ(Auto("scroll " + Item(bar) + " v " + std::to_string(code)), "ok");
  }
  // A new text typed into an edit, then the focus moved on (to Help, which
  // does nothing on focus), as a person leaving the field does.
  void Enter(int id, const std::string &text) {
    ASSERT_EQ(Auto("type " + Item(id) + " "), "ok");
    ASSERT_EQ(Auto("settext " + Item(id) + " " + text), "ok");
    ASSERT_EQ(Auto("type " + Item(117) + " "), "ok");
  }
  // True once the control shows the text (coupled bars are refreshed by
  // posted messages, handled a moment later).
  bool Shows(int id, const std::string &text) {
    return qxtest::WaitUntil([&] { return Text(id) == text; }, 10000);
  }
  bool BarShows(int id, const std::string &bar) {
    return qxtest::WaitUntil([&] { return Bar(id) == bar; }, 10000);
  }
  // The host's next line (a message box prints "[caption] text").
  std::string NextLine(int timeout_ms = 10000) { return host_.ReadLine(timeout_ms); }
  // Presses the button that ends the dialog: the host's report of the call.
  std::string Finish(int id) {
    EXPECT_EQ(Press(id), "ok") << "button " << id;
    std::string line, before;
    for (;;) {
      line = host_.ReadLine(15000);
      if (line.empty() || line.rfind("Configure returned", 0) == 0) break;
      before += line + "\n";
    }
    std::string after;
    for (std::string rest; !(rest = host_.ReadLine(5000)).empty();) after += rest + "\n";
    EXPECT_EQ(host_.Wait(10000), 0) << "the host's output:\n" << before << line << "\n" << after;
    return line;
  }

 private:
  qxtest::Child host_;
  std::string window_;
};

// Registry values of the settings key, set and read by the test.
void SetNumber(HKEY key, const char *name, DWORD value) {
  ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value), ERROR_SUCCESS) << name;
}
void SetText(HKEY key, const char *name, const char *text) {
  ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)std::strlen(text) + 1), ERROR_SUCCESS);
}

// A listing of the settings key: "name type data" a line, in the order the
// values were first written; strings with the size stored ("+NUL" when it
// counts the terminating NUL).
std::string Listing() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "(no key)";
  std::string out;
  for (DWORD i = 0;; i++) {
    char name[256];
    BYTE data[512];
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    out += name;
    if (type == REG_DWORD && dataSize == 4) {
      DWORD value;
      std::memcpy(&value, data, 4);
      char text[32];
      std::snprintf(text, sizeof text, " dword 0x%x\n", (unsigned)value);
      out += text;
    } else if (type == REG_SZ) {
      const size_t length = strnlen((const char *)data, dataSize);
      out += " sz \"" + std::string((const char *)data, length) + "\"" + (dataSize == length + 1 ? "+NUL" : "") + "\n";
    } else {
      out += " type " + std::to_string(type) + "\n";
    }
  }
  RegCloseKey(key);
  return out;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", (unsigned)value);
  return text;
}

// The first address of this machine's name, as the dialog finds it.
DWORD LocalAddress() {
  char name[256] = "";
  if (gethostname(name, sizeof name) != 0) return 0;
  hostent *host = gethostbyname(name);
  if (!host || !host->h_addr_list || !host->h_addr_list[0]) return 0;
  DWORD address = 0;
  std::memcpy(&address, host->h_addr_list[0], 4);
  return address;
}

const char kDevice[] = "\\Device\\QXNFS";

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    ASSERT_EQ(qx::ServeDevice(kDevice, std::make_shared<SettingsDevice>()), 0u)
        << "the test's stand-in for the NFS client device could not be served";
  }
  void TearDown() override { qx::StopServingDevice(kDevice); }
  void ClearSettings() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
    ASSERT_EQ(Listing(), "(no key)");
    blocksBefore_ = g_blocks.load();
  }
  // The settings key with these values, as an earlier OK left it.
  HKEY CreateSettings() {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  bool BlockArrived() {
    return qxtest::WaitUntil([&] { return g_blocks.load() > blocksBefore_; }, 5000);
  }
  int blocksBefore_ = 0;
};

// The dialog saved as a picture and compared with its golden picture; the
// picture counts once two in a row agree (painting goes on after it shows).
void ExpectLooksLike(Dialog &dialog, const std::string &name) {
  const std::string actual = std::filesystem::current_path().string() + "/" + name + ".actual.png";
  std::string previous;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        if (dialog.Auto("png " + dialog.window() + " " + actual) != "ok") return false;
        const std::string now = qxtest::ReadFile(actual);
        const bool same = !now.empty() && now == previous;
        previous = now;
        return same;
      },
      5000));
  qx::gdi::Surface picture;
  ASSERT_TRUE(qx::gdi::ReadPng(actual, picture)) << actual;
  const std::string why =
      qx::test::CompareGoldenIn(picture, qxtest::SourceDir() + "/setup/installkit/tests/golden", name);
  EXPECT_EQ(why, "") << name << ": the picture is " << actual;
  if (why.empty()) std::filesystem::remove(actual);
}

TEST_F(SettingsDialog, WithoutSettingsShowsTheDefaultsAndCancelWritesNothing) {
  Dialog dialog("Configure");
  ASSERT_TRUE(dialog.up()) << "the settings dialog did not come up: " << dialog.NextLine(1000);
  struct Shown {
    int edit, bar;
    const char *text, *position;
  } numbers[] = {
      {109, 110, "8", "pos=8 range=1..8"},
      {122, 123, "1", "pos=1 range=1..32000"},
      {115, 116, "8", "pos=8 range=1..10000"},
      {111, 112, "1", "pos=1 range=1..8"},
      {113, 114, "8", "pos=8 range=1..8"},
      {101, 102, "4096", "pos=4096 range=512..8192"},
      {103, 104, "8192", "pos=8192 range=512..8192"},
  };
  for (const Shown &n : numbers) {
    EXPECT_EQ(dialog.Text(n.edit), n.text) << "edit " << n.edit;
    EXPECT_EQ(dialog.Bar(n.bar), n.position) << "bar " << n.bar;
  }
  struct Box {
    int id;
    bool checked;
  } boxes[] = {
      {1256, true},  {1128, true},  {1064, true},  {1032, false}, {1016, false},
      {1008, false}, {1004, false}, {1002, false}, {1001, false}, {118, true},
      {119, false},  {120, false},  {124, true},   {125, false},  {126, false},
  };
  for (const Box &b : boxes) EXPECT_EQ(dialog.Checked(b.id), b.checked) << "box " << b.id;
  EXPECT_EQ(dialog.Text(121), "hosts.byaddr");
  for (int edit : {105, 106, 107}) EXPECT_EQ(dialog.Text(edit), "") << "edit " << edit;
  EXPECT_TRUE(dialog.Enabled(2)) << "configure mode keeps Cancel";
  ExpectLooksLike(dialog, "configure");

  dialog.Enter(109, "3");
  dialog.Press(118);
  EXPECT_EQ(dialog.Finish(2), "Configure returned 1, out text OK");
  EXPECT_EQ(Listing(), "(no key)") << "Cancel wrote settings";
  EXPECT_EQ(g_blocks.load(), blocksBefore_) << "Cancel sent the driver a settings block";
}

// The numbers keep their rules and each other's: outstanding requests bound
// both parallel values, maximum reads never falls below read parallel, the
// sizes are multiples of 512 within 512..8192. Each step is what a person does
// and what every coupled control then shows.
TEST_F(SettingsDialog, NumbersKeepTheirRulesAndEachOther) {
  HKEY key = CreateSettings();
  SetNumber(key, "Maximum Read Parallel", 4);
  SetNumber(key, "Maximum Reads", 6);
  RegCloseKey(key);
  const std::string stored = Listing();
  Dialog dialog("configure");
  ASSERT_TRUE(dialog.up());
  ASSERT_EQ(dialog.Text(111), "4");

  // Outstanding requests 8 -> 2 on its bar: both parallel values follow.
  dialog.Scroll(110, SB_LINEDOWN, 6);
  EXPECT_EQ(dialog.Text(109), "2");
  EXPECT_TRUE(dialog.Shows(111, "2"));
  EXPECT_TRUE(dialog.Shows(113, "2"));
  EXPECT_TRUE(dialog.BarShows(112, "pos=2 range=1..8"));
  EXPECT_TRUE(dialog.BarShows(114, "pos=2 range=1..8"));

  struct Step {
    const char *what;
    int id;            // an edit to type into, or a bar to scroll
    const char *text;  // typed; null for a bar
    int code, times;   // the bar's scroll code
    int shown;         // the edit to look at afterwards
    const char *expected;
  } steps[] = {
      {"read size 1000 is rounded down", 101, "1000", 0, 0, 101, "512"},
      {"read size 8192 is kept", 101, "8192", 0, 0, 101, "8192"},
      {"read size 500 keeps the old value", 101, "500", 0, 0, 101, "8192"},
      {"read size 9000 keeps the old value", 101, "9000", 0, 0, 101, "8192"},
      {"read size that is no number", 101, "12x", 0, 0, 101, "8192"},
      {"read size bar stops at 8192", 102, nullptr, SB_LINEUP, 1, 101, "8192"},
      {"read size bar lowers by 512", 102, nullptr, SB_LINEDOWN, 2, 101, "7168"},
      {"write size bar stops at 512", 104, nullptr, SB_LINEDOWN, 20, 103, "512"},
      {"a thumb drag only shows the value", 104, nullptr, SB_THUMBPOSITION, 1, 103, "512"},
      {"read parallel above the outstanding requests", 111, "3", 0, 0, 111, "2"},
      {"read parallel bar stops at the outstanding requests", 112, nullptr, SB_LINEUP, 3, 111, "2"},
      {"maximum reads below read parallel", 122, "1", 0, 0, 122, "6"},
      {"maximum reads bar lowers read parallel", 123, nullptr, SB_LINEDOWN, 5, 111, "1"},
      {"read parallel raises maximum reads", 112, nullptr, SB_LINEUP, 1, 122, "2"},
      {"typed read parallel raises maximum reads", 111, "1", 0, 0, 122, "2"},
      {"retries 10001 keeps the old value", 115, "10001", 0, 0, 115, "8"},
      {"retries 10000", 115, "10000", 0, 0, 115, "10000"},
      {"retries bar stops at 10000", 116, nullptr, SB_LINEUP, 1, 115, "10000"},
      {"outstanding requests 0", 109, "0", 0, 0, 109, "2"},
      {"outstanding requests typed 1 lowers write parallel", 109, "1", 0, 0, 113, "1"},
  };
  for (const Step &s : steps) {
    if (s.text)
      dialog.Enter(s.id, s.text);
    else
      dialog.Scroll(s.id, s.code, s.times);
    EXPECT_TRUE(dialog.Shows(s.shown, s.expected)) << s.what << ": shows " << dialog.Text(s.shown);
  }
  EXPECT_TRUE(dialog.BarShows(102, "pos=7168 range=512..8192"));
  EXPECT_TRUE(dialog.BarShows(114, "pos=1 range=1..8"));
  EXPECT_EQ(dialog.Finish(2), "Configure returned 1, out text OK");
  EXPECT_EQ(Listing(), stored) << "Cancel changed the stored settings";
}

// OK writes every value in its order, strings with their NUL, and hands the
// driver the numbers as its 40-byte block (addresses in network order).
TEST_F(SettingsDialog, OkWritesEveryValueAndSendsTheDriverItsBlock) {
  Dialog dialog("CONFIGURE");
  ASSERT_TRUE(dialog.up());
  dialog.Enter(105, "localhost");
  dialog.Enter(105, "no-such-host.invalid");
  EXPECT_EQ(dialog.NextLine(), "[Authorization Server] Unknown Server Address");
  EXPECT_EQ(dialog.Text(105), "localhost") << "the unknown name was kept";
  dialog.Enter(107, "nowhere.invalid");
  EXPECT_EQ(dialog.NextLine(), "[NIS Server] Unknown NIS (YP) Server Address");
  EXPECT_EQ(dialog.Text(107), "");
  dialog.Enter(105, "127.0.0.2");
  dialog.Enter(107, "127.0.0.9");
  dialog.Enter(106, "corvane");
  dialog.Enter(121, "passwd.byname");
  dialog.Enter(103, "2048");
  dialog.Enter(115, "12");
  struct Click {
    int id;
    bool checked;
  } clicks[] = {
      {119, true},    // compatibility: bits 0 and 1 toggled, 0x82 -> 0x81
      {118, false},   // sharing off: 0x01
      {120, true},    // CD-ROM: flags 0x08
      {125, true},    // upper case: flags 0x108
      {1004, true},   // others read: 0704
      {1256, false},  // owner read off: 0304
  };
  for (const Click &c : clicks) {
    EXPECT_EQ(dialog.Press(c.id), "ok") << c.id;
    EXPECT_EQ(dialog.Checked(c.id), c.checked) << "box " << c.id;
  }
  EXPECT_FALSE(dialog.Checked(124));
  EXPECT_EQ(dialog.Finish(130), "Configure returned 1, out text OK");

  const DWORD local = LocalAddress();
  const std::string expected = std::string() +
                               "Description sz \"Corvane Software (tm) NFS Client\"+NUL\n"
                               "Maximum Read Parallel dword 0x1\n"
                               "Maximum Write Parallel dword 0x8\n"
                               "Maximum Reads dword 0x1\n"
                               "Maximum Read Transfer Size dword 0x1000\n"
                               "Maximum Write Transfer Size dword 0x800\n"
                               "Number Of Outstanding Network Requests dword 0x8\n"
                               "Maximum Number Of Retries dword 0xc\n"
                               "Default Share dword 0x1\n"
                               "Default Flags dword 0x108\n"
                               "Default QXNFSD sz \"127.0.0.2\"+NUL\n"
                               "Local IP dword " +
                               Hex(local) +
                               "\n"
                               "Default QXNFSD IP dword 0x200007f\n"
                               "Browse DataBase sz \"passwd.byname\"+NUL\n"
                               "NIS Domain sz \"corvane\"+NUL\n"
                               "NIS Server sz \"127.0.0.9\"+NUL\n"
                               "NIS Server IP dword 0x900007f\n"
                               "Default Protection dword 0xc4\n";
  EXPECT_EQ(Listing(), expected);

  ASSERT_TRUE(BlockArrived()) << "the driver received no settings block";
  const auto words = g_driver.Words();
  const std::array<std::uint32_t, 10> sent = {8, 1, 12, 1, 8, 4096, 2048, local, 0304, 0x0200007f};
  EXPECT_EQ(words, sent);
  BYTE bytes[4];
  std::memcpy(bytes, &words[9], 4);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 4), (std::vector<int>{127, 0, 0, 2})) << "the address is in network order";
}

// Stored settings come back into the dialog; emptying the authorisation
// server stores an empty name and address 0.
TEST_F(SettingsDialog, StoredSettingsComeBackAndAnEmptyServerIsAddressZero) {
  HKEY key = CreateSettings();
  SetText(key, "Default QXNFSD", "127.0.0.5");
  SetNumber(key, "Default QXNFSD IP", 0x0500007f);
  SetNumber(key, "Default Flags", 0x80);
  SetNumber(key, "Default Share", 0x01);
  SetNumber(key, "Default Protection", 0751);
  SetText(key, "NIS Domain", "corvane");
  SetNumber(key, "Number Of Outstanding Network Requests", 0);  // outside its rule
  RegCloseKey(key);
  Dialog dialog("Configure");
  ASSERT_TRUE(dialog.up());
  EXPECT_EQ(dialog.Text(105), "127.0.0.5");
  EXPECT_EQ(dialog.Text(106), "corvane");
  EXPECT_EQ(dialog.Text(121), "hosts.byaddr") << "a missing map name keeps its default";
  EXPECT_TRUE(dialog.Checked(126)) << "preserve case";
  EXPECT_FALSE(dialog.Checked(118));
  EXPECT_TRUE(dialog.Checked(119));
  for (int id : {1256, 1128, 1064, 1032, 1008, 1001}) EXPECT_TRUE(dialog.Checked(id)) << id;
  for (int id : {1016, 1004, 1002}) EXPECT_FALSE(dialog.Checked(id)) << id;
  EXPECT_EQ(dialog.Text(109), "0") << "a stored number is shown as stored";
  dialog.Scroll(112, SB_LINEUP);
  EXPECT_EQ(dialog.Text(111), "1") << "read parallel rose above outstanding requests 0";
  dialog.Enter(105, "");
  EXPECT_EQ(dialog.Finish(130), "Configure returned 1, out text OK");
  const std::string listing = Listing();
  EXPECT_NE(listing.find("Default QXNFSD sz \"\"+NUL\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Default QXNFSD IP dword 0x0\n"), std::string::npos) << listing;
  ASSERT_TRUE(BlockArrived());
  EXPECT_EQ(g_driver.Words()[9], 0u);
  EXPECT_EQ(g_driver.Words()[8], 0751u);
}

// Help opens the help file in the NFS client's installation directory at the
// dialog's topic, else the one installed beside the program.
TEST_F(SettingsDialog, HelpShowsTheConfigurationTopic) {
  qxtest::TempDir installed("qx-nfs-client");
  ASSERT_TRUE(qxtest::WriteFile(installed / "qxnfsnt.hlp",
                                "@topic other Other\nNot this one.\n\n"
                                "@topic settings Settings\n@keywords QXS NFS CLIENT CONFIGURATION\n"
                                "The installed help.\n"));
  std::string directory = "Z:" + installed.path();
  for (char &c : directory)
    if (c == '/') c = '\\';
  struct Case {
    const char *what;
    bool installedHelp;
    const char *begins;
  } cases[] = {
      {"the installation directory's file", true, "The installed help."},
      {"the file beside the program", false, "The NFS client settings dialog sets how"},
  };
  for (const Case &c : cases) {
    ClearSettings();
    if (c.installedHelp) {
      HKEY key = CreateSettings();
      SetText(key, "Installation Directory", directory.c_str());
      RegCloseKey(key);
    }
    Dialog dialog("Configure");
    ASSERT_TRUE(dialog.up()) << c.what;
    EXPECT_EQ(dialog.Press(117), "ok");
    const std::string help = AutomationValue(dialog.Auto("find MS_WINHELP -"));
    ASSERT_FALSE(help.empty()) << c.what << ": no help window";
    const std::string text = AutomationValue(dialog.Auto("item " + help + " 11"));
    EXPECT_TRUE(qxtest::WaitUntil([&] { return WithoutOk(dialog.Auto("text " + text)).rfind(c.begins, 0) == 0; }, 5000))
        << c.what << ": " << dialog.Auto("text " + text);
    EXPECT_EQ(dialog.Finish(2), "Configure returned 1, out text OK");
  }
}

// The settings reach the NFS client's own device process (qxnfsdev), which
// says what it took.
TEST_F(SettingsDialog, TheRunningDeviceTakesTheBlock) {
  qx::StopServingDevice(kDevice);
  qxtest::Child device({qxtest::BinDir() + "/qxnfsdev"});
  ASSERT_EQ(device.ReadLine(10000), "ready") << "qxnfsdev did not start";
  Dialog dialog("Configure");
  ASSERT_TRUE(dialog.up());
  dialog.Enter(105, "127.0.0.3");
  dialog.Enter(113, "5");
  EXPECT_EQ(dialog.Finish(130), "Configure returned 1, out text OK");
  EXPECT_EQ(device.ReadLine(10000),
            "settings 8 1 8 1 5 4096 8192 " + std::to_string(LocalAddress()) + " 448 " + std::to_string(0x0300007f));
}

// The mode word: "Configure" in any case is configure mode; no word or any
// other is install mode, whose Cancel is greyed and cannot end the dialog.
TEST_F(SettingsDialog, InstallModeGreysCancel) {
  struct Mode {
    const char *arguments;
    bool cancel;
  } modes[] = {{"cOnFiGuRe", true}, {"", false}, {"Install", false}};
  for (const Mode &m : modes) {
    Dialog dialog(m.arguments);
    ASSERT_TRUE(dialog.up()) << "arguments '" << m.arguments << "'";
    EXPECT_EQ(dialog.Enabled(2), m.cancel) << "arguments '" << m.arguments << "'";
    if (!m.cancel) {
      EXPECT_EQ(dialog.Press(2), "error the button is disabled");
    }
    EXPECT_EQ(dialog.Finish(m.cancel ? 2 : 130), "Configure returned 1, out text OK") << m.arguments;
  }
}

}  // namespace
