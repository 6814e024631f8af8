// Reference values of the probability and special functions, read from
// tests/numerics/data/distributions.csv (made once by an independent
// implementation with the script distributions.R beside it), and the
// relative-error bookkeeping the tests use to report their worst case.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velix::test {

struct ReferenceRow {
    std::string fn;
    double a1 = NAN, a2 = NAN, a3 = NAN;
    double value = NAN;
};

inline double parse_cell(const std::string& s) {
    if (s.empty() || s == "NA") return NAN;
    return std::stod(s);
}

// All rows of function fn (empty when the file is missing).
inline std::vector<ReferenceRow> reference_rows(const std::string& fn) {
    std::vector<ReferenceRow> rows;
    std::ifstream in(std::string(VELIX_SOURCE_DIR) + "/tests/numerics/data/distributions.csv");
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ',')) cells.push_back(cell);
        if (cells.size() == 4) cells.emplace_back();
        if (cells.size() != 5) continue;
        std::string name = cells[0];
        if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
        if (name != fn) continue;
        ReferenceRow r;
        r.fn = name;
        r.a1 = parse_cell(cells[1]);
        r.a2 = parse_cell(cells[2]);
        r.a3 = parse_cell(cells[3]);
        r.value = parse_cell(cells[4]);
        rows.push_back(r);
    }
    return rows;
}

// Relative error, with the absolute error where the reference is 0.
inline double relative_error(double got, double want) {
    if (want == 0.0) return std::fabs(got);
    return std::fabs(got - want) / std::fabs(want);
}

// Tracks the worst relative error of a function and prints it.
struct WorstCase {
    std::string name;
    double err = 0.0;
    double a1 = NAN, a2 = NAN, a3 = NAN;
    void add(double e, const ReferenceRow& r) {
        if (!(e <= err)) {
            err = e;
            a1 = r.a1; a2 = r.a2; a3 = r.a3;
        }
    }
    ~WorstCase() {
        std::printf("[ worst    ] %-16s rel. error %.3g at (%g, %g, %g)\n", name.c_str(), err, a1,
                    a2, a3);
    }
};

// Compares eval(row) with every reference row of fn.  The tolerance is
// bodyTol, or tailTol where the reference value is below 1e-12 in
// magnitude (the far tails); the worst case is printed.
template <class Eval>
void expect_matches_reference(const std::string& fn, Eval eval, double bodyTol, double tailTol) {
    auto rows = reference_rows(fn);
    ASSERT_FALSE(rows.empty()) << "no reference rows for " << fn;
    WorstCase worst{fn};
    for (const auto& r : rows) {
        double got = eval(r);
        double e = relative_error(got, r.value);
        worst.add(e, r);
        double tol = std::fabs(r.value) < 1e-12 ? tailTol : bodyTol;
        EXPECT_LE(e, tol) << fn << "(" << r.a1 << ", " << r.a2 << ", " << r.a3 << ") = " << got
                          << ", reference " << r.value;
    }
}

}  // namespace velix::test
