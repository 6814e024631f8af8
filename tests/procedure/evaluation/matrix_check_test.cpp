// The definiteness check of the central matrices: counts 100 a + min(b, 99)
// of negative (a) and negligible (b) pivots against matrices whose
// eigenvalues are known, and the notes naming a matrix that is not
// positive definite.
#include <gtest/gtest.h>

#include "evaluation_fixture.h"
#include "procedure/evaluation/matrix_check.h"

namespace velix::testing {
namespace {

// One term F P F' with a central matrix of the given order and type whose
// diagonal elements are free.
std::string central_program(int32_t order, const char* type) {
    return "proc velix data=hs method=ml covariance;\ncosan F(" + std::to_string(order) +
           ", GEN) * P(" + std::to_string(order) + ", " + type +
           ");\nmatrix F [1, 1] = 1.0, [2, 2] = 1.0;\nmatrix P [1, 1] = p1-p" +
           std::to_string(order) + ";\nrun;\n";
}

// Sets element (r, c) of matrix k (0-based; every element when r < 0).
void set_element(EvalStep& s, int32_t k, int32_t r, int32_t c, double value) {
    const ModelMatrixTable& mt = s.ctx.model;
    for (int32_t e = mt.firstElement[k]; e < mt.firstElement[k] + mt.elementCount[k]; ++e)
        if (r < 0 || (s.ctx.elements.row[e] == r && s.ctx.elements.column[e] == c))
            s.ctx.elements.value[e] = value;
}

// The count of the first term and the texts of the messages it logged.
std::pair<int32_t, std::string> checked(EvalStep& s, int32_t print = 1) {
    EvalView v = eval_view(&s.ctx);
    v.printEnabled = print;
    const size_t mark = messages_now();
    EXPECT_EQ(coscmat(&v), 0);
    std::string texts;
    const auto& all = velix::platform::current_step().messages;
    for (size_t k = mark; k < all.size(); ++k) texts += all[k].text + "\n";
    return {s.ctx.model.termDefiniteness[0], texts};
}

TEST(MatrixCheck, CountsNegativeAndNegligiblePivots) {
    EvalStep diag(central_program(2, "DIA"), kMethodMl);
    ASSERT_TRUE(diag.ready) << diag.log.str();
    set_element(diag, 2, 0, 0, -0.5);
    set_element(diag, 2, 1, 1, 0.0);
    const auto [count, texts] = checked(diag);
    EXPECT_EQ(count, 101);
    EXPECT_NE(texts.find("Matrix P has negative and negligible pivots"), std::string::npos) << texts;

    // Eigenvalues 1.3 and 0.7: positive definite, nothing written.
    EvalStep sym("proc velix data=hs method=ml covariance;\ncosan F(2, GEN) * P(2, SYM);\n"
                 "matrix F [1, 1] = 1.0, [2, 2] = 1.0;\nmatrix P [1, 1] = p1 p2, [2, 1] = p12;\nrun;\n",
                 kMethodMl);
    ASSERT_TRUE(sym.ready) << sym.log.str();
    set_element(sym, 2, 0, 0, 1.0);
    set_element(sym, 2, 1, 1, 1.0);
    set_element(sym, 2, 1, 0, 0.3);
    EXPECT_EQ(checked(sym), std::make_pair(0, std::string()));
    // Eigenvalues 1.5 and -0.5: one negative pivot; without printing the
    // count stays and the note goes.
    set_element(sym, 2, 0, 0, 0.5);
    set_element(sym, 2, 1, 1, 0.5);
    set_element(sym, 2, 1, 0, 1.0);
    EXPECT_EQ(checked(sym, 0), std::make_pair(100, std::string()));

    // 120 zero variances: the negligible count is capped at 99.
    EvalStep wide(central_program(120, "DIA"), kMethodMl);
    ASSERT_TRUE(wide.ready) << wide.log.str();
    set_element(wide, 2, -1, -1, 0.0);
    EXPECT_EQ(checked(wide).first, 99);
}

TEST(MatrixCheck, ANegativeErrorVarianceNamesPhi) {
    EvalStep s(lineqs_program("ml"), kMethodMl);
    ASSERT_TRUE(s.ready) << s.log.str();
    const size_t ve1 = parameter_index(s, "ve1");
    const ModelMatrixTable& mt = s.ctx.model;
    const int32_t phi = mt.termTable[1] - 1;
    for (int32_t e = mt.firstElement[phi]; e < mt.firstElement[phi] + mt.elementCount[phi]; ++e)
        if (s.ctx.elements.parameter[e] == static_cast<int32_t>(ve1) + 1) s.ctx.elements.value[e] = -2.0;
    const auto [count, texts] = checked(s);
    EXPECT_EQ(count, 100);
    EXPECT_NE(texts.find("Matrix _PHI_ has negative pivots"), std::string::npos) << texts;
}

}  // namespace
}  // namespace velix::testing
