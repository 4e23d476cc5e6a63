// The attribute container: typing by id, order, replacement, the host's generic access
// and the library's exception.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Quillet.h"

namespace {

constexpr std::uint32_t kPageInt = 0x01000007, kPageLong = 0x01020001, kPageLong2 = 0x01020002,
                        kPageText = 0x0107000F, kPageBinary = 0x01080012, kPageUnknownType = 0x01030001,
                        kDocText = 0x02070065;

// The container as text, attribute by attribute in order: "id=value", a text as it is
// (ASCII here), bytes in hex.
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
      out += std::string(v.text, v.text + v.textLength);
    } else if (v.type == 0x08) {
      for (std::uint32_t b = 0; b < v.size; ++b) {
        std::snprintf(item, sizeof item, "%02x", v.bytes[b]);
        out += item;
      }
    } else {
      out += std::to_string(v.number);
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

TEST(QuilletContainer, OrderReplacementAndDeletion) {
  CAttrContainer c(1);
  c.SetAttr(kPageLong, 1, 0);
  c.SetAttr(kPageText, u"first", 0);
  c.SetAttr(kPageInt, 3, 0);
  c.SetAttr(kPageLong, 10L, 0);
  c.SetAttr(kPageText, u"second", 0);
  EXPECT_EQ(Dump(c), "1020001=10 107000f=second 1000007=3");
  // Deleted and set again, an attribute goes to the end.
  c.DeleteAttrIfExist(kPageLong);
  c.SetAttr(kPageLong, 4, 0);
  EXPECT_EQ(Dump(c), "107000f=second 1000007=3 1020001=4");

  CAttrContainer d(2);
  EXPECT_EQ(d.Scope(), 2);
  d.DeleteAttrIfExist(kDocText);  // absent: nothing happens
  EXPECT_TRUE(d.IsEmpty());
  ASSERT_TRUE(d.SetAttr(kDocText, u"AB12", 0));
  EXPECT_FALSE(d.IsEmpty());
  EXPECT_TRUE(d.IsIn(kDocText));
  d.DeleteAttrIfExist(kDocText);
  EXPECT_TRUE(d.IsEmpty());
  EXPECT_FALSE(d.IsIn(kDocText));
  EXPECT_FALSE(d.Delete(kDocText));
}

TEST(QuilletContainer, TextsAndBytesAreCopied) {
  CAttrContainer c(1);
  char16_t text[] = u"scan";
  unsigned char bytes[] = {1, 2, 3};
  ASSERT_TRUE(c.SetAttr(kPageText, text, 0));
  ASSERT_TRUE(c.SetAttr(kPageBinary, bytes, 3, 0));
  text[0] = u'X';
  bytes[0] = 9;
  EXPECT_EQ(Dump(c), "107000f=scan 1080012=010203");
  AttrVariant v{};
  ASSERT_TRUE(c.Get(kPageBinary, &v, 0));
  EXPECT_EQ(v.type, 0x08);
  ASSERT_TRUE(c.SetAttr(kPageText, static_cast<const char16_t*>(nullptr), 0));
  ASSERT_TRUE(c.SetAttr(kPageBinary, nullptr, 0, 0));
  EXPECT_FALSE(c.SetAttr(kPageBinary, nullptr, 4, 0));
  EXPECT_EQ(Dump(c), "107000f= 1080012=");
}

TEST(QuilletContainer, VariantAccessForTheHost) {
  CAttrContainer c(1);
  AttrVariant number{}, out{}, text{}, odd{};
  number.type = 0x00;
  number.number = -5;
  EXPECT_TRUE(c.Set(kPageLong, number, 0));
  ASSERT_TRUE(c.Get(kPageLong, &out, 0));
  EXPECT_EQ(out.type, 0x02);  // the id's type, not the one given
  EXPECT_EQ(out.number, -5);
  text.type = 0x07;
  text.text = u"ab\0cd";
  text.textLength = 5;
  EXPECT_FALSE(c.Set(kPageText, text, 0));  // a NUL unit inside
  text.textLength = 2;
  EXPECT_TRUE(c.Set(kPageText, text, 0));
  EXPECT_FALSE(c.Set(kPageInt, text, 0));
  odd.type = 0x05;
  EXPECT_FALSE(c.Set(kPageInt, odd, 0));
  EXPECT_FALSE(c.Get(kPageInt, &out, 0));
  EXPECT_EQ(Dump(c), "1020001=-5 107000f=ab");

  IAttributeContainer* generic = new CAttrContainer(1);
  EXPECT_TRUE(generic->IsEmpty());
  EXPECT_TRUE(generic->Set(kPageLong, number, 0));
  EXPECT_TRUE(generic->IsIn(kPageLong));
  generic->Destroy();
}

TEST(QuilletContainer, BinaryStreams) {
  struct ChunkedIn : IAttrInStream {  // hands out two bytes at a time
    std::vector<std::uint8_t> data;
    std::size_t at = 0;
    std::uint32_t Read(void* buffer, std::uint32_t count) override {
      const std::size_t n = std::min<std::size_t>({count, 2, data.size() - at});
      std::memcpy(buffer, data.data() + at, n);
      at += n;
      return static_cast<std::uint32_t>(n);
    }
  } in, shortIn;
  struct CollectingOut : IAttrOutStream {
    std::vector<std::uint8_t> data;
    bool fail = false;
    bool Write(const void* bytes, std::uint32_t count) override {
      data.insert(data.end(), static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + count);
      return !fail;
    }
  } out;
  CAttrContainer c(1);
  in.data = {1, 2, 3, 4, 5};
  shortIn.data = {7, 7};
  ASSERT_TRUE(c.SetBinary(kPageBinary, &in, 5, 0));
  EXPECT_FALSE(c.SetBinary(kPageBinary, &shortIn, 5, 0));  // ends early: value kept
  EXPECT_FALSE(c.SetBinary(kPageBinary, &in, -1, 0));
  EXPECT_FALSE(c.SetBinary(kPageText, &in, 0, 0));
  ASSERT_TRUE(c.GetBinary(kPageBinary, &out, 0));
  EXPECT_EQ(out.data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  out.fail = true;
  EXPECT_FALSE(c.GetBinary(kPageBinary, &out, 0));
  EXPECT_FALSE(c.GetBinary(kPageLong, &out, 0));
}

TEST(QuilletException, ThrownByTheLibraryWithACopiedBoundedMessage) {
  // The library throws from its own binary; this test binary catches by type.
  try {
    CAttrContainer c(3);
    FAIL() << "a container of scope 3 was created";
  } catch (const CAttributeException& e) {
    EXPECT_EQ(std::u16string(e.GetMessage()), u"Attribute container scope 3 is neither 1 (page) nor 2 (document)");
  }
  const std::u16string longText(400, u'a');
  EXPECT_EQ(std::u16string(CAttributeException(longText.c_str()).GetMessage()), std::u16string(255, u'a'));
  CAttributeException empty(nullptr);
  EXPECT_EQ(std::u16string(empty.GetMessage()), u"");
  try {
    throw CAttributeException(u"refused by the host");
  } catch (const CAttributeException& caught) {
    CAttributeException copy = caught;
    empty = copy;
  }
  EXPECT_EQ(std::u16string(empty.GetMessage()), u"refused by the host");
}

}  // namespace
