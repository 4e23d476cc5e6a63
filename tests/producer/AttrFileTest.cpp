// Byte layouts of both attribute-file versions and the producer's text conversion.
#include <stdexcept>

#include "TreeSupport.h"

using namespace producer_test;

TEST(AttrFileLayout, BothVersionsFieldByFieldAndWhatTheOverridesReach) {
  RecordV1 mislabelled = RecordV1::Int32(0x101, 5);
  mislabelled.lengthOverride = 10;
  const struct { const char* name; Bytes bytes, expected; } rows[] = {
      {"version 2", Serialize(AttrFileV2{.field0 = 0x1234, .field4 = 0xA1B2C3D4, .documentBlock = {1, 2, 3},
                                         .pages = {{7, {9, 9}}, {0x01020304, {}}}}),
       {
           0x34, 0x12, 0x00, 0x02, 0xD4, 0xC3, 0xB2, 0xA1,        // field0, version, field4
           0x02, 0x00, 0x00, 0x00,                                // page count
           0x03, 0x00, 0x00, 0x00, 1, 2, 3,                       // D, document block
           0x07, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 9, 9,  // page 0
           0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00,        // page 1, empty block
       }},
      {"version 2, overrides change only the declared numbers",
       Serialize(AttrFileV2{.version = 0x0300, .documentBlock = {5, 6}, .pages = {{1, {8}}}, .pageCountOverride = -1,
                            .documentSizeOverride = 1000}),
       {0x00, 0x00, 0x00, 0x03, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xE8, 0x03, 0x00, 0x00,  // count -1, D 1000
        5, 6, 1, 0, 0, 0, 1, 0, 0, 0, 8}},
      {"version 1",
       Serialize(AttrFileV1{.field0 = 1, .field4 = 2,
                            .documentRecords = {RecordV1::Ansi(0, "ab"), RecordV1::Int32(3, -2)},
                            .pages = {{RecordV1::Int32(0x100, 0x1A), RecordV1::Utf16(0x107, u"\u00E9")},
                                      {},
                                      {RecordV1::Int64(0x10E, 0x0102030405060708)}}}),
       {
           // head: field0, version, field4, document list at 40, 2 document records, 3 pages
           0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x02, 0x00, 0x03, 0x00,
           // page table: lists at 56 (2 records), 72 (none), 72 (1 record)
           0x38, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  //
           0x48, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
           0x48, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  //
           // offset 40: document records
           0x00, 0x00, 0x07, 0x00, 0x01, 'a', 'b',                // ANSI text, L = 7
           0x03, 0x00, 0x09, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF,  // raw -2, L = 9
           // offset 56: page 0
           0x00, 0x01, 0x09, 0x00, 0x00, 0x1A, 0x00, 0x00, 0x00,  // page value 26
           0x07, 0x01, 0x07, 0x00, 0x02, 0xE9, 0x00,              // UTF-16LE, no terminator
           // offset 72: page 2
           0x0E, 0x01, 0x0D, 0x00, 0x00, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
       }},
      // The page table still points at the list actually written.
      {"version 1, overrides reach their fields only",
       Serialize(AttrFileV1{.pages = {{mislabelled}}, .documentListOffsetOverride = 0xFFFFFFF0,
                            .documentRecordCountOverride = -3, .pageCountOverride = 9}),
       {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFD, 0xFF, 0x09, 0x00,  // head
        24, 0, 0, 0, 1, 0, 0, 0,                                                                      // page table
        0x01, 0x01, 0x0A, 0x00, 0x00, 5, 0, 0, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.bytes, row.expected);
  }
}

TEST(AttrFileLayout, RecordTooLongForItsLengthFieldIsRefused) {
  AttrFileV1 file{.documentRecords = {RecordV1::Ansi(1, std::string(32763, 'x'))}};
  EXPECT_THROW(Serialize(file), std::length_error);
  file.documentRecords = {RecordV1::Ansi(1, std::string(32762, 'x'))};
  EXPECT_EQ(Serialize(file).size(), 16u + 32767u);
}

TEST(PageFileNames, Version1NamesThePageValueInEightLowerCaseHexDigits) {
  EXPECT_EQ(PageFileNameV1(26) + PageFileNameV1(0xFFFFFFFF), "0000001a.pg" "ffffffff.pg");
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
  for (const auto& [utf8, ansi] : rows) EXPECT_EQ(Ansi1252(utf8), ansi) << utf8;
}
