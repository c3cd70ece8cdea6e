// The display line reader: walks a stored message file and hands back one
// display line at a time with the file offset where it starts and the
// decoding it still needs, so the viewer, the printer and reply quoting keep
// two numbers per line instead of a decoded copy. Also the body decoders
// (quoted-printable, base64), the line wrap and the description of non-text
// parts.
#ifndef QX_MAIL_DISPLAYLINE_H
#define QX_MAIL_DISPLAYLINE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

// Position bit of an attachment line (a non-text part's header line or a
// uuencode "begin" line).
constexpr uint32_t kAttachmentLine = 0x80000000u;
// Decode flags of a display line.
constexpr uint32_t kDecodeQuotedPrintable = 0x1;
constexpr uint32_t kDecodeBase64 = 0x2;
constexpr int kBase64PhaseShift = 6;  // bits 6 and up: decoded bytes of the first group already shown
// Longest physical line piece read at once (a longer line comes in pieces),
// and the bound of every joined or decoded line.
constexpr size_t kDisplayLineLimit = 1023;

// A message file read through a buffer of its own, which keeps the read
// position: the reader's many small moves back (after a wrap, a soft break or
// a base64 group) and the viewer's reads of one line by its offset stay inside
// the buffer instead of costing a seek and a refill of the stream each.
class MessageFile {
 public:
  MessageFile() = default;
  // Opened for reading, untranslated; the buffer holds bufferSize bytes (at least 16).
  explicit MessageFile(const std::string &path, size_t bufferSize = 65536);
  ~MessageFile();
  MessageFile(const MessageFile &) = delete;
  MessageFile &operator=(const MessageFile &) = delete;
  bool IsOpen() const { return file_ != nullptr; }
  void Close();
  long Tell() const { return base_ + static_cast<long>(at_); }
  // False for a negative offset or a closed file; an offset past the end reads nothing.
  bool Seek(long offset);
  // The next byte, or EOF at the end of the file.
  int Get() { return at_ < size_ ? static_cast<unsigned char>(buffer_[at_++]) : Refill(); }
  // The bytes from the read position that are in the buffer (read in when
  // there are none; none at the end of the file), and moving past n of them.
  std::string_view Buffered();
  void Skip(size_t n) { at_ += std::min(n, size_ - at_); }
  // The stream underneath (for handing its handle on); its own position is not the reader's.
  FILE *Stream() const { return file_; }

 private:
  int Refill();
  FILE *file_ = nullptr;
  size_t bufferSize_ = 65536;
  std::vector<char> buffer_;
  long base_ = 0;       // file offset of buffer_[0]
  size_t size_ = 0;     // bytes in the buffer
  size_t at_ = 0;       // read position in the buffer
  long streamAt_ = -1;  // where the stream stands, -1 unknown
};

// The next display line of file, or nothing at the end. mimeFlags is the
// message's summary flags (bit 1: MIME processing). first resets the reader
// for a new message. position receives the line's file offset (with
// kAttachmentLine for an attachment line); decodeFlags (when given) what the
// caller still has to decode. The file is read untranslated: a line ending in
// CR LF is handed back ending in LF, and offsets are offsets in the file.
std::optional<std::string> NextDisplayLine(MessageFile &file, uint8_t mimeFlags, uint32_t &position, bool first,
                                           uint32_t *decodeFlags = nullptr);

// Cuts line for display at the configured word-wrap width: the count of
// characters cut off (they start the next display line), 0 when it fits.
size_t WrapAtSpace(std::string &line, int width);

// Decodes in place. With a file, quoted-printable soft breaks and base64
// text that ends before its decoded line feed continue with the following
// physical lines (each join bounded by kDisplayLineLimit).
void DecodeQuotedPrintableLine(std::string &text, MessageFile *file);
void DecodeBase64Line(std::string &text, int phase, MessageFile *file);
// One 4-character group into 3 bytes ("=" leaves its byte unwritten: 0).
void DecodeBase64Group(const char *group, unsigned char out[3]);
// The decoded text of a display line by its decode flags (no further reads).
std::string DecodeDisplayLine(const std::string &text, uint32_t decodeFlags);

// The text a display line shows, read again from file at its position with
// its decode flags: decoded (following soft breaks and base64 groups into
// later lines) or wrapped as the reader wrapped it, cut at its line feed. Attachment lines give their
// description without the line feed.
std::string DisplayLineAt(MessageFile &file, uint32_t position, uint32_t decodeFlags);
// The physical line at position (kAttachmentLine ignored) as the reader reads
// it: at most kDisplayLineLimit characters, CR LF as LF; empty past the end.
std::string PhysicalLineAt(MessageFile &file, uint32_t position);

// The description line of a non-text part from its Content-Type line; the
// file position is left where it was (folded parameters are read from it).
std::string DescribePart(MessageFile *file, const std::string &contentTypeLine);
// prefix followed by the value of the Content-Type parameter name, or by
// "Unknown"; folded continuation lines are read from file.
std::string GetTypeParameter(MessageFile *file, const std::string &text, const std::string &name,
                             const std::string &prefix);

#endif
