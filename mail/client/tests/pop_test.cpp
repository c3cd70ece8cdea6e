// POP retrieval into the store: against a scripted server for what no real
// server does (POP2, LAST refused, a drop mid-body, the terminator split at
// every byte, odd status lines), and against Debian's dovecot for the real
// thing, including a process killed at every step of a retrieval.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sched.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mailstore.h"
#include "pop.h"
#include "pop_peers.h"
#include "settings.h"
#include "transport_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

std::string Msg(int i, const std::string &body) {
  return "From: Sender " + std::to_string(i) + " <sender" + std::to_string(i) +
         "@example.com>\r\nTo: <me@example.com>\r\nSubject: message " + std::to_string(i) +
         "\r\nDate: Tue, 5 Dec 1995 14:30:0" + std::to_string(i % 10) + " GMT\r\nMessage-ID: <m" + std::to_string(i) +
         "@example.com>\r\n\r\n" + body;
}

// Bodies that exercise the terminator and the dot rules.
std::vector<std::string> TrickyMessages() {
  std::string longLine(3000, 'x');
  return {
      Msg(1, "plain body\r\n"),
      Msg(2, ".leading dot\r\n..two dots\r\n.\r\nnot the end (a lone dot inside)\r\n"),
      "MIME-Version: 1.0\r\n" + Msg(3, longLine + ".\r\n" + longLine + "\r\n.\r\n"),
      Msg(4, "ends with a dot.\r\n.\r\n"),
      Msg(5, ""),
      Msg(6, std::string("nul \0 byte and \r inside a line\r\n", 32)),
  };
}

class PopTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    if (HasFatalFailure()) return;
    Settings().ownAddress = "me@example.com";
    mailDir = dir / "mail";
    fs::create_directories(mailDir);
    fs::create_directories(dir / "source");
  }

  void Seed(const std::vector<std::string> &messages) {
    for (size_t i = 0; i < messages.size(); ++i) {
      std::string name = std::to_string(1000 + i);  // name order is message order
      WriteFile(dir / ("source/" + name), messages[i]);
    }
  }
  // Starts the scripted server with options; POP3 on its port unless pop2.
  void StartPeer(std::vector<std::string> options, bool pop2 = false) {
    std::vector<std::string> args = {"/usr/bin/python3", SourceDir() + "/mail/client/tests/pop_peer.py", dir / "source",
                                     dir / "peer.log"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_TRUE(peer.Start(args, true)) << "the scripted POP server did not start (python3)";
    transport.ports["pop-3"] = pop2 ? FreePort() : peer.port();
    transport.ports["pop-2"] = pop2 ? peer.port() : FreePort();
  }
  int Retrieve(int deleteFromServer = 1, const char *password = "secret") {
    ResetMailIo();
    return POP_session("alice", password, deleteFromServer, "127.0.0.1", mailDir);
  }
  std::vector<std::string> PeerLog() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(dir / "peer.log"));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  // Stored messages in slot order, with their records.
  std::map<int, std::string> Stored() {
    std::map<int, std::string> out;
    IDX_RECORD r;
    FILE *f = nullptr;
    for (int rc = IndexOpenFirst(mailDir, r, f); rc == 0; rc = IndexNextRecord(r, f)) {
      const int32_t slot = r.n;
      out[slot] = ReadFile(MessagePath(mailDir, static_cast<uint64_t>(slot)));
    }
    return out;
  }
  std::vector<IDX_RECORD> Records() {
    std::vector<IDX_RECORD> out;
    IDX_RECORD r;
    FILE *f = nullptr;
    for (int rc = IndexOpenFirst(mailDir, r, f); rc == 0; rc = IndexNextRecord(r, f)) out.push_back(r);
    return out;
  }

  std::string mailDir;
  Child peer;
};

// Every message arrives byte for byte (dots unstuffed, the terminator line not
// stored), whether the server sends it at once or one byte at a time.
TEST_F(PopTest, MessagesArriveByteExactWhateverTheSegmentation) {
  const auto messages = TrickyMessages();
  Seed(messages);
  for (bool split : {false, true}) {
    SCOPED_TRACE(split ? "byte by byte" : "at once");
    fs::remove_all(mailDir);
    fs::create_directories(mailDir);
    fs::remove(dir / "peer.log");
    peer.Stop();
    StartPeer(split ? std::vector<std::string>{"--split"} : std::vector<std::string>{});
    ASSERT_EQ(Retrieve(), static_cast<int>(messages.size())) << MailIo().replyText;
    auto stored = Stored();
    ASSERT_EQ(stored.size(), messages.size());
    size_t i = 0;
    for (const auto &[slot, text] : stored) EXPECT_EQ(text, messages[i++]) << "slot " << slot;
    EXPECT_FALSE(WorkFilesLeft(mailDir));
    // Each message is deleted only after it was retrieved, in order.
    std::vector<std::string> log = PeerLog();
    std::vector<std::string> fetchAndDelete;
    for (const auto &l : log)
      if (l.rfind("RETR", 0) == 0 || l.rfind("DELE", 0) == 0) fetchAndDelete.push_back(l);
    ASSERT_EQ(fetchAndDelete.size(), messages.size() * 2);
    for (size_t m = 0; m < messages.size(); ++m) {
      EXPECT_EQ(fetchAndDelete[2 * m], "RETR " + std::to_string(m + 1));
      EXPECT_EQ(fetchAndDelete[2 * m + 1], "DELE " + std::to_string(m + 1));
    }
    EXPECT_EQ(log.back(), "QUIT");
  }
}

TEST_F(PopTest, IndexRecordsCarryTheSummaryAndRisingArrivalTimes) {
  Seed(TrickyMessages());
  StartPeer({});
  ASSERT_EQ(Retrieve(), 6);
  auto records = Records();
  ASSERT_EQ(records.size(), 6u);
  for (size_t i = 0; i < records.size(); ++i) {
    const IDX_RECORD &r = records[i];
    EXPECT_EQ(std::string(r.subject, strnlen(r.subject, sizeof r.subject)), "message " + std::to_string(i + 1));
    EXPECT_EQ(std::string(r.from, strnlen(r.from, sizeof r.from)), "Sender " + std::to_string(i + 1));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(r.trailer), 4), std::string("\0\0\r\n", 4));
    const int flags = r.flags, date = r.date, arrival = r.arrival, previous = i > 0 ? records[i - 1].arrival : 0;
    EXPECT_EQ(flags, i == 2 ? kRecordMime : 0);
    EXPECT_EQ(date, 818173800 + static_cast<int>((i + 1) % 10));
    EXPECT_GT(arrival, previous);
  }
}

TEST_F(PopTest, StatAndLastPickOnlyTheNewMessages) {
  std::vector<std::string> messages;
  for (int i = 1; i <= 5; ++i) messages.push_back(Msg(i, "body\r\n"));
  Seed(messages);
  StartPeer({"--last", "3", "--no-uidl"});
  ASSERT_EQ(Retrieve(0), 2);
  auto stored = Stored();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored.begin()->second, messages[3]);
  EXPECT_EQ(stored.rbegin()->second, messages[4]);
  for (const auto &l : PeerLog()) EXPECT_NE(l.rfind("DELE", 0), 0u) << "delete is off: " << l;
}

// A server that refuses LAST: everything is a candidate, and the identifiers
// kept beside the index keep a second retrieval from storing anything twice,
// in whatever order the server lists them (a number given twice: its last
// identifier). With LAST the first time, the messages up to it count as
// fetched before.
TEST_F(PopTest, RefusedLastWithDeleteOffFetchesEachMessageOnce) {
  const std::vector<std::string> messages = {Msg(1, "a\r\n"), Msg(2, "b\r\n"), Msg(3, "c\r\n")};
  Seed(messages);
  struct Case {
    const char *order, *last;
    int first;  // messages the first retrieval stores
  } cases[] = {{"plain", "refuse", 3}, {"reverse", "refuse", 3}, {"twice", "refuse", 3}, {"reverse", "2", 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.order) + " list, LAST " + c.last);
    peer.Stop();
    fs::remove_all(mailDir);
    fs::create_directories(mailDir);
    StartPeer({"--last", c.last, "--uidl-order", c.order});
    ASSERT_EQ(Retrieve(0), c.first) << MailIo().replyText;
    EXPECT_EQ(Retrieve(0), 0) << MailIo().replyText;
    auto stored = Stored();
    ASSERT_EQ(stored.size(), static_cast<size_t>(c.first));
    EXPECT_EQ(stored.rbegin()->second, messages.back());
  }
  // Without identifiers from the server, a refused LAST means every message again.
  peer.Stop();
  StartPeer({"--last", "refuse", "--no-uidl"});
  EXPECT_EQ(Retrieve(0), 3);
}

// With delete off the side file remembers what was fetched: a retrieval that
// drops nothing leaves it as it is (not rewritten), and one after messages
// left the server keeps exactly the identifiers the server still lists (lines
// it cannot read, an identifier too long, a message gone: dropped).
TEST_F(PopTest, SideFileKeepsWhatTheServerHoldsAndIsRewrittenOnlyWhenSomethingGoes) {
  Seed({Msg(1, "a\r\n"), Msg(2, "b\r\n"), Msg(3, "c\r\n")});
  StartPeer({"--last", "refuse", "--uidl-names"});
  ASSERT_EQ(Retrieve(0), 3) << MailIo().replyText;
  const fs::path side = fs::path(mailDir) / kPopUidlFile;
  auto ids = [&] {
    std::set<std::string> out;
    std::istringstream in(ReadFile(side));
    for (std::string id, rest; in >> id && std::getline(in, rest);) out.insert(id);
    return out;
  };
  auto inode = [&] {
    struct stat st {};
    return ::stat(side.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  EXPECT_EQ(ids(), (std::set<std::string>{"1000", "1001", "1002"}));
  const auto before = inode();
  const std::string text = ReadFile(side);
  EXPECT_EQ(Retrieve(0), 0) << MailIo().replyText;
  EXPECT_EQ(inode(), before) << "the side file was rewritten although nothing left the server";
  EXPECT_EQ(ReadFile(side), text);

  peer.Stop();
  fs::remove(dir / "source/1000");
  WriteFile(dir / "source/1003", Msg(4, "d\r\n"));
  WriteFile(side, ReadFile(side) + "not a line\n" + std::string(100, 'x') + " 7 qx000000\n");
  StartPeer({"--last", "refuse", "--uidl-names"});
  EXPECT_EQ(Retrieve(0), 1) << MailIo().replyText;
  EXPECT_EQ(Stored().size(), 4u);
  EXPECT_EQ(ids(), (std::set<std::string>{"1001", "1002", "1003"}));
  EXPECT_FALSE(fs::exists(fs::path(mailDir) / "popuidl.new"));
  EXPECT_EQ(Retrieve(0), 0) << MailIo().replyText;
  EXPECT_EQ(Stored().size(), 4u);
}

// A retrieval that ended between writing a message's identifier and naming
// its file left the work file; the next one removes it and must also take
// the identifier out of the side file at once: if that retrieval ends early
// too (here the connection drops), a third must still fetch the message.
TEST_F(PopTest, UnnamedMessageLeftByACrashIsFetchedEvenAfterASecondFailure) {
  Seed({Msg(1, "a\r\n"), Msg(2, "b\r\n"), Msg(3, "c\r\n")});
  StartPeer({"--last", "refuse", "--drop", "3"});
  ASSERT_EQ(StoreCreateFolder(mailDir), 0);
  WriteFile(fs::path(mailDir) / kPopUidlFile, "uid-1 0 -\nuid-2 0 -\nuid-3 1 qxABCDEF\n");
  WriteFile(fs::path(mailDir) / "qxABCDEF", "half a message");
  EXPECT_EQ(Retrieve(0), kPopDropped) << MailIo().replyText;
  EXPECT_FALSE(fs::exists(fs::path(mailDir) / "qxABCDEF"));
  peer.Stop();
  StartPeer({"--last", "refuse"});
  EXPECT_EQ(Retrieve(0), 1) << "message 3 was taken as stored: " << ReadFile(fs::path(mailDir) / kPopUidlFile);
  ASSERT_EQ(Stored().size(), 1u);
  EXPECT_EQ(Stored().begin()->second, Msg(3, "c\r\n"));
}

// A message count in STAT is the server's word, not memory to set aside: a
// server claiming two thousand million messages while listing three gets its
// three fetched, then the retrieval ends at the first RETR it refuses.
TEST_F(PopTest, HugeCountInStatIsNotTrusted) {
  Seed({Msg(1, "a\r\n"), Msg(2, "b\r\n"), Msg(3, "c\r\n")});
  StartPeer({"--last", "refuse", "--claim", "2000000000"});
  EXPECT_EQ(Retrieve(0), 3) << MailIo().replyText;
  EXPECT_EQ(Stored().size(), 3u);
}

TEST_F(PopTest, Pop2WhenThePop3PortRefuses) {
  const std::vector<std::string> messages = {Msg(1, "one\r\n.\r\n..\r\n"), Msg(2, "two\r\n")};
  Seed(messages);
  StartPeer({"--pop2"}, true);
  ASSERT_EQ(Retrieve(1), 2) << MailIo().replyText;
  auto stored = Stored();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored.begin()->second, messages[0]);  // POP2 counts bytes: no dot rules
  EXPECT_EQ(stored.rbegin()->second, messages[1]);
  std::vector<std::string> log = PeerLog();
  EXPECT_EQ(log.front(), "HELO alice secret");
  EXPECT_NE(std::find(log.begin(), log.end(), "ACKD"), log.end());
}

TEST_F(PopTest, NoServerOnEitherPortAndUnknownHost) {
  transport.ports["pop-3"] = FreePort();
  transport.ports["pop-2"] = FreePort();
  EXPECT_EQ(Retrieve(), kPopNoServer);
  EXPECT_EQ(PopErrorText(kPopNoServer, "127.0.0.1"), "Mail Host <127.0.0.1> not running POP server");
  ResetMailIo();
  EXPECT_EQ(POP_session("alice", "secret", 1, "no-such-host.invalid", mailDir), kPopUnknownHost);
  EXPECT_EQ(PopLoginCheck("alice", "secret", "127.0.0.1"), kPopNoServer);
}

// A connection that ends in the middle of a body: the messages before it stay
// stored, the broken one leaves nothing behind and is not deleted.
TEST_F(PopTest, DropMidBodyKeepsWhatWasStored) {
  Seed({Msg(1, "first\r\n"), Msg(2, std::string(20000, 'y') + "\r\n"), Msg(3, "third\r\n")});
  StartPeer({"--drop", "2"});
  EXPECT_EQ(Retrieve(), kPopDropped);
  EXPECT_EQ(PopErrorText(kPopDropped, "h"), "Mail Host dropped connection");
  EXPECT_EQ(Stored().size(), 1u);
  EXPECT_FALSE(WorkFilesLeft(mailDir));
  std::vector<std::string> log = PeerLog();
  EXPECT_NE(std::find(log.begin(), log.end(), "DELE 1"), log.end());
  EXPECT_EQ(std::find(log.begin(), log.end(), "DELE 2"), log.end());
}

TEST_F(PopTest, StatusLinesAreBoundedAndChecked) {
  Seed({Msg(1, "x\r\n")});
  struct Case {
    std::vector<std::string> options;
    const char *password;
    int result;
  } cases[] = {
      {{"--bare-status"}, "secret", kPopLoginRefused},  // a bare line feed is no status
      {{"--long-status", "3000"}, "secret", 1},         // 3,000 bytes: read, cut to 131
      {{}, "wrong", kPopLoginRefused},
      // The list names message 1, then "UIDL 1" is refused or answers for another number.
      {{"--uidl-one", "refuse"}, "secret", kPopBadStatus},
      {{"--uidl-one", "wrong"}, "secret", kPopBadStatus},
  };
  for (const Case &c : cases) {
    std::string options = c.options.empty() ? std::string("wrong password") : std::string();
    for (const auto &o : c.options) options += o + " ";
    SCOPED_TRACE(options);
    peer.Stop();
    fs::remove_all(mailDir);
    fs::create_directories(mailDir);
    StartPeer(c.options);
    g_PasswordFailed = 0;
    EXPECT_EQ(Retrieve(0, c.password), c.result) << MailIo().replyText;
    EXPECT_LE(MailIo().replyText.size(), 131u);
    if (std::string(c.password) == "wrong") {
      EXPECT_EQ(MailIo().replyText, "-ERR [AUTH] Authentication failed.");
      EXPECT_EQ(g_PasswordFailed, 1);
      EXPECT_EQ(PopLoginCheck("alice", "wrong", "127.0.0.1"), kPopLoginRefused);
      EXPECT_EQ(PopLoginCheck("alice", "secret", "127.0.0.1"), 0);
    }
  }
}

TEST_F(PopTest, FreeRecordIsReusedAndExistingFilesAreNeverReplaced) {
  ASSERT_EQ(StoreCreateFolder(mailDir), 0);
  for (int i = 1; i <= 3; ++i) {
    std::string path = mailDir + "/";
    FILE *f = CreateUniqueFile(path);
    ASSERT_NE(f, nullptr);
    std::string text = Msg(10 + i, "old\r\n");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    ASSERT_EQ(StoreAddMessage(path, mailDir), 0);
  }
  ASSERT_EQ(StoreDeleteMessage(mailDir, 2), 0);
  WriteFile(MessagePath(mailDir, 4), "a file nobody indexed\r\n");
  Seed({Msg(1, "new one\r\n"), Msg(2, "new two\r\n")});
  StartPeer({});
  ASSERT_EQ(Retrieve(), 2);
  auto stored = Stored();
  EXPECT_EQ(stored[2], Msg(1, "new one\r\n"));                                // the freed slot first
  EXPECT_EQ(ReadFile(MessagePath(mailDir, 4)), "a file nobody indexed\r\n");  // passed over
  EXPECT_EQ(stored[5], Msg(2, "new two\r\n"));
}

// ---- dovecot ----------------------------------------------------------------------

class DovecotTest : public PopTest {
 protected:
  void StartDovecot(bool enableLast) {
    if (!IsRoot()) GTEST_SKIP() << "dovecot tests need root (CI runs them as root)";
    server = std::make_unique<Dovecot>(dir / "dovecot", enableLast);
    for (size_t i = 0; i < seeded.size(); ++i) server->Deliver(std::to_string(1000 + i) + ".seed", seeded[i]);
    ASSERT_TRUE(server->Start()) << "dovecot did not start (package dovecot-pop3d); see "
                                 << dir / "dovecot/dovecot.log";
    transport.ports["pop-3"] = server->port();
    transport.ports["pop-2"] = FreePort();
  }
  std::multiset<std::string> StoredSet() {
    std::multiset<std::string> s;
    for (const auto &[slot, text] : Stored()) s.insert(text);
    return s;
  }
  bool StoredAsSeeded() { return StoredSet() == std::multiset<std::string>(seeded.begin(), seeded.end()); }
  // The stored messages' subjects, for a failure message.
  std::string StoredSubjects() {
    std::string list;
    for (const auto &[slot, text] : Stored()) {
      size_t at = text.find("Subject: ");
      list += std::to_string(slot) + ":" +
              (at == std::string::npos ? "?" : text.substr(at + 9, text.find('\r', at) - at - 9)) + " ";
    }
    return list;
  }
  std::vector<std::string> seeded = {Msg(1, "first\r\n"), Msg(2, ".dot\r\n..dots\r\n"),
                                     "MIME-Version: 1.0\r\n" + Msg(3, std::string(5000, 'z') + "\r\n"),
                                     Msg(4, "last\r\n")};
  std::unique_ptr<Dovecot> server;
};

TEST_F(DovecotTest, DeleteOnEmptiesTheMailboxAfterStoringEverything) {
  StartDovecot(true);
  ASSERT_EQ(Retrieve(1), 4) << MailIo().replyText;
  EXPECT_TRUE(StoredAsSeeded()) << StoredSubjects();
  EXPECT_EQ(server->Held(), 0u);
  EXPECT_EQ(Retrieve(1), 0);
  EXPECT_EQ(g_PasswordVerified, 1);
  EXPECT_EQ(PopLoginCheck("alice", "secret", "127.0.0.1"), 0);
  EXPECT_EQ(PopLoginCheck("alice", "nope", "127.0.0.1"), kPopLoginRefused);
}

TEST_F(DovecotTest, DeleteOffWithAndWithoutLast) {
  for (bool enableLast : {true, false}) {
    SCOPED_TRACE(enableLast ? "LAST enabled" : "LAST refused");
    server.reset();
    fs::remove_all(dir / "dovecot");
    fs::remove_all(mailDir);
    fs::create_directories(mailDir);
    StartDovecot(enableLast);
    ASSERT_EQ(Retrieve(0), 4) << MailIo().replyText;
    EXPECT_EQ(server->Held(), 4u);
    server->Deliver("2000.new", Msg(9, "arrived later\r\n"));
    EXPECT_EQ(Retrieve(0), 1) << MailIo().replyText;
    EXPECT_EQ(Retrieve(0), 0) << MailIo().replyText;
    auto stored = StoredSet();
    EXPECT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored.count(Msg(9, "arrived later\r\n")), 1u);
  }
}

// The same messages fetched by getmail6 into a Maildir carry the same bytes
// (getmail stores line ends as LF and adds a Return-Path line).
TEST_F(DovecotTest, SameBytesAsGetmail) {
  StartDovecot(true);
  ASSERT_EQ(Retrieve(0), 4);
  // getmail delivers as "nobody" when it runs as root.
  const std::string out = dir / "getmail";
  for (const char *sub : {"/Maildir/new", "/Maildir/cur", "/Maildir/tmp"}) {
    fs::create_directories(out + sub);
    lchown((out + sub).c_str(), 65534, 65534);
  }
  lchown((out + "/Maildir").c_str(), 65534, 65534);
  WriteFile(out + "/getmailrc",
            "[retriever]\ntype = SimplePOP3Retriever\nserver = 127.0.0.1\nport = " + std::to_string(server->port()) +
                "\nusername = alice\npassword = secret\ntimeout = 10\n[destination]\ntype = Maildir\nuser = "
                "nobody\npath = " +
                out +
                "/Maildir/\n[options]\nread_all = true\ndelete = false\n"
                "delivered_to = false\nreceived = false\nmessage_log_syslog = false\n");
  // getmail6 starts waiting for its delivery child only after forking it: a
  // child that ends first leaves it waiting out its time-out, and it stops
  // with an error (under load, every few thousand messages). On one processor
  // the parent runs on until it waits; a run that stopped anyway is repeated
  // into an empty Maildir.
  cpu_set_t mine;
  CPU_ZERO(&mine);
  int cpu = 0;
  if (sched_getaffinity(0, sizeof mine, &mine) == 0)
    while (cpu < CPU_SETSIZE - 1 && !CPU_ISSET(cpu, &mine)) ++cpu;
  int status = -1;
  for (int attempt = 1; attempt <= 3 && status != 0; ++attempt) {
    for (const auto &e : fs::directory_iterator(out + "/Maildir/new")) fs::remove(e.path());
    Child getmail;
    ASSERT_TRUE(getmail.Start({"/usr/bin/taskset", "-c", std::to_string(cpu), "/usr/bin/getmail", "--getmaildir", out,
                               "--rcfile", "getmailrc", "--quiet"},
                              false));
    status = getmail.Wait(60);
    if (status != 0) std::fprintf(stderr, "getmail stopped (status %d) in attempt %d\n", status, attempt);
  }
  ASSERT_EQ(status, 0) << "getmail failed three times (package getmail6)";
  std::multiset<std::string> theirs;
  for (const auto &e : fs::directory_iterator(out + "/Maildir/new")) {
    std::string text = ReadFile(e.path());
    if (text.rfind("Return-Path: <unknown>\n", 0) == 0) text.erase(0, 23);  // getmail's own line
    theirs.insert(text);
  }
  std::multiset<std::string> ours;
  for (std::string text : StoredSet()) {
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i)
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    ours.insert(lf);
  }
  EXPECT_TRUE(ours == theirs) << ours.size() << " stored here, " << theirs.size() << " by getmail; first of theirs:\n"
                              << (theirs.empty() ? "" : theirs.begin()->substr(0, 300)) << "\nfirst of ours:\n"
                              << (ours.empty() ? "" : ours.begin()->substr(0, 300));
}

// The client killed at each step of retrieving the second message: a new
// retrieval leaves every seeded message in the store exactly once.
TEST_F(DovecotTest, KilledAtEveryStepNothingLostNothingTwice) {
  for (int deleteFromServer : {1, 0}) {
    for (int step = 1; step <= 5; ++step) {
      if (step == 5 && !deleteFromServer) continue;  // no DELE step
      SCOPED_TRACE("step " + std::to_string(step) + (deleteFromServer ? " delete on" : " delete off"));
      server.reset();
      fs::remove_all(dir / "dovecot");
      fs::remove_all(mailDir);
      fs::create_directories(mailDir);
      StartDovecot(true);
      std::fflush(nullptr);
      pid_t pid = fork();
      if (pid == 0) {
        static int killStep;
        killStep = step;
        g_PopStepHook = [](int message, int s) {
          if (message == 2 && s == killStep) raise(SIGKILL);
        };
        Retrieve(deleteFromServer);
        _exit(0);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
      int again = Retrieve(deleteFromServer);
      EXPECT_GE(again, 2) << MailIo().replyText;
      EXPECT_TRUE(StoredAsSeeded()) << StoredSubjects();
      EXPECT_EQ(Retrieve(deleteFromServer), 0);
      if (deleteFromServer) {
        EXPECT_EQ(server->Held(), 0u);
      }
    }
  }
}

}  // namespace
