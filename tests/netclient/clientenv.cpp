#include "clientenv.h"

#include <filesystem>
#include <mutex>

#include "connMgr.h"
#include "entryGlobals.h"
#include "listview.h"
#include "platform/codepage.h"
#include "platform/connmgr.h"
#include "platform/format.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace nettest {

namespace {

std::mutex g_boxLock;
std::vector<ShownBox> g_boxes;

int RecordBox(HWND, const std::wstring& text, const std::wstring& caption, UINT type) {
    std::lock_guard<std::mutex> l(g_boxLock);
    g_boxes.push_back({text, caption, type});
    return IDOK;
}

}  // namespace

ClientEnv& ClientEnv::Get() {
    static ClientEnv* env = new ClientEnv();
    return *env;
}

ClientEnv::ClientEnv() : dir_(new TempDir()), service_(new SampleService()) {
    std::filesystem::create_directories(dir_->path() + "/Xml");
    log_ = StartLog(*dir_);
    platform::CopyCut(g_appDir, APP_DIR_LEN, dir_->wpath());
    InitializeCriticalSection(&g_csXml);
    InitializeCriticalSection(&g_csRunning);
    SetApiHost(platform::Utf8ToWide(service_->host()).c_str());
    // Message boxes are answered at once and recorded; the search box is a real edit.
    platform::ui::SetScreenSize(480, 800);
    platform::ui::SetMessageBoxHook(RecordBox);
    g_hSearchEdit = CreateWindowExW(0, L"edit", L"", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 200, 30, nullptr, nullptr,
                                    nullptr, nullptr);
}

std::wstring ClientEnv::WUrl(const std::string& target) const { return platform::Utf8ToWide(Url(target)); }

std::wstring ClientEnv::Path(const std::string& relative) const {
    return platform::Utf8ToWide(dir_->path() + "/" + relative);
}

namespace {
void Empty(const std::string& folder) {
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(folder, ec)) std::filesystem::remove_all(e.path(), ec);
}
// A connection the program's client brought up stays held until released: other tests
// count the connections held.
void ReleaseHeldConnection() {
    if (!g_connMgr.hConnection) return;
    ConnMgrReleaseConnection(g_connMgr.hConnection, 0);
    g_connMgr.hConnection = nullptr;
}
}  // namespace

void ClientEnv::Begin() {
    ReleaseHeldConnection();
    Empty(dir_->path());
    std::filesystem::create_directories(dir_->path() + "/Xml");
    log_ = StartLog(*dir_);
    Reset();
}

void ClientEnv::End() {
    Reset();
    ReleaseHeldConnection();
    Empty(dir_->path());
}

void ClientEnv::Reset() {
    platform::ConnMgrConfigure(L"");
    g_connMgr.connected = 1;
    g_running = 1;
    service_->Get("/control/reset");
    std::lock_guard<std::mutex> l(g_boxLock);
    g_boxes.clear();
}

std::vector<ShownBox> ClientEnv::Boxes() {
    std::lock_guard<std::mutex> l(g_boxLock);
    return g_boxes;
}

std::vector<std::string> ClientEnv::RequestsWith(const std::string& text) {
    std::vector<std::string> out;
    for (auto& line : service_->Requests())
        if (line.rfind("GET ", 0) == 0 && line.find(text) != std::string::npos) out.push_back(line);
    return out;
}

}  // namespace nettest
