// One MIME body part of a stored message: its header fields (unfolded, one
// logical field at a time), parameter lookup in a field, the byte range of
// its body, and decoding that body by its transfer encoding. Also the rules
// by which names from a message become names of files we write.
#ifndef QX_ATTACHKIT_MIMEPART_H
#define QX_ATTACHKIT_MIMEPART_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "codec.h"
#include "input.h"

namespace attachkit {

// An unfolded header field keeps at most this many bytes; the rest of a
// longer field is read and dropped.
constexpr size_t kFieldLimit = 8191;

// Reads one logical header field from the input's position: its first line
// and every continuation line (beginning with a blank or tab), line ends
// removed. Lines that begin at or after part_end are not read. An empty
// result means the header has ended: the blank line that ends it (CR LF or
// LF) has been stepped over and the input stands at the first body line.
// Otherwise the input stands at the next field's first line.
std::string ReadHeaderField(BufferedInput &in, uint64_t part_end);

// The value of parameter name in a field of items separated by ";" outside
// double quotes: an item matches when it begins with name (without regard to
// case) followed by "=" or ":" (blanks between are allowed). A value in double quotes runs to the
// next double quote, any other to the next ";"; blanks around it are removed.
// So "Content-Type: image/gif; name=x.gif" gives "image/gif" for
// "Content-Type" and "x.gif" for "name".
std::optional<std::string> LookupParameter(std::string_view field, std::string_view name);

bool EqualNoCase(std::string_view a, std::string_view b);

// What a part's header says, from its first field (which must be a
// Content-Type) and the fields after it.
struct PartHeader {
  std::string firstField;  // the Content-Type field, unfolded, with every parameter
  std::string type, subtype;
  bool hasSubtype = false;
  std::string encoding = "7Bit";         // the first Content-Transfer-Encoding
  std::optional<std::string> suggested;  // Filename of the first Content-Disposition
};

// Reads the part's first field at the input's position; none when it is not
// a Content-Type field.
std::optional<PartHeader> ReadPartType(BufferedInput &in, uint64_t part_end);
// Reads the remaining fields up to the blank line, keeping what PartHeader
// holds; the input then stands at the first body line.
void ReadRemainingFields(BufferedInput &in, uint64_t part_end, PartHeader &header);

// The body's end. The lines that begin before part_end belong to the part.
// When the boundary line follows them (directly, or after one blank line:
// the mail client passes the boundary's offset minus 2), the line end just
// before the boundary belongs to the boundary, as RFC 2046 has it, and is not
// data; CR LF and LF files alike. Without a boundary there the body is the
// whole lines, line ends kept.
uint64_t BodyEnd(RandomReader &file, uint64_t body_start, uint64_t part_end);

// Decodes [begin, end) of the file into sink; false when the file could not
// be read or the sink refused.
bool DecodeRange(RandomReader &file, uint64_t begin, uint64_t end, TransferEncoding encoding, ByteSink &sink);

// A name from a message made fit to be one file name in a directory we
// choose: only the part after the last "\" or "/", without leading dots and
// blanks, with control characters and those Windows names refuse
// (< > : " | ? *) replaced by "_", at most max characters. May be empty.
std::string SafeFileComponent(std::string_view name, size_t max = 254);

// The file extension of an image part: "gif" for gif, "jpg" for jpeg, else
// the first three letters or digits of the subtype; "ukn" for none.
std::string ImageExtension(const PartHeader &header);

}  // namespace attachkit

#endif
