// burrowview's pictures and print jobs: a received GIF decoded once into
// memory and shown in the document list one band of lines a row, its
// palette kept realised through the palette messages, and the two print
// jobs (the picture across the page, a text document line by line).
#ifndef QX_GOPHER_CLIENT_PICTURES_H
#define QX_GOPHER_CLIENT_PICTURES_H

#include <string>

#include <windows.h>

// The height of a document row: a line of text, or a band of picture lines.
constexpr int kDocumentRowHeight = 16;

// The document list the picture is shown in (its palette is realised there).
void GifSetDocumentList(HWND list);

// Decodes the picture file into memory: 0 when it is loaded, -1 when it is
// not a GIF, holds no image, is damaged or too large (GifLastError says
// which). A picture already loaded is released first, keeping its file.
int GifLoadFile(const char *path);
const char *GifLastError();
bool GifLoaded();
// The loaded picture's file.
const std::string &GifPath();
void GifGetSize(int *width, int *height);
// The number of document rows the picture needs: its height in bands.
int GifBandCount();

// Draws one band (kDocumentRowHeight picture lines) with its top left at
// (x, y); nothing when no picture is loaded or the band is past its end.
void GifDrawRows(HWND dialog, HDC dc, int band, int x, int y);

// Frees the picture; its file is deleted unless keepFile is set.
void GifRelease(int keepFile);

// The palette messages of the main window: 1 when the message is handled
// (its result in *result).
int GifPaletteMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result);

// The picture stretched across the page of the default printer.
void GifPrint(HWND owner);
// The text document, each row of the list read from the document file
// "UseFile" and printed line by line, tabs expanded.
void PrintDocument(HWND dialog, int listId);

#endif
