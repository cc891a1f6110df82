#include "pclxl/writer.h"

#include <cmath>
#include <cstring>

namespace pclxl
{

void Writer::put(uint32_t v, size_t size)
{
    for (size_t i = 0; i < size; ++i)
    {
        const size_t shift = endian_ == Endian::Little ? i : size - 1 - i;
        out_.push_back(static_cast<uint8_t>(v >> (8 * shift)));
    }
}

Writer &Writer::streamHeader(std::string_view comment, std::string_view protocolClass, std::string_view revision)
{
    out_.push_back(endian_ == Endian::Little ? tag::BindingLittleEndian : tag::BindingBigEndian);
    std::string line = " HP-PCL XL;";
    line.append(protocolClass);
    line += ';';
    line.append(revision);
    line += ';';
    line.append(comment);
    line += '\n';
    out_.insert(out_.end(), line.begin(), line.end());
    return *this;
}

Writer &Writer::universalExit()
{
    out_.insert(out_.end(), kUniversalExit, kUniversalExit + kUniversalExitLength);
    return *this;
}

Writer &Writer::raw(Bytes bytes)
{
    out_.insert(out_.end(), bytes.data, bytes.data + bytes.size);
    return *this;
}

Writer &Writer::whitespace(uint8_t byte)
{
    out_.push_back(byte);
    return *this;
}

namespace
{

uint32_t floatBits(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The bits of one element of the given type.
uint32_t elementBits(ElementType type, double v)
{
    switch (type)
    {
    case ElementType::UByte:
    case ElementType::UInt16:
    case ElementType::UInt32:
        return static_cast<uint32_t>(static_cast<int64_t>(std::llround(v)));
    case ElementType::SInt16:
    case ElementType::SInt32:
        return static_cast<uint32_t>(static_cast<int32_t>(std::llround(v)));
    case ElementType::Real32:
        return floatBits(static_cast<float>(v));
    }
    return 0;
}

} // namespace

Writer &Writer::ubyte(uint8_t v)
{
    out_.push_back(dt::UByte);
    out_.push_back(v);
    return *this;
}

Writer &Writer::uint16(uint16_t v)
{
    out_.push_back(dt::UInt16);
    put(v, 2);
    return *this;
}

Writer &Writer::uint32(uint32_t v)
{
    out_.push_back(dt::UInt32);
    put(v, 4);
    return *this;
}

Writer &Writer::sint16(int16_t v)
{
    out_.push_back(dt::SInt16);
    put(static_cast<uint16_t>(v), 2);
    return *this;
}

Writer &Writer::sint32(int32_t v)
{
    out_.push_back(dt::SInt32);
    put(static_cast<uint32_t>(v), 4);
    return *this;
}

Writer &Writer::real32(float v)
{
    out_.push_back(dt::Real32);
    put(floatBits(v), 4);
    return *this;
}

Writer &Writer::xy(ElementType type, double x, double y)
{
    const size_t size = elementSize(type);
    out_.push_back(dataTypeTag(type, Shape::XY));
    put(elementBits(type, x), size);
    put(elementBits(type, y), size);
    return *this;
}

Writer &Writer::box(ElementType type, double x1, double y1, double x2, double y2)
{
    const size_t size = elementSize(type);
    out_.push_back(dataTypeTag(type, Shape::Box));
    for (double v : {x1, y1, x2, y2})
    {
        put(elementBits(type, v), size);
    }
    return *this;
}

Writer &Writer::array(ElementType type, const std::vector<double> &elements)
{
    const size_t size = elementSize(type);
    out_.push_back(dataTypeTag(type, Shape::Array));
    uint16(static_cast<uint16_t>(elements.size()));
    for (double v : elements)
    {
        put(elementBits(type, v), size);
    }
    return *this;
}

Writer &Writer::ubyteArray(Bytes elements)
{
    out_.push_back(dt::UByteArray);
    uint16(static_cast<uint16_t>(elements.size));
    out_.insert(out_.end(), elements.data, elements.data + elements.size);
    return *this;
}

Writer &Writer::ubyteArray(std::string_view text)
{
    return ubyteArray(Bytes(text));
}

Writer &Writer::uint16Array(const std::vector<uint16_t> &elements)
{
    out_.push_back(dt::UInt16Array);
    uint16(static_cast<uint16_t>(elements.size()));
    for (uint16_t v : elements)
    {
        put(v, 2);
    }
    return *this;
}

Writer &Writer::sint16Array(const std::vector<int16_t> &elements)
{
    out_.push_back(dt::SInt16Array);
    uint16(static_cast<uint16_t>(elements.size()));
    for (int16_t v : elements)
    {
        put(static_cast<uint16_t>(v), 2);
    }
    return *this;
}

Writer &Writer::value(const Value &v)
{
    const size_t size = elementSize(v.element);
    out_.push_back(dataTypeTag(v.element, v.shape));
    if (v.shape == Shape::Array)
    {
        uint16(static_cast<uint16_t>(v.numbers.size()));
    }
    for (double n : v.numbers)
    {
        put(elementBits(v.element, n), size);
    }
    return *this;
}

Writer &Writer::attr(uint16_t id)
{
    if (id <= 0xFF)
    {
        out_.push_back(tag::AttrUByte);
        out_.push_back(static_cast<uint8_t>(id));
    }
    else
    {
        out_.push_back(tag::AttrUInt16);
        put(id, 2);
    }
    return *this;
}

Writer &Writer::op(uint8_t t)
{
    out_.push_back(t);
    return *this;
}

Writer &Writer::data(Bytes payload, bool long_form)
{
    if (payload.size < 256 && !long_form)
    {
        out_.push_back(tag::DataLengthByte);
        out_.push_back(static_cast<uint8_t>(payload.size));
    }
    else
    {
        out_.push_back(tag::DataLength);
        put(static_cast<uint32_t>(payload.size), 4);
    }
    return raw(payload);
}

Writer &Writer::beginSession(uint16_t unitsPerInch)
{
    xy(ElementType::UInt16, unitsPerInch, unitsPerInch).attr(attr::UnitsPerMeasure);
    ubyte(val::eInch).attr(attr::Measure);
    ubyte(val::eNoReporting).attr(attr::ErrorReport);
    return op(op::BeginSession);
}

Writer &Writer::endSession()
{
    return op(op::EndSession);
}

Writer &Writer::openDataSource()
{
    ubyte(val::eDefaultDataSource).attr(attr::SourceType);
    ubyte(endian_ == Endian::Little ? val::eBinaryLowByteFirst : val::eBinaryHighByteFirst).attr(attr::DataOrg);
    return op(op::OpenDataSource);
}

Writer &Writer::closeDataSource()
{
    return op(op::CloseDataSource);
}

Writer &Writer::beginPage(uint8_t orientation, uint8_t mediaSize, int mediaSource)
{
    ubyte(orientation).attr(attr::Orientation);
    ubyte(mediaSize).attr(attr::MediaSize);
    if (mediaSource >= 0)
    {
        ubyte(static_cast<uint8_t>(mediaSource)).attr(attr::MediaSource);
    }
    return op(op::BeginPage);
}

Writer &Writer::endPage(uint16_t copies)
{
    if (copies > 0)
    {
        uint16(copies).attr(attr::PageCopies);
    }
    return op(op::EndPage);
}

Writer &Writer::setColorSpaceGray()
{
    ubyte(val::eGray).attr(attr::ColorSpace);
    return op(op::SetColorSpace);
}

Writer &Writer::setFont(std::string_view name, float size, uint16_t symbolSet)
{
    ubyteArray(name).attr(attr::FontName);
    real32(size).attr(attr::CharSize);
    uint16(symbolSet).attr(attr::SymbolSet);
    return op(op::SetFont);
}

Writer &Writer::setCharAngle(float degrees)
{
    real32(degrees).attr(attr::CharAngle);
    return op(op::SetCharAngle);
}

Writer &Writer::setCursor(int16_t x, int16_t y)
{
    xy(ElementType::SInt16, x, y).attr(attr::Point);
    return op(op::SetCursor);
}

Writer &Writer::setBrushGray(uint8_t level)
{
    ubyte(level).attr(attr::GrayLevel);
    return op(op::SetBrushSource);
}

Writer &Writer::setPenGray(uint8_t level)
{
    ubyte(level).attr(attr::GrayLevel);
    return op(op::SetPenSource);
}

Writer &Writer::text(std::string_view s)
{
    ubyteArray(s).attr(attr::TextData);
    return op(op::Text);
}

Writer &Writer::pushGS()
{
    return op(op::PushGS);
}

Writer &Writer::popGS()
{
    return op(op::PopGS);
}

Writer &Writer::setClipToPage()
{
    return op(op::SetClipToPage);
}

Writer &Writer::setROP(uint8_t rop3)
{
    ubyte(rop3).attr(attr::ROP3);
    return op(op::SetROP);
}

Writer &Writer::setPageDefaultCTM()
{
    return op(op::SetPageDefaultCTM);
}

Writer &Writer::newPath()
{
    return op(op::NewPath);
}

Writer &Writer::rectangle(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2)
{
    box(ElementType::UInt16, x1, y1, x2, y2).attr(attr::BoundingBox);
    return op(op::Rectangle);
}

Writer &Writer::beginStream(std::string_view name)
{
    ubyteArray(name).attr(attr::StreamName);
    return op(op::BeginStream);
}

Writer &Writer::readStream(Bytes body, std::string_view comment)
{
    const std::vector<uint8_t> content = makeStreamData(body, comment, endian_);
    uint32(static_cast<uint32_t>(content.size())).attr(attr::StreamDataLength);
    op(op::ReadStream);
    return data(Bytes(content), true);
}

Writer &Writer::endStream()
{
    return op(op::EndStream);
}

Writer &Writer::execStream(std::string_view name)
{
    ubyteArray(name).attr(attr::StreamName);
    return op(op::ExecStream);
}

std::vector<uint8_t> makeStreamData(Bytes body, std::string_view comment, Endian endian)
{
    Writer w(endian);
    w.streamHeader(comment).raw(body);
    return w.take();
}

} // namespace pclxl
