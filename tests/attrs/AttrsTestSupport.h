// Shared pieces of the attribute-file tests: golden texts and a
// rendering of a container as text lines, one per attribute in the order it was set.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "attrs/AttributeIds.h"
#include "base/Text.h"

namespace attrtest {

using Bytes = std::vector<std::uint8_t>;

// The id's name without its scope ("Page", "Doc"): the line's target names that.
inline std::string Name(std::uint32_t id) {
#define ES_NAME(n) {es::attrs::k##n, #n}
  static const std::map<std::uint32_t, std::string> names = {
      ES_NAME(PageResolutionX), ES_NAME(PageResolutionY), ES_NAME(PageBitDepth), ES_NAME(PageWidth),
      ES_NAME(PageHeight), ES_NAME(PageRecord108), ES_NAME(PageRecord10A), ES_NAME(PageRecord10B),
      ES_NAME(PageRecord10C), ES_NAME(PageRecord10D), ES_NAME(PageRecord109), ES_NAME(PageAlwaysZero),
      ES_NAME(PageAlwaysOne), ES_NAME(PageSourceName), ES_NAME(PageScanStamp), ES_NAME(PageValueBlock),
      ES_NAME(PageAllowRescan), ES_NAME(PageFirstOfDocument), ES_NAME(PageSignature), ES_NAME(DocBarcode),
      ES_NAME(DocPileIndex), ES_NAME(DocText2), ES_NAME(DocBarcodePending), ES_NAME(DocScanBatch),
      ES_NAME(DocScanFolder), ES_NAME(DocCommandsFile), ES_NAME(DocKvAttrFile)};
#undef ES_NAME
  const auto it = names.find(id);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(id));
  return it == names.end() ? hex : it->second.substr(it->second[0] == 'P' ? 4 : 3);
}

// Quoted, printable ASCII: other units as \uXXXX (\xXX for bytes), runs of 8 or more as {c*N}.
template <typename Unit>
std::string Quoted(const Unit* units, std::size_t count) {
  const auto one = [](unsigned c) -> std::string {
    if (c == '\n') return "\\n";
    if (c == '\r') return "\\r";
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"' && c != '{') return std::string(1, static_cast<char>(c));
    char text[8];
    std::snprintf(text, sizeof text, sizeof(Unit) == 1 ? "\\x%02x" : "\\u%04x", c);
    return text;
  };
  std::string out = "\"";
  for (std::size_t i = 0, run = 1; i < count; i += run, run = 1) {
    while (i + run < count && units[i + run] == units[i]) ++run;
    if (run < 8) run = 1;
    out += run < 8 ? one(units[i]) : "{" + one(units[i]) + "*" + std::to_string(run) + "}";
  }
  return out + "\"";
}

// A scan stamp as its fields when it is laid out as one (time, user at 8, computer at 210,
// zeros elsewhere); the time reads "now" inside [now.first, now.second].
inline std::string Stamp(const Bytes& b, std::pair<std::int64_t, std::int64_t> now) {
  namespace a = es::attrs;
  if (b.size() != a::kScanStampSize) return Quoted(b.data(), b.size());
  Bytes rest = b;  // what is left when the time and both texts are taken out: zeros only
  const auto text = [&](std::uint32_t at, std::uint32_t chars) {
    std::u16string s;
    for (std::uint32_t i = 0; i < chars - 1 && (b[at + 2 * i] | b[at + 2 * i + 1]) != 0; ++i) {
      s.push_back(static_cast<char16_t>(b[at + 2 * i] | (b[at + 2 * i + 1] << 8)));
      rest[at + 2 * i] = rest[at + 2 * i + 1] = 0;
    }
    return s;
  };
  std::int64_t time = 0;
  for (int i = 7; i >= 0; --i) time = static_cast<std::int64_t>(static_cast<std::uint64_t>(time) << 8 | b[i]);
  std::fill_n(rest.begin(), 8, 0);
  const std::u16string user = text(a::kScanStampUserOffset, a::kScanStampUserChars);
  const std::u16string computer = text(a::kScanStampComputerOffset, a::kScanStampComputerChars);
  if (rest != Bytes(b.size())) return Quoted(b.data(), b.size());
  const bool isNow = time >= now.first && time <= now.second;
  return "stamp " + (isNow ? std::string("now") : std::to_string(time)) + " " + Quoted(user.data(), user.size()) +
         " " + Quoted(computer.data(), computer.size());
}

// "target name type value" for each attribute in the order it was first set.
inline std::string Render(const CAttrContainer& c, const std::string& target, const char* separator = "\n",
                          std::pair<std::int64_t, std::int64_t> now = {1, 0}) {
  std::string out;
  for (std::uint32_t i = 0; i < c.Count(); ++i) {
    std::uint32_t id = 0;
    AttrVariant v{};
    c.GetAt(i, &id, &v);
    out += (target.empty() ? "" : target + " ") + Name(id) + " ";
    const Bytes bytes = v.size == 0 ? Bytes() : Bytes(v.bytes, v.bytes + v.size);
    if (v.type == es::attrs::kTypeInt || v.type == es::attrs::kTypeLong)
      out += (v.type == es::attrs::kTypeInt ? "int " : "long ") + std::to_string(v.number);
    else if (v.type == es::attrs::kTypeText)
      out += "text " + Quoted(v.text, v.textLength);
    else
      out += "binary " + (id == es::attrs::kPageScanStamp ? Stamp(bytes, now) : Quoted(bytes.data(), bytes.size()));
    out += separator;
  }
  return out;
}

// Compares with tests/attrs/golden/<name>.txt; with ES_UPDATE_GOLDEN set, writes it instead.
inline void ExpectGolden(const std::string& name, const std::string& got) {
  const char* root = std::getenv("ES_SOURCE_DIR");
  ASSERT_NE(nullptr, root) << "ES_SOURCE_DIR names the source tree (ctest sets it)";
  const auto path = std::filesystem::path(root) / "tests" / "attrs" / "golden" / (name + ".txt");
  if (std::getenv("ES_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << got;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path;
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), got) << path;
}

}  // namespace attrtest
