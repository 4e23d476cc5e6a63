// eshost groups and eshost scan --storage DIR --group NAME: the rows the scan dialog
// shows, and an import of only the groups named on the command line.
#include <cstdio>
#include <filesystem>
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

// A document of one page whose page carries the document's name as its source name.
esproduce::DocumentPlan Document(const std::string& name) {
  std::string error;
  esproduce::AttrFileV2 file;
  file.documentBlock = QuilletBlockWriter(es::attrs::kScopeDocument).AddText(es::attrs::kDocText2, u"doc").Bytes();
  file.pages.push_back({0, QuilletBlockWriter(es::attrs::kScopePage)
                               .AddText(es::attrs::kPageSourceName, std::u16string(name.begin(), name.end()))
                               .Bytes()});
  esproduce::DocumentPlan doc;
  doc.folderName = name;
  doc.attributeFile = esproduce::Serialize(file);
  doc.files.push_back({"1.pg", esproduce::MakeTiff({esproduce::MakeBitonalPage(64, 80, 100, 1)},
                                                   esproduce::Compression::PackBits, &error)});
  EXPECT_FALSE(doc.files[0].content.empty()) << error;
  return doc;
}

// One storage, registered, with the groups Charlie (folder G1, 3 documents), Alpha (G2, 1)
// and Bravo (G3, 2): the folders sort otherwise than the names.
struct Storage {
  Storage() {
    esproduce::StoragePlan plan;
    for (const auto& [folder, name, documents] : {std::tuple{"G1", "Charlie", 3}, {"G2", "Alpha", 1}, {"G3", "Bravo", 2}}) {
      esproduce::GroupPlan group;
      group.folderName = folder;
      group.lockText = std::string(name) + "\r\n";
      group.order.emplace();
      for (int d = 1; d <= documents; ++d) {
        group.order->push_back(name + std::to_string(d));
        group.documents.push_back(Document(group.order->back()));
      }
      plan.groups.push_back(std::move(group));
    }
    std::string error;
    EXPECT_TRUE(esproduce::WriteStorage(dir, plan, &error)) << error;
    global.modulePath = estest::ModulePathUtf8();
    global.settingsPath = (temp.root / "settings.json").string();
    temp.Write("settings.json", nlohmann::json{{"AllowRescanning", false}, {"DeleteFaxes", true},
                                               {"DeleteGroupFolder", true}, {"SelectedPath", ""},
                                               {"Number of dirs", 1}, {"Dir0", dir.string()}}.dump());
  }
  std::string Groups() {
    std::ostringstream out, err;
    EXPECT_EQ(0, eshost::RunGroups(global, {dir.string()}, out, err)) << err.str();
    return out.str();
  }
  // The source names of the pages in the manifest, in the order they were handed over.
  std::string ManifestPages() const {
    char key[16];
    std::snprintf(key, sizeof key, "0x%08x", static_cast<unsigned>(es::attrs::kPageSourceName));
    std::string ids;
    std::istringstream lines(temp.Read("out/manifest.jsonl"));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) ids += nlohmann::json::parse(line)["page"].value(key, std::string("?")) + " ";
    return ids;
  }

  estest::TempFolder temp{"es-groups"};
  fs::path dir = temp.root / "storage";
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
    eshost::ScanOptions options;
    options.outDir = storage.temp.root / "out";
    options.storage = storage.dir.string();
    options.groups = row.groups;
    options.quiet = true;
    EXPECT_EQ(row.status, eshost::RunScan(storage.global, options));
    EXPECT_EQ(row.pages, storage.ManifestPages());
    EXPECT_EQ(row.rows, storage.Groups());
  }
}

}  // namespace
