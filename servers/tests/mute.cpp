// servers_mute: a daemon that never takes its socket nor reports, for the
// super-server's hand-over timer. It lives two seconds and exits.
#include <unistd.h>

int main() {
  sleep(2);
  return 0;
}
