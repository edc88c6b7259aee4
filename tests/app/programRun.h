// The built program in a program folder of its own, run headless with a script against
// the sample service; what it leaves behind read from outside: the service's request
// log, the answer cache, the log file and the registry file (read with SQLite itself).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "helpers.h"

namespace apptest {

class InstalledProgram {
public:
    explicit InstalledProgram(nettest::SampleService& service);

    // Runs the program on a screen of `screen` ("WxH") with `script`; its exit status, or -1
    // when it had not ended after `limitMs` (it is then killed). `elapsedMs` is the time it ran.
    int Run(const std::string& script, int limitMs = 60000, const std::string& screen = "480x800",
            int* elapsedMs = nullptr);
    // Runs it with `options` alone and these `variables` ("NAME=value") over its own
    // LUMEO_RUNTIME_DIR, LUMEO_REGISTRY_FILE and LUMEO_HEADLESS=1; as Run.
    int RunWith(const std::vector<std::string>& options, const std::vector<std::string>& variables,
                int limitMs = 60000, int* elapsedMs = nullptr);
    static bool EndedNormally(int status);
    // A script line at which the next run stops until `ready` holds, for a state outside the
    // program (the player core's log, the service's requests): a `wait file` for a file that
    // the run makes once `ready` has said so. Gates open in order.
    std::string Gate(std::function<bool()> ready);

    const nettest::TempDir& dir() const { return dir_; }
    std::string Log() const { return dir_.Read("Log/Lumeo_log_0.txt"); }
    // What the last run wrote to its standard error.
    std::string Errors() const { return dir_.Read("stderr.txt"); }
    // The values of a registry key as the program stored them, by name; each text decoded
    // from its UTF-16LE bytes, which must end in one terminating zero.
    std::map<std::string, std::wstring> RegistryTexts(const std::string& keyPath) const;

private:
    nettest::TempDir dir_;
    nettest::SampleService& service_;
    struct Pending {
        std::string file;
        std::function<bool()> ready;
    };
    std::vector<Pending> gates_;
};

// The text values of a registry key in the registry file `file`, as RegistryTexts above.
std::map<std::string, std::wstring> RegistryTextsIn(const std::string& file, const std::string& keyPath);

// A screenshot the program wrote, read with libpng.
class Shot {
public:
    explicit Shot(const std::string& path);
    bool ok() const { return width_ > 0; }
    // The pixel as 0xRRGGBB; -1 outside.
    int At(int x, int y) const;
    // Pixels of the rectangle darker than mid-grey (text drawn there).
    int DarkIn(int left, int top, int right, int bottom) const;

private:
    int width_ = 0, height_ = 0;
    std::vector<unsigned char> rgb_;
};

// The request lines ("GET /...") the service has seen whose target starts with `prefix`.
std::vector<std::string> RequestsTo(const nettest::SampleService& service, const std::string& prefix);

}  // namespace apptest
