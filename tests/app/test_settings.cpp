// The output-driver settings sheet, opened by command 40021 in the running program, with a
// core inside the test that lists the drivers and records what it is told.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "lumeo.h"
#include "player.h"
#include "program.h"
#include "registry.h"
#include "tools.h"
#include "videoPageDlg.h"
#include "platform/codepage.h"
#include "platform/commctrl.h"
#include "platform/gdi.h"
#include "platform/image.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

struct SheetCore {
    std::mutex lock;
    PlayerInfo info{};
    bool fails = false;
    std::vector<int> video, audio;
};
SheetCore* g_core;

int CoreInfo(PlayerInfo* info) {
    *info = g_core->info;
    return g_core->fails ? -1 : 0;
}
int CoreVideo(int i) {
    std::lock_guard<std::mutex> g(g_core->lock);
    g_core->video.push_back(i);
    return 0;
}
int CoreAudio(int i) {
    std::lock_guard<std::mutex> g(g_core->lock);
    g_core->audio.push_back(i);
    return 0;
}

void SetNames(DriverSlot* slots, int32_t* count, const std::vector<std::u16string>& names) {
    for (size_t i = 0; i < names.size() && i < DRIVER_SLOTS; ++i) names[i].copy(slots[i].name, DRIVER_NAME_CHARS - 1);
    *count = static_cast<int32_t>(names.size());
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        g_core = &core;
        dir_ = std::filesystem::path(testing::TempDir()) /
               ("lumeo-settings-" + std::to_string(getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        platform::SetRegistryFile((dir_ / "registry.db").string());
        FuncGetPlayerInfo = CoreInfo;
        FuncSetVideoOutput = CoreVideo;
        FuncSetAudioOutput = CoreAudio;
    }
    void TearDown() override {
        FuncGetPlayerInfo = nullptr;
        FuncSetVideoOutput = nullptr;
        FuncSetAudioOutput = nullptr;
        platform::SetRegistryFile("");
        std::filesystem::remove_all(dir_);
    }

    // Runs the program, opens the driver key as the init thread would, shows the sheet
    // and hands it to `look`; then closes the sheet and the program.
    void WithSheet(const std::function<void(HWND sheet)>& look, int width = 480, int height = 800) {
        RunProgram(width, height, [&] {
            FinishInit();
            ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_DRIVER, &g_hKeyDriver), 0);
            for (auto& [name, value] : stored_) StoreText(name, value);
            PostMessageW(g_hFrame, WM_COMMAND, IDM_SETTINGS, 0);
            HWND sheet = nullptr;
            for (int i = 0; i < 500 && !sheet; ++i) {
                Idle();
                sheet = FindWindowW(L"#PropSheet", nullptr);
            }
            if (sheet) {
                look(sheet);
                PostMessageW(sheet, WM_CLOSE, 0, 0);
                Idle();
            }
            if (!sheet) ADD_FAILURE() << "no settings sheet";
            closedBar_ = static_cast<int>(g_menuBar.nToolBarId);
            PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
        });
    }
    // The page shown now.
    static HWND Page(HWND sheet) {
        for (HWND c = GetWindow(sheet, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (GetDlgCtrlID(c) != IDC_PROPSHEET_TABCONTROL && IsWindowVisible(c)) return c;
        return nullptr;
    }
    static void ShowAudioPage(HWND sheet) {
        HWND tabs = GetDlgItem(sheet, IDC_PROPSHEET_TABCONTROL);
        RECT r;
        GetClientRect(tabs, &r);
        TapIn(tabs, r.right * 3 / 4, r.bottom / 2);
    }
    static std::wstring Text(HWND w) {
        wchar_t text[128] = {0};
        GetWindowTextW(w, text, 128);
        return text;
    }
    static bool Checked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }
    // Ids of the page's buttons that are marked.
    static std::vector<int> Marked(HWND page, int first) {
        std::vector<int> ids;
        for (int id = first; id < first + DRIVER_SLOTS; ++id)
            if (HWND b = GetDlgItem(page, id); b && Checked(b)) ids.push_back(id);
        return ids;
    }
    // Registry texts are wide in the program and UTF-16 in their stored byte counts.
    void StoreText(const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(RegSetValueExW(g_hKeyDriver, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((platform::WideToUtf16(text).size() + 1) * 2)),
                  ERROR_SUCCESS);
    }
    // A stored value as text; "absent" when there is none.
    static std::wstring Stored(const wchar_t* name) {
        wchar_t text[32] = {0};
        DWORD size = 2 * 31, type = 0;
        if (RegQueryValueExW(g_hKeyDriver, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
            return L"absent";
        return text;
    }
    std::vector<std::pair<const wchar_t*, std::wstring>> stored_;
    SheetCore core;
    std::filesystem::path dir_;
    int closedBar_ = 0;
};

TEST_F(Settings, FirstOpeningChoosesTheFirstGdiDriverAndMarksDirectDrawAsNotRecommended) {
    SetNames(core.info.videoDrivers, &core.info.videoDriverCount,
             {u"DirectDraw Overlay", u"RAW帧缓冲", u"Windows GDI"});
    SetNames(core.info.audioDrivers, &core.info.audioDriverCount, {u"WaveOut"});
    int bar = 0;
    WithSheet([&](HWND sheet) {
        bar = static_cast<int>(g_menuBar.nToolBarId);
        EXPECT_EQ(Text(sheet), L"设置");
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(sheet, IDC_PROPSHEET_TABCONTROL), GWL_STYLE) & TCS_BOTTOM);
        HWND page = Page(sheet);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(Text(GetDlgItem(page, 800)), L"DirectDraw Overlay(不推荐)");
        EXPECT_EQ(Text(GetDlgItem(page, 801)), L"RAW帧缓冲");
        EXPECT_EQ(Text(GetDlgItem(page, 802)), L"Windows GDI");
        EXPECT_EQ(GetDlgItem(page, 803), nullptr);
        EXPECT_EQ(Text(GetDlgItem(page, 903)), L"视频驱动");
        EXPECT_EQ(Marked(page, 800), std::vector<int>{802});
        EXPECT_EQ(Stored(L"VideoId"), L"2");
        // Laid out in dialog base units: the buttons two units apart inside the box.
        LONG units = GetDialogBaseUnits();
        int bx = LOWORD(units), by = HIWORD(units);
        RECT r;
        GetWindowRect(GetDlgItem(page, 801), &r);
        POINT p{r.left, r.top};
        ScreenToClient(page, &p);
        EXPECT_EQ(p.x, 20);
        EXPECT_EQ(p.y, 20 + 3 * by);
        EXPECT_EQ(r.right - r.left, 20 * bx);
        EXPECT_EQ(r.bottom - r.top, 7 * by / 4);
        GetWindowRect(GetDlgItem(page, 903), &r);
        EXPECT_EQ(r.right - r.left, 25 * bx);
        EXPECT_EQ(r.bottom - r.top, 7 * by * 5 / 4);
    });
    EXPECT_EQ(core.video, std::vector<int>{2});
    EXPECT_TRUE(core.audio.empty());
    EXPECT_EQ(bar, IDB_SETTINGS);
    EXPECT_EQ(closedBar_, IDB_LIST);  // the bar shown before the sheet
}

TEST_F(Settings, WithoutAGdiDriverSlot0IsMarkedAndNothingIsSentOrStored) {
    SetNames(core.info.videoDrivers, &core.info.videoDriverCount, {u"ATI Overlay", u"Intel Overlay"});
    WithSheet([&](HWND sheet) {
        EXPECT_EQ(Marked(Page(sheet), 800), std::vector<int>{800});
        EXPECT_EQ(Stored(L"VideoId"), L"absent");
    });
    EXPECT_TRUE(core.video.empty());
}

TEST_F(Settings, ATapSendsAndStoresAtOnceEvenForTheMarkedButton) {
    SetNames(core.info.videoDrivers, &core.info.videoDriverCount, {u"GDI", u"ATI Overlay"});
    SetNames(core.info.audioDrivers, &core.info.audioDriverCount, {u"WaveOut", u"Bluetooth"});
    stored_ = {{L"VideoId", L"0"}};
    WithSheet([&](HWND sheet) {
        HWND video = Page(sheet);
        EXPECT_EQ(Marked(video, 800), std::vector<int>{800});
        TapIn(GetDlgItem(video, 801), 4, 4);
        EXPECT_EQ(Marked(video, 800), std::vector<int>{801});
        EXPECT_EQ(Stored(L"VideoId"), L"1");
        TapIn(GetDlgItem(video, 801), 4, 4);
        // The audio page: nothing stored marks slot 0 and sends nothing.
        ShowAudioPage(sheet);
        HWND audio = Page(sheet);
        ASSERT_NE(audio, video);
        EXPECT_EQ(Text(GetDlgItem(audio, 902)), L"音频驱动");
        EXPECT_EQ(Marked(audio, 900), std::vector<int>{900});
        EXPECT_EQ(Stored(L"AudioId"), L"absent");
        TapIn(GetDlgItem(audio, 901), 4, 4);
        EXPECT_EQ(Stored(L"AudioId"), L"1");
        TapIn(GetDlgItem(audio, 901), 4, 4);
    });
    EXPECT_EQ(core.video, (std::vector<int>{1, 1}));
    EXPECT_EQ(core.audio, (std::vector<int>{1, 1}));
}

TEST_F(Settings, AStoredChoiceTheCoreNoLongerOffersMarksSendsAndStoresNothing) {
    SetNames(core.info.videoDrivers, &core.info.videoDriverCount, {u"GDI", u"ATI Overlay"});
    SetNames(core.info.audioDrivers, &core.info.audioDriverCount, {u"WaveOut"});
    stored_ = {{L"VideoId", L"7"}, {L"AudioId", L"-2"}};
    WithSheet([&](HWND sheet) {
        EXPECT_TRUE(Marked(Page(sheet), 800).empty());
        ShowAudioPage(sheet);
        HWND audio = Page(sheet);
        EXPECT_EQ(Text(GetDlgItem(audio, 901)), L"音频驱动");
        EXPECT_TRUE(Marked(audio, 900).empty());
        EXPECT_EQ(Stored(L"VideoId"), L"7");
    });
    EXPECT_TRUE(core.video.empty());
    EXPECT_TRUE(core.audio.empty());
}

TEST_F(Settings, ADriverListBeyondTheSlotsIsCutToThem) {
    std::vector<std::u16string> many;
    for (int i = 0; i < 16; ++i) many.push_back(u"Overlay " + std::u16string(1, static_cast<char16_t>(u'A' + i)));
    SetNames(core.info.videoDrivers, &core.info.videoDriverCount, many);
    core.info.videoDriverCount = 40;
    WithSheet([&](HWND sheet) {
        HWND page = Page(sheet);
        EXPECT_NE(GetDlgItem(page, 815), nullptr);
        EXPECT_EQ(Text(GetDlgItem(page, 815)), L"Overlay P");
        EXPECT_EQ(Text(GetDlgItem(page, 916)), L"视频驱动");
    });
}

TEST_F(Settings, AFailedDriverQueryLeavesThePageEmpty) {
    SetNames(core.info.videoDrivers, &core.info.videoDriverCount, {u"GDI"});
    core.fails = true;
    bool shown = false;
    WithSheet([&](HWND sheet) {
        shown = true;
        HWND page = Page(sheet);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(GetWindow(page, GW_CHILD), nullptr);
    });
    EXPECT_TRUE(shown);
    EXPECT_TRUE(core.video.empty());
}

// ---- The drawn button texts on every screen form ----

bool Ink(COLORREF c) { return GetRValue(c) < 110 && GetGValue(c) < 110 && GetBValue(c) < 110; }

// What the screen shows of a button's text: the columns that carry dark pixels, and for
// the last run of such columns (the last glyph, or the last dot of an ellipsis) its height.
struct DrawnLabel {
    int left = -1, right = -1;  // first and last inked column, client coordinates
    int height = 0;             // rows between the topmost and bottommost inked pixel
    int lastRunHeight = 0;      // the same for the last run of inked columns
    int width = 0;              // of the button
};

// The screen as a picture, read pixel by pixel.
class Snapshot {
public:
    Snapshot() {
        std::string path = testing::TempDir() + "/settings-snapshot-" + std::to_string(getpid()) + ".png";
        EXPECT_TRUE(platform::ui::SaveScreenshot(path));
        bmp_ = SHLoadImageFile(platform::Utf8ToWide(path).c_str());
        std::filesystem::remove(path);
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bmp_);
    }
    ~Snapshot() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bmp_);
    }
    COLORREF In(HWND hwnd, int x, int y) const {
        POINT p{x, y};
        ClientToScreen(hwnd, &p);
        return GetPixel(dc_, p.x, p.y);
    }

private:
    HBITMAP bmp_;
    HDC dc_;
    HGDIOBJ old_;
};

DrawnLabel ReadLabel(const Snapshot& shot, HWND button) {
    RECT c;
    GetClientRect(button, &c);
    DrawnLabel d;
    d.width = c.right;
    std::vector<int> top(static_cast<size_t>(c.right), -1), bottom(static_cast<size_t>(c.right), -1);
    int t = c.bottom, b = -1;
    for (int x = 0; x < c.right; ++x)
        for (int y = 0; y < c.bottom; ++y)
            if (Ink(shot.In(button, x, y))) {
                if (top[x] < 0) top[x] = y;
                bottom[x] = y;
                if (d.left < 0) d.left = x;
                d.right = x;
                t = std::min(t, y);
                b = std::max(b, y);
            }
    if (d.right < 0) return d;
    d.height = b - t + 1;
    int rt = c.bottom, rb = -1;
    for (int x = d.right; x >= 0 && top[x] >= 0; --x) {
        rt = std::min(rt, top[x]);
        rb = std::max(rb, bottom[x]);
    }
    d.lastRunHeight = rb - rt + 1;
    return d;
}

class SheetForms : public Settings, public testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(SheetForms, EveryDriverNameIsDrawnWholeInsideItsButton) {
    auto [width, height] = GetParam();
    SetNames(core.info.videoDrivers, &core.info.videoDriverCount, {u"DirectDraw", u"RAW帧缓冲", u"Windows GDI"});
    SetNames(core.info.audioDrivers, &core.info.audioDriverCount, {u"WaveOut"});
    WithSheet(
        [&](HWND sheet) {
            HWND page = Page(sheet);
            ASSERT_NE(page, nullptr);
            Idle();
            Snapshot shot;
            for (int id = 800; id < 803; ++id) {
                HWND button = GetDlgItem(page, id);
                ASSERT_NE(button, nullptr);
                SCOPED_TRACE(Text(button));
                DrawnLabel d = ReadLabel(shot, button);
                ASSERT_GE(d.right, 0) << "no text drawn";
                // Not cut at the button's edge, and not ended by an ellipsis: its dots are
                // far lower than the last glyph of a whole name (")", "冲", "I").
                EXPECT_LT(d.right, d.width - 2);
                EXPECT_GT(d.lastRunHeight * 2, d.height);
            }
        },
        width, height);
}

INSTANTIATE_TEST_SUITE_P(Forms, SheetForms,
                         testing::Values(std::pair{800, 480}, std::pair{480, 800}, std::pair{640, 480},
                                         std::pair{480, 640}, std::pair{480, 320}, std::pair{320, 480},
                                         std::pair{400, 240}, std::pair{240, 400}, std::pair{320, 240},
                                         std::pair{240, 320}),
                         [](const testing::TestParamInfo<std::pair<int, int>>& i) {
                             return std::to_string(i.param.first) + "x" + std::to_string(i.param.second);
                         });

}  // namespace
