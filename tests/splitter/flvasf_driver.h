// Opens a reader class on a stream the way the host does, for the FLV and ASF tests.
#pragma once

#include <memory>
#include <vector>

#include "core/common.h"
#include "flvasf_probe.h"

namespace flvasf {

class Opened {
public:
    // Creates the reader object, sets the comment sink (when given) and the input, and
    // runs openFormat; result() holds its result. Takes over the stream unless told not to.
    Opened(fourcc_t readerClass, Stream* stream, const CommentSink* sink = nullptr, bool ownsStream = true);
    ~Opened();
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    int result() const { return result_; }
    Format* reader() const { return reader_; }
    template <class T>
    T* as() const { return reinterpret_cast<T*>(reader_); }

    // readPacket once: its result; a delivered packet is recorded in *got (when given)
    // and released. ERR_NO_PACKET is retried up to `retries` times.
    int Read(Got* got = nullptr, int retries = 1000);
    // Reads up to `limit` packets: the results until the end; *last gets the last result.
    std::vector<Got> ReadAll(int* last = nullptr, int limit = 100000);
    int Seek(int time, int filePos, int preferEarlierKey = 0);
    int StreamIndex(const FormatStream* s) const;

private:
    Format* reader_ = nullptr;
    Stream* stream_ = nullptr;
    bool ownsStream_ = true;
    int result_ = ERR_OUT_OF_MEMORY;
};

// A memory stream over bytes, seen as class `classWord` when given.
Stream* Memory(const std::vector<uint8_t>& bytes, fourcc_t classWord = 0);
// The core's file stream over a test file.
Stream* File(const std::string& relative);

}  // namespace flvasf
