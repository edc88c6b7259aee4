// The web API host taken from the environment at first use.
#include <gtest/gtest.h>

#include <cstdlib>

#include "listview.h"

namespace {

// Before main, as the program's environment would be.
const bool g_envSet = [] { return setenv("LUMEO_API_HOST", "media.example.test:8088", 1) == 0; }();

TEST(ApiHostEnvironment, OverridesTheDefaultAndAddressesUseIt) {
    ASSERT_TRUE(g_envSet);
    EXPECT_EQ(GetApiHost(), CStringW(L"media.example.test:8088"));
    CStringW url, path;
    ASSERT_EQ(BuildVersionRequest(url, path), 0);
    EXPECT_EQ(url, CStringW(L"http://media.example.test:8088/openapi-common/getVersionInfo?pid=4f7be1c09a2d6e53&ver=v1.01.15.06007"));
    EXPECT_EQ(SetApiHost(L"127.0.0.1:18080"), 0) << "the program's option still wins";
    EXPECT_EQ(GetApiHost(), CStringW(DEFAULT_API_HOST));
}

}  // namespace
