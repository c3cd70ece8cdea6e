// The identity-map applet in cplhost, driven through automation on the
// headless display while sharehost runs in the test's own network namespace:
// mappings added, changed and removed in the dialog reach the registry, and
// the service shows them (GETATTR's owner and group) once Save has sent it
// control 129.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "nfs_client.h"
#include "qxtest/automation.h"
#include "service_harness.h"

using nfstest::Handle;
using nfstest::NfsClient;
using qxtest::AutomationCommand;

namespace {

constexpr uint32_t kNobody = 65534, kNogroup = 65534;

std::string Value(const std::string &answer) { return answer.rfind("ok ", 0) == 0 ? answer.substr(3) : ""; }

// One run of cplhost with the applet's dialog up.
class Panel {
 public:
  Panel() {
    pid_ = fork();
    if (pid_ == 0) {
      std::string host = qxtest::BinDir() + "/cplhost";
      execl(host.c_str(), host.c_str(), "sharepanel.DLL", (char *)nullptr);
      _exit(127);
    }
    qxtest::WaitUntil([&] { return !(dialog_ = Value(AutomationCommand(pid_, "find #32770 Name Mappings"))).empty(); },
                      15000);
  }
  ~Panel() {
    if (pid_ > 0) qxtest::StopProcess(pid_);
  }
  bool up() const { return !dialog_.empty(); }
  std::string Item(int id) { return Value(AutomationCommand(pid_, "item " + dialog_ + " " + std::to_string(id))); }
  void Type(int id, const std::string &text) {
    ASSERT_EQ(AutomationCommand(pid_, "settext " + Item(id) + " " + text), "ok") << id;
  }
  void Press(int id) { ASSERT_EQ(AutomationCommand(pid_, "press " + Item(id)), "ok") << "button " << id; }
  void Select(int list, int index) {
    ASSERT_EQ(AutomationCommand(pid_, "select " + Item(list) + " " + std::to_string(index)), "ok");
  }
  std::string Text(int id) { return Value(AutomationCommand(pid_, "text " + Item(id))); }
  // A list's lines with their tabs made into one blank ("nobody 777").
  std::vector<std::string> Lines(int list) {
    std::vector<std::string> lines;
    for (const std::string &line : qxtest::AutomationItems(pid_, Item(list))) {
      std::string squeezed;
      for (char c : line)
        if (c != '\t' || squeezed.empty() || squeezed.back() != ' ') squeezed += c == '\t' ? ' ' : c;
      lines.push_back(squeezed);
    }
    return lines;
  }
  // Save (or Close) ends the dialog and the host.
  bool PressAndWaitExit(int id) {
    Press(id);
    int status = -1;
    bool ended = qxtest::WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 15000);
    if (ended) pid_ = -1;
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  pid_t pid_ = -1;
  std::string dialog_;
};

class SharePanel : public nfstest::ServiceTest {
 protected:
  Handle file_;

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "files owned by nobody and the service's reload need root (CI runs as root)";
    nfstest::ServiceTest::SetUp();
    setenv("QX_DISPLAY", "headless", 1);
    unsetenv("DISPLAY");
    unsetenv("QX_AUTOMATION");
    std::filesystem::create_directories(Host("d/ex"));
    qxtest::WriteFile(Host("d/ex/owned"), "x");
    ASSERT_EQ(chown(Host("d/ex/owned").c_str(), kNobody, kNogroup), 0);
    WriteExports("d:\\ex\n");
    Start();
    NfsClient c(0, 0);
    Handle root = c.Mount("/d/ex");
    ASSERT_EQ(root.size(), 32u);
    ASSERT_EQ(c.Lookup(root, "owned", &file_), 0u);
  }

  // Waits until GETATTR shows this owner and group.
  bool ServerShows(uint32_t uid, uint32_t gid) {
    NfsClient c(0, 0);
    fattr2 a{};
    return qxtest::WaitUntil([&] { return c.Getattr(file_, &a) == 0 && a.uid == uid && a.gid == gid; }, 15000);
  }
};

TEST_F(SharePanel, AddChangeAndRemoveReachTheRunningServer) {
  ASSERT_TRUE(ServerShows(kNobody, kNogroup)) << "unmapped accounts show their own ids";
  {
    Panel panel;
    ASSERT_TRUE(panel.up()) << "the Name Mappings dialog did not come up";
    panel.Type(101, "nobody");
    panel.Type(102, "777");
    panel.Press(104);
    EXPECT_EQ(panel.Lines(105), std::vector<std::string>{"nobody 777"});
    EXPECT_EQ(panel.Text(101), "") << "Add empties the edits";
    panel.Type(106, "nogroup");
    panel.Type(107, "888");
    panel.Press(108);
    panel.Type(111, "nobody");

    // Refusals leave the lists as they are.
    struct Refused {
      const char *name, *id;
    } refused[] = {{"", "5"},       {"qxnosuchaccount", "5"}, {"root", "-1"},  {"root", "12x"},
                   {"root", "777"}, {"nobody", "5"},          {"nogroup", "6"}};
    for (const Refused &r : refused) {
      panel.Type(101, r.name);
      panel.Type(102, r.id);
      panel.Press(104);
      EXPECT_EQ(panel.Lines(105).size(), 1u) << r.name << " " << r.id;
    }
    ASSERT_TRUE(panel.PressAndWaitExit(1)) << "Save did not end the applet";
  }
  std::string stored = Qxreg("query 'HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion\\UidMapping'");
  EXPECT_NE(stored.find("Guest-nobody"), std::string::npos) << stored;
  EXPECT_TRUE(ServerShows(777, 888)) << "control 129 did not bring the new maps in";

  // Change: Remove puts the mapping back into the edits; a new id and Add.
  {
    Panel panel;
    ASSERT_TRUE(panel.up());
    EXPECT_EQ(panel.Lines(105), std::vector<std::string>{"nobody 777"});
    EXPECT_EQ(panel.Lines(110), std::vector<std::string>{"nogroup 888"});
    EXPECT_EQ(panel.Text(111), "nobody") << "the default account comes back without its prefix";
    panel.Select(105, 0);
    panel.Press(103);
    EXPECT_EQ(panel.Text(101), "nobody");
    EXPECT_EQ(panel.Text(102), "777");
    panel.Type(102, "778");
    panel.Press(104);
    ASSERT_TRUE(panel.PressAndWaitExit(1));
  }
  EXPECT_TRUE(ServerShows(778, 888));

  // Remove both and the default account.
  {
    Panel panel;
    ASSERT_TRUE(panel.up());
    panel.Press(103);  // nothing selected: refused
    EXPECT_EQ(panel.Lines(105).size(), 1u);
    panel.Select(105, 0);
    panel.Press(103);
    panel.Select(110, 0);
    panel.Press(109);
    panel.Type(111, "");
    ASSERT_TRUE(panel.PressAndWaitExit(1));
  }
  stored = Qxreg("query 'HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion\\UidMapping'");
  EXPECT_EQ(stored.find("Guest-"), std::string::npos) << stored;
  EXPECT_TRUE(ServerShows(kNobody, kNogroup));
}

TEST_F(SharePanel, CloseLeavesTheMapsAlone) {
  Panel panel;
  ASSERT_TRUE(panel.up());
  panel.Type(101, "nobody");
  panel.Type(102, "901");
  panel.Press(104);
  ASSERT_TRUE(panel.PressAndWaitExit(2));
  EXPECT_TRUE(ServerShows(kNobody, kNogroup));
}

}  // namespace
