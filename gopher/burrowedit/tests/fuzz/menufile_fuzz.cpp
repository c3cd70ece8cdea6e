// Fuzz target of the gopher menu file as the editor reads it: any bytes load,
// an unedited menu saves back byte for byte, and every row the editor shows
// turns into a menu line that reads back as the same row.
#include <cstddef>
#include <cstdint>
#include <string>

#include "menufile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  MenuRows rows;
  rows.Load(bytes, [](int) {});
  if (rows.Save() != bytes) __builtin_trap();  // an unedited file changed on saving
  for (int i = 0; i < rows.GetItemCount(); ++i) {
    const std::string row = rows.GetItem(i);
    const std::string line = RowToLine(row);
    if (LineToRow(line.substr(0, line.size() - 2), nullptr) != row) __builtin_trap();  // an edit would change it
  }
  return 0;
}
