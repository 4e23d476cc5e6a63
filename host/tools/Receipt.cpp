#include "host/Receipt.h"

#include <algorithm>
#include <filesystem>

#include "base/Text.h"
#include "platform/Platform.h"
#include "storage/Layout.h"
#include "storage/Listing.h"

namespace eshost {

namespace {
double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool FolderExists(const std::string& path) {
  std::uint32_t attributes = 0;
  return es::platform::Os().GetAttributes(es::FromUtf8(path), &attributes) &&
         (attributes & es::platform::kAttrDirectory) != 0;
}
}  // namespace

void Receipt::TakeInventory(const std::vector<std::string>& directories, const std::vector<std::string>& onlyGroups) {
  for (const auto& directory : directories) {
    Storage storage;
    storage.directory = directory;
    es::Str expanded;
    if (!es::platform::Os().ExpandEnvironment(es::FromUtf8(directory), es::layout::kPathCapacity, &expanded))
      expanded = es::FromUtf8(directory);
    storage.available = FolderExists(es::ToUtf8(expanded));
    es::StrArray folders;
    es::StrArray names;
    es::DiscoverGroups(expanded, folders, names);
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (!onlyGroups.empty() &&
          std::find(onlyGroups.begin(), onlyGroups.end(), es::ToUtf8(names[i])) == onlyGroups.end())
        continue;
      Group group;
      const es::Str groupPath = es::layout::GroupFolderPath(expanded, folders[i]);
      group.path = es::ToUtf8(groupPath);
      group.folder = es::ToUtf8(folders[i]);
      group.name = es::ToUtf8(names[i]);
      es::StrArray documents;
      es::ListSubFolders(es::layout::ListingPattern(groupPath), documents);
      group.documents.reserve(documents.size());
      for (const auto& name : documents) {
        Document document;
        document.name = es::ToUtf8(name);
        group.documents.push_back(std::move(document));
      }
      storage.groups.push_back(std::move(group));
    }
    storages_.push_back(std::move(storage));
  }
}

std::string Receipt::PathOf(const Group& group, const Document& document) {
  return es::ToUtf8(es::layout::DocumentFolderPath(es::FromUtf8(group.path), es::FromUtf8(document.name)));
}

Receipt::Document* Receipt::Find(const std::string& path, Group** group) {
  for (auto& storage : storages_)
    for (auto& g : storage.groups) {
      if (path.size() <= g.path.size() || path.compare(0, g.path.size(), g.path) != 0) continue;
      const std::string name = path.substr(g.path.size() + 1);
      for (std::size_t k = 0; k < g.documents.size(); ++k) {
        const std::size_t i = (g.cursor + k) % g.documents.size();
        if (g.documents[i].name == name) {
          g.cursor = i + 1;
          *group = &g;
          return &g.documents[i];
        }
      }
    }
  return nullptr;
}

void Receipt::DocumentStarted(const std::string& documentPath) {
  Group* group = nullptr;
  current_ = Find(documentPath, &group);
  const auto now = std::chrono::steady_clock::now();
  if (currentGroup_ != nullptr) currentGroup_->last = now;
  if (group != nullptr && !group->visited) {
    group->visited = true;
    group->first = now;
  }
  currentGroup_ = group;
  if (current_ != nullptr) current_->visited = true;
}

void Receipt::PageHandedOver(bool accepted) {
  ++pages_;
  if (current_ == nullptr) return;
  if (accepted) {
    ++current_->pages;
  } else {
    ++current_->refused;
  }
}

void Receipt::Message(const std::string& text) {
  messages_.push_back(text);
  const auto index = static_cast<std::int32_t>(messages_.size() - 1);
  // The damaged-pages report names its document and group; remember it with them.
  for (auto& storage : storages_)
    for (auto& g : storage.groups) {
      if (text.find("\"" + g.name + "\"") == std::string::npos) continue;
      for (auto& d : g.documents)
        if (text.find(" " + d.name + " ") != std::string::npos) d.damagedMessage = index;
    }
}

std::size_t Receipt::Groups() const {
  std::size_t n = 0;
  for (const auto& s : storages_) n += s.groups.size();
  return n;
}

nlohmann::ordered_json Receipt::Finish(bool report) {
  const auto end = std::chrono::steady_clock::now();
  if (currentGroup_ != nullptr) currentGroup_->last = end;
  nlohmann::ordered_json storages = nlohmann::ordered_json::array();
  for (auto& storage : storages_) {
    nlohmann::ordered_json groups = nlohmann::ordered_json::array();
    for (auto& group : storage.groups) {
      nlohmann::ordered_json listed = nlohmann::ordered_json::array();
      nlohmann::ordered_json imported = nlohmann::ordered_json::array();
      nlohmann::ordered_json kept = nlohmann::ordered_json::array();
      nlohmann::ordered_json deleted = nlohmann::ordered_json::array();
      std::int64_t pages = 0;
      for (auto& d : group.documents) {
        if (report) listed.push_back(d.name);
        pages += d.pages;
        if (d.pages > 0) {
          if (report) imported.push_back(d.name);
          ++imported_;
        }
        if (FolderExists(PathOf(group, d))) {
          std::string reason;
          if (d.damagedMessage >= 0) {
            reason = "damaged pages";
          } else if (!group.visited) {
            reason = "group not imported (not available, or the scan stopped before it)";
          } else if (!d.visited) {
            reason = "not reached (the import of the group stopped before it)";
          } else if (d.refused > 0) {
            reason = "the host refused a page";
          } else if (d.pages == 0) {
            reason = "no page reached the host";
          } else {
            reason = "still pending when the import stopped, or images are not deleted";
          }
          if (report) {
            nlohmann::ordered_json k{{"name", d.name}, {"reason", reason}};
            if (d.damagedMessage >= 0) k["message"] = messages_[static_cast<std::size_t>(d.damagedMessage)];
            kept.push_back(k);
          }
          ++kept_;
        } else {
          if (report) deleted.push_back(d.name);
          ++deleted_;
        }
      }
      if (!report) continue;
      groups.push_back({{"path", group.path},
                        {"folder", group.folder},
                        {"name", group.name},
                        {"documents_listed", listed},
                        {"imported", imported},
                        {"kept", kept},
                        {"deleted", deleted},
                        {"pages_handed_over", pages},
                        {"group_folder_deleted", !FolderExists(group.path)},
                        {"elapsed_seconds", group.visited ? Seconds(group.last - group.first) : 0.0}});
    }
    if (report) storages.push_back({{"directory", storage.directory}, {"available", storage.available}, {"groups", groups}});
  }
  nlohmann::ordered_json out;
  out["storages"] = storages;
  out["pages_handed_over"] = pages_;
  out["documents_imported"] = imported_;
  out["documents_kept"] = kept_;
  out["documents_deleted"] = deleted_;
  out["messages"] = messages_;
  out["elapsed_seconds"] = Seconds(end - start_);
  return out;
}

}  // namespace eshost
