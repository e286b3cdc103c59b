// One run of the setup program or the uninstaller at a time on the machine,
// whoever started it and in whichever session: two runs would interleave
// their renames, service changes and rollbacks.
#pragma once

namespace quv {

class MachineWideRun {
 public:
  // Takes the machine-wide mutex "Global\QuvSetup.ZRQuvSvr" (without the
  // prefix where the system has no sessions); held until destruction.
  MachineWideRun();
  ~MachineWideRun();
  MachineWideRun(const MachineWideRun&) = delete;
  MachineWideRun& operator=(const MachineWideRun&) = delete;
  // False when another run holds it (or someone else made it first).
  bool Acquired() const { return acquired_; }

 private:
  void* mutex_ = nullptr;  // HANDLE
  bool acquired_ = false;
};

}  // namespace quv
