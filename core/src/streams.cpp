// The core's byte streams: the base set-up of STRM, local files and memory.
#include "streams.h"

#include <cstdlib>
#include <cstring>

#include "core/format.h"
#include "core/text.h"
#include "platform/files.h"

namespace core {
namespace {

int NoRead(void*, void*, int) { return -1; }
int NoSeek(void*, int, int) { return -1; }
int NoLinks(void*, const tchar*, const tchar*, int, LinkEntry*) { return ERR_NOT_DIRECTORY; }
int NoData(void*) { return -1; }

// readStreamBlock in terms of the object's own readStream.
int ReadIntoBlock(void* self, Block* block, int offset, int n) {
    if (!block || offset < 0 || n < 0 || offset > block->size || n > block->size - offset) return -1;
    auto* s = static_cast<Stream*>(self);
    return s->readStream(self, block->data + offset, n);
}

int SeekTarget(int offset, int whence, int position, int length) {
    long long target;
    switch (whence) {
        case 0: target = offset; break;
        case 1: target = static_cast<long long>(position) + offset; break;
        case 2:
            if (length < 0) return -1;
            target = static_cast<long long>(length) + offset;
            break;
        default: return -1;
    }
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    return static_cast<int>(target);
}

// --- file ---

void FileClose(FileStream* f) {
    if (f->file) std::fclose(f->file);
    f->file = nullptr;
    f->length = -1;
    f->position = 0;
    f->path[0] = 0;
}

int FileOpen(FileStream* f, const tchar* path) {
    FileClose(f);
    if (!path || !path[0]) return 0;
    FILE* file = _wfopen(path, L"rb");
    if (!file) return ERR_OPEN_FAILED;
    long long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    if (length < 0 || length > 0x7FFFFFFF) {
        std::fclose(file);
        return ERR_NOT_SUPPORTED;
    }
    f->file = file;
    f->length = static_cast<int>(length);
    tcscpy_s(f->path, 1024, path);
    return 0;
}

int FileRead(void* self, void* buffer, int n) {
    auto* f = static_cast<FileStream*>(self);
    if (!f->file || n < 0) return -1;
    size_t got = std::fread(buffer, 1, static_cast<size_t>(n), f->file);
    if (got == 0 && std::ferror(f->file)) return -1;
    f->position += static_cast<int>(got);
    return static_cast<int>(got);
}

int FileSeek(void* self, int offset, int whence) {
    auto* f = static_cast<FileStream*>(self);
    if (!f->file) return -1;
    int target = SeekTarget(offset, whence, f->position, f->length);
    if (target < 0 || std::fseek(f->file, target, SEEK_SET) != 0) return -1;
    f->position = target;
    return target;
}

int FileData(void* self) {
    auto* f = static_cast<FileStream*>(self);
    if (!f->file || f->position >= f->length) return -1;
    return f->length - f->position;
}

int FileGet(void* self, int id, void* data, int size) {
    auto* f = static_cast<FileStream*>(self);
    switch (id) {
        case HttpUrl:
            if (!data || size < static_cast<int>(sizeof(tchar))) return ERR_INVALID_PARAM;
            tcscpy_s(static_cast<tchar*>(data), size / sizeof(tchar), f->path);
            return 0;
        case HttpLength:
            if (!data || size < static_cast<int>(sizeof(int)) || f->length < 0) return ERR_INVALID_PARAM;
            *static_cast<int*>(data) = f->length;
            return 0;
        default: return ERR_INVALID_PARAM;
    }
}

int FileSet(void* self, int id, const void* data, int size) {
    auto* f = static_cast<FileStream*>(self);
    switch (id) {
        case HttpUrl: {
            if (!data || size < static_cast<int>(sizeof(tchar))) return FileOpen(f, nullptr);
            // The text may fill the buffer without a terminator.
            size_t cap = size / sizeof(tchar);
            tchar path[1024];
            tcsncpy_s(path, 1024, static_cast<const tchar*>(data), cap);
            return FileOpen(f, path);
        }
        case HttpSilent: return 0;
        default: return ERR_INVALID_PARAM;
    }
}

// --- memory ---

int MemRead(void* self, void* buffer, int n) {
    auto* m = static_cast<MemStream*>(self);
    if (n < 0) return -1;
    int left = m->length - m->position;
    if (n > left) n = left;
    if (n > 0) std::memcpy(buffer, m->data + m->position, static_cast<size_t>(n));
    m->position += n;
    return n;
}

int MemSeek(void* self, int offset, int whence) {
    auto* m = static_cast<MemStream*>(self);
    int target = SeekTarget(offset, whence, m->position, m->length);
    if (target < 0 || target > m->length) return -1;
    m->position = target;
    return target;
}

int MemData(void* self) {
    auto* m = static_cast<MemStream*>(self);
    return m->position >= m->length ? -1 : m->length - m->position;
}

int MemGet(void* self, int id, void* data, int size) {
    auto* m = static_cast<MemStream*>(self);
    if (id == HttpLength && data && size >= static_cast<int>(sizeof(int))) {
        *static_cast<int*>(data) = m->length;
        return 0;
    }
    return ERR_INVALID_PARAM;
}

int MemSet(void*, int id, const void*, int) { return id == HttpSilent ? 0 : ERR_INVALID_PARAM; }

// --- head ---

int InnerLength(HeadStream* h) {
    int length = -1;
    Stream* in = h->inner;
    if (in->node.getParam && in->node.getParam(in, HttpLength, &length, sizeof(length)) == 0 && length >= 0)
        return length;
    return -1;
}

void Keep(HeadStream* h, const void* data, int n) {
    if (h->position != h->headLength || h->headLength >= HEAD_KEEP) return;
    int take = n < HEAD_KEEP - h->headLength ? n : HEAD_KEEP - h->headLength;
    if (!h->head) {
        h->head = static_cast<unsigned char*>(std::malloc(HEAD_KEEP));
        if (!h->head) return;
    }
    std::memcpy(h->head + h->headLength, data, static_cast<size_t>(take));
    h->headLength += take;
}

// Brings the inner stream to the position asked for. A short way forward from the end of
// what is kept is read and kept rather than sought over, as a reader that looks ahead comes
// back; any other position is sought. 1 when it stands there, else what a read there gives
// (0 at the end, -1 on a failure).
int CatchUp(HeadStream* h) {
    Stream* in = h->inner;
    while (h->innerPosition == h->headLength && h->position > h->headLength &&
           h->position - h->headLength < 65536 && h->position <= HEAD_KEEP) {
        unsigned char gap[8192];
        int want = h->position - h->headLength < static_cast<int>(sizeof(gap)) ? h->position - h->headLength
                                                                                : static_cast<int>(sizeof(gap));
        int got = in->readStream(in, gap, want);
        if (got <= 0) {
            if (got < 0) h->innerPosition = -1;
            return got;
        }
        int at = h->position;
        h->position = h->headLength;
        Keep(h, gap, got);
        h->position = at;
        h->innerPosition += got;
        if (h->headLength != h->innerPosition) break;  // nothing more could be kept
    }
    if (h->innerPosition != h->position) {
        int r = in->seekStream(in, h->position, 0);
        if (r < 0 && h->innerPosition >= 0 && h->innerPosition < h->position) {
            // A stream that cannot seek stood still: it is read on up to the position.
            unsigned char gap[8192];
            while (h->innerPosition < h->position) {
                int want = h->position - h->innerPosition < static_cast<int>(sizeof(gap))
                               ? h->position - h->innerPosition
                               : static_cast<int>(sizeof(gap));
                int got = in->readStream(in, gap, want);
                if (got <= 0) {
                    if (got < 0) h->innerPosition = -1;
                    return got;
                }
                h->innerPosition += got;
            }
            return 1;
        }
        h->innerPosition = r;
        if (r != h->position) return -1;
    }
    return 1;
}

int HeadRead(void* self, void* buffer, int n) {
    auto* h = static_cast<HeadStream*>(self);
    if (n < 0 || (n > 0 && !buffer)) return -1;
    if (n == 0) return 0;
    if (h->position < h->headLength) {
        int take = n < h->headLength - h->position ? n : h->headLength - h->position;
        std::memcpy(buffer, h->head + h->position, static_cast<size_t>(take));
        h->position += take;
        return take;
    }
    if (int r = CatchUp(h); r <= 0) return r;
    Stream* in = h->inner;
    // A reader being tried sees no further than what is kept of a stream whose end is not
    // known: nothing could bring that stream back for the next reader.
    if (h->probing && InnerLength(h) < 0) {
        if (h->position >= HEAD_KEEP) return 0;
        if (n > HEAD_KEEP - h->position) n = HEAD_KEEP - h->position;
    }
    int got = in->readStream(in, buffer, n);
    if (got <= 0) {
        // A failed read may have moved the inner stream (a network stream reconnects).
        if (got < 0) h->innerPosition = -1;
        return got;
    }
    Keep(h, buffer, got);
    h->position += got;
    h->innerPosition += got;
    return got;
}

int HeadSeek(void* self, int offset, int whence) {
    auto* h = static_cast<HeadStream*>(self);
    Stream* in = h->inner;
    // Asking where the stream stands reconnects a network stream that was told to; that
    // is the inner stream's to decide only when the next bytes come from it as it stands.
    if (whence == 1 && offset == 0) {
        if (h->position < h->headLength || h->position != h->innerPosition) return h->position;
        int r = in->seekStream(in, 0, 1);
        h->innerPosition = r;
        if (r >= 0) h->position = r;
        return r;
    }
    int length = InnerLength(h);
    long long target;
    switch (whence) {
        case 0: target = offset; break;
        case 1: target = static_cast<long long>(h->position) + offset; break;
        case 2:
            if (length < 0) {
                int r = in->seekStream(in, offset, 2);
                if (r >= 0) h->innerPosition = h->position = r;
                return r;
            }
            target = static_cast<long long>(length) + offset;
            break;
        default: return -1;
    }
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    if (h->probing && length < 0 && target > HEAD_KEEP) return -1;
    if (target <= h->headLength || length >= 0) {
        // Bytes it holds, or a position the inner stream can be asked for once read.
        if (length >= 0 && target > length) return -1;
        h->position = static_cast<int>(target);
        return h->position;
    }
    int r = in->seekStream(in, static_cast<int>(target), 0);
    // A refused seek leaves the stream where it stood.
    if (r >= 0) h->innerPosition = h->position = r;
    return r;
}

int HeadData(void* self) {
    auto* h = static_cast<HeadStream*>(self);
    if (h->position < h->headLength) return h->headLength - h->position;
    if (int r = CatchUp(h); r <= 0) return r;
    Stream* in = h->inner;
    return in->dataAvailable(in);
}

int HeadLinks(void* self, const tchar* url, const tchar* exts, int knownOnly, LinkEntry* entry) {
    auto* h = static_cast<HeadStream*>(self);
    return h->inner->enumLinks(h->inner, url, exts, knownOnly, entry);
}

int HeadGet(void* self, int id, void* data, int size) {
    auto* h = static_cast<HeadStream*>(self);
    return h->inner->node.getParam(h->inner, id, data, size);
}

int HeadSet(void* self, int id, const void* data, int size) {
    auto* h = static_cast<HeadStream*>(self);
    int r = h->inner->node.setParam(h->inner, id, data, size);
    if (id == HttpUrl) {
        // Another resource: what was kept is not its start.
        h->headLength = 0;
        h->position = 0;
        h->innerPosition = -1;
    }
    return r;
}

}  // namespace

int StreamSetUp(void* object) {
    auto* s = static_cast<Stream*>(object);
    s->readStream = NoRead;
    s->readStreamBlock = ReadIntoBlock;
    s->seekStream = NoSeek;
    s->enumLinks = NoLinks;
    s->dataAvailable = NoData;
    return 0;
}

int FileStreamSetUp(void* object) {
    auto* f = static_cast<FileStream*>(object);
    f->base.node.getParam = FileGet;
    f->base.node.setParam = FileSet;
    f->base.readStream = FileRead;
    f->base.seekStream = FileSeek;
    f->base.dataAvailable = FileData;
    f->length = -1;
    return 0;
}

void FileStreamTearDown(void* object) { FileClose(static_cast<FileStream*>(object)); }

int MemStreamSetUp(void* object) {
    auto* m = static_cast<MemStream*>(object);
    m->base.node.getParam = MemGet;
    m->base.node.setParam = MemSet;
    m->base.readStream = MemRead;
    m->base.seekStream = MemSeek;
    m->base.dataAvailable = MemData;
    return 0;
}

void MemStreamTearDown(void* object) {
    auto* m = static_cast<MemStream*>(object);
    std::free(m->data);
    m->data = nullptr;
}

int HeadStreamSetUp(void* object) {
    auto* h = static_cast<HeadStream*>(object);
    h->base.node.getParam = HeadGet;
    h->base.node.setParam = HeadSet;
    h->base.readStream = HeadRead;
    h->base.seekStream = HeadSeek;
    h->base.enumLinks = HeadLinks;
    h->base.dataAvailable = HeadData;
    return 0;
}

void HeadStreamTearDown(void* object) {
    auto* h = static_cast<HeadStream*>(object);
    NodeDelete(h->inner);
    h->inner = nullptr;
    std::free(h->head);
    h->head = nullptr;
}

void HeadStreamOpened(Stream* stream) {
    if (stream && stream->readStream == HeadRead) reinterpret_cast<HeadStream*>(stream)->probing = 0;
}

int StreamRestart(Stream* stream) {
    if (!stream) return -1;
    if (stream->readStream != HeadRead) return stream->seekStream(stream, 0, 0) == 0 ? 0 : -1;
    auto* h = reinterpret_cast<HeadStream*>(stream);
    h->headLength = 0;
    h->position = 0;
    h->innerPosition = h->inner->seekStream(h->inner, 0, 0);
    return h->innerPosition == 0 ? 0 : -1;
}

Stream* HeadStreamCreate(Stream* inner) {
    if (!inner) return nullptr;
    auto* h = static_cast<HeadStream*>(NodeCreate(HEAD_CLASS));
    if (!h) {
        NodeDelete(inner);
        return nullptr;
    }
    h->inner = inner;
    h->probing = 1;
    h->base.node.classId = NodeClassId(inner);
    return &h->base;
}

}  // namespace core

Stream* MemStreamCreate(const void* data, int length, fourcc_t classWord) {
    if (length < 0 || (length > 0 && !data)) return nullptr;
    auto* m = static_cast<core::MemStream*>(NodeCreate(MEMSTREAM_CLASS));
    if (!m) return nullptr;
    m->data = static_cast<unsigned char*>(std::malloc(length > 0 ? static_cast<size_t>(length) : 1));
    if (!m->data) {
        NodeDelete(m);
        return nullptr;
    }
    if (length > 0) std::memcpy(m->data, data, static_cast<size_t>(length));
    m->length = length;
    if (classWord) m->base.node.classId = classWord;
    return &m->base;
}

Stream* FileStreamCreate(const tchar* path) {
    auto* f = static_cast<core::FileStream*>(NodeCreate(FILE_CLASS));
    if (!f) return nullptr;
    if (!path || core::FileOpen(f, path) != 0 || !f->file) {
        NodeDelete(f);
        return nullptr;
    }
    return &f->base;
}
