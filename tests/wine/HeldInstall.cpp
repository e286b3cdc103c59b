// The wizard as the tests build it a second time: its installation run
// (the real one) stops after the first extracted file and waits for the
// driver, so the installing page can be looked at in the middle of the run
// and closed. The driver holds the run by creating the event below before it
// presses Next on the folder page, and lets it go by setting the event.
// Without the event the run goes straight on, as in the program.
#include "app/WizardWindow.h"

namespace quv {

void TfStep::HoldInstallation(int filesDone) {
  if (filesDone != 1) return;
  HANDLE gate = OpenEventA(SYNCHRONIZE, FALSE, "QuvWizardTestInstallGate");
  if (!gate) return;
  struct Closer {
    HANDLE handle;
    ~Closer() { CloseHandle(handle); }
  } closer{gate};
  // The program's own wait: its message processing, and its answer to a
  // confirmed close (the run stops here and rolls back).
  while (WaitForSingleObject(gate, 0) == WAIT_TIMEOUT) Pause(50);
}

}  // namespace quv
