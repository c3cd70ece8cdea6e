// Test automation of controls, menus and dialogs: commands added to the
// display's automation socket (so another process can drive them) and the
// same commands in process through ControlCommand. Each acts as a person's
// action would, with the notifications that action causes.
//
//   item HWND ID            the dialog item with that id
//   state HWND              "class=... enabled=0|1 visible=0|1 check=N sel=N count=N pos=N range=MIN..MAX"
//   settext HWND TEXT       sets a control's text (an edit notifies EN_CHANGE)
//   press HWND              clicks a button (BN_CLICKED; automatic kinds toggle)
//   select HWND INDEX       selects a list or combo item (LBN_SELCHANGE/CBN_SELCHANGE)
//   items HWND              the texts of a list's or combo box's items, one a line
//   menu HWND ID            chooses a menu command of a window (refused when grayed)
#include <cstdlib>
#include <string>

#include "qx/display.h"
#include "automation.h"
#include "controls_internal.h"

namespace qx::controls {
namespace {

std::string Num(LRESULT v) { return std::to_string(static_cast<long long>(v)); }

std::string ItemsOf(HWND h, bool combo) {
  std::string out = "ok";
  const int n = static_cast<int>(SendMessageA(h, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    const LRESULT len = SendMessageA(h, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0);
    if (len < 0 || len > 4096) continue;
    std::string s(static_cast<size_t>(len) + 1, '\0');
    SendMessageA(h, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(s.data()));
    s.resize(static_cast<size_t>(len));
    out += "\n" + s;
  }
  return out;
}

std::string State(HWND h) {
  const std::string cls = ClassOf(h);
  std::string out = "ok class=" + cls + " enabled=" + (IsWindowEnabled(h) ? "1" : "0") +
                    " visible=" + (IsWindowVisible(h) ? "1" : "0");
  if (cls == "button") out += " check=" + Num(SendMessageA(h, BM_GETCHECK, 0, 0));
  if (cls == "listbox")
    out += " sel=" + Num(SendMessageA(h, LB_GETCURSEL, 0, 0)) + " count=" + Num(SendMessageA(h, LB_GETCOUNT, 0, 0));
  if (cls == "combobox")
    out += " sel=" + Num(SendMessageA(h, CB_GETCURSEL, 0, 0)) + " count=" + Num(SendMessageA(h, CB_GETCOUNT, 0, 0));
  if (cls == "scrollbar") {
    int low = 0, high = 0;
    GetScrollRange(h, SB_CTL, &low, &high);
    out += " pos=" + Num(GetScrollPos(h, SB_CTL)) + " range=" + Num(low) + ".." + Num(high);
  }
  return out;
}

std::string Select(HWND h, const std::string &arg) {
  const std::string cls = ClassOf(h);
  char *end = nullptr;
  const long index = std::strtol(arg.c_str(), &end, 10);
  if (arg.empty() || (end && *end)) return "error no item index";
  if (cls == "listbox") {
    const bool multi = (StyleOf(h) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
    const LRESULT r =
        multi ? SendMessageA(h, LB_SETSEL, TRUE, index) : SendMessageA(h, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (r == LB_ERR) return "error no such item";
    if (StyleOf(h) & LBS_NOTIFY) NotifyParent(h, LBN_SELCHANGE);
    return "ok";
  }
  if (cls == "combobox") {
    if (SendMessageA(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR) return "error no such item";
    NotifyParent(h, CBN_SELCHANGE);
    return "ok";
  }
  return "error not a list";
}

std::string Menu(HWND h, const std::string &arg) {
  const UINT id = static_cast<UINT>(std::strtoul(arg.c_str(), nullptr, 0));
  HMENU menu = GetMenu(h);
  if (!menu) return "error the window has no menu";
  SendMessageA(h, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
  const UINT state = GetMenuState(menu, id, MF_BYCOMMAND);
  if (state == static_cast<UINT>(-1)) return "error no such menu item";
  if (state & (MF_GRAYED | MF_DISABLED)) return "error the menu item is grayed";
  PostMessageA(h, WM_COMMAND, MAKEWPARAM(id, 0), 0);
  return "ok";
}

std::string Extension(const std::string &verb, HWND h, const std::string &rest) {
  return ControlCommand(verb, h, rest);
}

struct Installer {
  Installer() { display::SetAutomationExtension(Extension); }
} g_installer;

}  // namespace

std::string ControlCommand(const std::string &verb, HWND h, const std::string &rest) {
  if (verb == "item") {
    HWND item = GetDlgItem(h, static_cast<int>(std::strtol(rest.c_str(), nullptr, 0)));
    if (!item) return "error no such item";
    char buf[24];
    std::snprintf(buf, sizeof buf, "ok 0x%x", QX_HANDLE_VALUE(item));
    return buf;
  }
  if (verb == "state") return State(h);
  if (verb == "settext") return SetWindowTextA(h, rest.c_str()) ? "ok" : "error cannot set the text";
  if (verb == "press") {
    if (ClassOf(h) != "button") return "error not a button";
    if (!IsWindowEnabled(h)) return "error the button is disabled";
    SendMessageA(h, BM_CLICK, 0, 0);
    return "ok";
  }
  if (verb == "select") return Select(h, rest);
  if (verb == "items") {
    const std::string cls = ClassOf(h);
    if (cls != "listbox" && cls != "combobox") return "error not a list";
    return ItemsOf(h, cls == "combobox");
  }
  if (verb == "menu") return Menu(h, rest);
  return "";
}

}  // namespace qx::controls
