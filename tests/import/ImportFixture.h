// An element to import storages built with the producer kit (tests/support/StoragePlans.h),
// and a host callback that records every page it is given.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Pictorn.h"
#include "Quillet.h"
#include "attrs/AttributeIds.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "frame/Element.h"
#include "platform/FaultInjection.h"
#include "producer/Producer.h"
#include "storage/GroupImport.h"
#include "storage/Listing.h"
#include "tests/support/Capture.h"
#include "tests/support/StoragePlans.h"

namespace estest {

namespace fs = std::filesystem;

struct Attr {
  long number = 0;
  std::u16string text;
  std::vector<std::uint8_t> bytes;
};
using AttrMap = std::map<std::uint32_t, Attr>;

inline AttrMap Snapshot(const CAttrContainer* c) {
  AttrMap out;
  if (c == nullptr) return out;
  for (std::uint32_t i = 0; i < c->Count(); ++i) {
    std::uint32_t id = 0;
    AttrVariant v{};
    c->GetAt(i, &id, &v);
    Attr& a = out[id];
    if (v.type == es::attrs::kTypeInt || v.type == es::attrs::kTypeLong)
      a.number = v.number;
    else if (v.type == es::attrs::kTypeText)
      a.text.assign(v.text, v.textLength);
    else
      a.bytes.assign(v.bytes, v.bytes + v.size);
  }
  return out;
}

struct Delivered {
  std::string call;
  bool accepted = true;
  AttrMap page;
  bool hasDocument = false;
  AttrMap document;
  std::uint32_t contentSize = 0;
  std::u16string Id() const {
    auto it = page.find(es::attrs::kPageSourceName);
    return it == page.end() ? u"" : it->second.text;
  }
  long Number(std::uint32_t id) const {
    auto it = page.find(id);
    return it == page.end() ? -999999 : it->second.number;
  }
};

// The host side: records each page, answers as told, releases what it receives.
class RecordingCallback final : public IScanningCallback {
 public:
  bool unattended = false;
  int refuseAt = 0;  // 1-based call number to refuse
  int cancelAt = 0;  // IsCancelled true after this call
  std::function<void(int call)> beforeAnswer;  // may throw to simulate a crash
  std::vector<Delivered> pages;

  bool IsCancelled() override { return cancelAt > 0 && static_cast<int>(pages.size()) >= cancelAt; }
  bool AddPageWithContent(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize, CAttrContainer* document,
                          std::uint8_t* content, std::uint32_t contentSize) override {
    std::free(content);  // ours from the hand-over, also when Take throws to stop the import
    return Take("AddPageWithContent", page, image, document, contentSize);
  }
  bool AddPage(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize, CAttrContainer* document) override {
    return Take("AddPage", page, image, document, 0);
  }
  HResult Reserved3() override { return kE_NOTIMPL; }
  bool IsUnattended() override { return unattended; }

  std::vector<std::u16string> AcceptedIds() const {
    std::vector<std::u16string> ids;
    for (const auto& p : pages)
      if (p.accepted) ids.push_back(p.Id());
    return ids;
  }

 private:
  bool Take(const char* call, CAttrContainer* page, std::uint64_t image, CAttrContainer* document,
            std::uint32_t contentSize) {
    Delivered d{call, true, Snapshot(page), document != nullptr, Snapshot(document), contentSize};
    delete page;
    delete document;
    if (image != 0) PictornReleaseImage(image);
    const int call_number = static_cast<int>(pages.size()) + 1;
    if (beforeAnswer) beforeAnswer(call_number);
    d.accepted = !(refuseAt > 0 && call_number == refuseAt);
    pages.push_back(d);
    return d.accepted;
  }
};

// An element as a host holds it, with both deletion switches as given.
class ElementHolder {
 public:
  explicit ElementHolder(bool deleteImages = true, bool deleteGroupFolder = true) {
    IElementFactory* factory = nullptr;
    es::CreateImplements(1, &factory);
    static_cast<IElementFactoryScanning*>(factory)->CreateElement(&raw_);
    factory->DeleteThis();
    element = static_cast<es::CElement*>(static_cast<IElementScanning*>(raw_));
    element->LoadSettings(nullptr);
    element->DeleteFaxes = deleteImages ? 1 : 0;
    element->DeleteGroupFolder = deleteGroupFolder ? 1 : 0;
  }
  ~ElementHolder() { raw_->DeleteThis(); }
  ElementHolder(const ElementHolder&) = delete;
  ElementHolder& operator=(const ElementHolder&) = delete;
  es::CElement* element = nullptr;

 private:
  IElement* raw_ = nullptr;
};

// An import as the element's Scan runs it, on the platform given, handing pages to a host
// that records them; with the traces and messages it gave.
struct Importer {
  void Groups(const es::StrArray& paths, const es::StrArray& names, es::platform::FaultyPlatform* faulty = nullptr) {
    std::optional<es::platform::ScopedPlatform> use;
    if (faulty != nullptr) use.emplace(*faulty);
    holder.element->callback = &callback;
    es::ModuleStateScope scope;
    es::ImportGroups(*holder.element, paths, names, nullptr);
  }
  // Every group a scan finds available in `storage`.
  void All(const TempStorage& storage, es::platform::FaultyPlatform* faulty = nullptr) {
    std::optional<es::platform::ScopedPlatform> use;
    if (faulty != nullptr) use.emplace(*faulty);
    es::StrArray folders, names, paths;
    es::DiscoverGroups(storage.Dir(), folders, names);
    for (const auto& f : folders) paths.push_back(es::JoinPath(storage.Dir(), f));
    Groups(paths, names);
  }
  void Deletion(bool images, bool groupFolder) {
    holder.element->DeleteFaxes = images ? 1 : 0;
    holder.element->DeleteGroupFolder = groupFolder ? 1 : 0;
  }
  // The texts of all messages shown, one a line.
  std::u16string Shown() const {
    std::u16string all;
    for (const auto& b : boxes.boxes) all += b.text + u"\n";
    return all;
  }
  bool Traced(const std::u16string& part) {
    for (const auto& l : traces.Lines())
      if (l.text.find(part) != std::u16string::npos) return true;
    return false;
  }
  ElementHolder holder;
  RecordingCallback callback;
  TraceCapture traces;
  MessageCapture boxes;
};

// Ages a group's lock file, as one a producer finished writing long ago.
inline void AgeLock(const fs::path& group) {
  fs::last_write_time(group / "GR_LOCK.TXT", fs::last_write_time(group / "GR_LOCK.TXT") - std::chrono::minutes(5));
}

}  // namespace estest
