// Page images of generated storages: what the image library finds in them, PDF
// documents, damaged, missing and extra pages, and the same bytes for the same seed.
#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

#include <gtest/gtest.h>

#include <Pictorn.h>
#include <Quillet.h>

#include "TreeSupport.h"
#include "platform/Platform.h"
#include "src/attrs/AttributeIds.h"

namespace fs = std::filesystem;
namespace ids = es::attrs;
using esproduce::AttrVersion;
using esproduce::Bytes;
using esproduce::Compression;
using esproduce::GenerateOptions;
using esproduce::GenerateReport;
using esproduce::PageSize;
using esproduce::SpecialKind;
using producer_test::PageFiles;
using producer_test::Lines;
using producer_test::ReadBytes;
using producer_test::ReadText;
using producer_test::Small;
using producer_test::TempFolder;
using producer_test::Tree;
using producer_test::U32;
using producer_test::Write;

namespace {

// A page file opened for reading through the platform seam, as the module opens it.
class Opened {
 public:
  explicit Opened(const fs::path& path) {
    es::platform::Error error = es::platform::Error::None;
    handle_ = es::platform::Os().OpenFile(path.u16string(), es::platform::Access::Read, es::platform::Share::Read,
                                          es::platform::Disposition::OpenExisting, &error);
  }
  ~Opened() {
    if (handle_ != es::platform::kInvalidFile) es::platform::Os().Close(handle_);
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;
  bool IsOpen() const { return handle_ != es::platform::kInvalidFile; }
  std::intptr_t Handle() const { return handle_; }

 private:
  std::intptr_t handle_;
};

// One image as the library hands it over.
struct Image {
  std::int32_t result = -1;
  std::uint64_t image = 0;
  std::uint32_t size = 0;
  CAttrContainer* attrs = nullptr;
  Image() = default;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  ~Image() {
    PictornReleaseImage(image);
    if (attrs) attrs->Destroy();
  }
  long Attr(std::uint32_t id) const {
    long value = -1;
    return attrs && attrs->GetAttr(id, &value, 0) ? value : -1;
  }
  std::string Compression() const {
    PictornInfo info{};
    return PictornImageInfo(image, &info) ? info.compression : "?";
  }
};

std::int32_t ImageCount(const fs::path& path) {
  Opened file(path);
  EXPECT_TRUE(file.IsOpen()) << path;
  return file.IsOpen() ? PictornImageCount(file.Handle()) : -1;
}

void ReadImage(const fs::path& path, std::int32_t index, Image* image) {
  Opened file(path);
  ASSERT_TRUE(file.IsOpen()) << path;
  image->result = GT_CreatePageAttrsFromHandle(file.Handle(), index, &image->image, &image->size, image->attrs, 1);
}

// Every image of the file is handed over by the library.
testing::AssertionResult Readable(const fs::path& path, std::int32_t expectedImages) {
  const std::int32_t count = ImageCount(path);
  if (count != expectedImages)
    return testing::AssertionFailure() << path << ": " << count << " images, expected " << expectedImages;
  for (std::int32_t i = 0; i < count; ++i) {
    Image image;
    ReadImage(path, i, &image);
    if (image.result != kPictornOk)
      return testing::AssertionFailure() << path << " image " << i << ": " << PictornLastError();
  }
  return testing::AssertionSuccess();
}

// The named page (or, in a multi-page file, the image) cannot be handed over.
bool Unreadable(const fs::path& path, std::int32_t index) {
  const std::int32_t count = ImageCount(path);
  if (count <= index) return true;
  Image image;
  ReadImage(path, index, &image);
  return image.result != kPictornOk;
}

// The page records of a version-2 attribute file: each page's value and its block as a
// container. The records fill the file to its end.
std::vector<std::pair<std::uint32_t, std::unique_ptr<CAttrContainer>>> PageRecords(const Bytes& file) {
  std::vector<std::pair<std::uint32_t, std::unique_ptr<CAttrContainer>>> pages;
  std::size_t at = 16 + U32(file, 12);
  for (std::uint32_t i = 0, n = U32(file, 8); i < n; ++i) {
    const std::uint32_t size = U32(file, at + 4);
    auto page = std::make_unique<CAttrContainer>(1);
    EXPECT_LE(at + 8 + size, file.size());
    EXPECT_NE(page->CreateFromBuffer(file.data() + at + 8, 1, size), 0);
    pages.emplace_back(U32(file, at), std::move(page));
    at += 8 + size;
  }
  EXPECT_EQ(at, file.size());
  return pages;
}

std::u16string Text(CAttrContainer& container, std::uint32_t id) {
  AttrVariant value{};
  if (!container.Get(id, &value, 0)) return u"<absent>";
  return std::u16string(value.text, value.textLength);
}

long Long(const CAttrContainer& container, std::uint32_t id) {
  long value = -1;
  return container.GetAttr(id, &value, 0) ? value : -1;
}

fs::path DocumentOf(const fs::path& root, const esproduce::SpecialDocument& special) {
  return root / special.groupFolder / special.documentFolder;
}

}  // namespace

TEST(PageSizes, NamedAndMeasuredSizesTurnIntoPixels) {
  const struct {
    const char* text;
    std::uint32_t dpi, width, height;
  } rows[] = {
      {"A4", 300, 2480, 3508},
      {"letter", 200, 1700, 2200},
      {"215.9x279.4MM", 300, 2550, 3300},
      {"2480x3508px", 72, 2480, 3508},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::string error;
    const auto size = esproduce::ParsePageSize(row.text, &error);
    ASSERT_TRUE(size) << error;
    EXPECT_EQ(esproduce::ToPixels(*size, row.dpi).width, row.width);
    EXPECT_EQ(esproduce::ToPixels(*size, row.dpi).height, row.height);
  }
  EXPECT_EQ(esproduce::TenthsOfMillimetre(2480, 300), 2100);
  EXPECT_EQ(esproduce::TenthsOfMillimetre(3508, 300), 2970);

  for (const char* bad : {"", "a5", "210x297", "210x297cm", "x297mm", "210xmm", "210x0mm", "1.25x3mm", "-1x5px",
                          "1.5x2px", "210.x297mm", "99999999999x1px", "210*297mm"}) {
    std::string error;
    EXPECT_FALSE(esproduce::ParsePageSize(bad, &error)) << bad;
    EXPECT_NE(error.find("WxHmm"), std::string::npos) << bad;
  }
}

// Version-2 attribute files announce the pages that exist, with the values and sizes of
// their images; the side files name the document's barcode.
TEST(GeneratedPages, DefaultPagesAreA4G4AndAgreeWithTheAttributeFile) {
  TempFolder temp;
  GenerateOptions options;
  options.documents = 2;
  options.pages = 3;
  options.commands = options.kvattr = true;
  GenerateReport report;
  Write(temp.path(), options, &report);
  const fs::path document = temp.path() / "Group001" / "Doc00002";
  const Bytes file = ReadBytes(document / "SC_ATTR.BIN");
  ASSERT_GE(file.size(), 16u);
  EXPECT_EQ(U32(file, 0) >> 16, 0x0200u);
  CAttrContainer documentAttrs(2);
  ASSERT_LE(16u + U32(file, 12), file.size());
  ASSERT_NE(documentAttrs.CreateFromBuffer(file.data() + 16, 1, U32(file, 12)), 0);
  const std::u16string barcode = Text(documentAttrs, ids::kDocBarcode);
  EXPECT_EQ(barcode.size(), 10u);
  EXPECT_EQ(Text(documentAttrs, ids::kDocPileIndex), u"2");

  const auto records = PageRecords(file);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(PageFiles(document), (std::set<std::string>{"1.pg", "2.pg", "3.pg"}));
  for (std::uint32_t page = 1; page <= 3; ++page) {
    const auto& [value, block] = records[page - 1];
    EXPECT_EQ(value, page);
    const fs::path pageFile = document / (std::to_string(page) + ".pg");
    ASSERT_TRUE(Readable(pageFile, 1));
    Image image;
    ReadImage(pageFile, 0, &image);
    EXPECT_EQ(image.Compression(), "CCITT G4");
    for (const std::uint32_t id : {ids::kPageResolutionX, ids::kPageResolutionY, ids::kPageWidth, ids::kPageHeight,
                                   ids::kPageBitDepth})
      EXPECT_EQ(image.Attr(id), Long(*block, id)) << std::hex << id;
    EXPECT_TRUE(image.Attr(ids::kPageResolutionX) == 200 || image.Attr(ids::kPageResolutionX) == 300);
    EXPECT_EQ(image.Attr(ids::kPageWidth), 2100);
    EXPECT_EQ(image.Attr(ids::kPageHeight), 2970);
    EXPECT_EQ(image.Attr(ids::kPageBitDepth), 1);
  }
  // Pages can be told apart: they are not the same image.
  EXPECT_NE(ReadBytes(document / "1.pg"), ReadBytes(document / "2.pg"));

  const std::string barcode8(barcode.begin(), barcode.end());
  EXPECT_EQ(Lines(ReadText(document / "COMMANDS")),
            (std::vector<std::string>{"BARCODE " + barcode8, "PILE_INDEX 2", "SCANBATCH B1-1", "SCANFOLDER Group001"}));
  EXPECT_EQ(ReadText(document / "KVATTR"), "DOCUMENT=Doc00002\r\nBARCODE=" + barcode8 + "\r\n");

  // The report counts what is on disk.
  std::size_t files = 0;
  std::uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(temp.path()))
    if (entry.is_regular_file()) ++files, bytes += entry.file_size();
  EXPECT_EQ(report.groups, 1u);
  EXPECT_EQ(report.documents, 2u);
  EXPECT_EQ(report.pages, 6u);
  EXPECT_EQ(report.pageFiles, 6u);
  EXPECT_EQ(report.files, files);
  EXPECT_EQ(report.bytes, bytes);
  EXPECT_TRUE(report.specials.empty());
}

TEST(GeneratedPages, EveryCompressionOpensInTheImageLibrary) {
  const std::pair<Compression, const char*> kinds[] = {
      {Compression::None, "none"},         {Compression::Lzw, "LZW"},           {Compression::PackBits, "PackBits"},
      {Compression::CcittG3, "CCITT G3"}, {Compression::CcittG4, "CCITT G4"}, {Compression::Jpeg, "JPEG"}};
  for (const auto& [compression, name] : kinds) {
    SCOPED_TRACE(name);
    GenerateOptions options = Small();
    options.compression = compression;
    options.pages = 2;
    options.attrVersion = AttrVersion::V1;
    if (!esproduce::CanWrite(compression)) {
      try {
        esproduce::GenerateStorage(options);
        ADD_FAILURE() << "a compression this build cannot write was accepted";
      } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(esproduce::CompressionName(compression)), std::string::npos);
      }
      continue;
    }
    TempFolder temp;
    Write(temp.path(), options);
    const fs::path document = temp.path() / "Group001" / "Doc00001";
    const std::set<std::string> names = PageFiles(document);
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& page : names) {
      EXPECT_EQ(page.size(), 11u) << "version-1 page files carry eight hex digits: " << page;
      ASSERT_TRUE(Readable(document / page, 1));
      Image image;
      ReadImage(document / page, 0, &image);
      EXPECT_EQ(image.Compression(), name);
      EXPECT_EQ(image.Attr(ids::kPageBitDepth), compression == Compression::Jpeg ? 8 : 1);
      EXPECT_EQ(image.Attr(ids::kPageResolutionX), 100);
      EXPECT_EQ(image.Attr(ids::kPageWidth), 2032);  // 800 px at 100 dpi
    }
  }
}

TEST(GeneratedPages, MultipageDocumentsHoldEveryPageInTheirFirstFile) {
  for (const AttrVersion version : {AttrVersion::V2, AttrVersion::V1}) {
    TempFolder temp;
    GenerateOptions options = Small();
    options.documents = 2;
    options.pages = 4;
    options.multipage = true;
    options.attrVersion = version;
    options.extraPageDocuments = 1;
    GenerateReport report;
    Write(temp.path(), options, &report);
    EXPECT_EQ(report.pages, 2u * 4u + 1u);
    EXPECT_EQ(report.pageFiles, 3u);
    for (const char* folder : {"Doc00001", "Doc00002"}) {
      const fs::path document = temp.path() / "Group001" / folder;
      const Bytes attributes = ReadBytes(document / "SC_ATTR.BIN");
      // The page count: 32 bits at 8 in version 2, 16 bits at 14 in version 1.
      const std::uint32_t announced = version == AttrVersion::V2 ? U32(attributes, 8) : U32(attributes, 12) >> 16;
      EXPECT_EQ(announced, 4u) << "the attribute file announces every page";
      EXPECT_TRUE(Readable(document / "1.pg", 4));
      const std::set<std::string> names = PageFiles(document);
      EXPECT_TRUE(names == std::set<std::string>{"1.pg"} || names == (std::set<std::string>{"1.pg", "extra1.pg"}));
    }
  }
}

TEST(GeneratedPdf, FirstPageIsAOnePagePdfWithAConsistentCrossReference) {
  TempFolder temp;
  GenerateOptions options = Small();
  options.groups = 2;
  options.documents = 5;
  options.pages = 3;
  options.pdfDocuments = 2;
  GenerateReport report;
  Write(temp.path(), options, &report);
  ASSERT_EQ(report.CountOf(SpecialKind::Pdf), 4u);
  EXPECT_EQ(report.pages, 2u * (3u * 3u + 2u));
  for (const esproduce::SpecialDocument& special : report.specials) {
    const fs::path document = DocumentOf(temp.path(), special);
    EXPECT_EQ(PageFiles(document), std::set<std::string>{"1.pg"});
    EXPECT_EQ(U32(ReadBytes(document / "SC_ATTR.BIN"), 8), 1u);
    const std::string pdf = ReadText(document / "1.pg");
    ASSERT_EQ(pdf.rfind("%PDF-1.", 0), 0u);
    ASSERT_EQ(pdf.substr(pdf.size() - 6), "%%EOF\n");

    const std::size_t startxref = pdf.rfind("startxref\n");
    ASSERT_NE(startxref, std::string::npos);
    const std::size_t xref = std::stoul(pdf.substr(startxref + 10));
    ASSERT_EQ(pdf.compare(xref, 5, "xref\n"), 0);
    std::size_t at = xref + 5;
    ASSERT_EQ(pdf.compare(at, 2, "0 "), 0);
    const int count = std::stoi(pdf.substr(at + 2));
    at = pdf.find('\n', at) + 1;
    ASSERT_EQ(pdf.compare(at, 20, "0000000000 65535 f\r\n"), 0);
    for (int object = 1; object < count; ++object) {
      const std::string entry = pdf.substr(at + 20 * static_cast<std::size_t>(object), 20);
      ASSERT_EQ(entry.substr(10), " 00000 n\r\n") << entry;
      const std::size_t offset = std::stoul(entry.substr(0, 10));
      const std::string header = std::to_string(object) + " 0 obj\n";
      EXPECT_EQ(pdf.compare(offset, header.size(), header), 0) << "object " << object;
    }
    const std::size_t length = pdf.find("/Length ");
    const std::size_t stream = pdf.find("stream\n", length) + 7;
    EXPECT_EQ(pdf.compare(stream + std::stoul(pdf.substr(length + 8)), 10, "\nendstream"), 0);
    EXPECT_NE(pdf.find("(Document " + special.documentFolder + ")"), std::string::npos);
#if PICTORN_RENDERS_PDF
    const Bytes bytes(pdf.begin(), pdf.end());
    Image image;
    image.result = PictornImageFromMemory(&image.image, 0, &image.size, image.attrs, 1, bytes.data(),
                                          static_cast<std::uint32_t>(bytes.size()));
    EXPECT_EQ(image.result, kPictornOk) << PictornLastError();
#endif
  }
  // Text that would end a PDF string early is escaped.
  const Bytes odd = esproduce::MakePdf(100, 100, {"a(b)c\\d\xE9"});
  EXPECT_NE(std::string(odd.begin(), odd.end()).find("(a\\(b\\)c\\\\d\\351) Tj"), std::string::npos);
}

TEST(GeneratedSpecials, DamagedPagesFailInTheImageLibraryAndTheRestReads) {
  for (const bool multipage : {false, true}) {
    SCOPED_TRACE(multipage ? "multi-page" : "single pages");
    TempFolder temp;
    GenerateOptions options = Small();
    options.groups = 2;
    options.documents = 4;
    options.pages = 3;
    options.damagedDocuments = 2;
    options.multipage = multipage;
    GenerateReport report;
    Write(temp.path(), options, &report);
    ASSERT_EQ(report.CountOf(SpecialKind::Damaged), 4u);
    std::set<std::string> damaged;
    for (std::size_t i = 0; i < report.specials.size(); ++i) {
      const esproduce::SpecialDocument& special = report.specials[i];
      damaged.insert(special.groupFolder + "/" + special.documentFolder);
      // Cut short and corrupt alternate.
      EXPECT_NE(special.detail.find(i % 2 == 0 ? "truncated" : "corrupt"), std::string::npos) << special.detail;
      const fs::path document = DocumentOf(temp.path(), special);
      if (multipage) {
        EXPECT_EQ(special.pageFile, "1.pg");
        EXPECT_TRUE(Unreadable(document / "1.pg", 2));
        for (std::int32_t image = 0; image < 2; ++image) {
          Image read;
          ReadImage(document / "1.pg", image, &read);
          EXPECT_EQ(read.result, kPictornOk) << "image " << image << " of a damaged multi-page file";
        }
      } else {
        EXPECT_TRUE(Unreadable(document / special.pageFile, 0)) << special.pageFile;
        for (const std::string& name : PageFiles(document)) {
          if (name == special.pageFile) continue;
          EXPECT_TRUE(Readable(document / name, 1));
        }
      }
    }
    EXPECT_EQ(damaged.size(), 4u);
    for (const char* group : {"Group001", "Group002"}) {
      for (int d = 1; d <= 4; ++d) {
        const std::string folder = "Doc0000" + std::to_string(d);
        if (damaged.count(std::string(group) + "/" + folder)) continue;
        const fs::path document = temp.path() / group / folder;
        for (const std::string& name : PageFiles(document)) EXPECT_TRUE(Readable(document / name, multipage ? 3 : 1));
      }
    }
  }
}

TEST(GeneratedSpecials, MissingAndExtraPagesAreWhereTheReportSays) {
  TempFolder temp;
  GenerateOptions options = Small();
  options.documents = 3;
  options.pages = 3;
  options.missingPageDocuments = 1;
  options.extraPageDocuments = 1;
  GenerateReport report;
  Write(temp.path(), options, &report);
  ASSERT_EQ(report.specials.size(), 2u);
  EXPECT_EQ(report.pageFiles, 3u * 3u - 1u + 1u);
  for (const esproduce::SpecialDocument& special : report.specials) {
    const fs::path document = DocumentOf(temp.path(), special);
    EXPECT_EQ(U32(ReadBytes(document / "SC_ATTR.BIN"), 8), 3u) << "the attribute file still announces 3 pages";
    std::set<std::string> expected = {"1.pg", "2.pg", "3.pg"};
    if (special.kind == SpecialKind::MissingPage) {
      EXPECT_EQ(expected.erase(special.pageFile), 1u) << special.pageFile;
    } else {
      ASSERT_EQ(special.kind, SpecialKind::ExtraPage);
      EXPECT_EQ(special.pageFile, "extra1.pg");
      expected.insert("extra1.pg");
      EXPECT_TRUE(Readable(document / "extra1.pg", 1));
    }
    EXPECT_EQ(PageFiles(document), expected);
  }
}

TEST(GeneratedSpecials, RolesAreDisjointAndFollowTheSeed) {
  GenerateOptions options = Small();
  options.groups = 3;
  options.documents = 10;
  options.pages = 2;
  options.pdfDocuments = options.damagedDocuments = options.missingPageDocuments = options.extraPageDocuments = 2;
  options.seed = 11;
  GenerateReport first;
  esproduce::GenerateStorage(options, &first);
  std::set<std::string> documents;
  for (const esproduce::SpecialDocument& special : first.specials)
    documents.insert(special.groupFolder + "/" + special.documentFolder);
  EXPECT_EQ(documents.size(), 3u * 8u);

  const auto listing = [](const GenerateReport& report) {
    std::vector<std::string> lines;
    for (const auto& s : report.specials)
      lines.push_back(std::string(esproduce::SpecialKindName(s.kind)) + " " + s.groupFolder + "/" + s.documentFolder +
                      " " + s.pageFile);
    return lines;
  };
  GenerateReport again;
  esproduce::GenerateStorage(options, &again);
  EXPECT_EQ(listing(first), listing(again));
  options.seed = 12;
  GenerateReport other;
  esproduce::GenerateStorage(options, &other);
  EXPECT_NE(listing(first), listing(other));
}

namespace {

// FNV-1a over every path and content of the tree, in path order.
std::uint64_t Fingerprint(const std::map<std::string, std::string>& tree) {
  std::uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](const std::string& bytes) {
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;
  };
  for (const auto& [path, content] : tree) {
    mix(path);
    mix(content);
  }
  return hash;
}

}  // namespace

// The encoders are portable C++ and the draws avoid the library's distributions, so
// Linux and Windows write the same bytes. A change of the generator changes these
// values on purpose: update them from the failure message after checking that the
// storage is still right.
TEST(GeneratedStorage, BytesAreTheSameOnEveryPlatform) {
  const std::pair<Compression, std::uint64_t> expected[] = {
      {Compression::None, 14378755332109128153ull},
      {Compression::Lzw, 15203203527179095790ull},
      {Compression::PackBits, 5272803957691064224ull},
      {Compression::CcittG3, 13621333077987349432ull},
      {Compression::CcittG4, 6957235684615829462ull},
  };
  for (const auto& [compression, fingerprint] : expected) {
    TempFolder temp;
    GenerateOptions options = Small();
    options.groups = 2;
    options.documents = 4;
    options.pages = 2;
    options.compression = compression;
    options.multipage = compression == Compression::Lzw;
    options.attrVersion = compression == Compression::PackBits ? AttrVersion::V1 : AttrVersion::V2;
    options.pdfDocuments = options.damagedDocuments = options.extraPageDocuments = 1;
    options.commands = options.groupOrder = true;
    options.seed = 21;
    EXPECT_EQ(Fingerprint(Tree(Write(temp.path(), options))), fingerprint)
        << esproduce::CompressionName(compression);
  }
}
