// Files used from several threads at once, as a spooler's pool of threads
// calls the hooks: handles opened, used and closed on different threads, a
// handle closed while other threads use it or a stale copy of it, and
// writes from several threads through one handle.
#include "support.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{

class Concurrency : public LayerTest
{
  protected:
    // Runs body(i) on cThreads threads that start together; the problems
    // each reports, joined.
    template <typename F>
    std::string RunThreads(int cThreads, F body)
    {
        std::atomic<int> cReady{0};
        std::vector<std::string> problems(static_cast<size_t>(cThreads));
        std::vector<std::thread> threads;
        for (int i = 0; i < cThreads; i++)
        {
            threads.emplace_back([&, i] {
                cReady++;
                while (cReady.load() < cThreads)
                {
                    std::this_thread::yield();
                }
                problems[static_cast<size_t>(i)] = body(i);
            });
        }
        std::string all;
        for (size_t i = 0; i < threads.size(); i++)
        {
            threads[i].join();
            all += problems[i];
        }
        return all;
    }
};

std::string Fail(const std::string &what, DWORD dwError)
{
    return what + " (error " + std::to_string(dwError) + "); ";
}

} // namespace

// Each thread opens, writes, reads back and closes files of its own, over
// and over, so that slots are freed and reused by the other threads all the
// time: every thread reads exactly what it wrote, and a handle it closed is
// refused afterwards, even when another thread's file has its slot now.
TEST_F(Concurrency, HandlesOpenedAndClosedOnManyThreads)
{
    const int cThreads = 4, cRounds = 150;
    std::string problems = RunThreads(cThreads, [&](int t) -> std::string {
        std::string out;
        for (int round = 0; round < cRounds && out.empty(); round++)
        {
            std::string name = "C:\\t" + std::to_string(t) + "_" + std::to_string(round % 3) + ".bin";
            HANDLE h = Open(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
            if (h == INVALID_HANDLE_VALUE)
            {
                return Fail("open " + name, GetLastError());
            }
            std::string data(3000 + static_cast<size_t>(round), static_cast<char>('a' + t));
            data[0] = static_cast<char>(round);
            DWORD cb = 0;
            if (!WriteFile(h, data.data(), 1000, &cb, nullptr) || cb != 1000 ||
                !WriteFile(h, data.data() + 1000, static_cast<DWORD>(data.size() - 1000), &cb, nullptr) ||
                cb != data.size() - 1000)
            {
                out += Fail("write " + name, GetLastError());
            }
            std::string back(data.size() + 10, '\0');
            if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) != 0 ||
                !ReadFile(h, &back[0], static_cast<DWORD>(back.size()), &cb, nullptr) || cb != data.size())
            {
                out += Fail("read " + name, GetLastError());
            }
            else if (back.substr(0, cb) != data)
            {
                out += "read other bytes than written in " + name + "; ";
            }
            if (SetFilePointer(h, 0, nullptr, FILE_END) != data.size())
            {
                out += Fail("seek to the end of " + name, GetLastError());
            }
            if (!CloseHandle(h))
            {
                out += Fail("close " + name, GetLastError());
            }
            auto [ok, err] = Probe([&] { return ReadFile(h, &back[0], 1, &cb, nullptr); });
            if (ok || err != ERROR_INVALID_HANDLE)
            {
                out += "a closed handle was still taken; ";
            }
        }
        return out;
    });
    EXPECT_EQ(problems, "");
}

// One thread opens files and closes them soon after; another reads through
// the handles it sees, which may be closed, or closed and their slots given
// to new files, by the time it reads. A read either gets the bytes of the
// very file the handle was opened for, or is refused as an invalid handle.
TEST_F(Concurrency, HandlesClosedWhileAnotherThreadUsesThem)
{
    const int cFiles = 400;
    std::mutex m;
    HANDLE hShared = INVALID_HANDLE_VALUE; // the churning thread's latest handle
    char chShared = 0;                     // and the byte its file holds
    std::atomic<bool> bDone{false};
    std::atomic<int> cReadsSeen{0};

    std::string problems = RunThreads(3, [&](int t) -> std::string {
        std::string out;
        if (t == 0)
        {
            // The churn: make a file, publish its handle, use it, close it.
            for (int i = 0; i < cFiles && out.empty(); i++)
            {
                char ch = static_cast<char>('A' + i % 26);
                std::string name = "C:\\churn" + std::to_string(i % 5) + ".bin";
                HANDLE h = Open(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
                DWORD cb = 0;
                if (h == INVALID_HANDLE_VALUE || !WriteFile(h, &ch, 1, &cb, nullptr) ||
                    SetFilePointer(h, 0, nullptr, FILE_BEGIN) != 0)
                {
                    out += Fail("churn " + name, GetLastError());
                    break;
                }
                {
                    std::lock_guard<std::mutex> lock(m);
                    hShared = h;
                    chShared = ch;
                }
                for (int k = 0; k < 20; k++)
                {
                    char c = 0;
                    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
                    // A reader may have moved the shared file pointer on.
                    if (!ReadFile(h, &c, 1, &cb, nullptr) || (cb == 1 && c != ch))
                    {
                        out += "the churning thread misread its own file; ";
                    }
                }
                CloseHandle(h);
            }
            bDone = true;
            return out;
        }
        // The readers: whatever handle was last published.
        while (!bDone.load() && out.empty())
        {
            HANDLE h;
            char chExpected;
            {
                std::lock_guard<std::mutex> lock(m);
                h = hShared;
                chExpected = chShared;
            }
            if (h == INVALID_HANDLE_VALUE)
            {
                std::this_thread::yield();
                continue;
            }
            char c = 0;
            DWORD cb = 0;
            auto [ok, err] = Probe([&] { return ReadFile(h, &c, 1, &cb, nullptr); });
            if (ok && cb == 1 && c != chExpected)
            {
                out += std::string("read '") + c + "' through a handle of a file that holds '" + chExpected + "'; ";
            }
            else if (!ok && err != ERROR_INVALID_HANDLE)
            {
                out += Fail("read through a shared handle", err);
            }
            if (ok)
            {
                cReadsSeen++;
            }
        }
        return out;
    });
    EXPECT_EQ(problems, "");
    EXPECT_GT(cReadsSeen.load(), 0) << "no read overlapped a live handle: the test proved nothing";
}

// Writes through one handle from several threads go one after the other,
// each at the file pointer as the one before left it: every record lands
// whole, none is lost or overwritten, and each thread's records keep their
// order, as on a synchronous Windows handle.
TEST_F(Concurrency, WritesThroughOneHandleFromManyThreads)
{
    const int cThreads = 4, cRecords = 400;
    const size_t cbRecord = 64;
    HANDLE h = Open("C:\\log.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string problems = RunThreads(cThreads, [&](int t) -> std::string {
        for (int i = 0; i < cRecords; i++)
        {
            std::string record(cbRecord, static_cast<char>('a' + t));
            record.replace(0, 8, std::to_string(10000000 + i));
            DWORD cb = 0;
            if (!WriteFile(h, record.data(), static_cast<DWORD>(cbRecord), &cb, nullptr) || cb != cbRecord)
            {
                return Fail("write", GetLastError());
            }
        }
        return std::string();
    });
    EXPECT_EQ(problems, "");
    EXPECT_EQ(GetFileSize(h, nullptr), cThreads * cRecords * cbRecord);
    ASSERT_TRUE(CloseHandle(h));

    std::string all = Get("C:\\log.bin");
    ASSERT_EQ(all.size(), cThreads * cRecords * cbRecord);
    std::vector<int> next(cThreads, 0);
    for (size_t ib = 0; ib < all.size(); ib += cbRecord)
    {
        std::string record = all.substr(ib, cbRecord);
        int t = record.back() - 'a';
        ASSERT_TRUE(t >= 0 && t < cThreads) << "record at " << ib;
        EXPECT_EQ(record.find_first_not_of(record.back(), 8), std::string::npos) << "record at " << ib << " is mixed";
        EXPECT_EQ(record.substr(0, 8), std::to_string(10000000 + next[static_cast<size_t>(t)])) << "record at " << ib;
        next[static_cast<size_t>(t)]++;
    }
    EXPECT_EQ(next, std::vector<int>(cThreads, cRecords));
}

// A handle's slot goes to the next file opened; the old value is refused
// for every use, and the new one works.
TEST_F(Concurrency, StaleHandleOfAReusedSlot)
{
    HANDLE hOld = Open("C:\\a.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(hOld, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(hOld));
    HANDLE hNew = Open("C:\\b.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(hNew, INVALID_HANDLE_VALUE);
    EXPECT_NE(hNew, hOld);
    DWORD cb = 0;
    EXPECT_EQ(Probe([&] { return WriteFile(hOld, "x", 1, &cb, nullptr); }),
              std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
    EXPECT_EQ(Probe([&] { return SetFilePointer(hOld, 0, nullptr, FILE_BEGIN); }),
              std::make_pair(INVALID_SET_FILE_POINTER, (DWORD)ERROR_INVALID_HANDLE));
    EXPECT_EQ(Probe([&] { return CloseHandle(hOld); }), std::make_pair(FALSE, (DWORD)ERROR_INVALID_HANDLE));
    EXPECT_EQ(Probe([&] { return WriteFile(hNew, "y", 1, &cb, nullptr); }), std::make_pair(TRUE, PROBE));
    EXPECT_TRUE(CloseHandle(hNew));
    EXPECT_EQ(Get("C:\\a.txt"), "");
    EXPECT_EQ(Get("C:\\b.txt"), "y");
}
