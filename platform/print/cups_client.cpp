#include "cups_client.h"

#include <cups/cups.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

#include "qx/env.h"
#include "qx/print.h"

namespace qx::print {
namespace {

// The libcups calls used here, bound by name after dlopen.
struct Cups {
  bool loaded = false;
  decltype(&::cupsServer) server = nullptr;
  decltype(&::ippPort) port = nullptr;
  decltype(&::httpConnect2) connect = nullptr;
  decltype(&::httpClose) close = nullptr;
  decltype(&::cupsGetDests2) get_dests = nullptr;
  decltype(&::cupsFreeDests) free_dests = nullptr;
  decltype(&::cupsAddOption) add_option = nullptr;
  decltype(&::cupsGetOption) get_option = nullptr;
  decltype(&::cupsFreeOptions) free_options = nullptr;
  decltype(&::cupsCreateJob) create_job = nullptr;
  decltype(&::cupsStartDocument) start_document = nullptr;
  decltype(&::cupsWriteRequestData) write_data = nullptr;
  decltype(&::cupsFinishDocument) finish_document = nullptr;
  decltype(&::cupsCancelJob2) cancel_job = nullptr;
  decltype(&::cupsLastErrorString) last_error = nullptr;
};

template <class F>
bool Bind(void *lib, const char *name, F &out) {
  out = reinterpret_cast<F>(dlsym(lib, name));
  return out != nullptr;
}

const Cups &Library() {
  static Cups cups;
  static std::once_flag once;
  std::call_once(once, [] {
    void *lib = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      Trace("print: libcups not loaded (%s); no CUPS printers", dlerror());
      return;
    }
    Cups c;
    c.loaded = Bind(lib, "cupsServer", c.server) && Bind(lib, "ippPort", c.port) &&
               Bind(lib, "httpConnect2", c.connect) && Bind(lib, "httpClose", c.close) &&
               Bind(lib, "cupsGetDests2", c.get_dests) && Bind(lib, "cupsFreeDests", c.free_dests) &&
               Bind(lib, "cupsAddOption", c.add_option) && Bind(lib, "cupsGetOption", c.get_option) &&
               Bind(lib, "cupsFreeOptions", c.free_options) && Bind(lib, "cupsCreateJob", c.create_job) &&
               Bind(lib, "cupsStartDocument", c.start_document) && Bind(lib, "cupsWriteRequestData", c.write_data) &&
               Bind(lib, "cupsFinishDocument", c.finish_document) && Bind(lib, "cupsCancelJob2", c.cancel_job) &&
               Bind(lib, "cupsLastErrorString", c.last_error);
    if (c.loaded) cups = c;
  });
  return cups;
}

// A connection to the server, closed on scope exit; none when it does not answer.
class Connection {
 public:
  explicit Connection(const Cups &c) : c_(c) {
    if (c.loaded)
      http_ = c.connect(c.server(), c.port(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 3000, nullptr);
  }
  ~Connection() {
    if (http_) c_.close(http_);
  }
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;
  http_t *get() const { return http_; }

 private:
  const Cups &c_;
  http_t *http_ = nullptr;
};

}  // namespace

std::vector<CupsQueue> CupsQueues(std::string &default_queue) {
  // One answer serves for two seconds: opening a printer and printing on it
  // ask several times in a row, and an unreachable server costs its timeout.
  struct Cache {
    std::mutex lock;
    std::vector<CupsQueue> queues;
    std::string default_queue, server;
    std::chrono::steady_clock::time_point when;
  };
  static Cache &cache = *new Cache;  // never destroyed: a spooler thread may ask at exit
  auto &[lock, cached, cached_default, cached_server, when] = cache;
  const Cups &c = Library();
  if (!c.loaded) return {};
  const std::string server = c.server();
  std::lock_guard guard(lock);
  const auto now = std::chrono::steady_clock::now();
  if (server == cached_server && now - when < std::chrono::seconds(2)) {
    default_queue = cached_default;
    return cached;
  }
  std::vector<CupsQueue> queues;
  default_queue.clear();
  Connection http(c);
  if (!http.get()) {
    cached.clear();
    cached_default.clear();
    cached_server = server;
    when = now;
    return queues;
  }
  cups_dest_t *dests = nullptr;
  const int n = c.get_dests(http.get(), &dests);
  for (int i = 0; i < n; ++i) {
    if (dests[i].instance || !dests[i].name) continue;
    // The paper the user chose for the queue (lpoptions -o media=...), if any.
    const char *media = c.get_option("media", dests[i].num_options, dests[i].options);
    queues.push_back(CupsQueue{dests[i].name, media ? media : ""});
    Trace("print: CUPS queue %s, paper \"%s\"", dests[i].name, queues.back().media.c_str());
    if (dests[i].is_default) default_queue = dests[i].name;
  }
  c.free_dests(n, dests);
  cached = queues;
  cached_default = default_queue;
  cached_server = server;
  when = now;
  return queues;
}

bool CupsPrintFile(const std::string &queue, const std::string &path, const std::string &title,
                   const std::string &format, int copies, std::string &message) {
  const Cups &c = Library();
  if (!c.loaded) {
    message = "the CUPS library (libcups.so.2) is not installed";
    return false;
  }
  Connection http(c);
  if (!http.get()) {
    message = std::string("the print server ") + c.server() + " does not answer";
    return false;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    message = "the spool file cannot be read";
    return false;
  }
  cups_option_t *options = nullptr;
  int n_options = 0;
  if (copies > 1) n_options = c.add_option("copies", std::to_string(copies).c_str(), n_options, &options);
  const std::string name = TitleUtf8(title);  // IPP names are UTF-8
  const int job = c.create_job(http.get(), queue.c_str(), name.c_str(), n_options, options);
  c.free_options(n_options, options);
  bool ok = job > 0;
  if (ok) {
    const char *type = format.empty() ? CUPS_FORMAT_AUTO : format.c_str();
    ok = c.start_document(http.get(), queue.c_str(), job, name.c_str(), type, 1) == HTTP_STATUS_CONTINUE;
    const bool started = ok;
    char buffer[65536];
    ssize_t got = 0;
    while (ok && (got = read(fd, buffer, sizeof buffer)) > 0)
      ok = c.write_data(http.get(), buffer, static_cast<size_t>(got)) == HTTP_STATUS_CONTINUE;
    if (got < 0) ok = false;
    if (started && c.finish_document(http.get(), queue.c_str()) != IPP_STATUS_OK) ok = false;
    if (!ok) c.cancel_job(http.get(), queue.c_str(), job, 0);
  }
  if (!ok) message = std::string("the print server refused the job: ") + c.last_error();
  close(fd);
  return ok;
}

}  // namespace qx::print
