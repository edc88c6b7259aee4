// C runtime helpers that behave as on the phone, where long is 32 bits.
#pragma once

#include "platform/wintypes.h"

namespace platform {
// wcstol in 32 bits: leading blanks and a sign, digits up to the first other character,
// no digits gives 0; values beyond the range clamp to LONG's limits. `end` (optional)
// receives where reading stopped.
LONG WcsToLong32(const wchar_t* text, const wchar_t** end, int base);
}  // namespace platform

// Text to number as the phone's runtime reads it: "abc" gives 0, overflow clamps.
LONG _wtol(const wchar_t* text);
int _wtoi(const wchar_t* text);

// SYSTEMTIME <-> FILETIME (100-ns ticks since 1601-01-01). Fields out of range fail.
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
