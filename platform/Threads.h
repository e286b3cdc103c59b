// The few thread primitives the engine's parallel run needs. The shipped
// Windows build uses mingw-w64's win32 thread model, which has no std::thread
// or std::mutex, and must import only what Windows XP offers: there these are
// CreateThread, a critical section and an event; elsewhere the standard ones.
#pragma once

#include <functional>
#include <memory>

namespace quv::platform {

// Processors the system lets this process use (at least 1).
unsigned ProcessorCount();

// Runs body on a thread of its own until it returns; Join (or the
// destructor) waits for that. body must not throw.
class Thread {
 public:
  explicit Thread(std::function<void()> body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  void Join();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// A flag that threads raise and one thread waits for; Wait returns once it
// is raised and lowers it again, so a raise before the wait is not lost.
class Signal {
 public:
  Signal();
  ~Signal();
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  void Raise();
  void Wait();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quv::platform
