// The HTML link listing of the HTTP stream, against pages served on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "http_server.h"
#include "stream_fixture.h"

using testing_support::HttpServer;
using testing_support::StreamTest;

namespace {

struct Link {
    std::wstring url, name;
    uint32_t kind;
    int isFile;
    bool operator==(const Link& o) const {
        return url == o.url && name == o.name && kind == o.kind && isFile == o.isFile;
    }
};

std::ostream& operator<<(std::ostream& os, const Link& l) {
    return os << std::string(l.url.begin(), l.url.end()) << " | " << std::string(l.name.begin(), l.name.end())
              << " | " << l.kind << " | " << l.isFile;
}

const char kPage[] =
    "<html><body>\n"
    "<a href=\"?C=N;O=D\">Name</a>\n"
    "<a href=\"a&amp;b.mp4\">1</a> <a href=\"c&AMP;d.mp4\">2</a> <a href=\"e&#38;f.mp4\">3</a>\n"
    "<a href=\"g&#x26;h.flv\">3b</a>\n"
    "<A HREF='my%20clip.flv'>4</A>\n"
    "<a class=x href=\"dir/\">5</a>\n"
    "<a href=\"notes.txt\">6</a>\n"
    "<area shape=rect href=map.mp3>\n"
    "<embed href=\"e1.flv\" src=\"e2.mp4\">\n"
    "<a href=\"index.html\">7</a> <a href=\"page.php?x=1\">8</a>\n"
    "<a href=\"caf&eacute;.mp3\">9</a>\n"
    "<a href=\"unterminated.mp4\n";

class Links : public StreamTest {
protected:
    void SetUp() override {
        auto& s = http.server();
        auto page = [](const std::string& body, const std::string& type) {
            return [body, type](const httplib::Request&, httplib::Response& res) { res.set_content(body, type); };
        };
        s.Get("/listing/", page(kPage, "text/html; charset=utf-8"));
        s.Get("/plain", page("<a href=\"x.mp4\">x</a>", "text/plain"));
        s.Get("/playlist", page("[playlist]\nFile1=http://x/a.mp3\n<a href=\"a.mp3\">", "text/html"));
        s.Get("/asx", page("  <ASX version=\"3\"><a href=\"a.mp3\">", "text/html"));
        s.Get("/reference", page("[Reference]\nRef1=http://x/a.asf\n", "text/html"));
        s.Get("/gb", page(std::string("<a href=\"\xCA\xD3\xC6\xB5.flv\">v</a>"), "text/html; charset=gb2312"));
        s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/html", [](size_t offset, httplib::DataSink& sink) {
                std::string part;
                if (offset == 0) part = "<a href=\"early.mp4\">e</a>";
                else if (offset >= 400000) {
                    sink.done();
                    return true;
                } else if (offset == 270000) part = "<a href=\"late.mp4\">l</a>";
                part.append(10000 - part.size(), ' ');
                sink.write(part.data(), part.size());
                return true;
            });
        });
        s.Get("/huge", [](const httplib::Request&, httplib::Response& res) {
            std::string body = "<a href=\"first.mp4\">";
            body.append(600000 - body.size(), ' ');
            body += "<a href=\"beyond.mp4\">";
            res.set_content(body, "text/html");
        });
        http.Start();
        StreamTest::SetUp();
    }
    std::vector<Link> List(const std::string& path, const tchar* exts, int knownOnly, int* last) {
        std::vector<Link> out;
        LinkEntry e;
        std::wstring url = http.wurl(path);
        int r = stream->base.enumLinks(stream, url.c_str(), exts, knownOnly, &e);
        for (int guard = 0; r == 0 && guard < 100; ++guard) {
            EXPECT_EQ(e.spare1, -1);
            EXPECT_EQ(e.spare2, -1);
            out.push_back({e.url, e.displayName, e.kind, e.isFile});
            r = stream->base.enumLinks(stream, nullptr, nullptr, 0, &e);
        }
        *last = r;
        return out;
    }
    HttpServer http;
};

TEST_F(Links, PageListsEveryTagKindInOrderDecoded) {
    int last = 0;
    auto links = List("/listing/", L"mp4:v;flv:v;mp3:a", 0, &last);
    std::vector<Link> expected = {
        {L"a&b.mp4", L"a&b.mp4", 'v', 0},
        {L"c&AMP;d.mp4", L"c&AMP;d.mp4", 'v', 0},
        // Numeric references stay as written, and their "#" is no fragment.
        {L"e&#38;f.mp4", L"e&#38;f.mp4", 'v', 0},
        {L"g&#x26;h.flv", L"g&#x26;h.flv", 'v', 0},
        {L"my%20clip.flv", L"my clip.flv", 'v', 0},
        {L"dir", L"dir/", 0, -1},
        {L"notes.txt", L"notes.txt", 0, 0},
        {L"index.html", L"index.html", 0, -1},
        {L"page.php?x=1", L"page.php?x=1", 0, -1},
        {L"caf\u00e9.mp3", L"caf\u00e9.mp3", 'a', 0},
        {L"map.mp3", L"map.mp3", 'a', 0},
        {L"e1.flv", L"e1.flv", 'v', 0},
        {L"e2.mp4", L"e2.mp4", 'v', 0},
    };
    EXPECT_EQ(links, expected);
    EXPECT_EQ(last, ERR_END_OF_FILE);
    // After the end the listing stays over.
    LinkEntry e;
    EXPECT_EQ(stream->base.enumLinks(stream, nullptr, nullptr, 0, &e), ERR_END_OF_FILE);
}

TEST_F(Links, KnownOnlySkipsUnlistedExtensions) {
    int last = 0;
    auto links = List("/listing/", L"mp4:v;flv:v;mp3:a", 1, &last);
    EXPECT_EQ(last, ERR_END_OF_FILE);
    for (auto& l : links) EXPECT_TRUE(l.kind != 0 || l.isFile == -1) << l;
    EXPECT_EQ(links.size(), 12u);
    // A numeric reference in the name does not hide the extension.
    EXPECT_NE(std::find(links.begin(), links.end(), Link{L"e&#38;f.mp4", L"e&#38;f.mp4", 'v', 0}), links.end());
    EXPECT_NE(std::find(links.begin(), links.end(), Link{L"g&#x26;h.flv", L"g&#x26;h.flv", 'v', 0}), links.end());
}

TEST_F(Links, PagesThatAreNotDirectoriesAreRefused) {
    for (const char* path : {"/plain", "/playlist", "/asx", "/reference"}) {
        int last = 0;
        auto links = List(path, L"mp3:a", 0, &last);
        EXPECT_TRUE(links.empty()) << path;
        EXPECT_EQ(last, ERR_NOT_DIRECTORY) << path;
    }
}

TEST_F(Links, CharsetOfThePageDecodesTheLinks) {
    int last = 0;
    auto links = List("/gb", L"flv:v", 0, &last);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].url, L"\u89c6\u9891.flv");
}

TEST_F(Links, PageSizeIsBounded) {
    int last = 0;
    // Without a length: the first 262143 bytes.
    auto links = List("/chunked", L"mp4:v", 0, &last);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].url, L"early.mp4");
    // Longer than 524287 bytes: cut there.
    links = List("/huge", L"mp4:v", 0, &last);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].url, L"first.mp4");
    EXPECT_EQ(last, ERR_END_OF_FILE);
}

}  // namespace
