// URL and path helpers.
#include "core/url.h"

#include <string>

#include "core/text.h"

namespace {

void Out(tchar* out, int capacity, const std::wstring& s) {
    if (out && capacity > 0) tcscpy_s(out, static_cast<size_t>(capacity), s.c_str());
}

// Length of "scheme://" at the start, or 0.
size_t SchemeEnd(const std::wstring& u) {
    size_t colon = u.find(L"://");
    if (colon == std::wstring::npos || colon == 0) return 0;
    for (size_t i = 0; i < colon; ++i) {
        wchar_t c = u[i];
        bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (i > 0 && ((c >= L'0' && c <= L'9') ||
                                                                                      c == L'+' || c == L'-' || c == L'.'));
        if (!ok) return 0;
    }
    return colon + 3;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return s;
}

// Resolves "." and ".." segments of a path that starts with "/".
std::wstring Normalise(const std::wstring& path) {
    size_t q = path.find_first_of(L"?#");
    std::wstring p = path.substr(0, q), rest = q == std::wstring::npos ? L"" : path.substr(q);
    std::wstring out;
    size_t i = 0;
    while (i < p.size()) {
        size_t j = p.find(L'/', i + 1);
        std::wstring seg = p.substr(i, j == std::wstring::npos ? std::wstring::npos : j - i);  // "/name"
        if (seg == L"/.") {
            if (j == std::wstring::npos) out += L"/";
        } else if (seg == L"/..") {
            size_t cut = out.rfind(L'/');
            out = cut == std::wstring::npos ? L"" : out.substr(0, cut);
            if (j == std::wstring::npos) out += L"/";
        } else {
            out += seg;
        }
        if (j == std::wstring::npos) break;
        i = j;
    }
    return out + rest;
}

}  // namespace

void SplitURL(const tchar* url, tchar* base, int baseCapacity, tchar* protocol, int protocolCapacity, tchar* host,
              int hostCapacity, tchar* path, int pathCapacity) {
    std::wstring u = url ? url : L"";
    size_t s = SchemeEnd(u);
    std::wstring proto, hst, pth, bs;
    if (s) {
        proto = u.substr(0, s - 3);
        size_t slash = u.find_first_of(L"/?#", s);
        hst = u.substr(s, slash == std::wstring::npos ? std::wstring::npos : slash - s);
        pth = slash == std::wstring::npos ? L"" : u.substr(slash);
        size_t q = pth.find_first_of(L"?#");
        std::wstring dir = pth.substr(0, q);
        size_t last = dir.rfind(L'/');
        bs = u.substr(0, s) + hst + (last == std::wstring::npos ? L"" : dir.substr(0, last));
    } else {
        pth = u;
        size_t last = u.find_last_of(L"/\\");
        bs = last == std::wstring::npos ? L"" : u.substr(0, last);
    }
    Out(base, baseCapacity, bs);
    Out(protocol, protocolCapacity, proto);
    Out(host, hostCapacity, hst);
    Out(path, pathCapacity, pth);
}

void AbsPath(tchar* out, int capacity, const tchar* link, const tchar* base) {
    std::wstring l = link ? link : L"", b = base ? base : L"";
    std::wstring result;
    if (SchemeEnd(l)) {
        result = l;
    } else {
        size_t s = SchemeEnd(b);
        if (s) {
            size_t slash = b.find(L'/', s);
            std::wstring origin = b.substr(0, slash == std::wstring::npos ? std::wstring::npos : slash);
            std::wstring basePath = slash == std::wstring::npos ? L"" : b.substr(slash);
            if (l.compare(0, 2, L"//") == 0)
                result = b.substr(0, s - 2) + l;
            else if (!l.empty() && l[0] == L'/')
                result = origin + Normalise(l);
            else
                result = origin + Normalise(basePath + L"/" + l);
        } else if (l.empty() || l[0] == L'/' || l[0] == L'\\' || b.empty()) {
            result = l;
        } else {
            wchar_t sep = b.find(L'\\') != std::wstring::npos ? L'\\' : L'/';
            result = b + sep + l;
        }
    }
    Out(out, capacity, result);
}

int CheckExts(const tchar* url, const tchar* exts) {
    if (!url || !exts) return 0;
    std::wstring u = url;
    size_t start = SchemeEnd(u);
    if (start) {
        // The host is no file name.
        start = u.find(L'/', start);
        if (start == std::wstring::npos) return 0;
    }
    size_t q = u.find_first_of(L"?#", start);
    u = u.substr(0, q);
    size_t seg = u.find_last_of(L"/\\");
    std::wstring name = seg == std::wstring::npos ? u : u.substr(seg + 1);
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) return 0;
    std::wstring ext = Lower(name.substr(dot + 1));
    if (ext.empty()) return 0;
    std::wstring list = exts;
    size_t i = 0;
    while (i <= list.size()) {
        size_t j = list.find(L';', i);
        std::wstring item = list.substr(i, j == std::wstring::npos ? std::wstring::npos : j - i);
        size_t colon = item.find(L':');
        if (colon != std::wstring::npos && colon + 1 < item.size() && Lower(item.substr(0, colon)) == ext)
            return item[colon + 1];
        if (j == std::wstring::npos) break;
        i = j + 1;
    }
    return 0;
}

int GetCodePage(const tchar* contentType) {
    if (!contentType) return 0;
    std::wstring t = Lower(contentType);
    size_t at = t.find(L"charset=");
    if (at == std::wstring::npos) return 0;
    size_t start = at + 8;
    while (start < t.size() && (t[start] == L'"' || t[start] == L'\'' || t[start] == L' ')) ++start;
    size_t end = t.find_first_of(L"\"'; ,\t", start);
    std::wstring cs = t.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (cs == L"utf-8" || cs == L"utf8") return 65001;
    if (cs == L"iso-8859-1" || cs == L"latin1" || cs == L"iso8859-1" || cs == L"us-ascii" || cs == L"ascii")
        return 28591;
    if (cs == L"iso-8859-15") return 28605;
    if (cs.compare(0, 9, L"iso-8859-") == 0) {
        int n = StringToInt(cs.c_str() + 9);
        if (n >= 2 && n <= 9) return 28590 + n;
        return 0;
    }
    if (cs.compare(0, 8, L"windows-") == 0) {
        int n = StringToInt(cs.c_str() + 8);
        return n >= 874 && n <= 1258 ? n : 0;
    }
    if (cs == L"gb2312" || cs == L"gbk" || cs == L"x-gbk" || cs == L"cp936") return 936;
    if (cs == L"gb18030") return 54936;
    if (cs == L"big5" || cs == L"big-5" || cs == L"cp950") return 950;
    if (cs == L"shift_jis" || cs == L"shift-jis" || cs == L"sjis" || cs == L"x-sjis") return 932;
    if (cs == L"euc-kr" || cs == L"ks_c_5601-1987") return 949;
    if (cs == L"euc-jp") return 20932;
    if (cs == L"koi8-r") return 20866;
    if (cs == L"koi8-u") return 21866;
    return 0;
}
