// The MP4/QuickTime reader against ffprobe's reports of the fixtures in tests/data/mp4,
// the packed sample tables, seeking, and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define LUMEO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMEO_ASAN 1
#endif
#endif
#ifdef LUMEO_ASAN
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

#include "core/common.h"
#include "core/testing.h"
#include "mp4.h"
#include "mp4probe.h"
#include "mp4table.h"
#include "plugin/frame.h"

using namespace mp4test;

namespace {

std::string DataPath(const std::string& name)
{
    return std::string(LUMEO_TEST_SOURCE_DIR) + "/tests/data/mp4/" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A comment receiver: records every text it is given.
struct Sink {
    Node node{};
    std::vector<std::wstring> texts;

    Sink() { node.setParam = Set; }
    static int Set(void* self, int, const void* data, int size)
    {
        const tchar* text = static_cast<const tchar*>(data);
        size_t cap = size_t(size) / sizeof(tchar);
        static_cast<Sink*>(self)->texts.emplace_back(text, std::find(text, text + cap, L'\0'));
        return 0;
    }
    CommentSink Of() { return CommentSink{&node, 7}; }
    bool Has(const std::wstring& t) const { return std::find(texts.begin(), texts.end(), t) != texts.end(); }
};

struct Got {
    int stream;
    int time;
    int size;
    int key;
    bool operator==(const Got& o) const { return stream == o.stream && time == o.time && size == o.size && key == o.key; }
};

void PrintTo(const Got& g, std::ostream* os) { *os << "{s" << g.stream << " t" << g.time << " n" << g.size << " k" << g.key << "}"; }

// Drives one reader object the way the host does: its input 0 on a memory stream,
// the comment sink set before the open, packets read from input 0 (where the core binds
// every track).
class Mp4 : public ReaderTest {
protected:
    int Open(const std::string& name, Sink* sink = nullptr) { return OpenBytes(ReadFile(DataPath(name)), sink); }
    int OpenBytes(const std::vector<uint8_t>& bytes, Sink* sink = nullptr)
    {
        Close();
        core::ClearShownErrors();
        stream = MemStreamCreate(bytes.data(), int(bytes.size()));
        format = static_cast<Format*>(NodeCreate(MP4_CLASS));
        if (!stream || !format)
            return ERR_OUT_OF_MEMORY;
        Format_SetInput(format, 0, stream);
        if (sink) {
            CommentSink c = sink->Of();
            FormatBaseSet(format, FormatCommentSink, &c, sizeof(c));
        }
        return format->openFormat(format);
    }
    Format* reader() { return format; }
    int streams() { return format ? format->streamCount : 0; }
    Mp4Track* track(int i) { return reinterpret_cast<Mp4Track*>(format->streams[i]); }
    int ReadPacket(Packet* p) { return format->readPacket(format, &format->input[0], p); }

    // Reads until the reader answers with a code, in at most `calls` calls; the code is
    // 0 when it never did.
    struct Run {
        size_t packets = 0;
        int end = 0;
    };
    Run ReadToEnd(size_t calls)
    {
        Run run;
        for (size_t i = 0; i < calls; ++i) {
            Packet p{};
            run.end = ReadPacket(&p);
            if (run.end != 0)
                return run;
            Format_ReleaseRef(p.data);
            ++run.packets;
        }
        return run;
    }

    std::vector<Got> ReadAll(size_t limit = 200000)
    {
        std::vector<Got> out;
        Packet p{};
        while (out.size() < limit && ReadPacket(&p) == 0) {
            out.push_back({p.stream ? p.stream->number : -1, p.time, Format_RefLength(p.data), p.key});
            Format_ReleaseRef(p.data);
            p = Packet{};
        }
        return out;
    }
};

// ---- packed tables ----

TEST(Mp4Packing, ResidualsTakeTheBytesOfTheirSize)
{
    struct Case {
        int32_t value;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {5, {0x0B}}, {-1, {0xFF}}, {100, {0x00, 0xC9}}, {-100, {0xFE, 0x39}},
        {63, {0x7F}}, {64, {0x00, 0x81}}, {-64, {0x81}}, {-65, {0xFE, 0x7F}},
        {INT_MAX, {0x0E, 0xFE, 0xFE, 0xFE, 0xFF}}, {INT_MIN, {0xF0, 0x00, 0x00, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        uint8_t out[8];
        int n = mp4::PackResidual(out, c.value);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << c.value;
        const uint8_t* at = out;
        EXPECT_EQ(mp4::UnpackResidual(&at, out + n), c.value);
        EXPECT_EQ(at, out + n);
    }
}

TEST(Mp4Packing, PredictorsGiveSecondAndTwoBackDifferences)
{
    mp4::Predictor sync, size;
    std::vector<int32_t> syncRes, sizeRes;
    for (uint32_t v : {0u, 30u, 60u, 90u})  // stss 1, 31, 61, 91 less one
        syncRes.push_back(mp4::LinearResidual(sync, v));
    for (uint32_t v : {500u, 40u, 480u, 60u})
        sizeRes.push_back(mp4::TwoBackResidual(size, v));
    EXPECT_EQ(syncRes, (std::vector<int32_t>{0, 30, 0, 0}));
    EXPECT_EQ(sizeRes, (std::vector<int32_t>{500, 40, -20, 20}));

    // And back, through the readers, with the value 0 past the end.
    uint8_t buf[32];
    int n = 0;
    for (int32_t e : sizeRes)
        n += mp4::PackResidual(buf + n, e);
    const uint8_t* at = buf;
    int32_t delta = 0, value = 0;
    std::vector<int32_t> back;
    for (int i = 0; i < 5; ++i)
        back.push_back(mp4::NextTwoBack(&at, buf + n, &delta, &value));
    EXPECT_EQ(back, (std::vector<int32_t>{500, 40, 480, 60, 0}));
}

// ---- files against ffprobe ----

struct FileCase {
    const char* name;
    std::set<int> dropped;  // ffprobe streams the reader drops (an attached picture, a track it removes)
};

// What the reader should deliver, from ffprobe's packets (see ExpectedPackets).
std::vector<Got> Expected(const std::vector<Section>& report, const std::set<int>& dropped)
{
    std::vector<Got> out;
    for (const Expect& e : ExpectedPackets(report, dropped))
        out.push_back({e.stream, e.time, e.size, e.key});
    return out;
}

const FileCase kFiles[] = {
    {"mpeg4-aac.mp4", {}},
    {"h264-bframes.mp4", {}},
    {"tags.m4a", {}},
    {"chapters.mp4", {}},
    {"chapters.mov", {}},
    {"avdj.mov", {}},
    {"twos.mov", {}},
    {"sowt.mov", {}},
    {"ulaw.mov", {}},
    {"alaw.mov", {}},
    {"ima4.mov", {}},
    {"raw8.mov", {}},
    {"png-twos.mov", {}},
    {"cmov.mov", {}},
    {"size0.mp4", {1}},
    {"co64.mp4", {1}},
    {"large-size.mp4", {}},
    {"synthetic.mov", {}},
    {"billions.mov", {}},
    {"long-times.mp4", {}},
    // Fragmented movies: 'moov' with the first fragment's samples, 'moov' without samples
    // (B-frames, bases implied), bases at each 'moof'.
    {"frag-keyframe.mp4", {}},
    {"empty-moov.mp4", {}},
    {"moof-base.mp4", {}},
    // Video fragments whose decode times jump by 0.5 s from the second on.
    {"frag-gap.mp4", {}},
};

TEST_F(Mp4, PacketsFollowFileOrderWithFfprobesSizesKeysAndTimes)
{
    for (const FileCase& f : kFiles) {
        SCOPED_TRACE(f.name);
        ASSERT_EQ(Open(f.name), 0);
        std::vector<Section> report = ReadReport(DataPath(std::string(f.name) + ".ffprobe"));
        std::vector<Got> want = Expected(report, f.dropped);
        std::vector<Got> got = ReadAll();
        // ffprobe takes a text track that holds chapters as chapters and lists none of
        // its packets; ChaptersFromChplAndFromTheTextTrack checks them.
        std::set<int> listed;
        for (const Got& g : want)
            listed.insert(g.stream);
        std::erase_if(got, [&](const Got& g) {
            return !listed.count(g.stream) && track(g.stream)->base.format.kind == PACKET_TEXT;
        });
        EXPECT_EQ(got, want);
    }
}

TEST_F(Mp4, StreamsCarryFfprobesCodecsAndGeometry)
{
    for (const FileCase& f : kFiles) {
        SCOPED_TRACE(f.name);
        ASSERT_EQ(Open(f.name), 0);
        std::vector<Section> want;
        for (const Section& s : OfKind(ReadReport(DataPath(std::string(f.name) + ".ffprobe")), "STREAM"))
            if (!f.dropped.count(int(s.Int("index"))) && s.Get("DISPOSITION:attached_pic") != "1")
                want.push_back(s);
        ASSERT_EQ(streams(), int(want.size()));
        for (int i = 0; i < streams(); ++i) {
            const PacketFormat& pf = track(i)->base.format;
            const Section& s = want[size_t(i)];
            std::string type = s.Get("codec_type"), tag = s.Get("codec_tag_string");
            // esds, avcC: the decoder configuration that ffprobe's decoders are given.
            if (s.values.count("extradata_size") && type != "subtitle" && type != "data" && tag != "text") {
                EXPECT_EQ(pf.extraLength, s.Int("extradata_size")) << tag;
            }
            if (type == "video") {
                EXPECT_EQ(pf.kind, PACKET_VIDEO);
                std::string fourcc = tag == "png " ? "PNG_" : tag == "AVDJ" ? "jpeg" : tag;
                EXPECT_EQ(core::FourCCText(pf.fourcc), fourcc);
                if (tag == "mp4v") {
                    EXPECT_EQ(pf.width, 0);  // the decoder takes them from the extra data
                } else {
                    EXPECT_EQ(pf.width, s.Int("width"));
                    EXPECT_EQ(pf.height, s.Int("height"));
                }
                EXPECT_EQ(pf.aspect, 0x10000);
            } else if (type == "audio") {
                EXPECT_EQ(pf.kind, PACKET_AUDIO);
                if (tag == "mp4a") {
                    // The sample entry says 2 channels; the AAC configuration in the
                    // extra data (ffprobe's source) says how many there are.
                    ASSERT_GE(pf.extraLength, 2);
                    EXPECT_EQ((pf.extra[1] >> 3) & 15, s.Int("channels"));
                } else {
                    EXPECT_EQ(pf.channels, s.Int("channels"));
                }
                EXPECT_EQ(pf.sampleRate, s.Int("sample_rate"));
                static const std::map<std::string, int> tags = {
                    {"mp4a", 0xAAC0}, {"twos", 1}, {"sowt", 1}, {"raw ", 1}, {"ulaw", 7}, {"alaw", 6}, {"ima4", 0x10011}};
                EXPECT_EQ(pf.formatTag, tags.at(tag));
                if (tag == "twos" || tag == "sowt") {
                    EXPECT_EQ(pf.bits, 16);
                }
                if (tag == "raw " || tag == "ulaw" || tag == "alaw") {
                    EXPECT_EQ(pf.bits, 8);
                }
                if (tag == "mp4a") {  // the decoder configuration of the esds
                    EXPECT_GT(pf.extraLength, 0);
                }
            } else {
                EXPECT_EQ(pf.kind, PACKET_TEXT);
                EXPECT_EQ(core::FourCCText(pf.fourcc), tag == "text" ? "TEXT" : "TX3G");
            }
        }
    }
}

TEST_F(Mp4, SampleTableRulesOfTheSyntheticFile)
{
    ASSERT_EQ(Open("synthetic.mov"), 0);
    ASSERT_EQ(streams(), 5);
    std::vector<Got> got = ReadAll();
    // The smallest composition offset, 2 units of 600, starts the video times.
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], (Got{0, MulDiv(2, 16384, 600), 100, 1}));
    // Raw 8-bit audio with sample size 1: one packet per chunk of 300 and 200 samples.
    std::vector<int> audio;
    for (const Got& g : got)
        if (g.stream == 1)
            audio.push_back(g.size);
    EXPECT_EQ(audio, (std::vector<int>{300, 200}));
    // 5 samples in 0.5 s: 10 per second; one sample in 2 s is under one a second.
    EXPECT_EQ(track(0)->base.format.packetRateNum, 10000);
    EXPECT_EQ(track(0)->base.format.packetRateDen, 1000);
    EXPECT_EQ(track(2)->base.format.packetRateNum, 500);
    EXPECT_TRUE(track(2)->base.format.pixelFlags & 0x4000);
    EXPECT_FALSE(track(3)->base.format.pixelFlags & 0x4000);
}

TEST_F(Mp4, PalettesOfTwoFourAndEightBits)
{
    ASSERT_EQ(Open("synthetic.mov"), 0);
    ASSERT_EQ(streams(), 5);
    const PacketFormat& grey = track(2)->base.format;
    ASSERT_EQ(grey.extraLength, 256 * 4);
    for (int i : {0, 1, 128, 255})
        EXPECT_EQ(grey.extra[i * 4 + 1], 255 - i) << i;
    EXPECT_EQ(track(3)->base.format.extraLength, 16 * 4);  // the built-in 4-bit palette
    const PacketFormat& own = track(4)->base.format;
    ASSERT_EQ(own.extraLength, 4 * 4);
    // The file's entries (red, green, blue) = (10, 20, 30) ... as blue, green, red.
    EXPECT_EQ(std::vector<uint8_t>(own.extra, own.extra + 16),
              (std::vector<uint8_t>{30, 20, 10, 0, 60, 50, 40, 0, 90, 80, 70, 0, 120, 110, 100, 0}));
}

// ---- the codec table, on one-track files built here ----

using Bytes = std::string;

Bytes U32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
Bytes U16(uint32_t v) { return {char(v >> 8), char(v)}; }
Bytes Atom(const Bytes& type, const Bytes& body) { return U32(uint32_t(8 + body.size())) + type + body; }
Bytes Full(const Bytes& type, const Bytes& body) { return Atom(type, U32(0) + body); }

// A sample description entry of the handler's kind.
Bytes Entry(const Bytes& fourcc, char kind, const Bytes& children = "")
{
    Bytes body = Bytes(6, '\0') + U16(1);
    if (kind == 'v')
        body += Bytes(16, '\0') + U16(32) + U16(24) + Bytes(46, '\0') + U16(24) + U16(0xFFFF);
    else if (kind == 'a')
        body += U16(0) + Bytes(6, '\0') + U16(2) + U16(16) + Bytes(4, '\0') + U16(22050) + U16(0);
    body += children;
    return U32(uint32_t(8 + body.size())) + fourcc + body;
}

// ftyp, an mdat of 64 bytes, and a movie of one track of 4 samples of 16 bytes.
std::vector<uint8_t> OneTrack(const Bytes& entry, const Bytes& moreTables = "")
{
    Bytes ftyp = Atom("ftyp", "qt  " + U32(0) + "qt  ");
    Bytes mdat = Atom("mdat", Bytes(64, 'x'));
    uint32_t media = uint32_t(ftyp.size() + 8);
    Bytes stbl = Atom("stbl", Full("stsd", U32(1) + entry) + Full("stts", U32(1) + U32(4) + U32(100)) +
                                  Full("stsc", U32(1) + U32(1) + U32(4) + U32(1)) +
                                  Full("stsz", U32(16) + U32(4)) + Full("stco", U32(1) + U32(media)) + moreTables);
    Bytes mdhd = Full("mdhd", U32(0) + U32(0) + U32(1000) + U32(400) + U32(0));
    Bytes trak = Atom("trak", Atom("mdia", mdhd + Atom("minf", stbl)));
    Bytes moov = Atom("moov", Full("mvhd", U32(0) + U32(0) + U32(1000) + U32(400) + Bytes(80, '\0')) + trak);
    Bytes file = ftyp + mdat + moov;
    return std::vector<uint8_t>(file.begin(), file.end());
}

TEST_F(Mp4, CodecTableGivesKindFormatAndPacketing)
{
    struct Case {
        Bytes fourcc;
        char kind;         // 'v', 'a', 't'
        uint32_t format;   // video/text FourCC or audio tag; 0 = the track is dropped
        int allKey;
        int chunkPackets;
    } cases[] = {
        {"mp4v", 'v', FOURCC('m', 'p', '4', 'v'), 0, 0}, {"avc1", 'v', FOURCC('a', 'v', 'c', '1'), 0, 0},
        {"SVQ3", 'v', FOURCC('S', 'V', 'Q', '3'), 0, 0}, {"s263", 'v', FOURCC('s', '2', '6', '3'), 0, 0},
        {"tiff", 'v', FOURCC('t', 'i', 'f', 'f'), 1, 0}, {"mjpb", 'v', FOURCC('m', 'j', 'p', 'b'), 1, 0},
        {"AVDJ", 'v', FOURCC('j', 'p', 'e', 'g'), 1, 0}, {"png ", 'v', FOURCC('P', 'N', 'G', '_'), 1, 0},
        {"mp4a", 'a', 0xAAC0, 0, 0}, {".mp3", 'a', 85, 0, 1},
        {Bytes("ms\0U", 4), 'a', 85, 0, 1}, {Bytes("msU\0", 4), 'a', 85, 0, 1},
        {Bytes("ms\0\x02", 4), 'a', 2, 0, 1}, {Bytes("ms\x11\0", 4), 'a', 17, 0, 1},
        {"ima4", 'a', 0x10011, 0, 1}, {"QDM2", 'a', 0x450, 0, 1}, {"alaw", 'a', 6, 0, 1},
        {"ulaw", 'a', 7, 0, 1}, {"raw ", 'a', 1, 0, 1}, {"NONE", 'a', 1, 0, 1}, {"twos", 'a', 1, 0, 1},
        {"sowt", 'a', 1, 0, 1}, {"samr", 'a', 87, 0, 0}, {"sawb", 'a', 88, 0, 0},
        {"text", 't', FOURCC('T', 'E', 'X', 'T'), 0, 0}, {"tx3g", 't', FOURCC('T', 'X', '3', 'G'), 0, 0},
        {"xyz1", 'v', 0, 0, 0}, {"lpcm", 'a', 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fourcc);
        if (!c.format) {
            // Its only track is dropped: nothing is left to play.
            EXPECT_EQ(OpenBytes(OneTrack(Entry(c.fourcc, c.kind))), ERR_NOT_SUPPORTED);
            continue;
        }
        ASSERT_EQ(OpenBytes(OneTrack(Entry(c.fourcc, c.kind))), 0);
        ASSERT_EQ(streams(), 1);
        Mp4Track* t = track(0);
        const PacketFormat& f = t->base.format;
        EXPECT_EQ(f.kind, c.kind == 'v' ? PACKET_VIDEO : c.kind == 'a' ? PACKET_AUDIO : PACKET_TEXT);
        EXPECT_EQ(c.kind == 'a' ? uint32_t(f.formatTag) : f.fourcc, c.format);
        EXPECT_EQ(t->allKey, c.allKey);
        EXPECT_EQ(t->chunkPackets, c.chunkPackets);
        std::vector<Got> got = ReadAll();
        // Whole chunks (4 samples of 16 bytes) or one packet per sample.
        EXPECT_EQ(got.size(), c.chunkPackets ? 1u : 4u);
        if (c.fourcc == "samr" || c.fourcc == "sawb") {
            EXPECT_EQ(f.sampleRate, c.fourcc == "samr" ? 8000 : 16000);
            EXPECT_EQ(f.channels, 1);
        } else if (c.kind == 'a') {
            EXPECT_EQ(f.sampleRate, 22050);
            EXPECT_EQ(f.channels, 2);
        }
        if (c.fourcc == "ima4") {
            EXPECT_EQ(t->framesPerBlock, 64);
            EXPECT_EQ(t->bytesPerBlock, 68);  // 34 bytes per channel
            EXPECT_EQ(got[0].size, 4 * 16);   // constant size 16, not 1: n x size
        }
        if (c.fourcc == "twos" || c.fourcc == "raw ") {
            EXPECT_EQ(f.audioFlags & 0x60, 0x60);
        }
        if (c.fourcc == "sowt") {
            EXPECT_EQ(f.audioFlags, 32);
        }
    }
}

TEST_F(Mp4, KeySamplesFromTheSyncTable)
{
    Bytes oneKey = Full("stss", U32(1) + U32(1));
    Bytes twoKeys = Full("stss", U32(2) + U32(1) + U32(3));
    struct Case {
        Bytes fourcc;
        Bytes stss;
        std::vector<int> keys;
    } cases[] = {
        {"avc1", twoKeys, {1, 0, 1, 0}},
        {"avc1", oneKey, {1, 0, 0, 0}},
        {"s263", oneKey, {1, 1, 1, 1}},   // a lone key sample of S263 means all are keys
        {"s263", twoKeys, {1, 0, 1, 0}},
        {"avc1", "", {1, 1, 1, 1}},       // no table: no sample is known to be other than a key
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fourcc + " " + std::to_string(c.stss.size()));
        ASSERT_EQ(OpenBytes(OneTrack(Entry(c.fourcc, 'v'), c.stss)), 0);
        std::vector<int> keys;
        for (const Got& g : ReadAll())
            keys.push_back(g.key);
        EXPECT_EQ(keys, c.keys);
    }
}

TEST_F(Mp4, ElementaryStreamDescriptorDecidesTheCodec)
{
    auto esds = [](int objectType, const Bytes& config) {
        Bytes dec = Bytes(1, char(objectType)) + Bytes(12, '\0') + "\x05" + Bytes(1, char(config.size())) + config;
        Bytes es = U16(1) + Bytes(1, '\0') + "\x04" + Bytes(1, char(dec.size())) + dec;
        return Full("esds", "\x03" + Bytes(1, char(es.size())) + es);
    };
    struct Case {
        Bytes fourcc;
        char kind;
        int objectType;
        Bytes config;
        uint32_t format;
        int allKey;
    } cases[] = {
        {"mp4v", 'v', 32, "\x00\x00\x01\xb0", FOURCC('m', 'p', '4', 'v'), 0},
        {"mp4v", 'v', 97, "ab", FOURCC('m', 'p', 'e', 'g'), 0},
        {"mp4v", 'v', 108, "ab", FOURCC('j', 'p', 'e', 'g'), 1},
        {"mp4a", 'a', 64, "\x12\x10", 0xAAC0, 0},
        {"mp4a", 'a', 107, "ab", 85, 0},
        {"mp4a", 'a', 225, "QLCMxyz", 0xCC00, 0},
        {"mp4a", 'a', 225, "QLC", 0xAAC0, 0},  // too short for the QLCM mark: stays AAC
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.objectType);
        ASSERT_EQ(OpenBytes(OneTrack(Entry(c.fourcc, c.kind, esds(c.objectType, c.config)))), 0);
        ASSERT_EQ(streams(), 1);
        const PacketFormat& f = track(0)->base.format;
        EXPECT_EQ(c.kind == 'a' ? uint32_t(f.formatTag) : f.fourcc, c.format);
        EXPECT_EQ(track(0)->allKey, c.allKey);
        ASSERT_EQ(f.extraLength, int(c.config.size()));
        EXPECT_EQ(Bytes(reinterpret_cast<const char*>(f.extra), size_t(f.extraLength)), c.config);
    }
}

// ---- tags, chapters, redirects ----

std::map<std::string, std::string> FormatTags(const std::string& name)
{
    std::map<std::string, std::string> tags;
    for (const Section& s : OfKind(ReadReport(DataPath(name + ".ffprobe-meta")), "FORMAT"))
        for (auto& [k, v] : s.values)
            if (k.rfind("TAG:", 0) == 0)
                tags[k.substr(4)] = v;
    return tags;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST_F(Mp4, ItemListTagsAndTheCoverOffset)
{
    Sink sink;
    ASSERT_EQ(Open("tags.m4a", &sink), 0);
    auto tags = FormatTags("tags.m4a");
    EXPECT_TRUE(sink.Has(L"TITLE=" + Wide(tags["title"])));
    EXPECT_TRUE(sink.Has(L"ARTIST=" + Wide(tags["artist"])));
    EXPECT_TRUE(sink.Has(L"GENRE=" + Wide(tags["genre"])));
    // The picture bytes follow the 16-byte header of covr's 'data' child.
    std::vector<uint8_t> file = ReadFile(DataPath("tags.m4a"));
    std::string bytes(file.begin(), file.end());
    size_t covr = bytes.find("covr");
    ASSERT_NE(covr, std::string::npos);
    size_t data = covr + 4;  // the child's size field
    uint32_t size = uint32_t(file[data]) << 24 | file[data + 1] << 16 | file[data + 2] << 8 | file[data + 3];
    ASSERT_EQ(bytes.substr(data + 4, 4), "data");
    EXPECT_EQ(file[data + 16], 0xFF);  // a JPEG starts there
    std::wstring want = L"COVER=:" + std::to_wstring(data + 16) + L":" + std::to_wstring(size - 16) + L":";
    EXPECT_TRUE(sink.Has(want)) << "want " << std::string(want.begin(), want.end());
}

TEST_F(Mp4, TextFormTitleFreeformNameAndGenreNumber)
{
    Sink sink;
    ASSERT_EQ(Open("synthetic.mov", &sink), 0);
    auto tags = FormatTags("synthetic.mov");
    EXPECT_TRUE(sink.Has(L"TITLE=" + Wide(tags["title"])));
    EXPECT_TRUE(sink.Has(L"GENRE=" + Wide(tags["genre"])));
    EXPECT_TRUE(sink.Has(L"MOOD=" + Wide(tags["MOOD"])));
}

// Chapter texts as ffprobe lists them: the name, then the core's time text.
std::vector<std::wstring> ChapterTexts(const std::string& name)
{
    std::vector<std::wstring> out;
    int n = 1;
    for (const Section& c : OfKind(ReadReport(DataPath(name + ".ffprobe-meta")), "CHAPTER")) {
        tchar head[64];
        stprintf_s(head, 64, L"CHAPTER%02dNAME=", n);
        out.push_back(head + Wide(c.Get("TAG:title")));
        tchar when[32];
        std::string tb = c.Get("time_base");  // "1/1000"
        long long den = std::stoll(tb.substr(tb.find('/') + 1));
        BuildChapter(when, 32, n, c.Int("start") * 1000, int(den));
        out.push_back(when);
        ++n;
    }
    return out;
}

TEST_F(Mp4, ChaptersFromChplAndFromTheTextTrack)
{
    std::vector<std::wstring> want = ChapterTexts("chapters.mov");
    ASSERT_EQ(want.size(), 4u);
    // ffmpeg writes both forms: 'chpl', then the text track.
    std::vector<std::wstring> twice = want;
    twice.insert(twice.end(), want.begin(), want.end());
    for (const char* name : {"chapters.mp4", "chapters.mov"}) {
        SCOPED_TRACE(name);
        Sink sink;
        ASSERT_EQ(Open(name, &sink), 0);
        EXPECT_EQ(sink.texts, twice);
        // The text track's packets come at the chapters' times: a 16-bit length and the title.
        std::vector<Got> text;
        for (const Got& g : ReadAll())
            if (track(g.stream)->base.format.kind == PACKET_TEXT)
                text.push_back(g);
        ASSERT_EQ(text.size(), 2u);
        EXPECT_EQ(text[0].time, 0);
        EXPECT_EQ(text[1].time, MulDiv(400, 16384, 1000));
        EXPECT_GE(text[0].size, 2 + 7);   // "Opening"
        EXPECT_GE(text[1].size, 2 + 11);  // "Second part"
    }
    {
        Sink sink;
        ASSERT_EQ(Open("synthetic.mov", &sink), 0);
        for (const std::wstring& t : ChapterTexts("synthetic.mov"))
            EXPECT_TRUE(sink.Has(t)) << std::string(t.begin(), t.end());
    }
}

TEST_F(Mp4, RedirectFromReferenceMovie)
{
    Sink sink;
    // A reference movie has no track to play: it is refused once its redirect is told.
    ASSERT_EQ(Open("redirect.mov", &sink), ERR_NOT_SUPPORTED);
    // The second reference has non-zero flags and is ignored.
    EXPECT_EQ(sink.texts, (std::vector<std::wstring>{L"REDIRECT=http://127.0.0.1/elsewhere.mov"}));
}

// ---- open ----

TEST_F(Mp4, CompressedMovieHeader)
{
    ASSERT_EQ(Open("cmov.mov"), 0);
    EXPECT_EQ(streams(), 2);
    // A header that does not inflate is skipped: no track is left, and the file is refused.
    EXPECT_EQ(Open("cmov-broken.mov"), ERR_NOT_SUPPORTED);
}

// ffprobe reads one track from each of these files; its codec is none the reader takes,
// so the file has nothing to play and is refused.
TEST_F(Mp4, FilesWhoseOnlyTrackHasAnUnknownCodecAreRefused)
{
    struct Case {
        const char* name;
        const char* codec;
    } cases[] = {{"pcm24.mov", "in24"}, {"hevc.mp4", "hev1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Section> report = ReadReport(DataPath(std::string(c.name) + ".ffprobe"));
        std::vector<Section> listed = OfKind(report, "STREAM");
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].Get("codec_tag_string"), c.codec);
        EXPECT_FALSE(OfKind(report, "PACKET").empty());
        EXPECT_EQ(Open(c.name), ERR_NOT_SUPPORTED);
    }
}

TEST_F(Mp4, MixedSampleDescriptionsDropTheirTracksAndWarnOnce)
{
    ASSERT_EQ(Open("mixed-stsd.mov"), 0);
    EXPECT_EQ(streams(), 1);
    auto shown = core::ShownErrors();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].sourceClass, MP4_CLASS);
    EXPECT_EQ(shown[0].messageClass, MP4_CLASS);
    EXPECT_EQ(shown[0].id, 513);
}

TEST_F(Mp4, WithoutMovieHeaderTheFileIsRefused)
{
    std::vector<uint8_t> file = ReadFile(DataPath("mpeg4-aac.mp4"));
    std::string bytes(file.begin(), file.end());
    size_t moov = bytes.find("moov") - 4;
    file.resize(moov);  // ftyp, free, mdat
    EXPECT_EQ(OpenBytes(file), ERR_INVALID_DATA);
}

// ---- seeking ----

int KeyTicks(const std::string& name, int keyIndex)
{
    std::vector<Got> want = Expected(ReadReport(DataPath(name + ".ffprobe")), {});
    int n = 0;
    for (const Got& g : want)
        if (g.key && g.stream == 0 && n++ == keyIndex)
            return g.time;
    return -1;
}

TEST_F(Mp4, SeekLandsOnAKeySample)
{
    // Keys every 5 frames at 10 frames a second; times start at the smallest composition
    // offset, 0.1 s, so the keys lie at 0.1 and 0.6 s.
    struct Case {
        int ms;
        int preferEarlier;
        int key;
    } cases[] = {{300, 1, 0}, {300, 0, 1}, {700, 1, 1}, {500, 1, 0}, {600, 1, 1}, {0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        ASSERT_EQ(Open("h264-bframes.mp4"), 0);
        ASSERT_EQ(reader()->seekFormat(reader(), MulDiv(c.ms, 16384, 1000), -1, c.preferEarlier), 0);
        Packet p{};
        ASSERT_EQ(ReadPacket(&p), 0);
        EXPECT_EQ(p.time, KeyTicks("h264-bframes.mp4", c.key));
        EXPECT_EQ(p.key, 1);
        Format_ReleaseRef(p.data);
    }
}

TEST_F(Mp4, AfterASeekEveryTrackGoesOnInFileOrder)
{
    std::vector<Section> report = ReadReport(DataPath("mpeg4-aac.mp4.ffprobe"));
    std::vector<Got> all = Expected(report, {});
    ASSERT_EQ(Open("mpeg4-aac.mp4"), 0);
    ASSERT_EQ(reader()->seekFormat(reader(), MulDiv(600, 16384, 1000), -1, 1), 0);
    std::vector<Got> got = ReadAll();
    ASSERT_FALSE(got.empty());
    // From the video key sample at or before 0.6 s, everything that lies behind it.
    auto at = std::find(all.begin(), all.end(), got[0]);
    ASSERT_NE(at, all.end());
    EXPECT_EQ(got, std::vector<Got>(at, all.end()));
    EXPECT_EQ(got[0].stream, 0);
    EXPECT_EQ(got[0].key, 1);
    EXPECT_LE(got[0].time, MulDiv(600, 16384, 1000));
}

// Seeks into fragments not read yet, and back into those read: the reader lands on the
// video key at or before the time and goes on with everything behind it in the file.
TEST_F(Mp4, SeeksInAFragmentedMovieLandOnTheKeyAndGoOnInFileOrder)
{
    for (const char* name : {"frag-keyframe.mp4", "empty-moov.mp4", "moof-base.mp4", "frag-gap.mp4"}) {
        SCOPED_TRACE(name);
        std::vector<Got> all = Expected(ReadReport(DataPath(std::string(name) + ".ffprobe")), {});
        ASSERT_EQ(Open(name), 0);
        for (int ms : {2500, 1200, 2999, 100}) {
            SCOPED_TRACE(ms);
            int target = MulDiv(ms, 16384, 1000);
            // The last video key at or before the target, in ffprobe's packets.
            auto key = all.end();
            for (auto it = all.begin(); it != all.end(); ++it)
                if (it->stream == 0 && it->key && it->time <= target)
                    key = it;
            ASSERT_NE(key, all.end());
            ASSERT_EQ(reader()->seekFormat(reader(), target, -1, 1), 0);
            EXPECT_EQ(ReadAll(), std::vector<Got>(key, all.end()));
        }
    }
}

// A stream that cannot seek: any move from where it stands is refused.
int (*g_memSeek)(void*, int, int) = nullptr;
int ForwardOnlySeek(void* self, int offset, int whence)
{
    int at = g_memSeek(self, 0, 1);
    int target = whence == 0 ? offset : whence == 1 ? at + offset : -1;
    return target == at ? at : -1;
}

TEST_F(Mp4, FragmentsAreReadFrontToBackFromAStreamThatCannotSeek)
{
    for (const char* name : {"frag-keyframe.mp4", "empty-moov.mp4", "moof-base.mp4", "frag-gap.mp4"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = ReadFile(DataPath(name));
        Close();
        stream = MemStreamCreate(bytes.data(), int(bytes.size()));
        format = static_cast<Format*>(NodeCreate(MP4_CLASS));
        ASSERT_TRUE(stream && format);
        g_memSeek = stream->seekStream;
        stream->seekStream = ForwardOnlySeek;
        // Small fills, so that the file does not lie in the input's buffer whole.
        format->fillSize = 512;
        Format_SetInput(format, 0, stream);
        ASSERT_EQ(format->openFormat(format), 0);
        EXPECT_EQ(ReadAll(), Expected(ReadReport(DataPath(std::string(name) + ".ffprobe")), {}));
        Packet p{};
        EXPECT_EQ(ReadPacket(&p), ERR_END_OF_FILE);
    }
}

TEST_F(Mp4, SeekOnAnAllKeyTrackTellsTheReachedTime)
{
    ASSERT_EQ(Open("png-twos.mov"), 0);
    reader()->seekTime = -1;
    ASSERT_EQ(reader()->seekFormat(reader(), MulDiv(450, 16384, 1000), -1, 0), 0);
    Packet p{};
    ASSERT_EQ(ReadPacket(&p), 0);
    // Frames every 0.2 s: the one at 0.4 s; every PNG frame is a key frame.
    EXPECT_EQ(p.time, MulDiv(400, 16384, 1000));
    EXPECT_EQ(p.key, 1);
    EXPECT_EQ(reader()->seekTime, p.time);
    Format_ReleaseRef(p.data);
}

// ---- damaged input ----

// Every fixture cut short and with bytes changed: each opens or fails with a code, and
// reading and seeking end, within bounds (the sanitizer build watches the memory).
TEST_F(Mp4, DamagedFilesOpenOrFailAndNeverRunAway)
{
    std::mt19937 random(5);
    const std::set<int> codes = {0, ERR_INVALID_DATA, ERR_END_OF_FILE, ERR_NOT_SUPPORTED, ERR_OUT_OF_MEMORY, ERR_READ};
    std::vector<std::string> names;
    for (const FileCase& f : kFiles)
        names.push_back(f.name);
    for (const char* extra : {"hostile.mp4", "redirect.mov", "mixed-stsd.mov", "cmov-broken.mov", "frag-lies.mp4",
                              "frag-trex.mp4", "frag-base-offset.mp4", "frag-moof-bases.mp4", "frag-bad-1.mp4",
                              "frag-amplifying.mp4", "frag-free.mp4"})
        names.push_back(extra);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> whole = ReadFile(DataPath(name));
        std::vector<std::vector<uint8_t>> variants;
        for (int i = 1; i <= 40; ++i)
            variants.emplace_back(whole.begin(), whole.begin() + long(whole.size() * i / 41));
        for (int i = 0; i < 60; ++i) {
            std::vector<uint8_t> v = whole;
            int changes = 1 + int(random() % 8);
            for (int k = 0; k < changes; ++k) {
                size_t at = random() % v.size();
                v[at] = uint8_t(random() % 3 == 0 ? 0xFF : random());
            }
            variants.push_back(v);
        }
        size_t opened = 0, packets = 0;
        for (size_t i = 0; i < variants.size(); ++i) {
            const std::vector<uint8_t>& v = variants[i];
            SCOPED_TRACE(i < 40 ? "cut to " + std::to_string(v.size()) : "changed, round " + std::to_string(i - 40));
            int rc = OpenBytes(v);
            ASSERT_TRUE(codes.count(rc)) << rc;
            if (rc != 0)
                continue;
            ++opened;
            // Every packet is a sample that the file's tables describe: far fewer than its bytes.
            const size_t calls = v.size() + 10;
            for (int round = 0; round < 2; ++round) {
                Run run = ReadToEnd(calls);
                ASSERT_NE(run.end, 0) << "no end after " << calls << " packets, round " << round;
                ASSERT_TRUE(codes.count(run.end)) << run.end;
                packets += run.packets;
                if (round == 0) {
                    int sought = reader()->seekFormat(reader(), 8192, -1, 1);
                    ASSERT_TRUE(codes.count(sought)) << sought;
                }
            }
        }
        // Most changed bytes hit media data: those files still open and deliver (the
        // amplifying runs are refused whole).
        if (name != "hostile.mp4" && name != "redirect.mov" && name != "cmov-broken.mov" &&
            name != "frag-amplifying.mp4") {
            EXPECT_GT(opened, 30u);
            EXPECT_GT(packets, 0u);
        }
    }
}

// Bytes the heap holds now (in the sanitizer build, by the sanitizer's own count).
long long HeapHeld()
{
#ifdef LUMEO_ASAN
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    struct mallinfo2 m = mallinfo2();
    return static_cast<long long>(m.uordblks + m.hblkhd);
#endif
}

// Entries a track keeps of its unpacked tables, without their terminators.
size_t Kept(const Array& a, size_t entryBytes) { return a.data ? ArraySize(&a) / entryBytes - 1 : 0; }

// Claims of billions of samples or entries would cost gigabytes; what these files hold
// costs a few kilobytes.
constexpr long long kHeldBound = 1 << 20;

TEST_F(Mp4, TablesOfBillionsOfEntriesCostOnlyWhatTheFileHolds)
{
    {
        SCOPED_TRACE("billions.mov");
        // Each track claims 4294967280 samples in its time table (the audio in its size
        // table too); ffprobe takes the claim and lists the packets the file holds.
        std::vector<Section> report = ReadReport(DataPath("billions.mov.ffprobe"));
        std::vector<Section> claims = OfKind(report, "STREAM");
        ASSERT_EQ(claims.size(), 2u);
        for (const Section& s : claims)
            EXPECT_EQ(s.Int("nb_frames"), 4294967280LL);
        std::vector<Got> want = Expected(report, {});
        ASSERT_FALSE(want.empty());
        Close();
        long long before = HeapHeld();
        ASSERT_EQ(Open("billions.mov"), 0);
        EXPECT_LT(HeapHeld() - before, kHeldBound);
        ASSERT_EQ(streams(), 2);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(Kept(track(i)->timeTable, sizeof(Mp4TimeEntry)), 1u) << i;
        EXPECT_EQ(ReadAll(), want);
        // A seek walks the same tables.
        ASSERT_EQ(reader()->seekFormat(reader(), MulDiv(500, 16384, 1000), -1, 1), 0);
        std::vector<Got> rest = ReadAll();
        ASSERT_FALSE(rest.empty());
        auto at = std::find(want.begin(), want.end(), rest[0]);
        ASSERT_NE(at, want.end());
        EXPECT_EQ(rest, std::vector<Got>(at, want.end()));
        EXPECT_LT(HeapHeld() - before, kHeldBound);
    }
    {
        SCOPED_TRACE("hostile.mp4");
        // Every table counts 4294967280 entries and holds one. ffprobe refuses the file at
        // its sample descriptions, which the reader does not count on; the movie header is
        // there, so the file opens, and its track keeps the one entry of each table: one
        // sample, 7 bytes at offset 0, a key by 'stss'.
        ASSERT_TRUE(OfKind(ReadReport(DataPath("hostile.mp4.ffprobe")), "STREAM").empty());
        Close();
        long long before = HeapHeld();
        ASSERT_EQ(Open("hostile.mp4"), 0);
        EXPECT_LT(HeapHeld() - before, kHeldBound);
        ASSERT_EQ(streams(), 1);
        Mp4Track* t = track(0);
        EXPECT_EQ(Kept(t->timeTable, sizeof(Mp4TimeEntry)), 1u);
        EXPECT_EQ(Kept(t->chunkMap, sizeof(Mp4MapEntry)), 1u);
        EXPECT_EQ(Kept(t->chunkOffsets, sizeof(int32_t)), 1u);
        EXPECT_LE(ArraySize(&t->syncTable), 5u);  // a packed entry takes 1 to 5 bytes
        EXPECT_LE(ArraySize(&t->sizeTable), 5u);
        EXPECT_EQ(t->sampleCount, 1);
        EXPECT_EQ(ReadAll(), (std::vector<Got>{{0, 0, 7, 1}}));
        EXPECT_LT(HeapHeld() - before, kHeldBound);
    }
    {
        SCOPED_TRACE("frag-lies.mp4");
        // empty-moov.mp4 and a fragment whose runs claim 4294967280 samples, or lie beyond
        // the file, or name no track. ffprobe refuses the file; the reader delivers
        // empty-moov.mp4's packets, then no more samples than the bytes behind the lying
        // run's base, each within the file.
        ASSERT_TRUE(OfKind(ReadReport(DataPath("frag-lies.mp4.ffprobe")), "STREAM").empty());
        std::vector<Got> genuine = Expected(ReadReport(DataPath("empty-moov.mp4.ffprobe")), {});
        size_t fileSize = ReadFile(DataPath("frag-lies.mp4")).size();
        size_t lyingMoof = ReadFile(DataPath("empty-moov.mp4")).size();
        Close();
        long long before = HeapHeld();
        ASSERT_EQ(Open("frag-lies.mp4"), 0);
        std::vector<Got> got = ReadAll();
        EXPECT_LT(HeapHeld() - before, kHeldBound);
        ASSERT_GE(got.size(), genuine.size());
        EXPECT_EQ(std::vector<Got>(got.begin(), got.begin() + long(genuine.size())), genuine);
        EXPECT_LE(got.size() - genuine.size(), fileSize - lyingMoof);
    }
}

}  // namespace
