// sharehost's information window and its exports and open-files dialogs, as
// an administrator brings them up with control 128 of the running service,
// driven through the layer's automation on the headless display; each window
// is kept as a golden picture. The rate and scroll arithmetic as tables.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "qx/gdi.h"
#include "qxtest/automation.h"
#include "qxtest/drawing.h"
#include "qxtest/support.h"
#include "rpc_call_builder.h"
#include "service_harness.h"
#include "window/counters.h"

using qxtest::AutomationCommand;

namespace {

TEST(InfoWindowArithmetic, OpsPerSecondIsExactOverAnyInterval) {
  struct Case {
    uint32_t ops;
    DWORD ms;
    uint32_t rate;
  } cases[] = {
      {60, 600, 100},  // under a second: not rounded to ops x 1
      {500, 1000, 500}, {30, 10000, 3}, {7, 0, 0}, {4000000000u, 1000, 4000000000u},  // no overflow on the way
      {5, 3000, 1},
  };
  for (const Case &c : cases) EXPECT_EQ(srvwin::OpsPerSecond(c.ops, c.ms), c.rate) << c.ops << " in " << c.ms;
}

TEST(InfoWindowArithmetic, SettingsStayInTheirRangesWhateverCodeArrives) {
  struct Case {
    UINT value;
    int code, thumb;
    UINT refresh, priority;  // Refresh: 1 a line, 8 a page, 1..64; Priority: 10 either, 0..100
  } cases[] = {
      {10, SB_LINEUP, 0, 11, 20},      {64, SB_LINEUP, 0, 64, 74},
      {1, SB_LINEDOWN, 0, 1, 0},       {60, SB_PAGEUP, 0, 64, 70},
      {5, SB_PAGEDOWN, 0, 1, 0},       {10, SB_THUMBPOSITION, 40, 40, 40},
      {10, SB_THUMBTRACK, 99, 64, 99}, {10, SB_THUMBTRACK, -5, 1, 0},
      {10, SB_ENDSCROLL, 50, 10, 10},  {10, 7, 50, 10, 10},
      {95, SB_LINEUP, 0, 64, 100},     {100, SB_PAGEUP, 0, 64, 100},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(srvwin::ScrolledValue(c.value, c.code, c.thumb, 1, 8, 1, 64), c.refresh) << c.value << " code " << c.code;
    EXPECT_EQ(srvwin::ScrolledValue(c.value, c.code, c.thumb, 10, 10, 0, 100), c.priority)
        << c.value << " code " << c.code;
  }
}

std::string Handle(const std::string &answer) { return answer.rfind("ok ", 0) == 0 ? answer.substr(3) : ""; }

class InfoWindow : public nfstest::ServiceTest {
 protected:
  int pid_ = -1;

  void SetUp() override {
    nfstest::ServiceTest::SetUp();
    setenv("QX_DISPLAY", "headless", 1);
    unsetenv("DISPLAY");
    unsetenv("QX_AUTOMATION");
    for (const char *d : {"d/ex/pub", "d/ex/ro", "d/ex/acc"}) std::filesystem::create_directories(dir_ + "/" + d);
    WriteExports("d:\\ex\\pub\nd:\\ex\\ro -ro\nd:\\ex\\acc -access=[127.0.0.7]:beta[127.0.0.6]\n");
  }

  // NULL calls to the NFS port; each answered.
  void NullCalls(int count) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    timeval tv{2, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(2049);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
      std::string call = rpctest::CallBuilder::Call(uint32_t(7000 + i), 100003, 2, 0).AuthNull().bytes;
      sendto(s, call.data(), call.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
      char reply[256];
      EXPECT_GT(recv(s, reply, sizeof reply, 0), 0) << "NULL call " << i << " unanswered";
    }
    close(s);
  }

  // The service's process: the one listening for automation in the runtime directory.
  int ServicePid() {
    for (const auto &e : std::filesystem::directory_iterator(dir_ + "/run")) {
      std::string name = e.path().filename();
      if (name.rfind("auto-", 0) == 0 && name.size() > 10) return atoi(name.c_str() + 5);
    }
    return -1;
  }

  // Control 128, then the window of that title, once the service shows it.
  std::string ShowInfo() {
    int status = 0;
    std::string out = Qxsc("control QXNFSServer 128", &status);
    EXPECT_EQ(status, 0) << out;
    return Find("Q&X NFS-Server");
  }
  std::string Find(const std::string &title) {
    std::string window;
    qxtest::WaitUntil(
        [&] {
          if (pid_ < 0) pid_ = ServicePid();
          return pid_ > 0 && !(window = Handle(AutomationCommand(pid_, "find #32770 " + title))).empty();
        },
        10000);
    return window;
  }
  std::string Item(const std::string &dialog, int id) {
    return Handle(AutomationCommand(pid_, "item " + dialog + " " + std::to_string(id)));
  }
  std::string ItemText(const std::string &dialog, int id) {
    return Handle(AutomationCommand(pid_, "text " + Item(dialog, id)));
  }
  bool Visible(const std::string &window) {
    return AutomationCommand(pid_, "state " + window).find("visible=1") != std::string::npos;
  }
  std::vector<std::string> ListLines(const std::string &dialog) {
    std::string answer = AutomationCommand(pid_, "items " + Item(dialog, 101));
    std::vector<std::string> lines;
    size_t at = answer.find('\n');
    while (at != std::string::npos) {
      size_t end = answer.find('\n', at + 1);
      lines.push_back(answer.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
      at = end;
    }
    return lines;
  }
  void Press(const std::string &dialog, int id) {
    ASSERT_EQ(AutomationCommand(pid_, "press " + Item(dialog, id)), "ok") << "button " << id;
  }
  // The window as the service draws it, once its painting has settled (two
  // pictures in a row alike), against its golden picture.
  void ExpectLooksLike(const std::string &window, const std::string &golden) {
    std::string png = dir_ + "/" + golden + ".png", before;
    ASSERT_TRUE(qxtest::WaitUntil(
        [&] {
          usleep(100000);
          if (AutomationCommand(pid_, "png " + window + " " + png) != "ok") return false;
          std::string now = qxtest::ReadFile(png);
          bool settled = !now.empty() && now == before;
          before = now;
          return settled;
        },
        5000))
        << "the window kept changing";
    qx::gdi::Surface shot;
    ASSERT_TRUE(qx::gdi::ReadPng(png, shot));
    EXPECT_EQ(qx::test::CompareGoldenIn(shot, qxtest::SourceDir() + "/nfs/sharehost/tests/golden", golden), "");
  }
};

TEST_F(InfoWindow, CountsRequestsAndSetsRefreshAndPriority) {
  Start();
  NullCalls(3);
  std::string info = ShowInfo();
  ASSERT_FALSE(info.empty()) << "no information window after control 128";
  EXPECT_EQ(ItemText(info, 100), "3");    // Null:
  EXPECT_EQ(ItemText(info, 126), "10");   // Refresh, seconds
  EXPECT_EQ(ItemText(info, 127), "100");  // Priority
  EXPECT_EQ(ItemText(info, 200), "");     // no rate before a second redraw

  NullCalls(2);
  Press(info, 300);  // Refresh
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ItemText(info, 100) == "5"; }, 5000)) << ItemText(info, 100);
  EXPECT_NE(ItemText(info, 200), "");

  // Refresh 10 -> 18 (a page up) -> 17 (a line down); Priority 100 -> 90.
  std::string refresh = Item(info, 250), priority = Item(info, 251);
  ASSERT_EQ(AutomationCommand(pid_, "scroll " + refresh + " h 2"), "ok");
  ASSERT_EQ(AutomationCommand(pid_, "scroll " + refresh + " h 1"), "ok");
  ASSERT_EQ(AutomationCommand(pid_, "scroll " + priority + " h 3"), "ok");
  EXPECT_EQ(ItemText(info, 126), "17");
  EXPECT_EQ(ItemText(info, 127), "90");

  // The Close button hides the window; control 128 brings back the same one.
  Press(info, IDCANCEL);
  EXPECT_TRUE(qxtest::WaitUntil([&] { return !Visible(info); }, 5000));
  EXPECT_EQ(ShowInfo(), info);
  EXPECT_TRUE(Visible(info));
  ASSERT_EQ(AutomationCommand(pid_, "list").find("Q&X NFS-Server"),
            AutomationCommand(pid_, "list").rfind("Q&X NFS-Server"))
      << "a second information window";

  // At stop the settings are kept with the window's place.
  int status = 0;
  Qxsc("stop QXNFSServer", &status);
  EXPECT_EQ(status, 0);
  std::string ini = qxtest::ReadFile(Host("windows/QXAPPS.INI"));
  EXPECT_NE(ini.find("Refresh=17"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Priority=90"), std::string::npos) << ini;
  EXPECT_NE(ini.find("InitX="), std::string::npos) << ini;
}

TEST_F(InfoWindow, ListsExportsReloadsThemAndShowsOpenFiles) {
  Start();
  std::string info = ShowInfo();
  ASSERT_FALSE(info.empty());
  // Two more redraws with nothing served between them: the rate reads 0 in the picture.
  Press(info, 300);
  usleep(20000);
  Press(info, 300);
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ItemText(info, 200) == "0"; }, 5000));
  ExpectLooksLike(info, "info");

  Press(info, 301);  // Exports
  std::string exports = Find("Currently Exported Directories");
  ASSERT_FALSE(exports.empty());
  EXPECT_EQ(ListLines(exports), (std::vector<std::string>{"d:\\ex\\pub\t(everyone)", "d:\\ex\\ro\t-ro",
                                                          "d:\\ex\\acc\t-access=beta[127.0.0.6]:[127.0.0.7]"}));
  ExpectLooksLike(exports, "exports");

  WriteExports("d:\\ex\\ro -ro\n");
  Press(exports, 102);  // Reload
  EXPECT_TRUE(
      qxtest::WaitUntil([&] { return ListLines(exports) == std::vector<std::string>{"d:\\ex\\ro\t-ro"}; }, 5000));
  // A reload that finds no file keeps the table it had.
  std::filesystem::remove(Host("windows/exports"));
  Press(exports, 102);
  EXPECT_EQ(ListLines(exports), std::vector<std::string>{"d:\\ex\\ro\t-ro"});

  Press(info, 302);  // Files
  std::string files = Find("Currently Open Files");
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(ListLines(files), std::vector<std::string>{});
  ExpectLooksLike(files, "files");

  // Closing a list destroys it; the information window stays.
  Press(exports, IDCANCEL);
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] { return Handle(AutomationCommand(pid_, "find #32770 Currently Exported Directories")).empty(); }, 5000));
  EXPECT_TRUE(Visible(info));
}

}  // namespace
