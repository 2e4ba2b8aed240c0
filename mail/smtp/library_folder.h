// The folder quenta loads its companion libraries from: the folder of the module that holds
// this code, so that a host process's search path never decides which marfel or vantrel runs.
#pragma once

#include <windows.h>

#include <string>

namespace quenta {

// The folder with a trailing backslash, or empty when it cannot be found.
std::wstring LibraryFolder();
// Loads `name` from that folder only; null when it is not there.
HMODULE LoadCompanionLibrary(const wchar_t *name);
// Tests point the loads at another folder; null goes back to the module's own.
void SetLibraryFolderForTesting(const wchar_t *folder);

} // namespace quenta
