// PDF rendering through poppler's C++ interface.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <climits>
#include <cstring>
#include <cmath>
#include <memory>
#include <mutex>

#include "Pdf.h"
#include "Pictorn.h"

namespace pictorn {
namespace {

void Quiet(const std::string&, void*) {}

// poppler keeps global state (its error sink, font caches); one rendering at a time.
std::mutex renderLock;

}  // namespace

PdfResult RenderFirstPage(const std::uint8_t* bytes, std::uint32_t count, Pixels* pixels,
                          std::uint32_t* dpi, std::string* why) {
  if (count > static_cast<std::uint32_t>(INT_MAX)) {
    *why = "the PDF is too large";
    return PdfResult::Failed;
  }
  const std::lock_guard<std::mutex> hold(renderLock);
  poppler::set_debug_error_function(Quiet, nullptr);
  const std::unique_ptr<poppler::document> document(
      poppler::document::load_from_raw_data(reinterpret_cast<const char*>(bytes), static_cast<int>(count)));
  if (!document) {
    *why = "the PDF cannot be read";
    return PdfResult::Failed;
  }
  if (document->is_locked()) {
    *why = "the PDF is protected by a password";
    return PdfResult::Failed;
  }
  if (document->pages() < 1) {
    *why = "the PDF has no page";
    return PdfResult::Failed;
  }
  const std::unique_ptr<poppler::page> page(document->create_page(0));
  if (!page) {
    *why = "the PDF's first page cannot be read";
    return PdfResult::Failed;
  }
  // Points are 1/72 inch; the rendered page stays within the pixel budget.
  const poppler::rectf box = page->page_rect();
  const double inches = std::fabs(box.width() * box.height()) / (72.0 * 72.0);
  const double budget = static_cast<double>(kPictornMaxRenderPixels);
  double resolution = *dpi;
  if (inches * resolution * resolution > budget) resolution = std::floor(std::sqrt(budget / inches));
  // Rounding to whole pixels may add a row and a column.
  while (resolution >= 1 && (std::ceil(box.width() / 72.0 * resolution) + 1) *
                                    (std::ceil(box.height() / 72.0 * resolution) + 1) > budget) {
    resolution -= 1;
  }
  if (!(resolution >= 1) || !(inches > 0)) {
    *why = "the PDF's first page has no usable size";
    return PdfResult::Failed;
  }
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  renderer.set_image_format(poppler::image::format_argb32);
  const poppler::image image = renderer.render_page(page.get(), resolution, resolution);
  if (!image.is_valid() || image.width() <= 0 || image.height() <= 0 ||
      image.format() != poppler::image::format_argb32) {
    *why = "the PDF's first page cannot be rendered";
    return PdfResult::Failed;
  }
  const auto width = static_cast<std::uint32_t>(image.width());
  const auto height = static_cast<std::uint32_t>(image.height());
  if (!Allocate(pixels, width, height, 24)) {
    *why = "the rendered page is too large";
    return PdfResult::Failed;
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(image.const_data()) +
                     static_cast<std::size_t>(y) * static_cast<std::size_t>(image.bytes_per_row());
    std::uint8_t* out = pixels->data.data() + static_cast<std::size_t>(y) * pixels->stride;
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint32_t argb;
      std::memcpy(&argb, in + 4 * x, 4);
      out[3 * x] = static_cast<std::uint8_t>(argb >> 16);
      out[3 * x + 1] = static_cast<std::uint8_t>(argb >> 8);
      out[3 * x + 2] = static_cast<std::uint8_t>(argb);
    }
  }
  *dpi = static_cast<std::uint32_t>(resolution);
  return PdfResult::Rendered;
}

}  // namespace pictorn
