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
      "scan", "Import documents: every available group of every registered storage (--unattended). "
              "Pages go to DIR/pages, one JSON line per page to DIR/manifest.jsonl");
  scanCommand->add_flag("--unattended", scan.unattended,
                        "No dialog: take every available group of every registered storage; warnings are "
                        "traced instead of shown");
  scanCommand->add_option("--out", scan.outDir, "Output folder for pages and manifest.jsonl")->capture_default_str();
  scanCommand->add_option("--trace", scan.tracePath, "Append the module's trace lines to this file");
  scanCommand->add_option("--messages", scan.messagesPath,
                          "Append each message box as one JSON object (op, id or text, style) to this file");
  scanCommand->add_option("--receipt", scan.receiptPath,
                          "Write a JSON receipt: per group the documents listed, imported, kept (and why) and "
                          "deleted, pages handed over, elapsed time");
  scanCommand->add_option("--refuse-at", scan.refuseAt, "Refuse the N-th page handed over (1-based)")
      ->check(CLI::PositiveNumber);
  scanCommand->add_option("--cancel-at", scan.cancelAt, "Ask the module to stop after the N-th page")
      ->check(CLI::PositiveNumber);
  scanCommand->add_flag("--discard", scan.discard, "Write nothing (for benchmarks)");
  scanCommand->add_option("--every", scan.everySeconds,
                          "Scan again every SECONDS until interrupted (SIGINT/SIGTERM or Ctrl+C stop at the next "
                          "page; nothing is lost); exit status 0")
      ->check(CLI::PositiveNumber);
  scanCommand->add_flag("--quiet", scan.quiet, "No progress line and no summary");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (infoCommand->parsed()) return eshost::RunInfo(global, info);
  if (scanCommand->parsed()) return eshost::RunScan(global, scan);
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
