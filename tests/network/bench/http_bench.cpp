// lumeo-http-bench: the loopback side of the HTTP throughput benchmark (scripts/bench-http).
//   serve FILE       serves FILE at /<name> on 127.0.0.1 (a free port) with byte ranges;
//                    prints "listening 127.0.0.1:<port>", stops when standard input closes
//   layer URL        downloads URL through the WinINet layer as the download manager does
//                    (2047-byte reads), prints "bytes=<n> seconds=<s> mbps=<MB/s>"
//   stream URL [N]   reads URL through network.plg's HTTP stream in N-byte reads (65536)
#include <dlfcn.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "core/common.h"
#include "platform/lasterror.h"
#include "platform/wininet.h"

namespace {

int Serve(const std::string& path) {
    std::ifstream probe(path, std::ios::binary | std::ios::ate);
    if (!probe) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    const size_t size = static_cast<size_t>(probe.tellg());
    std::string name = path.substr(path.find_last_of('/') + 1);
    httplib::Server server;
    server.Get("/" + name, [path, size](const httplib::Request&, httplib::Response& res) {
        auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
        res.set_header("Accept-Ranges", "bytes");
        res.set_content_provider(size, "video/x-flv", [file](size_t offset, size_t length, httplib::DataSink& sink) {
            static thread_local std::string buf(256 * 1024, '\0');
            file->seekg(static_cast<std::streamoff>(offset));
            size_t n = std::min(length, buf.size());
            file->read(buf.data(), static_cast<std::streamsize>(n));
            sink.write(buf.data(), static_cast<size_t>(file->gcount()));
            return file->gcount() > 0;
        });
    });
    int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) return 1;
    std::thread stopper([&server] {
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        server.stop();
    });
    std::printf("listening 127.0.0.1:%d\n", port);
    std::fflush(stdout);
    server.listen_after_bind();
    stopper.join();
    return 0;
}

int Layer(const std::string& url) {
    std::wstring w(url.begin(), url.end());
    auto start = std::chrono::steady_clock::now();
    HINTERNET session = InternetOpenW(L"Lumeo Client: Windows Mobile; Windows Phone", INTERNET_OPEN_TYPE_DIRECT,
                                      nullptr, nullptr, 0);
    HINTERNET req = session ? InternetOpenUrlW(session, w.c_str(), L"Accept: */*\r\n\r\n", 15, 0, 0) : nullptr;
    if (!req) {
        std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
        return 1;
    }
    char buf[2048];
    long long total = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(req, buf, 2047, &got)) {
            std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
            return 1;
        }
        if (got == 0) break;
        total += got;
    }
    InternetCloseHandle(req);
    InternetCloseHandle(session);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("bytes=%lld seconds=%.3f mbps=%.2f\n", total, seconds, total / seconds / 1e6);
    return 0;
}

int StreamRead(const char* self, const std::string& url, int chunk) {
    std::string dir(self);
    dir = dir.substr(0, dir.find_last_of('/') + 1);
    void* plg = dlopen((dir + "network.plg").c_str(), RTLD_NOW | RTLD_LOCAL);
    auto reg = plg ? reinterpret_cast<int (*)(int)>(dlsym(plg, "DLLRegister")) : nullptr;
    if (!reg || reg(CORE_INTERFACE_VERSION) != 0) {
        std::printf("error network.plg\n");
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    auto* s = static_cast<Stream*>(NodeCreate(HTTP_CLASS));
    std::wstring w(url.begin(), url.end());
    if (!s || s->node.setParam(s, HttpUrl, w.c_str(), static_cast<int>((w.size() + 1) * sizeof(tchar))) != 0) {
        std::printf("error open\n");
        return 1;
    }
    std::string buf(static_cast<size_t>(chunk), '\0');
    long long total = 0;
    for (int got; (got = s->readStream(s, buf.data(), chunk)) > 0;) total += got;
    NodeDelete(s);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("bytes=%lld seconds=%.3f mbps=%.2f\n", total, seconds, total / seconds / 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "serve") return Serve(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "layer") return Layer(argv[2]);
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "stream")
        return StreamRead(argv[0], argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 65536);
    std::fprintf(stderr, "usage: lumeo-http-bench serve FILE | layer URL | stream URL [N]\n");
    return 2;
}
