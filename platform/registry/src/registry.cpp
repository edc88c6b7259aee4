#include "platform/registry.h"

#include <sqlite3.h>

#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/codepage.h"

namespace {

// Values larger than this are refused, as the phone's registry refuses them.
constexpr DWORD kMaxValueBytes = 1u << 20;

struct Registry {
    std::mutex lock;
    sqlite3* db = nullptr;
    std::string file;                          // set by SetRegistryFile
    std::map<uintptr_t, std::string> handles;  // open key -> its path ("HKCU\Software\...")
    uintptr_t next = 0x10000;
};

Registry& R() {
    static Registry* r = new Registry;  // never destroyed: keys are closed after static destructors too
    return *r;
}

struct ReadHookSlot {
    std::mutex lock;
    std::shared_ptr<platform::RegistryReadHook> hook;
};

ReadHookSlot& HookSlot() {
    static auto* slot = new ReadHookSlot;  // as the registry: readers may come after static destructors
    return *slot;
}

std::shared_ptr<platform::RegistryReadHook> ReadHook() {
    std::lock_guard<std::mutex> g(HookSlot().lock);
    return HookSlot().hook;
}

std::string ChosenFile(const Registry& r) {
    if (!r.file.empty()) return r.file;
    if (const char* f = std::getenv("LUMEO_REGISTRY_FILE"); f && *f) return f;
    std::string base;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) base = x;
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.local/share";
    else base = "/tmp";
    return base + "/lumeo/registry.db";
}

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

LONG OpenDb(Registry& r) {
    if (r.db) return ERROR_SUCCESS;
    std::string file = ChosenFile(r);
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(file).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return ERROR_CANTOPEN;
    }
    sqlite3_busy_timeout(db, 10000);
    // WAL lets other processes read while one writes; FULL makes each commit reach the disk.
    auto setUp = [db] {
        return Exec(db, "PRAGMA journal_mode=WAL") && Exec(db, "PRAGMA synchronous=FULL") &&
               Exec(db,
                    "CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY COLLATE NOCASE);"
                    "CREATE TABLE IF NOT EXISTS vals(key TEXT COLLATE NOCASE, name TEXT COLLATE NOCASE,"
                    " type INTEGER, data BLOB, PRIMARY KEY(key, name));");
    };
    // Processes that open a new file at once race to set it up, and the loser of a journal
    // change is told "locked" at once instead of waiting: it tries again for a while.
    for (int tries = 0; !setUp(); ++tries) {
        int rc = sqlite3_errcode(db);
        if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || tries >= 500) {
            sqlite3_close(db);
            return ERROR_CANTOPEN;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.db = db;
    return ERROR_SUCCESS;
}

class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool ok() const { return s_ != nullptr; }
    Stmt& Text(int i, const std::string& t) {
        sqlite3_bind_text(s_, i, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Int(int i, sqlite3_int64 v) {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Stmt& Blob(int i, const std::string& b) {
        sqlite3_bind_blob(s_, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int Step() { return s_ ? sqlite3_step(s_) : SQLITE_ERROR; }
    sqlite3_stmt* get() { return s_; }

private:
    sqlite3_stmt* s_ = nullptr;
};

// The two roots kept here, by their handle and by the first segment of their keys' paths.
const char* RootName(HKEY key) {
    if (key == HKEY_CURRENT_USER) return "HKCU";
    if (key == HKEY_LOCAL_MACHINE) return "HKLM";
    return nullptr;
}

// The path of an open key, or false for a handle that is not one.
bool KeyPath(Registry& r, HKEY key, std::string& path) {
    if (const char* root = RootName(key)) {
        path = root;
        return true;
    }
    auto it = r.handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == r.handles.end()) return false;
    path = it->second;
    return true;
}

// Sub-key segments, with empty ones (doubled or outer backslashes) dropped.
std::vector<std::string> Segments(LPCWSTR subKey) {
    std::vector<std::string> out;
    std::wstring seg;
    for (const wchar_t* p = subKey ? subKey : L"";; ++p) {
        if (*p == L'\\' || *p == 0) {
            if (!seg.empty()) out.push_back(platform::WideToUtf8(seg));
            seg.clear();
            if (*p == 0) break;
        } else {
            seg += *p;
        }
    }
    return out;
}

bool KeyExists(Registry& r, const std::string& path) {
    if (path == "HKCU" || path == "HKLM") return true;
    Stmt s(r.db, "SELECT 1 FROM keys WHERE path = ?");
    s.Text(1, path);
    return s.Step() == SQLITE_ROW;
}

HKEY NewHandle(Registry& r, const std::string& path) {
    uintptr_t h = r.next;
    r.next += 4;  // bit 0 stays clear
    r.handles[h] = path;
    return reinterpret_cast<HKEY>(h);
}

// Runs one writing statement in a transaction that takes the write lock at its start: an
// autocommit write that first read an older snapshot than another process's commit fails at
// once without waiting, and the value would be lost.
LONG WriteOne(Registry& r, Stmt& s) {
    if (!s.ok()) return ERROR_CANTWRITE;
    if (!Exec(r.db, "BEGIN IMMEDIATE")) return ERROR_CANTWRITE;
    if (s.Step() != SQLITE_DONE || !Exec(r.db, "COMMIT")) {
        Exec(r.db, "ROLLBACK");
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The stored bytes of a value: text as UTF-16LE, `cb` bytes' worth of UTF-16 units read
// from the wchar_t text; other types as given.
std::string StoredBytes(DWORD type, const BYTE* data, DWORD cb) {
    if (!IsText(type)) return std::string(reinterpret_cast<const char*>(data), cb);
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    size_t budget = cb / 2, units = 0, i = 0;
    std::wstring taken;
    while (units < budget) {
        size_t need = static_cast<uint32_t>(text[i]) > 0xFFFF ? 2 : 1;
        if (units + need > budget) break;
        taken += text[i++];
        units += need;
    }
    return platform::WideToUtf16LeBytes(taken);
}

}  // namespace

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    std::string path;
    if (!KeyPath(r, key, path)) return ERROR_INVALID_HANDLE;
    if (LONG e = OpenDb(r)) return e;
    std::vector<std::string> segs = Segments(subKey);
    std::string full = path;
    for (const std::string& s : segs) full += "\\" + s;
    bool existed = KeyExists(r, full);
    if (!existed) {
        if (!Exec(r.db, "BEGIN IMMEDIATE")) return ERROR_CANTWRITE;
        std::string p = path;
        bool ok = true;
        for (const std::string& s : segs) {
            p += "\\" + s;
            Stmt ins(r.db, "INSERT OR IGNORE INTO keys(path) VALUES(?)");
            ok = ok && ins.ok() && ins.Text(1, p).Step() == SQLITE_DONE;
        }
        if (!ok || !Exec(r.db, "COMMIT")) {
            Exec(r.db, "ROLLBACK");
            return ERROR_CANTWRITE;
        }
    }
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = NewHandle(r, full);
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    std::string path;
    if (!KeyPath(r, key, path)) return ERROR_INVALID_HANDLE;
    if (LONG e = OpenDb(r)) return e;
    for (const std::string& s : Segments(subKey)) path += "\\" + s;
    if (!KeyExists(r, path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(r, path);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (RootName(key)) return ERROR_SUCCESS;
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    return r.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
    if ((!data && cbData) || cbData > kMaxValueBytes) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && cbData != 4) return ERROR_INVALID_PARAMETER;
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    std::string path;
    if (!KeyPath(r, key, path)) return ERROR_INVALID_HANDLE;
    if (LONG e = OpenDb(r)) return e;
    std::string bytes = data ? StoredBytes(type, data, cbData) : std::string();
    Stmt s(r.db, "INSERT OR REPLACE INTO vals(key, name, type, data) VALUES(?, ?, ?, ?)");
    if (!s.ok()) return ERROR_CANTWRITE;
    s.Text(1, path).Text(2, platform::WideToUtf8(name ? name : L"")).Int(3, type).Blob(4, bytes);
    return WriteOne(r, s);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    if (data && !cbData) return ERROR_INVALID_PARAMETER;
    if (auto hook = ReadHook()) (*hook)(name ? name : L"");
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    std::string path;
    if (!KeyPath(r, key, path)) return ERROR_INVALID_HANDLE;
    if (LONG e = OpenDb(r)) return e;
    Stmt s(r.db, "SELECT type, data FROM vals WHERE key = ? AND name = ?");
    if (!s.ok()) return ERROR_CANTREAD;
    s.Text(1, path).Text(2, platform::WideToUtf8(name ? name : L""));
    int rc = s.Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return ERROR_CANTREAD;
    DWORD storedType = static_cast<DWORD>(sqlite3_column_int64(s.get(), 0));
    const void* blob = sqlite3_column_blob(s.get(), 1);
    DWORD size = static_cast<DWORD>(sqlite3_column_bytes(s.get(), 1));
    if (type) *type = storedType;
    if (!cbData) return ERROR_SUCCESS;
    DWORD capacity = *cbData;
    *cbData = size;
    if (!data) return ERROR_SUCCESS;
    if (size > capacity) return ERROR_MORE_DATA;
    if (IsText(storedType)) {
        std::wstring text = platform::Utf16LeBytesToWide(blob, size);
        std::memcpy(data, text.data(), text.size() * sizeof(wchar_t));  // at most size / 2 characters
    } else if (size) {
        std::memcpy(data, blob, size);
    }
    return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    std::string path;
    if (!KeyPath(r, key, path)) return ERROR_INVALID_HANDLE;
    if (LONG e = OpenDb(r)) return e;
    Stmt s(r.db, "DELETE FROM vals WHERE key = ? AND name = ?");
    if (!s.ok()) return ERROR_CANTWRITE;
    s.Text(1, path).Text(2, platform::WideToUtf8(name ? name : L""));
    if (LONG e = WriteOne(r, s)) return e;
    return sqlite3_changes(r.db) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

namespace platform {

void SetRegistryFile(const std::string& path) {
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    if (r.db) sqlite3_close_v2(r.db);
    r.db = nullptr;
    r.file = path;
}

std::string RegistryFile() {
    Registry& r = R();
    std::lock_guard<std::mutex> g(r.lock);
    return ChosenFile(r);
}

void SetRegistryReadHook(RegistryReadHook hook) {
    std::lock_guard<std::mutex> g(HookSlot().lock);
    HookSlot().hook = hook ? std::make_shared<RegistryReadHook>(std::move(hook)) : nullptr;
}

}  // namespace platform
