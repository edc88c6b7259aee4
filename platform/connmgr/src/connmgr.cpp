#include "platform/connmgr.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/codepage.h"
#include "platform/format.h"
#include "platform/winuser.h"

namespace {

enum class Outcome { Ok, Fail, Status, Wait };

struct Destination {
    std::wstring description;
    GUID guid{};
    Outcome outcome = Outcome::Ok;
    HRESULT hr = E_FAIL;
    DWORD status = CONNMGR_STATUS_CONNECTIONFAILED;
    DWORD delayMs = 0;
};

struct Connection {
    std::wstring description;
    DWORD type = CM_CONNTYPE_NIC;
    DWORD subtype = CM_CONNSUBTYPE_NIC_WIFI;
    DWORD status = CONNMGR_STATUS_CONNECTED;
    GUID destination{};
};

struct Config {
    std::vector<Destination> destinations;
    std::vector<Connection> connections;
    bool queryFails = false;
    bool fillFails = false;
    bool registerFails = false;
};

struct Request {
    size_t destination;
    std::chrono::steady_clock::time_point readyAt;
};

using Clock = std::chrono::steady_clock;

const wchar_t kDefault[] = L"dest=Internet;conn=Wi-Fi,type=2,subtype=2,status=16";
const wchar_t kOffline[] =
    L"dest=Internet,connect=status,status=36;conn=Wi-Fi,type=2,subtype=2,status=32";

GUID MakeGuid(size_t index) {
    GUID g{};
    g.Data1 = 0x436EF144u + static_cast<DWORD>(index);
    g.Data2 = 0xB4FB;
    g.Data3 = 0x4863;
    const BYTE tail[8] = {0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72};
    std::memcpy(g.Data4, tail, 8);
    return g;
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::wstring Trim(const std::wstring& s) {
    size_t a = s.find_first_not_of(L" \t\r\n");
    if (a == std::wstring::npos) return {};
    size_t b = s.find_last_not_of(L" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::vector<std::wstring> Split(const std::wstring& s, const wchar_t* seps) {
    std::vector<std::wstring> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find_first_of(seps, start);
        if (end == std::wstring::npos) end = s.size();
        out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool ParseNumber(const std::wstring& text, DWORD* out) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long long v = std::wcstoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || v > 0xFFFFFFFFull) return false;
    *out = static_cast<DWORD>(v);
    return true;
}

bool ParseConfig(const std::wstring& text, Config* cfg) {
    Config c;
    std::wstring all = Trim(text).empty() ? kDefault : text;
    for (std::wstring entry : Split(all, L";\n")) {
        entry = Trim(entry);
        if (entry.empty()) continue;
        if (entry == L"offline") {
            Config off;
            if (!ParseConfig(kOffline, &off)) return false;
            c.destinations.insert(c.destinations.end(), off.destinations.begin(), off.destinations.end());
            c.connections.insert(c.connections.end(), off.connections.begin(), off.connections.end());
            continue;
        }
        std::vector<std::wstring> fields = Split(entry, L",");
        std::map<std::wstring, std::wstring> kv;
        std::wstring kind;
        for (size_t i = 0; i < fields.size(); ++i) {
            std::wstring f = Trim(fields[i]);
            size_t eq = f.find(L'=');
            if (eq == std::wstring::npos) return false;
            std::wstring key = Trim(f.substr(0, eq));
            std::wstring value = Trim(f.substr(eq + 1));
            if (i == 0) kind = key;
            if (kv.count(key)) return false;
            kv[key] = value;
        }
        auto number = [&](const wchar_t* key, DWORD* out) {
            auto it = kv.find(key);
            return it == kv.end() || ParseNumber(it->second, out);
        };
        if (kind == L"dest") {
            Destination d;
            d.description = kv[L"dest"];
            if (d.description.empty() || d.description.size() >= CONNMGR_MAX_DESC) return false;
            std::wstring connect = kv.count(L"connect") ? kv[L"connect"] : L"ok";
            if (connect == L"ok") d.outcome = Outcome::Ok;
            else if (connect == L"fail") d.outcome = Outcome::Fail;
            else if (connect == L"status") d.outcome = Outcome::Status;
            else if (connect == L"wait") d.outcome = Outcome::Wait;
            else return false;
            DWORD hr = static_cast<DWORD>(E_FAIL);
            if (!number(L"hr", &hr) || !number(L"status", &d.status) || !number(L"delay", &d.delayMs)) return false;
            d.hr = static_cast<HRESULT>(hr);
            if (d.outcome == Outcome::Fail && d.hr == S_OK) return false;
            for (auto& [key, value] : kv)
                if (key != L"dest" && key != L"connect" && key != L"hr" && key != L"status" && key != L"delay")
                    return false;
            d.guid = MakeGuid(c.destinations.size());
            c.destinations.push_back(d);
        } else if (kind == L"conn") {
            Connection n;
            n.description = kv[L"conn"];
            if (!number(L"type", &n.type) || !number(L"subtype", &n.subtype) || !number(L"status", &n.status))
                return false;
            for (auto& [key, value] : kv)
                if (key != L"conn" && key != L"type" && key != L"subtype" && key != L"status") return false;
            c.connections.push_back(n);
        } else if (kind == L"query") {
            if (kv.size() != 1) return false;
            std::wstring v = kv[L"query"];
            if (v == L"fail") c.queryFails = true;
            else if (v == L"fillfail") c.fillFails = true;
            else if (v != L"ok") return false;
        } else if (kind == L"register") {
            if (kv.size() != 1) return false;
            std::wstring v = kv[L"register"];
            if (v == L"fail") c.registerFails = true;
            else if (v != L"ok") return false;
        } else {
            return false;
        }
    }
    for (auto& n : c.connections)
        if (!c.destinations.empty()) n.destination = c.destinations[0].guid;
    *cfg = std::move(c);
    return true;
}

}  // namespace

namespace {

// Status changes go to the window as the registered message, the status as wParam.
void PostDelivery(HWND window, DWORD status) {
    UINT msg = RegisterWindowMessageW(CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG_NAME);
    if (msg != 0) PostMessageW(window, msg, status, 0);
}

struct Manager {
    std::mutex lock;
    Config config;
    std::map<uintptr_t, Request> requests;
    uintptr_t nextHandle = 0x100;
    std::vector<HWND> windows;
    platform::ConnMgrDelivery delivery = PostDelivery;
    platform::ConnMgrCounts counts{};

    Manager() {
        std::wstring text;
        if (const char* env = std::getenv("LUMEO_CONNMGR")) {
            text = platform::Utf8ToWide(env);
        } else if (const char* file = std::getenv("LUMEO_CONNMGR_FILE")) {
            std::ifstream in(file, std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            text = platform::Utf8ToWide(ss.str());
        }
        if (!ParseConfig(text, &config)) ParseConfig(L"", &config);
    }

    // Requests whose delay has passed bring a connection up; returns the statuses to deliver.
    DWORD StatusOf(const Request& r, std::vector<DWORD>* changes) {
        if (r.destination >= config.destinations.size()) return CONNMGR_STATUS_DISCONNECTED;
        const Destination& d = config.destinations[r.destination];
        switch (d.outcome) {
            case Outcome::Fail:
            case Outcome::Status: return d.status;
            case Outcome::Wait: return CONNMGR_STATUS_WAITINGCONNECTION;
            case Outcome::Ok: break;
        }
        if (Clock::now() < r.readyAt) return CONNMGR_STATUS_WAITINGCONNECTION;
        bool anyUp = false;
        for (auto& n : config.connections) anyUp = anyUp || n.status == CONNMGR_STATUS_CONNECTED;
        if (!anyUp && !config.connections.empty()) {
            config.connections[0].status = CONNMGR_STATUS_CONNECTED;
            config.connections[0].destination = d.guid;
            changes->push_back(CONNMGR_STATUS_CONNECTED);
        }
        return CONNMGR_STATUS_CONNECTED;
    }

    void Deliver(const std::vector<DWORD>& changes) {
        if (changes.empty()) return;
        std::vector<HWND> targets;
        platform::ConnMgrDelivery hook;
        {
            std::lock_guard<std::mutex> g(lock);
            targets = windows;
            hook = delivery;
        }
        for (DWORD s : changes)
            for (HWND w : targets) hook(w, s);
    }
};

// Built on first use and never destroyed: the program's own static objects release their
// connection from their destructors.
Manager& M() {
    static Manager* m = new Manager();
    return *m;
}

}  // namespace

HRESULT ConnMgrEnumDestinations(int index, CONNMGR_DESTINATION_INFO* info) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    m.counts.enumerations++;
    if (!info) return E_POINTER;
    if (index < 0 || static_cast<size_t>(index) >= m.config.destinations.size()) return E_FAIL;
    const Destination& d = m.config.destinations[index];
    std::memset(info, 0, sizeof(*info));
    info->guid = d.guid;
    platform::CopyCut(info->szDescription, CONNMGR_MAX_DESC, d.description);
    return S_OK;
}

HRESULT ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* info, HANDLE* connection, DWORD, DWORD* status) {
    Manager& m = M();
    std::vector<DWORD> changes;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> g(m.lock);
        m.counts.establishes++;
        if (!info || !connection || !status) return E_INVALIDARG;
        *connection = nullptr;
        size_t index = m.config.destinations.size();
        if (info->dwParams & CONNMGR_PARAM_GUIDDESTNET)
            for (size_t i = 0; i < m.config.destinations.size(); ++i)
                if (SameGuid(m.config.destinations[i].guid, info->guidDestNet)) index = i;
        if (index == m.config.destinations.size()) {
            *status = CONNMGR_STATUS_NOPATHTODESTINATION;
            return E_INVALIDARG;
        }
        const Destination& d = m.config.destinations[index];
        if (d.outcome == Outcome::Fail) {
            *status = d.status;
            return d.hr;
        }
        Request r{index, Clock::now() + std::chrono::milliseconds(d.delayMs)};
        uintptr_t h = m.nextHandle++;
        m.requests[h] = r;
        m.counts.held++;
        *connection = reinterpret_cast<HANDLE>(h);
        *status = m.StatusOf(r, &changes);
    }
    m.Deliver(changes);
    return hr;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
    Manager& m = M();
    std::vector<DWORD> changes;
    {
        std::lock_guard<std::mutex> g(m.lock);
        m.counts.statusQueries++;
        if (!status) return E_POINTER;
        auto it = m.requests.find(reinterpret_cast<uintptr_t>(connection));
        if (it == m.requests.end()) return E_INVALIDARG;
        *status = m.StatusOf(it->second, &changes);
    }
    m.Deliver(changes);
    return S_OK;
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    m.counts.releases++;
    if (m.requests.erase(reinterpret_cast<uintptr_t>(connection)) == 0) return E_INVALIDARG;
    m.counts.held--;
    return S_OK;
}

HRESULT ConnMgrQueryDetailedStatus(CONNMGR_CONNECTION_DETAILED_STATUS* buffer, DWORD* size) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    m.counts.detailedQueries++;
    if (!size) return E_POINTER;
    if (m.config.queryFails) return E_FAIL;
    // Records first, then their texts, all inside the caller's buffer.
    size_t records = m.config.connections.size() * sizeof(CONNMGR_CONNECTION_DETAILED_STATUS);
    size_t need = records;
    for (auto& n : m.config.connections) need += (n.description.size() + 1) * sizeof(wchar_t) * 2;
    if (!buffer || *size < need) {
        *size = static_cast<DWORD>(need);
        return HRESULT_FROM_WIN32_ERROR(ERROR_INSUFFICIENT_BUFFER);
    }
    if (m.config.fillFails) return E_FAIL;
    std::memset(static_cast<void*>(buffer), 0, need);
    auto* text = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(buffer) + records);
    for (size_t i = 0; i < m.config.connections.size(); ++i) {
        const Connection& n = m.config.connections[i];
        CONNMGR_CONNECTION_DETAILED_STATUS& r = buffer[i];
        r.pNext = i + 1 < m.config.connections.size() ? &buffer[i + 1] : nullptr;
        r.dwVer = 1;
        r.dwType = n.type;
        r.dwSubtype = n.subtype;
        r.guidDestNet = n.destination;
        r.dwConnectionStatus = n.status;
        r.dwSignalQuality = 255;
        r.szDescription = text;
        std::wmemcpy(text, n.description.c_str(), n.description.size() + 1);
        text += n.description.size() + 1;
        r.szAdapterName = text;
        std::wmemcpy(text, n.description.c_str(), n.description.size() + 1);
        text += n.description.size() + 1;
    }
    return S_OK;
}

HRESULT ConnMgrRegisterForStatusChangeNotification(BOOL enable, HWND window) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    m.counts.registrations++;
    if (m.config.registerFails) return E_FAIL;
    if (!window) return E_INVALIDARG;
    std::erase(m.windows, window);
    if (enable) m.windows.push_back(window);
    return S_OK;
}

namespace platform {

bool ConnMgrConfigure(const std::wstring& text) {
    Manager& m = M();
    Config c;
    if (!ParseConfig(text, &c)) return false;
    std::lock_guard<std::mutex> g(m.lock);
    m.config = std::move(c);
    // Requests held under the old configuration now refer to nothing; they stay releasable.
    for (auto& [h, r] : m.requests) r.destination = SIZE_MAX;
    return true;
}

void ConnMgrSetConnectionStatus(int index, DWORD status) {
    Manager& m = M();
    {
        std::lock_guard<std::mutex> g(m.lock);
        if (index < 0 || static_cast<size_t>(index) >= m.config.connections.size()) return;
        m.config.connections[index].status = status;
    }
    m.Deliver({status});
}

void ConnMgrSetDelivery(ConnMgrDelivery hook) {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    m.delivery = hook ? hook : PostDelivery;
}

ConnMgrCounts ConnMgrGetCounts() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    return m.counts;
}

void ConnMgrResetCounts() {
    Manager& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    int held = m.counts.held;
    m.counts = {};
    m.counts.held = held;
}

}  // namespace platform
