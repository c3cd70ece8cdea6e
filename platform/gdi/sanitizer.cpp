// Leak-checker suppressions for the font libraries' process-wide caches
// (fontconfig's configuration and cairo's font cache are kept until exit by
// design), so that sanitizer builds report only leaks of our own.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libcairo.so\nleak:libfreetype.so\nleak:libdbus-1.so\nleak:libSDL2\nleak:libX11."
         "so\nleak:libxcb.so\n";
}
#endif
