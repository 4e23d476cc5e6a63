// eshost check: what it finds in storages built with the producer kit, and that it
// leaves every byte, name and permission of them as it was.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
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

// ---- Storages ------------------------------------------------------------------------

Bytes Tiff(int pages) {
  std::vector<esproduce::PageImage> images;
  for (int i = 1; i <= pages; ++i) images.push_back(esproduce::MakeBitonalPage(64, 80, 100, static_cast<std::uint32_t>(i)));
  std::string error;
  Bytes bytes = esproduce::MakeTiff(images, esproduce::Compression::PackBits, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  return bytes;
}

Bytes Damaged(int pages, esproduce::Damage damage, std::size_t page) {
  Bytes bytes = Tiff(pages);
  std::string error;
  EXPECT_TRUE(esproduce::DamageTiff(&bytes, damage, page, &error)) << error;
  return bytes;
}

Bytes AttrV2(int pages) {
  esproduce::AttrFileV2 file;
  file.documentBlock = QuilletBlockWriter(es::attrs::kScopeDocument).AddText(es::attrs::kDocText2, u"doc").Bytes();
  for (int i = 0; i < pages; ++i)
    file.pages.push_back({0, QuilletBlockWriter(es::attrs::kScopePage).AddText(es::attrs::kPageSourceName, u"p").Bytes()});
  return esproduce::Serialize(file);
}

// A version-2 document naming 1.pg .. n.pg, each page file one image.
esproduce::DocumentPlan Named(const std::string& name, int pages) {
  esproduce::DocumentPlan doc;
  doc.folderName = name;
  doc.attributeFile = AttrV2(pages);
  for (int i = 1; i <= pages; ++i) doc.files.push_back({std::to_string(i) + ".pg", Tiff(1)});
  return doc;
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

  void Write(const esproduce::StoragePlan& plan) {
    std::string error;
    ASSERT_TRUE(esproduce::WriteStorage(root, plan, &error)) << error;
  }
  std::string Dir() const { return esproduce::PathToUtf8(root); }
  // The path as the report shows it: the parts joined with the module's separator.
  std::string Shown(std::initializer_list<std::string> parts) const {
    std::string out = Dir();
    for (const auto& part : parts) out += static_cast<char>(es::platform::kPathSep) + part;
    return out;
  }

};

// Every name, kind, size, permission, modification time and content byte of the tree.
std::uint64_t TreeHash(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path path = it->path();
    const auto status = fs::symlink_status(path);
    std::string facts = std::to_string(static_cast<int>(status.type())) + "|" +
                        std::to_string(static_cast<unsigned>(status.permissions())) + "|" +
                        std::to_string(fs::last_write_time(path).time_since_epoch().count());
    if (status.type() == fs::file_type::regular) {
      std::ifstream in(path, std::ios::binary);
      facts += "|" + std::to_string(fs::file_size(path)) + "|" +
               std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    entries[esproduce::PathToUtf8(fs::relative(path, root))] = facts;
  }
  std::uint64_t hash = 1469598103934665603ull;
  auto mix = [&](const std::string& text) {
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;
  };
  for (const auto& [name, facts] : entries) {
    mix(name);
    mix(facts);
  }
  return hash;
}

// ---- Running the check -------------------------------------------------------------

struct Result {
  int status = -1;
  std::string out;
  std::string err;
  Json report;
};

Result Check(const std::vector<std::string>& dirs, bool json, const eshost::GlobalOptions& global = {}) {
  eshost::CheckOptions options;
  options.directories = dirs;
  options.json = json;
  std::ostringstream out;
  std::ostringstream err;
  Result result;
  result.status = eshost::RunCheck(global, options, out, err);
  result.out = out.str();
  result.err = err.str();
  if (json && !result.out.empty()) result.report = Json::parse(result.out);
  return result;
}

using Found = std::set<std::pair<std::string, std::string>>;  // problem code, path

void Collect(const Json& node, Found* found) {
  if (node.is_object()) {
    if (node.contains("problems") && node["problems"].is_array())
      for (const auto& p : node["problems"]) found->emplace(p["problem"].get<std::string>(), p["path"].get<std::string>());
    for (auto it = node.begin(); it != node.end(); ++it)
      if (it.key() != "problems") Collect(it.value(), found);
  } else if (node.is_array()) {
    for (const auto& value : node) Collect(value, found);
  }
}

Found Problems(const Json& report) {
  Found found;
  Collect(report, &found);
  return found;
}

const Json* FindDocument(const Json& report, const std::string& folder) {
  for (const auto& storage : report["storages"])
    for (const auto& group : storage["groups"])
      for (const auto& document : group["documents"])
        if (document["folder"] == folder) return &document;
  return nullptr;
}

std::string LastLine(const std::string& text) {
  const std::size_t end = text.find_last_not_of('\n');
  const std::size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// ---- Tests ---------------------------------------------------------------------------

TEST(CheckCommand, CleanStorageOfEveryKindHasNoProblem) {
  TempRoot temp;
  esproduce::StoragePlan plan;
  plan.description = "Front office\r\n";

  esproduce::DocumentPlan multi;
  multi.folderName = "Multi";
  multi.attributeFile = AttrV2(3);
  multi.files.push_back({"1.pg", Tiff(3)});
  esproduce::DocumentPlan loose;  // no attribute file: its page files are extra pages
  loose.folderName = "Loose";
  loose.files = {{"a.pg", Tiff(2)}, {"b.pg", Tiff(1)}};
  esproduce::DocumentPlan old;
  old.folderName = "Old";
  esproduce::AttrFileV1 v1;
  v1.documentRecords = {esproduce::RecordV1::Ansi(esproduce::v1::kDocText0, "pile")};
  v1.pages = {{esproduce::RecordV1::Int32(esproduce::v1::kPageValue, 26)}};
  old.attributeFile = esproduce::Serialize(v1);
  old.files = {{"0000001a.pg", Tiff(1)}};
  esproduce::DocumentPlan pdf;
  pdf.folderName = "Pdf";
  pdf.attributeFile = AttrV2(1);
  const std::string pdfText = "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
  pdf.files = {{"1.pg", Bytes(pdfText.begin(), pdfText.end())}, {"notes.txt", Bytes{'x'}}};

  auto first = Group("G1", {Named("Two", 2), multi, loose, old, pdf});
  first.lockText = "Night shift\r\nsecond line";
  first.order = std::vector<std::string>{"Old", "Two"};
  plan.groups = {first, Group("G2", {Named("One", 1)})};
  temp.Write(plan);
  const std::uint64_t before = TreeHash(temp.root);

  const Result text = Check({temp.Dir()}, false);
  EXPECT_EQ(0, text.status) << text.out;
  EXPECT_EQ("1 storage, 2 groups, 6 documents, 0 problems", LastLine(text.out)) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("Group G1 \"Night shift\": 5 documents")) << text.out;

  const Result json = Check({temp.Dir()}, true);
  ASSERT_EQ(0, json.status) << json.out;
  EXPECT_TRUE(Problems(json.report).empty()) << json.out;
  const Json& storage = json.report["storages"][0];
  EXPECT_EQ("Front office", storage["name"]);
  EXPECT_EQ(json.report["summary"]["documents"], 6);
  const Json* found = FindDocument(json.report, "Multi");
  ASSERT_NE(nullptr, found);
  EXPECT_EQ("multi-page", (*found)["kind"]);
  EXPECT_EQ(3, (*found)["page_files"]) << "images of 1.pg count as page files";
  ASSERT_NE(nullptr, found = FindDocument(json.report, "Old"));
  EXPECT_EQ("0x0100", (*found)["attribute_file"]["version"]);
  EXPECT_EQ(1, (*found)["attribute_file"]["announced_pages"]);
  ASSERT_NE(nullptr, found = FindDocument(json.report, "Pdf"));
  EXPECT_EQ("pdf", (*found)["kind"]);
  ASSERT_NE(nullptr, found = FindDocument(json.report, "Loose"));
  EXPECT_EQ(false, (*found)["attribute_file"]["present"]);
  EXPECT_EQ(2, (*found)["page_files"]);

  EXPECT_EQ(before, TreeHash(temp.root)) << "the check changed the storage";
}

TEST(CheckCommand, ReportsEachFaultWithItsPathAndChangesNothing) {
  TempRoot temp;
  esproduce::StoragePlan plan;

  auto damaged = Named("Damaged", 2);
  damaged.files[1].content = Damaged(1, esproduce::Damage::BadMagic, 0);
  esproduce::DocumentPlan multi;
  multi.folderName = "Multi";
  multi.attributeFile = AttrV2(3);
  multi.files = {{"1.pg", Damaged(3, esproduce::Damage::CutInImageData, 2)}};
  auto missing = Named("Missing", 3);
  missing.files.erase(missing.files.begin() + 1);
  auto extra = Named("Extra", 4);
  extra.attributeFile = AttrV2(3);
  auto readOnly = Named("ReadOnly", 1);
  readOnly.files[0].readOnly = true;
  esproduce::DocumentPlan beyond;  // images the import never hands over: it keeps the document
  beyond.folderName = "Beyond";
  beyond.attributeFile = AttrV2(2);
  beyond.files = {{"1.pg", Tiff(3)}};
  auto further = Named("Further", 2);  // its 2.pg holds two images
  further.files[1].content = Tiff(2);

  auto good = Group("Good", {damaged, multi, missing, extra, readOnly, Named("Fine", 1), beyond, further});
  good.order = std::vector<std::string>{"Damaged", "Gone"};
  auto noLock = Group("NoLock", {Named("A", 1)});
  noLock.lockText.reset();
  auto bigLock = Group("BigLock", {Named("A", 1)});
  bigLock.lockText = std::string(1024, 'L');
  auto held = Group("Held", {Named("A", 1)});
  auto reading = Group("Reading", {Named("A", 1)});
  plan.groups = {good, noLock, bigLock, held, reading};
  temp.Write(plan);
  const std::uint64_t before = TreeHash(temp.root);

  Result json;
  Result text;
  {
    // Another process importing the group holds its lock file without sharing; a reader
    // of the other lock file would keep the import from locking that group.
    es::File lock(es::FromUtf8(temp.Shown({"Held", "GR_LOCK.TXT"})), es::platform::Access::Read,
                  es::platform::Share::None);
    es::File reader(es::FromUtf8(temp.Shown({"Reading", "GR_LOCK.TXT"})), es::platform::Access::Read,
                    es::platform::Share::Read);
    ASSERT_TRUE(lock.IsOpen());
    ASSERT_TRUE(reader.IsOpen());
    json = Check({temp.Dir()}, true);
    text = Check({temp.Dir()}, false);
  }

  EXPECT_EQ(1, json.status);
  const Found expected = {
      {"page-damaged", temp.Shown({"Good", "Damaged", "2.pg"})},
      {"page-damaged", temp.Shown({"Good", "Multi", "1.pg"})},
      {"page-missing", temp.Shown({"Good", "Missing", "2.pg"})},
      {"page-count", temp.Shown({"Good", "Missing"})},
      {"page-count", temp.Shown({"Good", "Extra"})},
      {"read-only", temp.Shown({"Good", "ReadOnly", "1.pg"})},
      {"page-count", temp.Shown({"Good", "Beyond"})},
      {"images-beyond-count", temp.Shown({"Good", "Beyond", "1.pg"})},
      {"page-further-images", temp.Shown({"Good", "Further", "2.pg"})},
      {"order-line", temp.Shown({"Good", "Doc_Order.txt"})},
      {"no-lock-file", temp.Shown({"NoLock", "GR_LOCK.TXT"})},
      {"lock-too-big", temp.Shown({"BigLock", "GR_LOCK.TXT"})},
      {"lock-held", temp.Shown({"Held", "GR_LOCK.TXT"})},
      {"lock-held", temp.Shown({"Reading", "GR_LOCK.TXT"})},
  };
  EXPECT_EQ(expected, Problems(json.report)) << json.out;
  EXPECT_EQ(json.report["summary"]["problems"], expected.size());
  EXPECT_EQ(json.report["summary"]["unavailable_groups"], 4);

  EXPECT_EQ(1, text.status);
  EXPECT_EQ("1 storage, 5 groups (4 unavailable), 12 documents, 14 problems", LastLine(text.out)) << text.out;
  for (const auto& [code, path] : expected)
    EXPECT_NE(std::string::npos, text.out.find(path + ": ")) << "no line for " << code << " at " << path;
  EXPECT_NE(std::string::npos, text.out.find("\"Gone\" names no document folder")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("announces 3 pages, the document has 2 page files")) << text.out;

  EXPECT_EQ(before, TreeHash(temp.root)) << "the check changed the storage";
  // The lock file can be taken again: the check let go of everything it opened.
  es::File again(es::FromUtf8(temp.Shown({"Good", "GR_LOCK.TXT"})), es::platform::Access::Read,
                 es::platform::Share::None);
  EXPECT_TRUE(again.IsOpen());
}

TEST(CheckCommand, AttributeFilesTheDocumentImportCannotUse) {
  TempRoot temp;
  auto unknown = Named("Unknown", 1);
  esproduce::AttrFileV2 v3;
  v3.version = 0x0300;
  unknown.attributeFile = esproduce::Serialize(v3);
  auto garbage = Named("Garbage", 1);
  garbage.attributeFile = Bytes{1, 2, 3};
  esproduce::DocumentPlan pdf;
  pdf.folderName = "PdfPlus";
  const std::string pdfText = "%PDF-1.4\n%%EOF\n";
  pdf.files = {{"1.pg", Bytes(pdfText.begin(), pdfText.end())}, {"2.pg", Tiff(1)}};
  esproduce::StoragePlan plan;
  plan.groups = {Group("G", {unknown, garbage, pdf})};
  temp.Write(plan);

  const Result json = Check({temp.Dir()}, true);
  EXPECT_EQ(1, json.status);
  const Found expected = {
      {"attributes-version", temp.Shown({"G", "Unknown", "SC_ATTR.BIN"})},
      {"attributes-unreadable", temp.Shown({"G", "Garbage", "SC_ATTR.BIN"})},
      {"pdf-extra-pages", temp.Shown({"G", "PdfPlus", "2.pg"})},
  };
  EXPECT_EQ(expected, Problems(json.report)) << json.out;
}

TEST(CheckCommand, MissingStorageAndAFileInsteadOfAFolder) {
  TempRoot temp;
  std::ofstream(temp.root / "plain.txt") << "x";
  const std::string missing = temp.Shown({"nowhere"});
  const std::string file = temp.Shown({"plain.txt"});
  const Result json = Check({missing, file}, true);
  EXPECT_EQ(1, json.status);
  EXPECT_EQ((Found{{"storage-missing", missing}, {"storage-not-a-folder", file}}), Problems(json.report)) << json.out;
  EXPECT_EQ(false, json.report["storages"][0]["available"]);
  const Result text = Check({missing}, false);
  EXPECT_EQ("1 storage, 0 groups, 0 documents, 1 problem", LastLine(text.out)) << text.out;
}

TEST(CheckCommand, PosixNamesLinksSpecialFilesAndFoldersWithoutWritePermission) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names are UTF-16 and folders carry no POSIX permission bits";
#else
  TempRoot temp;
  esproduce::DocumentPlan names;  // no attribute file: the page file is an extra page
  names.folderName = "Names";
  names.files = {{"bad\xff.pg", Tiff(1)}};
  auto locked = Named("Locked", 1);
  esproduce::StoragePlan plan;
  plan.groups = {Group("G", {names, locked})};
  temp.Write(plan);
  fs::permissions(temp.root / "G" / "Locked", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Links and special files the module never follows or reads.
  fs::create_directory_symlink(temp.root / "G", temp.root / "GL");
  fs::create_directory_symlink(temp.root / "G" / "Names", temp.root / "G" / "DL");
  fs::remove(temp.root / "G" / "Locked" / "1.pg");
  fs::create_symlink(temp.root / "G" / "Names" / "bad\xff.pg", temp.root / "G" / "Locked" / "1.pg");
  ASSERT_EQ(0, mkfifo((temp.root / "G" / "Names" / "pipe").c_str(), 0600));
  const std::uint64_t before = TreeHash(temp.root);

  const Result json = Check({temp.Dir()}, true);
  EXPECT_EQ(1, json.status);
  const Found expected = {
      {"link", temp.Shown({"GL"})},
      {"link", temp.Shown({"G", "DL"})},
      {"name-undecodable", temp.Shown({"G", "Names", "bad\\xff.pg"})},
      {"special-file", temp.Shown({"G", "Names", "pipe"})},
      {"page-link", temp.Shown({"G", "Locked", "1.pg"})},
      {"folder-not-writable", temp.Shown({"G", "Locked"})},
  };
  EXPECT_EQ(expected, Problems(json.report)) << json.out;
  const Result text = Check({temp.Dir()}, false);
  EXPECT_NE(std::string::npos, text.out.find(temp.Shown({"G", "Names", "bad\\xff.pg"}) + ": ")) << text.out;
  EXPECT_EQ(before, TreeHash(temp.root)) << "the check changed the storage";
#endif
}

// The registered storages come from the element's settings, with %NAME% expanded.
class CheckRegistered : public ::testing::Test {
 protected:
  static std::string Module() { return estest::ModulePathUtf8(); }
  static void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
  }
};

TEST_F(CheckRegistered, ChecksTheRegisteredDirectoriesExpanded) {
  TempRoot temp;
  esproduce::StoragePlan plan;
  auto group = Group("G", {Named("A", 2)});
  group.documents[0].files.pop_back();
  plan.groups = {group};
  temp.Write(plan);
  SetVariable("ES_CHECK_ROOT", temp.Dir());
  const fs::path settings = temp.root / "settings.json";
  std::ofstream(settings) << Json{{"AllowRescanning", true}, {"DeleteFaxes", true}, {"DeleteGroupFolder", true},
                                  {"SelectedPath", ""},      {"Number of dirs", 1}, {"Dir0", "%ES_CHECK_ROOT%"}}
                                 .dump();

  eshost::GlobalOptions global;
  global.modulePath = Module();
  global.settingsPath = esproduce::PathToUtf8(settings);
  const Result json = Check({}, true, global);
  EXPECT_EQ(1, json.status) << json.err;
  EXPECT_EQ("%ES_CHECK_ROOT%", json.report["storages"][0]["registered"]);
  EXPECT_EQ((Found{{"page-count", temp.Shown({"G", "A"})}, {"page-missing", temp.Shown({"G", "A", "2.pg"})}}),
            Problems(json.report))
      << json.out;
}

TEST_F(CheckRegistered, CannotRunWithoutTheModuleOrWithABadSettingsFile) {
  TempRoot temp;
  eshost::GlobalOptions global;
  global.modulePath = esproduce::PathToUtf8(temp.root / "no-such-module");
  global.settingsPath = esproduce::PathToUtf8(temp.root / "settings.json");
  Result result = Check({}, false, global);
  EXPECT_EQ(2, result.status);
  EXPECT_NE(std::string::npos, result.err.find("no-such-module")) << result.err;

  std::ofstream(temp.root / "bad.json") << "{ not json";
  global.modulePath = Module();
  global.settingsPath = esproduce::PathToUtf8(temp.root / "bad.json");
  result = Check({}, false, global);
  EXPECT_EQ(2, result.status);
  EXPECT_NE(std::string::npos, result.err.find("bad.json")) << result.err;
}

}  // namespace
