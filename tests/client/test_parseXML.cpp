#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "parseXML.h"
#include "platform/codepage.h"
#include "platform/com.h"

namespace {

// One item of a list answer; `extra` goes inside the item, `drop` names a child to leave out.
std::string Item(const std::string& vid, const std::string& extra = "", const std::string& drop = "") {
    auto el = [&](const char* name, const std::string& text) {
        return drop == name ? std::string() : "<" + std::string(name) + ">" + text + "</" + name + ">";
    };
    return "<item>" + el("vid", vid) + el("title", "Title " + vid) + el("img", "http://h/" + vid + ".jpg") +
           el("duration", "01:15") + el("pv", "12") + el("desc", "d") + el("totalcomment", "3") + el("user", "u") +
           el("up", "4") + el("down", "5") + el("cats", "c") + el("tags", "t") + el("pubdate", "2010-05-24") +
           extra + "</item>";
}

std::string Seg(const std::string& id, const std::string& size, const std::string& url = "http://h/s.flv") {
    return "<seg><id>" + id + "</id><size>" + size + "</size><seconds>7</seconds><url>" + url + "</url></seg>";
}

std::string Answer(const std::string& status, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss><channel>\n  <status>\n    " + status +
           "\n  </status>\n" + body + "</channel></rss>\n";
}

class ParseXML : public LoggedFolder {
protected:
    int List(const std::string& bytes, int maxTotal = 100) {
        Write("Xml/a.xml", bytes);
        items.clear();
        total = -5;
        return GetVideoList(Phone("Xml/a.xml"), items, total, maxTotal);
    }
    int Update(const std::string& bytes) {
        Write("Xml/u.xml", bytes);
        info = UpdateInfo();
        return GetUpdateInfo(Phone("Xml/u.xml"), info);
    }
    std::vector<VideoItem> items;
    int total = 0;
    UpdateInfo info;
};

TEST_F(ParseXML, ReadsEveryFieldOfAnItem) {
    std::string body = "<total>1</total>" +
                       Item("XMTE", "<stream>" + Seg("0", "1000") + Seg("1", "2000", "http://h/b.flv") + "</stream>");
    ASSERT_EQ(List(Answer("success", body)), 0);
    ASSERT_EQ(items.size(), 1u);
    const VideoItem& v = items[0];
    EXPECT_EQ(v.vid, L"XMTE");
    EXPECT_EQ(v.title, L"Title XMTE");
    EXPECT_EQ(v.img, L"http://h/XMTE.jpg");
    EXPECT_EQ(v.duration, L"01:15");
    EXPECT_EQ(v.pv, 12u);
    EXPECT_EQ(v.totalcomment, 3u);
    EXPECT_EQ(v.up, 4u);
    EXPECT_EQ(v.down, 5u);
    EXPECT_EQ(v.pubdate, L"2010-05-24");
    ASSERT_EQ(v.stream.size(), 2u);
    EXPECT_EQ(v.stream[1].id, 1u);
    EXPECT_EQ(v.stream[1].size, 2000u);
    EXPECT_EQ(v.stream[1].seconds, 7u);
    EXPECT_EQ(v.stream[1].url, L"http://h/b.flv");
    EXPECT_TRUE(v.streamMp4.empty());
    EXPECT_TRUE(v.stream3gp.empty());
    EXPECT_TRUE(Logged("NOTICE "));
    EXPECT_TRUE(Logged("LoadXML : wXML="));
}

TEST_F(ParseXML, TotalIsCappedOrCounted) {
    struct Case {
        std::string totals;
        int maxTotal, expected;
    } cases[] = {
        {"<total>250</total>", 100, 100},
        {"<total>40</total>", 100, 40},
        {"", 100, 3},                                      // none: the records read
        {"<total>9</total><total>9</total>", 100, 3},      // two: as none
        {"<total>abc</total>", 100, 3},                    // no digits: 0, then counted
    };
    for (const Case& c : cases) {
        ASSERT_EQ(List(Answer("success", c.totals + Item("a") + Item("b") + Item("c")), c.maxTotal), 0);
        EXPECT_EQ(total, c.expected) << c.totals;
    }
}

TEST_F(ParseXML, TotalCountsEveryRecordOfTheList) {
    Write("Xml/a.xml", Answer("success", Item("a") + Item("b")));
    std::vector<VideoItem> list(5);  // an earlier page
    int t = 0;
    ASSERT_EQ(GetVideoList(Phone("Xml/a.xml"), list, t, 100), 0);
    EXPECT_EQ(list.size(), 7u);
    EXPECT_EQ(t, 7);
}

TEST_F(ParseXML, StatusMustBeExactlyOneSuccess) {
    struct Case {
        std::string doc, line;
    } cases[] = {
        {Answer("Success", Item("a")), "status!=success"},
        {"<rss><channel>" + Item("a") + "</channel></rss>", "get total failed : 0"},
        {"<rss><channel><status>success</status><status>success</status></channel></rss>", "get total failed : 2"},
    };
    for (const Case& c : cases) {
        ClearLog();
        EXPECT_EQ(List(c.doc), -1);
        EXPECT_TRUE(items.empty());
        EXPECT_TRUE(Logged("WARNING ") && Logged(c.line)) << c.line;
    }
}

TEST_F(ParseXML, BadItemsAreSkippedAndNumbersReadAsWcstol) {
    std::string body = Item("a", "", "title") + Item("b", "<stream>" + Seg("0", "100") + "</stream>", "desc") +
                       Item("c") + "<item><vid>d</vid></item>";
    ASSERT_EQ(List(Answer("success", body)), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].vid, L"c");
    EXPECT_TRUE(items[0].stream.empty());  // nothing carried over from the skipped "b"
    EXPECT_TRUE(Logged("GetNodeString failed"));
    EXPECT_TRUE(Logged("selectSingleNode failed, hr=1"));

    struct Case {
        std::string pv;
        DWORD value;
    } numbers[] = {{"abc", 0}, {"  +42x", 42}, {"3000000000", 2147483647u}, {"-1", 4294967295u}, {"", 0}};
    for (const Case& c : numbers) {
        std::string item = Item("n");
        item.replace(item.find("<pv>12"), 6, "<pv>" + c.pv);
        ASSERT_EQ(List(Answer("success", item)), 0);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].pv, c.value) << c.pv;
    }
}

TEST_F(ParseXML, SegmentListsMissingDoubledOrPartlyBad) {
    std::string body = Item("a", "<stream>" + Seg("0", "1") + "</stream><stream>" + Seg("1", "2") +
                                     "</stream><stream3gp>" + Seg("5", "9") +
                                     "<seg><id>6</id><size>1</size><seconds>1</seconds></seg>" + Seg("7", "9") +
                                     "</stream3gp>");
    ASSERT_EQ(List(Answer("success", body)), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0].stream.empty());
    EXPECT_TRUE(items[0].streamMp4.empty());
    ASSERT_EQ(items[0].stream3gp.size(), 2u);
    EXPECT_EQ(items[0].stream3gp[0].id, 5u);
    EXPECT_EQ(items[0].stream3gp[1].id, 7u);
}

TEST_F(ParseXML, TextsAreTrimmedAndTitlesLoseLineBreaks) {
    std::string item = Item("a");
    item.replace(item.find("<title>"), 7, "<title>\n  Line&#13;\nbreak <![CDATA[<b>]]>");
    item.replace(item.find("<user>u"), 7, "<user>us&#10;er");
    item.replace(item.find("<desc>d"), 7, "<desc>two\nlines");
    ASSERT_EQ(List(Answer("success", item)), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].title, L"Linebreak <b>Title a");
    EXPECT_EQ(items[0].user, L"user");
    EXPECT_EQ(items[0].desc, L"two\nlines");
}

TEST_F(ParseXML, EncodingsOfTheAnswer) {
    struct Case {
        std::string bytes;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"GBK\"?><rss><channel><status>success</status>" +
         Item("\xC8\xC8\xC3\xC5") + "</channel></rss>"},
        {"\xEF\xBB\xBF<rss><channel><status>success</status>" + Item("\xE7\x83\xAD\xE9\x97\xA8") + "</channel></rss>"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(List(c.bytes), 0);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].vid, L"热门");
    }
    // UTF-16LE with its byte-order mark.
    std::string utf8 = "<rss><channel><status>success</status>" + Item("\xE7\x83\xAD") + "</channel></rss>";
    std::wstring wide = platform::Utf8ToWide(utf8);
    std::string utf16 = "\xFF\xFE" + platform::WideToUtf16LeBytes(wide);
    ASSERT_EQ(List(utf16), 0);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].vid, L"热");
}

TEST_F(ParseXML, DocumentsThatDoNotLoad) {
    const std::string cases[] = {
        "not xml at all",
        "",
        Answer("success", Item("a")).substr(0, 120),  // cut short
        "<rss><channel><status>success</status></channel></rss><rss/>",
        "<?xml version=\"1.0\" encoding=\"x-no-such\"?><rss/>",
        "<?xml version=\"1.0\" encoding=\"GBK\"?><rss>\xFF\xFF\xFF</rss>",
    };
    for (const std::string& doc : cases) {
        ClearLog();
        EXPECT_EQ(List(doc), -1) << doc;
        EXPECT_TRUE(Logged("Failed to load DOM from xml:")) << doc;
        EXPECT_TRUE(Logged("LoadXML failed.")) << doc;
    }
    ClearLog();
    std::vector<VideoItem> out;
    int t = 0;
    EXPECT_EQ(GetVideoList(Phone("Xml/none.xml"), out, t, 100), -1);
    EXPECT_TRUE(Logged("LoadXML failed."));
    EXPECT_EQ(GetVideoList(nullptr, out, t, 100), -1);
    EXPECT_TRUE(Logged("XML address is null"));
}

TEST_F(ParseXML, DeepNestingAndManyItems) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<x>";
    deep += "deep";
    for (int i = 0; i < 100000; ++i) deep += "</x>";
    ASSERT_EQ(List(Answer("success", "<total>7</total>" + deep + Item("a"))), 0);
    EXPECT_EQ(items.size(), 1u);
    std::string many;
    for (int i = 0; i < 2000; ++i) many += Item(std::to_string(i));
    ASSERT_EQ(List(Answer("success", many), 100), 0);
    ASSERT_EQ(items.size(), 2000u);
    EXPECT_EQ(items[1999].vid, L"1999");
    EXPECT_EQ(total, 2000);
}

TEST_F(ParseXML, SecondComInitialisationOnAThreadFails) {
    Write("Xml/a.xml", Answer("success", Item("a")));
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        std::vector<VideoItem> out;
        int t = 0;
        EXPECT_EQ(GetVideoList(Phone("Xml/a.xml"), out, t, 100), -1);
        CoUninitialize();
    }).join();
    EXPECT_TRUE(Logged("CoInitializeEx failed : The COM library is already initialized on the calling thread."));
    EXPECT_TRUE(Logged("initXML failed"));
}

TEST_F(ParseXML, UpdateAnswers) {
    auto doc = [](const std::string& update) {
        return "<?xml version=\"1.0\"?><rss><channel><status>success</status>" + update + "</channel></rss>";
    };
    ASSERT_EQ(Update(doc("<update type=\"1\"/>")), 0);
    EXPECT_EQ(info.type, 1);
    ASSERT_EQ(Update(doc("<update type=\"3\"><ver>v1.02</ver><desc> new </desc><down>http://h/p.CAB</down></update>")),
              0);
    EXPECT_EQ(info.type, 3);
    EXPECT_EQ(info.ver, L"v1.02");
    EXPECT_EQ(info.desc, L"new");
    EXPECT_EQ(info.down, L"http://h/p.CAB");

    struct Case {
        std::string doc, line;
    } failures[] = {
        {doc("<update type=\"4\"/>"), "Unknown type=4."},
        {doc("<update type=\"2\"><ver>v</ver><desc>d</desc></update>"), "selectSingleNode failed, hr=1"},
        {doc("<update/>"), "getNamedItem failed, hr=1"},
        {doc(""), "selectSingleNode failed, hr=1"},
        {"<rss><channel><status>failed</status><update type=\"1\"/></channel></rss>", "status!=success, wXML="},
        {"<rss>", "LoadXML failed : wXML="},
    };
    for (const Case& c : failures) {
        ClearLog();
        EXPECT_EQ(Update(c.doc), -1) << c.doc;
        EXPECT_TRUE(Logged(c.line)) << c.line;
    }
}

TEST(SystemTimeToTime, SecondsSince1970) {
    SYSTEMTIME epoch{1970, 1, 4, 1, 0, 0, 0, 0};
    EXPECT_EQ(SystemTimeToTime(epoch), 0);
    SYSTEMTIME t{2010, 5, 1, 24, 13, 45, 30, 0};  // date -u -d '2010-05-24 13:45:30' +%s
    EXPECT_EQ(SystemTimeToTime(t), 1274708730);
    SYSTEMTIME bad{2010, 2, 0, 30, 0, 0, 0, 0};
    EXPECT_EQ(SystemTimeToTime(bad), -1);
}

}  // namespace
