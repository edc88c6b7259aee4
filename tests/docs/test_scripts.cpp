// The scripts as README.md and docs/testing.md describe them, run in the sandbox with a
// stand-in for cmake that records how it was called.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "docs.h"

namespace {

namespace fs = std::filesystem;

// scripts/build's parallel jobs: LUMEO_JOBS, else CMAKE_BUILD_PARALLEL_LEVEL, else one per core.
TEST(Scripts, BuildTakesItsJobsFromLumeoJobsThenCmakesOwnVariable) {
    docs::Sandbox box;
    fs::create_directories(box.path() + "/stub");
    std::ofstream(box.path() + "/stub/cmake") << "#!/bin/sh\necho \"$*\" >> \"$CMAKE_CALLS\"\n";
    fs::permissions(box.path() + "/stub/cmake", fs::perms::owner_all);
    std::string cores;
    ASSERT_EQ(box.Run("nproc", {}, 10000, &cores), 0);
    while (!cores.empty() && cores.back() == '\n') cores.pop_back();
    struct Case {
        std::string lumeoJobs, cmakeLevel, jobs;
    };
    for (const Case& c : std::vector<Case>{{"3", "", "3"}, {"", "2", "2"}, {"5", "2", "5"}, {"", "", cores}}) {
        std::string calls = box.path() + "/calls-" + c.lumeoJobs + "-" + c.cmakeLevel;
        std::string output;
        int status = box.Run("PATH=\"$PWD/stub:$PATH\" scripts/build normal",
                             {{"LUMEO_JOBS", c.lumeoJobs}, {"CMAKE_BUILD_PARALLEL_LEVEL", c.cmakeLevel}, {"CMAKE_CALLS", calls}},
                             60000, &output);
        EXPECT_EQ(status, 0) << output;
        std::ifstream in(calls);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        ASSERT_EQ(lines.size(), 2u) << output;
        EXPECT_EQ(lines[1], "--build build/normal -j " + c.jobs)
            << "LUMEO_JOBS=" << c.lumeoJobs << " CMAKE_BUILD_PARALLEL_LEVEL=" << c.cmakeLevel;
    }
}

}  // namespace
