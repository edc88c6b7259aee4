// A plug-in file for the host and probe tests: a reader of a small hand-made container
// ("LMTP"), and a reader of higher priority that refuses every file.
//
// LMTP file: "LMTP", stream count (1 byte), duration in ms (4 bytes BE), then per
// stream: kind (1 video, 2 audio), FourCC or tag (4 bytes BE), width or rate (2 bytes
// BE), height or channels (2 bytes BE); then packets: stream (1), time in ms (4 BE),
// length (2 BE), key (1), the bytes.
#include <cstring>

#include "plugin/frame.h"

namespace {

#define LMTP_CLASS FOURCC('L', 'M', 'T', 'P')
#define LMTR_CLASS FOURCC('L', 'M', 'T', 'R')

struct TestReader {
    Format base;
    int dataStart;
};

void Comment(Format* f, const tchar* text) {
    if (!f->comment.node) return;
    tchar buf[64];
    tcscpy_s(buf, 64, text);
    static_cast<Node*>(f->comment.node)->setParam(f->comment.node, f->comment.param, buf, sizeof(buf));
}

int Open(void* self) {
    auto* r = static_cast<TestReader*>(self);
    FormatReaderInput* in = &r->base.input[0];
    char magic[4];
    if (in->inputRead(in, magic, 4) < 4 || std::memcmp(magic, "LMTP", 4) != 0) return ERR_INVALID_DATA;
    int count = in->inputRead8(in);
    r->base.duration = MulDiv(static_cast<int>(in->inputRead32BE(in)), TICKSPERSEC, 1000);
    for (int i = 0; i < count; ++i) {
        FormatStream* s = Format_AddStream(r, sizeof(FormatStream));
        if (!s) return ERR_OUT_OF_MEMORY;
        int kind = in->inputRead8(in);
        uint32_t code = in->inputRead32BE(in);
        int a = in->inputRead16BE(in), b = in->inputRead16BE(in);
        s->format.kind = kind;
        if (kind == PACKET_AUDIO) {
            s->format.formatTag = static_cast<int>(code);
            s->format.sampleRate = a;
            s->format.channels = b;
            s->format.bits = 16;
        } else {
            s->format.fourcc = FOURCC(code >> 24, code >> 16, code >> 8, code);
            s->format.width = a;
            s->format.height = b;
        }
        Format_PrepairStream(r, s);
    }
    in->inputSeek(in, 0, 2);
    r->base.fileSize = in->inputPosition;
    r->dataStart = 9 + 9 * count;
    in->inputSeek(in, r->dataStart, 0);
    Comment(&r->base, L"TITLE=Test \u00e9");
    return 0;
}

int Read(void* self, FormatReaderInput* in, Packet* p) {
    auto* r = static_cast<TestReader*>(self);
    int index = in->inputRead8(in);
    if (index < 0) return ERR_END_OF_FILE;
    int ms = static_cast<int>(in->inputRead32BE(in));
    int length = in->inputRead16BE(in);
    int key = in->inputRead8(in);
    if (index >= r->base.streamCount) return ERR_INVALID_DATA;
    p->data = in->inputReadBlock(in, length);
    if (!p->data) return ERR_END_OF_FILE;
    p->time = MulDiv(ms, TICKSPERSEC, 1000);
    p->stream = r->base.streams[index];
    p->key = key;
    return 0;
}

// Seeks by file position: to the first packet that starts at or after it.
int Seek(void* self, int, int filePos, int) {
    auto* r = static_cast<TestReader*>(self);
    FormatReaderInput* in = &r->base.input[0];
    if (filePos < 0 || in->inputSeek(in, r->dataStart, 0) != 0) return ERR_NOT_SUPPORTED;
    while (in->inputPosition < filePos) {
        int at = in->inputPosition;
        if (in->inputSkip(in, 5) != 0) break;
        int length = in->inputRead16BE(in);
        if (in->inputAtEnd(in) || in->inputSkip(in, 1 + length) != 0) {
            in->inputSeek(in, at, 0);
            break;
        }
    }
    Format_AfterSeek(r);
    return 0;
}

int Create(void* self) {
    auto* r = static_cast<TestReader*>(self);
    r->base.openFormat = Open;
    r->base.readPacket = Read;
    r->base.seekFormat = Seek;
    return 0;
}

int Refuse(void* self) {
    auto* f = static_cast<Format*>(self);
    FormatReaderInput* in = &f->input[0];
    char magic[4] = {};
    in->inputRead(in, magic, 4);
    if (std::memcmp(magic, "LMTE", 4) == 0) ShowError(0, ERR_CLASS, -16, L"test://refused");
    return ERR_NOT_SUPPORTED;
}

int CreateRefusing(void* self) {
    static_cast<Format*>(self)->openFormat = Refuse;
    return 0;
}

const NodeClassDef kReader = {NODE_CLASS_SIZE(sizeof(TestReader), 0), LMTP_CLASS, FORMAT_CLASS, 500, Create, nullptr};
const NodeClassDef kRefusing = {NODE_CLASS_SIZE(sizeof(Format), 0), LMTR_CLASS, FORMAT_CLASS, 600, CreateRefusing,
                                nullptr};

}  // namespace

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    StringAdd(1, LMTP_CLASS, NODE_NAME, L"Test container ");
    StringAdd(1, LMTP_CLASS, NODE_EXTS, L"lmt:v");
    NodeRegisterClass(&kReader);
    NodeRegisterClass(&kRefusing);
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(LMTP_CLASS);
    return NodeUnRegisterClass(LMTR_CLASS);
}
