// The program's settings in the registry: search history, display direction, output
// drivers and the skipped version.
#pragma once

#include "platform/cstring.h"
#include "platform/registry.h"

#define REG_PATH_SEARCHWORD L"Software\\Lumeo\\History\\SearchWord"
#define REG_PATH_FULLSCREEN L"Software\\Lumeo\\Setting\\FullScreen"
#define REG_PATH_DRIVER L"Software\\Lumeo\\Setting\\Driver"
#define REG_PATH_IGNOREVERSION L"Software\\Lumeo\\History\\IgnoreVersion"

// Held open for the whole run.
extern HKEY g_hKeySearchWord;
extern HKEY g_hKeyFullScreen;
extern HKEY g_hKeyDriver;
extern HKEY g_hKeyIgnoreVersion;

// Opens the key, creating it (and the keys above it) when missing. 0 or -1.
int MyOpenReg(HKEY root, const wchar_t* path, HKEY* key);
// RegCloseKey's result.
LONG MyCloseReg(HKEY key);

// The history entries 0 .. count-1 as "SearchWord_<n>", empty ones included. 0 or -1.
int SetSearchWordReg(HKEY key, const CStringW* words, int count);
// Fills all `count` entries; reading stops at the first missing value. 0 or -1.
int GetSearchWordReg(HKEY key, CStringW* words, int count);
// Deletes "SearchWord_0", "SearchWord_1", ... up to the first missing one. 0 or -1.
int ClearSearchWordReg(HKEY key);

// Writes "FullScreenDirection": 5 for a display turned 90 degrees, 3 for 270; nothing
// for 0 and 180 degrees. 0 or -1.
int SetFullScreenDirReg(HKEY key);

// Driver slots as decimal text; absent: video -1, audio 0.
int SetVideoDriverReg(HKEY key, int index);
int GetVideoDriverReg(HKEY key, int& index);
int SetAudioDriverReg(HKEY key, int index);
int GetAudioDriverReg(HKEY key, int& index);

// The version the user chose to skip; absent reads as empty.
int SetIgnoreVersionReg(HKEY key, const wchar_t* version);
int GetIgnoreVersionReg(HKEY key, CStringW& version);
