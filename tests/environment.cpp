// Linked into every test program: it starts from an environment of its own. None of the
// user's LUMEO_* values (a runtime folder, a registry, a screen, an API host, the Connection
// Manager, device facts) reaches the test or what it runs, and the runtime folder and the
// registry file are this process's, so parallel tests, and a Lumeo the user has open, do not
// meet, nor meet a sample service the user runs. A test that needs a value sets it itself.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Plain storage: the folder is removed at exit, after the program's own objects are gone.
char g_folder[4096];
pid_t g_owner = 0;

void RemoveFolder() {
    // A forked child that ends does not take its parent's folder with it.
    if (getpid() != g_owner) return;
    std::error_code ec;
    std::filesystem::remove_all(g_folder, ec);
}

__attribute__((constructor(101))) void OwnEnvironment() {
    std::vector<std::string> names;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        if (kv.rfind("LUMEO_", 0) == 0) names.push_back(kv.substr(0, kv.find('=')));
    }
    for (const auto& name : names) unsetenv(name.c_str());

    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumeo-test-XXXXXX";
    if (folder.size() >= sizeof g_folder || !mkdtemp(folder.data())) return;
    std::strcpy(g_folder, folder.c_str());
    g_owner = getpid();
    std::atexit(RemoveFolder);
    setenv("LUMEO_RUNTIME_DIR", (folder + "/run").c_str(), 1);
    setenv("LUMEO_REGISTRY_FILE", (folder + "/registry.db").c_str(), 1);
    setenv("LUMEO_HEADLESS", "1", 1);
    // No web API but the one a test starts: not the default 127.0.0.1:18080, where a reader's
    // sample service may listen, but a port that refuses at once.
    setenv("LUMEO_API_HOST", "127.0.0.1:1", 1);
}

}  // namespace
