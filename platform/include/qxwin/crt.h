/* The Microsoft C runtime's file calls, with Windows paths through the drive
 * table, text mode (CR LF on disk, LF in memory, Ctrl-Z as end of file) and
 * share modes. Included by windows.h and by io.h, direct.h and share.h.
 *
 * Names libc also has (fopen, fdopen, setvbuf, fileno, mktemp) are function-like
 * macros onto the layer's own qxcrt_ functions, so a program reads fopen(...) as
 * usual while the exported symbols never interpose libc. The underscore names
 * are exported under a "qxcrt_" prefix through asm labels.
 *
 * Open flags: the access and creation bits are the host's own O_ values
 * (so _O_CREAT == O_CREAT and both spellings work); _O_TEXT and _O_BINARY are
 * bits the host does not use. Text or binary is decided per descriptor and
 * per stream: "t"/"b" in a mode, _O_TEXT/_O_BINARY in flags, else _fmode. */
#ifndef QX_WIN_CRT_H
#define QX_WIN_CRT_H

#ifdef __cplusplus
/* The C++ headers #undef the stdio names when first included; having them in
 * before the macros below keeps the macros alive for the rest of the program. */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#endif
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#ifdef __cplusplus
#define QX_CRT_BEGIN extern "C" {
#define QX_CRT_END }
#else
#define QX_CRT_BEGIN
#define QX_CRT_END
#endif
#define QXCRT_API __attribute__((visibility("default")))
#define QXCRT_NAME(n) __asm__("qxcrt_" #n)

#define _O_RDONLY O_RDONLY
#define _O_WRONLY O_WRONLY
#define _O_RDWR O_RDWR
#define _O_APPEND O_APPEND
#define _O_CREAT O_CREAT
#define _O_TRUNC O_TRUNC
#define _O_EXCL O_EXCL
#define _O_NOINHERIT O_CLOEXEC
#define _O_TEXT 0x10000000
#define _O_BINARY 0x20000000
#define _O_RAW _O_BINARY
#define _O_SEQUENTIAL 0
#define _O_RANDOM 0
#define _O_SHORT_LIVED 0
#define O_TEXT _O_TEXT
#define O_BINARY _O_BINARY
#define O_RAW _O_BINARY

#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080
#define _S_IEXEC 0x0040
#define _S_IFDIR 0x4000
#define _S_IFREG 0x8000
#define _S_IFMT 0xF000

/* Share modes of _sopen and _fsopen. */
#define _SH_COMPAT 0x00
#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40
#define SH_COMPAT _SH_COMPAT
#define SH_DENYRW _SH_DENYRW
#define SH_DENYWR _SH_DENYWR
#define SH_DENYRD _SH_DENYRD
#define SH_DENYNO _SH_DENYNO

/* Windows' struct _stat; the time members are timespecs so that the host's
 * st_atime/st_mtime/st_ctime macros reach their seconds. */
struct _stat {
  unsigned int st_dev;
  unsigned short st_ino;
  unsigned short st_mode;
  short st_nlink;
  short st_uid;
  short st_gid;
  unsigned int st_rdev;
  long st_size;
  struct timespec st_atim;
  struct timespec st_mtim;
  struct timespec st_ctim;
};

QX_CRT_BEGIN

/* Default translation mode for opens that name none: _O_TEXT (the default) or _O_BINARY. */
extern QXCRT_API int _fmode QXCRT_NAME(_fmode);
QXCRT_API int _set_fmode(int mode) QXCRT_NAME(_set_fmode);
QXCRT_API int _get_fmode(int *mode) QXCRT_NAME(_get_fmode);

/* Descriptors: real host descriptors, with the layer's text flag kept beside them. */
QXCRT_API int _open(const char *path, int oflag, ...) QXCRT_NAME(_open);
QXCRT_API int _sopen(const char *path, int oflag, int shflag, ...) QXCRT_NAME(_sopen);
QXCRT_API int _creat(const char *path, int pmode) QXCRT_NAME(_creat);
QXCRT_API int _read(int fd, void *buffer, unsigned int count) QXCRT_NAME(_read);
QXCRT_API int _write(int fd, const void *buffer, unsigned int count) QXCRT_NAME(_write);
QXCRT_API int _close(int fd) QXCRT_NAME(_close);
QXCRT_API long _lseek(int fd, long offset, int origin) QXCRT_NAME(_lseek);
QXCRT_API long _tell(int fd) QXCRT_NAME(_tell);
QXCRT_API long _filelength(int fd) QXCRT_NAME(_filelength);
QXCRT_API int _eof(int fd) QXCRT_NAME(_eof);
QXCRT_API int _chsize(int fd, long size) QXCRT_NAME(_chsize);
QXCRT_API int _setmode(int fd, int mode) QXCRT_NAME(_setmode);
QXCRT_API int _commit(int fd) QXCRT_NAME(_commit);
QXCRT_API int _dup(int fd) QXCRT_NAME(_dup);
QXCRT_API int _fstat(int fd, struct _stat *buffer) QXCRT_NAME(_fstat);

/* Names */
QXCRT_API int _access(const char *path, int mode) QXCRT_NAME(_access);
/* The function and its structure share the name _stat, as the C runtime's do. */
#if defined(__GNUC__) && defined(__cplusplus)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#endif
QXCRT_API int _stat(const char *path, struct _stat *buffer) QXCRT_NAME(_stat);
#if defined(__GNUC__) && defined(__cplusplus)
#pragma GCC diagnostic pop
#endif
QXCRT_API int _unlink(const char *path) QXCRT_NAME(_unlink);
QXCRT_API int _rename(const char *oldname, const char *newname) QXCRT_NAME(_rename);
QXCRT_API int _chmod(const char *path, int pmode) QXCRT_NAME(_chmod);
QXCRT_API char *_mktemp(char *name_template) QXCRT_NAME(_mktemp);

/* Directories and drives (drive numbers: 1 = A, 2 = B, 3 = C, ...). */
QXCRT_API int _mkdir(const char *path) QXCRT_NAME(_mkdir);
QXCRT_API int _rmdir(const char *path) QXCRT_NAME(_rmdir);
QXCRT_API int _chdir(const char *path) QXCRT_NAME(_chdir);
QXCRT_API char *_getcwd(char *buffer, int maxlen) QXCRT_NAME(_getcwd);
QXCRT_API char *_getdcwd(int drive, char *buffer, int maxlen) QXCRT_NAME(_getdcwd);
QXCRT_API int _chdrive(int drive) QXCRT_NAME(_chdrive);
QXCRT_API int _getdrive(void) QXCRT_NAME(_getdrive);
QXCRT_API char *_fullpath(char *abs_path, const char *rel_path, size_t maxlen) QXCRT_NAME(_fullpath);
QXCRT_API void _splitpath(const char *path, char *drive, char *dir, char *fname, char *ext) QXCRT_NAME(_splitpath);
QXCRT_API void _makepath(char *path, const char *drive, const char *dir, const char *fname, const char *ext)
    QXCRT_NAME(_makepath);

/* Strings */
QXCRT_API int _stricmp(const char *a, const char *b) QXCRT_NAME(_stricmp);
QXCRT_API int _strnicmp(const char *a, const char *b, size_t count) QXCRT_NAME(_strnicmp);
QXCRT_API char *_strupr(char *s) QXCRT_NAME(_strupr);
QXCRT_API char *_strlwr(char *s) QXCRT_NAME(_strlwr);
QXCRT_API char *_itoa(int value, char *buffer, int radix) QXCRT_NAME(_itoa);
QXCRT_API char *_ltoa(long value, char *buffer, int radix) QXCRT_NAME(_ltoa);
QXCRT_API char *_ultoa(unsigned long value, char *buffer, int radix) QXCRT_NAME(_ultoa);

/* Descriptors and HANDLEs: the handle under a descriptor (a table handle on
 * the same open file; a socket's is the socket), and a descriptor that takes a
 * handle over (its _close closes the handle too). */
QXCRT_API intptr_t _get_osfhandle(int fd) QXCRT_NAME(_get_osfhandle);
QXCRT_API int _open_osfhandle(intptr_t osfhandle, int flags) QXCRT_NAME(_open_osfhandle);

/* Error texts worded as the Microsoft runtime words them, indexed by errno;
 * _sys_nerr is the runtime's count of texts (43). strerror and perror are
 * function-like macros onto these for the programs. */
extern QXCRT_API const int _sys_nerr QXCRT_NAME(_sys_nerr);
extern QXCRT_API const char *const _sys_errlist[] QXCRT_NAME(_sys_errlist);
QXCRT_API char *_strerror(const char *prefix) QXCRT_NAME(_strerror);
QXCRT_API char *qxcrt_strerror(int code);
QXCRT_API void qxcrt_perror(const char *prefix);

/* Streams: text-mode streams are host FILEs whose bytes pass through the
 * layer's translation; ftell and fseek work on physical offsets. */
QXCRT_API FILE *qxcrt_fopen(const char *path, const char *mode);
QXCRT_API FILE *qxcrt_fsopen(const char *path, const char *mode, int shflag);
QXCRT_API FILE *qxcrt_fdopen(int fd, const char *mode);
QXCRT_API int qxcrt_setvbuf(FILE *stream, char *buffer, int mode, size_t size);
QXCRT_API char *qxcrt_fgets(char *buffer, int size, FILE *stream);
QXCRT_API int qxcrt_fileno(FILE *stream);

QX_CRT_END

#define _fsopen(p, m, s) qxcrt_fsopen(p, m, s)
#define _fdopen(fd, m) qxcrt_fdopen(fd, m)
#define _fileno(f) qxcrt_fileno(f)
#define _strdup(s) strdup(s)
#define stricmp(a, b) _stricmp(a, b)
#define strcmpi(a, b) _stricmp(a, b)
#define strnicmp(a, b, n) _strnicmp(a, b, n)
#define strupr(s) _strupr(s)
#define strlwr(s) _strlwr(s)
#define itoa(v, b, r) _itoa(v, b, r)
#define ltoa(v, b, r) _ltoa(v, b, r)

/* The layer's own sources keep the host's calls under their own names. */
#if !defined(QX_PLATFORM_INTERNAL) && !defined(QX_NO_CRT_MACROS)
#define fopen(p, m) qxcrt_fopen(p, m)
#define fdopen(fd, m) qxcrt_fdopen(fd, m)
#define setvbuf(f, b, m, s) qxcrt_setvbuf(f, b, m, s)
#define fgets(b, n, f) qxcrt_fgets(b, n, f)
#define fileno(f) qxcrt_fileno(f)
#define mktemp(t) _mktemp(t)
#define strerror(e) qxcrt_strerror(e)
#define perror(s) qxcrt_perror(s)
#ifdef __cplusplus
namespace std {
using ::qxcrt_fgets;
using ::qxcrt_fopen;
using ::qxcrt_perror;
using ::qxcrt_setvbuf;
using ::qxcrt_strerror;
}  // namespace std
#endif
#endif

#endif
