/* installkit: the setup library an installation program loads by name
 * ("INSTALLKIT.DLL") and calls one export per installation step.
 *
 * The installer's steps take the number of arguments, the argument texts and
 * a slot for the out text: "OK" or "BAD", static texts of the library that
 * the caller must neither free nor change. Argument 0 is the installation
 * directory ("C:\QXTCP") for FinishInstall, Update and DeInstall, and the mode
 * word for Configure ("Configure": configure mode, else install mode). */
#ifndef QX_SETUP_INSTALLKIT_H
#define QX_SETUP_INSTALLKIT_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The installer's view: what GetProcAddress gives for each export. */
typedef BOOL(WINAPI *INSTALLKIT_STEP)(DWORD count, LPSTR *arguments, LPCSTR *outText);
typedef DWORD(WINAPI *INSTALLKIT_GETDIR)(LPSTR *fileNames, DWORD count, LPSTR buffer, DWORD bufferSize);

/* Entry point: keeps the instance handle for the dialogs; true for every reason. */
QX_DLLEXPORT BOOL WINAPI Win32LibMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

/* The installation directory: the one stored by an earlier installation, or
 * the one the user gives in the dialog "GetDir" (then created, with its
 * subdirectories, and added to the system search path); "BAD" when the user
 * cancels. With count 2, fileNames[0] is copied over fileNames[1] beside the
 * lookup (done when the call returns). Returns the stored value's size (its
 * NUL included) or the answer's length; a directory that does not fit the
 * buffer is never cut: the answer is then "BAD". */
QX_DLLEXPORT DWORD WINAPI GetInstallationDir(LPSTR *fileNames, DWORD count, LPSTR buffer, DWORD bufferSize);

/* Asks the running super-server "Q&Xportwarden" to show its configuration
 * dialog and waits until it closes. */
QX_DLLEXPORT BOOL WINAPI ConfigurePortwarden(DWORD count, LPSTR *arguments, LPCSTR *outText);
/* The NFS client settings dialog. */
QX_DLLEXPORT BOOL WINAPI Configure(DWORD count, LPSTR *arguments, LPCSTR *outText);
/* Registers the services, providers, counters and keys of the suite. */
QX_DLLEXPORT BOOL WINAPI FinishInstall(DWORD count, LPSTR *arguments, LPCSTR *outText);
/* Updates a present installation, keeping the user's settings. */
QX_DLLEXPORT BOOL WINAPI Update(DWORD count, LPSTR *arguments, LPCSTR *outText);
/* Removes what FinishInstall registered. */
QX_DLLEXPORT BOOL WINAPI DeInstall(DWORD count, LPSTR *arguments, LPCSTR *outText);
/* Dialog procedure of the NFS client settings dialog "Configure". */
QX_DLLEXPORT INT_PTR CALLBACK NFSDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#ifdef __cplusplus
}
#endif

/* ---- Shared inside the library ---- */

/* The out texts. */
extern const char kOutOk[];  /* "OK" */
extern const char kOutBad[]; /* "BAD" */

/* The library's instance handle, stored by Win32LibMain. */
extern HINSTANCE g_InstallKitInstance;

/* A dialog's control-colour message: the 3-D dialog library's colour handler
 * answers when that library is active, else the message gets no answer. */
INT_PTR InstallKitControlColour(UINT message, WPARAM wParam, LPARAM lParam);

/* The NFS client's keys under HKEY_LOCAL_MACHINE. */
#define INSTALLKIT_CLIENT_KEY "SOFTWARE\\Corvane\\NFSClient"
#define INSTALLKIT_CLIENT_CURRENT_KEY "SOFTWARE\\Corvane\\NFSClient\\CurrentVersion"
#define INSTALLKIT_INSTALL_CAPTION "QXNFS Client Install"
/* The system environment, whose "Path" is the search path. */
#define INSTALLKIT_ENVIRONMENT_KEY "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"

/* The NFS server service "QXNFSServer" and its control-panel applet in the
 * system directory: mode bit 0 set installs them, clear removes them. */
#define SETUP_NFS_SERVER_INSTALL 1
#define SETUP_NFS_SERVER_REMOVE 0
void SetupNfsServer(DWORD mode);

#endif
