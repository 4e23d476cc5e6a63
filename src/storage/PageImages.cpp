#include "storage/PageImages.h"

#include <cstdlib>
#include <memory>

#include "Pictorn.h"
#include "Quillet.h"
#include "ResourceIds.h"
#include "attrs/AttributeIds.h"
#include "attrs/CommandsFile.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "frame/ModuleState.h"
#include "frame/Trace.h"
#include "storage/AttributeReading.h"
#include "storage/File.h"
#include "storage/Layout.h"

namespace es {

using namespace attrs;
using platform::Os;

bool ReadImagePage(const Str& path, std::uint64_t* image, std::uint32_t* imageSize, CAttrContainer*& page) {
  // Without sharing: a page file another program still holds open is not finished.
  File file(path, platform::Access::Read, platform::Share::None);
  if (!file.IsOpen()) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_TIFF_MISSING, path.c_str());
    return false;
  }
  const std::int32_t result = GT_CreatePageAttrsFromHandle(file.Handle(), 0, image, imageSize, page, 1);
  return result == 0;
}

Str GetReplacementImagePath() {
  Str& kept = ReplacementImagePathCache();
  if (!kept.empty()) return kept;
  void* module = Os().ModuleHandleByName(platform::kModuleFileName);
  if (module == nullptr)
    Trace(kSevSkipped, kSourceFrame, __LINE__, u"Cannot retrieve handle of %s", platform::kModuleFileName);
  kept = layout::ReplacementImagePath(Os().ModuleFileName(module));
  return kept;
}

bool ReadPdfPageImage(const std::uint8_t* content, std::uint32_t count, std::uint64_t* image,
                      std::uint32_t* imageSize, CAttrContainer*& page) {
  if (PictornImageFromMemory(image, 0, imageSize, page, 1, content, count) == 0) return true;
  const Str replacement = GetReplacementImagePath();
  if (ReadImagePage(replacement, image, imageSize, page)) return true;
  Trace(kSevSkipped, kSourceFrame, __LINE__, "Cannot read replacement pdf image %s", replacement.c_str());
  return false;
}

void HandOverPageWithContent(CElement& element, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                             CAttrContainer* document, std::uint8_t* content, std::uint32_t count, bool* refused,
                             bool* stop) {
  *refused = false;
  *stop = false;
  if (element.callback == nullptr) {
    delete page;
    delete document;
    std::free(content);
    PictornReleaseImage(image);
    return;
  }
  const bool accepted = element.callback->AddPageWithContent(page, image, imageSize, document, content, count);
  *refused = !accepted;
  *stop = element.callback->IsCancelled() || *refused;
}

namespace {
struct ContainerDeleter {
  void operator()(CAttrContainer* c) const { delete c; }
};
using Container = std::unique_ptr<CAttrContainer, ContainerDeleter>;
struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};
}  // namespace

std::int32_t ImportPdfDocument(CElement& element, const Str& firstPagePath, const Str& folder, const Str& attrPath,
                               bool* accepted) {
  *accepted = false;
  constexpr std::int32_t kPdfPageFileCount = 1;
  Container document(new CAttrContainer(kScopeDocument));
  CDocAttrsImport reader;
  CDocAttrsImportV1 readerV1;
  AttrFileHeader header;
  if (!ReadAttributes(element, reader, attrPath, document.get(), folder, kPdfPageFileCount, &header)) {
    Trace(kSevError, kSourceFrame, __LINE__, IDS_ATTRS_UNREADABLE, attrPath.c_str());
    header.version = kAttrFileVersion2;
    header.pageCount = 0;
  }
  if (header.version != kAttrFileVersion2) {
    Trace(kSevError, kSourceFrame, __LINE__, IDS_OLD_VERSION);
    if (!ReadAttributesV1(element, readerV1, attrPath, document.get(), folder, kPdfPageFileCount, &header)) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_ATTRS_UNREADABLE, attrPath.c_str());
      return 3;
    }
  }
  if (header.pageCount > 1)
    Trace(kSevSkipped, kSourceFrame, __LINE__, "%s: PDF Document includes unsupported additional pages.", folder.c_str());
  ReadCommandFiles(folder, document.get());

  const bool version2 = header.version == kAttrFileVersion2;
  Container page(new CAttrContainer(kScopePage));
  std::uint32_t pageValue = 0;
  const bool read = version2 ? reader.ReadPageAttributes(0, page.get(), &pageValue)
                             : readerV1.ReadPageAttributes(0, page.get(), &pageValue);
  long present = 0;
  if (document->GetAttr(kDocBarcodePending, &present, 0)) document->SetAttr(kDocBarcodePending, 1L, 0);
  if (!read) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_PAGE_ATTRS_UNREADABLE, attrPath.c_str());
    page.reset();
  }
  const Str pageName = version2 ? layout::PageFileNameV2(1) : layout::PageFileNameV1(pageValue);

  File file(firstPagePath, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, Log::kFileCannotBeOpened, firstPagePath.c_str());
    return 3;
  }
  std::uint64_t size = 0;
  std::unique_ptr<std::uint8_t, FreeDeleter> content;
  std::size_t got = 0;
  const bool sized = file.Size(&size) && size < 0xFFFFFFFFull;
  if (sized) content.reset(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size) + 1)));
  if (!sized || !content || !file.Seek(0) || !file.ReadFully(content.get(), static_cast<std::size_t>(size), &got) ||
      got != size) {
    file.Close();
    Trace(kSevSkipped, kSourceFrame, __LINE__, "Cannot read file content ", firstPagePath.c_str());
    return 3;
  }
  file.Close();
  const auto count = static_cast<std::uint32_t>(size);
  std::uint64_t image = 0;
  std::uint32_t imageSize = 0;
  CAttrContainer* target = page.get();
  if (!ReadPdfPageImage(content.get(), count, &image, &imageSize, target)) return 3;
  if (target != page.get()) {
    page.release();
    page.reset(target);
  }
  if (page) {
    page->SetAttr(kPageFirstOfDocument, 1, 0);
    page->SetAttr(kPageAttr0E, 1L, 0);
    // A PDF page is never offered for rescanning.
    page->SetAttr(kPageAllowRescan, 0L, 0);
  }
  bool refused = false;
  bool stop = false;
  HandOverPageWithContent(element, page.release(), image, imageSize, document.release(), content.release(), count,
                          &refused, &stop);
  *accepted = !refused;
  if (!stop) {
    element.lastPageName = pageName;
    return 0;
  }
  return refused ? 3 : 4;
}

}  // namespace es
