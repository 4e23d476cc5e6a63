// Reading a document's attribute file and checking its page count against the page files.
#include <cstdint>
#include <memory>
#include <string>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "QuilletBlockWriter.h"
#include "ResourceIds.h"
#include "attrs/AttributeIds.h"
#include "frame/Element.h"
#include "base/Trace.h"
#include "frame/VAVudiImplement.h"
#include "producer/Producer.h"
#include "storage/AttributeReading.h"
#include "tests/attrs/AttrsTestSupport.h"
#include "tests/support/Capture.h"

namespace {

using attrtest::Bytes;
using esproduce::RecordV1;
namespace ids = es::attrs;

class FakeCallback : public IScanningCallback {
 public:
  explicit FakeCallback(bool unattended) : unattended_(unattended) {}
  bool IsCancelled() override { return false; }
  bool AddPageWithContent(CAttrContainer*, std::uint64_t, std::uint32_t, CAttrContainer*, std::uint8_t*,
                          std::uint32_t) override {
    return false;
  }
  bool AddPage(CAttrContainer*, std::uint64_t, std::uint32_t, CAttrContainer*) override { return false; }
  HResult Reserved3() override { return 0; }
  bool IsUnattended() override { return unattended_; }

 private:
  bool unattended_;
};

struct ElementDeleter {
  void operator()(es::CElement* e) const { e->DeleteThis(); }
};

class AttributeReading : public ::testing::Test {
 protected:
  AttributeReading() : element_(new es::CElement(&es::kElementTypeDescriptor)) {
    element_->parentWindow = reinterpret_cast<WindowHandle>(0x1234);
    element_->callback = &attended_;
  }

  // A version-2 file announcing `pages` pages, with a barcode in its document block.
  es::Str WriteV2(std::int32_t pages) {
    esproduce::AttrFileV2 file;
    QuilletBlockWriter doc(2);
    doc.AddText(ids::kDocBarcode, u"DOC-1");
    file.documentBlock = doc.Bytes();
    file.pages.resize(static_cast<std::size_t>(pages));
    return folder_.Write("SC_ATTR.BIN", esproduce::Serialize(file));
  }
  es::Str WriteV1(const esproduce::AttrFileV1& file) {
    return folder_.Write("SC_ATTR.BIN", esproduce::Serialize(file));
  }

  // The import reads the file's bytes through the document folder; a missing file is none.
  static std::optional<Bytes> Load(const es::Str& path) {
    std::ifstream in(std::filesystem::path(es::ToUtf8(path)), std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Read(const es::Str& path, std::int32_t pageFiles) {
    const auto bytes = Load(path);
    es::AnnouncedPages announced;
    return es::ReadAttributes(*element_, reader_, bytes ? &*bytes : nullptr, &document_, folder_.Path(), pageFiles,
                              &header_, &announced);
  }
  bool ReadV1(const es::Str& path, std::int32_t pageFiles) {
    const auto bytes = Load(path);
    es::AnnouncedPages announced;
    return bytes && es::ReadAttributesV1(*element_, readerV1_, *bytes, &document_, folder_.Path(), pageFiles,
                                         &header_, &announced);
  }

  attrtest::TempFolder folder_;
  FakeCallback attended_{false};
  FakeCallback unattended_{true};
  std::unique_ptr<es::CElement, ElementDeleter> element_;
  es::CDocAttrsImport reader_;
  es::CDocAttrsImportV1 readerV1_;
  CAttrContainer document_{2};
  es::AttrFileHeader header_;
  estest::TraceCapture trace_;
  estest::MessageCapture boxes_;
};

// A page count that differs from the page files is traced and shown to the operator.
TEST_F(AttributeReading, PageCountMismatchIsTracedAndShown) {
  const struct {
    std::int32_t found;
    std::uint32_t detailId, otherDetailId, boxId;
    const char16_t* word;
  } rows[] = {
      {2, IDS_LESS_PAGES_DETAIL, IDS_MORE_PAGES_DETAIL, IDS_LESS_PAGES, u"less"},
      {4, IDS_MORE_PAGES_DETAIL, IDS_LESS_PAGES_DETAIL, IDS_MORE_PAGES, u"more"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.found);
    trace_.Clear();
    boxes_.boxes.clear();
    CAttrContainer document(2);
    es::AnnouncedPages announced;
    const auto bytes = Load(WriteV2(3));
    ASSERT_TRUE(es::ReadAttributes(*element_, reader_, &*bytes, &document, folder_.Path(), row.found, &header_,
                                   &announced));
    EXPECT_EQ(0x0200, header_.version);
    EXPECT_EQ(3, header_.pageCount);
    EXPECT_EQ(u"DOC-1", attrtest::Text(document, ids::kDocBarcode));
    const auto detail = trace_.WithId(row.detailId);
    ASSERT_EQ(1u, detail.size());
    EXPECT_EQ(es::kSevError, detail[0].severity);
    EXPECT_EQ(u"There are " + es::Str(row.word) + u" pages (" + es::DecimalText(row.found) + u") in the document " +
                  folder_.Path() + u" than specified in the attributes file (3).",
              detail[0].text);
    EXPECT_TRUE(trace_.WithId(row.otherDetailId).empty());
    ASSERT_EQ(1u, boxes_.boxes.size());
    EXPECT_EQ("MessageBoxId", boxes_.boxes[0].op);
    EXPECT_EQ(row.boxId, boxes_.boxes[0].id);
    EXPECT_EQ(16u, boxes_.boxes[0].style);
    EXPECT_EQ(element_->parentWindow, boxes_.boxes[0].owner);
  }
}

TEST_F(AttributeReading, UnattendedMismatchGoesToTheTraceOnly) {
  element_->callback = &unattended_;
  ASSERT_TRUE(Read(WriteV2(3), 2));
  EXPECT_TRUE(boxes_.boxes.empty());
  const auto lines = trace_.Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(static_cast<std::uint32_t>(IDS_LESS_PAGES_DETAIL), lines[0].id);
  EXPECT_EQ(es::kSevError, lines[0].severity);
  EXPECT_EQ(static_cast<std::uint32_t>(IDS_LESS_PAGES), lines[1].id);
  EXPECT_EQ(es::kSevSkipped, lines[1].severity);
  EXPECT_EQ(u"There are less pages  in the next scanned document than specified in the attributes file.",
            lines[1].text);

}

TEST_F(AttributeReading, EqualCountsAreSilent) {
  ASSERT_TRUE(Read(WriteV2(2), 2));
  EXPECT_TRUE(trace_.Lines().empty());
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(AttributeReading, UnreadableFileFailsWithoutWarning) {
  EXPECT_FALSE(Read(folder_.Path() + es::platform::kPathSep + u"SC_ATTR.BIN", 2));
  EXPECT_FALSE(Read(folder_.Write("SC_ATTR.BIN", Bytes{0x00, 0x00, 0x00, 0x02, 0x00}), 2));
  EXPECT_TRUE(boxes_.boxes.empty());
  EXPECT_TRUE(trace_.WithId(IDS_LESS_PAGES_DETAIL).empty());
}

TEST_F(AttributeReading, RefusedDocumentBlockStillChecksThePageCount) {
  esproduce::AttrFileV2 file;
  file.documentBlock = {1, 2, 3, 4, 5};
  file.pages.resize(1);
  ASSERT_TRUE(Read(folder_.Write("SC_ATTR.BIN", esproduce::Serialize(file)), 3));
  EXPECT_EQ(1u, trace_.WithId(IDS_MORE_PAGES_DETAIL).size());
}

TEST_F(AttributeReading, VersionOneFileIsLeftToTheVersionOneReader) {
  esproduce::AttrFileV1 file;
  file.field0 = 7;
  file.field4 = 0x11223344;
  file.documentRecords = {RecordV1::Ansi(esproduce::v1::kDocText0, "Pile 3"),
                          RecordV1::Utf16(esproduce::v1::kDocText1, u"4006381333931")};
  file.pages.resize(3);
  const es::Str path = WriteV1(file);

  ASSERT_TRUE(Read(path, 2));
  EXPECT_EQ(0x0100, header_.version);
  EXPECT_EQ(0u, document_.Count());  // read only as far as its header
  EXPECT_TRUE(trace_.Lines().empty());
  EXPECT_TRUE(boxes_.boxes.empty());

  ASSERT_TRUE(ReadV1(path, 2));
  EXPECT_EQ(7, header_.field0);
  EXPECT_EQ(0x11223344u, header_.field4);
  EXPECT_EQ(3, header_.pageCount);
  EXPECT_EQ(u"Pile 3", attrtest::Text(document_, ids::kDocPileIndex));
  EXPECT_EQ(u"4006381333931", attrtest::Text(document_, ids::kDocBarcode));
  EXPECT_EQ(u"", attrtest::Text(document_, ids::kDocText2));  // empty texts are set too
  ASSERT_EQ(1u, trace_.WithId(IDS_LESS_PAGES_DETAIL).size());
  ASSERT_EQ(1u, boxes_.boxes.size());
  EXPECT_EQ(static_cast<std::uint32_t>(IDS_LESS_PAGES), boxes_.boxes[0].id);
}

TEST_F(AttributeReading, VersionOneReaderRefusesOtherVersions) {
  esproduce::AttrFileV1 file;
  file.version = 0x0300;
  file.pages.resize(1);
  const es::Str path = WriteV1(file);
  ASSERT_TRUE(Read(path, 1));
  EXPECT_FALSE(ReadV1(path, 1));
  EXPECT_FALSE(ReadV1(folder_.Write("SHORT.BIN", Bytes{0, 0, 0, 1, 0, 0, 0, 0, 0, 0}), 1));
  EXPECT_TRUE(boxes_.boxes.empty());
  EXPECT_FALSE(document_.IsIn(ids::kDocPileIndex));
}

}  // namespace
