// Fuzz target of what a gopher server sends the client: a menu, a text or a
// CSO (ph) answer goes through the client's own retrieval (stored in its
// file, the document rows, the end line cut) and a menu is then read into
// items, whose selectors, hosts and ports become file names, terminal command
// lines and further requests. The calls into the layer are stood in for
// here: files live in memory, and every connection receives the input's bytes
// in pieces of the input's choosing; the tree must be the same as when they
// come in one piece.
//
// Input: byte 0 picks the root item's type and the piece size; the rest is
// what every connection answers.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "gophercore.h"
#include <qxcommon.h>

namespace {

std::string_view g_answer;
size_t g_at = 0;
size_t g_piece = 1;
DWORD g_ticks = 0;
std::map<std::string, std::string> g_files;

struct OpenFileState {
  std::string name;
  size_t at = 0;
};
std::map<uintptr_t, OpenFileState> g_handles;
uintptr_t g_nextHandle = 16;

OpenFileState *Find(HANDLE h) {
  const auto it = g_handles.find(reinterpret_cast<uintptr_t>(h));
  return it == g_handles.end() ? nullptr : &it->second;
}

// The dialogs a retrieval may raise answer as a person could: search words,
// a CSO query built from the form, no file names.
struct FuzzUi : GopherUi {
  bool AskSearchWords(const GopherItem &, std::string *words) override {
    *words = "words";
    return true;
  }
  bool RunCsoDialog(const GopherItem &item, std::string *query) override {
    const CSO_FORM form = CsoFormOf(item.csoFields.value_or(std::string()));
    std::vector<bool> selected(form.returnRows.size(), true);
    if (!selected.empty()) selected[0] = false;
    const std::string key = form.keys.empty() ? "name" : form.keys[static_cast<size_t>(form.keySelection)];
    *query = BuildCsoQuery(key, "smith\r\njohn", form.returnRows, selected);
    return true;
  }
  void StartProgram(const std::string &commandLine) override {
    // A command line holds no character that could split or quote a word.
    for (char c : commandLine)
      if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\'') abort();
  }
  void OpenDocument(const std::string &) override {}
  // The document list's rows start in order, each inside the answer kept.
  void DocumentReset() override { rows_.clear(); }
  void DocumentAddRow(long offset) override {
    if (offset < 0 || (!rows_.empty() && offset < rows_.back())) abort();
    rows_.push_back(offset);
  }
  void DocumentDone(long length) override {
    if (length < 0 || length > static_cast<long>(g_answer.size())) abort();
  }

 private:
  std::vector<long> rows_;
};
FuzzUi g_fuzzUi;

}  // namespace

// ---- The layer's calls: sockets, files in memory, the rest answered plainly ----

SOCKET WsSocket(int, int, int) {
  g_at = 0;  // every connection hears the same answer
  return 7;
}
int WsConnect(SOCKET, const sockaddr *, int) { return 0; }
int WsCloseSocket(SOCKET) { return 0; }
int WsSend(SOCKET, const char *, int length, int) { return length; }
int WsRecv(SOCKET, char *buffer, int size, int) {
  const size_t n = std::min({g_answer.size() - g_at, static_cast<size_t>(std::max(size, 0)), g_piece});
  if (n) memcpy(buffer, g_answer.data() + g_at, n);
  g_at += n;
  return static_cast<int>(n);
}

extern "C" {
int PASCAL WSAGetLastError() { return 0; }
u_short PASCAL htons(u_short v) { return __builtin_bswap16(v); }
ULONG PASCAL inet_addr(const char *) { return 0x0100007f; }
hostent *PASCAL gethostbyname(const char *) { return nullptr; }
DWORD WINAPI GetTickCount() { return g_ticks += 100; }
DWORD WINAPI GetCurrentProcessId() { return 1; }
DWORD WINAPI GetEnvironmentVariableA(LPCSTR, LPSTR, DWORD) { return 0; }
UINT WINAPI GetWindowsDirectoryA(LPSTR, UINT) { return 0; }
BOOL WINAPI CreateDirectoryA(LPCSTR, LPSECURITY_ATTRIBUTES) { return FALSE; }
BOOL WINAPI RemoveDirectoryA(LPCSTR) { return FALSE; }
HANDLE WINAPI FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA) { return INVALID_HANDLE_VALUE; }
BOOL WINAPI FindNextFileA(HANDLE, LPWIN32_FIND_DATAA) { return FALSE; }
BOOL WINAPI FindClose(HANDLE) { return TRUE; }
BOOL WINAPI PostMessageA(HWND, UINT, WPARAM, LPARAM) { return TRUE; }
UINT WINAPI WinExec(LPCSTR, UINT) { return 33; }
HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) { return nullptr; }

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
  const std::string key = name;
  const bool exists = g_files.count(key) != 0;
  if (disposition == OPEN_EXISTING && !exists) return INVALID_HANDLE_VALUE;
  if (disposition == CREATE_ALWAYS || !exists) g_files[key].clear();
  const uintptr_t h = g_nextHandle++;
  g_handles[h] = OpenFileState{key, 0};
  return reinterpret_cast<HANDLE>(h);
}
BOOL WINAPI CloseHandle(HANDLE h) { return g_handles.erase(reinterpret_cast<uintptr_t>(h)) ? TRUE : FALSE; }
BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED) {
  OpenFileState *f = Find(h);
  if (!f) return FALSE;
  const std::string &data = g_files[f->name];
  const size_t n = f->at >= data.size() ? 0 : std::min({data.size() - f->at, static_cast<size_t>(size), g_piece});
  if (n) memcpy(buffer, data.data() + f->at, n);
  f->at += n;
  *got = static_cast<DWORD>(n);
  return TRUE;
}
BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED) {
  OpenFileState *f = Find(h);
  if (!f) return FALSE;
  std::string &data = g_files[f->name];
  if (data.size() < f->at + size) data.resize(f->at + size);
  if (size) memcpy(data.data() + f->at, buffer, size);
  f->at += size;
  *written = size;
  return TRUE;
}
DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG, DWORD method) {
  OpenFileState *f = Find(h);
  if (!f || method != FILE_BEGIN || distance < 0) return INVALID_SET_FILE_POINTER;
  f->at = static_cast<size_t>(distance);
  return static_cast<DWORD>(distance);
}
BOOL WINAPI SetEndOfFile(HANDLE h) {
  OpenFileState *f = Find(h);
  if (!f) return FALSE;
  g_files[f->name].resize(f->at);
  return TRUE;
}
BOOL WINAPI DeleteFileA(LPCSTR name) { return g_files.erase(name) ? TRUE : FALSE; }
BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL) {
  if (!g_files.count(from)) return FALSE;
  g_files[to] = g_files[from];
  return TRUE;
}
}

namespace {

constexpr char kRootTypes[] = "1027g9I8";

void CheckItem(const GopherItem &item) {
  // A selectable item names a host and a port a connection could use.
  if ((item.flags & kItemSelectable) && (item.host.empty() || item.port < 1 || item.port > 65535)) abort();
  const std::string proposed = ProposedFileName(item.selector);
  if (proposed.find_first_of("/\\:") != std::string::npos || (!proposed.empty() && proposed[0] == '.')) abort();
  std::string extension;
  int filter = 0;
  SaveDefaults(item, proposed, &extension, &filter);
  MayOpenSavedFile(proposed);
  std::string command;
  ExpandCommandTemplate(item, std::string(item.display.view().substr(0, 16)), &command);
}

// The tree a retrieval of the root makes (and of the first few items below
// it), one string.
std::string RetrieveTree(char rootType) {
  g_files.clear();
  g_handles.clear();
  std::string rootLine = "1Root\t/\tgopher.example\t70";
  rootLine[0] = rootType;
  GopherItem *root = ParseMenuLine(rootLine);
  if (!root) return std::string();
  AppendRoot(root, 1);
  ActivateItem(root, nullptr);
  std::string tree;
  const auto add = [&](const GopherItem &item, const char *indent) {
    CheckItem(item);
    tree += std::string(indent) + std::to_string(item.typeChar) + "|" + std::string(item.display.view()) + "|" +
            std::string(item.selector.view()) + "|" + std::string(item.host.view()) + "|" + std::to_string(item.port) +
            "|" + std::to_string(item.flags) + "\n";
  };
  int activated = 0;
  for (GopherItem *child = root->firstChild; child; child = child->next) {
    add(*child, "");
    if (activated < 4 && (child->flags & kItemSelectable)) {
      ++activated;
      ActivateItem(child, nullptr);
      for (GopherItem *grandchild = child->firstChild; grandchild; grandchild = grandchild->next)
        add(*grandchild, "  ");
    }
  }
  FreeItemList(g_Roots);
  g_Roots = nullptr;
  return tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  SetGopherUi(&g_fuzzUi);
  g_TempDir = "T";
  const uint8_t control = data[0];
  g_answer = std::string_view(reinterpret_cast<const char *>(data) + 1, size - 1);
  // However the answer's bytes arrive and are read back, the tree is the same.
  g_piece = (control >> 3) == 31 ? 65536 : 1u + (control >> 3) * 5;
  const std::string tree = RetrieveTree(kRootTypes[control & 7]);
  g_piece = 65536;
  if (RetrieveTree(kRootTypes[control & 7]) != tree) abort();
  return 0;
}
