// The driver's settings block: the 1625-byte record that the rendering driver
// writes as the first buffer of every job. A public DEVMODEW, then the
// driver's private part, byte-packed and little-endian; 16-bit fields stand at
// odd and even offsets alike. Only the fields below are read or written by
// the hook; every other byte belongs to the rendering driver and travels with
// the block untouched.
#pragma once

#include <stddef.h>
#include <string.h>

#include <windows.h>

#define DRVDEVMODE_SIZE 1625

// Widths of the 8-bit (system code page) strings of the block.
#define CB_OVERLAY_FILE 260
#define CB_WM_TEXT 80
#define CB_WM_FACENAME 32
#define CB_USER_ID 80

#pragma pack(push, 1)
typedef struct _DRVDEVMODE
{
    DEVMODEW dmPublic;                   //    0: dmDeviceName, dmOrientation (76), dmScale (84), dmCopies (86)
    BYTE abReserved220[334 - 220];       //
    SHORT sMediaKind;                    //  334: 3 = transparency
    SHORT sOhpInterleave;                //  336: > 0 separator sheets; 1 same page, 2/3 last page
    BYTE abReserved338[360 - 338];       //
    SHORT sOverlayRepeat;                //  360: 3 = overlay creation ignores the once-only mark
    BYTE abReserved362[624 - 362];       //
    SHORT sDeferText;                    //  624: deferred-text capture
    SHORT sTextMode;                     //  626: 2 = no capture
    SHORT sWmSizeSnap;                   //  628: 1 = watermark font sizes snapped
    BYTE abReserved630[632 - 630];       //
    SHORT sBooklet;                      //  632
    BYTE abReserved634[640 - 634];       //
    CHAR szOverlayFile[CB_OVERLAY_FILE]; //  640: overlay path (ANSI)
    SHORT sOverlayMode;                  //  900: 0 none, 1 print with, 2 create
    SHORT sManualDuplex;                 //  902: nonzero manual duplex; 2 with sBooklet: booklet by hand
    SHORT sInstructionPage;              //  904: > 0 instruction page first
    SHORT sManualDuplexOrder;            //  906: second pass 0 ascending, 1 descending
    BYTE abReserved908[914 - 908];       //
    SHORT sReverseOrder;                 //  914: 1 reverse, 2 odd, 3 even
    SHORT sCollate;                      //  916: 1 = collated by the hook
    BYTE abReserved918[994 - 918];       //
    SHORT sCopyCommand;                  //  994: 1 = copy command in the end marker
    SHORT sOhpOption;                    //  996: nonzero = each pair starts with the transparency
    SHORT sOverlayQuery;                 //  998: ask before printing with the overlay
    SHORT sHardwareBooklet;              // 1000: 2 = the printer makes the booklet
    SHORT sReverseLeadIn;                // 1002
    SHORT sWatermarkOn;                  // 1004
    CHAR szWmText[CB_WM_TEXT];           // 1006: watermark text (ANSI)
    SHORT sWmFontSize;                   // 1086: points
    SHORT sWmAngle;                      // 1088: degrees, counter-clockwise
    SHORT sPassThrough;                  // 1090
    CHAR szWmFaceName[CB_WM_FACENAME];   // 1092: (ANSI)
    SHORT sWmOffsetX;                    // 1124: device units from the page centre, right
    SHORT sWmOffsetY;                    // 1126: device units from the page centre, down
    BYTE abReserved1128[1130 - 1128];    //
    SHORT sWmOutline;                    // 1130: 1 = outlined letters
    SHORT sWmFirstPageOnly;              // 1132
    COLORREF crWmColor;                  // 1134
    BYTE abReserved1138[1140 - 1138];    //
    LONG lWmWeight;                      // 1140
    BYTE bWmItalic;                      // 1144
    BYTE abReserved1145[1407 - 1145];    //
    CHAR szUserID[CB_USER_ID];           // 1407: user identifier (ANSI)
    BYTE abReserved1487[1581 - 1487];    //
    SHORT sBookletOption;                // 1581: booklet reading direction 0 or 1
    BYTE abReserved1583[DRVDEVMODE_SIZE - 1583];
} DRVDEVMODE, *PDRVDEVMODE;
#pragma pack(pop)

static_assert(sizeof(DRVDEVMODE) == DRVDEVMODE_SIZE, "settings block size");
static_assert(offsetof(DRVDEVMODE, dmPublic.dmDeviceName) == 0, "dmDeviceName");
static_assert(offsetof(DRVDEVMODE, dmPublic.dmOrientation) == 76, "dmOrientation");
static_assert(offsetof(DRVDEVMODE, dmPublic.dmScale) == 84, "dmScale");
static_assert(offsetof(DRVDEVMODE, dmPublic.dmCopies) == 86, "dmCopies");
static_assert(offsetof(DRVDEVMODE, sMediaKind) == 334, "sMediaKind");
static_assert(offsetof(DRVDEVMODE, sOhpInterleave) == 336, "sOhpInterleave");
static_assert(offsetof(DRVDEVMODE, sOverlayRepeat) == 360, "sOverlayRepeat");
static_assert(offsetof(DRVDEVMODE, sDeferText) == 624, "sDeferText");
static_assert(offsetof(DRVDEVMODE, sTextMode) == 626, "sTextMode");
static_assert(offsetof(DRVDEVMODE, sWmSizeSnap) == 628, "sWmSizeSnap");
static_assert(offsetof(DRVDEVMODE, sBooklet) == 632, "sBooklet");
static_assert(offsetof(DRVDEVMODE, szOverlayFile) == 640, "szOverlayFile");
static_assert(offsetof(DRVDEVMODE, sOverlayMode) == 900, "sOverlayMode");
static_assert(offsetof(DRVDEVMODE, sManualDuplex) == 902, "sManualDuplex");
static_assert(offsetof(DRVDEVMODE, sInstructionPage) == 904, "sInstructionPage");
static_assert(offsetof(DRVDEVMODE, sManualDuplexOrder) == 906, "sManualDuplexOrder");
static_assert(offsetof(DRVDEVMODE, sReverseOrder) == 914, "sReverseOrder");
static_assert(offsetof(DRVDEVMODE, sCollate) == 916, "sCollate");
static_assert(offsetof(DRVDEVMODE, sCopyCommand) == 994, "sCopyCommand");
static_assert(offsetof(DRVDEVMODE, sOhpOption) == 996, "sOhpOption");
static_assert(offsetof(DRVDEVMODE, sOverlayQuery) == 998, "sOverlayQuery");
static_assert(offsetof(DRVDEVMODE, sHardwareBooklet) == 1000, "sHardwareBooklet");
static_assert(offsetof(DRVDEVMODE, sReverseLeadIn) == 1002, "sReverseLeadIn");
static_assert(offsetof(DRVDEVMODE, sWatermarkOn) == 1004, "sWatermarkOn");
static_assert(offsetof(DRVDEVMODE, szWmText) == 1006, "szWmText");
static_assert(offsetof(DRVDEVMODE, sWmFontSize) == 1086, "sWmFontSize");
static_assert(offsetof(DRVDEVMODE, sWmAngle) == 1088, "sWmAngle");
static_assert(offsetof(DRVDEVMODE, sPassThrough) == 1090, "sPassThrough");
static_assert(offsetof(DRVDEVMODE, szWmFaceName) == 1092, "szWmFaceName");
static_assert(offsetof(DRVDEVMODE, sWmOffsetX) == 1124, "sWmOffsetX");
static_assert(offsetof(DRVDEVMODE, sWmOffsetY) == 1126, "sWmOffsetY");
static_assert(offsetof(DRVDEVMODE, sWmOutline) == 1130, "sWmOutline");
static_assert(offsetof(DRVDEVMODE, sWmFirstPageOnly) == 1132, "sWmFirstPageOnly");
static_assert(offsetof(DRVDEVMODE, crWmColor) == 1134, "crWmColor");
static_assert(offsetof(DRVDEVMODE, lWmWeight) == 1140, "lWmWeight");
static_assert(offsetof(DRVDEVMODE, bWmItalic) == 1144, "bWmItalic");
static_assert(offsetof(DRVDEVMODE, szUserID) == 1407, "szUserID");
static_assert(offsetof(DRVDEVMODE, sBookletOption) == 1581, "sBookletOption");
