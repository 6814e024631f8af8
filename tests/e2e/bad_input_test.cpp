// Whole programs with the bad input a new user meets on a bad day: each
// must end with a message naming its cause, a return code and the exit
// status that follows from it, never a crash, a hang or a silent success,
// and a failing step must leave an existing output data set byte for byte
// as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"
#include "velix/codes.h"

using velix::test::own_folder;
using velix::test::run_velix;
using velix::test::RunResult;

namespace {

const char* kOneFactor =
    "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
    "std F1 = vf, E1-E3 = ve1-ve3;\n";
const char* kKept = "# TYPE=COV\nx1\n1\n";  // an OUTSTAT= of an earlier run

// One library folder for every case: the hs data and the odd data sets.
class BadInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = own_folder("bad_input");
        std::ifstream hs(velix::test::data_path("hs.csv"));
        std::string line;
        std::ofstream all(dir_ + "/hs.csv"), tiny(dir_ + "/tiny.csv");
        for (int k = 0; std::getline(hs, line); ++k) {
            all << line << '\n';
            if (k < 4) tiny << line << '\n';  // three observations
        }
        std::ofstream(dir_ + "/w0.csv") << "w,x1,x2,x3\n0,1,2,3\n-1,2,1,4\n0,3,5,2\n0,4,4,6\n";
        std::ofstream(dir_ + "/na3.csv") << "x1,x2,x3\n1,2,NA\n2,1,NA\n3,5,\n4,4,.\n";
        std::ofstream(dir_ + "/ram.csv") << "# TYPE=RAM\nx1,x2,x3\n1,2,3\n2,3,1\n3,1,2\n4,4,5\n";
        std::ofstream(dir_ + "/big.csv") << "# TYPE=CORR\n_TYPE_,_NAME_,x1,x2,x3\nN,,100,100,100\n"
                                            "STD,,1e200,1,1\nCORR,x1,1,.5,.5\nCORR,x2,.5,1,.5\n"
                                            "CORR,x3,.5,.5,1\n";
        const std::string longName(32, 'y');
        std::ofstream(dir_ + "/long.csv") << "x1,x2,x3," << longName << "a," << longName << "b\n1,2,3,4,5\n";
        std::filesystem::create_directories(dir_ + "/folder");
        std::ofstream(dir_ + "/semi.csv") << "x1;x2;x3\n1;2;3\n";
        std::ofstream(dir_ + "/tab.csv") << "x1\tx2\tx3\n1\t2\t3\n";
        // As R's write.csv2 and write.table(sep = "\t") write them: every name quoted.
        std::ofstream(dir_ + "/semiq.csv") << "\"x1\";\"x2\";\"x3\"\n1,5;2;3\n";
        std::ofstream(dir_ + "/tabq.csv") << "\"x1\"\t\"x2\"\t\"x3\"\n1\t2\t3\n";
        // Moments no data can give (eigenvalues 1.9, 1.9, -0.8), and data
        // whose x10 is x1 + x2 in two BY groups.
        std::ofstream(dir_ + "/indef.csv") << "# TYPE=COV\n_TYPE_,_NAME_,y1,y2,y3\nN,,100,100,100\n"
                                              "COV,y1,1,0.9,-0.9\nCOV,y2,0.9,1,0.9\nCOV,y3,-0.9,0.9,1\n";
        std::ofstream(dir_ + "/sum.csv") << "g,x1,x2,x3,x10\n1,4,9,3,13\n1,6,8,2,14\n1,1,8,5,9\n1,9,4,4,13\n"
                                            "1,8,9,9,17\n1,8,7,3,15\n2,4,3,9,7\n2,7,1,2,8\n2,3,1,5,4\n"
                                            "2,1,5,8,6\n2,7,7,7,14\n2,8,3,6,11\n";
    }

    // Runs `program` with the library folder after writing kKept to
    // keep.csv, which the program may name as an output.
    RunResult run(const std::string& program, std::vector<std::string> args = {}) {
        std::ofstream(dir_ + "/keep.csv") << kKept;
        args.insert(args.begin(), {"--lib", dir_});
        return run_velix(program, {}, args);
    }
    // The text of data set `name` of the library folder.
    static std::string text_of(const std::string& name = "keep") {
        std::ifstream in(dir_ + "/" + name + ".csv", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static int return_code(const RunResult& r) {
        return static_cast<int>(r.json["steps"][0]["returnCode"].number());
    }

    static std::string dir_;
};

std::string BadInput::dir_;

// The program of one step on the hs data: PROC options, then statements.
std::string step(const std::string& options, const std::string& statements) {
    return "proc velix " + options + ";\nvar x1-x3;\n" + kOneFactor + statements + "run;\n";
}

TEST_F(BadInput, EachFailureNamesItsCauseAndLeavesTheOutputFileAlone) {
    const std::string prefix40(40, 'p');
    const std::string prefixHuge(32770, 'p');
    const std::string fourIndicators =
        "lineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3, x10 = l4 F1 + E4;\n"
        "std F1 = vf, E1-E4 = ve1-ve4;\nrun;\n";
    struct Case {
        std::string program;
        int returnCode;
        std::string message;  // a text of the log line that names the cause
        bool writes = false;  // OUTSTAT= holds the moments: the step ends below 1000
    } cases[] = {
        // An endless DO WHILE (i is never set): the loop cap, or MAXTIME=.
        {step("data=hs outstat=keep", "parameters a = 1;\ndo while (i < 3); i = i + 1; end;\nl2 = a;\n"),
         kLevelProgramFailed, "more than 1000000 loop iterations in one evaluation at line 6"},
        {step("data=hs maxtime=1e-9 outstat=keep", "parameters a = 1;\ndo while (i < 3); i = i + 1; end;\nl2 = a;\n"),
         kLevelProgramFailed, "MAXTIME= passed while the programming statements looped at line 6"},
        // Input errors that ended with 9999 or an internal error.
        {step("data=hs outstat=keep", "profile l2 / .;\n"), kLevelInputError, "confidence level cannot be missing"},
        {"proc velix data=hs outstat=keep;\nvar x1-x3;\nlineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
         "std F1 = vf, E1-E3 = " + prefix40 + "__;\nrun;\n",
         kLevelInputError, "a name is longer than 32 characters"},
        {"proc velix data=hs outstat=keep;\nvar x1-x3;\nlineqs x1 = 1.0 F1 + E1, x2 = l2 F1 + E2, x3 = l3 F1 + E3;\n"
         "std F1 = vf, E1-E3 = " + prefixHuge + "__;\nrun;\n",
         kLevelInputError, "a name is longer than 32 characters"},
        // Failures that passed for success.
        // An output that names no file or a folder, refused at its name
        // before the fit (it failed after it, with a blank name).
        {step("data=hs outstat='" + dir_ + "/folder'", ""), kLevelInputError,
         "ERROR: OUTSTAT=\"" + dir_ + "/folder\" names the folder " + dir_ + "/folder, not a file: an output data "
         "set is a file in it (OUTSTAT=\"" + dir_ + "/folder/est.csv\") at line 1, column 28."},
        {step("data=hs outstat=\"\"", ""), kLevelInputError,
         "ERROR: OUTSTAT=\"\" names no file: an output data set is named (OUTSTAT=est) or a file by its path in "
         "quotes (OUTSTAT=\"est.csv\") at line 1, column 28."},
        {step("data=hs outest=\".\"", ""), kLevelInputError, "ERROR: OUTEST=\".\" names the folder ., not a file"},
        {"proc velix data=ram outstat=keep;\n" + std::string(kOneFactor) + "run;\n", kLevelInputError,
         "DATA= data set of TYPE=RAM cannot be analysed"},
        // Return codes above 4 with only notes.
        {step("data=hs nobs=0 outstat=keep", ""), kLevelNoMoments, "ERROR: 0 observations are too few for an analysis"},
        {step("data=hs edf=-5 outstat=keep", ""), kLevelNoMoments, "ERROR: -4 observations are too few for an analysis"},
        {step("data=w0 outstat=keep", "weight w;\n"), kLevelNoMoments,
         "ERROR: No observation of data set w0 has every analysis value with a positive weight and frequency."},
        // Without WEIGHT or FREQ only the missing values are to blame.
        {step("data=na3", ""), kLevelNoMoments, "ERROR: No observation of data set na3 has a value for every analysis variable."},
        {step("data=tiny method=wls outstat=keep outwgt=w", ""), kLevelNoMoments,
         "ERROR: 3 observations are too few to form the weight matrix"},
        {step("data=hs outstat=keep", "parameters a;\na = exp(1000);\nl2 = a;\n"), kLevelProgramFailed,
         "ERROR: Invalid operations in the programming statements"},
        // One file for two outputs.
        {step("data=hs method=wls outstat=keep outwgt=keep", ""), kLevelInputError,
         "OUTWGT= data set keep and OUTSTAT= data set keep name the same file"},
        // Moments that overflow.
        {"proc velix data=big outstat=keep;\n" + std::string(kOneFactor) + "run;\n", kLevelNoMoments,
         "ERROR: The moments of variable x1 are too large to be represented"},
        // Variable names alike in their first 32 characters.
        {step("data=long outstat=keep", ""), kLevelInputError, "is longer than 32 characters"},
        // Another separator than the comma, and a file name for a data-set name.
        {step("data=semi outstat=keep", ""), kLevelInputError,
         "line 1 of semi.csv: the line of variable names is a single field that holds a semicolon (\";\"); the "
         "fields of a "
         "data set are separated by commas at line 1, column 17."},
        {step("data=tab outstat=keep", ""), kLevelInputError, "a single field that holds a tab;"},
        {step("data=semiq outstat=keep", ""), kLevelInputError,
         "line 1 of semiq.csv: the quoted variable names are separated by a semicolon (\";\");"},
        {step("data=tabq outstat=keep", ""), kLevelInputError, "the quoted variable names are separated by a tab;"},
        {step("data=hs.csv outstat=keep", ""), kLevelInputError,
         "ERROR: expected an option (found \".\"): a data set is named without \".csv\" (DATA=hs), or a file by "
         "its path in quotes (DATA=\"hs.csv\") at line 1, column 19."},
        {step("data=../data/hs.csv outstat=keep", ""), kLevelInputError,
         "ERROR: expected a data-set name (found \".\"): a file is named by its path in quotes "
         "(DATA=\"../data/hs.csv\") at line 1, column 17."},
        {step("data=sub/hs outstat=keep", ""), kLevelInputError,
         "(found \"/\"): a file is named by its path in quotes (DATA=\"sub/hs.csv\") at line 1, column 20."},
        // A moment matrix that ML cannot invert: indefinite, or singular
        // with a variable the others determine; the BY group only in a BY step.
        {"proc velix data=indef;\nlineqs y1 = 1.0 F1 + E1, y2 = l2 F1 + E2, y3 = l3 F1 + E3;\n"
         "std F1 = vf, E1-E3 = ve1-ve3;\nrun;\n",
         kLevelNoMoments,
         "ERROR: The moment matrix of data set indef is not positive definite: its smallest eigenvalue is -0.8; "
         "METHOD=ML cannot be used.\n"},
        {"proc velix data=sum;\nvar x1 x2 x3 x10;\n" + fourIndicators, kLevelNoMoments,
         "ERROR: The moment matrix of data set sum is singular: variable x10 is determined by the other "
         "variables; METHOD=ML cannot be used.\n"},
        {"proc velix data=sum;\nvar x1 x2 x3 x10;\nby g;\n" + fourIndicators, kLevelNoMoments,
         "BY group 2: g=2\nERROR: The moment matrix of data set sum is singular: variable x10 is determined by "
         "the other variables; METHOD=ML cannot be used in the BY group g=2.\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = run(c.program);
        const std::string what = c.program.substr(0, 120);
        ASSERT_TRUE(r.json.is_object()) << what << "\n" << r.log.substr(0, 2000);
        EXPECT_EQ(return_code(r), c.returnCode) << what << "\n" << r.log.substr(0, 2000);
        EXPECT_EQ(r.exitStatus, c.returnCode > kLevelStepEnds ? 2 : 1) << what;
        EXPECT_NE(r.log.find(c.message), std::string::npos) << what << "\n" << r.log.substr(0, 2000);
        EXPECT_EQ(r.log.find("internal error"), std::string::npos) << what;
        // A step without BY has no BY group to blame.
        if (c.program.find("\nby ") == std::string::npos) {
            EXPECT_EQ(r.log.find("BY group"), std::string::npos) << what << "\n" << r.log.substr(0, 2000);
        }
        if (!c.writes) {
            EXPECT_EQ(text_of(), kKept) << "the existing output was changed by: " << what;
        }
    }
}

TEST_F(BadInput, PartialNumericBesideAVarListReadsEachVariableOnce) {
    // The partial list named x1-x3 again and wrote past the moment arrays.
    const RunResult r = run(step("data=hs", "partial _numeric_;\n"));
    ASSERT_TRUE(r.json.is_object()) << r.log;
    EXPECT_LE(return_code(r), kLevelWarning) << r.log;
    const auto& stats = r.table(0, "SimpleStatistics");
    ASSERT_EQ(stats["rows"].size(), 9u) << "three analysis and six partial variables";
    for (size_t k = 3; k < 9; ++k)
        EXPECT_EQ(velix::test::cell(stats, k, "Variable").str(), "x" + std::to_string(k + 1));
}

TEST_F(BadInput, OutputsWithoutObservationsLeaveTheExistingFileAlone) {
    // Nothing is estimated (METHOD=NONE), so OUTEST= has no observation;
    // the step succeeds and OUTSTAT= and OUTRAM= (the model with its start
    // values) are replaced.
    std::ofstream(dir_ + "/est.csv") << kKept;
    const RunResult r = run(step("data=hs method=none outest=est outram=keep outstat=stat", ""));
    EXPECT_EQ(r.exitStatus, 0) << r.log;
    EXPECT_EQ(text_of().rfind("# TYPE=RAM\n", 0), 0u);
    EXPECT_EQ(text_of("est"), kKept);
    EXPECT_NE(r.log.find("Output data set est has no observations and was not written"), std::string::npos);
    EXPECT_EQ(text_of("stat").rfind("# TYPE=CORR\n", 0), 0u);
}

TEST_F(BadInput, TheCommandReportsWhatItCannotReadOrWrite) {
    // A program file that is missing, a folder or unreadable is named with
    // the system's reason (it was named alone); a listing or log on a full
    // disk.
    std::ofstream(dir_ + "/secret.vx") << "proc velix data=hs;\nrun;\n";
    std::filesystem::permissions(dir_ + "/secret.vx", std::filesystem::perms::none);
    const std::pair<std::string, const char*> programs[] = {
        {dir_ + "/missing.vx", "No such file or directory"},
        {dir_ + "/folder", "Is a directory"},
        {dir_ + "/secret.vx", "Permission denied"},
    };
    for (const auto& [path, reason] : programs) {
        int err[2];
        ASSERT_EQ(::pipe(err), 0);
        const int pid = velix::test::start_velix({path}, {.stderrFd = err[1], .obeyPermissions = true});
        ::close(err[1]);
        std::string said;
        char buf[4096];
        for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<size_t>(n));
        ::close(err[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << path;
        EXPECT_EQ(said, "velix: cannot read the program file '" + path + "': " + reason + "\n");
    }
    const std::string program = step("data=hs", "");
    for (const char* flag : {"--listing", "--log"}) {
        const RunResult r = run(program, {flag, "/dev/full"});
        EXPECT_EQ(r.exitStatus, 2) << flag;
        EXPECT_NE(r.log.find("cannot be written"), std::string::npos) << flag << "\n" << r.log;
    }
}

TEST_F(BadInput, RepeatedListStatementsTakeMemoryLinearInTheirNumber) {
    // 6000 VAR statements of three names each needed 1.8 GB.
    std::string program = "proc velix data=hs;\n";
    for (int k = 0; k < 6000; ++k) program += "var x1 x2 x3;\npartial x4;\n";
    program += std::string(kOneFactor) + "run;\n";
    const RunResult r = run(program);
    EXPECT_LE(return_code(r), kLevelWarning) << r.log.substr(0, 2000);
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 400L * 1024) << "kilobytes at the peak of the largest run";
}

}  // namespace
