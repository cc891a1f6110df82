#include "fileio.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace jobtool
{

std::optional<Bytes> ReadFile(const std::string &path, std::string &error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
    {
        error = "cannot open " + path;
        return std::nullopt;
    }
    // In one read when the size is known: a job file is as large as its document.
    Bytes data;
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    f.seekg(0, std::ios::beg);
    if (size > 0 && f)
    {
        data.resize(static_cast<size_t>(size));
        f.read(reinterpret_cast<char *>(data.data()), size);
        if (f.gcount() != size)
        {
            error = "cannot read " + path;
            return std::nullopt;
        }
        return data;
    }
    f.clear();
    data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (f.bad())
    {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return data;
}

bool WriteFile(const std::string &path, const Bytes &data, std::string &error)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    f.close();
    if (!f)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::string Stem(const std::string &path)
{
    return std::filesystem::path(path).stem().string();
}

} // namespace jobtool
