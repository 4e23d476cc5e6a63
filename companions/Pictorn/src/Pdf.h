// Rendering the first page of a PDF held in memory, where a renderer is built in.
#pragma once

#include <cstdint>
#include <string>

#include "Codec.h"

namespace pictorn {

enum class PdfResult { Rendered, NoRenderer, Failed };

// Renders at `*dpi`, lowered for large pages so that the result stays within
// kPictornMaxRenderPixels; the colour result is format 24.
PdfResult RenderFirstPage(const std::uint8_t* bytes, std::uint32_t count, Pixels* pixels,
                          std::uint32_t* dpi, std::string* why);

}  // namespace pictorn
