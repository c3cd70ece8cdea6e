// The optional 3-D dialog look: "CTL3D32.DLL" is used when it is found along
// the search path and loads; otherwise the programs run with plain dialogs.
#include "qxcommon.h"

int g_Ctl3dActive = 0;
HMODULE g_Ctl3dModule = nullptr;
CTL3D_INSTANCE_PROC Ctl3dRegister = nullptr;
CTL3D_INSTANCE_PROC Ctl3dUnregister = nullptr;
CTL3D_INSTANCE_PROC Ctl3dAutoSubclass = nullptr;
CTL3D_SUBCLASSDLG_PROC Ctl3dSubclassDlg = nullptr;
CTL3D_GETVER_PROC Ctl3dGetVer = nullptr;
CTL3D_VOID_PROC Ctl3dColorChange = nullptr;
CTL3D_VOID_PROC Ctl3dEnabled = nullptr;
CTL3D_SUBCLASSCTL_PROC Ctl3dSubclassCtl = nullptr;
CTL3D_CTLCOLOREX_PROC Ctl3dCtlColorEx = nullptr;

namespace {

constexpr char kCtl3dFile[] = "CTL3D32.DLL";

template <typename Proc>
void Resolve(Proc &proc, const char *name) {
  proc = reinterpret_cast<Proc>(reinterpret_cast<void *>(GetProcAddress(g_Ctl3dModule, name)));
}

void ClearEntries() {
  Ctl3dRegister = Ctl3dUnregister = Ctl3dAutoSubclass = nullptr;
  Ctl3dSubclassDlg = nullptr;
  Ctl3dGetVer = nullptr;
  Ctl3dColorChange = Ctl3dEnabled = nullptr;
  Ctl3dSubclassCtl = nullptr;
  Ctl3dCtlColorEx = nullptr;
}

void FreeCtl3d() {
  if (g_Ctl3dModule) FreeLibrary(g_Ctl3dModule);
  g_Ctl3dModule = nullptr;
  ClearEntries();
}

}  // namespace

int Ctl3dLoadEx(HINSTANCE instance, UINT variant) {
  g_Ctl3dActive = 0;
  OFSTRUCT ofs{};
  if (OpenFile(kCtl3dFile, &ofs, OF_EXIST) == HFILE_ERROR) return 0;
  HMODULE module = LoadLibraryA(kCtl3dFile);
  // A handle value of 31 or less is a failed load, as 16-bit loaders report.
  if (reinterpret_cast<uintptr_t>(module) <= 31) return 0;
  g_Ctl3dModule = module;

  ClearEntries();
  Resolve(Ctl3dRegister, "Ctl3dRegister");
  Resolve(Ctl3dUnregister, "Ctl3dUnregister");
  Resolve(Ctl3dAutoSubclass, "Ctl3dAutoSubclass");
  Resolve(Ctl3dColorChange, "Ctl3dColorChange");
  Resolve(Ctl3dCtlColorEx, "Ctl3dCtlColorEx");
  if (!(variant & CTL3D_LOAD_FIVE)) {
    Resolve(Ctl3dSubclassDlg, "Ctl3dSubclassDlg");
    Resolve(Ctl3dGetVer, "Ctl3dGetVer");
    Resolve(Ctl3dEnabled, "Ctl3dEnabled");
    Resolve(Ctl3dSubclassCtl, "Ctl3dSubclassCtl");
  }
  if (!Ctl3dRegister) {
    FreeCtl3d();
    return 0;
  }
  g_Ctl3dActive = Ctl3dRegister(instance) ? 1 : 0;
  if (g_Ctl3dActive) g_Ctl3dActive = (Ctl3dAutoSubclass && Ctl3dAutoSubclass(instance)) ? 1 : 0;
  if (!g_Ctl3dActive && !(variant & CTL3D_KEEP_LOADED)) FreeCtl3d();
  return g_Ctl3dActive;
}

int Ctl3dLoad(HINSTANCE instance) { return Ctl3dLoadEx(instance, 0); }

void Ctl3dUnload(HINSTANCE instance) {
  if (g_Ctl3dActive && Ctl3dUnregister) Ctl3dUnregister(instance);
  g_Ctl3dActive = 0;
  FreeCtl3d();
}
