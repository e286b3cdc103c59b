// The system's folder picker, as the browse button opens it.
#pragma once

#include <windows.h>

#include <string>

namespace quv {

// Opens the shell's folder picker owned by owner, over the whole namespace
// from the desktop, accepting file-system folders only, with the instruction
// text shown above the tree. Every window of the application is disabled
// while it is open. current is preselected when it names an existing folder.
// Answers true with the chosen folder's full path when the user confirmed one.
bool BrowseForFolder(HWND owner, const char* instruction, const std::string& current, std::string& chosen);

}  // namespace quv
