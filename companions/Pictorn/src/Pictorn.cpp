#include "Pictorn.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "Codec.h"
#include "Pdf.h"
#include "Quillet.h"
#include "Source.h"
#include "TiffLayout.h"
#include "attrs/AttributeIds.h"

namespace pictorn {

bool Allocate(Pixels* pixels, std::uint32_t width, std::uint32_t height, std::uint32_t format) {
  const std::uint64_t stride = format == 1 ? (std::uint64_t{width} + 7) / 8
                               : format == 8 ? std::uint64_t{width}
                                             : 3 * std::uint64_t{width};
  if (stride * height > kMaxPixelBytes) return false;
  pixels->width = width;
  pixels->height = height;
  pixels->format = format;
  pixels->stride = static_cast<std::uint32_t>(stride);
  pixels->data.assign(stride * height, 0);
  return true;
}

// Encodes through a temporary file; only rendered pages (PDF) take this way.
bool CodecWriteMemory(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi, Bytes* file, std::string* why) {
  namespace fs = std::filesystem;
  static std::atomic<unsigned> serial{0};
  std::error_code ec;
  const fs::path path = fs::temp_directory_path(ec) /
                        ("pictorn-" + std::to_string(reinterpret_cast<std::uintptr_t>(&pixels)) + "-" +
                         std::to_string(serial++) + ".tif");
  if (ec) {
    *why = "no folder for temporary files: " + ec.message();
    return false;
  }
  const auto u8 = path.u8string();
  const bool written = CodecWrite(pixels, xDpi, yDpi, std::string(u8.begin(), u8.end()), why);
  if (written) {
    std::ifstream in(path, std::ios::binary);
    file->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) *why = "cannot read back the encoded page";
  }
  fs::remove(path, ec);
  return written && !file->empty();
}

namespace {

// A file that states no resolution in inches or centimetres is taken to be scanned at
// this many dots per inch, the resolution the module assumes for pages without one.
constexpr double kDefaultDpi = 300;
constexpr double kMaxDpi = 100000;

struct Image {
  Bytes tiff;      // the page as a single-image TIFF file; empty for a rendered page
  TiffPage page;
  Pixels rendered;  // a rendered PDF page
  PictornInfo info{};
  double xDpi = kDefaultDpi;
  double yDpi = kDefaultDpi;
};

// Image values handed out and not yet released: a value the host passes back is only
// used when it is one of them.
std::mutex imagesLock;
std::unordered_set<const Image*> images;

std::uint64_t Register(const Image* image) {
  const std::lock_guard<std::mutex> hold(imagesLock);
  images.insert(image);
  return reinterpret_cast<std::uintptr_t>(image);
}

void Unregister(const Image* image) {
  const std::lock_guard<std::mutex> hold(imagesLock);
  images.erase(image);
}

const Image* Find(std::uint64_t value) {
  const auto* image = reinterpret_cast<const Image*>(static_cast<std::uintptr_t>(value));
  const std::lock_guard<std::mutex> hold(imagesLock);
  return images.count(image) ? image : nullptr;
}

// Plain bytes: a thread_local with a destructor misbehaves in DLLs that threads outlive.
thread_local char lastError[512];

void SetError(const std::string& text) {
  const std::size_t n = std::min(text.size(), sizeof lastError - 1);
  std::memcpy(lastError, text.data(), n);
  lastError[n] = '\0';
}

std::int32_t Fail(std::int32_t code, const std::string& why) {
  SetError(why);
  return code;
}

std::int32_t Succeed() {
  lastError[0] = '\0';
  return kPictornOk;
}

double Dpi(double value, std::uint32_t unit) {
  if (unit == 1) return 0;  // no absolute unit: the values give only the aspect ratio
  if (unit == 3) value *= 2.54;
  return value >= 1 && value <= kMaxDpi ? value : 0;
}

void ResolveDpi(const TiffPage& page, double* x, double* y) {
  *x = Dpi(page.xResolution, page.resolutionUnit);
  *y = Dpi(page.yResolution, page.resolutionUnit);
  if (*x == 0) *x = *y;
  if (*y == 0) *y = *x;
  if (*x == 0) *x = *y = kDefaultDpi;
}

const char* CompressionName(std::uint32_t code) {
  switch (code) {
    case 1: return "none";
    case 2: return "CCITT RLE";
    case 3: return "CCITT G3";
    case 4: return "CCITT G4";
    case 5: return "LZW";
    case 6: return "old JPEG";
    case 7: return "JPEG";
    case 8:
    case 32946: return "Deflate";
    case 32773: return "PackBits";
    default: return nullptr;
  }
}

void FillInfo(Image& image, std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
              std::uint32_t index, const std::string& compression) {
  PictornInfo& info = image.info;
  info.width = width;
  info.height = height;
  info.bitsPerPixel = bitsPerPixel;
  info.xDpi = static_cast<std::uint32_t>(std::lround(image.xDpi));
  info.yDpi = static_cast<std::uint32_t>(std::lround(image.yDpi));
  info.index = index;
  const std::size_t n = std::min(compression.size(), sizeof info.compression - 1);
  std::memcpy(info.compression, compression.data(), n);
  info.compression[n] = '\0';
}

long TenthsOfMillimetre(std::uint32_t pixels, double dpi) {
  return std::lround(pixels * 254.0 / dpi);
}

bool IsPageContainer(const CAttrContainer* page) {
  return !page || page->Scope() == es::attrs::kScopePage;
}

// Hands a finished image over: outputs and attributes change only here, all at once.
std::int32_t HandOver(std::unique_ptr<Image> image, std::uint32_t dataBytes, std::uint64_t* value,
                      std::uint32_t* imageSize, CAttrContainer*& page) {
  std::unique_ptr<CAttrContainer> created;
  CAttrContainer* target = page;
  if (!target) {
    created = std::make_unique<CAttrContainer>(es::attrs::kScopePage);
    target = created.get();
  }
  const std::uint64_t handle = Register(image.get());
  try {
    const PictornInfo& info = image->info;
    target->SetAttr(es::attrs::kPageResolutionX, static_cast<long>(info.xDpi), 0);
    target->SetAttr(es::attrs::kPageResolutionY, static_cast<long>(info.yDpi), 0);
    target->SetAttr(es::attrs::kPageBitDepth, static_cast<long>(info.bitsPerPixel), 0);
    target->SetAttr(es::attrs::kPageWidth, TenthsOfMillimetre(info.width, image->xDpi), 0);
    target->SetAttr(es::attrs::kPageHeight, TenthsOfMillimetre(info.height, image->yDpi), 0);
  } catch (...) {
    Unregister(image.get());
    throw;
  }
  image.release();
  *value = handle;
  *imageSize = dataBytes;
  if (created) page = created.release();
  return Succeed();
}

std::int32_t FromTiff(Source& source, std::uint32_t index, std::uint64_t* value,
                      std::uint32_t* imageSize, CAttrContainer*& page) {
  std::string why;
  TiffFile tiff(source);
  if (!tiff.Open(&why)) return Fail(kPictornNotAnImage, why);
  const std::vector<std::uint64_t> directories = tiff.Directories(index + 1);
  if (directories.empty()) return Fail(kPictornNotAnImage, "the file has no readable image directory");
  if (directories.size() <= index) {
    return Fail(kPictornNoSuchImage, "the file holds " + std::to_string(directories.size()) +
                                         " image(s); image " + std::to_string(index) + " was asked for");
  }
  auto image = std::make_unique<Image>();
  if (!tiff.ExtractPage(directories[index], &image->page, &image->tiff, &why) ||
      !CodecAccepts(image->tiff, image->page, &why)) {
    return Fail(kPictornNotAnImage, "image " + std::to_string(index) + ": " + why);
  }
  const TiffPage& p = image->page;
  ResolveDpi(p, &image->xDpi, &image->yDpi);
  const char* name = CompressionName(p.compression);
  FillInfo(*image, p.width, p.height, p.bitsPerSample * p.samplesPerPixel, index,
           name ? name : "code " + std::to_string(p.compression));
  return HandOver(std::move(image), static_cast<std::uint32_t>(p.dataBytes), value, imageSize, page);
}

std::int32_t FromPdf(const std::uint8_t* bytes, std::uint32_t count, std::uint64_t* value,
                     std::uint32_t* imageSize, CAttrContainer*& page) {
  auto image = std::make_unique<Image>();
  std::uint32_t dpi = 200;
  std::string why;
  switch (RenderFirstPage(bytes, count, &image->rendered, &dpi, &why)) {
    case PdfResult::Rendered: break;
    case PdfResult::NoRenderer: return Fail(kPictornNoRenderer, why);
    case PdfResult::Failed: return Fail(kPictornRenderFailed, why);
  }
  image->xDpi = image->yDpi = dpi;
  FillInfo(*image, image->rendered.width, image->rendered.height, 24, 0, "PDF");
  return HandOver(std::move(image), count, value, imageSize, page);
}

bool Decoded(const Image& image, Pixels* pixels, std::string* why) {
  if (image.tiff.empty()) {
    *pixels = image.rendered;
    return true;
  }
  return CodecDecode(image.tiff, image.page, pixels, why);
}

}  // namespace
}  // namespace pictorn

using namespace pictorn;

std::int32_t PictornImageCount(std::intptr_t file) {
  try {
    std::string why;
    const std::unique_ptr<Source> source = OpenFileSource(file, &why);
    if (!source) {
      SetError(why);
      return -1;
    }
    if (source->Size() >= kPictornMaxFileBytes) {
      SetError("the file is too large");
      return 0;
    }
    TiffFile tiff(*source);
    if (!tiff.Open(&why)) {
      SetError(why);
      return 0;
    }
    const std::vector<std::uint64_t> directories = tiff.Directories(kPictornMaxImages);
    TiffPage first;
    if (directories.empty()) {
      SetError("the file has no readable image directory");
      return 0;
    }
    if (!tiff.ReadPage(directories[0], &first, &why)) {
      SetError("image 0: " + why);
      return 0;
    }
    Succeed();
    return static_cast<std::int32_t>(directories.size());
  } catch (...) {
    SetError("out of memory");
    return 0;
  }
}

std::int32_t GT_CreatePageAttrsFromHandle(std::intptr_t file, std::int32_t index, std::uint64_t* image,
                                          std::uint32_t* imageSize, CAttrContainer*& page, std::int32_t one) {
  try {
    if (!image || !imageSize || one != 1 || index < 0) {
      return Fail(kPictornBadArgument, "null output, negative index or reserved argument not 1");
    }
    if (!IsPageContainer(page)) return Fail(kPictornBadArgument, "the container is not a page container");
    if (index >= kPictornMaxImages) return Fail(kPictornNoSuchImage, "image index beyond the limit");
    std::string why;
    const std::unique_ptr<Source> source = OpenFileSource(file, &why);
    if (!source) return Fail(kPictornReadFailed, why);
    if (source->Size() >= kPictornMaxFileBytes) return Fail(kPictornNotAnImage, "the file is too large");
    return FromTiff(*source, static_cast<std::uint32_t>(index), image, imageSize, page);
  } catch (const std::bad_alloc&) {
    return Fail(kPictornNoMemory, "out of memory");
  } catch (...) {
    return Fail(kPictornNotAnImage, "unexpected failure");
  }
}

std::int32_t PictornImageFromMemory(std::uint64_t* image, std::int32_t zero, std::uint32_t* imageSize,
                                    CAttrContainer*& page, std::int32_t one, const std::uint8_t* bytes,
                                    std::uint32_t count) {
  try {
    if (!image || !imageSize || zero != 0 || one != 1 || (!bytes && count != 0)) {
      return Fail(kPictornBadArgument, "null output or bytes, or reserved arguments not 0 and 1");
    }
    if (!IsPageContainer(page)) return Fail(kPictornBadArgument, "the container is not a page container");
    static const std::uint8_t kPdf[] = {'%', 'P', 'D', 'F'};
    if (count >= 5 && std::memcmp(bytes, kPdf, sizeof kPdf) == 0) {
      return FromPdf(bytes, count, image, imageSize, page);
    }
    MemorySource source(bytes, count);
    return FromTiff(source, 0, image, imageSize, page);
  } catch (const std::bad_alloc&) {
    return Fail(kPictornNoMemory, "out of memory");
  } catch (...) {
    return Fail(kPictornNotAnImage, "unexpected failure");
  }
}

void PictornReleaseImage(std::uint64_t value) {
  const Image* image = nullptr;
  {
    const auto* candidate = reinterpret_cast<const Image*>(static_cast<std::uintptr_t>(value));
    const std::lock_guard<std::mutex> hold(imagesLock);
    if (images.erase(candidate) != 0) image = candidate;
  }
  delete image;
}

bool PictornImageInfo(std::uint64_t value, PictornInfo* info) {
  const Image* image = Find(value);
  if (!image || !info) return false;
  *info = image->info;
  return true;
}

bool PictornDecode(std::uint64_t value, PictornPixels* out) {
  if (!out) return false;
  *out = PictornPixels{};
  try {
    const Image* image = Find(value);
    if (!image) {
      SetError("unknown image");
      return false;
    }
    Pixels pixels;
    std::string why;
    if (!Decoded(*image, &pixels, &why)) {
      SetError(why);
      return false;
    }
    auto* data = new std::uint8_t[pixels.data.size() ? pixels.data.size() : 1];
    std::memcpy(data, pixels.data.data(), pixels.data.size());
    *out = PictornPixels{pixels.width, pixels.height, pixels.format, pixels.stride, data};
    Succeed();
    return true;
  } catch (...) {
    SetError("out of memory");
    return false;
  }
}

void PictornFreePixels(PictornPixels* pixels) {
  if (!pixels) return;
  delete[] pixels->data;
  *pixels = PictornPixels{};
}

bool PictornSavePage(std::uint64_t value, const char* utf8Path) {
  try {
    const Image* image = Find(value);
    if (!image || !utf8Path || !*utf8Path) {
      SetError("unknown image or no path");
      return false;
    }
    Pixels pixels;
    std::string why;
    if (!Decoded(*image, &pixels, &why) ||
        !CodecWrite(pixels, image->info.xDpi, image->info.yDpi, utf8Path, &why)) {
      SetError(why);
      return false;
    }
    Succeed();
    return true;
  } catch (...) {
    SetError("out of memory");
    return false;
  }
}

bool PictornPageFile(std::uint64_t value, PictornFileBytes* out) {
  if (!out) return false;
  *out = PictornFileBytes{};
  try {
    const Image* image = Find(value);
    if (!image) {
      SetError("unknown image");
      return false;
    }
    Bytes file = image->tiff;
    if (file.empty()) {
      std::string why;
      if (!CodecWriteMemory(image->rendered, image->info.xDpi, image->info.yDpi, &file, &why)) {
        SetError(why);
        return false;
      }
    }
    auto* data = new std::uint8_t[file.size() ? file.size() : 1];
    std::memcpy(data, file.data(), file.size());
    *out = PictornFileBytes{data, file.size()};
    Succeed();
    return true;
  } catch (...) {
    SetError("out of memory");
    return false;
  }
}

void PictornFreeFileBytes(PictornFileBytes* bytes) {
  if (!bytes) return;
  delete[] bytes->data;
  *bytes = PictornFileBytes{};
}

const char* PictornLastError() { return lastError; }
