// quv_install_report: prints what the wizard installed in this Wine prefix
// (make run): the install folder's files, "install.dl", the service and the
// Start-menu shortcuts.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "Installed.h"

int main() {
  // The account is UTF-8 and goes out byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
  std::fputs(quv::wizardtest::Report().c_str(), stdout);
  return 0;
}
