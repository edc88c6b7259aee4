// The wide string class used for every text and path of the program.
#pragma once

#include <cwchar>
#include <string>
#include <string_view>

#include "platform/format.h"
#include "platform/wintypes.h"

class CStringW {
public:
    CStringW() = default;
    CStringW(const wchar_t* s) : s_(s ? s : L"") {}
    CStringW(const wchar_t* s, int n) : s_(s ? std::wstring(s, n > 0 ? n : 0) : std::wstring()) {}
    CStringW(std::wstring s) : s_(std::move(s)) {}
    CStringW(std::wstring_view s) : s_(s) {}
    CStringW(wchar_t c, int repeat = 1) : s_(repeat > 0 ? repeat : 0, c) {}

    CStringW& operator=(const wchar_t* s) { s_ = s ? s : L""; return *this; }
    CStringW& operator=(std::wstring s) { s_ = std::move(s); return *this; }

    operator const wchar_t*() const { return s_.c_str(); }
    const wchar_t* GetString() const { return s_.c_str(); }
    const std::wstring& str() const { return s_; }

    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    void Empty() { s_.clear(); }

    wchar_t GetAt(int i) const { return (i >= 0 && i < GetLength()) ? s_[i] : 0; }
    void SetAt(int i, wchar_t c) { if (i >= 0 && i < GetLength()) s_[i] = c; }
    wchar_t operator[](int i) const { return GetAt(i); }

    // Positions are in characters; -1 when absent.
    int Find(wchar_t c, int start = 0) const { return Pos(start < 0 ? npos : s_.find(c, start)); }
    int Find(const wchar_t* sub, int start = 0) const {
        return Pos(!sub || start < 0 || start > GetLength() ? npos : s_.find(sub, start));
    }
    int ReverseFind(wchar_t c) const { return Pos(s_.rfind(c)); }
    int FindOneOf(const wchar_t* set) const { return Pos(set ? s_.find_first_of(set) : npos); }

    CStringW Left(int n) const { return s_.substr(0, Clamp(n)); }
    CStringW Right(int n) const { int k = Clamp(n); return s_.substr(s_.size() - k); }
    CStringW Mid(int first) const { return first >= GetLength() ? CStringW() : CStringW(s_.substr(Clamp(first))); }
    CStringW Mid(int first, int count) const {
        int f = Clamp(first);
        return s_.substr(f, count < 0 ? 0 : count);
    }
    void Truncate(int n) { if (n >= 0 && n < GetLength()) s_.resize(n); }

    // Latin letters only: the program never wants the locale's rules.
    CStringW& MakeUpper() { for (auto& c : s_) if (c >= L'a' && c <= L'z') c -= 32; return *this; }
    CStringW& MakeLower() { for (auto& c : s_) if (c >= L'A' && c <= L'Z') c += 32; return *this; }
    CStringW& Trim() { return TrimLeft().TrimRight(); }
    CStringW& TrimLeft() { s_.erase(0, s_.find_first_not_of(L" \t\r\n")); return *this; }
    CStringW& TrimRight() { s_.erase(s_.find_last_not_of(L" \t\r\n") + 1); return *this; }
    int Replace(const wchar_t* from, const wchar_t* to);
    int Replace(wchar_t from, wchar_t to) {
        int n = 0;
        for (auto& c : s_) if (c == from) { c = to; ++n; }
        return n;
    }
    int Remove(wchar_t c);
    int Insert(int at, const wchar_t* text);
    int Delete(int at, int count = 1);

    CStringW& operator+=(const CStringW& o) { s_ += o.s_; return *this; }
    CStringW& operator+=(const wchar_t* o) { if (o) s_ += o; return *this; }
    CStringW& operator+=(wchar_t c) { s_ += c; return *this; }
    void Append(const wchar_t* o) { if (o) s_ += o; }
    void AppendChar(wchar_t c) { s_ += c; }

    friend CStringW operator+(const CStringW& a, const CStringW& b) { return a.s_ + b.s_; }
    friend CStringW operator+(const CStringW& a, const wchar_t* b) { return a.s_ + (b ? b : L""); }
    friend CStringW operator+(const wchar_t* a, const CStringW& b) { return (a ? a : L"") + b.s_; }
    friend CStringW operator+(const CStringW& a, wchar_t b) { return a.s_ + b; }
    friend bool operator==(const CStringW& a, const CStringW& b) { return a.s_ == b.s_; }
    friend bool operator==(const CStringW& a, const wchar_t* b) { return a.s_ == (b ? b : L""); }
    friend bool operator!=(const CStringW& a, const CStringW& b) { return a.s_ != b.s_; }
    friend bool operator!=(const CStringW& a, const wchar_t* b) { return !(a == b); }
    friend bool operator<(const CStringW& a, const CStringW& b) { return a.s_ < b.s_; }
    int Compare(const wchar_t* o) const { return std::wcscmp(s_.c_str(), o ? o : L""); }

    template <class... A>
    void Format(const wchar_t* fmt, const A&... args) { s_ = platform::FormatW(fmt, args...); }
    template <class... A>
    void AppendFormat(const wchar_t* fmt, const A&... args) { s_ += platform::FormatW(fmt, args...); }

    // A writable buffer of at least `minLength` characters plus the terminator; call
    // ReleaseBuffer (length, or -1 to measure up to the first zero) when done.
    wchar_t* GetBuffer(int minLength = 0);
    wchar_t* GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);

private:
    static constexpr size_t npos = std::wstring::npos;
    static int Pos(size_t p) { return p == npos ? -1 : static_cast<int>(p); }
    int Clamp(int n) const { return n < 0 ? 0 : n > GetLength() ? GetLength() : n; }
    std::wstring s_;
};

using CString = CStringW;

// A narrow string for URL and HTTP work.
using CStringA = std::string;
