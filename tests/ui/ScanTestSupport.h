// Shared pieces of the scan dialog and counting worker tests: groups written with the
// producer kit, a platform hook that slows, blocks or changes a group's listing while it
// is counted, and a message receiver standing in for the dialog's window.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FaultInjection.h"
#include "producer/Producer.h"
#include "ui/DialogView.h"
#include "ui/EnumerationWorker.h"

namespace scantest {

using es::Str;
namespace fs = std::filesystem;

// A group folder with `documents` empty document folders, its lock file holding `name`
// (no lock file when `name` is null) and, when `order` is given, an order file.
inline void WriteGroup(const fs::path& storage, const std::string& folder, const char* name, int documents,
                       std::optional<std::vector<std::string>> order = std::nullopt) {
  esproduce::GroupPlan group;
  group.folderName = folder;
  if (name != nullptr) group.lockText = std::string(name) + "\r\n";
  group.order = std::move(order);
  for (int i = 0; i < documents; ++i) {
    group.documents.emplace_back();
    group.documents.back().folderName = "Doc" + std::to_string(100000 + i).substr(1);
  }
  std::string error;
  ASSERT_TRUE(esproduce::WriteGroup(storage, group, &error)) << error;
}

// The real file system, with a hook around the listing of the folders whose pattern
// contains `folder` (a group folder name). Hooks run on the worker's thread.
class HookPlatform : public es::platform::FaultyPlatform {
 public:
  Str folder;
  std::function<void()> beforeListing;         // before the folder is listed
  std::function<void(int entry)> beforeEntry;  // before entry n (from 1) is handed over

  es::platform::FolderHandle OpenFolder(const Str& path, bool followLink, es::platform::Error* error) override {
    const bool hooked = !folder.empty() && path.find(folder) != Str::npos;
    if (hooked && beforeListing) beforeListing();
    const es::platform::FolderHandle handle = FaultyPlatform::OpenFolder(path, followLink, error);
    if (hooked) hooked_ = handle;
    return handle;
  }
  bool ListFolder(es::platform::FolderHandle handle, const std::function<bool(const es::platform::FolderEntry&)>& visit,
                  es::platform::Error* error) override {
    if (handle != hooked_ || hooked_ == es::platform::kInvalidFolder) return FaultyPlatform::ListFolder(handle, visit, error);
    int entry = 0;
    return FaultyPlatform::ListFolder(
        handle, [&](const es::platform::FolderEntry& e) { return (beforeEntry ? beforeEntry(++entry) : void()), visit(e); },
        error);
  }

 private:
  std::atomic<es::platform::FolderHandle> hooked_{es::platform::kInvalidFolder};
};

// A latch any thread can open and others wait for.
class Latch {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  bool Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Opens the latch when the scope ends, so that a failing test never leaves a worker blocked.
struct OpenOnExit {
  Latch& latch;
  ~OpenOnExit() { latch.Open(); }
};

// The hooked file system with its latches, as a base of the fixtures: the worker or dialog
// of the fixture goes first, then a blocked worker is released, then the hook goes.
struct Hooked {
  // A slow listing of `folder`: `listing` opens at its 20th entry, and `afterStop` counts
  // the entries handed over after a stop was requested.
  void Slow(const Str& folder) {
    hook.folder = folder;
    hook.beforeEntry = [this](int entry) {
      if (es::StopRequested().load() == 1) ++afterStop;
      if (entry == 20) listing.Open();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
  }
  // A listing of `folder` that blocks, deaf to the stop flag, until `release` opens.
  void Stuck(const Str& folder) {
    hook.folder = folder;
    hook.beforeListing = [this] { listing.Open(), release.Wait(30000); };
  }

  HookPlatform hook;
  es::platform::ScopedPlatform installed{hook};
  Latch listing, release;
  OpenOnExit unblock{release};
  std::atomic<int> afterStop{0};
};

// The messages posted to a dialog, received by the test.
class Receiver final : public es::IMessagePoster {
 public:
  bool Post(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(message);
    }
    arrived_.notify_all();
    return true;
  }
  // The next message, or 0 when none came within `timeoutMs`.
  std::uint32_t Next(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !messages_.empty(); }))
      return 0;
    const std::uint32_t m = messages_.front();
    messages_.pop_front();
    return m;
  }
  std::size_t Pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::uint32_t> messages_;
};

using Clock = std::chrono::steady_clock;
inline long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
// Whether `done` holds within 10 seconds, tried every 10 ms (a released worker's Stop).
inline bool Eventually(const std::function<bool()>& done) {
  for (const auto start = Clock::now(); MillisSince(start) < 10000; std::this_thread::sleep_for(std::chrono::milliseconds(10)))
    if (done()) return true;
  return false;
}

}  // namespace scantest
