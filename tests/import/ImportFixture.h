// Storages built with the producer kit, an element to import them, and a host callback
// that records every page it is given.
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
#include "QuilletBlockWriter.h"
#include "attrs/AttributeIds.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "frame/Element.h"
#include "platform/FaultInjection.h"
#include "producer/Producer.h"
#include "producer/TiffWriter.h"
#include "storage/GroupImport.h"
#include "storage/Listing.h"
#include "tests/support/Capture.h"
#include "tests/support/TempFolder.h"

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

inline esproduce::Bytes Tiff(int pages, int firstNumber = 1) {
  std::vector<esproduce::PageImage> images;
  for (int i = 0; i < pages; ++i) images.push_back(esproduce::MakeBitonalPage(96, 128, 100, firstNumber + i));
  std::string error;
  esproduce::Bytes bytes = esproduce::MakeTiff(images, esproduce::Compression::PackBits, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  return bytes;
}

// A version-2 attribute file announcing one page per id; page i names "i+1.pg".
inline esproduce::Bytes AttrV2(const std::vector<std::u16string>& pageIds) {
  esproduce::AttrFileV2 file;
  file.documentBlock = QuilletBlockWriter(es::attrs::kScopeDocument).AddText(es::attrs::kDocText2, u"doc").Bytes();
  for (const auto& id : pageIds)
    file.pages.push_back({0, QuilletBlockWriter(es::attrs::kScopePage).AddText(es::attrs::kPageSourceName, id).Bytes()});
  return esproduce::Serialize(file);
}

inline esproduce::Bytes PdfBytes() {
  const std::string text = "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
  return esproduce::Bytes(text.begin(), text.end());
}

// A document whose pages carry ids "<doc>/p<n>" in 0x0107000F, with named page files.
inline esproduce::DocumentPlan NamedDocument(const std::string& name, int pages) {
  esproduce::DocumentPlan doc;
  doc.folderName = name;
  std::vector<std::u16string> ids;
  for (int i = 1; i <= pages; ++i) {
    ids.push_back(es::FromUtf8(name + "/p" + std::to_string(i)));
    doc.files.push_back({std::to_string(i) + ".pg", Tiff(1, i)});
  }
  doc.attributeFile = AttrV2(ids);
  return doc;
}

// A document folder holding `files`, and an attribute file when one is given.
inline esproduce::DocumentPlan DocumentWith(const std::string& name, std::vector<esproduce::FilePlan> files,
                                            std::optional<esproduce::Bytes> attributeFile = std::nullopt) {
  return {name, std::move(attributeFile), std::nullopt, std::nullopt, std::move(files)};
}

// A group folder whose lock file holds its name; with `order`, an order file.
inline esproduce::GroupPlan MakeGroup(const std::string& folder, std::vector<esproduce::DocumentPlan> docs,
                                      std::optional<std::vector<std::string>> order = std::nullopt) {
  return {folder, folder, std::move(order), std::nullopt, std::move(docs)};
}

// A group whose order file lists its documents as given.
inline esproduce::GroupPlan Group(const std::string& folder, std::vector<esproduce::DocumentPlan> docs) {
  std::vector<std::string> order;
  for (const auto& d : docs) order.push_back(d.folderName);
  return MakeGroup(folder, std::move(docs), std::move(order));
}

inline std::vector<esproduce::DocumentPlan> Docs(const std::string& prefix, int count, int pages) {
  std::vector<esproduce::DocumentPlan> docs;
  for (int i = 1; i <= count; ++i) docs.push_back(NamedDocument(prefix + std::to_string(i), pages));
  return docs;
}

// Groups g1..gN of `docs` documents G<g>D<d> of `pages` pages each; their page ids in `ids`.
inline esproduce::StoragePlan Plan(int groups, int docs, int pages, std::vector<std::string>* ids = nullptr) {
  esproduce::StoragePlan plan;
  for (int g = 1; g <= groups; ++g) {
    const std::string prefix = "G" + std::to_string(g) + "D";
    plan.groups.push_back(Group("g" + std::to_string(g), Docs(prefix, docs, pages)));
    for (int d = 1; d <= docs && ids != nullptr; ++d)
      for (int p = 1; p <= pages; ++p) ids->push_back(prefix + std::to_string(d) + "/p" + std::to_string(p));
  }
  return plan;
}

class TempStorage : public estest::TempFolder {
 public:
  TempStorage() : estest::TempFolder("es-import") {}
  using estest::TempFolder::Write;
  void Write(const fs::path& relative, const esproduce::Bytes& bytes) const {
    TempFolder::Write(relative, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }

  void Write(const esproduce::StoragePlan& plan) {
    std::string error;
    ASSERT_TRUE(esproduce::WriteStorage(root, plan, &error)) << error;
  }
  void Write(std::vector<esproduce::GroupPlan> groups) { Write({std::nullopt, std::nullopt, std::move(groups)}); }
  std::u16string Dir() const { return es::FromUtf8(root.string()); }
  std::u16string Group(const std::string& folder) const { return es::FromUtf8((root / folder).string()); }
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

// Everything below `root` as one text: names, types, permissions, link targets and
// contents, to compare before and after.
inline std::string Tree(const fs::path& root) {
  std::map<std::string, std::string> items;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path& p = it->path();
    const auto status = fs::symlink_status(p);
    std::string item = std::to_string(static_cast<int>(status.type())) + " " +
                       std::to_string(static_cast<int>(status.permissions()));
    if (fs::is_symlink(status)) {
      item += " -> " + fs::read_symlink(p).string();
    } else if (fs::is_regular_file(status)) {
      std::ifstream in(p, std::ios::binary);
      item += " " + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    items[fs::relative(p, root).generic_string()] = item;
  }
  std::string out;
  for (const auto& [name, item] : items) out += name + ": " + item + "\n";
  return out;
}

}  // namespace estest
