/* ICMP.DLL structures and status codes. */
#include "qxwin/icmp.h"
