// JPEG for the TIFF writer on Windows, where the kit has no libtiff: the Windows Imaging
// Component encodes the page, the writer stores the stream as the page's one strip.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>

#include "TiffEncoders.h"

namespace esproduce::tiffcodec {
namespace {

template <class T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p) p->Release();
  }
};

struct ComScope {
  HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ~ComScope() {
    if (SUCCEEDED(result)) CoUninitialize();
  }
};

// The sampling factors of the first component in the stream's start-of-frame segment.
bool LumaSampling(const Bytes& jpeg, std::uint16_t subsampling[2]) {
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const std::uint8_t marker = jpeg[at + 1];
    const std::size_t length = std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (marker == 0xC0 || marker == 0xC1) {
      if (at + 2 + length > jpeg.size() || length < 11) return false;
      const std::uint8_t factors = jpeg[at + 2 + 9];  // first component: id, factors, table
      subsampling[0] = factors >> 4;
      subsampling[1] = factors & 0x0F;
      return true;
    }
    at += 2 + length;
  }
  return false;
}

}  // namespace

bool JpegStream(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, bool rgb,
                Bytes* out, std::uint16_t subsampling[2], std::string* error) {
  const ComScope com;
  Com<IWICImagingFactory> factory;
  Com<IStream> stream;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  const UINT stride = width * (rgb ? 3 : 1);
  Bytes data(pixels, pixels + std::size_t{stride} * height);
  if (rgb) {  // WIC's colour layout is blue, green, red
    for (std::size_t i = 0; i + 2 < data.size(); i += 3) std::swap(data[i], data[i + 2]);
  }
  const WICPixelFormatGUID wanted = rgb ? GUID_WICPixelFormat24bppBGR : GUID_WICPixelFormat8bppGray;
  WICPixelFormatGUID format = wanted;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory.p));
  if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream.p);
  if (SUCCEEDED(hr)) hr = factory.p->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder.p);
  if (SUCCEEDED(hr)) hr = encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder.p->CreateNewFrame(&frame.p, &options.p);
  if (SUCCEEDED(hr) && options.p) {
    PROPBAG2 name{};
    name.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value{};
    value.vt = VT_R4;
    value.fltVal = 0.85f;
    options.p->Write(1, &name, &value);
  }
  if (SUCCEEDED(hr)) hr = frame.p->Initialize(options.p);
  if (SUCCEEDED(hr)) hr = frame.p->SetSize(width, height);
  if (SUCCEEDED(hr)) hr = frame.p->SetPixelFormat(&format);
  if (SUCCEEDED(hr) && !IsEqualGUID(format, wanted)) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  if (SUCCEEDED(hr)) hr = frame.p->WritePixels(height, stride, static_cast<UINT>(data.size()), data.data());
  if (SUCCEEDED(hr)) hr = frame.p->Commit();
  if (SUCCEEDED(hr)) hr = encoder.p->Commit();
  STATSTG stat{};
  if (SUCCEEDED(hr)) hr = stream.p->Stat(&stat, STATFLAG_NONAME);
  HGLOBAL memory = nullptr;
  if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(stream.p, &memory);
  if (FAILED(hr)) {
    char text[80];
    wsprintfA(text, "the imaging component cannot encode JPEG (0x%08lX)", static_cast<unsigned long>(hr));
    *error = text;
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(memory));
  if (!bytes) {
    *error = "the JPEG stream cannot be read back";
    return false;
  }
  out->assign(bytes, bytes + stat.cbSize.QuadPart);
  GlobalUnlock(memory);
  if (!LumaSampling(*out, subsampling)) {
    *error = "the JPEG stream has no baseline frame header";
    return false;
  }
  return true;
}

}  // namespace esproduce::tiffcodec
