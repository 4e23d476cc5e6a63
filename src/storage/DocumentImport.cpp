#include "storage/DocumentImport.h"

#include <memory>
#include <optional>

#include "Pictorn.h"
#include "Quillet.h"
#include "ResourceIds.h"
#include "attrs/AttributeIds.h"
#include "attrs/CommandsFile.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "attrs/ScanStamp.h"
#include "frame/ModuleState.h"
#include "frame/Trace.h"
#include "storage/AttributeReading.h"
#include "storage/Cleanup.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "storage/PageFiles.h"
#include "storage/PageImages.h"

namespace es {

using namespace attrs;
using platform::Os;

namespace {

// A container the import still owns; handing it to the host releases it.
struct ContainerDeleter {
  void operator()(CAttrContainer* c) const { delete c; }
};
using Container = std::unique_ptr<CAttrContainer, ContainerDeleter>;

void AddDamaged(Str& list, const Str& entry) {
  if (!list.empty()) list += u", ";
  list += entry;
}

Str Indexed(std::int32_t index) { return u"(" + DecimalText(index) + u")"; }

}  // namespace

bool FileExists(const Str& path) {
  File file(path, platform::Access::Read, platform::Share::Read);
  return file.IsOpen();
}

bool IsPdfFile(File& file) {
  std::uint64_t size = 0;
  if (!file.Size(&size)) return false;
  std::uint8_t head[4] = {};
  std::size_t got = 0;
  if (!file.ReadFully(head, sizeof head, &got) || got != sizeof head) return false;
  return layout::IsPdfSignature(std::span<const std::uint8_t>(head, got), size);
}

std::int32_t ListPageFiles(const Str& folder, StrArray& list) {
  std::int32_t count = 0;
  Os().Enumerate(layout::PageListingPattern(folder), [&](const platform::DirEntry& entry) {
    if (entry.name == u"." || entry.name == u"..") return true;
    list.push_back(entry.name);
    ++count;
    return true;
  });
  return count;
}

void RemoveFromList(Str& name, StrArray& list) {
  name = ToUpper(name);
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (ToUpper(*it) == name) {
      list.erase(it);
      return;
    }
  }
}

void SetExtraPageAttributes(CElement& element, std::int32_t pageNumber, CAttrContainer* page) {
  char16_t typeName[256] = {};
  Os().LoadString(CurrentModuleState()->resources, IDS_EXTRA_PAGE_TYPE, typeName, 256);
  page->SetAttr(kPageSourceName, typeName, 0);
  page->SetAttr(kPageAttr0E, 1L, 0);
  page->SetAttr(kPageAllowRescan, element.AllowRescanning != 0 ? 1L : 0L, 0);
  const ScanStamp stamp = CurrentScanStamp();
  page->SetAttr(kPageScanStamp, stamp.data(), kScanStampSize, 0);
  page->SetAttr(kPageAttr0D, 0L, 0);
  page->SetAttr(kPageFirstOfDocument, pageNumber == 1 ? 1 : 0, 0);
}

void HandOverPage(CElement& element, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                  CAttrContainer* document, bool* refused, bool* stop) {
  *refused = false;
  *stop = false;
  if (element.callback == nullptr) {
    // Nobody to take the page: it goes, and the import goes on as if it was taken.
    delete page;
    delete document;
    PictornReleaseImage(image);
    return;
  }
  const bool accepted = element.callback->AddPage(page, image, imageSize, document);
  *refused = !accepted;
  *stop = element.callback->IsCancelled() || *refused;
}

std::int32_t ImportDocument(CElement& element, const Str& folder, bool notFirst, DocumentOutcome* outcome) {
  *outcome = DocumentOutcome{};
  Trace(kSevProgress, kSourceFrame, __LINE__, u"Directory to scan: '%s'", folder.c_str());
  const Str firstPage = layout::FirstPagePath(folder);
  const Str attrPath = layout::AttributeFilePath(folder);
  Trace(kSevProgress, kSourceFrame, __LINE__, u"SCATTR file: '%s'", attrPath.c_str());

  StrArray list;
  std::int32_t pageFileCount = ListPageFiles(folder, list);
  File multiPage;  // "1.pg" of a multi-page document, open while its images are read

  if (FileExists(firstPage)) {
    File first(firstPage, platform::Access::Read, platform::Share::Read);
    if (!first.IsOpen()) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_MULTIPAGE_UNOPENABLE, firstPage.c_str());
      return kDocumentFailed;
    }
    if (IsPdfFile(first)) {
      first.Close();
      if (pageFileCount > 1)
        Trace(kSevSkipped, kSourceFrame, __LINE__, "%s: PDF Document includes unsupported additional pages.",
              folder.c_str());
      Str firstName = layout::kFirstPageFile;
      RemoveFromList(firstName, list);
      bool accepted = false;
      const std::int32_t result = ImportPdfDocument(element, firstPage, folder, attrPath, &accepted);
      outcome->pagesHandedOver = accepted ? 1 : 0;
      // The previous document's pages all reached the host before this one started.
      if (notFirst) FinishDocument(element);
      return result;
    }
    const std::int32_t images = PictornImageCount(first.Handle());
    if (images < 2) {
      first.Close();
    } else {
      multiPage = std::move(first);
      pageFileCount = images - 1 + pageFileCount;
      Str firstName = layout::kFirstPageFile;
      RemoveFromList(firstName, list);
    }
  }

  Container document(new CAttrContainer(kScopeDocument));
  CDocAttrsImport reader;
  CDocAttrsImportV1 readerV1;
  AttrFileHeader header;
  if (!ReadAttributes(element, reader, attrPath, document.get(), folder, pageFileCount, &header)) {
    Trace(kSevError, kSourceFrame, __LINE__, IDS_ATTRS_UNREADABLE, attrPath.c_str());
    if (multiPage.IsOpen()) list.insert(list.begin(), layout::kFirstPageFile);
    header.version = kAttrFileVersion2;
    header.pageCount = 0;
  } else if (header.version != kAttrFileVersion2) {
    Trace(kSevError, kSourceFrame, __LINE__, IDS_OLD_VERSION);
    if (!ReadAttributesV1(element, readerV1, attrPath, document.get(), folder, pageFileCount, &header)) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_ATTRS_UNREADABLE, attrPath.c_str());
      return kDocumentFailed;
    }
  }
  ReadCommandFiles(folder, document.get());

  const bool version2 = header.version == kAttrFileVersion2;
  // A file cannot hold more page records than 8-byte steps: a count beyond that is
  // damage, and walking it would trace the same failure billions of times.
  std::int32_t namedPages = header.pageCount;
  const auto recordLimit = static_cast<std::int64_t>(reader.FileSize() / 8);
  if (version2 && namedPages > recordLimit) {
    Trace(kSevError, kSourceFrame, __LINE__, u"Attribute file %s announces %d pages but can hold at most %d.",
          attrPath.c_str(), namedPages, static_cast<int>(recordLimit));
    namedPages = static_cast<std::int32_t>(recordLimit);
  }
  std::int32_t handed = 0;
  Str damaged;
  // Hands a page over; the document container rides with the first one. Returns the
  // document result when the import of the document ends here (refused or stopped).
  // The first page the host accepts finishes the document before this one.
  auto handOver = [&](Container page, std::uint64_t image, std::uint32_t imageSize) -> std::optional<std::int32_t> {
    bool refused = false;
    bool stop = false;
    HandOverPage(element, page.release(), image, imageSize, document.release(), &refused, &stop);
    if (stop) {
      outcome->pagesHandedOver = handed + (refused ? 0 : 1);
      return refused ? kDocumentFailed : kDocumentStopped;
    }
    if (handed == 0 && notFirst) FinishDocument(element);
    ++handed;
    return std::nullopt;
  };
  // The library writes into the container it is given; should it hand back another,
  // that one is the page's.
  auto adopt = [](Container& page, CAttrContainer* target) {
    if (target != page.get()) {
      page.release();
      page.reset(target);
    }
  };

  for (std::int32_t i = 0; i < namedPages; ++i) {
    Container page(new CAttrContainer(kScopePage));
    std::uint32_t pageValue = 0;
    const bool read = version2 ? reader.ReadPageAttributes(i, page.get(), &pageValue)
                               : readerV1.ReadPageAttributes(i, page.get(), &pageValue);
    long present = 0;
    if (document && document->GetAttr(kDocBarcodePending, &present, 0)) document->SetAttr(kDocBarcodePending, 1L, 0);
    if (!read) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_PAGE_ATTRS_UNREADABLE, attrPath.c_str());
      // The page never reaches the host, so the document must not be deleted.
      AddDamaged(damaged, version2 ? ToUpper(layout::PageFileNameV2(i + 1)) : u"page" + Indexed(i + 1));
      continue;
    }
    Str pageName;
    std::uint64_t image = 0;
    std::uint32_t imageSize = 0;
    CAttrContainer* target = page.get();
    if (multiPage.IsOpen()) {
      pageName = layout::kFirstPageFile;
      if (GT_CreatePageAttrsFromHandle(multiPage.Handle(), i, &image, &imageSize, target, 1) != 0) {
        const Str index = Indexed(i);
        Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_CREATE_PAGE_FAILED, index.c_str(), firstPage.c_str());
        AddDamaged(damaged, pageName + index);
        continue;
      }
    } else {
      pageName = version2 ? layout::PageFileNameV2(i + 1) : layout::PageFileNameV1(pageValue);
      const Str pagePath = layout::PageFilePath(folder, pageName);
      RemoveFromList(pageName, list);
      if (!ReadImagePage(pagePath, &image, &imageSize, target)) {
        Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_IMAGE_UNREADABLE, pagePath.c_str());
        AddDamaged(damaged, pageName);
        continue;
      }
    }
    adopt(page, target);
    page->SetAttr(kPageFirstOfDocument, i == 0 ? 1 : 0, 0);
    if (page->GetAttr(kPageAttr0D, &present, 0)) page->SetAttr(kPageAttr0D, 0L, 0);
    page->SetAttr(kPageAttr0E, 1L, 0);
    page->SetAttr(kPageAllowRescan, element.AllowRescanning != 0 ? 1L : 0L, 0);

    if (const auto ended = handOver(std::move(page), image, imageSize)) return *ended;
    element.lastPageName = pageName;
  }
  multiPage.Close();

  for (const Str& name : list) {
    const Str path = JoinAlways(folder, name);
    File file(path, platform::Access::Read, platform::Share::Read);
    if (!file.IsOpen()) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, Log::kFileCannotBeOpened, path.c_str());
      AddDamaged(damaged, name);
      continue;
    }
    const std::int32_t images = PictornImageCount(file.Handle());
    if (images <= 0) AddDamaged(damaged, name);
    for (std::int32_t j = 0; j < images; ++j) {
      Container page(new CAttrContainer(kScopePage));
      std::uint64_t image = 0;
      std::uint32_t imageSize = 0;
      CAttrContainer* target = page.get();
      if (GT_CreatePageAttrsFromHandle(file.Handle(), j, &image, &imageSize, target, 1) != 0) {
        const Str index = Indexed(j);
        Trace(kSevError, kSourceFrame, __LINE__, IDS_CREATE_PAGE_FAILED, index.c_str(), path.c_str());
        AddDamaged(damaged, name + index);
        continue;
      }
      adopt(page, target);
      SetExtraPageAttributes(element, handed + 1, page.get());
      if (const auto ended = handOver(std::move(page), image, imageSize)) return *ended;
    }
    file.Close();
    element.lastPageName = name;
  }

  outcome->pagesHandedOver = handed;
  outcome->damagedPages = damaged;
  // The entries wait with the document until it is finished; a document that handed
  // nothing over is reported by the group driver under its own name.
  if (!damaged.empty() && handed > 0) AddDamaged(element.damagedPages, damaged);
  return kDocumentDone;
}

}  // namespace es
