#include "PageChain.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "Pictorn.h"

namespace pictorn {
namespace {

// A few files at a time: the module reads one multi-image file while it may look at
// others (a page file's count, then its images).
struct Slot {
  FileIdentity identity;
  std::shared_ptr<const PageChain> chain;
  std::uint64_t used = 0;
};
std::mutex cacheLock;
std::array<Slot, 4> cache;
std::uint64_t useCounter = 0;

// Bytes that change when the chain may have: the header and 16 page directories spread
// over the chain (the first and the last among them), their links included.
Bytes Fingerprint(Source& source, TiffFile& tiff, const std::vector<std::uint64_t>& pages) {
  constexpr std::size_t kSamples = 16;
  Bytes out(std::min<std::uint64_t>(16, source.Size()));
  if (!source.ReadAt(0, out.data(), out.size())) out.clear();
  if (!pages.empty()) {
    const std::size_t last = pages.size() - 1;
    for (std::size_t k = 0; k < kSamples; ++k) {
      const Bytes directory = tiff.DirectoryBytes(pages[last * k / (kSamples - 1)]);
      out.insert(out.end(), directory.begin(), directory.end());
    }
  }
  return out;
}

}  // namespace

std::shared_ptr<const PageChain> WalkPages(Source& source, TiffFile& tiff, const FileIdentity* identity) {
  if (identity) {
    std::shared_ptr<const PageChain> found;
    {
      const std::lock_guard<std::mutex> hold(cacheLock);
      for (Slot& slot : cache) {
        if (slot.chain && slot.identity == *identity) {
          slot.used = ++useCounter;
          found = slot.chain;
        }
      }
    }
    if (found && Fingerprint(source, tiff, found->pages) == found->fingerprint) return found;
  }
  ChainWalk walk;
  tiff.Walk(&walk, static_cast<std::size_t>(kPictornMaxImages) + 1);
  auto chain = std::make_shared<PageChain>();
  chain->tooMany = walk.pages.size() > static_cast<std::size_t>(kPictornMaxImages);
  if (chain->tooMany) walk.pages.resize(static_cast<std::size_t>(kPictornMaxImages));
  chain->pages = std::move(walk.pages);
  chain->skipped = walk.skipped;
  if (identity) chain->fingerprint = Fingerprint(source, tiff, chain->pages);
  if (identity) {
    const std::lock_guard<std::mutex> hold(cacheLock);
    // A stale walk of the same file gives way first, else the one used longest ago.
    Slot* victim = &cache[0];
    for (Slot& slot : cache) {
      if (slot.used < victim->used) victim = &slot;
    }
    for (Slot& slot : cache) {
      if (slot.chain && slot.identity == *identity) victim = &slot;
    }
    *victim = Slot{*identity, chain, ++useCounter};
  }
  return chain;
}

}  // namespace pictorn
