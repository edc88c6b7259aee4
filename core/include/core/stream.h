// Byte streams (class STRM): slots, the link-listing record, parameter ids.
#pragma once

#include "core/node.h"

struct Block;
struct LinkEntry;

// Slot order of a byte stream object. Classes deriving from STRM put their own fields
// after this record (struct HttpStream { Stream base; ... }).
struct Stream {
    Node node;  // words 0-3 (enumParams is the core's)
    // word 4: reads up to n bytes; returns the count (0 at the end) or -1.
    int (*readStream)(void* self, void* buffer, int n);
    // word 5: reads up to n bytes into block->data + offset; same result as readStream.
    int (*readStreamBlock)(void* self, Block* block, int offset, int n);
    // word 6: whence 0 start, 1 current, 2 end; returns the new position or -1.
    int (*seekStream)(void* self, int offset, int whence);
    // word 7: lists the links of a page (url given: starts; null: the next one).
    // 0 with *entry filled, ERR_NOT_DIRECTORY, ERR_END_OF_FILE, ERR_OUT_OF_MEMORY, or
    // the open's failure code.
    int (*enumLinks)(void* self, const tchar* url, const tchar* exts, int knownOnly, LinkEntry* entry);
    void* coreWord8;  // word 8: the core's
    // word 9: bytes ready to read, 0 while waiting, -1 at the end or on error.
    int (*dataAvailable)(void* self);
};

// One link of a page.
struct LinkEntry {
    tchar url[512];          // as written, entities decoded
    tchar displayName[512];  // entities and %xx decoded
    uint32_t kind;           // kind letter from the extension list (files only), or 0
    int isFile;              // 0 a media file, -1 a folder-like link
    int spare1;              // set to -1
    int spare2;              // set to -1
};

// Stream parameters (getParam / setParam). Texts are tchar; size is the byte size of
// the buffer (capacity size / sizeof(tchar)).
#define HttpUrl 145          // get: the URL; set: opens it (the core's file stream: a path)
#define HttpLength 146       // get: int length, ERR_INVALID_PARAM while not known
#define HttpSilent 147       // int: no user-visible errors when non-zero
#define HttpContentType 149  // get: the Content-Type, upper case
#define HttpCommentSink 150  // CommentSink
#define HttpExtraHeaders 151 // text: extra request headers ("Name: value\n" lines)
#define HttpPragma 152       // text: the answer's Pragma values, each followed by ","
#define HttpBaseUrl 154      // get: the URL's base part (SplitURL)
// The same ids for any stream class.
#define StreamUrl HttpUrl
#define StreamLength HttpLength

#define HTTP_CLASS FOURCC('H', 'T', 'T', 'P')
#define MMS_CLASS FOURCC('M', 'M', 'S', '_')

// --- The core's own stream classes (host, tests) ---

// A memory stream over a copy of the bytes (class MEMSTREAM_CLASS); `classWord`, when
// non-zero, is written into word 0 afterwards so that readers see it as that class
// (a test double for a network stream). Delete it with NodeDelete.
Stream* MemStreamCreate(const void* data, int length, fourcc_t classWord = 0);
// A file stream (class FILE_CLASS) opened on a path: null when it cannot be opened.
Stream* FileStreamCreate(const tchar* path);
