// The host and the probe, over a test plug-in file that reads a small hand-made container.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/host.h"
#include "core/testing.h"

namespace {

struct TestPacket {
    int stream, ms, length, key;
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}
void Put16(std::vector<uint8_t>& v, int x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}

// One video stream (FLV1 320x240) and one audio stream (tag 85, 44100 Hz, 2 channels).
std::vector<uint8_t> Container(const std::vector<TestPacket>& packets, int durationMs) {
    std::vector<uint8_t> v = {'L', 'M', 'T', 'P', 2};
    Put32(v, static_cast<uint32_t>(durationMs));
    v.push_back(1);
    Put32(v, 0x464C5631);  // "FLV1"
    Put16(v, 320);
    Put16(v, 240);
    v.push_back(2);
    Put32(v, 85);
    Put16(v, 44100);
    Put16(v, 2);
    for (const TestPacket& p : packets) {
        v.push_back(static_cast<uint8_t>(p.stream));
        Put32(v, static_cast<uint32_t>(p.ms));
        Put16(v, p.length);
        v.push_back(static_cast<uint8_t>(p.key));
        for (int i = 0; i < p.length; ++i) v.push_back(static_cast<uint8_t>(i));
    }
    return v;
}

std::string TestPlugins() { return CORE_TEST_PLUGIN_DIR; }

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        core::ClearShownErrors();
        ASSERT_EQ(host.LoadPlugins(TestPlugins()), 1);
        ASSERT_EQ(host.Plugins()[0].registerResult, 0);
    }
    core::Host host;
};

TEST_F(HostTest, PicksTheReaderThatOpensAfterHigherPrioritiesRefuse) {
    auto bytes = Container({{0, 0, 10, 1}}, 1000);
    ASSERT_EQ(host.OpenStream(MemStreamCreate(bytes.data(), static_cast<int>(bytes.size()))), 0);
    EXPECT_EQ(NodeClassId(host.reader()), FOURCC('L', 'M', 'T', 'P'));
    ASSERT_EQ(host.reader()->streamCount, 2);
    EXPECT_TRUE(host.reader()->streams[0]->selected);
}

TEST_F(HostTest, NoReaderGivesUnsupportedAndKeepsTheShownError) {
    const uint8_t bytes[] = {'L', 'M', 'T', 'E', 0, 0, 0, 0};
    EXPECT_EQ(host.OpenStream(MemStreamCreate(bytes, sizeof(bytes))), ERR_NOT_SUPPORTED);
    auto errors = core::ShownErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].messageClass, ERR_CLASS);
    EXPECT_EQ(errors[0].id, -16);
    EXPECT_EQ(errors[0].argument, L"test://refused");
}

TEST_F(HostTest, ReadsEveryPacketWithItsTimeInTicks) {
    std::vector<TestPacket> packets = {{0, 0, 100, 1}, {1, 0, 50, 0}, {0, 40, 30000, 0}, {1, 1000, 7, 0}};
    auto bytes = Container(packets, 2000);
    ASSERT_EQ(host.OpenStream(MemStreamCreate(bytes.data(), static_cast<int>(bytes.size()))), 0);
    for (const TestPacket& want : packets) {
        Packet p;
        ASSERT_EQ(host.ReadPacket(&p), 0);
        EXPECT_EQ(p.stream->number, want.stream);
        EXPECT_EQ(p.time, want.ms * 16384 / 1000);
        EXPECT_EQ(Format_RefLength(p.data), want.length);
        EXPECT_EQ(p.key, want.key);
        Format_ReleaseRef(p.data);
    }
    Packet p;
    EXPECT_EQ(host.ReadPacket(&p), ERR_END_OF_FILE);
}

TEST_F(HostTest, AReaderThatEndsWithoutAStreamHadNothingToPlay) {
    // Open with no stream and no packet; the same with its streams reads to the end.
    const uint8_t none[] = {'L', 'M', 'T', 'P', 0, 0, 0, 3, 0xE8};
    ASSERT_EQ(host.OpenStream(MemStreamCreate(none, sizeof(none))), 0);
    Packet p;
    EXPECT_EQ(host.ReadPacket(&p), ERR_NOT_SUPPORTED);
    auto bytes = Container({}, 1000);
    ASSERT_EQ(host.OpenStream(MemStreamCreate(bytes.data(), static_cast<int>(bytes.size()))), 0);
    EXPECT_EQ(host.ReadPacket(&p), ERR_END_OF_FILE);
}

TEST_F(HostTest, SeeksByPositionInProportionToTheFileSize) {
    // 100 packets of 992 bytes, 100 ms apart: the header is small beside them.
    std::vector<TestPacket> packets;
    for (int i = 0; i < 100; ++i) packets.push_back({0, i * 100, 992, i % 10 == 0});
    auto bytes = Container(packets, 10000);
    ASSERT_EQ(host.OpenStream(MemStreamCreate(bytes.data(), static_cast<int>(bytes.size()))), 0);
    ASSERT_EQ(host.Seek(5000), 0);
    // Position = size x 5000 / 10000; the reader goes on at the first packet at or after it.
    const int header = 9 + 18, packetBytes = 8 + 992;
    int target = static_cast<int>(bytes.size()) / 2;
    int expected = (target - header + packetBytes - 1) / packetBytes;
    Packet p;
    ASSERT_EQ(host.ReadPacket(&p), 0);
    EXPECT_EQ(p.time, expected * 100 * 16384 / 1000);
    Format_ReleaseRef(p.data);
}

// A stand-in for a network stream: every seek that moves it is a new connection.
struct NetStats {
    const std::vector<uint8_t>* bytes = nullptr;
    bool lengthKnown = true;
    long delivered = 0;  // bytes handed out
    int moves = 0;       // seeks that changed the position
};
NetStats g_net;

struct NetLikeStream {
    Stream base;
    int position;
};

int NetRead(void* self, void* buffer, int n) {
    auto* s = static_cast<NetLikeStream*>(self);
    int left = static_cast<int>(g_net.bytes->size()) - s->position;
    n = std::min(n, left);
    if (n <= 0) return 0;
    std::memcpy(buffer, g_net.bytes->data() + s->position, static_cast<size_t>(n));
    s->position += n;
    g_net.delivered += n;
    return n;
}

int NetSeek(void* self, int offset, int whence) {
    auto* s = static_cast<NetLikeStream*>(self);
    int size = static_cast<int>(g_net.bytes->size());
    long long target = whence == 0 ? offset : whence == 1 ? s->position + static_cast<long long>(offset) : -1;
    if (whence == 2 && g_net.lengthKnown) target = size + static_cast<long long>(offset);
    if (target < 0 || target > size) return -1;
    if (target != s->position) ++g_net.moves;
    s->position = static_cast<int>(target);
    return s->position;
}

int NetGet(void*, int id, void* data, int size) {
    if (id != HttpLength || !g_net.lengthKnown || size < static_cast<int>(sizeof(int))) return ERR_INVALID_PARAM;
    *static_cast<int*>(data) = static_cast<int>(g_net.bytes->size());
    return 0;
}

int NetCreate(void* object) {
    auto* s = static_cast<NetLikeStream*>(object);
    s->base.readStream = NetRead;
    s->base.seekStream = NetSeek;
    s->base.node.getParam = NetGet;
    return 0;
}

const NodeClassDef kNetLike = {NODE_CLASS_SIZE(sizeof(NetLikeStream), 0), FOURCC('T', 'N', 'E', 'T'), STREAM_CLASS, 0,
                               NetCreate, nullptr};

TEST_F(HostTest, TriesEveryReaderOnTheFirstBytesWithoutRewindingANetworkStream) {
    NodeRegisterClass(&kNetLike);
    // The refusing reader of higher priority reads the first bytes, then the container
    // reader reads them again, looks at the end and comes back: none of it may cost the
    // stream a new connection, and each byte crosses the network once. Sizes below one
    // fill, across several fills, and beyond what the host keeps of the start.
    struct Case {
        int packets, packetBytes;
        bool lengthKnown;
    } cases[] = {{1, 100, true}, {1, 100, false}, {200, 1000, true}, {400, 1000, true}, {400, 1000, false}};
    for (const Case& c : cases) {
        std::vector<TestPacket> packets;
        for (int i = 0; i < c.packets; ++i) packets.push_back({i % 2, i * 40, c.packetBytes, 1});
        auto bytes = Container(packets, c.packets * 40);
        g_net = NetStats{&bytes, c.lengthKnown};
        SCOPED_TRACE(std::to_string(bytes.size()) + (c.lengthKnown ? " bytes, length known" : " bytes"));
        ASSERT_EQ(host.OpenStream(static_cast<Stream*>(NodeCreate(FOURCC('T', 'N', 'E', 'T')))), 0);
        EXPECT_EQ(NodeClassId(host.reader()), FOURCC('L', 'M', 'T', 'P'));
        // Readers see the network stream's class.
        EXPECT_EQ(NodeClassId(host.reader()->input[0].inputStream), FOURCC('T', 'N', 'E', 'T'));
        int read = 0;
        Packet p;
        while (host.ReadPacket(&p) == 0) {
            EXPECT_EQ(Format_RefLength(p.data), c.packetBytes);
            Format_ReleaseRef(p.data);
            ++read;
        }
        EXPECT_EQ(read, c.packets);
        EXPECT_EQ(g_net.moves, 0);
        EXPECT_EQ(g_net.delivered, static_cast<long>(bytes.size()));
        host.Close();
    }
    NodeUnRegisterClass(FOURCC('T', 'N', 'E', 'T'));
}

TEST_F(HostTest, SeeksAWrappedNetworkStreamLikeAFile) {
    NodeRegisterClass(&kNetLike);
    std::vector<TestPacket> packets;
    for (int i = 0; i < 400; ++i) packets.push_back({0, i * 100, 992, i % 10 == 0});
    auto bytes = Container(packets, 40000);
    g_net = NetStats{&bytes, true};
    ASSERT_EQ(host.OpenStream(static_cast<Stream*>(NodeCreate(FOURCC('T', 'N', 'E', 'T')))), 0);
    // Forward past what was kept of the start, then back into it.
    for (int ms : {30000, 1000}) {
        ASSERT_EQ(host.Seek(ms), 0);
        const int header = 9 + 18, packetBytes = 8 + 992;
        int target = static_cast<int>(static_cast<long long>(bytes.size()) * ms / 40000);
        int expected = (target - header + packetBytes - 1) / packetBytes;
        Packet p;
        ASSERT_EQ(host.ReadPacket(&p), 0);
        EXPECT_EQ(p.time, expected * 100 * 16384 / 1000) << ms;
        EXPECT_EQ(Format_RefLength(p.data), 992);
        Format_ReleaseRef(p.data);
    }
    host.Close();
    NodeUnRegisterClass(FOURCC('T', 'N', 'E', 'T'));
}

TEST(HostPlugins, LoadsTheFivePluginFilesOfTheProgramFolder) {
    core::Host host;
    EXPECT_EQ(host.LoadPlugins(CORE_TEST_DIST_DIR), 5);
    for (const core::Plugin& p : host.Plugins()) EXPECT_EQ(p.registerResult, 0) << p.path;
    host.UnloadPlugins();
    EXPECT_TRUE(host.Plugins().empty());
}

std::string RunProbe(const std::string& args) {
    std::string cmd = std::string(CORE_TEST_DIST_DIR) + "/lumeo-probe --plugins " + TestPlugins() + " " + args;
    FILE* f = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    int status = pclose(f);
    out += "exit " + std::to_string(WEXITSTATUS(status)) + "\n";
    return out;
}

std::string WriteTemp(const std::vector<uint8_t>& bytes) {
    char name[] = "/tmp/lumeo-probe-test-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    return name;
}

TEST(Probe, PrintsStreamsCommentsAndPacketsOneLineEach) {
    auto path = WriteTemp(Container({{0, 0, 100, 1}, {1, 0, 50, 0}, {0, 1000, 3, 0}}, 2000));
    EXPECT_EQ(RunProbe(path),
              // Comments come as the reader sends them: this one during the open.
              "comment TITLE=Test \xC3\xA9\n"
              "stream 0 video FLV1 w=320 h=240\n"
              "stream 1 audio 85 rate=44100 ch=2 bits=16\n"
              "packet 0 0 100 1\n"
              "packet 1 0 50 0\n"
              "packet 0 16384 3 0\n"
              "exit 0\n");
    std::string quiet = RunProbe("--quiet " + path);
    EXPECT_EQ(quiet.rfind("total streams=2 packets=3 bytes=153 seconds=", 0), 0u) << quiet;
    EXPECT_NE(quiet.find(" mbps="), std::string::npos);
    unlink(path.c_str());
}

TEST(Probe, ReportsFailuresWithAnErrorLineAndExitStatus) {
    auto path = WriteTemp({'L', 'M', 'T', 'E', 1, 2, 3});
    EXPECT_EQ(RunProbe(path), "showerror ERR_ -16 Could not open test://refused\nerror -5 unsupported\nexit 1\n");
    unlink(path.c_str());
    EXPECT_EQ(RunProbe("/nonexistent/file.flv"), "error -8 open failed\nexit 1\n");
    // Nothing to play is a failure too, not an empty success.
    path = WriteTemp({'L', 'M', 'T', 'P', 0, 0, 0, 3, 0xE8});
    EXPECT_EQ(RunProbe(path), "comment TITLE=Test \xC3\xA9\nerror -5 unsupported\nexit 1\n");
    unlink(path.c_str());
}

// --help prints the usage and ends with status 0, as Lumeo's does; a wrong command line prints
// it as an error, with status 2.
TEST(Probe, HelpPrintsTheUsageAndSucceeds) {
    for (const char* help : {"--help", "-h"}) {
        std::string out = RunProbe(std::string(help) + " 2>/dev/null");
        EXPECT_EQ(out.rfind("usage: lumeo-probe ", 0), 0u) << out;
        EXPECT_NE(out.find("\nexit 0\n"), std::string::npos) << out;
    }
    EXPECT_EQ(RunProbe("--bogus 2>/dev/null"), "exit 2\n");
}

// A seek time that is not a number is refused with the usage, not read as 0.
TEST(Probe, ASeekTimeThatIsNotANumberIsRefused) {
    auto path = WriteTemp(Container({{0, 0, 100, 1}}, 1000));
    for (const char* bad : {"abc", "12x", "''", "-5"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(RunProbe(std::string("--seek ") + bad + " " + path + " 2>/dev/null"), "exit 2\n");
    }
    unlink(path.c_str());
}

TEST(Probe, SeekSkipsToTheTimeBeforeReading) {
    std::vector<TestPacket> packets;
    for (int i = 0; i < 10; ++i) packets.push_back({0, i * 1000, 992, 1});
    auto path = WriteTemp(Container(packets, 10000));
    std::string out = RunProbe("--seek 8000 " + path);
    // The 8000-ms point lies inside packet 7; the reader resumes at packet 8.
    EXPECT_NE(out.find("stream 1 audio"), std::string::npos);
    EXPECT_EQ(out.find("packet 0 114688 "), std::string::npos) << out;
    EXPECT_NE(out.find("packet 0 131072 992 1\npacket 0 147456 992 1\nexit 0\n"), std::string::npos) << out;
    unlink(path.c_str());
}

}  // namespace
