// Format readers (class FMTB): block references, packet formats, stream records,
// packets, the two input records and the Format_* services.
#pragma once

#include <cstdint>

#include "core/array.h"
#include "core/node.h"
#include "core/stream.h"

// --- Data blocks and references ---

// A buffer of the core, counted by the references to it.
struct Block {
    uint8_t* data;
    int size;
    int refCount;
};

// A view of part of a block; references chain through `next` (a packet's data may be
// several pieces). Released with Format_ReleaseRef.
struct BlockRef {
    uint8_t* data;    // first byte of the view
    int length;       // bytes of the view
    BlockRef* next;   // the next piece, or null
    Block* block;     // the block it keeps alive
};

// A block of `size` bytes (refCount 1), or null. Block_Release drops one count.
Block* Block_Alloc(int size);
void Block_Release(Block* block);
// A reference to a new block of `length` bytes, or null.
BlockRef* Format_AllocRef(int length);
// A reference to bytes [offset, offset + length) of a chain (length -1 = the rest); a
// range over several pieces gives a chain. Null when the range lies outside the chain
// or memory runs out.
BlockRef* Format_DupRef(const BlockRef* ref, int offset = 0, int length = -1);
// Releases a whole chain. Null is ignored.
void Format_ReleaseRef(BlockRef* ref);
// The bytes of a whole chain.
int Format_RefLength(const BlockRef* ref);

// --- Packet formats ---

#define PACKET_NONE 0
#define PACKET_VIDEO 1
#define PACKET_AUDIO 2
#define PACKET_TEXT 3

struct PacketFormat {
    int kind;                 // PACKET_VIDEO, PACKET_AUDIO, PACKET_TEXT
    int packetRateNum;        // packets per second as a fraction
    int packetRateDen;
    int byteRate;             // bytes per second, 0 = not known
    // audio
    int formatTag;            // 1 PCM, 2 ADPCM, 85 MPEG layer 3, 0xAAC0 AAC, ...
    int channels;
    int sampleRate;
    int bits;                 // bits per sample
    int bitsExtra;            // the word after bits (the FLV reader writes 15)
    int blockAlign;
    int audioFlags;
    // video
    int width;
    int height;
    int aspect;               // 16.16; 0x10000 = square pixels
    int pixelFlags;
    fourcc_t fourcc;          // video or text FourCC ('FLV1', 'avc1', 'TEXT', ...)
    int bitCount;
    // codec extra data (PacketFormatExtra)
    uint8_t* extra;
    int extraLength;
};

// Frees the extra data and zeroes the format.
void PacketFormatClear(PacketFormat* format);
// Completes derived fields left 0: audio block align = channels x bits / 8 (at least
// 1 byte per channel) and byte rate = sample rate x block align for PCM-like tags
// (1, 6, 7); video aspect = 0x10000.
void PacketFormatDefault(PacketFormat* format);
// (Re)allocates `length` bytes of zeroed extra data: true when made; the caller then
// copies the bytes to format->extra. Length 0 frees it.
bool PacketFormatExtra(PacketFormat* format, int length);

struct Format;
struct FormatReaderInput;

// --- Stream records ---

// The record Format_AddStream makes; a reader asks for its own size and puts its own
// fields after this one (struct Mp4Track { FormatStream base; ... }).
struct FormatStream {
    PacketFormat format;        // filled by the reader before Format_PrepairStream
    CommentSink comment;        // comments about this stream (copied from the format's)
    FormatReaderInput* reader;  // the input record this stream's packets come from
    int selected;               // set by the host: read this stream's packets
    int number;                 // index in the format's stream list
    int announced;              // set by Format_PrepairStream
    int recordSize;
    Format* owner;
};

// --- Packets ---

struct Packet {
    BlockRef* data;         // the packet's bytes; the host releases them
    int time;               // ticks of 1/16384 s, or -1 when not known
    FormatStream* stream;
    int key;                // a key (sync) packet
};

// --- Input records ---

// The byte source of a format reader. Every call passes the record first. The record
// may be copied by value (it holds no pointer into itself); a copy shares the buffered
// block with its original, so only one of them may go on reading. Positions are file
// offsets (in memory mode, offsets into the memory). Multi-byte values are read whole;
// missing bytes at the end read as 0 and leave the record at its end.
struct FormatReaderInput {
    int (*inputSeek)(FormatReaderInput* in, int pos, int whence);  // 0, or negative
    bool (*inputAtEnd)(FormatReaderInput* in);
    int (*inputSkip)(FormatReaderInput* in, int n);                // 0, or negative
    int (*inputRead)(FormatReaderInput* in, void* buffer, int n);  // bytes read
    int (*inputRead8)(FormatReaderInput* in);                       // the byte, or -1 at the end
    int (*inputRead16BE)(FormatReaderInput* in);
    uint32_t (*inputRead32BE)(FormatReaderInput* in);
    uint64_t (*inputRead64BE)(FormatReaderInput* in);
    BlockRef* (*inputReadBlock)(FormatReaderInput* in, int n);      // n bytes, null on failure
    int (*inputRead16LE)(FormatReaderInput* in);
    uint32_t (*inputRead32LE)(FormatReaderInput* in);
    uint64_t (*inputRead64LE)(FormatReaderInput* in);

    // The fill: gives the next bytes (at most `wanted`) as a new reference, or null at
    // the end or on failure. The core's fill reads inputStream; a reader may put its own
    // in a copy of the record (using `user` to find its source).
    BlockRef* (*inputFill)(FormatReaderInput* in, int wanted);

    Stream* inputStream;    // the byte stream (null for an unused input)
    int inputPosition;      // offset of the next byte
    Format* format;         // the reader that owns the record
    void* user;             // free for the reader (e.g. its current track on this input)
    int number;             // 0 or 1

    // Buffer state: bytes [bufferPos, bufferLength) of bufferData are read next.
    BlockRef* buffer;       // the buffered reference (null in memory mode)
    const uint8_t* bufferData;
    int bufferPos;
    int bufferLength;
    int memoryMode;         // reading a memory buffer (Format_InputMemory)
    int atEnd;
    int fillSize;           // bytes asked of each fill by the core's fill
    int readError;          // a read of the stream failed: its end is no end of the data
};

// Switches the record to read `length` bytes of memory as if they were the file
// (positions from 0). The record's buffer is not released: save a copy of the record
// first and assign it back afterwards.
void Format_InputMemory(FormatReaderInput* in, const void* data, int length);
// Binds a stream to input record `number` (0 or 1) at the stream's current position,
// dropping what the record had buffered (host).
int Format_SetInput(void* format, int number, Stream* stream);
// Drops the record's buffer (releasing it) so that the next read fills anew at
// inputPosition.
void Format_InputFlush(FormatReaderInput* in);

// --- The format reader object ---

#define FORMAT_MAX_STREAMS 128

struct Format {
    Node node;                 // words 0-3: the core's (RASH puts its own setParam in word 3)
    void* coreWord4;
    void* coreWord5;
    void* coreWord6;
    int (*openFormat)(void* self);                                            // word 7
    void (*closeFormat)(void* self);                                          // word 8
    // word 9: time in ticks or -1, file position or -1, prefer the earlier key.
    int (*seekFormat)(void* self, int time, int filePos, int preferEarlierKey);
    void* coreWord10;
    int (*readPacket)(void* self, FormatReaderInput* input, Packet* packet);  // word 11
    void (*freeStreams)(void* self, FormatStream* stream);                    // word 12
    void (*releaseStream)(void* self, FormatStream* stream);                  // word 13
    void (*resetAfterSeek)(void* self);                                       // word 14
    void* coreWord15;
    void* coreWord16;
    void (*packetState)(void* self, int save);                                // word 17

    // Streams, in the order they were added.
    int streamCount;
    FormatStream* streams[FORMAT_MAX_STREAMS];

    int fileSize;       // bytes, 0 = not known
    int duration;       // ticks, 0 = not known, -1 = a broadcast
    int timeBase;       // ticks subtracted from packet times (ASF send time)
    int byteRate;       // bytes per second of the whole, 0 = not known
    int dataStart;      // file offset of the first packet (packet seeking)
    int packetSize;     // fixed packet size, 0 = varying
    int timeSeek;       // set to 1 by readers that seek by time; others are given a file position
    int fillSize;       // preferred bytes per input fill, 0 = the core's default
    int seekTime;       // the time (ticks) the last seek reached, when the reader knows it
    CommentSink comment; // receiver of the format's comments (set by the host)

    FormatReaderInput input[2];
};

// Format base parameters (setParam / FormatBaseSet).
#define FormatStreamSelect 80  // int time (ticks): the host changed stream selection words
#define FormatCommentSink 81   // CommentSink: where comments go

// The base's setParam (a reader overriding word 3 calls it first).
int FormatBaseSet(void* format, int id, const void* data, int size);
int FormatBaseGet(void* format, int id, void* data, int size);

// Adds a zeroed stream record of `recordSize` bytes (at least sizeof(FormatStream)) to
// the stream list; null when memory runs out or the list is full.
FormatStream* Format_AddStream(void* format, int recordSize);
// Announces a stream once its packet format is filled; it is then selected.
void Format_PrepairStream(void* format, FormatStream* stream);
// Unlinks a stream and frees it (the reader's freeStreams runs first).
void Format_RemoveStream(void* format, FormatStream* stream);
// Resets the core's state after a seek: the reader's resetAfterSeek, then per stream
// its releaseStream.
void Format_AfterSeek(void* format);
// Among the selected streams bound to that input, a video one, else the first; or null.
FormatStream* Format_DefSyncStream(void* format, FormatReaderInput* input);
// The input record for a stream whose data lies in [minOffset, maxOffset]; null when
// there is none.
FormatReaderInput* Format_FindReader(void* format, int minOffset, int maxOffset);
// Seeks by packet number from dataStart, packetSize, byteRate and duration (time in
// ticks, or the file position when time is -1), then Format_AfterSeek. 0 or negative.
int Format_SeekByPacket(void* format, int time, int filePos, int preferEarlierKey);
// Sends the input stream back to the network for its start (a new request, with the
// headers it was last given) and flushes the input buffer: 0 or negative.
int Format_SeekForce(void* format, int time, int filePos);
// Fills an audio format from a little-endian WAVEFORMATEX (tag, channels, rate, byte
// rate, block align, bits, extra length and extra bytes).
void Format_WaveFormat(void* format, PacketFormat* out, const void* data, int length);
