#include "platform/cstring.h"

int CStringW::Replace(const wchar_t* from, const wchar_t* to) {
    if (!from || !*from) return 0;
    std::wstring f(from), t(to ? to : L"");
    int n = 0;
    for (size_t p = s_.find(f); p != npos; p = s_.find(f, p + t.size())) {
        s_.replace(p, f.size(), t);
        ++n;
    }
    return n;
}

int CStringW::Remove(wchar_t c) {
    size_t before = s_.size();
    std::erase(s_, c);
    return static_cast<int>(before - s_.size());
}

int CStringW::Insert(int at, const wchar_t* text) {
    if (text) s_.insert(Clamp(at), text);
    return GetLength();
}

int CStringW::Delete(int at, int count) {
    if (at >= 0 && at < GetLength() && count > 0) s_.erase(at, count);
    return GetLength();
}

wchar_t* CStringW::GetBuffer(int minLength) {
    if (minLength > GetLength()) s_.resize(minLength);
    return s_.data();
}

wchar_t* CStringW::GetBufferSetLength(int length) {
    s_.resize(length < 0 ? 0 : length);
    return s_.data();
}

void CStringW::ReleaseBuffer(int newLength) {
    if (newLength < 0) s_.resize(std::wcslen(s_.c_str()));
    else if (static_cast<size_t>(newLength) <= s_.size()) s_.resize(newLength);
}
