// The fixture of the tests that send mail (composing, the send queue, the
// redirect sender): user alice's settings with a mail directory "mail" in a
// scratch folder and the loopback host as the mail host, the Winsock
// transport with the test's ports, message boxes recorded instead of shown,
// and on demand aiosmtpd (keeping what it receives in "received") and the
// scripted POP server (its log in "pop.log").
#ifndef QX_MAIL_SENDING_FIXTURE_H
#define QX_MAIL_SENDING_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mailio.h"
#include "pop.h"
#include "pop_peers.h"
#include "retrieve.h"
#include "settings.h"
#include "smtp.h"
#include "test_support.h"

namespace mailtest {

// Every message box as "caption: text", answered with g_answer.
inline std::vector<std::string> g_boxes;
inline int g_answer = IDOK;
inline int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return g_answer;
}

class SendingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    SetMailTransport(&transport);
    ResetMailIo();
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
    SetMailTransport(nullptr);
    g_MailMessageBox = MessageBoxA;
    WSACleanup();
  }
  void StartSmtp() {
    ASSERT_TRUE(
        smtp.Start({"/usr/bin/python3", SourceDir() + "/mail/client/tests/smtp_peer.py", dir / "received"}, true))
        << "the SMTP peer did not start (package python3-aiosmtpd)";
    transport.ports["smtp"] = smtp.port();
  }
  void StartPop() {
    ASSERT_TRUE(pop.Start(
        {"/usr/bin/python3", SourceDir() + "/mail/client/tests/pop_peer.py", dir / "pop", dir / "pop.log"}, true))
        << "the scripted POP server did not start (python3)";
    transport.ports["pop-3"] = pop.port();
  }
  // Message n as aiosmtpd kept it ("eml"), or its envelope ("env").
  std::string Received(int n, const char *ext = "eml") {
    return qxtest::ReadFile(dir / ("received/msg-" + std::to_string(n) + "." + ext));
  }

  TempDir dir;
  std::string mailDir;
  PortTransport transport;
  Child smtp, pop;
};

}  // namespace mailtest

#endif
