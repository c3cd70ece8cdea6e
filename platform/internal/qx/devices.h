// Device providers: how a part of the suite offers a device that programs
// open as "\\.\NAME" and talk to with DeviceIoControl.
//
// A provider registers under a device object name such as "\Device\QXNFS"
// (compared without regard to case). Programs reach it through a DOS device
// name defined with DefineDosDeviceA: "QXNFS_RPC" -> "\device\QXNFS\+:"
// opens the provider whose name is the longest prefix of the target (ending
// at a '\'), and the provider is told the rest ("\+:").
//
// In the process: RegisterDevice; only this process's programs reach it.
// For the user's other processes as well: ServeDevice, which also listens on
// an owner-only Unix socket under RuntimeDir()/devices/; each open is one
// connection, each request one message there (see docs/platform-devices.md).
// The provider's code always runs in the process that registered it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx {

// One open of a device.
class DeviceFile {
 public:
  virtual ~DeviceFile() = default;
  // Runs one request. `in` holds the caller's input bytes; `out` arrives
  // sized to the caller's output buffer (zero-filled) and is left holding
  // the bytes produced (resize it down; growing it past the caller's size is
  // refused). Returns 0 or a Win32 error; ERROR_MORE_DATA still hands the
  // bytes in `out` to the caller.
  virtual DWORD IoControl(DWORD code, const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) = 0;
};

class DeviceProvider {
 public:
  virtual ~DeviceProvider() = default;
  // Opens the device for a caller. `rest` is what follows the device name in
  // the target path ("" or "\+:"); access is CreateFileA's desired access.
  // Returns 0 and a file, or a Win32 error.
  virtual DWORD Open(const std::string &rest, DWORD access, std::shared_ptr<DeviceFile> &file) = 0;
};

// Makes the device reachable from this process. Replaces an earlier
// provider of the same name. False for a name not of the form "\X\Y...".
bool RegisterDevice(const std::string &device_name, std::shared_ptr<DeviceProvider> provider);
void UnregisterDevice(const std::string &device_name);

// Registers the device in this process and serves it to the user's other
// processes until StopServingDevice or the end of this process. Returns 0 or
// a Win32 error (ERROR_ALREADY_EXISTS when another live process serves it).
DWORD ServeDevice(const std::string &device_name, std::shared_ptr<DeviceProvider> provider);
void StopServingDevice(const std::string &device_name);

// CreateFileA of "\\.\NAME" (files part): the device's handle, or
// INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenDosDevice(const std::string &name, DWORD access);

}  // namespace qx
