#include "attrs/CommandsFile.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "attrs/AttributeIds.h"
#include "attrs/CommandsParse.h"
#include "base/TextMode.h"

namespace es::attrs {

using platform::Os;

namespace {

// The value of a keyword's arguments without the blanks around them.
bool ArgumentsOf(const CCommandsParse& parser, std::uint32_t keyword, Str* value) {
  Str joined;
  if (!parser.GetKeywordValue(keyword, kAllArguments, joined)) return false;
  *value = TrimBlanks(joined);
  return true;
}

}  // namespace

bool ApplyCommandFiles(const std::vector<std::uint8_t>* kvattr, const std::vector<std::uint8_t>* commands,
                       CAttrContainer* document) {
  if (document == nullptr) return false;
  document->DeleteAttrIfExist(kDocCommandsFile);
  document->DeleteAttrIfExist(kDocKvAttrFile);
  if (kvattr != nullptr) {
    // Stored as a text-mode read delivers it.
    const std::vector<std::uint8_t> text = DecodeTextMode(*kvattr);
    document->SetAttr(kDocKvAttrFile, text.data(), static_cast<std::uint32_t>(text.size()), 0);
  }
  if (commands == nullptr) return false;
  const std::vector<std::uint8_t>& bytes = *commands;
  document->SetAttr(kDocCommandsFile, bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0);

  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const auto count = static_cast<std::size_t>(end - bytes.begin());
  const Str text = count == 0 ? Str() : Os().AnsiToUtf16(reinterpret_cast<const char*>(bytes.data()), count);

  CCommandsParse parser;
  if (!parser.Parse(text, kCommandPatterns)) return false;

  Str value;
  if (ArgumentsOf(parser, kKeywordBarcode, &value)) {
    document->SetAttr(kDocBarcode, value.c_str(), 0);
    document->SetAttr(kDocBarcodePending, 0L, 0);
  }
  if (ArgumentsOf(parser, kKeywordPileIndex, &value)) document->SetAttr(kDocPileIndex, value.c_str(), 0);
  if (!ArgumentsOf(parser, kKeywordScanBatch, &value)) value.clear();
  document->SetAttr(kDocScanBatch, value.c_str(), 0);
  if (!ArgumentsOf(parser, kKeywordScanFolder, &value)) value.clear();
  document->SetAttr(kDocScanFolder, value.c_str(), 0);
  return true;
}

}  // namespace es::attrs
