// lumeo-probe on streams that cannot seek: chunked answers, HTTP/1.0 without a length, ICY
// and a length without ranges, beside a server that takes ranges. Files whose readers must move far forward (a big
// script tag, a dropped track's big chunks) and seeks. Each case lists exactly ffprobe's
// packets, or ends with an error line and a non-zero exit status, never early with 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "probe_run.h"

using namespace probe_run;

namespace {

struct Server {
    const char* name;
    bool seekable;
    std::string (*body)(const std::string& file);
    std::string (*head)(const std::string& body);
};

const Server kServers[] = {
    {"Content-Length", true, [](const std::string& f) { return f; },
     [](const std::string& b) { return "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\n" + Length(b.size()); }},
    {"chunked, 4096-byte chunks", false, [](const std::string& f) { return Chunked(f, 4096, true); },
     [](const std::string&) { return std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"); }},
    {"HTTP/1.0 without a length", false, [](const std::string& f) { return f; },
     [](const std::string&) { return std::string("HTTP/1.0 200 OK\r\n"); }},
    {"ICY, metaint 16000", false, [](const std::string& f) { return WithMetadata(f, 16000); },
     [](const std::string&) { return std::string("ICY 200 OK\r\nicy-name: Loopback\r\nicy-metaint: 16000\r\n"); }},
    {"a length and Accept-Ranges: none", false, [](const std::string& f) { return f; },
     [](const std::string& b) { return "HTTP/1.1 200 OK\r\nAccept-Ranges: none\r\n" + Length(b.size()); }},
};

// Serves `file` as the server answers: from a range where it takes them, else whole.
class Serving {
public:
    Serving(const Server& kind, const std::string& file)
        : server_([&kind, &file](int fd, const std::string& request, int) {
              size_t from = kind.seekable ? RangeStart(request) : 0;
              if (from > 0 && from < file.size()) {
                  SendFrom(fd, file, from);
                  return;
              }
              std::string body = kind.body(file);
              SendHead(fd, kind.head(body));
              RawServer::SendAll(fd, body);
          }, 64) {}
    std::string url(const std::string& path) const { return server_.url(path); }

private:
    RawServer server_;
};

struct Made {
    std::string bytes;
    std::vector<Packet> packets;  // ffprobe's, numbered as the probe numbers the streams
};

TempDir& Folder() {
    static TempDir dir;
    return dir;
}

std::string Make(const std::string& name, const std::string& ffmpegArgs) {
    std::string file = Folder().path() + "/" + name;
    Ran made = Shell("ffmpeg -v error -y -bitexact " + ffmpegArgs + " '" + file + "' 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
    return file;
}

// The FLV's tags with a script-data tag of `size` bytes put in after half of them.
std::string WithBigScriptTag(const std::string& flv, size_t size) {
    auto u24 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(flv[at])) << 16 |
               static_cast<size_t>(static_cast<unsigned char>(flv[at + 1])) << 8 |
               static_cast<unsigned char>(flv[at + 2]);
    };
    size_t first = (static_cast<size_t>(static_cast<unsigned char>(flv[7])) << 8 | static_cast<unsigned char>(flv[8])) + 4;
    std::vector<size_t> tags;
    for (size_t at = first; at + 11 <= flv.size(); at += 11 + u24(at + 1) + 4) tags.push_back(at);
    size_t at = tags[tags.size() / 2];
    std::string data = std::string("\x02\x00\x06" "filler\x05", 10);
    data.resize(size, '\0');
    std::string tag;
    tag += '\x12';
    for (int shift : {16, 8, 0}) tag += static_cast<char>(size >> shift);
    tag += flv.substr(at + 4, 4);  // the time of the tag it goes before
    tag += std::string(3, '\0');
    tag += data;
    for (int shift : {24, 16, 8, 0}) tag += static_cast<char>((size + 11) >> shift);
    return flv.substr(0, at) + tag + flv.substr(at);
}

// H.263 + MP3, 12 s, with a 200,000-byte script tag in the middle.
const Made& BigScriptFlv() {
    static Made m;
    if (m.bytes.empty()) {
        std::string plain = Make("av.flv", "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                                            "sine=frequency=440:sample_rate=22050 -t 12 -c:v flv -c:a libmp3lame -ar 22050 -ac 1");
        m.bytes = WithBigScriptTag(ReadFile(plain), 200000);
        std::string file = Folder().path() + "/big-script.flv";
        std::ofstream(file, std::ios::binary) << m.bytes;
        m.packets = FfprobePackets(file, true);
    }
    return m;
}

// H.264 with a 24-bit PCM track (which the reader drops) in chunks of 144,000 bytes, the
// movie header first.
const Made& Pcm24Mov() {
    static Made m;
    if (m.bytes.empty()) {
        std::string file = Make("pcm24.mov", "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                                             "sine=frequency=440:sample_rate=48000 -af asetnsamples=n=24000 -ac 2 -t 12 "
                                             "-c:v libx264 -bf 0 -c:a pcm_s24le -movflags +faststart");
        m.bytes = ReadFile(file);
        for (const Packet& p : FfprobePackets(file, false))
            if (p.stream == 0) m.packets.push_back(p);
    }
    return m;
}

// MP3 alone, 12 s.
const Made& AudioOnlyFlv() {
    static Made m;
    if (m.bytes.empty()) {
        std::string file = Make("a.flv", "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 12 -c:a libmp3lame -ar 22050 -ac 1");
        m.bytes = ReadFile(file);
        m.packets = FfprobePackets(file, true);
    }
    return m;
}

void ExpectSame(const std::vector<Packet>& got, const std::vector<Packet>& wanted, size_t from = 0) {
    ASSERT_EQ(got.size(), wanted.size() - from);
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], wanted[from + i]) << "packet " << i;
}

TEST(ProbeUnseekable, LongForwardMovesGiveEveryPacket) {
    struct File {
        const char* name;
        const Made& made;
    } files[] = {{"/big-script.flv", BigScriptFlv()}, {"/pcm24.mov", Pcm24Mov()}};
    for (const File& f : files) {
        ASSERT_GT(f.made.packets.size(), 100u) << f.name;
        for (const Server& kind : kServers) {
            SCOPED_TRACE(std::string(f.name) + " over " + kind.name);
            Serving server(kind, f.made.bytes);
            Ran run = Shell(Probe(server.url(f.name)));
            EXPECT_EQ(run.status, 0) << run.out.substr(0, 3000);
            EXPECT_FALSE(HasErrorLine(run.out)) << run.out.substr(run.out.size() > 3000 ? run.out.size() - 3000 : 0);
            ExpectSame(PacketLines(run.out), f.made.packets);
        }
    }
}

// The index in `packets` (ffprobe's) of the first packet ffmpeg copies after seeking the
// file to `ms`; the size of the list when it is none of them.
size_t FfmpegLanding(const std::string& file, const std::vector<Packet>& packets, int ms) {
    char at[32];
    std::snprintf(at, sizeof(at), "%d.%03d", ms / 1000, ms % 1000);
    Ran r = Shell(std::string("ffmpeg -v error -ss ") + at + " -i '" + file + "' -c copy -copyts -f framecrc - 2>/dev/null");
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        int stream = 0, size = 0;
        long long dts = 0, pts = 0, duration = 0;
        if (line.empty() || line[0] == '#') continue;
        if (std::sscanf(line.c_str(), "%d, %lld, %lld, %lld, %d", &stream, &dts, &pts, &duration, &size) != 5) break;
        for (size_t i = 0; i < packets.size(); ++i)
            if (packets[i].time == Ticks(pts) && packets[i].size == size) return i;
        break;
    }
    return packets.size();
}

TEST(ProbeUnseekable, FlvSeeksLandWhereFfmpegLands) {
    struct Case {
        const char* name;
        const Made& made;
        int ms;
        bool audioOnly;
    } cases[] = {
        {"/big-script.flv", BigScriptFlv(), 8000, false},
        {"/big-script.flv", BigScriptFlv(), 3000, false},
        {"/a.flv", AudioOnlyFlv(), 8000, true},
        {"/a.flv", AudioOnlyFlv(), 30000, true},
    };
    for (const Case& c : cases) {
        size_t land = FfmpegLanding(Folder().path() + c.name, c.made.packets, c.ms);
        ASSERT_GT(land, 0u);
        ASSERT_LT(land, c.made.packets.size());
        // A local file, and every kind of server.
        std::vector<std::string> where = {"local"};
        for (const Server& kind : kServers) where.push_back(kind.name);
        for (const std::string& w : where) {
            SCOPED_TRACE(std::string(c.name) + " --seek " + std::to_string(c.ms) + " " + w);
            Ran run;
            if (w == "local") {
                std::string file = Folder().path() + c.name;
                run = Shell(Probe("--seek " + std::to_string(c.ms) + " '" + file + "'"));
            } else {
                const Server* kind = nullptr;
                for (const Server& k : kServers) kind = w == k.name ? &k : kind;
                Serving server(*kind, c.made.bytes);
                run = Shell(Probe("--seek " + std::to_string(c.ms) + " " + server.url(c.name)));
            }
            std::vector<Packet> got = PacketLines(run.out);
            if (w == "local" || w == kServers[0].name) {
                EXPECT_EQ(run.status, 0) << run.out.substr(0, 3000);
                ExpectSame(got, c.made.packets, land);
                continue;
            }
            // Read forward: the landing, or the first start point after it when the stream
            // could not go back to it; or an error. Never nothing with status 0.
            if (run.status != 0) {
                EXPECT_TRUE(HasErrorLine(run.out)) << run.out.substr(0, 3000);
                continue;
            }
            size_t next = land + 1;
            while (next < c.made.packets.size() && !c.audioOnly &&
                   !c.made.packets[next].key)
                ++next;
            size_t first = c.made.packets.size() - got.size();
            EXPECT_TRUE(first == land || first == next) << "starts at packet " << first << ", not " << land << " or "
                                                        << next << "\n" << run.out.substr(0, 2000);
            EXPECT_FALSE(got.empty()) << run.out.substr(0, 3000);
            if (!got.empty()) ExpectSame(got, c.made.packets, first);
        }
    }
}

}  // namespace

namespace {

// A MOV (movie header first) whose last audio chunk the table puts far behind the one
// before it: a stream that cannot go back there ends with an error, not as if the data
// had ended.
TEST(ProbeUnseekable, AChunkBehindTheReaderIsAnErrorWhereTheStreamCannotGoBack) {
    std::string file = ReadFile(Make("va.mov", "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                                               "sine=frequency=440:sample_rate=48000 -t 12 -c:v libx264 -bf 0 -b:v 1M "
                                               "-c:a aac -movflags +faststart"));
    ASSERT_GT(file.size(), 420000u);
    const uint32_t behind = 400000;  // past what the host keeps of the start
    size_t video = file.find("stco"), audio = file.find("stco", video + 4);
    ASSERT_NE(audio, std::string::npos);
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(file[at + static_cast<size_t>(i)]);
        return v;
    };
    size_t last = audio + 12 + 4 * (u32(audio + 8) - 1);
    ASSERT_GT(u32(last), behind + 65536);
    for (int i = 0; i < 4; ++i) file[last + static_cast<size_t>(i)] = static_cast<char>(behind >> (24 - 8 * i));
    std::string path = Folder().path() + "/behind.mov";
    std::ofstream(path, std::ios::binary) << file;
    // Read where it can seek: each stream's packets as ffprobe lists them (the streams
    // interleave in the reader's order; AAC times leave out the priming).
    Ran local = Shell(Probe("'" + path + "'"));
    ASSERT_EQ(local.status, 0) << local.out.substr(0, 2000);
    std::vector<Packet> whole = PacketLines(local.out);
    auto sizes = [](const std::vector<Packet>& packets, int stream) {
        std::vector<int> out;
        for (const Packet& p : packets)
            if (p.stream == stream) out.push_back(p.size);
        return out;
    };
    std::vector<Packet> wanted = FfprobePackets(path, false);
    for (int stream : {0, 1}) {
        EXPECT_FALSE(sizes(wanted, stream).empty());
        EXPECT_EQ(sizes(whole, stream), sizes(wanted, stream)) << "stream " << stream;
    }
    for (const Server& kind : kServers) {
        if (kind.seekable) continue;
        SCOPED_TRACE(kind.name);
        Serving server(kind, file);
        Ran run = Shell(Probe(server.url("/behind.mov")));
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(HasErrorLine(run.out)) << run.out.substr(run.out.size() > 2000 ? run.out.size() - 2000 : 0);
        std::vector<Packet> got = PacketLines(run.out);
        ASSERT_LT(got.size(), whole.size());
        for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], whole[i]) << "packet " << i;
    }
}

// A MOV whose movie header comes last, beyond what the host keeps of the start: the answer
// breaks after 2,000 bytes and every reconnect is refused, while the readers are still
// being tried. That is a failed read, not a file no reader takes.
TEST(ProbeUnseekable, AReconnectRefusedWhileReadersAreTriedIsAReadFailure) {
    std::string file = ReadFile(Make("tail-moov.mov", "-f lavfi -i testsrc=size=160x120:rate=25 -vf noise=alls=20:allf=t -t 1 -c:v libx264 -qp 10"));
    ASSERT_GT(file.size(), 300000u);  // more than the host keeps of the start
    RawServer server([&](int fd, const std::string&, int index) {
        if (index == 0) {
            SendHead(fd, "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\n" + Length(file.size()));
            RawServer::SendAll(fd, file.substr(0, 2000));
        } else {
            SendHead(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n");
        }
    }, 16);
    Ran run = Shell(Probe(server.url("/tail-moov.mov")));
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.out.find("error -1 read failed"), std::string::npos) << run.out;
}

// MMS over HTTP: the first answer, without stream selection, carries the header chunk and
// data chunks from the middle of the stream; the seek's request that selects streams (a
// forced seek: a new request from 0) gets the whole stream. What the host kept of the first
// answer must not stand for the second.
TEST(ProbeUnseekable, ForcedSeekReadsTheNewAnswerNotTheKeptBytes) {
    const std::string body = ReadFile(SourceDir() + "/tests/data/asf/wmv2-wma2.mms");
    std::vector<size_t> chunks;
    for (size_t at = 0; at + 4 <= body.size();
         at += 4 + (static_cast<unsigned char>(body[at + 2]) | static_cast<unsigned char>(body[at + 3]) << 8))
        chunks.push_back(at);
    ASSERT_GT(chunks.size(), 6u);
    const std::string first = body.substr(0, chunks[1]) + body.substr(chunks[chunks.size() / 2]);
    std::vector<Packet> expected = FfprobePackets(SourceDir() + "/tests/data/asf/wmv2-wma2.asf", false);
    ASSERT_FALSE(expected.empty());
    TempDir plugins;
    ASSERT_EQ(symlink((DistDir() + "/network.plg").c_str(), (plugins.path() + "/network.plg").c_str()), 0);
    ASSERT_EQ(symlink((DistDir() + "/asf/splitter-asf.plg").c_str(), (plugins.path() + "/splitter-asf.plg").c_str()),
              0);
    RawServer server([&](int fd, const std::string& request, int) {
        bool selected = request.find("stream-switch-entry=") != std::string::npos;
        SendHead(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/x-mms-framed\r\n"
                     "Pragma: no-cache,client-id=3\r\nPragma: features=\"broadcast\"\r\nConnection: close\r\n");
        RawServer::SendAll(fd, selected ? body : first);
    }, 8);
    Ran run = Shell(Probe("--plugins " + plugins.path() + " --seek 1000 " + server.url("/live")));
    EXPECT_EQ(run.status, 0) << run.out.substr(0, 3000);
    EXPECT_TRUE(SameStreamsTimesAndSizes(PacketLines(run.out), expected)) << run.out.substr(0, 3000);
}

}  // namespace
