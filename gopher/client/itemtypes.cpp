#include "itemtypes.h"

namespace {

// In the order of the type string "0123456789+TgIiShsM?".
const GopherItemType kTypes[kTypeCount] = {
    {'0', "Ordinary Document", 0, kActText},  {'1', "Menu", -1, kActMenu},
    {'2', "CSO/qi Server", 2, kActCso},       {'3', "Error node", 3, kActSave},
    {'4', "BinHex Document", 4, kActSave},    {'5', "Binary Archive", 5, kActMaybePic},
    {'6', "UUEncoded Document", 6, kActSave}, {'7', "Index Search node", 7, kActSearch},
    {'8', "Telnet Resource", 8, kActTelnet},  {'9', "Binary Document", 9, kActMaybePic},
    {'+', "Redundant Server", 1, kActSave},   {'T', "TN3270 Resource", 10, kActTn3270},
    {'g', "GIF Document", 11, kActPicture},   {'I', "Image Document", 12, kActMaybePic},
    {'i', "Inline Type", 13, kActInfo},       {'S', "Server/Menu", 18, kActMenu},
    {'h', "HTML Document", 17, kActSave},     {'s', "Sound File", 16, kActSound},
    {'M', "MIME Document", 14, kActSave},     {'?', "Unknown type - \"%c\"", 19, kActSave},
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
