// Stretches of the program's dialog that several end-to-end tests go through.
#pragma once

#include "pty_session.h"

/// Answers every question of a two-stage request whose search runs on until the test lets
/// it: standard output is held once the search has begun.
testing::AssertionResult start_long_search(Session& session);
