// The 270G output on the simulated chip: registration, the driver's start, colour
// settings, attribute records, frames, the driver's loss and the release of everything.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "face.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace fltest {
namespace {

// --- Registration ---

TEST(FramelaneFile, RegistersBothClassesForItsInterfaceVersionOnly) {
    PluginFile plg;
    ASSERT_NE(plg.handle, nullptr) << dlerror();
    core::ClearRegistryLog();
    EXPECT_EQ(plg.reg(527), -15);
    EXPECT_EQ(plg.reg(529), -15);
    EXPECT_TRUE(core::RegistryLog().empty());
    ASSERT_EQ(plg.reg(528), 0);
    auto log = core::RegistryLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].classId, G270_CLASS);
    EXPECT_EQ(log[1].classId, I270_CLASS);
    const NodeClassDef* out = NodeFindClass(G270_CLASS);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->parentId, OVERLAY_CLASS);
    EXPECT_EQ(out->priority, 1210);
    EXPECT_EQ(NODE_CLASS_FLAGS(out->sizeAndFlags), 3u);
    EXPECT_GT(out->sizeAndFlags & NODE_SIZE_MASK, sizeof(Overlay));
    EXPECT_NE(out->create, nullptr);
    const NodeClassDef* face = NodeFindClass(I270_CLASS);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->parentId, IDCT_CLASS);
    EXPECT_EQ(face->priority, 1050);
    EXPECT_EQ(face->sizeAndFlags, NODE_CLASS_SIZE(0, 8));
    EXPECT_EQ(face->create, nullptr);
    EXPECT_EQ(face->destroy, nullptr);
    core::ClearRegistryLog();
    plg.unreg();
    log = core::RegistryLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].classId, G270_CLASS);
    EXPECT_EQ(log[1].classId, I270_CLASS);
    EXPECT_EQ(NodeFindClass(G270_CLASS), nullptr);
}

// A folder of its own for library files.
struct TempFolder {
    std::string path;
    TempFolder() {
        char t[] = "/tmp/framelane-XXXXXX";
        path = mkdtemp(t);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
};

void SetFileDay(const std::string& file, int year, int month, int day) {
    struct tm t {};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = 12, t.tm_isdst = -1;
    struct utimbuf u {};
    u.actime = u.modtime = mktime(&t);
    ASSERT_EQ(utime(file.c_str(), &u), 0);
}

TEST_F(Output, CreateNeedsTheLibraryWithEveryEntry) {
    TempFolder empty;
    setenv("LUMEO_DLL_PATH", empty.path.c_str(), 1);
    EXPECT_EQ(Create(), nullptr);
    setenv("LUMEO_DLL_PATH", LUMEO_TEST_MISSING_ENTRY_DIR, 1);  // a driver without VDISP_OverlayGamma
    EXPECT_EQ(Create(), nullptr);
    setenv("LUMEO_DLL_PATH", LUMEO_TEST_DIST_DIR, 1);
    EXPECT_NE(Create(), nullptr);
    EXPECT_TRUE(core::ShownErrors().empty());
}

TEST_F(Output, DriverFilesOfBeforeDecember5Of2004AreOld) {
    struct Case {
        int day;
        int old;
    } cases[] = {{4, 1}, {5, 0}};
    for (const auto& c : cases) {
        TempFolder folder;
        std::string file = folder.path + "/PVRVADD.DLL";
        std::filesystem::copy_file(LUMEO_TEST_DIST_DIR "/PVRVADD.DLL", file);
        SetFileDay(file, 2004, 12, c.day);
        setenv("LUMEO_DLL_PATH", folder.path.c_str(), 1);
        ASSERT_NE(Create(), nullptr);
        EXPECT_EQ(Get(0x200), c.old) << c.day;
        NodeDelete(object);
        object = nullptr;
    }
    setenv("LUMEO_DLL_PATH", LUMEO_TEST_DIST_DIR, 1);
    ASSERT_NE(Create(), nullptr);
    EXPECT_EQ(Get(0x200), 0);  // the build's own file is new
    EXPECT_EQ(Get(0x201), 1);
    EXPECT_EQ(Get(0x202), 1);
}

TEST_F(Output, OwnParametersAreEnumeratedAfterTheBase) {
    ASSERT_NE(Create(), nullptr);
    std::vector<int> ids;
    ParamInfo info{};
    for (int i = 0; O()->node.enumParams(O(), i, &info) == 0 && i < 100; ++i) ids.push_back(info.id);
    ASSERT_EQ(ids.size(), static_cast<size_t>(OVERLAY_PARAM_COUNT + 3));
    EXPECT_EQ(ids[OVERLAY_PARAM_COUNT], 0x200);
    EXPECT_EQ(ids[OVERLAY_PARAM_COUNT + 2], 0x202);
    ASSERT_EQ(O()->node.enumParams(O(), OVERLAY_PARAM_COUNT + 1, &info), 0);
    EXPECT_EQ(info.type, PARAM_BOOL);
    EXPECT_EQ(info.flags, 0x402);
    EXPECT_EQ(Set(0x202, 0), 0);
    EXPECT_EQ(Get(0x202), 0);
    EXPECT_EQ(Set(0x200, 1), 0);
    EXPECT_EQ(Get(0x200), 1);
    short small = 1;
    EXPECT_EQ(O()->node.setParam(O(), 0x201, &small, sizeof(small)), ERR_INVALID_PARAM);
}

// --- The driver's start ---

HWND MakeWindow(const wchar_t* title, DWORD style) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = L"FramelaneTest";
        RegisterClassW(&wc);
        registered = true;
    }
    return CreateWindowExW(0, L"FramelaneTest", title, style, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(Output, DriverStartRetriesAndAsksTheMediaPlayerToClose) {
    std::vector<std::pair<HWND, UINT>> posts;
    platform::ui::SetPostObserver([&](HWND h, UINT msg, WPARAM, LPARAM) {
        posts.emplace_back(h, msg);
        return true;
    });
    HWND older = MakeWindow(L"Windows Media", 0);
    HWND popup = MakeWindow(L"Windows Media", WS_POPUP);
    HWND player = MakeWindow(L"Windows Media Player", 0);
    HWND newer = MakeWindow(L"Windows Media", 0);
    ASSERT_TRUE(older && popup && player && newer);
    struct Case {
        const char* what;
        int failures;
        int closeOption;
        int result;
        int initCalls;
        bool posted;
    } cases[] = {
        {"starts at the fourth try", 3, 1, 0, 4, false},
        {"starts once the player is closed", 4, 1, 0, 5, true},
        {"does not start at all", 8, 1, ERR_NOT_SUPPORTED, 8, true},
        {"the option off", 4, 0, ERR_NOT_SUPPORTED, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PVRSim_Reset();
        posts.clear();
        core::ClearShownErrors();
        core::ClearSleepLog();
        ASSERT_NE(Create(), nullptr);
        ASSERT_EQ(Set(0x202, c.closeOption), 0);
        PVRSim_Set("init_failures", c.failures);
        EXPECT_EQ(Start(Yuv(64, 48)), c.result);
        std::string log = SimLog();
        EXPECT_EQ(Count(log, "M24VA_Initialise("), c.initCalls);
        auto sleeps = core::SleepLog();
        EXPECT_GE(std::count(sleeps.begin(), sleeps.end(), 50), std::min(c.initCalls, 4) - 1);
        if (c.posted) {
            ASSERT_EQ(posts.size(), 1u);
            EXPECT_EQ(posts[0].first, older);  // the last one found, front to back
            EXPECT_EQ(posts[0].second, static_cast<UINT>(WM_CLOSE));
        } else {
            EXPECT_TRUE(posts.empty());
        }
        auto errors = core::ShownErrors();
        if (c.result) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].sourceClass, G270_CLASS);
            EXPECT_EQ(errors[0].messageClass, G270_CLASS);
            EXPECT_EQ(errors[0].id, 1024);
            EXPECT_EQ(SimGet("vdisp_initialised"), 0);
        } else {
            EXPECT_TRUE(errors.empty());
            EXPECT_EQ(SimGet("frames"), 3);
        }
        NodeDelete(object);
        object = nullptr;
        EXPECT_EQ(SimGet("m24va_initialised"), 0);
    }
    platform::ui::SetPostObserver(nullptr);
    for (HWND h : {older, popup, player, newer}) DestroyWindow(h);
}

// The media player is asked to close once for an output object, not at every start.
TEST_F(Output, TheMediaPlayerIsAskedToCloseOnce) {
    int posts = 0;
    platform::ui::SetPostObserver([&](HWND, UINT msg, WPARAM, LPARAM) {
        posts += msg == WM_CLOSE;
        return true;
    });
    HWND player = MakeWindow(L"Windows Media", 0);
    ASSERT_NE(player, nullptr);
    ASSERT_NE(Create(), nullptr);
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE(start);
        PVRSim_Set("init_failures", 8);
        PVRSim_ClearLog();
        EXPECT_EQ(Start(Yuv(64, 48)), ERR_NOT_SUPPORTED);
        // Four tries, and four more after the first request to close.
        EXPECT_EQ(Count(SimLog(), "M24VA_Initialise("), start ? 4 : 8);
    }
    EXPECT_EQ(posts, 1);
    platform::ui::SetPostObserver(nullptr);
    DestroyWindow(player);
}

TEST_F(Output, FailuresAfterTheDriverStartReleaseEverything) {
    struct Case {
        const char* what;
        const char* setting;
        long long value;
        int result;
    } cases[] = {
        {"display start fails", "vdisp_failures", 1, ERR_DEVICE_ERROR},
        {"frames cannot be had", "local_memory", 8192, ERR_OUT_OF_MEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PVRSim_Reset();
        ASSERT_NE(Create(), nullptr);
        PVRSim_Set(c.setting, c.value);
        EXPECT_EQ(Start(Yuv(160, 120)), c.result);
        EXPECT_EQ(SimGet("frames"), 0);
        EXPECT_EQ(SimGet("local_memory_used"), 0);
        EXPECT_EQ(SimGet("m24va_initialised"), 0);
        EXPECT_EQ(SimGet("vdisp_initialised"), 0);
        NodeDelete(object);
        object = nullptr;
    }
    // Formats the frames cannot be filled from are refused.
    ASSERT_NE(Create(), nullptr);
    VideoFormat rgb = Rgb565Screen(64, 48);
    EXPECT_EQ(Start(rgb), ERR_NOT_SUPPORTED);
    EXPECT_EQ(SimGet("m24va_initialised"), 0);
}

// --- Colour settings ---

// The conversion the output is to send for the saturation `s` it applies, written out from
// its definition.
VDISP_COLORSPACE Conversion(int s, const int adjust[3]) {
    int r = adjust[0] + 256, g = adjust[1] + 256, b = adjust[2] + 256;
    auto sh = [](long v) { return static_cast<int>(std::floor(v / 256.0)); };
    auto cl = [](int v) { return static_cast<int16_t>(std::clamp(v, -1024, 1023)); };
    VDISP_COLORSPACE c{};
    c.coeff[0] = cl(sh(r * 298L));
    c.coeff[2] = cl(sh(r * static_cast<long>(sh((s + 64) * 1632L))));
    c.coeff[3] = cl(sh(g * 298L));
    c.coeff[4] = cl(sh(g * static_cast<long>(sh((-s - 64) * 400L))));
    c.coeff[5] = cl(sh(g * static_cast<long>(sh((-s - 64) * 832L))));
    c.coeff[6] = cl(sh(b * 298L));
    c.coeff[7] = cl(sh(b * static_cast<long>(sh((s + 64) * 2068L))));
    return c;
}

TEST_F(Output, ColourSettingsFollowTheEffects) {
    ASSERT_NE(Create(), nullptr);
    ASSERT_EQ(Start(Yuv(64, 48)), 0);
    VDISP_COLORSPACE got{};
    ASSERT_EQ(PVRSim_ColorConversion(&got), 0);
    const int none[3] = {0, 0, 0};
    VDISP_COLORSPACE plain = Conversion(0, none);
    EXPECT_EQ(memcmp(got.coeff, plain.coeff, sizeof(got.coeff)), 0);
    EXPECT_EQ(got.coeff[0], 298);  // BT.601's 1.164 in 1/256
    EXPECT_EQ(got.coeff[2], 408);
    struct Case {
        int brightness, contrast, saturation, applied;
        int adjust[3];
    } cases[] = {
        {10, -20, 0, 0, {0, 0, 0}},
        {0, 0, -10, -5, {0, 0, 0}},  // a negative saturation counts half
        {0, 0, -7, -4, {0, 0, 0}},
        {0, 0, 30, 30, {-40, 12, 7}},
        {-128, 127, 63, 63, {500, 0, -300}},  // clamped to -1024..1023
    };
    for (const auto& c : cases) {
        PVRSim_ClearLog();
        VideoEffects fx = O()->fx;
        fx.brightness = c.brightness, fx.contrast = c.contrast, fx.saturation = c.saturation;
        for (int i = 0; i < 3; ++i) fx.rgbAdjust[i] = c.adjust[i];
        ASSERT_EQ(O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
        ASSERT_EQ(PVRSim_ColorConversion(&got), 0);
        VDISP_COLORSPACE want = Conversion(c.applied, c.adjust);
        for (int i = 0; i < 9; ++i) EXPECT_EQ(got.coeff[i], want.coeff[i]) << c.saturation << " coefficient " << i;
        EXPECT_EQ(SimGet("brightness"), c.brightness + 128);
        EXPECT_EQ(SimGet("contrast"), c.contrast + 128);
        // The same effects again: nothing is sent.
        PVRSim_ClearLog();
        ASSERT_EQ(O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx)), 0);
        EXPECT_EQ(Count(SimLog(), "VDISP_OverlaySetColorspaceConversion"), 0);
    }
}

// --- The attribute records ---

std::vector<std::string> AttributeSends(const std::string& log) {
    std::vector<std::string> sends;
    for (size_t at = log.find("VDISP_OverlaySetAttributes("); at != std::string::npos;
         at = log.find("VDISP_OverlaySetAttributes(", at + 1))
        sends.push_back(log.substr(at, log.find('\n', at) - at));
    return sends;
}

TEST_F(Output, AttributesAreSentOnlyWhenTheyChange) {
    core::SetPlatformValue(25, 500);  // the platform shows the small first record
    ASSERT_NE(Create(), nullptr);
    ASSERT_EQ(Start(Yuv(160, 120)), 0);
    PVRSim_ClearLog();
    ASSERT_EQ(Viewport(100, 60, 320, 240), 0);
    auto sends = AttributeSends(SimLog());
    ASSERT_EQ(sends.size(), 2u);  // hidden, to the first two frames
    EXPECT_NE(sends[0].find("dst 100,60-420,300 src 0,0-160,120 key 1:0x2004 visible 0 rotation 0}"), std::string::npos)
        << sends[0];

    // The first show: the small record at the origin, a flip, then the record, the first
    // frame's send carrying the visible word.
    PVRSim_ClearLog();
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    std::string log = SimLog();
    sends = AttributeSends(log);
    ASSERT_EQ(sends.size(), 4u) << log;
    EXPECT_NE(sends[0].find("dst 0,0-16,16 src 0,0-16,16 key 1:0x2004 visible 1"), std::string::npos) << sends[0];
    EXPECT_NE(sends[0].find(", 1) = 0"), std::string::npos) << sends[0];
    EXPECT_NE(sends[1].find(", 0) = 0"), std::string::npos) << sends[1];
    EXPECT_NE(sends[2].find("dst 100,60-420,300 src 0,0-160,120 key 1:0x2004 visible 1 rotation 0}"), std::string::npos);
    EXPECT_NE(sends[2].find(", 1) = 0"), std::string::npos);
    EXPECT_LT(log.find("VDISP_OverlayFlipSurface"), log.find(sends[2]));
    VDISP_ATTRIBUTES a{};
    ASSERT_EQ(PVRSim_Attributes(&a), 0);
    EXPECT_EQ(a.magic, 0x77);
    EXPECT_EQ(a.keyEnable, 1u);

    // The same again: the overlay is left alone.
    PVRSim_ClearLog();
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    EXPECT_TRUE(AttributeSends(SimLog()).empty());

    // Moved while shown: hidden, flipped, shown at the new place.
    PVRSim_ClearLog();
    ASSERT_EQ(Viewport(0, 0, 160, 120), 0);
    log = SimLog();
    sends = AttributeSends(log);
    ASSERT_EQ(sends.size(), 4u) << log;
    EXPECT_NE(sends[0].find("dst 0,0-160,120 src 0,0-160,120 key 1:0x2004 visible 0"), std::string::npos) << sends[0];
    EXPECT_NE(sends[2].find("visible 1"), std::string::npos);
    EXPECT_GT(log.find(sends[2]), log.find("VDISP_OverlayFlipSurface"));

    // Hidden: one pair of sends.
    PVRSim_ClearLog();
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 0), 0);
    sends = AttributeSends(SimLog());
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_NE(sends[0].find("visible 0"), std::string::npos);
}

TEST_F(Output, FirstShowSoonAfterAnotherSkipsTheSmallRecord) {
    ASSERT_NE(Create(), nullptr);
    ASSERT_EQ(Start(Yuv(160, 120)), 0);
    ASSERT_EQ(Viewport(100, 60, 320, 240), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 0), 0);
    ASSERT_EQ(Start(Yuv(160, 120)), 0);  // a new output: first show again, but just after one
    PVRSim_ClearLog();
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    auto sends = AttributeSends(SimLog());
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_NE(sends[0].find("dst 100,60-420,300"), std::string::npos);
}

// --- Frames ---

class IdctOutput : public Output {
protected:
    IdctFace* f = nullptr;
    void Open(int w, int h) {
        ASSERT_NE(Create(), nullptr);
        f = O()->idctFace;
        int v = w;
        f->setParam(f, IDCT_WIDTH, &v, sizeof(v));
        v = h;
        f->setParam(f, IDCT_HEIGHT, &v, sizeof(v));
        VideoFormat fmt = Yuv(w, h);
        ASSERT_EQ(f->setParam(f, IDCT_FORMAT, &fmt, sizeof(fmt)), 0);
    }
    int SetFace(int id, int value) { return f->setParam(f, id, &value, sizeof(value)); }
    int GetFace(int id) {
        int v = -999;
        EXPECT_EQ(f->getParam(f, id, &v, sizeof(v)), 0) << id;
        return v;
    }
};

TEST_F(IdctOutput, FrameCountsAndBlackFrames) {
    Open(64, 48);
    EXPECT_EQ(GetFace(IDCT_COUNT), 2);  // 3 less the IDCT face's own
    struct Case {
        int asked, result, count;
    } cases[] = {{7, ERR_INVALID_PARAM, 2}, {6, 0, 6}, {1, 0, 2}, {3, 0, 3}, {-1, ERR_INVALID_PARAM, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(SetFace(IDCT_COUNT, c.asked), c.result) << c.asked;
        EXPECT_EQ(GetFace(IDCT_COUNT), c.count) << c.asked;
        EXPECT_EQ(SimGet("frames"), c.count) << c.asked;
    }
    // New frames are black: luma 0, chroma 128, in the IMC4 layout.
    for (int i = 0; i < 3; ++i) {
        void* planes[3];
        int brightness;
        VideoFormat fmt{};
        ASSERT_EQ(f->lockBuffer(f, i, planes, &brightness, &fmt), 0);
        auto* y = static_cast<uint8_t*>(planes[0]);
        EXPECT_EQ(planes[1], y + fmt.pitch * 48);
        EXPECT_EQ(planes[2], y + fmt.pitch * 48 + fmt.pitch / 2);
        EXPECT_EQ(y[47 * fmt.pitch + 63], 0);
        EXPECT_EQ(static_cast<uint8_t*>(planes[1])[23 * fmt.pitch + 31], 128);
        EXPECT_EQ(static_cast<uint8_t*>(planes[2])[23 * fmt.pitch + 31], 128);
        f->unlockBuffer(f, i);
    }
}

// The frames live in video memory alone: making them, failing to make more and releasing
// them leave the system memory as it was.
TEST_F(IdctOutput, FramesHoldNoSystemMemory) {
    int before = core::SurfacesHeld();
    Open(64, 48);
    EXPECT_EQ(core::SurfacesHeld(), before);
    ASSERT_EQ(SetFace(IDCT_COUNT, 4), 0);
    EXPECT_EQ(core::SurfacesHeld(), before);
    // Room for one more frame: five are asked, none is kept.
    ASSERT_EQ(SetFace(IDCT_COUNT, 3), 0);
    ASSERT_EQ(PVRSim_Set("local_memory", SimGet("local_memory_used") * 4 / 3), 0);
    int held = core::SurfacesHeld();
    EXPECT_EQ(SetFace(IDCT_COUNT, 5), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(GetFace(IDCT_COUNT), 3);
    EXPECT_EQ(core::SurfacesHeld(), held);
    ASSERT_EQ(Set(OVERLAY_RELEASE, 1), 0);
    EXPECT_EQ(core::SurfacesHeld(), before);
}

TEST_F(IdctOutput, AtMostOneFrameSendsNothingToTheOverlay) {
    Open(64, 80);
    ASSERT_EQ(SetFace(IDCT_COUNT, 0), 0);
    EXPECT_EQ(SimGet("frames"), 0);
    long long before = SimGet("attribute_sends");
    ASSERT_EQ(Viewport(0, 0, 64, 80), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    EXPECT_EQ(SimGet("attribute_sends"), before);
    // Memory for one frame only: three are asked, none is kept, and still nothing is sent.
    ASSERT_EQ(PVRSim_Set("local_memory", 8192), 0);
    EXPECT_EQ(SetFace(IDCT_COUNT, 3), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(GetFace(IDCT_COUNT), 0);
    EXPECT_EQ(SimGet("frames"), 0);
    ASSERT_EQ(Viewport(8, 8, 64, 80), 0);
    EXPECT_EQ(SimGet("attribute_sends"), before);
    // One frame: two upright frames (64 x 80, two pages each) fill the memory, and a quarter
    // turn makes them anew 80 high, at the chip's pitch of 96: three pages each, one fits.
    ASSERT_EQ(PVRSim_Set("local_memory", 1 << 20), 0);
    ASSERT_EQ(SetFace(IDCT_COUNT, 1), 0);
    ASSERT_EQ(SimGet("frames"), 2);
    ASSERT_EQ(PVRSim_Set("local_memory", SimGet("local_memory_used")), 0);
    VideoEffects fx = O()->fx;
    fx.direction = DIR_SWAPXY | DIR_MIRRORY;
    O()->node.setParam(O(), OVERLAY_EFFECTS, &fx, sizeof(fx));
    ASSERT_EQ(SimGet("frames"), 1);
    ASSERT_EQ(Viewport(0, 0, 64, 80), 0);
    EXPECT_EQ(SimGet("attribute_sends"), before);
}

TEST_F(Output, BlitNeedsAStartedOutput) {
    ASSERT_NE(Create(), nullptr);
    Picture p(64, 48);
    EXPECT_EQ(O()->blitFrame(O(), p.Planes(), p.pitches), ERR_DEVICE_ERROR);
}

TEST_F(Output, DriverLossRebuildsTheOutputInPlace) {
    ASSERT_NE(Create(), nullptr);
    ASSERT_EQ(Start(Yuv(64, 48)), 0);
    ASSERT_EQ(Viewport(10, 10, 64, 48), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
    PVRSim_FillDesktop(10, 10, 64, 48, kKey565);
    Picture p(64, 48);
    std::fill(p.y.begin(), p.y.end(), 200);
    std::fill(p.u.begin(), p.u.end(), 128);
    std::fill(p.v.begin(), p.v.end(), 128);
    PVRSim_Set("lose_after", 0);
    PVRSim_ClearLog();
    ASSERT_EQ(O()->blitFrame(O(), p.Planes(), p.pitches), 0);
    std::string log = SimLog();
    EXPECT_NE(log.find("= 5\n"), std::string::npos);
    EXPECT_NE(log.find("M24VA_Deinitialise() = 0\nM24VA_Initialise(0) = 0"), std::string::npos) << log;
    EXPECT_EQ(SimGet("lost"), 0);
    EXPECT_EQ(SimGet("frames"), 3);
    // Shown again once the output is updated.
    ASSERT_EQ(Viewport(10, 10, 64, 48), 0);
    ASSERT_EQ(O()->blitFrame(O(), p.Planes(), p.pitches), 0);
    auto rgb = ScanOut();
    EXPECT_NEAR(rgb[(20 * 800 + 20) * 3 + 1], std::lround((200 - 16) * 298 / 256.0), 1);
}

TEST_F(Output, ReleaseEndsEverything) {
    ASSERT_NE(Create(), nullptr);
    PVRSim_ClearLog();
    EXPECT_EQ(Set(OVERLAY_RELEASE, 1), 0);  // nothing started: nothing to do
    EXPECT_EQ(Count(SimLog(), "M24VA_"), 0);
    struct Case {
        const char* what;
        int how;  // 0 release request, 1 empty output format, 2 delete the object
    } cases[] = {{"release request", 0}, {"empty format", 1}, {"object deleted", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!object) {
            ASSERT_NE(Create(), nullptr);
        }
        ASSERT_EQ(Start(Yuv(64, 48)), 0);
        ASSERT_EQ(Viewport(0, 0, 64, 48), 0);
        ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0);
        EXPECT_GT(SimGet("local_memory_used"), 0);
        if (c.how == 0) {
            EXPECT_EQ(Set(OVERLAY_RELEASE, 1), 0);
        } else if (c.how == 1) {
            EXPECT_EQ(O()->node.setParam(O(), OVERLAY_OUTPUT, nullptr, 0), 0);
        }
        if (c.how == 2) {
            NodeDelete(object);
            object = nullptr;
        }
        EXPECT_EQ(SimGet("frames"), 0);
        EXPECT_EQ(SimGet("local_memory_used"), 0);
        EXPECT_EQ(SimGet("m24va_initialised"), 0);
        EXPECT_EQ(SimGet("vdisp_initialised"), 0);
    }
}

// --- Frame timing, through the face ---

TEST_F(IdctOutput, LateAndRepeatedFramesAreRefused) {
    struct Case {
        const char* what;
        int oldDriver;
        int registers;      // 1 present, 0 absent, 2 unreadable
        int line;           // frozen scan line; -1 running
        int panelRotation;
        int late;
        int result;
    } cases[] = {
        {"on time", 0, 1, -1, 0, 654, 0},
        {"late, dropped at once", 0, 1, -1, 0, 655, ERR_READ},
        {"old driver, scan near the end", 1, 1, 470, 0, 700, 0},
        {"old driver, scan far from the end", 1, 1, 20, 0, 700, ERR_READ},
        {"old driver, far too late", 1, 1, 470, 0, 983, ERR_READ},
        {"old driver, no chip id", 1, 0, 470, 0, 700, ERR_READ},
        {"old driver, registers unreadable", 1, 2, 470, 0, 700, ERR_READ},
        {"old driver, panel turned", 1, 1, 470, 90, 700, ERR_READ},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PVRSim_Reset();
        if (object) NodeDelete(object);
        object = nullptr;
        PVRSim_Set("registers", c.registers);
        PVRSim_Set("panel_rotation", c.panelRotation);
        if (c.line >= 0) PVRSim_Set("scanline", c.line);
        Open(64, 48);
        ASSERT_EQ(Set(0x200, c.oldDriver), 0);
        ASSERT_EQ(Viewport(0, 0, 64, 48), 0);  // the display is queried again
        int previous;
        ASSERT_EQ(f->frameStart(f, 1, &previous, 0, -1, -1, 0, 0), 0);
        IdctFrameEnd end{0, 10000};
        EXPECT_EQ(f->frameEnd(f, 10000 + c.late, &end), c.result);
    }
    // A repeated frame time is refused unless repeats are allowed; nothing to show: -6.
    int previous;
    ASSERT_EQ(f->frameStart(f, 2, &previous, 1, -1, -1, 1, 0), 0);
    IdctFrameEnd end{0, 20000};
    EXPECT_EQ(f->frameEnd(f, 20000, &end), 0);
    EXPECT_EQ(f->frameEnd(f, 20000, &end), ERR_READ);
    ASSERT_EQ(Set(OVERLAY_REPEAT, 1), 0);
    EXPECT_EQ(f->frameEnd(f, 20000, &end), 0);
    ASSERT_EQ(SetFace(IDCT_NOTHING_TO_SHOW, 0), 0);
    EXPECT_EQ(f->frameEnd(f, 20000, &end), ERR_NO_FRAME);
}

}  // namespace
}  // namespace fltest
