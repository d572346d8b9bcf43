// The program's questions, as the end-to-end tests wait for them on the terminal.
#pragma once

#include <string_view>

constexpr std::string_view INPUT_PROMPT = "Enter the input sample rate (Hz): ";
constexpr std::string_view OUTPUT_PROMPT = "Enter the output sample rate (Hz): ";
constexpr std::string_view STAGES_PROMPT = "Use one or two rational resamplers? (1 or 2): ";
constexpr std::string_view MODE_PROMPT = "Select search mode (1 or 2) [Enter=1]: ";
constexpr std::string_view LIMIT_PROMPT = "Enter maximum L and M for EACH stage (e.g., 200): ";
constexpr std::string_view M1_PROMPT = "Allow M1 > L1? (y/n) [Enter=n]: ";
constexpr std::string_view TARGET_PROMPT = "[Press Enter to skip]: ";
constexpr std::string_view PROCEED_PROMPT =
    "Proceed with this intermediate target? (y/n) [Enter=n]: ";
constexpr std::string_view PRIORITY_PROMPT = "Select prioritization mode (1-4): ";
constexpr std::string_view ANOTHER = "Perform another sample rate conversion? (y/n) [Enter=n]: ";
