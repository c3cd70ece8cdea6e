// CSO (ph) name servers: the list of public fields, read once per item, the
// search form's rows and the query built from it.
#include "gophercore.h"

#include <qxcommon.h>

#include <cctype>
#include <cstdio>

namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char &c : u) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return u;
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && Upper(a) == Upper(b); }

}  // namespace

// A "fields" reply holds, per field, a properties line and one or more
// description lines with the same field number ("-200:2:name:max 64 Indexed
// Lookup Public", "-200:2:name:Full name"). The first line of each number is
// the one examined, so a banner, a missing or an extra description line
// cannot shift the rest of the list.
void CsoExamineFieldLine(std::string_view line, std::string *lastNumber, std::string *fields) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const size_t c1 = line.find(':');
  if (c1 == std::string_view::npos) return;
  const size_t c2 = line.find(':', c1 + 1);
  if (c2 == std::string_view::npos) return;
  const size_t c3 = line.find(':', c2 + 1);
  if (c3 == std::string_view::npos) return;
  const std::string_view number = line.substr(c1 + 1, c2 - c1 - 1);
  if (number == *lastNumber) return;
  lastNumber->assign(number);
  const std::string_view name = line.substr(c2 + 1, c3 - c2 - 1);
  const std::string props = Upper(line.substr(c3 + 1));
  if (props.find("PUBLIC") == std::string::npos || name.empty()) return;
  const char digit = static_cast<char>('0' + (props.find("LOOKUP") != std::string::npos ? 1 : 0) +
                                       (props.find("INDEXED") != std::string::npos ? 2 : 0));
  // The list keeps what fits; a field that would overrun it is left out.
  if (fields->size() + name.size() + 2 > kMaxCsoFields) return;
  fields->push_back(digit);
  fields->append(name);
  fields->push_back(':');
}

int FetchCsoFields(GopherItem *item) {
  if (item->csoFields) return 1;
  Ui().SetStatus("Getting CSO field names");
  SOCKET s = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    ShowWinsockError("Socket", item->host.c_str());
    Ui().SetStatus("");
    return 0;
  }
  g_ReceiveBusy = 1;
  auto finish = [&](int result) {
    g_ReceiveBusy = 0;
    Ui().SetStatus("");
    return result;
  };
  if (ConnectToServer(s, item->host.c_str(), item->port) == INVALID_SOCKET) return finish(0);
  static const char kAsk[] = "fields\r\nexit\r\nquit\r\nbye\r\n";
  if (WsSend(s, kAsk, sizeof kAsk - 1, 0) != static_cast<int>(sizeof kAsk - 1)) {
    if (WSAGetLastError() == WSAEINTR)
      PostDeferredCommand();
    else
      ShowWinsockError("Send Data", item->host.c_str());
    WsCloseSocket(s);
    return finish(0);
  }
  std::string fields, lastNumber, line;
  bool overlong = false;  // the rest of a line past the bound is dropped
  char block[1024];
  long total = 0;
  DWORD lastReport = GetTickCount();
  for (;;) {
    const int n = WsRecv(s, block, sizeof block, 0);
    if (n == 0) break;
    if (n == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEINTR)
        PostDeferredCommand();
      else
        ShowWinsockError("Receive Data", item->host.c_str());
      WsCloseSocket(s);
      return finish(0);
    }
    total += n;
    if (GetTickCount() - lastReport > 500) {
      char progress[96];
      snprintf(progress, sizeof progress, "Getting CSO field names - %ld bytes received", total);
      Ui().SetStatus(progress);
      lastReport = GetTickCount();
    }
    for (int i = 0; i < n; ++i) {
      if (block[i] == '\n') {
        CsoExamineFieldLine(line, &lastNumber, &fields);
        line.clear();
        overlong = false;
      } else if (line.size() >= kMaxCsoLine) {
        overlong = true;
      } else if (!overlong) {
        line.push_back(block[i]);
      }
    }
  }
  WsCloseSocket(s);
  item->csoFields = std::move(fields);
  return finish(1);
}

CSO_FORM CsoFormOf(const std::string &fields) {
  CSO_FORM form;
  form.returnRows = {"All", "Default"};
  size_t pos = 0;
  while (pos + 1 < fields.size()) {
    const size_t colon = fields.find(':', pos + 1);
    if (colon == std::string::npos) break;
    const char digit = fields[pos];
    const std::string name = fields.substr(pos + 1, colon - pos - 1);
    if (digit == '1' || digit == '3') {
      if (EqualNoCase(name, "name")) form.keySelection = static_cast<int>(form.keys.size());
      form.keys.push_back(name);
    }
    form.returnRows.push_back(name);
    pos = colon + 1;
  }
  return form;
}

std::string BuildCsoQuery(const std::string &key, const std::string &value, const std::vector<std::string> &rows,
                          const std::vector<bool> &selected) {
  // The value comes from a one-line edit; a control character (a pasted line
  // end) separates words like a blank and never ends the query line.
  std::string query = "query";
  std::string word;
  auto flush = [&] {
    if (!word.empty()) query += " " + key + "=" + word;
    word.clear();
  };
  for (char c : value.substr(0, 255)) {
    if (c == ' ' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      flush();
    else
      word.push_back(c);
  }
  flush();
  auto isSelected = [&](size_t i) { return i < selected.size() && selected[i]; };
  bool any = false;
  for (size_t i = 0; i < rows.size(); ++i) any = any || isSelected(i);
  if (any && isSelected(0)) {
    query += " return all";
  } else if (any && !isSelected(1)) {
    query += " return";
    for (size_t i = 2; i < rows.size(); ++i)
      if (isSelected(i)) query += " " + rows[i];
  }
  query += "\r\nquit\r\nexit\r\nbye\r\n";
  return query;
}
