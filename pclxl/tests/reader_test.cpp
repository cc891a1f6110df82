#include "helpers.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace pclxl;
using namespace pclxl_test;

namespace
{

TokenList lex(const ByteVector &d)
{
    return tokenize(Bytes(d));
}

std::string lexError(const ByteVector &d)
{
    return errorText(lex(d).error);
}

} // namespace

TEST(Reader, PjlLinesBeforeTheStreamHeaderAreOneToken)
{
    const std::string lead = std::string("\x1B%-12345X@PJL SET RESOLUTION=600\r\n@PJL ENTER LANGUAGE = PCLXL\n");
    const ByteVector d = bytesOf(lead) + bytesOf(") HP-PCL XL;2;1;Made by a test\r\n") + ByteVector{0x61};
    TokenList tl = lex(d);
    ASSERT_TRUE(tl.ok()) << errorText(tl.error);
    ASSERT_EQ(tl.tokens.size(), 3u);
    EXPECT_EQ(tl.tokens[0].kind, TokenKind::Pjl);
    EXPECT_EQ(tl.tokens[0].length, lead.size());
    EXPECT_EQ(tl.tokens[1].kind, TokenKind::StreamHeader);
    EXPECT_EQ(tl.tokens[1].offset, lead.size());
    ASSERT_TRUE(tl.header);
    EXPECT_EQ(tl.header->protocolClass, "2");
    EXPECT_EQ(tl.header->revision, "1");
    EXPECT_EQ(tl.header->comment, "Made by a test");
    EXPECT_EQ(tl.header->endian, Endian::Little);
    EXPECT_EQ(tl.tokens[2].kind, TokenKind::Operator);
    EXPECT_EQ(tl.tokens[2].offset, d.size() - 1);
}

TEST(Reader, DecodesEveryShapeInLittleEndian)
{
    Writer w;
    w.ubyte(7).uint16(0x1234).uint32(0xDEADBEEF).sint16(-2).sint32(-70000).real32(1.5f);
    w.xy(ElementType::SInt16, -3, 300).box(ElementType::UInt16, 1, 2, 3, 4);
    w.uint16Array({1, 65535}).array(ElementType::Real32, {0.25, -8});
    w.attr(attr::ROP3).attr(0x1234).op(op::SetROP);
    w.data(Bytes(std::string("abc"))).data(Bytes(std::string("xy")), true);
    const ByteVector d = header() + w.bytes();
    TokenList tl = lex(d);
    ASSERT_TRUE(tl.ok()) << errorText(tl.error);
    std::vector<const Token *> t;
    for (const Token &k : tl.tokens)
    {
        if (k.kind != TokenKind::StreamHeader)
        {
            t.push_back(&k);
        }
    }
    ASSERT_EQ(t.size(), 15u);
    EXPECT_EQ(t[0]->value.number(), 7);
    EXPECT_EQ(t[1]->value.number(), 0x1234);
    EXPECT_EQ(t[2]->value.number(), 0xDEADBEEFu);
    EXPECT_EQ(t[3]->value.number(), -2);
    EXPECT_EQ(t[4]->value.number(), -70000);
    EXPECT_EQ(t[5]->value.number(), 1.5);
    EXPECT_EQ(t[6]->value.numbers, (std::vector<double>{-3, 300}));
    EXPECT_EQ(t[7]->value.numbers, (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(t[8]->value.numbers, (std::vector<double>{1, 65535}));
    EXPECT_EQ(t[8]->length, 1u + 3u + 4u); // tag, uint16 length, two elements
    EXPECT_EQ(t[9]->value.numbers, (std::vector<double>{0.25, -8}));
    EXPECT_EQ(t[10]->attribute, attr::ROP3);
    EXPECT_EQ(t[11]->attribute, 0x1234);
    EXPECT_EQ(t[12]->tag, op::SetROP);
    EXPECT_EQ(t[13]->payload_length, 3u);
    EXPECT_EQ(t[13]->payload_offset, t[13]->offset + 2);
    EXPECT_EQ(t[14]->payload_length, 2u);
    EXPECT_EQ(t[14]->payload_offset, t[14]->offset + 5);
}

TEST(Reader, BigEndianBindingReadsHighByteFirst)
{
    // Written by hand so that the writer's byte order is not what is tested.
    const ByteVector d = bytesOf("( HP-PCL XL;2;0;\n") +
                         ByteVector{0xC1, 0x12, 0x34,                               // uint16 0x1234
                                    0xF9, 0x00, 0x28,                               // attribute 0x0028
                                    0xC5, 0x3F, 0xC0, 0x00, 0x00,                   // real32 1.5
                                    0xD3, 0xFF, 0xFE, 0x01, 0x2C,                   // sint16 xy (-2, 300)
                                    0xC9, 0xC1, 0x00, 0x02, 0x00, 0x01, 0xAB, 0xCD, // uint16 array {1, 0xABCD}
                                    0xFA, 0x00, 0x00, 0x00, 0x02, 0x11, 0x22};      // data, 2 bytes
    TokenList tl = lex(d);
    ASSERT_TRUE(tl.ok()) << errorText(tl.error);
    EXPECT_EQ(tl.endian, Endian::Big);
    ASSERT_EQ(tl.tokens.size(), 7u);
    EXPECT_EQ(tl.tokens[1].value.number(), 0x1234);
    EXPECT_EQ(tl.tokens[2].attribute, 0x28);
    EXPECT_EQ(tl.tokens[3].value.number(), 1.5);
    EXPECT_EQ(tl.tokens[4].value.numbers, (std::vector<double>{-2, 300}));
    EXPECT_EQ(tl.tokens[5].value.numbers, (std::vector<double>{1, 0xABCD}));
    EXPECT_EQ(tl.tokens[6].payload_length, 2u);
}

TEST(Reader, WhitespaceRunsAreOneToken)
{
    const ByteVector d = header() + ByteVector{0x20, 0x00, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x61, 0x0E};
    TokenList tl = lex(d);
    ASSERT_GE(tl.tokens.size(), 3u);
    EXPECT_EQ(tl.tokens[1].kind, TokenKind::Whitespace);
    EXPECT_EQ(tl.tokens[1].length, 7u);
    EXPECT_EQ(tl.tokens[2].kind, TokenKind::Operator);
    EXPECT_EQ(errorText(tl.error), "offset " + std::to_string(d.size() - 1) + ": 0x0E is not a PCL XL tag");
}

TEST(Reader, MalformedInputNamesTheOffsetAndTheReason)
{
    const size_t h = header().size();
    const std::string at = "offset " + std::to_string(h) + ": ";
    EXPECT_EQ(lexError(bytesOf("%!PS-Adobe-3.0\n")),
              "offset 0: not a PCL XL stream: no binding byte and stream header");
    EXPECT_EQ(lexError(header() + ByteVector{0x3F}), at + "0x3F is not a PCL XL tag");
    EXPECT_EQ(lexError(header() + ByteVector{0x45}), at + "0x45 is not a PCL XL tag"); // reserved operator
    EXPECT_EQ(lexError(header() + ByteVector{0xC9, 0xC0, 20, 1, 2, 3, 4, 5}),
              at + "uint16 array of 20 elements needs 40 bytes, 5 remain");
    EXPECT_EQ(lexError(header() + ByteVector{0xC8, 0xC2, 1, 0, 0, 0}),
              at + "ubyte array length must be a ubyte or uint16 value, found 0xC2");
    EXPECT_EQ(lexError(header() + ByteVector{0xC9, 0xC1, 1}), at + "uint16 array length needs 2 bytes, 1 remain");
    EXPECT_EQ(lexError(header() + ByteVector{0xC2, 1, 2}), at + "uint32 value needs 4 bytes, 2 remain");
    EXPECT_EQ(lexError(header() + ByteVector{0xE1, 1, 2, 3}), at + "uint16 box value needs 8 bytes, 3 remain");
    EXPECT_EQ(lexError(header() + ByteVector{0xF9, 1}), at + "attribute id (0xF9) needs 2 bytes, 1 remain");
    EXPECT_EQ(lexError(header() + ByteVector{0xFA, 100, 0, 0, 0, 1, 2}),
              at + "embedded data of 100 bytes, only 2 remain");
    EXPECT_EQ(lexError(header() + ByteVector{0xFB}), at + "embedded data length (0xFB) needs 1 byte, 0 remain");
    EXPECT_EQ(lexError(header() + bytesOf("\x1B%-123")), at + "universal exit command needs 9 bytes, 6 remain");
}

TEST(Reader, StreamHeaderFaults)
{
    EXPECT_EQ(lexError(bytesOf(") HP-PCL XL;2;0;no line feed")),
              "offset 0: stream header is not ended by a line feed (input ends)");
    EXPECT_EQ(lexError(bytesOf(") HP-PC")), "offset 0: stream header of a PCL XL stream is cut short (input ends "
                                            "after 7 bytes)");
    EXPECT_EQ(lexError(bytesOf(") HP-PCL YY;2;0;\n")),
              "offset 0: the binding byte of a PCL XL stream must be followed by \" HP-PCL XL;\" (the stream header)");
    EXPECT_EQ(lexError(bytesOf(") HP-PCL XL;two;0;\n")),
              "offset 0: stream header's protocol class \"two\" is not a number");
    EXPECT_NE(lexError(bytesOf("' HP-PCL XL;2;0;\n")).find("ASCII binding"), std::string::npos);
    // PJL lead that never reaches the stream header.
    EXPECT_EQ(lexError(bytesOf("\x1B%-12345X@PJL ENTER LANGUAGE = PCLXL\n")),
              "offset 37: input ends in the PJL lines before the stream header");
    EXPECT_EQ(lexError(bytesOf("\x1B%-12345X@PJL ENTER LANGUAGE = PCLXL\nxyz")),
              "offset 37: expected a PJL line or the binding byte of the stream header, found 0x78");
    EXPECT_EQ(lexError(bytesOf("@PJL JOB")), "offset 0: PJL line is not ended by a line feed (input ends)");
    // A header without comment is accepted; a trailing NUL (as some writers leave) is not part of the comment.
    TokenList tl = lex(bytesOf(") HP-PCL XL;3;0") + ByteVector{0, '\n'});
    ASSERT_TRUE(tl.ok()) << errorText(tl.error);
    EXPECT_EQ(tl.header->revision, "0");
    EXPECT_EQ(tl.header->comment, "");
}

TEST(Reader, OnlyPjlMayFollowTheUniversalExit)
{
    const ByteVector body = header() + ByteVector{0x42} + bytesOf("\x1B%-12345X");
    TokenList ok = lex(body + bytesOf("@PJL EOJ\r\n\x1B%-12345X"));
    ASSERT_TRUE(ok.ok()) << errorText(ok.error);
    ASSERT_EQ(ok.tokens.size(), 4u);
    EXPECT_EQ(ok.tokens[2].kind, TokenKind::UniversalExit);
    EXPECT_EQ(ok.tokens[3].kind, TokenKind::Pjl);
    EXPECT_EQ(ok.tokens[3].end(), body.size() + 19);

    EXPECT_EQ(lexError(body + bytesOf("@PJL EOJ\n") + header()),
              "offset " + std::to_string(body.size() + 9) +
                  ": a second PCL XL stream starts here; read each stream separately");
    EXPECT_EQ(lexError(body + ByteVector{0x61}),
              "offset " + std::to_string(body.size()) + ": only PJL may follow the universal exit command, found 0x61");
}

TEST(Reader, FragmentsUseTheGivenByteOrderAndBaseOffset)
{
    ReadOptions ro;
    ro.expect_header = false;
    ro.endian = Endian::Big;
    ro.base_offset = 1000;
    const ByteVector d{0xC1, 0x01, 0x02, 0xF8, 0x31, 0x44, 0x3F};
    TokenList tl = tokenize(Bytes(d), ro);
    ASSERT_EQ(tl.tokens.size(), 3u);
    EXPECT_EQ(tl.tokens[0].offset, 1000u);
    EXPECT_EQ(tl.tokens[0].value.number(), 0x0102);
    EXPECT_EQ(errorText(tl.error), "offset 1006: 0x3F is not a PCL XL tag");
}

// A value's elements: four in place, more on the heap, and every copy, move
// and assignment keeps them whichever way they are held.
TEST(Numbers, KeepTheirElementsInPlaceAndOnTheHeap)
{
    const std::vector<double> many = {1, -2, 3.5, 4, 5, 6, 7, 8, 9};
    for (size_t n : {size_t{0}, size_t{1}, size_t{4}, size_t{5}, many.size()})
    {
        const std::vector<double> want(many.begin(), many.begin() + static_cast<long>(n));
        Numbers grown;
        for (double v : want)
        {
            grown.push_back(v);
        }
        EXPECT_EQ(grown, want) << n;
        Numbers copy(grown);
        EXPECT_EQ(copy, want) << n;
        Numbers moved(std::move(copy));
        EXPECT_EQ(moved, want) << n;
        EXPECT_TRUE(copy.empty()); // NOLINT(bugprone-use-after-move): a moved-from list is empty
        copy = moved;              // into one that gave its elements away
        EXPECT_EQ(copy, want) << n;

        // Assignments between every pair of sizes: to fewer, to more, in place to heap and back.
        for (size_t m : {size_t{0}, size_t{3}, size_t{7}})
        {
            Numbers other;
            other.assign(m, 42);
            other = grown;
            EXPECT_EQ(other, want) << n << " over " << m;
            Numbers target;
            target.assign(m, 42);
            Numbers source = grown;
            target = std::move(source);
            EXPECT_EQ(target, want) << n << " moved over " << m;
            Numbers back = grown;
            back = target; // the same elements, another list
            const Numbers &itself = back;
            back = itself;
            EXPECT_EQ(back, want) << n;
        }
    }
    Numbers v = {1, 2};
    v[1] = 7;
    EXPECT_EQ(v, (std::vector<double>{1, 7}));
    EXPECT_NE(v, Numbers({1, 7, 0}));
}

// A value token of every shape and of a long array decodes the same in a
// token list and in its copies.
TEST(Numbers, LongArraysDecodeWholeAndSurviveCopies)
{
    ByteVector d = header();
    const uint8_t array[] = {dt::UInt16Array, dt::UByte, 6, 1, 0, 2, 0, 0xFF, 0xFF, 4, 0, 5, 0, 6, 1};
    d.insert(d.end(), std::begin(array), std::end(array));
    const TokenList tl = lex(d);
    ASSERT_TRUE(tl.ok()) << errorText(tl.error);
    ASSERT_EQ(tl.tokens.size(), 2u);
    const std::vector<double> want = {1, 2, 65535, 4, 5, 262};
    EXPECT_EQ(tl.tokens[1].value.numbers, want);
    const std::vector<Token> copies = tl.tokens;
    EXPECT_EQ(copies[1].value.numbers, want);
    EXPECT_EQ(copies[1].value.text(), std::string("\x01\x02?\x04\x05?"));
}
