// FLV reader: one audio and one video stream, created at their first tags; packets are
// the tags' payloads without the flags byte. Seeks go by file position, helped by an
// index of up to 50 keyframe positions spread over the file.
#include "flv.h"

#include "plugin/frame.h"

namespace {

enum { TagAudio = 8, TagVideo = 9 };
enum { SeekSet = 0, SeekEnd = 2 };

struct TagHeader {
    int type;
    int size;
    int time;  // milliseconds (24 bits: the extended byte is not used)
};

// Reads a tag header starting at its previous-tag-size field; false at the end of data.
bool ReadTagHeader(FormatReaderInput* in, TagHeader* tag) {
    in->inputSkip(in, 4);
    int b[7];
    for (int& v : b) {
        v = in->inputRead8(in);
        if (v < 0) return false;
    }
    in->inputSkip(in, 4);
    tag->type = b[0];
    tag->size = (b[1] << 16) | (b[2] << 8) | b[3];
    tag->time = (b[4] << 16) | (b[5] << 8) | b[6];
    return true;
}

bool IsNetworkInput(const FormatReaderInput* in) {
    if (!in->inputStream) return false;
    fourcc_t cls = NodeClassId(in->inputStream);
    return cls == HTTP_CLASS || cls == MMS_CLASS;
}

void OfferKey(FlvReader* r, int pos) {
    int v = MulDiv(pos, 50000, r->base.fileSize);
    // Positions already passed (met again after a seek) must not break the order.
    if (r->keyCount > 0 && pos <= r->keyPositions[r->keyCount - 1]) return;
    if (r->keyCount * 1000 + 1000 < v && r->keyCount < FLV_KEYS) r->keyPositions[r->keyCount++] = pos;
}

int Open(void* self) {
    FlvReader* r = static_cast<FlvReader*>(self);
    FormatReaderInput* in = &r->base.input[0];
    char sig[3];
    if (in->inputRead(in, sig, 3) < 3) return ERR_END_OF_FILE;
    if (sig[0] != 'F' || sig[1] != 'L' || sig[2] != 'V') return ERR_NOT_SUPPORTED;
    in->inputSkip(in, 1);  // version
    in->inputRead8(in);    // flags: which streams follow; streams are made as tags come
    r->dataStart = static_cast<int32_t>(in->inputRead32BE(in));
    if (r->dataStart < 0) return ERR_INVALID_DATA;
    // Network streams are never sought to their end: that would download everything.
    if (!IsNetworkInput(in) && in->inputSeek(in, 0, SeekEnd) == 0) r->base.fileSize = in->inputPosition;
    if (in->inputSeek(in, r->dataStart, SeekSet) != 0) return ERR_INVALID_DATA;
    r->keyCount = 0;
    return ERR_NONE;
}

FlvStream* FindStream(FlvReader* r, int isAudio) {
    for (int i = 0; i < r->base.streamCount; ++i) {
        FlvStream* s = reinterpret_cast<FlvStream*>(r->base.streams[i]);
        if (s && s->isAudio == isAudio) return s;
    }
    return nullptr;
}

// Makes the stream of that kind from its first tag's flags byte.
int AddStream(FlvReader* r, int isAudio, int flags, FlvStream** out) {
    static const int audioTags[3] = {1, 2, 85};  // PCM, ADPCM, MPEG layer 3
    int codec = isAudio ? flags >> 4 : flags & 15;
    if (isAudio ? codec > 2 : codec != 2) return ERR_NOT_SUPPORTED;
    FlvStream* s = reinterpret_cast<FlvStream*>(Format_AddStream(r, sizeof(FlvStream)));
    if (!s) return ERR_OUT_OF_MEMORY;
    s->isAudio = isAudio;
    PacketFormat* f = &s->base.format;
    PacketFormatClear(f);
    f->packetRateNum = 1000;
    f->packetRateDen = 24;
    if (isAudio) {
        f->kind = PACKET_AUDIO;
        f->formatTag = audioTags[codec];
        f->channels = (flags & 1) + 1;
        f->sampleRate = (44100 << ((flags >> 2) & 3)) / 8;
        f->bits = 16;
        f->bitsExtra = 15;
        f->byteRate = f->sampleRate * f->channels * 2;
    } else {
        f->kind = PACKET_VIDEO;
        f->pixelFlags = 129;
        f->fourcc = FOURCC('F', 'L', 'V', '1');
    }
    Format_PrepairStream(r, &s->base);
    *out = s;
    return ERR_NONE;
}

// The end of the data: a file that ends before any audio or video tag has nothing to play.
int End(const FlvReader* r) { return r->base.streamCount > 0 ? ERR_END_OF_FILE : ERR_NOT_SUPPORTED; }

int ReadPacket(void* self, FormatReaderInput* in, Packet* packet) {
    FlvReader* r = static_cast<FlvReader*>(self);
    for (;;) {
        int tagPos = in->inputPosition;
        TagHeader tag;
        if (!ReadTagHeader(in, &tag)) return End(r);
        if (tag.size == 0) continue;
        if (tag.type != TagAudio && tag.type != TagVideo) {
            in->inputSkip(in, tag.size);
            continue;
        }
        int flags = in->inputRead8(in);
        if (flags < 0) return End(r);
        int isAudio = tag.type == TagAudio;
        FlvStream* s = FindStream(r, isAudio);
        if (!s) {
            int result = AddStream(r, isAudio, flags, &s);
            if (result != ERR_NONE) {
                // Past this tag, so that a caller that goes on meets the next one.
                in->inputSkip(in, tag.size - 1);
                return result;
            }
        }
        // A tag of nothing but its flags byte carries no packet.
        if (tag.size == 1) continue;
        BlockRef* data = in->inputReadBlock(in, tag.size - 1);
        if (!data) return ERR_END_OF_FILE;
        packet->data = data;
        packet->time = MulDiv(tag.time, TICKSPERSEC, 1000);
        packet->stream = &s->base;
        packet->key = 0;
        if (!isAudio) {
            packet->key = (flags >> 4) == 1;
            if (packet->key) OfferKey(r, tagPos);
        }
        return ERR_NONE;
    }
}

int Seek(void* self, int /*time*/, int target, int /*preferEarlierKey*/) {
    FlvReader* r = static_cast<FlvReader*>(self);
    FormatReaderInput* in = &r->base.input[0];
    if (target < 0) return ERR_INVALID_PARAM;
    // Start from the nearest indexed keyframe below the target (or the first tag).
    if (target < in->inputPosition) {
        int start = r->dataStart;
        for (int k = r->keyCount - 1; k >= 0; --k) {
            if (r->keyPositions[k] < target) {
                start = r->keyPositions[k];
                break;
            }
        }
        in->inputSeek(in, start, SeekSet);
    } else if (r->keyCount > 0) {
        int start = r->keyPositions[r->keyCount - 1];
        for (int k = 0; k < r->keyCount; ++k) {
            if (r->keyPositions[k] > target) {
                start = k > 0 ? r->keyPositions[k - 1] : r->dataStart;
                break;
            }
        }
        if (start != in->inputPosition) in->inputSeek(in, start, SeekSet);
    }
    // Scan on to the target, remembering the last keyframe met.
    int lastKey = r->dataStart;
    do {
        int tagPos = in->inputPosition;
        TagHeader tag;
        if (!ReadTagHeader(in, &tag)) break;
        int rest = tag.size;
        if (rest > 0 && (tag.type == TagAudio || tag.type == TagVideo)) {
            int flags = in->inputRead8(in);
            if (flags < 0) break;
            --rest;
            if (tag.type == TagVideo && (flags >> 4) == 1) {
                lastKey = tagPos;
                OfferKey(r, tagPos);
            }
        }
        if (in->inputSkip(in, rest) != 0) break;
    } while (in->inputPosition < target);
    in->inputSeek(in, lastKey, SeekSet);
    Format_AfterSeek(r);
    return ERR_NONE;
}

int Create(void* self) {
    FlvReader* r = static_cast<FlvReader*>(self);
    r->base.openFormat = Open;
    r->base.seekFormat = Seek;
    r->base.readPacket = ReadPacket;
    return ERR_NONE;
}

const NodeClassDef FlvClass = {sizeof(FlvReader), FLV_CLASS, FORMAT_CLASS, 990, Create, nullptr};

}  // namespace

void FlvRegister() {
    StringAdd(1, FLV_CLASS, NODE_NAME, L"Flash Video ");
    StringAdd(1, FLV_CLASS, NODE_EXTS, L"flv:v");
    StringAdd(1, FLV_CLASS, NODE_CONTENTTYPE, L"video/flv,video/x-flv");
    NodeRegisterClass(&FlvClass);
}

int FlvUnRegister() { return NodeUnRegisterClass(FLV_CLASS); }
