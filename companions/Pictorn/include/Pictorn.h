// Image library: turns page files into page images and page attributes.
//
// Page files are TIFF files, classic or BigTIFF, one or many images: bitonal, gray (1 to
// 16 bits, or 32-bit floating point), palette, RGB (4, 8 or 16 bits), CMYK, with or
// without alpha, in strips or tiles, contiguous or planar, either byte order, compressed
// none, LZW, PackBits, Deflate, CCITT G3 and G4 or JPEG. A PDF file given in memory is
// rendered where a renderer is built in (poppler on Linux; never on Windows). On Windows
// the imaging component decodes: what it does not read (Wine's: planar images) fails.
//
// Pages. Only full-resolution images are pages: a reduced-resolution image (a thumbnail)
// or a transparency mask (NewSubfileType bits 0 and 2, SubfileType 2) is skipped, and
// images in SubIFDs are never seen. Image counts and indexes count pages only.
//
// Image values. A page image is an object of this library; the 64-bit image value is its
// handle and the host releases it with PictornReleaseImage. Handing a page over decodes
// it whole (an image that cannot be decoded is never handed over). A page whose encoding
// every reader takes (see PictornPageFile) keeps its own encoded data and only that; any
// other page keeps its decoded pixels, which PictornPageFile encodes anew.
// Image size. The byte count of the page's encoded image data (the sum of its strip or
// tile byte counts); for a rendered PDF, the byte count of the PDF.
//
// Page attributes written into the page container:
//   kPageResolutionX / kPageResolutionY  dpi, rounded. Centimetre resolutions are
//                                         converted; a file that gives no resolution, or
//                                         none in an absolute unit, counts as 300 dpi.
//   kPageBitDepth                         bits per pixel of the page as handed over: 1
//                                         bitonal, 8 gray, 24 colour (a palette of black
//                                         and white gives 1, one of grays 8; alpha is laid
//                                         on white paper; 16-bit and float samples give 8)
//   kPageWidth / kPageHeight              tenths of a millimetre: pixels / dpi * 254,
//                                         rounded (A4 at 300 dpi, 2480 x 3508, gives
//                                         2100 x 2970)
//
// Files are untrusted: sizes and offsets are checked against the file, loops in a chain
// of directories end it, and every cost is bounded by the limits below. A page beyond a
// limit fails with the reason in PictornLastError; nothing is cut silently.
//
// All functions may be called from any thread. Nothing throws.
#pragma once

#include <cstdint>

class CAttrContainer;

// The page attributes the library writes into a page container (scope 1): long values
// keyed by the host's attribute ids.
inline constexpr std::uint32_t kPictornAttrResolutionX = 0x01020001;  // dpi
inline constexpr std::uint32_t kPictornAttrResolutionY = 0x01020002;  // dpi
inline constexpr std::uint32_t kPictornAttrBitDepth = 0x01020003;     // bits per pixel
inline constexpr std::uint32_t kPictornAttrWidth = 0x01020004;        // tenths of a millimetre
inline constexpr std::uint32_t kPictornAttrHeight = 0x01020005;       // tenths of a millimetre
inline constexpr std::uint8_t kPictornPageScope = 1;

// Results of the page calls: 0 is success, everything else a failure.
enum : std::int32_t {
  kPictornOk = 0,
  kPictornNotAnImage = 1,   // not a file this library reads, a damaged one, or an image
                            // that cannot be decoded
  kPictornNoSuchImage = 2,  // the index is beyond the page images of the file
  kPictornBadArgument = 3,  // a null output, a reserved argument out of place, a document container
  kPictornReadFailed = 4,   // the file could not be read
  kPictornNoRenderer = 5,   // a PDF, and this build renders none
  kPictornRenderFailed = 6, // a PDF the renderer refused
  kPictornNoMemory = 7,
  kPictornTooLarge = 8,     // the page is beyond one of the limits below
};

// PictornImageCount: the file could not be read at all.
inline constexpr std::int32_t kPictornUnreadable = -1;
// PictornImageCount: the file holds more page images than kPictornMaxImages. None of them
// is read; the file is left for a person to split.
inline constexpr std::int32_t kPictornTooManyImages = -2;

// ---- Limits: what a hostile file can cost ----------------------------------------------
// Files this large or larger are refused: no page file of a scanned document comes near.
inline constexpr std::uint64_t kPictornMaxFileBytes = 1ull << 30;
// The most page images of one file. A document of 20,000 pages still reads; walking a
// longer chain of directories is refused before it costs time or memory.
inline constexpr std::int32_t kPictornMaxImages = 50000;
// The most pixels of one decoded page: A4 at 600 dpi (34.8 million) fits. A colour page of
// this size is 108 MB decoded, so that the page, its encoding and the host's copy stay
// within the 300 MiB a host process may use.
inline constexpr std::uint64_t kPictornMaxPagePixels = 36'000'000;
// The most encoded bytes of one page kept in memory (its strips or tiles): more than any
// page within the pixel limit needs in a common encoding.
inline constexpr std::uint64_t kPictornMaxPageBytes = 128ull << 20;
// The most pixels of a rendered PDF page. Larger pages are rendered at a lower
// resolution than 200 dpi, which the page attributes then state: A3 at 200 dpi (7.8
// million) keeps its resolution; the renderer's own 4-byte pixels stay below 48 MB.
inline constexpr std::uint64_t kPictornMaxRenderPixels = 12'000'000;

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

// The number of page images in an open file (read access; a POSIX descriptor or a Win32
// HANDLE). The file may be positioned anywhere; it is read at explicit offsets. 0 when the
// file is not an image this library reads or holds no page image, kPictornUnreadable when
// it could not be read at all, kPictornTooManyImages beyond kPictornMaxImages.
// The walk of the file's directories is kept for the file (by its identity: device and
// file number, size and time of last change), so that reading its images one after
// another with the same handle costs time in proportion to their number.
std::int32_t PictornImageCount(std::intptr_t file);

// Reads page image `index` (from 0) of an open file, decoding it whole. 0: `*image`, `*imageSize` and the
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

// The decoded image, pixels kept at hand-over or decoded again from the page's own data.
// False (and `pixels` zeroed) when it cannot be had.
bool PictornDecode(std::uint64_t image, PictornPixels* pixels);
void PictornFreePixels(PictornPixels* pixels);

// Writes PictornPageFile's bytes to a file. The path is UTF-8; an existing file is replaced.
bool PictornSavePage(std::uint64_t image, const char* utf8Path);

// A page image as a file in memory, owned by the library: free with PictornFreeFileBytes.
struct PictornFileBytes {
  std::uint8_t* data;
  std::uint64_t size;
};
// The page as a self-contained single-image classic TIFF file the host can store as it
// is, with its resolution. A page in an encoding every reader takes keeps its own encoded
// data (nothing is decoded or encoded again): bitonal (MinIsWhite or MinIsBlack, first
// bit leftmost) in strips, uncompressed, CCITT, LZW, PackBits or Deflate; 8-bit gray and
// 8-bit RGB in strips, contiguous, uncompressed, LZW, PackBits, Deflate or JPEG. Every
// other page (palette, alpha, float, 16 or 4 bits, CMYK, planar, tiled, FillOrder 2, a
// rendered PDF page) is encoded from its pixels in memory: bitonal as CCITT G4, gray and
// colour as LZW. False (and `out` zeroed) when it cannot be had; PictornLastError says why.
bool PictornPageFile(std::uint64_t image, PictornFileBytes* out);
void PictornFreeFileBytes(PictornFileBytes* bytes);

// Why the last failing call of this thread failed, naming the file's problem ("" after
// a success). Valid until the next call on the same thread.
const char* PictornLastError();
