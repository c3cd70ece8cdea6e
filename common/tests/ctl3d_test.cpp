// The 3-D look loader: "CTL3D32.DLL" looked for along the search path, then
// loaded by name, with stand-in libraries for the paths where it is there.
#include "common_fixture.h"

using namespace commontest;
using namespace qxtest;

namespace {

std::string BinDir() {
  if (const char *d = std::getenv("QX_BIN_DIR")) return d;
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

class Ctl3d : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("QX_CTL3D_AUTOSUBCLASS"); }
  void TearDown() override {
    Ctl3dUnload(GetModuleHandleA(nullptr));
    unsetenv("QX_LIB_DIR");
    unsetenv("QX_CTL3D_AUTOSUBCLASS");
  }
  // The file the search finds, and the stand-in the loader loads.
  void Provide(const char *standin) {
    std::ofstream("CTL3D32.DLL") << "stand-in marker";
    setenv("QX_LIB_DIR", (BinDir() + "/" + standin).c_str(), 1);
  }
  int Calls(int which) {
    auto proc =
        reinterpret_cast<int(WINAPI *)(int)>(reinterpret_cast<void *>(GetProcAddress(g_Ctl3dModule, "StandinCalls")));
    return proc ? proc(which) : -1;
  }
  ScratchDir scratch;
};

int Resolved() {
  const void *entries[] = {reinterpret_cast<void *>(Ctl3dRegister),     reinterpret_cast<void *>(Ctl3dUnregister),
                           reinterpret_cast<void *>(Ctl3dAutoSubclass), reinterpret_cast<void *>(Ctl3dSubclassDlg),
                           reinterpret_cast<void *>(Ctl3dGetVer),       reinterpret_cast<void *>(Ctl3dColorChange),
                           reinterpret_cast<void *>(Ctl3dEnabled),      reinterpret_cast<void *>(Ctl3dSubclassCtl),
                           reinterpret_cast<void *>(Ctl3dCtlColorEx)};
  int n = 0;
  for (const void *e : entries) n += e != nullptr;
  return n;
}

TEST_F(Ctl3d, AbsentLibraryGivesPlainLook) {
  EXPECT_EQ(Ctl3dLoad(GetModuleHandleA(nullptr)), 0);
  EXPECT_EQ(g_Ctl3dActive, 0);
  EXPECT_EQ(g_Ctl3dModule, nullptr);
  EXPECT_EQ(Resolved(), 0);
}

TEST_F(Ctl3d, FoundButNotLoadableGivesPlainLook) {
  std::ofstream("CTL3D32.DLL") << "not a library";
  setenv("QX_LIB_DIR", scratch.dir().c_str(), 1);
  EXPECT_EQ(Ctl3dLoad(GetModuleHandleA(nullptr)), 0);
  EXPECT_EQ(g_Ctl3dModule, nullptr);
}

TEST_F(Ctl3d, LibraryOnlyLoadableButNotFoundIsNotUsed) {
  setenv("QX_LIB_DIR", (BinDir() + "/ctl3d-standin").c_str(), 1);  // no CTL3D32.DLL along the search path
  EXPECT_EQ(Ctl3dLoad(GetModuleHandleA(nullptr)), 0);
  EXPECT_EQ(g_Ctl3dModule, nullptr);
}

TEST_F(Ctl3d, PresentLibraryRegistersAndAutoSubclasses) {
  Provide("ctl3d-standin");
  EXPECT_EQ(Ctl3dLoad(GetModuleHandleA(nullptr)), 1);
  EXPECT_EQ(g_Ctl3dActive, 1);
  ASSERT_NE(g_Ctl3dModule, nullptr);
  EXPECT_EQ(Resolved(), 9);
  EXPECT_EQ(Calls(0), 1);
  EXPECT_EQ(Calls(2), 1);
  EXPECT_EQ(Ctl3dGetVer(), 0x0231);
  Ctl3dUnload(GetModuleHandleA(nullptr));
  EXPECT_EQ(g_Ctl3dActive, 0);
  EXPECT_EQ(g_Ctl3dModule, nullptr);
  EXPECT_EQ(Resolved(), 0);
}

TEST_F(Ctl3d, FailedAutoSubclassFreesTheLibraryUnlessKept) {
  Provide("ctl3d-standin");
  setenv("QX_CTL3D_AUTOSUBCLASS", "0", 1);
  EXPECT_EQ(Ctl3dLoad(GetModuleHandleA(nullptr)), 0);
  EXPECT_EQ(g_Ctl3dModule, nullptr);
  EXPECT_EQ(Ctl3dLoadEx(GetModuleHandleA(nullptr), CTL3D_KEEP_LOADED), 0);
  EXPECT_NE(g_Ctl3dModule, nullptr);
  EXPECT_EQ(Calls(2), 1);
}

TEST_F(Ctl3d, FiveEntryVariantResolvesOnlyWhatItCalls) {
  Provide("ctl3d-standin");
  EXPECT_EQ(Ctl3dLoadEx(GetModuleHandleA(nullptr), CTL3D_LOAD_FIVE), 1);
  EXPECT_EQ(Resolved(), 5);
  EXPECT_NE(Ctl3dColorChange, nullptr);
  EXPECT_NE(Ctl3dCtlColorEx, nullptr);
  EXPECT_EQ(Ctl3dGetVer, nullptr);
}

TEST_F(Ctl3d, LibraryWithoutRegisterIsFreed) {
  Provide("ctl3d-noregister");
  EXPECT_EQ(Ctl3dLoad(GetModuleHandleA(nullptr)), 0);
  EXPECT_EQ(g_Ctl3dModule, nullptr);
  EXPECT_EQ(Resolved(), 0);
}

}  // namespace
