// The class registry and the rules of object creation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common.h"
#include "core/testing.h"

namespace {

#define PARN FOURCC('P', 'A', 'R', 'N')
#define CHLD FOURCC('C', 'H', 'L', 'D')
#define GRND FOURCC('G', 'R', 'N', 'D')

std::vector<std::string> g_calls;

struct Parent {
    Stream base;
    int parentField;
    int seenWord0;
};
struct Child {
    Parent base;
    int childField;
    int parentFieldAtCreate;
    int zeroAtCreate;
};

int ParentCreate(void* p) {
    auto* o = static_cast<Parent*>(p);
    g_calls.push_back("parent create");
    o->seenWord0 = static_cast<int>(NodeClassId(p));
    o->parentField = 7;
    return 0;
}
void ParentDestroy(void*) { g_calls.push_back("parent destroy"); }

int g_childResult = 0;
int ChildCreate(void* p) {
    auto* o = static_cast<Child*>(p);
    g_calls.push_back("child create");
    o->parentFieldAtCreate = o->base.parentField;
    o->zeroAtCreate = o->childField == 0;
    return g_childResult;
}
void ChildDestroy(void*) { g_calls.push_back("child destroy"); }

const NodeClassDef kParent = {NODE_CLASS_SIZE(sizeof(Parent), 0), PARN, STREAM_CLASS, 5, ParentCreate, ParentDestroy};
const NodeClassDef kChild = {NODE_CLASS_SIZE(sizeof(Child), 0), CHLD, PARN, 5, ChildCreate, ChildDestroy};
// Size 0: the parent's size; no create or destroy of its own.
const NodeClassDef kGrand = {NODE_CLASS_SIZE(0, 0), GRND, CHLD, 5, nullptr, nullptr};

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_childResult = 0;
        NodeRegisterClass(&kParent);
        NodeRegisterClass(&kChild);
        NodeRegisterClass(&kGrand);
    }
    void TearDown() override {
        NodeUnRegisterClass(GRND);
        NodeUnRegisterClass(CHLD);
        NodeUnRegisterClass(PARN);
    }
};

TEST_F(Registry, KeepsThePointerAndUnregistersWithDistinctResults) {
    EXPECT_EQ(NodeFindClass(CHLD), &kChild);
    EXPECT_EQ(NodeUnRegisterClass(FOURCC('N', 'O', 'N', 'E')), ERR_INVALID_PARAM);
    // The same record twice: one unregistration leaves the other.
    NodeRegisterClass(&kChild);
    EXPECT_EQ(NodeUnRegisterClass(CHLD), 0);
    EXPECT_EQ(NodeFindClass(CHLD), &kChild);
}

TEST_F(Registry, ObjectsAreZeroButWordZeroAndParentsCreateFirst) {
    auto* o = static_cast<Child*>(NodeCreate(GRND));
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(NodeClassId(o), GRND);
    EXPECT_EQ(static_cast<fourcc_t>(o->base.seenWord0), GRND);  // word 0 is set before any create
    EXPECT_EQ(o->parentFieldAtCreate, 7);
    EXPECT_EQ(o->zeroAtCreate, 1);
    // The stream base filled its slots before the plug-in classes ran.
    EXPECT_NE(reinterpret_cast<Stream*>(o)->readStream, nullptr);
    NodeDelete(o);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"parent create", "child create", "child destroy", "parent destroy"}));
}

TEST_F(Registry, ARefusingCreateUndoesTheParents) {
    g_childResult = ERR_NOT_SUPPORTED;
    EXPECT_EQ(NodeCreate(CHLD), nullptr);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"parent create", "child create", "parent destroy"}));
    EXPECT_EQ(NodeCreate(FOURCC('N', 'O', 'N', 'E')), nullptr);
}

int ReentrantCreate(void*) {
    // A create may register further classes (an overlay registers its IDCT face).
    static const NodeClassDef face = {NODE_CLASS_SIZE(0, NODE_FLAGS_IDCT), FOURCC('F', 'A', 'C', 'E'), IDCT_CLASS,
                                      1050, nullptr, nullptr};
    NodeRegisterClass(&face);
    return 0;
}

TEST(RegistryReentry, ACreateMayRegisterAClass) {
    static const NodeClassDef outer = {NODE_CLASS_SIZE(64, NODE_FLAGS_OVERLAY), FOURCC('O', 'U', 'T', 'R'),
                                       OVERLAY_CLASS, 1200, ReentrantCreate, nullptr};
    NodeRegisterClass(&outer);
    void* o = NodeCreate(FOURCC('O', 'U', 'T', 'R'));
    ASSERT_NE(o, nullptr);
    EXPECT_NE(NodeFindClass(FOURCC('F', 'A', 'C', 'E')), nullptr);
    NodeDelete(o);
    EXPECT_EQ(NodeUnRegisterClass(FOURCC('F', 'A', 'C', 'E')), 0);
    EXPECT_EQ(NodeUnRegisterClass(FOURCC('O', 'U', 'T', 'R')), 0);
}

int OpenOk(void*) { return 0; }
int CreateReader(void* p) {
    static_cast<Format*>(p)->openFormat = OpenOk;
    return 0;
}

TEST(RegistryOrder, ReadersComeByPriorityAndEqualPrioritiesByRegistration) {
    static const NodeClassDef a = {NODE_CLASS_SIZE(sizeof(Format), 0), FOURCC('R', 'D', 'A', '_'), FORMAT_CLASS,
                                   990, CreateReader, nullptr};
    static const NodeClassDef b = {NODE_CLASS_SIZE(sizeof(Format), 0), FOURCC('R', 'D', 'B', '_'), FORMAT_CLASS,
                                   1000, CreateReader, nullptr};
    static const NodeClassDef c = {NODE_CLASS_SIZE(sizeof(Format), 0), FOURCC('R', 'D', 'C', '_'), FORMAT_CLASS,
                                   990, CreateReader, nullptr};
    // A child with no create of its own still reads through its parent's.
    static const NodeClassDef d = {NODE_CLASS_SIZE(0, 0), FOURCC('R', 'D', 'D', '_'), FOURCC('R', 'D', 'B', '_'),
                                   1001, nullptr, nullptr};
    for (auto* def : {&a, &b, &c, &d}) NodeRegisterClass(def);
    fourcc_t ids[8];
    int n = NodeEnumClasses(FORMAT_CLASS, ids, 8);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(ids[0], FOURCC('R', 'D', 'D', '_'));
    EXPECT_EQ(ids[1], FOURCC('R', 'D', 'B', '_'));
    EXPECT_EQ(ids[2], FOURCC('R', 'D', 'A', '_'));
    EXPECT_EQ(ids[3], FOURCC('R', 'D', 'C', '_'));
    for (fourcc_t id : {FOURCC('R', 'D', 'D', '_'), FOURCC('R', 'D', 'C', '_'), FOURCC('R', 'D', 'B', '_'),
                        FOURCC('R', 'D', 'A', '_')})
        NodeUnRegisterClass(id);
}

TEST(RegistryTexts, StringAddStoresAndLogsInOrder) {
    core::ClearRegistryLog();
    const fourcc_t cls = FOURCC('T', 'X', 'T', '_');
    StringAdd(1, cls, NODE_NAME, L"Some Reader ");
    StringAdd(1, cls, NODE_EXTS, L"abc:v");
    static const NodeClassDef def = {0, cls, FORMAT_CLASS, 1, nullptr, nullptr};
    NodeRegisterClass(&def);
    EXPECT_STREQ(NodeString(cls, NODE_NAME), L"Some Reader ");
    EXPECT_STREQ(NodeString(cls, NODE_EXTS), L"abc:v");
    EXPECT_EQ(NodeString(cls, NODE_CONTENTTYPE), nullptr);
    auto log = core::RegistryLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].kind, core::RegistryEvent::String);
    EXPECT_EQ(log[2].kind, core::RegistryEvent::Register);
    EXPECT_EQ(NodeUnRegisterClass(cls), 0);
}

TEST(RegistryTable, EnumTableWalksRowsUpToTheTerminator) {
    const ParamInfo table[] = {{0x100, PARAM_BOOL, 1, 0, 0}, {0x101, PARAM_INT, 0, 0, 0},
                               {static_cast<int>(FOURCC('A', 'B', 'C', 'D')), PARAM_END, 0, 0, 0}};
    ParamInfo out;
    ASSERT_EQ(NodeEnumTable(1, &out, table), 0);
    EXPECT_EQ(out.id, 0x101);
    EXPECT_EQ(out.type, PARAM_INT);
    EXPECT_EQ(NodeEnumTable(2, &out, table), ERR_INVALID_PARAM);
    EXPECT_EQ(NodeEnumTable(-1, &out, table), ERR_INVALID_PARAM);
}

}  // namespace
