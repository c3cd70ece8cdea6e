// The gopher item types the suite knows: one table of type characters,
// names, tree pictures, what activating an item of the type does in the
// gopher client, and the description the menu editor offers it under. The
// client and the editor both read this table, so a type the editor writes
// is the type the client shows.
#ifndef QX_GOPHER_COMMON_ITEMTYPES_H
#define QX_GOPHER_COMMON_ITEMTYPES_H

#include <string>
#include <vector>

// What activating an item of a type does.
enum GopherActivation {
  kActText,      // shown in the document list
  kActMenu,      // its answer becomes the item's children
  kActCso,       // a CSO (ph) query
  kActSearch,    // asks for words, the answer is a menu
  kActTelnet,    // starts the terminal with the telnet template
  kActTn3270,    // starts the terminal with the TN3270 template
  kActPicture,   // always a picture
  kActMaybePic,  // a picture when named as one, else saved to a file
  kActSound,     // played when a sound device opens, else as kActMaybePic
  kActInfo,      // an information line: not selectable
  kActSave,      // saved to a file the user names
};

struct GopherItemType {
  char typeChar;     // as it stands in a menu line
  const char *name;  // shown in the item's definition
  int picture;       // column of the "Others" strip; -1 for the folder pictures
  GopherActivation activation;
  // The menu editor's description of the type ("Directory" becomes
  // "Directory[1]" in its list), or null when the editor does not offer it.
  const char *editorDescription;
  // The type's place in the editor's list (0 first); -1 when not offered.
  int editorOrder;
};

constexpr int kTypeCount = 20;  // indices 0..19 the client knows; 19 is "unknown"
constexpr int kTypeUnknown = 19;
constexpr int kTypeText = 0, kTypeMenu = 1, kTypeCso = 2, kTypeBinary5 = 5, kTypeSearch = 7, kTypeTelnet = 8,
              kTypeBinary9 = 9, kTypeTn3270 = 11, kTypeGif = 12, kTypeImage = 13, kTypeInfo = 14, kTypeServer = 15,
              kTypeSound = 17;

const GopherItemType &GopherType(int index);
// Index of a type character in "0123456789+TgIiShsM?"; 19 when it is not there.
int TypeIndexOf(unsigned char c);
char TypeCharOf(int index);
// The type's name; the unknown type names its character.
std::string TypeName(int index, unsigned char c);
int TypePicture(int index);
// Menus, searches and servers: the types whose answer is a menu.
bool IsMenuType(int index);

// The menu editor's type list in its order: each entry is the description
// with the type character in square brackets, e.g. "Directory[1]". Types
// the client does not know ('e' and 'c') are offered too; the client shows
// items of those types as unknown.
const std::vector<std::string> &EditorTypeDescriptions();

#endif
