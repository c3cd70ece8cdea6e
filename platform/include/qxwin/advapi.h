/* Registry, services (control dispatcher and service control manager) and the
 * event log: the ADVAPI32 calls the suite's programs and libraries use.
 * Registry calls return their error code (ERROR_SUCCESS on success); service
 * and event-log calls return BOOL or a handle and set GetLastError. */
#ifndef QX_WIN_ADVAPI_H
#define QX_WIN_ADVAPI_H

#include "base.h"

typedef DWORD REGSAM;

/* Predefined keys. */
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(ULONG_PTR)0x80000003u)
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)0x80000004u)
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)0x80000005u)
#define HKEY_DYN_DATA ((HKEY)(ULONG_PTR)0x80000006u)

/* Value types. */
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u

/* Access rights, generic and per key. */
#ifndef DELETE
#define DELETE 0x00010000u
#endif
#ifndef READ_CONTROL
#define READ_CONTROL 0x00020000u
#endif
#ifndef WRITE_DAC
#define WRITE_DAC 0x00040000u
#endif
#ifndef WRITE_OWNER
#define WRITE_OWNER 0x00080000u
#endif
#ifndef STANDARD_RIGHTS_READ
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000u
#endif
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000u
#endif
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_READ 0x00020019u
#define KEY_WRITE 0x00020006u
#define KEY_EXECUTE 0x00020019u
#define KEY_ALL_ACCESS 0x000F003Fu

#define REG_OPTION_RESERVED 0x00000000u
#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_OPTION_VOLATILE 0x00000001u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u

#ifndef ERROR_PROCESS_ABORTED
#define ERROR_PROCESS_ABORTED 1067L
#endif
#ifndef ERROR_SERVICE_START_HANG
#define ERROR_SERVICE_START_HANG 1070L
#endif
#ifndef ERROR_INVALID_SERVICE_CONTROL
#define ERROR_INVALID_SERVICE_CONTROL 1052L
#endif
#ifndef ERROR_SERVICE_LOGON_FAILED
#define ERROR_SERVICE_LOGON_FAILED 1069L
#endif
#ifndef ERROR_SERVICE_SPECIFIC_ERROR
#define ERROR_SERVICE_SPECIFIC_ERROR 1066L
#endif
#ifndef ERROR_INVALID_SERVICE_NAME
#define ERROR_INVALID_SERVICE_NAME 1123L
#endif
#ifndef ERROR_SERVICE_DEPENDENCY_FAIL
#define ERROR_SERVICE_DEPENDENCY_FAIL 1068L
#endif
#ifndef RPC_S_SERVER_UNAVAILABLE
#define RPC_S_SERVER_UNAVAILABLE 1722L
#endif

/* Services. */
#define SERVICE_KERNEL_DRIVER 0x00000001u
#define SERVICE_FILE_SYSTEM_DRIVER 0x00000002u
#define SERVICE_ADAPTER 0x00000004u
#define SERVICE_RECOGNIZER_DRIVER 0x00000008u
#define SERVICE_DRIVER 0x0000000Bu
#define SERVICE_WIN32_OWN_PROCESS 0x00000010u
#define SERVICE_WIN32_SHARE_PROCESS 0x00000020u
#define SERVICE_WIN32 0x00000030u
#define SERVICE_INTERACTIVE_PROCESS 0x00000100u
#define SERVICE_TYPE_ALL 0x0000013Fu

#define SERVICE_BOOT_START 0x00000000u
#define SERVICE_SYSTEM_START 0x00000001u
#define SERVICE_AUTO_START 0x00000002u
#define SERVICE_DEMAND_START 0x00000003u
#define SERVICE_DISABLED 0x00000004u

#define SERVICE_ERROR_IGNORE 0x00000000u
#define SERVICE_ERROR_NORMAL 0x00000001u
#define SERVICE_ERROR_SEVERE 0x00000002u
#define SERVICE_ERROR_CRITICAL 0x00000003u

#define SERVICE_NO_CHANGE 0xFFFFFFFFu

#define SERVICE_STOPPED 0x00000001u
#define SERVICE_START_PENDING 0x00000002u
#define SERVICE_STOP_PENDING 0x00000003u
#define SERVICE_RUNNING 0x00000004u
#define SERVICE_CONTINUE_PENDING 0x00000005u
#define SERVICE_PAUSE_PENDING 0x00000006u
#define SERVICE_PAUSED 0x00000007u

#define SERVICE_CONTROL_STOP 0x00000001u
#define SERVICE_CONTROL_PAUSE 0x00000002u
#define SERVICE_CONTROL_CONTINUE 0x00000003u
#define SERVICE_CONTROL_INTERROGATE 0x00000004u
#define SERVICE_CONTROL_SHUTDOWN 0x00000005u

#define SERVICE_ACCEPT_STOP 0x00000001u
#define SERVICE_ACCEPT_PAUSE_CONTINUE 0x00000002u
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004u

#define SERVICE_ACTIVE 0x00000001u
#define SERVICE_INACTIVE 0x00000002u
#define SERVICE_STATE_ALL 0x00000003u

#define SC_MANAGER_CONNECT 0x0001u
#define SC_MANAGER_CREATE_SERVICE 0x0002u
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004u
#define SC_MANAGER_LOCK 0x0008u
#define SC_MANAGER_QUERY_LOCK_STATUS 0x0010u
#define SC_MANAGER_MODIFY_BOOT_CONFIG 0x0020u
#define SC_MANAGER_ALL_ACCESS 0x000F003Fu

#define SERVICE_QUERY_CONFIG 0x0001u
#define SERVICE_CHANGE_CONFIG 0x0002u
#define SERVICE_QUERY_STATUS 0x0004u
#define SERVICE_ENUMERATE_DEPENDENTS 0x0008u
#define SERVICE_START 0x0010u
#define SERVICE_STOP 0x0020u
#define SERVICE_PAUSE_CONTINUE 0x0040u
#define SERVICE_INTERROGATE 0x0080u
#define SERVICE_USER_DEFINED_CONTROL 0x0100u
#define SERVICE_ALL_ACCESS 0x000F01FFu

#define SERVICES_ACTIVE_DATABASEA "ServicesActive"
#define SERVICES_FAILED_DATABASEA "ServicesFailed"
#define SERVICES_ACTIVE_DATABASE SERVICES_ACTIVE_DATABASEA
#define SC_GROUP_IDENTIFIERA '+'

typedef struct _SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

typedef struct _ENUM_SERVICE_STATUSA {
  LPSTR lpServiceName;
  LPSTR lpDisplayName;
  SERVICE_STATUS ServiceStatus;
} ENUM_SERVICE_STATUSA, *LPENUM_SERVICE_STATUSA, ENUM_SERVICE_STATUS, *LPENUM_SERVICE_STATUS;

typedef struct _QUERY_SERVICE_CONFIGA {
  DWORD dwServiceType;
  DWORD dwStartType;
  DWORD dwErrorControl;
  LPSTR lpBinaryPathName;
  LPSTR lpLoadOrderGroup;
  DWORD dwTagId;
  LPSTR lpDependencies;
  LPSTR lpServiceStartName;
  LPSTR lpDisplayName;
} QUERY_SERVICE_CONFIGA, *LPQUERY_SERVICE_CONFIGA, QUERY_SERVICE_CONFIG, *LPQUERY_SERVICE_CONFIG;

typedef void(WINAPI *LPSERVICE_MAIN_FUNCTIONA)(DWORD dwNumServicesArgs, LPSTR *lpServiceArgVectors);
typedef void(WINAPI *LPHANDLER_FUNCTION)(DWORD dwControl);
#define LPSERVICE_MAIN_FUNCTION LPSERVICE_MAIN_FUNCTIONA

typedef struct _SERVICE_TABLE_ENTRYA {
  LPSTR lpServiceName;
  LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA, *LPSERVICE_TABLE_ENTRYA, SERVICE_TABLE_ENTRY, *LPSERVICE_TABLE_ENTRY;

/* Event log. */
#define EVENTLOG_SUCCESS 0x0000u
#define EVENTLOG_ERROR_TYPE 0x0001u
#define EVENTLOG_WARNING_TYPE 0x0002u
#define EVENTLOG_INFORMATION_TYPE 0x0004u
#define EVENTLOG_AUDIT_SUCCESS 0x0008u
#define EVENTLOG_AUDIT_FAILURE 0x0010u

QX_EXTERN_C_BEGIN

/* Registry */
WINBASEAPI LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
WINBASEAPI LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
WINBASEAPI LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
WINBASEAPI LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                                       REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                       LPDWORD lpdwDisposition);
WINBASEAPI LONG WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData);
WINBASEAPI LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData);
WINBASEAPI LONG WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD cbData);
WINBASEAPI LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                                      DWORD cbData);
WINBASEAPI LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName);
WINBASEAPI LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                                     LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
WINBASEAPI LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                                     LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
WINBASEAPI LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
WINBASEAPI LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
WINBASEAPI LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                        LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                        LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                        LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
WINBASEAPI LONG WINAPI RegCloseKey(HKEY hKey);
WINBASEAPI LONG WINAPI RegFlushKey(HKEY hKey);
#define RegOpenKey RegOpenKeyA
#define RegOpenKeyEx RegOpenKeyExA
#define RegCreateKey RegCreateKeyA
#define RegCreateKeyEx RegCreateKeyExA
#define RegQueryValue RegQueryValueA
#define RegQueryValueEx RegQueryValueExA
#define RegSetValue RegSetValueA
#define RegSetValueEx RegSetValueExA
#define RegEnumKey RegEnumKeyA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA
#define RegDeleteKey RegDeleteKeyA
#define RegDeleteValue RegDeleteValueA
#define RegQueryInfoKey RegQueryInfoKeyA

/* Service process side */
WINBASEAPI BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA *lpServiceStartTable);
WINBASEAPI SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                                    LPHANDLER_FUNCTION lpHandlerProc);
WINBASEAPI BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus);
#define StartServiceCtrlDispatcher StartServiceCtrlDispatcherA
#define RegisterServiceCtrlHandler RegisterServiceCtrlHandlerA

/* Service control manager */
WINBASEAPI SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess);
WINBASEAPI SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                                           DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                           DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                                           LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                                           LPCSTR lpPassword);
WINBASEAPI SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess);
WINBASEAPI BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR *lpServiceArgVectors);
WINBASEAPI BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);
WINBASEAPI BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
WINBASEAPI BOOL WINAPI QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
                                           LPDWORD pcbBytesNeeded);
WINBASEAPI BOOL WINAPI ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType,
                                            DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup,
                                            LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                                            LPCSTR lpPassword, LPCSTR lpDisplayName);
WINBASEAPI BOOL WINAPI DeleteService(SC_HANDLE hService);
WINBASEAPI BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject);
WINBASEAPI BOOL WINAPI EnumServicesStatusA(SC_HANDLE hSCManager, DWORD dwServiceType, DWORD dwServiceState,
                                           LPENUM_SERVICE_STATUSA lpServices, DWORD cbBufSize, LPDWORD pcbBytesNeeded,
                                           LPDWORD lpServicesReturned, LPDWORD lpResumeHandle);
#define OpenSCManager OpenSCManagerA
#define CreateService CreateServiceA
#define OpenService OpenServiceA
#define StartService StartServiceA
#define QueryServiceConfig QueryServiceConfigA
#define ChangeServiceConfig ChangeServiceConfigA
#define EnumServicesStatus EnumServicesStatusA

/* Event log (lpUserSid is a PSID; it is not recorded) */
WINBASEAPI HANDLE WINAPI RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
WINBASEAPI BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PVOID lpUserSid,
                                    WORD wNumStrings, DWORD dwDataSize, LPCSTR *lpStrings, LPVOID lpRawData);
WINBASEAPI BOOL WINAPI DeregisterEventSource(HANDLE hEventLog);
#define RegisterEventSource RegisterEventSourceA
#define ReportEvent ReportEventA

QX_EXTERN_C_END

#endif
