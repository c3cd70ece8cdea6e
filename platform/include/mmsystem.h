/* WINMM: wave devices and simple sounds. */
#include <windows.h>
#include "qxwin/mmsystem.h"
