// The core's own byte streams: local files and memory.
#pragma once

#include <cstdio>

#include "core/stream.h"

namespace core {

struct FileStream {
    Stream base;
    FILE* file;
    int length;
    int position;
    tchar path[1024];
};

struct MemStream {
    Stream base;
    unsigned char* data;
    int length;
    int position;
};

// The stream the host hands to the format readers: it keeps the first bytes read from
// the stream it wraps, so that every reader tried starts on them without the wrapped
// stream being rewound (a network stream reconnects to rewind). Seeks are only noted
// and made when a read needs them, where the wrapped stream's length is known.
struct HeadStream {
    Stream base;
    Stream* inner;
    unsigned char* head;  // bytes [0, headLength) of the stream
    int headLength;
    int position;       // of the next byte a read delivers
    int innerPosition;  // where the wrapped stream stands, -1 when not known
    int probing;        // readers are being tried (until HeadStreamOpened)
};
#define HEAD_KEEP (256 * 1024)

int HeadStreamSetUp(void* object);
void HeadStreamTearDown(void* object);
// Wraps `inner` (taken over: deleted with the wrapper), which must stand at its start.
// The wrapper carries the inner stream's class in word 0, as readers look at it. Null
// when memory runs out (the inner stream is then deleted).
Stream* HeadStreamCreate(Stream* inner);
// A reader has opened on the wrapper: from now on it may read the wrapped stream on past
// what is kept of its start.
void HeadStreamOpened(Stream* stream);
// Sends a stream back to its start through a new request (a wrapper lets go of the bytes it
// kept of the old answer first): 0 when it stands at 0.
int StreamRestart(Stream* stream);

int StreamSetUp(void* object);
int FileStreamSetUp(void* object);
void FileStreamTearDown(void* object);
int MemStreamSetUp(void* object);
void MemStreamTearDown(void* object);

}  // namespace core
