// Bytes per second through the terminal core (parser, control functions and
// grid) and through libvterm (parser, state and screen), on the same inputs:
// plain text, colour-heavy output and scrolling, taken from the recordings of
// the differential check and repeated to about 1 MB each.
#include <benchmark/benchmark.h>

extern "C" {
#include <vterm.h>
}

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "vt_core.h"

namespace {

std::string ReadRecording(const char *name) {
  std::ifstream in(std::string(QX_TERMINAL_CORPUS) + "/" + name + ".bin", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Repeat(const std::string &piece, size_t size) {
  std::string out;
  while (!piece.empty() && out.size() < size) out += piece;
  return out;
}

// Plain text: full screens of prose written from the home position, no scrolling.
const std::string &PlainCorpus() {
  static const std::string corpus = [] {
    std::string screen = "\x1b[H";
    const std::string words = "the quick brown fox jumps over the lazy dog while the terminal keeps ";
    for (int row = 0; row < 23; ++row) screen += words.substr(row % 7, 78 - row % 7) + "\r\n";
    return Repeat(screen, 1 << 20);
  }();
  return corpus;
}

// Colour-heavy: the recorded "ls --color" session and a rainbow of SGR changes.
const std::string &ColourCorpus() {
  static const std::string corpus = [] {
    std::string rainbow;
    for (int i = 0; i < 200; ++i)
      rainbow += "\x1b[" + std::to_string(30 + i % 8) + ";" + std::to_string(40 + (i / 8) % 8) + "mword" +
                 std::to_string(i) + "\x1b[0m " + (i % 10 == 9 ? "\r\n" : "");
    return Repeat(ReadRecording("ls-color") + rainbow, 1 << 20);
  }();
  return corpus;
}

// Scrolling: the recorded shell session and vttest screens, and short lines
// that scroll a region.
const std::string &ScrollCorpus() {
  static const std::string corpus = [] {
    std::string lines = "\x1b[r\x1b[24;1H";
    for (int i = 0; i < 300; ++i) lines += "line " + std::to_string(i) + "\r\n";
    lines += "\x1b[5;20r\x1b[20;1H";
    for (int i = 0; i < 300; ++i) lines += "region " + std::to_string(i) + "\n\r";
    lines += "\x1b[r";
    return Repeat(ReadRecording("shell-session") + ReadRecording("vttest-insdel") + lines, 1 << 20);
  }();
  return corpus;
}

void RunCore(benchmark::State &state, const std::string &corpus) {
  auto term = std::make_unique<VtTerminal>();
  TermInit(*term, 24, nullptr, nullptr, nullptr);
  term->st.s.autowrap = 1;
  for (auto _ : state) {
    VtParseBytes(*term, reinterpret_cast<const BYTE *>(corpus.data()), corpus.size());
    benchmark::DoNotOptimize(term->screen.cells[0][0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.size()));
}

void RunVterm(benchmark::State &state, const std::string &corpus) {
  VTerm *vt = vterm_new(24, 80);
  vterm_set_utf8(vt, 0);
  VTermScreen *screen = vterm_obtain_screen(vt);
  vterm_screen_reset(screen, 1);
  char replies[4096];
  for (auto _ : state) {
    // In slices, so that replies to the recordings' queries are drained.
    for (size_t done = 0; done < corpus.size(); done += 65536) {
      size_t n = std::min<size_t>(65536, corpus.size() - done);
      vterm_input_write(vt, corpus.data() + done, n);
      while (vterm_output_read(vt, replies, sizeof replies) > 0) {
      }
    }
    VTermScreenCell cell;
    vterm_screen_get_cell(screen, VTermPos{0, 0}, &cell);
    benchmark::DoNotOptimize(cell);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus.size()));
  vterm_free(vt);
}

void BM_CorePlain(benchmark::State &s) { RunCore(s, PlainCorpus()); }
void BM_VtermPlain(benchmark::State &s) { RunVterm(s, PlainCorpus()); }
void BM_CoreColour(benchmark::State &s) { RunCore(s, ColourCorpus()); }
void BM_VtermColour(benchmark::State &s) { RunVterm(s, ColourCorpus()); }
void BM_CoreScroll(benchmark::State &s) { RunCore(s, ScrollCorpus()); }
void BM_VtermScroll(benchmark::State &s) { RunVterm(s, ScrollCorpus()); }

BENCHMARK(BM_CorePlain);
BENCHMARK(BM_VtermPlain);
BENCHMARK(BM_CoreColour);
BENCHMARK(BM_VtermColour);
BENCHMARK(BM_CoreScroll);
BENCHMARK(BM_VtermScroll);

}  // namespace

BENCHMARK_MAIN();
