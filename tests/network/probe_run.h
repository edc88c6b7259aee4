// Running lumeo-probe against loopback servers: the program's packet lines, ffprobe's
// packets of the same file, and the bodies the awkward servers send.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "raw_server.h"

namespace probe_run {

using testing_support::RawServer;


inline std::string DistDir() {
    const char* dist = std::getenv("LUMEO_DIST_DIR");
    return dist ? dist : LUMEO_TEST_DIST_DIR;
}

inline std::string SourceDir() {
    const char* root = std::getenv("LUMEO_SOURCE_DIR");
    return root ? root : LUMEO_TEST_SOURCE_DIR;
}

struct Ran {
    std::string out;
    int status = -1;
};

inline Ran Shell(const std::string& cmd) {
    Ran run;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) run.out.append(buf, n);
    int status = pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// One packet line: "packet STREAM TIME SIZE KEY" (time in ticks of 1/16384 s).
struct Packet {
    int stream, time, size, key;
    bool operator==(const Packet& o) const {
        return stream == o.stream && time == o.time && size == o.size && key == o.key;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Packet& p) {
    return os << p.stream << " " << p.time << " " << p.size << " " << p.key;
}

inline std::vector<Packet> PacketLines(const std::string& out) {
    std::vector<Packet> packets;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        Packet p{};
        if (std::sscanf(line.c_str(), "packet %d %d %d %d", &p.stream, &p.time, &p.size, &p.key) == 4)
            packets.push_back(p);
    }
    return packets;
}

// The same packets by stream, time and size (key flags aside), or where they first differ.
inline ::testing::AssertionResult SameStreamsTimesAndSizes(const std::vector<Packet>& got,
                                                           const std::vector<Packet>& want) {
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " packets, " << want.size() << " expected";
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i].stream != want[i].stream || got[i].time != want[i].time || got[i].size != want[i].size)
            return ::testing::AssertionFailure() << "packet " << i << ": " << got[i] << ", expected " << want[i];
    return ::testing::AssertionSuccess();
}

inline bool HasErrorLine(const std::string& out) {
    return out.rfind("error ", 0) == 0 || out.find("\nerror ") != std::string::npos;
}

inline int Ticks(long long ms) { return static_cast<int>(ms * 16384 / 1000); }

// ffprobe's packets of a file, as the probe prints them: times in ticks of each stream's
// time base; FLV audio packets carry no key flag (ffprobe marks every one).
inline std::vector<Packet> FfprobePackets(const std::string& file, bool flv) {
    std::vector<std::pair<long long, long long>> bases;
    std::istringstream streams(Shell("ffprobe -v error -show_entries stream=time_base -of csv=p=0 '" + file + "'").out);
    std::string line;
    while (std::getline(streams, line)) {
        long long num = 1, den = 1000;
        std::sscanf(line.c_str(), "%lld/%lld", &num, &den);
        bases.emplace_back(num, den > 0 ? den : 1000);
    }
    Ran r = Shell("ffprobe -v error -show_entries packet=codec_type,stream_index,pts,size,flags -of csv=p=0 '" +
                  file + "'");
    std::vector<Packet> packets;
    std::istringstream lines(r.out);
    while (std::getline(lines, line)) {
        char type[16] = {0}, flags[8] = {0};
        long long pts = 0;
        int stream = 0, size = 0;
        if (std::sscanf(line.c_str(), "%15[^,],%d,%lld,%d,%7s", type, &stream, &pts, &size, flags) != 5) continue;
        bool video = std::string(type) == "video";
        int key = flags[0] == 'K' ? 1 : 0;
        std::pair<long long, long long> base =
            stream >= 0 && static_cast<size_t>(stream) < bases.size() ? bases[static_cast<size_t>(stream)]
                                                                     : std::make_pair(1LL, 1000LL);
        int ticks = static_cast<int>(pts * 16384 * base.first / base.second);
        packets.push_back({stream, ticks, size, flv && !video ? 0 : key});
    }
    return packets;
}

// A folder of this test process's own.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/lumeo-probe-streams-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path_ = buf.data();
    }
    ~TempDir() {
        if (!path_.empty()) Shell("rm -rf '" + path_ + "'");
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string Probe(const std::string& args) {
    return DistDir() + "/lumeo-probe " + args + " 2>&1";
}

inline bool SendHead(int fd, const std::string& head) { return RawServer::SendAll(fd, head + "\r\n"); }

// The body with a metadata block after every `interval` bytes: empty ones and titles.
inline std::string WithMetadata(const std::string& body, size_t interval) {
    std::string out;
    int block = 0;
    for (size_t at = 0; at < body.size(); at += interval, ++block) {
        out += body.substr(at, interval);
        if (at + interval > body.size()) break;
        std::string text = block % 3 == 1 ? "" : "StreamTitle='Part " + std::to_string(block) + "';";
        size_t units = (text.size() + 15) / 16;
        out += static_cast<char>(units);
        out += text;
        out.append(units * 16 - text.size(), '\0');
    }
    return out;
}

inline std::string Chunked(const std::string& body, size_t piece, bool last) {
    std::string out;
    char size[32];
    for (size_t at = 0; at < body.size(); at += piece) {
        std::string part = body.substr(at, piece);
        std::snprintf(size, sizeof(size), "%zx\r\n", part.size());
        out += size + part + "\r\n";
    }
    if (last) out += "0\r\n\r\n";
    return out;
}

// Where a request's Range header starts, 0 without one.
inline size_t RangeStart(const std::string& request) {
    size_t at = request.find("Range: bytes=");
    return at == std::string::npos ? 0 : std::stoul(request.substr(at + 13));
}

inline std::string Length(size_t n) { return "Content-Length: " + std::to_string(n) + "\r\n"; }

// The answer to a range (a drop's reconnect, a seek): the part of `file` from `from`, as a
// 206 with its range (a request from 0 gets a 200).
inline void SendFrom(int fd, const std::string& file, size_t from) {
    std::string head = from ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                  std::to_string(file.size() - 1) + "/" + std::to_string(file.size()) + "\r\n"
                            : "HTTP/1.1 200 OK\r\n";
    SendHead(fd, head + Length(file.size() - from));
    RawServer::SendAll(fd, file.substr(from));
}

}  // namespace probe_run
