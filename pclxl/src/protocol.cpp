#include "pclxl/protocol.h"

#include <array>
#include <cstring>

namespace pclxl
{
namespace
{

struct OperatorEntry
{
    uint8_t tag;
    const char *name;
    DataUse data;
};

const OperatorEntry kOperators[] = {
    {op::BeginSession, "BeginSession", DataUse::None},
    {op::EndSession, "EndSession", DataUse::None},
    {op::BeginPage, "BeginPage", DataUse::None},
    {op::EndPage, "EndPage", DataUse::None},
    {op::VendorUnique, "VendorUnique", DataUse::Optional},
    {op::Comment, "Comment", DataUse::None},
    {op::OpenDataSource, "OpenDataSource", DataUse::None},
    {op::CloseDataSource, "CloseDataSource", DataUse::None},
    {op::EchoComment, "EchoComment", DataUse::None},
    {op::Query, "Query", DataUse::None},
    {op::BeginFontHeader, "BeginFontHeader", DataUse::None},
    {op::ReadFontHeader, "ReadFontHeader", DataUse::Required},
    {op::EndFontHeader, "EndFontHeader", DataUse::None},
    {op::BeginChar, "BeginChar", DataUse::None},
    {op::ReadChar, "ReadChar", DataUse::Required},
    {op::EndChar, "EndChar", DataUse::None},
    {op::RemoveFont, "RemoveFont", DataUse::None},
    {op::SetCharAttributes, "SetCharAttributes", DataUse::None},
    {op::SetDefaultGS, "SetDefaultGS", DataUse::None},
    {op::SetColorTreatment, "SetColorTreatment", DataUse::None},
    {op::BeginStream, "BeginStream", DataUse::None},
    {op::ReadStream, "ReadStream", DataUse::Required},
    {op::EndStream, "EndStream", DataUse::None},
    {op::ExecStream, "ExecStream", DataUse::None},
    {op::RemoveStream, "RemoveStream", DataUse::None},
    {op::PopGS, "PopGS", DataUse::None},
    {op::PushGS, "PushGS", DataUse::None},
    {op::SetClipReplace, "SetClipReplace", DataUse::None},
    {op::SetBrushSource, "SetBrushSource", DataUse::None},
    {op::SetCharAngle, "SetCharAngle", DataUse::None},
    {op::SetCharScale, "SetCharScale", DataUse::None},
    {op::SetCharShear, "SetCharShear", DataUse::None},
    {op::SetClipIntersect, "SetClipIntersect", DataUse::None},
    {op::SetClipRectangle, "SetClipRectangle", DataUse::None},
    {op::SetClipToPage, "SetClipToPage", DataUse::None},
    {op::SetColorSpace, "SetColorSpace", DataUse::None},
    {op::SetCursor, "SetCursor", DataUse::None},
    {op::SetCursorRel, "SetCursorRel", DataUse::None},
    {op::SetHalftoneMethod, "SetHalftoneMethod", DataUse::Optional},
    {op::SetFillMode, "SetFillMode", DataUse::None},
    {op::SetFont, "SetFont", DataUse::None},
    {op::SetLineDash, "SetLineDash", DataUse::None},
    {op::SetLineCap, "SetLineCap", DataUse::None},
    {op::SetLineJoin, "SetLineJoin", DataUse::None},
    {op::SetMiterLimit, "SetMiterLimit", DataUse::None},
    {op::SetPageDefaultCTM, "SetPageDefaultCTM", DataUse::None},
    {op::SetPageOrigin, "SetPageOrigin", DataUse::None},
    {op::SetPageRotation, "SetPageRotation", DataUse::None},
    {op::SetPageScale, "SetPageScale", DataUse::None},
    {op::SetPatternTxMode, "SetPatternTxMode", DataUse::None},
    {op::SetPenSource, "SetPenSource", DataUse::None},
    {op::SetPenWidth, "SetPenWidth", DataUse::None},
    {op::SetROP, "SetROP", DataUse::None},
    {op::SetSourceTxMode, "SetSourceTxMode", DataUse::None},
    {op::SetCharBoldValue, "SetCharBoldValue", DataUse::None},
    {op::SetNeutralAxis, "SetNeutralAxis", DataUse::None},
    {op::SetClipMode, "SetClipMode", DataUse::None},
    {op::SetPathToClip, "SetPathToClip", DataUse::None},
    {op::SetCharSubMode, "SetCharSubMode", DataUse::None},
    {op::BeginUserDefinedLineCap, "BeginUserDefinedLineCap", DataUse::None},
    {op::EndUserDefinedLineCap, "EndUserDefinedLineCap", DataUse::None},
    {op::CloseSubPath, "CloseSubPath", DataUse::None},
    {op::NewPath, "NewPath", DataUse::None},
    {op::PaintPath, "PaintPath", DataUse::None},
    {op::ArcPath, "ArcPath", DataUse::None},
    {op::SetColorTrapping, "SetColorTrapping", DataUse::None},
    {op::BezierPath, "BezierPath", DataUse::Optional},
    {op::SetAdaptiveHalftoning, "SetAdaptiveHalftoning", DataUse::None},
    {op::BezierRelPath, "BezierRelPath", DataUse::Optional},
    {op::Chord, "Chord", DataUse::None},
    {op::ChordPath, "ChordPath", DataUse::None},
    {op::Ellipse, "Ellipse", DataUse::None},
    {op::EllipsePath, "EllipsePath", DataUse::None},
    {op::LinePath, "LinePath", DataUse::Optional},
    {op::LineRelPath, "LineRelPath", DataUse::Optional},
    {op::Pie, "Pie", DataUse::None},
    {op::PiePath, "PiePath", DataUse::None},
    {op::Rectangle, "Rectangle", DataUse::None},
    {op::RectanglePath, "RectanglePath", DataUse::None},
    {op::RoundRectangle, "RoundRectangle", DataUse::None},
    {op::RoundRectanglePath, "RoundRectanglePath", DataUse::None},
    {op::Text, "Text", DataUse::None},
    {op::TextPath, "TextPath", DataUse::None},
    {op::SystemText, "SystemText", DataUse::None},
    {op::BeginImage, "BeginImage", DataUse::None},
    {op::ReadImage, "ReadImage", DataUse::Required},
    {op::EndImage, "EndImage", DataUse::None},
    {op::BeginRastPattern, "BeginRastPattern", DataUse::None},
    {op::ReadRastPattern, "ReadRastPattern", DataUse::Required},
    {op::EndRastPattern, "EndRastPattern", DataUse::None},
    {op::BeginScan, "BeginScan", DataUse::None},
    {op::EndScan, "EndScan", DataUse::None},
    {op::ScanLineRel, "ScanLineRel", DataUse::Optional},
    {op::PassThrough, "PassThrough", DataUse::Required},
};

// Looked up for every command of every document: a table by tag, built once.
const OperatorEntry *findOperator(uint8_t tag)
{
    static const std::array<const OperatorEntry *, 256> table = [] {
        std::array<const OperatorEntry *, 256> t{};
        for (const OperatorEntry &e : kOperators)
        {
            t[e.tag] = &e;
        }
        return t;
    }();
    return table[tag];
}

struct AttributeEntry
{
    uint16_t id;
    const char *name;
};

const AttributeEntry kAttributes[] = {
    {attr::PaletteDepth, "PaletteDepth"},
    {attr::ColorSpace, "ColorSpace"},
    {attr::NullBrush, "NullBrush"},
    {attr::NullPen, "NullPen"},
    {attr::PaletteData, "PaletteData"},
    {attr::PaletteIndex, "PaletteIndex"},
    {attr::PatternSelectID, "PatternSelectID"},
    {attr::GrayLevel, "GrayLevel"},
    {attr::Lightness, "Lightness"},
    {attr::RGBColor, "RGBColor"},
    {attr::PatternOrigin, "PatternOrigin"},
    {attr::NewDestinationSize, "NewDestinationSize"},
    {attr::PrimaryArray, "PrimaryArray"},
    {attr::PrimaryDepth, "PrimaryDepth"},
    {attr::Saturation, "Saturation"},
    {attr::ColorimetricColorSpace, "ColorimetricColorSpace"},
    {attr::XYChromaticities, "XYChromaticities"},
    {attr::WhiteReferencePoint, "WhiteReferencePoint"},
    {attr::CRGBMinMax, "CRGBMinMax"},
    {attr::GammaGain, "GammaGain"},
    {attr::AllObjectTypes, "AllObjectTypes"},
    {attr::TextObjects, "TextObjects"},
    {attr::VectorObjects, "VectorObjects"},
    {attr::RasterObjects, "RasterObjects"},
    {attr::DeviceMatrix, "DeviceMatrix"},
    {attr::DitherMatrixDataType, "DitherMatrixDataType"},
    {attr::DitherOrigin, "DitherOrigin"},
    {attr::MediaDestination, "MediaDestination"},
    {attr::MediaSize, "MediaSize"},
    {attr::MediaSource, "MediaSource"},
    {attr::MediaType, "MediaType"},
    {attr::Orientation, "Orientation"},
    {attr::PageAngle, "PageAngle"},
    {attr::PageOrigin, "PageOrigin"},
    {attr::PageScale, "PageScale"},
    {attr::ROP3, "ROP3"},
    {attr::TxMode, "TxMode"},
    {attr::CustomMediaSize, "CustomMediaSize"},
    {attr::CustomMediaSizeUnits, "CustomMediaSizeUnits"},
    {attr::PageCopies, "PageCopies"},
    {attr::DitherMatrixSize, "DitherMatrixSize"},
    {attr::DitherMatrixDepth, "DitherMatrixDepth"},
    {attr::SimplexPageMode, "SimplexPageMode"},
    {attr::DuplexPageMode, "DuplexPageMode"},
    {attr::DuplexPageSide, "DuplexPageSide"},
    {attr::ArcDirection, "ArcDirection"},
    {attr::BoundingBox, "BoundingBox"},
    {attr::DashOffset, "DashOffset"},
    {attr::EllipseDimension, "EllipseDimension"},
    {attr::EndPoint, "EndPoint"},
    {attr::FillMode, "FillMode"},
    {attr::LineCapStyle, "LineCapStyle"},
    {attr::LineJoinStyle, "LineJoinStyle"},
    {attr::MiterLength, "MiterLength"},
    {attr::LineDashStyle, "LineDashStyle"},
    {attr::PenWidth, "PenWidth"},
    {attr::Point, "Point"},
    {attr::NumberOfPoints, "NumberOfPoints"},
    {attr::SolidLine, "SolidLine"},
    {attr::StartPoint, "StartPoint"},
    {attr::PointType, "PointType"},
    {attr::ControlPoint1, "ControlPoint1"},
    {attr::ControlPoint2, "ControlPoint2"},
    {attr::ClipRegion, "ClipRegion"},
    {attr::ClipMode, "ClipMode"},
    {attr::ColorDepthArray, "ColorDepthArray"},
    {attr::ColorDepth, "ColorDepth"},
    {attr::BlockHeight, "BlockHeight"},
    {attr::ColorMapping, "ColorMapping"},
    {attr::CompressMode, "CompressMode"},
    {attr::DestinationBox, "DestinationBox"},
    {attr::DestinationSize, "DestinationSize"},
    {attr::PatternPersistence, "PatternPersistence"},
    {attr::PatternDefineID, "PatternDefineID"},
    {attr::SourceHeight, "SourceHeight"},
    {attr::SourceWidth, "SourceWidth"},
    {attr::StartLine, "StartLine"},
    {attr::PadBytesMultiple, "PadBytesMultiple"},
    {attr::BlockByteLength, "BlockByteLength"},
    {attr::NumberOfScanLines, "NumberOfScanLines"},
    {attr::PrintableArea, "PrintableArea"},
    {attr::TumbleMode, "TumbleMode"},
    {attr::ContentOrientation, "ContentOrientation"},
    {attr::FeedOrientation, "FeedOrientation"},
    {attr::ColorTreatment, "ColorTreatment"},
    {attr::CommentData, "CommentData"},
    {attr::DataOrg, "DataOrg"},
    {attr::Measure, "Measure"},
    {attr::SourceType, "SourceType"},
    {attr::UnitsPerMeasure, "UnitsPerMeasure"},
    {attr::QueryKey, "QueryKey"},
    {attr::StreamName, "StreamName"},
    {attr::StreamDataLength, "StreamDataLength"},
    {attr::PCLSelectFont, "PCLSelectFont"},
    {attr::ErrorReport, "ErrorReport"},
    {attr::VUExtension, "VUExtension"},
    {attr::VUDataLength, "VUDataLength"},
    {0x93, "VUAttr1"},
    {0x94, "VUAttr2"},
    {0x95, "VUAttr3"},
    {0x96, "VUAttr4"},
    {0x97, "VUAttr5"},
    {0x98, "VUAttr6"},
    {0x99, "VUAttr7"},
    {0x9A, "VUAttr8"},
    {0x9B, "VUAttr9"},
    {0x9C, "VUAttr10"},
    {0x9D, "VUAttr11"},
    {0x9E, "VUAttr12"},
    {attr::EnableDiagnostics, "EnableDiagnostics"},
    {attr::CharAngle, "CharAngle"},
    {attr::CharCode, "CharCode"},
    {attr::CharDataSize, "CharDataSize"},
    {attr::CharScale, "CharScale"},
    {attr::CharShear, "CharShear"},
    {attr::CharSize, "CharSize"},
    {attr::FontHeaderLength, "FontHeaderLength"},
    {attr::FontName, "FontName"},
    {attr::FontFormat, "FontFormat"},
    {attr::SymbolSet, "SymbolSet"},
    {attr::TextData, "TextData"},
    {attr::CharSubModeArray, "CharSubModeArray"},
    {attr::WritingMode, "WritingMode"},
    {attr::BitmapCharScaling, "BitmapCharScaling"},
    {attr::XSpacingData, "XSpacingData"},
    {attr::YSpacingData, "YSpacingData"},
    {attr::CharBoldValue, "CharBoldValue"},
};

struct EnumValue
{
    uint32_t value;
    const char *name;
};

const EnumValue kOrientation[] = {{0, "ePortraitOrientation"},
                                  {1, "eLandscapeOrientation"},
                                  {2, "eReversePortrait"},
                                  {3, "eReverseLandscape"},
                                  {4, "eDefaultOrientation"}};

const EnumValue kMediaSize[] = {
    {0, "eLetterPaper"},      {1, "eLegalPaper"},    {2, "eA4Paper"},          {3, "eExecPaper"},  {4, "eLedgerPaper"},
    {5, "eA3Paper"},          {6, "eCOM10Envelope"}, {7, "eMonarchEnvelope"},  {8, "eC5Envelope"}, {9, "eDLEnvelope"},
    {10, "eJB4Paper"},        {11, "eJB5Paper"},     {12, "eB5Envelope"},      {13, "eB5Paper"},   {14, "eJPostcard"},
    {15, "eJDoublePostcard"}, {16, "eA5Paper"},      {17, "eA6Paper"},         {18, "eJB6Paper"},  {19, "eJIS8K"},
    {20, "eJIS16K"},          {21, "eJISExec"},      {96, "eDefaultPaperSize"}};

const EnumValue kMediaSource[] = {{0, "eDefaultSource"},    {1, "eAutoSelect"},    {2, "eManualFeed"},
                                  {3, "eMultiPurposeTray"}, {4, "eUpperCassette"}, {5, "eLowerCassette"},
                                  {6, "eEnvelopeTray"},     {7, "eThirdCassette"}};

const EnumValue kMediaDestination[] = {
    {0, "eDefaultDestination"}, {1, "eFaceDownBin"}, {2, "eFaceUpBin"}, {3, "eJobOffsetBin"}};
const EnumValue kSimplexPageMode[] = {{0, "eSimplexFrontSide"}};
const EnumValue kDuplexPageMode[] = {{0, "eDuplexHorizontalBinding"}, {1, "eDuplexVerticalBinding"}};
const EnumValue kDuplexPageSide[] = {{0, "eFrontMediaSide"}, {1, "eBackMediaSide"}};
const EnumValue kColorSpace[] = {{1, "eGray"}, {2, "eRGB"}, {6, "eSRGB"}};
const EnumValue kColorDepth[] = {{0, "e1Bit"}, {1, "e4Bit"}, {2, "e8Bit"}};
const EnumValue kColorMapping[] = {{0, "eDirectPixel"}, {1, "eIndexedPixel"}};
const EnumValue kCompressMode[] = {
    {0, "eNoCompression"}, {1, "eRLECompression"}, {2, "eJPEGCompression"}, {3, "eDeltaRowCompression"}};
const EnumValue kMeasure[] = {{0, "eInch"}, {1, "eMillimeter"}, {2, "eTenthsOfAMillimeter"}};
const EnumValue kDataOrg[] = {{0, "eBinaryHighByteFirst"}, {1, "eBinaryLowByteFirst"}};
const EnumValue kSourceType[] = {{0, "eDefaultDataSource"}};
const EnumValue kErrorReport[] = {{0, "eNoReporting"},       {1, "eBackChannel"},   {2, "eErrorPage"},
                                  {3, "eBackChAndErrPage"},  {4, "eNWBackChannel"}, {5, "eNWErrorPage"},
                                  {6, "eNWBackChAndErrPage"}};
const EnumValue kTxMode[] = {{0, "eOpaque"}, {1, "eTransparent"}};
const EnumValue kFillMode[] = {{0, "eNonZeroWinding"}, {1, "eEvenOdd"}};
const EnumValue kClipRegion[] = {{0, "eInterior"}, {1, "eExterior"}};
const EnumValue kLineCap[] = {{0, "eButtCap"}, {1, "eRoundCap"}, {2, "eSquareCap"}, {3, "eTriangleCap"}};
const EnumValue kLineJoin[] = {{0, "eMiterJoin"}, {1, "eRoundJoin"}, {2, "eBevelJoin"}, {3, "eNoJoin"}};
const EnumValue kArcDirection[] = {{0, "eClockWise"}, {1, "eCounterClockWise"}};
const EnumValue kDataType[] = {{0, "eUByte"}, {1, "eSByte"}, {2, "eUInt16"}, {3, "eSInt16"}};
const EnumValue kPatternPersistence[] = {{0, "eTempPattern"}, {1, "ePagePattern"}, {2, "eSessionPattern"}};
const EnumValue kWritingMode[] = {{0, "eHorizontal"}, {1, "eVertical"}};
const EnumValue kDeviceMatrix[] = {{0, "eDeviceBest"}};

struct EnumTable
{
    uint16_t attribute;
    const EnumValue *values;
    size_t count;
};

#define PCLXL_ENUM(id, table)                                                                                          \
    {                                                                                                                  \
        id, table, sizeof(table) / sizeof(table[0])                                                                    \
    }
const EnumTable kEnums[] = {
    PCLXL_ENUM(attr::Orientation, kOrientation),
    PCLXL_ENUM(attr::MediaSize, kMediaSize),
    PCLXL_ENUM(attr::MediaSource, kMediaSource),
    PCLXL_ENUM(attr::MediaDestination, kMediaDestination),
    PCLXL_ENUM(attr::SimplexPageMode, kSimplexPageMode),
    PCLXL_ENUM(attr::DuplexPageMode, kDuplexPageMode),
    PCLXL_ENUM(attr::DuplexPageSide, kDuplexPageSide),
    PCLXL_ENUM(attr::ColorSpace, kColorSpace),
    PCLXL_ENUM(attr::ColorDepth, kColorDepth),
    PCLXL_ENUM(attr::PaletteDepth, kColorDepth),
    PCLXL_ENUM(attr::PrimaryDepth, kColorDepth),
    PCLXL_ENUM(attr::DitherMatrixDepth, kColorDepth),
    PCLXL_ENUM(attr::ColorMapping, kColorMapping),
    PCLXL_ENUM(attr::CompressMode, kCompressMode),
    PCLXL_ENUM(attr::Measure, kMeasure),
    PCLXL_ENUM(attr::CustomMediaSizeUnits, kMeasure),
    PCLXL_ENUM(attr::DataOrg, kDataOrg),
    PCLXL_ENUM(attr::SourceType, kSourceType),
    PCLXL_ENUM(attr::ErrorReport, kErrorReport),
    PCLXL_ENUM(attr::TxMode, kTxMode),
    PCLXL_ENUM(attr::FillMode, kFillMode),
    PCLXL_ENUM(attr::ClipMode, kFillMode),
    PCLXL_ENUM(attr::ClipRegion, kClipRegion),
    PCLXL_ENUM(attr::LineCapStyle, kLineCap),
    PCLXL_ENUM(attr::LineJoinStyle, kLineJoin),
    PCLXL_ENUM(attr::ArcDirection, kArcDirection),
    PCLXL_ENUM(attr::PointType, kDataType),
    PCLXL_ENUM(attr::DitherMatrixDataType, kDataType),
    PCLXL_ENUM(attr::PatternPersistence, kPatternPersistence),
    PCLXL_ENUM(attr::WritingMode, kWritingMode),
    PCLXL_ENUM(attr::DeviceMatrix, kDeviceMatrix),
};
#undef PCLXL_ENUM

const EnumTable *searchEnum(uint16_t attribute)
{
    for (const EnumTable &t : kEnums)
    {
        if (t.attribute == attribute)
        {
            return &t;
        }
    }
    return nullptr;
}

// Every attribute of every command is asked: a table for the ids of one byte.
const EnumTable *findEnum(uint16_t attribute)
{
    static const std::array<const EnumTable *, 256> table = [] {
        std::array<const EnumTable *, 256> t{};
        for (size_t id = 0; id < t.size(); id++)
        {
            t[id] = searchEnum(static_cast<uint16_t>(id));
        }
        return t;
    }();
    return attribute < table.size() ? table[attribute] : searchEnum(attribute);
}

} // namespace

namespace
{

DataTypeInfo computeDataTypeInfo(uint8_t tag)
{
    DataTypeInfo info;
    const unsigned low = tag & 0x0F;
    switch (tag & 0xF0)
    {
    case 0xC0:
        if (low <= 5)
        {
            info.shape = Shape::Scalar;
        }
        else if (low >= 8 && low <= 0xD)
        {
            info.shape = Shape::Array;
        }
        else
        {
            return info;
        }
        break;
    case 0xD0:
        if (low > 5)
        {
            return info;
        }
        info.shape = Shape::XY;
        break;
    case 0xE0:
        if (low > 5)
        {
            return info;
        }
        info.shape = Shape::Box;
        break;
    default:
        return info;
    }
    info.valid = true;
    info.element = static_cast<ElementType>(low & 0x07);
    return info;
}

} // namespace

// Asked for every value of every document: a table by tag, built once.
DataTypeInfo dataTypeInfo(uint8_t tag)
{
    static const std::array<DataTypeInfo, 256> table = [] {
        std::array<DataTypeInfo, 256> t{};
        for (int b = 0; b < 256; b++)
        {
            t[static_cast<size_t>(b)] = computeDataTypeInfo(static_cast<uint8_t>(b));
        }
        return t;
    }();
    return table[tag];
}

uint8_t dataTypeTag(ElementType element, Shape shape)
{
    const uint8_t e = static_cast<uint8_t>(element);
    switch (shape)
    {
    case Shape::Scalar:
        return static_cast<uint8_t>(0xC0 + e);
    case Shape::Array:
        return static_cast<uint8_t>(0xC8 + e);
    case Shape::XY:
        return static_cast<uint8_t>(0xD0 + e);
    case Shape::Box:
        return static_cast<uint8_t>(0xE0 + e);
    }
    return 0;
}

size_t elementSize(ElementType element)
{
    switch (element)
    {
    case ElementType::UByte:
        return 1;
    case ElementType::UInt16:
    case ElementType::SInt16:
        return 2;
    case ElementType::UInt32:
    case ElementType::SInt32:
    case ElementType::Real32:
        return 4;
    }
    return 1;
}

const char *elementTypeName(ElementType element)
{
    switch (element)
    {
    case ElementType::UByte:
        return "ubyte";
    case ElementType::UInt16:
        return "uint16";
    case ElementType::UInt32:
        return "uint32";
    case ElementType::SInt16:
        return "sint16";
    case ElementType::SInt32:
        return "sint32";
    case ElementType::Real32:
        return "real32";
    }
    return "?";
}

const char *shapeName(Shape shape)
{
    switch (shape)
    {
    case Shape::Scalar:
        return "";
    case Shape::Array:
        return "array";
    case Shape::XY:
        return "xy";
    case Shape::Box:
        return "box";
    }
    return "";
}

bool isWhitespace(uint8_t byte)
{
    return byte == 0x00 || (byte >= 0x09 && byte <= 0x0D) || byte == 0x20;
}

const char *operatorName(uint8_t tag)
{
    const OperatorEntry *e = findOperator(tag);
    return e ? e->name : nullptr;
}

bool isOperator(uint8_t tag)
{
    return findOperator(tag) != nullptr;
}

DataUse operatorDataUse(uint8_t tag)
{
    const OperatorEntry *e = findOperator(tag);
    return e ? e->data : DataUse::None;
}

uint8_t operatorByName(const char *name)
{
    for (const OperatorEntry &e : kOperators)
    {
        if (std::strcmp(e.name, name) == 0)
        {
            return e.tag;
        }
    }
    return 0;
}

const char *attributeName(uint16_t id)
{
    // Every attribute of every document is named once: a table for the ids of one byte.
    static const std::array<const char *, 256> table = [] {
        std::array<const char *, 256> t{};
        for (const AttributeEntry &e : kAttributes)
        {
            if (e.id < t.size() && t[e.id] == nullptr)
            {
                t[e.id] = e.name;
            }
        }
        return t;
    }();
    if (id < table.size())
    {
        return table[id];
    }
    for (const AttributeEntry &e : kAttributes)
    {
        if (e.id == id)
        {
            return e.name;
        }
    }
    return nullptr;
}

uint16_t attributeByName(const char *name)
{
    for (const AttributeEntry &e : kAttributes)
    {
        if (std::strcmp(e.name, name) == 0)
        {
            return e.id;
        }
    }
    return 0;
}

const char *enumValueName(uint16_t attribute, uint32_t value)
{
    const EnumTable *t = findEnum(attribute);
    if (!t)
    {
        return nullptr;
    }
    for (size_t i = 0; i < t->count; ++i)
    {
        if (t->values[i].value == value)
        {
            return t->values[i].name;
        }
    }
    return nullptr;
}

bool isEnumeratedAttribute(uint16_t attribute)
{
    return findEnum(attribute) != nullptr;
}

bool isTextAttribute(uint16_t attribute)
{
    switch (attribute)
    {
    case attr::FontName:
    case attr::TextData:
    case attr::StreamName:
    case attr::MediaType:
    case attr::MediaSize: // the array form names the medium
    case attr::CommentData:
    case attr::PCLSelectFont:
        return true;
    default:
        return false;
    }
}

} // namespace pclxl
