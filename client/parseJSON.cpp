#include "parseJSON.h"

#include <map>
#include <new>
#include <vector>

#include "log.h"
#include "platform/codepage.h"
#include "platform/crt.h"

namespace {

// The JSON library's 8-bit text in the system code page, as wide text.
CStringW AnsiToWide(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return CStringW();
    std::vector<wchar_t> wide(n + 1, 0);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    return CStringW(wide.data());
}

void TakeString(const nlohmann::json& video, const char* member, CStringW& field) {
    auto it = video.find(member);
    if (it != video.end() && it->is_string()) field = AnsiToWide(it->get_ref<const std::string&>());
}

// The index a key names: decimal digits as "%d" writes them, or -1.
long long KeyIndex(const std::string& key) {
    if (key.empty() || key.size() > 10 || (key.size() > 1 && key[0] == '0')) return -1;
    long long v = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

void ParseJsonVideoItem(const nlohmann::json& video, JsonVideoItem& record) {
    if (!video.is_object()) return;
    TakeString(video, "encodeVid", record.vid);
    TakeString(video, "title", record.title);
    TakeString(video, "seconds", record.seconds);
    int s = platform::WcsToLong32(record.seconds, nullptr, 10);
    int h = s / 3600;
    int m = (s - 3600 * h) / 60;
    int r = s - 3600 * h - 60 * m;
    if (h == 0) record.duration.Format(L"%.2d:%.2d", m, r);
    else record.duration.Format(L"%.2d:%.2d:%.2d", h, m, r);
}

int ParseJsonVideoList(const std::string& text, int count, std::vector<JsonVideoItem>& out) {
    try {
        nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
        if (value.is_discarded()) {
            LOG(LOG_WARNING, L"fail to read");
            return -1;
        }
        auto items = value.is_object() ? value.find("items") : value.end();
        if (!value.is_object() || items == value.end() || !items->is_object()) {
            LOG(LOG_WARNING, L"can't find \"items\" in json");
            return -1;
        }
        // Walk the keys the answer has rather than every index below count: count may be
        // far larger than the list.
        std::map<long long, const nlohmann::json*> found;
        for (auto it = items->begin(); it != items->end(); ++it) {
            long long index = KeyIndex(it.key());
            // A member that is not an object holds no video: skipped like a missing index.
            if (index >= 0 && index < count && it.value().is_object()) found[index] = &it.value();
        }
        for (const auto& [index, video] : found) {
            JsonVideoItem record;
            ParseJsonVideoItem(*video, record);
            out.push_back(record);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        LOG(LOG_WARNING, L"fail to read");
        return -1;
    }
}
