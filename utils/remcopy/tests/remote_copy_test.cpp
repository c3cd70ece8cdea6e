// remcopyx and remcopys against Debian's rexec and rsh servers in a
// namespace of the test's own (service_world.h), driven through qxauto.
#include <filesystem>
#include <random>
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

namespace fs = std::filesystem;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char &c : bytes) c = static_cast<char>(rng());
  return bytes;
}

// One remote copy program and its dialog. Item handles are looked up once
// and fields set only when they change.
class Remcopy : public DrivenProgram {
 public:
  explicit Remcopy(bool exec)
      : DrivenProgram(exec ? "remcopyx" : "remcopys", exec ? "QXREMCOPYX" : "QXREMCOPYS",
                      exec ? "QXREMCOPYX" : "QXREMCOPYS"),
        exec_(exec) {
    dialog_ = AwaitDialog(exec ? "Remote Copy via Runfar" : "Remote Copy via SHELLFAR");
  }
  std::string Item(int id) {
    std::string &h = items_[id];
    if (h.empty()) h = Auto("item " + dialog_ + " " + std::to_string(id));
    return h;
  }
  void Set(int id, const std::string &text) {
    if (shown_[id] == text) return;
    EXPECT_EQ(Auto("settext " + Item(id) + " " + text), "ok") << id;
    shown_[id] = text;
  }
  // Copies (button 1 to the remote host, 110 from it) and waits for "Done".
  void Copy(int button, const std::string &local, const std::string &remote, const std::string &password = kPassword) {
    ASSERT_FALSE(dialog_.empty()) << Errors();
    Set(100, "127.0.0.1");
    Set(101, "root");
    Set(106, local);
    Set(107, remote);
    if (exec_) Set(104, password);
    EXPECT_EQ(Auto("press " + Item(button)), "ok");
    ASSERT_TRUE(qxtest::WaitUntil([&] { return Auto("text " + Item(105)) == "Done"; }, 30000))
        << Auto("text " + Item(105)) << "\n"
        << Errors();
  }
  int Exit() {
    Auto("press " + Item(2));
    return WaitExit(10000);
  }

 private:
  bool exec_;
  std::string dialog_;
  std::map<int, std::string> items_, shown_;
};

TEST(RemoteCopyTest, CopiesBothWaysByteForByte) {
  const std::string local = utiltest::WorldDir() + "/work";
  const std::string remote = ServiceWorld::Home();
  for (const bool exec : {false, true}) {
    Remcopy copy(exec);
    for (const size_t size : {exec ? size_t{300000} : size_t{1} << 20, size_t{0}}) {
      SCOPED_TRACE(std::string(exec ? "exec " : "shell ") + std::to_string(size));
      const std::string bytes = RandomBytes(size, static_cast<unsigned>(size + exec));
      const std::string name = "file-" + std::to_string(size) + (exec ? "x" : "s");
      qxtest::WriteFile(local + "/" + name, bytes);
      copy.Copy(1, local + "/" + name, remote + "/" + name + ".there");
      EXPECT_EQ(qxtest::ReadFile(remote + "/" + name + ".there"), bytes) << copy.Errors();
      copy.Copy(110, local + "/" + name + ".back", remote + "/" + name + ".there");
      EXPECT_EQ(qxtest::ReadFile(local + "/" + name + ".back"), bytes) << copy.Errors();
    }
    EXPECT_EQ(copy.Errors(), "");
    EXPECT_EQ(copy.Exit(), 0);
  }
  // The host used joined the recent list.
  EXPECT_NE(qxtest::ReadFile(local + "/QXAPPS.INI").find("FILE_0=127.0.0.1"), std::string::npos);
}

TEST(RemoteCopyTest, RefusalsLeaveTheLocalFileAlone) {
  const std::string local = utiltest::WorldDir() + "/work/kept.txt";
  qxtest::WriteFile(local, "precious\n");
  {
    // A remote file that is not there: the remote rcp says so; nothing is
    // written over the local file and no temporary file stays.
    Remcopy copy(false);
    copy.Copy(110, local, ServiceWorld::Home() + "/no-such-file");
    EXPECT_NE(copy.Errors().find("[RCP Error]"), std::string::npos) << copy.Errors();
    EXPECT_NE(copy.Errors().find("no-such-file"), std::string::npos) << copy.Errors();
    EXPECT_EQ(copy.Exit(), 0);
  }
  {
    // A wrong password: the exec service closes without running the command.
    Remcopy copy(true);
    copy.Copy(110, local, ServiceWorld::Home() + "/no-such-file", "wrong-password");
    EXPECT_NE(copy.Errors().find("Error sending command"), std::string::npos) << copy.Errors();
    EXPECT_NE(copy.Errors().find("refused the user name or password"), std::string::npos) << copy.Errors();
    EXPECT_EQ(copy.Exit(), 0);
  }
  EXPECT_EQ(qxtest::ReadFile(local), "precious\n");
  for (const auto &entry : fs::directory_iterator(utiltest::WorldDir() + "/work"))
    EXPECT_EQ(entry.path().filename().string().rfind("rcp", 0), std::string::npos) << entry.path();
}

}  // namespace
