// Test main of the native (Linux) build of the portable parts.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include "doctest.h"
