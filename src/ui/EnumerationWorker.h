// The scan dialog's document counter: a worker thread counts the documents of each listed
// group and hands the counts to the dialog one at a time.
//
// Hand-over: the dialog fills the process-wide WorkerParams before a worker starts; the
// worker writes one count into the module-wide ResultSlot, posts WM_GROUP_COUNTED to the
// dialog and waits until the dialog has taken the count (SlotFree) before it writes the
// next. StopRequested tells the worker to end; it is tested after every directory entry.
//
// At most one worker runs in the process. A worker that could not be stopped in time
// keeps running on its own until it next tests the stop flag; until it has ended no other
// worker starts, from this dialog or a later one, so WorkerParams and ResultSlot always
// have a single writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/ModuleState.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "ui/DialogView.h"

namespace es {

// Posted to the scan dialog for every count, both parameters 0.
inline constexpr std::uint32_t WM_GROUP_COUNTED = 0x8308;
// How long the dialog's thread waits for a worker to end.
inline constexpr int kWorkerStopTimeoutMs = 2000;

// What a worker reads. Written only while no worker runs.
struct WorkerParams {
  std::shared_ptr<IMessagePoster> window;  // the scan dialog, receiver of the counts
  StrArray folderNames;                    // group folders, in the order the rows were added
  StrArray groupNames;                     // parallel to folderNames
  Str storageDirectory;                    // always ends in a separator
  // The dialog's SlotFree. The worker holds its own reference, so that a worker that
  // outlives its dialog never waits on or sets a closed event.
  std::shared_ptr<platform::Event> slotFree;
};

WorkerParams& TheWorkerParams();
// 1: the worker must stop; 0: it may run.
std::atomic<std::int32_t>& StopRequested();

// The documents of a group: the real sub-folders (a link is never a document) that
// `pattern` (group folder, separator,
// "*.*") lists, "." and ".." not counted, as decimal text. "0" when the folder cannot be
// listed; empty text when a stop was requested during the listing.
Str CountDocuments(const Str& pattern);

// The worker thread's routine: counts every group of `params` in order and hands each
// count over. Registers the thread with the logging layer for its run.
void EnumerationWorker(WorkerParams* params);

// One dialog's worker: its SlotFree event and the handle of its thread.
class CEnumerationWorker {
 public:
  // Creates SlotFree, signalled.
  CEnumerationWorker();
  // Closes SlotFree and lets go of a worker still running, after telling it to stop; a
  // worker that could not be stopped ends on its own.
  ~CEnumerationWorker();
  CEnumerationWorker(const CEnumerationWorker&) = delete;
  CEnumerationWorker& operator=(const CEnumerationWorker&) = delete;

  // Stops the running worker, then starts one for `folderNames` of `storageDirectory`
  // that posts its counts to `window`. False when no worker was started: the previous one
  // did not end in time (here or in an earlier dialog), or no thread could be created.
  bool Start(std::shared_ptr<IMessagePoster> window, const Str& storageDirectory, const StrArray& folderNames,
             const StrArray& groupNames);
  // Asks the worker to stop and waits for it at most kWorkerStopTimeoutMs (once per
  // worker: after a time-out, later calls only check whether it has ended meanwhile).
  // True when no worker is left running; false on time-out, the handle then stays.
  bool Stop();
  // A worker thread is held (running, or ended and not yet awaited).
  bool Held() const { return thread_ != nullptr; }

  // Dialog side of WM_GROUP_COUNTED: copies the count waiting in the result slot and
  // frees the slot for the next one. False when no count is waiting: the message was
  // posted by a worker that was stopped, and its count was taken or dropped already.
  bool TakeResult(ResultSlot* result);

 private:
  std::shared_ptr<platform::Event> slotFree_;
  std::unique_ptr<platform::Thread> thread_;
  bool timedOut_ = false;  // the held worker did not end within its time
};

}  // namespace es
