// Uuencode and uudecode.
#include "uucode.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kPiece = 45;      // bytes a line
constexpr size_t kLineLimit = 79;  // characters a decoded line is read with
char Enc(unsigned v) { return (v & 63) ? static_cast<char>((v & 63) + 32) : '`'; }
unsigned Dec(unsigned char c) { return (c - 32u) & 63u; }

}  // namespace

bool UuencodeFile(FILE *in, FILE *out) {
  unsigned char piece[kPiece + 2];
  for (;;) {
    std::memset(piece, 0, sizeof piece);  // a short last group is padded with zeros
    const size_t n = std::fread(piece, 1, kPiece, in);
    if (n < kPiece && std::ferror(in)) return false;
    std::string line(1, Enc(static_cast<unsigned>(n)));
    for (size_t i = 0; i < n; i += 3) {
      const unsigned a = piece[i], b = piece[i + 1], c = piece[i + 2];
      line += Enc(a >> 2);
      line += Enc((a << 4) | (b >> 4));
      line += Enc((b << 2) | (c >> 6));
      line += Enc(c);
    }
    line += '\n';
    if (std::fputs(line.c_str(), out) < 0) return false;
    if (n == 0) return true;
  }
}

int UudecodeFile(FILE *in, FILE *out) {
  char raw[kLineLimit + 2];
  while (std::fgets(raw, sizeof raw, in)) {
    std::string line(raw);
    const bool whole = !line.empty() && line.back() == '\n';
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!whole) {  // a longer line: the rest is not part of this one
      for (int c; (c = std::fgetc(in)) != EOF && c != '\n';) {
      }
    }
    if (line.empty()) return 0;
    size_t n = Dec(static_cast<unsigned char>(line[0]));
    if (n == 0) return 0;
    const size_t need = 4 * ((n + 2) / 3) + 1;
    if (line.size() < need) line.append(need - line.size(), ' ');
    for (size_t i = 1; n > 0; i += 4) {
      const unsigned v[4] = {Dec(line[i]), Dec(line[i + 1]), Dec(line[i + 2]), Dec(line[i + 3])};
      const unsigned char bytes[3] = {static_cast<unsigned char>((v[0] << 2) | (v[1] >> 4)),
                                      static_cast<unsigned char>((v[1] << 4) | (v[2] >> 2)),
                                      static_cast<unsigned char>((v[2] << 6) | v[3])};
      const size_t take = n < 3 ? n : 3;
      if (std::fwrite(bytes, 1, take, out) != take) return -1;
      n -= take;
    }
  }
  return -1;
}
