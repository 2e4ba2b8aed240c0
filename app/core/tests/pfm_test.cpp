#include "pfm.h"
#include <gtest/gtest.h>
