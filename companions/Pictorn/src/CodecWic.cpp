// The codec on Windows: the Windows Imaging Component, reading from memory.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include "Codec.h"

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
    *why = Hr("reading the TIFF image", hr);
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

// Copies the frame's pixels in `format` (converted where needed) into `pixels`.
bool CopyAs(Opened& o, const WICPixelFormatGUID& format, Pixels& pixels, std::string* why) {
  WICPixelFormatGUID native{};
  HRESULT hr = o.frame->GetPixelFormat(&native);
  if (FAILED(hr)) {
    *why = Hr("reading the pixel format", hr);
    return false;
  }
  IWICBitmapSource* source = o.frame.get();
  Com<IWICFormatConverter> converter;
  if (!SameFormat(native, format)) {
    hr = o.factory->CreateFormatConverter(converter.out());
    if (SUCCEEDED(hr)) {
      hr = converter->Initialize(o.frame.get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                 WICBitmapPaletteTypeCustom);
    }
    if (FAILED(hr)) {
      *why = Hr("converting the pixel format", hr);
      return false;
    }
    source = converter.get();
  }
  hr = source->CopyPixels(nullptr, pixels.stride, static_cast<UINT>(pixels.data.size()), pixels.data.data());
  if (FAILED(hr)) {
    *why = Hr("decoding the image", hr);
    return false;
  }
  return true;
}

std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

}  // namespace

bool CodecAccepts(const Bytes& bytes, const TiffPage& page, std::string* why) {
  const ComScope com;
  Opened o;
  if (!OpenFrame(bytes, o, why)) return false;
  UINT width = 0;
  UINT height = 0;
  WICPixelFormatGUID format{};
  HRESULT hr = o.frame->GetSize(&width, &height);
  if (SUCCEEDED(hr)) hr = o.frame->GetPixelFormat(&format);
  if (FAILED(hr)) {
    *why = Hr("reading the image's size and pixel format", hr);
    return false;
  }
  if (width != page.width || height != page.height) {
    *why = "the decoder sees another image size";
    return false;
  }
  return true;
}

bool CodecDecode(const Bytes& bytes, const TiffPage& page, Pixels* pixels, std::string* why) {
  const ComScope com;
  Opened o;
  if (!OpenFrame(bytes, o, why)) return false;
  const std::uint32_t format = page.IsBitonal() ? 1 : page.IsGray() ? 8 : 24;
  if (!Allocate(pixels, page.width, page.height, format) || pixels->data.size() > 0x7FFFFFFF) {
    *why = "the image is too large to decode";
    return false;
  }
  if (format == 1) {
    if (CopyAs(o, GUID_WICPixelFormatBlackWhite, *pixels, why)) {
      for (std::uint8_t& b : pixels->data) b = static_cast<std::uint8_t>(~b);  // WIC: a set bit is white
      return true;
    }
    // Through gray, for decoders that cannot give black and white directly.
    Pixels gray;
    if (!Allocate(&gray, page.width, page.height, 8) || !CopyAs(o, GUID_WICPixelFormat8bppGray, gray, why)) {
      return false;
    }
    for (std::uint32_t y = 0; y < page.height; ++y) {
      for (std::uint32_t x = 0; x < page.width; ++x) {
        if (gray.data[std::size_t{y} * gray.stride + x] < 128) {
          pixels->data[std::size_t{y} * pixels->stride + (x >> 3)] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
        }
      }
    }
    return true;
  }
  if (format == 8) return CopyAs(o, GUID_WICPixelFormat8bppGray, *pixels, why);
  if (!CopyAs(o, GUID_WICPixelFormat24bppBGR, *pixels, why)) return false;
  for (std::size_t y = 0; y < page.height; ++y) {
    std::uint8_t* row = pixels->data.data() + y * pixels->stride;
    for (std::size_t x = 0; x < page.width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
  }
  return true;
}

bool CodecWrite(const Pixels& pixels, std::uint32_t xDpi, std::uint32_t yDpi,
                const std::string& utf8Path, std::string* why) {
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
  const std::wstring path = Wide(utf8Path);
  Com<IWICStream> stream;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  Com<IWICBitmap> bitmap;
  HRESULT hr = factory->CreateStream(stream.out());
  if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
  if (FAILED(hr)) {
    *why = "cannot create " + utf8Path + ": " + Hr("opening", hr);
    return false;
  }
  hr = factory->CreateEncoder(GUID_ContainerFormatTiff, nullptr, encoder.out());
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.out(), options.out());
  if (SUCCEEDED(hr) && pixels.format == 1 && options.get()) {
    // CCITT G4 where the encoder offers it; its default otherwise.
    PROPBAG2 name{};
    name.pstrName = const_cast<LPOLESTR>(L"TiffCompressionMethod");
    VARIANT value{};
    value.vt = VT_UI1;
    value.bVal = WICTiffCompressionCCITT4;
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
  if (FAILED(hr)) {
    *why = "cannot write " + utf8Path + ": " + Hr("encoding", hr);
    return false;
  }
  return true;
}

}  // namespace pictorn
