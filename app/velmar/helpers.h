// Text and file helpers of the application that need the platform or the framework.
#pragma once

#include <windows.h>

// The string of the resource module into a 260-character buffer; a missing string gives
// "STOP - Missing Resource String". Returns buffer.
char *LoadResString(UINT id, char *buffer);
// True when the file can be opened for reading (shared read, existing only).
bool FileExists(const char *path);
// Asks 10102 "File %s exists. Overwrite YES/NO ?"; true on Yes.
bool ConfirmOverwrite(const char *path);
// True when "%!PS" starts within the first 1024 bytes of the file.
bool IsPostScriptFile(const char *path);
