// The attribute container (typing by id, order, replacement, the host's generic access,
// the library's exception) and its serialized block: round trips, the producers' writer,
// and refusal of every malformed block without a change to the container.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quillet.h"
#include "QuilletBlockWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kPageInt = 0x01000007, kPageLong = 0x01020001, kPageLong2 = 0x01020002,
                        kPageText = 0x0107000F, kPageBinary = 0x01080012, kPageUnknownType = 0x01030001,
                        kDocText = 0x02070065;

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t b = 0; b < size; ++b) out += {digits[bytes[b] >> 4], digits[bytes[b] & 15]};
  return out;
}

// The container as text, attribute by attribute in order: "id=value", a text as it is
// (units past ASCII as \u and four hex digits), bytes in hex.
std::string Dump(const CAttrContainer& c) {
  std::string out;
  for (std::uint32_t i = 0; i < c.Count(); ++i) {
    std::uint32_t id = 0;
    AttrVariant v{};
    EXPECT_TRUE(c.GetAt(i, &id, &v));
    char item[16];
    std::snprintf(item, sizeof item, "%s%x=", i ? " " : "", id);
    out += item;
    if (v.type == 0x07) {
      EXPECT_EQ(std::char_traits<char16_t>::length(v.text), v.textLength);
      for (const char16_t unit : std::u16string_view(v.text, v.textLength)) {
        std::snprintf(item, sizeof item, unit < 0x80 ? "%c" : "\\u%04x", unsigned{unit});
        out += item;
      }
    } else {
      out += v.type == 0x08 ? Hex(v.bytes, v.size) : std::to_string(v.number);
    }
  }
  return out;
}

TEST(QuilletContainer, ValuesFollowTheIdTypeNumbersAre32Bits) {
  CAttrContainer c(1);
  // The element writes long ids through the int overload, and either overload serves both.
  EXPECT_TRUE(c.SetAttr(kPageLong, 300, 0));
  EXPECT_TRUE(c.SetAttr(kPageInt, 7L, 0));
  EXPECT_TRUE(c.SetAttr(kPageLong2, -1L, 0));
  EXPECT_EQ(Dump(c), "1020001=300 1000007=7 1020002=-1");
  _SAttrValue record{kPageLong, -2100};
  EXPECT_TRUE(c.SetAttr(&record));
  EXPECT_FALSE(c.SetAttr(nullptr));
  EXPECT_EQ(Dump(c), "1020001=-2100 1000007=7 1020002=-1");
  // Where long is 64 bits the library narrows; where it is 32 bits the cast does.
  EXPECT_TRUE(c.SetAttr(kPageLong, static_cast<long>(std::int64_t{0x100000005}), 0));
  ASSERT_TRUE(c.SetAttr(kPageText, u"kept", 0));
  EXPECT_EQ(Dump(c), "1020001=5 1000007=7 1020002=-1 107000f=kept");

  // Unsuited values are refused without a change.
  EXPECT_FALSE(c.SetAttr(kPageInt, u"text", 0));
  EXPECT_FALSE(c.SetAttr(kPageText, 5, 0));
  EXPECT_FALSE(c.SetAttr(kPageText, 5L, 0));
  EXPECT_FALSE(c.SetAttr(kPageText, "ab", 2, 0));
  EXPECT_FALSE(c.SetAttr(kPageBinary, u"text", 0));
  EXPECT_FALSE(c.SetAttr(kPageInt, "ab", 2, 0));
  EXPECT_FALSE(c.SetAttr(kPageUnknownType, 5, 0));
  EXPECT_FALSE(c.SetAttr(kDocText, u"other scope", 0));
  record = {kPageText, 3};
  EXPECT_FALSE(c.SetAttr(&record));
  EXPECT_EQ(Dump(c), "1020001=5 1000007=7 1020002=-1 107000f=kept");

  // GetAttr reports presence; a value that is no number is left alone.
  long value = 99;
  EXPECT_EQ(c.GetAttr(kPageBinary, &value, 0), 0);
  EXPECT_NE(c.GetAttr(kPageText, &value, 0), 0);
  EXPECT_EQ(value, 99);
  EXPECT_NE(c.GetAttr(kPageLong2, &value, 0), 0);
  EXPECT_EQ(value, -1);
  c.SetAttr(kPageInt, 0, 0);
  EXPECT_NE(c.GetAttr(kPageInt, nullptr, 0), 0);
  EXPECT_NE(c.GetAttr(kPageInt, &value, 0), 0);
  EXPECT_EQ(value, 0);
}

// Replacing keeps the place; deleted and set again, an attribute goes to the end. Texts
// and bytes are copied.
TEST(QuilletContainer, OrderReplacementDeletionAndCopies) {
  CAttrContainer c(1);
  c.SetAttr(kPageLong, 1, 0);
  c.SetAttr(kPageText, u"first", 0);
  c.SetAttr(kPageInt, 3, 0);
  c.SetAttr(kPageLong, 10L, 0);
  c.SetAttr(kPageText, u"second", 0);
  EXPECT_EQ(Dump(c), "1020001=10 107000f=second 1000007=3");
  c.DeleteAttrIfExist(kPageLong);
  c.SetAttr(kPageLong, 4, 0);
  char16_t text[] = u"scan";
  unsigned char bytes[] = {1, 2, 3};
  ASSERT_TRUE(c.SetAttr(kPageText, text, 0));
  ASSERT_TRUE(c.SetAttr(kPageBinary, bytes, 3, 0));
  text[0] = u'X';
  bytes[0] = 9;
  EXPECT_EQ(Dump(c), "107000f=scan 1000007=3 1020001=4 1080012=010203");
  ASSERT_TRUE(c.SetAttr(kPageText, static_cast<const char16_t*>(nullptr), 0));
  ASSERT_TRUE(c.SetAttr(kPageBinary, nullptr, 0, 0));
  EXPECT_FALSE(c.SetAttr(kPageBinary, nullptr, 4, 0));
  EXPECT_EQ(Dump(c), "107000f= 1000007=3 1020001=4 1080012=");

  CAttrContainer d(2);
  d.DeleteAttrIfExist(kDocText);  // absent: nothing happens
  EXPECT_EQ(std::tuple(d.Scope(), d.IsEmpty(), d.IsIn(kDocText)), std::tuple(2, true, false));
  ASSERT_TRUE(d.SetAttr(kDocText, u"AB12", 0));
  EXPECT_EQ(std::pair(d.IsEmpty(), d.IsIn(kDocText)), std::pair(false, true));
  d.DeleteAttrIfExist(kDocText);
  EXPECT_EQ(std::tuple(d.IsEmpty(), d.IsIn(kDocText), d.Delete(kDocText)), std::tuple(true, false, false));
}

TEST(QuilletContainer, VariantAccessForTheHost) {
  CAttrContainer c(1);
  // Type, number, text, text length, bytes, size.
  const AttrVariant number{0x00, -5, nullptr, 0, nullptr, 0}, odd{0x05, 0, nullptr, 0, nullptr, 0};
  AttrVariant out{}, text{0x07, 0, u"ab\0cd", 5, nullptr, 0};
  EXPECT_TRUE(c.Set(kPageLong, number, 0));
  ASSERT_TRUE(c.Get(kPageLong, &out, 0));
  EXPECT_EQ(std::make_pair(out.type, out.number), std::make_pair(std::uint8_t{0x02}, -5));  // the id's type, not the one given
  EXPECT_FALSE(c.Set(kPageText, text, 0));  // a NUL unit inside
  text.textLength = 2;
  EXPECT_TRUE(c.Set(kPageText, text, 0));
  EXPECT_FALSE(c.Set(kPageInt, text, 0));
  EXPECT_FALSE(c.Set(kPageInt, odd, 0));
  EXPECT_FALSE(c.Get(kPageInt, &out, 0));
  EXPECT_EQ(Dump(c), "1020001=-5 107000f=ab");

  IAttributeContainer* generic = new CAttrContainer(1);
  EXPECT_TRUE(generic->IsEmpty());
  EXPECT_TRUE(generic->Set(kPageLong, number, 0));
  EXPECT_TRUE(generic->IsIn(kPageLong));
  generic->Destroy();
}

// The library throws from its own binary; this test binary catches by type.
TEST(QuilletException, ThrownByTheLibraryWithACopiedBoundedMessage) {
  try {
    CAttrContainer c(3);
    FAIL() << "a container of scope 3 was created";
  } catch (const CAttributeException& e) {
    EXPECT_EQ(std::u16string(e.GetMessage()), u"Attribute container scope 3 is neither 1 (page) nor 2 (document)");
  }
  EXPECT_EQ(std::u16string(CAttributeException(std::u16string(400, u'a').c_str()).GetMessage()), std::u16string(255, u'a'));
  CAttributeException copy(nullptr);
  EXPECT_EQ(std::u16string(copy.GetMessage()), u"");
  const CAttributeException original(u"refused by the host"), copied(original);
  copy = copied;
  EXPECT_EQ(std::u16string(copy.GetMessage()), u"refused by the host");
}

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

// Every byte value, in order.
Bytes AllBytes() {
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  return all;
}

// A page block touching every value type, including the empty and the odd cases.
Bytes PageSample() {
  return QuilletBlockWriter(1)
      .AddLong(0x01020001, 300)
      .AddInt(0x01000007, -2147483647 - 1)
      .AddLong(0x01020004, -1)
      .AddText(0x0107000F, kMixedText)
      .AddText(0x01070010, u"")
      .AddBinary(0x01080011, AllBytes())
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
  const Bytes all = AllBytes();
  EXPECT_EQ(Dump(c), "1020001=300 1000007=-2147483648 1020004=-1 107000f=Gr\\u00fc\\u00dfe \\u65e5\\u672c \\ud83d\\ude00 1070010= 1080011=" +
                         Hex(all.data(), all.size()) + " 1080012=");
  AttrVariant text{};  // the id may be left out
  EXPECT_TRUE(c.GetAt(3, nullptr, &text) && std::u16string(text.text) == kMixedText);
  EXPECT_EQ(Serialized(c), block);

  // Values set through the setters come out as the writer writes them.
  CAttrContainer direct(1);
  direct.SetAttr(0x01020001, 300, 0);
  direct.SetAttr(0x01000007, -2147483647 - 1, 0);
  direct.SetAttr(0x01020004, -1L, 0);
  direct.SetAttr(0x0107000F, kMixedText.c_str(), 0);
  direct.SetAttr(0x01070010, u"", 0);
  direct.SetAttr(0x01080011, all.data(), static_cast<std::uint32_t>(all.size()), 0);
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
  EXPECT_EQ(Dump(c), "102000e=1 1020001=20 107000f=a");
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

}  // namespace
