/* Resources as static data: each program and library lists its strings,
 * version information, icons, bitmaps, cursors, menus, accelerators and dialog
 * templates as typed records, and registers the list when it is loaded.
 *
 * A resource script translates line by line:
 *
 *   static const QX_DIALOG_ITEM kAboutItems[] = {
 *     QX_DEFPUSHBUTTON("OK", IDOK, 70, 80, 40, 14),
 *     QX_LTEXT("Version", IDC_VERSION, 10, 10, 150, 8),
 *     QX_CONTROL("", IDC_LOGO, "Static", SS_BITMAP | WS_CHILD | WS_VISIBLE, 10, 20, 32, 32),
 *   };
 *   static const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(
 *     0, 0, 180, 100, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, "About",
 *     "MS Sans Serif", 8, kAboutItems);
 *   static const QX_MENU_ITEM kFileMenu[] = {
 *     QX_MENUITEM("&Open...", IDM_OPEN), QX_MENUSEPARATOR(), QX_MENUITEM("E&xit", IDM_EXIT) };
 *   static const QX_MENU_ITEM kMainItems[] = { QX_POPUP("&File", kFileMenu) };
 *   static const QX_MENU kMainMenu = QX_MENU_OF(kMainItems);
 *   static const QX_RESOURCE kResources[] = {
 *     QX_RES_DIALOG("ABOUT", kAbout),
 *     QX_RES_MENU("MAINMENU", kMainMenu),
 *     QX_RES_BITMAP("logo", kLogoDib),             // bytes of a .bmp without its 14-byte file header
 *     QX_STRING(101, "Unable to connect"),
 *     QX_RES_VERSION(kVersion),
 *   };
 *   QX_REGISTER_RESOURCES(kResources);
 *
 * Names are either text (compared without regard to case) or a number made
 * with MAKEINTRESOURCE. Dialog and control positions are in dialog units. */
#ifndef QX_WIN_RESOURCES_H
#define QX_WIN_RESOURCES_H

#include "base.h"

/* Resource types */
#define RT_CURSOR MAKEINTRESOURCE(1)
#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_ICON MAKEINTRESOURCE(3)
#define RT_MENU MAKEINTRESOURCE(4)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_FONTDIR MAKEINTRESOURCE(7)
#define RT_FONT MAKEINTRESOURCE(8)
#define RT_ACCELERATOR MAKEINTRESOURCE(9)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_MESSAGETABLE MAKEINTRESOURCE(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCE(12)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)
#define RT_VERSION MAKEINTRESOURCE(16)
#define VS_VERSION_INFO 1
#define VS_FILE_INFO RT_VERSION

/* One resource of a module. data and size by type:
 *   RT_BITMAP            a device-independent bitmap: BITMAPINFOHEADER, colour
 *                        table and bits (a .bmp file without its file header)
 *   RT_ICON, RT_CURSOR   the bytes of an .ico or .cur file
 *   RT_STRING            the text (name = MAKEINTRESOURCE(string id)), size
 *                        its length
 *   RT_DIALOG            a QX_DIALOG
 *   RT_MENU              a QX_MENU
 *   RT_ACCELERATOR       a QX_ACCELERATORS
 *   RT_VERSION           a QX_VERSION
 *   RT_RCDATA and named  raw bytes
 * LockResource gives data, SizeofResource gives size. */
typedef struct QX_RESOURCE {
  LPCSTR type;
  LPCSTR name;
  const void *data;
  DWORD size;
} QX_RESOURCE;

/* Dialog templates */
typedef struct QX_DIALOG_ITEM {
  LPCSTR className; /* "Button", "Edit", "Static", "ListBox", "ComboBox", "ScrollBar" or registered */
  LPCSTR text;      /* caption; for an icon or bitmap control the resource name */
  int id;
  short x, y, cx, cy; /* dialog units */
  DWORD style;
  DWORD exStyle;
} QX_DIALOG_ITEM;

typedef struct QX_DIALOG {
  short x, y, cx, cy; /* dialog units */
  DWORD style;
  DWORD exStyle;
  LPCSTR caption;
  LPCSTR menu;      /* menu resource name or NULL */
  LPCSTR className; /* private window class or NULL */
  LPCSTR fontName;  /* NULL for the system font (DS_SETFONT implied otherwise) */
  WORD pointSize;
  const QX_DIALOG_ITEM *items;
  UINT itemCount;
} QX_DIALOG;

#define QX_COUNTOF(a) ((UINT)(sizeof(a) / sizeof((a)[0])))
#define QX_DIALOG_TEMPLATE(x, y, cx, cy, style, caption, font, points, items)                           \
  {                                                                                                     \
    (short)(x), (short)(y), (short)(cx), (short)(cy), (DWORD)(style), 0, (caption), NULL, NULL, (font), \
        (WORD)(points), (items), QX_COUNTOF(items)                                                      \
  }
#define QX_DIALOG_TEMPLATE_EX(x, y, cx, cy, style, exstyle, caption, menu, cls, font, points, items)              \
  {                                                                                                               \
    (short)(x), (short)(y), (short)(cx), (short)(cy), (DWORD)(style), (DWORD)(exstyle), (caption), (menu), (cls), \
        (font), (WORD)(points), (items), QX_COUNTOF(items)                                                        \
  }

/* Control statements of a resource script. The style names come from the
 * controls header and are only needed where these are used. The extra style
 * argument of the script's statements goes in a QX_CONTROL. */
#define QX_CONTROL(text, id, cls, style, x, y, cx, cy) \
  { (cls), (text), (id), (short)(x), (short)(y), (short)(cx), (short)(cy), (DWORD)(style), 0 }
#define QX_CONTROL_EX(text, id, cls, style, x, y, cx, cy, exstyle) \
  { (cls), (text), (id), (short)(x), (short)(y), (short)(cx), (short)(cy), (DWORD)(style), (DWORD)(exstyle) }
#define QX_LTEXT(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Static", SS_LEFT | WS_CHILD | WS_VISIBLE | WS_GROUP, x, y, cx, cy)
#define QX_RTEXT(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Static", SS_RIGHT | WS_CHILD | WS_VISIBLE | WS_GROUP, x, y, cx, cy)
#define QX_CTEXT(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Static", SS_CENTER | WS_CHILD | WS_VISIBLE | WS_GROUP, x, y, cx, cy)
#define QX_ICON(name, id, x, y) QX_CONTROL(name, id, "Static", SS_ICON | WS_CHILD | WS_VISIBLE, x, y, 0, 0)
#define QX_PUSHBUTTON(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Button", BS_PUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, y, cx, cy)
#define QX_DEFPUSHBUTTON(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Button", BS_DEFPUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, y, cx, cy)
#define QX_CHECKBOX(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Button", BS_CHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, y, cx, cy)
#define QX_AUTOCHECKBOX(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Button", BS_AUTOCHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, y, cx, cy)
#define QX_RADIOBUTTON(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Button", BS_RADIOBUTTON | WS_CHILD | WS_VISIBLE, x, y, cx, cy)
#define QX_AUTORADIOBUTTON(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE, x, y, cx, cy)
#define QX_GROUPBOX(text, id, x, y, cx, cy) \
  QX_CONTROL(text, id, "Button", BS_GROUPBOX | WS_CHILD | WS_VISIBLE, x, y, cx, cy)
#define QX_EDITTEXT(id, x, y, cx, cy) \
  QX_CONTROL("", id, "Edit", ES_LEFT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, x, y, cx, cy)
#define QX_LISTBOX(id, x, y, cx, cy) \
  QX_CONTROL("", id, "ListBox", LBS_NOTIFY | WS_CHILD | WS_VISIBLE | WS_BORDER, x, y, cx, cy)
#define QX_COMBOBOX(id, x, y, cx, cy, style) \
  QX_CONTROL("", id, "ComboBox", (style) | WS_CHILD | WS_VISIBLE, x, y, cx, cy)
#define QX_SCROLLBAR(id, x, y, cx, cy, style) \
  QX_CONTROL("", id, "ScrollBar", (style) | WS_CHILD | WS_VISIBLE, x, y, cx, cy)

/* Menus: nested item tables. A popup has a submenu and no command id;
 * flags are the MF_ values of the controls header (MF_GRAYED, MF_CHECKED,
 * MF_MENUBARBREAK, MF_HELP...). A separator has NULL text. */
typedef struct QX_MENU_ITEM {
  LPCSTR text;
  UINT id;
  UINT flags;
  const struct QX_MENU_ITEM *popup;
  UINT popupCount;
} QX_MENU_ITEM;

typedef struct QX_MENU {
  const QX_MENU_ITEM *items;
  UINT itemCount;
} QX_MENU;

#define QX_MENU_OF(items) \
  { (items), QX_COUNTOF(items) }
#define QX_ACCELERATORS_OF(entries) \
  { (entries), QX_COUNTOF(entries) }
#define QX_MENUITEM(text, id) \
  { (text), (UINT)(id), 0, NULL, 0 }
#define QX_MENUITEM_F(text, id, flags) \
  { (text), (UINT)(id), (UINT)(flags), NULL, 0 }
#define QX_MENUSEPARATOR() \
  { NULL, 0, 0, NULL, 0 }
#define QX_POPUP(text, items) \
  { (text), 0, 0, (items), QX_COUNTOF(items) }
#define QX_POPUP_F(text, flags, items) \
  { (text), 0, (UINT)(flags), (items), QX_COUNTOF(items) }

/* Accelerator tables: flags are the FVIRTKEY, FSHIFT, FCONTROL, FALT and
 * FNOINVERT values of the controls header; key is a virtual key with
 * FVIRTKEY, else a character code. */
typedef struct QX_ACCELERATOR {
  BYTE flags;
  WORD key;
  WORD command;
} QX_ACCELERATOR;

typedef struct QX_ACCELERATORS {
  const QX_ACCELERATOR *entries;
  UINT count;
} QX_ACCELERATORS;

/* Version information: the fixed part and one string table per language and
 * code page ("040904E4" for US English, Windows Latin 1). */
typedef struct QX_VERSION_STRING {
  LPCSTR key; /* "FileVersion", "ProductName", "CompanyName"... */
  LPCSTR value;
} QX_VERSION_STRING;

typedef struct QX_VERSION {
  DWORD fileVersionMS, fileVersionLS;
  DWORD productVersionMS, productVersionLS;
  DWORD fileFlagsMask, fileFlags, fileOS, fileType, fileSubtype;
  LPCSTR langCodePage; /* eight hex digits, as in "040904E4" */
  const QX_VERSION_STRING *strings;
  UINT stringCount;
} QX_VERSION;

/* VERSION a,b,c,d of a script as the two 32-bit halves. */
#define QX_VERSION_MS(a, b) ((DWORD)((((DWORD)(a)) << 16) | ((DWORD)(b)&0xFFFF)))
#define QX_VERSION_LS(c, d) QX_VERSION_MS(c, d)

/* Values of the fixed part. */
#define VS_FFI_SIGNATURE 0xFEEF04BDu
#define VS_FFI_STRUCVERSION 0x00010000u
#define VS_FFI_FILEFLAGSMASK 0x0000003Fu
#define VS_FF_DEBUG 0x00000001u
#define VS_FF_PRERELEASE 0x00000002u
#define VS_FF_PATCHED 0x00000004u
#define VS_FF_PRIVATEBUILD 0x00000008u
#define VS_FF_INFOINFERRED 0x00000010u
#define VS_FF_SPECIALBUILD 0x00000020u
#define VOS_UNKNOWN 0x00000000u
#define VOS_NT 0x00040000u
#define VOS__WINDOWS32 0x00000004u
#define VOS_NT_WINDOWS32 0x00040004u
#define VFT_UNKNOWN 0x00000000u
#define VFT_APP 0x00000001u
#define VFT_DLL 0x00000002u
#define VFT_DRV 0x00000003u
#define VFT2_UNKNOWN 0x00000000u

/* "a.b.c.d", the text of VERSION a,b,c,d given as plain decimal numbers. */
#define QX_VERSION_TEXT(a, b, c, d) #a "." #b "." #c "." #d

/* The version resource of a program: file and product version a,b,c,d, every
 * flag known and none set, a 32-bit Windows NT application, one string table
 * in US English, Windows Latin 1; strings is an array of QX_VERSION_STRING. */
#define QX_PROGRAM_VERSION(a, b, c, d, strings)                                                                  \
  {                                                                                                              \
    QX_VERSION_MS(a, b), QX_VERSION_LS(c, d), QX_VERSION_MS(a, b), QX_VERSION_LS(c, d), VS_FFI_FILEFLAGSMASK, 0, \
        VOS_NT_WINDOWS32, VFT_APP, VFT2_UNKNOWN, "040904E4", (strings), QX_COUNTOF(strings)                      \
  }

/* Defines name, the version resource of a program of the TCP/IP suite, and
 * name##Strings, its strings: FileVersion "a.b.c.d", ProductName
 * "QX TCP/IP suite" and FileDescription description. */
#define QX_SUITE_VERSION(name, a, b, c, d, description)                                    \
  const QX_VERSION_STRING name##Strings[] = {{"FileVersion", QX_VERSION_TEXT(a, b, c, d)}, \
                                             {"ProductName", "QX TCP/IP suite"},           \
                                             {"FileDescription", (description)}};          \
  const QX_VERSION name = QX_PROGRAM_VERSION(a, b, c, d, name##Strings)

/* Resource list entries. */
#define QX_RES_RAW(type, name, bytes) \
  { (type), (name), (bytes), (DWORD)sizeof(bytes) }
#define QX_RES_BITMAP(name, dib) \
  { RT_BITMAP, (name), (dib), (DWORD)sizeof(dib) }
#define QX_RES_ICON(name, ico) \
  { RT_ICON, (name), (ico), (DWORD)sizeof(ico) }
#define QX_RES_CURSOR(name, cur) \
  { RT_CURSOR, (name), (cur), (DWORD)sizeof(cur) }
#define QX_RES_DIALOG(name, dialog) \
  { RT_DIALOG, (name), &(dialog), (DWORD)sizeof(QX_DIALOG) }
#define QX_RES_MENU(name, menu) \
  { RT_MENU, (name), &(menu), (DWORD)sizeof(QX_MENU) }
#define QX_RES_ACCELERATORS(name, table) \
  { RT_ACCELERATOR, (name), &(table), (DWORD)sizeof(QX_ACCELERATORS) }
#define QX_RES_VERSION(version) \
  { RT_VERSION, MAKEINTRESOURCE(VS_VERSION_INFO), &(version), (DWORD)sizeof(QX_VERSION) }
#define QX_STRING(id, text) \
  { RT_STRING, MAKEINTRESOURCE(id), (text), (DWORD)(sizeof(text) - 1) }

QX_EXTERN_C_BEGIN
/* Registers (and at unload removes) the resource list of the module that
 * holds the address anchor. */
WINBASEAPI void WINAPI QxRegisterResources(const void *anchor, const QX_RESOURCE *resources, UINT count);
WINBASEAPI void WINAPI QxUnregisterResources(const void *anchor);
QX_EXTERN_C_END

#ifdef __cplusplus
/* Registers a module's resource list while the module loads; place it once in
 * one source file of the program or library. */
#define QX_REGISTER_RESOURCES(list)                                                  \
  namespace {                                                                        \
  struct QxResourceRegistration {                                                    \
    QxResourceRegistration() { QxRegisterResources(&list, list, QX_COUNTOF(list)); } \
    ~QxResourceRegistration() { QxUnregisterResources(&list); }                      \
  } qx_resource_registration;                                                        \
  }
#endif

#endif
