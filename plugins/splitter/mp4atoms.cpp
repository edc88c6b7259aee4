// MP4/QuickTime reader: the atom walk, codec mapping, tags, chapters and redirects.
#include <climits>
#include <cstring>

#include "mp4.h"
#include "plugin/frame.h"

namespace mp4 {
namespace {

using In = FormatReaderInput;

constexpr int kMaxDepth = 40;            // atoms nest a handful of levels in real files
constexpr int kMaxExtra = 1 << 20;       // codec extra data
constexpr uint32_t kMaxInflated = 64u << 20;
constexpr int kMaxInflateNesting = 2;

#define FCC(s) FOURCC((s)[0], (s)[1], (s)[2], (s)[3])

inline int Pos(In* in) { return in->inputPosition; }
inline int Remaining(In* in, int end) { return end > Pos(in) ? end - Pos(in) : 0; }
inline uint32_t R32(In* in) { return in->inputRead32BE(in); }
inline int R16(In* in) { return in->inputRead16BE(in) & 0xFFFF; }
inline int R8(In* in) { return in->inputRead8(in); }
inline void Skip(In* in, int n) { in->inputSkip(in, n); }
inline fourcc_t RFourCC(In* in)
{
    uint8_t b[4] = {0, 0, 0, 0};
    in->inputRead(in, b, 4);
    return FOURCC(b[0], b[1], b[2], b[3]);
}

void Walk(Mp4Reader* r, In* in, int end, fourcc_t parent);

// ---- comments ----

void Deliver(Mp4Reader* r, const tchar* text, int bytes)
{
    CommentSink* sink = r->currentTrack ? &r->currentTrack->base.comment : &r->base.comment;
    if (!sink->node)
        return;
    Node* node = static_cast<Node*>(sink->node);
    if (node->setParam)
        node->setParam(node, sink->param, text, bytes);
}

// Reads up to `max` bytes of text up to end and delivers key + text.
void DeliverText(Mp4Reader* r, In* in, int end, const tchar* key, int max)
{
    char raw[512];
    int n = Remaining(in, end);
    if (n > max)
        n = max;
    n = in->inputRead(in, raw, n);
    if (n < 0)
        n = 0;
    tchar text[512];
    tcscpy_s(text, 512, key);
    size_t used = tcslen(text);
    UTF8ToTcs(text + used, 512 - used, raw, n);
    Deliver(r, text, sizeof(text));
}

// ---- codecs ----

struct CodecRow {
    fourcc_t fourcc;
    int kind;
    int allKey;
    int chunkPackets;
    fourcc_t format;  // video/text FourCC, or audio tag
};

#define V(s) {FCC(s), PACKET_VIDEO, 0, 0, FCC(s)}
#define VK(s) {FCC(s), PACKET_VIDEO, 1, 0, FCC(s)}
#define MS(tag) {FOURCC('m', 's', 0, tag), PACKET_AUDIO, 0, 1, tag}, {FOURCC('m', 's', tag, 0), PACKET_AUDIO, 0, 1, tag}
const CodecRow kCodecs[] = {
    V("mp4v"), V("avc1"), V("cvid"), V("VP31"), V("DIVX"), V("3IV1"), V("3IV2"), V("SVQ1"),
    V("SVQ3"), V("h263"), V("s263"),
    VK("jpeg"), VK("tiff"), VK("mjpa"), VK("mjpb"),
    {FCC("png "), PACKET_VIDEO, 1, 0, FCC("PNG_")},
    {FCC("mp4a"), PACKET_AUDIO, 0, 0, 0xAAC0},
    {FCC(".mp3"), PACKET_AUDIO, 0, 1, 85}, MS(0x55), MS(0x02), MS(0x11),
    {FCC("ima4"), PACKET_AUDIO, 0, 1, 0x10011},
    {FCC("QDM2"), PACKET_AUDIO, 0, 1, 0x450},
    {FCC("alaw"), PACKET_AUDIO, 0, 1, 6},
    {FCC("ulaw"), PACKET_AUDIO, 0, 1, 7},
    {FCC("raw "), PACKET_AUDIO, 0, 1, 1},
    {FCC("NONE"), PACKET_AUDIO, 0, 1, 1},
    {FCC("twos"), PACKET_AUDIO, 0, 1, 1},
    {FCC("sowt"), PACKET_AUDIO, 0, 1, 1},
    {FCC("samr"), PACKET_AUDIO, 0, 0, 87},
    {FCC("sawb"), PACKET_AUDIO, 0, 0, 88},
    {FCC("text"), PACKET_TEXT, 0, 0, FCC("TEXT")},
    {FCC("tx3g"), PACKET_TEXT, 0, 0, FCC("TX3G")},
};
#undef V
#undef VK
#undef MS

const CodecRow* FindCodec(fourcc_t fourcc)
{
    for (const CodecRow& row : kCodecs)
        if (row.fourcc == fourcc)
            return &row;
    return nullptr;
}

// Built-in palettes (blue, green, red, 0 per entry) of 2, 4 and 8 bits.
void DefaultPalette(uint8_t* out, int bits)
{
    int n = 1 << bits;
    if (bits == 2) {
        static const uint8_t grey[4] = {255, 170, 85, 0};
        for (int i = 0; i < 4; ++i)
            out[i * 4] = out[i * 4 + 1] = out[i * 4 + 2] = grey[i];
        return;
    }
    if (bits == 4) {
        static const uint8_t rgb[16][3] = {
            {255, 255, 255}, {252, 243, 5}, {255, 100, 2}, {221, 8, 6}, {242, 8, 132}, {70, 0, 165},
            {0, 0, 212}, {2, 171, 234}, {31, 183, 20}, {0, 100, 17}, {86, 44, 5}, {144, 113, 58},
            {192, 192, 192}, {128, 128, 128}, {64, 64, 64}, {0, 0, 0}};
        for (int i = 0; i < 16; ++i) {
            out[i * 4] = rgb[i][2];
            out[i * 4 + 1] = rgb[i][1];
            out[i * 4 + 2] = rgb[i][0];
        }
        return;
    }
    // 8 bits: a 6 x 6 x 6 colour cube from white to black, then ramps of red, green,
    // blue and grey without the cube's levels.
    int i = 0;
    for (int r = 5; r >= 0; --r)
        for (int g = 5; g >= 0; --g)
            for (int b = 5; b >= 0; --b, ++i) {
                out[i * 4] = uint8_t(b * 51);
                out[i * 4 + 1] = uint8_t(g * 51);
                out[i * 4 + 2] = uint8_t(r * 51);
            }
    static const uint8_t ramp[10] = {238, 221, 187, 170, 136, 119, 85, 68, 34, 17};
    for (int channel = 0; channel < 4; ++channel)
        for (int k = 0; k < 10 && i < n; ++k, ++i) {
            uint8_t v = ramp[k];
            out[i * 4] = (channel == 2 || channel == 3) ? v : 0;
            out[i * 4 + 1] = (channel == 1 || channel == 3) ? v : 0;
            out[i * 4 + 2] = (channel == 0 || channel == 3) ? v : 0;
        }
}

void VideoEntry(Mp4Reader* r, Mp4Track* t, In* in, int end)
{
    PacketFormat* f = &t->base.format;
    Skip(in, 16);
    f->width = R16(in);
    f->height = R16(in);
    if (t->codec == FCC("mp4v"))
        f->width = f->height = 0;
    f->aspect = 0x10000;
    Skip(in, 46);
    int depth = R16(in);
    int ctab = R16(in);
    bool grey = depth > 32;  // 34, 36, 40: grey at 2, 4, 8 bits; 32 is colour
    int bits = grey ? depth - 32 : depth;
    f->bitCount = bits;
    if (bits == 2 || bits == 4 || bits == 8) {
        int n = 1 << bits;
        if (PacketFormatExtra(f, n * 4)) {
            uint8_t* pal = f->extra;
            if (grey) {
                for (int i = 0; i < n; ++i)
                    pal[i * 4] = pal[i * 4 + 1] = pal[i * 4 + 2] = uint8_t(255 - i * 255 / (n - 1));
            } else if (ctab & 8) {
                DefaultPalette(pal, bits);
            } else {
                int first = int(R32(in));
                Skip(in, 2);
                int last = R16(in);
                for (int i = first; i <= last && Remaining(in, end) >= 8; ++i) {
                    uint8_t e[8];
                    if (in->inputRead(in, e, 8) < 8)
                        break;  // the file ends first
                    if (i >= 0 && i < n) {
                        pal[i * 4] = e[6];
                        pal[i * 4 + 1] = e[4];
                        pal[i * 4 + 2] = e[2];
                    }
                }
            }
        }
    }
    Walk(r, in, end, FCC("stsd"));
}

void AudioEntry(Mp4Reader* r, Mp4Track* t, In* in, int end)
{
    PacketFormat* f = &t->base.format;
    fourcc_t c = t->codec;
    bool raw8 = c == FCC("raw ") || c == FCC("NONE");
    f->channels = 1;
    f->audioFlags = c == FCC("twos") ? 96 : 32;
    f->bits = 16;
    if (raw8) {
        f->audioFlags |= 0x40;
        f->bits = 8;
    }
    if (Remaining(in, end) >= 20) {
        int version = R16(in);
        Skip(in, 6);
        f->channels = R16(in);
        int bits = R16(in);
        // Values no sound description holds would only overflow what is derived from them.
        if (f->channels > 255)
            f->channels = 0;
        if (bits > 64)
            bits = 0;
        Skip(in, 4);
        f->sampleRate = R16(in);
        Skip(in, 2);
        if (bits > 0)
            f->bits = bits;
        int hint = 0;
        if (c == FCC("alaw") || c == FCC("ulaw"))
            hint = 8;
        else if (raw8 || c == FCC("twos") || c == FCC("sowt"))
            hint = bits;
        if (version == 1) {
            t->framesPerBlock = int(R32(in));
            Skip(in, 4);
            t->bytesPerBlock = int(R32(in));
            Skip(in, 4);
            if (f->formatTag == 2 || f->formatTag == 17)
                f->blockAlign = t->bytesPerBlock;
        } else if (hint) {
            t->framesPerBlock = 1;
            t->bytesPerBlock = hint * f->channels / 8;
        }
    }
    if (c == FCC("alaw") || c == FCC("ulaw"))
        f->bits = 8;
    if (c == FCC("ima4")) {
        t->framesPerBlock = 64;
        t->bytesPerBlock = 34 * f->channels;
    }
    if (t->framesPerBlock < 0 || t->framesPerBlock > (1 << 20) || t->bytesPerBlock < 0 || t->bytesPerBlock > (1 << 20))
        t->framesPerBlock = t->bytesPerBlock = 0;
    if (f->blockAlign < 0 || f->blockAlign > 32767)
        f->blockAlign = 0;
    if (c == FCC("samr") || c == FCC("sawb")) {
        f->sampleRate = c == FCC("samr") ? 8000 : 16000;
        f->bits = 16;
        f->channels = 1;
    }
    Walk(r, in, end, FCC("stsd"));
}

void RemoveCurrentTrack(Mp4Reader* r)
{
    Mp4Track* t = r->currentTrack;
    r->currentTrack = nullptr;
    Format_RemoveStream(r, &t->base);
}

void SampleDescriptions(Mp4Reader* r, In* in, int end)
{
    Mp4Track* t = r->currentTrack;
    if (!t)
        return;
    Skip(in, 4);
    uint32_t count = R32(in);
    int entry = Pos(in);
    uint32_t size = R32(in);
    fourcc_t first = RFourCC(in);
    if (count == 0 || size < 16)
        return;
    int entryEnd = size > uint32_t(end - entry) ? end : entry + int(size);
    Skip(in, 8);
    t->codec = first == FCC("AVDJ") ? FCC("jpeg") : first;
    if (const CodecRow* row = FindCodec(t->codec)) {
        PacketFormat* f = &t->base.format;
        t->hasFormat = 1;
        f->kind = row->kind;
        t->allKey = row->allKey;
        t->chunkPackets = row->chunkPackets;
        if (row->kind == PACKET_AUDIO)
            f->formatTag = int(row->format);
        else
            f->fourcc = row->format;
        if (row->kind == PACKET_VIDEO)
            VideoEntry(r, t, in, entryEnd);
        else if (row->kind == PACKET_AUDIO)
            AudioEntry(r, t, in, entryEnd);
        if (r->currentTrack != t)
            return;
    }
    // Later entries must name the same codec: a track that switches codecs is dropped.
    int at = entryEnd;
    for (uint32_t i = 1; i < count && at <= end - 8; ++i) {
        if (in->inputSeek(in, at, 0) < 0)
            break;
        uint32_t next = R32(in);
        fourcc_t fourcc = RFourCC(in);
        if (next < 8)
            break;
        if (fourcc != first) {
            RemoveCurrentTrack(r);
            if (!r->mixedShown) {
                r->mixedShown = 1;
                ShowError(MP4_CLASS, MP4_CLASS, 513);
            }
            return;
        }
        if (next > uint32_t(end - at))
            break;
        at += int(next);
    }
}

// MPEG-4 descriptor length: up to 4 bytes of 7 bits.
int DescriptorLength(In* in)
{
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        int b = R8(in);
        if (b < 0)
            break;
        n = (n << 7) | (b & 0x7F);
        if (!(b & 0x80))
            break;
    }
    return n;
}

void SetExtra(Mp4Track* t, In* in, int length)
{
    if (length <= 0 || length > kMaxExtra)
        return;
    PacketFormat* f = &t->base.format;
    if (!PacketFormatExtra(f, length))
        return;
    int got = in->inputRead(in, f->extra, length);
    f->extraLength = got > 0 ? got : 0;  // only what the file holds
}

void ElementaryStream(Mp4Reader* r, In* in, int end)
{
    Mp4Track* t = r->currentTrack;
    if (!t)
        return;
    PacketFormat* f = &t->base.format;
    Skip(in, 4);  // version and flags
    int tag = R8(in);
    DescriptorLength(in);
    Skip(in, tag == 3 ? 3 : 2);
    if (R8(in) != 4)
        return;
    DescriptorLength(in);
    int type = R8(in);
    Skip(in, 12);
    if (Pos(in) < end && R8(in) == 5) {
        int length = DescriptorLength(in);
        if (length > Remaining(in, end))
            length = Remaining(in, end);
        SetExtra(t, in, length);
    }
    if (f->kind == PACKET_VIDEO) {
        if (type == 32)
            f->fourcc = FCC("mp4v");
        else if ((type >= 96 && type <= 101) || type == 106)
            f->fourcc = FCC("mpeg");
        else if (type == 108) {
            f->fourcc = FCC("jpeg");
            t->allKey = 1;
        }
    } else if (f->kind == PACKET_AUDIO) {
        if (type == 64 || (type >= 102 && type <= 104))
            f->formatTag = 0xAAC0;
        else if (type == 105 || type == 107)
            f->formatTag = 85;
        else if (type == 225 && f->extraLength > 4 && memcmp(f->extra, "QLCM", 4) == 0)
            f->formatTag = 0xCC00;
    }
}

// ---- tags ----

void TagAtom(Mp4Reader* r, In* in, int end, const tchar* name)
{
    tcscpy_s(r->tagName, 32, name);
    int start = Pos(in);
    uint32_t size = R32(in);
    if (size > uint32_t(end - start)) {
        // The user-data text form: a 16-bit length and a language, then the text.
        in->inputSeek(in, start + 4, 0);
        DeliverText(r, in, end, r->tagName, 511);
        r->tagName[0] = 0;
        return;
    }
    in->inputSeek(in, start, 0);
    Walk(r, in, end, 0);
}

void DataAtom(Mp4Reader* r, In* in, int end)
{
    if (!r->tagName[0])
        return;
    uint32_t type = R32(in) & 0xFFFFFF;
    Skip(in, 4);
    tchar text[512];
    if (tcscmp(r->tagName, L"COVER=") == 0) {
        int at = Pos(in);
        stprintf_s(text, 512, L"%s:%d:%d:", r->tagName, at, Remaining(in, end));
        Deliver(r, text, sizeof(text));
    } else if (tcscmp(r->tagName, L"GENRE=") == 0 && type != 1) {
        const tchar* genre = ID3v1_Genre(R16(in) - 1);
        if (genre && genre[0]) {
            tcscpy_s(text, 512, r->tagName);
            tcscat_s(text, 512, genre);
            Deliver(r, text, sizeof(text));
        }
    } else {
        DeliverText(r, in, end, r->tagName, 511);
    }
}

void NameAtom(Mp4Reader* r, In* in, int end, fourcc_t parent)
{
    if (parent != FCC("----") || r->tagName[0])
        return;
    Skip(in, 4);  // version and flags
    char raw[511];
    int n = Remaining(in, end);
    if (n > 510)
        n = 510;
    n = in->inputRead(in, raw, n);
    raw[n > 0 ? n : 0] = 0;
    tchar name[32];
    UTF8ToTcs(name, 31, raw, n > 0 ? n : 0);
    tcscat_s(name, 32, L"=");
    tcscpy_s(r->tagName, 32, name);
}

void ChapterList(Mp4Reader* r, In* in, int end)
{
    R8(in);
    Skip(in, 4);
    uint32_t count = R32(in);
    for (uint32_t n = 1; n <= count && Remaining(in, end) >= 9; ++n) {
        int64_t time = int64_t(in->inputRead64BE(in));
        int length = R8(in);
        if (length < 0)
            break;
        tchar text[512];
        stprintf_s(text, 512, L"CHAPTER%02dNAME=", int(n));
        char raw[256];
        int got = in->inputRead(in, raw, length < Remaining(in, end) ? length : Remaining(in, end));
        size_t used = tcslen(text);
        UTF8ToTcs(text + used, 512 - used, raw, got > 0 ? got : 0);
        Deliver(r, text, sizeof(text));
        tchar when[32];
        BuildChapter(when, 32, int(n), time, 10000);
        Deliver(r, when, sizeof(when));
    }
}

void Redirect(Mp4Reader* r, In* in, int end)
{
    if (!r->redirectMode)
        return;
    if (R32(in) != 0)
        return;
    fourcc_t type = RFourCC(in);
    uint32_t length = R32(in);
    if (type != FCC("url "))
        return;
    int limit = Remaining(in, end);
    if (length < uint32_t(limit))
        limit = int(length);
    char raw[1024];
    if (limit > 1023)
        limit = 1023;
    int got = in->inputRead(in, raw, limit);
    tchar text[1100];
    tcscpy_s(text, 1100, L"REDIRECT=");
    UTF8ToTcs(text + 9, 1100 - 9, raw, got > 0 ? got : 0);
    Deliver(r, text, sizeof(text));
}

// ---- movie and track headers ----

void MovieHeader(Mp4Reader* r, In* in)
{
    int version = R8(in);
    Skip(in, 3);
    uint32_t duration;
    if (version == 1) {
        Skip(in, 16);
        r->movieTimescale = int(R32(in));
        duration = uint32_t(in->inputRead64BE(in));
    } else {
        Skip(in, 8);
        r->movieTimescale = int(R32(in));
        duration = R32(in);
    }
    if (int(duration) > 0)
        r->base.duration = MulDiv(int(duration), 16384, r->movieTimescale);
}

void MediaHeader(Mp4Reader* r, In* in)
{
    Mp4Track* t = r->currentTrack;
    if (!t)
        return;
    int version = R8(in);
    Skip(in, 3);
    int duration = -1;
    if (version == 0) {
        Skip(in, 8);
        t->timescale = int(R32(in));
        duration = int(R32(in));
    } else if (version == 1) {
        Skip(in, 16);
        t->timescale = int(R32(in));
        duration = int(uint32_t(in->inputRead64BE(in)));
    }
    if (duration > 0) {
        t->duration = MulDiv(duration, 16384, t->timescale);
        if (t->duration > r->base.duration)
            r->base.duration = t->duration;
    } else {
        t->duration = duration;
    }
}

void TrackHeader(Mp4Reader* r, In* in)
{
    Mp4Track* t = r->currentTrack;
    if (!t)
        return;
    int version = R8(in);
    Skip(in, 3);
    Skip(in, version == 1 ? 16 : 8);
    t->trackId = int(R32(in));
}

// The duration of the whole fragmented movie.
void MovieExtendsHeader(Mp4Reader* r, In* in)
{
    int version = R8(in);
    Skip(in, 3);
    uint64_t duration = version == 1 ? in->inputRead64BE(in) : R32(in);
    if (duration > 0 && duration <= uint64_t(INT_MAX)) {
        int ticks = MulDiv(int(duration), 16384, r->movieTimescale);
        if (ticks > r->base.duration)
            r->base.duration = ticks;
    }
}

// Tracks are finished when the whole movie is known (Open): fragments may add to them.
void Track(Mp4Reader* r, In* in, int end)
{
    if (r->currentTrack)
        return;  // a track inside a track is not one
    Mp4Track* t = reinterpret_cast<Mp4Track*>(Format_AddStream(r, sizeof(Mp4Track)));
    if (!t)
        return;
    t->minChunk = INT_MAX;
    t->maxChunk = 0;
    r->currentTrack = t;
    Walk(r, in, end, FCC("trak"));
    r->currentTrack = nullptr;
}

void CompressedHeader(Mp4Reader* r, In* in, int end)
{
    if (r->compression != FCC("zlib") || r->inflated >= kMaxInflateNesting)
        return;
    uint32_t plainSize = R32(in);
    int packedSize = Remaining(in, end);
    // zlib does not expand by more than about 1032:1.
    if (plainSize == 0 || plainSize > kMaxInflated || packedSize <= 0 ||
        uint64_t(plainSize) > uint64_t(packedSize) * 1040 + 1024)
        return;
    uint8_t* packed = static_cast<uint8_t*>(malloc_win32(size_t(packedSize)));
    uint8_t* plain = static_cast<uint8_t*>(malloc_win32(plainSize));
    if (packed && plain && in->inputRead(in, packed, packedSize) == packedSize) {
        unsigned long length = plainSize;
        if (uncompress(plain, &length, packed, static_cast<unsigned long>(packedSize)) == 0) {
            In saved = *in;
            Format_InputMemory(in, plain, int(length));
            ++r->inflated;
            Walk(r, in, int(length), 0);
            --r->inflated;
            *in = saved;  // its buffer was left untouched
        }
    }
    free_win32(packed);
    free_win32(plain);
}

// ---- the atom table ----

enum Handling {
    kIgnore, kMoov, kTrak, kMvhd, kMdhd, kChildren, kRmra, kRdrf, kMeta, kStsd, kStss, kStsc,
    kStco, kCtts, kStsz, kStts, kCmov, kDcom, kCmvd, kEsds, kExtra, kData, kName, kChpl, kTag,
    kTkhd, kMvex, kMehd, kTrex,
};

struct AtomRow {
    fourcc_t type;
    Handling handling;
    const tchar* tagName;
};

const AtomRow kAtoms[] = {
    {FCC("ftyp"), kIgnore, nullptr},
    {FCC("moov"), kMoov, nullptr},
    {FCC("trak"), kTrak, nullptr},
    {FCC("mvhd"), kMvhd, nullptr},
    {FCC("mdhd"), kMdhd, nullptr},
    {FCC("stbl"), kChildren, nullptr},
    {FCC("minf"), kChildren, nullptr},
    {FCC("edts"), kChildren, nullptr},
    {FCC("mdia"), kChildren, nullptr},
    {FCC("udta"), kChildren, nullptr},
    {FCC("ilst"), kChildren, nullptr},
    {FCC("wave"), kChildren, nullptr},
    {FCC("----"), kChildren, nullptr},
    {FCC("rmda"), kChildren, nullptr},
    {FCC("rmra"), kRmra, nullptr},
    {FCC("rdrf"), kRdrf, nullptr},
    {FCC("meta"), kMeta, nullptr},
    {FCC("stsd"), kStsd, nullptr},
    {FCC("stss"), kStss, nullptr},
    {FCC("stsc"), kStsc, nullptr},
    {FCC("stco"), kStco, nullptr},
    {FCC("ctts"), kCtts, nullptr},
    {FCC("stsz"), kStsz, nullptr},
    {FCC("stts"), kStts, nullptr},
    {FCC("cmov"), kCmov, nullptr},
    {FCC("dcom"), kDcom, nullptr},
    {FCC("cmvd"), kCmvd, nullptr},
    {FCC("esds"), kEsds, nullptr},
    {FCC("SMI "), kExtra, nullptr},
    {FCC("avcC"), kExtra, nullptr},
    {FCC("data"), kData, nullptr},
    {FCC("name"), kName, nullptr},
    {FCC("chpl"), kChpl, nullptr},
    {FOURCC(0xA9, 'n', 'a', 'm'), kTag, L"TITLE="},
    {FOURCC(0xA9, 'A', 'R', 'T'), kTag, L"ARTIST="},
    {FOURCC(0xA9, 'w', 'r', 't'), kTag, L"WRITER="},
    {FOURCC(0xA9, 'a', 'l', 'b'), kTag, L"ALBUM="},
    {FOURCC(0xA9, 'd', 'a', 'y'), kTag, L"DATE="},
    {FOURCC(0xA9, 't', 'o', 'o'), kTag, L"TOOL="},
    {FOURCC(0xA9, 'c', 'm', 't'), kTag, L"COMMENT="},
    {FOURCC(0xA9, 'g', 'e', 'n'), kTag, L"GENRE="},
    {FCC("covr"), kTag, L"COVER="},
    {FCC("gnre"), kTag, L"GENRE="},
    // Fragmented movies: track ids and the sample defaults of their fragments.
    {FCC("tkhd"), kTkhd, nullptr},
    {FCC("mvex"), kMvex, nullptr},
    {FCC("mehd"), kMehd, nullptr},
    {FCC("trex"), kTrex, nullptr},
};
static_assert(sizeof(kAtoms) / sizeof(kAtoms[0]) == 47);

void Handle(Mp4Reader* r, In* in, const AtomRow& row, int end, fourcc_t parent)
{
    Mp4Track* t = r->currentTrack;
    switch (row.handling) {
    case kIgnore: break;
    case kMoov:
        r->moovSeen = 1;
        Walk(r, in, end, row.type);
        break;
    case kTrak: Track(r, in, end); break;
    case kMvhd: MovieHeader(r, in); break;
    case kMdhd: MediaHeader(r, in); break;
    case kChildren: Walk(r, in, end, row.type); break;
    case kRmra: {
        int saved = r->redirectMode;
        r->redirectMode = 1;
        Walk(r, in, end, row.type);
        r->redirectMode = saved;
        break;
    }
    case kRdrf: Redirect(r, in, end); break;
    case kMeta:
        Skip(in, 4);
        Walk(r, in, end, row.type);
        break;
    case kStsd: SampleDescriptions(r, in, end); break;
    case kStss: if (t) ReadSyncTable(r, t, in, end); break;
    case kStsc: if (t) ReadChunkMap(r, t, in, end); break;
    case kStco: if (t) ReadChunkOffsets(r, t, in, end); break;
    case kCtts: if (t) ReadCompositionTable(r, t, in, end); break;
    case kStsz: if (t) ReadSizeTable(r, t, in, end); break;
    case kStts: if (t) ReadTimeTable(r, t, in, end); break;
    case kCmov:
        Walk(r, in, end, row.type);
        r->compression = 0;
        break;
    case kDcom: r->compression = RFourCC(in); break;
    case kCmvd: CompressedHeader(r, in, end); break;
    case kEsds: ElementaryStream(r, in, end); break;
    case kExtra: if (t) SetExtra(t, in, Remaining(in, end)); break;
    case kData: DataAtom(r, in, end); break;
    case kName: NameAtom(r, in, end, parent); break;
    case kChpl: ChapterList(r, in, end); break;
    case kTag: TagAtom(r, in, end, row.tagName); break;
    case kTkhd: TrackHeader(r, in); break;
    case kMvex:
        if (!t && r->moovSeen) {
            r->fragmented = 1;
            Walk(r, in, end, row.type);
        }
        break;
    case kMehd: if (parent == FCC("mvex")) MovieExtendsHeader(r, in); break;
    case kTrex: if (parent == FCC("mvex")) ReadTrackExtends(r, in, end); break;
    }
}

void Walk(Mp4Reader* r, In* in, int end, fourcc_t parent)
{
    if (r->depth >= kMaxDepth)
        return;
    ++r->depth;
    while (Pos(in) < end - 8) {
        int start = Pos(in);
        uint8_t h[8];
        if (in->inputRead(in, h, 8) != 8)
            break;
        int64_t size = (int64_t(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
        fourcc_t type = FOURCC(h[4], h[5], h[6], h[7]);
        if (size == 1) {
            uint8_t b[8];
            if (in->inputRead(in, b, 8) != 8)
                break;
            uint64_t big = 0;
            for (uint8_t x : b)
                big = big << 8 | x;
            size = big > uint64_t(INT_MAX) ? INT_MAX : int64_t(big);
        }
        if (size < 8)
            break;
        // An atom never reaches beyond the one that holds it.
        int atomEnd = size > int64_t(end) - start ? end : start + int(size);
        if (r->fragmented && r->depth == 1 && (type == FCC("moof") || type == FCC("mdat"))) {
            // The fragments are read as the packets reach them; an 'mdat' here holds the
            // movie's own samples.
            r->nextFragment = type == FCC("moof") ? start : atomEnd;
            break;
        }
        if (type == FCC("mdat") && r->moovSeen)
            break;
        if (r->depth == 1 && !r->inflated) {
            // A fragment before the movie header names tracks not known yet: the file is
            // refused, not read without it.
            if (type == FCC("moof") && !r->moovSeen)
                r->moofFirst = 1;
            if (type == FCC("moov") && !r->moovSeen) {
                r->moovStart = start;
                r->moovEnd = atomEnd;
            }
        }
        for (const AtomRow& row : kAtoms) {
            if (row.type == type) {
                Handle(r, in, row, atomEnd, parent);
                break;
            }
        }
        if (atomEnd >= end || !MoveTo(in, atomEnd))
            break;
    }
    r->tagName[0] = 0;
    --r->depth;
}

// Chapters from a text track: each sample is a 16-bit length and the text.
void TextChapters(Mp4Reader* r, Mp4Track* t)
{
    In* in = &r->base.input[0];
    Mp4Cursor c;
    CursorInit(t, &c);
    int n = 1;
    Mp4Track* savedTrack = r->currentTrack;
    r->currentTrack = nullptr;  // chapters belong to the file
    while (StartChunk(t, &c)) {
        int64_t offset = c.chunkEntry[-1];
        while (c.chunkLeft > 0 && c.sample < t->sampleCount && offset < INT_MAX) {
            int64_t time = c.time;
            int size = ConsumeSample(t, &c);
            if (in->inputSeek(in, int(offset), 0) == 0 && size >= 2) {
                int length = R16(in);
                if (length > size - 2)
                    length = size - 2;
                if (length > 0) {
                    tchar text[512];
                    stprintf_s(text, 512, L"CHAPTER%02dNAME=", n);
                    char raw[512];
                    int got = in->inputRead(in, raw, length > 511 ? 511 : length);
                    size_t used = tcslen(text);
                    UTF8ToTcs(text + used, 512 - used, raw, got > 0 ? got : 0);
                    Deliver(r, text, sizeof(text));
                    tchar when[32];
                    int64_t ms = time < INT64_MAX / 1000 && time > INT64_MIN / 1000 ? time * 1000 : 0;
                    BuildChapter(when, 32, n, ms, t->timescale);
                    Deliver(r, when, sizeof(when));
                    ++n;
                }
            }
            offset += size;
            if (t->chunkPackets)
                break;
        }
        if (c.sample >= t->sampleCount)
            break;
    }
    r->currentTrack = savedTrack;
}

int Open(void* self)
{
    Mp4Reader* r = static_cast<Mp4Reader*>(self);
    r->moovSeen = 0;
    r->movieTimescale = 0;
    r->mixedShown = 0;
    r->tagName[0] = 0;
    r->base.timeSeek = 1;
    r->fragmented = 0;
    r->nextFragment = -1;
    r->fragmentError = 0;
    r->moovStart = r->moovEnd = 0;
    r->moofFirst = 0;
    r->claimed = 0;
    r->extendsCount = 0;
    In* in = &r->base.input[0];
    r->fileLength = 0;
    if (in->inputStream && in->inputStream->node.getParam) {
        int length = 0;
        if (in->inputStream->node.getParam(in->inputStream, StreamLength, &length, sizeof(length)) == 0 && length > 0)
            r->fileLength = length;
    }
    // Atoms end where the file does, whatever their sizes claim.
    Walk(r, in, r->fileLength > 0 ? r->fileLength : INT_MAX, 0);
    if (!r->moovSeen || r->moofFirst)
        return ERR_INVALID_DATA;
    if (r->fragmented) {
        PrepareFragments(r);
        // A movie whose tracks have no samples of their own ('empty_moov') starts with
        // its first fragment.
        bool empty = false;
        for (int i = 0; i < r->base.streamCount; ++i) {
            const Mp4Track* t = reinterpret_cast<const Mp4Track*>(r->base.streams[i]);
            empty = empty || (t->extended && t->sampleCount == 0);
        }
        if (empty)
            ReadFragment(r, in);
    }
    FinishTracks(r);
    // Nothing to play is no file to play.
    if (r->base.streamCount == 0)
        return ERR_NOT_SUPPORTED;
    if (r->base.comment.node) {
        for (int i = 0; i < r->base.streamCount; ++i) {
            Mp4Track* t = reinterpret_cast<Mp4Track*>(r->base.streams[i]);
            if (t->base.format.kind == PACKET_TEXT && t->base.format.fourcc == FCC("TEXT") && t->samples < 100)
                TextChapters(r, t);
        }
    }
    BindTracks(r);
    return 0;
}

int Create(void* object)
{
    Mp4Reader* r = static_cast<Mp4Reader*>(object);
    r->base.openFormat = Open;
    r->base.seekFormat = Seek;
    r->base.readPacket = ReadPacket;
    r->base.freeStreams = FreeStreams;
    return 0;
}

}  // namespace
}  // namespace mp4

const NodeClassDef Mp4Class = {
    NODE_CLASS_SIZE(sizeof(Mp4Reader), 0), MP4_CLASS, FORMAT_CLASS, 1000, mp4::Create, nullptr,
};
