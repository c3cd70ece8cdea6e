// The message list: the sort orders as a table of rows, and the "Read Mail"
// window on a headless display driven as a person would, one step a tick:
// sorting, deleting with "All", filing into a folder of the tree, changing
// folders, and removing a folder that became empty.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <set>

#include "folders.h"
#include "msglist.h"
#include "msgsort.h"
#include "retrieve.h"
#include "store_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

const HeadlessDisplay g_headless;

MSG_ENTRY Entry(const std::string &row, int32_t date, int32_t arrival = 0) {
  MSG_ENTRY e;
  e.rowText = row;
  e.date = date;
  e.arrival = arrival;
  return e;
}

std::vector<std::string> g_boxes;
int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return IDOK;
}

struct Step {
  const char *caption;
  std::function<void(HWND)> act;
};
std::vector<Step> g_steps;
size_t g_step = 0;
void CALLBACK NextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_step >= g_steps.size()) return;
  HWND d = FindWindowA(nullptr, g_steps[g_step].caption);
  if (!d || !IsWindowEnabled(d)) return;  // a window below a modal one waits
  g_steps[g_step++].act(d);
}

void Press(HWND d, int id) { PostMessageA(d, WM_COMMAND, static_cast<WPARAM>(id), 0); }
std::string Count(HWND d) {
  char text[64] = {};
  GetDlgItemTextA(d, IDC_LIST_COUNT, text, sizeof text);
  return text;
}
void SelectOnly(HWND d, int from, int to) {
  SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SETSEL, FALSE, -1);
  SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SELITEMRANGE, TRUE, MAKELPARAM(from, to));
}
void ChooseFolder(HWND d, const char *row) {
  const LRESULT at = SendDlgItemMessageA(d, IDC_LIST_FOLDERS, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(row));
  SendDlgItemMessageA(d, IDC_LIST_FOLDERS, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
  SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_LIST_FOLDERS, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(d, IDC_LIST_FOLDERS)));
}

// A message dated hour hours after a fixed time, so that Date orders them.
std::string Dated(int hour) {
  const std::time_t when = 818173800 + static_cast<std::time_t>(hour) * 3600;
  std::tm t{};
  gmtime_r(&when, &t);
  char date[64];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &t);
  return "From: Sender " + std::to_string(hour) + " <s@example.com>\r\nSubject: message " + std::to_string(hour) +
         "\r\nDate: " + date + "\r\nMessage-ID: <h" + std::to_string(hour) + "@example.com>\r\n\r\nbody\r\n";
}

}  // namespace

TEST(MessageSort, OrdersAsATable) {
  const MSG_ENTRY budget = Entry("12/05  Ann Lee\t\t\tRe: Fwd: Budget", 200);
  const MSG_ENTRY plain = Entry("12/05  bob\t\t\tbudget", 100);
  const MSG_ENTRY sent = Entry("12/06  To: Carol\t\t\tPlans", 50);
  const MSG_ENTRY carol = Entry("12/06  carol\t\t\t  Fw: plans", 60);
  const struct {
    const char *what;
    const MSG_ENTRY &a, &b;
    int order;
    bool reverse;
    int expected;
  } cases[] = {
      {"subject prefixes skipped, equal subjects by Date", budget, plain, kSortSubject, false, 1},
      {"reverse turns it round", budget, plain, kSortSubject, true, -1},
      {"blanks and Fw: skipped", carol, sent, kSortSubject, false, 1},
      {"From without case", plain, budget, kSortFrom, false, 1},
      {"To: is skipped in the From column", sent, carol, kSortFrom, false, -1},
      {"Date", sent, plain, kSortDate, false, -1},
      {"equal Dates compare equal", plain, Entry("x", 100), kSortDate, false, 0},
      {"arrival", Entry("a", 1, 5), Entry("b", 2, 3), kSortArrival, false, 1},
      {"arrival reversed: newest first", Entry("a", 1, 5), Entry("b", 2, 3), kSortArrival, true, -1},
  };
  for (const auto &c : cases) EXPECT_EQ(CompareMessageEntries(c.a, c.b, c.order, c.reverse), c.expected) << c.what;
}

// An index written record by record: many equal Dates and arrivals (the ties
// order by record), and free records between the used ones.
std::string WriteOrderIndex(const TempDir &dir, int records) {
  const std::string folder = dir / "order";
  fs::create_directories(Host(folder));
  std::string bytes = FreeRecordBytes(0);
  for (int i = 1; i <= records; ++i) {
    IDX_RECORD r{};
    if (i % 97 == 0) {
      r.flags = kRecordFree;
    } else {
      r.flags = i % 5 == 0 ? kRecordMime : 0;
      r.n = i;
      r.date = 818173800 + (i * 7919) % 50 * 86400 - (i % 11 == 0 ? 1000000000 : 0);
      r.arrival = 818173800 + i / 3;
      std::snprintf(r.subject, sizeof r.subject, "%ssubject %d", i % 3 == 0 ? "Re: " : (i % 7 == 0 ? " Fwd: " : ""),
                    i % 40);
      std::snprintf(r.from, sizeof r.from, "%ssender %d", i % 17 == 0 ? "To: " : (i % 2 ? "S" : ""), i % 13);
    }
    bytes.append(reinterpret_cast<const char *>(&r), sizeof r);
  }
  WriteFile(folder + "/index.idx", bytes);
  return folder;
}

struct FixedRowWidth : RowMeasure {
  int TextWidth(const std::string &text) override { return static_cast<int>(text.size()) * 7; }
};

// A folder opened in Date or Rcvd Time order shows its first screen from one
// pass over its index, and orders all its keys when a later row is needed:
// both give exactly the rows of the whole list built and sorted, ties, free
// records and an index of several read pieces included.
TEST(MessageSort, FirstScreenThenTheRestMatchTheWholeSortedList) {
  TempDir dir;
  const struct {
    int records;
    int order;
    bool reverse;
    size_t firstScreen;
  } cases[] = {
      {3000, kSortDate, false, 64},   {3000, kSortDate, true, 64}, {3000, kSortArrival, false, 64},
      {3000, kSortArrival, true, 64}, {3000, kSortDate, true, 1},  {10, kSortArrival, true, 64},
      {50, kSortDate, false, 0},      {0, kSortDate, false, 64},   {601, kSortDate, true, 64},
      {602, kSortArrival, false, 64},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.records << " records, order " << c.order << (c.reverse ? " reversed" : ""));
    const std::string folder = WriteOrderIndex(dir, c.records);
    FixedRowWidth measure;
    BuildMessageList(folder, measure);
    std::vector<MSG_ENTRY> whole = CurrentMessageList();
    FreeMessageList();
    SortMessageEntries(whole, c.order, c.reverse);
    std::vector<MSG_KEY> keys;
    ASSERT_EQ(ChooseFirstKeys(folder, c.firstScreen, c.order, c.reverse, keys), static_cast<int>(whole.size()));
    const size_t shown = std::min(c.firstScreen, whole.size());
    ASSERT_EQ(keys.size(), shown);
    const std::vector<MSG_ENTRY> rows = BuildEntries(folder, keys, 0, shown, measure);
    ASSERT_EQ(rows.size(), shown);
    for (size_t i = 0; i < shown; ++i) {
      EXPECT_EQ(rows[i].number, whole[i].number) << "row " << i;
      EXPECT_EQ(rows[i].rowText, whole[i].rowText) << "row " << i;
      EXPECT_EQ(rows[i].flags, whole[i].flags) << "row " << i;
    }
    ASSERT_EQ(LoadMessageKeys(folder, keys), static_cast<int>(whole.size()));
    SortMessageKeys(keys, c.order, c.reverse);
    std::vector<int32_t> lazy, eager;
    for (const MSG_KEY &k : keys) lazy.push_back(k.number);
    for (const MSG_ENTRY &e : whole) eager.push_back(e.number);
    EXPECT_EQ(lazy, eager);
  }
}

// The From and Subject orders, sorted over columns cut once, are exactly the
// orders the row comparison gives, equal columns by Date and equal Dates in
// the list's order.
TEST(MessageSort, FromAndSubjectOrdersAreThoseOfTheComparison) {
  TempDir dir;
  const std::string folder = WriteOrderIndex(dir, 2000);
  FixedRowWidth measure;
  BuildMessageList(folder, measure);
  const std::vector<MSG_ENTRY> loaded = CurrentMessageList();
  FreeMessageList();
  for (int order : {kSortFrom, kSortSubject})
    for (bool reverse : {false, true}) {
      SCOPED_TRACE(testing::Message() << "order " << order << (reverse ? " reversed" : ""));
      std::vector<MSG_ENTRY> expected = loaded, sorted = loaded;
      std::stable_sort(expected.begin(), expected.end(), [&](const MSG_ENTRY &a, const MSG_ENTRY &b) {
        return CompareMessageEntries(a, b, order, reverse) < 0;
      });
      SortMessageEntries(sorted, order, reverse);
      std::vector<int32_t> want, got;
      for (const MSG_ENTRY &e : expected) want.push_back(e.number);
      for (const MSG_ENTRY &e : sorted) got.push_back(e.number);
      EXPECT_EQ(got, want);
    }
}

// A record freed or reused after the keys were read gives its row the date
// alone instead of another message's sender and subject.
TEST(MessageSort, ARowWhoseRecordChangedShowsItsDateAlone) {
  TempDir dir;
  const std::string folder = WriteOrderIndex(dir, 20);
  std::vector<MSG_KEY> keys;
  ASSERT_EQ(LoadMessageKeys(folder, keys), 20);
  std::string bytes = ReadFile(folder + "/index.idx");
  bytes.replace(3 * kRecordSize, kRecordSize, FreeRecordBytes(0));  // record 3 freed meanwhile
  WriteFile(folder + "/index.idx", bytes);
  FixedRowWidth measure;
  const std::vector<MSG_ENTRY> rows = BuildEntries(folder, keys, 0, keys.size(), measure);
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows[2].number, 3);
  EXPECT_EQ(rows[2].rowText.find("sender"), std::string::npos) << rows[2].rowText;
  EXPECT_EQ(rows[2].rowText.find("subject"), std::string::npos) << rows[2].rowText;
  EXPECT_NE(rows[3].rowText.find("subject 4"), std::string::npos) << rows[3].rowText;
}

TEST(MessageSearch, HeadersOnlyCaseAndPieces) {
  TempDir dir;
  WriteFile(dir / "m", "Subject: Quarterly Report\r\n\r\n" + std::string(3000, 'x') + "needle in a long line\r\n");
  EXPECT_TRUE(MessageHoldsText(dir / "m", "quarterly", false, false));
  EXPECT_FALSE(MessageHoldsText(dir / "m", "quarterly", false, true));
  EXPECT_TRUE(MessageHoldsText(dir / "m", "needle", false, true));  // across the 1024-byte pieces
  EXPECT_FALSE(MessageHoldsText(dir / "m", "needle", true, true));
  EXPECT_FALSE(MessageHoldsText(dir / "m", "", false, false));
}

class MessageListTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    g_MailMessageBox = RecordBox;
    g_boxes.clear();
    mailDir = dir / "mail";
    fs::create_directories(Host(mailDir));
    WriteFile(dir / "QXMAIL.INI", "[tester]\nMailDir=" + mailDir + "\n");
    Settings().mailDir = mailDir;
    ASSERT_EQ(StoreCreateFolder(mailDir), 0);
    std::string path;
    ASSERT_EQ(CreateFolderNamed(mailDir, "archive", archive), 0);
  }
  void TearDown() override {
    g_MailMessageBox = MessageBoxA;
    StoreTest::TearDown();
  }
  INT_PTR Drive(std::vector<Step> steps) {
    g_steps = std::move(steps);
    g_step = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, NextStep);
    const INT_PTR result = MessageListDialog(nullptr);
    KillTimer(nullptr, timer);
    EXPECT_EQ(g_step, g_steps.size()) << "steps left undone";
    return result;
  }
  std::string mailDir, archive;
};

TEST_F(MessageListTest, SortDeleteFileAndRemoveAnEmptyFolder) {
  constexpr int kMessages = 300;
  for (int i = 1; i <= kMessages; ++i) ASSERT_EQ(AddMessage(mailDir, Dated(i)), 0);
  std::vector<std::string> counts;
  auto count = [&](HWND d) { counts.push_back(Count(d)); };
  Drive({{"Read Mail",
          [&](HWND d) {
            count(d);
            SendDlgItemMessageA(d, IDC_LIST_BYDATE, BM_CLICK, 0, 0);
            SendDlgItemMessageA(d, IDC_LIST_REVERSE, BM_CLICK, 0, 0);  // newest first
            SelectOnly(d, 0, 2);
            Press(d, IDC_LIST_DELETE);
          }},
         {"Delete Message", [](HWND d) { Press(d, IDC_DELETEBOX_ALL); }},
         {"Read Mail",
          [&](HWND d) {
            count(d);
            SelectOnly(d, 0, 0);
            Press(d, IDC_LIST_FILE);
          }},
         {"Move Messages",
          [](HWND d) {
            const LRESULT at = SendDlgItemMessageA(d, 601, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                   reinterpret_cast<LPARAM>("archive"));
            SendDlgItemMessageA(d, 601, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
            Press(d, IDOK);
          }},
         {"Read Mail",
          [&](HWND d) {
            count(d);
            ChooseFolder(d, "archive");
            count(d);
            SelectOnly(d, 0, 0);
            Press(d, IDC_LIST_DELETE);
          }},
         {"Delete Message", [](HWND d) { Press(d, IDC_DELETEBOX_NO); }},
         {"Read Mail",
          [&](HWND d) {
            count(d);
            SelectOnly(d, 0, 0);
            Press(d, IDC_LIST_DELETE);
          }},
         {"Delete Message", [](HWND d) { Press(d, IDC_DELETEBOX_YES); }},
         {"Read Mail",
          [&](HWND d) {
            count(d);
            Press(d, IDC_LIST_DELETE);  // an empty folder is offered for removal
          }},
         {"Read Mail", [&](HWND d) {
            count(d);
            Press(d, IDOK);
          }}});
  EXPECT_EQ(counts, (std::vector<std::string>{"(300 Messages)", "(297 Messages)", "(296 Messages)", "(1 Message)",
                                              "(1 Message)", "(0 Messages)", "(296 Messages)"}));
  EXPECT_EQ(g_boxes, std::vector<std::string>{"Folder Delete: Folder Empty, Remove Folder ?"});
  EXPECT_FALSE(fs::exists(Host(archive)));
  EXPECT_EQ(Settings().currentFolder, mailDir);
  // The newest three were deleted, the fourth newest filed and then deleted.
  std::set<std::string> ids;
  for (const auto &[slot, id] : IndexedIds(mailDir)) ids.insert(id);
  EXPECT_EQ(ids.size(), 296u);
  for (int gone : {300, 299, 298, 297}) EXPECT_FALSE(ids.count("<h" + std::to_string(gone) + "@example.com>")) << gone;
  const std::string ini = ReadFile(dir / "QXMAIL.INI");
  EXPECT_NE(ini.find("SortOrder=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("ReverseSortOrder=True"), std::string::npos) << ini;
}

// Ten thousand messages: the list fills, a range is selected with the mouse
// (a click, then a shift-click four rows down), deleted with "All", and the
// From order is taken.
TEST_F(MessageListTest, TenThousandMessagesRangeSelectedWithTheMouse) {
  constexpr int kMessages = 10000;
  for (int i = 1; i <= kMessages; ++i) WriteFile(mailDir + "/m" + std::to_string(i) + ".msg", Dated(i));
  ASSERT_EQ(RebuildFolder(mailDir), 0);
  std::vector<std::string> counts;
  LRESULT selected = 0;
  Drive({{"Read Mail",
          [&](HWND d) {
            counts.push_back(Count(d));
            HWND list = GetDlgItem(d, IDC_LIST_MESSAGES);
            RECT row;
            SendMessageA(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
            const int height = row.bottom - row.top;
            SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, height / 2));
            SendMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(20, height / 2));
            SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(20, 4 * height + height / 2));
            SendMessageA(list, WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(20, 4 * height + height / 2));
            selected = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
            Press(d, IDC_LIST_DELETE);
          }},
         {"Delete Message", [](HWND d) { Press(d, IDC_DELETEBOX_ALL); }},
         {"Read Mail", [&](HWND d) {
            counts.push_back(Count(d));
            SendDlgItemMessageA(d, IDC_LIST_BYFROM, BM_CLICK, 0, 0);
            counts.push_back(Count(d));
            Press(d, IDOK);
          }}});
  EXPECT_EQ(selected, 5);
  EXPECT_EQ(counts, (std::vector<std::string>{"(10000 Messages)", "(9995 Messages)", "(9995 Messages)"}));
  EXPECT_EQ(IndexedIds(mailDir).size(), 9995u);
  EXPECT_EQ(Settings().sortOrder, kSortFrom);
}

// Forward with ReDirectPrompt: "ReDirect" with its receipts; with DelayedSend the redirected
// message goes straight to the send queue. The receipts are kept for the
// next use, the Redirect box is not.
TEST_F(MessageListTest, ForwardRedirectsTheSelectedMessage) {
  Settings().delayedSend = 1;
  Settings().reDirectPrompt = 1;
  Settings().ownAddress = "tester@example.com";
  ASSERT_EQ(AddMessage(mailDir, Dated(1)), 0);
  std::string okLabel;
  UINT redirectChecked = 9, deliveryChecked = 9;
  Drive({{"Read Mail",
          [](HWND d) {
            SelectOnly(d, 0, 0);
            Press(d, IDC_LIST_FORWARD);
          }},
         {"Forward Message",
          [&](HWND d) {
            SendDlgItemMessageA(d, IDC_REDIRECT_ON, BM_CLICK, 0, 0);
            SendDlgItemMessageA(d, IDC_REDIRECT_DELIVERY, BM_CLICK, 0, 0);
            char label[32] = {};
            GetDlgItemTextA(d, IDOK, label, sizeof label);
            okLabel = label;
            SetDlgItemTextA(d, IDC_REDIRECT_TO, "new@example.net");
            Press(d, IDOK);
          }},
         {"Read Mail", [](HWND d) { Press(d, IDC_LIST_FORWARD); }},
         {"Forward Message",
          [&](HWND d) {
            redirectChecked = IsDlgButtonChecked(d, IDC_REDIRECT_ON);
            deliveryChecked = IsDlgButtonChecked(d, IDC_REDIRECT_DELIVERY);
            Press(d, IDCANCEL);
          }},
         {"Read Mail", [](HWND d) { Press(d, IDOK); }}});
  EXPECT_EQ(okLabel, "ReDirect");
  EXPECT_EQ(redirectChecked, static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(deliveryChecked, static_cast<UINT>(BST_CHECKED));
  const std::string queued = ReadFile(mailDir + "/tosendm.000");
  EXPECT_NE(queued.find("Subject: message 1\r\n"), std::string::npos) << queued;
  const std::string header = ReadFile(mailDir + "/tosendh.000");
  EXPECT_EQ(header.rfind("1\r\n", 0), 0u) << header;  // the Delivery-Receipt flag
  EXPECT_NE(header.find("new@example.net"), std::string::npos) << header;
  EXPECT_TRUE(g_boxes.empty());
}
