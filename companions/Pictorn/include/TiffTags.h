// Tag numbers and field types of TIFF image directories, as TIFF 6.0 and its BigTIFF
// extension number them: one table for whoever reads or writes TIFF here
// (the image library, and the producer kit that writes page files).
#pragma once

#include <cstdint>

namespace tifftag {

enum : std::uint16_t {
  kNewSubfileType = 254,
  kSubfileType = 255,
  kWidth = 256,
  kHeight = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometric = 262,
  kFillOrder = 266,
  kStripOffsets = 273,
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kStripByteCounts = 279,
  kXResolution = 282,
  kYResolution = 283,
  kPlanarConfig = 284,
  kFreeOffsets = 288,
  kFreeByteCounts = 289,
  kT4Options = 292,
  kT6Options = 293,
  kResolutionUnit = 296,
  kPageNumber = 297,
  kPredictor = 317,
  kColorMap = 320,
  kTileWidth = 322,
  kTileLength = 323,
  kTileOffsets = 324,
  kTileByteCounts = 325,
  kSubIfds = 330,
  kInkSet = 332,
  kExtraSamples = 338,
  kSampleFormat = 339,
  kOldJpegFirst = 513,  // 513 to 521: offsets into the file for old-style JPEG
  kOldJpegLast = 521,
  kYCbCrSubsampling = 530,
  kExifIfd = 34665,
  kGpsIfd = 34853,
  kInteropIfd = 40965,
};

// Field types.
enum : std::uint16_t {
  kTypeByte = 1,
  kTypeShort = 3,
  kTypeLong = 4,
  kTypeRational = 5,
  kTypeIfd = 13,
  kTypeLong8 = 16,
  kTypeSlong8 = 17,
  kTypeIfd8 = 18,
};

}  // namespace tifftag
