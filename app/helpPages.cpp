// The help topic list, the help text page and the About page.
#include "helpPages.h"

#include "lumeo.h"
#include "listview.h"
#include "log.h"
#include "skin.h"
#include "tools.h"
#include "platform/format.h"

HWND g_hHelpText, g_hAboutText;
WNDPROC g_hOldHelpTextProc, g_hOldAboutTextProc;

const wchar_t* const g_helpTitles[HELP_TOPIC_COUNT] = {
    L"● 使用手机澜映是否需要另行收费？", L"● 是否需要登录澜映网？", L"● 推荐视频和分类视频都是什么？",
    L"● 如何搜索视频？",                 L"● 搜索历史是什么？",     L"● 视频播放时如何调整音量？",
    L"● 关于澜映",
};

const wchar_t* const g_helpTexts[HELP_TOPIC_COUNT] = {
    L"\r\n● 使用手机澜映是否需要另行收费？\r\n\r\n"
    L"    手机澜映客户端本身是免费的，下载、安装和使用都不收取任何费用。\r\n"
    L"    浏览和播放视频需要使用手机的网络连接，由此产生的数据流量费用由您的网络运营商按其资费标准收取。"
    L"建议您先了解自己的流量套餐，或在无线局域网（Wi-Fi）下使用。",

    L"\r\n● 是否需要登录澜映网？\r\n\r\n"
    L"    不需要。浏览视频列表、搜索和播放视频都无需注册或登录，打开程序即可使用。",

    L"\r\n● 推荐视频和分类视频都是什么？\r\n\r\n"
    L"    推荐视频是“推荐”标签下的热点推荐列表，汇集了近期受欢迎的视频，程序启动后首先显示。\r\n"
    L"    分类视频按内容分为资讯、原创、音乐、体育和搞笑五个频道。点击“分类”标签，再选择一个频道，"
    L"即可浏览该频道的视频。",

    L"\r\n● 如何搜索视频？\r\n\r\n"
    L"    点击“搜索”标签进入搜索页面，点击搜索框，用手机的输入法输入关键词，然后点击“搜索”按钮"
    L"或按确认键，即可看到搜索结果。多个关键词之间可以用空格分开。",

    L"\r\n● 搜索历史是什么？\r\n\r\n"
    L"    搜索历史是您最近搜索过的3个关键词，显示在搜索框的下方，最近一次的排在最前面。"
    L"点击其中一个关键词即可再次搜索；点击“清空”按钮可以清除全部搜索历史。",

    L"\r\n● 视频播放时如何调整音量？\r\n\r\n"
    L"    视频播放时，按方向键的左键减小音量，按右键增大音量。",

    L"\r\n● 关于澜映\r\n\r\n"
    L"    澜映是一个在手机上观看网络视频的客户端程序。您可以用它浏览热点推荐、各频道的视频和排行榜，"
    L"搜索视频并保留最近的搜索记录，查看视频的详细信息和相关视频，并在手机上直接播放。\r\n"
    L"    程序的界面会随手机屏幕的大小和方向自动调整；有新版本时，程序会在启动时提示您升级。",
};

namespace {

// Both blocks carry the version once.
const wchar_t kAboutTemplate[] =
    L"\r\n澜映\r\n"
    L"澜映 版权所有\r\n"
    L"版本：%s Beta（Windows Mobile/Windows Phone平台）\r\n"
    L"网址：http://www.lumeo.example\r\n"
    L"手机澜映网：http://m.lumeo.example\r\n"
    L"客户端下载地址：http://m.lumeo.example/download\r\n"
    L"客服电话：暂无\r\n"
    L"客服邮件：support@lumeo.example\r\n"
    L"客服反馈：http://www.lumeo.example/feedback\r\n"
    L"更多建议：suggest@lumeo.example\r\n"
    L"\r\n"
    L"Lumeo\r\n"
    L"Copyright (C) Lumeo. All rights reserved.\r\n"
    L"Version：%s Beta（For Windows Mobile/Windows Phone）\r\n"
    L"Website：http://www.lumeo.example\r\n"
    L"Lumeo Mobile：http://m.lumeo.example\r\n"
    L"Download Client: http://m.lumeo.example/download\r\n"
    L"Tel：not available\r\n"
    L"Email：support@lumeo.example\r\n"
    L"Feedback：http://www.lumeo.example/feedback\r\n"
    L"More Suggestions: suggest@lumeo.example\r\n";

int g_helpWidth, g_helpHeight;      // topic list
int g_helpTextWidth, g_helpTextHeight;
int g_aboutWidth, g_aboutHeight;

LRESULT PaintTopics(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        int W = g_helpWidth, H = g_helpHeight;
        BackBuffer b(dc, W, H);
        FillSolidRect(b.dc, 0, 0, W, H, RGB(255, 255, 255));
        DrawPageTitle(b.dc, W, L"帮助");
        HFONT font = CreateFontIndirectW(&g_skin.fonts[4]);
        HGDIOBJ oldFont = SelectObject(b.dc, font);
        SetBkMode(b.dc, TRANSPARENT);
        SetTextColor(b.dc, RGB(0, 0, 0));
        for (int i = 0; i < HELP_TOPIC_COUNT; ++i) {
            RECT r;
            HelpTopicRect(i, &r);
            DrawTextW(b.dc, g_helpTitles[i], -1, &r, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX | DT_NOCLIP);
        }
        SelectObject(b.dc, oldFont);
        DeleteObject(font);
    }
    EndPaint(hwnd, &ps);
    return 0;
}

void TopicTapped(int x, int y) {
    for (int i = 0; i < HELP_TOPIC_COUNT; ++i) {
        RECT r;
        HelpTopicRect(i, &r);
        // The row's border line belongs to no topic.
        if (r.left < x && x < r.right && r.top < y && y < r.bottom) {
            SetWindowTextW(g_hHelpText, g_helpTexts[i]);
            SwitchPage(g_hHlpinfWnd);
            if (MyChangeMenu(&g_menuBar, &g_hFrame, IDB_HELP_TEXT, 0) != 0) LOG(LOG_WARNING, L"MyChangeMenu Failed");
            return;
        }
    }
}

// The edit of a text page: read-only by key, scrollable and selectable by pen.
int CreateTextControls(HWND page, const wchar_t* text, HWND* edit, WNDPROC* oldProc) {
    *edit = CreateWindowExW(0, L"edit", text, WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE, 0, 0, 0, 0, page,
                            nullptr, g_hInst, nullptr);
    if (!*edit) {
        LOG(LOG_WARNING, L"CreateWindow failed.");
        return -1;
    }
    *oldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(*edit, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&ReadOnlyTextProc)));
    return 0;
}

int MoveTextControls(HWND edit, const LayoutRect& r) {
    MoveWindow(edit, r.x, r.y, r.w, r.h, FALSE);
    return 0;
}

LRESULT TextPageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, const wchar_t* title, HWND* edit,
                     WNDPROC* oldProc, int* width, int* height, bool about) {
    switch (msg) {
    case WM_CREATE: {
        CStringW text;
        if (about) text.Format(kAboutTemplate, PROGRAM_VERSION, PROGRAM_VERSION);
        if (CreateTextControls(hwnd, about ? text.GetString() : L"", edit, oldProc) != 0)
            return CreateControlsFailed();
        return 0;
    }
    case WM_DESTROY:
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    case WM_SIZE:
        *width = LOWORD(lParam);
        *height = HIWORD(lParam);
        return 0;
    case WM_PAINT: {
        if (MoveTextControls(*edit, about ? g_skin.help.aboutText : g_skin.help.helpText) != 0) {
            LOG(LOG_WARNING, L"MoveControls failed");
            SendMessageW(hwnd, WM_DESTROY, 0, 0);
            return 0;
        }
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        {
            BackBuffer b(dc, *width, *height);
            FillSolidRect(b.dc, 0, 0, *width, *height, RGB(255, 255, 255));
            DrawPageTitle(b.dc, *width, title);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

void HelpTopicRect(int index, RECT* out) {
    const HelpLayout& l = g_skin.help;
    out->left = l.left;
    out->top = l.top + (l.gap + l.rowHeight) * index;
    out->right = out->left + l.width;
    out->bottom = out->top + l.rowHeight;
}

LRESULT ReadOnlyTextProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_KEYDOWN || msg == WM_CHAR) return 0;
    WNDPROC old = hwnd == g_hAboutText ? g_hOldAboutTextProc : g_hOldHelpTextProc;
    return old ? CallWindowProcW(old, hwnd, msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT HlpttWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT: return PaintTopics(hwnd);
    case WM_LBUTTONDOWN:
        TopicTapped(static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam)));
        return 0;
    case WM_SIZE:
        g_helpWidth = LOWORD(lParam);
        g_helpHeight = HIWORD(lParam);
        return 0;
    case WM_DESTROY:
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    default: return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT HlpinfWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return TextPageProc(hwnd, msg, wParam, lParam, L"帮助", &g_hHelpText, &g_hOldHelpTextProc, &g_helpTextWidth,
                        &g_helpTextHeight, false);
}

LRESULT AboutWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return TextPageProc(hwnd, msg, wParam, lParam, L"关于", &g_hAboutText, &g_hOldAboutTextProc, &g_aboutWidth,
                        &g_aboutHeight, true);
}
