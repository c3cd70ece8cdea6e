// Fuzz target of the display line reader: any bytes as a stored message, read
// through buffers of several sizes (so lines and groups fall across refills),
// every display line decoded as reply quoting decodes it and read again by its
// position as the viewer and the printer paint it: both must give the same
// text, and a buffer of 64 KiB must read the same lines. The first input byte
// picks the MIME flag, the buffer size and the word-wrap width.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "displayline.h"
#include "settings.h"

namespace {

MAIL_SETTINGS g_fuzzSettings;

// The file the message is written to for the reader: made on first use and
// removed when the run ends, so runs leave nothing behind in /tmp.
char g_scratch[] = "/tmp/displayline-fuzz-XXXXXX";

const char *ScratchPath() {
  static const bool made = [] {
    const int fd = mkstemp(g_scratch);
    if (fd < 0) abort();
    close(fd);
    std::atexit([] { unlink(g_scratch); });
    return true;
  }();
  (void)made;
  return g_scratch;
}

struct Line {
  uint32_t position, flags;
  std::string shown;  // as quoting decodes it, cut at its line end
  bool operator==(const Line &) const = default;
};

// Every display line of the file (at most 20,000), each checked to be bounded
// and to lie in the file.
std::vector<Line> ReadLines(MessageFile &file, uint8_t mimeFlags, size_t size) {
  std::vector<Line> lines;
  uint32_t position = 0, flags = 0;
  for (auto text = NextDisplayLine(file, mimeFlags, position, true, &flags); text && lines.size() < 20000;
       text = NextDisplayLine(file, mimeFlags, position, false, &flags)) {
    if (text->size() > 4 * kDisplayLineLimit) abort();  // every line is bounded
    if ((position & ~kAttachmentLine) > size) abort();  // positions lie in the file
    std::string shown = DecodeDisplayLine(*text, flags);
    shown.resize(std::min(shown.size(), shown.find('\n')));
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    lines.push_back({position, flags, std::move(shown)});
  }
  return lines;
}

}  // namespace

// The reader takes only the word-wrap width from the settings, and opens the
// message through the layer's fopen (its path is a plain one here).
MAIL_SETTINGS &Settings() { return g_fuzzSettings; }
extern "C" FILE *qxcrt_fopen(const char *path, const char *mode) { return fopen(path, mode); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  ++data;
  --size;
  const uint8_t mimeFlags = (control & 1) ? 0x02 : 0;
  const size_t bufferSize = 16u << ((control >> 1) & 3);  // 16 .. 128 bytes
  g_fuzzSettings.wordWrap = 40 + ((control >> 3) & 31) * 3;
  FILE *out = fopen(ScratchPath(), "wb");
  if (!out) abort();
  if (size && fwrite(data, 1, size, out) != size) abort();
  fclose(out);

  MessageFile file(ScratchPath(), bufferSize);
  if (!file.IsOpen()) abort();
  const std::vector<Line> lines = ReadLines(file, mimeFlags, size);
  for (const Line &l : lines) {
    const std::string painted = DisplayLineAt(file, l.position, l.flags);
    if (!(l.position & kAttachmentLine) && painted != l.shown) abort();
    PhysicalLineAt(file, l.position);
  }
  // A buffer of any size reads the same lines as a large one.
  MessageFile large(ScratchPath(), 65536);
  if (ReadLines(large, mimeFlags, size) != lines) abort();
  std::string copy(reinterpret_cast<const char *>(data), std::min<size_t>(size, 2 * kDisplayLineLimit));
  DecodeQuotedPrintableLine(copy, nullptr);
  copy.assign(reinterpret_cast<const char *>(data), std::min<size_t>(size, 2 * kDisplayLineLimit));
  DecodeBase64Line(copy, control >> 6, nullptr);
  copy.assign(reinterpret_cast<const char *>(data), std::min<size_t>(size, 2 * kDisplayLineLimit));
  WrapAtSpace(copy, g_fuzzSettings.wordWrap);
  return 0;
}
