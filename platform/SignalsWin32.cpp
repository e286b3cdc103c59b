// Windows side of the interrupt watch: a console control handler, which the
// system calls on a thread of its own. Closing the console (or logging off)
// ends the process as soon as the handler returns, so for those the handler
// waits, a bounded time, for the run to unwind and the watch to go.
#ifdef _WIN32

#include <windows.h>

#include <atomic>

#include "platform/Signals.h"

namespace quv::platform {

namespace {

constexpr int kSigInt = 2;
constexpr int kSigHup = 1;
constexpr int kSigBreak = 21;
// The system gives a closing console's handlers about 5 s.
constexpr DWORD kUnwindWaitMs = 4000;

std::atomic<std::atomic<bool>*> cancelFlag{nullptr};
std::atomic<int> caught{0};
HANDLE unwound = nullptr;  // set when the watch goes

BOOL WINAPI OnControl(DWORD event) {
  const int signal = event == CTRL_C_EVENT ? kSigInt : event == CTRL_BREAK_EVENT ? kSigBreak : kSigHup;
  int none = 0;
  // A second Ctrl-C: the system's default, ending the process at once.
  if (!caught.compare_exchange_strong(none, signal) && signal != kSigHup) return FALSE;
  if (std::atomic<bool>* flag = cancelFlag.load()) flag->store(true);
  if (signal == kSigHup && unwound != nullptr) ::WaitForSingleObject(unwound, kUnwindWaitMs);
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch(std::atomic<bool>& cancel) {
  caught = 0;
  cancelFlag = &cancel;
  unwound = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  cancelFlag = nullptr;
  if (unwound != nullptr) ::SetEvent(unwound);
  // A closing console's handler may still be waiting on the event: it stays
  // open until the process ends.
  ::SetConsoleCtrlHandler(OnControl, FALSE);
}

int InterruptWatch::Caught() const { return caught.load(); }

}  // namespace quv::platform

#endif  // _WIN32
