// Helper process for the device tests: serves the statistics device under the
// name given on its command line, prints "ready" (or "error <code>") and
// serves until it is killed.
#include <windows.h>

#include <cstdio>
#include <unistd.h>

#include "stat_device.h"

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const DWORD error = qx::ServeDevice(argv[1], std::make_shared<qxtest::StatProvider>());
  if (error) {
    std::printf("error %u\n", static_cast<unsigned>(error));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) pause();
}
