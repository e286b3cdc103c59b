// POSIX side of the interrupt watch: sigaction handlers that store into
// lock-free atomics, the only work a handler may do safely.
#ifndef _WIN32

#include <signal.h>

#include <atomic>
#include <iterator>

#include "platform/Signals.h"

namespace quv::platform {

namespace {

constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<std::atomic<bool>*> cancelFlag{nullptr};
std::atomic<int> caught{0};
struct sigaction previous[std::size(kWatched)];

extern "C" void OnInterrupt(int number) {
  int none = 0;
  if (!caught.compare_exchange_strong(none, number)) {
    // The user insists: the system's default, without waiting for the run.
    ::signal(number, SIG_DFL);
    ::raise(number);
    return;
  }
  if (std::atomic<bool>* flag = cancelFlag.load()) flag->store(true);
}

}  // namespace

InterruptWatch::InterruptWatch(std::atomic<bool>& cancel) {
  caught = 0;
  cancelFlag = &cancel;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Reads and waits carry on after the handler; the run looks at the flag.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kWatched); ++i) ::sigaction(kWatched[i], &action, &previous[i]);
}

InterruptWatch::~InterruptWatch() {
  for (std::size_t i = 0; i < std::size(kWatched); ++i) ::sigaction(kWatched[i], &previous[i], nullptr);
  cancelFlag = nullptr;
}

int InterruptWatch::Caught() const { return caught.load(); }

}  // namespace quv::platform

#endif  // !_WIN32
