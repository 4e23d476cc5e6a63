// Event and thread on Win32: a manual-reset event object, and a thread started with
// _beginthreadex whose handle is awaited with a bound.
#include <windows.h>
#include <process.h>

#include <atomic>

#include "platform/Platform.h"

namespace es::platform {

struct Event::Impl {
  HANDLE event = nullptr;
};

Event::Event(bool initiallySet) : impl_(std::make_unique<Impl>()) {
  impl_->event = CreateEventW(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr);
}

Event::~Event() {
  if (impl_->event) CloseHandle(impl_->event);
}

void Event::Set() { SetEvent(impl_->event); }
void Event::Reset() { ResetEvent(impl_->event); }

bool Event::Wait(int timeoutMs) {
  return WaitForSingleObject(impl_->event, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) ==
         WAIT_OBJECT_0;
}

void* Event::NativeHandle() const { return impl_->event; }

namespace {

// What the thread itself uses; it outlives the Thread object when that lets go of a
// thread still running.
struct ThreadState {
  std::function<void()> body;
  std::atomic<bool> finished{false};
};

unsigned __stdcall RunThread(void* argument) {
  std::unique_ptr<std::shared_ptr<ThreadState>> holder(static_cast<std::shared_ptr<ThreadState>*>(argument));
  ThreadState& state = **holder;
  state.body();
  state.body = nullptr;  // release what the body holds before counting as ended
  state.finished.store(true, std::memory_order_release);
  return 0;
}

}  // namespace

struct Thread::Impl {
  HANDLE thread = nullptr;  // a started thread not yet joined or let go
  std::shared_ptr<ThreadState> state;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
  if (impl_->thread) CloseHandle(impl_->thread);
}

bool Thread::Start(std::function<void()> body) {
  if (impl_->thread) return false;
  auto state = std::make_shared<ThreadState>();
  state->body = std::move(body);
  auto* argument = new std::shared_ptr<ThreadState>(state);
  const uintptr_t handle = _beginthreadex(nullptr, 0, &RunThread, argument, 0, nullptr);
  if (handle == 0) {
    delete argument;
    return false;
  }
  impl_->thread = reinterpret_cast<HANDLE>(handle);
  impl_->state = std::move(state);
  return true;
}

bool Thread::Join(int timeoutMs) {
  if (!impl_->thread) return true;
  if (WaitForSingleObject(impl_->thread, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    return false;
  }
  CloseHandle(impl_->thread);
  impl_->thread = nullptr;
  return true;
}

bool Thread::Running() const {
  return impl_->thread && !impl_->state->finished.load(std::memory_order_acquire);
}

}  // namespace es::platform
