// eshost: a host application for the External Storage input module.
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/Commands.h"
#include "host/ModuleLoader.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{
      "eshost: loads the External Storage input module, keeps its settings, and drives it "
      "like a document-scanning host application."};
  app.require_subcommand(1);
  // Paths such as /data/in are arguments, not Windows-style options, on every platform.
  app.allow_windows_style_options(false);
  eshost::GlobalOptions global;
  app.add_option("--module", global.modulePath, "Path of the module (default: the module beside eshost)");
  app.add_option("--settings", global.settingsPath, "Settings file of the element (JSON)")
      ->capture_default_str();

  eshost::InfoOptions info;
  auto* infoCommand = app.add_subcommand(
      "info", "Print what the module reports: type and display name, flags, registered storages, "
              "deletion switches and the default attributes of a fresh page");
  infoCommand->add_flag("--json", info.json, "Print one JSON object instead of text");

  eshost::ScanOptions scan;
  auto* scanCommand = app.add_subcommand(
      "scan", "Import documents: every available group of every registered storage (--unattended), the groups "
              "chosen in the module's scan dialog (Windows, without --unattended), or the groups named with "
              "--storage and --group. Pages go to DIR/pages, one JSON line per page to DIR/manifest.jsonl");
  scanCommand->add_flag("--unattended", scan.unattended,
                        "No dialog: take every available group of every registered storage; warnings are "
                        "traced instead of shown");
  scanCommand->add_option("--out", scan.outDir, "Output folder for pages and manifest.jsonl")->capture_default_str();
  scanCommand->add_option("--trace", scan.tracePath, "Append the module's trace lines to this file");
  scanCommand->add_option("--messages", scan.messagesPath,
                          "Append each message box as one JSON object (op, id or text, style) to this file");
  scanCommand->add_option("--receipt", scan.receiptPath,
                          "Write a JSON receipt: per group the documents listed, imported, kept (and why) and "
                          "deleted, pages handed over, elapsed time; the pages that could not be stored and why; "
                          "the documents the ledger knows as kept (as eshost status lists them)");
  scanCommand->add_option("--refuse-at", scan.refuseAt, "Refuse the N-th page handed over (1-based)")
      ->check(CLI::PositiveNumber);
  scanCommand->add_option("--cancel-at", scan.cancelAt, "Ask the module to stop after the N-th page")
      ->check(CLI::PositiveNumber);
  scanCommand->add_flag("--discard", scan.discard, "Write nothing and accept every page (for benchmarks)");
  scanCommand->add_option("--every", scan.everySeconds,
                          "Scan again every SECONDS until stopped. SIGINT/SIGTERM (Ctrl+C, a service stop) ask the "
                          "module to stop at the next page; if the scan has not ended 3 seconds later, eshost leaves "
                          "at once with exit status 3. Nothing is lost either way: a page is accepted only once it "
                          "is on disk, and the module deletes a document only after that")
      ->check(CLI::PositiveNumber);
  scanCommand->add_option("--runs", scan.runs, "With --every: stop after N scans (default: until interrupted)")
      ->check(CLI::PositiveNumber);
  scanCommand->add_flag("--no-sync", scan.noSync,
                        "Do not flush pages, manifest and ledger to disk before accepting a page (for benchmarks): "
                        "faster, but a crash or power cut can then lose pages the module has already deleted");
  scanCommand->add_option("--remember", scan.rememberDays,
                          "Days the ledger remembers a page not sent again; a page sent again after that is "
                          "stored again")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  scanCommand->add_option("--fault", scan.fault,
                          "For testing: ACTION:KIND:N acts at eshost's N-th call of KIND (write, flush, rename, "
                          "append = ledger record). ACTION: crash (leave at once, exit status 99), power-cut (the "
                          "same, after undoing everything not yet flushed), enospc (the call fails as on a full "
                          "disk), hang (the call never returns)");
  scanCommand->add_flag("--quiet", scan.quiet, "No progress line and no summary");
  auto* scanStorage = scanCommand->add_option(
      "--storage", scan.storage,
      "With --group: the registered storage to choose in the scan dialog (its directory as registered, or "
      "naming the same directory)");
  auto* scanGroups = scanCommand->add_option(
      "--group", scan.groups,
      "Group names to select in the scan dialog's list of --storage, which then presses Scan; every row of "
      "such a name is selected. Exit status 1, nothing imported, when a name matches no available group");
  scanGroups->needs(scanStorage);
  scanStorage->needs(scanGroups);
  scanGroups->excludes("--unattended");
  scanCommand->footer(
      "Output folder (--out): page images in pages/ (000001.tif, ...; a PDF page's own bytes beside as .pdf), "
      "attribute values above 64 KiB in attrs/ (named by their SHA-256), one JSON line per page in "
      "manifest.jsonl, and the delivery ledger ledger.journal. A page is answered \"accepted\" only once its "
      "files, its manifest line and its ledger record are flushed to disk. A page the ledger holds already (a "
      "document the module keeps and sends again, or pages sent again after eshost was stopped) is accepted "
      "with a manifest line {\"repeat_of\": SEQ} naming the line that holds its image, and nothing is stored "
      "twice; a damaged-pages message already shown for such a document is traced, not shown again. Page "
      "files are never overwritten: numbers continue across runs. One eshost at a time writes to an output "
      "folder.\n"
      "Exit status: 0 done; 1 a page could not be stored (the reason is printed and put in the receipt): it was "
      "refused, so the module stopped that group and deleted nothing of it; 2 the scan could not run; 3 stopped "
      "without waiting for the scan to end (see --every).");

  eshost::StatusOptions status;
  auto* statusCommand = app.add_subcommand(
      "status", "From the delivery ledger of an output folder, without scanning: the documents whose pages keep "
                "coming back (kept in a storage, for instance for damaged pages), with their first delivery, last "
                "repeat, how often they came again and the damaged-pages message that came with them");
  statusCommand->add_option("--out", status.outDir, "Output folder of the scans")->capture_default_str();
  statusCommand->add_flag("--json", status.json, "Print one JSON object instead of text");

  eshost::CheckOptions check;
  auto* checkCommand = app.add_subcommand(
      "check", "Check External Storages before an import, changing nothing: the registered ones or the DIRs "
               "given. Exit status 1 when problems are found");
  checkCommand->add_option("DIR", check.directories,
                           "Storage directories to check instead of the registered ones, used as given");
  checkCommand->add_flag("--json", check.json,
                         "Print one JSON object: per storage, group and document what was found, each problem "
                         "with path, code and reason, and a summary");
  checkCommand->add_flag("--verbose", check.verbose,
                         "Also print one line per document: kind, attribute file version, pages announced and "
                         "page files found");
  checkCommand->footer(
      "Without DIR, the storages registered in the settings file (--settings, given before 'check') are checked, "
      "their %NAME% references expanded; the module (--module) is loaded to read them.\n"
      "Reported problems: a storage directory that is missing, no folder or cannot be read; a group that is not "
      "available (no lock file, a lock file of 1024 bytes or more, a lock file another process holds locked: on "
      "Windows open without sharing, on POSIX with an flock; a POSIX program that merely has it open is not seen); "
      "links and special files in storage, group and document folders (the module never follows or reads them); "
      "order-file lines that name no folder; per document, read by the module's own document import with "
      "deletion off: an attribute file that cannot be read or is of an unknown version, a page count that differs "
      "from the page files, missing, damaged or undecodable page images (every image the import would hand over is "
      "decoded), images the import would not take (beyond the announced count, further images of a page file, page "
      "files beside a PDF), files over a size limit, files that cannot be read now (I/O errors), files the module "
      "could not delete (read-only files, folders inside a document, on POSIX folders without write permission), "
      "and file names that cannot be decoded (raw bytes shown as \\xHH). Documents of unavailable groups are "
      "counted, not read.\n"
      "Text output: one line per storage and group, one line per problem (path: reason), and a summary line: "
      "storages, groups (unavailable), documents, problems. Files are only read; a lock file is also opened "
      "once without sharing and closed at once. Trace lines of the module are not shown.\n"
      "Exit status: 0 no problem found, 1 problems found, 2 the check could not run (module or settings file "
      "unusable).");

  // Storages and deletion switches, through the configure dialog's own logic.
  eshost::ConfigOptions config;
  std::string deleteImages, deleteGroupFolder;
  auto* storagesCommand = app.add_subcommand(
      "storages", "List the registered storages as the configure dialog shows them, in its order: directory, a "
                  "tab, and the storage's name or <not found>");
  auto* registerCommand = app.add_subcommand(
      "register", "Register an External Storage as the configure dialog's Register does: DIR must be an existing "
                  "directory that is not registered yet (compared after %NAME% expansion, ignoring letter case "
                  "and a trailing separator); it is kept as typed. Exit status 1 with the dialog's message when "
                  "refused");
  registerCommand->add_option("DIR", config.directory, "Storage directory; may hold %NAME% references")->required();
  auto* editCommand = app.add_subcommand(
      "edit", "Change a registered storage's directory as the dialog's Edit does, with the same checks");
  editCommand->add_option("OLD", config.directory, "The directory as registered (or naming the same directory)")
      ->required();
  editCommand->add_option("NEW", config.newDirectory, "The new directory")->required();
  auto* removeCommand = app.add_subcommand(
      "remove", "Remove a storage's registration (the storage itself stays). Asks first, and asks again before "
                "saving an empty list");
  removeCommand->add_option("DIR", config.directory, "The directory as registered (or naming the same directory)")
      ->required();
  removeCommand->add_flag("--yes", config.yes, "Answer the questions with Yes instead of asking on the terminal");
  auto* setCommand = app.add_subcommand(
      "set", "Set the deletion switches of the configure dialog. Delete Group Folder can only be on while Delete "
             "images is on; turning Delete images off turns it off");
  setCommand->add_option("--delete-images", deleteImages, "Delete imported documents from the storage")
      ->check(CLI::IsMember({"on", "off"}));
  setCommand->add_option("--delete-group-folder", deleteGroupFolder,
                         "Delete a group folder once all its documents are imported")
      ->check(CLI::IsMember({"on", "off"}));
  setCommand->add_flag("--yes", config.yes,
                       "Answer Yes when asked whether to save with no storage registered");
  eshost::GroupsOptions groups;
  auto* groupsCommand = app.add_subcommand(
      "groups", "List the groups of a storage as the scan dialog shows them once every count has arrived: group "
                "name, a tab and the number of documents, in the dialog's order (by group name)");
  groupsCommand->add_option("DIR", groups.directory,
                            "Storage directory (default: the storage selected last, else the first registered); "
                            "need not be registered");
  auto* configureCommand = app.add_subcommand(
      "configure", "Open the module's configuration dialog (Windows) and save the settings when it is accepted");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (infoCommand->parsed()) return eshost::RunInfo(global, info);
  if (scanCommand->parsed()) return eshost::RunScan(global, scan);
  if (checkCommand->parsed()) return eshost::RunCheck(global, check);
  if (statusCommand->parsed()) return eshost::RunStatus(status, std::cout, std::cerr);
  if (groupsCommand->parsed()) return eshost::RunGroups(global, groups, std::cout, std::cerr);
  {
    using eshost::ConfigAction;
    auto runConfig = [&](ConfigAction action) {
      if (!deleteImages.empty()) config.deleteImages = deleteImages == "on";
      if (!deleteGroupFolder.empty()) config.deleteGroupFolder = deleteGroupFolder == "on";
      return eshost::RunConfig(global, action, config, std::cin, std::cout, std::cerr);
    };
    if (storagesCommand->parsed()) return runConfig(ConfigAction::kStorages);
    if (registerCommand->parsed()) return runConfig(ConfigAction::kRegister);
    if (editCommand->parsed()) return runConfig(ConfigAction::kEdit);
    if (removeCommand->parsed()) return runConfig(ConfigAction::kRemove);
    if (setCommand->parsed()) return runConfig(ConfigAction::kSet);
    if (configureCommand->parsed()) return runConfig(ConfigAction::kConfigure);
  }
  return 2;
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16 and are handed on as UTF-8.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(eshost::Utf16To8(reinterpret_cast<const char16_t*>(wargv[i])));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return Run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
