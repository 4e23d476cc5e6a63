#include "base/Text.h"

#include <cstdio>

namespace es {

Str FromAscii(std::string_view ascii) {
  Str out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::string ToUtf8(StrView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

Str FromUtf8(std::string_view utf8) {
  Str out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else {
      std::size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
      if (need != 0 && i + need <= utf8.size()) {
        std::uint32_t v = b & (0x7F >> need);
        bool ok = true;
        for (std::size_t k = 1; k < need; ++k) {
          const auto c = static_cast<unsigned char>(utf8[i + k]);
          if ((c & 0xC0) != 0x80) {
            ok = false;
            break;
          }
          v = (v << 6) | (c & 0x3F);
        }
        if (ok) {
          cp = v;
          len = need;
        }
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

Str DecimalText(long long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld", value);
  return FromAscii(buf);
}

Str Hex8(std::uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08lx", static_cast<unsigned long>(value));
  return FromAscii(buf);
}

namespace {
char16_t UpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  // Latin-1 lower-case letters, except the division sign and y with diaeresis.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}
}  // namespace

Str ToUpper(StrView text) {
  Str out(text);
  for (auto& c : out) c = UpperUnit(c);
  return out;
}

bool EqualsNoCase(StrView a, StrView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperUnit(a[i]) != UpperUnit(b[i])) return false;
  }
  return true;
}

bool EndsWithSeparator(StrView path) { return !path.empty() && path.back() == platform::kPathSep; }

Str JoinPath(StrView folder, StrView name) {
  Str out(folder);
  if (!EndsWithSeparator(out)) out.push_back(platform::kPathSep);
  out.append(name);
  return out;
}

Str JoinAlways(StrView folder, StrView name) {
  Str out(folder);
  out.push_back(platform::kPathSep);
  out.append(name);
  return out;
}

Str TrimBlanks(StrView text) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x0B || c == 0x0C; };
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  return Str(text.substr(b, e - b));
}

Str FirstLineUnlessLeadingCr(const Str& text) {
  const auto cr = text.find(u'\r');
  if (cr != Str::npos && cr > 0) return text.substr(0, cr);
  return text;
}

Str Join(const StrArray& items, StrView separator) {
  Str out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.append(separator);
    out.append(items[i]);
  }
  return out;
}

}  // namespace es
