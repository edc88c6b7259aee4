// The program's log: rotating files under Log\, one line per event.
#pragma once

#include <string>

#include "platform/format.h"
#include "platform/wintypes.h"

#define LOG_ERROR 1
#define LOG_WARNING 2
#define LOG_NOTICE 3
#define LOG_DEBUG 4

#define LOG_PATH_LEN 512
#define ERROR_MSG_LEN 512

// A line of level n is written when g_logLevel >= n.
extern int g_logLevel;
// The current log file; empty until InitLog has run.
extern wchar_t g_logPath[LOG_PATH_LEN];
// The system error code of the latest failing call, kept by the failing site for its line.
extern DWORD g_errno;

// Picks this run's log file under `dir` (which ends in "\") and rotates the files.
// 0 on success, -1 on failure (logging still goes on unless an argument was null).
int InitLog(const wchar_t* dir, const wchar_t* name, int level);

// The system's text for an error code. The buffer belongs to the calling thread and
// stays valid until its next call.
const wchar_t* GetErrorMsg(DWORD code);

// Writes one line (level word, local time, ".\<source file>(line): ", message, "\n").
// Lines from several threads are serialised and reach the file whole.
void LogWrite(int level, const char* sourceFile, int line, const std::wstring& message);

// The source file named in the tag; a file whose lines must carry another name may
// redefine LOG_SOURCE after its includes.
#ifndef LOG_SOURCE
#define LOG_SOURCE __FILE__
#endif

// LOG(level, format, arguments...): the one log site of every module.
#define LOG(level, fmt, ...)                                                                 \
    do {                                                                                     \
        if (g_logLevel >= (level))                                                           \
            LogWrite((level), LOG_SOURCE, __LINE__, platform::FormatW(fmt __VA_OPT__(, ) __VA_ARGS__)); \
    } while (0)
