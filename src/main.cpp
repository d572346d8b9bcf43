// The program's entry: without arguments, the interactive dialog. Arguments are not
// read yet; a command-line mode will take them here.
#include "interactive/conversion_loop.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    return run_interactive();
}
