// The program entry of an application on the framework. Built as an object of its own and
// linked into the program directly: from a static library the C runtime's start-up would
// ask for WinMain only after the archives were scanned.
#include "framework.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int cmdShow) {
    return AfxWinMain(instance, previous, cmdLine, cmdShow);
}
