// ASF reader: header objects, data packets with their payloads (compressed payloads,
// replicated data), media objects put together from fragments, Audio Spread
// descrambling, and comments from the description and marker objects. The RASH variant
// reads the same data out of the chunks of an MMS-over-HTTP body and selects streams by
// sending a Pragma header through the HTTP stream.
#include "asf.h"

#include <cstdint>
#include <cstring>
#include <random>

#include "plugin/frame.h"

namespace {

enum { SeekSet = 0 };
enum { ChunkHeader = 0x4824, ChunkData = 0x4424, ChunkEnd = 0x4524 };
enum { MaxSearch = 32768, BroadcastMaxPacket = 4194304 };
const int kMaxFormatData = 65535;  // format data sizes are 16-bit

// Results of the packet parser's steps besides the plugin codes.
enum { Nothing = 1, Delivered = 2 };

// Little-endian GUID texts as the ASF documents write them.
const char* const kGuidTexts[AsfGuidCount] = {
    "75B22630-668E-11CF-A6D9-00AA0062CE6C",  // Header Object
    "8CABDCA1-A947-11CF-8EE4-00C00C205365",  // File Properties Object
    "B7DC0791-A9B7-11CF-8EE6-00C00C205365",  // Stream Properties Object
    "F8699E40-5B4D-11CF-A8FD-00805F5C442B",  // Audio Media
    "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B",  // Video Media
    "75B22633-668E-11CF-A6D9-00AA0062CE6C",  // Content Description Object
    "86D15240-311D-11D0-A3A4-00A0C90348F6",  // Codec List Object
    "75B22636-668E-11CF-A6D9-00AA0062CE6C",  // Data Object
    "33000890-E5B1-11CF-89F4-00A0C90349CB",  // Simple Index Object
    "5FBF03B5-A92E-11CF-8EE3-00C00C205365",  // Header Extension Object
    "ABD3D211-A9BA-11CF-8EE6-00C00C205365",  // the header extension's reserved GUID
    "20FB5700-5B55-11CF-A8FD-00805F5C442B",  // No Error Correction
    "BFC3CD50-618F-11CF-8BB2-00AA00B4E220",  // Audio Spread
    "D2D0A440-E307-11D2-97F0-00A0C95EA850",  // Extended Content Description Object
    "F487CD01-A951-11CF-8EE6-00C00C205365",  // Marker Object
    "7BF875CE-468D-11D1-8D82-006097C9A2B2",  // Stream Bitrate Properties Object
    "14E6A5CB-C672-4332-8399-A96952065B5A",  // Extended Stream Properties Object
};

void ParseGuid(const char* text, AsfGuid* out) {
    uint8_t b[16];
    int n = 0;
    for (const char* p = text; *p && n < 32; ++p) {
        int v = Hex(*p);
        if (v < 0) continue;
        if (n % 2 == 0)
            b[n / 2] = static_cast<uint8_t>(v << 4);
        else
            b[n / 2] |= static_cast<uint8_t>(v);
        ++n;
    }
    // The first three groups are stored little-endian.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out->bytes[i] = b[order[i]];
}

AsfReader* ReaderOf(void* self) { return static_cast<AsfReader*>(self); }

int ClampInt(int64_t v) {
    return static_cast<int>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}

// An object's time in ticks from its presentation time and its stream's offset (ms).
int ObjectTicks(int presentationMs, int offsetMs) {
    int t = MulDiv(ClampInt(static_cast<int64_t>(presentationMs) + offsetMs), TICKSPERSEC, 1000);
    return t > 0 ? t : 0;
}

bool IsGuid(const AsfReader* r, const uint8_t* g, int which) {
    return std::memcmp(g, r->guids[which].bytes, 16) == 0;
}

// The input the packets come from: the chunk bodies for RASH.
FormatReaderInput* Source(AsfReader* r) { return r->rash.isRash ? &r->rash.virtualInput : &r->base.input[0]; }

// Goes forward to an offset; false when it lies behind or past the end.
bool SkipTo(FormatReaderInput* in, int64_t end) {
    if (end < in->inputPosition || end > 0x7FFFFFFF) return false;
    if (end == in->inputPosition) return true;
    return in->inputSkip(in, static_cast<int>(end - in->inputPosition)) == 0 && in->inputPosition == end;
}

int ReadByType(FormatReaderInput* in, int type, int none) {
    switch (type & 3) {
        case 1: return in->inputRead8(in) & 0xFF;
        case 2: return in->inputRead16LE(in);
        case 3: return static_cast<int>(in->inputRead32LE(in));
        default: return none;
    }
}

AsfStream* FindStream(AsfReader* r, int number) {
    for (int i = 0; i < r->base.streamCount; ++i) {
        AsfStream* s = reinterpret_cast<AsfStream*>(r->base.streams[i]);
        if (s->streamNumber == number) return s;
    }
    return nullptr;
}

void DropCollection(AsfCollection* c) {
    Format_ReleaseRef(c->chain);
    std::memset(c, 0, sizeof(*c));
}

// --- comments ---

const int kCommentChars = 256;

void Deliver(AsfReader* r, const tchar* text) {
    Node* sink = static_cast<Node*>(r->base.comment.node);
    if (sink && sink->setParam) sink->setParam(sink, r->base.comment.param, text, kCommentChars * sizeof(tchar));
}

// Reads `bytes` of UTF-16LE text and appends it to out (cut to the capacity); the
// input moves over all of it.
void ReadUtf16(FormatReaderInput* in, int bytes, tchar* out, int capacity) {
    int at = static_cast<int>(tcslen(out));
    uint8_t buf[512];
    int pendingHigh = 0;
    while (bytes > 1) {
        int n = bytes < static_cast<int>(sizeof(buf)) ? bytes & ~1 : static_cast<int>(sizeof(buf));
        int got = in->inputRead(in, buf, n);
        if (got < n) bytes = 0;
        else bytes -= n;
        for (int i = 0; i + 1 < got; i += 2) {
            int u = buf[i] | (buf[i + 1] << 8);
            if (u == 0) {
                at = capacity;  // the terminator ends the text; the rest is read over
                continue;
            }
            int c = u;
            if (u >= 0xD800 && u < 0xDC00) {
                pendingHigh = u;
                continue;
            }
            if (u >= 0xDC00 && u < 0xE000) {
                if (!pendingHigh) continue;
                c = 0x10000 + ((pendingHigh - 0xD800) << 10) + (u - 0xDC00);
            }
            pendingHigh = 0;
            if (at < capacity - 1) {
                out[at++] = static_cast<tchar>(c);
                out[at] = 0;
            }
        }
    }
    if (bytes > 0) in->inputSkip(in, bytes);
}

void DeliverText(AsfReader* r, const tchar* key, FormatReaderInput* in, int bytes) {
    tchar text[kCommentChars];
    tcscpy_s(text, kCommentChars, key);
    size_t keyLength = tcslen(text);
    ReadUtf16(in, bytes, text, kCommentChars);
    if (tcslen(text) > keyLength) Deliver(r, text);
}

void ReadContentDescription(AsfReader* r, FormatReaderInput* in) {
    static const tchar* const keys[5] = {L"TITLE=", L"AUTHOR=", L"COPYRIGHT=", L"COMMENT=", L"RATING="};
    int lengths[5];
    for (int& l : lengths) l = in->inputRead16LE(in);
    for (int i = 0; i < 5; ++i) DeliverText(r, keys[i], in, lengths[i]);
}

void ReadExtendedContent(AsfReader* r, FormatReaderInput* in, int64_t end) {
    int count = in->inputRead16LE(in);
    for (int i = 0; i < count && in->inputPosition < end && !in->atEnd; ++i) {
        tchar text[kCommentChars] = {0};
        ReadUtf16(in, in->inputRead16LE(in), text, kCommentChars);
        int type = in->inputRead16LE(in);
        int length = in->inputRead16LE(in);
        if (type != 0) {
            in->inputSkip(in, length);
            continue;
        }
        tcsupr(text);
        tcscat_s(text, kCommentChars, L"=");
        size_t keyLength = tcslen(text);
        ReadUtf16(in, length, text, kCommentChars);
        if (tcslen(text) > keyLength) Deliver(r, text);
    }
}

void ReadMarkers(AsfReader* r, FormatReaderInput* in, int64_t end) {
    in->inputSkip(in, 16);
    uint32_t count = in->inputRead32LE(in);
    in->inputSkip(in, 2);
    in->inputSkip(in, in->inputRead16LE(in));  // the name of the marker list
    for (uint32_t n = 1; n <= count && in->inputPosition < end && !in->atEnd; ++n) {
        in->inputSkip(in, 8);
        // Marker times count the preroll, as presentation times do; chapters start at 0.
        uint64_t stamp = in->inputRead64LE(in);
        int64_t time = stamp > (1ull << 62) ? (1ll << 62) : static_cast<int64_t>(stamp);
        time -= static_cast<int64_t>(r->preroll) * 10000;
        if (time < 0) time = 0;
        in->inputRead16LE(in);  // entry length
        in->inputSkip(in, 8);
        uint32_t chars = in->inputRead32LE(in);
        tchar text[kCommentChars];
        stprintf_s(text, kCommentChars, L"CHAPTER%02dNAME=", static_cast<int>(n));
        int64_t bytes = static_cast<int64_t>(chars) * 2;
        if (bytes > end - in->inputPosition) bytes = end - in->inputPosition;
        ReadUtf16(in, static_cast<int>(bytes), text, kCommentChars);
        Deliver(r, text);
        BuildChapter(text, kCommentChars, static_cast<int>(n), time, 10000);
        Deliver(r, text);
    }
}

// --- header objects ---

void GiveByteRate(AsfReader* r, AsfStream* s) {
    if (s->base.format.byteRate > 0) return;
    AsfBitrate* b = ARRAYBEGIN(r->bitrates, AsfBitrate);
    AsfBitrate* e = ARRAYEND(r->bitrates, AsfBitrate);
    for (; b < e; ++b)
        if (b->streamNumber == s->streamNumber) {
            s->base.format.byteRate = b->bitrate / 8;
            return;
        }
}

int ReadFileProperties(AsfReader* r, FormatReaderInput* in) {
    in->inputSkip(in, 32);
    r->packetCount = static_cast<int64_t>(in->inputRead64LE(in));
    r->playDuration = static_cast<int64_t>(in->inputRead64LE(in));
    in->inputSkip(in, 8);
    r->preroll = static_cast<int>(static_cast<uint32_t>(in->inputRead64LE(in)));
    r->fileFlags = in->inputRead32LE(in);
    r->minPacket = in->inputRead32LE(in);
    r->maxPacket = in->inputRead32LE(in);
    uint32_t maxBitrate = in->inputRead32LE(in);
    if (static_cast<int>(maxBitrate) > 0) r->base.byteRate = static_cast<int>(maxBitrate / 8);
    if (r->fileFlags & 1) {
        r->live = 1;
        r->base.duration = -1;
        if (static_cast<int>(r->minPacket) < 1) r->minPacket = 0;
        if (static_cast<int>(r->maxPacket) < 1) r->maxPacket = BroadcastMaxPacket;
    } else {
        // Kept within what the tick count can hold.
        const int64_t longest = static_cast<int64_t>(0x7FFFFFFF) * 10000000 / TICKSPERSEC;
        int64_t d = r->playDuration < 0 || r->playDuration > longest * 2 ? longest * 2 : r->playDuration;
        d -= static_cast<int64_t>(r->preroll) * 10000;
        if (d < 0) d = 0;
        if (d > longest) d = longest;
        r->base.duration = static_cast<int>(d * TICKSPERSEC / 10000000);
    }
    // Packets larger than this are not believed (and every length is kept in an int).
    if (r->maxPacket > BroadcastMaxPacket) r->maxPacket = BroadcastMaxPacket;
    if (r->minPacket > r->maxPacket) r->minPacket = r->maxPacket;
    r->liveSaved = r->live;
    return ERR_NONE;
}

int ReadStreamProperties(AsfReader* r, FormatReaderInput* in, int64_t end) {
    uint8_t type[16], ec[16];
    in->inputRead(in, type, 16);
    in->inputRead(in, ec, 16);
    int64_t offsetMs = static_cast<int64_t>(in->inputRead64LE(in)) / 10000;
    uint32_t typeLength = in->inputRead32LE(in);
    uint32_t ecLength = in->inputRead32LE(in);
    int number = in->inputRead16LE(in) & 0x7F;
    in->inputSkip(in, 4);
    if (in->atEnd) return ERR_INVALID_DATA;
    bool video = IsGuid(r, type, AsfVideoMedia), audio = IsGuid(r, type, AsfAudioMedia);
    // Streams of other kinds (commands, files) are not read: their payloads are skipped.
    if (FindStream(r, number) || (!video && !audio)) return ERR_NONE;
    if (typeLength > end - in->inputPosition) return ERR_INVALID_DATA;
    AsfStream* s = reinterpret_cast<AsfStream*>(Format_AddStream(r, sizeof(AsfStream)));
    if (!s) return ERR_OUT_OF_MEMORY;
    s->streamNumber = number;
    s->timeOffset = ClampInt(offsetMs - r->preroll);
    PacketFormat* f = &s->base.format;
    int typeStart = in->inputPosition;
    if (video) {
        f->kind = PACKET_VIDEO;
        in->inputSkip(in, 9);
        int formatSize = in->inputRead16LE(in);
        if (formatSize <= 40 && typeLength > 51) formatSize = static_cast<int>(typeLength) - 11;
        in->inputSkip(in, 4);
        f->width = static_cast<int>(in->inputRead32LE(in));
        f->height = static_cast<int>(in->inputRead32LE(in));
        in->inputSkip(in, 2);
        f->bitCount = in->inputRead16LE(in);
        f->fourcc = in->inputRead32LE(in);
        f->aspect = 0x10000;
        in->inputSkip(in, 20);
        // The codec data lies within the type data: a larger size is not believed.
        int64_t extra = formatSize - 40;
        int64_t left = typeStart + static_cast<int64_t>(typeLength) - in->inputPosition;
        if (extra > left) extra = left;
        if (extra > kMaxFormatData) extra = kMaxFormatData;
        if (extra > 0 && PacketFormatExtra(f, static_cast<int>(extra)) &&
            in->inputRead(in, f->extra, static_cast<int>(extra)) < extra)
            return ERR_INVALID_DATA;
    } else {
        // A wave format is 18 bytes and at most 65535 of codec data.
        int take = typeLength < 18u + kMaxFormatData ? static_cast<int>(typeLength) : 18 + kMaxFormatData;
        uint8_t* data = static_cast<uint8_t*>(malloc_win32(take > 0 ? static_cast<size_t>(take) : 1));
        if (!data) return ERR_OUT_OF_MEMORY;
        int got = in->inputRead(in, data, take);
        Format_WaveFormat(r, f, data, got);
        free_win32(data);
        if (got < take || !SkipTo(in, static_cast<int64_t>(typeStart) + typeLength)) return ERR_INVALID_DATA;
        f->kind = PACKET_AUDIO;
        if (IsGuid(r, ec, AsfAudioSpread) && ecLength >= 7) {
            s->span = in->inputRead8(in) & 0xFF;
            s->virtualPacket = in->inputRead16LE(in);
            s->virtualChunk = in->inputRead16LE(in);
            in->inputSkip(in, in->inputRead16LE(in));  // silence data
            if (s->virtualChunk == 0 || s->virtualPacket / s->virtualChunk <= 1) s->span = 0;
        }
    }
    GiveByteRate(r, s);
    Format_PrepairStream(r, &s->base);
    return ERR_NONE;
}

int ReadBitrates(AsfReader* r, FormatReaderInput* in, int64_t end) {
    int count = in->inputRead16LE(in);
    // No more entries than the object holds; room for them all at once.
    int64_t fits = (end - in->inputPosition) / 6;
    if (count > fits) count = static_cast<int>(fits > 0 ? fits : 0);
    if (!ArrayAlloc(&r->bitrates, ArraySize(&r->bitrates) + static_cast<size_t>(count) * sizeof(AsfBitrate), 1024))
        return ERR_OUT_OF_MEMORY;
    for (int i = 0; i < count && !in->atEnd; ++i) {
        AsfBitrate b;
        b.streamNumber = in->inputRead16LE(in) & 0x7F;
        b.bitrate = static_cast<int>(in->inputRead32LE(in));
        if (!ArrayAppend(&r->bitrates, &b, sizeof(b), 1024)) return ERR_OUT_OF_MEMORY;
        AsfStream* s = FindStream(r, b.streamNumber);
        if (s) GiveByteRate(r, s);
    }
    return ERR_NONE;
}

int ReadExtendedStream(AsfReader* r, FormatReaderInput* in, int64_t end) {
    in->inputSkip(in, 8 + 8 + 12 + 12 + 8 + 2 + 10);
    int names = in->inputRead16LE(in);
    int systems = in->inputRead16LE(in);
    for (int i = 0; i < names && !in->atEnd; ++i) {
        in->inputSkip(in, 2);
        in->inputSkip(in, in->inputRead16LE(in));
    }
    for (int i = 0; i < systems && !in->atEnd; ++i) {
        in->inputSkip(in, 18);
        in->inputSkip(in, static_cast<int>(in->inputRead32LE(in) & 0x7FFFFFFF));
    }
    if (in->inputPosition + 24 > end) return ERR_NONE;
    uint8_t g[16];
    in->inputRead(in, g, 16);
    uint64_t size = in->inputRead64LE(in);
    if (size < 24) return ERR_INVALID_DATA;
    if (!IsGuid(r, g, AsfStreamProperties)) return ERR_NONE;
    int64_t objectEnd = in->inputPosition - 24 + static_cast<int64_t>(size > (1ull << 40) ? (1ull << 40) : size);
    return ReadStreamProperties(r, in, objectEnd < end ? objectEnd : end);
}

int ReadHeaderExtension(AsfReader* r, FormatReaderInput* in, int64_t end) {
    uint8_t g[16];
    in->inputRead(in, g, 16);
    if (!IsGuid(r, g, AsfHeaderExtensionReserved)) return ERR_NONE;
    in->inputSkip(in, 2);
    int64_t dataEnd = in->inputPosition + 4 + static_cast<int64_t>(in->inputRead32LE(in));
    if (dataEnd > end) dataEnd = end;
    while (in->inputPosition + 24 <= dataEnd) {
        int64_t start = in->inputPosition;
        in->inputRead(in, g, 16);
        uint64_t size = in->inputRead64LE(in);
        if (size < 24 || in->atEnd) return ERR_INVALID_DATA;
        int64_t objectEnd = start + static_cast<int64_t>(size > (1ull << 40) ? (1ull << 40) : size);
        if (objectEnd > dataEnd) objectEnd = dataEnd;
        if (IsGuid(r, g, AsfExtendedStreamProperties)) {
            int result = ReadExtendedStream(r, in, objectEnd);
            if (result != ERR_NONE) return result;
        }
        if (!SkipTo(in, objectEnd)) return ERR_INVALID_DATA;
    }
    return ERR_NONE;
}

int ReadHeader(AsfReader* r, FormatReaderInput* in) {
    uint8_t g[16];
    if (in->inputRead(in, g, 16) < 16 || !IsGuid(r, g, AsfHeaderObject)) return ERR_INVALID_DATA;
    in->inputSkip(in, 14);
    ArrayDrop(&r->bitrates);
    bool comments = r->base.comment.node != nullptr;
    for (;;) {
        int64_t start = in->inputPosition;
        if (in->inputRead(in, g, 16) < 16) return ERR_INVALID_DATA;
        uint64_t size = in->inputRead64LE(in);
        if (in->atEnd || size < 24) return ERR_INVALID_DATA;
        // Beyond what an input position can reach: the skip to the end fails.
        int64_t end = start + static_cast<int64_t>(size > (1ull << 40) ? (1ull << 40) : size);
        if (IsGuid(r, g, AsfDataObject)) {
            in->inputSkip(in, 26);
            if (in->atEnd) return ERR_INVALID_DATA;
            // A header that declares no stream leaves nothing to play.
            return r->base.streamCount > 0 ? ERR_NONE : ERR_NOT_SUPPORTED;
        }
        int result = ERR_NONE;
        if (IsGuid(r, g, AsfFileProperties))
            result = ReadFileProperties(r, in);
        else if (IsGuid(r, g, AsfStreamProperties))
            result = ReadStreamProperties(r, in, end);
        else if (IsGuid(r, g, AsfHeaderExtension))
            result = ReadHeaderExtension(r, in, end);
        else if (IsGuid(r, g, AsfStreamBitrateProperties))
            result = ReadBitrates(r, in, end);
        else if (comments && IsGuid(r, g, AsfContentDescription))
            ReadContentDescription(r, in);
        else if (comments && IsGuid(r, g, AsfExtendedContentDescription))
            ReadExtendedContent(r, in, end);
        else if (comments && IsGuid(r, g, AsfMarkerObject))
            ReadMarkers(r, in, end);
        if (result != ERR_NONE) return result;
        if (!SkipTo(in, end)) return ERR_INVALID_DATA;
    }
}

void ResetParser(AsfReader* r) {
    AsfParser* p = &r->parser;
    p->payloadsLeft = 0;
    p->payloadEnd = -1;
    p->nextPacket = -1;
    p->currentStream = 0;
    p->compressed = 0;
}

// --- data packets ---

// The bytes the RASH input still holds of its current chunk.
int HeldBytes(AsfReader* r) {
    FormatReaderInput* v = &r->rash.virtualInput;
    return v->bufferLength - v->bufferPos + r->rash.chunkLeft;
}

// Reads a packet header: 0, Nothing (garbage: go on searching), or ERR_END_OF_FILE.
int ReadPacketHeader(AsfReader* r, FormatReaderInput* in) {
    AsfParser* p = &r->parser;
    int start = in->inputPosition;
    bool fixed = r->minPacket == r->maxPacket && r->maxPacket > 0;
    p->nextPacket = fixed ? start + static_cast<int>(r->maxPacket) : -1;
    int b = in->inputRead8(in);
    if (b < 0) return ERR_END_OF_FILE;
    int lengthType = b;
    if (b & 0x80) {
        if (b != 0x82 && b != 0x90) {
            p->nextPacket = -1;  // the search goes on at the next byte
            return Nothing;
        }
        in->inputSkip(in, b & 15);
        lengthType = in->inputRead8(in);
        if (lengthType < 0) return ERR_END_OF_FILE;
    }
    p->multiplePayloads = lengthType & 1;
    p->propertyFlags = in->inputRead8(in) & 0xFF;
    int64_t length = static_cast<uint32_t>(ReadByType(in, lengthType >> 5, static_cast<int>(r->maxPacket)));
    ReadByType(in, lengthType >> 1, 0);  // sequence
    int64_t padding = static_cast<uint32_t>(ReadByType(in, lengthType >> 3, 0));
    if (length <= 7 || length > r->maxPacket || padding >= r->maxPacket) return Nothing;
    uint32_t sendTime = in->inputRead32LE(in);
    if (p->pendingTime >= 0 && !r->live) {
        int sent = MulDiv(static_cast<int>(sendTime), TICKSPERSEC, 1000);
        r->base.timeBase = ClampInt(static_cast<int64_t>(p->pendingTime) - sent);
        p->pendingTime = -1;
    }
    in->inputSkip(in, 2);  // duration
    if (p->multiplePayloads) {
        int m = in->inputRead8(in) & 0xFF;
        p->payloadsLeft = m & 63;
        p->propertyFlags = (p->propertyFlags & 0xFF) | ((m >> 6) << 14);
    } else {
        p->payloadsLeft = 1;
    }
    if (in->atEnd) return ERR_END_OF_FILE;
    if (length < r->minPacket) padding += r->minPacket - length;
    int64_t payloadsEnd = start + length - padding;
    if (payloadsEnd < in->inputPosition) {
        p->payloadsLeft = 0;
        return Nothing;
    }
    p->packetEnd = static_cast<int>(payloadsEnd);
    int64_t next = payloadsEnd + padding;
    // Servers may leave the padding of a chunk's last packet out.
    if (r->rash.isRash && next > in->inputPosition + HeldBytes(r)) next = in->inputPosition + HeldBytes(r);
    if (next > 0x7FFFFFFF) next = 0x7FFFFFFF;
    p->nextPacket = static_cast<int>(next);
    p->padding = static_cast<int>(padding);
    return ERR_NONE;
}

void AbandonPacket(AsfParser* p) {
    p->payloadsLeft = 0;
    p->payloadEnd = -1;
    p->compressed = 0;
}

// Reads a payload header: 0 with the payload ready, Nothing when it is skipped.
int ReadPayloadHeader(AsfReader* r, FormatReaderInput* in) {
    AsfParser* p = &r->parser;
    --p->payloadsLeft;
    int sb = in->inputRead8(in);
    if (sb < 0) return ERR_END_OF_FILE;
    int number = sb & 0x7F;
    p->keyBit = sb >> 7;
    int pf = p->propertyFlags;
    ReadByType(in, pf >> 4, 0);  // media object number
    uint32_t offset = static_cast<uint32_t>(ReadByType(in, pf >> 2, 0));
    uint32_t replicated = static_cast<uint32_t>(ReadByType(in, pf, 0));
    AsfStream* s = FindStream(r, number);
    p->compressed = 0;
    bool timed = false;
    int objectSize = 0;
    if (replicated == 1) {
        p->compressed = 1;
        p->presentationTime = static_cast<int>(offset);
        p->nextSubTime = p->presentationTime;
        p->subTimeDelta = in->inputRead8(in) & 0xFF;
        p->objectOffset = 0;
        timed = true;
    } else {
        p->objectOffset = static_cast<int>(offset & 0x7FFFFFFF);
        if (replicated >= 2 && replicated <= 7) {
            AbandonPacket(p);
            return Nothing;
        }
        if (replicated >= 8 && s) {
            objectSize = static_cast<int>(in->inputRead32LE(in) & 0x7FFFFFFF);
            p->presentationTime = static_cast<int>(in->inputRead32LE(in));
            in->inputSkip(in, static_cast<int>(replicated - 8));
            timed = true;
        } else {
            in->inputSkip(in, static_cast<int>(replicated & 0x7FFFFFFF));
        }
    }
    if (in->atEnd) return ERR_END_OF_FILE;
    if (timed && r->live) {
        for (int i = 0; i < r->base.streamCount; ++i)
            reinterpret_cast<AsfStream*>(r->base.streams[i])->timeOffset =
                ClampInt(-static_cast<int64_t>(p->presentationTime));
        r->live = 0;
    }
    if (p->multiplePayloads) {
        int64_t length = static_cast<uint32_t>(ReadByType(in, pf >> 14, 0));
        int64_t end = in->inputPosition + length;
        if (end > p->packetEnd) {
            AbandonPacket(p);
            return Nothing;
        }
        p->payloadEnd = static_cast<int>(end);
    } else {
        p->payloadEnd = p->packetEnd;
    }
    if (!s || (!timed && !p->compressed)) {
        // Undeclared streams, and payloads without the object's size and time.
        SkipTo(in, p->payloadEnd);
        p->payloadEnd = -1;
        p->compressed = 0;
        return Nothing;
    }
    p->currentStream = number;
    if (!p->compressed) {
        AsfCollection* c = &s->collection;
        if (c->collected != p->objectOffset) DropCollection(c);
        if (c->collected == 0 && p->objectOffset == 0) {
            c->objectSize = objectSize;
            c->objectTime = ObjectTicks(p->presentationTime, s->timeOffset);
        }
    }
    return ERR_NONE;
}

// Cuts an object into virtualChunk pieces and puts them back in their order: the
// object is `span` rows of pieces sent column by column.
BlockRef* Descramble(AsfStream* s, BlockRef* chain, int size) {
    int chunk = s->virtualChunk;
    int pieces = size / chunk;
    int rows = pieces / s->span;
    if (rows < 1 || pieces * chunk != size || rows * s->span != pieces) return chain;
    BlockRef* head = nullptr;
    BlockRef* tail = nullptr;
    for (int i = 0; i < pieces; ++i) {
        int from = (i % s->span) * rows + i / s->span;
        BlockRef* piece = Format_DupRef(chain, from * chunk, chunk);
        if (!piece) {
            Format_ReleaseRef(head);
            Format_ReleaseRef(chain);
            return nullptr;
        }
        if (tail)
            tail->next = piece;
        else
            head = piece;
        for (tail = piece; tail->next; tail = tail->next) {
        }
    }
    Format_ReleaseRef(chain);
    return head;
}

void Append(AsfCollection* c, BlockRef* ref) {
    if (c->chainEnd)
        c->chainEnd->next = ref;
    else
        c->chain = ref;
    for (c->chainEnd = ref; c->chainEnd->next; c->chainEnd = c->chainEnd->next) {
    }
}

int DeliverObject(AsfReader* r, AsfStream* s, Packet* packet) {
    AsfCollection* c = &s->collection;
    BlockRef* data = c->chain;
    if (s->span > 1) data = Descramble(s, data, c->collected);
    packet->data = data;
    packet->time = c->objectTime;
    packet->stream = &s->base;
    packet->key = r->parser.keyBit;
    std::memset(c, 0, sizeof(*c));
    return data ? Delivered : ERR_OUT_OF_MEMORY;
}

// Reads on in the current payload: Delivered, Nothing (the payload is done), or a code.
int ReadPayloadData(AsfReader* r, FormatReaderInput* in, Packet* packet) {
    AsfParser* p = &r->parser;
    AsfStream* s = FindStream(r, p->currentStream);
    if (!s) {
        SkipTo(in, p->payloadEnd);
        p->payloadEnd = -1;
        return Nothing;
    }
    AsfCollection* c = &s->collection;
    if (p->compressed) {
        while (in->inputPosition < p->payloadEnd) {
            int length = in->inputRead8(in);
            if (length < 0) return ERR_END_OF_FILE;
            int time = p->nextSubTime;
            p->nextSubTime = ClampInt(static_cast<int64_t>(p->nextSubTime) + p->subTimeDelta);
            if (length == 0) continue;
            if (in->inputPosition + length > p->payloadEnd) break;
            BlockRef* ref = in->inputReadBlock(in, length);
            if (!ref) return ERR_END_OF_FILE;
            DropCollection(c);
            Append(c, ref);
            c->collected = c->objectSize = length;
            c->objectTime = ObjectTicks(time, s->timeOffset);
            return DeliverObject(r, s, packet);
        }
        SkipTo(in, p->payloadEnd);
        p->payloadEnd = -1;
        p->compressed = 0;
        return Nothing;
    }
    int length = p->payloadEnd - in->inputPosition;
    p->payloadEnd = -1;
    // A fragment that does not continue what is collected, or that overruns the object's
    // size, is not used.
    if (c->collected != p->objectOffset || length > c->objectSize - c->collected) {
        DropCollection(c);
        in->inputSkip(in, length);
        return Nothing;
    }
    if (length > 0) {
        BlockRef* ref = in->inputReadBlock(in, length);
        if (!ref) return ERR_END_OF_FILE;
        Append(c, ref);
        c->collected += length;
    }
    if (c->collected == c->objectSize && c->objectSize > 0) return DeliverObject(r, s, packet);
    return Nothing;
}

int ReadPacket(void* self, FormatReaderInput*, Packet* packet) {
    AsfReader* r = ReaderOf(self);
    AsfParser* p = &r->parser;
    FormatReaderInput* in = Source(r);
    int start = in->inputPosition;
    for (;;) {
        if (in->inputPosition - start > MaxSearch) return ERR_NO_PACKET;
        int result;
        if (p->payloadEnd >= 0) {
            result = ReadPayloadData(r, in, packet);
        } else if (p->payloadsLeft > 0) {
            result = ReadPayloadHeader(r, in);
        } else {
            if (p->nextPacket >= 0 && p->nextPacket != in->inputPosition && !SkipTo(in, p->nextPacket)) {
                if (in->inputPosition > p->nextPacket) {
                    p->nextPacket = -1;  // a packet that ran over its length: search on from here
                    continue;
                }
                return ERR_END_OF_FILE;
            }
            result = ReadPacketHeader(r, in);
        }
        if (result == Delivered) return ERR_NONE;
        if (result < 0) return result;
    }
}

// --- slots ---

int OpenFile(void* self) {
    AsfReader* r = ReaderOf(self);
    FormatReaderInput* in = &r->base.input[0];
    int result = ReadHeader(r, in);
    if (result != ERR_NONE) return result;
    ResetParser(r);
    r->parser.pendingTime = -1;
    r->base.dataStart = in->inputPosition;
    if (r->minPacket == r->maxPacket) r->base.packetSize = static_cast<int>(r->maxPacket);
    r->base.timeSeek = 1;
    return ERR_NONE;
}

void ReleaseStream(void*, FormatStream* stream) {
    DropCollection(&reinterpret_cast<AsfStream*>(stream)->collection);
}

void CloseFile(void* self) {
    AsfReader* r = ReaderOf(self);
    ArrayClear(&r->bitrates);
    for (int i = 0; i < r->base.streamCount; ++i) {
        AsfStream* s = reinterpret_cast<AsfStream*>(r->base.streams[i]);
        DropCollection(&s->collection);
        DropCollection(&s->saved);
    }
}

int SeekFile(void* self, int time, int filePos, int preferEarlierKey) {
    return Format_SeekByPacket(self, time, filePos, preferEarlierKey);
}

void ResetAfterSeek(void* self) { ResetParser(ReaderOf(self)); }

void PacketState(void* self, int save) {
    AsfReader* r = ReaderOf(self);
    if (save) {
        r->savedParser = r->parser;
        ResetParser(r);
        for (int i = 0; i < r->base.streamCount; ++i) {
            AsfStream* s = reinterpret_cast<AsfStream*>(r->base.streams[i]);
            DropCollection(&s->saved);
            s->saved = s->collection;
            std::memset(&s->collection, 0, sizeof(s->collection));
        }
    } else {
        r->parser = r->savedParser;
        for (int i = 0; i < r->base.streamCount; ++i) {
            AsfStream* s = reinterpret_cast<AsfStream*>(r->base.streams[i]);
            DropCollection(&s->collection);
            s->collection = s->saved;
            std::memset(&s->saved, 0, sizeof(s->saved));
        }
    }
}

int CreateFile(void* self) {
    AsfReader* r = ReaderOf(self);
    for (int i = 0; i < AsfGuidCount; ++i) ParseGuid(kGuidTexts[i], &r->guids[i]);
    r->base.openFormat = OpenFile;
    r->base.closeFormat = CloseFile;
    r->base.seekFormat = SeekFile;
    r->base.readPacket = ReadPacket;
    r->base.releaseStream = ReleaseStream;
    r->base.resetAfterSeek = ResetAfterSeek;
    r->base.packetState = PacketState;
    return ERR_NONE;
}

// --- MMS over HTTP ---

// The fill of the virtual input: the bodies of the chunks of the expected type.
BlockRef* ChunkFill(FormatReaderInput* v, int wanted) {
    AsfReader* r = static_cast<AsfReader*>(v->user);
    FormatReaderInput* in = &r->base.input[0];
    RashState* h = &r->rash;
    for (;;) {
        if (h->chunkLeft > 0) {
            int n = wanted < h->chunkLeft ? wanted : h->chunkLeft;
            BlockRef* ref = in->inputReadBlock(in, n);
            if (!ref) return nullptr;
            h->chunkLeft -= n;
            return ref;
        }
        int type = in->inputRead16LE(in);
        int length = in->inputRead16LE(in);
        // Checked before the skip: a stream may seek past its end without failing.
        if (in->atEnd || in->inputSkip(in, 8) != 0 || in->atEnd) return nullptr;
        int body = length - 8;
        if ((type & ~0x80) == h->expectedChunk) {
            h->chunkLeft = body > 0 ? body : 0;
            continue;
        }
        if (body < 0) body = (type & ~0x80) == ChunkEnd ? length : 0;
        if (body > 0 && in->inputSkip(in, body) != 0) return nullptr;
    }
}

void ResetChunks(AsfReader* r) {
    Format_InputFlush(&r->rash.virtualInput);
    r->rash.chunkLeft = 0;
}

int SelectStreams(AsfReader* r, int time) {
    if (r->base.streamCount == 0) return ERR_NOT_SUPPORTED;
    Stream* s = r->base.input[0].inputStream;
    tchar pragma[512] = {0};
    if (!s || !s->node.getParam || s->node.getParam(s, HttpPragma, pragma, sizeof(pragma)) < 0 || !pragma[0])
        return ERR_NOT_SUPPORTED;
    r->parser.pendingTime = time;
    int selected = 0;
    for (int i = 0; i < r->base.streamCount; ++i) selected += r->base.streams[i]->selected ? 1 : 0;
    tchar text[1024];
    stprintf_s(text, 1024,
               L"Pragma: no-cache,rate=1.000000,stream-time=%d,stream-offset=4294967295:4294967295,"
               L"request-context=2,max-duration=0,xPlayStrm=1,"
               L"xClientGUID={3300AD50-2C39-46c0-AE0A-132C%08X},stream-switch-count=%d,stream-switch-entry=",
               MulDiv(time, 1000, TICKSPERSEC), r->rash.clientNumber, selected);
    bool first = true;
    for (int i = 0; i < r->base.streamCount; ++i) {
        AsfStream* a = reinterpret_cast<AsfStream*>(r->base.streams[i]);
        if (!a->base.selected) continue;
        stcatprintf_s(text, 1024, first ? L"ffff:%d:0" : L" ffff:%d:0", a->streamNumber);
        first = false;
    }
    tcscat_s(text, 1024, L"\n");
    if (!s->node.setParam || s->node.setParam(s, HttpExtraHeaders, text, sizeof(text)) < 0) return ERR_NOT_SUPPORTED;
    int result = Format_SeekForce(r, 0, 0);
    if (result == ERR_NONE) {
        r->live = r->liveSaved;
        ResetParser(r);
        ResetChunks(r);
        for (int i = 0; i < r->base.streamCount; ++i) ReleaseStream(r, r->base.streams[i]);
    }
    return result;
}

int OpenHttp(void* self) {
    AsfReader* r = ReaderOf(self);
    RashState* h = &r->rash;
    r->parser.pendingTime = 0;
    h->isRash = 1;
    h->virtualInput = r->base.input[0];
    FormatReaderInput* v = &h->virtualInput;
    // The copy reads only what its own fill gives.
    v->inputFill = ChunkFill;
    v->user = r;
    v->buffer = nullptr;
    v->bufferData = nullptr;
    v->bufferPos = v->bufferLength = 0;
    v->memoryMode = 0;
    v->atEnd = 0;
    v->inputPosition = 0;
    h->chunkLeft = 0;
    h->expectedChunk = ChunkHeader;
    int result = ReadHeader(r, v);
    if (result != ERR_NONE) return result;
    ResetParser(r);
    h->expectedChunk = ChunkData;
    r->minPacket = 0;
    h->clientNumber = static_cast<uint32_t>(std::random_device()());
    r->base.timeSeek = 1;
    r->base.fillSize = 4096;
    FormatReaderInput* in = &r->base.input[0];
    if (HeldBytes(r) == 0 && in->inputAtEnd(in)) return SelectStreams(r, 0);
    return ERR_NONE;
}

void CloseHttp(void* self) {
    AsfReader* r = ReaderOf(self);
    CloseFile(self);
    ResetChunks(r);
}

int SeekHttp(void* self, int time, int, int) {
    if (time < 0) return ERR_NOT_SUPPORTED;
    return SelectStreams(ReaderOf(self), time);
}

void ResetHttp(void* self) { ResetParser(ReaderOf(self)); }

int SetParamHttp(void* self, int id, const void* data, int size) {
    int result = FormatBaseSet(self, id, data, size);
    if (id == FormatStreamSelect && data && size == static_cast<int>(sizeof(int)))
        return SelectStreams(ReaderOf(self), *static_cast<const int*>(data));
    return result;
}

int CreateHttp(void* self) {
    AsfReader* r = ReaderOf(self);
    r->base.openFormat = OpenHttp;
    r->base.closeFormat = CloseHttp;
    r->base.seekFormat = SeekHttp;
    r->base.readPacket = ReadPacket;
    r->base.resetAfterSeek = ResetHttp;
    r->base.node.setParam = SetParamHttp;
    return ERR_NONE;
}

const NodeClassDef AsfClass = {sizeof(AsfReader), RASF_CLASS, FORMAT_CLASS, 999, CreateFile, nullptr};
const NodeClassDef RashClass = {0, RASH_CLASS, RASF_CLASS, 1000, CreateHttp, nullptr};

}  // namespace

void AsfRegister() {
    NodeRegisterClass(&AsfClass);
    NodeRegisterClass(&RashClass);
}

int AsfUnRegister() {
    NodeUnRegisterClass(RASF_CLASS);
    return NodeUnRegisterClass(RASH_CLASS);
}
