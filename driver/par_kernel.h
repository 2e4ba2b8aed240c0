// tandrel: the kernel headers, as every translation unit of the driver takes them.
#pragma once

extern "C" {
#include <ntddk.h>
#include <parallel.h>
}
