// burrowview's resources: the tree and button pictures, menu, dialogs and
// version. The pictures are drawn here, pixel by pixel, at compile time.
#include <windows.h>

#include <array>
#include <cstdint>

#include <qxcommon.h>

#include "resources.h"

namespace {

// ---- Pictures: 24-bit bottom-up DIBs, pure blue where the background shows ----

constexpr uint32_t kClear = 0x0000FF;  // RGB(0,0,255) as 0xRRGGBB
constexpr int kCell = 16;

template <int W, int H>
struct Dib {
  static constexpr int kStride = (W * 3 + 3) & ~3;
  std::array<unsigned char, 40 + kStride * H> bytes{};
};

template <int W, int H, class Paint>
constexpr Dib<W, H> MakeDib(Paint paint) {
  Dib<W, H> d;
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d.bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, W);
  put32(8, H);
  d.bytes[12] = 1;   // planes
  d.bytes[14] = 24;  // bits a pixel
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const uint32_t c = paint(x, y);
      const int at = 40 + (H - 1 - y) * Dib<W, H>::kStride + x * 3;
      d.bytes[at] = static_cast<unsigned char>(c);            // blue
      d.bytes[at + 1] = static_cast<unsigned char>(c >> 8);   // green
      d.bytes[at + 2] = static_cast<unsigned char>(c >> 16);  // red
    }
  }
  return d;
}

// A folder in a 16 x 16 cell: closed, or open with its front flap lowered.
constexpr uint32_t FolderPixel(int x, int y, bool open, uint32_t colour) {
  const bool tab = y >= 2 && y <= 3 && x >= 1 && x <= 6;
  const bool body = y >= 4 && y <= 13 && x >= 1 && x <= 14;
  const bool edge = (body && (y == 4 || y == 13 || x == 1 || x == 14)) || (tab && (y == 2 || x == 1 || x == 6));
  if (open && y >= 7 && y <= 13 && x >= 3 + (13 - y) / 2 && x <= 15) {
    return (y == 7 || y == 13 || x == 15) ? 0x000000 : 0xFFFFFF;
  }
  if (edge) return 0x000000;
  if (body || tab) return colour;
  return kClear;
}

constexpr uint32_t kFolderColours[5] = {0xFFD700, 0x7CCD7C, 0x87CEEB, 0xFFB6C1, 0xFFA54F};

// Per type picture column: a page with a coloured mark.
constexpr uint32_t kMarkColours[20] = {0x4060C0, 0xC08040, 0x008080, 0xC00000, 0x806000, 0x804080, 0x606060,
                                       0x00A000, 0x000000, 0x404040, 0x0080FF, 0x202080, 0xFF8000, 0x00C0C0,
                                       0xC0C0C0, 0xFFFFFF, 0xA000A0, 0x008000, 0xC0A000, 0xFF0000};

constexpr uint32_t PagePixel(int x, int y, int column, bool expanded) {
  if (x < 3 || x > 12 || y < 1 || y > 14) return kClear;
  if (x == 3 || x == 12 || y == 1 || y == 14) return 0x000000;
  if (x >= 5 && x <= 10 && y >= 4 && y <= 11 && (y % 2 == 0 || (x >= 6 && x <= 9 && y >= 6 && y <= 9)))
    return kMarkColours[column];
  return expanded ? 0xE0E0FF : 0xFFFFFF;
}

// Buttons: rows Save and Print; left half up, right half pressed.
constexpr int kButtonW = 24, kButtonH = 22;
constexpr uint32_t ButtonPixel(int x, int y) {
  const bool pressed = x >= kButtonW;
  const int bx = x % kButtonW, by = y % kButtonH;
  const bool print = y >= kButtonH;
  const bool light = bx == 0 || by == 0, dark = bx == kButtonW - 1 || by == kButtonH - 1;
  if (light) return pressed ? 0x404040 : 0xFFFFFF;
  if (dark) return pressed ? 0xFFFFFF : 0x404040;
  const int gx = bx - (pressed ? 1 : 0), gy = by - (pressed ? 1 : 0);
  if (!print && gx >= 6 && gx <= 17 && gy >= 5 && gy <= 16) {  // a diskette
    if (gx >= 9 && gx <= 14 && gy >= 5 && gy <= 8) return 0xC0C0C0;
    if (gx >= 8 && gx <= 15 && gy >= 11 && gy <= 16) return 0xFFFFFF;
    return 0x000080;
  }
  if (print && gx >= 5 && gx <= 18 && gy >= 9 && gy <= 15) return gy == 9 ? 0x000000 : 0x808080;  // a printer
  if (print && gx >= 8 && gx <= 15 && gy >= 4 && gy <= 8) return 0xFFFFFF;
  return 0xC0C0C0;
}

constexpr auto kFolders = MakeDib<2 * kCell, 5 * kCell>(
    [](int x, int y) { return FolderPixel(x % kCell, y % kCell, x >= kCell, kFolderColours[y / kCell]); });
constexpr auto kOthers =
    MakeDib<20 * kCell, 2 * kCell>([](int x, int y) { return PagePixel(x % kCell, y % kCell, x / kCell, y >= kCell); });
constexpr auto kButtons = MakeDib<2 * kButtonW, 2 * kButtonH>(ButtonPixel);

// ---- Menu ----

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("&Home Gopher", IDM_HOME_GOPHER),
    QX_MENUITEM("Select &Gopher...", IDM_SELECT_GOPHER),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("&Configure...", IDM_CONFIGURE),
    QX_MENUITEM("&Print Setup...", IDM_PRINT_SETUP),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kBookmarkMenu[] = {
    QX_MENUITEM("&Save Bookmark...", IDM_SAVE_BOOKMARK),
    QX_MENUITEM("&Delete Bookmark...", IDM_DELETE_BOOKMARK),
    QX_MENUITEM("&Go to Bookmark...", IDM_GOTO_BOOKMARK),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("&Checkpoint Location...", IDM_CHECKPOINT),
    QX_MENUITEM("&Remove Checkpoint...", IDM_REMOVE_CHECKPOINT),
    QX_MENUITEM("&Load from Checkpoint...", IDM_LOAD_CHECKPOINT),
};
const QX_MENU_ITEM kFontMenu[] = {
    QX_MENUITEM("Monospaced", IDM_MONOSPACED),
    QX_MENUITEM("Proportional", IDM_PROPORTIONAL),
};
const QX_MENU_ITEM kColourMenu[] = {
    QX_MENUITEM("Document Window...", IDM_DOC_COLOR),
    QX_MENUITEM("Tree Window...", IDM_TREE_COLOR),
};
const QX_MENU_ITEM kSoundMenu[] = {
    QX_MENUITEM("&Save To File", IDM_SOUND_FILE),   QX_MENUITEM("&3 Seconds", IDM_SOUND_FILE + 1),
    QX_MENUITEM("&5 Seconds", IDM_SOUND_FILE + 2),  QX_MENUITEM("&10 Seconds", IDM_SOUND_FILE + 3),
    QX_MENUITEM("&20 Seconds", IDM_SOUND_FILE + 4),
};
const QX_MENU_ITEM kOptionsMenu[] = {
    QX_POPUP("&Font", kFontMenu),
    QX_POPUP("&Colors", kColourMenu),
    QX_POPUP("&Sound", kSoundMenu),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Using Help...", IDM_HELP_USING),
    QX_MENUITEM("Help &Index...", IDM_HELP_INDEX),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("&About burrowview...", IDM_ABOUT),
};
const QX_MENU_ITEM kMainItems[] = {
    QX_POPUP("&File", kFileMenu),
    QX_POPUP("&Bookmarks", kBookmarkMenu),
    QX_POPUP("&Options", kOptionsMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kMainMenu = QX_MENU_OF(kMainItems);

// ---- Dialogs ----

// The client area: placed and sized by the layout on WM_SIZE.
const QX_DIALOG_ITEM kClientItems[] = {
    QX_CONTROL("", IDC_TREE_LIST, "ListBox",
               LBS_OWNERDRAWFIXED | LBS_NOTIFY | LBS_WANTKEYBOARDINPUT | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE |
                   WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
               0, 0, 100, 100),
    QX_CONTROL("", IDC_DOC_LIST, "ListBox",
               LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                   WS_TABSTOP,
               104, 0, 100, 100),
    QX_CONTROL("", IDC_STATUS_FRAME, "Static", SS_BLACKFRAME | WS_CHILD | WS_VISIBLE, 4, 104, 150, 12),
    QX_CONTROL("", IDC_STATUS_TEXT, "Static", SS_LEFT | SS_NOPREFIX | WS_CHILD | WS_VISIBLE, 6, 106, 146, 8),
    QX_CONTROL("Print", IDC_PRINT_BUTTON, "Button", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 160, 104, 16, 14),
    QX_CONTROL("Save", IDC_SAVE_BUTTON, "Button", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 180, 104, 16, 14),
};
const QX_DIALOG kClient =
    QX_DIALOG_TEMPLATE(0, 0, 200, 120, WS_CHILD | WS_VISIBLE, "", "MS Sans Serif", 8, kClientItems);

const QX_DIALOG_ITEM kSearchItems[] = {
    QX_LTEXT("Enter Text for Index Search:", -1, 8, 8, 200, 8),
    QX_EDITTEXT(IDC_SEARCH_WORDS, 8, 20, 228, 12),
    QX_DEFPUSHBUTTON("&OK", IDOK, 70, 38, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 124, 38, 44, 14),
};
const QX_DIALOG kSearch = QX_DIALOG_TEMPLATE(40, 40, 244, 58, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                             "Index Search", "MS Sans Serif", 8, kSearchItems);

const QX_DIALOG_ITEM kCsoItems[] = {
    QX_LTEXT("&Search for:", -1, 8, 10, 50, 8),
    QX_EDITTEXT(IDC_CSO_VALUE, 60, 8, 150, 12),
    QX_LTEXT("&Key field:", -1, 8, 28, 50, 8),
    QX_CONTROL("", IDC_CSO_KEYS, "ListBox", LBS_NOTIFY | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 8,
               38, 96, 70),
    QX_LTEXT("&Return fields:", -1, 114, 28, 60, 8),
    QX_CONTROL("", IDC_CSO_RETURN, "ListBox",
               LBS_MULTIPLESEL | LBS_NOTIFY | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 114, 38, 96,
               70),
    QX_DEFPUSHBUTTON("OK", IDOK, 60, 114, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 114, 114, 44, 14),
};
const QX_DIALOG kCso = QX_DIALOG_TEMPLATE(30, 30, 218, 134, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                          "CSO Server Search", "MS Sans Serif", 8, kCsoItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_LTEXT("QX TCP/IP suite: burrowview", -1, 8, 8, 200, 8),
    QX_LTEXT("", IDC_ABOUT_VERSION, 8, 22, 200, 8),
    QX_LTEXT("Network Layer:", -1, 8, 40, 60, 8),
    QX_CONTROL("", IDC_ABOUT_NETWORK, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 38, 144,
               12),
    QX_LTEXT("Vrsn compiled:", -1, 8, 56, 60, 8),
    QX_CONTROL("", IDC_ABOUT_COMPILED, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 54, 144,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 74, 40, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 222, 94, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "About burrowview", "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Gopher client");

const QX_RESOURCE kResources[] = {
    {RT_BITMAP, "Folders", kFolders.bytes.data(), static_cast<DWORD>(kFolders.bytes.size())},
    {RT_BITMAP, "Others", kOthers.bytes.data(), static_cast<DWORD>(kOthers.bytes.size())},
    {RT_BITMAP, "Buttons", kButtons.bytes.data(), static_cast<DWORD>(kButtons.bytes.size())},
    QX_RES_MENU("BURROWVIEW", kMainMenu),
    QX_RES_DIALOG("QXburrowview", kClient),
    QX_RES_DIALOG("GetSearch", kSearch),
    QX_RES_DIALOG("CSO", kCso),
    QX_RES_DIALOG("About", kAbout),
    QX_RES_VERSION(kVersion),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);
