// The lists the installer edits in other programs' settings: the search path
// ("C:\A;C:\B"), the network provider order ("A,B") and the print provider
// order (a multi-string: "A", NUL, "B", NUL, NUL). Entries are compared whole
// and without regard to case, so removing "C:\QX" never touches
// "C:\QXOTHER" and removing one entry never cuts the ones after it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace installkit {

// True when two entries name the same thing: equal without regard to ASCII
// case, a trailing backslash on either ignored ("C:\QX\" is "C:\QX").
bool SameEntry(std::string_view a, std::string_view b);

// The entries of a separated list; empty entries are kept, so joining them
// again gives back the same text.
std::vector<std::string> SplitList(std::string_view value, char separator);
std::string JoinList(const std::vector<std::string> &entries, char separator);

bool HasListEntry(std::string_view value, std::string_view entry, char separator);
// Removes every entry equal to `entry` with one separator each (the one after
// it, or the one before it for the last entry); the other entries stay as
// they were. True when something was removed.
bool RemoveListEntry(std::string &value, std::string_view entry, char separator);
// Puts `entry` first: nothing changes when the first entry already is it;
// otherwise every equal entry is removed and `entry` goes in front.
// True when the value changed.
bool PutListEntryFirst(std::string &value, std::string_view entry, char separator);
// Adds `entry` at the end unless the list already holds it. True when added.
bool AppendListEntry(std::string &value, std::string_view entry, char separator);

// A multi-string's strings up to its first empty string (or its end, for one
// stored without the closing NUL); bytes after an empty string are ignored.
std::vector<std::string> SplitMultiString(std::string_view bytes);
// Each string with its NUL, then the closing NUL.
std::string JoinMultiString(const std::vector<std::string> &strings);

}  // namespace installkit
