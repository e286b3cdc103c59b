// Win32 side of the thread primitives, with what Windows XP has.
#ifdef _WIN32

#include <windows.h>

#include "platform/Threads.h"

namespace quv::platform {

unsigned ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1u;
}

struct Thread::State {
  std::function<void()> body;
  HANDLE handle = nullptr;
};

namespace {

DWORD WINAPI RunBody(LPVOID parameter) {
  static_cast<std::function<void()>*>(parameter)->operator()();
  return 0;
}

}  // namespace

Thread::Thread(std::function<void()> body) : state_(std::make_unique<State>()) {
  state_->body = std::move(body);
  state_->handle = CreateThread(nullptr, 0, RunBody, &state_->body, 0, nullptr);
  // Without a thread of its own the work is done here, so it is done.
  if (state_->handle == nullptr) state_->body();
}

Thread::~Thread() { Join(); }

void Thread::Join() {
  if (state_->handle == nullptr) return;
  WaitForSingleObject(state_->handle, INFINITE);
  CloseHandle(state_->handle);
  state_->handle = nullptr;
}

struct Mutex::State {
  CRITICAL_SECTION section;
};

Mutex::Mutex() : state_(std::make_unique<State>()) { InitializeCriticalSection(&state_->section); }
Mutex::~Mutex() { DeleteCriticalSection(&state_->section); }
void Mutex::Lock() { EnterCriticalSection(&state_->section); }
void Mutex::Unlock() { LeaveCriticalSection(&state_->section); }

struct Signal::State {
  HANDLE event = nullptr;
};

// Auto-reset: a successful wait lowers it.
Signal::Signal() : state_(std::make_unique<State>()) { state_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr); }
Signal::~Signal() {
  if (state_->event != nullptr) CloseHandle(state_->event);
}
void Signal::Raise() { SetEvent(state_->event); }
void Signal::Wait() { WaitForSingleObject(state_->event, INFINITE); }

}  // namespace quv::platform

#endif  // _WIN32
