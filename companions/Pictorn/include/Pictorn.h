// Image library: turns page files into page images and page attributes.
//
// Page files are TIFF files (classic TIFF, one or many images, compressions none, LZW,
// PackBits, Deflate, CCITT G3 and G4, JPEG); a PDF file given in memory is rendered
// where a renderer is built in (poppler on Linux; never on Windows).
//
// Image values. A page image is an object of this library; the 64-bit image value is its
// handle and the host releases it with PictornReleaseImage. Handing a page over reads
// only the directory of that image and copies its encoded data into the object; pixels
// are decoded when the host asks for them (PictornDecode, PictornSavePage).
// Image size. The byte count of the page's encoded image data (the sum of its strip or
// tile byte counts); for a rendered PDF, the byte count of the PDF.
//
// Page attributes written into the page container:
//   kPageResolutionX / kPageResolutionY  dpi, rounded. Centimetre resolutions are
//                                         converted; a file that gives no resolution, or
//                                         none in an absolute unit, counts as 300 dpi.
//   kPageBitDepth                         bits per pixel (bits per sample times samples
//                                         per pixel: 1 for bitonal, 8 gray, 24 colour)
//   kPageWidth / kPageHeight              tenths of a millimetre: pixels / dpi * 254,
//                                         rounded (A4 at 300 dpi, 2480 x 3508, gives
//                                         2100 x 2970)
//
// Files are untrusted: sizes and offsets are checked against the file, a chain of
// directories is followed for at most 10000 images and never round a loop, and a page
// whose image data lies beyond the end of the file is not handed over.
//
// All functions may be called from any thread. Nothing throws.
#pragma once

#include <cstdint>

class CAttrContainer;

// Results of the page calls: 0 is success, everything else a failure.
enum : std::int32_t {
  kPictornOk = 0,
  kPictornNotAnImage = 1,   // not a file this library reads, or a damaged one
  kPictornNoSuchImage = 2,  // the index is beyond the images of the file
  kPictornBadArgument = 3,  // a null output, a reserved argument out of place, a document container
  kPictornReadFailed = 4,   // the file could not be read
  kPictornNoRenderer = 5,   // a PDF, and this build renders none
  kPictornRenderFailed = 6, // a PDF the renderer refused
  kPictornNoMemory = 7,
};

// Files this large or larger are refused.
inline constexpr std::uint64_t kPictornMaxFileBytes = 1ull << 30;
// At most this many images of one file are seen.
inline constexpr std::int32_t kPictornMaxImages = 10000;

struct PictornInfo {
  std::uint32_t width;         // pixels
  std::uint32_t height;        // pixels
  std::uint32_t bitsPerPixel;
  std::uint32_t xDpi;          // as written into the page attributes
  std::uint32_t yDpi;
  std::uint32_t index;         // the image's index in its file (0 for a PDF page)
  char compression[24];        // "none", "LZW", "PackBits", "CCITT G3", "CCITT G4", "JPEG",
                               // "Deflate", "PDF", ... NUL-terminated
};

// Decoded pixels, rows top to bottom, `stride` bytes apart.
//   format 1:  bitonal, 1 bit per pixel, most significant bit first, a set bit is black
//   format 8:  gray, 1 byte per pixel, 0 is black
//   format 24: colour, 3 bytes per pixel, red, green, blue
struct PictornPixels {
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t format;
  std::uint32_t stride;
  std::uint8_t* data;  // owned by the library: free with PictornFreePixels
};

// The number of images in an open file (read access; a POSIX descriptor or a Win32
// HANDLE). The file may be positioned anywhere; it is read at explicit offsets. 0 or less
// when the file is not an image this library reads (-1: it could not be read at all).
std::int32_t PictornImageCount(std::intptr_t file);

// Reads image `index` (from 0) of an open file. 0: `*image`, `*imageSize` and the
// attributes in `page` are set; when `page` is null, a new page container (scope 1) is
// created and stored through it. Any other result: nothing was changed. `one` must be 1.
std::int32_t GT_CreatePageAttrsFromHandle(std::intptr_t file, std::int32_t index,
                                          std::uint64_t* image, std::uint32_t* imageSize,
                                          CAttrContainer*& page, std::int32_t one);

// As GT_CreatePageAttrsFromHandle, from `count` bytes in memory: the first image of a
// TIFF file, or the first page of a PDF rendered at 200 dpi in colour. `zero` must be 0
// and `one` 1. The bytes are copied; the caller keeps them.
std::int32_t PictornImageFromMemory(std::uint64_t* image, std::int32_t zero,
                                    std::uint32_t* imageSize, CAttrContainer*& page,
                                    std::int32_t one, const std::uint8_t* bytes,
                                    std::uint32_t count);

// Releases an image value. Unknown values and 0 are ignored.
void PictornReleaseImage(std::uint64_t image);

// False for an unknown image value or a null `info`.
bool PictornImageInfo(std::uint64_t image, PictornInfo* info);

// Decodes the image. False (and `pixels` zeroed) when it cannot be decoded.
bool PictornDecode(std::uint64_t image, PictornPixels* pixels);
void PictornFreePixels(PictornPixels* pixels);

// Writes the image as a single-page TIFF file (bitonal pages CCITT G4 where the platform
// encoder offers it, others LZW or uncompressed), with the page's resolution. The path
// is UTF-8; an existing file is replaced.
bool PictornSavePage(std::uint64_t image, const char* utf8Path);

// A page image as a file in memory, owned by the library: free with PictornFreeFileBytes.
struct PictornFileBytes {
  std::uint8_t* data;
  std::uint64_t size;
};
// The page as a self-contained single-image TIFF file the host can store as it is, with
// its resolution: a page read from a TIFF file keeps its own encoded data (nothing is
// decoded or encoded again); a rendered page is encoded. False (and `out` zeroed) when it
// cannot be had; PictornLastError says why.
bool PictornPageFile(std::uint64_t image, PictornFileBytes* out);
void PictornFreeFileBytes(PictornFileBytes* bytes);

// Why the last failing call of this thread failed, naming the file's problem ("" after
// a success). Valid until the next call on the same thread.
const char* PictornLastError();
