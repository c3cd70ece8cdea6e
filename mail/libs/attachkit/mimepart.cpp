// Part headers, parameters, body ranges and file names (see mimepart.h).
#include "mimepart.h"

#include <algorithm>
#include <array>
#include <vector>

namespace attachkit {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

void StripLineEnd(std::string &line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string ReadHeaderField(BufferedInput &in, uint64_t part_end) {
  std::string gathered, line;
  bool first = true;
  for (;;) {
    const uint64_t p = in.Tell();
    if (p >= part_end || !in.ReadLine(line, kFieldLimit + 2)) break;
    const bool blank = line.empty() || line[0] == '\r' || line[0] == '\n';
    if (!blank && (first || IsBlank(line[0]))) {
      StripLineEnd(line);
      if (gathered.size() < kFieldLimit) gathered.append(line, 0, kFieldLimit - gathered.size());
      first = false;
      continue;
    }
    // A blank line ends the header (and is stepped over, whatever its line
    // end); any other line is the next field and is read again next time.
    if (!(blank && first)) in.Seek(p);
    break;
  }
  return gathered;
}

std::optional<std::string> LookupParameter(std::string_view field, std::string_view name) {
  size_t i = 0;
  const size_t n = field.size();
  while (i < n) {
    while (i < n && IsBlank(field[i])) ++i;
    size_t after = i + name.size();
    const bool named = n - i > name.size() && EqualNoCase(field.substr(i, name.size()), name);
    while (named && after < n && IsBlank(field[after])) ++after;
    if (named && after < n && (field[after] == '=' || field[after] == ':')) {
      size_t j = after + 1;
      while (j < n && IsBlank(field[j])) ++j;
      std::string_view value;
      if (j < n && field[j] == '"') {
        const size_t close = field.find('"', j + 1);
        value = field.substr(j + 1, (close == std::string_view::npos ? n : close) - j - 1);
      } else {
        const size_t semi = field.find(';', j);
        value = field.substr(j, (semi == std::string_view::npos ? n : semi) - j);
      }
      while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
      return std::string(value);
    }
    // On to the next item: the next ";" outside double quotes.
    bool quoted = false;
    while (i < n && (quoted || field[i] != ';')) {
      if (field[i] == '"') quoted = !quoted;
      ++i;
    }
    ++i;
  }
  return std::nullopt;
}

std::optional<PartHeader> ReadPartType(BufferedInput &in, uint64_t part_end) {
  PartHeader header;
  header.firstField = ReadHeaderField(in, part_end);
  const auto type = LookupParameter(header.firstField, "Content-Type");
  if (!type) return std::nullopt;
  const size_t slash = type->find('/');
  header.type = type->substr(0, slash);
  if (slash != std::string::npos) {
    header.subtype = type->substr(slash + 1);
    header.hasSubtype = true;
  }
  return header;
}

void ReadRemainingFields(BufferedInput &in, uint64_t part_end, PartHeader &header) {
  bool have_encoding = false;
  for (;;) {
    const std::string field = ReadHeaderField(in, part_end);
    if (field.empty()) return;
    if (!have_encoding) {
      if (auto encoding = LookupParameter(field, "Content-Transfer-Encoding")) {
        header.encoding = *encoding;
        have_encoding = true;
      }
    }
    if (!header.suggested && LookupParameter(field, "Content-Disposition"))
      header.suggested = LookupParameter(field, "Filename");
  }
}

uint64_t BodyEnd(RandomReader &file, uint64_t body_start, uint64_t part_end) {
  if (part_end <= body_start) return body_start;
  // Lines that begin before part_end are the part's; find where the first
  // line at or after it begins.
  std::array<uint8_t, 4096> chunk;
  uint64_t line = part_end;
  uint8_t before = 0;
  if (file.ReadAt(part_end - 1, &before, 1) == 1 && before != '\n') {
    for (uint64_t at = part_end;;) {
      const long long n = file.ReadAt(at, chunk.data(), chunk.size());
      if (n <= 0) return at;  // the file ends inside that line: the body runs to its end
      const auto *lf = std::find(chunk.data(), chunk.data() + n, '\n');
      if (lf != chunk.data() + n) {
        line = at + static_cast<uint64_t>(lf - chunk.data()) + 1;
        break;
      }
      at += static_cast<uint64_t>(n);
    }
  }
  // The boundary line is there, or after one blank line (the mail client's
  // end lies two bytes before the boundary line): the line end before the
  // boundary belongs to it.
  const long long n = file.ReadAt(line, chunk.data(), chunk.size());
  const std::string_view ahead(reinterpret_cast<const char *>(chunk.data()), n > 0 ? static_cast<size_t>(n) : 0);
  uint64_t boundary = UINT64_MAX;
  if (ahead.starts_with("--")) {
    boundary = line;
  } else {
    const size_t skip = ahead.starts_with("\r\n") ? 2 : ahead.starts_with("\n") ? 1 : 0;
    if (skip > 0 && ahead.substr(skip).starts_with("--")) boundary = line + skip;
  }
  if (boundary == UINT64_MAX) return line;  // no boundary: whole lines, line ends kept
  uint64_t end = boundary;
  uint8_t ending[2] = {};
  if (end - body_start >= 2 && file.ReadAt(end - 2, ending, 2) == 2 && ending[0] == '\r' && ending[1] == '\n') {
    end -= 2;
  } else if (end > body_start && file.ReadAt(end - 1, ending, 1) == 1 && ending[0] == '\n') {
    end -= 1;
  }
  return std::max(end, body_start);
}

bool DecodeRange(RandomReader &file, uint64_t begin, uint64_t end, TransferEncoding encoding, ByteSink &sink) {
  auto decoder = MakeDecoder(encoding, sink);
  std::vector<uint8_t> chunk(65536);
  bool read_ok = true;
  for (uint64_t at = begin; at < end;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), end - at));
    const long long n = file.ReadAt(at, chunk.data(), want);
    if (n <= 0) {
      read_ok = n == 0;
      break;
    }
    decoder->Feed(chunk.data(), static_cast<size_t>(n));
    at += static_cast<uint64_t>(n);
  }
  return decoder->Finish() && read_ok;
}

std::string SafeFileComponent(std::string_view name, size_t max) {
  const size_t cut = name.find_last_of("\\/");
  if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
  while (!name.empty() && (name.front() == '.' || IsBlank(name.front()))) name.remove_prefix(1);
  while (!name.empty() && (name.back() == '.' || IsBlank(name.back()))) name.remove_suffix(1);
  std::string safe;
  for (char c : name) {
    if (safe.size() == max) break;
    const auto u = static_cast<unsigned char>(c);
    const bool refused = u < 32 || u == 127 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos;
    safe.push_back(refused ? '_' : c);
  }
  return safe;
}

std::string ImageExtension(const PartHeader &header) {
  if (!header.hasSubtype || header.subtype.empty()) return "ukn";
  if (EqualNoCase(header.subtype, "gif")) return "gif";
  if (EqualNoCase(header.subtype, "jpeg")) return "jpg";
  std::string ext;
  for (size_t i = 0; i < header.subtype.size() && i < 3; ++i)
    if (IsAlnum(header.subtype[i])) ext.push_back(header.subtype[i]);
  return ext.empty() ? "ukn" : ext;
}

}  // namespace attachkit
