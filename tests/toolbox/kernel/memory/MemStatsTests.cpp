#include "toolbox/kernel/memory/VMemStats.h"

#include <gtest/gtest.h>
