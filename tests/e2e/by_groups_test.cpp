// BY groups: the fit, start values, estimates, standard errors and OUTRAM=
// STAT rows of every group of a BY run (the reference data twice, the two
// schools of hs_by) are those of a run on its data alone; the path model
// on the schools against lavaan 0.6.14 (single_run_reference.R).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/harness.h"
#include "velix/codes.h"

namespace velix::test {
namespace {

// One group's results: the fit summary by label, the start and final
// estimates and standard errors by parameter, the STAT rows by key.
struct GroupResult {
    std::map<std::string, double> fit;
    std::map<std::string, double> estimates;
    std::map<std::string, std::string> stats;
};

// The results of the BY groups of step `step`, in group order; the STAT
// rows come from the OUTRAM= data set `outram`, whose first `skip`
// columns are BY variables.
std::vector<GroupResult> group_results(const RunResult& r, size_t step, const std::string& outram, size_t skip) {
    std::vector<GroupResult> out;
    for (const JsonValue* fit : r.items(step, "factoid", "Fit")) out.push_back({factoid_values(*fit), {}, {}});
    // A start table and a final table per group.
    const auto tables = r.items(step, "table", "ParameterEstimates");
    for (size_t t = 0; t < tables.size() && t / 2 < out.size(); ++t)
        for (const char* column : {"Estimate", "AppStdErr"})
            for (const auto& [name, v] : column_by_parameter(*tables[t], column))
                if (!std::isnan(v)) out[t / 2].estimates[std::to_string(t % 2) + column + name] = v;
    const Rows rows = read_rows(outram);
    size_t group = 0;
    std::string last;
    for (const auto& row : rows.cells) {
        if (row[skip] != "STAT") continue;
        if (row[skip + 1] == "N" && !last.empty()) ++group;
        last = row[skip + 1];
        if (group < out.size()) out[group].stats[row[skip + 1]] = row[skip + 5];
    }
    return out;
}

// The same analysis gives the same numbers: only the last bits of the
// arithmetic may differ.
void expect_same(const std::map<std::string, double>& got, const std::map<std::string, double>& want,
                 const std::string& what) {
    EXPECT_EQ(got.size(), want.size()) << what;
    for (const auto& [key, v] : want) {
        const auto it = got.find(key);
        ASSERT_NE(it, got.end()) << what << ": no " << key;
        EXPECT_NEAR(it->second, v, 1e-10 * std::fmax(1.0, std::fabs(v))) << what << ": " << key;
    }
}

class ByGroups : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = own_folder("by_groups");
        // The reference data twice, as BY groups g = 1 and 2 (a moment data
        // set keeps its TYPE comment first).
        for (const char* stem : {"hs", "ability", "poldem"}) {
            std::ifstream in(data_path(std::string(stem) + ".csv"));
            std::ofstream copy(dir_ + "/" + stem + ".csv"), twice(dir_ + "/" + stem + "2.csv");
            std::vector<std::string> lines;
            for (std::string line; std::getline(in, line);) {
                copy << line << "\n";
                if (line[0] == '#')
                    twice << line << "\n";
                else
                    lines.push_back(line);
            }
            twice << "g," << lines[0] << "\n";
            for (const char* g : {"1,", "2,"})
                for (size_t i = 1; i < lines.size(); ++i) twice << g << lines[i] << "\n";
        }
        // The two schools of hs_by, each alone; and by name, a character
        // BY variable: in the order of the data (Pasteur before
        // Grant-White, which needs NOTSORTED), sorted, and in the order of
        // the data declared character by a CHAR line.
        std::ifstream in(data_path("hs_by.csv"));
        std::ofstream by(dir_ + "/hs_by.csv"), one(dir_ + "/school1.csv"), two(dir_ + "/school2.csv");
        std::ofstream named(dir_ + "/hs_school.csv"), sorted(dir_ + "/hs_school_sorted.csv");
        std::ofstream declared(dir_ + "/hs_school_declared.csv");
        declared << "# CHAR=school:11\n";
        std::string pasteur;
        for (std::string line; std::getline(in, line);) {
            by << line << "\n";
            if (line[0] != '2') one << line << "\n";
            if (line[0] != '1') two << line << "\n";
            const std::string rest = line.substr(line.find(','));
            const std::string text = line[0] == '1' ? "Pasteur" + rest : line[0] == '2' ? "Grant-White" + rest : line;
            named << text << "\n";
            declared << text << "\n";
            if (line[0] == '1')
                pasteur += text + "\n";
            else
                sorted << text << "\n";
        }
        sorted << pasteur;
    }
    static std::string dir_;
};
std::string ByGroups::dir_;

// `program` (whose PROC statement ends with "covariance;") on `data`
// with OUTRAM= `outram` and, when given, the BY variable `by`.
std::string on_data(std::string program, const std::string& data, const std::string& outram,
                    const std::string& by = "") {
    const size_t at = program.find("data=");
    program.replace(at, program.find(' ', at) - at, "data=" + data);
    const size_t end = program.find("covariance;");
    return program.replace(end, 11, "covariance outram=" + outram + ";\n" + (by.empty() ? "" : "by " + by + ";\n"));
}

const char* const kPath =
    "proc velix data=hs_by method=ml covariance;\nvar x1-x4;\n"
    "lineqs x1 = b2 x2 + b3 x3 + E1, x4 = c1 x1 + E4;\nstd E1 = v1, E4 = v4;\nrun;\n";
// An active bound gives its degree of freedom back in every group.
const char* const kBound =
    "proc velix data=hs_by method=ml random=5 covariance;\nvar x1-x4;\n"
    "lineqs x1 = 1.0 F + E1, x2 = l2 F + E2, x3 = l3 F + E3, x4 = l4 F + E4;\n"
    "std F = vf, E1-E4 = ve1-ve4;\nbounds ve1 >= 1.0;\nrun;\n";

TEST_F(ByGroups, EachGroupGivesTheAnswerOfItsDataAlone) {
    const std::string hs = read_text(data_path("hs_cfa_ml.vx"));
    const struct Case {
        std::string program, byData, by;
        std::vector<std::string> alone;
    } cases[] = {{hs, "hs2", "g", {"hs", "hs"}},
                 {read_text(data_path("ability_ml.vx")), "ability2", "g", {"ability", "ability"}},
                 {read_text(data_path("poldem_ml.vx")), "poldem2", "g", {"poldem", "poldem"}},
                 {hs, "hs_by", "school", {"school1", "school2"}},
                 {kPath, "hs_by", "school", {"school1", "school2"}},
                 {kPath, "hs_school", "school notsorted", {"school1", "school2"}},
                 {kPath, "hs_school_declared", "school notsorted", {"school1", "school2"}},
                 {hs, "hs_school_sorted", "school", {"school2", "school1"}},
                 {kBound, "hs_by", "school", {"school1", "school2"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.byData + "\n" + c.program);
        std::string program = on_data(c.program, c.byData, "by", c.by);
        for (size_t k = 0; k < c.alone.size(); ++k)
            program += on_data(c.program, c.alone[k], "alone" + std::to_string(k));
        const RunResult r = run_velix(program, {}, {"--lib", dir_});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const auto groups = group_results(r, 0, dir_ + "/by.csv", 1);
        ASSERT_EQ(groups.size(), c.alone.size());
        for (size_t k = 0; k < c.alone.size(); ++k) {
            const auto alone = group_results(r, k + 1, dir_ + "/alone" + std::to_string(k) + ".csv", 0);
            ASSERT_EQ(alone.size(), 1u);
            const std::string what = "group " + std::to_string(k + 1);
            expect_same(groups[k].fit, alone[0].fit, what + " fit");
            expect_same(groups[k].estimates, alone[0].estimates, what + " estimates");
            EXPECT_EQ(groups[k].stats, alone[0].stats) << what;
        }
        if (c.program == kPath) {
            // lavaan: N, chi-square, df, p and two estimates of each school.
            const char* const n[2] = {"156", "145"};
            const double ref[2][7] = {{1.31103527, 2, 0.5191732507, 0.1366628086, 0.07240120891, 0.4070486984,
                                       0.07094602586},
                                      {7.070002754, 2, 0.02915871684, 0.1741104797, 0.08371928236, 0.3335751166,
                                       0.07647341577}};
            for (size_t k = 0; k < 2; ++k) {
                const GroupResult& g = groups[k];
                EXPECT_EQ(g.stats.at("N"), n[k]);
                EXPECT_NEAR(g.fit.at("Chi-Square"), ref[k][0], 1e-6 * ref[k][0]);
                EXPECT_EQ(g.fit.at("Chi-Square DF"), ref[k][1]);
                EXPECT_NEAR(g.fit.at("Pr > Chi-Square"), ref[k][2], 1e-6);
                EXPECT_NEAR(g.estimates.at("1Estimateb2"), ref[k][3], 1e-6);
                EXPECT_NEAR(g.estimates.at("1AppStdErrb2"), ref[k][4], 1e-6);
                EXPECT_NEAR(g.estimates.at("1Estimatec1"), ref[k][5], 1e-6);
                EXPECT_NEAR(g.estimates.at("1AppStdErrc1"), ref[k][6], 1e-6);
            }
        }
    }
}

// The peak resident memory of velix run with `args` (kilobytes), its
// listing to /dev/null; *status its exit status.
long peak_of(const std::vector<std::string>& args, int* status) {
    const int pid = start_velix(args);
    int raw = 0;
    rusage usage{};
    EXPECT_EQ(::wait4(pid, &raw, 0, &usage), pid);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return usage.ru_maxrss;
}

// Writes `name`.csv in `dir`: `groups` groups of 20 rows of 5 variables
// with one common factor (the same rows in every group).
void write_groups(const std::string& dir, const std::string& name, int groups) {
    std::mt19937 random(7);
    std::normal_distribution<double> normal;
    std::string rows;
    for (int row = 0; row < 20; ++row) {
        const double f = normal(random);
        for (int j = 0; j < 5; ++j) rows += ',' + std::to_string(0.7 * f + 0.6 * normal(random));
        rows += '\n';
    }
    std::ofstream data(dir + "/" + name + ".csv");
    data << "g,x1,x2,x3,x4,x5\n";
    for (int g = 1; g <= groups; ++g)
        for (size_t at = 0; at < rows.size();) {
            const size_t end = rows.find('\n', at) + 1;
            data << g << std::string_view(rows).substr(at, end - at);
            at = end;
        }
}

// What a BY group leaves (its listing and JSON items, output objects and
// texts, the scan's sums of it, its OUTSTAT= rows, the binding of each pass
// over its observations) is written out or freed before the next group
// begins: the peak of many groups stays within `most` of that of 10.  Each
// group used to keep about 100 KB to the step's end (seen at 2,000 groups),
// and then each pass over a group's raw observations (for KURTOSIS,
// OUTSTAT= and the WLS and DWLS weights) about 400 bytes, which shows only
// beyond the up to 4 MB of sums that the scan holds while it reads (30,000
// groups).  MAXITER=0: the weights are formed, no fit is spent on them.
TEST_F(ByGroups, WhatAStepKeepsDoesNotGrowWithTheNumberOfGroups) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer holds freed memory back (its quarantine): the peak grows anyway";
#endif
    const struct Case {
        const char* options;
        int groups;
        long most;      // kilobytes
        bool document;  // with a JSON document
    } cases[] = {{"method=ml outstat=stat", 2000, 16L * 1024, true},
                 {"method=none covariance kurtosis outstat=stat", 30000, 8L * 1024, false},
                 {"method=wls covariance noprint maxiter=0", 30000, 8L * 1024, false},
                 {"method=dwls covariance noprint maxiter=0", 30000, 8L * 1024, false}};
    for (const int groups : {10, 2000, 30000}) write_groups(dir_, "many" + std::to_string(groups), groups);
    for (const Case& c : cases) {
        long peak[2] = {};
        const int counts[2] = {10, c.groups};
        for (int k = 0; k < 2; ++k) {
            const std::string name = "many" + std::to_string(counts[k]);
            std::ofstream(dir_ + "/" + name + ".vx")
                << "proc velix data=" << name << " " << c.options << ";\nby g;\nfactor n=1;\nrun;\n";
            std::vector<std::string> args{"--lib", dir_, dir_ + "/" + name + ".vx"};
            if (c.document) args.insert(args.begin(), {"--json", dir_ + "/" + name + ".json"});
            int status = -1;
            peak[k] = peak_of(args, &status);
            EXPECT_EQ(status, 0) << c.options << ", " << counts[k] << " groups";
        }
        EXPECT_LT(peak[1] - peak[0], c.most) << c.options << ": kilobytes more at the peak of " << c.groups
                                             << " groups than of 10 (" << peak[0] << ")";
    }
    for (const char* big : {"many2000.csv", "many2000.json", "many30000.csv", "stat.csv"})
        std::filesystem::remove(dir_ + "/" + big);
}

// Each group's output starts with its BY line, in the listing and in the
// document (with the values by name); a character BY variable whose values
// are out of order needs NOTSORTED.
TEST_F(ByGroups, EachGroupStartsWithItsByLineAndUnsortedGroupsNeedNotsorted) {
    const struct Case {
        std::string data, by;
        std::vector<std::string> lines;
        bool numeric;
    } cases[] = {{"hs_school", "school notsorted", {"school=Pasteur", "school=Grant-White"}, false},
                 {"hs_school_sorted", "school", {"school=Grant-White", "school=Pasteur"}, false},
                 {"hs_by", "school", {"school=1", "school=2"}, true}};
    for (const Case& c : cases) {
        const RunResult r = run_velix(on_data(kPath, c.data, "by", c.by), {}, {"--lib", dir_});
        ASSERT_EQ(r.exitStatus, 0) << c.data << "\n" << r.log;
        const auto lines = r.items(0, "byGroup");
        ASSERT_EQ(lines.size(), c.lines.size()) << c.data;
        size_t from = 0;
        for (size_t k = 0; k < lines.size(); ++k) {
            EXPECT_EQ((*lines[k])["text"].str(), c.lines[k]);
            EXPECT_EQ((*lines[k])["group"].number(), static_cast<double>(k + 1));
            const JsonValue& value = (*lines[k])["values"]["school"];
            const std::string given = c.lines[k].substr(7);
            if (c.numeric)
                EXPECT_EQ(value.number(), std::stod(given));
            else
                EXPECT_EQ(value.str(), given);
            // Before the group's statistics in the listing.
            const size_t line = r.listing.find(c.lines[k] + "\n", from);
            ASSERT_NE(line, std::string::npos) << c.lines[k];
            from = r.listing.find("Modeling Statistics", line);
            EXPECT_NE(from, std::string::npos) << c.lines[k];
        }
    }
    const RunResult r = run_velix(on_data(kPath, "hs_school", "by", "school"), {}, {"--lib", dir_});
    EXPECT_EQ(r.return_code(), kLevelBadVariables) << r.log;
    EXPECT_NE(r.log.find("is not sorted in ascending sequence of its BY variables: observation 157 has "
                         "school=Grant-White after school=Pasteur"),
              std::string::npos)
        << r.log;
    // A BY variable the data set lacks is placed in one sentence.
    const RunResult lacking = run_velix(on_data(kPath, "hs_by", "by", "grade"), {}, {"--lib", dir_});
    EXPECT_NE(lacking.log.find("ERROR: BY variable grade is not in data set hs_by at line "), std::string::npos)
        << lacking.log;
}

}  // namespace
}  // namespace velix::test
