// The link listing of the HTTP stream: loads an HTML page once, then hands out one link
// per call.
#include <algorithm>
#include <string>

#include "http_stream.h"
#include "links.h"

namespace network {

namespace {

constexpr int kDefaultPage = 262143;
constexpr int kMaxPage = 524287;

int CloseWith(HttpStream* s, int result) {
    HttpOpen(s, nullptr, false, false);
    return result;
}

bool EndsWithSlash(const tchar* text) {
    size_t n = tcslen(text);
    return n > 0 && text[n - 1] == L'/';
}

}  // namespace

int HttpEnumLinks(void* self, const tchar* url, const tchar* exts, int knownOnly, LinkEntry* entry) {
    auto* s = static_cast<HttpStream*>(self);
    if (url) {
        int r = HttpOpen(s, url, false, false);
        if (r != 0) return r;
        if (!tcsstr(s->contentType, L"TEXT/HTML")) return CloseWith(s, ERR_NOT_DIRECTORY);
        int size = s->length;
        if (size < 1) size = kDefaultPage;
        if (size > kMaxPage) size = kMaxPage;
        s->page = static_cast<char*>(malloc_win32(static_cast<size_t>(size) + 1));
        if (!s->page) return ERR_OUT_OF_MEMORY;
        int got = 0;
        while (got < size) {
            int k = HttpRead(s, s->page + got, size - got);
            if (k < 1) break;
            got += k;
        }
        s->page[got] = 0;
        s->pageSize = got;
        tchar token[17];
        GetAsciiToken(token, 17, s->page, static_cast<size_t>(got));
        if (tcsnicmp(token, L"<ASX", 4) == 0 || tcsnicmp(token, L"[playlist]", 10) == 0 ||
            tcsnicmp(token, L"[Reference]", 11) == 0)
            return CloseWith(s, ERR_NOT_DIRECTORY);
        s->codePage = GetCodePage(s->contentType);
        s->pass = 0;
        s->parsePos = 0;
        tcscpy_s(s->extensions, HTTP_TEXT, exts ? exts : L"");
        s->knownOnly = knownOnly;
    } else if (!s->page) {
        return ERR_END_OF_FILE;  // no listing under way
    }
    if (s->pass > 3) return CloseWith(s, ERR_END_OF_FILE);
    if (!entry) return ERR_INVALID_PARAM;

    LinkScan scan;
    scan.page = s->page;
    scan.size = static_cast<size_t>(s->pageSize);
    scan.pos = static_cast<size_t>(std::max(s->parsePos, 0));
    scan.pass = s->pass;
    std::string value;
    while (NextLinkValue(scan, value)) {
        s->parsePos = static_cast<int>(scan.pos);
        s->pass = scan.pass;
        std::string decoded = DecodeEntities(value);
        StrToTcsEx(entry->url, 512, decoded.c_str(), s->codePage, static_cast<int>(decoded.size()));
        std::string unescaped = DecodePercent(decoded);
        StrToTcsEx(entry->displayName, 512, unescaped.c_str(), s->codePage, static_cast<int>(unescaped.size()));
        entry->kind = 0;
        entry->spare1 = entry->spare2 = -1;
        entry->isFile = -1;
        // Column-sort links of a server's directory listing.
        tchar absolute[1024];
        AbsPath(absolute, 1024, entry->url, s->baseUrl);
        tchar sortPrefix[HTTP_TEXT + 8];
        tcscpy_s(sortPrefix, HTTP_TEXT + 8, s->baseUrl);
        tcscat_s(sortPrefix, HTTP_TEXT + 8, L"/?C=");
        if (tcsnicmp(absolute, sortPrefix, tcslen(sortPrefix)) == 0) continue;
        if (EndsWithSlash(entry->url)) {
            entry->url[tcslen(entry->url) - 1] = 0;
            return ERR_NONE;
        }
        // The url keeps numeric references as written; its kind is told without them.
        std::wstring plain = DecodeNumericReferences(entry->url);
        if (CheckExts(plain.c_str(), L"html:H;htm:H;asp:H;php:H")) return ERR_NONE;
        entry->kind = static_cast<uint32_t>(CheckExts(plain.c_str(), s->extensions));
        entry->isFile = 0;
        if (entry->kind || !s->knownOnly) return ERR_NONE;
    }
    s->pass = scan.pass;
    return CloseWith(s, ERR_END_OF_FILE);
}

}  // namespace network
