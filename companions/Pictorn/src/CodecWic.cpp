// The codec on Windows: the Windows Imaging Component, reading from memory.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>

#include "Codec.h"
#include "Convert.h"
#include "Pictorn.h"

namespace pictorn {
namespace {

template <class T>
class Com {
 public:
  Com() = default;
  ~Com() {
    if (p_) p_->Release();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** out() { return &p_; }
  void** outVoid() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// COM on this thread for the length of one call. A thread already in another apartment
// model refuses the change, and WIC works there as well.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

std::string Hr(const char* what, HRESULT hr) {
  char text[96];
  wsprintfA(text, "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
  return text;
}

bool Factory(Com<IWICImagingFactory>& factory, std::string* why) {
  const HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, factory.outVoid());
  if (FAILED(hr)) *why = Hr("creating the imaging factory", hr);
  return SUCCEEDED(hr);
}

// The stream reads the caller's bytes in place; they outlive every object made here.
struct Opened {
  Com<IWICImagingFactory> factory;
  Com<IWICStream> stream;
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
};

bool OpenFrame(const Bytes& bytes, Opened& o, std::string* why) {
  if (!Factory(o.factory, why)) return false;
  HRESULT hr = o.factory->CreateStream(o.stream.out());
  if (SUCCEEDED(hr)) {
    hr = o.stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  }
  if (FAILED(hr)) {
    *why = Hr("opening a memory stream", hr);
    return false;
  }
  hr = o.factory->CreateDecoder(GUID_ContainerFormatTiff, nullptr, o.decoder.out());
  if (SUCCEEDED(hr)) hr = o.decoder->Initialize(o.stream.get(), WICDecodeMetadataCacheOnDemand);
  if (FAILED(hr)) {
    *why = Hr("the Windows imaging component reading this TIFF image", hr);
    return false;
  }
  UINT frames = 0;
  hr = o.decoder->GetFrameCount(&frames);
  if (SUCCEEDED(hr) && frames == 0) hr = E_FAIL;
  if (SUCCEEDED(hr)) hr = o.decoder->GetFrame(0, o.frame.out());
  if (FAILED(hr)) {
    *why = Hr("reading the image directory", hr);
    return false;
  }
  return true;
}

bool SameFormat(const WICPixelFormatGUID& a, const WICPixelFormatGUID& b) { return IsEqualGUID(a, b) != 0; }

// The decoder's own pixel formats whose samples we convert ourselves, by the same rules
// as on every platform; any other is converted to 32-bit BGRA by WIC first.
struct NativeFormat {
  const GUID* guid;
  SampleLayout::Colour colour;
  std::uint32_t samples;
  std::uint32_t bits;
  bool floating;
  std::int32_t alpha;
  bool premultiplied;
};
using C = SampleLayout::Colour;
const NativeFormat kNative[] = {
    {&GUID_WICPixelFormatBlackWhite, C::Gray, 1, 1, false, -1, false},
    {&GUID_WICPixelFormat2bppGray, C::Gray, 1, 2, false, -1, false},
    {&GUID_WICPixelFormat4bppGray, C::Gray, 1, 4, false, -1, false},
    {&GUID_WICPixelFormat8bppGray, C::Gray, 1, 8, false, -1, false},
    {&GUID_WICPixelFormat16bppGray, C::Gray, 1, 16, false, -1, false},
    {&GUID_WICPixelFormat32bppGrayFloat, C::Gray, 1, 32, true, -1, false},
    {&GUID_WICPixelFormat1bppIndexed, C::Palette, 1, 1, false, -1, false},
    {&GUID_WICPixelFormat2bppIndexed, C::Palette, 1, 2, false, -1, false},
    {&GUID_WICPixelFormat4bppIndexed, C::Palette, 1, 4, false, -1, false},
    {&GUID_WICPixelFormat8bppIndexed, C::Palette, 1, 8, false, -1, false},
    {&GUID_WICPixelFormat24bppBGR, C::Bgr, 3, 8, false, -1, false},
    {&GUID_WICPixelFormat24bppRGB, C::Rgb, 3, 8, false, -1, false},
    {&GUID_WICPixelFormat32bppBGR, C::Bgr, 4, 8, false, -1, false},
    {&GUID_WICPixelFormat32bppBGRA, C::Bgr, 4, 8, false, 3, false},
    {&GUID_WICPixelFormat32bppPBGRA, C::Bgr, 4, 8, false, 3, true},
    {&GUID_WICPixelFormat48bppRGB, C::Rgb, 3, 16, false, -1, false},
    {&GUID_WICPixelFormat64bppRGBA, C::Rgb, 4, 16, false, 3, false},
    {&GUID_WICPixelFormat64bppPRGBA, C::Rgb, 4, 16, false, 3, true},
    {&GUID_WICPixelFormat32bppCMYK, C::Cmyk, 4, 8, false, -1, false},
    {&GUID_WICPixelFormat64bppCMYK, C::Cmyk, 4, 16, false, -1, false},
};

// The palette of an indexed frame: the file's own colour map where the page has one, as
// on every platform, else the decoder's.
bool Palette(Opened& o, const TiffPage& page, std::uint32_t bits, SampleLayout* layout, std::string* why) {
  if (page.photometric == 3 && page.colormap.size() == (std::size_t{3} << bits)) {
    layout->colormap = ColourMap8(page.colormap);
    return true;
  }
  Com<IWICPalette> palette;
  UINT count = 0;
  HRESULT hr = o.factory->CreatePalette(palette.out());
  if (SUCCEEDED(hr)) hr = o.frame->CopyPalette(palette.get());
  if (SUCCEEDED(hr)) hr = palette->GetColorCount(&count);
  std::vector<WICColor> colours(count ? count : 1);
  if (SUCCEEDED(hr)) hr = palette->GetColors(count, colours.data(), &count);
  if (FAILED(hr) || count == 0) {
    *why = Hr("reading the image's palette", hr);
    return false;
  }
  const std::size_t entries = std::size_t{1} << bits;
  layout->colormap.assign(3 * entries, 0);
  for (std::size_t i = 0; i < entries && i < count; ++i) {
    layout->colormap[i] = static_cast<std::uint8_t>(colours[i] >> 16);
    layout->colormap[entries + i] = static_cast<std::uint8_t>(colours[i] >> 8);
    layout->colormap[2 * entries + i] = static_cast<std::uint8_t>(colours[i]);
  }
  return true;
}


// JPEG-compressed strips, each decoded as a JPEG stream of its own: the file's tables
// (JPEGTables without its end marker) and then the strip (without its start marker).
// This needs no JPEG support in the TIFF decoder, which Wine's lacks.
bool DecodeJpegStrips(const Bytes& bytes, const TiffPage& page, std::uint32_t format, bool keep, Pixels* pixels,
                      std::string* why) {
  MemorySource file(bytes.data(), bytes.size());
  TiffFile tiff(file);
  std::vector<std::uint64_t> offsets;
  std::vector<std::uint64_t> counts;
  Bytes tables;
  if (!tiff.Open(why) || !tiff.Blocks(tiff.FirstDirectory(), &offsets, &counts, 347, &tables, why)) return false;
  const std::uint32_t strips = static_cast<std::uint32_t>(offsets.size());
  if (page.rowsPerStrip == 0 || strips == 0) {
    *why = "the image is not in strips";
    return false;
  }
  const std::uint32_t rowsPerStrip = page.rowsPerStrip;
  if (tables.size() >= 2 && tables[tables.size() - 2] == 0xFF && tables.back() == 0xD9) tables.resize(tables.size() - 2);
  const bool colour = page.ColourSamples() == 3;
  SampleLayout layout;
  layout.colour = colour ? C::Bgr : C::Gray;
  layout.samples = colour ? 3 : 1;
  const RowConverter rows(layout, page.width, format);
  const std::uint64_t rowBytes = std::uint64_t{page.width} * layout.samples;
  Com<IWICImagingFactory> factory;
  if (!Factory(factory, why)) return false;
  for (std::uint32_t s = 0; s < strips; ++s) {
    const std::uint32_t top = s * rowsPerStrip;
    if (top >= page.height) break;
    const std::uint32_t count = std::min(rowsPerStrip, page.height - top);
    Bytes stream(tables);
    const std::uint8_t* strip = bytes.data() + offsets[s];
    const std::size_t skip = counts[s] >= 2 && strip[0] == 0xFF && strip[1] == 0xD8 && !tables.empty() ? 2 : 0;
    stream.insert(stream.end(), strip + skip, strip + counts[s]);
    Com<IWICStream> input;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICFormatConverter> converter;
    HRESULT hr = factory->CreateStream(input.out());
    if (SUCCEEDED(hr)) hr = input->InitializeFromMemory(stream.data(), static_cast<DWORD>(stream.size()));
    if (SUCCEEDED(hr)) hr = factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, decoder.out());
    if (SUCCEEDED(hr)) hr = decoder->Initialize(input.get(), WICDecodeMetadataCacheOnDemand);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.out());
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
    if (SUCCEEDED(hr) && (width != page.width || height < count)) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(converter.out());
    if (SUCCEEDED(hr)) {
      hr = converter->Initialize(frame.get(), colour ? GUID_WICPixelFormat24bppBGR : GUID_WICPixelFormat8bppGray,
                                 WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom);
    }
    Bytes band(rowBytes * count);
    const WICRect rect{0, 0, static_cast<INT>(page.width), static_cast<INT>(count)};
    if (SUCCEEDED(hr)) {
      hr = converter->CopyPixels(&rect, static_cast<UINT>(rowBytes), static_cast<UINT>(band.size()), band.data());
    }
    if (FAILED(hr)) {
      *why = Hr(("decoding JPEG strip " + std::to_string(s)).c_str(), hr);
      return false;
    }
    for (std::uint32_t r = 0; r < count && keep; ++r) {
      const std::uint8_t* planes[1] = {band.data() + r * rowBytes};
      rows.Convert(planes, pixels->data.data() + std::uint64_t{top + r} * pixels->stride);
    }
  }
  return true;
}

}  // namespace

bool CodecDecode(const Bytes& bytes, const TiffPage& page, bool keep, Pixels* pixels, std::string* why) {
  const std::uint32_t format = PageFormat(page, why);
  if (format == 0) return false;
  if (std::uint64_t{page.width} * page.height > kPictornMaxPagePixels) {
    *why = std::to_string(page.width) + " x " + std::to_string(page.height) + " pixels, more than the " +
           std::to_string(kPictornMaxPagePixels) + " a page may have";
    return false;
  }
  if (bytes.size() > 0x7FFFFFFF) {
    *why = "the page is too large for the imaging component";
    return false;
  }
  const ComScope com;
  if (page.compression == 7 && !page.tiled && page.planar == 1 && page.bitsPerSample == 8) {
    if (!Allocate(pixels, page.width, page.height, format, keep)) {
      *why = "out of memory";
      return false;
    }
    return DecodeJpegStrips(bytes, page, format, keep, pixels, why);
  }
  Opened o;
  if (!OpenFrame(bytes, o, why)) return false;
  UINT width = 0;
  UINT height = 0;
  WICPixelFormatGUID native{};
  HRESULT hr = o.frame->GetSize(&width, &height);
  if (SUCCEEDED(hr)) hr = o.frame->GetPixelFormat(&native);
  if (FAILED(hr)) {
    *why = Hr("reading the image's size and pixel format", hr);
    return false;
  }
  if (width != page.width || height != page.height) {
    *why = "the imaging component sees another image size";
    return false;
  }
  SampleLayout layout;
  IWICBitmapSource* source = o.frame.get();
  Com<IWICFormatConverter> converter;
  const NativeFormat* known = nullptr;
  for (const NativeFormat& f : kNative) {
    if (SameFormat(native, *f.guid)) known = &f;
  }
  if (known) {
    layout.colour = known->colour;
    layout.samples = known->samples;
    layout.bits = known->bits;
    layout.floating = known->floating;
    layout.alpha = known->alpha;
    layout.premultiplied = known->premultiplied;
    if (layout.colour == C::Palette && !Palette(o, page, layout.bits, &layout, why)) return false;
  } else {
    hr = o.factory->CreateFormatConverter(converter.out());
    if (SUCCEEDED(hr)) {
      hr = converter->Initialize(o.frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                 WICBitmapPaletteTypeCustom);
    }
    if (FAILED(hr)) {
      *why = Hr("converting the image's pixel format", hr);
      return false;
    }
    source = converter.get();
    layout.colour = C::Bgr;
    layout.samples = 4;
    layout.bits = 8;
    layout.alpha = 3;
  }
  if (!Allocate(pixels, page.width, page.height, format, keep)) {
    *why = "out of memory";
    return false;
  }
  // Bands of rows, as many as the working memory allows.
  const std::uint64_t rowBytes = (std::uint64_t{page.width} * layout.samples * layout.bits + 7) / 8;
  const std::uint32_t band = static_cast<std::uint32_t>(
      std::max<std::uint64_t>(1, std::min<std::uint64_t>(page.height, kMaxWorkBytes / rowBytes)));
  Bytes buffer(rowBytes * band);
  RowConverter rows(layout, page.width, format);
  auto pass = [&](int step) {
    for (std::uint32_t top = 0; top < page.height; top += band) {
      const std::uint32_t count = std::min(band, page.height - top);
      const WICRect rect{0, static_cast<INT>(top), static_cast<INT>(page.width), static_cast<INT>(count)};
      const HRESULT copied = source->CopyPixels(&rect, static_cast<UINT>(rowBytes),
                                                static_cast<UINT>(rowBytes * count), buffer.data());
      if (FAILED(copied)) {
        *why = Hr("decoding the image", copied);
        return false;
      }
      for (std::uint32_t r = 0; r < count && step != 0; ++r) {
        const std::uint8_t* planes[1] = {buffer.data() + r * rowBytes};
        if (step == 1) {
          rows.See(planes);
        } else {
          rows.Convert(planes, pixels->data.data() + std::uint64_t{top + r} * pixels->stride);
        }
      }
    }
    return true;
  };
  if (!keep) return pass(0);
  if (rows.NeedsRange()) {
    if (!pass(1)) return false;
    rows.RangeSeen();
  }
  return pass(2);
}

bool CodecEncode(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi, Bytes* out, std::string* why) {
  const ComScope com;
  Com<IWICImagingFactory> factory;
  if (!Factory(factory, why)) return false;
  // WIC's own layouts: a set bit is white, colour is blue, green, red.
  Bytes data = pixels.data;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (pixels.format == 1) {
    format = GUID_WICPixelFormatBlackWhite;
    for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(~b);
  } else if (pixels.format == 8) {
    format = GUID_WICPixelFormat8bppGray;
  } else {
    for (std::size_t y = 0; y < pixels.height; ++y) {
      std::uint8_t* row = data.data() + y * pixels.stride;
      for (std::size_t x = 0; x < pixels.width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
  }
  Com<IStream> stream;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  Com<IWICBitmap> bitmap;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.out());
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatTiff, nullptr, encoder.out());
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.out(), options.out());
  if (SUCCEEDED(hr) && options.get()) {
    // CCITT G4 for bitonal pages, LZW for the others, where the encoder offers them.
    PROPBAG2 name{};
    name.pstrName = const_cast<LPOLESTR>(L"TiffCompressionMethod");
    VARIANT value{};
    value.vt = VT_UI1;
    value.bVal = pixels.format == 1 ? WICTiffCompressionCCITT4 : WICTiffCompressionLZW;
    options->Write(1, &name, &value);
  }
  if (SUCCEEDED(hr)) hr = frame->Initialize(options.get());
  if (SUCCEEDED(hr)) hr = frame->SetSize(pixels.width, pixels.height);
  if (SUCCEEDED(hr)) hr = frame->SetResolution(xDpi, yDpi);
  if (SUCCEEDED(hr)) {
    hr = factory->CreateBitmapFromMemory(pixels.width, pixels.height, format, pixels.stride,
                                         static_cast<UINT>(data.size()), data.data(), bitmap.out());
  }
  WICPixelFormatGUID accepted = format;
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&accepted);
  if (SUCCEEDED(hr)) hr = frame->WriteSource(bitmap.get(), nullptr);
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  STATSTG stat{};
  if (SUCCEEDED(hr)) hr = stream->Stat(&stat, STATFLAG_NONAME);
  if (SUCCEEDED(hr) && stat.cbSize.QuadPart > 0xFFFFFFFFull) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) {
    LARGE_INTEGER start{};
    hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
  }
  ULONG read = 0;
  if (SUCCEEDED(hr)) {
    out->resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
    hr = stream->Read(out->data(), static_cast<ULONG>(out->size()), &read);
  }
  if (FAILED(hr) || read != out->size()) {
    *why = Hr("encoding the page", FAILED(hr) ? hr : E_FAIL);
    return false;
  }
  return true;
}

}  // namespace pictorn
