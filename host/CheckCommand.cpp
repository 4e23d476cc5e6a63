// eshost check: a read-only look at External Storages before an import. It walks the
// storages with the module's own listing, lock, attribute and page-file functions and
// reports what would make a group unavailable, a document fail or lose pages, or a
// clean-up leave files behind. Files are opened for reading only (a lock file also once
// without sharing, closed at once); nothing is written, renamed or deleted.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Pictorn.h"
#include "Quillet.h"
#include "Tessard.h"
#include "attrs/AttributeIds.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "frame/Element.h"
#include "frame/Text.h"
#include "host/Commands.h"
#include "host/ModuleLoader.h"
#include "host/Session.h"
#include "platform/Platform.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "storage/Listing.h"
#include "storage/PageFiles.h"

#ifndef _WIN32
#include "platform/posix/Names.h"
#endif

namespace eshost {

namespace {

using es::Str;
using es::StrArray;
using es::StrView;
using Json = nlohmann::ordered_json;
namespace layout = es::layout;
namespace platform = es::platform;

// ---- Text of names and paths ---------------------------------------------------------

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Whether unit `i` is a surrogate without its partner.
bool IsLone(StrView text, std::size_t i) {
  if (IsHigh(text[i])) return i + 1 >= text.size() || !IsLow(text[i + 1]);
  if (IsLow(text[i])) return i == 0 || !IsHigh(text[i - 1]);
  return false;
}

// A name the file system gave that has no text form: on POSIX bytes that are no UTF-8
// (they arrive as U+DC80..U+DCFF), on Windows UTF-16 with unpaired surrogates.
bool IsUndecodable(StrView name) {
  for (std::size_t i = 0; i < name.size(); ++i)
    if (IsLone(name, i)) return true;
  return false;
}

// UTF-8 for the report. A POSIX name byte that is no UTF-8 shows as \xHH, any other
// unpaired surrogate as \uXXXX, so that the output is always valid UTF-8.
std::string Shown(StrView text) {
  std::string out;
  std::size_t start = 0;
  char escape[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsLone(text, i)) continue;
    out += es::ToUtf8(text.substr(start, i - start));
    const char16_t unit = text[i];
#ifdef _WIN32
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
#else
    if (unit >= 0xDC80 && unit <= 0xDCFF)
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(unit - 0xDC00));
    else
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
#endif
    out += escape;
    start = i + 1;
  }
  out += es::ToUtf8(text.substr(start));
  return out;
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
  return text;
}

std::string ErrorText(platform::Error error) {
  switch (error) {
    case platform::Error::None: return "no error reported";
    case platform::Error::NotFound: return "not found";
    case platform::Error::AccessDenied: return "access denied";
    case platform::Error::SharingViolation: return "held open by another process";
    case platform::Error::InvalidArgument: return "invalid name";
    case platform::Error::Io: return "read error";
    default: return "cannot be opened";
  }
}

// "1, 4, 7" for at most ten indices, then how many more.
std::string IndexList(const std::vector<std::int32_t>& indices) {
  std::string out;
  const std::size_t shown = std::min<std::size_t>(indices.size(), 10);
  for (std::size_t i = 0; i < shown; ++i) out += (i == 0 ? "" : ", ") + std::to_string(indices[i]);
  if (indices.size() > shown) out += " and " + std::to_string(indices.size() - shown) + " more";
  return out;
}

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// ---- The file system, read only -----------------------------------------------------

std::optional<std::uint32_t> Attributes(const Str& path) {
  std::uint32_t attributes = 0;
  if (!platform::Os().GetAttributes(path, &attributes)) return std::nullopt;
  return attributes;
}

bool IsFolder(const std::optional<std::uint32_t>& attributes) {
  return attributes && (*attributes & platform::kAttrDirectory) != 0;
}

// POSIX only: a folder without write permission for its owner keeps the module from
// deleting what is in it. Windows expresses this through access lists the read-only
// attribute does not show; the deletions themselves report it there.
bool FolderWritable(const Str& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  std::error_code error;
  const auto status = std::filesystem::status(std::filesystem::path(platform::posix::EncodeName(path)), error);
  if (error) return true;  // vanished or unreadable: other checks say so
  return (status.permissions() & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
#endif
}

// Names of every entry of a folder other than "." and "..", in listing order.
std::vector<platform::DirEntry> Entries(const Str& folder) {
  std::vector<platform::DirEntry> entries;
  platform::Os().Enumerate(layout::ListingPattern(folder), [&](const platform::DirEntry& entry) {
    if (entry.name != u"." && entry.name != u"..") entries.push_back(entry);
    return true;
  });
  return entries;
}

// Reads image `index` of an open page file as the import would hand it over, and lets
// it go again. Returns the image library's result.
std::int32_t ProbeImage(std::intptr_t file, std::int32_t index) {
  auto page = std::make_unique<CAttrContainer>(es::attrs::kScopePage);
  CAttrContainer* target = page.get();
  std::uint64_t image = 0;
  std::uint32_t imageSize = 0;
  const std::int32_t result = GT_CreatePageAttrsFromHandle(file, index, &image, &imageSize, target, 1);
  if (target != page.get()) {
    page.release();
    page.reset(target);
  }
  PictornReleaseImage(image);
  return result;
}

std::string LastImageError() {
  const char* why = PictornLastError();
  return why != nullptr && *why != '\0' ? std::string(" (") + why + ")" : std::string();
}

// ---- The walk --------------------------------------------------------------------------

class Checker {
 public:
  Json CheckStorage(const Str& registered, const Str& directory);

  std::size_t storages = 0;
  std::size_t groups = 0;
  std::size_t unavailableGroups = 0;
  std::size_t documents = 0;
  std::size_t problems = 0;

 private:
  void Add(Json& node, const char* code, const Str& path, const std::string& reason) {
    node["problems"].push_back({{"path", Shown(path)}, {"problem", code}, {"reason", reason}});
    ++problems;
  }
  void CheckName(Json& node, const Str& path, StrView name) {
    if (IsUndecodable(name))
      Add(node, "name-undecodable", path,
          "the file name cannot be decoded as text; it shows here with its raw bytes escaped");
  }
  void CheckOrderFile(Json& node, const Str& folder, const StrArray& subFolders, const char* what);
  Json CheckGroup(const Str& storageDir, const Str& folderName);
  std::optional<std::pair<const char*, std::string>> LockProblem(const Str& lockPath);
  Json CheckDocument(const Str& groupPath, const Str& name);
  void CheckPageFile(Json& node, const Str& path, bool named);
  void CheckDeletable(Json& node, const Str& folder, bool documentFolder);
};

Json Checker::CheckStorage(const Str& registered, const Str& directory) {
  ++storages;
  Json node;
  node["directory"] = Shown(directory);
  if (registered != directory) node["registered"] = Shown(registered);
  node["name"] = nullptr;
  node["available"] = false;
  node["order_file_stray_lines"] = Json::array();
  node["problems"] = Json::array();
  node["groups"] = Json::array();
  const auto attributes = Attributes(directory);
  if (!attributes) {
    Add(node, "storage-missing", directory, "the storage directory does not exist");
    return node;
  }
  if (!IsFolder(attributes)) {
    Add(node, "storage-not-a-folder", directory, "the storage directory is not a folder");
    return node;
  }
  node["available"] = true;
  const Str name = es::ReadStorageName(directory);
  if (!name.empty()) node["name"] = Shown(name);
  if (!FolderWritable(directory))
    Add(node, "folder-not-writable", directory, "no write permission: the module cannot delete emptied group folders");

  StrArray folders;
  es::ListSubFolders(layout::StorageListingPattern(directory), folders);
  CheckOrderFile(node, directory, folders, "group folder");
  for (const Str& folder : folders) node["groups"].push_back(CheckGroup(directory, folder));
  return node;
}

// Lines of an order file that take no folder name them wrongly: the module skips them,
// but they usually stand for a folder that went missing.
void Checker::CheckOrderFile(Json& node, const Str& folder, const StrArray& subFolders, const char* what) {
  const Str path = layout::OrderFilePath(folder);
  const auto attributes = Attributes(path);
  if (!attributes) return;
  es::File file(path, platform::Access::Read, platform::Share::Read);
  std::vector<std::uint8_t> bytes;
  if (!file.IsOpen() || !file.ReadAll(&bytes, layout::kTextFileLimit)) {
    Add(node, "order-file-unreadable", path,
        "the order file cannot be read (" + ErrorText(file.OpenError()) + "): folders are taken in listing order");
    return;
  }
  file.Close();
  // As the listing reads it: the text ends at its first zero byte.
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const Str text = platform::Os().AnsiToUtf16(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::size_t>(end - bytes.begin()));
  const std::set<Str> names(subFolders.begin(), subFolders.end());
  Json stray = Json::array();
  std::size_t pos = 0;
  StrView line;
  std::size_t number = 0;
  while (es::listing::NextLine(text, &pos, &line)) {
    ++number;
    if (names.count(Str(line)) != 0) continue;
    stray.push_back(Shown(line));
    Add(node, "order-line", path,
        "line " + std::to_string(number) + " \"" + Shown(line) + "\" names no " + what +
            " (names are compared with case)");
  }
  node["order_file_stray_lines"] = stray;
}

// Why the module could not take the group, if anything keeps it from doing so: the
// reasons group discovery and the group import's lock have.
std::optional<std::pair<const char*, std::string>> Checker::LockProblem(const Str& lockPath) {
  const auto attributes = Attributes(lockPath);
  if (!attributes) return std::make_pair("no-lock-file", std::string("no lock file: the group is not offered for import"));
  if (IsFolder(attributes)) return std::make_pair("lock-unreadable", std::string("the lock file is a folder"));
  {
    es::File file(lockPath, platform::Access::Read, platform::Share::Read);
    if (!file.IsOpen()) {
      if (file.OpenError() == platform::Error::SharingViolation)
        return std::make_pair("lock-held", std::string("another process holds the lock file: the group is in use"));
      return std::make_pair("lock-unreadable", "the lock file cannot be opened (" + ErrorText(file.OpenError()) + ")");
    }
    std::uint64_t size = 0;
    if (file.Size(&size) && size >= layout::kLockFileLimit)
      return std::make_pair("lock-too-big", "the lock file has " + std::to_string(size) + " bytes; one of " +
                                                std::to_string(layout::kLockFileLimit) +
                                                " bytes or more keeps the group from being offered for import");
  }
  // The import opens the lock file without sharing; this open is closed again at once.
  es::File exclusive(lockPath, platform::Access::Read, platform::Share::None);
  if (!exclusive.IsOpen()) {
    if (exclusive.OpenError() == platform::Error::SharingViolation)
      return std::make_pair("lock-held",
                            std::string("another process has the lock file open: the import could not lock the group"));
    return std::make_pair("lock-unreadable", "the lock file cannot be opened (" + ErrorText(exclusive.OpenError()) + ")");
  }
  return std::nullopt;
}

Json Checker::CheckGroup(const Str& storageDir, const Str& folderName) {
  ++groups;
  const Str groupPath = layout::GroupFolderPath(storageDir, folderName);
  Json node;
  node["folder"] = Shown(folderName);
  node["path"] = Shown(groupPath);
  node["available"] = false;
  node["reason"] = nullptr;
  node["name"] = nullptr;
  node["document_count"] = 0;
  node["documents_checked"] = false;
  node["order_file_stray_lines"] = Json::array();
  node["problems"] = Json::array();
  CheckName(node, groupPath, folderName);

  Str groupName;
  const bool discovered = es::ReadGroupLock(storageDir, folderName, groupName);
  const auto lockProblem = LockProblem(layout::LockFilePath(groupPath));
  const bool available = discovered && !lockProblem;
  node["available"] = available;
  if (discovered) node["name"] = Shown(groupName);
  if (lockProblem) {
    node["reason"] = lockProblem->second;
    Add(node, lockProblem->first, layout::LockFilePath(groupPath), lockProblem->second);
  } else if (!discovered) {
    node["reason"] = "the lock file cannot be read";
    Add(node, "lock-unreadable", layout::LockFilePath(groupPath), "the lock file cannot be read");
  }
  if (!available) ++unavailableGroups;

  StrArray documentFolders;
  es::ListSubFolders(layout::ListingPattern(groupPath), documentFolders);
  node["document_count"] = documentFolders.size();
  documents += documentFolders.size();
  CheckOrderFile(node, groupPath, documentFolders, "document folder");
  CheckDeletable(node, groupPath, false);
  // A group that is not offered, or is in use, may be half written or half imported:
  // its documents are counted but not read.
  node["documents_checked"] = available;
  node["documents"] = Json::array();  // after "problems", which the checks above filled
  if (available)
    for (const Str& name : documentFolders) node["documents"].push_back(CheckDocument(groupPath, name));
  return node;
}

// Files the clean-up could not delete. In a group folder the lock file is left out: the
// module clears its attributes before deleting it.
void Checker::CheckDeletable(Json& node, const Str& folder, bool documentFolder) {
  for (const auto& entry : Entries(folder)) {
    const Str path = es::JoinAlways(folder, entry.name);
    if (documentFolder) CheckName(node, path, entry.name);
    const auto attributes = Attributes(path);
    if (IsFolder(attributes) || (!attributes && entry.isDirectory)) {
      if (documentFolder)
        Add(node, "not-deletable", path,
            "a folder inside a document: the module does not delete it, so the document folder stays");
      continue;  // in a group folder: a document, checked on its own
    }
    if (!documentFolder) CheckName(node, path, entry.name);
    if (!documentFolder && es::EqualsNoCase(entry.name, layout::kLockFile)) continue;
    if (attributes && (*attributes & platform::kAttrReadOnly) != 0)
      Add(node, "read-only", path,
          documentFolder ? "read-only: the module cannot delete it, so the document folder stays"
                         : "read-only: the module cannot delete it, so the group folder stays");
  }
  if (!FolderWritable(folder))
    Add(node, "folder-not-writable", folder,
        documentFolder ? "no write permission: the module cannot delete the document's files"
                       : "no write permission: the module cannot rewrite the order file or delete documents");
}

// A page file as the import reads it: the image library must find at least one image and
// read every one of them.
void Checker::CheckPageFile(Json& node, const Str& path, bool named) {
  const auto attributes = Attributes(path);
  if (IsFolder(attributes)) {
    Add(node, "page-unopenable", path, "a folder named like a page file: it cannot be read as a page");
    return;
  }
  es::File file(path, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) {
    Add(node, "page-unopenable", path, "the page file cannot be opened (" + ErrorText(file.OpenError()) + ")");
    return;
  }
  const std::int32_t count = PictornImageCount(file.Handle());
  if (count <= 0) {
    Add(node, "page-damaged", path,
        std::string(named ? "damaged page" : "damaged extra page file") +
            ": the image library finds no readable image in it" + LastImageError());
    return;
  }
  std::vector<std::int32_t> failed;
  std::string firstWhy;
  for (std::int32_t j = 0; j < count; ++j) {
    if (ProbeImage(file.Handle(), j) == 0) continue;
    if (failed.empty()) firstWhy = LastImageError();
    failed.push_back(j);
  }
  if (!failed.empty())
    Add(node, "page-damaged", path,
        std::string(named ? "damaged page" : "damaged extra page file") + ": image " + IndexList(failed) + " of " +
            std::to_string(count) + " cannot be read" + firstWhy);
}

Json Checker::CheckDocument(const Str& groupPath, const Str& name) {
  const Str folder = layout::DocumentFolderPath(groupPath, name);
  Json node;
  node["folder"] = Shown(name);
  node["path"] = Shown(folder);
  node["kind"] = nullptr;
  node["attribute_file"] = nullptr;
  node["page_files"] = 0;
  node["problems"] = Json::array();

  // What the import counts: every "*.pg" entry, and for a multi-page "1.pg" its images.
  StrArray list;
  std::int32_t pageFileCount = es::ListPageFiles(folder, list);
  const Str firstPage = layout::FirstPagePath(folder);
  es::File multiPage;
  layout::DocumentKind kind = layout::DocumentKind::SingleFile;
  bool failed = false;
  if (es::FileExists(firstPage)) {
    es::File first(firstPage, platform::Access::Read, platform::Share::Read);
    if (!first.IsOpen()) {
      Add(node, "page-unopenable", firstPage,
          "the first page file cannot be opened (" + ErrorText(first.OpenError()) + "): the document would fail");
      failed = true;
    } else if (es::IsPdfFile(first)) {
      kind = layout::DocumentKind::Pdf;
      if (pageFileCount > 1)
        Add(node, "pdf-extra-pages", folder,
            "a PDF document with " + Plural(pageFileCount - 1, "further page file", "further page files") +
                ": only 1.pg is imported, the others are deleted with the document");
      pageFileCount = 1;
    } else {
      const std::int32_t images = PictornImageCount(first.Handle());
      if (images >= 2) {
        kind = layout::DocumentKind::MultiPage;
        multiPage = std::move(first);
        pageFileCount = images - 1 + pageFileCount;
        Str firstName = layout::kFirstPageFile;
        es::RemoveFromList(firstName, list);
      }
    }
  }
  if (!failed)
    node["kind"] = kind == layout::DocumentKind::Pdf         ? "pdf"
                   : kind == layout::DocumentKind::MultiPage ? "multi-page"
                                                             : "single-file";

  const Str attrPath = layout::AttributeFilePath(folder);
  Json attributeFile;
  attributeFile["present"] = Attributes(attrPath).has_value();
  attributeFile["readable"] = false;
  attributeFile["version"] = nullptr;
  attributeFile["announced_pages"] = nullptr;
  es::CDocAttrsImport reader;
  es::CDocAttrsImportV1 readerV1;
  es::AttrFileHeader header;
  bool attrsRead = false;
  auto checkCount = [&](std::int32_t announced) {
    attributeFile["announced_pages"] = announced;
    if (announced == pageFileCount) return;
    Add(node, "page-count", folder,
        "the attribute file announces " + Plural(announced, "page", "pages") +
            ", the document has " + Plural(pageFileCount, "page file", "page files") +
            (announced > pageFileCount ? ": pages are missing" : ": the rest are imported as extra pages"));
  };
  if (!failed && attributeFile["present"].get<bool>()) {
    if (!reader.ReadAttributeFile(attrPath)) {
      Add(node, "attributes-unreadable", attrPath,
          "the attribute file cannot be read: every page file would be imported as an extra page");
    } else {
      reader.GetHeader(&header);
      attributeFile["version"] = Hex4(header.version);
      if (header.version == es::kAttrFileVersion2) {
        attrsRead = true;
        attributeFile["readable"] = true;
        CAttrContainer document(es::attrs::kScopeDocument);
        std::int32_t announced = 0;
        if (reader.ReadDocumentAttributes(&document, &announced))
          checkCount(announced);
        else
          Add(node, "attributes-unreadable", attrPath,
              "the document's attributes cannot be read; the page count is not checked");
      } else if (!readerV1.ReadAttributeFile(attrPath)) {
        Add(node, "attributes-unreadable", attrPath, "the attribute file cannot be read: the document would fail");
        failed = true;
      } else {
        readerV1.GetHeader(&header);
        if (header.version != es::kAttrFileVersion1) {
          Add(node, "attributes-version", attrPath,
              "attribute file version " + Hex4(header.version) + " is neither 0x0200 nor 0x0100: the document would fail");
          failed = true;
        } else {
          attrsRead = true;
          attributeFile["readable"] = true;
          es::DocAttrsV1 record;
          if (readerV1.ReadDocumentAttributes(&record)) {
            checkCount(record.pageCount);
            header.pageCount = record.pageCount;
          } else {
            Add(node, "attributes-unreadable", attrPath,
                "the document's records cannot be read; the page count is not checked");
          }
        }
      }
    }
  }
  node["attribute_file"] = attributeFile;
  node["page_files"] = pageFileCount;

  if (!failed && kind != layout::DocumentKind::Pdf) {
    const bool version2 = !attrsRead || header.version == es::kAttrFileVersion2;
    std::int32_t namedPages = attrsRead ? header.pageCount : 0;
    if (!attrsRead && multiPage.IsOpen()) list.insert(list.begin(), layout::kFirstPageFile);
    // As the import does: a file cannot hold more page records than 8-byte steps.
    const auto recordLimit = static_cast<std::int64_t>(reader.FileSize() / 8);
    if (attrsRead && version2 && namedPages > recordLimit) {
      Add(node, "attributes-unreadable", attrPath,
          "the attribute file announces " + std::to_string(namedPages) + " pages but can hold at most " +
              std::to_string(recordLimit));
      namedPages = static_cast<std::int32_t>(recordLimit);
    }
    std::vector<std::int32_t> badAttributes;
    std::vector<std::int32_t> badImages;
    std::string firstWhy;
    for (std::int32_t i = 0; i < namedPages; ++i) {
      CAttrContainer page(es::attrs::kScopePage);
      std::uint32_t pageValue = 0;
      const bool read = version2 ? reader.ReadPageAttributes(i, &page, &pageValue)
                                 : readerV1.ReadPageAttributes(i, &page, &pageValue);
      if (!read) {
        badAttributes.push_back(i + 1);
        continue;
      }
      if (multiPage.IsOpen()) {
        if (ProbeImage(multiPage.Handle(), i) != 0) {
          if (badImages.empty()) firstWhy = LastImageError();
          badImages.push_back(i);
        }
        continue;
      }
      Str pageName = version2 ? layout::PageFileNameV2(i + 1) : layout::PageFileNameV1(pageValue);
      const Str pagePath = layout::PageFilePath(folder, pageName);
      es::RemoveFromList(pageName, list);
      if (!Attributes(pagePath))
        Add(node, "page-missing", pagePath,
            "missing page file: page " + std::to_string(i + 1) + " of the attribute file names it");
      else
        CheckPageFile(node, pagePath, true);
    }
    if (!badAttributes.empty())
      Add(node, "page-attributes-unreadable", attrPath,
          "the attributes of page " + IndexList(badAttributes) + " cannot be read: those pages are skipped");
    if (!badImages.empty())
      Add(node, "page-damaged", firstPage,
          "damaged page: image " + IndexList(badImages) + " of the multi-page file cannot be read" + firstWhy);
    multiPage.Close();
    for (const Str& extra : list) CheckPageFile(node, es::JoinAlways(folder, extra), false);
  }

  CheckDeletable(node, folder, true);
  return node;
}

// ---- Output ----------------------------------------------------------------------------

void PrintProblems(std::ostream& out, const Json& node, const char* indent) {
  for (const auto& p : node["problems"])
    out << indent << p["path"].get<std::string>() << ": " << p["reason"].get<std::string>() << "\n";
}

void PrintText(std::ostream& out, const Json& report, bool verbose) {
  for (const auto& storage : report["storages"]) {
    out << "Storage " << storage["directory"].get<std::string>();
    if (!storage["name"].is_null()) out << " \"" << storage["name"].get<std::string>() << "\"";
    out << (storage["available"].get<bool>() ? ": available" : ": unavailable") << "\n";
    PrintProblems(out, storage, "  ");
    for (const auto& group : storage["groups"]) {
      out << "  Group " << group["folder"].get<std::string>();
      if (!group["name"].is_null()) out << " \"" << group["name"].get<std::string>() << "\"";
      const std::size_t count = group["document_count"].get<std::size_t>();
      if (group["available"].get<bool>())
        out << ": " << Plural(count, "document", "documents") << "\n";
      else
        out << ": unavailable, " << Plural(count, "document", "documents") << " not checked\n";
      PrintProblems(out, group, "    ");
      for (const auto& document : group["documents"]) {
        if (verbose) {
          const Json& attrs = document["attribute_file"];
          out << "    Document " << document["folder"].get<std::string>() << ": "
              << (document["kind"].is_null() ? std::string("unreadable") : document["kind"].get<std::string>());
          if (!attrs["present"].get<bool>())
            out << ", no attribute file";
          else if (!attrs["readable"].get<bool>())
            out << ", attribute file unreadable";
          else
            out << ", attribute file " << attrs["version"].get<std::string>();
          if (!attrs["announced_pages"].is_null())
            out << ", " << attrs["announced_pages"].get<std::int64_t>() << " announced";
          out << ", " << Plural(document["page_files"].get<std::size_t>(), "page file", "page files") << "\n";
        }
        PrintProblems(out, document, "    ");
      }
    }
  }
  const Json& s = report["summary"];
  out << Plural(s["storages"].get<std::size_t>(), "storage", "storages") << ", "
      << Plural(s["groups"].get<std::size_t>(), "group", "groups");
  if (s["unavailable_groups"].get<std::size_t>() > 0)
    out << " (" << s["unavailable_groups"].get<std::size_t>() << " unavailable)";
  out << ", " << Plural(s["documents"].get<std::size_t>(), "document", "documents") << ", "
      << Plural(s["problems"].get<std::size_t>(), "problem", "problems") << "\n";
}

// A directory given on the command line, as the file system names it.
Str DirectoryArgument(const std::string& argument) {
#ifdef _WIN32
  return es::FromUtf8(argument);
#else
  return platform::posix::DecodeName(argument);
#endif
}

// The trace lines of the module's functions would only repeat what the report says.
class QuietTrace {
 public:
  QuietTrace() { TessardSetSink(nullptr, nullptr); }
  ~QuietTrace() { TessardSetStderrSink(); }
  QuietTrace(const QuietTrace&) = delete;
  QuietTrace& operator=(const QuietTrace&) = delete;
};

}  // namespace

int RunCheck(const GlobalOptions& global, const CheckOptions& options, std::ostream& out, std::ostream& err) {
  QuietTrace quiet;
  // Pairs of the directory as registered (or given) and as the module uses it.
  std::vector<std::pair<Str, Str>> directories;
  if (!options.directories.empty()) {
    for (const auto& argument : options.directories) {
      const Str directory = DirectoryArgument(argument);
      directories.emplace_back(directory, directory);
    }
  } else {
    Session session;
    std::string error;
    if (!session.Open(global, &error)) {
      err << "eshost: " << error << "\n";
      return 2;
    }
    const ElementSettings settings = session.ReadSettings();
    if (settings.directories.empty())
      err << "eshost: no External Storage is registered in " << session.Store()->Path().string()
          << "; nothing to check (name storage directories as arguments to check them)\n";
    for (const auto& registered : settings.directories) {
      const Str stored = es::FromUtf8(registered);
      Str expanded;
      // As the scan dialog lists a storage: a directory too long to expand stays as stored.
      if (!platform::Os().ExpandEnvironment(stored, layout::kPathCapacity, &expanded)) expanded = stored;
      directories.emplace_back(stored, expanded);
    }
  }

  Checker checker;
  Json report;
  report["storages"] = Json::array();
  for (const auto& [registered, directory] : directories)
    report["storages"].push_back(checker.CheckStorage(registered, directory));
  report["summary"] = {{"storages", checker.storages},
                       {"groups", checker.groups},
                       {"unavailable_groups", checker.unavailableGroups},
                       {"documents", checker.documents},
                       {"problems", checker.problems}};
  if (options.json)
    out << report.dump(2) << "\n";
  else
    PrintText(out, report, options.verbose);
  out.flush();
  return checker.problems == 0 ? 0 : 1;
}

int RunCheck(const GlobalOptions& global, const CheckOptions& options) {
  return RunCheck(global, options, std::cout, std::cerr);
}

}  // namespace eshost
