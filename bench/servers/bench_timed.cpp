// bench_timed: the trivial TCP time server inetd starts per connection: the
// socket is standard output; it writes the 4-byte RFC 868 time and ends.
#include <unistd.h>

#include <ctime>

int main() {
  unsigned long long value = ((unsigned long long)time(nullptr) + 2208988800ULL) & 0xFFFFFFFFULL;
  unsigned char out[4] = {(unsigned char)(value >> 24), (unsigned char)(value >> 16), (unsigned char)(value >> 8),
                          (unsigned char)value};
  return write(1, out, 4) == 4 ? 0 : 1;
}
