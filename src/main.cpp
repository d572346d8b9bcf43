// The program's entry: without arguments, the interactive dialog; with arguments, the
// command-line mode, which never reads the terminal.
#include "cli/command_line.h"
#include "interactive/conversion_loop.h"

int main(int argc, char** argv) {
    if (argc > 1) return quillmere::cli::run_command_line(argc, argv);
    return run_interactive();
}
