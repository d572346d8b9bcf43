// Asks the library for a two-stage conversion from 44100 Hz to 48000 Hz in the
// minimal-sum and the custom-limit mode and prints the factors of each.
#include <quillmere/quillmere.h>

#include <cstdio>

int main() {
    int exit_code = 0;
    for (const quillmere::SearchMode mode :
         {quillmere::SearchMode::minimal_sum, quillmere::SearchMode::custom_limit}) {
        quillmere::TwoStageRequest request;
        request.input_rate_hz = 44100.0;
        request.output_rate_hz = 48000.0;
        request.mode = mode;
        const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
        if (result.status != quillmere::Status::ok) {
            std::printf("%s: %s %s\n", quillmere::search_mode_name(mode),
                        quillmere::status_name(result.status), result.message.c_str());
            exit_code = 1;
            continue;
        }
        std::printf("%s: L1/M1 = %lld/%lld, L2/M2 = %lld/%lld (%s)\n",
                    quillmere::search_mode_name(mode), static_cast<long long>(result.first.l),
                    static_cast<long long>(result.first.m), static_cast<long long>(result.second.l),
                    static_cast<long long>(result.second.m),
                    quillmere::outcome_name(result.outcome));
    }
    return exit_code;
}
