// MessageBoxA without a display: the caption and text go to standard error
// and to the layer's trace, and the box answers at once, never waiting for
// anyone. The answer is the box's default button, unless QX_MSGBOX_ANSWER
// (IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO or a number) or an
// in-process hook names one of the buttons the box offers. A display part
// shows a real box instead through DisplayHooks::MessageBox.
#include <windows.h>

#include "qx/env.h"
#include "qx/window.h"

#include <atomic>
#include <dlfcn.h>
#include <string>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace qx {
namespace {

std::atomic<MessageBoxAnswerHook> g_answer_hook{nullptr};

struct AnswerName {
  const char *name;
  int id;
};
constexpr AnswerName kAnswers[] = {
    {"IDOK", IDOK},         {"IDCANCEL", IDCANCEL}, {"IDABORT", IDABORT}, {"IDRETRY", IDRETRY},
    {"IDIGNORE", IDIGNORE}, {"IDYES", IDYES},       {"IDNO", IDNO},
};

// Buttons of each box type, in their order on the box.
std::vector<int> Buttons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

int ParseAnswer(const char *text) {
  if (!text || !*text) return 0;
  for (const auto &a : kAnswers)
    if (strcasecmp(a.name, text) == 0) return a.id;
  char *end = nullptr;
  long v = std::strtol(text, &end, 10);
  return end && *end == '\0' && v > 0 && v < 100 ? static_cast<int>(v) : 0;
}

}  // namespace

void SetMessageBoxAnswerHook(MessageBoxAnswerHook hook) { g_answer_hook = hook; }

}  // namespace qx

using namespace qx;

extern "C" {

int WINAPI MessageBoxA(HWND hwnd, LPCSTR text, LPCSTR caption, UINT type) {
  if (int shown = Display().MessageBox(hwnd, text, caption, type)) return shown;
  const char *t = text ? text : "";
  const char *c = caption ? caption : "Error";
  std::fprintf(stderr, "[%s] %s\n", c, t);
  std::fflush(stderr);
  Trace("MessageBox [%s] %s (type 0x%x)", c, t, type);

  const std::vector<int> buttons = Buttons(type);
  size_t def = ((type & MB_DEFMASK) >> 8);
  int answer = buttons[def < buttons.size() ? def : 0];
  int scripted = 0;
  if (auto hook = g_answer_hook.load()) scripted = hook(hwnd, text, caption, type);
  if (!scripted) scripted = ParseAnswer(std::getenv("QX_MSGBOX_ANSWER"));
  for (int b : buttons)
    if (b == scripted) answer = scripted;  // only a button the box has can be the answer
  return answer;
}

// The sound library plays the system sounds; it is loaded on the first beep
// (from beside this library) when the program has not linked it already, so
// programs that never beep never load SDL's audio.
BOOL WINAPI MessageBeep(UINT type) {
  Trace("MessageBeep %#x", type);
  using Beep = BOOL (*)(UINT);
  static const Beep beep = [] {
    void *lib = dlopen("libqxwinmm.so", RTLD_NOW | RTLD_NOLOAD);
    Dl_info self{};
    if (!lib && dladdr(reinterpret_cast<void *>(&MessageBeep), &self) && self.dli_fname) {
      std::string dir(self.dli_fname);
      dir.erase(dir.find_last_of('/') + 1);
      lib = dlopen((dir + "libqxwinmm.so").c_str(), RTLD_NOW);
    }
    return lib ? reinterpret_cast<Beep>(dlsym(lib, "qxwinmm_MessageBeep")) : nullptr;
  }();
  return beep ? beep(type) : TRUE;
}

}  // extern "C"
