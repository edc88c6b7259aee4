// lumeo-probe, through the host, the HTTP stream and a format reader, against loopback
// servers that answer in awkward but legal ways: ICY answers with interleaved metadata,
// chunked bodies, dropped connections resumed with a 200, servers that ignore ranges, and
// MMS framing without a length. Each case must list exactly the packets ffprobe lists for
// the file, or end with an error line and a non-zero exit status, never stop early as if
// the data had ended.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "probe_run.h"
#include "raw_server.h"

using testing_support::RawServer;
using namespace probe_run;

namespace {

// An FLV of Sorenson video and MP3 audio, a keyframe every 10 s, made once per test
// process; big enough that its packets cross many of the host's fills.
struct Flv {
    std::string bytes;
    std::vector<Packet> packets;
};

const Flv& TestFlv() {
    static TempDir dir;
    static Flv flv;
    if (flv.bytes.empty()) {
        std::string file = dir.path() + "/clip.flv";
        Ran made = Shell("ffmpeg -v error -y -bitexact -f lavfi -i testsrc=size=320x240:rate=10 -f lavfi -i "
                         "sine=frequency=440:sample_rate=22050 -t 24 -c:v flv -g 100 -q:v 2 -c:a libmp3lame -b:a 32k "
                         "-ar 22050 -ac 1 '" + file + "' 2>&1");
        EXPECT_EQ(made.status, 0) << made.out;
        flv.bytes = ReadFile(file);
        flv.packets = FfprobePackets(file, true);
    }
    return flv;
}

TEST(ProbeStreams, AwkwardServersGiveEveryPacketOrAnError) {
    const Flv& flv = TestFlv();
    ASSERT_GT(flv.bytes.size(), 300000u);
    ASSERT_FALSE(flv.packets.empty());
    const std::string& file = flv.bytes;
    const size_t drop = 30000;
    struct Case {
        const char* name;
        RawServer::Handler answer;
        bool fails;  // no way to the bytes asked for: an error, not an early end
    } cases[] = {
        {"ICY status line, metadata every 16000 bytes",
         [&](int fd, const std::string&, int) {
             RawServer::SendAll(fd, "ICY 200 OK\r\nicy-name: Loopback\r\nicy-metaint: 16000\r\n\r\n" +
                                        WithMetadata(file, 16000));
         },
         false},
        {"HTTP/1.0 with icy-metaint 8192",
         [&](int fd, const std::string&, int) {
             SendHead(fd, "HTTP/1.0 200 OK\r\nContent-Type: video/x-flv\r\nicy-metaint: 8192\r\n");
             RawServer::SendAll(fd, WithMetadata(file, 8192));
         },
         false},
        {"HTTP/1.0 with icy-metaint and a length",
         [&](int fd, const std::string&, int) {
             std::string body = WithMetadata(file, 8192);
             SendHead(fd, "HTTP/1.0 200 OK\r\nContent-Type: video/x-flv\r\nicy-metaint: 8192\r\n" + Length(body.size()));
             RawServer::SendAll(fd, body);
         },
         false},
        {"chunked",
         [&](int fd, const std::string&, int) {
             SendHead(fd, "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nTransfer-Encoding: chunked\r\n");
             RawServer::SendAll(fd, Chunked(file, 7000, true));
         },
         false},
        {"dropped, then a 206 from the position",
         [&](int fd, const std::string& request, int index) {
             if (index == 0) {
                 SendHead(fd, "HTTP/1.1 200 OK\r\n" + Length(file.size()));
                 RawServer::SendAll(fd, file.substr(0, drop));
             } else {
                 SendFrom(fd, file, RangeStart(request));
             }
         },
         false},
        {"dropped, then a 200 with the whole file to the range",
         [&](int fd, const std::string&, int index) {
             SendHead(fd, "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\n" + Length(file.size()));
             RawServer::SendAll(fd, index == 0 ? file.substr(0, drop) : file);
         },
         false},
        {"dropped, then a 206 from elsewhere",
         [&](int fd, const std::string& request, int index) {
             if (index == 0) {
                 SendHead(fd, "HTTP/1.1 200 OK\r\n" + Length(file.size()));
                 RawServer::SendAll(fd, file.substr(0, drop));
             } else {
                 SendFrom(fd, file, RangeStart(request) + 1000);
             }
         },
         true},
        {"chunked, dropped, then the start again",
         [&](int fd, const std::string&, int index) {
             SendHead(fd, "HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\nTransfer-Encoding: chunked\r\n");
             RawServer::SendAll(fd, index == 0 ? Chunked(file.substr(0, drop), 7000, false) : Chunked(file, 7000, true));
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer server(c.answer, 8);
        Ran run = Shell(Probe(server.url("/clip.flv")));
        std::vector<Packet> got = PacketLines(run.out);
        if (c.fails) {
            EXPECT_NE(run.status, 0) << run.out.substr(0, 3000);
            EXPECT_TRUE(HasErrorLine(run.out)) << run.out.substr(0, 3000);
            // What came before the error came from the right place.
            ASSERT_LE(got.size(), flv.packets.size());
            for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], flv.packets[i]) << "packet " << i;
            continue;
        }
        EXPECT_EQ(run.status, 0) << run.out.substr(0, 3000);
        EXPECT_FALSE(HasErrorLine(run.out)) << run.out.substr(0, 3000);
        EXPECT_EQ(got.size(), flv.packets.size());
        for (size_t i = 0; i < got.size() && i < flv.packets.size(); ++i)
            ASSERT_EQ(got[i], flv.packets[i]) << "packet " << i;
    }
}

// Seeks on servers that do not give what a range asks for: the packets after the seek are
// the file's own from a keyframe on, to the end.
TEST(ProbeStreams, SeekOnAServerThatIgnoresRangesResumesAtAKeyframe) {
    const Flv& flv = TestFlv();
    ASSERT_FALSE(flv.packets.empty());
    const std::string& file = flv.bytes;
    struct Case {
        const char* name;
        const char* ranges;  // the Accept-Ranges header, if any
    } cases[] = {{"length only", ""}, {"Accept-Ranges that the server does not keep to", "Accept-Ranges: bytes\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer server([&](int fd, const std::string&, int) {
            SendHead(fd, std::string("HTTP/1.1 200 OK\r\nContent-Type: video/x-flv\r\n") + c.ranges +
                             Length(file.size()));
            RawServer::SendAll(fd, file);
        }, 16);
        Ran run = Shell(Probe("--seek 18000 " + server.url("/clip.flv")));
        EXPECT_EQ(run.status, 0) << run.out.substr(0, 3000);
        EXPECT_FALSE(HasErrorLine(run.out)) << run.out.substr(0, 3000);
        std::vector<Packet> got = PacketLines(run.out);
        ASSERT_FALSE(got.empty()) << run.out.substr(0, 3000);
        ASSERT_LT(got.size(), flv.packets.size()) << "the seek did not move";
        size_t first = flv.packets.size() - got.size();
        const Packet& resumed = flv.packets[first];
        EXPECT_EQ(resumed.key, 1);
        EXPECT_NE(resumed.stream, flv.packets[0].stream) << "a video packet";
        for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], flv.packets[first + i]) << "packet " << i;
        bool asked = false;
        for (const std::string& r : server.requests()) asked = asked || r.find("Range: bytes=") != std::string::npos;
        EXPECT_TRUE(asked) << "the seek went to the server";
    }
}

// MMS over HTTP without a length: the first answer holds only the header chunk; a request
// that selects streams (the Pragma header) gets the data chunks.
TEST(ProbeStreams, MmsWithoutALengthSelectsStreamsThroughANewRequest) {
    const std::string body = ReadFile(SourceDir() + "/tests/data/asf/wmv2-wma2.mms");
    ASSERT_GT(body.size(), 12u);
    const size_t headerEnd = 12 + (static_cast<unsigned char>(body[2]) | static_cast<unsigned char>(body[3]) << 8) - 8;
    std::vector<Packet> expected = FfprobePackets(SourceDir() + "/tests/data/asf/wmv2-wma2.asf", false);
    ASSERT_FALSE(expected.empty());
    // The HTTP stream beside the build of the splitter that registers the ASF readers.
    TempDir plugins;
    ASSERT_EQ(symlink((DistDir() + "/network.plg").c_str(), (plugins.path() + "/network.plg").c_str()), 0);
    ASSERT_EQ(symlink((DistDir() + "/asf/splitter-asf.plg").c_str(), (plugins.path() + "/splitter-asf.plg").c_str()),
              0);
    for (int seekMs : {-1, 1000}) {
        SCOPED_TRACE(seekMs < 0 ? "opened" : "sought to 1000 ms");
        RawServer server([&](int fd, const std::string& request, int) {
            bool selected = request.find("stream-switch-entry=") != std::string::npos;
            SendHead(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/x-mms-framed\r\n"
                         "Pragma: no-cache,client-id=3\r\nPragma: features=\"broadcast\"\r\nConnection: close\r\n");
            RawServer::SendAll(fd, selected ? body : body.substr(0, headerEnd));
        }, 8);
        std::string args = "--plugins " + plugins.path() + " ";
        if (seekMs >= 0) args += "--seek " + std::to_string(seekMs) + " ";
        Ran run = Shell(Probe(args + server.url("/live")));
        EXPECT_EQ(run.status, 0) << run.out.substr(0, 3000);
        EXPECT_FALSE(HasErrorLine(run.out)) << run.out.substr(0, 3000);
        ASSERT_TRUE(SameStreamsTimesAndSizes(PacketLines(run.out), expected)) << run.out.substr(0, 3000);
        // Each selection is a request of its own, at the time asked for.
        std::vector<std::string> requests = server.requests();
        std::vector<std::string> times;
        for (const std::string& r : requests) {
            size_t at = r.find("stream-switch-entry=");
            if (at == std::string::npos) continue;
            size_t t = r.find("stream-time=");
            times.push_back(t == std::string::npos ? "?" : r.substr(t + 12, r.find(',', t) - t - 12));
        }
        std::vector<std::string> wanted = {"0"};
        if (seekMs >= 0) wanted.push_back(std::to_string(seekMs));
        EXPECT_EQ(times, wanted);
    }
}

}  // namespace
