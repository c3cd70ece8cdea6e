// Test program for ICMP.DLL, loaded by name as the traceroute and ping
// programs load it. One line of output per answer:
//   icmp_probe echo ADDR              "echo <status> <from> size=<n> data=<ok|bad> backend=<b>"
//   icmp_probe trace ADDR MAXHOPS     "hop <ttl> <status> <from>" until the destination answers
//                                     (three tries a hop)
//   icmp_probe pingset ADDR COUNT     register_icmp/do_echo_req/do_echo_rep: "rep <result> <from> size=<n>
//   data=<ok|bad>" icmp_probe timeout ADDR MS        "timeout <returned> <last error>" icmp_probe stop ADDR closes the
//   handle while do_echo_rep waits: "stopped <result> fast=<0|1>" icmp_probe misuse                 argument checks:
//   "misuse ok" or the first failed check
// Exit 0 when the command ran (whatever the network answered), 1 on a failure
// to load the module or make a handle.
#include <windows.h>
#include <icmpapi.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using CreateFileFn = HANDLE(WINAPI *)();
using CloseFn = BOOL(WINAPI *)(HANDLE);
using SendEchoFn = DWORD(WINAPI *)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
using RegisterFn = HANDLE(WINAPI *)();
using RequestFn = DWORD(WINAPI *)(HANDLE, IPAddr, LPVOID, UINT, LPVOID, UINT, UINT, UINT, UINT, UINT);
using ReplyFn = DWORD(WINAPI *)(HANDLE, LPVOID, UINT, ULONG *, ULONG *, IPAddr *, UINT *, UINT *, UINT *, UINT *);

struct Api {
  CreateFileFn create;
  CloseFn close;
  SendEchoFn send;
  RegisterFn reg;
  RequestFn req;
  ReplyFn rep;
};

template <class F>
F Entry(HMODULE m, const char *name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(GetProcAddress(m, name)));
}

bool Bind(Api &api) {
  HMODULE m = LoadLibraryA("ICMP.DLL");
  if (!m) return false;
  api = Api{Entry<CreateFileFn>(m, "IcmpCreateFile"), Entry<CloseFn>(m, "IcmpCloseHandle"),
            Entry<SendEchoFn>(m, "IcmpSendEcho"),     Entry<RegisterFn>(m, "register_icmp"),
            Entry<RequestFn>(m, "do_echo_req"),       Entry<ReplyFn>(m, "do_echo_rep")};
  return api.create && api.close && api.send && api.reg && api.req && api.rep;
}

std::string Dotted(IPAddr a) {
  in_addr in;
  in.s_addr = a;
  return inet_ntoa(in);
}

std::vector<unsigned char> Pattern(size_t n) {
  std::vector<unsigned char> data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(i);
  return data;
}

const char *Backend() {
  const char *b = std::getenv("QX_ICMP_BACKEND");
  return b ? b : "auto";
}

int Echo(const Api &api, IPAddr dest) {
  HANDLE h = api.create();
  if (h == INVALID_HANDLE_VALUE) return std::printf("no handle %lu\n", static_cast<unsigned long>(GetLastError())), 1;
  std::vector<unsigned char> data = Pattern(56);
  std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + 56 + 8);
  const DWORD n = api.send(h, dest, data.data(), static_cast<WORD>(data.size()), nullptr, reply.data(),
                           static_cast<DWORD>(reply.size()), 3000);
  const auto *r = reinterpret_cast<const ICMP_ECHO_REPLY *>(reply.data());
  if (n == 0) {
    std::printf("echo none %lu\n", static_cast<unsigned long>(GetLastError()));
  } else {
    const bool same = r->DataSize == data.size() && std::memcmp(r->Data, data.data(), data.size()) == 0;
    std::printf("echo %lu %s size=%u data=%s backend=%s\n", static_cast<unsigned long>(r->Status),
                Dotted(r->Address).c_str(), r->DataSize, same ? "ok" : "bad", Backend());
  }
  api.close(h);
  return 0;
}

int Trace(const Api &api, IPAddr dest, int max_hops) {
  HANDLE h = api.create();
  if (h == INVALID_HANDLE_VALUE) return std::printf("no handle %lu\n", static_cast<unsigned long>(GetLastError())), 1;
  std::vector<unsigned char> request(40);
  std::vector<unsigned char> reply(8192);
  for (int ttl = 1; ttl <= max_hops; ++ttl) {
    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(ttl);
    // Up to three tries a hop, as the traceroute program makes them: a
    // router may drop the first error it owes a new peer (its rate limit).
    DWORD n = 0;
    for (int attempt = 0; attempt < 3 && n == 0; ++attempt)
      n = api.send(h, dest, request.data(), static_cast<WORD>(request.size()), &options, reply.data(),
                   static_cast<DWORD>(reply.size()), 1500);
    const auto *r = reinterpret_cast<const ICMP_ECHO_REPLY *>(reply.data());
    if (n == 0) {
      std::printf("hop %d none %lu\n", ttl, static_cast<unsigned long>(GetLastError()));
      continue;
    }
    std::printf("hop %d %lu %s\n", ttl, static_cast<unsigned long>(r->Status), Dotted(r->Address).c_str());
    if (r->Status != IP_TTL_EXPIRED_TRANSIT) break;
  }
  api.close(h);
  return 0;
}

int PingSet(const Api &api, IPAddr dest, int count) {
  HANDLE h = api.reg();
  if (!h) return std::printf("no handle %lu\n", static_cast<unsigned long>(GetLastError())), 1;
  std::vector<unsigned char> data = Pattern(100);
  std::vector<unsigned char> reply(8227);
  for (int i = 0; i < count; ++i) {
    api.req(h, dest, data.data(), static_cast<UINT>(data.size()), nullptr, 0, 0, 255, 0, 0);
    ULONG status = 0, rtt = 0;
    IPAddr from = 0;
    UINT size = 0, ttl = 0, tos = 0, flags = 0;
    const DWORD result =
        api.rep(h, reply.data(), static_cast<UINT>(reply.size()), &status, &rtt, &from, &size, &ttl, &tos, &flags);
    const bool same = size == data.size() && std::memcmp(reply.data(), data.data(), size) == 0;
    std::printf("rep %lu %s size=%u data=%s\n", static_cast<unsigned long>(result), Dotted(from).c_str(), size,
                same ? "ok" : "bad");
  }
  CloseHandle(h);
  return 0;
}

int Timeout(const Api &api, IPAddr dest, DWORD ms) {
  HANDLE h = api.create();
  if (h == INVALID_HANDLE_VALUE) return 1;
  std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + 64);
  const DWORD start = GetTickCount();
  const DWORD n = api.send(h, dest, nullptr, 0, nullptr, reply.data(), static_cast<DWORD>(reply.size()), ms);
  const DWORD error = GetLastError();
  const DWORD took = GetTickCount() - start;
  std::printf("timeout %lu %lu waited=%d\n", static_cast<unsigned long>(n), static_cast<unsigned long>(error),
              took + 50 >= ms && took < ms + 2000);
  api.close(h);
  return 0;
}

// A worker waits in do_echo_rep for a host that never answers; the main
// thread closes the handle, as the ping monitor does when a host is removed.
int Stop(const Api &api, IPAddr dest) {
  HANDLE h = api.reg();
  if (!h) return 1;
  api.req(h, dest, nullptr, 0, nullptr, 0, 0, 255, 0, 0);
  DWORD result = 0, took = 0;
  std::thread worker([&] {
    const DWORD start = GetTickCount();
    result = api.rep(h, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    took = GetTickCount() - start;
  });
  Sleep(300);
  CloseHandle(h);
  worker.join();
  std::printf("stopped %lu fast=%d\n", static_cast<unsigned long>(result), took < 2000);
  return 0;
}

int Misuse(const Api &api) {
  HANDLE h = api.create();
  if (h == INVALID_HANDLE_VALUE) return 1;
  unsigned char small[sizeof(ICMP_ECHO_REPLY) + 4];
  const char *failed = nullptr;
  if (api.send(h, inet_addr("127.0.0.1"), nullptr, 0, nullptr, small, sizeof small, 100) != 0 ||
      GetLastError() != IP_BUF_TOO_SMALL)
    failed = "small reply buffer";
  unsigned char reply[256];
  if (!failed && (api.send(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7FF00001)), inet_addr("127.0.0.1"), nullptr,
                           0, nullptr, reply, sizeof reply, 100) != 0 ||
                  GetLastError() != ERROR_INVALID_HANDLE))
    failed = "bad handle";
  if (!failed && api.send(h, 0, nullptr, 0, nullptr, reply, sizeof reply, 100) != 0) failed = "address 0";
  if (!failed && !api.close(h)) failed = "close";
  if (!failed && api.close(h)) failed = "second close";
  std::printf("misuse %s\n", failed ? failed : "ok");
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(1, 1), &wsa);
  Api api{};
  if (!Bind(api)) {
    std::printf("Unable to load the ICMP API Layer\n");
    return 1;
  }
  const std::string cmd = argc > 1 ? argv[1] : "";
  const IPAddr dest = argc > 2 ? inet_addr(argv[2]) : 0;
  int rc = 2;
  if (cmd == "echo" && argc == 3) rc = Echo(api, dest);
  if (cmd == "trace" && argc == 4) rc = Trace(api, dest, std::atoi(argv[3]));
  if (cmd == "pingset" && argc == 4) rc = PingSet(api, dest, std::atoi(argv[3]));
  if (cmd == "timeout" && argc == 4) rc = Timeout(api, dest, static_cast<DWORD>(std::atoi(argv[3])));
  if (cmd == "stop" && argc == 3) rc = Stop(api, dest);
  if (cmd == "misuse") rc = Misuse(api);
  if (rc == 2) std::fprintf(stderr, "usage: icmp_probe echo|trace|pingset|timeout|stop ADDR [N] | misuse\n");
  std::fflush(stdout);
  return rc;
}
