// Shared pieces of the attachkit module: texts, files, the save dialog, body
// decoding to a file (see module.h).
#include "module.h"

#include <array>
#include <vector>

#include "encoded_words.h"

namespace attachkit {

std::string LoadText(UINT id) {
  std::array<char, 512> buffer{};
  LoadStringA(Instance(), id, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

void ErrorBox(HWND owner, const std::string &text) {
  MessageBoxA(owner, text.c_str(), LoadText(IDS_CAPTION).c_str(), MB_OK | MB_ICONERROR);
}

bool JoinPath(const std::string &directory, const std::string &name, std::string &path) {
  path = directory;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path.push_back('\\');
  path += name;
  return path.size() < MAX_PATH;
}

long long HandleReader::ReadAt(uint64_t offset, uint8_t *buffer, size_t size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (!ReadFile(file_, buffer, want, &got, &at)) return -1;
  return got;
}

bool HandleSink::Write(const uint8_t *data, size_t size) {
  DWORD written = 0;
  return WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool OutputFile::Create(const std::string &path, bool must_be_new) {
  path_ = path;
  handle_.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            must_be_new ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle_.valid();
}

bool OutputFile::Write(const uint8_t *data, size_t size) {
  DWORD written = 0;
  return WriteFile(handle_.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool OutputFile::WriteAt(uint64_t offset, const void *data, size_t size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  return WriteFile(handle_.get(), data, static_cast<DWORD>(size), &written, &at) && written == size;
}

bool OutputFile::Seek(uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  SetLastError(ERROR_SUCCESS);
  const DWORD low = SetFilePointer(handle_.get(), static_cast<LONG>(offset), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS);
}

uint64_t OutputFile::Size() {
  DWORD high = 0;
  const DWORD low = GetFileSize(handle_.get(), &high);
  return (uint64_t{high} << 32) | low;
}

void OutputFile::Discard() {
  handle_.Close();
  if (!path_.empty()) DeleteFileA(path_.c_str());
}

bool CreateNumbered(const std::string &directory, const char *prefix, const std::string &extension, OutputFile &file) {
  for (unsigned n = 0; n < 100000; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%03u.%s", prefix, n, extension.c_str());
    std::string path;
    if (!JoinPath(directory, name, path)) return false;
    if (file.Create(path, true)) return true;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

std::optional<std::string> AskSavePath(UINT filter, UINT title, const char *default_extension,
                                       const std::optional<std::string> &suggested, const std::string &directory,
                                       HWND owner) {
  // The filter text's last character separates its parts.
  std::string filters = LoadText(filter);
  if (!filters.empty()) {
    const char separator = filters.back();
    for (char &c : filters)
      if (c == separator) c = '\0';
  }
  filters.push_back('\0');
  std::array<char, 256> file{};
  if (suggested) {
    const std::string name = SafeFileComponent(*suggested, file.size() - 1);
    std::copy(name.begin(), name.end(), file.begin());
  }
  const std::string caption = LoadText(title);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.hInstance = Instance();
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size() - 1);
  ofn.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  ofn.lpstrTitle = caption.c_str();
  ofn.lpstrDefExt = default_extension;
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  if (!GetSaveFileNameA(&ofn)) return std::nullopt;
  return std::string(file.data());
}

void Part::ReadHeader() {
  ReadRemainingFields(input, end, header);
  // A name given as RFC 2047 encoded words is offered decoded.
  if (header.suggested) header.suggested = DecodeEncodedWords(*header.suggested);
  bodyStart = input.Tell();
  bodyEnd = BodyEnd(reader, bodyStart, end);
}

bool DecodeBodyInto(Part &part, OutputFile &file) {
  WaitCursor wait;
  if (!DecodeRange(part.reader, part.bodyStart, part.bodyEnd, EncodingByName(part.header.encoding), file)) {
    file.Discard();
    ErrorBox(nullptr, LoadText(IDS_CANNOT_WRITE) + " " + file.path());
    return false;
  }
  file.Close();
  return true;
}

bool DecodeBodyTo(Part &part, const std::string &path) {
  OutputFile file;
  if (!file.Create(path, false)) {
    ErrorBox(nullptr, LoadText(IDS_CANNOT_CREATE));
    return false;
  }
  return DecodeBodyInto(part, file);
}

}  // namespace attachkit
