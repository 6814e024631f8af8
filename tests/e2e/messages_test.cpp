// The messages a new user meets first: each must name what it is about (the
// parameter, the variables, the BY group) and point at its place in the
// program file, with the severity and exit status that follow from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"

using velix::test::JsonValue;
using velix::test::run_velix;
using velix::test::RunResult;

namespace {

// A comment and an earlier step come first, so that a line counted from
// the PROC statement of the second step cannot pass for the file's line.
const char* const kBefore =
    "/* a comment\n"
    "   of two lines */\n"
    "proc velix data=hs method=none;\nvar x1-x3;\n"
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
    "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n";  // lines 1-7

// A step on x1-x3 of hs: the one-factor model, then `statements`.
std::string step(const std::string& options, const std::string& model, const std::string& statements) {
    return "proc velix data=hs " + options + ";\nvar x1-x3;\n" + model + statements + "run;\n";
}

const char* const kOneFactor =
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
    "std F1 = vf, E1-E3 = ve1-ve3;\n";

// BOUNDS, LINCON and NLINCON naming an unknown parameter or variable (or
// BOUNDS a dependent parameter): the
// message, then the line of the program file, the column, the source line
// and a caret under the name (a name on the second line of its statement
// among them).
TEST(Messages, AConstraintOnAnUnknownNameShowsItsPlaceInTheFile) {
    struct Case {
        const char* statements;  // lines 12 on, after the model
        const char* expected;
    } cases[] = {
        {"bounds 0 <= vex;\n",
         "ERROR: The constraint names vex, which is not a parameter of the model.\n"
         "  at line 12, column 13:\nbounds 0 <= vex;\n            ^\n"},
        // A dependent parameter: what bounds take, and how to bound it.
        {"l3 = 0.9 * l2;\nbounds 0 <= l3;\n",
         "ERROR: BOUNDS names l3, a dependent parameter that the programming statements compute: bounds take "
         "independent parameters only. Bound it as a constraint instead: NLINCON l3 >= lower, or lower <= l3 <= "
         "upper.\n  at line 13, column 13:\nbounds 0 <= l3;\n            ^\n"},
        {"lincon l2 +\n  2 * lx3 >= 0;\n",
         "ERROR: The constraint names lx3, which is not a parameter of the model.\n"
         "  at line 13, column 7:\n  2 * lx3 >= 0;\n      ^\n"},
        {"nlincon 0 <= cx;\nc = l2 - l3;\n",
         "ERROR: NLINCON names cx, which is not a numeric variable of the programming statements.\n"
         "  at line 12, column 14:\nnlincon 0 <= cx;\n             ^\n"},
        // The constraint's place is its name's, not its leading bound's.
        {"nlincon 0 <=\n  cx;\nc = l2 - l3;\n",
         "ERROR: NLINCON names cx, which is not a numeric variable of the programming statements.\n"
         "  at line 13, column 3:\n  cx;\n  ^\n"},
    };
    for (const Case& c : cases) {
        const std::string program = kBefore + step("method=ml", kOneFactor, c.statements);
        const RunResult r = run_velix(program, {"hs.csv"});
        EXPECT_EQ(r.exitStatus, 2) << c.statements;
        EXPECT_NE(r.log.find(c.expected), std::string::npos) << c.statements << "\n" << r.log;
        // The same place in a file of Windows (CRLF) and old Mac (a lone
        // CR) line ends.
        for (const char* end : {"\r\n", "\r"}) {
            std::string other;
            for (char ch : program) other += ch == '\n' ? std::string(end) : std::string(1, ch);
            EXPECT_NE(run_velix(other, {"hs.csv"}).log.find(c.expected), std::string::npos)
                << (end[1] ? "CRLF: " : "CR: ") << c.statements;
        }
    }
}

// Faults of the model statements, each at its statement, entry or
// operator: the message, the line of the program file, the source line and
// a caret; and the exit status.  A second statement of the model's own
// kind and lavaan's operators end the step; a second model kind is left
// out with a warning; a covariance given again is noted at the entry that
// replaces it, and a data variable named like an error term at its term.
TEST(Messages, AModelStatementFaultShowsItsPlaceInTheFile) {
    // hs with x4 named E1.
    std::string hs = velix::test::read_text(velix::test::data_path("hs.csv"));
    hs.replace(hs.find("x4"), 2, "E1");
    const std::string e1File = velix::test::own_folder("messages") + "/e1.csv";
    std::ofstream(e1File) << hs;
    const std::string e1Data = "data=\"" + e1File + "\" method=ml";
    struct Case {
        std::string program;
        const char* expected;  // absent from the log when it begins with "!"
        int exitStatus;
    } cases[] = {
        {kBefore + step("method=ml", kOneFactor, "lineqs x3 = c3 F1 + E3;\n"),
         "ERROR: A second LINEQS statement is given; a model's equations go in one LINEQS statement.\n"
         "  at line 12, column 1:\nlineqs x3 = c3 F1 + E3;\n^\n", 2},
        {kBefore + step("method=ml", kOneFactor, "ram 1 1 4 c;\n"),
         "WARNING: The RAM statement is ignored: the model is the LINEQS model of the statements before it.\n"
         "  at line 12, column 1:\nram 1 1 4 c;\n^\n", 0},
        {kBefore + step("method=ml", kOneFactor, "std E3 = 0.5;\nram 1 1 4 c;\n"),
         "ERROR: A LINEQS model takes at most one STD and one COV statement.", 2},
        {kBefore + step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F2 + E2, x3 = l3 F3 + E3;\n",
                        "std F1-F3 = v1-v3, E1-E3 = ve1-ve3;\ncov F1 F2 = c12, F2 F1 = c21, F1 F3 = c13;\n"),
         "NOTE: The covariance of F1 and F2 that the COV entry F1 F2 gives is replaced by the one of this entry.\n"
         "  at line 12, column 18:\ncov F1 F2 = c12, F2 F1 = c21, F1 F3 = c13;\n                 ^\n", 0},
        {kBefore + step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F2 + E2, x3 = l3 F3 + E3;\n",
                        "std F1-F3 = v1-v3, E1-E3 = ve1-ve3;\ncov F1 F3 = c13,\n  F1 * F2 F2 = c12 c21;\n"),
         "NOTE: The covariance of F1 and F2 is given twice in this COV entry; the later item is used.\n"
         "  at line 13, column 3:\n  F1 * F2 F2 = c12 c21;\n  ^\n", 0},
        {kBefore + step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n",
                        "std F1 = vf, E1 E2 E3 = ve1-ve3, E2 = ve4;\n"),
         "ERROR: Variable E2 is listed twice in the STD statement.\n"
         "  at line 11, column 34:\nstd F1 = vf, E1 E2 E3 = ve1-ve3, E2 = ve4;\n                                 ^\n", 2},
        {kBefore + step("method=ml", "F1 =~ x1 + x2 + x3;\n", ""),
         "ERROR: a model is written as a LINEQS, RAM, COSAN or FACTOR statement, not with lavaan's operator "
         "\"=~\" at line 10, column 4.\nF1 =~ x1 + x2 + x3;\n   ^\n", 2},
        {kBefore + step("method=ml", kOneFactor, "  F1 ~~ E1;\n"),
         "not with lavaan's operator \"~~\" at line 12, column 6.\n  F1 ~~ E1;\n     ^\n", 2},
        {kBefore + step("method=ml", kOneFactor, "x1 ~ x2;\n"),
         "not with lavaan's operator \"~\" at line 12, column 4.\nx1 ~ x2;\n   ^\n", 2},
        // Equations apart by semicolons, as in lavaan: each one after the
        // first is a programming statement, named at its line before the
        // errors it leads to; one that assigns a parameter is not.
        {kBefore + step("method=ml", "lineqs x1 = l1*F1 + E1; x2 = l2*F1 + E2; x3 = l3*F1 + E3;\n", "std F1 = vf, E1-E3 = ve1-ve3;\n"),
         "WARNING: The statement that assigns x3 is read as a programming statement, though x3 is a variable of the DATA= data set: a semicolon ends the LINEQS statement, whose equations are separated by commas.\n"
         "  at line 10, column 42:\nlineqs x1 = l1*F1 + E1; x2 = l2*F1 + E2; x3 = l3*F1 + E3;\n                                         ^\n"
         "ERROR: The STD variable E2 is not a variable of the model.", 2},
        {kBefore + step("method=ml", "lineqs x1 = l1*F1 + E1; x2 = l2*F1 + E2; x3 = l3*F1 + E3;\n", "std F1 = vf, E1 = ve1;\n"),
         "WARNING: The statement that assigns x2 is read as a programming statement, though x2 is a variable of the DATA= data set: a semicolon ends the LINEQS statement, whose equations are separated by commas.\n"
         "  at line 10, column 25:\n", 0},
        {kBefore + step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F2 + E3; F2 = b*F1 + D2;\n", "std F1 = vf, E1-E3 = ve1-ve3;\n"),
         "WARNING: The statement that assigns F2 is read as a programming statement, though F2 is a variable of the model: a semicolon ends the LINEQS statement, whose equations are separated by commas.\n"
         "  at line 10, column 60:\n", 0},
        // Where the next equation is no programming statement (a coefficient
        // beside its variable), the error is at the ";" that ended LINEQS.
        {kBefore + step("method=ml", "lineqs x1 = 1.0 F1 + E1; x2 = l2 F1 + E2; x3 = l3 F1 + E3;\n", "std F1 = vf, E1-E3 = ve1-ve3;\n"),
         "ERROR: LINEQS equations are separated by commas: this \";\" ends the LINEQS statement, and the equation "
         "after it is read as a programming statement at line 10, column 24.\n"
         "lineqs x1 = 1.0 F1 + E1; x2 = l2 F1 + E2; x3 = l3 F1 + E3;\n                       ^\n", 2},
        // Word operators stand between two names in a programming statement.
        {kBefore + step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3; d = l2 ge l3 and l3 gt 0;\n",
                        "std F1 = vf, E1-E3 = ve1-ve3;\n"),
         "!separated by commas", 0},
        // (The parameter E3 is named like the error term whose variance it is.)
        {kBefore + step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n",
                        "std F1 = vf, E1-E3 = ve1 ve2 E3;\nparameters ind;\nind = l2 * l3;\nE3 = ve2;\n"),
         "!read as a programming statement", 0},
        // "= ~" apart is the negation of a programming statement.
        {kBefore + step("method=ml", kOneFactor, "a = ~ l2;\n"), "!lavaan", 0},
        // A programming word before "~" is the negation of its condition.
        {kBefore + step("method=ml", kOneFactor, "if ~(l2 > 0) then l3 = l2;\n"), "!lavaan", 0},
        {"proc velix " + e1Data + ";\nvar x1-x3 E1;\n" + kOneFactor + "run;\n",
         "NOTE: E1 in the equation of x1 is the variable of the DATA= data set, not an error term; an error term "
         "needs a name that no variable of the data set has.\n"
         "  at line 3, column 22:\nlineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
         "                     ^\n", 0},
        // At its own term, though an equation before names E1 too.
        {"proc velix " + e1Data + ";\nvar x1-x3 E1;\n"
         "lineqs x1 = 1.0 F1 + Ex, x2 = l2 F1 + b2 E1 + E2, x3 = l3 F1 + E1;\nstd F1 = vf, Ex E2 = ve1 ve2;\nrun;\n",
         "NOTE: E1 in the equation of x3 is the variable of the DATA= data set, not an error term; an error term "
         "needs a name that no variable of the data set has.\n"
         "  at line 3, column 64:\n", 0},
        // Beside an error term of its equation, or with a free
        // coefficient, E1 is a predictor.
        {"proc velix " + e1Data + ";\nvar x1-x3 E1;\n"
         "lineqs x1 = 1.0 F1 + E1 + Ex, x2 = l2 F1 + b2 E1, x3 = l3 F1 + E3;\nstd F1 = vf, Ex E3 = ve1 ve3;\nrun;\n",
         "!not an error term", 0},
    };
    for (const Case& c : cases) {
        const RunResult r = run_velix(c.program, {"hs.csv"});
        EXPECT_EQ(r.exitStatus, c.exitStatus) << c.program << "\n" << r.log;
        if (c.expected[0] == '!')
            EXPECT_EQ(r.log.find(c.expected + 1), std::string::npos) << c.program << "\n" << r.log;
        else
            EXPECT_NE(r.log.find(c.expected), std::string::npos) << c.program << "\n" << r.log;
    }
}

// Each message line and whether the log holds it (absent: the message
// must not be given for the program), with the exit status of the run.
TEST(Messages, EachNamesWhatItIsAbout) {
    std::string hs = velix::test::read_text(velix::test::data_path("hs.csv"));
    const size_t x3 = hs.find(',', hs.find(',', hs.find('\n')) + 1) + 1;  // of the first observation
    hs.replace(x3, hs.find(',', x3) - x3, "n/a");
    const std::string wordFile = velix::test::own_folder("messages") + "/word.csv";
    std::ofstream(wordFile) << hs;
    const std::string word = "proc velix data=\"" + wordFile + "\" method=ml;\n";
    struct Case {
        std::string program;
        const char* line;
        bool present;
        int exitStatus;
    } cases[] = {
        // A misspelt PROC VELIX is an error, not a skipped step.
        {"proc velx data=hs;\nrun;\n", "ERROR: line 1: PROC VELX is not known; its step is skipped.", true, 2},
        // AUGMENT fits the correlations unless COVARIANCE is given.
        {step("method=ml augment", kOneFactor, ""),
         "WARNING: AUGMENT analyses the correlations of the augmented moments unless COVARIANCE is given; "
         "a model with fixed time scores or means needs COVARIANCE.",
         true, 0},
        {step("method=ml augment covariance", kOneFactor, ""), "AUGMENT analyses the correlations", false, 0},
        // A list one item short: the last two variances share ve2.
        {step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n",
              "std F1 = vf, E1-E3 = ve1-ve2;\n"),
         "NOTE: A STD entry has fewer items than variances; E2 and E3 share its last name ve2.", true, 0},
        // A misspelt PROFILE name is named, though every parameter is then
        // profiled.
        {step("method=ml", kOneFactor, "profile lx2 / 95;\n"), "NOTE: lx2 is not a parameter and is not profiled.",
         true, 0},
        // A COV name that is nowhere in the model.
        {step("method=ml", kOneFactor, "cov F1 Ftxx = cvt;\n"),
         "ERROR: The COV variable Ftxx is not a variable of the model.\n  at line 5, column 8:", true, 2},
        // A latent variable that a misspelt name brought in has variance 0;
        // those with a STD entry are not noted.
        {step("method=ml", "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 Fvsi + E3;\n",
              "std F1 = vf, E1-E3 = ve1-ve3;\n"),
         "NOTE: No STD entry names the exogenous latent variable Fvsi; its variance is fixed at 0.", true, 0},
        {step("method=ml", kOneFactor, ""), "No STD entry names", false, 0},
        // The same of a RAM model's latent variable 4 (F1), without a
        // variance of matrix 2.
        {step("method=ml", "ram 1 1 4 1.0, 1 2 4 l2, 1 3 4 l3, 2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3;\n", ""),
         "NOTE: No RAM entry of matrix 2 gives the variance of the exogenous latent variable F1; its variance is "
         "fixed at 0.", true, 0},
        {step("method=ml", "ram 1 1 4 1.0, 1 2 4 l2, 1 3 4 l3, 2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 vf;\n", ""),
         "No RAM entry", false, 0},
        // A WEIGHT or FREQ variable that the model also uses is a DATA=
        // variable: what is wrong is that it cannot be both.
        {"proc velix data=hs method=ml;\nweight x4;\nlineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x4 = l4 F1 + E4;\n"
         "std F1 = vf, E1 E2 E4 = ve1 ve2 ve4;\nrun;\n",
         "ERROR: Variable x4 is the WEIGHT variable, which weighs the observations: a variable cannot be both that "
         "and a variable of the model.\n  at line 3, column 43:", true, 2},
        {"proc velix data=hs method=ml;\nfreq x4;\nlineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + b x4 + E2;\n"
         "std F1 = vf, E1-E2 = ve1-ve2;\nrun;\n",
         "ERROR: Variable x4 is the FREQ variable, which weighs the observations", true, 2},
        // A column with a word among its numbers is character: the model's
        // use of it says so, and where the word stands, not that the data
        // set lacks it.
        {word + "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = vf, E1-E3 = ve1-ve3;\nrun;\n",
         "ERROR: Variable x3 is not numeric: line 2 of word.csv holds n/a.\n  at line 2, column 43:", true, 2},
        {word + "lineqs x1 = b x3 + E1;\nstd x3 = v3, E1 = ve1;\nrun;\n",
         "ERROR: Variable x3 is not numeric: line 2 of word.csv holds n/a.\n  at line 2, column 15:", true, 2},
        {word + "var x1-x3;\nfactor n=1;\nrun;\n", "ERROR: Variable x3 is not numeric: line 2 of word.csv holds n/a.",
         true, 2},
    };
    for (const Case& c : cases) {
        const RunResult r = run_velix(c.program, {"hs.csv"});
        EXPECT_EQ(r.exitStatus, c.exitStatus) << c.program << "\n" << r.log;
        EXPECT_EQ(r.log.find(c.line) != std::string::npos, c.present) << c.program << "\n" << r.log;
    }
}

// In a BY run each group's first log line follows a line that names the
// group, once, and each JSON message logged within a group carries its
// byGroup item; the messages before the groups carry none.  The latent
// variable of variance 0 gives each group a singular _PHI_ and so a
// WARNING among several lines.
TEST(Messages, TheMessagesOfABYGroupNameTheGroup) {
    const RunResult r = run_velix(
        "proc velix data=hs_by method=ml;\nvar x1-x3;\n"
        "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 Fvsi + E3;\n"
        "std F1 = vf, E1-E3 = ve1-ve3;\nby school;\nrun;\n",
        {"hs_by.csv"});
    ASSERT_EQ(r.exitStatus, 0) << r.log;
    const size_t by1 = r.log.find("BY group 1: school=1\n"), by2 = r.log.find("BY group 2: school=2\n");
    ASSERT_NE(by1, std::string::npos) << r.log;
    ASSERT_NE(by2, std::string::npos) << r.log;
    ASSERT_LT(by1, by2);
    EXPECT_EQ(r.log.find("BY group 1:", by1 + 1), std::string::npos) << "named twice\n" << r.log;
    EXPECT_EQ(r.log.find("BY group 2:", by2 + 1), std::string::npos) << "named twice\n" << r.log;
    const JsonValue& messages = r.json["steps"][0]["messages"];
    size_t at = 0, inGroup[3] = {};
    for (size_t k = 0; k < messages.size(); ++k) {
        const std::string text = messages[k]["text"].str();
        at = r.log.find(text, at);
        ASSERT_NE(at, std::string::npos) << text;
        const int group = at > by2 ? 2 : at > by1 ? 1 : 0;
        at += text.size();
        const JsonValue& item = messages[k]["byGroup"];
        ++inGroup[group];
        if (group == 0) {
            EXPECT_TRUE(item.is_null()) << text;
            continue;
        }
        ASSERT_TRUE(item.is_object()) << text;
        EXPECT_EQ(item["type"].str(), "byGroup");
        EXPECT_EQ(item["group"].number(), group) << text;
        EXPECT_EQ(item["text"].str(), "school=" + std::to_string(group)) << text;
        EXPECT_EQ(item["values"]["school"].number(), group) << text;
    }
    EXPECT_GT(inGroup[0], 0u);
    EXPECT_GT(inGroup[1], 1u);
    EXPECT_GT(inGroup[2], 1u);
}

// A variance estimated below zero is named with its parameter, its
// variable and its estimate, in every model kind that names its
// variables: one factor of variance 1 fits the correlations .8, .9 and .9
// exactly with ve3 = 1 - .9 .9 / .8 = -0.0125 (lavaan 0.6.14 alike,
// negative_variance_reference.R), and the other variances (0.2) are not
// named.  FACTOR names its generated parameter unpadded and the data
// variable, not its own column name.  NOPRINT writes no such message.
TEST(Messages, ANegativeVarianceIsNamedWithItsVariable) {
    const std::string dir = velix::test::own_folder("negative_variance");
    std::ofstream(dir + "/r3.csv") << "# TYPE=CORR\n_TYPE_,_NAME_,x1,x2,x3\nN,,200,200,200\n"
                                      "CORR,x1,1,.8,.9\nCORR,x2,.8,1,.9\nCORR,x3,.9,.9,1\n";
    struct Case {
        const char* model;
        const char* parameter;
        const char* variable;
    } cases[] = {
        {"lineqs x1 = l1 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = 1, E1-E3 = ve1-ve3;\n", "ve3", "E3"},
        {"ram 1 1 4 l1, 1 2 4 l2, 1 3 4 l3, 2 1 1 ve1, 2 2 2 ve2, 2 3 3 ve3, 2 4 4 1;\nvarnames 1 = F1, 2 = E1-E3 D1;\n",
         "ve3", "E3"},
        {"factor n=1;\n", "_U3", "x3"},
    };
    for (const Case& c : cases) {
        for (const char* print : {"", " noprint"}) {
            SCOPED_TRACE(std::string(c.model) + print);
            const RunResult r = run_velix("proc velix data='" + dir + "/r3.csv'" + print + ";\n" + c.model + "run;\n", {});
            ASSERT_EQ(r.exitStatus, 0) << r.log;
            if (*print != '\0') {
                EXPECT_EQ(r.log.find("negative"), std::string::npos) << r.log;
                continue;
            }
            EXPECT_NEAR(velix::test::column_by_parameter(velix::test::result_table(r), "Estimate").at(c.parameter),
                        -0.0125, 1e-6);
            const std::string warning = std::string("WARNING: The estimate -0.0125 of ") + c.parameter +
                                        ", the variance of " + c.variable + ", is negative: the solution is improper.\n";
            EXPECT_NE(r.log.find(warning), std::string::npos) << r.log;
            EXPECT_EQ(r.log.find("the variance of"), r.log.rfind("the variance of")) << "named more than once\n" << r.log;
        }
    }
}

// Messages whose numbers the test derives from the data: a FREQ value that
// is no whole number counts its whole part, with a NOTE of how many
// observations had one (counted here from hs.csv); VARDEF=WDF over weights
// that sum below 1 names the divisor (the sum less 1) rather than the
// observations or the variances; an INWGT= matrix of the wrong sign is not
// positive definite rather than singular.
TEST(Messages, WeightsAndFrequenciesNameTheirNumbers) {
    const std::string dir = velix::test::own_folder("messages_weights");
    const std::string hs = velix::test::read_text(velix::test::data_path("hs.csv"));
    std::ofstream(dir + "/hs.csv") << hs;
    int64_t truncated = 0;
    std::string weighted = hs.substr(0, hs.find('\n')) + ",w\n";
    {
        std::istringstream rows(hs.substr(hs.find('\n') + 1));
        int k = 0;
        for (std::string row; std::getline(rows, row) && !row.empty(); ++k) {
            const double x3 = std::stod(row.substr(row.find(',', row.find(',') + 1) + 1));
            truncated += x3 >= 1.0 && x3 != std::floor(x3);
            if (k < 60) weighted += row + ",0.002\n";
        }
    }
    std::ofstream(dir + "/hsw.csv") << weighted;
    const auto run = [&dir](const std::string& program) { return run_velix(program, {}, {"--lib", dir}); };
    const std::string model = "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x4 = l4 F1 + E4;\nstd F1 = vf, E1 E2 E4 = ve1 ve2 ve4;\n";

    const RunResult freq = run("proc velix data=hs method=ml;\nvar x1 x2 x4;\nfreq x3;\n" + model + "run;\n");
    EXPECT_NE(freq.log.find("NOTE: " + std::to_string(truncated) +
                            " observations of data set hs have a FREQ value that is not a whole number; each counts "
                            "as many times as its whole part."),
              std::string::npos)
        << freq.log;
    const RunResult whole = run("proc velix data=hs method=ml;\nvar x1 x2 x4;\n" + model + "run;\n");
    EXPECT_EQ(whole.log.find("not a whole number"), std::string::npos) << whole.log;

    const RunResult wdf = run("proc velix data=hsw method=ml vardef=wdf;\nvar x1 x2 x4;\nweight w;\n" + model + "run;\n");
    EXPECT_NE(wdf.log.find("ERROR: The divisor of the moments under VARDEF=WDF is not positive: the weights sum to "
                           "0.12, and the divisor is their sum less 1."),
              std::string::npos)
        << wdf.log;
    for (const char* hidden : {"is not greater than", "positive variance"})
        EXPECT_EQ(wdf.log.find(hidden), std::string::npos) << hidden << "\n" << wdf.log;
    EXPECT_EQ(wdf.exitStatus, 1);

    // The weights each method wrote for x1, x2 and x4, negated: GLS's
    // covariance matrix, WLS's covariances of the moments.
    for (const std::string method : {"gls", "wls"}) {
        const std::string step = "proc velix data=hs method=" + method + " covariance";
        ASSERT_EQ(run(step + " outwgt=w;\nvar x1 x2 x4;\n" + model + "run;\n").exitStatus, 0) << method;
        const std::string w = velix::test::read_text(dir + "/w.csv");
        std::string negated;
        for (size_t at = 0; at < w.size(); ++at)
            negated += w[at] == ',' && at + 1 < w.size() && std::isdigit(static_cast<unsigned char>(w[at + 1]))
                           ? ",-"
                           : std::string(1, w[at]);
        std::ofstream(dir + "/negw.csv") << negated;
        const RunResult neg = run(step + " inwgt=negw;\nvar x1 x2 x4;\n" + model + "run;\n");
        EXPECT_NE(neg.log.find("eight matrix is not positive definite: a diagonal element is negative"),
                  std::string::npos)
            << method << "\n" << neg.log;
        EXPECT_EQ(neg.log.find("singular"), std::string::npos) << method << "\n" << neg.log;
        EXPECT_GE(neg.return_code(), 100) << method;
    }
}

// Total and indirect effects of a feedback loop x1 <-> x2 whose direct
// effects 1.5 and 0.9 have spectral radius sqrt(1.35): the series they
// sum diverges, and a NOTE gives the radius; at 0.5 and 0.9 it converges,
// without the NOTE.
TEST(Messages, EffectsOfADivergingFeedbackLoopAreNoted) {
    for (const char* back : {"1.5", "0.5"}) {
        const RunResult r = run_velix("proc velix data=hs method=ml covariance toteff;\nvar x1-x3;\n"
                                      "lineqs x1 = " + std::string(back) + " x2 + b3 x3 + E1, x2 = 0.9 x1 + E2;\n"
                                      "std E1-E2 = v1-v2;\nrun;\n",
                                      {"hs.csv"});
        EXPECT_EQ(r.exitStatus, 0) << r.log;
        const std::string note = "NOTE: The direct effects among the dependent variables have spectral radius ";
        const size_t at = r.log.find(note);
        if (std::string(back) == "0.5") {
            EXPECT_EQ(at, std::string::npos) << r.log;
            continue;
        }
        ASSERT_NE(at, std::string::npos) << r.log;
        EXPECT_NEAR(std::stod(r.log.substr(at + note.size())), std::sqrt(1.35), 1e-5);
        EXPECT_NE(r.log.find(", above 1: the series I + B + B^2 + ... of the total and indirect effects diverges",
                             at), std::string::npos);
    }
}

// A just-identified ULS regression of c on a and b whose variances are 1,
// 1 and 1e8: the information matrix takes the scale (its eigenvalues
// spread by about 1e16), so it looks singular, and a NOTE names the
// scale as the cause with the smallest and largest variance.  The same
// model with c in units 1e4 times larger has the same correlations and
// is fitted with its standard errors, without either message.
TEST(Messages, AUlsFitOfVariablesFarApartInScaleNamesTheScale) {
    const std::string dir = velix::test::own_folder("messages_scale");
    for (const bool rescaled : {false, true}) {
        SCOPED_TRACE(rescaled ? "rescaled" : "as given");
        const char* c = rescaled ? "COV,c,0.5,0.8,1\n" : "COV,c,5000,8000,1e8\n";
        std::ofstream(dir + "/scale.csv") << "# TYPE=COV\n_TYPE_,_NAME_,a,b,c\nN,,200,200,200\nCOV,a,1,,\n"
                                          << "COV,b,0.3,1,\n" << c;
        const RunResult r = run_velix("proc velix data=\"" + dir + "/scale.csv\" covariance method=uls;\nvar a b c;\n"
                                      "lineqs c = p1 a + p2 b + E3;\nstd E3 = v3;\nrun;\n",
                                      {});
        ASSERT_EQ(r.exitStatus, 0) << r.log;
        EXPECT_EQ(r.has_message(352, 53), !rescaled) << r.log;
        EXPECT_EQ(r.log.find("NOTE: Under ULS the information matrix takes the scale of the variables, whose "
                             "variances range from 1 (a) to 1e+08 (c)") != std::string::npos,
                  !rescaled) << r.log;
    }
}

}  // namespace
