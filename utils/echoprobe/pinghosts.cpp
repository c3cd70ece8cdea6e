// echoprobe's host list file, colours, settings and hit test (see pinghosts.h).
#include "pinghosts.h"

#include <sstream>

int PingHostFlags(DWORD address) {
  const BYTE last = static_cast<BYTE>(address >> 24);  // network order: the last byte is the highest
  return PING_FLAGS_HOST | (last == 0 || last == 255 ? PING_FLAGS_NET_OR_BROADCAST : 0);
}

COLORREF PingHostColour(int flags, int sent, int lastAnswered) {
  if (flags & PING_FLAGS_NET_OR_BROADCAST) return RGB(0, 0, 255);
  const int unanswered = sent - lastAnswered;
  if (unanswered >= 10) return RGB(255, 0, 0);
  if (unanswered >= 5) return RGB(255, 0, 255);
  return RGB(0, 0, 0);
}

bool PingCfgHost(const std::string &line, std::string *host) {
  const size_t start = line.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || line[start] == '#') return false;
  const size_t end = line.find_first_of(" \t\r\n", start);
  *host = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return true;
}

std::vector<std::string> ParsePingCfg(const std::string &text) {
  std::vector<std::string> hosts;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.size() > PING_CFG_LINE_MAX) line.resize(PING_CFG_LINE_MAX);
    std::string host;
    if (PingCfgHost(line, &host)) hosts.push_back(host);
  }
  return hosts;
}

unsigned PingDelayFromProfile(int value) {
  if (value < 1) return 1;  // 0 would flood the host with requests
  return static_cast<unsigned>(value) > PING_DELAY_MAX ? PING_DELAY_MAX : static_cast<unsigned>(value);
}

unsigned PingSizeFromProfile(int value) {
  if (value < 0) return PING_SIZE_DEFAULT;
  return static_cast<unsigned>(value) > PING_SIZE_MAX ? PING_SIZE_MAX : static_cast<unsigned>(value);
}

unsigned PingDialogValue(unsigned answer, unsigned current, unsigned maximum) {
  if (answer == 0) return current;
  return answer > maximum ? maximum : answer;
}

int PingHitTest(int x, int y, int cellWidth, int cellHeight, int rowsPerColumn, int firstColumn, int hostCount) {
  x -= 2;  // the cells start at (2, 2)
  y -= 2;
  if (x < 0 || y < 0 || cellWidth <= 0 || cellHeight <= 0 || rowsPerColumn < 1) return -1;
  const int row = y / cellHeight;
  if (row >= rowsPerColumn) return -1;  // below the last row of a column: no host there
  const long index = (static_cast<long>(firstColumn) + x / cellWidth) * rowsPerColumn + row;
  return index < hostCount ? static_cast<int>(index) : -1;
}
