// The start-up screen on every form, as started and turned while it shows: the status line
// and the progress bar lie below the logo and on the screen.
#include <gtest/gtest.h>

#include <string>

#include "entryGlobals.h"
#include "lumeo.h"
#include "program.h"
#include "skin.h"
#include "tools.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

bool White(COLORREF c) { return c == RGB(255, 255, 255); }

// Every other column is looked at, on the picture and on the screen alike.
constexpr int kStep = 2;

// The logo picture's first row with a pixel that is not white.
int FirstInkRow(HBITMAP logo) {
    SIZE s = BitmapSize(logo);
    for (int y = 0; y < s.cy; ++y)
        for (int x = 0; x < s.cx; x += kStep)
            if (!White(PicturePixel(logo, x, y))) return y;
    return -1;
}

// Where the logo's bottom is on the screen (start-up window coordinates): its first inked
// row found on the screen, as high up as it is drawn, and the picture's height below it.
int LogoBottomOnScreen(RECT client) {
    SIZE logo = BitmapSize(g_skin.stupLogo);
    int ink = FirstInkRow(g_skin.stupLogo);
    EXPECT_GE(ink, 0);
    int left = (client.right - logo.cx) / 2;
    // Inside the one-pixel outline.
    for (int y = 1; y < client.bottom - 1; ++y)
        for (int x = left; x < left + logo.cx; x += kStep)
            if (!White(ScreenPixelIn(g_hStupWnd, x, y))) return y - ink + logo.cy;
    ADD_FAILURE() << "no logo on the screen";
    return 0;
}

void ExpectStatusBelowTheLogo(const char* when) {
    SCOPED_TRACE(when);
    OnUi([] {
        RECT client;
        GetClientRect(g_hStupWnd, &client);
        int logoBottom = LogoBottomOnScreen(client);
        const LayoutRect& text = g_skin.startupTextRect;
        RECT bar;
        GetWindowRect(g_hProgress, &bar);
        POINT top{bar.left, bar.top}, bottom{bar.right, bar.bottom};
        ScreenToClient(g_hStupWnd, &top);
        ScreenToClient(g_hStupWnd, &bottom);
        EXPECT_GE(text.y, logoBottom) << "the status line over the logo";
        EXPECT_GE(top.y, text.y + text.h) << "the progress bar over the status line";
        EXPECT_LE(bottom.y, client.bottom) << "the progress bar below the screen";
        EXPECT_GT(bottom.y, top.y);
    });
}

class StartupScreen : public testing::TestWithParam<ScreenForm> {};

TEST_P(StartupScreen, StatusAndProgressLieBelowTheLogoAsStartedAndTurned) {
    const ScreenForm f = GetParam();
    RunProgram(f.width, f.height, [] {
        // The driver stands for the init thread: the start-up screen stays up meanwhile.
        Idle();
        ExpectStatusBelowTheLogo("as started");
        platform::ui::RotateScreen();
        Idle();
        ExpectStatusBelowTheLogo("turned during start-up");
        PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
    });
}

INSTANTIATE_TEST_SUITE_P(AllForms, StartupScreen, testing::ValuesIn(kScreenForms), FormName());

}  // namespace
