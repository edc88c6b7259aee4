// The FLV reader (class FLV_). Built into splitter.plg and, alone, into tagsift.plg.
#pragma once

#include "core/common.h"

#define FLV_CLASS FOURCC('F', 'L', 'V', '_')
#define FLV_KEYS 50

struct FlvReader {
    Format base;
    int32_t dataStart;              // file offset of the first tag
    int32_t keyCount;               // entries in keyPositions
    int32_t keyPositions[FLV_KEYS]; // video keyframe tag offsets spread over the file, increasing
};

struct FlvStream {
    FormatStream base;
    int isAudio;
};

// Adds the class's three texts, then registers the class.
void FlvRegister();
// Unregisters the class: NodeUnRegisterClass's result.
int FlvUnRegister();
