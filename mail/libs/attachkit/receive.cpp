// ProcessMime: one MIME part of a stored message, acted on by its content
// type: images shown, audio/basic played, external bodies fetched or
// requested, everything else saved to a file the user names.
#include <array>

#include "attachkit.h"
#include "audio.h"
#include "module.h"
#include "present.h"

namespace attachkit {
namespace {

// Picture formats handed to the desktop's viewer by extension. Any other
// image type is offered for saving, so a part can never make us open, say,
// a program or a script it called an image.
bool IsKnownPicture(const std::string &extension) {
  static const std::array<const char *, 14> kPictures = {"gif", "jpg", "jpe", "png", "tif", "bmp", "pcx",
                                                         "xbm", "xpm", "pgm", "ppm", "pbm", "pnm", "ico"};
  for (const char *p : kPictures)
    if (EqualNoCase(extension, p)) return true;
  return false;
}

// Anything that is neither shown nor played: saved where the user says.
void SaveGeneric(Part &part) {
  part.ReadHeader();
  const auto path = AskSavePath(IDS_FILTER_OTHER, IDS_TITLE_OTHER, "ZIP", part.header.suggested, part.mailDir);
  if (path) DecodeBodyTo(part, *path);
}

void SaveImage(Part &part, const std::string &extension) {
  const auto path =
      AskSavePath(IDS_FILTER_GIF, IDS_TITLE_IMAGE, extension.c_str(), part.header.suggested, part.mailDir);
  if (path) DecodeBodyTo(part, *path);
}

int32_t HandleImage(Part &part, int32_t mode) {
  part.ReadHeader();
  const std::string extension = ImageExtension(part.header);
  if (mode == MIME_MODE_SAVE || !IsKnownPicture(extension)) {
    SaveImage(part, extension);
    return MIME_HANDLED;
  }
  OutputFile file;
  if (!CreateNumbered(part.mailDir, "QXIMG", extension, file)) {
    ErrorBox(nullptr, LoadText(IDS_CANNOT_CREATE));
    return MIME_HANDLED;
  }
  const std::string path = file.path();
  if (!DecodeBodyInto(part, file)) return MIME_HANDLED;
  if (EqualNoCase(extension, "gif") && ShowGif(path)) return MIME_HANDLED;
  if (!OpenWithShell(path)) {
    char text[512];
    std::snprintf(text, sizeof text, LoadText(IDS_NO_VIEWER).c_str(), extension.c_str());
    ErrorBox(nullptr, text);
  }
  return MIME_HANDLED;
}

// Decodes an audio/basic body into a wave file: the samples behind a 44-byte
// header that is written last, when their number is known.
enum class WaveResult { kWritten, kUnplayable, kFailed };
WaveResult DecodeWave(Part &part, OutputFile &file) {
  WaitCursor wait;
  if (!file.Seek(kWaveHeaderSize)) {
    file.Discard();
    ErrorBox(nullptr, LoadText(IDS_CANNOT_WRITE) + " " + file.path());
    return WaveResult::kFailed;
  }
  AudioBasicExpander expander(file);
  const bool decoded =
      DecodeRange(part.reader, part.bodyStart, part.bodyEnd, EncodingByName(part.header.encoding), expander);
  const bool finished = expander.Finish();
  if (!expander.supported()) {
    file.Discard();
    return WaveResult::kUnplayable;
  }
  const PcmFormat format = expander.format();
  const uint64_t samples = expander.sample_bytes();
  // Whole frames only; RIFF chunks are padded to an even size.
  const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(samples - samples % format.channels, UINT32_MAX - 64));
  bool ok = decoded && finished && file.Truncate(kWaveHeaderSize + data);
  if (ok && data % 2 != 0) {
    const uint8_t pad = 0;
    ok = file.Write(&pad, 1);
  }
  const auto header = MakeWaveHeader(format, data);
  ok = ok && file.WriteAt(0, header.data(), header.size());
  if (!ok) {
    file.Discard();
    ErrorBox(nullptr, LoadText(IDS_CANNOT_WRITE) + " " + file.path());
    return WaveResult::kFailed;
  }
  file.Close();
  return WaveResult::kWritten;
}

int32_t HandleAudio(Part &part, int32_t mode) {
  if (part.header.hasSubtype && !EqualNoCase(part.header.subtype, "basic")) return MIME_NOT_HANDLED;
  part.ReadHeader();
  OutputFile file;
  if (mode == MIME_MODE_SAVE) {
    const auto path = AskSavePath(IDS_FILTER_WAVE, IDS_TITLE_WAVE, "WAV", part.header.suggested, part.mailDir);
    if (!path) return MIME_HANDLED;
    if (!file.Create(*path, false)) {
      ErrorBox(nullptr, LoadText(IDS_CANNOT_CREATE));
      return MIME_HANDLED;
    }
    return DecodeWave(part, file) == WaveResult::kUnplayable ? MIME_NOT_HANDLED : MIME_HANDLED;
  }
  if (!CreateNumbered(part.mailDir, "QXWAV", "wav", file)) {
    ErrorBox(nullptr, LoadText(IDS_CANNOT_CREATE));
    return MIME_HANDLED;
  }
  const std::string path = file.path();
  switch (DecodeWave(part, file)) {
    case WaveResult::kUnplayable: return MIME_NOT_HANDLED;
    case WaveResult::kFailed: return MIME_HANDLED;
    case WaveResult::kWritten: break;
  }
  const bool played = PlayWaveFile(path);
  DeleteFileA(path.c_str());
  return played ? MIME_HANDLED : MIME_NOT_HANDLED;
}

int32_t Dispatch(Part &part, int32_t mode) {
  const PartHeader &h = part.header;
  if (EqualNoCase(h.type, "Message")) {
    if (h.hasSubtype && EqualNoCase(h.subtype, "External-body")) return ExternalBody(part);
    SaveGeneric(part);
    return MIME_NOT_HANDLED;
  }
  if (EqualNoCase(h.type, "image")) return HandleImage(part, mode);
  if (EqualNoCase(h.type, "audio")) return HandleAudio(part, mode);
  SaveGeneric(part);
  return MIME_HANDLED;
}

}  // namespace
}  // namespace attachkit

using namespace attachkit;

extern "C" QX_DLLEXPORT int32_t WINAPI ProcessMime(HANDLE file, int32_t partStart, uint32_t partEnd, LPCSTR mailDir,
                                                   LPCSTR userAddress, int32_t mode, HWND owner) {
  // A handle of our own with its own file pointer: the caller's never moves.
  HANDLE own = ReOpenFile(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (own == INVALID_HANDLE_VALUE) return MIME_NOT_HANDLED;
  Part part(own);
  part.end = partEnd;
  part.mailDir = mailDir ? mailDir : "";
  part.userAddress = userAddress ? userAddress : "";
  part.owner = owner;
  part.input.Seek(static_cast<uint32_t>(partStart));
  auto header = ReadPartType(part.input, part.end);
  if (!header) return MIME_NOT_HANDLED;
  part.header = std::move(*header);
  return Dispatch(part, mode);
}
