#include "pclxl/samples.h"

namespace pclxl
{
namespace samples
{
namespace detail
{
struct Entry
{
    const char *name;
    const unsigned char *data;
    std::size_t size;
};
extern const Entry kEntries[];
extern const std::size_t kEntryCount;
} // namespace detail

const std::vector<Sample> &all()
{
    static const std::vector<Sample> list = [] {
        std::vector<Sample> v;
        for (std::size_t i = 0; i < detail::kEntryCount; ++i)
        {
            v.push_back(Sample{detail::kEntries[i].name, Bytes(detail::kEntries[i].data, detail::kEntries[i].size)});
        }
        return v;
    }();
    return list;
}

Bytes get(const std::string &name)
{
    for (const Sample &s : all())
    {
        if (s.name == name)
        {
            return s.bytes;
        }
    }
    return Bytes();
}

} // namespace samples
} // namespace pclxl
