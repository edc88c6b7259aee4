#include <gtest/gtest.h>

#include <string>

#include "codecs.h"
#include "platform/codepage.h"

namespace {

TEST(UrlEncode, KeepsOnlyAsciiLettersAndDigits) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"A z9", "A+z9"},
        {"\xE4", "%E4"},
        {"-_.~", "%2D%5F%2E%7E"},
        {std::string("\0\x7F\xFF", 3), "%00%7F%FF"},
    };
    for (const Case& c : cases) {
        std::string out = "pre:";
        UrlEncode(c.in, out);
        EXPECT_EQ(out, "pre:" + c.out) << c.in;
    }
}

TEST(Utf8UrlEncode, EncodesTheUtf8BytesOfTheAnsiText) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a b", "a+b"},
        {"a&b", "a%26b"},
        {"\xE7\x83\xAD\xE9\x97\xA8", "%E7%83%AD%E9%97%A8"},  // two Chinese characters, three escapes each
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(Utf8UrlEncode(c.in, out), 0);
        EXPECT_EQ(out, c.out);
    }
}

TEST(RemoveCRLF, DropsOnlyCarriageReturnsAndLineFeeds) {
    CStringW out;
    RemoveCRLF(L"a\r\nb", out);
    EXPECT_EQ(out, L"ab");
    RemoveCRLF(L"a\tb c", out);
    EXPECT_EQ(out, L"a\tb c");
    CStringW same = L"\n标\r题\n";
    RemoveCRLF(same, same);
    EXPECT_EQ(same, L"标题");
}

TEST(Utf8DecodeChar, ValuesLengthsAndTheEndOfInput) {
    struct Case {
        std::string text;
        DWORD value;
        size_t pos;
    } cases[] = {
        {"A", 'A', 1},
        {"\x80", 63, 1},                  // lone continuation byte
        {"\xFF", 63, 1},
        {"\xC3\xA4", 0xE4, 2},
        {"\xE7\x83\xAD", 0x70ED, 3},
        {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"\xE7\x83", (0x7 << 6) | 0x03, 2},  // cut short: stops at the end
    };
    for (const Case& c : cases) {
        size_t pos = 0;
        EXPECT_EQ(Utf8DecodeChar(c.text, pos), c.value) << c.text;
        EXPECT_EQ(pos, c.pos);
    }
}

TEST(UrlDecode, EscapesPlusAndBadPercents) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a+b%41%62", "a bAb"},
        {"%2", "2"},          // a "%" without two hex digits is dropped
        {"%zz%", "zz"},
        {"%C3%A4", "\xE4"},   // U+00E4 comes out as its low 8 bits
        {"%E4%B8%AD", "-"},   // U+4E2D: low 8 bits 0x2D
    };
    for (const Case& c : cases) {
        std::string out;
        UrlDecode(c.in, out);
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(Utf8Bytes, SequenceLengthsAndValues) {
    struct Case {
        unsigned char lead;
        int length;
    } lengths[] = {{0x41, 0}, {0x00, -1}, {0x80, -1}, {0xBF, -1}, {0xC3, 2}, {0xE7, 3},
                   {0xF0, 4}, {0xF8, 5},  {0xFC, 6},  {0xFE, -1}, {0xFF, -1}};
    for (const Case& c : lengths) EXPECT_EQ(Utf8SeqLength(c.lead), c.length) << int(c.lead);

    const unsigned char bytes[] = {0x41, 0xC3, 0xA4, 0x80, 0x00, 0xC5, 0x81, 0xE7};
    std::string out;
    Utf8ToBytes(bytes, sizeof bytes, out);
    // A; U+00E4; continuation and zero skipped; U+0141 cut to 0x41; a cut-short lead alone.
    EXPECT_EQ(out, std::string("A\xE4" "A\x07"));
}

TEST(ConvertCodePage, Utf8AndTheAnsiPageRoundTrip) {
    std::string out = "old";
    ConvertCodePage("\xE7\x83\xAD x", CP_UTF8, out, CP_ACP);
    EXPECT_EQ(out, "\xE7\x83\xAD x");
    ConvertCodePage(nullptr, CP_UTF8, out, CP_ACP);
    EXPECT_EQ(out, "");
}

}  // namespace
