// The setup library through a small installation program on a fresh machine
// of each test's own (machine registry, drive C:, runtime objects):
// installing, updating and removing the suite with the listings of the
// registry, the search path and the files compared before and after, the
// counters readable once installed; the edits of other programs' lists; the
// installation directory dialog driven through the layer's automation; and
// the super-server's configuration dialog.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "lists.h"
#include "qxtest/automation.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"

namespace {

namespace fs = std::filesystem;
using qxtest::AutomationAwaitOk;
using qxtest::AutomationCommand;
using qxtest::AutomationValue;
using qxtest::BinDir;
using qxtest::ReadFile;
using qxtest::Shell;

const char kDialogTitle[] = "QXNFS Client Installation";
const char kEnvironment[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kPrintProviders[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Providers";
const char kNetworkOrder[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\NetWorkProvider\\Order";
const char kClientService[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\QXNFS";
const char kClient[] = "HKLM\\SOFTWARE\\Corvane\\NFSClient";
const char kClientCurrent[] = "HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion";

std::string Quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// ---- The lists of other programs, edited by whole entries ----

struct ListCase {
  const char *value;
  const char *entry;
  char separator;
  const char *expected;
};

TEST(InstallKitLists, RemovingAnEntryKeepsEveryOtherEntryWhole) {
  const ListCase cases[] = {
      {"C:\\A;C:\\QX;C:\\B", "C:\\QX", ';', "C:\\A;C:\\B"},                   // in the middle, with the ';' after it
      {"C:\\A;C:\\QX", "C:\\QX", ';', "C:\\A"},                               // at the end, with the ';' ahead of it
      {"C:\\QX", "C:\\QX", ';', ""},                                          // alone
      {"C:\\QX;C:\\A", "c:\\qx", ';', "C:\\A"},                               // case does not matter
      {"C:\\QX\\;C:\\A", "C:\\QX", ';', "C:\\A"},                             // nor a trailing backslash
      {"C:\\QXOTHER;C:\\QX\\BIN", "C:\\QX", ';', "C:\\QXOTHER;C:\\QX\\BIN"},  // prefixes are other entries
      {"C:\\QX;C:\\A;C:\\QX", "C:\\QX", ';', "C:\\A"},                        // every copy goes
      {"C:\\A;;C:\\B", "C:\\QX", ';', "C:\\A;;C:\\B"},                        // nothing to remove, nothing touched
      {"LanmanWorkstation,QxNfs", "QXNFS", ',', "LanmanWorkstation"},
      {"QXNFSPLUS,LanmanWorkstation", "QXNFS", ',', "QXNFSPLUS,LanmanWorkstation"},
  };
  for (const auto &c : cases) {
    std::string value = c.value;
    installkit::RemoveListEntry(value, c.entry, c.separator);
    EXPECT_EQ(value, c.expected) << "removing " << c.entry << " from " << c.value;
  }
  // A search path far longer than 255 bytes loses only the entry.
  std::string longer;
  for (int i = 0; i < 60; ++i) longer += "C:\\TOOLS\\PACKAGE" + std::to_string(i) + ";";
  std::string value = longer + "C:\\QX;C:\\LAST";
  installkit::RemoveListEntry(value, "C:\\QX", ';');
  EXPECT_EQ(value, longer + "C:\\LAST");
}

TEST(InstallKitLists, ProviderGoesFirstOnce) {
  const ListCase cases[] = {
      {"LanmanWorkstation,QxNfs", "QXNFS", ',', "QXNFS,LanmanWorkstation"},
      {"", "QXNFS", ',', "QXNFS"},
      {"LanmanWorkstation", "QXNFS", ',', "QXNFS,LanmanWorkstation"},
      {"QXNFS,LanmanWorkstation", "QXNFS", ',', "QXNFS,LanmanWorkstation"},
      {"LanmanWorkstation,QXNFSPLUS", "QXNFS", ',', "QXNFS,LanmanWorkstation,QXNFSPLUS"},
  };
  for (const auto &c : cases) {
    std::string value = c.value;
    installkit::PutListEntryFirst(value, c.entry, c.separator);
    EXPECT_EQ(value, c.expected) << "putting " << c.entry << " first in " << c.value;
  }
  EXPECT_EQ(installkit::SplitMultiString(std::string("A\0B\0\0C\0\0", 9)), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(installkit::SplitMultiString(std::string("A\0B", 3)), (std::vector<std::string>{"A", "B"}));
}

// ---- A fresh machine of the test's own ----

// The settings dialog looks this machine's name up: no lookup leaves the test.
const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

class InstallKit : public ::testing::Test {
 protected:
  qxtest::TempDir root_{"qx-installkit"};

  void SetUp() override {
    qxtest::UseHeadlessDisplay();
    unsetenv("QX_AUTOMATION");  // the installer's dialogs are driven from here
    for (const char *name : {"QX_WINDOWS_DIR", "QX_SYSTEM_DIR", "QX_SERVICE_NAME", "QX_EVENTLOG_FAIL"}) unsetenv(name);
    setenv("QX_HOME", (root_ / "home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (root_ / "machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    setenv("QX_EVENTLOG_FILE", (root_ / "events.txt").c_str(), 1);
    setenv("QX_DRIVE_C", (root_ / "c").c_str(), 1);
    setenv("QX_SYSTEMD_UNIT_DIR", (root_ / "units").c_str(), 1);
    fs::create_directories(root_ / "units");
    fs::create_directories(root_ / "c/WINDOWS/SYSTEM32");
  }

  void TearDown() override { qxtest::KillProcessesOfRuntime(root_ / "run"); }

  std::string Host(const std::string &relative) const { return root_ / ("c/" + relative); }

  std::string Tool(const std::string &tool, const std::string &arguments, int *status = nullptr) {
    return Shell("'" + BinDir() + "/" + tool + "' " + arguments + " 2>&1", status);
  }
  void Set(const std::string &key, const std::string &name, const std::string &type, const std::string &data) {
    int status = 0;
    std::string out = Tool("qxreg", "set " + Quote(key) + " " + Quote(name) + " " + type + " " + Quote(data), &status);
    ASSERT_EQ(status, 0) << out;
  }
  std::string Get(const std::string &key, const std::string &name) {
    int status = 0;
    std::string out = Tool("qxreg", "get " + Quote(key) + " " + Quote(name), &status);
    if (status != 0) return "(missing)";
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  std::string RegistryListing() { return Tool("qxreg", "export HKLM -"); }
  std::string FileListing() { return Shell("cd " + Quote(root_ / "c") + " && find . -printf '%p %y %s\\n' | sort"); }

  // Runs one step of the installer to its end: "STEP returned N, out text T"
  // and any message box texts, one a line.
  std::string Install(const std::string &arguments, int *status = nullptr) {
    return Shell("timeout 120 '" + BinDir() + "/installkit_installer' " + arguments + " 2>&1", status);
  }

  // The installer with its dialog open: automation finds it by the pid.
  std::unique_ptr<qxtest::Child> StartInstaller(const std::string &arguments) {
    return std::make_unique<qxtest::Child>(std::vector<std::string>{
        "/bin/sh", "-c", "exec '" + BinDir() + "/installkit_installer' " + arguments + " 2>&1"});
  }

  // Lines of a child's output up to and including one holding `mark`.
  static std::string ReadUntil(qxtest::Child &child, const std::string &mark) {
    std::string all;
    for (std::string line; !(line = child.ReadLine(30000)).empty();) {
      all += line;
      if (line.find(mark) != std::string::npos) break;
    }
    return all;
  }

  // Processes of this test's machine running `program` (the services it started).
  std::vector<pid_t> PidsOf(const std::string &program) {
    const std::string mark = "QX_RUNTIME_DIR=" + root_ / "run";
    std::vector<pid_t> pids;
    for (const auto &entry : fs::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string environ = ReadFile("/proc/" + pid + "/environ") + '\0';
      if (environ.find(mark + '\0') != std::string::npos && ReadFile("/proc/" + pid + "/comm") == program + "\n")
        pids.push_back(std::stoi(pid));
    }
    return pids;
  }
  int ProcessesOf(const std::string &program) { return static_cast<int>(PidsOf(program).size()); }

  // The installation program's files: the counter definition file it
  // copies into the directory, and the super-server's program when wanted.
  void CopySuiteFiles(bool super_server, const std::string &dir = "QX") {
    fs::create_directories(Host(dir));
    for (const char *file : {"qxnfs.ini", "qxnfsctr.h"})
      fs::copy_file(BinDir() + "/" + file, Host(dir + "/" + file), fs::copy_options::overwrite_existing);
    if (super_server) fs::create_symlink(BinDir() + "/portwarden", Host(dir + "/portwarden"));
  }
  void RemoveSuiteFiles(const std::string &dir = "QX") {
    for (const char *file : {"qxnfs.ini", "qxnfsctr.h", "portwarden"}) fs::remove(Host(dir + "/" + file));
    std::error_code ignored;
    fs::remove(Host(dir), ignored);
  }

  // What the suite's other programs find on a machine before the suite comes.
  void SeedMachine() {
    Set(kEnvironment, "Path", "REG_EXPAND_SZ", "C:\\WINDOWS;C:\\QXOTHER");
    Set(kNetworkOrder, "ProviderOrder", "REG_SZ", "LanmanWorkstation");
    Set(kPrintProviders, "Order", "REG_MULTI_SZ", "LanMan Print Services");
    ASSERT_TRUE(qxtest::WriteFile(Host("WINDOWS/SYSTEM32/sharepanel.cpl"), "the NFS server's applet"));
  }
};

// The installation directory dialog: a relative directory is refused and the
// dialog stays; a new directory three levels deep is created level by level
// with its two subdirectories once the user agrees; the search path, longer
// than 255 bytes, gains the directory and loses nothing.
TEST_F(InstallKit, DirectoryDialogRefusesRelativeAndCreatesNestedDirectory) {
  std::string path = "C:\\WINDOWS";
  for (int i = 0; i < 40; ++i) path += ";C:\\TOOLS\\PACKAGE" + std::to_string(i);
  Set(kEnvironment, "Path", "REG_EXPAND_SZ", path);
  setenv("QX_MSGBOX_ANSWER", "IDYES", 1);
  auto installer = StartInstaller("GetInstallationDir 256");
  const std::string dialog =
      AutomationValue(AutomationAwaitOk(installer->pid(), "find - " + std::string(kDialogTitle)));
  ASSERT_FALSE(dialog.empty()) << "the installer showed no directory dialog";
  const std::string edit = AutomationValue(AutomationCommand(installer->pid(), "item " + dialog + " 100"));
  const std::string ok = AutomationValue(AutomationCommand(installer->pid(), "item " + dialog + " 1"));
  ASSERT_FALSE(edit.empty());
  ASSERT_FALSE(ok.empty());

  EXPECT_EQ(AutomationCommand(installer->pid(), "settext " + edit + " QX"), "ok");
  EXPECT_EQ(AutomationCommand(installer->pid(), "press " + ok), "ok");
  EXPECT_EQ(installer->ReadLine(10000),
            "[Install] Installation directory must be fully qualified, please re-enter directory");
  EXPECT_EQ(AutomationCommand(installer->pid(), "find - " + std::string(kDialogTitle)), "ok " + dialog);
  EXPECT_FALSE(fs::exists(Host("QX")));
  // A ';' would make the directory two entries of the search path, which
  // removal could never take out again.
  EXPECT_EQ(AutomationCommand(installer->pid(), "settext " + edit + " C:\\QX;OLD"), "ok");
  EXPECT_EQ(AutomationCommand(installer->pid(), "press " + ok), "ok");
  EXPECT_EQ(installer->ReadLine(10000),
            "[Install] The installation directory cannot hold \";\", which separates the entries of the search path; "
            "please enter another directory");
  EXPECT_FALSE(fs::exists(Host("QX;OLD")));

  EXPECT_EQ(AutomationCommand(installer->pid(), "settext " + edit + " C:\\SUITE\\NET\\QX"), "ok");
  EXPECT_EQ(AutomationCommand(installer->pid(), "press " + ok), "ok");
  const std::string out = ReadUntil(*installer, "GetInstallationDir returned");
  EXPECT_NE(out.find("[Install] Directory C:\\SUITE\\NET\\QX does not exists, do you want it created?"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("GetInstallationDir returned 15: C:\\SUITE\\NET\\QX"), std::string::npos) << out;
  EXPECT_EQ(installer->Wait(10000), 0);
  for (const char *dir : {"SUITE", "SUITE/NET", "SUITE/NET/QX", "SUITE/NET/QX/qx220", "SUITE/NET/QX/Utility"})
    EXPECT_TRUE(fs::is_directory(Host(dir))) << dir;
  EXPECT_EQ(Get(kEnvironment, "Path"), path + ";C:\\SUITE\\NET\\QX");
}

// An existing directory needs no question and still gets its two
// subdirectories; answering No to the question, or Cancel, creates nothing
// and answers "BAD".
TEST_F(InstallKit, DirectoryDialogExistingDirectoryAndCancel) {
  fs::create_directories(Host("HAVE"));
  setenv("QX_MSGBOX_ANSWER", "IDNO", 1);
  auto installer = StartInstaller("GetInstallationDir");
  const std::string dialog =
      AutomationValue(AutomationAwaitOk(installer->pid(), "find - " + std::string(kDialogTitle)));
  ASSERT_FALSE(dialog.empty());
  const std::string edit = AutomationValue(AutomationCommand(installer->pid(), "item " + dialog + " 100"));
  const std::string ok = AutomationValue(AutomationCommand(installer->pid(), "item " + dialog + " 1"));
  EXPECT_EQ(AutomationCommand(installer->pid(), "settext " + edit + " C:\\NEW"), "ok");
  EXPECT_EQ(AutomationCommand(installer->pid(), "press " + ok), "ok");
  EXPECT_EQ(installer->ReadLine(10000), "[Install] Directory C:\\NEW does not exists, do you want it created?");
  EXPECT_EQ(AutomationCommand(installer->pid(), "find - " + std::string(kDialogTitle)), "ok " + dialog);
  EXPECT_FALSE(fs::exists(Host("NEW")));

  EXPECT_EQ(AutomationCommand(installer->pid(), "settext " + edit + " C:\\HAVE"), "ok");
  EXPECT_EQ(AutomationCommand(installer->pid(), "press " + ok), "ok");
  EXPECT_EQ(ReadUntil(*installer, "GetInstallationDir returned"), "GetInstallationDir returned 7: C:\\HAVE");
  EXPECT_TRUE(fs::is_directory(Host("HAVE/qx220")));
  EXPECT_TRUE(fs::is_directory(Host("HAVE/Utility")));
  EXPECT_EQ(Get(kEnvironment, "Path"), "C:\\HAVE");
  EXPECT_EQ(installer->Wait(10000), 0);

  auto cancelled = StartInstaller("GetInstallationDir");
  const std::string second =
      AutomationValue(AutomationAwaitOk(cancelled->pid(), "find - " + std::string(kDialogTitle)));
  ASSERT_FALSE(second.empty());
  const std::string cancel = AutomationValue(AutomationCommand(cancelled->pid(), "item " + second + " 2"));
  EXPECT_EQ(AutomationCommand(cancelled->pid(), "press " + cancel), "ok");
  EXPECT_EQ(ReadUntil(*cancelled, "GetInstallationDir returned"), "GetInstallationDir returned 3: BAD");
  EXPECT_EQ(cancelled->Wait(10000), 0);
}

// A directory stored by an earlier installation comes back without a dialog
// (from CurrentVersion, else from the older key), and the file copy asked
// for alongside is done when the call returns.
TEST_F(InstallKit, StoredDirectoryNeedsNoDialog) {
  struct Case {
    const char *key;
    const char *dir;
  } cases[] = {{kClientCurrent, "C:\\STORED"}, {kClient, "C:\\OLDER\\PLACE"}};
  ASSERT_TRUE(qxtest::WriteFile(Host("source.txt"), "copied beside the dialog"));
  for (const auto &c : cases) {
    Tool("qxreg", "delete 'HKLM\\SOFTWARE\\Corvane'");
    Set(c.key, "Installation Directory", "REG_SZ", c.dir);
    fs::remove(Host("copy.txt"));
    int status = 0;
    const std::string out = Install("GetInstallationDir 256 'C:\\source.txt' 'C:\\copy.txt'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "GetInstallationDir returned " + std::to_string(strlen(c.dir) + 1) + ": " + c.dir + "\n");
    EXPECT_EQ(ReadFile(Host("copy.txt")), "copied beside the dialog") << c.key;
  }
}

// The whole road: directory, install (services registered, the super-server
// running, settings written), its configuration dialog, the NFS client
// settings dialog setting up the NFS server, update (first without the NFS
// client's driver, then with it), the user's settings kept, removal; then the
// registry, the search path and the files are as before.
TEST_F(InstallKit, InstallUpdateRemoveLeavesTheMachineAsBefore) {
  SeedMachine();
  const std::string registry_before = RegistryListing();
  const std::string files_before = FileListing();
  ASSERT_NE(registry_before.find("LanmanWorkstation"), std::string::npos) << registry_before;

  setenv("QX_MSGBOX_ANSWER", "IDYES", 1);
  auto chooser = StartInstaller("GetInstallationDir");
  const std::string dialog = AutomationValue(AutomationAwaitOk(chooser->pid(), "find - " + std::string(kDialogTitle)));
  ASSERT_FALSE(dialog.empty());
  const std::string edit = AutomationValue(AutomationCommand(chooser->pid(), "item " + dialog + " 100"));
  const std::string ok = AutomationValue(AutomationCommand(chooser->pid(), "item " + dialog + " 1"));
  EXPECT_EQ(AutomationCommand(chooser->pid(), "settext " + edit + " C:\\QX"), "ok");
  EXPECT_EQ(AutomationCommand(chooser->pid(), "press " + ok), "ok");
  EXPECT_NE(ReadUntil(*chooser, "GetInstallationDir returned").find("returned 5: C:\\QX"), std::string::npos);
  EXPECT_EQ(Get(kEnvironment, "Path"), "C:\\WINDOWS;C:\\QXOTHER;C:\\QX");
  // The installation program puts the suite's files into the directory.
  CopySuiteFiles(true);

  int status = 0;
  std::string out = Install("FinishInstall 'C:\\QX'", &status);
  ASSERT_EQ(out, "FinishInstall returned 1, out text OK\n");
  EXPECT_NE(Tool("qxsc", "query QXNFS").find("TYPE               : 2"), std::string::npos)
      << Tool("qxsc", "query QXNFS");
  EXPECT_NE(Tool("qxsc", "query 'Q&Xportwarden'").find("RUNNING"), std::string::npos)
      << Tool("qxsc", "query 'Q&Xportwarden'");
  EXPECT_EQ(ProcessesOf("portwarden"), 1);
  // The optional unit file for systemd starts the same program.
  const std::string unit = ReadFile(root_ / "units/qx-qxportwarden.service");
  EXPECT_NE(unit.find("\nExecStart=\"" + Host("QX/portwarden") + "\"\n"), std::string::npos) << unit;
  const struct {
    const char *key, *name, *data;
  } written[] = {
      {kPrintProviders, "Order", "QXNFS Print Services\\0LanMan Print Services"},
      {kNetworkOrder, "ProviderOrder", "QXNFS,LanmanWorkstation"},
      {kClientService, "Group", "NetworkProvider"},
      {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\QXNFS\\NetWorkProvider", "Class", "0x3 (3)"},
      {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\QXNFS\\performance", "library", "clientcounters.dll"},
      {kClientCurrent, "Installation Directory", "C:\\QX"},
      {kClientCurrent, "Version", "V3.6"},
      {"HKLM\\SOFTWARE\\Corvane\\consoled\\CurrentVersion", "Welcome",
       "Corvane Software, Windows NT, Telnet Version 3.6 (%s)\\r\\n\\r\\n"},
  };
  for (const auto &w : written) EXPECT_EQ(Get(w.key, w.name), w.data) << w.key << " " << w.name;
  EXPECT_EQ(ReadFile(Host("QX/SHAREPANEL.CPL")), "the NFS server's applet");
  // The counters' names are loaded: the performance monitor reads them
  // through the client's counter library while the driver runs.
  EXPECT_EQ(Get(kClientService + std::string("\\performance"), "First Counter"), "0x2 (2)");
  EXPECT_EQ(Get("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", "Counter").substr(0, 27),
            "2\\0NFS Client\\04\\0RPC Calls");
  {
    qxtest::Child driver({BinDir() + "/qxnfsdev"});
    ASSERT_EQ(driver.ReadLine(10000), "ready");
    int perf_status = 0;
    const std::string counters = Tool("perfhost", "QXNFS", &perf_status);
    EXPECT_EQ(perf_status, 0) << counters;
    EXPECT_EQ(counters.rfind("collect 1 object 2:", 0), 0u) << counters;
  }

  // The super-server's configuration dialog: the installer waits until it closes.
  auto configuring = StartInstaller("ConfigurePortwarden");
  const std::vector<pid_t> service = PidsOf("portwarden");
  ASSERT_EQ(service.size(), 1u);
  const std::string control = AutomationValue(AutomationAwaitOk(service[0], "find - Portwarden Configuration", 20000));
  ASSERT_FALSE(control.empty()) << "control 128 never showed the super-server's dialog";
  EXPECT_EQ(configuring->Wait(300), -1) << "the installer did not wait for the dialog";
  const std::string close = AutomationValue(AutomationCommand(service[0], "item " + control + " 102"));
  EXPECT_EQ(AutomationCommand(service[0], "press " + close), "ok");
  EXPECT_EQ(configuring->ReadLine(20000), "ConfigurePortwarden returned 1, out text OK");
  EXPECT_EQ(configuring->Wait(10000), 0);

  // The NFS client settings dialog in install mode sets up the NFS server and
  // its applet as it opens (the system directory's applet kept as .old).
  auto settings = StartInstaller("Configure");
  const std::string client =
      AutomationValue(AutomationAwaitOk(settings->pid(), "find - Corvane Software NFS Client Configuration"));
  ASSERT_FALSE(client.empty()) << "Configure showed no settings dialog";
  const std::string save = AutomationValue(AutomationCommand(settings->pid(), "item " + client + " 130"));
  EXPECT_EQ(AutomationCommand(settings->pid(), "press " + save), "ok");
  EXPECT_NE(ReadUntil(*settings, "Configure returned").find("Configure returned 1, out text OK"), std::string::npos);
  EXPECT_EQ(settings->Wait(10000), 0);
  EXPECT_EQ(Get("HKLM\\SYSTEM\\CurrentControlSet\\Services\\QXNFSServer", "ImagePath"), "C:\\QX\\SHAREHOST.EXE");
  EXPECT_EQ(ReadFile(Host("WINDOWS/SYSTEM32/sharepanel.old")), "the NFS server's applet");
  EXPECT_EQ(ReadFile(Host("WINDOWS/SYSTEM32/sharepanel.cpl")), "the NFS server's applet");

  // The user's settings, then an update: without the driver "BAD", with it "OK".
  Set(kClientCurrent, "Max Reads", "REG_DWORD", "4");
  Tool("qxreg", "delete " + Quote(kClientService) + " DependOnService");
  fs::remove(Host("QX/SHAREPANEL.CPL"));
  EXPECT_EQ(Install("Update 'C:\\QX'"), "Update returned 1, out text BAD\n");
  EXPECT_EQ(Get(kClientService, "DependOnService"), "Afd\\0Mup");
  EXPECT_EQ(ReadFile(Host("QX/SHAREPANEL.CPL")), "the NFS server's applet");
  {
    qxtest::Child driver({BinDir() + "/qxnfsdev"});
    ASSERT_EQ(driver.ReadLine(10000), "ready");
    EXPECT_EQ(Install("Update 'C:\\QX'"), "Update returned 1, out text OK\n");
  }
  EXPECT_EQ(Install("FinishInstall 'C:\\QX'"), "FinishInstall returned 1, out text OK\n");
  EXPECT_EQ(Get(kClientCurrent, "Max Reads"), "0x4 (4)");

  out = Install("DeInstall 'C:\\QX'");
  EXPECT_EQ(out, "DeInstall returned 1, out text OK\n");
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ProcessesOf("portwarden") == 0; }, 10000));
  RemoveSuiteFiles();  // what the installation program copied
  EXPECT_TRUE(fs::is_empty(root_ / "units")) << "a unit file outlived the removal";
  EXPECT_EQ(Get(kEnvironment, "Path"), "C:\\WINDOWS;C:\\QXOTHER");
  EXPECT_EQ(RegistryListing(), registry_before);
  EXPECT_EQ(FileListing(), files_before);
}

// FinishInstall twice on a machine where the suite's provider is already in
// the network order in another case and the super-server's program is not
// in the directory: one print provider entry, QXNFS once and first, the
// counter names not loaded again (names removed behind its back stay
// removed), no super-server service; the old key's values move to
// CurrentVersion only when it has a "Description".
TEST_F(InstallKit, FinishInstallTwiceAndOldClientValues) {
  const std::string performance = kClientService + std::string("\\performance");
  for (bool description : {false, true}) {
    SCOPED_TRACE(description ? "old key with a Description" : "old key without a Description");
    Tool("qxreg", "delete 'HKLM\\SOFTWARE\\Corvane'");
    Tool("qxreg", "delete 'HKLM\\SOFTWARE\\Microsoft'");
    Tool("qxreg", "delete " + Quote(kClientService));
    Set(kNetworkOrder, "ProviderOrder", "REG_SZ", "LanmanWorkstation,QxNfs");
    Set(kClient, "Installation Directory", "REG_SZ", "C:\\EARLIER");
    Set(kClient, "NIS Domain", "REG_SZ", "example");
    std::string big_hex = "ab";  // a value over 8192 bytes
    for (int i = 1; i < 9000; ++i) big_hex += ",ab";
    Set(kClient, "Big", "REG_BINARY", big_hex);
    if (description) Set(kClient, "Description", "REG_SZ", "the NFS client");
    CopySuiteFiles(false);
    EXPECT_EQ(Install("FinishInstall 'C:\\QX'"), "FinishInstall returned 1, out text OK\n");
    EXPECT_EQ(Get(performance, "First Counter"), "0x2 (2)");
    Tool("qxreg", "delete " + Quote(performance) + " 'First Counter'");
    EXPECT_EQ(Install("FinishInstall 'C:\\QX'"), "FinishInstall returned 1, out text OK\n");
    EXPECT_EQ(Get(performance, "First Counter"), "(missing)") << "the counter names were loaded a second time";
    EXPECT_EQ(Get(kPrintProviders, "Order"), "QXNFS Print Services");
    EXPECT_EQ(Get(kNetworkOrder, "ProviderOrder"), "QXNFS,LanmanWorkstation");
    EXPECT_NE(Tool("qxsc", "query 'Q&Xportwarden'").find("does not exist"), std::string::npos)
        << Tool("qxsc", "query 'Q&Xportwarden'");
    EXPECT_EQ(Get(kClientCurrent, "Installation Directory"), "C:\\QX");
    std::string big_shown = "ab";  // as qxreg shows it
    for (int i = 1; i < 9000; ++i) big_shown += " ab";
    EXPECT_TRUE(Get(description ? kClientCurrent : kClient, "Big") == big_shown)
        << "a value over 8192 bytes was not kept whole";
    EXPECT_EQ(Get(description ? kClientCurrent : kClient, "NIS Domain"), "example");
    EXPECT_EQ(Get(description ? kClient : kClientCurrent, "NIS Domain"), "(missing)");
    EXPECT_EQ(Get(kClient, "Installation Directory"), description ? "(missing)" : "C:\\EARLIER");
  }
}

// A directory with a blank: the services' programs are registered quoted and
// still start, the counter names load from it, and the removal takes the
// directory off the search path with the entries around it kept.
TEST_F(InstallKit, DirectoryWithABlank) {
  Set(kEnvironment, "Path", "REG_EXPAND_SZ", "C:\\WINDOWS;C:\\Program Files\\QX;C:\\Program Files\\QXOTHER");
  CopySuiteFiles(true, "Program Files/QX");
  EXPECT_EQ(Install("FinishInstall 'C:\\Program Files\\QX'"), "FinishInstall returned 1, out text OK\n");
  EXPECT_EQ(Get("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Q&Xportwarden", "ImagePath"),
            "\"C:\\Program Files\\QX\\PORTWARDEN.EXE\"");
  EXPECT_NE(Tool("qxsc", "query 'Q&Xportwarden'").find("RUNNING"), std::string::npos)
      << Tool("qxsc", "query 'Q&Xportwarden'");
  EXPECT_EQ(Get(kClientService + std::string("\\performance"), "First Counter"), "0x2 (2)");
  EXPECT_EQ(Install("DeInstall 'C:\\Program Files\\QX'"), "DeInstall returned 1, out text OK\n");
  EXPECT_EQ(Get(kEnvironment, "Path"), "C:\\WINDOWS;C:\\Program Files\\QXOTHER");
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ProcessesOf("portwarden") == 0; }, 10000));
  RemoveSuiteFiles("Program Files/QX");
}

// A super-server that dies while its dialog is open never signals the
// dialog's end: the installer stops waiting with it instead of hanging.
TEST_F(InstallKit, ConfigurePortwardenEndsWhenTheServiceDies) {
  CopySuiteFiles(true);
  ASSERT_EQ(Install("FinishInstall 'C:\\QX'"), "FinishInstall returned 1, out text OK\n");
  auto configuring = StartInstaller("ConfigurePortwarden");
  const std::vector<pid_t> service = PidsOf("portwarden");
  ASSERT_EQ(service.size(), 1u);
  ASSERT_FALSE(AutomationValue(AutomationAwaitOk(service[0], "find - Portwarden Configuration", 20000)).empty());
  kill(service[0], SIGKILL);
  EXPECT_EQ(configuring->ReadLine(15000), "ConfigurePortwarden returned 1, out text OK");
  EXPECT_EQ(configuring->Wait(10000), 0);
  EXPECT_EQ(Install("DeInstall 'C:\\QX'"), "DeInstall returned 1, out text OK\n");
}

// A machine whose service manager cannot be reached (its registry damaged):
// the steps say so and stop with 0 and "BAD".
TEST_F(InstallKit, StepsStopWhenTheServiceManagerCannotBeReached) {
  fs::create_directories(root_ / "machine/registry");
  std::string garbage(8192, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  ASSERT_TRUE(qxtest::WriteFile(root_ / "machine/registry/machine.db", garbage));
  for (const char *step : {"FinishInstall", "DeInstall"})
    EXPECT_EQ(Install(std::string(step) + " 'C:\\QX'"), "[QXNFS Client Install] Unable to Open Service Manager\n" +
                                                            std::string(step) + " returned 0, out text BAD\n");
}

// The settings dialog run in install mode a second time keeps the applet the
// system directory had before the suite as "sharepanel.old", which removal
// puts back; the suite's own copy never takes its place.
TEST_F(InstallKit, InstallModeTwiceKeepsTheAppletFromBefore) {
  ASSERT_TRUE(qxtest::WriteFile(Host("WINDOWS/SYSTEM32/sharepanel.cpl"), "the applet from before"));
  fs::create_directories(Host("QX"));
  ASSERT_TRUE(qxtest::WriteFile(Host("QX/SHAREPANEL.CPL"), "the suite's applet"));
  Set(kClientCurrent, "Installation Directory", "REG_SZ", "C:\\QX");
  for (int run = 1; run <= 2; ++run) {
    auto settings = StartInstaller("Configure");
    const std::string client =
        AutomationValue(AutomationAwaitOk(settings->pid(), "find - Corvane Software NFS Client Configuration"));
    ASSERT_FALSE(client.empty()) << "run " << run << ": Configure showed no settings dialog";
    const std::string save = AutomationValue(AutomationCommand(settings->pid(), "item " + client + " 130"));
    EXPECT_EQ(AutomationCommand(settings->pid(), "press " + save), "ok");
    EXPECT_NE(ReadUntil(*settings, "Configure returned").find("out text OK"), std::string::npos) << "run " << run;
    EXPECT_EQ(settings->Wait(10000), 0);
    EXPECT_EQ(ReadFile(Host("WINDOWS/SYSTEM32/sharepanel.old")), "the applet from before") << "run " << run;
    EXPECT_EQ(ReadFile(Host("WINDOWS/SYSTEM32/sharepanel.cpl")), "the suite's applet") << "run " << run;
  }
}

// In install mode Cancel is greyed: settings that cannot be saved end the
// dialog with the message and "BAD" instead of keeping the installer in a
// dialog nothing can close.
TEST_F(InstallKit, InstallModeSettingsThatCannotBeSavedEndTheDialog) {
  fs::create_directories(root_ / "machine/registry");
  std::string garbage(8192, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  ASSERT_TRUE(qxtest::WriteFile(root_ / "machine/registry/machine.db", garbage));
  auto settings = StartInstaller("Configure");
  const std::string client =
      AutomationValue(AutomationAwaitOk(settings->pid(), "find - Corvane Software NFS Client Configuration"));
  ASSERT_FALSE(client.empty()) << "Configure showed no settings dialog";
  const std::string save = AutomationValue(AutomationCommand(settings->pid(), "item " + client + " 130"));
  EXPECT_EQ(AutomationCommand(settings->pid(), "press " + save), "ok");
  const std::string out = ReadUntil(*settings, "Configure returned");
  EXPECT_NE(out.find("The settings could not be saved"), std::string::npos) << out;
  EXPECT_NE(out.find("Configure returned 1, out text BAD"), std::string::npos) << out;
  EXPECT_EQ(settings->Wait(10000), 0);
}

// Without the super-server's service the request fails at once, waiting for
// nothing.
TEST_F(InstallKit, ConfigurePortwardenWithoutServiceFailsAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Install("ConfigurePortwarden"), "ConfigurePortwarden returned 1, out text BAD\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
