// Interruptions from outside (Ctrl-C, SIGTERM, SIGHUP; on Windows Ctrl-C,
// Ctrl-Break and closing the console) turned into a request to end the run:
// the handler only sets a flag, which the run and its workers check between
// blocks, so the run unwinds the ordinary way and its unfinished files go
// with it.
#pragma once

#include <atomic>

namespace quv::platform {

class InterruptWatch {
 public:
  // While the watch lives, an interruption sets cancel (a second one ends
  // the program at once, the system's way). One watch at a time.
  explicit InterruptWatch(std::atomic<bool>& cancel);
  // Restores what the program did on interruptions before.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // The signal's number (SIGINT, SIGTERM, SIGHUP; Ctrl-Break counts as
  // SIGBREAK, closing the console as SIGHUP); 0 while none came.
  int Caught() const;
  // The conventional exit status for it: 128 + its number.
  int ExitStatus() const { return 128 + Caught(); }
};

}  // namespace quv::platform
