// The MOUNT protocol (program 100005 version 1) on the NFS socket: the handle
// of an exported directory after the export rule, and the export list. No
// mounts are recorded: DUMP answers an empty list, unmounts only count and log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rpc.h"

void MountHandler(RpcCall &call, const RpcPeer &from);
// The export list (MOUNT's exports) into `body`, at most `capacity` bytes: the
// exports that fit whole, then the end word. Returns the length written.
size_t ExportListReply(uint8_t *body, size_t capacity);
// An export's name in the list: "/C/users/joe" for C:\users\joe, "/C" for a
// whole drive, the device name for a printer.
std::string ExportListName(const std::string &path, const std::string &printer);

// With a file name, each MNT and UMNT request appends a line to that file;
// empty turns logging off.
void SetMountLogFile(const std::string &path);
