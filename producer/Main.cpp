// esproduce: writes an External Storage for the input module to import.
#include <cctype>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "producer/Producer.h"

namespace {

const char* VersionText(esproduce::AttrVersion version) {
  switch (version) {
    case esproduce::AttrVersion::V1: return "attribute files version 1";
    case esproduce::AttrVersion::V2: return "attribute files version 2";
    case esproduce::AttrVersion::None: return "no attribute files";
  }
  return "";
}

std::string Counted(std::size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

int Run(int argc, char** argv) {
  CLI::App app{
      "esproduce: writes an External Storage below DIR: group folders with a lock file "
      "(its text is the group name) and an order file listing the documents in a shuffled "
      "order, document folders with an attribute file, page files and, on request, a "
      "commands file and a raw attribute file. DIR is created when missing; files already "
      "there are replaced, other content stays. The same options and seed write the same "
      "bytes."};
  app.footer(
      "Page files are named as the module expects: 1.pg, 2.pg, ... with attribute files of "
      "version 2 or none; the page value as eight hexadecimal digits (for example "
      "00a3f101.pg) with version 1. They hold placeholder bytes, not images.\n"
      "Texts given here are UTF-8; the storage's text files are written in Windows-1252.");

  std::string dir;
  esproduce::GenerateOptions options;
  std::string description;
  app.add_option("DIR", dir, "Folder of the storage")->required();
  app.add_option("--groups", options.groups, "Number of group folders")
      ->capture_default_str()
      ->check(CLI::Range(0, esproduce::kMaxGroups));
  app.add_option("--documents", options.documents, "Number of documents in each group")
      ->capture_default_str()
      ->check(CLI::Range(0, esproduce::kMaxDocuments));
  app.add_option("--pages", options.pages, "Number of pages of each document")
      ->capture_default_str()
      ->check(CLI::Range(0, esproduce::kMaxPages));
  const std::map<std::string, esproduce::AttrVersion> versions{
      {"1", esproduce::AttrVersion::V1}, {"2", esproduce::AttrVersion::V2}, {"none", esproduce::AttrVersion::None}};
  std::string version = "2";
  app.add_option("--attr-version", version,
                 "Layout of each document's \"SC_ATTR.BIN\": 1 (typed records), 2 (attribute "
                 "blocks) or none (no attribute file; every page file is an extra page)")
      ->check(CLI::IsMember({"1", "2", "none"}, CLI::ignore_case))
      ->type_name("1|2|none")
      ->capture_default_str();
  auto* descriptionOption = app.add_option(
      "--description", description, "Storage name, written to \"ESDesc.txt\" (not written when not given)");
  app.add_flag("--commands", options.commands,
               "Write a \"COMMANDS\" file per document (BARCODE, PILE_INDEX, SCANBATCH, SCANFOLDER)");
  app.add_flag("--kvattr", options.kvattr, "Write a \"KVATTR\" file per document");
  app.add_flag("--group-order", options.groupOrder,
               "Write the storage's \"Doc_Order.txt\" listing the groups in a shuffled order");
  app.add_option("--seed", options.seed, "Seed of barcodes, page values, resolutions and orders")
      ->capture_default_str();
  app.add_option("--group-prefix", options.groupPrefix,
                 "Group folders are named PREFIX001, PREFIX002, ...; another prefix adds groups "
                 "to an existing storage")
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (*descriptionOption) options.description = description;
  for (char& c : version) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  options.attrVersion = versions.at(version);

  esproduce::StorageSpec storage;
  try {
    storage = esproduce::GenerateStorage(options);
  } catch (const std::exception& e) {
    std::cerr << "esproduce: " << e.what() << "\n";
    return 2;
  }
  std::string error;
  if (!esproduce::WriteStorage(esproduce::PathFromUtf8(dir), storage, &error)) {
    std::cerr << "esproduce: " << error << "\n";
    return 1;
  }
  const esproduce::StorageCounts counts = esproduce::Count(storage);
  std::cout << "esproduce: wrote " << Counted(counts.groups, "group") << ", " << Counted(counts.documents, "document")
            << ", " << Counted(counts.files, "file") << " (" << VersionText(options.attrVersion) << ", seed " << options.seed
            << ") to " << dir << "\n";
  return 0;
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as UTF-16 and are handed on as UTF-8.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(esproduce::PathToUtf8(std::filesystem::path(wargv[i])));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return Run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
