// Windows command lines: a table of lines split into words, joined back, and
// the lpCmdLine that WinMain receives.
#include "../cmdline.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
  const char *line;
  std::vector<std::string> words;
};

const SplitCase kSplitCases[] = {
    {"prog a b c", {"prog", "a", "b", "c"}},
    {R"("C:\Program Files\x.exe" arg)", {R"(C:\Program Files\x.exe)", "arg"}},
    {R"(prog "a b" c)", {"prog", "a b", "c"}},
    {R"(prog a\\b)", {"prog", R"(a\\b)"}},
    {R"(prog a\"b)", {"prog", R"(a"b)"}},
    {R"(prog a\\\"b)", {"prog", R"(a\"b)"}},
    {R"(prog "a\\" b)", {"prog", R"(a\)", "b"}},
    {R"(prog "")", {"prog", ""}},
    {R"(prog "a""b")", {"prog", R"(a"b)"}},
    {"prog   a\t\tb  ", {"prog", "a", "b"}},
    {R"(prog a"b c"d)", {"prog", "ab cd"}},
    {R"(prog \\server\share\)", {"prog", R"(\\server\share\)"}},
    {"whoanswer.exe 5.1234.65538.2. ", {"whoanswer.exe", "5.1234.65538.2."}},
    {"vtconsole.EXE host /p=23 /l=user /once", {"vtconsole.EXE", "host", "/p=23", "/l=user", "/once"}},
    {R"(c:\dir\prog.exe x)", {R"(c:\dir\prog.exe)", "x"}},
    {"prog", {"prog"}},
    {"", {""}},
};

TEST(CommandLine, SplitsAsTheRuntimeDoes) {
  for (const SplitCase &c : kSplitCases) EXPECT_EQ(qx::SplitCommandLine(c.line), c.words) << c.line;
}

TEST(CommandLine, JoinedWordsSplitBackUnchanged) {
  for (const SplitCase &c : kSplitCases) {
    if (c.words[0].empty()) continue;
    const std::string joined = qx::JoinCommandLine(c.words);
    EXPECT_EQ(qx::SplitCommandLine(joined), c.words) << c.line << " joined as " << joined;
  }
  const std::vector<std::string> hard = {"my prog", "", " ", "\"", "\\", "a\\\"", "tail\\\\", "x\"\"y", "\t"};
  EXPECT_EQ(qx::SplitCommandLine(qx::JoinCommandLine(hard)), hard);
}

TEST(CommandLine, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(qx::QuoteArgument("plain"), "plain");
  EXPECT_EQ(qx::QuoteArgument("a b"), "\"a b\"");
  EXPECT_EQ(qx::QuoteArgument(""), "\"\"");
  EXPECT_EQ(qx::QuoteArgument("dir\\"), "dir\\");
  EXPECT_EQ(qx::QuoteArgument("a b\\"), "\"a b\\\\\"");
  EXPECT_EQ(qx::QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
}

struct ArgsCase {
  const char *line;
  const char *args;
};

TEST(CommandLine, WinMainArgumentsFollowTheProgramWord) {
  const ArgsCase cases[] = {
      {"prog  a b", "a b"},   {R"("my prog"   x "y")", R"(x "y")"},     {"prog", ""},
      {"prog   ", ""},        {"whoanswer.exe 5.1.2.3. ", "5.1.2.3. "}, {"prog host /debug /p=23", "host /debug /p=23"},
      {"\"unterminated", ""},
  };
  for (const ArgsCase &c : cases) {
    const std::string line = c.line;
    EXPECT_EQ(line.substr(qx::ArgumentsOffset(line)), c.args) << c.line;
  }
  EXPECT_EQ(qx::ProgramWord(R"("my prog" x)"), "my prog");
  EXPECT_EQ(qx::ProgramWord("vtconsole.EXE host"), "vtconsole.EXE");
}

}  // namespace
