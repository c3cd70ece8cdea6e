// WSAAsyncGetHostByName, WSAAsyncGetHostByAddr and WSACancelAsyncRequest.
//
// A request gets a task handle at once; a small pool of resolver threads runs
// the lookup, copies the hostent into the caller's buffer (every pointer of
// it pointing inside that buffer) and posts the caller's message with
// wParam = task handle and lParam = WSAMAKEASYNCREPLY(length, error). The
// copy and the post happen under the task lock, and cancelling takes the
// same lock: once WSACancelAsyncRequest has returned, the buffer is never
// written and no message comes.
#include "ws_internal.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qx::ws {
namespace {

constexpr size_t kMaxResolvers = 4;
constexpr size_t kMaxListEntries = 35;  // aliases and addresses kept, as the synchronous calls

struct Task {
  std::uint32_t id = 0;
  HWND hwnd = nullptr;
  UINT msg = 0;
  bool by_address = false;
  std::string name;           // ByName: the host name
  std::uint32_t address = 0;  // ByAddr: network order
  char *buffer = nullptr;
  int buffer_len = 0;
};

struct Lookups {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<Task> queued;
  std::unordered_map<std::uint32_t, Task> running;
  std::uint32_t next_id = 0;
  size_t resolvers = 0;
  size_t idle = 0;
};

// Never destroyed: resolver threads may still be inside the C library's
// resolver when the process exits.
Lookups &State() {
  static auto *state = new Lookups;
  return *state;
}

int WsaFromHerrno(int herr) {
  switch (herr) {
    case HOST_NOT_FOUND: return kWSAHOST_NOT_FOUND;
    case TRY_AGAIN: return kWSATRY_AGAIN;
    case NO_DATA: return kWSANO_DATA;
    default: return kWSANO_RECOVERY;
  }
}

// A resolved entry in plain storage, before it is laid out in the caller's buffer.
struct Resolved {
  int error = 0;
  std::string name;
  std::vector<std::string> aliases;
  std::vector<std::uint32_t> addresses;
};

Resolved Resolve(const Task &t) {
  Resolved r;
  hostent h{};
  hostent *result = nullptr;
  int herr = 0;
  std::vector<char> scratch(1024);
  for (;;) {
    const int rc =
        t.by_address ? ::gethostbyaddr_r(&t.address, 4, AF_INET, &h, scratch.data(), scratch.size(), &result, &herr)
                     : ::gethostbyname2_r(t.name.c_str(), AF_INET, &h, scratch.data(), scratch.size(), &result, &herr);
    if (rc == ERANGE && scratch.size() < (1u << 20)) {
      scratch.resize(scratch.size() * 2);
      continue;
    }
    if (rc != 0 || !result) {
      r.error = WsaFromHerrno(herr);
      return r;
    }
    break;
  }
  r.name = h.h_name ? h.h_name : "";
  for (size_t i = 0; h.h_aliases && h.h_aliases[i] && i < kMaxListEntries; ++i) r.aliases.emplace_back(h.h_aliases[i]);
  for (size_t i = 0; h.h_addr_list && h.h_addr_list[i] && i < kMaxListEntries; ++i) {
    std::uint32_t a;
    std::memcpy(&a, h.h_addr_list[i], 4);
    r.addresses.push_back(a);
  }
  return r;
}

// The bytes the entry takes in a buffer laid out as Winsock lays it out:
// the hostent, the alias and address pointer arrays, the addresses, then the
// strings.
size_t LayoutSize(const Resolved &r) {
  size_t size = sizeof(WsHostent) + (r.aliases.size() + 1 + r.addresses.size() + 1) * sizeof(char *);
  size += r.addresses.size() * 4 + r.name.size() + 1;
  for (const std::string &a : r.aliases) size += a.size() + 1;
  return size;
}

// Pointers are stored with memcpy: a caller's char array need not be aligned.
void LayOut(const Resolved &r, char *buffer) {
  const size_t alias_at = sizeof(WsHostent);
  const size_t address_at = alias_at + (r.aliases.size() + 1) * sizeof(char *);
  size_t cursor = address_at + (r.addresses.size() + 1) * sizeof(char *);
  auto store_ptr = [&](size_t at, char *value) { std::memcpy(buffer + at, &value, sizeof value); };
  auto put = [&](const void *bytes, size_t n) {
    char *at = buffer + cursor;
    std::memcpy(at, bytes, n);
    cursor += n;
    return at;
  };
  for (size_t i = 0; i < r.addresses.size(); ++i) store_ptr(address_at + i * sizeof(char *), put(&r.addresses[i], 4));
  store_ptr(address_at + r.addresses.size() * sizeof(char *), nullptr);
  for (size_t i = 0; i < r.aliases.size(); ++i)
    store_ptr(alias_at + i * sizeof(char *), put(r.aliases[i].c_str(), r.aliases[i].size() + 1));
  store_ptr(alias_at + r.aliases.size() * sizeof(char *), nullptr);
  WsHostent host{};
  host.h_name = put(r.name.c_str(), r.name.size() + 1);
  host.h_aliases = reinterpret_cast<char **>(buffer + alias_at);
  host.h_addrtype = AF_INET;
  host.h_length = 4;
  host.h_addr_list = reinterpret_cast<char **>(buffer + address_at);
  std::memcpy(buffer, &host, sizeof host);
}

// Delivers a finished lookup unless it was cancelled meanwhile. Called with
// the state lock held, so a cancel either comes first (nothing is written)
// or after (the message is already on its way).
void Deliver(const Task &t, const Resolved &r) {
  int error = r.error;
  size_t length = 0;
  if (!error) {
    length = LayoutSize(r);
    if (length > static_cast<size_t>(t.buffer_len)) {
      error = kWSAENOBUFS;  // the low word then tells the size needed
    } else {
      LayOut(r, t.buffer);
    }
  }
  if (PostMessageA) {
    const LPARAM reply =
        static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(static_cast<WORD>(std::min<size_t>(length, 0xFFFF)), error)));
    PostMessageA(t.hwnd, t.msg, static_cast<WPARAM>(t.id), reply);
  }
}

void ResolverLoop() {
  Lookups &s = State();
  std::unique_lock guard(s.lock);
  for (;;) {
    ++s.idle;
    s.wake.wait(guard, [&] { return !s.queued.empty(); });
    --s.idle;
    Task t = std::move(s.queued.front());
    s.queued.pop_front();
    const std::uint32_t id = t.id;
    s.running.emplace(id, t);
    guard.unlock();
    const Resolved r = Resolve(t);
    guard.lock();
    auto it = s.running.find(id);
    if (it != s.running.end()) {  // not cancelled
      Deliver(it->second, r);
      s.running.erase(it);
    }
  }
}

HANDLE Start(Task t) {
  if (!CheckStarted()) return nullptr;
  if (!t.buffer || t.buffer_len <= 0) {
    Fail(kWSAEFAULT);
    return nullptr;
  }
  if (IsWindow && !IsWindow(t.hwnd)) {
    Fail(kWSAEINVAL);
    return nullptr;
  }
  Lookups &s = State();
  std::lock_guard guard(s.lock);
  // Task handles are small positive numbers that never repeat while a task
  // with the same number could still be pending.
  do {
    s.next_id = s.next_id >= 0x7FFFFFFF ? 1 : s.next_id + 1;
  } while (s.running.count(s.next_id));
  t.id = s.next_id;
  const std::uint32_t id = t.id;
  s.queued.push_back(std::move(t));
  if (s.idle == 0 && s.resolvers < kMaxResolvers) {
    ++s.resolvers;
    std::thread(ResolverLoop).detach();
  }
  s.wake.notify_one();
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(id));
}

}  // namespace

void CancelAllLookups() {
  Lookups &s = State();
  std::lock_guard guard(s.lock);
  s.queued.clear();
  s.running.clear();
}

}  // namespace qx::ws

using namespace qx::ws;

extern "C" {

WINBASEAPI HANDLE WINAPI WSAAsyncGetHostByName(HWND hWnd, UINT wMsg, const char *name, char *buf, int buflen) {
  if (!name) {
    Fail(kWSAEFAULT);
    return nullptr;
  }
  Task t;
  t.hwnd = hWnd;
  t.msg = wMsg;
  char local[256]{};
  if (!*name) {  // the local host, as gethostbyname("") gives it
    ::gethostname(local, sizeof local - 1);
    name = local;
  }
  if (std::strlen(name) > 255) {
    Fail(kWSAEINVAL);
    return nullptr;
  }
  t.name = name;
  t.buffer = buf;
  t.buffer_len = buflen;
  return Start(std::move(t));
}

WINBASEAPI HANDLE WINAPI WSAAsyncGetHostByAddr(HWND hWnd, UINT wMsg, const char *addr, int len, int type, char *buf,
                                               int buflen) {
  if (!addr || len != 4) {
    Fail(kWSAEFAULT);
    return nullptr;
  }
  if (type != AF_INET) {
    Fail(kWSAEAFNOSUPPORT);
    return nullptr;
  }
  Task t;
  t.hwnd = hWnd;
  t.msg = wMsg;
  t.by_address = true;
  std::memcpy(&t.address, addr, 4);
  t.buffer = buf;
  t.buffer_len = buflen;
  return Start(std::move(t));
}

WINBASEAPI int WINAPI WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) {
  if (!CheckStarted()) return kSocketError;
  const auto id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hAsyncTaskHandle));
  Lookups &s = State();
  std::lock_guard guard(s.lock);
  for (auto it = s.queued.begin(); it != s.queued.end(); ++it)
    if (it->id == id) {
      s.queued.erase(it);
      return 0;
    }
  if (s.running.erase(id)) return 0;
  // Already answered (its message is posted), or never a task of ours.
  return Fail(id != 0 && id <= s.next_id ? kWSAEALREADY : kWSAEINVAL);
}

}  // extern "C"
