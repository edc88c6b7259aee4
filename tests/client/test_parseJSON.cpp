#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"
#include "parseJSON.h"

namespace {

using ParseJSON = LoggedFolder;

TEST_F(ParseJSON, ReadsTheIndexedVideosBelowCount) {
    std::string text = R"({"items": {
        "0": {"encodeVid": "XMTE", "title": "热门视频", "seconds": "75"},
        "2": {"encodeVid": "XMTG", "title": "b", "seconds": "3725"},
        "5": {"encodeVid": "XMTJ", "title": "c", "seconds": "1"}}})";
    std::vector<JsonVideoItem> out;
    ASSERT_EQ(ParseJsonVideoList(text, 3, out), 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].vid, L"XMTE");
    EXPECT_EQ(out[0].title, L"热门视频");
    EXPECT_EQ(out[0].seconds, L"75");
    EXPECT_EQ(out[0].duration, L"01:15");
    EXPECT_EQ(out[1].vid, L"XMTG");
    EXPECT_EQ(out[1].duration, L"01:02:05");
}

TEST_F(ParseJSON, Durations) {
    struct Case {
        const char* seconds;
        const wchar_t* duration;
    } cases[] = {{nullptr, L"00:00"}, {"59", L"00:59"}, {"3600", L"01:00:00"}, {"", L"00:00"},
                 {"abc", L"00:00"},   {"0", L"00:00"},  {"360000", L"100:00:00"}};
    for (const Case& c : cases) {
        nlohmann::json video = {{"encodeVid", "v"}};
        if (c.seconds) video["seconds"] = c.seconds;
        JsonVideoItem record;
        ParseJsonVideoItem(video, record);
        EXPECT_EQ(record.duration, c.duration) << (c.seconds ? c.seconds : "(none)");
    }
}

TEST_F(ParseJSON, IndexOrderAndOddKeys) {
    std::string text = R"({"items": {"10": {"encodeVid": "ten"}, "1": {"encodeVid": "one"},
        "01": {"encodeVid": "bad"}, "x": {}, "-1": {}, "3": [1, 2], "4": {"encodeVid": 7, "title": null}}})";
    std::vector<JsonVideoItem> out;
    ASSERT_EQ(ParseJsonVideoList(text, 2147483647, out), 0);  // no walk over two billion indexes
    ASSERT_EQ(out.size(), 3u);  // "3" is not an object: skipped
    EXPECT_EQ(out[0].vid, L"one");
    EXPECT_TRUE(out[1].vid.IsEmpty());  // "4": members of other types are ignored
    EXPECT_EQ(out[1].duration, L"00:00");
    EXPECT_EQ(out[2].vid, L"ten");
    out.clear();
    EXPECT_EQ(ParseJsonVideoList(text, -5, out), 0);
    EXPECT_TRUE(out.empty());
}

TEST_F(ParseJSON, BadTexts) {
    struct Case {
        std::string text;
        const char* line;
    } cases[] = {
        {"", "fail to read"},
        {"{\"items\": {\"0\": ", "fail to read"},
        {std::string(100000, '[') + std::string(100000, ']'), "can't find \"items\" in json"},
        {"{\"list\": {}}", "can't find \"items\" in json"},
        {"[1, 2]", "can't find \"items\" in json"},
        {"{\"items\": [1]}", "can't find \"items\" in json"},
        {"{\"items\": {\"0\": {\"title\": \"\xFF\"}}}", "fail to read"},
    };
    for (const Case& c : cases) {
        ClearLog();
        std::vector<JsonVideoItem> out;
        EXPECT_EQ(ParseJsonVideoList(c.text, 3, out), -1) << c.line;
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(Logged(c.line) && Logged(".\\parseJSON.cpp(")) << c.line;
    }
}

}  // namespace
