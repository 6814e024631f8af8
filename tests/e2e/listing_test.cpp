// The listing and the log as a reader meets them.  The default example and
// the FACTOR and RAM forms of the reference model, estimated with every table
// (PALL): no line repeats the one above (a title printed twice), no template
// column header, no line of lone "_" cells, the equations as equations.
// Model errors name the line and the column of the name they are about.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
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

// Model errors of each model kind: each message is followed by its place in
// the program, the source line and a caret under the name, and is the only
// error its mistake gives.  LINEQS: a dependent variable that is no data
// variable, a STD variable not in the model, a latent variable without its
// prefix (used twice and given a variance).  COSAN: a central matrix of a
// general type, a matrix repeated with other columns (its second
// occurrence, on a later line).  FACTOR: more factors than variables (at
// N=), VARNAMES for no matrix of the model.  A VAR list that names no data
// variable, on the second line of the statement.
TEST(ReadableListing, ModelErrorsNameTheirLineAndColumn) {
    struct Place {
        std::string message;
        int line, column;
    };
    struct Case {
        std::string model;
        std::vector<Place> places;
        bool alone = false;  // the places are the only errors and warnings of the log
    };
    const std::vector<Case> cases = {
        {"   lineqs\n"
         "      x1 = 1.0 Fvis + E1,\n"
         "      x2 = l2 Fvis + E2, x10 = l3 Fvis + E3;\n"
         "   std Fvis = vvis, E1-E3 = ve1-ve3,\n"
         "       E4 = ve4;\n",
         {{"dependent variable x10", 5, 26}, {"STD variable E4", 7, 8}},
         true},
        {"   cosan F(3, GEN) * P(3, GEN) + U(9, SYM)\n"
         "       + F(2, GEN) * Q(3, SYM);\n",
         {{"central matrix P of term 1", 3, 22}, {"Matrix 4 repeats matrix 1 (F)", 4, 10}}},
        {"   factor\n"
         "      n=12;\n"
         "   varnames _Z_ = a b;\n",
         {{"asks for 12 factors", 4, 7}, {"names _Z_", 5, 13}}},
        {"   lineqs\n"
         "      x1 = 1.0 visual + E1,\n"
         "      x2 = l2 visual + E2;\n"
         "   std visual = vvis, E1-E2 = ve1-ve2;\n",
         {{"Variable visual is not a DATA= variable", 4, 16}},
         true},
        {"   var x1 x2\n"
         "       x33;\n"
         "   lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x33 = l3 F1 + E3;\n",
         {{"Variable x33 is not in the DATA= data set", 4, 8}},
         true},
    };
    for (const auto& [model, places, alone] : cases) {
        const std::string program =
            "title 'model errors';\nproc velix data=hs method=ml covariance;\n" + model + "run;\n";
        const RunResult r = run_velix(program, {"hs.csv"});
        std::istringstream in(r.log);
        std::vector<std::string> log;
        for (std::string l; std::getline(in, l);) log.push_back(l);
        for (const Place& p : places) {
            size_t at = 0;
            while (at + 3 < log.size() && log[at].find(p.message) == std::string::npos) ++at;
            ASSERT_LT(at + 3, log.size()) << p.message << "\n" << r.log;
            EXPECT_EQ(log[at + 1], "  at line " + std::to_string(p.line) + ", column " + std::to_string(p.column) + ":");
            EXPECT_EQ(log[at + 3], std::string(static_cast<size_t>(p.column - 1), ' ') + "^") << p.message;
        }
        size_t faults = 0;
        for (const std::string& l : log) faults += l.rfind("ERROR:", 0) == 0 || l.rfind("WARNING:", 0) == 0;
        if (alone) {
            EXPECT_EQ(faults, places.size()) << r.log;
        }
    }
}

}  // namespace
}  // namespace velix::test
