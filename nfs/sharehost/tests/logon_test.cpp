// Logon of UNIX users through PAM: real local accounts made by the test, a
// PAM service of its own (pam_unix for authentication and account checks),
// and the statuses a PCNFSD request gets back.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "logon.h"
#include "nfs_test_env.h"
#include "qxtest/netns.h"

namespace {

const nfstest::Machine &g_machine = nfstest::TheMachine();

constexpr char kService[] = "qxlogon-sharehost-test";
constexpr char kGood[] = "qxlogonok", kExpired[] = "qxlogonexp", kPassword[] = "Right-pw1";

int Shell(const std::string &command) { return system((command + " >/dev/null 2>&1").c_str()); }

class Logon : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) return;
    // The accounts and the PAM service go into an /etc of the program's own:
    // other tests meanwhile read, or mount over, the real account files.
    ASSERT_EQ(qxtest::OverlayOwnEtc(), "");
    std::ofstream(std::string("/etc/pam.d/") + kService) << "auth required pam_unix.so\n"
                                                            "account required pam_unix.so\n";
    setenv("QX_PAM_SERVICE", kService, 1);
    for (const char *user : {kGood, kExpired}) {
      ASSERT_EQ(Shell(std::string("useradd -M -s /usr/sbin/nologin ") + user), 0) << "useradd " << user;
      ASSERT_EQ(Shell(std::string("echo '") + user + ":" + kPassword + "' | chpasswd"), 0);
    }
    // Expired the day after the epoch.
    ASSERT_EQ(Shell(std::string("usermod -e 1970-01-02 ") + kExpired), 0);
  }
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "making accounts and checking their passwords needs root (CI runs as root)";
    ASSERT_EQ(RegisterLogonProcess(), 1);
  }
  void TearDown() override {
    if (geteuid() == 0) DeregisterLogonProcess();
  }
};

TEST_F(Logon, RightPasswordGivesTheAccountsToken) {
  passwd *pw = getpwnam(kGood);
  ASSERT_NE(pw, nullptr);
  NTSTATUS status = -1;
  void *profile = nullptr;
  HANDLE token = LogonInteractive(kGood, nullptr, kPassword, &profile, &status);
  ASSERT_NE(token, nullptr);
  EXPECT_EQ(status, STATUS_SUCCESS);
  ASSERT_NE(profile, nullptr);
  LsaFreeReturnBuffer(profile);

  BYTE buf[128];
  DWORD needed = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buf, sizeof buf, &needed));
  PSID expected;
  ASSERT_TRUE(ConvertStringSidToSidA(("S-1-22-1-" + std::to_string(pw->pw_uid)).c_str(), &expected));
  EXPECT_TRUE(EqualSid(reinterpret_cast<TOKEN_USER *>(buf)->User.Sid, expected));
  LocalFree(expected);
  ASSERT_TRUE(GetTokenInformation(token, TokenPrimaryGroup, buf, sizeof buf, &needed));
  ASSERT_TRUE(ConvertStringSidToSidA(("S-1-22-2-" + std::to_string(pw->pw_gid)).c_str(), &expected));
  EXPECT_TRUE(EqualSid(reinterpret_cast<TOKEN_PRIMARY_GROUP *>(buf)->PrimaryGroup, expected));
  LocalFree(expected);
  // The token's groups begin with the primary group; a buffer too small says the size needed.
  EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buf, 8, &needed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> groups(needed);
  ASSERT_TRUE(GetTokenInformation(token, TokenGroups, groups.data(), needed, &needed));
  auto *list = reinterpret_cast<TOKEN_GROUPS *>(groups.data());
  ASSERT_GE(list->GroupCount, 1u);
  ASSERT_TRUE(ConvertStringSidToSidA(("S-1-22-2-" + std::to_string(pw->pw_gid)).c_str(), &expected));
  EXPECT_TRUE(EqualSid(list->Groups[0].Sid, expected));
  LocalFree(expected);
  EXPECT_TRUE(CloseHandle(token));

  // The network logon: the computer's own name as the domain works too.
  char computer[256];
  DWORD size = sizeof computer;
  ASSERT_TRUE(GetComputerNameA(computer, &size));
  int guest = -1;
  token = LogonNetwork(kGood, computer, kPassword, &guest, nullptr, &status);
  ASSERT_NE(token, nullptr);
  EXPECT_EQ(guest, 0);
  CloseHandle(token);
}

TEST_F(Logon, RefusalsCarryTheirStatus) {
  struct Case {
    const char *why, *user, *domain, *password;
    NTSTATUS status;
  } cases[] = {
      {"wrong password", kGood, nullptr, "wrong", STATUS_LOGON_FAILURE},
      {"password in another case", kGood, nullptr, "RIGHT-PW1", STATUS_LOGON_FAILURE},
      {"empty password", kGood, nullptr, "", STATUS_LOGON_FAILURE},
      {"unknown user", "qxnosuchuser", nullptr, kPassword, STATUS_LOGON_FAILURE},
      {"expired account", kExpired, nullptr, kPassword, STATUS_ACCOUNT_EXPIRED},
      {"another domain", kGood, "ELSEWHERE", kPassword, STATUS_NO_SUCH_DOMAIN},
  };
  for (const Case &c : cases) {
    NTSTATUS status = 0;
    HANDLE token = LogonInteractive(c.user, c.domain, c.password, nullptr, &status);
    EXPECT_EQ(token, nullptr) << c.why;
    EXPECT_EQ(status, c.status) << c.why << ": 0x" << std::hex << status;
    int guest = 0;
    token = LogonNetwork(c.user, c.domain, c.password, &guest, nullptr, &status);
    EXPECT_EQ(token, nullptr) << c.why;
    EXPECT_EQ(status, c.status) << c.why << " (network): 0x" << std::hex << status;
  }
}

TEST_F(Logon, WithoutRegistrationEveryLogonFails) {
  ASSERT_TRUE(DeregisterLogonProcess());
  NTSTATUS status = 0;
  EXPECT_EQ(LogonInteractive(kGood, nullptr, kPassword, nullptr, &status), nullptr);
  EXPECT_NE(status, STATUS_SUCCESS);
  EXPECT_FALSE(DeregisterLogonProcess());
}

}  // namespace
