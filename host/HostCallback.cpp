#include "host/HostCallback.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Pictorn.h"
#include "Quillet.h"
#include "host/AttrJson.h"

namespace eshost {

namespace fs = std::filesystem;

std::atomic<bool> HostCallback::interrupted{false};

namespace {
// The image library takes UTF-8 paths on every platform.
std::string Utf8Path(const fs::path& path) {
  const auto text = path.u8string();
  return std::string(text.begin(), text.end());
}
}  // namespace

HostCallback::HostCallback(CallbackOptions options) : options_(std::move(options)) {}

HostCallback::~HostCallback() {
  if (options_.progress && seq_ > 0) std::cerr << "\n";
}

bool HostCallback::Open(std::string* error) {
  if (options_.discard) return true;
  std::error_code ec;
  fs::create_directories(options_.outDir / "pages", ec);
  if (ec) {
    *error = options_.outDir.string() + ": output folder cannot be created (" + ec.message() + ")";
    return false;
  }
  manifest_.open(options_.outDir / "manifest.jsonl", std::ios::app | std::ios::binary);
  if (!manifest_) {
    *error = (options_.outDir / "manifest.jsonl").string() + ": cannot be written";
    return false;
  }
  return true;
}

bool HostCallback::IsCancelled() {
  if (interrupted.load()) return true;
  if (!writeError_.empty()) return true;
  return options_.cancelAt > 0 && seq_ >= options_.cancelAt;
}

bool HostCallback::Record(const char* call, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                          CAttrContainer* document, const std::uint8_t* content, std::uint32_t contentSize) {
  ++seq_;
  const bool accepted = !(options_.refuseAt > 0 && seq_ == options_.refuseAt);
  if (accepted) ++accepted_;
  if (!options_.discard && writeError_.empty()) {
    char stem[32];
    std::snprintf(stem, sizeof stem, "%06lld", static_cast<long long>(seq_));
    nlohmann::ordered_json line;
    line["seq"] = seq_;
    line["call"] = call;
    line["accepted"] = accepted;
    line["page"] = ContainerToJson(page);
    line["document"] = ContainerToJson(document);
    line["image_size"] = imageSize;
    const fs::path imageFile = fs::path("pages") / (std::string(stem) + ".tif");
    if (image != 0 && PictornSavePage(image, Utf8Path(options_.outDir / imageFile).c_str())) {
      line["image_file"] = imageFile.generic_string();
    } else {
      line["image_file"] = nullptr;
    }
    if (content != nullptr) {
      const fs::path contentFile = fs::path("pages") / (std::string(stem) + ".pdf");
      std::ofstream out(options_.outDir / contentFile, std::ios::binary);
      out.write(reinterpret_cast<const char*>(content), contentSize);
      line["content_size"] = contentSize;
      line["content_file"] = contentFile.generic_string();
      if (!out) writeError_ = (options_.outDir / contentFile).string() + ": cannot be written";
    }
    manifest_ << line.dump() << "\n";
    manifest_.flush();
    if (!manifest_) writeError_ = (options_.outDir / "manifest.jsonl").string() + ": cannot be written";
  }
  if (options_.progress) std::cerr << "\rpages received: " << seq_ << std::flush;
  if (onPage) onPage(accepted);
  // Everything handed over is ours now.
  delete page;
  delete document;
  if (image != 0) PictornReleaseImage(image);
  return accepted && writeError_.empty();
}

bool HostCallback::AddPage(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                           CAttrContainer* document) {
  return Record("AddPage", page, image, imageSize, document, nullptr, 0);
}

bool HostCallback::AddPageWithContent(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                                      CAttrContainer* document, std::uint8_t* content, std::uint32_t contentSize) {
  const bool accepted = Record("AddPageWithContent", page, image, imageSize, document, content, contentSize);
  std::free(content);
  return accepted;
}

}  // namespace eshost
