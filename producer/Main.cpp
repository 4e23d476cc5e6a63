// esproduce: writes an External Storage for the input module to import.
#include <cctype>
#include <chrono>
#include <iostream>
#include <map>
#include <sstream>
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

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

constexpr const char* kDescription =
    "esproduce: writes an External Storage below DIR for the input module to import: group "
    "folders with a lock file (its text is the group name) and an order file listing the "
    "documents in a shuffled order; document folders with an attribute file, TIFF page "
    "images and, on request, a commands file and a raw attribute file. DIR is created when "
    "missing; files already there are replaced, other content stays. The same options and "
    "seed write the same bytes, on Linux and on Windows alike (JPEG pages excepted: each "
    "platform has its own JPEG encoder).";

constexpr const char* kFooter =
    "Page files are named as the module expects: 1.pg, 2.pg, ... with attribute files of "
    "version 2 or none; the page value as eight hexadecimal digits (for example 00a3f101.pg) "
    "with version 1. Each page shows \"PAGE n OF m\" in large letters and a row of n small "
    "squares (as many as fit), so that it can be told apart when viewed.\n"
    "Special documents (--pdf, --damaged, --missing, --extra) are drawn from the seed, each "
    "document gets at most one role, and the summary lists them.\n"
    "Texts given here are UTF-8; the storage's text files are written in Windows-1252.\n"
    "Examples:\n"
    "  esproduce /tmp/es --groups 2 --documents 10 --pages 3\n"
    "  esproduce /tmp/es --multipage --pages 5 --compression lzw --size letter --dpi 200\n"
    "  esproduce /tmp/es --documents 20 --pdf 2 --damaged 2 --missing 1 --extra 1 --seed 7\n"
    "  esproduce /tmp/es --attr-version 1 --size 1000x1400px --commands --kvattr";

int Run(int argc, char** argv) {
  CLI::App app{kDescription};
  app.footer(kFooter);
  // Options are only ever "--name"; a folder such as "/data/es" is a folder on every target.
  app.allow_windows_style_options(false);

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

  std::string compression = "g4";
  app.add_option("--compression", compression,
                 "Compression of the TIFF page images: none, lzw, packbits, g3 (CCITT group 3, "
                 "one-dimensional), g4 (CCITT group 4) with bitonal pages; jpeg with gray pages")
      ->check(CLI::IsMember({"none", "lzw", "packbits", "g3", "g4", "jpeg"}, CLI::ignore_case))
      ->type_name("none|lzw|packbits|g3|g4|jpeg")
      ->capture_default_str();
  std::string size = "a4";
  app.add_option("--size", size,
                 "Page size: a4, letter, WIDTHxHEIGHTmm (for example 210x297mm or 215.9x279.4mm) or "
                 "WIDTHxHEIGHTpx (for example 2480x3508px); millimetres are turned into pixels at --dpi")
      ->type_name("a4|letter|WxHmm|WxHpx")
      ->capture_default_str();
  app.add_option("--dpi", options.dpi, "Resolution of the page images, dots per inch")
      ->capture_default_str()
      ->check(CLI::Range(esproduce::kMinDpi, esproduce::kMaxDpi));
  app.add_flag("--multipage", options.multipage,
               "Write each document's pages as the images of one multi-page \"1.pg\" (the attribute "
               "file's page i is image i of that file)");
  app.add_option("--pdf", options.pdfDocuments,
                 "Documents per group whose \"1.pg\" is a one-page PDF file (the attribute file "
                 "announces 1 page)")
      ->capture_default_str()
      ->check(CLI::Range(0, esproduce::kMaxDocuments));
  app.add_option("--damaged", options.damagedDocuments,
                 "Documents per group with one damaged named page: a TIFF file cut short in its "
                 "image data or a corrupt one, alternately")
      ->capture_default_str()
      ->check(CLI::Range(0, esproduce::kMaxDocuments));
  app.add_option("--missing", options.missingPageDocuments,
                 "Documents per group lacking one page file that the attribute file names")
      ->capture_default_str()
      ->check(CLI::Range(0, esproduce::kMaxDocuments));
  app.add_option("--extra", options.extraPageDocuments,
                 "Documents per group with an extra page file \"extra1.pg\" that no attribute page names")
      ->capture_default_str()
      ->check(CLI::Range(0, esproduce::kMaxDocuments));

  auto* descriptionOption = app.add_option(
      "--description", description, "Storage name, written to \"ESDesc.txt\" (not written when not given)");
  app.add_flag("--commands", options.commands,
               "Write a \"COMMANDS\" file per document (BARCODE, PILE_INDEX, SCANBATCH, SCANFOLDER)");
  app.add_flag("--kvattr", options.kvattr, "Write a \"KVATTR\" file per document");
  app.add_flag("--group-order", options.groupOrder,
               "Write the storage's \"Doc_Order.txt\" listing the groups in a shuffled order");
  app.add_option("--seed", options.seed,
                 "Seed of barcodes, page values, orders and of the choice of special documents")
      ->capture_default_str();
  app.add_option("--group-prefix", options.groupPrefix,
                 "Group folders are named PREFIX001, PREFIX002, ...; another prefix adds groups "
                 "to an existing storage")
      ->capture_default_str();
  bool quiet = false;
  app.add_flag("--quiet", quiet, "Print only the summary line, not the list of special documents");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (*descriptionOption) options.description = description;
  options.attrVersion = versions.at(Lower(version));
  options.compression = *esproduce::ParseCompression(Lower(compression));
  std::string error;
  const auto pageSize = esproduce::ParsePageSize(size, &error);
  if (!pageSize) {
    std::cerr << "esproduce: " << error << "\n";
    return 2;
  }
  options.pageSize = *pageSize;

  const auto start = std::chrono::steady_clock::now();
  esproduce::GenerateReport report;
  bool written = false;
  try {
    written = esproduce::WriteGenerated(esproduce::PathFromUtf8(dir), options, &report, &error);
  } catch (const std::exception& e) {
    std::cerr << "esproduce: " << e.what() << "\n";
    return 2;
  }
  if (!written) {
    std::cerr << "esproduce: " << error << "\n";
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  using esproduce::SpecialKind;
  const esproduce::PixelSize pixels = esproduce::ToPixels(options.pageSize, options.dpi);
  std::ostringstream line;
  line.setf(std::ios::fixed);
  line.precision(2);
  line << "esproduce: wrote " << Counted(report.groups, "group") << ", " << Counted(report.documents, "document")
       << ", " << Counted(report.pages, "page") << " in " << Counted(report.pageFiles, "page file") << ", "
       << Counted(report.files, "file") << ", " << report.bytes << " bytes"
       << " (" << esproduce::CompressionName(options.compression) << " " << pixels.width << "x" << pixels.height
       << " px at " << options.dpi << " dpi" << (options.multipage ? ", multi-page" : "") << ", "
       << VersionText(options.attrVersion) << ", seed " << options.seed << "; special documents: "
       << report.CountOf(SpecialKind::Pdf) << " PDF, " << report.CountOf(SpecialKind::Damaged) << " damaged, "
       << report.CountOf(SpecialKind::MissingPage) << " missing a page, " << report.CountOf(SpecialKind::ExtraPage)
       << " with an extra page) to " << dir << " in " << seconds << " s\n";
  std::cout << line.str();
  if (!quiet) {
    for (const esproduce::SpecialDocument& special : report.specials) {
      std::string kind = esproduce::SpecialKindName(special.kind);
      kind.resize(8, ' ');
      std::cout << "  " << kind << special.groupFolder << "/"
                << special.documentFolder;
      if (!special.pageFile.empty()) std::cout << " " << special.pageFile;
      if (!special.detail.empty()) std::cout << " (" << special.detail << ")";
      std::cout << "\n";
    }
  }
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
