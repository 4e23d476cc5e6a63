// eshost check: a read-only look at External Storages before an import. It walks the
// storages with the module's own listing and lock functions, and reads every document of
// an available group with the module's own document import, handed to a host that only
// decodes each page and lets it go: so the check and the import decide alike what a
// document holds, which pages reach the host and which are damaged. It reports what
// would make a group unavailable, a document fail, keep or lose pages, or a clean-up leave
// files behind. Files are opened for reading only (a lock file also once without sharing,
// closed at once); nothing is written, renamed or deleted.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
#include "base/Text.h"
#include "host/Commands.h"
#include "host/ModuleLoader.h"
#include "host/Session.h"
#include "platform/Platform.h"
#include "storage/DocumentImport.h"
#include "storage/File.h"
#include "storage/Folder.h"
#include "storage/Layout.h"
#include "storage/Listing.h"
#include "storage/StorageName.h"

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

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// ---- The file system, read only -----------------------------------------------------

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

std::string Reason(const es::Failure& why) { return Shown(why.Reason()); }

// The host the check hands pages to: it decodes each image, as a host storing it would,
// notes what cannot be decoded, and lets everything go again.
class ProbeHost final : public IScanningCallback {
 public:
  bool IsCancelled() override { return false; }
  bool AddPageWithContent(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                          CAttrContainer* document, std::uint8_t* content, std::uint32_t) override {
    const bool accepted = AddPage(page, image, imageSize, document);
    std::free(content);
    return accepted;
  }
  bool AddPage(CAttrContainer* page, std::uint64_t image, std::uint32_t, CAttrContainer* document) override {
    ++pages;
    PictornPixels pixels{};
    if (!PictornDecode(image, &pixels)) {
      undecodable.push_back({pages, PictornLastError()});
    }
    PictornFreePixels(&pixels);
    PictornReleaseImage(image);
    delete page;
    delete document;
    return true;
  }
  HResult Reserved3() override { return kE_NOTIMPL; }
  bool IsUnattended() override { return true; }

  int pages = 0;
  std::vector<std::pair<int, std::string>> undecodable;
};

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
  void CheckOrderFile(Json& node, const es::Folder& folder, const StrArray& subFolders, const char* what);
  void CheckLinks(Json& node, const es::Folder& folder, bool documentFolder, const std::set<Str>& reported = {});
  Json CheckGroup(const es::Folder& storage, const Str& folderName);
  std::optional<std::pair<const char*, std::string>> LockProblem(const es::Folder& group);
  Json CheckDocument(const es::Folder& group, const Str& name);
  void CheckDeletable(Json& node, const es::Folder& folder, bool documentFolder);
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
  const es::Folder storage = es::Folder::OpenStorage(directory);
  if (!storage.IsOpen()) {
    const es::Failure& why = storage.OpenFailure();
    if (why.IsAbsence())
      Add(node, "storage-missing", directory, "the storage directory does not exist");
    else if (why.error == platform::Error::WrongType)
      Add(node, "storage-not-a-folder", directory, "the storage directory is not a folder");
    else
      Add(node, "unreadable", directory, "the storage directory cannot be opened: " + Reason(why));
    return node;
  }
  node["available"] = true;
  const Str name = es::ReadStorageName(directory);
  if (!name.empty()) node["name"] = Shown(name);
  if (!FolderWritable(directory))
    Add(node, "folder-not-writable", directory, "no write permission: the module cannot delete emptied group folders");

  StrArray folders;
  es::Failure why;
  if (!es::ListFolders(storage, folders, false, &why)) {
    Add(node, "unreadable", directory, "the storage directory cannot be listed: " + Reason(why));
    return node;
  }
  CheckLinks(node, storage, false);
  CheckOrderFile(node, storage, folders, "group folder");
  for (const Str& folder : folders) node["groups"].push_back(CheckGroup(storage, folder));
  return node;
}

// Lines of an order file that take no folder name them wrongly: the module skips them,
// but they usually stand for a folder that went missing.
void Checker::CheckOrderFile(Json& node, const es::Folder& folder, const StrArray& subFolders, const char* what) {
  const Str path = folder.PathOf(layout::kOrderFile);
  Str text;
  es::Failure why;
  if (!es::ReadOrderText(folder, &text, &why)) {
    Add(node, "unreadable", path, "the order file cannot be read (" + Reason(why) + "): nothing here is imported now");
    return;
  }
  es::File probe(folder, layout::kOrderFile, platform::Access::Read, platform::Share::Read);
  if (!probe.IsOpen() && probe.OpenFailure().IsWrongKind()) {
    Add(node, "link", path, "the order file is " + Reason(probe.OpenFailure()) + ": folders are taken in listing order");
    return;
  }
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

// Links and special files where the module expects folders or files: it never follows
// them and never imports them.
void Checker::CheckLinks(Json& node, const es::Folder& folder, bool documentFolder, const std::set<Str>& reported) {
  std::vector<platform::FolderEntry> entries;
  es::Failure why;
  if (!folder.List(&entries, &why)) return;
  for (const auto& entry : entries) {
    if (reported.count(folder.PathOf(entry.name)) != 0) continue;
    // The lock and order files have checks of their own, which say what a link there means.
    if (!documentFolder && (es::EqualsNoCase(entry.name, layout::kLockFile) ||
                            es::EqualsNoCase(entry.name, layout::kOrderFile)))
      continue;
    if (entry.type == platform::EntryType::Link)
      Add(node, "link", folder.PathOf(entry.name),
          documentFolder ? "a symbolic link or other reparse point: never followed, taken as missing"
                         : "a symbolic link or other reparse point: never followed, not imported");
    else if (entry.type == platform::EntryType::Other)
      Add(node, "special-file", folder.PathOf(entry.name), "neither a regular file nor a folder: never read");
  }
}

// Why the module could not take the group, if anything keeps it from doing so: the
// reasons group discovery and the group import's lock have.
std::optional<std::pair<const char*, std::string>> Checker::LockProblem(const es::Folder& group) {
  es::File file(group, layout::kLockFile, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) {
    const es::Failure why = file.OpenFailure();
    if (why.IsAbsence())
      return std::make_pair("no-lock-file", std::string("no lock file: the group is not offered for import"));
    if (why.IsWrongKind())
      return std::make_pair("link", "the lock file is " + Reason(why) + ": the group is not offered for import");
    if (why.error == platform::Error::SharingViolation)
      return std::make_pair("lock-held", std::string("another process holds the lock file: the group is in use"));
    return std::make_pair("lock-unreadable", "the lock file cannot be opened (" + Reason(why) + ")");
  }
  std::uint64_t size = 0;
  if (file.Size(&size) && size >= layout::kLockFileLimit)
    return std::make_pair("lock-too-big", "the lock file has " + std::to_string(size) + " bytes; one of " +
                                              std::to_string(layout::kLockFileLimit) +
                                              " bytes or more keeps the group from being offered for import");
  file.Close();
  // The import opens the lock file without sharing; this open is closed again at once.
  es::File exclusive(group, layout::kLockFile, platform::Access::Read, platform::Share::None);
  if (!exclusive.IsOpen()) {
    if (exclusive.OpenFailure().error == platform::Error::SharingViolation)
      return std::make_pair("lock-held", std::string("another process holds a lock on the lock file: the import "
                                                     "could not lock the group"));
    return std::make_pair("lock-unreadable", "the lock file cannot be opened (" + Reason(exclusive.OpenFailure()) + ")");
  }
  return std::nullopt;
}

Json Checker::CheckGroup(const es::Folder& storage, const Str& folderName) {
  ++groups;
  const es::Folder group = storage.Child(folderName);
  Json node;
  node["folder"] = Shown(folderName);
  node["path"] = Shown(group.Path());
  node["available"] = false;
  node["reason"] = nullptr;
  node["name"] = nullptr;
  node["document_count"] = 0;
  node["documents_checked"] = false;
  node["order_file_stray_lines"] = Json::array();
  node["problems"] = Json::array();
  CheckName(node, group.Path(), folderName);
  if (!group.IsOpen()) {
    node["reason"] = "the group folder cannot be opened: " + Reason(group.OpenFailure());
    Add(node, "unreadable", group.Path(), node["reason"].get<std::string>());
    ++unavailableGroups;
    return node;
  }

  Str groupName;
  const bool discovered = es::ReadGroupLock(storage, folderName, groupName);
  const auto lockProblem = LockProblem(group);
  const bool available = discovered && !lockProblem;
  node["available"] = available;
  if (discovered) node["name"] = Shown(groupName);
  if (lockProblem) {
    node["reason"] = lockProblem->second;
    Add(node, lockProblem->first, group.PathOf(layout::kLockFile), lockProblem->second);
  } else if (!discovered) {
    node["reason"] = "the lock file cannot be read";
    Add(node, "lock-unreadable", group.PathOf(layout::kLockFile), "the lock file cannot be read");
  }
  if (!available) ++unavailableGroups;

  StrArray documentFolders;
  es::Failure why;
  if (!es::ListFolders(group, documentFolders, false, &why))
    Add(node, "unreadable", group.Path(), "the group folder cannot be listed: " + Reason(why));
  node["document_count"] = documentFolders.size();
  documents += documentFolders.size();
  CheckLinks(node, group, false);
  CheckOrderFile(node, group, documentFolders, "document folder");
  CheckDeletable(node, group, false);
  // A group that is not offered, or is in use, may be half written or half imported:
  // its documents are counted but not read.
  node["documents_checked"] = available;
  node["documents"] = Json::array();  // after "problems", which the checks above filled
  if (available)
    for (const Str& name : documentFolders) node["documents"].push_back(CheckDocument(group, name));
  return node;
}

// Files the clean-up could not delete. In a group folder the lock file is left out: the
// module clears its attributes before deleting it.
void Checker::CheckDeletable(Json& node, const es::Folder& folder, bool documentFolder) {
  std::vector<platform::FolderEntry> entries;
  es::Failure why;
  if (!folder.List(&entries, &why)) return;
  for (const auto& entry : entries) {
    const Str path = folder.PathOf(entry.name);
    if (documentFolder) CheckName(node, path, entry.name);
    if (entry.type == platform::EntryType::Folder) {
      if (documentFolder)
        Add(node, "not-deletable", path,
            "a folder inside a document: the module does not delete it, so the document folder stays");
      continue;  // in a group folder: a document, checked on its own
    }
    if (!documentFolder) CheckName(node, path, entry.name);
    if (!documentFolder && es::EqualsNoCase(entry.name, layout::kLockFile)) continue;
    platform::EntryInfo info;
    if (entry.type == platform::EntryType::File && folder.Stat(entry.name, &info, &why) &&
        (info.attributes & platform::kAttrReadOnly) != 0)
      Add(node, "read-only", path,
          documentFolder ? "read-only: the module cannot delete it, so the document folder stays"
                         : "read-only: the module cannot delete it, so the group folder stays");
  }
  if (!FolderWritable(folder.Path()))
    Add(node, "folder-not-writable", folder.Path(),
        documentFolder ? "no write permission: the module cannot delete the document's files"
                       : "no write permission: the module cannot rewrite the order file or delete documents");
}

const char* KindName(layout::DocumentKind kind) {
  switch (kind) {
    case layout::DocumentKind::Pdf: return "pdf";
    case layout::DocumentKind::MultiPage: return "multi-page";
    case layout::DocumentKind::SingleFile: break;
  }
  return "single-file";
}

// The document as the import reads it: the module's own document import, with deletion
// off and a host that only decodes.
Json Checker::CheckDocument(const es::Folder& group, const Str& name) {
  const es::Folder folder = group.Child(name);
  Json node;
  node["folder"] = Shown(name);
  node["path"] = Shown(folder.Path());
  node["kind"] = nullptr;
  node["attribute_file"] = nullptr;
  node["page_files"] = 0;
  node["pages"] = 0;
  node["problems"] = Json::array();

  ProbeHost host;
  auto* element = new es::CElement(nullptr);
  element->DeleteFaxes = 0;
  element->DeleteGroupFolder = 0;
  element->callback = &host;
  es::DocumentOutcome outcome;
  const es::DocumentResult result = es::ImportDocument(*element, group, name, false, &outcome);
  element->DeleteThis();

  if (result != es::DocumentResult::Failed) node["kind"] = KindName(outcome.kind);
  Json attributeFile;
  const bool present = std::any_of(outcome.entries.begin(), outcome.entries.end(),
                                   [](const es::SeenEntry& e) { return es::EqualsNoCase(e.name, layout::kAttributeFile); });
  attributeFile["present"] = present;
  attributeFile["readable"] = outcome.attributesRead;
  attributeFile["version"] = outcome.attributesRead ? Json(Hex4(outcome.attributeVersion)) : Json(nullptr);
  attributeFile["announced_pages"] = outcome.announcedKnown ? Json(outcome.announcedPages) : Json(nullptr);
  node["attribute_file"] = attributeFile;
  node["page_files"] = outcome.pageFileCount;
  node["pages"] = host.pages;
  std::set<Str> reported;
  for (const es::Finding& finding : outcome.findings) {
    reported.insert(finding.path);
    std::string reason = Shown(finding.reason);
    if (finding.code == "page-unopenable" || finding.code == "attributes-version") reason += ": the document would fail";
    Add(node, finding.code.c_str(), finding.path, reason);
  }
  for (const auto& [page, why] : host.undecodable)
    Add(node, "page-undecodable", folder.Path(),
        "page " + std::to_string(page) + " reaches the host with an image that cannot be decoded: " + why);
  // What the damaged-pages message would list; the import keeps such a document.
  node["damaged_pages"] = outcome.damagedPages.empty() ? Json(nullptr) : Json(Shown(outcome.damagedPages));
  node["kept"] = !outcome.damagedPages.empty() || outcome.keep || result != es::DocumentResult::Done;
  // An earlier scan delivered it and was cut short while deleting it: the next scan only deletes it.
  node["delivered"] = outcome.delivered;
  CheckLinks(node, folder, true, reported);
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
        if (verbose && document["delivered"].get<bool>()) {
          out << "    Document " << document["folder"].get<std::string>()
              << ": delivered already, the next scan deletes it\n";
        } else if (verbose) {
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
    if (!session.Open(global, err)) return 2;
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
