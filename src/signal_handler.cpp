#include "signal_handler.h"

std::atomic<int> g_shutdown_requested{0};
std::atomic<ShutdownEvent*> g_hShutdownEvent{nullptr};

bool setup_signal_handlers() { return false; }
