// SendMime: the MIME header lines and base64 body of one attachment, written
// into the outgoing message at the caller's file position: a file by its
// extension, or a special attachment (FTP pointer, mail-server pointer, voice
// recording) from its global memory block.
#include <cstring>
#include <string>
#include <string_view>

#include "attachkit.h"
#include "audio.h"
#include "mulaw.h"
#include "present.h"
#include "special.h"

namespace attachkit {
namespace {

// Text for a header line: control characters, double quotes and backslashes
// (which would end or escape a quoted value, or start a new header line)
// become "_".
std::string HeaderSafe(std::string_view text) {
  std::string safe;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    safe.push_back(u < 32 || u == 127 || c == '"' || c == '\\' ? '_' : c);
  }
  return safe;
}

// The extension as a MIME parameter token: letters and digits only.
std::string TypeToken(std::string_view extension) {
  std::string token;
  for (char c : extension)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) token.push_back(c);
  return token.empty() ? "UKN" : token;
}

enum class Kind { kImage, kBitmap, kWave, kSunAudio, kOther };

Kind KindOf(std::string_view extension) {
  if (EqualNoCase(extension, "GIF")) return Kind::kImage;
  if (EqualNoCase(extension, "BMP")) return Kind::kBitmap;
  if (EqualNoCase(extension, "WAV")) return Kind::kWave;
  if (EqualNoCase(extension, "AU")) return Kind::kSunAudio;
  return Kind::kOther;
}

class PartWriter {
 public:
  explicit PartWriter(HANDLE file) : sink_(file), lines_(sink_) {}
  void Text(std::string_view text) {
    if (ok_) ok_ = sink_.Write(reinterpret_cast<const uint8_t *>(text.data()), text.size());
  }
  // Header lines of a base64 attachment, ending with the blank line.
  void Headers(const std::string &content_type, const std::string &file_name) {
    Text(content_type + "\r\n");
    Text("Content-Transfer-Encoding: base64\r\n");
    Text("Content-Disposition: attachment; Filename=\"" + HeaderSafe(file_name) + "\"\r\n\r\n");
  }
  Base64LineWriter &lines() { return lines_; }
  bool Finish() { return lines_.Finish() && ok_; }

 private:
  HandleSink sink_;
  Base64LineWriter lines_;
  bool ok_ = true;
};

// The header of a part whose body may not come: it is written just before
// the body's first line, so a converter that gives up leaves nothing behind.
class PendingHeader final : public ByteSink {
 public:
  PendingHeader(HANDLE file, const std::string &content_type, const std::string &file_name)
      : sink_(file),
        header_(content_type + "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; Filename=\"" +
                HeaderSafe(file_name) + "\"\r\n\r\n"),
        lines_(*this) {}
  bool Write(const uint8_t *data, size_t size) override {
    if (!header_.empty()) {
      if (!sink_.Write(reinterpret_cast<const uint8_t *>(header_.data()), header_.size())) return false;
      header_.clear();
    }
    return sink_.Write(data, size);
  }
  Base64LineWriter &lines() { return lines_; }
  bool Finish() { return lines_.Finish(); }

 private:
  HandleSink sink_;
  std::string header_;
  Base64LineWriter lines_;
};

bool CopyAsBase64(RandomReader &file, Base64LineWriter &out) {
  std::vector<uint8_t> chunk(65536 - 65536 % Base64LineWriter::kGroup);
  for (uint64_t at = 0;;) {
    const long long n = file.ReadAt(at, chunk.data(), chunk.size());
    if (n < 0) return false;
    if (n == 0) return true;
    out.Write(chunk.data(), static_cast<size_t>(n));
    at += static_cast<uint64_t>(n);
  }
}

int32_t SendFile(HANDLE out, const char *entry) {
  const std::string path = entry;
  const size_t slash = path.find_last_of("\\/");
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.rfind('.');
  const std::string extension = dot == std::string::npos ? "UKN" : base.substr(dot + 1);
  OwnedHandle handle(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!handle.valid()) return -1;
  DWORD high = 0;
  const DWORD low = GetFileSize(handle.get(), &high);
  const uint64_t size = (uint64_t{high} << 32) | low;
  HandleReader reader(handle.get());
  PartWriter part(out);
  const std::string as_is = "Content-Type: application/octet-stream; type=" + TypeToken(extension);
  bool read_ok = true;
  switch (KindOf(extension)) {
    case Kind::kImage:
      part.Headers("Content-Type: image/gif", base.substr(0, dot + 1) + "GIF");
      read_ok = CopyAsBase64(reader, part.lines());
      break;
    case Kind::kBitmap: {
      // A bitmap goes as a GIF picture when it can be converted; the part's
      // header is written only once the first line of the picture is there.
      PendingHeader pending(out, "Content-Type: image/gif", base.substr(0, dot + 1) + "GIF");
      if (EncodeBitmapAsGif(reader, size, pending.lines()) == GifEncodeResult::kEncoded)
        return pending.Finish() ? 0 : -1;
      part.Headers(as_is, base);
      read_ok = CopyAsBase64(reader, part.lines());
      break;
    }
    case Kind::kWave:
      // A wave file goes as Sun audio when it is PCM the conversion knows;
      // any other is sent as it is rather than lost.
      if (auto wave = ReadWaveInfo(reader, size)) {
        part.Headers("Content-Type: audio/basic", base);
        read_ok = ConvertWaveToSun(reader, *wave, part.lines());
      } else {
        part.Headers(as_is, base);
        read_ok = CopyAsBase64(reader, part.lines());
      }
      break;
    case Kind::kSunAudio:
      part.Headers("Content-Type: audio/basic", base);
      read_ok = CopyAsBase64(reader, part.lines());
      break;
    case Kind::kOther:
      part.Headers(as_is, base);
      read_ok = CopyAsBase64(reader, part.lines());
      break;
  }
  return part.Finish() && read_ok ? 0 : -1;
}

int32_t SendFtpPointer(HANDLE out, HGLOBAL block) {
  const auto pointer = ReadFtpPointer(block);
  if (!pointer) return -1;
  PartWriter part(out);
  part.Text("Content-Type: message/external-body;\r\n");
  part.Text(pointer->anonymous ? "\taccess-type=anon-ftp;\r\n" : "\taccess-type=ftp;\r\n");
  part.Text("\tsite=\"" + HeaderSafe(pointer->site) + "\";\r\n");
  part.Text("\tdirectory=\"" + HeaderSafe(pointer->directory) + "\";\r\n");
  part.Text("\tname=\"" + HeaderSafe(pointer->name) + "\";\r\n");
  // The part's header ends; its body is the (empty) header of the file.
  part.Text(pointer->binary ? "\tmode=image\r\n\r\n\r\n" : "\tmode=ascii\r\n\r\n\r\n");
  return part.Finish() ? 0 : -1;
}

int32_t SendMailPointer(HANDLE out, HGLOBAL block) {
  const auto pointer = ReadMailPointer(block);
  if (!pointer) return -1;
  PartWriter part(out);
  part.Text("Content-Type: message/external-body;\r\n");
  part.Text("\taccess-type=mail-server;\r\n");
  part.Text("\tserver=\"" + HeaderSafe(pointer->server) + "\"\r\n\r\n");
  // The body is the header of the message to send (empty), then its text.
  part.Text("\r\n");
  part.Text(pointer->commands);
  part.Text("\r\n");
  return part.Finish() ? 0 : -1;
}

int32_t SendRecording(HANDLE out, HGLOBAL first) {
  PartWriter part(out);
  part.Text("Content-Type: audio/basic\r\nContent-Transfer-Encoding: base64\r\n\r\n");
  const bool walked = ForEachRecordedBlock(first, [&](const uint8_t *samples, size_t count) {
    for (size_t i = 0; i < count; ++i) part.lines().Put(kMulawCompress[samples[i]]);
  });
  return part.Finish() && walked ? 0 : -1;
}

}  // namespace
}  // namespace attachkit

using namespace attachkit;

extern "C" QX_DLLEXPORT int32_t WINAPI SendMime(HANDLE file, LPSTR entry, int32_t type) {
  if (!entry) return -1;
  if (type == MIME_ATTACH_FILE) return SendFile(file, entry);
  if (type < MIME_ATTACH_FTP || type > MIME_ATTACH_VOICE) return 0;
  const auto block = BlockOfEntry(entry);
  if (!block) return -1;
  switch (type) {
    case MIME_ATTACH_FTP: return SendFtpPointer(file, *block);
    case MIME_ATTACH_MAILSERVER: return SendMailPointer(file, *block);
    default: return SendRecording(file, *block);
  }
}
