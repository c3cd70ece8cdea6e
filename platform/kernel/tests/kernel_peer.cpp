// Helper process for the kernel tests: opens a named event of the parent
// and sets it, or waits for it.
//   kernel_peer set-event NAME    exit 0 when the event was opened and set
//   kernel_peer wait-event NAME   exit 0 when the event was signalled within 10 s
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  HANDLE event = OpenEventA(EVENT_ALL_ACCESS, FALSE, argv[2]);
  if (!event) {
    std::printf("open failed %u\n", static_cast<unsigned>(GetLastError()));
    return 3;
  }
  std::printf("opened\n");
  std::fflush(stdout);
  int rc = 2;
  if (std::strcmp(argv[1], "set-event") == 0) rc = SetEvent(event) ? 0 : 4;
  if (std::strcmp(argv[1], "wait-event") == 0) rc = WaitForSingleObject(event, 10000) == WAIT_OBJECT_0 ? 0 : 5;
  CloseHandle(event);
  return rc;
}
