// The JSON and CSV records: every field where the schema puts it, numbers that read back
// to the same doubles, null or empty where no finite value exists, and RFC 4180 quoting.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "records/records.h"

using namespace quillmere;
using namespace quillmere::records;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

Record two_stage_record() {
    Record record;
    record.line = 7;
    ResolvedRequest request;
    request.stages = 2;
    request.two.input_rate_hz = 44100.0;
    request.two.output_rate_hz = 48000.1;
    request.two.mode = SearchMode::custom_limit;
    request.two.max_factor = 2000;
    request.two.intermediate_target = IntermediateTarget{96000.0, Priority::strict};
    record.request = request;
    TwoStageResult result;
    result.status = Status::ok;
    result.outcome = Outcome::approximation;
    result.first = Stage{10, 7};
    result.second = Stage{16, 21};
    result.overall_sum = 54;
    result.overall_complexity = 31;
    result.combined_ratio = 160.0 / 147.0;
    result.intermediate_rate_hz = 63000.0;
    result.output_rate_hz = 0.1 + 47999.9;
    result.output_error = RateError{-0.1, 0.1 / 48000.1, NaN};
    result.intermediate_error = RateError{-33000.0, 0.34375, -343750.0};
    // The request's limit (2000, custom limit) and target (above both rates) add the
    // warnings of the dialog's questions.
    result.advice.intermediate_miss = true;
    result.convergent_count = 5;
    result.common_factor_iterations = 12345678901234ULL;
    record.two = result;
    return record;
}

/// A minimal RFC 4180 reader: fields of one or more rows.
std::vector<std::vector<std::string>> read_csv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    rows.pop_back();  // after the last line break
    return rows;
}

std::string column(const std::vector<std::vector<std::string>>& rows, std::size_t row,
                   const std::string& name) {
    for (std::size_t i = 0; i < rows[0].size(); ++i) {
        if (rows[0][i] == name) return rows.at(row).at(i);
    }
    ADD_FAILURE() << "no column " << name;
    return {};
}

}  // namespace

TEST(CliJson, TwoStageRecordReadsBackToTheSameValues) {
    const std::string text = format_json(two_stage_record());
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1) << "one object per line";
    const auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["line"], 7);
    EXPECT_EQ(json["status"], "approximation");
    EXPECT_TRUE(json["error"].is_null());
    EXPECT_EQ(json["request"]["mode"], "custom-limit");
    EXPECT_EQ(json["request"]["limit"], 2000);
    EXPECT_EQ(json["request"]["priority"], "strict");
    EXPECT_EQ(json["request"]["output_rate_hz"].get<double>(), 48000.1);
    ASSERT_EQ(json["stages"].size(), 2u);
    EXPECT_EQ(json["stages"][1]["l"], 16);
    EXPECT_EQ(json["stages"][1]["input_rate_hz"].get<double>(), 63000.0);
    EXPECT_EQ(json["output_rate_hz"].get<double>(), 0.1 + 47999.9);
    EXPECT_EQ(json["ratio"].get<double>(), 160.0 / 147.0);
    EXPECT_EQ(json["output_error"]["relative"].get<double>(), 0.1 / 48000.1);
    EXPECT_TRUE(json["output_error"]["ppm"].is_null()) << "NaN is written as null";
    EXPECT_EQ(json["intermediate_error"]["ppm"].get<double>(), -343750.0);
    EXPECT_EQ(json["advice"]["large_limit"], true);
    EXPECT_EQ(json["advice"]["high_intermediate_target"], true);
    EXPECT_EQ(json["search"]["common_factor_iterations"].get<std::uint64_t>(), 12345678901234ULL);
    EXPECT_TRUE(json["cost"].is_null());
}

TEST(CliJson, ErrorRecordsKeepTheLineAndReason) {
    Record record;
    record.line = 3;
    record.error = "unterminated \" quote \x01 \xff";
    const auto json = nlohmann::json::parse(format_json(record));
    EXPECT_EQ(json["status"], "error");
    EXPECT_EQ(json["line"], 3);
    EXPECT_TRUE(json["request"].is_null());
    EXPECT_TRUE(json["stages"].empty());
    // Bytes that are no UTF-8 are replaced rather than ending the run.
    EXPECT_EQ(json["error"].get<std::string>().rfind("unterminated \" quote \x01 ", 0), 0u);

    Record failed = two_stage_record();
    failed.two->status = Status::overflow_error;
    failed.two->outcome = Outcome::not_found;
    failed.two->message = "The product overflows.";
    const auto solver = nlohmann::json::parse(format_json(failed));
    EXPECT_EQ(solver["status"], "error");
    EXPECT_EQ(solver["error"], "The product overflows.");
    EXPECT_TRUE(solver["stages"].empty());

    failed.two->status = Status::not_found;
    EXPECT_EQ(nlohmann::json::parse(format_json(failed))["status"], "not_found");
    EXPECT_FALSE(record_succeeded(failed));
}

TEST(CliJson, CostObjectCarriesTheNamedFields) {
    Record record = two_stage_record();
    record.request->cost = true;
    CostEstimate cost;
    cost.passband_hz = 19845.0;
    cost.stopband_hz = 22050.0;
    cost.attenuation_db = 100.0;
    cost.ripple_db = 0.1;
    StageCost stage;
    stage.taps = 301;
    stage.kaiser_beta = 10.056;
    stage.taps_per_output_sample = 30.1;
    stage.macs_per_second = 1896300.0;
    stage.transition_hz = 2205.0;
    stage.filtered = true;
    cost.stages = {stage, stage};
    cost.total_macs_per_second = 2.0 * 1896300.0;
    cost.total_coefficients = 602;
    record.cost = cost;
    record.single_stage_equivalent = Stage{160, 147};
    record.single_stage_cost = cost;
    const auto json = nlohmann::json::parse(format_json(record));
    const auto& c = json["cost"];
    for (const char* field : {"passband_hz", "stopband_hz", "attenuation_db", "ripple_db", "stages",
                              "total_macs_per_second"}) {
        EXPECT_TRUE(c.contains(field)) << field;
    }
    for (const char* field :
         {"taps", "kaiser_beta", "taps_per_output_sample", "macs_per_second", "transition_hz"}) {
        EXPECT_TRUE(c["stages"][0].contains(field)) << field;
    }
    EXPECT_EQ(c["stages"][1]["kaiser_beta"].get<double>(), 10.056);
    EXPECT_EQ(c["single_stage"]["l"], 160);
    EXPECT_TRUE(c["error"].is_null());
    EXPECT_TRUE(record_succeeded(record));

    record.cost->status = Status::invalid_request;
    record.cost->message = "The intermediate rate cannot carry the passband.";
    const auto refused = nlohmann::json::parse(format_json(record));
    EXPECT_EQ(refused["cost"]["error"], "The intermediate rate cannot carry the passband.");
    EXPECT_TRUE(refused["cost"]["total_macs_per_second"].is_null());
    EXPECT_FALSE(record_succeeded(record)) << "a refused estimate is a failed request";
}

TEST(CliCsv, RowsMatchTheHeaderAndQuoteAsRfc4180Says) {
    Record error;
    error.line = 12;
    error.error = "invalid value 'a,\"b\"\nc' for --mode";
    const auto rows = read_csv(csv_header() + format_csv(two_stage_record()) + format_csv(error));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].size(), rows[0].size());
    EXPECT_EQ(rows[2].size(), rows[0].size());
    EXPECT_EQ(column(rows, 1, "line"), "7");
    EXPECT_EQ(column(rows, 1, "l2"), "16");
    EXPECT_EQ(std::stod(column(rows, 1, "achieved_output_rate_hz")), 0.1 + 47999.9);
    EXPECT_EQ(std::stod(column(rows, 1, "ratio")), 160.0 / 147.0);
    EXPECT_EQ(column(rows, 1, "output_ppm"), "") << "NaN is an empty field";
    EXPECT_EQ(column(rows, 1, "advice"), "intermediate_miss;large_limit;high_intermediate_target");
    EXPECT_EQ(column(rows, 1, "common_factor_iterations"), "12345678901234");
    EXPECT_EQ(column(rows, 1, "taps1"), "");
    EXPECT_EQ(column(rows, 2, "status"), "error");
    EXPECT_EQ(column(rows, 2, "error"), error.error);
    EXPECT_EQ(column(rows, 2, "l1"), "");
}

namespace {

/// A record of a plan of three stages (min-cost with a tolerance), as solve_plan answers.
Record plan_record() {
    Record record;
    record.line = 3;
    ResolvedRequest request;
    request.stages = 3;
    request.general = true;
    request.plan.input_rate_hz = 192000.0;
    request.plan.output_rate_hz = 44100.0;
    request.plan.stages = 3;
    request.plan.mode = SearchMode::min_cost;
    request.plan.max_factor = 16;
    request.plan.tolerance = 5e-6;
    record.request = request;
    PlanResult result;
    result.status = Status::ok;
    result.outcome = Outcome::match;
    result.stages = {Stage{7, 16}, Stage{7, 10}, Stage{3, 4}};
    result.stage_output_rates_hz = {84000.0, 58799.99999999999, 44100.0};
    result.combined_ratio = 0.2296875;
    result.output_rate_hz = 44100.0;
    result.output_error = RateError{0.0, 0.0, 0.0};
    result.overall_sum = 47;
    result.overall_complexity = 30;
    record.plan = result;
    return record;
}

}  // namespace

TEST(CliJson, PlanRecordsCarryEveryStageAndTheTolerance) {
    Record record = plan_record();
    const auto json = nlohmann::json::parse(format_json(record));
    EXPECT_EQ(json["status"], "match");
    EXPECT_EQ(json["request"]["stages"], 3);
    EXPECT_EQ(json["request"]["mode"], "min-cost");
    EXPECT_EQ(json["request"]["tolerance"].get<double>(), 5e-6);
    EXPECT_EQ(json["request"]["allow_first_decimation"], true) << "min-cost's default";
    ASSERT_EQ(json["stages"].size(), 3u);
    // Each stage starts where the one before ended.
    EXPECT_EQ(json["stages"][1]["input_rate_hz"].get<double>(), 84000.0);
    EXPECT_EQ(json["stages"][2]["input_rate_hz"].get<double>(), 58799.99999999999);
    EXPECT_EQ(json["stages"][2]["l"], 3);
    EXPECT_TRUE(json["intermediate_rate_hz"].is_null()) << "no one rate between three stages";
    EXPECT_EQ(json["overall_sum"], 47);

    record.request->plan.stages = auto_stages;
    EXPECT_EQ(nlohmann::json::parse(format_json(record))["request"]["stages"], "auto");

    // A tolerance that refused every answer: not_found, the reason in `error`.
    record.plan = PlanResult{};
    record.plan->status = Status::not_found;
    record.plan->message = "No plan within the tolerance.";
    const auto refused = nlohmann::json::parse(format_json(record));
    EXPECT_EQ(refused["status"], "not_found");
    EXPECT_EQ(refused["error"], "No plan within the tolerance.");
    EXPECT_TRUE(refused["stages"].empty());
    EXPECT_FALSE(record_succeeded(record));
}

TEST(CliCsv, PlanRowsFillTheColumnsOfTheirStages) {
    Record record = plan_record();
    record.request->cost = true;
    CostEstimate cost;
    StageCost stage;
    stage.taps = 100;
    stage.macs_per_second = 1000.0;
    stage.macs_per_input_sample = 1000.0 / 192000.0;
    stage.filtered = true;
    cost.stages = {stage, stage, stage};
    cost.total_macs_per_second = 3000.0;
    cost.total_coefficients = 300;
    cost.macs_per_input_sample = 3000.0 / 192000.0;
    record.cost = cost;
    const auto rows = read_csv(csv_header() + format_csv(record));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].size(), rows[0].size());
    EXPECT_EQ(column(rows, 1, "stages"), "3");
    EXPECT_EQ(column(rows, 1, "tolerance"), "5e-06");
    EXPECT_EQ(column(rows, 1, "l3"), "3");
    EXPECT_EQ(column(rows, 1, "m3"), "4");
    EXPECT_EQ(column(rows, 1, "complexity3"), "4");
    EXPECT_EQ(column(rows, 1, "l4"), "");
    EXPECT_EQ(column(rows, 1, "intermediate_rate_hz"), "");
    EXPECT_EQ(column(rows, 1, "taps3"), "100");
    EXPECT_EQ(column(rows, 1, "taps4"), "");
    EXPECT_EQ(std::stod(column(rows, 1, "macs_per_input_sample")), 3000.0 / 192000.0);
}
