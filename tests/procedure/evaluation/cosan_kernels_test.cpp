// The typed-matrix kernels on a hand-built model table: the identity-like
// types, I - B of a BETA matrix without a form, and the internal faults of
// a product that does not conform or a type without a product rule.
#include "procedure/evaluation/cosan_kernels.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "evaluation_fixture.h"
#include "procedure/evaluation/cross_product.h"
#include "procedure/evaluation/implied_moments.h"
#include "procedure/evaluation/sparse_inverse.h"
#include "tests/support/statement_fixture.h"
#include "platform/step_exit.h"
#include "velix/codes.h"

namespace velix::testing {
namespace {

// A model table of up to four matrices, each given by type, shape and
// elements; the view reads only what the kernels read.
struct SmallModel {
    static constexpr int kMax = 5;
    std::array<int16_t, kMax> type{}, form{}, zero16{};
    std::array<uint16_t, kMax> reuse{};
    std::array<NameRecord, kMax> names{};
    std::array<int32_t, kMax> rows{}, cols{}, first{}, count{}, offset{};
    std::vector<int32_t> parm, row, col, sel;
    std::vector<double> value, rowBuf = std::vector<double>(8);
    ModelMatrixTable mt;
    ElementPattern el;
    EvaluationState st;
    int32_t errorLevel = 0;
    EvalView view;

    int32_t add(int16_t t, int32_t r, int32_t c, std::vector<std::array<double, 3>> elements) {
        const int32_t k = ++view.nMatrices;
        type[k] = t;
        rows[k] = r;
        cols[k] = c;
        first[k] = static_cast<int32_t>(value.size());
        count[k] = static_cast<int32_t>(elements.size());
        for (const auto& e : elements) {
            row.push_back(static_cast<int32_t>(e[0]));
            col.push_back(static_cast<int32_t>(e[1]));
            value.push_back(e[2]);
            parm.push_back(0);
        }
        return k;
    }
    const EvalView* bind() {
        mt.name = names.data();
        mt.type = type.data();
        mt.form = form.data();
        mt.constant = zero16.data();
        mt.sameName = zero16.data();
        mt.inverseReuse = reuse.data();
        mt.rows = rows.data();
        mt.columns = cols.data();
        mt.firstElement = first.data();
        mt.elementCount = count.data();
        mt.inverseOffset = offset.data();
        el.parameter = parm.data();
        el.row = row.data();
        el.column = col.data();
        el.value = value.data();
        st.rowBuf = rowBuf.data();
        view.mt = &mt;
        view.el = &el;
        view.n = 2;
        view.ld = 8;
        view.selIndex = sel.data();
        view.errorLevel = &errorLevel;
        view.st = &st;
        return &view;
    }
};

// The dense op(M_j) of cosunpa as rows.
std::vector<std::vector<double>> unpack(const EvalView* v, int32_t transpose, int32_t j) {
    std::vector<double> dest(64, -1.0);
    int32_t r = 0, c = 0;
    cosunpa(v, transpose, j, &r, &c, dest.data());
    std::vector<std::vector<double>> out(static_cast<size_t>(r));
    for (int32_t i = 0; i < r; ++i) out[i].assign(dest.begin() + i * 8, dest.begin() + i * 8 + c);
    return out;
}

using Rows = std::vector<std::vector<double>>;

TEST(CosanKernels, IdentityLikeTypesAndBeta) {
    SmallModel m;
    const int32_t wide = m.add(kMatZerIdentity, 2, 4, {});
    const int32_t tall = m.add(kMatZerIdentity, 4, 2, {});
    const int32_t select = m.add(kMatSelection, 2, 3, {});
    const int32_t beta = m.add(kMatBeta, 2, 2, {{1, 0, 0.25}});
    m.sel = {2, -1};
    const EvalView* v = m.bind();
    EXPECT_EQ(unpack(v, 0, wide), (Rows{{0, 0, 1, 0}, {0, 0, 0, 1}}));
    EXPECT_EQ(unpack(v, 0, tall), (Rows{{0, 0}, {0, 0}, {1, 0}, {0, 1}}));
    EXPECT_EQ(unpack(v, 0, select), (Rows{{0, 0, 1}, {0, 0, 0}}));
    EXPECT_EQ(unpack(v, 1, select), (Rows{{0, 0}, {0, 0}, {1, 0}}));
    EXPECT_EQ(unpack(v, 0, beta), (Rows{{1, 0}, {-0.25, 1}}));
    EXPECT_EQ(unpack(v, 0, 0), (Rows{{1, 0}, {0, 1}}));

    // work (2 x 2) times op(M): the transposed selection picks columns,
    // the ZERIDENTITY moves them right.
    std::vector<double> work(16, 0.0);
    work[0] = 1, work[1] = 2, work[8] = 3, work[9] = 4;
    EXPECT_EQ(cosposm(v, 0, wide, 2, 2, work.data(), m.rowBuf.data()), 4);
    EXPECT_EQ(std::vector<double>(work.begin(), work.begin() + 4),
              (std::vector<double>{0, 0, 1, 2}));
    EXPECT_EQ(std::vector<double>(work.begin() + 8, work.begin() + 12),
              (std::vector<double>{0, 0, 3, 4}));
}

// op(M) * W from the left equals the dense product with cosunpa's op(M),
// for a ZERIDENTITY, a diagonal entered as its inverse and I - B, plain
// and transposed.
TEST(CosanKernels, PremultiplicationMatchesTheDenseProduct) {
    SmallModel m;
    const int32_t tall = m.add(kMatZerIdentity, 4, 2, {});
    const int32_t diag = m.add(kMatDiagonal, 2, 2, {{0, 0, 2.0}, {1, 1, 4.0}});
    const int32_t beta = m.add(kMatBeta, 2, 2, {{1, 0, 0.25}});
    m.form[diag] = kFormInverse;
    const EvalView* v = m.bind();
    std::vector<double> colBuf(8);
    for (const int32_t j : {tall, diag, beta})
        for (const int32_t t : {0, 1}) {
            const Rows op = unpack(v, t, j);
            const int32_t inner = static_cast<int32_t>(op[0].size());
            std::vector<double> work(64, 0.0);
            for (int32_t r = 0; r < inner; ++r)
                for (int32_t c = 0; c < 3; ++c) work[r * 8 + c] = 1.0 + r - 0.5 * c;
            Rows expected(op.size(), std::vector<double>(3, 0.0));
            for (size_t a = 0; a < op.size(); ++a)
                for (int32_t b = 0; b < inner; ++b)
                    for (int32_t c = 0; c < 3; ++c) expected[a][c] += op[a][b] * work[b * 8 + c];
            ASSERT_EQ(cosprem(v, t, j, inner, 3, work.data(), colBuf.data()),
                      static_cast<int32_t>(op.size()));
            for (size_t a = 0; a < op.size(); ++a)
                EXPECT_EQ(std::vector<double>(work.begin() + a * 8, work.begin() + a * 8 + 3), expected[a])
                    << "matrix " << j << " transposed " << t << " row " << a;
        }
}

TEST(CosanKernels, FaultsEndTheStep) {
    ensure_step_allocator();
    velix::platform::begin_step();
    SmallModel m;
    const int32_t general = m.add(kMatGeneral, 3, 3, {{0, 0, 1.0}});
    const int32_t perm = m.add(kMatPermutation, 2, 2, {{0, 1, 1.0}, {1, 0, 1.0}});
    const EvalView* v = m.bind();
    std::vector<double> work(16, 1.0);
    auto code = [&](int32_t j, int32_t cols, int32_t* message) {
        const size_t mark = messages_now();
        try {
            cosposm(v, 0, j, 2, cols, work.data(), m.rowBuf.data());
        } catch (const velix::platform::StepExit& e) {
            const auto numbers = messages_since(mark);
            *message = numbers.empty() ? 0 : numbers.back();
            return e.code;
        }
        return -1;
    };
    int32_t message = 0;
    EXPECT_EQ(code(general, 2, &message), kLevelInternal);
    EXPECT_EQ(message, 137);
    // A PERMUTATION matrix has no product rule: 352/66 as an error.
    EXPECT_EQ(code(perm, 2, &message), kLevelInternal);
    EXPECT_EQ(message, 66);
    const auto& last = velix::platform::current_step().messages.back();
    EXPECT_EQ(last.severity, "ERROR");
    EXPECT_EQ(last.text.rfind("ERROR: internal error: matrix", 0), 0u) << last.text;
    velix::platform::end_step();
}

}  // namespace
}  // namespace velix::testing

namespace velix::testing {
namespace {

// The RAM model's path matrix kept as a sparse inverse of I - A: the same
// F, gradient and cross product as the dense inverse at a random point, its
// rows those of the dense inverse, and a singular pivot falls back to the
// dense inverse for good (message 61).
TEST(SparseInverse, MatchesTheDenseInverse) {
    EvalStep s(ram_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const int32_t q = s.q();
    std::vector<double> g(q), h(q * (q + 1) / 2);
    s.nlp.work.gradient = g.data();
    s.nlp.hess.hessian = h.data();
    s.perturb(3, 0.2);
    auto evaluate = [&] {
        std::vector<double> out{s.objective()};
        EXPECT_EQ(coscrpj(&s.nlp), 0);
        out.insert(out.end(), g.begin(), g.end());
        out.insert(out.end(), h.begin(), h.end());
        return out;
    };
    const std::vector<double> dense = evaluate();
    const int32_t a = 2;  // the path matrix A of J (I - A)^-1 P (I - A)^-1' J'
    const double* inverse = velix::detail::stored_inverse(eval_view(&s.ctx), a);
    const int32_t m = s.ctx.model.rows[a];
    const std::vector<double> denseInverse(inverse, inverse + m * m);
    const EvalView v = eval_view(&s.ctx);
    cosimsp(&v);
    ASSERT_EQ(s.ctx.eval.sparseInv.matrix, a);
    const std::vector<double> sparse = evaluate();
    for (size_t i = 0; i < dense.size(); ++i)
        EXPECT_NEAR(sparse[i], dense[i], 1e-12 * (1.0 + std::fabs(dense[i]))) << "value " << i;
    std::vector<double> row(m);
    for (int32_t r = 0; r < m; ++r) {
        getarow(&v, a, r, row.data());
        for (int32_t c = 0; c < m; ++c) EXPECT_NEAR(row[c], denseInverse[r * m + c], 1e-14) << r << "," << c;
    }
    // A zero pivot: the unit diagonal (0, 0) made a fill-in position.
    const size_t mark = messages_now();
    EXPECT_EQ(cosinsp(&v, a), 0);
    s.ctx.eval.sparseInv.source[0] = 0;
    EXPECT_EQ(cosinsp(&v, a), 1);
    std::fill(s.ctx.eval.invDone, s.ctx.eval.invDone + s.ctx.sizes.nMatrices + 1, int16_t{0});
    EXPECT_EQ(cosimat(&v, 0, 0), 0);
    EXPECT_EQ(s.ctx.eval.sparseInv.matrix, 0);
    EXPECT_EQ(messages_since(mark), std::vector<int32_t>{61});
}

}  // namespace
}  // namespace velix::testing
