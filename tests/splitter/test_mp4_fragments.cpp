// The MP4 reader on movie fragments: files made by ffmpeg here (fragmented PCM and A-law
// movies, HEVC beside AAC with implied bases) and fragments built here byte by byte (the
// 'trex' defaults, run offsets, bases at the 'moof', and fields that cannot be). Every
// packet must be ffprobe's (size, time, key flag, CRC of the payload), or the read must
// end with an error where a fragment cannot be read; never bytes from another place.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/testing.h"
#include "mp4.h"
#include "mp4probe.h"
#include "plugin/frame.h"
#include "probe_run.h"
#include "raw_server.h"

using namespace mp4test;
using testing_support::RawServer;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

int Shell(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder of this test process's own, removed when it ends.
const std::string& Folder()
{
    static struct Owned {
        std::string path;
        Owned()
        {
            const char* base = std::getenv("TMPDIR");
            std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumeo-mp4-fragments-XXXXXX";
            std::vector<char> buf(pattern.begin(), pattern.end());
            buf.push_back('\0');
            if (mkdtemp(buf.data()))
                path = buf.data();
        }
        ~Owned()
        {
            if (!path.empty())
                Shell("rm -rf '" + path + "'");
        }
    } folder;
    return folder.path;
}

using Got = Expect;

// What ffprobe makes of a file: its exit status and its packets as the reader should
// deliver them, with the CRC of each payload.
struct Probe {
    int status = -1;
    std::vector<Got> packets;
};

Probe FfprobeOf(const std::string& path, const std::set<int>& dropped = {})
{
    Probe probe;
    std::string report = path + ".report";
    probe.status = Shell("ffprobe -v error -show_streams -show_packets -show_data_hash CRC32 '" + path + "' > '" + report +
                         "' 2>/dev/null");
    probe.packets = ExpectedPackets(ReadReport(report), dropped);
    return probe;
}

// A stream that cannot seek back (as one read over the network skips ahead by reading) and
// tells no length.
int (*g_memSeek)(void*, int, int) = nullptr;
int ForwardOnlySeek(void* self, int offset, int whence)
{
    int at = g_memSeek(self, 0, 1);
    int target = whence == 0 ? offset : whence == 1 ? at + offset : -1;
    return target >= at ? g_memSeek(self, target, 0) : -1;
}
int NoLength(void*, int, void*, int) { return ERR_INVALID_PARAM; }

// The reader on a file in memory, as the host drives it; `forwardOnly` puts it on a stream
// that cannot seek back and has no length, read in small fills.
class Mp4Fragments : public ReaderTest {
protected:
    int Open(const std::string& bytes, bool forwardOnly = false)
    {
        Close();
        core::ClearShownErrors();
        held = bytes;
        stream = MemStreamCreate(held.data(), int(held.size()));
        format = static_cast<Format*>(NodeCreate(MP4_CLASS));
        if (!stream || !format)
            return ERR_OUT_OF_MEMORY;
        if (forwardOnly) {
            g_memSeek = stream->seekStream;
            stream->seekStream = ForwardOnlySeek;
            stream->node.getParam = NoLength;
            format->fillSize = 512;
        }
        Format_SetInput(format, 0, stream);
        return format->openFormat(format);
    }
    // Every packet up to the reader's answer, which lands in `end`.
    std::vector<Got> ReadAll(int* end, size_t limit = 4000000)
    {
        std::vector<Got> out;
        *end = 0;
        while (out.size() < limit) {
            Packet p{};
            *end = format->readPacket(format, &format->input[0], &p);
            if (*end != 0)
                break;
            uLong crc = crc32(0L, Z_NULL, 0);
            for (const BlockRef* b = p.data; b; b = b->next)
                crc = crc32(crc, b->data, uInt(b->length));
            out.push_back({p.stream ? p.stream->number : -1, p.time, Format_RefLength(p.data), p.key, uint32_t(crc)});
            Format_ReleaseRef(p.data);
        }
        return out;
    }
    // Opens the file both ways and expects `want`, then `end`.
    void ExpectPackets(const std::string& bytes, const std::vector<Got>& want, int end)
    {
        for (bool forwardOnly : {false, true}) {
            SCOPED_TRACE(forwardOnly ? "on a stream that cannot seek back, without a length" : "on a file");
            ASSERT_EQ(Open(bytes, forwardOnly), 0);
            int code = 0;
            std::vector<Got> got = ReadAll(&code);
            EXPECT_EQ(got, want);
            EXPECT_EQ(code, end);
        }
    }

    std::string held;
};

// ---- files made by ffmpeg ----

// Makes a file in the test's folder: `inputs`, then the output options.
std::string Ffmpeg(const std::string& name, const std::string& inputs, const std::string& options)
{
    std::string path = Folder() + "/" + name;
    int status = Shell("ffmpeg -v error -y " + inputs + " -fflags +bitexact -flags:v +bitexact -flags:a +bitexact " +
                       "-map_metadata -1 " + options + " '" + path + "' < /dev/null");
    EXPECT_EQ(status, 0) << name;
    return path;
}

// The ffmpeg files, made once per test process: the path and the streams the reader drops.
struct Made {
    std::string path;
    std::set<int> dropped;
};

const std::vector<Made>& FfmpegFiles()
{
    static const std::vector<Made> made = [] {
        const std::string video = "-f lavfi -i testsrc=size=64x48:rate=10:duration=4 ";
        const std::string tone = "-f lavfi -i sine=frequency=440:duration=4:sample_rate=";
        return std::vector<Made>{
            // Whole-chunk audio: chunks in the 'moov', samples of 1024 frames in the fragments.
            {Ffmpeg("pcm-frag.mov", video + tone + "44100",
                    "-c:v mpeg4 -g 10 -c:a pcm_s16be -ac 2 -movflags +frag_keyframe -f mov"), {}},
            {Ffmpeg("alaw-frag.mov", video + tone + "8000", "-c:v mpeg4 -g 10 -c:a pcm_alaw -movflags +frag_keyframe -f mov"),
             {}},
            // The HEVC track is dropped; the AAC track's bases lie behind the HEVC data.
            {Ffmpeg("hevc-aac.mp4", video + tone + "8000",
                    "-c:v libx265 -x265-params log-level=error:pools=1:frame-threads=1 -pix_fmt yuv420p -g 10 "
                    "-c:a aac -b:a 16k -ac 1 -movflags +frag_keyframe+empty_moov+omit_tfhd_offset"),
             {0}},
        };
    }();
    return made;
}

TEST_F(Mp4Fragments, FfmpegsFragmentedMoviesGiveFfprobesPackets)
{
    for (const Made& m : FfmpegFiles()) {
        SCOPED_TRACE(m.path);
        Probe probe = FfprobeOf(m.path, m.dropped);
        ASSERT_EQ(probe.status, 0);
        ASSERT_FALSE(probe.packets.empty());
        ExpectPackets(ReadFile(m.path), probe.packets, ERR_END_OF_FILE);
    }
}

// ---- fragments built here ----

std::string U32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string U64(uint64_t v) { return U32(uint32_t(v >> 32)) + U32(uint32_t(v)); }
std::string Atom(const char* type, const std::string& body) { return U32(uint32_t(8 + body.size())) + type + body; }
std::string Full(const char* type, uint32_t flags, const std::string& body) { return Atom(type, U32(flags) + body); }

constexpr uint32_t kNonKey = 0x00010000;
constexpr uint32_t kKey = 0x02000000;

struct Sample {
    uint32_t duration, size, flags;
};

struct Run {
    uint32_t flags;                // trun flags: which fields follow
    uint32_t count;                // samples (those listed when per-sample fields are set)
    int32_t dataOffset = 0;
    uint32_t firstFlags = 0;
    std::vector<Sample> samples;   // the per-sample fields
};

struct Traf {
    uint32_t trackId;
    uint32_t flags;                // tfhd flags
    uint64_t base = 0;
    uint32_t duration = 0, size = 0, sampleFlags = 0;
    uint64_t decodeTime = 0;
    std::vector<Run> runs;
};

std::string Trun(const Run& run)
{
    std::string b = U32(run.count);
    if (run.flags & 0x001)
        b += U32(uint32_t(run.dataOffset));
    if (run.flags & 0x004)
        b += U32(run.firstFlags);
    for (const Sample& s : run.samples) {
        if (run.flags & 0x100)
            b += U32(s.duration);
        if (run.flags & 0x200)
            b += U32(s.size);
        if (run.flags & 0x400)
            b += U32(s.flags);
    }
    return Full("trun", run.flags, b);
}

std::string Moof(const std::vector<Traf>& trafs)
{
    std::string body = Full("mfhd", 0, U32(1));
    for (const Traf& t : trafs) {
        std::string h = U32(t.trackId);
        if (t.flags & 0x01)
            h += U64(t.base);
        if (t.flags & 0x08)
            h += U32(t.duration);
        if (t.flags & 0x10)
            h += U32(t.size);
        if (t.flags & 0x20)
            h += U32(t.sampleFlags);
        std::string traf = Full("tfhd", t.flags, h) + Full("tfdt", 1u << 24, U64(t.decodeTime));
        for (const Run& r : t.runs)
            traf += Trun(r);
        body += Atom("traf", traf);
    }
    return Atom("moof", body);
}

// Bytes no two samples share, so that a sample read from another place shows in its CRC.
std::string Payload(size_t n, uint32_t seed)
{
    std::string out(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 23);
    }
    return out;
}

// The movie header of an ffmpeg 'empty_moov' file (MPEG-4 video track 1, AAC track 2, no
// sample of their own; ffprobe takes MPEG-4 key flags from the fragments, not from the
// payload), with the 'trex' defaults of the video track given.
std::string Movie(uint32_t videoDuration = 0, uint32_t videoSize = 0, uint32_t videoFlags = 0)
{
    static const std::string movie = [] {
        std::string file = ReadFile(Ffmpeg("base.mp4",
                                           "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 "
                                           "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=1",
                                           "-c:v mpeg4 -g 10 -c:a aac -b:a 16k -ac 1 "
                                           "-movflags +frag_keyframe+empty_moov+omit_tfhd_offset"));
        size_t moof = file.find("moof");
        EXPECT_NE(moof, std::string::npos);
        return file.substr(0, moof - 4);
    }();
    std::string file = movie;
    size_t trex = file.find("trex");
    EXPECT_NE(trex, std::string::npos);
    // version/flags, track id, description index, then the three defaults.
    file.replace(trex + 16, 12, U32(videoDuration) + U32(videoSize) + U32(videoFlags));
    return file;
}

// Appends a 'moof', the atoms `between` and the 'mdat' of `data`; `place` sets the bases
// and data offsets from where the 'moof' and the data start (the moof's size does not
// depend on them).
using Place = std::function<void(std::vector<Traf>&, uint64_t moof, uint64_t data)>;
void AddFragment(std::string& file, std::vector<Traf> trafs, const std::string& data, const Place& place,
                 const std::string& between = "")
{
    uint64_t moof = file.size();
    uint64_t start = moof + Moof(trafs).size() + between.size() + 8;
    place(trafs, moof, start);
    file += Moof(trafs) + between + Atom("mdat", data);
}

std::vector<Sample> VideoSamples(int n, uint32_t seed, uint32_t scale = 1)
{
    std::vector<Sample> out;
    for (int i = 0; i < n; ++i)
        out.push_back({1024, (100 + (seed * 37 + uint32_t(i) * 53) % 400) * scale, i == 0 ? kKey : kNonKey});
    return out;
}

uint32_t Bytes(const std::vector<Sample>& samples)
{
    uint32_t n = 0;
    for (const Sample& s : samples)
        n += s.size;
    return n;
}

// One video fragment of `n` samples at `decodeTime`: sizes, durations and flags per sample,
// the data right behind the 'moof'.
void VideoFragment(std::string& file, int n, uint64_t decodeTime, uint32_t seed, const std::string& between = "",
                   uint32_t scale = 1)
{
    std::vector<Sample> s = VideoSamples(n, seed, scale);
    Traf t{1, 0x020000, 0, 0, 0, 0, decodeTime, {{0x701, uint32_t(n), 0, 0, s}}};
    AddFragment(
        file, {t}, Payload(Bytes(s), seed),
        [](std::vector<Traf>& f, uint64_t moof, uint64_t data) { f[0].runs[0].dataOffset = int32_t(data - moof); },
        between);
}

// The three rules no ffmpeg file exercises: each fixture's packets differ when the reader
// gets its rule wrong.
using Named = std::vector<std::pair<std::string, std::string>>;

Named RuleFiles()
{
    Named files;
    {
        // The 'trex' defaults: duration 512, size 300, non-key; tfhd gives none; the first
        // sample's flags make it a key.
        std::string f = Movie(512, 300, kNonKey);
        for (uint32_t k = 0; k < 3; ++k) {
            Traf t{1, 0x020000, 0, 0, 0, 0, k * 5 * 512, {{0x005, 5, 0, kKey, {}}}};
            AddFragment(f, {t}, Payload(1500, k), [](std::vector<Traf>& v, uint64_t moof, uint64_t data) {
                v[0].runs[0].dataOffset = int32_t(data - moof);
            });
        }
        files.emplace_back("frag-trex.mp4", f);
    }
    {
        // Runs whose data offsets count from the tfhd base (the 'mdat'), 100 bytes apart.
        std::string f = Movie();
        for (uint32_t k = 0; k < 3; ++k) {
            std::vector<Sample> a = VideoSamples(4, k), b = VideoSamples(4, k + 7);
            b[0].flags = kNonKey;
            Traf t{1, 0x000001, 0, 0, 0, 0, k * 8 * 1024, {{0x701, 4, 0, 0, a}, {0x701, 4, 0, 0, b}}};
            std::string data = Payload(Bytes(a), k + 20) + Payload(100, 0) + Payload(Bytes(b), k + 40);
            AddFragment(f, {t}, data, [&](std::vector<Traf>& v, uint64_t, uint64_t start) {
                v[0].base = start - 8;
                v[0].runs[0].dataOffset = 8;
                v[0].runs[1].dataOffset = int32_t(8 + Bytes(a) + 100);
            });
        }
        files.emplace_back("frag-base-offset.mp4", f);
    }
    {
        // Both tracks' bases at the 'moof' (default-base-is-moof), the audio data first.
        std::string f = Movie();
        for (uint32_t k = 0; k < 3; ++k) {
            std::vector<Sample> v = VideoSamples(5, k);
            std::vector<Sample> a;
            for (int i = 0; i < 6; ++i)
                a.push_back({1024, 60 + uint32_t(i) * 7, 0});
            Traf video{1, 0x020000, 0, 0, 0, 0, k * 5 * 1024, {{0x701, 5, 0, 0, v}}};
            Traf audio{2, 0x020000 | 0x20, 0, 0, 0, kKey, k * 6 * 1024, {{0x301, 6, 0, 0, a}}};
            std::string data = Payload(Bytes(a), k + 60) + Payload(Bytes(v), k + 80);
            AddFragment(f, {video, audio}, data, [&](std::vector<Traf>& t, uint64_t moof, uint64_t start) {
                t[0].runs[0].dataOffset = int32_t(start - moof + Bytes(a));
                t[1].runs[0].dataOffset = int32_t(start - moof);
            });
        }
        files.emplace_back("frag-moof-bases.mp4", f);
    }
    return files;
}

TEST_F(Mp4Fragments, TrexDefaultsRunOffsetsAndBasesAtTheMoof)
{
    for (const auto& [name, bytes] : RuleFiles()) {
        SCOPED_TRACE(name);
        std::string path = Folder() + "/built.mp4";
        WriteFile(path, bytes);
        Probe probe = FfprobeOf(path);
        ASSERT_EQ(probe.status, 0);
        ASSERT_GE(probe.packets.size(), 15u);
        ExpectPackets(bytes, probe.packets, ERR_END_OF_FILE);
    }
}

// A track fragment of a track id the movie does not have, between the video and the audio,
// all bases implied: its data still moves the audio's base. ffprobe refuses the id, so the
// expectation is its packets of the twin whose audio names its offset from the 'moof'.
std::string WithUnknownTrack(bool twin)
{
    std::string f = Movie();
    for (uint32_t k = 0; k < 3; ++k) {
        std::vector<Sample> v = VideoSamples(5, k), a;
        for (int i = 0; i < 6; ++i)
            a.push_back({1024, 60 + uint32_t(i) * 7, 0});
        std::vector<Traf> trafs = {{1, 0, 0, 0, 0, 0, k * 5 * 1024, {{0x701, 5, 0, 0, v}}}};
        if (!twin)
            trafs.push_back({9, 0x10, 0, 0, 50, 0, 0, {{0, 3, 0, 0, {}}}});
        trafs.push_back({2, twin ? 0x020000u | 0x20 : 0x20u, 0, 0, 0, kKey, k * 6 * 1024, {{twin ? 0x301u : 0x300u, 6, 0, 0, a}}});
        std::string data = Payload(Bytes(v), k + 60) + Payload(150, k) + Payload(Bytes(a), k + 80);
        AddFragment(f, trafs, data, [&](std::vector<Traf>& t, uint64_t moof, uint64_t start) {
            t[0].runs[0].dataOffset = int32_t(start - moof);
            t.back().runs[0].dataOffset = int32_t(start - moof + Bytes(v) + 150);
        });
    }
    return f;
}

TEST_F(Mp4Fragments, ATrackFragmentOfNoTrackStillMovesTheBaseBehind)
{
    std::string twin = Folder() + "/twin.mp4";
    WriteFile(twin, WithUnknownTrack(true));
    Probe probe = FfprobeOf(twin);
    ASSERT_EQ(probe.status, 0);
    ASSERT_EQ(probe.packets.size(), 33u);
    ExpectPackets(WithUnknownTrack(false), probe.packets, ERR_END_OF_FILE);
}

// A fragment with a field that cannot be, between two good ones: it is left out with an
// error at the end, the good ones are read whole (ffprobe's packets of the file without it;
// ffprobe itself lists only the first fragment of most of these, with status 0, reads the
// run inside the movie header as samples, and refuses the run that lists fewer samples
// than it claims).
struct BadCase {
    const char* name;
    Place place;          // sets the bad run's base and offset
    uint32_t tfhdFlags;
    uint32_t count;       // the run's claimed samples (5 are listed)
};

const BadCase kBad[] = {
    // Clamped to 2^31 - 1, the base met the negative offset inside the 'moov'.
    {"tfhd base above 2^31",
     [](std::vector<Traf>& t, uint64_t, uint64_t) {
         t[0].base = uint64_t(1) << 32;
         t[0].runs[0].dataOffset = -0x7FFFFFFF + 200;
     },
     0x000001, 5},
    {"data offset before the file",
     [](std::vector<Traf>& t, uint64_t moof, uint64_t) { t[0].runs[0].dataOffset = -int32_t(moof) - 100; }, 0x020000, 5},
    {"data offset at 2^31",
     [](std::vector<Traf>& t, uint64_t, uint64_t) {
         t[0].base = 0x7FFFFF00;
         t[0].runs[0].dataOffset = 0x1000;
     },
     0x000001, 5},
    {"run past the end of the file",
     [](std::vector<Traf>& t, uint64_t, uint64_t) { t[0].runs[0].dataOffset = 0x01000000; }, 0x020000, 5},
    {"run inside the movie header",
     [](std::vector<Traf>& t, uint64_t moof, uint64_t) { t[0].runs[0].dataOffset = 200 - int32_t(moof); }, 0x020000, 5},
    {"more samples than the run lists", [](std::vector<Traf>& t, uint64_t moof, uint64_t data) {
         t[0].runs[0].dataOffset = int32_t(data - moof);
     },
     0x020000, 1000},
};

std::string WithBadFragment(const BadCase* bad)
{
    std::string f = Movie();
    VideoFragment(f, 5, 0, 1);
    if (bad) {
        std::vector<Sample> s = VideoSamples(5, 2);
        Traf t{1, bad->tfhdFlags, 0, 0, 0, 0, 5 * 1024, {{0x701, bad->count, 0, 0, s}}};
        AddFragment(f, {t}, Payload(Bytes(s), 2), bad->place);
    }
    VideoFragment(f, 5, 10 * 1024, 3);
    return f;
}

TEST_F(Mp4Fragments, AFragmentThatCannotBeIsAnErrorAndTheOthersAreRead)
{
    std::string good = Folder() + "/good.mp4";
    WriteFile(good, WithBadFragment(nullptr));
    Probe want = FfprobeOf(good);
    ASSERT_EQ(want.status, 0);
    ASSERT_EQ(want.packets.size(), 10u);
    for (const BadCase& c : kBad) {
        SCOPED_TRACE(c.name);
        ExpectPackets(WithBadFragment(&c), want.packets, ERR_INVALID_DATA);
    }
}

// ffmpeg refuses a file whose 'moof' comes before the 'moov' (it names tracks not known yet).
std::string MoofFirst()
{
    std::string movie = Movie();
    size_t moov = movie.find("moov") - 4;
    std::string f = movie.substr(0, moov);
    VideoFragment(f, 5, 0, 1);
    f += movie.substr(moov);
    VideoFragment(f, 5, 5 * 1024, 2);
    return f;
}

TEST_F(Mp4Fragments, AFragmentBeforeTheMovieHeaderRefusesTheFile)
{
    std::string f = MoofFirst();
    std::string path = Folder() + "/moof-first.mp4";
    WriteFile(path, f);
    EXPECT_NE(FfprobeOf(path).status, 0);
    for (bool forwardOnly : {false, true})
        EXPECT_EQ(Open(f, forwardOnly), ERR_INVALID_DATA) << forwardOnly;
}

// Runs with no per-sample field all claiming the same bytes: 60 runs of 2^20 samples of one
// byte over 1.1 MB. The file is refused at once, not read as 62.9 million packets.
std::string Amplifying(int runs, uint32_t perRun, size_t data)
{
    std::string f = Movie();
    Traf t{1, 0x020000 | 0x08 | 0x10 | 0x20, 0, 1024, 1, kKey, 0, {}};
    for (int i = 0; i < runs; ++i)
        t.runs.push_back({0x001, perRun, 0, 0, {}});
    AddFragment(f, {t}, Payload(data, 9), [](std::vector<Traf>& v, uint64_t moof, uint64_t start) {
        for (Run& r : v[0].runs)
            r.dataOffset = int32_t(start - moof);
    });
    return f;
}

TEST_F(Mp4Fragments, RunsThatClaimMoreSamplesThanTheFileHoldsAreRefusedAtOnce)
{
    std::string bytes = Amplifying(60, 1u << 20, 1100000);
    for (bool forwardOnly : {false, true}) {
        SCOPED_TRACE(forwardOnly);
        auto start = std::chrono::steady_clock::now();
        int rc = Open(bytes, forwardOnly);
        int end = rc;
        std::vector<Got> got;
        if (rc == 0)
            got = ReadAll(&end);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(got.empty()) << got.size();
        EXPECT_EQ(end, ERR_INVALID_DATA);
        EXPECT_LT(seconds, 5.0);  // not the minutes 62.9 million packets take
    }
}

// 'moof', 'free', 'mdat': on a stream that cannot seek the 'mdat' is found by reading on
// through the atoms between, not by passing it and seeking back.
std::string WithFree(uint32_t scale = 1)
{
    std::string f = Movie();
    for (uint32_t k = 0; k < 4; ++k)
        VideoFragment(f, 10, k * 10 * 1024, k, Atom("free", std::string(100 + k * 3000, '\0')), scale);
    return f;
}

TEST_F(Mp4Fragments, AtomsBetweenTheMoofAndItsDataAreReadThrough)
{
    std::string f = WithFree();
    std::string path = Folder() + "/free.mp4";
    WriteFile(path, f);
    Probe probe = FfprobeOf(path);
    ASSERT_EQ(probe.status, 0);
    ASSERT_EQ(probe.packets.size(), 40u);
    ExpectPackets(f, probe.packets, ERR_END_OF_FILE);
}

// ---- over HTTP without a length ----

// lumeo-probe's packet lines: "packet STREAM TIME SIZE KEY".
std::vector<Got> ProbeLines(const std::string& out)
{
    std::vector<Got> packets;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? out.size() : end + 1;
        Got g{};
        if (std::sscanf(line.c_str(), "packet %d %d %d %d", &g.stream, &g.time, &g.size, &g.key) == 4)
            packets.push_back(g);
    }
    return packets;
}

// The fragment files (atoms between 'moof' and 'mdat', and ffmpeg's) served once, as a live
// stream is (no second request is answered), chunked, as HTTP/1.0 without a length and as
// ICY: the probe lists every packet ffprobe lists, and ends with status 0.
TEST_F(Mp4Fragments, OverHttpWithoutALengthEveryPacketComes)
{
    // Fragments of about 300 KB, more than the input keeps; and ffmpeg's files.
    std::string free = Folder() + "/free.mp4";
    WriteFile(free, WithFree(100));
    std::vector<Made> files = {{free, {}}};
    files.insert(files.end(), FfmpegFiles().begin(), FfmpegFiles().end());
    for (const Made& m : files) {
        SCOPED_TRACE(m.path);
        std::string bytes = ReadFile(m.path);
        std::vector<Got> want = FfprobeOf(m.path, m.dropped).packets;
        ASSERT_FALSE(want.empty());
        for (Got& g : want)
            g.crc = 0;
        const std::pair<const char*, std::string> answers[] = {
            {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + probe_run::Chunked(bytes, 4096, true)},
            {"HTTP/1.0 without a length", "HTTP/1.0 200 OK\r\nContent-Type: video/mp4\r\n\r\n" + bytes},
            {"ICY, metaint 16000", "ICY 200 OK\r\nicy-name: Loopback\r\nicy-metaint: 16000\r\n\r\n" + probe_run::WithMetadata(bytes, 16000)},
        };
        for (const auto& answer : answers) {
            SCOPED_TRACE(answer.first);
            RawServer server([&](int fd, const std::string&, int) { RawServer::SendAll(fd, answer.second); }, 1);
            std::string out = Folder() + "/probe.txt";
            int status = Shell(std::string(LUMEO_TEST_DIST_DIR) + "/lumeo-probe " + server.url(m.path.substr(m.path.rfind('/'))) + " > '" + out +
                               "' 2>&1");
            std::string printed = ReadFile(out);
            EXPECT_EQ(status, 0) << printed.substr(0, 2000);
            EXPECT_EQ(printed.find("error "), std::string::npos) << printed.substr(0, 2000);
            EXPECT_EQ(ProbeLines(printed), want);
        }
    }
}

// The hand-built files are fuzz seeds of the reader (tests/data/mp4); this writes them
// there anew (run with --gtest_also_run_disabled_tests).
TEST(Mp4FragmentSeeds, DISABLED_WriteTheHandBuiltFilesAsFuzzSeeds)
{
    Named files = RuleFiles();
    for (size_t i = 0; i < sizeof(kBad) / sizeof(kBad[0]); ++i)
        files.emplace_back("frag-bad-" + std::to_string(i + 1) + ".mp4", WithBadFragment(&kBad[i]));
    files.emplace_back("frag-moof-first.mp4", MoofFirst());
    files.emplace_back("frag-amplifying.mp4", Amplifying(64, 1u << 14, 16384));
    files.emplace_back("frag-free.mp4", WithFree());
    files.emplace_back("frag-unknown-track.mp4", WithUnknownTrack(false));
    for (const auto& [name, bytes] : files)
        WriteFile(std::string(LUMEO_TEST_SOURCE_DIR) + "/tests/data/mp4/" + name, bytes);
}

}  // namespace
