// The command line of sharehost.
#include "settings.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

ServerSettings g_Settings;

SwitchResult ParseServerSwitches(const std::string &command_line, ServerSettings &settings) {
  std::istringstream words(command_line);
  std::string word;
  while (words >> word) {
    if (word[0] != '/') continue;
    char letter = word.size() > 1 ? char(std::tolower(static_cast<unsigned char>(word[1]))) : '\0';
    bool colon = word.size() > 2 && word[2] == ':';
    if (letter == 'h') {
      ++settings.holes;
    } else if (letter == 'l' && colon) {
      settings.log_file = word.substr(3);
      settings.log = true;
    } else if (letter == 't' && colon) {
      // Not a number converts to 0, which the range refuses.
      unsigned long size = std::strtoul(word.c_str() + 3, nullptr, 10);
      if (size < kMinTransferSize || size > kMaxTransferSize) return kBadTransferSize;
      settings.transfer_size = uint32_t(size);
    } else {
      return kBadSwitch;
    }
  }
  return kSwitchesOk;
}
