// Encoder for PCL XL: values, arrays, attribute ids, operators, embedded data
// and the stream header, plus shorthands for the operators that page bodies,
// watermarks and overlays use.
#pragma once

#include "pclxl/protocol.h"
#include "pclxl/reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pclxl
{

class Writer
{
  public:
    explicit Writer(Endian endian = Endian::Little) : endian_(endian)
    {
    }

    Endian endian() const
    {
        return endian_;
    }
    const std::vector<uint8_t> &bytes() const
    {
        return out_;
    }
    std::vector<uint8_t> take()
    {
        return std::move(out_);
    }
    size_t size() const
    {
        return out_.size();
    }

    // "<binding> HP-PCL XL;<class>;<revision>;<comment>\n"; the binding byte
    // follows the writer's byte order.
    Writer &streamHeader(std::string_view comment = "", std::string_view protocolClass = "2",
                         std::string_view revision = "0");
    // ESC %-12345X
    Writer &universalExit();
    Writer &raw(Bytes bytes);
    Writer &whitespace(uint8_t byte = ' ');

    // Scalars.
    Writer &ubyte(uint8_t v);
    Writer &uint16(uint16_t v);
    Writer &uint32(uint32_t v);
    Writer &sint16(int16_t v);
    Writer &sint32(int32_t v);
    Writer &real32(float v);
    // Pairs and boxes of any element type (values are converted to it).
    Writer &xy(ElementType type, double x, double y);
    Writer &box(ElementType type, double x1, double y1, double x2, double y2);
    // Arrays; the length is written as a uint16.
    Writer &ubyteArray(Bytes elements);
    Writer &ubyteArray(std::string_view text);
    Writer &uint16Array(const std::vector<uint16_t> &elements);
    Writer &sint16Array(const std::vector<int16_t> &elements);
    Writer &array(ElementType type, const std::vector<double> &elements);
    // Any decoded value, re-encoded in this writer's byte order.
    Writer &value(const Value &v);

    // 0xF8 id, or 0xF9 and two bytes for ids above 255.
    Writer &attr(uint16_t id);
    Writer &op(uint8_t tag);
    // 0xFB and a ubyte length when the data are shorter than 256 bytes (and
    // long_form is false), else 0xFA and a uint32 length; then the data.
    Writer &data(Bytes payload, bool long_form = false);

    // Session and page frame, enough for small whole documents.
    Writer &beginSession(uint16_t unitsPerInch = 600);
    Writer &endSession();
    Writer &openDataSource();
    Writer &closeDataSource();
    Writer &beginPage(uint8_t orientation = val::ePortraitOrientation, uint8_t mediaSize = val::eA4Paper,
                      int mediaSource = -1);
    // With copies > 0 EndPage carries PageCopies.
    Writer &endPage(uint16_t copies = 0);

    // Page body shorthands.
    Writer &setColorSpaceGray();
    Writer &setFont(std::string_view name, float size, uint16_t symbolSet = 629);
    Writer &setCharAngle(float degrees);
    Writer &setCursor(int16_t x, int16_t y);
    Writer &setBrushGray(uint8_t level);
    Writer &setPenGray(uint8_t level);
    Writer &text(std::string_view text);
    Writer &pushGS();
    Writer &popGS();
    Writer &setClipToPage();
    Writer &setROP(uint8_t rop3);
    Writer &setPageDefaultCTM();
    Writer &newPath();
    Writer &rectangle(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2);

    // Stream definitions and their use.
    Writer &beginStream(std::string_view name);
    // StreamDataLength, ReadStream and embedded data made of a stream header
    // (in this writer's byte order) followed by `body`.
    Writer &readStream(Bytes body, std::string_view comment = "");
    Writer &endStream();
    Writer &execStream(std::string_view name);

  private:
    void put(uint32_t v, size_t size);

    Endian endian_;
    std::vector<uint8_t> out_;
};

// The embedded data of a ReadStream: "<binding> HP-PCL XL;2;0;<comment>\n" and body.
std::vector<uint8_t> makeStreamData(Bytes body, std::string_view comment = "", Endian endian = Endian::Little);

} // namespace pclxl
