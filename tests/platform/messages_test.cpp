// The message catalogue and the message services: the catalogue is well
// formed (unique keys, known groups, sorted, only directives of the dialect,
// the host's own lines formatting with their callers' arguments), numbered
// messages reach the log and the output document with their group and
// number, and the field and buffer services respect their sizes.
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "platform/format.h"
#include "tests/support/session_fixture.h"
#include "velix/codes.h"
#include "velix/host.h"
#include "velix/messages.h"

namespace {

using velix::platform::kMessageCatalogue;
using velix::platform::kMessageCatalogueSize;

// The conversion letters a catalogue text may use (platform/format.h).
bool directives_are_known(const char* text, std::string* bad) {
    for (const char* p = text; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        while (*p && std::strchr("-+ 0#", *p)) ++p;
        while (*p && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '*' || *p == '.')) ++p;
        while (*p == 'l' || *p == 'h') ++p;
        if (!*p || !std::strchr("iduxXfeEgGsckn%z", *p)) {
            *bad = text;
            return false;
        }
    }
    return true;
}

TEST(MessageCatalogue, RowsAreUniqueSortedAndWellFormed) {
    std::set<std::pair<int32_t, int32_t>> seen;
    const std::set<int32_t> groups = {kMsgHost, kMsgSync, kMsgReader, kMsgProc, kMsgNlp};
    for (size_t i = 0; i < kMessageCatalogueSize; ++i) {
        const auto& row = kMessageCatalogue[i];
        SCOPED_TRACE(std::to_string(row.group) + "/" + std::to_string(row.number));
        EXPECT_TRUE(groups.count(row.group)) << "unknown group";
        EXPECT_TRUE(seen.insert({row.group, row.number}).second) << "duplicate row";
        ASSERT_NE(row.text, nullptr);
        EXPECT_GT(std::strlen(row.text), 0u);
        std::string bad;
        EXPECT_TRUE(directives_are_known(row.text, &bad)) << bad;
        if (i > 0) {
            const auto& prev = kMessageCatalogue[i - 1];
            EXPECT_LT(std::make_pair(prev.group, prev.number), std::make_pair(row.group, row.number))
                << "out of order";
        }
    }
    // The texts the procedure step and the BY-group synchronisation rely on.
    for (const auto& [g, n] : std::set<std::pair<int, int>>{{352, 539}, {352, 720}, {352, 860}, {352, 1},
                                                            {352, 3}, {153, 5}})
        EXPECT_NE(velix::platform::message_text(g, n), nullptr) << g << "/" << n;

    // Every line of the host's group, formatted with arguments of the types
    // its callers pass (a directive of another type reads them wrongly),
    // gives its text.
    std::set<int32_t> tested;
    const auto line = [&tested](int32_t number, auto... args) {
        tested.insert(number);
        return velix::platform::format_message(kMsgHost, number, args...);
    };
    const int64_t big = 5000000000;  // beyond 32 bits: a %ld read as %i would show it
    const std::pair<std::string, std::string> lines[] = {
        {line(kMsgHostMissingMessage, 352, 7), "ERROR: Message 352/7 is missing from the message file."},
        {line(kMsgHostServiceFailed, "why", 0x80008001u), "ERROR: A host service failed: why (status 0x80008001)."},
        {line(kMsgHostServiceFailedStatus, -17, static_cast<uint32_t>(-17)), "ERROR: A host service failed with status -17 (0xFFFFFFEF)."},
        {line(kMsgHostNoSuchMethod), "the object has no such method"},
        {line(kMsgHostCalledOutOfOrder), "an output object was called out of order"},
        {line(kMsgHostMalformedEntry), "an output object was given a missing or malformed entry"},
        {line(kMsgHostUsedAfterClose), "an output object was used after it was closed"},
        {line(kMsgHostNoAllocation), "memory could not be allocated"},
        {line(kMsgHostInternalError, "x"), "ERROR: internal error: x"},
        {line(kMsgHostInternalErrorCode, "x", 3), "ERROR: internal error: x (code 3)"},
        {line(kMsgHostNoMemoryToContinue), "ERROR: There is not enough memory to continue the step."},
        {line(kMsgHostNoMemoryForRequest, big), "ERROR: There is not enough memory for a request of 5000000000 bytes."},
        {line(kMsgHostErrorOutsideStep, 4, "T."), "ERROR: line 4: T."},
        {line(kMsgHostWarningOutsideStep, 4, "T."), "WARNING: line 4: T."},
        {line(kMsgHostStepFailed, 1012), "ERROR: The PROC VELIX step failed with return code 1012."},
        {line(kMsgHostStepEnded, 1012), "NOTE: The PROC VELIX step ended with return code 1012."},
        {line(kMsgHostStepOutOfMemory), "ERROR: The step ran out of memory."},
        {line(kMsgHostRunStopped, "SIGINT"), "ERROR: The run was stopped by SIGINT."},
        {line(kMsgHostListingLost, "f"), "ERROR: The listing cannot be written to f; the run stops."},
        {line(kMsgHostListingLostWhy, "f", "w"), "ERROR: The listing cannot be written to f (w); the run stops."},
        {line(kMsgHostListingKept, "f"), "NOTE: The listing was not written to f."},
        {line(kMsgHostJsonKept, "f"), "NOTE: The JSON document was not written to f."},
        {line(kMsgHostListingNotWritten, "f", "w"), "ERROR: The listing was not written to f (w)."},
        {line(kMsgHostJsonNotWritten, "f", "w"), "ERROR: The JSON document was not written to f (w)."},
        {line(kMsgHostReasonInTemporaryFolder, "w", "/t"), "w in the temporary folder /t"},
        {line(kMsgHostDataSetChanged, "d", "p"), "ERROR: Data set d (p) changed while the step read it: its observations are not those it had when it was opened."},
        {line(kMsgHostDataSetNotSorted, "d", big, "g=2", "g=3"), "ERROR: Data set d is not sorted in ascending sequence of its BY variables: observation 5000000000 has g=2 after g=3. Sort it or give NOTSORTED."},
        {line(kMsgHostReadFailed, "d", -5), "ERROR: Reading an observation of data set d failed with status -5."},
        {line(kMsgHostWriteFailed, "d", -5), "ERROR: Writing an observation to data set d failed with status -5."},
        {line(kMsgHostOutputAfterFailure, "d", 2000), "NOTE: Output data set d was not written: the step ended with return code 2000."},
        {line(kMsgHostOutputEmpty, "d"), "NOTE: Output data set d has no observations and was not written."},
        {line(kMsgHostOutputNotWritten, "d"), "NOTE: Output data set d was not written."},
        {line(kMsgHostOutputNotWritable, "d", "p", "w"), "ERROR: Output data set d cannot be written to p (w)."},
        {line(kMsgHostOutputNotPutBack, "d", "p", "w", "k"), "ERROR: Output data set d left p changed: its earlier file could not be put back (w) and is kept as k."},
        {line(kMsgHostOutputNotAFile, "d", "p"), "ERROR: Output data set d cannot replace p, which is not a file."},
        {line(kMsgHostOutputCannotReplace, "d", "p", "w"), "ERROR: Output data set d cannot replace p: w."},
        {line(kMsgHostNamesOneField, "line 5 of f.csv", "s"), "line 5 of f.csv: the line of variable names is a single field that holds s; the fields of a data set are separated by commas"},
        {line(kMsgHostSemicolon), "a semicolon (\";\")"},
        {line(kMsgHostTab), "a tab"},
        {line(kMsgHostByGroupLine, 2, "school=Pasteur"), "BY group 2: school=Pasteur"},
        {line(kMsgHostDataSetUnquotedPath, "/", "DATA", "/d/hs.csv"), "expected a data-set name (found \"/\"): a file is named by its path in quotes (DATA=\"/d/hs.csv\")"},
        {line(kMsgHostQuotedNamesSeparated, "line 5 of f.csv", "s"), "line 5 of f.csv: the quoted variable names are separated by s; the fields of a data set are separated by commas"},
        {line(kMsgHostOutputNotRemoved, "d", "p", "w"), "ERROR: Output data set d was put in p, where there was no file, and could not be removed (w)."},
        {line(kMsgHostOutputReplacesData, "OUTSTAT=", "d", "DATA=", "e", "p"), "OUTSTAT= data set d would replace DATA= data set e, the raw data of the step (p)"},
        {line(kMsgHostOutputsShareFile, "OUTEST=", "d", "OUTRAM=", "e", "p"), "OUTEST= data set d and OUTRAM= data set e name the same file p"},
        {line(kMsgHostRowLabels, "f.csv", "r"), "NOTE: The first column of f.csv has no name, as R's write.csv writes its row names: it is read as the row labels, the character variable r."},
        {line(kMsgHostLooksLikeMatrices, "d", big, "m", 2, big, "\"d\"", "t"), "WARNING: Data set d looks like 5000000000 m matrices, one after another: column 2 names their rows after its numeric variables, and their numbers are symmetric. Without a TYPE it is read as raw data, 5000000000 observations; to analyse them as the matrices, write data=\"d\"(type=t), a BY statement of the columns before it, and give the number of observations with the PROC option NOBS=."},
        {line(kMsgHostIndexLabels, 2, "f.csv", "r"), "NOTE: Column 2 of f.csv has no name, as pandas' to_csv writes the unnamed level of a row index (df.groupby(...).cov()): it is read as the row labels, the character variable r."},
        {line(kMsgHostTooManyVariables, "line 1 of w.csv", big, 32767), "line 1 of w.csv: the data set has 5000000000 variables, more than the 32767 a data set can have"},
        {line(kMsgHostLooksLikeMatrix, "d", "m", big, "\"d\"", "t"), "WARNING: Data set d looks like a m matrix: its first column names its rows after its numeric variables, and its numbers are symmetric. Without a TYPE it is read as raw data, 5000000000 observations; to analyse it as the matrix, write data=\"d\"(type=t) and give the number of observations with the PROC option NOBS=."},
        {line(kMsgHostCovariance), "covariance"},
        {line(kMsgHostCorrelation), "correlation"},
        {line(kMsgHostWordsLeftOut, "v", "d", "w"), "NOTE: Variable v of data set d holds numbers but is character, and is not analysed: w."},
        {line(kMsgHostVariableMadeCharacter, "v", "d", "w"), "ERROR: Analysis variable v of data set d is not numeric: w."},
        {line(kMsgHostDataSetIsFolder), "it is a folder, not a file"},
        {line(kMsgHostMomentsOverflow, "v", "d"), "ERROR: The values of variable v of data set d are too large for its moments: their sums go beyond the largest number a double holds (about 1.8e308)."},
        {line(kMsgHostNameHoldsNul, "line 1 of f.csv", 2, "x"), "line 1 of f.csv: variable 2 of the names holds a NUL byte after \"x\""},
        {line(kMsgHostVariableNotInDataSet, "d"), "ERROR: An analysis variable is not in data set d."},
        {line(kMsgHostVariableCharacter, "v", "d"), "ERROR: Analysis variable v of data set d is character; it must be numeric."},
        {line(kMsgHostWeightFreqNotNumeric, "d"), "ERROR: The WEIGHT or FREQ variable of data set d must be a numeric variable of the data set."},
        {line(kMsgHostNoUsableObservation, "d"), "ERROR: No observation of data set d has every analysis value with a positive weight and frequency."},
        {line(kMsgHostNoCompleteObservation, "d"), "ERROR: No observation of data set d has a value for every analysis variable."},
        {line(kMsgHostRowsNotUsed, big, big, "d", " r"), "NOTE: 5000000000 of the 5000000000 observations of data set d were not used: r."},
        {line(kMsgHostGroupRowsNotUsed, big, big, "d", "g=2", " r"), "NOTE: 5000000000 of the 5000000000 observations of data set d in the BY group g=2 were not used: r."},
        {line(kMsgHostRowsMissingValue, big), "5000000000 with a missing value of an analysis variable"},
        {line(kMsgHostRowsBadWeight, big), "5000000000 with a WEIGHT value that is missing or not positive"},
        {line(kMsgHostRowsBadFreq, big), "5000000000 with a FREQ value that is missing or below 1"},
        {line(kMsgHostErrorAt, "t", 5, 19), "ERROR: t at line 5, column 19."},
        {line(kMsgHostNeverGivenValue, "q", 5, 19), "ERROR: The variable q of the programming statements is never given a value (first used at line 5, column 19)."},
        {line(kMsgHostStopStatement, 5, 19), "NOTE: A STOP statement ended the programming statements at line 5, column 19."},
        {line(kMsgHostAbortStatement, 5, 19), "ERROR: An ABORT statement ended the programming statements at line 5, column 19."},
        {line(kMsgHostProgramResult, 7), "NOTE: The programming statements ended with result 7."},
        {line(kMsgHostInvalidOperations), "NOTE: Invalid operations in the programming statements gave missing values at these places:"},
        {line(kMsgHostMissingOperations), "NOTE: Operations on missing values in the programming statements gave missing values at these places:"},
        {line(kMsgHostFault), "the programming statements failed"},
        {line(kMsgHostFaultSubscript), "Array subscript missing or out of range"},
        {line(kMsgHostFaultNoWhen), "No WHEN clause of the SELECT group matched"},
        {line(kMsgHostFaultDoControl), "Missing value or zero step in the DO loop control"},
        {line(kMsgHostFaultLinkDepth), "LINK statements nested too deeply"},
        {line(kMsgHostFaultLoopCap, big), "The programming statements ran more than 5000000000 loop iterations in one evaluation"},
        {line(kMsgHostFaultTimeLimit), "The time limit MAXTIME= passed while the programming statements looped"},
        {line(kMsgHostDataSetFileName, "DATA", "hs", "DATA", "hs.csv"), "expected an option (found \".\"): a data set is named without \".csv\" (DATA=hs), or a file by its path in quotes (DATA=\"hs.csv\")"},
        {line(kMsgHostLavaanOperator, "=~"), "a model is written as a LINEQS, RAM, COSAN or FACTOR statement, not with lavaan's operator \"=~\""},
        {line(kMsgHostFreqTruncated, big, "d"), "NOTE: 5000000000 observations of data set d have a FREQ value that is not a whole number; each counts as many times as its whole part."},
        {line(kMsgHostUnnameable, "\"a.b\"", "d", "r"), "NOTE: No statement can name \"a.b\" of data set d: r."},
        {line(kMsgHostLineqsSemicolon), "LINEQS equations are separated by commas: this \";\" ends the LINEQS statement, and the equation after it is read as a programming statement"},
        {line(kMsgHostDottedName, "a.b", "r", "a_b"), "a.b is not a name: r, then write a_b"},
        {line(kMsgHostNameRule, "it"), "a name is a letter or underscore followed by letters, digits and underscores; rename it in the data set (in R: names(d) <- gsub(\"[. ]\", \"_\", names(d)))"},
        {line(kMsgHostOutputReplacesMoments, "OUTEST=", "d", "DATA=", "e", "COV", "p"), "OUTEST= data set d would replace DATA= data set e, the TYPE=COV data the step analyses (p)"},
        {line(kMsgHostSecondNameLeft, "k", "d", "w"), "WARNING: The second name k of the earlier file of output data set d could not be removed (w)."},
        {line(kMsgHostOutputsInPlaceAtStop, "d, e"), "NOTE: The output data sets of the step (d, e) were put in place: the stop came while they were being renamed."},
        {line(kMsgHostMomentRowsAsRaw, "d", "N, COV", big, "\"d\"", "cov"), "Data set d has no TYPE, but its rows are those of a moment data set (_TYPE_ N, COV): read as raw data, its 5000000000 rows would be analysed as observations. To analyse its matrix, write data=\"d\"(type=cov)."},
        {line(kMsgHostUnknownType, "g", "t"), "g, which is not a TYPE: a data set's TYPE is one of t (raw data has none)"},
        {line(kMsgHostUnknownDataSetOption, "o=v", "d", "d"), "Data-set option o=v of d is not known: TYPE= is the one option a data set takes, as in d(type=cov)"},
        {line(kMsgHostCommentLine, big, "f.csv", "# a,b"), "NOTE: Line 5000000000 of f.csv, \"# a,b\", is a comment: only \"# KEY=VALUE\" lines before the names line say something of the data set, and the names are read from the first line without '#'. numpy's savetxt(header=...) writes its names so; give it comments=\"\" to write a names line."},
        {line(kMsgHostOutputEmptyName, "OUTSTAT=", "OUTSTAT=", "OUTSTAT="), "OUTSTAT=\"\" names no file: an output data set is named (OUTSTAT=est) or a file by its path in quotes (OUTSTAT=\"est.csv\")"},
        {line(kMsgHostOutputNamesFolder, "OUTEST=", "f", "./f", "OUTEST=", "./f/est.csv"), "OUTEST=\"f\" names the folder ./f, not a file: an output data set is a file in it (OUTEST=\"./f/est.csv\")"},
        {line(kMsgHostOptionUnknown, "o", "P, Q"), "o is not a host option (the options are P, Q)"},
        {line(kMsgHostOptionValue, "O", 64, 256, "v"), "host option O takes a whole number from 64 to 256, not \"v\""},
        {line(kMsgHostOptionIgnored, "r"), "r; it is ignored."},
        {line(kMsgHostOneFileTwoRoles, "a", "b"), "ERROR: One file is named by a and by b; the run does not start, and no file is written."},
        {line(kMsgHostCommandFileRole, "--log", "p"), "the --log file p"},
        {line(kMsgHostDataSetRole, "DATA=", "d", "p", 2), "DATA= data set d (p) of step 2"},
        {line(kMsgHostProgramFileRole, "p"), "the program file p"},
        {line(kMsgHostDataSetUnclosedName, "DATA=", 3, "c"), "ERROR: The quoted text after DATA= at line 3 is not closed, so the file it names cannot be known and could be c; the run does not start, and no file is written."},
        {line(kMsgHostSkippedStepDataSetRole, "DATA=", "d", "p", "VELX", 4), "DATA= data set d (p) of the PROC VELX step at line 4, which is skipped"},
        {line(kMsgHostStandardStreamRole, "listing", "standard output"), "the listing on standard output"},
        {line(kMsgHostFolderNotLocked, "/w", "r"), "WARNING: The folder /w cannot be locked while the output data sets are put in it (r): another run that writes the same data sets at the same time may mix its files with this step's."},
        {line(kMsgHostWaitingForFolder, "/w"), "NOTE: The output data sets wait for the folder /w, which another run is writing (it holds the folder's lock)."},
    };
    for (const auto& [got, expected] : lines) EXPECT_EQ(got, expected);
    for (size_t i = 0; i < kMessageCatalogueSize; ++i) {
        const auto& row = kMessageCatalogue[i];
        if (row.group != kMsgHost) continue;
        EXPECT_TRUE(tested.count(row.number)) << row.group << "/" << row.number << " untested";
    }
}

using Messages = PlatformStep;

TEST_F(Messages, WkreadGivesTheTextAndItsLength) {
    const char* text = nullptr;
    int32_t length = -1;
    ASSERT_EQ(wkread(352, 539, &text, &length), 0);
    EXPECT_EQ(std::string(text, static_cast<size_t>(length)), velix::platform::message_text(352, 539));
    EXPECT_NE(wkread(352, 999999, &text, &length), 0);
    EXPECT_EQ(length, 0);
}

TEST_F(Messages, NumberedMessagesGoToTheLogAndTheDocument) {
    xpmlog(352, 1, "INWGT=", "INWGT=");
    xpmlog(352, 3, 1.25);
    xpmlog(352, 999999);
    const std::string expected1 = velix::platform::format_host(velix::platform::message_text(352, 1), "INWGT=", "INWGT=");
    EXPECT_NE(log().find(expected1 + "\n"), std::string::npos) << log();
    EXPECT_NE(log().find("1.25"), std::string::npos);
    EXPECT_NE(log().find("999999"), std::string::npos) << "a missing message is still reported";
    const auto doc = document();
    const auto& msgs = doc["steps"][0]["messages"];
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0]["group"].number(), 352);
    EXPECT_EQ(msgs[0]["number"].number(), 1);
    EXPECT_EQ(msgs[0]["severity"].str(), "WARNING");
    EXPECT_EQ(msgs[0]["text"].str(), expected1);
    EXPECT_EQ(msgs[1]["severity"].str(), "NOTE");
    EXPECT_EQ(msgs[2]["number"].number(), 999999);
    EXPECT_EQ(msgs[2]["severity"].str(), "ERROR");
    EXPECT_TRUE(listing().empty()) << "the log's messages stay out of the listing";
}

TEST_F(Messages, BySynchronisationMessageTakesWholeNamesAndLabels) {
    xpmlog(153, 5, "survey_scores", " (Raw data)", "svest", "");
    EXPECT_NE(log().find("WARNING: The BY groups of data set survey_scores (Raw data) do not match those of data set "
                         "svest."),
              std::string::npos)
        << log();
}

TEST_F(Messages, PrintfLinesGoToTheirDestinations) {
    xpslog("%n%nsweep: invalid k: %d%n", 7);
    xpsout("Singular Cholesky decomposition");
    EXPECT_EQ(log(), "\n\nsweep: invalid k: 7\n");
    EXPECT_EQ(listing(), "Singular Cholesky decomposition\n");
}

TEST_F(Messages, FieldsAndBuffersRespectTheirSizes) {
    const std::string title = velix::platform::message_text(352, 539);
    char field[64];
    std::memset(field, '#', sizeof field);
    EXPECT_EQ(xpmstr(field, 40, 352, 539), static_cast<int32_t>(title.size()));
    EXPECT_EQ(std::string(field, 40), title + std::string(40 - title.size(), ' '));
    EXPECT_EQ(field[40], '#') << "nothing past the field";
    EXPECT_EQ(xpmstr(field, 3, 352, 539), 3);
    EXPECT_EQ(std::string(field, 3), title.substr(0, 3));
    EXPECT_EQ(xpmstr(field, -1 - 5, 352, 539), 5);
    EXPECT_EQ(std::string(field), title.substr(0, 5));
    EXPECT_EQ(xpmstr(field, 6, 352, 999999), 4);
    EXPECT_EQ(std::string(field, 6), "????  ");

    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(xpsstr(buf, 8, "%d-%s", 12, "ab"), 5);
    EXPECT_STREQ(buf, "12-ab");
    EXPECT_EQ(xpsstr(buf, 4, "%d", 123456), 4) << "cut at the buffer's length";
    EXPECT_EQ(std::string(buf, 4), "1234");
}

TEST_F(Messages, FailureReportsAndInternalErrors) {
    xprrlog(0, 0);
    EXPECT_TRUE(log().empty()) << "a success is passed through silently";
    xprrlog(0, static_cast<int32_t>(0x80008001u));
    EXPECT_NE(log().find("0x80008001"), std::string::npos);
    EXPECT_EQ(log().rfind("ERROR: ", 0), 0u);
    log_.str("");
    xprrlog(0, -17);
    EXPECT_NE(log().find("-17"), std::string::npos);
    log_.str("");
    xebug("zbysync: invalid listrc", 0);
    EXPECT_EQ(log(), "ERROR: internal error: zbysync: invalid listrc\n");
}

TEST_F(Messages, TextHandlesOfMessages) {
    int32_t n = 0;
    HostText* t = kyrmsg(352, 720);
    EXPECT_EQ(std::string(kyrtext_chars(t, &n)), velix::platform::message_text(352, 720));
    EXPECT_EQ(n, static_cast<int32_t>(std::strlen(velix::platform::message_text(352, 720))));
    HostText* s = kyrmsgs(352, 3, 2.5);
    EXPECT_EQ(std::string(kyrtext_chars(s, nullptr)),
              velix::platform::format_host(velix::platform::message_text(352, 3), 2.5));
    EXPECT_EQ(std::string(kyrtext_chars(kyrmsg(352, 999999), nullptr)), "????");
    EXPECT_EQ(std::string(kyrtext_chars(kyrtxt("abcdef", 3), nullptr)), "abc");
    EXPECT_EQ(std::string(kyrtext_chars(kyrtxts("Tesk.Velix.%s", -1, "Fit"), nullptr)), "Tesk.Velix.Fit");
    EXPECT_EQ(std::string(kyrtext_chars(nullptr, &n)), "");
    EXPECT_EQ(n, 0);
}

}  // namespace
