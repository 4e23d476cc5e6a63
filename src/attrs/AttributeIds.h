// Every attribute id the module writes. An id is scope (bits 24-31: 0x01 page, 0x02
// document), value type (bits 16-23: 0x00 int, 0x02 long, 0x07 text, 0x08 binary) and a
// 16-bit number. No bare attribute number appears anywhere else in the code.
#pragma once

#include <cstdint>

#include "Pictorn.h"

namespace es::attrs {

using AttrId = std::uint32_t;

inline constexpr std::uint8_t kScopePage = 1;
inline constexpr std::uint8_t kScopeDocument = 2;

inline constexpr std::uint8_t kTypeInt = 0x00;
inline constexpr std::uint8_t kTypeLong = 0x02;
inline constexpr std::uint8_t kTypeText = 0x07;
inline constexpr std::uint8_t kTypeBinary = 0x08;

constexpr std::uint8_t ScopeOf(AttrId id) { return static_cast<std::uint8_t>(id >> 24); }
constexpr std::uint8_t TypeOf(AttrId id) { return static_cast<std::uint8_t>((id >> 16) & 0xFF); }

// Page attributes.
inline constexpr AttrId kPageResolutionX = 0x01020001;   // long, dpi
inline constexpr AttrId kPageResolutionY = 0x01020002;   // long, dpi
inline constexpr AttrId kPageBitDepth = 0x01020003;      // long
inline constexpr AttrId kPageWidth = 0x01020004;         // long, tenths of a millimetre
inline constexpr AttrId kPageHeight = 0x01020005;        // long, tenths of a millimetre
// Page attributes whose meaning is the host's: the module only carries values into them.
// Each is named after where its value comes from: a version-1 page record of that type
// (element defaults otherwise), or the one value it ever has.
inline constexpr AttrId kPageRecord108 = 0x01000007;     // int
inline constexpr AttrId kPageRecord10A = 0x01020008;     // long
inline constexpr AttrId kPageRecord10B = 0x01020009;     // long
inline constexpr AttrId kPageRecord10C = 0x0102000A;     // long
inline constexpr AttrId kPageRecord10D = 0x0102000B;     // long
inline constexpr AttrId kPageRecord109 = 0x0102000C;     // long
inline constexpr AttrId kPageAlwaysZero = 0x0102000D;    // long, always 0
inline constexpr AttrId kPageAlwaysOne = 0x0102000E;     // long, always 1
inline constexpr AttrId kPageSourceName = 0x0107000F;    // text
inline constexpr AttrId kPageScanStamp = 0x01080011;     // binary, 248 bytes
inline constexpr AttrId kPageValueBlock = 0x01080012;    // binary, 16 bytes: a 32-bit value, then zeros
inline constexpr AttrId kPageAllowRescan = 0x01020014;   // long
inline constexpr AttrId kPageFirstOfDocument = 0x01000015;  // int
inline constexpr AttrId kPageSignature = 0x010000CB;     // int, the element's signature

// Document attributes.
inline constexpr AttrId kDocBarcode = 0x02070065;        // text
inline constexpr AttrId kDocPileIndex = 0x02070067;      // text
inline constexpr AttrId kDocText2 = 0x02070068;          // text, version-1 document record 2
inline constexpr AttrId kDocBarcodePending = 0x02020069;  // long
inline constexpr AttrId kDocScanBatch = 0x0207012C;      // text
inline constexpr AttrId kDocScanFolder = 0x0207012D;     // text
inline constexpr AttrId kDocCommandsFile = 0x02080064;   // binary
inline constexpr AttrId kDocKvAttrFile = 0x0208006A;     // binary

// Sizes of the binary attributes.
inline constexpr std::uint32_t kScanStampSize = 248;
inline constexpr std::uint32_t kScanStampUserOffset = 8;
inline constexpr std::uint32_t kScanStampUserChars = 101;
inline constexpr std::uint32_t kScanStampComputerOffset = 210;
inline constexpr std::uint32_t kScanStampComputerChars = 16;
inline constexpr std::uint32_t kValueBlockSize = 16;

// The image library writes the page's size and resolution under the same ids.
static_assert(kPageResolutionX == kPictornAttrResolutionX && kPageResolutionY == kPictornAttrResolutionY &&
              kPageBitDepth == kPictornAttrBitDepth && kPageWidth == kPictornAttrWidth &&
              kPageHeight == kPictornAttrHeight && kScopePage == kPictornPageScope);

}  // namespace es::attrs
