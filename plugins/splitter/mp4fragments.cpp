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

// The bytes of one 'moof', read whole: it is walked twice, once to check every run and
// once to take them, and a stream cannot be read twice.
struct Bytes {
    const uint8_t* p;
    const uint8_t* end;

    size_t Left() const { return size_t(end - p); }
    uint32_t U32()
    {
        if (Left() < 4)
            return void(p = end), 0;
        uint32_t v = uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        p += 4;
        return v;
    }
    uint64_t U64()
    {
        uint64_t high = U32();
        return high << 32 | U32();
    }
    // The next atom: its type and body; false at the end or at a broken size.
    bool Next(fourcc_t* type, Bytes* body)
    {
        if (Left() < 8)
            return false;
        const uint8_t* start = p;
        uint64_t size = U32();
        *type = FOURCC(p[0], p[1], p[2], p[3]);
        p += 4;
        if (size == 1)
            size = U64();
        else if (size == 0)
            size = uint64_t(end - start);
        size_t header = size_t(p - start);
        if (size < header || size > uint64_t(end - start))
            return void(p = end), false;
        *body = Bytes{p, start + size};
        p = start + size;
        return true;
    }
};

struct Fragment {
    int64_t moofStart, moofEnd;
    int64_t dataEnd;  // behind the data of the last run: the next track fragment's base
    int64_t limit;    // no sample lies behind: the end of the file, or of a stream's 'mdat' behind
};

const Mp4Extends* FindExtends(const Mp4Reader* r, uint32_t id)
{
    for (int i = 0; i < r->extendsCount; ++i)
        if (r->extends[i].trackId == id)
            return &r->extends[i];
    return nullptr;
}

// A run that cannot be: a fragment of a track read is refused; one of a track skipped
// leaves the data end unknown, so that a track fragment whose base is implied behind it
// finds no place in the file.
bool Broken(Fragment* fragment, bool read)
{
    fragment->dataEnd = INT64_MIN / 4;
    return !read;
}

// Whole-chunk audio (PCM and the like): the tables count frames of constSize bytes (or
// blocks of framesPerBlock frames), and a fragment's sample is a run of them.
bool FramesOf(const Mp4Track* t, uint32_t size, uint32_t duration, uint32_t* frames, uint32_t* delta)
{
    uint32_t bytes = uint32_t(t->constSize), per = 1;
    if (t->constSize == 1 && t->framesPerBlock > 0 && t->bytesPerBlock > 0) {
        bytes = uint32_t(t->bytesPerBlock);
        per = uint32_t(t->framesPerBlock);
    }
    if (bytes == 0 || size == 0 || size % bytes != 0 || uint64_t(size / bytes) * per > uint32_t(INT_MAX))
        return false;
    *frames = size / bytes * per;
    if (duration % *frames != 0)
        return false;
    *delta = duration / *frames;
    return true;
}

// One track fragment. With `take` false it only checks: every run's samples must lie in
// the file, outside the movie header and this fragment, and claim no more bytes than the
// file has left to claim. A track fragment of no track read (dropped, or an id without a
// track) is walked all the same, as its data moves the implied base of the next one.
bool TrackFragment(Mp4Reader* r, Bytes traf, Fragment* fragment, int64_t* claimed, bool take)
{
    const int64_t limit = fragment->limit;
    Mp4Track* t = nullptr;
    bool read = false;
    uint32_t defaultDuration = 0, defaultSize = 0, defaultFlags = 0;
    int64_t base = fragment->dataEnd;
    int64_t next = base;
    fourcc_t type;
    Bytes atom;
    while (traf.Next(&type, &atom)) {
        if (type == FCC("tfhd")) {
            uint32_t flags = atom.U32() & 0xFFFFFF;
            uint32_t id = atom.U32();
            t = FindTrack(r, id);
            read = t && t->extended;
            // The track's own defaults, or those kept for a track dropped.
            const Mp4Extends* kept = FindExtends(r, id);
            Mp4Extends e = t ? Mp4Extends{id, uint32_t(t->defaultDuration), uint32_t(t->defaultSize),
                                          uint32_t(t->defaultFlags)}
                             : kept ? *kept : Mp4Extends{id, 0, 0, 0};
            if (flags & kTfhdBaseOffset) {
                uint64_t b = atom.U64();
                // Offsets are 32-bit, as 'stco' is: a base beyond is no place in the file.
                if (b >= uint64_t(INT_MAX))
                    return Broken(fragment, read);
                base = int64_t(b);
            } else if (flags & kTfhdBaseIsMoof) {
                base = fragment->moofStart;
            }
            if (flags & kTfhdDescription)
                atom.U32();
            defaultDuration = flags & kTfhdDuration ? atom.U32() : e.duration;
            defaultSize = flags & kTfhdSize ? atom.U32() : e.size;
            defaultFlags = flags & kTfhdFlags ? atom.U32() : e.flags;
            next = base;
        } else if (type == FCC("tfdt") && read && take) {
            // The decode time of the fragment's first sample: a gap before it lengthens
            // the last sample before.
            int version = atom.p < atom.end ? atom.p[0] : 0;
            atom.U32();
            uint64_t start = version == 1 ? atom.U64() : atom.U32();
            if (start < (uint64_t(1) << 62) && int64_t(start) > t->decodeEnd) {
                Mp4AppendMark mark;
                BeginAppend(t, &mark);
                AppendGap(t, &mark, int64_t(start) - t->decodeEnd);
                EndAppend(r, t, &mark);
            }
        } else if (type == FCC("trun")) {
            uint32_t flags = atom.U32() & 0xFFFFFF;
            uint32_t count = atom.U32();
            int64_t offset = next;
            if (flags & kTrunDataOffset)
                offset = base + int32_t(atom.U32());
            uint32_t firstFlags = flags & kTrunFirstFlags ? atom.U32() : defaultFlags;
            int fields = !!(flags & kTrunDuration) + !!(flags & kTrunSize) + !!(flags & kTrunFlags) + !!(flags & kTrunCts);
            // The run lies within its atom, and its samples within the file.
            if ((fields && uint64_t(count) * 4 * uint64_t(fields) > atom.Left()) || offset < 0 || offset >= INT_MAX)
                return Broken(fragment, read);
            const uint8_t* entries = atom.p;
            uint64_t bytes = 0, claim = 0;
            bool whole = true;  // a whole-chunk track's samples are whole frames
            if (!fields) {
                // Samples alike: their sum at once (below 2^64).
                bytes = uint64_t(defaultSize) * count;
                claim = uint64_t(defaultSize > 0 ? defaultSize : 1) * count;
                uint32_t frames, delta;
                whole = !t || !t->chunkPackets || count == 0 || FramesOf(t, defaultSize, defaultDuration, &frames, &delta);
            } else {
                for (uint32_t i = 0; i < count && bytes <= uint64_t(limit); ++i) {
                    uint32_t duration = flags & kTrunDuration ? atom.U32() : defaultDuration;
                    uint32_t size = flags & kTrunSize ? atom.U32() : defaultSize;
                    atom.p += 4 * (!!(flags & kTrunFlags) + !!(flags & kTrunCts));
                    bytes += size;
                    claim += size > 0 ? size : 1;
                    uint32_t frames, delta;
                    if (t && t->chunkPackets && !FramesOf(t, size, duration, &frames, &delta))
                        whole = false;
                }
            }
            if (offset > limit || bytes > uint64_t(limit - offset))
                return Broken(fragment, read);
            int64_t end = offset + int64_t(bytes);
            if (read && !take) {
                bool overlaps = bytes > 0 && ((offset < r->moovEnd && end > r->moovStart) ||
                                              (offset < fragment->moofEnd && end > fragment->moofStart));
                if (overlaps || !whole || claim > uint64_t(limit - *claimed))
                    return false;
                *claimed += int64_t(claim);
            }
            if (read && take && count > 0) {
                atom.p = entries;
                bool video = t->base.format.kind == PACKET_VIDEO;
                Mp4AppendMark mark;
                BeginAppend(t, &mark);
                bool ok = true;
                if (!t->chunkPackets)
                    ok = AppendChunk(t, &mark, int(offset), int(count));
                int chunkFrames = 0;
                for (uint32_t i = 0; ok && mark.ok && i < count; ++i) {
                    uint32_t duration = flags & kTrunDuration ? atom.U32() : defaultDuration;
                    uint32_t size = flags & kTrunSize ? atom.U32() : defaultSize;
                    uint32_t sampleFlags = flags & kTrunFlags ? atom.U32() : i == 0 ? firstFlags : defaultFlags;
                    if (flags & kTrunCts) {
                        int32_t cts = int32_t(atom.U32());
                        if (!t->finished && (!t->ctsSeen || cts < t->ctsSmallest)) {
                            t->ctsSeen = 1;
                            t->ctsSmallest = cts;
                        }
                    }
                    if (t->chunkPackets) {
                        // The run is one chunk of frames, delivered whole as the movie's own.
                        uint32_t frames, delta;
                        if (!FramesOf(t, size, duration, &frames, &delta) || chunkFrames > INT_MAX - int(frames)) {
                            ok = false;
                            break;
                        }
                        for (uint32_t k = 0; k < frames && mark.ok; ++k)
                            AppendSample(t, &mark, delta, uint32_t(t->constSize), true);
                        chunkFrames += int(frames);
                        continue;
                    }
                    // A key sample is one that is a sync sample and depends on no other.
                    bool sync = !(sampleFlags & kSampleNonSync) && ((sampleFlags >> 24) & 3) != 1;
                    AppendSample(t, &mark, duration, size, !video || sync);
                }
                if (t->chunkPackets && ok && mark.ok)
                    ok = AppendChunk(t, &mark, int(offset), chunkFrames);
                EndAppend(r, t, &mark);
                if (!ok || !mark.ok) {
                    // Its tables could not take the samples: the track ends where they do, and
                    // the end of the file is reported as a failure, not as the whole read.
                    t->extended = 0;
                    r->fragmentError = ERR_NOT_SUPPORTED;
                }
            }
            next = end;
            fragment->dataEnd = next;
        }
    }
    return true;
}

// Walks the track fragments of a 'moof' (its body in `moof`).
bool WalkFragment(Mp4Reader* r, Bytes moof, Fragment* fragment, int64_t* claimed, bool take)
{
    fourcc_t type;
    Bytes atom;
    while (moof.Next(&type, &atom))
        if (type == FCC("traf") && !TrackFragment(r, atom, fragment, claimed, take))
            return false;
    return true;
}

}  // namespace

void ReadTrackExtends(Mp4Reader* r, In* in, int)
{
    R32(in);  // version and flags
    uint32_t id = R32(in);
    R32(in);  // sample description index
    Mp4Extends e = {id, R32(in), R32(in), R32(in)};
    if (r->extendsCount < int(sizeof(r->extends) / sizeof(r->extends[0])) && !FindExtends(r, id))
        r->extends[r->extendsCount++] = e;
    Mp4Track* t = FindTrack(r, id);
    if (!t)
        return;
    t->defaultDuration = int(e.duration);
    t->defaultSize = int(e.size);
    t->defaultFlags = int(e.flags);
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
    // A 'moof' is read whole; far larger than any real one is none to read.
    constexpr int64_t kMaxMoof = 64 << 20;
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
        int64_t length = h.end - Pos(in);
        uint8_t* body = length >= 0 && length <= kMaxMoof ? static_cast<uint8_t*>(malloc_win32(size_t(length) + 1)) : nullptr;
        if (!body || in->inputRead(in, body, int(length)) != int(length)) {
            free_win32(body);
            r->nextFragment = -1;
            r->fragmentError = length > kMaxMoof || !body ? ERR_NOT_SUPPORTED : ERR_READ;
            return false;
        }
        // The 'mdat' behind holds the samples, to be read as packets: the next fragment is
        // looked for behind it, without passing through it now. Atoms between ('free',
        // 'skip', ...) are read through. On a stream of unknown length the data a fragment
        // can have ends with that 'mdat'.
        Fragment fragment = {h.start, h.end, h.start, limit};
        Header next;
        while (r->nextFragment >= 0 && MoveTo(in, r->nextFragment) && ReadHeader(in, limit, &next)) {
            if (next.type == FCC("moof"))
                break;
            r->nextFragment = next.end < INT_MAX ? int(next.end) : -1;
            if (next.type == FCC("mdat")) {
                if (r->fileLength <= 0 && next.end < limit)
                    fragment.limit = next.end;
                break;
            }
        }
        // Every run is checked before any is taken: a fragment that holds one that cannot
        // be is left out whole, and reported when the packets end.
        int64_t claimed = r->claimed;
        Bytes moof = {body, body + length};
        if (WalkFragment(r, moof, &fragment, &claimed, false)) {
            r->claimed = claimed;
            fragment.dataEnd = h.start;
            WalkFragment(r, moof, &fragment, &claimed, true);
        } else {
            r->fragmentError = ERR_INVALID_DATA;
        }
        free_win32(body);
        return true;
    }
    return false;
}

}  // namespace mp4
