#include "PageChain.h"

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

}  // namespace

std::shared_ptr<const PageChain> WalkPages(TiffFile& tiff, const FileIdentity* identity) {
  if (identity) {
    const std::lock_guard<std::mutex> hold(cacheLock);
    for (Slot& slot : cache) {
      if (slot.chain && slot.identity == *identity) {
        slot.used = ++useCounter;
        return slot.chain;
      }
    }
  }
  ChainWalk walk;
  tiff.Walk(&walk, static_cast<std::size_t>(kPictornMaxImages) + 1);
  auto chain = std::make_shared<PageChain>();
  chain->tooMany = walk.pages.size() > static_cast<std::size_t>(kPictornMaxImages);
  if (chain->tooMany) walk.pages.resize(static_cast<std::size_t>(kPictornMaxImages));
  chain->pages = std::move(walk.pages);
  chain->skipped = walk.skipped;
  if (identity) {
    const std::lock_guard<std::mutex> hold(cacheLock);
    Slot* oldest = &cache[0];
    for (Slot& slot : cache) {
      if (slot.used < oldest->used) oldest = &slot;
    }
    *oldest = Slot{*identity, chain, ++useCounter};
  }
  return chain;
}

}  // namespace pictorn
