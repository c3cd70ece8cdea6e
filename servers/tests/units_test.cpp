// Table-driven checks of portwarden's table file, backlog and command line,
// the daemons' hand-over word, and the quote, IEN 116 and time answers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blocks.h"
#include "ien116.h"
#include "portwarden.h"
#include "qxdaemon.h"
#include "quote.h"
#include "report.h"
#include "selector.h"
#include "tftp.h"
#include "rfc868.h"

namespace {

std::string Le32(unsigned v) { return std::string{(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; }
std::string Str(const std::string &s) { return Le32((unsigned)s.size() + 1) + s + std::string(1, '\0'); }
std::string Record(unsigned char flags, unsigned port, unsigned max, const std::string &name,
                   const std::string &program, const std::string &params) {
  return std::string(1, (char)flags) + std::string{(char)port, (char)(port >> 8)} + Le32(max) + Str(name) +
         Str(program) + Str(params);
}

SERVICE_SLOT g_Table[MAX_SERVICES];

TEST(TableFile, GoldenBytesRoundTrip) {
  // A TCP slot with parameters and a UDP slot whose empty parameters are length 1 and one NUL.
  // Written out by hand, byte for byte, so the writer's own helpers cannot agree with a fault in it.
  const std::string golden(
      "\x01"                           // logging on
      "\x09\x4f\x00\x04\x00\x00\x00"   // used|enabled, port 79, maximum 4
      "\x0a\x00\x00\x00whoanswer\x00"  // name
      "\x0a\x00\x00\x00whoanswer\x00"  // program
      "\x03\x00\x00\x00-l\x00"         // parameters
      "\x0d\x25\x00\x01\x00\x00\x00"   // used|datagram|enabled, port 37, maximum 1
      "\x0c\x00\x00\x00"
      "clockanswer\x00"  // name
      "\x0c\x00\x00\x00"
      "clockanswer\x00"        // program
      "\x01\x00\x00\x00\x00",  // empty parameters: length 1 and one NUL
      1 + 7 + 14 + 14 + 7 + 7 + 16 + 16 + 5);
  BYTE logging = 0;
  ASSERT_TRUE(ParseTableFile(golden, g_Table, &logging));
  EXPECT_EQ(logging, 1);
  EXPECT_EQ(g_Table[0].port, 79);
  EXPECT_EQ(g_Table[0].parameters, "-l");
  EXPECT_EQ(g_Table[1].flags, 0x0D);
  EXPECT_EQ(g_Table[1].socket, -1);
  EXPECT_EQ(g_Table[1].ownerPid, -1);
  EXPECT_EQ(FormatTableFile(g_Table, logging), golden);
}

TEST(TableFile, DefaultsRoundTripAndOpenBitNeverStored) {
  FillDefaults(g_Table);
  EXPECT_EQ(g_Table[0].parameters, "-v");
  EXPECT_EQ(g_Table[4].name, "Lpd");
  EXPECT_EQ(g_Table[4].program, "printspool");
  EXPECT_EQ(g_Table[11].port, 67);
  EXPECT_EQ(g_Table[12].flags, 0);
  g_Table[3].flags |= SLOT_OPEN | SLOT_ENABLED;
  std::string image = FormatTableFile(g_Table, 0);
  EXPECT_EQ((unsigned char)image[1], 0x01);  // slot 0 flags
  SERVICE_SLOT back[MAX_SERVICES];
  BYTE logging = 7;
  ASSERT_TRUE(ParseTableFile(image, back, &logging));
  EXPECT_EQ(logging, 0);
  EXPECT_EQ(back[3].flags, SLOT_USED | SLOT_ENABLED);  // starts closed
  EXPECT_EQ(FormatTableFile(back, 0), FormatTableFile(g_Table, 0));
}

struct HostileCase {
  const char *what;
  std::string image;
  bool parsed;
  int usedSlots;
  const char *problem; /* words the reason holds; "" for a clean file */
};

TEST(TableFile, HostileFilesNeverOverrunOrExceed32SlotsAndSayWhy) {
  std::string one = Record(0x01, 1000, 2, "a", "b", "");
  std::string thirtyTwo, forty;
  for (int i = 0; i < 40; i++) (i < 32 ? thirtyTwo : forty) += one;
  forty = thirtyTwo + forty;
  std::string good = std::string(1, '\0') + one;
  const HostileCase cases[] = {
      {"empty file", "", false, 0, "empty"},
      {"only the logging byte", std::string(1, '\1'), true, 0, ""},
      {"32 records", std::string(1, '\0') + thirtyTwo, true, 32, ""},
      {"40 records", std::string(1, '\0') + forty, true, 32, "more than 32 records"},
      {"logging byte 7", std::string(1, '\7') + one, true, 1, "logging byte is 7"},
      {"record cut in its port", good + std::string(1, '\1') + "x", true, 1, "record 2 (at byte 25) is cut short"},
      {"string length 0xFFFFFFFF", good + std::string("\x01\x10\x00", 3) + Le32(1) + Le32(0xFFFFFFFFu), true, 1,
       "record 2"},
      {"string length 0", good + std::string("\x01\x10\x00", 3) + Le32(1) + Le32(0), true, 1, "outside 1-256"},
      {"string longer than the file", good + std::string("\x01\x10\x00", 3) + Le32(1) + Le32(200) + "abc", true, 1,
       "record 2"},
      {"record without the used bit", std::string(1, '\0') + Record(0x08, 7, 1, "a", "b", ""), true, 0,
       "record 1 has the flags 8"},
  };
  for (const HostileCase &c : cases) {
    BYTE logging = 0;
    std::string problem = "unset";
    EXPECT_EQ(ParseTableFile(c.image, g_Table, &logging, &problem), c.parsed) << c.what;
    int used = 0;
    for (const SERVICE_SLOT &s : g_Table) used += (s.flags & SLOT_USED) ? 1 : 0;
    EXPECT_EQ(used, c.usedSlots) << c.what;
    if (*c.problem)
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    else
      EXPECT_EQ(problem, "") << c.what;
  }
}

TEST(TableFile, LoadedValuesMadeSafe) {
  // A UDP record with maximum 4, a string without its NUL, unknown flag bits.
  std::string image = std::string(1, '\0') + Record(0xE6, 42, 4, "n", "p", "") + std::string("\x09\x50\x00", 3) +
                      Le32(0) + Le32(3) + "abc" + Str("p") + Str("");
  BYTE logging;
  ASSERT_TRUE(ParseTableFile(image, g_Table, &logging));
  EXPECT_EQ(g_Table[0].flags, SLOT_DATAGRAM);  // open and unknown bits dropped
  EXPECT_EQ(g_Table[0].maximum, 1);
  EXPECT_EQ(g_Table[1].name, "abc");
  EXPECT_EQ(g_Table[1].maximum, 1);  // maximum 0 would never listen
}

TEST(Launcher, BacklogIsTheSmallerOfMaximumAndSix) {
  const struct {
    LONG maximum;
    int backlog;
  } cases[] = {{1, 1}, {4, 4}, {6, 6}, {10, 6}};
  for (auto c : cases) EXPECT_EQ(ListenBacklog(c.maximum), c.backlog) << c.maximum;
}

TEST(Launcher, DaemonCommandLine) {
  SERVICE_SLOT slot;
  ResetSlot(&slot);
  slot.program = "quipserve";
  char line[256];
  FormatDaemonCommandLine(line, sizeof line, &slot, 9, 4242, (HWND)(LONG_PTR)65541, 5);
  EXPECT_STREQ(line, "quipserve 9.4242.65541.5. ");  // empty parameters leave one blank
  slot.parameters = "-a  b";
  FormatDaemonCommandLine(line, sizeof line, &slot, 9, 4242, (HWND)(LONG_PTR)65541, 31);
  EXPECT_STREQ(line, "quipserve 9.4242.65541.31. -a  b");
}

TEST(HandoverWord, Parse) {
  const struct {
    const char *line;
    int rc;
    long socket, pid, window, slot;
  } cases[] = {
      {"9.4242.65541.5. ", 0, 9, 4242, 65541, 5},
      {"  12.1.2.31. -r /srv", 0, 12, 1, 2, 31},
      {"", 1, -1, -1, -1, -1},
      {"12", 1, -1, -1, -1, -1},
      {"12.34", 2, -1, -1, -1, -1},
      {"12.34.56", 3, -1, -1, -1, -1},
      {"12.34.56. x", 4, -1, -1, -1, -1},
      {"12.34.56. -r /srv/tftp.d", 4, -1, -1, -1, -1},  // a dot in a parameter never completes the word
      {"a.b.c.d.", 1, -1, -1, -1, -1},
  };
  for (auto c : cases) {
    HANDOVER_WORD w;
    EXPECT_EQ(ParseHandoverWord(c.line, &w), c.rc) << c.line;
    EXPECT_EQ(w.socket, c.socket) << c.line;
    EXPECT_EQ(w.serverPid, c.pid) << c.line;
    EXPECT_EQ(w.window, c.window) << c.line;
    EXPECT_EQ(w.slot, c.slot) << c.line;
  }
}

TEST(HandoverWord, ArgumentsSplitOnRunsOfBlanksAndTabs) {
  DaemonSplitArguments("9.1.2.3.  -a \t b   c ");
  ASSERT_EQ(g_DaemonArgCount, 3);
  EXPECT_STREQ(g_DaemonArgs[0], "-a");
  EXPECT_STREQ(g_DaemonArgs[1], "b");
  EXPECT_STREQ(g_DaemonArgs[2], "c");
  DaemonSplitArguments("9.1.2.3. ");
  EXPECT_EQ(g_DaemonArgCount, 0);
}

const char kJar[] =
    "1%First quote, line one\n"
    "1%First quote, line two\n"
    "2%Second quote\n"
    "3%Third quote\n"
    "3%continues\n";

TEST(Quote, PicksTheQuoteAfterTheOneAtThePosition) {
  const std::string jar = kJar;
  const struct {
    unsigned long position;
    const char *quote;
  } cases[] = {
      {0, "Second quote\n"},             // the line at the position is thrown away
      {24, "Third quote\ncontinues\n"},  // quote 2 follows the cut line: the quote after it
      {(unsigned long)jar.find("2%"), "First quote, line one\nFirst quote, line two\n"},  // wraps past the end
      {(unsigned long)jar.size() - 3, "First quote, line one\nFirst quote, line two\n"},
  };
  for (auto c : cases) {
    std::string quote;
    ASSERT_TRUE(PickQuote(jar, c.position, &quote)) << c.position;
    EXPECT_EQ(quote, c.quote) << c.position;
  }
}

TEST(Quote, LineWithoutPercentFailsAndLongQuotesAreCut) {
  std::string quote;
  EXPECT_FALSE(PickQuote("1%a\nno percent here\n2%b\n", 0, &quote));
  std::string big = "0%x\n1%y\n";
  for (int i = 0; i < 30; i++) big += "7%" + std::string(100, 'q') + "\n";
  ASSERT_TRUE(PickQuote(big, 0, &quote));
  EXPECT_EQ(quote.size(), (size_t)QUOTE_MAX_BYTES);
}

TEST(Quote, PositionStaysInsideTheFile) {
  EXPECT_EQ(QuotePosition(100, 32767, 32767), 0u);  // small files start at the top
  EXPECT_EQ(QuotePosition(440, 5, 5), 0u);
  for (unsigned long size : {441ul, 20000ul, 5000000ul, 4000000000ul})
    for (int r : {0, 1, 16383, 32767}) EXPECT_LT(QuotePosition(size, r, 32767 - r), size - QUOTE_FILE_SLACK) << size;
}

TEST(Ien116, RepliesByteForByte) {
  const unsigned char request[] = {1, 9, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't'};
  char name[80];
  ASSERT_TRUE(Ien116Name(request, sizeof request, name, sizeof name));
  EXPECT_STREQ(name, "localhost");
  const unsigned char loopback[4] = {127, 0, 0, 1};
  unsigned char reply[IEN116_REPLY_MAX];
  int n = Ien116Reply(request, loopback, reply);
  std::string expect = std::string((const char *)request, sizeof request) + std::string("\x02\x04\x7f\x00\x00\x01", 6);
  EXPECT_EQ(std::string((char *)reply, n), expect);
  n = Ien116Reply(request, nullptr, reply);
  EXPECT_EQ(std::string((char *)reply, n),
            std::string((const char *)request, sizeof request) + "\x03\x0f" + "Unknown machine");
}

TEST(Ien116, LengthPastTheDatagramIsDropped) {
  const struct {
    std::string request;
    bool ok;
  } cases[] = {
      {std::string("\x01\x03"
                   "abc",
                   5),
       true},
      {std::string("\x01\x04"
                   "abc",
                   5),
       false},
      {std::string("\x01\xc8"
                   "abcdefgh",
                   10),
       false},  // 200 in a 10-byte datagram
      {std::string("\x01", 1), false},
      {std::string("\x01\x00", 2), true},
  };
  for (auto &c : cases) {
    char name[IEN116_REQUEST_MAX];
    EXPECT_EQ(Ien116Name((const unsigned char *)c.request.data(), (int)c.request.size(), name, sizeof name), c.ok)
        << c.request.size();
  }
}

TEST(Rfc868, EpochAndWrap) {
  const struct {
    long long unixTime;
    unsigned char bytes[4];
  } cases[] = {
      {0, {0x83, 0xAA, 0x7E, 0x80}},             // 2,208,988,800
      {2085978495LL, {0xFF, 0xFF, 0xFF, 0xFF}},  // the last second of era 0
      {2085978496LL, {0x00, 0x00, 0x00, 0x00}},  // 2036-02-07 06:28:16 wraps
  };
  for (auto c : cases) {
    unsigned char out[4];
    Rfc868Bytes(c.unixTime, out);
    EXPECT_EQ(memcmp(out, c.bytes, 4), 0) << c.unixTime;
  }
}

TEST(FingerReport, SizesUptimeAndNames) {
  const struct {
    uint64_t bytes;
    const char *text;
  } sizes[] = {
      {0, "0 byte"},         {9999, "9999 byte"},          {10000, "9 Kbyte"}, {10239999, "9999 Kbyte"},
      {10240000, "9 Mbyte"}, {64ULL << 30, "65536 Mbyte"},  // past 4 GiB: no wrap
  };
  for (const auto &c : sizes) EXPECT_EQ(FingerSizeText(c.bytes), c.text) << c.bytes;

  const struct {
    uint64_t ms;
    const char *line;
  } uptimes[] = {
      {0, "Windows UpTime is 0 00:00:00.0\r\n"},
      {25ULL * 3600000 + 61007, "Windows UpTime is 1 01:01:01.7\r\n"},
      {23ULL * 3600000 + 3599999, "Windows UpTime is 0 23:59:59.999\r\n"},
      {60ULL * 86400000, "Windows UpTime is 60 00:00:00.0\r\n"},  // past 49.7 days
  };
  for (const auto &c : uptimes) EXPECT_EQ(FingerUptimeLine(c.ms), c.line) << c.ms;

  EXPECT_STREQ(FingerProcessorName(586), "Intel Pentium");
  EXPECT_STREQ(FingerProcessorName(21064), "Alpha 21064");
  EXPECT_STREQ(FingerProcessorName(8664), "Unknown Processor");
  EXPECT_STREQ(FingerKeyboardName(4), "Enhanced-101");
  EXPECT_STREQ(FingerKeyboardName(9), "Unknown");
  EXPECT_TRUE(FingerWantsPlan("/W alice\r\n", 10));
  EXPECT_FALSE(FingerWantsPlan("/w alice\r\n", 10));
  EXPECT_FALSE(FingerWantsPlan("/", 1));
}

TEST(Tftp, RequestNamesAndPathsBelowTheRoot) {
  const struct {
    std::string packet;
    bool wellFormed;
    const char *name;
    const char *mode;
  } requests[] = {
      {std::string("\0\1f.txt\0octet\0", 14), true, "f.txt", "OCTET"},
      {std::string("\0\2sub/f\0NetAscii\0", 17), true, "sub/f", "NETASCII"},
      {std::string("\0\1f.txt\0octet", 13), false, "", ""},  // mode without its NUL
      {std::string("\0\1f.txt", 7), false, "", ""},          // name without its NUL
      {std::string("\0\1", 2), false, "", ""},               // truncated
      {std::string("\0\1\0\0", 4), true, "", ""},            // empty name: refused by the path rule
  };
  for (const auto &r : requests) {
    std::string name, mode;
    EXPECT_EQ(TftpRequestName((const unsigned char *)r.packet.data(), (int)r.packet.size(), &name, &mode), r.wellFormed)
        << r.packet.size();
    if (r.wellFormed) {
      EXPECT_EQ(name, r.name);
      EXPECT_EQ(mode, r.mode);
    }
  }
  const struct {
    const char *name;
    const char *relative; /* nullptr: access violation */
  } paths[] = {
      {"f.txt", "f.txt"},  {"sub/f", "sub/f"}, {"sub\\f", "sub/f"}, {"/etc/passwd", "etc/passwd"},
      {"\\\\x\\y", "x/y"}, {"./a//b", "a/b"},  {"../x", nullptr},   {"a/../../x", nullptr},
      {"a..b", nullptr},   {"c:\\x", nullptr}, {"CON:", nullptr},   {"", nullptr},
      {"/", nullptr},      {"sub/", nullptr},
  };
  for (const auto &p : paths) {
    std::string relative;
    bool ok = TftpRelativePath(p.name, &relative);
    EXPECT_EQ(ok, p.relative != nullptr) << p.name;
    if (ok && p.relative) {
      EXPECT_EQ(relative, p.relative) << p.name;
    }
  }
}

/* A file of the given bytes, removed with the fixture. */
class TftpFile {
 public:
  explicit TftpFile(const std::vector<unsigned char> &bytes) {
    char name[] = "/tmp/qx-tftp-blocks-XXXXXX";
    fd_ = mkstemp(name);
    EXPECT_GE(fd_, 0) << "cannot make a scratch file in /tmp";
    unlink(name);
    if (fd_ >= 0 && !bytes.empty()) {
      EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
  }
  ~TftpFile() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

std::vector<unsigned char> PatternBytes(size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; i++) bytes[i] = (unsigned char)((i * 7 + i / 509) & 0xFF);
  return bytes;
}

/* Blocks in order, as a lock-step read asks for them, around the edges of a
 * block and of the reader's span: each block holds the file's bytes at its
 * position, the last one is short (empty after a whole number of blocks). */
TEST(Tftp, BlocksReadAheadMatchTheFile) {
  const int64_t span = TftpBlockReader::kSpan;
  const int64_t sizes[] = {0, 1, 511, 512, 513, 1024, span - 1, span, span + 1, span + 512, 3 * span + 7};
  for (int64_t size : sizes) {
    const std::vector<unsigned char> bytes = PatternBytes((size_t)size);
    TftpFile file(bytes);
    TftpBlockReader reader;
    int64_t position = 0;
    int blocks = 0;
    for (;; position += kTftpBlock) {
      unsigned char block[kTftpBlock];
      memset(block, 0xEE, sizeof block);
      const int got = reader.Read(file.fd(), position, block);
      const int64_t want = std::min<int64_t>(kTftpBlock, size - position);
      ASSERT_EQ(got, want) << "file of " << size << " bytes, block at " << position;
      EXPECT_TRUE(std::equal(block, block + got, bytes.begin() + position)) << "size " << size << " at " << position;
      blocks++;
      if (got < kTftpBlock) break;
    }
    EXPECT_EQ(blocks, size / kTftpBlock + 1) << "file of " << size << " bytes";
  }
}

/* A resend asks for the current or an earlier block again; a position far
 * off reads there; a read error ends the file instead of sending stale bytes. */
TEST(Tftp, BlocksAskedForAgainOrOutOfOrder) {
  const int64_t span = TftpBlockReader::kSpan;
  const std::vector<unsigned char> bytes = PatternBytes((size_t)(3 * span + 100));
  TftpFile file(bytes);
  TftpBlockReader reader;
  const int64_t order[] = {0,
                           512,
                           span - 512,
                           span,
                           span - 512,
                           0,
                           2 * span + 1024,
                           span + 7,
                           2 * span - 93, /* the held bytes end inside this block */
                           3 * span,
                           3 * span + 100,
                           3 * span + 512,
                           2 * span};
  for (int64_t position : order) {
    unsigned char block[kTftpBlock];
    const int got = reader.Read(file.fd(), position, block);
    const int64_t want = std::max<int64_t>(0, std::min<int64_t>(kTftpBlock, (int64_t)bytes.size() - position));
    ASSERT_EQ(got, want) << "block at " << position;
    EXPECT_TRUE(std::equal(block, block + got, bytes.begin() + std::min<int64_t>(position, (int64_t)bytes.size())))
        << "block at " << position;
  }
  TftpBlockReader broken;
  unsigned char block[kTftpBlock];
  EXPECT_EQ(broken.Read(-1, 0, block), 0) << "a file that cannot be read sends an empty last block";
  EXPECT_EQ(broken.Read(file.fd(), -512, block), 0) << "a position before the file";
}

/* A write as the peer sends it, in 512-byte blocks and a short last one:
 * once the last block is flushed the file holds every byte once, in order. */
TEST(Tftp, BlocksWrittenASpanAtATime) {
  const int64_t span = TftpBlockWriter::kSpan;
  const int64_t sizes[] = {0, 1, 511, 512, 513, span - 1, span, span + 1, 3 * span + 7};
  for (int64_t size : sizes) {
    const std::vector<unsigned char> bytes = PatternBytes((size_t)size);
    TftpFile file({});
    TftpBlockWriter writer;
    for (int64_t position = 0;; position += kTftpBlock) {
      const int length = (int)std::min<int64_t>(kTftpBlock, size - position);
      ASSERT_TRUE(writer.Add(file.fd(), bytes.data() + position, length)) << "size " << size << " at " << position;
      if (length < kTftpBlock) break;
    }
    ASSERT_TRUE(writer.Flush(file.fd())) << "size " << size;
    std::vector<unsigned char> back((size_t)size + 1);
    EXPECT_EQ(pread(file.fd(), back.data(), back.size(), 0), (ssize_t)size) << "file of " << size << " bytes";
    back.resize((size_t)size);
    EXPECT_TRUE(back == bytes) << "file of " << size << " bytes";
  }
}

/* A full disk is reported by the call whose write failed: the one that
 * filled the span, or the flush of the last blocks; nothing gathered is
 * written twice or reported as written. */
TEST(Tftp, BlockWritesThatFailAreReported) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0) << "/dev/full is needed to see a write fail";
  const std::vector<unsigned char> block = PatternBytes(kTftpBlock);
  TftpBlockWriter writer;
  const int blocksPerSpan = TftpBlockWriter::kSpan / kTftpBlock;
  for (int i = 1; i < blocksPerSpan; i++) ASSERT_TRUE(writer.Add(full, block.data(), kTftpBlock)) << "block " << i;
  EXPECT_FALSE(writer.Add(full, block.data(), kTftpBlock)) << "the block that fills the span writes it and fails";
  EXPECT_TRUE(writer.Add(full, block.data(), 100)) << "a short block is gathered";
  EXPECT_FALSE(writer.Flush(full)) << "the last blocks' flush fails";
  EXPECT_TRUE(writer.Flush(full)) << "nothing is left to write after a failed flush";
  close(full);
  EXPECT_TRUE(writer.Add(-1, block.data(), 10));
  EXPECT_FALSE(writer.Flush(-1)) << "a file that cannot be written";
}

TEST(Tftp, PacketsAndBlockNumbersModulo65536) {
  EXPECT_EQ(TftpErrorPacket(6), std::string("\0\5\0\6File already exists\0", 24));
  EXPECT_EQ(TftpAckPacket(65536), std::string("\0\4\0\0", 4));
  EXPECT_EQ(TftpDataPacket(65537, "ab", 2), std::string("\0\3\0\1ab", 6));
  EXPECT_TRUE(TftpIsNext(65535, 0));
  EXPECT_TRUE(TftpIsNext(65536 + 4, 5));
  EXPECT_FALSE(TftpIsNext(4, 4));  // a duplicate
  EXPECT_FALSE(TftpIsNext(4, 6));  // past a gap
  const unsigned char opcodeNine[] = {0, 9, 0, 1};
  EXPECT_EQ(TftpOpcodeOf(opcodeNine, 4), 9);
  EXPECT_EQ(TftpOpcodeOf(opcodeNine, 1), 0);
  EXPECT_EQ(TftpBlockOf(opcodeNine, 3), -1);
}

TEST(Gopher, SelectorsClassesAndNamesBelowTheRoot) {
  const struct {
    const char *request;
    const char *selector;
    int cls;
  } selectors[] = {
      {"\r\n", "1DEFAULT.GMN", 1},
      {"\n", "1DEFAULT.GMN", 1},
      {"0docs/readme.txt\r\n", "0docs/readme.txt", 0},
      {"0docs/readme.txt\t+\r\n", "0docs/readme.txt", 0},
      {"9bin/f.bin\n", "9bin/f.bin", 9},
      {"+x\r\n", "+x", 10},
      {"Tx", "Tx", 11},
      {"gx", "gx", 12},
      {"Ix", "Ix", 13},
      {"hx", "hx", 14},
  };
  for (const auto &c : selectors) {
    EXPECT_EQ(GopherSelector(c.request), c.selector) << c.request;
    EXPECT_EQ(GopherClass(c.selector), c.cls) << c.request;
  }
  EXPECT_TRUE(GopherDropsCtrlZ(0) && GopherDropsCtrlZ(10) && !GopherDropsCtrlZ(9) && !GopherDropsCtrlZ(5));
  EXPECT_TRUE(GopherSendsEndLine(1) && !GopherSendsEndLine(5) && !GopherSendsEndLine(9));

  const struct {
    const char *selector;
    const char *relative; /* nullptr: Bad Key */
  } paths[] = {
      {"1DEFAULT.GMN", "DEFAULT.GMN"},
      {"0docs/readme.txt", "docs/readme.txt"},
      {"0docs\\readme.txt", "docs/readme.txt"},
      {"0../secret", nullptr},
      {"0/etc/passwd", nullptr},
      {"0c:\\x", nullptr},
      {"0..\\x", nullptr},
      {"0docs/../../x", nullptr},
      {"0./x", nullptr},
      {"0", nullptr},
      {"", nullptr},
      {"0docs/", "docs"},
  };
  for (const auto &p : paths) {
    std::string relative;
    bool ok = GopherRelativePath(p.selector, &relative);
    EXPECT_EQ(ok, p.relative != nullptr) << p.selector;
    if (ok && p.relative) {
      EXPECT_EQ(relative, p.relative) << p.selector;
    }
  }
  EXPECT_EQ(GopherBadKeyReply("0a\x01"
                              "b"),
            "3Bad Key sent - \"0a?b\"\t\t\t\t\r\n.\r\n");
  EXPECT_EQ(GopherBadKeyReply(std::string(5000, 'x')).size(),
            std::string("3Bad Key sent - \"\"\t\t\t\t\r\n.\r\n").size() + 256);
}

}  // namespace
