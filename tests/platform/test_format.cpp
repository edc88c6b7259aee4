#include <gtest/gtest.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/cstring.h"
#include "platform/lasterror.h"

namespace {

struct FormatCase {
    const wchar_t* expected;
    std::wstring actual;
};

TEST(Format, DirectivesAsTheProgramWritesThem) {
    const FormatCase cases[] = {
        {L"path=C:\\x", platform::FormatW(L"path=%s", L"C:\\x")},
        {L"-12 4294967295", platform::FormatW(L"%d %u", -12, 0xFFFFFFFFu)},
        {L"errno=183", platform::FormatW(L"errno=%lu", DWORD(183))},
        {L"0A-FF", platform::FormatW(L"%.2X-%.2X", BYTE(10), BYTE(255))},
        {L"05:07", platform::FormatW(L"%.2d:%.2d", 5, 7)},
        {L"100%", platform::FormatW(L"%d%%", 100)},
        {L"hr=0x80004005", platform::FormatW(L"hr=0x%x", E_FAIL)},
        {L"keyword=%s&pg=1", platform::FormatW(L"keyword=%%s&pg=%d", 1)},
        {L"narrow:abc", platform::FormatW(L"narrow:%s", "abc")},
        {L"   7|7   ", platform::FormatW(L"%4d|%-4d", 7, 7)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(Format, DirectiveWithoutArgumentIsCopied) {
    // A server's URL used as a template keeps its percent escapes.
    EXPECT_EQ(platform::FormatW(L"http://h/a%20b%E4.jpg"), L"http://h/a%20b%E4.jpg");
    EXPECT_EQ(platform::FormatW(L"http://h/q?k=%s&x=%20", L"v"), L"http://h/q?k=v&x=%20");
    // An argument of the wrong kind is not read as another kind.
    EXPECT_EQ(platform::FormatW(L"%s", 5), L"%s");
}

TEST(Format, NarrowStateFileFormat) {
    EXPECT_EQ(platform::FormatA("%d %d %d %d ", 10, 500, 1, 10), "10 500 1 10 ");
}

TEST(Format, FixedBufferIsCutNotOverrun) {
    wchar_t buf[8];
    buf[7] = L'#';
    EXPECT_EQ(platform::FormatInto(buf, 5, L"%s", L"abcdefgh"), -1);
    EXPECT_STREQ(buf, L"abcd");
    EXPECT_EQ(buf[7], L'#');
    EXPECT_EQ(platform::FormatInto(buf, 8, L"%d", 42), 2);
}

TEST(CStringW, SearchAndSlices) {
    CStringW s(L"type=1|\\dir\\Lumeo.exe|pkg");
    EXPECT_EQ(s.Find(L'|'), 6);
    EXPECT_EQ(s.Find(L'|', 7), 21);
    EXPECT_EQ(s.Find(L'#'), -1);
    EXPECT_EQ(s.ReverseFind(L'\\'), 11);
    EXPECT_EQ(s.Left(6), L"type=1");
    EXPECT_EQ(s.Mid(22), L"pkg");
    EXPECT_EQ(s.Mid(7, 4), L"\\dir");
    EXPECT_EQ(s.Mid(100), L"");
    CStringW u(L"htc é touch");
    u.MakeUpper();
    EXPECT_EQ(u, L"HTC é TOUCH");  // Latin letters only
}

TEST(CStringW, BufferRoundTrip) {
    CStringW s;
    wchar_t* b = s.GetBuffer(10);
    wcscpy(b, L"abc");
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(s, L"abc");
}

TEST(CodePage, MeasuringCallsCountTheTerminator) {
    const char* text = "\xE6\xBE\x9C\xE6\x98\xA0";  // two Chinese characters in UTF-8
    int need = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    EXPECT_EQ(need, 3);
    wchar_t w[3];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, w, need), 3);
    EXPECT_EQ(w[0], L'\x6F9C');
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr), 7);
    char small[3];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, small, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

TEST(CodePage, BrokenUtf8StaysInBounds) {
    EXPECT_EQ(platform::Utf8ToWide(std::string_view("a\xE6\xBE", 3)), L"a\xFFFD\xFFFD");
    EXPECT_EQ(platform::Utf16LeBytesToWide("a\0b\0c", 5), L"ab");
}

TEST(CodePage, Utf16IntoABufferOnlyWhenItFits) {
    // U+1F3AC takes a surrogate pair; a lone surrogate becomes U+FFFD.
    const std::wstring text = L"a\U0001F3AC\xD800z";
    const char16_t expected[] = {u'a', 0xD83C, 0xDFAC, 0xFFFD, u'z'};
    EXPECT_EQ(platform::WideToUtf16(text, nullptr, 0), 5u);
    char16_t out[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(platform::WideToUtf16(text, out, 4), 5u);
    EXPECT_EQ(out[0], u'#');  // too small: nothing written
    EXPECT_EQ(platform::WideToUtf16(text, out, 5), 5u);
    EXPECT_TRUE(std::equal(expected, expected + 5, out));
    EXPECT_EQ(out[5], u'#');
    EXPECT_EQ(platform::WideToUtf16(text), std::u16string(expected, 5));
}

TEST(LastError, TextsEndWithLineBreak) {
    wchar_t buf[512];
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ALREADY_EXISTS, 0, buf, 512, nullptr), 0u);
    std::wstring text(buf);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x7FFF1234, 0, buf, 512, nullptr), 0u);
}

}  // namespace
