// The program does not stop during its installation run; the wizard's test
// build (tests/wine/HeldInstall.cpp) holds it here instead.
#include "app/WizardWindow.h"

namespace quv {

void TfStep::HoldInstallation(int) {}

}  // namespace quv
