// A temporary program folder for tests that work on real files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/cstring.h"
#include "platform/files.h"

class ProgramFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lumeo-client-XXXXXX";
        root_ = mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    // The folder (or a path in it) as the program writes it: backslashes.
    CStringW Phone(const std::string& rel = "") const {
        return platform::FromNativePath(rel.empty() ? root_ : root_ + "/" + rel).c_str();
    }
    std::string Native(const std::string& rel) const { return root_ + "/" + rel; }
    void Write(const std::string& rel, const std::string& bytes) const {
        std::filesystem::create_directories(std::filesystem::path(Native(rel)).parent_path());
        std::ofstream(Native(rel), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& rel) const {
        std::ifstream in(Native(rel), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Exists(const std::string& rel) const { return std::filesystem::exists(Native(rel)); }

    std::string root_;
};
