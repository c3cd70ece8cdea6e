// Fuzz target of the help file reader: any bytes parse to topics or to a
// refusal, and the lookups WinHelpA makes work on whatever was read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "help_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  qx::help::HelpFile help;
  std::vector<std::string> problems;
  if (!qx::help::ParseHelp(text, help, problems)) return 0;
  if (!help.Find(help.contents)) __builtin_trap();  // the contents topic is always one that was read
  for (const qx::help::Topic &t : help.topics) {
    help.FindContext(t.context);
    for (const std::string &k : t.keywords) help.FindKeyword(k);
  }
  help.FindKeyword(text.substr(0, 8));
  return 0;
}
