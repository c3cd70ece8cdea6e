/* ICMP.DLL entry points and structures. */
#include "qxwin/icmp.h"
