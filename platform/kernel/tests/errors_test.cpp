// The error boundary's maps as tables: errno to Win32 for each kind of host
// call, Win32 back to errno for the C runtime, and Fail setting the thread's
// last error. The Winsock map has its own table in winsock/tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "qx/errors.h"

namespace {

using qx::CrtCall;
using qx::HostCall;

struct Case {
  HostCall call;
  int err;
  DWORD error;
};

// Each kind of call's own entries, its answer for an errno it does not name,
// and that the general map is what the other calls fall back on.
const Case kCases[] = {
    {HostCall::Any, 0, ERROR_SUCCESS},
    {HostCall::Any, ENOENT, ERROR_FILE_NOT_FOUND},
    {HostCall::Any, ENOTDIR, ERROR_PATH_NOT_FOUND},
    {HostCall::Any, EACCES, ERROR_ACCESS_DENIED},
    {HostCall::Any, EPERM, ERROR_ACCESS_DENIED},
    {HostCall::Any, EROFS, ERROR_ACCESS_DENIED},
    {HostCall::Any, EISDIR, ERROR_ACCESS_DENIED},
    {HostCall::Any, EEXIST, ERROR_ALREADY_EXISTS},
    {HostCall::Any, ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {HostCall::Any, ENOSPC, ERROR_DISK_FULL},
    {HostCall::Any, EDQUOT, ERROR_DISK_FULL},
    {HostCall::Any, EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {HostCall::Any, ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {HostCall::Any, EBADF, ERROR_INVALID_HANDLE},
    {HostCall::Any, ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {HostCall::Any, EXDEV, ERROR_NOT_SAME_DEVICE},
    {HostCall::Any, EAGAIN, ERROR_LOCK_VIOLATION},
    {HostCall::Any, ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {HostCall::Any, EINVAL, ERROR_INVALID_PARAMETER},
    {HostCall::Any, EBUSY, ERROR_SHARING_VIOLATION},
    {HostCall::Any, ELOOP, ERROR_ACCESS_DENIED},  // nothing closer
    {HostCall::Lookup, ENOENT, ERROR_FILE_NOT_FOUND},
    {HostCall::Lookup, ENOTDIR, ERROR_PATH_NOT_FOUND},
    {HostCall::Lookup, EACCES, ERROR_FILE_NOT_FOUND},
    {HostCall::Lookup, ELOOP, ERROR_FILE_NOT_FOUND},
    {HostCall::Open, EEXIST, ERROR_FILE_EXISTS},
    {HostCall::Open, ENOENT, ERROR_FILE_NOT_FOUND},
    {HostCall::Open, EACCES, ERROR_ACCESS_DENIED},
    {HostCall::Open, EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {HostCall::Create, EEXIST, ERROR_FILE_EXISTS},
    {HostCall::Create, ENOENT, ERROR_PATH_NOT_FOUND},
    {HostCall::Create, ENOSPC, ERROR_DISK_FULL},
    {HostCall::MakeDirectory, ENOENT, ERROR_PATH_NOT_FOUND},
    {HostCall::MakeDirectory, EEXIST, ERROR_ALREADY_EXISTS},
    {HostCall::MakeDirectory, EACCES, ERROR_ACCESS_DENIED},
    {HostCall::ReadAccess, ENOENT, ERROR_FILE_NOT_FOUND},
    {HostCall::ReadAccess, EACCES, ERROR_ACCESS_DENIED},
    {HostCall::ReadAccess, ENOTDIR, ERROR_ACCESS_DENIED},
    {HostCall::Signal, EPERM, ERROR_ACCESS_DENIED},
    {HostCall::Signal, ESRCH, ERROR_INVALID_HANDLE},
    {HostCall::Signal, EBADF, ERROR_INVALID_HANDLE},
    {HostCall::ConnectService, EACCES, ERROR_ACCESS_DENIED},
    {HostCall::ConnectService, EPERM, ERROR_ACCESS_DENIED},
    {HostCall::ConnectService, ENOENT, ERROR_SERVICE_NOT_ACTIVE},
    {HostCall::ConnectService, ECONNREFUSED, ERROR_SERVICE_NOT_ACTIVE},
    {HostCall::Socket, ECONNREFUSED, 10061},
    {HostCall::Socket, EINPROGRESS, 10035},
    {HostCall::Socket, ENOENT, 10022},
};

TEST(ErrorBoundary, EachKindOfCallMapsErrnoToItsWin32Error) {
  for (const Case &c : kCases)
    EXPECT_EQ(qx::ErrorFromErrno(c.err, c.call), c.error)
        << "call " << static_cast<int>(c.call) << " errno " << c.err << " (" << std::strerror(c.err) << ")";
}

struct ReverseCase {
  CrtCall call;
  DWORD error;
  int err;
};

const ReverseCase kReverse[] = {
    {CrtCall::Any, ERROR_FILE_NOT_FOUND, ENOENT},
    {CrtCall::Any, ERROR_PATH_NOT_FOUND, ENOENT},
    {CrtCall::Any, ERROR_BAD_NETPATH, ENOENT},
    {CrtCall::Any, ERROR_FILE_EXISTS, EEXIST},
    {CrtCall::Any, ERROR_ALREADY_EXISTS, EEXIST},
    {CrtCall::Any, ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {CrtCall::Any, ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {CrtCall::Any, ERROR_INVALID_NAME, EINVAL},
    {CrtCall::Any, ERROR_INVALID_PARAMETER, EINVAL},
    {CrtCall::Any, ERROR_DIRECTORY, EINVAL},
    {CrtCall::Any, ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {CrtCall::Any, ERROR_NOT_SAME_DEVICE, EXDEV},
    {CrtCall::Any, ERROR_DISK_FULL, ENOSPC},
    {CrtCall::Any, ERROR_INVALID_HANDLE, EBADF},
    {CrtCall::Any, ERROR_ACCESS_DENIED, EACCES},
    {CrtCall::Any, ERROR_SHARING_VIOLATION, EACCES},
    {CrtCall::Rename, ERROR_ALREADY_EXISTS, EACCES},
    {CrtCall::Rename, ERROR_FILE_NOT_FOUND, ENOENT},
    {CrtCall::RemoveDirectory, ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {CrtCall::RemoveDirectory, ERROR_ACCESS_DENIED, ENOTEMPTY},
    {CrtCall::RemoveDirectory, ERROR_DIRECTORY, ENOTEMPTY},
    {CrtCall::RemoveDirectory, ERROR_PATH_NOT_FOUND, ENOENT},
};

TEST(ErrorBoundary, CRuntimeCallsTurnWin32ErrorsBackIntoErrno) {
  for (const ReverseCase &c : kReverse)
    EXPECT_EQ(qx::ErrnoFromError(c.error, c.call), c.err)
        << "call " << static_cast<int>(c.call) << " error " << c.error;
}

TEST(ErrorBoundary, FailSetsTheLastErrorAndReturnsTheFailureValue) {
  SetLastError(0);
  EXPECT_EQ(qx::Fail(ERROR_ACCESS_DENIED), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(qx::Fail(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(qx::Fail<void *>(ERROR_NOT_ENOUGH_MEMORY, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

// The texts tools print beside an error's number.
TEST(ErrorTexts, FormatMessageGivesTheSystemsTextOrRefuses) {
  const DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char text[256];
  ASSERT_EQ(FormatMessageA(kSystem, nullptr, ERROR_ACCESS_DENIED, 0, text, sizeof text, nullptr), 19u);
  EXPECT_STREQ(text, "Access is denied.\r\n");
  ASSERT_GT(FormatMessageA(kSystem | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 10048, 0, text, sizeof text, nullptr), 0u);
  EXPECT_STREQ(text, "Only one usage of each socket address (protocol/network address/port) is normally permitted.");

  const struct {
    const char *what;
    DWORD flags, id, size;
    DWORD error;
  } refused[] = {
      {"unknown code", kSystem, 999999, sizeof text, ERROR_MR_MID_NOT_FOUND},
      {"buffer one byte short", kSystem, ERROR_ACCESS_DENIED, 19, ERROR_INSUFFICIENT_BUFFER},
      {"not from the system", FORMAT_MESSAGE_FROM_STRING, 0, sizeof text, ERROR_NOT_SUPPORTED},
  };
  for (const auto &c : refused) {
    std::strcpy(text, "untouched");
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(c.flags, nullptr, c.id, 0, text, c.size, nullptr), 0u) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_STREQ(text, "untouched") << c.what;
  }

  LPSTR allocated = nullptr;
  ASSERT_EQ(FormatMessageA(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_SERVICE_ALREADY_RUNNING, 0,
                           reinterpret_cast<LPSTR>(&allocated), 0, nullptr),
            48u);
  ASSERT_NE(allocated, nullptr);
  EXPECT_STREQ(allocated, "An instance of the service is already running.\r\n");
  LocalFree(allocated);
}

}  // namespace
