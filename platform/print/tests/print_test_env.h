// What the printing tests share: a private tree (QX_HOME with a printers.ini
// whose folders are the test's), commands run with a deadline, waiting for a
// file to appear, and reading PDFs back with poppler's tools.
#pragma once

#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "qxtest/support.h"

extern char **environ;

namespace qxtest {

namespace fs = std::filesystem;

struct PrintTree {
  std::string root;
  PrintTree() {
    char tmpl[] = "/tmp/qx-print-test-XXXXXX";
    root = mkdtemp(tmpl);
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/run").c_str(), 1);  // windows of this test only
    fs::create_directories(root + "/home");
    unsetenv("QX_WINDOWS_DIR");
    unsetenv("QX_SYSTEM_DIR");
    // No print server but the one a test starts.
    setenv("CUPS_SERVER", (root + "/no-cups.sock").c_str(), 1);
    WriteSettings("");
  }
  ~PrintTree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::string Pdf() const { return root + "/pdf"; }
  std::string Files() const { return root + "/files"; }
  std::string Testq() const { return root + "/testq"; }
  // printers.ini with the test's folders, a "testq" PDF printer, and extra lines.
  void WriteSettings(const std::string &extra) const {
    std::ofstream out(root + "/home/printers.ini");
    out << "[folders]\nPDF=" << Pdf() << "\nFile=" << Files() << "\n[printers]\ntestq=PDF," << Testq() << "\n" << extra;
  }
  std::string SpoolDir() const { return root + "/home/drive_c/WINDOWS/SYSTEM32/SPOOL/PRINTERS"; }
};

inline PrintTree &TheTree() {
  static PrintTree tree;
  return tree;
}

// Runs argv; its standard output in *out; false on failure or after the deadline (killed).
inline bool Run(const std::vector<std::string> &args, std::string *out = nullptr, int seconds = 60) {
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(pipefd[1]);
  if (rc != 0) {
    close(pipefd[0]);
    return false;
  }
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool timed_out = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd p{pipefd[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(pipefd[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(pipefd[0]);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (out) *out = text;
  return !timed_out && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline std::vector<std::string> FilesIn(const std::string &dir, const std::string &ext = "") {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(dir, ec))
    if (ext.empty() || e.path().extension() == ext) found.push_back(e.path().string());
  std::sort(found.begin(), found.end());
  return found;
}

// "Pages:" and "Page size:" lines of pdfinfo.
inline std::string PdfInfo(const std::string &pdf, const char *field) {
  std::string out;
  if (!Run({"pdfinfo", pdf}, &out)) return "";
  const size_t at = out.find(field);
  if (at == std::string::npos) return "";
  size_t b = out.find_first_not_of(' ', at + std::string(field).size());
  return out.substr(b, out.find('\n', b) - b);
}

inline std::string PdfText(const std::string &pdf) {
  std::string out;
  Run({"pdftotext", "-layout", pdf, "-"}, &out);
  return out;
}

// Renders page 1 at dpi into a PNG beside the PDF; "" on failure.
inline std::string RenderPage(const std::string &pdf, int dpi) {
  const std::string stem = pdf + ".page";
  if (!Run({"pdftoppm", "-r", std::to_string(dpi), "-aa", "no", "-aaVector", "no", "-f", "1", "-l", "1", "-singlefile",
            "-png", pdf, stem}))
    return "";
  return stem + ".png";
}

// Pixels of a PNG as 0x00RRGGBB, width and height; false when unreadable.
inline bool LoadPng(const std::string &path, std::vector<uint32_t> &px, int &w, int &h) {
  cairo_surface_t *s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return false;
  }
  cairo_surface_t *rgb = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cairo_image_surface_get_width(s),
                                                    cairo_image_surface_get_height(s));
  cairo_t *cr = cairo_create(rgb);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_surface(cr, s, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(rgb);
  w = cairo_image_surface_get_width(rgb);
  h = cairo_image_surface_get_height(rgb);
  const int stride = cairo_image_surface_get_stride(rgb);
  const unsigned char *data = cairo_image_surface_get_data(rgb);
  px.resize(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[static_cast<size_t>(y) * w + x] = reinterpret_cast<const uint32_t *>(data + y * stride)[x] & 0xFFFFFF;
  cairo_surface_destroy(rgb);
  cairo_surface_destroy(s);
  return true;
}

// The share of pixels whose colour differs by more than `level` in a channel.
inline double Difference(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, int level = 48) {
  if (a.size() != b.size() || a.empty()) return 1.0;
  size_t differ = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8) {
      const int ca = (a[i] >> shift) & 0xFF, cb = (b[i] >> shift) & 0xFF;
      if (std::abs(ca - cb) > level) {
        ++differ;
        break;
      }
    }
  return static_cast<double>(differ) / static_cast<double>(a.size());
}

// The share of pixels of `rendered` outside the colour range of the same
// pixel's 3 x 3 neighbourhood in `drawn` (widened by `level`): a renderer that
// resamples edges by a fraction of a pixel passes, a missing or moved shape
// or a wrong colour does not.
inline double NeighbourhoodMismatch(const std::vector<uint32_t> &rendered, const std::vector<uint32_t> &drawn, int w,
                                    int h, int level = 8) {
  if (rendered.size() != drawn.size() || rendered.size() != static_cast<size_t>(w) * h || rendered.empty()) return 1.0;
  size_t bad = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = rendered[static_cast<size_t>(y) * w + x];
      bool ok = true;
      for (int shift = 0; shift < 24 && ok; shift += 8) {
        int lo = 255, hi = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = std::clamp(x + dx, 0, w - 1), ny = std::clamp(y + dy, 0, h - 1);
            const int c = (drawn[static_cast<size_t>(ny) * w + nx] >> shift) & 0xFF;
            lo = std::min(lo, c);
            hi = std::max(hi, c);
          }
        const int c = (p >> shift) & 0xFF;
        ok = c >= lo - level && c <= hi + level;
      }
      bad += !ok;
    }
  return static_cast<double>(bad) / static_cast<double>(rendered.size());
}

}  // namespace qxtest
