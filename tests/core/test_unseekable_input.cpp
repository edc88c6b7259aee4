// The input record over a stream that cannot seek (a pipe, a live answer): a way forward is
// read from the next byte the reader expects, and a refused seek changes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/common.h"

namespace {

int Refuse(void*, int, int) { return -1; }

std::vector<uint8_t> Bytes(int n) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 13 + (i >> 9));
    return v;
}

struct PipeReader {
    Format* f;
    Stream* s;
    explicit PipeReader(const std::vector<uint8_t>& bytes) {
        f = static_cast<Format*>(NodeCreate(FORMAT_CLASS));
        s = MemStreamCreate(bytes.data(), static_cast<int>(bytes.size()), 0);
        s->seekStream = Refuse;
        Format_SetInput(f, 0, s);
    }
    ~PipeReader() {
        NodeDelete(f);
        NodeDelete(s);
    }
    FormatReaderInput* in() { return &f->input[0]; }
};

TEST(UnseekableInput, ForwardMovesReadFromThePositionAndRefusedSeeksChangeNothing) {
    const auto bytes = Bytes(600000);
    PipeReader r(bytes);
    FormatReaderInput* in = r.in();
    uint8_t head[10];
    ASSERT_EQ(in->inputRead(in, head, 10), 10);
    // Skips and seeks of every length: within the buffer, past it, past several fills.
    struct Move {
        bool skip;
        int amount;  // skip: bytes ahead; seek: the position
    } moves[] = {{true, 100}, {true, 70000}, {false, 200000}, {true, 65536}, {false, 265537}, {true, 1}};
    for (const Move& m : moves) {
        SCOPED_TRACE((m.skip ? "skip " : "seek to ") + std::to_string(m.amount));
        int to = m.skip ? in->inputPosition + m.amount : m.amount;
        ASSERT_EQ(m.skip ? in->inputSkip(in, m.amount) : in->inputSeek(in, m.amount, 0), 0);
        EXPECT_EQ(in->inputPosition, to);
        ASSERT_EQ(in->inputRead8(in), bytes[static_cast<size_t>(to)]);
    }
    // A block larger than a fill comes straight from the stream; then a long skip.
    BlockRef* block = in->inputReadBlock(in, 100000);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(0, std::memcmp(block->data, &bytes[265540], 100000));
    Format_ReleaseRef(block);
    ASSERT_EQ(in->inputSkip(in, 100000), 0);
    ASSERT_EQ(in->inputRead8(in), bytes[465540]);
    // Back past the buffer: refused, and the reader goes on where it stood.
    EXPECT_NE(in->inputSeek(in, 1000, 0), 0);
    EXPECT_NE(in->inputSkip(in, -200000), 0);
    EXPECT_EQ(in->inputPosition, 465541);
    ASSERT_EQ(in->inputRead8(in), bytes[465541]);
    EXPECT_EQ(in->readError, 0);
    // Past the end: the data ends there.
    EXPECT_NE(in->inputSkip(in, 200000), 0);
    EXPECT_TRUE(in->inputAtEnd(in));
}

}  // namespace
