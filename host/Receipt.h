// What one scan did to the registered storages, told group by group: the documents
// listed before, the ones whose pages reached the host, the ones kept (and why) and
// the ones deleted.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace eshost {

class Receipt {
 public:
  // Lists the groups and documents of the storages before the scan.
  // With `onlyGroups`, only the groups of those names are taken.
  void TakeInventory(const std::vector<std::string>& directories, const std::vector<std::string>& onlyGroups = {});
  // A document's import started (from the module's trace).
  void DocumentStarted(const std::string& documentPath);
  void PageHandedOver(bool accepted);
  // A message box of the import (damaged pages, unavailable group).
  void Message(const std::string& text);
  // Looks at the storages again and counts; builds the report (which grows with the
  // number of documents) only when asked.
  nlohmann::ordered_json Finish(bool report);

  std::int64_t Pages() const { return pages_; }
  std::int64_t Kept() const { return kept_; }
  std::int64_t Deleted() const { return deleted_; }
  std::int64_t Imported() const { return imported_; }
  std::size_t Groups() const;

 private:
  // Kept small: a storage may hold tens of thousands of documents.
  struct Document {
    std::string name;
    std::int32_t pages = 0;
    std::int32_t refused = 0;
    std::int32_t damagedMessage = -1;  // index into messages_
    bool visited = false;
  };
  struct Group {
    std::string path;
    std::string folder;
    std::string name;
    std::vector<Document> documents;
    std::size_t cursor = 0;  // documents are started in listing order: look there first
    std::chrono::steady_clock::time_point first{};
    std::chrono::steady_clock::time_point last{};
    bool visited = false;
  };
  struct Storage {
    std::string directory;
    bool available = true;
    std::vector<Group> groups;
  };
  Document* Find(const std::string& path, Group** group);
  static std::string PathOf(const Group& group, const Document& document);

  std::vector<Storage> storages_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  Document* current_ = nullptr;
  Group* currentGroup_ = nullptr;
  std::vector<std::string> messages_;
  std::int64_t pages_ = 0;
  std::int64_t kept_ = 0;
  std::int64_t deleted_ = 0;
  std::int64_t imported_ = 0;
};

}  // namespace eshost
