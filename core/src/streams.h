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

int StreamSetUp(void* object);
int FileStreamSetUp(void* object);
void FileStreamTearDown(void* object);
int MemStreamSetUp(void* object);
void MemStreamTearDown(void* object);

}  // namespace core
