// A real CUPS server, started by the test in its own mount and PID namespaces
// (its configuration bound over /etc/cups there, its socket in the test's
// tree), with a cups-pdf queue: the layer lists the queue, and a document
// from StartDoc..EndDoc and a job from the spooler calls come out of cups-pdf
// as PDF files. The server dies with the namespace; nothing is left running.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "print_test_env.h"
#include "qx/print.h"

using namespace qxtest;

namespace {

const PrintTree &g_tree = TheTree();

class CupsServer {
 public:
  std::string dir, socket, out, error;

  CupsServer() : dir(g_tree.root + "/cups"), socket(dir + "/cups.sock"), out(dir + "/out") {
    for (const char *sub : {"etc/ppd", "spool/tmp", "cache", "state", "log", "out"})
      fs::create_directories(dir + "/" + sub);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    Write("etc/cupsd.conf", "Listen " + socket +
                                "\nLogLevel warn\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
                                "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    Write("etc/cups-files.conf", "ServerRoot " + dir + "/etc\nRequestRoot " + dir + "/spool\nTempDir " + dir +
                                     "/spool/tmp\nCacheDir " + dir + "/cache\nStateDir " + dir + "/state\nAccessLog " +
                                     dir + "/log/access_log\nErrorLog " + dir + "/log/error_log\nPageLog " + dir +
                                     "/log/page_log\nFileDevice No\n");
    // cups-pdf reads /etc/cups/cups-pdf.conf: in the namespace that is ours.
    Write("etc/cups-pdf.conf",
          "Out " + out + "\nAnonDirName " + out + "\nSpool " + dir + "/spool/cups-pdf\nUserUMask 0022\nGrp root\n");
    const std::string script = "mount --bind " + dir + "/etc /etc/cups && exec cupsd -f -c " + dir +
                               "/etc/cupsd.conf -s " + dir + "/etc/cups-files.conf";
    // Orphans of the namespace (cupsd once unshare is gone) become ours to
    // wait for, so the test ends only when the server has.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // the test dying takes the namespace with it
      execlp("unshare", "unshare", "--mount", "--propagation", "private", "--pid", "--fork", "--kill-child=SIGTERM",
             "sh", "-c", script.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    if (!WaitUntil([this] { return Answers(); }, 30000)) {
      error = "cupsd did not start; see " + dir + "/log/error_log";
      return;
    }
    setenv("CUPS_SERVER", socket.c_str(), 1);
    if (!Run({"lpadmin", "-h", socket, "-p", "qxpdf", "-E", "-v", "cups-pdf:/", "-P",
              "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"},
             nullptr, 30))
      error = "lpadmin could not add the cups-pdf queue";
  }
  ~CupsServer() {
    if (pid_ <= 0) return;
    // cupsd is unshare's child, the namespace's first process; unshare itself
    // waits for it, ignoring SIGTERM.
    std::ifstream server("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children");
    for (pid_t cupsd; server >> cupsd;) kill(cupsd, SIGTERM);
    // Every child gone (cupsd's end takes the namespace's other processes with it).
    const bool done = WaitUntil(
        [] {
          while (waitpid(-1, nullptr, WNOHANG) > 0) {
          }
          return errno == ECHILD;
        },
        20000);
    if (!done) {
      std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
      for (pid_t child; children >> child;) kill(child, SIGKILL);
      while (waitpid(-1, nullptr, 0) > 0) {
      }
    }
  }
  bool Answers() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket.c_str(), sizeof addr.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
  }
  // The PDF cups-pdf writes that is not among `before`, once no job is left.
  std::string WaitForOutput(const std::vector<std::string> &before) const {
    std::string found;
    WaitUntil(
        [&] {
          for (const std::string &pdf : FilesIn(out, ".pdf"))
            if (std::find(before.begin(), before.end(), pdf) == before.end()) found = pdf;
          std::string jobs;
          return !found.empty() && Run({"lpstat", "-h", socket, "-o"}, &jobs, 10) && jobs.empty();
        },
        60000);
    return found;
  }

 private:
  pid_t pid_ = -1;
  void Write(const std::string &name, const std::string &text) { std::ofstream(dir + "/" + name) << text; }
};

bool CanRunCups(std::string &why) {
  if (geteuid() != 0)
    why = "the CUPS test needs root (its own mount namespace)";
  else if (!fs::exists("/usr/sbin/cupsd"))
    why = "cupsd is not installed (.ci/packages.d/print.txt)";
  else if (!fs::exists("/usr/lib/cups/backend/cups-pdf"))
    why = "cups-pdf is not installed";
  return why.empty();
}

TEST(Cups, DocumentsAndSpooledJobsReachTheQueue) {
  std::string why;
  if (!CanRunCups(why)) {
    if (getenv("CI")) FAIL() << why;
    GTEST_SKIP() << why;
  }
  CupsServer cups;
  ASSERT_TRUE(cups.error.empty()) << cups.error;

  // The queue is a printer of the layer.
  qx::print::Printer p;
  DWORD error = 0;
  ASSERT_TRUE(qx::print::FindPrinter("qxpdf", p, error));
  EXPECT_EQ(p.port, "CUPS:");

  // A document drawn on a printer DC of the queue.
  DEVMODEA dm{};
  dm.dmSize = sizeof dm;
  dm.dmFields = DM_PRINTQUALITY | DM_PAPERSIZE;
  dm.dmPrintQuality = 100;
  dm.dmPaperSize = DMPAPER_A4;
  HDC dc = CreateDCA(nullptr, "qxpdf", nullptr, &dm);
  ASSERT_NE(dc, nullptr);
  DOCINFOA di{sizeof di, "Through CUPS, caf\xE9", nullptr, nullptr, 0};  // the server takes UTF-8 names only
  ASSERT_GT(StartDocA(dc, &di), 0);
  for (int page = 0; page < 2; ++page) {
    StartPage(dc);
    RECT box{100, 100, 500, 400};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    FillRect(dc, &box, blue);
    DeleteObject(blue);
    EndPage(dc);
  }
  ASSERT_GT(EndDoc(dc), 0);
  DeleteDC(dc);
  const std::string document = cups.WaitForOutput({});
  ASSERT_FALSE(document.empty()) << "no PDF from cups-pdf; see " << cups.dir << "/log/error_log";
  EXPECT_EQ(PdfInfo(document, "Pages:"), "2");
  double pw = 0, ph = 0;
  ASSERT_EQ(std::sscanf(PdfInfo(document, "Page size:").c_str(), "%lf x %lf", &pw, &ph), 2);
  EXPECT_NEAR(pw, 595.3, 1.0);  // A4
  EXPECT_NEAR(ph, 841.9, 1.0);
  std::vector<uint32_t> px;
  int w = 0, h = 0;
  ASSERT_TRUE(LoadPng(RenderPage(document, 100), px, w, h));
  ASSERT_GT(w, 500);
  const uint32_t inside = px[static_cast<size_t>(250) * w + 300];
  EXPECT_LT(inside & 0xFFFF00, 0x101000u) << std::hex << inside;  // blue survives the trip
  EXPECT_GT(inside & 0xFF, 0xE0u);

  // A job through the spooler calls, as the LPD daemon queues one.
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char *>("qxpdf"), &printer, nullptr));
  BYTE buffer[1024];
  DWORD needed = 0;
  ASSERT_TRUE(AddJobA(printer, 1, buffer, sizeof buffer, &needed));
  ADDJOB_INFO_1A info;
  std::memcpy(&info, buffer, sizeof info);
  HANDLE f = CreateFileA(info.Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  const char text[] = "Spooled through the LPD path\r\nsecond line\r\n\f";
  DWORD written = 0;
  WriteFile(f, text, sizeof text - 1, &written, nullptr);
  CloseHandle(f);
  ASSERT_TRUE(ScheduleJob(printer, info.JobId));
  ClosePrinter(printer);
  const std::string spooled = cups.WaitForOutput({document});
  ASSERT_FALSE(spooled.empty());
  // The server lays the text out (texttopdf) and cups-pdf distills it again, so
  // the words are glyphs without their text: look for two lines of ink at the
  // top of the one page, and none below.
  EXPECT_EQ(PdfInfo(spooled, "Pages:"), "1");
  ASSERT_TRUE(LoadPng(RenderPage(spooled, 50), px, w, h));
  int ink_rows = 0, ink_below = 0;
  for (int y = 0; y < h; ++y) {
    bool ink = false;
    for (int x = 0; x < w; ++x) ink = ink || (px[static_cast<size_t>(y) * w + x] & 0xFF) < 0x80;
    (y < h / 5 ? ink_rows : ink_below) += ink;
  }
  EXPECT_GE(ink_rows, 6);
  EXPECT_EQ(ink_below, 0);
}

}  // namespace
