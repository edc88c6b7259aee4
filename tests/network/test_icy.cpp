// ICY answers through the HTTP stream: the status line and headers taken from the first
// bytes, metadata blocks taken out of the audio, titles handed to the comment sink.
#include <gtest/gtest.h>

#include <string>

#include "http_server.h"
#include "raw_server.h"
#include "stream_fixture.h"

using testing_support::Pattern;
using testing_support::RawServer;
using testing_support::Sink;
using testing_support::StreamTest;

namespace {

// One metadata block: the length byte and the text padded to a multiple of 16.
std::string Meta(const std::string& text) {
    size_t blocks = (text.size() + 15) / 16;
    std::string out(1, static_cast<char>(blocks));
    out += text;
    out.append(blocks * 16 - text.size(), '\0');
    return out;
}

// Audio of `count` intervals of 16000 bytes, each followed by one of `metas`.
std::string IcyBody(const std::vector<std::string>& metas, std::string& audio) {
    std::string body;
    size_t pos = 0;
    for (const auto& m : metas) {
        std::string part = Pattern(pos, 16000);
        audio += part;
        body += part;
        body += Meta(m);
        pos += 16000;
    }
    std::string tail = Pattern(pos, 5000);
    audio += tail;
    return body + tail;
}

using IcyStream = StreamTest;

TEST_F(IcyStream, OnlyAudioReachesTheReaderAndTitlesTheSink) {
    std::string audio;
    const std::string body = IcyBody({"StreamTitle='';StreamUrl='';", "", "StreamTitle='Song';",
                                      "StreamTitle='Second Song';StreamUrl='http://x/';"},
                                     audio);
    const std::string head =
        "ICY 200 OK\r\nicy-name: Radio Loopback\r\nicy-genre: Rock\r\nicy-metaint: 16000\r\ncontent-type: "
        "audio/aacp\r\n\r\n";
    // Read sizes that straddle blocks in different ways.
    for (int chunk : {4096, 16010, 100000}) {
        RawServer server([&](int fd, const std::string&, int) { RawServer::SendAll(fd, head + body); }, 1);
        Sink sink;
        SetSink(sink);
        ASSERT_EQ(Open(server.url("/radio")), 0);
        std::string got = ReadBytes(audio.size() + 100, chunk);
        EXPECT_EQ(got.size(), audio.size()) << chunk;
        EXPECT_TRUE(got == audio) << chunk;
        std::vector<std::wstring> expected = {L"TITLE=Radio Loopback", L"GENRE=Rock", L"TITLE=Song",
                                              L"TITLE=Second Song"};
        EXPECT_EQ(sink.texts, expected) << chunk;
        EXPECT_EQ(sink.param, 77);
        for (int size : sink.sizes) EXPECT_EQ(size % static_cast<int>(sizeof(tchar)), 0);
        tchar type[64];
        ASSERT_EQ(stream->base.node.getParam(stream, HttpContentType, type, sizeof(type)), 0);
        EXPECT_EQ(std::wstring(type), L"AUDIO/AACP") << chunk;
        auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_NE(requests[0].find("\r\nIcy-MetaData:1\r\n"), std::string::npos);
    }
}

TEST_F(IcyStream, StatusOtherThan200FailsTheFirstRead) {
    RawServer server([](int fd, const std::string&, int) {
        RawServer::SendAll(fd, "ICY 404 Resource Not Found\r\nicy-notice1: gone\r\n\r\n");
    }, 1);
    ASSERT_EQ(Open(server.url("/radio")), 0);
    char buf[4096];
    EXPECT_EQ(Read(buf, sizeof(buf)), -1);
}

TEST_F(IcyStream, HostileMetadataNeverOverruns) {
    struct Case {
        const char* name;
        std::string answer;
    } cases[] = {
        // A length byte that promises more than the stream holds.
        {"length past the end", "ICY 200 OK\r\nicy-metaint: 100\r\n\r\n" + Pattern(0, 100) + "\xFF" + "abc"},
        // No blank line after the headers: the bytes come as they are.
        {"no blank line", "ICY 200 OK\r\nicy-metaint: 10\r\nicy-name: x\r\n" + Pattern(0, 500)},
        {"metaint zero", "ICY 200 OK\r\nicy-metaint: 0\r\n\r\n" + Pattern(0, 500)},
        {"metaint negative", "ICY 200 OK\r\nicy-metaint: -5\r\n\r\n" + Pattern(0, 500)},
        {"title without closing quote",
         "ICY 200 OK\r\nicy-metaint: 50\r\n\r\n" + Pattern(0, 50) + Meta("StreamTitle='open ended") + Pattern(50, 50)},
        {"headers only", "ICY 200 OK\r\nicy-metaint: 50\r\n\r\n"},
    };
    for (const auto& c : cases) {
        RawServer server([&](int fd, const std::string&, int) { RawServer::SendAll(fd, c.answer); }, 2);
        Sink sink;
        SetSink(sink);
        ASSERT_EQ(Open(server.url("/radio")), 0) << c.name;
        std::string got = ReadBytes(100000, 4096);
        EXPECT_LE(got.size(), c.answer.size()) << c.name;
        for (auto& t : sink.texts) EXPECT_LE(t.size(), 6u + 121u) << c.name;
    }
}

TEST_F(IcyStream, LongNamesAreCutTo121Characters) {
    std::string name(300, 'n');
    RawServer server([&](int fd, const std::string&, int) {
        RawServer::SendAll(fd, "ICY 200 OK\r\nicy-name: " + name + "\r\n\r\n" + Pattern(0, 100));
    }, 1);
    Sink sink;
    SetSink(sink);
    ASSERT_EQ(Open(server.url("/radio")), 0);
    EXPECT_TRUE(ReadBytes(1000) == Pattern(0, 100));  // the first read takes in the whole header block
    ASSERT_EQ(sink.texts.size(), 1u);
    EXPECT_EQ(sink.texts[0], L"TITLE=" + std::wstring(121, L'n'));
}

}  // namespace
