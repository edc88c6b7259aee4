// The ASF reader against ffprobe's reports of files made by ffmpeg and of files built by
// hand (Audio Spread with spans 2 and 3, compressed payloads), and the MMS-over-HTTP
// variant on a stream that answers as the HTTP stream does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "asf.h"
#include "flvasf_driver.h"

using namespace flvasf;

namespace {

class Asf : public ::testing::Test {
protected:
    void SetUp() override { AsfRegister(); }
    void TearDown() override { AsfUnRegister(); }
};

// ffprobe's pts are the objects' presentation times less the preroll, in ms, as ours
// (the streams' time offsets are 0 in these files); a broadcast file starts at 0. Our
// key flag is the payload's key bit; ffprobe's is that bit for video only (it marks
// every audio packet key), so only video flags are compared.
void ExpectPacketsAsReported(const std::vector<Got>& got, const Report& report, long long firstPts = 0) {
    ASSERT_EQ(got.size(), report.packets.size());
    for (size_t i = 0; i < got.size(); ++i) {
        const Section& p = report.packets[i];
        SCOPED_TRACE("packet " + std::to_string(i));
        EXPECT_EQ(got[i].stream, p.Int("stream_index"));
        EXPECT_EQ(got[i].time, Ticks(p.Int("pts") - firstPts));
        EXPECT_EQ(got[i].size, p.Int("size"));
        if (p.Get("codec_type") == "video") {
            EXPECT_EQ(got[i].key, p.Get("flags")[0] == 'K' ? 1 : 0);
        }
        EXPECT_EQ(got[i].crc, p.Get("data_hash"));
    }
}

void ExpectStreamsAsReported(const Format* f, const Report& report) {
    ASSERT_EQ(f->streamCount, static_cast<int>(report.streams.size()));
    for (int i = 0; i < f->streamCount; ++i) {
        const Section& s = report.streams[static_cast<size_t>(i)];
        const PacketFormat& pf = f->streams[i]->format;
        SCOPED_TRACE("stream " + std::to_string(i));
        EXPECT_EQ(pf.extraLength, std::max(0LL, s.Int("extradata_size")));  // absent when there is none
        if (s.Get("codec_type") == "audio") {
            EXPECT_EQ(pf.kind, PACKET_AUDIO);
            EXPECT_EQ(pf.formatTag, s.Int("codec_tag"));
            EXPECT_EQ(pf.sampleRate, s.Int("sample_rate"));
            EXPECT_EQ(pf.channels, s.Int("channels"));
            EXPECT_EQ(pf.byteRate * 8LL, s.Int("bit_rate"));
        } else {
            EXPECT_EQ(pf.kind, PACKET_VIDEO);
            EXPECT_EQ(static_cast<long long>(pf.fourcc), s.Int("codec_tag"));
            EXPECT_EQ(pf.width, s.Int("width"));
            EXPECT_EQ(pf.height, s.Int("height"));
            EXPECT_EQ(pf.aspect, 0x10000);
        }
    }
}

class AsfFiles : public Asf, public ::testing::WithParamInterface<const char*> {};

TEST_P(AsfFiles, PacketsAndStreamsMatchFfprobe) {
    Report report = LoadReport(GetParam());
    Opened asf(RASF_CLASS, File(GetParam()));
    ASSERT_EQ(asf.result(), ERR_NONE);
    ExpectStreamsAsReported(asf.reader(), report);
    // Half way, the parser's state is saved and put back: nothing is lost.
    int last = 0;
    std::vector<Got> got = asf.ReadAll(&last, static_cast<int>(report.packets.size() / 2));
    asf.reader()->packetState(asf.reader(), 1);
    asf.reader()->packetState(asf.reader(), 0);
    std::vector<Got> rest = asf.ReadAll(&last);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(last, ERR_END_OF_FILE);
    ExpectPacketsAsReported(got, report);
    // ffprobe's stream durations are the header's play duration less the preroll for
    // ffmpeg's file (the hand-built one states a shorter one than its packets cover).
    if (std::string(GetParam()) == "asf/wmv2-wma2.asf") {
        double seconds = std::strtod(report.streams[0].Get("duration").c_str(), nullptr);
        EXPECT_NEAR(asf.reader()->duration, seconds * 16384, 1.0);
    }
    EXPECT_EQ(asf.reader()->dataStart, 0 + static_cast<int>(report.packets[0].Int("pos")));
}

INSTANTIATE_TEST_SUITE_P(Files, AsfFiles, ::testing::Values("asf/wmv2-wma2.asf", "asf/spread-compressed.asf"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                             // The file's stem, as a test name may hold only letters, digits and '_'.
                             std::string name = std::filesystem::path(i.param).stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST_F(Asf, AudioSpreadIsUndoneAndSpanOneIsLeftAlone) {
    Opened spread(RASF_CLASS, File("asf/spread-compressed.asf"));
    ASSERT_EQ(spread.result(), ERR_NONE);
    auto* s1 = reinterpret_cast<AsfStream*>(spread.reader()->streams[0]);
    auto* s3 = reinterpret_cast<AsfStream*>(spread.reader()->streams[2]);
    EXPECT_EQ(s1->span, 2);
    EXPECT_EQ(s3->span, 3);
    // The video stream's byte rate comes from the Stream Bitrate Properties Object (the
    // builder writes 123456 bit/s for it), and stream 4 from inside the header extension.
    EXPECT_EQ(spread.reader()->streams[1]->format.byteRate, 123456 / 8);
    ASSERT_EQ(spread.reader()->streamCount, 4);
    EXPECT_EQ(reinterpret_cast<AsfStream*>(spread.reader()->streams[3])->streamNumber, 4);
    // ffmpeg writes span 1 with one chunk per virtual packet: not scrambled.
    Opened plain(RASF_CLASS, File("asf/wmv2-wma2.asf"));
    ASSERT_EQ(plain.result(), ERR_NONE);
    EXPECT_LE(reinterpret_cast<AsfStream*>(plain.reader()->streams[1])->span, 1);
    // The bytes themselves are checked against ffprobe's CRCs by PacketsAndStreamsMatchFfprobe.
}

TEST_F(Asf, BroadcastFile) {
    const char* file = "asf/broadcast.asf";
    Report report = LoadReport(file);
    Opened asf(RASF_CLASS, File(file));
    ASSERT_EQ(asf.result(), ERR_NONE);
    EXPECT_EQ(asf.reader()->duration, -1);
    ExpectPacketsAsReported(asf.ReadAll(), report, report.packets[0].Int("pts"));
}

TEST_F(Asf, CommentsFromTheDescriptionsAndMarkers) {
    const char* file = "asf/wmv2-wma2.asf";
    Report report = LoadReport(file);
    CommentRecorder sink;
    CommentSink where = sink.Sink();
    Opened asf(RASF_CLASS, File(file), &where);
    ASSERT_EQ(asf.result(), ERR_NONE);
    auto has = [&](const std::wstring& text) {
        for (const auto& t : sink.texts)
            if (t == text) return true;
        return false;
    };
    auto wide = [](const std::string& s) { return std::wstring(s.begin(), s.end()); };
    // ffprobe's format tags: the Content Description's title, author, copyright and
    // comment, and the Extended Content Description's genre.
    const Section& f = report.format;
    EXPECT_TRUE(has(L"TITLE=" + wide("Test Title")));
    EXPECT_TRUE(has(L"AUTHOR=" + wide(f.Get("TAG:artist"))));
    EXPECT_TRUE(has(L"COPYRIGHT=" + wide(f.Get("TAG:copyright"))));
    // ffmpeg writes the comment as the extended description's "Description".
    EXPECT_TRUE(has(L"COMMENT=" + wide(f.Get("TAG:comment"))) || has(L"DESCRIPTION=" + wide(f.Get("TAG:comment"))));
    EXPECT_TRUE(has(L"WM/GENRE=" + wide(f.Get("TAG:genre"))));
    EXPECT_FALSE(has(L"RATING="));
    ASSERT_EQ(report.chapters.size(), 2u);
    for (size_t i = 0; i < report.chapters.size(); ++i) {
        const Section& c = report.chapters[i];
        tchar name[64], time[64];
        stprintf_s(name, 64, L"CHAPTER%02dNAME=%s", static_cast<int>(i + 1), wide(c.Get("TAG:title")).c_str());
        BuildChapter(time, 64, static_cast<int>(i + 1), c.Int("start"), 10000);
        EXPECT_TRUE(has(name)) << "chapter " << i;
        EXPECT_TRUE(has(time)) << "chapter " << i;
    }
}

TEST_F(Asf, NotAsf) {
    std::vector<uint8_t> random(4096);
    for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<uint8_t>(i * 7919 >> 3);
    for (const auto& bytes : {ReadFileBytes(DataPath("flv/h263-adpcm.flv")), random, std::vector<uint8_t>{}}) {
        Opened asf(RASF_CLASS, Memory(bytes));
        EXPECT_EQ(asf.result(), ERR_INVALID_DATA);
    }
}

// The ffmpeg-made file with its Stream Properties Objects taken out of the header.
std::vector<uint8_t> WithoutStreams(const std::vector<uint8_t>& file) {
    // B7DC0791-A9B7-11CF-8EE6-00C00C205365 as it lies in the file.
    const uint8_t streamProps[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    auto le = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | file[at + static_cast<size_t>(i)];
        return v;
    };
    uint64_t headerSize = le(16, 8);
    uint32_t count = static_cast<uint32_t>(le(24, 4));
    std::vector<uint8_t> objects;
    uint32_t kept = 0;
    for (size_t at = 30; at < headerSize; at += static_cast<size_t>(le(at + 16, 8))) {
        size_t size = static_cast<size_t>(le(at + 16, 8));
        if (std::equal(streamProps, streamProps + 16, file.begin() + static_cast<long>(at))) continue;
        objects.insert(objects.end(), file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + size));
        ++kept;
    }
    EXPECT_LT(kept, count);
    std::vector<uint8_t> out(file.begin(), file.begin() + 30);
    uint64_t newSize = 30 + objects.size();
    for (int i = 0; i < 8; ++i) out[16 + static_cast<size_t>(i)] = static_cast<uint8_t>(newSize >> (8 * i));
    for (int i = 0; i < 4; ++i) out[24 + static_cast<size_t>(i)] = static_cast<uint8_t>(kept >> (8 * i));
    out.insert(out.end(), objects.begin(), objects.end());
    out.insert(out.end(), file.begin() + static_cast<long>(headerSize), file.end());
    return out;
}

TEST_F(Asf, AHeaderThatDeclaresNoStreamHasNothingToPlay) {
    std::vector<uint8_t> file = ReadFileBytes(DataPath("asf/wmv2-wma2.asf"));
    {
        Opened asf(RASF_CLASS, Memory(file));
        ASSERT_EQ(asf.result(), ERR_NONE);  // the file as made opens
    }
    Opened asf(RASF_CLASS, Memory(WithoutStreams(file)));
    EXPECT_EQ(asf.result(), ERR_NOT_SUPPORTED);
}

TEST_F(Asf, SeekGoesByPacket) {
    const char* file = "asf/wmv2-wma2.asf";
    Report report = LoadReport(file);
    Opened asf(RASF_CLASS, File(file));
    ASSERT_EQ(asf.result(), ERR_NONE);
    asf.ReadAll(nullptr, 10);
    // The core turns the time into a packet by the file's maximum bit rate.
    ASSERT_EQ(asf.Seek(5000, -1), ERR_NONE);
    Got g{};
    ASSERT_EQ(asf.Read(&g), ERR_NONE);
    // Somewhere after the start, and one of the file's objects.
    size_t at = 0;
    while (at < report.packets.size() && report.packets[at].Get("data_hash") != g.crc) ++at;
    ASSERT_LT(at, report.packets.size());
    EXPECT_GT(at, 0u);
    EXPECT_EQ(g.time, Ticks(report.packets[at].Int("pts")));
}

// --- MMS over HTTP ---

// A stream of class HTTP serving an MMS-over-HTTP body: it answers HttpPragma, keeps the
// HttpExtraHeaders it is given, and reconnects (starting the body again after the
// header chunk, as a server does for a new stream-time) when it is sought to where it
// stands after new headers.
struct FakeHttp {
    Stream base;
    std::vector<uint8_t> body;
    size_t headerEnd = 0;  // end of the $H chunk
    int position = 0;
    std::wstring pragma;
    std::vector<std::wstring> extraHeaders;
    bool reconnect = false;
    int reconnects = 0;
    bool headerOnly = false;  // the first answer holds only the header chunk

    static int Get(void* self, int id, void* data, int size) {
        auto* h = static_cast<FakeHttp*>(self);
        if (id != HttpPragma) return ERR_INVALID_PARAM;
        tcscpy_s(static_cast<tchar*>(data), static_cast<size_t>(size) / sizeof(tchar), h->pragma.c_str());
        return 0;
    }
    static int Set(void* self, int id, const void* data, int) {
        auto* h = static_cast<FakeHttp*>(self);
        if (id != HttpExtraHeaders) return ERR_INVALID_PARAM;
        h->extraHeaders.emplace_back(static_cast<const tchar*>(data));
        h->reconnect = true;
        return 0;
    }
    int Limit() const { return headerOnly && reconnects == 0 ? static_cast<int>(headerEnd) : static_cast<int>(body.size()); }
    static int ReadBlock(void* self, Block* block, int offset, int n) {
        auto* h = static_cast<FakeHttp*>(self);
        int left = h->Limit() - h->position;
        if (n > left) n = left;
        if (n <= 0) return 0;
        std::memcpy(block->data + offset, h->body.data() + h->position, static_cast<size_t>(n));
        h->position += n;
        return n;
    }
    static int Seek(void* self, int offset, int whence) {
        auto* h = static_cast<FakeHttp*>(self);
        if (whence == 1 && offset == 0) return h->position;
        if (whence != 0 || offset != 0) return -1;
        if (h->reconnect) {
            // A new request with the new headers: the server's answer starts again, with
            // its header chunk.
            h->reconnect = false;
            ++h->reconnects;
        }
        h->position = 0;
        return 0;
    }

    static Stream* Make(FakeHttp* h, const std::vector<uint8_t>& mms) {
        std::memset(&h->base, 0, sizeof(h->base));
        h->base.node.classId = HTTP_CLASS;
        h->base.node.getParam = Get;
        h->base.node.setParam = Set;
        h->base.readStreamBlock = ReadBlock;
        h->base.seekStream = Seek;
        h->body = mms;
        h->headerEnd = 12 + (mms[2] | mms[3] << 8) - 8;
        return &h->base;
    }
};

class Rash : public Asf {
protected:
    // Opens RASH over the fake stream; the stream is not the driver's to delete.
    std::unique_ptr<Opened> Open(FakeHttp* h, const char* file = "asf/wmv2-wma2.mms") {
        return std::make_unique<Opened>(RASH_CLASS, FakeHttp::Make(h, ReadFileBytes(DataPath(file))), nullptr, false);
    }
};

// The plain file and the chunked body hold the same packets; the chunked one is a
// broadcast (ffmpeg's asf_stream), so its times start at its first payload's.
TEST_F(Rash, ReadsTheChunksAndSelectsStreamsWithAPragma) {
    Report report = LoadReport("asf/wmv2-wma2.asf");
    auto fake = std::make_unique<FakeHttp>();
    FakeHttp* h = fake.get();
    h->pragma = L"no-cache,client-id=1,features=\"broadcast\",";
    {
        auto o = Open(h);
        ASSERT_EQ(o->result(), ERR_NONE);
        ExpectStreamsAsReported(o->reader(), report);
        EXPECT_TRUE(h->extraHeaders.empty());
        std::vector<Got> got = o->ReadAll();
        ExpectPacketsAsReported(got, report);

        // Select the audio stream alone at 2 s.
        o->reader()->streams[0]->selected = 0;
        int time = 2 * 16384;
        ASSERT_EQ(o->reader()->node.setParam(o->reader(), FormatStreamSelect, &time, sizeof(time)), ERR_NONE);
        ASSERT_EQ(h->extraHeaders.size(), 1u);
        auto* r = o->as<AsfReader>();
        tchar expected[1024];
        stprintf_s(expected, 1024,
                   L"Pragma: no-cache,rate=1.000000,stream-time=2000,stream-offset=4294967295:4294967295,"
                   L"request-context=2,max-duration=0,xPlayStrm=1,xClientGUID={3300AD50-2C39-46c0-AE0A-132C%08X},"
                   L"stream-switch-count=1,stream-switch-entry=ffff:2:0\n",
                   r->rash.clientNumber);
        EXPECT_EQ(h->extraHeaders[0], expected);
        EXPECT_EQ(h->reconnects, 1);
        // The body starts again: the same packets, the first one's send time now gives
        // the time base from the asked time.
        std::vector<Got> again = o->ReadAll();
        ExpectPacketsAsReported(again, report);

        // Both streams through the seek slot.
        o->reader()->streams[0]->selected = 1;
        ASSERT_EQ(o->Seek(0, -1), ERR_NONE);
        EXPECT_NE(h->extraHeaders.back().find(L"stream-switch-count=2,stream-switch-entry=ffff:1:0 ffff:2:0\n"),
                  std::wstring::npos);
        EXPECT_EQ(o->Seek(-1, 100), ERR_NOT_SUPPORTED);
    }
}

TEST_F(Rash, HeaderOnlyAnswerSelectsAtOnce) {
    Report report = LoadReport("asf/wmv2-wma2.asf");
    auto fake = std::make_unique<FakeHttp>();
    FakeHttp* h = fake.get();
    h->pragma = L"no-cache,";
    h->headerOnly = true;
    auto o = Open(h);
    ASSERT_EQ(o->result(), ERR_NONE);
    ASSERT_EQ(h->extraHeaders.size(), 1u);
    EXPECT_NE(h->extraHeaders[0].find(L"stream-time=0,"), std::wstring::npos);
    EXPECT_NE(h->extraHeaders[0].find(L"stream-switch-count=2,stream-switch-entry=ffff:1:0 ffff:2:0\n"),
              std::wstring::npos);
    ExpectPacketsAsReported(o->ReadAll(), report);
}

TEST_F(Rash, ChunksWithoutThePaddingOfTheirPackets) {
    // Each data chunk ends after its packet's payloads: the padding the packet header
    // counts is not in the body, and the next packet starts in the next chunk.
    Report report = LoadReport("asf/wmv2-wma2.asf");
    auto fake = std::make_unique<FakeHttp>();
    FakeHttp* h = fake.get();
    h->pragma = L"no-cache,";
    auto o = Open(h, "asf/wmv2-wma2-trimmed.mms");
    ASSERT_EQ(o->result(), ERR_NONE);
    int last = 0;
    std::vector<Got> got = o->ReadAll(&last);
    EXPECT_EQ(last, ERR_END_OF_FILE);
    ExpectPacketsAsReported(got, report);
}

TEST_F(Rash, NoPragmaCannotSelect) {
    auto fake = std::make_unique<FakeHttp>();
    FakeHttp* h = fake.get();
    h->headerOnly = true;
    auto o = Open(h);
    EXPECT_EQ(o->result(), ERR_NOT_SUPPORTED);
    EXPECT_TRUE(h->extraHeaders.empty());
}

}  // namespace
