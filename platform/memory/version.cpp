// Version information: GetFileVersionInfoSizeA / GetFileVersionInfoA build a
// version block from a module's QX_VERSION record, and VerQueryValueA reads
// values out of it by path ("\", "\StringFileInfo\040904E4\FileVersion",
// "\VarFileInfo\Translation").
//
// The block is a tree of nodes, each aligned to 4 bytes from the block's start:
//   WORD length (the node with its children), WORD value length (bytes),
//   key text with its NUL, padding to 4, value, padding to 4, children.
// The root's key is "VS_VERSION_INFO" and its value a VS_FIXEDFILEINFO; its
// children are "StringFileInfo" (one table per language and code page, whose
// children are the strings, NUL included in the value) and "VarFileInfo" with
// "Translation" (pairs of WORD language, WORD code page).
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "module_registry.h"
#include "qx/env.h"
#include "qx/resources.h"

namespace qx {
namespace {

constexpr char kDefaultTable[] = "040904E4";

class BlockWriter {
 public:
  size_t Begin(const char *key, const void *value, size_t value_size) {
    Align();
    const size_t start = out_.size();
    PutWord(0);
    PutWord(static_cast<WORD>(value_size));
    Put(key, std::strlen(key) + 1);
    Align();
    Put(value, value_size);
    if (value_size > 0xFFFF) too_big_ = true;
    return start;
  }
  void End(size_t start) {
    const size_t length = out_.size() - start;
    if (length > 0xFFFF) too_big_ = true;
    out_[start] = static_cast<BYTE>(length & 0xFF);
    out_[start + 1] = static_cast<BYTE>(length >> 8);
  }
  bool TooBig() const { return too_big_; }
  std::vector<BYTE> Take() { return std::move(out_); }

 private:
  void Align() {
    while (out_.size() % 4) out_.push_back(0);
  }
  void PutWord(WORD w) {
    out_.push_back(static_cast<BYTE>(w & 0xFF));
    out_.push_back(static_cast<BYTE>(w >> 8));
  }
  void Put(const void *p, size_t n) {
    const BYTE *b = static_cast<const BYTE *>(p);
    if (n) out_.insert(out_.end(), b, b + n);
  }
  std::vector<BYTE> out_;
  bool too_big_ = false;
};

// "040904E4" -> language 0x0409, code page 0x04E4.
bool ParseTable(const char *table, WORD &language, WORD &code_page) {
  if (std::strlen(table) != 8) return false;
  for (int i = 0; i < 8; ++i)
    if (!isxdigit(static_cast<unsigned char>(table[i]))) return false;
  const unsigned long v = std::strtoul(table, nullptr, 16);
  language = static_cast<WORD>(v >> 16);
  code_page = static_cast<WORD>(v & 0xFFFF);
  return true;
}

// Builds the block; empty when the strings do not fit the 64 KB node limit.
std::vector<BYTE> BuildBlock(const QX_VERSION &v) {
  VS_FIXEDFILEINFO fixed{};
  fixed.dwSignature = VS_FFI_SIGNATURE;
  fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
  fixed.dwFileVersionMS = v.fileVersionMS;
  fixed.dwFileVersionLS = v.fileVersionLS;
  fixed.dwProductVersionMS = v.productVersionMS;
  fixed.dwProductVersionLS = v.productVersionLS;
  fixed.dwFileFlagsMask = v.fileFlagsMask;
  fixed.dwFileFlags = v.fileFlags;
  fixed.dwFileOS = v.fileOS;
  fixed.dwFileType = v.fileType;
  fixed.dwFileSubtype = v.fileSubtype;
  const char *table = v.langCodePage ? v.langCodePage : kDefaultTable;

  BlockWriter w;
  const size_t root = w.Begin("VS_VERSION_INFO", &fixed, sizeof fixed);
  const size_t sfi = w.Begin("StringFileInfo", nullptr, 0);
  const size_t tab = w.Begin(table, nullptr, 0);
  for (UINT i = 0; i < v.stringCount && v.strings; ++i) {
    const QX_VERSION_STRING &s = v.strings[i];
    if (!s.key) continue;
    const char *value = s.value ? s.value : "";
    w.End(w.Begin(s.key, value, std::strlen(value) + 1));
  }
  w.End(tab);
  w.End(sfi);
  WORD language = 0, code_page = 0;
  if (ParseTable(table, language, code_page)) {
    const size_t vfi = w.Begin("VarFileInfo", nullptr, 0);
    const WORD translation[2] = {language, code_page};
    w.End(w.Begin("Translation", translation, sizeof translation));
    w.End(vfi);
  }
  w.End(root);
  if (w.TooBig()) return {};
  return w.Take();
}

WORD ReadWord(const BYTE *p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

// One node of a block, located and checked against its parent's end.
struct Node {
  size_t start = 0, end = 0;
  const char *key = nullptr;
  size_t value = 0, value_size = 0;
  size_t children = 0;
};

bool ReadNode(const BYTE *block, size_t start, size_t limit, Node &n) {
  if (start + 6 > limit) return false;
  const size_t length = ReadWord(block + start);
  if (length < 6 || start + length > limit) return false;
  n.start = start;
  n.end = start + length;
  n.value_size = ReadWord(block + start + 2);
  n.key = reinterpret_cast<const char *>(block + start + 4);
  const size_t key_room = n.end - (start + 4);
  const size_t key_length = strnlen(n.key, key_room);
  if (key_length == key_room) return false;  // key without NUL inside the node
  n.value = Align4(start + 4 + key_length + 1);
  if (n.value + n.value_size > n.end) return false;
  n.children = Align4(n.value + n.value_size);
  return true;
}

bool FindChild(const BYTE *block, const Node &parent, const std::string &key, Node &out) {
  for (size_t at = parent.children; at < parent.end;) {
    Node child;
    if (!ReadNode(block, at, parent.end, child)) return false;
    if (strcasecmp(child.key, key.c_str()) == 0) {
      out = child;
      return true;
    }
    at = Align4(child.end);
  }
  return false;
}

// The module behind a file name: a loaded module (by its resolved path, or by
// its name when no directory is given), else none.
std::shared_ptr<Module> LoadedModuleForFile(const std::string &host, const char *file) {
  char resolved[PATH_MAX];
  if (realpath(host.c_str(), resolved)) {
    if (auto m = FindLoadedModuleByPath(resolved)) return m;
  }
  if (!std::strchr(file, '/') && !std::strchr(file, '\\')) {
    if (HMODULE h = GetModuleHandleA(file)) return ModuleFromHandle(h);
  }
  return nullptr;
}

// The version block of a file. A library that is not loaded is opened only
// for the time of the lookup (its DllMain is not called), so its resources
// register and can be read.
bool VersionBlockOfFile(const char *file, std::vector<BYTE> &block) {
  if (!file || !*file) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const QX_VERSION *version = nullptr;
  void *temporary = nullptr;
  const std::string host = HostFileName(file);
  if (auto m = LoadedModuleForFile(host, file)) {
    version = FindVersionResource(m->handle);
  } else {
    if (host.find('/') == std::string::npos || access(host.c_str(), R_OK) != 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    temporary = dlopen(host.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!temporary) {
      Trace("GetFileVersionInfo %s: %s", file, dlerror());
      SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
      return false;
    }
    auto probe = std::make_shared<Module>();
    link_map *map = nullptr;
    if (dlinfo(temporary, RTLD_DI_LINKMAP, &map) == 0) probe->map = map;
    HMODULE h = static_cast<HMODULE>(InsertHandle(probe));
    if (h) {
      version = FindVersionResource(h);
      if (version) block = BuildBlock(*version);
      RemoveHandle(h);
    }
    dlclose(temporary);
    if (!version) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return false;
    }
    if (block.empty()) {
      SetLastError(ERROR_INVALID_DATA);
      return false;
    }
    return true;
  }
  if (!version) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return false;
  }
  block = BuildBlock(*version);
  if (block.empty()) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

}  // namespace
}  // namespace qx

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR file, LPDWORD handle) {
  if (handle) *handle = 0;
  std::vector<BYTE> block;
  if (!qx::VersionBlockOfFile(file, block)) return 0;
  return static_cast<DWORD>(block.size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR file, DWORD handle, DWORD length, LPVOID data) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<BYTE> block;
  if (!qx::VersionBlockOfFile(file, block)) return FALSE;
  // A cut block would leave node lengths pointing past the caller's buffer.
  if (length < block.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(data, block.data(), block.size());
  return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID block_pointer, LPCSTR sub_block, LPVOID *buffer, PUINT length) {
  if (buffer) *buffer = nullptr;
  if (length) *length = 0;
  if (!block_pointer || !sub_block || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const BYTE *block = static_cast<const BYTE *>(block_pointer);
  qx::Node node;
  if (!qx::ReadNode(block, 0, qx::ReadWord(block), node)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  const std::string path(sub_block);
  for (size_t at = 0; at < path.size();) {
    size_t next = path.find('\\', at);
    if (next == std::string::npos) next = path.size();
    if (next > at) {
      qx::Node child;
      if (!qx::FindChild(block, node, path.substr(at, next - at), child)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
      }
      node = child;
    }
    at = next + 1;
  }
  if (node.value_size == 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  *buffer = const_cast<BYTE *>(block + node.value);
  if (length) *length = static_cast<UINT>(node.value_size);
  return TRUE;
}

}  // extern "C"
