// The page directories of a file, walked once and kept for the file, so that the images
// of a long file read one after another cost time in proportion to their number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Source.h"
#include "TiffLayout.h"

namespace pictorn {

struct PageChain {
  std::vector<std::uint64_t> pages;  // offsets of the page directories, at most kPictornMaxImages
  std::uint32_t skipped = 0;         // reduced-resolution images and masks
  bool tooMany = false;              // the file holds more pages than kPictornMaxImages
  Bytes fingerprint;                 // the header and the start of some page directories
};

// The chain of the TIFF file `tiff` (opened on `source`), from the cache when `identity`
// (null: not known) names a file walked before and its fingerprint is unchanged: a file
// rewritten within the clock's resolution, or a new file on a reused file number, is
// walked anew.
std::shared_ptr<const PageChain> WalkPages(Source& source, TiffFile& tiff, const FileIdentity* identity);

}  // namespace pictorn
