// The send queue: the header file's lines, the choice of a pair's number,
// a run against aiosmtpd (and the scripted POP server for the password
// check), incomplete pairs kept and reported, and SIGKILL at each step of
// queueing and of sending: afterwards every message is sent once, except the
// one in flight, which may go twice and is reported.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mailfs.h"
#include "mailstore.h"
#include "sending_fixture.h"
#include "sendqueue.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

std::string WithCrLf(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

SEND_HEADER Header(const std::string &to, const std::string &subject) {
  SEND_HEADER h;
  h.from = "alice@example.com";
  h.to = to;
  h.subject = subject;
  h.date = "05 Dec 1995 14:30:00 +0100";
  return h;
}

class SendQueueTest : public SendingTest {
 protected:
  void TearDown() override {
    g_QueueStepHook = nullptr;
    SendingTest::TearDown();
  }
  // A prepared body in a work file of the mail directory, as compose leaves it.
  std::string Body(const std::string &text) {
    std::string path = mailDir + "\\";
    FILE *f = CreateUniqueFile(path);
    EXPECT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return path;
  }
  int Queue(int n) {
    const std::string subject = "message " + std::to_string(n);
    return QueueMessage(mailDir, Body("body of " + subject + "\n"), Header("bob@example.net", subject));
  }
  // How often each subject arrived at the SMTP peer.
  std::map<std::string, int> Arrived() {
    std::map<std::string, int> counts;
    for (const auto &e : fs::directory_iterator(dir / "received")) {
      if (e.path().extension() != ".eml") continue;
      const std::string text = qxtest::ReadFile(e.path());
      EXPECT_EQ(text.find("\r\r"), std::string::npos);
      const size_t at = text.find("\r\nSubject: ");
      if (at == std::string::npos) continue;
      const size_t start = at + 11;
      ++counts[text.substr(start, text.find("\r\n", start) - start)];
    }
    return counts;
  }
  std::vector<std::string> QueueFiles() {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir / "mail"))
      if (e.path().filename().string().rfind("tosend", 0) == 0 && e.path().extension() != ".lck")
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> WorkFiles() {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir / "mail"))
      if (e.path().filename().string().rfind("qx", 0) == 0) names.push_back(e.path());
    return names;
  }
};

// --- The header file -------------------------------------------------------

TEST_F(SendQueueTest, HeaderFileLinesAndWhatCountsAsComplete) {
  SEND_HEADER h = Header("bob@example.net, \"Smith, Ann\" <ann@example.net>", "caf\xe9 menu");
  h.flags = kSendMultipart | kSendReturnReceipt;
  h.cc = "carol@example.net";
  h.extraLines = {"X-One: 1", "X-Two: two\r\nRCPT TO: <evil@example.net>"};
  EXPECT_EQ(SendHeaderText(h),
            "5\nalice@example.com\ncaf\xe9 menu\nbob@example.net, \"Smith, Ann\" <ann@example.net>\n"
            "carol@example.net\n\n\n\n05 Dec 1995 14:30:00 +0100\n\n\n2\nX-One: 1\n"
            "X-Two: two  RCPT TO: <evil@example.net>\n");
  const std::string complete = SendHeaderText(h);
  struct Case {
    const char *what;
    std::string text;
    bool ok;
  } cases[] = {
      {"as written", complete, true},
      {"CR LF line ends (the queue's files on disk)", WithCrLf(complete), true},
      {"the MIME library's mail-server request",
       "0\r\nalice@example.com\r\nMime-Mail-Server\r\nlistserv@example.org\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n0\r\n", true},
      {"last counted line without its line feed", complete.substr(0, complete.size() - 1), false},
      {"a counted line missing", complete.substr(0, complete.rfind("X-Two")), false},
      {"count missing", complete.substr(0, complete.find("2\nX-One")), false},
      {"empty", "", false},
      {"count out of range", "0\n\n\n\n\n\n\n\n\n\n\n300\n", false},
      {"flags not a number", "zero\n\n\n\n\n\n\n\n\n\n\n0\n", false},
  };
  for (const Case &c : cases) {
    WriteFile(mailDir + "/h", c.text);
    SEND_HEADER read;
    EXPECT_EQ(ReadSendHeaderFile(mailDir + "\\h", read), c.ok) << c.what;
    if (c.ok && c.text == complete) {
      EXPECT_EQ(read.flags, 5);
      EXPECT_EQ(read.to, h.to);
      EXPECT_FALSE(read.bcc.has_value());
      EXPECT_EQ(read.extraLines.size(), 2u);
    }
  }
}

TEST_F(SendQueueTest, PairTakesTheLowestFreeNumberAndTheBodyMovesWhole) {
  WriteFile(mailDir + "/tosendm.000", "earlier\r\n");
  WriteFile(mailDir + "/tosendm.002", "earlier\r\n");
  WriteFile(mailDir + "/tosendh.003", "a header left without its body\r\n");
  EXPECT_EQ(Queue(1), 1);
  EXPECT_EQ(Queue(2), 4);  // 002 taken, 003 has a header
  EXPECT_EQ(ReadFile(mailDir + "/tosendm.001"), "body of message 1\n");
  SEND_HEADER read;
  ASSERT_TRUE(ReadSendHeaderFile(mailDir + "\\tosendh.001", read));
  EXPECT_EQ(read.subject, "message 1");
  EXPECT_TRUE(WorkFiles().empty());
  EXPECT_EQ(QueueFiles(), (std::vector<std::string>{"tosendh.001", "tosendh.003", "tosendh.004", "tosendm.000",
                                                    "tosendm.001", "tosendm.002", "tosendm.004"}));
  // A body that cannot be found is not queued as an empty message.
  EXPECT_EQ(QueueMessage(mailDir, mailDir + "\\qxmissing", Header("bob@example.net", "gone")), -1);
  EXPECT_FALSE(fs::exists(mailDir + "/tosendm.003"));
}

// With every number taken the message is not queued, its body stays where
// it was, and the user is told the queue is full (not that the directory
// may be unwritable).
TEST_F(SendQueueTest, AFullQueueSaysSoAndKeepsTheBody) {
  for (int n = 0; n < kQueueSlots; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/tosendm.%03d", n);
    WriteFile(mailDir + name, "earlier\r\n");
  }
  EXPECT_EQ(Queue(1), kQueueFull);
  ASSERT_EQ(WorkFiles().size(), 1u);
  EXPECT_EQ(ReadFile(WorkFiles()[0]), "body of message 1\n");
  EXPECT_EQ(QueueFullText(mailDir),
            "The send queue of " + mailDir +
                " is full: 1000 messages wait there. Send them with Send Delayed Messages, then send this one "
                "again.");
}

// --- Sending the queue -------------------------------------------------------

TEST_F(SendQueueTest, EveryPairIsSentOnceAndIncompletePairsAreKeptAndReported) {
  StartSmtp();
  for (int n = 1; n <= 3; ++n) ASSERT_GE(Queue(n), 0);
  WriteFile(mailDir + "/tosendm.007", "a body whose header never came\r\n");
  WriteFile(mailDir + "/tosendm.008", "a body with half a header\r\n");
  WriteFile(mailDir + "/tosendh.008", "0\r\nalice@example.com\r\nhalf\r\nbob@exa");
  WriteFile(mailDir + "/tosendm.009", "nobody to send to\r\n");
  WriteFile(mailDir + "/tosendh.009", "0\n\nno recipient\n\n\n\n\n\n\n\n\n0\n");
  EXPECT_EQ(SendDeferred(1, nullptr), 3);
  EXPECT_EQ(Arrived(), (std::map<std::string, int>{{"message 1", 1}, {"message 2", 1}, {"message 3", 1}}));
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_NE(g_boxes[0].find("tosendm.007 (it has no header file)"), std::string::npos) << g_boxes[0];
  EXPECT_NE(g_boxes[0].find("tosendm.008 (its header file is incomplete)"), std::string::npos) << g_boxes[0];
  EXPECT_NE(g_boxes[0].find("tosendm.009 (it names no recipient)"), std::string::npos) << g_boxes[0];
  EXPECT_EQ(QueueFiles(),
            (std::vector<std::string>{"tosendh.008", "tosendh.009", "tosendm.007", "tosendm.008", "tosendm.009"}));
  // The received message: CR LF lines, the queued body as it was.
  const std::string received = qxtest::ReadFile(dir / "received/msg-1.eml");
  EXPECT_NE(received.find("\r\n\r\nbody of message 1\r\n"), std::string::npos) << received;
}

TEST_F(SendQueueTest, CancelSendsNothingAndAnUnreachableHostStopsTheRunOnce) {
  for (int n = 1; n <= 3; ++n) ASSERT_GE(Queue(n), 0);
  g_answer = IDCANCEL;
  EXPECT_EQ(SendDeferred(0, nullptr), 0);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Delayed Messages to Send: Send Delayed Messages Now ?");
  g_boxes.clear();
  transport.ports["smtp"] = FreePort();  // nothing listens there
  EXPECT_EQ(SendDeferred(1, nullptr), 0);
  ASSERT_EQ(g_boxes.size(), 1u) << g_boxes.back();
  EXPECT_EQ(g_boxes[0].rfind("Sending Mail: ", 0), 0u) << g_boxes[0];
  EXPECT_EQ(QueueFiles().size(), 6u);
}

TEST_F(SendQueueTest, RefusedPairGoesToTheComposeDialogAndOtherwiseStays) {
  StartSmtp();
  ASSERT_EQ(QueueMessage(mailDir, Body("refused\n"), Header("bad@example.net", "refused")), 0);
  ASSERT_EQ(Queue(2), 1);
  static std::string s_opened;
  g_ComposeFromQueue = [](HWND, const std::string &body) { s_opened = body; };
  EXPECT_EQ(SendDeferred(1, nullptr), 1);
  g_ComposeFromQueue = nullptr;
  EXPECT_EQ(s_opened, mailDir + "\\tosendm.000");
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_NE(g_boxes[0].find("Error Sending Mail: "), std::string::npos);
  EXPECT_EQ(QueueFiles(), (std::vector<std::string>{"tosendh.000", "tosendm.000"}));
  EXPECT_EQ(Arrived(), (std::map<std::string, int>{{"message 2", 1}}));
}

TEST_F(SendQueueTest, PasswordIsCheckedOnceBeforeTheFirstPair) {
  StartPop();
  ASSERT_GE(Queue(1), 0);
  g_PasswordVerified = 0;
  g_Password = "wrong";
  EXPECT_EQ(SendDeferred(1, nullptr), 0);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Password Check: Username/Password combination fails on server");
  EXPECT_EQ(QueueFiles().size(), 2u);
}

// --- Crashes -------------------------------------------------------------------

const char *g_killOperation = nullptr;
int g_killStep = 0, g_killAt = 0, g_calls = 0;

void KillHere(const char *operation, int step) {
  if (std::string(operation) != g_killOperation || step != g_killStep) return;
  if (++g_calls == g_killAt) raise(SIGKILL);
}

// Runs body in a child that kills itself at the kill-at'th call of
// (operation, step); true when it died there.
template <typename Body>
bool RunAndKill(const char *operation, int step, int at, Body body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    g_killOperation = operation;
    g_killStep = step;
    g_killAt = at;
    g_calls = 0;
    g_QueueStepHook = KillHere;
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

TEST_F(SendQueueTest, KilledWhileQueueingLosesNothing) {
  StartSmtp();
  for (int step = 1; step <= 3; ++step) {
    SCOPED_TRACE(step);
    fs::remove_all(dir / "mail");
    fs::remove_all(dir / "received");
    fs::create_directories(dir / "mail");
    fs::create_directories(dir / "received");
    // Message 2 is being queued when the process dies; message 3 never is.
    ASSERT_TRUE(RunAndKill("queue", step, 2, [&] {
      for (int n = 1; n <= 3; ++n) Queue(n);
    }));
    g_boxes.clear();
    SendDeferred(1, nullptr);
    EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
    std::map<std::string, int> arrived = Arrived();
    EXPECT_EQ(arrived["message 1"], 1);
    if (step == 1) {
      // The body had not moved yet: it is still the composition's own file.
      EXPECT_EQ(arrived.count("message 2"), 0u);
      ASSERT_EQ(WorkFiles().size(), 1u);
      EXPECT_EQ(ReadFile(WorkFiles()[0]), "body of message 2\n");
    } else {
      EXPECT_EQ(arrived["message 2"], 1);  // the pair was finished and sent
      EXPECT_TRUE(WorkFiles().empty());
    }
    EXPECT_EQ(arrived.count("message 3"), 0u);
    EXPECT_TRUE(QueueFiles().empty());
  }
}

TEST_F(SendQueueTest, KilledWhileSendingSendsOnlyTheMessageInFlightTwice) {
  StartSmtp();
  struct Case {
    int step;
    int timesSecond;  // how often the message in flight arrives in all
    bool reported;
  } cases[] = {
      {1, 1, true},   // marked, not yet sent: sent after the restart, the user told it may go twice
      {2, 2, true},   // the server took it, the pair was still there: sent again, reported
      {3, 1, false},  // body deleted: only the clean-up was left
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.step);
    fs::remove_all(dir / "mail");
    fs::remove_all(dir / "received");
    fs::create_directories(dir / "mail");
    fs::create_directories(dir / "received");
    for (int n = 1; n <= 3; ++n) ASSERT_GE(Queue(n), 0);
    ASSERT_TRUE(RunAndKill("send", c.step, 2, [&] { SendDeferred(1, nullptr); }));
    g_boxes.clear();
    SendDeferred(1, nullptr);
    EXPECT_EQ(Arrived(),
              (std::map<std::string, int>{{"message 1", 1}, {"message 2", c.timesSecond}, {"message 3", 1}}));
    if (c.reported) {
      ASSERT_EQ(g_boxes.size(), 1u);
      EXPECT_NE(g_boxes[0].find("may arrive twice"), std::string::npos) << g_boxes[0];
      EXPECT_NE(g_boxes[0].find("subject \"message 2\""), std::string::npos) << g_boxes[0];
    } else {
      EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
    }
    EXPECT_TRUE(QueueFiles().empty());
  }
}

// --- Two mail clients on one mailbox --------------------------------------------

// A forked process running body; killed and reaped when the object goes away.
class Forked {
 public:
  template <typename Body>
  explicit Forked(Body body) {
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) _exit(body());
  }
  ~Forked() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Forked(const Forked &) = delete;
  Forked &operator=(const Forked &) = delete;
  // Its exit code (128 + signal), or -1 when it did not end within timeout_ms.
  int Wait(int timeout_ms = 30000) {
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
      }
      usleep(10000);
    }
    return -1;
  }
  bool Running() {
    int status = 0;
    if (reaped_ || waitpid(pid_, &status, WNOHANG) != pid_) return !reaped_;
    reaped_ = true;
    exitCode_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return false;
  }
  int ExitCode() const { return exitCode_; }
  void Kill() { kill(pid_, SIGKILL); }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = -1;
};

// A queueing process stops at one step and tells the parent; the parent lets
// it go on (or kills it) by writing to (or closing) the other pipe.
int g_pausedFd = -1, g_goFd = -1, g_pauseStep = 0;
void PauseHere(const char *operation, int step) {
  if (std::string(operation) != "queue" || step != g_pauseStep) return;
  char c = 'p';
  if (write(g_pausedFd, &c, 1) != 1) return;
  (void)!read(g_goFd, &c, 1);  // the end of the pipe also lets it go on
}

bool WaitForByte(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  char c;
  return poll(&p, 1, timeout_ms) == 1 && read(fd, &c, 1) == 1;
}

// The second client runs the queue while the first is in the middle of
// queueing a message: the run waits for the pair to be whole (or for the
// writer to die) instead of taking its header written aside for a crash
// leftover, so the message is queued once and sent once.
TEST_F(SendQueueTest, RunWaitsForAnotherClientQueueingAPair) {
  StartSmtp();
  struct Case {
    int step;
    bool killWriter;
    int arrivals;  // of the paused writer's message
  } cases[] = {
      {1, false, 1},
      {2, false, 1},
      {1, true, 0},  // killed before its body moved: the body is still the composition's file
      {2, true, 1},  // killed with its body queued and its header aside: the run finishes the pair
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "step " << c.step << (c.killWriter ? ", writer killed" : ""));
    fs::remove_all(dir / "mail");
    fs::remove_all(dir / "received");
    fs::create_directories(dir / "mail");
    fs::create_directories(dir / "received");
    int paused[2], go[2];
    ASSERT_EQ(pipe(paused), 0);
    ASSERT_EQ(pipe(go), 0);
    Forked writer([&] {
      close(paused[0]);
      close(go[1]);
      g_pausedFd = paused[1];
      g_goFd = go[0];
      g_pauseStep = c.step;
      g_QueueStepHook = PauseHere;
      return Queue(1) >= 0 ? 0 : 1;
    });
    close(paused[1]);
    close(go[0]);
    const bool writerPaused = WaitForByte(paused[0], 10000);
    close(paused[0]);
    ASSERT_TRUE(writerPaused) << "the queueing process did not reach step " << c.step;
    Forked runner([&] {
      close(go[1]);  // only the parent lets the writer go on
      g_boxes.clear();
      const int sent = SendDeferred(1, nullptr);
      return sent + (g_boxes.empty() ? 0 : 100);  // any message box fails the case
    });
    usleep(300000);  // the run is started and meets the writer's lock
    if (c.killWriter) {
      writer.Kill();
      EXPECT_EQ(writer.Wait(), 128 + SIGKILL);
    }
    close(go[1]);
    if (!c.killWriter) {
      EXPECT_EQ(writer.Wait(), 0) << "queueing failed";
    }
    EXPECT_EQ(runner.Wait(), c.arrivals) << "messages sent (+100 when the run showed a message box)";
    EXPECT_EQ(Arrived()["message 1"], c.arrivals);
    EXPECT_TRUE(QueueFiles().empty()) << QueueFiles().front();
    if (c.arrivals == 0) {
      ASSERT_EQ(WorkFiles().size(), 1u);
      EXPECT_EQ(ReadFile(WorkFiles()[0]), "body of message 1\n");
    }
  }
}

// One client queues message after message while the other sends the queue
// over and over: every message arrives once, no run reports a half-made
// pair, and the queue ends empty.
TEST_F(SendQueueTest, QueueingAndSendingAtOnceLosesAndRepeatsNothing) {
  StartSmtp();
  constexpr int kMessages = 40;
  Forked writer([&] {
    int failed = 0;
    for (int n = 1; n <= kMessages; ++n) failed += Queue(n) < 0;
    return failed;
  });
  int runs = 0;
  while (writer.Running() && runs < 2000) {
    SendDeferred(1, nullptr);
    ++runs;
  }
  EXPECT_FALSE(writer.Running()) << "the queueing process did not finish";
  EXPECT_EQ(writer.ExitCode(), 0) << "messages the queueing process could not queue";
  SendDeferred(1, nullptr);
  EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
  std::map<std::string, int> expected;
  for (int n = 1; n <= kMessages; ++n) expected["message " + std::to_string(n)] = 1;
  EXPECT_EQ(Arrived(), expected);
  EXPECT_TRUE(QueueFiles().empty()) << QueueFiles().front();
  EXPECT_TRUE(WorkFiles().empty());
}

// Two clients send the same queue at once: one run has the queue and sends
// every message once; the other says the queue is being sent (or, started
// after the first ended, finds it empty) and sends none.
TEST_F(SendQueueTest, TwoRunsAtOnceSendEachMessageOnce) {
  StartSmtp();
  constexpr int kMessages = 20;
  for (int n = 1; n <= kMessages; ++n) ASSERT_GE(Queue(n), 0);
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  auto run = [&] {
    close(start[1]);
    char c;
    (void)!read(start[0], &c, 1);  // both start when the parent closes its end
    g_boxes.clear();
    const int sent = SendDeferred(1, nullptr);
    const bool toldBusy = g_boxes.size() == 1 && g_boxes[0].find("Another mail client is sending") != std::string::npos;
    if (sent == kMessages && g_boxes.empty()) return 1;
    if (sent == 0 && toldBusy) return 2;
    return sent == 0 && g_boxes.empty() ? 4 : 3;
  };
  Forked first(run), second(run);
  close(start[0]);
  close(start[1]);
  const int a = first.Wait(), b = second.Wait();
  EXPECT_TRUE((a == 1 && (b == 2 || b == 4)) || (b == 1 && (a == 2 || a == 4)))
      << "outcomes " << a << " and " << b
      << " (1 sent all, 2 told the queue was being sent, 4 found it empty, 3 anything else)";
  std::map<std::string, int> expected;
  for (int n = 1; n <= kMessages; ++n) expected["message " + std::to_string(n)] = 1;
  EXPECT_EQ(Arrived(), expected);
  EXPECT_TRUE(QueueFiles().empty()) << QueueFiles().front();
}

// A lock of the queue that cannot be had is a busy queue only while another
// client holds it. A lock file or a mail directory that cannot be written is
// said at once, naming the lock file, and is never called busy or "being
// sent" (waiting would never help).
TEST_F(SendQueueTest, AnUnwritableLockIsNotTakenForABusyQueue) {
  struct Case {
    const char *what;
    const char *lockName;
    bool held;  // else made read-only
    bool sending;
    std::string expected;  // a part of the one message box, or of the result
  } cases[] = {
      {"queueing, write lock held", "tosendw.lck", true, false, "busy"},
      {"queueing, write lock file read-only", "tosendw.lck", false, false, "refused"},
      {"sending, queue lock held", "tosend.lck", true, true, "Another mail client is sending"},
      {"sending, queue lock file read-only", "tosend.lck", false, true, "tosend.lck could not be made or written"},
      {"sending, write lock file read-only", "tosendw.lck", false, true, "tosendw.lck could not be made or written"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir / "mail");
    fs::create_directories(dir / "mail");
    ASSERT_EQ(Queue(1), 0);
    g_boxes.clear();
    MailboxLock holder;
    const fs::path lockFile = fs::path(dir / "mail") / c.lockName;
    if (c.held) {
      ASSERT_TRUE(holder.Open(mailDir, c.lockName));
    } else {
      WriteFile(lockFile.string(), "");
      fs::permissions(lockFile, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    if (c.sending) {
      EXPECT_EQ(SendDeferred(1, nullptr), 0);
      ASSERT_EQ(g_boxes.size(), 1u);
      EXPECT_NE(g_boxes[0].find(c.expected), std::string::npos) << g_boxes[0];
      if (!c.held) {
        EXPECT_NE(g_boxes[0].find("writable"), std::string::npos) << g_boxes[0];
      }
    } else {
      const int queued = Queue(2);
      EXPECT_EQ(queued, c.expected == "busy" ? kQueueBusy : -1)
          << "-1: the lock file cannot be written; " << kQueueBusy << ": another client holds the lock";
    }
    EXPECT_EQ(QueueFiles(), (std::vector<std::string>{"tosendh.000", "tosendm.000"})) << "the queue changed";
    holder.Close();
    fs::permissions(lockFile, fs::perms::owner_all);
  }
}

// A mail directory on a read-only file system (a read-only bind mount in a
// mount namespace of a child process): a run says the lock file cannot be
// made there, not that another client is sending.
TEST_F(SendQueueTest, AReadOnlyMailDirectoryIsSaidSoWhenSending) {
  if (geteuid() != 0) GTEST_SKIP() << "a read-only bind mount in a mount namespace of its own needs root";
  ASSERT_EQ(Queue(1), 0);
  const std::string mailHost = dir / "mail";
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  Forked run([&] {
    close(report[0]);
    // The mounts are made by mount(8) in this process's own namespace.
    const std::string mountReadOnly = "mount --make-rprivate / && mount --bind '" + mailHost + "' '" + mailHost +
                                      "' && mount -o remount,ro,bind '" + mailHost + "'";
    if (unshare(CLONE_NEWNS) != 0 || std::system(mountReadOnly.c_str()) != 0) return 90;
    g_boxes.clear();
    const int sent = SendDeferred(1, nullptr);
    const std::string text = g_boxes.empty() ? std::string("(no message box)") : g_boxes[0];
    (void)!write(report[1], text.data(), text.size());
    return sent;
  });
  close(report[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = read(report[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(report[0]);
  ASSERT_NE(run.Wait(), 90) << "the read-only bind mount could not be made (unshare -m, mount --bind)";
  EXPECT_NE(text.find("tosend.lck could not be made or written"), std::string::npos) << text;
  EXPECT_EQ(QueueFiles(), (std::vector<std::string>{"tosendh.000", "tosendm.000"})) << "the queue changed";
}

}  // namespace
