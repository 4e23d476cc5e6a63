// Builds without a PDF renderer: the module then uses its replacement image.
#include "Pdf.h"

namespace pictorn {

PdfResult RenderFirstPage(const std::uint8_t*, std::uint32_t, Pixels*, std::uint32_t*, std::string* why) {
  *why = "this build of the image library renders no PDF";
  return PdfResult::NoRenderer;
}

}  // namespace pictorn
