// The reader of the version-1 attribute file layout (0x0100).
#include <cstdint>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "attrs/AttributeIds.h"
#include "attrs/DocAttrsImportV1.h"
#include "attrs/ScanStamp.h"
#include "base/Trace.h"
#include "platform/Platform.h"
#include "producer/Producer.h"
#include "tests/attrs/AttrsTestSupport.h"
#include "tests/support/Capture.h"

namespace {

using attrtest::Bytes;
using esproduce::RecordV1;
namespace v1 = esproduce::v1;
namespace ids = es::attrs;

struct ReadPage {
  bool ok = false;
  std::uint32_t value = 0xDEAD;
};

ReadPage Read(es::CDocAttrsImportV1& reader, std::int32_t index, CAttrContainer* page) {
  ReadPage r;
  r.ok = reader.ReadPageAttributes(index, page, &r.value);
  return r;
}

void Load(es::CDocAttrsImportV1& reader, const esproduce::AttrFileV1& file) {
  EXPECT_TRUE(reader.LoadBytes(esproduce::Serialize(file)));
}

std::int64_t StampTime(const Bytes& stamp) {
  std::uint64_t t = 0;
  for (int i = 0; i < 8; ++i) t |= std::uint64_t{stamp[static_cast<std::size_t>(i)]} << (8 * i);
  return static_cast<std::int64_t>(t);
}

TEST(DocAttrsImportV1, PageWithoutRecordsGetsTheDefaultsInOrder) {
  esproduce::AttrFileV1 file;
  file.pages.resize(1);
  es::CDocAttrsImportV1 reader;
  ASSERT_TRUE(reader.LoadBytes(esproduce::Serialize(file)));
  CAttrContainer page(1);
  const std::int64_t before = es::platform::Os().UnixTime();
  const ReadPage r = Read(reader, 0, &page);
  const std::int64_t after = es::platform::Os().UnixTime();
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(0u, r.value);  // names the page file 00000000.pg

  const std::pair<std::uint32_t, long> numbers[] = {
      {ids::kPageWidth, -1},    {ids::kPageHeight, -1}, {ids::kPageResolutionX, 300}, {ids::kPageResolutionY, 300},
      {ids::kPageRecord108, 0},    {ids::kPageRecord10A, 0},  {ids::kPageRecord109, 0},        {ids::kPageRecord10B, 0},
      {ids::kPageRecord10C, 0},    {ids::kPageRecord10D, 0},  {ids::kPageBitDepth, 1},      {ids::kPageAlwaysOne, 1},
      {ids::kPageAlwaysZero, 0},    {ids::kPageFirstOfDocument, 0}, {ids::kPageAllowRescan, 1}};
  for (const auto& [id, value] : numbers) EXPECT_EQ(value, attrtest::Number(page, id)) << std::hex << id;
  EXPECT_EQ(u"", attrtest::Text(page, ids::kPageSourceName));

  const Bytes attr12 = attrtest::Binary(page, ids::kPageValueBlock);
  ASSERT_EQ(16u, attr12.size());
  EXPECT_EQ((Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), Bytes(attr12.begin(), attr12.begin() + 13));

  const Bytes stamp = attrtest::Binary(page, ids::kPageScanStamp);
  ASSERT_EQ(248u, stamp.size());
  EXPECT_GE(StampTime(stamp), before);
  EXPECT_LE(StampTime(stamp), after);
  EXPECT_EQ(0, stamp[8] | stamp[9]);      // empty user name
  EXPECT_EQ(0, stamp[210] | stamp[211]);  // empty computer name

  // The host sees the attributes in the order they were set.
  const std::vector<std::uint32_t> order = {
      ids::kPageWidth,     ids::kPageHeight,     ids::kPageResolutionX, ids::kPageResolutionY, ids::kPageValueBlock,
      ids::kPageRecord108,    ids::kPageRecord10A,     ids::kPageSourceName,  ids::kPageRecord109,      ids::kPageRecord10B,
      ids::kPageRecord10C,    ids::kPageRecord10D,     ids::kPageScanStamp,   ids::kPageBitDepth,    ids::kPageAlwaysOne,
      ids::kPageAlwaysZero,    ids::kPageFirstOfDocument, ids::kPageAllowRescan};
  std::vector<std::uint32_t> seen(page.Count());
  for (std::uint32_t i = 0; i < page.Count(); ++i) page.GetAt(i, &seen[i], nullptr);
  EXPECT_EQ(order, seen);
}

TEST(DocAttrsImportV1, RecordsGoToTheirAttributes) {
  esproduce::AttrFileV1 file;
  file.pages.push_back({RecordV1::Int32(v1::kPageValue, 255), RecordV1::Int32(v1::kPageWidth, 2100),
                        RecordV1::Int32(v1::kPageHeight, 2970), RecordV1::Int32(v1::kPageResolutionX, 200),
                        RecordV1::Int32(v1::kPageResolutionY, 150), RecordV1::Int32(v1::kPage108, 3),
                        RecordV1::Int32(v1::kPage109, 9), RecordV1::Int32(v1::kPage10A, 10),
                        RecordV1::Int32(v1::kPage10B, 11), RecordV1::Int32(v1::kPage10C, 12),
                        RecordV1::Int32(v1::kPage10D, -13), RecordV1::Int32(v1::kPage105, 5),
                        RecordV1::Ansi(v1::kPage106, "anything at all"), RecordV1::Int32(0x7777, 1),
                        RecordV1::Int64(v1::kPageScanTime, 1700000000123LL),
                        RecordV1::Ansi(v1::kPageUserName, "operator"), RecordV1::Utf16(v1::kPageComputerName, u"SCAN-PC"),
                        RecordV1::Utf16(v1::kPageSourceName, u"Flatbed \u00fc\u20ac")});
  es::CDocAttrsImportV1 reader;
  Load(reader, file);
  CAttrContainer page(1);
  const ReadPage r = Read(reader, 0, &page);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(255u, r.value);  // names the page file 000000ff.pg
  EXPECT_EQ(2100, attrtest::Number(page, ids::kPageWidth));
  EXPECT_EQ(2970, attrtest::Number(page, ids::kPageHeight));
  EXPECT_EQ(200, attrtest::Number(page, ids::kPageResolutionX));
  EXPECT_EQ(150, attrtest::Number(page, ids::kPageResolutionY));
  EXPECT_EQ(3, attrtest::Number(page, ids::kPageRecord108));
  EXPECT_EQ(9, attrtest::Number(page, ids::kPageRecord109));
  EXPECT_EQ(10, attrtest::Number(page, ids::kPageRecord10A));
  EXPECT_EQ(11, attrtest::Number(page, ids::kPageRecord10B));
  EXPECT_EQ(12, attrtest::Number(page, ids::kPageRecord10C));
  EXPECT_EQ(-13, attrtest::Number(page, ids::kPageRecord10D));
  EXPECT_EQ(u"Flatbed \u00fc\u20ac", attrtest::Text(page, ids::kPageSourceName));
  const auto expected = es::attrs::BuildScanStamp(1700000000123LL, u"operator", u"SCAN-PC");
  EXPECT_EQ(Bytes(expected.begin(), expected.end()), attrtest::Binary(page, ids::kPageScanStamp));
  EXPECT_EQ(18u, page.Count());  // 0x105, 0x106 and unknown types are not passed on
}

TEST(DocAttrsImportV1, Attr08DefaultFollowsAttr07) {
  esproduce::AttrFileV1 file;
  file.pages.push_back({RecordV1::Int32(v1::kPage108, 1)});
  file.pages.push_back({RecordV1::Int32(v1::kPage108, 0)});
  file.pages.push_back({RecordV1::Int32(v1::kPage108, 1), RecordV1::Int32(v1::kPage10A, 0)});
  es::CDocAttrsImportV1 reader;
  Load(reader, file);
  const long expected[] = {50, 0, 0};
  for (std::int32_t i = 0; i < 3; ++i) {
    CAttrContainer page(1);
    ASSERT_TRUE(Read(reader, i, &page).ok);
    EXPECT_EQ(expected[i], attrtest::Number(page, ids::kPageRecord10A)) << i;
  }
}

TEST(DocAttrsImportV1, RecordsThatDoNotFitTheirFieldAreIgnored) {
  RecordV1 longWidth = RecordV1::Int32(v1::kPageWidth, 777);
  longWidth.payload.push_back(0);  // length 10 instead of 9
  RecordV1 ansiHeight = RecordV1::Ansi(v1::kPageHeight, "1234");  // right length, wrong kind
  RecordV1 rawSource = RecordV1::Int32(v1::kPageSourceName, 0x41414141);  // raw bytes for a text
  RecordV1 shortTime = RecordV1::Int32(v1::kPageScanTime, 5);  // 4 bytes for an 8-byte field
  esproduce::AttrFileV1 file;
  file.pages.push_back({longWidth, ansiHeight, rawSource, shortTime, RecordV1::Int32(v1::kPageResolutionX, 600)});
  es::CDocAttrsImportV1 reader;
  Load(reader, file);
  CAttrContainer page(1);
  ASSERT_TRUE(Read(reader, 0, &page).ok);
  EXPECT_EQ(-1, attrtest::Number(page, ids::kPageWidth));
  EXPECT_EQ(-1, attrtest::Number(page, ids::kPageHeight));
  EXPECT_EQ(u"", attrtest::Text(page, ids::kPageSourceName));
  EXPECT_NE(5, StampTime(attrtest::Binary(page, ids::kPageScanStamp)));
  EXPECT_EQ(600, attrtest::Number(page, ids::kPageResolutionX));  // the list goes on after them
}

TEST(DocAttrsImportV1, TextsAreCutToTheirCapacity) {
  const std::string longAnsi(400, 'x');
  esproduce::AttrFileV1 file;
  file.documentRecords = {RecordV1::Ansi(v1::kDocText0, longAnsi), RecordV1::Ansi(v1::kDocText1, longAnsi),
                          RecordV1::Utf16(v1::kDocText2, std::u16string(300, u'y'))};
  file.pages.push_back({RecordV1::Ansi(v1::kPageSourceName, longAnsi), RecordV1::Ansi(v1::kPageUserName, longAnsi),
                        RecordV1::Ansi(v1::kPageComputerName, longAnsi)});
  // Text ends at a NUL byte (ANSI) or NUL unit (UTF-16) inside the payload.
  file.pages.push_back({RecordV1::Ansi(v1::kPageSourceName, std::string("ab\0cd", 5)),
                        RecordV1::Utf16(v1::kPageUserName, std::u16string(u"op\0xy", 5))});
  es::CDocAttrsImportV1 reader;
  Load(reader, file);

  es::DocAttrsV1 record;
  ASSERT_TRUE(reader.ReadDocumentAttributes(&record));
  EXPECT_EQ(std::u16string(63, u'x'), record.text0);
  EXPECT_EQ(std::u16string(255, u'x'), record.text1);
  EXPECT_EQ(std::u16string(255, u'y'), record.text2);

  CAttrContainer page(1);
  ASSERT_TRUE(Read(reader, 0, &page).ok);
  EXPECT_EQ(std::u16string(63, u'x'), attrtest::Text(page, ids::kPageSourceName));
  const auto expected = es::attrs::BuildScanStamp(0, std::u16string(99, u'x'), std::u16string(14, u'x'));
  Bytes stamp = attrtest::Binary(page, ids::kPageScanStamp);
  std::fill(stamp.begin(), stamp.begin() + 8, 0);  // the time is now
  EXPECT_EQ(Bytes(expected.begin(), expected.end()), stamp);

  CAttrContainer second(1);
  ASSERT_TRUE(Read(reader, 1, &second).ok);
  EXPECT_EQ(u"ab", attrtest::Text(second, ids::kPageSourceName));
  const Bytes stamp2 = attrtest::Binary(second, ids::kPageScanStamp);
  EXPECT_EQ((Bytes{'o', 0, 'p', 0, 0, 0}), Bytes(stamp2.begin() + 8, stamp2.begin() + 14));
}

TEST(DocAttrsImportV1, PageIndexOutsideTheDocumentIsRefusedSilently) {
  esproduce::AttrFileV1 file;
  file.pages.resize(2);
  es::CDocAttrsImportV1 reader;
  Load(reader, file);
  estest::TraceCapture trace;
  CAttrContainer page(1);
  EXPECT_FALSE(Read(reader, 2, &page).ok);
  EXPECT_FALSE(Read(reader, -1, &page).ok);
  EXPECT_EQ(0u, page.Count());
  EXPECT_TRUE(trace.Lines().empty());
}

// ---- Files that do not hold what they declare ------------------------------------------

esproduce::AttrFileV1 RichFile() {
  esproduce::AttrFileV1 file;
  file.documentRecords = {RecordV1::Ansi(v1::kDocText0, "pile"), RecordV1::Ansi(v1::kDocText1, "code")};
  file.pages.push_back({RecordV1::Int32(v1::kPageValue, 1), RecordV1::Int32(v1::kPageWidth, 2100)});
  file.pages.push_back({RecordV1::Int32(v1::kPageValue, 2), RecordV1::Ansi(v1::kPageUserName, "someone")});
  return file;
}

TEST(DocAttrsImportV1Damaged, EveryTruncationIsReadCleanly) {
  const Bytes whole = esproduce::Serialize(RichFile());
  estest::TraceCapture quiet;
  for (std::size_t length = 0; length < whole.size(); ++length) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    es::CDocAttrsImportV1 reader;
    ASSERT_EQ(length >= v1::kHeadSize, reader.LoadBytes(cut)) << length;
    if (length < v1::kHeadSize) continue;
    es::DocAttrsV1 record;
    EXPECT_TRUE(reader.ReadDocumentAttributes(&record));
    EXPECT_EQ(2, record.pageCount);
    for (std::int32_t i = 0; i < 2; ++i) {
      CAttrContainer page(1);
      const ReadPage r = Read(reader, i, &page);
      // Only a missing table entry makes a page unreadable; missing records are absent fields.
      EXPECT_EQ(length >= v1::kHeadSize + v1::kPageEntrySize * static_cast<std::size_t>(i + 1), r.ok) << length;
    }
  }
}

TEST(DocAttrsImportV1Damaged, BrokenListEndsWhereTheDamageStarts) {
  esproduce::AttrFileV1 file = RichFile();
  RecordV1 tooShort = RecordV1::Int32(v1::kPageHeight, 5);
  tooShort.lengthOverride = 4;
  file.pages[0] = {RecordV1::Int32(v1::kPageValue, 1), tooShort, RecordV1::Int32(v1::kPageWidth, 2100)};
  RecordV1 negative = RecordV1::Int32(v1::kPageHeight, 5);
  negative.lengthOverride = -9;
  file.pages[1] = {RecordV1::Int32(v1::kPageValue, 2), negative};
  es::CDocAttrsImportV1 reader;
  Load(reader, file);
  estest::TraceCapture trace;
  for (std::int32_t i = 0; i < 2; ++i) {
    CAttrContainer page(1);
    const ReadPage r = Read(reader, i, &page);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(static_cast<std::uint32_t>(i + 1), r.value);
    EXPECT_EQ(-1, attrtest::Number(page, ids::kPageWidth));
    EXPECT_EQ(-1, attrtest::Number(page, ids::kPageHeight));
  }
  ASSERT_EQ(2u, trace.Lines().size());
  EXPECT_EQ(es::kSevError, trace.Lines()[0].severity);
  EXPECT_EQ(es::kSourceAttributes, trace.Lines()[0].source);
}

TEST(DocAttrsImportV1Damaged, OffsetsAndCountsBeyondTheFile) {
  esproduce::AttrFileV1 file = RichFile();
  file.documentListOffsetOverride = 0xFFFFFFFEu;
  file.documentRecordCountOverride = 32767;
  file.pageCountOverride = 32767;
  es::CDocAttrsImportV1 reader;
  Load(reader, file);
  estest::TraceCapture quiet;
  es::DocAttrsV1 record;
  ASSERT_TRUE(reader.ReadDocumentAttributes(&record));
  EXPECT_EQ(u"", record.text0);
  EXPECT_EQ(32767, record.pageCount);
  CAttrContainer page(1);
  EXPECT_TRUE(Read(reader, 1, &page).ok);
  EXPECT_FALSE(Read(reader, 32766, &page).ok);  // its table entry lies past the end

  esproduce::AttrFileV1 negative = RichFile();
  negative.documentRecordCountOverride = -5;
  negative.pageCountOverride = -1;
  es::CDocAttrsImportV1 other;
  Load(other, negative);
  ASSERT_TRUE(other.ReadDocumentAttributes(&record));
  EXPECT_EQ(u"", record.text0);
  EXPECT_EQ(-1, record.pageCount);
  EXPECT_FALSE(Read(other, 0, &page).ok);
}

TEST(DocAttrsImportV1Damaged, RandomMutationsNeverReadPastTheFile) {
  estest::TraceCapture quiet;
  std::mt19937 random(19700101);
  esproduce::AttrFileV1 empty;
  empty.pages.resize(1);
  const Bytes seeds[] = {esproduce::Serialize(RichFile()), esproduce::Serialize(empty)};
  for (int round = 0; round < 3000; ++round) {
    attrtest::WalkV1(attrtest::Mutate(seeds[round % 2], random));
    if (round % 100 == 0) quiet.Clear();
  }
}

}  // namespace
