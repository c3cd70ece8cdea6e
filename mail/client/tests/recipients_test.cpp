// The recipient list builder with the alias library loaded by name: header
// fields rewritten (aliases and other transports as empty groups), the
// envelope with each alias walked to its members, a second build of the
// rewritten header giving the same header, and the client without the
// library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "recipients.h"
#include "test_support.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

class RecipientsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir / "qxalias.ini",
              "[QX-Aliases]\nteam=\nx=\n[team]\nann@x.org=\nBob <bob@x.org>=\n[x]\nxavier@x.org=\n");
    BindAliasLibrary();
    ASSERT_TRUE(AliasBinding().bound()) << "nicknames.DLL was not found beside the test or in QX_LIB_DIR";
    OpenAliasContext(dir.path(), "alice");
    ASSERT_NE(g_AliasContext, nullptr);
  }
  void TearDown() override { UnbindAliasLibrary(); }
  TempDir dir;
};

struct Case {
  const char *what;
  std::string to;
  std::string header;                 // To as rewritten
  std::vector<std::string> envelope;  // after the aliases are walked
};

TEST_F(RecipientsTest, HeaderRewrittenAndEnvelopeExpanded) {
  const Case cases[] = {
      {"alias, blank, address",
       "team, carol@y.org",
       "team:;, carol@y.org",
       {"ann@x.org", "Bob <bob@x.org>", "carol@y.org"}},
      {"one-letter alias (the group form is longer than the name)", "x,x", "x:;,x:;", {"xavier@x.org", "xavier@x.org"}},
      {"quoted display name with a comma stays one item",
       "\"Smith, Ann\" <ann@y.org>",
       "\"Smith, Ann\" <ann@y.org>",
       {"ann@y.org"}},
      {"SMTP prefix: header without it, envelope with it", "SMTP==a@b.org", "a@b.org", {"SMTP==a@b.org"}},
      {"other transport: a group in the header", "FAX==123", "FAX==123:;", {"FAX==123"}},
      {"empty items name nobody", "a@b.org,, c@d.org, ", "a@b.org,, c@d.org, ", {"a@b.org", "c@d.org"}},
      {"escaped quote inside quotes",
       "\"A \\\", B\" <a@b.org>, c@d.org",
       "\"A \\\", B\" <a@b.org>, c@d.org",
       {"a@b.org", "c@d.org"}},
  };
  for (const Case &c : cases) {
    SEND_HEADER h;
    h.to = c.to;
    RECIPIENT_LIST list = BuildRecipients(h);
    EXPECT_EQ(h.to, c.header) << c.what;
    EXPECT_EQ(EnvelopeAddresses(list), c.envelope) << c.what;
    // Built again from its own result (a queued message sent again): the same.
    RECIPIENT_LIST again = BuildRecipients(h);
    EXPECT_EQ(h.to, c.header) << c.what << " (second build)";
  }
}

TEST_F(RecipientsTest, AllFourFieldsFeedOneListOfAtMost199) {
  SEND_HEADER h;
  h.to = "a@x.org";
  h.cc = "team";
  h.bcc = "b@x.org";
  h.reDirect = "c@x.org";
  RECIPIENT_LIST list = BuildRecipients(h);
  EXPECT_EQ(h.cc, "team:;");
  EXPECT_EQ(EnvelopeAddresses(list),
            (std::vector<std::string>{"a@x.org", "ann@x.org", "Bob <bob@x.org>", "b@x.org", "c@x.org"}));
  // A walked list has nothing left to walk.
  EXPECT_EQ(EnvelopeAddresses(list), (std::vector<std::string>{"a@x.org", "b@x.org", "c@x.org"}));

  std::string many;
  for (int i = 0; i < 250; ++i) many += (i ? ", u" : "u") + std::to_string(i) + "@x.org";
  SEND_HEADER big;
  big.to = many;
  RECIPIENT_LIST full = BuildRecipients(big);
  EXPECT_EQ(full.entries.size(), kMaxRecipients);
  EXPECT_EQ(big.to, many);  // the header keeps them all
}

TEST(RecipientsWithoutLibrary, AliasNamesGoOutAsTheyAre) {
  ASSERT_FALSE(AliasBinding().bound());
  OpenAliasContext("/tmp", "alice");
  EXPECT_EQ(g_AliasContext, nullptr);
  SEND_HEADER h;
  h.to = "team, carol@y.org";
  RECIPIENT_LIST list = BuildRecipients(h);
  EXPECT_EQ(h.to, "team, carol@y.org");
  EXPECT_EQ(EnvelopeAddresses(list), (std::vector<std::string>{"team", "carol@y.org"}));
}

}  // namespace
