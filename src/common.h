// What the POSIX console (src/platform/console_posix.cpp) reads of the program: the
// shutdown flag it watches while waiting for a key. It lives in the shutdown module of
// the interactive layer; this header only forwards to it.
#pragma once

#include "interactive/shutdown.h"
