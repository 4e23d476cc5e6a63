// eshost groups and eshost scan --storage DIR --group NAME: the rows the scan dialog
// shows, and an import of only the groups named on the command line.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/BuildTree.h"
#include <nlohmann/json.hpp>

#include "QuilletBlockWriter.h"
#include "attrs/AttributeIds.h"
#include "host/Commands.h"
#include "producer/Producer.h"
#include "producer/TiffWriter.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using esproduce::Bytes;

Bytes OnePageTiff() {
  std::string error;
  Bytes bytes = esproduce::MakeTiff({esproduce::MakeBitonalPage(64, 80, 100, 1)}, esproduce::Compression::PackBits,
                                    &error);
  EXPECT_FALSE(bytes.empty()) << error;
  return bytes;
}

// A document of one page whose page carries `id` as its source name.
esproduce::DocumentPlan Document(const std::string& folder, const std::u16string& id) {
  esproduce::AttrFileV2 file;
  file.documentBlock = QuilletBlockWriter(es::attrs::kScopeDocument).AddText(es::attrs::kDocText2, u"doc").Bytes();
  file.pages.push_back({0, QuilletBlockWriter(es::attrs::kScopePage).AddText(es::attrs::kPageSourceName, id).Bytes()});
  esproduce::DocumentPlan doc;
  doc.folderName = folder;
  doc.attributeFile = esproduce::Serialize(file);
  doc.files.push_back({"1.pg", OnePageTiff()});
  return doc;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One storage with the groups Charlie (folder G1, 3 documents), Alpha (G2, 1) and Bravo
// (G3, 2): the folders sort otherwise than the names. A settings file registers it.
class GroupsCommands : public ::testing::Test {
 protected:
  GroupsCommands() {
    storage_ = root_ / "storage";
    fs::create_directories(storage_);
    esproduce::StoragePlan plan;
    const struct {
      const char* folder;
      const char* name;
      int documents;
    } groups[] = {{"G1", "Charlie", 3}, {"G2", "Alpha", 1}, {"G3", "Bravo", 2}};
    for (const auto& g : groups) {
      esproduce::GroupPlan group;
      group.folderName = g.folder;
      group.lockText = std::string(g.name) + "\r\n";
      group.order.emplace();
      for (int d = 1; d <= g.documents; ++d) {
        const std::string doc = std::string(g.name) + std::to_string(d);
        group.order->push_back(doc);
        group.documents.push_back(Document(doc, std::u16string(doc.begin(), doc.end())));
      }
      plan.groups.push_back(std::move(group));
    }
    std::string error;
    EXPECT_TRUE(esproduce::WriteStorage(storage_, plan, &error)) << error;

    global_.modulePath = Module();
    global_.settingsPath = (root_ / "settings.json").string();
    nlohmann::json settings = {{"AllowRescanning", false}, {"DeleteFaxes", true},    {"DeleteGroupFolder", true},
                               {"SelectedPath", ""},       {"Number of dirs", 1},    {"Dir0", storage_.string()}};
    std::ofstream(root_ / "settings.json") << settings.dump();
  }

  static std::string Module() { return estest::ModulePathUtf8(); }

  int Groups(const std::string& directory) {
    eshost::GroupsOptions options;
    options.directory = directory;
    out_.str("");
    err_.str("");
    return eshost::RunGroups(global_, options, out_, err_);
  }
  int Scan(const std::vector<std::string>& groups) {
    eshost::ScanOptions options;
    options.outDir = root_ / "out";
    options.storage = storage_.string();
    options.groups = groups;
    options.quiet = true;
    return eshost::RunScan(global_, options);
  }

  // The source names of the pages in the manifest, in the order they were handed over.
  std::vector<std::string> ManifestPages() const {
    char key[16];
    std::snprintf(key, sizeof key, "0x%08x", static_cast<unsigned>(es::attrs::kPageSourceName));
    std::vector<std::string> ids;
    std::istringstream lines(Read(root_ / "out" / "manifest.jsonl"));
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) continue;
      const nlohmann::json entry = nlohmann::json::parse(line);
      ids.push_back(entry["page"].value(key, std::string("?")));
    }
    return ids;
  }

  estest::TempFolder temp_{"es-groups"};
  const fs::path root_ = temp_.root;
  fs::path storage_;
  eshost::GlobalOptions global_;
  std::ostringstream out_, err_;
};

TEST_F(GroupsCommands, GroupsListsNamesAndCountsInNameOrder) {
  ASSERT_EQ(0, Groups(storage_.string())) << err_.str();
  EXPECT_EQ("Alpha\t1\nBravo\t2\nCharlie\t3\n", out_.str());
  // Listing changes nothing.
  EXPECT_TRUE(fs::exists(storage_ / "G1" / "Charlie1"));
}

TEST_F(GroupsCommands, ScanImportsOnlyTheNamedGroupsInDisplayOrder) {
  ASSERT_EQ(0, Scan({"Charlie", "Alpha"}));
  EXPECT_EQ((std::vector<std::string>{"Alpha1", "Charlie1", "Charlie2", "Charlie3"}), ManifestPages());
  EXPECT_FALSE(fs::exists(storage_ / "G2" / "Alpha1"));
  EXPECT_TRUE(fs::exists(storage_ / "G3" / "Bravo1"));
  EXPECT_TRUE(fs::exists(storage_ / "G3" / "Bravo2"));
  // What is left is listed as before.
  ASSERT_EQ(0, Groups(storage_.string())) << err_.str();
  EXPECT_EQ("Bravo\t2\n", out_.str());
}

TEST_F(GroupsCommands, AnUnknownGroupNameImportsNothing) {
  EXPECT_EQ(1, Scan({"Alpha", "Delta"}));
  EXPECT_TRUE(ManifestPages().empty());
  for (const char* doc : {"G1/Charlie1", "G2/Alpha1", "G3/Bravo1"}) EXPECT_TRUE(fs::exists(storage_ / doc)) << doc;
}

}  // namespace
