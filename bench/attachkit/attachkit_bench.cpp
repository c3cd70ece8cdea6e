// Times one call of attachkit, loaded by name as the mail client loads it:
//   attachkit_bench decode MESSAGE PART_START PART_END MAILDIR
//     ProcessMime on an image/png part in show mode (decoded into MAILDIR; the
//     desktop's viewer is whatever WIN.INI [Shell] Open= names)
//   attachkit_bench encode FILE OUT
//     SendMime of FILE into OUT
// and prints "seconds max-resident-kilobytes".
#include <windows.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "attachkit.h"

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: attachkit_bench decode MESSAGE START END MAILDIR | encode FILE OUT\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(ATTACHKIT_MODULE);
  if (!module) {
    std::fprintf(stderr, "attachkit_bench: attachkit.DLL not found beside the program\n");
    return 1;
  }
  auto proc = [&](const char *name) { return reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)); };
  const std::string mode = argv[1];
  const auto start = std::chrono::steady_clock::now();
  int result = -1;
  if (mode == "decode" && argc == 6) {
    auto processMime = reinterpret_cast<PROCESSMIME>(proc("ProcessMime"));
    HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    result = processMime(file, std::atoi(argv[3]), static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), argv[5],
                         "bench@example.org", MIME_MODE_SHOW, nullptr) == MIME_HANDLED
                 ? 0
                 : 1;
    CloseHandle(file);
  } else if (mode == "encode") {
    auto sendMime = reinterpret_cast<SENDMIME>(proc("SendMime"));
    HANDLE out = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 1;
    result = sendMime(out, argv[2], MIME_ATTACH_FILE);
    CloseHandle(out);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%.3f %ld\n", seconds, usage.ru_maxrss);
  return result == 0 ? 0 : 1;
}
