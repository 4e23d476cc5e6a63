// Parses arbitrary text as a commands file (each two input bytes one UTF-16 unit) and asks
// for every keyword id. Tokens are never empty and never hold a line feed or a NUL; the
// joined arguments are the line's tokens each followed by a blank.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "attrs/CommandsFile.h"
#include "attrs/CommandsParse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 256 * 1024) return 0;
  std::u16string text;
  text.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

  es::attrs::CCommandsParse parser;
  if (!parser.Parse(text, es::attrs::kCommandPatterns)) std::abort();
  for (int l = 0; l < parser.GetLineCount(); ++l) {
    const es::attrs::CCommandsParseLine& line = parser.GetLine(l);
    if (line.GetTokenCount() == 0) std::abort();
    for (int t = 0; t < line.GetTokenCount(); ++t) {
      const std::u16string& token = line.GetToken(t);
      if (token.empty() || token.find(u'\n') != std::u16string::npos || token.find(u'\0') != std::u16string::npos)
        std::abort();
    }
    const std::uint32_t id = parser.GetKeywordId(l);
    if (id > es::attrs::kKeywordScanFolder) std::abort();
  }
  for (std::uint32_t id = 0; id <= es::attrs::kKeywordScanFolder + 1; ++id) {
    std::u16string all;
    std::u16string keyword;
    const bool found = parser.GetKeywordValue(id, es::attrs::kAllArguments, all);
    if (found != parser.GetKeywordValue(id, 0, keyword)) std::abort();
    if (!found) {
      if (!all.empty() || !keyword.empty()) std::abort();
      continue;
    }
    int first = -1;
    for (int l = 0; l < parser.GetLineCount() && first < 0; ++l)
      if (parser.GetKeywordId(l) == id) first = l;
    if (first < 0 || keyword != parser.GetToken(first, 0)) std::abort();
    std::u16string joined;
    for (int t = 1; t < parser.GetLine(first).GetTokenCount(); ++t) joined += parser.GetToken(first, t) + u' ';
    if (joined != all) std::abort();
  }
  return 0;
}
