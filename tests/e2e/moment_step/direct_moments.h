// Direct computations from a CSV data file for the whole-program tests of
// the moments: the textbook formulas, written independently of the module
// (means, cross-products about the means with a chosen divisor, an inverse
// by Gauss-Jordan elimination), the scratch folders the tests write their
// generated data sets to, and readers of what a run wrote (matrix tables,
// messages, return codes, moment and weight data sets).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace velix::test {

// The variables and numeric rows of a CSV file with a header line; lines
// starting with '#' are skipped, "." reads as NaN.
struct Data {
    std::vector<std::string> names;
    std::vector<std::vector<double>> rows;
    size_t p() const { return names.size(); }
};

inline Data read_csv_path(const std::string& path) {
    Data d;
    std::ifstream in(path);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream s(line);
        std::string cell;
        std::vector<double> row;
        while (std::getline(s, cell, ',')) {
            if (header)
                d.names.push_back(cell);
            else
                row.push_back(cell == "." ? std::nan("") : std::stod(cell));
        }
        if (!header) d.rows.push_back(row);
        header = false;
    }
    return d;
}

// A file of tests/fixtures.
inline Data read_csv(const std::string& file) { return read_csv_path(data_path(file)); }

inline std::vector<double> means_of(const Data& d) {
    std::vector<double> m(d.p(), 0.0);
    for (const auto& r : d.rows)
        for (size_t i = 0; i < d.p(); ++i) m[i] += r[i];
    for (double& x : m) x /= static_cast<double>(d.rows.size());
    return m;
}

using Matrix = std::vector<std::vector<double>>;

// Cross-products about the means divided by `divisor`.
inline Matrix cov_of(const Data& d, double divisor) {
    const auto m = means_of(d);
    Matrix c(d.p(), std::vector<double>(d.p(), 0.0));
    for (const auto& r : d.rows)
        for (size_t i = 0; i < d.p(); ++i)
            for (size_t j = 0; j < d.p(); ++j) c[i][j] += (r[i] - m[i]) * (r[j] - m[j]);
    for (auto& row : c)
        for (double& x : row) x /= divisor;
    return c;
}

// Inverse by Gauss-Jordan elimination with partial pivoting.
inline Matrix inverse_of(Matrix a) {
    const size_t n = a.size();
    Matrix b(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i) b[i][i] = 1.0;
    for (size_t k = 0; k < n; ++k) {
        size_t piv = k;
        for (size_t i = k + 1; i < n; ++i)
            if (std::fabs(a[i][k]) > std::fabs(a[piv][k])) piv = i;
        std::swap(a[k], a[piv]);
        std::swap(b[k], b[piv]);
        const double d = a[k][k];
        for (size_t j = 0; j < n; ++j) {
            a[k][j] /= d;
            b[k][j] /= d;
        }
        for (size_t i = 0; i < n; ++i) {
            if (i == k) continue;
            const double f = a[i][k];
            for (size_t j = 0; j < n; ++j) {
                a[i][j] -= f * a[k][j];
                b[i][j] -= f * b[k][j];
            }
        }
    }
    return b;
}

// The lines of a CSV file after its header, without comments and blanks.
inline std::vector<std::string> body_lines(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (!header) out.push_back(line);
        header = false;
    }
    return out;
}

// The values of the rows of an output CSV from column `firstValue` on
// (0-based, after _TYPE_ and the name columns), "." as NaN.
inline Matrix read_values(const std::string& path, size_t firstValue) {
    Matrix out;
    for (const std::string& line : body_lines(path)) {
        std::stringstream s(line);
        std::string cell;
        std::vector<double> row;
        for (size_t k = 0; std::getline(s, cell, ','); ++k)
            if (k >= firstValue) row.push_back(cell == "." || cell.empty() ? std::nan("") : std::stod(cell));
        out.push_back(row);
    }
    return out;
}

// Relative difference, absolute below 1.
inline double rel(double a, double b) { return std::fabs(a - b) / std::max(1.0, std::fabs(b)); }

// A fresh folder below the build tree for a test's generated files,
// removed when the test process exits.
inline std::string scratch_dir(const std::string& name) {
    const std::string dir = std::string(VELIX_BINARY_DIR) + "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return remove_at_exit(dir);
}

// The values of the last matrix table `name` of a step (group g of a BY
// run: the g-th one).
inline Matrix matrix_of(const RunResult& r, size_t step, const std::string& name, size_t g = 0) {
    const auto found = r.items(step, "matrix", name);
    Matrix m;
    if (found.size() <= g) return m;
    const JsonValue& v = (*found[g])["values"];
    for (size_t i = 0; i < v.size(); ++i) {
        m.emplace_back();
        for (size_t j = 0; j < v[i].size(); ++j) m.back().push_back(v[i][j].number());
    }
    return m;
}

inline bool has_message(const RunResult& r, size_t step, int group, int number) {
    for (int m : r.messages(step, group))
        if (m == number) return true;
    return false;
}

inline int return_code(const RunResult& r, size_t step) {
    return static_cast<int>(r.json["steps"][step]["returnCode"].number());
}

inline double factoid_entry(const RunResult& r, size_t step, const std::string& name, int number) {
    const auto found = r.items(step, "factoid", name);
    if (found.empty()) return std::nan("");
    const JsonValue& e = (*found.front())["entries"];
    for (size_t k = 0; k < e.size(); ++k)
        if (static_cast<int>(e[k]["labelMessage"]["number"].number()) == number) return e[k]["value"].number();
    return std::nan("");
}

inline void expect_matrix_near(const Matrix& got, const Matrix& want, double tol, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(got[i].size(), want[i].size()) << what;
        for (size_t j = 0; j < want[i].size(); ++j) {
            if (std::isnan(want[i][j]) && std::isnan(got[i][j])) continue;  // missing in both
            EXPECT_LT(rel(got[i][j], want[i][j]), tol)
                << what << " (" << i << "," << j << "): " << got[i][j] << " against " << want[i][j];
        }
    }
}

// The first k columns of a data set.
inline Data columns(const Data& d, size_t k) {
    Data out;
    out.names.assign(d.names.begin(), d.names.begin() + static_cast<long>(k));
    for (const auto& r : d.rows) out.rows.emplace_back(r.begin(), r.begin() + static_cast<long>(k));
    return out;
}

inline std::string number_text(double x) {
    if (std::isnan(x)) return ".";  // the host's missing value
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", x);
    return b;
}

inline void write_csv(const std::string& path, const Data& d, const std::string& typeLine = "") {
    std::ofstream out(path);
    if (!typeLine.empty()) out << typeLine << "\n";
    for (size_t i = 0; i < d.p(); ++i) out << (i ? "," : "") << d.names[i];
    out << "\n";
    for (const auto& r : d.rows) {
        for (size_t i = 0; i < r.size(); ++i) out << (i ? "," : "") << number_text(r[i]);
        out << "\n";
    }
}

// Rows of a moment data set: _TYPE_, _NAME_ and the values.
struct MomentRow {
    std::string type, name;
    std::vector<double> values;
};
inline std::vector<MomentRow> read_moment_rows(const std::string& path) {
    std::vector<MomentRow> rows;
    for (const std::string& line : body_lines(path)) {
        std::stringstream s(line);
        MomentRow r;
        std::getline(s, r.type, ',');
        std::getline(s, r.name, ',');
        std::string cell;
        while (std::getline(s, cell, ',')) r.values.push_back(std::stod(cell));
        rows.push_back(r);
    }
    return rows;
}

// Sums of squares and cross-products about zero of the variables of d with
// the intercept row and column of the sums, and an N row unless nRow is
// false.
inline void write_sscp(const std::string& path, const Data& d, bool nRow = true) {
    std::ofstream out(path);
    std::vector<std::string> names = {"Intercept"};
    names.insert(names.end(), d.names.begin(), d.names.end());
    out << "# TYPE=SSCP\n_TYPE_,_NAME_";
    for (const auto& v : names) out << "," << v;
    out << "\n";
    for (size_t i = 0; i < names.size(); ++i) {
        out << "SSCP," << names[i];
        for (size_t j = 0; j < names.size(); ++j) {
            double t = 0.0;
            for (const auto& o : d.rows) t += (i ? o[i - 1] : 1.0) * (j ? o[j - 1] : 1.0);
            out << "," << number_text(t);
        }
        out << "\n";
    }
    if (!nRow) return;
    out << "N,," << d.rows.size();
    for (size_t j = 1; j < names.size(); ++j) out << "," << d.rows.size();
    out << "\n";
}

// The final estimates and standard errors by parameter and the chi-square
// of BY group g of a step.
struct GroupFit {
    std::map<std::string, double> est, se;
    double chisq = std::nan("");
};

inline GroupFit fit_of(const RunResult& r, size_t step, size_t g = 0) {
    GroupFit f;
    const auto tables = r.items(step, "table", "ParameterEstimates");  // a start and a final one per group
    const auto fits = r.items(step, "factoid", "Fit");
    if (tables.size() < 2 * g + 2 || fits.size() < g + 1) return f;
    f.est = column_by_parameter(*tables[2 * g + 1], "Estimate");
    f.se = column_by_parameter(*tables[2 * g + 1], "AppStdErr");
    f.chisq = factoid_values(*fits[g]).at("Chi-Square");
    return f;
}

// Each estimate, standard error and the chi-square within tol (relative).
inline void expect_same_fit(const GroupFit& got, const GroupFit& want, double tol, const std::string& what) {
    ASSERT_FALSE(want.est.empty()) << what << ": no estimates";
    ASSERT_EQ(got.est.size(), want.est.size()) << what;
    EXPECT_LT(rel(got.chisq, want.chisq), tol) << what << ": chi-square " << got.chisq << " against " << want.chisq;
    for (const auto& [name, v] : want.est) {
        EXPECT_LT(rel(got.est.at(name), v), tol) << what << ": " << name << " " << got.est.at(name) << " against " << v;
        EXPECT_LT(rel(got.se.at(name), want.se.at(name)), tol)
            << what << ": SE of " << name << " " << got.se.at(name) << " against " << want.se.at(name);
    }
}

}  // namespace velix::test
