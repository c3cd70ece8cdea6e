// Version information: the block read through a module's file name, the
// About box's queries, a library that is not loaded, and damaged blocks.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string BinFile(const char *name) {
  const char *bin = std::getenv("QX_BIN_DIR");
  return std::string(bin ? bin : ".") + "/" + name;
}

std::vector<BYTE> VersionBlock(const std::string &file) {
  DWORD handle = 99;
  const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) return {};
  std::vector<BYTE> block(size);
  EXPECT_TRUE(GetFileVersionInfoA(file.c_str(), 0, size, block.data()));
  return block;
}

std::string QueryString(const std::vector<BYTE> &block, const char *path) {
  void *value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), path, &value, &length)) return "<none>";
  return std::string(static_cast<const char *>(value));
}

void ExpectAlphaVersion(const std::vector<BYTE> &block) {
  ASSERT_FALSE(block.empty());
  // The About box's path: translation first, then the string by table.
  void *value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const WORD *translation = static_cast<const WORD *>(value);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04E4);
  EXPECT_EQ(QueryString(block, "\\StringFileInfo\\040904E4\\FileVersion"), "3.2.0.1");
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value, &length));
  EXPECT_EQ(length, 8u);  // characters with the terminator
  EXPECT_EQ(QueryString(block, "\\stringfileinfo\\040904e4\\FILEVERSION"), "3.2.0.1");
  EXPECT_EQ(QueryString(block, "\\StringFileInfo\\040904E4\\CompanyName"), "QX test");
  EXPECT_EQ(QueryString(block, "\\StringFileInfo\\040904E4\\ProductName"), "<none>");
  EXPECT_EQ(QueryString(block, "\\StringFileInfo\\040704E4\\FileVersion"), "<none>");
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, VS_FFI_SIGNATURE);
  EXPECT_EQ(HIWORD(fixed.dwFileVersionMS), 3);
  EXPECT_EQ(LOWORD(fixed.dwFileVersionMS), 2);
  EXPECT_EQ(HIWORD(fixed.dwFileVersionLS), 0);
  EXPECT_EQ(LOWORD(fixed.dwFileVersionLS), 1);
  EXPECT_EQ(fixed.dwFileType, VFT_DLL);
}

TEST(Version, LoadedModuleByItsFileName) {
  HMODULE alpha = LoadLibraryA("memtest_alpha.dll");
  ASSERT_NE(alpha, nullptr);
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(alpha, path, sizeof path), 0u);
  ExpectAlphaVersion(VersionBlock(path));
  FreeLibrary(alpha);
}

TEST(Version, LibraryThatIsNotLoaded) {
  ASSERT_EQ(GetModuleHandleA("memtest_alpha"), nullptr);
  ExpectAlphaVersion(VersionBlock(BinFile("memtest_alpha.so")));
  EXPECT_EQ(GetModuleHandleA("memtest_alpha"), nullptr);  // not left loaded
}

TEST(Version, NoVersionResourceOrNoFile) {
  SetLastError(0);
  EXPECT_EQ(GetFileVersionInfoSizeA(BinFile("memtest_beta.so").c_str(), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(GetFileVersionInfoSizeA("/nonexistent/file.dll", nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Version, ProgramThroughItsInstance) {
  // The About box's way: the instance's file name, then its version block.
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path), 0u);
  const std::vector<BYTE> block = VersionBlock(path);
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(QueryString(block, "\\StringFileInfo\\040904E4\\FileVersion"), "1.0.0.7");
  void *value = nullptr;
  UINT length = 0;
  EXPECT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(length, 4u);
}

// The record a program of the suite declares with one line: the numbers and
// their text agree, and the fixed part is that of an application.
QX_SUITE_VERSION(kSuiteProgram, 2, 5, 0, 17, "Probe");

TEST(Version, SuiteProgramRecordFromOneLine) {
  EXPECT_EQ(kSuiteProgram.fileVersionMS, 0x00020005u);
  EXPECT_EQ(kSuiteProgram.fileVersionLS, 0x00000011u);
  EXPECT_EQ(kSuiteProgram.productVersionMS, kSuiteProgram.fileVersionMS);
  EXPECT_EQ(kSuiteProgram.productVersionLS, kSuiteProgram.fileVersionLS);
  EXPECT_EQ(kSuiteProgram.fileFlagsMask, VS_FFI_FILEFLAGSMASK);
  EXPECT_EQ(kSuiteProgram.fileFlags, 0u);
  EXPECT_EQ(kSuiteProgram.fileOS, VOS_NT_WINDOWS32);
  EXPECT_EQ(kSuiteProgram.fileType, VFT_APP);
  EXPECT_STREQ(kSuiteProgram.langCodePage, "040904E4");
  const struct {
    const char *key, *value;
  } expected[] = {{"FileVersion", "2.5.0.17"}, {"ProductName", "QX TCP/IP suite"}, {"FileDescription", "Probe"}};
  ASSERT_EQ(kSuiteProgram.stringCount, std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_STREQ(kSuiteProgram.strings[i].key, expected[i].key);
    EXPECT_STREQ(kSuiteProgram.strings[i].value, expected[i].value) << expected[i].key;
  }
}

TEST(Version, ShortBufferIsRefused) {
  const std::vector<BYTE> block = VersionBlock(BinFile("memtest_alpha.so"));
  ASSERT_FALSE(block.empty());
  std::vector<BYTE> small(block.size() - 1);
  EXPECT_FALSE(
      GetFileVersionInfoA(BinFile("memtest_alpha.so").c_str(), 0, static_cast<DWORD>(small.size()), small.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Version, DamagedBlockIsReadSafely) {
  const std::vector<BYTE> good = VersionBlock(BinFile("memtest_alpha.so"));
  ASSERT_GT(good.size(), 100u);
  // Every single-byte corruption past the root's length (which gives the
  // block's size and is trusted): no crash, no read outside the block (ASan
  // watches), and any value found lies inside it.
  for (size_t at = 2; at < good.size(); ++at) {
    for (BYTE v : {BYTE{0}, BYTE{0xFF}, BYTE{0x7F}}) {
      std::vector<BYTE> bad = good;
      bad[at] = v;
      for (const char *path : {"\\", "\\StringFileInfo\\040904E4\\FileVersion", "\\VarFileInfo\\Translation"}) {
        void *value = nullptr;
        UINT length = 0;
        if (VerQueryValueA(bad.data(), path, &value, &length)) {
          const BYTE *p = static_cast<const BYTE *>(value);
          ASSERT_GE(p, bad.data());
          ASSERT_LE(p + length, bad.data() + bad.size()) << at;
        }
      }
    }
  }
  void *value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueA(nullptr, "\\", &value, &length));
}

}  // namespace
