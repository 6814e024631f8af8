// Data sets of a step: opening by member name, TYPE override, BY groups as
// runs, the sort check, synchronisation of a second data set by value,
// rewinds, data-set information, output written at the end of the step
// (all or none, never over the step's raw data), what a data set read from its file keeps in memory, and a file that
// changes under the step.
#include "platform/dataset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <cmath>
#include <csignal>
#include <limits>
#include <cstring>
#include <random>
#include <utility>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "dataset_fixture.h"
#include "platform/output_file.h"
#include "tests/support/open_files.h"
#include "platform/step_exit.h"
#include "platform/stop_signals.h"

namespace {

using velix::platform::DataSetOptions;
using velix::platform::dataset_held_bytes;
using velix::platform::dataset_set_by;
using velix::platform::dataset_set_hold_limit;
using velix::platform::testing::DataSetTest;

// A binding that writes *cell as the numeric variable x of output `out`
// (`count` as xvputi takes it); null when it cannot be made.
HostBinding* bind_x(HostDataSet* out, double* cell, int32_t count = 1) {
    HostBinding* b = nullptr;
    HostVariableDescriptor desc;
    xvnamei(&desc);
    desc.name = "x";
    desc.nameLength = 1;
    if (xvputi(out, count, 0, &b) != 0 || xvputd(b, &desc, 0, cell, 0, 0, 0) != 0 || xvpute(b) != 0) return nullptr;
    return b;
}

// Reads the current BY group of `d` through a slot: the values of its
// numeric variable `number`.
std::vector<double> group_values(HostDataSet* d, int number) {
    DataSetSlot slot;
    slot.handle = d;
    HostBinding* b = nullptr;
    EXPECT_EQ(xvgeti(d, 1, 0, &b), 0);
    double cell = 0.0;
    EXPECT_EQ(xvgetd(b, number, 0, &cell, 8, 'f', 0, 0), 0);
    xvgete(b);
    std::vector<double> out;
    while (xybyget(&slot)) {
        EXPECT_EQ(xyvget(b, 0), 0);
        out.push_back(cell);
    }
    xvgett(b);
    return out;
}

TEST_F(DataSetTest, MissingFileIsAnErrorNotAHandle) {
    std::string error;
    EXPECT_EQ(dataset_open_input("nothere", false, DataSetOptions{}, &error), nullptr);
    EXPECT_NE(error.find("nothere"), std::string::npos) << error;
    // Services given a null handle fail instead of crashing.
    EXPECT_EQ(xbynext(nullptr), 0);
    EXPECT_NE(xoinfo(nullptr, kInfoDescription, nullptr), 0);
    DataSetSlot empty;
    EXPECT_EQ(xybyget(&empty), 0);
}

TEST_F(DataSetTest, QuotedNameIsAPath) {
    write("elsewhere", "a\n1\n");
    std::string error;
    HostDataSet* d = dataset_open_input((dir_ / "elsewhere.csv").string(), true, DataSetOptions{},
                                        &error);
    ASSERT_NE(d, nullptr) << error;
    EXPECT_EQ(d->nObs, 1);
}

TEST_F(DataSetTest, TypeOptionOverridesTheFile) {
    write("m", "# TYPE=COV\n_TYPE_,_NAME_,x\nN,,10\n");
    DataSetInfo info;
    ASSERT_EQ(xoinfo(open("m"), kInfoDescription, &info), 0);
    EXPECT_EQ(std::string(info.type, 8), "COV     ");
    ASSERT_EQ(xoinfo(open("m", "corr"), kInfoDescription, &info), 0);
    EXPECT_EQ(std::string(info.type, 8), "CORR    ");
    EXPECT_EQ(info.nVariables, 3);
    EXPECT_EQ(info.nCharacter, 2);
    EXPECT_EQ(info.nNumeric, 1);
    EXPECT_EQ(info.nObservations, 1);
}

TEST_F(DataSetTest, ByGroupsAreRunsOfEqualValues) {
    write("g", "g,h,x\n1,a,10\n1,a,11\n1,b,12\n2,b,13\n2,b,14\n");
    HostDataSet* d = open("g");
    std::string error;
    ASSERT_TRUE(dataset_set_by(d, {"G", "h"}, false, &error)) << error;
    std::vector<std::vector<double>> groups;
    while (xbynext(d)) groups.push_back(group_values(d, 3));
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0], (std::vector<double>{10, 11}));
    EXPECT_EQ(groups[1], (std::vector<double>{12}));
    EXPECT_EQ(groups[2], (std::vector<double>{13, 14}));
    EXPECT_EQ(xbynext(d), 0) << "stays at the end";

    EXPECT_FALSE(dataset_set_by(d, {"nope"}, false, &error));
    EXPECT_NE(error.find("nope"), std::string::npos);
}

TEST_F(DataSetTest, WithoutByTheWholeDataSetIsOneGroupAndEmptyHasNone) {
    write("one", "x\n1\n2\n3\n");
    write("none", "x\n");
    HostDataSet* d = open("one");
    ASSERT_EQ(xbynext(d), 1);
    EXPECT_EQ(group_values(d, 1), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(xbynext(d), 0);
    EXPECT_EQ(xbynext(open("none")), 0);
}

TEST_F(DataSetTest, OutOfOrderByValuesEndTheStepUnlessNotSorted) {
    write("u", "g,x\n2,1\n2,2\n1,3\n.,4\n");
    HostDataSet* d = open("u");
    std::string error;
    ASSERT_TRUE(dataset_set_by(d, {"g"}, false, &error));
    ASSERT_EQ(xbynext(d), 1);
    try {
        xbynext(d);
        FAIL() << "the out-of-order group went unnoticed";
    } catch (const velix::platform::StepExit& e) {
        EXPECT_EQ(e.code, 1008);
    }
    EXPECT_NE(log_.str().find("ERROR"), std::string::npos);

    ASSERT_TRUE(dataset_set_by(d, {"g"}, true, &error));
    int n = 0;
    while (xbynext(d)) ++n;
    EXPECT_EQ(n, 3);

    // Missing values sort before numbers: a missing BY value first is in order.
    write("s", "g,x\n.,1\n._,2\n");
    HostDataSet* s = open("s");
    ASSERT_TRUE(dataset_set_by(s, {"g"}, false, &error));
    ASSERT_EQ(xbynext(s), 1);
    EXPECT_THROW(xbynext(s), velix::platform::StepExit) << "._ sorts before .";
}

TEST_F(DataSetTest, SecondDataSetFollowsTheGroupByValue) {
    write("data", "g,x\n1,1\n1,2\n2,3\n3,4\n");
    write("wgt", "g,w\n3,30\n1,10\n1,11\n");  // other order, and no group 2
    write("plain", "w\n5\n6\n");
    HostDataSet* other = open("wgt");  // opened before the BY statement is read
    HostDataSet* data = open("data");
    std::string error;
    ASSERT_TRUE(dataset_set_by(data, {"g"}, false, &error));
    HostDataSet* plain = open("plain");

    EXPECT_EQ(xbylist(data, other), 0);
    EXPECT_NE(xbylist(data, plain), 0);
    EXPECT_EQ(xbysync(data, other), 2) << "DATA= is on no group yet";

    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(xbysync(data, other), 0);
    EXPECT_EQ(group_values(other, 2), (std::vector<double>{10, 11}));
    EXPECT_EQ(xbysync(data, plain), 2) << "lacks the BY variable";

    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(xbysync(data, other), 1);
    EXPECT_TRUE(group_values(other, 2).empty()) << "no group 2: nothing to read";

    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(xbysync(data, other), 0);
    EXPECT_EQ(group_values(other, 2), (std::vector<double>{30}));

    // Rewinding the file puts the data set before its first group.
    EXPECT_EQ(xbyrwnd(other, kRewindFile), 0);
    ASSERT_EQ(xbynext(other), 1);
    EXPECT_EQ(group_values(other, 2), (std::vector<double>{30}));
    EXPECT_NE(xbyrwnd(other, 1), 0);
}

// A second data set in the order of DATA= is followed group after group,
// read to its end or not, without the list of its groups (which grows with
// their number).
TEST_F(DataSetTest, SecondDataSetInTheOrderOfDataIsFollowedWithoutAList) {
    write("data", "g,x\n1,1\n2,2\n2,3\n3,4\n4,5\n");
    write("wgt", "g,w\n1,10\n1,11\n2,20\n3,30\n3,31\n");
    HostDataSet* other = open("wgt");
    HostDataSet* data = open("data");
    std::string error;
    ASSERT_TRUE(dataset_set_by(data, {"g"}, false, &error));
    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(xbysync(data, other), 0);  // its group left unread
    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(xbysync(data, other), 0);
    EXPECT_EQ(group_values(other, 2), (std::vector<double>{20}));
    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(xbysync(data, other), 0);
    EXPECT_EQ(group_values(other, 2), (std::vector<double>{30, 31}));
    EXPECT_TRUE(other->groups.empty());
    ASSERT_EQ(xbynext(data), 1);
    EXPECT_EQ(xbysync(data, other), 1) << "no group 4";
}

// A second data set whose groups come in another order is found by value
// through an index of its groups: every group of DATA= meets its own
// (values of a character and a numeric BY variable, missing ones among
// them), or none when the other data set lacks it.
TEST_F(DataSetTest, SecondDataSetInAnyOrderMeetsEachGroupByValue) {
    const char* numbers[] = {"-2.5", ".", "0", ".A", "3", "1e5", "._"};
    struct Group {
        std::string c, g;
        int id;
    };
    std::vector<Group> groups;
    for (const char* c : {"a", "b b", "z"})
        for (const char* g : numbers) groups.push_back({c, g, static_cast<int>(groups.size())});
    // DATA= in the order of its values (missing ones before numbers).
    std::string data = "c,g,x\n";
    for (const char* c : {"a", "b b", "z"})
        for (const char* g : {"._", ".", ".A", "-2.5", "0", "3", "1e5"})
            for (int k = 0; k < 2; ++k) data += std::string(c) + "," + g + ",1\n";
    write("data", data);
    std::vector<Group> reversed(groups.rbegin(), groups.rend());
    std::vector<Group> shuffled = groups;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    for (const auto& [name, order] : {std::pair{"reversed", reversed}, std::pair{"shuffled", shuffled}}) {
        std::string other = "c,g,w\n";
        std::vector<bool> present(groups.size());
        for (const Group& e : order) {
            if (e.id % 5 == 3) continue;  // a group it lacks
            present[e.id] = true;
            for (int k = 0; k < 1 + e.id % 2; ++k) other += e.c + "," + e.g + "," + std::to_string(e.id) + "\n";
        }
        write(name, other);
        HostDataSet* w = open(name);
        HostDataSet* d = open("data");
        std::string error;
        ASSERT_TRUE(dataset_set_by(d, {"c", "g"}, false, &error)) << error;
        while (xbynext(d) == 1) {
            DataSetLabel by;
            ASSERT_EQ(xoinfo(d, kInfoByValues, &by), 0);
            const std::string values(by.text, by.length);
            const auto at = std::find_if(groups.begin(), groups.end(), [&](const Group& e) {
                return values == "c=" + e.c + " g=" + (e.g == "1e5" ? "100000" : e.g);
            });
            ASSERT_NE(at, groups.end()) << values;
            const int id = at->id;
            if (!present[id]) {
                EXPECT_EQ(xbysync(d, w), 1) << name << ": " << values << " is not there";
                EXPECT_TRUE(group_values(w, 3).empty()) << name << ": " << values;
                continue;
            }
            ASSERT_EQ(xbysync(d, w), 0) << name << ": " << values;
            EXPECT_EQ(group_values(w, 3), std::vector<double>(1 + id % 2, id)) << name << ": " << values;
        }
        velix::platform::dataset_end_step();
    }
}

// Of groups with equal values in a second data set out of order, the one
// met is the first at or after its current group, then the first from the
// start: a DATA= that repeats its values (NOTSORTED) meets them in turn.
TEST_F(DataSetTest, RepeatedGroupsOfASecondDataSetAreMetInTurn) {
    write("data", "g,x\n1,1\n2,2\n1,3\n2,4\n");
    HostDataSet* data = open("data");
    std::string error;
    ASSERT_TRUE(dataset_set_by(data, {"g"}, true, &error));
    write("wgt", "g,w\n2,20\n1,10\n2,21\n1,11\n");  // opened after the BY statement
    HostDataSet* other = open("wgt");
    for (const double expected : {10, 21, 11, 20}) {
        ASSERT_EQ(xbynext(data), 1);
        ASSERT_EQ(xbysync(data, other), 0);
        EXPECT_EQ(group_values(other, 2), std::vector<double>{expected});
    }
}

TEST_F(DataSetTest, WithoutByVariablesEveryDataSetIsInStep) {
    write("a", "x\n1\n");
    write("b", "y\n7\n8\n");
    HostDataSet* a = open("a");
    HostDataSet* b = open("b");
    ASSERT_EQ(xbynext(a), 1);
    EXPECT_EQ(xbysync(a, b), 0);
    EXPECT_EQ(group_values(b, 1), (std::vector<double>{7, 8}));
}

TEST_F(DataSetTest, RewindGroupReadsTheGroupAgain) {
    write("r", "g,x\n1,1\n1,2\n2,3\n");
    HostDataSet* d = open("r");
    std::string error;
    ASSERT_TRUE(dataset_set_by(d, {"g"}, false, &error));
    ASSERT_EQ(xbynext(d), 1);
    ASSERT_EQ(xbynext(d), 1);
    int32_t size = 0;
    ASSERT_EQ(xoinfo(d, kInfoGroupSize, &size), 0);
    EXPECT_EQ(size, 1);
    DataSetLabel by;
    ASSERT_EQ(xoinfo(d, kInfoByValues, &by), 0);
    EXPECT_EQ(std::string(by.text, by.length), "g=2");
    EXPECT_EQ(group_values(d, 2), (std::vector<double>{3}));
    EXPECT_EQ(group_values(d, 2), std::vector<double>{}) << "a group is read once";
    EXPECT_EQ(xbyrwnd(d, kRewindGroup), 0);
    EXPECT_EQ(group_values(d, 2), (std::vector<double>{3}));
}

TEST_F(DataSetTest, InformationItems) {
    write("info", "# LABEL=Some label\nx\n1\n2\n");
    HostDataSet* d = open("info");
    char name[8];
    ASSERT_EQ(xoinfo(d, kInfoName, name), 0);
    EXPECT_EQ(std::string(name, 8), "info    ");
    DataSetLabel label;
    ASSERT_EQ(xoinfo(d, kInfoLabel, &label), 0);
    EXPECT_EQ(std::string(label.text, label.length), "Some label");
    ASSERT_EQ(xoinfo(d, kInfoFullName, &label), 0);
    EXPECT_EQ(std::string(label.text, label.length), "info");
    ASSERT_EQ(xoinfo(d, kInfoByValues, &label), 0);
    EXPECT_EQ(label.length, 0) << "no BY variables";
    int32_t word = 0;
    ASSERT_EQ(xoinfo(d, kInfoReadable, &word), 0);
    EXPECT_EQ(word, 1);
    ASSERT_EQ(xoinfo(d, kInfoObsNumbers, &word), 0);
    EXPECT_EQ(word, 1);
    DataSetSlot slot;
    slot.handle = d;
    ASSERT_EQ(xbynext(d), 1);
    xybyget(&slot);
    xybyget(&slot);
    ASSERT_EQ(xoinfo(d, kInfoObsNumber, &word), 0);
    EXPECT_EQ(word, 2);
    EXPECT_EQ(xoinfo(d, 999, &word), kDsBadArgument);
    EXPECT_EQ(xoinfo(d, kInfoSetType, const_cast<char*>("COV     ")), kDsReadOnly);
}

// The rows of an output data set that wait beyond the memory they may
// take wait in an unnamed file in the output's own folder, not in the
// system's temporary folder (often a small memory file system): a long
// output needs room only where it goes, and leaves no file behind.
class WaitingRows : public DataSetTest {
protected:
    // Spills and writes a long output; what went wrong, "" when nothing did.
    std::string wait_in_their_folder() {
        double cell = 0.1234567890123;  // 16 characters a line
        HostBinding* b = bind_x(create("long"), &cell);
        if (b == nullptr) return "no binding";
        const int rows = 100000;
        for (int k = 0; k < rows; ++k)
            if (xyvput(b, 0) != 0) return "a row was refused";
        velix::platform::dataset_spill_outputs();
        if (!velix::test::holds_file_in(dir_.string())) return "no file of this process is open in " + dir_.string();
        if (std::filesystem::directory_iterator(dir_) != std::filesystem::directory_iterator())
            return "the waiting rows have a name";
        if (!velix::platform::dataset_commit_outputs(0)) return "the output was not written";
        velix::platform::dataset_end_step();
        const std::string text = read("long");
        if (std::count(text.begin(), text.end(), '\n') != rows + 1) return "lines lost";
        if (std::distance(std::filesystem::directory_iterator(dir_), {}) != 1) return "a file was left";
        return "";
    }
};

TEST_F(WaitingRows, WaitInTheirFilesFolder) { EXPECT_EQ(wait_in_their_folder(), ""); }

// Where the folder's file system makes no unnamed files, the file the rows
// wait in is named and unlinked at once, in the same folder: rows of any
// length still need no room in the temporary folder.  It used to be made
// there.
TEST_F(WaitingRows, WaitInTheirFilesFolderWhereItsFileSystemMakesNoUnnamedFiles) {
    EXPECT_EXIT(
        {
            if (!velix::test::refuse_unnamed_files()) std::_Exit(2);
            const std::string wrong = wait_in_their_folder();
            std::fputs(wrong.c_str(), stderr);
            std::_Exit(wrong.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DataSetTest, OutputIsWrittenWhenTheStepEnds) {
    HostDataSet* out = create("result");
    ASSERT_EQ(xoinfo(out, kInfoSetType, const_cast<char*>("COV     ")), 0);
    DataSetLabel label;
    label.length = 5;
    std::memcpy(label.text, "Stats", 5);
    ASSERT_EQ(xoinfo(out, kInfoSetLabel, &label), 0);
    int32_t word = 1;
    ASSERT_EQ(xoinfo(out, kInfoReadable, &word), 0);
    EXPECT_EQ(word, 0);
    double cell = 2.5;
    HostBinding* b = bind_x(out, &cell);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(xyvput(b, 0), 0);
    // Values the reader could not take back are written as the missing
    // value ".".
    for (double v : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
        cell = v;
        ASSERT_EQ(xyvput(b, 0), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "result.csv")) << "written at the end only";
    // An output the step never defines leaves an existing file alone.
    write("kept", "a\n1\n");
    ASSERT_NE(create("kept"), nullptr);
    EXPECT_TRUE(velix::platform::dataset_commit_outputs(0));
    velix::platform::dataset_end_step();
    EXPECT_EQ(read("result"), "# TYPE=COV\n# LABEL=Stats\nx\n2.5\n.\n.\n.\n");
    EXPECT_EQ(read("kept"), "a\n1\n");

    // A (type=...) option wins over the TYPE the module sets.
    DataSetOptions options;
    options.type = "ucov";
    std::string error;
    HostDataSet* typed = dataset_create_output("typed", false, options, &error);
    ASSERT_NE(typed, nullptr) << error;
    ASSERT_EQ(xoinfo(typed, kInfoSetType, const_cast<char*>("COV     ")), 0);
    b = bind_x(typed, &cell, 0);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(xyvput(b, 0), 0);  // an output without observations is not written
    ASSERT_TRUE(velix::platform::dataset_close(typed, &error)) << error;
    EXPECT_TRUE(velix::platform::dataset_commit_outputs(0));
    EXPECT_EQ(read("typed").rfind("# TYPE=UCOV\n", 0), 0u);

    EXPECT_EQ(dataset_create_output("no/such/dir/x", true, DataSetOptions{}, &error), nullptr);
}

// An output data set cannot take the file of the step's DATA= data set
// (which the rename at the step's end would replace: the raw data, or the
// user's moments replaced by estimates, were lost with no message) nor
// that of another output of the step, however the file is named: another
// spelling, a path in quotes, a symbolic or a hard link.  Moments are
// the user's data as raw data are, also for OUTSTAT= (which writes the
// model's variables only), and raw data in another role than DATA= is not
// the step's data.
TEST_F(DataSetTest, AnOutputCannotTakeTheFileOfTheRawDataOrOfAnotherOutput) {
    write("raw", "x\n1\n2\n");
    write("mom", "# TYPE=COV\n_TYPE_,_NAME_,x\nCOV,x,1\nN,,5\n");
    write("est", "# TYPE=EST\n_TYPE_,_NAME_,x\nPARMS,,1\nCOV,x,1\nN,,5\n");
    std::filesystem::create_symlink(dir_ / "raw.csv", dir_ / "soft.csv");
    std::filesystem::create_hard_link(dir_ / "raw.csv", dir_ / "hard.csv");
    const std::string quoted = (dir_ / "raw.csv").string();
    const std::string respelled = (dir_ / "." / "raw.csv").string();
    struct Case {
        const char* input;  // the member opened first
        const char* inputRole;
        std::vector<std::string> outputs;  // OUTSTAT=, then OUTEST= (a leading '"': a quoted path)
        std::string refused;               // the error, "" when both are made
    };
    const std::string rawFile = "(" + (dir_ / "raw.csv").string() + ")";
    const Case cases[] = {
        {"raw", "DATA=", {"raw"}, "OUTSTAT= data set raw would replace DATA= data set raw, the raw data of the step " + rawFile},
        {"raw", "DATA=", {"\"" + quoted}, "would replace DATA= data set raw"},
        {"raw", "DATA=", {"\"" + respelled}, "would replace DATA= data set raw"},
        {"raw", "DATA=", {"soft"}, "would replace DATA= data set raw"},
        {"raw", "DATA=", {"hard"}, "would replace DATA= data set raw"},
        {"mom", "DATA=", {"mom"},
         "OUTSTAT= data set mom would replace DATA= data set mom, the TYPE=COV data the step analyses (" +
             (dir_ / "mom.csv").string() + ")"},
        {"mom", "DATA=", {"new", "mom"}, "OUTEST= data set mom would replace DATA= data set mom, the TYPE=COV data"},
        {"est", "DATA=", {"est"}, "OUTSTAT= data set est would replace DATA= data set est, the TYPE=EST data"},
        {"raw", "INRAM=", {"raw"}, ""},
        {"raw", "DATA=", {"new", "\"" + (dir_ / "new.csv").string()}, "and OUTSTAT= data set new name the same file"},
        {"raw", "DATA=", {"mom", "\"" + (dir_ / "mom.csv").string()}, "and OUTSTAT= data set mom name the same file"},
        {"mom", "DATA=", {"soft", "hard"}, "OUTEST= data set hard and OUTSTAT= data set soft name the same file"},
    };
    for (const Case& c : cases) {
        DataSetOptions in;
        in.role = c.inputRole;
        std::string error;
        ASSERT_NE(velix::platform::dataset_open_input(c.input, false, in, &error), nullptr) << error;
        std::string refusal;
        for (size_t k = 0; k < c.outputs.size() && refusal.empty(); ++k) {
            DataSetOptions out;
            out.role = k == 0 ? "OUTSTAT=" : "OUTEST=";
            const bool path = c.outputs[k][0] == '"';
            if (dataset_create_output(c.outputs[k].substr(path ? 1 : 0), path, out, &error) == nullptr)
                refusal = error;
        }
        const std::string what = std::string(c.input) + " as " + c.inputRole + ", outputs " + c.outputs.back();
        if (c.refused.empty())
            EXPECT_EQ(refusal, "") << what;
        else
            EXPECT_NE(refusal.find(c.refused), std::string::npos) << what << ": " << refusal;
        velix::platform::dataset_end_step();
    }
    EXPECT_EQ(read("raw"), "x\n1\n2\n");
}

// Two outputs that name one file not made yet: the later rename put one
// over the other, exit status 0 and no message, where a quoted name, a
// dangling link or odd bytes kept the spellings apart.  Each form is
// checked against the quoted relative name, from a library that is the
// working folder, as for a program in it.
TEST_F(DataSetTest, TwoOutputsThatNameOneNewFileAreRefusedHoweverItIsNamed) {
    namespace fs = std::filesystem;
    struct Back {
        fs::path folder = fs::current_path();
        ~Back() { fs::current_path(folder); }
    } back;
    fs::current_path(dir_);
    velix::platform::session().libraryDir = ".";
    fs::create_directory(dir_ / "sub");
    fs::create_symlink("new.csv", dir_ / "dangling.csv");
    fs::create_directory_symlink(".", dir_ / "here");
    // {name, quoted} of OUTSTAT=, then of OUTEST=.
    using Name = std::pair<std::string, bool>;
    const Name relative{"new.csv", true};
    const std::vector<std::pair<Name, Name>> forms = {
        {relative, {"new", false}},
        {relative, {"./new.csv", true}},
        {relative, {"sub/../new.csv", true}},
        {relative, {(dir_ / "new.csv").string(), true}},
        {relative, {"dangling", false}},
        {relative, {"here/new.csv", true}},
        {relative, {"/proc/self/cwd/new.csv", true}},
        {relative, {".//new.csv", true}},
        {{"o s\xff.csv", true}, {"./o s\xff.csv", true}},
        {relative, {"other.csv", true}},  // two files: both are made
    };
    for (const auto& [first, second] : forms) {
        std::string error;
        DataSetOptions out;
        out.role = "OUTSTAT=";
        ASSERT_NE(dataset_create_output(first.first, first.second, out, &error), nullptr) << error;
        out.role = "OUTEST=";
        const bool made = dataset_create_output(second.first, second.second, out, &error) != nullptr;
        const bool apart = second.first == "other.csv";
        EXPECT_EQ(made, apart) << second.first;
        if (!apart) {
            EXPECT_NE(error.find("name the same file"), std::string::npos) << second.first << ": " << error;
        }
        velix::platform::dataset_end_step();
        EXPECT_FALSE(fs::exists(dir_ / "new.csv")) << second.first;
    }
}

// The output data sets of a step take their places all or none.  Three
// outputs, the second without an earlier file: when the k-th of them
// cannot replace its file, those replaced before it are put back (the
// earlier files as they were, the new file where there was none removed),
// no scratch file or second name is left, one ERROR names the data set
// that failed and a NOTE each data set not written.  A later output that
// failed used to leave the earlier ones new.
class AllOrNone : public DataSetTest {
protected:
    const char* names_[3] = {"a", "b", "c"};
    // Outputs a, b and c, one row of `value` each, over the earlier a and c.
    void make_outputs(double* value) {
        write("a", "old a\n");
        std::filesystem::remove(dir_ / "b.csv");
        write("c", "old c\n");
        for (const char* name : names_) {
            HostBinding* b = bind_x(create(name), value);
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(xyvput(b, 0), 0);
        }
    }
    // The log since `from`.
    std::string log_since(size_t from) const { return log().substr(from); }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // The second name of the earlier file of the output at place `tag`
    // (".velix-<pid>-<tag>-old-<random>.tmp"); "" when there is none.
    std::string kept_name(int tag) const {
        const std::string prefix = ".velix-" + std::to_string(::getpid()) + "-" + std::to_string(tag) + "-old-";
        for (const std::string& name : files())
            if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() + 4 &&
                name.compare(name.size() - 4, 4, ".tmp") == 0)
                return name;
        return "";
    }
    // A commit that failed and was ended: the earlier a and c as they
    // were, and nothing else in the folder.
    void expect_earlier_files_only() {
        velix::platform::clear_injected_move_failures();
        velix::platform::dataset_end_step();
        EXPECT_EQ(read("a"), "old a\n");
        EXPECT_EQ(read("c"), "old c\n");
        EXPECT_EQ(files(), (std::vector<std::string>{"a.csv", "c.csv"}));
    }
};

TEST_F(AllOrNone, AnOutputThatCannotReplaceItsFileLeavesEveryEarlierOne) {
    for (int failing = 1; failing <= 3; ++failing) {
        double value = failing;
        make_outputs(&value);
        const size_t from = log().size();
        // Moves into place, in order: a, b, c (then a put back, b removed).
        velix::platform::inject_move_failure(failing, EACCES);
        EXPECT_FALSE(velix::platform::dataset_commit_outputs(0)) << failing;
        velix::platform::clear_injected_move_failures();
        velix::platform::dataset_end_step();
        EXPECT_EQ(read("a"), "old a\n") << failing;
        EXPECT_EQ(read("c"), "old c\n") << failing;
        EXPECT_EQ(files(), (std::vector<std::string>{"a.csv", "c.csv"})) << failing;
        const std::string log = log_since(from);
        const std::string name = names_[failing - 1];
        EXPECT_NE(log.find("ERROR: Output data set " + name + " cannot replace " + (dir_ / (name + ".csv")).string() +
                           ": Permission denied.\n"),
                  std::string::npos)
            << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
        for (const char* n : names_)
            EXPECT_NE(log.find(std::string("NOTE: Output data set ") + n + " was not written."), std::string::npos)
                << log;
    }
}

// Where even putting back fails, the log names each data set left changed
// and the name its earlier file is kept under, or says that a new file
// where there was none stays; the others are put back.
TEST_F(AllOrNone, AnEarlierFileThatCannotBePutBackIsNamed) {
    double value = 7;
    make_outputs(&value);
    velix::platform::inject_move_failure(3, EACCES);  // c into place
    velix::platform::inject_move_failure(4, EROFS);   // a back
    velix::platform::inject_move_failure(5, EBUSY);   // b removed
    EXPECT_FALSE(velix::platform::dataset_commit_outputs(0));
    velix::platform::clear_injected_move_failures();
    velix::platform::dataset_end_step();
    EXPECT_EQ(read("a"), "x\n7\n");
    EXPECT_EQ(read("c"), "old c\n");
    const std::string kept = kept_name(0);
    ASSERT_NE(kept, "") << "no second name of a";
    EXPECT_EQ(read("b"), "x\n7\n");
    EXPECT_EQ(files(), (std::vector<std::string>{kept, "a.csv", "b.csv", "c.csv"}));
    std::ifstream keptFile(dir_ / kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(keptFile), {}), "old a\n");
    EXPECT_NE(log().find("ERROR: Output data set a left " + (dir_ / "a.csv").string() +
                         " changed: its earlier file could not be put back (Read-only file system) and is kept as " +
                         (dir_ / kept).string() + ".\n"),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("ERROR: Output data set b was put in " + (dir_ / "b.csv").string() +
                         ", where there was no file, and could not be removed (Device or resource busy).\n"),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("NOTE: Output data set c was not written."), std::string::npos) << log();
    for (const char* name : {"a", "b"})
        EXPECT_EQ(log().find(std::string("NOTE: Output data set ") + name + " was not written."), std::string::npos)
            << log();
}

// A second name that cannot be removed (another user's file in a sticky
// folder, a failing disk) is named in the log, after a step whose outputs
// took their places as after one whose earlier files were put back; it
// used to stay without a word.
TEST_F(AllOrNone, ASecondNameThatCannotBeRemovedIsNamed) {
    const struct {
        std::vector<int> failing;  // the moves that fail
        bool inPlace;              // whether the new files take their places
        std::string left;          // the data set whose second name stays
        int tag;                   // its place among the outputs
    } cases[] = {
        // a, b and c into place (moves 1-3), then the second names of a and
        // c removed (4, 5).
        {{4}, true, "a", 0},
        // a and b into place, c refused (3); a put back (4), b removed (5),
        // the second name of c removed (6).
        {{3, 6}, false, "c", 2},
    };
    for (const auto& c : cases) {
        double value = 3;
        make_outputs(&value);
        const size_t from = log().size();
        for (int n : c.failing) velix::platform::inject_move_failure(n, EIO);
        EXPECT_EQ(velix::platform::dataset_commit_outputs(0), c.inPlace) << c.left;
        velix::platform::clear_injected_move_failures();
        velix::platform::dataset_end_step();
        EXPECT_EQ(read("a"), c.inPlace ? "x\n3\n" : "old a\n") << c.left;
        const std::string kept = kept_name(c.tag);
        ASSERT_NE(kept, "") << "no second name of " << c.left;
        const std::vector<std::string> expected =
            c.inPlace ? std::vector<std::string>{kept, "a.csv", "b.csv", "c.csv"}
                      : std::vector<std::string>{kept, "a.csv", "c.csv"};
        EXPECT_EQ(files(), expected) << c.left;
        EXPECT_NE(log_since(from).find("WARNING: The second name " + (dir_ / kept).string() +
                                       " of the earlier file of output data set " + c.left +
                                       " could not be removed (Input/output error).\n"),
                  std::string::npos)
            << log_since(from);
        std::filesystem::remove(dir_ / kept);
    }
}

// A file whose flush to the disk fails does not take its name, and so
// none of the step's outputs does: a power loss could otherwise leave the
// name on a file whose contents never reached the disk.
TEST_F(AllOrNone, AFileThatCannotBeFlushedToTheDiskTakesNoName) {
    double value = 4;
    make_outputs(&value);
    velix::platform::inject_sync_failure(2, EIO);  // b's
    EXPECT_FALSE(velix::platform::dataset_commit_outputs(0));
    expect_earlier_files_only();
    EXPECT_NE(log().find("ERROR: Output data set b cannot be written to " + (dir_ / "b.csv").string() +
                         " (Input/output error).\n"),
              std::string::npos)
        << log();
}

// Where no hard link can be made (a file system without them), an earlier
// file steps aside under its second name; when a later output cannot step
// aside in its turn, the file moved aside before it goes back.
TEST_F(AllOrNone, AnEarlierFileMovedAsideGoesBackWhenALaterOneFails) {
    double value = 9;
    make_outputs(&value);
    velix::platform::inject_second_name_failure(1, EPERM);  // a: moved aside
    velix::platform::inject_second_name_failure(2, EPERM);  // c: would be moved aside
    velix::platform::inject_move_failure(2, EACCES);        // c's move aside
    EXPECT_FALSE(velix::platform::dataset_commit_outputs(0));
    expect_earlier_files_only();
    EXPECT_NE(log().find("ERROR: Output data set c cannot replace " + (dir_ / "c.csv").string() +
                         ": Permission denied.\n"),
              std::string::npos)
        << log();
    for (const char* n : names_)
        EXPECT_NE(log().find(std::string("NOTE: Output data set ") + n + " was not written."), std::string::npos)
            << log();
}

// A stop that comes while the outputs are renamed into place lets every
// one take its place (never a mix), and the log says so: the step's return
// code, which says that it was stopped, otherwise means that it wrote
// none.  In a child process: the stop cannot be taken back.
TEST_F(AllOrNone, AStopWhileTheOutputsAreRenamedIsSaidToLeaveThemInPlace) {
    EXPECT_EXIT(
        {
            velix::platform::install_stop_handlers();
            double value = 6;
            make_outputs(&value);
            velix::platform::inject_signal_before_move(2, SIGTERM);  // once a is in place
            const bool ok = velix::platform::dataset_commit_outputs(0);
            const bool allNew = read("a") == "x\n6\n" && read("b") == "x\n6\n" && read("c") == "x\n6\n";
            const bool said = log().find("NOTE: The output data sets of the step (a, b, c) were put in place: the stop "
                                         "came while they were being renamed.\n") != std::string::npos;
            std::_Exit(!ok || !allNew ? 1 : said ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "")
        << "not every output took its place (1), or the log did not say that they did (2)";
}

// An output data set whose name leads to one of the command's open files
// (as /dev/stdout does; here a link to /proc/self/fd/N of a regular file)
// cannot be put in place by a commit that may have to be undone: it is
// refused as a device is.  It was written to a scratch file renamed over
// the name, which for /dev/stdout itself, as root, replaced the system's
// link.
TEST_F(DataSetTest, AnOutputThatLeadsToAnOpenFileIsRefused) {
    const int fd = ::open((dir_ / "opened").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    std::filesystem::create_symlink("/proc/self/fd/" + std::to_string(fd), dir_ / "stdout.csv");
    double value = 1;
    HostBinding* b = bind_x(create("stdout"), &value);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(xyvput(b, 0), 0);
    EXPECT_FALSE(velix::platform::dataset_commit_outputs(0));
    ::close(fd);
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "stdout.csv"));
    EXPECT_EQ(std::filesystem::file_size(dir_ / "opened"), 0u);
    EXPECT_NE(log().find("ERROR: Output data set stdout cannot replace " + (dir_ / "stdout.csv").string() +
                         ", which is not a file.\n"),
              std::string::npos)
        << log();
}

// Walking every BY group of a data set twice, a data set read from its
// file keeps as many bytes at ten times the observations (its reader's
// buffer and record, the sums of its four groups) and none of its values;
// one that holds its values keeps every one.
TEST_F(DataSetTest, WhatADataSetKeepsDoesNotGrowWithItsObservations) {
    const auto write_rows = [&](const std::string& member, int n) {
        std::string text = "g,x,y\n";
        for (int i = 0; i < n; ++i)
            text += std::to_string(4 * i / n) + "," + std::to_string(i % 97) + ".25,-" + std::to_string(i % 13) + ".5\n";
        write(member, text);  // at least 20 bytes a row: both files fill the reader's buffer
    };
    struct Kept {
        size_t bytes = 0;  // the most at any point of the walk
        int64_t rows = 0;
        bool valuesHeld = false;
    };
    const auto walk = [&](const std::string& member) {
        Kept k;
        DataSetOptions options;
        options.by = {"g"};
        std::string error;
        HostDataSet* d = velix::platform::dataset_open_input(member, false, options, &error);
        EXPECT_NE(d, nullptr) << error;
        EXPECT_TRUE(dataset_set_by(d, {"g"}, false, &error)) << error;
        while (xbynext(d))
            for (int pass = 0; pass < 2; ++pass) {
                EXPECT_EQ(xbyrwnd(d, kRewindGroup), 0);
                k.rows += static_cast<int64_t>(group_values(d, 2).size());
                k.bytes = std::max(k.bytes, dataset_held_bytes(d));
            }
        for (const auto& v : d->variables) k.valuesHeld = k.valuesHeld || !v.numbers.empty() || !v.texts.empty();
        return k;
    };
    write_rows("small", 10000);
    write_rows("large", 100000);
    const Kept small = walk("small"), large = walk("large");
    EXPECT_EQ(small.rows, 20000);
    EXPECT_EQ(large.rows, 200000);
    EXPECT_FALSE(small.valuesHeld || large.valuesHeld);
    EXPECT_EQ(large.bytes, small.bytes);
    EXPECT_LT(large.bytes, size_t{1} << 20);
    dataset_set_hold_limit(std::numeric_limits<size_t>::max());
    const Kept held = walk("large");
    dataset_set_hold_limit(velix::platform::kDefaultHoldLimit);
    EXPECT_EQ(held.rows, 200000);
    EXPECT_TRUE(held.valuesHeld);
    EXPECT_GE(held.bytes, 300000 * sizeof(double));
}

// A file that is not what it was when the step opened it ends the step
// with a message when the step reads it again, rather than giving other
// observations: here the file, larger than what the reader keeps of it,
// is rewritten shorter before its group is read a second time.
TEST_F(DataSetTest, AFileThatChangesUnderTheStepEndsIt) {
    std::string text = "x\n";
    for (int i = 0; i < 40000; ++i) text += std::to_string(i) + ".5\n";
    write("c", text);
    HostDataSet* d = open("c");
    ASSERT_EQ(xbynext(d), 1);
    EXPECT_EQ(group_values(d, 1).size(), 40000u);
    write("c", "x\n1\n2\n");
    ASSERT_EQ(xbyrwnd(d, kRewindGroup), 0);
    try {
        group_values(d, 1);
        FAIL() << "the changed file went unnoticed";
    } catch (const velix::platform::StepExit& e) {
        EXPECT_EQ(e.code, 1008);
    }
    EXPECT_NE(log_.str().find("changed while the step read it"), std::string::npos) << log_.str();
}

}  // namespace
