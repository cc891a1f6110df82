#include "support.h"

#include "fileio.h"

#include <pclxl/samples.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace jobtool_test
{

void WriteBytes(const std::string &path, const Bytes &bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Sample(const std::string &name)
{
    pclxl::Bytes b = pclxl::samples::get(name);
    return Bytes(b.data, b.data + b.size);
}

std::vector<std::vector<std::string>> Outcome::Sequences() const
{
    std::vector<std::vector<std::string>> seqs;
    for (const jobtool::PageMap &m : maps)
    {
        seqs.push_back(m.Sequence());
    }
    return seqs;
}

bool Outcome::AllWellFormed() const
{
    return !maps.empty() &&
           std::all_of(maps.begin(), maps.end(), [](const jobtool::PageMap &m) { return m.wellFormed; });
}

bool Outcome::AllPrintable() const
{
    return !maps.empty() &&
           std::all_of(maps.begin(), maps.end(), [](const jobtool::PageMap &m) { return m.printable; });
}

std::string Outcome::Report() const
{
    std::string r = made.error;
    for (const std::string &p : replay.problems)
    {
        r += "problem: " + p + "\n";
    }
    for (size_t i = 0; i < maps.size(); i++)
    {
        r += jobtool::FormatPageMap(maps[i], "document " + std::to_string(i + 1));
    }
    return r;
}

Outcome MakeAndRun(const std::string &sample, const jobtool::JobOptions &options, const std::vector<int> &answers)
{
    return MakeAndRun(Sample(sample), options, answers);
}

Outcome MakeAndRun(const Bytes &document, const jobtool::JobOptions &options, const std::vector<int> &answers)
{
    Outcome o;
    o.made = jobtool::MakeJob(document, options);
    if (!o.made.job)
    {
        return o;
    }
    size_t next = 0;
    o.replay = jobtool::RunJob(*o.made.job, [&](const spoolsim::MessageBoxRecord &box) {
        o.boxes.push_back(box);
        if ((box.style & MB_TYPEMASK) != MB_OKCANCEL || answers.empty())
        {
            return IDOK;
        }
        return answers[std::min(next++, answers.size() - 1)];
    });
    std::string error;
    o.reference = jobtool::ReferenceFromJob(*o.made.job, &error);
    EXPECT_EQ(error, "");
    for (const spoolsim::Document *doc : o.replay.run.PrinterDocuments())
    {
        if (doc->ended && !doc->data.empty())
        {
            o.maps.push_back(jobtool::Explain(doc->data, o.reference));
        }
    }
    return o;
}

std::vector<Bytes> Writes(const spoolsim::Job &job)
{
    std::vector<Bytes> writes;
    for (const spoolsim::Step &s : job.steps)
    {
        if (s.kind == spoolsim::StepKind::Write)
        {
            writes.push_back(s.data);
        }
    }
    return writes;
}

bool IsMarker(const Bytes &b, uint8_t code)
{
    return b.size() >= 4 && b[0] == 0x1B && b[1] == 0xF0 && b[2] == 0x10 && b[3] == code;
}

TempDir::TempDir()
{
    std::random_device rd;
    std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("jobtool-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(p);
    m_dir = jobtool::Utf8Path(p);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(jobtool::FsPath(m_dir), ec);
}

std::string TempDir::Path(const std::string &name) const
{
    return jobtool::Utf8Path(jobtool::FsPath(m_dir) / jobtool::FsPath(name));
}

} // namespace jobtool_test
