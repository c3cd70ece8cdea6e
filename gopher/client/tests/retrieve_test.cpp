// Retrieval against scripted servers on loopback: the exact request bytes,
// what is stored and shown for each type, the terminal hand-off, CSO queries,
// and the messages of servers that refuse, reset or cannot be found.
#include "gophercore.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "qxtest/loopback.h"
#include "qxtest/support.h"
#include "recorder.h"
#include "scripted_server.h"

namespace {

using gophertest::Answer;
using gophertest::RecorderUi;
using gophertest::ScriptedServer;

// A file read whole through the layer.
std::string ReadLayerFile(const std::string &path) {
  FileHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (f.ok() && ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
  return bytes;
}

class RetrieveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(winsock.ok());
    setenv("TEMP", ("Z:" + base.path()).c_str(), 1);
    ASSERT_TRUE(MakePrivateTempDir());
    SetGopherUi(&ui);
  }
  void TearDown() override {
    SetGopherUi(nullptr);
    FreeItemList(g_Roots);
    g_Roots = nullptr;
    RemovePrivateTempDir();
  }
  // A root item on the scripted server.
  GopherItem *Item(const std::string &type, const std::string &selector, u_short port) {
    GopherItem *item = ParseMenuLine(type + "Item\t" + selector + "\t127.0.0.1\t" + std::to_string(port));
    AppendRoot(item, 0);
    return item;
  }
  std::vector<std::string> ChildDisplays(GopherItem *parent) {
    std::vector<std::string> out;
    for (GopherItem *c = parent->firstChild; c; c = c->next) out.push_back(c->display);
    return out;
  }
  qxtest::WinsockSession winsock;
  qxtest::TempDir base{"qx-gopher"};
  RecorderUi ui;
};

TEST_F(RetrieveTest, TextDocumentRowsAndEndLine) {
  ScriptedServer server;
  server.Script({{"first line\r\nsecond\tline\r\n.\r\n"}});
  GopherItem *item = Item("0", "/about.txt", server.port());
  ActivateItem(item, nullptr);
  EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/about.txt\r\n"}));
  EXPECT_EQ(ReadLayerFile(TempPath("UseFile")), "first line\r\nsecond\tline\r\n");
  EXPECT_EQ(ui.rows, (std::vector<long>{0, 12}));
  EXPECT_EQ(ui.widest, 11u);
  EXPECT_TRUE(ui.boxes.empty()) << ui.BoxTexts();
  EXPECT_EQ(g_ReceiveBusy, 0);
}

TEST_F(RetrieveTest, MenusExpandCollapseAndSearchesAskAgain) {
  ScriptedServer server;
  const std::string port = std::to_string(server.port());
  server.Script({{"1Docs\t/docs\t127.0.0.1\t" + port + "\r\n7Find\t/find\t127.0.0.1\t" + port +
                  "\r\niInfo line\t\terror.host\t1\r\n.\r\n"},
                 {"0Doc A\t/a\t127.0.0.1\t" + port + "\r\n.\r\n"},
                 {"0Hit\t/hit\t127.0.0.1\t" + port + "\r\n.\r\n"}});
  GopherItem *root = ParseMenuLine("SServer\t\t127.0.0.1\t" + port);
  ASSERT_EQ(AddRootItem(root, 1), 1) << ui.BoxTexts();
  EXPECT_EQ(ChildDisplays(root), (std::vector<std::string>{"Docs", "Find", "Info line"}));
  EXPECT_TRUE(root->flags & kItemExpanded);

  GopherItem *docs = root->firstChild;
  ActivateItem(docs, nullptr);
  EXPECT_EQ(ChildDisplays(docs), (std::vector<std::string>{"Doc A"}));
  ActivateItem(docs, nullptr);  // collapses, keeps the children
  EXPECT_FALSE(docs->flags & kItemExpanded);
  ActivateItem(docs, nullptr);  // shows them again without a connection
  EXPECT_TRUE(docs->flags & kItemExpanded);
  EXPECT_EQ(server.Accepts(), 2);

  GopherItem *find = docs->next;
  ActivateItem(find, nullptr);  // no words: nothing is sent
  EXPECT_EQ(server.Accepts(), 2);
  ui.searchWords = "cats dogs";
  ActivateItem(find, nullptr);
  EXPECT_EQ(server.Requests().back(), "/find\tcats dogs\r\n");
  EXPECT_EQ(ChildDisplays(find), (std::vector<std::string>{"Hit"}));
  ActivateItem(find, nullptr);  // a collapsed search forgets its answer
  EXPECT_EQ(find->firstChild, nullptr);
  EXPECT_EQ(ui.searchAsked, 2);

  ActivateItem(find->next, nullptr);  // an information line does nothing
  EXPECT_EQ(server.Accepts(), 3);
}

TEST_F(RetrieveTest, BinariesKeepTheirBytesAndAreNotOpenedUnasked) {
  ScriptedServer server;
  std::string binary("\x00\x01\xff payload\r\n.\r\n", 15);
  server.Script({{binary}});
  GopherItem *item = Item("9", "/pub/tool.exe", server.port());
  ui.savePath = "Z:" + base.path() + "/tool.exe";
  ui.answerYesNo = IDYES;
  ActivateItem(item, nullptr);
  EXPECT_EQ(ui.saveProposed, "tool.exe");
  EXPECT_EQ(ui.saveExtension, "exe");
  EXPECT_EQ(qxtest::ReadFile(base.path() + "/tool.exe"), binary);  // type 9 keeps the final line
  EXPECT_TRUE(ui.opened.empty());                                  // a program is never opened
  EXPECT_TRUE(ui.boxes.empty()) << ui.BoxTexts();

  // A document the user may open is offered, and opened only on Yes.
  server.Script({{"<html></html>\r\n.\r\n"}});
  ui.savePath = "Z:" + base.path() + "/page.html";
  ActivateItem(Item("h", "/page.html", server.port()), nullptr);
  EXPECT_EQ(qxtest::ReadFile(base.path() + "/page.html"), "<html></html>\r\n");
  ASSERT_EQ(ui.opened.size(), 1u);
  EXPECT_EQ(ui.boxes.size(), 1u);

  // Cancelling the save dialog connects to nobody.
  const int accepts = server.Accepts();
  ui.savePath.clear();
  ActivateItem(Item("5", "/a.zip", server.port()), nullptr);
  EXPECT_EQ(server.Accepts(), accepts);
}

TEST_F(RetrieveTest, FailingServersAreReportedAndLeaveNothingBusy) {
  // Refused: a port nobody listens on.
  u_short closedPort = 0;
  SOCKET probe = qxtest::Listener(closedPort);
  closesocket(probe);
  EXPECT_EQ(RetrieveItem(Item("0", "/x", closedPort), "/x\r\n", nullptr), 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Connect");
  EXPECT_EQ(ui.boxes[0].text, "The remote host (127.0.0.1) has refused to accept a connection from you.");

  // Reset in the middle of an answer.
  ScriptedServer server;
  server.Script({{std::string(3000, 'x'), true}});
  ui.boxes.clear();
  EXPECT_EQ(RetrieveItem(Item("0", "/x", server.port()), "/x\r\n", nullptr), 0);
  ASSERT_EQ(ui.boxes.size(), 1u) << ui.BoxTexts();
  EXPECT_EQ(ui.boxes[0].caption, "Receive Data");
  EXPECT_NE(ui.boxes[0].text.find("(127.0.0.1) has abnormally terminated"), std::string::npos);

  // A server that closes early: what came is the document, without a box.
  server.Script({{"half a line"}});
  ui.boxes.clear();
  EXPECT_EQ(RetrieveItem(Item("0", "/x", server.port()), "/x\r\n", nullptr), 1);
  EXPECT_EQ(ReadLayerFile(TempPath("UseFile")), "half a line");
  EXPECT_EQ(ui.rows, (std::vector<long>{0}));
  EXPECT_TRUE(ui.boxes.empty()) << ui.BoxTexts();

  // A host no resolver knows.
  GopherItem *lost = ParseMenuLine("0Lost\t/x\tno-such-host.invalid\t70");
  AppendRoot(lost, 0);
  EXPECT_EQ(RetrieveItem(lost, "/x\r\n", nullptr), 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Unable to resolve hostname \"no-such-host.invalid\"");
  EXPECT_EQ(g_ConnectBusy + g_ReceiveBusy, 0);
}

TEST_F(RetrieveTest, TelnetItemsStartTheTerminalOrAreRefused) {
  GopherItem *telnet = ParseMenuLine("8Library\tguest\tlib.example\t2323");
  AppendRoot(telnet, 0);
  ActivateItem(telnet, nullptr);
  EXPECT_EQ(ui.started, (std::vector<std::string>{"vtconsole.EXE lib.example /p=2323 /l=guest /once"}));
  GopherItem *ibm = ParseMenuLine("TMainframe\t\tmvs.example\t23");
  AppendRoot(ibm, 0);
  ActivateItem(ibm, nullptr);
  EXPECT_EQ(ui.started.back(), "vtconsole.EXE /I /T=IBM-3278-2 mvs.example /p=23 /once");

  for (const char *line : {"8Evil\t\thost; rm -rf /\t23", "8Evil\t\t-debug host\t23", "8Evil\tx /debug\th\t23"}) {
    GopherItem *evil = ParseMenuLine(line);
    AppendRoot(evil, 0);
    ui.boxes.clear();
    ActivateItem(evil, nullptr);
    EXPECT_EQ(ui.started.size(), 2u) << line;
    ASSERT_EQ(ui.boxes.size(), 1u) << line;
    EXPECT_NE(ui.boxes[0].text.find("cannot be handed to the terminal safely"), std::string::npos);
  }
}

// A ph server: the "fields" reply, then the query's answers.
TEST_F(RetrieveTest, CsoFieldsOnceThenQueries) {
  ScriptedServer ph("bye\r\n");
  const std::string fields =
      "-200:1:name:max 64 Indexed Lookup Public Default\r\n-200:1:name:Full name.\r\n"
      "-200:2:email:max 64 Public Default\r\n-200:2:email:Mail.\r\n"
      "-200:3:secret:max 8\r\n-200:3:secret:Hidden.\r\n200:Ok.\r\n";
  const std::string one =
      "102:There was 1 match to your request.\r\n-200:1:  name: Ada Lovelace\r\n"
      "-200:1: email: ada@example.org\r\n200:Ok.\r\n";
  const std::string several =
      "102:There were 2 matches to your request.\r\n-200:1:  name: Ada A\r\n"
      "-200:2:  name: Ada B\r\n200:Ok.\r\n";
  const std::string none = "501:No matches to your query.\r\n";
  const std::string error = "514:Too many entries to print.\r\n";
  ph.Script({{fields}, {one}, {several}, {none}, {error}});
  GopherItem *cso = Item("2", "", ph.port());
  ui.csoValue = "ada lovelace";
  ActivateItem(cso, nullptr);
  ASSERT_EQ(ph.Requests().size(), 2u) << ui.BoxTexts();
  EXPECT_EQ(ph.Requests()[0], "fields\r\nexit\r\nquit\r\nbye\r\n");
  EXPECT_EQ(ph.Requests()[1], "query name=ada name=lovelace\r\nquit\r\nexit\r\nbye\r\n");
  EXPECT_EQ(ui.csoFieldsSeen, "3name:0email:");
  // Rows start after each line's first colon: the result code is not shown.
  const std::string shown = ReadLayerFile(TempPath("UseFile"));
  ASSERT_EQ(ui.rows.size(), 4u);
  EXPECT_EQ(shown.substr(ui.rows[0], 9), "There was");
  EXPECT_EQ(shown.substr(ui.rows[1], 13), "1:  name: Ada");

  for (const std::string expected : {"There were 2", "No matches", "Too many"}) {
    ActivateItem(cso, nullptr);
    const std::string text = ReadLayerFile(TempPath("UseFile"));
    ASSERT_FALSE(ui.rows.empty());
    EXPECT_EQ(text.substr(ui.rows[0], expected.size()), expected);
  }
  EXPECT_EQ(ph.Accepts(), 5);  // the field list was asked for once
  EXPECT_TRUE(ui.boxes.empty()) << ui.BoxTexts();
}

}  // namespace
