// tandrel: the kernel headers, as every translation unit of the driver takes them.
#pragma once

extern "C" {
#include <ntifs.h> // ZwWaitForSingleObject is declared only here
#include <parallel.h>
}
