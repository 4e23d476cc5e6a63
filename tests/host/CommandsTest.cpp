// The commands of eshost that work on storages and settings without importing: check,
// what it finds in storages built with the producer kit, leaving every byte, name and
// permission of them as it was; groups and scan --group; register, edit, remove, set.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/BuildTree.h"
#include "tests/support/StoragePlans.h"
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

// The import tests' TIFF, damaged in its image `page`.
Bytes Damaged(Bytes bytes, Damage damage, std::size_t page) {
  std::string error;
  EXPECT_TRUE(esproduce::DamageTiff(&bytes, damage, page, &error)) << error;
  return bytes;
}
using estest::Tiff;

// A version-2 attribute file announcing `pages` pages, each with `source` as its source name.
Bytes AttrV2(int pages, const std::u16string& source = u"p") {
  return estest::AttrV2(std::vector<std::u16string>(static_cast<std::size_t>(pages), source));
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A document announcing `announced` pages (none: no attribute file) with the given files.
esproduce::DocumentPlan Doc(const std::string& name, std::optional<int> announced, std::vector<esproduce::FilePlan> files) {
  return estest::DocumentWith(name, std::move(files), announced ? std::optional(AttrV2(*announced)) : std::nullopt);
}

// The import tests' document of 1.pg .. n.pg, each page with `source` as its source name.
esproduce::DocumentPlan Named(const std::string& name, int pages, const std::u16string& source = u"p") {
  auto doc = estest::NamedDocument(name, pages);
  doc.attributeFile = AttrV2(pages, source);
  return doc;
}
using estest::MakeGroup;

class TempRoot : public estest::TempStorage {
 public:
  std::string Dir() const { return esproduce::PathToUtf8(root); }
  // A complete settings file registering `dirs`, with rescanning off; its path.
  std::string Settings(const std::vector<std::string>& dirs) {
    Json settings{{"AllowRescanning", false}, {"DeleteFaxes", true}, {"DeleteGroupFolder", true},
                  {"SelectedPath", ""}, {"Number of dirs", dirs.size()}};
    for (std::size_t i = 0; i < dirs.size(); ++i) settings["Dir" + std::to_string(i)] = dirs[i];
    Write("settings.json", settings.dump());
    return Shown("settings.json");
  }
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

// Each fault is reported with its path, beside groups whose documents of every kind have
// none; the storage is left as it was, links and special files included. (A storage without
// any fault: GroupsCommands.)
TEST(CheckCommand, ReportsEachFaultWithItsPathAndChangesNothing) {
  TempRoot temp;
  esproduce::AttrFileV1 v1;
  v1.documentRecords = {esproduce::RecordV1::Ansi(esproduce::v1::kDocText0, "pile")};
  v1.pages = {{esproduce::RecordV1::Int32(esproduce::v1::kPageValue, 26)}};
  auto old = Doc("Old", std::nullopt, {{"0000001a.pg", Tiff(1)}});
  old.attributeFile = esproduce::Serialize(v1);
  const Bytes pdf = Text("%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n");
  auto clean = MakeGroup("G1", {Named("Two", 2), Doc("Multi", 3, {{"1.pg", Tiff(3)}}),
                            // no attribute file: its page files are extra pages
                            Doc("Loose", std::nullopt, {{"a.pg", Tiff(2)}, {"b.pg", Tiff(1)}}), old,
                            Doc("Pdf", 1, {{"1.pg", pdf}, {"notes.txt", Bytes{'x'}}})});
  clean.lockText = "Night shift\r\nsecond line";
  clean.order = std::vector<std::string>{"Old", "Two"};
  auto damaged = Named("Damaged", 2);
  damaged.files[1].content = Damaged(Tiff(1), Damage::BadMagic, 0);
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
  auto good = MakeGroup("Good", {damaged, Doc("Multi", 3, {{"1.pg", Damaged(Tiff(3), Damage::CutInImageData, 2)}}), missing, extra,
                             readOnly, Named("Fine", 1),
                             // images the import never hands over: it keeps the document
                             Doc("Beyond", 2, {{"1.pg", Tiff(3)}}), further, unknown, garbage,
                             Doc("PdfPlus", std::nullopt, {{"1.pg", Text("%PDF-1.4\n%%EOF\n")}, {"2.pg", Tiff(1)}})});
  good.order = std::vector<std::string>{"Damaged", "Gone"};
  auto noLock = MakeGroup("NoLock", {Named("A", 1)});
  noLock.lockText.reset();
  auto sent = Named("Sent", 1);  // delivered by a scan cut short while deleting it
  sent.files.push_back({"ES_DELIVERED", {}});
  auto bigLock = MakeGroup("BigLock", {Named("A", 1)});
  bigLock.lockText = std::string(1024, 'L');
  std::vector<esproduce::GroupPlan> groups = {clean, MakeGroup("G2", {Named("One", 1), sent}), good, noLock, bigLock,
                                             MakeGroup("Held", {Named("A", 1)}), MakeGroup("Reading", {Named("A", 1)})};
  std::set<std::string> expected = {
      "page-damaged Good/Damaged/2.pg", "page-damaged Good/Multi/1.pg", "page-missing Good/Missing/2.pg",
      "page-count Good/Missing", "page-count Good/Extra", "read-only Good/ReadOnly/1.pg", "page-count Good/Beyond",
      "images-beyond-count Good/Beyond/1.pg", "page-further-images Good/Further/2.pg",
      "attributes-version Good/Unknown/SC_ATTR.BIN", "attributes-unreadable Good/Garbage/SC_ATTR.BIN",
      "pdf-extra-pages Good/PdfPlus/2.pg", "order-line Good/Doc_Order.txt", "no-lock-file NoLock/GR_LOCK.TXT",
      "lock-too-big BigLock/GR_LOCK.TXT", "lock-held Held/GR_LOCK.TXT", "lock-held Reading/GR_LOCK.TXT"};
#ifndef _WIN32
  // Only POSIX has names that are no UTF-8 and folders without write permission.
  groups.push_back(MakeGroup("P", {Doc("Names", std::nullopt, {{"bad\xff.pg", Tiff(1)}}), Named("Locked", 1)}));
  temp.Write({"Front office\r\n", std::nullopt, groups});
  const fs::path p = temp.root / "P";
  fs::permissions(p / "Locked", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Links and special files the module never follows or reads.
  fs::create_directory_symlink(p, temp.root / "PL");
  fs::create_directory_symlink(p / "Names", p / "DL");
  fs::remove(p / "Locked" / "1.pg");
  fs::create_symlink(p / "Names" / "bad\xff.pg", p / "Locked" / "1.pg");
  ASSERT_EQ(0, mkfifo((p / "Names" / "pipe").c_str(), 0600));
  expected.insert({"link PL", "link P/DL", "name-undecodable P/Names/bad\\xff.pg", "special-file P/Names/pipe",
                   "page-link P/Locked/1.pg", "folder-not-writable P/Locked"});
#else
  temp.Write({"Front office\r\n", std::nullopt, groups});
#endif
  std::size_t documents = 0;
  for (const auto& group : groups) documents += group.documents.size();
  const auto before = estest::Tree(temp.root, estest::TreeFacts::Times);

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
  EXPECT_EQ(expected, temp.Problems(json.report)) << json.out;
  EXPECT_EQ(json.report["summary"]["problems"], expected.size());
  EXPECT_EQ(json.report["summary"]["unavailable_groups"], 4);
  EXPECT_EQ("Front office", json.report["storages"][0]["name"]);
  // Per document without a fault: kind, page files (the images of a multi-page file count),
  // attribute file.
  std::set<std::string> kinds;
  for (const auto& group : json.report["storages"][0]["groups"])
    for (const auto& d : group["folder"] == "G1" || group["folder"] == "G2" ? group["documents"] : Json::array())
      kinds.insert(d["folder"].get<std::string>() + " " + d["kind"].get<std::string>() + " " + d["page_files"].dump() +
                       " " + d["attribute_file"]["present"].dump() + " " + d["attribute_file"]["version"].dump() + " " +
                       d["attribute_file"]["announced_pages"].dump() + (d["delivered"] == true ? " delivered" : ""));
  EXPECT_EQ((std::set<std::string>{"One single-file 1 true \"0x0200\" 1", "Two single-file 2 true \"0x0200\" 2",
                                   "Multi multi-page 3 true \"0x0200\" 3", "Loose single-file 2 false null null",
                                   "Old single-file 1 true \"0x0100\" 1", "Pdf pdf 1 true \"0x0200\" 1", "Sent single-file 1 true null null delivered"}),
            kinds);

  EXPECT_EQ(1, text.status);
  EXPECT_EQ("1 storage, " + std::to_string(groups.size()) + " groups (4 unavailable), " + std::to_string(documents) +
                " documents, " + std::to_string(expected.size()) + " problems",
            LastLine(text.out));
  EXPECT_NE(std::string::npos, text.out.find("Group G1 \"Night shift\": 5 documents")) << text.out;
  for (const auto& problem : expected)
    EXPECT_NE(std::string::npos, temp.Short(text.out).find(problem.substr(problem.find(' ') + 1) + ": ")) << problem;
  EXPECT_NE(std::string::npos, text.out.find("\"Gone\" names no document folder")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("announces 3 pages, the document has 2 page files")) << text.out;

  EXPECT_TRUE(before == estest::Tree(temp.root, estest::TreeFacts::Times)) << "the check changed the storage";
  // The lock file can be taken again: the check let go of everything it opened.
  es::File again(es::FromUtf8(temp.Shown("Good/GR_LOCK.TXT")), es::platform::Access::Read,
                 es::platform::Share::None);
  EXPECT_TRUE(again.IsOpen());
}

// The registered storages come from the element's settings, with %NAME% expanded: one that
// is missing, one a file. Without the module, with a file that is no module, or with a
// settings file it cannot use the check cannot run.
TEST(CheckCommand, RegisteredStorages) {
  TempRoot temp;
  temp.Write({std::nullopt, std::nullopt, {MakeGroup("G", {Doc("A", 2, {{"1.pg", Tiff(1)}})})}});
#ifdef _WIN32
  _putenv_s("ES_CHECK_ROOT", temp.Dir().c_str());
#else
  setenv("ES_CHECK_ROOT", temp.Dir().c_str(), 1);
#endif
  const std::string settings = temp.Settings({"%ES_CHECK_ROOT%", temp.Shown("nowhere"), temp.Shown("bad.json")});
  temp.Write("bad.json", "{ not json");
  const std::string module = estest::ModulePathUtf8();
  const Result json = Check({}, true, {module, settings});
  EXPECT_EQ(1, json.status) << json.err;
  EXPECT_EQ("%ES_CHECK_ROOT%", json.report["storages"][0]["registered"]);
  EXPECT_EQ(false, json.report["storages"][1]["available"]);
  EXPECT_EQ((std::set<std::string>{"page-count G/A", "page-missing G/A/2.pg", "storage-missing nowhere",
                                   "storage-not-a-folder bad.json"}),
            temp.Problems(json.report))
      << json.out;
  const Result nowhere = Check({temp.Shown("nowhere")}, false);
  EXPECT_EQ(1, nowhere.status);
  EXPECT_EQ("1 storage, 0 groups, 0 documents, 1 problem", LastLine(nowhere.out));

  for (const auto& [global, says] : {std::pair{eshost::GlobalOptions{temp.Shown("no-such-module"), settings}, "no-such-module: module not found"},
                                     {eshost::GlobalOptions{temp.Shown("bad.json"), settings}, "bad.json: not a"},
                                     {eshost::GlobalOptions{module, temp.Shown("bad.json")}, "bad.json: not valid JSON"}}) {
    const Result result = Check({}, false, global);
    EXPECT_EQ(2, result.status);
    EXPECT_NE(std::string::npos, result.err.find(says)) << result.err;
  }
}

// ---- eshost groups and scan --storage DIR --group NAME ----------------------------------

// One registered storage with the groups Charlie (folder G1, 3 documents), Alpha (G2, 1)
// and Bravo (G3, 2): the folders sort otherwise than the names. The source name of each
// page is its document's name.
struct Storage : TempRoot {
  Storage() {
    esproduce::StoragePlan plan;
    for (const auto& [folder, name, documents] : {std::tuple{"G1", "Charlie", 3}, {"G2", "Alpha", 1}, {"G3", "Bravo", 2}}) {
      auto group = MakeGroup(folder, {});
      group.lockText = std::string(name) + "\r\n";
      group.order.emplace();
      for (int d = 1; d <= documents; ++d) {
        group.order->push_back(name + std::to_string(d));
        group.documents.push_back(Named(group.order->back(), 1, es::FromUtf8(group.order->back())));
      }
      plan.groups.push_back(std::move(group));
    }
    std::string error;
    EXPECT_TRUE(esproduce::WriteStorage(root / "storage", plan, &error)) << error;
    global = {estest::ModulePathUtf8(), Settings({Shown("storage")})};
  }
  std::string Groups() {
    std::ostringstream out, err;
    EXPECT_EQ(0, eshost::RunGroups(global, {Shown("storage")}, out, err)) << err.str();
    return out.str();
  }
  // The source names of the pages in the manifest, in the order they were handed over.
  std::string ManifestPages() const {
    char key[16];
    std::snprintf(key, sizeof key, "0x%08x", static_cast<unsigned>(es::attrs::kPageSourceName));
    std::string ids;
    std::istringstream lines(Read("out/manifest.jsonl"));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) ids += Json::parse(line)["page"].value(key, std::string("?")) + " ";
    return ids;
  }

  eshost::GlobalOptions global;
};

TEST(GroupsCommands, ScanOfTheNamedGroupsAndTheRowsListedAfterwards) {
  const std::string all = "Alpha\t1\nBravo\t2\nCharlie\t3\n";  // in name order
  const struct {
    std::vector<std::string> groups;
    int status;
    std::string pages;  // in the dialog's order, whatever the order named
    std::string rows;
  } rows[] = {
      {{"Charlie", "Alpha"}, 0, "Alpha1 Charlie1 Charlie2 Charlie3 ", "Bravo\t2\n"},
      {{"Alpha", "Delta"}, 1, "", all},  // an unknown name imports nothing
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.groups));
    Storage storage;
    EXPECT_EQ(all, storage.Groups()) << "listing changes nothing the scan then finds";
    const Result check = Check({storage.Shown("storage")}, false);
    EXPECT_EQ(0, check.status) << check.out;
    EXPECT_EQ("1 storage, 3 groups, 6 documents, 0 problems", LastLine(check.out)) << check.out;
    eshost::ScanOptions options;
    options.outDir = storage.root / "out";
    options.storage = storage.Shown("storage");
    options.groups = row.groups;
    options.quiet = true;
    EXPECT_EQ(row.status, eshost::RunScan(storage.global, options));
    EXPECT_EQ(row.pages, storage.ManifestPages());
    EXPECT_EQ(row.rows, storage.Groups());
  }
}

// ---- eshost register, edit, remove, set: the configure and edit dialogs' own checks and
// questions decide, and only what they accept reaches the settings file. ----------------

using eshost::ConfigAction;

// One command of a session at the prompt. Folders are named below the test's folder.
struct Step {
  ConfigAction action;
  std::string dir = {}, newDir = {}, input = {};
  bool yes = false;
  std::optional<bool> images = {}, group = {};
  int status = 0;
  std::string said = {};   // part of what the command printed
  std::string state = {};  // the settings file afterwards (see State)
};

class ConfigCommands : public ::testing::Test {
 protected:
  ConfigCommands() {
    // Rescanning is off in the settings file, and no command may change it.
    global_ = {estest::ModulePathUtf8(), temp_.Settings({})};
    // Storages a and b without a description, c with one; a plain file.
    for (const char* folder : {"a", "b", "c"}) fs::create_directories(temp_.root / folder);
    temp_.Write("c/ESDesc.txt", "Gamma\r\nmore");
    temp_.Write("file.txt", "x");
  }

  // The settings in one line: "<count>: <directories> sel=<selected> del=<images>,<group folder> rescan=<flag>".
  std::string State() const {
    const auto s = Json::parse(temp_.Read("settings.json"));
    std::string out = s["Number of dirs"].dump() + ":";
    for (int i = 0; i < s["Number of dirs"].get<int>(); ++i) out += " " + s["Dir" + std::to_string(i)].get<std::string>();
    return temp_.Short(out + " sel=" + s["SelectedPath"].get<std::string>() + " del=" + s["DeleteFaxes"].dump() + "," +
                       s["DeleteGroupFolder"].dump() + " rescan=" + s["AllowRescanning"].dump());
  }
  int Run(const Step& step) {
    const auto path = [&](const std::string& name) { return name.empty() ? name : temp_.Shown(name); };
    const eshost::ConfigOptions options{path(step.dir), path(step.newDir), step.images, step.group, step.yes};
    std::istringstream in(step.input);
    std::ostringstream out, err;
    const int status = eshost::RunConfig(global_, step.action, options, in, out, err);
    said_ = temp_.Short(out.str() + err.str());
    return status;
  }

  TempRoot temp_;
  eshost::GlobalOptions global_;
  std::string said_;
};

TEST_F(ConfigCommands, ASessionOfCommandsAndTheSettingsEachLeaves) {
  using enum ConfigAction;
  const std::string sep(1, fs::path::preferred_separator);
  const std::string ab = "2: a b sel=a del=true,true rescan=false";
  const std::string bc = "2: b c sel=c del=true,true rescan=false";
  const std::string c = "1: c sel=c del=true,true rescan=false";
  const std::string none = "0: sel=c del=true,true rescan=false";  // the selection stays as it was
  const Step steps[] = {
      // The typed text is kept, the rows sorted, the row just registered selected.
      {.action = kRegister, .dir = "b", .state = "1: b sel=b del=true,true rescan=false"},
      {.action = kRegister, .dir = "a", .state = ab},
      {.action = kStorages, .said = "a\t<not found>\nb\t<not found>\n", .state = ab},
      {.action = kRegister, .dir = "a" + sep, .status = 1, .said = "This External Storage is already registered.", .state = ab},
      {.action = kRegister, .dir = "missing", .status = 1, .said = "A valid directory must be specified.", .state = ab},
      {.action = kRegister, .dir = "file.txt", .status = 1, .said = "A valid directory must be specified.", .state = ab},
      {.action = kEdit, .dir = "a", .newDir = "b", .status = 1, .said = "This External Storage is already registered.", .state = ab},
      {.action = kEdit, .dir = "a", .newDir = "c", .state = bc},
      {.action = kStorages, .said = "b\t<not found>\nc\tGamma\n", .state = bc},
      // Only yes removes; no answer is no.
      {.action = kRemove, .dir = "b", .input = "n\n", .status = 1,
       .said = "Do you want to remove registration of selected External Storage?", .state = bc},
      {.action = kRemove, .dir = "b", .status = 1, .state = bc},
      {.action = kRemove, .dir = "b", .input = "y\n", .state = c},
      {.action = kRemove, .dir = "b", .yes = true, .status = 1, .said = "is not registered", .state = c},
      // The last one: an empty list is saved only once the user agrees to it too.
      {.action = kRemove, .dir = "c", .input = "y\nn\n", .status = 1,
       .said = "No External Storage is registered. Do you want to close configuration dialog?", .state = c},
      {.action = kRemove, .dir = "c", .yes = true, .state = none},
      // The group folder is deleted only with the images.
      {.action = kSet, .yes = true, .images = false, .state = "0: sel=c del=false,false rescan=false"},
      {.action = kSet, .yes = true, .group = true, .status = 1, .state = "0: sel=c del=false,false rescan=false"},
      {.action = kSet, .yes = true, .images = true, .group = true, .state = none},
      {.action = kSet, .input = "n\n", .images = false, .status = 1, .state = none},
#ifndef _WIN32
      {.action = kConfigure, .status = 2, .said = "needs Windows", .state = none},
#endif
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::to_string(static_cast<int>(step.action)) + " " + step.dir + " " + step.newDir);
    EXPECT_EQ(step.status, Run(step)) << said_;
    EXPECT_NE(std::string::npos, said_.find(step.said)) << said_;
    EXPECT_EQ(step.state, State());
  }
  // A settings file the command cannot use stops it and is kept as it is.
  temp_.Write("settings.json", "[1, 2");
  EXPECT_EQ(2, Run({.action = kRegister, .dir = "a"}));
  EXPECT_EQ("[1, 2", temp_.Read("settings.json"));
}

}  // namespace
