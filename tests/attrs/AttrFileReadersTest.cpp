// The readers of both attribute file layouts (0x0200 and 0x0100) and the page-count check.
// Each case renders all a reader gives for a file (load, header, document, the pages asked
// for, every attribute in the order it was set, every trace line) and compares it with its
// text in golden/.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "QuilletBlockWriter.h"
#include "ResourceIds.h"
#include "attrs/AttributeIds.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "platform/Platform.h"
#include "producer/Producer.h"
#include "storage/AttributeReading.h"
#include "tests/attrs/AttrsTestSupport.h"
#include "tests/frame/ModuleAttachEnvironment.h"
#include "tests/support/Capture.h"

namespace {

using attrtest::Bytes;
using esproduce::RecordV1;
using V1 = es::CDocAttrsImportV1;
using V2 = es::CDocAttrsImport;
namespace v1 = esproduce::v1;
namespace ids = es::attrs;

// The trace lines written since the last call, with the path separator of either platform as '/'.
std::string Traced(estest::TraceCapture& trace) {
  std::string out;
  for (const auto& l : trace.Lines())
    out += "trace " + std::to_string(l.severity) + " " + l.source + ": " + es::ToUtf8(l.text) + "\n";
  trace.Clear();
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// Everything a reader gives for `bytes`: load, header, document, then the pages in `order`
// (by default every announced page the file could hold and one past each end).
template <typename Reader>
std::string ReadAll(const Bytes& bytes, std::vector<std::int32_t> order = {}) {
  estest::TraceCapture trace;
  std::string out;
  Reader reader;
  const bool loaded = reader.LoadBytes(bytes, u"SC_ATTR.BIN");
  es::AttrFileHeader h;
  h.pageCount = 77;  // the version-1 reader leaves it alone
  reader.GetHeader(&h);
  char head[96];
  std::snprintf(head, sizeof head, "load %s, header %04x %04x %08x %d\n", loaded ? "ok" : "refused", h.field0,
                h.version, h.field4, h.pageCount);
  out += head;
  out += Traced(trace);
  if (!loaded) return out;
  std::int32_t pages = -7;
  if constexpr (std::is_same_v<Reader, V2>) {
    CAttrContainer document(2);
    const bool read = reader.ReadDocumentAttributes(&document, &pages);
    out += std::string("document ") + (read ? "read" : "refused") + ", " + std::to_string(pages) + " pages\n" +
           attrtest::Render(document, "document");
  } else {
    es::DocAttrsV1 d;
    const bool read = reader.ReadDocumentAttributes(&d);
    pages = d.pageCount;
    out += std::string("document ") + (read ? "read" : "refused") + ", " + std::to_string(pages) + " pages, value " +
           std::to_string(d.value) + "\ndocument texts " + attrtest::Quoted(d.text0.data(), d.text0.size()) + " " +
           attrtest::Quoted(d.text1.data(), d.text1.size()) + " " + attrtest::Quoted(d.text2.data(), d.text2.size()) +
           "\n";
  }
  out += Traced(trace);
  // Page records take at least 8 bytes, so a file cannot hold more pages than this.
  const auto most = static_cast<std::int32_t>(std::min<std::int64_t>(pages, bytes.size() / 8 + 2));
  if (order.empty())
    for (std::int32_t i = -1; i <= most; ++i) order.push_back(i);
  for (const std::int32_t i : order) {
    CAttrContainer page(1);
    std::uint32_t value = 55;
    const std::int64_t before = es::platform::Os().UnixTime();
    const bool read = reader.ReadPageAttributes(i, &page, &value);
    const std::int64_t after = es::platform::Os().UnixTime();
    const std::string target = "page " + std::to_string(i);
    out += target + (read ? " read" : " refused") + ", value " + std::to_string(value) + "\n" +
           attrtest::Render(page, target, "\n", {before, after});
    out += Traced(trace);
  }
  return out;
}

Bytes DocumentBlock() {
  return QuilletBlockWriter(2).AddText(ids::kDocBarcode, u"4711").AddLong(ids::kDocBarcodePending, 0).Bytes();
}
Bytes PageBlock(std::int32_t width) {
  return QuilletBlockWriter(1).AddLong(ids::kPageWidth, width).AddText(ids::kPageSourceName, u"Front").Bytes();
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

esproduce::AttrFileV1 RichFile() {
  esproduce::AttrFileV1 file;
  file.field0 = 7;
  file.field4 = 0x11223344;
  file.documentRecords = {RecordV1::Ansi(v1::kDocText0, "pile"), RecordV1::Ansi(v1::kDocText1, "code")};
  file.pages.push_back({RecordV1::Int32(v1::kPageValue, 1), RecordV1::Int32(v1::kPageWidth, 2100)});
  file.pages.push_back({RecordV1::Int32(v1::kPageValue, 2), RecordV1::Ansi(v1::kPageUserName, "someone")});
  return file;
}

template <typename File, typename Change>
Bytes Serialized(File file, Change change) {
  change(file);
  return esproduce::Serialize(file);
}

TEST(AttrFileReaders, GoldenRenderings) {
  const auto file2 = [](auto change) { return Serialized(ThreePages(), change); };
  const auto file1 = [](auto change) { return Serialized(esproduce::AttrFileV1{}, change); };
  const auto none = [](auto&) {};
  const Bytes v1TwoPages = file1([](auto& f) { f.pages.resize(2); }), whole2 = file2(none);
  Bytes sizeWraps = esproduce::Serialize(ThreePages());  // the first page's block size wraps the offset
  for (int i = 0; i < 4; ++i) sizeWraps[16 + DocumentBlock().size() + 4 + static_cast<std::size_t>(i)] = 0xFF;
  const std::string longAnsi(400, 'x');
  RecordV1 longWidth = RecordV1::Int32(v1::kPageWidth, 777), tooShort = RecordV1::Int32(v1::kPageHeight, 5);
  longWidth.payload.push_back(0);  // length 10 instead of 9
  tooShort.lengthOverride = 4;
  RecordV1 negative = tooShort;
  negative.lengthOverride = -9;
  const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

  const struct { const char* golden; bool v1; Bytes bytes; std::vector<std::int32_t> order; } rows[] = {
      // Pages in any order: records are found by walking the ones before them.
      {"v2-three-pages", false, file2(none), {2, 0, 1, 3, -1}},
      {"v2-empty", false, esproduce::Serialize(esproduce::AttrFileV2{}), {0}},
      {"v2-refused-blocks", false, file2([](auto& f) {
         f.documentBlock = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'l', 'o', 'c', 'k', '!', 0};
         f.pages[1].block = {0xFF};
       }), {0, 1, 2}},
      // Another version is read only as far as its header, so that the import can turn to
      // version 1; twelve bytes make a header for it, not for a file of this layout.
      {"v2-given-a-version-1-file", false, v1TwoPages, {0}},
      {"v2-twelve-bytes-of-version-1", false, Bytes(v1TwoPages.begin(), v1TwoPages.begin() + 12), {}},
      {"v2-twelve-bytes", false, Bytes(whole2.begin(), whole2.begin() + 12), {}},
      {"v2-five-bytes", false, {0x00, 0x00, 0x00, 0x02, 0x00}, {}},
      {"v2-document-beyond-the-file", false, file2([](auto& f) { f.documentSizeOverride = 0xFFFFFFF0u; }), {}},
      {"v2-page-size-wraps", false, sizeWraps, {0, 2}},
      // The import walks every announced page: the short file is reported once.
      {"v2-huge-page-count", false, file2([&](auto& f) { f.pageCountOverride = kMax; }), {2, 3, 4, kMax - 1}},
      {"v1-defaults", true, file1([](auto& f) { f.pages.resize(1); }), {}},
      {"v1-records", true, file1([](auto& f) {
         f.pages.push_back({RecordV1::Int32(v1::kPageValue, 255), RecordV1::Int32(v1::kPageWidth, 2100),
                            RecordV1::Int32(v1::kPageHeight, 2970), RecordV1::Int32(v1::kPageResolutionX, 200),
                            RecordV1::Int32(v1::kPageResolutionY, 150), RecordV1::Int32(v1::kPage108, 3),
                            RecordV1::Int32(v1::kPage109, 9), RecordV1::Int32(v1::kPage10A, 10),
                            RecordV1::Int32(v1::kPage10B, 11), RecordV1::Int32(v1::kPage10C, 12),
                            RecordV1::Int32(v1::kPage10D, -13), RecordV1::Int32(v1::kPage105, 5),
                            RecordV1::Ansi(v1::kPage106, "anything at all"), RecordV1::Int32(0x7777, 1),
                            RecordV1::Int64(v1::kPageScanTime, 1700000000123LL),
                            RecordV1::Ansi(v1::kPageUserName, "operator"),
                            RecordV1::Utf16(v1::kPageComputerName, u"SCAN-PC"),
                            RecordV1::Utf16(v1::kPageSourceName, u"Flatbed \u00fc\u20ac")});
       }), {0}},
      // The 0x10A default follows the final 0x108 value.
      {"v1-record-10a-default", true, file1([](auto& f) {
         f.pages = {{RecordV1::Int32(v1::kPage108, 1)}, {RecordV1::Int32(v1::kPage108, 0)},
                    {RecordV1::Int32(v1::kPage108, 1), RecordV1::Int32(v1::kPage10A, 0)}};
       }), {0, 1, 2}},
      // Wrong length, wrong kind, raw bytes for a text, 4 bytes for the 8-byte time; the list goes on.
      {"v1-records-that-do-not-fit", true, file1([&](auto& f) {
         f.pages.push_back({longWidth, RecordV1::Ansi(v1::kPageHeight, "1234"), RecordV1::Int32(v1::kPageSourceName, 0x41414141),
                            RecordV1::Int32(v1::kPageScanTime, 5), RecordV1::Int32(v1::kPageResolutionX, 600)});
       }), {0}},
      // Texts are cut to their capacity and end at a NUL byte (ANSI) or unit (UTF-16).
      {"v1-texts-cut", true, file1([&](auto& f) {
         f.documentRecords = {RecordV1::Ansi(v1::kDocText0, longAnsi), RecordV1::Ansi(v1::kDocText1, longAnsi),
                              RecordV1::Utf16(v1::kDocText2, std::u16string(300, u'y'))};
         f.pages.push_back({RecordV1::Ansi(v1::kPageSourceName, longAnsi), RecordV1::Ansi(v1::kPageUserName, longAnsi),
                            RecordV1::Ansi(v1::kPageComputerName, longAnsi)});
         f.pages.push_back({RecordV1::Ansi(v1::kPageSourceName, std::string("ab\0cd", 5)),
                            RecordV1::Utf16(v1::kPageUserName, std::u16string(u"op\0xy", 5))});
       }), {0, 1}},
      // A record too short for its own head, or of negative length, ends its list there.
      {"v1-broken-lists", true, Serialized(RichFile(), [&](auto& f) {
         f.pages[0] = {RecordV1::Int32(v1::kPageValue, 1), tooShort, RecordV1::Int32(v1::kPageWidth, 2100)};
         f.pages[1] = {RecordV1::Int32(v1::kPageValue, 2), negative};
       }), {0, 1}},
      {"v1-offsets-and-counts-beyond-the-file", true, Serialized(RichFile(), [](auto& f) {
         f.documentListOffsetOverride = 0xFFFFFFFEu;
         f.documentRecordCountOverride = 32767;
         f.pageCountOverride = 32767;
       }), {1, 32766}},
      {"v1-negative-counts", true, Serialized(RichFile(), [](auto& f) {
         f.documentRecordCountOverride = -5;
         f.pageCountOverride = -1;
       }), {0}},
      {"v1-ten-bytes", true, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.golden);
    attrtest::ExpectGolden(row.golden, row.v1 ? ReadAll<V1>(row.bytes, row.order) : ReadAll<V2>(row.bytes, row.order));
  }
}

struct FakeCallback : IScanningCallback {
  explicit FakeCallback(bool u) : unattended(u) {}
  bool IsCancelled() override { return false; }
  bool AddPageWithContent(CAttrContainer*, std::uint64_t, std::uint32_t, CAttrContainer*, std::uint8_t*,
                          std::uint32_t) override { return false; }
  bool AddPage(CAttrContainer*, std::uint64_t, std::uint32_t, CAttrContainer*) override { return false; }
  HResult Reserved3() override { return 0; }
  bool IsUnattended() override { return unattended; }
  bool unattended;
};

// A count that differs from the page files is traced and shown to the operator, or only
// traced when the scan runs unattended; a version-1 file is left to the version-1 reader.
TEST(AttributeReading, Rows) {
  const Bytes three = esproduce::Serialize(ThreePages()), rich = esproduce::Serialize(RichFile());
  const struct {
    const char* golden; bool v1Reader; std::optional<Bytes> file; std::int32_t pageFiles; bool unattended;
  } rows[] = {
      {"reading-fewer-page-files", false, three, 2, false},
      {"reading-more-page-files", false, three, 4, false},
      {"reading-unattended-warning-goes-to-the-trace", false, three, 2, true},
      {"reading-equal-counts-are-silent", false, three, 3, false},
      {"reading-unreadable-file", false, std::nullopt, 2, false},
      {"reading-five-bytes", false, Bytes{0x00, 0x00, 0x00, 0x02, 0x00}, 2, false},
      {"reading-refused-document-block-still-checks-the-count", false,
       Serialized(ThreePages(), [](auto& f) { f.documentBlock = {1, 2, 3, 4, 5}; }), 4, false},
      // The current reader reads version 1 only as far as its header; its own reader sets the
      // three document texts, empty ones too, and refuses other versions and short files.
      {"reading-version-1-by-the-current-reader", false, rich, 1, false},
      {"reading-version-1", true, rich, 1, false},
      {"reading-version-1-reader-given-another-version", true,
       Serialized(RichFile(), [](auto& f) { f.version = 0x0300; }), 1, false},
      {"reading-version-1-reader-given-a-short-file", true, Bytes{0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 1, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.golden);
    FakeCallback callback(row.unattended);
    es::ImportState element;
    element.parentWindow = reinterpret_cast<WindowHandle>(0x1234), element.callback = &callback;
    estest::TraceCapture trace;
    estest::MessageCapture boxes;
    es::CDocAttrsImport reader;
    es::CDocAttrsImportV1 readerV1;
    CAttrContainer document(2);
    es::AttrFileHeader header;
    es::AnnouncedPages announced{true, 99};
    const bool ok = row.v1Reader ? es::ReadAttributesV1(element, readerV1, *row.file, &document, u"F", row.pageFiles,
                                                        &header, &announced)
                                 : es::ReadAttributes(element, reader, row.file ? &*row.file : nullptr, &document,
                                                      u"F", row.pageFiles, &header, &announced);
    char head[80];
    std::snprintf(head, sizeof head, "%s, header %04x %04x %08x %d, ", ok ? "true" : "false", header.field0,
                  header.version, header.field4, header.pageCount);
    std::string got = head + (announced.known ? "announced " + std::to_string(announced.count) : "unknown") + "\n" +
                      attrtest::Render(document, "document");
    got += Traced(trace);
    for (const auto& box : boxes.boxes)
      got += "box " + box.op + (box.id == IDS_LESS_PAGES ? " LESS_PAGES" : box.id == IDS_MORE_PAGES ? " MORE_PAGES" : " ?") +
             " style " + std::to_string(box.style) + (box.owner == element.parentWindow ? "" : " other owner") + "\n";
    attrtest::ExpectGolden(row.golden, got);
  }
}

// ---- Files that do not hold what they declare ------------------------------------------

// Cut at every length: the file loads from `loadsFrom` bytes on, page i reads from pageFrom[i] on.
template <typename Reader>
void EveryTruncation(const Bytes& whole, std::size_t loadsFrom, const std::vector<std::size_t>& pageFrom) {
  for (std::size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string got = ReadAll<Reader>(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)),
                                            {0, 1, 2});
    ASSERT_EQ(length >= loadsFrom, got.rfind("load ok", 0) == 0);
    if (length < loadsFrom) continue;
    EXPECT_NE(std::string::npos, got.find("document read, " + std::to_string(pageFrom.size()) + " pages"));
    for (std::size_t i = 0; i < pageFrom.size(); ++i)
      EXPECT_EQ(length >= pageFrom[i], got.find("page " + std::to_string(i) + " read") != std::string::npos) << i;
  }
}

TEST(AttrFileReadersDamaged, EveryTruncationIsReadCleanly) {
  const std::size_t documentEnd = 16 + DocumentBlock().size(), pageSize = 8 + PageBlock(100).size();
  EveryTruncation<V2>(esproduce::Serialize(ThreePages()), documentEnd,
                      {documentEnd + pageSize, documentEnd + 2 * pageSize, documentEnd + 3 * pageSize});
  // Only a missing table entry makes a version-1 page unreadable; missing records are absent fields.
  EveryTruncation<V1>(esproduce::Serialize(RichFile()), v1::kHeadSize,
                      {v1::kHeadSize + v1::kPageEntrySize, v1::kHeadSize + 2 * v1::kPageEntrySize});
}

}  // namespace
