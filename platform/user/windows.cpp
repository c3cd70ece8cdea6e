// Window classes and windows: creation and destruction, window and class
// longs, properties, the window tree, text, show state, position, focus and
// the update region. Windows of other processes are reached through the
// machine-wide window registry (window_registry.cpp) for the calls that make sense across
// processes (IsWindow, FindWindowA, GetWindowTextA, GetClassNameA,
// GetWindowThreadProcessId, EnumWindows, PostMessageA).
#include <windows.h>

#include "qx/env.h"
#include "qx/process.h"
#include "user_internal.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qx {
namespace {

struct Tables {
  std::map<std::string, std::shared_ptr<WindowClass>> classes;  // key: lower-case name
  std::map<HWND, std::shared_ptr<Window>> windows;
  std::vector<HWND> creation_order;
  std::vector<HWND> top_level;  // z-order, topmost first
  ATOM next_atom = 0xC000;
  HWND focus = nullptr, active = nullptr, capture = nullptr;
};

Tables &T() {
  static auto *t = new Tables;  // never destroyed: windows may outlive static destructors
  return *t;
}

DisplayHooks g_default_hooks;
DisplayHooks *g_hooks = &g_default_hooks;

std::string Lower(const char *s) {
  std::string out(s ? s : "");
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Window procedures handed out as 32-bit LONG values (GetWindowLongA) would
// lose their upper half; they travel as tokens that CallWindowProcA and
// SetWindowLong(Ptr)A turn back into the procedure.
constexpr LONG_PTR kProcTokenBase = static_cast<LONG_PTR>(static_cast<LONG>(0xFFFF0000u));
std::vector<WNDPROC> &ProcTokens() {
  static auto *v = new std::vector<WNDPROC>;
  return *v;
}

LONG ProcToken(WNDPROC proc) {
  if (!proc) return 0;
  std::lock_guard guard(WindowLock());
  auto &v = ProcTokens();
  auto it = std::find(v.begin(), v.end(), proc);
  size_t index = it == v.end() ? (v.push_back(proc), v.size() - 1) : static_cast<size_t>(it - v.begin());
  return static_cast<LONG>(kProcTokenBase + static_cast<LONG_PTR>(index));
}

WNDPROC ProcFromValue(LONG_PTR value) {
  if (value >= kProcTokenBase && value < kProcTokenBase + 0xFFFF) {
    std::lock_guard guard(WindowLock());
    size_t index = static_cast<size_t>(value - kProcTokenBase);
    return index < ProcTokens().size() ? ProcTokens()[index] : nullptr;
  }
  return reinterpret_cast<WNDPROC>(value);
}

std::shared_ptr<WindowClass> FindClass(LPCSTR name) {
  auto &t = T();
  if (!name) return nullptr;
  if (IS_INTRESOURCE(name)) {
    ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(name));
    for (auto &[key, cls] : t.classes)
      if (cls->atom == atom) return cls;
    return nullptr;
  }
  auto it = t.classes.find(Lower(name));
  return it == t.classes.end() ? nullptr : it->second;
}

bool IsStandardClassName(LPCSTR name) {
  if (!name || IS_INTRESOURCE(name)) return false;
  static const char *const kNames[] = {"button",   "static",    "edit",      "listbox",
                                       "combobox", "scrollbar", "mdiclient", "#32770"};
  const std::string lower = Lower(name);
  return std::any_of(std::begin(kNames), std::end(kNames), [&](const char *n) { return lower == n; });
}

// Loads the drawing half (beside the core) and has it register the standard classes; false when it cannot. Never
// called with the window lock held: loading runs the library's initializers.
bool RegisterStandardClassesOnDemand() {
  static std::mutex lock;
  std::lock_guard guard(lock);
  static void *library = nullptr;
  if (!library) {
    // Beside the core first (named by its own path: an interposed dlopen, as
    // under the address sanitizer, would not search the core's run path),
    // then wherever the loader finds it.
    Dl_info self{};
    if (dladdr(reinterpret_cast<void *>(&RegisterStandardClassesOnDemand), &self) && self.dli_fname) {
      std::string path = self.dli_fname;
      const size_t slash = path.rfind('/');
      path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + kDrawLibrary;
      library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    }
    if (!library) library = dlopen(kDrawLibrary, RTLD_NOW | RTLD_GLOBAL);
  }
  if (!library) {
    static bool told = false;
    if (!told)
      std::fprintf(stderr,
                   "qx: the standard window classes (Edit, Button, ...) are in %s, which could not be loaded (%s); "
                   "install it beside libqxplatform.so\n",
                   kDrawLibrary, dlerror());
    told = true;
    return false;
  }
  auto entry = reinterpret_cast<void (*)()>(dlsym(library, kRegisterStandardClasses));
  if (!entry) return false;
  entry();
  return true;
}

// FindClass for a class about to be used: a standard class not yet there is
// registered on demand.
std::shared_ptr<WindowClass> ClassForUse(LPCSTR name) {
  {
    std::lock_guard guard(WindowLock());
    if (auto c = FindClass(name)) return c;
  }
  if (!IsStandardClassName(name) || !RegisterStandardClassesOnDemand()) return nullptr;
  std::lock_guard guard(WindowLock());
  return FindClass(name);
}

bool IsSameThreadWindow(const Window &w) { return w.tid == GetCurrentThreadId(); }

std::vector<HWND> *SiblingList(Window &w) {
  if (!w.parent) return &T().top_level;
  auto p = T().windows.find(w.parent);
  return p == T().windows.end() ? nullptr : &p->second->children;
}

void Unlink(Window &w) {
  if (auto *list = SiblingList(w)) std::erase(*list, w.hwnd);
}

// Sends to a window of this process whatever its thread (the common path of
// SendMessageA for local windows).
// The procedure and thread of a window of this process, read under one hold
// of the lock (a list filled row by row sends thousands of messages); false
// when the handle names no window of this process.
bool LocalTarget(HWND hwnd, WNDPROC *proc, DWORD *tid) {
  std::lock_guard guard(WindowLock());
  auto it = T().windows.find(hwnd);
  if (!hwnd || it == T().windows.end()) return false;
  *proc = it->second->proc;
  *tid = it->second->tid;
  return true;
}

LRESULT Deliver(HWND hwnd, WNDPROC proc, DWORD tid, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (tid == GetCurrentThreadId()) return CallProc(proc, hwnd, msg, wparam, lparam);
  LRESULT result = 0;
  SendAcrossThreads(tid, hwnd, msg, wparam, lparam, INFINITE, &result, false);
  return result;
}

LRESULT SendLocal(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  WNDPROC proc;
  DWORD tid;
  if (!LocalTarget(hwnd, &proc, &tid)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  return Deliver(hwnd, proc, tid, msg, wparam, lparam);
}

void Notify(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) { SendLocal(hwnd, msg, wparam, lparam); }

RECT ClientSize(const Window &w) { return RECT{0, 0, w.client.right - w.client.left, w.client.bottom - w.client.top}; }

// Screen position of the client area's top-left corner.
POINT ClientOrigin(HWND hwnd) {
  POINT p{0, 0};
  std::lock_guard guard(WindowLock());
  for (auto w = FindLocalWindow(hwnd); w; w = w->parent ? FindLocalWindow(w->parent) : nullptr) {
    p.x += w->rect.left + w->client.left;
    p.y += w->rect.top + w->client.top;
  }
  return p;
}

void ResetClient(Window &w) {
  // Without a display there is no frame: the client area is the whole window.
  w.client = RECT{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top};
  Display().AdjustClient(w);  // a display takes out the frame, caption and scroll bars
}

bool Visible(const Window &w) {
  if (!(w.style & WS_VISIBLE)) return false;
  return !w.parent || [&] {
    auto p = FindLocalWindow(w.parent);
    return p && Visible(*p);
  }();
}

void SendSizeMove(HWND hwnd, WPARAM size_type) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return;
  RECT c, r;
  {
    std::lock_guard guard(WindowLock());
    c = ClientSize(*w);
    r = w->rect;
  }
  Notify(hwnd, WM_SIZE, size_type, MAKELPARAM(c.right, c.bottom));
  Notify(hwnd, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
}

// The messages and bookkeeping of destruction for one window and its subtree.
void DestroyTree(HWND hwnd);

void FinishRemoval(HWND hwnd) {
  std::shared_ptr<Window> w;
  {
    std::lock_guard guard(WindowLock());
    auto &t = T();
    auto it = t.windows.find(hwnd);
    if (it == t.windows.end()) return;
    w = it->second;
    Unlink(*w);
    t.windows.erase(it);
    std::erase(t.creation_order, hwnd);
    if (w->cls) --w->cls->windows;
    if (t.focus == hwnd) t.focus = nullptr;
    if (t.active == hwnd) t.active = nullptr;
    if (t.capture == hwnd) t.capture = nullptr;
  }
  ForgetWindowMessages(hwnd, w->tid);
  UnregisterWindowValue(hwnd);
  Display().Destroyed(hwnd);
}

void DestroyTree(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return;
  std::vector<HWND> children;
  {
    std::lock_guard guard(WindowLock());
    if (w->destroying) return;
    w->destroying = true;
    w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    children = w->children;
  }
  // WM_DESTROY goes to the parent before its children; WM_NCDESTROY to the
  // children before their parent, so a parent's data outlives its children.
  Notify(hwnd, WM_DESTROY, 0, 0);
  for (HWND c : children) DestroyTree(c);
  Notify(hwnd, WM_NCDESTROY, 0, 0);
  FinishRemoval(hwnd);
}

LONG_PTR ReadExtra(const std::vector<BYTE> &extra, int index, size_t size, bool &ok) {
  ok = index >= 0 && static_cast<size_t>(index) + size <= extra.size();
  if (!ok) return 0;
  if (size == sizeof(LONG)) {
    LONG v;
    std::memcpy(&v, extra.data() + index, sizeof v);
    return v;
  }
  if (size == sizeof(WORD)) {
    WORD v;
    std::memcpy(&v, extra.data() + index, sizeof v);
    return v;
  }
  LONG_PTR v;
  std::memcpy(&v, extra.data() + index, sizeof v);
  return v;
}

LONG_PTR WriteExtra(std::vector<BYTE> &extra, int index, size_t size, LONG_PTR value, bool &ok) {
  LONG_PTR old = ReadExtra(extra, index, size, ok);
  if (!ok) return 0;
  if (size == sizeof(LONG)) {
    LONG v = static_cast<LONG>(value);
    std::memcpy(extra.data() + index, &v, sizeof v);
  } else if (size == sizeof(WORD)) {
    WORD v = static_cast<WORD>(value);
    std::memcpy(extra.data() + index, &v, sizeof v);
  } else {
    std::memcpy(extra.data() + index, &value, sizeof value);
  }
  return old;
}

// Get/SetWindowLong of every index but the procedure, looked up and read
// under one hold of the lock (controls read their style on every message).
LONG_PTR WindowField(HWND hwnd, int index, bool set, LONG_PTR value, size_t size, bool wide) {
  std::lock_guard guard(WindowLock());
  auto it = T().windows.find(hwnd);
  if (!hwnd || it == T().windows.end()) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  Window *w = it->second.get();
  SetLastError(ERROR_SUCCESS);
  LONG_PTR old = 0;
  switch (index) {
    case GWL_HINSTANCE:
      old = reinterpret_cast<LONG_PTR>(w->instance);
      if (set) w->instance = reinterpret_cast<HINSTANCE>(value);
      break;
    case GWL_HWNDPARENT:
      old = reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
      if (set && !w->parent) w->owner = reinterpret_cast<HWND>(value);
      break;
    case GWL_STYLE:
      old = static_cast<LONG>(w->style);
      if (set) w->style = static_cast<DWORD>(value);
      break;
    case GWL_EXSTYLE:
      old = static_cast<LONG>(w->ex_style);
      if (set) w->ex_style = static_cast<DWORD>(value);
      break;
    case GWL_USERDATA:
      old = w->user_data;
      if (set) w->user_data = wide ? value : static_cast<LONG>(value);
      if (!wide) old = static_cast<LONG>(old);
      break;
    case GWL_ID:
      old = reinterpret_cast<LONG_PTR>(w->menu);
      if (set) w->menu = reinterpret_cast<HMENU>(value);
      break;
    default: {
      bool ok;
      old = set ? WriteExtra(w->extra, index, size, value, ok) : ReadExtra(w->extra, index, size, ok);
      if (!ok) return SetLastError(ERROR_INVALID_INDEX), 0;
    }
  }
  return old;
}

// Get/SetWindowLong for every width: size is the width of the value for
// extra bytes, and wide tells whether procedures travel as real pointers.
LONG_PTR WindowLong(HWND hwnd, int index, bool set, LONG_PTR value, size_t size, bool wide) {
  if (index != GWL_WNDPROC) return WindowField(hwnd, index, set, value, size, wide);
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  SetLastError(ERROR_SUCCESS);
  WNDPROC old;
  {
    std::lock_guard guard(WindowLock());
    old = w->proc;
    if (set) {
      WNDPROC proc = ProcFromValue(value);
      if (!proc) return SetLastError(ERROR_INVALID_PARAMETER), 0;
      w->proc = proc;
    }
  }
  return wide ? reinterpret_cast<LONG_PTR>(old) : ProcToken(old);
}

LONG_PTR ClassLong(HWND hwnd, int index, bool set, LONG_PTR value, bool wide) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  std::lock_guard guard(WindowLock());
  WindowClass &c = *w->cls;
  LONG_PTR old = 0;
  switch (index) {
    case GCL_WNDPROC:
      old = wide ? reinterpret_cast<LONG_PTR>(c.proc) : ProcToken(c.proc);
      if (set) c.proc = ProcFromValue(value);
      break;
    case GCL_STYLE:
      old = c.style;
      if (set) c.style = static_cast<UINT>(value);
      break;
    case GCL_HBRBACKGROUND:
      old = reinterpret_cast<LONG_PTR>(c.background);
      if (set) c.background = reinterpret_cast<HBRUSH>(value);
      break;
    case GCL_HCURSOR:
      old = reinterpret_cast<LONG_PTR>(c.cursor);
      if (set) c.cursor = reinterpret_cast<HCURSOR>(value);
      break;
    case GCL_HICON:
      old = reinterpret_cast<LONG_PTR>(c.icon);
      if (set) c.icon = reinterpret_cast<HICON>(value);
      break;
    case GCL_HMODULE:
      old = reinterpret_cast<LONG_PTR>(c.instance);
      if (set) c.instance = reinterpret_cast<HINSTANCE>(value);
      break;
    case GCL_CBWNDEXTRA: old = c.wnd_extra; break;
    case GCL_CBCLSEXTRA: old = c.cls_extra; break;
    case GCL_MENUNAME: old = reinterpret_cast<LONG_PTR>(c.menu_name); break;
    case GCW_ATOM: old = c.atom; break;
    default: {
      bool ok;
      size_t size = wide ? sizeof(LONG_PTR) : sizeof(LONG);
      old = set ? WriteExtra(c.extra, index, size, value, ok) : ReadExtra(c.extra, index, size, ok);
      if (!ok) return SetLastError(ERROR_INVALID_INDEX), 0;
    }
  }
  return old;
}

std::string PropKey(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<UINT_PTR>(name));
  return Lower(name);
}

int CopyText(const std::string &text, LPSTR buf, int max) {
  if (!buf || max <= 0) return 0;
  size_t n = std::min(text.size(), static_cast<size_t>(max - 1));
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
  return static_cast<int>(n);
}

void Activate(HWND hwnd) {
  HWND old;
  {
    std::lock_guard guard(WindowLock());
    old = T().active;
    if (old == hwnd) return;
    T().active = hwnd;
  }
  if (old && FindLocalWindow(old)) Notify(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
  if (hwnd) Notify(hwnd, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
}

std::vector<HWND> TopLevelSnapshot(bool include_remote) {
  std::vector<HWND> out;
  {
    std::lock_guard guard(WindowLock());
    for (HWND h : T().top_level)
      if (!T().windows[h]->message_only) out.push_back(h);
  }
  if (include_remote)
    for (auto &[h, r] : RemoteWindows())
      if (r.top_level && !r.message_only) out.push_back(h);
  return out;
}

void CollectDescendants(HWND hwnd, std::vector<HWND> &out) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return;
  std::vector<HWND> children;
  {
    std::lock_guard guard(WindowLock());
    children = w->children;
  }
  for (HWND c : children) {
    out.push_back(c);
    CollectDescendants(c, out);
  }
}

constexpr UINT_PTR kDesktopValue = 0x10010;

}  // namespace

std::recursive_mutex &WindowLock() {
  static auto *lock = new std::recursive_mutex;
  return *lock;
}

std::shared_ptr<Window> FindLocalWindow(HWND hwnd) {
  if (!hwnd) return nullptr;
  std::lock_guard guard(WindowLock());
  auto it = T().windows.find(hwnd);
  return it == T().windows.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<Window>> LocalWindows() {
  std::lock_guard guard(WindowLock());
  std::vector<std::shared_ptr<Window>> out;
  for (HWND h : T().creation_order) out.push_back(T().windows[h]);
  return out;
}

void SetDisplayHooks(DisplayHooks *hooks) { g_hooks = hooks ? hooks : &g_default_hooks; }
DisplayHooks &Display() { return *g_hooks; }

namespace {
MenuBarHooks g_menu_bar_hooks;
}  // namespace
void SetMenuBarHooks(const MenuBarHooks &hooks) { g_menu_bar_hooks = hooks; }
const MenuBarHooks &MenuBar() { return g_menu_bar_hooks; }

void InvalidateWindow(HWND hwnd, const RECT *rect, bool erase) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return;
  DWORD tid;
  {
    std::lock_guard guard(WindowLock());
    if (!Visible(*w)) return;  // a hidden window has nothing to paint
    RECT area = ClientSize(*w);
    RECT r = rect ? *rect : area;
    r.left = std::max(r.left, area.left);
    r.top = std::max(r.top, area.top);
    r.right = std::min(r.right, area.right);
    r.bottom = std::min(r.bottom, area.bottom);
    if (r.left >= r.right || r.top >= r.bottom) return;
    RECT &u = w->update;
    if (u.left >= u.right || u.top >= u.bottom)
      u = r;
    else
      u = RECT{std::min(u.left, r.left), std::min(u.top, r.top), std::max(u.right, r.right),
               std::max(u.bottom, r.bottom)};
    w->update_erase = w->update_erase || erase;
    tid = w->tid;
  }
  // The window's own thread is not waiting while it runs this, and each of
  // its waits looks for windows to paint before blocking: only another
  // thread's invalidation needs to wake the queue.
  if (tid != GetCurrentThreadId())
    if (auto q = QueueOfThread(tid)) q->Wake();
  Display().Invalidated(hwnd);
}

bool TakeUpdateRegion(HWND hwnd, RECT &region, bool &erase) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return false;
  std::lock_guard guard(WindowLock());
  region = w->update;
  erase = w->update_erase;
  w->update = RECT{};
  w->update_erase = false;
  return region.left < region.right && region.top < region.bottom;
}

bool FindPaintWindow(DWORD tid, HWND filter, HWND &out) {
  std::lock_guard guard(WindowLock());
  for (HWND h : T().creation_order) {
    const Window &w = *T().windows[h];
    if (w.tid != tid || w.update.left >= w.update.right || w.update.top >= w.update.bottom) continue;
    if (filter && filter != h && !IsChild(filter, h)) continue;
    out = h;
    return true;
  }
  return false;
}

void DropWindowRecord(HWND hwnd) { FinishRemoval(hwnd); }

}  // namespace qx

using namespace qx;

extern "C" {

// ---- classes -----------------------------------------------------------------

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc || wc->cbClsExtra < 0 || wc->cbWndExtra < 0 ||
      wc->cbClsExtra > 40000 || wc->cbWndExtra > 40000) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string name = IS_INTRESOURCE(wc->lpszClassName)
                         ? "#" + std::to_string(reinterpret_cast<UINT_PTR>(wc->lpszClassName))
                         : std::string(wc->lpszClassName);
  std::lock_guard guard(WindowLock());
  auto &t = T();
  if (t.classes.count(Lower(name.c_str()))) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto c = std::make_shared<WindowClass>();
  c->atom = t.next_atom++;
  c->name = name;
  c->style = wc->style;
  c->proc = wc->lpfnWndProc;
  c->cls_extra = wc->cbClsExtra;
  c->wnd_extra = wc->cbWndExtra;
  c->instance = wc->hInstance;
  c->icon = wc->hIcon;
  c->icon_small = wc->hIconSm;
  c->cursor = wc->hCursor;
  c->background = wc->hbrBackground;
  c->menu_name = wc->lpszMenuName;
  c->extra.assign(static_cast<size_t>(wc->cbClsExtra), 0);
  t.classes[Lower(name.c_str())] = c;
  return c->atom;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA *wc) {
  if (!wc) return SetLastError(ERROR_INVALID_PARAMETER), 0;
  WNDCLASSEXA ex{sizeof ex, wc->style,   wc->lpfnWndProc,   wc->cbClsExtra,   wc->cbWndExtra,    wc->hInstance,
                 wc->hIcon, wc->hCursor, wc->hbrBackground, wc->lpszMenuName, wc->lpszClassName, nullptr};
  return RegisterClassExA(&ex);
}

BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE) {
  std::lock_guard guard(WindowLock());
  auto c = FindClass(name);
  if (!c) return SetLastError(ERROR_CLASS_DOES_NOT_EXIST), FALSE;
  if (c->windows > 0) return SetLastError(ERROR_CLASS_HAS_WINDOWS), FALSE;
  T().classes.erase(Lower(c->name.c_str()));
  return TRUE;
}

BOOL WINAPI GetClassInfoExA(HINSTANCE, LPCSTR name, LPWNDCLASSEXA out) {
  auto c = ClassForUse(name);
  if (!c || !out) return SetLastError(ERROR_CLASS_DOES_NOT_EXIST), FALSE;
  std::lock_guard guard(WindowLock());
  *out = WNDCLASSEXA{sizeof *out, c->style,  c->proc,       c->cls_extra, c->wnd_extra, c->instance,
                     c->icon,     c->cursor, c->background, c->menu_name, name,         c->icon_small};
  return c->atom;
}

BOOL WINAPI GetClassInfoA(HINSTANCE inst, LPCSTR name, LPWNDCLASSA out) {
  WNDCLASSEXA ex;
  if (!out || !GetClassInfoExA(inst, name, &ex)) return FALSE;
  *out = WNDCLASSA{ex.style, ex.lpfnWndProc, ex.cbClsExtra,    ex.cbWndExtra,   ex.hInstance,
                   ex.hIcon, ex.hCursor,     ex.hbrBackground, ex.lpszMenuName, ex.lpszClassName};
  return TRUE;
}

DWORD WINAPI GetClassLongA(HWND h, int i) { return static_cast<DWORD>(ClassLong(h, i, false, 0, false)); }
DWORD WINAPI SetClassLongA(HWND h, int i, LONG v) { return static_cast<DWORD>(ClassLong(h, i, true, v, false)); }
ULONG_PTR WINAPI GetClassLongPtrA(HWND h, int i) { return static_cast<ULONG_PTR>(ClassLong(h, i, false, 0, true)); }
ULONG_PTR WINAPI SetClassLongPtrA(HWND h, int i, LONG_PTR v) {
  return static_cast<ULONG_PTR>(ClassLong(h, i, true, v, true));
}

int WINAPI GetClassNameA(HWND hwnd, LPSTR buf, int max) {
  if (auto w = FindLocalWindow(hwnd)) {
    std::lock_guard guard(WindowLock());
    return CopyText(w->cls->name, buf, max);
  }
  RemoteWindow r;
  if (LookupRemoteWindow(hwnd, r)) return CopyText(r.class_name, buf, max);
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

// ---- creation and destruction ---------------------------------------------------

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  auto w = std::make_shared<Window>();
  w->cls = ClassForUse(class_name);
  if (!w->cls) return SetLastError(ERROR_CANNOT_FIND_WND_CLASS), nullptr;
  const bool message_only = parent == HWND_MESSAGE;
  if (message_only) parent = nullptr;
  if ((style & WS_CHILD) && !parent) return SetLastError(ERROR_TLW_WITH_WSCHILD), nullptr;
  if (parent && !FindLocalWindow(parent)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;

  w->tid = GetCurrentThreadId();
  w->proc = w->cls->proc;
  w->style = style & ~static_cast<DWORD>(WS_VISIBLE);  // WS_VISIBLE is applied after WM_CREATE
  w->ex_style = ex_style;
  w->title = title && !IS_INTRESOURCE(title) ? title : "";
  w->message_only = message_only;
  if (style & WS_CHILD)
    w->parent = parent;
  else
    w->owner = parent;
  w->menu = menu;
  w->instance = instance;
  w->extra.assign(static_cast<size_t>(w->cls->wnd_extra), 0);
  // Default placement: top-level windows cascade from a fixed corner; a child
  // given CW_USEDEFAULT gets an empty rectangle.
  const bool child = (style & WS_CHILD) != 0;
  if (x == CW_USEDEFAULT) x = child ? 0 : 32, y = child ? 0 : 32;
  if (width == CW_USEDEFAULT) width = child ? 0 : 640, height = child ? 0 : 480;
  w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  w->normal_rect = w->rect;
  ResetClient(*w);

  w->hwnd = RegisterWindowValue(*w);
  if (!w->hwnd) return SetLastError(ERROR_NO_SYSTEM_RESOURCES), nullptr;
  HWND hwnd = w->hwnd;
  CurrentQueue();  // the creating thread owns the window and needs a queue
  EnsureMessageEndpoint();
  {
    std::lock_guard guard(WindowLock());
    auto &t = T();
    t.windows[hwnd] = w;
    t.creation_order.push_back(hwnd);
    ++w->cls->windows;
    // New top-level windows go on top; children are kept in creation order
    // (first created first), which is also the dialog tab order.
    if (w->parent)
      t.windows[w->parent]->children.push_back(hwnd);
    else
      t.top_level.insert(t.top_level.begin(), hwnd);
  }
  Display().Created(hwnd);

  CREATESTRUCTA cs{param, instance,   menu,    parent, height, width, y, x, static_cast<LONG>(style),
                   title, class_name, ex_style};
  if (!SendLocal(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    Notify(hwnd, WM_NCDESTROY, 0, 0);
    FinishRemoval(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (SendLocal(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!FindLocalWindow(hwnd)) return nullptr;  // destroyed from inside WM_CREATE
  {
    std::lock_guard guard(WindowLock());
    w->created = true;
  }
  SendSizeMove(hwnd, SIZE_RESTORED);
  if (child && !(ex_style & WS_EX_NOPARENTNOTIFY))
    Notify(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, reinterpret_cast<UINT_PTR>(menu)),
           reinterpret_cast<LPARAM>(hwnd));
  if (style & WS_VISIBLE) {
    int cmd = (style & WS_MINIMIZE) ? SW_SHOWMINIMIZED : (style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED : SW_SHOW;
    ShowWindow(hwnd, cmd);
  }
  return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  HWND parent;
  UINT_PTR id;
  bool notify_parent;
  {
    std::lock_guard guard(WindowLock());
    if (!IsSameThreadWindow(*w)) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
    if (w->destroying) return TRUE;
    parent = w->parent;
    id = reinterpret_cast<UINT_PTR>(w->menu);
    notify_parent = parent && !(w->ex_style & WS_EX_NOPARENTNOTIFY);
  }
  // Windows owned by this one go first.
  std::vector<HWND> owned;
  {
    std::lock_guard guard(WindowLock());
    for (HWND h : T().top_level)
      if (T().windows[h]->owner == hwnd) owned.push_back(h);
  }
  for (HWND h : owned) DestroyWindow(h);
  if (notify_parent) Notify(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, id), reinterpret_cast<LPARAM>(hwnd));
  DestroyTree(hwnd);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
  if (!hwnd) return FALSE;
  if (reinterpret_cast<UINT_PTR>(hwnd) == kDesktopValue) return TRUE;
  if (FindLocalWindow(hwnd)) return TRUE;
  RemoteWindow r;
  return LookupRemoteWindow(hwnd, r) ? TRUE : FALSE;
}

HWND WINAPI GetDesktopWindow(void) { return reinterpret_cast<HWND>(kDesktopValue); }

// ---- procedures and longs -----------------------------------------------------------

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  WNDPROC real = ProcFromValue(reinterpret_cast<LONG_PTR>(proc));
  return CallProc(real, hwnd, msg, wparam, lparam);
}

LONG WINAPI GetWindowLongA(HWND h, int i) { return static_cast<LONG>(WindowLong(h, i, false, 0, sizeof(LONG), false)); }
LONG WINAPI SetWindowLongA(HWND h, int i, LONG v) {
  return static_cast<LONG>(WindowLong(h, i, true, v, sizeof(LONG), false));
}
LONG_PTR WINAPI GetWindowLongPtrA(HWND h, int i) { return WindowLong(h, i, false, 0, sizeof(LONG_PTR), true); }
LONG_PTR WINAPI SetWindowLongPtrA(HWND h, int i, LONG_PTR v) {
  return WindowLong(h, i, true, v, sizeof(LONG_PTR), true);
}
WORD WINAPI GetWindowWord(HWND h, int i) { return static_cast<WORD>(WindowLong(h, i, false, 0, sizeof(WORD), false)); }
WORD WINAPI SetWindowWord(HWND h, int i, WORD v) {
  return static_cast<WORD>(WindowLong(h, i, true, v, sizeof(WORD), false));
}

BOOL WINAPI SetPropA(HWND hwnd, LPCSTR name, HANDLE data) {
  auto w = FindLocalWindow(hwnd);
  if (!w || !name) return SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE), FALSE;
  std::lock_guard guard(WindowLock());
  w->props[PropKey(name)] = data;
  return TRUE;
}

HANDLE WINAPI GetPropA(HWND hwnd, LPCSTR name) {
  auto w = FindLocalWindow(hwnd);
  if (!w || !name) return nullptr;
  std::lock_guard guard(WindowLock());
  auto it = w->props.find(PropKey(name));
  return it == w->props.end() ? nullptr : it->second;
}

HANDLE WINAPI RemovePropA(HWND hwnd, LPCSTR name) {
  auto w = FindLocalWindow(hwnd);
  if (!w || !name) return nullptr;
  std::lock_guard guard(WindowLock());
  auto it = w->props.find(PropKey(name));
  if (it == w->props.end()) return nullptr;
  HANDLE data = it->second;
  w->props.erase(it);
  return data;
}

// ---- the default procedure ---------------------------------------------------------

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  LRESULT hooked = 0;
  if (MenuBar().def_proc && MenuBar().def_proc(hwnd, msg, wparam, lparam, hooked)) return hooked;
  if (Display().DefWindowProc(hwnd, msg, wparam, lparam, hooked)) return hooked;
  auto w = FindLocalWindow(hwnd);
  switch (msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_PAINT: {
      RECT r;
      bool erase;
      TakeUpdateRegion(hwnd, r, erase);
      return 0;
    }
    case WM_SETTEXT: {
      if (!w) return FALSE;
      {
        std::lock_guard guard(WindowLock());
        const char *text = reinterpret_cast<const char *>(lparam);
        w->title = text ? text : "";
      }
      UpdateWindowRecord(*w);
      Display().TextChanged(hwnd);
      return TRUE;
    }
    case WM_GETTEXT: {
      if (!w) return 0;
      std::lock_guard guard(WindowLock());
      return CopyText(w->title, reinterpret_cast<LPSTR>(lparam),
                      static_cast<int>(std::min<WPARAM>(wparam, 0x7FFFFFFF)));
    }
    case WM_GETTEXTLENGTH: {
      if (!w) return 0;
      std::lock_guard guard(WindowLock());
      return static_cast<LRESULT>(w->title.size());
    }
    case WM_SYSCOMMAND:
      switch (wparam & 0xFFF0) {
        case SC_CLOSE: SendMessageA(hwnd, WM_CLOSE, 0, 0); break;
        case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); break;
        case SC_MAXIMIZE: ShowWindow(hwnd, SW_MAXIMIZE); break;
        case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); break;
        default: break;
      }
      return 0;
    case WM_SYSKEYDOWN:
      if (wparam == VK_F4 && (lparam & (1 << 29))) PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    case WM_ACTIVATE:
      // An activated window takes the keyboard focus unless it is minimised.
      if (LOWORD(wparam) != WA_INACTIVE && !IsIconic(hwnd)) SetFocus(hwnd);
      return 0;
    case WM_QUERYENDSESSION:
    case WM_QUERYOPEN:
    case WM_NCACTIVATE: return TRUE;
    case WM_MOUSEACTIVATE: return 1;  // MA_ACTIVATE
    case WM_NCHITTEST: return 1;      // HTCLIENT
    case WM_ERASEBKGND:
    case WM_ICONERASEBKGND: return 0;  // nothing erased without a display
    case WM_QUERYDRAGICON: return w ? reinterpret_cast<LRESULT>(w->cls->icon) : 0;
    default: return 0;
  }
}

// ---- text ---------------------------------------------------------------------------

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!FindLocalWindow(hwnd)) {
    SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buf, int max) {
  if (buf && max > 0) buf[0] = '\0';
  if (auto w = FindLocalWindow(hwnd)) {
    bool same_thread;
    {
      std::lock_guard guard(WindowLock());
      same_thread = IsSameThreadWindow(*w);
      // Another thread's window: read the text directly rather than block on
      // a thread that may be busy.
      if (!same_thread) return CopyText(w->title, buf, max);
    }
    if (!buf || max <= 0) return 0;
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(buf)));
  }
  RemoteWindow r;
  if (LookupRemoteWindow(hwnd, r)) return CopyText(r.title, buf, max);
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

int WINAPI GetWindowTextLengthA(HWND hwnd) {
  if (auto w = FindLocalWindow(hwnd)) {
    {
      std::lock_guard guard(WindowLock());
      if (!IsSameThreadWindow(*w)) return static_cast<int>(w->title.size());
    }
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
  }
  RemoteWindow r;
  if (LookupRemoteWindow(hwnd, r)) return static_cast<int>(r.title.size());
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

// ---- the tree ------------------------------------------------------------------------

HWND WINAPI FindWindowA(LPCSTR class_name, LPCSTR title) {
  std::string want_class;
  if (class_name && IS_INTRESOURCE(class_name)) {
    std::lock_guard guard(WindowLock());
    auto c = FindClass(class_name);
    if (!c) return nullptr;
    want_class = c->name;
  } else if (class_name) {
    want_class = class_name;
  }
  auto matches = [&](const std::string &cls, const std::string &text) {
    return (!class_name || strcasecmp(cls.c_str(), want_class.c_str()) == 0) &&
           (!title || strcasecmp(text.c_str(), title) == 0);
  };
  {
    std::lock_guard guard(WindowLock());
    for (HWND h : T().top_level) {
      const Window &w = *T().windows[h];
      if (!w.message_only && matches(w.cls->name, w.title)) return h;
    }
  }
  for (auto &[h, r] : RemoteWindows())
    if (r.top_level && !r.message_only && matches(r.class_name, r.title)) return h;
  return nullptr;
}

BOOL WINAPI IsChild(HWND parent, HWND hwnd) {
  std::lock_guard guard(WindowLock());
  for (auto w = FindLocalWindow(hwnd); w && w->parent; w = FindLocalWindow(w->parent))
    if (w->parent == parent) return TRUE;
  return FALSE;
}

HWND WINAPI GetParent(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;
  std::lock_guard guard(WindowLock());
  if (w->style & WS_CHILD) return w->parent;
  return (w->style & WS_POPUP) ? w->owner : nullptr;
}

HWND WINAPI SetParent(HWND hwnd, HWND new_parent) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;
  if (new_parent == HWND_MESSAGE) new_parent = nullptr;
  if (new_parent && (!FindLocalWindow(new_parent) || new_parent == hwnd || IsChild(hwnd, new_parent)))
    return SetLastError(ERROR_INVALID_PARAMETER), nullptr;
  HWND old;
  {
    std::lock_guard guard(WindowLock());
    old = w->parent;
    Unlink(*w);
    w->parent = new_parent;
    if (new_parent) {
      w->style |= WS_CHILD;
      T().windows[new_parent]->children.push_back(hwnd);
    } else {
      w->style &= ~static_cast<DWORD>(WS_CHILD);
      T().top_level.insert(T().top_level.begin(), hwnd);
    }
  }
  UpdateWindowRecord(*w);
  Display().Moved(hwnd);
  return old ? old : GetDesktopWindow();
}

HWND WINAPI GetWindow(HWND hwnd, UINT cmd) {
  auto w = FindLocalWindow(hwnd);
  if (!w) {
    // Siblings of another process's top-level window: walk the machine-wide list.
    RemoteWindow r;
    if (!LookupRemoteWindow(hwnd, r)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;
    if (cmd != GW_HWNDNEXT && cmd != GW_HWNDPREV && cmd != GW_HWNDFIRST && cmd != GW_HWNDLAST) return nullptr;
  }
  std::vector<HWND> siblings;
  HWND result = nullptr;
  {
    std::lock_guard guard(WindowLock());
    if (w && cmd == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
    if (w && cmd == GW_OWNER) return w->owner;
    if (w && w->parent) siblings = T().windows[w->parent]->children;
  }
  if (!w || !w->parent) siblings = TopLevelSnapshot(true);
  auto it = std::find(siblings.begin(), siblings.end(), hwnd);
  switch (cmd) {
    case GW_HWNDFIRST: result = siblings.empty() ? nullptr : siblings.front(); break;
    case GW_HWNDLAST: result = siblings.empty() ? nullptr : siblings.back(); break;
    case GW_HWNDNEXT: result = (it == siblings.end() || it + 1 == siblings.end()) ? nullptr : *(it + 1); break;
    case GW_HWNDPREV: result = (it == siblings.end() || it == siblings.begin()) ? nullptr : *(it - 1); break;
    default: SetLastError(ERROR_INVALID_PARAMETER); break;
  }
  return result;
}

HWND WINAPI GetTopWindow(HWND hwnd) {
  if (!hwnd) {
    auto top = TopLevelSnapshot(false);
    return top.empty() ? nullptr : top.front();
  }
  return GetWindow(hwnd, GW_CHILD);
}

BOOL WINAPI EnumWindows(WNDENUMPROC fn, LPARAM lparam) {
  if (!fn) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  for (HWND h : TopLevelSnapshot(true))
    if (!fn(h, lparam)) return FALSE;
  return TRUE;
}

BOOL WINAPI EnumChildWindows(HWND parent, WNDENUMPROC fn, LPARAM lparam) {
  if (!fn) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  std::vector<HWND> all;
  if (parent)
    CollectDescendants(parent, all);
  else
    all = TopLevelSnapshot(true);
  for (HWND h : all)
    if (IsWindow(h) && !fn(h, lparam)) return FALSE;
  return TRUE;
}

BOOL WINAPI EnumThreadWindows(DWORD tid, WNDENUMPROC fn, LPARAM lparam) {
  if (!fn) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  std::vector<HWND> mine;
  {
    std::lock_guard guard(WindowLock());
    for (HWND h : T().top_level)
      if (T().windows[h]->tid == tid) mine.push_back(h);
  }
  for (HWND h : mine)
    if (!fn(h, lparam)) return FALSE;
  return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, LPDWORD pid) {
  if (auto w = FindLocalWindow(hwnd)) {
    if (pid) *pid = static_cast<DWORD>(getpid());
    std::lock_guard guard(WindowLock());
    return w->tid;
  }
  RemoteWindow r;
  if (LookupRemoteWindow(hwnd, r)) {
    if (pid) *pid = static_cast<DWORD>(r.pid);
    return r.tid;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

HWND WINAPI GetDlgItem(HWND dlg, int id) {
  auto w = FindLocalWindow(dlg);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;
  std::lock_guard guard(WindowLock());
  for (HWND c : w->children)
    if (static_cast<int>(reinterpret_cast<UINT_PTR>(T().windows[c]->menu)) == id) return c;
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  std::lock_guard guard(WindowLock());
  return (w->style & WS_CHILD) ? static_cast<int>(reinterpret_cast<UINT_PTR>(w->menu)) : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM wparam, LPARAM lparam) {
  HWND item = GetDlgItem(dlg, id);
  return item ? SendMessageA(item, msg, wparam, lparam) : 0;
}

// ---- show state, position ---------------------------------------------------------------

BOOL WINAPI ShowWindow(HWND hwnd, int cmd) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  if (cmd < SW_HIDE || cmd > SW_MAX) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  // The first ShowWindow of the process shows as its starter asked (STARTUPINFO, WinExec).
  if (!GetParent(hwnd)) {
    if (const int startup = qx::TakeStartupShowState(); startup >= 0) cmd = startup;
  }
  const DWORD kMinMax = WS_MINIMIZE | WS_MAXIMIZE;
  bool was_visible, now_visible, size_changed;
  DWORD before;
  {
    std::lock_guard guard(WindowLock());
    before = w->style;
    DWORD style = before;
    switch (cmd) {
      case SW_HIDE: style &= ~static_cast<DWORD>(WS_VISIBLE); break;
      case SW_SHOWMINIMIZED:
      case SW_MINIMIZE:
      case SW_SHOWMINNOACTIVE: style = (style & ~kMinMax) | WS_MINIMIZE | WS_VISIBLE; break;
      case SW_SHOWMAXIMIZED: style = (style & ~kMinMax) | WS_MAXIMIZE | WS_VISIBLE; break;
      case SW_SHOWNORMAL:
      case SW_RESTORE:
      case SW_SHOWDEFAULT: style = (style & ~kMinMax) | WS_VISIBLE; break;
      default: style |= WS_VISIBLE; break;  // SW_SHOW, SW_SHOWNA, SW_SHOWNOACTIVATE keep min/max
    }
    if ((before & kMinMax) == 0 && (style & kMinMax)) w->normal_rect = w->rect;
    if ((before & kMinMax) && (style & kMinMax) == 0) {
      w->rect = w->normal_rect;
      ResetClient(*w);
    }
    w->style = style;
    w->show_state = cmd;
    was_visible = (before & WS_VISIBLE) != 0;
    now_visible = (style & WS_VISIBLE) != 0;
    size_changed = (before & kMinMax) != (style & kMinMax);
  }
  if (was_visible != now_visible) Notify(hwnd, WM_SHOWWINDOW, now_visible, 0);
  if (size_changed) {
    WPARAM type = (w->style & WS_MINIMIZE) ? SIZE_MINIMIZED : (w->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : SIZE_RESTORED;
    SendSizeMove(hwnd, type);
  }
  if (now_visible && !was_visible) InvalidateWindow(hwnd, nullptr, true);
  if (!now_visible) {
    std::lock_guard guard(WindowLock());
    w->update = RECT{};
  }
  Display().Shown(hwnd, cmd);
  const bool activates = cmd != SW_HIDE && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE && cmd != SW_SHOWMINNOACTIVE &&
                         cmd != SW_MINIMIZE && !(w->style & WS_CHILD);
  if (activates) Activate(hwnd);
  return was_visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return FALSE;
  std::lock_guard guard(WindowLock());
  return Visible(*w) ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  return w && (w->style & WS_MINIMIZE) ? TRUE : FALSE;
}

BOOL WINAPI IsZoomed(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  return w && (w->style & WS_MAXIMIZE) ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  bool was_disabled;
  {
    std::lock_guard guard(WindowLock());
    was_disabled = (w->style & WS_DISABLED) != 0;
    if (enable)
      w->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
      w->style |= WS_DISABLED;
    w->enabled = enable != FALSE;
  }
  if (was_disabled == (enable != FALSE)) Notify(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  if (!enable && GetFocus() == hwnd) SetFocus(nullptr);
  return was_disabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hwnd) {
  auto w = FindLocalWindow(hwnd);
  return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  bool moved, sized;
  {
    std::lock_guard guard(WindowLock());
    RECT r = w->rect;
    if (flags & SWP_NOMOVE) x = r.left, y = r.top;
    if (flags & SWP_NOSIZE) cx = r.right - r.left, cy = r.bottom - r.top;
    cx = std::max(cx, 0);
    cy = std::max(cy, 0);
    moved = x != r.left || y != r.top;
    sized = cx != r.right - r.left || cy != r.bottom - r.top;
    w->rect = RECT{x, y, x + cx, y + cy};
    if (!(w->style & (WS_MINIMIZE | WS_MAXIMIZE))) w->normal_rect = w->rect;
    ResetClient(*w);
    if (!(flags & SWP_NOZORDER)) {
      if (after == HWND_TOPMOST) w->ex_style |= WS_EX_TOPMOST;
      if (after == HWND_NOTOPMOST) w->ex_style &= ~static_cast<DWORD>(WS_EX_TOPMOST);
      if (auto *list = SiblingList(*w)) {
        std::erase(*list, hwnd);
        auto pos = list->begin();
        if (after == HWND_BOTTOM)
          pos = list->end();
        else if (after != HWND_TOP && after != HWND_TOPMOST && after != HWND_NOTOPMOST) {
          auto it = std::find(list->begin(), list->end(), after);
          pos = it == list->end() ? list->begin() : it + 1;
        }
        list->insert(pos, hwnd);
      }
    }
  }
  if (moved || sized) {
    if (!(flags & SWP_NOMOVE) && moved) Notify(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
    if (!(flags & SWP_NOSIZE) && sized) {
      RECT c;
      {
        std::lock_guard guard(WindowLock());
        c = ClientSize(*w);
      }
      Notify(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.right, c.bottom));  // WM_SIZE gives the client size
    }
    if (!(flags & SWP_NOREDRAW)) InvalidateWindow(hwnd, nullptr, true);
    Display().Moved(hwnd);
  }
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  if (!(flags & (SWP_NOACTIVATE | SWP_HIDEWINDOW)) && !(flags & SWP_NOZORDER) && !(w->style & WS_CHILD)) Activate(hwnd);
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int cx, int cy, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI BringWindowToTop(HWND hwnd) {
  if (hwnd && !FindLocalWindow(hwnd)) return RequestRemoteActivation(hwnd, false) ? TRUE : FALSE;
  return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT out) {
  if (!out) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (reinterpret_cast<UINT_PTR>(hwnd) == kDesktopValue) return GetClientRect(hwnd, out);
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  POINT origin = w->parent ? ClientOrigin(w->parent) : POINT{0, 0};
  std::lock_guard guard(WindowLock());
  *out = RECT{w->rect.left + origin.x, w->rect.top + origin.y, w->rect.right + origin.x, w->rect.bottom + origin.y};
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT out) {
  if (!out) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (reinterpret_cast<UINT_PTR>(hwnd) == kDesktopValue) {
    *out = RECT{0, 0, 1024, 768};  // the display part reports the real screen
    return TRUE;
  }
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  std::lock_guard guard(WindowLock());
  *out = ClientSize(*w);
  return TRUE;
}

BOOL WINAPI GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT *wp) {
  auto w = FindLocalWindow(hwnd);
  if (!w || !wp) return SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE), FALSE;
  std::lock_guard guard(WindowLock());
  wp->length = sizeof *wp;
  wp->flags = 0;
  wp->showCmd = (w->style & WS_MINIMIZE)   ? SW_SHOWMINIMIZED
                : (w->style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED
                : (w->style & WS_VISIBLE)  ? SW_SHOWNORMAL
                                           : SW_HIDE;
  wp->ptMinPosition = POINT{-1, -1};
  wp->ptMaxPosition = POINT{-1, -1};
  wp->rcNormalPosition = (w->style & (WS_MINIMIZE | WS_MAXIMIZE)) ? w->normal_rect : w->rect;
  return TRUE;
}

BOOL WINAPI SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT *wp) {
  if (!wp) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  const RECT &r = wp->rcNormalPosition;
  if (!SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE))
    return FALSE;
  return ShowWindow(hwnd, static_cast<int>(wp->showCmd)), TRUE;
}

BOOL WINAPI ClientToScreen(HWND hwnd, LPPOINT p) {
  if (!p || !FindLocalWindow(hwnd)) return FALSE;
  POINT o = ClientOrigin(hwnd);
  p->x += o.x;
  p->y += o.y;
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND hwnd, LPPOINT p) {
  if (!p || !FindLocalWindow(hwnd)) return FALSE;
  POINT o = ClientOrigin(hwnd);
  p->x -= o.x;
  p->y -= o.y;
  return TRUE;
}

// ---- focus, activation, capture ------------------------------------------------------

HWND WINAPI SetFocus(HWND hwnd) {
  if (hwnd && !FindLocalWindow(hwnd)) {
    HWND old = GetFocus();
    if (RequestRemoteActivation(hwnd, true)) return old;
    return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;
  }
  HWND old;
  {
    std::lock_guard guard(WindowLock());
    old = T().focus;
    if (old == hwnd) return old;
    T().focus = hwnd;
  }
  if (old && FindLocalWindow(old)) Notify(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd) Notify(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND WINAPI GetFocus(void) {
  std::lock_guard guard(WindowLock());
  return T().focus;
}

HWND WINAPI SetActiveWindow(HWND hwnd) {
  if (hwnd && !FindLocalWindow(hwnd)) {
    HWND old = GetActiveWindow();
    if (RequestRemoteActivation(hwnd, false)) return old;
    return SetLastError(ERROR_INVALID_WINDOW_HANDLE), nullptr;
  }
  HWND old = GetActiveWindow();
  Activate(hwnd);
  return old;
}

HWND WINAPI GetActiveWindow(void) {
  std::lock_guard guard(WindowLock());
  return T().active;
}

HWND WINAPI GetForegroundWindow(void) { return GetActiveWindow(); }
BOOL WINAPI SetForegroundWindow(HWND hwnd) {
  if (!FindLocalWindow(hwnd)) return RequestRemoteActivation(hwnd, false) ? TRUE : FALSE;
  Activate(hwnd);
  return TRUE;
}

HWND WINAPI SetCapture(HWND hwnd) {
  std::lock_guard guard(WindowLock());
  HWND old = T().capture;
  T().capture = FindLocalWindow(hwnd) ? hwnd : nullptr;
  return old;
}

HWND WINAPI GetCapture(void) {
  std::lock_guard guard(WindowLock());
  return T().capture;
}

BOOL WINAPI ReleaseCapture(void) {
  std::lock_guard guard(WindowLock());
  T().capture = nullptr;
  return TRUE;
}

// ---- update region ---------------------------------------------------------------------

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT *rect, BOOL erase) {
  if (!hwnd) {
    for (const auto &w : LocalWindows()) InvalidateWindow(w->hwnd, nullptr, erase != FALSE);
    return TRUE;
  }
  if (!FindLocalWindow(hwnd)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  InvalidateWindow(hwnd, rect, erase != FALSE);
  return TRUE;
}

BOOL WINAPI ValidateRect(HWND hwnd, const RECT *rect) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  std::lock_guard guard(WindowLock());
  RECT &u = w->update;
  // The region is a bounding rectangle: it shrinks only when the validated
  // rectangle covers it whole or one whole side of it.
  if (!rect || (rect->left <= u.left && rect->top <= u.top && rect->right >= u.right && rect->bottom >= u.bottom)) {
    u = RECT{};
    w->update_erase = false;
  } else if (rect->left <= u.left && rect->right >= u.right) {
    if (rect->top <= u.top && rect->bottom > u.top)
      u.top = std::min(rect->bottom, u.bottom);
    else if (rect->bottom >= u.bottom && rect->top < u.bottom)
      u.bottom = std::max(rect->top, u.top);
  } else if (rect->top <= u.top && rect->bottom >= u.bottom) {
    if (rect->left <= u.left && rect->right > u.left)
      u.left = std::min(rect->right, u.right);
    else if (rect->right >= u.right && rect->left < u.right)
      u.right = std::max(rect->left, u.left);
  }
  if (u.left >= u.right || u.top >= u.bottom) u = RECT{};
  return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND hwnd, LPRECT out, BOOL) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  std::lock_guard guard(WindowLock());
  bool any = w->update.left < w->update.right && w->update.top < w->update.bottom;
  if (out) *out = any ? w->update : RECT{};
  return any ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
  if (!FindLocalWindow(hwnd)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  if (GetUpdateRect(hwnd, nullptr, FALSE)) SendMessageA(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

// ---- registered messages -------------------------------------------------------------------

// The same string gives the same number in every process (a hash into
// 0xC000-0xFFFF); a collision inside one process moves to the next free number.
UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
  if (!name || !*name) return SetLastError(ERROR_INVALID_PARAMETER), 0;
  static std::mutex lock;
  static auto *table = new std::map<std::string, UINT>;
  std::lock_guard guard(lock);
  std::string key = Lower(name);
  if (auto it = table->find(key); it != table->end()) return it->second;
  std::uint32_t h = 2166136261u;
  for (unsigned char c : key) h = (h ^ c) * 16777619u;
  UINT value = 0xC000 + h % 0x3FFF;
  for (bool taken = true; taken;) {
    taken = false;
    for (auto &[k, v] : *table)
      if (v == value) taken = true;
    if (taken) value = value == 0xFFFE ? 0xC000 : value + 1;
  }
  (*table)[key] = value;
  return value;
}

// ---- sending ------------------------------------------------------------------------------------

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (hwnd == HWND_BROADCAST) {
    for (HWND h : TopLevelSnapshot(false)) SendLocal(h, msg, wparam, lparam);
    return 0;
  }
  WNDPROC proc;
  DWORD tid;
  if (LocalTarget(hwnd, &proc, &tid)) return Deliver(hwnd, proc, tid, msg, wparam, lparam);
  // A window of another process cannot run a procedure for us synchronously.
  SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

LRESULT WINAPI SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT, UINT timeout,
                                   PDWORD_PTR result) {
  auto w = FindLocalWindow(hwnd);
  if (!w) {
    SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  DWORD tid;
  WNDPROC proc;
  {
    std::lock_guard guard(WindowLock());
    tid = w->tid;
    proc = w->proc;
  }
  LRESULT r = 0;
  if (tid == GetCurrentThreadId())
    r = CallProc(proc, hwnd, msg, wparam, lparam);
  else if (!SendAcrossThreads(tid, hwnd, msg, wparam, lparam, timeout, &r, false))
    return 0;
  if (result) *result = static_cast<DWORD_PTR>(r);
  return 1;
}

BOOL WINAPI SendNotifyMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  DWORD tid;
  WNDPROC proc;
  {
    std::lock_guard guard(WindowLock());
    tid = w->tid;
    proc = w->proc;
  }
  if (tid == GetCurrentThreadId()) {
    CallProc(proc, hwnd, msg, wparam, lparam);
    return TRUE;
  }
  return SendAcrossThreads(tid, hwnd, msg, wparam, lparam, INFINITE, nullptr, true) ? TRUE : FALSE;
}

BOOL WINAPI QxDisplayHasScreen(void) { return qx::Display().HasScreen() ? TRUE : FALSE; }

}  // extern "C"
