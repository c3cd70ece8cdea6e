// The lstr* helpers and wsprintfA/wvsprintfA: the Windows formatter, which
// knows integers, characters and strings (no floating point) and never writes
// more than 1024 bytes, terminating NUL included.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

constexpr size_t kWsprintfLimit = 1024;

class Output {
 public:
  explicit Output(char *out) : out_(out) {}
  void Put(char c) {
    if (n_ + 1 < kWsprintfLimit) out_[n_++] = c;
  }
  void Put(const char *s, size_t len) {
    for (size_t i = 0; i < len; ++i) Put(s[i]);
  }
  int Finish() {
    out_[n_] = '\0';
    return static_cast<int>(n_);
  }

 private:
  char *out_;
  size_t n_ = 0;
};

struct Spec {
  bool left = false, alt = false, zero = false;
  size_t width = 0;
  int precision = -1;
};

void PutField(Output &out, const Spec &spec, const std::string &prefix, const std::string &body, bool numeric) {
  size_t len = prefix.size() + body.size();
  size_t pad = spec.width > len ? spec.width - len : 0;
  if (!spec.left && !(spec.zero && numeric))
    for (size_t i = 0; i < pad; ++i) out.Put(' ');
  out.Put(prefix.data(), prefix.size());
  if (!spec.left && spec.zero && numeric)
    for (size_t i = 0; i < pad; ++i) out.Put('0');
  out.Put(body.data(), body.size());
  if (spec.left)
    for (size_t i = 0; i < pad; ++i) out.Put(' ');
}

std::string Digits(ULONGLONG v, unsigned base, bool upper, int precision) {
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char buf[kWsprintfLimit + 24];
  size_t n = 0;
  do {
    buf[n++] = set[v % base];
    v /= base;
  } while (v);
  if (precision == 0 && n == 1 && buf[0] == '0') n = 0;
  while (precision > 0 && n < static_cast<size_t>(precision) && n < kWsprintfLimit) buf[n++] = '0';
  std::reverse(buf, buf + n);
  return std::string(buf, n);
}

int Format(char *dest, const char *fmt, va_list ap) {
  Output out(dest);
  for (const char *p = fmt; *p; ++p) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    const char *start = p++;
    Spec spec;
    for (;; ++p) {
      if (*p == '-')
        spec.left = true;
      else if (*p == '#')
        spec.alt = true;
      else if (*p == '0')
        spec.zero = true;
      else
        break;
    }
    while (std::isdigit(static_cast<unsigned char>(*p)) && spec.width < kWsprintfLimit)
      spec.width = spec.width * 10 + static_cast<size_t>(*p++ - '0');
    while (std::isdigit(static_cast<unsigned char>(*p))) ++p;  // widths past the limit change nothing
    if (*p == '.') {
      spec.precision = 0;
      for (++p; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        if (spec.precision < static_cast<int>(kWsprintfLimit)) spec.precision = spec.precision * 10 + (*p - '0');
    }
    bool is64 = false;
    if (*p == 'l' || *p == 'h' || *p == 'w') {
      ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      is64 = true;
      p += 3;
    }
    switch (*p) {
      case 'd':
      case 'i': {
        LONGLONG v = is64 ? va_arg(ap, LONGLONG) : va_arg(ap, int);
        ULONGLONG mag = v < 0 ? 0 - static_cast<ULONGLONG>(v) : static_cast<ULONGLONG>(v);
        PutField(out, spec, v < 0 ? "-" : "", Digits(mag, 10, false, spec.precision), true);
        break;
      }
      case 'u': {
        ULONGLONG v = is64 ? va_arg(ap, ULONGLONG) : va_arg(ap, unsigned);
        PutField(out, spec, "", Digits(v, 10, false, spec.precision), true);
        break;
      }
      case 'x':
      case 'X': {
        ULONGLONG v = is64 ? va_arg(ap, ULONGLONG) : va_arg(ap, unsigned);
        std::string prefix = spec.alt && v ? (*p == 'x' ? "0x" : "0X") : "";
        PutField(out, spec, prefix, Digits(v, 16, *p == 'X', spec.precision), true);
        break;
      }
      case 'p': {
        auto v = reinterpret_cast<UINT_PTR>(va_arg(ap, void *));
        PutField(out, spec, "", Digits(v, 16, true, 8), true);
        break;
      }
      case 'c':
      case 'C': {
        char c = static_cast<char>(va_arg(ap, int));
        PutField(out, spec, "", std::string(1, c), false);
        break;
      }
      case 's':
      case 'S': {
        const char *s = va_arg(ap, const char *);
        if (!s) s = "(null)";
        size_t len = spec.precision >= 0 ? strnlen(s, static_cast<size_t>(spec.precision)) : std::strlen(s);
        if (len > kWsprintfLimit) len = kWsprintfLimit;
        PutField(out, spec, "", std::string(s, len), false);
        break;
      }
      case '\0':
        // A lone '%' at the end: kept as written.
        out.Put(start, static_cast<size_t>(p - start));
        return out.Finish();
      default:
        // Unknown conversions print their character ("%%" gives "%").
        out.Put(*p);
        break;
    }
  }
  return out.Finish();
}

}  // namespace

extern "C" {

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  return std::strcpy(dst, src);
}

// Copies at most max-1 characters and always terminates (max counts the NUL).
LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
  if (!dst || !src || max <= 0) return dst;
  size_t n = strnlen(src, static_cast<size_t>(max) - 1);
  std::memmove(dst, src, n);
  dst[n] = '\0';
  return dst;
}

LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  return std::strcat(dst, src);
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
  if (!a || !b) return a ? 1 : b ? -1 : 0;
  int r = std::strcmp(a, b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (!a || !b) return a ? 1 : b ? -1 : 0;
  int r = strcasecmp(a, b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int wvsprintfA(LPSTR out, LPCSTR fmt, va_list ap) {
  if (!out || !fmt) return -1;
  va_list copy;
  va_copy(copy, ap);
  int n = Format(out, fmt, copy);
  va_end(copy);
  return n;
}

int wsprintfA(LPSTR out, LPCSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = wvsprintfA(out, fmt, ap);
  va_end(ap);
  return n;
}

}  // extern "C"
