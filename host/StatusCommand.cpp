// eshost status: what the delivery ledger of an output folder knows, read without
// scanning and without taking the folder from a running eshost.
#include <iostream>

#include <nlohmann/json.hpp>

#include "host/Commands.h"
#include "host/Ledger.h"
#include "host/OutputFolder.h"

namespace eshost {

namespace fs = std::filesystem;

namespace {
std::string OneLine(std::string text) {
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos;) text.replace(at, 1, " | ");
  return text;
}
}  // namespace

int RunStatus(const StatusOptions& options, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (!fs::is_directory(options.outDir, ec)) {
    err << "eshost: " << options.outDir.string() << ": no such output folder\n";
    return 2;
  }
  const fs::path file = options.outDir / "ledger.journal";
  Ledger ledger;
  const Ledger::ReadReport report = ledger.Read(file);
  const nlohmann::ordered_json kept = KeptDocumentsJson(ledger);
  if (options.json) {
    nlohmann::ordered_json j;
    j["ledger"] = file.string();
    j["found"] = report.found;
    j["damaged"] = report.damaged;
    if (report.damaged) j["damage"] = report.reason;
    j["pages_known"] = ledger.PageCount();
    j["kept_documents"] = kept;
    out << j.dump(2) << "\n";
    return 0;
  }
  if (!report.found) {
    out << file.string() << ": no ledger yet; nothing was delivered to this folder\n";
    return 0;
  }
  if (report.damaged)
    out << file.string() << ": " << report.reason << "; what follows comes from the " << report.records
        << " record(s) before it\n";
  out << file.string() << ": " << ledger.PageCount() << " page(s) known, " << kept.size()
      << " document(s) kept in a storage (sent again, or reported damaged)\n";
  for (const auto& d : kept) {
    out << d["document"].get<std::string>() << "\n  first delivery " << d["first_delivery"].get<std::string>()
        << "; sent again " << d["times_sent_again"].get<std::int64_t>() << " time(s)";
    if (!d["last_repeat"].is_null()) out << ", last " << d["last_repeat"].get<std::string>();
    out << "\n";
    if (!d["message"].is_null()) out << "  message: " << OneLine(d["message"].get<std::string>()) << "\n";
  }
  return 0;
}

}  // namespace eshost
