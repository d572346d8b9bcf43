// The command line's values, options, batch-line words and the requests they make.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "cli/argument_parser.h"
#include "cli/batch_words.h"
#include "cli/search_status_line.h"
#include "records/option_values.h"
#include "records/request_resolution.h"
#include "records/values.h"

using namespace quillmere;
using namespace quillmere::cli;
using namespace quillmere::records;

namespace {

CommandLine command(const std::vector<std::string>& args) {
    auto parsed = parse_command_line(args);
    if (auto* error = std::get_if<UsageError>(&parsed)) {
        ADD_FAILURE() << "refused: " << error->message;
        return {};
    }
    return std::get<CommandLine>(parsed);
}

std::string refusal(const std::vector<std::string>& args) {
    auto parsed = parse_command_line(args);
    if (auto* error = std::get_if<UsageError>(&parsed)) return error->message;
    auto resolved = resolve_request(std::get<CommandLine>(parsed).options, nullptr);
    if (auto* error = std::get_if<UsageError>(&resolved)) return error->message;
    return "accepted";
}

ResolvedRequest request(const std::vector<std::string>& args) {
    auto resolved = resolve_request(command(args).options, nullptr);
    if (auto* error = std::get_if<UsageError>(&resolved)) {
        ADD_FAILURE() << "refused: " << error->message;
        return {};
    }
    return std::get<ResolvedRequest>(resolved);
}

/// A batch line over command-line defaults.
std::variant<ResolvedRequest, UsageError> line_request(const std::vector<std::string>& defaults,
                                                       const std::vector<std::string>& line) {
    const CommandLine base = command(defaults);
    auto layer = parse_batch_line(line);
    if (auto* error = std::get_if<UsageError>(&layer)) return *error;
    return resolve_request(std::get<OptionLayer>(layer), &base.options);
}

}  // namespace

TEST(CliValues, RatesAcceptWhatTheDialogAcceptsPlusSuffixes) {
    EXPECT_EQ(parse_rate("48000"), 48000.0);
    EXPECT_EQ(parse_rate(" 48000 "), 48000.0);
    EXPECT_EQ(parse_rate("1"), 1.0);
    EXPECT_EQ(parse_rate("1e13"), 1e13);
    EXPECT_EQ(parse_rate("0x1p10"), 1024.0);
    // A suffix scales in the exponent, so the decimal is rounded once: 44.1k is 44100
    // exactly and 0.3k is the double nearest 300, as "300" reads.
    EXPECT_EQ(parse_rate("44.1k"), 44100.0);
    EXPECT_EQ(parse_rate("0.3k"), 300.0);
    EXPECT_EQ(parse_rate("2.4M"), 2400000.0);
    EXPECT_EQ(parse_rate("1.000000001G"), 1000000001.0);
    EXPECT_EQ(parse_rate("4.41e1k"), 44100.0);
    EXPECT_EQ(parse_rate("10000G"), 1e13);
    for (const char* refused : {"",      " ",        "0.999",   "1.0000001e13", "0",      "-0",
                                "-5",    "inf",      "nan",     "-inf",         "1e999",  "+",
                                ".",     "48000 Hz", "48000Hz", "44.1 k",       "k",      "44.1kk",
                                "0x10k", "1e",       "1ek",     "44.1K",        "10001G", "infk"}) {
        EXPECT_FALSE(parse_rate(refused).has_value()) << "'" << refused << "'";
    }
}

TEST(CliValues, LimitsAndDecibels) {
    EXPECT_EQ(parse_limit("1"), 1);
    EXPECT_EQ(parse_limit("65535"), 65535);
    EXPECT_EQ(parse_limit("+200"), 200);
    for (const char* refused : {"0", "65536", "-1", "1.5", "", "1e3", "0x10",
                                "99999999999999999999", "18446744073709551617"}) {
        EXPECT_FALSE(parse_limit(refused).has_value()) << "'" << refused << "'";
    }
    EXPECT_EQ(parse_decibels("100"), 100.0);
    EXPECT_EQ(parse_decibels("0.1"), 0.1);
    for (const char* refused : {"0", "-3", "inf", "nan", "x", ""}) {
        EXPECT_FALSE(parse_decibels(refused).has_value()) << "'" << refused << "'";
    }
}

TEST(CliValues, ToleranceReadsRelativeErrorsAndPartsPerMillion) {
    EXPECT_EQ(parse_tolerance("1e-6"), 1e-6);
    EXPECT_EQ(parse_tolerance("0.001"), 0.001);
    EXPECT_EQ(parse_tolerance("0"), 0.0);
    // The scale goes into the exponent: 5ppm reads as 5e-6 does.
    EXPECT_EQ(parse_tolerance("5ppm"), 5e-6);
    EXPECT_EQ(parse_tolerance(" 0.5 ppm "), 0.5e-6);
    EXPECT_EQ(parse_tolerance("999999ppm"), 0.999999);
    for (const char* refused : {"", "ppm", "-1e-6", "1", "1000000ppm", "2ppmx", "5 ppm ppm",
                                "nan", "inf", "1e-6 5", "x", "5PPM"}) {
        EXPECT_FALSE(parse_tolerance(refused).has_value()) << "'" << refused << "'";
    }
}

TEST(CliArguments, PlanOptionsMakeRequestsOfTheGeneralSolver) {
    // The dialog's requests stay with their solvers; the new modes, counts and the
    // tolerance go to solve_plan.
    EXPECT_FALSE(request({"-s", "2", "1", "2"}).general);
    EXPECT_FALSE(request({"-s", "2", "-m", "min-cost", "1", "2"}).general);
    const ResolvedRequest three = request({"-s", "3", "-m", "min-cost", "-l", "50", "1", "2"});
    EXPECT_TRUE(three.general);
    EXPECT_EQ(three.plan.stages, 3);
    EXPECT_EQ(three.plan.max_factor, 50);
    EXPECT_EQ(request({"--stages=auto", "-m", "min-cost", "1", "2"}).plan.stages, auto_stages);
    const ResolvedRequest best = request({"-s", "2", "-m", "best-accuracy", "1", "2"});
    EXPECT_TRUE(best.general);
    EXPECT_EQ(best.plan.mode, SearchMode::best_accuracy);
    const ResolvedRequest tolerant = request({"--tolerance", "5ppm", "1", "2"});
    EXPECT_TRUE(tolerant.general);
    EXPECT_EQ(tolerant.plan.tolerance, 5e-6);
    EXPECT_TRUE(request({"-m", "min-cost", "1", "2"}).general);

    // First-stage decimation: on in min-cost and best-accuracy unless turned off, off in
    // the dialog's modes unless turned on.
    EXPECT_TRUE(request({"-s", "2", "-m", "min-cost", "1", "2"}).two.allow_first_stage_decimation);
    EXPECT_TRUE(first_stage_decimation_allowed(best.plan));
    EXPECT_FALSE(request({"-s", "2", "-m", "min-cost", "--no-first-decimation", "1", "2"})
                     .two.allow_first_stage_decimation);
    EXPECT_FALSE(request({"-s", "2", "-m", "custom-limit", "1", "2"})
                     .two.allow_first_stage_decimation);
    EXPECT_TRUE(request({"-s", "2", "-a", "1", "2"}).two.allow_first_stage_decimation);

    // Batch lines: a line's own count and mode over the defaults; a default target is for
    // the two-stage lines only.
    const auto line = line_request({"-s", "2", "-t", "96k", "-m", "min-cost", "-b", "f"},
                                   {"44100", "48000", "-s", "4"});
    ASSERT_TRUE(std::holds_alternative<ResolvedRequest>(line));
    EXPECT_EQ(std::get<ResolvedRequest>(line).plan.stages, 4);
    EXPECT_FALSE(std::get<ResolvedRequest>(line).plan.intermediate_target);
    const auto refused = line_request({"-s", "3", "-m", "min-cost", "-b", "f"},
                                      {"44100", "48000", "-m", "custom-limit"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(refused));
    EXPECT_EQ(std::get<UsageError>(refused).message.rfind("option '--stages 3' needs --mode", 0),
              0u);
    EXPECT_EQ(refusal({"-s", "3", "-m", "min-cost", "-t", "96k", "1", "2"}),
              "option '--target' needs exactly two stages, not --stages 3");
    // Equal edges let aliases fall above the passband; at half the lower rate nothing is
    // left for a transition band.
    EXPECT_EQ(refusal({"--cost", "--passband", "20k", "--stopband", "20k", "44100", "48000"}),
              "accepted");
    EXPECT_EQ(refusal({"--cost", "--passband", "22050", "--stopband", "22050", "44100", "48000"})
                  .rfind("invalid value for --passband: at the stopband edge", 0),
              0u);
}

TEST(CliArguments, LongShortAndEqualsFormsAgree) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--stages", "2", "--limit", "1000", "--target", "96k", "--priority", "final",
              "--allow-first-decimation", "44100", "48000"},
             {"--stages=2", "--limit=1000", "--target=96k", "--priority=final", "-a", "44100",
              "48000"},
             {"-s", "2", "-l", "1000", "-t", "96000", "-p", "final", "-a", "--", "44100", "48000"},
             {"44100", "-s2", "-l1000", "48000", "-t96k", "-pfinal", "-a"}}) {
        const ResolvedRequest r = request(args);
        EXPECT_EQ(r.stages, 2);
        EXPECT_EQ(r.two.input_rate_hz, 44100.0);
        EXPECT_EQ(r.two.output_rate_hz, 48000.0);
        EXPECT_EQ(r.two.mode, SearchMode::custom_limit);
        EXPECT_EQ(r.two.max_factor, 1000);
        EXPECT_TRUE(r.two.allow_first_stage_decimation);
        ASSERT_TRUE(r.two.intermediate_target.has_value());
        EXPECT_EQ(r.two.intermediate_target->rate_hz, 96000.0);
        EXPECT_EQ(r.two.intermediate_target->priority, Priority::final);
    }
}

TEST(CliArguments, DefaultsAndModes) {
    const ResolvedRequest one = request({"44100", "48000"});
    EXPECT_EQ(one.stages, 1);
    EXPECT_FALSE(one.cost);
    const ResolvedRequest two = request({"-s", "2", "44100", "48000"});
    EXPECT_EQ(two.two.mode, SearchMode::minimal_sum);
    EXPECT_EQ(two.two.max_factor, 65535);
    EXPECT_FALSE(two.two.intermediate_target.has_value());
    // A limit implies custom-limit, but not over min-cost.
    EXPECT_EQ(request({"-s", "2", "-l", "50", "1", "2"}).two.mode, SearchMode::custom_limit);
    const ResolvedRequest cheap = request({"-s", "2", "-m", "min-cost", "-l", "50", "1", "2"});
    EXPECT_EQ(cheap.two.mode, SearchMode::min_cost);
    EXPECT_EQ(cheap.two.max_factor, 50);
    EXPECT_EQ(request({"-s", "2", "-m", "custom-limit", "1", "2"}).two.max_factor, 65535);
    // The last of a repeated option counts.
    EXPECT_EQ(request({"-s", "1", "-s", "2", "1", "2"}).stages, 2);
    const ResolvedRequest target = request({"-s", "2", "-t", "96k", "1", "2"});
    EXPECT_EQ(target.two.intermediate_target->priority, Priority::balanced);
    // Rates after -- may look like options.
    EXPECT_EQ(refusal({"--", "-5", "48000"}).rfind("invalid INPUT_RATE '-5'", 0), 0u);
}

TEST(CliArguments, RefusalsNameTheArgumentAndWhatIsAccepted) {
    EXPECT_EQ(refusal({"--stages", "5", "1", "2"}),
              "invalid value '5' for --stages: expected 1, 2, 3, 4 or auto");
    EXPECT_EQ(refusal({"--stages", "3", "1", "2"}),
              "option '--stages 3' needs --mode min-cost: only min-cost plans more than two "
              "stages");
    EXPECT_EQ(refusal({"--tolerance", "-1e-6", "1", "2"}),
              "invalid value '-1e-6' for --tolerance: expected a relative error from 0 to below "
              "1 (1e-6) or parts per million (5ppm)");
    EXPECT_EQ(refusal({"--limit", "0", "-s", "2", "1", "2"}),
              "invalid value '0' for --limit: expected an integer from 1 to 65535");
    EXPECT_EQ(refusal({"--mode", "fast", "1", "2"}),
              "invalid value 'fast' for --mode: expected minimal-sum, custom-limit, min-cost or "
              "best-accuracy");
    EXPECT_EQ(refusal({"--format", "xml", "1", "2"}),
              "invalid value 'xml' for --format: expected text, json or csv");
    EXPECT_EQ(refusal({"--priority", "high", "1", "2"}),
              "invalid value 'high' for --priority: expected strict, final, balanced or ignore");
    EXPECT_EQ(refusal({"--frobnicate", "1", "2"}), "unrecognized option '--frobnicate'");
    EXPECT_EQ(refusal({"-x", "1", "2"}), "unrecognized option '-x'");
    EXPECT_EQ(refusal({"1", "2", "--stages"}), "option '--stages' needs a value: 1, 2, 3, 4 or auto");
    EXPECT_EQ(refusal({}), "missing INPUT_RATE and OUTPUT_RATE");
    EXPECT_EQ(refusal({"44100"}), "missing OUTPUT_RATE");
    EXPECT_EQ(refusal({"1", "2", "3"}),
              "unexpected argument '3': a request takes two rates, INPUT_RATE and OUTPUT_RATE");
    EXPECT_EQ(refusal({"0.5", "2"}).rfind("invalid INPUT_RATE '0.5': expected a rate in Hz", 0),
              0u);
    EXPECT_EQ(refusal({"1", "2e13"}).rfind("invalid OUTPUT_RATE '2e13'", 0), 0u);
    EXPECT_EQ(
        refusal({"-s", "2", "-t", "0.5", "1", "2"}).rfind("invalid value '0.5' for --target", 0),
        0u);
}

TEST(CliArguments, OptionsThatMakeNoSenseTogetherAreRefused) {
    for (const char* option : {"--target=96000", "--limit=100", "--mode=custom-limit",
                               "--mode=best-accuracy", "--allow-first-decimation",
                               "--no-first-decimation", "--priority=strict"}) {
        const std::string name = std::string(option).substr(0, std::string(option).find('='));
        EXPECT_EQ(refusal({option, "1", "2"}),
                  "option '" + name + "' applies to two stages only: add --stages 2")
            << option;
    }
    EXPECT_EQ(refusal({"-s", "2", "-m", "minimal-sum", "-l", "100", "1", "2"})
                  .rfind("option '--limit' does not apply to --mode minimal-sum", 0),
              0u);
    EXPECT_EQ(refusal({"-s", "2", "-p", "strict", "1", "2"}), "option '--priority' needs --target");
    EXPECT_EQ(refusal({"--passband", "20k", "44100", "48000"}),
              "option '--passband' needs --cost or --mode min-cost");
    EXPECT_EQ(refusal({"--cost", "--passband", "21k", "--stopband", "20k", "44100", "48000"})
                  .rfind("invalid value for --passband: it may not exceed the stopband edge", 0),
              0u);
    EXPECT_EQ(refusal({"--cost", "--stopband", "23k", "44100", "48000"})
                  .rfind("invalid value for --stopband: it may not exceed half the lower", 0),
              0u);
    EXPECT_EQ(refusal({"--cost", "--passband", "22050", "44100", "48000"})
                  .rfind("invalid value for --passband", 0),
              0u);
    EXPECT_EQ(refusal({"--cost", "--attenuation", "0", "44100", "48000"}),
              "invalid value '0' for --attenuation: expected a positive number of dB");
    EXPECT_EQ(refusal({"--cost", "--passband", "20k", "--stopband", "22050", "44100", "48000"}),
              "accepted");
    EXPECT_EQ(refusal({"-b", "f", "1", "2"}).rfind("unexpected argument '1'", 0), 0u);
    EXPECT_EQ(refusal({"-b", "f", "-s", "1", "-t", "5"}),
              "option '--target' applies to two stages only: add --stages 2");
}

TEST(CliArguments, HelpVersionAndBatchNeedNoRates) {
    EXPECT_TRUE(command({"--help"}).help);
    EXPECT_TRUE(command({"-h", "44100"}).help);
    EXPECT_TRUE(command({"-s", "9", "--version"}).version);
    EXPECT_TRUE(command({"-V"}).version);
    const CommandLine batch = command({"--batch", "-", "-f", "csv", "-t", "96k"});
    ASSERT_TRUE(batch.batch_file.has_value());
    EXPECT_EQ(*batch.batch_file, "-");
    EXPECT_EQ(batch.format, Format::csv);
}

TEST(CliBatchLines, CommandLineOptionsAreTheDefaults) {
    const auto inherited = line_request({"-b", "-", "-s", "2", "-l", "500", "--cost"}, {"1", "2"});
    ASSERT_TRUE(std::holds_alternative<ResolvedRequest>(inherited));
    const ResolvedRequest& r = std::get<ResolvedRequest>(inherited);
    EXPECT_EQ(r.stages, 2);
    EXPECT_EQ(r.two.mode, SearchMode::custom_limit);
    EXPECT_EQ(r.two.max_factor, 500);
    EXPECT_TRUE(r.cost);

    // The line's own options win: its limit over the default mode minimal-sum, its mode
    // minimal-sum over a default limit.
    const auto own_limit =
        line_request({"-b", "-", "-s", "2", "-m", "minimal-sum"}, {"1", "2", "-l", "9"});
    EXPECT_EQ(std::get<ResolvedRequest>(own_limit).two.mode, SearchMode::custom_limit);
    EXPECT_EQ(std::get<ResolvedRequest>(own_limit).two.max_factor, 9);
    const auto own_mode =
        line_request({"-b", "-", "-s", "2", "-l", "9"}, {"1", "2", "-m", "minimal-sum"});
    EXPECT_EQ(std::get<ResolvedRequest>(own_mode).two.mode, SearchMode::minimal_sum);
    EXPECT_EQ(std::get<ResolvedRequest>(own_mode).two.max_factor, 65535);
    const auto cheap =
        line_request({"-b", "-", "-s", "2", "-m", "min-cost"}, {"1", "2", "-l", "9"});
    EXPECT_EQ(std::get<ResolvedRequest>(cheap).two.mode, SearchMode::min_cost);

    // Two-stage defaults do not apply to a one-stage line and are left out ...
    const auto one =
        line_request({"-b", "-", "-s", "2", "-t", "96k", "-m", "min-cost"}, {"1", "2", "-s", "1"});
    ASSERT_TRUE(std::holds_alternative<ResolvedRequest>(one));
    EXPECT_EQ(std::get<ResolvedRequest>(one).stages, 1);
    // ... but the line's own are refused.
    const auto own = line_request({"-b", "-"}, {"1", "2", "-t", "96k"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(own));
    EXPECT_EQ(std::get<UsageError>(own).message,
              "option '--target' applies to two stages only: add --stages 2");

    for (const char* refused : {"--format=json", "--batch=x", "--help", "-V"}) {
        const auto line = line_request({"-b", "-"}, {"1", "2", refused});
        ASSERT_TRUE(std::holds_alternative<UsageError>(line)) << refused;
        EXPECT_NE(std::get<UsageError>(line).message.find("command line only"), std::string::npos);
    }
    const auto no_rates = line_request({"-b", "-", "-s", "2"}, {"-l", "5"});
    EXPECT_EQ(std::get<UsageError>(no_rates).message, "missing INPUT_RATE and OUTPUT_RATE");
}

TEST(CliBatchLines, WordsSplitAsAShellSplitsSimpleQuoting) {
    const auto words = [](const std::string& line) {
        auto split = split_words(line);
        if (auto* error = std::get_if<UsageError>(&split))
            return std::vector<std::string>{"!" + error->message};
        return std::get<std::vector<std::string>>(split);
    };
    using Words = std::vector<std::string>;
    EXPECT_EQ(words("  44100\t48000  --stages 2 "), (Words{"44100", "48000", "--stages", "2"}));
    EXPECT_EQ(words("'4 4' \"a \\\"b\\\" \\\\ \\x\" c\\ d ''"),
              (Words{"4 4", "a \"b\" \\ \\x", "c d", ""}));
    EXPECT_EQ(words("a'b'\"c\"d"), (Words{"abcd"}));
    EXPECT_EQ(words(""), Words{});
    EXPECT_EQ(words("'open"), (Words{"!unterminated ' quote"}));
    EXPECT_EQ(words("\"open \\\""), (Words{"!unterminated \" quote"}));
    EXPECT_EQ(words("end\\"), (Words{"!a backslash ends the line"}));
}

// The options by name (the web calculator's way in) read as the command line reads them:
// every option of request_options() is one of the command line's, each text gives the same
// layer or the same refusal.
TEST(CliArguments, EachRequestOptionByNameReadsAsTheCommandLineReadsIt) {
    const auto same_layer = [](const OptionLayer& a, const OptionLayer& b) {
        return a.stages == b.stages && a.mode == b.mode && a.limit == b.limit &&
               a.allow_first_decimation == b.allow_first_decimation &&
               a.target_hz == b.target_hz && a.priority == b.priority && a.cost == b.cost &&
               a.passband_hz == b.passband_hz && a.stopband_hz == b.stopband_hz &&
               a.attenuation_db == b.attenuation_db && a.ripple_db == b.ripple_db &&
               a.input_rate_hz == b.input_rate_hz && a.output_rate_hz == b.output_rate_hz &&
               a.design == b.design && a.method == b.method &&
               a.quantize_bits == b.quantize_bits && a.coefficients_file == b.coefficients_file &&
               a.coefficients_format == b.coefficients_format && a.tolerance == b.tolerance;
    };
    const std::vector<std::string> texts = {"1",   "2",    "3",        "0",       "65535", "65536",
                                            "44.1k", "2M", "-1",      "1e13",    "1e14",  "nan",
                                            "min-cost", "strict", "ignore", " 7 ", "0.1",
                                            "16", "equiripple", "auto", "c-header", "x.h",
                                            "best-accuracy", "4", "5ppm", "1e-6"};
    int names = 0;
    for (const RequestOption& option : request_options()) {
        ++names;
        const std::string name = option.name;
        for (const std::string& text : option.accepted == nullptr ? std::vector<std::string>{""}
                                                                  : texts) {
            std::vector<std::string> args;
            if (name == "INPUT_RATE") {
                args = {text, "48000"};
            } else if (name == "OUTPUT_RATE") {
                args = {"44100", text};
            } else if (option.accepted == nullptr) {
                args = {"--" + name, "44100", "48000"};
            } else {
                args = {"--" + name + "=" + text, "44100", "48000"};
            }
            OptionLayer by_name;
            if (name != "INPUT_RATE") by_name.input_rate_hz = 44100.0;
            if (name != "OUTPUT_RATE") by_name.output_rate_hz = 48000.0;
            const auto refused = read_option(name, text, by_name);
            const auto parsed = parse_command_line(args);
            if (const auto* error = std::get_if<UsageError>(&parsed)) {
                ASSERT_TRUE(refused.has_value()) << name << " '" << text << "': " << error->message;
                EXPECT_EQ(refused->message, error->message);
            } else {
                ASSERT_FALSE(refused.has_value()) << name << " '" << text << "': " << refused->message;
                EXPECT_TRUE(same_layer(by_name, std::get<CommandLine>(parsed).options))
                    << name << " '" << text << "'";
            }
        }
    }
    EXPECT_EQ(names, 20);
    // A name the command line does not know is refused as the command line refuses it.
    OptionLayer layer;
    EXPECT_EQ(read_option("speed", "1", layer)->message,
              std::get<UsageError>(parse_command_line({"--speed", "44100", "48000"})).message);
}

TEST(SearchStatusLine, ShowsAPercentageWhereTheTotalIsKnown) {
    EXPECT_EQ(progress_text({SearchPass::convergents, 3, 12, 1, 1}), "convergent 3 of 12");
    EXPECT_EQ(progress_text({SearchPass::common_factors, 450, 1000, 1, 1}),
              "common factors, 45%");
    // Rounded down: 100% only once the pass is through.
    EXPECT_EQ(progress_text({SearchPass::common_factors, 999999, 1000000, 1, 1}),
              "common factors, 99%");
    EXPECT_EQ(progress_text({SearchPass::common_factors, 1000000, 1000000, 1, 1}),
              "common factors, 100%");
    EXPECT_EQ(progress_text({SearchPass::common_factors, 1, 60216168, 2, 2}),
              "search 2 of 2, common factors, 0%");
    EXPECT_EQ(progress_text({SearchPass::convergents, 1, 7, 1, 2}),
              "search 1 of 2, convergent 1 of 7");
    EXPECT_EQ(progress_text({SearchPass::common_factors, 5000, 0, 1, 1}),
              "common factors, 5000 iterations");
}
