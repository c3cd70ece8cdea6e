// The fixture of the tests that send mail (composing, the send queue, the
// redirect sender): over the transport fixture, user alice's settings with a
// mail directory "mail" in the scratch folder and the loopback host as the
// mail host, message boxes recorded instead of shown, and on demand aiosmtpd
// and the scripted POP server (its log in "pop.log").
#ifndef QX_MAIL_SENDING_FIXTURE_H
#define QX_MAIL_SENDING_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pop.h"
#include "retrieve.h"
#include "settings.h"
#include "smtp.h"
#include "transport_fixture.h"

namespace mailtest {

// Every message box as "caption: text", answered with g_answer.
inline std::vector<std::string> g_boxes;
inline int g_answer = IDOK;
inline int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return g_answer;
}

class SendingTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    if (HasFatalFailure()) return;
    g_MailMessageBox = RecordBox;
    g_boxes.clear();
    g_answer = IDOK;
    g_PasswordVerified = 1;
    for (const char *sub : {"mail", "received", "pop"}) std::filesystem::create_directories(dir / sub);
    mailDir = dir / "mail";
    MAIL_SETTINGS &s = Settings();
    s = MAIL_SETTINGS{};
    s.user = "alice";
    s.mailDir = mailDir;
    s.mailHost = "127.0.0.1";
    s.ownAddress = "alice@example.com";
    g_Password = "secret";
    ClearSendHeader(CurrentSendHeader(), true);
  }
  void TearDown() override {
    ClearSendHeader(CurrentSendHeader(), true);
    g_MailMessageBox = MessageBoxA;
    TransportTest::TearDown();
  }
  void StartSmtp() { StartSmtpPeer(smtp); }
  void StartPop() {
    ASSERT_TRUE(pop.Start(
        {"/usr/bin/python3", SourceDir() + "/mail/client/tests/pop_peer.py", dir / "pop", dir / "pop.log"}, true))
        << "the scripted POP server did not start (python3)";
    transport.ports["pop-3"] = pop.port();
  }

  std::string mailDir;
  Child smtp, pop;
};

}  // namespace mailtest

#endif
