// Text and URL helpers.
#include <gtest/gtest.h>

#include "core/common.h"

namespace {

TEST(Text, HexDigits) {
    EXPECT_EQ(Hex('0'), 0);
    EXPECT_EQ(Hex('9'), 9);
    EXPECT_EQ(Hex('a'), 10);
    EXPECT_EQ(Hex('F'), 15);
    EXPECT_EQ(Hex('g'), -1);
    EXPECT_EQ(Hex('%'), -1);
    EXPECT_EQ(Hex(0), -1);
}

TEST(Text, PrintfTakesWideStringsAndCutsAtCapacity) {
    tchar buf[64];
    stprintf_s(buf, 64, L"%s:%d:%d:", L"COVER=", 1234, 56);
    EXPECT_STREQ(buf, L"COVER=:1234:56:");
    stprintf_s(buf, 64, L"CHAPTER%02dNAME=", 3);
    EXPECT_STREQ(buf, L"CHAPTER03NAME=");
    stprintf_s(buf, 64, L"%08X", 0xABu);
    EXPECT_STREQ(buf, L"000000AB");
    stprintf_s(buf, 64, L"Range: bytes=%d-\n", 1000);
    EXPECT_STREQ(buf, L"Range: bytes=1000-\n");
    stcatprintf_s(buf, 64, L"ffff:%d:0", 2);
    EXPECT_STREQ(buf, L"Range: bytes=1000-\nffff:2:0");
    stprintf_s(buf, 5, L"%s", L"COVER=");
    EXPECT_STREQ(buf, L"COVE");
    tcscpy_s(buf, 4, L"abcdef");
    EXPECT_STREQ(buf, L"abc");
    tcscat_s(buf, 6, L"XYZ");
    EXPECT_STREQ(buf, L"abcXY");
}

TEST(Text, ScanCountsTheFieldsRead) {
    int a = 0, b = 0;
    EXPECT_EQ(stscanf(L"ICY 200 OK", L"ICY %d", &a), 1);
    EXPECT_EQ(a, 200);
    EXPECT_EQ(stscanf(L"1.26", L"%d.%d", &a, &b), 2);
    EXPECT_EQ(b, 26);
    EXPECT_EQ(stscanf(L"v1", L"%d.%d", &a, &b), 0);
    EXPECT_EQ(stscanf(L"", L"%d", &a), 0);
}

TEST(Text, CaseHelpersTouchLatinLettersOnly) {
    EXPECT_EQ(tcsnicmp(L"MMS://host", L"mms://", 6), 0);
    EXPECT_NE(tcsnicmp(L"http://", L"https", 5), 0);
    tchar t[] = L"text/html; charset=utf-8 \u00e9";
    EXPECT_STREQ(tcsupr(t), L"TEXT/HTML; CHARSET=UTF-8 \u00e9");
    EXPECT_EQ(UpperFourCC(FOURCC('t', 'e', 'x', 't')), FOURCC('T', 'E', 'X', 'T'));
    EXPECT_EQ(UpperFourCC(FOURCC('t', 'x', '3', 'g')), FOURCC('T', 'X', '3', 'G'));
}

TEST(Text, NumbersAndTokens) {
    EXPECT_EQ(StringToInt(L"16000"), 16000);
    EXPECT_EQ(StringToInt(L"  42abc"), 42);
    EXPECT_EQ(StringToInt(L"-7"), -7);
    EXPECT_EQ(StringToInt(L"0x1F", 1), 31);
    EXPECT_EQ(StringToInt(L"ff", 1), 255);
    EXPECT_EQ(StringToInt(L"0x10", -1), 16);
    EXPECT_EQ(StringToInt(L"x"), 0);
    EXPECT_TRUE(IsSpace(' ') && IsSpace('\t') && IsSpace('\r') && IsSpace('\n'));
    EXPECT_FALSE(IsSpace('a') || IsSpace(0));
    tchar tok[17];
    const char icy[] = "  ICY 200 OK\r\n";
    GetAsciiToken(tok, 17, icy, sizeof(icy) - 1);
    EXPECT_STREQ(tok, L"ICY");
    GetAsciiToken(tok, 4, "[playlist]", 10);
    EXPECT_STREQ(tok, L"[pl");
    GetAsciiToken(tok, 17, "<ASX version", 3);  // the length bounds the token
    EXPECT_STREQ(tok, L"<AS");
}

TEST(Text, EightBitConversions) {
    tchar out[32];
    // A UTF-8 page may hold a Latin-1 byte that came from an entity.
    StrToTcsEx(out, 32, "caf\xE9 \xC3\xA9", 65001);
    EXPECT_STREQ(out, L"caf\u00e9 \u00e9");
    StrToTcsEx(out, 32, "\xC4\xE3\xBA\xC3", 936);  // GBK
    EXPECT_STREQ(out, L"\u4f60\u597d");
    StrToTcsEx(out, 32, "\xE9", 28591);
    EXPECT_STREQ(out, L"\u00e9");
    StrToTcsEx(out, 32, "\x80", 1252);
    EXPECT_STREQ(out, L"\u20ac");
    UTF8ToTcs(out, 32, "\xE4\xBD\xA0x", 3);
    EXPECT_STREQ(out, L"\u4f60");
    StrToTcs(out, 4, "abcdef");
    EXPECT_STREQ(out, L"abc");
    char narrow[8];
    TcsToUTF8(narrow, 8, L"\u4f60\u597d\u4f60");  // 9 bytes do not fit: no cut sequence
    EXPECT_STREQ(narrow, "\xE4\xBD\xA0\xE5\xA5\xBD");
}

TEST(Text, GenresAndChapters) {
    EXPECT_STREQ(ID3v1_Genre(0), L"Blues");
    EXPECT_STREQ(ID3v1_Genre(17), L"Rock");
    EXPECT_STREQ(ID3v1_Genre(79), L"Hard Rock");
    EXPECT_EQ(ID3v1_Genre(-1), nullptr);
    EXPECT_EQ(ID3v1_Genre(1000), nullptr);
    tchar buf[32];
    // 100-ns units with the divisor 10000: 1234.567 s.
    BuildChapter(buf, 32, 1, 12345670000LL, 10000);
    EXPECT_STREQ(buf, L"CHAPTER01=00:20:34.567");
    // A text track's time x 1000 over its time scale.
    BuildChapter(buf, 32, 12, 1800LL * 1000, 600);
    EXPECT_STREQ(buf, L"CHAPTER12=00:00:03.000");
}

TEST(Url, SplitGivesTheBasePart) {
    tchar base[128], proto[16], host[64], path[128];
    SplitURL(L"http://h:8080/dir/a.flv?x=1/2", base, 128, proto, 16, host, 64, path, 128);
    EXPECT_STREQ(base, L"http://h:8080/dir");
    EXPECT_STREQ(proto, L"http");
    EXPECT_STREQ(host, L"h:8080");
    EXPECT_STREQ(path, L"/dir/a.flv?x=1/2");
    SplitURL(L"http://h/dir/", base, 128);
    EXPECT_STREQ(base, L"http://h/dir");
    SplitURL(L"http://h", base, 128);
    EXPECT_STREQ(base, L"http://h");
    SplitURL(L"/media/clips/a.mp4", base, 128);
    EXPECT_STREQ(base, L"/media/clips");
}

TEST(Url, AbsPathResolvesAgainstTheBase) {
    struct Case { const tchar* link; const tchar* expected; };
    const Case cases[] = {
        {L"?C=N;O=D", L"http://h/dir/?C=N;O=D"},
        {L"a.flv", L"http://h/dir/a.flv"},
        {L"sub/", L"http://h/dir/sub/"},
        {L"/x/y.mp4", L"http://h/x/y.mp4"},
        {L"../up.flv", L"http://h/up.flv"},
        {L"./b.flv", L"http://h/dir/b.flv"},
        {L"http://other/z", L"http://other/z"},
        {L"//cdn/z", L"http://cdn/z"},
    };
    tchar out[128];
    for (const Case& c : cases) {
        AbsPath(out, 128, c.link, L"http://h/dir");
        EXPECT_STREQ(out, c.expected) << c.link;
    }
}

TEST(Url, CheckExtsGivesTheKindLetter) {
    const tchar* media = L"mp4:v;flv:v;mp3:a";
    EXPECT_EQ(CheckExts(L"http://h/a/Movie.FLV", media), 'v');
    EXPECT_EQ(CheckExts(L"song.mp3?x=1.flv", media), 'a');
    EXPECT_EQ(CheckExts(L"notes.txt", media), 0);
    EXPECT_EQ(CheckExts(L"http://h/a.flv/b", media), 0);
    EXPECT_EQ(CheckExts(L"http://h/dir", media), 0);
    EXPECT_EQ(CheckExts(L"http://h.flv", media), 0);  // a host is no file name
    EXPECT_EQ(CheckExts(L"index.php", L"html:H;htm:H;asp:H;php:H"), 'H');
    EXPECT_EQ(CheckExts(L"a.htm", L"html:H;htm:H;asp:H;php:H"), 'H');
}

TEST(Url, CodePageFromTheContentType) {
    struct Case { const tchar* type; int cp; };
    const Case cases[] = {
        {L"text/html; charset=UTF-8", 65001},   {L"TEXT/HTML; CHARSET=GB2312", 936},
        {L"text/html", 0},                      {L"text/html; charset=iso-8859-1", 28591},
        {L"text/html; charset=\"windows-1251\"", 1251}, {L"text/html;charset=big5", 950},
        {L"text/html; charset=x-unknown", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(GetCodePage(c.type), c.cp) << c.type;
}

}  // namespace
