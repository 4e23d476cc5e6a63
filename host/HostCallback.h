// eshost's receiver of pages: writes each page image and one manifest line per call,
// refuses or cancels at chosen pages, and stops when the user interrupts.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "es/HostInterfaces.h"

namespace eshost {

struct CallbackOptions {
  std::filesystem::path outDir;
  bool discard = false;      // write nothing (benchmarks)
  std::int64_t refuseAt = 0;  // refuse the N-th page (1-based); 0: never
  std::int64_t cancelAt = 0;  // IsCancelled answers true after the N-th page; 0: never
  bool unattended = true;
  bool progress = false;      // a progress line on stderr
};

class HostCallback final : public IScanningCallback {
 public:
  explicit HostCallback(CallbackOptions options);
  ~HostCallback();
  HostCallback(const HostCallback&) = delete;
  HostCallback& operator=(const HostCallback&) = delete;

  // Opens DIR/manifest.jsonl for appending; false with a message when DIR is unusable.
  bool Open(std::string* error);

  bool IsCancelled() override;
  bool AddPageWithContent(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                          CAttrContainer* document, std::uint8_t* content, std::uint32_t contentSize) override;
  bool AddPage(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize, CAttrContainer* document) override;
  HResult Reserved3() override { return kE_NOTIMPL; }
  bool IsUnattended() override { return options_.unattended; }

  std::int64_t Calls() const { return seq_; }
  std::int64_t Accepted() const { return accepted_; }
  // Called after every page with the running counts (receipt bookkeeping).
  std::function<void(bool accepted)> onPage;
  // Set from a signal handler or another thread: stop at the next page.
  static std::atomic<bool> interrupted;
  // A write error of the output; the scan is stopped when one happens.
  const std::string& WriteError() const { return writeError_; }

 private:
  bool Record(const char* call, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
              CAttrContainer* document, const std::uint8_t* content, std::uint32_t contentSize);

  CallbackOptions options_;
  std::ofstream manifest_;
  std::int64_t seq_ = 0;
  std::int64_t accepted_ = 0;
  std::string writeError_;
};

}  // namespace eshost
