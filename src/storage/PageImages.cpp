#include "storage/PageImages.h"

#include <cstdlib>
#include <memory>

#include "Pictorn.h"
#include "Quillet.h"
#include "ResourceIds.h"
#include "base/ModuleState.h"
#include "base/Trace.h"
#include "storage/File.h"
#include "storage/Layout.h"

namespace es {


using platform::Os;

bool ReadImagePage(const Str& path, std::uint64_t* image, std::uint32_t* imageSize, CAttrContainer*& page) {
  // The replacement image beside the module: a file of the installation, not of a storage,
  // which every host on the machine reads, so it is opened with read sharing; exclusively,
  // one import would find it missing while another one read it.
  File file(path, platform::Access::Read, platform::Share::Read);
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

void HandOverPageWithContent(ImportState& element, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
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

}  // namespace es
