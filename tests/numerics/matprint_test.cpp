// The listing matrix printer read back as a user reads it: each element is
// found under its column label on the line of its row label, the stored
// triangle of each packed shape is the part printed, wide matrices come in
// column blocks that fit the line, and the value formats round-trip.
#include "numerics/matprint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/probability_text.h"
#include "platform/session.h"
#include "platform/step_exit.h"
#include "tests/support/session_fixture.h"
#include "velix/host.h"

namespace {

// A printed element: the texts at its row and column labels.
struct Cell {
    std::string row, column, text;
    int block = 0;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

bool is_rule(const std::string& line, char rule) {
    const size_t first = line.find_first_not_of(' ');
    return first != std::string::npos && line.find_first_not_of(rule, first) == std::string::npos;
}

// Reads the listing back: a heading is the line above a rule; its labels
// are right-aligned over their fields, so the token that ends at a label's
// last column is that column's element.  Rows follow until a blank line;
// a row's label is its first token.  With `corner`, the heading's first
// token heads the row labels.
std::vector<Cell> read_cells(const std::string& listing, char rule = '-', bool corner = false) {
    std::vector<Cell> cells;
    const std::vector<std::string> lines = lines_of(listing);
    int block = 0;
    for (size_t h = 0; h + 1 < lines.size(); ++h) {
        if (!is_rule(lines[h + 1], rule)) continue;
        const std::string& head = lines[h];
        std::vector<std::pair<std::string, size_t>> labels;  // label, end column
        for (size_t p = 0; (p = head.find_first_not_of(' ', p)) != std::string::npos;) {
            const size_t e = std::min(head.find(' ', p), head.size());
            labels.emplace_back(head.substr(p, e - p), e);
            p = e;
        }
        if (corner && !labels.empty()) labels.erase(labels.begin());
        for (size_t r = h + 2; r < lines.size() && !lines[r].empty(); ++r) {
            const std::string& line = lines[r];
            const size_t p = line.find_first_not_of(' ');
            const std::string row = line.substr(p, line.find(' ', p) - p);
            for (const auto& [column, end] : labels) {
                std::string text;
                if (end <= line.size()) {
                    size_t s = end;
                    while (s > 0 && line[s - 1] != ' ') --s;
                    text = line.substr(s, end - s);
                }
                if (!text.empty()) cells.push_back({row, column, text, block});
            }
        }
        ++block;
    }
    return cells;
}

std::string label(const char* prefix, int k) { return std::string(prefix) + std::to_string(k + 1); }

// Blank-padded fixed-width names prefix1, prefix2, ...
std::string names(const char* prefix, int count, int width) {
    std::string s;
    for (int k = 0; k < count; ++k) {
        std::string n = label(prefix, k);
        n.resize(static_cast<size_t>(width), ' ');
        s += n;
    }
    return s;
}

class MatrixPrinter : public PlatformStep {
protected:
    void SetUp() override {
        PlatformStep::SetUp();
        // The listing keeps its page position across steps: start each test
        // on a fresh page.
        xppage(0);
        listing_.str("");
    }
    // A request with row labels R1.. and column labels C1.. of 8 characters.
    MatrixPrintRequest request(const double* values, int rows, int columns, char shape) {
        rowNames_ = names("R", rows, 8);
        columnNames_ = names("C", columns, 8);
        MatrixPrintRequest r;
        r.values = values;
        r.rows = rows;
        r.columns = columns;
        r.shape = shape;
        r.rowLabels.names = rowNames_.c_str();
        r.columnLabels.names = columnNames_.c_str();
        return r;
    }
    std::string take() {
        std::string s = listing_.str();
        listing_.str("");
        return s;
    }
    std::map<std::pair<std::string, std::string>, std::string> by_position(const std::vector<Cell>& cells) {
        std::map<std::pair<std::string, std::string>, std::string> m;
        for (const Cell& c : cells) {
            const bool fresh = m.emplace(std::make_pair(c.row, c.column), c.text).second;
            EXPECT_TRUE(fresh) << "element " << c.row << "," << c.column << " printed twice";
        }
        return m;
    }

    std::string rowNames_, columnNames_;
};

// Tolerance of a value printed with 4 decimals.
constexpr double kHalfUnit4 = 0.5e-4 + 1e-12;

TEST_F(MatrixPrinter, DenseRowAndColumnMajorStoragePrintEveryElementAtItsLabels) {
    // 3 x 4 by rows with a leading dimension of 5 (the fifth entry unused).
    const int m = 3, n = 4, ld = 5;
    std::vector<double> a(m * ld, 99.0), at(n * m);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j) a[i * ld + j] = at[j * m + i] = (i + 1) * 1.25 - j * 0.3333;
    MatrixPrintRequest r = request(a.data(), m, n, 'r');
    r.leadingDimension = ld;
    EXPECT_EQ(zpmat2(&r), 1);
    const std::string byRows = take();
    const auto cells = by_position(read_cells(byRows));
    ASSERT_EQ(cells.size(), static_cast<size_t>(m * n));
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j) {
            const std::string& t = cells.at({label("R", i), label("C", j)});
            EXPECT_NEAR(std::atof(t.c_str()), a[i * ld + j], kHalfUnit4) << i << "," << j;
        }
    // The transpose stored by columns (leading dimension 0: the rows) prints
    // the same listing.
    MatrixPrintRequest c = request(at.data(), m, n, 'c');
    zpmat2(&c);
    EXPECT_EQ(take(), byRows);
}

TEST_F(MatrixPrinter, PackedShapesPrintTheirStoredTriangle) {
    const int n = 4;
    std::vector<double> packed(n * (n + 1) / 2), full(n * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            const double v = 1.0 + i * 0.5 + j * 0.125;
            packed[i * (i + 1) / 2 + j] = v;
            full[i * n + j] = full[j * n + i] = v;
        }
    for (char shape : {'s', 'l', 't', 'u'}) {
        MatrixPrintRequest r = request(packed.data(), n, n, shape);
        zpmat2(&r);
        const auto cells = by_position(read_cells(take()));
        EXPECT_EQ(cells.size(), static_cast<size_t>(n * (n + 1) / 2)) << shape;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const auto at = cells.find({label("R", i), label("C", j)});
                const bool stored = shape == 'u' ? i <= j : j <= i;
                ASSERT_EQ(at != cells.end(), stored) << shape << " " << i << "," << j;
                // Upper storage: (i, j) at j(j+1)/2 + i, the transpose of the lower.
                if (stored) {
                    EXPECT_NEAR(std::atof(at->second.c_str()), full[i * n + j], kHalfUnit4);
                }
            }
    }
    // All elements: symmetric storage then prints as its dense square.
    MatrixPrintRequest s = request(packed.data(), n, n, 's');
    s.allElements = 1;
    zpmat2(&s);
    const std::string sym = take();
    MatrixPrintRequest d = request(full.data(), n, n, 'r');
    zpmat2(&d);
    EXPECT_EQ(sym, take());
    // ... and a triangle shows its zeros.
    MatrixPrintRequest l = request(packed.data(), n, n, 'l');
    l.allElements = 1;
    zpmat2(&l);
    const auto cells = by_position(read_cells(take()));
    EXPECT_EQ(cells.size(), static_cast<size_t>(n * n));
    EXPECT_EQ(std::atof(cells.at({"R1", "C4"}).c_str()), 0.0);
}

TEST_F(MatrixPrinter, DiagonalShapePrintsOnlyTheDiagonal) {
    const double diag[3] = {2.5, -1.0, 7.75};
    MatrixPrintRequest r = request(diag, 3, 3, 'd');
    zpmat2(&r);
    const auto cells = by_position(read_cells(take()));
    ASSERT_EQ(cells.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(std::atof(cells.at({label("R", i), label("C", i)}).c_str()), diag[i], kHalfUnit4);
}

TEST_F(MatrixPrinter, WideMatricesSplitIntoBalancedBlocksThatFitTheLine) {
    const int m = 3, n = 25;
    std::vector<double> a(m * n);
    for (int k = 0; k < m * n; ++k) a[k] = -50.0 + k * 1.375;
    for (const char* size : {"64", "80", "132"}) {
        velix::platform::session().options["LINESIZE"] = size;
        MatrixPrintRequest r = request(a.data(), m, n, 'r');
        const int blocks = zpmat2(&r);
        const std::string text = take();
        for (const std::string& l : lines_of(text)) EXPECT_LE(l.size(), static_cast<size_t>(std::atoi(size))) << l;
        const std::vector<Cell> cells = read_cells(text);
        const auto all = by_position(cells);
        EXPECT_EQ(all.size(), static_cast<size_t>(m * n));
        // Every column sits in exactly one block; the blocks are equal but
        // for a shorter last one.
        std::map<int, std::set<std::string>> columnsOf;
        std::map<std::string, std::set<int>> blocksOf;
        for (const Cell& c : cells) {
            columnsOf[c.block].insert(c.column);
            blocksOf[c.column].insert(c.block);
        }
        EXPECT_EQ(static_cast<int>(columnsOf.size()), blocks);
        EXPECT_GT(blocks, 1);
        const size_t full = columnsOf.begin()->second.size();
        for (const auto& [b, cols] : columnsOf) {
            if (b + 1 < blocks) {
                EXPECT_EQ(cols.size(), full) << "line size " << size << " block " << b;
            } else {
                EXPECT_LE(cols.size(), full) << "line size " << size;
            }
        }
        for (const auto& [col, bs] : blocksOf) EXPECT_EQ(bs.size(), 1u) << col;
        for (int k = 0; k < m * n; ++k)
            EXPECT_NEAR(std::atof(all.at({label("R", k / n), label("C", k % n)}).c_str()), a[k], kHalfUnit4);
    }
}

TEST_F(MatrixPrinter, MissingZeroAndUnstoredValues) {
    const double miss = host_missing_value();
    const double a[6] = {1.0, miss, 0.0, std::nan(""), 3.0, 4.0};
    MatrixPrintRequest r = request(a, 2, 3, 'r');
    zpmat2(&r);
    auto cells = by_position(read_cells(take()));
    EXPECT_EQ(cells.at({"R1", "C2"}), ".");
    EXPECT_EQ(cells.at({"R2", "C1"}), "NaN");
    EXPECT_EQ(std::atof(cells.at({"R1", "C3"}).c_str()), 0.0);
    // The s flag blanks exact zeros only.
    r.blankZeros = 1;
    zpmat2(&r);
    cells = by_position(read_cells(take()));
    EXPECT_EQ(cells.count({"R1", "C3"}), 0u);
    EXPECT_EQ(cells.size(), 5u);
    // A positive value count: storage beyond it is not read.
    r.blankZeros = 0;
    r.valueCount = 4;
    zpmat2(&r);
    cells = by_position(read_cells(take()));
    EXPECT_EQ(cells.at({"R2", "C2"}), ".");
    EXPECT_EQ(cells.at({"R2", "C3"}), ".");
    EXPECT_NEAR(std::atof(cells.at({"R1", "C1"}).c_str()), 1.0, kHalfUnit4);
}

TEST_F(MatrixPrinter, LabelsAreStrippedTruncatedAndPadded) {
    // Row names of 10 characters read with width 6: "Longname12" shows "Longna".
    const std::string rows = "Ab        Longname12";
    const std::string cols = "X         Y         ";
    const double a[4] = {1, 2, 3, 4};
    zpmat(a, 2, 2, 0, "r", 0, 0, rows.c_str(), 6, 10, cols.c_str(), 10, 10, nullptr, nullptr, nullptr, 0, 0);
    const std::string text = take();
    const auto cells = by_position(read_cells(text));
    EXPECT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells.count({"Longna", "Y"}), 1u);
    EXPECT_EQ(cells.count({"Ab", "X"}), 1u);
    // Both rows start their values at the same column: the label column is
    // as wide as the widest stripped label.
    std::vector<std::string> rowLines;
    for (const std::string& l : lines_of(text))
        if (l.find("Ab") != std::string::npos || l.find("Longna") != std::string::npos) rowLines.push_back(l);
    ASSERT_EQ(rowLines.size(), 2u);
    EXPECT_EQ(rowLines[0].size(), rowLines[1].size());
    EXPECT_EQ(rowLines[0].find("Ab"), rowLines[1].find("Longna"));

    // Column labels wider than the automatic field widen it; beyond 32
    // characters they are cut at the field.
    const std::string wide = std::string("AVeryLongColumnLabelOfFortyCharacters...") + std::string(40, ' ');
    zpmat(a, 2, 2, 0, "r", 0, 0, rows.c_str(), 6, 10, wide.c_str(), 40, 40, nullptr, nullptr, nullptr, 0, 0);
    const auto wideCells = by_position(read_cells(take()));
    EXPECT_EQ(wideCells.count({"Ab", wide.substr(0, 32)}), 1u);

    // Missing labels print as blanks: the values still line up under the rule.
    zpmat(a, 2, 2, 0, "r", 0, 0, nullptr, 0, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0, 0);
    const std::vector<std::string> bare = lines_of(take());
    size_t ruleAt = 0;
    while (ruleAt < bare.size() && !is_rule(bare[ruleAt], '-')) ++ruleAt;
    ASSERT_LT(ruleAt, bare.size());
    EXPECT_EQ(bare[ruleAt - 1].find_first_not_of(' '), std::string::npos);
    EXPECT_NEAR(std::atof(bare[ruleAt + 1].c_str()), 1.0, 1e-12);
}

TEST_F(MatrixPrinter, FormatsRoundTrip) {
    const double a[4] = {1234.5678, -0.000123456, 2.5e-7, 0.049};
    auto printed = [&](const char* options, int width, int decimals) {
        zpmat(a, 1, 4, 0, options, width, decimals, "R1      ", 8, 8, names("C", 4, 8).c_str(), 8, 8, nullptr,
              nullptr, nullptr, 0, 0);
        auto cells = by_position(read_cells(take()));
        std::vector<std::string> t;
        for (int j = 0; j < 4; ++j) t.push_back(cells.at({"R1", label("C", j)}));
        return t;
    };
    // E notation and the general form keep the significant digits that fit.
    for (const char* opt : {"re", "rq", "rb"}) {
        const std::vector<std::string> t = printed(opt, 12, 0);
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(std::atof(t[j].c_str()), a[j], 1e-4 * std::fabs(a[j])) << opt << " " << t[j];
    }
    // Best format: E notation when fixed decimals would lose the small values.
    EXPECT_NE(printed("rb", 12, 0)[2].find('E'), std::string::npos);
    // Fixed with the d flag keeps exactly the given decimals.
    for (const std::string& t : printed("rfd", 12, 2)) EXPECT_EQ(t.size() - t.find('.') - 1, 2u) << t;
    // Whole numbers.
    EXPECT_EQ(printed("rc", 0, 0)[0], "1235");
    // Probabilities as the p-value format gives them.
    char p[6];
    zprbfmt(a[3], p);
    std::string expect(p, 6);
    expect.erase(expect.find_last_not_of(' ') + 1);
    expect.erase(0, expect.find_first_not_of(' '));
    EXPECT_EQ(printed("rp", 0, 0)[3], expect);
}

TEST_F(MatrixPrinter, ValuesTooWideForTheFieldFallBack) {
    char out[33];
    EXPECT_EQ(zpfmt(1.5e20, 'f', 10, 4, out), 1);
    const std::string e(out, 10);
    EXPECT_NE(e.find('E'), std::string::npos);
    EXPECT_NEAR(std::atof(e.c_str()), 1.5e20, 1e-4 * 1.5e20);
    EXPECT_EQ(zpfmt(-1.5e200, 'f', 4, 4, out), 1);
    EXPECT_EQ(std::string(out, 4), "****");
    EXPECT_EQ(zpfmt(-2.25, 'f', 8, 3, out), 0);
    EXPECT_EQ(std::string(out, 8), "  -2.250");
}

TEST_F(MatrixPrinter, SmallLimitIsWhereFixedMatchesTheDigitsOfENotation) {
    // At zpmsmal(w, d) a fixed field with d decimals shows as many
    // significant digits as E notation of width w; a tenth of it, fewer.
    auto significant = [](const std::string& s) {
        const std::string mantissa = s.substr(0, s.find('E'));
        int n = 0;
        for (size_t k = mantissa.find_first_of("123456789"); k < mantissa.size(); ++k)
            n += std::isdigit(static_cast<unsigned char>(mantissa[k])) ? 1 : 0;
        return n;
    };
    for (int w : {10, 12, 16}) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*E", std::min(w - 7, 8), 1.0);
        const int eDigits = significant(buf);
        for (int d = 0; d <= 6; ++d) {
            const double x = zpmsmal(w, d);
            std::snprintf(buf, sizeof buf, "%.*f", d, x);
            EXPECT_EQ(significant(buf), eDigits) << w << " " << d;
            std::snprintf(buf, sizeof buf, "%.*f", d, x / 10);
            EXPECT_LT(significant(buf), eDigits) << w << " " << d;
        }
    }
    EXPECT_EQ(zpmsmal(12, 33), 0.0);
    EXPECT_EQ(zpmsmal(40, -60), 1e31);
    EXPECT_EQ(zpmsmal(8, 32), 1.0 / 1e31);
}

// Callbacks: element i*10 + j, labels "ROW<i+1>", one title line.
double element(const MatrixPrintRequest*, int32_t i, int32_t j) { return i * 10.0 + j; }
void row_name(const MatrixPrintRequest*, int32_t i, int32_t width, char* out) {
    const std::string s = label("ROW", i);
    std::memcpy(out, s.data(), std::min(s.size(), static_cast<size_t>(width)));
}
void title(const MatrixPrintRequest*) { xpsout("%s", "Callback title"); }

TEST_F(MatrixPrinter, CallbacksSupplyValuesLabelsAndTitle) {
    MatrixPrintRequest r;
    r.rows = 3;
    r.columns = 2;
    r.valueFn = element;
    r.rowLabels.labelFn = row_name;
    r.columnLabels.labelFn = row_name;
    r.titleFn = title;
    r.titleLines = 1;
    r.fieldWidth = 12;
    EXPECT_EQ(zpmat2(&r), 1);
    const std::string text = take();
    EXPECT_EQ(text.find("Callback title"), text.rfind("Callback title"));
    const auto cells = by_position(read_cells(text));
    ASSERT_EQ(cells.size(), 6u);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j)
            EXPECT_NEAR(std::atof(cells.at({label("ROW", i), label("ROW", j)}).c_str()), i * 10.0 + j, 1e-12);
}

TEST_F(MatrixPrinter, TitlesHeadingsRulesAndIndent) {
    velix::platform::session().options["LINESIZE"] = "64";
    velix::platform::session().options["FORMCHAR"] = "|=--|+|---+=|-/\\<>*";
    std::vector<double> a(2 * 12, 1.0);
    MatrixPrintRequest r = request(a.data(), 2, 12, 'r');
    r.titleText = "Model Matrix\nSecond title line";
    r.titleSource = "Variables";
    const int blocks = zpmat2(&r);
    const std::string text = take();
    ASSERT_GT(blocks, 1);
    // Each block repeats the centred titles.
    int titles = 0;
    for (const std::string& l : lines_of(text))
        if (l == std::string((64 - 12) / 2, ' ') + "Model Matrix") ++titles;
    EXPECT_EQ(titles, blocks);
    // The rule follows FORMCHAR; the corner heads the row labels.
    const auto cells = by_position(read_cells(text, '=', true));
    EXPECT_EQ(cells.size(), 24u);
    EXPECT_NE(text.find(" Variables"), std::string::npos);

    // u: the plain '-' rule; h: labels centred over their fields; a negative
    // indent starts the lines at column 1.
    MatrixPrintRequest h = request(a.data(), 2, 2, 'r');
    h.plainRule = 1;
    h.centredHeadings = 1;
    h.fieldWidth = 10;
    h.indent = -1;
    zpmat2(&h);
    const std::vector<std::string> lines = lines_of(take());
    size_t rule = 0;
    while (rule < lines.size() && !is_rule(lines[rule], '-')) ++rule;
    ASSERT_LT(rule, lines.size());
    EXPECT_EQ(lines[rule][0], '-');
    // Row labels 2 wide, gap 2, field 10: "C1" centred starts 4 into its field.
    EXPECT_EQ(lines[rule - 1].find("C1"), 2u + 2u + 4u);
    EXPECT_EQ(lines[rule + 1].find("R1"), 0u);
}

TEST_F(MatrixPrinter, ABlockThatDoesNotFitTheRestOfThePageStartsANewOne) {
    velix::platform::session().options["PAGESIZE"] = "20";
    std::vector<double> a(10 * 2, 1.0);
    MatrixPrintRequest r = request(a.data(), 10, 2, 'r');
    zpmat2(&r);  // 2 blank lines, heading and rule, 10 rows: 14 lines
    zpmat2(&r);  // 14 more do not fit the 6 left
    const std::vector<std::string> lines = lines_of(take());
    ASSERT_EQ(lines.size(), 14u + 1u + 14u);
    EXPECT_TRUE(lines[14].empty() && lines[15].empty() && lines[16].empty());
    EXPECT_EQ(xpoutl(nullptr, nullptr)->linesLeft, 20 - 14);
}

TEST_F(MatrixPrinter, EmptyMatricesPrintNothingAndAnUnknownShapeEndsTheStep) {
    const double a[1] = {1.0};
    EXPECT_EQ(zpmat(a, 0, 3, 0, "r", 0, 0, nullptr, 0, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(zpmat(a, 3, 0, 0, "s", 0, 0, nullptr, 0, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0, 0), 0);
    EXPECT_TRUE(take().empty());
    int32_t code = 0;
    try {
        zpmat(a, 1, 1, 0, "xf", 0, 0, nullptr, 0, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0, 0);
    } catch (const velix::platform::StepExit& e) {
        code = e.code;
    }
    EXPECT_EQ(code, 9999);
    EXPECT_NE(log_.str().find("zpmval: invalid shape=x"), std::string::npos);
    EXPECT_TRUE(take().empty());
}

}  // namespace
