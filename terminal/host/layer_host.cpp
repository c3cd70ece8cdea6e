// Set-up files and the print destination through the platform layer.
#include "layer_host.h"

#include <cstring>

namespace {

// A handle closed when it goes out of scope.
class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }
  bool Close() {
    bool ok = !Valid() || CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

HANDLE OpenForReading(const char *name) {
  return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string LayerTermFiles::FindSetupFile(const char *name) {
  if (!name || !name[0]) return {};
  OFSTRUCT found{};
  if (OpenFile(name, &found, OF_EXIST | OF_READ | OF_SHARE_DENY_NONE) != HFILE_ERROR)
    return std::string(found.szPathName, strnlen(found.szPathName, sizeof found.szPathName));
  // OpenFile's record holds 128 characters: a longer name that opens as it is
  // given is still a set-up file.
  FileHandle direct(OpenForReading(name));
  return direct.Valid() ? name : std::string();
}

long LayerTermFiles::ReadSetupFile(const std::string &found, void *buffer, size_t size) {
  FileHandle file(OpenForReading(found.c_str()));
  if (!file.Valid()) return -1;
  auto *out = static_cast<unsigned char *>(buffer);
  size_t total = 0;
  while (total < size) {
    DWORD done = 0;
    if (!ReadFile(file.Get(), out + total, static_cast<DWORD>(size - total), &done, nullptr) || done == 0) break;
    total += done;
  }
  return static_cast<long>(total);
}

TermFiles::WriteResult LayerTermFiles::WriteSetupFile(const char *name, const void *data, size_t size) {
  FileHandle file(
      CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return WriteResult::kCannotCreate;
  const auto *in = static_cast<const unsigned char *>(data);
  size_t total = 0;
  while (total < size) {
    DWORD done = 0;
    if (!WriteFile(file.Get(), in + total, static_cast<DWORD>(size - total), &done, nullptr) || done == 0) break;
    total += done;
  }
  bool closed = file.Close();
  return total == size && closed ? WriteResult::kWritten : WriteResult::kShortWrite;
}

LayerTermPrinter::~LayerTermPrinter() { Close(); }

bool LayerTermPrinter::Open(const char *name) {
  if (IsOpen()) return true;
  if (!name || !name[0]) return false;
  auto open = [this](const char *path) {
    file_ = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsOpen();
  };
  if (!open(name)) {
    // "OUT.TXT:" names the file "OUT.TXT", as "PRN:" names the device PRN.
    std::string bare = name;
    if (bare.size() < 2 || bare.back() != ':' || !open(bare.substr(0, bare.size() - 1).c_str())) return false;
  }
  SetFilePointer(file_, 0, nullptr, FILE_END);  // a device has no end: nothing moves
  return true;
}

void LayerTermPrinter::Write(const unsigned char *data, size_t length) {
  while (IsOpen() && length > 0) {
    DWORD done = 0;
    // A printer that fails loses the text, as a full spool would.
    if (!WriteFile(file_, data, static_cast<DWORD>(length), &done, nullptr) || done == 0) return;
    data += done;
    length -= done;
  }
}

void LayerTermPrinter::Close() {
  if (IsOpen()) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}
