#include <gtest/gtest.h>

#include <thread>

#include "platform/com.h"
#include "platform/crt.h"
#include "platform/xmldom.h"
#include "program_folder.h"

namespace {

TEST(CoInitializeEx, CountsPerThread) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        std::thread([] {
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);  // another thread starts afresh
            CoUninitialize();
        }).join();
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
        int reserved = 0;
        EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
    }).join();
}

class XmlDom : public ProgramFolder {
protected:
    XmlDocument Load(const std::string& text) {
        Write("d.xml", text);
        XmlDocument doc;
        EXPECT_TRUE(doc.load(Phone("d.xml"))) << doc.parseErrorReason().GetString();
        return doc;
    }
};

TEST_F(XmlDom, SelectionsInDocumentOrderWithTextsAndAttributes) {
    XmlDocument doc = Load("<r><a k=' v '>1</a><b><a>2<c>x</c>3</a></b><a/></r>");
    XmlNodeList list;
    ASSERT_EQ(doc.selectNodes(L"//a", list), S_OK);
    LONG n = 0;
    list.get_length(&n);
    ASSERT_EQ(n, 3);
    XmlNode node;
    CStringW text;
    const wchar_t* texts[] = {L"1", L"2x3", L""};
    for (LONG i = 0; i < n; ++i) {
        ASSERT_EQ(list.get_item(i, node), S_OK);
        node.get_text(text);
        EXPECT_EQ(text, texts[i]);
    }
    EXPECT_EQ(list.get_item(3, node), S_FALSE);
    EXPECT_FALSE(node);

    ASSERT_EQ(doc.selectSingleNode(L"//a", node), S_OK);
    XmlNode attr;
    ASSERT_EQ(node.getNamedItem(L"k", attr), S_OK);
    attr.get_text(text);
    EXPECT_EQ(text, L"v");
    EXPECT_EQ(node.getNamedItem(L"none", attr), S_FALSE);
    EXPECT_EQ(node.selectSingleNode(L"c", attr), S_FALSE);  // relative to the node: its own children only
    EXPECT_EQ(doc.selectNodes(L"//a[", list), E_INVALIDARG);
}

TEST_F(XmlDom, NodesOutliveTheirDocumentObject) {
    XmlNode node;
    {
        XmlDocument doc = Load("<r><s>kept</s></r>");
        doc.selectSingleNode(L"//s", node);
    }
    CStringW text;
    ASSERT_EQ(node.get_text(text), S_OK);
    EXPECT_EQ(text, L"kept");
}

TEST_F(XmlDom, TooLargeFileIsRefused) {
    Write("big.xml", "<r>" + std::string(XmlDocument::kMaxFileBytes, 'x') + "</r>");
    XmlDocument doc;
    EXPECT_FALSE(doc.load(Phone("big.xml")));
    EXPECT_FALSE(doc.parseErrorReason().IsEmpty());
}

TEST(Crt, NumbersAreReadIn32Bits) {
    struct Case {
        const wchar_t* text;
        LONG value;
    } cases[] = {
        {L"abc", 0},         {L"  -17x", -17},          {L"+5", 5},  {L"2147483647", 2147483647},
        {L"3000000000", 2147483647}, {L"-99999999999", INT32_MIN}, {L"", 0}, {L"\t12", 12},
    };
    for (const Case& c : cases) EXPECT_EQ(_wtol(c.text), c.value) << c.text;
    const wchar_t* end = nullptr;
    EXPECT_EQ(platform::WcsToLong32(L"12ab", &end, 10), 12);
    EXPECT_EQ(*end, L'a');
}

}  // namespace
