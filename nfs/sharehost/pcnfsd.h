// PCNFSD version 1 (program 150001) on the NFS port: PC clients log on with
// a user name and password (checked through the server's logon) and get the
// uid and gid their files are seen under, find the spool directory of a
// printer export, and have a file of that directory printed.
#pragma once

#include <string>

#include "rpc.h"

enum PcnfsdProcedure : uint32_t {
  PCNFSD_NULL = 0,
  PCNFSD_AUTH = 1,
  PCNFSD_PR_INIT = 2,
  PCNFSD_PR_START = 3,
};
// AUTH: 0 AUTH_RES_OK, 2 AUTH_RES_FAIL. PR_INIT: 0 PI_RES_OK, 1
// PI_RES_NO_SUCH_PRINTER. PR_START: 0 PS_RES_OK, 3 PS_RES_NO_FILE, 4 PS_RES_FAIL.
constexpr uint32_t kAuthOk = 0, kAuthFail = 2;
constexpr uint32_t kPrinterOk = 0, kNoSuchPrinter = 1;
constexpr uint32_t kPrintOk = 0, kPrintNoFile = 3, kPrintFail = 4;

// The spool directory (a Windows path) PR_INIT names and PR_START prints from.
void SetPcnfsdSpoolDirectory(const std::string &directory);
// Where PR_START's failures are reported (the service's event log); null: stderr.
void SetPcnfsdReporter(void (*report)(const std::string &text));

// The handler SetProgramHandler takes for PCNFSD.
void PcnfsdHandler(RpcCall &call, const RpcPeer &from);
