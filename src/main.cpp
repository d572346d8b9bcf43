// The program's entry: without arguments, the interactive dialog. Arguments are not
// read yet; a command-line mode will take them here.
#include <cstdio>

#include "interactive/conversion_loop.h"
#include "interactive/process_exit.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    install_out_of_memory_handler();
    // Started with a standard descriptor closed, the first descriptor the program opens
    // (the shutdown pipe) would take its place, and a refusal written to standard error
    // would land there: the null device fills the gap first.
    if (!console_open_standard_descriptors()) {
        std::fputs("Error: Could not open the null device for a closed standard stream.\n",
                   stderr);
        return 1;
    }
    return run_interactive();
}
