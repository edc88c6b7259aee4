// The device's user-agent text and maker text.
#pragma once

// Writes the user-agent text (program, system version, platform, maker, hashed device
// id) into `phoneInfo`, at most `count` characters with the terminator. 0, or -1 for
// a null buffer or a count of 0.
int GetPhoneInfo(wchar_t* phoneInfo, int count);
// Writes the maker's device text alone. 0 or -1 as above.
int GetPhoneOEM(wchar_t* phoneInfo, int count);
