// The spooler: jobs as files in the Windows system directory's SPOOL\PRINTERS
// ("<id>.SPL" holds the data, "<id>.SHD" says whose job it is), handed to
// their printer when scheduled: a CUPS queue gets the data as a job, the PDF
// and file printers put it in their folder. Programs reach it through the
// spooler calls (OpenPrinterA, AddJobA, ScheduleJob...), printer device
// contexts, and the printer devices "PRN" and "LPT1:".."LPT3:".
//
// A job belongs to the process that made it. One that its process left
// behind unscheduled (it ended, or crashed) is removed by the next process
// that spools; a device job left behind is printed, since closing the device
// is what prints it. Every change of the job count is posted to the top-level
// windows as WM_SPOOLERSTATUS.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "qx/errors.h"
#include "cups_client.h"
#include "print_internal.h"
#include "qx/env.h"
#include "qx/handles.h"
#include "qx/paths.h"

namespace qx::print {
namespace {

// The watcher thread may run while the process exits, so what it touches is
// never destroyed.
std::mutex &g_lock = *new std::mutex;  // the device jobs of this process

struct Record {
  std::string printer;
  JobKind kind = JobKind::Added;
  pid_t pid = 0;
  std::string title;
};

const char *KindName(JobKind k) { return k == JobKind::Added ? "added" : k == JobKind::Device ? "device" : "document"; }

// The spool directory as host and Windows paths, made on first use.
bool SpoolDir(std::string &host, std::string &windows) {
  static std::string &h = *new std::string, &w = *new std::string;
  static std::once_flag once;
  std::call_once(once, [] {
    std::string spool = SystemDirectory() + "\\SPOOL";
    CreateDirectoryA(spool.c_str(), nullptr);
    spool += "\\PRINTERS";
    CreateDirectoryA(spool.c_str(), nullptr);
    DWORD error = 0;
    std::string host_path, full;
    char real[PATH_MAX];
    if (HostPath(spool, host_path, full, error) && realpath(host_path.c_str(), real)) {
      h = real;  // as /proc/self/fd shows it
      w = full;
    }
  });
  host = h;
  windows = w;
  return !h.empty();
}

std::string Name(DWORD id, const char *ext) {
  char name[32];
  std::snprintf(name, sizeof name, "%05u.%s", static_cast<unsigned>(id), ext);
  return name;
}

bool ReadRecord(const std::string &path, Record &r) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "printer")
      r.printer = value;
    else if (key == "kind")
      r.kind = value == "device" ? JobKind::Device : value == "document" ? JobKind::Document : JobKind::Added;
    else if (key == "pid")
      r.pid = static_cast<pid_t>(std::atol(value.c_str()));
    else if (key == "title")
      r.title = value;
  }
  return r.pid > 0;
}

bool Alive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// The next job id, kept in "NEXTJOB" under a lock so processes never share one.
DWORD NextId(const std::string &dir) {
  const std::string path = dir + "/NEXTJOB";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  flock(fd, LOCK_EX);
  char text[16] = {};
  ssize_t n = pread(fd, text, sizeof text - 1, 0);
  unsigned long id = n > 0 ? std::strtoul(text, nullptr, 10) : 0;
  if (id < 1 || id > 99999) id = 1;
  const std::string next = std::to_string(id >= 99999 ? 1 : id + 1);
  if (ftruncate(fd, 0) == 0 && pwrite(fd, next.data(), next.size(), 0) < 0) id = 0;
  flock(fd, LOCK_UN);
  close(fd);
  return static_cast<DWORD>(id);
}

void RemoveJobFiles(const std::string &dir, DWORD id) {
  unlink((dir + "/" + Name(id, "SPL")).c_str());
  unlink((dir + "/" + Name(id, "SHD")).c_str());
}

void PostJobCount() {
  const int count = JobCount();
  PostMessageA(HWND_BROADCAST, WM_SPOOLERSTATUS, 0, MAKELPARAM(std::min(count, 0xFFFF), 0));
}

bool SchedulePath(DWORD id, const Record &r, const std::string &data, const std::string &format, int copies,
                  DWORD &error);

// Jobs whose process is gone: device jobs are printed, others removed.
void SweepOrphans(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::pair<DWORD, Record>> orphans;
  while (dirent *e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() != 9 || name.substr(5) != ".SHD") continue;
    Record r;
    const DWORD id = static_cast<DWORD>(std::strtoul(name.c_str(), nullptr, 10));
    if (ReadRecord(dir + "/" + name, r) && r.pid != getpid() && !Alive(r.pid)) orphans.emplace_back(id, r);
  }
  closedir(d);
  for (auto &[id, r] : orphans) {
    // Claim the record first, so two sweeping processes never print one job twice.
    const std::string claimed = dir + "/" + Name(id, "SHD") + "." + std::to_string(getpid());
    if (rename((dir + "/" + Name(id, "SHD")).c_str(), claimed.c_str()) != 0) continue;
    DWORD error = 0;
    if (r.kind == JobKind::Device) SchedulePath(id, r, dir + "/" + Name(id, "SPL"), "", 1, error);
    unlink((dir + "/" + Name(id, "SPL")).c_str());
    unlink(claimed.c_str());
  }
}

// ---------------------------------------------------------------------------
// Handing a job to its printer.

std::string SafeStem(const std::string &title) {
  // The document title is text, not a path: letters, digits and a few marks
  // stay, anything else becomes "_", so it can never name another directory.
  std::string stem;
  for (unsigned char c : title) {
    if (stem.size() >= 64) break;
    stem += (std::isalnum(c) || c == '-' || c == '_' || c == ' ') ? static_cast<char>(c) : '_';
  }
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  while (!stem.empty() && stem.front() == ' ') stem.erase(0, 1);
  return stem.empty() ? "document" : stem;
}

bool MakeFolder(const std::string &folder) {
  for (size_t slash = 1; slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (!part.empty()) mkdir(part.c_str(), 0755);
  }
  mkdir(folder.c_str(), 0755);
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CopyFile(const std::string &from, int to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  char buffer[65536];
  ssize_t n;
  bool ok = true;
  while (ok && (n = read(in, buffer, sizeof buffer)) > 0)
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
      ok = w > 0;
      done += w > 0 ? w : 0;
    }
  close(in);
  return ok && n == 0;
}

// Moves data into folder as "<title><ext>", "<title> (2)<ext>", ...: never
// over an existing file.
bool PlaceInFolder(const std::string &data, const std::string &folder, const std::string &title, const char *ext,
                   DWORD &error) {
  if (!MakeFolder(folder)) {
    Trace("print: the folder %s cannot be made", folder.c_str());
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  const std::string stem = SafeStem(title);
  for (int n = 1; n < 1000; ++n) {
    const std::string path = folder + "/" + stem + (n > 1 ? " (" + std::to_string(n) + ")" : "") + ext;
    if (link(data.c_str(), path.c_str()) == 0) {  // the spool file is removed afterwards
      chmod(path.c_str(), 0644);                  // a document, no longer a private spool file
      return true;
    }
    if (errno == EEXIST) continue;
    // Another file system: copy into a file made exclusively.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    const bool ok = CopyFile(data, fd);
    if (close(fd) != 0 || !ok) {
      unlink(path.c_str());
      break;
    }
    return true;
  }
  Trace("print: no file for \"%s\" can be made in %s", stem.c_str(), folder.c_str());
  error = ERROR_CANNOT_MAKE;
  return false;
}

std::string Sniff(const std::string &data) {
  char head[5] = {};
  std::ifstream in(data, std::ios::binary);
  in.read(head, 4);
  if (std::memcmp(head, "%PDF", 4) == 0) return "application/pdf";
  if (std::memcmp(head, "%!", 2) == 0) return "application/postscript";
  return "";
}

bool SchedulePath(DWORD id, const Record &r, const std::string &data, const std::string &format, int copies,
                  DWORD &error) {
  Printer p;
  if (!FindPrinter(r.printer, p, error)) {
    Trace("print: job %u: the printer \"%s\" is gone", static_cast<unsigned>(id), r.printer.c_str());
    return false;
  }
  struct stat st {};
  if (r.kind == JobKind::Device && stat(data.c_str(), &st) == 0 && st.st_size == 0) return true;  // nothing written
  const std::string type = format.empty() ? Sniff(data) : format;
  switch (p.kind) {
    case Kind::Cups: {
      std::string message;
      if (CupsPrintFile(p.queue, data, r.title, type, copies, message)) return true;
      Trace("print: job %u for %s: %s", static_cast<unsigned>(id), p.name.c_str(), message.c_str());
      error = ERROR_PRINTER_NOT_FOUND;
      return false;
    }
    case Kind::Pdf:
      if (type == "application/pdf") return PlaceInFolder(data, p.folder, r.title, ".pdf", error);
      if (type == "application/postscript") return PlaceInFolder(data, p.folder, r.title, ".ps", error);
      {
        // Text: laid out as a line printer would, into a PDF beside the data.
        const std::string pdf = data + ".pdf";
        const bool ok =
            TextToPdf(data, pdf, r.title, PaperOf(p.paper)) && PlaceInFolder(pdf, p.folder, r.title, ".pdf", error);
        if (!ok && !error) error = ERROR_WRITE_FAULT;
        unlink(pdf.c_str());
        return ok;
      }
    case Kind::File:
      return PlaceInFolder(data, p.folder, r.title,
                           type == "application/pdf"          ? ".pdf"
                           : type == "application/postscript" ? ".ps"
                                                              : ".prn",
                           error);
  }
  return false;
}

// ---------------------------------------------------------------------------
// Printer devices: a device job prints when the last descriptor on its data
// file closes, seen through inotify by one watcher thread per process.

std::set<DWORD> &g_device_jobs = *new std::set<DWORD>;  // device jobs of this process, under g_lock

bool OpenElsewhere(const std::string &path) {
  DIR *d = opendir("/proc/self/fd");
  if (!d) return false;
  bool open_here = false;
  char link[PATH_MAX];
  while (dirent *e = readdir(d)) {
    const std::string fd_path = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(fd_path.c_str(), link, sizeof link - 1);
    if (n > 0 && static_cast<size_t>(n) == path.size() && std::memcmp(link, path.data(), path.size()) == 0)
      open_here = true;
  }
  closedir(d);
  return open_here;
}

void PrintClosedDevices() {
  std::string dir, windows;
  if (!SpoolDir(dir, windows)) return;
  std::vector<DWORD> ready;
  {
    std::lock_guard guard(g_lock);
    for (DWORD id : g_device_jobs)
      if (!OpenElsewhere(dir + "/" + Name(id, "SPL"))) ready.push_back(id);
    for (DWORD id : ready) g_device_jobs.erase(id);
  }
  for (DWORD id : ready) {
    DWORD error = 0;
    if (!Schedule(id, "", 1, error)) Discard(id);
  }
}

void PrintDevicesAtExit();

void StartDeviceWatcher(const std::string &dir) {
  static std::once_flag once;
  std::call_once(once, [dir] {
    std::atexit(PrintDevicesAtExit);
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, dir.c_str(), IN_CLOSE_WRITE) < 0) {
      Trace("print: cannot watch %s; printer devices print at exit", dir.c_str());
      if (fd >= 0) close(fd);
      return;
    }
    std::thread([fd] {
      alignas(inotify_event) char buffer[4096];
      while (read(fd, buffer, sizeof buffer) > 0) PrintClosedDevices();
    }).detach();
  });
}

// At exit the kernel closes what is still open: print those jobs now. Run
// through atexit, registered at the first device open, so it runs before the
// layer's own statics are destroyed.
void PrintDevicesAtExit() {
  std::vector<DWORD> jobs;
  {
    std::lock_guard guard(g_lock);
    jobs.assign(g_device_jobs.begin(), g_device_jobs.end());
    g_device_jobs.clear();
  }
  for (DWORD id : jobs) {
    DWORD error = 0;
    if (!Schedule(id, "", 1, error)) Discard(id);
  }
}

// ---------------------------------------------------------------------------
// Printer handles.

struct PrinterHandle : KernelObject {
  PrinterHandle() : KernelObject(ObjectKind::Other) {}
  ~PrinterHandle() override {
    for (DWORD id : jobs) Discard(id);  // added but never scheduled
  }
  Printer printer;
  std::vector<DWORD> jobs;  // added through this handle, not yet scheduled
  std::mutex lock;
};

std::shared_ptr<PrinterHandle> HandleOf(HANDLE h) { return Lookup<PrinterHandle>(h, ObjectKind::Other); }

}  // namespace

bool NewJob(const Printer &printer, JobKind kind, const std::string &title, Job &out, DWORD &error) {
  std::string dir, windows;
  if (!SpoolDir(dir, windows)) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  SweepOrphans(dir);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const DWORD id = NextId(dir);
    if (!id) break;
    const std::string record = dir + "/" + Name(id, "SHD");
    const int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;  // still in use after the counter wrapped
    if (fd < 0) break;
    std::string clean_title;
    for (char c : title.substr(0, 255)) clean_title += (c == '\n' || c == '\r') ? ' ' : c;
    const std::string text = "printer=" + printer.name + "\nkind=" + KindName(kind) +
                             "\npid=" + std::to_string(getpid()) + "\ntitle=" + clean_title + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    const std::string data = dir + "/" + Name(id, "SPL");
    // Made read-only, so making it is no "closed after writing" for the device watcher.
    const int data_fd = written ? open(data.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600) : -1;
    if (data_fd < 0) {
      RemoveJobFiles(dir, id);
      break;
    }
    close(data_fd);
    out = Job{id, data, windows + "\\" + Name(id, "SPL")};
    PostJobCount();
    return true;
  }
  error = ERROR_SPL_NO_ADDJOB;
  return false;
}

bool Schedule(DWORD id, const std::string &format, int copies, DWORD &error) {
  std::string dir, windows;
  Record r;
  if (!SpoolDir(dir, windows) || !ReadRecord(dir + "/" + Name(id, "SHD"), r)) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  const bool ok = SchedulePath(id, r, dir + "/" + Name(id, "SPL"), format, copies, error);
  RemoveJobFiles(dir, id);
  PostJobCount();
  return ok;
}

void Discard(DWORD id) {
  std::string dir, windows;
  if (!SpoolDir(dir, windows)) return;
  {
    std::lock_guard guard(g_lock);
    g_device_jobs.erase(id);
  }
  RemoveJobFiles(dir, id);
  PostJobCount();
}

int JobCount() {
  std::string dir, windows;
  if (!SpoolDir(dir, windows)) return 0;
  int count = 0;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      const size_t n = std::strlen(e->d_name);
      count += n == 9 && std::strcmp(e->d_name + 5, ".SHD") == 0;
    }
    closedir(d);
  }
  return count;
}

bool IsPrinterDevice(std::string_view name) {
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  const auto is = [&](const char *device) {
    return name.size() == std::strlen(device) && strncasecmp(name.data(), device, name.size()) == 0;
  };
  return is("PRN") || is("LPT1") || is("LPT2") || is("LPT3");
}

bool OpenDevice(const char *name, std::string &host, DWORD &error) {
  if (!name || !IsPrinterDevice(name)) return false;
  std::string device = name;
  if (device.back() == ':') device.pop_back();
  for (char &c : device) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The device table: printers.ini [ports], else the default printer.
  Printer printer;
  const std::string mapped = Setting("ports", device.c_str());
  if (mapped.empty())
    printer = DefaultPrinter();
  else if (!FindPrinter(mapped, printer, error))
    return true;
  Job job;
  if (!NewJob(printer, JobKind::Device, device, job, error)) return true;
  std::string dir, windows;
  SpoolDir(dir, windows);
  {
    std::lock_guard guard(g_lock);
    g_device_jobs.insert(job.id);
  }
  StartDeviceWatcher(dir);
  host = job.data;
  error = 0;
  return true;
}

}  // namespace qx::print

using namespace qx::print;
using qx::Fail;

extern "C" {

BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA) {
  if (!phPrinter) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *phPrinter = nullptr;
  auto handle = std::make_shared<PrinterHandle>();
  DWORD error = 0;
  if (!pPrinterName)
    handle->printer = DefaultPrinter();
  else if (!FindPrinter(pPrinterName, handle->printer, error))
    return Fail(error, FALSE);
  HANDLE h = qx::InsertHandle(handle);
  if (!h) return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
  *phPrinter = h;
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  if (!HandleOf(hPrinter)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  qx::RemoveHandle(hPrinter);  // unscheduled jobs go with the handle
  return TRUE;
}

BOOL WINAPI AddJobA(HANDLE hPrinter, DWORD Level, LPBYTE pData, DWORD cbBuf, LPDWORD pcbNeeded) {
  auto handle = HandleOf(hPrinter);
  if (!handle) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (Level != 1) return Fail(ERROR_INVALID_LEVEL, FALSE);
  if (!pcbNeeded) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Job job;
  DWORD error = 0;
  if (!NewJob(handle->printer, JobKind::Added, "Remote Downlevel Document", job, error)) return Fail(error, FALSE);
  const DWORD needed = static_cast<DWORD>(sizeof(ADDJOB_INFO_1A) + job.windows.size() + 1);
  *pcbNeeded = needed;
  if (!pData || cbBuf < needed) {
    Discard(job.id);
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  char *path = reinterpret_cast<char *>(pData) + sizeof(ADDJOB_INFO_1A);
  std::memcpy(path, job.windows.c_str(), job.windows.size() + 1);
  ADDJOB_INFO_1A info{path, job.id};
  std::memcpy(pData, &info, sizeof info);
  std::lock_guard guard(handle->lock);
  handle->jobs.push_back(job.id);
  return TRUE;
}

BOOL WINAPI ScheduleJob(HANDLE hPrinter, DWORD JobId) {
  auto handle = HandleOf(hPrinter);
  if (!handle) return Fail(ERROR_INVALID_HANDLE, FALSE);
  {
    std::lock_guard guard(handle->lock);
    auto it = std::find(handle->jobs.begin(), handle->jobs.end(), JobId);
    if (it == handle->jobs.end()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    handle->jobs.erase(it);
  }
  DWORD error = 0;
  return Schedule(JobId, "", 1, error) ? TRUE : Fail(error ? error : ERROR_WRITE_FAULT, FALSE);
}

BOOL WINAPI AbortPrinter(HANDLE hPrinter) {
  auto handle = HandleOf(hPrinter);
  if (!handle) return Fail(ERROR_INVALID_HANDLE, FALSE);
  std::vector<DWORD> jobs;
  {
    std::lock_guard guard(handle->lock);
    jobs.swap(handle->jobs);
  }
  for (DWORD id : jobs) Discard(id);
  return TRUE;
}

}  // extern "C"
