// DLL search for programs that run elevated from folders others may write
// (a downloads folder, the temporary folder).
#pragma once

namespace quv {

// DLLs loaded from now on (the shell's, the common controls') come from the
// system folder only, so one planted beside the program is never taken. The
// call exists from Windows 8 (and Windows 7 with update KB2533623), so it is
// looked up; older systems at least drop the current folder from the
// search. The programs import only known DLLs, which never come from beside
// them, so this runs before anything else is loaded.
void RestrictDllSearch();

}  // namespace quv
