// printf-style formatting with a type-safe argument list.
//
// Format texts are written as on the phone: "%s" takes a wide string, "%lu" a 32-bit
// value. Arguments are captured with their type, so a directive never reads past the
// list: one without an argument (a "%20" in a URL, say) is copied as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace platform {

struct FormatArg {
    enum class Kind { Int, UInt, Double, WStr, Str, Ptr };
    Kind kind;
    union {
        int64_t i;
        uint64_t u;
        double d;
        const wchar_t* ws;
        const char* s;
        const void* p;
    };
    int size = 0;  // bytes of an integer argument, for %x of negative values

    template <class T>
    static FormatArg From(const T& v) {
        using U = std::remove_cv_t<std::remove_reference_t<T>>;
        FormatArg a{};
        if constexpr (std::is_same_v<U, bool>) {
            a.kind = Kind::Int; a.i = v ? 1 : 0; a.size = sizeof(int);
        } else if constexpr (std::is_enum_v<U>) {
            return From(static_cast<std::underlying_type_t<U>>(v));
        } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) {
            a.kind = Kind::Int; a.i = v; a.size = sizeof(U) < sizeof(int) ? sizeof(int) : sizeof(U);
        } else if constexpr (std::is_integral_v<U>) {
            a.kind = Kind::UInt; a.u = v; a.size = sizeof(U) < sizeof(int) ? sizeof(int) : sizeof(U);
        } else if constexpr (std::is_floating_point_v<U>) {
            a.kind = Kind::Double; a.d = v;
        } else if constexpr (std::is_convertible_v<U, const wchar_t*>) {
            a.kind = Kind::WStr; a.ws = static_cast<const wchar_t*>(v);
        } else if constexpr (std::is_convertible_v<U, const char*>) {
            a.kind = Kind::Str; a.s = static_cast<const char*>(v);
        } else if constexpr (std::is_same_v<U, std::wstring>) {
            a.kind = Kind::WStr; a.ws = v.c_str();
        } else if constexpr (std::is_same_v<U, std::string>) {
            a.kind = Kind::Str; a.s = v.c_str();
        } else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) {
            a.kind = Kind::Ptr; a.p = v;
        } else {
            static_assert(sizeof(U) == 0, "unsupported format argument type");
        }
        return a;
    }
};

// The engines; `args` may be empty.
std::wstring FormatList(const wchar_t* fmt, const FormatArg* args, size_t count);
std::string FormatListA(const char* fmt, const FormatArg* args, size_t count);

template <class... A>
std::wstring FormatW(const wchar_t* fmt, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return FormatList(fmt, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg::From(args)...};
        return FormatList(fmt, list, sizeof...(A));
    }
}

template <class... A>
std::string FormatA(const char* fmt, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return FormatListA(fmt, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg::From(args)...};
        return FormatListA(fmt, list, sizeof...(A));
    }
}

// Formats into a fixed buffer of `capacity` characters (terminator included), cutting
// what does not fit. Returns the number of characters written, or -1 when cut.
int CopyCut(wchar_t* dst, size_t capacity, std::wstring_view text);
int CopyCutA(char* dst, size_t capacity, std::string_view text);

template <class... A>
int FormatInto(wchar_t* dst, size_t capacity, const wchar_t* fmt, const A&... args) {
    return CopyCut(dst, capacity, FormatW(fmt, args...));
}

template <class... A>
int FormatIntoA(char* dst, size_t capacity, const char* fmt, const A&... args) {
    return CopyCutA(dst, capacity, FormatA(fmt, args...));
}

}  // namespace platform

// The C runtime's fixed-buffer formatters as the program calls them. The count is in
// characters; the result is cut (never overrun) and always terminated.
template <class... A>
int _snwprintf(wchar_t* dst, size_t count, const wchar_t* fmt, const A&... args) {
    return platform::FormatInto(dst, count, fmt, args...);
}
template <class... A>
int _snprintf(char* dst, size_t count, const char* fmt, const A&... args) {
    return platform::FormatIntoA(dst, count, fmt, args...);
}
