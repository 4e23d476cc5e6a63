// The reader of the current attribute file layout (0x0200).
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "QuilletBlockWriter.h"
#include "attrs/AttributeIds.h"
#include "attrs/DocAttrsImport.h"
#include "base/Trace.h"
#include "producer/Producer.h"
#include "storage/File.h"
#include "tests/attrs/AttrsTestSupport.h"
#include "tests/support/Capture.h"

namespace {

using attrtest::Bytes;
using es::AttrFileHeader;
using es::CDocAttrsImport;
namespace ids = es::attrs;

std::vector<std::u16string> LinesFrom(estest::TraceCapture& trace, const char* source) {
  std::vector<std::u16string> texts;
  for (const auto& line : trace.Lines())
    if (line.source == source) texts.push_back(line.text);
  return texts;
}

Bytes DocumentBlock() {
  QuilletBlockWriter doc(2);
  doc.AddText(ids::kDocBarcode, u"4711").AddLong(ids::kDocBarcodePending, 0);
  return doc.Bytes();
}

Bytes PageBlock(std::int32_t width) {
  QuilletBlockWriter page(1);
  page.AddLong(ids::kPageWidth, width).AddText(ids::kPageSourceName, u"Front");
  return page.Bytes();
}

// Three pages with values 7, 8, 9 and widths 100, 200, 300.
esproduce::AttrFileV2 ThreePages() {
  esproduce::AttrFileV2 file;
  file.field0 = 0x1234;
  file.field4 = 0xCAFEF00D;
  file.documentBlock = DocumentBlock();
  for (std::int32_t i = 0; i < 3; ++i) file.pages.push_back({static_cast<std::uint32_t>(7 + i), PageBlock(100 * (i + 1))});
  return file;
}

TEST(DocAttrsImport, ReadsHeaderDocumentAndPagesInAnyOrder) {
  CDocAttrsImport reader;
  ASSERT_TRUE(reader.LoadBytes(esproduce::Serialize(ThreePages())));
  AttrFileHeader header;
  reader.GetHeader(&header);
  EXPECT_EQ(0x1234, header.field0);
  EXPECT_EQ(0x0200, header.version);
  EXPECT_EQ(0xCAFEF00Du, header.field4);
  EXPECT_EQ(3, header.pageCount);

  CAttrContainer document(2);
  std::int32_t pages = -1;
  ASSERT_TRUE(reader.ReadDocumentAttributes(&document, &pages));
  EXPECT_EQ(3, pages);
  EXPECT_EQ(u"4711", attrtest::Text(document, ids::kDocBarcode));
  EXPECT_EQ(0, attrtest::Number(document, ids::kDocBarcodePending));

  // The last page first: records are found by walking the ones before them.
  for (std::int32_t i : {2, 0, 1}) {
    CAttrContainer page(1);
    std::uint32_t value = 0;
    ASSERT_TRUE(reader.ReadPageAttributes(i, &page, &value)) << i;
    EXPECT_EQ(static_cast<std::uint32_t>(7 + i), value);
    EXPECT_EQ(100 * (i + 1), attrtest::Number(page, ids::kPageWidth));
    EXPECT_EQ(u"Front", attrtest::Text(page, ids::kPageSourceName));
  }
}

TEST(DocAttrsImport, EmptyFileHasEmptyDocumentAndNoPages) {
  CDocAttrsImport reader;
  ASSERT_TRUE(reader.LoadBytes(esproduce::Serialize(esproduce::AttrFileV2{})));
  CAttrContainer document(2);
  std::int32_t pages = -1;
  ASSERT_TRUE(reader.ReadDocumentAttributes(&document, &pages));
  EXPECT_EQ(0, pages);
  EXPECT_EQ(0u, document.Count());
  estest::TraceCapture trace;
  CAttrContainer page(1);
  std::uint32_t value = 0;
  EXPECT_FALSE(reader.ReadPageAttributes(0, &page, &value));
  EXPECT_EQ(std::vector<std::u16string>{u"Attempt to access an invalid page #0. Document has 0 pages."},
            LinesFrom(trace, es::kSourceAttributes));
}

TEST(DocAttrsImport, InvalidPageIndexTracesIndexAndPageCount) {
  CDocAttrsImport reader;
  ASSERT_TRUE(reader.LoadBytes(esproduce::Serialize(ThreePages())));
  estest::TraceCapture trace;
  CAttrContainer page(1);
  std::uint32_t value = 55;
  EXPECT_FALSE(reader.ReadPageAttributes(3, &page, &value));
  EXPECT_FALSE(reader.ReadPageAttributes(-1, &page, &value));
  EXPECT_EQ(55u, value);
  EXPECT_EQ(0u, page.Count());
  const auto lines = trace.Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(es::kSevError, lines[0].severity);
  EXPECT_EQ(u"Attempt to access an invalid page #3. Document has 3 pages.", lines[0].text);
  EXPECT_EQ(u"Attempt to access an invalid page #-1. Document has 3 pages.", lines[1].text);
}

TEST(DocAttrsImport, RefusedBlockIsTracedAndReadingGoesOn) {
  esproduce::AttrFileV2 file = ThreePages();
  file.documentBlock = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'l', 'o', 'c', 'k', '!', 0};
  file.pages[1].block = {0xFF};
  CDocAttrsImport reader;
  ASSERT_TRUE(reader.LoadBytes(esproduce::Serialize(file)));
  estest::TraceCapture trace;

  CAttrContainer document(2);
  std::int32_t pages = 0;
  EXPECT_TRUE(reader.ReadDocumentAttributes(&document, &pages));
  EXPECT_EQ(0u, document.Count());
  for (std::int32_t i = 0; i < 3; ++i) {
    CAttrContainer page(1);
    std::uint32_t value = 0;
    EXPECT_TRUE(reader.ReadPageAttributes(i, &page, &value)) << i;
    EXPECT_EQ(static_cast<std::uint32_t>(7 + i), value);
    EXPECT_EQ(i == 1 ? 0u : 2u, page.Count()) << i;
  }
  const auto lines = trace.Lines();
  ASSERT_EQ(2u, lines.size());
  for (const auto& line : lines) {
    EXPECT_EQ(es::kSevError, line.severity);
    EXPECT_EQ(es::kSourceAttributes, line.source);
    EXPECT_EQ(u"Function CreateFromBuffer failed for the document", line.text);
  }
}

TEST(DocAttrsImport, OtherVersionIsReadOnlyAsFarAsItsHeader) {
  // A version-1 file: its header must reach the import, whatever its body says.
  esproduce::AttrFileV1 old;
  old.pages.resize(2);
  const Bytes bytes = esproduce::Serialize(old);
  CDocAttrsImport reader;
  ASSERT_TRUE(reader.LoadBytes(bytes));
  AttrFileHeader header;
  reader.GetHeader(&header);
  EXPECT_EQ(0x0100, header.version);
  EXPECT_EQ(static_cast<std::int32_t>(es::attrbytes::U32(bytes.data() + 8)), header.pageCount);
  CAttrContainer document(2);
  std::int32_t pages = 0;
  EXPECT_FALSE(reader.ReadDocumentAttributes(&document, &pages));
  CAttrContainer page(1);
  std::uint32_t value = 0;
  EXPECT_FALSE(reader.ReadPageAttributes(0, &page, &value));
  EXPECT_EQ(0u, document.Count() + page.Count());

  // Twelve bytes are enough for a file of another version, not for one of this layout.
  CDocAttrsImport twelve;
  EXPECT_TRUE(twelve.LoadBytes(Bytes(bytes.begin(), bytes.begin() + 12)));
  Bytes current = esproduce::Serialize(esproduce::AttrFileV2{});
  current.resize(12);
  EXPECT_FALSE(twelve.LoadBytes(current));
  twelve.GetHeader(&header);
  EXPECT_EQ(0, header.version);  // nothing kept from a refused file
}

// ---- Files that do not hold what they declare ------------------------------------------

TEST(DocAttrsImportDamaged, EveryTruncationIsRefusedCleanly) {
  const Bytes whole = esproduce::Serialize(ThreePages());
  const std::size_t documentEnd = 16 + DocumentBlock().size();
  const std::size_t pageSize = 8 + PageBlock(100).size();
  estest::TraceCapture quiet;
  for (std::size_t length = 0; length < whole.size(); ++length) {
    CDocAttrsImport reader;
    const bool loaded = reader.LoadBytes(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    EXPECT_EQ(length >= documentEnd, loaded) << length;
    if (!loaded) continue;
    CAttrContainer document(2);
    std::int32_t pages = 0;
    EXPECT_TRUE(reader.ReadDocumentAttributes(&document, &pages));
    EXPECT_EQ(3, pages);
    for (std::int32_t i = 0; i < 3; ++i) {
      CAttrContainer page(1);
      std::uint32_t value = 0;
      const bool whole_record = documentEnd + pageSize * static_cast<std::size_t>(i + 1) <= length;
      EXPECT_EQ(whole_record, reader.ReadPageAttributes(i, &page, &value)) << length << " page " << i;
    }
  }
}

TEST(DocAttrsImportDamaged, DeclaredSizesBeyondTheFileAreRefused) {
  esproduce::AttrFileV2 file = ThreePages();
  file.documentSizeOverride = 0xFFFFFFF0u;
  CDocAttrsImport reader;
  estest::TraceCapture trace;
  EXPECT_FALSE(reader.LoadBytes(esproduce::Serialize(file)));
  ASSERT_EQ(1u, trace.Lines().size());
  EXPECT_EQ(es::kSevError, trace.Lines()[0].severity);

  // A page block size that wraps the offset arithmetic around.
  Bytes bytes = esproduce::Serialize(ThreePages());
  const std::size_t firstPage = 16 + DocumentBlock().size();
  for (int i = 0; i < 4; ++i) bytes[firstPage + 4 + static_cast<std::size_t>(i)] = 0xFF;
  ASSERT_TRUE(reader.LoadBytes(bytes));
  CAttrContainer page(1);
  std::uint32_t value = 0;
  EXPECT_FALSE(reader.ReadPageAttributes(0, &page, &value));
  EXPECT_FALSE(reader.ReadPageAttributes(2, &page, &value));
}

TEST(DocAttrsImportDamaged, HugePageCountWithFewRecordsEndsAtTheLastRecord) {
  esproduce::AttrFileV2 file = ThreePages();
  file.pageCountOverride = std::numeric_limits<std::int32_t>::max();
  CDocAttrsImport reader;
  ASSERT_TRUE(reader.LoadBytes(esproduce::Serialize(file)));
  estest::TraceCapture quiet;
  CAttrContainer page(1);
  std::uint32_t value = 0;
  EXPECT_TRUE(reader.ReadPageAttributes(2, &page, &value));
  EXPECT_FALSE(reader.ReadPageAttributes(3, &page, &value));
  EXPECT_FALSE(reader.ReadPageAttributes(std::numeric_limits<std::int32_t>::max() - 1, &page, &value));
  // The import walks every announced page: the short file is reported once, not per page.
  EXPECT_EQ(1u, LinesFrom(quiet, es::kSourceAttributes).size());
}

TEST(DocAttrsImportDamaged, RandomMutationsNeverReadPastTheFile) {
  estest::TraceCapture quiet;
  std::mt19937 random(20240611);
  const Bytes seeds[] = {esproduce::Serialize(ThreePages()), esproduce::Serialize(esproduce::AttrFileV2{})};
  for (int round = 0; round < 3000; ++round) {
    attrtest::WalkV2(attrtest::Mutate(seeds[round % 2], random));
    if (round % 100 == 0) quiet.Clear();
  }
}

}  // namespace

static ::testing::Environment* const kAttach = ::testing::AddGlobalTestEnvironment(new attrtest::AttachEnvironment);
