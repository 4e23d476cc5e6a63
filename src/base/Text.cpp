#include "base/Text.h"

#include "LunmereUtf8.h"

#include <cstdio>

namespace es {

Str FromAscii(std::string_view ascii) {
  Str out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::string ToUtf8(StrView text) { return lunmere::Utf16ToUtf8(text); }

Str FromUtf8(std::string_view utf8) { return lunmere::Utf8ToUtf16(utf8); }

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
