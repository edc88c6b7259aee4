// lumeo-probe: opens a file or URL through the plug-ins and prints its streams and
// packets, one line each (the format is in docs/player-core.md).
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/host.h"
#include "core/testing.h"
#include "probe_video.h"

namespace {

std::string Utf8(const tchar* s, size_t capacity = static_cast<size_t>(-1)) {
    std::wstring w;
    for (size_t i = 0; s && i < capacity && s[i]; ++i) w += s[i];
    std::string out(w.size() * 4 + 1, '\0');
    int n = TcsToUTF8(out.data(), out.size(), w.c_str());
    out.resize(static_cast<size_t>(n));
    return out;
}

std::wstring Wide(const char* s) {
    std::vector<tchar> buf(std::strlen(s) + 1);
    UTF8ToTcs(buf.data(), buf.size(), s);
    return buf.data();
}

const char* ErrorText(int code) {
    switch (code) {
        case ERR_READ: return "read failed";
        case ERR_OUT_OF_MEMORY: return "out of memory";
        case ERR_INVALID_DATA: return "bad header";
        case ERR_INVALID_PARAM: return "not handled";
        case ERR_NOT_SUPPORTED: return "unsupported";
        case ERR_NO_FRAME: return "no frame";
        case ERR_OPEN_FAILED: return "open failed";
        case ERR_END_OF_FILE: return "end of data";
        case ERR_DEVICE_ERROR: return "device failure";
        case ERR_NO_PACKET: return "no packet";
        case ERR_NOT_DIRECTORY: return "not a directory page";
        case ERR_INVALID_VERSION: return "wrong interface version";
        default: return "failed";
    }
}

bool g_quiet = false;

void PrintError(const core::ShownError& e, void*) {
    if (g_quiet) return;
    std::printf("showerror %s %d", core::FourCCText(e.messageClass).c_str(), e.id);
    if (!e.text.empty()) std::printf(" %s", Utf8(e.text.c_str()).c_str());
    std::printf("\n");
}

// The comment receiver: a node whose setParam prints the text.
struct CommentPrinter {
    Node node;
};
int PrintComment(void*, int, const void* data, int size) {
    if (data && size >= static_cast<int>(sizeof(tchar)) && !g_quiet)
        std::printf("comment %s\n", Utf8(static_cast<const tchar*>(data), size / sizeof(tchar)).c_str());
    return 0;
}

void PrintStream(const FormatStream* s) {
    const PacketFormat& f = s->format;
    const char* kind = f.kind == PACKET_VIDEO ? "video" : f.kind == PACKET_AUDIO ? "audio" : "text";
    std::printf("stream %d %s ", s->number, kind);
    if (f.kind == PACKET_AUDIO) {
        std::printf("%d", f.formatTag);
        if (f.sampleRate) std::printf(" rate=%d", f.sampleRate);
        if (f.channels) std::printf(" ch=%d", f.channels);
        if (f.bits) std::printf(" bits=%d", f.bits);
    } else {
        std::printf("%s", core::FourCCText(f.fourcc).c_str());
        if (f.width) std::printf(" w=%d", f.width);
        if (f.height) std::printf(" h=%d", f.height);
    }
    if (f.extraLength) std::printf(" extra=%d", f.extraLength);
    std::printf("\n");
}

std::string ProgramFolder() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    std::string p(buf, static_cast<size_t>(n));
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

// The usage to standard error and status 2 for a wrong command line; with --help, to standard
// output and status 0.
int Usage(bool asked = false) {
    std::fprintf(asked ? stdout : stderr,
                 "usage: lumeo-probe [--seek MS] [--quiet] [--plugins DIR] FILE|URL\n"
                 "       lumeo-probe [--plugins DIR] --links URL\n"
                 "       lumeo-probe [--plugins DIR] --classes\n"
                 "       lumeo-probe [--plugins DIR] --video-out CLASS --yuv FILE --size WxH [--screen WxH]\n"
                 "                   [--rect X,Y,W,H] [--direction D] --shot OUT.png\n"
                 "       lumeo-probe [--plugins DIR] --idct-check CLASS\n");
    return asked ? 0 : 2;
}

int Fail(int code) {
    std::printf("error %d %s\n", code, ErrorText(code));
    return 1;
}

int Links(const std::wstring& url) {
    auto* s = static_cast<Stream*>(NodeCreate(HTTP_CLASS));
    if (!s) return Fail(ERR_NOT_SUPPORTED);
    // The extensions of the registered readers ("flv:v;mp4:v").
    std::wstring exts;
    fourcc_t ids[64];
    int n = std::min(NodeEnumClasses(FORMAT_CLASS, ids, 64), 64);
    for (int i = 0; i < n; ++i) {
        const tchar* e = NodeString(ids[i], NODE_EXTS);
        if (!e || !*e) continue;
        if (!exts.empty()) exts += L';';
        exts += e;
    }
    int r = 0;
    static LinkEntry entry;
    for (bool first = true;; first = false) {
        std::memset(&entry, 0, sizeof(entry));
        r = s->enumLinks(s, first ? url.c_str() : nullptr, exts.c_str(), 0, &entry);
        if (r != 0) break;
        std::string kind = entry.kind ? std::string(1, static_cast<char>(entry.kind)) : "0";
        std::printf("link %d %s %s %s\n", entry.isFile, kind.c_str(), Utf8(entry.url, 512).c_str(),
                    Utf8(entry.displayName, 512).c_str());
    }
    NodeDelete(s);
    return r == ERR_END_OF_FILE ? 0 : Fail(r);
}

int Probe(core::Host& host, const std::wstring& url, bool seek, int seekMs) {
    CommentPrinter printer{};
    printer.node.setParam = PrintComment;
    CommentSink sink{&printer, 0};
    auto start = std::chrono::steady_clock::now();
    int r = host.Open(url, &sink);
    if (r < 0) return Fail(r);
    Format* f = host.reader();
    std::vector<bool> printed;
    auto announce = [&](const FormatStream* s) {
        if (!s || s->number < 0) return;
        if (printed.size() <= static_cast<size_t>(s->number)) printed.resize(static_cast<size_t>(s->number) + 1);
        if (printed[static_cast<size_t>(s->number)]) return;
        printed[static_cast<size_t>(s->number)] = true;
        if (!g_quiet) PrintStream(s);
    };
    for (int i = 0; i < f->streamCount; ++i)
        if (f->streams[i]->announced) announce(f->streams[i]);
    if (seek) {
        r = host.Seek(seekMs);
        if (r < 0) return Fail(r);
    }
    long long packets = 0, bytes = 0;
    for (;;) {
        Packet p;
        r = host.ReadPacket(&p);
        if (r == ERR_END_OF_FILE) break;
        if (r < 0) return Fail(r);
        int length = Format_RefLength(p.data);
        announce(p.stream);
        if (!g_quiet)
            std::printf("packet %d %d %d %d\n", p.stream ? p.stream->number : -1, p.time, length, p.key ? 1 : 0);
        ++packets;
        bytes += length;
        Format_ReleaseRef(p.data);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int streams = 0;
    for (bool b : printed) streams += b ? 1 : 0;
    if (g_quiet)
        std::printf("total streams=%d packets=%lld bytes=%lld seconds=%.3f mbps=%.2f\n", streams, packets, bytes,
                    seconds, seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string plugins = ProgramFolder();
    std::string target;
    bool links = false, seek = false, classes = false;
    int seekMs = 0;
    core::VideoOutOptions video;
    std::string idctClass;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            return Usage(true);
        } else if (a == "--classes") {
            classes = true;
        } else if (a == "--video-out" && more) {
            video.cls = argv[++i];
        } else if (a == "--yuv" && more) {
            video.yuv = argv[++i];
        } else if (a == "--size" && more) {
            video.size = argv[++i];
        } else if (a == "--screen" && more) {
            video.screen = argv[++i];
        } else if (a == "--rect" && more) {
            video.rect = argv[++i];
        } else if (a == "--direction" && more) {
            char* end = nullptr;
            video.direction = static_cast<int>(std::strtol(argv[++i], &end, 0));
            if (!end || *end) return Usage();
        } else if (a == "--shot" && more) {
            video.shot = argv[++i];
        } else if (a == "--idct-check" && more) {
            idctClass = argv[++i];
        } else if (a == "--quiet") {
            g_quiet = true;
        } else if (a == "--seek" && i + 1 < argc) {
            seek = true;
            char* end = nullptr;
            long ms = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end || ms < 0 || ms > INT_MAX) return Usage();
            seekMs = static_cast<int>(ms);
        } else if (a == "--plugins" && i + 1 < argc) {
            plugins = argv[++i];
        } else if (a == "--links" && i + 1 < argc) {
            links = true;
            target = argv[++i];
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return Usage();
        } else if (target.empty()) {
            target = a;
        } else {
            return Usage();
        }
    }
    int modes = (classes ? 1 : 0) + (!video.cls.empty() ? 1 : 0) + (!idctClass.empty() ? 1 : 0) + (!target.empty() ? 1 : 0);
    if (modes != 1) return Usage();
    if (!video.cls.empty() && (video.yuv.empty() || video.size.empty() || video.shot.empty())) return Usage();
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    core::SetShowErrorHandler(PrintError, nullptr);
    core::Host host;
    host.LoadPlugins(plugins);
    int rc;
    if (classes) rc = core::ProbeClasses();
    else if (!video.cls.empty()) rc = core::ProbeVideoOut(video, ProgramFolder());
    else if (!idctClass.empty()) rc = core::ProbeIdctCheck(idctClass, ProgramFolder());
    else rc = links ? Links(Wide(target.c_str())) : Probe(host, Wide(target.c_str()), seek, seekMs);
    host.Close();
    host.UnloadPlugins();
    core::SetShowErrorHandler(nullptr, nullptr);
    std::fflush(stdout);
    return rc;
}
