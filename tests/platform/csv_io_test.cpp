// The CSV form of data sets: attributes, type inference, missing values,
// quoting, malformed files, and write-then-read identity.
#include "platform/dataset.h"

#include "platform/stop_signals.h"
#include "tests/fuzz/csv_round_trip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using velix::platform::csv_read;
using velix::platform::csv_write;
using velix::platform::DataSetVariable;
using velix::platform::missing_code;

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

std::string textError_of(const std::string& text) {
    HostDataSet d;
    std::string error;
    return csv_read(text, &d, &error) ? "" : error;
}

const DataSetVariable& var(const HostDataSet& d, const char* name) {
    for (const DataSetVariable& v : d.variables)
        if (v.name == name) return v;
    ADD_FAILURE() << "no variable " << name;
    return d.variables.front();
}

TEST(CsvRead, AttributesAndInferredCharacterVariables) {
    HostDataSet d;
    std::string error;
    ASSERT_TRUE(csv_read("# TYPE=cov\n# LABEL=Ability tests, six\n# a plain comment\n"
                         "_TYPE_,_NAME_,x,y,note\n"
                         "N,,112,112,ok\n"
                         "COV,x,24.641,5.991,2\n",
                         &d, &error))
        << error;
    EXPECT_EQ(d.type, "COV");
    EXPECT_EQ(d.label, "Ability tests, six");
    EXPECT_EQ(d.nObs, 2);
    ASSERT_EQ(d.variables.size(), 5u);
    EXPECT_TRUE(var(d, "_TYPE_").character);
    EXPECT_EQ(var(d, "_TYPE_").length, 8);
    EXPECT_TRUE(var(d, "_NAME_").character);
    EXPECT_EQ(var(d, "_NAME_").length, 32);
    EXPECT_EQ(var(d, "_NAME_").texts[0], "");
    EXPECT_FALSE(var(d, "x").character);
    EXPECT_EQ(var(d, "x").numbers[1], 24.641);
    // A column with one value that is not a number is character.
    EXPECT_TRUE(var(d, "note").character);
    EXPECT_EQ(var(d, "note").texts[1], "2");
}

TEST(CsvRead, MissingAndSpecialMissingValues) {
    HostDataSet d;
    std::string error;
    ASSERT_TRUE(csv_read("a,b\n,.\n._,.A\n.z, 3.5 \n", &d, &error)) << error;
    const DataSetVariable& a = var(d, "a");
    const DataSetVariable& b = var(d, "b");
    EXPECT_FALSE(a.character);
    for (double x : {a.numbers[0], b.numbers[0], a.numbers[1], b.numbers[1], a.numbers[2]})
        EXPECT_EQ(bits(x) >> 48, 0xFFFFu) << "a missing value has its top 16 bits set";
    EXPECT_EQ(bits(a.numbers[0]), bits(host_missing_value()));
    EXPECT_EQ(missing_code(b.numbers[0]), 0);
    EXPECT_EQ(missing_code(a.numbers[1]), 1);
    EXPECT_EQ(missing_code(b.numbers[1]), 2);
    EXPECT_EQ(missing_code(a.numbers[2]), 27);
    EXPECT_EQ(missing_code(b.numbers[2]), -1);
    EXPECT_EQ(b.numbers[2], 3.5);
    EXPECT_FALSE(host_is_missing(0.0));
    // An ordinary quiet NaN is not one of the host's missing values.
    EXPECT_FALSE(host_is_missing(std::numeric_limits<double>::quiet_NaN()));
}

// R's non-finite values: NaN is a missing value, as NA is, and the column
// stays numeric; Inf, -Inf and a number beyond the range of doubles make it
// character with a cause that says so, and it is numbers but for them
// until a word comes.  Whether a column that turned holds numbers counts
// those before the value that turned it and those after.  Each form
// writes what reads back the same.
TEST(CsvRead, NonFiniteValuesAndWhatTurnedAColumn) {
    const std::string text = "a,b,c,d,e,f,g\n1,Inf,n/a,NaN,x,NA,5\n2,3,4,-1e309,y,n/a,n/a\nNaN,-inf,5,6,7,,NA\n";
    HostDataSet d;
    std::string error;
    ASSERT_TRUE(csv_read(text, &d, &error)) << error;
    EXPECT_FALSE(var(d, "a").character);
    EXPECT_EQ(bits(var(d, "a").numbers[2]), bits(host_missing_value()));
    EXPECT_EQ(var(d, "b").madeCharacter, "line 2 holds Inf, not a finite number");
    EXPECT_EQ(var(d, "d").madeCharacter, "line 3 holds -1e309, not a finite number");
    EXPECT_EQ(var(d, "c").madeCharacter, "line 2 holds n/a");
    const struct {
        const char* name;
        bool notFinite, holdsNumbers;
    } expected[] = {{"b", true, true}, {"c", false, true}, {"d", true, true}, {"e", false, true}, {"f", false, false},
                   {"g", false, true}};
    for (const auto& e : expected) {
        EXPECT_TRUE(var(d, e.name).character) << e.name;
        EXPECT_EQ(var(d, e.name).notFinite, e.notFinite) << e.name;
        EXPECT_EQ(var(d, e.name).holdsNumbers, e.holdsNumbers) << e.name;
    }
    // A word after the infinity: the column is words, not numbers.
    HostDataSet later;
    ASSERT_TRUE(csv_read("a\n1\nInf\nn/a\n", &later, &error)) << error;
    EXPECT_FALSE(var(later, "a").notFinite);
    EXPECT_EQ(textError_of("# CHAR=\na\n1\n-Inf\n"), "line 4: value '-Inf' of numeric variable a is not a finite number");
    EXPECT_EQ(velix::test::csv_round_trip_fault(text), "");
}

TEST(CsvRead, CharLineFixesTypesAndLengths) {
    HostDataSet d;
    std::string error;
    ASSERT_TRUE(csv_read("# CHAR=_TYPE_:8,id:3\n_TYPE_,id,x\nMEAN,007,1\n", &d, &error)) << error;
    EXPECT_TRUE(var(d, "id").character);
    EXPECT_EQ(var(d, "id").length, 3);
    EXPECT_EQ(var(d, "id").texts[0], "007");  // digits, but declared character
    EXPECT_FALSE(var(d, "x").character);

    HostDataSet bad;
    EXPECT_FALSE(csv_read("# CHAR=id:2\nid,x\nabc,1\n", &bad, &error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    EXPECT_FALSE(csv_read("# CHAR=id:2\nid,x\nab,one\n", &bad, &error));
    EXPECT_NE(error.find("not a number"), std::string::npos) << error;
    EXPECT_FALSE(csv_read("# CHAR=zz:2\nid,x\nab,1\n", &bad, &error));
    EXPECT_FALSE(csv_read("# CHAR=id:0\nid,x\nab,1\n", &bad, &error));
}

TEST(CsvRead, MalformedFilesNameTheLine) {
    HostDataSet d;
    std::string error;
    EXPECT_FALSE(csv_read("a,b\n1,2\n3\n", &d, &error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    // Too many values, or a comma after the last, in a record of plain numbers.
    for (const char* text : {"a,b\n1,2\n3,4,5\n", "a,b\n1,2\n3,4,\n"}) {
        EXPECT_FALSE(csv_read(text, &d, &error));
        EXPECT_EQ(error, "line 3: 3 values for 2 variables") << text;
    }
    EXPECT_FALSE(csv_read("a,A\n1,2\n", &d, &error));
    EXPECT_FALSE(csv_read("a,\n1,2\n", &d, &error));
    EXPECT_FALSE(csv_read("# TYPE=COV\n", &d, &error));
    EXPECT_FALSE(csv_read("a,b\n\"1,2\n", &d, &error));
    EXPECT_EQ(error, "line 2: a quote is not closed");
    EXPECT_EQ(textError_of("a,b\n\"1\"2,3\n"), "line 2: something other than a comma follows a closing quote");
    // Quoted names with blanks around another separator, as R's
    // write.table(sep = " ; ") writes them, name it.
    EXPECT_NE(textError_of("\"x1\" ; \"x2\"\n1;2\n").find("separated by a semicolon"), std::string::npos);
}

// A line end inside the quotes of a value is part of it (an LF): its
// record goes on in the next line, the lines after it keep their numbers
// (x turns character at line 7, and its texts before come from a second
// reading over the records of several lines), the written form reads back
// the same, and a scan that holds nothing reads the records again as they
// were.
TEST(CsvRead, ALineEndInsideQuotesIsPartOfTheValue) {
    const std::string text = "id,x\n\"one\ntwo\",1\n\"a,\r\nb\rc\",2\nplain,n/a\n";
    HostDataSet d;
    std::string error;
    ASSERT_TRUE(csv_read(text, &d, &error)) << error;
    ASSERT_EQ(d.nObs, 3);
    EXPECT_EQ(var(d, "id").texts, (std::vector<std::string>{"one\ntwo", "a,\nb\nc", "plain"}));
    EXPECT_EQ(var(d, "x").texts, (std::vector<std::string>{"1", "2", "n/a"}));
    EXPECT_EQ(var(d, "x").madeCharacter, "line 7 holds n/a");
    EXPECT_EQ(velix::test::csv_round_trip_fault(text), "");
    EXPECT_EQ(textError_of("id,x\n\"one\ntwo\",1\n3\n"), "line 4: 1 values for 2 variables");
    EXPECT_EQ(textError_of("id,x\n1,2\n\"one\ntwo,1\n"), "line 3: a quote is not closed");
    // A CR of a text is written as the LF the reader gives back.
    const_cast<DataSetVariable&>(var(d, "id")).texts[2] = "p\rq\r\n";
    HostDataSet e;
    ASSERT_TRUE(csv_read(csv_write(&d), &e, &error)) << error;
    EXPECT_EQ(var(e, "id").texts[2], "p\nq\n");
}

// R's write.csv writes its row names under an empty first name: that
// column holds row labels, a character variable whatever its values.  A
// file with a CHAR line, or a later column, without a name is refused.
TEST(CsvRead, AnUnnamedFirstColumnHoldsRowLabels) {
    for (const char* text : {"\"\",\"x\"\n\"1\",3\n\"2\",4\n", ",x\n1,3\n2,4\n"}) {
        HostDataSet d;
        std::string error;
        ASSERT_TRUE(csv_read(text, &d, &error)) << error;
        EXPECT_TRUE(d.rowLabels);
        ASSERT_EQ(d.variables.size(), 2u);
        EXPECT_EQ(d.variables[0].name, velix::platform::kRowLabelsName);
        EXPECT_TRUE(d.variables[0].character);
        EXPECT_EQ(d.variables[0].texts, (std::vector<std::string>{"1", "2"}));
        EXPECT_EQ(var(d, "x").numbers[1], 4.0);
        EXPECT_EQ(velix::test::csv_round_trip_fault(text), "");
    }
    // pandas' to_csv leaves the unnamed level of a row index without a
    // name after its named levels (df.groupby("g").cov()): the row labels.
    HostDataSet grouped;
    std::string error;
    ASSERT_TRUE(csv_read("g,,x\n1,x,3\n", &grouped, &error)) << error;
    ASSERT_EQ(grouped.variables.size(), 3u);
    EXPECT_TRUE(grouped.rowLabels && grouped.rowLabelColumn == 1);
    EXPECT_EQ(grouped.variables[1].name, velix::platform::kRowLabelsName);
    EXPECT_TRUE(grouped.variables[1].character && !grouped.variables[0].character);
    // A last name, a second or one a CHAR line rules out names no labels.
    EXPECT_EQ(textError_of("x,\n1,2\n"), "line 1: a variable has no name");
    EXPECT_EQ(textError_of(",,x\n1,2,3\n"), "line 1: a variable has no name");
    EXPECT_EQ(textError_of("# CHAR=x:1\n,x\n1,2\n"), "line 2: a variable has no name");
}



// Every number reads as the C library's strtod reads it: random decimals
// of 1 to 20 digits with 0 to 24 of them after the point, signs, leading
// zeros, a bare point at either end, exponents, four to a line, from a
// text and from a file (whose reader takes the short ones a word at a
// time); and a column of shapes that are no number ("-", "1.2.3", "1-2",
// "--1") is character.
TEST(CsvRead, NumbersReadAsStrtodReadsThem) {
    std::mt19937 gen(4401);
    std::uniform_int_distribution<int> digit(0, 9), length(1, 20), shortLength(1, 8), point(0, 24), coin(0, 3);
    const char* const notNumbers[] = {"-", "1.2.3", "1-2", "--1", ".-", "1..", "0x"};
    std::vector<std::string> texts;
    std::string text = "a,b,c,d,e\n";
    for (int line = 0; line < 5000; ++line) {
        for (int k = 0; k < 4; ++k) {
            std::string t = coin(gen) == 0 ? "-" : "";
            const int n = coin(gen) == 0 ? length(gen) : shortLength(gen), p = std::min(point(gen) % (n + 1), n);
            for (int i = 0; i < n; ++i) {
                if (i == n - p) t += '.';
                t += static_cast<char>('0' + digit(gen));
            }
            if (p == 0 && coin(gen) == 0) t += '.';
            if (coin(gen) == 0 && n > 8) t += "e" + std::to_string(digit(gen) - 5);
            texts.push_back(t);
            text += t + ",";
        }
        text += std::string(line % 100 == 7 ? notNumbers[line / 100 % 7] : "1.5") + "\n";
    }
    std::FILE* f = std::tmpfile();
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    std::rewind(f);
    HostDataSet fromText, fromFile;
    std::string error;
    ASSERT_TRUE(csv_read(text, &fromText, &error)) << error;
    ASSERT_TRUE(velix::platform::csv_scan(velix::platform::file_lines(f), std::numeric_limits<size_t>::max(), nullptr,
                                          &fromFile, &error))
        << error;
    for (const HostDataSet* d : {&fromText, &fromFile}) {
        EXPECT_TRUE(var(*d, "e").character);
        for (size_t k = 0; k < texts.size(); ++k) {
            const DataSetVariable& x = d->variables[k % 4];
            ASSERT_FALSE(x.character);
            ASSERT_EQ(bits(x.numbers[k / 4]), bits(std::strtod(texts[k].c_str(), nullptr))) << texts[k];
        }
    }
}

TEST(CsvRead, QuotedFieldsAndCrLf) {
    HostDataSet d;
    std::string error;
    ASSERT_TRUE(csv_read("name,x\r\n\"Smith, J.\",1\r\n\"say \"\"hi\"\"\",2\r\n\r\n", &d, &error))
        << error;
    EXPECT_EQ(d.nObs, 2);
    EXPECT_EQ(var(d, "name").texts[0], "Smith, J.");
    EXPECT_EQ(var(d, "name").texts[1], "say \"hi\"");
    EXPECT_EQ(var(d, "x").numbers[1], 2.0);
}

// Files as other programs write them read as their plain form: a
// byte-order mark before a quoted first name, CRLF and lone CR line ends,
// R's NA for a missing number.  NA among words is a word; a column of NA
// and empty values alone is numeric.
TEST(CsvRead, FilesOfOtherProgramsReadAsTheirPlainForm) {
    const auto written = [](const std::string& text) {
        HostDataSet d;
        std::string error;
        EXPECT_TRUE(csv_read(text, &d, &error)) << error;
        EXPECT_EQ(velix::test::csv_round_trip_fault(text), "");
        return csv_write(&d);
    };
    const std::string plain = written("x,y,w\n1,.,a\n2,3,NA\n");
    for (const char* other : {"\xEF\xBB\xBF\"x\",y,w\n1,.,a\n2,3,NA\n", "x,y,w\r\n1,.,a\r\n2,3,NA\r\n",
                              "x,y,w\r1,.,a\r2,3,NA\r", "x,y,w\n1,NA,a\n2,3,NA\n"})
        EXPECT_EQ(written(other), plain) << other;
    HostDataSet d;
    std::string error;
    ASSERT_TRUE(csv_read("z,w\nNA,NA\n,b\n", &d, &error)) << error;
    ASSERT_FALSE(var(d, "z").character);
    EXPECT_TRUE(host_is_missing(var(d, "z").numbers[0]));
    EXPECT_EQ(var(d, "w").texts, (std::vector<std::string>{"NA", "b"}));
}

// A line end across the first two pieces of a file is one line end: the
// lines after it keep their numbers.
TEST(CsvRead, ALineEndAcrossPiecesIsOne) {
    constexpr size_t kPiece = size_t{1} << 17;  // the bytes the file reader reads at a time
    for (const std::string end : {"\r\n", "\r"}) {
        // The first line's CR is the last byte of the first piece.
        const std::string text = "# " + std::string(kPiece - 3, 'p') + end + "x,y" + end + "1,2" + end + "3" + end;
        std::FILE* f = std::tmpfile();
        ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
        std::rewind(f);
        HostDataSet d;
        std::string error;
        EXPECT_FALSE(velix::platform::csv_scan(velix::platform::file_lines(f), 0, nullptr, &d, &error));
        EXPECT_EQ(error, "line 4: 1 values for 2 variables") << (end == "\r" ? "CR" : "CRLF");
    }
}

// The file is read a piece at a time: records across the pieces, a line
// longer than a piece, a column that turns character only near the end
// (its earlier texts come from a second reading) and a value error the
// CHAR line finds late all come out as from the same text in memory; and
// a scan of the file that holds no values reads the same records again
// from it.
TEST(CsvRead, AFileReadInPiecesGivesWhatItsTextGives) {
    std::string text = "a,b,c\n";
    for (int i = 0; i < 120000; ++i)
        text += std::to_string(i) + "," + std::to_string(i % 7) + "." + std::to_string(i % 10) + ",  " +
                std::to_string(i) + " \n";
    text += "1,x,2\n1," + std::string(3 << 20, 'y') + ",2\n";
    const std::string bad = "# CHAR=c:2\n" + text;
    for (const std::string& t : {text, bad}) {
        const auto file = [&t] {
            std::FILE* f = std::tmpfile();
            EXPECT_EQ(std::fwrite(t.data(), 1, t.size(), f), t.size());
            std::rewind(f);
            return velix::platform::file_lines(f);
        };
        HostDataSet fromFile, fromText, streamed;
        std::string fileError, textError, streamedError;
        const bool fileRead = velix::platform::csv_scan(file(), std::numeric_limits<size_t>::max(), nullptr, &fromFile, &fileError);
        ASSERT_EQ(fileRead, csv_read(t, &fromText, &textError));
        EXPECT_EQ(fileError, textError);
        ASSERT_EQ(velix::platform::csv_scan(file(), 0, nullptr, &streamed, &streamedError), fileRead);
        EXPECT_EQ(streamedError, fileError);
        if (!fileRead) continue;
        EXPECT_EQ(velix::test::csv_reread_fault(fromFile, &streamed), "");
        ASSERT_EQ(fromFile.nObs, 120002);
        ASSERT_EQ(csv_write(&fromFile), csv_write(&fromText));
        EXPECT_TRUE(var(fromFile, "b").character);
        EXPECT_EQ(var(fromFile, "b").texts[12], "5.2");
        EXPECT_EQ(var(fromFile, "b").texts.back().size(), size_t{3} << 20);
        EXPECT_EQ(var(fromFile, "c").numbers[5], 5.0);
    }
    // The first value error by variable, then by line: b's before c's.
    EXPECT_EQ(textError_of(bad), "line 120003: value 'x' of numeric variable b is not a number");
}

TEST(CsvWrite, WriteThenReadGivesTheSameDataSet) {
    HostDataSet d;
    std::string error;
    const double awkward = 0.1 + 0.2;  // needs 17 digits to read back exactly
    ASSERT_TRUE(csv_read("# TYPE=CORR\n# LABEL=Round trip\n# CHAR=_TYPE_:8,_NAME_:32,who:12\n"
                         "_TYPE_,_NAME_,who,x,y\n"
                         "MEAN,,\"Doe, Jane\",1e-300,._\n"
                         "CORR,x,plain,.B,-0\n",
                         &d, &error))
        << error;
    const_cast<DataSetVariable&>(var(d, "y")).numbers[1] = awkward;
    const std::string text = csv_write(&d);
    HostDataSet e;
    ASSERT_TRUE(csv_read(text, &e, &error)) << error << "\n" << text;
    EXPECT_EQ(e.type, d.type);
    EXPECT_EQ(e.label, d.label);
    ASSERT_EQ(e.variables.size(), d.variables.size());
    ASSERT_EQ(e.nObs, d.nObs);
    for (size_t k = 0; k < d.variables.size(); ++k) {
        const DataSetVariable& a = d.variables[k];
        const DataSetVariable& b = e.variables[k];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.character, b.character) << a.name;
        EXPECT_EQ(a.length, b.length) << a.name;
        for (int64_t i = 0; i < d.nObs; ++i) {
            if (a.character)
                EXPECT_EQ(a.texts[i], b.texts[i]);
            else
                EXPECT_EQ(bits(a.numbers[i]), bits(b.numbers[i])) << a.name << " row " << i;
        }
    }    // A line break in a text is written as a blank, the CR of old Mac
    // files as the LF: the reader ends a line at either.
    d.label = "two\rlines";
    ASSERT_TRUE(csv_read(csv_write(&d), &e, &error)) << error;
    EXPECT_EQ(e.label, "two lines");
}

// The scan of a large file is a safe point for a stop every few thousand
// observations: after a SIGTERM (in a child process: the stop cannot be
// taken back) it ends without reading the rest, where it read the whole
// file first.
TEST(CsvRead, AStopEndsTheScan) {
    std::string text = "x,y\n";
    for (int row = 0; row < 20000; ++row) text += std::to_string(row) + ",1.5\n";
    EXPECT_EXIT(
        {
            velix::platform::install_stop_handlers();
            std::raise(SIGTERM);
            HostDataSet d;
            std::string error;
            std::_Exit(csv_read(text, &d, &error) ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "")
        << "the scan read all 20,000 observations after the stop";
}

}  // namespace
