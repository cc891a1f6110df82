// PCL XL protocol tables: tag bytes, operators, data types, attribute ids and
// the names of enumerated attribute values (protocol classes 2.0 to 3.0).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pclxl
{

enum class Endian
{
    Little, // binding ')', low byte first
    Big     // binding '(', high byte first
};

// Tag bytes that are neither operators nor data types.
namespace tag
{
constexpr uint8_t BindingAscii = 0x27;        // '\'' (not supported by the reader)
constexpr uint8_t BindingBigEndian = 0x28;    // '('
constexpr uint8_t BindingLittleEndian = 0x29; // ')'
constexpr uint8_t AttrUByte = 0xF8;           // attribute id, one byte follows
constexpr uint8_t AttrUInt16 = 0xF9;          // attribute id, two bytes follow
constexpr uint8_t DataLength = 0xFA;          // embedded data, uint32 length follows
constexpr uint8_t DataLengthByte = 0xFB;      // embedded data, ubyte length follows
constexpr uint8_t Esc = 0x1B;                 // first byte of the universal exit command
} // namespace tag

// The universal exit command that leaves PCL XL for PJL.
constexpr char kUniversalExit[] = "\x1B%-12345X";
constexpr size_t kUniversalExitLength = 9;

// Operator tags.
namespace op
{
constexpr uint8_t BeginSession = 0x41;
constexpr uint8_t EndSession = 0x42;
constexpr uint8_t BeginPage = 0x43;
constexpr uint8_t EndPage = 0x44;
constexpr uint8_t VendorUnique = 0x46;
constexpr uint8_t Comment = 0x47;
constexpr uint8_t OpenDataSource = 0x48;
constexpr uint8_t CloseDataSource = 0x49;
constexpr uint8_t EchoComment = 0x4A;
constexpr uint8_t Query = 0x4B;
constexpr uint8_t BeginFontHeader = 0x4F;
constexpr uint8_t ReadFontHeader = 0x50;
constexpr uint8_t EndFontHeader = 0x51;
constexpr uint8_t BeginChar = 0x52;
constexpr uint8_t ReadChar = 0x53;
constexpr uint8_t EndChar = 0x54;
constexpr uint8_t RemoveFont = 0x55;
constexpr uint8_t SetCharAttributes = 0x56;
constexpr uint8_t SetDefaultGS = 0x57;
constexpr uint8_t SetColorTreatment = 0x58;
constexpr uint8_t BeginStream = 0x5B;
constexpr uint8_t ReadStream = 0x5C;
constexpr uint8_t EndStream = 0x5D;
constexpr uint8_t ExecStream = 0x5E;
constexpr uint8_t RemoveStream = 0x5F;
constexpr uint8_t PopGS = 0x60;
constexpr uint8_t PushGS = 0x61;
constexpr uint8_t SetClipReplace = 0x62;
constexpr uint8_t SetBrushSource = 0x63;
constexpr uint8_t SetCharAngle = 0x64;
constexpr uint8_t SetCharScale = 0x65;
constexpr uint8_t SetCharShear = 0x66;
constexpr uint8_t SetClipIntersect = 0x67;
constexpr uint8_t SetClipRectangle = 0x68;
constexpr uint8_t SetClipToPage = 0x69;
constexpr uint8_t SetColorSpace = 0x6A;
constexpr uint8_t SetCursor = 0x6B;
constexpr uint8_t SetCursorRel = 0x6C;
constexpr uint8_t SetHalftoneMethod = 0x6D;
constexpr uint8_t SetFillMode = 0x6E;
constexpr uint8_t SetFont = 0x6F;
constexpr uint8_t SetLineDash = 0x70;
constexpr uint8_t SetLineCap = 0x71;
constexpr uint8_t SetLineJoin = 0x72;
constexpr uint8_t SetMiterLimit = 0x73;
constexpr uint8_t SetPageDefaultCTM = 0x74;
constexpr uint8_t SetPageOrigin = 0x75;
constexpr uint8_t SetPageRotation = 0x76;
constexpr uint8_t SetPageScale = 0x77;
constexpr uint8_t SetPatternTxMode = 0x78;
constexpr uint8_t SetPenSource = 0x79;
constexpr uint8_t SetPenWidth = 0x7A;
constexpr uint8_t SetROP = 0x7B;
constexpr uint8_t SetSourceTxMode = 0x7C;
constexpr uint8_t SetCharBoldValue = 0x7D;
constexpr uint8_t SetNeutralAxis = 0x7E;
constexpr uint8_t SetClipMode = 0x7F;
constexpr uint8_t SetPathToClip = 0x80;
constexpr uint8_t SetCharSubMode = 0x81;
constexpr uint8_t BeginUserDefinedLineCap = 0x82;
constexpr uint8_t EndUserDefinedLineCap = 0x83;
constexpr uint8_t CloseSubPath = 0x84;
constexpr uint8_t NewPath = 0x85;
constexpr uint8_t PaintPath = 0x86;
constexpr uint8_t ArcPath = 0x91;
constexpr uint8_t SetColorTrapping = 0x92;
constexpr uint8_t BezierPath = 0x93;
constexpr uint8_t SetAdaptiveHalftoning = 0x94;
constexpr uint8_t BezierRelPath = 0x95;
constexpr uint8_t Chord = 0x96;
constexpr uint8_t ChordPath = 0x97;
constexpr uint8_t Ellipse = 0x98;
constexpr uint8_t EllipsePath = 0x99;
constexpr uint8_t LinePath = 0x9B;
constexpr uint8_t LineRelPath = 0x9D;
constexpr uint8_t Pie = 0x9E;
constexpr uint8_t PiePath = 0x9F;
constexpr uint8_t Rectangle = 0xA0;
constexpr uint8_t RectanglePath = 0xA1;
constexpr uint8_t RoundRectangle = 0xA2;
constexpr uint8_t RoundRectanglePath = 0xA3;
constexpr uint8_t Text = 0xA8;
constexpr uint8_t TextPath = 0xA9;
constexpr uint8_t SystemText = 0xAA;
constexpr uint8_t BeginImage = 0xB0;
constexpr uint8_t ReadImage = 0xB1;
constexpr uint8_t EndImage = 0xB2;
constexpr uint8_t BeginRastPattern = 0xB3;
constexpr uint8_t ReadRastPattern = 0xB4;
constexpr uint8_t EndRastPattern = 0xB5;
constexpr uint8_t BeginScan = 0xB6;
constexpr uint8_t EndScan = 0xB8;
constexpr uint8_t ScanLineRel = 0xB9;
constexpr uint8_t PassThrough = 0xBF;
} // namespace op

// Data type tags.
namespace dt
{
constexpr uint8_t UByte = 0xC0;
constexpr uint8_t UInt16 = 0xC1;
constexpr uint8_t UInt32 = 0xC2;
constexpr uint8_t SInt16 = 0xC3;
constexpr uint8_t SInt32 = 0xC4;
constexpr uint8_t Real32 = 0xC5;
constexpr uint8_t UByteArray = 0xC8;
constexpr uint8_t UInt16Array = 0xC9;
constexpr uint8_t UInt32Array = 0xCA;
constexpr uint8_t SInt16Array = 0xCB;
constexpr uint8_t SInt32Array = 0xCC;
constexpr uint8_t Real32Array = 0xCD;
constexpr uint8_t UByteXY = 0xD0;
constexpr uint8_t UInt16XY = 0xD1;
constexpr uint8_t UInt32XY = 0xD2;
constexpr uint8_t SInt16XY = 0xD3;
constexpr uint8_t SInt32XY = 0xD4;
constexpr uint8_t Real32XY = 0xD5;
constexpr uint8_t UByteBox = 0xE0;
constexpr uint8_t UInt16Box = 0xE1;
constexpr uint8_t UInt32Box = 0xE2;
constexpr uint8_t SInt16Box = 0xE3;
constexpr uint8_t SInt32Box = 0xE4;
constexpr uint8_t Real32Box = 0xE5;
} // namespace dt

// Attribute ids.
namespace attr
{
constexpr uint16_t PaletteDepth = 0x02;
constexpr uint16_t ColorSpace = 0x03;
constexpr uint16_t NullBrush = 0x04;
constexpr uint16_t NullPen = 0x05;
constexpr uint16_t PaletteData = 0x06;
constexpr uint16_t PaletteIndex = 0x07;
constexpr uint16_t PatternSelectID = 0x08;
constexpr uint16_t GrayLevel = 0x09;
constexpr uint16_t Lightness = 0x0A;
constexpr uint16_t RGBColor = 0x0B;
constexpr uint16_t PatternOrigin = 0x0C;
constexpr uint16_t NewDestinationSize = 0x0D;
constexpr uint16_t PrimaryArray = 0x0E;
constexpr uint16_t PrimaryDepth = 0x0F;
constexpr uint16_t Saturation = 0x10;
constexpr uint16_t ColorimetricColorSpace = 0x11;
constexpr uint16_t XYChromaticities = 0x12;
constexpr uint16_t WhiteReferencePoint = 0x13;
constexpr uint16_t CRGBMinMax = 0x14;
constexpr uint16_t GammaGain = 0x15;
constexpr uint16_t AllObjectTypes = 0x1D;
constexpr uint16_t TextObjects = 0x1E;
constexpr uint16_t VectorObjects = 0x1F;
constexpr uint16_t RasterObjects = 0x20;
constexpr uint16_t DeviceMatrix = 0x21;
constexpr uint16_t DitherMatrixDataType = 0x22;
constexpr uint16_t DitherOrigin = 0x23;
constexpr uint16_t MediaDestination = 0x24;
constexpr uint16_t MediaSize = 0x25;
constexpr uint16_t MediaSource = 0x26;
constexpr uint16_t MediaType = 0x27;
constexpr uint16_t Orientation = 0x28;
constexpr uint16_t PageAngle = 0x29;
constexpr uint16_t PageOrigin = 0x2A;
constexpr uint16_t PageScale = 0x2B;
constexpr uint16_t ROP3 = 0x2C;
constexpr uint16_t TxMode = 0x2D;
constexpr uint16_t CustomMediaSize = 0x2F;
constexpr uint16_t CustomMediaSizeUnits = 0x30;
constexpr uint16_t PageCopies = 0x31;
constexpr uint16_t DitherMatrixSize = 0x32;
constexpr uint16_t DitherMatrixDepth = 0x33;
constexpr uint16_t SimplexPageMode = 0x34;
constexpr uint16_t DuplexPageMode = 0x35;
constexpr uint16_t DuplexPageSide = 0x36;
constexpr uint16_t ArcDirection = 0x41;
constexpr uint16_t BoundingBox = 0x42;
constexpr uint16_t DashOffset = 0x43;
constexpr uint16_t EllipseDimension = 0x44;
constexpr uint16_t EndPoint = 0x45;
constexpr uint16_t FillMode = 0x46;
constexpr uint16_t LineCapStyle = 0x47;
constexpr uint16_t LineJoinStyle = 0x48;
constexpr uint16_t MiterLength = 0x49;
constexpr uint16_t LineDashStyle = 0x4A;
constexpr uint16_t PenWidth = 0x4B;
constexpr uint16_t Point = 0x4C;
constexpr uint16_t NumberOfPoints = 0x4D;
constexpr uint16_t SolidLine = 0x4E;
constexpr uint16_t StartPoint = 0x4F;
constexpr uint16_t PointType = 0x50;
constexpr uint16_t ControlPoint1 = 0x51;
constexpr uint16_t ControlPoint2 = 0x52;
constexpr uint16_t ClipRegion = 0x53;
constexpr uint16_t ClipMode = 0x54;
constexpr uint16_t ColorDepthArray = 0x61;
constexpr uint16_t ColorDepth = 0x62;
constexpr uint16_t BlockHeight = 0x63;
constexpr uint16_t ColorMapping = 0x64;
constexpr uint16_t CompressMode = 0x65;
constexpr uint16_t DestinationBox = 0x66;
constexpr uint16_t DestinationSize = 0x67;
constexpr uint16_t PatternPersistence = 0x68;
constexpr uint16_t PatternDefineID = 0x69;
constexpr uint16_t SourceHeight = 0x6B;
constexpr uint16_t SourceWidth = 0x6C;
constexpr uint16_t StartLine = 0x6D;
constexpr uint16_t PadBytesMultiple = 0x6E;
constexpr uint16_t BlockByteLength = 0x6F;
constexpr uint16_t NumberOfScanLines = 0x73;
constexpr uint16_t PrintableArea = 0x74;
constexpr uint16_t TumbleMode = 0x75;
constexpr uint16_t ContentOrientation = 0x76;
constexpr uint16_t FeedOrientation = 0x77;
constexpr uint16_t ColorTreatment = 0x78;
constexpr uint16_t CommentData = 0x81;
constexpr uint16_t DataOrg = 0x82;
constexpr uint16_t Measure = 0x86;
constexpr uint16_t SourceType = 0x88;
constexpr uint16_t UnitsPerMeasure = 0x89;
constexpr uint16_t QueryKey = 0x8A;
constexpr uint16_t StreamName = 0x8B;
constexpr uint16_t StreamDataLength = 0x8C;
constexpr uint16_t PCLSelectFont = 0x8D;
constexpr uint16_t ErrorReport = 0x8F;
constexpr uint16_t VUExtension = 0x91;
constexpr uint16_t VUDataLength = 0x92;
constexpr uint16_t VUAttr1 = 0x93; // VUAttr1 to VUAttr12 are 0x93 to 0x9E
constexpr uint16_t EnableDiagnostics = 0xA0;
constexpr uint16_t CharAngle = 0xA1;
constexpr uint16_t CharCode = 0xA2;
constexpr uint16_t CharDataSize = 0xA3;
constexpr uint16_t CharScale = 0xA4;
constexpr uint16_t CharShear = 0xA5;
constexpr uint16_t CharSize = 0xA6;
constexpr uint16_t FontHeaderLength = 0xA7;
constexpr uint16_t FontName = 0xA8;
constexpr uint16_t FontFormat = 0xA9;
constexpr uint16_t SymbolSet = 0xAA;
constexpr uint16_t TextData = 0xAB;
constexpr uint16_t CharSubModeArray = 0xAC;
constexpr uint16_t WritingMode = 0xAD;
constexpr uint16_t BitmapCharScaling = 0xAE;
constexpr uint16_t XSpacingData = 0xAF;
constexpr uint16_t YSpacingData = 0xB0;
constexpr uint16_t CharBoldValue = 0xB1;
} // namespace attr

// Values of the enumerated attributes most tools look at.
namespace val
{
constexpr uint8_t ePortraitOrientation = 0;
constexpr uint8_t eLandscapeOrientation = 1;
constexpr uint8_t eReversePortrait = 2;
constexpr uint8_t eReverseLandscape = 3;
constexpr uint8_t eDefaultOrientation = 4;

constexpr uint8_t eLetterPaper = 0;
constexpr uint8_t eLegalPaper = 1;
constexpr uint8_t eA4Paper = 2;
constexpr uint8_t eExecPaper = 3;
constexpr uint8_t eLedgerPaper = 4;
constexpr uint8_t eA3Paper = 5;
constexpr uint8_t eA5Paper = 16;
constexpr uint8_t eDefaultPaperSize = 96;

constexpr uint8_t eDefaultSource = 0;
constexpr uint8_t eAutoSelect = 1;
constexpr uint8_t eManualFeed = 2;
constexpr uint8_t eMultiPurposeTray = 3;

constexpr uint8_t eFrontMediaSide = 0;
constexpr uint8_t eBackMediaSide = 1;

constexpr uint8_t eGray = 1;
constexpr uint8_t eInch = 0;
constexpr uint8_t eBinaryHighByteFirst = 0;
constexpr uint8_t eBinaryLowByteFirst = 1;
constexpr uint8_t eDefaultDataSource = 0;
constexpr uint8_t eNoReporting = 0;
} // namespace val

enum class ElementType : uint8_t
{
    UByte,
    UInt16,
    UInt32,
    SInt16,
    SInt32,
    Real32
};

enum class Shape : uint8_t
{
    Scalar,
    Array,
    XY,
    Box
};

struct DataTypeInfo
{
    bool valid = false;
    ElementType element = ElementType::UByte;
    Shape shape = Shape::Scalar;
};

// What a data type tag (0xC0 to 0xE5) stands for; valid is false for other bytes.
DataTypeInfo dataTypeInfo(uint8_t tag);
// The data type tag for an element type and shape.
uint8_t dataTypeTag(ElementType element, Shape shape);
size_t elementSize(ElementType element);
const char *elementTypeName(ElementType element); // "ubyte", "uint16", ..., "real32"
const char *shapeName(Shape shape);               // "", "array", "xy", "box"

// 0x00, 0x09 to 0x0D and 0x20.
bool isWhitespace(uint8_t byte);

// How an operator relates to embedded data (0xFA or 0xFB block right after it).
enum class DataUse
{
    None,     // never followed by embedded data
    Required, // always followed by embedded data
    Optional  // followed by embedded data only in some forms (points, dither matrix, scan lines)
};

// Name of an operator tag, or nullptr when the byte is not a defined operator.
const char *operatorName(uint8_t tag);
bool isOperator(uint8_t tag);
DataUse operatorDataUse(uint8_t tag);
// Operator tag by name (exact spelling, e.g. "SetROP"); 0 when unknown.
uint8_t operatorByName(const char *name);

// Name of an attribute id, or nullptr when the id is not defined.
const char *attributeName(uint16_t id);
// Attribute id by name (exact spelling, e.g. "ROP3"); 0 when unknown.
uint16_t attributeByName(const char *name);

// Name of a value of an enumerated attribute (e.g. Orientation 1 ->
// "eLandscapeOrientation"), or nullptr when the attribute is not enumerated or
// the value has no name.
const char *enumValueName(uint16_t attribute, uint32_t value);
bool isEnumeratedAttribute(uint16_t attribute);
// Attributes whose arrays usually hold characters (FontName, TextData, ...).
bool isTextAttribute(uint16_t attribute);

} // namespace pclxl
