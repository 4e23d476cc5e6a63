// ANSI text on POSIX. There is no thread code page, so the process keeps one (Windows-1252
// unless the host chose another) and converts with iconv. Where Windows would not fail,
// neither do we: a byte the code page leaves undefined stands for the character of the
// same number (0x81 -> U+0081), and each UTF-16 unit of a character the code page lacks becomes '?'.
#include <errno.h>
#include <iconv.h>

#include <mutex>

#include "platform/PlatformInternal.h"
#include "platform/posix/PosixBackend.h"

namespace es::platform::posix {
namespace {

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char kUtf16[] = "UTF-16LE";
#else
constexpr const char kUtf16[] = "UTF-16BE";
#endif

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// iconv descriptors carry state, so one pair is shared under a lock and reopened when
// the host changes the code page.
struct Converters {
  std::mutex mutex;
  std::string codePage;
  bool opened = false;
  iconv_t toUtf16 = kNoConverter;
  iconv_t toAnsi = kNoConverter;

  Converters() = default;
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;
  ~Converters() {
    if (toUtf16 != kNoConverter) iconv_close(toUtf16);
    if (toAnsi != kNoConverter) iconv_close(toAnsi);
  }

  void Refresh() {
    std::string wanted = detail::AnsiCodePage();
    if (opened && wanted == codePage) return;
    if (toUtf16 != kNoConverter) iconv_close(toUtf16);
    if (toAnsi != kNoConverter) iconv_close(toAnsi);
    toUtf16 = iconv_open(kUtf16, wanted.c_str());
    toAnsi = iconv_open(wanted.c_str(), kUtf16);
    codePage = std::move(wanted);
    opened = true;
  }
};

Converters& TheConverters() {
  // Destroyed (and the converters closed) when the module unloads.
  static Converters converters;
  return converters;
}

}  // namespace

Str AnsiToUtf16(const char* bytes, std::size_t count) {
  Str out;
  if (count == 0) return out;
  out.reserve(count);
  Converters& converters = TheConverters();
  std::lock_guard<std::mutex> lock(converters.mutex);
  converters.Refresh();
  const iconv_t cd = converters.toUtf16;
  if (cd == kNoConverter) {
    // A code page iconv does not know: every byte stands for itself.
    for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<unsigned char>(bytes[i]));
    return out;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes);
  std::size_t inLeft = count;
  char16_t chunk[512];
  while (inLeft > 0) {
    char* outPtr = reinterpret_cast<char*>(chunk);
    std::size_t outLeft = sizeof chunk;
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int failure = errno;
    out.append(chunk, (sizeof chunk - outLeft) / sizeof(char16_t));
    if (result != static_cast<std::size_t>(-1) || failure == E2BIG || inLeft == 0) continue;
    // EILSEQ or a sequence cut off at the end: the byte stands for itself.
    out.push_back(static_cast<unsigned char>(*in));
    ++in;
    --inLeft;
  }
  char* outPtr = reinterpret_cast<char*>(chunk);
  std::size_t outLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(chunk, (sizeof chunk - outLeft) / sizeof(char16_t));
  return out;
}

bool Utf16ToAnsi(const Str& text, std::string* bytes) {
  std::string out;
  out.reserve(text.size());
  Converters& converters = TheConverters();
  std::lock_guard<std::mutex> lock(converters.mutex);
  converters.Refresh();
  const iconv_t cd = converters.toAnsi;
  if (cd == kNoConverter) {
    for (char16_t unit : text) out.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    *bytes = std::move(out);
    return true;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  std::size_t inLeft = text.size() * sizeof(char16_t);
  char chunk[512];
  while (inLeft > 0) {
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int failure = errno;
    out.append(chunk, sizeof chunk - outLeft);
    if (result != static_cast<std::size_t>(-1) || failure == E2BIG || inLeft == 0) continue;
    // A character the code page lacks, or a lone surrogate: a '?' for each of its UTF-16
    // units, as WideCharToMultiByte puts its default character.
    const char16_t* unit = reinterpret_cast<const char16_t*>(in);
    std::size_t units = 1;
    if (unit[0] >= 0xD800 && unit[0] <= 0xDBFF && inLeft >= 2 * sizeof(char16_t) && unit[1] >= 0xDC00 &&
        unit[1] <= 0xDFFF) {
      units = 2;
    }
    out.append(units, '?');
    in += units * sizeof(char16_t);
    inLeft -= units * sizeof(char16_t);
  }
  char* outPtr = chunk;
  std::size_t outLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(chunk, sizeof chunk - outLeft);
  *bytes = std::move(out);
  return true;
}

}  // namespace es::platform::posix
