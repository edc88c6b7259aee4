// The FLV reader (class FLV_). Built into splitter.plg and, alone, into tagsift.plg.
#pragma once

#include "core/common.h"

#define FLV_CLASS FOURCC('F', 'L', 'V', '_')
#define FLV_KEYS 50

struct FlvReader {
    Format base;
    int32_t dataStart;              // file offset of the first tag
    int32_t keyCount;               // entries in keyPositions
    int32_t keyPositions[FLV_KEYS]; // start point tag offsets spread over the file, increasing
    int32_t keyTimes[FLV_KEYS];     // their tag times (ms)
    // A tag whose header and flags byte a seek read on a stream that cannot go back: the
    // next packet is its payload.
    int32_t pending;
    int32_t pendingPos, pendingType, pendingSize, pendingTime, pendingFlags;
    int32_t readTime;                      // ms of the last tag read, -1 before the first
    int32_t lastStartPos, lastStartTime;   // the last start point read (-1: none)
};

struct FlvStream {
    FormatStream base;
    int isAudio;
};

// Adds the class's three texts, then registers the class.
void FlvRegister();
// Unregisters the class: NodeUnRegisterClass's result.
int FlvUnRegister();
