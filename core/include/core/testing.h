// Hooks of the core for tests and for the host: the records of what the plug-ins did,
// and control over time.
#pragma once

#include <string>
#include <vector>

#include "core/node.h"

namespace core {

// One registry call, in the order they came.
struct RegistryEvent {
    enum Kind { Register, UnRegister, String } kind;
    fourcc_t classId;
    int id;             // StringAdd's text id; NodeUnRegisterClass's result
    std::wstring text;  // StringAdd's text
    const NodeClassDef* def;
};
std::vector<RegistryEvent> RegistryLog();
void ClearRegistryLog();

// One ShowError call.
struct ShownError {
    fourcc_t sourceClass;
    fourcc_t messageClass;
    int id;
    std::wstring argument;  // the text argument of messages that take one
    std::wstring text;      // the core's message text, argument put in
};
std::vector<ShownError> ShownErrors();
void ClearShownErrors();
// Called on every ShowError (for the host's output); null removes it.
void SetShowErrorHandler(void (*handler)(const ShownError& e, void* user), void* user);

// Time: GetTimeFreq's value (default 1000; ticks stay milliseconds, so a test that lowers
// it makes waits of N x GetTimeFreq() ticks pass quickly), a fake clock for GetTimeTick (null: the real one), and sleeps that only
// count (ThreadSleep then returns at once).
void SetTimeFreq(int ticksPerSecond);
void SetFakeClock(int (*clock)());
void SetSleepSkipped(bool skipped);
std::vector<int> SleepLog();
void ClearSleepLog();

// The FourCC as its four letters.
std::string FourCCText(fourcc_t fourcc);

}  // namespace core

// Video output: settings and records of the display functions.
struct VideoFormat;
struct VRect;
namespace core {
// GetOrientation's answer; `set` false returns to the context's hook.
void SetOrientation(bool set, int direction);
// QueryDesktop's record (null: the default 240 x 320 RGB 5-6-5 desktop).
void SetDesktop(const VideoFormat* screen);
void SetPlatformValue(int id, int value);
std::vector<VRect> InvalidatedRects();
// WaitDisable's arguments in order.
std::vector<int> WaitDisableLog();
void ClearVideoLogs();
// Surfaces made by SurfaceAlloc and not yet given back by SurfaceFree.
int SurfacesHeld();
// Replaces CodeFindPages (null: the real one).
void SetCodeFindPagesHook(int (*hook)(const void* address, uint8_t** start, uint8_t** end, int flags));
}  // namespace core
