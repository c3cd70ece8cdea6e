// Handing a request to the mail client: the block published as a named
// mapping, the mail client started with the mapping's name, and a message
// loop until it closes the hidden window of the block's word 0.
#ifndef QX_MAILBRIDGE_HANDOFF_H
#define QX_MAILBRIDGE_HANDOFF_H

#include <windows.h>

#include "block.h"

namespace mailbridge {

// The result the mail client left in word 1 (0 sent or queued, 1 the person
// cancelled, 2 it failed); 2 when the mail client could not be started or
// ended without answering, 5 when memory ran out.
uint32_t HandOff(Request request, bool mailLayout, HWND parent, HINSTANCE instance);

}  // namespace mailbridge

#endif
