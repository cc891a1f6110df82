// Code pages, lstr* and wsprintf.
#include "support.h"

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

namespace
{

class Text : public LayerTest
{
};

TEST_F(Text, Windows1252RoundTripOfEveryByte)
{
    char bytes[256];
    for (int i = 0; i < 256; i++)
    {
        bytes[i] = (char)i;
    }
    WCHAR wide[256];
    for (UINT cp : {(UINT)CP_ACP, (UINT)CP_1252})
    {
        auto [n, err] = Probe([&] { return MultiByteToWideChar(cp, MB_PRECOMPOSED, bytes, 256, wide, 256); });
        ASSERT_EQ(n, 256);
        EXPECT_EQ(err, PROBE);
        // Points of the table that differ from Latin-1, and the five bytes
        // 1252 leaves undefined, which Windows maps to the C1 controls.
        EXPECT_EQ(wide[0x80], 0x20AC);
        EXPECT_EQ(wide[0x8A], 0x0160);
        EXPECT_EQ(wide[0x92], 0x2019);
        EXPECT_EQ(wide[0x9F], 0x0178);
        for (int undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        {
            EXPECT_EQ(wide[undefined], undefined);
        }
        for (int i : {0x00, 0x41, 0x7F, 0xA0, 0xE9, 0xFF})
        {
            EXPECT_EQ(wide[i], i);
        }
        std::set<WCHAR> distinct(wide, wide + 256);
        EXPECT_EQ(distinct.size(), 256u);
        char back[256];
        BOOL bUsed = TRUE;
        auto [m, err2] = Probe([&] { return WideCharToMultiByte(cp, 0, wide, 256, back, 256, nullptr, &bUsed); });
        ASSERT_EQ(m, 256);
        EXPECT_EQ(err2, PROBE);
        EXPECT_FALSE(bUsed);
        EXPECT_EQ(memcmp(back, bytes, 256), 0);
    }
    EXPECT_EQ(GetACP(), 1252u);
}

TEST_F(Text, SizesAndTerminators)
{
    WCHAR w[8];
    // -1 counts the terminator; 0 for the output size asks for the size.
    EXPECT_EQ(Probe([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0); }), std::make_pair(4, PROBE));
    EXPECT_EQ(Probe([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0); }), std::make_pair(3, PROBE));
    EXPECT_EQ(Probe([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", -1, w, 4); }), std::make_pair(4, PROBE));
    EXPECT_EQ(std::u16string(w), u"abc");
    // One short: the buffer is filled, and the call fails.
    for (int i = 0; i < 8; i++)
    {
        w[i] = u'#';
    }
    EXPECT_EQ(Probe([&] { return MultiByteToWideChar(CP_ACP, 0, "abc", -1, w, 3); }),
              std::make_pair(0, (DWORD)ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(w, 4), u"abc#");
    char a[8];
    EXPECT_EQ(Probe([&] { return WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr); }),
              std::make_pair(4, PROBE));
    EXPECT_EQ(Probe([&] { return WideCharToMultiByte(CP_ACP, 0, u"abc", -1, a, 3, nullptr, nullptr); }),
              std::make_pair(0, (DWORD)ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Probe([&] { return WideCharToMultiByte(CP_ACP, 0, u"abc", -1, a, 5, nullptr, nullptr); }),
              std::make_pair(4, PROBE));
    EXPECT_STREQ(a, "abc");
}

TEST_F(Text, BadArguments)
{
    WCHAR w[8];
    char a[8];
    struct
    {
        const char *pszWhat;
        std::function<int()> call;
        DWORD dwError;
    } cases[] = {
        {"no input", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", 0, w, 8); }, ERROR_INVALID_PARAMETER},
        {"null input", [&] { return MultiByteToWideChar(CP_ACP, 0, nullptr, 1, w, 8); }, ERROR_INVALID_PARAMETER},
        {"length -2", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", -2, w, 8); }, ERROR_INVALID_PARAMETER},
        {"null output", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", 1, nullptr, 8); }, ERROR_INVALID_PARAMETER},
        {"size -1", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", 1, w, -1); }, ERROR_INVALID_PARAMETER},
        {"code page 437", [&] { return MultiByteToWideChar(437, 0, "a", 1, w, 8); }, ERROR_INVALID_PARAMETER},
        {"unknown flag", [&] { return MultiByteToWideChar(CP_ACP, 0x100, "a", 1, w, 8); }, ERROR_INVALID_FLAGS},
        {"precomposed and composite",
         [&] { return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED | MB_COMPOSITE, "a", 1, w, 8); }, ERROR_INVALID_FLAGS},
        {"UTF-8 flags", [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, w, 8); },
         ERROR_INVALID_FLAGS},
        {"composite (a gap)", [&] { return MultiByteToWideChar(CP_ACP, MB_COMPOSITE, "a", 1, w, 8); },
         ERROR_CALL_NOT_IMPLEMENTED},
        {"W: no input", [&] { return WideCharToMultiByte(CP_ACP, 0, u"a", 0, a, 8, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"W: null input", [&] { return WideCharToMultiByte(CP_ACP, 0, nullptr, 1, a, 8, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"W: null output", [&] { return WideCharToMultiByte(CP_ACP, 0, u"a", 1, nullptr, 8, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"W: unknown flag", [&] { return WideCharToMultiByte(CP_ACP, 0x10000, u"a", 1, a, 8, nullptr, nullptr); },
         ERROR_INVALID_FLAGS},
        {"W: UTF-8 default", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, a, 8, "?", nullptr); },
         ERROR_INVALID_PARAMETER},
        {"W: unknown code page", [&] { return WideCharToMultiByte(12345, 0, u"a", 1, a, 8, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
    };
    for (auto &c : cases)
    {
        EXPECT_EQ(Probe(c.call), std::make_pair(0, c.dwError)) << c.pszWhat;
    }
}

TEST_F(Text, DefaultCharacter)
{
    // No best-fit mapping: what 1252 lacks becomes the default character.
    const WCHAR src[] = {0x20AC, 0x3042, u'x', 0};
    char a[8];
    BOOL bUsed = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, src, -1, a, 8, nullptr, &bUsed), 4);
    EXPECT_STREQ(a, "\x80?x");
    EXPECT_TRUE(bUsed);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, src, -1, a, 8, "#", &bUsed), 4);
    EXPECT_STREQ(a, "\x80#x");
}

TEST_F(Text, Utf8)
{
    const char *psz = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a, e-acute, euro, an emoji (a surrogate pair)
    WCHAR w[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, psz, -1, w, 8), 6);
    EXPECT_EQ(std::u16string(w), u"a\u00e9\u20ac\U0001F600");
    char back[16];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, back, 16, nullptr, nullptr), 11);
    EXPECT_STREQ(back, psz);
    // A buffer one short takes no partial character.
    memset(back, '#', sizeof back);
    EXPECT_EQ(Probe([&] { return WideCharToMultiByte(CP_UTF8, 0, w, 5, back, 9, nullptr, nullptr); }),
              std::make_pair(0, (DWORD)ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(back[6], '#');
    // Ill-formed input: U+FFFD, or an error when asked.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xFF", 1, w, 8), 1);
    EXPECT_EQ(w[0], 0xFFFD);
    EXPECT_EQ(Probe([&] { return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF", 1, w, 8); }),
              std::make_pair(0, (DWORD)ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(Text, Lstr)
{
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_EQ(lstrlenW(u"abc"), 3);
    char a[8];
    // lstrcpyn copies at most n - 1 characters and always terminates.
    struct
    {
        int n;
        const char *pszResult;
    } cases[] = {{1, ""}, {3, "ab"}, {6, "abcde"}, {7, "abcde"}};
    for (auto &c : cases)
    {
        memset(a, '#', sizeof a);
        EXPECT_EQ(lstrcpynA(a, "abcde", c.n), a);
        EXPECT_STREQ(a, c.pszResult) << c.n;
    }
    // 0 and less write nothing.
    memset(a, '#', sizeof a);
    EXPECT_EQ(lstrcpynA(a, "abcde", 0), a);
    EXPECT_EQ(lstrcpynA(a, "abcde", -1), a);
    EXPECT_EQ(a[0], '#');
    WCHAR w[8];
    EXPECT_EQ(lstrcpynW(w, u"wide", 3), w);
    EXPECT_EQ(std::u16string(w), u"wi");
    EXPECT_EQ(lstrcatW(lstrcpyW(w, u"ab"), u"cd"), w);
    EXPECT_EQ(std::u16string(w), u"abcd");
    EXPECT_STREQ(lstrcatA(lstrcpyA(a, "x"), "yz"), "xyz");
    EXPECT_EQ(lstrcpyA(nullptr, "x"), nullptr);
    EXPECT_EQ(lstrcatW(w, nullptr), nullptr);

    EXPECT_EQ(lstrcmpA("abc", "abc"), 0);
    EXPECT_EQ(lstrcmpA("abc", "abd"), -1);
    EXPECT_EQ(lstrcmpA("abcd", "abc"), 1);
    EXPECT_EQ(lstrcmpA(nullptr, ""), -1);
    EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);
    EXPECT_EQ(lstrcmpiA("ABC", "abc"), 0);
    EXPECT_EQ(lstrcmpiA("\xC9t\xC9", "\xE9t\xE9"), 0); // Latin-1 letters fold too
    EXPECT_EQ(lstrcmpiW(u"\u0160", u"\u0161"), 0);
    EXPECT_NE(lstrcmpW(u"A", u"a"), 0);
    // Ordinal order, a documented gap: Windows puts "a" before "B".
    EXPECT_EQ(lstrcmpW(u"a", u"B"), 1);
}

std::string FmtA(const char *pszFormat, ...)
{
    char buf[2048];
    memset(buf, '#', sizeof buf);
    va_list ap;
    va_start(ap, pszFormat);
    int n = wvsprintfA(buf, pszFormat, ap);
    va_end(ap);
    EXPECT_EQ(n, (int)strlen(buf)) << pszFormat;
    return buf;
}

TEST_F(Text, WsprintfConversions)
{
    EXPECT_EQ(FmtA("%d|%i|%u|%x|%X", -5, 3, -5, 255, 255), "-5|3|4294967291|ff|FF");
    EXPECT_EQ(FmtA("%ld|%lu|%lx|%hd|%hu", (LONG)-9, (DWORD)9, (DWORD)0xabc, 70000, 70000), "-9|9|abc|70000|70000");
    EXPECT_EQ(FmtA("%5d|%-5d|%05d|%-05d|%.3d|%08.3d", 42, 42, -42, 42, 7, 5), "   42|42   |-0042|42   |007|00000005");
    // '#' puts 0x before the digits and outside the width.
    EXPECT_EQ(FmtA("%#x|%#X|%#08x|%-#8x|", 0, 255, 0x1f, 0x1f), "0x0|0XFF|0x0000001f|0x1f      |");
    EXPECT_EQ(FmtA("%s|%5s|%-5s|%.2s|%5.1s|%05s", "abc", "ab", "ab", "abc", "xyz", "ab"),
              "abc|   ab|ab   |ab|    x|   ab");
    EXPECT_EQ(FmtA("%c|%3c|%-3c|", 'a', 'b', 'c'), "a|  b|c  |");
    EXPECT_EQ(FmtA("%%|%I64d|%I64x", (long long)-3, 0x123456789abULL), "%|-3|123456789ab");
    // Not conversions of this formatter: the letter, and no argument taken.
    EXPECT_EQ(FmtA("%+d|% d|%y|%*d", 5), "+d| d|y|*d");
    // In the A form %s is 8-bit and %S wide; h and l say it explicitly.
    EXPECT_EQ(FmtA("%s|%S|%hs|%ls|%C|%lc|%hc", "n", u"w", "h", u"l", (int)u'\u20ac', (int)u'W', 'h'),
              "n|w|h|l|\x80|W|h");
    EXPECT_EQ(FmtA("%s|%S", (const char *)nullptr, (LPCWSTR) nullptr), "(null)|(null)");
    EXPECT_EQ(FmtA("%S", u"\u3042"), "?");
}

TEST_F(Text, WsprintfWide)
{
    WCHAR buf[64];
    int n = wsprintfW(buf, u"%s|%S|%c|%C|%ls|%hs|%d|%s", u"wide", "narrow\xE9", (int)u'\u20ac', (int)'\x80', u"l", "h",
                      12, (LPCWSTR) nullptr);
    EXPECT_EQ(std::u16string(buf), u"wide|narrow\u00e9|\u20ac|\u20ac|l|h|12|(null)");
    EXPECT_EQ(n, (int)std::u16string(buf).size());
}

TEST_F(Text, WsprintfWritesAtMost1024)
{
    char big[1500];
    memset(big, 'x', sizeof big - 1);
    big[sizeof big - 1] = 0;
    char out[2048];
    memset(out, '#', sizeof out);
    // The count returned is what was written, without the terminator.
    EXPECT_EQ(wsprintfA(out, "ab%s", big), 1023);
    EXPECT_EQ(strlen(out), 1023u);
    EXPECT_EQ(out[1024], '#');
    for (size_t len : {1021u, 1022u, 1023u, 1024u})
    {
        std::string s(len, 'y');
        EXPECT_EQ(wsprintfA(out, "%s", s.c_str()), (int)std::min(len, (size_t)1023)) << len;
    }
    WCHAR wout[2048];
    std::u16string ws(2000, u'w');
    EXPECT_EQ(wsprintfW(wout, u"%s", ws.c_str()), 1023);
    EXPECT_EQ(wout[1023], 0);
    // Padding is cut the same way.
    EXPECT_EQ(wsprintfA(out, "%2000d", 1), 1023);
}

} // namespace
