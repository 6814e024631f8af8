// A sparse symmetric test matrix with its SparseLLt storage and the
// pattern of its factor under a permutation (the symbolic fill).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "numerics/sparse_llt.h"
#include "velix/nlp.h"
#include "velix/packed_index.h"

namespace velix::test {

// A sparse symmetric matrix given by its dense lower triangle, with the
// SparseLLt storage of A and of its factor's pattern under perm (the
// symbolic fill of P A P').
struct SparseSystem {
    int32_t n;
    std::vector<double> dense;  // PackedSym
    std::vector<int32_t> perm, ijaA, ijaL;
    std::vector<double> saA, saL;

    SparseSystem(int32_t order, const std::vector<double>& packed, std::vector<int32_t> permutation)
        : n(order), dense(packed), perm(std::move(permutation)) {
        std::vector<int32_t> ia, ja;
        std::vector<double> va;
        std::vector<std::vector<char>> fill(n, std::vector<char>(n, 0));
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j) {
                if (dense[pk(i, j)] == 0.0 && i != j) continue;
                ia.push_back(i);
                ja.push_back(j);
                va.push_back(dense[pk(i, j)]);
                fill[std::max(perm[i], perm[j])][std::min(perm[i], perm[j])] = 1;
            }
        build(0, ia, ja, va, &ijaA, &saA);
        ia.clear();
        ja.clear();
        for (int32_t k = 0; k < n; ++k)
            for (int32_t i = k + 1; i < n; ++i)
                for (int32_t j = k + 1; j < i && fill[i][k]; ++j)
                    if (fill[j][k]) fill[i][j] = 1;
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j <= i; ++j)
                if (fill[i][j] || i == j) {
                    ia.push_back(i);
                    ja.push_back(j);
                }
        build(1, ia, ja, std::vector<double>(ia.size(), 0.0), &ijaL, &saL);
    }
    void build(int32_t factor, const std::vector<int32_t>& ia, const std::vector<int32_t>& ja,
               const std::vector<double>& va, std::vector<int32_t>* ija, std::vector<double>* sa) const {
        const size_t len = ia.size() + 1;  // n + 1 + the off-diagonal entries
        ija->assign(len, 0);
        sa->assign(len, 0.0);
        ASSERT_EQ(zslltco(factor ? 0 : 2, n, static_cast<int32_t>(ia.size()), ia.data(), ja.data(), va.data(),
                          ija->data(), sa->data()),
                  0);
    }
    void install(NlpProblem* p) {
        p->opt.hessianStorage = 1;
        p->hess.hessianPattern = ijaA.data();
        p->hess.hessianFactorPattern = ijaL.data();
        p->hess.hessianPerm = perm.data();
    }
    std::vector<double> times(const std::vector<double>& x) const {
        std::vector<double> y(n, 0.0);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t j = 0; j < n; ++j) y[i] += dense[pk(std::max(i, j), std::min(i, j))] * x[j];
        return y;
    }
};

}  // namespace velix::test
