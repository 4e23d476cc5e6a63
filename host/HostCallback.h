// eshost's receiver of pages: stores each page in the output folder and answers
// "accepted" only once it is on stable storage (or known there already); refuses a page
// it cannot store, and refuses or cancels at chosen pages for testing.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "es/HostInterfaces.h"

namespace eshost {

class OutputFolder;

struct CallbackOptions {
  bool discard = false;       // write nothing, accept every page (benchmarks)
  std::int64_t refuseAt = 0;  // refuse the N-th page (1-based); 0: never
  std::int64_t cancelAt = 0;  // IsCancelled answers true after the N-th page; 0: never
  bool unattended = true;
  bool progress = false;      // a progress line on stderr
};

// A page eshost could not store and therefore refused.
struct RefusedPage {
  std::string document;  // the document folder, as the import named it
  int page = 0;          // counted from 1 in the order handed over
  std::string reason;
};

class HostCallback final : public IScanningCallback {
 public:
  // `output` may be null only with `discard`.
  HostCallback(CallbackOptions options, OutputFolder* output);
  ~HostCallback();
  HostCallback(const HostCallback&) = delete;
  HostCallback& operator=(const HostCallback&) = delete;

  bool IsCancelled() override;
  bool AddPageWithContent(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                          CAttrContainer* document, std::uint8_t* content, std::uint32_t contentSize) override;
  bool AddPage(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize, CAttrContainer* document) override;
  HResult Reserved3() override { return kE_NOTIMPL; }
  bool IsUnattended() override { return options_.unattended; }

  std::int64_t Calls() const { return seq_; }
  std::int64_t Accepted() const { return accepted_; }
  std::int64_t Repeats() const { return repeats_; }
  const std::vector<RefusedPage>& Refused() const { return refused_; }
  // Called after every page (receipt bookkeeping).
  std::function<void(bool accepted)> onPage;
  // Set by a stop request: the module is asked to stop at the next page.
  static std::atomic<bool> interrupted;

 private:
  bool Take(const char* call, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
            CAttrContainer* document, const std::uint8_t* content, std::uint32_t contentSize);

  CallbackOptions options_;
  OutputFolder* output_;
  std::int64_t seq_ = 0;
  std::int64_t accepted_ = 0;
  std::int64_t repeats_ = 0;
  std::vector<RefusedPage> refused_;
};

}  // namespace eshost
