// The header compiled as C++17: the test that compiles this expects one clear error.
#include <quillmere/quillmere.h>

int main() {
    return 0;
}
