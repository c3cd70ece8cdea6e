// Modules loaded by name: search, attach once, reference counts, exports by
// name only, and global blocks handed from one module to another.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "qx/modules.h"

namespace {

using AttachCountFn = LONG (*)();
using InstanceFn = HINSTANCE (*)();
using DetachFlagFn = void (*)(int *);
using MakeBlockFn = HGLOBAL (*)(const char *);
using TakeBlockFn = int (*)(HGLOBAL, char *, int);

template <class F>
F Export(HMODULE m, const char *name) {
  // Through void (*)(void), which converts to any function type without a
  // -Wcast-function-type warning.
  return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(GetProcAddress(m, name)));
}

bool Loaded(HMODULE h) { return QX_HANDLE_VALUE(h) >= 32; }

bool EndsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Modules, ProgramHandleIsStable) {
  HMODULE self = GetModuleHandleA(nullptr);
  ASSERT_NE(self, nullptr);
  EXPECT_GT(QX_HANDLE_VALUE(self), 31u);
  EXPECT_EQ(GetModuleHandleA(nullptr), self);
  EXPECT_EQ(GetModuleHandleA("memory_modules_test.exe"), self);
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(n, std::strlen(path));
  EXPECT_TRUE(EndsWith(path, "\\memory_modules_test")) << path;  // a Windows path
  EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') << path;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);  // the file calls find it
  CloseHandle(file);
}

TEST(Modules, ModuleFileNameTruncates) {
  char full[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, full, sizeof full);
  char small[8];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), std::string(full, 7));
  EXPECT_GT(n, 7u);
}

TEST(Modules, MissingLibraryIsBelow32) {
  for (const char *name : {"NOSUCH.DLL", "nosuch", "", "../../etc/passwd"}) {
    SetLastError(0);
    HMODULE h = LoadLibraryA(name);
    EXPECT_LT(QX_HANDLE_VALUE(h), 32u) << name;
    EXPECT_NE(GetLastError(), 0u) << name;
  }
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("NOSUCH.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleA("NOSUCH.DLL"), nullptr);
}

TEST(Modules, AttachRunsOnceAndDetachOnLastFree) {
  HMODULE first = LoadLibraryA("MEMTEST_ALPHA.DLL");  // any case, .DLL for .so
  ASSERT_TRUE(Loaded(first));
  HMODULE second = LoadLibraryA("memtest_Alpha");
  EXPECT_EQ(second, first);
  EXPECT_EQ(GetModuleHandleA("memtest_alpha.dll"), first);
  auto attach_count = Export<AttachCountFn>(first, "AlphaAttachCount");
  ASSERT_NE(attach_count, nullptr);
  EXPECT_EQ(attach_count(), 1);
  EXPECT_EQ(Export<InstanceFn>(first, "AlphaInstance")(), first);  // DllMain got the handle
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(first, path, sizeof path), 0u);
  EXPECT_TRUE(EndsWith(path, "\\memtest_alpha.so")) << path;

  int detached = 0;
  Export<DetachFlagFn>(first, "AlphaSetDetachFlag")(&detached);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(detached, 0);  // one reference left
  EXPECT_EQ(attach_count(), 1);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(detached, 1);
  EXPECT_EQ(GetModuleHandleA("memtest_alpha"), nullptr);
  EXPECT_FALSE(FreeLibrary(first));  // stale handle
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

HMODULE g_unloading = nullptr;
bool g_code_still_there = false;

void NoteUnload(HMODULE module) {
  g_unloading = module;
  // The module is still mapped: its exports can be recognised.
  g_code_still_there =
      qx::AddressInModule(module, reinterpret_cast<const void *>(GetProcAddress(module, "AlphaAttachCount")));
}

TEST(Modules, UnloadHookRunsBeforeTheCodeGoes) {
  static const bool added = (qx::AddModuleUnloadHook(NoteUnload), true);
  ASSERT_TRUE(added);
  HMODULE alpha = LoadLibraryA("memtest_alpha.dll");
  ASSERT_TRUE(Loaded(alpha));
  const void *entry = reinterpret_cast<const void *>(GetProcAddress(alpha, "AlphaAttachCount"));
  EXPECT_TRUE(qx::AddressInModule(alpha, entry));
  EXPECT_FALSE(qx::AddressInModule(nullptr, entry));  // not the program's
  EXPECT_TRUE(qx::AddressInModule(nullptr, reinterpret_cast<const void *>(&NoteUnload)));
  g_unloading = nullptr;
  EXPECT_TRUE(FreeLibrary(alpha));
  EXPECT_EQ(g_unloading, alpha);
  EXPECT_TRUE(g_code_still_there);
}

TEST(Modules, ExportsByNameOnly) {
  HMODULE alpha = LoadLibraryA("memtest_alpha.dll");
  ASSERT_TRUE(Loaded(alpha));
  EXPECT_NE(GetProcAddress(alpha, "DllMain"), nullptr);
  EXPECT_EQ(GetProcAddress(alpha, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(alpha, "alphaattachcount"), nullptr);  // exact names
  EXPECT_EQ(GetProcAddress(alpha, MAKEINTRESOURCE(1)), nullptr);  // no ordinals
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // The platform's exports are not the module's own.
  EXPECT_EQ(GetProcAddress(alpha, "GlobalAlloc"), nullptr);
  EXPECT_TRUE(FreeLibrary(alpha));
}

TEST(Modules, RefusedAttachUnloads) {
  setenv("MEMTEST_BETA_REFUSE", "1", 1);
  SetLastError(0);
  HMODULE h = LoadLibraryA("memtest_beta.dll");
  unsetenv("MEMTEST_BETA_REFUSE");
  EXPECT_FALSE(Loaded(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(GetModuleHandleA("memtest_beta"), nullptr);
  h = LoadLibraryA("memtest_beta.dll");
  EXPECT_TRUE(Loaded(h));
  FreeLibrary(h);
}

TEST(Modules, GlobalBlockCrossesModules) {
  HMODULE alpha = LoadLibraryA("memtest_alpha.dll");
  HMODULE beta = LoadLibraryA("memtest_beta.dll");
  ASSERT_TRUE(Loaded(alpha));
  ASSERT_TRUE(Loaded(beta));
  HGLOBAL block = Export<MakeBlockFn>(alpha, "AlphaMakeBlock")("made in alpha");
  ASSERT_NE(block, nullptr);
  // The handle travels as decimal text, as the mail client's entries carry it.
  const std::string text = std::to_string(QX_HANDLE_VALUE(block));
  HGLOBAL parsed = QX_HANDLE_FROM(HGLOBAL, std::stoul(text));
  char out[64];
  auto take = Export<TakeBlockFn>(beta, "BetaTakeBlock");
  EXPECT_EQ(take(parsed, out, sizeof out), 14);
  EXPECT_STREQ(out, "made in alpha");
  EXPECT_EQ(take(parsed, out, sizeof out), -1);  // freed by beta: stale now
  EXPECT_EQ(GlobalLock(block), nullptr);
  FreeLibrary(beta);
  FreeLibrary(alpha);
}

TEST(Modules, LibraryDirectoryAndLibPrefix) {
  const auto dir = std::filesystem::temp_directory_path() / ("qx-libdir-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto source =
      std::filesystem::path(std::getenv("QX_BIN_DIR") ? std::getenv("QX_BIN_DIR") : ".") / "memtest_beta.so";
  ASSERT_TRUE(std::filesystem::exists(source)) << source;
  std::filesystem::copy_file(source, dir / "libMemProbe.so", std::filesystem::copy_options::overwrite_existing);
  EXPECT_FALSE(Loaded(LoadLibraryA("MEMPROBE.DLL")));
  setenv("QX_LIB_DIR", ("/nonexistent:" + dir.string()).c_str(), 1);
  HMODULE h = LoadLibraryA("MEMPROBE.DLL");
  unsetenv("QX_LIB_DIR");
  EXPECT_TRUE(Loaded(h));
  EXPECT_EQ(GetModuleHandleA("memprobe"), h);
  EXPECT_TRUE(FreeLibrary(h));
  std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

// A library linked at build time is attached before WinMain, answers
// GetModuleHandleA and LoadLibraryA with its own handle, stays attached
// through FreeLibrary, and is detached when the program ends.
TEST(Modules, LinkedLibraryIsAttachedBeforeWinMain) {
  const char *bin = std::getenv("QX_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  const std::string command = std::string(bin) + "/memory_linked_probe";
  FILE *out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char chunk[256];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, out)) > 0;) text.append(chunk, n);
  EXPECT_EQ(pclose(out), 0);
  EXPECT_EQ(text, "attaches=1 handle=1 load=1 freed=1 still=1\ndetached\n");
}

}  // namespace
