#include "platform/crt.h"

#include <climits>
#include <cwctype>

namespace platform {

LONG WcsToLong32(const wchar_t* text, const wchar_t** end, int base) {
    const wchar_t* p = text ? text : L"";
    const wchar_t* start = p;
    while (*p == L' ' || (*p >= L'\t' && *p <= L'\r')) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    if (base == 0) {
        if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) base = 16, p += 2;
        else if (p[0] == L'0') base = 8;
        else base = 10;
    } else if (base == 16 && p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        p += 2;
    }
    long long v = 0;
    bool any = false;
    for (;; ++p) {
        int d;
        if (*p >= L'0' && *p <= L'9') d = *p - L'0';
        else if (*p >= L'a' && *p <= L'z') d = *p - L'a' + 10;
        else if (*p >= L'A' && *p <= L'Z') d = *p - L'A' + 10;
        else break;
        if (d >= base) break;
        any = true;
        if (v <= static_cast<long long>(INT32_MAX) + 1) v = v * base + d;
    }
    if (end) *end = any ? p : start;
    if (negative) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<LONG>(v);
}

}  // namespace platform

LONG _wtol(const wchar_t* text) { return platform::WcsToLong32(text, nullptr, 10); }
int _wtoi(const wchar_t* text) { return platform::WcsToLong32(text, nullptr, 10); }

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
    if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999)
        return FALSE;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    auto leap = [](long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    int monthDays = kDays[st->wMonth - 1] + (st->wMonth == 2 && leap(st->wYear) ? 1 : 0);
    if (st->wDay > monthDays) return FALSE;
    // Days since 1601-01-01 from the civil date.
    long long y = st->wYear, m = st->wMonth;
    if (m <= 2) --y, m += 12;
    long long days = 365 * y + y / 4 - y / 100 + y / 400 + (153 * (m - 3) + 2) / 5 + st->wDay - 1;
    const long long days1601 = 365 * 1600LL + 1600 / 4 - 1600 / 100 + 1600 / 400 + (153 * (13 - 3) + 2) / 5;
    long long ticks = (((days - days1601) * 24 + st->wHour) * 60 + st->wMinute) * 60 + st->wSecond;
    ticks = ticks * 10000000 + st->wMilliseconds * 10000LL;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}
