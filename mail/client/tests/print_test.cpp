// Printing messages to the PDF printer: the first page rendered by pdftoppm
// matches its golden picture, every display line reaches paper once and in
// order with equal full pages, the list window prints each selected message,
// and a message whose file is gone tells the person and prints nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "displayline.h"
#include "msglist.h"
#include "msgprint.h"
#include "person.h"
#include "qx/gdi.h"
#include "qxtest/drawing.h"
#include "retrieve.h"
#include "store_fixture.h"
#include "viewer.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

// The printer settings live in this program's own home, set before the layer
// first reads them: only the PDF printer, its output in a folder of the test.
struct PrintHome {
  TempDir home{"qx-mail-print"};
  PrintHome() {
    setenv("QX_HOME", home.path().c_str(), 1);
    setenv("CUPS_SERVER", (home / "no-cups.sock").c_str(), 1);
    fs::create_directories(home / "pdf");
    qxtest::WriteFile(home / "printers.ini",
                      "[default]\nPrinter=Print to PDF\nPaper=A4\n[folders]\nPDF=" + (home / "pdf") + "\n");
  }
  std::string Pdf() const { return home / "pdf"; }
};
const PrintHome g_home;
const HeadlessDisplay g_headless;

std::string g_boxText;
int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxText = std::string(caption) + ": " + text;
  return IDOK;
}

// Runs a program to its end within a minute; its exit status.
int RunTool(const std::vector<std::string> &argv) {
  qxtest::Child child(argv);
  return child.Wait(60000);
}

// The printed files, oldest name first ("Message Message.pdf", "... (2).pdf").
std::vector<std::string> PrintedFiles() {
  std::vector<std::string> files;
  for (const auto &e : fs::directory_iterator(g_home.Pdf())) files.push_back(e.path().string());
  std::sort(files.begin(), files.end(), [](const std::string &a, const std::string &b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return files;
}

// The pages of a PDF as pdftotext lays them out, each as its lines with
// leading and trailing blanks removed, blank lines at a page's end dropped.
std::vector<std::vector<std::string>> PageLines(const std::string &pdf, const std::string &work) {
  const std::string text = work + "/pages.txt";
  EXPECT_EQ(RunTool({"/usr/bin/pdftotext", "-layout", pdf, text}), 0);
  std::vector<std::vector<std::string>> pages(1);
  std::string line;
  for (char c : qxtest::ReadFile(text) + "\n") {
    if (c == '\f') {
      pages.emplace_back();
    } else if (c == '\n') {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      const size_t lead = line.find_first_not_of(' ');
      pages.back().push_back(lead == std::string::npos ? std::string() : line.substr(lead));
      line.clear();
    } else {
      line += c;
    }
  }
  for (auto &page : pages)
    while (!page.empty() && page.back().empty()) page.pop_back();
  while (!pages.empty() && pages.back().empty()) pages.pop_back();
  return pages;
}

class PrintTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    g_MailMessageBox = RecordBox;
    g_boxText.clear();
    mailDir = dir / "mail";
    fs::create_directories(Host(mailDir));
    Settings().mailDir = mailDir;
    Settings().currentFolder = mailDir;
    Settings().wordWrap = 76;
    Settings().readSize = 10;
    ASSERT_EQ(StoreCreateFolder(mailDir), 0);
    for (const std::string &f : PrintedFiles()) fs::remove(f);
  }
  void TearDown() override {
    g_MailMessageBox = MessageBoxA;
    StoreTest::TearDown();
  }
  int32_t Stored(const std::string &text) {
    EXPECT_EQ(AddMessage(mailDir, text), 0);
    return IndexedIds(mailDir).rbegin()->first;
  }
  std::string mailDir;
};

}  // namespace

// The first page of a message with decoded base64 text and attachment lines,
// as pdftoppm renders it, against the golden picture.
TEST_F(PrintTest, FirstPageLooksAsItShould) {
  const int32_t number = Stored(ReadFile(SourceDir() + "/mail/client/tests/corpus/display/mixed.eml"));
  ASSERT_TRUE(PrintMessage(nullptr, mailDir, number)) << g_boxText;
  const std::vector<std::string> files = PrintedFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(fs::path(files[0]).filename(), "Message Message.pdf");
  const std::string page = dir / "page";
  ASSERT_EQ(RunTool({"/usr/bin/pdftoppm", "-png", "-r", "40", "-f", "1", "-l", "1", "-singlefile", files[0], page}), 0);
  qx::gdi::Surface picture;
  ASSERT_TRUE(qx::gdi::ReadPng(page + ".png", picture));
  EXPECT_EQ(qx::test::CompareGoldenIn(picture, SourceDir() + "/mail/client/tests/golden", "printed-message"), "");
}

// A long message: every display line is on paper once, in order; full pages
// hold the same number of lines, and the last page the rest.
TEST_F(PrintTest, EveryLineOnceWithEqualPages) {
  std::string message = "From: a@example.com\r\nSubject: long\r\n\r\n";
  for (int i = 1; i <= 150; ++i) message += "line " + std::to_string(i) + " of the body\r\n";
  message += std::string(200, 'w') + "\r\n";  // wider than the paper: goes on in the next printed lines
  const int32_t number = Stored(message);
  ASSERT_TRUE(PrintMessage(nullptr, mailDir, number)) << g_boxText;
  ASSERT_EQ(PrintedFiles().size(), 1u);
  const auto pages = PageLines(PrintedFiles()[0], dir.path());
  ASSERT_GE(pages.size(), 2u);
  std::vector<std::string> printed;
  for (size_t p = 0; p < pages.size(); ++p) {
    if (p + 1 < pages.size()) {
      EXPECT_EQ(pages[p].size(), pages[0].size()) << "page " << p + 1;
    }
    printed.insert(printed.end(), pages[p].begin(), pages[p].end());
  }
  EXPECT_GT(pages[0].size(), 50u);  // an A4 page of 10-point lines
  EXPECT_LE(pages.back().size(), pages[0].size());
  std::vector<std::string> expected{"From: a@example.com", "Subject: long", ""};
  for (int i = 1; i <= 150; ++i) expected.push_back("line " + std::to_string(i) + " of the body");
  ASSERT_GE(printed.size(), expected.size() + 2);
  std::string wide;
  for (size_t i = expected.size(); i < printed.size(); ++i) {
    EXPECT_LE(printed[i].size(), 110u) << "a printed line wider than an A4 page";
    wide += printed[i];
  }
  EXPECT_EQ(wide, std::string(200, 'w'));
  printed.resize(expected.size());
  EXPECT_EQ(printed, expected);
}

// Print in the list window prints each selected message, in row order (by
// date: the older first); in the viewer Print prints the message read.
TEST_F(PrintTest, ListAndViewerPrintButtons) {
  Stored("From: b@example.com\r\nSubject: second\r\nDate: Tue, 5 Dec 1995 15:00:00 GMT\r\n\r\nBody two\r\n");
  Stored("From: a@example.com\r\nSubject: first\r\nDate: Tue, 5 Dec 1995 14:00:00 GMT\r\n\r\nBody one\r\n");
  // Each step acts once its window is there and enabled (printing disables it).
  struct Step {
    std::function<HWND()> window;
    std::function<void(HWND)> act;
  };
  const auto list = [] { return FindWindowA(nullptr, "Read Mail"); };
  const std::vector<Step> steps{{list,
                                 [](HWND d) {
                                   SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SELITEMRANGE, TRUE, MAKELPARAM(0, 1));
                                   PostMessageA(d, WM_COMMAND, IDC_LIST_PRINT, 0);
                                 }},
                                {list,
                                 [](HWND d) {
                                   SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SETSEL, FALSE, -1);
                                   SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SETSEL, TRUE, 1);
                                   PostMessageA(d, WM_COMMAND, IDC_LIST_READ, 0);
                                 }},
                                {ViewerWindow, [](HWND d) { PostMessageA(d, WM_COMMAND, IDC_VIEW_PRINT, 0); }},
                                {ViewerWindow, [](HWND d) { PostMessageA(d, WM_COMMAND, IDOK, 0); }},
                                {list, [](HWND d) { PostMessageA(d, WM_COMMAND, IDOK, 0); }}};
  size_t step = 0;
  static std::function<void()> tick;
  tick = [&] {
    HWND d = step < steps.size() ? steps[step].window() : nullptr;
    if (d && IsWindowEnabled(d)) steps[step++].act(d);
  };
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, [](HWND, UINT, UINT_PTR, DWORD) { tick(); });
  MessageListDialog(nullptr);
  KillTimer(nullptr, timer);
  EXPECT_EQ(step, steps.size());
  const std::vector<std::string> files = PrintedFiles();
  ASSERT_EQ(files.size(), 3u) << g_boxText;
  std::vector<std::string> lastLines;
  for (const std::string &f : files) {
    const auto pages = PageLines(f, dir.path());
    lastLines.push_back(pages.empty() || pages[0].empty() ? "" : pages[0].back());
  }
  EXPECT_EQ(lastLines, (std::vector<std::string>{"Body one", "Body two", "Body two"}));
}

// A message file that is gone: the person is told, nothing is printed.
TEST_F(PrintTest, MissingMessageFileIsReported) {
  const int32_t number = Stored("From: a@example.com\r\n\r\nBody\r\n");
  fs::remove(Host(MessagePath(mailDir, static_cast<uint64_t>(number))));
  EXPECT_FALSE(PrintMessage(nullptr, mailDir, number));
  EXPECT_EQ(g_boxText, "Print: Unable to open message file");
  EXPECT_TRUE(PrintedFiles().empty());
}

// Cancel in the progress dialog stops the job: no file, no error box, and the
// windows that were disabled are enabled again.
TEST_F(PrintTest, CancelLeavesNothingPrinted) {
  std::string message = "From: a@example.com\r\nSubject: long\r\n\r\n";
  for (int i = 1; i <= 20000; ++i) message += "line " + std::to_string(i) + "\r\n";
  const int32_t number = Stored(message);
  person::Person p;
  bool ownerDisabled = false;
  HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  p.Then("Message", [&](HWND d) {
    ownerDisabled = !IsWindowEnabled(owner);
    SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0);
  });
  bool printed = true;
  person::WithPerson(p, [&] { printed = PrintMessage(owner, mailDir, number); });
  EXPECT_FALSE(printed);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(g_boxText, "");
  EXPECT_TRUE(PrintedFiles().empty());
  DestroyWindow(owner);
}
