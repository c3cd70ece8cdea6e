// PCNFSD of the running service over UDP in the test's own network
// namespace: AUTH of a real account made by the test (checked through PAM,
// with a PAM service of the test's own) and a wrong password; PR_INIT of the
// exports file's printer; PR_START of a spool file that comes out of the
// layer's "Print to PDF" printer, read back with pdftotext.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "nfs_client.h"
#include "qxtest/netns.h"
#include "rpc_call_builder.h"
#include "service_harness.h"

using nfstest::NfsClient;
using rpctest::CallBuilder;
using rpctest::Word;

namespace {

constexpr uint32_t kPcnfsd = 150001;
constexpr char kPamService[] = "qxlogon-pcnfsd-test";
constexpr char kUser[] = "qxpcnfsuser", kPassword[] = "Print-pw7";

int RunQuietly(const std::string &command) { return system((command + " >/dev/null 2>&1").c_str()); }

std::string Obscured(const std::string &text) {
  std::string out = text;
  for (char &c : out) c = char(static_cast<unsigned char>(c) ^ 0x5B);
  return out;
}

// The little-endian hex of a 32-bit value, as qxreg takes REG_BINARY.
std::string HexLe(uint32_t v) {
  char text[9];
  snprintf(text, sizeof text, "%02x%02x%02x%02x", v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
  return text;
}

class Pcnfsd : public nfstest::ServiceTest {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) return;
    // The account and the PAM service go into an /etc of the program's own
    // (the service started later inherits it): other tests meanwhile read, or
    // mount over, the real account files.
    ASSERT_EQ(qxtest::OverlayOwnEtc(), "");
    std::ofstream(std::string("/etc/pam.d/") + kPamService) << "auth required pam_unix.so\n"
                                                               "account required pam_unix.so\n";
    ASSERT_EQ(RunQuietly(std::string("useradd -M -s /usr/sbin/nologin ") + kUser), 0);
    ASSERT_EQ(RunQuietly(std::string("echo '") + kUser + ":" + kPassword + "' | chpasswd"), 0);
  }

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "making an account and checking its password needs root (CI runs as root)";
    nfstest::ServiceTest::SetUp();
    setenv("QX_PAM_SERVICE", kPamService, 1);
    std::filesystem::create_directories(Host("d/ex"));
    std::filesystem::create_directories(Host("d/spool"));
    std::filesystem::create_directories(Host("pdf"));
    std::filesystem::create_directories(Host("home"));
    std::ofstream(Host("home/printers.ini"))
        << "[default]\nPrinter=Print to PDF\n[folders]\nPDF=" << Host("pdf") << "\n[ports]\nLPT1=Print to PDF\n";
    Qxreg("set 'HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion' QXNFSServerSpoolDir REG_SZ 'D:\\spool'");
    WriteExports("d:\\ex\nlpt1:\n");
  }

  std::string Call(NfsClient &c, uint32_t procedure, const std::string &args) {
    return c.Call(kPcnfsd, 1, procedure, args);
  }
  std::string Auth(NfsClient &c, const std::string &user, const std::string &password) {
    return Call(c, 1, CallBuilder().Opaque(Obscured(user)).Opaque(Obscured(password)).bytes);
  }
  uint32_t PrStart(NfsClient &c, const std::string &printer, const std::string &file) {
    std::string body =
        Call(c, 3, CallBuilder().Opaque("pc1").Opaque(printer).Opaque(kUser).Opaque(file).Opaque("").bytes);
    EXPECT_EQ(body.size(), 4u);
    return Word(body, 0);
  }
};

TEST_F(Pcnfsd, AuthChecksThePasswordAndAnswersTheAccountsIds) {
  passwd *pw = getpwnam(kUser);
  ASSERT_NE(pw, nullptr);
  uid_t uid = pw->pw_uid;
  gid_t gid = pw->pw_gid;
  Start();
  NfsClient c(0, 0);
  c.SetPatience(2, 8000);  // a refused password may keep PAM a few seconds

  // Unmapped: the account's own numbers, as its files show them.
  std::string ok = Auth(c, kUser, kPassword);
  ASSERT_EQ(ok.size(), 12u);
  EXPECT_EQ(Word(ok, 0), 0u);
  EXPECT_EQ(Word(ok, 4), uid);
  EXPECT_EQ(Word(ok, 8), gid);

  std::string wrong = Auth(c, kUser, "wrong-pw");
  EXPECT_EQ(wrong.size(), 4u) << "a refusal carries no ids";
  EXPECT_EQ(Word(wrong, 0), 2u);
  EXPECT_EQ(Word(Auth(c, "qxnosuchuser", kPassword), 0), 2u);

  // A uid mapping decides the uid (loaded at start and on control 129).
  Qxreg("set 'HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion\\UidMapping' " + std::string(kUser) + " REG_BINARY " +
        HexLe(500) + "0102000000000016" + HexLe(1) + HexLe(uid));
  int status = -1;
  std::string out = Qxsc("control QXNFSServer 129", &status);
  ASSERT_EQ(status, 0) << out;
  ASSERT_TRUE(qxtest::WaitUntil([&] { return Word(Auth(c, kUser, kPassword), 4) == 500u; }, 20000))
      << "the mapped uid 500 never came back";
}

TEST_F(Pcnfsd, PrintersAreTheExportsAndJobsReachThePdfPrinter) {
  Start();
  NfsClient c(0, 0);
  struct Case {
    const char *printer;
    uint32_t status;
    const char *directory;
  } cases[] = {
      {"lpt1:", 0, "D:\\spool"}, {"LPT1", 0, "D:\\spool"}, {"lpt2:", 1, ""}, {"../lpt1:", 1, ""}, {"d:\\ex", 1, ""}};
  for (const Case &k : cases) {
    std::string body = Call(c, 2, CallBuilder().Opaque("pc1").Opaque(k.printer).bytes);
    EXPECT_EQ(Word(body, 0), k.status) << k.printer;
    EXPECT_EQ(Word(body, 4), strlen(k.directory)) << k.printer;
    EXPECT_EQ(body.substr(8, strlen(k.directory)), k.directory) << k.printer;
  }

  qxtest::WriteFile(Host("d/spool/job1.txt"), "Hello from PCNFSD\nsecond line\n");
  EXPECT_EQ(PrStart(c, "lpt1:", "job1.txt"), 0u);
  std::string pdf;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        for (const auto &e : std::filesystem::directory_iterator(Host("pdf")))
          if (e.path().extension() == ".pdf") pdf = e.path();
        return !pdf.empty();
      },
      20000))
      << "no PDF came out of the printer";
  std::string text;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        text = nfstest::Shell("pdftotext '" + pdf + "' - 2>/dev/null");
        return text.find("Hello from PCNFSD") != std::string::npos;
      },
      10000))
      << text;
  EXPECT_TRUE(std::filesystem::exists(Host("d/spool/job1.txt"))) << "the spool file stays";

  // Names from the network never leave the spool directory or pick a printer the exports do not list.
  qxtest::WriteFile(Host("d/outside.txt"), "not to be printed\n");
  EXPECT_EQ(PrStart(c, "lpt1:", "../outside.txt"), 3u);
  EXPECT_EQ(PrStart(c, "lpt1:", "D:outside.txt"), 3u);
  EXPECT_EQ(PrStart(c, "lpt1:", "missing.txt"), 3u);
  EXPECT_EQ(PrStart(c, "lpt2:", "job1.txt"), 4u);
  EXPECT_EQ(PrStart(c, "/tmp/x", "job1.txt"), 4u);
}

}  // namespace
