// Opens the menu "/big" of the gopher server on 127.0.0.1:70 as burrowview
// does and shows its first screen: the answer received into the menu file,
// parsed into the tree, every row added to an owner-drawn list (measured for
// the horizontal extent) and the visible rows painted. Exits 0 when the list
// holds the root and every item.
#include "gophercore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

HWND g_List;

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DRAWITEM) {
    const auto *dis = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
    const auto *item = reinterpret_cast<const GopherItem *>(dis->itemData);
    FillRect(dis->hDC, &dis->rcItem, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (item && dis->itemID != static_cast<UINT>(-1))
      TextOutA(dis->hDC, dis->rcItem.left + 16 * item->depth + 4, dis->rcItem.top, item->display.c_str(),
               static_cast<int>(item->display.size()));
    return TRUE;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The rows of the tree, as the window's tree list is filled.
void FillList(GopherItem *, int) {
  SendMessageA(g_List, WM_SETREDRAW, FALSE, 0);
  SendMessageA(g_List, LB_RESETCONTENT, 0, 0);
  int rows = 0;
  ForEachVisible(g_Roots, [&](GopherItem *) { return ++rows, true; });
  SendMessageA(g_List, LB_INITSTORAGE, rows, 0);
  HDC dc = GetDC(g_List);
  int widest = 0;
  for (GopherItem *root = g_Roots; root; root = root->next) {
    SendMessageA(g_List, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(root));
    for (GopherItem *c = (root->flags & kItemExpanded) ? root->firstChild : nullptr; c; c = c->next) {
      SendMessageA(g_List, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(c));
      SIZE size{};
      GetTextExtentPoint32A(dc, c->display.c_str(), static_cast<int>(c->display.size()), &size);
      widest = std::max(widest, static_cast<int>(size.cx) + 16 * c->depth + 6);
    }
  }
  ReleaseDC(g_List, dc);
  SendMessageA(g_List, LB_SETHORIZONTALEXTENT, widest, 0);
  SendMessageA(g_List, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(g_List, nullptr, TRUE);
  UpdateWindow(g_List);
}

}  // namespace

int main(int argc, char **argv) {
  const int port = argc > 1 ? atoi(argv[1]) : 70;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0 || !MakePrivateTempDir()) {
    fprintf(stderr, "bench_gopher_open: cannot start Winsock or make the temporary folder\n");
    return 2;
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = FrameProc;
  wc.lpszClassName = "BenchFrame";
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RegisterClassA(&wc);
  HWND frame = CreateWindowA("BenchFrame", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480, nullptr, nullptr,
                             nullptr, nullptr);
  g_List = CreateWindowA("ListBox", "", LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_VSCROLL,
                         0, 0, 320, 440, frame, reinterpret_cast<HMENU>(203), nullptr, nullptr);
  g_TreeChanged = FillList;
  GopherItem *root = ParseMenuLine("1Big menu\t/big\t127.0.0.1\t" + std::to_string(port));
  const int ok = root && AddRootItem(root, 1);
  const long rows = static_cast<long>(SendMessageA(g_List, LB_GETCOUNT, 0, 0));
  const int children = root ? CountChildren(root) : 0;
  FreeItemList(g_Roots);
  g_Roots = nullptr;
  RemovePrivateTempDir();
  DestroyWindow(frame);
  WSACleanup();
  if (!ok || rows != children + 1 || children == 0) {
    fprintf(stderr, "bench_gopher_open: the menu did not open (%d items, %ld rows)\n", children, rows);
    return 1;
  }
  if (getenv("QX_BENCH_VERBOSE")) printf("%d items, %ld rows\n", children, rows);
  return 0;
}
