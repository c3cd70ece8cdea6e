// lodctr and unlodctr on a private machine registry: two services' counter
// names loaded one after the other (with and without a symbol file), removed
// in the other order with the registry then as it was, and the definition
// files and calls they refuse, each with its message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "test_env.h"

namespace {

using advapi_test::BinDir;
using advapi_test::Dirs;

// One tool call: its exit status and what it printed.

struct Result {
  int status;
  std::string output;  // standard output and error
};

Result RunTool(const std::string &tool, const std::string &argument) {
  const std::string out = Dirs().root() + "/run.txt";
  const int rc = std::system(("'" + BinDir() + "/" + tool + "' '" + argument + "' > '" + out + "' 2>&1").c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, advapi_test::ReadFile(out)};
}

std::string Registry(const std::string &arguments) {
  const std::string out = Dirs().root() + "/reg.txt";
  std::system(("'" + BinDir() + "/qxreg' " + arguments + " > '" + out + "' 2>&1").c_str());
  return advapi_test::ReadFile(out);
}

// A file of the test's folder, and its name as the layer sees it (drive Z:).
std::string Write(const std::string &name, const std::string &text) {
  std::ofstream(Dirs().root() + "/" + name, std::ios::binary) << text;
  return "Z:" + Dirs().root() + "/" + name;
}

const char kPerflib[] = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";

TEST(CounterNames, TwoServicesLoadedAndRemovedLeaveTheRegistryAsItWas) {
  Registry("set 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\ALPHA\\Performance' Library REG_SZ alpha.dll");
  Registry("set 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\BETA\\Performance' Library REG_SZ beta.dll");
  const std::string before = Registry("export HKLM -");
  Write("alphactr.h", "#define ALPHA_OBJECT 0\n#define ALPHA_HITS 2\n");
  const std::string alpha = Write("alpha.ini",
                                  "[info]\ndrivername=ALPHA\nsymbolfile=alphactr.h\n[languages]\n009=English\n"
                                  "[text]\nALPHA_HITS_009_NAME=Hits\nALPHA_HITS_009_HELP=Hits seen.\n"
                                  "ALPHA_OBJECT_009_NAME=Alpha\nALPHA_OBJECT_009_HELP=The alpha object.\n");
  const std::string beta = Write("beta.ini",
                                 "[info]\ndrivername=BETA\n[languages]\n009=English\n"
                                 "[text]\nBETA_OBJECT_009_NAME=Beta\nBETA_OBJECT_009_HELP=The beta object.\n");
  EXPECT_EQ(RunTool("lodctr", alpha).output, "lodctr: the counters of ALPHA are 2 to 4 (help 3 to 5)\n");
  EXPECT_EQ(RunTool("lodctr", beta).output, "lodctr: the counters of BETA are 6 to 6 (help 7 to 7)\n");
  EXPECT_EQ(Registry("get '" + std::string(kPerflib) + "\\009' Counter"), "2\\0Alpha\\04\\0Hits\\06\\0Beta\n");
  EXPECT_EQ(Registry("get '" + std::string(kPerflib) + "\\009' Help"),
            "3\\0The alpha object.\\05\\0Hits seen.\\07\\0The beta object.\n");
  EXPECT_EQ(Registry("get 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\BETA\\Performance' 'First Help'"), "0x7 (7)\n");

  const Result again = RunTool("lodctr", alpha);
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.output,
            "lodctr: the counter names of ALPHA are loaded already; run unlodctr ALPHA first to load them again\n");

  EXPECT_EQ(RunTool("unlodctr", "ALPHA").status, 0);
  EXPECT_EQ(Registry("get '" + std::string(kPerflib) + "\\009' Counter"), "6\\0Beta\n");
  EXPECT_EQ(Registry("get '" + std::string(kPerflib) + "' 'Last Counter'"), "0x6 (6)\n");
  EXPECT_EQ(RunTool("unlodctr", "BETA").status, 0);
  EXPECT_EQ(Registry("export HKLM -"), before);
}

TEST(CounterNames, RefusedDefinitionsAndCalls) {
  Registry("set 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\GAMMA\\Performance' Library REG_SZ gamma.dll");
  const std::string missing = "Z:" + Dirs().root() + "/missing.ini";
  Write("hugectr.h", "#define BIG 4294967294\n");
  const std::string huge = Write(
      "huge.ini", "[info]\ndrivername=GAMMA\nsymbolfile=hugectr.h\n[languages]\n009=English\n[text]\nBIG_009_NAME=x\n");
  const struct {
    const char *tool;
    std::string argument;
    std::string message;
  } cases[] = {
      {"lodctr", missing,
       "lodctr: cannot read the counter definition file " + missing +
           ": The system cannot find the file specified. (error 2)\n"},
      {"lodctr", Write("nodriver.ini", "[languages]\n009=English\n[text]\nX_009_NAME=x\n"),
       "lodctr: " + Write("nodriver.ini", "[languages]\n009=English\n[text]\nX_009_NAME=x\n") +
           " names no service: add \"drivername=SERVICE\" to its [info] section\n"},
      {"lodctr", Write("noservice.ini", "[info]\ndrivername=NOSUCH\n[languages]\n009=English\n[text]\nX_009_NAME=x\n"),
       "lodctr: the service NOSUCH has no Performance key (The system cannot find the file specified. (error 2)); "
       "install the service before its counters\n"},
      {"lodctr", Write("badkey.ini", "[info]\ndrivername=GAMMA\n[languages]\n009=English\n[text]\nNAMEONLY=x\n"),
       "lodctr: " + Write("badkey.ini", "[info]\ndrivername=GAMMA\n[languages]\n009=English\n[text]\nNAMEONLY=x\n") +
           ": \"NAMEONLY\" is not SYMBOL_LANGUAGE_NAME or SYMBOL_LANGUAGE_HELP\n"},
      {"unlodctr", "GAMMA", "unlodctr: the service GAMMA has no counter names loaded; nothing to remove\n"},
      // An offset that would wrap the index round onto another service's texts.
      {"lodctr", huge, "lodctr: " + huge + ": the offset of BIG is 4294967294; counter offsets run from 0 to 65534\n"},
  };
  for (const auto &c : cases) {
    const Result r = RunTool(c.tool, c.argument);
    EXPECT_EQ(r.status, 1) << c.tool << " " << c.argument;
    EXPECT_EQ(r.output, c.message) << c.tool << " " << c.argument;
  }
  EXPECT_EQ(Registry("query '" + std::string(kPerflib) + "'").find("Last Counter"), std::string::npos)
      << "a refused definition changed the performance library's key";
}

// An installer may load (and later remove) two services' names at once. Two
// lodctr runs started together, round after round, then two unlodctr runs:
// both services' names are there every time, with ranges of their own, and
// removing both leaves the registry as it was.
TEST(CounterNames, RunsAtOnceLoseNoNames) {
  Registry("set 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\DELTA\\Performance' Library REG_SZ delta.dll");
  Registry("set 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\EPSILON\\Performance' Library REG_SZ epsilon.dll");
  const std::string before = Registry("export HKLM -");
  const std::string delta = Write("delta.ini",
                                  "[info]\ndrivername=DELTA\n[languages]\n009=English\n[text]\n"
                                  "DELTA_OBJECT_009_NAME=Delta\nDELTA_OBJECT_009_HELP=The delta object.\n"
                                  "DELTA_HITS_009_NAME=Hits\nDELTA_HITS_009_HELP=Hits seen.\n");
  const std::string epsilon = Write("epsilon.ini",
                                    "[info]\ndrivername=EPSILON\n[languages]\n009=English\n[text]\n"
                                    "EPSILON_OBJECT_009_NAME=Epsilon\nEPSILON_OBJECT_009_HELP=The epsilon object.\n");
  // Whichever run comes first takes indexes 2 and up.
  const std::string either[] = {"2\\0Delta\\04\\0Hits\\06\\0Epsilon\n", "2\\0Epsilon\\04\\0Delta\\06\\0Hits\n"};
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const pid_t first = advapi_test::Spawn({"lodctr", delta}), second = advapi_test::Spawn({"lodctr", epsilon});
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_EQ(advapi_test::Wait(first), 0) << "lodctr DELTA failed";
    EXPECT_EQ(advapi_test::Wait(second), 0) << "lodctr EPSILON failed";
    const std::string counters = Registry("get '" + std::string(kPerflib) + "\\009' Counter");
    EXPECT_TRUE(counters == either[0] || counters == either[1]) << "names after both loads: " << counters;
    EXPECT_EQ(Registry("get '" + std::string(kPerflib) + "' 'Last Counter'"), "0x6 (6)\n");
    const pid_t third = advapi_test::Spawn({"unlodctr", "DELTA"}), fourth = advapi_test::Spawn({"unlodctr", "EPSILON"});
    ASSERT_NE(third, 0);
    ASSERT_NE(fourth, 0);
    EXPECT_EQ(advapi_test::Wait(third), 0) << "unlodctr DELTA failed";
    EXPECT_EQ(advapi_test::Wait(fourth), 0) << "unlodctr EPSILON failed";
    ASSERT_EQ(Registry("export HKLM -"), before) << "names left after both were removed";
  }
}

}  // namespace
