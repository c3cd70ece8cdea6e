// The MIME library attachkit, as its callers see it: the library is loaded by
// name (LoadLibraryA("attachkit.DLL")) and its three exports are taken with
// GetProcAddress by these names.
#ifndef QX_ATTACHKIT_H
#define QX_ATTACHKIT_H

#include <windows.h>

#include <cstdint>

// ProcessMime(file, partStart, partEnd, mailDir, userAddress, mode, owner):
// acts on one MIME part of a stored message. file is the message file's
// handle (for a C runtime stream, _get_osfhandle(_fileno(stream))); the
// library reads through a handle of its own, so file's pointer never moves; the part runs from partStart (its first
// header line) to partEnd (lines that begin there or later are not read). mode 1 saves the part to a file the user
// picks; any other mode shows or plays it. Result: 0 nothing done (no Content-Type first, a message part other than
// external-body, an audio type other than basic, no sound device), 1 handled
// (also after a cancelled save), 2 a mail-server request was queued in the
// send queue, so the caller should run it.
typedef int32_t(WINAPI *PROCESSMIME)(HANDLE file, int32_t partStart, uint32_t partEnd, LPCSTR mailDir,
                                     LPCSTR userAddress, int32_t mode, HWND owner);

// SendMime(file, entry, type): writes the MIME header lines and the base64 body
// of one attachment at file's current position. type 1: entry is the file's
// path; types 2 (FTP pointer), 3 (mail-server pointer) and 4 (voice recording):
// entry is the byte 0x01 and the decimal value of the block's handle from
// MimeGetSpecial. Result 0 when written (an unknown type writes nothing), -1
// when the file or block cannot be read or the part cannot be written.
typedef int32_t(WINAPI *SENDMIME)(HANDLE file, LPSTR entry, int32_t type);

// MimeGetSpecial(type, handle, owner): without a handle, asks for an FTP
// pointer (2), a mail-server pointer (3) or a voice recording (4) and returns
// its block, or none when cancelled; with a handle, frees that block (for 4
// the whole recording) and returns none.
typedef HGLOBAL(WINAPI *MIMEGETSPECIAL)(int32_t type, HGLOBAL handle, HWND owner);

#define ATTACHKIT_MODULE "attachkit.DLL"

// Results of ProcessMime.
#define MIME_NOT_HANDLED 0
#define MIME_HANDLED 1
#define MIME_MAIL_QUEUED 2

// ProcessMime modes.
#define MIME_MODE_SAVE 1
#define MIME_MODE_SHOW 2

// Attachment types of SendMime and MimeGetSpecial.
#define MIME_ATTACH_FILE 1
#define MIME_ATTACH_FTP 2
#define MIME_ATTACH_MAILSERVER 3
#define MIME_ATTACH_VOICE 4

// FTP_POINTER flags.
#define FTP_POINTER_ANONYMOUS 0x1
#define FTP_POINTER_BINARY 0x2

#endif
