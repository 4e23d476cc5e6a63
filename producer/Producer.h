// The producer kit: writes External Storages that the module imports. Used by esproduce,
// by the tests (every test storage is built with it) and by the benchmarks.
//
// Texts of the storage's small files (description, lock, order, commands, version-1
// texts) are bytes in the producer's ANSI code page: pass them as they should stand on
// disk; Ansi1252() converts UTF-8 for the common case.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "producer/TiffWriter.h"

namespace esproduce {

using Bytes = std::vector<std::uint8_t>;

// UTF-8 to Windows-1252 bytes ('?' for what 1252 cannot hold).
std::string Ansi1252(const std::string& utf8);

// ---- Attribute file, version 0x0200 ------------------------------------------------
struct PageRecordV2 {
  std::uint32_t value = 0;  // handed back to the reader; not used for naming
  Bytes block;              // serialized page container (QuilletBlockWriter)
};
struct AttrFileV2 {
  std::uint16_t field0 = 0;
  std::uint16_t version = 0x0200;
  std::uint32_t field4 = 0;
  Bytes documentBlock;               // serialized document container
  std::vector<PageRecordV2> pages;
  // Test hooks: announce another page count than pages.size(); declare other sizes.
  std::optional<std::int32_t> pageCountOverride;
  std::optional<std::uint32_t> documentSizeOverride;
};
Bytes Serialize(const AttrFileV2& file);

// ---- Attribute file, version 0x0100 ------------------------------------------------
enum class RecordKind : std::uint8_t { Raw = 0, Ansi = 1, Utf16 = 2 };
struct RecordV1 {
  std::int16_t type = 0;
  RecordKind kind = RecordKind::Raw;
  Bytes payload;
  std::optional<std::int16_t> lengthOverride;  // test hook: a wrong total length L
  static RecordV1 Int32(std::int16_t type, std::int32_t value);
  static RecordV1 Int64(std::int16_t type, std::int64_t value);
  static RecordV1 Ansi(std::int16_t type, const std::string& bytes);  // no NUL added
  static RecordV1 Utf16(std::int16_t type, const std::u16string& text);
};
struct AttrFileV1 {
  std::uint16_t field0 = 0;
  std::uint16_t version = 0x0100;
  std::uint32_t field4 = 0;
  std::vector<RecordV1> documentRecords;
  std::vector<std::vector<RecordV1>> pages;  // one record list per page
  // Test hooks: declare other values in the header than the lists written.
  std::optional<std::uint32_t> documentListOffsetOverride;
  std::optional<std::int16_t> documentRecordCountOverride;
  std::optional<std::int16_t> pageCountOverride;
};
// Layout: a 16-byte head, N page-table entries of 8 bytes, then the document's record
// list and each page's, in that order. Throws std::length_error for a record or a count
// that the 16-bit fields cannot hold.

Bytes Serialize(const AttrFileV1& file);

// Record types of the version-1 file.
namespace v1 {
inline constexpr std::int16_t kDocText0 = 0;   // text, goes to the pile index
inline constexpr std::int16_t kDocText1 = 1;   // text, goes to the barcode
inline constexpr std::int16_t kDocText2 = 2;   // text
inline constexpr std::int16_t kDocValue3 = 3;  // raw 4 bytes, not passed on
inline constexpr std::int16_t kPageValue = 0x100;       // raw 4: names the page file
inline constexpr std::int16_t kPageWidth = 0x101;       // raw 4
inline constexpr std::int16_t kPageHeight = 0x102;      // raw 4
inline constexpr std::int16_t kPageResolutionX = 0x103; // raw 4
inline constexpr std::int16_t kPageResolutionY = 0x104; // raw 4
inline constexpr std::int16_t kPage105 = 0x105;         // raw 4, not passed on
inline constexpr std::int16_t kPage106 = 0x106;         // raw, any length, not passed on
inline constexpr std::int16_t kPageSourceName = 0x107;  // text, capacity 64
inline constexpr std::int16_t kPage108 = 0x108;         // raw 4
inline constexpr std::int16_t kPage109 = 0x109;         // raw 4
inline constexpr std::int16_t kPage10A = 0x10A;         // raw 4
inline constexpr std::int16_t kPage10B = 0x10B;         // raw 4
inline constexpr std::int16_t kPage10C = 0x10C;         // raw 4
inline constexpr std::int16_t kPage10D = 0x10D;         // raw 4
inline constexpr std::int16_t kPageScanTime = 0x10E;    // raw 8, seconds since 1970
inline constexpr std::int16_t kPageUserName = 0x10F;    // text, capacity 100
inline constexpr std::int16_t kPageComputerName = 0x110;  // text, capacity 15
inline constexpr std::uint32_t kHeadSize = 16;
inline constexpr std::uint32_t kPageEntrySize = 8;
inline constexpr std::uint32_t kRecordHeadSize = 5;
}  // namespace v1

// Name of a version-1 page file: the page value as eight lower-case hex digits + ".pg".
std::string PageFileNameV1(std::uint32_t pageValue);
// Name of page n (from 1) of a version-2 document: "1.pg", "2.pg", ...
std::string PageFileNameV2(int pageNumber);

// ---- The tree ----------------------------------------------------------------------
struct FilePlan {
  std::string name;  // UTF-8 file name (on POSIX any bytes)
  Bytes content;
  bool readOnly = false;
};

struct DocumentPlan {
  std::string folderName;
  std::optional<Bytes> attributeFile;  // "SC_ATTR.BIN" as produced by Serialize
  std::optional<std::string> commands; // "COMMANDS" bytes
  std::optional<Bytes> kvattr;         // "KVATTR" bytes
  std::vector<FilePlan> files;         // page files and anything else
};

struct GroupPlan {
  std::string folderName;
  std::optional<std::string> lockText;  // "GR_LOCK.TXT" bytes; nullopt: no lock file
  // "Doc_Order.txt" lines, joined with CR LF (and one after the last line);
  // nullopt: no order file.
  std::optional<std::vector<std::string>> order;
  std::optional<std::string> rawOrderFile;  // exact bytes instead of `order`
  std::vector<DocumentPlan> documents;
};

struct StoragePlan {
  std::optional<std::string> description;       // "ESDesc.txt" bytes
  std::optional<std::vector<std::string>> groupOrder;  // the storage's "Doc_Order.txt"
  std::vector<GroupPlan> groups;
};

// Writes the storage below `root` (created when missing). Existing files are replaced
// (read-only ones too); other content stays. A group's lock file is written after the
// rest of the group, a document's attribute file after its other files. File names may
// reach into sub-folders of the document; folder names are one level. On failure
// `error` names the path and the reason.
bool WriteStorage(const std::filesystem::path& root, const StoragePlan& storage, std::string* error);
bool WriteGroup(const std::filesystem::path& storageRoot, const GroupPlan& group, std::string* error);
bool WriteDocument(const std::filesystem::path& groupFolder, const DocumentPlan& document, std::string* error);

// Names in StoragePlan and its parts are UTF-8; these convert them for the file system
// (on POSIX the bytes are kept as they are, so names that are not UTF-8 work too).
std::filesystem::path PathFromUtf8(const std::string& name);
std::string PathToUtf8(const std::filesystem::path& path);

// ---- Generated storages (what esproduce writes) -------------------------------------
enum class AttrVersion { None, V1, V2 };

// Size of a generated page: in tenths of a millimetre or in pixels.
struct PageSize {
  enum class Unit { TenthMillimetre, Pixel };
  std::uint32_t width = 2100;  // A4
  std::uint32_t height = 2970;
  Unit unit = Unit::TenthMillimetre;
};
// "a4", "letter", "WxHmm" (one decimal allowed: "215.9x279.4mm") or "WxHpx"; case is
// ignored. nullopt with the reason in `error` for anything else.
std::optional<PageSize> ParsePageSize(std::string_view text, std::string* error);
struct PixelSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};
PixelSize ToPixels(const PageSize& size, std::uint32_t dpi);
// Tenths of a millimetre of `pixels` at `dpi`, rounded: the size attribute of a page.
std::int32_t TenthsOfMillimetre(std::uint32_t pixels, std::uint32_t dpi);

inline constexpr std::uint32_t kMinDpi = 10;
inline constexpr std::uint32_t kMaxDpi = 2400;
inline constexpr std::uint32_t kMaxPixelSide = 16384;

// A small valid one-page PDF file: a frame, a block and `lines` of text (bytes of
// Windows-1252) on a page of that size in points.
Bytes MakePdf(std::uint32_t widthPoints, std::uint32_t heightPoints, const std::vector<std::string>& lines);

struct GenerateOptions {
  int groups = 1;
  int documents = 1;  // per group
  int pages = 1;      // per document
  AttrVersion attrVersion = AttrVersion::V2;
  std::optional<std::string> description;  // UTF-8; "ESDesc.txt" only when given
  bool commands = false;                   // a "COMMANDS" file per document
  bool kvattr = false;                     // a "KVATTR" file per document
  bool groupOrder = false;                 // the storage's "Doc_Order.txt"
  std::uint32_t seed = 1;
  std::string groupPrefix = "Group";       // UTF-8

  // Page images: TIFF files with bitonal pages, gray pages for Jpeg. Each page shows its
  // number ("PAGE 2 OF 3") in large letters and as a row of squares.
  Compression compression = Compression::CcittG4;
  PageSize pageSize;         // A4
  std::uint32_t dpi = 300;
  // Each document's pages are the images of one multi-page "1.pg".
  bool multipage = false;
  // Documents of each group given a special role; a document has at most one, so their
  // sum must not exceed `documents`. Which documents they are follows from the seed.
  int pdfDocuments = 0;         // "1.pg" is a one-page PDF file
  int damagedDocuments = 0;     // one named page cut short or corrupt
  int missingPageDocuments = 0; // one named page file absent
  int extraPageDocuments = 0;   // a page file "extra1.pg" no attribute page names
};

enum class SpecialKind { Pdf, Damaged, MissingPage, ExtraPage };
const char* SpecialKindName(SpecialKind kind);  // "pdf", "damaged", "missing", "extra"

// A document with a special role, for the summary and for tests.
struct SpecialDocument {
  SpecialKind kind = SpecialKind::Pdf;
  std::string groupFolder;     // UTF-8
  std::string documentFolder;
  std::string pageFile;        // the page file concerned ("1.pg" for a PDF document)
  std::string detail;          // how a damaged page is damaged; empty otherwise
};

// What was generated: counts for the summary line and the special documents.
struct GenerateReport {
  std::size_t groups = 0;
  std::size_t documents = 0;
  std::size_t pages = 0;      // page images in the page files (a PDF counts one)
  std::size_t pageFiles = 0;  // "*.pg" files
  std::size_t files = 0;      // every file written, the storage's and groups' included
  std::uint64_t bytes = 0;    // their total size
  std::vector<SpecialDocument> specials;
  std::size_t CountOf(SpecialKind kind) const;
};

// Receives a storage as it is generated, one document at a time so that large storages
// need little memory: each document, then its group (without documents) once all of
// the group's documents have been given, then the storage (without groups). Returning
// false stops the generation.
class GenerateSink {
 public:
  virtual ~GenerateSink() = default;
  virtual bool Document(const std::string& groupFolder, DocumentPlan document) = 0;
  virtual bool Group(GroupPlan group) = 0;
  virtual bool Storage(StoragePlan storage) = 0;
};

// The same options and seed give the same storage, byte for byte, on every platform
// (JPEG pages excepted: each platform has its own encoder). Throws std::invalid_argument
// for options out of range (see kMax* below) and for a compression this build cannot
// write. Returns false when the sink stopped it.
bool Generate(const GenerateOptions& options, GenerateSink& sink, GenerateReport* report);
// The whole storage in memory, for tests.
StoragePlan GenerateStorage(const GenerateOptions& options, GenerateReport* report = nullptr);
// Generates and writes below `root`, a document at a time. Throws as Generate; on a
// write failure returns false with the path and the reason in `error`.
bool WriteGenerated(const std::filesystem::path& root, const GenerateOptions& options, GenerateReport* report,
                    std::string* error);
inline constexpr int kMaxGroups = 9999;
inline constexpr int kMaxDocuments = 99999;
inline constexpr int kMaxPages = 9999;

// What a storage holds, for the one-line summary of esproduce.
struct StorageCounts {
  std::size_t groups = 0;
  std::size_t documents = 0;
  std::size_t files = 0;  // every file below the document folders
};
StorageCounts Count(const StoragePlan& storage);

}  // namespace esproduce
