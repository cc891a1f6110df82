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
    Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
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
