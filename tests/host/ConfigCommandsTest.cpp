// eshost register, edit, remove, set and storages: the configure and edit dialogs' own
// checks and questions decide, and only what they accept reaches the settings file.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/BuildTree.h"
#include <nlohmann/json.hpp>

#include "host/Commands.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using eshost::ConfigAction;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ConfigCommands : public ::testing::Test {
 protected:
  ConfigCommands() {
    global_.modulePath = Module();
    global_.settingsPath = (root_ / "settings.json").string();
    // A complete settings file with rescanning off, which no command may change.
    std::ofstream(root_ / "settings.json")
        << R"({"AllowRescanning": false, "DeleteFaxes": true, "DeleteGroupFolder": true, "SelectedPath": "",
              "Number of dirs": 0})";
  }

  static std::string Module() { return estest::ModulePathUtf8(); }

  // A storage directory; with a description when `name` is not empty.
  std::string Storage(const std::string& folder, const std::string& name = "") {
    fs::create_directories(root_ / folder);
    if (!name.empty()) std::ofstream(root_ / folder / "ESDesc.txt", std::ios::binary) << name << "\r\nmore";
    return (root_ / folder).string();
  }

  int Run(ConfigAction action, eshost::ConfigOptions options, const std::string& input = "") {
    std::istringstream in(input);
    out.str("");
    err.str("");
    return eshost::RunConfig(global_, action, options, in, out, err);
  }
  int Register(const std::string& directory) {
    eshost::ConfigOptions o;
    o.directory = directory;
    return Run(ConfigAction::kRegister, o);
  }
  int Remove(const std::string& directory, const std::string& input, bool yes = false) {
    eshost::ConfigOptions o;
    o.directory = directory;
    o.yes = yes;
    return Run(ConfigAction::kRemove, o, input);
  }
  nlohmann::json Settings() const { return nlohmann::json::parse(Read(root_ / "settings.json")); }
  std::string SettingsText() const { return Read(root_ / "settings.json"); }
  std::string Storages() {
    Run(ConfigAction::kStorages, {});
    return out.str();
  }

  estest::TempFolder temp_{"es-config"};
  const fs::path root_ = temp_.root;
  eshost::GlobalOptions global_;
  std::ostringstream out, err;
};

TEST_F(ConfigCommands, RegisterKeepsTheTypedTextAndStoragesListsTheDialogsRows) {
  const std::string b = Storage("b");
  const std::string a = Storage("a", "Alpha");
  ASSERT_EQ(0, Register(b)) << err.str();
  ASSERT_EQ(0, Register(a)) << err.str();
  const nlohmann::json s = Settings();
  EXPECT_EQ(2, s["Number of dirs"]);
  EXPECT_EQ(a, s["Dir0"]);
  EXPECT_EQ(b, s["Dir1"]);
  EXPECT_EQ(a, s["SelectedPath"]) << "the row just registered is selected";
  EXPECT_EQ(false, s["AllowRescanning"]);
  EXPECT_EQ(a + "\tAlpha\n" + b + "\t<not found>\n", Storages());
}

TEST_F(ConfigCommands, RefusedRegistrationsPrintTheDialogsMessageAndSaveNothing) {
  const std::string a = Storage("a");
  ASSERT_EQ(0, Register(a)) << err.str();
  const std::string before = SettingsText();
  std::ofstream(root_ / "file.txt") << "x";
  const std::string sep(1, fs::path::preferred_separator);
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {{a + sep, "This External Storage is already registered."},
               {(root_ / "missing").string(), "A valid directory must be specified."},
               {(root_ / "file.txt").string(), "A valid directory must be specified."}};
  for (const Case& c : cases) {
    EXPECT_EQ(1, Register(c.text)) << c.text;
    EXPECT_NE(std::string::npos, err.str().find(c.message)) << err.str();
    EXPECT_EQ(before, SettingsText()) << c.text;
  }
}

TEST_F(ConfigCommands, RemoveAsksAndOnlyYesRemoves) {
  const std::string a = Storage("a");
  const std::string b = Storage("b");
  ASSERT_EQ(0, Register(a));
  ASSERT_EQ(0, Register(b));
  const std::string before = SettingsText();
  EXPECT_EQ(1, Remove(a, "n\n"));
  EXPECT_NE(std::string::npos, err.str().find("Do you want to remove registration of selected External Storage?"));
  EXPECT_EQ(before, SettingsText());
  EXPECT_EQ(1, Remove(a, "")) << "no answer is No";
  EXPECT_EQ(0, Remove(a, "y\n"));
  EXPECT_EQ(1, Settings()["Number of dirs"]);
  EXPECT_EQ(b, Settings()["Dir0"]);
  EXPECT_EQ(1, Remove(a, "", true));
  EXPECT_NE(std::string::npos, err.str().find("is not registered")) << err.str();
}

TEST_F(ConfigCommands, RemovingTheLastStorageAsksBeforeSavingAnEmptyList) {
  const std::string a = Storage("a");
  ASSERT_EQ(0, Register(a));
  const std::string before = SettingsText();
  EXPECT_EQ(1, Remove(a, "y\nn\n"));
  EXPECT_NE(std::string::npos,
            err.str().find("No External Storage is registered. Do you want to close configuration dialog?"));
  EXPECT_EQ(before, SettingsText());
  EXPECT_EQ(0, Remove(a, "", true));
  EXPECT_EQ(0, Settings()["Number of dirs"]);
}

TEST_F(ConfigCommands, EditReplacesTheDirectoryWithTheSameChecks) {
  const std::string a = Storage("a");
  const std::string b = Storage("b");
  const std::string c = Storage("c", "Gamma");
  ASSERT_EQ(0, Register(a));
  ASSERT_EQ(0, Register(b));
  eshost::ConfigOptions o;
  o.directory = a;
  o.newDirectory = b;
  EXPECT_EQ(1, Run(ConfigAction::kEdit, o));
  EXPECT_NE(std::string::npos, err.str().find("This External Storage is already registered."));
  o.newDirectory = c;
  EXPECT_EQ(0, Run(ConfigAction::kEdit, o)) << err.str();
  EXPECT_EQ(b + "\t<not found>\n" + c + "\tGamma\n", Storages());
}

TEST_F(ConfigCommands, SetFollowsTheDialogsRuleForTheSwitches) {
  eshost::ConfigOptions o;
  o.yes = true;  // no storage registered: closing with an empty list is confirmed
  o.deleteImages = false;
  EXPECT_EQ(0, Run(ConfigAction::kSet, o)) << err.str();
  EXPECT_EQ(false, Settings()["DeleteFaxes"]);
  EXPECT_EQ(false, Settings()["DeleteGroupFolder"]);

  o.deleteImages.reset();
  o.deleteGroupFolder = true;
  const std::string before = SettingsText();
  EXPECT_EQ(1, Run(ConfigAction::kSet, o));
  EXPECT_EQ(before, SettingsText());

  o.deleteImages = true;
  EXPECT_EQ(0, Run(ConfigAction::kSet, o)) << err.str();
  EXPECT_EQ(true, Settings()["DeleteFaxes"]);
  EXPECT_EQ(true, Settings()["DeleteGroupFolder"]);
  EXPECT_EQ(false, Settings()["AllowRescanning"]);

  // Without --yes an empty list is not saved unless the user agrees.
  o.yes = false;
  o.deleteImages = false;
  o.deleteGroupFolder.reset();
  EXPECT_EQ(1, Run(ConfigAction::kSet, o, "n\n"));
  EXPECT_EQ(true, Settings()["DeleteFaxes"]);
}

TEST_F(ConfigCommands, AnUnusableSettingsFileStopsTheCommand) {
  std::ofstream(root_ / "settings.json", std::ios::trunc) << "[1, 2";
  EXPECT_EQ(2, Register(Storage("a")));
  EXPECT_EQ("[1, 2", SettingsText());
}

#ifndef _WIN32
TEST_F(ConfigCommands, ConfigurePointsToTheOtherCommandsWithoutWindows) {
  EXPECT_EQ(2, Run(ConfigAction::kConfigure, {}));
  EXPECT_NE(std::string::npos, err.str().find("needs Windows"));
}
#endif

}  // namespace
