// The wizard as the tests build it a second time: its installation run waits
// for the driver, so the installing page can be looked at and closed. The
// driver holds the run by creating the event below before it presses Next on
// the folder page, and lets it go by setting the event. Without the event
// the run ends at once, as in the program. A second event makes the run fail
// instead, as a run does when it cannot create the install folder.
#include "app/Step.h"
#include "zip/Exception.h"

namespace quv {

void TfStep::RunInstallation() {
  if (HANDLE failure = OpenEventA(SYNCHRONIZE, FALSE, "QuvWizardTestInstallFailure")) {
    CloseHandle(failure);
    throw Exception("Unable to create directory");
  }
  HANDLE gate = OpenEventA(SYNCHRONIZE, FALSE, "QuvWizardTestInstallGate");
  if (!gate) return;
  // While waiting, pending messages are processed, as the run does while it
  // extracts; a close request ends the wait.
  bool quit = false;
  while (!quit && MsgWaitForMultipleObjects(1, &gate, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        quit = true;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  CloseHandle(gate);
}

void TfStep::SaveInstalledFiles() {}

void TfStep::FinishAction() { Close(); }

}  // namespace quv
