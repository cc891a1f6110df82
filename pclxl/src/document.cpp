#include "pclxl/document.h"

namespace pclxl
{

const Attribute *Page::attribute(uint16_t id) const
{
    for (const Attribute &a : attributes)
    {
        if (a.id == id)
        {
            return &a;
        }
    }
    for (const Attribute &a : end_attributes)
    {
        if (a.id == id)
        {
            return &a;
        }
    }
    return nullptr;
}

namespace
{

std::optional<uint32_t> scalar(const Attribute *a)
{
    if (!a || a->value.shape != Shape::Scalar || a->value.isReal() || a->value.number() < 0)
    {
        return std::nullopt;
    }
    return static_cast<uint32_t>(a->value.number());
}

std::string enumText(const Attribute *a)
{
    if (!a)
    {
        return "";
    }
    if (a->value.shape == Shape::Array)
    {
        return a->value.text();
    }
    if (std::optional<uint32_t> v = scalar(a))
    {
        if (const char *name = enumValueName(a->id, *v))
        {
            return name;
        }
        return std::to_string(*v);
    }
    return "";
}

} // namespace

std::optional<uint8_t> Page::orientation() const
{
    std::optional<uint32_t> v = scalar(attribute(attr::Orientation));
    if (!v || *v > 0xFF)
    {
        return std::nullopt;
    }
    return static_cast<uint8_t>(*v);
}

bool Page::isLandscape() const
{
    std::optional<uint8_t> o = orientation();
    return o && (*o == val::eLandscapeOrientation || *o == val::eReverseLandscape);
}

std::string Page::orientationName() const
{
    return enumText(attribute(attr::Orientation));
}

std::string Page::mediaSizeName() const
{
    return enumText(attribute(attr::MediaSize));
}

std::string Page::mediaSourceName() const
{
    return enumText(attribute(attr::MediaSource));
}

std::optional<uint32_t> Page::copies() const
{
    for (const Attribute &a : end_attributes)
    {
        if (a.id == attr::PageCopies)
        {
            return scalar(&a);
        }
    }
    return std::nullopt;
}

std::vector<Page> findPages(const std::vector<Command> &commands)
{
    std::vector<Page> pages;
    size_t open = static_cast<size_t>(-1);
    for (size_t i = 0; i < commands.size(); ++i)
    {
        const Command &c = commands[i];
        if (c.op == op::BeginPage)
        {
            open = i;
        }
        else if (c.op == op::EndPage && open != static_cast<size_t>(-1))
        {
            const Command &b = commands[open];
            Page p;
            p.number = pages.size() + 1;
            p.range = Range{b.begin, c.end};
            p.body = Range{b.end, c.begin};
            p.begin_command = open;
            p.end_command = i;
            p.attributes = b.attributes;
            p.end_attributes = c.attributes;
            pages.push_back(std::move(p));
            open = static_cast<size_t>(-1);
        }
    }
    return pages;
}

Document readDocument(Bytes data, const ReadOptions &read, const CheckOptions &check)
{
    Document doc;
    TokenList tl = tokenize(data, read);
    CheckOptions co = check;
    if (tl.error)
    {
        // The tokens stop at the fault; only what precedes it can be checked.
        co.require_complete = false;
    }
    Structure st = checkStructure(tl, data, co);
    doc.header = tl.header;
    doc.endian = tl.endian;
    doc.error = tl.error;
    if (st.error && (!doc.error || st.error->offset <= doc.error->offset))
    {
        doc.error = st.error;
    }
    doc.tokens = std::move(tl.tokens);
    doc.commands = std::move(st.commands);
    doc.streams = std::move(st.streams);
    doc.pages = findPages(doc.commands);
    const size_t begin = read.base_offset;
    const size_t end = read.base_offset + data.size;
    if (doc.pages.empty())
    {
        doc.job_header = Range{begin, end};
        doc.job_trailer = Range{end, end};
    }
    else
    {
        doc.job_header = Range{begin, doc.pages.front().range.begin};
        doc.job_trailer = Range{doc.pages.back().range.end, end};
    }
    return doc;
}

} // namespace pclxl
