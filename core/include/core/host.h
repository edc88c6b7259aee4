// The host: loads the plug-in files, opens a URL or a file through them, picks a format
// reader and drives it.
#pragma once

#include <string>
#include <vector>

#include "core/format.h"
#include "core/node.h"
#include "core/stream.h"

namespace core {

// A loaded plug-in file.
struct Plugin {
    std::string path;
    void* handle = nullptr;
    int registerResult = 0;
};

class Host {
public:
    Host() = default;
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Loads every "*.plg" of the folder (sorted by name) and calls DLLRegister(528).
    // Returns how many were loaded; files that do not load are skipped.
    int LoadPlugins(const std::string& folder);
    // Calls every DLLUnRegister (last loaded first) and unloads the files.
    void UnloadPlugins();
    const std::vector<Plugin>& Plugins() const { return plugins_; }

    // Opens a URL ("scheme://...", through the HTTP class) or a local path (through the
    // core's file stream), then the format reader: the classes deriving from FMTB are
    // tried by priority and the first whose openFormat succeeds is kept. Comments go to
    // `sink` when given. 0 or a negative result.
    int Open(const std::wstring& url, const CommentSink* sink = nullptr);
    // Opens a stream object given by the caller (the host takes it over).
    int OpenStream(Stream* stream, const CommentSink* sink = nullptr);
    void Close();

    Stream* stream() const { return stream_; }
    Format* reader() const { return reader_; }

    // The next packet of a selected stream: 0, ERR_END_OF_FILE at the end, or an error;
    // ERR_NOT_SUPPORTED at an end before the reader announced any stream.
    // The caller releases packet->data with Format_ReleaseRef.
    int ReadPacket(Packet* packet);
    // Seeks to a time in milliseconds: readers that seek by time get the time; the
    // others a file position, by proportion of the file size over the duration (or over
    // the rate measured so far). 0 or negative.
    int Seek(int milliseconds);

private:
    int OpenReader(const CommentSink* sink);
    int MeasureRate();

    std::vector<Plugin> plugins_;
    Stream* stream_ = nullptr;
    Format* reader_ = nullptr;
    int nextInput_ = 0;
    // What the reader delivered so far: for turning a time into a file position.
    long long firstPos_ = -1, lastPos_ = -1;
    int firstTime_ = -1, lastTime_ = -1;
};

}  // namespace core
