// The structure of a classic TIFF file, read with every size and offset checked against
// the file: the chain of image directories, the facts of one image, and that image
// copied out as a self-contained single-image file for the decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Source.h"

namespace pictorn {

struct TiffPage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t bitsPerSample = 1;
  std::uint32_t samplesPerPixel = 1;
  std::uint32_t compression = 1;
  std::uint32_t photometric = kUnknown;
  std::uint32_t planar = 1;
  std::uint32_t resolutionUnit = 2;  // inch, the TIFF default
  double xResolution = 0;            // as stored; 0 when absent or unusable
  double yResolution = 0;
  bool tiled = false;
  std::uint64_t dataBytes = 0;       // the sum of the strip or tile byte counts

  static constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
  bool IsBitonal() const { return samplesPerPixel == 1 && bitsPerSample == 1; }
  // One sample per pixel that the photometric interpretation calls gray.
  bool IsGray() const { return samplesPerPixel == 1 && (photometric <= 1 || photometric == kUnknown); }
};

class TiffFile {
 public:
  explicit TiffFile(Source& source) : source_(source) {}

  // Reads the header. False when the source is not a classic TIFF file.
  bool Open(std::string* why);

  // Offsets of the first directories of the chain, at most `limit`. The walk ends at a
  // link of 0, at a directory that does not lie whole inside the file, and at a link
  // back to a directory already seen.
  std::vector<std::uint64_t> Directories(std::uint32_t limit);

  // The facts of the image whose directory starts at `directory`. False when the
  // directory lacks what a page needs or its image data does not lie inside the file.
  bool ReadPage(std::uint64_t directory, TiffPage* page, std::string* why);

  // As ReadPage, and the image as a self-contained single-image TIFF file in the same
  // byte order: its directory without links to other directories, its values and its
  // image data.
  bool ExtractPage(std::uint64_t directory, TiffPage* page, Bytes* file, std::string* why);

 private:
  struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint8_t field[4] = {};    // the value when it fits, else its offset
    std::uint64_t byteSize = 0;    // 0 for an unknown type
  };
  struct Directory {
    std::vector<Entry> entries;
    std::vector<std::uint64_t> dataOffsets;
    std::vector<std::uint64_t> dataCounts;
  };

  bool ReadDirectory(std::uint64_t offset, Directory* directory, std::string* why);
  bool Analyse(Directory& directory, TiffPage* page, std::string* why);
  // The value bytes of an entry, as stored.
  bool ValueBytes(const Entry& entry, Bytes* bytes);
  bool Numbers(const Entry& entry, std::uint64_t maxCount, std::vector<std::uint64_t>* numbers);
  std::uint32_t U16(const std::uint8_t* p) const;
  std::uint32_t U32(const std::uint8_t* p) const;

  Source& source_;
  bool bigEndian_ = false;
  std::uint64_t first_ = 0;
};

}  // namespace pictorn
