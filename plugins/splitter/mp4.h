// The MP4/QuickTime reader (class MP4F): its object, its tracks and their cursors.
#pragma once

#include <cstdint>

#include "core/common.h"
#include "mp4table.h"

#define MP4_CLASS FOURCC('M', 'P', '4', 'F')

// One stts entry (terminated by {INT_MAX, 0}).
struct Mp4TimeEntry {
    int32_t count;
    int32_t delta;
};

// One stsc entry, first chunk 0-based (terminated by {INT_MAX, 0}).
struct Mp4MapEntry {
    int32_t firstChunk;
    int32_t samplesPerChunk;
};

// The read position in a track; copied whole when a seek saves or restores a position.
struct Mp4Cursor {
    int64_t time;           // decode time of the next sample, track units
    int32_t sample;         // number of the next sample, 0-based
    int32_t chunkLeft;      // samples left in the current chunk
    int32_t syncDelta;      // predictor state of the key sample numbers
    int32_t nextSync;       // number of the next key sample; -1 = no key information
    int32_t sizeDelta;      // predictor state of the sizes
    int32_t size;           // size of the last sample read
    int32_t timeLeft;       // samples left in the current stts entry
    const uint8_t* syncPos;
    const uint8_t* syncEnd;
    const Mp4TimeEntry* timeEntry;
    const Mp4MapEntry* mapEntry;
    const uint8_t* sizePos;
    const uint8_t* sizeEnd;
    const int32_t* chunkEntry;  // the next chunk offset (INT_MAX once used up)
};

struct Mp4Track {
    FormatStream base;
    int duration;        // ticks (or the raw value when not positive)
    int timescale;       // track units per second
    int framesPerBlock;  // block geometry of block-coded audio, 0 otherwise
    int bytesPerBlock;
    int allKey;          // every sample is a key sample
    int minChunk;        // chunk offsets taken for the input range
    int maxChunk;
    int startTime;       // first sample's time, track units (from ctts)
    Mp4Cursor cursor;
    int constSize;       // stsz sample size, 0 = sizes in sizeTable
    Array syncTable;     // packed key sample numbers (linear predictor)
    Array sizeTable;     // packed sizes (two-back predictor)
    Array timeTable;     // Mp4TimeEntry
    Array chunkMap;      // Mp4MapEntry
    Array chunkOffsets;  // int32_t
    int chunkPackets;    // whole chunks are delivered as packets
    // Ours besides:
    fourcc_t codec;      // FourCC of the first sample description, as in the file
    int hasFormat;       // the sample description named a codec of the table
    int sampleCount;     // samples the size table covers: reading stops there
    int samples;         // samples of the chunk map
    // Fragments ('moof') append their samples to the same tables.
    int trackId;         // from 'tkhd'; fragments name their track by it
    int defaultDuration; // sample defaults from 'trex'
    int defaultSize;
    int defaultFlags;
    int64_t decodeEnd;   // decode time behind the last sample of the tables, track units
    mp4::Predictor syncPack;  // where the packed tables' predictors stand after their last entry
    mp4::Predictor sizePack;
    int extended;        // a 'trex' names the track: fragments may add to it
    int fragmentSync;    // fragments add their key samples to syncTable
    int ctsSeen;         // composition offsets were met; ctsSmallest is the smallest
    int ctsSmallest;
    int finished;        // announced; its cursor is live
};

// Where the cursor of a track stood while samples are appended to its tables (the tables
// may move in memory, and lack their terminators meanwhile).
struct Mp4AppendMark {
    size_t syncPos, sizePos;
    size_t timeEntry, mapEntry, chunkEntry;
    size_t timeCount;   // stts entries before the append
    size_t syncBytes;   // bytes of syncTable before the append
    uint32_t syncPrev;  // the last key sample number packed before it
    bool ok;            // every sample went in
};

// The sample defaults a 'trex' gives a track id, kept for tracks the reader drops too: their
// fragments' data still moves the implied base of the track fragments behind.
struct Mp4Extends {
    uint32_t trackId;
    uint32_t duration, size, flags;
};

struct Mp4Reader {
    Format base;
    int moovSeen;
    fourcc_t compression;   // from 'dcom', cleared after 'cmov'
    int movieTimescale;
    int redirectMode;       // inside 'rmra'
    int mixedShown;         // the mixed sample description message was shown
    Mp4Track* currentTrack; // the track whose atoms are walked
    tchar tagName[32];      // the comment key being collected ("" = none)
    int depth;              // nesting of the atom walk
    int inflated;           // nesting of compressed movie headers
    int fileLength;         // bytes of the input, 0 = not known
    int fragmented;         // the movie has 'mvex': samples follow in 'moof' atoms
    int nextFragment;       // file offset of the next top-level atom to read, -1 = no more
    int fragmentError;      // what reading the fragments met (0, or the code to report)
    int moovStart, moovEnd; // the top-level 'moov': no fragment's samples lie in it
    int moofFirst;          // a 'moof' came before the 'moov'
    int64_t claimed;        // bytes the fragments' samples claim so far (a sample claims 1 at least)
    int extendsCount;
    Mp4Extends extends[16];
};

extern const NodeClassDef Mp4Class;

namespace mp4 {

// Sample side (mp4samples.cpp), called by the atom walk.
void ReadSyncTable(Mp4Reader* r, Mp4Track* t, FormatReaderInput* in, int end);
void ReadSizeTable(Mp4Reader* r, Mp4Track* t, FormatReaderInput* in, int end);
void ReadChunkMap(Mp4Reader* r, Mp4Track* t, FormatReaderInput* in, int end);
void ReadChunkOffsets(Mp4Reader* r, Mp4Track* t, FormatReaderInput* in, int end);
void ReadTimeTable(Mp4Reader* r, Mp4Track* t, FormatReaderInput* in, int end);
void ReadCompositionTable(Mp4Reader* r, Mp4Track* t, FormatReaderInput* in, int end);
// After a track's atoms: removes it when its tables are missing, else announces it.
void FinishTrack(Mp4Reader* r, Mp4Track* t);
// Open's last steps: chapters of text tracks are read by the caller; this binds the
// tracks to the inputs and primes them.
void BindTracks(Mp4Reader* r);
// Samples the chunk map gives.
int ChunkMapSamples(const Mp4Track* t);
// After the walk: finishes every track, last first (a track may be removed).
void FinishTracks(Mp4Reader* r);
void CursorInit(const Mp4Track* t, Mp4Cursor* c);
// Appending a fragment's samples to a track: one chunk per run of samples.
void BeginAppend(Mp4Track* t, Mp4AppendMark* m);
bool AppendChunk(Mp4Track* t, Mp4AppendMark* m, int offset, int count);
void AppendSample(Mp4Track* t, Mp4AppendMark* m, uint32_t duration, uint32_t size, bool sync);
// A fragment whose decode time lies behind the end of the track's samples: the last
// sample lasts until then.
void AppendGap(Mp4Track* t, Mp4AppendMark* m, int64_t gap);
void EndAppend(Mp4Reader* r, Mp4Track* t, Mp4AppendMark* m);
bool StartChunk(const Mp4Track* t, Mp4Cursor* c);
int ConsumeSample(const Mp4Track* t, Mp4Cursor* c);

// Moves the input to a file offset; forward moves pass what is buffered and then skip, so
// that a stream that cannot seek is read through instead.
bool MoveTo(FormatReaderInput* in, int64_t at);

// Fragments (mp4fragments.cpp). A movie with 'mvex' is read as far as its first fragment at
// open; the others are read as the packets or a seek reach them, so that a stream is read
// front to back.
void ReadTrackExtends(Mp4Reader* r, FormatReaderInput* in, int end);
// Gets the tracks ready to take samples from fragments (before the first is read).
void PrepareFragments(Mp4Reader* r);
// Reads the next 'moof' from nextFragment on: true when one was read.
bool ReadFragment(Mp4Reader* r, FormatReaderInput* in);

int ReadPacket(void* self, FormatReaderInput* input, Packet* packet);
int Seek(void* self, int time, int filePos, int preferEarlierKey);
void FreeStreams(void* self, FormatStream* stream);

// The packet time of a cursor time.
inline int Ticks(int64_t time, int timescale)
{
    if (timescale == 0)
        return 0;
    return int(uint32_t(uint64_t(static_cast<__int128>(time) * 16384 / timescale)));
}

}  // namespace mp4
