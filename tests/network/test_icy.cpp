// ICY answers through the HTTP stream: the status line and headers taken from the first
// bytes, metadata blocks taken out of the audio, titles handed to the comment sink.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        // The position is the offset of the next byte a read delivers: headers and metadata
        // never count.
        EXPECT_EQ(Seek(0, 1), static_cast<int>(audio.size())) << chunk;
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

// A stream that cannot seek moves forward by reading: the offsets are those of the audio,
// across the header block and the metadata blocks.
TEST_F(IcyStream, ForwardSeeksLandOnTheAudioOffset) {
    std::string audio;
    const std::string body = IcyBody({"StreamTitle='One';", "", "StreamTitle='Two';"}, audio);
    for (const char* status : {"ICY 200 OK\r\n", "HTTP/1.0 200 OK\r\n"}) {
        SCOPED_TRACE(status);
        RawServer server([&](int fd, const std::string&, int) {
            RawServer::SendAll(fd, std::string(status) + "icy-metaint: 16000\r\n\r\n" + body);
        }, 1);
        ASSERT_EQ(Open(server.url("/radio")), 0);
        EXPECT_TRUE(ReadBytes(10000) == audio.substr(0, 10000));
        EXPECT_EQ(Seek(0, 1), 10000);
        for (int target : {20000, 31990, 40000}) {
            ASSERT_EQ(Seek(target, 0), target);
            EXPECT_TRUE(ReadBytes(100) == audio.substr(static_cast<size_t>(target), 100)) << target;
            EXPECT_EQ(Seek(0, 1), target + 100);
        }
        EXPECT_EQ(server.requests().size(), 1u);
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

TEST_F(IcyStream, HostileMetadataIsRefusedOrStrippedNeverPassedOn) {
    const std::string ok = "ICY 200 OK\r\nicy-metaint: ";
    // The most a length byte can promise: 255 units of 16 bytes, with a title far past 121.
    const std::string longest = "StreamTitle='" + std::string(4080 - 15, 'x') + "';";
    struct Case {
        const char* name;
        std::string answer;
        bool refused;                      // every read fails and nothing is handed on
        std::string audio;                 // else: exactly these bytes, then the end
        std::vector<std::wstring> titles;  // what the sink is given
    } cases[] = {
        // Metadata cut short by the end of the stream: the audio before it, nothing of it.
        {"length past the end", ok + "100\r\n\r\n" + Pattern(0, 100) + "\xFF" + "abc", false, Pattern(0, 100), {}},
        {"ends at a length byte", ok + "100\r\n\r\n" + Pattern(0, 100) + "\x02", false, Pattern(0, 100), {}},
        {"ends at the interval", ok + "100\r\n\r\n" + Pattern(0, 100), false, Pattern(0, 100), {}},
        {"longest block", ok + "100\r\n\r\n" + Pattern(0, 100) + Meta(longest) + Pattern(100, 100), false,
         Pattern(0, 200), {L"TITLE=" + std::wstring(121, L'x')}},
        // The title runs to the end of the block's text; the padding is not part of it.
        {"title without closing quote", ok + "50\r\n\r\n" + Pattern(0, 50) + Meta("StreamTitle='open ended") +
         Pattern(50, 50), false, Pattern(0, 100), {L"TITLE=open ended"}},
        // No interval the stream can reach: every byte after the headers is audio.
        {"metaint zero", ok + "0\r\n\r\n" + Pattern(0, 500), false, Pattern(0, 500), {}},
        {"metaint negative", ok + "-5\r\n\r\n" + Pattern(0, 500), false, Pattern(0, 500), {}},
        {"metaint not a number", ok + "abc\r\n\r\n" + Pattern(0, 500), false, Pattern(0, 500), {}},
        {"metaint past the stream", ok + "100000\r\n\r\n" + Pattern(0, 500), false, Pattern(0, 500), {}},
        // Not a small interval that wrapped round.
        {"metaint past 32 bits", ok + "4294967306\r\n\r\n" + Pattern(0, 500), false, Pattern(0, 500), {}},
        // A header block that ends where the bytes end is still a header block.
        {"headers only", ok + "50\r\n\r\n", false, "", {}},
        // Where the headers end and the audio starts cannot be told: none of it is audio.
        {"no blank line", ok + "10\r\nicy-name: x\r\n" + Pattern(0, 500), true, "", {}},
        // An error answer's page is no audio, on the first read or any later one.
        {"error status with a page", "ICY 404 Resource Not Found\r\n\r\n<html>" + std::string(6000, 'g') + "</html>", true, "", {}},
    };
    for (const auto& c : cases) {
        RawServer server([&](int fd, const std::string&, int) { RawServer::SendAll(fd, c.answer); }, 2);
        Sink sink;
        SetSink(sink);
        ASSERT_EQ(Open(server.url("/radio")), 0) << c.name;
        std::string got;
        std::vector<char> buf(4096);
        int last = 0;
        for (int reads = 0; reads < 100; ++reads) {
            last = Read(buf.data(), static_cast<int>(buf.size()));
            if (last <= 0) break;
            got.append(buf.data(), static_cast<size_t>(last));
        }
        if (c.refused) {
            EXPECT_EQ(last, -1) << c.name;
            EXPECT_EQ(got.size(), 0u) << c.name;
            EXPECT_EQ(Read(buf.data(), static_cast<int>(buf.size())), -1) << c.name << ": a later read";
        } else {
            EXPECT_EQ(last, 0) << c.name;
            EXPECT_EQ(got.size(), c.audio.size()) << c.name;
            EXPECT_TRUE(got == c.audio) << c.name;
            tchar type[64];
            ASSERT_EQ(stream->base.node.getParam(stream, HttpContentType, type, sizeof(type)), 0);
            EXPECT_EQ(std::wstring(type), L"AUDIO/MPEG") << c.name;
        }
        EXPECT_EQ(sink.texts, c.titles) << c.name;
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
