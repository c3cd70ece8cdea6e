// The compose start, reply addressing and the Simple MAPI receiver.
#include "startcompose.h"

#include <cctype>
#include <cstring>

#include "compose.h"
#include "headers.h"
#include "mailstore.h"
#include "sendbox.h"
#include "settings.h"
#include "smtp.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

std::optional<MAPI_RECEIVER> g_Mapi;

namespace {

std::string Trim(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The items of an address list: split at commas outside double quotes.
std::vector<std::string> Items(const std::string &list) {
  std::vector<std::string> items;
  std::string item;
  bool quoted = false;
  for (size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    if (c == '\\' && i + 1 < list.size()) {
      item += c;
      item += list[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      if (!Trim(item).empty()) items.push_back(Trim(item));
      item.clear();
    } else {
      item += c;
    }
  }
  if (!Trim(item).empty()) items.push_back(Trim(item));
  return items;
}

bool StartsNoCase(const std::string &text, const char *prefix) {
  return _strnicmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The whole values of the To and Cc fields of a stored message (folded lines
// joined, several fields of a name joined by ", "): reply to all answers
// every address, not only the first.
void ReadRecipientFields(const std::string &path, std::string &to, std::string &cc) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  std::vector<std::string> fields;
  char raw[1024];
  std::string line;
  bool more = true;
  while (more) {
    line.clear();
    more = false;
    while (std::fgets(raw, sizeof raw, f)) {
      line += raw;
      if (!line.empty() && line.back() == '\n') {
        more = true;
        break;
      }
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) break;  // the header's end
    if ((line[0] == ' ' || line[0] == '\t') && !fields.empty())
      fields.back() += " " + Trim(line);
    else
      fields.push_back(line);
  }
  std::fclose(f);
  for (const std::string &field : fields) {
    std::string *target = StartsNoCase(field, "To:") ? &to : StartsNoCase(field, "Cc:") ? &cc : nullptr;
    if (!target) continue;
    const std::string value = Trim(field.substr(3));
    if (value.empty()) continue;
    *target += (target->empty() ? "" : ", ") + value;
  }
}

void AddFromFirstPresent(const HEADER_SUMMARY &s, bool all) {
  SEND_HEADER &h = CurrentSendHeader();
  for (const std::optional<std::string> *field :
       {&s.resentReplyTo, &s.replyTo, &s.resentFrom, &s.from, &s.resentSender, &s.sender}) {
    if (!*field) continue;
    AppendToList(h.to, **field);
    if (!all) return;
  }
}

// An address from another program ends at its first control character: a
// line end there would start a command or header line of its own.
std::string FirstLine(const std::string &text) {
  size_t end = 0;
  while (end < text.size() && static_cast<unsigned char>(text[end]) >= 32) ++end;
  return text.substr(0, end);
}

void FillFromHandoff(COMPOSITION &c) {
  SEND_HEADER &h = CurrentSendHeader();
  const mailbridge::Request &r = g_Mapi->request;
  if (r.subject) h.subject = ScrubLine(*r.subject);  // a folded subject stays one line
  for (const mailbridge::Recipient &rcpt : r.recipients) {
    std::optional<std::string> *field = rcpt.kind == 'T'   ? &h.to
                                        : rcpt.kind == 'C' ? &h.cc
                                        : rcpt.kind == 'B' ? &h.bcc
                                                           : nullptr;
    const std::string address = FirstLine(rcpt.text);
    if (field && !Trim(address).empty()) AppendToList(*field, address);
  }
  for (const std::string &file : r.files)
    if (c.attachments.size() < kMaxAttachments) c.attachments.push_back(ATTACHMENT{0, file});
  if (r.note && EnsureTextFile(c)) {
    FILE *f = std::fopen(c.textPath.c_str(), "wb");  // as the program gave it
    if (f) {
      std::fwrite(r.note->data(), 1, r.note->size(), f);
      std::fclose(f);
    }
  }
}

}  // namespace

void AppendToList(std::optional<std::string> &field, const std::string &text) {
  for (const std::string &item : Items(text)) {
    if (!field || Trim(*field).empty()) {
      field = item;
      continue;
    }
    bool present = false;
    for (const std::string &have : Items(*field)) present = present || have == item;
    if (!present) *field += ", " + item;
  }
}

void AddReplyAddresses(int mode, const std::string &folder, int32_t number) {
  HEADER_SUMMARY s;
  if (ReadMessageHeader(folder, static_cast<uint32_t>(number), s) != 0) return;
  SEND_HEADER &h = CurrentSendHeader();
  if (!h.subject && s.subject) {
    std::string subject = *s.subject;
    if (_strnicmp(subject.c_str(), "Re:", 3) == 0) {
      subject.erase(0, 3);
      subject.erase(0, subject.find_first_not_of(' '));
    }
    MapIncoming(subject);
    h.subject = "Re: " + subject;
  }
  if (s.messageId) AppendToList(h.inReplyTo, *s.messageId);
  if (mode == kComposeReplyAll) {
    std::string to, cc;
    ReadRecipientFields(MessagePath(folder, static_cast<uint64_t>(number)), to, cc);
    if (!to.empty()) AppendToList(h.to, to);
    if (!cc.empty()) AppendToList(h.cc, cc);
    AddFromFirstPresent(s, true);
  } else if (mode != kComposeForward) {
    AddFromFirstPresent(s, false);
  }
  FreeHeaderSummary(s);
}

INT_PTR StartCompose(HWND owner, int mode, const std::string &folder, const std::vector<int32_t> &numbers) {
  COMPOSITION &c = CurrentComposition();
  c = COMPOSITION{};
  c.folder = folder;
  c.selected = numbers;
  for (const int32_t number : numbers) AddReplyAddresses(mode, folder, number);
  SEND_HEADER &h = CurrentSendHeader();
  if (Settings().ccSelf) AppendToList(h.cc, Settings().ownAddress);
  if (g_Mapi) FillFromHandoff(c);
  const INT_PTR outcome = ComposeDialog(owner, mode);
  ClearSendHeader(h, true);
  CleanUpComposition(c);
  if (g_Mapi) {
    g_Mapi->result = outcome == kComposeSent || outcome == kComposeQueued ? 0 : outcome == kComposeCancelled ? 1 : 2;
    if (owner) PostMessageA(owner, WM_CLOSE, 0, 0);
  }
  return outcome;
}

void ComposeFromQueue(HWND owner, const std::string &bodyPath) {
  COMPOSITION &c = CurrentComposition();
  c = COMPOSITION{};
  c.preparedPath = bodyPath;
  ComposeDialog(owner, kComposeMenu);
  CleanUpComposition(c);  // the queued body is not the composition's to delete
}

bool OpenHandoffBlock(const std::string &argument, std::string &user, std::string &password) {
  const std::string name = argument.substr(0, argument.find(' '));
  if (name.size() < 2 || name[0] != '@' || name.find(':') == std::string::npos) return false;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  if (!mapping) return false;
  auto *view = static_cast<uint8_t *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  MEMORY_BASIC_INFORMATION info{};
  if (!view || !VirtualQuery(view, &info, sizeof info) || info.RegionSize < 4 * mailbridge::kWords) {
    if (view) UnmapViewOfFile(view);
    CloseHandle(mapping);
    return false;
  }
  // Another program wrote the block: every pointer and count is checked
  // against the mapping before anything is read.
  uint32_t word3 = 0, word4 = 0;
  std::memcpy(&word3, view + 12, 4);
  std::memcpy(&word4, view + 16, 4);
  const bool mailLayout = word4 - word3 == mailbridge::kPasswordField - mailbridge::kUserField;
  std::optional<mailbridge::Request> request = mailbridge::ParseBlock(view, info.RegionSize, mailLayout);
  MAPI_RECEIVER receiver;
  receiver.mapping = mapping;
  receiver.view = view;
  receiver.valid = request.has_value();
  if (request) receiver.request = std::move(*request);
  g_Mapi = std::move(receiver);
  if (!g_Mapi->valid) return true;  // nothing is composed; the caller is told it failed
  // An empty user name leads to the default user, as without a block.
  user = g_Mapi->request.user.substr(0, 63);
  password = g_Mapi->request.password.substr(0, 127);
  return true;
}

void ReleaseHandoffBlock() {
  if (!g_Mapi) return;
  std::memcpy(g_Mapi->view + 4, &g_Mapi->result, 4);
  uint32_t window = 0;
  std::memcpy(&window, g_Mapi->view, 4);
  if (window) PostMessageA(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), WM_CLOSE, 0, 0);
  UnmapViewOfFile(g_Mapi->view);
  CloseHandle(g_Mapi->mapping);
  g_Mapi.reset();
}
