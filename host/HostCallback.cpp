#include "host/HostCallback.h"

#include <cstdlib>
#include <iostream>

#include "Pictorn.h"
#include "Quillet.h"
#include "host/OutputFolder.h"

namespace eshost {

std::atomic<bool> HostCallback::interrupted{false};

HostCallback::HostCallback(CallbackOptions options, OutputFolder* output)
    : options_(std::move(options)), output_(output) {}

HostCallback::~HostCallback() {
  if (options_.progress && seq_ > 0) std::cerr << "\n";
}

bool HostCallback::IsCancelled() {
  if (interrupted.load()) return true;
  return options_.cancelAt > 0 && seq_ >= options_.cancelAt;
}

bool HostCallback::Take(const char* call, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                        CAttrContainer* document, const std::uint8_t* content, std::uint32_t contentSize) {
  ++seq_;
  bool accepted = true;
  if (options_.refuseAt > 0 && seq_ == options_.refuseAt) {
    accepted = false;
    if (!options_.discard) output_->RecordRefused(call, page, document, imageSize);
  } else if (!options_.discard) {
    const StoreOutcome outcome = output_->Store(call, page, document, image, imageSize, content, contentSize);
    accepted = outcome.accepted;
    if (outcome.repeatOf != 0) ++repeats_;
    if (!accepted) {
      refused_.push_back({outcome.document, outcome.pageInDocument, outcome.error});
      if (options_.progress) std::cerr << "\n";
      std::cerr << "eshost: page " << outcome.pageInDocument << " of "
                << (outcome.document.empty() ? std::string("a document") : outcome.document)
                << " cannot be stored, so it is refused and the document stays in the storage: " << outcome.error
                << "\n";
    }
  }
  if (accepted) ++accepted_;
  if (options_.progress) std::cerr << "\rpages received: " << seq_ << std::flush;
  if (onPage) onPage(accepted);
  // Everything handed over is ours now.
  delete page;
  delete document;
  if (image != 0) PictornReleaseImage(image);
  return accepted;
}

bool HostCallback::AddPage(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                           CAttrContainer* document) {
  return Take("AddPage", page, image, imageSize, document, nullptr, 0);
}

bool HostCallback::AddPageWithContent(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                                      CAttrContainer* document, std::uint8_t* content, std::uint32_t contentSize) {
  const bool accepted = Take("AddPageWithContent", page, image, imageSize, document, content, contentSize);
  std::free(content);
  return accepted;
}

}  // namespace eshost
