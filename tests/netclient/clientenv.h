// The program's surroundings for data-side tests: a program folder with its Xml folder,
// the entry's locks and flags, one sample service for the whole run, and a record of the
// message boxes shown.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "helpers.h"

namespace nettest {

struct ShownBox {
    std::wstring text, caption;
    unsigned type;
};

class ClientEnv {
public:
    static ClientEnv& Get();  // built on first use, lives for the whole run
    SampleService& service() { return *service_; }
    TempDir& dir() { return *dir_; }
    const std::string& log() const { return log_; }
    std::string host() const { return service_->host(); }
    std::string Url(const std::string& target) const { return "http://" + host() + target; }
    std::wstring WUrl(const std::string& target) const;
    std::wstring Path(const std::string& relative) const;  // under the program folder

    // A test's start: the program folder emptied but for a new Xml folder and a new log
    // (which other tests' fixtures may have pointed elsewhere), then Reset.
    void Begin();
    // A test's end: Reset, and the program folder emptied of what the test left.
    void End();
    // Puts the Connection Manager back to "online over Wi-Fi" and clears faults and boxes.
    void Reset();
    std::vector<ShownBox> Boxes();
    int LogCount(const std::string& text) const { return CountInLog(log_, text); }
    // Requests the service saw since the last Reset whose line contains `text`.
    std::vector<std::string> RequestsWith(const std::string& text);

private:
    ClientEnv();
    TempDir* dir_;
    SampleService* service_;
    std::string log_;
};

}  // namespace nettest
