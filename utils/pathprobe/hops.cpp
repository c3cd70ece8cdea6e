// pathprobe's hop states, hop texts, box layout and settings (see hops.h).
#include "hops.h"

#include <icmpapi.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct StatusState {
  ULONG status;
  BYTE state;
};
const StatusState kStatusStates[] = {
    {IP_SUCCESS, HOP_REACHED},
    {IP_DEST_NET_UNREACHABLE, HOP_NET_UNREACHABLE},
    {IP_DEST_HOST_UNREACHABLE, HOP_HOST_UNREACHABLE},
    {IP_DEST_PROT_UNREACHABLE, HOP_PROT_UNREACHABLE},
    {IP_DEST_PORT_UNREACHABLE, HOP_PROT_UNREACHABLE},
    {IP_PACKET_TOO_BIG, HOP_TOO_BIG},
    {IP_BAD_ROUTE, HOP_BAD_ROUTE},
    {IP_REQ_TIMED_OUT, HOP_ROUTER},
    {IP_TTL_EXPIRED_TRANSIT, HOP_ROUTER},
};

struct StateSuffix {
  BYTE state;
  const char *suffix;
};
const StateSuffix kSuffixes[] = {
    {HOP_NET_UNREACHABLE, " !N"},
    {HOP_HOST_UNREACHABLE, " !H"},
    {HOP_PROT_UNREACHABLE, " !P"},
    {HOP_REACHED, ""},
    {HOP_TOO_BIG, " !F"},
    {HOP_BAD_ROUTE, " !S"},
    {HOP_ROUTER, ""},
};

std::string Suffix(BYTE state) {
  for (const StateSuffix &s : kSuffixes)
    if (s.state == state) return s.suffix;
  char text[16];  // " !" and up to eight hex digits (state 0 gives ffffffff)
  std::snprintf(text, sizeof text, " !%x", static_cast<unsigned>(state - 1));
  return text;
}

std::string Dotted(DWORD address) {
  in_addr a{};
  a.s_addr = address;
  return inet_ntoa(a);
}

// A value of the section, "" when the key is missing.
std::string ReadText(LPCSTR iniFile, LPCSTR key, LPCSTR fallback) {
  char text[64] = "";
  GetPrivateProfileStringA("pathprobe", key, fallback, text, sizeof text, iniFile);
  return text;
}

// A decimal value, or fallback when the text is not one or lies outside low..high.
long ReadNumber(const std::string &text, long low, long high, long fallback) {
  char *end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end == text.c_str() || value < low || value > high) return fallback;
  return value;
}

}  // namespace

BYTE HopStateFromStatus(ULONG status) {
  for (const StatusState &s : kStatusStates)
    if (s.status == status) return s.state;
  return HOP_OTHER;
}

bool HopStateGoesOn(BYTE state) { return state == HOP_ROUTER; }

BOOL HopText(const HOP_RECORD &hop, int k, bool traditional, std::string *text) {
  char line[256];
  if (hop.replyTick == 0) {
    if (traditional)
      std::snprintf(line, sizeof line, "Hop %2d             No Response", k);
    else
      std::snprintf(line, sizeof line, "No Response");
  } else {
    const long ms = static_cast<long>(hop.replyTick - hop.sendTick);
    const std::string suffix = Suffix(hop.state);
    if (traditional)
      std::snprintf(line, sizeof line, "Hop %2d%3s %5ld ms %15s  %s", k, suffix.c_str(), ms,
                    Dotted(hop.address).c_str(), hop.name);
    else
      std::snprintf(line, sizeof line, "%s%s - %ld ms", hop.name, suffix.c_str(), ms);
  }
  *text = line;
  return hop.state >= HOP_NET_UNREACHABLE && hop.state <= HOP_BAD_ROUTE;
}

void HopBoxLayout(int clientHeight, int pictureWidth, int rowHeight, HOP_LAYOUT *layout) {
  const int w = pictureWidth;
  const int r = rowHeight > 0 ? rowHeight : 1;
  layout->box[0] = POINT{w + 2, 0};
  const int n = ((clientHeight - 8) / r - 1) / 2;
  layout->perColumn = n;
  int g = 1, m = 1, count = 0, left = 2;
  for (int i = 1; i < HOP_TABLE_SIZE; ++i) {
    const int o = (i % 2 == 0) == (n % 2 == 0) ? w : 0;
    int x = left + 2 * o;
    // An odd column count puts the turn at the top of an upward column into the next column.
    if (n % 2 != 0 && m == -1 && g == 0) x = left + 4 * w + 2 * o;
    layout->box[i] = POINT{x, 2 * r * g};
    if (count + 1 < n) {
      ++count;
    } else {
      count = 0;
      m = -m;
      left += 4 * w;
    }
    g += m;
  }
}

int HopLayoutExtent(const HOP_LAYOUT &layout, int pictureWidth, int lastHop) {
  int extent = 0;
  for (int k = 1; k <= lastHop && k < HOP_TABLE_SIZE; ++k) {
    const int right = layout.box[k].x + 4 * pictureWidth + 2;
    if (right > extent) extent = right;
  }
  return extent;
}

bool ProfileWordOn(const char *text) {
  return lstrcmpiA(text, "1") == 0 || lstrcmpiA(text, "True") == 0 || lstrcmpiA(text, "Yes") == 0;
}

bool ProfileWordOff(const char *text) {
  return lstrcmpiA(text, "0") == 0 || lstrcmpiA(text, "False") == 0 || lstrcmpiA(text, "No") == 0;
}

void ReadProbeSettings(LPCSTR iniFile, PROBE_SETTINGS *settings) {
  settings->lookupName = ProfileWordOn(ReadText(iniFile, "LookupName", "True").c_str());
  settings->traditional = !ProfileWordOff(ReadText(iniFile, "Traditional", "False").c_str());
  settings->dataLen = static_cast<unsigned>(ReadNumber(ReadText(iniFile, "DataLen", "56"), 1, PROBE_DATA_LEN_MAX, 56));
  settings->maxTtl = static_cast<int>(ReadNumber(ReadText(iniFile, "MaxTTL", "30"), 1, 255, 30));
  settings->numProbes = static_cast<int>(ReadNumber(ReadText(iniFile, "NumProbes", "3"), 1, 10, 3));
  settings->basePort = ReadNumber(ReadText(iniFile, "Port", "33434"), 1, 0x7FFFFFFFL, 33434);
}
