#include <windows.h>

extern "C" int WINAPI DefTestAdd(int a, int b) {
    return a + b;
}
