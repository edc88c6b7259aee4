// The ASF reader (class RASF) and its MMS-over-HTTP variant (class RASH). Built into
// splitter.plg, whose DLLRegister does not register them; AsfRegister does.
#pragma once

#include "core/common.h"

#define RASF_CLASS FOURCC('R', 'A', 'S', 'F')
#define RASH_CLASS FOURCC('R', 'A', 'S', 'H')

struct AsfGuid {
    uint8_t bytes[16];  // as stored in the file
};

enum AsfGuidIndex {
    AsfHeaderObject,
    AsfFileProperties,
    AsfStreamProperties,
    AsfAudioMedia,
    AsfVideoMedia,
    AsfContentDescription,
    AsfCodecList,
    AsfDataObject,
    AsfSimpleIndex,
    AsfHeaderExtension,
    AsfHeaderExtensionReserved,
    AsfNoErrorCorrection,
    AsfAudioSpread,
    AsfExtendedContentDescription,
    AsfMarkerObject,
    AsfStreamBitrateProperties,
    AsfExtendedStreamProperties,
    AsfGuidCount
};

// Where the payloads of the data packets stand.
struct AsfParser {
    int multiplePayloads;
    int propertyFlags;     // payload field sizes; the payload length type in bits 14-15
    int payloadsLeft;
    int payloadEnd;        // end of the current payload, -1 none
    int nextPacket;        // offset of the next packet header, -1 none
    int padding;
    int packetEnd;         // end of the current packet's payloads
    int currentStream;     // ASF number of the current payload's stream, 0 none
    int compressed;        // the current payload is a run of sub-payloads
    int objectOffset;
    int presentationTime;  // ms
    int nextSubTime;       // ms of the next sub-payload
    int subTimeDelta;
    int keyBit;
    int pendingTime;       // ticks a stream selection asked for, -1 none
};

// A media object being put together from its fragments.
struct AsfCollection {
    int collected;
    int objectSize;
    int objectTime;        // ticks
    BlockRef* chain;
    BlockRef* chainEnd;
};

struct AsfStream {
    FormatStream base;
    int streamNumber;      // 1..127
    int timeOffset;        // ms: the stream's time offset minus the preroll
    int span;              // Audio Spread; 0 or 1 = not scrambled
    int virtualPacket;
    int virtualChunk;
    AsfCollection collection;
    AsfCollection saved;
};

struct AsfBitrate {
    int streamNumber;
    int bitrate;
};

// What the MMS-over-HTTP variant adds; part of every reader object, as RASH takes
// RASF's size.
struct RashState {
    FormatReaderInput virtualInput;  // reads the chunk bodies of input[0]
    int chunkLeft;                   // body bytes of the current chunk not yet read
    int expectedChunk;               // 0x4824 header, 0x4424 data
    uint32_t clientNumber;
    int isRash;
};

struct AsfReader {
    Format base;
    AsfGuid guids[AsfGuidCount];
    Array bitrates;  // AsfBitrate
    int64_t packetCount;
    int64_t playDuration;  // 100 ns
    int preroll;           // ms
    uint32_t fileFlags;
    uint32_t minPacket;
    uint32_t maxPacket;
    int live;
    int liveSaved;
    AsfParser parser;
    AsfParser savedParser;
    RashState rash;
};

// Registers RASF then RASH; AsfUnRegister removes them in the same order and returns
// the last NodeUnRegisterClass result. splitter.plg's DLLRegister calls neither.
void AsfRegister();
int AsfUnRegister();
