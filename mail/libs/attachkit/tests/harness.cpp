// The attachkit test harness (see harness.h).
#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <sys/wait.h>

namespace akt {

Machine &TheMachine() {
  static Machine machine;
  return machine;
}

std::vector<ShownBox> &Boxes() {
  static std::vector<ShownBox> boxes;
  return boxes;
}

std::vector<int> &BoxAnswers() {
  static std::vector<int> answers;
  return answers;
}

namespace {

int AnswerBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  Boxes().push_back({caption ? caption : "", text ? text : "", type});
  if (BoxAnswers().empty()) return 0;
  const int answer = BoxAnswers().front();
  BoxAnswers().erase(BoxAnswers().begin());
  return answer;
}

}  // namespace

Library &Attachkit() {
  static Library library = [] {
    TheMachine();
    qx::SetMessageBoxAnswerHook(AnswerBox);
    Library l;
    l.module = LoadLibraryA(ATTACHKIT_MODULE);
    if (l.module) {
      auto proc = [&](const char *name) { return reinterpret_cast<void (*)(void)>(GetProcAddress(l.module, name)); };
      l.processMime = reinterpret_cast<PROCESSMIME>(proc("ProcessMime"));
      l.sendMime = reinterpret_cast<SENDMIME>(proc("SendMime"));
      l.getSpecial = reinterpret_cast<MIMEGETSPECIAL>(proc("MimeGetSpecial"));
    }
    return l;
  }();
  return library;
}

namespace {

Person *g_person = nullptr;

void CALLBACK PersonTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_person) return;
  Person &p = *g_person;
  if (p.next < p.actions.size()) {
    HWND window = FindWindowA(nullptr, p.actions[p.next].caption.c_str());
    if (!window) {
      if (++p.idle == 500) {
        ADD_FAILURE() << "no window \"" << p.actions[p.next].caption << "\" appeared";
        p.next = p.actions.size();
      }
      return;
    }
    p.idle = 0;
    // The step may open a modal dialog of its own: count it done first.
    Step step = p.actions[p.next++].step;
    step(window);
    return;
  }
  // Anything the person did not expect is cancelled.
  if (HWND active = GetActiveWindow(); active && ++p.idle > 100) {
    char caption[128] = {};
    GetWindowTextA(active, caption, sizeof caption);
    if (caption[0] && std::string(caption) != "attachkit test owner") {
      ADD_FAILURE() << "the window \"" << caption << "\" stayed open";
      PostMessageA(active, WM_COMMAND, IDCANCEL, 0);
      p.idle = 0;
    }
  }
}

}  // namespace

void WithPerson(Person &person, const std::function<void()> &body) {
  Person *previous = g_person;
  g_person = &person;
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, PersonTick);
  body();
  KillTimer(nullptr, timer);
  g_person = previous;
  EXPECT_EQ(person.next, person.actions.size()) << "steps left over";
}

void SetText(HWND dialog, int id, const std::string &text) { SetDlgItemTextA(dialog, id, text.c_str()); }

std::string TextOf(HWND dialog, int id) {
  char buffer[2048] = {};
  GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
  return buffer;
}

void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

Step SaveAs(const std::string &path, std::string *suggested) {
  return [path, suggested](HWND d) {
    if (suggested) *suggested = TextOf(d, edt1);
    // Typed as a person types a path in a Windows dialog.
    std::string typed = path;
    if (!typed.empty() && typed[0] == '/') typed = "Z:" + typed;
    std::replace(typed.begin(), typed.end(), '/', '\\');
    SetText(d, edt1, typed);
    Click(d, IDOK);
  };
}

Step Cancel() {
  return [](HWND d) { Click(d, IDCANCEL); };
}

Message WriteMessage(const std::string &path, const std::string &bytes, const std::string &boundary) {
  WriteFile(path, bytes);
  Message m{path, {}};
  const std::string mark = "--" + boundary;
  size_t at = 0;
  int64_t open_start = -1;
  while (at < bytes.size()) {
    size_t eol = bytes.find('\n', at);
    const size_t next = eol == std::string::npos ? bytes.size() : eol + 1;
    if (bytes.compare(at, mark.size(), mark) == 0) {
      if (open_start >= 0) m.parts.push_back({static_cast<int32_t>(open_start), static_cast<uint32_t>(at - 2)});
      open_start = bytes.compare(at + mark.size(), 2, "--") == 0 ? -1 : static_cast<int64_t>(next);
    }
    at = next;
  }
  return m;
}

int32_t Process(const Message &m, size_t part, int32_t mode, HWND owner) {
  HANDLE file = CreateFileA(m.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << m.path;
  const PartSpan span = m.parts.at(part);
  const int32_t result =
      Attachkit().processMime(file, span.start, span.end, TheMachine().mail().c_str(), "user@example.org", mode, owner);
  CloseHandle(file);
  return result;
}

std::string Send(const std::string &entry, int32_t type, int32_t *result) {
  const std::string out = TheMachine().root + "/sent.part";
  HANDLE file = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<char> writable(entry.begin(), entry.end());
  writable.push_back('\0');
  const int32_t r = Attachkit().sendMime(file, writable.data(), type);
  if (result) *result = r;
  CloseHandle(file);
  return ReadFile(out);
}

int RunCommand(const std::string &command, std::string *output) {
  FILE *p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  const int status = pclose(p);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace akt
