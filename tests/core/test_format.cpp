// The format reader base: input records over streams and memory, block references,
// stream records and arrays.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/common.h"

namespace {

std::vector<uint8_t> Pattern(int n) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return v;
}

struct Reader {
    Format* f;
    Stream* s;
    explicit Reader(const std::vector<uint8_t>& bytes, int fill = 0, fourcc_t cls = 0) {
        f = static_cast<Format*>(NodeCreate(FORMAT_CLASS));
        s = MemStreamCreate(bytes.data(), static_cast<int>(bytes.size()), cls);
        f->fillSize = fill;
        Format_SetInput(f, 0, s);
    }
    ~Reader() {
        NodeDelete(f);
        NodeDelete(s);
    }
    FormatReaderInput* in() { return &f->input[0]; }
};

TEST(FormatInput, ReadsValuesAcrossFillsAndSeeks) {
    auto bytes = Pattern(1000);
    Reader r(bytes, 7);  // small fills, so values straddle them
    FormatReaderInput* in = r.in();
    EXPECT_EQ(in->inputRead8(in), bytes[0]);
    uint32_t v = in->inputRead32BE(in);
    EXPECT_EQ(v, (uint32_t(bytes[1]) << 24) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 8) | bytes[4]);
    EXPECT_EQ(in->inputPosition, 5);
    EXPECT_EQ(in->inputRead16LE(in), bytes[5] | (bytes[6] << 8));
    ASSERT_EQ(in->inputSeek(in, 990, 0), 0);
    uint8_t buf[16];
    EXPECT_EQ(in->inputRead(in, buf, 16), 10);
    EXPECT_EQ(0, std::memcmp(buf, &bytes[990], 10));
    EXPECT_TRUE(in->inputAtEnd(in));
    EXPECT_EQ(in->inputRead8(in), -1);
    // The end, as a reader finds the file size.
    ASSERT_EQ(in->inputSeek(in, 0, 2), 0);
    EXPECT_EQ(in->inputPosition, 1000);
    ASSERT_EQ(in->inputSeek(in, 100, 0), 0);
    ASSERT_EQ(in->inputSkip(in, 50), 0);
    EXPECT_EQ(in->inputRead8(in), bytes[150]);
    EXPECT_NE(in->inputSeek(in, -5, 0), 0);
}

TEST(FormatInput, BlocksAreViewsOrCopiesWithTheRightBytes) {
    auto bytes = Pattern(300000);
    Reader r(bytes);
    FormatReaderInput* in = r.in();
    BlockRef* a = in->inputReadBlock(in, 100);  // inside the buffer
    BlockRef* b = in->inputReadBlock(in, 200000);  // larger than a fill
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Format_RefLength(b), 200000);
    EXPECT_EQ(0, std::memcmp(a->data, &bytes[0], 100));
    EXPECT_EQ(0, std::memcmp(b->data, &bytes[100], 200000));
    EXPECT_EQ(in->inputPosition, 200100);
    EXPECT_EQ(in->inputReadBlock(in, 200000), nullptr);  // past the end
    Format_ReleaseRef(a);
    Format_ReleaseRef(b);
}

TEST(FormatInput, ACopyOfTheRecordRestoresAfterMemoryMode) {
    auto bytes = Pattern(100);
    Reader r(bytes);
    FormatReaderInput* in = r.in();
    in->inputSkip(in, 10);
    FormatReaderInput saved = *in;
    const uint8_t mem[] = {0, 0, 0, 9, 'm', 'o', 'o', 'v'};
    Format_InputMemory(in, mem, sizeof(mem));
    EXPECT_EQ(in->inputPosition, 0);
    EXPECT_EQ(in->inputRead32BE(in), 9u);
    EXPECT_EQ(in->inputRead32BE(in), FOURCC('v', 'o', 'o', 'm'));  // big-endian: 'm' first
    EXPECT_TRUE(in->inputAtEnd(in));
    *in = saved;
    EXPECT_EQ(in->inputPosition, 10);
    EXPECT_EQ(in->inputRead8(in), bytes[10]);
}

int g_fillCalls = 0;
BlockRef* CountingFill(FormatReaderInput*, int wanted) {
    if (g_fillCalls++ >= 3) return nullptr;
    BlockRef* r = Format_AllocRef(wanted < 4 ? wanted : 4);
    for (int i = 0; i < r->length; ++i) r->data[i] = static_cast<uint8_t>(g_fillCalls * 10 + i);
    return r;
}

TEST(FormatInput, AReaderMayPutItsOwnFillInACopy) {
    Reader r(Pattern(10));
    FormatReaderInput virt = *r.in();
    virt.inputFill = CountingFill;
    virt.inputPosition = 0;
    g_fillCalls = 0;
    uint8_t buf[16];
    EXPECT_EQ(virt.inputRead(&virt, buf, 16), 12);
    EXPECT_EQ(buf[0], 10);
    EXPECT_EQ(buf[4], 20);
    EXPECT_EQ(buf[11], 33);
    EXPECT_EQ(virt.inputSeek(&virt, 0, 0), -1);  // such a fill only goes forward
    Format_InputFlush(&virt);
}

TEST(BlockRefs, DupRefCoversPartsOfAChain) {
    BlockRef* a = Format_AllocRef(4);
    BlockRef* b = Format_AllocRef(4);
    for (int i = 0; i < 4; ++i) {
        a->data[i] = static_cast<uint8_t>(i);
        b->data[i] = static_cast<uint8_t>(4 + i);
    }
    a->next = b;
    BlockRef* d = Format_DupRef(a, 2, 4);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Format_RefLength(d), 4);
    ASSERT_NE(d->next, nullptr);
    EXPECT_EQ(d->data[0], 2);
    EXPECT_EQ(d->next->data[0], 4);
    EXPECT_EQ(d->next->length, 2);
    EXPECT_EQ(Format_DupRef(a, 6, 3), nullptr);
    Format_ReleaseRef(a);  // the views keep the blocks alive
    EXPECT_EQ(d->next->data[1], 5);
    Format_ReleaseRef(d);
}

int g_freed = 0;
void CountFree(void*, FormatStream*) { ++g_freed; }

TEST(FormatStreams, AddPrepareAndRemove) {
    auto* f = static_cast<Format*>(NodeCreate(FORMAT_CLASS));
    f->freeStreams = CountFree;
    CommentSink sink{f, 99};
    ASSERT_EQ(f->node.setParam(f, FormatCommentSink, &sink, sizeof(sink)), 0);
    FormatStream* a = Format_AddStream(f, sizeof(FormatStream) + 40);
    FormatStream* v = Format_AddStream(f, sizeof(FormatStream));
    ASSERT_TRUE(a && v);
    EXPECT_EQ(a->comment.param, 99);
    a->format.kind = PACKET_AUDIO;
    v->format.kind = PACKET_VIDEO;
    Format_PrepairStream(f, a);
    Format_PrepairStream(f, v);
    EXPECT_EQ(Format_DefSyncStream(f, &f->input[0]), v);
    g_freed = 0;
    Format_RemoveStream(f, v);
    EXPECT_EQ(g_freed, 1);
    EXPECT_EQ(f->streamCount, 1);
    EXPECT_EQ(Format_DefSyncStream(f, &f->input[0]), a);
    NodeDelete(f);
    EXPECT_EQ(g_freed, 2);
}

TEST(PacketFormats, WaveFormatAndDefaults) {
    // WAVEFORMATEX: tag 0x161, 2 ch, 44100 Hz, 16000 B/s, align 2973, 16 bits, 10 extra bytes.
    const uint8_t wfx[] = {0x61, 0x01, 2, 0, 0x44, 0xAC, 0, 0, 0x80, 0x3E, 0, 0, 0x9D, 0x0B, 16, 0, 10, 0,
                           1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    PacketFormat pf{};
    Format_WaveFormat(nullptr, &pf, wfx, sizeof(wfx));
    EXPECT_EQ(pf.kind, PACKET_AUDIO);
    EXPECT_EQ(pf.formatTag, 0x161);
    EXPECT_EQ(pf.channels, 2);
    EXPECT_EQ(pf.sampleRate, 44100);
    EXPECT_EQ(pf.byteRate, 16000);
    EXPECT_EQ(pf.blockAlign, 2973);
    EXPECT_EQ(pf.bits, 16);
    ASSERT_EQ(pf.extraLength, 10);
    EXPECT_EQ(pf.extra[9], 10);
    PacketFormatClear(&pf);
    EXPECT_EQ(pf.extra, nullptr);
    pf.kind = PACKET_AUDIO;
    pf.formatTag = 1;
    pf.channels = 2;
    pf.bits = 16;
    pf.sampleRate = 8000;
    PacketFormatDefault(&pf);
    EXPECT_EQ(pf.blockAlign, 4);
    EXPECT_EQ(pf.byteRate, 32000);
    // What a hostile file may claim: the byte rate must not wrap to a negative value.
    PacketFormatClear(&pf);
    pf.kind = PACKET_AUDIO;
    pf.formatTag = 1;
    pf.channels = 255;
    pf.bits = 64;
    pf.sampleRate = 1 << 30;
    PacketFormatDefault(&pf);
    EXPECT_EQ(pf.blockAlign, 255 * 8);
    EXPECT_GT(pf.byteRate, 0);
}

TEST(Arrays, AppendReserveDropClear) {
    Array a{};
    ASSERT_TRUE(ArrayAlloc(&a, 100, 1024));
    EXPECT_TRUE(ARRAYEMPTY(a));
    for (int i = 0; i < 1000; ++i) ASSERT_NE(ArrayAppend(&a, &i, sizeof(i), 1024), nullptr);
    EXPECT_EQ(ARRAYCOUNT(a, int), 1000u);
    EXPECT_EQ(ARRAYBEGIN(a, int)[999], 999);
    void* reserved = ArrayAppend(&a, nullptr, 8, 0);
    ASSERT_NE(reserved, nullptr);
    EXPECT_EQ(ArraySize(&a), 4008u);
    char* data = static_cast<char*>(ArrayLock(&a));
    ArrayDrop(&a);
    EXPECT_TRUE(ARRAYEMPTY(a));
    EXPECT_EQ(a.data, data);  // storage kept
    ArrayClear(&a);
    EXPECT_EQ(a.data, nullptr);
}

}  // namespace
