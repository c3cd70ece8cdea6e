// The base fixture of the tests that talk to a mail server: Winsock started,
// the mail transport set (pointed at the test's ports), a scratch folder, and
// on demand aiosmtpd keeping what it receives in "received" there.
#ifndef QX_MAIL_TRANSPORT_FIXTURE_H
#define QX_MAIL_TRANSPORT_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "mailio.h"
#include "pop_peers.h"
#include "test_support.h"

namespace mailtest {

// True while work files ("qx..." files of a store or send that did not
// finish) are left in a mail folder.
inline bool WorkFilesLeft(const std::string &folder) {
  for (const auto &e : std::filesystem::directory_iterator(folder))
    if (e.path().filename().string().rfind("qx", 0) == 0) return true;
  return false;
}

// Transport: PortTransport for the tests' own ports, or the program's
// WinsockMailTransport as it is.
template <class Transport>
class MailTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    SetMailTransport(&transport);
    ResetMailIo();
  }
  void TearDown() override {
    SetMailTransport(nullptr);
    WSACleanup();
  }
  // Starts aiosmtpd as the "smtp" service of the transport.
  void StartSmtpPeer(Child &peer) {
    std::filesystem::create_directories(dir / "received");
    ASSERT_TRUE(
        peer.Start({"/usr/bin/python3", SourceDir() + "/mail/client/tests/smtp_peer.py", dir / "received"}, true))
        << "the SMTP peer did not start (package python3-aiosmtpd)";
    transport.ports["smtp"] = peer.port();
  }
  // Message n as aiosmtpd kept it ("eml"), or its envelope ("env").
  std::string Received(int n, const char *ext = "eml") {
    return ReadFile(dir / ("received/msg-" + std::to_string(n) + "." + ext));
  }

  TempDir dir;
  Transport transport;
};

using TransportTest = MailTransportTest<PortTransport>;

}  // namespace mailtest

#endif
