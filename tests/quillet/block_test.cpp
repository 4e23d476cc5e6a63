// The serialized attribute block: round trips, the producers' writer, and refusal of
// every malformed block without a change to the container.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quillet.h"
#include "QuilletBlockWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Serialized(const CAttrContainer& c) {
  Bytes out(c.Serialize(nullptr, 0));
  EXPECT_EQ(c.Serialize(out.data(), static_cast<std::uint32_t>(out.size())), out.size());
  return out;
}

int Load(CAttrContainer& c, const Bytes& block) {
  return c.CreateFromBuffer(block.data(), 1, static_cast<std::uint32_t>(block.size()));
}

// A document block with one attribute of each kind, as the docs show it.
Bytes DocExample() {
  return QuilletBlockWriter(2).AddText(0x02070065, u"AB12").AddLong(0x02020069, -1).AddBinary(0x02080064, "B=1", 3).Bytes();
}

const std::u16string kMixedText = u"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600";

// A page block touching every value type, including the empty and the odd cases.
Bytes PageSample() {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  return QuilletBlockWriter(1)
      .AddLong(0x01020001, 300)
      .AddInt(0x01000007, -2147483647 - 1)
      .AddLong(0x01020004, -1)
      .AddText(0x0107000F, kMixedText)
      .AddText(0x01070010, u"")
      .AddBinary(0x01080011, all)
      .AddBinary(0x01080012, nullptr, 0)
      .Bytes();
}

TEST(QuilletBlock, DocumentedExampleIsByteExact) {
  const Bytes expected = {
      0x51, 0x41, 0x54, 0x42, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,  // head
      0x65, 0x00, 0x07, 0x02, 0x08, 0x00, 0x00, 0x00,  // text 0x02070065, 8 bytes
      0x41, 0x00, 0x42, 0x00, 0x31, 0x00, 0x32, 0x00,  // "AB12"
      0x69, 0x00, 0x02, 0x02, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,  // long -1
      0x64, 0x00, 0x08, 0x02, 0x03, 0x00, 0x00, 0x00, 0x42, 0x3D, 0x31,  // binary "B=1"
  };
  EXPECT_EQ(DocExample(), expected);
  CAttrContainer c(2);
  ASSERT_NE(Load(c, expected), 0);
  EXPECT_EQ(Serialized(c), expected);
  // Serialize into too small a buffer writes nothing and says how much it needs.
  Bytes buffer(51, 0xAA);
  EXPECT_EQ(c.Serialize(buffer.data(), 50), 51u);
  EXPECT_EQ(buffer, Bytes(51, 0xAA));
  EXPECT_EQ(c.Serialize(nullptr, 1000), 51u);
}

TEST(QuilletBlock, EveryValueTypeRoundTrips) {
  const Bytes block = PageSample();
  CAttrContainer c(1);
  ASSERT_NE(Load(c, block), 0);
  ASSERT_EQ(c.Count(), 7u);
  long low = 0, minusOne = 0;
  EXPECT_NE(c.GetAttr(0x01000007, &low, 0), 0);
  EXPECT_NE(c.GetAttr(0x01020004, &minusOne, 0), 0);
  EXPECT_EQ(std::make_pair(low, minusOne), std::make_pair(-2147483647L - 1, -1L));
  AttrVariant v{}, empty{}, none{};
  ASSERT_TRUE(c.GetAt(3, nullptr, &v));
  EXPECT_EQ(std::u16string(v.text, v.textLength), kMixedText);
  ASSERT_TRUE(c.Get(0x01070010, &empty, 0));
  EXPECT_EQ(empty.textLength, 0u);
  EXPECT_EQ(empty.text[0], u'\0');
  ASSERT_TRUE(c.Get(0x01080012, &none, 0));
  EXPECT_EQ(none.size, 0u);
  ASSERT_TRUE(c.Get(0x01080011, &v, 0));
  ASSERT_EQ(v.size, 256u);
  EXPECT_EQ(v.bytes[255], 255);
  EXPECT_EQ(Serialized(c), block);

  // Values set through the setters come out as the writer writes them.
  CAttrContainer direct(1);
  direct.SetAttr(0x01020001, 300, 0);
  direct.SetAttr(0x01000007, -2147483647 - 1, 0);
  direct.SetAttr(0x01020004, -1L, 0);
  direct.SetAttr(0x0107000F, kMixedText.c_str(), 0);
  direct.SetAttr(0x01070010, u"", 0);
  direct.SetAttr(0x01080011, v.bytes, v.size, 0);
  direct.SetAttr(0x01080012, nullptr, 0, 0);
  EXPECT_EQ(Serialized(direct), block);

  // Empty blocks: none at all, and a head without entries.
  CAttrContainer blank(1);
  EXPECT_NE(blank.CreateFromBuffer(nullptr, 1, 0), 0);
  EXPECT_TRUE(blank.IsEmpty());
  const Bytes headOnly = QuilletBlockWriter(1).Bytes();
  EXPECT_EQ(headOnly.size(), 12u);
  EXPECT_NE(Load(blank, headOnly), 0);
  EXPECT_EQ(Serialized(blank), headOnly);
}

TEST(QuilletBlock, AddsToWhatIsThereAndLaterValuesWin) {
  CAttrContainer c(1);
  c.SetAttr(0x0102000E, 1, 0);
  c.SetAttr(0x01020001, 5, 0);
  ASSERT_NE(Load(c, QuilletBlockWriter(1).AddLong(0x01020001, 10).AddText(0x0107000F, u"a").AddLong(0x01020001, 20).Bytes()), 0);
  std::vector<std::uint32_t> ids(c.Count());
  for (std::uint32_t i = 0; i < c.Count(); ++i) c.GetAt(i, &ids[i], nullptr);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{0x0102000E, 0x01020001, 0x0107000F}));
  long value = 0;
  c.GetAttr(0x01020001, &value, 0);
  EXPECT_EQ(value, 20);
}

TEST(QuilletBlock, WriterRefusesWhatTheReaderWouldRefuse) {
  EXPECT_THROW(QuilletBlockWriter(3), std::invalid_argument);
  QuilletBlockWriter w(1);
  EXPECT_THROW(w.AddInt(0x0107000F, 1), std::invalid_argument);
  EXPECT_THROW(w.AddText(0x01020001, u"x"), std::invalid_argument);
  EXPECT_THROW(w.AddText(0x0107000F, std::u16string(u"a\0b", 3)), std::invalid_argument);
  EXPECT_THROW(w.AddBinary(0x01080012, nullptr, 2), std::invalid_argument);
  EXPECT_THROW(w.AddLong(0x02020069, 0), std::invalid_argument);  // document id
  EXPECT_THROW(w.AddInt(0x01030001, 0), std::invalid_argument);   // unknown type
  EXPECT_EQ(w.Count(), 0u);
}

// A container already holding something refuses the block and stays exactly as it was.
void ExpectRefused(std::uint8_t scope, const Bytes& block, const std::string& what) {
  CAttrContainer c(scope);
  c.SetAttr(scope == 1 ? 0x01020001 : 0x02020069, 300, 0);
  c.SetAttr(scope == 1 ? 0x0107000F : 0x02070067, u"before", 0);
  const Bytes before = Serialized(c);
  EXPECT_EQ(Load(c, block), 0) << what;
  EXPECT_EQ(Serialized(c), before) << what;
}

TEST(QuilletBlockRefusal, EveryTruncationIsRefused) {
  const Bytes block = PageSample();
  // Each copied to a buffer of exactly n bytes, so that a read past it is caught.
  for (std::size_t n = 1; n < block.size(); ++n) {
    ExpectRefused(1, Bytes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n)), "prefix of " + std::to_string(n));
  }
  Bytes longer = block;
  longer.push_back(0);
  ExpectRefused(1, longer, "one trailing byte");
}

TEST(QuilletBlockRefusal, CorruptFieldsAreRefused) {
  // The doc example's offsets: count at 8; first entry id at 12, length at 16, text at
  // 20; second entry id at 28, length at 32; third length at 44.
  const std::vector<std::pair<std::string, std::function<void(Bytes&)>>> faults = {
      {"magic", [](Bytes& b) { b[0] = 'q'; }},
      {"version 2", [](Bytes& b) { b[4] = 2; }},
      {"reserved", [](Bytes& b) { b[6] = 1; }},
      {"count one too many", [](Bytes& b) { b[8] = 4; }},
      {"count one too few", [](Bytes& b) { b[8] = 2; }},
      {"count huge", [](Bytes& b) { quillet::PutU32(&b[8], 0xFFFFFFFFu); }},
      {"count 2^29", [](Bytes& b) { quillet::PutU32(&b[8], 0x20000000u); }},
      {"length huge", [](Bytes& b) { quillet::PutU32(&b[16], 0xFFFFFFFFu); }},
      {"length 2^31", [](Bytes& b) { quillet::PutU32(&b[16], 0x80000000u); }},
      {"length past the end", [](Bytes& b) { quillet::PutU32(&b[44], 4); }},
      {"odd text length", [](Bytes& b) { b[16] = 7; }},
      {"NUL unit in text", [](Bytes& b) { b[22] = 0; }},
      {"long of 8 bytes", [](Bytes& b) { b[32] = 8; }},
      {"long of 3 bytes", [](Bytes& b) { b[32] = 3; }},
      {"unknown type", [](Bytes& b) { b[30] = 0x03; }},
      {"page scope in a document block", [](Bytes& b) { b[15] = 0x01; }},
  };
  for (const auto& [what, corrupt] : faults) {
    Bytes block = DocExample();
    corrupt(block);
    ExpectRefused(2, block, what);
  }
  ExpectRefused(1, DocExample(), "document block into a page container");
  CAttrContainer page(1);
  EXPECT_EQ(page.CreateFromBuffer(PageSample().data(), 0, static_cast<std::uint32_t>(PageSample().size())), 0);
  EXPECT_EQ(page.CreateFromBuffer(nullptr, 1, 12), 0);
  EXPECT_TRUE(page.IsEmpty());
}

TEST(QuilletBlockRefusal, RandomBlocksNeverCrash) {
  std::mt19937 rng(20240611);
  const Bytes seeds[] = {PageSample(), DocExample()};
  int accepted = 0;
  for (int round = 0; round < 6000; ++round) {
    Bytes block;
    if (round % 3 == 0) {
      // Plain noise, usually behind a valid head so that the body gets read.
      block.resize(rng() % 96);
      for (auto& b : block) b = static_cast<std::uint8_t>(rng());
      if (block.size() >= 8 && rng() % 2 == 0) {
        const Bytes head = QuilletBlockWriter(static_cast<std::uint8_t>(1 + rng() % 2)).Bytes();
        std::copy(head.begin(), head.begin() + 8, block.begin());
      }
    } else {
      // A valid block with a few bytes changed, cut or added.
      block = seeds[rng() % 2];
      for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) {
        const std::size_t at = rng() % block.size();
        switch (rng() % 4) {
          case 0: block[at] = static_cast<std::uint8_t>(rng()); break;
          case 1: block[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
          case 2: block.resize(at + 1); break;
          default: block.insert(block.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng())); break;
        }
      }
    }
    for (std::uint8_t scope : {1, 2}) {
      CAttrContainer c(scope);
      if (Load(c, block) == 0) {
        EXPECT_TRUE(c.IsEmpty());
        continue;
      }
      ++accepted;
      // What was accepted writes itself back the same way; without repeated ids it is
      // the very block read.
      const Bytes again = Serialized(c);
      CAttrContainer other(scope);
      ASSERT_NE(Load(other, again), 0);
      EXPECT_EQ(Serialized(other), again);
      if (block.size() >= 12 && c.Count() == quillet::GetU32(&block[8])) {
        EXPECT_EQ(again, block);
      }
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
