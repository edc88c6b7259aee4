// The format reader base: its set-up, the input records and the Format_* services.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/format.h"
#include "formatbase.h"
#include "streams.h"

namespace {

constexpr int kDefaultFill = 64 * 1024;

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) { return c == 0 ? 0 : a * b / c; }

// --- input records ---

BlockRef* CoreFill(FormatReaderInput* in, int wanted) {
    Stream* s = in->inputStream;
    if (!s || !s->readStreamBlock || wanted <= 0) return nullptr;
    BlockRef* r = Format_AllocRef(wanted);
    if (!r) return nullptr;
    // A broken network read reconnects and reports -1 once; the next read goes on. The end
    // met right after a failure is a reconnect that failed, not the end of the data.
    int n = -1;
    bool failed = false;
    for (int tries = 0; tries < 3 && n < 0; ++tries) {
        n = s->readStreamBlock(s, r->block, 0, wanted);
        failed = failed || n < 0;
    }
    if (n <= 0) {
        if (failed) in->readError = 1;
        Format_ReleaseRef(r);
        return nullptr;
    }
    r->length = n;
    return r;
}

void DropBuffer(FormatReaderInput* in) {
    if (!in->memoryMode) {
        Format_ReleaseRef(in->buffer);
        in->buffer = nullptr;
        in->bufferData = nullptr;
        in->bufferPos = in->bufferLength = 0;
    }
}

int FillSize(FormatReaderInput* in) {
    if (in->fillSize > 0) return in->fillSize;
    if (in->format && in->format->fillSize > 0) return in->format->fillSize;
    return kDefaultFill;
}

// True when at least one byte is buffered.
bool Ensure(FormatReaderInput* in) {
    if (in->bufferPos < in->bufferLength) return true;
    if (in->memoryMode || !in->inputFill) {
        in->atEnd = 1;
        return false;
    }
    DropBuffer(in);
    BlockRef* r = in->inputFill(in, FillSize(in));
    if (r && r->next) {
        // Buffers are single pieces: flatten a chain.
        BlockRef* flat = Format_AllocRef(Format_RefLength(r));
        if (flat) {
            int at = 0;
            for (BlockRef* p = r; p; p = p->next) {
                std::memcpy(flat->data + at, p->data, static_cast<size_t>(p->length));
                at += p->length;
            }
        }
        Format_ReleaseRef(r);
        r = flat;
    }
    if (!r || r->length <= 0) {
        Format_ReleaseRef(r);
        in->atEnd = 1;
        return false;
    }
    in->buffer = r;
    in->bufferData = r->data;
    in->bufferPos = 0;
    in->bufferLength = r->length;
    in->atEnd = 0;
    return true;
}

int InRead(FormatReaderInput* in, void* buffer, int n) {
    if (n <= 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    int done = 0;
    while (done < n && Ensure(in)) {
        int take = std::min(n - done, in->bufferLength - in->bufferPos);
        std::memcpy(out + done, in->bufferData + in->bufferPos, static_cast<size_t>(take));
        in->bufferPos += take;
        in->inputPosition += take;
        done += take;
    }
    return done;
}

int InRead8(FormatReaderInput* in) {
    if (!Ensure(in)) return -1;
    ++in->inputPosition;
    return in->bufferData[in->bufferPos++];
}

uint64_t ReadBytes(FormatReaderInput* in, int n, bool bigEndian) {
    uint8_t b[8] = {0};
    InRead(in, b, n);
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        int k = bigEndian ? i : n - 1 - i;
        v = (v << 8) | b[k];
    }
    return v;
}

int InRead16BE(FormatReaderInput* in) { return static_cast<int>(ReadBytes(in, 2, true)); }
uint32_t InRead32BE(FormatReaderInput* in) { return static_cast<uint32_t>(ReadBytes(in, 4, true)); }
uint64_t InRead64BE(FormatReaderInput* in) { return ReadBytes(in, 8, true); }
int InRead16LE(FormatReaderInput* in) { return static_cast<int>(ReadBytes(in, 2, false)); }
uint32_t InRead32LE(FormatReaderInput* in) { return static_cast<uint32_t>(ReadBytes(in, 4, false)); }
uint64_t InRead64LE(FormatReaderInput* in) { return ReadBytes(in, 8, false); }

bool InAtEnd(FormatReaderInput* in) { return !Ensure(in); }

BlockRef* InReadBlock(FormatReaderInput* in, int n) {
    if (n < 0) return nullptr;
    // Within the buffer: a view of it, no copy.
    if (in->buffer && in->bufferLength - in->bufferPos >= n) {
        BlockRef* r = Format_DupRef(in->buffer, in->bufferPos, n);
        if (!r) return nullptr;
        in->bufferPos += n;
        in->inputPosition += n;
        return r;
    }
    BlockRef* r = Format_AllocRef(n);
    if (!r) return nullptr;
    int done = 0;
    int buffered = in->bufferLength - in->bufferPos;
    if (buffered > 0) {
        int take = std::min(n, buffered);
        std::memcpy(r->data, in->bufferData + in->bufferPos, static_cast<size_t>(take));
        in->bufferPos += take;
        in->inputPosition += take;
        done = take;
    }
    if (done < n && !in->memoryMode && in->inputFill == CoreFill && in->inputStream) {
        // Large packets go straight from the stream into the block.
        Stream* s = in->inputStream;
        DropBuffer(in);
        int failures = 0;
        while (done < n && failures < 3) {
            int got = s->readStreamBlock(s, r->block, done, n - done);
            if (got < 0) {
                ++failures;
                continue;
            }
            if (got == 0) {
                if (failures > 0) failures = 3;
                break;
            }
            done += got;
            in->inputPosition += got;
        }
        if (failures >= 3) in->readError = 1;
    } else if (done < n) {
        done += InRead(in, r->data + done, n - done);
    }
    if (done < n) {
        in->atEnd = 1;
        Format_ReleaseRef(r);
        return nullptr;
    }
    return r;
}

// Reads and drops the bytes up to `target`, from the next byte the reader expects: how a
// stream that cannot seek moves forward. 0 when it stands there, -1 when the data ended
// (or a read failed) before it.
int ReadForward(FormatReaderInput* in, int target) {
    while (in->inputPosition < target) {
        if (!Ensure(in)) return -1;
        int take = std::min(target - in->inputPosition, in->bufferLength - in->bufferPos);
        in->bufferPos += take;
        in->inputPosition += take;
    }
    return 0;
}

// A seek the stream refuses leaves the stream, the buffer and the position as they were:
// a stream reports -1 only when it did not move.
int InSeek(FormatReaderInput* in, int pos, int whence) {
    long long target;
    int windowStart = in->inputPosition - in->bufferPos;
    if (whence == 0) {
        target = pos;
    } else if (whence == 1) {
        target = static_cast<long long>(in->inputPosition) + pos;
    } else if (whence == 2) {
        if (in->memoryMode) {
            target = static_cast<long long>(in->bufferLength) + pos;
        } else {
            Stream* s = in->inputStream;
            if (!s || in->inputFill != CoreFill) return -1;
            int r = s->seekStream(s, pos, 2);
            if (r < 0) return -1;
            DropBuffer(in);
            in->inputPosition = r;
            in->atEnd = 0;
            return 0;
        }
    } else {
        return -1;
    }
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    int t = static_cast<int>(target);
    if (in->memoryMode) {
        if (t > in->bufferLength) return -1;
        in->bufferPos = t;
        in->inputPosition = t;
        in->atEnd = t >= in->bufferLength;
        return 0;
    }
    if (t >= windowStart && t <= windowStart + in->bufferLength && in->buffer) {
        in->bufferPos = t - windowStart;
        in->inputPosition = t;
        in->atEnd = 0;
        return 0;
    }
    Stream* s = in->inputStream;
    if (in->inputFill == CoreFill && s) {
        int r = s->seekStream(s, t, 0);
        if (r >= 0) {
            DropBuffer(in);
            in->inputPosition = r;
            in->atEnd = 0;
            return 0;
        }
    }
    // The stream stands where the buffer ends: a way forward is read from the position.
    if (t < in->inputPosition) return -1;
    return ReadForward(in, t);
}

int InSkip(FormatReaderInput* in, int n) {
    if (n < 0) return InSeek(in, n, 1);
    int buffered = in->bufferLength - in->bufferPos;
    if (n <= buffered) {
        in->bufferPos += n;
        in->inputPosition += n;
        return 0;
    }
    if (InSeek(in, n, 1) == 0) return 0;
    return in->readError ? ERR_READ : ERR_END_OF_FILE;
}

void InitInput(Format* f, FormatReaderInput* in, int number) {
    std::memset(in, 0, sizeof(*in));
    in->inputSeek = InSeek;
    in->inputAtEnd = InAtEnd;
    in->inputSkip = InSkip;
    in->inputRead = InRead;
    in->inputRead8 = InRead8;
    in->inputRead16BE = InRead16BE;
    in->inputRead32BE = InRead32BE;
    in->inputRead64BE = InRead64BE;
    in->inputReadBlock = InReadBlock;
    in->inputRead16LE = InRead16LE;
    in->inputRead32LE = InRead32LE;
    in->inputRead64LE = InRead64LE;
    in->inputFill = CoreFill;
    in->format = f;
    in->number = number;
}

// --- default slots ---

int DefaultOpen(void*) { return ERR_NOT_SUPPORTED; }
void DefaultClose(void*) {}
int DefaultSeek(void* self, int time, int filePos, int flag) { return Format_SeekByPacket(self, time, filePos, flag); }
int DefaultRead(void*, FormatReaderInput*, Packet*) { return ERR_END_OF_FILE; }
void DefaultStream(void*, FormatStream*) {}
void DefaultReset(void*) {}
void DefaultState(void*, int) {}
int BaseEnum(void*, int, ParamInfo*) { return ERR_INVALID_PARAM; }

void FreeStream(Format* f, FormatStream* s) {
    if (f->freeStreams) f->freeStreams(f, s);
    PacketFormatClear(&s->format);
    std::free(s);
}

}  // namespace

namespace core {

int FormatSetUp(void* object) {
    auto* f = static_cast<Format*>(object);
    f->node.enumParams = BaseEnum;
    f->node.getParam = FormatBaseGet;
    f->node.setParam = FormatBaseSet;
    f->openFormat = DefaultOpen;
    f->closeFormat = DefaultClose;
    f->seekFormat = DefaultSeek;
    f->readPacket = DefaultRead;
    f->freeStreams = DefaultStream;
    f->releaseStream = DefaultStream;
    f->resetAfterSeek = DefaultReset;
    f->packetState = DefaultState;
    InitInput(f, &f->input[0], 0);
    InitInput(f, &f->input[1], 1);
    return 0;
}

void FormatTearDown(void* object) {
    auto* f = static_cast<Format*>(object);
    for (int i = 0; i < f->streamCount; ++i) FreeStream(f, f->streams[i]);
    f->streamCount = 0;
    for (FormatReaderInput& in : f->input) {
        in.memoryMode = 0;
        DropBuffer(&in);
    }
}

}  // namespace core

void Format_InputMemory(FormatReaderInput* in, const void* data, int length) {
    in->memoryMode = 1;
    in->buffer = nullptr;
    in->bufferData = static_cast<const uint8_t*>(data);
    in->bufferPos = 0;
    in->bufferLength = data && length > 0 ? length : 0;
    in->inputPosition = 0;
    in->atEnd = in->bufferLength == 0;
}

void Format_InputFlush(FormatReaderInput* in) {
    if (in->memoryMode) return;
    DropBuffer(in);
    in->atEnd = 0;
}

int Format_SetInput(void* format, int number, Stream* stream) {
    auto* f = static_cast<Format*>(format);
    if (number < 0 || number > 1) return ERR_INVALID_PARAM;
    FormatReaderInput* in = &f->input[number];
    in->memoryMode = 0;
    DropBuffer(in);
    in->inputStream = stream;
    in->inputPosition = 0;
    in->atEnd = 0;
    in->readError = 0;
    if (stream) {
        int pos = stream->seekStream(stream, 0, 1);
        if (pos > 0) in->inputPosition = pos;
    }
    return 0;
}

int FormatBaseSet(void* format, int id, const void* data, int size) {
    auto* f = static_cast<Format*>(format);
    switch (id) {
        case FormatStreamSelect:
            return data && size >= static_cast<int>(sizeof(int)) ? 0 : ERR_INVALID_PARAM;
        case FormatCommentSink:
            if (!data) {
                f->comment = CommentSink{};
                return 0;
            }
            if (size < static_cast<int>(sizeof(CommentSink))) return ERR_INVALID_PARAM;
            std::memcpy(&f->comment, data, sizeof(CommentSink));
            return 0;
        default: return ERR_INVALID_PARAM;
    }
}

int FormatBaseGet(void* format, int id, void* data, int size) {
    auto* f = static_cast<Format*>(format);
    if (id == FormatCommentSink && data && size >= static_cast<int>(sizeof(CommentSink))) {
        std::memcpy(data, &f->comment, sizeof(CommentSink));
        return 0;
    }
    return ERR_INVALID_PARAM;
}

FormatStream* Format_AddStream(void* format, int recordSize) {
    auto* f = static_cast<Format*>(format);
    if (f->streamCount >= FORMAT_MAX_STREAMS) return nullptr;
    if (recordSize < static_cast<int>(sizeof(FormatStream))) recordSize = sizeof(FormatStream);
    auto* s = static_cast<FormatStream*>(std::calloc(1, static_cast<size_t>(recordSize)));
    if (!s) return nullptr;
    s->recordSize = recordSize;
    s->owner = f;
    s->number = f->streamCount;
    s->comment = f->comment;
    f->streams[f->streamCount++] = s;
    return s;
}

void Format_PrepairStream(void*, FormatStream* stream) {
    if (!stream) return;
    stream->announced = 1;
    stream->selected = 1;
}

void Format_RemoveStream(void* format, FormatStream* stream) {
    auto* f = static_cast<Format*>(format);
    int at = -1;
    for (int i = 0; i < f->streamCount; ++i)
        if (f->streams[i] == stream) at = i;
    if (at < 0) return;
    for (int i = at; i + 1 < f->streamCount; ++i) {
        f->streams[i] = f->streams[i + 1];
        f->streams[i]->number = i;
    }
    --f->streamCount;
    FreeStream(f, stream);
}

void Format_AfterSeek(void* format) {
    auto* f = static_cast<Format*>(format);
    if (f->resetAfterSeek) f->resetAfterSeek(f);
    if (f->releaseStream)
        for (int i = 0; i < f->streamCount; ++i) f->releaseStream(f, f->streams[i]);
}

FormatStream* Format_DefSyncStream(void* format, FormatReaderInput* input) {
    auto* f = static_cast<Format*>(format);
    FormatStream* first = nullptr;
    for (int i = 0; i < f->streamCount; ++i) {
        FormatStream* s = f->streams[i];
        FormatReaderInput* bound = s->reader ? s->reader : &f->input[0];
        if (!s->selected || bound != input) continue;
        if (s->format.kind == PACKET_VIDEO) return s;
        if (!first) first = s;
    }
    return first;
}

FormatReaderInput* Format_FindReader(void* format, int minOffset, int maxOffset) {
    auto* f = static_cast<Format*>(format);
    if (minOffset < 0 || maxOffset < 0) return nullptr;
    // One input serves every range.
    return &f->input[0];
}

int Format_SeekByPacket(void* format, int time, int filePos, int) {
    auto* f = static_cast<Format*>(format);
    FormatReaderInput* in = &f->input[0];
    int64_t pos;
    if (time >= 0) {
        int64_t bytes;
        if (f->byteRate > 0)
            bytes = MulDiv64(time, f->byteRate, 16384);
        else if (f->duration > 0 && f->fileSize > f->dataStart)
            bytes = MulDiv64(time, f->fileSize - f->dataStart, f->duration);
        else
            return ERR_NOT_SUPPORTED;
        pos = f->dataStart + bytes;
    } else if (filePos >= 0) {
        pos = filePos;
    } else {
        return ERR_INVALID_PARAM;
    }
    if (pos < f->dataStart) pos = f->dataStart;
    if (f->packetSize > 0) pos = f->dataStart + (pos - f->dataStart) / f->packetSize * f->packetSize;
    if (f->fileSize > 0 && pos >= f->fileSize) {
        pos = f->fileSize;
        if (f->packetSize > 0 && pos > f->dataStart)
            pos = f->dataStart + (pos - f->dataStart - 1) / f->packetSize * f->packetSize;
    }
    if (pos > 0x7FFFFFFF) return ERR_NOT_SUPPORTED;
    if (in->inputSeek(in, static_cast<int>(pos), 0) != 0) return ERR_NOT_SUPPORTED;
    Format_AfterSeek(f);
    return 0;
}

int Format_SeekForce(void* format, int, int) {
    auto* f = static_cast<Format*>(format);
    FormatReaderInput* in = &f->input[0];
    Stream* s = in->inputStream;
    if (!s) return ERR_INVALID_PARAM;
    Format_InputFlush(in);
    // The server answers the new request afresh: nothing kept of the old answer stands for it.
    if (core::StreamRestart(s) != 0) return ERR_READ;
    in->inputPosition = 0;
    in->readError = 0;
    return 0;
}

void Format_WaveFormat(void*, PacketFormat* out, const void* data, int length) {
    if (!out || !data || length < 14) return;
    auto* b = static_cast<const uint8_t*>(data);
    auto u16 = [&](int at) { return at + 2 <= length ? b[at] | (b[at + 1] << 8) : 0; };
    auto u32 = [&](int at) {
        return at + 4 <= length ? static_cast<int>(static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
                                                   (static_cast<uint32_t>(b[at + 2]) << 16) |
                                                   (static_cast<uint32_t>(b[at + 3]) << 24))
                                : 0;
    };
    out->kind = PACKET_AUDIO;
    out->formatTag = u16(0);
    out->channels = u16(2);
    out->sampleRate = u32(4);
    out->byteRate = u32(8);
    out->blockAlign = u16(12);
    out->bits = u16(14);
    int extra = length >= 18 ? u16(16) : 0;
    if (extra > length - 18) extra = length - 18;
    if (extra > 0 && PacketFormatExtra(out, extra)) std::memcpy(out->extra, b + 18, static_cast<size_t>(extra));
}

void PacketFormatClear(PacketFormat* format) {
    if (!format) return;
    std::free(format->extra);
    std::memset(format, 0, sizeof(*format));
}

namespace {
int ClampToInt(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int>(v);
}
}  // namespace

void PacketFormatDefault(PacketFormat* format) {
    if (!format) return;
    if (format->kind == PACKET_AUDIO) {
        if (format->blockAlign == 0 && format->channels > 0) {
            int64_t bytes = format->bits > 0 ? (static_cast<int64_t>(format->bits) + 7) / 8 : 1;
            format->blockAlign = ClampToInt(format->channels * bytes);
        }
        bool pcmLike = format->formatTag == 1 || format->formatTag == 6 || format->formatTag == 7;
        // Readers pass what a file says: keep the product from overflowing.
        if (format->byteRate == 0 && pcmLike && format->sampleRate > 0)
            format->byteRate = ClampToInt(static_cast<int64_t>(format->sampleRate) * format->blockAlign);
    } else if (format->kind == PACKET_VIDEO) {
        if (format->aspect == 0) format->aspect = 0x10000;
    }
}

bool PacketFormatExtra(PacketFormat* format, int length) {
    if (!format || length < 0) return false;
    std::free(format->extra);
    format->extra = nullptr;
    format->extraLength = 0;
    if (length == 0) return false;
    format->extra = static_cast<uint8_t*>(std::calloc(1, static_cast<size_t>(length)));
    if (!format->extra) return false;
    format->extraLength = length;
    return true;
}
