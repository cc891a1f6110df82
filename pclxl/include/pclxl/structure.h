// Well-formedness of a token list: value/attribute/operator order, embedded
// data placement, the nesting of the Begin/End pairs, and the stream data of
// every stream definition.
#pragma once

#include "pclxl/reader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pclxl
{

struct Attribute
{
    uint16_t id = 0;
    Value value;
    size_t offset = 0; // of the value that the id names
};

// One operator with its attribute list and, if it has one, its embedded data.
struct Command
{
    uint8_t op = 0;
    size_t begin = 0;     // first byte of the attribute list (the operator byte when there is none)
    size_t op_offset = 0; // the operator byte
    size_t end = 0;       // after the operator byte, or after its embedded data
    std::vector<Attribute> attributes;
    bool has_data = false;
    size_t data_offset = 0;    // the 0xFA/0xFB byte
    size_t payload_offset = 0; // the data bytes
    size_t payload_length = 0;

    const Attribute *find(uint16_t id) const;
    const char *name() const
    {
        return operatorName(op);
    }
};

// Where a token list sits: a whole document, or a fragment that lies inside
// a session (between pages) or inside a page (a page body, watermark data,
// the body of a stream).
enum class Context
{
    Document,
    Session,
    Page
};

struct CheckOptions
{
    Context context = Context::Document;
    // When true the tokens must end with every construct closed that they
    // opened (and, for a document, the session ended). When false an
    // unfinished end is accepted: a prefix or a partial fragment.
    bool require_complete = true;
    // The tokens are the body of a stream definition: no stream may be defined inside.
    bool stream_body = false;
};

// A BeginStream ... EndStream definition and the PCL XL fragment its ReadStream data hold.
struct StreamDefinition
{
    std::string name;                   // StreamName as text
    size_t begin = 0;                   // BeginStream's attribute list
    size_t end = 0;                     // after EndStream (0 while open)
    size_t begin_command = 0;           // index of BeginStream in Structure::commands
    std::vector<size_t> read_commands;  // indices of its ReadStream commands
    std::optional<StreamHeader> header; // the stream header at the start of the data
    std::vector<Token> body_tokens;     // offsets are those of the enclosing input
    std::vector<Command> body_commands;
};

struct Structure
{
    std::vector<Command> commands;
    std::vector<StreamDefinition> streams;
    std::optional<Error> error; // the first violation

    bool ok() const
    {
        return !error.has_value();
    }
};

// Checks tokens produced by tokenize() on `data` (the same bytes, so that
// stream data can be read). Commands are collected up to the first violation.
Structure checkStructure(const TokenList &tokens, Bytes data, const CheckOptions &options = {});

} // namespace pclxl
