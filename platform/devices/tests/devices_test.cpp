// The "\\.\" namespace: DOS device names as a stack of targets shared by
// processes, a device provided in this process, and one served by another
// process (the shape the NFS client statistics device takes).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qxtest/support.h"
#include "qx/devices.h"
#include "stat_device.h"

namespace {

qxtest::PrivateRuntime g_runtime;

std::vector<std::string> Targets(const char *name) {
  char buf[4096];
  const DWORD n = QueryDosDeviceA(name, buf, sizeof buf);
  std::vector<std::string> out;
  for (DWORD i = 0; i + 1 < n; i += static_cast<DWORD>(out.back().size()) + 1) out.emplace_back(buf + i);
  return out;
}

HANDLE OpenDevice(const char *path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

struct Stats {
  BOOL ok;
  DWORD error;
  DWORD returned;
  std::uint32_t words[7];
};

Stats Request(HANDLE h, BYTE command, DWORD out_size = 28) {
  Stats s{};
  s.ok = DeviceIoControl(h, 0x70020, &command, 1, s.words, out_size, &s.returned, nullptr);
  s.error = s.ok ? 0 : GetLastError();
  return s;
}

TEST(DosDevices, NamesAreAStackOfTargets) {
  EXPECT_EQ(QueryDosDeviceA("QXT_NAME", nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "QXT_NAME", "\\device\\First"));
  ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "qxt_name", "\\device\\Second\\+:"));
  ASSERT_TRUE(DefineDosDeviceA(0, "QXT_NAME", "C:\\dir"));
  EXPECT_EQ(Targets("QXT_NAME"),
            (std::vector<std::string>{"\\??\\C:\\dir", "\\device\\Second\\+:", "\\device\\First"}));

  // Removing: the newest, an exact match, a prefix.
  ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "QXT_NAME", nullptr));
  EXPECT_FALSE(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH | DDD_EXACT_MATCH_ON_REMOVE, "QXT_NAME",
                                "\\device\\Sec"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH, "QXT_NAME", "\\device\\Sec"));
  EXPECT_EQ(Targets("QXT_NAME"), std::vector<std::string>{"\\device\\First"});
  // The listing of names holds it until its last target goes.
  char all[4096];
  const DWORD n = QueryDosDeviceA(nullptr, all, sizeof all);
  EXPECT_NE(std::string(all, n).find(std::string("QXT_NAME\0", 9)), std::string::npos);
  ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH | DDD_EXACT_MATCH_ON_REMOVE, "QXT_NAME",
                               "\\DEVICE\\FIRST"));
  EXPECT_TRUE(Targets("QXT_NAME").empty());

  // Refused: empty or path-like names, control characters, a short buffer.
  EXPECT_FALSE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "", "\\device\\x"));
  EXPECT_FALSE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "a\\b", "\\device\\x"));
  EXPECT_FALSE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "QXT_BAD", "\\device\\x\n"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "QXT_SHORT", "\\device\\Long"));
  char small[4];
  EXPECT_EQ(QueryDosDeviceA("QXT_SHORT", small, sizeof small), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(DosDevices, ADeviceOfThisProcess) {
  ASSERT_TRUE(qx::RegisterDevice("\\Device\\QxLocalStat", std::make_shared<qxtest::StatProvider>()));
  EXPECT_EQ(OpenDevice("\\\\.\\QXT_LOCAL"), INVALID_HANDLE_VALUE);  // no such name yet
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "QXT_LOCAL", "\\device\\QXLOCALSTAT\\+:"));
  HANDLE h = OpenDevice("\\\\.\\QXT_LOCAL");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenDevice("\\\\.\\QXT_LOCAL", GENERIC_WRITE), INVALID_HANDLE_VALUE);  // the provider refuses
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_EQ(Request(h, 2).error, static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_TRUE(Request(h, 0).ok);
  Stats s = Request(h, 2);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.returned, 28u);
  EXPECT_EQ(s.words[0], 1u);
  EXPECT_EQ(s.words[1], 3u);  // the provider saw the rest of the target, "\+:"
  s = Request(h, 2, 8);       // short buffer: what fits, and ERROR_MORE_DATA
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.error, static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(s.returned, 8u);
  EXPECT_EQ(s.words[0], 2u);
  DWORD returned = 0;
  EXPECT_FALSE(DeviceIoControl(h, 0x7C01C, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(DeviceIoControl(h, 0x70020, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A file takes no device requests.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(DeviceIoControl(event, 0x70020, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  CloseHandle(event);
  qx::UnregisterDevice("\\Device\\QxLocalStat");
  EXPECT_EQ(OpenDevice("\\\\.\\QXT_LOCAL"), INVALID_HANDLE_VALUE);
}

TEST(DosDevices, ADeviceServedByAnotherProcess) {
  // Another process defines nothing; it serves the device object. The name
  // is defined here, as the programs define it before they open the device.
  ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "QXT_RPC", "\\device\\QxServedStat\\+:"));
  EXPECT_EQ(OpenDevice("\\\\.\\QXT_RPC"), INVALID_HANDLE_VALUE);  // nobody serves it: "the driver is not there"
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  qxtest::Child provider({qxtest::BinDir() + "/devices_stat_provider", "\\Device\\QxServedStat"});
  ASSERT_EQ(provider.ReadLine(), "ready");
  qxtest::Child second({qxtest::BinDir() + "/devices_stat_provider", "\\Device\\QxServedStat"});
  EXPECT_EQ(second.ReadLine(), "error " + std::to_string(ERROR_ALREADY_EXISTS));

  HANDLE a = OpenDevice("\\\\.\\QXT_RPC");
  HANDLE b = OpenDevice("\\\\.\\qxt_rpc");
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Request(a, 0).ok);
  EXPECT_TRUE(Request(b, 0).ok);
  for (std::uint32_t i = 1; i <= 3; ++i) EXPECT_EQ(Request(a, 2).words[0], i);  // each open has its own state
  EXPECT_EQ(Request(b, 2).words[0], 1u);
  const Stats s = Request(a, 2, 12);
  EXPECT_EQ(s.error, static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(s.returned, 12u);
  char in[5] = {'a', 'b', 'c', 'd', 'e'}, out[8] = {};
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(a, 0x70024, in, sizeof in, out, sizeof out, &returned, nullptr));
  EXPECT_EQ(std::string(out, returned), "edcba");
  // Requests larger than a message can carry are refused before they travel.
  std::vector<char> huge(128 * 1024);
  EXPECT_FALSE(
      DeviceIoControl(a, 0x70024, huge.data(), static_cast<DWORD>(huge.size()), out, sizeof out, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // The provider's process ends: requests on open handles fail, opens find nothing.
  provider.Kill();
  provider.Wait();
  EXPECT_EQ(Request(a, 2).error, static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(OpenDevice("\\\\.\\QXT_RPC"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  CloseHandle(a);
  CloseHandle(b);

  // A new provider replaces the endpoint the killed one left behind.
  qxtest::Child again({qxtest::BinDir() + "/devices_stat_provider", "\\Device\\QxServedStat"});
  ASSERT_EQ(again.ReadLine(), "ready");
  HANDLE c = OpenDevice("\\\\.\\QXT_RPC");
  ASSERT_NE(c, INVALID_HANDLE_VALUE);
  CloseHandle(c);
}

}  // namespace
