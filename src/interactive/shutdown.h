// Shutdown signalling: console control events become the shutdown flag and event.
#pragma once

#include <atomic>

struct ShutdownEvent;

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<ShutdownEvent*>::is_always_lock_free);

/// True once a stop was requested; never reset by the program. Read afresh at every test;
/// the searches get it as their stop flag.
extern std::atomic<bool> g_shutdown_requested;
/// The shutdown event that a pending console read waits on; null when none exists.
extern std::atomic<ShutdownEvent*> g_hShutdownEvent;

/// True once a stop was requested.
inline bool shutdown_requested() {
    return g_shutdown_requested.load();
}

/// Creates the shutdown event and installs the control handler; prints its own error.
bool setup_signal_handlers();

/// Releases the shutdown event; the global is cleared first, so a late control event
/// never signals a closed event.
void close_shutdown_event();
