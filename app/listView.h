// The list view window inside the list page, its row painters, the thumbnail painter the
// detail page shares, and the status line of the start-up screen.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"
#include "platform/aygshell.h"
#include "platform/gdi.h"

class Scroller;
class VideoList;

// Colours of the rows.
#define LIST_SEPARATOR_COLOUR RGB(102, 186, 246)
#define LIST_PRESSED_COLOUR RGB(163, 213, 250)
#define LIST_FRAME_COLOUR RGB(0, 140, 240)

// The start-up window takes a new status line on its own thread: lParam is a CStringW*.
#define WM_STARTUP_TEXT (WM_APP + 0x113)

extern HMENU g_listViewPopup;
extern SHACTIVATEINFO g_listViewActivate;
extern int g_listViewWidth, g_listViewHeight;
extern int g_listAtStart, g_listAtEnd;
extern int g_lastPaintOrientation;

// One paint of the list view window: the current list through `scroller`, the window's
// w x h, copied in one blit to (x, y) of dc.
void PaintListViewWindow(HDC dc, int x, int y, int w, int h, Scroller* scroller, int orientation);
// Paints the visible rows of `list` (or the empty-list text) into hdc at (0, 0). Returns 0.
int PaintListView(HDC hdc, Scroller* scroller, VideoList* list, int orientation, const wchar_t* emptyText);
// Paints row `index` of the current list in the pressed look straight onto the window.
void PaintPressedRow(HWND hwnd, RECT* cell, int index, int orientation);
// Frame, the picture scaled to fill (x, y, w, h) with its excess cut, and on ranking lists
// the rank badge; index -1 draws no badge.
void PaintThumbnail(HDC hdc, int penWidth, COLORREF frameColour, HBITMAP picture, int frameX, int frameY, int frameW,
                    int frameH, int x, int y, int w, int h, int index);
// The thumbnail of row `index` of the current list at its place for the orientation.
void RepaintThumbnail(HDC hdc, int index, int orientation);
// The status line of the start-up screen; from any thread.
void SetStartupText(const CStringW& text);
