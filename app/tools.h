// The start-up screen, the main window with its tabs, the pages, the soft-key bars and the
// page model.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"
#include "platform/aygshell.h"

#include <vector>

struct VideoItem;
class VideoList;

#define WM_INIT_DONE 0x592

extern HWND g_hStupWnd, g_hMainWnd, g_hProgress;
extern HWND g_hListWnd, g_hDtlWnd, g_hHlpttWnd, g_hHlpinfWnd, g_hAboutWnd, g_hClassifyWnd, g_hSearchWnd,
    g_hRankWnd;
extern HWND g_hTabBtn[4];

// The list shown on the list page, and the one a wait dialog is loading (it becomes current
// only once its first page has loaded).
extern VideoList* g_curList;
extern VideoList* g_pendingList;
// The wait dialog while it is up, else 0; the list view window inside the list page.
extern HWND g_hWaitDlg;
extern HWND g_hListView;
// The video a tap or a hold chose (detail page, play) and the detail page's related videos.
extern VideoItem g_curVideo;
extern std::vector<VideoItem> g_relVideos;

extern HWND g_curPage, g_prevPage;
extern HWND g_returnPage;
extern int g_returnBar;
extern int g_curTab, g_prevTab;
extern int g_initDone;
extern int g_orientation;  // 1 portrait, 2 landscape, -1 before the first test
extern SHMENUBARINFO g_menuBar;
extern CStringW g_startupText;
extern int g_relLoading;
// The text boxes of the help text and About pages (fonts 5 and 6 of the layout pass).
extern HWND g_hHelpText, g_hAboutText;
// The main window's handle, handed to the init thread.
extern HWND g_hMainWndParam;
// The init thread's procedure; the main window starts it once it has its pages.
extern LPTHREAD_START_ROUTINE g_initThreadProc;

struct ButtonDef {
    int style;
    const wchar_t* caption;
    int id;
};
extern const ButtonDef g_tabButtons[4];

// Draws a picture at (x, y) in its own size, or stretched to w x h when w is positive.
void DrawPicture(HDC dc, HBITMAP picture, int x, int y, int w = 0, int h = 0);
// A memory bitmap to paint into; copied to `target` at (0, 0) in one blit when it goes.
struct BackBuffer {
    HDC window, dc;
    HBITMAP bmp;
    HGDIOBJ old;
    int w, h;
    BackBuffer(HDC target, int width, int height);
    ~BackBuffer();
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;
};
// Rectangle() filled and outlined in one colour.
void FillSolidRect(HDC dc, int left, int top, int right, int bottom, COLORREF colour);
// The inner pages' title bar across `width`, with the title in white bold.
void DrawPageTitle(HDC dc, int width, const wchar_t* title);

int MyCreateMenu(SHMENUBARINFO* bar, HWND* parent, int barId);
void DestroyMenuBar(SHMENUBARINFO* bar);
int MyChangeMenu(SHMENUBARINFO* bar, HWND* parent, int barId, int zero);
HWND SwitchPage(HWND page);
void SetOrientation();
int QueryDisplayOrientation();
void LogExeTime(const wchar_t* file, int line);

// The frame's children: the start-up screen and the main window.
int CreateControls(HWND frame);
// What a window's WM_CREATE returns when its CreateControls failed: logs "CreateControls
// failed" and gives -1, so the window is destroyed (its WM_DESTROY ends the program through
// the frame) and the CreateWindow of its maker fails in turn: no later step of the start runs.
LRESULT CreateControlsFailed();

LRESULT StupWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ListWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DtlWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT HlpttWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT HlpinfWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT AboutWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ClassifyWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SearchWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT RankWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ListViewWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The main window's layout pass on a new client size; returns 1 when it laid out.
int LayoutMainWindow(int width, int height);
// Parts of the pass for a page of W x P pixels in the current orientation.
struct Skin;
void LayoutHelpPages(Skin& skin, int W, int P);
void LayoutSearchPage(Skin& skin, int W, int P);

// Shows the detail page for g_curVideo (g_dtlOpenMode 1: opened from a list or the menu;
// 2: after a related video began to play). 0 or -1.
int ShowDtlInfo(HWND hwnd);
// Rectangle of related row `index` on the detail page; 0 when the row does not exist in
// the current layout, else 1 (with a point: 1 only when the point lies in the row).
int GetRelatedRowRect(int index, RECT* out, POINT* point);

#define HELP_TOPIC_COUNT 7
// Rectangle of help topic row `index` in the topic page.
void HelpTopicRect(int index, RECT* out);
// Number of layout passes that laid out (for tests).
extern int g_layoutCount;
