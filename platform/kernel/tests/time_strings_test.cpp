// Time conversions, version and system information, lstr* and wsprintfA.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// ---- FILETIME <-> SYSTEMTIME -----------------------------------------------------

struct TimeCase {
  SYSTEMTIME st;  // wDayOfWeek filled as expected on the way back
  ULONGLONG ticks;
};

const TimeCase kTimeCases[] = {
    {{1601, 1, 1, 1, 0, 0, 0, 0}, 0ull},
    {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ull},
    {{2000, 2, 2, 29, 12, 34, 56, 789}, 125963012967890000ull},
    {{2038, 1, 2, 19, 3, 14, 8, 0}, 137919572480000000ull},
    {{1999, 12, 5, 31, 23, 59, 59, 999}, 125911583999990000ull},
};

TEST(Time, SystemTimeAndFileTimeRoundTrip) {
  for (const auto &c : kTimeCases) {
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft)) << c.st.wYear;
    ULONGLONG v = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    EXPECT_EQ(v, c.ticks) << c.st.wYear;
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(std::memcmp(&back, &c.st, sizeof back), 0) << c.st.wYear << " day of week " << back.wDayOfWeek;
  }
}

TEST(Time, InvalidSystemTimesAreRefused) {
  const SYSTEMTIME bad[] = {
      {1600, 12, 0, 31, 0, 0, 0, 0}, {2001, 2, 0, 29, 0, 0, 0, 0},   {2000, 13, 0, 1, 0, 0, 0, 0},
      {2000, 1, 0, 1, 24, 0, 0, 0},  {2000, 1, 0, 1, 0, 0, 0, 1000}, {2000, 4, 0, 31, 0, 0, 0, 0},
  };
  for (const auto &st : bad) {
    FILETIME ft;
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
  }
}

TEST(Time, SystemTimeFollowsTheClockAndLocalRoundTrips) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULONGLONG v = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  ULONGLONG unix_now = static_cast<ULONGLONG>(time(nullptr));
  EXPECT_NEAR(static_cast<double>(v / 10000000ull - 11644473600ull), static_cast<double>(unix_now), 2.0);
  FILETIME local, back;
  ASSERT_TRUE(FileTimeToLocalFileTime(&now, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
  EXPECT_EQ(CompareFileTime(&now, &back), 0);
  SYSTEMTIME st;
  GetSystemTime(&st);
  EXPECT_GE(st.wYear, 2024);
}

TEST(Time, TickCountIsMonotonic) {
  DWORD a = GetTickCount();
  Sleep(20);
  DWORD b = GetTickCount();
  EXPECT_GE(b - a, 19u);
  EXPECT_LT(b - a, 2000u);
}

TEST(SystemInfo, ReportsNt4AndSaneFigures) {
  DWORD v = GetVersion();
  EXPECT_EQ(LOBYTE(LOWORD(v)), 4);
  EXPECT_EQ(HIBYTE(LOWORD(v)), 0);
  EXPECT_EQ(v & 0x80000000u, 0u);  // NT, not Windows 95
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(info.dwMajorVersion, 4u);
  info.dwOSVersionInfoSize = 4;
  EXPECT_FALSE(GetVersionExA(&info));
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_GE(si.dwNumberOfProcessors, 1u);
  EXPECT_GE(si.dwPageSize, 4096u);
}

// ---- wsprintfA -----------------------------------------------------------------------

TEST(Wsprintf, FormatsAsWindowsDoes) {
  char out[1100];
  struct Case {
    std::string got, want;
  } cases[] = {
      {(wsprintfA(out, "%d|%i|%u", -42, 7, 4000000000u), out), "-42|7|4000000000"},
      {(wsprintfA(out, "%5d|%-5d|%05d", 42, 42, -42), out), "   42|42   |-0042"},
      {(wsprintfA(out, "%x|%X|%#x|%08lX", 255, 255, 255, 0xBEEFu), out), "ff|FF|0xff|0000BEEF"},
      {(wsprintfA(out, "%ld|%lu|%lx", static_cast<LONG>(-1), static_cast<DWORD>(0xFFFFFFFFu), static_cast<DWORD>(16)),
        out),
       "-1|4294967295|10"},
      {(wsprintfA(out, "%s|%.3s|%6s|%-6s|", "abc", "abcdef", "ab", "ab"), out), "abc|abc|    ab|ab    |"},
      {(wsprintfA(out, "%c%c|%%|%s", 'o', 'k', static_cast<const char *>(nullptr)), out), "ok|%|(null)"},
      {(wsprintfA(out, "%.4d|%I64d|%I64u", 7, -5000000000ll, 5000000000ull), out), "0007|-5000000000|5000000000"},
      {(wsprintfA(out, "%f|%q"), out), "f|q"},  // no floating point: the letter stands
  };
  for (const auto &c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Wsprintf, OutputStopsAt1024Bytes) {
  std::string big(5000, 'x');
  char out[1100];
  std::memset(out, '#', sizeof out);
  int n = wsprintfA(out, "%s%s", big.c_str(), big.c_str());
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(std::strlen(out), 1023u);
  EXPECT_EQ(out[1024], '#');
  n = wsprintfA(out, "%99999999999d", 5);  // absurd width: bounded, no overflow
  EXPECT_EQ(n, 1023);
}

TEST(Lstr, CopiesCompareAndBounds) {
  char buf[8];
  EXPECT_STREQ(lstrcpynA(buf, "abcdefghij", 5), "abcd");
  EXPECT_STREQ(lstrcpynA(buf, "ab", 8), "ab");
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA("four"), 4);
  EXPECT_LT(lstrcmpA("abc", "abd"), 0);
  EXPECT_EQ(lstrcmpiA("HeLLo", "hello"), 0);
  char cat[16] = "ab";
  EXPECT_STREQ(lstrcatA(cat, "cd"), "abcd");
}

}  // namespace
