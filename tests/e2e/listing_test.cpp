// The listing and the log as a reader meets them.  The default example and
// the FACTOR and RAM forms of the reference model, estimated with every
// table the model printers make (PALL): no title twice in a row, no
// template column headers, no line of lone "_" cells, the equations written
// as equations.  Model errors name the line and the column of the name
// they are about.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "harness.h"

namespace velix::test {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The words of a line joined by single blanks.
std::string words(const std::string& line) {
    std::istringstream in(line);
    std::string w, joined;
    while (in >> w) joined += (joined.empty() ? "" : " ") + w;
    return joined;
}

std::string example(const std::string& stem) {
    std::string program = read_text(std::string(VELIX_SOURCE_DIR) + "/examples/" + stem + ".vx");
    for (const char* method : {"method=none", "method=ml"})
        if (const size_t at = program.find(method); at != std::string::npos)
            program.replace(at, std::string(method).size(), "method=ml pall");
    return program;
}

void expect_readable(const std::string& stem) {
    const RunResult r = run_velix(example(stem), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto ls = lines_of(r.listing);
    for (size_t i = 0; i < ls.size(); ++i) {
        const std::string w = words(ls[i]);
        EXPECT_FALSE(i > 0 && !w.empty() && w == words(ls[i - 1]) && w.find_first_not_of("- ") != std::string::npos)
            << stem << ": line " << i + 1 << " repeats the line above: " << w;
        EXPECT_FALSE(!w.empty() && w.find_first_not_of("_ ") == std::string::npos)
            << stem << ": line " << i + 1 << " holds only no-value cells";
        for (const char* header : {"Control", "Asterisk", "C1_1"})
            EXPECT_EQ(ls[i].find(header), std::string::npos) << stem << ": line " << i + 1 << ": " << ls[i];
    }
}

TEST(ReadableListing, TheExamplesReadWithoutTemplateClutter) {
    for (const char* stem : {"default", "hs_cfa_factor", "hs_cfa_ram"}) expect_readable(stem);
}

// The loading of x2 is 0.5535 with standard error 0.0998 (the reference
// estimates of tests/fixtures/hs_cfa_ml.expected.json, from lavaan); the
// equation shows both, the t value under them.
TEST(ReadableListing, TheDefaultExampleWritesItsEquationsAsEquations) {
    const RunResult r = run_velix(read_text(std::string(VELIX_SOURCE_DIR) + "/examples/default.vx"), {"hs.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const auto ls = lines_of(r.listing);
    size_t at = 0;
    while (at < ls.size() && words(ls[at]) != "x2 = 0.5535*Fvis + 1.0000 E2") ++at;
    ASSERT_LT(at + 2, ls.size()) << r.listing;
    EXPECT_EQ(words(ls[at + 1]), "Std Err 0.0998 l2");
    EXPECT_EQ(words(ls[at + 2]), "t Value 5.5444");
    EXPECT_EQ(ls[at + 1].find("0.0998"), ls[at].find("0.5535")) << "the standard error stands under its estimate";
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
    const auto log = lines_of(r.log);
    for (const auto& [message, line, column] :
         {std::tuple<std::string, int, size_t>{"dependent variable x10", 5, program.find("x10") - program.find("      x2")},
          {"STD variable E4", 7, program.find("E4 =") - program.find("       E4")}}) {
        size_t at = 0;
        while (at < log.size() && log[at].find(message) == std::string::npos) ++at;
        ASSERT_LT(at + 3, log.size()) << message << "\n" << r.log;
        EXPECT_EQ(words(log[at + 1]), "at line " + std::to_string(line) + ", column " + std::to_string(column + 1) + ":")
            << r.log;
        EXPECT_EQ(log[at + 2], lines_of(program)[static_cast<size_t>(line - 1)]);
        EXPECT_EQ(log[at + 3], std::string(column, ' ') + "^");
    }
}

}  // namespace
}  // namespace velix::test
