// Page images through the image library: one page of a page file, and a PDF document
// as one page with its bytes as content.
#pragma once

#include <cstdint>

#include "storage/ImportState.h"

class CAttrContainer;

namespace es {

// Reads the first image of an image file of the installation (the replacement image),
// opened without sharing.
bool ReadImagePage(const Str& path, std::uint64_t* image, std::uint32_t* imageSize, CAttrContainer*& page);
// The replacement image beside the module, found once and kept.
Str GetReplacementImagePath();
// The image of a PDF page, or the replacement image when the library cannot render it.
bool ReadPdfPageImage(const std::uint8_t* content, std::uint32_t count, std::uint64_t* image,
                      std::uint32_t* imageSize, CAttrContainer*& page);
// Hands a page over with its content bytes; the buffer and containers become the host's.
void HandOverPageWithContent(ImportState& element, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                             CAttrContainer* document, std::uint8_t* content, std::uint32_t count, bool* refused,
                             bool* stop);

}  // namespace es
