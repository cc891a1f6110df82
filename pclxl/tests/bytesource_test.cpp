// Files written through a sink that gathers its writes.
#include <gtest/gtest.h>

#include <pclxl/bytesource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

std::vector<uint8_t> FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Pieces smaller than, as large as and larger than what is gathered, in
// every order: the file holds them in order, what is flushed is in the file
// at once, and what is still gathered when the sink goes is written.
TEST(FileSink, GatheredWritesReachTheFileInOrder)
{
    const size_t kGather = 64;
    const std::string path = ::testing::TempDir() + "filesink-gathered.bin";
    const size_t sizes[] = {1, 63, 1, 64, 65, 0, 30, 30, 4, 200, 3, 62, 2};
    std::vector<uint8_t> want;
    {
        pclxl::FileSink sink(path, kGather);
        ASSERT_TRUE(sink.ok()) << sink.error();
        uint8_t next = 0;
        for (size_t n : sizes)
        {
            std::vector<uint8_t> piece(n);
            for (uint8_t &b : piece)
            {
                b = next++;
            }
            ASSERT_TRUE(sink.write(piece.data(), piece.size())) << n;
            want.insert(want.end(), piece.begin(), piece.end());
            if (n == 30)
            {
                ASSERT_TRUE(sink.flush());
                EXPECT_EQ(FileBytes(path), want) << "flushed after a piece of " << n;
            }
        }
        EXPECT_LT(FileBytes(path).size(), want.size()) << "the last pieces are still gathered";
    }
    EXPECT_EQ(FileBytes(path), want);
    std::filesystem::remove(path);
}

TEST(FileSink, AFileThatCannotBeWrittenSaysWhy)
{
    const std::string dir = ::testing::TempDir();
    pclxl::FileSink sink(dir, 64);
    EXPECT_FALSE(sink.ok());
    EXPECT_NE(sink.error().find("cannot write"), std::string::npos) << sink.error();
    const uint8_t b[1] = {1};
    EXPECT_FALSE(sink.write(b, 1));
    EXPECT_FALSE(sink.close());
}

} // namespace
