// sharehost as a running service, started and stopped with qxsc, inside a
// network namespace of this test's own (so ports 111 and 2049 are free),
// against Debian's rpcinfo and showmount, MOUNT calls encoded by libnfs over
// the test's own UDP socket, and tshark dissecting everything that went over
// the wire.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <nfsc/libnfs-raw-mount.h>
#include <nfsc/libnfs-zdr.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "qxtest/support.h"
#include "rpc_call_builder.h"
#include "service_harness.h"

using rpctest::CallBuilder;
using rpctest::Word;

namespace {

using nfstest::Shell;
using qxtest::ReadFile;

bool WaitFor(const std::function<bool()> &condition, int ms) { return qxtest::WaitUntil(condition, ms); }

// Runs of blanks become one blank (showmount pads its columns).
std::string Squeeze(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
    } else {
      if (c == '\n' && !out.empty() && out.back() == ' ') out.pop_back();
      out += c;
    }
  }
  return out;
}

// One datagram to 127.0.0.1:port and the reply ("" after a second of silence).
std::string UdpExchange(int s, int port, const std::string &request, int timeout_ms = 2000) {
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(s, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  char buffer[9000];
  ssize_t got = recv(s, buffer, sizeof buffer, 0);
  return got > 0 ? std::string(buffer, size_t(got)) : std::string();
}

std::string EncodeDirPath(const std::string &path) {
  char buffer[2048];
  ZDR zdr;
  libnfs_zdrmem_create(&zdr, buffer, sizeof buffer, ZDR_ENCODE);
  char *p = const_cast<char *>(path.c_str());
  zdr_dirpath(&zdr, &p);
  std::string bytes(buffer, zdr_getpos(&zdr));
  zdr_destroy(&zdr);
  return bytes;
}

class Sharehost : public nfstest::ServiceTest {
 protected:
  void SetUp() override {
    nfstest::ServiceTest::SetUp();
    for (const char *d : {"d/ex/pub/sub", "d/ex/ro", "d/ex/other"}) std::filesystem::create_directories(dir_ + "/" + d);
    WriteExports("d:\\ex\\pub\nd:\\ex\\ro -ro\n");
  }
};

TEST_F(Sharehost, ServesPeersAndStopsThroughTheServiceManager) {
  StartCapture();
  Start("/l:D:\\mount.log");
  EXPECT_EQ(Events(4).at(0), "QXServer serving on UDP 2049 111.");

  int status = 0;
  // rpcinfo asks for the version 3 and 4 dumps first; the version mismatch
  // answered sends it to version 2. (rpcinfo -p speaks TCP only, and this
  // portmapper answers on UDP.)
  std::string out = Shell("timeout 20 rpcinfo 127.0.0.1 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  std::vector<std::string> rows;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string program, version, netid, address;
    if (f >> program >> version >> netid >> address && program != "program")
      rows.push_back(program + " " + version + " " + netid + " " + address);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"100005 1 udp 0.0.0.0.8.1", "100003 2 udp 0.0.0.0.8.1",
                                            "100021 3 udp 0.0.0.0.8.1", "150001 1 udp 0.0.0.0.8.1"}))
      << out;

  for (const char *call : {"100003 2", "100005 1"}) {
    out = Shell(std::string("timeout 20 rpcinfo -u 127.0.0.1 ") + call + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    std::string program(call, 6), version(call + 7);
    EXPECT_NE(out.find("program " + program + " version " + version + " ready and waiting"), std::string::npos) << out;
  }
  out = Shell("timeout 20 rpcinfo -u 127.0.0.1 100003 3 2>&1", &status);
  EXPECT_NE(status, 0) << out;
  EXPECT_NE(out.find("low version = 2, high version = 2"), std::string::npos) << out;
  out = Shell("timeout 20 rpcinfo -u 127.0.0.1 100024 1 2>&1", &status);
  EXPECT_NE(status, 0) << out;

  out = Shell("timeout 20 showmount -e 127.0.0.1 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(Squeeze(out), "Export list for 127.0.0.1:\n/d/ex/pub (everyone)\n/d/ex/ro (everyone)\n");

  // MNT through libnfs's codec on the test's own socket; a retransmission of
  // the same datagram is answered byte for byte without running again.
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  std::string mnt = CallBuilder::Call(0x5150, 100005, 1, 1).AuthUnix("pc1", 0, 0).bytes + EncodeDirPath("/d/ex/ro");
  std::string first = UdpExchange(s, 2049, mnt);
  std::string again = UdpExchange(s, 2049, mnt);
  ASSERT_EQ(first.size(), 24u + 36u);
  EXPECT_EQ(again, first);
  EXPECT_EQ(Word(first, 24), 0u);
  EXPECT_TRUE(first[28] & 0x20) << "the read-only export's handle carries the read-only bit";
  std::string refused =
      UdpExchange(s, 2049, CallBuilder::Call(0x5151, 100005, 1, 1).AuthNull().bytes + EncodeDirPath("/d/ex/other"));
  EXPECT_EQ(Word(refused, 24), 2u);  // exists but not exported
  // Damaged datagrams get nothing, and the server goes on answering. A call
  // longer than the receive buffer would be cut: it is dropped whole.
  std::string oversized = CallBuilder::Call(10, 100003, 2, 0).AuthNull().bytes + std::string(9000, 'x');
  for (const std::string &junk :
       {std::string(3, '\1'), CallBuilder::Call(9, 100005, 1, 1).Long(0).Long(0x7FFFFFFC).bytes, oversized})
    EXPECT_EQ(UdpExchange(s, 2049, junk, 300), "");
  EXPECT_EQ(UdpExchange(s, 2049, CallBuilder::Call(0x5152, 100003, 2, 0).AuthNull().bytes).size(), 24u);
  std::string sub =
      UdpExchange(s, 2049, CallBuilder::Call(0x5153, 100005, 1, 1).AuthNull().bytes + EncodeDirPath("/d/ex/pub/sub"));
  close(s);

  std::string log = ReadFile(dir_ + "/d/mount.log");
  // Three MNT requests ran (showmount does not mount); the retransmitted one once.
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
  EXPECT_NE(log.find(" - Mount \"/d/ex/ro\" from \"pc1\" (127.0.0.1) success.\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" - Mount \"/d/ex/other\" from \"Unknown\" (127.0.0.1) access denied.\n"), std::string::npos)
      << log;

  out = Qxsc("control QXNFSServer 129", &status);  // reload the identity maps
  EXPECT_EQ(status, 0) << out;
  out = Qxsc("stop QXNFSServer", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("STOPPED"), std::string::npos) << out;
  EXPECT_EQ(Events(5).size(), 1u);
  EXPECT_FALSE(ReadFile(dir_ + "/d/qxnfs/QXSTATE.SAV").empty()) << "the state file is written at stop";
  EXPECT_TRUE(WaitFor([&] { return Shell("ss -lnu | grep -c -E ':(111|2049) '") == "0\n"; }, 3000));

  // After a restart the same directory has the same handle, whatever was
  // mounted first: the directory-name table came back from the state file.
  std::filesystem::remove(dir_ + "/events.txt");
  Start();
  ASSERT_TRUE(WaitEvent(4));
  s = socket(AF_INET, SOCK_DGRAM, 0);
  UdpExchange(s, 2049, CallBuilder::Call(0x6000, 100005, 1, 1).AuthNull().bytes + EncodeDirPath("/d/ex/other"));
  std::string sub_again =
      UdpExchange(s, 2049, CallBuilder::Call(0x6001, 100005, 1, 1).AuthNull().bytes + EncodeDirPath("/d/ex/pub/sub"));
  close(s);
  ASSERT_EQ(sub.size(), 60u);
  EXPECT_EQ(sub_again.substr(24), sub.substr(24));
  out = Qxsc("stop QXNFSServer", &status);
  EXPECT_EQ(status, 0) << out;

  StopCapture();
  std::string pcap = dir_ + "/wire.pcapng";
  // Every reply dissects cleanly (the damaged calls this test sent are marked, as they should be).
  out = Shell("tshark -n -r '" + pcap + "' -Y 'rpc.msgtyp == 1 && _ws.malformed' 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "") << "tshark marks replies as malformed";
  out = Shell("tshark -n -r '" + pcap + "' -Y 'rpc.msgtyp == 1' -T fields -e rpc.program -e rpc.procedure 2>/dev/null",
              &status);
  EXPECT_EQ(status, 0);
  for (const char *seen : {"100000\t3", "100000\t4", "100003\t0", "100005\t0", "100005\t1", "100005\t5"})
    EXPECT_NE(out.find(seen), std::string::npos) << seen << " not dissected in:\n" << out;
}

TEST_F(Sharehost, StartUpFailuresAreReported) {
  // Port 111 held by someone else: NFS is served, the portmapper is not.
  int holder = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(111);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  Start();
  ASSERT_TRUE(WaitEvent(4));
  ASSERT_EQ(Events(2).size(), 1u);
  EXPECT_NE(Events(2)[0].find("Cannot open UDP port 111 for the portmapper"), std::string::npos) << Events(2)[0];
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  std::string reply = UdpExchange(s, 2049, CallBuilder::Call(0x77, 100003, 2, 0).AuthNull().bytes);
  close(s);
  EXPECT_EQ(reply.size(), 24u);
  EXPECT_EQ(Word(reply, 0), 0x77u);
  Qxsc("stop QXNFSServer");
  close(holder);

  // No exports file: the service runs, says why it serves nothing, and serves nothing.
  std::filesystem::remove(dir_ + "/windows/exports");
  Start("", false);
  ASSERT_TRUE(WaitEvent(1));
  int status = 0;
  std::string out;
  EXPECT_EQ(Events(1).at(0), "No EXPORTS file found; server not loaded.");
  out = Qxsc("query QXNFSServer", &status);
  EXPECT_NE(out.find("RUNNING"), std::string::npos) << out;
  EXPECT_EQ(Shell("ss -lnu | grep -c -E ':(111|2049) '"), "0\n");
}

}  // namespace
