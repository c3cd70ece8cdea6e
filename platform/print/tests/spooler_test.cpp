// The spooler as the LPD daemon uses it (OpenPrinterA, AddJobA, the spool file
// written with CreateFileA, ScheduleJob), jobs that are never scheduled,
// hostile printer names, WM_SPOOLERSTATUS, and the printer devices "PRN" and
// "LPT1:" reaching their printer. Printers are the PDF printers of the test's
// printers.ini; output is read back with pdfinfo and pdftotext.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <io.h>

#include <cstring>
#include <string>

#include "print_test_env.h"

using namespace qxtest;

namespace {

const PrintTree &g_tree = TheTree();

class Spooler : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tree.WriteSettings("");
    for (const std::string &dir : {g_tree.Pdf(), g_tree.Testq(), g_tree.Files()}) fs::remove_all(dir);
  }
  static int SpoolFiles() { return static_cast<int>(FilesIn(g_tree.SpoolDir(), ".SPL").size()); }
};

// Adds a job on h and writes data into its spool file as the LPD daemon does.
DWORD AddAndWrite(HANDLE h, const std::string &data) {
  BYTE buffer[1024];
  DWORD needed = 0;
  if (!AddJobA(h, 1, buffer, sizeof buffer, &needed)) return 0;
  ADDJOB_INFO_1A info;
  std::memcpy(&info, buffer, sizeof info);
  HANDLE f = CreateFileA(info.Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(f);
  return written == data.size() ? info.JobId : 0;
}

TEST_F(Spooler, AddedJobPrintsWhenScheduled) {
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char *>("TESTQ"), &h, nullptr));  // names match without regard to case
  // Too small a buffer says how much is needed and leaves no job behind.
  BYTE small[8];
  DWORD needed = 0;
  EXPECT_FALSE(AddJobA(h, 1, small, sizeof small, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, sizeof(ADDJOB_INFO_1A));
  EXPECT_EQ(SpoolFiles(), 0);
  EXPECT_FALSE(AddJobA(h, 2, small, sizeof small, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));

  const DWORD id = AddAndWrite(h, "first line\r\nsecond line\r\n\f");
  ASSERT_NE(id, 0u);
  EXPECT_EQ(SpoolFiles(), 1);
  EXPECT_TRUE(FilesIn(g_tree.Testq()).empty());  // nothing prints before it is scheduled
  ASSERT_TRUE(ScheduleJob(h, id));
  EXPECT_FALSE(ScheduleJob(h, id));  // once only
  EXPECT_TRUE(ClosePrinter(h));
  EXPECT_EQ(SpoolFiles(), 0);

  const auto out = FilesIn(g_tree.Testq(), ".pdf");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(PdfInfo(out[0], "Pages:"), "1");  // the closing form feed adds no blank page
  EXPECT_EQ(PdfInfo(out[0], "Page size:"), "612 x 792 pts (letter)");
  const std::string text = PdfText(out[0]);
  EXPECT_NE(text.find("first line"), std::string::npos) << text;
  EXPECT_NE(text.find("second line"), std::string::npos) << text;
}

TEST_F(Spooler, TextLaidOutAsALinePrinterWould) {
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char *>("testq"), &h, nullptr));
  std::string data = "page one\fpage two\f\fpage four (after a blank one)\n";
  for (int i = 0; i < 70; ++i) data += "line " + std::to_string(i) + "\n";  // runs over onto a fifth page
  data += std::string(100, 'x') + "\n";                                     // wraps
  data += "tab\there, 100% (paren) back\\slash, caf\xE9\n";
  const DWORD id = AddAndWrite(h, data);
  ASSERT_TRUE(ScheduleJob(h, id));
  ClosePrinter(h);
  const auto out = FilesIn(g_tree.Testq(), ".pdf");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(PdfInfo(out[0], "Pages:"), "5");
  const std::string text = PdfText(out[0]);
  EXPECT_NE(text.find("line 69"), std::string::npos);
  EXPECT_NE(text.find("tab     here, 100% (paren) back\\slash, caf\xC3\xA9"), std::string::npos) << text;
}

TEST_F(Spooler, TextTakesThePrintersPaper) {
  g_tree.WriteSettings("[default]\nPaper=A4\n");
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char *>("testq"), &h, nullptr));
  std::string data;
  for (int i = 0; i < 64; ++i) data += "line " + std::to_string(i) + "\n";  // A4 holds 64 lines
  ASSERT_TRUE(ScheduleJob(h, AddAndWrite(h, data)));
  ClosePrinter(h);
  const auto out = FilesIn(g_tree.Testq(), ".pdf");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(PdfInfo(out[0], "Page size:").substr(0, 9), "595 x 841");
  EXPECT_EQ(PdfInfo(out[0], "Pages:"), "1");
}

TEST_F(Spooler, JobsNeverScheduledLeaveNothing) {
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char *>("testq"), &h, nullptr));
  ASSERT_NE(AddAndWrite(h, "aborted\r\n"), 0u);
  EXPECT_TRUE(AbortPrinter(h));  // the daemon's answer to a broken connection
  EXPECT_EQ(SpoolFiles(), 0);
  ASSERT_NE(AddAndWrite(h, "left open\r\n"), 0u);
  EXPECT_TRUE(ClosePrinter(h));  // closing drops what was never scheduled
  EXPECT_EQ(SpoolFiles(), 0);
  EXPECT_FALSE(ClosePrinter(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A process that ends without scheduling its job: the next job sweeps it away.
  const pid_t child = fork();
  if (child == 0) {
    HANDLE c = nullptr;
    _exit(OpenPrinterA(const_cast<char *>("testq"), &c, nullptr) && AddAndWrite(c, "orphan\r\n") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(SpoolFiles(), 1);
  ASSERT_TRUE(OpenPrinterA(const_cast<char *>("testq"), &h, nullptr));
  const DWORD id = AddAndWrite(h, "next\r\n");
  EXPECT_EQ(SpoolFiles(), 1);
  EXPECT_TRUE(ScheduleJob(h, id));
  ClosePrinter(h);
  EXPECT_EQ(SpoolFiles(), 0);
  EXPECT_EQ(FilesIn(g_tree.Testq(), ".pdf").size(), 1u);  // only the scheduled job printed
}

TEST_F(Spooler, HostilePrinterNamesRefused) {
  const std::string names[] = {
      "../x", "a/b", std::string(300, 'a'), "", "..", ".", "..\\..\\x", "FILE:", "nosuch", "te\nstq", "/etc/passwd"};
  for (const std::string &name : names) {
    HANDLE h = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(OpenPrinterA(const_cast<char *>(name.c_str()), &h, nullptr)) << name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME)) << name;
    EXPECT_EQ(h, nullptr);
  }
  // A name with a slash in the settings is no printer either.
  g_tree.WriteSettings("../evil=PDF," + g_tree.root + "/evil\n");
  HANDLE h = nullptr;
  EXPECT_FALSE(OpenPrinterA(const_cast<char *>("../evil"), &h, nullptr));
  EXPECT_FALSE(fs::exists(g_tree.root + "/evil"));
  EXPECT_FALSE(fs::exists(g_tree.root + "/x"));
}

TEST_F(Spooler, JobCountPostedToTopLevelWindows) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "SpoolWatcher";
  RegisterClassA(&wc);
  HWND w = CreateWindowA("SpoolWatcher", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  const auto next_count = [&]() -> int {
    MSG msg;
    const auto deadline = GetTickCount() + 10000;
    while (GetTickCount() < deadline) {
      if (PeekMessageA(&msg, w, WM_SPOOLERSTATUS, WM_SPOOLERSTATUS, PM_REMOVE)) return LOWORD(msg.lParam);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return -1;
  };
  HANDLE h = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char *>("testq"), &h, nullptr));
  const DWORD id = AddAndWrite(h, "counted\r\n");
  EXPECT_EQ(next_count(), 1);
  ASSERT_TRUE(ScheduleJob(h, id));
  EXPECT_EQ(next_count(), 0);
  ClosePrinter(h);
  DestroyWindow(w);
}

TEST_F(Spooler, PrinterDevicesPrintWhenClosed) {
  g_tree.WriteSettings("[ports]\nLPT2=testq\n");
  // CreateFileA on "PRN": the default printer (Print to PDF) on close.
  HANDLE f = CreateFileA("PRN", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(f, "via PRN\r\n", 9, &n, nullptr));
  EXPECT_TRUE(FilesIn(g_tree.Pdf()).empty());  // still open: not printed yet
  CloseHandle(f);
  ASSERT_TRUE(WaitUntil([] { return FilesIn(g_tree.Pdf(), ".pdf").size() == 1; }, 30000));
  EXPECT_NE(PdfText(FilesIn(g_tree.Pdf(), ".pdf")[0]).find("via PRN"), std::string::npos);

  // The C runtime's "LPT2:", mapped to testq in the device table.
  const int fd = _open("LPT2:", _O_WRONLY | _O_TEXT);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(_write(fd, "via LPT2\n", 9), 9);
  _close(fd);
  ASSERT_TRUE(WaitUntil([] { return FilesIn(g_tree.Testq(), ".pdf").size() == 1; }, 30000));
  EXPECT_NE(PdfText(FilesIn(g_tree.Testq(), ".pdf")[0]).find("via LPT2"), std::string::npos);

  // A C runtime stream on "prn": printed by fclose.
  FILE *stream = fopen("prn", "w");
  ASSERT_NE(stream, nullptr);
  fputs("via a stream\n", stream);
  fclose(stream);
  ASSERT_TRUE(WaitUntil([] { return FilesIn(g_tree.Pdf(), ".pdf").size() == 2; }, 30000));

  // A device opened and closed with nothing written prints nothing; a device
  // mapped to a printer that does not exist cannot be opened.
  f = CreateFileA("lpt1:", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  g_tree.WriteSettings("[ports]\nLPT3=nosuch\n");
  EXPECT_EQ(CreateFileA("LPT3", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  ASSERT_TRUE(WaitUntil([] { return SpoolFiles() == 0; }, 30000));
  EXPECT_EQ(FilesIn(g_tree.Pdf(), ".pdf").size(), 2u);
}

}  // namespace
