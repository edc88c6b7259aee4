// In-process program runs against the sample service: the one service of the test process
// and a program folder of a run's own.
#pragma once

#include <string>

#include "helpers.h"

namespace apptest {

// Started on first use and kept for the whole test process.
nettest::SampleService& Service();

// A program folder, a registry and a clean service for one run, every list empty as at start.
struct ServiceFolder {
    nettest::TempDir dir;
    std::string log;

    ServiceFolder();
    // On the driver's thread before the init thread runs: this folder, its log, the service;
    // message boxes are answered at once.
    void Adopt();
    int LogCount(const std::string& text) const { return nettest::CountInLog(log, text); }
    std::string Path(const std::string& relative) const { return dir.path() + "/" + relative; }
};

}  // namespace apptest
