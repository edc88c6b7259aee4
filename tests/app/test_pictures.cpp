// Thumbnail threads against the sample service: one thread per visible row and vid, and
// the list view repainted only while the row is still shown in the list it was started for.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "clientenv.h"
#include "download.h"
#include "listview.h"
#include "pictures.h"
#include "scroller.h"
#include "tools.h"
#include "platform/codepage.h"
#include "platform/gdi.h"
#include "platform/sync.h"

namespace {

using nettest::ClientEnv;

std::atomic<int> g_paints{0};

LRESULT CountingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(h, &ps);
        EndPaint(h, &ps);
        ++g_paints;
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

// A list view stand-in with its own user-interface thread, as the program has.
class ListViewWindow {
public:
    ListViewWindow() {
        std::promise<HWND> made;
        auto ready = made.get_future();
        thread_ = std::thread([&made] {
            static std::once_flag once;
            std::call_once(once, [] {
                WNDCLASSW wc{};
                wc.lpfnWndProc = CountingProc;
                wc.lpszClassName = L"PictureTestListView";
                RegisterClassW(&wc);
            });
            HWND h = CreateWindowExW(0, L"PictureTestListView", L"", WS_VISIBLE, 0, 0, 480, 300, nullptr, nullptr,
                                     nullptr, nullptr);
            made.set_value(h);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
            DestroyWindow(h);
        });
        hwnd_ = ready.get();
    }
    ~ListViewWindow() {
        PostMessageW(hwnd_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    // Paints whatever is invalid, on the window's thread, and waits for it.
    void Settle() {
        SendMessageW(hwnd_, WM_NULL, 0, 0);
        UpdateWindow(hwnd_);
    }

private:
    std::thread thread_;
    HWND hwnd_ = nullptr;
};

std::string Vid(int i) {
    char vid[32];
    std::snprintf(vid, sizeof vid, "lv%08x", 0x3f2a0000u + static_cast<unsigned>(i) * 17u);
    return vid;
}

struct LoadPictureTest : ::testing::Test {
    ClientEnv& env = ClientEnv::Get();
    HBITMAP emptyPic = nullptr, picBk = nullptr;

    void SetUp() override {
        env.Begin();
        std::filesystem::create_directories(env.dir().path() + "/Image");
        ClearCache();
        emptyPic = CreateBitmap(2, 2, 1, 32, nullptr);
        picBk = CreateBitmap(2, 2, 1, 32, nullptr);
        SetPictureStock(&g_downloader, emptyPic, picBk);
        g_orientation = 1;
        g_hWaitDlg = nullptr;
        g_hListView = view.hwnd();
        view.Settle();
    }
    void TearDown() override {
        WaitForThreads();
        g_curList = nullptr;
        g_hListView = nullptr;
        g_hWaitDlg = nullptr;
        ClearCache();
        SetPictureStock(&g_downloader, nullptr, nullptr);
        DeleteObject(emptyPic);
        DeleteObject(picBk);
        env.End();
    }
    static void ClearCache() {
        EnterCriticalSection(&g_downloader.csPicture);
        for (auto& [vid, entry] : g_downloader.pictures) DeleteObject(entry.bitmap);
        g_downloader.pictures.clear();
        g_downloader.pictureOrder.clear();
        LeaveCriticalSection(&g_downloader.csPicture);
    }
    // A list of `n` videos of the service, from video `first` on, shown in a 300-pixel view
    // of 60-pixel rows (rows 0 to 5 visible, 7 per view).
    void Show(VideoList* list, int first, int n) {
        list->items.clear();
        for (int i = 0; i < n; ++i) {
            VideoItem item;
            item.vid = platform::Utf8ToWide(Vid(first + i));
            item.img = env.WUrl("/img/" + Vid(first + i) + ".jpg");
            list->items.push_back(item);
        }
        g_curList = list;
        g_scrollerPortrait.InitScroller(480, 800, 480, 300, 480, 60, 2, RGB(239, 239, 239), n);
    }
    int Load(VideoList* list) {
        return LoadPicture(&g_downloader, GetItems(list), 1, &g_scrollerPortrait, GetRssType(list));
    }
    static bool AnyPending() {
        EnterCriticalSection(&g_downloader.csPending);
        bool any = !g_downloader.pending.empty();
        LeaveCriticalSection(&g_downloader.csPending);
        return any;
    }
    // Waits (bounded) until every thumbnail thread has stored its picture and repainted.
    void WaitForThreads() {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (AnyPending() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(AnyPending());
        // A thread repaints after it clears its mark.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        view.Settle();
    }
    std::map<std::string, int> ImageRequests() {
        std::map<std::string, int> seen;
        for (auto& line : env.RequestsWith("/img/")) seen[line]++;
        return seen;
    }

    ListViewWindow view;
};

TEST_F(LoadPictureTest, TwoLoadsOverTheSameRowsStartOneThreadPerVid) {
    Show(&g_listHot, 0, 10);
    env.service().QueueFault("delay:600", 20, "/img/");
    ASSERT_EQ(Load(&g_listHot), 0);
    ASSERT_EQ(Load(&g_listHot), 0);
    for (int i = 0; i <= 5; ++i)
        EXPECT_EQ(IsPicturePending(&g_downloader, platform::Utf8ToWide(Vid(i)).c_str()), 1) << i;
    EXPECT_EQ(IsPicturePending(&g_downloader, platform::Utf8ToWide(Vid(6)).c_str()), 0) << "not visible";
    WaitForThreads();

    std::map<std::string, int> expected;
    for (int i = 0; i <= 5; ++i) expected["GET /img/" + Vid(i) + ".jpg"] = 1;
    EXPECT_EQ(ImageRequests(), expected);
    for (int i = 0; i <= 5; ++i) {
        std::wstring vid = platform::Utf8ToWide(Vid(i));
        EXPECT_NE(GetPicture(&g_downloader, vid.c_str()), picBk) << i;
        EXPECT_EQ(env.dir().Read("Image/" + Vid(i) + ".jpg"), env.service().Get("/img/" + Vid(i) + ".jpg"));
    }

    // Cached rows start nothing; scrolling on starts only the newly visible rows.
    env.Reset();
    ASSERT_EQ(Load(&g_listHot), 0);
    g_scrollerPortrait.ScrollTo(4);
    ASSERT_EQ(Load(&g_listHot), 0);
    WaitForThreads();
    expected.clear();
    for (int i = 6; i <= 9; ++i) expected["GET /img/" + Vid(i) + ".jpg"] = 1;
    EXPECT_EQ(ImageRequests(), expected);
}

TEST_F(LoadPictureTest, ARowWhoseThreadCannotStartIsTriedAgainByTheNextLoad) {
    Show(&g_listHot, 60, 3);
    platform::FailThreadCreation(2);
    ASSERT_EQ(Load(&g_listHot), 0);
    WaitForThreads();
    EXPECT_EQ(ImageRequests().size(), 1u) << "one of three rows started";
    ASSERT_EQ(Load(&g_listHot), 0);
    WaitForThreads();
    EXPECT_EQ(ImageRequests().size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(GetPicture(&g_downloader, platform::Utf8ToWide(Vid(60 + i)).c_str()), picBk) << i;
}

TEST_F(LoadPictureTest, TheFirstScreenfulKeepsItsFiles) {
    Show(&g_listHot, 40, 30);
    g_scrollerPortrait.ScrollTo(3);  // rows 3 to 8 visible; 7 rows per view
    ASSERT_EQ(Load(&g_listHot), 0);
    WaitForThreads();
    EnterCriticalSection(&g_downloader.csPicture);
    std::map<int, int> keep;
    for (int i = 3; i <= 8; ++i) {
        auto it = g_downloader.pictures.find(platform::Utf8ToWide(Vid(40 + i)).c_str());
        keep[i] = it == g_downloader.pictures.end() ? -1 : it->second.keepFile;
    }
    LeaveCriticalSection(&g_downloader.csPicture);
    EXPECT_EQ(keep, (std::map<int, int>{{3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 0}, {8, 0}}));
}

TEST_F(LoadPictureTest, RepaintsOnlyWhileTheRowIsShownInItsList) {
    struct Case {
        const char* name;
        std::function<void()> meanwhile;
        bool repaint;
    } cases[] = {
        {"row still shown", [] {}, true},
        {"other list kind shown", [] { g_curList = &g_listNews; }, false},
        {"wait dialog up", [this] { g_hWaitDlg = view.hwnd(); }, false},
        {"row scrolled out of view", [] { g_scrollerPortrait.ScrollTo(20); }, false},
        {"row holds another video", [] { std::swap(g_listHot.items[0], g_listHot.items[24]); }, false},
    };
    int first = 0;  // the service has 150 videos
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Show(&g_listHot, first, 25);
        g_listNews.items = g_listHot.items;
        // Only row 0 lacks its picture.
        for (int i = 1; i < 25; ++i)
            AddPicture(&g_downloader, CreateBitmap(2, 2, 1, 32, nullptr),
                       platform::Utf8ToWide(Vid(first + i)).c_str(), 0);
        env.service().QueueFault("delay:500", 1, "/img/");
        g_paints = 0;
        ASSERT_EQ(Load(&g_listHot), 0);
        c.meanwhile();
        WaitForThreads();
        EXPECT_EQ(g_paints.load() > 0, c.repaint) << g_paints.load();
        EXPECT_NE(GetPicture(&g_downloader, platform::Utf8ToWide(Vid(first)).c_str()), picBk)
            << "the picture is cached whether or not it was painted";
        g_hWaitDlg = nullptr;
        first += 25;
    }
}

}  // namespace
