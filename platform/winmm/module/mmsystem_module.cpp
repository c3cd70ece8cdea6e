// The module "MMSYSTEM.DLL" (mmsystem.so): the sound player loads it by name
// and takes "sndPlaySound"; it plays through the sound library.
#include <windows.h>
#include <mmsystem.h>

// The export keeps the 16-bit library's own name, not the header's alias of it.
#undef sndPlaySound

extern "C" {

QX_DLLEXPORT BOOL WINAPI sndPlaySound(LPCSTR pszSound, UINT fuSound) { return sndPlaySoundA(pszSound, fuSound); }

}  // extern "C"
