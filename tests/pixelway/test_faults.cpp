// The AHI_ object against a driver that fails: the results and error numbers users get,
// the bounds on waiting for the hardware, and what is given back on every path.
#include <cstdlib>
#include <cstring>

#include "fixture.h"
#include "platform/registry.h"

namespace {

// Points the plug-in's library look-up at another folder while it lives.
class DllPath {
public:
    explicit DllPath(const std::string& dir) : old_(std::getenv("LUMEO_DLL_PATH") ? std::getenv("LUMEO_DLL_PATH") : "") {
        setenv("LUMEO_DLL_PATH", dir.c_str(), 1);
    }
    ~DllPath() { setenv("LUMEO_DLL_PATH", old_.c_str(), 1); }

private:
    std::string old_;
};

bool Registered(fourcc_t id) { return NodeFindClass(id) != nullptr; }

class Faults : public AhiTest {
protected:
    void SetUp() override {
        AhiTest::SetUp();
        Sim().Screen(320, 240);
    }
    int Output(bool idct) {
        if (!idct) {
            VideoFormat f = I420(96, 64);
            return o->node.setParam(o, OVERLAY_OUTPUT, &f, sizeof(f));
        }
        if (!face()) return ERR_NOT_SUPPORTED;
        int w = 96, h = 64;
        face()->setParam(face(), IDCT_WIDTH, &w, sizeof(w));
        face()->setParam(face(), IDCT_HEIGHT, &h, sizeof(h));
        VideoFormat f = I420(96, 64);
        return face()->setParam(face(), IDCT_FORMAT, &f, sizeof(f));
    }
    // Nothing of the driver is held: no device, no surface, no initialisation owed.
    void ExpectNothingHeld() {
        EXPECT_EQ(Sim().Get("contexts"), 0);
        EXPECT_EQ(Sim().Get("surfaces"), 0);
        EXPECT_EQ(Sim().Get("idct_open"), 0);
    }
};

TEST_F(Faults, CreateRefusesWithoutTheLibraryOrARequiredEntry) {
    struct Case {
        std::string dir;
        bool made;
    } cases[] = {
        {std::string(PIXELWAY_VARIANTS) + "/nowhere", false},
        {std::string(PIXELWAY_VARIANTS) + "/missing-required", false},
        {std::string(PIXELWAY_VARIANTS) + "/missing-optional", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        DllPath path(c.dir);
        void* object = NodeCreate(AHI_);
        EXPECT_EQ(object != nullptr, c.made);
        if (object) {
            // Without the optional entry the free-memory queries answer 0.
            VideoFormat f = I420(96, 64);
            auto* ov = static_cast<Overlay*>(object);
            EXPECT_EQ(ov->node.setParam(ov, OVERLAY_OUTPUT, &f, sizeof(f)), 0);
            for (int id : {0x10E, 0x10F}) {
                int v = -1;
                EXPECT_EQ(ov->node.getParam(ov, id, &v, sizeof(v)), 0);
                EXPECT_EQ(v, 0);
            }
        }
        NodeDelete(object);
        EXPECT_TRUE(Registered(AHI_));
    }
}

TEST_F(Faults, FailedDriverStartStillMakesTheObjectButNoOutput) {
    Sim().Set("init_result", 4);
    Create();
    EXPECT_EQ(face(), nullptr);
    EXPECT_EQ(o->available, 1);
    EXPECT_EQ(Output(false), ERR_DEVICE_ERROR);
    EXPECT_TRUE(core::ShownErrors().empty());
    ExpectNothingHeld();
}

TEST_F(Faults, OutputFailuresGiveTheErrorNumberAndResult) {
    struct Case {
        const char* name;
        const char* setting;
        long long value;
        const char* version;
        bool idct;
        int result;
        int error;  // 0: none shown
    } cases[] = {
        {"no device", "devices", 0, nullptr, false, ERR_DEVICE_ERROR, 0},
        {"every index unusable", "enum_skip_all", 1, nullptr, false, ERR_DEVICE_ERROR, 0},
        {"a device after unusable indexes", "enum_skip", 3, nullptr, false, 0, 0},
        {"driver 1.23", nullptr, 0, "1.23", false, ERR_NOT_SUPPORTED, 514},
        {"driver 1.24", nullptr, 0, "1.24", false, 0, 0},
        {"driver 1.26 with IDCT", nullptr, 0, "1.26", true, ERR_NOT_SUPPORTED, 514},
        {"driver 1.27 with IDCT", nullptr, 0, "1.27", true, 0, 0},
        {"unreadable version", nullptr, 0, "beta", false, 0, 0},
        {"unreadable version with IDCT", nullptr, 0, "beta", true, 0, 0},
        {"open fails", "open_result", 4, nullptr, false, ERR_NOT_SUPPORTED, 513},
        {"open faults", "open_fault", 1, nullptr, false, ERR_NOT_SUPPORTED, 513},
        {"IDCT engine does not open", "idct_open_result", 4, nullptr, true, ERR_NOT_SUPPORTED, 513},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        Sim().Screen(320, 240);
        core::ClearShownErrors();
        // The settings that fail the output, after create (whose enumeration they would stop
        // and whose version check decides the face).
        Create();
        if (c.version) Sim().SetText("version", c.version);
        if (c.setting) Sim().Set(c.setting, c.value);
        EXPECT_EQ(Output(c.idct), c.result);
        auto errors = core::ShownErrors();
        if (c.error) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].sourceClass, AHI_);
            EXPECT_EQ(errors[0].messageClass, AHI_);
            EXPECT_EQ(errors[0].id, c.error);
            if (c.error == 514) {
                EXPECT_EQ(errors[0].argument, std::wstring(c.version, c.version + strlen(c.version)));
            }
        } else {
            EXPECT_TRUE(errors.empty());
        }
        if (c.result != 0) {
            ExpectNothingHeld();
            EXPECT_EQ(o->initialised, 0);
        }
    }
    // Unusable indexes are not asked without end.
    EXPECT_LE(Sim().Calls("AhiDevEnum").size(), 32u);
}

TEST_F(Faults, VersionsDecideTheIdctFaceAtCreate) {
    struct Case {
        const char* version;
        int word6;
        bool face;
    } cases[] = {{"1.26", 1, false}, {"1.27", 1, true}, {"2.0", 1, true}, {"beta", 1, true}, {"1.29", 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        Sim().SetText("version", c.version);
        Sim().Set("word6", c.word6);
        Create();
        EXPECT_EQ(face() != nullptr, c.face);
    }
}

TEST_F(Faults, TooLittleVideoMemoryShowsError512OnceAndKeepsGoing) {
    // Room for one frame buffer only: the output runs, error 512 comes once.
    Sim().Set("mem64", 96 * 64 * 3 / 2);
    Sim().Set("mem32", 0);
    Create();
    ASSERT_EQ(Output(false), 0);
    ASSERT_EQ(SetInt(OVERLAY_FULLYVISIBLE, 1), 0);
    VRect v{10, 10, 96, 64};
    ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
    ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
    ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
    std::vector<uint8_t> frame(96 * 64 * 3 / 2, 128);
    EXPECT_EQ(Blit(frame, 96, 64), 0);
    auto errors = core::ShownErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].id, 512);
    EXPECT_EQ(Sim().Get("surfaces"), 2);  // the buffer and its turned view
}

TEST_F(Faults, NoVideoMemoryAtAllFailsTheUpdate) {
    Sim().Set("mem64", 0);
    Sim().Set("mem32", 0);
    Sim().Set("offscreen", 0);
    Create();
    ASSERT_EQ(Output(false), 0);
    VRect v{10, 10, 96, 64};
    EXPECT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), ERR_OUT_OF_MEMORY);
    std::vector<uint8_t> frame(96 * 64 * 3 / 2, 128);
    EXPECT_EQ(Blit(frame, 96, 64), ERR_INVALID_PARAM);
    auto errors = core::ShownErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].id, 512);
}

TEST_F(Faults, DisplayMemoryIsReusedOnlyWhileTheOutputIsNotFullyVisible) {
    Sim().Set("mem64", 0);
    Sim().Set("mem32", 0);
    Create();
    ASSERT_EQ(Output(false), 0);
    VRect v{10, 10, 96, 64};
    ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
    EXPECT_GT(Sim().Get("used_offscreen"), 0);
    EXPECT_EQ(core::WaitDisableLog().back(), 1);
    EXPECT_EQ(o->colorKey, COLORKEY_NONE);
    // Fully visible again: the reused memory goes back and the device bitmaps may return.
    EXPECT_EQ(SetInt(OVERLAY_FULLYVISIBLE, 1), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(Sim().Get("used_offscreen"), 0);
    EXPECT_EQ(core::WaitDisableLog().back(), 0);
    EXPECT_EQ(Sim().Get("errors"), 0);
}

TEST_F(Faults, AFailedPlaneLockUndoesTheOthers) {
    Create();
    ASSERT_EQ(Output(false), 0);
    VRect v{10, 10, 96, 64};
    ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
    Sim().Set("lock_fail", AHI_PLANE_U);
    std::vector<uint8_t> frame(96 * 64 * 3 / 2, 128);
    Sim().ClearLog();
    EXPECT_EQ(Blit(frame, 96, 64), ERR_DEVICE_ERROR);
    EXPECT_EQ(Sim().Calls("AhiSurfLock").size(), 2u);
    EXPECT_EQ(Sim().Calls("AhiSurfUnlock").size(), 1u);
    EXPECT_EQ(Sim().Get("errors"), 0);
}

// The chip's display-control register: switched to the direct overlay for a full-screen
// output on the 3200 part only, at a vertical blank, within a bounded wait.
TEST_F(Faults, RegisterSwitchTouchesOnlyThe3200AndWaitsBoundedly) {
    struct Case {
        const char* name;
        uint32_t device;
        int option114;
        bool stuck;
        long long reg414;  // while shown full screen
        int result;
    } cases[] = {
        {"3200", 0x57441002, 1, false, 0x00A10002, 0},
        {"3200, option off", 0x57441002, 0, false, 0x00A10006, 0},
        {"another part", 0x12345678, 1, false, 0x00A10006, 0},
        {"3200, status stuck", 0x57441002, 1, true, 0x00A10006, ERR_DEVICE_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        Sim().Screen(320, 240);
        Sim().Set("device_id", c.device);
        Sim().Set("status_stuck", c.stuck);
        Create();
        ASSERT_EQ(SetInt(0x114, c.option114), 0);
        ASSERT_EQ(Output(false), 0);
        ASSERT_EQ(SetInt(OVERLAY_FULLSCREEN, 1), 0);
        VRect v{0, 0, 320, 240};
        ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
        EXPECT_EQ(SetInt(OVERLAY_VISIBLE, 1), c.result);
        EXPECT_EQ(Sim().Get("reg414"), c.reg414);
        if (c.reg414 == 0x00A10002) {
            // The display was made black behind the direct overlay.
            EXPECT_EQ(Sim().DesktopPixels()[1000], 0);
            ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 0), 0);
            EXPECT_EQ(Sim().Get("reg414"), 0x00A10006);
            ASSERT_EQ(SetInt(OVERLAY_VISIBLE, 1), 0);
        }
        NodeDelete(o);
        o = nullptr;
        EXPECT_EQ(Sim().Get("reg414"), 0x00A10006);
    }
}

TEST_F(Faults, FoundDriverRoutineRunsAfterEveryTerminationUnlessHeld) {
    Create();
    uintptr_t found = 0;
    int small = 0;
    EXPECT_EQ(o->node.getParam(o, 0x10C, &small, sizeof(small)), ERR_INVALID_PARAM);  // an address does not fit
    ASSERT_EQ(o->node.getParam(o, 0x10C, &found, sizeof(found)), 0);
#if defined(__x86_64__)
    EXPECT_NE(found, 0u);
#endif
    ASSERT_EQ(Output(false), 0);
    long long terms = Sim().Get("terms"), calls = Sim().Get("found_calls");
    ASSERT_EQ(SetInt(OVERLAY_RELEASE, 0), 0);
    EXPECT_EQ(Sim().Get("terms"), terms + 1);
    EXPECT_EQ(Sim().Get("found_calls"), calls + (found ? 1 : 0));
    EXPECT_EQ(Sim().Get("init_depth"), 0);
    // A release without an open device does nothing.
    ASSERT_EQ(SetInt(OVERLAY_RELEASE, 0), 0);
    EXPECT_EQ(Sim().Get("terms"), terms + 1);
    // Held: the driver stays initialised between outputs until the hold is cleared.
    ASSERT_EQ(SetInt(0x116, 1), 0);
    ASSERT_EQ(Output(false), 0);
    ASSERT_EQ(SetInt(OVERLAY_RELEASE, 0), 0);
    EXPECT_EQ(Sim().Get("init_depth"), 1);
    ASSERT_EQ(Output(false), 0);
    EXPECT_EQ(Sim().Get("init_depth"), 1);
    ASSERT_EQ(SetInt(OVERLAY_RELEASE, 0), 0);
    ASSERT_EQ(SetInt(0x116, 0), 0);
    EXPECT_EQ(Sim().Get("init_depth"), 0);
    NodeDelete(o);
    o = nullptr;
    EXPECT_EQ(Sim().Get("init_depth"), 0);
    ExpectNothingHeld();
}

// Code pages with two routines that match: neither is taken.
uint32_t g_code[256];
int TwoRoutines(const void*, uint8_t** start, uint8_t** end, int) {
    std::memset(g_code, 0, sizeof(g_code));
    for (int base : {16, 128}) {
        g_code[base] = 0xE92D4070;
        g_code[base + 5] = 0xE3A06A06;
        g_code[base + 8] = 0xE3866002;
    }
    *start = reinterpret_cast<uint8_t*>(g_code);
    *end = reinterpret_cast<uint8_t*>(g_code + 256);
    return 0;
}

TEST_F(Faults, TwoMatchingDriverRoutinesLeaveNoneToCall) {
    core::SetCodeFindPagesHook(TwoRoutines);
    Create();
    core::SetCodeFindPagesHook(nullptr);
    uintptr_t found = 1;
    ASSERT_EQ(o->node.getParam(o, 0x10C, &found, sizeof(found)), 0);
    EXPECT_EQ(found, 0u);
    long long calls = Sim().Get("found_calls");
    NodeDelete(o);
    o = nullptr;
    EXPECT_EQ(Sim().Get("found_calls"), calls);
}

TEST_F(Faults, EverySurfaceGoesBackOnEveryPath) {
    Create();
    ASSERT_EQ(Output(true), 0);
    int three = 3;
    ASSERT_EQ(face()->setParam(face(), IDCT_COUNT, &three, sizeof(three)), 0);
    VRect v{0, 0, 200, 150};  // scaled: intermediate surfaces too
    ASSERT_EQ(o->node.setParam(o, OVERLAY_VIEWPORT, &v, sizeof(v)), 0);
    EXPECT_GT(Sim().Get("surfaces"), 6);
    // Again: the old output goes first.
    ASSERT_EQ(Output(true), 0);
    EXPECT_EQ(Sim().Get("contexts"), 1);
    // A failing re-initialisation leaves nothing behind.
    Sim().Set("idct_open_result", 4);
    EXPECT_EQ(Output(true), ERR_NOT_SUPPORTED);
    ExpectNothingHeld();
    Sim().Set("idct_open_result", 0);
    ASSERT_EQ(Output(true), 0);
    ASSERT_EQ(face()->setParam(face(), IDCT_COUNT, &three, sizeof(three)), 0);
    // Destroyed while the output runs: the core releases it before the destroy.
    NodeDelete(o);
    o = nullptr;
    ExpectNothingHeld();
    EXPECT_EQ(Sim().Get("init_depth"), 0);
    EXPECT_EQ(Sim().Get("used64") + Sim().Get("used32"), 0);
    EXPECT_EQ(Sim().Get("errors"), 0);
}

TEST_F(Faults, TheFaceClassIsRegisteredOnceAndGoesAtUnregister) {
    core::ClearRegistryLog();
    bool before = Registered(AHII);  // an earlier test's object may have registered it
    std::vector<void*> objects;
    for (int i = 0; i < 3; ++i) objects.push_back(NodeCreate(AHI_));
    int registrations = 0;
    for (const auto& e : core::RegistryLog())
        registrations += e.kind == core::RegistryEvent::Register && e.classId == AHII;
    EXPECT_EQ(registrations, before ? 0 : 1);
    EXPECT_TRUE(Registered(AHII));
    const NodeClassDef* def = NodeFindClass(AHII);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->parentId, IDCT_CLASS);
    EXPECT_EQ(def->priority, 1050);
    EXPECT_EQ(NODE_CLASS_FLAGS(def->sizeAndFlags), 8u);
    EXPECT_EQ(def->sizeAndFlags & NODE_SIZE_MASK, 0u);
    for (void* ob : objects) NodeDelete(ob);
    // The entry points: a wrong interface version registers nothing; unregistering takes
    // both classes away.
    PixelwayEntries entries = Pixelway();
    EXPECT_EQ(entries.registerFn(527), ERR_INVALID_VERSION);
    EXPECT_EQ(entries.registerFn(529), ERR_INVALID_VERSION);
    EXPECT_EQ(entries.unregisterFn(), 0);
    EXPECT_FALSE(Registered(AHI_));
    EXPECT_FALSE(Registered(AHII));
    EXPECT_EQ(entries.registerFn(CORE_INTERFACE_VERSION), 0);
    EXPECT_TRUE(Registered(AHI_));
    EXPECT_FALSE(Registered(AHII));
    const NodeClassDef* overlay = NodeFindClass(AHI_);
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->parentId, OVERLAY_CLASS);
    EXPECT_EQ(overlay->priority, 1200);
    EXPECT_EQ(NODE_CLASS_FLAGS(overlay->sizeAndFlags), 3u);
}

// --- Parameters ---

TEST_F(Faults, OverlayParametersReadTheDevice) {
    Sim().SetText("name", "Imageon");
    Sim().SetText("version", "1.31");
    for (int w : {0, 2, 3, 5, 7, 8, 9, 10}) Sim().Set(("word" + std::to_string(w)).c_str(), 100 + w);
    Create();
    tchar text[40];
    ASSERT_EQ(o->node.getParam(o, 0x100, text, sizeof(text)), 0);
    EXPECT_EQ(std::wstring(text), L"Imageon");
    ASSERT_EQ(o->node.getParam(o, 0x101, text, sizeof(text)), 0);
    EXPECT_EQ(std::wstring(text), L"1.31");
    struct Case {
        int id, value;
    } cases[] = {{0x102, 100}, {0x103, 0x57441002}, {0x104, 102}, {0x105, 103}, {0x106, 105}, {0x107, 1},
                 {0x108, 107}, {0x109, 108},        {0x10A, 109}, {0x10B, 110}, {0x110, 1},   {0x113, 1},
                 {0x114, 1},   {0x115, 1},          {0x116, 0}};
    for (const auto& c : cases) {
        int v = -1;
        EXPECT_EQ(GetInt(c.id, &v), 0) << std::hex << c.id;
        EXPECT_EQ(v, c.value) << std::hex << c.id;
    }
    // Free video memory, once a device is open: the largest block times 3, halved.
    ASSERT_EQ(Output(false), 0);
    int free64 = 0, free32 = 0;
    ASSERT_EQ(GetInt(0x10E, &free64), 0);
    ASSERT_EQ(GetInt(0x10F, &free32), 0);
    EXPECT_EQ(free64, Sim().Get("free64") * 3 / 2);
    EXPECT_EQ(free32, Sim().Get("free32") * 3 / 2);
    // The base's parameters first, then the table, ended by the class's row.
    ParamInfo p{};
    int n = 0;
    std::vector<ParamInfo> rows;
    while (o->node.enumParams(o, n, &p) == 0) {
        if (n >= OVERLAY_PARAM_COUNT) rows.push_back(p);
        ++n;
    }
    ASSERT_EQ(rows.size(), 21u);
    EXPECT_EQ(rows[0].id, 0x111);
    EXPECT_EQ(rows[0].type, PARAM_BOOL);
    EXPECT_EQ(rows[0].flags, 0x582);
    EXPECT_EQ(rows[6].id, 0x100);
    EXPECT_EQ(rows[6].type, PARAM_STRING);
    EXPECT_EQ(rows[6].flags, 0x8003);
    EXPECT_EQ(rows[9].id, 0x103);
    EXPECT_EQ(rows[9].flags, 0x803);
    EXPECT_EQ(rows[20].id, 0x10C);
    // Options take 4-byte values only.
    short two = 1;
    EXPECT_EQ(o->node.setParam(o, 0x113, &two, sizeof(two)), ERR_INVALID_PARAM);
    EXPECT_EQ(o->node.setParam(o, 0x111, &two, sizeof(two)), ERR_INVALID_PARAM);
    int v = 0;
    ASSERT_EQ(GetInt(0x111, &v), 0);
    EXPECT_EQ(v, 0);  // no such registry value

    // The option is the GDI driver's machine-wide value, created on the first write.
    int on = 1;
    ASSERT_EQ(o->node.setParam(o, 0x111, &on, sizeof(on)), 0);
    ASSERT_EQ(GetInt(0x111, &v), 0);
    EXPECT_EQ(v, 1);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\GDI\\Drivers\\ATI", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    DWORD stored = 0, type = 0, cb = sizeof(stored);
    EXPECT_EQ(RegQueryValueExW(key, L"DisableDeviceBitmap", nullptr, &type, reinterpret_cast<BYTE*>(&stored), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(stored, 1u);
    // A value of another type reads as off.
    ASSERT_EQ(RegSetValueExW(key, L"DisableDeviceBitmap", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(GetInt(0x111, &v), 0);
    EXPECT_EQ(v, 0);
}

TEST_F(Faults, OrientationHookReadsTheDisplayWhileNoDeviceIsOpen) {
    struct Case {
        int orientation, mirror;
        const char* version;
        int direction;
    } cases[] = {{0, 0, "1.29", 0}, {1, 0, "1.29", 3}, {2, 0, "1.29", 6}, {3, 0, "1.29", 5},
                 {0, 2, "1.29", 2}, {0, 1, "1.29", 4}, {1, 0, "1.23", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        NodeDelete(o);
        o = nullptr;
        Sim().Reset();
        Sim().Set("orientation", c.orientation);
        Sim().Set("mirror", c.mirror);
        Sim().SetText("version", c.version);
        Create();
        core::SetOrientation(false, 0);
        ASSERT_EQ(Context()->orientationHookObject, o);
        EXPECT_EQ(GetOrientation(), c.direction);
        EXPECT_EQ(Sim().Get("contexts"), 0);
        EXPECT_EQ(Sim().Get("init_depth"), 0);
    }
    NodeDelete(o);
    o = nullptr;
    EXPECT_EQ(Context()->orientationHook, nullptr);
}

}  // namespace
