// The C runtime's file calls: text mode on disk and in memory, physical
// offsets, Ctrl-Z, share-deny opens between processes, names and strings.
// windows.h comes first on purpose: the C++ headers included after it must
// not take fopen and friends back to the host's own calls.
#include <windows.h>
#include <direct.h>
#include <io.h>
#include <share.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "test_tree.h"

namespace {

qxtest::Tree &g_tree = qxtest::TheTree();

std::string D(const char *name) { return g_tree.DriveD() + "/" + name; }

TEST(TextMode, StreamsKeepCrLfOnDiskAndPhysicalOffsets) {
  FILE *f = fopen("D:\\text.txt", "wt");
  ASSERT_NE(f, nullptr);
  fprintf(f, "line one\n");
  fputs("second\n", f);
  fputc('x', f);
  fputc('\n', f);
  EXPECT_EQ(ftell(f), 21);
  fclose(f);
  EXPECT_EQ(qxtest::Tree::Read(D("text.txt")), "line one\r\nsecond\r\nx\r\n");

  for (int buffered = 0; buffered < 2; ++buffered) {
    f = fopen("d:\\TEXT.TXT", "r");  // text is the default
    ASSERT_NE(f, nullptr);
    if (buffered) setvbuf(f, nullptr, _IOFBF, 8192);  // as the mail viewer asks
    std::vector<std::pair<long, std::string>> lines;
    char buf[64];
    for (;;) {
      long at = ftell(f);
      if (!fgets(buf, sizeof buf, f)) break;
      lines.emplace_back(at, buf);
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], (std::pair<long, std::string>{0, "line one\n"}));
    EXPECT_EQ(lines[1], (std::pair<long, std::string>{10, "second\n"}));
    EXPECT_EQ(lines[2], (std::pair<long, std::string>{18, "x\n"}));
    // Offsets kept earlier seek back exactly.
    ASSERT_EQ(fseek(f, lines[1].first, SEEK_SET), 0);
    ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "second\n");
    EXPECT_EQ(ftell(f), 18);
    fseek(f, 0, SEEK_END);
    EXPECT_EQ(ftell(f), 21);
    fclose(f);
  }
  f = fopen("D:\\text.txt", "rb");
  char raw[32] = {};
  EXPECT_EQ(fread(raw, 1, sizeof raw, f), 21u);
  EXPECT_EQ(std::string(raw), "line one\r\nsecond\r\nx\r\n");
  fclose(f);
}

TEST(TextMode, LinesCharactersAndPushBackMix) {
  qxtest::Tree::Write(D("mix.txt"), "first line\r\nab\r\nlast");
  FILE *f = fopen("D:\\mix.txt", "rt");
  ASSERT_NE(f, nullptr);
  char buf[8];
  ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);  // a long line comes in pieces
  EXPECT_STREQ(buf, "first l");
  EXPECT_EQ(ftell(f), 7);
  ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);
  EXPECT_STREQ(buf, "ine\n");
  EXPECT_EQ(ftell(f), 12);
  EXPECT_EQ(fgetc(f), 'a');
  EXPECT_EQ(ungetc('a', f), 'a');
  ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);  // the pushed-back byte comes first
  EXPECT_STREQ(buf, "ab\n");
  EXPECT_EQ(ftell(f), 16);
  ASSERT_NE(fgets(buf, 1, f), nullptr);
  EXPECT_STREQ(buf, "");
  ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);
  EXPECT_STREQ(buf, "last");
  EXPECT_FALSE(feof(f));
  EXPECT_EQ(fgets(buf, sizeof buf, f), nullptr);
  EXPECT_TRUE(feof(f));
  EXPECT_EQ(fgetc(f), EOF);
  rewind(f);
  EXPECT_FALSE(feof(f));
  ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);
  EXPECT_STREQ(buf, "first l");
  fclose(f);
}

TEST(TextMode, CtrlZEndsTextAndLoneCrStays) {
  qxtest::Tree::Write(D("ctrlz.txt"), std::string("a\rb\r\ncd\x1A"
                                                  "hidden\r\n"));
  FILE *f = fopen("D:\\ctrlz.txt", "rt");
  ASSERT_NE(f, nullptr);
  char buf[64] = {};
  size_t n = fread(buf, 1, sizeof buf, f);
  EXPECT_EQ(std::string(buf, n), "a\rb\ncd");
  EXPECT_TRUE(feof(f));
  EXPECT_EQ(ftell(f), 7);  // at the Ctrl-Z
  fclose(f);
  f = fopen("D:\\ctrlz.txt", "rb");
  EXPECT_EQ(fread(buf, 1, sizeof buf, f), 16u);
  fclose(f);

  int fd = _open("D:\\ctrlz.txt", _O_RDONLY | _O_TEXT);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_read(fd, buf, 2), 2);  // "a\r": a lone CR is data
  EXPECT_EQ(std::string(buf, 2), "a\r");
  EXPECT_EQ(_read(fd, buf, 2), 2);  // "b\r" + peek of "\n" -> "b\n"
  EXPECT_EQ(std::string(buf, 2), "b\n");
  EXPECT_EQ(_tell(fd), 5);
  EXPECT_EQ(_read(fd, buf, sizeof buf), 2);
  EXPECT_EQ(std::string(buf, 2), "cd");
  EXPECT_EQ(_read(fd, buf, sizeof buf), 0);
  EXPECT_EQ(_eof(fd), 1);
  EXPECT_EQ(_lseek(fd, 0, SEEK_SET), 0);
  EXPECT_EQ(_eof(fd), 0);
  EXPECT_EQ(_filelength(fd), 16);
  EXPECT_EQ(_close(fd), 0);

  // Appending in text read-write mode drops a final Ctrl-Z first.
  qxtest::Tree::Write(D("append.txt"), std::string("old\r\n\x1A"));
  f = fopen("D:\\append.txt", "a+");
  ASSERT_NE(f, nullptr);
  fputs("new\n", f);
  fclose(f);
  EXPECT_EQ(qxtest::Tree::Read(D("append.txt")), "old\r\nnew\r\n");
}

TEST(TextMode, DescriptorsTranslateOnlyInTextMode) {
  int fd = _open("D:\\fd.txt", _O_RDWR | _O_CREAT | _O_TRUNC | _O_TEXT, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_write(fd, "a\nb\n", 4), 4);
  EXPECT_EQ(_tell(fd), 6);
  EXPECT_EQ(_setmode(fd, _O_BINARY), _O_TEXT);
  EXPECT_EQ(_write(fd, "c\n", 2), 2);
  EXPECT_EQ(_lseek(fd, 0, SEEK_SET), 0);
  char buf[16];
  EXPECT_EQ(_read(fd, buf, sizeof buf), 8);
  EXPECT_EQ(std::string(buf, 8), "a\r\nb\r\nc\n");
  EXPECT_EQ(_chsize(fd, 3), 0);
  EXPECT_EQ(_filelength(fd), 3);
  _close(fd);
  // _fmode decides for opens that name no mode.
  ASSERT_EQ(_set_fmode(_O_BINARY), 0);
  int mode = 0;
  EXPECT_EQ(_get_fmode(&mode), 0);
  EXPECT_EQ(mode, _O_BINARY);
  FILE *f = fopen("D:\\raw.txt", "w");
  fputs("x\n", f);
  fclose(f);
  EXPECT_EQ(_set_fmode(3), EINVAL);
  _fmode = _O_TEXT;
  EXPECT_EQ(qxtest::Tree::Read(D("raw.txt")), "x\n");
}

// Text reads from a pipe: a CR that ends one read and the byte after it,
// written later, must both arrive, translated as if read in one piece. The
// writer sends its second part once the reader's first read has returned
// (or after a short while, should that read wait for more).
struct PipeCase {
  const char *first, *second;  // the writer's two writes; then it closes
  unsigned chunk;              // the reader's count per _read
  const char *expected;
};

std::string ReadTextPipe(const PipeCase &c) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  EXPECT_EQ(_setmode(fds[0], _O_TEXT), _O_BINARY);
  std::mutex m;
  std::condition_variable cv;
  bool first_read = false;
  std::thread writer([&] {
    EXPECT_EQ(write(fds[1], c.first, std::strlen(c.first)), static_cast<ssize_t>(std::strlen(c.first)));
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::milliseconds(300), [&] { return first_read; });
    EXPECT_EQ(write(fds[1], c.second, std::strlen(c.second)), static_cast<ssize_t>(std::strlen(c.second)));
    close(fds[1]);
  });
  std::string got;
  std::vector<char> buf(c.chunk);
  for (int reads = 0; reads < 64; ++reads) {
    int n = _read(fds[0], buf.data(), c.chunk);
    {
      std::lock_guard lock(m);
      first_read = true;
    }
    cv.notify_one();
    if (n <= 0) break;
    got.append(buf.data(), static_cast<size_t>(n));
  }
  writer.join();
  _close(fds[0]);
  return got;
}

TEST(TextMode, PipeReadsNeverLoseTheByteAfterACr) {
  const PipeCase cases[] = {
      {"a\r", "\nb", 64, "a\nb"},      // CR LF split between two writes
      {"a\r", "b", 64, "a\rb"},        // a lone CR, the next byte written later
      {"a\r", "\r\nb", 64, "a\r\nb"},  // a lone CR, then CR LF
      {"a\r", "", 64, "a\r"},          // a CR at the end of the data
      {"\r", "\nb", 64, "\nb"},        // a read that holds nothing but the CR
      {"a\r", "\nb", 1, "a\nb"},       // one byte at a time
      {"a\r", "b\r\n", 2, "a\rb\n"},
      {"a\r",
       "\x1A"
       "b",
       64, "a\r"},  // Ctrl-Z after a lone CR still ends the text
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "first=" << testing::PrintToString(std::string(c.first)) << " second="
                                    << testing::PrintToString(std::string(c.second)) << " chunk=" << c.chunk);
    EXPECT_EQ(ReadTextPipe(c), c.expected);
  }
}

// A child holds a share-deny open; the parent is refused until the child is
// killed, when the lock goes with it.
void HoldInChild(const char *path, int shflag, pid_t &child) {
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = _sopen(path, _O_RDWR | _O_CREAT | _O_BINARY, shflag, _S_IREAD | _S_IWRITE);
    char ok = fd >= 0 ? 'k' : 'e';
    if (write(pipefd[1], &ok, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(pipefd[1]);
  char ok = 0;
  ASSERT_EQ(read(pipefd[0], &ok, 1), 1);
  close(pipefd[0]);
  ASSERT_EQ(ok, 'k');
}

TEST(ShareModes, DenyLockHeldByAProcessIsReleasedWhenItIsKilled) {
  pid_t child;
  HoldInChild("D:\\locked.dat", _SH_DENYRW, child);
  errno = 0;
  EXPECT_EQ(_sopen("D:\\locked.dat", _O_RDONLY, _SH_DENYNO), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(_fsopen("D:\\locked.dat", "rb", _SH_DENYNO), nullptr);
  HANDLE h = CreateFileA("D:\\locked.dat", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  kill(child, SIGKILL);
  int status;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  int fd = _sopen("D:\\locked.dat", _O_RDWR, _SH_DENYRW);
  EXPECT_GE(fd, 0);
  _close(fd);

  HoldInChild("D:\\locked.dat", _SH_DENYWR, child);
  fd = _sopen("D:\\locked.dat", _O_RDONLY, _SH_DENYNO);
  EXPECT_GE(fd, 0);  // reading is still allowed
  _close(fd);
  EXPECT_EQ(_sopen("D:\\locked.dat", _O_WRONLY, _SH_DENYNO), -1);
  EXPECT_EQ(fopen("D:\\locked.dat", "ab"), nullptr);
  kill(child, SIGKILL);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  FILE *f = fopen("D:\\locked.dat", "ab");
  EXPECT_NE(f, nullptr);
  if (f) fclose(f);
}

// Processes racing to create and deny-write-open one new file, as programs
// race for a lock file: exactly one wins every round, and the file the winner
// holds is never removed by a loser.
TEST(ShareModes, RacingCreatorsExactlyOneWinsAndTheFileStays) {
  constexpr int kRounds = 20;
  constexpr int kRacers = 6;
  for (int round = 0; round < kRounds; ++round) {
    const std::string name = "D:\\race" + std::to_string(round) + ".lck";
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<std::pair<pid_t, int>> racers;
    for (int i = 0; i < kRacers; ++i) {
      int report[2];
      ASSERT_EQ(pipe(report), 0);
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        close(go[1]);
        char c;
        if (read(go[0], &c, 1) != 1) _exit(2);
        FILE *f = _fsopen(name.c_str(), "a+", _SH_DENYWR);
        char held = f ? 1 : 0;
        if (write(report[1], &held, 1) != 1) _exit(2);
        for (;;) pause();
      }
      close(report[1]);
      racers.emplace_back(pid, report[0]);
    }
    close(go[0]);
    const std::string start(kRacers, 'g');
    ASSERT_EQ(write(go[1], start.data(), start.size()), static_cast<ssize_t>(start.size()));
    close(go[1]);
    int winners = 0;
    for (auto &[pid, fd] : racers) {
      char held = 0;
      EXPECT_EQ(read(fd, &held, 1), 1);
      close(fd);
      winners += held;
    }
    EXPECT_EQ(winners, 1) << "round " << round;
    EXPECT_EQ(_access(name.c_str(), 0), 0) << "round " << round;
    EXPECT_EQ(_fsopen(name.c_str(), "a+", _SH_DENYWR), nullptr) << "round " << round;
    for (auto &[pid, fd] : racers) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
}

TEST(Names, MktempStatAccessAndRename) {
  ASSERT_TRUE(SetCurrentDirectoryA("D:\\"));
  char name[] = "qxXXXXXX";
  ASSERT_NE(mktemp(name), nullptr);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06lu", static_cast<unsigned long>(getpid()) % 1000000);
  EXPECT_EQ(std::string(name), std::string("qx") + digits);
  qxtest::Tree::Write(D(name), "");
  char again[] = "qxXXXXXX";
  ASSERT_NE(_mktemp(again), nullptr);
  EXPECT_EQ(std::string(again), std::string("qxa") + (digits + 1));
  char bad[] = "qxXX";
  EXPECT_EQ(_mktemp(bad), nullptr);

  qxtest::Tree::Write(D("stat.dat"), "12345");
  struct _stat st;
  ASSERT_EQ(_stat("D:\\STAT.DAT", &st), 0);
  EXPECT_EQ(st.st_size, 5);
  EXPECT_TRUE(st.st_mode & _S_IFREG);
  EXPECT_TRUE(st.st_mode & _S_IWRITE);
  EXPECT_GT(st.st_mtime, 0);
  EXPECT_EQ(_access("D:\\stat.dat", 6), 0);
  EXPECT_EQ(_chmod("D:\\stat.dat", _S_IREAD), 0);
  EXPECT_EQ(_access("D:\\stat.dat", 2), -1);
  EXPECT_EQ(errno, EACCES);
  ASSERT_EQ(_stat("D:\\stat.dat", &st), 0);
  EXPECT_FALSE(st.st_mode & _S_IWRITE);
  EXPECT_EQ(_open("D:\\stat.dat", _O_WRONLY), -1);
  EXPECT_EQ(_unlink("D:\\stat.dat"), -1);
  EXPECT_EQ(_chmod("D:\\stat.dat", _S_IREAD | _S_IWRITE), 0);
  EXPECT_EQ(_access("D:\\missing", 0), -1);
  EXPECT_EQ(errno, ENOENT);
  qxtest::Tree::Write(D("other.dat"), "o");
  EXPECT_EQ(_rename("D:\\stat.dat", "D:\\other.dat"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(_unlink("D:\\other.dat"), 0);
  EXPECT_EQ(_rename("D:\\stat.dat", "D:\\other.dat"), 0);
}

TEST(Names, DirectoriesAndDrives) {
  ASSERT_EQ(_chdir("D:\\"), 0);
  EXPECT_EQ(_mkdir("D:\\work"), 0);
  EXPECT_EQ(_mkdir("D:\\WORK"), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(_chdir("work"), 0);
  char buf[MAX_PATH];
  EXPECT_STREQ(_getcwd(buf, sizeof buf), "D:\\work");
  EXPECT_EQ(_getdrive(), 4);
  EXPECT_EQ(_chdrive(3), 0);
  EXPECT_EQ(_getdrive(), 3);
  EXPECT_STREQ(_getdcwd(4, buf, sizeof buf), "D:\\work");  // each drive keeps its own
  EXPECT_EQ(_chdrive(17), -1);
  char *full = _fullpath(nullptr, "D:sub\\..\\x.txt", 0);
  ASSERT_NE(full, nullptr);
  EXPECT_STREQ(full, "D:\\work\\x.txt");
  free(full);
  char small[3];  // "C:\\" needs 4
  EXPECT_EQ(_getcwd(small, sizeof small), nullptr);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(_chdir("D:\\"), 0);
  EXPECT_EQ(_rmdir("D:\\work"), 0);
  EXPECT_EQ(_rmdir("D:\\work"), -1);
}

TEST(Names, SplitAndMakePaths) {
  struct Case {
    const char *path, *drive, *dir, *fname, *ext;
  };
  const Case cases[] = {
      {"C:\\QXTCP\\mail\\m12.msg", "C:", "\\QXTCP\\mail\\", "m12", ".msg"},
      {"file.tar.gz", "", "", "file.tar", ".gz"},
      {"d:noext", "d:", "", "noext", ""},
      {"a/b.dir/c", "", "a/b.dir/", "c", ""},
      {"", "", "", "", ""},
  };
  for (const auto &c : cases) {
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(c.path, drive, dir, fname, ext);
    EXPECT_STREQ(drive, c.drive) << c.path;
    EXPECT_STREQ(dir, c.dir) << c.path;
    EXPECT_STREQ(fname, c.fname) << c.path;
    EXPECT_STREQ(ext, c.ext) << c.path;
  }
  char path[_MAX_PATH];
  _makepath(path, "C", "\\QXTCP\\mail", "m1", "msg");
  EXPECT_STREQ(path, "C:\\QXTCP\\mail\\m1.msg");
  _makepath(path, nullptr, nullptr, "name", ".ext");
  EXPECT_STREQ(path, "name.ext");
  std::string longdir(400, 'd');
  _makepath(path, "C", longdir.c_str(), "f", "e");
  EXPECT_EQ(std::strlen(path), static_cast<size_t>(_MAX_PATH - 1));  // bounded
}

TEST(Strings, CaseAndNumbers) {
  EXPECT_EQ(_stricmp("Hello", "hELLO"), 0);
  EXPECT_LT(_stricmp("abc", "ABD"), 0);
  EXPECT_EQ(_strnicmp("MAIL1", "mail2", 4), 0);
  char s[] = "MiXeD";
  EXPECT_STREQ(_strupr(s), "MIXED");
  EXPECT_STREQ(_strlwr(s), "mixed");
  char buf[40];
  EXPECT_STREQ(_itoa(-5, buf, 10), "-5");
  EXPECT_STREQ(_itoa(-1, buf, 16), "ffffffff");
  EXPECT_STREQ(_itoa(255, buf, 2), "11111111");
  EXPECT_STREQ(_ltoa(1234567, buf, 10), "1234567");
  EXPECT_STREQ(_ultoa(4294967295ul, buf, 10), "4294967295");
}

}  // namespace
