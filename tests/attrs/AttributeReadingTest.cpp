// Reading a document's attribute file and checking its page count against the page files.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "QuilletBlockWriter.h"
#include "ResourceIds.h"
#include "attrs/AttributeIds.h"
#include "producer/Producer.h"
#include "storage/AttributeReading.h"
#include "tests/attrs/AttrsTestSupport.h"
#include "tests/support/Capture.h"

namespace {

using attrtest::Bytes;
using esproduce::RecordV1;

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

// A version-2 file announcing `pages` pages, with a barcode in its document block.
Bytes V2File(std::int32_t pages, Bytes documentBlock = QuilletBlockWriter(2).AddText(es::attrs::kDocBarcode, u"DOC-1").Bytes()) {
  esproduce::AttrFileV2 file;
  file.documentBlock = documentBlock;
  file.pages.resize(static_cast<std::size_t>(pages));
  return esproduce::Serialize(file);
}

Bytes V1File(std::uint16_t version) {
  esproduce::AttrFileV1 file;
  file.field0 = 7;
  file.version = version;
  file.field4 = 0x11223344;
  file.documentRecords = {RecordV1::Ansi(esproduce::v1::kDocText0, "Pile 3"),
                          RecordV1::Utf16(esproduce::v1::kDocText1, u"4006381333931")};
  file.pages.resize(3);
  return esproduce::Serialize(file);
}

// A count that differs from the page files is traced and shown to the operator, or only
// traced when the scan runs unattended; a version-1 file is left to the version-1 reader.
TEST(AttributeReading, Rows) {
  const Bytes v1File = V1File(0x0100);
  const struct {
    const char* golden;
    bool v1Reader;
    std::optional<Bytes> file;
    std::int32_t pageFiles;
    bool unattended;
  } rows[] = {
      {"reading-fewer-page-files", false, V2File(3), 2, false},
      {"reading-more-page-files", false, V2File(3), 4, false},
      {"reading-unattended-warning-goes-to-the-trace", false, V2File(3), 2, true},
      {"reading-equal-counts-are-silent", false, V2File(2), 2, false},
      {"reading-unreadable-file", false, std::nullopt, 2, false},
      {"reading-five-bytes", false, Bytes{0x00, 0x00, 0x00, 0x02, 0x00}, 2, false},
      {"reading-refused-document-block-still-checks-the-count", false, V2File(1, {1, 2, 3, 4, 5}), 3, false},
      // The current reader reads version 1 only as far as its header; its own reader sets the
      // three document texts, empty ones too, and refuses other versions and short files.
      {"reading-version-1-by-the-current-reader", false, v1File, 2, false},
      {"reading-version-1", true, v1File, 2, false},
      {"reading-version-1-reader-given-another-version", true, V1File(0x0300), 1, false},
      {"reading-version-1-reader-given-a-short-file", true, Bytes{0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 1, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.golden);
    FakeCallback callback(row.unattended);
    es::ImportState element;
    element.parentWindow = reinterpret_cast<WindowHandle>(0x1234);
    element.callback = &callback;
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
    for (const auto& line : trace.Lines()) {
      std::string text = es::ToUtf8(line.text);
      std::replace(text.begin(), text.end(), '\\', '/');  // the path separator of either platform
      got += "trace " + std::to_string(line.severity) + " " + text + "\n";
    }
    for (const auto& box : boxes.boxes)
      got += "box " + box.op + (box.id == IDS_LESS_PAGES ? " LESS_PAGES" : box.id == IDS_MORE_PAGES ? " MORE_PAGES" : " ?") +
             " style " + std::to_string(box.style) + (box.owner == element.parentWindow ? "" : " other owner") + "\n";
    attrtest::ExpectGolden(row.golden, got);
  }
}

}  // namespace
