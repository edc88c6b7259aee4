#include "platform/xmldom.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <pugixml.hpp>
#include <string>

#include "platform/codepage.h"
#include "platform/com.h"
#include "platform/files.h"

struct XmlNode::Doc {
    pugi::xml_document doc;
};

namespace {

pugi::xml_node AsNode(void* p) { return pugi::xml_node(static_cast<pugi::xml_node_struct*>(p)); }
pugi::xml_attribute AsAttr(void* p) { return pugi::xml_attribute(static_cast<pugi::xml_attribute_struct*>(p)); }

bool IsXmlSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring Trimmed(const std::string& utf8) {
    std::wstring w = platform::Utf8ToWide(utf8);
    size_t b = 0, e = w.size();
    while (b < e && IsXmlSpace(w[b])) ++b;
    while (e > b && IsXmlSpace(w[e - 1])) --e;
    return w.substr(b, e - b);
}

// Texts of every descendant in document order, without recursion (answers may nest deeply).
std::string JoinedText(pugi::xml_node root) {
    std::string out;
    pugi::xml_node n = root.first_child();
    while (n) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) out += n.value();
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && n != root && !n.next_sibling()) n = n.parent();
        if (!n || n == root) break;
        n = n.next_sibling();
    }
    return out;
}

bool ReadWholeFile(const wchar_t* path, std::string& bytes, std::wstring& reason) {
    FILE* f = _wfopen(path, L"rb");
    if (!f) {
        reason = L"The system cannot locate the object specified.\r\n";
        return false;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes.size() + n > XmlDocument::kMaxFileBytes) {
            std::fclose(f);
            reason = L"The document is too large.\r\n";
            return false;
        }
        bytes.append(buf, n);
    }
    bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) reason = L"The file could not be read.\r\n";
    return !failed;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c += 32;
    return s;
}

// The encoding named by an 8-bit declaration, lower-cased; empty when there is none.
std::string DeclaredEncoding(const std::string& bytes) {
    if (bytes.compare(0, 5, "<?xml") != 0) return "";
    size_t end = bytes.find("?>");
    if (end == std::string::npos || end > 1024) return "";
    std::string decl = bytes.substr(0, end);
    size_t at = decl.find("encoding");
    if (at == std::string::npos) return "";
    at = decl.find_first_of("\"'", at);
    if (at == std::string::npos) return "";
    size_t close = decl.find(decl[at], at + 1);
    if (close == std::string::npos) return "";
    return Lower(decl.substr(at + 1, close - at - 1));
}

bool NativeEncoding(const std::string& name) {
    return name.empty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii" ||
           name == "utf-16" || name == "utf-16le" || name == "utf-16be" || name == "iso-8859-1" ||
           name == "latin1";
}

// 0 converted, 1 encoding unknown here, 2 bytes invalid in that encoding.
int ConvertToUtf8(const std::string& from, std::string& bytes) {
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return 1;
    std::string out;
    char* in = bytes.data();
    size_t inLeft = bytes.size();
    char buf[16384];
    bool ok = true;
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, o - buf);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    if (!ok) return 2;
    bytes.swap(out);
    return 0;
}

std::wstring ParseReason(const pugi::xml_parse_result& r) {
    return platform::FormatW(L"%s (at byte %d).\r\n", platform::Utf8ToWide(r.description()),
                             static_cast<int>(r.offset));
}

}  // namespace

HRESULT XmlNode::selectNodes(const wchar_t* xpath, XmlNodeList& out) const {
    out.nodes_.clear();
    if (!node_ || !xpath) return E_POINTER;
    try {
        pugi::xpath_query query(platform::WideToUtf8(xpath).c_str());
        pugi::xpath_node_set set = AsNode(node_).select_nodes(query);
        set.sort();
        out.nodes_.reserve(set.size());
        for (const pugi::xpath_node& x : set)
            out.nodes_.push_back(XmlNode(doc_, x.attribute() ? x.parent().internal_object() : x.node().internal_object(),
                                         x.attribute() ? x.attribute().internal_object() : nullptr));
        return S_OK;
    } catch (const pugi::xpath_exception&) {
        return E_INVALIDARG;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT XmlNode::selectSingleNode(const wchar_t* xpath, XmlNode& out) const {
    out = XmlNode();
    XmlNodeList list;
    HRESULT hr = selectNodes(xpath, list);
    if (FAILED(hr)) return hr;
    return list.get_item(0, out);
}

HRESULT XmlNode::get_text(CStringW& out) const {
    out.Empty();
    try {
        if (attr_) out = Trimmed(AsAttr(attr_).value());
        else if (node_) out = Trimmed(JoinedText(AsNode(node_)));
        else return E_POINTER;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT XmlNode::getNamedItem(const wchar_t* name, XmlNode& out) const {
    out = XmlNode();
    if (!node_ || attr_ || !name) return E_POINTER;
    pugi::xml_attribute a = AsNode(node_).attribute(platform::WideToUtf8(name).c_str());
    if (!a) return S_FALSE;
    out = XmlNode(doc_, node_, a.internal_object());
    return S_OK;
}

HRESULT XmlNodeList::get_length(LONG* length) const {
    if (!length) return E_POINTER;
    *length = static_cast<LONG>(nodes_.size());
    return S_OK;
}

HRESULT XmlNodeList::get_item(LONG index, XmlNode& out) const {
    if (index < 0 || static_cast<size_t>(index) >= nodes_.size()) {
        out = XmlNode();
        return S_FALSE;
    }
    out = nodes_[index];
    return S_OK;
}

bool XmlDocument::load(const wchar_t* path) {
    doc_.reset();
    node_ = attr_ = nullptr;
    reason_.Empty();
    std::wstring reason;
    std::string bytes;
    try {
        if (!path || !ReadWholeFile(path, bytes, reason)) {
            reason_ = reason.empty() ? std::wstring(L"No file name was given.\r\n") : reason;
            return false;
        }
        pugi::xml_encoding encoding = pugi::encoding_auto;
        bool bom = bytes.size() >= 2 && ((unsigned char)bytes[0] >= 0xEF);
        std::string declared = bom ? "" : DeclaredEncoding(bytes);
        if (!NativeEncoding(declared)) {
            int converted = ConvertToUtf8(declared, bytes);
            if (converted != 0) {
                reason_ = converted == 1 ? platform::FormatW(L"System does not support the specified encoding (%s).\r\n",
                                                             platform::Utf8ToWide(declared))
                                         : std::wstring(L"An invalid character was found in text content.\r\n");
                return false;
            }
            encoding = pugi::encoding_utf8;
        }
        auto doc = std::make_shared<Doc>();
        pugi::xml_parse_result r = doc->doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, encoding);
        if (!r) {
            reason_ = ParseReason(r);
            return false;
        }
        // The parser is lenient where a DOM is not: one element, and nothing but white
        // space, comments and instructions around it.
        int elements = 0;
        for (pugi::xml_node n : doc->doc.children()) {
            if (n.type() == pugi::node_element) ++elements;
            else if ((n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) && !Trimmed(n.value()).empty())
                elements = 2;
        }
        if (elements != 1) {
            reason_ = L"Only one top level element is allowed in an XML document.\r\n";
            return false;
        }
        doc_ = std::move(doc);
        node_ = doc_->doc.internal_object();
        return true;
    } catch (const std::bad_alloc&) {
        reason_ = L"Not enough storage is available to complete this operation.\r\n";
        return false;
    }
}
