// POSIX side of the thread primitives: the standard library's.
#ifndef _WIN32

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Threads.h"

namespace quv::platform {

unsigned ProcessorCount() {
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<unsigned>(n) : 1u;
}

struct Thread::State {
  std::thread thread;
};

Thread::Thread(std::function<void()> body) : state_(std::make_unique<State>()) {
  state_->thread = std::thread(std::move(body));
}

Thread::~Thread() { Join(); }

void Thread::Join() {
  if (state_->thread.joinable()) state_->thread.join();
}

struct Mutex::State {
  std::mutex mutex;
};

Mutex::Mutex() : state_(std::make_unique<State>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { state_->mutex.lock(); }
void Mutex::Unlock() { state_->mutex.unlock(); }

struct Signal::State {
  std::mutex mutex;
  std::condition_variable raised;
  bool up = false;
};

Signal::Signal() : state_(std::make_unique<State>()) {}
Signal::~Signal() = default;

void Signal::Raise() {
  {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->up = true;
  }
  state_->raised.notify_all();
}

void Signal::Wait() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->raised.wait(lock, [this] { return state_->up; });
  state_->up = false;
}

}  // namespace quv::platform

#endif  // !_WIN32
