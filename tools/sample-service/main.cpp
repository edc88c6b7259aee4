// lumeo-sample-service: a stand-in for the video service's web API on 127.0.0.1, with a
// built-in catalogue, thumbnails, video segments and fault modes for tests.
#include <httplib.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>


#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue.h"
#include "jpeg.h"

#ifndef SAMPLE_MEDIA_DIR
#define SAMPLE_MEDIA_DIR ""
#endif
#ifndef SAMPLE_PACKAGE_FILE
#define SAMPLE_PACKAGE_FILE ""
#endif

#define FAULT_MODES "delay:MS, status:CODE, drop, malformed, empty, failstatus, nototal, badvid"

namespace {

const char kUsage[] =
    "usage: lumeo-sample-service [options]\n"
    "  --port N              port on 127.0.0.1 (0 = any free port; default 18080)\n"
    "  --update-type T       type of the version answer: 0, 1 none, 2 optional, 3 compulsory,\n"
    "                        any other number as it is (default 0)\n"
    "  --update-version V    version offered by the version answer (default v1.01.16.00001)\n"
    "  --package FILE        file served as the update package (default: the build's sample\n"
    "                        cabinet, which installs version.txt)\n"
    "  --media DIR           folder of the video segments (default: the build's media folder)\n"
    "  --files DIR           serve DIR's files under /files/\n"
    "  --fault MODE          fault applied to every request (see below)\n"
    "  --videos N            catalogue size (default 150, at least 1)\n"
    "  --lifetime S          exit after S seconds (default: run until stopped)\n"
    "fault modes: " FAULT_MODES "\n"
    "per request: add fault=MODE to the query, or GET /control/fault?mode=MODE&count=N&match=TEXT\n"
    "GET /control/release?count=N ends N delays early, under way or still to come\n"
    "GET /control/drops lists the dropped answers as \"BYTES TARGET\", the bytes sent before the close\n";

struct Fault {
    std::string mode;  // "" = none
    int count = -1;    // requests left; -1 = every request
    std::string match; // only requests whose target contains this text
};

struct Media {
    std::string dir;
    MediaFile files[3][3];  // [flv, mp4, 3gp][segment file]
    bool present = false;
};

const char* kKindExt[3] = {"flv", "mp4", "3gp"};

struct State {
    int port = 0;
    int updateType = 0;
    std::string updateVersion = "v1.01.16.00001";
    std::string package;
    std::vector<Video> videos;
    Media media;
    Fault runFault;
    std::mutex lock;
    std::vector<Fault> faults;
    int releases = 0;  // delays to end early (GET /control/release)
    std::vector<std::string> drops;  // "<bytes sent> <target>" of each dropped answer
    std::condition_variable released;
    std::vector<std::string> log;
    std::map<std::string, std::string> thumbs;
};

State g;

std::string Esc(const std::string& s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '&': o += "&amp;"; break;
            case '<': o += "&lt;"; break;
            case '>': o += "&gt;"; break;
            case '"': o += "&quot;"; break;
            default: o += c;
        }
    }
    return o;
}

std::string Base() { return "http://127.0.0.1:" + std::to_string(g.port); }

// A URL path segment: everything but the unreserved characters as %XX.
std::string PercentEncode(const std::string& s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string o;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            o += static_cast<char>(c);
        } else {
            o += '%';
            o += kHex[c >> 4];
            o += kHex[c & 15];
        }
    }
    return o;
}

void LoadMedia(const std::string& dir) {
    g.media.dir = dir;
    g.media.present = !dir.empty();
    const unsigned seconds[3] = {2, 3, 4};
    for (int k = 0; k < 3; ++k) {
        for (int s = 0; s < 3; ++s) {
            MediaFile& f = g.media.files[k][s];
            f.name = "seg" + std::to_string(s + 1) + "." + kKindExt[k];
            f.seconds = seconds[s];
            std::ifstream in(dir + "/" + f.name, std::ios::binary | std::ios::ate);
            if (!in) {
                g.media.present = false;
                continue;
            }
            f.size = static_cast<unsigned>(in.tellg());
        }
    }
    if (!g.media.present) std::fprintf(stderr, "lumeo-sample-service: media folder incomplete: %s\n", dir.c_str());
}

std::string SegmentsXml(const Video& v, int kind, bool badVid) {
    std::string o;
    for (size_t i = 0; i < v.segs.size(); ++i) {
        const MediaFile& f = g.media.files[kind][v.segs[i]];
        o += "<seg><id>" + std::to_string(i + 1) + "</id><size>" + std::to_string(f.size) + "</size><seconds>" +
             std::to_string(f.seconds) + "</seconds><url>" + Base() + "/media/" + (badVid ? "x" : v.vid) + "/" +
             std::to_string(i + 1) + "/" + f.name + "</url></seg>";
    }
    return o;
}

std::string Duration(const Video& v) {
    unsigned total = 0;
    for (int s : v.segs) total += g.media.files[0][s].seconds;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u:%02u", total / 60, total % 60);
    return buf;
}

std::string ItemXml(const Video& v, bool badVid) {
    std::string vid = badVid ? "..\\..\\evil_" + v.vid : v.vid;
    std::string o = "  <item>\n";
    o += "    <vid>" + Esc(vid) + "</vid>\n";
    const char* names[3] = {"stream", "streamMp4", "stream3gp"};
    for (int k = 0; k < 3; ++k)
        o += std::string("    <") + names[k] + ">" + SegmentsXml(v, k, badVid) + "</" + names[k] + ">\n";
    o += "    <title>" + Esc(v.title) + "</title>\n";
    o += "    <img>" + Base() + "/img/" + v.vid + ".jpg</img>\n";
    o += "    <duration>" + Duration(v) + "</duration>\n";
    o += "    <pv>" + std::to_string(v.pv) + "</pv>\n";
    o += "    <desc>" + Esc(v.desc) + "</desc>\n";
    o += "    <totalcomment>" + std::to_string(v.comments) + "</totalcomment>\n";
    o += "    <user>" + Esc(v.user) + "</user>\n";
    o += "    <up>" + std::to_string(v.up) + "</up>\n";
    o += "    <down>" + std::to_string(v.down) + "</down>\n";
    o += "    <cats>" + Esc(v.cats) + "</cats>\n";
    o += "    <tags>" + Esc(v.tags) + "</tags>\n";
    o += "    <pubdate>" + v.pubdate + "</pubdate>\n";
    o += "  </item>\n";
    return o;
}

const char kHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<channel>\n";

std::string StatusOnly(const std::string& status) {
    return std::string(kHead) + "  <status>" + Esc(status) + "</status>\n</channel>\n";
}

int IntParam(const httplib::Request& req, const char* name, int def, int lo, int hi) {
    if (!req.has_param(name)) return def;
    std::string s = req.get_param_value(name);
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end) return def;
    return static_cast<int>(std::clamp<long>(v, lo, hi));
}

// One page of `list` as an answer, with the list's whole size as total.
std::string ListAnswer(const std::vector<const Video*>& list, const httplib::Request& req, const std::string& fault) {
    int pg = IntParam(req, "pg", 1, 1, 1000000);
    int pz = IntParam(req, "pz", 10, 1, 100);
    bool badVid = fault == "badvid";
    std::string o = kHead;
    o += std::string("  <status>") + (fault == "failstatus" ? "fail" : "success") + "</status>\n";
    if (fault == "empty") return o + "  <total>0</total>\n</channel>\n";
    if (fault != "nototal") o += "  <total>" + std::to_string(list.size()) + "</total>\n";
    size_t first = static_cast<size_t>(pg - 1) * pz;
    for (size_t i = first; i < list.size() && i < first + pz; ++i) o += ItemXml(*list[i], badVid);
    o += "</channel>\n";
    if (fault == "malformed") o.resize(o.size() * 2 / 3);
    return o;
}

bool ValidPid(const httplib::Request& req) {
    std::string pid = req.get_param_value("pid");
    return pid.size() == 16 && pid.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::vector<const Video*> All() {
    std::vector<const Video*> out;
    for (auto& v : g.videos) out.push_back(&v);
    return out;
}

std::vector<std::string> Words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Picks the list a method asks for; false when the method or its arguments are unknown.
bool SelectList(const std::string& method, const httplib::Request& req, std::vector<const Video*>* out,
                std::string* error) {
    std::vector<const Video*> all = All();
    if (method == "listChannelVideos") {
        int cid = IntParam(req, "cid", -1, -1, 1000000);
        if (std::find(std::begin(kChannelIds), std::end(kChannelIds), cid) == std::end(kChannelIds)) {
            *error = "unknown cid";
            return false;
        }
        for (auto* v : all)
            if (v->cid == cid) out->push_back(v);
        return true;
    }
    if (method == "getTopVideos") {
        for (auto* v : all)
            if (v->recommended) out->push_back(v);
        std::stable_sort(out->begin(), out->end(), [](auto* a, auto* b) { return a->pv > b->pv; });
        return true;
    }
    if (method == "searchVideos") {
        std::vector<std::string> words = Words(req.get_param_value("keyword"));
        if (words.empty()) return true;
        for (auto* v : all) {
            std::string hay = v->title + " " + v->desc + " " + v->tags + " " + v->user;
            bool ok = true;
            for (auto& w : words) ok = ok && hay.find(w) != std::string::npos;
            if (ok) out->push_back(v);
        }
        return true;
    }
    if (method == "getVideosOrderByPv" || method == "getVideosOrderByRel" || method == "getVideosOrderByFav") {
        int pd = IntParam(req, "pd", -1, -1, 100);
        if (pd < 1 || pd > 3) {
            *error = "unknown pd";
            return false;
        }
        int days = pd == 1 ? 1 : pd == 2 ? 7 : 30;
        for (auto* v : all)
            if (v->age < days) out->push_back(v);
        auto key = [&](const Video* v) {
            return method == "getVideosOrderByPv" ? v->pv : method == "getVideosOrderByRel" ? v->comments : v->favs;
        };
        std::stable_sort(out->begin(), out->end(), [&](auto* a, auto* b) { return key(a) > key(b); });
        return true;
    }
    if (method == "relatedVideos") {
        std::string vid = req.get_param_value("vid");
        const Video* self = nullptr;
        for (auto* v : all)
            if (v->vid == vid) self = v;
        if (!self) {
            *error = "unknown vid";
            return false;
        }
        for (auto* v : all)
            if (v != self && v->cid == self->cid) out->push_back(v);
        // Nearest in the catalogue first.
        std::stable_sort(out->begin(), out->end(), [&](auto* a, auto* b) {
            return std::abs(a - self) < std::abs(b - self);
        });
        return true;
    }
    *error = "unknown method";
    return false;
}

std::string VersionAnswer(const std::string& fault) {
    std::string o = kHead;
    o += std::string("  <status>") + (fault == "failstatus" ? "fail" : "success") + "</status>\n";
    o += "  <update type=\"" + std::to_string(g.updateType) + "\">\n";
    if (g.updateType >= 2) {
        o += "    <ver>" + Esc(g.updateVersion) + "</ver>\n";
        o += "    <desc>" + Esc("新版本 " + g.updateVersion + "：列表加载更快，修正了若干问题。") + "</desc>\n";
        o += "    <down>" + Esc(Base() + "/packages/Lumeo_" + PercentEncode(g.updateVersion) + ".CAB") + "</down>\n";
    }
    o += "  </update>\n</channel>\n";
    if (fault == "malformed") o.resize(o.size() / 2);
    return o;
}

// A mode the service knows (FAULT_MODES; "delay=MS" and "status=CODE" are taken too).
bool KnownFault(const std::string& mode) {
    for (const char* kind : {"delay", "status"}) {
        std::string k = kind;
        if (mode.size() > k.size() + 1 && mode.compare(0, k.size(), k) == 0 && (mode[k.size()] == ':' || mode[k.size()] == '=')) {
            std::string n = mode.substr(k.size() + 1);
            return n.find_first_not_of("0123456789") == std::string::npos && n.size() <= 9;
        }
    }
    for (const char* m : {"drop", "malformed", "empty", "failstatus", "nototal", "badvid"})
        if (mode == m) return true;
    return false;
}

// The fault for this request: its own query's, a queued one that matches, or the run's.
std::string TakeFault(const httplib::Request& req) {
    if (req.has_param("fault")) return req.get_param_value("fault");
    std::lock_guard<std::mutex> l(g.lock);
    for (auto it = g.faults.begin(); it != g.faults.end(); ++it) {
        if (!it->match.empty() && req.target.find(it->match) == std::string::npos) continue;
        std::string mode = it->mode;
        if (it->count > 0 && --it->count == 0) g.faults.erase(it);
        return mode;
    }
    return g.runFault.mode;
}

// Applies the faults that do not depend on the answer; true when the request is answered.
bool ApplyFault(const std::string& fault, httplib::Response& res) {
    if (fault.rfind("delay=", 0) == 0 || fault.rfind("delay:", 0) == 0) {
        int ms = std::atoi(fault.c_str() + 6);
        std::unique_lock<std::mutex> l(g.lock);
        if (g.released.wait_for(l, std::chrono::milliseconds(std::clamp(ms, 0, 600000)), [] { return g.releases > 0; }))
            --g.releases;
        return false;
    }
    if (fault.rfind("status=", 0) == 0 || fault.rfind("status:", 0) == 0) {
        int code = std::clamp(std::atoi(fault.c_str() + 7), 100, 599);
        res.status = code;
        if (code == 204 || code == 304) return true;  // these carry no body
        res.set_content("<html><body><h1>" + std::to_string(code) + "</h1>sample service fault</body></html>\n",
                        "text/html");
        return true;
    }
    return false;
}

// Notes how many bytes of its body a dropped answer sent before its connection closed.
void RecordDrop(const std::string& target, size_t sent) {
    std::lock_guard<std::mutex> l(g.lock);
    if (g.drops.size() < 100000) g.drops.push_back(std::to_string(sent) + " " + target);
}

// Sends `body`, or with the drop fault its first half followed by a closed connection.
void Send(const httplib::Request& req, httplib::Response& res, const std::string& body, const char* type,
          const std::string& fault) {
    if (fault != "drop") {
        res.set_content(body, type);
        return;
    }
    auto shared = std::make_shared<std::string>(body);
    auto sent = std::make_shared<size_t>(0);
    res.set_content_provider(shared->size(), type,
                             [shared, sent, target = req.target](size_t offset, size_t, httplib::DataSink& sink) {
                                 size_t half = shared->size() / 2;
                                 if (offset >= half) {
                                     RecordDrop(target, *sent);
                                     return false;
                                 }
                                 if (sink.write(shared->data() + offset, half - offset)) *sent = half;
                                 return true;
                             });
}

void Record(const httplib::Request& req) {
    std::string line = req.method + " " + req.target;
    for (auto& [k, v] : req.headers)
        if (k != "LOCAL_ADDR" && k != "LOCAL_PORT" && k != "REMOTE_ADDR" && k != "REMOTE_PORT")
            line += "\n  " + k + ": " + v;
    std::lock_guard<std::mutex> l(g.lock);
    if (g.log.size() < 100000) g.log.push_back(line);
}

void Api(const httplib::Request& req, httplib::Response& res) {
    std::string fault = TakeFault(req);
    if (ApplyFault(fault, res)) return;
    std::string method = req.matches[1];
    std::string body;
    if (!ValidPid(req)) {
        body = StatusOnly("invalid pid");
    } else if (method == "getVersionInfo") {
        body = req.has_param("ver") ? VersionAnswer(fault) : StatusOnly("missing ver");
    } else {
        std::vector<const Video*> list;
        std::string error;
        body = SelectList(method, req, &list, &error) ? ListAnswer(list, req, fault) : StatusOnly(error);
        if (error == "unknown method") res.status = 404;
    }
    Send(req, res, body, "text/xml; charset=utf-8", fault);
}

void Thumbnail(const httplib::Request& req, httplib::Response& res) {
    std::string fault = TakeFault(req);
    if (ApplyFault(fault, res)) return;
    std::string vid = req.matches[1];
    auto it = std::find_if(g.videos.begin(), g.videos.end(), [&](const Video& v) { return v.vid == vid; });
    if (it == g.videos.end()) {
        res.status = 404;
        res.set_content("no such picture\n", "text/plain");
        return;
    }
    std::string jpeg;
    {
        std::lock_guard<std::mutex> l(g.lock);
        auto& cached = g.thumbs[vid];
        if (cached.empty()) cached = MakeJpeg(static_cast<unsigned>(it - g.videos.begin()), 120, 90);
        jpeg = cached;
    }
    Send(req, res, jpeg, "image/jpeg", fault);
}

std::string ReadFile(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    *ok = static_cast<bool>(in);
    return ss.str();
}

void Segment(const httplib::Request& req, httplib::Response& res) {
    std::string fault = TakeFault(req);
    if (ApplyFault(fault, res)) return;
    std::string name = req.matches[1];
    for (auto& kind : g.media.files)
        for (auto& f : kind)
            if (f.name == name && g.media.present) {
                bool ok = false;
                std::string data = ReadFile(g.media.dir + "/" + f.name, &ok);
                if (ok) {
                    std::string ext = name.substr(name.rfind('.') + 1);
                    const char* type = ext == "flv" ? "video/x-flv" : ext == "mp4" ? "video/mp4" : "video/3gpp";
                    Send(req, res, data, type, fault);
                    return;
                }
            }
    res.status = 404;
    res.set_content("no such segment\n", "text/plain");
}

void Package(const httplib::Request& req, httplib::Response& res) {
    std::string fault = TakeFault(req);
    if (ApplyFault(fault, res)) return;
    Send(req, res, g.package, "application/vnd.ms-cab-compressed", fault);
}

// Streams a file of the --files folder, so large files need no memory of their size.
void ServeFile(const std::string& dir, const httplib::Request& req, httplib::Response& res) {
    std::string fault = TakeFault(req);
    if (ApplyFault(fault, res)) return;
    std::string path = dir + "/" + std::string(req.matches[1]);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        res.status = 404;
        res.set_content("no such file\n", "text/plain");
        return;
    }
    auto file = std::shared_ptr<int>(new int(fd), [](int* f) { close(*f); delete f; });
    size_t size = static_cast<size_t>(st.st_size);
    bool drop = fault == "drop";
    auto sent = std::make_shared<size_t>(0);
    res.set_content_provider(size, "application/octet-stream",
                             [file, size, drop, sent, target = req.target](size_t offset, size_t length,
                                                                            httplib::DataSink& sink) {
                                 if (drop && offset >= size / 2) {
                                     RecordDrop(target, *sent);
                                     return false;
                                 }
                                 std::vector<char> buf(std::min<size_t>(length, 256 * 1024));
                                 ssize_t n = pread(*file, buf.data(), buf.size(), static_cast<off_t>(offset));
                                 if (n <= 0) return false;
                                 if (!sink.write(buf.data(), static_cast<size_t>(n))) return false;
                                 *sent += static_cast<size_t>(n);
                                 return true;
                             });
}

void Control(const httplib::Request& req, httplib::Response& res) {
    std::string what = req.matches[1];
    std::lock_guard<std::mutex> l(g.lock);
    if (what == "fault") {
        Fault f;
        f.mode = req.get_param_value("mode");
        f.count = req.has_param("count") ? std::max(1, std::atoi(req.get_param_value("count").c_str())) : -1;
        f.match = req.get_param_value("match");
        if (!f.mode.empty() && !KnownFault(f.mode)) {
            res.status = 400;
            res.set_content("unknown fault mode " + f.mode + "; the modes: " FAULT_MODES "\n", "text/plain");
            return;
        }
        if (f.mode.empty()) g.faults.clear();
        else g.faults.push_back(f);
        res.set_content("ok\n", "text/plain");
    } else if (what == "requests") {
        std::string o;
        for (auto& line : g.log) o += line + "\n";
        res.set_content(o, "text/plain; charset=utf-8");
    } else if (what == "drops") {
        std::string o;
        for (auto& line : g.drops) o += line + "\n";
        res.set_content(o, "text/plain; charset=utf-8");
    } else if (what == "release") {
        g.releases += req.has_param("count") ? std::clamp(std::atoi(req.get_param_value("count").c_str()), 0, 100000) : 1;
        g.released.notify_all();
        res.set_content("ok\n", "text/plain");
    } else if (what == "reset") {
        g.log.clear();
        g.faults.clear();
        g.releases = 0;
        g.drops.clear();
        res.set_content("ok\n", "text/plain");
    } else {
        res.status = 404;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int port = 18080, videos = 150, lifetime = 0;
    std::string mediaDir = SAMPLE_MEDIA_DIR, filesDir, packageFile;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "lumeo-sample-service: %s needs a value\n%s", a.c_str(), kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](int lo, int hi) {
            std::string v = next();
            char* end = nullptr;
            long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < lo || n > hi) {
                std::fprintf(stderr, "lumeo-sample-service: bad value for %s: %s\n", a.c_str(), v.c_str());
                std::exit(2);
            }
            return static_cast<int>(n);
        };
        if (a == "--port") port = number(0, 65535);
        else if (a == "--update-type") g.updateType = number(INT_MIN, INT_MAX);
        else if (a == "--update-version") g.updateVersion = next();
        else if (a == "--package") packageFile = next();
        else if (a == "--media") mediaDir = next();
        else if (a == "--files") filesDir = next();
        else if (a == "--fault") {
            g.runFault.mode = next();
            if (!KnownFault(g.runFault.mode)) {
                std::fprintf(stderr, "lumeo-sample-service: unknown fault mode %s; the modes: %s\n",
                             g.runFault.mode.c_str(), FAULT_MODES);
                return 2;
            }
        }
        else if (a == "--videos") videos = number(1, 100000);
        else if (a == "--lifetime") lifetime = number(0, 86400 * 365);
        else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "lumeo-sample-service: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    g.videos = BuildCatalogue(videos);
    LoadMedia(mediaDir);
    if (packageFile.empty()) packageFile = SAMPLE_PACKAGE_FILE;
    {
        bool ok = false;
        g.package = ReadFile(packageFile, &ok);
        if (!ok) {
            std::fprintf(stderr, "lumeo-sample-service: cannot read %s\n", packageFile.c_str());
            return 2;
        }
    }

    // SIGTERM and SIGINT stop the service, which then ends with status 0, so that a shell's
    // `kill $!; wait $!` stops it cleanly. Every thread leaves them to the one that waits.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(5);
    server.set_read_timeout(30);
    server.set_write_timeout(30);
    // Every request is recorded, also those no route answers; the control requests are not.
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        if (req.path.rfind("/control/", 0) != 0) Record(req);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get(R"(/openapi-common/(\w+))", Api);
    server.Get(R"(/img/([A-Za-z0-9_]+)\.jpg)", Thumbnail);
    server.Get(R"(/media/[^/]+/\d+/(seg\d\.(?:flv|mp4|3gp)))", Segment);
    server.Get(R"(/packages/.+)", Package);  // the name is the decoded version, "/" and all
    server.Get(R"(/control/(\w+))", Control);
    if (!filesDir.empty()) {
        struct stat st;
        if (stat(filesDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "lumeo-sample-service: no such folder %s\n", filesDir.c_str());
            return 2;
        }
        server.Get(R"(/files/([A-Za-z0-9_][A-Za-z0-9_.-]*))",
                   [filesDir](const httplib::Request& req, httplib::Response& res) { ServeFile(filesDir, req, res); });
    }

    // Not the library's default options, whose SO_REUSEPORT lets a second service bind a port
    // that one already listens on, and the two split the requests between them. SO_REUSEADDR
    // alone lets a stopped service's port be taken again at once, but not a listening one.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    int bound = port == 0 ? server.bind_to_any_port("127.0.0.1") : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        int error = errno;
        if (error == EADDRINUSE)
            std::fprintf(stderr, "lumeo-sample-service: port %d on 127.0.0.1 is taken (is another sample service running?)\n", port);
        else
            std::fprintf(stderr, "lumeo-sample-service: cannot listen on 127.0.0.1:%d: %s\n", port, std::strerror(error));
        return 1;
    }
    g.port = bound;
    std::thread([stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // At once: a graceful stop would wait for every kept-alive or held connection. A
        // stopped service has nothing left to write but its buffered output.
        std::fflush(nullptr);
        std::_Exit(0);
    }).detach();
    if (lifetime > 0) {
        std::thread([&server, lifetime] {
            std::this_thread::sleep_for(std::chrono::seconds(lifetime));
            server.stop();
        }).detach();
    }
    std::printf("listening 127.0.0.1:%d\n", bound);
    std::fflush(stdout);
    server.listen_after_bind();
    return 0;
}
