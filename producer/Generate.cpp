// The storage esproduce writes: groups of documents with attribute files, page images,
// order files and side files, all drawn from one seeded generator.
#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>

#include <QuilletBlockWriter.h>

#include "producer/PageFiles.h"
#include "producer/Producer.h"
#include "attrs/AttributeIds.h"

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

std::string OrderText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// What one document is about; the attribute file, the side files and the PDF pages all
// tell the same story.
struct DocumentFacts {
  std::string groupFolder;
  std::string folderName;
  int number = 0;
  std::string barcode;
  std::string batch;
};

// How the attribute file describes each page: as the image library will find it.
struct PageLook {
  std::int32_t dpi = 300;
  std::int32_t width = 0;   // tenths of a millimetre
  std::int32_t height = 0;
  std::int32_t bitDepth = 1;
};

constexpr char16_t kSourceName[] = u"esproduce";

// The attribute file of a document and the names it gives its pages, in page order.
struct Attributes {
  std::optional<Bytes> file;
  std::vector<std::string> pageNames;
};

Attributes AttributesV2(const DocumentFacts& facts, int pages, const PageLook& look) {
  AttrFileV2 file;
  QuilletBlockWriter documentBlock(ids::kScopeDocument);
  documentBlock.AddText(ids::kDocBarcode, Widen(facts.barcode))
      .AddText(ids::kDocPileIndex, Widen(std::to_string(facts.number)))
      .AddText(ids::kDocText2, Widen(facts.batch));
  file.documentBlock = documentBlock.Bytes();
  Attributes out;
  for (int page = 1; page <= pages; ++page) {
    QuilletBlockWriter pageBlock(ids::kScopePage);
    pageBlock.AddLong(ids::kPageResolutionX, look.dpi)
        .AddLong(ids::kPageResolutionY, look.dpi)
        .AddLong(ids::kPageWidth, look.width)
        .AddLong(ids::kPageHeight, look.height)
        .AddLong(ids::kPageBitDepth, look.bitDepth)
        .AddText(ids::kPageSourceName, kSourceName);
    file.pages.push_back(PageRecordV2{static_cast<std::uint32_t>(page), pageBlock.Bytes()});
    out.pageNames.push_back(PageFileNameV2(page));
  }
  out.file = Serialize(file);
  return out;
}

Attributes AttributesV1(const DocumentFacts& facts, int pages, const PageLook& look, Draw& draw) {
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
  Attributes out;
  for (int page = 1; page <= pages; ++page) {
    const std::uint32_t value = firstValue + static_cast<std::uint32_t>(page - 1);
    RecordV1 opaque;  // a raw record of a length no other type has
    opaque.type = v1::kPage106;
    opaque.kind = RecordKind::Raw;
    opaque.payload = {0x45, 0x53, static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(page >> 8), 0, 0};
    file.pages.push_back({
        RecordV1::Int32(v1::kPageValue, static_cast<std::int32_t>(value)),
        RecordV1::Int32(v1::kPageWidth, look.width),
        RecordV1::Int32(v1::kPageHeight, look.height),
        RecordV1::Int32(v1::kPageResolutionX, look.dpi),
        RecordV1::Int32(v1::kPageResolutionY, look.dpi),
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
    out.pageNames.push_back(PageFileNameV1(value));
  }
  out.file = Serialize(file);
  return out;
}

// The special role of a document, if any, and the named page it concerns (from 1).
struct Role {
  std::optional<SpecialKind> kind;
  int page = 0;
};

void CheckRange(int value, int max, const char* what) {
  if (value < 0 || value > max)
    throw std::invalid_argument(std::string(what) + " must be between 0 and " + std::to_string(max));
}

class Generator {
 public:
  Generator(const GenerateOptions& options, GenerateSink& sink, GenerateReport& report)
      : options_(options),
        sink_(sink),
        report_(report),
        draw_(options.seed),
        pixels_(ToPixels(options.pageSize, options.dpi)),
        cache_(options.compression, pixels_, options.dpi) {
    look_.dpi = static_cast<std::int32_t>(options.dpi);
    look_.width = TenthsOfMillimetre(pixels_.width, options.dpi);
    look_.height = TenthsOfMillimetre(pixels_.height, options.dpi);
    look_.bitDepth = cache_.BitDepth();
  }

  bool Run() {
    StoragePlan storage;
    if (options_.description) storage.description = Ansi1252(*options_.description) + "\r\n";
    std::vector<std::string> groupNames;
    for (int g = 1; g <= options_.groups; ++g) {
      if (!RunGroup(g, &groupNames)) return false;
    }
    if (options_.groupOrder) {
      draw_.Shuffle(groupNames);
      storage.groupOrder = groupNames;
      AddFile(OrderText(groupNames).size());
    }
    if (storage.description) AddFile(storage.description->size());
    return sink_.Storage(std::move(storage));
  }

 private:
  bool RunGroup(int g, std::vector<std::string>* groupNames) {
    GroupPlan group;
    group.folderName = Numbered(options_.groupPrefix, g, 3);
    group.lockText = Ansi1252(group.folderName);
    groupNames->push_back(*group.lockText);
    const std::string batch = "B" + std::to_string(options_.seed) + "-" + std::to_string(g);
    const std::vector<Role> roles = DrawRoles(g);
    std::vector<std::string> order;
    for (int d = 1; d <= options_.documents; ++d) {
      DocumentFacts facts;
      facts.groupFolder = group.folderName;
      facts.folderName = Numbered("Doc", d, 5);
      facts.number = d;
      facts.barcode = draw_.Digits(10);
      facts.batch = batch;
      order.push_back(facts.folderName);
      if (!sink_.Document(group.folderName, MakeDocument(facts, roles[static_cast<std::size_t>(d - 1)])))
        return false;
    }
    draw_.Shuffle(order);
    group.order = order;
    AddFile(OrderText(order).size());
    AddFile(group.lockText->size());
    ++report_.groups;
    return sink_.Group(std::move(group));
  }

  // Roles come from a generator of their own, so that asking for special documents
  // leaves every other drawn value (barcodes, page values, orders) as it was.
  std::vector<Role> DrawRoles(int g) {
    Draw draw(options_.seed ^ (0x9E3779B9u * static_cast<std::uint32_t>(g)));
    std::vector<int> documents(static_cast<std::size_t>(options_.documents));
    for (std::size_t i = 0; i < documents.size(); ++i) documents[i] = static_cast<int>(i);
    draw.Shuffle(documents);
    std::vector<Role> roles(documents.size());
    std::size_t next = 0;
    const auto assign = [&](SpecialKind kind, int count) {
      for (int i = 0; i < count; ++i) {
        Role& role = roles[static_cast<std::size_t>(documents[next++])];
        role.kind = kind;
        role.page = 1 + static_cast<int>(draw.Below(static_cast<std::uint32_t>(options_.pages)));
        // The images of a multi-page file follow each other: damaging the last one
        // leaves the others readable.
        if (options_.multipage && kind == SpecialKind::Damaged) role.page = options_.pages;
      }
    };
    assign(SpecialKind::Pdf, options_.pdfDocuments);
    assign(SpecialKind::Damaged, options_.damagedDocuments);
    assign(SpecialKind::MissingPage, options_.missingPageDocuments);
    assign(SpecialKind::ExtraPage, options_.extraPageDocuments);
    return roles;
  }

  DocumentPlan MakeDocument(const DocumentFacts& facts, const Role& role) {
    DocumentPlan document;
    document.folderName = facts.folderName;
    const bool pdf = role.kind == SpecialKind::Pdf;
    const int pages = pdf ? 1 : options_.pages;
    PageLook look = look_;
    if (pdf) look.bitDepth = 24;  // the image library renders PDF pages in colour
    Attributes attributes;
    switch (options_.attrVersion) {
      case AttrVersion::V2: attributes = AttributesV2(facts, pages, look); break;
      case AttrVersion::V1: attributes = AttributesV1(facts, pages, look, draw_); break;
      case AttrVersion::None:
        // Without an attribute file every page file is taken as an extra page.
        for (int page = 1; page <= pages; ++page) attributes.pageNames.push_back(PageFileNameV2(page));
        break;
    }
    document.attributeFile = attributes.file;

    SpecialDocument special;
    special.kind = role.kind.value_or(SpecialKind::Pdf);
    special.groupFolder = facts.groupFolder;
    special.documentFolder = facts.folderName;
    if (pdf) {
      AddPageFile(document, "1.pg", Pdf(facts), 1);
      special.pageFile = "1.pg";
    } else if (options_.multipage) {
      AddMultiPage(document, role, &special);
    } else {
      AddSinglePages(document, role, attributes.pageNames, &special);
    }
    if (role.kind == SpecialKind::ExtraPage) {
      AddPageFile(document, "extra1.pg", *cache_.Extra(), 1);
      special.pageFile = "extra1.pg";
    }
    if (role.kind) report_.specials.push_back(special);

    if (options_.commands) {
      document.commands = "BARCODE " + facts.barcode + "\r\nPILE_INDEX " + std::to_string(facts.number) +
                          "\r\nSCANBATCH " + facts.batch + "\r\nSCANFOLDER " + Ansi1252(facts.groupFolder) + "\r\n";
      AddFile(document.commands->size());
    }
    if (options_.kvattr) {
      const std::string text = "DOCUMENT=" + facts.folderName + "\r\nBARCODE=" + facts.barcode + "\r\n";
      document.kvattr = Bytes(text.begin(), text.end());
      AddFile(document.kvattr->size());
    }
    if (document.attributeFile) AddFile(document.attributeFile->size());
    ++report_.documents;
    return document;
  }

  // Damaged pages alternate between a file cut short and a corrupt one, over the whole
  // storage.
  std::pair<Damage, const char*> NextDamage(bool multi) {
    const bool cut = damagedSoFar_++ % 2 == 0;
    if (cut) return {Damage::CutInImageData, "truncated in its image data"};
    if (multi) return {Damage::DirectoryBeyondEnd, "corrupt: its image directory lies beyond the end of the file"};
    return {Damage::BadMagic, "corrupt: its header is not that of a TIFF file"};
  }

  void AddMultiPage(DocumentPlan& document, const Role& role, SpecialDocument* special) {
    const int pages = options_.pages;
    if (pages == 0) return;
    special->pageFile = "1.pg";
    if (role.kind == SpecialKind::MissingPage) return;
    if (role.kind == SpecialKind::Damaged) {
      const auto [damage, detail] = NextDamage(true);
      special->detail = std::string("image ") + std::to_string(role.page) + " " + detail;
      AddPageFile(document, "1.pg", *cache_.Damaged(role.page, pages, true, damage), pages);
      return;
    }
    AddPageFile(document, "1.pg", *cache_.Multi(pages), pages);
  }

  void AddSinglePages(DocumentPlan& document, const Role& role, const std::vector<std::string>& names,
                      SpecialDocument* special) {
    const int pages = options_.pages;
    for (int page = 1; page <= pages; ++page) {
      const std::string& name = names[static_cast<std::size_t>(page - 1)];
      const bool chosen = page == role.page;
      if (chosen && role.kind == SpecialKind::MissingPage) {
        special->pageFile = name;
        continue;
      }
      if (chosen && role.kind == SpecialKind::Damaged) {
        const auto [damage, detail] = NextDamage(false);
        special->pageFile = name;
        special->detail = detail;
        AddPageFile(document, name, *cache_.Damaged(page, pages, false, damage), 1);
        continue;
      }
      AddPageFile(document, name, *cache_.Single(page, pages), 1);
    }
  }

  Bytes Pdf(const DocumentFacts& facts) const {
    const auto points = [this](std::uint32_t pixels) {
      const std::uint64_t dpi = options_.dpi;
      // A page smaller than an inch has no room for the frame and the text.
      return static_cast<std::uint32_t>(std::max<std::uint64_t>((std::uint64_t{pixels} * 144 + dpi) / (2 * dpi), 72));
    };
    return MakePdf(points(pixels_.width), points(pixels_.height),
                   {"esproduce PDF document", "Group " + Ansi1252(facts.groupFolder), "Document " + facts.folderName,
                    "Barcode " + facts.barcode});
  }

  void AddPageFile(DocumentPlan& document, const std::string& name, Bytes content, int images) {
    AddFile(content.size());
    ++report_.pageFiles;
    report_.pages += static_cast<std::size_t>(images);
    document.files.push_back(FilePlan{name, std::move(content), false});
  }

  void AddFile(std::size_t size) {
    ++report_.files;
    report_.bytes += size;
  }

  const GenerateOptions& options_;
  GenerateSink& sink_;
  GenerateReport& report_;
  Draw draw_;
  PixelSize pixels_;
  PageFileCache cache_;
  PageLook look_;
  std::size_t damagedSoFar_ = 0;
};

void Validate(const GenerateOptions& options) {
  CheckRange(options.groups, kMaxGroups, "number of groups");
  CheckRange(options.documents, kMaxDocuments, "number of documents");
  CheckRange(options.pages, kMaxPages, "number of pages");
  if (options.groupPrefix.find_first_of("/\\") != std::string::npos)
    throw std::invalid_argument("group prefix must not contain a path separator");
  CheckRange(options.pdfDocuments, options.documents, "number of PDF documents");
  CheckRange(options.damagedDocuments, options.documents, "number of documents with a damaged page");
  CheckRange(options.missingPageDocuments, options.documents, "number of documents with a missing page");
  CheckRange(options.extraPageDocuments, options.documents, "number of documents with an extra page file");
  const long long special = static_cast<long long>(options.pdfDocuments) + options.damagedDocuments +
                            options.missingPageDocuments + options.extraPageDocuments;
  if (special > options.documents)
    throw std::invalid_argument("PDF, damaged, missing-page and extra-page documents together (" +
                                std::to_string(special) + ") exceed the " + std::to_string(options.documents) +
                                " documents of a group");
  if (options.pages == 0 && (options.damagedDocuments > 0 || options.missingPageDocuments > 0))
    throw std::invalid_argument("damaged and missing pages need documents of at least one page");
}

class Collector : public GenerateSink {
 public:
  bool Document(const std::string&, DocumentPlan document) override {
    pending_.push_back(std::move(document));
    return true;
  }
  bool Group(GroupPlan group) override {
    group.documents = std::move(pending_);
    pending_.clear();
    groups_.push_back(std::move(group));
    return true;
  }
  bool Storage(StoragePlan storage) override {
    storage.groups = std::move(groups_);
    storage_ = std::move(storage);
    return true;
  }
  StoragePlan storage_;

 private:
  std::vector<DocumentPlan> pending_;
  std::vector<GroupPlan> groups_;
};

class Writer : public GenerateSink {
 public:
  Writer(const std::filesystem::path& root, std::string* error) : root_(root), error_(error) {}
  bool Document(const std::string& groupFolder, DocumentPlan document) override {
    return WriteDocument(root_ / PathFromUtf8(groupFolder), document, error_);
  }
  // The group's order and lock files follow its documents, as WriteGroup would.
  bool Group(GroupPlan group) override { return WriteGroup(root_, group, error_); }
  bool Storage(StoragePlan storage) override { return WriteStorage(root_, storage, error_); }

 private:
  std::filesystem::path root_;
  std::string* error_;
};

}  // namespace

const char* SpecialKindName(SpecialKind kind) {
  switch (kind) {
    case SpecialKind::Pdf: return "pdf";
    case SpecialKind::Damaged: return "damaged";
    case SpecialKind::MissingPage: return "missing";
    case SpecialKind::ExtraPage: return "extra";
  }
  return "?";
}

std::size_t GenerateReport::CountOf(SpecialKind kind) const {
  return static_cast<std::size_t>(std::count_if(specials.begin(), specials.end(),
                                                [kind](const SpecialDocument& d) { return d.kind == kind; }));
}

bool Generate(const GenerateOptions& options, GenerateSink& sink, GenerateReport* report) {
  Validate(options);
  GenerateReport local;
  if (report) *report = GenerateReport{};
  Generator generator(options, sink, report ? *report : local);
  return generator.Run();
}

StoragePlan GenerateStorage(const GenerateOptions& options, GenerateReport* report) {
  Collector collector;
  Generate(options, collector, report);
  return std::move(collector.storage_);
}

bool WriteGenerated(const std::filesystem::path& root, const GenerateOptions& options, GenerateReport* report,
                    std::string* error) {
  Writer writer(root, error);
  return Generate(options, writer, report);
}

}  // namespace esproduce
