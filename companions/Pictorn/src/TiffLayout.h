// The structure of a TIFF file (classic or BigTIFF), read with every size and offset
// checked against the file: the chain of image directories and which of them are pages,
// the facts of one image, and that image copied out as a self-contained single-image
// classic TIFF file for the decoder.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
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
  std::uint32_t fillOrder = 1;
  std::uint32_t sampleFormat = 1;    // 1 unsigned, 2 signed, 3 floating point
  std::uint32_t predictor = 1;
  std::uint32_t alpha = 0;           // the first extra sample: 1 associated, 2 unassociated alpha
  std::uint32_t extraSamples = 0;
  std::uint32_t inkSet = 1;
  std::uint32_t resolutionUnit = 2;  // inch, the TIFF default
  double xResolution = 0;            // as stored; 0 when absent or unusable
  double yResolution = 0;
  std::uint32_t rowsPerStrip = 0;   // of a page in strips, at most its height
  bool tiled = false;
  bool fromBigTiff = false;
  std::uint64_t dataBytes = 0;       // the sum of the strip or tile byte counts
  std::vector<std::uint16_t> colormap;  // red, green, blue entries of a palette image

  static constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
  std::uint32_t ColourSamples() const { return samplesPerPixel - extraSamples; }
};

// Where a walk of the chain of directories stands; kept between calls for one file.
struct ChainWalk {
  std::vector<std::uint64_t> pages;  // offsets of the page directories found so far
  std::uint64_t next = 0;            // the next directory to look at; 0 at the end
  std::uint64_t directoryBytes = 0;  // bytes of the directories walked
  std::uint32_t skipped = 0;         // reduced-resolution images and masks passed by
  std::unordered_set<std::uint64_t> seen;
  bool started = false;
};

class TiffFile {
 public:
  explicit TiffFile(Source& source) : source_(source) {}

  // Reads the header. False when the source is not a TIFF file.
  bool Open(std::string* why);

  // Walks on until `walk` holds `wantPages` page directories or the chain ends. The walk
  // ends at a link of 0, at a directory that does not lie whole inside the file, at a
  // link back to a directory already seen, and where directories would take more bytes
  // than the file has (they overlap).
  void Walk(ChainWalk* walk, std::size_t wantPages);

  // The facts of the image whose directory starts at `directory`. False when the
  // directory lacks what a page needs or its image data does not lie inside the file.
  bool ReadPage(std::uint64_t directory, TiffPage* page, std::string* why);

  // As ReadPage, and the image as a self-contained single-image classic TIFF file in the
  // same byte order: its directory without links to other directories, its values and
  // its image data.
  bool ExtractPage(std::uint64_t directory, TiffPage* page, Bytes* file, std::string* why);

  // The bytes of the directory at `offset`, from its entry count to its link (at most
  // 4 KiB of entries, then the link); empty when it does not lie in the file.
  Bytes DirectoryBytes(std::uint64_t offset);

  // The first directory of the chain (that of a file ExtractPage made).
  std::uint64_t FirstDirectory() const { return first_; }

  // The image data blocks (offsets and byte counts) of the image at `directory`, and the
  // value bytes of its entry `tag` (empty when it has none).
  bool Blocks(std::uint64_t directory, std::vector<std::uint64_t>* offsets, std::vector<std::uint64_t>* counts,
              std::uint16_t tag, Bytes* value, std::string* why);

 private:
  struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint64_t count = 0;
    std::uint8_t field[8] = {};    // the value when it fits, else its offset
    std::uint64_t byteSize = 0;    // 0 for an unknown type
  };
  struct Directory {
    std::vector<Entry> entries;
    std::vector<std::uint64_t> dataOffsets;
    std::vector<std::uint64_t> dataCounts;
  };

  // Reads the entries; `next` (when not null) gets the link to the next directory.
  bool ReadDirectory(std::uint64_t offset, Directory* directory, std::uint64_t* next, std::string* why);
  bool Analyse(Directory& directory, TiffPage* page, std::string* why);
  // The value bytes of an entry, as stored.
  bool ValueBytes(const Entry& entry, Bytes* bytes);
  bool Numbers(const Entry& entry, std::uint64_t maxCount, std::vector<std::uint64_t>* numbers);
  std::uint64_t Number(const std::uint8_t* p, unsigned size) const;
  std::uint32_t U16(const std::uint8_t* p) const;
  std::uint32_t U32(const std::uint8_t* p) const;
  std::uint64_t U64(const std::uint8_t* p) const;

  Source& source_;
  bool bigEndian_ = false;
  bool big_ = false;
  std::uint64_t first_ = 0;
};

}  // namespace pictorn
