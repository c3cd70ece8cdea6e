// Lookup of the resources that each module declares as static data (see
// qxwin/resources.h), for the parts of the layer that build icons, bitmaps,
// cursors, menus, accelerator tables and dialogs from them.
#pragma once

#include <windows.h>

namespace qx {

// The resource of a module (NULL: the program) by type and name. type and
// name are each a text, compared without regard to case, or a number made
// with MAKEINTRESOURCE; a text "#123" stands for the number 123. Null when
// the module has no such resource (last error ERROR_RESOURCE_TYPE_NOT_FOUND,
// ERROR_RESOURCE_NAME_NOT_FOUND or ERROR_INVALID_HANDLE).
const QX_RESOURCE *FindModuleResource(HMODULE module, LPCSTR type, LPCSTR name);

// Typed forms of the lookup; null as above.
const QX_DIALOG *FindDialogResource(HMODULE module, LPCSTR name);
const QX_MENU *FindMenuResource(HMODULE module, LPCSTR name);
const QX_ACCELERATORS *FindAcceleratorResource(HMODULE module, LPCSTR name);
const QX_VERSION *FindVersionResource(HMODULE module);

// Raw resources (RT_BITMAP: DIB bytes; RT_ICON, RT_CURSOR: .ico/.cur bytes).
struct ResourceBytes {
  const BYTE *data;
  DWORD size;
};
bool FindResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, ResourceBytes &out);

}  // namespace qx
