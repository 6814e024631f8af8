// Malformed program files through the velix command: each is answered by a
// message that names the fault and its line, and by a nonzero exit status;
// nothing is skipped in silence and nothing crashes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/runner/program.h"

using velix::platform::ProgramItem;
using velix::platform::split_program;
using velix::test::run_velix;

namespace {

const char* const kStep =
    "proc velix data=hs method=none cov;\n"
    "   lineqs x1 = l1 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
    "   std F1 = 1, E1-E3 = ve1-ve3;\n"
    "run;\n";

// The number of steps the run reported and the return code of the first.
size_t steps_of(const velix::test::RunResult& r) {
    return r.json.is_object() ? r.json["steps"].size() : 0;
}

double first_step_code(const velix::test::RunResult& r) {
    return r.json["steps"][0]["returnCode"].number();
}

}  // namespace

// The well-formed step that the cases below break runs cleanly.
TEST(MalformedProgram, TheIntactStepRunsCleanly) {
    auto r = run_velix(kStep, {"hs.csv"});
    EXPECT_EQ(r.exitStatus, 0) << r.log;
    ASSERT_EQ(steps_of(r), 1u) << r.jsonText;
    EXPECT_EQ(first_step_code(r), 0.0);
}

// An unclosed comment or quoted text outside a step would swallow the rest
// of the file, steps included: it is an error at the line where it opens.
TEST(MalformedProgram, UnclosedCommentOrQuoteBeforeAStepIsReported) {
    struct Case {
        std::string head;
        const char* fragment;
    };
    const Case cases[] = {
        {"\n/* not closed\n", "line 2: A comment begun with \"/*\" is not closed."},
        {"title\n 'not closed;\n", "line 2: A quoted text is not closed."},
        {"options a='x;\n", "line 1: A quoted text is not closed."},
    };
    for (const Case& c : cases) {
        auto r = run_velix(c.head + kStep, {"hs.csv"});
        EXPECT_EQ(r.exitStatus, 2) << c.head;
        EXPECT_NE(r.log.find(c.fragment), std::string::npos) << c.head << "\n" << r.log;
        EXPECT_EQ(steps_of(r), 0u) << c.head;
    }
}

// Inside a step the parser sees the unclosed comment and points at it, even
// when it follows the last complete statement (the STD statement behind it
// is not dropped in silence).
TEST(MalformedProgram, UnclosedCommentInsideAStepEndsItWithItsPlace) {
    const std::string program =
        "proc velix data=hs method=none cov;\n"
        "   lineqs x1 = l1 F1 + E1; /* not closed\n"
        "   std F1 = 1, E1 = ve1;\n";
    auto r = run_velix(program, {"hs.csv"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.log.find("unterminated comment at line 2, column 28"), std::string::npos) << r.log;
    ASSERT_EQ(steps_of(r), 1u);
    EXPECT_EQ(first_step_code(r), 2000.0);
}

TEST(MalformedProgram, EachFaultGetsItsMessageAndReturnCode) {
    struct Case {
        std::string program;
        const char* fragment;
    };
    const std::string noRun = std::string(kStep).substr(0, std::string(kStep).find("run;"));
    const Case cases[] = {
        // The last statement of the file lacks its ";".
        {noRun.substr(0, noRun.rfind(';')), "expected \";\" at the end of the step at line 3"},
        {"proc velix data=hs method=none cov", "expected \";\" at the end of the step at line 1"},
        {std::string(kStep).replace(std::string(kStep).find("ve1-"), 3, "v\xC3\xA9"),
         "unexpected byte 0xC3"},
        {std::string(kStep).replace(std::string(kStep).find("std"), 0, "title 'open;\n"),
         "unterminated string at line 3"},
        {std::string(kStep).replace(std::string(kStep).find("l1"), 2, std::string(300, 'n')),
         "a name is longer than 32 characters"},
    };
    for (const Case& c : cases) {
        auto r = run_velix(c.program, {"hs.csv"});
        EXPECT_EQ(r.exitStatus, 2) << c.program;
        EXPECT_NE(r.log.find(c.fragment), std::string::npos) << c.program << "\n" << r.log;
        ASSERT_EQ(steps_of(r), 1u) << c.program;
        EXPECT_EQ(first_step_code(r), 2000.0) << c.program;
    }
}

// A PROC statement and nothing else: no DATA=, message 71 and 2000.
TEST(MalformedProgram, LoneProcStatement) {
    auto r = run_velix("proc velix;", {});
    EXPECT_EQ(r.exitStatus, 2) << r.log;
    ASSERT_EQ(steps_of(r), 1u);
    EXPECT_EQ(first_step_code(r), 2000.0);
    EXPECT_EQ(r.messages(0, 352), std::vector<int>{71});
}

// A title line number of many digits is no title line, and no crash.
TEST(MalformedProgram, TitleNumberOfManyDigits) {
    auto r = run_velix("title99999999999999999999 'x';\n" + std::string(kStep), {"hs.csv"});
    EXPECT_EQ(r.exitStatus, 2) << r.log;
    EXPECT_NE(r.log.find("line 1: TITLE99999999999999999999 is not a title line"),
              std::string::npos)
        << r.log;
    EXPECT_EQ(steps_of(r), 1u);
}

// A byte-order mark before the first statement is not part of the program:
// the run is that of the program without it.
TEST(MalformedProgram, ByteOrderMarkBeforeTheProgram) {
    auto plain = run_velix(kStep, {"hs.csv"});
    auto marked = run_velix("\xEF\xBB\xBF" + std::string(kStep), {"hs.csv"});
    EXPECT_EQ(marked.exitStatus, plain.exitStatus) << marked.log;
    EXPECT_EQ(marked.log, plain.log);
    EXPECT_EQ(marked.listing, plain.listing);
}

TEST(SplitProgram, StatementsOutsideStepsThatBeginWithNoWordAreReported) {
    auto items = split_program("123;\n;\n(x);\n/* c */;\nproc velix data=a; run;");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, ProgramItem::kError);
    EXPECT_EQ(items[0].line, 1);
    EXPECT_EQ(items[1].kind, ProgramItem::kError);
    EXPECT_EQ(items[1].line, 3);
    EXPECT_EQ(items[2].kind, ProgramItem::kStep);
}

// An unclosed comment inside a step stays in the step's text for the parser
// to report; the step's earlier text is kept as written.
TEST(SplitProgram, UnclosedCommentStaysInTheStep) {
    const std::string src = "proc velix data=a;\nlineqs y = x; /* open\nstd e = v;";
    auto items = split_program(src);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, ProgramItem::kStep);
    EXPECT_EQ(items[0].text, src);
}

// Programming statements nested beyond any real program (parentheses, sign
// chains, powers, IF and DO) are errors at their place, not a stack
// overflow; a depth that real programs reach compiles.
TEST(MalformedProgram, DeeplyNestedProgrammingStatements) {
    auto program_with = [](int n) {
        std::string p = std::string(kStep).substr(0, std::string(kStep).find("run;"));
        p += "l1 = " + std::string(n, '(') + "0.5" + std::string(n, ')') + ";\n";
        p += "l2 = ";
        for (int k = 0; k < n; ++k) p += "- ";
        p += "0.5;\n";
        for (int k = 0; k < n; ++k) p += "if 1 then ";
        p += "l3 = 0.5;\n";
        for (int k = 0; k < n; ++k) p += "do; ";
        for (int k = 0; k < n; ++k) p += "end; ";
        return p + "\nrun;\n";
    };
    auto deep = run_velix(program_with(100000), {"hs.csv"});
    EXPECT_EQ(deep.exitStatus, 2);
    for (int line = 4; line <= 7; ++line)
        EXPECT_NE(deep.log.find("nested more than 256 deep at line " + std::to_string(line)),
                  std::string::npos)
            << "line " << line << "\n" << deep.log.substr(0, 2000);
    ASSERT_EQ(steps_of(deep), 1u);
    EXPECT_EQ(first_step_code(deep), 2000.0);

    auto fine = run_velix(program_with(100), {"hs.csv"});
    EXPECT_EQ(fine.log.find("nested"), std::string::npos) << fine.log.substr(0, 2000);
    ASSERT_EQ(steps_of(fine), 1u);
    EXPECT_LT(first_step_code(fine), 2000.0) << fine.log.substr(0, 2000);
}

// Every ERROR and WARNING line of the log is a message of the step in the
// JSON document, in the same order, whichever phase wrote it: the
// statement parser, the option reader, the statement compiler, the
// variable lists and the data phase.  A tool reading only the document
// used to see a clean step.
TEST(MalformedProgram, TheDocumentCarriesEveryErrorAndWarningOfTheLog) {
    const std::string dir = velix::test::own_folder("malformed_weights");
    std::ofstream(dir + "/w0.csv") << "w,x1,x2,x3\n0,1,2,3\n0,2,1,4\n0,3,5,2\n0,4,4,6\n";
    const std::string model = "lineqs x1 = l1 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\nstd F1 = 1, E1-E3 = ve1-ve3;\n";
    const std::string programs[] = {
        "proc velix data=hs cov bogus=1;\n" + model + "run;\n",
        "proc velix data=hs cov;\n" + model + "l1 = nosuch(2);\nrun;\n",
        "proc velix data=hs cov;\nvar x1 x2 nosuch;\n" + model + "run;\n",
        "proc velix data='" + dir + "/w0.csv' cov;\nweight w;\n" + model + "run;\n",
    };
    for (const std::string& program : programs) {
        auto r = run_velix(program, {"hs.csv"});
        ASSERT_EQ(steps_of(r), 1u) << program;
        std::vector<std::string> logged, documented;
        std::istringstream log(r.log);
        for (std::string line; std::getline(log, line);)
            if (line.rfind("ERROR:", 0) == 0 || line.rfind("WARNING:", 0) == 0) logged.push_back(line);
        const auto& messages = r.json["steps"][0]["messages"];
        for (size_t i = 0; i < messages.size(); ++i) {
            const std::string severity = messages[i]["severity"].str();
            if (severity != "ERROR" && severity != "WARNING") continue;
            const std::string& text = messages[i]["text"].str();
            EXPECT_EQ(text.rfind(severity + ":", 0), 0u) << text;
            documented.push_back(text.substr(0, text.find('\n')));
        }
        EXPECT_FALSE(logged.empty()) << program;
        EXPECT_EQ(documented, logged) << program << "\n" << r.log;
    }
}
