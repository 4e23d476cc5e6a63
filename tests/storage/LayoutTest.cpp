#include "storage/Layout.h"

#include "base/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>

namespace {

namespace layout = es::layout;

// File and folder names compare as Windows folds them, Latin-1 letters included: an order
// file's "MÜLLER" names the folder "müller".
TEST(Layout, NamesCompareWithoutCaseLatin1LettersIncluded) {
  EXPECT_TRUE(es::EqualsNoCase(u"sc_attr.bin", u"SC_ATTR.BIN"));
  EXPECT_TRUE(es::EqualsNoCase(u"\u00e0\u00fcller\u00fe", u"\u00c0\u00dcLLER\u00de"));  // àüllerþ
  EXPECT_FALSE(es::EqualsNoCase(u"\u00f7", u"\u00d7"));  // the division and multiplication signs are no letters
}

// A PDF needs its signature and five bytes in the file, of which four may be read.
TEST(Layout, PdfSignature) {
  const struct {
    std::string read;
    std::uint64_t fileSize;
    bool pdf;
  } rows[] = {{"%PDF-", 5, true}, {"%PDF", 5, true}, {"%PDF", 4, false}, {"%pdf-", 5, false}, {"%PD", 100, false}};
  for (const auto& row : rows) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(row.read.data()), row.read.size());
    EXPECT_EQ(layout::IsPdfSignature(bytes, row.fileSize), row.pdf) << row.read << " of " << row.fileSize;
  }
}

}  // namespace
