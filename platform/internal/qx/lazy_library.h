// A Debian library the layer loads on first use instead of at start, for the
// calls only some processes make (the registry's SQLite, the display's and
// sound's SDL2): the processes that never make them do not map the library
// and the ones it pulls in. The forwarders that take the place of the
// library's own functions bind each name once through QX_LAZY_CALL.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <mutex>

namespace qx {

class LazyLibrary {
 public:
  // user: what needs it, for the message when it is missing ("the registry").
  constexpr LazyLibrary(const char *soname, const char *user, const char *package)
      : soname_(soname), user_(user), package_(package) {}

  // The library's handle, loaded at the first call; null (said once on
  // standard error) when it cannot be loaded.
  void *Handle() {
    std::call_once(once_, [this] {
      handle_ = dlopen(soname_, RTLD_NOW | RTLD_LOCAL);
      if (!handle_)
        std::fprintf(stderr, "qx: %s needs %s, which could not be loaded (%s); install %s\n", user_, soname_, dlerror(),
                     package_);
    });
    return handle_;
  }
  template <typename F>
  F Bind(const char *name) {
    void *handle = Handle();
    return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
  }

 private:
  const char *soname_, *user_, *package_;
  std::once_flag once_;
  void *handle_ = nullptr;
};

}  // namespace qx

// The function `name` of `library` (a qx::LazyLibrary), bound once; null when
// the library or the name is missing.
#define QX_LAZY_CALL(library, name)                                     \
  ([] {                                                                 \
    static const auto bound = (library).Bind<decltype(&::name)>(#name); \
    return bound;                                                       \
  }())
