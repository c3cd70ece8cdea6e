/* The "\\.\" device namespace: DOS device names (DefineDosDeviceA), devices
 * opened with CreateFileA("\\.\NAME") and their requests (DeviceIoControl).
 * Devices are provided by parts of the suite; see docs/platform-devices.md. */
#ifndef QX_WIN_DEVICES_H
#define QX_WIN_DEVICES_H

#include "base.h"

/* DefineDosDeviceA flags */
#define DDD_RAW_TARGET_PATH 0x00000001
#define DDD_REMOVE_DEFINITION 0x00000002
#define DDD_EXACT_MATCH_ON_REMOVE 0x00000004
#define DDD_NO_BROADCAST_SYSTEM 0x00000008

/* Device request codes */
#define CTL_CODE(DeviceType, Function, Method, Access) \
  (((DWORD)(DeviceType) << 16) | ((DWORD)(Access) << 14) | ((DWORD)(Function) << 2) | (DWORD)(Method))
#define DEVICE_TYPE_FROM_CTL_CODE(code) (((DWORD)(code)&0xffff0000) >> 16)
#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
#define FILE_DEVICE_NETWORK_FILE_SYSTEM 0x00000014

#ifndef ERROR_GEN_FAILURE
#define ERROR_GEN_FAILURE 31L /* the device's provider went away */
#endif

QX_EXTERN_C_BEGIN

WINBASEAPI BOOL WINAPI DefineDosDeviceA(DWORD dwFlags, LPCSTR lpDeviceName, LPCSTR lpTargetPath);
WINBASEAPI DWORD WINAPI QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax);
WINBASEAPI BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                       LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       struct _OVERLAPPED *lpOverlapped);

QX_EXTERN_C_END

#define DefineDosDevice DefineDosDeviceA
#define QueryDosDevice QueryDosDeviceA

#endif
