// Descriptors and HANDLEs (_get_osfhandle, _open_osfhandle) and the runtime's
// error texts.
#include <windows.h>
#include <io.h>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "test_tree.h"

namespace {

const qxtest::Tree &g_tree = qxtest::TheTree();

TEST(OsfHandle, DescriptorAndHandleShareTheOpenFile) {
  qxtest::Tree::Write(g_tree.DriveD() + "/osf.txt", "0123456789");
  const int fd = _open("D:\\osf.txt", _O_RDWR | _O_BINARY);
  ASSERT_GE(fd, 0);
  const intptr_t value = _get_osfhandle(fd);
  ASSERT_NE(value, -1);
  EXPECT_EQ(_get_osfhandle(fd), value);  // one handle per descriptor
  HANDLE h = reinterpret_cast<HANDLE>(value);
  char buf[4] = {};
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(h, buf, 3, &done, nullptr));
  EXPECT_EQ(std::string(buf, done), "012");
  EXPECT_EQ(_tell(fd), 3);  // one file position
  ASSERT_EQ(_read(fd, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "34");
  EXPECT_EQ(GetFileSize(h, nullptr), 10u);
  // The handle goes with the descriptor.
  ASSERT_EQ(_close(fd), 0);
  EXPECT_FALSE(CloseHandle(h));

  errno = 0;
  EXPECT_EQ(_get_osfhandle(-1), -1);
  EXPECT_EQ(errno, EBADF);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  EXPECT_EQ(_get_osfhandle(pair[0]), pair[0]);  // a socket's handle is the socket
  close(pair[0]);
  close(pair[1]);
}

// A stream closed with fclose leaves its descriptor number free; the next
// stream that gets it has a handle of its own, so writes through the handle
// reach the new file (text and binary streams alike).
TEST(OsfHandle, ReusedDescriptorGetsAHandleOnTheNewFile) {
  for (const char *mode : {"a", "ab"}) {
    FILE *first = std::fopen("D:\\osf-first.txt", mode);
    ASSERT_NE(first, nullptr);
    const int fd = _fileno(first);
    ASSERT_NE(_get_osfhandle(fd), -1);
    std::fclose(first);
    FILE *second = std::fopen("D:\\osf-second.txt", mode);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(_fileno(second), fd) << "the descriptor number was not reused";
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, "part", 4, &done, nullptr));
    std::fclose(second);
    EXPECT_EQ(qxtest::Tree::Read(g_tree.DriveD() + "/osf-second.txt"), "part") << mode;
    EXPECT_EQ(qxtest::Tree::Read(g_tree.DriveD() + "/osf-first.txt"), "") << mode;
    DeleteFileA("D:\\osf-first.txt");
    DeleteFileA("D:\\osf-second.txt");
  }
}

TEST(OsfHandle, DescriptorTakesAHandleOver) {
  HANDLE h = CreateFileA("D:\\taken.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "a\r\nb\r\n", 6, &done, nullptr));
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_TEXT | _O_RDONLY);
  ASSERT_GE(fd, 0);
  char buf[8] = {};
  EXPECT_EQ(_read(fd, buf, sizeof buf), 4);  // text mode: CR LF read as LF
  EXPECT_EQ(std::string(buf, 4), "a\nb\n");
  ASSERT_EQ(_close(fd), 0);
  EXPECT_FALSE(CloseHandle(h));  // closed with the descriptor
  EXPECT_EQ(_open_osfhandle(0x7ABC0001, 0), -1);
}

TEST(RuntimeErrors, TextsAsTheRuntimeWordsThem) {
  EXPECT_EQ(_sys_nerr, 43);
  const struct {
    int code;
    const char *text;
  } cases[] = {
      {0, "No error"},
      {ENOENT, "No such file or directory"},
      {EINTR, "Interrupted function call"},
      {ENOMEM, "Not enough space"},
      {EACCES, "Permission denied"},
      {EBUSY, "Resource device"},
      {EXDEV, "Improper link"},
      {ENOTTY, "Inappropriate I/O control operation"},
      {EDOM, "Domain error"},
      {ERANGE, "Result too large"},
      {ENOTEMPTY, "Directory not empty"},
      {EILSEQ, "Illegal byte sequence"},
      {10061, "Unknown error"},  // a Winsock number is no runtime error
      {-1, "Unknown error"},
  };
  for (const auto &c : cases) {
    EXPECT_STREQ(strerror(c.code), c.text) << c.code;
    EXPECT_STREQ(std::strerror(c.code), c.text) << c.code;
    if (c.code >= 0 && c.code < _sys_nerr) {
      EXPECT_STREQ(_sys_errlist[c.code], c.text) << c.code;
    }
  }
  errno = ENOSPC;
  EXPECT_STREQ(_strerror("write"), "write: No space left on device\n");
  errno = EBADF;
  EXPECT_STREQ(_strerror(nullptr), "Bad file descriptor\n");
}

}  // namespace
