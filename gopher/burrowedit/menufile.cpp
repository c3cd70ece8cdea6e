// The gopher menu file and the editor's display rows (see menufile.h).
#include "menufile.h"

#include <algorithm>

#include "itemtypes.h"

namespace {

constexpr char kEndOfFileMark = '\x1A';  // Ctrl-Z, written at the end of files by old editors

size_t CountTabsSkippingFollower(std::string_view line) {
  // The character after a TAB is never looked at, so two adjacent TABs
  // count as one: the rule the menu files in use were checked with.
  size_t count = 0;
  for (size_t i = 1; i < line.size();) {
    if (line[i] == '\t') {
      ++count;
      i += 2;
    } else {
      ++i;
    }
  }
  return count;
}

bool EndsLine(const std::string &text) { return !text.empty() && (text.back() == '\n' || text.back() == '\r'); }

}  // namespace

bool LookupTypeDescription(char type, std::string &description) {
  for (const std::string &d : EditorTypeDescriptions()) {
    const size_t open = d.find('[');
    if (open != std::string::npos && open + 1 < d.size() && d[open + 1] == type) {
      description = d;
      return true;
    }
  }
  description = std::string("UNKNOWN[") + type + "]";
  return false;
}

std::string LineToRow(std::string_view line, const LineProblem &problem) {
  if (line.empty()) return {};
  if (line.size() < 9) {
    if (problem) problem(kMsgTooShort);
    return {};
  }
  // A line that begins with a TAB has no type character: its fields would
  // shift by one in the row, and an edit would write them back shifted.
  if (line[0] == '\t' || CountTabsSkippingFollower(line) != 3) {
    if (problem) problem(kMsgNeedsThreeTabs);
    return {};
  }
  const size_t tab = line.find('\t');
  // Type, display and TAB, then the rest without the selector's first
  // character (the type character again).
  std::string joined(line.substr(0, tab + 1));
  joined += line.substr(std::min(line.size(), tab + 2));
  std::string row;
  LookupTypeDescription(line[0], row);
  row += '\t';
  row += joined.substr(1);
  return row;
}

std::string RowToLine(std::string_view row) {
  if (row.empty()) return "\r\n";
  const size_t open = row.find('[');
  const char type = open != std::string_view::npos && open + 1 < row.size() ? row[open + 1] : row[0];
  const size_t firstTab = row.find('\t');
  std::string a(1, type);
  if (firstTab != std::string_view::npos) a += row.substr(firstTab + 1);
  const size_t tab = a.find('\t');
  std::string line;
  if (tab == std::string::npos) {
    line = a;
  } else {
    line = a.substr(0, tab + 1);
    line += type;
    line += a.substr(tab + 1);
  }
  return line + "\r\n";
}

MenuItemFields SplitRow(std::string_view row) {
  MenuItemFields f;
  std::string *parts[] = {&f.type, &f.display, &f.resource, &f.host};
  size_t at = 0;
  for (std::string *part : parts) {
    if (at > row.size()) break;
    const size_t tab = row.find('\t', at);
    if (tab == std::string_view::npos) {
      *part = std::string(row.substr(at));
      at = row.size() + 1;
      break;
    }
    *part = std::string(row.substr(at, tab - at));
    at = tab + 1;
  }
  if (at <= row.size()) f.port = std::string(row.substr(at));
  return f;
}

std::string BuildRow(const MenuItemFields &f) {
  return f.type + '\t' + f.display + '\t' + f.resource + '\t' + f.host + '\t' + f.port;
}

TextLines SplitLines(std::string_view text) {
  TextLines out;
  std::string pending;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      pending += c;
      continue;
    }
    std::string end(1, c);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      end += '\n';
      ++i;
    }
    out.lines.push_back(std::move(pending));
    out.ends.push_back(std::move(end));
    pending.clear();
  }
  if (!pending.empty()) {
    out.lines.push_back(std::move(pending));
    out.ends.emplace_back();
  }
  return out;
}

std::string MenuRows::GetItem(int index) const {
  if (index < 0 || index >= GetItemCount()) return {};
  return rows_[static_cast<size_t>(index)].row;
}

bool MenuRows::SetItem(int index, const std::string &row) {
  if (row.empty() || index < 0) return false;
  if (index >= GetItemCount()) {
    rows_.push_back(Row{row, {}, {}});
    return true;
  }
  Row &r = rows_[static_cast<size_t>(index)];
  if (r.row != row) {
    r.row = row;
    r.kept.clear();
  }
  return true;
}

void MenuRows::InsertItem(int index, const std::string &row) {
  const size_t at = index < 0 ? 0 : std::min(static_cast<size_t>(index), rows_.size());
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), Row{row, {}, {}});
}

void MenuRows::DeleteItem(int index) {
  if (index < 0 || index >= GetItemCount()) return;
  const auto at = rows_.begin() + index;
  std::string kept = std::move(at->before);
  rows_.erase(at);
  // What stood ahead of the removed row now stands ahead of the next one.
  if (static_cast<size_t>(index) < rows_.size())
    rows_[static_cast<size_t>(index)].before.insert(0, kept);
  else
    tail_.insert(0, kept);
}

void MenuRows::Clear() {
  rows_.clear();
  tail_.clear();
}

void MenuRows::Load(std::string_view bytes, const LineProblem &problem) {
  Clear();
  // An end-of-file mark closing the file is no line of its own.
  std::string mark;
  while (!bytes.empty() && bytes.back() == kEndOfFileMark) {
    mark += kEndOfFileMark;
    bytes.remove_suffix(1);
  }
  const TextLines text = SplitLines(bytes);
  std::string before;
  for (size_t i = 0; i < text.lines.size(); ++i) {
    const std::string &line = text.lines[i];
    std::string row = LineToRow(line, problem);
    if (row.empty()) {
      before += line + text.ends[i];
      continue;
    }
    rows_.push_back(Row{std::move(row), line + text.ends[i], std::move(before)});
    before.clear();
  }
  tail_ = before + mark;
}

std::string MenuRows::Save() const {
  std::string out;
  for (const Row &r : rows_) {
    out += r.before;
    // A last line read without a line end gets one once something follows it.
    if (!out.empty() && !EndsLine(out)) out += "\r\n";
    out += r.kept.empty() ? RowToLine(r.row) : r.kept;
  }
  if (!tail_.empty() && tail_[0] != kEndOfFileMark && !out.empty() && !EndsLine(out)) out += "\r\n";
  out += tail_;
  return out;
}
