// Shutdown signalling: console control events become the shutdown flag and event.
#pragma once

#include "common.h"

/// Creates the shutdown event and installs the control handler; prints its own error.
bool setup_signal_handlers();
