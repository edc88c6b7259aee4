// The 270G output on the simulated chip.
#include <cmath>

#include "helpers.h"

namespace fltest {
namespace {

TEST_F(Output, Smoke) {
    ASSERT_NE(Create(), nullptr);
    Picture p(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) p.y[static_cast<size_t>(y * 64 + x)] = x < 32 ? 60 : 180;
    std::fill(p.u.begin(), p.u.end(), 128);
    std::fill(p.v.begin(), p.v.end(), 128);
    ASSERT_EQ(Start(Yuv(64, 48)), 0) << SimLog();
    PVRSim_FillDesktop(0, 0, 800, 480, 0xFFFF);
    PVRSim_FillDesktop(100, 50, 128, 96, kKey565);
    ASSERT_EQ(Viewport(100, 50, 128, 96), 0);
    ASSERT_EQ(Set(OVERLAY_VISIBLE, 1), 0) << SimLog();
    ASSERT_EQ(O()->blitFrame(O(), p.Planes(), p.pitches), 0);
    auto rgb = ScanOut();
    auto g = [&](int x, int y) { return rgb[(static_cast<size_t>(y) * 800 + x) * 3 + 1]; };
    printf("%d %d %d %d\n", g(110, 60), g(210, 60), g(99, 60), g(230, 60));
    printf("%s\n", SimLog().c_str());
}

}  // namespace
}  // namespace fltest
