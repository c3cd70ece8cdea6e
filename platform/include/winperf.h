/* Performance data: the blocks an extensible counter library returns to the
 * performance library, and the calls it exports. Title "pointers" are DWORDs
 * (the layout Windows keeps for 64-bit callers), so the blocks have the same
 * size everywhere: an object header of 64 bytes, a counter definition of 40. */
#ifndef QX_WINPERF_H
#define QX_WINPERF_H

#include <windows.h>

#ifndef QX_WCHAR_DEFINED
#define QX_WCHAR_DEFINED
typedef WORD WCHAR; /* UTF-16 */
typedef WCHAR *LPWSTR;
#endif

#define PERF_DETAIL_NOVICE 100
#define PERF_NO_INSTANCES (-1)
#define PERF_COUNTER_RAWCOUNT 0x00010000
#define PERF_COUNTER_BULK_COUNT 0x10410500

typedef struct _PERF_OBJECT_TYPE {
  DWORD TotalByteLength;
  DWORD DefinitionLength;
  DWORD HeaderLength;
  DWORD ObjectNameTitleIndex;
  DWORD ObjectNameTitle;
  DWORD ObjectHelpTitleIndex;
  DWORD ObjectHelpTitle;
  DWORD DetailLevel;
  DWORD NumCounters;
  LONG DefaultCounter;
  LONG NumInstances;
  DWORD CodePage;
  LARGE_INTEGER PerfTime;
  LARGE_INTEGER PerfFreq;
} PERF_OBJECT_TYPE, *PPERF_OBJECT_TYPE;

typedef struct _PERF_COUNTER_DEFINITION {
  DWORD ByteLength;
  DWORD CounterNameTitleIndex;
  DWORD CounterNameTitle;
  DWORD CounterHelpTitleIndex;
  DWORD CounterHelpTitle;
  LONG DefaultScale;
  DWORD DetailLevel;
  DWORD CounterType;
  DWORD CounterSize;
  DWORD CounterOffset;
} PERF_COUNTER_DEFINITION, *PPERF_COUNTER_DEFINITION;

typedef struct _PERF_COUNTER_BLOCK {
  DWORD ByteLength;
} PERF_COUNTER_BLOCK, *PPERF_COUNTER_BLOCK;

typedef DWORD(APIENTRY PM_OPEN_PROC)(LPWSTR lpDeviceNames);
typedef DWORD(APIENTRY PM_COLLECT_PROC)(LPWSTR lpValueName, LPVOID *lppData, LPDWORD lpcbTotalBytes,
                                        LPDWORD lpNumObjectTypes);
typedef DWORD(APIENTRY PM_CLOSE_PROC)(void);

#endif
