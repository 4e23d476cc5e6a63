#include "ui/EnumerationWorker.h"

#include "Tessard.h"
#include "base/Trace.h"
#include "storage/Folder.h"
#include "storage/Layout.h"

namespace es {

namespace {

// Workers started and not yet at their very end, whichever dialog started them.
std::atomic<int> g_liveWorkers{0};

// A count is in ResultSlot and the dialog has not taken it yet. A count posted by a
// worker that was then stopped may still be queued when the next worker starts; its
// message must not read the slot while the new worker writes it, nor free the slot for
// a count that nobody took.
std::atomic<bool> g_resultWaiting{false};

bool Stopping() { return StopRequested().load() == 1; }

}  // namespace

WorkerParams& TheWorkerParams() {
  static WorkerParams params;
  return params;
}

std::atomic<std::int32_t>& StopRequested() {
  static std::atomic<std::int32_t> flag{0};
  return flag;
}

Str CountDocuments(const Str& pattern) {
  // The import takes real folders only, never links: count what it would take.
  Str path = layout::OrderFileOfPattern(pattern);
  path.resize(path.size() - std::char_traits<char16_t>::length(layout::kOrderFile));
  while (path.size() > 1 && EndsWithSeparator(path)) path.pop_back();
  const Folder group = Folder::Open(path);
  if (!group.IsOpen()) return u"0";  // a group folder gone or unreadable has no documents to offer
  long long count = 0;
  bool stopped = false;
  platform::Error error = platform::Error::None;
  const bool listed = platform::Os().ListFolder(
      group.Handle(),
      [&](const platform::FolderEntry& entry) {
        if (entry.type == platform::EntryType::Folder) ++count;
        // Cancelling must not wait for a large group to be listed to its end.
        if (Stopping()) {
          stopped = true;
          return false;
        }
        return true;
      },
      &error);
  if (stopped) return Str();
  if (!listed) return u"0";
  return DecimalText(count);
}

void EnumerationWorker(WorkerParams* params) {
  KVInitW(u"Scan", 2, traceModuleHandle);
  const std::shared_ptr<platform::Event> slotFree = params->slotFree;
  for (std::size_t i = 0; i < params->folderNames.size(); ++i) {
    const Str count = CountDocuments(layout::ListingPattern(params->storageDirectory + params->folderNames[i]));
    if (Stopping()) break;
    platform::WaitPumping(*slotFree, -1);
    if (Stopping()) break;
    slotFree->Reset();
    ResultSlot& slot = TheResultSlot();
    slot.groupName = i < params->groupNames.size() ? params->groupNames[i] : Str();
    slot.folderName = params->folderNames[i];
    slot.count = count;
    g_resultWaiting.store(true, std::memory_order_release);
    // Lost when the dialog is gone; the dialog then takes no further counts either.
    params->window->Post(WM_GROUP_COUNTED, 0, 0);
  }
  params->folderNames.clear();
  KVExit(traceModuleHandle);
}

CEnumerationWorker::CEnumerationWorker() : slotFree_(std::make_shared<platform::Event>(true)) {}

CEnumerationWorker::~CEnumerationWorker() {
  if (thread_ == nullptr) return;
  // Normally stopped when the rows went; should it still run, it ends at its next test
  // of the flag and touches nothing of this dialog.
  StopRequested().store(1);
  slotFree_->Set();
}

bool CEnumerationWorker::Stop() {
  if (thread_ == nullptr) return true;
  StopRequested().store(1);
  slotFree_->Set();  // releases a worker waiting for the slot
  // A worker that has had its full time once is only looked at again: a reload that
  // stops and then starts must not keep the user waiting twice.
  if (!thread_->Join(timedOut_ ? 0 : kWorkerStopTimeoutMs)) {
    timedOut_ = true;
    return false;
  }
  thread_.reset();
  timedOut_ = false;
  return true;
}

bool CEnumerationWorker::Start(std::shared_ptr<IMessagePoster> window, const Str& storageDirectory,
                               const StrArray& folderNames, const StrArray& groupNames) {
  if (!Stop()) return false;
  if (g_liveWorkers.load() != 0) return false;  // an earlier dialog's worker still counting

  WorkerParams& params = TheWorkerParams();
  params.window = std::move(window);
  params.folderNames = folderNames;
  params.groupNames = groupNames;
  params.storageDirectory = storageDirectory;
  if (!EndsWithSeparator(params.storageDirectory)) params.storageDirectory.push_back(platform::kPathSep);
  params.slotFree = slotFree_;

  g_resultWaiting.store(false);
  slotFree_->Set();
  StopRequested().store(0);

  auto thread = std::make_unique<platform::Thread>();
  g_liveWorkers.fetch_add(1);
  const bool started = thread->Start([] {
    EnumerationWorker(&TheWorkerParams());
    g_liveWorkers.fetch_sub(1);  // the last thing the worker does with shared state
  });
  if (!started) {
    g_liveWorkers.fetch_sub(1);
    return false;
  }
  thread_ = std::move(thread);
  return true;
}

bool CEnumerationWorker::TakeResult(ResultSlot* result) {
  if (!g_resultWaiting.load(std::memory_order_acquire)) return false;
  *result = TheResultSlot();
  g_resultWaiting.store(false);
  slotFree_->Set();
  return true;
}

}  // namespace es
