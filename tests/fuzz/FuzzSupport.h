#pragma once
// The fuzz helpers live in tests/support; this name stays for the fuzz
// targets that include it from here.
#include "../support/FuzzSupport.h"
