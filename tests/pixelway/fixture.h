// Shared by the pixelway tests: the plug-in file and the simulated driver it loads, both
// from the program folder, and helpers to drive an AHI_ object.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ace_ddi.h"
#include "core/common.h"
#include "core/testing.h"

#define AHI_ FOURCC('A', 'H', 'I', '_')
#define AHII FOURCC('A', 'H', 'I', 'I')

// The driver's test entry points, looked up in the very library the plug-in loads.
struct SimAti {
    HMODULE module;  // the driver library itself, for tests that use it as another client
    void (*Reset)();
    int (*Set)(const char*, long long);
    int (*SetText)(const char*, const char*);
    long long (*Get)(const char*);
    int (*CallLog)(char*, int);
    void (*ClearLog)();
    int (*SurfRead)(AhiSurf, int, uint8_t*, int);
    int (*SurfWrite)(AhiSurf, int, const uint8_t*, int);
    AhiSurf (*Overlay)(AhiOverlayPos*);
    int (*Screen)(int, int);
    int (*Active)();
    int (*Desktop)(uint16_t*, int, int);
    int (*ScanOut)(uint8_t*, int, int);
    int (*Residuals)(int16_t*, int);
    int (*LastGroups)(AhiCoefGroup*, int);

    std::string Log() const;
    // Lines of the log that start with `prefix`.
    std::vector<std::string> Calls(const std::string& prefix) const;
    std::vector<uint8_t> Screenshot() const;  // RGB, screen size
    std::vector<uint16_t> DesktopPixels() const;
    int Width() const { return static_cast<int>(Get("screen_width")); }
    int Height() const { return static_cast<int>(Get("screen_height")); }
};

// The simulated driver, loaded once (as the plug-in loads it: by name, LUMEO_DLL_PATH first).
SimAti& Sim();
// pixelway.plg, loaded and registered once.
void LoadPixelway();
struct PixelwayEntries {
    int (*registerFn)(int);
    int (*unregisterFn)();
};
PixelwayEntries Pixelway();

VideoFormat I420(int w, int h, int direction = 0);

// An AHI_ object and the calls a player makes on it.
class AhiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Creates the object (after the driver's configuration is set).
    void Create();
    int SetInt(int id, int value);
    int GetInt(int id, int* value);
    // The output format (initOutput), then fully visible, the viewport, the effects'
    // direction and visible; 0 or the first failure.
    int Start(int w, int h, VRect viewport, int direction = 0);
    int Blit(const std::vector<uint8_t>& i420, int w, int h);
    // What the window system does for a keyed overlay: the viewport (on a screen that is
    // not turned) painted in the key colour.
    void PaintKey();
    Overlay* o = nullptr;
    IdctFace* face() const { return o ? o->idctFace : nullptr; }
};

// A planar 4:2:0 frame of w x h: Y, then U, then V.
std::vector<uint8_t> ReadFile(const std::string& path);
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
