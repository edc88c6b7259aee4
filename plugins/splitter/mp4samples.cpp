// MP4/QuickTime reader: sample tables, cursors, packets in file order, and seeking.
#include <climits>
#include <cstring>

#include "mp4.h"
#include "mp4table.h"
#include "plugin/frame.h"

namespace mp4 {
namespace {

using In = FormatReaderInput;

constexpr int kMaxSample = 64 << 20;   // no single sample of a real file comes near this
// A whole chunk of PCM may be large (one chunk for a long track); it cannot be larger than
// the file, and on an input of unknown length no more than this.
constexpr int kMaxUnknownPacket = 256 << 20;

inline int Pos(In* in) { return in->inputPosition; }
inline int Remaining(In* in, int end) { return end > Pos(in) ? end - Pos(in) : 0; }
inline uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The entry count of a table, no more than the atom holds.
uint32_t TableCount(In* in, int end, int entryBytes)
{
    in->inputSkip(in, 4);  // version and flags
    uint32_t count = in->inputRead32BE(in);
    uint32_t fit = uint32_t(Remaining(in, end)) / uint32_t(entryBytes);
    return count < fit ? count : fit;
}

// Reads count entries of `words` 32-bit values in batches; fn(const uint8_t*) per entry.
template <class F>
uint32_t ReadEntries(In* in, uint32_t count, int words, F&& fn)
{
    uint8_t buffer[4096];
    const int bytes = 4 * words;
    const uint32_t batch = sizeof(buffer) / bytes;
    uint32_t done = 0;
    while (done < count) {
        uint32_t n = count - done < batch ? count - done : batch;
        int want = int(n) * bytes;
        int got = in->inputRead(in, buffer, want);
        if (got <= 0)
            break;
        n = uint32_t(got / bytes);
        for (uint32_t i = 0; i < n; ++i)
            fn(buffer + i * bytes);
        done += n;
        if (got < want)
            break;  // the file ends first
    }
    return done;
}

// Growth of an array: the steps rise with its size, so that large tables do not copy
// themselves over and over.
int Growth(const Array* a)
{
    size_t size = ArraySize(a);
    return size > 8192 ? int(size / 2) : 1024;
}

// Packs residuals through a small staging buffer.
struct Packer {
    Array* array;
    uint8_t buffer[4096];
    int length = 0;
    bool ok = true;

    explicit Packer(Array* a) : array(a) {}
    void Put(int32_t e)
    {
        if (length > int(sizeof(buffer)) - 5)
            Flush();
        length += PackResidual(buffer + length, e);
    }
    void Flush()
    {
        if (length && ok && !ArrayAppend(array, buffer, size_t(length), Growth(array)))
            ok = false;
        length = 0;
    }
};

// What to reserve for a table of `count` entries: the count may lie (the atom may claim
// more than the file holds), so large tables grow as their entries are read.
size_t Reserve(uint32_t count) { return count < (1u << 16) ? count : (1u << 16); }

int32_t ClampCount(uint32_t v) { return v >= uint32_t(INT_MAX) ? INT_MAX - 1 : int32_t(v); }

// A sum of sample durations: tables that lie cannot carry it past what int64 holds.
void AddTime(int64_t* sum, int64_t v)
{
    constexpr int64_t kLimit = int64_t(1) << 62;
    *sum += v;
    if (*sum > kLimit)
        *sum = kLimit;
    else if (*sum < -kLimit)
        *sum = -kLimit;
}

void StepTime(const Mp4Track* t, Mp4Cursor* c)
{
    const Mp4TimeEntry* end = ARRAYEND(t->timeTable, const Mp4TimeEntry);
    while (c->timeLeft <= 0) {
        if (c->timeEntry + 1 < end) {
            ++c->timeEntry;
            c->timeLeft = c->timeEntry->count;
        } else {
            c->timeLeft = INT_MAX;
        }
    }
}

bool HasKeyInfo(const Mp4Track* t) { return t->syncTable.data != nullptr || t->allKey; }

void NextSync(const Mp4Track* t, Mp4Cursor* c)
{
    if (t->syncTable.data)
        NextLinear(&c->syncPos, c->syncEnd, &c->syncDelta, &c->nextSync);
    else
        ++c->nextSync;
}

const int32_t* LastChunk(const Mp4Track* t) { return ARRAYEND(t->chunkOffsets, const int32_t) - 1; }

Mp4Track* TrackAt(Mp4Reader* r, int i) { return reinterpret_cast<Mp4Track*>(r->base.streams[i]); }

// Among the selected tracks of this input, the one whose next chunk comes first in the
// file; its chunk is started and the input sought there. Null when none is left, or when
// the seek failed: then *error says why (the data ended before the chunk, or the stream
// cannot go back to it).
Mp4Track* ChooseChunk(Mp4Reader* r, In* in, int* error)
{
    *error = 0;
    in->user = nullptr;
    for (;;) {
        Mp4Track* best = nullptr;
        int bestOffset = INT_MAX;
        for (int i = 0; i < r->base.streamCount; ++i) {
            Mp4Track* t = TrackAt(r, i);
            if (t->base.reader != in || !t->base.selected)
                continue;
            int offset = *t->cursor.chunkEntry;
            if (offset < bestOffset) {
                best = t;
                bestOffset = offset;
            }
        }
        // A fragment not yet read holds the next samples when nothing read so far lies
        // before it.
        if (r->nextFragment >= 0 && (!best || bestOffset > r->nextFragment) && ReadFragment(r, in))
            continue;
        if (!best)
            return nullptr;
        if (!StartChunk(best, &best->cursor))
            continue;  // it now shows no further chunk
        // Chunks mostly follow each other: then there is nothing to seek.
        int offset = best->cursor.chunkEntry[-1];
        if (in->inputPosition != offset && in->inputSeek(in, offset, 0) < 0) {
            *error = in->readError ? ERR_READ : in->atEnd ? ERR_END_OF_FILE : ERR_NOT_SUPPORTED;
            return nullptr;
        }
        in->user = best;
        return best;
    }
}

// Seeks one input by its sync track (steps of the seek described in Seek).
int SeekTrack(Mp4Reader* r, In* in, Mp4Track* t, int* time, int filePos, int* flag)
{
    if (!in->inputStream)
        return 0;
    const int scale = t->timescale;
    int64_t target = *time >= 0 ? MulDiv(*time, scale, 16384) : -1;
    if (!HasKeyInfo(t))
        *flag = 0;
    if (t->allKey)
        *flag = 1;
    if (*flag && target >= 0)
        target += scale / 256 + 1;

    Mp4Cursor c{}, candidate{}, found{};
    CursorInit(t, &c);
    int64_t candidateOffset = -1, foundOffset = -1;
    while (foundOffset < 0 && StartChunk(t, &c)) {
        int64_t offset = c.chunkEntry[-1];
        while (c.chunkLeft > 0) {
            Mp4Cursor before = c;
            bool key = c.nextSync < 0 || c.sample == c.nextSync;
            if (key && c.nextSync >= 0)
                NextSync(t, &c);
            if (key && target >= 0 && before.time >= target) {
                if (*flag && before.time > target && candidateOffset >= 0) {
                    found = candidate;
                    foundOffset = candidateOffset;
                } else {
                    found = before;
                    foundOffset = offset;
                }
                break;
            }
            if (filePos >= 0 && offset >= filePos) {
                if (candidateOffset >= 0) {
                    found = candidate;
                    foundOffset = candidateOffset;
                } else {
                    found = before;
                    foundOffset = offset;
                }
                break;
            }
            if (key) {
                candidate = before;
                candidateOffset = offset;
            }
            offset += ConsumeSample(t, &c);
        }
    }
    if (foundOffset < 0 && candidateOffset >= 0) {
        found = candidate;
        foundOffset = candidateOffset;
    }
    if (foundOffset < 0 || foundOffset >= INT_MAX || in->inputSeek(in, int(foundOffset), 0) < 0)
        return ERR_NOT_SUPPORTED;
    t->cursor = found;
    in->user = found.chunkLeft > 0 ? t : nullptr;
    int reached = Ticks(found.time, scale);
    int64_t apart = int64_t(reached) - *time;
    if (!t->allKey || (apart > -1024 && apart < 1024))
        *time = reached;

    // The other tracks of this input continue behind the reached offset.
    for (int i = 0; i < r->base.streamCount; ++i) {
        Mp4Track* o = TrackAt(r, i);
        if (o == t || o->base.reader != in)
            continue;
        CursorInit(o, &o->cursor);
        while (*o->cursor.chunkEntry < foundOffset && StartChunk(o, &o->cursor))
            while (o->cursor.chunkLeft > 0)
                ConsumeSample(o, &o->cursor);
    }
    return 0;
}

// Before a seek: the fragments up to the target are read, so that the scan finds it.
void ReadFragmentsUntil(Mp4Reader* r, int time, int filePos)
{
    while (r->nextFragment >= 0) {
        bool short_ = false;
        if (time >= 0) {
            for (In& in : r->base.input) {
                FormatStream* s = Format_DefSyncStream(r, &in);
                const Mp4Track* t = reinterpret_cast<const Mp4Track*>(s);
                if (s && Ticks(t->decodeEnd + t->startTime, t->timescale) <= time)
                    short_ = true;
            }
        } else {
            short_ = filePos >= 0 && r->nextFragment <= filePos;
        }
        if (!short_ || !ReadFragment(r, &r->base.input[0]))
            return;
    }
}

template <class T>
void DropTerminator(Array* a)
{
    if (a->data && ArraySize(a) >= sizeof(T))
        a->end -= sizeof(T);
}

// Puts the terminator back; when memory runs out it takes the last entry's place, as the
// readers of the table rely on it.
template <class T>
void Terminate(Array* a, T terminator)
{
    if (!ArrayAppend(a, &terminator, sizeof(T), Growth(a)) && ArraySize(a) >= sizeof(T))
        memcpy(a->end - sizeof(T), &terminator, sizeof(T));
}

bool PutPacked(Array* a, int32_t e)
{
    uint8_t b[5];
    int n = PackResidual(b, e);
    return ArrayAppend(a, b, size_t(n), Growth(a)) != nullptr;
}

// A track whose samples all had one size meets a fragment of other sizes: its sizes go
// into the table from here on. Whole-chunk tracks keep their constant size.
bool SizesToTable(Mp4Track* t, Mp4AppendMark* m)
{
    constexpr int kMaxConverted = 1 << 20;
    if (t->chunkPackets || t->sampleCount > kMaxConverted)
        return false;
    ArrayClear(&t->sizeTable);
    t->sizePack = Predictor{};
    if (!ArrayAlloc(&t->sizeTable, size_t(t->sampleCount) + 1024, 1024))
        return false;
    Packer packer(&t->sizeTable);
    for (int i = 0; i < t->sampleCount; ++i)
        packer.Put(TwoBackResidual(t->sizePack, uint32_t(t->constSize)));
    packer.Flush();
    if (!packer.ok)
        return false;
    if (t->finished) {
        // The cursor goes on from the sample it stands at.
        Mp4Cursor& c = t->cursor;
        const uint8_t* pos = reinterpret_cast<const uint8_t*>(t->sizeTable.data);
        const uint8_t* end = reinterpret_cast<const uint8_t*>(t->sizeTable.end);
        c.sizeDelta = c.size = 0;
        for (int i = 0; i < c.sample && i < t->sampleCount; ++i)
            NextTwoBack(&pos, end, &c.sizeDelta, &c.size);
        m->sizePos = size_t(pos - reinterpret_cast<const uint8_t*>(t->sizeTable.data));
    }
    t->constSize = 0;
    return true;
}

}  // namespace

// ---- fragments: samples appended to the tables ----

void BeginAppend(Mp4Track* t, Mp4AppendMark* m)
{
    *m = Mp4AppendMark{};
    m->ok = true;
    DropTerminator<Mp4TimeEntry>(&t->timeTable);
    DropTerminator<Mp4MapEntry>(&t->chunkMap);
    DropTerminator<int32_t>(&t->chunkOffsets);
    m->timeCount = ARRAYCOUNT(t->timeTable, Mp4TimeEntry);
    m->syncBytes = ArraySize(&t->syncTable);
    m->syncPrev = t->syncPack.prev;
    if (!t->finished)
        return;
    const Mp4Cursor& c = t->cursor;
    m->syncPos = size_t(c.syncPos - reinterpret_cast<const uint8_t*>(t->syncTable.data));
    m->sizePos = size_t(c.sizePos - reinterpret_cast<const uint8_t*>(t->sizeTable.data));
    m->timeEntry = size_t(c.timeEntry - ARRAYBEGIN(t->timeTable, const Mp4TimeEntry));
    m->mapEntry = size_t(c.mapEntry - ARRAYBEGIN(t->chunkMap, const Mp4MapEntry));
    m->chunkEntry = size_t(c.chunkEntry - ARRAYBEGIN(t->chunkOffsets, const int32_t));
}

bool AppendChunk(Mp4Track* t, Mp4AppendMark* m, int offset, int count)
{
    if (!m->ok || count <= 0)
        return m->ok;
    int32_t index = int32_t(ARRAYCOUNT(t->chunkOffsets, int32_t));
    if (index >= INT_MAX - 1 || t->samples > INT_MAX - count ||
        !ArrayAppend(&t->chunkOffsets, &offset, 4, Growth(&t->chunkOffsets)))
        return m->ok = false;
    size_t maps = ARRAYCOUNT(t->chunkMap, Mp4MapEntry);
    if (maps == 0 || ARRAYBEGIN(t->chunkMap, Mp4MapEntry)[maps - 1].samplesPerChunk != count) {
        Mp4MapEntry e = {index, count};
        if (!ArrayAppend(&t->chunkMap, &e, sizeof(e), Growth(&t->chunkMap))) {
            t->chunkOffsets.end -= 4;
            return m->ok = false;
        }
    }
    t->samples += count;
    if (offset < t->minChunk)
        t->minChunk = offset;
    if (offset > t->maxChunk)
        t->maxChunk = offset;
    return true;
}

void AppendSample(Mp4Track* t, Mp4AppendMark* m, uint32_t duration, uint32_t size, bool sync)
{
    // Far more samples than any track has: what a file claims beyond is not taken.
    constexpr int kMaxSamples = 1 << 26;
    if (!m->ok || t->sampleCount >= kMaxSamples)
        return void(m->ok = false);
    if (t->constSize != 0 && uint32_t(t->constSize) != size && !SizesToTable(t, m))
        return void(m->ok = false);
    if (t->constSize == 0 && !PutPacked(&t->sizeTable, TwoBackResidual(t->sizePack, size)))
        return void(m->ok = false);
    if (t->fragmentSync && sync && !PutPacked(&t->syncTable, LinearResidual(t->syncPack, uint32_t(t->sampleCount))))
        return void(m->ok = false);
    ++t->sampleCount;
    size_t times = ARRAYCOUNT(t->timeTable, Mp4TimeEntry);
    Mp4TimeEntry* last = times ? ARRAYBEGIN(t->timeTable, Mp4TimeEntry) + times - 1 : nullptr;
    // Entries from before this append are left as they are: a cursor may stand on them.
    if (times > m->timeCount && last->delta == int32_t(duration) && last->count < INT_MAX - 1) {
        ++last->count;
    } else {
        Mp4TimeEntry e = {1, int32_t(duration)};
        if (!ArrayAppend(&t->timeTable, &e, sizeof(e), Growth(&t->timeTable)))
            return void(m->ok = false);
    }
    AddTime(&t->decodeEnd, int32_t(duration));
}

void AppendGap(Mp4Track* t, Mp4AppendMark* m, int64_t gap)
{
    size_t times = ARRAYCOUNT(t->timeTable, Mp4TimeEntry);
    if (!m->ok || gap <= 0 || times == 0 || times != m->timeCount || t->sampleCount == 0)
        return;
    size_t last = times - 1;
    Mp4TimeEntry e = ARRAYBEGIN(t->timeTable, Mp4TimeEntry)[last];
    if (e.count <= 0 || int64_t(e.delta) + gap > INT_MAX)
        return;
    Mp4TimeEntry longer = {1, int32_t(e.delta + gap)};
    Mp4Cursor& c = t->cursor;
    // Where the cursor stands in the last entry: samples of it still to come.
    bool onLast = t->finished && m->timeEntry == last;
    if (e.count == 1) {
        ARRAYBEGIN(t->timeTable, Mp4TimeEntry)[last] = longer;
    } else {
        if (!ArrayAppend(&t->timeTable, &longer, sizeof(longer), Growth(&t->timeTable)))
            return;
        --ARRAYBEGIN(t->timeTable, Mp4TimeEntry)[last].count;
        m->timeCount = times + 1;  // the entry split off is the movie's, not this append's
        if (onLast && c.timeLeft > 0)
            --c.timeLeft;  // its last sample now lies in the entry split off
    }
    // A cursor behind the last sample stands at the old end: it moves on to the new one,
    // and past the entry split off, which it has read.
    if (t->finished && c.sample >= t->sampleCount) {
        c.time += gap;
        if (e.count != 1)
            m->timeEntry = last + 1;
    }
    AddTime(&t->decodeEnd, gap);
}

void EndAppend(Mp4Reader* r, Mp4Track* t, Mp4AppendMark* m)
{
    Terminate(&t->timeTable, Mp4TimeEntry{INT_MAX, 0});
    Terminate(&t->chunkMap, Mp4MapEntry{INT_MAX, 0});
    Terminate(&t->chunkOffsets, int32_t(INT_MAX));
    int ticks = Ticks(t->decodeEnd, t->timescale);
    if (ticks > t->duration) {
        t->duration = ticks;
        if (ticks > r->base.duration)
            r->base.duration = ticks;
    }
    if (!t->finished)
        return;
    Mp4Cursor& c = t->cursor;
    const uint8_t* sync = reinterpret_cast<const uint8_t*>(t->syncTable.data);
    c.syncPos = sync + m->syncPos;
    c.syncEnd = reinterpret_cast<const uint8_t*>(t->syncTable.end);
    if (t->fragmentSync && m->syncPos == m->syncBytes) {
        // The cursor had read every key sample number: at the end a read gives 0, which
        // the next number must not be predicted from.
        if (m->syncBytes == 0) {
            c.syncDelta = 0;
            c.nextSync = 0;
            NextLinear(&c.syncPos, c.syncEnd, &c.syncDelta, &c.nextSync);
        } else if (c.nextSync < c.sample) {
            c.nextSync = int32_t(m->syncPrev);
            NextLinear(&c.syncPos, c.syncEnd, &c.syncDelta, &c.nextSync);
        }
    }
    c.sizePos = reinterpret_cast<const uint8_t*>(t->sizeTable.data) + m->sizePos;
    c.sizeEnd = reinterpret_cast<const uint8_t*>(t->sizeTable.end);
    c.timeEntry = ARRAYBEGIN(t->timeTable, const Mp4TimeEntry) + m->timeEntry;
    if (m->timeEntry == m->timeCount)
        c.timeLeft = c.timeEntry->count;  // it stood on the terminator
    c.mapEntry = ARRAYBEGIN(t->chunkMap, const Mp4MapEntry) + m->mapEntry;
    c.chunkEntry = ARRAYBEGIN(t->chunkOffsets, const int32_t) + m->chunkEntry;
}

// ---- table readers ----

void ReadSyncTable(Mp4Reader*, Mp4Track* t, In* in, int end)
{
    uint32_t count = TableCount(in, end, 4);
    if (count <= 1 && t->base.format.kind == PACKET_VIDEO && UpperFourCC(t->codec) == FOURCC('S', '2', '6', '3')) {
        t->allKey = 1;
        return;
    }
    ArrayClear(&t->syncTable);
    if (!ArrayAlloc(&t->syncTable, Reserve(count) + 128, 1024))
        return;
    Predictor p;
    Packer packer(&t->syncTable);
    ReadEntries(in, count, 1, [&](const uint8_t* e) { packer.Put(LinearResidual(p, Be32(e) - 1)); });
    packer.Flush();
    t->syncPack = p;
}

void ReadSizeTable(Mp4Reader*, Mp4Track* t, In* in, int end)
{
    in->inputSkip(in, 4);
    uint32_t constSize = in->inputRead32BE(in);
    uint32_t count = in->inputRead32BE(in);
    t->constSize = constSize > uint32_t(kMaxSample) ? kMaxSample + 1 : int(constSize);
    if (constSize == 0) {
        t->chunkPackets = 0;
        uint32_t fit = uint32_t(Remaining(in, end)) / 4;
        if (count > fit)
            count = fit;
        ArrayClear(&t->sizeTable);
        size_t reserve = (t->base.format.kind == PACKET_VIDEO ? 2 * Reserve(count) : Reserve(count)) + 1024;
        if (!ArrayAlloc(&t->sizeTable, reserve, 1024))
            return;
        Predictor p;
        Packer packer(&t->sizeTable);
        t->sampleCount = int(ReadEntries(in, count, 1, [&](const uint8_t* e) { packer.Put(TwoBackResidual(p, Be32(e))); }));
        packer.Flush();
        t->sizePack = p;
        return;
    }
    if (constSize == 1)
        t->chunkPackets = 1;
    t->sampleCount = ClampCount(count);
}

void ReadChunkMap(Mp4Reader*, Mp4Track* t, In* in, int end)
{
    uint32_t count = TableCount(in, end, 12);
    ArrayClear(&t->chunkMap);
    if (!ArrayAlloc(&t->chunkMap, (Reserve(count) + 1) * sizeof(Mp4MapEntry), 1024))
        return;
    ReadEntries(in, count, 3, [&](const uint8_t* e) {
        Mp4MapEntry m = {ClampCount(Be32(e) - 1), int32_t(Be32(e + 4))};
        if (Be32(e) == 0)
            m.firstChunk = 0;
        ArrayAppend(&t->chunkMap, &m, sizeof(m), Growth(&t->chunkMap));
    });
    Mp4MapEntry last = {INT_MAX, 0};
    if (!ArrayAppend(&t->chunkMap, &last, sizeof(last), Growth(&t->chunkMap)))
        ArrayClear(&t->chunkMap);
}

void ReadChunkOffsets(Mp4Reader*, Mp4Track* t, In* in, int end)
{
    uint32_t count = TableCount(in, end, 4);
    ArrayClear(&t->chunkOffsets);
    if (!ArrayAlloc(&t->chunkOffsets, (Reserve(count) + 1) * 4, 1024))
        return;
    ReadEntries(in, count, 1, [&](const uint8_t* e) {
        int32_t v = ClampCount(Be32(e));
        ArrayAppend(&t->chunkOffsets, &v, 4, Growth(&t->chunkOffsets));
    });
    uint32_t got = uint32_t(ARRAYCOUNT(t->chunkOffsets, int32_t));
    int32_t* first = ARRAYBEGIN(t->chunkOffsets, int32_t);
    int32_t* last = first + got;
    int32_t* from = got < 3 ? first : first + 1;
    int32_t* to = got < 3 ? last : last - 1;
    t->minChunk = INT_MAX;
    t->maxChunk = 0;
    for (int32_t* p = from; p < to; ++p) {
        if (*p < t->minChunk)
            t->minChunk = *p;
        if (*p > t->maxChunk)
            t->maxChunk = *p;
    }
    int32_t terminator = INT_MAX;
    if (!ArrayAppend(&t->chunkOffsets, &terminator, 4, Growth(&t->chunkOffsets)))
        ArrayClear(&t->chunkOffsets);  // without its end the table is not used
}

void ReadTimeTable(Mp4Reader*, Mp4Track* t, In* in, int end)
{
    uint32_t count = TableCount(in, end, 8);
    ArrayClear(&t->timeTable);
    if (!ArrayAlloc(&t->timeTable, (Reserve(count) + 1) * sizeof(Mp4TimeEntry), 1024))
        return;
    t->decodeEnd = 0;
    ReadEntries(in, count, 2, [&](const uint8_t* e) {
        Mp4TimeEntry v = {ClampCount(Be32(e)), int32_t(Be32(e + 4))};
        if (ArrayAppend(&t->timeTable, &v, sizeof(v), Growth(&t->timeTable)))
            AddTime(&t->decodeEnd, int64_t(v.count) * v.delta);
    });
    Mp4TimeEntry last = {INT_MAX, 0};
    if (!ArrayAppend(&t->timeTable, &last, sizeof(last), Growth(&t->timeTable)))
        ArrayClear(&t->timeTable);
}

void ReadCompositionTable(Mp4Reader*, Mp4Track* t, In* in, int end)
{
    uint32_t count = TableCount(in, end, 8);
    int64_t smallest = INT64_MAX;
    ReadEntries(in, count, 2, [&](const uint8_t* e) {
        int32_t offset = int32_t(Be32(e + 4));
        if (offset < smallest)
            smallest = offset;
    });
    if (smallest != INT64_MAX && (!t->ctsSeen || smallest < t->ctsSmallest)) {
        t->ctsSeen = 1;
        t->ctsSmallest = int(smallest);
    }
}

// ---- tracks and cursors ----

int ChunkMapSamples(const Mp4Track* t)
{
    size_t chunks = t->chunkOffsets.data ? ARRAYCOUNT(t->chunkOffsets, int32_t) : 0;
    size_t maps = t->chunkMap.data ? ARRAYCOUNT(t->chunkMap, Mp4MapEntry) : 0;
    if (chunks < 1 || maps < 1)
        return 0;
    const Mp4MapEntry* map = ARRAYBEGIN(t->chunkMap, const Mp4MapEntry);
    int64_t samples = 0;
    int64_t chunkCount = int64_t(chunks - 1);
    for (size_t i = 0; i + 1 < maps; ++i) {
        int64_t next = map[i + 1].firstChunk < chunkCount ? map[i + 1].firstChunk : chunkCount;
        int64_t n = next - map[i].firstChunk;
        if (n > 0 && map[i].samplesPerChunk > 0)
            samples += n * map[i].samplesPerChunk;
    }
    return samples > INT_MAX ? INT_MAX : int(samples);
}

void FinishTrack(Mp4Reader* r, Mp4Track* t)
{
    size_t chunks = t->chunkOffsets.data ? ARRAYCOUNT(t->chunkOffsets, int32_t) : 0;
    size_t times = t->timeTable.data ? ARRAYCOUNT(t->timeTable, Mp4TimeEntry) : 0;
    size_t maps = t->chunkMap.data ? ARRAYCOUNT(t->chunkMap, Mp4MapEntry) : 0;
    // A track that fragments add to may have no sample of its own yet: its tables are the
    // terminators alone.
    size_t least = t->extended ? 1 : 2;
    if (!t->hasFormat || chunks < least || times < least || maps < least) {
        Format_RemoveStream(r, &t->base);
        return;
    }
    t->samples = ChunkMapSamples(t);
    if (t->ctsSeen && t->ctsSmallest > 0 && t->ctsSmallest < t->timescale)
        t->startTime = t->ctsSmallest;
    // Samples of a constant size cannot outnumber the bytes of the file.
    if (t->constSize > 0 && !t->chunkPackets) {
        int limit = r->fileLength > 0 ? r->fileLength / t->constSize + 1 : 1 << 26;
        if (t->sampleCount > limit)
            t->sampleCount = limit;
    }
    PacketFormat* f = &t->base.format;
    // Without a duration of the movie's own, the samples of the first fragment tell the rate.
    int duration = t->duration > 0 ? t->duration : t->extended ? Ticks(t->decodeEnd, t->timescale) : 0;
    if (f->kind == PACKET_VIDEO && duration > 0) {
        f->packetRateNum = MulDiv(t->samples, 16384000, duration);
        f->packetRateDen = 1000;
        if (f->packetRateNum < 1000)
            f->pixelFlags |= 0x4000;
    }
    PacketFormatDefault(f);
    CursorInit(t, &t->cursor);
    t->finished = 1;
    Format_PrepairStream(r, &t->base);
}

void FinishTracks(Mp4Reader* r)
{
    for (int i = r->base.streamCount - 1; i >= 0; --i)
        FinishTrack(r, TrackAt(r, i));
}

void CursorInit(const Mp4Track* t, Mp4Cursor* c)
{
    memset(c, 0, sizeof(*c));
    c->time = t->startTime;
    c->syncPos = reinterpret_cast<const uint8_t*>(t->syncTable.data);
    c->syncEnd = reinterpret_cast<const uint8_t*>(t->syncTable.end);
    c->sizePos = reinterpret_cast<const uint8_t*>(t->sizeTable.data);
    c->sizeEnd = reinterpret_cast<const uint8_t*>(t->sizeTable.end);
    c->timeEntry = ARRAYBEGIN(t->timeTable, const Mp4TimeEntry);
    c->timeLeft = c->timeEntry->count;
    c->mapEntry = ARRAYBEGIN(t->chunkMap, const Mp4MapEntry);
    c->chunkEntry = ARRAYBEGIN(t->chunkOffsets, const int32_t);
    c->size = t->constSize;
    if (t->syncTable.data)
        NextLinear(&c->syncPos, c->syncEnd, &c->syncDelta, &c->nextSync);
    else
        c->nextSync = t->allKey ? 0 : -1;
}

bool StartChunk(const Mp4Track* t, Mp4Cursor* c)
{
    const int32_t* first = ARRAYBEGIN(t->chunkOffsets, const int32_t);
    for (;;) {
        if (*c->chunkEntry == INT_MAX)
            return false;
        if (c->sample >= t->sampleCount) {
            c->chunkEntry = LastChunk(t);
            c->chunkLeft = 0;
            return false;
        }
        int index = int(c->chunkEntry - first);
        while (c->mapEntry[1].firstChunk <= index)
            ++c->mapEntry;
        c->chunkLeft = c->mapEntry->samplesPerChunk;
        ++c->chunkEntry;
        if (c->chunkLeft > 0) {
            if (c->chunkLeft > t->sampleCount - c->sample)
                c->chunkLeft = t->sampleCount - c->sample;
            return true;
        }
    }
}

int ConsumeSample(const Mp4Track* t, Mp4Cursor* c)
{
    if (t->chunkPackets) {
        int n = c->chunkLeft;
        if (n <= 0)
            return 0;
        for (int left = n; left > 0;) {
            if (c->timeLeft <= 0)
                StepTime(t, c);
            int k = left < c->timeLeft ? left : c->timeLeft;
            c->time += int64_t(k) * c->timeEntry->delta;
            c->timeLeft -= k;
            left -= k;
        }
        c->sample += n;
        c->chunkLeft = 0;
        int64_t size = t->constSize == 1 && t->framesPerBlock > 0 && t->bytesPerBlock > 0
                           ? int64_t(n) * t->bytesPerBlock / t->framesPerBlock
                           : int64_t(n) * t->constSize;
        return size > INT_MAX ? INT_MAX : int(size);
    }
    if (c->timeLeft <= 0)
        StepTime(t, c);
    --c->timeLeft;
    ++c->sample;
    --c->chunkLeft;
    c->time += c->timeEntry->delta;
    if (t->constSize == 0)
        NextTwoBack(&c->sizePos, c->sizeEnd, &c->sizeDelta, &c->size);
    return c->size;
}

void BindTracks(Mp4Reader* r)
{
    for (int i = 0; i < r->base.streamCount; ++i) {
        Mp4Track* t = TrackAt(r, i);
        FormatReaderInput* in = Format_FindReader(r, t->minChunk, t->maxChunk);
        if (!in)
            break;
        t->base.reader = in;
    }
    for (In& in : r->base.input) {
        in.user = nullptr;
        int error;
        if (in.inputStream)
            ChooseChunk(r, &in, &error);  // a failure shows again at the first read
    }
}

// ---- slots ----

int ReadPacket(void* self, In* in, Packet* packet)
{
    Mp4Reader* r = static_cast<Mp4Reader*>(self);
    Mp4Track* t = static_cast<Mp4Track*>(in->user);
    if (!t || t->cursor.chunkLeft <= 0 || !t->base.selected) {
        int error;
        t = ChooseChunk(r, in, &error);
        if (!t)
            return r->fragmentError ? r->fragmentError : error ? error : ERR_END_OF_FILE;
    }
    Mp4Cursor& c = t->cursor;
    packet->time = Ticks(c.time, t->timescale);
    int key = 1;
    if (c.nextSync >= 0) {
        key = c.sample == c.nextSync;
        if (key)
            NextSync(t, &c);
    }
    int size = ConsumeSample(t, &c);
    if (c.chunkLeft <= 0)
        in->user = nullptr;
    int limit = r->fileLength > 0 ? r->fileLength : kMaxUnknownPacket;
    if (size < 0 || size > limit || (!t->chunkPackets && size > kMaxSample)) {
        // A size no file holds: the track ends here.
        c.chunkEntry = LastChunk(t);
        c.chunkLeft = 0;
        in->user = nullptr;
        return ERR_INVALID_DATA;
    }
    BlockRef* data = size > 0 ? in->inputReadBlock(in, size) : Format_AllocRef(0);
    if (!data && size > 0)
        return ERR_END_OF_FILE;
    packet->data = data;
    packet->stream = &t->base;
    packet->key = key;
    return 0;
}

int Seek(void* self, int time, int filePos, int preferEarlierKey)
{
    Mp4Reader* r = static_cast<Mp4Reader*>(self);
    ReadFragmentsUntil(r, time, filePos);
    int flag = preferEarlierKey ? 1 : 0;
    int first = -1;
    for (int i = 0; i < 2 && first < 0; ++i) {
        FormatStream* s = Format_DefSyncStream(r, &r->base.input[i]);
        Mp4Track* t = reinterpret_cast<Mp4Track*>(s);
        if (s && s->format.kind == PACKET_VIDEO && HasKeyInfo(t)) {
            first = i;
            int rc = SeekTrack(r, &r->base.input[i], t, &time, filePos, &flag);
            if (rc < 0)
                return rc;
            if (t->allKey && time >= 0)
                r->base.seekTime = time;
        }
    }
    if (first < 0)
        flag = 0;
    for (int i = 0; i < 2; ++i) {
        if (i == first)
            continue;
        FormatStream* s = Format_DefSyncStream(r, &r->base.input[i]);
        if (!s)
            continue;
        int rc = SeekTrack(r, &r->base.input[i], reinterpret_cast<Mp4Track*>(s), &time, filePos, &flag);
        if (rc < 0)
            return rc;
    }
    Format_AfterSeek(r);
    return 0;
}

void FreeStreams(void*, FormatStream* stream)
{
    Mp4Track* t = reinterpret_cast<Mp4Track*>(stream);
    ArrayClear(&t->syncTable);
    ArrayClear(&t->sizeTable);
    ArrayClear(&t->timeTable);
    ArrayClear(&t->chunkMap);
    ArrayClear(&t->chunkOffsets);
}

}  // namespace mp4
