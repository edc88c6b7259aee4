// A second process for the single-instance test: it publishes a frame, then reports what
// reached it from the other process (foreground requests, copy-data text) and exits.
#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {
std::string g_copied;
LRESULT Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COPYDATA) {
        auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
        g_copied = platform::WideToUtf8(platform::Utf16LeBytesToWide(cds->lpData, cds->cbData));
        if (!g_copied.empty() && g_copied.back() == '\0') g_copied.pop_back();
        SetTimer(h, 1, 200, nullptr);  // ends soon, once the sender has its answer
        return 1;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}
}  // namespace

int main() {
    platform::ui::PublishWindowClass(L"澜映");
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = L"澜映";
    RegisterClassW(&wc);
    HWND h = CreateWindowExW(0x40000000, L"澜映", L"澜映", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (!h) return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    SetTimer(h, 1, 10000, nullptr);  // never waits for ever
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0)) {
        if (m.message == WM_TIMER) break;
        DispatchMessageW(&m);
    }
    std::printf("foreground %d copied %s\n", platform::ui::ForegroundRequestsReceived(), g_copied.c_str());
    DestroyWindow(h);
    return 0;
}
