// The program's entry: without arguments, the interactive dialog; with arguments, the
// command-line mode, which never reads the terminal.
#include <cstdio>

#include "cli/command_line.h"
#include "interactive/conversion_loop.h"
#include "platform/console.h"
#include "process/process_exit.h"

int main(int argc, char** argv) {
    quillmere::process::install_out_of_memory_handler();
    // The command-line mode looks at its standard descriptors itself: a closed standard
    // output is an output it cannot write, not one to discard.
    if (argc > 1) return quillmere::cli::run_command_line(argc, argv);
    // Started with a standard descriptor closed, the first descriptor the program opens
    // (the shutdown pipe) would take its place, and a refusal written to standard error
    // would land there: the null device fills the gap first.
    if (!quillmere::platform::console_open_standard_descriptors()) {
        std::fputs("Error: Could not open the null device for a closed standard stream.\n", stderr);
        return 1;
    }
    return quillmere::interactive::run_interactive();
}
