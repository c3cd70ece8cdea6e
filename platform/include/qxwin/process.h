/* Processes of the platform layer: the WinMain entry, command lines, starting
 * and opening processes, exit codes and the environment. */
#ifndef QX_WIN_PROCESS_H
#define QX_WIN_PROCESS_H

#include "base.h"
#include "kernel.h"

/* Creation flags */
#define DEBUG_PROCESS 0x00000001u
#define DEBUG_ONLY_THIS_PROCESS 0x00000002u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define IDLE_PRIORITY_CLASS 0x00000040u
#define HIGH_PRIORITY_CLASS 0x00000080u
#define REALTIME_PRIORITY_CLASS 0x00000100u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_DEFAULT_ERROR_MODE 0x04000000u
#define CREATE_NO_WINDOW 0x08000000u

/* STARTUPINFO flags */
#define STARTF_USESHOWWINDOW 0x00000001u
#define STARTF_USESIZE 0x00000002u
#define STARTF_USEPOSITION 0x00000004u
#define STARTF_USESTDHANDLES 0x00000100u

/* Process access rights */
#define PROCESS_TERMINATE 0x0001u
#define PROCESS_CREATE_THREAD 0x0002u
#define PROCESS_VM_OPERATION 0x0008u
#define PROCESS_VM_READ 0x0010u
#define PROCESS_VM_WRITE 0x0020u
#define PROCESS_DUP_HANDLE 0x0040u
#define PROCESS_CREATE_PROCESS 0x0080u
#define PROCESS_SET_INFORMATION 0x0200u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x0FFFu)

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA, STARTUPINFO, *LPSTARTUPINFO;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

QX_EXTERN_C_BEGIN

/* The program's entry point, written by each program (not by the layer);
 * the layer's main() calls it with the command line after the program word. */
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);

WINBASEAPI LPSTR WINAPI GetCommandLineA(void);
WINBASEAPI BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                      LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                      LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                      DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                                      LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
/* As CreateProcessA, the child running as the token's user with its primary
 * group and groups (root only, unless the token is the caller's own user).
 * With STARTF_USESTDHANDLES the standard handles must be sockets. */
WINBASEAPI BOOL WINAPI CreateProcessAsUserA(HANDLE hToken, LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                            LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                            LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                            DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                                            LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
WINBASEAPI UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow);
WINBASEAPI HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
WINBASEAPI HANDLE WINAPI GetCurrentProcess(void);
WINBASEAPI DWORD WINAPI GetCurrentProcessId(void);
WINBASEAPI BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
WINBASEAPI BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode);
WINBASEAPI void WINAPI ExitProcess(UINT uExitCode) __attribute__((noreturn));
WINBASEAPI void WINAPI GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo);
WINBASEAPI DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
WINBASEAPI BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);
/* %NAME% replaced by the variable's value; returns the size the result needs
 * (terminator included) and writes it only when it fits. */
WINBASEAPI DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);

QX_EXTERN_C_END

#define GetCommandLine GetCommandLineA
#define CreateProcess CreateProcessA
#define CreateProcessAsUser CreateProcessAsUserA
#define GetStartupInfo GetStartupInfoA
#define ExpandEnvironmentStrings ExpandEnvironmentStringsA
#define GetEnvironmentVariable GetEnvironmentVariableA
#define SetEnvironmentVariable SetEnvironmentVariableA

#endif
