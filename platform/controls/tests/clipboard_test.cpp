// The clipboard: the rules of opening and owning it, text and pictures,
// copy and paste between two windows, between two processes through the
// runtime directory, and with the desktop clipboard under Xvfb.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "qxtest/controls.h"
#include "qxtest/support.h"

using namespace qx::test;

namespace {

std::string Peer() { return qxtest::BinDir() + "/controls_clip_peer"; }

std::string Output(const std::string &cmd) {
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

bool PutText(const char *text) {
  if (!OpenClipboard(nullptr)) return false;
  EmptyClipboard();
  const size_t n = std::strlen(text) + 1;
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, n);
  std::memcpy(GlobalLock(mem), text, n);
  GlobalUnlock(mem);
  const bool ok = SetClipboardData(CF_TEXT, mem) != nullptr;
  CloseClipboard();
  return ok;
}

std::string GetText() {
  std::string out = "<none>";
  if (!OpenClipboard(nullptr)) return "<closed>";
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    out = static_cast<const char *>(GlobalLock(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return out;
}

class Clipboard : public ::testing::Test {
 protected:
  void TearDown() override { DestroyAll(); }
};

TEST_F(Clipboard, CallsNeedItOpenAndAnotherThreadWaitsItsTurn) {
  EXPECT_EQ(SetClipboardData(CF_TEXT, GlobalAlloc(GMEM_MOVEABLE, 1)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLIPBOARD_NOT_OPEN));
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_FALSE(CloseClipboard());
  ASSERT_TRUE(OpenClipboard(nullptr));
  BOOL other = TRUE;
  std::thread([&other] { other = OpenClipboard(nullptr); }).join();
  EXPECT_FALSE(other);
  EXPECT_TRUE(CloseClipboard());
}

TEST_F(Clipboard, TextBetweenTwoWindowsAndBitmapAsDib) {
  HWND a = MakeParent(), b = MakeParent();
  HWND ea = MakeChild(a, "Edit", WS_BORDER, 1, 5, 5, 200, 24, "from the first window");
  HWND eb = MakeChild(b, "Edit", WS_BORDER, 2, 5, 5, 200, 24, "");
  SendMessageA(ea, EM_SETSEL, 0, -1);
  SendMessageA(ea, WM_COPY, 0, 0);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
  SetFocus(eb);
  KeyWith(kCtrl, ScanOf('v'));
  Pump();
  EXPECT_EQ(TextOf(eb), "from the first window");
  // A bitmap put on the clipboard can be read back as a DIB, and the picture replaces the text.
  ASSERT_TRUE(OpenClipboard(a));
  EmptyClipboard();
  HBITMAP bm = CreateBitmap(7, 5, 1, 32, nullptr);
  ASSERT_NE(SetClipboardData(CF_BITMAP, bm), nullptr);
  EXPECT_EQ(GetClipboardOwner(), a);
  CloseClipboard();
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
  ASSERT_TRUE(OpenClipboard(b));
  HANDLE dib = GetClipboardData(CF_DIB);
  ASSERT_NE(dib, nullptr);
  const auto *bih = static_cast<const BITMAPINFOHEADER *>(GlobalLock(dib));
  EXPECT_EQ(bih->biWidth, 7);
  EXPECT_EQ(bih->biHeight, 5);
  GlobalUnlock(dib);
  CloseClipboard();
  EXPECT_EQ(Output(Peer() + " dib"), "7 5");  // another process sees the picture too
}

TEST_F(Clipboard, TextBetweenTwoProcesses) {
  ASSERT_TRUE(PutText("line one\r\nline two"));
  EXPECT_EQ(Output(Peer() + " get"), "line one\r\nline two");
  ASSERT_EQ(std::system((Peer() + " set 'from the peer'").c_str()), 0);
  EXPECT_EQ(GetText(), "from the peer");
  EXPECT_EQ(GetClipboardOwner(), nullptr);  // the owner is in the other process
}

TEST_F(Clipboard, DesktopClipboardUnderXvfb) {
  ASSERT_EQ(std::system("command -v xvfb-run >/dev/null"), 0) << "xvfb-run is needed (package xvfb)";
  // Two processes with separate runtime directories meet only through the X clipboard.
  const std::string dir = ::testing::TempDir() + "clip-" + std::to_string(getpid());
  ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir + "/a " + dir + "/b").c_str()), 0);
  const std::string env = "QX_DISPLAY=sdl SDL_VIDEODRIVER=x11 QX_AUTOMATION=0 ";
  // The reader starts once the holder owns the selection, and the holder stays until the reader is done.
  const std::string script = "QX_RUNTIME_DIR=" + dir + "/a " + env + Peer() + " hold 'desktop text' " + dir +
                             " & while [ ! -e " + dir +
                             "/ready ] && kill -0 \\$! 2>/dev/null; do sleep 0.05; done; QX_RUNTIME_DIR=" + dir +
                             "/b " + env + Peer() + " show; touch " + dir + "/done; wait";
  // xvfb-run -a searches from display 99 by default: two tests starting at
  // once could both take it. Each starts its search at a number of its own.
  const std::string server = std::to_string(100 + getpid() % 800);
  const std::string got =
      Output("xvfb-run -a -n " + server + " -s '-screen 0 640x480x24' sh -c \"" + script + "\" 2>/dev/null");
  EXPECT_EQ(got, "desktop text");
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
