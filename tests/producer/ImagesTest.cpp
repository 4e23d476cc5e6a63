// Page images of generated storages as the image library finds them: sizes, every
// compression, PDF documents, damaged, missing and extra pages.
#include <algorithm>
#include <stdexcept>

#include <Pictorn.h>
#include <Quillet.h>

#include "TreeSupport.h"
#include "src/attrs/AttributeIds.h"
#include "tests/pictorn/PictornSupport.h"

using namespace producer_test;
using pictorn_test::Page, pictorn_test::ReadImage, pictorn_test::ReadMemory;
namespace ids = es::attrs;

namespace {

// What the library says of each image of the file: "ok", or why it cannot hand it over.
std::vector<std::string> Reads(const fs::path& path) {
  const pictorn_test::OpenFile file(path);  // not the Win32 function of that name
  std::vector<std::string> reads;
  for (std::int32_t i = 0, count = PictornImageCount(file.handle); i < count; ++i)
    reads.push_back(ReadImage(file.handle, i).result == kPictornOk ? "ok" : std::string("failed: ") + PictornLastError());
  return reads;
}

Page FirstImage(const fs::path& path) { return ReadImage(pictorn_test::OpenFile(path).handle, 0); }

std::u16string Text(CAttrContainer& container, std::uint32_t id) {
  AttrVariant value{};
  return container.Get(id, &value, 0) ? std::u16string(value.text, value.textLength) : u"<absent>";
}

// A one-page PDF whose cross-reference table points at each object and whose stream is
// as long as it says.
void ExpectPdf(const std::string& pdf, const std::string& documentFolder) {
  ASSERT_EQ(pdf.rfind("%PDF-1.", 0), 0u);
  ASSERT_EQ(pdf.substr(pdf.size() - 6), "%%EOF\n");
  const std::size_t startxref = pdf.rfind("startxref\n");
  ASSERT_NE(startxref, std::string::npos);
  const std::size_t xref = std::stoul(pdf.substr(startxref + 10));
  ASSERT_EQ(pdf.compare(xref, 7, "xref\n0 "), 0);
  const int count = std::stoi(pdf.substr(xref + 7));
  const std::size_t table = pdf.find('\n', xref + 5) + 1;
  ASSERT_EQ(pdf.compare(table, 20, "0000000000 65535 f\r\n"), 0);
  for (int object = 1; object < count; ++object) {
    const std::string entry = pdf.substr(table + 20 * static_cast<std::size_t>(object), 20);
    ASSERT_EQ(entry.substr(10), " 00000 n\r\n") << entry;
    const std::string header = std::to_string(object) + " 0 obj\n";
    EXPECT_EQ(pdf.compare(std::stoul(entry.substr(0, 10)), header.size(), header), 0) << "object " << object;
  }
  const std::size_t length = pdf.find("/Length ");
  const std::size_t stream = pdf.find("stream\n", length) + 7;
  EXPECT_EQ(pdf.compare(stream + std::stoul(pdf.substr(length + 8)), 10, "\nendstream"), 0);
  EXPECT_NE(pdf.find("(Document " + documentFolder + ")"), std::string::npos);
  // Text that would end a PDF string early is escaped.
  const Bytes odd = MakePdf(100, 100, {"a(b)c\\d\xE9"});
  EXPECT_NE(std::string(odd.begin(), odd.end()).find("(a\\(b\\)c\\\\d\\351) Tj"), std::string::npos);
#if PICTORN_RENDERS_PDF
  EXPECT_EQ(ReadMemory(Bytes(pdf.begin(), pdf.end())).result, kPictornOk) << PictornLastError();
#endif
}

// FNV-1a over every path and content of the tree, in path order.
std::uint64_t Fingerprint(const std::map<std::string, std::string>& tree) {
  std::uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](const std::string& bytes) {
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;
  };
  for (const auto& [path, content] : tree) mix(path), mix(content);
  return hash;
}

std::vector<std::string> Roles(const GenerateReport& report) {
  std::vector<std::string> lines;
  for (const auto& s : report.specials)
    lines.push_back(std::string(SpecialKindName(s.kind)) + " " + s.groupFolder + "/" + s.documentFolder + " " + s.pageFile);
  return lines;
}

}  // namespace

TEST(PageSizes, NamedAndMeasuredSizesTurnIntoPixels) {
  const struct { const char* text; std::uint32_t dpi, width, height; } rows[] = {
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
    const auto pixels = esproduce::ToPixels(*size, row.dpi);
    EXPECT_EQ(std::pair(pixels.width, pixels.height), std::pair(row.width, row.height));
  }

  for (const char* bad : {"", "a5", "210x297", "210x297cm", "x297mm", "210xmm", "210x0mm", "1.25x3mm", "-1x5px",
                          "1.5x2px", "210.x297mm", "99999999999x1px", "210*297mm"}) {
    std::string error;
    EXPECT_FALSE(esproduce::ParsePageSize(bad, &error)) << bad;
    EXPECT_NE(error.find("WxHmm"), std::string::npos) << bad;
  }
}

// Version-2 attribute files announce the pages that exist, with the values and sizes of
// their images; the side files name the document's barcode; the report counts what is
// on disk.
TEST(GeneratedPages, DefaultPagesAreA4G4AndAgreeWithTheAttributeFile) {
  TempFolder temp;
  GenerateReport report;
  Write(temp.Root(), {.documents = 2, .pages = 3, .commands = true, .kvattr = true}, &report);
  const fs::path document = temp / "Group001" / "Doc00002";
  const Bytes file = ReadBytes(document / "SC_ATTR.BIN");
  ASSERT_GE(file.size(), 16u);
  EXPECT_EQ(U32(file, 0) >> 16, 0x0200u);
  CAttrContainer documentAttrs(2);
  ASSERT_LE(16u + U32(file, 12), file.size());
  ASSERT_NE(documentAttrs.CreateFromBuffer(file.data() + 16, 1, U32(file, 12)), 0);
  const std::u16string barcode = Text(documentAttrs, ids::kDocBarcode);
  EXPECT_EQ(barcode.size(), 10u);
  EXPECT_EQ(Text(documentAttrs, ids::kDocPileIndex), u"2");

  // The page records (value, size, block) fill the file to its end.
  ASSERT_EQ(U32(file, 8), 3u);
  std::size_t at = 16 + U32(file, 12);
  for (std::uint32_t page = 1; page <= 3; ++page) {
    const std::uint32_t size = U32(file, at + 4);
    ASSERT_LE(at + 8 + size, file.size());
    EXPECT_EQ(U32(file, at), page);
    CAttrContainer block(1);
    ASSERT_NE(block.CreateFromBuffer(file.data() + at + 8, 1, size), 0);
    at += 8 + size;
    const fs::path pageFile = document / (std::to_string(page) + ".pg");
    ASSERT_EQ(Reads(pageFile), std::vector<std::string>{"ok"});
    const Page image = FirstImage(pageFile);
    EXPECT_STREQ(image.Info().compression, "CCITT G4");
    // What the block announces, what the image carries: 300 dpi, 210 x 297 mm, 1 bit.
    for (const auto& [id, want] : {std::pair{ids::kPageResolutionX, 300L}, {ids::kPageResolutionY, 300L},
                                   {ids::kPageWidth, 2100L}, {ids::kPageHeight, 2970L}, {ids::kPageBitDepth, 1L}}) {
      long announced = -1;
      block.GetAttr(id, &announced, 0);
      EXPECT_EQ(std::pair(announced, image.Attr(id)), std::pair(want, want)) << std::hex << id;
    }
  }
  EXPECT_EQ(at, file.size());
  // Pages can be told apart: they are not the same image.
  EXPECT_NE(ReadBytes(document / "1.pg"), ReadBytes(document / "2.pg"));

  const std::string barcode8(barcode.begin(), barcode.end());
  EXPECT_EQ(Lines(ReadFile(document / "COMMANDS")),
            (std::vector<std::string>{"BARCODE " + barcode8, "PILE_INDEX 2", "SCANBATCH B1-1", "SCANFOLDER Group001"}));
  EXPECT_EQ(ReadFile(document / "KVATTR"), "DOCUMENT=Doc00002\r\nBARCODE=" + barcode8 + "\r\n");

  std::uintmax_t files = 0, bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(temp.Root()))
    if (entry.is_regular_file()) ++files, bytes += entry.file_size();
  EXPECT_EQ((std::vector<std::uintmax_t>{report.groups, report.documents, report.pages, report.pageFiles,
                                         report.files, report.bytes}),
            (std::vector<std::uintmax_t>{1, 2, 6, 6, files, bytes}));
  EXPECT_TRUE(report.specials.empty());
}

// One storage with every role per layout and compression. The same seed gives the same
// tree and roles, written as it is generated or as a whole plan, and another seed others.
// The encoders are portable C++ and the draws avoid the library's distributions, so Linux
// and Windows write the same bytes (JPEG is each platform's own): a change of the
// generator changes the fingerprints on purpose, update them from the failure message
// once the rest of the test passes. Names reach the text files in ANSI, each group's
// order file lists its documents shuffled, each special document is what the report
// says, no document has two roles, and every other page reads as written.
TEST(GeneratedStorage, SeedGivesTheBytesEachRoleIsWhereTheReportSaysEveryOtherPageReadsAsWritten) {
  const struct {
    bool multipage; AttrVersion version; Compression compression; const char* name; std::uint64_t fingerprint;
  } configs[] = {
      {false, AttrVersion::V2, Compression::None, "none", 13261915113498879168ull},
      {true, AttrVersion::V2, Compression::Lzw, "LZW", 132219886446307607ull},
      {true, AttrVersion::V1, Compression::PackBits, "PackBits", 13857307931436586757ull},
      {false, AttrVersion::V2, Compression::CcittG3, "CCITT G3", 2336379140204190352ull},
      {false, AttrVersion::V2, Compression::CcittG4, "CCITT G4", 10898430088366963777ull},
      {false, AttrVersion::None, Compression::CcittG4, "CCITT G4", 4416183066028202634ull},
      {false, AttrVersion::V2, Compression::Jpeg, "JPEG", 0}};
  for (const auto& [multipage, version, compression, compressionName, fingerprint] : configs) {
    SCOPED_TRACE(std::string(compressionName) + (multipage ? ", multi-page, version " : ", single pages, version ") +
                 std::to_string(static_cast<int>(version)));
    TempFolder temp;
    GenerateOptions options{.groups = 2, .documents = 6, .pages = 3, .attrVersion = version,
                            .description = "Caf\xC3\xA9", .commands = true, .groupOrder = true, .seed = 21,
                            .groupPrefix = "Gr\xC3\xBC", .compression = compression, .pageSize = kSmallPage,
                            .dpi = 100, .multipage = multipage, .pdfDocuments = 1, .damagedDocuments = 2,
                            .missingPageDocuments = 1, .extraPageDocuments = 1};
    if (!CanWrite(compression)) {
      try {
        GenerateStorage(options);
        ADD_FAILURE() << "a compression this build cannot write was accepted";
      } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find(CompressionName(compression)), std::string::npos);
      }
      continue;
    }
    GenerateReport report, again, other;
    const auto tree = Tree(Write(temp / "a", options, &report));
    if (fingerprint != 0) { EXPECT_EQ(Fingerprint(tree), fingerprint); }
    std::string error;
    ASSERT_TRUE(WriteStorage(temp / "b", GenerateStorage(options, &again), &error)) << error;
    EXPECT_EQ(Tree(temp / "b"), tree);
    EXPECT_EQ(Roles(again), Roles(report));
    options.seed = 22;
    EXPECT_NE(Tree(Write(temp / "c", options, &other)), tree);
    EXPECT_NE(Roles(other), Roles(report));
    // The description and the groups' names in ANSI.
    EXPECT_EQ(temp.Read("a/ESDesc.txt"), "Caf\xE9\r\n");
    auto groups = Lines(temp.Read("a/Doc_Order.txt"));
    std::ranges::sort(groups);
    EXPECT_EQ(groups, (std::vector<std::string>{"Gr\xFC" "001", "Gr\xFC" "002"}));

    // Per group: PDF 1, damaged 2 x 3, missing 2 (none in one file), extra 3 + 1, plain 3.
    EXPECT_EQ(std::tuple(report.pages, report.pageFiles),
              std::tuple(2u * (multipage ? 14u : 16u), 2u * (multipage ? 6u : 16u)));
    std::map<std::string, const esproduce::SpecialDocument*> roles;
    for (const auto& special : report.specials)
      EXPECT_TRUE(roles.emplace(special.groupFolder + "/" + special.documentFolder, &special).second);
    EXPECT_EQ(roles.size(), 2u * 5u);

    int damagedSoFar = 0;
    for (const std::string group : {"Gr\xC3\xBC" "001", "Gr\xC3\xBC" "002"}) {
      const fs::path folder = temp / "a" / PathFromUtf8(group);
      EXPECT_EQ(ReadFile(folder / "GR_LOCK.TXT"), "Gr\xFC" + group.substr(4));
      // The order file names every document folder, not in folder order.
      const auto order = Lines(ReadFile(folder / "Doc_Order.txt"));
      std::vector<std::string> sorted = order, folders;
      std::ranges::sort(sorted);
      for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_directory()) folders.push_back(PathToUtf8(entry.path().filename()));
      std::ranges::sort(folders);
      EXPECT_EQ(sorted, folders);
      EXPECT_NE(order, sorted);
      for (int d = 1; d <= 6; ++d) {
        const std::string name = group + "/Doc0000" + std::to_string(d);
        SCOPED_TRACE(name);
        const fs::path document = folder / ("Doc0000" + std::to_string(d));
        const auto role = roles.find(name);
        const esproduce::SpecialDocument* special = role == roles.end() ? nullptr : role->second;
        const auto is = [special](SpecialKind kind) { return special && special->kind == kind; };
        EXPECT_EQ(fs::exists(document / "SC_ATTR.BIN"), version != AttrVersion::None);
        if (version != AttrVersion::None) {  // the page count: 32 bits at 8 in version 2, 16 bits at 14 in version 1
          const Bytes attributes = ReadBytes(document / "SC_ATTR.BIN");
          EXPECT_EQ(version == AttrVersion::V2 ? U32(attributes, 8) : U32(attributes, 12) >> 16,
                    is(SpecialKind::Pdf) ? 1u : 3u) << "the attribute file announces every page";
        }
        std::set<std::string> files = multipage ? std::set<std::string>{"1.pg"}
                                                : std::set<std::string>{"1.pg", "2.pg", "3.pg"};
        std::string unreadable;
        if (is(SpecialKind::Pdf)) {
          files = {"1.pg"};
          EXPECT_EQ(special->pageFile, "1.pg");
          ExpectPdf(ReadFile(document / "1.pg"), special->documentFolder);
        } else if (is(SpecialKind::Damaged)) {
          // Cut short and corrupt alternate.
          EXPECT_NE(special->detail.find(damagedSoFar++ % 2 == 0 ? "truncated" : "corrupt"), std::string::npos)
              << special->detail;
          unreadable = special->pageFile;
          EXPECT_TRUE(files.count(unreadable)) << unreadable;
          // In one file the last image is damaged; the ones before it still read.
          std::vector<std::string> reads = Reads(document / unreadable);
          const std::size_t last = multipage ? 2 : 0;
          EXPECT_TRUE(reads.size() <= last || reads[last] != "ok");
          reads.resize(std::min(reads.size(), last));
          EXPECT_EQ(reads, std::vector<std::string>(last, "ok"));
        } else if (is(SpecialKind::MissingPage)) {
          EXPECT_EQ(files.erase(special->pageFile), 1u) << special->pageFile;
          if (multipage) files.clear();
        } else if (is(SpecialKind::ExtraPage)) {
          EXPECT_EQ(special->pageFile, "extra1.pg");
          files.insert("extra1.pg");
        }
        EXPECT_EQ(PageFiles(document), files);
        for (const std::string& file : files) {
          if (file == unreadable || is(SpecialKind::Pdf)) continue;
          EXPECT_EQ(Reads(document / file), std::vector<std::string>(multipage && file == "1.pg" ? 3 : 1, "ok"));
          const Page image = FirstImage(document / file);
          EXPECT_EQ(std::tuple(std::string(image.Info().compression), image.Attr(ids::kPageBitDepth), image.Attr(ids::kPageResolutionX),
                               image.Attr(ids::kPageWidth)),  // 800 px at 100 dpi are 203.2 mm
                    std::tuple(compressionName, compression == Compression::Jpeg ? 8 : 1, 100, 2032));
        }
      }
    }
  }
}
