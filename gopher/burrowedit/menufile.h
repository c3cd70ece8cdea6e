// The gopher menu file as the editor reads and writes it, and the display
// rows the editor shows for its lines.
//
// A menu line is: type, display, TAB, type again and resource name (the
// selector), TAB, host, TAB, port, CR LF. A display row is five fields
// joined by TABs: "Description[type]", display, resource name (the selector
// without its first character), host, port.
//
// MenuRows holds a menu as display rows and keeps, beside each row, the bytes
// it was read from: a row nobody changed is written back byte for byte (its
// line end, a selector that did not begin with the type character), and
// lines that are not menu items (blank, too short, with the wrong number of
// TABs, an end-of-file mark) are kept where they stood instead of being lost
// on the next save.
#ifndef QX_BURROWEDIT_MENUFILE_H
#define QX_BURROWEDIT_MENUFILE_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The editor's messages (string resource ids of the program).
enum EditorMessage {
  kMsgNeedsThreeTabs = 4,    // "The input line is invalid it must have three tabs"
  kMsgTooShort = 5,          // "The input line is to short to be valid"
  kMsgClipboardFailed = 6,   // "Clipboard Operation Failed"
  kMsgNoEmptyFields = 7,     // "No Empty Fields Are Allowed"
  kMsgUnknownType = 8,       // "UNKNOWN"
  kMsgFieldHasBreak = 26,    // a field holding a TAB or a line break
  kMsgMoreInvalidLines = 27  // the count of further lines that are not items
};

// Told about each line that cannot be made a row, with the message id.
using LineProblem = std::function<void(int message)>;

// The description the editor shows for a type character: true with the
// offered description ("Directory[1]"), or false with "UNKNOWN[x]".
bool LookupTypeDescription(char type, std::string &description);

// One menu line without its line end to a display row; empty for an empty or
// invalid line (problem is told why, except for an empty line).
std::string LineToRow(std::string_view line, const LineProblem &problem);
// A display row to its menu line, CR LF included.
std::string RowToLine(std::string_view row);

// The five fields of a display row; missing fields are empty and the port is
// everything after the fourth TAB.
struct MenuItemFields {
  std::string type, display, resource, host, port;
};
MenuItemFields SplitRow(std::string_view row);
std::string BuildRow(const MenuItemFields &fields);

// Text cut into lines: CR LF, a lone CR and a lone LF each end a line, and
// text after the last line end is a line of its own. ends holds each line's
// end as it stood ("" for the last line when it had none).
struct TextLines {
  std::vector<std::string> lines, ends;
};
TextLines SplitLines(std::string_view text);

class MenuRows {
 public:
  int GetItemCount() const { return static_cast<int>(rows_.size()); }
  // A copy of row index; empty when there is no such row.
  std::string GetItem(int index) const;
  // Replaces row index, or appends when index is at or past the end; an
  // empty row changes nothing (false).
  bool SetItem(int index, const std::string &row);
  // Inserts before index (appends when index is the count or past it).
  void InsertItem(int index, const std::string &row);
  // Removes row index; the lines kept ahead of it stay where they were.
  void DeleteItem(int index);

  // Replaces the menu with the rows of a file's bytes.
  void Load(std::string_view bytes, const LineProblem &problem);
  // The file's bytes: unchanged rows and kept lines as they were read,
  // changed and new rows as RowToLine writes them.
  std::string Save() const;
  void Clear();

 private:
  struct Row {
    std::string row;
    std::string kept;    // the bytes the row was read from, line end included; empty once changed
    std::string before;  // lines ahead of the row that are not items, as they were read
  };
  std::vector<Row> rows_;
  std::string tail_;  // lines after the last row that are not items, and an end-of-file mark
};

#endif
