// The attachkit core without the operating system: transfer-encoding decoders
// (tables of cases, and every case fed in every split), the base64 line rules
// of sending, part headers and parameters, body ranges, file names, the
// mu-law tables and both sound conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio.h"
#include "codec.h"
#include "mimepart.h"
#include "mulaw.h"

using namespace attachkit;

namespace {

class StringSink final : public ByteSink {
 public:
  bool Write(const uint8_t *data, size_t size) override {
    bytes.append(reinterpret_cast<const char *>(data), size);
    return true;
  }
  std::string bytes;
};

std::string Decode(TransferEncoding encoding, const std::string &body) {
  StringSink sink;
  auto decoder = MakeDecoder(encoding, sink);
  decoder->Feed(reinterpret_cast<const uint8_t *>(body.data()), body.size());
  EXPECT_TRUE(decoder->Finish());
  return sink.bytes;
}

// The same body fed in two pieces split at every position gives the same bytes.
void ExpectSplitInvariant(TransferEncoding encoding, const std::string &body, const std::string &expected) {
  for (size_t cut = 0; cut <= body.size(); ++cut) {
    StringSink sink;
    auto decoder = MakeDecoder(encoding, sink);
    decoder->Feed(reinterpret_cast<const uint8_t *>(body.data()), cut);
    decoder->Feed(reinterpret_cast<const uint8_t *>(body.data()) + cut, body.size() - cut);
    decoder->Finish();
    ASSERT_EQ(sink.bytes, expected) << "split at " << cut << " of " << body;
  }
}

struct DecodeCase {
  const char *name;
  std::string body, expected;
};

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

TEST(Base64Decoder, Cases) {
  const DecodeCase cases[] = {
      {"three letters", "QUJD", "ABC"},
      {"one pad", "QUI=", "AB"},
      {"two pads", "QQ==", "A"},
      {"lines", "QUJD\r\nREVG\r\n", "ABCDEF"},
      {"LF lines", "QUJD\nREVG\n", "ABCDEF"},
      {"group across lines", "QUJDR\r\nA==\r\n", "ABCD"},
      {"pad on the next line", "YWJjZA=\r\n=\r\n", "abcd"},
      {"no padding at the end", "YWJjZA", "abcd"},
      {"three characters at the end", "YWJjZGU", "abcde"},
      {"one stray character at the end", "QUJDR", "ABC"},
      {"junk is passed over", "QU*JD \t!REVG", "ABCDEF"},
      {"pad ends the line, not the body", "QQ==QUJD\r\nREVG\r\n", "ADEF"},
      {"line of pads after a full group", "QUJD\r\n===\r\n", "ABC"},
      {"empty", "", ""},
      {"binary with NULs", "AAEAAgD/\r\n", Bytes({0, 1, 0, 2, 0, 255})},
      {"76-character lines", std::string(76, 'A') + "\r\n" + std::string(76, '/') + "\r\n",
       std::string(57, '\0') + std::string(57, '\xff')},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Decode(TransferEncoding::kBase64, c.body), c.expected) << c.name;
    ExpectSplitInvariant(TransferEncoding::kBase64, c.body, c.expected);
  }
}

TEST(QuotedPrintableDecoder, Cases) {
  const DecodeCase cases[] = {
      {"escapes", "a=3D=3db", "a==b"},
      {"soft break", "abc=\r\ndef", "abcdef"},
      {"soft break with LF", "abc=\ndef", "abcdef"},
      {"equals at the end of the body", "abc=", "abc"},
      {"hard line ends become CR LF", "one\ntwo\r\nthree", "one\r\ntwo\r\nthree"},
      {"trailing blanks are data", "abc  \r\ndef", "abc  \r\ndef"},
      {"equals then blanks is no soft break", "abc=  \r\ndef", "abc=  \r\ndef"},
      {"not hexadecimal", "a=zzb", "a=zzb"},
      {"one digit at the end", "a=4", "a=4"},
      {"one digit then text", "a=4x", "a=4x"},
      {"lone CR is data", "a\rb", "a\rb"},
      {"equals CR then text", "a=\rb", "a=\rb"},
      {"binary with NULs", "=00=01=FF=0D=0A", Bytes({0, 1, 255, 13, 10})},
      {"long line", std::string(9000, 'x') + "=41", std::string(9000, 'x') + "A"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Decode(TransferEncoding::kQuotedPrintable, c.body), c.expected) << c.name;
    ExpectSplitInvariant(TransferEncoding::kQuotedPrintable, c.body, c.expected);
  }
}

TEST(UudecodeDecoder, Cases) {
  // "Cat" is "#0V%T"; "hello world" is "+:&5L;&\\@=V]R;&0".
  const DecodeCase cases[] = {
      {"with end", "begin 644 x\r\n#0V%T\r\n`\r\nend\r\n", "Cat"},
      {"end with LF only", "begin 644 x\n#0V%T\n`\nend\n", "Cat"},
      {"without end", "begin 644 x\r\n#0V%T\r\n`\r\n", "Cat"},
      {"end without a line end", "begin 644 x\r\n#0V%T\r\nend", "Cat"},
      {"END in capitals", "BEGIN 644 x\r\n#0V%T\r\nEND\r\n#0V%T\r\n", "Cat"},
      {"text before begin", "some text\r\nbegin 600 y\r\n#0V%T\r\nend\r\n", "Cat"},
      {"lines after end", "begin 644 x\r\n#0V%T\r\nend\r\n#0V%T\r\n", "Cat"},
      {"no begin", "#0V%T\r\nend\r\n", ""},
      {"trailing blanks cut by a mailer", "begin 644 x\r\n+:&5L;&\\@=V]R;&0\r\nend\r\n", "hello world"},
      {"short line padded with blanks", "begin 644 x\r\n#0V\r\nend\r\n", Bytes({'C', '`', 0})},
      {"count larger than the line", "begin 644 x\r\nM\r\nend\r\n", std::string(45, '\0')},
      {"empty lines", "begin 644 x\r\n\r\n\n#0V%T\r\nend\r\n", "Cat"},
      {"long line", "begin 644 x\r\n#0V%T" + std::string(9000, 'A') + "\r\nend\r\n", "Cat"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Decode(TransferEncoding::kUuencode, c.body), c.expected) << c.name;
    ExpectSplitInvariant(TransferEncoding::kUuencode, c.body, c.expected);
  }
}

TEST(TransferEncoding, ByName) {
  EXPECT_EQ(EncodingByName("BASE64"), TransferEncoding::kBase64);
  EXPECT_EQ(EncodingByName("Quoted-Printable"), TransferEncoding::kQuotedPrintable);
  EXPECT_EQ(EncodingByName("X-UUENCODE"), TransferEncoding::kUuencode);
  for (const char *name : {"7Bit", "8bit", "binary", "x-gzip", ""})
    EXPECT_EQ(EncodingByName(name), TransferEncoding::kIdentity) << name;
  const std::string binary = Bytes({0, 'a', '\r', '\n', 255, 0});
  EXPECT_EQ(Decode(TransferEncoding::kIdentity, binary), binary);
}

std::string Encode(const std::string &data) {
  StringSink sink;
  Base64LineWriter writer(sink);
  writer.Write(reinterpret_cast<const uint8_t *>(data.data()), data.size());
  EXPECT_TRUE(writer.Finish());
  return sink.bytes;
}

TEST(Base64LineWriter, LinesOf54Bytes) {
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Encode("A"), "QQ==\r\n");
  const std::string g54(54, 'x'), line54 = std::string(72, 0).replace(0, 72, Encode(g54).substr(0, 72));
  EXPECT_EQ(Encode(g54), line54 + "\r\n===\r\n");
  const std::string e55 = Encode(std::string(55, 'x'));
  EXPECT_EQ(e55, line54 + "\r\neA==\r\n");
  EXPECT_EQ(Encode(std::string(108, 'x')), line54 + "\r\n" + line54 + "\r\n===\r\n");
  // Byte by byte and in one piece alike; every line 72 characters but the last.
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7));
  StringSink sink;
  Base64LineWriter writer(sink);
  for (char c : data) writer.Put(static_cast<uint8_t>(c));
  writer.Finish();
  EXPECT_EQ(sink.bytes, Encode(data));
  EXPECT_EQ(Decode(TransferEncoding::kBase64, sink.bytes), data);
}

// ---------------------------------------------------------------------------
// Headers
// ---------------------------------------------------------------------------

TEST(HeaderFieldReader, UnfoldsAndStopsAtTheBlankLine) {
  for (const char *eol : {"\r\n", "\n"}) {
    const std::string e = eol;
    const std::string text = "Content-Type: image/gif;" + e + "\tname=\"a b.gif\"" + e + "X-One: 1" + e + e + "BODY";
    MemoryReader reader(text);
    BufferedInput in(reader);
    EXPECT_EQ(ReadHeaderField(in, text.size()), "Content-Type: image/gif;\tname=\"a b.gif\"");
    EXPECT_EQ(ReadHeaderField(in, text.size()), "X-One: 1");
    EXPECT_EQ(ReadHeaderField(in, text.size()), "");
    EXPECT_EQ(in.Tell(), text.size() - 4) << "stands at the body with line ends " << (e.size() == 2 ? "CRLF" : "LF");
  }
}

TEST(HeaderFieldReader, BoundedByTheFieldLimitAndThePartEnd) {
  // A field far longer than the line buffer: kept to the limit, the rest
  // read and dropped, and the reader goes on (it never stops making progress).
  std::string text = "Content-Type: text/plain; x=" + std::string(20000, 'y') + "\r\n";
  for (int i = 0; i < 3; ++i) text += " " + std::string(5000, 'z') + "\r\n";
  text += "Next: 1\r\n\r\n";
  MemoryReader reader(text);
  BufferedInput in(reader);
  EXPECT_EQ(ReadHeaderField(in, text.size()).size(), kFieldLimit);
  EXPECT_EQ(ReadHeaderField(in, text.size()), "Next: 1");
  // Lines beginning at or after the part's end are not read.
  const std::string two = "A: 1\r\nB: 2\r\n";
  MemoryReader r2(two);
  BufferedInput in2(r2);
  EXPECT_EQ(ReadHeaderField(in2, 6), "A: 1");
  EXPECT_EQ(ReadHeaderField(in2, 6), "");
}

TEST(LookupParameter, Cases) {
  struct Case {
    const char *field, *name;
    std::optional<std::string> value;
  } cases[] = {
      {"Content-Type: image/gif; name=x.gif", "Content-Type", "image/gif"},
      {"Content-Type: image/gif; name=x.gif", "name", "x.gif"},
      {"Content-Type: image/gif; NAME = x.gif  ", "name", "x.gif"},
      {"Content-Disposition: attachment;\tfilename=\"a b; c.txt\"", "Filename", "a b; c.txt"},
      {"Content-Type: x/y; a=\"1;2\"; b=3", "b", "3"},
      {"Content-Type: x/y; filename=z", "name", std::nullopt},
      {"Content-Type: x/y; name", "name", std::nullopt},
      {"Content-Type: x/y; name=\"unterminated", "name", "unterminated"},
      {"Content-Type: x/y; name=", "name", ""},
      {"Content-Transfer-Encoding: base64", "Content-Transfer-Encoding", "base64"},
  };
  for (const auto &c : cases) EXPECT_EQ(LookupParameter(c.field, c.name), c.value) << c.field << " / " << c.name;
}

TEST(PartHeader, TypeEncodingAndSuggestedName) {
  const std::string part =
      "Content-Type: IMAGE/JPEG; name=\"x\"\r\nContent-Transfer-Encoding: base64\r\n"
      "Content-Transfer-Encoding: 7bit\r\nContent-Disposition: attachment;\r\n\tfilename=\"my cat.jpg\"\r\n"
      "Content-Description: a cat\r\n\r\n/9j/\r\n";
  MemoryReader reader(part);
  BufferedInput in(reader);
  auto h = ReadPartType(in, part.size());
  ASSERT_TRUE(h);
  EXPECT_EQ(h->type, "IMAGE");
  EXPECT_EQ(h->subtype, "JPEG");
  ReadRemainingFields(in, part.size(), *h);
  EXPECT_EQ(h->encoding, "base64");
  EXPECT_EQ(h->suggested, "my cat.jpg");
  EXPECT_EQ(in.Tell(), part.size() - 6);
  const std::string not_first = "Content-Transfer-Encoding: base64\r\nContent-Type: image/gif\r\n\r\n";
  MemoryReader r2(not_first);
  BufferedInput in2(r2);
  EXPECT_FALSE(ReadPartType(in2, not_first.size()));
}

TEST(BodyEnd, TheLastLineEndBelongsToTheBoundary) {
  // body "ab\r\ncd" then the boundary line.
  const std::string crlf = "ab\r\ncd\r\n--b--\r\n";
  const std::string lf = "ab\ncd\n--b--\n";
  // body "ab\r\n" (its own line end is data) then the boundary line.
  const std::string crlf_eol = "ab\r\n\r\n--b--\r\n";
  const std::string lf_eol = "ab\n\n--b--\n";
  const std::string no_boundary = "ab\r\ncd\r\nef\r\n";
  struct Case {
    const std::string *text;
    uint64_t part_end, body_end;
  } cases[] = {
      {&crlf, 6, 6},         // the boundary's offset minus 2, as the mail client passes it
      {&crlf, 8, 6},         // the boundary's offset
      {&crlf, 5, 6},         // inside the last line: whole lines are read
      {&lf, 4, 5},           // LF file, the boundary's offset minus 2
      {&lf, 6, 5},           // LF file, the boundary's offset
      {&crlf_eol, 4, 4},     // minus 2
      {&crlf_eol, 6, 4},     // the boundary's offset
      {&lf_eol, 2, 3},       // minus 2 lands inside the data's line: the whole line is read
      {&lf_eol, 4, 3},       // the boundary's offset
      {&no_boundary, 6, 8},  // no boundary: whole lines with their line ends
      {&crlf, 0, 0},         // nothing
  };
  for (const auto &c : cases) {
    MemoryReader reader(*c.text);
    EXPECT_EQ(BodyEnd(reader, 0, c.part_end), c.body_end) << *c.text << " end " << c.part_end;
  }
  // An end beyond the file: the body runs to the file's end.
  MemoryReader reader(crlf);
  EXPECT_GE(BodyEnd(reader, 0, 1000), crlf.size());
}

TEST(FileNames, SafeComponentsAndImageExtensions) {
  const std::pair<const char *, const char *> names[] = {
      {"report.txt", "report.txt"},
      {"..\\..\\win.ini", "win.ini"},
      {"/etc/passwd", "passwd"},
      {"..hidden", "hidden"},
      {"a:b*c?.txt", "a_b_c_.txt"},
      {"tab\there", "tab_here"},
      {"dir/", ""},
      {"  spaced  ", "spaced"},
      {"my cat.jpg", "my cat.jpg"},
  };
  for (const auto &[in, out] : names) EXPECT_EQ(SafeFileComponent(in), out) << in;
  EXPECT_EQ(SafeFileComponent(std::string(400, 'n')).size(), 254u);
  const std::pair<const char *, const char *> types[] = {
      {"gif", "gif"},     {"JPEG", "jpg"}, {"tiff", "tif"}, {"png", "png"},
      {"x-ms-bmp", "xm"}, {"../e", "ukn"}, {"", "ukn"},
  };
  for (const auto &[subtype, ext] : types) {
    PartHeader h;
    h.subtype = subtype;
    h.hasSubtype = true;
    EXPECT_EQ(ImageExtension(h), ext) << subtype;
  }
  EXPECT_EQ(ImageExtension(PartHeader{}), "ukn");
}

// ---------------------------------------------------------------------------
// Sound
// ---------------------------------------------------------------------------

TEST(Mulaw, ExpansionTableIsG711ShiftedToUnsignedBytes) {
  EXPECT_EQ(kMulawExpand[0], 2);
  EXPECT_EQ(kMulawExpand[127], 128);
  EXPECT_EQ(kMulawExpand[128], 253);
  EXPECT_EQ(kMulawExpand[255], 128);
  for (int u = 0; u < 256; ++u) {
    const int linear = MulawToLinear(static_cast<uint8_t>(u));
    EXPECT_EQ(kMulawExpand[u], (linear >> 8) + 128) << u;
  }
  // Known G.711 points.
  EXPECT_EQ(MulawToLinear(0x00), -32124);
  EXPECT_EQ(MulawToLinear(0x80), 32124);
  EXPECT_EQ(MulawToLinear(0xFF), 0);
  // The compression table's corners and its monotony around silence.
  EXPECT_EQ(kMulawCompress[0], 0);
  EXPECT_EQ(kMulawCompress[127], 126);
  EXPECT_EQ(kMulawCompress[128], 255);
  EXPECT_EQ(kMulawCompress[255], 128);
  EXPECT_EQ(kMulawCompress[94], 30);
  EXPECT_EQ(kMulawCompress[95], 31);
}

std::string Expand(const std::string &decoded, PcmFormat *format = nullptr, bool *ok = nullptr) {
  StringSink sink;
  AudioBasicExpander expander(sink);
  expander.Write(reinterpret_cast<const uint8_t *>(decoded.data()), decoded.size());
  const bool finished = expander.Finish();
  if (format) *format = expander.format();
  if (ok) *ok = finished;
  EXPECT_EQ(expander.sample_bytes(), sink.bytes.size());
  return sink.bytes;
}

std::string SunHeader(uint32_t offset, uint32_t size, uint32_t encoding, uint32_t rate, uint32_t channels) {
  std::string h = ".snd";
  for (uint32_t v : {offset, size, encoding, rate, channels})
    for (int i = 3; i >= 0; --i) h.push_back(static_cast<char>(v >> (8 * i)));
  h.resize(std::max<size_t>(h.size(), offset), 'A');  // annotation
  return h;
}

TEST(AudioBasic, ReadByItsOwnHeader) {
  const std::string samples = Bytes({0, 127, 128, 255, 0x55});
  std::string expanded;
  for (unsigned char c : samples) expanded.push_back(static_cast<char>(kMulawExpand[c]));
  PcmFormat format;
  bool ok = false;
  // Bare mu-law (RFC 2046): every byte is a sample, none is lost.
  EXPECT_EQ(Expand(samples, &format, &ok), expanded);
  EXPECT_TRUE(ok);
  EXPECT_EQ(format.rate, 8000u);
  // The header our own sender writes (28 bytes), and others' 24- and 32-byte
  // ones: the samples begin at the header's data offset.
  for (uint32_t offset : {24u, 28u, 32u, 100u})
    EXPECT_EQ(Expand(SunHeader(offset, 5, 1, 8000, 1) + samples), expanded) << offset;
  // The header's data size bounds the samples; "unknown" does not.
  EXPECT_EQ(Expand(SunHeader(28, 2, 1, 8000, 1) + samples), expanded.substr(0, 2));
  EXPECT_EQ(Expand(SunHeader(28, 0xFFFFFFFF, 1, 8000, 1) + samples), expanded);
  // 8-bit and 16-bit linear, and the header's rate and channels.
  EXPECT_EQ(Expand(SunHeader(24, 2, 2, 11025, 2) + Bytes({0x00, 0x80}), &format), Bytes({0x80, 0x00}));
  EXPECT_EQ(format.rate, 11025u);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(Expand(SunHeader(24, 4, 3, 8000, 1) + Bytes({0x7F, 0xFF, 0x80, 0x00})), Bytes({0xFF, 0x00}));
  // What cannot be played is refused, not played as noise.
  for (auto header : {SunHeader(24, 4, 27, 8000, 1), SunHeader(24, 4, 1, 8000, 6), SunHeader(24, 4, 1, 50, 1)}) {
    Expand(header + samples, nullptr, &ok);
    EXPECT_FALSE(ok);
  }
  // Short parts: a few bare samples, or a header cut short with none.
  EXPECT_EQ(Expand(Bytes({0, 255})), Bytes({2, 128}));
  EXPECT_EQ(Expand(".snd\0\0"), "");
  EXPECT_EQ(Expand(""), "");
}

TEST(AudioBasic, WaveHeader) {
  const auto h = MakeWaveHeader(PcmFormat{}, 1001);
  const std::string expected = std::string("RIFF") + Bytes({0x0E, 0x04, 0, 0}) + "WAVEfmt " + Bytes({16, 0, 0, 0}) +
                               Bytes({1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0}) + "data" +
                               Bytes({0xE9, 0x03, 0, 0});
  EXPECT_EQ(std::string(h.begin(), h.end()), expected);  // RIFF size 36 + 1001 + 1 pad byte
}

// A RIFF wave image: PCM of the given shape around data.
std::string WaveFile(uint16_t channels, uint32_t rate, uint16_t bits, const std::string &data,
                     const std::string &extra_chunk = "") {
  auto le32 = [](uint32_t v) { return Bytes({int(v & 255), int(v >> 8 & 255), int(v >> 16 & 255), int(v >> 24)}); };
  auto le16 = [](uint16_t v) { return Bytes({v & 255, v >> 8}); };
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  std::string fmt =
      "fmt " + le32(16) + le16(1) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
  std::string body = "WAVE" + fmt + extra_chunk + "data" + le32(static_cast<uint32_t>(data.size())) + data;
  return "RIFF" + le32(static_cast<uint32_t>(body.size())) + body;
}

std::string ToSun(const std::string &wave_file, bool *converted = nullptr) {
  MemoryReader reader(wave_file);
  const auto info = ReadWaveInfo(reader, wave_file.size());
  if (converted) *converted = info.has_value();
  if (!info) return "";
  StringSink sink;
  Base64LineWriter lines(sink);
  EXPECT_TRUE(ConvertWaveToSun(reader, *info, lines));
  lines.Finish();
  return Decode(TransferEncoding::kBase64, sink.bytes);
}

TEST(WaveToSun, ResamplesAndCompresses) {
  std::string ramp;
  for (int i = 0; i < 240; ++i) ramp.push_back(static_cast<char>(i));
  auto compressed = [&](const std::vector<int> &indexes) {
    std::string s;
    for (int i : indexes) s.push_back(static_cast<char>(kMulawCompress[static_cast<uint8_t>(ramp[i])]));
    return s;
  };
  const auto header = [](uint32_t n) {
    const auto h = MakeSunHeader(n);
    return std::string(h.begin(), h.end());
  };
  // 8000 Hz: every frame; 16000 Hz: every other; 4000 Hz: each twice.
  std::vector<int> all, every_other, twice;
  for (int i = 0; i < 240; ++i) all.push_back(i);
  for (int i = 0; i < 240; i += 2) every_other.push_back(i);
  // Half the rate: the first frame once, then each frame twice.
  twice.push_back(0);
  for (int i = 1; i < 240; ++i) twice.insert(twice.end(), {i, i});
  EXPECT_EQ(ToSun(WaveFile(1, 8000, 8, ramp)), header(240) + compressed(all));
  EXPECT_EQ(ToSun(WaveFile(1, 16000, 8, ramp)), header(120) + compressed(every_other));
  EXPECT_EQ(ToSun(WaveFile(1, 4000, 8, ramp)), header(479) + compressed(twice));
  // 16-bit stereo: the upper bytes made unsigned and averaged.
  const std::string frame = Bytes({0x00, 0x10, 0x00, 0x30});  // 0x1000 and 0x3000 -> 0x90 and 0xB0
  EXPECT_EQ(ToSun(WaveFile(2, 8000, 16, frame + frame)),
            header(2) + std::string(2, static_cast<char>(kMulawCompress[0xA0])));
  // Chunks before the data are passed over (odd sizes padded).
  EXPECT_EQ(ToSun(WaveFile(1, 8000, 8, ramp, "LIST" + Bytes({3, 0, 0, 0}) + "abc" + Bytes({0}))),
            header(240) + compressed(all));
  // Not a wave the conversion knows: none.
  bool converted = true;
  ToSun("RIFF....WAVE", &converted);
  EXPECT_FALSE(converted);
  ToSun(WaveFile(3, 8000, 8, ramp), &converted);
  EXPECT_FALSE(converted);
  ToSun(WaveFile(1, 8000, 24, ramp), &converted);
  EXPECT_FALSE(converted);
  ToSun(WaveFile(1, 0, 8, ramp), &converted);
  EXPECT_FALSE(converted);
  // A data chunk that says it is longer than the file gives what there is.
  std::string cut = WaveFile(1, 8000, 8, ramp);
  cut.resize(cut.size() - 40);
  EXPECT_EQ(ToSun(cut), header(200) + compressed(std::vector<int>(all.begin(), all.begin() + 200)));
}

}  // namespace
