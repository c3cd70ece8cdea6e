// Second process for the mapping tests. Usage:
//   memory_mapping_peer open NAME           print the first bytes, write "peer" at offset 100
//   memory_mapping_peer create NAME SIZE    print "new" or "exists" and the first bytes
//   memory_mapping_peer hold NAME           open, print "held", keep it until stdin closes
//   memory_mapping_peer die NAME            create with "dead" inside, then get killed
//   memory_mapping_peer churn NAME COUNT    COUNT times: create, check, mark, close; print "ok"
#include <windows.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  const char *verb = argv[1];
  const char *name = argv[2];
  if (std::strcmp(verb, "churn") == 0) {
    // Every view shows either a fresh zeroed object or one holding the
    // marker that every holder writes: never anything else.
    const int count = argc > 3 ? std::atoi(argv[3]) : 100;
    for (int i = 0; i < count; ++i) {
      HANDLE m = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name);
      if (!m) {
        std::printf("create error %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
      }
      char *v = static_cast<char *>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0));
      if (!v || (v[0] != 0 && std::strcmp(v, "marker") != 0)) {
        std::printf("bad view\n");
        return 1;
      }
      std::memcpy(v, "marker", 7);
      UnmapViewOfFile(v);
      CloseHandle(m);
    }
    std::printf("ok\n");
    return 0;
  }
  HANDLE h = nullptr;
  bool existed = false;
  if (std::strcmp(verb, "create") == 0 || std::strcmp(verb, "die") == 0) {
    const DWORD size = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 4096;
    h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    existed = GetLastError() == ERROR_ALREADY_EXISTS;
  } else {
    h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  }
  if (!h) {
    std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  char *view = static_cast<char *>(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!view) {
    std::printf("map error %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  if (std::strcmp(verb, "open") == 0) {
    std::printf("%.20s\n", view);
    std::memcpy(view + 100, "peer", 5);
  } else if (std::strcmp(verb, "create") == 0) {
    std::printf("%s %.20s\n", existed ? "exists" : "new", view);
  } else if (std::strcmp(verb, "hold") == 0) {
    std::printf("held\n");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
  } else if (std::strcmp(verb, "die") == 0) {
    std::memcpy(view, "dead", 5);
    std::printf("dying\n");
    std::fflush(stdout);
    raise(SIGKILL);
  }
  std::fflush(stdout);
  UnmapViewOfFile(view);
  CloseHandle(h);
  return 0;
}
