// The alias file: reading and changing "qxalias.ini" through the layer's
// private-profile functions, and the rules for the names and members it can
// hold.
#ifndef QX_NICKNAMES_ALIASFILE_H
#define QX_NICKNAMES_ALIASFILE_H

#include <windows.h>

#include <string>
#include <vector>

namespace nicknames {

inline constexpr const char *kAliasSection = "QX-Aliases";
// The bound on the list of aliases and on one alias's member list.
inline constexpr DWORD kListBuffer = 60000;
// The longest alias name or member the dialogs take.
inline constexpr size_t kEntryLength = 120;

// The path held by an alias context; empty when the handle is not one.
std::string ContextPath(HGLOBAL context);

// The keys of a section, in file order; empty when the file or section is
// missing or the list buffer cannot be had. A list longer than the bound
// gives the keys that fit whole (never a key cut short, which would be
// another address), and *whole (when given) is false then.
std::vector<std::string> ReadKeys(const std::string &file, const std::string &section, bool *whole = nullptr);
bool IsAlias(const std::string &file, const std::string &name);

// A member as a key ("=" as 0xFF) and back.
std::string StoredMember(const std::string &member);
std::string ShownMember(const std::string &key);
// An alias name with each blank made "_".
std::string AliasName(const std::string &text);
// False for text the file cannot keep as a key: a leading ";" or "[" (a
// comment or a section), and in an alias name also "=", "[" or "]".
bool Storable(const std::string &text, bool aliasName);

// Changes; each false when the profile could not be written.
bool AddAlias(const std::string &file, const std::string &name);
bool DeleteAlias(const std::string &file, const std::string &name);
// Moves every member of old to name; false, with nothing changed, when the
// members are more than the list bound holds (they could not all be moved).
bool RenameAlias(const std::string &file, const std::string &old, const std::string &name);
bool AddMember(const std::string &file, const std::string &alias, const std::string &member);
bool RemoveMember(const std::string &file, const std::string &alias, const std::string &member);

}  // namespace nicknames

#endif
