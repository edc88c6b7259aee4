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

void OfferKey(FlvReader* r, int pos, int time) {
    int v = MulDiv(pos, 50000, r->base.fileSize);
    // Positions already passed (met again after a seek) must not break the order.
    if (r->keyCount > 0 && pos <= r->keyPositions[r->keyCount - 1]) return;
    if (r->keyCount * 1000 + 1000 < v && r->keyCount < FLV_KEYS) {
        r->keyPositions[r->keyCount] = pos;
        r->keyTimes[r->keyCount++] = time;
    }
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
    r->pending = 0;
    r->readTime = -1;
    r->lastStartPos = -1;
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

// Whether a tag of this kind and flags byte is a point playback may start from: a video
// keyframe, or any audio tag while no video has shown.
bool IsStart(int type, int flags, bool videoSeen) {
    if (type == TagVideo) return (flags >> 4) == 1;
    return type == TagAudio && !videoSeen;
}

int ReadPacket(void* self, FormatReaderInput* in, Packet* packet) {
    FlvReader* r = static_cast<FlvReader*>(self);
    for (;;) {
        int tagPos = in->inputPosition;
        TagHeader tag;
        int flags;
        if (r->pending) {
            // The seek stopped behind this tag's flags byte.
            r->pending = 0;
            tagPos = r->pendingPos;
            tag = {r->pendingType, r->pendingSize, r->pendingTime};
            flags = r->pendingFlags;
        } else {
            if (!ReadTagHeader(in, &tag)) return End(r);
            if (tag.size == 0) continue;
            if (tag.type != TagAudio && tag.type != TagVideo) {
                if (in->inputSkip(in, tag.size) != 0) return End(r);
                continue;
            }
            flags = in->inputRead8(in);
            if (flags < 0) return End(r);
        }
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
        r->readTime = tag.time;
        if (IsStart(tag.type, flags, FindStream(r, 0) != nullptr)) {
            r->lastStartPos = tagPos;
            r->lastStartTime = tag.time;
            OfferKey(r, tagPos, tag.time);
        }
        // A tag of nothing but its flags byte carries no packet.
        if (tag.size == 1) continue;
        BlockRef* data = in->inputReadBlock(in, tag.size - 1);
        if (!data) return ERR_END_OF_FILE;
        packet->data = data;
        packet->time = MulDiv(tag.time, TICKSPERSEC, 1000);
        packet->stream = &s->base;
        packet->key = !isAudio && (flags >> 4) == 1;
        return ERR_NONE;
    }
}

// Seeks to the last start point at or before the target: a time (ms) when one is given,
// else a file position. Where the stream cannot go back, the target is reached by reading
// forward from the reader's position; it then lands on the first start point after the
// target when the last one before it lies behind.
int Seek(void* self, int time, int target, int /*preferEarlierKey*/) {
    FlvReader* r = static_cast<FlvReader*>(self);
    FormatReaderInput* in = &r->base.input[0];
    int ms = time >= 0 ? MulDiv(time, 1000, TICKSPERSEC) : -1;
    if (ms < 0 && target < 0) return ERR_INVALID_PARAM;
    auto beyond = [&](int pos, int t) { return ms >= 0 ? t > ms : pos >= target; };
    auto failed = [&] { return in->readError ? ERR_READ : ERR_NOT_SUPPORTED; };
    // The scan starts at the latest start point known not to lie beyond the target.
    int from = r->dataStart;
    for (int k = r->keyCount - 1; k >= 0; --k) {
        if (!beyond(r->keyPositions[k], r->keyTimes[k])) {
            from = r->keyPositions[k];
            break;
        }
    }
    if (r->lastStartPos > from && !beyond(r->lastStartPos, r->lastStartTime)) from = r->lastStartPos;
    int here = r->pending ? r->pendingPos : in->inputPosition;
    bool ahead = ms >= 0 ? r->readTime >= 0 && r->readTime <= ms : target >= here;
    bool forwardOnly = false;
    if (from != here || r->pending) {
        if (in->inputSeek(in, from, SeekSet) == 0) r->pending = 0;
        else if (ahead) forwardOnly = true;
        else return failed();
    }
    int lastKey = forwardOnly ? -1 : from, lastTime = from == r->dataStart ? 0 : r->lastStartTime;
    if (!forwardOnly && from != r->dataStart) {
        for (int k = 0; k < r->keyCount; ++k)
            if (r->keyPositions[k] == from) lastTime = r->keyTimes[k];
    }
    bool passed = false;
    bool videoSeen = FindStream(r, 0) != nullptr;
    if (r->pending) {
        // Reading on from the tag the last seek stopped in.
        r->pending = 0;
        bool start = IsStart(r->pendingType, r->pendingFlags, videoSeen);
        if (start && beyond(r->pendingPos, r->pendingTime)) {
            r->pending = passed = true;
        } else {
            if (start) {
                lastKey = r->pendingPos;
                lastTime = r->pendingTime;
            }
            if (in->inputSkip(in, r->pendingSize - 1) != 0) return failed();
        }
    }
    while (!passed) {
        int tagPos = in->inputPosition;
        TagHeader tag;
        if (!ReadTagHeader(in, &tag)) break;
        int rest = tag.size;
        if (rest > 0 && (tag.type == TagAudio || tag.type == TagVideo)) {
            int flags = in->inputRead8(in);
            if (flags < 0) break;
            --rest;
            // Streams are made at their first tags, scanned or read, so that they keep
            // the file's order.
            FlvStream* s;
            if (!FindStream(r, tag.type == TagAudio)) AddStream(r, tag.type == TagAudio, flags, &s);
            videoSeen = videoSeen || tag.type == TagVideo;
            if (IsStart(tag.type, flags, videoSeen)) {
                if (beyond(tagPos, tag.time)) {
                    r->pending = 1;
                    r->pendingPos = tagPos;
                    r->pendingType = tag.type;
                    r->pendingSize = tag.size;
                    r->pendingTime = tag.time;
                    r->pendingFlags = flags;
                    passed = true;
                    break;
                }
                lastKey = tagPos;
                lastTime = tag.time;
                OfferKey(r, tagPos, tag.time);
            }
        }
        if (in->inputSkip(in, rest) != 0) break;
    }
    if (lastKey >= 0 && in->inputSeek(in, lastKey, SeekSet) == 0) {
        r->pending = 0;
    } else if (passed) {
        lastKey = r->pendingPos;
        lastTime = r->pendingTime;
    } else {
        // No start point to go back to, and none ahead.
        return failed();
    }
    r->lastStartPos = lastKey;
    r->lastStartTime = lastTime;
    r->readTime = lastTime;
    Format_AfterSeek(r);
    return ERR_NONE;
}

int Create(void* self) {
    FlvReader* r = static_cast<FlvReader*>(self);
    r->base.openFormat = Open;
    r->base.seekFormat = Seek;
    r->base.readPacket = ReadPacket;
    r->base.timeSeek = 1;
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
