// What splitter.plg, its build that registers the ASF reader, and tagsift.plg register.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asf.h"
#include "core/testing.h"
#include "flv.h"
#include "flvasf_probe.h"

namespace {

using core::RegistryEvent;

struct PluginFile {
    void* handle = nullptr;
    int (*reg)(int) = nullptr;
    int (*unreg)() = nullptr;
    explicit PluginFile(const std::string& relative) {
        std::string path = flvasf::DistDir() + "/" + relative;
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << dlerror();
        if (!handle) return;
        reg = reinterpret_cast<int (*)(int)>(dlsym(handle, "DLLRegister"));
        unreg = reinterpret_cast<int (*)()>(dlsym(handle, "DLLUnRegister"));
    }
    ~PluginFile() {
        if (handle) dlclose(handle);
    }
};

using Names = std::vector<std::string>;

// The classes in the order they were registered (or unregistered), and where FLV_'s texts came.
Names ClassesOf(const std::vector<RegistryEvent>& log, RegistryEvent::Kind kind) {
    Names out;
    for (const RegistryEvent& e : log)
        if (e.kind == kind) out.push_back(core::FourCCText(e.classId));
    return out;
}
Names Registered(const std::vector<RegistryEvent>& log) { return ClassesOf(log, RegistryEvent::Register); }
Names UnRegistered(const std::vector<RegistryEvent>& log) { return ClassesOf(log, RegistryEvent::UnRegister); }

void ExpectFlvTextsBeforeItsClass(const std::vector<RegistryEvent>& log) {
    size_t at = 0;
    while (at < log.size() && !(log[at].kind == RegistryEvent::Register && log[at].classId == FLV_CLASS)) ++at;
    ASSERT_GE(at, 3u);
    struct Text { int id; const wchar_t* text; };
    const Text texts[3] = {{0, L"Flash Video "}, {2, L"flv:v"}, {1, L"video/flv,video/x-flv"}};
    for (int i = 0; i < 3; ++i) {
        const RegistryEvent& e = log[at - 3 + static_cast<size_t>(i)];
        EXPECT_EQ(e.kind, RegistryEvent::String);
        EXPECT_EQ(e.classId, FLV_CLASS);
        EXPECT_EQ(e.id, texts[i].id);
        EXPECT_EQ(e.text, texts[i].text);
    }
}

const fourcc_t MP4F = FOURCC('M', 'P', '4', 'F');

TEST(FlvAsfRegistration, SplitterRegistersFlvAfterMp4AndNotTheAsfReader) {
    PluginFile plg("splitter.plg");
    ASSERT_TRUE(plg.reg && plg.unreg);
    core::ClearRegistryLog();
    ASSERT_EQ(plg.reg(528), 0);
    auto log = core::RegistryLog();
    ExpectFlvTextsBeforeItsClass(log);
    EXPECT_EQ(Registered(log), (Names{"MP4F", "FLV_"}));
    const NodeClassDef* mp4 = NodeFindClass(MP4F);
    ASSERT_NE(mp4, nullptr);
    EXPECT_EQ(mp4->parentId, FORMAT_CLASS);
    EXPECT_EQ(mp4->priority, 1000);
    EXPECT_NE(NodeFindClass(FLV_CLASS), nullptr);
    EXPECT_EQ(NodeFindClass(RASF_CLASS), nullptr);
    EXPECT_EQ(NodeFindClass(RASH_CLASS), nullptr);
    // The texts go with the class.
    ASSERT_NE(NodeString(FLV_CLASS, NODE_NAME), nullptr);
    EXPECT_EQ(std::wstring(NodeString(FLV_CLASS, NODE_NAME)), L"Flash Video ");
    core::ClearRegistryLog();
    EXPECT_EQ(plg.unreg(), 0);
    auto out = core::RegistryLog();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back().kind, RegistryEvent::UnRegister);
    EXPECT_EQ(out.back().classId, FLV_CLASS);
    EXPECT_EQ(UnRegistered(out), (Names{"MP4F", "FLV_"}));
    EXPECT_EQ(NodeFindClass(MP4F), nullptr);
    EXPECT_EQ(NodeFindClass(FLV_CLASS), nullptr);
}

TEST(FlvAsfRegistration, TheAsfBuildAlsoRegistersRasfThenRash) {
    PluginFile plg("asf/splitter-asf.plg");
    ASSERT_TRUE(plg.reg && plg.unreg);
    core::ClearRegistryLog();
    EXPECT_EQ(plg.reg(527), ERR_INVALID_VERSION);
    EXPECT_TRUE(core::RegistryLog().empty());
    ASSERT_EQ(plg.reg(528), 0);
    auto log = core::RegistryLog();
    ExpectFlvTextsBeforeItsClass(log);
    EXPECT_EQ(Registered(log), (Names{"MP4F", "FLV_", "RASF", "RASH"}));
    const NodeClassDef* rasf = NodeFindClass(RASF_CLASS);
    const NodeClassDef* rash = NodeFindClass(RASH_CLASS);
    ASSERT_TRUE(rasf && rash);
    EXPECT_EQ(rasf->parentId, FORMAT_CLASS);
    EXPECT_EQ(rasf->priority, 999);
    EXPECT_EQ(rash->parentId, RASF_CLASS);
    EXPECT_EQ(rash->priority, 1000);
    EXPECT_EQ(rash->sizeAndFlags, 0u);
    core::ClearRegistryLog();
    EXPECT_EQ(plg.unreg(), 0);
    EXPECT_EQ(UnRegistered(core::RegistryLog()), (Names{"MP4F", "FLV_", "RASF", "RASH"}));
}

TEST(FlvAsfRegistration, TagsiftRegistersTheFlvReaderAlone) {
    PluginFile plg("tagsift.plg");
    ASSERT_TRUE(plg.reg && plg.unreg);
    core::ClearRegistryLog();
    ASSERT_EQ(plg.reg(528), 0);
    auto log = core::RegistryLog();
    ExpectFlvTextsBeforeItsClass(log);
    EXPECT_EQ(Registered(log), Names{"FLV_"});
    const NodeClassDef* flv = NodeFindClass(FLV_CLASS);
    ASSERT_NE(flv, nullptr);
    EXPECT_EQ(flv->parentId, FORMAT_CLASS);
    EXPECT_EQ(flv->priority, 990);
    EXPECT_EQ(plg.unreg(), 0);
}

}  // namespace
