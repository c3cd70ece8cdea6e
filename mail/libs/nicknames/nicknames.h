// The alias library nicknames, as its callers see it: loaded by name
// (LoadLibraryA("nicknames.DLL")) and bound through GetProcAddress by these
// six names, all or none.
//
// A user's aliases live in "qxalias.ini" in the user's mail directory: the
// section [QX-Aliases] names each alias as a key, and each alias has a section
// of its own whose keys are its member addresses (an "=" in a member is kept
// as the byte 0xFF, since a key cannot hold "=").
#ifndef QX_NICKNAMES_H
#define QX_NICKNAMES_H

#include <windows.h>

#include <cstdint>

#define NICKNAMES_MODULE "nicknames.DLL"

// InitializeAlias(mailDir, userName): the user's alias context (a moveable
// global block holding the alias file's path), or none when either argument
// is missing or empty.
typedef HGLOBAL(WINAPI *INITIALIZEALIAS)(LPCSTR mailDir, LPCSTR userName);
// FreeUserContext(context): frees a context (none is ignored).
typedef void(WINAPI *FREEUSERCONTEXT)(HGLOBAL context);
// AliasManagement(context, owner): the alias dialog for editing; 0 when
// something was picked, else the dialog's end code.
typedef int32_t(WINAPI *ALIASMANAGEMENT)(HGLOBAL context, HWND owner);
// GetUserAliasList(context, mode, owner): the alias dialog for picking (mode
// 1 To, 2 Cc, 3 Bcc); the picked alias name or member in a moveable block the
// caller frees, or none.
typedef HGLOBAL(WINAPI *GETUSERALIASLIST)(HGLOBAL context, int32_t mode, HWND owner);
// CheckAlias(context, name): when name (trailing blanks and a group form's
// ":;" ignored) is an alias, its expansion; none otherwise.
typedef HGLOBAL(WINAPI *CHECKALIAS)(HGLOBAL context, LPCSTR name);
// GetNextAliasExpansion(context, expansion): the next member in a moveable
// block the caller frees; none at the end, when the expansion has freed
// itself. A caller that stops early frees the expansion with GlobalFree.
typedef HGLOBAL(WINAPI *GETNEXTALIASEXPANSION)(HGLOBAL context, HGLOBAL expansion);

// Picker modes.
#define ALIAS_MODE_MANAGE 0
#define ALIAS_MODE_TO 1
#define ALIAS_MODE_CC 2
#define ALIAS_MODE_BCC 3

#endif
