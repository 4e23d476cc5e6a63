#include "host/FaultSeam.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace eshost::os {

namespace fs = std::filesystem;

namespace seam {

namespace {

// What a simulated power cut takes back: data written since the file's last flush,
// entries created or renamed since their folder's last flush. Kept only while a power
// cut is armed.
struct Unflushed {
  std::map<fs::path, std::uint64_t> flushedSize;  // file -> size on stable storage
  std::vector<fs::path> created;
  struct Rename {
    fs::path from, to, replaced;  // `replaced`: a copy of what `to` held before
  };
  std::vector<Rename> renamed;
};

std::mutex seamLock;
Fault fault;
std::int64_t calls[4] = {0, 0, 0, 0};
bool tracking = false;
Unflushed unflushed;

const char* KindName(CallKind kind) {
  switch (kind) {
    case CallKind::kWrite: return "write";
    case CallKind::kFlush: return "flush";
    case CallKind::kRename: return "rename";
    case CallKind::kAppend: return "append";
  }
  return "?";
}

void UndoUnflushed() {
  std::error_code ec;
  for (const auto& [path, size] : unflushed.flushedSize)
    if (fs::exists(path, ec)) fs::resize_file(path, size, ec);
  for (auto it = unflushed.renamed.rbegin(); it != unflushed.renamed.rend(); ++it) {
    fs::rename(it->to, it->from, ec);
    if (!it->replaced.empty()) fs::rename(it->replaced, it->to, ec);
  }
  for (auto it = unflushed.created.rbegin(); it != unflushed.created.rend(); ++it) fs::remove(*it, ec);
}

}  // namespace

FaultAction Count(CallKind kind) {
  std::lock_guard<std::mutex> hold(seamLock);
  const std::int64_t n = ++calls[static_cast<int>(kind)];
  if (fault.action == FaultAction::kNone || fault.kind != kind || fault.at != n) return FaultAction::kNone;
  return fault.action;
}

[[noreturn]] void Stop(FaultAction action, CallKind kind) {
  if (action == FaultAction::kHang) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  std::lock_guard<std::mutex> hold(seamLock);
  if (action == FaultAction::kPowerCut) UndoUnflushed();
  WriteStderr(std::string("eshost: fault seam: stopped at ") + KindName(kind) + " " +
              std::to_string(calls[static_cast<int>(kind)]) + "\n");
  LeaveNow(kFaultExitStatus);
}

bool Pass(CallKind kind, std::string* why) {
  const FaultAction action = Count(kind);
  if (action == FaultAction::kNoSpace) {
    *why = NoSpaceText();
    return false;
  }
  if (action != FaultAction::kNone) Stop(action, kind);
  return true;
}

void NoteCreated(const fs::path& path) {
  if (!tracking) return;
  std::lock_guard<std::mutex> hold(seamLock);
  unflushed.created.push_back(path);
}

void NoteWrite(const fs::path& path, std::uint64_t sizeBefore) {
  if (!tracking) return;
  std::lock_guard<std::mutex> hold(seamLock);
  unflushed.flushedSize.try_emplace(path, sizeBefore);
}

void NoteFlushed(const fs::path& path) {
  if (!tracking) return;
  std::lock_guard<std::mutex> hold(seamLock);
  unflushed.flushedSize.erase(path);
}

void NoteTruncated(const fs::path& path, std::uint64_t size) {
  if (!tracking) return;
  std::lock_guard<std::mutex> hold(seamLock);
  auto it = unflushed.flushedSize.find(path);
  if (it != unflushed.flushedSize.end() && it->second > size) it->second = size;
}

void NoteFolderFlushed(const fs::path& folder) {
  if (!tracking) return;
  std::lock_guard<std::mutex> hold(seamLock);
  std::error_code ec;
  auto& c = unflushed.created;
  for (std::size_t i = 0; i < c.size();) {
    if (c[i].parent_path() == folder) {
      c.erase(c.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  auto& r = unflushed.renamed;
  for (std::size_t i = 0; i < r.size();) {
    if (r[i].to.parent_path() == folder) {
      if (!r[i].replaced.empty()) fs::remove(r[i].replaced, ec);
      r.erase(r.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

void NoteRename(const fs::path& from, const fs::path& to) {
  if (!tracking) return;
  std::lock_guard<std::mutex> hold(seamLock);
  Unflushed::Rename r{from, to, {}};
  std::error_code ec;
  if (fs::exists(to, ec)) {
    r.replaced = to;
    r.replaced += ".before-rename";
    fs::copy_file(to, r.replaced, fs::copy_options::overwrite_existing, ec);
  }
  auto it = unflushed.flushedSize.find(from);
  if (it != unflushed.flushedSize.end()) {
    const std::uint64_t size = it->second;
    unflushed.flushedSize.erase(it);
    unflushed.flushedSize[to] = size;
  }
  unflushed.renamed.push_back(r);
}

const char* NoSpaceText() { return "No space left on device"; }

}  // namespace seam

using namespace seam;

bool ParseFault(const std::string& text, Fault* out, std::string* why) {
  const auto first = text.find(':');
  const auto second = first == std::string::npos ? std::string::npos : text.find(':', first + 1);
  if (second == std::string::npos) {
    *why = "expected ACTION:KIND:N";
    return false;
  }
  const std::string action = text.substr(0, first);
  const std::string kind = text.substr(first + 1, second - first - 1);
  Fault f;
  if (action == "crash") f.action = FaultAction::kCrash;
  else if (action == "power-cut") f.action = FaultAction::kPowerCut;
  else if (action == "enospc") f.action = FaultAction::kNoSpace;
  else if (action == "hang") f.action = FaultAction::kHang;
  else {
    *why = "ACTION is crash, power-cut, enospc or hang";
    return false;
  }
  if (kind == "write") f.kind = CallKind::kWrite;
  else if (kind == "flush") f.kind = CallKind::kFlush;
  else if (kind == "rename") f.kind = CallKind::kRename;
  else if (kind == "append") f.kind = CallKind::kAppend;
  else {
    *why = "KIND is write, flush, rename or append";
    return false;
  }
  try {
    f.at = std::stoll(text.substr(second + 1));
  } catch (...) {
    f.at = 0;
  }
  if (f.at < 1) {
    *why = "N is a positive number";
    return false;
  }
  *out = f;
  return true;
}

void SetFault(const Fault& f) {
  std::lock_guard<std::mutex> hold(seamLock);
  fault = f;
  tracking = f.action == FaultAction::kPowerCut;
}

}  // namespace eshost::os
