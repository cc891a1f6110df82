// Helpers shared by the library's sources.
#pragma once

#include "pclxl/protocol.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pclxl
{
namespace detail
{

uint32_t readUnsigned(const uint8_t *p, size_t size, Endian endian);
double readElement(const uint8_t *p, ElementType element, Endian endian);
std::string hexByte(uint8_t b);
std::string plural(size_t n, const char *one, const char *many);

} // namespace detail
} // namespace pclxl
