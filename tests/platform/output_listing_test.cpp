// The listing as a reader meets it, from hand-made items compared with lines
// written out by hand: a title once, equation templates as equations with
// standard errors and t values under their coefficients, matrix pieces under
// their names, wide tables and equations continued below.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/output_document.h"
#include "tests/support/session_fixture.h"
#include "velix/host.h"

namespace {

using velix::platform::OutColumn;
using velix::platform::OutItem;
using velix::platform::OutValue;

OutValue num(double v) { return OutValue::make_double(v); }
OutValue txt(const std::string& s) { return OutValue::make_text(s); }

constexpr int32_t kText = 66, kDouble = 5, kInteger = 4;

OutColumn column(const std::string& name, int32_t kind, const char* columnTemplate = "") {
    OutColumn c;
    c.name = name;
    c.kind = kind;
    c.columnTemplate = columnTemplate;
    return c;
}

OutItem table(std::vector<OutColumn> columns, std::vector<std::vector<OutValue>> rows) {
    OutItem t;
    t.type = OutItem::Type::Table;
    t.columns = std::move(columns);
    t.rows = std::move(rows);
    return t;
}

class Listing : public PlatformStep {
protected:
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(listing());
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
    // Index of the first line whose words, joined by one blank, are `text`.
    size_t line_of(const std::string& text) const {
        const auto ls = lines();
        for (size_t i = 0; i < ls.size(); ++i) {
            std::istringstream in(ls[i]);
            std::string w, joined;
            while (in >> w) joined += (joined.empty() ? "" : " ") + w;
            if (joined == text) return i;
        }
        return ls.size();
    }
};

TEST_F(Listing, ATitleTextThatRepeatsTheTitleIsPrintedOnce) {
    OutItem t = table({column("Variable", kText)}, {{txt("F1")}});
    t.title = txt("Variances");
    t.dynamic = {{"titletext", txt("Variances")}, {"TitleText1", txt("Second line")}};
    velix::platform::render_listing(t);
    EXPECT_EQ(line_of("Second line"), line_of("Variances") + 1) << listing();
}

// A fixed loading (one row) and a free one with its standard error and t
// value rows, as the equation printer lays them out; "_" cells carry no value.
TEST_F(Listing, EquationTemplatesPrintAsEquations) {
    std::vector<OutColumn> cs = {column("Control", kText), column("Variable", kText), column("Equals", kText)};
    for (const char* c : {"Coefficient1", "Asterisk1", "Parameter1", "Sign2", "Coefficient2", "Asterisk2", "Parameter2"})
        cs.push_back(column(c, c[0] == 'C' ? kDouble : kText));
    const OutValue none = num(host_special_missing(1)), e = txt("");
    velix::platform::render_listing(table(
        cs, {{txt("b"), txt("x1"), txt("="), num(1), e, txt("Fvis"), txt("+"), num(1), e, txt("E1")},
             {txt("b"), txt("x2"), txt("="), num(0.5535), txt("*"), txt("Fvis"), txt("+"), num(1), e, txt("E2")},
             {e, txt("Std Err"), e, num(0.0998), e, txt("l2"), e, none, e, e},
             {e, txt("t Value"), e, num(5.5444), e, e, e, none, e, e}}));
    const std::string l = listing();
    const auto ls = lines();
    const size_t first = line_of("x1 = 1.0000 Fvis + 1.0000 E1"), second = line_of("x2 = 0.5535*Fvis + 1.0000 E2");
    ASSERT_LT(second, ls.size()) << l;
    EXPECT_EQ(line_of("Std Err 0.0998 l2"), second + 1) << l;
    EXPECT_EQ(line_of("t Value 5.5444"), second + 2) << l;
    EXPECT_EQ(first + 2, second) << "a blank line parts equations of several rows\n" << l;
    EXPECT_EQ(ls[second + 1].find("0.0998"), ls[second].find("0.5535")) << l;
    EXPECT_EQ(ls[second + 2].find("5.5444"), ls[second].find("0.5535")) << l;
    EXPECT_EQ(ls[second + 1].find("l2"), ls[second].find("Fvis")) << l;
    EXPECT_EQ(ls[first].find("Fvis"), ls[second].find("Fvis")) << l;
    for (const char* header : {"Control", "Asterisk", "Coefficient", "_"}) EXPECT_EQ(l.find(header), std::string::npos) << l;
}

// Term columns numbered C1_1, C2_1, ... that carry their template column's
// name; the number and residual keep a header, the terms do not.
TEST_F(Listing, ConstraintTermGroupsPrintAsAnEquation) {
    std::vector<OutColumn> cs = {column("Number", kInteger), column("Residual", kDouble), column("Colon", kText),
                                 column("Left", kDouble), column("Relation", kText)};
    for (const char* t : {"1", "2"}) {
        int k = 0;
        for (const char* c : {"Sign", "Coefficient", "Asterisk", "Parameter"})
            cs.push_back(column("C" + std::to_string(++k) + "_" + t, c[0] == 'C' ? kDouble : kText, c));
    }
    velix::platform::render_listing(table(cs, {{OutValue::make_int(1), num(0.5), txt(":"), num(0.0), txt(" >= "),
                                                txt(" - "), num(2.0), txt("*"), txt("l2"), txt(" + "), num(1.0),
                                                txt("*"), txt("l3")}}));
    EXPECT_EQ(line_of("Number Residual") + 2, line_of("1 0.5000 : 0 >= - 2*l2 + 1*l3")) << listing();
    EXPECT_EQ(listing().find("C1_1"), std::string::npos) << listing();
}

// On a line of 64 characters an equation of twelve terms continues below,
// each continuation starting with its sign under the first term.
TEST_F(Listing, AWideEquationContinuesUnderItsFirstTerm) {
    velix::platform::session().options["LINESIZE"] = "64";
    std::vector<OutColumn> cs = {column("Control", kText), column("Variable", kText), column("Equals", kText)};
    std::vector<OutValue> row = {txt("b"), txt("y"), txt("=")};
    for (int k = 1; k <= 12; ++k) {
        const std::string n = std::to_string(k);
        for (const char* c : {"Sign", "Coefficient", "Asterisk", "Parameter"})
            if (k > 1 || c[0] != 'S') cs.push_back(column(c + n, c[0] == 'C' ? kDouble : kText));
        if (k > 1) row.push_back(txt("+"));
        for (const OutValue& v : {num(0.25 * k), txt("*"), txt("x" + n)}) row.push_back(v);
    }
    velix::platform::render_listing(table(cs, {row}));
    const std::string l = listing();
    const auto ls = lines();
    const size_t opening = line_of("y = 0.2500*x1 + 0.5000*x2 + 0.7500*x3 + 1.0000*x4");
    ASSERT_LT(opening, ls.size()) << l;
    const size_t first = ls[opening].find("0.2500");
    size_t continued = 0, terms = 0;
    for (const auto& line : ls) {
        EXPECT_LE(line.size(), 64u) << line;
        terms += static_cast<size_t>(std::count(line.begin(), line.end(), '*'));
        if (line.find_first_not_of(' ') == std::string::npos || line[line.find_first_not_of(' ')] != '+') continue;
        ++continued;
        EXPECT_EQ(line.find('+'), first) << l;
    }
    EXPECT_EQ(terms, 12u) << l;
    EXPECT_GE(continued, 2u) << l;
}

// Twelve value columns on a line of 64 characters: blocks below, each led
// by the number and the name of the row, every column once and in order.
TEST_F(Listing, AWideTableContinuesWithItsRowLabels) {
    velix::platform::session().options["LINESIZE"] = "64";
    std::vector<OutColumn> cs = {column("Number", kInteger), column("Parameter", kText)};
    std::vector<OutValue> row = {OutValue::make_int(1), txt("alpha")};
    std::string expected;
    for (int k = 1; k <= 12; ++k) {
        cs.push_back(column("Value" + std::to_string(k), kDouble));
        row.push_back(num(k + 1000.5));
        expected += " Value" + std::to_string(k);
    }
    velix::platform::render_listing(table(cs, {row}));
    std::string headers;
    size_t labelled = 0;
    for (const auto& line : lines()) {
        EXPECT_LE(line.size(), 64u) << line;
        labelled += line.find("1  alpha") != std::string::npos;
        if (const size_t at = line.find("Number  Parameter"); at != std::string::npos) headers += line.substr(at + 17);
    }
    std::istringstream in(headers);
    std::string w, found;
    while (in >> w) found += " " + w;
    EXPECT_EQ(found, expected) << listing();
    EXPECT_GE(labelled, 2u) << listing();
}

// The pieces of a modification-index matrix under what they hold, in order.
TEST_F(Listing, MatrixPiecesPrintUnderTheirNames) {
    OutItem m;
    m.type = OutItem::Type::Matrix;
    m.name = "ModIndices";
    m.nRows = m.nColumns = 1;
    m.pieces = {{"", {num(3.5)}}, {"P", {num(0.06)}}, {"C", {num(-0.2)}}, {"N", {txt("Sing")}}};
    velix::platform::render_listing(m);
    size_t previous = 0;
    for (const char* name : {"Lagrange Multiplier or Wald Statistic", "Probability", "Expected Change",
                             "Free Parameters [name] and Singular Cells (Sing)"}) {
        EXPECT_LT(previous, line_of(name)) << name << "\n" << listing();
        previous = line_of(name);
    }
    EXPECT_LT(previous, lines().size()) << listing();
}

}  // namespace
