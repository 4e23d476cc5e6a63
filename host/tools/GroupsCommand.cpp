// eshost groups and eshost scan --storage DIR --group NAME...: the scan dialog's own logic,
// run from eshost's copy of the module's core on the headless view, with the user's steps
// as a script. `groups` opens the dialog on a storage, waits until every row's count has
// arrived and reads the rows; `scan --group` selects the storage and the named rows and
// presses Scan, and the element of eshost's core imports what the dialog chose, as the
// module's element does in an interactive scan. The settings are the loaded module's.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "frame/App.h"
#include "frame/Element.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "host/Commands.h"
#include "host/HostCallback.h"
#include "host/Session.h"
#include "platform/Platform.h"
#include "ResourceIds.h"
#include "storage/StorageName.h"
#include "ui/DlgScan.h"
#include "ui/HeadlessView.h"

namespace eshost {

namespace {

using es::HeadlessView;
using es::Str;

constexpr int kList = IDC_GROUP_LIST;
constexpr int kCombo = IDC_STORAGE_COMBO;
// Without a new count for this long the counting is taken as stuck.
constexpr auto kCountingStall = std::chrono::seconds(60);

// eshost's core is attached once, on eshost's own string table, as the module attaches
// its own on load; the loaded module is not touched.
void AttachOwnCore() {
  static const bool attached = es::ModuleAttach(es::platform::ThisModuleHandle());
  (void)attached;
}

// What a directory names, as the edit dialog compares registrations (expanded, letter
// case and a trailing separator ignored), and relative to the current folder.
Str Key(const Str& directory) {
  Str expanded;
  if (!es::platform::Os().ExpandEnvironment(directory, 32768, &expanded)) expanded = directory;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(expanded), error);
  if (!error) expanded = absolute.lexically_normal().u16string();
  if (!es::EndsWithSeparator(expanded)) expanded.push_back(es::platform::kPathSep);
  return es::ToUpper(expanded);
}

// The index of the registration of `directory`: the same text, or else the same directory.
int FindRegistered(const es::StrArray& registered, const Str& directory) {
  for (std::size_t i = 0; i < registered.size(); ++i)
    if (registered[i] == directory) return static_cast<int>(i);
  const Str key = Key(directory);
  for (std::size_t i = 0; i < registered.size(); ++i)
    if (Key(registered[i]) == key) return static_cast<int>(i);
  return -1;
}

int ComboEntryOf(const es::IDialogView& v, int index) {
  for (int e = 0; e < v.ComboCount(kCombo); ++e)
    if (v.ComboData(kCombo, e) == index) return e;
  return -1;
}

int RowsCounting(const es::IDialogView& v) {
  int pending = 0;
  for (int row = 0; row < v.ItemCount(kList); ++row)
    if (v.ItemText(kList, row, 1) == u"?") ++pending;
  return pending;
}

// Dispatches the worker's counts until every row has its count; false when the counting
// stalled.
bool WaitForCounts(HeadlessView& v) {
  int pending = RowsCounting(v);
  auto progress = std::chrono::steady_clock::now();
  while (pending > 0) {
    v.Pump(500, [&] { return RowsCounting(v) == 0; });
    const int now = RowsCounting(v);
    if (now < pending) {
      pending = now;
      progress = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - progress > kCountingStall) {
      return false;
    }
  }
  return true;
}

struct ElementDeleter {
  void operator()(es::CElement* element) const { element->DeleteThis(); }
};

// An element of eshost's core holding the loaded module's settings.
std::unique_ptr<es::CElement, ElementDeleter> OwnElement(const ElementSettings& settings) {
  std::unique_ptr<es::CElement, ElementDeleter> element(new es::CElement(&es::kElementTypeDescriptor));
  element->AllowRescanning = settings.allowRescanning ? 1 : 0;
  element->DeleteFaxes = settings.deleteImages ? 1 : 0;
  element->DeleteGroupFolder = settings.deleteGroupFolder ? 1 : 0;
  element->SelectedPath = es::FromUtf8(settings.selectedPath);
  for (const std::string& directory : settings.directories) element->directories.push_back(es::FromUtf8(directory));
  element->RebuildStorageNames();
  return element;
}

std::string Quoted(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "\"" : ", \"") + name + "\"";
  return text;
}

}  // namespace

int ScanChosenGroups(Session& session, const ScanOptions& options, HostCallback& callback, std::ostream& err) {
  AttachOwnCore();
  auto element = OwnElement(session.ReadSettings());
  const int index = FindRegistered(element->directories, es::FromUtf8(options.storage));
  if (index < 0) {
    err << "eshost: " << options.storage << " is not a registered storage (eshost storages lists them)\n";
    return 1;
  }

  es::HeadlessDesk desk;
  std::vector<std::string> missing;
  bool scanned = false;
  desk.AddScript(IDD_SCAN, [&](HeadlessView& v) {
    if (!v.ChooseComboItem(kCombo, ComboEntryOf(v, index))) return;
    std::set<Str> wanted;
    for (const std::string& name : options.groups) wanted.insert(es::FromUtf8(name));
    std::set<Str> found;
    bool first = true;
    for (int row = 0; row < v.ItemCount(kList); ++row) {
      const Str name = v.ItemText(kList, row, 0);
      if (wanted.count(name) == 0) continue;
      v.ClickRow(kList, row, !first);  // a click, then Ctrl+clicks
      first = false;
      found.insert(name);
    }
    for (const std::string& name : options.groups)
      if (found.count(es::FromUtf8(name)) == 0) missing.push_back(name);
    if (!missing.empty()) return;  // the user closes the dialog: nothing is imported
    v.Click(IDC_SCAN);
    scanned = !v.Running();
  });
  element->Scan(nullptr, 0, &callback);
  if (!missing.empty()) {
    err << "eshost: no available group named " << Quoted(missing) << " in " << options.storage << "\n";
    return 1;
  }
  if (!scanned) {
    err << "eshost: the scan dialog did not take the selection\n";
    return 2;
  }
  return 0;
}

int RunGroups(const GlobalOptions& global, const GroupsOptions& options, std::ostream& out, std::ostream& err) {
  Session session;
  if (!session.Open(global, err)) return 2;
  const ElementSettings settings = session.ReadSettings();
  AttachOwnCore();
  es::ModuleStateScope scope;  // the core's texts, as the element's entries make them current

  es::CDlgScan dialog(nullptr);
  for (const std::string& directory : settings.directories) {
    dialog.registeredDirectories.push_back(es::FromUtf8(directory));
    dialog.storageNames.push_back(es::ReadStorageName(dialog.registeredDirectories.back()));
  }
  Str directory = es::FromUtf8(options.directory);
  if (directory.empty()) directory = es::FromUtf8(settings.selectedPath);
  if (directory.empty() && !dialog.registeredDirectories.empty()) directory = dialog.registeredDirectories.front();
  if (directory.empty()) {
    err << "eshost: no External Storage is registered in " << session.Store()->Path().string()
        << "; give DIR or register one with: eshost register DIR\n";
    return 2;
  }
  int index = FindRegistered(dialog.registeredDirectories, directory);
  if (index < 0) {
    // Listing changes nothing: a storage not registered is shown as if it were.
    dialog.registeredDirectories.push_back(directory);
    dialog.storageNames.push_back(es::ReadStorageName(directory));
    index = static_cast<int>(dialog.registeredDirectories.size()) - 1;
  }
  dialog.preselectedDirectory = dialog.registeredDirectories[static_cast<std::size_t>(index)];

  es::HeadlessDesk desk;
  std::vector<std::pair<Str, Str>> rows;
  bool complete = false;
  desk.AddScript(IDD_SCAN, [&](HeadlessView& v) {
    complete = WaitForCounts(v);
    for (int row = 0; row < v.ItemCount(kList); ++row)
      rows.emplace_back(v.ItemText(kList, row, 0), v.ItemText(kList, row, 1));
    v.Click(es::kIdCancel);
  });
  if (dialog.DoModal() < 0) {
    err << "eshost: the scan dialog could not be created\n";
    return 2;
  }
  for (const auto& [name, count] : rows) out << es::ToUtf8(name) << "\t" << es::ToUtf8(count) << "\n";
  if (rows.empty()) err << "eshost: no available group in " << es::ToUtf8(dialog.currentStorageDirectory) << "\n";
  if (!complete) {
    err << "eshost: counting the documents stalled; rows without a count show ?\n";
    return 1;
  }
  return 0;
}

}  // namespace eshost
