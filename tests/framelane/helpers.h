// framelane.plg on the simulated chip: loading, objects, frames and the scan-out.
#pragma once

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/common.h"
#include "core/testing.h"
#include "pvrvadd.h"

#define G270_CLASS FOURCC('2', '7', '0', 'G')
#define I270_CLASS FOURCC('2', '7', '0', 'I')

namespace fltest {

// The plug-in file, registered with the core; the driver is found in the program folder.
struct PluginFile {
    void* handle = nullptr;
    int (*reg)(int) = nullptr;
    int (*unreg)() = nullptr;
    PluginFile() {
        setenv("LUMEO_DLL_PATH", LUMEO_TEST_DIST_DIR, 1);
        handle = dlopen(LUMEO_TEST_DIST_DIR "/framelane.plg", RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        reg = reinterpret_cast<int (*)(int)>(dlsym(handle, "DLLRegister"));
        unreg = reinterpret_cast<int (*)()>(dlsym(handle, "DLLUnRegister"));
    }
    ~PluginFile() {
        if (handle) dlclose(handle);
    }
};

inline long long SimGet(const char* name) {
    long long v = -12345;
    EXPECT_EQ(PVRSim_Get(name, &v), 0) << name;
    return v;
}

inline std::string SimLog() {
    int n = PVRSim_Log(nullptr, 0);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    PVRSim_Log(s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

inline int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

inline VideoFormat Rgb565Screen(int w, int h) {
    VideoFormat f{};
    f.width = w;
    f.height = h;
    f.aspect = 0x10000;
    DefaultRGB(&f.pixel, 16, 5, 6, 5, 0, 0, 0);
    f.pitch = DefaultPitch(&f);
    return f;
}

inline VideoFormat Yuv(int w, int h, fourcc_t fourcc = FOURCC('I', '4', '2', '0')) {
    VideoFormat f{};
    f.width = w;
    f.height = h;
    f.aspect = 0x10000;
    f.pixel.flags = PF_FOURCC | PF_PLANAR;
    f.pixel.fourcc = fourcc;
    f.pixel.bitCount = 8;
    f.pitch = DefaultPitch(&f);
    return f;
}

// A planar 4:2:0 picture in memory.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> y, u, v;
    Picture() = default;
    Picture(int w, int h) : width(w), height(h), y(static_cast<size_t>(w * h)), u(static_cast<size_t>(w * h / 4)), v(u.size()) {}
    void* planes[3];
    int pitches[3];
    void** Planes() {
        planes[0] = y.data(), planes[1] = u.data(), planes[2] = v.data();
        pitches[0] = width, pitches[1] = pitches[2] = width / 2;
        return planes;
    }
};

// A fresh chip of `screenW` x `screenH`, the core's desktop the same, and an object.
class Output : public ::testing::Test {
protected:
    void SetUp() override {
        PVRSim_Reset();
        ASSERT_NE(plugin.handle, nullptr) << dlerror();
        ASSERT_EQ(plugin.reg(CORE_INTERFACE_VERSION), 0);
        core::SetSleepSkipped(true);
        core::ClearShownErrors();
        Screen(800, 480);
    }
    void TearDown() override {
        // Whatever a test does, the chip never decoded into the picture on screen.
        char why[256] = {};
        PVRSim_LastError(why, sizeof(why));
        EXPECT_EQ(SimGet("screen_faults"), 0) << why;
        if (object) NodeDelete(object);
        object = nullptr;
        plugin.unreg();
        core::SetSleepSkipped(false);
        core::SetDesktop(nullptr);
        core::SetOrientation(false, 0);
        core::SetPlatformValue(25, 0);
        PVRSim_Reset();
    }
    void Screen(int w, int h) {
        PVRSim_Set("screen_width", w);
        PVRSim_Set("screen_height", h);
        VideoFormat s = Rgb565Screen(w, h);
        core::SetDesktop(&s);
        screenW = w, screenH = h;
    }
    Overlay* Create() {
        object = NodeCreate(G270_CLASS);
        return static_cast<Overlay*>(object);
    }
    Overlay* O() { return static_cast<Overlay*>(object); }
    int Set(int id, int value) { return O()->node.setParam(O(), id, &value, sizeof(value)); }
    int Get(int id) {
        int v = -999;
        EXPECT_EQ(O()->node.getParam(O(), id, &v, sizeof(v)), 0) << id;
        return v;
    }
    int Start(const VideoFormat& video) {
        return O()->node.setParam(O(), OVERLAY_OUTPUT, &video, sizeof(video));
    }
    int Viewport(int x, int y, int w, int h) {
        VRect r{x, y, w, h};
        return O()->node.setParam(O(), OVERLAY_VIEWPORT, &r, sizeof(r));
    }
    std::vector<uint8_t> ScanOut() {
        std::vector<uint8_t> rgb(static_cast<size_t>(screenW) * screenH * 3);
        EXPECT_EQ(PVRSim_ScanOut(rgb.data(), screenW, screenH, 1), 0);
        return rgb;
    }

    PluginFile plugin;
    void* object = nullptr;
    int screenW = 0, screenH = 0;
};

// The key colour the output asks for, in the screen's 5-6-5.
constexpr unsigned kKey565 = 0x2004;

}  // namespace fltest
