// A program folder whose Log folder receives the lines the code under test writes.
#pragma once

#include "log.h"
#include "program_folder.h"

class LoggedFolder : public ProgramFolder {
protected:
    void SetUp() override {
        ProgramFolder::SetUp();
        std::filesystem::create_directory(Native("Log"));
        InitLog(Phone("Log") + L"\\", L"Lumeo", LOG_NOTICE);
    }
    void TearDown() override {
        g_logPath[0] = 0;
        g_logLevel = LOG_DEBUG;
        ProgramFolder::TearDown();
    }
    std::string LogText() const { return Read("Log/Lumeo_log_0.txt"); }
    bool Logged(const std::string& text) const { return LogText().find(text) != std::string::npos; }
    void ClearLog() const { Write("Log/Lumeo_log_0.txt", ""); }
};
