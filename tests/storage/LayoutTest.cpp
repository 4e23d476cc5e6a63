#include "storage/Layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

namespace layout = es::layout;
constexpr char16_t kSep = es::platform::kPathSep;

TEST(Layout, PageFileNamesAndReplacementImage) {
  const struct {
    const char* name;
    es::Str got;
    es::Str want;
  } rows[] = {
      {"version 2, page 1", layout::PageFileNameV2(1), u"1.pg"},
      {"version 2, two digits", layout::PageFileNameV2(11), u"11.pg"},
      {"version 1, eight hex digits", layout::PageFileNameV1(26), u"0000001a.pg"},
      {"version 1, largest value", layout::PageFileNameV1(0xFFFFFFFFu), u"ffffffff.pg"},
      {"image beside the module", layout::ReplacementImagePath(es::Str(u"es") + kSep + u"In.dll"),
       es::Str(u"es") + kSep + u"DualStreamPdf.tif"},
      {"module path without folder", layout::ReplacementImagePath(u"In.dll"), u"DualStreamPdf.tif"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.got, row.want);
  }
}

TEST(Layout, PdfNeedsSignatureAndFiveBytes) {
  const struct {
    const char* name;
    std::string read;
    std::uint64_t fileSize;
    bool pdf;
  } rows[] = {
      {"signature, five bytes", "%PDF-", 5, true},
      {"four bytes read of five", "%PDF", 5, true},
      {"file of four bytes", "%PDF", 4, false},
      {"lower case", "%pdf-", 5, false},
      {"three bytes read", "%PD", 100, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(row.read.data()), row.read.size());
    EXPECT_EQ(layout::IsPdfSignature(bytes, row.fileSize), row.pdf);
  }
}

}  // namespace
