/* Drawing (GDI32): device contexts, pens, brushes, fonts, bitmaps, DIBs,
 * palettes, regions, raster operations, and the painting calls of USER32 that
 * hand out device contexts (BeginPaint, GetDC, InvalidateRect, ScrollWindow),
 * the system colours, the caret, icons and cursors. Keyboard input is in
 * input.h. */
#ifndef QX_WIN_GDI_H
#define QX_WIN_GDI_H

#include "base.h"
#include "input.h"
#include "user.h"

/* Raster operations of BitBlt, StretchBlt and PatBlt (ternary: pattern,
 * source, destination; the high word's low byte is the truth table). */
#define SRCCOPY 0x00CC0020u
#define SRCPAINT 0x00EE0086u
#define SRCAND 0x008800C6u
#define SRCINVERT 0x00660046u
#define SRCERASE 0x00440328u
#define NOTSRCCOPY 0x00330008u
#define NOTSRCERASE 0x001100A6u
#define MERGECOPY 0x00C000CAu
#define MERGEPAINT 0x00BB0226u
#define PATCOPY 0x00F00021u
#define PATPAINT 0x00FB0A09u
#define PATINVERT 0x005A0049u
#define DSTINVERT 0x00550009u
#define BLACKNESS 0x00000042u
#define WHITENESS 0x00FF0062u

/* Binary raster operations of SetROP2 (pen and destination). */
#define R2_BLACK 1
#define R2_NOTMERGEPEN 2
#define R2_MASKNOTPEN 3
#define R2_NOTCOPYPEN 4
#define R2_MASKPENNOT 5
#define R2_NOT 6
#define R2_XORPEN 7
#define R2_NOTMASKPEN 8
#define R2_MASKPEN 9
#define R2_NOTXORPEN 10
#define R2_NOP 11
#define R2_MERGENOTPEN 12
#define R2_COPYPEN 13
#define R2_MERGEPENNOT 14
#define R2_MERGEPEN 15
#define R2_WHITE 16

/* Stock objects. */
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define OEM_FIXED_FONT 10
#define ANSI_FIXED_FONT 11
#define ANSI_VAR_FONT 12
#define SYSTEM_FONT 13
#define DEVICE_DEFAULT_FONT 14
#define DEFAULT_PALETTE 15
#define SYSTEM_FIXED_FONT 16
#define DEFAULT_GUI_FONT 17

/* Object types of GetObjectType. */
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_PAL 5
#define OBJ_FONT 6
#define OBJ_BITMAP 7
#define OBJ_REGION 8
#define OBJ_MEMDC 10

/* Pens and brushes. */
#define PS_SOLID 0
#define PS_DASH 1
#define PS_DOT 2
#define PS_DASHDOT 3
#define PS_DASHDOTDOT 4
#define PS_NULL 5
#define PS_INSIDEFRAME 6
#define BS_SOLID 0
#define BS_NULL 1
#define BS_HOLLOW BS_NULL
#define BS_HATCHED 2
#define BS_PATTERN 3
#define HS_HORIZONTAL 0
#define HS_VERTICAL 1
#define HS_FDIAGONAL 2
#define HS_BDIAGONAL 3
#define HS_CROSS 4
#define HS_DIAGCROSS 5

/* Background modes, text alignment, ExtTextOut options. */
#define TRANSPARENT 1
#define OPAQUE 2
#define TA_NOUPDATECP 0
#define TA_UPDATECP 1
#define TA_LEFT 0
#define TA_RIGHT 2
#define TA_CENTER 6
#define TA_TOP 0
#define TA_BOTTOM 8
#define TA_BASELINE 24
#define ETO_OPAQUE 0x0002
#define ETO_CLIPPED 0x0004
#define GDI_ERROR 0xFFFFFFFFu
#define CLR_INVALID 0xFFFFFFFFu
#define HGDI_ERROR ((HANDLE)(LONG_PTR)-1)

/* Mapping modes. */
#define MM_TEXT 1
#define MM_LOMETRIC 2
#define MM_HIMETRIC 3
#define MM_LOENGLISH 4
#define MM_HIENGLISH 5
#define MM_TWIPS 6
#define MM_ISOTROPIC 7
#define MM_ANISOTROPIC 8

/* Regions. */
#define ERROR 0
#define NULLREGION 1
#define SIMPLEREGION 2
#define COMPLEXREGION 3
#define RGN_AND 1
#define RGN_OR 2
#define RGN_XOR 3
#define RGN_DIFF 4
#define RGN_COPY 5

/* Stretching modes. */
#define BLACKONWHITE 1
#define WHITEONBLACK 2
#define COLORONCOLOR 3
#define HALFTONE 4
#define STRETCH_ANDSCANS BLACKONWHITE
#define STRETCH_ORSCANS WHITEONBLACK
#define STRETCH_DELETESCANS COLORONCOLOR

/* Fonts. */
#define LF_FACESIZE 32
#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_REGULAR 400
#define FW_MEDIUM 500
#define FW_SEMIBOLD 600
#define FW_BOLD 700
#define FW_HEAVY 900
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define SYMBOL_CHARSET 2
#define OEM_CHARSET 255
#define OUT_DEFAULT_PRECIS 0
#define OUT_STRING_PRECIS 1
#define OUT_CHARACTER_PRECIS 2
#define OUT_STROKE_PRECIS 3
#define OUT_TT_PRECIS 4
#define OUT_DEVICE_PRECIS 5
#define OUT_RASTER_PRECIS 6
#define OUT_TT_ONLY_PRECIS 7
#define CLIP_DEFAULT_PRECIS 0
#define CLIP_CHARACTER_PRECIS 1
#define CLIP_STROKE_PRECIS 2
#define DEFAULT_QUALITY 0
#define DRAFT_QUALITY 1
#define PROOF_QUALITY 2
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2
#define FF_DONTCARE 0x00
#define FF_ROMAN 0x10
#define FF_SWISS 0x20
#define FF_MODERN 0x30
#define FF_SCRIPT 0x40
#define FF_DECORATIVE 0x50
/* tmPitchAndFamily bits: TMPF_FIXED_PITCH set means the font is NOT fixed pitch. */
#define TMPF_FIXED_PITCH 0x01
#define TMPF_VECTOR 0x02
#define TMPF_TRUETYPE 0x04
#define TMPF_DEVICE 0x08

/* DrawText. */
#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_EXPANDTABS 0x00000040
#define DT_TABSTOP 0x00000080
#define DT_NOCLIP 0x00000100
#define DT_EXTERNALLEADING 0x00000200
#define DT_CALCRECT 0x00000400
#define DT_NOPREFIX 0x00000800
#define DT_INTERNAL 0x00001000
#define DT_EDITCONTROL 0x00002000
#define DT_PATH_ELLIPSIS 0x00004000
#define DT_END_ELLIPSIS 0x00008000

/* Bitmaps and DIBs. */
#define BI_RGB 0
#define BI_RLE8 1
#define BI_RLE4 2
#define BI_BITFIELDS 3
#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1
#define CBM_INIT 0x04

/* GetDeviceCaps. */
#define DRIVERVERSION 0
#define TECHNOLOGY 2
#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMBRUSHES 16
#define NUMPENS 18
#define NUMFONTS 22
#define NUMCOLORS 24
#define ASPECTX 40
#define ASPECTY 42
#define ASPECTXY 44
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define SIZEPALETTE 104
#define NUMRESERVED 106
#define COLORRES 108
#define RASTERCAPS 38
#define DT_RASDISPLAY 1
#define RC_BITBLT 0x0001
#define RC_PALETTE 0x0100
#define RC_DIBTODEV 0x0200
#define RC_STRETCHBLT 0x0800
#define RC_STRETCHDIB 0x2000

/* Palettes. */
#define PC_RESERVED 0x01
#define PC_EXPLICIT 0x02
#define PC_NOCOLLAPSE 0x04
#define PALETTEINDEX(i) ((COLORREF)(0x01000000 | (DWORD)(WORD)(i)))
#define PALETTERGB(r, g, b) (0x02000000 | RGB(r, g, b))

/* System colours. */
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_DESKTOP 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_3DFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_3DSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DHILIGHT 20
#define COLOR_3DHIGHLIGHT 20
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22
#define COLOR_INFOTEXT 23
#define COLOR_INFOBK 24

typedef struct tagLOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA, *PLOGFONTA, *LPLOGFONTA, LOGFONT, *PLOGFONT, *LPLOGFONT;

typedef struct tagTEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
} TEXTMETRICA, *PTEXTMETRICA, *LPTEXTMETRICA, TEXTMETRIC, *PTEXTMETRIC, *LPTEXTMETRIC;

typedef struct tagLOGPEN {
  UINT lopnStyle;
  POINT lopnWidth;
  COLORREF lopnColor;
} LOGPEN, *PLOGPEN, *LPLOGPEN;

typedef struct tagLOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  ULONG_PTR lbHatch;
} LOGBRUSH, *PLOGBRUSH, *LPLOGBRUSH;

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

typedef struct tagRGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD, *LPRGBQUAD;

typedef struct tagRGBTRIPLE {
  BYTE rgbtBlue;
  BYTE rgbtGreen;
  BYTE rgbtRed;
} RGBTRIPLE;

#pragma pack(push, 2)
typedef struct tagBITMAPFILEHEADER {
  WORD bfType;
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
} BITMAPFILEHEADER, *PBITMAPFILEHEADER, *LPBITMAPFILEHEADER;
#pragma pack(pop)

typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER, *PBITMAPINFOHEADER, *LPBITMAPINFOHEADER;

typedef struct tagBITMAPCOREHEADER {
  DWORD bcSize;
  WORD bcWidth;
  WORD bcHeight;
  WORD bcPlanes;
  WORD bcBitCount;
} BITMAPCOREHEADER, *PBITMAPCOREHEADER, *LPBITMAPCOREHEADER;

typedef struct tagBITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO, *PBITMAPINFO, *LPBITMAPINFO;

typedef struct tagDIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3];
  HANDLE dshSection;
  DWORD dsOffset;
} DIBSECTION, *PDIBSECTION, *LPDIBSECTION;

typedef struct tagPALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
} PALETTEENTRY, *PPALETTEENTRY, *LPPALETTEENTRY;

typedef struct tagLOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
} LOGPALETTE, *PLOGPALETTE, *LPLOGPALETTE;

typedef struct tagICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
} ICONINFO, *PICONINFO;

QX_EXTERN_C_BEGIN

/* Device contexts. */
WINBASEAPI HDC WINAPI CreateCompatibleDC(HDC hdc);
WINBASEAPI HDC WINAPI CreateDCA(LPCSTR lpszDriver, LPCSTR lpszDevice, LPCSTR lpszOutput, const void *lpInitData);
WINBASEAPI BOOL WINAPI DeleteDC(HDC hdc);
WINBASEAPI int WINAPI SaveDC(HDC hdc);
WINBASEAPI BOOL WINAPI RestoreDC(HDC hdc, int nSavedDC);
WINBASEAPI int WINAPI GetDeviceCaps(HDC hdc, int index);
WINBASEAPI HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
WINBASEAPI BOOL WINAPI DeleteObject(HGDIOBJ ho);
WINBASEAPI HGDIOBJ WINAPI GetStockObject(int i);
WINBASEAPI int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv);
WINBASEAPI DWORD WINAPI GetObjectType(HGDIOBJ h);
WINBASEAPI HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type);
WINBASEAPI BOOL WINAPI GdiFlush(void);

/* Attributes. */
WINBASEAPI COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color);
WINBASEAPI COLORREF WINAPI GetTextColor(HDC hdc);
WINBASEAPI COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
WINBASEAPI COLORREF WINAPI GetBkColor(HDC hdc);
WINBASEAPI int WINAPI SetBkMode(HDC hdc, int mode);
WINBASEAPI int WINAPI GetBkMode(HDC hdc);
WINBASEAPI int WINAPI SetROP2(HDC hdc, int rop2);
WINBASEAPI int WINAPI GetROP2(HDC hdc);
WINBASEAPI UINT WINAPI SetTextAlign(HDC hdc, UINT align);
WINBASEAPI UINT WINAPI GetTextAlign(HDC hdc);
WINBASEAPI int WINAPI SetStretchBltMode(HDC hdc, int mode);
WINBASEAPI int WINAPI GetStretchBltMode(HDC hdc);
WINBASEAPI BOOL WINAPI SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
WINBASEAPI int WINAPI SetTextCharacterExtra(HDC hdc, int extra);

/* Coordinates. */
WINBASEAPI int WINAPI SetMapMode(HDC hdc, int mode);
WINBASEAPI int WINAPI GetMapMode(HDC hdc);
WINBASEAPI BOOL WINAPI SetWindowExtEx(HDC hdc, int x, int y, LPSIZE lpsz);
WINBASEAPI BOOL WINAPI SetViewportExtEx(HDC hdc, int x, int y, LPSIZE lpsz);
WINBASEAPI BOOL WINAPI SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
WINBASEAPI BOOL WINAPI SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
WINBASEAPI BOOL WINAPI GetWindowExtEx(HDC hdc, LPSIZE lpsize);
WINBASEAPI BOOL WINAPI GetViewportExtEx(HDC hdc, LPSIZE lpsize);
WINBASEAPI BOOL WINAPI GetWindowOrgEx(HDC hdc, LPPOINT lppoint);
WINBASEAPI BOOL WINAPI GetViewportOrgEx(HDC hdc, LPPOINT lppoint);
WINBASEAPI BOOL WINAPI OffsetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
WINBASEAPI BOOL WINAPI OffsetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
WINBASEAPI BOOL WINAPI LPtoDP(HDC hdc, LPPOINT lppt, int c);
WINBASEAPI BOOL WINAPI DPtoLP(HDC hdc, LPPOINT lppt, int c);

/* Pens, brushes, shapes. */
WINBASEAPI HPEN WINAPI CreatePen(int iStyle, int cWidth, COLORREF color);
WINBASEAPI HPEN WINAPI CreatePenIndirect(const LOGPEN *plpen);
WINBASEAPI HBRUSH WINAPI CreateSolidBrush(COLORREF color);
WINBASEAPI HBRUSH WINAPI CreateHatchBrush(int iHatch, COLORREF color);
WINBASEAPI HBRUSH WINAPI CreatePatternBrush(HBITMAP hbm);
WINBASEAPI HBRUSH WINAPI CreateBrushIndirect(const LOGBRUSH *plbrush);
WINBASEAPI BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt);
WINBASEAPI BOOL WINAPI LineTo(HDC hdc, int x, int y);
WINBASEAPI BOOL WINAPI GetCurrentPositionEx(HDC hdc, LPPOINT lppt);
WINBASEAPI BOOL WINAPI Polyline(HDC hdc, const POINT *apt, int cpt);
WINBASEAPI BOOL WINAPI Polygon(HDC hdc, const POINT *apt, int cpt);
WINBASEAPI BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom);
WINBASEAPI BOOL WINAPI RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height);
WINBASEAPI BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom);
WINBASEAPI BOOL WINAPI Pie(HDC hdc, int left, int top, int right, int bottom, int xr1, int yr1, int xr2, int yr2);
WINBASEAPI COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color);
WINBASEAPI COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
WINBASEAPI int WINAPI FillRect(HDC hDC, const RECT *lprc, HBRUSH hbr);
WINBASEAPI int WINAPI FrameRect(HDC hDC, const RECT *lprc, HBRUSH hbr);
WINBASEAPI BOOL WINAPI InvertRect(HDC hDC, const RECT *lprc);
WINBASEAPI BOOL WINAPI DrawFocusRect(HDC hDC, const RECT *lprc);
WINBASEAPI BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);
WINBASEAPI BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
WINBASEAPI BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                                  int ySrc, int wSrc, int hSrc, DWORD rop);

/* Text. */
WINBASEAPI HFONT WINAPI CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight,
                                    DWORD bItalic, DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet,
                                    DWORD iOutPrecision, DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily,
                                    LPCSTR pszFaceName);
WINBASEAPI HFONT WINAPI CreateFontIndirectA(const LOGFONTA *lplf);
WINBASEAPI BOOL WINAPI GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm);
WINBASEAPI int WINAPI GetTextFaceA(HDC hdc, int c, LPSTR lpName);
WINBASEAPI BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl);
WINBASEAPI BOOL WINAPI GetTextExtentPointA(HDC hdc, LPCSTR lpString, int c, LPSIZE lpsz);
WINBASEAPI BOOL WINAPI GetCharWidthA(HDC hdc, UINT iFirst, UINT iLast, LPINT lpBuffer);
WINBASEAPI DWORD WINAPI GetTabbedTextExtentA(HDC hdc, LPCSTR lpString, int chCount, int nTabPositions,
                                             const INT *lpnTabStopPositions);
WINBASEAPI BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c);
WINBASEAPI BOOL WINAPI ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT *lprect, LPCSTR lpString, UINT c,
                                   const INT *lpDx);
WINBASEAPI LONG WINAPI TabbedTextOutA(HDC hdc, int x, int y, LPCSTR lpString, int chCount, int nTabPositions,
                                      const INT *lpnTabStopPositions, int nTabOrigin);
WINBASEAPI int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format);
WINBASEAPI int WINAPI AddFontResourceA(LPCSTR lpFileName);
WINBASEAPI BOOL WINAPI RemoveFontResourceA(LPCSTR lpFileName);

/* Bitmaps, DIBs, palettes. */
WINBASEAPI HBITMAP WINAPI CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void *lpBits);
WINBASEAPI HBITMAP WINAPI CreateBitmapIndirect(const BITMAP *pbm);
WINBASEAPI HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
WINBASEAPI HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO *pbmi, UINT usage, void **ppvBits, HANDLE hSection,
                                           DWORD offset);
WINBASEAPI HBITMAP WINAPI CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER *pbmih, DWORD flInit, const void *pjBits,
                                         const BITMAPINFO *pbmi, UINT iUsage);
WINBASEAPI int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                                        UINT StartScan, UINT cLines, const void *lpvBits, const BITMAPINFO *lpbmi,
                                        UINT ColorUse);
WINBASEAPI int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc,
                                    int SrcWidth, int SrcHeight, const void *lpBits, const BITMAPINFO *lpbmi,
                                    UINT iUsage, DWORD rop);
WINBASEAPI int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi,
                                UINT usage);
WINBASEAPI int WINAPI SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, const void *lpBits,
                                const BITMAPINFO *lpbmi, UINT ColorUse);
WINBASEAPI LONG WINAPI GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits);
WINBASEAPI LONG WINAPI SetBitmapBits(HBITMAP hbm, DWORD cb, const void *pvBits);
WINBASEAPI HPALETTE WINAPI CreatePalette(const LOGPALETTE *plpal);
WINBASEAPI HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd);
WINBASEAPI UINT WINAPI RealizePalette(HDC hdc);
WINBASEAPI BOOL WINAPI UpdateColors(HDC hdc);
WINBASEAPI UINT WINAPI GetNearestPaletteIndex(HPALETTE h, COLORREF color);
WINBASEAPI UINT WINAPI GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries);
WINBASEAPI UINT WINAPI SetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, const PALETTEENTRY *pPalEntries);
WINBASEAPI COLORREF WINAPI GetNearestColor(HDC hdc, COLORREF color);
WINBASEAPI UINT WINAPI GetSystemPaletteEntries(HDC hdc, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries);

/* Regions and clipping. */
WINBASEAPI HRGN WINAPI CreateRectRgn(int x1, int y1, int x2, int y2);
WINBASEAPI HRGN WINAPI CreateRectRgnIndirect(const RECT *lprect);
WINBASEAPI HRGN WINAPI CreateEllipticRgn(int x1, int y1, int x2, int y2);
WINBASEAPI BOOL WINAPI SetRectRgn(HRGN hrgn, int left, int top, int right, int bottom);
WINBASEAPI int WINAPI CombineRgn(HRGN hrgnDst, HRGN hrgnSrc1, HRGN hrgnSrc2, int iMode);
WINBASEAPI BOOL WINAPI EqualRgn(HRGN hrgn1, HRGN hrgn2);
WINBASEAPI int WINAPI OffsetRgn(HRGN hrgn, int x, int y);
WINBASEAPI int WINAPI GetRgnBox(HRGN hrgn, LPRECT lprc);
WINBASEAPI BOOL WINAPI PtInRegion(HRGN hrgn, int x, int y);
WINBASEAPI BOOL WINAPI RectInRegion(HRGN hrgn, const RECT *lprect);
WINBASEAPI BOOL WINAPI FillRgn(HDC hdc, HRGN hrgn, HBRUSH hbr);
WINBASEAPI BOOL WINAPI PaintRgn(HDC hdc, HRGN hrgn);
WINBASEAPI int WINAPI SelectClipRgn(HDC hdc, HRGN hrgn);
WINBASEAPI int WINAPI IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
WINBASEAPI int WINAPI ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom);
WINBASEAPI int WINAPI GetClipBox(HDC hdc, LPRECT lprect);
WINBASEAPI int WINAPI GetClipRgn(HDC hdc, HRGN hrgn);
WINBASEAPI BOOL WINAPI PtVisible(HDC hdc, int x, int y);
WINBASEAPI BOOL WINAPI RectVisible(HDC hdc, const RECT *lprect);
WINBASEAPI BOOL WINAPI ScrollDC(HDC hDC, int dx, int dy, const RECT *lprcScroll, const RECT *lprcClip, HRGN hrgnUpdate,
                                LPRECT lprcUpdate);

/* System colours. */
WINBASEAPI DWORD WINAPI GetSysColor(int nIndex);
WINBASEAPI HBRUSH WINAPI GetSysColorBrush(int nIndex);
WINBASEAPI BOOL WINAPI SetSysColors(int cElements, const INT *lpaElements, const COLORREF *lpaRgbValues);

QX_EXTERN_C_END

#define CreateDC CreateDCA
#define GetObject GetObjectA
#define CreateFont CreateFontA
#define CreateFontIndirect CreateFontIndirectA
#define GetTextMetrics GetTextMetricsA
#define GetTextFace GetTextFaceA
#define GetTextExtentPoint32 GetTextExtentPoint32A
#define GetTextExtentPoint GetTextExtentPointA
#define GetCharWidth GetCharWidthA
#define GetTabbedTextExtent GetTabbedTextExtentA
#define TextOut TextOutA
#define ExtTextOut ExtTextOutA
#define TabbedTextOut TabbedTextOutA
#define DrawText DrawTextA
#define AddFontResource AddFontResourceA
#define RemoveFontResource RemoveFontResourceA

/* ---- Painting windows, the caret, scroll bars, icons and cursors (USER32) ---- */

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *PPAINTSTRUCT, *LPPAINTSTRUCT;

typedef struct tagSCROLLINFO {
  UINT cbSize;
  UINT fMask;
  int nMin;
  int nMax;
  UINT nPage;
  int nPos;
  int nTrackPos;
} SCROLLINFO, *LPSCROLLINFO;
typedef const SCROLLINFO *LPCSCROLLINFO;

/* Scroll bars. */
#define SB_HORZ 0
#define SB_VERT 1
#define SB_CTL 2
#define SB_BOTH 3
#define SB_LINEUP 0
#define SB_LINELEFT 0
#define SB_LINEDOWN 1
#define SB_LINERIGHT 1
#define SB_PAGEUP 2
#define SB_PAGELEFT 2
#define SB_PAGEDOWN 3
#define SB_PAGERIGHT 3
#define SB_THUMBPOSITION 4
#define SB_THUMBTRACK 5
#define SB_TOP 6
#define SB_LEFT 6
#define SB_BOTTOM 7
#define SB_RIGHT 7
#define SB_ENDSCROLL 8
#define SIF_RANGE 0x0001
#define SIF_PAGE 0x0002
#define SIF_POS 0x0004
#define SIF_DISABLENOSCROLL 0x0008
#define SIF_TRACKPOS 0x0010
#define SIF_ALL (SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS)
#define ESB_ENABLE_BOTH 0x0000
#define ESB_DISABLE_BOTH 0x0003

/* ScrollWindowEx. */
#define SW_SCROLLCHILDREN 0x0001
#define SW_INVALIDATE 0x0002
#define SW_ERASE 0x0004

/* RedrawWindow. */
#define RDW_INVALIDATE 0x0001
#define RDW_INTERNALPAINT 0x0002
#define RDW_ERASE 0x0004
#define RDW_VALIDATE 0x0008
#define RDW_NOINTERNALPAINT 0x0010
#define RDW_NOERASE 0x0020
#define RDW_NOCHILDREN 0x0040
#define RDW_ALLCHILDREN 0x0080
#define RDW_UPDATENOW 0x0100
#define RDW_ERASENOW 0x0200
#define RDW_FRAME 0x0400
#define RDW_NOFRAME 0x0800

/* Hit-test codes of WM_NCHITTEST and WM_SETCURSOR. */
#define HTERROR (-2)
#define HTTRANSPARENT (-1)
#define HTNOWHERE 0
#define HTCLIENT 1
#define HTCAPTION 2
#define HTSYSMENU 3
#define HTGROWBOX 4
#define HTSIZE HTGROWBOX
#define HTMENU 5
#define HTHSCROLL 6
#define HTVSCROLL 7
#define HTMINBUTTON 8
#define HTMAXBUTTON 9
#define HTLEFT 10
#define HTRIGHT 11
#define HTTOP 12
#define HTTOPLEFT 13
#define HTTOPRIGHT 14
#define HTBOTTOM 15
#define HTBOTTOMLEFT 16
#define HTBOTTOMRIGHT 17
#define HTBORDER 18
#define HTREDUCE HTMINBUTTON
#define HTZOOM HTMAXBUTTON
#define HTCLOSE 20

/* GetSystemMetrics. */
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXVSCROLL 2
#define SM_CYHSCROLL 3
#define SM_CYCAPTION 4
#define SM_CXBORDER 5
#define SM_CYBORDER 6
#define SM_CXDLGFRAME 7
#define SM_CYDLGFRAME 8
#define SM_CYVTHUMB 9
#define SM_CXHTHUMB 10
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXCURSOR 13
#define SM_CYCURSOR 14
#define SM_CYMENU 15
#define SM_CXFULLSCREEN 16
#define SM_CYFULLSCREEN 17
#define SM_CYKANJIWINDOW 18
#define SM_MOUSEPRESENT 19
#define SM_CYVSCROLL 20
#define SM_CXHSCROLL 21
#define SM_DEBUG 22
#define SM_SWAPBUTTON 23
#define SM_CXMIN 28
#define SM_CYMIN 29
#define SM_CXSIZE 30
#define SM_CYSIZE 31
#define SM_CXFRAME 32
#define SM_CYFRAME 33
#define SM_CXMINTRACK 34
#define SM_CYMINTRACK 35
#define SM_CXDOUBLECLK 36
#define SM_CYDOUBLECLK 37
#define SM_CXICONSPACING 38
#define SM_CYICONSPACING 39
#define SM_MENUDROPALIGNMENT 40
#define SM_CMOUSEBUTTONS 43
#define SM_CXFIXEDFRAME SM_CXDLGFRAME
#define SM_CYFIXEDFRAME SM_CYDLGFRAME
#define SM_CXSIZEFRAME SM_CXFRAME
#define SM_CYSIZEFRAME SM_CYFRAME
#define SM_CXEDGE 45
#define SM_CYEDGE 46
#define SM_CXSMICON 49
#define SM_CYSMICON 50
#define SM_CYSMCAPTION 51
#define SM_CXMAXIMIZED 61
#define SM_CYMAXIMIZED 62
#define SM_NETWORK 63
#define SM_CLEANBOOT 67
#define SM_CXDRAG 68
#define SM_CYDRAG 69
#define SM_SHOWSOUNDS 70
#define SM_CXMENUCHECK 71
#define SM_CYMENUCHECK 72
#define SM_CXVIRTUALSCREEN 78
#define SM_CYVIRTUALSCREEN 79

/* DrawEdge. */
#define BDR_RAISEDOUTER 0x0001
#define BDR_SUNKENOUTER 0x0002
#define BDR_RAISEDINNER 0x0004
#define BDR_SUNKENINNER 0x0008
#define EDGE_RAISED (BDR_RAISEDOUTER | BDR_RAISEDINNER)
#define EDGE_SUNKEN (BDR_SUNKENOUTER | BDR_SUNKENINNER)
#define EDGE_ETCHED (BDR_SUNKENOUTER | BDR_RAISEDINNER)
#define EDGE_BUMP (BDR_RAISEDOUTER | BDR_SUNKENINNER)
#define BF_LEFT 0x0001
#define BF_TOP 0x0002
#define BF_RIGHT 0x0004
#define BF_BOTTOM 0x0008
#define BF_RECT (BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM)
#define BF_MIDDLE 0x0800
#define BF_ADJUST 0x2000

/* Stock icons and cursors. */
#define IDI_APPLICATION MAKEINTRESOURCE(32512)
#define IDI_HAND MAKEINTRESOURCE(32513)
#define IDI_QUESTION MAKEINTRESOURCE(32514)
#define IDI_EXCLAMATION MAKEINTRESOURCE(32515)
#define IDI_ASTERISK MAKEINTRESOURCE(32516)
#define IDI_WINLOGO MAKEINTRESOURCE(32517)
#define IDI_WARNING IDI_EXCLAMATION
#define IDI_ERROR IDI_HAND
#define IDI_INFORMATION IDI_ASTERISK
#define IDC_ARROW MAKEINTRESOURCE(32512)
#define IDC_IBEAM MAKEINTRESOURCE(32513)
#define IDC_WAIT MAKEINTRESOURCE(32514)
#define IDC_CROSS MAKEINTRESOURCE(32515)
#define IDC_UPARROW MAKEINTRESOURCE(32516)
#define IDC_SIZE MAKEINTRESOURCE(32640)
#define IDC_ICON MAKEINTRESOURCE(32641)
#define IDC_SIZENWSE MAKEINTRESOURCE(32642)
#define IDC_SIZENESW MAKEINTRESOURCE(32643)
#define IDC_SIZEWE MAKEINTRESOURCE(32644)
#define IDC_SIZENS MAKEINTRESOURCE(32645)
#define IDC_SIZEALL MAKEINTRESOURCE(32646)
#define IDC_NO MAKEINTRESOURCE(32648)
#define IDC_APPSTARTING MAKEINTRESOURCE(32650)
#define IDC_HELP MAKEINTRESOURCE(32651)

QX_EXTERN_C_BEGIN
WINBASEAPI HDC WINAPI GetDC(HWND hWnd);
WINBASEAPI HDC WINAPI GetWindowDC(HWND hWnd);
WINBASEAPI HDC WINAPI GetDCEx(HWND hWnd, HRGN hrgnClip, DWORD flags);
WINBASEAPI int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
WINBASEAPI HWND WINAPI WindowFromDC(HDC hDC);
WINBASEAPI HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint);
WINBASEAPI BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT *lpPaint);
WINBASEAPI BOOL WINAPI InvalidateRgn(HWND hWnd, HRGN hRgn, BOOL bErase);
WINBASEAPI BOOL WINAPI ValidateRgn(HWND hWnd, HRGN hRgn);
WINBASEAPI int WINAPI GetUpdateRgn(HWND hWnd, HRGN hRgn, BOOL bErase);
WINBASEAPI BOOL WINAPI RedrawWindow(HWND hWnd, const RECT *lprcUpdate, HRGN hrgnUpdate, UINT flags);
WINBASEAPI BOOL WINAPI ScrollWindow(HWND hWnd, int XAmount, int YAmount, const RECT *lpRect, const RECT *lpClipRect);
WINBASEAPI int WINAPI ScrollWindowEx(HWND hWnd, int dx, int dy, const RECT *prcScroll, const RECT *prcClip,
                                     HRGN hrgnUpdate, LPRECT prcUpdate, UINT flags);
WINBASEAPI HWND WINAPI WindowFromPoint(POINT Point);
WINBASEAPI HWND WINAPI ChildWindowFromPoint(HWND hWndParent, POINT Point);
WINBASEAPI int WINAPI GetSystemMetrics(int nIndex);
WINBASEAPI BOOL WINAPI FlashWindow(HWND hWnd, BOOL bInvert);
WINBASEAPI BOOL WINAPI DrawEdge(HDC hdc, LPRECT qrc, UINT edge, UINT grfFlags);
WINBASEAPI BOOL WINAPI AdjustWindowRect(LPRECT lpRect, DWORD dwStyle, BOOL bMenu);
WINBASEAPI BOOL WINAPI AdjustWindowRectEx(LPRECT lpRect, DWORD dwStyle, BOOL bMenu, DWORD dwExStyle);
WINBASEAPI UINT WINAPI GetDoubleClickTime(void);
WINBASEAPI BOOL WINAPI GetCursorPos(LPPOINT lpPoint);
WINBASEAPI BOOL WINAPI SetCursorPos(int X, int Y);
WINBASEAPI int WINAPI ShowCursor(BOOL bShow);
WINBASEAPI void WINAPI mouse_event(DWORD dwFlags, DWORD dx, DWORD dy, DWORD dwData, ULONG_PTR dwExtraInfo);

/* The caret. */
WINBASEAPI BOOL WINAPI CreateCaret(HWND hWnd, HBITMAP hBitmap, int nWidth, int nHeight);
WINBASEAPI BOOL WINAPI DestroyCaret(void);
WINBASEAPI BOOL WINAPI ShowCaret(HWND hWnd);
WINBASEAPI BOOL WINAPI HideCaret(HWND hWnd);
WINBASEAPI BOOL WINAPI SetCaretPos(int X, int Y);
WINBASEAPI BOOL WINAPI GetCaretPos(LPPOINT lpPoint);
WINBASEAPI UINT WINAPI GetCaretBlinkTime(void);
WINBASEAPI BOOL WINAPI SetCaretBlinkTime(UINT uMSeconds);

/* Window scroll bars. */
WINBASEAPI int WINAPI SetScrollPos(HWND hWnd, int nBar, int nPos, BOOL bRedraw);
WINBASEAPI int WINAPI GetScrollPos(HWND hWnd, int nBar);
WINBASEAPI BOOL WINAPI SetScrollRange(HWND hWnd, int nBar, int nMinPos, int nMaxPos, BOOL bRedraw);
WINBASEAPI BOOL WINAPI GetScrollRange(HWND hWnd, int nBar, LPINT lpMinPos, LPINT lpMaxPos);
WINBASEAPI int WINAPI SetScrollInfo(HWND hwnd, int nBar, LPCSCROLLINFO lpsi, BOOL redraw);
WINBASEAPI BOOL WINAPI GetScrollInfo(HWND hwnd, int nBar, LPSCROLLINFO lpsi);
WINBASEAPI BOOL WINAPI ShowScrollBar(HWND hWnd, int wBar, BOOL bShow);
WINBASEAPI BOOL WINAPI EnableScrollBar(HWND hWnd, UINT wSBflags, UINT wArrows);

/* Icons, cursors and bitmaps from resources. */
WINBASEAPI HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
WINBASEAPI HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
WINBASEAPI HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName);
WINBASEAPI BOOL WINAPI DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
WINBASEAPI BOOL WINAPI DestroyIcon(HICON hIcon);
WINBASEAPI BOOL WINAPI DestroyCursor(HCURSOR hCursor);
WINBASEAPI HCURSOR WINAPI SetCursor(HCURSOR hCursor);
WINBASEAPI HCURSOR WINAPI GetCursor(void);
WINBASEAPI BOOL WINAPI GetIconInfo(HICON hIcon, PICONINFO piconinfo);
QX_EXTERN_C_END

#define LoadIcon LoadIconA
#define LoadCursor LoadCursorA
#define LoadBitmap LoadBitmapA

#endif
