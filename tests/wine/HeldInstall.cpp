// The wizard as the tests build it a second time: its installation run
// (the real one) stops after the first extracted file and waits for the
// driver, so the installing page can be looked at in the middle of the run
// and closed. The driver holds the run by creating the event below before it
// presses Next on the folder page, and lets it go by setting the event.
// Without the event the run goes straight on, as in the program.
#include "app/Step.h"

namespace quv {

void TfStep::HoldInstallation(int filesDone) {
  if (filesDone != 1) return;
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

}  // namespace quv
