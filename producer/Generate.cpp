// The storage esproduce writes: groups of documents with attribute files, page files,
// order files and side files, all drawn from one seeded generator.
#include <cstdio>
#include <random>
#include <stdexcept>

#include <QuilletBlockWriter.h>

#include "producer/Producer.h"
#include "src/attrs/AttributeIds.h"

namespace esproduce {
namespace {

namespace ids = es::attrs;

// std::mt19937 is fixed by the standard, unlike the library's distributions and
// std::shuffle, so draws go through these helpers to stay the same on every platform.
class Draw {
 public:
  explicit Draw(std::uint32_t seed) : engine_(seed) {}
  std::uint32_t Below(std::uint32_t bound) { return bound == 0 ? 0 : engine_() % bound; }
  template <class T>
  void Shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i)
      std::swap(items[i - 1], items[Below(static_cast<std::uint32_t>(i))]);
  }
  std::string Digits(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text.push_back(static_cast<char>('0' + Below(10)));
    return text;
  }

 private:
  std::mt19937 engine_;
};

std::string Numbered(const std::string& prefix, int number, int width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*d", width, number);
  return prefix + digits;
}

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// What one document is about; the attribute file, the side files and the placeholders
// all tell the same story.
struct DocumentFacts {
  std::string groupFolder;
  std::string folderName;
  int number = 0;
  std::string barcode;
  std::string batch;
  std::int32_t resolution = 300;
};

Bytes Placeholder(const DocumentFacts& facts, int page) {
  const std::string text = "esproduce placeholder page\r\ngroup " + facts.groupFolder + ", document " +
                           facts.folderName + ", page " + std::to_string(page) + "\r\n";
  return Bytes(text.begin(), text.end());
}

constexpr std::int32_t kWidth = 2100;   // A4 in tenths of a millimetre
constexpr std::int32_t kHeight = 2970;
constexpr std::int32_t kBitDepth = 1;
constexpr char16_t kSourceName[] = u"esproduce";

void AddV2(DocumentSpec& document, const DocumentFacts& facts, int pages) {
  AttrFileV2 file;
  QuilletBlockWriter documentBlock(ids::kScopeDocument);
  documentBlock.AddText(ids::kDocBarcode, Widen(facts.barcode))
      .AddText(ids::kDocPileIndex, Widen(std::to_string(facts.number)))
      .AddText(ids::kDocText2, Widen(facts.batch));
  file.documentBlock = documentBlock.Bytes();
  for (int page = 1; page <= pages; ++page) {
    QuilletBlockWriter pageBlock(ids::kScopePage);
    pageBlock.AddLong(ids::kPageResolutionX, facts.resolution)
        .AddLong(ids::kPageResolutionY, facts.resolution)
        .AddLong(ids::kPageWidth, kWidth)
        .AddLong(ids::kPageHeight, kHeight)
        .AddLong(ids::kPageBitDepth, kBitDepth)
        .AddText(ids::kPageSourceName, kSourceName);
    file.pages.push_back(PageRecordV2{static_cast<std::uint32_t>(page), pageBlock.Bytes()});
    document.files.push_back(FileSpec{PageFileNameV2(page), Placeholder(facts, page), false});
  }
  document.attributeFile = Serialize(file);
}

void AddV1(DocumentSpec& document, const DocumentFacts& facts, int pages, Draw& draw) {
  AttrFileV1 file;
  file.documentRecords = {
      RecordV1::Ansi(v1::kDocText0, std::to_string(facts.number)),
      RecordV1::Utf16(v1::kDocText1, Widen(facts.barcode)),
      RecordV1::Ansi(v1::kDocText2, facts.batch),
      RecordV1::Int32(v1::kDocValue3, facts.number),
  };
  // Page values name the page files; consecutive values from a drawn start keep them
  // unique within the document.
  const std::uint32_t firstValue = 1 + draw.Below(0x00FFFFFF);
  const std::int64_t scanTime = 1600000000 + static_cast<std::int64_t>(draw.Below(100000000));
  for (int page = 1; page <= pages; ++page) {
    const std::uint32_t value = firstValue + static_cast<std::uint32_t>(page - 1);
    RecordV1 opaque;  // a raw record of a length no other type has
    opaque.type = v1::kPage106;
    opaque.kind = RecordKind::Raw;
    opaque.payload = {0x45, 0x53, static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(page >> 8), 0, 0};
    file.pages.push_back({
        RecordV1::Int32(v1::kPageValue, static_cast<std::int32_t>(value)),
        RecordV1::Int32(v1::kPageWidth, kWidth),
        RecordV1::Int32(v1::kPageHeight, kHeight),
        RecordV1::Int32(v1::kPageResolutionX, facts.resolution),
        RecordV1::Int32(v1::kPageResolutionY, facts.resolution),
        RecordV1::Int32(v1::kPage105, 0),
        opaque,
        RecordV1::Utf16(v1::kPageSourceName, kSourceName),
        RecordV1::Int32(v1::kPage108, page == 1 ? 1 : 0),
        RecordV1::Int32(v1::kPage109, 0),
        RecordV1::Int32(v1::kPage10A, page == 1 ? 50 : 0),
        RecordV1::Int32(v1::kPage10B, 0),
        RecordV1::Int32(v1::kPage10C, 0),
        RecordV1::Int32(v1::kPage10D, 0),
        RecordV1::Int64(v1::kPageScanTime, scanTime + page),
        RecordV1::Ansi(v1::kPageUserName, "producer"),
        RecordV1::Utf16(v1::kPageComputerName, u"SCANSTATION"),
    });
    document.files.push_back(FileSpec{PageFileNameV1(value), Placeholder(facts, page), false});
  }
  document.attributeFile = Serialize(file);
}

DocumentSpec MakeDocument(const GenerateOptions& options, DocumentFacts facts, Draw& draw) {
  DocumentSpec document;
  document.folderName = facts.folderName;
  switch (options.attrVersion) {
    case AttrVersion::V2:
      AddV2(document, facts, options.pages);
      break;
    case AttrVersion::V1:
      AddV1(document, facts, options.pages, draw);
      break;
    case AttrVersion::None:
      // Without an attribute file every page file is taken as an extra page.
      for (int page = 1; page <= options.pages; ++page)
        document.files.push_back(FileSpec{PageFileNameV2(page), Placeholder(facts, page), false});
      break;
  }
  if (options.commands) {
    document.commands = "BARCODE " + facts.barcode + "\r\nPILE_INDEX " + std::to_string(facts.number) +
                        "\r\nSCANBATCH " + facts.batch + "\r\nSCANFOLDER " + Ansi1252(facts.groupFolder) + "\r\n";
  }
  if (options.kvattr) {
    const std::string text = "DOCUMENT=" + facts.folderName + "\r\nBARCODE=" + facts.barcode + "\r\n";
    document.kvattr = Bytes(text.begin(), text.end());
  }
  return document;
}

void CheckRange(int value, int max, const char* what) {
  if (value < 0 || value > max)
    throw std::invalid_argument(std::string(what) + " must be between 0 and " + std::to_string(max));
}

}  // namespace

StorageSpec GenerateStorage(const GenerateOptions& options) {
  CheckRange(options.groups, kMaxGroups, "number of groups");
  CheckRange(options.documents, kMaxDocuments, "number of documents");
  CheckRange(options.pages, kMaxPages, "number of pages");
  if (options.groupPrefix.find_first_of("/\\") != std::string::npos)
    throw std::invalid_argument("group prefix must not contain a path separator");

  Draw draw(options.seed);
  StorageSpec storage;
  if (options.description) storage.description = Ansi1252(*options.description) + "\r\n";

  for (int g = 1; g <= options.groups; ++g) {
    GroupSpec group;
    group.folderName = Numbered(options.groupPrefix, g, 3);
    group.lockText = Ansi1252(group.folderName);
    const std::string batch = "B" + std::to_string(options.seed) + "-" + std::to_string(g);
    std::vector<std::string> order;
    for (int d = 1; d <= options.documents; ++d) {
      DocumentFacts facts;
      facts.groupFolder = group.folderName;
      facts.folderName = Numbered("Doc", d, 5);
      facts.number = d;
      facts.barcode = draw.Digits(10);
      facts.batch = batch;
      facts.resolution = draw.Below(2) == 0 ? 300 : 200;
      group.documents.push_back(MakeDocument(options, facts, draw));
      order.push_back(facts.folderName);
    }
    draw.Shuffle(order);
    group.order = order;
    storage.groups.push_back(std::move(group));
  }

  if (options.groupOrder) {
    std::vector<std::string> order;
    for (const GroupSpec& group : storage.groups) order.push_back(Ansi1252(group.folderName));
    draw.Shuffle(order);
    storage.groupOrder = order;
  }
  return storage;
}

}  // namespace esproduce
