// FindFirstFileA/FindNextFileA and SearchPathA.
#include "support.h"

#include <fstream>
#include <vector>

namespace
{

class Search : public LayerTest
{
  protected:
    void SetUp() override
    {
        LayerTest::SetUp();
        MakeDir("C:\\d");
        MakeDir("C:\\d\\Sub");
        Put("C:\\d\\noext", "1");
        Put("C:\\d\\B.txt", "22");
        Put("C:\\d\\a.TXT", "333");
        Put("C:\\d\\c.txtx", "4444");
    }

    // Every name a search returns, in order; "!<error>" when it fails.
    std::vector<std::string> List(const char *pszPattern)
    {
        std::vector<std::string> v;
        WIN32_FIND_DATAA fd;
        SetLastError(PROBE);
        HANDLE h = FindFirstFileA(pszPattern, &fd);
        if (h == INVALID_HANDLE_VALUE)
        {
            v.push_back("!" + std::to_string(GetLastError()));
            return v;
        }
        do
        {
            v.push_back(fd.cFileName);
            SetLastError(PROBE);
        } while (FindNextFileA(h, &fd));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(h));
        return v;
    }
};

typedef std::vector<std::string> Names;

TEST_F(Search, Patterns)
{
    // "." and ".." first, then without regard to case, as NTFS lists.
    EXPECT_EQ(List("C:\\d\\*"), (Names{".", "..", "a.TXT", "B.txt", "c.txtx", "noext", "Sub"}));
    EXPECT_EQ(List("C:\\d\\*.*"), (Names{".", "..", "a.TXT", "B.txt", "c.txtx", "noext", "Sub"}));
    // Without short names, "*.txt" does not match "c.txtx" (Windows would
    // through the 8.3 name).
    EXPECT_EQ(List("C:\\d\\*.txt"), (Names{"a.TXT", "B.txt"}));
    EXPECT_EQ(List("C:\\d\\?.TXT"), (Names{"a.TXT", "B.txt"}));
    EXPECT_EQ(List("c:/D/NOEXT"), (Names{"noext"}));
    EXPECT_EQ(List("C:\\d"), (Names{"d"}));
    EXPECT_EQ(List("C:\\d\\*b*"), (Names{"B.txt", "Sub"}));
    // The drive's root has no "." and "..".
    EXPECT_EQ(List("C:\\*"), (Names{"d"}));
}

TEST_F(Search, Failures)
{
    EXPECT_EQ(List("C:\\d\\*.zzz"), (Names{"!2"}));    // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(List("C:\\d\\"), (Names{"!2"}));         // a directory, no pattern
    EXPECT_EQ(List("C:\\nodir\\*"), (Names{"!3"}));    // ERROR_PATH_NOT_FOUND
    EXPECT_EQ(List("C:\\d\\noext\\*"), (Names{"!3"})); // a file is no directory
    EXPECT_EQ(List("C:\\d\\a|b"), (Names{"!123"}));    // ERROR_INVALID_NAME
}

TEST_F(Search, FindData)
{
    WIN32_FIND_DATAA fd;
    memset(&fd, 0xCC, sizeof fd);
    HANDLE h = FindFirstFileA("C:\\d\\c.*", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fd.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(fd.nFileSizeLow, 4u);
    EXPECT_EQ(fd.nFileSizeHigh, 0u);
    EXPECT_STREQ(fd.cAlternateFileName, "");
    EXPECT_NE(fd.ftLastWriteTime.dwHighDateTime, 0u);
    EXPECT_EQ(Probe([&] { return FindNextFileA(h, &fd); }), std::make_pair(FALSE, (DWORD)ERROR_NO_MORE_FILES));
    // Still no more, and the handle stays valid until closed.
    EXPECT_EQ(Probe([&] { return FindNextFileA(h, &fd); }), std::make_pair(FALSE, (DWORD)ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    EXPECT_EQ(Probe([&] { return FindClose(h); }), std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
    h = FindFirstFileA("C:\\d\\Sub", &fd);
    EXPECT_EQ(fd.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    FindClose(h);
}

TEST_F(Search, NamesInTheAnsiCodePage)
{
    // Host names are UTF-8: one that 1252 has, and one it lacks.
    Put("C:\\d\\caf\xE9", "");
    std::ofstream(m_root + "/d/\xE3\x81\x82").put('x');
    EXPECT_TRUE(std::ifstream(m_root + "/d/caf\xC3\xA9").good());
    EXPECT_EQ(List("C:\\d\\caf*"), (Names{"caf\xE9"}));
    EXPECT_EQ(List("C:\\d\\?"), (Names{".", "?"})); // "." has one character too
}

TEST_F(Search, SearchPathFinds)
{
    char sz[MAX_PATH];
    LPSTR pPart = nullptr;
    auto [n, err] = Probe([&] { return SearchPathA("C:\\nothere;;c:\\D", "b", ".txt", MAX_PATH, sz, &pPart); });
    EXPECT_EQ(err, PROBE);
    EXPECT_EQ(n, 10u);
    EXPECT_STREQ(sz, "C:\\D\\b.txt"); // the path as composed, not as on disk
    EXPECT_EQ(pPart, sz + 5);
    // The extension is added only to a name without one.
    EXPECT_EQ(SearchPathA("C:\\d", "A.txt", ".dll", MAX_PATH, sz, &pPart), 10u);
    EXPECT_EQ(Probe([&] { return SearchPathA("C:\\d", "noext", "", MAX_PATH, sz, &pPart); }).first, 10u);
    // A name with a directory is found relative to each path element; a
    // full one where it says.
    EXPECT_EQ(SearchPathA("C:\\", "d\\b.txt", nullptr, MAX_PATH, sz, &pPart), 10u);
    EXPECT_STREQ(sz, "C:\\d\\b.txt");
    EXPECT_EQ(SearchPathA("C:\\nothere", "C:\\d\\b.txt", nullptr, MAX_PATH, sz, &pPart), 10u);
    EXPECT_EQ(SearchPathA("C:\\", "d", nullptr, MAX_PATH, sz, &pPart), 4u);
}

TEST_F(Search, SearchPathSizesAndFailures)
{
    const DWORD len = 10; // "C:\d\b.txt"
    for (DWORD size : {0u, len - 1, len, len + 1, len + 2})
    {
        char sz[32];
        memset(sz, '#', sizeof sz);
        LPSTR pPart = (LPSTR)1;
        auto [n, err] =
            Probe([&] { return SearchPathA("C:\\d", "b.txt", nullptr, size, size ? sz : nullptr, &pPart); });
        EXPECT_EQ(err, PROBE) << size;
        if (size > len)
        {
            EXPECT_EQ(n, len);
            EXPECT_STREQ(sz, "C:\\d\\b.txt");
            EXPECT_EQ(pPart, sz + 5);
        }
        else
        {
            EXPECT_EQ(n, len + 1) << size;
            EXPECT_EQ(sz[0], '#') << size;
        }
    }
    char sz[MAX_PATH];
    EXPECT_EQ(Probe([&] { return SearchPathA("C:\\d", "missing", ".txt", MAX_PATH, sz, nullptr); }),
              std::make_pair(0u, (DWORD)ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Probe([&] { return SearchPathA("C:\\d", "b", "txt", MAX_PATH, sz, nullptr); }),
              std::make_pair(0u, (DWORD)ERROR_FILE_NOT_FOUND)); // "btxt"
    // The system's search order is a documented gap.
    EXPECT_EQ(Probe([&] { return SearchPathA(nullptr, "b.txt", nullptr, MAX_PATH, sz, nullptr); }),
              std::make_pair(0u, (DWORD)ERROR_CALL_NOT_IMPLEMENTED));
}

} // namespace
