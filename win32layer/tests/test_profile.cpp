// Profile files.
#include "support.h"

namespace
{

class Profile : public LayerTest
{
  protected:
    // The value, the count returned and the last error of a read.
    struct Read
    {
        std::string value;
        DWORD n;
        DWORD err;
    };
    Read Get(const char *pszSection, const char *pszKey, const char *pszDefault, const char *pszFile, DWORD nSize = 64)
    {
        char buf[256];
        memset(buf, '#', sizeof buf);
        auto [n, err] =
            Probe([&] { return GetPrivateProfileStringA(pszSection, pszKey, pszDefault, buf, nSize, pszFile); });
        return Read{buf, n, err};
    }
    using LayerTest::Get;
};

const char g_szIni[] = "[Sec]\r\n"
                       "k1 = \"quoted\" \r\n"
                       "k2='single'\r\n"
                       "k3=\"unbalanced\r\n"
                       "k4= a  b \r\n"
                       "empty=\r\n"
                       "noequals\r\n"
                       "[sec]\r\n"
                       "k5=second section of the same name\r\n"
                       "[ Spaced ]\r\n"
                       "x=1\r\n";

TEST_F(Profile, Values)
{
    Put("C:\\p.ini", g_szIni);
    struct
    {
        const char *pszSection, *pszKey, *pszValue;
    } cases[] = {
        {"sec", "K1", "quoted"},       // names without regard to case; one pair of quotes goes
        {"SEC", "k2", "single"},       // single quotes too
        {"Sec", "k3", "\"unbalanced"}, // unmatched quotes stay
        {"Sec", "k4", "a  b"},         // blanks around the value go, inside stay
        {"Sec", "empty", ""},          // present and empty: not the default
        {"Spaced", "x", "1"},          // blanks inside the brackets go
    };
    for (auto &c : cases)
    {
        Read r = Get(c.pszSection, c.pszKey, "default", "C:\\p.ini");
        EXPECT_EQ(r.value, c.pszValue) << c.pszKey;
        EXPECT_EQ(r.n, strlen(c.pszValue)) << c.pszKey;
        EXPECT_EQ(r.err, PROBE) << c.pszKey;
    }
}

TEST_F(Profile, Defaults)
{
    Put("C:\\p.ini", g_szIni);
    // Missing file, section or key: the default, trailing blanks removed,
    // and ERROR_FILE_NOT_FOUND (the Windows test platform clears the error
    // instead when the file exists; Windows documents 2).
    Read r1 = Get("Sec", "k1", "def  \t", "C:\\missing.ini");
    EXPECT_EQ(r1.value, "def");
    EXPECT_EQ(r1.n, 3u);
    EXPECT_EQ(r1.err, (DWORD)ERROR_FILE_NOT_FOUND);
    for (auto key : {"nokey", "noequals", "k5"}) // k5 is in the second [sec], which is never read
    {
        Read r = Get("Sec", key, " lead kept, quotes \"too\" ", "C:\\p.ini");
        EXPECT_EQ(r.value, " lead kept, quotes \"too\"") << key;
        EXPECT_EQ(r.err, (DWORD)ERROR_FILE_NOT_FOUND) << key;
    }
    Read r2 = Get("nosection", "k1", nullptr, "C:\\p.ini");
    EXPECT_EQ(r2.value, "");
    EXPECT_EQ(r2.n, 0u);
    // A missing directory is its own error.
    EXPECT_EQ(Get("Sec", "k1", "d", "C:\\nodir\\p.ini").err, (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST_F(Profile, Truncation)
{
    Put("C:\\p.ini", "[s]\r\nk=abcdef\r\n");
    // The result is cut to nSize - 1 characters and that count returned.
    struct
    {
        DWORD nSize;
        const char *pszValue;
    } cases[] = {{1, ""}, {2, "a"}, {6, "abcde"}, {7, "abcdef"}, {8, "abcdef"}};
    for (auto &c : cases)
    {
        Read r = Get("s", "k", "", "C:\\p.ini", c.nSize);
        EXPECT_EQ(r.value, c.pszValue) << c.nSize;
        EXPECT_EQ(r.n, strlen(c.pszValue)) << c.nSize;
    }
    EXPECT_EQ(Get("s", "none", "default", "C:\\p.ini", 4).value, "def");
    char c = '#';
    EXPECT_EQ(Probe([&] { return GetPrivateProfileStringA("s", "k", "", &c, 0, "C:\\p.ini"); }),
              std::make_pair((DWORD)0, PROBE));
    EXPECT_EQ(c, '#');
}

TEST_F(Profile, BareNamesAreInTheWindowsDirectory)
{
    MakeDir("C:\\WINDOWS");
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA("s", "k", "v", "bare.ini"); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Get("C:\\windows\\BARE.INI"), "[s]\r\nk=v\r\n");
    EXPECT_EQ(Get("S", "K", "", "bare.ini").value, "v");
    W32EmuSetWindowsDir(u"C:\\Other");
    EXPECT_EQ(Get("s", "k", "none", "bare.ini").value, "none");
}

TEST_F(Profile, FirstWriteMakesTheFile)
{
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringW(u"Sec", u"Key", u"Value", u"C:\\new.ini"); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Get("C:\\new.ini"), "[Sec]\r\nKey=Value\r\n");
    // Deleting from a file that is not there makes nothing.
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA("s", "k", nullptr, "C:\\none.ini"); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA("s", nullptr, nullptr, "C:\\none.ini"); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_FALSE(HostExists("C:\\none.ini"));
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA("s", "k", "v", "C:\\nodir\\x.ini"); }),
              std::make_pair(FALSE, (DWORD)ERROR_PATH_NOT_FOUND));
}

TEST_F(Profile, WritesTouchOnlyTheirLines)
{
    Put("C:\\p.ini", "; comment\n"
                     "[A]\n"
                     "  key = old  \n"
                     "other=1\n"
                     "\n"
                     "[B]\r\n"
                     "b=2");
    // Replaced in place; the name keeps its spelling in the file.
    EXPECT_TRUE(WritePrivateProfileStringA("a", "KEY", "new value", "C:\\p.ini"));
    // Added after the section's last line, before the blank line.
    EXPECT_TRUE(WritePrivateProfileStringA("a", "added", "3", "C:\\p.ini"));
    // Added to the last section, whose last line had no line end.
    EXPECT_TRUE(WritePrivateProfileStringA("B", "c", "4", "C:\\p.ini"));
    // A new section at the end.
    EXPECT_TRUE(WritePrivateProfileStringA("New", "n", "5", "C:\\p.ini"));
    EXPECT_EQ(Get("C:\\p.ini"), "; comment\n"
                                "[A]\n"
                                "key=new value\n"
                                "other=1\n"
                                "added=3\r\n"
                                "\n"
                                "[B]\r\n"
                                "b=2\r\n"
                                "c=4\r\n"
                                "[New]\r\n"
                                "n=5\r\n");
    EXPECT_EQ(Get("A", "key", "", "C:\\p.ini").value, "new value");
}

TEST_F(Profile, Deletes)
{
    Put("C:\\p.ini", "[A]\r\nk=1\r\nj=2\r\n[B]\r\nx=1\r\n[C]\r\ny=1\r\n");
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA("a", "K", nullptr, "C:\\p.ini"); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA("b", nullptr, nullptr, "C:\\p.ini"); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_TRUE(WritePrivateProfileStringA("nosuch", nullptr, nullptr, "C:\\p.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("a", "nosuch", nullptr, "C:\\p.ini"));
    EXPECT_EQ(Get("C:\\p.ini"), "[A]\r\nj=2\r\n[C]\r\ny=1\r\n");
    // No section at all: only the all-NULL flush succeeds.
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA(nullptr, nullptr, nullptr, "C:\\p.ini"); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA(nullptr, "k", "v", "C:\\p.ini"); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_PARAMETER));
}

TEST_F(Profile, AnsiText)
{
    // Wide strings are stored in 1252; what 1252 lacks becomes '?'.
    EXPECT_TRUE(WritePrivateProfileStringW(u"S", u"k", u"caf\u00e9 \u20ac \u3042", u"C:\\p.ini"));
    EXPECT_EQ(Get("C:\\p.ini"), "[S]\r\nk=caf\xE9 \x80 ?\r\n");
    WCHAR buf[32];
    EXPECT_EQ(GetPrivateProfileStringW(u"s", u"K", u"", buf, 32, u"C:\\P.INI"), 8u);
    EXPECT_EQ(std::u16string(buf), u"caf\u00e9 \u20ac ?");
    EXPECT_EQ(Get("s", "k", "", "C:\\p.ini").value, "caf\xE9 \x80 ?");
}

TEST_F(Profile, UnicodeFiles)
{
    // A file with the UTF-16LE byte-order mark is read and written as UTF-16.
    std::u16string text = u"\ufeff[S]\r\nk=\u3042\r\n";
    Put("C:\\u.ini", std::string((const char *)text.data(), text.size() * 2));
    WCHAR buf[8];
    EXPECT_EQ(GetPrivateProfileStringW(u"S", u"k", u"", buf, 8, u"C:\\u.ini"), 1u);
    EXPECT_EQ(buf[0], u'\u3042');
    EXPECT_TRUE(WritePrivateProfileStringW(u"S", u"j", u"\u00e9", u"C:\\u.ini"));
    std::u16string expected = u"\ufeff[S]\r\nk=\u3042\r\nj=\u00e9\r\n";
    EXPECT_EQ(Get("C:\\u.ini"), std::string((const char *)expected.data(), expected.size() * 2));
}

TEST_F(Profile, EnumerationIsAGap)
{
    Put("C:\\p.ini", g_szIni);
    for (auto [section, key] :
         {std::make_pair((const char *)nullptr, "k1"), std::make_pair("Sec", (const char *)nullptr)})
    {
        Read r = Get(section, key, "d", "C:\\p.ini");
        EXPECT_EQ(r.n, 0u);
        EXPECT_EQ(r.value, "");
        EXPECT_EQ(r.err, (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
    }
}

TEST_F(Profile, SharingIsHonoured)
{
    Put("C:\\p.ini", "[s]\r\nk=v\r\n");
    HANDLE h = CreateFileA("C:\\p.ini", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Get("s", "k", "", "C:\\p.ini").value, "v");
    EXPECT_EQ(Probe([&] { return WritePrivateProfileStringA("s", "k", "w", "C:\\p.ini"); }),
              std::make_pair(FALSE, (DWORD)ERROR_SHARING_VIOLATION));
    CloseHandle(h);
    EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "w", "C:\\p.ini"));
    EXPECT_EQ(Get("s", "k", "", "C:\\p.ini").value, "w");
}

} // namespace
