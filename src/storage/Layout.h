// The External Storage tree: the names the module looks for and how paths are built.
// The module never creates a storage, group, document, page, attribute or lock file;
// it reads them, rewrites the order file and deletes what it has imported, marking a
// document as delivered before it deletes any of it.
//
// Every path is joined with exactly one separator and never normalised: a storage
// directory written with a trailing separator gives a doubled one in the paths that
// always add one, which the file systems accept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/Text.h"

namespace es::layout {

inline constexpr char16_t kDescriptionFile[] = u"ESDesc.txt";
inline constexpr char16_t kOrderFile[] = u"Doc_Order.txt";
inline constexpr char16_t kOrderBackupSuffix[] = u".BAK";
inline constexpr char16_t kLockFile[] = u"GR_LOCK.TXT";
inline constexpr char16_t kAttributeFile[] = u"SC_ATTR.BIN";
inline constexpr char16_t kKvAttrFile[] = u"KVATTR";
// Put into a document folder whose pages all reached the host, before anything of it is
// deleted, and deleted last: a document that holds it is never imported again, only
// deleted, so that a delete cut short cannot bring its rest back as new pages.
inline constexpr char16_t kDeliveredMark[] = u"ES_DELIVERED";
inline constexpr char16_t kCommandsFile[] = u"COMMANDS";
inline constexpr char16_t kFirstPageFile[] = u"1.pg";
inline constexpr char16_t kPageFileSuffix[] = u".pg";
inline constexpr char16_t kAllEntriesPattern[] = u"*.*";
inline constexpr char16_t kPageFilePattern[] = u"*.pg";
inline constexpr char16_t kReplacementImage[] = u"DualStreamPdf.tif";

// Environment references in registered directories expand into this many characters.
inline constexpr std::size_t kPathCapacity = 260;
// Lock files of this size or more make a group unavailable.
inline constexpr std::uint32_t kLockFileLimit = 1024;
// The files of a storage that are read whole (description, order and attribute files)
// are read up to this size; a larger one is not read at all. Storages are
// written by others: no size they state is trusted with memory.
inline constexpr std::uint64_t kTextFileLimit = 64ull * 1024 * 1024;
// "KVATTR" and "COMMANDS" travel to the host whole, inside the document's attributes.
inline constexpr std::uint64_t kSideFileLimit = 16ull * 1024 * 1024;
// A PDF document travels to the host whole, as its page's content: up to this size.
inline constexpr std::uint64_t kPdfContentLimit = 64ull * 1024 * 1024;

// ---- Page file names ---------------------------------------------------------------

// Current attribute files name page n (counted from 1) "n.pg": "1.pg", "2.pg", ... "10.pg".
inline Str PageFileNameV2(int n) { return DecimalText(n) + kPageFileSuffix; }
// Version-1 attribute files name a page by its identifier: "%08lx.pg" (26 -> "0000001a.pg").
inline Str PageFileNameV1(std::uint32_t value) { return Hex8(value) + kPageFileSuffix; }

// ---- Document kinds ----------------------------------------------------------------

enum class DocumentKind {
  Pdf,         // "1.pg" holds a PDF file: the whole document is that one page
  MultiPage,   // "1.pg" holds two or more images: every named page lives in it
  SingleFile,  // every other case, a document without "1.pg" included
};

// A PDF file starts with "%PDF"; a first page file of fewer than 5 bytes is no PDF.
// `firstBytes` is what could be read from the start of the file, `fileSize` its size.
inline bool IsPdfSignature(std::span<const std::uint8_t> firstBytes, std::uint64_t fileSize) {
  return fileSize >= 5 && firstBytes.size() >= 4 && std::memcmp(firstBytes.data(), "%PDF", 4) == 0;
}

// ---- Paths -------------------------------------------------------------------------

// Group folder as the group import receives it: no extra separator when the storage
// directory already ends in one.
inline Str GroupFolderPath(StrView storageDir, StrView folderName) { return JoinPath(storageDir, folderName); }
// Listing of the groups of a storage: a separator only when the directory lacks one.
inline Str StorageListingPattern(StrView storageDir) { return JoinPath(storageDir, kAllEntriesPattern); }
// Listing of every entry of a folder (document folders of a group, deletion).
inline Str ListingPattern(StrView folder) { return JoinAlways(folder, kAllEntriesPattern); }
// The order file beside a listing pattern: the pattern without its "*.*", then the name.
inline Str OrderFileOfPattern(StrView pattern) {
  const std::size_t cut = pattern.size() >= 3 ? pattern.size() - 3 : 0;
  return Str(pattern.substr(0, cut)) + kOrderFile;
}

inline Str LockFilePath(StrView groupFolder) { return JoinAlways(groupFolder, kLockFile); }
// The lock file as group discovery reads it: always a separator after the storage
// directory, even when it already ends in one.
inline Str GroupLockPath(StrView storageDir, StrView folderName) {
  return JoinAlways(JoinAlways(storageDir, folderName), kLockFile);
}
inline Str OrderFilePath(StrView groupFolder) { return JoinAlways(groupFolder, kOrderFile); }
inline Str OrderBackupPath(StrView orderFilePath) { return Str(orderFilePath) + kOrderBackupSuffix; }

inline Str DocumentFolderPath(StrView groupFolder, StrView documentName) {
  return JoinAlways(groupFolder, documentName);
}
inline Str FirstPagePath(StrView documentFolder) { return JoinAlways(documentFolder, kFirstPageFile); }
inline Str AttributeFilePath(StrView documentFolder) { return JoinAlways(documentFolder, kAttributeFile); }
inline Str PageListingPattern(StrView documentFolder) { return JoinAlways(documentFolder, kPageFilePattern); }
// A named page file or an extra page file found by the listing.
inline Str PageFilePath(StrView documentFolder, StrView pageFileName) {
  return JoinAlways(documentFolder, pageFileName);
}
// The side files take a separator only when the folder path lacks one.
inline Str KvAttrPath(StrView documentFolder) { return JoinPath(documentFolder, kKvAttrFile); }
inline Str CommandsPath(StrView documentFolder) { return JoinPath(documentFolder, kCommandsFile); }

// The replacement image lies beside the module: the module path up to and including its
// last separator, then the image's name.
inline Str ReplacementImagePath(StrView modulePath) {
  const std::size_t sep = modulePath.rfind(platform::kPathSep);
  const std::size_t keep = sep == StrView::npos ? 0 : sep + 1;
  return Str(modulePath.substr(0, keep)) + kReplacementImage;
}

}  // namespace es::layout
