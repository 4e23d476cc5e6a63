// UTF-8 <-> UTF-16, the one conversion of the project: the companions, the module, eshost
// and esproduce all use these two.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lunmere {

// A lone surrogate becomes U+FFFD: the result is always valid UTF-8.
inline std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A text as one unambiguous line of UTF-8 for a trace file or a terminal: every input
// gives a different output, and nothing in it can move the cursor, ring a bell or break
// the line. A backslash is written \\, CR and LF \r and \n, other control characters
// \xNN (C0 and DEL) or \uNNNN (C1, and the line separators and direction overrides that
// would make a viewer show something else than what is there). A lone surrogate
// U+DC80..U+DCFF stands for a byte of a file name that is not UTF-8 and is written \xNN
// with that byte; any other lone surrogate \uNNNN.
inline std::string EscapeForLine(std::u16string_view text) {
  static const char kHex[] = "0123456789abcdef";
  auto hex = [&](std::string& out, const char* prefix, unsigned value, int digits) {
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out += Utf16ToUtf8(text.substr(i, 2));
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      hex(out, "\\x", c - 0xDC00, 2);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      hex(out, "\\u", c, 4);
    } else if (c == u'\\') {
      out += "\\\\";
    } else if (c == u'\r') {
      out += "\\r";
    } else if (c == u'\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      hex(out, "\\x", c, 2);
    } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
               (c >= 0x2066 && c <= 0x2069)) {
      hex(out, "\\u", c, 4);
    } else {
      out += Utf16ToUtf8(text.substr(i, 1));
    }
  }
  return out;
}

// UTF-8 to UTF-16. A byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF, so that nothing is lost: a POSIX file name that is no UTF-8 round-trips
// through it, and EscapeForLine shows the byte as \xNN.
inline std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (b0 < 0x80) {
      length = 1, c = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2, c = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3, c = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4, c = b0 & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (b & 0x3F);
    }
    if (valid && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) valid = false;
    if (!valid) {
      out += static_cast<char16_t>(0xDC00 + b0);  // b0 >= 0x80 here: ASCII is always valid
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return out;
}

}  // namespace lunmere
