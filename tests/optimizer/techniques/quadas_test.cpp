// QUADAS on convex quadratic programs with bounds and linear rows, from
// feasible starts (the feasible start belongs to the constraint
// machinery): with the exact Hessian the solution and the multipliers come
// out exact.
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/optimizer/core/constraint_fixture.h"
#include "tests/optimizer/techniques/technique_fixture.h"
#include "velix/packed_index.h"

namespace {

using namespace velix::test;

const Standard& problem(const std::string& name) {
    for (const Standard& s : linear_problems())
        if (s.name == name) return s;
    throw std::runtime_error(name);
}

// The exact Hessians (packed) of HS21, HS28, HS35 and of Nocedal and
// Wright's example 16.4, for the Hessian slot.
constexpr double kHs21[] = {0.02, 0, 2};
constexpr double kHs28[] = {2, 2, 4, 0, 2, 2};
constexpr double kHs35[] = {4, 2, 4, 2, 0, 2};
constexpr double kNw164[] = {2, 0, 2};
template <const auto& H>
int32_t exact_hessian(NlpProblem* p) {
    std::copy(std::begin(H), std::end(H), p->hess.hessian);
    return 0;
}

// A random strictly convex quadratic f = c'x + x'Hx/2 (H = B'B + I) of 50
// parameters in the box [-1, 1] with 20 rows through the interior point 0.
struct RandomQp {
    static constexpr int32_t kN = 50, kRows = 20;
    std::vector<double> h, c, rows, rhs;
    RandomQp() : h(kN * (kN + 1) / 2), c(kN), rows(kN * kRows), rhs(kRows) {
        std::mt19937 rng(11);
        std::normal_distribution<double> z;
        std::vector<double> b(kN * kN);
        for (double& v : b) v = z(rng) / std::sqrt(double(kN));
        for (int32_t i = 0; i < kN; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                double s = i == j ? 1.0 : 0.0;
                for (int32_t k = 0; k < kN; ++k) s += b[k * kN + i] * b[k * kN + j];
                h[velix::pk_lower(i, j)] = s;
            }
        for (double& v : c) v = 3.0 * z(rng);
        for (double& v : rows) v = z(rng);
        for (double& v : rhs) v = -0.3 - 0.5 * std::fabs(z(rng));
    }
    static const RandomQp& get() {
        static const RandomQp q;
        return q;
    }
    static double f(const double* x) {
        const RandomQp& q = get();
        double s = 0.0;
        for (int32_t i = 0; i < kN; ++i) {
            s += q.c[i] * x[i];
            for (int32_t j = 0; j < kN; ++j) s += 0.5 * x[i] * q.h[velix::pk(i, j)] * x[j];
        }
        return s;
    }
    static void g(const double* x, double* out) {
        const RandomQp& q = get();
        for (int32_t i = 0; i < kN; ++i) {
            out[i] = q.c[i];
            for (int32_t j = 0; j < kN; ++j) out[i] += q.h[velix::pk(i, j)] * x[j];
        }
    }
    static int32_t hessian(NlpProblem* p) {
        std::copy(get().h.begin(), get().h.end(), p->hess.hessian);
        return 0;
    }
    static Standard problem() {
        const RandomQp& q = get();
        Standard s{"RandomQP", std::vector<double>(kN, 0.0), 0, nullptr, nullptr, -1, std::vector<double>(kN, -1.0),
                   std::vector<double>(kN, 1.0), f, g, 0.0, false, q.rows, q.rhs, 0};
        return s;
    }
};

class Quadas : public NlpStep {
protected:
    // Runs QUADAS with the exact Hessian; the path checks of the fixture.
    int32_t run(TechniqueProblem* t, NlpCallback hessian) {
        t->p.cb.hessianFn = hessian;
        multipliers_.assign(t->p.shape.nParams, 0.0);
        t->p.active.multipliers = multipliers_.data();
        const int32_t status = run_direct(t);
        EXPECT_EQ(t->infeasible, 0);
        for (size_t i = 1; i < t->path.size(); ++i) EXPECT_LE(t->path[i], t->path[i - 1] + 1e-14);
        return status;
    }
    std::vector<double> multipliers_;
};

// From (2, 0), where a bound and a row are active, to (1.4, 1.7) with only
// the first row active and its multiplier 0.8.
TEST_F(Quadas, SolvesAQuadraticWithBoundsAndRowsExactly) {
    TechniqueProblem t(problem("NW16.4"), kTechQuadas, false);
    EXPECT_GE(run(&t, exact_hessian<kNw164>), kNlpAbsConv);
    EXPECT_NEAR(t.x[0], 1.4, 1e-12);
    EXPECT_NEAR(t.x[1], 1.7, 1e-12);
    EXPECT_NEAR(t.p.iter.f, 0.8, 1e-12);
    EXPECT_EQ(t.p.active.nActiveLin, 1);
    EXPECT_EQ(t.p.active.nActiveBounds, 0);
    EXPECT_NEAR(multipliers_[0], 0.8, 1e-12);
}

TEST_F(Quadas, SolvesAnEqualityConstrainedQuadraticExactly) {
    TechniqueProblem t(problem("HS28"), kTechQuadas, false);
    EXPECT_GE(run(&t, exact_hessian<kHs28>), kNlpAbsConv);
    EXPECT_NEAR(t.x[0], 0.5, 1e-12);
    EXPECT_NEAR(t.x[1], -0.5, 1e-12);
    EXPECT_NEAR(t.x[2], 0.5, 1e-12);
    EXPECT_NEAR(t.p.iter.f, 0.0, 1e-20);
}

// Rows held compressed (and no row slot) are the same rows.
TEST_F(Quadas, TakesCompressedRows) {
    TechniqueProblem t(problem("NW16.4"), kTechQuadas, false);
    CompressedRows compressed(&t);
    EXPECT_GE(run(&t, exact_hessian<kNw164>), kNlpAbsConv);
    EXPECT_NEAR(t.x[0], 1.4, 1e-12);
    EXPECT_NEAR(t.x[1], 1.7, 1e-12);
}

// The Hessian from differences of the gradient, as without a Hessian slot.
TEST_F(Quadas, SolvesTheLinearProblems) {
    for (const Standard& s : linear_problems()) EXPECT_TRUE(minimises(kTechQuadas, s, false));
}

// The first form keeps its active set in the sparse form, its columns in
// memory or on a utility file: the same iterates as the dense form, on the
// problems whose Hessian is positive definite and on the random program.
TEST_F(Quadas, SparseFormTakesTheDenseFormsIterates) {
    struct Case {
        Standard s;
        NlpCallback hessian;
    };
    const Case cases[] = {{problem("HS21"), exact_hessian<kHs21>},
                          {problem("HS35"), exact_hessian<kHs35>},
                          {problem("NW16.4"), exact_hessian<kNw164>},
                          {RandomQp::problem(), RandomQp::hessian}};
    for (const Case& c : cases) {
        std::vector<double> path[3], x[3];
        for (int32_t form : {0, 1, 2}) {  // sparse in memory, sparse on file, dense
            TechniqueProblem t(c.s, kTechQuadas, false);
            ActiveSetArrays arrays(&t.p);
            t.p.opt.techVariant = form == 2 ? 2 : 1;
            t.p.opt.conFactorForm = form == 2 ? 1 : 2;
            if (form == 1) {
                ScratchFileRequest request;
                request.attributeWord = 0x82000008;
                ASSERT_EQ(xcopen(&t.p.opt.conFactorFile, &request), 0);
            }
            EXPECT_GE(run(&t, c.hessian), kNlpAbsConv) << c.s.name << " form " << form;
            if (t.p.opt.conFactorFile != nullptr) xcclose(t.p.opt.conFactorFile, 1);
            path[form] = t.path;
            x[form] = t.x;
        }
        for (int32_t form : {0, 1}) {
            ASSERT_EQ(path[form].size(), path[2].size()) << c.s.name << " form " << form;
            for (size_t i = 0; i < path[2].size(); ++i) EXPECT_NEAR(path[form][i], path[2][i], 1e-10) << c.s.name << " " << i;
            for (size_t j = 0; j < x[2].size(); ++j) EXPECT_NEAR(x[form][j], x[2][j], 1e-10) << c.s.name << " " << j;
        }
    }
}

// The first form's four work vectors (4n doubles) do not fit in an area
// of n + rows: the technique and the driver's start phase with the sparse
// form refuse it and write nothing past it.
TEST_F(Quadas, SparseFormRefusesTooSmallAWorkArea) {
    const double guard = -7.25;
    for (bool driver : {false, true}) {
        TechniqueProblem t(problem("HS35"), kTechQuadas, false);
        ActiveSetArrays arrays(&t.p);
        t.p.opt.techVariant = 1;
        t.p.opt.conFactorForm = 2;
        const int64_t given = t.p.shape.nParams + t.p.shape.nLinCon;
        std::fill(arrays.sparse.begin(), arrays.sparse.end(), guard);
        t.p.active.sparseWorkDoubles = given;
        EXPECT_EQ(driver ? run_driver(&t) : run(&t, exact_hessian<kHs35>), kNlpNotUsable) << driver;
        for (size_t i = static_cast<size_t>(given); i < arrays.sparse.size(); ++i) ASSERT_EQ(arrays.sparse[i], guard) << driver << " " << i;
    }
}

}  // namespace
