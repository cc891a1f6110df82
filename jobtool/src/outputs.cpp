#include "outputs.h"

#include "fileio.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace jobtool
{

namespace
{

namespace fs = std::filesystem;

// The magic that opens every job file (see spoolsim/jobfile.h).
const char kJobMagic[] = "KDJOB\r\n\x1A";

bool StartsAsJobFile(const std::string &path)
{
    std::ifstream f(FsPath(path), std::ios::binary);
    char head[sizeof(kJobMagic) - 1] = {};
    f.read(head, sizeof(head));
    return f.gcount() == static_cast<std::streamsize>(sizeof(head)) && std::memcmp(head, kJobMagic, sizeof(head)) == 0;
}

} // namespace

std::string JobOutputRefusal(const std::string &input, const std::string &output)
{
    if (SameFile(input, output))
    {
        return "the output " + output + " is the input document itself; choose another -o";
    }
    std::error_code ec;
    const fs::file_status st = fs::status(FsPath(output), ec);
    if (ec || st.type() != fs::file_type::regular)
    {
        return std::string(); // nothing there, or a folder or device that the write reports
    }
    if (fs::file_size(FsPath(output), ec) > 0 && !ec && !StartsAsJobFile(output))
    {
        return output + " exists and is not a job file; make does not overwrite it (remove it or choose another -o)";
    }
    return std::string();
}

bool RemoveEarlierDocuments(const std::string &folder, const std::string &stem, const std::string &keep,
                            std::vector<std::string> &removed, std::string &error)
{
    std::error_code ec;
    fs::directory_iterator it(FsPath(folder), ec), end;
    if (ec)
    {
        // A folder that does not exist holds nothing; run makes it.
        return true;
    }
    std::vector<fs::path> earlier;
    for (; it != end; it.increment(ec))
    {
        const std::string name = Utf8Path(it->path().filename());
        // stem-N.pxl, N a number of digits only.
        if (name.size() <= stem.size() + 5 || name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '-' ||
            name.compare(name.size() - 4, 4, ".pxl") != 0)
        {
            continue;
        }
        const std::string number = name.substr(stem.size() + 1, name.size() - stem.size() - 5);
        bool digits = !number.empty();
        for (char c : number)
        {
            digits = digits && std::isdigit(static_cast<unsigned char>(c)) != 0;
        }
        std::error_code typeEc;
        if (digits && it->is_regular_file(typeEc) && !SameFile(Utf8Path(it->path()), keep))
        {
            earlier.push_back(it->path());
        }
    }
    if (ec)
    {
        error = "cannot read the folder " + folder + ": " + ec.message();
        return false;
    }
    std::sort(earlier.begin(), earlier.end());
    for (const fs::path &p : earlier)
    {
        if (!fs::remove(p, ec) && ec)
        {
            error = "cannot remove the earlier document " + Utf8Path(p) + ": " + ec.message();
            return false;
        }
        removed.push_back(p.filename().string());
    }
    return true;
}

} // namespace jobtool
