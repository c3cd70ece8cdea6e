#include "itemtypes.h"

#include <algorithm>

namespace {

// The client's types in the order of the type string "0123456789+TgIiShsM?",
// then the types only the editor offers (the client finds them unknown).
constexpr int kEditorOnly = 2;
const GopherItemType kTypes[kTypeCount + kEditorOnly] = {
    {'0', "Ordinary Document", 0, kActText, "Text File", 0},
    {'1', "Menu", -1, kActMenu, "Directory", 1},
    {'2', "CSO/qi Server", 2, kActCso, "CSO name server", 2},
    {'3', "Error node", 3, kActSave, nullptr, -1},
    {'4', "BinHex Document", 4, kActSave, "Mac HQX file", 3},
    {'5', "Binary Archive", 5, kActMaybePic, "PC binary", 4},
    {'6', "UUEncoded Document", 6, kActSave, nullptr, -1},
    {'7', "Index Search node", 7, kActSearch, "Text Index (Gopher menu)", 5},
    {'8', "Telnet Resource", 8, kActTelnet, "Telnet Session", 6},
    {'9', "Binary Document", 9, kActMaybePic, "Binary File", 7},
    {'+', "Redundant Server", 1, kActSave, nullptr, -1},
    {'T', "TN3270 Resource", 10, kActTn3270, "TN3270 Session", 12},
    {'g', "GIF Document", 11, kActPicture, "GIF image", 14},
    {'I', "Image Document", 12, kActMaybePic, "Image (other than GIF)", 10},
    {'i', "Inline Type", 13, kActInfo, "Information line", 16},
    {'S', "Server/Menu", 18, kActMenu, nullptr, -1},
    {'h', "HTML Document", 17, kActSave, "HTML", 15},
    {'s', "Sound File", 16, kActSound, "Sounds", 8},
    {'M', "MIME Document", 14, kActSave, "MIME multipart/mixed", 11},
    {'?', "Unknown type - \"%c\"", 19, kActSave, nullptr, -1},
    // Offered by the editor only.
    {'e', "Unknown type - \"%c\"", 19, kActSave, "Event (not in 2.06)", 9},
    {'c', "Unknown type - \"%c\"", 19, kActSave, "Calendar (not in 2.06)", 13},
};

}  // namespace

const GopherItemType &GopherType(int index) { return kTypes[index >= 0 && index < kTypeCount ? index : kTypeUnknown]; }

int TypeIndexOf(unsigned char c) {
  for (int i = 0; i < kTypeCount; ++i)
    if (static_cast<unsigned char>(kTypes[i].typeChar) == c) return i;
  return kTypeUnknown;
}

char TypeCharOf(int index) { return GopherType(index).typeChar; }

std::string TypeName(int index, unsigned char c) {
  if (index != kTypeUnknown && index >= 0 && index < kTypeCount) return kTypes[index].name;
  std::string name = "Unknown type - \"";
  name += static_cast<char>(c);
  name += '"';
  return name;
}

int TypePicture(int index) { return GopherType(index).picture; }

bool IsMenuType(int index) { return index == kTypeMenu || index == kTypeSearch || index == kTypeServer; }

const std::vector<std::string> &EditorTypeDescriptions() {
  static const std::vector<std::string> list = [] {
    std::vector<const GopherItemType *> offered;
    for (const GopherItemType &t : kTypes)
      if (t.editorDescription) offered.push_back(&t);
    std::sort(offered.begin(), offered.end(),
              [](const GopherItemType *a, const GopherItemType *b) { return a->editorOrder < b->editorOrder; });
    std::vector<std::string> out;
    for (const GopherItemType *t : offered) out.push_back(std::string(t->editorDescription) + "[" + t->typeChar + "]");
    return out;
  }();
  return list;
}
