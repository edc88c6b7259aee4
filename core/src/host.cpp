// The host: plug-in files, opening, choosing the reader, reading and seeking.
#include "core/host.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include "core/sys.h"
#include "streams.h"

namespace core {
namespace {

using RegisterFn = int (*)(int);
using UnRegisterFn = int (*)();

int64_t Scale(int64_t a, int64_t b, int64_t c) { return c == 0 ? 0 : a * b / c; }

bool IsUrl(const std::wstring& s) {
    size_t at = s.find(L"://");
    return at != std::wstring::npos && at > 1 && s.compare(0, 7, L"file://") != 0;
}

}  // namespace

Host::~Host() {
    Close();
    UnloadPlugins();
}

int Host::LoadPlugins(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".plg" && entry.is_regular_file(ec)) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    int loaded = 0;
    for (const std::string& path : files) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) continue;
        auto reg = reinterpret_cast<RegisterFn>(dlsym(handle, "DLLRegister"));
        if (!reg || !dlsym(handle, "DLLUnRegister")) {
            dlclose(handle);
            continue;
        }
        Plugin p;
        p.path = path;
        p.handle = handle;
        p.registerResult = reg(CORE_INTERFACE_VERSION);
        plugins_.push_back(p);
        ++loaded;
    }
    return loaded;
}

void Host::UnloadPlugins() {
    Close();
    while (!plugins_.empty()) {
        Plugin p = plugins_.back();
        plugins_.pop_back();
        auto unreg = reinterpret_cast<UnRegisterFn>(dlsym(p.handle, "DLLUnRegister"));
        if (unreg) unreg();
        dlclose(p.handle);
    }
}

int Host::Open(const std::wstring& url, const CommentSink* sink) {
    Close();
    Stream* s = nullptr;
    if (IsUrl(url)) {
        s = static_cast<Stream*>(NodeCreate(HTTP_CLASS));
        if (!s) return ERR_NOT_SUPPORTED;
        if (sink) s->node.setParam(s, HttpCommentSink, sink, sizeof(*sink));
        int r = s->node.setParam(s, HttpUrl, url.c_str(), static_cast<int>((url.size() + 1) * sizeof(tchar)));
        if (r < 0) {
            NodeDelete(s);
            return r;
        }
    } else {
        std::wstring path = url.compare(0, 7, L"file://") == 0 ? url.substr(7) : url;
        s = FileStreamCreate(path.c_str());
        if (!s) return ERR_OPEN_FAILED;
    }
    return OpenStream(s, sink);
}

int Host::OpenStream(Stream* stream, const CommentSink* sink) {
    Close();
    if (!stream) return ERR_INVALID_PARAM;
    // Readers are tried on the first bytes as read once: rewinding a network stream
    // means a new connection for every reader tried. Local files rewind for nothing.
    fourcc_t cls = NodeClassId(stream);
    if (cls != FILE_CLASS && cls != MEMSTREAM_CLASS) {
        stream = HeadStreamCreate(stream);
        if (!stream) return ERR_OUT_OF_MEMORY;
    }
    stream_ = stream;
    int r = OpenReader(sink);
    if (r < 0) Close();
    return r;
}

int Host::OpenReader(const CommentSink* sink) {
    fourcc_t ids[64];
    int n = std::min(NodeEnumClasses(FORMAT_CLASS, ids, 64), 64);
    int result = ERR_NOT_SUPPORTED;
    for (int i = 0; i < n; ++i) {
        // Every reader starts at the beginning of the stream.
        if (stream_->seekStream(stream_, 0, 0) != 0) {
            result = ERR_READ;
            break;
        }
        auto* r = static_cast<Format*>(NodeCreate(ids[i]));
        if (!r) continue;
        if (sink) r->node.setParam(r, FormatCommentSink, sink, sizeof(*sink));
        Format_SetInput(r, 0, stream_);
        int opened = r->openFormat(r);
        if (opened == 0) {
            reader_ = r;
            nextInput_ = 0;
            HeadStreamOpened(stream_);
            return 0;
        }
        // A reader that met a failed read refused bytes it never saw.
        if (r->input[0].readError) result = ERR_READ;
        r->closeFormat(r);
        NodeDelete(r);
    }
    return result;
}

void Host::Close() {
    if (reader_) {
        reader_->closeFormat(reader_);
        NodeDelete(reader_);
        reader_ = nullptr;
    }
    if (stream_) {
        NodeDelete(stream_);
        stream_ = nullptr;
    }
    firstPos_ = lastPos_ = -1;
    firstTime_ = lastTime_ = -1;
}

int Host::ReadPacket(Packet* packet) {
    if (!reader_) return ERR_INVALID_PARAM;
    // Bounded: a reader that keeps finding nothing ends the read.
    for (int empty = 0; empty < 10000;) {
        FormatReaderInput* in = &reader_->input[nextInput_];
        *packet = Packet{};
        int r = reader_->readPacket(reader_, in, packet);
        if (r == ERR_NO_PACKET) {
            if (in->inputAtEnd(in)) r = ERR_END_OF_FILE;
            else {
                ++empty;
                continue;
            }
        }
        // Data that stops because a read failed has not ended: the reader cannot tell.
        if (r < 0 && (reader_->input[0].readError || reader_->input[1].readError)) return ERR_READ;
        if (r == ERR_END_OF_FILE) {
            // A second input in use is read to its end as well.
            if (nextInput_ == 0 && reader_->input[1].inputStream) {
                nextInput_ = 1;
                continue;
            }
            // A reader that ends without having announced a stream had nothing to play.
            bool any = false;
            for (int i = 0; i < reader_->streamCount && !any; ++i) any = reader_->streams[i]->announced != 0;
            return any ? r : ERR_NOT_SUPPORTED;
        }
        if (r < 0) return r;
        if (packet->stream && !packet->stream->selected) {
            Format_ReleaseRef(packet->data);
            packet->data = nullptr;
            continue;
        }
        if (packet->time >= 0) {
            if (firstTime_ < 0) {
                firstTime_ = packet->time;
                firstPos_ = in->inputPosition;
            }
            lastTime_ = packet->time;
            lastPos_ = in->inputPosition;
        }
        return 0;
    }
    return ERR_NO_PACKET;
}

int Host::MeasureRate() {
    // Reads up to a second of media to learn bytes per tick; the packets are dropped.
    for (int i = 0; i < 500 && (lastTime_ - firstTime_ < 16384); ++i) {
        Packet p;
        int r = ReadPacket(&p);
        if (r < 0) break;
        Format_ReleaseRef(p.data);
    }
    return lastTime_ > firstTime_ && lastPos_ > firstPos_ ? 0 : ERR_NOT_SUPPORTED;
}

int Host::Seek(int milliseconds) {
    if (!reader_ || milliseconds < 0) return ERR_INVALID_PARAM;
    int ticks = static_cast<int>(Scale(milliseconds, 16384, 1000));
    int r;
    if (reader_->timeSeek) {
        r = reader_->seekFormat(reader_, ticks, -1, 1);
    } else {
        int64_t length = reader_->fileSize;
        int streamLength = 0;
        if (length <= 0 && stream_->node.getParam(stream_, HttpLength, &streamLength, sizeof(streamLength)) == 0)
            length = streamLength;
        int64_t pos;
        if (reader_->duration > 0 && length > 0) {
            pos = Scale(length, ticks, reader_->duration);
        } else if (MeasureRate() == 0) {
            pos = firstPos_ + Scale(ticks - firstTime_, lastPos_ - firstPos_, lastTime_ - firstTime_);
        } else {
            return ERR_NOT_SUPPORTED;
        }
        if (pos < 0) pos = 0;
        if (length > 0 && pos > length) pos = length;
        if (pos > 0x7FFFFFFF) pos = 0x7FFFFFFF;
        r = reader_->seekFormat(reader_, ticks, static_cast<int>(pos), 1);
    }
    nextInput_ = 0;
    return r;
}

}  // namespace core
