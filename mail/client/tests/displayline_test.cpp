// The display line reader over small messages that each show one rule (parts
// and their descriptions, transfer encodings, wrapping, uuencode, hostile
// sizes), the decoders, and every returned position checked against the file.
#include <gtest/gtest.h>

#include <cstring>

#include "displayline.h"
#include "headers.h"
#include "settings.h"
#include "test_support.h"

using namespace mailtest;
using namespace std::string_literals;

namespace {

struct Shown {
  std::string text;
  uint32_t position;
  uint32_t flags;
};

// Every display line of a message with CR LF line ends.
std::vector<Shown> Read(const std::string &message, uint8_t mimeFlags = kSummaryMime) {
  TempDir dir;
  WriteFile(dir / "m.msg", message);
  MessageFile f(dir / "m.msg");
  EXPECT_TRUE(f.IsOpen());
  std::vector<Shown> lines;
  uint32_t position = 0, flags = 0;
  for (auto text = NextDisplayLine(f, mimeFlags, position, true, &flags); text && lines.size() < 100000;
       text = NextDisplayLine(f, mimeFlags, position, false, &flags))
    lines.push_back(Shown{*text, position, flags});
  return lines;
}

std::string Crlf(const std::string &lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A shown text line begins in the file where its position says.
void ExpectPositionsLandOnText(const std::string &message, const std::vector<Shown> &lines) {
  for (const Shown &l : lines) {
    if (l.position & kAttachmentLine || l.text == "\n") continue;
    std::string start = l.text.substr(0, std::min<size_t>(l.text.find_first_of("\n="), 12));
    if (l.flags & (kDecodeBase64 | kDecodeQuotedPrintable)) start = start.substr(0, 4);  // joined or grouped text
    ASSERT_LE(l.position + start.size(), message.size()) << l.text;
    EXPECT_EQ(message.substr(l.position, start.size()), start) << "at " << l.position;
  }
}

std::vector<std::string> Texts(const std::vector<Shown> &lines) {
  std::vector<std::string> texts;
  for (const Shown &l : lines) texts.push_back(l.text);
  return texts;
}

class DisplayLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings() = MAIL_SETTINGS{};
    Settings().wordWrap = 76;
  }
};

}  // namespace

TEST_F(DisplayLineTest, TextPartAndImagePart) {
  const std::string message = Crlf(
      "MIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"XYZ\"\n"
      "\n"
      "preamble is not shown\n"
      "--XYZ\n"
      "Content-Type: text/plain\n"
      "\n"
      "Hello there.\n"
      "--XYZ\n"
      "Content-Type: image/gif; name=\"a.gif\"\n"
      "Content-Transfer-Encoding: base64\n"
      "\n"
      "R0lGODlhAQABAAAAACw=\n"
      "--XYZ--\n"
      "epilogue is not shown\n");
  const auto lines = Read(message);
  ASSERT_EQ(Texts(lines),
            (std::vector<std::string>{"MIME-Version: 1.0\n", "Content-Type: multipart/mixed; boundary=\"XYZ\"\n", "\n",
                                      "Hello there.\n", "*** MIME Image part of type gif ***\n", "\n"}));
  const size_t gifType = message.find("Content-Type: image/gif");
  EXPECT_EQ(lines[4].position, gifType | kAttachmentLine);
  EXPECT_EQ(lines[5].position, message.find("\r\n--XYZ--"));  // the end of the image part's body
  ExpectPositionsLandOnText(message, lines);
}

TEST_F(DisplayLineTest, EncodingsAndTheirOrder) {
  struct Case {
    const char *what;
    std::string message;
    uint8_t mimeFlags;
    std::vector<std::string> decoded;  // body lines after the header's end
    uint32_t flags;                    // decode flags of the first body line
  };
  const Case cases[] = {
      {"base64 text",
       "Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\naGVsbG8Kd29ybGQK\n",
       kSummaryMime,
       {"hello\n", "world\n"},
       kDecodeBase64},
      {"encoding before the type counts for nothing",
       "Content-Transfer-Encoding: base64\nContent-Type: text/plain\n\naGVsbG8K\n",
       kSummaryMime,
       {"aGVsbG8K\n"},
       0},
      {"no MIME-Version: base64 as stored",
       "Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\naGVsbG8K\n",
       0,
       {"aGVsbG8K\n"},
       0},
      {"quoted-printable with soft breaks and trailing blanks",
       "Content-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\n"
       "caf=E9 au =\nlait=3D   \nnext\n",
       kSummaryMime,
       {"caf\xE9 au lait=\n", "next\n"},
       kDecodeQuotedPrintable},
      {"folded Content-Type parameters",
       "Content-Type: multipart/alternative;\n boundary=b1\n\n--b1\nContent-Type: text/plain\n\none\n--b1--\n",
       kSummaryMime,
       {"one\n"},
       0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string message = Crlf("MIME-Version: 1.0\n" + c.message);
    const auto lines = Read(message, c.mimeFlags);
    std::vector<std::string> body;
    uint32_t firstFlags = 0;
    bool inBody = false;
    for (const Shown &l : lines) {
      if (inBody) {
        if (body.empty()) firstFlags = l.flags;
        body.push_back(DecodeDisplayLine(l.text, l.flags));
      }
      if (l.text == "\n") inBody = true;
    }
    EXPECT_EQ(body, c.decoded);
    EXPECT_EQ(firstFlags, c.flags);
    ExpectPositionsLandOnText(message, lines);
  }
}

// "line 1\nline 2\n" as base64 puts the first line feed at the start of the
// third group: the second display line starts at that group with phase 1.
TEST_F(DisplayLineTest, Base64LineFeedInsideAGroup) {
  const std::string message = Crlf(
      "MIME-Version: 1.0\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\n"
      "bGlu\nZSAxCmxp\nbmUgMgo=\n");
  const auto lines = Read(message);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4].flags, kDecodeBase64);
  EXPECT_EQ(DecodeDisplayLine(lines[4].text, lines[4].flags), "line 1\n");
  EXPECT_EQ(lines[5].flags, kDecodeBase64 | (1u << kBase64PhaseShift));
  EXPECT_EQ(lines[5].position, message.find("Cmxp"));  // the group holding the first line feed
  EXPECT_EQ(DecodeDisplayLine(lines[5].text, lines[5].flags), "line 2\n");
  // The decoder reading on from the file gives the same line.
  TempDir dir;
  WriteFile(dir / "m", message);
  MessageFile f(dir / "m");
  ASSERT_TRUE(f.IsOpen());
  std::string text = "Cmxp";
  f.Seek(static_cast<long>(lines[5].position) + 6);  // after "Cmxp" and its line end
  DecodeBase64Line(text, 1, &f);
  EXPECT_EQ(text, "line 2\n");
}

TEST_F(DisplayLineTest, WrapUuencodeAndDescriptions) {
  const std::string spaced = std::string(70, 'a') + " bbbb " + std::string(40, 'c') + "\n";
  const std::string solid = std::string(120, 'x') + "\n";
  const std::string message =
      Crlf("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=zz\n\n--zz\nContent-Type: text/plain\n\n" +
           spaced + solid +
           "begin 644 notes.txt\nM86)C\nend\nafter\n"
           "--zz\nContent-Type: application/octet-stream\n\nbinary\n"
           "--zz\nContent-Type: application/x-thing;\n\ttype=\"report\"\n\ndata\n"
           "--zz\nContent-Type: message/external-body; access-type=anon-ftp\n\n"
           "--zz\nContent-Type: audio/basic\n\nsound\n--zz--\n");
  const auto lines = Read(message);
  const std::vector<std::string> texts = Texts(lines);
  const std::vector<std::string> body(texts.begin() + 3, texts.end());
  EXPECT_EQ(body, (std::vector<std::string>{std::string(70, 'a') + " bbbb", " " + std::string(40, 'c') + "\n", solid,
                                            "**** File notes.txt is an attachment ****\r\n", "after\n",
                                            "*** MIME Application part of type Unknown ***\n", "\n",
                                            "*** MIME Application part of type report ***\n", "\n",
                                            "*** MIME External File Retrieval via anon-ftp ***\n", "\n",
                                            "*** MIME Audio part of type basic ***\n", "\n"}));
  EXPECT_TRUE(lines[6].position & kAttachmentLine);
  EXPECT_EQ(lines[6].position & ~kAttachmentLine, message.find("begin 644"));
  ExpectPositionsLandOnText(message, lines);
}

TEST_F(DisplayLineTest, SinglePartNonTextMessage) {
  const std::string message =
      Crlf("MIME-Version: 1.0\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBORw0K\n");
  const auto lines = Read(message);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3].text, "\n");  // the header's end, then the body is passed over
  EXPECT_EQ(lines[4].text, "*** MIME Image part of type png ***\n");
  EXPECT_EQ(lines[4].position, message.find("Content-Type") | kAttachmentLine);
  EXPECT_EQ(lines[5].text, "\n");
  EXPECT_EQ(lines[5].position, message.size() - 2);
}

// A nested message/rfc822 part shows the inner message's header up to its
// multipart Content-Type, then its text part; the inner boundary lines and
// part headers do not show.
TEST_F(DisplayLineTest, NestedMessage) {
  const std::string message = Crlf(
      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=outer\n\n"
      "--outer\nContent-Type: text/plain\n\nSee below.\n"
      "--outer\nContent-Type: message/rfc822\n\n"
      "From: inner@example.com\nSubject: inner\nMIME-Version: 1.0\n"
      "Content-Type: multipart/alternative; boundary=inner\n\n"
      "--inner\nContent-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\nInner =\ntext\n"
      "--inner--\n--outer--\n");
  const auto lines = Read(message);
  std::vector<std::string> decoded;
  for (const Shown &l : lines) decoded.push_back(DecodeDisplayLine(l.text, l.flags));
  EXPECT_EQ(std::vector<std::string>(decoded.begin() + 3, decoded.end()),
            (std::vector<std::string>{"See below.\n", "From: inner@example.com\n", "Subject: inner\n",
                                      "MIME-Version: 1.0\n", "Inner text\n"}));
  ExpectPositionsLandOnText(message, lines);
}

// Sizes a sender chooses: a 1 MB line comes in bounded pieces, a run of soft
// breaks and a base64 body without line feeds stay within the limit, a NUL
// byte does not cut a line.
TEST_F(DisplayLineTest, HostileSizesStayBounded) {
  const std::string hugeLine(1 << 20, 'q');
  const std::string softBreaks = [] {
    std::string s;
    for (int i = 0; i < 5000; ++i) s += "abcdefghij=\n";
    return s + "end\n";
  }();
  const std::string base64NoLf = [] {
    std::string s;
    for (int i = 0; i < 2000; ++i)
      s += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\n";
    return s;
  }();
  const struct {
    const char *what;
    std::string body;
    const char *encoding;
    size_t decodedBytes;
  } cases[] = {
      {"1 MB line", hugeLine + "\n", "7bit", hugeLine.size() + 1},
      {"soft-break run", softBreaks, "quoted-printable", 5000 * 10 + 4},
      {"base64 without line feeds", base64NoLf, "base64", 2000 * 57},
      {"NUL byte", "before\0after\n"s, "7bit", 13},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string message =
        Crlf("MIME-Version: 1.0\nContent-Type: text/plain\nContent-Transfer-Encoding: " + std::string(c.encoding) +
             "\n\n" + c.body);
    const auto lines = Read(message);
    size_t decoded = 0;
    for (size_t i = 4; i < lines.size(); ++i) {
      EXPECT_LE(lines[i].text.size(), kDisplayLineLimit);
      decoded += DecodeDisplayLine(lines[i].text, lines[i].flags).size();
    }
    EXPECT_EQ(decoded, c.decodedBytes);
  }
}

TEST(DisplayLineDecoders, GroupsWrapAndQuotedPrintable) {
  const struct {
    const char *group;
    const char *bytes;
  } groups[] = {{"TWFu", "Man"}, {"TWE=", "Ma\0"}, {"TQ==", "M\0\0"}, {"====", "\0\0\0"}};
  for (const auto &g : groups) {
    unsigned char out[3];
    DecodeBase64Group(g.group, out);
    EXPECT_EQ(std::memcmp(out, g.bytes, 3), 0) << g.group;
  }
  const struct {
    std::string line;
    size_t cut;
  } wraps[] = {
      {std::string(76, 'a') + "\n", 0},                                // fits with its line feed
      {std::string(60, 'a') + " " + std::string(30, 'b') + "\n", 32},  // the last blank at or before 76
      {std::string(90, 'a') + " bb\n", 4},                             // the first blank after 76
      {std::string(120, 'x') + "\n", 0},                               // no blank: shown whole
      {" " + std::string(120, 'x') + "\n", 0},                         // a blank at index 0 is no break
  };
  for (const auto &w : wraps) {
    std::string line = w.line;
    EXPECT_EQ(WrapAtSpace(line, 76), w.cut) << w.line;
    EXPECT_EQ(line.size() + w.cut, w.line.size());
  }
  std::string qp = "a=3Db=3db =XY= =4\n";
  DecodeQuotedPrintableLine(qp, nullptr);
  EXPECT_EQ(qp, "a=b=b =XY= =4\n");  // bad escapes stay as they are
}

namespace {

std::string CorpusPath(const std::string &name) { return SourceDir() + "/mail/client/tests/corpus/display/" + name; }

// The empty line after a MIME part's description marks where the part ends
// (a uuencoded file has no such line).
bool IsPartEnd(const std::vector<Shown> &lines, size_t i) {
  return i > 0 && lines[i].text == "\n" && (lines[i - 1].position & kAttachmentLine) &&
         lines[i - 1].text.rfind("*** MIME", 0) == 0;
}

// The display of a message as a person reads it: decoded lines, attachment
// lines and part ends marked with their offsets, a wrapped line's cut shown
// by a backslash at its end.
std::string Rendered(const std::vector<Shown> &lines) {
  std::string out;
  for (const Shown &l : lines) {
    if (l.position & kAttachmentLine) {
      out += "[attachment @" + std::to_string(l.position & ~kAttachmentLine) + "] " + l.text;
      continue;
    }
    std::string text = DecodeDisplayLine(l.text, l.flags);
    if (text == "\n" && IsPartEnd(lines, static_cast<size_t>(&l - lines.data()))) {
      out += "[end @" + std::to_string(l.position) + "]\n";
      continue;
    }
    if (text.empty() || text.back() != '\n') text += "\\\n";
    out += text;
  }
  return out;
}

// The decoded text of the text parts: every shown body line but the
// attachment lines and their end lines.
std::string BodyText(const std::vector<Shown> &lines) {
  std::string out;
  bool body = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Shown &l = lines[i];
    const bool endLine = IsPartEnd(lines, i);
    if (body && !(l.position & kAttachmentLine) && !endLine) out += DecodeDisplayLine(l.text, l.flags);
    if (l.text == "\n") body = true;
  }
  return out;
}

std::string WithoutLineEnds(std::string text) {
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  return text;
}

std::string PythonDecoded(const std::string &path) {
  const std::string command =
      "/usr/bin/python3 " + SourceDir() + "/mail/client/tests/display_oracle.py " + path + " 2>&1";
  FILE *p = popen(command.c_str(), "r");
  EXPECT_NE(p, nullptr);
  std::string out;
  char buffer[4096];
  for (size_t got; p && (got = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, got);
  if (p) {
    EXPECT_EQ(pclose(p), 0) << out;
  }
  return out;
}

}  // namespace

// Real-world shaped messages: the display as a whole against a golden text
// (QX_UPDATE_GOLDEN=1 rewrites it), and the text parts' decoded bytes against
// Python's email package.
TEST_F(DisplayLineTest, CorpusAgainstGoldenTextAndPython) {
  const struct {
    const char *name;
    bool compareWithPython;  // uuencode is not MIME: Python sees the encoded lines as text
  } corpus[] = {{"alternative.eml", true},
                {"mixed.eml", true},
                {"qp-edges.eml", true},
                {"eightbit.eml", true},
                {"uuencoded.eml", false}};
  for (const auto &c : corpus) {
    SCOPED_TRACE(c.name);
    const std::string message = ReadFile(CorpusPath(c.name));
    ASSERT_FALSE(message.empty());
    FILE *f = std::fopen(CorpusPath(c.name).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    HEADER_SUMMARY summary;
    GetLineBuffer().count = 0;
    ScanHeader(summary, MAIL_SOURCE::File(f), nullptr);
    std::fclose(f);
    GetLineBuffer().count = 0;
    const auto lines = Read(message, summary.flags);
    ExpectPositionsLandOnText(message, lines);
    const std::string golden = CorpusPath(std::string(c.name) + ".shown");
    if (std::getenv("QX_UPDATE_GOLDEN")) WriteFile(golden, Rendered(lines));
    EXPECT_EQ(Rendered(lines), ReadFile(golden));
    if (c.compareWithPython) {
      EXPECT_EQ(WithoutLineEnds(BodyText(lines)), WithoutLineEnds(PythonDecoded(CorpusPath(c.name))));
    }
  }
}

namespace {

// A long multipart message made from a fixed seed: a quoted-printable part
// with escapes and soft breaks, a base64 text part, a plain part of long lines
// that wrap, an image part, then more quoted-printable text; about 200 KB.
std::string LongGeneratedMessage() {
  uint32_t seed = 12345;
  const auto next = [&](uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % below;
  };
  const auto words = [&](size_t count) {
    static const char *const kWords[] = {"word", "caf\xE9", "a", "longerword", "x=y", "tab\there", "end."};
    std::string text;
    for (size_t i = 0; i < count; ++i) text += std::string(i ? " " : "") + kWords[next(7)];
    return text;
  };
  const auto quotedPrintable = [&](size_t lines) {
    std::string out;
    for (size_t i = 0; i < lines; ++i) {
      std::string line;
      for (char c : words(next(30))) {
        if (static_cast<unsigned char>(c) >= 128 || c == '=' || c == '\t') {
          char escape[4];
          std::snprintf(escape, sizeof escape, "=%02X", static_cast<unsigned char>(c));
          line += escape;
        } else {
          line += c;
        }
        if (line.size() >= 70 && c != ' ') {  // a soft break inside a long line
          out += line + "=\r\n";
          line.clear();
        }
      }
      out += line + "\r\n";
    }
    return out;
  };
  std::string text;
  for (int i = 0; i < 1500; ++i) text += words(next(20)) + "\n";
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string base64, encodedLine;
  for (size_t i = 0; i < text.size(); i += 3) {
    const size_t n = std::min<size_t>(3, text.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) v = (v << 8) | (k < n ? static_cast<unsigned char>(text[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k) encodedLine += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
    if (encodedLine.size() == 76) {
      base64 += encodedLine + "\r\n";
      encodedLine.clear();
    }
  }
  base64 += encodedLine + "\r\n";
  std::string plain;
  for (int i = 0; i < 800; ++i) plain += words(next(60)) + "\r\n";
  return "From: a@example.com\r\nSubject: long\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\npreamble\r\n"
         "--B\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
         quotedPrintable(1200) + "--B\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
         base64 + "--B\r\nContent-Type: text/plain\r\n\r\n" + plain +
         "--B\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lGODlhAQABAAAAACw=\r\n"
         "--B\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
         quotedPrintable(300) + "--B--\r\nepilogue\r\n";
}

// Every display line read through a buffer of the given size: position,
// decode flags and text, one line each.
std::string LinesThroughBuffer(const std::string &path, uint8_t mimeFlags, size_t bufferSize,
                               std::vector<Shown> *shown = nullptr) {
  MessageFile f(path, bufferSize);
  std::string out;
  uint32_t position = 0, flags = 0;
  for (auto text = NextDisplayLine(f, mimeFlags, position, true, &flags); text;
       text = NextDisplayLine(f, mimeFlags, position, false, &flags)) {
    out += std::to_string(position) + " " + std::to_string(flags) + " " + *text + "|\n";
    if (shown) shown->push_back(Shown{*text, position, flags});
  }
  return out;
}

std::string CutAtLineEnd(std::string text) {
  const size_t lf = text.find('\n');
  if (lf != std::string::npos) text.resize(lf);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

}  // namespace

// The reader's own buffer: the display lines of the corpus messages and of a
// long generated one are the same whatever the buffer's size (16 bytes puts
// line ends, soft breaks and base64 groups on its edges all the time, and the
// moves back over them outside it); the long message's text parts decode to
// Python's bytes; and every line painted again from its offset, last line
// first, is the line read.
TEST_F(DisplayLineTest, TheSameLinesWhateverTheBufferSize) {
  TempDir dir;
  WriteFile(dir / "long.msg", LongGeneratedMessage());
  std::vector<std::pair<std::string, uint8_t>> messages{{dir / "long.msg", kSummaryMime}};
  for (const char *name : {"alternative.eml", "mixed.eml", "qp-edges.eml", "uuencoded.eml"})
    messages.emplace_back(CorpusPath(name), kSummaryMime);
  for (const auto &[path, flags] : messages) {
    SCOPED_TRACE(path);
    std::vector<Shown> lines;
    const std::string reference = LinesThroughBuffer(path, flags, 65536, &lines);
    ASSERT_GT(lines.size(), 5u);
    for (size_t size : {16u, 61u, 1000u, 4096u})
      EXPECT_EQ(LinesThroughBuffer(path, flags, size), reference) << "buffer of " << size << " bytes";
    for (size_t size : {16u, 65536u}) {
      MessageFile f(path, size);
      for (size_t i = lines.size(); i-- > 0;) {
        const Shown &l = lines[i];
        const std::string read = (l.position & kAttachmentLine) ? l.text : DecodeDisplayLine(l.text, l.flags);
        ASSERT_EQ(DisplayLineAt(f, l.position, l.flags), CutAtLineEnd(read)) << "line " << i << ", buffer " << size;
      }
    }
  }
  std::vector<Shown> lines;
  LinesThroughBuffer(dir / "long.msg", kSummaryMime, 65536, &lines);
  ExpectPositionsLandOnText(ReadFile(dir / "long.msg"), lines);
  EXPECT_EQ(WithoutLineEnds(BodyText(lines)), WithoutLineEnds(PythonDecoded(dir / "long.msg")));
}

namespace {

// "ABCDEFGHIJKL" 300 times, base64 in lines of 76 characters: a paragraph
// longer than one display line holds, with no line feed in it.
std::string LongBase64Paragraph() {
  std::string encoded;
  for (int i = 0; i < 300; ++i) encoded += "QUJDREVGR0hJSktM";
  std::string body;
  for (size_t at = 0; at < encoded.size(); at += 76) body += encoded.substr(at, 76) + "\r\n";
  return "MIME-Version: 1.0\r\nContent-Transfer-Encoding: base64\r\n\r\n" + body;
}

}  // namespace

// The viewer and the printer paint a line by reading it again from its offset;
// quoting decodes the text the reader handed back. Both must give the same
// text for every line, at every wrap width: a quoted-printable line longer
// than the width is cut by the reader, and painted whole it showed its rest
// twice (once more as the next line).
TEST_F(DisplayLineTest, PaintedAgainAsReadAtEveryWidth) {
  const std::string qpHeader =
      "MIME-Version: 1.0\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  struct Case {
    const char *what;
    std::string message;
  };
  const Case cases[] = {
      {"a long quoted-printable line",
       qpHeader + "one two three four five six seven eight nine ten eleven twelve thirteen fourteen\r\nend\r\n"},
      {"escapes and a soft break in a long line",
       qpHeader + "caf=E9 caf=E9 caf=E9 caf=E9 caf=E9 caf=E9 caf=E9 caf=E9 caf=E9 and=\r\n more words follow\r\n"},
      {"a soft break at the end of the file", qpHeader + "xxxxxxxxxxxxxxxxxx-==mixed=="},
      {"a plain long line", "Subject: plain\r\n\r\n" + std::string(30, 'a') + " " + std::string(50, 'b') + " c\r\n"},
      {"base64 text without a last line feed before the next part",
       "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
       "--B\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\nSGVsbG8gd29ybGQ=\r\n"
       "--B\r\nContent-Type: text/plain\r\n\r\nSecond part\r\n--B--\r\n"},
      {"base64 text of 3,600 characters without a line feed", LongBase64Paragraph()},
      {"base64 text without a last line feed at the end",
       "MIME-Version: 1.0\r\nContent-Transfer-Encoding: base64\r\n\r\nSGVsbG8gd29ybGQ="},
  };
  for (const Case &c : cases) {
    for (int width : {40, 57, 76, 132}) {
      SCOPED_TRACE(std::string(c.what) + ", width " + std::to_string(width));
      Settings().wordWrap = width;
      TempDir dir;
      WriteFile(dir / "m.msg", c.message);
      const std::vector<Shown> lines = Read(c.message);
      MessageFile f(dir / "m.msg");
      for (size_t i = 0; i < lines.size(); ++i) {
        const Shown &l = lines[i];
        if (l.position & kAttachmentLine) continue;
        EXPECT_EQ(DisplayLineAt(f, l.position, l.flags), CutAtLineEnd(DecodeDisplayLine(l.text, l.flags)))
            << "line " << i;
      }
    }
  }
  // The long paragraph's display lines together hold it whole, once.
  std::string paragraph;
  for (int i = 0; i < 300; ++i) paragraph += "ABCDEFGHIJKL";
  EXPECT_EQ(WithoutLineEnds(BodyText(Read(LongBase64Paragraph()))), paragraph);
}
