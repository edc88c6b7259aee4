// MP4 reader: movie fragments. A movie whose 'moov' holds 'mvex' goes on in 'moof' atoms,
// each followed by the 'mdat' of its samples. Every run of samples ('trun') becomes one
// more chunk of its track's tables, so reading and seeking work on fragments as on the
// movie's own samples. Fragments are read as the packets reach them, front to back: a
// stream that cannot seek is still read whole.
#include <climits>

#include "mp4.h"

namespace mp4 {
namespace {

using In = FormatReaderInput;

constexpr uint32_t kTfhdBaseOffset = 0x000001;
constexpr uint32_t kTfhdDescription = 0x000002;
constexpr uint32_t kTfhdDuration = 0x000008;
constexpr uint32_t kTfhdSize = 0x000010;
constexpr uint32_t kTfhdFlags = 0x000020;
constexpr uint32_t kTfhdBaseIsMoof = 0x020000;
constexpr uint32_t kTrunDataOffset = 0x000001;
constexpr uint32_t kTrunFirstFlags = 0x000004;
constexpr uint32_t kTrunDuration = 0x000100;
constexpr uint32_t kTrunSize = 0x000200;
constexpr uint32_t kTrunFlags = 0x000400;
constexpr uint32_t kTrunCts = 0x000800;
constexpr uint32_t kSampleNonSync = 0x10000;
// A run whose samples carry no field of their own takes no more samples than its data
// can hold in the file, and no more than this.
constexpr int64_t kMaxDefaultRun = 1 << 20;

#define FCC(s) FOURCC((s)[0], (s)[1], (s)[2], (s)[3])

inline int Pos(In* in) { return in->inputPosition; }
inline uint32_t R32(In* in) { return in->inputRead32BE(in); }

Mp4Track* FindTrack(Mp4Reader* r, uint32_t id)
{
    for (int i = 0; i < r->base.streamCount; ++i) {
        Mp4Track* t = reinterpret_cast<Mp4Track*>(r->base.streams[i]);
        if (uint32_t(t->trackId) == id)
            return t;
    }
    return nullptr;
}

}  // namespace

bool MoveTo(In* in, int64_t at)
{
    if (at > INT_MAX)
        return false;
    int pos = Pos(in);
    if (at == pos)
        return true;
    if (at < pos)
        return in->inputSeek(in, int(at), 0) == 0;
    // What is buffered is passed first: a stream that cannot seek is then read on from
    // where the buffer ends.
    int n = int(at - pos);
    int buffered = in->bufferLength - in->bufferPos;
    if (buffered > 0 && n > buffered) {
        if (in->inputSkip(in, buffered) != 0)
            return false;
        n -= buffered;
    }
    return in->inputSkip(in, n) == 0;
}

namespace {

struct Header {
    int64_t start, end;
    fourcc_t type;
};

// The atom header at the input: false at the end of the data or of `limit`.
bool ReadHeader(In* in, int64_t limit, Header* h)
{
    h->start = Pos(in);
    if (limit - h->start < 8)
        return false;
    uint8_t b[8];
    if (in->inputRead(in, b, 8) != 8)
        return false;
    int64_t size = int64_t(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    h->type = FOURCC(b[4], b[5], b[6], b[7]);
    if (size == 1) {
        uint64_t big = in->inputRead64BE(in);
        size = big > uint64_t(INT64_MAX / 2) ? INT64_MAX / 2 : int64_t(big);
    } else if (size == 0) {
        size = limit - h->start;  // to the end of the file
    }
    if (size < 8)
        return false;
    h->end = h->start + size < limit ? h->start + size : limit;
    return true;
}

struct Fragment {
    int64_t moofStart;
    int64_t dataEnd;  // behind the data of the last run read: the next track fragment's base
};

void TrackRun(Mp4Reader* r, In* in, Mp4Track* t, const Header& atom, int64_t* next, uint32_t defaultDuration,
              uint32_t defaultSize, uint32_t defaultFlags, int64_t base)
{
    uint32_t flags = R32(in) & 0xFFFFFF;
    uint32_t count = R32(in);
    int64_t offset = *next;
    if (flags & kTrunDataOffset)
        offset = base + int32_t(R32(in));
    uint32_t firstFlags = flags & kTrunFirstFlags ? R32(in) : defaultFlags;
    int fields = !!(flags & kTrunDuration) + !!(flags & kTrunSize) + !!(flags & kTrunFlags) + !!(flags & kTrunCts);
    int64_t fit;
    if (fields) {
        int64_t room = atom.end - Pos(in);
        fit = (room > 0 ? room : 0) / (4 * fields);
    } else {
        int64_t limit = r->fileLength > 0 ? r->fileLength : INT_MAX;
        fit = defaultSize > 0 && offset < limit ? (limit - offset) / defaultSize : 0;
        if (fit > kMaxDefaultRun)
            fit = kMaxDefaultRun;
    }
    if (count > fit)
        count = uint32_t(fit);
    if (count == 0)
        return;
    bool video = t->base.format.kind == PACKET_VIDEO;
    Mp4AppendMark mark;
    BeginAppend(t, &mark);
    // The chunk offsets are 32-bit, as 'stco' is.
    bool ok = offset >= 0 && offset < INT_MAX && AppendChunk(t, &mark, int(offset), int(count));
    int64_t bytes = 0;
    for (uint32_t i = 0; ok && i < count; ++i) {
        uint32_t duration = flags & kTrunDuration ? R32(in) : defaultDuration;
        uint32_t size = flags & kTrunSize ? R32(in) : defaultSize;
        uint32_t sampleFlags = flags & kTrunFlags ? R32(in) : i == 0 ? firstFlags : defaultFlags;
        if (flags & kTrunCts) {
            int32_t cts = int32_t(R32(in));
            if (!t->finished && (!t->ctsSeen || cts < t->ctsSmallest)) {
                t->ctsSeen = 1;
                t->ctsSmallest = cts;
            }
        }
        // A key sample is one that is a sync sample and depends on no other.
        bool sync = !(sampleFlags & kSampleNonSync) && ((sampleFlags >> 24) & 3) != 1;
        AppendSample(t, &mark, duration, size, !video || sync);
        bytes += size;
    }
    EndAppend(r, t, &mark);
    if (!mark.ok) {
        // Its tables could not take the samples: the track ends where they do, and the
        // end of the file is reported as a failure, not as the whole read.
        t->extended = 0;
        r->fragmentError = ERR_NOT_SUPPORTED;
    }
    *next = offset + bytes;
}

void TrackFragment(Mp4Reader* r, In* in, const Header& traf, Fragment* fragment)
{
    Mp4Track* t = nullptr;
    uint32_t defaultDuration = 0, defaultSize = 0, defaultFlags = 0;
    int64_t base = fragment->dataEnd;
    int64_t next = base;
    Header h;
    while (ReadHeader(in, traf.end, &h)) {
        if (h.type == FCC("tfhd")) {
            uint32_t flags = R32(in) & 0xFFFFFF;
            t = FindTrack(r, R32(in));
            if (!t || !t->extended)
                return;
            if (flags & kTfhdBaseOffset) {
                uint64_t b = in->inputRead64BE(in);
                base = b > uint64_t(INT_MAX) ? INT_MAX : int64_t(b);
            } else if (flags & kTfhdBaseIsMoof) {
                base = fragment->moofStart;
            }
            if (flags & kTfhdDescription)
                R32(in);
            defaultDuration = flags & kTfhdDuration ? R32(in) : uint32_t(t->defaultDuration);
            defaultSize = flags & kTfhdSize ? R32(in) : uint32_t(t->defaultSize);
            defaultFlags = flags & kTfhdFlags ? R32(in) : uint32_t(t->defaultFlags);
            next = base;
        } else if (h.type == FCC("tfdt") && t) {
            // The decode time of the fragment's first sample: a gap before it lengthens
            // the last sample before.
            int version = in->inputRead8(in);
            in->inputSkip(in, 3);
            uint64_t start = version == 1 ? in->inputRead64BE(in) : R32(in);
            if (start < (uint64_t(1) << 62) && int64_t(start) > t->decodeEnd) {
                Mp4AppendMark mark;
                BeginAppend(t, &mark);
                AppendGap(t, &mark, int64_t(start) - t->decodeEnd);
                EndAppend(r, t, &mark);
            }
        } else if (h.type == FCC("trun") && t) {
            TrackRun(r, in, t, h, &next, defaultDuration, defaultSize, defaultFlags, base);
            fragment->dataEnd = next;
        }
        if (!MoveTo(in, h.end))
            return;
    }
}

}  // namespace

void ReadTrackExtends(Mp4Reader* r, In* in, int)
{
    R32(in);  // version and flags
    Mp4Track* t = FindTrack(r, R32(in));
    if (!t)
        return;
    R32(in);  // sample description index
    t->defaultDuration = int(R32(in));
    t->defaultSize = int(R32(in));
    t->defaultFlags = int(R32(in));
    t->extended = 1;
}

void PrepareFragments(Mp4Reader* r)
{
    constexpr int kMaxListedKeys = 1 << 20;
    for (int i = 0; i < r->base.streamCount; ++i) {
        Mp4Track* t = reinterpret_cast<Mp4Track*>(r->base.streams[i]);
        if (!t->extended)
            continue;
        // Fragment samples are numbered on from the movie's own: its tables must agree.
        bool sizes = t->constSize != 0 || t->sizeTable.data || t->sampleCount == 0;
        if (!sizes || (t->chunkOffsets.data && ChunkMapSamples(t) != t->sampleCount)) {
            t->extended = 0;
            continue;
        }
        // Every table ends with its terminator, even while it has no entry.
        if (!t->timeTable.data) {
            Mp4TimeEntry e = {INT_MAX, 0};
            ArrayAppend(&t->timeTable, &e, sizeof(e), 1024);
        }
        if (!t->chunkMap.data) {
            Mp4MapEntry e = {INT_MAX, 0};
            ArrayAppend(&t->chunkMap, &e, sizeof(e), 1024);
        }
        if (!t->chunkOffsets.data) {
            int32_t e = INT_MAX;
            ArrayAppend(&t->chunkOffsets, &e, 4, 1024);
        }
        if (!t->timeTable.data || !t->chunkMap.data || !t->chunkOffsets.data) {
            t->extended = 0;
            continue;
        }
        // Video key samples are listed; without 'stss' the movie's own samples are all keys.
        if (t->base.format.kind == PACKET_VIDEO && !t->allKey) {
            t->fragmentSync = 1;
            if (!t->syncTable.data) {
                if (t->sampleCount > kMaxListedKeys || !ArrayAlloc(&t->syncTable, size_t(t->sampleCount) + 1024, 1024)) {
                    t->fragmentSync = 0;
                    continue;
                }
                for (int n = 0; n < t->sampleCount; ++n) {
                    uint8_t b[5];
                    int k = PackResidual(b, LinearResidual(t->syncPack, uint32_t(n)));
                    ArrayAppend(&t->syncTable, b, size_t(k), 1024);
                }
            }
        }
    }
}

bool ReadFragment(Mp4Reader* r, In* in)
{
    const int64_t limit = r->fileLength > 0 ? r->fileLength : INT_MAX;
    while (r->nextFragment >= 0) {
        Header h;
        if (!MoveTo(in, r->nextFragment)) {
            r->nextFragment = -1;
            r->fragmentError = ERR_READ;
            return false;
        }
        if (!ReadHeader(in, limit, &h)) {
            r->nextFragment = -1;
            return false;
        }
        r->nextFragment = h.end < INT_MAX ? int(h.end) : -1;
        if (h.type != FCC("moof"))
            continue;  // an 'mdat' whose fragment was read, 'free', 'mfra', ...
        Fragment fragment = {h.start, h.start};
        Header child;
        while (ReadHeader(in, h.end, &child)) {
            if (child.type == FCC("traf"))
                TrackFragment(r, in, child, &fragment);
            if (!MoveTo(in, child.end))
                break;
        }
        // The 'mdat' behind holds the samples just read, to be read as packets: the next
        // fragment is looked for behind it, without passing through it now.
        if (r->nextFragment >= 0 && MoveTo(in, r->nextFragment) && ReadHeader(in, limit, &child)) {
            if (child.type == FCC("mdat"))
                r->nextFragment = child.end < INT_MAX ? int(child.end) : -1;
        }
        return true;
    }
    return false;
}

}  // namespace mp4
