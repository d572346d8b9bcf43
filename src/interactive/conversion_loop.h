// The interactive program: start-up checks, the banner, the conversion loop and the exit
// code.
#pragma once

namespace quillmere::interactive {

/// Runs the interactive program at the terminal; returns the process exit code.
int run_interactive();

}  // namespace quillmere::interactive
