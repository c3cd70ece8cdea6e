// perfhost: stands in for the performance monitor. "perfhost SERVICE [COUNT
// [MILLISECONDS]]" finds the counter library a service registered under
// HKLM\SYSTEM\CurrentControlSet\Services\SERVICE\Performance ("Library",
// "Open", "Collect", "Close"), loads it by name, opens it, collects "Global"
// COUNT times (default 1) a given time apart and prints each object's
// counters on a line, then closes it.
#include <windows.h>

#include <winperf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBufferSize = 65536;

int Fail(const std::string &text) {
  fprintf(stderr, "perfhost: %s\n", text.c_str());
  return 1;
}

std::string ReadString(HKEY key, const char *name) {
  char value[MAX_PATH] = "";
  DWORD size = sizeof value - 1, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return "";
  value[sizeof value - 1] = '\0';
  return value;
}

// One line per object: its name index, then each counter's value.
void PrintObjects(int collection, const BYTE *data, DWORD length, DWORD objects) {
  DWORD at = 0;
  for (DWORD n = 0; n < objects && length - at >= sizeof(PERF_OBJECT_TYPE); ++n) {
    PERF_OBJECT_TYPE object;
    memcpy(&object, data + at, sizeof object);
    if (object.TotalByteLength > length - at || object.DefinitionLength > object.TotalByteLength ||
        object.HeaderLength > object.DefinitionLength)
      break;
    const BYTE *block = data + at + object.DefinitionLength;
    DWORD block_length = object.TotalByteLength - object.DefinitionLength;
    printf("collect %d object %lu:", collection, (unsigned long)object.ObjectNameTitleIndex);
    for (DWORD k = 0; k < object.NumCounters; ++k) {
      DWORD offset = object.HeaderLength + k * sizeof(PERF_COUNTER_DEFINITION);
      if (offset + sizeof(PERF_COUNTER_DEFINITION) > object.DefinitionLength) break;
      PERF_COUNTER_DEFINITION c;
      memcpy(&c, data + at + offset, sizeof c);
      if ((c.CounterSize != 4 && c.CounterSize != 8) || c.CounterOffset > block_length ||
          block_length - c.CounterOffset < c.CounterSize)
        continue;
      unsigned long long value = 0;
      memcpy(&value, block + c.CounterOffset, c.CounterSize);
      printf(" %llu", value);
    }
    printf("\n");
    fflush(stdout);
    at += object.TotalByteLength;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  char service[128] = "";
  int count = 1, interval = 1000;
  if (sscanf(command_line, "%127s %d %d", service, &count, &interval) < 1 || count < 1 || interval < 0)
    return Fail("usage: perfhost SERVICE [COUNT [MILLISECONDS]]");
  std::string key_name = std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Performance";
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_name.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return Fail("the service " + std::string(service) + " registered no counters (no key HKEY_LOCAL_MACHINE\\" +
                key_name + "); install it first.");
  std::string library = ReadString(key, "Library"), open_name = ReadString(key, "Open"),
              collect_name = ReadString(key, "Collect"), close_name = ReadString(key, "Close");
  RegCloseKey(key);
  if (library.empty() || open_name.empty() || collect_name.empty() || close_name.empty())
    return Fail("the key HKEY_LOCAL_MACHINE\\" + key_name + " lacks one of Library, Open, Collect and Close.");
  HMODULE module = LoadLibraryA(library.c_str());
  if (!module)
    return Fail("the counter library " + library + " cannot be loaded (error " + std::to_string(GetLastError()) + ").");
  auto open = reinterpret_cast<PM_OPEN_PROC *>(GetProcAddress(module, open_name.c_str()));
  auto collect = reinterpret_cast<PM_COLLECT_PROC *>(GetProcAddress(module, collect_name.c_str()));
  auto close = reinterpret_cast<PM_CLOSE_PROC *>(GetProcAddress(module, close_name.c_str()));
  if (!open || !collect || !close) {
    FreeLibrary(module);
    return Fail(library + " does not export " + open_name + ", " + collect_name + " and " + close_name + ".");
  }
  if (DWORD error = open(nullptr)) {
    FreeLibrary(module);
    return Fail(library + " could not open its counters (error " + std::to_string(error) +
                "); is the driver it reads from running?");
  }
  WCHAR global[] = {'G', 'l', 'o', 'b', 'a', 'l', 0};
  std::vector<BYTE> buffer(kBufferSize);
  int result = 0;
  for (int n = 1; n <= count; ++n) {
    if (n > 1) Sleep(DWORD(interval));
    LPVOID at = buffer.data();
    DWORD length = kBufferSize, objects = 0;
    if (DWORD error = collect(global, &at, &length, &objects)) {
      result = Fail("collecting the counters failed (error " + std::to_string(error) + ").");
      break;
    }
    PrintObjects(n, buffer.data(), length, objects);
  }
  close();
  FreeLibrary(module);
  return result;
}
