#include "parseXML.h"

#include <algorithm>

#include "codecs.h"
#include "log.h"
#include "platform/com.h"
#include "platform/crt.h"

namespace {

DWORD ReadNumber(const CStringW& text) { return static_cast<DWORD>(platform::WcsToLong32(text, nullptr, 10)); }

// The reader's values come in this order; a failed one ends the item.
int ReadItem(const XmlNode& node, VideoItem& v) {
    struct Text {
        const wchar_t* name;
        CStringW VideoItem::*field;
        bool clean;
    };
    struct Number {
        const wchar_t* name;
        DWORD VideoItem::*field;
    };
    auto text = [&](const Text& t) {
        CStringW s;
        if (GetNodeString(node, t.name, s) != 0) {
            LOG(LOG_WARNING, L"GetNodeString failed");
            return false;
        }
        if (t.clean) RemoveCRLF(s, s);
        v.*t.field = s;
        return true;
    };
    auto number = [&](const Number& n) {
        if (GetNodeUINT(node, n.name, v.*n.field) != 0) {
            LOG(LOG_WARNING, L"GetNodeUINT failed");
            return false;
        }
        return true;
    };
    auto stream = [&](const wchar_t* name, std::vector<Segment>& list) {
        if (ParseStream(node, name, list) == -1) {
            LOG(LOG_WARNING, L"ParseStream failed");
            return false;
        }
        return true;
    };
    return text({L"vid", &VideoItem::vid, false}) && stream(L"stream", v.stream) &&
                   stream(L"streamMp4", v.streamMp4) && stream(L"stream3gp", v.stream3gp) &&
                   text({L"title", &VideoItem::title, true}) && text({L"img", &VideoItem::img, false}) &&
                   text({L"duration", &VideoItem::duration, false}) && number({L"pv", &VideoItem::pv}) &&
                   text({L"desc", &VideoItem::desc, false}) &&
                   number({L"totalcomment", &VideoItem::totalcomment}) &&
                   text({L"user", &VideoItem::user, true}) && number({L"up", &VideoItem::up}) &&
                   number({L"down", &VideoItem::down}) && text({L"cats", &VideoItem::cats, false}) &&
                   text({L"tags", &VideoItem::tags, false}) && text({L"pubdate", &VideoItem::pubdate, false})
               ? 0
               : -1;
}

// selectNodes + get_length on `from`, with the reader's failure lines.
bool SelectList(const XmlNode& from, const wchar_t* xpath, XmlNodeList& list, LONG& count) {
    HRESULT hr = from.selectNodes(xpath, list);
    if (FAILED(hr)) {
        LOG(LOG_WARNING, L"selectNodes failed, hr=%lu.", static_cast<DWORD>(hr));
        return false;
    }
    hr = list.get_length(&count);
    if (FAILED(hr)) {
        LOG(LOG_WARNING, L"get_length failed, hr=%lu.", static_cast<DWORD>(hr));
        return false;
    }
    return true;
}

// A single selected node; a selection that finds nothing is a failure too.
bool SelectOne(const XmlNode& from, const wchar_t* xpath, XmlNode& node) {
    HRESULT hr = from.selectSingleNode(xpath, node);
    if (hr != S_OK) {
        LOG(LOG_WARNING, L"selectSingleNode failed, hr=%lu", static_cast<DWORD>(hr));
        return false;
    }
    return true;
}

}  // namespace

int initXML() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    switch (hr) {
        case S_OK:
            return 0;
        case E_INVALIDARG:
            LOG(LOG_WARNING, L"CoInitializeEx failed with E_INVALIDARG");
            break;
        case E_OUTOFMEMORY:
            LOG(LOG_WARNING, L"CoInitializeEx failed with E_OUTOFMEMORY");
            break;
        case E_UNEXPECTED:
            LOG(LOG_WARNING, L"CoInitializeEx failed with E_UNEXPECTED");
            break;
        case S_FALSE:
            LOG(LOG_WARNING, L"CoInitializeEx failed : The COM library is already initialized on the calling thread.");
            break;
        case RPC_E_CHANGED_MODE:
            LOG(LOG_WARNING,
                L"CoInitializeEx failed : A previous call to CoInitializeEx specified a different concurrency model "
                L"for the calling thread, or the thread that called CoInitializeEx currently belongs to the neutral "
                L"threaded apartment.");
            break;
        default:
            LOG(LOG_WARNING, L"CoInitializeEx failed : error=%d", hr);
            break;
    }
    return -1;
}

XmlDocument LoadXML(const wchar_t* path) {
    XmlDocument doc;
    if (!doc.load(path)) {
        LOG(LOG_WARNING, L"Failed to load DOM from xml:%s pXML=%s", doc.parseErrorReason(), path ? path : L"");
        return XmlDocument();
    }
    return doc;
}

int GetNodeString(const XmlNode& node, const wchar_t* name, CStringW& out) {
    XmlNode child;
    HRESULT hr = node.selectSingleNode(name, child);
    if (hr != S_OK) {
        LOG(LOG_WARNING, L"selectSingleNode failed, hr=%lu", static_cast<DWORD>(hr));
        return -1;
    }
    hr = child.get_text(out);
    if (FAILED(hr)) {
        LOG(LOG_WARNING, L"get_text failed, hr=%lu", static_cast<DWORD>(hr));
        return -1;
    }
    return 0;
}

int GetNodeUINT(const XmlNode& node, const wchar_t* name, DWORD& out) {
    CStringW text;
    if (GetNodeString(node, name, text) != 0) return -1;
    out = ReadNumber(text);
    return 0;
}

int ParseStream(const XmlNode& item, const wchar_t* name, std::vector<Segment>& out) {
    XmlNodeList lists;
    HRESULT hr = item.selectNodes(name, lists);
    if (FAILED(hr)) {
        LOG(LOG_WARNING, L"selectSingleNode failed, hr=%lu.", static_cast<DWORD>(hr));
        return -1;
    }
    LONG count = 0;
    hr = lists.get_length(&count);
    if (FAILED(hr)) {
        LOG(LOG_WARNING, L"get_length failed, hr=%lu.", static_cast<DWORD>(hr));
        return -1;
    }
    if (count != 1) return 1;
    XmlNode list;
    hr = lists.get_item(0, list);
    if (hr != S_OK) {
        LOG(LOG_WARNING, L"get_item failed, hr=%lu.", static_cast<DWORD>(hr));
        return -1;
    }
    XmlNodeList segs;
    LONG segCount = 0;
    if (!SelectList(list, L"seg", segs, segCount)) return -1;
    for (LONG i = 0; i < segCount; ++i) {
        XmlNode node;
        hr = segs.get_item(i, node);
        if (hr != S_OK) {
            LOG(LOG_WARNING, L"get_item failed, hr=%lu", static_cast<DWORD>(hr));
            return -1;
        }
        Segment seg;
        if (GetNodeUINT(node, L"id", seg.id) != 0 || GetNodeUINT(node, L"size", seg.size) != 0 ||
            GetNodeUINT(node, L"seconds", seg.seconds) != 0) {
            LOG(LOG_WARNING, L"GetNodeUINT failed");
            continue;
        }
        if (GetNodeString(node, L"url", seg.url) != 0) {
            LOG(LOG_WARNING, L"GetNodeString failed");
            continue;
        }
        out.push_back(seg);
    }
    return 0;
}

int ParseVideoList(const wchar_t* path, std::vector<VideoItem>& out, int& total, int maxTotal) {
    if (!path) {
        LOG(LOG_WARNING, L"XML address is null");
        return -1;
    }
    LOG(LOG_NOTICE, L"LoadXML : wXML=%s", path);
    XmlDocument doc = LoadXML(path);
    if (!doc) {
        LOG(LOG_WARNING, L"LoadXML failed.");
        return -1;
    }

    XmlNodeList list;
    LONG count = 0;
    if (!SelectList(doc, L"//channel/status", list, count)) return -1;
    if (count != 1) {
        LOG(LOG_WARNING, L"get total failed : %d", count);
        return -1;
    }
    XmlNode node;
    HRESULT hr = list.get_item(0, node);
    if (hr != S_OK) {
        LOG(LOG_WARNING, L"get_item failed, hr=%lu.", static_cast<DWORD>(hr));
        return -1;
    }
    CStringW status;
    if (FAILED(node.get_text(status)) || status != L"success") {
        LOG(LOG_WARNING, L"status!=success");
        return -1;
    }

    if (!SelectList(doc, L"//channel/total", list, count)) return -1;
    total = 0;
    if (count == 1) {
        hr = list.get_item(0, node);
        if (hr != S_OK) {
            LOG(LOG_WARNING, L"get_item failed, hr=%lu.", static_cast<DWORD>(hr));
            return -1;
        }
        CStringW text;
        node.get_text(text);
        total = std::min(static_cast<int>(platform::WcsToLong32(text, nullptr, 10)), maxTotal);
    }

    if (!SelectList(doc, L"//channel/item", list, count)) return -1;
    for (LONG i = 0; i < count; ++i) {
        XmlNode itemNode;
        hr = list.get_item(i, itemNode);
        if (hr != S_OK) {
            LOG(LOG_WARNING, L"get_item failed, hr=%lu.", static_cast<DWORD>(hr));
            return -1;
        }
        VideoItem item;
        if (ReadItem(itemNode, item) == 0) out.push_back(std::move(item));
    }
    if (total == 0) total = static_cast<int>(out.size());
    return 0;
}

int ParseUpdateInfo(const wchar_t* path, UpdateInfo& info) {
    if (!path) {
        LOG(LOG_WARNING, L"XML address is null");
        return -1;
    }
    LOG(LOG_NOTICE, L"LoadXML : wXML=%s", path);
    XmlDocument doc = LoadXML(path);
    if (!doc) {
        LOG(LOG_WARNING, L"LoadXML failed : wXML=%s", path);
        return -1;
    }
    XmlNode node;
    if (!SelectOne(doc, L"//channel/status", node)) return -1;
    CStringW status;
    if (FAILED(node.get_text(status)) || status != L"success") {
        LOG(LOG_WARNING, L"status!=success, wXML=%s", path);
        return -1;
    }
    if (!SelectOne(doc, L"//channel/update", node)) return -1;
    XmlNode type;
    HRESULT hr = node.getNamedItem(L"type", type);
    if (hr != S_OK) {
        LOG(LOG_WARNING, L"getNamedItem failed, hr=%lu", static_cast<DWORD>(hr));
        return -1;
    }
    CStringW text;
    type.get_text(text);
    info.type = platform::WcsToLong32(text, nullptr, 10);
    switch (info.type) {
        case 0:
        case 1:
            return 0;
        case 2:
        case 3: {
            struct Field {
                const wchar_t* xpath;
                CStringW* out;
            } fields[] = {{L"//channel/update/ver", &info.ver},
                          {L"//channel/update/desc", &info.desc},
                          {L"//channel/update/down", &info.down}};
            for (const Field& f : fields) {
                if (!SelectOne(doc, f.xpath, node)) return -1;
                node.get_text(*f.out);
            }
            return 0;
        }
        default:
            LOG(LOG_WARNING, L"Unknown type=%d.", info.type);
            return -1;
    }
}

int GetVideoList(const wchar_t* path, std::vector<VideoItem>& out, int& total, int maxTotal) {
    if (initXML() != 0) {
        LOG(LOG_WARNING, L"initXML failed");
        return -1;
    }
    int r = ParseVideoList(path, out, total, maxTotal);
    CoUninitialize();
    return r;
}

int GetUpdateInfo(const wchar_t* path, UpdateInfo& info) {
    if (initXML() != 0) {
        LOG(LOG_WARNING, L"initXML failed");
        return -1;
    }
    int r = ParseUpdateInfo(path, info);
    CoUninitialize();
    return r;
}

LONGLONG SystemTimeToTime(const SYSTEMTIME& st) {
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) return -1;
    LONGLONG ticks = (static_cast<LONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - 116444736000000000LL) / 10000000;
}
