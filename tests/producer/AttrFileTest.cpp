// Byte layouts of both attribute-file versions and the producer's text conversion.
#include <stdexcept>

#include <gtest/gtest.h>

#include "producer/Producer.h"

using esproduce::AttrFileV1;
using esproduce::AttrFileV2;
using esproduce::Bytes;
using esproduce::RecordV1;

TEST(AttrFileV2Layout, HeaderDocumentBlockAndPageRecords) {
  AttrFileV2 file;
  file.field0 = 0x1234;
  file.field4 = 0xA1B2C3D4;
  file.documentBlock = {1, 2, 3};
  file.pages = {{7, {9, 9}}, {0x01020304, {}}};
  const Bytes expected = {
      0x34, 0x12, 0x00, 0x02, 0xD4, 0xC3, 0xB2, 0xA1,  // field0, version, field4
      0x02, 0x00, 0x00, 0x00,                          // page count
      0x03, 0x00, 0x00, 0x00, 1, 2, 3,                 // D, document block
      0x07, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 9, 9,  // page 0
      0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00,        // page 1, empty block
  };
  EXPECT_EQ(esproduce::Serialize(file), expected);
}

TEST(AttrFileV2Layout, OverridesChangeOnlyTheDeclaredNumbers) {
  AttrFileV2 file;
  file.version = 0x0300;
  file.documentBlock = {5, 6};
  file.pages = {{1, {8}}};
  file.pageCountOverride = -1;
  file.documentSizeOverride = 1000;
  const Bytes bytes = esproduce::Serialize(file);
  const Bytes expected = {0x00, 0x00, 0x00, 0x03, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xE8, 0x03, 0x00, 0x00,
                          5,    6,    1,    0,    0, 0, 1, 0, 0,    0,    8};
  EXPECT_EQ(bytes, expected);
}

TEST(AttrFileV1Layout, HeadPageTableAndRecordListsFieldByField) {
  AttrFileV1 file;
  file.field0 = 1;
  file.field4 = 2;
  file.documentRecords = {RecordV1::Ansi(0, "ab"), RecordV1::Int32(3, -2)};
  file.pages = {
      {RecordV1::Int32(0x100, 0x1A), RecordV1::Utf16(0x107, u"\u00E9")},
      {},
      {RecordV1::Int64(0x10E, 0x0102030405060708)},
  };
  const Bytes expected = {
      // head: field0, version, field4, document list at 40, 2 document records, 3 pages
      0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x02, 0x00, 0x03, 0x00,
      // page table: lists at 56 (2 records), 72 (none), 72 (1 record)
      0x38, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  //
      0x48, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
      0x48, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  //
      // offset 40: document records
      0x00, 0x00, 0x07, 0x00, 0x01, 'a', 'b',                 // ANSI text, L = 7
      0x03, 0x00, 0x09, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF,  // raw -2, L = 9
      // offset 56: page 0
      0x00, 0x01, 0x09, 0x00, 0x00, 0x1A, 0x00, 0x00, 0x00,  // page value 26
      0x07, 0x01, 0x07, 0x00, 0x02, 0xE9, 0x00,              // UTF-16LE, no terminator
      // offset 72: page 2
      0x0E, 0x01, 0x0D, 0x00, 0x00, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
  };
  EXPECT_EQ(esproduce::Serialize(file), expected);
}

TEST(AttrFileV1Layout, OverridesReachTheirFieldsOnly) {
  AttrFileV1 file;
  RecordV1 record = RecordV1::Int32(0x101, 5);
  record.lengthOverride = 10;
  file.pages = {{record}};
  file.documentListOffsetOverride = 0xFFFFFFF0;
  file.documentRecordCountOverride = -3;
  file.pageCountOverride = 9;
  const Bytes bytes = esproduce::Serialize(file);
  ASSERT_EQ(bytes.size(), 16u + 8u + 9u);
  EXPECT_EQ(Bytes(bytes.begin() + 8, bytes.begin() + 16), (Bytes{0xF0, 0xFF, 0xFF, 0xFF, 0xFD, 0xFF, 0x09, 0x00}));
  // The page table still points at the list actually written.
  EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 24), (Bytes{24, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(Bytes(bytes.begin() + 24, bytes.end()), (Bytes{0x01, 0x01, 0x0A, 0x00, 0x00, 5, 0, 0, 0}));
}

TEST(AttrFileV1Layout, RecordTooLongForItsLengthFieldIsRefused) {
  AttrFileV1 file;
  file.documentRecords = {RecordV1::Ansi(1, std::string(32763, 'x'))};
  EXPECT_THROW(esproduce::Serialize(file), std::length_error);
  file.documentRecords = {RecordV1::Ansi(1, std::string(32762, 'x'))};
  EXPECT_EQ(esproduce::Serialize(file).size(), 16u + 32767u);
}

TEST(PageFileNames, FollowTheVersionRules) {
  EXPECT_EQ(esproduce::PageFileNameV1(26) + esproduce::PageFileNameV1(0) + esproduce::PageFileNameV1(0xFFFFFFFF),
            "0000001a.pg" "00000000.pg" "ffffffff.pg");
  EXPECT_EQ(esproduce::PageFileNameV2(1) + esproduce::PageFileNameV2(11), "1.pg" "11.pg");
}

TEST(Ansi1252, MapsWindowsBlockLatin1AndReplacesTheRestOneQuestionMarkPerBadByte) {
  const std::pair<std::string, std::string> rows[] = {
      {"\xE2\x82\xAC", "\x80"},                // euro sign
      {"\xC3\xA4", "\xE4"},                    // a umlaut
      {"\xC5\xB8\xE2\x84\xA2", "\x9F\x99"},     // Y diaeresis, trade mark
      {"Gr\xC3\xBC\xC3\x9F", "Gr\xFC\xDF"},
      {"\xE6\x97\xA5", "?"},                   // CJK ideograph
      {"\xF0\x9F\x98\x80", "?"},               // outside the BMP
      {"\xC2\x81", "?"},                       // C1 control: unused in 1252
      {"a\xFF" "b", "a?b"},                     // malformed UTF-8 from here on
      {"\xE2\x82", "??"},                       // cut short
      {"\xC0\xAF", "??"},                       // overlong
      {"\xED\xA0\x80", "???"},                  // surrogate
      {std::string("x\0y", 3), std::string("x\0y", 3)},
  };
  for (const auto& [utf8, ansi] : rows) EXPECT_EQ(esproduce::Ansi1252(utf8), ansi) << utf8;
}
