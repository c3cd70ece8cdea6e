// Reply addressing: what a reply, reply to all and forward inherit from the
// replied messages, and the list that never adds an address twice.
#include <gtest/gtest.h>

#include <filesystem>

#include "compose.h"
#include "settings.h"
#include "smtp.h"
#include "startcompose.h"
#include "test_support.h"

using namespace mailtest;

namespace {

class ReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings() = MAIL_SETTINGS{};
    ClearSendHeader(CurrentSendHeader(), true);
    WriteFile(dir / "m1.msg",
              "From: Ann <ann@x.org>\r\nTo: me@x.org,\r\n bob@x.org\r\nCc: \"Lee, Carol\" <carol@x.org>\r\n"
              "Subject: Budget\r\nMessage-ID: <one@x.org>\r\n\r\nbody\r\n");
    WriteFile(dir / "m2.msg",
              "From: Dan <dan@x.org>\r\nReply-To: list@x.org\r\nTo: me@x.org\r\nSubject: RE: Budget\r\n"
              "Message-ID: <two@x.org>\r\n\r\nbody\r\n");
  }
  void TearDown() override { ClearSendHeader(CurrentSendHeader(), true); }
  TempDir dir;
};

TEST_F(ReplyTest, WhatEachModeInherits) {
  SEND_HEADER &h = CurrentSendHeader();
  // Reply to both: the subject of the first, both identifiers, each sender (Reply-To first).
  AddReplyAddresses(kComposeReply, dir.path(), 1);
  AddReplyAddresses(kComposeReply, dir.path(), 2);
  EXPECT_EQ(h.subject, "Re: Budget");
  EXPECT_EQ(h.inReplyTo, "<one@x.org>, <two@x.org>");
  EXPECT_EQ(h.to, "ann@x.org, list@x.org");  // the senders' addresses as the header scanner keeps them
  EXPECT_FALSE(h.cc.has_value());
  ClearSendHeader(h, true);

  // Reply to all: every address of To and Cc (folded lines joined), own address kept, then the senders.
  AddReplyAddresses(kComposeReplyAll, dir.path(), 1);
  EXPECT_EQ(h.to, "me@x.org, bob@x.org, ann@x.org");
  EXPECT_EQ(h.cc, "\"Lee, Carol\" <carol@x.org>");
  ClearSendHeader(h, true);

  // A subject that has "Re:" already gets no second one; forward adds no address.
  AddReplyAddresses(kComposeForward, dir.path(), 2);
  EXPECT_EQ(h.subject, "Re: Budget");
  EXPECT_FALSE(h.to.has_value());
  ClearSendHeader(h, true);

  AddReplyAddresses(kComposeReply, dir.path(), 9);  // no such message: nothing
  EXPECT_FALSE(h.subject.has_value());
  EXPECT_FALSE(h.to.has_value());
}

TEST(AppendToList, WholeItemsAreCompared) {
  const struct {
    const char *what;
    std::optional<std::string> list;
    std::string text;
    std::string result;
  } cases[] = {
      {"empty list", std::nullopt, "a@x.org", "a@x.org"},
      {"present", std::string("a@x.org, b@x.org"), "b@x.org", "a@x.org, b@x.org"},
      {"the tail of another address is still added", std::string("ann@x.org"), "nn@x.org", "ann@x.org, nn@x.org"},
      {"several at once, one present", std::string("a@x.org"), "a@x.org, c@x.org", "a@x.org, c@x.org"},
      {"a quoted comma stays in its item", std::string("a@x.org"), "\"Lee, C\" <c@x.org>",
       "a@x.org, \"Lee, C\" <c@x.org>"},
  };
  for (const auto &c : cases) {
    std::optional<std::string> list = c.list;
    AppendToList(list, c.text);
    EXPECT_EQ(list, c.result) << c.what;
  }
}

}  // namespace
