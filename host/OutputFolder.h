// eshost's output folder: page images in pages/, large attribute values in attrs/, one
// JSON line per page in manifest.jsonl, and the delivery ledger. A page is stored so
// that it is on stable storage before eshost answers "accepted" (image and content
// flushed, their folder flushed, the manifest line and the ledger record flushed); a page
// the ledger already holds is answered "accepted" with one manifest line that refers to
// the line holding its image, and nothing is stored twice.
//
// Identity is by content, as the module does not say which folder a page came from: a
// page's key is a hash of its document's attributes, its page attributes (both without
// the scan stamp, which changes with every scan), its image and content as received, and
// how many identical pages came before it in the same document. So a kept document sent
// again is recognised page by page, and when an operator mends one of its pages only
// that page is new.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/HostOs.h"
#include "host/Ledger.h"

class CAttrContainer;

namespace eshost {

struct OutputOptions {
  std::filesystem::path dir;
  int rememberDays = 30;  // ledger records not seen for this long are dropped
};

struct StoreOutcome {
  bool accepted = false;
  std::int64_t seq = 0;       // the manifest line written
  std::int64_t repeatOf = 0;  // for a repeat: the line that holds the image
  std::string document;       // the document folder, as the import named it
  int pageInDocument = 0;     // counted from 1 in the order handed over
  std::string error;          // why the page could not be stored
};

class OutputFolder {
 public:
  // Takes the folder for this process (another eshost on it makes this fail with
  // `busy`), reads the ledger up to its last sound record, takes in the manifest lines an
  // earlier run wrote after its last ledger record, and compacts the ledger. `notes`
  // receive what the user should know (a damaged ledger, a cut manifest line).
  bool Open(const OutputOptions& options, std::vector<std::string>* notes, bool* busy, std::string* why);
  // Between the scans of a service: compacts the ledger when it has grown a lot.
  bool Maintain(std::string* why);

  // A document's import started (the module traces its folder).
  void DocumentStarted(const std::string& path);
  // Stores a page handed over; the containers stay the caller's.
  StoreOutcome Store(const char* call, const CAttrContainer* page, const CAttrContainer* document,
                     std::uint64_t image, std::uint32_t imageSize, const std::uint8_t* content,
                     std::uint32_t contentSize);
  // A page refused on request (--refuse-at): a manifest line says so, nothing is stored.
  void RecordRefused(const char* call, const CAttrContainer* page, const CAttrContainer* document,
                     std::uint32_t imageSize);
  // A damaged-pages message: false when the same text was already shown for the same
  // document and this time every page of it came as a repeat (it is then only traced).
  bool ShouldShow(const std::string& message);

  const Ledger& Journal() const { return ledger_; }
  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path ManifestPath() const { return dir_ / "manifest.jsonl"; }
  std::filesystem::path LedgerPath() const { return dir_ / "ledger.journal"; }

 private:
  // One document of this process's scans, as far as pages and messages need it.
  struct DocumentRun {
    std::string path;
    std::string name;  // the folder name the damaged-pages message uses
    Key key{};
    bool hasKey = false;
    int pages = 0;
    int repeats = 0;
    bool resentNoted = false;
    std::int64_t first = 0;  // earliest first delivery of its repeated pages
    std::map<Key, std::uint32_t> occurrences;
  };
  DocumentRun& RunFor(const CAttrContainer* document);
  bool AppendLine(const nlohmann::ordered_json& line, bool sync, std::string* why);
  bool StoreNew(const char* call, const Key& key, const CAttrContainer* page, const CAttrContainer* document,
                const std::uint8_t* image, std::size_t imageBytes, std::uint32_t imageSize, const std::uint8_t* content,
                std::uint32_t contentSize, StoreOutcome* outcome);
  bool StoreLarge(bool text, const std::uint8_t* data, std::size_t size, nlohmann::ordered_json* ref,
                  bool* wroteAny, std::string* why);
  void RecoverManifestTail(std::vector<std::string>* notes, std::int64_t now);
  bool CheckLastPage(std::vector<std::string>* notes, std::string* why);
  void CutManifest(std::uint64_t size);

  std::filesystem::path dir_;
  OutputOptions options_;
  os::FolderLock lock_;
  Ledger ledger_;
  os::File manifest_;
  std::int64_t nextSeq_ = 1;
  std::string broken_;  // set when the output can no longer be written soundly
  std::deque<DocumentRun> runs_;
  std::mutex mutex_;
};

// Seconds since 1970 as 2026-01-31T12:00:00Z.
std::string IsoTime(std::int64_t seconds);
// The documents the ledger knows as kept (sent again, or with a damaged-pages message),
// ordered by folder, as the status command and the receipt list them.
nlohmann::ordered_json KeptDocumentsJson(const Ledger& ledger);

}  // namespace eshost
