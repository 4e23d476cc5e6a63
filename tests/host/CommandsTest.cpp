// eshost check: what it finds in storages built with the producer kit, and that it
// leaves every byte, name and permission of them as it was.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/BuildTree.h"
#include "tests/support/TempFolder.h"
#include <nlohmann/json.hpp>

#include "QuilletBlockWriter.h"
#include "attrs/AttributeIds.h"
#include "host/Commands.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "producer/Producer.h"
#include "producer/TiffWriter.h"
#include "storage/File.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using esproduce::Bytes;
using esproduce::Damage;

// ---- Storages ------------------------------------------------------------------------

// A TIFF of `pages` images, damaged in its image `page` when `damage` is given.
Bytes Tiff(int pages, std::optional<Damage> damage = std::nullopt, std::size_t page = 0) {
  std::vector<esproduce::PageImage> images;
  for (int i = 1; i <= pages; ++i) images.push_back(esproduce::MakeBitonalPage(64, 80, 100, static_cast<std::uint32_t>(i)));
  std::string error;
  Bytes bytes = esproduce::MakeTiff(images, esproduce::Compression::PackBits, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  if (damage) {
    EXPECT_TRUE(esproduce::DamageTiff(&bytes, *damage, page, &error)) << error;
  }
  return bytes;
}

Bytes AttrV2(int pages) {
  esproduce::AttrFileV2 file;
  file.documentBlock = QuilletBlockWriter(es::attrs::kScopeDocument).AddText(es::attrs::kDocText2, u"doc").Bytes();
  for (int i = 0; i < pages; ++i)
    file.pages.push_back({0, QuilletBlockWriter(es::attrs::kScopePage).AddText(es::attrs::kPageSourceName, u"p").Bytes()});
  return esproduce::Serialize(file);
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A document announcing `announced` pages (none: no attribute file) with the given files.
esproduce::DocumentPlan Doc(const std::string& name, std::optional<int> announced, std::vector<esproduce::FilePlan> files) {
  esproduce::DocumentPlan doc;
  doc.folderName = name;
  doc.files = std::move(files);
  if (announced) doc.attributeFile = AttrV2(*announced);
  return doc;
}

// A version-2 document naming 1.pg .. n.pg, each page file one image.
esproduce::DocumentPlan Named(const std::string& name, int pages) {
  std::vector<esproduce::FilePlan> files;
  for (int i = 1; i <= pages; ++i) files.push_back({std::to_string(i) + ".pg", Tiff(1)});
  return Doc(name, pages, std::move(files));
}

esproduce::GroupPlan Group(const std::string& folder, std::vector<esproduce::DocumentPlan> documents) {
  esproduce::GroupPlan group;
  group.folderName = folder;
  group.lockText = folder + " scanner";
  group.documents = std::move(documents);
  return group;
}

class TempRoot : public estest::TempFolder {
 public:
  TempRoot() : estest::TempFolder("es-check") {}
  using estest::TempFolder::Write;
  void Write(const esproduce::StoragePlan& plan) {
    std::string error;
    ASSERT_TRUE(esproduce::WriteStorage(root, plan, &error)) << error;
  }
  std::string Dir() const { return esproduce::PathToUtf8(root); }
  // The path as the report shows it: the parts joined with the module's separator.
  std::string Shown(const std::string& relative) const {
    std::string out = Dir() + "/" + relative;
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(Dir().size()), out.end(), '/', static_cast<char>(es::platform::kPathSep));
    return out;
  }
  // Report text with this folder taken out of its paths and '/' between their parts.
  std::string Short(std::string text) const {
    const std::string prefix = Dir() + static_cast<char>(es::platform::kPathSep);
    for (std::size_t at; (at = text.find(prefix)) != std::string::npos;) text.erase(at, prefix.size());
    if (es::platform::kPathSep != '/') std::replace(text.begin(), text.end(), static_cast<char>(es::platform::kPathSep), '/');
    return text;
  }
  // "code path" of every problem of every storage, group and document of the report.
  std::set<std::string> Problems(const Json& node) const {
    std::set<std::string> found;
    if (node.is_array())
      for (const auto& value : node) found.merge(Problems(value));
    if (!node.is_object()) return found;
    for (const auto& [key, value] : node.items()) {
      if (key != "problems" || !value.is_array()) found.merge(Problems(value));
      else for (const auto& p : value) found.insert(p["problem"].get<std::string>() + " " + Short(p["path"].get<std::string>()));
    }
    return found;
  }
};

// Every name, kind, permission, modification time and content byte of the tree.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto status = fs::symlink_status(entry.path());
    std::string& facts = entries[esproduce::PathToUtf8(fs::relative(entry.path(), root))];
    facts = std::to_string(static_cast<int>(status.type())) + "|" + std::to_string(static_cast<unsigned>(status.permissions())) +
            "|" + std::to_string(fs::last_write_time(entry.path()).time_since_epoch().count()) + "|";
    if (status.type() == fs::file_type::regular) {
      std::ifstream in(entry.path(), std::ios::binary);
      facts.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return entries;
}

// ---- Running the check -------------------------------------------------------------

struct Result {
  int status = -1;
  std::string out, err;
  Json report;
};

Result Check(const std::vector<std::string>& dirs, bool json, const eshost::GlobalOptions& global = {}) {
  std::ostringstream out, err;
  Result result;
  result.status = eshost::RunCheck(global, {dirs, json}, out, err);
  result.out = out.str();
  result.err = err.str();
  if (json && !result.out.empty()) result.report = Json::parse(result.out);
  return result;
}

std::string LastLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);  // from the start when there is one line
}

// ---- Tests ---------------------------------------------------------------------------

TEST(CheckCommand, CleanStorageOfEveryKindHasNoProblem) {
  TempRoot temp;
  esproduce::AttrFileV1 v1;
  v1.documentRecords = {esproduce::RecordV1::Ansi(esproduce::v1::kDocText0, "pile")};
  v1.pages = {{esproduce::RecordV1::Int32(esproduce::v1::kPageValue, 26)}};
  auto old = Doc("Old", std::nullopt, {{"0000001a.pg", Tiff(1)}});
  old.attributeFile = esproduce::Serialize(v1);
  const Bytes pdf = Text("%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n");
  auto first = Group("G1", {Named("Two", 2), Doc("Multi", 3, {{"1.pg", Tiff(3)}}),
                            // no attribute file: its page files are extra pages
                            Doc("Loose", std::nullopt, {{"a.pg", Tiff(2)}, {"b.pg", Tiff(1)}}), old,
                            Doc("Pdf", 1, {{"1.pg", pdf}, {"notes.txt", Bytes{'x'}}})});
  first.lockText = "Night shift\r\nsecond line";
  first.order = std::vector<std::string>{"Old", "Two"};
  temp.Write({"Front office\r\n", std::nullopt, {first, Group("G2", {Named("One", 1)})}});
  const auto before = Tree(temp.root);

  const Result text = Check({temp.Dir()}, false);
  EXPECT_EQ(0, text.status) << text.out;
  EXPECT_EQ("1 storage, 2 groups, 6 documents, 0 problems", LastLine(text.out)) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("Group G1 \"Night shift\": 5 documents")) << text.out;

  const Result json = Check({temp.Dir()}, true);
  ASSERT_EQ(0, json.status) << json.out;
  EXPECT_TRUE(temp.Problems(json.report).empty()) << json.out;
  EXPECT_EQ("Front office", json.report["storages"][0]["name"]);
  EXPECT_EQ(json.report["summary"]["documents"], 6);
  // Per document: kind, page files (the images of a multi-page file count), attribute file.
  std::set<std::string> documents;
  for (const auto& group : json.report["storages"][0]["groups"])
    for (const auto& d : group["documents"])
      documents.insert(d["folder"].get<std::string>() + " " + d["kind"].get<std::string>() + " " + d["page_files"].dump() +
                       " " + d["attribute_file"]["present"].dump() + " " + d["attribute_file"]["version"].dump() + " " +
                       d["attribute_file"]["announced_pages"].dump());
  EXPECT_EQ((std::set<std::string>{"One single-file 1 true \"0x0200\" 1", "Two single-file 2 true \"0x0200\" 2",
                                   "Multi multi-page 3 true \"0x0200\" 3", "Loose single-file 2 false null null",
                                   "Old single-file 1 true \"0x0100\" 1", "Pdf pdf 1 true \"0x0200\" 1"}),
            documents);
  EXPECT_TRUE(before == Tree(temp.root)) << "the check changed the storage";
}

TEST(CheckCommand, ReportsEachFaultWithItsPathAndChangesNothing) {
  TempRoot temp;
  auto damaged = Named("Damaged", 2);
  damaged.files[1].content = Tiff(1, Damage::BadMagic, 0);
  auto missing = Named("Missing", 3);
  missing.files.erase(missing.files.begin() + 1);
  auto extra = Named("Extra", 4);
  extra.attributeFile = AttrV2(3);
  auto readOnly = Named("ReadOnly", 1);
  readOnly.files[0].readOnly = true;
  auto further = Named("Further", 2);  // its 2.pg holds two images
  further.files[1].content = Tiff(2);
  auto unknown = Named("Unknown", 1);
  esproduce::AttrFileV2 v3;
  v3.version = 0x0300;
  unknown.attributeFile = esproduce::Serialize(v3);
  auto garbage = Named("Garbage", 1);
  garbage.attributeFile = Bytes{1, 2, 3};
  auto good = Group("Good", {damaged, Doc("Multi", 3, {{"1.pg", Tiff(3, Damage::CutInImageData, 2)}}), missing, extra,
                             readOnly, Named("Fine", 1),
                             // images the import never hands over: it keeps the document
                             Doc("Beyond", 2, {{"1.pg", Tiff(3)}}), further, unknown, garbage,
                             Doc("PdfPlus", std::nullopt, {{"1.pg", Text("%PDF-1.4\n%%EOF\n")}, {"2.pg", Tiff(1)}})});
  good.order = std::vector<std::string>{"Damaged", "Gone"};
  auto noLock = Group("NoLock", {Named("A", 1)});
  noLock.lockText.reset();
  auto bigLock = Group("BigLock", {Named("A", 1)});
  bigLock.lockText = std::string(1024, 'L');
  temp.Write({std::nullopt, std::nullopt, {good, noLock, bigLock, Group("Held", {Named("A", 1)}), Group("Reading", {Named("A", 1)})}});
  const auto before = Tree(temp.root);

  Result json, text;
  {
    // Another process importing the group holds its lock file without sharing; a reader
    // of the other lock file would keep the import from locking that group.
    es::File lock(es::FromUtf8(temp.Shown("Held/GR_LOCK.TXT")), es::platform::Access::Read,
                  es::platform::Share::None);
    es::File reader(es::FromUtf8(temp.Shown("Reading/GR_LOCK.TXT")), es::platform::Access::Read,
                    es::platform::Share::Read);
    ASSERT_TRUE(lock.IsOpen() && reader.IsOpen());
    json = Check({temp.Dir()}, true);
    text = Check({temp.Dir()}, false);
  }

  EXPECT_EQ(1, json.status);
  const std::set<std::string> expected = {
      "page-damaged Good/Damaged/2.pg", "page-damaged Good/Multi/1.pg", "page-missing Good/Missing/2.pg",
      "page-count Good/Missing", "page-count Good/Extra", "read-only Good/ReadOnly/1.pg", "page-count Good/Beyond",
      "images-beyond-count Good/Beyond/1.pg", "page-further-images Good/Further/2.pg",
      "attributes-version Good/Unknown/SC_ATTR.BIN", "attributes-unreadable Good/Garbage/SC_ATTR.BIN",
      "pdf-extra-pages Good/PdfPlus/2.pg", "order-line Good/Doc_Order.txt", "no-lock-file NoLock/GR_LOCK.TXT",
      "lock-too-big BigLock/GR_LOCK.TXT", "lock-held Held/GR_LOCK.TXT", "lock-held Reading/GR_LOCK.TXT"};
  EXPECT_EQ(expected, temp.Problems(json.report)) << json.out;
  EXPECT_EQ(json.report["summary"]["problems"], expected.size());
  EXPECT_EQ(json.report["summary"]["unavailable_groups"], 4);

  EXPECT_EQ(1, text.status);
  EXPECT_EQ("1 storage, 5 groups (4 unavailable), 15 documents, 17 problems", LastLine(text.out)) << text.out;
  for (const auto& problem : expected)
    EXPECT_NE(std::string::npos, temp.Short(text.out).find(problem.substr(problem.find(' ') + 1) + ": ")) << problem;
  EXPECT_NE(std::string::npos, text.out.find("\"Gone\" names no document folder")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("announces 3 pages, the document has 2 page files")) << text.out;

  EXPECT_TRUE(before == Tree(temp.root)) << "the check changed the storage";
  // The lock file can be taken again: the check let go of everything it opened.
  es::File again(es::FromUtf8(temp.Shown("Good/GR_LOCK.TXT")), es::platform::Access::Read,
                 es::platform::Share::None);
  EXPECT_TRUE(again.IsOpen());
}

TEST(CheckCommand, PosixNamesLinksSpecialFilesAndFoldersWithoutWritePermission) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names are UTF-16 and folders carry no POSIX permission bits";
#else
  TempRoot temp;
  // No attribute file: the page file is an extra page.
  temp.Write({std::nullopt, std::nullopt, {Group("G", {Doc("Names", std::nullopt, {{"bad\xff.pg", Tiff(1)}}), Named("Locked", 1)})}});
  const fs::path g = temp.root / "G";
  fs::permissions(g / "Locked", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Links and special files the module never follows or reads.
  fs::create_directory_symlink(g, temp.root / "GL");
  fs::create_directory_symlink(g / "Names", g / "DL");
  fs::remove(g / "Locked" / "1.pg");
  fs::create_symlink(g / "Names" / "bad\xff.pg", g / "Locked" / "1.pg");
  ASSERT_EQ(0, mkfifo((g / "Names" / "pipe").c_str(), 0600));
  const auto before = Tree(temp.root);

  const Result json = Check({temp.Dir()}, true);
  EXPECT_EQ(1, json.status);
  const std::set<std::string> expected = {"link GL", "link G/DL", "name-undecodable G/Names/bad\\xff.pg",
                                         "special-file G/Names/pipe", "page-link G/Locked/1.pg",
                                         "folder-not-writable G/Locked"};
  EXPECT_EQ(expected, temp.Problems(json.report)) << json.out;
  EXPECT_NE(std::string::npos, temp.Short(Check({temp.Dir()}, false).out).find("G/Names/bad\\xff.pg: "));
  EXPECT_TRUE(before == Tree(temp.root)) << "the check changed the storage";
#endif
}

// The registered storages come from the element's settings, with %NAME% expanded: one that
// is missing, one a file. Without the module or with a settings file it cannot use the
// check cannot run.
TEST(CheckCommand, RegisteredStorages) {
  TempRoot temp;
  temp.Write({std::nullopt, std::nullopt, {Group("G", {Doc("A", 2, {{"1.pg", Tiff(1)}})})}});
#ifdef _WIN32
  _putenv_s("ES_CHECK_ROOT", temp.Dir().c_str());
#else
  setenv("ES_CHECK_ROOT", temp.Dir().c_str(), 1);
#endif
  temp.Write("settings.json", Json{{"AllowRescanning", true}, {"DeleteFaxes", true}, {"DeleteGroupFolder", true},
                                   {"SelectedPath", ""}, {"Number of dirs", 3}, {"Dir0", "%ES_CHECK_ROOT%"},
                                   {"Dir1", temp.Shown("nowhere")}, {"Dir2", temp.Shown("bad.json")}}.dump());
  temp.Write("bad.json", "{ not json");
  const std::string module = estest::ModulePathUtf8();
  const Result json = Check({}, true, {module, temp.Shown("settings.json")});
  EXPECT_EQ(1, json.status) << json.err;
  EXPECT_EQ("%ES_CHECK_ROOT%", json.report["storages"][0]["registered"]);
  EXPECT_EQ(false, json.report["storages"][1]["available"]);
  EXPECT_EQ((std::set<std::string>{"page-count G/A", "page-missing G/A/2.pg", "storage-missing nowhere",
                                   "storage-not-a-folder bad.json"}),
            temp.Problems(json.report))
      << json.out;
  EXPECT_EQ("1 storage, 0 groups, 0 documents, 1 problem", LastLine(Check({temp.Shown("nowhere")}, false).out));

  for (const auto& [global, named] : {std::pair{eshost::GlobalOptions{temp.Shown("no-such-module"), temp.Shown("settings.json")}, "no-such-module"},
                                      {eshost::GlobalOptions{module, temp.Shown("bad.json")}, "bad.json"}}) {
    const Result result = Check({}, false, global);
    EXPECT_EQ(2, result.status);
    EXPECT_NE(std::string::npos, result.err.find(named)) << result.err;
  }
}

}  // namespace
