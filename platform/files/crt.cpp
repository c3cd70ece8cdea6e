// The C runtime's file calls as the Microsoft runtime gives them: Windows
// paths, share modes, and text mode. Text mode keeps CR LF on disk and LF in
// memory; a Ctrl-Z (0x1A) read in text mode ends the file; offsets (_tell,
// _lseek, ftell, fseek) are always physical, so offsets a program stores in
// its index files match the bytes on disk.
//
// Text streams are host FILEs made with fopencookie: the translation lives in
// the cookie, which keeps its own read-ahead and knows the physical offset of
// every byte it hands out. The host FILE above it is left unbuffered, so
// ftell (which asks the cookie for its position) is exact.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files_internal.h"
#include "qx/errors.h"
#include "qx/paths.h"
#include "qx/print.h"

int _fmode = _O_TEXT;

namespace {

struct FdInfo {
  bool text = false;
  bool can_read = true;
  bool can_write = true;
  bool ctrlz = false;  // a text read met Ctrl-Z: reads give 0 until a seek
  // A byte read ahead from a pipe or device that cannot be pushed back: a CR
  // that ended a read (its LF may follow) or the byte after a lone CR. The
  // next read starts with it, as the Microsoft runtime's lookahead does.
  int pending = -1;
};

std::mutex g_lock;
std::map<int, FdInfo> g_fds;

bool InfoOf(int fd, FdInfo &out) {
  std::lock_guard guard(g_lock);
  auto it = g_fds.find(fd);
  if (it == g_fds.end()) return false;
  out = it->second;
  return true;
}

void SetCtrlZ(int fd, bool on) {
  std::lock_guard guard(g_lock);
  auto it = g_fds.find(fd);
  if (it != g_fds.end()) it->second.ctrlz = on;
}

void SetPending(int fd, int byte) {
  std::lock_guard guard(g_lock);
  auto it = g_fds.find(fd);
  if (it != g_fds.end()) it->second.pending = byte;
}

int FailErrno(int err) {
  errno = err;
  return -1;
}

DWORD ShareFromCrt(int shflag) {
  switch (shflag) {
    case _SH_DENYRW: return 0;
    case _SH_DENYWR: return FILE_SHARE_READ;
    case _SH_DENYRD: return FILE_SHARE_WRITE;
    default: return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
}

// Removes one Ctrl-Z at the end of a file opened for text appending, as the
// Microsoft runtime does, so appended text is not hidden behind it.
void DropTrailingCtrlZ(int fd) {
  struct stat st {};
  char last = 0;
  if (fstat(fd, &st) == 0 && st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) == 1 && last == 0x1A)
    if (ftruncate(fd, st.st_size - 1) != 0) errno = 0;
}

// A read-only open of an existing file, the common case of reading messages
// and settings: the name as spelled is opened first, and looked up without
// regard to case only when no such name exists; the file's status comes from
// the descriptor. With `stream` set the file is opened as a binary C stream
// (one call less than a descriptor made into a stream). Returns the
// descriptor, or -1 (errno).
int OpenForReading(const char *path, int oflag, int shflag, FILE **stream = nullptr) {
  std::string host;
  DWORD error = 0;
  if (!qx::HostPathAsGiven(path, host, error)) return FailErrno(qx::ErrnoFromError(error));
  const int flags = O_RDONLY | (oflag & O_APPEND) | O_CLOEXEC;
  auto open_host = [&]() -> int {
    if (!stream) return open(host.c_str(), flags);
    *stream = ::fopen(host.c_str(), "re");
    return *stream ? ::fileno(*stream) : -1;
  };
  auto fail = [&](int fd, int e) {
    if (stream)
      ::fclose(*stream);
    else
      close(fd);
    if (stream) *stream = nullptr;
    return FailErrno(e);
  };
  int fd = open_host();
  if (fd < 0 && errno == ENOENT) {
    if (!qx::HostPath(path, host, error)) return FailErrno(qx::ErrnoFromError(error));
    fd = open_host();
  }
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0) return fail(fd, errno);
  if (S_ISDIR(st.st_mode)) return fail(fd, EACCES);
  if (qx::AcquireShareMode(fd, true, false, ShareFromCrt(shflag), &st)) return fail(fd, EACCES);
  return fd;
}

// Opens a Windows path with host open flags and a share mode; the common
// part of _sopen and the stream opens. Returns the descriptor or -1 (errno).
int OpenCrt(const char *path, int oflag, int shflag, int pmode, bool &text, FILE **stream = nullptr) {
  if (!path) return FailErrno(EINVAL);
  text = (oflag & _O_TEXT) ? true : (oflag & _O_BINARY) ? false : !(_fmode & _O_BINARY);
  std::string host;
  DWORD error = 0;
  // "PRN" and "LPT1:" open a new print job's data file; anything else is a path.
  const bool device = qx::print::OpenDevice(path, host, error);
  if (!device && (oflag & (O_ACCMODE | O_CREAT | O_TRUNC)) == O_RDONLY)
    return OpenForReading(path, oflag, shflag, text ? nullptr : stream);
  if ((device && error) || (!device && !qx::HostPath(path, host, error))) return FailErrno(qx::ErrnoFromError(error));
  int access = oflag & O_ACCMODE;
  bool can_write = access != O_RDONLY;
  bool can_read = access != O_WRONLY;
  struct stat st {};
  bool existed = stat(host.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) return FailErrno(EACCES);
  if (existed && (oflag & O_CREAT) && (oflag & O_EXCL)) return FailErrno(EEXIST);
  if (existed && qx::IsReadOnly(st) && (can_write || (oflag & O_TRUNC)) && host != "/dev/null")
    return FailErrno(EACCES);  // the read-only attribute holds even for root
  int flags = (oflag & (O_ACCMODE | O_CREAT | O_EXCL | O_APPEND)) | O_CLOEXEC;
  // Creation is exclusive: a file that appears meanwhile is opened as existing.
  int fd = -1;
  bool created = false;
  std::optional<qx::DirChange> change;  // a name this call may add (or remove again)
  if (!existed && (flags & O_CREAT)) {
    change.emplace(host);
    fd = qx::OpenForShare(host, flags | O_EXCL, 0666);
    created = fd >= 0;
    if (fd < 0 && (errno != EEXIST || (oflag & O_EXCL))) return -1;
    if (fd < 0) existed = true;
  }
  if (fd < 0) fd = qx::OpenForShare(host, flags & ~(existed ? O_CREAT : 0), 0666);
  if (fd < 0) return -1;
  // A file this call just made can only be refused because another process
  // opened it in between and holds it: the file stays, as it is in use.
  if (qx::AcquireShareMode(fd, can_read, can_write, ShareFromCrt(shflag))) {
    close(fd);
    return FailErrno(EACCES);
  }
  if ((oflag & O_TRUNC) && existed && ftruncate(fd, 0) != 0) {
    int e = errno;
    close(fd);
    return FailErrno(e);
  }
  if (created && (oflag & O_CREAT) && !(pmode & _S_IWRITE)) fchmod(fd, 0444);
  if (text && (oflag & O_APPEND) && access == O_RDWR) DropTrailingCtrlZ(fd);
  return fd;
}

void Register(int fd, bool text, int oflag) {
  FdInfo info;
  info.text = text;
  info.can_read = (oflag & O_ACCMODE) != O_WRONLY;
  info.can_write = (oflag & O_ACCMODE) != O_RDONLY;
  std::lock_guard guard(g_lock);
  g_fds[fd] = info;
}

// LF -> CR LF into out; returns bytes of input taken.
void ExpandNewlines(const char *in, size_t n, std::vector<char> &out) {
  out.clear();
  out.reserve(n + n / 8 + 16);
  for (size_t i = 0; i < n; ++i) {
    if (in[i] == '\n') out.push_back('\r');
    out.push_back(in[i]);
  }
}

bool WriteFully(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Writes text-mode output in pieces; returns the input bytes written or -1.
ssize_t WriteText(int fd, const char *data, size_t n) {
  std::vector<char> out;
  size_t done = 0;
  while (done < n) {
    size_t piece = std::min<size_t>(n - done, 4096);
    ExpandNewlines(data + done, piece, out);
    if (!WriteFully(fd, out.data(), out.size())) return done ? static_cast<ssize_t>(done) : -1;
    done += piece;
  }
  return static_cast<ssize_t>(done);
}

// ---- Text streams ----

class TextStream {
 public:
  TextStream(int fd) : fd_(fd), buf_(8192) {}
  ~TextStream() { close(fd_); }
  int fd() const { return fd_; }

  ssize_t Read(char *out, size_t size, bool stop_at_newline = false) {
    size_t n = 0;
    while (n < size && !ctrlz_ && !(stop_at_newline && n > 0 && out[n - 1] == '\n')) {
      if (pos_ == len_ && !Fill()) break;
      char c = buf_[pos_];
      if (c == 0x1A) {
        ctrlz_ = true;  // the end of a text file; the offset stays at the Ctrl-Z
        break;
      }
      if (c == '\r') {
        if (pos_ + 1 == len_ && !PeekOneMore()) {
          out[n++] = '\r';
          ++pos_;
          continue;
        }
        if (buf_[pos_ + 1] == '\n') {
          out[n++] = '\n';
          pos_ += 2;
          continue;
        }
      }
      out[n++] = c;
      ++pos_;
    }
    return static_cast<ssize_t>(n);
  }

  ssize_t Write(const char *data, size_t size) {
    if (len_ > 0) {  // give back what was read ahead
      lseek(fd_, buf_start_ + static_cast<off_t>(pos_), SEEK_SET);
      pos_ = len_ = 0;
    }
    return WriteText(fd_, data, size);
  }

  int Seek(off64_t *offset, int whence) {
    off_t current = len_ > 0 ? buf_start_ + static_cast<off_t>(pos_) : lseek(fd_, 0, SEEK_CUR);
    if (current < 0) return -1;
    if (whence == SEEK_CUR && *offset == 0) {  // ftell: keep the read-ahead
      *offset = current;
      return 0;
    }
    off_t target;
    if (whence == SEEK_SET) {
      target = *offset;
    } else if (whence == SEEK_CUR) {
      target = current + *offset;
    } else {
      target = lseek(fd_, *offset, SEEK_END);
      if (target < 0) return -1;
    }
    if (target < 0) {
      errno = EINVAL;
      return -1;
    }
    if (lseek(fd_, target, SEEK_SET) < 0) return -1;
    pos_ = len_ = 0;
    ctrlz_ = false;
    *offset = target;
    return 0;
  }

 private:
  bool Fill() {
    off_t at = lseek(fd_, 0, SEEK_CUR);
    if (at < 0) at = buf_start_ + static_cast<off_t>(len_);
    ssize_t r;
    do r = read(fd_, buf_.data(), buf_.size());
    while (r < 0 && errno == EINTR);
    buf_start_ = at;
    pos_ = 0;
    len_ = r > 0 ? static_cast<size_t>(r) : 0;
    return len_ > 0;
  }

  // A CR ends the read-ahead: move it to the front and read what follows.
  bool PeekOneMore() {
    buf_start_ += static_cast<off_t>(pos_);
    buf_[0] = '\r';
    pos_ = 0;
    len_ = 1;
    ssize_t r;
    do r = read(fd_, buf_.data() + 1, buf_.size() - 1);
    while (r < 0 && errno == EINTR);
    if (r > 0) len_ += static_cast<size_t>(r);
    return r > 0;
  }

  int fd_;
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0;
  off_t buf_start_ = 0;  // physical offset of buf_[0]
  bool ctrlz_ = false;
};

std::mutex g_streams_lock;
std::map<FILE *, TextStream *> g_streams;

ssize_t CookieRead(void *c, char *buf, size_t size) { return static_cast<TextStream *>(c)->Read(buf, size); }
ssize_t CookieWrite(void *c, const char *buf, size_t size) {
  ssize_t n = static_cast<TextStream *>(c)->Write(buf, size);
  return n < 0 ? 0 : n;  // 0 tells the host stdio that the write failed
}
int CookieSeek(void *c, off64_t *offset, int whence) { return static_cast<TextStream *>(c)->Seek(offset, whence); }
int CookieClose(void *c) {
  auto *stream = static_cast<TextStream *>(c);
  {
    std::lock_guard guard(g_streams_lock);
    for (auto it = g_streams.begin(); it != g_streams.end(); ++it)
      if (it->second == stream) {
        g_streams.erase(it);
        break;
      }
  }
  delete stream;
  return 0;
}

FILE *TextFile(int fd, const char *host_mode) {
  auto *stream = new TextStream(fd);
  cookie_io_functions_t io{CookieRead, CookieWrite, CookieSeek, CookieClose};
  FILE *f = fopencookie(stream, host_mode, io);
  if (!f) {
    delete stream;
    return nullptr;
  }
  setvbuf(f, nullptr, _IONBF, 0);  // keeps ftell exact: no bytes wait above the cookie
  std::lock_guard guard(g_streams_lock);
  g_streams[f] = stream;
  return f;
}

struct StreamMode {
  int oflag = 0;
  char host_mode[4] = {};
  int text = -1;  // 1 "t", 0 "b", -1 neither
};

bool ParseMode(const char *mode, StreamMode &m) {
  if (!mode) return false;
  bool plus = false;
  bool exclusive = false;
  for (const char *p = mode + 1; *p; ++p) {
    switch (*p) {
      case '+': plus = true; break;
      case 't': m.text = 1; break;
      case 'b': m.text = 0; break;
      case 'x': exclusive = true; break;
      case 'c':
      case 'n':
      case 'N':
      case 'S':
      case 'R':
      case 'T':
      case 'D':
      case 'e':
      case ' ': break;
      default: return false;
    }
  }
  switch (mode[0]) {
    case 'r': m.oflag = plus ? O_RDWR : O_RDONLY; break;
    case 'w': m.oflag = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC | (exclusive ? O_EXCL : 0); break;
    case 'a': m.oflag = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: return false;
  }
  m.host_mode[0] = mode[0];
  m.host_mode[1] = plus ? '+' : 0;
  if (m.text == 1) m.oflag |= _O_TEXT;
  if (m.text == 0) m.oflag |= _O_BINARY;
  return true;
}

}  // namespace

extern "C" {

int _set_fmode(int mode) {
  if (mode != _O_TEXT && mode != _O_BINARY) return errno = EINVAL;
  _fmode = mode;
  return 0;
}

int _get_fmode(int *mode) {
  if (!mode) return errno = EINVAL;
  *mode = _fmode;
  return 0;
}

// ---- Descriptors ----

int _sopen(const char *path, int oflag, int shflag, ...) {
  int pmode = _S_IREAD | _S_IWRITE;
  if (oflag & O_CREAT) {
    va_list ap;
    va_start(ap, shflag);
    pmode = va_arg(ap, int);
    va_end(ap);
  }
  bool text;
  int fd = OpenCrt(path, oflag, shflag, pmode, text);
  if (fd >= 0) Register(fd, text, oflag);
  return fd;
}

int _open(const char *path, int oflag, ...) {
  int pmode = _S_IREAD | _S_IWRITE;
  if (oflag & O_CREAT) {
    va_list ap;
    va_start(ap, oflag);
    pmode = va_arg(ap, int);
    va_end(ap);
  }
  return _sopen(path, oflag, _SH_DENYNO, pmode);
}

int _creat(const char *path, int pmode) { return _open(path, O_RDWR | O_CREAT | O_TRUNC, pmode); }

namespace {

ssize_t ReadRaw(int fd, char *buffer, size_t count) {
  ssize_t n;
  do n = read(fd, buffer, count);
  while (n < 0 && errno == EINTR);
  return n;
}

// The byte after a CR that ended a read: the next byte of the file or pipe
// (waiting for it, as the Microsoft runtime does), -1 at the end or on error.
int PeekAfterCr(int fd) {
  char next;
  return ReadRaw(fd, &next, 1) == 1 ? static_cast<unsigned char>(next) : -1;
}

// A text read of up to count bytes into out: CR LF becomes LF, Ctrl-Z ends
// the text. pending is the byte left ahead by the previous read (-1: none);
// only pipes and devices leave one, since files seek back instead.
// Translation is done in place: the output never runs ahead of the input.
int ReadText(int fd, char *out, unsigned int count, int pending) {
  size_t have = 0;
  if (pending >= 0) {
    out[have++] = static_cast<char>(pending);
    SetPending(fd, -1);
  }
  if (have < count) {
    ssize_t got = ReadRaw(fd, out + have, count - have);
    if (got < 0 && have == 0) return -1;
    if (got > 0) have += static_cast<size_t>(got);
  }
  const bool seekable = pending < 0 && lseek(fd, 0, SEEK_CUR) >= 0;
  size_t n = 0;
  for (size_t i = 0; i < have; ++i) {
    char c = out[i];
    if (c == 0x1A) {
      if (seekable) lseek(fd, -static_cast<off_t>(have - i), SEEK_CUR);  // the offset stays at the Ctrl-Z
      SetCtrlZ(fd, true);
      break;
    }
    if (c == '\r') {
      if (i + 1 < have) {
        if (out[i + 1] == '\n') continue;  // the LF that follows is kept
      } else if (!seekable && n > 0) {
        SetPending(fd, '\r');  // decided by the next read, so this one need not wait
        break;
      } else {
        int next = PeekAfterCr(fd);
        if (next == '\n') {
          c = '\n';
        } else if (next >= 0 && !(seekable && lseek(fd, -1, SEEK_CUR) >= 0)) {
          SetPending(fd, next);  // a pipe cannot take the byte back
        }
      }
    }
    out[n++] = c;
  }
  return static_cast<int>(n);
}

}  // namespace

int _read(int fd, void *buffer, unsigned int count) {
  FdInfo info;
  bool known = InfoOf(fd, info);
  if (known && !info.can_read) return FailErrno(EBADF);
  if (!buffer && count) return FailErrno(EINVAL);
  if (count > INT_MAX) count = INT_MAX;
  if (!known || !info.text) {
    char *out = static_cast<char *>(buffer);
    size_t have = 0;
    if (known && info.pending >= 0 && count > 0) {  // left ahead by a text read before _setmode
      out[have++] = static_cast<char>(info.pending);
      SetPending(fd, -1);
      if (have == count) return 1;
    }
    ssize_t n = ReadRaw(fd, out + have, count - have);
    if (n < 0) return have ? static_cast<int>(have) : -1;
    return static_cast<int>(have + static_cast<size_t>(n));
  }
  if (info.ctrlz || count == 0) return 0;
  return ReadText(fd, static_cast<char *>(buffer), count, info.pending);
}

int _write(int fd, const void *buffer, unsigned int count) {
  FdInfo info;
  bool known = InfoOf(fd, info);
  if (known && !info.can_write) return FailErrno(EBADF);
  if (!buffer && count) return FailErrno(EINVAL);
  if (count > INT_MAX) count = INT_MAX;
  if (!known || !info.text) {
    size_t done = 0;
    while (done < count) {
      ssize_t w = write(fd, static_cast<const char *>(buffer) + done, count - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return done ? static_cast<int>(done) : (w == 0 ? FailErrno(ENOSPC) : -1);
      done += static_cast<size_t>(w);
    }
    return static_cast<int>(done);
  }
  return static_cast<int>(WriteText(fd, static_cast<const char *>(buffer), count));
}

int _close(int fd) {
  qx::ForgetOsfHandle(fd);
  {
    std::lock_guard guard(g_lock);
    g_fds.erase(fd);
  }
  return close(fd);
}

long _lseek(int fd, long offset, int origin) {
  SetCtrlZ(fd, false);
  return static_cast<long>(lseek(fd, offset, origin));
}

long _tell(int fd) { return static_cast<long>(lseek(fd, 0, SEEK_CUR)); }

long _filelength(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return -1;
  return static_cast<long>(st.st_size);
}

int _eof(int fd) {
  FdInfo info;
  if (InfoOf(fd, info) && info.ctrlz) return 1;
  if (info.pending >= 0) return 0;  // a byte read ahead from a pipe is still to come
  struct stat st {};
  off_t at = lseek(fd, 0, SEEK_CUR);
  if (at < 0 || fstat(fd, &st) != 0) return -1;
  return at >= st.st_size ? 1 : 0;
}

int _chsize(int fd, long size) {
  if (size < 0) return FailErrno(EINVAL);
  return ftruncate(fd, size) == 0 ? 0 : -1;
}

int _setmode(int fd, int mode) {
  if (mode != _O_TEXT && mode != _O_BINARY) return FailErrno(EINVAL);
  if (fcntl(fd, F_GETFD) < 0) return FailErrno(EBADF);
  std::lock_guard guard(g_lock);
  auto it = g_fds.find(fd);
  if (it == g_fds.end()) {
    it = g_fds.emplace(fd, FdInfo{}).first;
    int fl = fcntl(fd, F_GETFL);
    it->second.can_read = (fl & O_ACCMODE) != O_WRONLY;
    it->second.can_write = (fl & O_ACCMODE) != O_RDONLY;
  }
  int previous = it->second.text ? _O_TEXT : _O_BINARY;
  it->second.text = mode == _O_TEXT;
  return previous;
}

int _commit(int fd) { return fsync(fd); }

int _dup(int fd) {
  int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return -1;
  FdInfo info;
  if (InfoOf(fd, info)) {
    info.pending = -1;  // the byte read ahead stays with the descriptor that read it
    std::lock_guard guard(g_lock);
    g_fds[copy] = info;
  }
  return copy;
}

static void FillStat(const std::string &host, const struct stat &st, int drive, struct _stat *out) {
  std::memset(out, 0, sizeof *out);
  unsigned short mode = S_ISDIR(st.st_mode) ? (_S_IFDIR | _S_IEXEC) : _S_IFREG;
  mode |= _S_IREAD;
  if (!qx::IsReadOnly(st) || S_ISDIR(st.st_mode)) mode |= _S_IWRITE;
  size_t dot = host.rfind('.');
  if (dot != std::string::npos && host.find('/', dot) == std::string::npos) {
    std::string ext = host.substr(dot);
    for (const char *x : {".exe", ".com", ".bat", ".cmd"})
      if (qx::EqualNoCase(ext, x)) mode |= _S_IEXEC;
  }
  // Windows repeats the owner bits for group and others.
  mode |= static_cast<unsigned short>((mode & 0700) >> 3 | (mode & 0700) >> 6);
  out->st_dev = out->st_rdev = static_cast<unsigned>(drive);
  out->st_mode = mode;
  out->st_nlink = 1;
  out->st_size = static_cast<long>(st.st_size);
  out->st_atim = st.st_atim;
  out->st_mtim = st.st_mtim;
  out->st_ctim = qx::BirthTime(host, st);
}

int _fstat(int fd, struct _stat *buffer) {
  struct stat st {};
  if (!buffer) return FailErrno(EINVAL);
  if (fstat(fd, &st) != 0) return -1;
  FillStat("", st, 2, buffer);
  return 0;
}

// ---- Names ----

int _access(const char *path, int mode) {
  std::string host;
  DWORD error;
  struct stat st {};
  if (!path) return FailErrno(EINVAL);
  if (!qx::HostPath(path, host, error)) return FailErrno(qx::ErrnoFromError(error));
  if (stat(host.c_str(), &st) != 0) return FailErrno(ENOENT);
  if ((mode & 2) && qx::IsReadOnly(st) && !S_ISDIR(st.st_mode)) return FailErrno(EACCES);
  return 0;
}

int _stat(const char *path, struct _stat *buffer) {
  std::string host, full;
  DWORD error;
  struct stat st {};
  if (!path || !buffer) return FailErrno(EINVAL);
  if (std::strpbrk(path, "*?")) return FailErrno(ENOENT);
  if (!qx::HostPath(path, host, full, error)) return FailErrno(qx::ErrnoFromError(error));
  if (stat(host.c_str(), &st) != 0) return FailErrno(ENOENT);
  FillStat(host, st, full[0] - 'A', buffer);
  return 0;
}

int _unlink(const char *path) {
  if (DeleteFileA(path)) return 0;
  return FailErrno(qx::ErrnoFromError(GetLastError()));
}

int _rename(const char *oldname, const char *newname) {
  if (MoveFileA(oldname, newname)) return 0;
  DWORD e = GetLastError();  // an existing target is EACCES to the runtime's callers
  return FailErrno(qx::ErrnoFromError(e, qx::CrtCall::Rename));
}

int _chmod(const char *path, int pmode) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailErrno(ENOENT);
  attributes &= ~(FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_DIRECTORY);
  attributes = (pmode & _S_IWRITE) ? attributes & ~FILE_ATTRIBUTE_READONLY : attributes | FILE_ATTRIBUTE_READONLY;
  if (SetFileAttributesA(path, attributes)) return 0;
  return FailErrno(qx::ErrnoFromError(GetLastError()));
}

// The six X become the last six decimal digits of the process id; while
// that name exists, the first of them becomes 'a', then 'b', ... 'z'.
char *_mktemp(char *name_template) {
  if (!name_template) {
    errno = EINVAL;
    return nullptr;
  }
  size_t len = std::strlen(name_template);
  if (len < 6 || std::strcmp(name_template + len - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  char *x = name_template + len - 6;
  unsigned long pid = static_cast<unsigned long>(getpid());
  for (int i = 5; i >= 0; --i) {
    x[i] = static_cast<char>('0' + pid % 10);
    pid /= 10;
  }
  for (char letter = 0; letter <= 26; ++letter) {
    if (letter > 0) x[0] = static_cast<char>('a' + letter - 1);
    if (GetFileAttributesA(name_template) == INVALID_FILE_ATTRIBUTES) return name_template;
  }
  name_template[0] = 0;
  errno = EEXIST;
  return nullptr;
}

// ---- Directories and drives ----

int _mkdir(const char *path) {
  if (CreateDirectoryA(path, nullptr)) return 0;
  return FailErrno(qx::ErrnoFromError(GetLastError()));
}

int _rmdir(const char *path) {
  if (RemoveDirectoryA(path)) return 0;
  DWORD e = GetLastError();
  return FailErrno(qx::ErrnoFromError(e, qx::CrtCall::RemoveDirectory));
}

int _chdir(const char *path) {
  if (SetCurrentDirectoryA(path)) return 0;
  return FailErrno(qx::ErrnoFromError(GetLastError()));
}

static char *CopyOrAllocate(const std::string &text, char *buffer, size_t maxlen) {
  if (!buffer) {
    size_t size = std::max(maxlen, text.size() + 1);
    buffer = static_cast<char *>(std::malloc(size));
    if (!buffer) {
      errno = ENOMEM;
      return nullptr;
    }
  } else if (maxlen <= text.size()) {
    errno = ERANGE;
    return nullptr;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return buffer;
}

char *_getcwd(char *buffer, int maxlen) {
  char cwd[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
  if (n == 0 || n >= sizeof cwd) {
    errno = ERANGE;
    return nullptr;
  }
  return CopyOrAllocate(cwd, buffer, maxlen < 0 ? 0 : static_cast<size_t>(maxlen));
}

char *_getdcwd(int drive, char *buffer, int maxlen) {
  if (drive == 0) return _getcwd(buffer, maxlen);
  if (drive < 1 || drive > 26 || qx::DriveRoot(static_cast<char>('A' + drive - 1)).empty()) {
    errno = EACCES;
    return nullptr;
  }
  char spec[3] = {static_cast<char>('A' + drive - 1), ':', 0};
  std::string full;
  DWORD error;
  if (!qx::FullWindowsPath(spec, full, error)) {
    errno = EACCES;
    return nullptr;
  }
  return CopyOrAllocate(full, buffer, maxlen < 0 ? 0 : static_cast<size_t>(maxlen));
}

int _chdrive(int drive) {
  if (drive < 1 || drive > 26 || qx::DriveRoot(static_cast<char>('A' + drive - 1)).empty()) return FailErrno(EACCES);
  char spec[3] = {static_cast<char>('A' + drive - 1), ':', 0};
  return SetCurrentDirectoryA(spec) ? 0 : FailErrno(EACCES);
}

int _getdrive(void) {
  char cwd[MAX_PATH];
  if (GetCurrentDirectoryA(sizeof cwd, cwd) == 0) return 0;
  return cwd[0] - 'A' + 1;
}

char *_fullpath(char *abs_path, const char *rel_path, size_t maxlen) {
  std::string full;
  DWORD error;
  if (!rel_path || !*rel_path) return _getcwd(abs_path, static_cast<int>(std::min<size_t>(maxlen, INT_MAX)));
  if (!qx::FullWindowsPath(rel_path, full, error, true)) {
    errno = qx::ErrnoFromError(error);
    return nullptr;
  }
  if (!abs_path) maxlen = std::max<size_t>(maxlen, _MAX_PATH);
  return CopyOrAllocate(full, abs_path, maxlen);
}

static void CopyPart(char *out, size_t size, const char *from, size_t n) {
  if (!out) return;
  n = std::min(n, size - 1);  // the callers' buffers are the _MAX_ sizes
  std::memcpy(out, from, n);
  out[n] = 0;
}

void _splitpath(const char *path, char *drive, char *dir, char *fname, char *ext) {
  if (!path) path = "";
  const char *p = path;
  if (p[0] && p[1] == ':') {
    CopyPart(drive, _MAX_DRIVE, p, 2);
    p += 2;
  } else {
    CopyPart(drive, _MAX_DRIVE, p, 0);
  }
  const char *last_sep = nullptr, *last_dot = nullptr;
  for (const char *q = p; *q; ++q) {
    if (*q == '\\' || *q == '/')
      last_sep = q;
    else if (*q == '.')
      last_dot = q;
  }
  const char *name = last_sep ? last_sep + 1 : p;
  CopyPart(dir, _MAX_DIR, p, static_cast<size_t>(name - p));
  if (last_dot && last_dot >= name) {
    CopyPart(fname, _MAX_FNAME, name, static_cast<size_t>(last_dot - name));
    CopyPart(ext, _MAX_EXT, last_dot, std::strlen(last_dot));
  } else {
    CopyPart(fname, _MAX_FNAME, name, std::strlen(name));
    CopyPart(ext, _MAX_EXT, "", 0);
  }
}

void _makepath(char *path, const char *drive, const char *dir, const char *fname, const char *ext) {
  if (!path) return;
  std::string out;
  if (drive && *drive) {
    out += drive[0];
    out += ':';
  }
  if (dir && *dir) {
    out += dir;
    if (out.back() != '\\' && out.back() != '/') out += '\\';
  }
  if (fname) out += fname;
  if (ext && *ext) {
    if (ext[0] != '.') out += '.';
    out += ext;
  }
  CopyPart(path, _MAX_PATH, out.c_str(), out.size());
}

// ---- Strings ----

int _stricmp(const char *a, const char *b) { return strcasecmp(a, b); }
int _strnicmp(const char *a, const char *b, size_t count) { return strncasecmp(a, b, count); }

char *_strupr(char *s) {
  for (char *p = s; p && *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return s;
}

char *_strlwr(char *s) {
  for (char *p = s; p && *p; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return s;
}

static char *FormatNumber(unsigned long long magnitude, bool negative, char *buffer, int radix) {
  if (!buffer) return buffer;
  if (radix < 2 || radix > 36) {
    buffer[0] = 0;
    return buffer;
  }
  char digits[72];
  int n = 0;
  do {
    int d = static_cast<int>(magnitude % static_cast<unsigned>(radix));
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    magnitude /= static_cast<unsigned>(radix);
  } while (magnitude);
  char *p = buffer;
  if (negative) *p++ = '-';
  while (n) *p++ = digits[--n];
  *p = 0;
  return buffer;
}

char *_itoa(int value, char *buffer, int radix) {
  // Only base 10 shows a sign; other bases show the 32-bit pattern.
  if (radix == 10 && value < 0)
    return FormatNumber(static_cast<unsigned long long>(-static_cast<long long>(value)), true, buffer, radix);
  return FormatNumber(static_cast<unsigned>(value), false, buffer, radix);
}

char *_ltoa(long value, char *buffer, int radix) {
  // Windows' long is 32 bits: values are taken as such.
  return _itoa(static_cast<int>(value), buffer, radix);
}

char *_ultoa(unsigned long value, char *buffer, int radix) {
  return FormatNumber(static_cast<std::uint32_t>(value), false, buffer, radix);
}

// ---- Streams ----

FILE *qxcrt_fsopen(const char *path, const char *mode, int shflag) {
  StreamMode m;
  if (!ParseMode(mode, m)) {
    errno = EINVAL;
    return nullptr;
  }
  bool text;
  FILE *opened = nullptr;  // a binary stream for reading comes ready made
  int fd = OpenCrt(path, m.oflag, shflag, _S_IREAD | _S_IWRITE, text, &opened);
  if (fd < 0) return nullptr;
  if (opened) return opened;
  FILE *f = text ? TextFile(fd, m.host_mode) : ::fdopen(fd, m.host_mode);
  if (!f) {
    int e = errno;
    close(fd);
    errno = e;
  }
  return f;
}

FILE *qxcrt_fopen(const char *path, const char *mode) { return qxcrt_fsopen(path, mode, _SH_DENYNO); }

FILE *qxcrt_fdopen(int fd, const char *mode) {
  StreamMode m;
  if (!ParseMode(mode, m)) {
    errno = EINVAL;
    return nullptr;
  }
  FdInfo info;
  bool known = InfoOf(fd, info);
  bool text = m.text >= 0 ? m.text == 1 : known ? info.text : !(_fmode & _O_BINARY);
  if (!text) return ::fdopen(fd, m.host_mode);
  {
    std::lock_guard guard(g_lock);
    g_fds.erase(fd);  // the stream owns the descriptor from now on
  }
  return TextFile(fd, m.host_mode);
}

// fgets on a text stream reads its line straight from the cookie: the host
// FILE above it is unbuffered and would fetch one byte per call. Streams with
// bytes pushed back by ungetc, and other streams, take the host's fgets.
char *qxcrt_fgets(char *buffer, int size, FILE *stream) {
  TextStream *text = nullptr;
  {
    std::lock_guard guard(g_streams_lock);
    auto it = g_streams.find(stream);
    if (it != g_streams.end()) text = it->second;
  }
  if (!text) return ::fgets(buffer, size, stream);
  if (!buffer || size <= 0) {
    errno = EINVAL;
    return nullptr;
  }
  flockfile(stream);
  char *result = nullptr;
  if (stream->_IO_read_ptr < stream->_IO_read_end) {
    funlockfile(stream);
    return ::fgets(buffer, size, stream);
  }
  if (stream->_flags & _IO_EOF_SEEN) {
    funlockfile(stream);
    return nullptr;
  }
  ssize_t n = size > 1 ? text->Read(buffer, static_cast<size_t>(size - 1), true) : 0;
  if (n > 0 || size == 1) {
    buffer[n] = 0;
    result = buffer;
  } else {
    stream->_flags |= _IO_EOF_SEEN;
  }
  funlockfile(stream);
  return result;
}

int qxcrt_setvbuf(FILE *stream, char *buffer, int mode, size_t size) {
  {
    std::lock_guard guard(g_streams_lock);
    // Text streams buffer below the translation; a buffer above it would
    // make ftell report translated offsets.
    if (g_streams.count(stream)) return 0;
  }
  return ::setvbuf(stream, buffer, mode, size);
}

int qxcrt_fileno(FILE *stream) {
  {
    std::lock_guard guard(g_streams_lock);
    auto it = g_streams.find(stream);
    if (it != g_streams.end()) return it->second->fd();
  }
  return ::fileno(stream);
}

}  // extern "C"
