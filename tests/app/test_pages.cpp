// The help topics, the help text and About pages, and the search page with its history,
// run in-process on a headless screen; and their layout from chosen skin values.
#include <gtest/gtest.h>

#include <functional>
#include <cstdlib>
#include <vector>
#include <algorithm>
#include <fstream>
#include <string>
#include <unistd.h>

#include "entryGlobals.h"
#include "helpPages.h"
#include "lumeo.h"
#include "program.h"
#include "registry.h"
#include "searchPage.h"
#include "skin.h"
#include "tools.h"
#include "platform/aygshell.h"
#include "platform/gdi.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

// ---- Layout from chosen skin values ----

// A skin record holding only what the help and search layouts read.
struct LayoutSkin {
    Skin s{};
    LayoutSkin(int titleHeight, SIZE button, SIZE clear, SIZE arrow) {
        s.innerTitleBar = CreateBitmap(8, titleHeight, 1, 32, nullptr);
        s.searchBtn[0] = s.searchBtn[1] = CreateBitmap(button.cx, button.cy, 1, 32, nullptr);
        s.searchClearBtn[0] = s.searchClearBtn[1] = CreateBitmap(clear.cx, clear.cy, 1, 32, nullptr);
        s.arrow[0] = s.arrow[1] = CreateBitmap(arrow.cx, arrow.cy, 1, 32, nullptr);
        s.helpMetric1 = s.helpMetric2 = s.helpMetric3 = 15;
        s.searchMetric1 = 1;
        s.rowMetric3 = 2;
        s.titleTextHeight = 23;
        s.titleMetric2 = 120;
        s.searchHistoryCount = 3;
        s.fontFactor2 = 1.0;
        s.fontFactor3 = 0.6;
        s.fontFactor4 = 2.0;
        s.fontFactor5 = 1.0;
        s.fontFactor6 = 3.5;
        s.fontFactor7 = 3.5;
        s.mainMetric7 = 10;
        s.hasArrow = 1;
    }
    ~LayoutSkin() {
        DeleteObject(s.innerTitleBar);
        DeleteObject(s.searchBtn[0]);
        DeleteObject(s.searchClearBtn[0]);
        DeleteObject(s.arrow[0]);
    }
};

void ExpectRect(const LayoutRect& r, int x, int y, int w, int h, const char* what) {
    EXPECT_EQ(r.x, x) << what;
    EXPECT_EQ(r.y, y) << what;
    EXPECT_EQ(r.w, w) << what;
    EXPECT_EQ(r.h, h) << what;
}

TEST(HelpLayout, RowsGrowShrinkOrSqueezeWithTheRoomBelowTheTitle) {
    struct Case {
        int T, P, b;
        int h, g, top;
        double scale;
    } cases[] = {
        // Room for twice the rows: rows 1.5 lines high, the gap at most a row.
        {44, 600, 23, 34, 34, 78, 1.5},
        {44, 366, 23, 34, 9, 53, 1.5},  // exactly 2 n b
        // Room for the rows but not twice: one line each, the rest shared out.
        {30, 230, 23, 23, 4, 34, 1.0},
        // Less than a line per row: squeezed, the font with them.
        {28, 110, 17, 10, 1, 29, 10.0 / 17 * 4 / 3},
        {44, 205, 23, 22, 1, 45, 22.0 / 23 * 4 / 3},  // exactly n b
    };
    for (const Case& c : cases) {
        LayoutSkin k(c.T, {96, 58}, {88, 40}, {16, 26});
        k.s.lineHeight = c.b;
        LayoutHelpPages(k.s, 480, c.P);
        SCOPED_TRACE("P=" + std::to_string(c.P));
        EXPECT_EQ(k.s.help.rowHeight, c.h);
        EXPECT_EQ(k.s.help.gap, c.g);
        EXPECT_EQ(k.s.help.top, c.top);
        EXPECT_DOUBLE_EQ(k.s.helpRowScale, c.scale);
        EXPECT_EQ(k.s.help.left, 15);
        EXPECT_EQ(k.s.help.width, 450);
        ExpectRect(k.s.help.helpText, 15, c.T, 465, c.P - c.T, "help text");
        ExpectRect(k.s.help.aboutText, 15, c.T, 465, c.P - c.T, "about text");
    }
}

TEST(SearchLayout, PortraitShowsTheHistoryBelowTheBox) {
    LayoutSkin k(44, {96, 58}, {88, 40}, {16, 26});
    int saved = g_orientation;
    g_orientation = 1;
    LayoutSearchPage(k.s, 480, 600);
    g_orientation = saved;
    const SearchLayout& l = k.s.search;
    EXPECT_EQ(l.historyShown, 1);
    EXPECT_EQ(l.rowHeight, 58);
    EXPECT_EQ(l.gap, 58);  // (600-44-23-174-58-44)/3 = 85, at most the button's height
    EXPECT_EQ(l.editX, 23);
    EXPECT_EQ(l.editY, 103);
    EXPECT_EQ(l.editWidth, 336);
    EXPECT_EQ(l.editHeight, 56);
    ExpectRect(l.button, 359, 102, 96, 58, "button");
    ExpectRect(l.label, 23, 218, 120, 23, "label");
    ExpectRect(l.history, 22, 243, 433, 220, "history");
    ExpectRect(l.rowText, 32, 250, 373, 46, "row text");
    ExpectRect(l.clear, 366, 420, 88, 40, "clear");
    EXPECT_EQ(l.arrow.x, 408);
    EXPECT_EQ(l.arrow.y, 260);
}

TEST(SearchLayout, LandscapeWithArrowsKeepsAShorterHistory) {
    LayoutSkin k(44, {96, 58}, {88, 40}, {16, 26});
    int saved = g_orientation;
    g_orientation = 2;
    LayoutSearchPage(k.s, 800, 300);
    g_orientation = saved;
    const SearchLayout& l = k.s.search;
    EXPECT_EQ(l.historyShown, 1);
    EXPECT_EQ(l.rowHeight, 34);  // 58 x 0.6
    EXPECT_EQ(l.gap, 9);         // (300-44-23-58-102-44)/3
    EXPECT_EQ(l.editX, 183);
    EXPECT_EQ(l.editY, 54);
    ExpectRect(l.label, 183, 120, 120, 23, "label");
    ExpectRect(l.history, 182, 145, 433, 148, "history");
    ExpectRect(l.rowText, 192, 151, 373, 23, "row text");
    ExpectRect(l.clear, 526, 250, 88, 40, "clear");
    EXPECT_EQ(l.arrow.x, 568);
    EXPECT_EQ(l.arrow.y, 150);
}

TEST(SearchLayout, LandscapeWithoutArrowsCentresTheBoxAloneWithAtLeastTwoPixelsOfGap) {
    LayoutSkin k(24, {60, 32}, {52, 24}, {0, 0});
    k.s.hasArrow = 0;
    k.s.titleTextHeight = 14;
    k.s.titleMetric2 = 80;
    int saved = g_orientation;
    g_orientation = 2;
    LayoutSearchPage(k.s, 320, 120);
    g_orientation = saved;
    const SearchLayout& l = k.s.search;
    EXPECT_EQ(l.historyShown, 0);
    EXPECT_EQ(l.gap, 2);  // (120-24-14-32-57-28)/3 is negative
    EXPECT_EQ(l.editWidth, 210);
    EXPECT_EQ(l.editX, 24);
    EXPECT_EQ(l.editY, 57);  // 24 + (120-24-32)/2 + 1
    ExpectRect(l.button, 234, 56, 60, 32, "button");
}

// ---- The pages in the program ----

// The registry file of this process, and the history as the init thread reads it.
void UseOwnRegistry() {
    static std::string file = testing::TempDir() + "/lumeo-pages-registry-" + std::to_string(getpid()) + ".db";
    setenv("LUMEO_REGISTRY_FILE", file.c_str(), 1);
}

void OpenHistory() {
    OnUi([] {
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, &g_hKeySearchWord), 0);
        GetSearchWordReg(g_hKeySearchWord, g_skin.searchHistory, g_skin.searchHistoryCount);
    });
}

void StoreHistory(const std::vector<std::wstring>& words) {
    UseOwnRegistry();
    HKEY key = nullptr;
    ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, &key), 0);
    ClearSearchWordReg(key);
    std::vector<CStringW> w(words.begin(), words.end());
    ASSERT_EQ(SetSearchWordReg(key, w.data(), static_cast<int>(w.size())), 0);
    MyCloseReg(key);
}

// The stored history: every "SearchWord_<n>" from 0 up to the first missing one.
std::vector<std::wstring> StoredHistory() {
    HKEY key = nullptr;
    std::vector<std::wstring> out;
    if (MyOpenReg(HKEY_CURRENT_USER, REG_PATH_SEARCHWORD, &key) != 0) return out;
    for (int n = 0;; ++n) {
        wchar_t name[32], data[256];
        swprintf(name, 32, L"SearchWord_%d", n);
        DWORD size = sizeof(data);
        if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) break;
        out.emplace_back(data);
    }
    MyCloseReg(key);
    return out;
}

std::wstring TextOf(HWND h) {
    wchar_t buf[2048] = {0};
    GetWindowTextW(h, buf, 2048);
    return buf;
}

void CloseProgram() { PostMessageW(g_hFrame, WM_CLOSE, 0, 0); }

// The program runs once per process (its frame class stays registered): a run whose driver
// never ran fails rather than passing without having checked anything.
void RunOnce(int width, int height, std::function<void()> driver) {
    bool ran = false;
    RunProgram(width, height, [&] {
        ran = true;
        driver();
    });
    ASSERT_TRUE(ran) << "the program did not start; run one test per process";
}

void Key(const char* name) {
    platform::ui::InjectKey(name);
    Idle();
}

void Type(const std::wstring& text) {
    platform::ui::InjectText(text);
    Idle();
}

POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// The height of a skin picture as its PNG header states it.
int PngHeight(const std::string& file) {
    std::ifstream in(std::string(LUMEO_TEST_DIST_DIR) + "/Res/Skin/Def/" + file, std::ios::binary);
    unsigned char head[24] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    if (!in || head[1] != 'P' || head[2] != 'N' || head[3] != 'G') return -1;
    return (head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23];
}

// A form's help topic rows as the help page's rules lay them out: n = 7 rows, left
// `helpMetric1`, the room A below the title bar, the row height and gap by how many lines fit.
struct HelpForm {
    int width, height;
    const char* prefix;
    int helpMetric1, mainMetric1, lineHeight, textHeight;  // the skin's constants for the size
    int rule;  // which of the three row rules the form's room calls for (1 roomy, 2 a line each, 3 squeezed)
};

void ExpectTopicRows(const HelpForm& f) {
    RunOnce(f.width, f.height, [&] {
        FinishInit();
        Command(g_hFrame, IDM_HELP);
        RECT main{}, page{};
        std::vector<RECT> rows(HELP_TOPIC_COUNT);
        LONG fontHeight = 0;
        OnUi([&] {
            GetClientRect(g_hMainWnd, &main);
            GetClientRect(g_hHlpttWnd, &page);
            for (int i = 0; i < HELP_TOPIC_COUNT; ++i) HelpTopicRect(i, &rows[i]);
            fontHeight = g_skin.fonts[4].lfHeight;
        });
        const int n = 7, b = f.lineHeight;
        const int T = PngHeight(std::string(f.prefix) + "innerTitleBar.png");
        const int L = PngHeight(std::string(f.prefix) + "pgrmLogo.png");
        ASSERT_GT(T, 0);
        ASSERT_GT(L, 0);
        const int W = main.right, P = main.bottom - L - f.mainMetric1;
        EXPECT_EQ(page.right, W);
        EXPECT_EQ(page.bottom, P);
        const int A = P - T;
        int h, g, rule;
        double scale;
        if (A >= 2 * n * b) {
            rule = 1;
            h = 3 * b / 2;
            scale = 1.5;
            g = std::min(h, (A - n * h) / (n + 2));
        } else if (A > n * b) {
            rule = 2;
            h = b;
            scale = 1.0;
            g = std::max(1, (A - n * h) / (n + 2));
        } else {
            rule = 3;
            h = A / n - 1;
            scale = static_cast<double>(h) / b * 4 / 3;
            g = 1;
        }
        EXPECT_EQ(rule, f.rule) << "room " << A << " for rows of " << b;
        for (int i = 0; i < n; ++i) {
            SCOPED_TRACE("row " + std::to_string(i));
            EXPECT_EQ(rows[i].left, f.helpMetric1);
            EXPECT_EQ(rows[i].right, W - f.helpMetric1);
            EXPECT_EQ(rows[i].top, T + g + i * (g + h));
            EXPECT_EQ(rows[i].bottom, T + g + i * (g + h) + h);
        }
        EXPECT_EQ(std::abs(fontHeight), static_cast<LONG>(f.textHeight * scale));
        CloseProgram();
    });
}


TEST(HelpPages, EachTopicOpensItsTextAndBackLeadsToTheTopicsThenToWhereHelpWasOpened) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        Command(g_hFrame, IDM_HELP);
        for (int i = 0; i < HELP_TOPIC_COUNT; ++i) {
            RECT r{};
            OnUi([&] { HelpTopicRect(i, &r); });
            POINT c = Centre(r);
            TapIn(g_hHlpttWnd, c.x, c.y);
            OnUi([&] {
                EXPECT_EQ(g_curPage, g_hHlpinfWnd) << i;
                EXPECT_TRUE(IsWindowVisible(g_hHlpinfWnd));
                EXPECT_EQ(g_menuBar.nToolBarId, 505u);
                std::wstring text = TextOf(g_hHelpText);
                std::wstring head = std::wstring(L"\r\n") + g_helpTitles[i] + L"\r\n\r\n    ";
                EXPECT_EQ(text.compare(0, head.size(), head), 0) << i;
                EXPECT_LE(text.size(), 1024u);
            });
            Key("soft1");  // back, 40026
            OnUi([&] {
                EXPECT_EQ(g_curPage, g_hHlpttWnd) << i;
                EXPECT_EQ(g_menuBar.nToolBarId, 504u);
                EXPECT_EQ(g_returnPage, g_hSearchWnd);
            });
        }
        Key("soft1");  // back, 40025
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hSearchWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
        });
        CloseProgram();
    });
}

TEST(HelpPages, ATapOnARowsBorderOrBetweenRowsOpensNothing) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_HELP);
        RECT r0{}, r1{};
        OnUi([&] {
            HelpTopicRect(0, &r0);
            HelpTopicRect(1, &r1);
        });
        int mid = (r0.top + r0.bottom) / 2, x = (r0.left + r0.right) / 2;
        POINT misses[] = {{x, r0.top}, {x, r0.bottom}, {r0.left, mid}, {r0.right, mid}, {x, (r0.bottom + r1.top) / 2}};
        for (POINT p : misses) {
            TapIn(g_hHlpttWnd, p.x, p.y);
            OnUi([&] { EXPECT_EQ(g_curPage, g_hHlpttWnd) << p.x << "," << p.y; });
        }
        TapIn(g_hHlpttWnd, x, r0.top + 1);
        OnUi([] { EXPECT_EQ(g_curPage, g_hHlpinfWnd); });
        CloseProgram();
    });
}

TEST(HelpPages, TopicListPaintsItsTitleBarOnWhite) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_HELP);
        OnUi([] {
            RECT last;
            HelpTopicRect(HELP_TOPIC_COUNT - 1, &last);
            RECT page;
            GetClientRect(g_hHlpttWnd, &page);
            EXPECT_LE(last.bottom, page.bottom);
            EXPECT_EQ(ScreenPixelIn(g_hHlpttWnd, 2, page.bottom - 2), RGB(255, 255, 255));
            EXPECT_EQ(ScreenPixelIn(g_hHlpttWnd, 1, 1), PicturePixel(g_skin.innerTitleBar, 1, 1));
            // Topic titles are underlined black text: somewhere in the first row is black.
            bool ink = false;
            for (int x = last.left; x < last.right && !ink; ++x)
                for (int y = last.top; y < last.bottom && !ink; ++y)
                    ink = ScreenPixelIn(g_hHlpttWnd, x, y) == RGB(0, 0, 0);
            EXPECT_TRUE(ink);
        });
        CloseProgram();
    });
}

TEST(HelpPages, OnA240PixelLandscapeScreenTheRowsAndTheirFontShrink) {
    RunOnce(400, 240, [] {
        FinishInit();
        OnUi([] {
            EXPECT_EQ(g_orientation, 2);
            RECT page;
            GetClientRect(g_hHlpttWnd, &page);
            int T = BitmapSize(g_skin.innerTitleBar).cy, A = page.bottom - T;
            ASSERT_LE(A, HELP_TOPIC_COUNT * g_skin.lineHeight);
            EXPECT_EQ(g_skin.help.rowHeight, A / HELP_TOPIC_COUNT - 1);
            EXPECT_EQ(g_skin.help.gap, 1);
            EXPECT_LT(g_skin.helpRowScale, 1.0);
            EXPECT_LT(g_skin.fonts[4].lfHeight, g_skin.textHeight);
            EXPECT_EQ(g_skin.fonts[4].lfUnderline, 1);
            RECT last;
            HelpTopicRect(HELP_TOPIC_COUNT - 1, &last);
            EXPECT_LE(last.bottom, page.bottom);
        });
        CloseProgram();
    });
}

TEST(HelpPages, AboutShowsTheVersionInBothBlocks) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_ABOUT);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hAboutWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 504u);
            std::wstring text = TextOf(g_hAboutText);
            EXPECT_NE(text.find(L"版本：v1.01.15.06007 Beta（Windows Mobile/Windows Phone平台）"), std::wstring::npos);
            EXPECT_NE(text.find(L"Version：v1.01.15.06007 Beta（For Windows Mobile/Windows Phone）"), std::wstring::npos);
            size_t count = 0;
            for (size_t at = text.find(L"v1.01.15.06007"); at != std::wstring::npos; at = text.find(L"v1.01.15.06007", at + 1))
                ++count;
            EXPECT_EQ(count, 2u);
            EXPECT_EQ(text.find(L'%'), std::wstring::npos);
            // The box fills the page below the title, from the left margin, in font 6.
            RECT box, page;
            GetWindowRect(g_hAboutText, &box);
            GetWindowRect(g_hAboutWnd, &page);
            EXPECT_EQ(box.left - page.left, 15);
            EXPECT_EQ(box.top - page.top, BitmapSize(g_skin.innerTitleBar).cy);
            EXPECT_EQ(box.right, page.right);
            EXPECT_EQ(box.bottom, page.bottom);
        });
        CloseProgram();
    });
}

struct TextPageCase {
    const char* name;
    int command;
    HWND* page;
    HWND* box;
};

class TextPages : public testing::TestWithParam<TextPageCase> {};

TEST_P(TextPages, KeysChangeNeitherTextNorScrollButThePenScrolls) {
    const TextPageCase c = GetParam();
    RunOnce(240, 320, [&] {
        FinishInit();
        Command(g_hFrame, c.command);
        if (c.command == IDM_HELP) {
            RECT r{};
            OnUi([&] { HelpTopicRect(2, &r); });
            POINT p = Centre(r);
            TapIn(g_hHlpttWnd, p.x, p.y);
        }
        std::wstring before;
        RECT box{};
        OnUi([&] {
            EXPECT_EQ(g_curPage, *c.page);
            before = TextOf(*c.box);
            GetClientRect(*c.box, &box);
            EXPECT_GT(SendMessageW(*c.box, EM_GETLINECOUNT, 0, 0), box.bottom / g_skin.textHeight);
        });
        TapIn(*c.box, box.right / 3, box.bottom / 3);  // the box has the focus now
        OnUi([&] { EXPECT_EQ(GetFocus(), *c.box); });
        Type(L"abc");
        Key("down");
        Key("down");
        Key("enter");
        OnUi([&] {
            EXPECT_EQ(TextOf(*c.box), before);
            EXPECT_EQ(SendMessageW(*c.box, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
        });
        // The scroll bar along the right edge pages down.
        TapIn(*c.box, box.right - 2, box.bottom - 4);
        OnUi([&] {
            EXPECT_GT(SendMessageW(*c.box, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
            EXPECT_EQ(TextOf(*c.box), before);
        });
        CloseProgram();
    });
}

INSTANTIATE_TEST_SUITE_P(HelpAndAbout, TextPages,
                         testing::Values(TextPageCase{"About", IDM_ABOUT, &g_hAboutWnd, &g_hAboutText},
                                         TextPageCase{"HelpText", IDM_HELP, &g_hHlpinfWnd, &g_hHelpText}),
                         [](const testing::TestParamInfo<TextPageCase>& i) { return std::string(i.param.name); });

// ---- Search page ----

HWND SearchButton(int i) {
    HWND h = nullptr;
    OnUi([&] { h = g_hSearchBtn[i]; });
    return h;
}

void TapWindow(HWND h) {
    RECT r;
    GetClientRect(h, &r);
    TapIn(h, r.right / 2, r.bottom / 2);
}

bool InputPanelShown() {
    HWND panel = FindWindowW(L"#InputPanel", nullptr);
    return panel && IsWindowVisible(panel);
}

TEST(SearchPage, BoxButtonsAndFrameSitWhereTheLayoutPutsThem) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        OnUi([] {
            const SearchLayout& l = g_skin.search;
            RECT edit, page, button, clear;
            GetWindowRect(g_hSearchEdit, &edit);
            GetWindowRect(g_hSearchWnd, &page);
            GetWindowRect(g_hSearchBtn[0], &button);
            GetWindowRect(g_hSearchBtn[1], &clear);
            EXPECT_EQ(GetDlgCtrlID(g_hSearchEdit), 104);
            EXPECT_EQ(GetDlgCtrlID(g_hSearchBtn[0]), 124);
            EXPECT_EQ(GetDlgCtrlID(g_hSearchBtn[1]), 125);
            EXPECT_EQ(SendMessageW(g_hSearchEdit, EM_GETLIMITTEXT, 0, 0), 200);
            EXPECT_EQ(edit.left - page.left, l.editX);
            EXPECT_EQ(edit.top - page.top, l.editY);
            EXPECT_EQ(button.left - page.left, l.button.x);
            EXPECT_EQ(clear.left - page.left, l.clear.x);
            EXPECT_EQ(clear.top - page.top, l.clear.y);
            // Page colour, the box's frame, the history box, a separator and the 清空 strip.
            EXPECT_EQ(ScreenPixelIn(g_hSearchWnd, 1, page.bottom - page.top - 2), RGB(0x2C, 0x5B, 0x81));
            EXPECT_EQ(ScreenPixelIn(g_hSearchWnd, l.editX - 1, l.editY + 4), RGB(0x00, 0x44, 0x75));
            const LayoutRect& b = l.history;
            EXPECT_EQ(ScreenPixelIn(g_hSearchWnd, b.x, b.y), RGB(0xEF, 0xEF, 0xEF));
            int m = g_skin.searchMetric1, R = l.rowHeight;
            EXPECT_EQ(ScreenPixelIn(g_hSearchWnd, b.x + m + 4, b.y + m + R - 1), RGB(0x66, 0xBA, 0xF6));
            EXPECT_EQ(ScreenPixelIn(g_hSearchWnd, b.x + m + 4, b.y + m + 2 * R - 1), RGB(0x66, 0xBA, 0xF6));
            EXPECT_EQ(ScreenPixelIn(g_hSearchWnd, b.x + m + 2, b.y + m + 3 * R + 2), RGB(0xD8, 0xE6, 0xF2));
            // The buttons show their normal look.
            EXPECT_EQ(ScreenPixelIn(g_hSearchBtn[0], 3, 3), PicturePixel(g_skin.searchBtn[1], 3, 3));
            EXPECT_EQ(ScreenPixelIn(g_hSearchBtn[1], 3, 3), PicturePixel(g_skin.searchClearBtn[1], 3, 3));
        });
        CloseProgram();
    });
}

// The skin's pictures are sized so that the history with its 清空 button fits the page on
// the largest screen held sideways, where the tab bar and the system bars take the most.
TEST(SearchPage, TheHistoryFitsThePageOnTheWideScreenInLandscape) {
    RunOnce(800, 480, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        OnUi([] {
            RECT page, clear;
            GetWindowRect(g_hSearchWnd, &page);
            GetWindowRect(g_hSearchBtn[1], &clear);
            ASSERT_TRUE(IsWindowVisible(g_hSearchBtn[1]));
            const LayoutRect& b = g_skin.search.history;
            EXPECT_LE(b.y + b.h, page.bottom - page.top);
            EXPECT_GE(clear.top, page.top);
            EXPECT_LE(clear.bottom, page.bottom);
        });
        CloseProgram();
    });
}

TEST(SearchPage, FocusSelectsAllAndOpensThePanelEnterSearchesAndClosesIt) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        TapWindow(g_hSearchEdit);
        OnUi([] {
            EXPECT_EQ(GetFocus(), g_hSearchEdit);
            EXPECT_TRUE(InputPanelShown());
        });
        Type(L"猫咪");
        Key("enter");
        OnUi([] {
            EXPECT_FALSE(InputPanelShown());
            EXPECT_NE(GetFocus(), g_hSearchEdit);
            EXPECT_EQ(TextOf(g_hSearchEdit), L"猫咪");
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
        });
        // Back on the page the box keeps its text; the focus selects all of it.
        Command(g_hFrame, IDM_TAB_SEARCH);
        TapWindow(g_hSearchEdit);
        OnUi([] {
            DWORD a = 9, b = 9;
            SendMessageW(g_hSearchEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
            EXPECT_EQ(a, 0u);
            EXPECT_EQ(b, 2u);
        });
        // Typing replaces the selection.
        Type(L"狗");
        OnUi([] { EXPECT_EQ(TextOf(g_hSearchEdit), L"狗"); });
        CloseProgram();
    });
}

TEST(SearchPage, EnterOrTheButtonOnAnEmptyBoxSearchesNothing) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        TapWindow(g_hSearchEdit);
        Key("enter");
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hSearchWnd);
            EXPECT_FALSE(InputPanelShown());
            EXPECT_EQ(GetFocus(), g_hFrame);
        });
        TapWindow(SearchButton(0));
        OnUi([] { EXPECT_EQ(g_curPage, g_hSearchWnd); });
        CloseProgram();
    });
}

TEST(SearchPage, TheBoxTakesTwoHundredCharactersAndRefusesTheNext) {
    RunOnce(480, 800, [] {
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        TapWindow(g_hSearchEdit);
        std::wstring word(199, L'视');
        Type(word + L"频多");
        OnUi([&] { EXPECT_EQ(TextOf(g_hSearchEdit), word + L"频"); });
        CloseProgram();
    });
}

TEST(SearchPage, ATappedHistoryRowGoesIntoTheBoxAndIsSearched) {
    StoreHistory({L"猫咪", L"足球 比赛", L""});
    RunOnce(480, 800, [] {
        OpenHistory();
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        SearchLayout l{};
        int m = 0;
        OnUi([&] {
            l = g_skin.search;
            m = g_skin.searchMetric1;
            EXPECT_EQ(g_skin.searchHistory[0], L"猫咪");
        });
        // The empty third row empties the box and searches nothing.
        OnUi([] { SetWindowTextW(g_hSearchEdit, L"旧"); });
        TapIn(g_hSearchWnd, l.history.x + l.history.w / 2, l.history.y + m + 2 * l.rowHeight + l.rowHeight / 2);
        OnUi([] {
            EXPECT_EQ(TextOf(g_hSearchEdit), L"");
            EXPECT_EQ(g_curPage, g_hSearchWnd);
        });
        // Below the rows, in the strip of 清空, nothing happens.
        TapIn(g_hSearchWnd, l.history.x + 5, l.history.y + l.history.h - 3);
        OnUi([] { EXPECT_EQ(g_curPage, g_hSearchWnd); });
        // The second row, at its first pixel.
        TapIn(g_hSearchWnd, l.history.x, l.history.y + m + l.rowHeight);
        OnUi([] {
            EXPECT_EQ(TextOf(g_hSearchEdit), L"足球 比赛");
            EXPECT_EQ(g_curPage, g_hListWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 502u);
        });
        CloseProgram();
    });
}

TEST(SearchPage, ClearEmptiesTheBoxTheRowsAndTheRegistry) {
    StoreHistory({L"一", L"二", L"三", L"四"});
    RunOnce(480, 800, [] {
        OpenHistory();
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        OnUi([] { SetWindowTextW(g_hSearchEdit, L"五"); });
        TapWindow(SearchButton(1));
        OnUi([] {
            EXPECT_EQ(TextOf(g_hSearchEdit), L"");
            for (int i = 0; i < g_skin.searchHistoryCount; ++i) EXPECT_EQ(g_skin.searchHistory[i], L"") << i;
            EXPECT_EQ(g_curPage, g_hSearchWnd);
        });
        // Every stored word is gone, the fourth too.
        EXPECT_TRUE(StoredHistory().empty());
        CloseProgram();
    });
}

TEST(SearchPage, LandscapeWithoutRoomHasNoHistoryAndClearDoesNothing) {
    StoreHistory({L"猫咪", L"狗", L"鸟"});
    RunOnce(320, 240, [] {
        OpenHistory();
        FinishInit();
        Command(g_hFrame, IDM_TAB_SEARCH);
        OnUi([] {
            EXPECT_EQ(g_skin.search.historyShown, 0);
            RECT clear, page;
            GetWindowRect(g_hSearchBtn[1], &clear);
            GetWindowRect(g_hSearchWnd, &page);
            EXPECT_GE(clear.left, page.right);
            // The box is centred in the room below the title.
            RECT edit;
            GetWindowRect(g_hSearchEdit, &edit);
            int T = BitmapSize(g_skin.innerTitleBar).cy, bh = BitmapSize(g_skin.searchBtn[1]).cy;
            EXPECT_EQ(edit.top - page.top, T + (page.bottom - page.top - T - bh) / 2 + 1);
            SetWindowTextW(g_hSearchEdit, L"留着");
        });
        // Taps below the box and the clear command change nothing.
        OnUi([] {
            RECT page;
            GetClientRect(g_hSearchWnd, &page);
            SendMessageW(g_hSearchWnd, WM_LBUTTONDOWN, 0, MAKELPARAM(page.right / 2, page.bottom - 3));
            SendMessageW(g_hSearchWnd, WM_COMMAND, IDC_SEARCH_CLEAR, 0);
            EXPECT_EQ(TextOf(g_hSearchEdit), L"留着");
            EXPECT_EQ(g_skin.searchHistory[0], L"猫咪");
            EXPECT_EQ(g_curPage, g_hSearchWnd);
        });
        EXPECT_EQ(StoredHistory().size(), 3u);
        CloseProgram();
    });
}

// The 800x480 skin in portrait: room for twice the rows, so rows 1.5 lines high (the line 23
// pixels); the gap at most a row.
TEST(HelpLayout, TopicRowsFollowOneAnotherByRowAndGap) { ExpectTopicRows({480, 800, "def_800_480_", 15, 73, 23, 23, 1}); }

// On a 240-pixel-high landscape screen the rows are squeezed below a line and the topic
// font shrinks with them. The 320x240 skin: thumbnail 35 high in a row of 53, no arrow, so
// the title band is (35 + 9) x 2 / 3 = 29 and the line 14.
TEST(HelpLayout, OnA240HighScreenTheRowsAndTheirFontShrink) { ExpectTopicRows({320, 240, "def_320_240_", 15, 49, 14, 14, 3}); }

}  // namespace
