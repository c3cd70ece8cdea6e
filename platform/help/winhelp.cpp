// WinHelpA and the help window (class "MS_WINHELP").
//
// One help window per process shows one help file: its contents topic
// (HELP_CONTENTS/HELP_INDEX, HELP_FINDER), a topic by context number
// (HELP_CONTEXT), a topic found by keyword (HELP_KEY, HELP_PARTIALKEY: an
// exact keyword, else the first that begins with it, else the keyword index
// with a note), and the help on using help (HELP_HELPONHELP: the layer's own
// WINHELP.HLP). HELP_QUIT closes it. The window runs in the calling thread and
// is served by that thread's message loop, as a program's own windows are.
//
// Above the text: Contents, Index and Back buttons and the topic's title.
// The text wraps to the window; links are green and underlined, followed by a
// click, or by Tab (next link) and Enter. The text control's window text is
// the topic's plain text, so automation reads what is shown.
#include <windows.h>

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "help_file.h"
#include "qx/env.h"
#include "qx/lparam.h"
#include "qx/paths.h"

namespace qx::help {
namespace {

constexpr char kFrameClass[] = "MS_WINHELP";
constexpr char kTextClass[] = "QxHelpText";
constexpr char kHelpOnHelp[] = "WINHELP.HLP";
constexpr char kIndexId[] = "\x01index";  // the generated keyword index
enum : int { kContentsButton = 1, kIndexButton = 2, kBackButton = 3, kTitle = 10, kText = 11 };
constexpr int kButtonHeight = 24, kMargin = 6;
constexpr size_t kMaxHelpFile = 8 << 20;

struct LinkBox {
  RECT rect;  // in text coordinates (before scrolling)
  size_t link;
};

struct Viewer {
  HWND frame = nullptr, text = nullptr, title = nullptr, back = nullptr;
  HFONT font = nullptr, bold = nullptr;
  std::string file;  // as the program named it
  HelpFile help;
  Topic shown;  // the topic on screen (the index is made into one)
  std::string shown_id;
  std::vector<std::string> history;
  std::vector<std::string> link_targets;
  std::vector<LinkBox> boxes;
  std::vector<std::pair<int, int>> paragraph_rows;  // each paragraph's top and bottom, from the last layout
  int focus_link = -1;
  int scroll = 0, height = 0;
};
Viewer g;

// ---- finding and reading help files -----------------------------------------------------

std::string ProgramDirectory() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

// A file in a host directory, its name compared without regard to case.
std::string FindIn(const std::string &dir, const std::string &name) {
  DIR *d = opendir(dir.c_str());
  if (!d) return {};
  std::string found;
  while (const dirent *e = readdir(d))
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      found = dir + "/" + e->d_name;
      break;
    }
  closedir(d);
  return found;
}

// Where a help file is: as named (a Windows path), else by its file name
// beside the program, in the Windows directory, then in the directories of
// QX_HELP_PATH.
std::string Locate(const std::string &name) {
  std::string host;
  DWORD error = 0;
  if (HostPath(name, host, error) && access(host.c_str(), R_OK) == 0) return host;
  const size_t sep = name.find_last_of("\\/:");
  const std::string base = sep == std::string::npos ? name : name.substr(sep + 1);
  std::vector<std::string> dirs{ProgramDirectory()};
  char windows[MAX_PATH];
  if (GetWindowsDirectoryA(windows, sizeof windows) && HostPath(windows, host, error)) dirs.push_back(host);
  if (const char *extra = std::getenv("QX_HELP_PATH")) {
    std::stringstream list(extra);
    for (std::string d; std::getline(list, d, ':');)
      if (!d.empty()) dirs.push_back(d);
  }
  for (const std::string &d : dirs)
    if (std::string found = FindIn(d, base); !found.empty()) return found;
  return {};
}

bool Load(const std::string &name, HelpFile &out) {
  const std::string host = Locate(name);
  if (host.empty()) {
    Trace("WinHelp: help file %s not found", name.c_str());
    return false;
  }
  std::ifstream in(host, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (text.size() > kMaxHelpFile) text.resize(kMaxHelpFile);
  std::vector<std::string> problems;
  const bool ok = ParseHelp(text, out, problems);
  for (const std::string &p : problems) Trace("WinHelp: %s: %s", host.c_str(), p.c_str());
  return ok;
}

// ---- what is shown ---------------------------------------------------------------------------------

std::string PlainText(const Topic &t) {
  std::string out;
  for (const Paragraph &p : t.paragraphs) {
    if (!out.empty()) out += "\r\n\r\n";
    for (const Span &s : p.spans) out += s.text;
  }
  return out;
}

// The keyword index as a topic: every keyword, sorted, as a link to its topic.
Topic IndexTopic(const std::string &note) {
  Topic t;
  t.id = kIndexId;
  t.title = "Index";
  if (!note.empty()) t.paragraphs.push_back(Paragraph{{{note, ""}}, false});
  std::multimap<std::string, std::pair<std::string, std::string>> entries;  // lower-case -> (keyword, topic)
  for (const Topic &topic : g.help.topics)
    for (const std::string &k : topic.keywords) {
      std::string key = k;
      for (char &c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      entries.emplace(key, std::make_pair(k, topic.id));
    }
  for (const auto &[key, entry] : entries) t.paragraphs.push_back(Paragraph{{{entry.first, entry.second}}, false});
  if (entries.empty()) t.paragraphs.push_back(Paragraph{{{"This help file has no keywords.", ""}}, false});
  return t;
}

void Layout();

void Present(Topic topic, bool remember) {
  if (remember && !g.shown_id.empty() && g.shown_id != topic.id) g.history.push_back(g.shown_id);
  g.shown = std::move(topic);
  g.shown_id = g.shown.id;
  g.scroll = 0;
  g.focus_link = -1;
  SetWindowTextA(g.title, g.shown.title.c_str());
  SetWindowTextA(g.text, PlainText(g.shown).c_str());
  EnableWindow(g.back, !g.history.empty());
  Layout();
  InvalidateRect(g.text, nullptr, TRUE);
}

void ShowTopic(const std::string &id, bool remember = true) {
  if (const Topic *t = g.help.Find(id)) Present(*t, remember);
}

void ShowIndex(const std::string &note) { Present(IndexTopic(note), true); }

// ---- laying the text out ----------------------------------------------------------------------------

struct Word {
  std::string text;
  bool space_before;
  long link;  // index into link_targets, -1 for plain text
};

// Positions every word; returns the height. With `dc` null only measures,
// and keeps where each paragraph lies; drawing then passes over the
// paragraphs outside the rows [band_top, band_bottom) (text coordinates),
// so a repaint costs what is shown, not the whole topic.
int Flow(HDC dc, int width, bool draw, int band_top = 0, int band_bottom = INT_MAX) {
  int y = kMargin;
  HDC measure = dc ? dc : GetDC(g.text);
  HGDIOBJ old = SelectObject(measure, g.font);
  TEXTMETRICA tm;
  GetTextMetricsA(measure, &tm);
  const int line_height = tm.tmHeight + tm.tmExternalLeading;
  if (!draw) {
    g.boxes.clear();
    g.link_targets.clear();
    g.paragraph_rows.clear();
  }
  const bool laid_out = draw && g.paragraph_rows.size() == g.shown.paragraphs.size();
  size_t link_index = 0;
  for (size_t pi = 0; pi < g.shown.paragraphs.size(); ++pi) {
    const Paragraph &p = g.shown.paragraphs[pi];
    if (laid_out &&
        (g.paragraph_rows[pi].second + line_height <= band_top || g.paragraph_rows[pi].first >= band_bottom)) {
      for (const Span &s : p.spans)
        if (!s.target.empty()) ++link_index;
      y = g.paragraph_rows[pi].second + line_height * 2;
      continue;
    }
    const int paragraph_top = y;
    std::vector<Word> words;
    for (const Span &s : p.spans) {
      long link = -1;
      if (!s.target.empty()) {
        link = static_cast<long>(link_index++);
        if (!draw) g.link_targets.push_back(s.target);
      }
      if (p.preformatted) {
        std::stringstream lines(s.text);
        bool first = true;
        for (std::string line; std::getline(lines, line);) {
          if (!first) words.push_back({"\n", false, -1});
          words.push_back({line, false, link});
          first = false;
        }
        if (!s.text.empty() && s.text.back() == '\n') words.push_back({"\n", false, -1});
        continue;
      }
      bool space = !s.text.empty() && s.text[0] == ' ';
      std::stringstream in(s.text);
      for (std::string w; in >> w;) {
        words.push_back({w, space, link});
        space = true;
      }
    }
    int x = kMargin;
    for (const Word &w : words) {
      if (w.text == "\n") {
        x = kMargin;
        y += line_height;
        continue;
      }
      const std::string piece = (w.space_before && x > kMargin ? " " : "") + w.text;
      SIZE size{};
      GetTextExtentPoint32A(measure, piece.c_str(), static_cast<int>(piece.size()), &size);
      int left = x;
      if (!p.preformatted && x > kMargin && x + size.cx > width - kMargin) {  // wrap
        x = kMargin;
        y += line_height;
        left = x;
        GetTextExtentPoint32A(measure, w.text.c_str(), static_cast<int>(w.text.size()), &size);
      }
      const std::string shown = left == kMargin && !p.preformatted ? w.text : piece;
      if (shown != piece) GetTextExtentPoint32A(measure, shown.c_str(), static_cast<int>(shown.size()), &size);
      if (draw) {
        const bool link = w.link >= 0;
        SetTextColor(dc, link ? RGB(0, 128, 0) : GetSysColor(COLOR_WINDOWTEXT));
        TextOutA(dc, left, y - g.scroll, shown.c_str(), static_cast<int>(shown.size()));
        if (link) {
          // The underline starts after the blank that separates the link from the word before it.
          SIZE blank{};
          if (shown.size() > w.text.size()) GetTextExtentPoint32A(dc, " ", 1, &blank);
          const int lead = blank.cx;
          RECT underline{left + lead, y - g.scroll + tm.tmAscent + 1, left + size.cx, y - g.scroll + tm.tmAscent + 2};
          HBRUSH green = CreateSolidBrush(RGB(0, 128, 0));
          FillRect(dc, &underline, green);
          DeleteObject(green);
          if (w.link == g.focus_link) {
            RECT focus{left + lead - 1, y - g.scroll, left + size.cx + 1, y - g.scroll + line_height};
            DrawFocusRect(dc, &focus);
          }
        }
      } else if (w.link >= 0) {
        g.boxes.push_back({RECT{left, y, left + size.cx, y + line_height}, static_cast<size_t>(w.link)});
      }
      x = left + size.cx;
    }
    if (!draw) g.paragraph_rows.emplace_back(paragraph_top, y);
    y += line_height * 2;  // a blank line between paragraphs
  }
  SelectObject(measure, old);
  if (!dc) ReleaseDC(g.text, measure);
  return y;
}

void UpdateScrollBar() {
  RECT rc;
  GetClientRect(g.text, &rc);
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = 0;
  si.nMax = std::max(0, g.height - 1);
  si.nPage = static_cast<UINT>(std::max<LONG>(1, rc.bottom));
  si.nPos = g.scroll;
  SetScrollInfo(g.text, SB_VERT, &si, TRUE);
}

void Layout() {
  RECT rc;
  GetClientRect(g.text, &rc);
  g.height = Flow(nullptr, rc.right, false);
  UpdateScrollBar();
}

void ScrollTo(int y) {
  RECT rc;
  GetClientRect(g.text, &rc);
  const int limit = std::max(0, g.height - static_cast<int>(rc.bottom));
  const int target = std::clamp(y, 0, limit);
  if (target == g.scroll) return;
  g.scroll = target;
  UpdateScrollBar();
  InvalidateRect(g.text, nullptr, TRUE);
}

void FollowLink(size_t link) {
  if (link >= g.link_targets.size()) return;
  const std::string target = g.link_targets[link];
  if (g.help.Find(target))
    ShowTopic(target);
  else
    MessageBoxA(g.frame, ("The topic \"" + target + "\" is not in this help file.").c_str(), "Help",
                MB_OK | MB_ICONEXCLAMATION);
}

void FocusLink(int link) {
  if (g.link_targets.empty()) return;
  const int count = static_cast<int>(g.link_targets.size());
  g.focus_link = ((link % count) + count) % count;
  // Bring it into view.
  for (const LinkBox &b : g.boxes)
    if (static_cast<int>(b.link) == g.focus_link) {
      RECT rc;
      GetClientRect(g.text, &rc);
      if (b.rect.top < g.scroll || b.rect.bottom > g.scroll + rc.bottom) ScrollTo(b.rect.top - kMargin);
      break;
    }
  InvalidateRect(g.text, nullptr, TRUE);
}

// ---- windows -------------------------------------------------------------------------------------------

LRESULT CALLBACK TextProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      SetBkMode(dc, TRANSPARENT);
      Flow(dc, rc.right, true, g.scroll + ps.rcPaint.top, g.scroll + ps.rcPaint.bottom);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_SIZE: Layout(); return 0;
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS;
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      POINT at = qx::PointFromLParam(lp);
      at.y += g.scroll;
      for (const LinkBox &b : g.boxes)
        if (PtInRect(&b.rect, at)) {
          FollowLink(b.link);
          return 0;
        }
      return 0;
    }
    case WM_KEYDOWN: {
      RECT rc;
      GetClientRect(hwnd, &rc);
      switch (wp) {
        case VK_TAB: FocusLink(g.focus_link + ((GetKeyState(VK_SHIFT) & 0x8000) ? -1 : 1)); break;
        case VK_RETURN:
          if (g.focus_link >= 0) FollowLink(static_cast<size_t>(g.focus_link));
          break;
        case VK_UP: ScrollTo(g.scroll - 16); break;
        case VK_DOWN: ScrollTo(g.scroll + 16); break;
        case VK_PRIOR: ScrollTo(g.scroll - rc.bottom); break;
        case VK_NEXT: ScrollTo(g.scroll + rc.bottom); break;
        case VK_HOME: ScrollTo(0); break;
        case VK_END: ScrollTo(g.height); break;
        case VK_BACK: SendMessageA(g.frame, WM_COMMAND, kBackButton, 0); break;
        default: break;
      }
      return 0;
    }
    case WM_SYSKEYDOWN: {  // Alt+C, Alt+I, Alt+B: the buttons
      const int id = wp == 'C' ? kContentsButton : wp == 'I' ? kIndexButton : wp == 'B' ? kBackButton : 0;
      if (id) {
        SendMessageA(g.frame, WM_COMMAND, static_cast<WPARAM>(id), 0);
        return 0;
      }
      return DefWindowProcA(hwnd, msg, wp, lp);
    }
    case WM_VSCROLL: {
      RECT rc;
      GetClientRect(hwnd, &rc);
      switch (LOWORD(wp)) {
        case SB_LINEUP: ScrollTo(g.scroll - 16); break;
        case SB_LINEDOWN: ScrollTo(g.scroll + 16); break;
        case SB_PAGEUP: ScrollTo(g.scroll - rc.bottom); break;
        case SB_PAGEDOWN: ScrollTo(g.scroll + rc.bottom); break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: ScrollTo(static_cast<short>(HIWORD(wp))); break;
        case SB_TOP: ScrollTo(0); break;
        case SB_BOTTOM: ScrollTo(g.height); break;
        default: break;
      }
      return 0;
    }
    default: return DefWindowProcA(hwnd, msg, wp, lp);
  }
}

void LayOutFrame() {
  RECT rc;
  GetClientRect(g.frame, &rc);
  int x = kMargin;
  for (int id : {kContentsButton, kIndexButton, kBackButton}) {
    MoveWindow(GetDlgItem(g.frame, id), x, kMargin, 80, kButtonHeight, TRUE);
    x += 80 + kMargin;
  }
  const int title_top = kMargin * 2 + kButtonHeight;
  MoveWindow(g.title, kMargin, title_top, std::max<LONG>(0, rc.right - 2 * kMargin), 22, TRUE);
  const int text_top = title_top + 22 + kMargin;
  MoveWindow(g.text, 0, text_top, rc.right, std::max<LONG>(0, rc.bottom - text_top), TRUE);
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      if (g.text) LayOutFrame();
      return 0;
    case WM_SETFOCUS:
      if (g.text) SetFocus(g.text);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case kContentsButton: ShowTopic(g.help.contents); break;
        case kIndexButton: ShowIndex(""); break;
        case kBackButton:
          if (!g.history.empty()) {
            const std::string previous = g.history.back();
            g.history.pop_back();
            if (previous == kIndexId)
              Present(IndexTopic(""), false);
            else
              ShowTopic(previous, false);
          }
          break;
        default: break;
      }
      if (g.text) SetFocus(g.text);
      return 0;
    case WM_DESTROY:
      if (g.font) DeleteObject(g.font);
      if (g.bold) DeleteObject(g.bold);
      g = Viewer{};
      return 0;
    default: return DefWindowProcA(hwnd, msg, wp, lp);
  }
}

bool EnsureWindow() {
  if (g.frame && IsWindow(g.frame)) return true;
  static const bool registered = [] {
    WNDCLASSA frame{};
    frame.lpfnWndProc = FrameProc;
    frame.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frame.hIcon = LoadIconA(nullptr, IDI_QUESTION);
    frame.lpszClassName = kFrameClass;
    WNDCLASSA text{};
    text.style = CS_HREDRAW | CS_VREDRAW;
    text.lpfnWndProc = TextProc;
    text.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    text.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    text.lpszClassName = kTextClass;
    return RegisterClassA(&frame) && RegisterClassA(&text);
  }();
  if (!registered) return false;
  g = Viewer{};
  g.font = CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH, "MS Sans Serif");
  g.bold = CreateFontA(-13, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH, "MS Sans Serif");
  g.frame = CreateWindowExA(0, kFrameClass, "Help", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 520, 440,
                            nullptr, nullptr, nullptr, nullptr);
  if (!g.frame) return false;
  const struct {
    int id;
    const char *label;
  } buttons[] = {{kContentsButton, "&Contents"}, {kIndexButton, "&Index"}, {kBackButton, "&Back"}};
  for (const auto &b : buttons) {
    HWND button = CreateWindowA("Button", b.label, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 80, kButtonHeight,
                                g.frame, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(b.id)), nullptr, nullptr);
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(g.font), 0);
    if (b.id == kBackButton) g.back = button;
  }
  g.title = CreateWindowA("Static", "", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 10, 10, g.frame,
                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kTitle)), nullptr, nullptr);
  SendMessageA(g.title, WM_SETFONT, reinterpret_cast<WPARAM>(g.bold), 0);
  g.text = CreateWindowExA(WS_EX_CLIENTEDGE, kTextClass, "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP, 0, 0, 10,
                           10, g.frame, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kText)), nullptr, nullptr);
  LayOutFrame();
  return g.text != nullptr;
}

// Makes the window show `file` (loading it when another file is shown).
bool Open(const std::string &file) {
  if (g.frame && IsWindow(g.frame) && strcasecmp(g.file.c_str(), file.c_str()) == 0) return true;
  HelpFile help;
  if (!Load(file, help)) return false;
  if (!EnsureWindow()) return false;
  g.file = file;
  g.help = std::move(help);
  g.history.clear();
  g.shown_id.clear();
  SetWindowTextA(g.frame, (g.help.title.empty() ? file + " Help" : g.help.title).c_str());
  return true;
}

void Bring() {
  ShowWindow(g.frame, IsIconic(g.frame) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(g.frame);
  SetFocus(g.text);
}

}  // namespace
}  // namespace qx::help

using namespace qx::help;

extern "C" {

BOOL WINAPI WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData) {
  if (uCommand == HELP_QUIT) {
    if (g.frame && IsWindow(g.frame)) DestroyWindow(g.frame);
    return TRUE;
  }
  const std::string file = uCommand == HELP_HELPONHELP ? kHelpOnHelp : (lpszHelp ? lpszHelp : "");
  if (file.empty()) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (!Open(file)) {
    MessageBoxA(hWndMain, ("Cannot find the help file " + file + ".\nIt should be installed with the program.").c_str(),
                "Help", MB_OK | MB_ICONEXCLAMATION);
    return SetLastError(ERROR_FILE_NOT_FOUND), FALSE;
  }
  switch (uCommand) {
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP:
      if (const Topic *t = g.help.FindContext(static_cast<long>(dwData)))
        Present(*t, true);
      else
        ShowIndex("No topic has the context number " + std::to_string(static_cast<long>(dwData)) + ".");
      break;
    case HELP_SETCONTENTS:
      if (const Topic *t = g.help.FindContext(static_cast<long>(dwData))) g.help.contents = t->id;
      return TRUE;
    case HELP_KEY:
    case HELP_PARTIALKEY: {
      const std::string key = dwData ? reinterpret_cast<const char *>(dwData) : "";
      if (const Topic *t = g.help.FindKeyword(key))
        Present(*t, true);
      else
        ShowIndex(key.empty() ? "" : "No topic has the keyword \"" + key + "\". Choose one below.");
      break;
    }
    case HELP_FORCEFILE:
      if (!g.shown_id.empty()) break;
      [[fallthrough]];
    case HELP_CONTENTS:
    case HELP_HELPONHELP:
    case HELP_FINDER: ShowTopic(g.help.contents); break;
    default: return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  }
  Bring();
  return TRUE;
}

}  // extern "C"
