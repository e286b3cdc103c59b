#include "install/RunGuard.h"

#include <windows.h>

namespace quv {

MachineWideRun::MachineWideRun() {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\QuvSetup.ZRQuvSvr");
  // Systems without terminal services refuse the prefix; one made by someone
  // else and closed to us is refused with ERROR_ACCESS_DENIED and stays so.
  if (!mutex && GetLastError() != ERROR_ACCESS_DENIED) mutex = CreateMutexA(nullptr, FALSE, "QuvSetup.ZRQuvSvr");
  if (!mutex) return;
  mutex_ = mutex;
  acquired_ = GetLastError() != ERROR_ALREADY_EXISTS;
}

MachineWideRun::~MachineWideRun() {
  if (mutex_) CloseHandle(mutex_);
}

}  // namespace quv
