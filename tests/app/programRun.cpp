#include "programRun.h"

#include <png.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace apptest {

namespace fs = std::filesystem;

InstalledProgram::InstalledProgram(nettest::SampleService& service) : service_(service) {
    std::string dist = LUMEO_TEST_DIST_DIR;
    std::error_code ec;
    fs::create_hard_link(dist + "/Lumeo", dir_.path() + "/Lumeo", ec);
    if (ec) fs::copy_file(dist + "/Lumeo", dir_.path() + "/Lumeo");
    fs::create_directory_symlink(dist + "/Res", dir_.path() + "/Res");
}

std::string InstalledProgram::Gate(std::function<bool()> ready) {
    std::string file = dir_.path() + "/gate-" + std::to_string(gates_.size());
    fs::remove(file);
    gates_.push_back(Pending{file, std::move(ready)});
    return "wait file " + file + "\n";
}

int InstalledProgram::Run(const std::string& script, int limitMs, const std::string& screen, int* elapsedMs) {
    std::string file = dir_.path() + "/script.txt";
    std::ofstream(file) << script;
    return RunWith({"--script", file, "--screen", screen, "--api-host", service_.host()}, {}, limitMs, elapsedMs);
}

int InstalledProgram::RunWith(const std::vector<std::string>& options, const std::vector<std::string>& variables,
                              int limitMs, int* elapsedMs) {
    std::string program = dir_.path() + "/Lumeo";
    std::vector<std::string> args = {program};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<std::string> vars = {"LUMEO_RUNTIME_DIR=" + dir_.path() + "/run",
                                     "LUMEO_REGISTRY_FILE=" + dir_.path() + "/registry.db", "LUMEO_HEADLESS=1"};
    for (const std::string& v : variables) {
        std::string name = v.substr(0, v.find('=') + 1);
        std::erase_if(vars, [&](const std::string& have) { return have.rfind(name, 0) == 0; });
        vars.push_back(v);
    }
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("LUMEO_", 0) != 0) vars.push_back(*e);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    std::string errors = dir_.path() + "/stderr.txt";
    posix_spawn_file_actions_addopen(&files, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) return -2;
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    bool ended = false;
    size_t gate = 0;
    while (!ended && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(limitMs)) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (ended) break;
        if (gate < gates_.size() && gates_[gate].ready()) std::ofstream(gates_[gate++].file) << "open\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    gates_.clear();
    if (elapsedMs)
        *elapsedMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    if (ended) return status;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

bool InstalledProgram::EndedNormally(int status) { return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

namespace {

std::wstring FromUtf16Le(const unsigned char* p, size_t bytes) {
    std::wstring out;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        uint32_t u = p[i] | (p[i + 1] << 8);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes) {
            uint32_t low = p[i + 2] | (p[i + 3] << 8);
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        out += static_cast<wchar_t>(u);
    }
    return out;
}

}  // namespace

std::map<std::string, std::wstring> InstalledProgram::RegistryTexts(const std::string& keyPath) const {
    return RegistryTextsIn(dir_.path() + "/registry.db", keyPath);
}

std::map<std::string, std::wstring> RegistryTextsIn(const std::string& file, const std::string& keyPath) {
    std::map<std::string, std::wstring> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return out;
    }
    sqlite3_stmt* st = nullptr;
    // Key paths may be stored under a root prefix; the tail names the key.
    std::string sql = "SELECT name, data FROM vals WHERE key = ?1 OR key LIKE ?2";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        std::string like = "%\\" + keyPath;
        sqlite3_bind_text(st, 1, keyPath.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, like.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(st, 1));
            size_t size = static_cast<size_t>(sqlite3_column_bytes(st, 1));
            std::wstring text = data ? FromUtf16Le(data, size) : L"";
            // A stored text ends in exactly one zero character.
            if (text.empty() || text.back() != 0 || text.find(L'\0') != text.size() - 1)
                text = L"<not a terminated text>";
            else
                text.pop_back();
            out[name] = text;
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

Shot::Shot(const std::string& path) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return;
    img.format = PNG_FORMAT_RGB;
    rgb_.resize(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, rgb_.data(), 0, nullptr)) return;
    width_ = static_cast<int>(img.width);
    height_ = static_cast<int>(img.height);
}

int Shot::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
    const unsigned char* p = &rgb_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 3];
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

int Shot::DarkIn(int left, int top, int right, int bottom) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            int c = At(x, y);
            if (c >= 0 && ((c >> 16) & 255) + ((c >> 8) & 255) + (c & 255) < 300) ++n;
        }
    return n;
}

std::vector<std::string> RequestsTo(const nettest::SampleService& service, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : service.Requests())
        if (line.rfind("GET " + prefix, 0) == 0) out.push_back(line.substr(4));
    return out;
}

}  // namespace apptest
