// The search page with the input panel open, on every form: the box and its 搜索 button stay
// above the panel (where the typed text and the caret show), and come back once it closes.
#include <gtest/gtest.h>

#include <string>

#include "entryGlobals.h"
#include "lumeo.h"
#include "program.h"
#include "searchPage.h"
#include "tools.h"
#include "skin.h"
#include "platform/aygshell.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

RECT ScreenRect(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    return r;
}

class SearchPanel : public testing::TestWithParam<ScreenForm> {};

TEST_P(SearchPanel, TheBoxStaysAboveTheOpenInputPanel) {
    const ScreenForm f = GetParam();
    RunProgram(f.width, f.height, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        Idle();
        RECT before{}, page{};
        OnUi([&] {
            before = ScreenRect(g_hSearchEdit);
            page = ScreenRect(g_hSearchWnd);
            SetFocus(g_hSearchEdit);
        });
        Idle();
        OnUi([&] {
            HWND panel = FindWindowW(L"#InputPanel", nullptr);
            ASSERT_TRUE(panel && IsWindowVisible(panel));
            int panelTop = ScreenRect(panel).top;
            RECT edit = ScreenRect(g_hSearchEdit), button = ScreenRect(g_hSearchBtn[0]);
            EXPECT_LE(edit.bottom, panelTop) << "the box under the panel";
            EXPECT_LE(button.bottom, panelTop) << "the 搜索 button under the panel";
            // Still below the page's title bar.
            EXPECT_GE(edit.top, page.top + BitmapSize(g_skin.innerTitleBar).cy);
            // What is drawn there is the box: the frame the page draws around it, left of it.
            EXPECT_EQ(platform::ui::ScreenPixel(edit.left - 1, (edit.top + edit.bottom) / 2), RGB(0x00, 0x44, 0x75));
            SetFocus(g_hFrame);
        });
        Idle();
        OnUi([&] {
            RECT edit = ScreenRect(g_hSearchEdit);
            EXPECT_EQ(edit.top, before.top) << "not back in place once the panel closed";
            EXPECT_EQ(edit.bottom, before.bottom);
        });
        PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
    });
}

INSTANTIATE_TEST_SUITE_P(AllForms, SearchPanel, testing::ValuesIn(kScreenForms), FormName());

}  // namespace
