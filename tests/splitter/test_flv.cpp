// The FLV reader against ffprobe's reports of files made by ffmpeg, and against tags
// built here where ffmpeg cannot make the case.
#include <gtest/gtest.h>

#include <string>

#include "flv.h"
#include "flvasf_driver.h"
#include "plugin/frame.h"

using namespace flvasf;

namespace {

class Flv : public ::testing::Test {
protected:
    void SetUp() override { FlvRegister(); }
    void TearDown() override { FlvUnRegister(); }
};

// An FLV file of the given tags: {type, time ms, data}.
struct Tag {
    int type;
    int ms;
    std::vector<uint8_t> data;
};
std::vector<uint8_t> BuildFlv(const std::vector<Tag>& tags) {
    std::vector<uint8_t> out = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0};
    for (const Tag& t : tags) {
        size_t n = t.data.size();
        uint8_t h[11] = {static_cast<uint8_t>(t.type), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                         static_cast<uint8_t>(n), static_cast<uint8_t>(t.ms >> 16), static_cast<uint8_t>(t.ms >> 8),
                         static_cast<uint8_t>(t.ms), 0, 0, 0, 0};
        out.insert(out.end(), h, h + 11);
        out.insert(out.end(), t.data.begin(), t.data.end());
        uint32_t prev = static_cast<uint32_t>(11 + n);
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(prev >> s));
    }
    return out;
}

// Our packets must be ffprobe's, in the file's order: ffprobe's sizes already leave the
// flags byte out, as our payloads do; times are the tags' milliseconds in ticks; only
// video packets carry a key flag with us, where ffprobe marks every audio packet key.
void ExpectPacketsAsReported(const std::vector<Got>& got, const Report& report, size_t from = 0) {
    ASSERT_EQ(got.size(), report.packets.size() - from);
    for (size_t i = 0; i < got.size(); ++i) {
        const Section& p = report.packets[from + i];
        bool video = p.Get("codec_type") == "video";
        SCOPED_TRACE("packet " + std::to_string(from + i) + " at " + p.Get("pos"));
        EXPECT_EQ(got[i].stream, p.Int("stream_index"));
        EXPECT_EQ(got[i].time, Ticks(p.Int("pts")));
        EXPECT_EQ(got[i].size, p.Int("size"));
        EXPECT_EQ(got[i].key, video && p.Get("flags")[0] == 'K' ? 1 : 0);
        EXPECT_EQ(got[i].crc, p.Get("data_hash"));
    }
}

struct FileCase {
    const char* file;
    int audioTag;  // formatTag for ffprobe's audio codec
};

class FlvFiles : public Flv, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FlvFiles, PacketsAndStreamsMatchFfprobe) {
    const FileCase& c = GetParam();
    Report report = LoadReport(c.file);
    Opened flv(FLV_CLASS, File(c.file));
    ASSERT_EQ(flv.result(), ERR_NONE);
    int last = 0;
    std::vector<Got> got = flv.ReadAll(&last);
    EXPECT_EQ(last, ERR_END_OF_FILE);
    ExpectPacketsAsReported(got, report);

    // Streams: made at their first tags, in ffprobe's order.
    Format* f = flv.reader();
    ASSERT_EQ(f->streamCount, static_cast<int>(report.streams.size()));
    for (int i = 0; i < f->streamCount; ++i) {
        const Section& s = report.streams[static_cast<size_t>(i)];
        const PacketFormat& pf = f->streams[i]->format;
        EXPECT_EQ(pf.packetRateNum, 1000);
        EXPECT_EQ(pf.packetRateDen, 24);
        if (s.Get("codec_type") == "audio") {
            EXPECT_EQ(pf.kind, PACKET_AUDIO);
            EXPECT_EQ(pf.formatTag, c.audioTag);
            EXPECT_EQ(pf.sampleRate, s.Int("sample_rate"));
            EXPECT_EQ(pf.channels, s.Int("channels"));
            EXPECT_EQ(pf.bits, 16);
            EXPECT_EQ(pf.bitsExtra, 15);
            EXPECT_EQ(pf.byteRate, pf.sampleRate * pf.channels * 2);
        } else {
            EXPECT_EQ(s.Get("codec_name"), "flv1");
            EXPECT_EQ(pf.kind, PACKET_VIDEO);
            EXPECT_EQ(pf.fourcc, FOURCC('F', 'L', 'V', '1'));
            EXPECT_EQ(pf.pixelFlags, 129);
        }
    }
    EXPECT_EQ(f->fileSize, static_cast<int>(ReadFileBytes(DataPath(c.file)).size()));
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, FlvFiles,
                         ::testing::Values(FileCase{"flv/h263-mp3.flv", 85}, FileCase{"flv/h263-adpcm.flv", 2},
                                           // two tags of data size 0 after the script tag: no packets
                                           FileCase{"flv/zero-size-tags.flv", 2}),
                         [](const ::testing::TestParamInfo<FileCase>& info) {
                             std::string name = info.param.file + 4;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST_F(Flv, Mp3At44100StereoFromFlags0x2F) {
    Report report = LoadReport("flv/h263-mp3.flv");
    Opened flv(FLV_CLASS, File("flv/h263-mp3.flv"));
    ASSERT_EQ(flv.result(), ERR_NONE);
    ASSERT_EQ(flv.Read(), ERR_NONE);
    const PacketFormat& a = flv.reader()->streams[0]->format;
    EXPECT_EQ(a.formatTag, 85);
    EXPECT_EQ(a.sampleRate, 44100);
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.byteRate, 176400);
    EXPECT_EQ(report.streams[0].Get("codec_name"), "mp3");
}

TEST_F(Flv, RefusedInputs) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int open;
    };
    const Case cases[] = {
        {"two bytes", {'F', 'L'}, ERR_END_OF_FILE},
        {"not FLV", {'F', 'L', 'X', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0}, ERR_NOT_SUPPORTED},
        {"another container", ReadFileBytes(DataPath("asf/wmv2-wma2.asf")), ERR_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        Opened flv(FLV_CLASS, Memory(c.bytes));
        EXPECT_EQ(flv.result(), c.open) << c.what;
    }
}

TEST_F(Flv, AFileWithoutAudioOrVideoTagsHasNothingToPlay) {
    // The header alone, a script tag, tags of data size 0, a tag cut short at its flags.
    std::vector<uint8_t> cut = BuildFlv({{9, 0, {0x12, 1, 2}}});
    cut.resize(13 + 11);
    const std::vector<uint8_t> cases[] = {
        BuildFlv({}),
        BuildFlv({{18, 0, {2, 0, 3, 'a', 'b', 'c'}}}),
        BuildFlv({{8, 0, {}}, {9, 40, {}}}),
        cut,
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Opened flv(FLV_CLASS, Memory(cases[i]));
        ASSERT_EQ(flv.result(), ERR_NONE) << i;
        EXPECT_EQ(flv.Read(), ERR_NOT_SUPPORTED) << i;
    }
}

TEST_F(Flv, UnsupportedCodecInAStreamsFirstTag) {
    // ffmpeg's Nellymoser at 8000 Hz mono is sound format 5; the VP6 file is built by hand.
    EXPECT_EQ(LoadReport("flv/nellymoser.flv").streams.at(0).Get("codec_name"), "nellymoser");
    for (const char* file : {"flv/nellymoser.flv", "flv/vp6.flv"}) {
        Opened flv(FLV_CLASS, File(file));
        ASSERT_EQ(flv.result(), ERR_NONE) << file;
        EXPECT_EQ(flv.Read(), ERR_NOT_SUPPORTED) << file;
    }
    const int formats[] = {3, 4, 5, 6, 10, 15};
    for (int format : formats) {
        Opened flv(FLV_CLASS, Memory(BuildFlv({{8, 0, {static_cast<uint8_t>(format << 4 | 0xF), 1, 2}}})));
        EXPECT_EQ(flv.Read(), ERR_NOT_SUPPORTED) << "sound format " << format;
    }
}

TEST_F(Flv, BuiltTags) {
    // A script tag and a tag of size 0 give no packet; 1000 ms is 16384 ticks; each
    // rate index gives its rate; later tags of a stream are not checked again.
    std::vector<uint8_t> file = BuildFlv({{18, 0, {2, 0, 3, 'a', 'b', 'c'}},
                                          {8, 0, {}},
                                          {8, 1000, {0x2F, 10, 11, 12}},
                                          {9, 1040, {0x12, 7, 7}},
                                          {9, 1080, {0x22, 8}},
                                          {8, 0xFFFFFF, {0x52, 1}}});
    Opened flv(FLV_CLASS, Memory(file));
    ASSERT_EQ(flv.result(), ERR_NONE);
    int last = 0;
    std::vector<Got> got = flv.ReadAll(&last);
    EXPECT_EQ(last, ERR_END_OF_FILE);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].time, 16384);
    EXPECT_EQ(got[0].size, 3);
    EXPECT_EQ(got[0].key, 0);
    EXPECT_EQ(got[1].stream, 1);
    EXPECT_EQ(got[1].key, 1);
    EXPECT_EQ(got[2].key, 0);
    EXPECT_EQ(got[3].time, MulDiv(0xFFFFFF, 16384, 1000));

    const int rates[4] = {5512, 11025, 22050, 44100};
    for (int index = 0; index < 4; ++index) {
        Opened one(FLV_CLASS, Memory(BuildFlv({{8, 0, {static_cast<uint8_t>(0x10 | index << 2), 1}}})));
        ASSERT_EQ(one.Read(), ERR_NONE);
        const PacketFormat& a = one.reader()->streams[0]->format;
        EXPECT_EQ(a.sampleRate, rates[index]);
        EXPECT_EQ(a.channels, 1);
        EXPECT_EQ(a.formatTag, 2);
    }
}

// Tag offsets as the reader counts them: the previous-tag-size field before each tag.
int TagPos(const Section& packet) { return static_cast<int>(packet.Int("pos")) - 4; }

// The packet that must follow a seek to `target`: the last keyframe whose tag starts
// before the target, or the first packet when there is none.
size_t ExpectedAfterSeek(const Report& report, int target) {
    size_t at = 0;
    for (size_t i = 0; i < report.packets.size(); ++i) {
        const Section& p = report.packets[i];
        if (TagPos(p) >= target) break;
        if (p.Get("codec_type") == "video" && p.Get("flags")[0] == 'K') at = i;
    }
    return at;
}

TEST_F(Flv, KeyframeIndexAndSeeksOnAFile) {
    const char* file = "flv/h263-mp3.flv";
    Report report = LoadReport(file);
    Opened flv(FLV_CLASS, File(file));
    ASSERT_EQ(flv.result(), ERR_NONE);
    flv.ReadAll();
    // Slot k holds the first keyframe beyond (k + 1)/50 of the file.
    FlvReader* r = flv.as<FlvReader>();
    int size = r->base.fileSize;
    std::vector<int> expected;
    for (const Section& p : report.packets) {
        if (p.Get("codec_type") != "video" || p.Get("flags")[0] != 'K') continue;
        int v = MulDiv(TagPos(p), 50000, size);
        if (static_cast<int>(expected.size()) * 1000 + 1000 < v && expected.size() < 50) expected.push_back(TagPos(p));
    }
    ASSERT_GE(expected.size(), 3u);
    EXPECT_EQ(std::vector<int>(r->keyPositions, r->keyPositions + r->keyCount), expected);

    // Backward to before the first entry, forward past several, backward between two.
    const int targets[] = {200, expected[0] - 1, size / 2, expected[1] + 10, size - 10, expected[2] + 1, 13};
    for (int target : targets) {
        SCOPED_TRACE("seek to " + std::to_string(target));
        ASSERT_EQ(flv.Seek(-1, target), ERR_NONE);
        size_t at = ExpectedAfterSeek(report, target);
        Got g{};
        ASSERT_EQ(flv.Read(&g), ERR_NONE);
        EXPECT_EQ(g.time, Ticks(report.packets[at].Int("pts")));
        EXPECT_EQ(g.crc, report.packets[at].Get("data_hash"));
    }
    // The index stays as it was: positions met again are not added twice.
    EXPECT_EQ(std::vector<int>(r->keyPositions, r->keyPositions + r->keyCount), expected);
    EXPECT_EQ(flv.Seek(-1, -1), ERR_INVALID_PARAM);
}

TEST_F(Flv, NetworkInputsGetNoSizeAndNoIndex) {
    const char* file = "flv/h263-mp3.flv";
    Report report = LoadReport(file);
    for (fourcc_t cls : {HTTP_CLASS, MMS_CLASS}) {
        Opened flv(FLV_CLASS, Memory(ReadFileBytes(DataPath(file)), cls));
        ASSERT_EQ(flv.result(), ERR_NONE);
        ExpectPacketsAsReported(flv.ReadAll(), report);
        FlvReader* r = flv.as<FlvReader>();
        EXPECT_EQ(r->base.fileSize, 0);
        EXPECT_EQ(r->keyCount, 0);
        // A backward seek scans from the first tag.
        int target = TagPos(report.packets[report.packets.size() / 2]);
        ASSERT_EQ(flv.Seek(-1, target), ERR_NONE);
        size_t at = ExpectedAfterSeek(report, target);
        ASSERT_GT(at, 0u);
        std::vector<Got> rest = flv.ReadAll();
        ExpectPacketsAsReported(rest, report, at);
    }
}

}  // namespace
