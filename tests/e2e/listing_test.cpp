// The listing and the log as a reader meets them.  The default example and
// the FACTOR and RAM forms of the reference model, estimated with every table
// (PALL): no line repeats the one above (a title printed twice), no template
// column header, no line of lone "_" cells, the equations as equations.
// Model errors name the line and the column of the name they are about.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

// The lines of a text, each as its words joined by one blank.
std::vector<std::string> word_lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        std::istringstream ws(l);
        std::string w, joined;
        while (ws >> w) joined += (joined.empty() ? "" : " ") + w;
        out.push_back(joined);
    }
    return out;
}

TEST(ReadableListing, TheExamplesReadWithoutTemplateClutter) {
    for (const std::string stem : {"default", "hs_cfa_factor", "hs_cfa_ram"}) {
        std::string program = read_text(std::string(VELIX_SOURCE_DIR) + "/examples/" + stem + ".vx");
        const size_t at = program.find("covariance;");
        program.replace(at, 11, "method=ml covariance pall;");
        const RunResult r = run_velix(program, {"hs.csv"});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        const auto ls = word_lines(r.listing);
        for (size_t i = 0; i < ls.size(); ++i) {
            EXPECT_FALSE(i > 0 && ls[i] == ls[i - 1] && ls[i].find_first_not_of("- ") != std::string::npos)
                << stem << " line " << i + 1 << " repeats the line above: " << ls[i];
            EXPECT_FALSE(!ls[i].empty() && ls[i].find_first_not_of("_ ") == std::string::npos) << stem << " " << i + 1;
            for (const char* header : {"Control", "Asterisk", "C1_1"})
                EXPECT_EQ(ls[i].find(header), std::string::npos) << stem << ": " << ls[i];
        }
        if (stem != "default") continue;
        // The loading of x2 and its standard error are those of lavaan
        // (tests/fixtures/hs_cfa_ml.expected.json: 0.5535, 0.0998).
        size_t eq = 0;
        while (eq + 2 < ls.size() && ls[eq] != "x2 = 0.5535*Fvis + 1.0000 E2") ++eq;
        ASSERT_LT(eq + 2, ls.size()) << r.listing;
        EXPECT_EQ(ls[eq + 1], "Std Err 0.0998 l2");
        EXPECT_EQ(ls[eq + 2], "t Value 5.5444");
    }
}

// A dependent variable that is no data variable and a STD variable that is
// not in the model: each message is followed by its place in the program.
TEST(ReadableListing, ModelErrorsNameTheirLineAndColumn) {
    const std::string program =
        "title 'two errors';\n"
        "proc velix data=hs method=ml covariance;\n"
        "   lineqs\n"
        "      x1 = 1.0 Fvis + E1,\n"
        "      x2 = l2 Fvis + E2, x10 = l3 Fvis + E3;\n"
        "   std Fvis = vvis, E1-E3 = ve1-ve3,\n"
        "       E4 = ve4;\n"
        "run;\n";
    const RunResult r = run_velix(program, {"hs.csv"});
    EXPECT_NE(r.exitStatus, 0);
    std::istringstream in(r.log);
    std::vector<std::string> log;
    for (std::string l; std::getline(in, l);) log.push_back(l);
    for (const auto& [message, line, column] : {std::tuple<std::string, int, int>{"dependent variable x10", 5, 26},
                                                {"STD variable E4", 7, 8}}) {
        size_t at = 0;
        while (at + 3 < log.size() && log[at].find(message) == std::string::npos) ++at;
        ASSERT_LT(at + 3, log.size()) << message << "\n" << r.log;
        EXPECT_EQ(log[at + 1], "  at line " + std::to_string(line) + ", column " + std::to_string(column) + ":");
        EXPECT_EQ(log[at + 3], std::string(static_cast<size_t>(column - 1), ' ') + "^");
    }
}

}  // namespace
}  // namespace velix::test
