// The sample web service itself: its answers must be truthful about the media it serves,
// as ffprobe reports them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <set>

#include <httplib.h>

#include "helpers.h"

namespace {

struct Seg {
    unsigned size, seconds;
    std::string url;
};

std::vector<Seg> SegmentsOf(const std::string& list) {
    std::vector<Seg> out;
    std::regex re("<seg><id>\\d+</id><size>(\\d+)</size><seconds>(\\d+)</seconds><url>([^<]+)</url></seg>");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back({static_cast<unsigned>(std::stoul((*it)[1])), static_cast<unsigned>(std::stoul((*it)[2])),
                       (*it)[3]});
    return out;
}

std::string Element(const std::string& xml, const std::string& name) {
    std::smatch m;
    return std::regex_search(xml, m, std::regex("<" + name + "(?: [^>]*)?>([^<]*)</" + name + ">")) ? m[1].str()
                                                                                                  : "<absent>";
}

std::string Probe(const std::string& file, const std::string& entries) {
    std::string cmd = "ffprobe -v error -show_entries " + entries + " -of default=nw=1 '" + file + "' 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

std::string Shell(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen((cmd + " 2>&1").c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

std::string PathOf(const std::string& url) { return url.substr(url.find('/', 7)); }

struct SampleServiceTest : ::testing::Test {
    static nettest::SampleService* service;
    static void SetUpTestSuite() { service = new nettest::SampleService({"--update-type", "3", "--update-version", "v9.9"}); }
    static void TearDownTestSuite() { delete service; }
    nettest::TempDir dir;
    std::string Api(const std::string& q) { return service->Get("/openapi-common/" + q); }
};
nettest::SampleService* SampleServiceTest::service = nullptr;

TEST_F(SampleServiceTest, SegmentsAreRealMediaOfTheStatedSizeAndLength) {
    std::string page = Api("listChannelVideos?pid=4f7be1c09a2d6e53&cid=98&pg=1&pz=10&rt=1&f=8&seg=1&rp=1");
    struct Kind {
        const char* list;
        const char* format;
    } kinds[] = {{"stream", "flv"}, {"streamMp4", "mp4"}, {"stream3gp", "3gp"}};
    for (const Kind& k : kinds) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(page, m, std::regex(std::string("<") + k.list + ">(.*?)</" + k.list + ">")));
        auto segs = SegmentsOf(m[1]);
        ASSERT_FALSE(segs.empty());
        for (const Seg& s : segs) {
            std::string body = service->Get(PathOf(s.url));
            EXPECT_EQ(body.size(), s.size) << s.url;
            dir.Write("seg", body);
            std::string report = Probe(dir.path() + "/seg", "format=format_name,duration");
            EXPECT_NE(report.find(k.format), std::string::npos) << report;
            std::smatch d;
            ASSERT_TRUE(std::regex_search(report, d, std::regex("duration=([0-9.]+)"))) << report;
            EXPECT_NEAR(std::stod(d[1]), s.seconds, 0.35) << s.url;
        }
    }
}

TEST_F(SampleServiceTest, ByteRangesOfASegment) {
    std::string whole = service->Get("/media/v/1/seg2.flv");
    ASSERT_GT(whole.size(), 1000u);
    httplib::Client c("127.0.0.1", service->port());
    auto r = c.Get("/media/v/1/seg2.flv", httplib::Headers{{"Range", "bytes=100-599"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 206);
    EXPECT_EQ(r->body, whole.substr(100, 500));
    r = c.Get("/media/v/1/seg2.flv", httplib::Headers{{"Range", "bytes=-64"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, whole.substr(whole.size() - 64));
}

TEST_F(SampleServiceTest, ThumbnailsAreJpegPictures) {
    std::string page = Api("getTopVideos?pid=4f7be1c09a2d6e53&pz=3&pg=1&rt=1&f=8&seg=1&rp=1");
    std::string img = Element(page, "img");
    dir.Write("t.jpg", service->Get(PathOf(img)));
    std::string report = Probe(dir.path() + "/t.jpg", "stream=codec_name,width,height");
    EXPECT_NE(report.find("codec_name=mjpeg"), std::string::npos) << report;
    EXPECT_NE(report.find("width=120"), std::string::npos);
    EXPECT_NE(report.find("height=90"), std::string::npos);
}

TEST_F(SampleServiceTest, PagesAddUpToTheTotal) {
    std::set<std::string> vids;
    int total = std::stoi(Element(Api("listChannelVideos?pid=4f7be1c09a2d6e53&cid=95&pg=1&pz=7"), "total"));
    for (int pg = 1; pg <= (total + 6) / 7 + 1; ++pg) {
        std::string page = Api("listChannelVideos?pid=4f7be1c09a2d6e53&cid=95&pg=" + std::to_string(pg) + "&pz=7");
        EXPECT_EQ(Element(page, "total"), std::to_string(total));
        std::regex re("<vid>([^<]*)</vid>");
        for (auto it = std::sregex_iterator(page.begin(), page.end(), re); it != std::sregex_iterator(); ++it)
            vids.insert((*it)[1]);
    }
    EXPECT_EQ(static_cast<int>(vids.size()), total);

    std::string related = Api("relatedVideos?pid=4f7be1c09a2d6e53&vid=lv3f2a0000&pz=50&rt=1&f=8&seg=1&rp=1");
    EXPECT_EQ(Element(related, "total"), "29") << "the other videos of its channel of 30";
    EXPECT_EQ(related.find("<vid>lv3f2a0000</vid>"), std::string::npos);
}

TEST_F(SampleServiceTest, VersionAnswerAndPackage) {
    std::string v = Api("getVersionInfo?pid=4f7be1c09a2d6e53&ver=v1.01.15.06007");
    EXPECT_EQ(Element(v, "status"), "success");
    EXPECT_NE(v.find("<update type=\"3\">"), std::string::npos);
    EXPECT_EQ(Element(v, "ver"), "v9.9");
    std::string package = service->Get(PathOf(Element(v, "down")));
    // A real cabinet, as gcab lists it: the version file it installs.
    dir.Write("p.cab", package);
    EXPECT_EQ(Shell("gcab -t '" + dir.path() + "/p.cab'"), "version.txt\n");
}

TEST(SampleServiceUpdate, AnyTypeAndAnEncodedPackageAddress) {
    nettest::SampleService service({"--update-type", "7", "--update-version", "v2 beta/1&x"});
    std::string v = service.Get("/openapi-common/getVersionInfo?pid=4f7be1c09a2d6e53&ver=v1.01.15.06007");
    EXPECT_NE(v.find("<update type=\"7\">"), std::string::npos);
    EXPECT_EQ(Element(v, "ver"), "v2 beta/1&amp;x");
    std::string down = Element(v, "down");
    EXPECT_NE(down.find("/packages/Lumeo_v2%20beta%2F1%26x.CAB"), std::string::npos) << down;
    httplib::Client client("127.0.0.1", service.port());
    auto got = client.Get(PathOf(down));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, 200);
    EXPECT_EQ(got->body.rfind("MSCF", 0), 0u);
}

TEST_F(SampleServiceTest, BadRequestsAnswerAnotherStatus) {
    for (const char* q : {"listChannelVideos?pid=4f7be1c09a2d6e53&cid=93", "getVideosOrderByPv?pid=4f7be1c09a2d6e53&pd=4",
                          "getTopVideos?pid=short", "relatedVideos?pid=4f7be1c09a2d6e53&vid=none",
                          "getVersionInfo?pid=4f7be1c09a2d6e53"}) {
        std::string s = Element(Api(q), "status");
        EXPECT_NE(s, "success") << q;
        EXPECT_NE(s, "<absent>") << q;
    }
}

TEST_F(SampleServiceTest, FaultsPerRequestQueuedAndPerRun) {
    const std::string top = "getTopVideos?pid=4f7be1c09a2d6e53&pz=2&pg=1";
    EXPECT_EQ(Element(Api(top + "&fault=failstatus"), "status"), "fail");
    EXPECT_EQ(Element(Api(top + "&fault=nototal"), "total"), "<absent>");
    EXPECT_EQ(Element(Api(top + "&fault=empty"), "total"), "0");
    service->QueueFault("failstatus", 2, "pz=2");
    EXPECT_EQ(Element(Api("getTopVideos?pid=4f7be1c09a2d6e53&pz=3"), "status"), "success") << "not matched";
    EXPECT_EQ(Element(Api(top), "status"), "fail");
    EXPECT_EQ(Element(Api(top), "status"), "fail");
    EXPECT_EQ(Element(Api(top), "status"), "success") << "used up";
    httplib::Client c("127.0.0.1", service->port());
    auto r = c.Get(("/openapi-common/" + top + "&fault=status:503").c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 503);

    // A dropped answer reports the bytes it sent, as curl receives them before the close.
    for (std::string target : {"/openapi-common/" + top + "&fault=drop", std::string("/media/v/1/seg2.flv?fault=drop")}) {
        std::string whole = service->Get(target.substr(0, target.find("fault=drop") - 1));
        std::string file = dir.path() + "/dropped";
        std::string exitCode = Shell("curl -s -o '" + file + "' 'http://" + service->host() + target + "'; echo $?");
        EXPECT_EQ(exitCode, "18\n") << "curl: transfer closed with outstanding read data";
        std::string got = nettest::ReadAll(file);
        auto drops = service->Drops();
        ASSERT_FALSE(drops.empty());
        EXPECT_EQ(drops.back().target, target);
        EXPECT_EQ(drops.back().sent, got.size());
        EXPECT_EQ(got.size(), whole.size() / 2) << target;
        EXPECT_TRUE(got == whole.substr(0, got.size())) << target;
    }

    nettest::SampleService broken({"--fault", "malformed"});
    std::string cut = broken.Get("/openapi-common/" + top);
    EXPECT_EQ(cut.find("</channel>"), std::string::npos);
    EXPECT_FALSE(cut.empty());
}

// A second service on a port the first listens on is refused: two would split the requests,
// and faults and resets would reach one of them only.
TEST(SampleServiceStart, APortTakenIsRefused) {
    nettest::SampleService first;
    std::string second = Shell(std::string(SAMPLE_SERVICE_PATH) + " --port " + std::to_string(first.port()) +
                               " --lifetime 3 2>&1; echo \"status $?\"");
    EXPECT_NE(second.find("port " + std::to_string(first.port()) + " on 127.0.0.1 is taken"), std::string::npos) << second;
    EXPECT_EQ(second.find("listening"), std::string::npos) << second;
    EXPECT_NE(second.find("status 1"), std::string::npos) << second;
    // Every request still reaches the first.
    first.Get("/control/reset");
    for (int i = 0; i < 20; ++i) first.Get("/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=1&pg=" + std::to_string(i + 1));
    int seen = 0;
    for (const auto& line : first.Requests()) seen += line.rfind("GET /openapi-common/getTopVideos", 0) == 0;
    EXPECT_EQ(seen, 20);
}

// Fault modes the service does not know are refused, at the start and per request, with the
// list of those it knows.
TEST(SampleServiceStart, UnknownFaultModesAreRefusedWithTheModes) {
    const std::string modes = "delay:MS, status:CODE, drop, malformed, empty, failstatus, nototal, badvid";
    for (const char* mode : {"bogus", "Drop", "delay", "delay:", "delay:soon", "status:", "status:50x", ""}) {
        std::string out = Shell(std::string(SAMPLE_SERVICE_PATH) + " --port 0 --lifetime 2 --fault '" + mode +
                                "' 2>&1; echo \"status $?\"");
        EXPECT_NE(out.find(std::string("unknown fault mode ") + mode), std::string::npos) << mode << ": " << out;
        EXPECT_NE(out.find(modes), std::string::npos) << mode << ": " << out;
        EXPECT_NE(out.find("status 2"), std::string::npos) << mode << ": " << out;
    }
    for (const char* mode : {"delay:5", "delay=5", "status:503", "status=503", "drop", "malformed", "empty", "failstatus",
                             "nototal", "badvid"}) {
        std::string out = Shell(std::string(SAMPLE_SERVICE_PATH) + " --port 0 --lifetime 1 --fault '" + mode +
                                "' 2>&1; echo \"status $?\"");
        EXPECT_NE(out.find("listening 127.0.0.1:"), std::string::npos) << mode << ": " << out;
        EXPECT_NE(out.find("status 0"), std::string::npos) << mode << ": " << out;
    }
    nettest::SampleService service;
    httplib::Client c("127.0.0.1", service.port());
    auto r = c.Get("/control/fault?mode=bogus&count=1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_NE(r->body.find(modes), std::string::npos) << r->body;
    r = c.Get("/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=2&pg=1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << "nothing was queued";
}

}  // namespace
