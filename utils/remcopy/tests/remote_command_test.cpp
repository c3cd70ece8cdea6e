// runfar and shellfar against Debian's rexec and rsh servers in a namespace
// of the test's own (service_world.h), driven through qxauto.
#include <cstdlib>
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"
#include "service_world.h"

namespace {

using rshtest::kPassword;
using rshtest::ServiceWorld;
using utiltest::DrivenProgram;

const auto *g_env = ::testing::AddGlobalTestEnvironment(new ServiceWorld);
// One remote command program and its dialog.
class Runfar : public DrivenProgram {
 public:
  explicit Runfar(bool exec)
      : DrivenProgram(exec ? "runfar" : "shellfar", exec ? "QXRUNFAR" : "QXSHELLFAR", exec ? "QXRUNFAR" : "QXSHELLFAR"),
        exec_(exec) {
    dialog_ = AwaitDialog(exec ? "Remote Execution" : "Remote Shell");
  }
  std::string Item(int id) {
    std::string &h = items_[id];
    if (h.empty()) h = Auto("item " + dialog_ + " " + std::to_string(id));
    return h;
  }
  void Execute(const std::string &command, const std::string &user = "root", const std::string &password = kPassword,
               const std::string &host = "127.0.0.1") {
    ASSERT_FALSE(dialog_.empty()) << Errors();
    std::vector<std::pair<int, std::string>> fields = {{100, host}, {101, user}, {102, command}};
    if (exec_) fields.push_back({104, password});
    for (const auto &[id, text] : fields) EXPECT_EQ(Auto("settext " + Item(id) + " " + text), "ok") << id;
    EXPECT_EQ(Auto("press " + Item(1)), "ok");
  }
  // The list's lines, joined by LF.
  std::string Output() {
    const std::string items = Auto("items " + Item(103));
    return items == "ok" ? "" : items;
  }
  // The output once the run ended (the button says Execute again) with
  // this last line.
  std::string AwaitOutput(const std::string &last, int ms = 60000) {
    std::string out;
    qxtest::WaitUntil(
        [&] {
          if (Auto("text " + Item(1)) != "&Execute") return false;
          out = Output();
          const std::string tail = "\n" + last;
          return out == last ||
                 (out.size() >= tail.size() && out.compare(out.size() - tail.size(), tail.size(), tail) == 0);
        },
        ms);
    return out;
  }
  bool exec_;
  std::string dialog_;
  std::map<int, std::string> items_;
};

}  // namespace

TEST(RemoteCommandTest, OutputThenErrorsAndLongLines) {
  for (const bool exec : {false, true}) {
    SCOPED_TRACE(exec ? "runfar" : "shellfar");
    Runfar run(exec);
    // Standard output first, then the error stream; tabs kept, CR dropped.
    run.Execute("printf 'out\\tone\\r\\n'; echo err >&2; echo out2");
    EXPECT_EQ(run.AwaitOutput("err"), "out\tone\nout2\nerr");
    EXPECT_EQ(run.Auto("text " + run.dialog_),
              std::string(exec ? "QXRUNFAR" : "QXSHELLFAR") + " - printf 'out\\tone\\r\\n'; echo err >&2; echo out2");
    if (exec) {
      // 300 KB on the error stream before standard output closes: the run
      // ends, the error lines come after "done", split at 1023 characters.
      run.Execute("head -c 300000 /dev/zero | tr -c x x >&2; echo done");
      const std::string out = run.AwaitOutput(std::string(300000 % 1023, 'x'), 60000);
      ASSERT_EQ(out.rfind("done\n" + std::string(1023, 'x') + "\n", 0), 0u) << out.substr(0, 200);
      EXPECT_EQ(out.size(), std::string("done").size() + 300000 + 300000 / 1023 + 1);
    }
    EXPECT_EQ(run.Errors(), "");
    run.Auto("press " + run.Item(2));
    EXPECT_EQ(run.WaitExit(10000), 0);
  }
}

TEST(RemoteCommandTest, SendsInputAndCloseEndsARun) {
  Runfar run(false);
  run.Execute("cat");
  ASSERT_TRUE(qxtest::WaitUntil([&] { return run.Auto("text " + run.Item(1)) == "&Send"; }, 20000)) << run.Errors();
  EXPECT_EQ(run.Auto("settext " + run.Item(102) + " hello there"), "ok");
  EXPECT_EQ(run.Auto("press " + run.Item(1)), "ok");
  EXPECT_TRUE(qxtest::WaitUntil([&] { return run.Output() == "hello there"; }, 20000)) << run.Output();
  // Close while the command runs: the connections close and the program ends.
  EXPECT_EQ(run.Auto("press " + run.Item(2)), "ok");
  EXPECT_EQ(run.WaitExit(20000), 0) << run.Errors();
}

TEST(RemoteCommandTest, RefusalsAreShown) {
  {
    Runfar run(true);
    run.Execute("echo never", "root", "wrong-password");
    EXPECT_TRUE(
        qxtest::WaitUntil([&] { return run.Errors().find("Error sending command") != std::string::npos; }, 20000));
    EXPECT_NE(run.Errors().find("[QXRUNFAR]"), std::string::npos) << run.Errors();
    EXPECT_EQ(run.Output(), "");
    run.Auto("press " + run.Item(2));
    EXPECT_EQ(run.WaitExit(10000), 0);
  }
  {
    // A local user root's .rhosts does not trust: the shell service says so.
    setenv("USERNAME", "stranger", 1);
    Runfar run(false);
    setenv("USERNAME", "root", 1);
    run.Execute("echo never");
    EXPECT_TRUE(qxtest::WaitUntil(
        [&] {
          return run.Errors().find("Authentication failure") != std::string::npos ||
                 run.Output().find("Authentication failure") != std::string::npos;
        },
        20000))
        << run.Errors() << run.Output();
    EXPECT_EQ(run.Output().find("never"), std::string::npos);
    run.Auto("press " + run.Item(2));
    EXPECT_EQ(run.WaitExit(10000), 0);
  }
  {
    // No service on the port: the connection's own box, then "Connect Error".
    Runfar run(true);
    run.Execute("echo x", "root", kPassword, "127.0.0.2");
    EXPECT_TRUE(
        qxtest::WaitUntil([&] { return run.Errors().find("[QXRUNFAR] Connect Error") != std::string::npos; }, 20000))
        << run.Errors();
  }
}
