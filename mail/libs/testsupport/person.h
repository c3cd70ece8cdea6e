// A person at the screen for the mail libraries' dialog tests: steps run on a
// timer tick, each once the window with its caption exists, so a test can
// call a function that runs modal dialogs and have them answered. A window
// still open well after the last step is cancelled, so a test never hangs.
#ifndef QX_MAIL_TESTSUPPORT_PERSON_H
#define QX_MAIL_TESTSUPPORT_PERSON_H

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace person {

using Step = std::function<void(HWND)>;
struct Person {
  std::vector<std::pair<std::string, Step>> steps;
  size_t next = 0;
  int idle = 0;
  Person &Then(const std::string &caption, Step step) {
    steps.emplace_back(caption, std::move(step));
    return *this;
  }
};
inline Person *g_person = nullptr;

inline void CALLBACK PersonTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_person) return;
  Person &p = *g_person;
  if (p.next < p.steps.size()) {
    HWND window = FindWindowA(nullptr, p.steps[p.next].first.c_str());
    if (!window) {
      if (++p.idle == 500) {
        ADD_FAILURE() << "no window \"" << p.steps[p.next].first << "\" appeared";
        p.next = p.steps.size();
      }
      return;
    }
    p.idle = 0;
    Step step = p.steps[p.next++].second;  // counted first: the step may open a dialog
    step(window);
  } else if (HWND active = GetActiveWindow(); active && ++p.idle > 100) {
    ADD_FAILURE() << "a dialog stayed open";
    PostMessageA(active, WM_COMMAND, IDCANCEL, 0);
    p.idle = 0;
  }
}

inline void WithPerson(Person &person, const std::function<void()> &body) {
  g_person = &person;
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, PersonTick);
  body();
  KillTimer(nullptr, timer);
  g_person = nullptr;
  EXPECT_EQ(person.next, person.steps.size()) << "steps left over";
}

inline Step Click(int id) {
  return [id](HWND d) { SendDlgItemMessageA(d, id, BM_CLICK, 0, 0); };
}
// Puts text in an edit control and presses OK.
inline Step Enter(int edit, const std::string &text) {
  return [edit, text](HWND d) {
    SetDlgItemTextA(d, edit, text.c_str());
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  };
}
// Selects the list item with the text and tells the dialog, as a click does.
inline Step Choose(int list, const std::string &text, int code = LBN_SELCHANGE) {
  return [list, text, code](HWND d) {
    HWND l = GetDlgItem(d, list);
    const LRESULT i =
        SendMessageA(l, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    ASSERT_NE(i, LB_ERR) << "no item \"" << text << "\"";
    SendMessageA(l, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
    SendMessageA(d, WM_COMMAND, MAKEWPARAM(list, code), reinterpret_cast<LPARAM>(l));
  };
}
inline Step Then(Step a, Step b) {
  return [a, b](HWND d) {
    a(d);
    b(d);
  };
}
}  // namespace person

#endif
