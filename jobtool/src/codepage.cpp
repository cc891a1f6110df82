#include "codepage.h"

#include "spoolsim.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace jobtool
{

namespace
{

// Windows-1252 0x80-0x9F; 0 where the code page defines no character.
const char32_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                            0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// -1 when Windows-1252 has no byte for the character.
int ToByte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
    {
        return static_cast<int>(c);
    }
    for (int i = 0; i < 32; i++)
    {
        if (kHigh[i] != 0 && kHigh[i] == c)
        {
            return 0x80 + i;
        }
    }
    return -1;
}

std::string CodePoint(char32_t c)
{
    char sz[16];
    std::snprintf(sz, sizeof(sz), "U+%04X", static_cast<unsigned>(c));
    return sz;
}

// UTF-8 to code points; false, with the offset of the first bad byte, for
// bytes that are not UTF-8 (overlong forms and surrogates included).
bool DecodeUtf8(const std::string &s, std::vector<char32_t> &out, size_t &bad)
{
    for (size_t i = 0; i < s.size();)
    {
        const auto b = static_cast<uint8_t>(s[i]);
        size_t n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 4;
        if (n == 4 || i + n >= s.size() + (n == 0 ? 1 : 0))
        {
            bad = i;
            return false;
        }
        char32_t c = n == 0 ? b : n == 1 ? (b & 0x1F) : n == 2 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; k <= n; k++)
        {
            const auto t = static_cast<uint8_t>(s[i + k]);
            if ((t & 0xC0) != 0x80)
            {
                bad = i;
                return false;
            }
            c = (c << 6) | (t & 0x3F);
        }
        static const char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        {
            bad = i;
            return false;
        }
        out.push_back(c);
        i += n + 1;
    }
    return true;
}

// The argument as code points: UTF-8 on both builds (the Windows build's
// main takes the wide command line).
bool DecodeArgument(const std::string &argument, std::vector<char32_t> &out, size_t &bad)
{
    return DecodeUtf8(argument, out, bad);
}

} // namespace

std::optional<std::string> ToPrinterCodePage(const std::string &argument, const std::string &option, std::string &error)
{
    std::vector<char32_t> chars;
    size_t bad = 0;
    if (!DecodeArgument(argument, chars, bad))
    {
        char sz[8];
        std::snprintf(sz, sizeof(sz), "0x%02X", static_cast<unsigned>(static_cast<uint8_t>(argument[bad])));
        error = option + " is not valid text in the terminal's encoding (byte " + sz + " at offset " +
                std::to_string(bad) + ")";
        return std::nullopt;
    }
    std::string ansi;
    for (char32_t c : chars)
    {
        const int b = ToByte(c);
        if (b < 0 || c == 0)
        {
            std::string shown;
            spoolsim::AppendUtf8(shown, c);
            error = option + " holds " + CodePoint(c) + " \"" + shown +
                    "\", a character the printer's code page (Windows-1252) does not have";
            return std::nullopt;
        }
        ansi += static_cast<char>(b);
    }
    return ansi;
}

std::string PrinterCodePageToUtf8(const std::string &ansi)
{
    std::string out;
    for (char ch : ansi)
    {
        const auto b = static_cast<uint8_t>(ch);
        const char32_t c = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b;
        spoolsim::AppendUtf8(out, c != 0 ? c : 0xFFFD);
    }
    return out;
}

} // namespace jobtool
