// The wait dialog and the list loaders, and the init thread that loads the home list.
//
// Every list opened after start-up loads behind a modal wait dialog: SwitchChannel picks
// the list and the prompt, ShowDlgBox runs the dialog, whose worker thread loads the first
// page (FirstPageThread) or the next page (NextPageThread) and closes it; then the
// thumbnails of the visible rows are started and the list is repainted.
//
// Who may change the lists and the scrollers (so that the thumbnail threads, the dialog's
// worker and the painting never race):
// - The lists' item vectors, g_curList and both scrollers' geometry change only on the
//   user-interface thread, inside LockLists()/UnlockLists(). The one exception is the init
//   thread, which lays out the home list the same way before message 0x592, while the list
//   page is not shown yet and no thumbnail thread runs.
// - The dialog's worker never touches a list that is shown: it loads into a copy of its
//   own, which the user-interface thread takes over when the dialog closes (a first page
//   only when it loaded; the list shown before stays otherwise).
// - Code on the user-interface thread (painting, the list view's pen and timer handling,
//   LoadPicture called from there) reads the lists and scrollers without the lock.
// - Any other thread (the thumbnail threads' repaint test) reads g_curList, its items or a
//   scroller only inside LockLists()/UnlockLists(), and never holds the lock across a
//   download, a SendMessage, UpdateWindow or a wait: the user-interface thread takes it.
// - Before 0x592 (g_initDone 0) SwitchChannel and ShowDlgBox do nothing: the home list is
//   still being loaded by the init thread.
#pragma once

#include "platform/windows.h"
#include "platform/winuser.h"

struct Skin;
class VideoList;

#define WAIT_DLG_ID 101
#define WAIT_TEXT_LEN 512
#define IDC_WAIT_CANCEL 129
#define WAIT_MORE_TEXT L"\r\n读取更多视频\r\n……"

// 1 first page of g_pendingList, 2 next page of g_curList.
extern int g_waitMode;
extern wchar_t g_waitText[WAIT_TEXT_LEN];
extern HWND g_waitDlgParam;
extern HWND g_hWaitBtn;
extern int g_waitWidth, g_waitHeight;

// Chooses the list of `rssType` (and `period` for rankings), builds the prompt and loads
// the list behind the wait dialog. 0, or -1 for an unknown kind or a dialog that failed.
int SwitchChannel(int rssType, int period, Skin* skin);
// Runs the wait dialog in `mode` with `text`, then starts the visible thumbnails and
// repaints the list. 0 when it ran (or nothing was due), -1 when it could not be shown.
// `window` is not used: the dialog's owner is the frame. Never opens a second dialog.
int ShowDlgBox(HWND window, int mode, const wchar_t* text);
INT_PTR WaitDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
int WaitCreateControls(HWND dialog);
int WaitMoveControls(HWND dialog);
DWORD FirstPageThread(LPVOID param);
DWORD NextPageThread(LPVOID param);
// Lays both scrollers out for the items of g_curList. 0 or -1.
int InitTf();

// The start-up worker: connection, settings, folders, update check, the home list, the
// first thumbnails, the player thread, then 0x592 to the main window. `param` points to
// the main window's handle.
DWORD InitThread(LPVOID param);

void LockLists();
void UnlockLists();
