// Windows paths on the host disk, and the directory queries.
#include "support.h"

#include <unistd.h>

namespace
{

class Paths : public LayerTest
{
};

TEST_F(Paths, SpellingsOfOneFile)
{
    Put("C:\\Dir\\Sub\\File.Txt", "x");
    MakeDir("C:\\Dir\\Sub\\Deeper");
    const char *apsz[] = {
        "C:\\Dir\\Sub\\File.Txt",     "c:\\dir\\sub\\file.txt",
        "C:/DIR/SUB/FILE.TXT",        "C:\\Dir\\\\Sub\\\\\\File.Txt",
        "\\Dir\\Sub\\File.Txt",       "Dir\\Sub\\File.Txt",
        "C:Dir\\Sub\\File.Txt",       "C:\\Dir\\.\\Sub\\Deeper\\..\\File.Txt",
        "C:\\..\\Dir\\Sub\\File.Txt",
    };
    for (const char *psz : apsz)
    {
        EXPECT_EQ(Host(psz), m_root + "/Dir/Sub/File.Txt") << psz;
        EXPECT_EQ(GetFileAttributesA(psz), (DWORD)FILE_ATTRIBUTE_ARCHIVE) << psz;
    }
}

TEST_F(Paths, NewNamesKeepTheirCase)
{
    MakeDir("C:\\Dir");
    HANDLE h = CreateFileA("C:\\DIR\\NewFile.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(access((m_root + "/Dir/NewFile.TXT").c_str(), F_OK), 0);
    // A second spelling finds it rather than making another file.
    h = CreateFileA("c:\\dir\\newfile.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
}

TEST_F(Paths, DriveZIsTheHostRoot)
{
    Put("C:\\f.txt", "via z");
    std::string z = "Z:" + m_root + "/f.txt";
    for (char &c : z)
    {
        c = c == '/' ? '\\' : c;
    }
    HANDLE h = CreateFileA(z.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << z;
    char buf[16];
    DWORD n;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "via z");
    CloseHandle(h);
    char sz[16];
    EXPECT_TRUE(W32EmuToHostPathA("Z:\\", sz, sizeof sz));
    EXPECT_STREQ(sz, "/");
}

TEST_F(Paths, OtherDrivesAndForms)
{
    // No such drive: the path is not found.
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("D:\\x"); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_PATH_NOT_FOUND));
    // UNC and device paths are not emulated.
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("\\\\server\\share\\x"); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(Probe([&] { return GetFileAttributesA("C:\\a|b"); }),
              std::make_pair(INVALID_FILE_ATTRIBUTES, (DWORD)ERROR_INVALID_NAME));
    char sz[8];
    EXPECT_EQ(Probe([&] { return W32EmuToHostPathA("D:\\x", sz, sizeof sz); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_NAME));
}

TEST_F(Paths, ToHostPathBufferEdges)
{
    std::string host = m_root + "/new";
    std::string buf(host.size() + 2, '#');
    EXPECT_EQ(Probe([&] { return W32EmuToHostPath(u"C:\\new", &buf[0], host.size()); }),
              std::make_pair(FALSE, (DWORD)ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Probe([&] { return W32EmuToHostPath(u"C:\\new", &buf[0], host.size() + 1); }),
              std::make_pair(TRUE, PROBE));
    EXPECT_EQ(std::string(buf.c_str()), host);
}

TEST_F(Paths, RootFromTheEnvironment)
{
    std::string saved = W32EmuGetRoot();
    setenv("W32EMU_ROOT", m_root.c_str(), 1);
    W32EmuSetRoot(nullptr);
    EXPECT_EQ(std::string(W32EmuGetRoot()), m_root);
    unsetenv("W32EMU_ROOT");
    W32EmuSetRoot(nullptr);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(W32EmuGetRoot()), std::string(cwd));
    W32EmuSetRoot((m_root + "///").c_str());
    EXPECT_EQ(std::string(W32EmuGetRoot()), m_root);
    W32EmuSetRoot(saved.c_str());
}

// The directory queries return the length without the terminator when the
// buffer holds the string, else the size needed with it, writing nothing.
template <typename C, typename F>
void CheckSizeRule(F query, const std::basic_string<C> &expected)
{
    UINT len = (UINT)expected.size();
    for (UINT size : {0u, len - 1, len, len + 1, len + 2})
    {
        std::basic_string<C> buf(len + 4, (C)'#');
        auto [n, err] = Probe([&] { return query(size ? &buf[0] : nullptr, size); });
        EXPECT_EQ(err, PROBE) << size;
        if (size > len)
        {
            EXPECT_EQ(n, len) << size;
            EXPECT_EQ(std::basic_string<C>(buf.c_str()), expected);
        }
        else
        {
            EXPECT_EQ(n, len + 1) << size;
            EXPECT_EQ(buf[0], (C)'#') << size;
        }
    }
}

TEST_F(Paths, DirectoryQueries)
{
    CheckSizeRule<WCHAR>([](LPWSTR p, UINT n) { return GetWindowsDirectoryW(p, n); }, u"C:\\WINDOWS");
    CheckSizeRule<char>([](LPSTR p, UINT n) { return GetWindowsDirectoryA(p, n); }, "C:\\WINDOWS");
    CheckSizeRule<WCHAR>([](LPWSTR p, UINT n) { return GetSystemDirectoryW(p, n); }, u"C:\\WINDOWS\\system32");
    CheckSizeRule<char>([](LPSTR p, UINT n) { return GetSystemDirectoryA(p, n); }, "C:\\WINDOWS\\system32");
    CheckSizeRule<WCHAR>([](LPWSTR p, UINT n) { return GetTempPathW(n, p); }, u"C:\\TEMP\\");
    CheckSizeRule<char>([](LPSTR p, UINT n) { return GetTempPathA(n, p); }, "C:\\TEMP\\");
    W32EmuSetWindowsDir(u"c:/winnt/");
    CheckSizeRule<char>([](LPSTR p, UINT n) { return GetSystemDirectoryA(p, n); }, "C:\\winnt\\system32");
}

TEST_F(Paths, TempPathExists)
{
    EXPECT_FALSE(HostExists("C:\\TEMP"));
    char sz[MAX_PATH];
    EXPECT_EQ(GetTempPathA(MAX_PATH, sz), 8u);
    EXPECT_EQ(GetFileAttributesA(sz), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace
