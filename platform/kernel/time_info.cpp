// Clocks, SYSTEMTIME/FILETIME conversions (100 ns units since 1601-01-01 UTC),
// the time zone, and system and version information.
#include <windows.h>

#include "qx/sync.h"

#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

constexpr ULONGLONG kTicksPerSecond = 10000000ull;
constexpr ULONGLONG kUnixEpochTicks = 116444736000000000ull;  // 1970-01-01 in FILETIME units

ULONGLONG FileTimeValue(const FILETIME *ft) {
  return (static_cast<ULONGLONG>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
}

void SetFileTimeValue(FILETIME *ft, ULONGLONG v) {
  ft->dwLowDateTime = static_cast<DWORD>(v);
  ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

ULONGLONG NowTicks() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return kUnixEpochTicks + static_cast<ULONGLONG>(ts.tv_sec) * kTicksPerSecond +
         static_cast<ULONGLONG>(ts.tv_nsec) / 100u;
}

// Days from 1970-01-01 for a proleptic Gregorian date (valid for all years we accept).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

void TicksToSystemTime(ULONGLONG ticks, SYSTEMTIME *st) {
  long long secs_since_1970 =
      static_cast<long long>(ticks / kTicksPerSecond) - static_cast<long long>(kUnixEpochTicks / kTicksPerSecond);
  long long days = secs_since_1970 >= 0 ? secs_since_1970 / 86400 : -((-secs_since_1970 + 86399) / 86400);
  long long rem = secs_since_1970 - days * 86400;
  // civil_from_days
  long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  st->wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  st->wHour = static_cast<WORD>(rem / 3600);
  st->wMinute = static_cast<WORD>(rem / 60 % 60);
  st->wSecond = static_cast<WORD>(rem % 60);
  st->wMilliseconds = static_cast<WORD>(ticks % kTicksPerSecond / 10000u);
}

// Offset of local time from UTC in seconds at the given UTC instant.
long LocalOffsetAt(time_t when) {
  tm local{};
  localtime_r(&when, &local);
  return local.tm_gmtoff;
}

}  // namespace

extern "C" {

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(qx::MonotonicMs()); }
ULONGLONG WINAPI GetTickCount64(void) { return qx::MonotonicMs(); }

void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft) {
  if (ft) SetFileTimeValue(ft, NowTicks());
}

void WINAPI GetSystemTime(LPSYSTEMTIME st) {
  if (st) TicksToSystemTime(NowTicks(), st);
}

void WINAPI GetLocalTime(LPSYSTEMTIME st) {
  if (!st) return;
  ULONGLONG now = NowTicks();
  long offset = LocalOffsetAt(static_cast<time_t>((now - kUnixEpochTicks) / kTicksPerSecond));
  TicksToSystemTime(
      now + static_cast<ULONGLONG>(static_cast<long long>(offset) * static_cast<long long>(kTicksPerSecond)), st);
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *st, LPFILETIME ft) {
  if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  long long days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) - DaysFromCivil(1601, 1, 1);
  ULONGLONG secs = static_cast<ULONGLONG>(days) * 86400u + st->wHour * 3600u + st->wMinute * 60u + st->wSecond;
  SetFileTimeValue(ft, secs * kTicksPerSecond + st->wMilliseconds * 10000ull);
  return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME *ft, LPSYSTEMTIME st) {
  if (!ft || !st || (ft->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  TicksToSystemTime(FileTimeValue(ft), st);
  return TRUE;
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME *ft, LPFILETIME local) {
  if (!ft || !local) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  ULONGLONG v = FileTimeValue(ft);
  long long unix_secs =
      static_cast<long long>(v / kTicksPerSecond) - static_cast<long long>(kUnixEpochTicks / kTicksPerSecond);
  long offset = LocalOffsetAt(static_cast<time_t>(unix_secs));
  SetFileTimeValue(
      local, v + static_cast<ULONGLONG>(static_cast<long long>(offset) * static_cast<long long>(kTicksPerSecond)));
  return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME ft) {
  if (!ft || !local) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  ULONGLONG v = FileTimeValue(local);
  long long unix_secs =
      static_cast<long long>(v / kTicksPerSecond) - static_cast<long long>(kUnixEpochTicks / kTicksPerSecond);
  // The offset at the local reading taken as UTC, corrected once: exact except
  // inside the hour a clock change repeats or skips.
  long offset = LocalOffsetAt(static_cast<time_t>(unix_secs));
  offset = LocalOffsetAt(static_cast<time_t>(unix_secs - offset));
  SetFileTimeValue(
      ft, v - static_cast<ULONGLONG>(static_cast<long long>(offset) * static_cast<long long>(kTicksPerSecond)));
  return TRUE;
}

LONG WINAPI CompareFileTime(const FILETIME *a, const FILETIME *b) {
  ULONGLONG x = FileTimeValue(a), y = FileTimeValue(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION tzi) {
  if (!tzi) return SetLastError(ERROR_INVALID_PARAMETER), 0xFFFFFFFFu;
  std::memset(tzi, 0, sizeof *tzi);
  tzset();
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  // Bias is UTC minus local time in minutes; the standard offset is taken
  // from January and July, whichever is smaller (southern zones included).
  tm jan = local, jul = local;
  jan.tm_mon = 0;
  jan.tm_mday = 1;
  jul.tm_mon = 6;
  jul.tm_mday = 1;
  jan.tm_isdst = jul.tm_isdst = -1;
  time_t tj = mktime(&jan), tl = mktime(&jul);
  long oj = LocalOffsetAt(tj), ol = LocalOffsetAt(tl);
  long standard = oj < ol ? oj : ol, summer = oj < ol ? ol : oj;
  tzi->Bias = static_cast<LONG>(-standard / 60);
  tzi->StandardBias = 0;
  tzi->DaylightBias = static_cast<LONG>(-(summer - standard) / 60);
  const char *std_name = tzname[0] ? tzname[0] : "UTC";
  const char *dst_name = tzname[1] ? tzname[1] : std_name;
  for (int i = 0; i < 31 && std_name[i]; ++i) tzi->StandardName[i] = static_cast<unsigned char>(std_name[i]);
  for (int i = 0; i < 31 && dst_name[i]; ++i) tzi->DaylightName[i] = static_cast<unsigned char>(dst_name[i]);
  if (standard == summer) return TIME_ZONE_ID_UNKNOWN;
  return local.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *count) {
  if (!count) return FALSE;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  count->QuadPart = static_cast<LONGLONG>(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *freq) {
  if (!freq) return FALSE;
  freq->QuadPart = 1000000000ll;
  return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO si) {
  if (!si) return;
  std::memset(si, 0, sizeof *si);
  long page = sysconf(_SC_PAGESIZE);
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  si->wProcessorArchitecture = 0;  // PROCESSOR_ARCHITECTURE_INTEL, as the programs expect
  si->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  si->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  si->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFEFFFF);
  si->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
  si->dwActiveProcessorMask = si->dwNumberOfProcessors >= 32 ? 0xFFFFFFFFu : ((1u << si->dwNumberOfProcessors) - 1);
  si->dwProcessorType = 586;  // PROCESSOR_INTEL_PENTIUM
  si->dwAllocationGranularity = 65536;
  si->wProcessorLevel = 6;
  si->wProcessorRevision = 0;
}

// The system reports itself as Windows NT 4.0 (build 1381, Service Pack 6).
DWORD WINAPI GetVersion(void) { return 4u | (0u << 8) | (1381u << 16); }

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 4;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 1381;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::strcpy(info->szCSDVersion, "Service Pack 6");
  return TRUE;
}

}  // extern "C"
