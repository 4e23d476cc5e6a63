// eshost register, edit, remove, set and storages: the configure and edit dialogs' own
// checks and questions decide, and only what they accept reaches the settings file.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
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
    global_.modulePath = estest::ModulePathUtf8();
    global_.settingsPath = (temp_.root / "settings.json").string();
    // A complete settings file with rescanning off, which no command may change.
    temp_.Write("settings.json", R"({"AllowRescanning": false, "DeleteFaxes": true, "DeleteGroupFolder": true,
                                     "SelectedPath": "", "Number of dirs": 0})");
    // Storages a and b without a description, c with one; a plain file.
    for (const char* folder : {"a", "b", "c"}) fs::create_directories(temp_.root / folder);
    temp_.Write("c/ESDesc.txt", "Gamma\r\nmore");
    temp_.Write("file.txt", "x");
  }

  std::string Path(const std::string& name) const { return name.empty() ? "" : (temp_.root / name).string(); }
  // Text with the test's folder taken out of every path.
  std::string Short(std::string text) const {
    const std::string prefix = temp_.root.string() + static_cast<char>(fs::path::preferred_separator);
    for (std::size_t at; (at = text.find(prefix)) != std::string::npos;) text.erase(at, prefix.size());
    return text;
  }
  // The settings in one line: "<count>: <directories> sel=<selected> del=<images>,<group folder> rescan=<flag>".
  std::string State() const {
    const auto s = nlohmann::json::parse(temp_.Read("settings.json"));
    std::string out = s["Number of dirs"].dump() + ":";
    for (int i = 0; i < s["Number of dirs"].get<int>(); ++i) out += " " + s["Dir" + std::to_string(i)].get<std::string>();
    return Short(out + " sel=" + s["SelectedPath"].get<std::string>() + " del=" + s["DeleteFaxes"].dump() + "," +
                 s["DeleteGroupFolder"].dump() + " rescan=" + s["AllowRescanning"].dump());
  }
  int Run(const Step& step) {
    const eshost::ConfigOptions options{Path(step.dir), Path(step.newDir), step.images, step.group, step.yes};
    std::istringstream in(step.input);
    std::ostringstream out, err;
    const int status = eshost::RunConfig(global_, step.action, options, in, out, err);
    said_ = Short(out.str() + err.str());
    return status;
  }

  estest::TempFolder temp_{"es-config"};
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
