// The plug-in frame: version check of each plug-in file, and the media-time rule.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/testing.h"
#include "plugin/frame.h"

namespace {

TEST(MulDiv, TruncatesTowardZeroAndGivesZeroForZeroDivisor) {
    struct Case { int a, b, c, expected; };
    const Case cases[] = {
        {1000, 16384, 1000, 16384}, {-1, 16384, 1000, -16}, {5, 7, 0, 0},   {1, 16384, 1000, 16},
        {999, 1, 1000, 0},          {-999, 1, 1000, 0},     {0x7FFFFFFF, 16384, 16384, 0x7FFFFFFF},
        {3000000, 16384, 1000, 49152000},
    };
    for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " " << c.b << " " << c.c;
    // Beyond 32 bits the low 32 bits are kept.
    EXPECT_EQ(MulDiv(0x40000000, 8, 1), 0);
}

class PluginFile : public ::testing::TestWithParam<const char*> {};

TEST_P(PluginFile, RefusesOtherInterfaceVersions) {
    const char* dist = std::getenv("LUMEO_DIST_DIR");
    if (!dist) dist = CORE_TEST_DIST_DIR;
    std::string path = std::string(dist) + "/" + GetParam() + ".plg";
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    auto reg = reinterpret_cast<int (*)(int)>(dlsym(h, "DLLRegister"));
    auto unreg = reinterpret_cast<int (*)()>(dlsym(h, "DLLUnRegister"));
    ASSERT_NE(reg, nullptr);
    ASSERT_NE(unreg, nullptr);
    core::ClearRegistryLog();
    EXPECT_EQ(reg(527), ERR_INVALID_VERSION);
    EXPECT_EQ(reg(529), ERR_INVALID_VERSION);
    EXPECT_TRUE(core::RegistryLog().empty());  // nothing registered
    EXPECT_EQ(reg(528), 0);
    unreg();
    dlclose(h);
}

INSTANTIATE_TEST_SUITE_P(All, PluginFile, ::testing::Values("splitter", "tagsift", "network", "pixelway", "framelane"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return std::string(i.param); });

}  // namespace
