#include "attrs/CommandsFile.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "attrs/AttributeIds.h"
#include "attrs/CommandsParse.h"
#include "frame/Trace.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "storage/TextMode.h"

namespace es::attrs {

using platform::Os;

namespace {

void TraceTooLarge(const Str& path, int line) {
  Trace(kSevSkipped, kSourceAttributes, line, u"%s is larger than a side file may be and is not read", path.c_str());
}

// "KVATTR" as a text-mode read delivers it; absent when it cannot be opened or read.
void StoreKvAttr(const Str& folder, CAttrContainer* document) {
  const Str path = layout::KvAttrPath(folder);
  File file(path, platform::Access::Read, platform::Share::None);
  if (!file.IsOpen()) return;
  std::uint64_t size = 0;
  if (!file.Size(&size)) return;
  if (size > layout::kTextFileLimit) {
    TraceTooLarge(path, __LINE__);
    return;
  }
  std::vector<std::uint8_t> raw;
  if (!file.ReadAll(&raw, layout::kTextFileLimit)) return;
  file.Close();
  const std::vector<std::uint8_t> text = DecodeTextMode(raw);
  document->SetAttr(kDocKvAttrFile, text.data(), static_cast<std::uint32_t>(text.size()), 0);
}

bool FolderExists(const Str& folder) {
  std::uint32_t attributes = 0;
  return Os().GetAttributes(folder, &attributes) && (attributes & platform::kAttrDirectory) != 0;
}

// The value of a keyword's arguments without the blanks around them.
bool ArgumentsOf(const CCommandsParse& parser, std::uint32_t keyword, Str* value) {
  Str joined;
  if (!parser.GetKeywordValue(keyword, kAllArguments, joined)) return false;
  *value = TrimBlanks(joined);
  return true;
}

}  // namespace

bool ReadCommandFiles(const Str& folder, CAttrContainer* document) {
  if (document == nullptr) return false;
  document->DeleteAttrIfExist(kDocCommandsFile);
  document->DeleteAttrIfExist(kDocKvAttrFile);

  StoreKvAttr(folder, document);
  if (!FolderExists(folder)) return false;

  const Str path = layout::CommandsPath(folder);
  std::vector<std::uint8_t> bytes;
  {
    File file(path, platform::Access::Read, platform::Share::Read);
    if (!file.IsOpen()) return false;
    std::uint64_t size = 0;
    if (!file.Size(&size)) return false;
    size &= 0xFFFFFFFFu;
    if (size > layout::kTextFileLimit) {
      TraceTooLarge(path, __LINE__);
      return false;
    }
    // A short read fails the file as a whole.
    if (!file.ReadAll(&bytes, layout::kTextFileLimit)) return false;
  }
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
