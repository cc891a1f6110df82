// Printed documents of some megabytes go to their files whole, and nothing
// keeps a file open once its document has ended: a file still open could be
// neither renamed nor removed on Windows.
#include "printedfiles.h"
#include "support.h"

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace jobtool_test;

namespace
{

Bytes Numbered(size_t size)
{
    Bytes b(size);
    for (size_t i = 0; i < size; i++)
    {
        b[i] = static_cast<BYTE>(i * 131 + i / 4093);
    }
    return b;
}

Bytes FileBytes(const std::string &path)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteInPieces(jobtool::PrintedFiles &files, size_t document, const Bytes &bytes)
{
    for (size_t at = 0; at < bytes.size();)
    {
        const size_t n = std::min<size_t>(bytes.size() - at, 4093 + at % 70000);
        ASSERT_TRUE(files.Write(document, bytes.data() + at, static_cast<DWORD>(n))) << files.error();
        at += n;
    }
}

TEST(PrintedFiles, DocumentsOfMegabytesAreWrittenWholeAndLetGo)
{
    TempDir dir;
    const std::string folder = dir.Path("out");
    std::filesystem::create_directories(std::filesystem::u8path(folder));
    jobtool::PrintedFiles files(folder, "doc");
    // Around the stretches the files go to the disk in, and more. Each
    // round has documents of its own: the run's first, second and third.
    size_t document = 0;
    int number = 0;
    for (size_t size : {size_t(8) << 20, (size_t(8) << 20) + 1, size_t(20) << 20})
    {
        SCOPED_TRACE(size);
        const Bytes bytes = Numbered(size);
        WriteInPieces(files, document, bytes);
        jobtool::PrintedFiles::Printed p;
        ASSERT_TRUE(files.Complete(++number, true, p)) << files.error();
        EXPECT_EQ(p.size, size);
        ASSERT_FALSE(p.path.empty());
        EXPECT_TRUE(FileBytes(p.path) == bytes) << "the document as written";
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::remove(std::filesystem::u8path(p.path), ec)) << ec.message();

        // A document dropped by the spooler, and one that never ended.
        WriteInPieces(files, document + 1, bytes);
        ASSERT_TRUE(files.Complete(++number, false, p)) << files.error();
        EXPECT_TRUE(p.path.empty());
        WriteInPieces(files, document + 2, bytes);
        const std::string part = files.PartOf(document + 2);
        files.DiscardUnfinished();
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(part)));
        EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::u8path(folder))) << "files left behind";
        document += 3;
    }
}

} // namespace
