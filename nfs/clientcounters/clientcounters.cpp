// clientcounters: the NFS client's performance counters for the performance
// library. One object with seven counters and no instances, its numbers from
// the NFS client driver's device "\\.\QXNFS_RPC" (request 0x70020): counters
// 1, 2, 5 and 7 show the driver's latest words, counters 3, 4 and 6 add up the
// words the driver gives as differences, for as long as the library is loaded.
#include <windows.h>

#include <winperf.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kDeviceName[] = "QXNFS_RPC";
const char kDeviceTarget[] = "\\device\\QXNFS\\+:";
const char kDevicePath[] = "\\\\.\\QXNFS_RPC";
const char kPerformanceKey[] = "SYSTEM\\CurrentControlSet\\Services\\QXNFS\\performance";
constexpr DWORD kStatisticsRequest = 0x70020;
constexpr BYTE kStart = 0, kStop = 1, kCollect = 2;
constexpr int kCounters = 7;
constexpr DWORD kCounterBlockSize = 44;
constexpr size_t kMaxValueName = 256;

// The object header and the seven counter definitions, then the counter block.
struct NFS_CLIENT_DATA_DEFINITION {
  PERF_OBJECT_TYPE object;
  PERF_COUNTER_DEFINITION counters[kCounters];
};
static_assert(sizeof(PERF_OBJECT_TYPE) == 64 && sizeof(PERF_COUNTER_DEFINITION) == 40);
constexpr DWORD kDefinitionSize = sizeof(NFS_CLIENT_DATA_DEFINITION);  // 344
constexpr DWORD kObjectSize = kDefinitionSize + kCounterBlockSize;     // 388

// Each counter: scale, type, size and offset in the counter block.
struct CounterShape {
  LONG scale;
  DWORD type, size, offset;
};
constexpr CounterShape kShapes[kCounters] = {
    {1, PERF_COUNTER_RAWCOUNT, 4, 4},     {1, PERF_COUNTER_RAWCOUNT, 4, 8},  {-4, PERF_COUNTER_BULK_COUNT, 8, 12},
    {-4, PERF_COUNTER_BULK_COUNT, 8, 20}, {1, PERF_COUNTER_RAWCOUNT, 4, 28}, {0, PERF_COUNTER_BULK_COUNT, 8, 32},
    {1, PERF_COUNTER_RAWCOUNT, 4, 40},
};

NFS_CLIENT_DATA_DEFINITION g_definition;
BYTE g_block[kCounterBlockSize];
uint64_t g_totals[kCounters];  // counters 3, 4 and 6 (indexes 2, 3, 5)
HANDLE g_device = INVALID_HANDLE_VALUE;
char g_index_item[16] = "";  // " %d " of First Counter

void BuildDefinition(DWORD first_counter, DWORD first_help) {
  memset(&g_definition, 0, sizeof g_definition);
  PERF_OBJECT_TYPE &o = g_definition.object;
  o.TotalByteLength = kObjectSize;
  o.DefinitionLength = kDefinitionSize;
  o.HeaderLength = sizeof(PERF_OBJECT_TYPE);
  o.ObjectNameTitleIndex = first_counter;
  o.ObjectHelpTitleIndex = first_help;
  o.DetailLevel = PERF_DETAIL_NOVICE;
  o.NumCounters = kCounters;
  o.DefaultCounter = 2;
  o.NumInstances = PERF_NO_INSTANCES;
  for (int k = 0; k < kCounters; ++k) {
    PERF_COUNTER_DEFINITION &c = g_definition.counters[k];
    c.ByteLength = sizeof(PERF_COUNTER_DEFINITION);
    c.CounterNameTitleIndex = first_counter + 2 * DWORD(k + 1);
    c.CounterHelpTitleIndex = first_help + 2 * DWORD(k + 1);
    c.DefaultScale = kShapes[k].scale;
    c.DetailLevel = PERF_DETAIL_NOVICE;
    c.CounterType = kShapes[k].type;
    c.CounterSize = kShapes[k].size;
    c.CounterOffset = kShapes[k].offset;
  }
  memset(g_block, 0, sizeof g_block);
  memcpy(g_block, &kCounterBlockSize, 4);
  snprintf(g_index_item, sizeof g_index_item, " %lu ", (unsigned long)first_counter);
}

bool SendCommand(BYTE command, DWORD words[kCounters]) {
  DWORD reply[kCounters] = {}, returned = 0;
  if (g_device == INVALID_HANDLE_VALUE ||
      !DeviceIoControl(g_device, kStatisticsRequest, &command, 1, reply, sizeof reply, &returned, nullptr))
    return false;
  if (words) memcpy(words, reply, sizeof reply);
  return returned == sizeof reply;
}

// A collect of the driver's seven words into the counter block. When the
// driver does not answer, the block keeps its last values (nothing is added).
void UpdateCounters() {
  DWORD d[kCounters];
  if (!SendCommand(kCollect, d)) return;
  for (int k : {2, 3, 5}) g_totals[k] += d[k];
  for (int k = 0; k < kCounters; ++k) {
    if (kShapes[k].size == 8)
      memcpy(g_block + kShapes[k].offset, &g_totals[k], 8);
    else
      memcpy(g_block + kShapes[k].offset, &d[k], 4);
  }
}

// The request: the value name as single-byte text, behind a blank and before
// one, so every item of the list stands between blanks.
std::string RequestItems(LPWSTR value_name) {
  std::string items = " ";
  for (size_t i = 0; value_name && value_name[i] && i < kMaxValueName; ++i)
    items += value_name[i] < 0x80 ? char(value_name[i]) : '?';
  return items + " ";
}

void CloseDevice() {
  if (g_device == INVALID_HANDLE_VALUE) return;
  SendCommand(kStop, nullptr);
  CloseHandle(g_device);
  g_device = INVALID_HANDLE_VALUE;
}

}  // namespace

extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
extern "C" QX_DLLEXPORT BOOL WINAPI Win32LibMain(HINSTANCE, DWORD, LPVOID) { return 1; }

extern "C" QX_DLLEXPORT DWORD APIENTRY OpenNFSClientPerformanceData(LPWSTR) {
  CloseDevice();
  DefineDosDeviceA(DDD_RAW_TARGET_PATH, kDeviceName, kDeviceTarget);
  g_device = CreateFileA(kDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (g_device == INVALID_HANDLE_VALUE) return GetLastError();
  SendCommand(kStart, nullptr);
  HKEY key;
  LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerformanceKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (error != ERROR_SUCCESS) {
    CloseDevice();
    return DWORD(error);
  }
  DWORD first_counter = 0, first_help = 0, type = 0, size = sizeof first_counter;
  error = RegQueryValueExA(key, "First Counter", nullptr, &type, reinterpret_cast<BYTE *>(&first_counter), &size);
  size = sizeof first_help;
  if (error == ERROR_SUCCESS)
    error = RegQueryValueExA(key, "First Help", nullptr, &type, reinterpret_cast<BYTE *>(&first_help), &size);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) {
    CloseDevice();
    return DWORD(error);
  }
  BuildDefinition(first_counter, first_help);
  for (uint64_t &t : g_totals) t = 0;
  return ERROR_SUCCESS;
}

extern "C" QX_DLLEXPORT DWORD APIENTRY CollectNFSClientPerformanceData(LPWSTR value_name, LPVOID *data,
                                                                       LPDWORD total_bytes, LPDWORD object_types) {
  std::string items = RequestItems(value_name);
  bool wanted =
      g_index_item[0] && (items.find(" Global ") != std::string::npos || items.find(g_index_item) != std::string::npos);
  if (!wanted || !data || !*data || *total_bytes < kObjectSize) {
    DWORD result = wanted && total_bytes && *total_bytes < kObjectSize ? ERROR_MORE_DATA : ERROR_SUCCESS;
    if (total_bytes) *total_bytes = 0;
    if (object_types) *object_types = 0;
    return result;
  }
  UpdateCounters();
  BYTE *out = static_cast<BYTE *>(*data);
  memcpy(out, &g_definition, kDefinitionSize);
  memcpy(out + kDefinitionSize, g_block, kCounterBlockSize);
  *data = out + kObjectSize;
  *total_bytes = kObjectSize;
  *object_types = 1;
  return ERROR_SUCCESS;
}

extern "C" QX_DLLEXPORT DWORD APIENTRY CloseNFSClientPerformanceData(void) {
  CloseDevice();
  return ERROR_SUCCESS;
}
