// The MP4/QuickTime reader (class MP4F): its object, its tracks and their cursors.
#pragma once

#include <cstdint>

#include "core/common.h"

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
void CursorInit(const Mp4Track* t, Mp4Cursor* c);
bool StartChunk(const Mp4Track* t, Mp4Cursor* c);
int ConsumeSample(const Mp4Track* t, Mp4Cursor* c);

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
