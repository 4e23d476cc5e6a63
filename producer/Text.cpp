// Text conversions of the producer: Windows-1252 for the storage's small text files,
// UTF-8 file names for the file system.
#include <cstdint>
#include <string>

#include "LunmereUtf8.h"
#include "producer/Producer.h"

namespace esproduce {
namespace {

// Characters that Windows-1252 puts at 0x80-0x9F; zero marks the five unused bytes.
constexpr char32_t kHighBlock[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 0x98
};

char To1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kHighBlock[i] != 0 && kHighBlock[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

std::string Ansi1252(const std::string& utf8) {
  const std::u16string text = lunmere::Utf8ToUtf16(utf8);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a byte that was no UTF-8
    }
    out.push_back(To1252(c));
  }
  return out;
}

std::filesystem::path PathFromUtf8(const std::string& name) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
  return std::filesystem::path(name);
#endif
}

std::string PathToUtf8(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

}  // namespace esproduce
