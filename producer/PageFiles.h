// Page files of generated storages. Pages differ only in the page number they show, so
// each distinct file is encoded once and its bytes are reused by every document.
#pragma once

#include <map>
#include <memory>
#include <tuple>
#include <utility>

#include "producer/Producer.h"

namespace esproduce {

class PageFileCache {
 public:
  // Throws std::invalid_argument when this build cannot write the compression or the
  // page size is out of range.
  PageFileCache(Compression compression, PixelSize size, std::uint32_t dpi);

  // Page `number` of `count` as a single-image file.
  std::shared_ptr<const Bytes> Single(int number, int count);
  // Pages 1 to `count` as one multi-image file.
  std::shared_ptr<const Bytes> Multi(int count);
  // The page of an "extra1.pg" file.
  std::shared_ptr<const Bytes> Extra();
  // Single(number, count) or, when `multi`, Multi(count) with `damage` applied to the
  // image of page `number`.
  std::shared_ptr<const Bytes> Damaged(int number, int count, bool multi, Damage damage);

  std::int32_t BitDepth() const { return compression_ == Compression::Jpeg ? 8 : 1; }
  PixelSize Size() const { return size_; }
  std::uint32_t Dpi() const { return dpi_; }

 private:
  PageImage Draw(int number, int count) const;
  std::shared_ptr<const Bytes> Encode(const std::vector<PageImage>& pages) const;

  Compression compression_;
  PixelSize size_;
  std::uint32_t dpi_;
  std::map<std::pair<int, int>, std::shared_ptr<const Bytes>> single_;  // by number and count
  std::map<int, std::shared_ptr<const Bytes>> multi_;   // by page count
  std::shared_ptr<const Bytes> extra_;
  std::map<std::tuple<int, int, bool, Damage>, std::shared_ptr<const Bytes>> damaged_;
};

}  // namespace esproduce
