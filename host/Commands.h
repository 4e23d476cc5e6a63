// eshost's commands. Each returns the process exit status.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace eshost {

struct GlobalOptions {
  std::string modulePath;    // empty: the module beside eshost
  std::string settingsPath = "eshost-settings.json";
};

struct InfoOptions {
  bool json = false;
};

int RunInfo(const GlobalOptions& global, const InfoOptions& options);

struct ScanOptions {
  bool unattended = false;
  std::filesystem::path outDir = "eshost-out";
  std::string tracePath;
  std::string messagesPath;
  std::string receiptPath;
  std::int64_t refuseAt = 0;
  std::int64_t cancelAt = 0;
  bool discard = false;
  double everySeconds = 0;
  int runs = 0;  // with --every: stop after this many scans (0: until interrupted)
  bool quiet = false;
  bool noSync = false;       // no flushing: faster, but a crash can lose accepted pages
  int rememberDays = 30;     // ledger records not seen for this long are dropped
  std::string fault;         // test only: ACTION:KIND:N, see HostOs.h
  // Groups chosen in the scan dialog, driven without a window: the registered storage
  // and the group names (rows) to select before pressing Scan.
  std::string storage;
  std::vector<std::string> groups;
};

int RunScan(const GlobalOptions& global, const ScanOptions& options);

class Session;
class HostCallback;
// The scan dialog's own logic on eshost's copy of the core, without a window: selects
// `options.storage` and the rows named `options.groups`, presses Scan, and imports the
// chosen groups through `callback` as the element's scan does. 0 done; 1 the storage is
// not registered or a group name matches no row (nothing imported).
int ScanChosenGroups(Session& session, const ScanOptions& options, HostCallback& callback, std::ostream& err);

struct StatusOptions {
  std::filesystem::path outDir = "eshost-out";
  bool json = false;
};
// Lists, from the output folder's ledger, the documents whose pages keep coming back.
// 0 done; 2 no such output folder.
int RunStatus(const StatusOptions& options, std::ostream& out, std::ostream& err);

struct GroupsOptions {
  std::string directory;  // empty: the remembered storage, else the first registered
};
// Prints the rows of the scan dialog once every count has arrived: group name, a tab and
// the number of documents, in the dialog's order. 0 done; 1 the counts did not all arrive;
// 2 the command could not run.
int RunGroups(const GlobalOptions& global, const GroupsOptions& options, std::ostream& out, std::ostream& err);

struct CheckOptions {
  std::vector<std::string> directories;  // empty: the registered storages
  bool json = false;
  bool verbose = false;  // one line per document in the text report
};

// Reads the storages and reports what would keep documents from being imported or
// deleted, changing nothing. 0: no problem found, 1: problems found, 2: the check could
// not run. The report goes to `out`, errors of the command itself to `err`.
int RunCheck(const GlobalOptions& global, const CheckOptions& options, std::ostream& out, std::ostream& err);
int RunCheck(const GlobalOptions& global, const CheckOptions& options);

// Storages and deletion switches, changed through the configure and edit dialogs' own
// logic (see ConfigCommands.cpp). 0 done; 1 the dialog refused the step or the user
// answered No, nothing saved; 2 the command could not run.
enum class ConfigAction { kRegister, kEdit, kRemove, kSet, kStorages, kConfigure };
struct ConfigOptions {
  std::string directory;     // register, remove; edit: the registered directory
  std::string newDirectory;  // edit
  std::optional<bool> deleteImages;       // set
  std::optional<bool> deleteGroupFolder;  // set
  bool yes = false;  // answer the dialog's questions with Yes instead of asking on stdin
};
int RunConfig(const GlobalOptions& global, ConfigAction action, const ConfigOptions& options, std::istream& in,
              std::ostream& out, std::ostream& err);

}  // namespace eshost
