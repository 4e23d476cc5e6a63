#include "Pictorn.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "Codec.h"
#include "Convert.h"
#include "Pdf.h"
#include "Quillet.h"
#include "PageChain.h"
#include "Source.h"
#include "TiffLayout.h"

namespace pictorn {

bool Allocate(Pixels* pixels, std::uint32_t width, std::uint32_t height, std::uint32_t format, bool keep) {
  if (std::uint64_t{width} * height > kPictornMaxPagePixels) return false;
  const std::uint64_t stride = format == 1 ? (std::uint64_t{width} + 7) / 8
                               : format == 8 ? std::uint64_t{width}
                                             : 3 * std::uint64_t{width};
  pixels->width = width;
  pixels->height = height;
  pixels->format = format;
  pixels->stride = static_cast<std::uint32_t>(stride);
  pixels->data.assign(stride * (keep ? height : 1), 0);
  return true;
}

namespace {

// A file that states no resolution in inches or centimetres is taken to be scanned at
// this many dots per inch, the resolution the module assumes for pages without one.
constexpr double kDefaultDpi = 300;
constexpr double kMaxDpi = 100000;

struct Image {
  Bytes tiff;      // a page that keeps its own encoded data, as a single-image TIFF file
  TiffPage page;
  Pixels pixels;   // any other page: decoded, or rendered from a PDF
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
  return !page || page->Scope() == kPictornPageScope;
}

// Hands a finished image over: outputs and attributes change only here, all at once.
std::int32_t HandOver(std::unique_ptr<Image> image, std::uint32_t dataBytes, std::uint64_t* value,
                      std::uint32_t* imageSize, CAttrContainer*& page) {
  std::unique_ptr<CAttrContainer> created;
  CAttrContainer* target = page;
  if (!target) {
    created = std::make_unique<CAttrContainer>(kPictornPageScope);
    target = created.get();
  }
  const std::uint64_t handle = Register(image.get());
  try {
    const PictornInfo& info = image->info;
    target->SetAttr(kPictornAttrResolutionX, static_cast<long>(info.xDpi), 0);
    target->SetAttr(kPictornAttrResolutionY, static_cast<long>(info.yDpi), 0);
    target->SetAttr(kPictornAttrBitDepth, static_cast<long>(info.bitsPerPixel), 0);
    target->SetAttr(kPictornAttrWidth, TenthsOfMillimetre(info.width, image->xDpi), 0);
    target->SetAttr(kPictornAttrHeight, TenthsOfMillimetre(info.height, image->yDpi), 0);
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

// Whether every reader takes the page's own encoding as it is (see PictornPageFile).
bool KeepsOwnData(const TiffPage& p) {
  if (p.tiled || p.fillOrder != 1 || p.extraSamples != 0 || p.sampleFormat != 1 || p.predictor > 2) return false;
  const std::uint32_t c = p.compression;
  const bool lossless = c == 1 || c == 5 || c == 8 || c == 32946 || c == 32773;
  if (p.samplesPerPixel == 1 && p.bitsPerSample == 1 && p.photometric <= 1) return lossless || (c >= 2 && c <= 4);
  if (p.samplesPerPixel == 1 && p.bitsPerSample == 8 && p.photometric == 1) return lossless || c == 7;
  if (p.samplesPerPixel == 3 && p.bitsPerSample == 8 && p.planar == 1) {
    return (p.photometric == 2 && lossless) || (p.photometric == 6 && c == 7);
  }
  return false;
}

std::string TooManyImages() {
  return "the file holds more than " + std::to_string(kPictornMaxImages) +
         " page images, more than the image library reads";
}

std::string TooManyPixels(std::uint64_t width, std::uint64_t height, std::uint64_t budget) {
  return std::to_string(width) + " x " + std::to_string(height) + " pixels, more than the " +
         std::to_string(budget) + " a page may have";
}

// Image `index` of a TIFF file; `identity` (null when not known) keeps the walk of its
// directories for the next call.
std::int32_t FromTiff(Source& source, const FileIdentity* identity, std::uint32_t index, std::uint64_t* value,
                      std::uint32_t* imageSize, CAttrContainer*& page) {
  std::string why;
  TiffFile tiff(source);
  if (!tiff.Open(&why)) return Fail(kPictornNotAnImage, why);
  const std::shared_ptr<const PageChain> chain = WalkPages(source, tiff, identity);
  if (chain->tooMany) return Fail(kPictornTooLarge, TooManyImages());
  if (chain->pages.empty()) {
    return Fail(kPictornNotAnImage, chain->skipped ? "the file holds reduced-resolution images or masks only, no page"
                                                   : "the file has no readable image directory");
  }
  const std::string image = "image " + std::to_string(index) + ": ";
  if (chain->pages.size() <= index) {
    return Fail(kPictornNoSuchImage, "the file holds " + std::to_string(chain->pages.size()) +
                                         " page image(s); image " + std::to_string(index) + " was asked for");
  }
  auto made = std::make_unique<Image>();
  TiffPage& p = made->page;
  // The pixels are counted before any image data is read.
  if (!tiff.ReadPage(chain->pages[index], &p, &why)) return Fail(kPictornNotAnImage, image + why);
  if (std::uint64_t{p.width} * p.height > kPictornMaxPagePixels) {
    return Fail(kPictornTooLarge, image + TooManyPixels(p.width, p.height, kPictornMaxPagePixels));
  }
  const std::uint32_t format = PageFormat(p, &why);
  if (format == 0) return Fail(kPictornNotAnImage, image + Describe(p) + ": " + why);
  if (!tiff.ExtractPage(chain->pages[index], &p, &made->tiff, &why)) return Fail(kPictornNotAnImage, image + why);
  // Decoded whole now, so that no page reaches the host that cannot be decoded.
  const bool keep = KeepsOwnData(p);
  if (!CodecDecode(made->tiff, p, !keep, &made->pixels, &why)) {
    return Fail(kPictornNotAnImage, image + Describe(p) + ": " + why);
  }
  if (!keep) {
    Bytes().swap(made->tiff);
  } else {
    Pixels().data.swap(made->pixels.data);
  }
  ResolveDpi(p, &made->xDpi, &made->yDpi);
  const char* name = CompressionName(p.compression);
  FillInfo(*made, p.width, p.height, format, index, name ? name : "code " + std::to_string(p.compression));
  return HandOver(std::move(made), static_cast<std::uint32_t>(p.dataBytes), value, imageSize, page);
}

std::int32_t FromPdf(const std::uint8_t* bytes, std::uint32_t count, std::uint64_t* value,
                     std::uint32_t* imageSize, CAttrContainer*& page) {
  auto image = std::make_unique<Image>();
  std::uint32_t dpi = 200;
  std::string why;
  switch (RenderFirstPage(bytes, count, &image->pixels, &dpi, &why)) {
    case PdfResult::Rendered: break;
    case PdfResult::NoRenderer: return Fail(kPictornNoRenderer, why);
    case PdfResult::Failed: return Fail(kPictornRenderFailed, why);
  }
  image->xDpi = image->yDpi = dpi;
  FillInfo(*image, image->pixels.width, image->pixels.height, 24, 0, "PDF");
  return HandOver(std::move(image), count, value, imageSize, page);
}

bool Decoded(const Image& image, Pixels* pixels, std::string* why) {
  if (image.tiff.empty()) {
    *pixels = image.pixels;
    return true;
  }
  return CodecDecode(image.tiff, image.page, true, pixels, why);
}

// Page files handed out and not yet freed, by their first byte.
std::mutex filesLock;
std::unordered_map<const std::uint8_t*, std::unique_ptr<Bytes>> files;

}  // namespace
}  // namespace pictorn

using namespace pictorn;

std::int32_t PictornImageCount(std::intptr_t file) {
  try {
    std::string why;
    const std::unique_ptr<Source> source = OpenFileSource(file, &why);
    if (!source) {
      SetError(why);
      return kPictornUnreadable;
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
    FileIdentity identity;
    const bool known = IdentifyFile(file, &identity);
    const std::shared_ptr<const PageChain> chain = WalkPages(*source, tiff, known ? &identity : nullptr);
    if (chain->tooMany) {
      SetError(TooManyImages());
      return kPictornTooManyImages;
    }
    if (chain->pages.empty()) {
      SetError(chain->skipped ? "the file holds reduced-resolution images or masks only, no page"
                              : "the file has no readable image directory");
      return 0;
    }
    TiffPage first;
    if (!tiff.ReadPage(chain->pages[0], &first, &why)) {
      SetError("image 0: " + why);
      return 0;
    }
    Succeed();
    return static_cast<std::int32_t>(chain->pages.size());
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
    std::string why;
    const std::unique_ptr<Source> source = OpenFileSource(file, &why);
    if (!source) return Fail(kPictornReadFailed, why);
    if (source->Size() >= kPictornMaxFileBytes) return Fail(kPictornNotAnImage, "the file is too large");
    FileIdentity identity;
    const bool known = IdentifyFile(file, &identity);
    return FromTiff(*source, known ? &identity : nullptr, static_cast<std::uint32_t>(index), image, imageSize, page);
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
    return FromTiff(source, nullptr, 0, image, imageSize, page);
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

bool PictornPageFile(std::uint64_t value, PictornFileBytes* out) {
  if (!out) return false;
  *out = PictornFileBytes{};
  try {
    const Image* image = Find(value);
    if (!image) {
      SetError("unknown image");
      return false;
    }
    auto file = std::make_unique<Bytes>();
    if (!image->tiff.empty()) {
      *file = image->tiff;
    } else {
      std::string why;
      if (!CodecEncode(image->pixels, image->info.xDpi, image->info.yDpi, file.get(), &why)) {
        SetError(why);
        return false;
      }
    }
    if (file->empty()) file->push_back(0);  // never: an encoded file has a header
    *out = PictornFileBytes{file->data(), file->size()};
    const std::lock_guard<std::mutex> hold(filesLock);
    files.emplace(file->data(), std::move(file));
    Succeed();
    return true;
  } catch (...) {
    *out = PictornFileBytes{};
    SetError("out of memory");
    return false;
  }
}

void PictornFreeFileBytes(PictornFileBytes* bytes) {
  if (!bytes) return;
  std::unique_ptr<Bytes> file;
  {
    const std::lock_guard<std::mutex> hold(filesLock);
    const auto found = files.find(bytes->data);
    if (found != files.end()) {
      file = std::move(found->second);
      files.erase(found);
    }
  }
  *bytes = PictornFileBytes{};
}

bool PictornSavePage(std::uint64_t value, const char* utf8Path) {
  if (!utf8Path || !*utf8Path) {
    SetError("no path");
    return false;
  }
  PictornFileBytes bytes{};
  if (!PictornPageFile(value, &bytes)) return false;
  const std::string text(utf8Path);
  const std::filesystem::path path(std::u8string(text.begin(), text.end()));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data), static_cast<std::streamsize>(bytes.size));
  file.close();
  PictornFreeFileBytes(&bytes);
  if (!file) {
    SetError("cannot write " + text);
    return false;
  }
  return true;
}

const char* PictornLastError() { return lastError; }
