// Storages built with the producer kit for the tests: page images, attribute files,
// documents, groups and a temporary storage folder to write them to.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QuilletBlockWriter.h"
#include "attrs/AttributeIds.h"
#include "base/Text.h"
#include "producer/Producer.h"
#include "producer/TiffWriter.h"
#include "tests/support/TempFolder.h"

namespace estest {

namespace fs = std::filesystem;

// A PackBits TIFF of `pages` bitonal images, numbered from `firstNumber`.
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

}  // namespace estest
