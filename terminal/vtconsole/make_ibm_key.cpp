// Writes the 3270 key map "IBM.KEY" that vtconsole "/I" loads, at build time,
// beside the programs.
//     make_ibm_key OUTPUT
#include <cstdio>
#include <fstream>

#include "keymap.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_ibm_key OUTPUT\n");
    return 2;
  }
  size_t size = 0;
  const BYTE *image = Ibm3270KeyMapImage(&size);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(image), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_ibm_key: %s could not be written; check that its folder exists and is writable\n",
                 argv[1]);
    return 1;
  }
  return 0;
}
