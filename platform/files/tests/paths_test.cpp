// Windows paths over the drive table, OpenFile, file handles with share
// modes, names in directories and listings.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "qx/paths.h"
#include "test_tree.h"

namespace {

qxtest::Tree &g_tree = qxtest::TheTree();
namespace fs = std::filesystem;

class Paths : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(g_tree.DriveC() + "/QXTCP/Mail/Inbox");
    qxtest::Tree::Write(g_tree.DriveC() + "/QXTCP/Mail/Index.IDX", "idx");
    qxtest::Tree::Write(g_tree.DriveD() + "/data.bin", "data");
    ASSERT_TRUE(SetCurrentDirectoryA("D:\\"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\qxtcp\\mail"));
  }
  std::string C(const std::string &rest) { return g_tree.DriveC() + rest; }
};

struct PathCase {
  const char *input;
  DWORD error;       // 0: success expected
  const char *full;  // Windows path with stored spellings
  const char *host;  // under the test tree; "=" prefix: an absolute host path
};

TEST_F(Paths, MapsWindowsPathsToHostPaths) {
  const PathCase cases[] = {
      {"C:\\QXTCP\\mail\\inbox", 0, "C:\\QXTCP\\Mail\\Inbox", "/home/drive_c/QXTCP/Mail/Inbox"},
      {"c:/qxtcp/MAIL/index.idx", 0, "C:\\QXTCP\\Mail\\Index.IDX", "/home/drive_c/QXTCP/Mail/Index.IDX"},
      {"C:\\QXTCP\\Mail\\New.TXT", 0, "C:\\QXTCP\\Mail\\New.TXT", "/home/drive_c/QXTCP/Mail/New.TXT"},
      {"C:\\QXTCP\\Mail\\notes.txt. . ", 0, "C:\\QXTCP\\Mail\\notes.txt", "/home/drive_c/QXTCP/Mail/notes.txt"},
      {"C:\\QXTCP\\..\\..\\..\\qxtcp", 0, "C:\\QXTCP", "/home/drive_c/QXTCP"},
      {"inbox\\..\\INDEX.idx", 0, "C:\\QXTCP\\Mail\\Index.IDX", "/home/drive_c/QXTCP/Mail/Index.IDX"},
      {"\\QXTCP\\.\\Mail", 0, "C:\\QXTCP\\Mail", "/home/drive_c/QXTCP/Mail"},
      {"D:DATA.BIN", 0, "D:\\data.bin", "/d/data.bin"},
      {"d:\\", 0, "D:\\", "/d"},
      {"C:\\QXTCP\\Mail\\nul", 0, "C:\\QXTCP\\Mail\\nul", "=/dev/null"},
      {"C:\\QXTCP\\nothere\\x.txt", ERROR_PATH_NOT_FOUND, nullptr, nullptr},
      {"C:\\QXTCP\\Mail\\Index.IDX\\x", ERROR_PATH_NOT_FOUND, nullptr, nullptr},
      {"\\\\server\\share\\x", ERROR_BAD_NETPATH, nullptr, nullptr},
      {"//server/share/x", ERROR_BAD_NETPATH, nullptr, nullptr},
      {"C:\\QXTCP\\a|b", ERROR_INVALID_NAME, nullptr, nullptr},
      {"C:\\QXTCP\\*.txt", ERROR_INVALID_NAME, nullptr, nullptr},
      {"Q:\\x", ERROR_PATH_NOT_FOUND, nullptr, nullptr},
      {"", ERROR_INVALID_NAME, nullptr, nullptr},
  };
  for (const auto &c : cases) {
    std::string host, full;
    DWORD error = 0;
    bool ok = qx::HostPath(c.input, host, full, error);
    if (c.error) {
      EXPECT_FALSE(ok) << c.input;
      EXPECT_EQ(error, c.error) << c.input;
      continue;
    }
    ASSERT_TRUE(ok) << c.input << " error " << error;
    EXPECT_EQ(full, c.full) << c.input;
    std::string want = c.host[0] == '=' ? std::string(c.host + 1) : g_tree.root + c.host;
    EXPECT_EQ(host, want) << c.input;
  }
}

TEST_F(Paths, FullPathNamesAndTheCurrentDirectory) {
  const std::pair<const char *, const char *> cases[] = {
      {"C:\\a\\.\\b\\..\\c", "C:\\a\\c"},
      {"C:", "C:\\QXTCP\\Mail"},
      {"c:\\", "C:\\"},
      {"x.txt", "C:\\QXTCP\\Mail\\x.txt"},
      {"C:\\dir\\", "C:\\dir\\"},
      {"..\\..\\..", "C:\\"},
      {"D:x", "D:\\x"},
      {"C:\\a\\name.", "C:\\a\\name"},
  };
  for (const auto &[input, expected] : cases) {
    char buf[MAX_PATH];
    LPSTR part = nullptr;
    DWORD n = GetFullPathNameA(input, sizeof buf, buf, &part);
    EXPECT_EQ(std::string(buf, n), expected) << input;
  }
  char small[4];
  EXPECT_EQ(GetFullPathNameA("x.txt", sizeof small, small, nullptr), sizeof("C:\\QXTCP\\Mail\\x.txt"));
  char cwd[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof cwd, cwd), 0u);
  EXPECT_STREQ(cwd, "C:\\QXTCP\\Mail");
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\QXTCP\\Mail\\Index.IDX"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_EQ(qx::WindowsPathOf(C("/QXTCP/Mail")), "C:\\QXTCP\\Mail");
  EXPECT_EQ(qx::WindowsPathOf(g_tree.DriveD() + "/data.bin"), "D:\\data.bin");
  EXPECT_EQ(qx::WindowsPathOf("/etc/hosts"), "Z:\\etc\\hosts");
  EXPECT_EQ(GetLogicalDrives() & ((1u << 2) | (1u << 3)), (1u << 2) | (1u << 3));
  EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
}

TEST_F(Paths, WindowsAndSystemDirectoriesLiveInTheTree) {
  char win[MAX_PATH], sys[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(win, sizeof win), 0u);
  ASSERT_GT(GetSystemDirectoryA(sys, sizeof sys), 0u);
  EXPECT_STREQ(win, "C:\\WINDOWS");
  EXPECT_STREQ(sys, "C:\\WINDOWS\\SYSTEM32");
  EXPECT_TRUE(fs::is_directory(C("/WINDOWS/SYSTEM32")));
  char tmp[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof tmp, tmp), 0u);
  EXPECT_EQ(tmp[std::strlen(tmp) - 1], '\\');
}

TEST_F(Paths, OpenFileSearchesAsWindowsDoes) {
  fs::create_directories(C("/WINDOWS/SYSTEM32"));
  fs::create_directories(g_tree.DriveD() + "/bin");
  qxtest::Tree::Write(C("/WINDOWS/only-win.ini"), "w");
  qxtest::Tree::Write(C("/WINDOWS/both.ini"), "w");
  qxtest::Tree::Write(C("/WINDOWS/SYSTEM32/both.ini"), "s");
  qxtest::Tree::Write(C("/WINDOWS/cur.ini"), "w");
  qxtest::Tree::Write(C("/QXTCP/Mail/CUR.INI"), "c");
  qxtest::Tree::Write(g_tree.DriveD() + "/bin/onpath.dll", "p");
  std::string saved_path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", ("/nonexistent:" + g_tree.DriveD() + "/bin").c_str(), 1);
  const std::pair<const char *, const char *> found[] = {
      {"only-win.ini", "C:\\WINDOWS\\only-win.ini"}, {"both.ini", "C:\\WINDOWS\\SYSTEM32\\both.ini"},
      {"cur.ini", "C:\\QXTCP\\Mail\\CUR.INI"},       {"ONPATH.DLL", "D:\\bin\\onpath.dll"},
      {"index.idx", "C:\\QXTCP\\Mail\\Index.IDX"},   {"C:\\qxtcp\\mail\\INDEX.IDX", "C:\\QXTCP\\Mail\\Index.IDX"},
  };
  for (const auto &[name, path] : found) {
    OFSTRUCT of{};
    EXPECT_NE(OpenFile(name, &of, OF_EXIST), HFILE_ERROR) << name;
    EXPECT_STREQ(of.szPathName, path) << name;
  }
  OFSTRUCT of{};
  EXPECT_EQ(OpenFile("missing.ini", &of, OF_EXIST), HFILE_ERROR);
  EXPECT_EQ(of.nErrCode, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenFile("CTL3D32.DLL", &of, OF_EXIST), HFILE_ERROR);
  // Parse mode: a full path whether or not the file exists.
  EXPECT_EQ(OpenFile("sub\\nofile.txt", &of, OF_PARSE), 0);
  EXPECT_STREQ(of.szPathName, "C:\\QXTCP\\Mail\\sub\\nofile.txt");
  EXPECT_EQ(OpenFile("..\\x\\y.", &of, OF_PARSE), 0);
  EXPECT_STREQ(of.szPathName, "C:\\QXTCP\\x\\y");
  EXPECT_EQ(OpenFile("a|b", &of, OF_PARSE), HFILE_ERROR);
  std::string longname(140, 'n');
  EXPECT_EQ(OpenFile(longname.c_str(), &of, OF_PARSE), HFILE_ERROR);  // never a cut path
  setenv("PATH", saved_path.c_str(), 1);
}

TEST_F(Paths, OpenFileCreatesReadsWritesAndDeletes) {
  OFSTRUCT of{};
  HFILE f = OpenFile("made.dat", &of, OF_CREATE | OF_READWRITE);
  ASSERT_NE(f, HFILE_ERROR);
  EXPECT_STREQ(of.szPathName, "C:\\QXTCP\\Mail\\made.dat");
  EXPECT_EQ(_lwrite(f, "hello world", 11), 11u);
  EXPECT_EQ(_llseek(f, 6, FILE_BEGIN), 6);
  char buf[16] = {};
  EXPECT_EQ(_lread(f, buf, sizeof buf), 5u);
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(_lclose(f), 0);
  EXPECT_EQ(_lclose(f), HFILE_ERROR);
  f = _lopen("MADE.DAT", OF_READ);
  ASSERT_NE(f, HFILE_ERROR);
  EXPECT_EQ(_lwrite(f, "x", 1), static_cast<UINT>(HFILE_ERROR));  // opened for reading only
  _lclose(f);
  EXPECT_NE(OpenFile("made.dat", &of, OF_DELETE), HFILE_ERROR);
  EXPECT_FALSE(fs::exists(C("/QXTCP/Mail/made.dat")));
}

TEST_F(Paths, CreateFileDispositionsAndReadOnly) {
  const char *name = "C:\\QXTCP\\disp.txt";
  HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "abcdef", 6, &n, nullptr));
  EXPECT_EQ(GetFileSize(h, nullptr), 6u);
  EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_BEGIN), 3u);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 3u);
  EXPECT_FALSE(ReadFile(h, &n, 1, &n, nullptr));  // write-only handle
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(CreateFileA("C:\\QXTCP\\none.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  // Directories open only with backup semantics.
  EXPECT_EQ(CreateFileA("C:\\QXTCP", GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  h = CreateFileA("C:\\QXTCP", GENERIC_READ, 7, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  // The read-only attribute holds for every user, root included.
  ASSERT_TRUE(SetFileAttributesA(name, FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(GetFileAttributesA(name) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA(name));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(qxtest::Tree::Read(C("/QXTCP/disp.txt")), "abc");
  ASSERT_TRUE(SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA(name));
  EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA("C:\\QXTCP"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(Paths, ShareModesBetweenHandles) {
  const char *name = "C:\\QXTCP\\shared.txt";
  struct Step {
    DWORD access1, share1, access2, share2;
    bool second_opens;
  };
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
  const Step steps[] = {
      {R, SR | SW, R | W, SR | SW, true},
      {R, 0, R, SR | SW, false},       // exclusive first open
      {R, SR, R, SR, true},            // readers sharing reads
      {R, SR, W, SR | SW, false},      // first denies writing
      {R | W, SR | SW, R, SR, false},  // second would deny the first's write
      {W, SW, W, SW, true},
      {W, SW | SR, R, SW | SR, true},
      {R, SW, R, SR | SW, false},  // first denies reading
  };
  for (const auto &s : steps) {
    HANDLE a = CreateFileA(name, s.access1, s.share1, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    HANDLE b = CreateFileA(name, s.access2, s.share2, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(b != INVALID_HANDLE_VALUE, s.second_opens)
        << s.access1 << "/" << s.share1 << " then " << s.access2 << "/" << s.share2;
    if (b == INVALID_HANDLE_VALUE)
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    else
      CloseHandle(b);
    CloseHandle(a);
    // Closing the first handle lifts its denial.
    b = CreateFileA(name, s.access2, s.share2, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(b, INVALID_HANDLE_VALUE);
    CloseHandle(b);
  }
  // A refused CREATE_ALWAYS leaves the other open's data alone.
  HANDLE a = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n;
  WriteFile(a, "keep", 4, &n, nullptr);
  EXPECT_EQ(CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  CloseHandle(a);
  EXPECT_EQ(qxtest::Tree::Read(C("/QXTCP/shared.txt")), "keep");
}

// A reopened handle reads the same file with a file pointer of its own, keeps
// the original's share-mode rules, and outlives a rename of the file.
TEST_F(Paths, ReOpenFileHasItsOwnFilePointer) {
  const char *name = "C:\\QXTCP\\reopen.txt";
  HANDLE a = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(a, "0123456789", 10, &n, nullptr));
  ASSERT_EQ(SetFilePointer(a, 3, nullptr, FILE_BEGIN), 3u);
  HANDLE b = ReOpenFile(a, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  char buffer[8] = {};
  ASSERT_TRUE(ReadFile(b, buffer, 5, &n, nullptr));
  EXPECT_EQ(std::string(buffer, n), "01234");
  EXPECT_EQ(SetFilePointer(a, 0, nullptr, FILE_CURRENT), 3u);
  // The first handle denies other writers: a writable reopen is refused.
  EXPECT_EQ(ReOpenFile(a, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(MoveFileA(name, "C:\\QXTCP\\reopen2.txt"));
  HANDLE c = ReOpenFile(b, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  ASSERT_NE(c, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(ReadFile(c, buffer, 2, &n, nullptr));
  EXPECT_EQ(std::string(buffer, n), "01");
  CloseHandle(c);
  CloseHandle(b);
  CloseHandle(a);
  EXPECT_EQ(ReOpenFile(a, GENERIC_READ, FILE_SHARE_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DeleteFileA("C:\\QXTCP\\reopen2.txt");
}

TEST_F(Paths, MoveFileNeverReplaces) {
  qxtest::Tree::Write(C("/QXTCP/old.msg"), "old");
  qxtest::Tree::Write(C("/QXTCP/target.msg"), "target");
  EXPECT_FALSE(MoveFileA("C:\\QXTCP\\old.msg", "C:\\QXTCP\\TARGET.MSG"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(qxtest::Tree::Read(C("/QXTCP/old.msg")), "old");
  EXPECT_EQ(qxtest::Tree::Read(C("/QXTCP/target.msg")), "target");
  EXPECT_TRUE(MoveFileA("C:\\QXTCP\\old.msg", "C:\\QXTCP\\Mail\\Inbox\\new.msg"));
  EXPECT_EQ(qxtest::Tree::Read(C("/QXTCP/Mail/Inbox/new.msg")), "old");
  EXPECT_FALSE(fs::exists(C("/QXTCP/old.msg")));
  EXPECT_FALSE(MoveFileA("C:\\QXTCP\\old.msg", "C:\\QXTCP\\x.msg"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A change of case only renames the one file.
  EXPECT_TRUE(MoveFileA("C:\\QXTCP\\target.msg", "C:\\QXTCP\\Target.MSG"));
  EXPECT_TRUE(fs::exists(C("/QXTCP/Target.MSG")));
  EXPECT_FALSE(fs::exists(C("/QXTCP/target.msg")));
  // Replacing is done only when asked for.
  EXPECT_TRUE(MoveFileExA("C:\\QXTCP\\Mail\\Inbox\\new.msg", "C:\\QXTCP\\target.msg", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(qxtest::Tree::Read(C("/QXTCP/Target.MSG")), "old");
  // Across drives a file is copied.
  EXPECT_TRUE(MoveFileA("C:\\QXTCP\\Target.MSG", "D:\\moved.msg"));
  EXPECT_EQ(qxtest::Tree::Read(g_tree.DriveD() + "/moved.msg"), "old");
  EXPECT_TRUE(CopyFileA("D:\\moved.msg", "D:\\copy.msg", TRUE));
  EXPECT_FALSE(CopyFileA("D:\\moved.msg", "D:\\copy.msg", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_TRUE(CopyFileA("D:\\data.bin", "D:\\copy.msg", FALSE));
  EXPECT_EQ(qxtest::Tree::Read(g_tree.DriveD() + "/copy.msg"), "data");
}

TEST_F(Paths, DirectoriesAndTempNames) {
  EXPECT_TRUE(CreateDirectoryA("C:\\QXTCP\\NewDir", nullptr));
  EXPECT_FALSE(CreateDirectoryA("c:\\qxtcp\\newdir", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA("C:\\QXTCP\\No\\Deeper", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  qxtest::Tree::Write(C("/QXTCP/NewDir/f"), "");
  EXPECT_FALSE(RemoveDirectoryA("C:\\QXTCP\\NewDir"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(DeleteFileA("C:\\QXTCP\\NewDir\\F"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\QXTCP\\NEWDIR"));
  EXPECT_FALSE(RemoveDirectoryA("D:\\"));
  char a[MAX_PATH], b[MAX_PATH];
  UINT ua = GetTempFileNameA("D:\\", "QXT", 0, a);
  UINT ub = GetTempFileNameA("D:\\", "QXT", 0, b);
  ASSERT_NE(ua, 0u);
  ASSERT_NE(ub, 0u);
  EXPECT_STRNE(a, b);
  EXPECT_EQ(std::string(a).substr(0, 6), "D:\\QXT");
  EXPECT_EQ(std::string(a).substr(std::strlen(a) - 4), ".TMP");
  EXPECT_NE(GetFileAttributesA(a), INVALID_FILE_ATTRIBUTES);  // made, so nobody else takes it
  EXPECT_EQ(GetTempFileNameA("D:\\", "QXT", 0x1234, a), 0x1234u);
  EXPECT_STREQ(a, "D:\\QXT1234.TMP");
  EXPECT_EQ(GetFileAttributesA(a), INVALID_FILE_ATTRIBUTES);
}

// The stored spelling HostPath finds for a Windows path ("" when missing).
std::string Stored(const std::string &path) {
  std::string host, full;
  DWORD error;
  if (!qx::HostPath(path, host, full, error)) return "error";
  return fs::exists(fs::symlink_status(host)) ? full : "";
}

// Runs f in a child process: a change the layer in this process never saw.
template <typename F>
void InChild(F f) {
  pid_t child = fork();
  if (child == 0) {
    f();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Names are found without regard to case in a large directory, and changes
// made behind the layer's back (another process, plain host calls) are seen
// at once, each step after the directory has been looked at.
TEST_F(Paths, CaseBlindLookupsFollowChangesMadeElsewhere) {
  const std::string dir = C("/Big");
  fs::create_directories(dir);
  for (int i = 0; i < 2000; ++i) qxtest::Tree::Write(dir + "/Msg" + std::to_string(i) + ".Txt", "");
  struct Step {
    std::function<void()> change;  // made outside the layer
    const char *lookup;
    const char *found;  // "" when missing
  };
  const Step steps[] = {
      {nullptr, "C:\\big\\MSG17.TXT", "C:\\Big\\Msg17.Txt"},
      {nullptr, "C:\\big\\new.txt", ""},
      {[&] { InChild([&] { qxtest::Tree::Write(dir + "/New.TXT", ""); }); }, "C:\\big\\new.txt", "C:\\Big\\New.TXT"},
      {[&] { InChild([&] { fs::remove(dir + "/New.TXT"); }); }, "C:\\big\\NEW.txt", ""},
      {[&] { fs::rename(dir + "/Msg5.Txt", dir + "/MSG5.TXT"); }, "C:\\big\\msg5.txt", "C:\\Big\\MSG5.TXT"},
      // Two spellings: the first in byte order wins, the exact one always.
      {[&] { qxtest::Tree::Write(dir + "/msg5.TXT", ""); }, "C:\\big\\Msg5.txt", "C:\\Big\\MSG5.TXT"},
      {nullptr, "C:\\big\\msg5.TXT", "C:\\Big\\msg5.TXT"},
      {[&] { fs::remove(dir + "/MSG5.TXT"); }, "C:\\big\\Msg5.txt", "C:\\Big\\msg5.TXT"},
      // A lower-case name: the last in byte order among its spellings.
      {[&] { InChild([&] { qxtest::Tree::Write(dir + "/m7.msg", ""); }); }, "C:\\big\\M7.MSG", "C:\\Big\\m7.msg"},
      {[&] { qxtest::Tree::Write(dir + "/M7.msg", ""); }, "C:\\big\\m7.MSG", "C:\\Big\\M7.msg"},
      {nullptr, "C:\\big\\m7.msg", "C:\\Big\\m7.msg"},
      {[&] { InChild([&] { fs::remove(dir + "/M7.msg"); }); }, "C:\\big\\M7.MSG", "C:\\Big\\m7.msg"},
      {[&] { fs::remove(dir + "/m7.msg"); }, "C:\\big\\M7.MSG", ""},
      // The directory itself replaced by another of the same name.
      {[&] {
         fs::rename(dir, C("/Big.old"));
         fs::create_directories(dir);
         qxtest::Tree::Write(dir + "/Other.Txt", "");
       },
       "C:\\big\\msg17.txt", ""},
      {nullptr, "C:\\big\\OTHER.TXT", "C:\\Big\\Other.Txt"},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    if (steps[i].change) steps[i].change();
    EXPECT_EQ(Stored(steps[i].lookup), steps[i].found);
  }
  fs::remove_all(C("/Big.old"));
}

// Folders on the way to a file are remembered once walked often enough: a
// rename, a removal, a new exact spelling or a symbolic link put in by
// another process anywhere on the way is seen by the next lookup and the next
// open. A child of fork that looks paths up keeps the parent's view intact.
TEST_F(Paths, WalkedFoldersFollowChangesOnTheWay) {
  const std::string top = C("/Deep");
  fs::create_directories(top + "/Mid/Leaf");
  qxtest::Tree::Write(top + "/Mid/Leaf/file.txt", "old");
  for (int i = 0; i < qx::kWalksBeforeRemembering; ++i)
    ASSERT_EQ(Stored("C:\\deep\\mid\\leaf\\file.txt"), "C:\\Deep\\Mid\\Leaf\\file.txt");
  auto read = [](const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return std::string("(no file)");
    char buf[16] = {};
    const size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    return std::string(buf, n);
  };
  struct Step {
    std::function<void()> change;  // made by another process
    const char *lookup;
    const char *found;     // "" when missing
    const char *contents;  // what an open of `lookup` reads (null: not tried)
  };
  const Step steps[] = {
      {nullptr, "C:\\deep\\mid\\leaf\\FILE.TXT", "C:\\Deep\\Mid\\Leaf\\file.txt", "old"},
      // A child looking up the same folders leaves this process's view as it was.
      {[&] { InChild([&] { (void)Stored("C:\\deep\\mid\\leaf\\x"); }); }, "C:\\deep\\mid\\leaf\\file.txt",
       "C:\\Deep\\Mid\\Leaf\\file.txt", "old"},
      {[&] {
         InChild([&] {
           fs::rename(top + "/Mid", top + "/Mid.old");
           fs::create_directories(top + "/Mid/Leaf");
           qxtest::Tree::Write(top + "/Mid/Leaf/other.txt", "new");
         });
       },
       "C:\\deep\\mid\\leaf\\file.txt", "", "(no file)"},
      {nullptr, "C:\\DEEP\\MID\\LEAF\\OTHER.TXT", "C:\\Deep\\Mid\\Leaf\\other.txt", "new"},
      // The exact spelling of a folder wins once it exists.
      {[&] {
         InChild([&] {
           fs::create_directories(C("/deep/mid/leaf"));
           qxtest::Tree::Write(C("/deep/mid/leaf/other.txt"), "exact");
         });
       },
       "C:\\deep\\mid\\leaf\\other.txt", "C:\\deep\\mid\\leaf\\other.txt", "exact"},
      {[&] { InChild([&] { fs::remove_all(C("/deep")); }); }, "C:\\deep\\mid\\leaf\\other.txt",
       "C:\\Deep\\Mid\\Leaf\\other.txt", "new"},
      // A folder on the way replaced by a link to another one.
      {[&] {
         InChild([&] {
           fs::remove_all(top + "/Mid");
           fs::create_directory_symlink(top + "/Mid.old", top + "/Mid");
         });
       },
       "C:\\deep\\mid\\leaf\\file.txt", "C:\\Deep\\Mid\\Leaf\\file.txt", "old"},
      {[&] { InChild([&] { fs::remove_all(top); }); }, "C:\\deep\\mid\\leaf\\file.txt", "error", "(no file)"},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    if (steps[i].change) steps[i].change();
    EXPECT_EQ(Stored(steps[i].lookup), steps[i].found);
    if (steps[i].contents) {
      EXPECT_EQ(read(steps[i].lookup), steps[i].contents);
    }
  }
}

// A change landing within the same clock tick as the layer's last look
// leaves the directory's mtime as it was; it is still seen within seconds.
TEST_F(Paths, ChangeHiddenBySameMtimeIsSeenSoon) {
  const std::string dir = C("/Tick");
  fs::create_directories(dir);
  qxtest::Tree::Write(dir + "/a", "");
  EXPECT_EQ(Stored("C:\\tick\\SAME.TXT"), "");
  struct stat before {};
  ASSERT_EQ(stat(dir.c_str(), &before), 0);
  qxtest::Tree::Write(dir + "/Same.Txt", "");
  struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
  std::string found;
  for (int tries = 0; tries < 60 && found.empty(); ++tries) {
    found = Stored("C:\\tick\\SAME.TXT");
    if (found.empty()) usleep(50 * 1000);
  }
  EXPECT_EQ(found, "C:\\Tick\\Same.Txt");
}

// The layer's own creates, renames and deletes keep the names right: case
// kept on creation, never a second name differing only in case.
TEST_F(Paths, OwnChangesNeverMakeTwoSpellings) {
  fs::create_directories(C("/Own"));
  for (int i = 0; i < 500; ++i) qxtest::Tree::Write(C("/Own/f") + std::to_string(i), "");
  auto create = [](const char *path, DWORD disposition) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return error;
  };
  EXPECT_EQ(create("C:\\own\\Mixed.Txt", CREATE_NEW), 0u);
  EXPECT_EQ(create("C:\\OWN\\MIXED.TXT", CREATE_NEW), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(create("C:\\own\\mixed.txt", CREATE_ALWAYS), 0u);
  EXPECT_TRUE(MoveFileA("C:\\own\\F1", "C:\\own\\Moved.Txt"));
  EXPECT_FALSE(MoveFileA("C:\\own\\F2", "C:\\own\\MOVED.TXT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CopyFileA("C:\\own\\f3", "C:\\own\\moved.TXT", TRUE));
  EXPECT_EQ(create("C:\\own\\F7", CREATE_NEW), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(MoveFileA("C:\\own\\f9", "C:\\own\\F8"));  // f8 is there in lower case
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CreateDirectoryA("C:\\own\\Sub", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\own\\SUB", nullptr));
  EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "v", "C:\\own\\Settings.Ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "w", "C:\\own\\SETTINGS.INI"));
  int fd = _open("C:\\own\\CRT.dat", _O_CREAT | _O_WRONLY | _O_EXCL, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  _close(fd);
  EXPECT_LT(_open("C:\\own\\crt.DAT", _O_CREAT | _O_WRONLY | _O_EXCL, _S_IREAD | _S_IWRITE), 0);
  EXPECT_EQ(Stored("C:\\own\\MIXED.txt"), "C:\\Own\\Mixed.Txt");
  EXPECT_EQ(Stored("C:\\own\\moved.txt"), "C:\\Own\\Moved.Txt");
  EXPECT_EQ(Stored("C:\\own\\f1"), "");
  // Deleted, then made again in another case: the new spelling is kept.
  EXPECT_TRUE(DeleteFileA("C:\\own\\MIXED.TXT"));
  EXPECT_EQ(Stored("C:\\own\\mixed.txt"), "");
  EXPECT_EQ(create("C:\\own\\MIXED.txt", CREATE_NEW), 0u);
  EXPECT_EQ(Stored("C:\\own\\mixed.txt"), "C:\\Own\\MIXED.txt");
  EXPECT_TRUE(MoveFileA("C:\\own\\mixed.txt", "C:\\own\\Mixed.TXT"));  // a change of case only
  EXPECT_EQ(Stored("C:\\own\\MIXED.TXT"), "C:\\Own\\Mixed.TXT");
  EXPECT_TRUE(RemoveDirectoryA("C:\\own\\SUB"));
  EXPECT_EQ(Stored("C:\\own\\sub"), "");
  // No two names in the directory differ only in case.
  std::vector<std::string> lower;
  for (const auto &entry : fs::directory_iterator(C("/Own"))) {
    std::string name = entry.path().filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
    lower.push_back(name);
  }
  std::sort(lower.begin(), lower.end());
  EXPECT_EQ(std::adjacent_find(lower.begin(), lower.end()), lower.end());
  EXPECT_EQ(lower.size(), 499u + 4u);  // f0..f499 less f1, plus mixed, moved, settings.ini, crt.dat
}

std::vector<std::string> List(const char *pattern, std::vector<std::string> *alternates = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern, &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(fd.cFileName);
    if (alternates) alternates->push_back(fd.cAlternateFileName);
  } while (FindNextFileA(h, &fd));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  return names;
}

TEST_F(Paths, ListingsWithWildcards) {
  fs::create_directories(C("/List"));
  for (const char *n : {"b.TXT", "A.txt", "c.dat", "Long File Name.text", "m12.msg", "m3.msg", "README"})
    qxtest::Tree::Write(C("/List/") + n, "x");
  fs::create_directories(C("/List/Sub"));
  using V = std::vector<std::string>;
  EXPECT_EQ(List("C:\\list\\*.TXT"), (V{"A.txt", "b.TXT"}));
  EXPECT_EQ(List("C:\\List\\*.*"),
            (V{".", "..", "A.txt", "b.TXT", "c.dat", "Long File Name.text", "m12.msg", "m3.msg", "README", "Sub"}));
  EXPECT_EQ(List("C:\\List\\m*.msg"), (V{"m12.msg", "m3.msg"}));
  EXPECT_EQ(List("C:\\List\\?.dat"), (V{"c.dat"}));
  EXPECT_EQ(List("C:\\List\\readme.*"), (V{"README"}));
  EXPECT_EQ(List("C:\\List\\*."), (V{".", "..", "README", "Sub"}));
  EXPECT_EQ(List("C:\\List\\none*"), V{});
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  V roots = List("D:\\*.*");
  EXPECT_TRUE(std::find(roots.begin(), roots.end(), ".") == roots.end());
  EXPECT_TRUE(std::find(roots.begin(), roots.end(), "data.bin") != roots.end());
  V alternates;
  V names = List("C:\\List\\L*", &alternates);
  ASSERT_EQ(names, (V{"Long File Name.text"}));
  ASSERT_EQ(alternates[0].size(), 12u);
  EXPECT_EQ(alternates[0].substr(0, 2), "LO");
  EXPECT_EQ(alternates[0].substr(6), "~1.TEX");
  alternates.clear();
  List("C:\\List\\a.txt", &alternates);
  EXPECT_EQ(alternates, (V{""}));
  alternates.clear();
  List("C:\\List\\L*", &alternates);
  EXPECT_EQ(List(("C:\\List\\" + alternates[0]).c_str()), (V{"Long File Name.text"}));
}

// The alternate name of every entry, by name, as a listing gives them.
std::map<std::string, std::string> Alternates(const std::string &dir) {
  std::map<std::string, std::string> out;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do out[fd.cFileName] = fd.cAlternateFileName;
  while (FindNextFileA(h, &fd));
  FindClose(h);
  return out;
}

std::string ShortPath(const std::string &path) {
  char buffer[MAX_PATH];
  DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  return n && n < sizeof buffer ? std::string(buffer) : "<" + std::to_string(GetLastError()) + ">";
}

// Alternate names are made from each name, so they stay put while other
// names come and go; every entry, also one of several names that differ only
// in case, is reached by its 8.3 form in lower case.
TEST_F(Paths, AlternateNamesAreStableAndReachEveryEntry) {
  fs::create_directories(C("/Alt/Documents and Settings"));
  for (const char *n : {"document_final.txt", "README", "readme", "Readme", "Makefile", "a b"})
    qxtest::Tree::Write(C("/Alt/") + n, n);
  auto before = Alternates("C:\\Alt");
  EXPECT_EQ(before["readme"], "");  // the spelling a case-blind lookup prefers
  EXPECT_EQ(before["Makefile"], "");
  EXPECT_NE(before["README"], "");
  EXPECT_NE(before["Readme"], "");
  EXPECT_NE(before["README"], before["Readme"]);
  EXPECT_NE(before["a b"], "");
  EXPECT_NE(before["Documents and Settings"], "");
  // A sibling that sorts first and shares the stem changes no other name.
  qxtest::Tree::Write(C("/Alt/document_draft.txt"), "draft");
  auto after = Alternates("C:\\Alt");
  for (const auto &[name, alternate] : before) EXPECT_EQ(after[name], alternate) << name;
  EXPECT_NE(after["document_draft.txt"], after["document_final.txt"]);
  // Each entry's lower-cased 8.3 form opens that entry and no other.
  for (const auto &[name, alternate] : after) {
    if (name == "." || name == "..") continue;
    std::string form = alternate.empty() ? name : alternate;
    std::transform(form.begin(), form.end(), form.begin(), [](unsigned char ch) { return std::tolower(ch); });
    if (name == "Documents and Settings") {
      EXPECT_NE(GetFileAttributesA(("C:\\alt\\" + form).c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
      continue;
    }
    HANDLE h =
        CreateFileA(("C:\\alt\\" + form).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name << " as " << form;
    char text[64] = {};
    DWORD got = 0;
    ReadFile(h, text, sizeof text - 1, &got, nullptr);
    CloseHandle(h);
    EXPECT_EQ(std::string(text, got), name == "document_draft.txt" ? "draft" : name) << form;
  }
  // Alternate names work inside a path, and GetShortPathNameA gives them.
  const std::string dir_alternate = after["Documents and Settings"];
  qxtest::Tree::Write(C("/Alt/Documents and Settings/Profile Data.json"), "{}");
  const std::string file_short = ShortPath("C:\\Alt\\Documents and Settings\\Profile Data.json");
  EXPECT_EQ(file_short.substr(0, 7 + dir_alternate.size()), "C:\\Alt\\" + dir_alternate);
  EXPECT_NE(GetFileAttributesA(file_short.c_str()), INVALID_FILE_ATTRIBUTES) << file_short;
  EXPECT_EQ(ShortPath("C:\\ALT\\makefile"), "C:\\Alt\\Makefile");
  EXPECT_EQ(ShortPath("C:\\Alt\\none.txt"), "<" + std::to_string(ERROR_FILE_NOT_FOUND) + ">");
  // A real file that holds the name an alternate would have moves the
  // alternate on (~2) instead of hiding either file.
  const std::string taken = after["a b"];
  qxtest::Tree::Write(C("/Alt/") + taken, "real");
  auto moved = Alternates("C:\\Alt");
  EXPECT_EQ(moved[taken], "");
  EXPECT_EQ(moved["a b"], taken.substr(0, 6) + "~2");
  EXPECT_EQ(List(("C:\\Alt\\" + moved["a b"]).c_str()), std::vector<std::string>{"a b"});
}

}  // namespace
