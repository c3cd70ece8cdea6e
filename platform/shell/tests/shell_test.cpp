// ShellExecuteA and the desktop programs that stand for Windows' own, with a
// recording stand-in configured in WIN.INI in place of every desktop program,
// so that no real editor, terminal or opener starts.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Fixture {
  std::string root, record, recorder;
  Fixture() {
    char tmpl[] = "/tmp/qx-shell-test-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    std::filesystem::create_directories(root + "/d/docs");
    std::filesystem::create_directories(root + "/bin");
    setenv("QX_DRIVE_D", (root + "/d").c_str(), 1);
    unsetenv("QX_WINDOWS_DIR");
    record = root + "/record.txt";
    setenv("QX_SHELL_RECORD", record.c_str(), 1);
    // The stand-in: one line per start, its arguments joined by '|'.
    recorder = root + "/bin/qxrecorder";
    std::ofstream(recorder) << "#!/bin/sh\n"
                               "(IFS='|'; printf '%s\\n' \"$*\") >> \"$QX_SHELL_RECORD\"\n";
    chmod(recorder.c_str(), 0755);
    setenv("PATH", (root + "/bin:" + std::getenv("PATH")).c_str(), 1);
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};
Fixture &F() {
  static Fixture f;
  return f;
}

// The lines the stand-in recorded, once `count` are there (or after 10 s).
std::vector<std::string> Recorded(size_t count) {
  std::vector<std::string> lines;
  for (int i = 0; i < 1000; ++i) {
    lines.clear();
    std::ifstream in(F().record);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() >= count) break;
    Sleep(10);
  }
  return lines;
}

// The n-th recorded line (1-based), once it is there.
std::string Line(size_t n) {
  const std::vector<std::string> lines = Recorded(n);
  return lines.size() >= n ? lines[n - 1] : "<nothing recorded>";
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    F();
    std::remove(F().record.c_str());
    WriteProfileStringA("programs", nullptr, nullptr);
    WriteProfileStringA("Extensions", nullptr, nullptr);
    WriteProfileStringA("Shell", nullptr, nullptr);
    WriteProfileStringA("programs", "notepad.exe", (F().recorder + " notepad %1").c_str());
    WriteProfileStringA("programs", "dosprmpt.pif", (F().recorder + " terminal").c_str());
    WriteProfileStringA("Shell", "Open", (F().recorder + " open %1").c_str());
  }
  static std::string Host(const char *relative) { return F().root + "/d/" + relative; }
  static void Touch(const char *relative, mode_t mode = 0644) {
    std::ofstream(Host(relative)) << "x\n";
    chmod(Host(relative).c_str(), mode);
  }
};

UINT_PTR Open(const char *file, const char *params = nullptr, const char *dir = nullptr, const char *verb = "open") {
  return reinterpret_cast<UINT_PTR>(ShellExecuteA(nullptr, verb, file, params, dir, SW_SHOWNORMAL));
}

TEST_F(Shell, SystemProgramsReachTheDesktopStandIns) {
  Touch("docs/readme.txt");
  EXPECT_EQ(WinExec("NOTEPAD D:\\docs\\readme.txt", SW_SHOW), 33u);
  EXPECT_EQ(Recorded(1), std::vector<std::string>{"notepad|" + Host("docs/readme.txt")});
  EXPECT_EQ(WinExec("notepad", SW_SHOW), 33u);  // no file: %1 is left out
  EXPECT_EQ(Line(2), "notepad");
  EXPECT_EQ(WinExec("DOSPRMPT.PIF", SW_SHOW), 33u);
  EXPECT_EQ(Line(3), "terminal");

  // A stand-in that is not installed: the start fails as a missing program does.
  WriteProfileStringA("programs", "dosprmpt.pif", "/nonexistent/terminal");
  EXPECT_EQ(WinExec("DOSPRMPT.PIF", SW_SHOW), 2u);
  EXPECT_EQ(WinExec("NOSUCHPROGRAM.EXE", SW_SHOW), 2u);
}

TEST_F(Shell, DataFilesOpenThroughTheirAssociation) {
  Touch("docs/notes.txt");
  Touch("docs/My Notes.txt");
  Touch("docs/picture.xyz");
  WriteProfileStringA("Extensions", "txt", "notepad.exe ^.txt");
  // Each start is awaited before the next: the stand-ins run on their own.
  EXPECT_GT(Open("D:\\docs\\notes.txt"), 32u);
  EXPECT_EQ(Line(1), "notepad|" + Host("docs/notes.txt"));
  EXPECT_GT(Open("My Notes.txt", nullptr, "D:\\docs"), 32u);  // relative to the directory; blanks quoted
  EXPECT_EQ(Line(2), "notepad|" + Host("docs/My Notes.txt"));
  EXPECT_GT(Open("D:\\docs\\picture.xyz"), 32u);  // no association: the desktop's opener
  EXPECT_EQ(Line(3), "open|" + Host("docs/picture.xyz"));
  EXPECT_EQ(Open("D:\\docs\\notes.txt", nullptr, "D:\\nodir"), static_cast<UINT_PTR>(SE_ERR_PNF));
}

TEST_F(Shell, RefusalsAndErrors) {
  Touch("docs/run.sh", 0755);
  Touch("docs/app.desktop");
  Touch("docs/data.xyz");
  EXPECT_EQ(Open("D:\\docs\\missing.txt"), static_cast<UINT_PTR>(SE_ERR_FNF));
  EXPECT_EQ(Open("D:\\nodir\\missing.txt"), static_cast<UINT_PTR>(SE_ERR_PNF));
  EXPECT_EQ(Open("D:\\docs\\data.xyz", nullptr, nullptr, "print"), static_cast<UINT_PTR>(SE_ERR_NOASSOC));
  // Never handed to the opener: something it could run.
  EXPECT_EQ(Open("D:\\docs\\run.sh"), static_cast<UINT_PTR>(SE_ERR_ACCESSDENIED));
  EXPECT_EQ(Open("D:\\docs\\app.desktop"), static_cast<UINT_PTR>(SE_ERR_ACCESSDENIED));
  // No opener wanted.
  WriteProfileStringA("Shell", "Open", "");
  EXPECT_EQ(Open("D:\\docs\\data.xyz"), static_cast<UINT_PTR>(SE_ERR_NOASSOC));
  EXPECT_EQ(Recorded(0), std::vector<std::string>{});
}

// Whatever starts (a program, a file's association, the desktop's opener)
// starts in the directory the caller names, not in the caller's own.
TEST_F(Shell, EachKindStartsInTheDirectoryGiven) {
  const std::string where = F().root + "/bin/qxwhere";
  std::ofstream(where) << "#!/bin/sh\nprintf '%s|%s\\n' \"$1\" \"$(pwd -P)\" >> \"$QX_SHELL_RECORD\"\n";
  chmod(where.c_str(), 0755);
  std::filesystem::create_directories(Host("work"));
  Touch("docs/notes.txt");
  Touch("docs/picture.xyz");
  WriteProfileStringA("Extensions", "txt", "qxwhere association ^.txt");
  WriteProfileStringA("Shell", "Open", (where + " opener %1").c_str());
  const std::string work = std::filesystem::canonical(Host("work")).string();
  const struct {
    const char *file, *params, *kind;
  } cases[] = {
      {"qxwhere", "program", "program"},
      {"D:\\docs\\notes.txt", nullptr, "association"},
      {"D:\\docs\\picture.xyz", nullptr, "opener"},
  };
  size_t n = 0;
  for (const auto &c : cases) {
    EXPECT_GT(Open(c.file, c.params, "D:\\work"), 32u) << c.kind;
    EXPECT_EQ(Line(++n), std::string(c.kind) + "|" + work);
  }
}

TEST_F(Shell, ProgramsStartWithTheirParameters) {
  EXPECT_GT(Open("qxrecorder", "one two"), 32u);
  EXPECT_EQ(Recorded(1), std::vector<std::string>{"one|two"});
  EXPECT_EQ(Open("nosuchprogram.exe"), static_cast<UINT_PTR>(SE_ERR_FNF));
}

}  // namespace
