#include "utils.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

const char* status_code_to_string(int code) {
    switch (code) {
    case STATUS_SUCCESS: return "SUCCESS";
    case STATUS_FAILURE: return "FAILURE";
    case STATUS_MEMORY_ALLOCATION_ERROR: return "Memory Allocation Error";
    case STATUS_INVALID_INPUT_ERROR: return "Invalid Input Error";
    case STATUS_CALCULATION_ERROR: return "Calculation Error";
    case STATUS_FILE_IO_ERROR: return "File I/O Error";
    case STATUS_ARITHMETIC_OVERFLOW_ERROR: return "Arithmetic Overflow Error";
    default: return "Unknown Error Code";
    }
}

void print_stderr(const char* format, ...) {
    std::fputc('\n', stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void print_ppm_line(const char* label, double ppm) {
    std::fputs(label, stdout);
    if (std::isnan(ppm)) {
        std::fputs("N/A\n", stdout);
    } else if (std::isinf(ppm)) {
        std::printf("%sInfinity\n", ppm > 0.0 ? "+" : "-");
    } else {
        std::printf("%+.3f PPM\n", ppm);
    }
}

long long max_long_long(long long a, long long b) {
    if (a < 0 && b < 0) return -1;
    if (a < 0) return b;
    if (b < 0) return a;
    return a > b ? a : b;
}
