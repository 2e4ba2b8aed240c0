// Resource and command ids of the application framework. Holds only #defines, so windres
// can include it from a .rc file as well as C++ code.
#pragma once

// String of the executable (or resource module) that names the application.
#define AFX_IDS_APP_TITLE 0xE000
