// The listing as a reader meets it: a title printed once, equation templates
// printed as equations with their standard errors and t values under their
// coefficients, matrix pieces under their names, and wide tables continued
// below with their row labels.  Each case renders hand-made items and
// compares with lines written out by hand.
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
OutValue txt(const char* s) { return OutValue::make_text(s); }
OutValue no_value() { return OutValue::make_double(host_special_missing(1)); }  // the "_" cell

OutColumn column(const char* name, int32_t kind, const char* columnTemplate = "") {
    OutColumn c;
    c.name = name;
    c.kind = kind;
    c.columnTemplate = columnTemplate;
    return c;
}

constexpr int32_t kText = 66, kDouble = 5, kInteger = 4, kChar = 20;

class Listing : public PlatformStep {
protected:
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(listing());
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
    // The listing's lines with runs of blanks made one and the ends cut.
    std::vector<std::string> words() const {
        std::vector<std::string> out;
        for (const auto& l : lines()) {
            std::istringstream in(l);
            std::string w, joined;
            while (in >> w) joined += (joined.empty() ? "" : " ") + w;
            out.push_back(joined);
        }
        return out;
    }
    // Index of the first line whose words are `text`; lines().size() when none.
    size_t line_of(const std::string& text) const {
        const auto w = words();
        return static_cast<size_t>(std::find(w.begin(), w.end(), text) - w.begin());
    }
};

// Two manifest equations as the equation printer lays them out with
// standard errors and t values: a fixed loading (one row) and a free one
// (three rows), an error term with the fixed coefficient 1.
OutItem manifest_equations() {
    OutItem t;
    t.type = OutItem::Type::Table;
    t.name = "EstManifestEq";
    t.title = txt("Manifest Variable Equations");
    t.columns = {column("Control", kText),      column("Variable", kText),  column("Equals", kText),
                 column("Coefficient1", kDouble), column("Asterisk1", kText), column("Parameter1", kText),
                 column("Sign2", kText),         column("Coefficient2", kDouble), column("Asterisk2", kText),
                 column("Parameter2", kText)};
    t.rows = {{txt("b"), txt("x1"), txt("="), num(1), txt(""), txt("Fvis"), txt("+"), num(1), txt(""), txt("E1")},
              {txt("b"), txt("x2"), txt("="), num(0.5535), txt("*"), txt("Fvis"), txt("+"), num(1), txt(""), txt("E2")},
              {txt(""), txt("Std Err"), txt(""), num(0.0998), txt(""), txt("l2"), txt(""), no_value(), txt(""), txt("")},
              {txt(""), txt("t Value"), txt(""), num(5.5444), txt(""), txt(""), txt(""), no_value(), txt(""), txt("")}};
    return t;
}

TEST_F(Listing, ATitleTextThatRepeatsTheTitleIsPrintedOnce) {
    OutItem t;
    t.type = OutItem::Type::Table;
    t.title = txt("Variances of Exogenous Variables");
    t.dynamic = {{"titletext", txt("Variances of Exogenous Variables")}, {"TitleText1", txt("Second line")}};
    t.columns = {column("Variable", kText)};
    t.rows = {{txt("F1")}};
    velix::platform::render_listing(t);
    const auto w = words();
    EXPECT_EQ(std::count(w.begin(), w.end(), "Variances of Exogenous Variables"), 1) << listing();
    EXPECT_EQ(line_of("Second line"), line_of("Variances of Exogenous Variables") + 1) << listing();
}

TEST_F(Listing, EquationTemplatesPrintAsEquations) {
    velix::platform::render_listing(manifest_equations());
    const std::string l = listing();
    const size_t first = line_of("x1 = 1.0000 Fvis + 1.0000 E1");
    const size_t second = line_of("x2 = 0.5535*Fvis + 1.0000 E2");
    ASSERT_LT(first, lines().size()) << l;
    ASSERT_LT(second, lines().size()) << l;
    EXPECT_EQ(line_of("Std Err 0.0998 l2"), second + 1) << l;
    EXPECT_EQ(line_of("t Value 5.5444"), second + 2) << l;
    EXPECT_EQ(words()[second - 1], "") << "a blank line parts equations of several rows";
    // The standard error and the t value stand under their coefficient, the
    // parameter name under the variable name.
    const auto ls = lines();
    const size_t coefficientEnd = ls[second].find("0.5535") + 6;
    EXPECT_EQ(ls[second + 1].find("0.0998") + 6, coefficientEnd) << l;
    EXPECT_EQ(ls[second + 2].find("5.5444") + 6, coefficientEnd) << l;
    EXPECT_EQ(ls[second + 1].find("l2"), ls[second].find("Fvis")) << l;
    EXPECT_EQ(ls[first].find("Fvis"), ls[second].find("Fvis")) << "fixed and free terms line up";
    for (const char* header : {"Control", "Asterisk", "Coefficient", "Sign2"})
        EXPECT_EQ(l.find(header), std::string::npos) << header << " printed:\n" << l;
    EXPECT_EQ(l.find('_'), std::string::npos) << "cells without a value print blank:\n" << l;
}

// A linear constraint table whose term columns are numbered (C1_1, C2_1, ...)
// and carry the template column names; its number and residual keep a
// header, the terms do not.
TEST_F(Listing, ConstraintTermGroupsPrintAsAnEquation) {
    OutItem t;
    t.type = OutItem::Type::Table;
    t.title = txt("Linear Constraints");
    t.columns = {column("Number", kInteger),          column("Residual", kDouble),
                 column("Colon", kChar),              column("Restriction", kChar),
                 column("Left", kDouble),             column("Relation", kChar),
                 column("C1_1", kChar, "Sign"),       column("C2_1", kDouble, "Coefficient"),
                 column("C3_1", kChar, "Asterisk"),   column("C4_1", kChar, "Parameter"),
                 column("C1_2", kChar, "Sign"),       column("C2_2", kDouble, "Coefficient"),
                 column("C3_2", kChar, "Asterisk"),   column("C4_2", kChar, "Parameter")};
    t.rows = {{OutValue::make_int(1), num(0.5), txt(":"), txt("ACT"), num(0.0), txt(" >= "), txt(" - "), num(2.0),
               txt("*"), txt("l2"), txt(" + "), num(1.0), txt("*"), txt("l3")}};
    velix::platform::render_listing(t);
    const std::string l = listing();
    EXPECT_EQ(line_of("Number Residual"), line_of("1 0.5000 : ACT 0 >= - 2*l2 + 1*l3") - 2) << l;
    for (const char* header : {"C1_1", "C2_1", "Asterisk", "Relation", "Left"})
        EXPECT_EQ(l.find(header), std::string::npos) << header << " printed:\n" << l;
}

// On a line of 64 characters an equation of twelve terms continues below,
// each continuation under the first term, and no line passes the margin.
TEST_F(Listing, AWideEquationContinuesUnderItsFirstTerm) {
    velix::platform::session().options["LINESIZE"] = "64";
    OutItem t;
    t.type = OutItem::Type::Table;
    t.columns = {column("Control", kText), column("Variable", kText), column("Equals", kText)};
    std::vector<OutValue> row = {txt("b"), txt("y"), txt("=")}, se = {txt(""), txt("Std Err"), txt("")};
    for (int k = 1; k <= 12; ++k) {
        const std::string n = std::to_string(k);
        if (k > 1) t.columns.push_back(column(("Sign" + n).c_str(), kText));
        for (const char* c : {"Coefficient", "Asterisk", "Parameter"})
            t.columns.push_back(column((c + n).c_str(), c[0] == 'C' ? kDouble : kText));
        if (k > 1) {
            row.push_back(txt("+"));
            se.push_back(txt(""));
        }
        const std::string var = "x" + n, par = "b" + n;
        for (const OutValue& v : {num(0.25 * k), txt("*"), txt(var.c_str())}) row.push_back(v);
        for (const OutValue& v : {num(0.01 * k), txt(""), txt(par.c_str())}) se.push_back(v);
    }
    t.rows = {row, se};
    velix::platform::render_listing(t);
    const auto ls = lines();
    const std::string l = listing();
    for (const auto& line : ls) EXPECT_LE(line.size(), 64u) << line;
    for (int k = 1; k <= 12; ++k) {
        EXPECT_NE(l.find("*x" + std::to_string(k)), std::string::npos) << k << "\n" << l;
        EXPECT_NE(l.find(" b" + std::to_string(k)), std::string::npos) << k << "\n" << l;
    }
    // Every continuation starts with its sign where the first term starts.
    const auto opening = std::find_if(ls.begin(), ls.end(), [](const std::string& x) { return x.find("*x1 ") != std::string::npos; });
    ASSERT_NE(opening, ls.end()) << l;
    const size_t first = opening->find("0.2500");
    size_t continued = 0;
    for (const auto& line : ls) {
        const size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos || line[at] != '+') continue;
        ++continued;
        EXPECT_EQ(at, first) << line << "\n" << l;
    }
    EXPECT_GE(continued, 2u) << l;
}

// A table of twelve value columns on a line of 64 characters continues in
// blocks below, each headed and led by the number and name of the row.
TEST_F(Listing, AWideTableContinuesWithItsRowLabels) {
    velix::platform::session().options["LINESIZE"] = "64";
    OutItem t;
    t.type = OutItem::Type::Table;
    t.columns = {column("Number", kInteger), column("Parameter", kText)};
    for (int k = 1; k <= 12; ++k) t.columns.push_back(column(("Value" + std::to_string(k)).c_str(), kDouble));
    for (int i = 1; i <= 2; ++i) {
        std::vector<OutValue> row = {OutValue::make_int(i), txt(i == 1 ? "alpha" : "beta")};
        for (int k = 1; k <= 12; ++k) row.push_back(num(1000.0 * i + k + 0.5));
        t.rows.push_back(row);
    }
    velix::platform::render_listing(t);
    const std::string l = listing();
    size_t blocks = 0, alphaRows = 0;
    for (const auto& line : lines()) {
        EXPECT_LE(line.size(), 64u) << line;
        if (line.find("Value") != std::string::npos) {
            ++blocks;
            EXPECT_LT(line.find("Number"), line.find("Parameter")) << line;
            EXPECT_LT(line.find("Parameter"), line.find("Value")) << line;
        }
        if (line.find("alpha") != std::string::npos) ++alphaRows;
    }
    EXPECT_GE(blocks, 2u) << l;
    EXPECT_EQ(alphaRows, blocks) << l;
    // Every column once, in its order: the header words after the labels.
    std::string headers;
    for (const auto& w : words())
        if (w.rfind("Number Parameter ", 0) == 0) headers += w.substr(17) + " ";
    std::string expected;
    for (int k = 1; k <= 12; ++k) expected += "Value" + std::to_string(k) + " ";
    EXPECT_EQ(headers, expected) << l;
    EXPECT_NE(l.find("2012.5000"), std::string::npos) << l;
}

// The pieces of a modification-index matrix print under what they hold,
// in delivery order, not under their one-letter labels.
TEST_F(Listing, MatrixPiecesPrintUnderTheirNames) {
    OutItem m;
    m.type = OutItem::Type::Matrix;
    m.name = "ModIndices";
    m.nRows = m.nColumns = 1;
    m.pieces = {{"", {num(3.5)}}, {"P", {num(0.06)}}, {"C", {num(-0.2)}}, {"N", {txt("Sing")}}};
    velix::platform::render_listing(m);
    const std::string l = listing();
    const size_t statistic = line_of("Lagrange Multiplier or Wald Statistic"), probability = line_of("Probability"),
                 change = line_of("Expected Change"), labels = line_of("Free Parameters [name] and Singular Cells (Sing)");
    EXPECT_LT(statistic, probability) << l;
    EXPECT_LT(probability, change) << l;
    EXPECT_LT(change, labels) << l;
    EXPECT_LT(labels, lines().size()) << l;
    EXPECT_LT(l.find("3.5000"), l.find("0.0600")) << l;
    EXPECT_EQ(l.find("(P)"), std::string::npos) << l;
}

}  // namespace
