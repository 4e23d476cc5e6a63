// Event and thread on POSIX: a flag under a mutex and condition variable, and a pthread
// whose end can be awaited with a bound.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Platform.h"

namespace es::platform {

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
};

Event::Event(bool initiallySet) : impl_(std::make_unique<Impl>()) { impl_->set = initiallySet; }
Event::~Event() = default;

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->set = true;
  }
  impl_->changed.notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->set = false;
}

bool Event::Wait(int timeoutMs) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (timeoutMs < 0) {
    impl_->changed.wait(lock, [this] { return impl_->set; });
    return true;
  }
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return impl_->set; });
}

void* Event::NativeHandle() const { return impl_.get(); }

namespace {

// What the thread itself uses; it outlives the Thread object when that lets go of a
// thread still running.
struct ThreadState {
  std::function<void()> body;
  std::atomic<bool> finished{false};
};

void* RunThread(void* argument) {
  std::unique_ptr<std::shared_ptr<ThreadState>> holder(static_cast<std::shared_ptr<ThreadState>*>(argument));
  ThreadState& state = **holder;
  state.body();
  state.body = nullptr;  // release what the body holds before counting as ended
  state.finished.store(true, std::memory_order_release);
  return nullptr;
}

}  // namespace

struct Thread::Impl {
  pthread_t thread{};
  bool attached = false;  // a started thread not yet joined or detached
  std::shared_ptr<ThreadState> state;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
  if (impl_->attached) pthread_detach(impl_->thread);
}

bool Thread::Start(std::function<void()> body) {
  if (impl_->attached) return false;
  auto state = std::make_shared<ThreadState>();
  state->body = std::move(body);
  auto* argument = new std::shared_ptr<ThreadState>(state);
  if (pthread_create(&impl_->thread, nullptr, &RunThread, argument) != 0) {
    delete argument;
    return false;
  }
  impl_->state = std::move(state);
  impl_->attached = true;
  return true;
}

bool Thread::Join(int timeoutMs) {
  if (!impl_->attached) return true;
  int result;
  if (timeoutMs < 0) {
    result = pthread_join(impl_->thread, nullptr);
  } else {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    result = pthread_timedjoin_np(impl_->thread, nullptr, &deadline);
  }
  if (result != 0) return false;
  impl_->attached = false;
  return true;
}

bool Thread::Running() const {
  return impl_->attached && !impl_->state->finished.load(std::memory_order_acquire);
}

}  // namespace es::platform
