// What the parts of the attachkit module share: its instance and texts, files
// through the layer's handles, the save dialog, and decoding a part's body to
// a file.
#ifndef QX_ATTACHKIT_MODULE_H
#define QX_ATTACHKIT_MODULE_H

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "codec.h"
#include "input.h"
#include "mimepart.h"

namespace attachkit {

// String table of the library.
enum TextId : UINT {
  IDS_CAPTION = 1,
  IDS_NO_VIEWER = 2,
  IDS_FILTER_GIF = 3,
  IDS_FILTER_BMP = 4,
  IDS_TITLE_IMAGE = 5,
  IDS_NO_RECORDER = 6,
  IDS_NO_PLAYER = 7,
  IDS_TITLE_WAVE = 8,
  IDS_TITLE_OTHER = 9,
  IDS_FILTER_WAVE = 10,
  IDS_FILTER_OTHER = 11,
  IDS_CANNOT_CREATE = 12,
  IDS_ALL_FIELDS = 13,
  IDS_CANNOT_WRITE = 14,
  IDS_CONFIRM_REQUEST = 15,
};

// Dialog templates and their controls.
constexpr const char *kFtpDialog = "ftp";
constexpr const char *kMailDialog = "mail";
constexpr const char *kUserFtpDialog = "Userftp";
enum ControlId : int {
  IDC_FTP_HOST = 100,
  IDC_FTP_DIRECTORY = 101,
  IDC_FTP_FILE = 102,
  IDC_FTP_BINARY = 103,
  IDC_FTP_ASCII = 104,
  IDC_FTP_ANONYMOUS = 105,
  IDC_FTP_USER = 106,
  IDC_MAIL_SERVER = 100,
  IDC_MAIL_COMMANDS = 101,
  IDC_USERFTP_NAME = 100,
  IDC_USERFTP_PASSWORD = 101,
};

HINSTANCE Instance();
std::string LoadText(UINT id);
// A message box with the library's caption and the error icon.
void ErrorBox(HWND owner, const std::string &text);

// Joins a directory and a name with "\"; false when the path would not fit
// the 259 characters a Windows path may have.
bool JoinPath(const std::string &directory, const std::string &name, std::string &path);

// Reads through a handle of its own on a file: positional reads, so neither
// it nor anybody else's file pointer matters.
class HandleReader final : public RandomReader {
 public:
  explicit HandleReader(HANDLE file) : file_(file) {}
  long long ReadAt(uint64_t offset, uint8_t *buffer, size_t size) override;

 private:
  HANDLE file_;
};

// A handle the library owns, closed when it goes.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE h) : h_(h) {}
  OwnedHandle(const OwnedHandle &) = delete;
  OwnedHandle &operator=(const OwnedHandle &) = delete;
  ~OwnedHandle() { Close(); }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  void Close() {
    if (valid()) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// Writes at a handle's current position (the caller's outgoing message).
class HandleSink final : public ByteSink {
 public:
  explicit HandleSink(HANDLE file) : file_(file) {}
  bool Write(const uint8_t *data, size_t size) override;

 private:
  HANDLE file_;
};

// An output file the library creates: the path of the dialog (replaced if it
// exists) or a new name that must not exist yet.
class OutputFile final : public ByteSink {
 public:
  bool Create(const std::string &path, bool must_be_new);
  bool Write(const uint8_t *data, size_t size) override;
  bool WriteAt(uint64_t offset, const void *data, size_t size);
  bool Seek(uint64_t offset);
  // Cuts the file at size and leaves the file pointer there.
  bool Truncate(uint64_t size) { return Seek(size) && SetEndOfFile(handle_.get()); }
  uint64_t Size();
  void Close() { handle_.Close(); }
  // Closes and deletes the file.
  void Discard();
  const std::string &path() const { return path_; }
  HANDLE handle() const { return handle_.get(); }

 private:
  OwnedHandle handle_;
  std::string path_;
};

// Creates "<directory>\<prefix>NNN.<ext>" with the first number from 000 whose
// name does not exist (made exclusively, so two callers never share one).
bool CreateNumbered(const std::string &directory, const char *prefix, const std::string &extension, OutputFile &file);

// The standard save dialog: filter and title from the string table, the name
// suggested by the message made safe, the mail directory to start in.
std::optional<std::string> AskSavePath(UINT filter, UINT title, const char *default_extension,
                                       const std::optional<std::string> &suggested, const std::string &directory,
                                       HWND owner = nullptr);

// The GIF viewer's menu commands.
enum ViewerMenu : int {
  kMenuExit = 1,
  kMenuSaveGif = 2,
  kMenuPrint = 3,
  kMenuPrinterSetup = 4,
  kMenuSaveBmp = 5,
};

// The hourglass while it lives.
class WaitCursor {
 public:
  WaitCursor() : previous_(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(previous_); }
  WaitCursor(const WaitCursor &) = delete;
  WaitCursor &operator=(const WaitCursor &) = delete;

 private:
  HCURSOR previous_;
};

// One part being acted on: its own handle on the message file, the header read
// so far and, once the header is read, where the body lies.
struct Part {
  explicit Part(HANDLE own) : handle(own), reader(own) {}
  OwnedHandle handle;
  HandleReader reader;
  BufferedInput input{reader};
  uint64_t end = 0;
  PartHeader header;
  uint64_t bodyStart = 0, bodyEnd = 0;
  std::string mailDir, userAddress;
  HWND owner = nullptr;

  // Reads the rest of the header; the body's range follows from it.
  void ReadHeader();
};

// Decodes the body into path (created, or replaced). Shows "Unable to create
// output File" when it cannot be made and a write failure when the disk
// refuses; false then, with no partial file left.
bool DecodeBodyTo(Part &part, const std::string &path);
bool DecodeBodyInto(Part &part, OutputFile &file);

// The external-body handler (result 0, 1 or 2).
int32_t ExternalBody(Part &part);

}  // namespace attachkit

#endif
