// The install folder of a service that runs as LocalSystem: where it may lie
// and who may write it. A folder that ordinary users may write would let any
// of them replace the service's program (and run code as SYSTEM) or the
// uninstaller's list (and have files deleted with full rights).
#pragma once

#include <string>

namespace quv {

// The default install folder: the system's Program Files folder ("Program
// Files (x86)" for this 32-bit program on 64-bit Windows) + "\服务程序".
std::string DefaultInstallFolder();

struct FolderVerdict {
  enum Kind { Usable, Refused, Unsafe };
  Kind kind = Usable;
  std::string reason;  // why not, in the wizard's language; empty when usable
};

// Whether folder may hold the service: absolute, on a fixed local drive, not
// a drive's root, no "." or ".." part; an existing folder must be owned by
// Administrators, SYSTEM, TrustedInstaller or the administrator running the
// installer, and no one else may write it (Refused: where it lies; Unsafe:
// who may write it).
FolderVerdict CheckInstallFolder(const std::string& folder);

// Creates one folder whose access list is Administrators and SYSTEM full
// control, Users read and execute, nothing inherited from above. Answers
// false (the system's last error tells why) when it cannot be made.
bool CreateProtectedFolder(const std::string& folder);
// The same with no access for Users: only Administrators and SYSTEM may
// open it. It must not exist yet, so nothing planted before is used.
bool CreatePrivateFolder(const std::string& folder);

// Whether the program runs with administrator rights (on Windows Vista and
// later: elevated). The older family has no rights to check.
bool HoldsAdministratorRights();

}  // namespace quv
