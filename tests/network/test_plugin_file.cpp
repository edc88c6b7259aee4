// network.plg as the host loads it: the entry points and the class records.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/common.h"
#include "core/testing.h"
#include "http_stream.h"

namespace {

struct PluginFile {
    void* handle = nullptr;
    int (*reg)(int) = nullptr;
    int (*unreg)() = nullptr;
    PluginFile() {
        handle = dlopen(NETWORK_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        reg = reinterpret_cast<int (*)(int)>(dlsym(handle, "DLLRegister"));
        unreg = reinterpret_cast<int (*)()>(dlsym(handle, "DLLUnRegister"));
    }
    ~PluginFile() {
        if (handle) dlclose(handle);
    }
};

TEST(NetworkPlugin, RegistersOnlyForItsInterfaceVersion) {
    PluginFile plg;
    ASSERT_NE(plg.handle, nullptr) << dlerror();
    ASSERT_NE(plg.reg, nullptr);
    ASSERT_NE(plg.unreg, nullptr);
    core::ClearRegistryLog();
    EXPECT_EQ(plg.reg(527), -15);
    EXPECT_EQ(plg.reg(529), -15);
    EXPECT_TRUE(core::RegistryLog().empty());
    EXPECT_EQ(NodeFindClass(HTTP_CLASS), nullptr);

    ASSERT_EQ(plg.reg(528), 0);
    auto log = core::RegistryLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, core::RegistryEvent::Register);
    EXPECT_EQ(log[0].classId, HTTP_CLASS);
    EXPECT_EQ(log[1].classId, MMS_CLASS);
    const NodeClassDef* http = NodeFindClass(HTTP_CLASS);
    ASSERT_NE(http, nullptr);
    EXPECT_EQ(http->parentId, STREAM_CLASS);
    EXPECT_EQ(http->priority, 1);
    EXPECT_EQ(http->sizeAndFlags & NODE_SIZE_MASK, sizeof(HttpStream));
    EXPECT_EQ(NODE_CLASS_FLAGS(http->sizeAndFlags), 0u);
    EXPECT_NE(http->create, nullptr);
    EXPECT_NE(http->destroy, nullptr);
    const NodeClassDef* mms = NodeFindClass(MMS_CLASS);
    ASSERT_NE(mms, nullptr);
    EXPECT_EQ(mms->parentId, HTTP_CLASS);
    EXPECT_EQ(mms->sizeAndFlags, 0u);
    EXPECT_EQ(mms->create, nullptr);

    // The stream finds InternetGoOnlineW in its WinINet, unless the system lacks it.
    auto* s = static_cast<HttpStream*>(NodeCreate(HTTP_CLASS));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(NodeClassId(s), HTTP_CLASS);
    EXPECT_NE(s->goOnline, nullptr);
    NodeDelete(s);
    setenv("LUMEO_WININET_NO_GOONLINE", "1", 1);
    auto* m = static_cast<HttpStream*>(NodeCreate(MMS_CLASS));
    unsetenv("LUMEO_WININET_NO_GOONLINE");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(NodeClassId(m), MMS_CLASS);
    EXPECT_EQ(m->goOnline, nullptr);
    EXPECT_NE(m->base.readStream, nullptr);
    NodeDelete(m);

    core::ClearRegistryLog();
    EXPECT_EQ(plg.unreg(), 0);
    log = core::RegistryLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].classId, MMS_CLASS);
    EXPECT_EQ(log[1].classId, HTTP_CLASS);
    EXPECT_EQ(NodeFindClass(HTTP_CLASS), nullptr);
}

}  // namespace
