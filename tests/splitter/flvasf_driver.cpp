#include "flvasf_driver.h"

#include <gtest/gtest.h>

namespace flvasf {

Opened::Opened(fourcc_t readerClass, Stream* stream, const CommentSink* sink, bool ownsStream)
    : stream_(stream), ownsStream_(ownsStream) {
    reader_ = static_cast<Format*>(NodeCreate(readerClass));
    if (!reader_ || !stream_) return;
    if (sink) FormatBaseSet(reader_, FormatCommentSink, sink, sizeof(*sink));
    reader_->input[0].inputStream = stream_;
    reader_->input[0].inputPosition = 0;
    result_ = reader_->openFormat(reader_);
}

Opened::~Opened() {
    if (reader_) {
        if (reader_->closeFormat) reader_->closeFormat(reader_);
        NodeDelete(reader_);
    }
    if (ownsStream_) NodeDelete(stream_);
}

int Opened::StreamIndex(const FormatStream* s) const {
    for (int i = 0; i < reader_->streamCount; ++i)
        if (reader_->streams[i] == s) return i;
    return -1;
}

int Opened::Read(Got* got, int retries) {
    if (!reader_ || result_ != ERR_NONE) return result_;
    for (int i = 0;; ++i) {
        Packet p{};
        int r = reader_->readPacket(reader_, &reader_->input[0], &p);
        if (r == ERR_NO_PACKET && i < retries) continue;
        if (r == ERR_NONE) {
            if (got) {
                got->stream = StreamIndex(p.stream);
                got->time = p.time;
                got->size = Format_RefLength(p.data);
                got->key = p.key;
                got->crc = Crc32Text(p.data);
            }
            Format_ReleaseRef(p.data);
        }
        return r;
    }
}

std::vector<Got> Opened::ReadAll(int* last, int limit) {
    std::vector<Got> all;
    int r = ERR_NONE;
    while (static_cast<int>(all.size()) < limit) {
        Got g{};
        r = Read(&g);
        if (r != ERR_NONE) break;
        all.push_back(g);
    }
    if (last) *last = r;
    return all;
}

int Opened::Seek(int time, int filePos, int preferEarlierKey) {
    return reader_->seekFormat(reader_, time, filePos, preferEarlierKey);
}

Stream* Memory(const std::vector<uint8_t>& bytes, fourcc_t classWord) {
    return MemStreamCreate(bytes.data(), static_cast<int>(bytes.size()), classWord);
}

Stream* File(const std::string& relative) {
    std::string path = DataPath(relative);
    std::wstring wide(path.begin(), path.end());
    return FileStreamCreate(wide.c_str());
}

}  // namespace flvasf
